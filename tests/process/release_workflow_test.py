"""The release workflow of the real app (--release-workflow-report=) under a private X server, with a
private JACK dummy server, a temporary home and a search path without ffmpeg: a healthy build reports
"pass": true, exits 0 and keeps every artefact; a run whose artefact folder cannot be made reports
"pass": false with the failing sentence, exits 1 and leaves no partial output.

    python3 release_workflow_test.py --app PATH [unittest names...]
"""

import json
import os
import shutil
import struct
import subprocess
import sys
import time
import unittest
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

APP = None
ARTIFACTS = "standalone-workflow-artifacts"
FLAGS = ["presetSearchAndFavourite", "macroLockUndo", "audioAndVisualQuality", "sourceRangeAndTransport",
         "captureCancelAndRetry", "projectSaveReopenRelink", "dependencyFailureFallback", "waveDragRetry",
         "keyboardOnlyPath", "namedScreenshotRetained", "noPartialOutput"]


class ReleaseWorkflowTest(unittest.TestCase):
    def setUp(self):
        self.home_context = harness.temporary_home()
        self.home = self.home_context.__enter__()
        self.addCleanup(self.home_context.__exit__, None, None, None)
        self.x = harness.Xvfb().__enter__()
        self.addCleanup(self.x.__exit__, None, None, None)
        self.jack = harness.JackServer(self.home).__enter__()
        self.addCleanup(harness.remove_jack_leftovers, self.jack.name)
        self.addCleanup(self.jack.__exit__, None, None, None)
        # Every tool the app may start, except the encoder: the social stage expects it missing.
        self.bin = os.path.join(self.home, "bin-without-ffmpeg")
        os.makedirs(self.bin)
        for tool in ("sh", "ffprobe"):
            found = shutil.which(tool)
            if found:
                os.symlink(found, os.path.join(self.bin, tool))

    def run_workflow(self, report):
        app = harness.StandaloneApp(APP, self.home, self.x.display, ["--release-workflow-report=" + report],
                                    jack_server=self.jack)
        app.env["PATH"] = self.bin
        self.addCleanup(app.__exit__, None, None, None)
        started = time.monotonic()
        app.start()
        code = app.wait(180)
        print("workflow exit %r after %.1f s" % (code, time.monotonic() - started))
        return app, code

    def test_a_healthy_build_passes_and_keeps_its_artefacts(self):
        out = os.path.join(self.home, "release")
        os.makedirs(out)
        report_path = os.path.join(out, "workflow.json")
        app, code = self.run_workflow(report_path)
        with open(report_path, "rb") as f:
            raw = f.read()
        self.assertIn(b"\r\n", raw)
        report = json.loads(raw)
        print(json.dumps({k: report[k] for k in ("sourceRequestMilliseconds", "maximumMessageTaskMilliseconds",
                                                  "failure", "pass")}))
        self.assertEqual(report["failure"], "", app.stderr_text())
        self.assertTrue(report["pass"])
        self.assertEqual(code, 0)
        for flag in FLAGS:
            self.assertTrue(report[flag], flag)
        self.assertLess(report["maximumMessageTaskMilliseconds"], 100)
        self.assertLess(report["sourceRequestMilliseconds"], 50)
        self.assertIn("ffmpeg", report["fallbackMessage"].lower())

        artifacts = os.path.join(out, ARTIFACTS)
        self.assertEqual(report["artifactDirectory"], artifacts)
        # The WAV exports, read back by Python's own reader.
        for name in ("SorvaneWorkflow.wav", "SorvaneWorkflow-Drag.wav"):
            with wave.open(os.path.join(artifacts, name), "rb") as w:
                self.assertEqual((w.getnchannels(), w.getsampwidth()), (2, 3), name)
                self.assertGreater(w.getnframes(), 48000, name)
        # The moved source and the project that found it there.
        self.assertTrue(os.path.exists(os.path.join(artifacts, "workflow-source-relinked.wav")))
        self.assertFalse(os.path.exists(os.path.join(artifacts, "workflow-source.wav")))
        with open(os.path.join(artifacts, "SorvaneWorkflow.sorvaneproject"), encoding="utf-8") as f:
            project = f.read()
        self.assertIn("SORVANE_PROJECT", project)
        # Saved before the move: it names the source where it was and finds it again by fingerprint.
        self.assertIn("workflow-source.wav", project)
        # The package without the video.
        social = os.path.join(artifacts, "SorvaneWorkflow-Social")
        self.assertEqual(sorted(os.listdir(social)),
                         ["preview.html", "sorvane-cover.png", "sorvane-result.json", "sorvane-teaser.wav"])
        # The named screenshot decodes as a PNG of the window's size.
        with open(os.path.join(artifacts, "installed-standalone-1180x720-100pct.png"), "rb") as f:
            png = f.read()
        self.assertEqual(png[:8], b"\x89PNG\r\n\x1a\n")
        width, height = struct.unpack(">II", png[16:24])
        self.assertGreaterEqual((width, height), (1100, 700))
        for root, _, files in os.walk(artifacts):
            for name in files:
                self.assertNotIn(".partial", name.lower())
                self.assertFalse(name.lower().endswith(".tmp"), name)

    def test_an_artefact_folder_that_cannot_be_reset_fails_the_run(self):
        out = os.path.join(self.home, "release")
        locked = os.path.join(out, ARTIFACTS)
        os.makedirs(locked)
        keep = os.path.join(locked, "kept-from-an-earlier-run.txt")
        with open(keep, "w") as f:
            f.write("earlier")
        # A folder whose content cannot be removed: immutable for root, whom permissions do not bind.
        if os.geteuid() == 0:
            subprocess.run(["chattr", "+i", keep], check=True)
            self.addCleanup(subprocess.run, ["chattr", "-i", keep])
        else:
            os.chmod(locked, 0o555)
            self.addCleanup(os.chmod, locked, 0o755)
        report_path = os.path.join(out, "workflow.json")
        app, code = self.run_workflow(report_path)
        self.assertEqual(code, 1, app.stderr_text())
        with open(report_path, encoding="utf-8") as f:
            report = json.load(f)
        self.assertFalse(report["pass"])
        self.assertEqual(report["failure"], "Could not reset the bounded workflow artifact directory.")
        self.assertEqual(sorted(os.listdir(out)), [ARTIFACTS, "workflow.json"])
        self.assertEqual(os.listdir(locked), ["kept-from-an-earlier-run.txt"])


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
