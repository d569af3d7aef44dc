#!/usr/bin/python3
"""Remote-control speed: `rfgen serve` with a simulated instrument in the
testbed and a plain socket client over loopback. Latency of one query and of
one set-and-read-back, and throughput of queries one at a time and pipelined.
Prints one line per figure; --json prints them as JSON.
RFGEN_BUILD_DIR selects the build directory (default: build)."""
import argparse
import json
import math
import signal
import socket
import statistics
import subprocess
import time

from panelharness import RFGEN, TESTBED, free_tcp_port

MODEL = "quendt"


def percentile(samples, fraction):
    """Nearest-rank percentile, as the C++ benchmarks compute it."""
    ordered = sorted(samples)
    rank = min(max(math.ceil(fraction * len(ordered)), 1), len(ordered))
    return ordered[rank - 1]


class Client:
    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=10)
        self.socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buffer = b""

    def send(self, text):
        self.socket.sendall(text.encode())

    def read_line(self):
        while b"\n" not in self.buffer:
            chunk = self.socket.recv(65536)
            if not chunk:
                raise RuntimeError("the server closed the connection")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode().strip()

    def query(self, line):
        self.send(line + "\n")
        return self.read_line()

    def close(self):
        self.socket.close()


def timed_queries(client, lines):
    """Milliseconds of each round trip, sent one after the other."""
    samples = []
    for line in lines:
        started = time.perf_counter()
        client.query(line)
        samples.append((time.perf_counter() - started) * 1000)
    return samples


def pipelined_rate(client, count, batch):
    """Queries per second with `batch` queries in flight at once."""
    started = time.perf_counter()
    done = 0
    while done < count:
        client.send("FREQ?\n" * batch)
        for _ in range(batch):
            client.read_line()
        done += batch
    return done / (time.perf_counter() - started)


def measure(queries=2000, batch=50):
    port = free_tcp_port()
    server = subprocess.Popen(
        [TESTBED, "--model", MODEL, "--", RFGEN, "serve", "--port", str(port)],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        line = server.stdout.readline()
        if line.strip() != f"listening on {port}":
            raise RuntimeError(f"rfgen serve did not start: {line!r}")
        client = Client(port)
        try:
            timed_queries(client, ["FREQ?"] * 100)  # warm-up
            started = time.perf_counter()
            query_ms = timed_queries(client, ["FREQ?"] * queries)
            sequential_rate = queries / (time.perf_counter() - started)
            set_lines = [f"FREQ {100_000_000 + (i % 2) * 1_000_000};FREQ?" for i in range(queries)]
            set_ms = timed_queries(client, set_lines)
            pipelined = pipelined_rate(client, queries, batch)
        finally:
            client.close()
    finally:
        server.send_signal(signal.SIGTERM)
        server.wait(timeout=30)
        server.stdout.close()
    return {
        "queries": queries,
        "query_median_ms": statistics.median(query_ms),
        "query_p99_ms": percentile(query_ms, 0.99),
        "set_median_ms": statistics.median(set_ms),
        "set_p99_ms": percentile(set_ms, 0.99),
        "sequential_queries_per_s": sequential_rate,
        "pipeline_batch": batch,
        "pipelined_queries_per_s": pipelined,
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--json", action="store_true", help="print the figures as JSON")
    parser.add_argument("--queries", type=int, default=2000)
    args = parser.parse_args()
    figures = measure(args.queries)
    if args.json:
        print(json.dumps(figures, indent=2))
        return
    print(f"rfgen serve with a simulated {MODEL}, client over loopback, {args.queries} each")
    print(f"  FREQ? round trip            {figures['query_median_ms']:7.3f} ms median, "
          f"{figures['query_p99_ms']:.3f} ms p99")
    print(f"  FREQ n;FREQ? round trip     {figures['set_median_ms']:7.3f} ms median, "
          f"{figures['set_p99_ms']:.3f} ms p99")
    print(f"  queries one at a time       {figures['sequential_queries_per_s']:7.0f} per s")
    print(f"  queries {figures['pipeline_batch']} in flight        "
          f"{figures['pipelined_queries_per_s']:7.0f} per s")


if __name__ == "__main__":
    main()
