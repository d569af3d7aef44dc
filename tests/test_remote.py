#!/usr/bin/python3
"""A real remote-control client (pyvisa over a raw TCP socket) against
`rfgen serve` running inside the testbed with a simulated instrument."""
import os
import signal
import socket
import subprocess
import sys
import time
import unittest

import pyvisa

BUILD = os.environ.get("RFGEN_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "build"))
RFGEN = os.path.join(BUILD, "devicelib", "rfgen")
TESTBED = os.path.join(BUILD, "sim", "rfgen-testbed")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Served:
    """rfgen serve with one simulated instrument, and a pyvisa session to it."""

    def __init__(self, model):
        self.port = free_port()
        self.process = subprocess.Popen(
            [TESTBED, "--model", model, "--", RFGEN, "serve", "--port", str(self.port)],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline()
        if line.strip() != f"listening on {self.port}":
            self.process.kill()
            raise RuntimeError(f"rfgen serve did not start: {line!r}")
        self.rm = pyvisa.ResourceManager("@py")
        self.inst = self.rm.open_resource(
            f"TCPIP::127.0.0.1::{self.port}::SOCKET",
            read_termination="\n", write_termination="\n", timeout=5000)

    def close(self):
        self.inst.close()
        self.rm.close()
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=10)
        self.process.stdout.close()


class ModelCase:
    model = None
    identity = None
    frequency_limits = None
    volt_max = None
    att_step = None

    @classmethod
    def setUpClass(cls):
        cls.served = Served(cls.model)
        cls.inst = cls.served.inst

    @classmethod
    def tearDownClass(cls):
        cls.served.close()

    def setUp(self):
        self.inst.write("*CLS")

    def error(self):
        return self.inst.query("SYST:ERR?")

    def test_identification(self):
        self.assertTrue(self.inst.query("*IDN?").startswith(self.identity + ","))

    def test_frequency_rounded_to_grid(self):
        # The driver's default grid is 10 kHz.
        base = max(self.frequency_limits[0], 1e6)
        self.inst.write(f"FREQ {base + 4999}")
        self.assertEqual(float(self.inst.query("FREQ?")), base)
        self.inst.write(f"FREQ {base + 5000}")
        self.assertEqual(float(self.inst.query("FREQ?")), base + 10e3)
        self.assertEqual(self.error(), '0,"No error"')

    def test_frequency_out_of_range(self):
        before = self.inst.query("FREQ?")
        self.inst.write(f"FREQ {self.frequency_limits[1] + 10e3}")
        self.assertEqual(self.error(), '-222,"Data out of range"')
        self.assertEqual(self.inst.query("FREQ?"), before)
        self.assertEqual(self.error(), '0,"No error"')

    def test_amplitude_in_volts(self):
        self.inst.write("VOLT 0.2504")
        self.assertAlmostEqual(float(self.inst.query("VOLT?")), 0.25, places=3)
        self.inst.write(f"VOLT {self.volt_max + 0.01}")
        self.assertEqual(self.error(), '-222,"Data out of range"')

    def test_power_in_dbm(self):
        self.inst.write("POW -10")
        self.assertAlmostEqual(float(self.inst.query("POW?")), -10, places=1)
        self.assertAlmostEqual(float(self.inst.query("VOLT?")), 0.1, places=3)

    def test_attenuation_steps(self):
        self.inst.write(f"ATT {10 + self.att_step * 0.4}")
        self.assertAlmostEqual(float(self.inst.query("ATT?")), 10.0)
        self.inst.write("ATT 200")
        self.assertEqual(self.error(), '-222,"Data out of range"')

    def test_output(self):
        self.inst.write("OUTP ON")
        self.assertEqual(self.inst.query("OUTP?"), "1")
        self.inst.write("OUTP OFF")
        self.assertEqual(self.inst.query("OUTP?"), "0")

    def test_sweep_start_stop(self):
        low = self.frequency_limits[0]
        self.inst.write(f"FM:STAR {low};FM:STOP {low + 1e6};FM:STEP 1e5;FM:PER 0.01")
        self.inst.write("FM:STAT ON")
        self.assertEqual(self.error(), '0,"No error"')
        self.assertEqual(self.inst.query("FM:STAT?"), "1")
        self.assertEqual(float(self.inst.query("FM:PER?")), 0.01)
        self.inst.write("FM:STAT OFF")
        self.assertEqual(self.inst.query("FM:STAT?"), "0")
        self.inst.write(f"FM:STAR {low + 1e6};FM:STOP {low};FM:STAT ON")
        self.assertEqual(self.error(), '-221,"Settings conflict"')

    def test_chained_queries(self):
        reply = self.inst.query("*OPC?;OUTP?;LEV:MODE?")
        self.assertEqual(reply, "1;0;AMPL")

    def test_malformed_commands(self):
        self.inst.write("BOGUS 1")
        self.inst.write("FREQ abc")
        self.assertEqual(self.error(), '-113,"Undefined header"')
        self.assertEqual(self.error(), '-100,"Command error"')


class OrvexTest(ModelCase, unittest.TestCase):
    model, identity = "orvex", "ORVEX"
    frequency_limits, volt_max, att_step = (25e6, 6e9), 1.0, 0.5


class PylarTest(ModelCase, unittest.TestCase):
    model, identity = "pylar", "PYLAR"
    frequency_limits, volt_max, att_step = (9e3, 3.2e9), 0.502, 0.5


class QuendtTest(ModelCase, unittest.TestCase):
    model, identity = "quendt", "QUENDT"
    frequency_limits, volt_max, att_step = (100e3, 12.75e9), 2.0, 0.1


class LimitsTest(unittest.TestCase):
    """What a misbehaving client cannot do to the server."""

    @classmethod
    def setUpClass(cls):
        cls.served = Served("orvex")

    @classmethod
    def tearDownClass(cls):
        cls.served.close()

    def raw(self):
        s = socket.create_connection(("127.0.0.1", self.served.port), timeout=5)
        s.settimeout(5)
        return s

    @staticmethod
    def ask(s, line):
        s.sendall(line + b"\n")
        data = b""
        while not data.endswith(b"\n"):
            chunk = s.recv(4096)
            if not chunk:
                break
            data += chunk
        return data.rstrip(b"\n")

    def answering_client(self):
        """A client the server kept; clients of earlier tests may still be
        leaving, so a refused one is tried again."""
        for _ in range(50):
            c = self.raw()
            if self.ask(c, b"*OPC?") == b"1":
                return c
            c.close()
            time.sleep(0.05)
        self.fail("the server refused every client")

    def test_fifth_client_is_closed(self):
        clients = [self.answering_client() for _ in range(3)]  # plus the pyvisa session
        try:
            fifth = self.raw()
            self.assertEqual(fifth.recv(16), b"")
            fifth.close()
        finally:
            for c in clients:
                c.close()

    def test_long_line_and_binary(self):
        with self.raw() as s:
            s.sendall(b"FREQ " + b"1" * 5000 + b"\n")
            self.assertEqual(self.ask(s, b"SYST:ERR?"), b'-223,"Too much data"')
            s.sendall(b"FREQ\x00\xff 1\n")
            self.assertEqual(self.ask(s, b"SYST:ERR?"), b'-100,"Command error"')
            self.assertEqual(self.ask(s, b"*OPC?"), b"1")

    def test_error_queue_is_bounded(self):
        with self.raw() as s:
            s.sendall(b"BOGUS\n" * 40)
            replies = [self.ask(s, b"SYST:ERR?") for _ in range(17)]
            self.assertEqual(replies[:15], [b'-113,"Undefined header"'] * 15)
            self.assertEqual(replies[15], b'-350,"Queue overflow"')
            self.assertEqual(replies[16], b'0,"No error"')

    def test_queues_are_per_client(self):
        with self.raw() as a, self.raw() as b:
            a.sendall(b"BOGUS\n")
            self.assertEqual(self.ask(b, b"SYST:ERR?"), b'0,"No error"')
            self.assertEqual(self.ask(a, b"SYST:ERR?"), b'-113,"Undefined header"')


class SendTest(unittest.TestCase):
    def run_send(self, *commands):
        return subprocess.run([TESTBED, "--model", "pylar", "--", RFGEN, "send", *commands],
                              capture_output=True, text=True, timeout=30)

    def test_replies_and_exit_status(self):
        done = self.run_send("FREQ 12.5e6;FREQ?", "*IDN?")
        self.assertEqual(done.returncode, 0, done.stderr)
        lines = done.stdout.splitlines()
        self.assertEqual(lines[0], "12500000")
        self.assertTrue(lines[1].startswith("PYLAR,"))

    def test_device_by_name_or_path(self):
        # The instrument is the first of the testbed's ports, a silent one beside it.
        for option in ("--device $p", "--device /dev/$p", "--device=$p"):
            script = f"p=${{RFGEN_TESTBED_PORTS%% *}}; {RFGEN} send {option} '*IDN?'"
            done = subprocess.run(
                [TESTBED, "--model", "quendt", "--silent", "1", "--", "sh", "-c", script],
                capture_output=True, text=True, timeout=30)
            self.assertEqual(done.returncode, 0, (option, done.stderr))
            self.assertTrue(done.stdout.startswith("QUENDT,"), option)

    def test_error_exits_one(self):
        done = self.run_send("FREQ 1e12")
        self.assertEqual(done.returncode, 1)
        self.assertIn('-222,"Data out of range"', done.stderr)

    def test_no_instrument_exits_two(self):
        done = subprocess.run([TESTBED, "--silent", "1", "--", RFGEN, "send", "*IDN?"],
                              capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 2)

    def test_usage_errors_exit_two(self):
        for args in (["bogus"], ["serve", "--port", "0"], ["serve", "--port=70000"], ["send"],
                     ["list", "--device"], ["send", "-x", "*IDN?"], ["serve", "extra"]):
            done = subprocess.run([RFGEN, *args], capture_output=True, text=True, timeout=10)
            self.assertEqual(done.returncode, 2, args)
            self.assertIn("Usage:", done.stderr)
        self.assertEqual(subprocess.run([RFGEN, "--version"], capture_output=True,
                                        text=True).stdout.strip(), "rfgen 2.1.1")


class ServeLifecycleTest(unittest.TestCase):
    def test_sigterm_switches_output_off_and_exits_zero(self):
        control = f"/tmp/rfgen-ctl-{os.getpid()}"
        port = free_port()
        process = subprocess.Popen(
            [TESTBED, "--model", "orvex", "--control", control, "--",
             RFGEN, "serve", "--port", str(port)],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(process.stdout.close)
        try:
            self.assertEqual(process.stdout.readline().strip(), f"listening on {port}")
            with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
                s.sendall(b"OUTP ON;*OPC?\n")
                self.assertEqual(s.recv(16), b"1\n")
            with socket.socket(socket.AF_UNIX) as ctl:
                ctl.connect(control)
                ctl.sendall(b"get 0 OUTP?\n")
                self.assertEqual(ctl.recv(64).strip(), b"ok 1")
                # The testbed passes the signal on to rfgen serve.
                process.send_signal(signal.SIGTERM)
                self.assertEqual(process.wait(timeout=10), 0)
        finally:
            if process.poll() is None:
                process.kill()

    def test_reconnects_after_link_loss(self):
        control = f"/tmp/rfgen-ctl-r{os.getpid()}"
        port = free_port()
        process = subprocess.Popen(
            [TESTBED, "--model", "quendt", "--control", control, "--",
             RFGEN, "serve", "--port", str(port)],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(process.stdout.close)
        try:
            self.assertEqual(process.stdout.readline().strip(), f"listening on {port}")
            with socket.socket(socket.AF_UNIX) as ctl, \
                    socket.create_connection(("127.0.0.1", port), timeout=5) as client:
                ctl.connect(control)
                self.assertEqual(LimitsTest.ask(client, b"*IDN?")[:7], b"QUENDT,")
                ctl.sendall(b"unplug 0\n")
                self.assertEqual(ctl.recv(64).strip(), b"ok")
                time.sleep(0.3)
                        # The failed query still has its (empty) field.
                self.assertEqual(LimitsTest.ask(client, b"FREQ?;SYST:ERR?"),
                                 b';-241,"Hardware missing"')
                ctl.sendall(b"replug 0\n")
                self.assertTrue(ctl.recv(64).startswith(b"ok"))
                deadline = time.monotonic() + 5
                reply = b""
                while time.monotonic() < deadline and not reply.startswith(b"QUENDT,"):
                    time.sleep(0.2)
                    reply = LimitsTest.ask(client, b"*IDN?")
                self.assertTrue(reply.startswith(b"QUENDT,"), reply)
        finally:
            process.terminate()
            process.wait(timeout=10)


if __name__ == "__main__":
    unittest.main(verbosity=2)
