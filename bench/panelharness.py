"""Runs the real rfpanel program from outside: its own Xvfb, simulated
instruments from rfgen-testbed, xdotool for keys and clicks, the window title
read from the X server and the instruments watched through the testbed's
control socket. Used by the panel benchmark."""
import os
import re
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.abspath(os.environ.get("RFGEN_BUILD_DIR", os.path.join(HERE, "..", "build")))
PANEL = os.path.join(BUILD, "app", "rfpanel")
TESTBED = os.path.join(BUILD, "sim", "rfgen-testbed")
RFGEN = os.path.join(BUILD, "rfgen", "rfgen")
FLOOR = os.path.join(BUILD, "bench", "floor_window")

TITLE_BASE = "Генератор "
NOT_CONNECTED_TITLE = TITLE_BASE + ". Не подключен"
MODEL_NAMES = {"orvex": "Орвекс", "pylar": "Пилар", "quendt": "Квендт"}

# Waits for a file, starts the panel, records its id and, once it is gone, its
# exit status; then keeps the testbed (and so the instruments) alive until the
# test stops it, so the instruments can be asked what the panel left behind.
LAUNCHER = (
    'while [ ! -e "$1" ]; do sleep 0.02; done\n'
    '"$4" & echo $! > "$2"\n'
    'wait $!; echo $? > "$3.tmp"; mv "$3.tmp" "$3"\n'
    "exec sleep 3600\n")


def connected_title(model, port):
    return f"{TITLE_BASE}{MODEL_NAMES[model]}   ( {port} )"


def wait_until(probe, timeout, what, interval=0.02):
    """Polls probe() until it returns something true; fails after timeout s."""
    deadline = time.monotonic() + timeout
    last = None
    while True:
        last = probe()
        if last:
            return last
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}; last: {last!r}")
        time.sleep(interval)


def in_own_network(script):
    """Runs `script` again inside tests/netns.sh unless already there: a network
    namespace of its own, which needs root (else it says so and ends)."""
    if os.environ.get("RFGEN_IN_NETNS") == "1":
        return
    name = os.path.splitext(os.path.basename(script))[0]
    if os.getuid() != 0:
        raise SystemExit(print(f"{name}: needs root for a network namespace of its own, skipped"))
    os.execv(os.path.join(HERE, "..", "tests", "netns.sh"),
             ["netns.sh", sys.executable, os.path.abspath(script)])


