#!/usr/bin/python3
"""Runs the benchmarks and writes docs/performance.md (or the file given) with
the figures, the machine they were measured on and the command behind each.
RFGEN_BUILD_DIR selects the build directory (default: build)."""
import datetime
import os
import platform
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, ".."))
sys.path.insert(0, HERE)
import panel_bench  # noqa: E402
import pyvisa_bench  # noqa: E402
import remote_bench  # noqa: E402
from panelharness import BUILD  # noqa: E402

PANEL_COMMAND = "RFGEN_BUILD_DIR=build /usr/bin/python3 bench/panel_bench.py"
REMOTE_COMMAND = "RFGEN_BUILD_DIR=build /usr/bin/python3 bench/remote_bench.py"
PYVISA_COMMAND = "RFGEN_BUILD_DIR=build /usr/bin/python3 bench/pyvisa_bench.py"
AUTOSEARCH_COMMAND = "umockdev-wrapper build/bench/bench_autosearch"
SETUPS_COMMAND = "umockdev-wrapper build/bench/bench_setups"


def first_line_with(path, prefix):
    with open(path) as file:
        for line in file:
            if line.startswith(prefix):
                return line.split(":", 1)[1].strip()
    return "unknown"


def command_output(*args):
    try:
        return subprocess.run(args, capture_output=True, text=True, timeout=30,
                              cwd=ROOT).stdout.strip()
    except OSError:
        return ""


def machine():
    ram_kib = int(first_line_with("/proc/meminfo", "MemTotal").split()[0])
    debian = command_output("cat", "/etc/debian_version") or "unknown"
    qt = command_output("dpkg-query", "-W", "-f=${Version}", "libqt5core5a") or "unknown"
    commit = command_output("git", "rev-parse", "--short", "HEAD") or "unknown"
    if command_output("git", "status", "--porcelain", "--untracked-files=no"):
        commit += " with local changes"
    with open("/proc/loadavg") as loadavg:
        load = " ".join(loadavg.read().split()[:3])
    return [
        ("CPU", first_line_with("/proc/cpuinfo", "model name")),
        ("Cores (nproc)", str(os.cpu_count() if not hasattr(os, "sched_getaffinity")
                              else len(os.sched_getaffinity(0)))),
        ("RAM", f"{ram_kib / 1024 / 1024:.1f} GiB"),
        ("System", f"Debian {debian}, Linux {platform.release()}"),
        ("Qt", qt),
        ("Source", f"commit {commit}"),
        ("Load average at start (1, 5, 15 min)", load),
        ("Measured", datetime.datetime.now().strftime("%Y-%m-%d %H:%M")),
    ]


def autosearch_table():
    program = os.path.join(BUILD, "bench", "bench_autosearch")
    result = subprocess.run(["umockdev-wrapper", program], capture_output=True, text=True,
                            timeout=600, check=True)
    return result.stdout.rstrip()


def setup_recall_row():
    """The last line of bench_setups: median, p99 and max ms of a recall."""
    program = os.path.join(BUILD, "bench", "bench_setups")
    result = subprocess.run(["umockdev-wrapper", program], capture_output=True, text=True,
                            timeout=600, check=True)
    median, p99, top = result.stdout.split()[-3:]
    return ("Click on a saved set-up to its last value confirmed (a full set-up, 11 values, "
            "ORVEX, offscreen)", f"{median} ms median, {p99} ms p99 (max {top} ms) over 200 "
            "recalls", SETUPS_COMMAND)


def table(rows):
    lines = ["| Figure | Value | Command |", "|---|---|---|"]
    lines += [f"| {name} | {value} | `{command}` |" for name, value, command in rows]
    return "\n".join(lines)


def pipelining_note(remote):
    """Explains pipelined queries being slower than single ones, when they are."""
    if remote["pipelined_queries_per_s"] >= remote["sequential_queries_per_s"]:
        return ""
    return """
Pipelined queries came out slower than queries sent one at a time in this
run; the server sends each reply at once (no Nagle delay), so the difference
is the machine's scheduling of the two processes.
"""


