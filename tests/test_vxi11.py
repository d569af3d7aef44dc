#!/usr/bin/python3
"""VXI-11 clients from Debian (pyvisa-py, lxi-tools, tshark) against `rfgen serve --vxi11`.
Runs inside tests/netns.sh: its own network, /run and rpcbind."""
import os, pathlib, signal, socket, struct, subprocess, sys, tempfile, threading, unittest
from concurrent.futures import ThreadPoolExecutor
import pyvisa
from pyvisa_py.protocols import vxi11
sys.path.insert(0, os.path.dirname(__file__))
from test_remote import Served, ask, raw, until

CORE = 0x0607AF
RESOURCE = "TCPIP::{}::inst{}::INSTR"
LOCKED = pyvisa.constants.StatusCode.error_resource_locked
WAITLOCK = 1

def instr(n=0, host="127.0.0.1"):
    return pyvisa.ResourceManager("@py").open_resource(RESOURCE.format(host, n), timeout=5000)

def takes_lock(resource):
    try:
        return resource.lock_excl() or True
    except pyvisa.VisaIOError as refused:
        assert refused.error_code == LOCKED, refused
        return False

def rpcbind():
    process = subprocess.Popen(["rpcbind", "-f"])
    until(lambda: subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True).returncode == 0,
          "rpcbind")
    return process

def registered_port():  # the VXI-11 core channel's, 0 when none
    table = subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True, text=True).stdout
    return next((int(l.split()[3]) for l in table.splitlines()[1:] if int(l.split()[0]) == CORE), 0)

def rpc_reply(port, *calls):
    """Each call's reply as 32-bit words after its xid, from one connection. A call
    is (rpc version, program, version, procedure, fragments of the arguments);
    each fragment goes in a record-marking fragment of its own."""
    words = []
    with socket.create_connection(("127.0.0.1", port), 10) as c:
        for xid, (rpcvers, program, version, procedure, *fragments) in enumerate(calls):
            header = struct.pack(">6I4I", xid, 0, rpcvers, program, version, procedure, 0, 0, 0, 0)
            parts = [header, *fragments]
            c.sendall(b"".join(struct.pack(">I", len(p) | (i == len(parts) - 1) << 31) + p
                               for i, p in enumerate(parts)))
            length = struct.unpack(">I", c.recv(4, socket.MSG_WAITALL))[0] & 0x7FFFFFFF
            reply = struct.unpack(f">{length // 4}I", c.recv(length, socket.MSG_WAITALL))
            assert reply[:2] == (xid, 1), reply
            words.append(reply[2:])
    return words

class Capture:
    """Every packet on lo into a pcap, for tshark to read (its own capture starts late)."""
    def __init__(self, path):
        self.path, self.packets, self.running = path, [], True
        self.sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(3))
        self.sock.bind(("lo", 0))
        self.sock.settimeout(0.2)
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()
    def run(self):
        while self.running:
            try:
                data, address = self.sock.recvfrom(65535)
            except socket.timeout:
                continue
            if address[2] != socket.PACKET_OUTGOING:  # lo shows each packet twice
                self.packets.append(data)
    def save(self):
        self.running = False
        self.thread.join()
        self.sock.close()
        with open(self.path, "wb") as f:
            f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
            for p in self.packets:
                f.write(struct.pack("<IIII", 0, 0, len(p), len(p)) + p)

