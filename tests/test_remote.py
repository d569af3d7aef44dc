#!/usr/bin/python3
"""pyvisa and raw-socket clients against `rfgen serve` with a simulated instrument."""
import os, random, shutil, signal, socket, struct, subprocess, tempfile, threading, time, unittest
import pathlib, pyvisa

BUILD = os.environ.get("RFGEN_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "build"))
RFGEN, TESTBED = f"{BUILD}/rfgen/rfgen", f"{BUILD}/sim/rfgen-testbed"
RESET_ON_CLOSE = (socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))  # setsockopt

def until(condition, what, deadline_s=20):
    deadline = time.monotonic() + deadline_s
    while not (result := condition()):
        assert time.monotonic() < deadline, f"no {what} within {deadline_s} s"
        time.sleep(0.02)
    return result

def free_tcp_ports(count):
    """The first of `count` free ports in a row, below the ephemeral ones clients get."""
    while True:
        first = random.randrange(20000, 30000)
        try:
            for port in range(first, first + count):
                with socket.socket() as s:
                    s.bind(("", port))
            return first
        except OSError:
            pass

class Served:
    """rfgen serve in the testbed, under a shell that outlives it (for --control)."""
    def __init__(self, test, *models, before="", serve="", silent=0):
        self.port = free_tcp_ports(3)
        test.addCleanup(shutil.rmtree, work := tempfile.mkdtemp(prefix="rfgen-remote-"), True)
        self.control, self.errors, self.lines = f"{work}/ctl", f"{work}/err", []
        self.journal = f"{work}/journal"
        before = before.replace("{control}", self.control)
        script = (f": >{self.errors}; {before}{RFGEN} serve --port {self.port} "
                  f"{serve.format(journal=self.journal, http=self.port + 2)} "
                  f"2>{self.errors} & echo pid $!; wait $!; echo exit $?; read x")
        models = [arg for model in models for arg in ("--model", model)]
        self.process = subprocess.Popen(
            [TESTBED, *models, "--silent", str(silent), "--control", self.control, "--",
             "sh", "-c", script],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        threading.Thread(target=lambda: self.lines.extend(self.process.stdout), daemon=True).start()
        self.pid = int(self.line("pid ").split()[1])
        test.addCleanup(lambda: self.process.poll() is None and self.stop(signal.SIGKILL))
    def line(self, prefix):
        return until(lambda: next((l for l in self.lines if l.startswith(prefix)), None), prefix)
    def session(self, port=None):
        self.line("listening on")
        return pyvisa.ResourceManager("@py").open_resource(
            f"TCPIP::127.0.0.1::{port or self.port}::SOCKET", read_termination="\n",
            write_termination="\n", timeout=5000)
    def ctl(self, command):
        with socket.socket(socket.AF_UNIX) as c:
            c.connect(self.control)
            c.sendall(command.encode() + b"\n")
            return c.recv(256).decode().strip()
    def stop(self, signum=signal.SIGTERM):  # the exit status and each instrument's output
        os.kill(self.pid, signum)
        status = int(self.line("exit ").split()[1])
        outputs = [self.ctl(f"get {i} OUTP?") for i in range(len(self.ctl("list").split()) - 1)]
        outputs = [o for o in outputs if "silent port" not in o]  # only instruments have one
        self.process.communicate("\n", timeout=10)
        return status, *outputs

def raw(port, source="127.0.0.1"):
    return socket.create_connection(("127.0.0.1", port), 10, (source, 0))

def ask(s, line):  # the reply; empty when the server hung up
    try:
        with s.makefile("rb", buffering=0) as replies:
            return s.sendall(line + b"\n") or replies.readline().rstrip(b"\n")
    except ConnectionResetError:
        return b""

def served_clients(port, count=1, leave=0, source="127.0.0.1"):
    """Whether `count` new clients are served; they leave answered/mid-line/at once/reset."""
    clients, answered = [], True
    try:
        for _ in range(count):
            clients.append(raw(port, source))
        for c in clients:
            leave == 1 and c.sendall(b"FREQ?;OUTP?\nSYST:ERR")
            leave == 3 and c.setsockopt(*RESET_ON_CLOSE)
            answered = answered and (leave > 0 or ask(c, b"*OPC?") == b"1")
    except OSError:
        answered = False
    [c.close() for c in clients]
    return answered

class RemoteTest(unittest.TestCase):
    def test_each_model_through_pyvisa(self):
        for model, limits, signum in (("orvex", "25000000;6000000000;1;10", signal.SIGTERM),
                                      ("pylar", "9000;3200000000;0.501187;4", signal.SIGINT),
                                      ("quendt", "100000;12750000000;2;16.02", signal.SIGTERM)):
            with self.subTest(model):
                served = Served(self, model)
                inst = served.session()
                self.assertTrue(inst.query("*IDN?").startswith(model.upper() + ","))
                self.assertEqual(inst.query("FREQ? MIN;FREQ? MAX;VOLT? MAX;POW? MAX"), limits)
                top = float(limits.split(";")[1])
                reply = inst.query("FREQ 100004999;FREQ?;FREQ 100005000;FREQ?")  # 10 kHz grid
                self.assertEqual([float(f) for f in reply.split(";")], [100e6, 100.01e6])
                self.assertEqual(inst.query(f"FREQ {top + 10e3};SYST:ERR?;FREQ?"),
                                 '-222,"Data out of range";100010000')
                self.assertAlmostEqual(float(inst.query("POW -10;VOLT?")), 0.1, 3)  # PYLAR: dBm
                volts, dbm = map(float, inst.query("VOLT 0.2504;VOLT?;POW?").split(";"))
                self.assertEqual((round(volts, 3), round(dbm, 1)), (0.25, -2.0))
                self.assertEqual(inst.query("OUTP ON;SYST:ERR?"), '0,"No error"')
                self.assertEqual(served.ctl("get 0 OUTP?"), "ok 1")
                self.assertEqual(served.stop(signum), (0, "ok 0"))  # output off, then exit

    def test_units_and_bounds(self):
        served = Served(self, "quendt")
        inst = served.session()
        for line, reply in (
                ("FREQ 1.5 MHz;FREQ?;FREQ 0.1GHZ;FREQ?;freq 250 khz;FREQ?",
                 "1500000;100000000;250000"),
                ("VOLT 500 mV;VOLT?;VOLT 2.5e5UV;VOLT?;POW -10 dBm;VOLT?;ATT 12.5 DB;ATT?",
                 "0.5;0.25;0.1;12.5"),
                ("FM:STAR 30 MHz;FM:STOP 40MHZ;FM:STEP 1 MA;FM:PER 20 ms;FM:STAT ON;"
                 "FM:STAR?;FM:STOP?;FM:STEP?;FM:PER?", "30000000;40000000;1000000;0.02"),
                ("FM:STAT OFF;FREQ MAX;FREQ?;VOLT min;VOLT?;ATT DEF;ATT?;FREQ DEF;FREQ?",
                 "12750000000;0.001;0;100000000"),
                ("FM:PER? MIN;FM:PER? MAX;FM:STEP? MIN;POW? DEF;FM:STAR? DEF",
                 "0.001;1000;10000;-10;0"),
                ("FREQ 5 V;SYST:ERR?;VOLT 1 KHZ;SYST:ERR?;FREQ 5 M;SYST:ERR?;*RST 5;SYST:ERR?",
                 '-131,"Invalid suffix";-131,"Invalid suffix";-222,"Data out of range";'
                 '-104,"Data type error"')):
            self.assertEqual(inst.query(line), reply)
        self.assertEqual(served.stop(), (0, "ok 0"))

    def test_serve_waits_for_its_instrument_and_finds_it_again(self):  # and others are told why
        # Another user's program holds the port; as root, without the right to signal it
        # (CAP_KILL), the probe meets it as a user does: kill(pid, 0) says EPERM, not ESRCH.
        root = os.geteuid() == 0
        holder = subprocess.Popen(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                   "sleep", "600"]) if root else None
        self.addCleanup(lambda: holder and holder.kill())
        lock = f"printf '{holder.pid}\\nsleep\\n'" if root else "printf 1"  # as Qt writes it
        served = Served(self, "quendt", silent=1, before="echo dir $UMOCKDEV_DIR; chmod 0 "
                        '"$(readlink -f $UMOCKDEV_DIR/dev/${RFGEN_TESTBED_PORTS#* })"; '
                        f"{lock} > /run/lock/LCK..${{RFGEN_TESTBED_PORTS% *}}; "
                        + ("setpriv --inh-caps=-kill --bounding-set=-kill " if root else ""))
        name, denied = (served.ctl(f"port {i}").split()[1] for i in (0, 1))
        try:  # another program holds the port: it is named with the reason, nothing listens
            until(lambda: f"{name} is busy (held by PID {holder.pid if root else 1})" in
                  pathlib.Path(served.errors).read_text(), "the reason")
            self.assertFalse([l for l in served.lines if l.startswith("listening")])
        finally:
            os.unlink(f"/run/lock/LCK..{name}")
        inst = served.session()  # others are told who serves it, and which node they cannot open
        as_user = ["setpriv", "--inh-caps=-dac_override,-kill",
                   "--bounding-set=-dac_override,-kill"] if root else []  # root would open any node
        run = lambda *args: subprocess.run(
            ["umockdev-wrapper", *as_user, RFGEN, *args], capture_output=True, text=True,
            env=dict(os.environ, UMOCKDEV_DIR=served.line("dir ").split()[1]))
        self.assertEqual(run("list").stdout, f"{name}\tbusy (PID {served.pid})\t-\n"
                                              f"{denied}\tno permission\t-\n")
        self.assertEqual(run("send", "*IDN?").stderr, f"rfgen: {name} is busy (held by PID "
                         f"{served.pid})\nrfgen: {denied}: no permission (see the README's section"
                         " on connecting hardware)\n")
        self.assertEqual(served.ctl("unplug 0"), "ok")  # clients stay, told -241 meanwhile
        until(lambda: inst.query("FREQ 1e8;SYST:ERR?") == '-241,"Hardware missing"', "-241")
        self.assertTrue(served.ctl("replug 0").startswith("ok"))
        until(lambda: inst.query("*IDN?").startswith("QUENDT,"), "the instrument again")
        self.assertEqual(served.stop(), (0, "ok 0"))

    def test_serve_all(self):
        served = Served(self, "orvex", "pylar", serve="--all --journal {journal} --allow 127.0.0.1/32")
        names = [served.ctl(f"port {i}").split()[1] for i in (0, 1)]
        port = {name: served.port + i for i, name in enumerate(sorted(names))}
        [served.line(f"listening on {port[n]} for {n} {m}") for n, m in zip(names, ("Orvex", "Pylar"))]
        orvex, pylar = (served.session(port[name]) for name in names)
        self.assertEqual([orvex.query("*IDN?")[:6], pylar.query("*IDN?")[:6]], ["ORVEX,", "PYLAR,"])
        self.assertEqual(ask(raw(port[names[1]], "127.0.0.2"), b"*IDN?"), b"")  # each bridge's --allow
        self.assertEqual(served.ctl("silent 0 on"), "ok")
        with raw(port[names[0]]) as stalled, stalled.makefile("rb", buffering=0) as replies:
            stalled.sendall(b"FREQ?\n" * 8)
            replies.readline()  # the first one has timed out, seven more wait their turn
            self.assertEqual({pylar.query("OUTP ON;FREQ?") for _ in range(20)}, {"100000000"})
            stalled.setblocking(False)
            self.assertLess((replies.read(64) or b"").count(b"\n"), 7)  # None: none yet
        self.assertEqual([served.ctl("silent 0 off"), served.ctl("unplug 0")], ["ok", "ok"])
        until(lambda: not served_clients(port[names[0]]), "the unplugged one's port closed")
        third = served.ctl("plug quendt").split()[2]  # its port stays kept for a replug
        served.line(f"listening on {served.port + 2} for {third} Quendt")
        self.assertEqual(served.session(served.port + 2).query("OUTP ON;*IDN?")[:7], "QUENDT,")
        self.assertEqual(served.ctl("replug 0 same"), "ok " + names[0])
        until(lambda: served.lines.count(f"listening on {port[names[0]]} for {names[0]} Orvex\n")
              == 2, "the same TCP port again")
        self.assertEqual(served.session(port[names[0]]).query("OUTP ON;*IDN?")[:6], "ORVEX,")
        self.assertEqual(served.stop(), (0, "ok 0", "ok 0", "ok 0"))
        logged = {line.split("\t")[0] for line in pathlib.Path(served.journal).read_text().splitlines()}
        self.assertEqual(logged, {*names, third})

    def test_saved_setups(self):  # *SAV on one instrument, *RCL on another
        data = tempfile.mkdtemp(prefix="rfgen-data-")
        self.addCleanup(shutil.rmtree, data, True)
        served = Served(self, "orvex", "quendt", before=f"XDG_DATA_HOME={data} ", serve="--all")
        names = sorted(served.ctl(f"port {i}").split()[1] for i in (0, 1))
        [served.line(f"listening on {served.port + i} for {n}") for i, n in enumerate(names)]
        first, second = (served.session(served.port + i) for i in (0, 1))
        state = "FREQ?;VOLT?;ATT?;LEV:MODE?;FM:MODE?;FM:STAR?;FM:STOP?;FM:STEP?;FM:PER?;OUTP?"
        self.assertEqual(first.query(
            "FREQ 433.92 MHz;VOLT 0.5;ATT 10;LEV:MODE ATT;FM:MODE HOP;FM:STAR 400 MHz;"
            "FM:STOP 500 MHz;FM:STEP 1 MHz;FM:PER 10 ms;FM:STAT ON;FM:STAT OFF;OUTP ON;*SAV 3;"
            "SYST:ERR?"), '0,"No error"')
        self.assertEqual(second.query("*RCL 3;SYST:ERR?;*RCL 5;SYST:ERR?"),
                         '0,"No error";-256,"File name not found"')
        held = "433920000;0.5;10;ATT;HOP;400000000;500000000;1000000;0.01;"
        self.assertEqual([first.query(state), second.query(state)], [held + "1", held + "0"])
        self.assertEqual(os.listdir(f"{data}/rfgen/setups"), ["3.txt"])

    def test_abusive_clients(self):
        served = Served(self, "orvex")
        inst = served.session()  # one of the 4 clients all along
        rng = random.Random(20261207)
        resident_kib = lambda: int(
            pathlib.Path(f"/proc/{served.pid}/status").read_text().split("VmRSS:")[1].split()[0])
        for case, payload, codes in (
                ("over-long line", b"FREQ " + b"1" * 1100 + b"\n", [-223]),  # in one read
                ("bytes not printable", b"FREQ\t1e8\nFREQ\xff 1\nFREQ\x00\n", [-100] * 3),
                ("megabyte without LF", b"FREQ " + b"7" * (1 << 20), [-223]),
                ("random bytes without LF", bytes(rng.choices(range(11, 256), k=65536)), [-223]),
                ("error queue is bounded", b"BOGUS\n" * 40, [-113] * 15 + [-350]),
                ("random lines", rng.randbytes(65536) + b"\n*CLS\n", [])):
            with self.subTest(case), raw(served.port) as s:
                s.sendall(payload)
                self.assertEqual(inst.query("*OPC?"), "1")  # others are served meanwhile
                s.sendall((b"" if payload.endswith(b"\n") else b"\n") + b"*IDN?\n")
                with s.makefile("rb", buffering=0) as replies:  # printable reply lines only
                    while not (reply := replies.readline()).startswith(b"ORVEX,"):
                        self.assertTrue(reply and all(32 <= b < 127 for b in reply[:-1]), reply)
                drained = [ask(s, b"SYST:ERR?") for _ in codes + [0]]
                self.assertEqual([int(r.split(b",")[0]) for r in drained], codes + [0])
        with self.subTest("error queues are per client"), raw(served.port) as a:
            self.assertEqual(ask(a, b"BOGUS\n*OPC?"), b"1")
            self.assertEqual(inst.query("SYST:ERR?"), '0,"No error"')
            self.assertEqual(ask(a, b"SYST:ERR?"), b'-113,"Undefined header"')
        with self.subTest("a fifth client is closed, lingering ones count"):
            idle = [raw(served.port) for _ in range(3)]
            self.assertEqual([ask(c, b"*OPC?") for c in idle], [b"1"] * 3)
            self.assertFalse(served_clients(served.port))
            idle.pop().close()
            until(lambda: served_clients(served.port), "a place for a new client")
            [c.close() for c in idle]
        with self.subTest("hang-ups mid-line"):
            self.assertEqual(inst.query("FREQ 1e8;OUTP OFF;*OPC?"), "1")
            for line, reset in ((b"FREQ 30000000\nFREQ 4000000", False),  # whole line only
                                (b"OUTP ON;FREQ " + b"5" * 3000, False), (b"FREQ 6000000", True)):
                with raw(served.port) as s:
                    s.sendall(line)
                    reset and s.setsockopt(*RESET_ON_CLOSE)
            until(lambda: served_clients(served.port, 3), "all three gone")
            self.assertEqual(inst.query("FREQ?;OUTP?"), "30000000;0")
        with self.subTest("connect and leave many times"):
            cycles = lambda: [served_clients(served.port, leave=i % 4) for i in range(200)]
            before = cycles() and resident_kib()  # buffers and pools at their working size
            cycles()
            until(lambda: served_clients(served.port, 3), "places for three clients")
            if "libasan" not in pathlib.Path(f"/proc/{served.pid}/maps").read_text():
                self.assertLess(resident_kib() - before, 4096)
        self.assertEqual(served.stop(), (0, "ok 0"))  # no crash; no leak under ASan

    def test_lock(self):  # SYST:LOCK between clients; freed when its holder is killed
        served = Served(self, "orvex")
        served.line("listening on")
        a, b = raw(served.port), raw(served.port)
        holder = f'"LAN127.0.0.1:{a.getsockname()[1]}"'
        for client, line, reply in (
                (a, b"SYST:LOCK:REQ?;SYST:LOCK:REQ?", b"1;1"), (b, b"SYST:LOCK:REQ?", b"0"),
                (b, b"FREQ 2e8;*RST;OUTP ON;FREQ?;SYST:LOCK:OWN?;SYST:ERR?;SYST:ERR?;SYST:ERR?",
                 b"100000000;" + holder.encode() + b';-203,"Command protected"' * 3),
                (a, b"FREQ 3e8;SYST:LOCK:REL;FREQ?", b"300000000"),  # one level still held
                (b, b"FREQ 2e8;SYST:ERR?", b'-203,"Command protected"'),
                (a, b"SYST:LOCK:REL;SYST:LOCK:OWN?", b'"NONE"'),
                (a, b"SYST:LOCK:REL;SYST:ERR?", b'-221,"Settings conflict"'),
                (b, b"FREQ 2e8;FREQ?", b"200000000")):
            self.assertEqual(ask(client, line), reply, line)
        killed = subprocess.Popen(["/usr/bin/python3", "-c", "import socket\n"
            f"s = socket.create_connection(('127.0.0.1', {served.port}))\n"
            "s.sendall(b'SYST:LOCK:REQ?\\n'); print(s.recv(9).decode(), flush=True)\n"
            "s.recv(1)  # held until killed"],
            stdout=subprocess.PIPE, text=True)
        self.assertEqual(killed.stdout.readline().strip(), "1")
        self.assertTrue(served_clients(served.port))  # another client comes and goes: the lock stays
        self.assertEqual(ask(b, b"*OPC?"), b"1")  # by its answer the server has seen that one go
        self.assertEqual(ask(b, b"FREQ 4e8;SYST:ERR?"), b'-203,"Command protected"')
        killed.kill()
        until(lambda: ask(b, b"SYST:LOCK:OWN?") == b'"NONE"', "the lock given back")
        self.assertEqual(ask(b, b"FREQ 4e8;FREQ?"), b"400000000")
        [c.close() for c in (a, b)]
        killed.wait()
        self.assertEqual(served.stop(), (0, "ok 0"))

    def test_who_may_connect(self):  # --bind, --allow, and the idle rule at the client limit
        served = Served(self, "orvex", serve="--bind 127.0.0.1 --allow 127.0.0.2/32 --idle 1")
        served.line("listening on")
        self.assertRaises(ConnectionRefusedError, socket.create_connection, ("127.0.0.2", served.port))
        for _ in range(2):  # from outside the allowed network: closed unread, said once
            with raw(served.port) as outsider:
                self.assertEqual(ask(outsider, b"OUTP ON"), b"")
        clients = [raw(served.port, "127.0.0.2") for _ in range(4)]
        self.assertEqual([ask(c, b"SYST:LOCK:REQ?") for c in clients], [b"1", b"0", b"0", b"0"])
        until(lambda: served_clients(served.port, source="127.0.0.2"), "an idle client's place")
        self.assertEqual(ask(clients[0], b"OUTP?"), b"0")  # the holder was not evicted: the next was
        self.assertEqual(ask(clients[1], b"OUTP?"), b"")
        [c.close() for c in clients]
        self.assertEqual(pathlib.Path(served.errors).read_text().count("not an allowed network"), 1)
        self.assertEqual(served.stop(), (0, "ok 0"))

    def test_send(self):
        send = lambda *args, models=("--model", "pylar"): subprocess.run(
            [TESTBED, *models, "--silent", "1", "--", RFGEN, "send", *args], capture_output=True,
            text=True, timeout=60)
        done = send("FREQ 12.5e6;FREQ?", "*IDN?")
        self.assertEqual((done.returncode, done.stdout[:15]), (0, "12500000\nPYLAR,"))
        done = send("FREQ 1e12")
        self.assertEqual((done.returncode, done.stderr[-26:]), (1, '\n-222,"Data out of range"\n'))
        self.assertEqual(send("*IDN?", models=()).returncode, 2)
        usage = subprocess.run([RFGEN, "serve", "--all", "--device", "ttyACM0"], capture_output=True)
        self.assertEqual(usage.returncode, 2)
        absent = subprocess.run([RFGEN, "serve", "--all", "--bind", "192.0.2.1", "--allow", "::/0"],
                                capture_output=True,
                                text=True, timeout=60)  # an address this machine does not have
        self.assertEqual((absent.returncode, absent.stderr.split(":")[0]), (1, "rfgen"))
        self.assertIn("cannot listen on 192.0.2.1", absent.stderr)

if __name__ == "__main__":
    unittest.main(verbosity=2)
