#!/usr/bin/python3
"""Speed and footprint of the real rfpanel program under Xvfb with a simulated
instrument: start to window, start to connected title, key press to command at
the instrument, memory after start, CPU while connected and idle, CPU while the
instrument is unplugged. Prints one line per figure; --json prints them as JSON.
RFGEN_BUILD_DIR selects the build directory (default: build)."""
import argparse
import ctypes
import json
import shutil
import statistics
import tempfile
import time

from panelharness import (FLOOR, NOT_CONNECTED_TITLE, PanelRun, XServer, connected_title,
                          wait_until)
from remote_bench import percentile

MODEL = "quendt"


class KeyPresser:
    """Key presses sent straight through XTEST, so that the time of sending is
    known to the microsecond (a spawned xdotool would add its own start-up)."""

    def __init__(self, display):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XStringToKeysym.restype = ctypes.c_ulong
        self.x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
        self.x11.XKeysymToKeycode.restype = ctypes.c_ubyte
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                ctypes.c_ulong]
        self.display = self.x11.XOpenDisplay(display.encode())
        if not self.display:
            raise RuntimeError("cannot open display " + display)

    def press(self, key, modifier=None):
        codes = [self.x11.XKeysymToKeycode(self.display, self.x11.XStringToKeysym(k.encode()))
                 for k in ([modifier] if modifier else []) + [key]]
        for code in codes:
            self.xtst.XTestFakeKeyEvent(self.display, code, 1, 0)
        for code in reversed(codes):
            self.xtst.XTestFakeKeyEvent(self.display, code, 0, 0)
        self.x11.XFlush(self.display)

    def close(self):
        self.x11.XCloseDisplay(self.display)


def measure_start(x, workdir, runs):
    """Seconds from starting the program to its window, and to the connected title."""
    to_window, to_connected = [], []
    for _ in range(runs):
        run = PanelRun(x, workdir, [MODEL])
        try:
            started = run.start()
            run.main_window()
            to_window.append(time.monotonic() - started)
            run.wait_title(connected_title(MODEL, run.port(0)), 15, interval=0.002)
            to_connected.append(time.monotonic() - started)
            run.terminate()
        finally:
            run.close()
    return to_window, to_connected


def measure_floor(x, workdir, runs):
    """The same start for one empty Qt window: milliseconds to the window shown
    (median of runs) and its RSS after the same settling time as the panel."""
    to_window, rss = [], 0
    for i in range(runs):
        run = PanelRun(x, workdir, [MODEL], program=FLOOR, title_regex="^rfgen floor$")
        try:
            started = run.start()
            run.main_window()
            to_window.append(time.monotonic() - started)
            if i == runs - 1:
                time.sleep(2.0)
                rss = run.stats.rss_kib()
            run.terminate()
        finally:
            run.close()
    return statistics.median(to_window) * 1000, rss / 1024


def measure_key_latency(run, presser, presses):
    """Milliseconds from a D or A press to the new frequency at the instrument."""
    samples = []
    frequency = run.setting(0, "FREQ?")
    for i in range(presses):
        key = "d" if i % 2 == 0 else "a"
        sent = time.perf_counter()
        presser.press(key)
        frequency = wait_until(lambda: changed(run.setting(0, "FREQ?"), frequency), 10,
                               f"press {i} at the instrument", interval=0)
        samples.append((time.perf_counter() - sent) * 1000)
    return samples


def changed(value, before):
    return value if value != before else None


def cpu_share(run, seconds):
    before, started = run.stats.cpu_seconds(), time.monotonic()
    time.sleep(seconds)
    return (run.stats.cpu_seconds() - before) / (time.monotonic() - started)


def idle_and_keys(run, x, presser, presses, cpu_seconds):
    """CPU share while idle, then key-to-instrument latencies."""
    idle = cpu_share(run, cpu_seconds)
    x.focus(run.main_window())
    return idle, measure_key_latency(run, presser, presses)


