#!/usr/bin/python3
"""A real remote-control client (pyvisa over a raw TCP socket) against
`rfgen serve` running inside the testbed with a simulated instrument."""
import os
import random
import re
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
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

    def server_pid(self):
        """The rfgen serve process the testbed started (by its unique port)."""
        tail = ["serve", "--port", str(self.port)]
        for entry in os.listdir("/proc"):
            try:
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    args = f.read().decode(errors="replace").split("\0")[:-1]
            except OSError:
                continue
            if args[-3:] == tail and os.path.basename(args[0]) == "rfgen":
                return int(entry)
        raise RuntimeError(f"no rfgen serve on port {self.port}")

    def close(self):
        """Stops the server; returns its exit status."""
        self.inst.close()
        self.rm.close()
        self.process.send_signal(signal.SIGTERM)
        status = self.process.wait(timeout=10)
        self.process.stdout.close()
        return status


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


class RawClients:
    """Plain socket clients of `self.served`."""

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

    @classmethod
    def asked(cls, s, line):
        """The reply, or None when the server closed this client at once."""
        try:
            return cls.ask(s, line)
        except ConnectionResetError:
            return None

    def answering_client(self):
        """A client the server kept; clients of earlier tests may still be
        leaving, so a refused one is tried again."""
        for _ in range(50):
            c = self.raw()
            if self.asked(c, b"*OPC?") == b"1":
                return c
            c.close()
            time.sleep(0.05)
        self.fail("the server refused every client")

    def kept_client(self):
        """A client the server kept, before it sent anything (a refused one is
        closed at once, seen here as end of stream or a reset)."""
        for _ in range(50):
            c = self.raw()
            if not select.select([c], [], [], 0.2)[0]:
                return c
            try:
                self.assertEqual(c.recv(1), b"", "the server sent to a client that asked nothing")
            except ConnectionResetError:
                pass
            c.close()
            time.sleep(0.05)
        self.fail("the server refused every client")


class LimitsTest(RawClients, unittest.TestCase):
    """What a misbehaving client cannot do to the server."""

    @classmethod
    def setUpClass(cls):
        cls.served = Served("orvex")

    @classmethod
    def tearDownClass(cls):
        cls.served.close()

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
        with self.kept_client() as s:
            s.sendall(b"FREQ " + b"1" * 5000 + b"\n")
            self.assertEqual(self.ask(s, b"SYST:ERR?"), b'-223,"Too much data"')
            s.sendall(b"FREQ\x00\xff 1\n")
            self.assertEqual(self.ask(s, b"SYST:ERR?"), b'-100,"Command error"')
            self.assertEqual(self.ask(s, b"*OPC?"), b"1")

    def test_error_queue_is_bounded(self):
        with self.kept_client() as s:
            s.sendall(b"BOGUS\n" * 40)
            replies = [self.ask(s, b"SYST:ERR?") for _ in range(17)]
            self.assertEqual(replies[:15], [b'-113,"Undefined header"'] * 15)
            self.assertEqual(replies[15], b'-350,"Queue overflow"')
            self.assertEqual(replies[16], b'0,"No error"')

    def test_queues_are_per_client(self):
        with self.kept_client() as a, self.kept_client() as b:
            a.sendall(b"BOGUS\n")
            self.assertEqual(self.ask(b, b"SYST:ERR?"), b'0,"No error"')
            self.assertEqual(self.ask(a, b"SYST:ERR?"), b'-113,"Undefined header"')