def beside_floor(value, floor, unit, digits=0):
    """A figure with its floor and the ratio of the two."""
    return (f"{value:.{digits}f} {unit} (floor {floor:.{digits}f} {unit}, "
            f"{value / floor:.2f}× the floor)")


def pyvisa_rows(figures):
    rows = []
    for label, key in (("`FREQ?`", "query"), ("`FREQ n;FREQ?`", "set_and_read")):
        f, floor = figures[key], figures["floor"][key]
        rows.append((f"{label} through pyvisa, median",
                     beside_floor(f["median_ms"], floor["median_ms"], "ms", 3), PYVISA_COMMAND))
        rows.append((f"{label} through pyvisa, p99",
                     beside_floor(f["p99_ms"], floor["p99_ms"], "ms", 3), PYVISA_COMMAND))
    return rows


def serve_all_rows(figures):
    alone, beside = figures["alone"], figures["beside_silent"]
    return [
        ("`FREQ?` through pyvisa on one of two instruments of `rfgen serve --all`, alone",
         f"{alone['median_ms']:.3f} ms median, {alone['p99_ms']:.3f} ms p99 over "
         f"{figures['alone_queries']} queries", PYVISA_COMMAND),
        ("The same while the other instrument is silent and a client keeps asking it",
         f"{beside['median_ms']:.3f} ms median ({beside['median_ms'] / alone['median_ms']:.2f}× "
         f"alone), {beside['p99_ms']:.3f} ms p99 over {figures['beside_queries']} queries, "
         f"during {figures['silent_timeouts']} timeouts of the other", PYVISA_COMMAND),
    ]


