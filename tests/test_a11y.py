#!/usr/bin/python3
"""What a screen reader gets of the real rfpanel, over AT-SPI, in Russian and
in English. Each look runs in a process and D-Bus session of its own: the
program starts under its own Xvfb with a simulated instrument and
accessibility on, and only then does the look bring up the accessibility bus
(importing pyatspi does). The extents AT-SPI reports also show the face
keeping its proportions at 1.5 times the dpi."""
import json, os, re, shutil, subprocess, sys, tempfile, unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "bench"))
from panelharness import PanelRun, XServer, wait_until  # noqa: E402


def accessible_objects(node, depth=0):
    """Every object in the tree below node, depth first."""
    found = [node]
    for index in range(node.childCount if depth < 30 else 0):
        child = node.getChildAtIndex(index)
        if child is not None:
            found += accessible_objects(child, depth + 1)
    return found


def look(language, dpi, wanted):
    """Prints {name: [x, y, w, h] within the window} of the panel's objects that
    are not buttons (the digit keys are named by their digits) once the wanted
    name shows."""
    work = tempfile.mkdtemp(prefix="rfgen-a11y-")
    x = XServer(work, dpi, "2000x1200x24")
    x.env.update(QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", LANGUAGE=language)
    run = PanelRun(x, work, ["orvex"], title_regex="^(Генератор|Generator) ")
    try:
        run.start()
        run.main_window()
        import pyatspi  # only now: the panel must see the accessibility bus appear

        def objects():
            desktop = pyatspi.Registry.getDesktop(0)
            found = {}
            for app in (desktop.getChildAtIndex(i) for i in range(desktop.childCount)):
                if app is None or app.name != "rfpanel" or not app.childCount:
                    continue
                window = app.getChildAtIndex(0)
                origin = window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
                for node in accessible_objects(window):
                    if "button" not in node.getRoleName():
                        box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
                        found[node.name] = [box.x - origin.x, box.y - origin.y,
                                            box.width, box.height]
            return found
        found = wait_until(lambda: (lambda o: wanted in o and o)(objects()), 30, wanted)
        size = x.run("xdotool", "getwindowgeometry", str(run.main_window()))
        found["window on screen"] = [int(n) for n in re.search(r"(\d+)x(\d+)", size).groups()]
        print(json.dumps(found))
    finally:
        run.close()
        x.close()
        shutil.rmtree(work, True)


class AccessibilityTest(unittest.TestCase):
    def panel(self, language, dpi, wanted):
        out = subprocess.run(["dbus-run-session", "--", sys.executable, __file__, "look",
                              language, str(dpi), wanted],
                             check=True, stdout=subprocess.PIPE, text=True).stdout
        return json.loads(out.strip().splitlines()[-1])

    def test_readouts_in_both_languages_and_at_any_dpi(self):
        russian = self.panel("", 96, "Частота 100 МГц")  # LANG=C.UTF-8: the panel's own
        self.assertIn("Амплитуда 100 мВ", russian)
        english = self.panel("en", 96, "Frequency 100 MHz")
        self.assertIn("Amplitude 100 mV", english)
        for names in (russian, english):
            self.assertFalse([n for n in names if re.fullmatch(r"[0-9.]+", n or "")],
                             "a read-out named by its digits alone")
        self.assertFalse([n for n in english if re.search("[а-яА-ЯёЁ]", n or "")])
        # At 144 dpi the window takes 1.5 times the screen pixels, and inside it
        # (AT-SPI gives Qt's own, unscaled units) every read-out keeps its place.
        larger = self.panel("en", 144, "Frequency 100 MHz")
        for place, scaled in zip(english["window on screen"], larger["window on screen"]):
            self.assertAlmostEqual(scaled, place * 1.5, delta=2)
        for name in ("Frequency 100 MHz", "Amplitude 100 mV", "Attenuation 0 dB", "MHz"):
            self.assertEqual(larger[name], english[name], name)


if __name__ == "__main__":
    if sys.argv[1:2] == ["look"]:
        look(sys.argv[2], int(sys.argv[3]), sys.argv[4])
    else:
        unittest.main(verbosity=2)