class AbuseTest(RawClients, unittest.TestCase):
    """Clients that flood, babble, idle or vanish: the server keeps serving
    everyone else and does not grow. Every loop is bounded in count and time."""

    SEED = 20261206
    ERROR_REPLY = re.compile(rb'-?\d+,"[^"]*"')
    QUEUE_CAPACITY = 16

    @classmethod
    def setUpClass(cls):
        cls.served = Served("orvex")  # its pyvisa session is one of the 4 clients

    @classmethod
    def tearDownClass(cls):
        # A clean exit after all of it: no crash, and in the sanitizer build no leak.
        status = cls.served.close()
        if status != 0:
            raise AssertionError(f"rfgen serve exited with {status}")

    def assert_served(self):
        """The pyvisa session and a new plain client are both answered."""
        self.assertEqual(self.served.inst.query("*OPC?"), "1")
        with self.answering_client() as c:
            self.assertTrue(self.ask(c, b"*IDN?").startswith(b"ORVEX,"))

    def drain_errors(self, s):
        codes = []
        for _ in range(self.QUEUE_CAPACITY + 2):
            reply = self.ask(s, b"SYST:ERR?")
            self.assertRegex(reply, self.ERROR_REPLY)
            codes.append(int(reply.split(b",")[0]))
            if codes[-1] == 0:
                return codes
        self.fail(f"the error queue did not empty: {codes}")

    def read_until_prefix(self, s, prefix, deadline_s=60):
        """Reads reply lines until one starts with `prefix`; returns those before it."""
        deadline = time.monotonic() + deadline_s
        data = b""
        while time.monotonic() < deadline:
            lines = data.split(b"\n")
            for i, line in enumerate(lines[:-1]):
                if line.startswith(prefix):
                    return lines[:i]
            chunk = s.recv(65536)
            self.assertTrue(chunk, "the server closed the connection")
            data += chunk
        self.fail(f"no reply starting with {prefix!r} within {deadline_s} s")

    def wait_for_frequency(self, hz, deadline_s=5):
        deadline = time.monotonic() + deadline_s
        while float(self.served.inst.query("FREQ?")) != hz and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(float(self.served.inst.query("FREQ?")), hz)

    def test_megabyte_line_without_lf(self):
        with self.kept_client() as flood:
            chunk = b"FREQ " + b"7" * (64 * 1024 - 5)
            for _ in range(16):  # 1 MiB, no LF yet
                flood.sendall(chunk)
            # Still open, still reading, and others are served meanwhile.
            self.assert_served()
            flood.sendall(b"\n")
            self.assertEqual(self.ask(flood, b"SYST:ERR?"), b'-223,"Too much data"')
            self.assertEqual(self.ask(flood, b"SYST:ERR?"), b'0,"No error"')
            self.assertEqual(self.ask(flood, b"*OPC?"), b"1")
        self.assertEqual(self.served.inst.query("SYST:ERR?"), '0,"No error"')

    def test_random_bytes_without_lf(self):
        rng = random.Random(self.SEED)
        noise = bytes(rng.choice([b for b in range(256) if b != 0x0A]) for _ in range(64 * 1024))
        self.assertIn(b"\x00", noise)
        with self.kept_client() as s:
            s.sendall(noise + b"\n")
            self.assertEqual(self.drain_errors(s), [-223, 0])
            self.assertEqual(self.ask(s, b"*OPC?"), b"1")
        self.assert_served()

    def test_random_bytes_with_lf(self):
        rng = random.Random(self.SEED + 1)
        noise = rng.randbytes(64 * 1024)
        self.assertGreater(noise.count(b"\n"), 100)
        with self.kept_client() as s:
            s.sendall(noise + b"\n*CLS;*IDN?\n")
            # A noise line that holds a '?' may still get an (empty) reply line.
            replies = self.read_until_prefix(s, b"ORVEX,")
            self.assertEqual(set(replies) - {b""}, set())
            self.assertEqual(self.drain_errors(s), [0])
        self.assert_served()

    def test_random_command_fragments(self):
        """Printable noise made of pieces of real commands reaches the engine."""
        rng = random.Random(self.SEED + 2)
        pieces = [b"FREQ", b"VOLT", b"POW", b"ATT", b"OUTP", b"FM:", b"STAT", b"LEV:MODE",
                  b"SYST:ERR", b"*IDN", b"*OPC", b"*CLS", b"?", b";", b":", b" ", b"ON", b"OFF",
                  b"1e6", b"-", b".", b"e", b"0", b"9", b"\t", b"AMPL", b"HOP", b"\x7f"]
        lines = [b"".join(rng.choice(pieces) for _ in range(rng.randrange(1, 24)))
                 for _ in range(3000)]
        with self.kept_client() as s:
            s.sendall(b"\n".join(lines) + b"\n*CLS;*IDN?\n")
            replies = self.read_until_prefix(s, b"ORVEX,")
            self.assertGreater(len(replies), 0)
            for reply in replies:
                self.assertTrue(all(0x20 <= b <= 0x7E for b in reply), reply)
            self.assertEqual(self.drain_errors(s), [0])
        self.assert_served()

    def test_kept_clients_still_count(self):
        # pyvisa session + 2 clients that never send + 1 answered = 4.
        idle = [self.kept_client(), self.kept_client()]
        try:
            with self.answering_client() as fourth:
                self.assertEqual(self.served.inst.query("*OPC?"), "1")
                with self.raw() as fifth:
                    self.assertEqual(fifth.recv(16), b"")
                self.assertEqual(self.ask(fourth, b"*OPC?"), b"1")
            idle.pop().close()
            with self.answering_client() as c, self.answering_client() as d:
                self.assertEqual(self.ask(c, b"*OPC?") + self.ask(d, b"*OPC?"), b"11")
        finally:
            for c in idle:
                c.close()

    def test_disconnect_mid_line(self):
        self.assertEqual(self.served.inst.query("FREQ 100000000;OUTP OFF;*OPC?"), "1")
        with self.kept_client() as s:
            # A whole line before hanging up is carried out, a cut one is not.
            s.sendall(b"FREQ 30000000\nFREQ 4000000")
        with self.kept_client() as s:
            s.sendall(b"OUTP ON;FREQ " + b"5" * 3000)  # cut inside an over-long line
        with self.kept_client() as s:
            s.sendall(b"FREQ 6000000")
            linger_reset(s)  # hang up with a reset instead of a FIN
        self.wait_for_frequency(30e6)
        self.assert_served()  # a few more turns of the server's event loop
        self.assertEqual(float(self.served.inst.query("FREQ?")), 30e6)
        self.assertEqual(self.served.inst.query("OUTP?"), "0")
        # Every one of them left: three new clients fit beside the pyvisa session.
        clients = [self.answering_client() for _ in range(3)]
        for c in clients:
            c.close()

    def test_connect_disconnect_cycles(self):
        pid = self.served.server_pid()
        self.cycle(20)  # warm-up: buffers and allocator pools reach their working size
        before = resident_kib(pid)
        self.cycle(200)
        after = resident_kib(pid)
        self.assert_served()
        if address_sanitized(pid):
            # Freed memory waits in AddressSanitizer's quarantine (up to 256 MiB),
            # so resident memory says nothing there; its leak check at exit
            # does (tearDownClass).
            return
        self.assertLess(after - before, 4 * 1024, f"VmRSS {before} -> {after} KiB")

    def cycle(self, count, deadline_s=60):
        """Connects and leaves `count` times in four ways: asks and reads the
        reply, hangs up mid-line, hangs up at once, resets the connection."""
        deadline = time.monotonic() + deadline_s
        for i in range(count):
            self.assertLess(time.monotonic(), deadline, f"only {i} cycles in {deadline_s} s")
            kind = i % 4
            if kind == 0:
                # Clients that just left may still hold their places for a moment.
                self.answering_client().close()
                continue
            with self.raw() as s:
                if kind == 1:
                    s.sendall(b"FREQ?;OUTP?\nSYST:ERR")
                elif kind == 3:
                    linger_reset(s)


