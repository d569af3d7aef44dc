#!/usr/bin/python3
"""Remote-control speed as a pyvisa user sees it: `rfgen serve` with a
simulated instrument in the testbed, and a pyvisa-py session over loopback
(TCPIP SOCKET resource, LF termination). Round trips per second and median and
99th-percentile latency of `FREQ?` and of `FREQ <value>;FREQ?`, each beside the
floor: the same session against a trivial echo server (socat), which answers
every line with itself and so costs only pyvisa and loopback. Then `rfgen serve
--all` with two instruments: `FREQ?` on one alone, and again while the other is
silent and a client keeps asking it.
Prints one line per figure; --json prints them as JSON.
RFGEN_BUILD_DIR selects the build directory (default: build)."""
import argparse
import json
import os
import shutil
import signal
import socket
import statistics
import subprocess
import tempfile
import threading
import time
import warnings

# Debian's pyvisa-py still imports xdrlib, which Python 3.11 warns about.
warnings.filterwarnings("ignore", message="'xdrlib' is deprecated", category=DeprecationWarning)
import pyvisa  # noqa: E402

from panelharness import RFGEN, TESTBED, free_tcp_port, wait_until
from remote_bench import MODEL, percentile


def timed_queries(inst, lines):
    """Milliseconds of each round trip, and round trips per second overall."""
    samples = []
    started = time.perf_counter()
    for line in lines:
        sent = time.perf_counter()
        inst.query(line)
        samples.append((time.perf_counter() - sent) * 1000)
    return samples, len(lines) / (time.perf_counter() - started)


def summary(samples, rate):
    return {"median_ms": statistics.median(samples), "p99_ms": percentile(samples, 0.99),
            "per_s": rate}