def report(panel, remote, pyvisa, serve_all, autosearch):
    cpu_window = f"{panel['cpu_seconds']:.0f} s"
    panel_rows = [
        ("Start to window shown, median of "
         f"{panel['start_runs']} starts", beside_floor(panel["start_to_window_ms"],
                                                       panel["floor_to_window_ms"], "ms"),
         PANEL_COMMAND),
        ("Start to connected title", f"{panel['start_to_connected_ms']:.0f} ms median of "
         f"{panel['start_runs']} starts (max {panel['start_to_connected_max_ms']:.0f} ms)",
         PANEL_COMMAND),
        ("Key press to command at the instrument", f"{panel['key_to_instrument_median_ms']:.2f} ms"
         f" median, {panel['key_to_instrument_p99_ms']:.2f} ms p99 "
         f"(max {panel['key_to_instrument_max_ms']:.2f} ms) over {panel['presses']} presses",
         PANEL_COMMAND),
        ("Key press to command, command journal window open",
         f"{panel['journal_key_to_instrument_median_ms']:.2f} ms median, "
         f"{panel['journal_key_to_instrument_p99_ms']:.2f} ms p99 (same run, window closed: "
         f"{panel['key_to_instrument_median_ms']:.2f} ms)", PANEL_COMMAND),
        ("Resident memory (VmRSS) after start", beside_floor(
            panel["rss_after_start_mib"], panel["floor_rss_mib"], "MiB", 1), PANEL_COMMAND),
        ("CPU while connected and idle", f"{panel['cpu_idle_connected_percent']:.2f} % of one "
         f"core over {cpu_window}", PANEL_COMMAND),
        ("CPU while connected and idle, command journal window open",
         f"{panel['journal_cpu_idle_connected_percent']:.2f} % of one core over {cpu_window} "
         f"(same run, window closed: {panel['cpu_idle_connected_percent']:.2f} %)", PANEL_COMMAND),
        ("CPU while the instrument is unplugged", f"{panel['cpu_unplugged_percent']:.2f} % of "
         f"one core over {cpu_window}", PANEL_COMMAND),
        setup_recall_row(),
    ]
    remote_rows = [
        ("`FREQ?` round trip", f"{remote['query_median_ms']:.3f} ms median, "
         f"{remote['query_p99_ms']:.3f} ms p99 over {remote['queries']} queries", REMOTE_COMMAND),
        ("`FREQ n;FREQ?` round trip (set and read back)", f"{remote['set_median_ms']:.3f} ms "
         f"median, {remote['set_p99_ms']:.3f} ms p99 over {remote['queries']} lines",
         REMOTE_COMMAND),
        ("Queries one at a time", f"{remote['sequential_queries_per_s']:.0f} per second",
         REMOTE_COMMAND),
        (f"Queries {remote['pipeline_batch']} in flight",
         f"{remote['pipelined_queries_per_s']:.0f} per second", REMOTE_COMMAND),
    ] + pyvisa_rows(pyvisa) + serve_all_rows(serve_all)
    machine_rows = "\n".join(f"| {name} | {value} |" for name, value in machine())
    return f"""# Performance

Figures measured on the machine below by `scripts/bench --report`, which
wrote this file. Every figure names the command that measures it again; run
the commands from the top of the source tree after building (`scripts/bench`
builds what they need). The instruments are the simulated ones of
`rfgen-testbed`, so the serial link is a pseudo-terminal, not a USB adapter:
on a real instrument add its own response time.

## Machine

| | |
|---|---|
{machine_rows}

## The front panel program

`rfpanel` runs under its own Xvfb (1280×1024, 96 dpi, no window manager)
with one simulated QUENDT instrument, exactly as a user starts it
(`rfgen-testbed --model quendt -- build/app/rfpanel`). Times are taken from
outside: the window and its title are polled on the X server (every few
milliseconds, so a figure may be late by that much), key presses are sent
through the XTEST extension, and the instrument's frequency is polled through
the testbed's control socket. A key press is `D` or `A` (frequency one step up
or down); its latency ends when the instrument holds the new frequency. CPU is
the process's scheduler time over the stated wall-clock time. Qt's xcb GL
integration is off (the panel draws nothing with OpenGL), which keeps Mesa out
of the process. The floor of the start time and memory is one empty Qt widgets
window (`bench/floor_window.cpp`) started the same way on the same display.

{table(panel_rows)}

## Searching for instruments

`Searcher::autosearch` with one live instrument beside ports that never
answer; all ports are probed at once, so silent ports cost one reply
window (150 ms), not 150 ms each.

```
{autosearch}
```

Command: `{AUTOSEARCH_COMMAND}`

## Remote control

`rfgen serve` with one simulated QUENDT instrument, a plain TCP client on
the same machine (loopback, `TCP_NODELAY` on the client side), and a
pyvisa-py session (`TCPIP::127.0.0.1::PORT::SOCKET`) as a lab script uses it.
Each query goes to the instrument over its serial link and back. The floor
of the pyvisa figures is the same session against `socat` echoing each line
back, which costs only pyvisa and loopback. `rfgen serve --all` serves a
QUENDT and an ORVEX, each through a bridge process of its own; the second pair
of `--all` figures is taken while the ORVEX does not answer and another client
asks it `FREQ?` again as soon as each 500 ms timeout ends. Round trips
on a shared 2-core machine vary by about a factor of 3 from run to run.

{table(remote_rows)}
{pipelining_note(remote)}"""


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "docs", "performance.md")
    print("measuring autosearch ...", file=sys.stderr)
    autosearch = autosearch_table()
    print("measuring the panel program ...", file=sys.stderr)
    panel = panel_bench.measure()
    print("measuring remote control ...", file=sys.stderr)
    remote = remote_bench.measure()
    print("measuring remote control through pyvisa ...", file=sys.stderr)
    pyvisa = pyvisa_bench.measure_with_floor()
    print("measuring rfgen serve --all beside a silent instrument ...", file=sys.stderr)
    serve_all = pyvisa_bench.measure_beside_silent()
    text = report(panel, remote, pyvisa, serve_all, autosearch)  # before the file is emptied
    with open(target, "w") as out:
        out.write(text)
    print(f"wrote {target}", file=sys.stderr)


if __name__ == "__main__":
    main()