def measure(start_runs=5, presses=200, cpu_seconds=10.0):
    workdir = tempfile.mkdtemp(prefix="rfpanel-bench-")
    x = XServer(workdir)
    try:
        to_window, to_connected = measure_start(x, workdir, start_runs)
        floor_window_ms, floor_rss_mib = measure_floor(x, workdir, start_runs)
        run = PanelRun(x, workdir, [MODEL])
        try:
            run.start()
            run.wait_title(connected_title(MODEL, run.port(0)), 15)
            time.sleep(2.0)  # let the first polls and lazy initialisation finish
            rss_after_start = run.stats.rss_kib()
            presser = KeyPresser(x.env["DISPLAY"])
            try:
                idle_connected, latencies = idle_and_keys(run, x, presser, presses, cpu_seconds)
                # The same with the command journal's window open (Ctrl+J).
                presser.press("j", modifier="Control_L")
                wait_until(lambda: x.windows("^Журнал команд$"), 10, "the journal window")
                journal_idle, journal_latencies = idle_and_keys(run, x, presser, presses,
                                                                cpu_seconds)
            finally:
                presser.close()
            run.control("unplug 0")
            run.wait_title(NOT_CONNECTED_TITLE, 10)
            time.sleep(1.0)
            unplugged = cpu_share(run, cpu_seconds)
            run.terminate()
        finally:
            run.close()
    finally:
        x.close()
        shutil.rmtree(workdir, ignore_errors=True)
    return {
        "start_runs": start_runs,
        "start_to_window_ms": statistics.median(to_window) * 1000,
        "start_to_window_max_ms": max(to_window) * 1000,
        "floor_to_window_ms": floor_window_ms,
        "floor_rss_mib": floor_rss_mib,
        "start_to_connected_ms": statistics.median(to_connected) * 1000,
        "start_to_connected_max_ms": max(to_connected) * 1000,
        "presses": presses,
        "key_to_instrument_median_ms": statistics.median(latencies),
        "key_to_instrument_p99_ms": percentile(latencies, 0.99),
        "key_to_instrument_max_ms": max(latencies),
        "rss_after_start_mib": rss_after_start / 1024,
        "cpu_seconds": cpu_seconds,
        "cpu_idle_connected_percent": idle_connected * 100,
        "cpu_unplugged_percent": unplugged * 100,
        "journal_key_to_instrument_median_ms": statistics.median(journal_latencies),
        "journal_key_to_instrument_p99_ms": percentile(journal_latencies, 0.99),
        "journal_cpu_idle_connected_percent": journal_idle * 100,
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--json", action="store_true", help="print the figures as JSON")
    parser.add_argument("--presses", type=int, default=200)
    parser.add_argument("--starts", type=int, default=5)
    args = parser.parse_args()
    figures = measure(args.starts, args.presses)
    if args.json:
        print(json.dumps(figures, indent=2))
        return
    print(f"rfpanel with a simulated {MODEL} under Xvfb")
    print(f"  start to window shown      {figures['start_to_window_ms']:8.0f} ms median "
          f"of {args.starts} (max {figures['start_to_window_max_ms']:.0f})")
    print(f"  floor: empty Qt window     {figures['floor_to_window_ms']:8.0f} ms median, "
          f"{figures['floor_rss_mib']:.1f} MiB RSS")
    print(f"  start to connected title   {figures['start_to_connected_ms']:8.0f} ms median "
          f"of {args.starts} (max {figures['start_to_connected_max_ms']:.0f})")
    print(f"  key press to instrument    {figures['key_to_instrument_median_ms']:8.2f} ms median, "
          f"{figures['key_to_instrument_p99_ms']:.2f} ms p99 of {args.presses} presses")
    print(f"  RSS after start            {figures['rss_after_start_mib']:8.1f} MiB")
    print(f"  CPU idle, connected        {figures['cpu_idle_connected_percent']:8.2f} % of a core")
    print(f"  with the journal window open: key press to instrument "
          f"{figures['journal_key_to_instrument_median_ms']:.2f} ms median, "
          f"{figures['journal_key_to_instrument_p99_ms']:.2f} ms p99; CPU idle "
          f"{figures['journal_cpu_idle_connected_percent']:.2f} %")
    print(f"  CPU while unplugged        {figures['cpu_unplugged_percent']:8.2f} % of a core")


if __name__ == "__main__":
    main()
