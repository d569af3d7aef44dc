#!/usr/bin/python3
"""The LAN presence of `rfgen serve` (--announce, --http) through independent clients
from Debian: python3-zeroconf, lxi-tools, headless chromium, lxml. Runs inside
tests/netns.sh with its own D-Bus system bus, avahi-daemon and rpcbind."""
import http.client, json, os, re, socket, subprocess, sys, tempfile, shutil, threading, unittest
from lxml import etree
from zeroconf import ServiceBrowser, ServiceInfo, ServiceStateChange, Zeroconf
sys.path.insert(0, os.path.dirname(__file__))
from test_remote import Served, ask, raw, until
from test_vxi11 import rpcbind

HOST = socket.gethostname()
SCRIPT = "<script>alert(1)</script>"
LXI = "{http://www.lxistandard.org/InstrumentIdentification/1.0}"

def get(port, path, method="GET", source="127.0.0.1"):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=10, source_address=(source, 0))
    c.request(method, path)
    answer = c.getresponse()
    return answer.status, dict(answer.getheaders()), answer.read()

def daemon(*command):  # started in the background, stopped with the test
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)

def avahi_names(kind, where=3):  # what avahi-daemon holds, resolved; where=1: on which interfaces
    shown = subprocess.run(["avahi-browse", "-t", "-r", "-p", kind], capture_output=True, text=True)
    unescaped = lambda name: re.sub(r"\\(\d{3})", lambda m: chr(int(m[1])), name)
    return {unescaped(l.split(";")[where]) for l in shown.stdout.splitlines() if l[0] == "="}

class Browsed:
    """Services of some types as python3-zeroconf sees them come and go."""
    def __init__(self, test, *kinds):
        self.zeroconf, self.names = Zeroconf(), {}
        test.addCleanup(self.zeroconf.close)
        ServiceBrowser(self.zeroconf, [f"{k}.local." for k in kinds], handlers=[self.changed])
    def changed(self, zeroconf, service_type, name, state_change):
        kind = service_type.split(".")[0]
        names = self.names.setdefault(kind, set())
        if state_change is not ServiceStateChange.Updated:
            (names.add if state_change is ServiceStateChange.Added else names.discard)(name.split(".")[0])
    def info(self, kind, name):
        info = self.zeroconf.get_service_info(f"{kind}._tcp.local.", f"{name}.{kind}._tcp.local.", 5000)
        return info.port, {k.decode(): v.decode() for k, v in info.properties.items()}

class Browser:
    """Headless Debian chromium, driven over its DevTools pipe (file descriptors 3 and 4)."""
    def __init__(self, test):
        profile = tempfile.mkdtemp(prefix="rfgen-chromium-")
        test.addCleanup(shutil.rmtree, profile, True)
        to_r, self.to_browser = os.pipe()
        self.from_browser, from_w = os.pipe()
        flags = ("--headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
                 "--disable-background-networking --disable-component-update --disable-sync "
                 f"--user-data-dir={profile} --remote-debugging-pipe")
        self.process = subprocess.Popen(["bash", "-c", f"exec chromium {flags} 3<&{to_r} 4>&{from_w}"],
                                        pass_fds=(to_r, from_w), stderr=subprocess.DEVNULL)
        os.close(to_r), os.close(from_w)
        test.addCleanup(lambda: (self.process.kill(), self.process.wait()))
        self.sequence, self.pending, self.events, self.session = 0, b"", [], None
    def call(self, method, **params):
        self.sequence += 1
        message = {"id": self.sequence, "method": method, "params": params}
        if self.session:
            message["sessionId"] = self.session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.pending:
                read = os.read(self.from_browser, 1 << 16)
                assert read, f"chromium ended ({self.process.wait()})"
                self.pending += read
            text, self.pending = self.pending.split(b"\0", 1)
            reply = json.loads(text)
            if reply.get("id") != self.sequence:
                self.events.append(reply.get("method"))
                continue
            assert "error" not in reply, reply
            return reply["result"]
    def open(self, url):
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        self.call("Page.enable")
        self.call("Page.navigate", url=url)
        until(lambda: self.run("document.readyState") == "complete", "the page loaded")
    def run(self, expression):
        return self.call("Runtime.evaluate", expression=expression, returnByValue=True)["result"].get("value")

