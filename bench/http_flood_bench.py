#!/usr/bin/python3
"""FREQ? round trips from pyvisa-py to `rfgen serve --http` with a simulated
instrument, without and then with fifty slow HTTP clients holding connections
to the web page open (each sends half a request and a header line now and
then), alternating in batches so both see the same machine. Also prints the
page's size. Runs in a network namespace of its own (tests/netns.sh; needs
root, else it says so and ends). RFGEN_BUILD_DIR selects the build directory."""
import socket
import statistics
import subprocess
import threading
import time
import urllib.request

import pyvisa

from panelharness import RFGEN, TESTBED, free_tcp_port, in_own_network
from remote_bench import MODEL, percentile
from vxi11_bench import batch

SLOW_CLIENTS = 50


class SlowClients:
    """Connections that send a request a few bytes at a time and never end it."""
    def __init__(self, port):
        self.port, self.sockets, self.running = port, [], False
        self.thread = threading.Thread(target=self.trickle, daemon=True)

    def start(self):
        self.sockets = [socket.create_connection(("127.0.0.1", self.port))
                        for _ in range(SLOW_CLIENTS)]
        for s in self.sockets:
            s.sendall(b"GET / HTTP/1.1\r\nHost: bench\r\n")
        self.running = True
        self.thread = threading.Thread(target=self.trickle, daemon=True)
        self.thread.start()

    def trickle(self):
        while self.running:
            for s in self.sockets:
                try:
                    s.sendall(b"X-Slow: 1\r\n")
                except OSError:
                    pass  # the server timed it out: that is its right
            time.sleep(1)

    def stop(self):
        self.running = False
        self.thread.join()
        for s in self.sockets:
            s.close()


def main(queries=4000):
    port, web = free_tcp_port(), free_tcp_port()
    server = subprocess.Popen([TESTBED, "--model", MODEL, "--", RFGEN, "serve", "--port",
                               str(port), "--http", str(web)], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True)
    try:
        if not server.stdout.readline().startswith(f"listening on {port}"):
            raise RuntimeError("rfgen serve --http did not start")
        fetch = lambda path: urllib.request.urlopen(f"http://127.0.0.1:{web}{path}").read()
        while b"MHz" not in (page := fetch("/")):  # until the first poll's values show
            time.sleep(0.05)
        style, script = len(fetch("/page.css")), len(fetch("/page.js"))
        print(f"web page: {len(page)} bytes, with its style ({style}) and script ({script}): "
              f"{len(page) + style + script} bytes")
        rm = pyvisa.ResourceManager("@py")
        inst = rm.open_resource(f"TCPIP::127.0.0.1::{port}::SOCKET", read_termination="\n",
                                write_termination="\n")
        samples = {"without": [], "with 50 slow HTTP clients": []}
        slow = SlowClients(web)
        batch(inst, 100)  # warm-up
        for round in range(queries // 200):  # which goes first alternates: the one after
            for flood in ((False, True) if round % 2 else (True, False)):  # a change starts cold
                if flood:
                    slow.start()
                samples["with 50 slow HTTP clients" if flood else "without"] += batch(inst, 100)
                if flood:
                    slow.stop()
        for name, values in samples.items():
            print(f"FREQ? {name:26}: median {statistics.median(values):.3f} ms, "
                  f"99th percentile {percentile(values, 0.99):.3f} ms ({len(values)} queries)")
        medians = [statistics.median(v) for v in samples.values()]
        print(f"with / without, median: {medians[1] / medians[0]:.2f}x (goal: within 2x)")
        rm.close()
    finally:
        server.terminate()
        server.wait(timeout=30)


if __name__ == "__main__":
    in_own_network(__file__)
    main()