def free_tcp_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def stop(process):
    """Asks a process to end, and makes it if it does not within 10 s."""
    process.terminate()
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class XServer:
    """A private Xvfb; the display number is picked by the server itself."""

    def __init__(self, workdir, dpi=96, screen="1280x1024x24"):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", screen, "-dpi", str(dpi),
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as reader:
            number = reader.readline().strip()
        if not number:
            self.process.kill()
            self.process.wait()
            raise RuntimeError("Xvfb did not start")
        runtime = os.path.join(workdir, "xdg-runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        self.env = dict(os.environ)
        for name in ("QT_QPA_PLATFORM", "LD_PRELOAD", "UMOCKDEV_DIR", "WAYLAND_DISPLAY"):
            self.env.pop(name, None)
        self.env.update(DISPLAY=":" + number, LANG="C.UTF-8", LC_ALL="C.UTF-8", LANGUAGE="",
                        XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="xcb")

    def run(self, *args, check=True):
        result = subprocess.run(args, env=self.env, capture_output=True, text=True, timeout=30)
        if check and result.returncode != 0:
            raise RuntimeError(f"{args[0]} failed: {result.stderr.strip()}")
        return result.stdout

    def visible_windows(self):
        out = self.run("xdotool", "search", "--onlyvisible", "--name", "", check=False)
        return [int(w) for w in out.split()]

    def windows(self, title_regex):
        """Visible windows whose title (_NET_WM_NAME) matches the expression.
        xdotool's own name search misses windows that carry no WM_NAME."""
        pattern = re.compile(title_regex)
        return [w for w in self.visible_windows() if pattern.search(self.title(w) or "")]

    def title(self, window):
        out = self.run("xprop", "-id", str(window), "-notype", "_NET_WM_NAME", check=False)
        start, end = out.find('"'), out.rfind('"')
        if start < 0 or end <= start:
            return None
        return out[start + 1:end].replace('\\"', '"').replace("\\\\", "\\")

    def focus(self, window):
        self.run("xdotool", "windowfocus", "--sync", str(window))

    def close(self):
        stop(self.process)


class ProcessStats:
    """What /proc tells about a running process."""

    def __init__(self, pid):
        self.pid = pid

    def rss_kib(self):
        with open(f"/proc/{self.pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        raise RuntimeError("no VmRSS")

    def cpu_seconds(self):
        """CPU time of all the process's threads: from the scheduler's
        nanosecond counters where the kernel keeps them, else clock ticks."""
        try:
            total = 0
            for task in os.listdir(f"/proc/{self.pid}/task"):
                with open(f"/proc/{self.pid}/task/{task}/schedstat") as schedstat:
                    total += int(schedstat.read().split()[0])
            return total / 1e9
        except (FileNotFoundError, ProcessLookupError):
            with open(f"/proc/{self.pid}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            # utime and stime are fields 14 and 15 of the whole line.
            return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class PanelRun:
    """One run of rfpanel inside rfgen-testbed, in the working directory given."""

    def __init__(self, xserver, workdir, models, silent_ports=0, unplugged=(), program=None,
                 title_regex="^" + TITLE_BASE):
        self.x = xserver
        self.title_regex = title_regex
        self.workdir = workdir
        self.models = list(models)
        self.window = None
        stamp = f"{time.monotonic_ns()}"
        self.control_path = os.path.join(workdir, f"control-{stamp}")
        self.go_path = os.path.join(workdir, f"go-{stamp}")
        self.pid_path = os.path.join(workdir, f"pid-{stamp}")
        self.status_path = os.path.join(workdir, f"status-{stamp}")
        self.log_path = os.path.join(workdir, f"panel-{stamp}.log")
        command = [TESTBED]
        for model in self.models:
            command += ["--model", model]
        if silent_ports:
            command += ["--silent", str(silent_ports)]
        command += ["--control", self.control_path, "--", "sh", "-c", LAUNCHER, "launcher",
                    self.go_path, self.pid_path, self.status_path, program or PANEL]
        self.log = open(self.log_path, "w")
        self.testbed = subprocess.Popen(command, cwd=workdir, env=xserver.env, stdout=self.log,
                                        stderr=subprocess.STDOUT)
        try:
            self.control_socket = wait_until(self.connect_control, 30,
                                             "the testbed's control socket")
            self.control_reader = self.control_socket.makefile("r", encoding="utf-8")
            for index in unplugged:
                self.control(f"unplug {index}")
        except BaseException:
            self.close()
            raise

    def connect_control(self):
        if self.testbed.poll() is not None:
            raise RuntimeError("rfgen-testbed exited: " + self.log_tail())
        connection = socket.socket(socket.AF_UNIX)
        try:
            connection.connect(self.control_path)
            return connection
        except (FileNotFoundError, ConnectionRefusedError):
            connection.close()
            return None

    def start(self):
        """Starts the panel; returns the monotonic time just before."""
        started = time.monotonic()
        open(self.go_path, "w").close()
        self.pid = int(wait_until(lambda: read_text(self.pid_path), 30, "the panel's process id"))
        self.stats = ProcessStats(self.pid)
        return started

    def control(self, line):
        """A command to the testbed; returns the value after "ok"."""
        self.control_socket.sendall(line.encode() + b"\n")
        reply = self.control_reader.readline().strip()
        if reply != "ok" and not reply.startswith("ok "):
            raise AssertionError(f"testbed refused {line!r}: {reply}")
        return reply[3:]

    def setting(self, index, query):
        return self.control(f"get {index} {query}")

    def port(self, index):
        return self.control(f"port {index}")

    def main_window(self, timeout=30):
        if self.window is None:
            found = wait_until(lambda: self.x.windows(self.title_regex), timeout,
                               "the panel's window", interval=0.01)
            self.window = found[0]
        return self.window

    def title(self):
        return self.x.title(self.main_window())

    def wait_title(self, expected, timeout, interval=0.02):
        wait_until(lambda: self.title() == expected, timeout,
                   f"the title {expected!r} (panel log: {self.log_tail()})", interval)

    def terminate(self, timeout=30):
        """SIGTERM to the panel; returns its exit status."""
        os.kill(self.pid, signal.SIGTERM)
        wait_until(lambda: os.path.exists(self.status_path), timeout, "the panel to exit")
        return int(read_text(self.status_path))

    def has_exited(self):
        return os.path.exists(self.status_path)

    def log_tail(self, lines=15):
        self.log.flush()
        with open(self.log_path, errors="replace") as log:
            return "".join(log.readlines()[-lines:])

    def close(self):
        pid = read_text(self.pid_path)
        if pid and not self.has_exited():
            try:
                os.kill(int(pid), signal.SIGKILL)
            except ProcessLookupError:
                pass
        if self.testbed.poll() is None:
            stop(self.testbed)
        if hasattr(self, "control_reader"):
            self.control_reader.close()
        if hasattr(self, "control_socket"):
            self.control_socket.close()
        self.log.close()


def read_text(path):
    """The stripped text of a file, or "" while it does not exist."""
    try:
        with open(path) as file:
            return file.read().strip()
    except FileNotFoundError:
        return ""