class LanTest(unittest.TestCase):
    def setUp(self):
        daemon("dbus-daemon", "--system", "--fork")
        self.addCleanup(lambda: subprocess.run("kill $(cat /run/dbus/pid); rm /run/dbus/pid", shell=True))
        self.start_avahi()
        self.addCleanup(lambda: subprocess.run(["avahi-daemon", "-k"], capture_output=True))
        self.rpcbind = rpcbind()
        self.addCleanup(lambda: (self.rpcbind.kill(), self.rpcbind.wait()))

    def start_avahi(self):
        daemon("avahi-daemon", "--no-chroot", "-D")
        until(lambda: subprocess.run(["avahi-daemon", "-c"]).returncode == 0, "avahi-daemon")

    def test_rack(self):
        clash = f"ORVEX OG-6000 SIM0001 on {HOST}"  # another service has the orvex's name
        publisher = subprocess.Popen(["avahi-publish", "-s", clash, "_scpi-raw._tcp", "9"],
                                     stderr=subprocess.PIPE, text=True)
        self.addCleanup(lambda: (publisher.kill(), publisher.communicate()))
        self.assertIn("Established", publisher.stderr.readline())
        kinds = ("_scpi-raw", "_lxi", "_http", "_vxi-11")
        browsed = Browsed(self, *(f"{kind}._tcp" for kind in kinds))
        elsewhere = f"PYLAR PL-3200 {SCRIPT} on {HOST}"  # and another host the pylar's
        browsed.zeroconf.register_service(ServiceInfo(
            "_scpi-raw._tcp.local.", f"{elsewhere}._scpi-raw._tcp.local.", port=9,
            addresses=[socket.inet_aton("10.77.0.9")], server="elsewhere.local."))
        served = Served(self, "orvex", "pylar", before=f"echo 'serial 1 {SCRIPT}' | socat - "
                        "UNIX-CONNECT:{control} >/dev/null; ", serve="--all --vxi11 --announce "
                        "--http {http} --allow 127.0.0.1/32 --allow 10.77.0.0/24")
        web = served.port + 2
        names = {f"{clash} #2": ("ORVEX", "OG-6000", "SIM0001", served.port),
                 f"{elsewhere} #2": ("PYLAR", "PL-3200", SCRIPT, served.port + 1)}
        for kind, port in zip(kinds, (None, web, web, 111)):
            until(lambda: set(names) <= browsed.names.get(kind, set()), kind)
            for name, (maker, model, serial, raw_port) in names.items():
                self.assertEqual(browsed.info(kind, name), (port or raw_port, {
                    "txtvers": "1", "Manufacturer": maker, "Model": model, "SerialNumber": serial,
                    "FirmwareVersion": "1.4.2"}))
        listed = subprocess.run(["lxi", "discover", "-m"], capture_output=True, text=True, timeout=60)
        for name in names:
            self.assertIn(f'Found "{name}"', listed.stdout)
        browser = Browser(self)
        browser.open(f"http://127.0.0.1:{web}/")
        text = lambda: browser.run("document.body.innerText")
        for k, resource in enumerate([f"::{served.port}::SOCKET", "::inst0::INSTR",
                                      f"::{served.port + 1}::SOCKET", "::inst1::INSTR"]):
            self.assertIn(f"TCPIP::{HOST}{resource}", text())
        self.assertIn(SCRIPT, text())  # shown as text
        self.assertEqual(browser.run("document.scripts.length"), 1)  # the page's own only
        browser.run("window.notReloaded = true")
        with raw(served.port) as client:
            self.assertEqual(ask(client, b"FREQ 123450000;SYST:LOCK:REQ?"), b"1")
            until(lambda: "123.450000 MHz" in text() and "127.0.0.1:" in text(), "the new frequency")
        self.assertTrue(browser.run("window.notReloaded"))
        self.assertNotIn("Page.javascriptDialogOpening", browser.events)  # no alert ran
        document = etree.fromstring(get(web, "/lxi/identification")[2])
        self.assertEqual({a.text for a in document.iter(LXI + "IPAddress")}, {"10.77.0.1", "10.77.0.2"})
        devices = document.findall(f"{LXI}ConnectedDevices/{LXI}DeviceURI")
        self.assertEqual(len(devices), 2)
        for uri in devices:
            k = int(uri.text[-1])
            with raw(served.port + k) as client:
                idn = ask(client, b"*IDN?").decode().split(",")
            path = uri.text.split(str(web), 1)[1]
            own = etree.fromstring(get(web, path)[2])
            self.assertTrue(own.findtext(LXI + "IdentificationURL").endswith(path))
            self.assertEqual([own.findtext(LXI + f) for f in ("Manufacturer", "Model", "SerialNumber",
                              "FirmwareRevision")], idn)
        status, headers, _ = get(web, "/", "POST")
        self.assertEqual((status, headers["Allow"]), (405, "GET, HEAD"))
        self.assertEqual((get(web, "/", "HEAD")[0], get(web, "/", "HEAD")[2]), (200, b""))
        self.assertRaises(OSError, get, web, "/", source="127.0.0.2")  # outside --allow
        slow = [socket.create_connection(("127.0.0.1", web)) for _ in range(50)]
        for s in slow:
            s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n")  # and never the end of the request
        session = served.session()
        self.assertEqual(session.query("FREQ?"), "123450000")
        self.assertEqual(get(web, "/rows")[0], 200)
        [s.close() for s in slow]
        self.assertEqual(served.ctl("unplug 0"), "ok")
        until(lambda: f"{clash} #2" not in browsed.names["_scpi-raw"], "the unplugged withdrawn")
        until(lambda: f"::{served.port}::SOCKET" not in text(), "the unplugged off the page")
        subprocess.run(["avahi-daemon", "-k"], check=True)
        self.start_avahi()
        until(lambda: names.keys() - {f"{clash} #2"} <= avahi_names("_lxi._tcp"),
              "announced again after avahi-daemon restarted")
        session.close()
        self.assertEqual(served.stop()[0], 0)
        with open(served.errors) as said:
            self.assertEqual(said.read().count("closed the connection of 127.0.0.2"), 1)

    def test_one_bridge_avahi_later(self):
        subprocess.run(["avahi-daemon", "-k"], check=True)
        served = Served(self, "quendt", serve="--announce --http {http} --bind 127.0.0.1")
        web = served.port + 2
        self.assertEqual(served.session().query("*IDN?").split(",")[0], "QUENDT")
        answer = lambda: get(web, "/lxi/identification")
        document = etree.fromstring(until(lambda: answer()[0] == 200 and answer()[2], "the document"))
        self.assertEqual(document.findtext(LXI + "Manufacturer"), "QUENDT")
        self.assertIsNone(document.find(LXI + "ConnectedDevices"))
        self.assertRaises(ConnectionRefusedError, socket.create_connection, ("10.77.0.1", web))
        self.start_avahi()  # announced once it runs
        quendt = lambda: any(n.startswith("QUENDT ") for n in avahi_names("_scpi-raw._tcp"))
        until(quendt, "announced once avahi-daemon started")
        self.assertEqual(avahi_names("_lxi._tcp", where=1), {"lo"})  # only where it is bound
        self.assertEqual(served.ctl("unplug 0"), "ok")  # the link lost: withdrawn, no values
        until(lambda: not avahi_names("_scpi-raw._tcp") and b"MHz" not in get(web, "/rows")[2],
              "nothing announced, no values, once the link is lost")
        self.assertEqual(served.stop()[0], 0)
        with open(served.errors) as said:
            self.assertEqual(sum("avahi-daemon" in line for line in said), 1)

if __name__ == "__main__":
    unittest.main(verbosity=2)