class Vxi11Test(unittest.TestCase):
    def setUp(self):
        self.rpcbind = rpcbind()
        self.addCleanup(lambda: (self.rpcbind.kill(), self.rpcbind.wait()))

    def test_one_bridge(self):
        capture = Capture(tempfile.mktemp(suffix=".pcap"))
        self.addCleanup(lambda: os.path.exists(capture.path) and os.unlink(capture.path))
        served = Served(self, "orvex", serve="--vxi11 --bind 127.0.0.1")
        self.assertRegex(served.line("listening on"), r"^listening on \d+ TCPIP::127.0.0.1::inst0::INSTR$")
        self.assertRaises(ConnectionRefusedError, socket.create_connection,
                          ("10.77.0.1", registered_port()))  # --bind holds for VXI-11 too
        first, second = instr(), instr()
        self.assertEqual(first.query("*IDN?")[:6], "ORVEX,")
        long_write = "".join(f"FREQ {1000000 + k}\n" for k in range(100)) + "FREQ 2.5e8;FREQ?"
        self.assertGreater(len(long_write), 1024)  # comes in pieces of the link's maximum
        self.assertEqual(first.query(long_write).strip(), "250000000")
        first.chunk_size = 7  # a reply longer than the read's request size
        self.assertEqual(first.query("*IDN?;FREQ?").strip().split(";")[1], "250000000")
        first.chunk_size = 20 * 1024
        first.write("*CLS;FREQ 1e12")
        self.assertEqual(first.read_stb() & 4, 4)  # an error waits in this link's queue
        self.assertEqual(second.read_stb() & 4, 0)  # not in the other's
        self.assertEqual(first.query("SYST:ERR?").strip(), '-222,"Data out of range"')
        first.write("*IDN?")
        self.assertEqual(first.read_stb() & 16, 16)  # a reply waits
        first.clear()  # and is forgotten
        self.assertEqual((first.read_stb(), first.query("FREQ?").strip()), (0, "250000000"))
        plain = vxi11.CoreClient("127.0.0.1")
        link = plain.create_link(0, 0, 0, "inst0")[1]
        plain.device_write(link, 1000, 0, 8, b"FREQ?;FREQ?\n")
        read = lambda size, flags=0, term=0: plain.device_read(link, size, 1000, 0, flags, term)
        self.assertEqual([read(4)[1:], read(99, 128, ord(";"))[1:], read(99, 128, 10)[1:], read(99)[0]],
                         [(1, b"2500"), (2, b"00000;"), (6, b"250000000\n"), 15])  # REQCNT, CHR, END
        plain.close()
        exclusive = vxi11.CoreClient("127.0.0.1")
        held_link = exclusive.create_link(0, True, 0, "inst0")[1]  # with lock_device
        self.assertFalse(takes_lock(first))
        exclusive.destroy_link(held_link)  # gives the lock back
        exclusive.close()
        self.assertEqual([takes_lock(first), takes_lock(first), takes_lock(second)], [True, True, False])
        self.assertRaises(pyvisa.VisaIOError, second.write, "FREQ 3e8")  # locked: not carried out
        waiter = vxi11.CoreClient("127.0.0.1")
        _, link, abort_port, _ = waiter.create_link(0, 0, 0, "inst0")
        self.assertEqual(rpc_reply(abort_port, *((2, CORE + 1, 1, 1, struct.pack(">I", lid))
                                                 for lid in (link, 999))),
                         [(0, 0, 0, 0, 0), (0, 0, 0, 0, 4)])  # device_abort on the announced port
        self.assertEqual(rpc_reply(registered_port(), (2, CORE, 1, 11, struct.pack(">4II8s", link, 0,
                                   0, 8, 6, b"*IDN?\n"))), [(0, 0, 0, 0, 4, 0)])  # not its link
        self.assertEqual(waiter.device_lock(link, WAITLOCK, 100), 11)  # waited, still locked
        waited = ThreadPoolExecutor().submit(waiter.device_lock, link, WAITLOCK, 60000)
        first.unlock()
        self.assertEqual(waited.result(), 0)  # waited, then got it
        self.assertEqual([waiter.device_unlock(link), waiter.device_unlock(link)], [0, 12])
        self.assertTrue(takes_lock(second))
        with raw(served.port) as client:  # the raw socket's lock is the same lock
            self.assertEqual(ask(client, b"SYST:LOCK:REQ?;FREQ 4e8;SYST:ERR?"),
                             b'0;-203,"Command protected"')
            second.unlock()
            self.assertEqual(ask(client, b"SYST:LOCK:REQ?"), b"1")
            self.assertFalse(takes_lock(first))
        until(lambda: takes_lock(first), "the lock freed when the raw client left")
        first.unlock()
        held = subprocess.Popen([sys.executable, "-c", "import pyvisa\n"
            f"i = pyvisa.ResourceManager('@py').open_resource('{RESOURCE.format('127.0.0.1', 0)}')\n"
            "i.lock_excl(); print('held', flush=True); input()"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.assertEqual(held.stdout.readline(), "held\n")
        self.assertFalse(takes_lock(second))
        held.kill()
        held.communicate()
        until(lambda: takes_lock(second), "the lock given back when its holder's process died")
        second.unlock()
        name = struct.pack(">iII", 0, 0, 0), struct.pack(">I5s3x", 5, b"inst0")
        linked, unknown, *refused = rpc_reply(
            registered_port(), (2, CORE, 1, 10, *name), (2, CORE, 1, 10, name[0], name[1].replace(b"inst0", b"inst1")),
            (3, CORE, 1, 0),
                                     (2, CORE, 2, 0), (2, CORE + 1, 1, 0), (2, CORE, 1, 99))
        self.assertEqual(linked[:5] + linked[7:], (0, 0, 0, 0, 0, 1024))  # sent in two fragments
        self.assertEqual(unknown[4], 3)  # inst1: no such instrument here
        self.assertEqual(refused, [(1, 0, 2, 2),  # RPC version 3: denied, only 2
                                   (0, 0, 0, 2, 1, 1),  # program version 2: mismatch, only 1
                                   (0, 0, 0, 1), (0, 0, 0, 3)])  # another program, no such procedure
        lxi = subprocess.run(["lxi", "scpi", "-a", "127.0.0.1", "*IDN?"], capture_output=True,
                             text=True, timeout=30)
        self.assertEqual(lxi.stdout[:6], "ORVEX,")
        for resource in (first, second):
            resource.close()
        waiter.destroy_link(link)
        waiter.close()
        self.assertNotEqual(registered_port(), 0)
        self.assertEqual(served.stop(), (0, "ok 0"))
        self.assertEqual(registered_port(), 0)  # unregistered at exit
        capture.save()
        def decoded(fields):  # packets that match; a filter tshark does not know fails
            shown = subprocess.run(["tshark", "-n", "-r", capture.path, "-Y", fields],
                                   capture_output=True, text=True)
            self.assertEqual(shown.returncode, 0, shown.stderr)
            return shown.stdout.count("\n")
        self.assertEqual(decoded("_ws.malformed || _ws.expert.severity == error"), 0)
        self.assertGreater(decoded("portmap.procedure_v2 == 3"), 0)  # GETPORT
        self.assertGreater(decoded("vxi11_core.procedure_v1 == 12"), 0)  # device_read

    def test_rack(self):
        killed = Served(self, "quendt", serve="--vxi11")  # leaves its registration behind
        killed.line("listening on")
        os.kill(killed.pid, signal.SIGKILL)
        killed.line("exit ")
        killed.process.communicate("\n", timeout=30)
        served = Served(self, "orvex", "pylar", serve="--all --vxi11 --allow 127.0.0.1/32 "
                        "--allow 10.77.0.0/24")
        for k in (0, 1):
            self.assertRegex(served.line(f"listening on {served.port + k} for "),
                             rf"for \S+ (Orvex|Pylar) TCPIP::\S+::inst{k}::INSTR\n$")
        names = {instr(k).query("*IDN?")[:5] for k in (0, 1)}
        self.assertEqual(names, {"ORVEX", "PYLAR"})
        with self.assertRaisesRegex(Exception, "3"):  # device not accessible
            instr(7)
        rack = vxi11.CoreClient("127.0.0.1")
        _, link, abort_port, _ = rack.create_link(0, 0, 0, "inst1")
        self.assertEqual(rpc_reply(abort_port, (2, CORE + 1, 1, 1, struct.pack(">I", link))),
                         [(0, 0, 0, 0, 0)])  # the service's abort channel, for a bridge's link
        rack.close()
        discovered = subprocess.run(["lxi", "discover"], capture_output=True, text=True, timeout=60)
        self.assertIn("on address 10.77.0.1", discovered.stdout)
        with socket.create_connection(("127.0.0.1", registered_port()), 10, ("127.0.0.2", 0)) as c:
            self.assertEqual(c.recv(1), b"")  # outside the allowed networks: closed unread
        self.assertEqual(served.ctl("unplug 0"), "ok")
        until(lambda: served.lines.count("listening on") == 0 and
              "is gone" in pathlib.Path(served.errors).read_text(), "the unplug seen")
        self.assertRaises(Exception, instr, 0)
        self.assertEqual(served.stop()[0], 0)
        self.assertEqual(registered_port(), 0)  # unregistered at exit

    def test_without_portmapper(self):
        self.rpcbind.kill()
        self.rpcbind.wait()
        served = Served(self, "orvex", serve="--vxi11")
        self.assertEqual(served.session().query("*IDN?")[:6], "ORVEX,")
        with open(served.errors) as said:
            self.assertEqual(said.read().count("no portmapper is running"), 1)
        self.assertEqual(served.stop(), (0, "ok 0"))

if __name__ == "__main__":
    unittest.main(verbosity=2)
