"""SHARE RESULT in the real stand-alone app: the app plays a generated source on a private JACK dummy
server under a private X server with a temporary home; the test clicks SHARE RESULT, names the parent
folder in the app's own folder chooser and checks the package on disk: with ffmpeg on the search path
an H.264/AAC MP4 of the profile's size (read by ffprobe), without it the four other files only. A third
run clicks the export overlay's CANCEL while the encoder works: nothing is left behind.

    python3 share_result_app_test.py --app PATH --probe PATH [unittest names...]
"""

import json
import os
import shutil
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import capture_export_app_test as app_test  # noqa: E402

CHOOSER_TITLE = "Choose a parent folder for the new Sorvane result package"
PACKAGE_FILES = ["preview.html", "sorvane-cover.png", "sorvane-result.json", "sorvane-teaser.wav"]


class ShareResultAppTest(app_test.CaptureExportAppTest):
    # The capture test's own case runs in its own file.
    test_capture_one_bar_and_export_with_ctrl_e_matches_the_recording = None

    def share_into(self, parent, search_path=None, cancel_when=None):
        """Starts the app, clicks SHARE RESULT and chooses parent; returns the app and the screen."""
        source = os.path.join(self.home, "sources", "tone.wav")
        if not os.path.exists(source):
            app_test.write_source(source)
        os.makedirs(parent, exist_ok=True)
        env = {"PATH": search_path} if search_path is not None else None
        app = self.start_app(source, env=env)
        self.assertTrue(harness.wait_until(
            lambda: app.proc.poll() is not None or
            "Sorvane:out_2\n   system:playback_2" in (self.jack.lsp("-c") or ""), 60),
            "the app did not connect to JACK; stderr:\n" + app.stderr_text())
        window = harness.wait_until(lambda: self.window("^Sorvane$"), 30)
        self.assertIsNotNone(window, "the app's window is not on the screen")
        origin, controls = self.layout(window)
        screen = harness.XInput(self.x.display)
        self.addCleanup(screen.close)
        share = self.control(controls, type="Button", text="SHARE RESULT")
        cancel = [c for c in controls if c["type"] == "Button" and c["text"] == "CANCEL"]
        self.assertEqual(len(cancel), 1, "the export overlay's CANCEL is not in the editor")

        # The source loads in the background: the chooser opens once there is something to share.
        chooser = None
        for _ in range(20):
            self.click(screen, origin, share)
            chooser = harness.wait_until(lambda: self.window("^%s$" % CHOOSER_TITLE), 3)
            if chooser:
                break
        self.assertIsNotNone(chooser, "SHARE RESULT opened no folder chooser")
        time.sleep(0.5)
        cx, cy, cw, ch = chooser
        for _ in range(3):
            # Return in the path box makes the typed folder the chooser's current one; the button at
            # the bottom right then chooses it.
            screen.click(cx + cw // 2, cy + ch - 63)
            time.sleep(0.3)
            screen.keys("Control_L", "a")
            screen.type(parent)
            screen.keys("Return")
            time.sleep(0.5)
            screen.click(cx + cw - 45, cy + ch - 30)
            if harness.wait_until(lambda: self.window("^%s$" % CHOOSER_TITLE) is None, 5):
                break
        self.assertIsNone(self.window("^%s$" % CHOOSER_TITLE), "the chooser did not take the folder")

        if cancel_when is not None:
            self.assertTrue(harness.wait_until(lambda: cancel_when(app), 60), "nothing to cancel came")
            self.click(screen, origin, cancel[0])
        return app

    def wait_for_package(self, parent, app):
        # The staging folder is renamed to the package's name in one step when everything is written.
        def published():
            names = os.listdir(parent)
            return names if len(names) == 1 and not names[0].endswith(".partial") else None
        found = harness.wait_until(published, 120)
        self.assertTrue(found, "no package in %s: %r; stderr:\n%s" % (parent, os.listdir(parent), app.stderr_text()))
        self.assertRegex(found[0], r"^Sorvane-Result-\d{8}-\d{6}$")
        return os.path.join(parent, found[0])

    def quit(self, app):
        app.proc.send_signal(signal.SIGINT)
        self.assertEqual(app.wait(20), 0, app.stderr_text())

    def test_share_with_the_encoder_makes_the_video(self):
        parent = os.path.join(self.home, "results")
        app = self.share_into(parent)
        package = self.wait_for_package(parent, app)
        self.assertEqual(sorted(os.listdir(package)), sorted(PACKAGE_FILES + ["sorvane-teaser.mp4"]))
        probe = app_test.run("ffprobe", "-v", "error", "-print_format", "json", "-show_streams", "-show_format",
                             os.path.join(package, "sorvane-teaser.mp4"))
        self.assertEqual(probe.returncode, 0, probe.stderr)
        info = json.loads(probe.stdout)
        video = [s for s in info["streams"] if s["codec_type"] == "video"][0]
        audio = [s for s in info["streams"] if s["codec_type"] == "audio"][0]
        self.assertEqual((video["codec_name"], video["width"], video["height"]), ("h264", 1080, 1920))
        self.assertEqual(audio["codec_name"], "aac")
        # The 4-second source, whole, as before then after: 8 seconds.
        self.assertLess(abs(float(info["format"]["duration"]) - 8.0), 1.0 / 30.0 + 0.03)
        with open(os.path.join(package, "sorvane-result.json"), encoding="utf-8") as f:
            metadata = json.load(f)
        self.assertEqual(metadata["profile"], "9:16 / Tressel Rings / 8.0 s")
        self.assertEqual(metadata["inputDurationSeconds"], 8.0)
        self.quit(app)

    def test_share_without_the_encoder_keeps_the_rest(self):
        parent = os.path.join(self.home, "results")
        bare = os.path.join(self.home, "bare-bin")
        os.makedirs(bare)
        app = self.share_into(parent, search_path=bare)
        package = self.wait_for_package(parent, app)
        self.assertEqual(sorted(os.listdir(package)), PACKAGE_FILES)
        self.quit(app)

    def test_cancel_on_the_overlay_leaves_nothing(self):
        parent = os.path.join(self.home, "results")
        # A stand-in encoder that works for a long time, so CANCEL certainly lands while it runs.
        slow = os.path.join(self.home, "slow-bin")
        os.makedirs(slow)
        with open(os.path.join(slow, "ffmpeg"), "w") as f:
            f.write("#!/bin/sh\n[ \"$1\" = -version ] && exit 0\nexec sleep 60\n")
        os.chmod(os.path.join(slow, "ffmpeg"), 0o755)
        def encoding(app):
            return subprocess.run(["pgrep", "-f", "-P", str(app.pid), "sleep 60"], capture_output=True,
                                  text=True).stdout.strip()

        # CANCEL is clicked while the stand-in encodes, with the rest of the package already staged.
        app = self.share_into(parent, search_path=slow + ":/usr/bin:/bin", cancel_when=encoding)
        self.assertTrue(harness.wait_until(lambda: os.listdir(parent) == [], 10),
                        "a cancelled share left %r" % os.listdir(parent))
        self.assertTrue(harness.wait_until(lambda: not encoding(app), 5), "the encoder outlived the cancel")
        self.quit(app)


def main(argv):
    harness.exit_cleanly_on_sigterm()
    if len(argv) < 4 or argv[0] != "--app" or argv[2] != "--probe":
        print(__doc__, file=sys.stderr)
        return 2
    app_test.APP = os.path.abspath(argv[1])
    app_test.PROBE = os.path.abspath(argv[3])
    program = unittest.main(argv=[sys.argv[0], "-v", *argv[4:]], exit=False)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