def start_rfgen_serve(port):
    server = subprocess.Popen(
        [TESTBED, "--model", MODEL, "--", RFGEN, "serve", "--port", str(port)],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = server.stdout.readline()
    if line.strip() != f"listening on {port}":
        raise RuntimeError(f"rfgen serve did not start: {line!r}")
    return server


def start_echo_server(port):
    server = subprocess.Popen(
        ["socat", f"TCP-LISTEN:{port},bind=127.0.0.1,reuseaddr,nodelay", "PIPE"],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    deadline = time.monotonic() + 10
    while subprocess.run(["ss", "-Hltn", f"sport = :{port}"], capture_output=True,
                         text=True).stdout.strip() == "":
        if time.monotonic() > deadline:
            raise RuntimeError("socat did not start")
        time.sleep(0.01)
    return server


def measure(queries=2000, start_server=start_rfgen_serve, check_errors=True):
    port = free_tcp_port()
    server = start_server(port)
    rm = pyvisa.ResourceManager("@py")
    try:
        inst = rm.open_resource(f"TCPIP::127.0.0.1::{port}::SOCKET", read_termination="\n",
                                write_termination="\n", timeout=5000)
        try:
            timed_queries(inst, ["FREQ?"] * 100)  # warm-up
            query = summary(*timed_queries(inst, ["FREQ?"] * queries))
            set_lines = [f"FREQ {100_000_000 + (i % 2) * 1_000_000};FREQ?" for i in range(queries)]
            set_and_read = summary(*timed_queries(inst, set_lines))
            errors = inst.query("SYST:ERR?") if check_errors else "0,"
        finally:
            inst.close()
    finally:
        rm.close()
        server.send_signal(signal.SIGTERM)
        server.wait(timeout=30)
        server.stdout.close()
    if not errors.startswith("0,"):
        raise RuntimeError(f"the server reported an error: {errors}")
    return {"queries": queries, "query": query, "set_and_read": set_and_read}


def control(path, command):
    with socket.socket(socket.AF_UNIX) as channel:
        channel.connect(path)
        channel.sendall(command.encode() + b"\n")
        return channel.recv(256).decode().strip()


def hammer(port, stop, answered):
    """Asks FREQ? again as soon as each reply (here: each timeout) arrives."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as client, \
            client.makefile("rb") as replies:
        while not stop.is_set():
            client.sendall(b"FREQ?\n")
            replies.readline()
            answered.append(time.monotonic())


def queries_until(inst, enough):
    """FREQ? round trips in batches of 100 until enough(samples) holds."""
    samples, started = [], time.perf_counter()
    while not enough(samples):
        samples += timed_queries(inst, ["FREQ?"] * 100)[0]
    return summary(samples, len(samples) / (time.perf_counter() - started)), len(samples)


def measure_beside_silent(queries=2000, seconds=3):
    """`rfgen serve --all` with a QUENDT and an ORVEX: FREQ? on the QUENDT alone,
    then with the ORVEX silent and a client hammering it."""
    work = tempfile.mkdtemp(prefix="rfgen-bench-")
    control_path = os.path.join(work, "control")
    server = subprocess.Popen(
        [TESTBED, "--model", MODEL, "--model", "orvex", "--control", control_path, "--", RFGEN,
         "serve", "--all", "--port", str(free_tcp_port())],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    rm = pyvisa.ResourceManager("@py")
    stop, hammering = threading.Event(), None
    try:
        ports = {}  # model -> TCP port, from "listening on N for PORT MODEL"
        while len(ports) < 2:
            words = server.stdout.readline().split()
            if len(words) != 6:
                raise RuntimeError("rfgen serve --all did not start")
            ports[words[5].lower()] = int(words[2])
        inst = rm.open_resource(f"TCPIP::127.0.0.1::{ports[MODEL]}::SOCKET",
                                read_termination="\n", write_termination="\n", timeout=5000)
        timed_queries(inst, ["FREQ?"] * 100)  # warm-up
        until = time.monotonic() + seconds
        alone, alone_count = queries_until(
            inst, lambda samples: len(samples) >= queries and time.monotonic() > until)
        wait_until(lambda: control(control_path, "silent 1 on") == "ok", 10, "the control socket")
        answered = []
        hammering = threading.Thread(target=hammer, args=(ports["orvex"], stop, answered))
        hammering.start()
        beside, beside_count = queries_until(  # as long, that is several timeouts
            inst, lambda samples: len(samples) >= queries and len(answered) >= seconds * 2)
        inst.close()
    finally:
        stop.set()
        if hammering:
            hammering.join()
        rm.close()
        server.send_signal(signal.SIGTERM)
        server.wait(timeout=30)
        server.stdout.close()
        shutil.rmtree(work, ignore_errors=True)
    return {"alone": alone, "alone_queries": alone_count, "beside_silent": beside,
            "beside_queries": beside_count, "silent_timeouts": len(answered)}


def measure_with_floor(queries=2000):
    figures = measure(queries)
    figures["floor"] = measure(queries, start_echo_server, check_errors=False)
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--json", action="store_true", help="print the figures as JSON")
    parser.add_argument("--queries", type=int, default=2000)
    args = parser.parse_args()
    figures = measure_with_floor(args.queries)
    figures["serve_all"] = measure_beside_silent(args.queries)
    if args.json:
        print(json.dumps(figures, indent=2))
        return
    print(f"pyvisa-py through rfgen serve with a simulated {MODEL}, loopback, "
          f"{args.queries} each")
    for label, key in (("FREQ?", "query"), ("FREQ n;FREQ?", "set_and_read")):
        f = figures[key]
        floor = figures["floor"][key]
        print(f"  {label:<14} {f['per_s']:7.0f} round trips per s, "
              f"{f['median_ms']:.3f} ms median, {f['p99_ms']:.3f} ms p99 "
              f"(floor, echo server: {floor['median_ms']:.3f} ms median, "
              f"{floor['p99_ms']:.3f} ms p99)")
    both = figures["serve_all"]
    alone, beside = both["alone"]["median_ms"], both["beside_silent"]["median_ms"]
    print("rfgen serve --all, FREQ? on one of two instruments")
    print(f"  alone                        {alone:.3f} ms median over {both['alone_queries']} queries")
    print(f"  other one silent, hammered   {beside:.3f} ms median ({beside / alone:.2f}× alone) "
          f"over {both['beside_queries']} queries, {both['silent_timeouts']} timeouts of the other")


if __name__ == "__main__":
    main()
