#!/usr/bin/python3
"""FREQ? round trips through VXI-11 beside the raw socket, both from pyvisa-py
to the same `rfgen serve --vxi11` with a simulated instrument, alternating in
batches so both see the same machine. Runs in a network namespace of its own
with its own rpcbind (tests/netns.sh; needs root, else it says so and ends).
RFGEN_BUILD_DIR selects the build directory (default: build)."""
import statistics
import subprocess
import time
import warnings

warnings.filterwarnings("ignore", message="'xdrlib' is deprecated", category=DeprecationWarning)
import pyvisa  # noqa: E402

from panelharness import RFGEN, TESTBED, free_tcp_port, in_own_network
from remote_bench import MODEL, percentile



def batch(inst, count):
    samples = []
    for _ in range(count):
        sent = time.perf_counter()
        inst.query("FREQ?")
        samples.append((time.perf_counter() - sent) * 1000)
    return samples


def main(queries=4000):
    rpcbind = subprocess.Popen(["rpcbind", "-f"])
    port = free_tcp_port()
    server = subprocess.Popen([TESTBED, "--model", MODEL, "--", RFGEN, "serve", "--port",
                               str(port), "--vxi11"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True)
    try:
        if not server.stdout.readline().startswith(f"listening on {port} TCPIP::"):
            raise RuntimeError("rfgen serve --vxi11 did not start")
        rm = pyvisa.ResourceManager("@py")
        sessions = {
            "raw socket": rm.open_resource(f"TCPIP::127.0.0.1::{port}::SOCKET",
                                           read_termination="\n", write_termination="\n"),
            "VXI-11": rm.open_resource("TCPIP::127.0.0.1::inst0::INSTR"),
        }
        samples = {name: [] for name in sessions}
        for name, inst in sessions.items():
            batch(inst, 100)  # warm-up
        for _ in range(queries // 200):
            for name, inst in sessions.items():
                samples[name] += batch(inst, 100)
        for name, values in samples.items():
            print(f"FREQ? through {name:10}: median {statistics.median(values):.3f} ms, "
                  f"99th percentile {percentile(values, 0.99):.3f} ms ({len(values)} queries)")
        ratio = statistics.median(samples["VXI-11"]) / statistics.median(samples["raw socket"])
        print(f"VXI-11 / raw socket, median: {ratio:.2f}x (goal: within 1.5x)")
        rm.close()
    finally:
        server.terminate()
        server.wait(timeout=30)
        rpcbind.kill()


if __name__ == "__main__":
    in_own_network(__file__)
    main()
