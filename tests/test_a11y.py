#!/usr/bin/python3
"""What a screen reader gets of the real rfpanel, over AT-SPI: the program runs
under its own Xvfb with a simulated instrument, in a D-Bus session of the
test's own, started with accessibility on before the test brings up the
accessibility bus (importing pyatspi does)."""
import os, re, shutil, subprocess, sys, tempfile, unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "bench"))
from panelharness import PanelRun, XServer, connected_title, wait_until  # noqa: E402

if os.environ.get("RFGEN_OWN_DBUS") != "1":  # a session bus of the test's own
    os.environ["RFGEN_OWN_DBUS"] = "1"
    os.execvp("dbus-run-session", ["dbus-run-session", "--", sys.executable, *sys.argv])


def accessible_names(node, depth=0):
    """Every name in the tree below node (role, name) pairs, depth first."""
    found = [(node.getRoleName(), node.name)]
    for index in range(node.childCount if depth < 30 else 0):
        child = node.getChildAtIndex(index)
        if child is not None:
            found += accessible_names(child, depth + 1)
    return found


class AccessibilityTest(unittest.TestCase):
    def test_readouts_say_caption_value_and_unit(self):
        work = tempfile.mkdtemp(prefix="rfgen-a11y-")
        self.addCleanup(shutil.rmtree, work, True)
        x = XServer(work)
        self.addCleanup(x.close)
        x.env.update(QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", LANG="ru_RU.UTF-8",
                     LC_ALL="ru_RU.UTF-8")
        run = PanelRun(x, work, ["orvex"])
        self.addCleanup(run.close)
        run.start()
        title = connected_title("orvex", run.port(0).split()[-1])
        wait_until(lambda: x.windows("^" + re.escape(title) + "$"), 30, "the connected title")
        import pyatspi  # only now: the panel must see the accessibility bus appear

        def panel_names():
            desktop = pyatspi.Registry.getDesktop(0)
            apps = [desktop.getChildAtIndex(i) for i in range(desktop.childCount)]
            return [n for app in apps if app is not None and app.name == "rfpanel"
                    for role, n in accessible_names(app) if "button" not in role]
        names = wait_until(  # buttons left out: the digit keys are named by their digits
lambda: (lambda n: "Частота 100 МГц" in n and n)(panel_names()),
                           30, "the frequency read-out's name")
        self.assertIn("Частота 100 МГц", names)
        self.assertIn("Амплитуда 100 мВ", names)
        self.assertFalse([n for n in names if re.fullmatch(r"[0-9.]+", n or "")],
                         "a read-out named by its digits alone")


if __name__ == "__main__":
    unittest.main(verbosity=2)