def linger_reset(s):
    """Makes close() send a TCP reset."""
    s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))


def address_sanitized(pid):
    with open(f"/proc/{pid}/maps") as maps:
        return "libasan" in maps.read()


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError(f"no VmRSS for {pid}")


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
    def test_signal_switches_output_off_and_exits_zero(self):
        for signum in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=signum.name):
                self.check_stop_signal(signum)

    def check_stop_signal(self, signum):
        """rfgen serve runs under a shell that keeps the testbed up after it
        exits, so the instrument can be asked whether the output went off."""
        work = tempfile.mkdtemp(prefix="rfgen-serve-")
        self.addCleanup(shutil.rmtree, work, True)
        control, port = os.path.join(work, "ctl"), free_port()
        script = (f"{RFGEN} serve --port {port} & echo $! > {work}/pid; wait $!; "
                  f"echo $? > {work}/status; "
                  f"for i in $(seq 200); do [ -e {work}/release ] && break; sleep 0.05; done")
        process = subprocess.Popen(
            [TESTBED, "--model", "orvex", "--control", control, "--", "sh", "-c", script],
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
                with open(os.path.join(work, "pid")) as pid:
                    os.kill(int(pid.read()), signum)
                status = os.path.join(work, "status")
                deadline = time.monotonic() + 10
                while not os.path.exists(status) and time.monotonic() < deadline:
                    time.sleep(0.05)
                with open(status) as code:
                    self.assertEqual(code.read().strip(), "0")
                ctl.sendall(b"get 0 OUTP?\n")
                self.assertEqual(ctl.recv(64).strip(), b"ok 0")
            open(os.path.join(work, "release"), "w").close()
            self.assertEqual(process.wait(timeout=10), 0)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()

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
