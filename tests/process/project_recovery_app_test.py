"""Recovery in the real app: a killed app leaves an unclean session and its autosave, the next start
offers them, and Restore brings the source back; a clean quit (SIGINT, SIGTERM) leaves nothing to
recover.

    python3 project_recovery_app_test.py --app PATH [unittest names...]
"""

import math
import os
import signal
import struct
import sys
import time
import unittest
import wave
from xml.etree import ElementTree

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

APP = None
PROMPT = "Recover unsaved Sorvane work?"


def write_tone(path, seconds=1.0, rate=48000):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(b"".join(struct.pack("<h", int(12000 * math.sin(2 * math.pi * 330 * i / rate)))
                               for i in range(int(seconds * rate))))
    return path


class ProjectRecoveryAppTest(unittest.TestCase):
    def setUp(self):
        self.home_context = harness.temporary_home()
        self.home = self.home_context.__enter__()
        self.addCleanup(self.home_context.__exit__, None, None, None)
        self.x = harness.Xvfb().__enter__()
        self.addCleanup(self.x.__exit__, None, None, None)
        self.recovery = os.path.join(self.home, ".config", "Kavix", "Sorvane", "Recovery")

    def start(self, *args, name="app"):
        app = harness.StandaloneApp(APP, self.home, self.x.display, args, name=name)
        self.addCleanup(app.__exit__, None, None, None)
        app.start()
        ready = harness.wait_until(
            lambda: app.proc.poll() is not None or signal.SIGTERM in harness.caught_signals(app.pid), 30)
        self.assertTrue(ready and app.proc.poll() is None, "the app did not come up: " + app.stderr_text())
        return app

    def session_clean(self):
        return ElementTree.parse(os.path.join(self.recovery, "Session.xml")).getroot().get("clean")

    def quit(self, app, sig):
        app.proc.send_signal(sig)
        self.assertEqual(app.wait(20), 0, app.stderr_text())

    def test_a_killed_app_offers_its_autosave_and_a_clean_quit_does_not(self):
        tone = write_tone(os.path.join(self.home, "sounds", "take.wav"))
        autosave = os.path.join(self.recovery, "Autosave.sorvaneproject")

        # Loading a source is work: it is autosaved at once, then the app dies.
        app = self.start(tone)
        self.assertTrue(harness.wait_until(lambda: os.path.exists(autosave), 30),
                        "no autosave was written; stderr:\n" + app.stderr_text())
        self.assertIn("take.wav", open(autosave, encoding="utf-8").read())
        self.assertEqual(self.session_clean(), "0")
        app.proc.send_signal(signal.SIGKILL)
        app.wait(10)
        self.assertEqual(self.session_clean(), "0", "a killed app never records a clean close")

        # The next start offers it; Return chooses Restore.
        app = self.start(name="restart")
        geometry = harness.wait_until(lambda: harness.window_geometry(self.x.display, PROMPT), 30)
        self.assertIsNotNone(geometry, "no recovery prompt; stderr:\n" + app.stderr_text())
        screen = harness.XInput(self.x.display)
        self.addCleanup(screen.close)
        x, y, width, height = geometry
        for _ in range(3):
            screen.click(x + width // 2, y + 12)
            screen.keys("Return")
            if harness.wait_until(lambda: harness.window_geometry(self.x.display, PROMPT) is None, 5):
                break
        self.assertIsNone(harness.window_geometry(self.x.display, PROMPT), "the prompt did not take Return")
        time.sleep(2.0)  # the restore publishes on the message thread
        self.quit(app, signal.SIGINT)
        state = harness.processor_state(app.settings())
        self.assertEqual(state.get("samplePath"), tone, "the restored session holds the source again")
        self.assertEqual(self.session_clean(), "1")

        # Closed cleanly: nothing is offered, though the autosave may still be on disk.
        app = self.start(name="after-clean-quit")
        time.sleep(3.0)
        self.assertIsNone(harness.window_geometry(self.x.display, PROMPT))
        self.quit(app, signal.SIGTERM)
        self.assertEqual(self.session_clean(), "1", "SIGTERM goes through the normal quit too")


def main(argv):
    global APP
    harness.exit_cleanly_on_sigterm()
    if len(argv) < 2 or argv[0] != "--app":
        print(__doc__, file=sys.stderr)
        return 2
    APP = os.path.abspath(argv[1])
    program = unittest.main(argv=[sys.argv[0], "-v", *argv[2:]], exit=False)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
