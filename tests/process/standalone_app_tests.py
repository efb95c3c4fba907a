"""Process tests of the stand-alone app: the real binary on a private X server (and, where audio
matters, a private JACK server), each run with a temporary home folder.

    python3 standalone_app_tests.py --app PATH [unittest names...]
"""

import json
import math
import os
import signal
import socket
import stat
import struct
import subprocess
import sys
import time
import unittest
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import end_to_end_audio_test as audio  # noqa: E402
import harness  # noqa: E402

APP = None

# Playback of the generated tone settles near 0.27 RMS after the level matcher's first moments; the
# processor's silence measures exactly 0.
AUDIBLE = 0.05
SILENT = 1e-4

SMOKE_KEYS = ["schemaVersion", "product", "version", "windowVisible", "processorReady", "topLevelWindowCount",
              "normalQuitRequested", "pass"]
INSTANCE_KEYS = ["schemaVersion", "product", "version", "policy", "ownerReady", "anotherInstanceObserved",
                 "existingWindowFocused", "final", "pass"]

def read_report(path):
    with open(path, "rb") as f:
        raw = f.read()
    return raw, json.loads(raw.decode("utf-8"), object_pairs_hook=list)

def write_tone(path, seconds=0.5, rate=48000):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(b"".join(struct.pack("<h", int(12000 * math.sin(2 * math.pi * 440 * i / rate)))
                               for i in range(int(seconds * rate))))
    return path

HANDOVER_SENTENCE = "Sorvane is already running; handed over to the running instance."

def types_of(pairs):
    return [(key, type(value).__name__) for key, value in pairs]

class AppTestCase(unittest.TestCase):
    """A temporary home (with its private runtime folder) and a private X server for each test."""

    def setUp(self):
        self.home_context = harness.temporary_home()
        self.home = self.home_context.__enter__()
        self.addCleanup(self.home_context.__exit__, None, None, None)
        self.x = harness.Xvfb().__enter__()
        self.addCleanup(self.x.__exit__, None, None, None)

    def app(self, *args, name="app", jack=None, display=None, cwd=None, settings=None, runtime_folder=None):
        app = harness.StandaloneApp(APP, self.home, display or self.x.display, args, jack_server=jack, name=name,
                                    cwd=cwd, runtime_folder=runtime_folder)
        self.addCleanup(app.__exit__, None, None, None)
        if settings is not None:
            app.write_settings(settings)
        return app.start()

    def quit_and_read_state(self, app):
        """SIGINT goes through the normal quit, which saves the processor state."""
        self.wait_for_signal_handlers(app)
        app.proc.send_signal(signal.SIGINT)
        self.assert_exit(app, 0, 15)
        return harness.processor_state(self.assert_quit_through_shutdown(app))

    def assert_exit(self, app, expected, timeout):
        code = app.wait(timeout)
        self.assertIsNotNone(code, "still running after %.1f s" % timeout)
        self.assertEqual(code, expected, "exit code %s (negative: killed by signal); stderr:\n%s"
                         % (code, app.stderr_text()))

    def assert_crlf_only(self, raw):
        self.assertIn(b"\r\n", raw)
        self.assertEqual(raw.count(b"\n"), raw.count(b"\r\n"))
        self.assertEqual(raw.count(b"\r"), raw.count(b"\r\n"))

    def assert_quit_through_shutdown(self, app):
        settings = app.settings()
        self.assertTrue(settings.get("filterState"), "no processor state saved: " + repr(settings.keys()))
        self.assertIn("windowX", settings)
        self.assertIn("windowY", settings)
        return settings

    def wait_for_signal_handlers(self, app):
        # The app catches SIGTERM only once its quit handler is installed; JUCE never does.
        ready = harness.wait_until(
            lambda: app.proc.poll() is not None or signal.SIGTERM in harness.caught_signals(app.pid), 15)
        self.assertIsNone(app.proc.poll(), "app ended early; stderr:\n" + app.stderr_text())
        self.assertTrue(ready)
        self.assertEqual(harness.instance_lock_holder(app.runtime_folder), app.pid,
                         "the app does not own the instance lock")

class StandaloneAppTests(AppTestCase):
    def test_smoke_report_in_any_letter_case(self):
        spellings = [
            ("--release-smoke-report=", "reports/smoke.json"),
            ("--RELEASE-SMOKE-REPORT=", "new folder/with space/SMOKE.json"),
        ]
        for option, relative in spellings:
            with self.subTest(option=option):
                report = os.path.join(self.home, relative)
                app = self.app(option + report)
                self.assert_exit(app, 0, 15)
                self.assertLess(app.elapsed(), 6.0)

                raw, pairs = read_report(report)
                self.assertEqual([k for k, _ in pairs], SMOKE_KEYS)
                self.assertEqual(types_of(pairs), [("schemaVersion", "int"), ("product", "str"),
                                                   ("version", "str"), ("windowVisible", "bool"),
                                                   ("processorReady", "bool"), ("topLevelWindowCount", "int"),
                                                   ("normalQuitRequested", "bool"), ("pass", "bool")])
                values = dict(pairs)
                self.assertEqual(values["schemaVersion"], 1)
                self.assertEqual(values["product"], "Sorvane")
                self.assertEqual(values["version"], "2.13.3")
                self.assertIs(values["windowVisible"], True)
                self.assertIs(values["processorReady"], True)
                self.assertGreaterEqual(values["topLevelWindowCount"], 1)
                self.assertIs(values["pass"], True)
                self.assert_crlf_only(raw)
                self.assertEqual(os.listdir(os.path.dirname(report)), [os.path.basename(report)])
                self.assert_quit_through_shutdown(app)

    def test_report_folder_that_cannot_be_created_exits_1(self):
        blocker = os.path.join(self.home, "blocker")
        with open(blocker, "w") as f:
            f.write("a file where a folder is needed")
        for option in ("--release-smoke-report=", "--release-instance-owner-report="):
            with self.subTest(option=option):
                app = self.app(option + os.path.join(blocker, "sub", "report.json"))
                self.assert_exit(app, 1, 15)
                self.assertIn("Could not create the report folder", app.stderr_text())
                self.assert_quit_through_shutdown(app)

    def test_instance_owner_passes_when_a_second_launch_arrives(self):
        report = os.path.join(self.home, "owner", "instance.json")
        owner = self.app("--release-instance-owner-report=" + report, name="owner")

        # The first report (final false) is written once the window is up.
        self.assertTrue(harness.wait_until(lambda: os.path.exists(report) or owner.proc.poll() is not None, 15))
        self.assertIsNone(owner.proc.poll(), owner.stderr_text())
        self.assertEqual(harness.instance_lock_holder(owner.runtime_folder), owner.pid)
        _, first = read_report(report)
        self.assertEqual([k for k, _ in first], INSTANCE_KEYS)
        first = dict(first)
        self.assertEqual(first["policy"], "single-instance-focus-existing")
        self.assertIs(first["ownerReady"], True)
        self.assertIs(first["final"], False)
        self.assertIs(first["anotherInstanceObserved"], False)
        self.assertIs(first["pass"], False)

        second = self.app("--release-smoke-report=" + os.path.join(self.home, "second.json"), name="second")
        self.assert_exit(second, 0, 10)
        self.assert_exit(owner, 0, 8)
        self.assertLess(owner.elapsed(), 9.5, "the owner waited for its timer instead of the second launch")

        raw, pairs = read_report(report)
        self.assertEqual([k for k, _ in pairs], INSTANCE_KEYS)
        values = dict(pairs)
        for key in ("ownerReady", "anotherInstanceObserved", "existingWindowFocused", "final", "pass"):
            self.assertIs(values[key], True, key)
        self.assert_crlf_only(raw)
        # The second launch handed over its command line and ended: it wrote nothing of its own.
        self.assertFalse(os.path.exists(os.path.join(self.home, "second.json")))

    def test_instance_owner_without_a_second_launch_fails_after_ten_seconds(self):
        report = os.path.join(self.home, "instance.json")
        owner = self.app("--Release-Instance-Owner-Report=" + report)
        self.assert_exit(owner, 1, 30)
        self.assertGreaterEqual(owner.elapsed(), 9.5)

        _, pairs = read_report(report)
        values = dict(pairs)
        self.assertIs(values["final"], True)
        self.assertIs(values["ownerReady"], True)
        self.assertIs(values["anotherInstanceObserved"], False)
        self.assertIs(values["existingWindowFocused"], False)
        self.assertIs(values["pass"], False)
        self.assert_quit_through_shutdown(owner)

    def test_sigterm_quits_through_shutdown_and_jack_is_chosen(self):
        # An ALSA device JUCE lists (ALSA comes first in JUCE's order), as on a machine with a sound card.
        with open(os.path.join(self.home, ".asoundrc"), "w") as f:
            f.write('pcm.sorvanetest {\n    type null\n    hint { show on description "Sorvane test device" }\n}\n')

        with harness.JackServer(self.home) as jack:
            app = self.app(jack=jack)
            try:
                self.assertTrue(harness.wait_until(
                    lambda: app.proc.poll() is not None or "Sorvane:out_2" in (jack.lsp() or ""), 40),
                    "no JACK ports; stderr:\n" + app.stderr_text())
                self.wait_for_signal_handlers(app)

                harness.wait_until(lambda: "Sorvane:out_2\n   system:playback_2" in (jack.lsp("-c") or ""), 20)
                connections = jack.lsp("-c") or ""
                self.assertIn("Sorvane:out_1\n   system:playback_1", connections)
                self.assertIn("Sorvane:out_2\n   system:playback_2", connections)
                self.assertNotIn("Sorvane:in_", connections, "the app must open no inputs")

                app.proc.send_signal(signal.SIGTERM)
                self.assert_exit(app, 0, 15)
            finally:
                # A client must leave before its server, or JACK leaves its semaphore in /dev/shm.
                harness.stop_process(app.proc)

        settings = self.assert_quit_through_shutdown(app)
        setup = settings.get("audioSetup")
        self.assertEqual(getattr(setup, "tag", None), "DEVICESETUP", "no audio setup saved: %r" % setup)
        self.assertEqual(setup.get("deviceType"), "JACK")
        self.assertEqual(setup.get("audioOutputDeviceName"), "system")

    # -------------------------------------------------------------------------------------------
    # Driving the window as a user does: the app has no other way to load and play a source.
    def click_editor(self, screen):
        """A click on the blank header of the editor, which takes the keyboard focus."""
        # A loaded machine (or a sanitizer build) can take a while to map the window.
        geometry = harness.wait_until(lambda: harness.window_geometry(self.x.display, harness.APP_NAME), 30)
        self.assertIsNotNone(geometry, "the app's window is not on the screen")
        x, y, width, height = geometry
        screen.click(x + width // 5, y + height * 8 // 100)
        time.sleep(0.3)

    def load_from_music_folder(self, screen, file_name):
        # Ctrl+O opens JUCE's own chooser in the user's Music folder; its file box takes the name.
        # Without a window manager a click does not always hand the keyboard over: try again.
        title = "Load an audio sample"
        chooser = None
        for _ in range(3):
            self.click_editor(screen)
            screen.keys("Control_L", "o")
            chooser = harness.wait_until(lambda: harness.window_geometry(self.x.display, title), 3)
            if chooser:
                break
        self.assertTrue(chooser, "the file chooser did not open")
        time.sleep(0.5)
        x, y, width, height = chooser
        for _ in range(3):
            screen.click(x + width // 2, y + height - 63)
            time.sleep(0.3)
            # Whatever the box holds (a typed name from a try the chooser missed) is replaced.
            screen.keys("Control_L", "a")
            screen.type(file_name)
            screen.keys("Return")
            if harness.wait_until(lambda: harness.window_geometry(self.x.display, title) is None, 10):
                time.sleep(0.5)  # the load takes a moment
                return
        self.fail("the file chooser did not take " + file_name)

    def recorded_level(self, jack, seconds):
        """The quieter channel's RMS level of the app's outputs over the given time."""
        path = os.path.join(self.home, "recorded.wav")
        ports = [harness.APP_NAME + ":out_1", harness.APP_NAME + ":out_2"]
        result = subprocess.run(["jack_rec", "-f", path, "-d", str(seconds), "-b", "32", *ports],
                                env=harness.jack_environment(jack.name), capture_output=True, text=True,
                                timeout=seconds + 15)
        self.assertEqual(result.returncode, 0, result.stderr)
        _, channels = audio.read_wav(path)
        os.remove(path)
        return min(audio.rms(channel) for channel in channels)

    def start_playback(self, screen, jack):
        # After the chooser closes, the window may need a first click just to get its focus back. Space
        # toggles, so it is pressed again only while the app is still silent.
        # A loaded machine starts late: without the pause, a second press could stop what the first
        # started, and the recording would still catch its first moments. So the level is taken twice.
        for _ in range(3):
            self.click_editor(screen)
            screen.keys("space")
            time.sleep(1.0)
            level = self.recorded_level(jack, 0.5)
            if level > SILENT and self.recorded_level(jack, 0.5) > SILENT:
                return level
        self.fail("space did not start playback")

    def test_playback_resumes_when_the_jack_server_comes_back(self):
        music = os.path.join(self.home, "Music")
        os.makedirs(music)
        audio.write_source(os.path.join(music, "tone.wav"))
        screen = harness.XInput(self.x.display)
        self.addCleanup(screen.close)

        servers = [harness.JackServer(self.home).__enter__()]
        app = self.app(jack=servers[0])
        try:
            self.assertTrue(harness.wait_until(
                lambda: app.proc.poll() is not None or "Sorvane:out_2" in (servers[0].lsp() or ""), 40),
                "no JACK ports; stderr:\n" + app.stderr_text())
            self.load_from_music_folder(screen, "tone.wav")
            print("playing at RMS %.4f" % self.start_playback(screen, servers[0]))

            for ending in (signal.SIGTERM, signal.SIGKILL):  # the server quits, then it crashes
                with self.subTest(server_ended_by=ending.name):
                    servers[-1].proc.send_signal(ending)
                    servers[-1].proc.wait(timeout=10)
                    time.sleep(2.0)
                    self.assertIsNone(app.proc.poll(), "the app ended with its server; stderr:\n" + app.stderr_text())

                    servers.append(harness.JackServer(self.home, name=servers[0].name).__enter__())
                    restarted = time.monotonic()
                    # JACK connects nothing by itself: the app opened its device and connected again.
                    self.assertTrue(harness.wait_until(
                        lambda: "Sorvane:out_2\n   system:playback_2" in (servers[-1].lsp("-c") or ""), 10),
                        "the app did not come back to the restarted server")
                    connected_after = time.monotonic() - restarted
                    level = self.recorded_level(servers[-1], 1.0)
                    print("%s: connected again %.2f s after the restart, playing at RMS %.4f"
                          % (ending.name, connected_after, level))
                    self.assertGreater(level, AUDIBLE, "the app came back silent")
                    self.assertLess(connected_after, 5.0)

            app.proc.send_signal(signal.SIGINT)
            self.assert_exit(app, 0, 15)
        finally:
            # A client leaves before its server, or JACK leaves its semaphore behind.
            harness.stop_process(app.proc)
            for server in servers:
                server.__exit__(None, None, None)
            harness.remove_jack_leftovers(servers[0].name)

    def test_a_jack_server_that_starts_after_the_app_is_taken_up(self):
        server = harness.JackServer(self.home)  # named, not yet running
        app = self.app(jack=server)
        try:
            self.wait_for_signal_handlers(app)
            time.sleep(1.5)
            self.assertIsNone(app.proc.poll(), "the app ended without a device; stderr:\n" + app.stderr_text())
            server.__enter__()
            started = time.monotonic()
            self.assertTrue(harness.wait_until(
                lambda: "Sorvane:out_2\n   system:playback_2" in (server.lsp("-c") or ""), 10),
                "the app did not take up the new server")
            print("connected %.2f s after the server started" % (time.monotonic() - started))
            self.assertLess(time.monotonic() - started, 5.0)
            app.proc.send_signal(signal.SIGINT)
            self.assert_exit(app, 0, 15)
        finally:
            harness.stop_process(app.proc)
            server.__exit__(None, None, None)
            harness.remove_jack_leftovers(server.name)

        setup = self.assert_quit_through_shutdown(app).get("audioSetup")
        self.assertEqual(getattr(setup, "tag", None), "DEVICESETUP", "no audio setup saved: %r" % setup)
        self.assertEqual(setup.get("deviceType"), "JACK")

    def test_settings_that_cannot_be_saved_are_reported_once_and_the_app_runs_on(self):
        settings_folder = os.path.join(self.home, ".config", harness.APP_NAME)

        def file_in_place_of_the_folder():
            with open(settings_folder, "w") as f:
                f.write("in the way")
            return "is a file"

        def read_only_folder():
            os.makedirs(settings_folder)
            os.chmod(settings_folder, 0o555)
            self.addCleanup(os.chmod, settings_folder, 0o755)
            return "is not writable"

        cases = [("a file where the settings folder should be", file_in_place_of_the_folder)]
        if os.geteuid() != 0:  # root writes into read-only folders all the same
            cases.append(("a read-only settings folder", read_only_folder))
        for description, prepare in cases:
            with self.subTest(description):
                os.makedirs(os.path.join(self.home, ".config"), exist_ok=True)
                reason = prepare()
                # JACK makes the app change a setting at start, so its own save fails too.
                with harness.JackServer(self.home) as jack:
                    app = self.app(jack=jack, name=description.replace(" ", "-"))
                    try:
                        self.wait_for_signal_handlers(app)
                        time.sleep(5.0)  # past the settings' 3 s save delay and the second look after it
                        self.assertIsNone(app.proc.poll(), "the app ended; stderr:\n" + app.stderr_text())
                        listing = subprocess.run(["xwininfo", "-root", "-tree", "-display", self.x.display],
                                                 capture_output=True, text=True).stdout
                        self.assertEqual(listing.count('"Sorvane": ("Sorvane" "Sorvane")'), 1,
                                         "one window, and no alert: " + listing)
                        app.proc.send_signal(signal.SIGINT)
                        self.assert_exit(app, 0, 15)
                    finally:
                        harness.stop_process(app.proc)
                told = [line for line in app.stderr_text().splitlines() if "Settings cannot be saved" in line]
                self.assertEqual(len(told), 1, app.stderr_text())
                self.assertIn(settings_folder + " " + reason, told[0])
                self.assertFalse(os.path.exists(os.path.join(settings_folder, harness.APP_NAME + ".settings")))
                if os.path.isfile(settings_folder):
                    os.remove(settings_folder)
                else:
                    os.chmod(settings_folder, 0o755)
                    os.rmdir(settings_folder)

    def test_sigint_quits_through_shutdown(self):
        app = self.app()
        self.wait_for_signal_handlers(app)
        app.proc.send_signal(signal.SIGINT)
        self.assert_exit(app, 0, 15)
        self.assert_quit_through_shutdown(app)

    def test_without_a_display_the_smoke_report_fails_instead_of_a_crash(self):
        report = os.path.join(self.home, "smoke.json")
        app = self.app("--release-smoke-report=" + report, display=harness.display_without_server())
        self.assert_exit(app, 1, 15)
        self.assertIn("no display", app.stderr_text())
        values = dict(read_report(report)[1])
        self.assertIs(values["windowVisible"], False)
        self.assertIs(values["processorReady"], False)
        self.assertIs(values["pass"], False)


class CommandLineTests(AppTestCase):
    def test_help_and_version_print_and_exit_without_a_display(self):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY")}
        env["HOME"] = self.home
        cases = [
            (["--version"], "Sorvane 2.13.3\n"),
            (["-v"], "Sorvane 2.13.3\n"),
            (["--help"], None),
            (["-h", "some.wav"], None),
            (["--version", "--release-smoke-report=" + os.path.join(self.home, "never.json")], "Sorvane 2.13.3\n"),
        ]
        for args, expected in cases:
            with self.subTest(args=args):
                done = subprocess.run([APP, *args], env=env, cwd=self.home, capture_output=True, text=True,
                                      timeout=20)
                self.assertEqual(done.returncode, 0, done.stderr)
                if expected is not None:
                    self.assertEqual(done.stdout, expected)
                else:
                    self.assertTrue(done.stdout.startswith("Usage: sorvane [options] [audio file]\n"), done.stdout)
                    for option in ("--help", "--version", "--release-smoke-report=FILE"):
                        self.assertIn(option, done.stdout)
                self.assertNotIn("display", done.stderr.lower())
        # Nothing was started: no settings, no report.
        self.assertFalse(os.path.exists(os.path.join(self.home, ".config", "Sorvane")))
        self.assertFalse(os.path.exists(os.path.join(self.home, "never.json")))

    def test_version_leaves_a_running_instance_alone(self):
        report = os.path.join(self.home, "owner.json")
        owner = self.app("--release-instance-owner-report=" + report, name="owner")
        self.assertTrue(harness.wait_until(lambda: os.path.exists(report) or owner.proc.poll() is not None, 15))
        self.assertIsNone(owner.proc.poll(), owner.stderr_text())

        version = self.app("--version", name="version")
        self.assert_exit(version, 0, 10)
        self.assertEqual(version.stdout_text(), "Sorvane 2.13.3\n")

        # A hand-over would have made the owner write its final report and quit at once.
        time.sleep(1.0)
        self.assertIsNone(owner.proc.poll(), "the owner quit: " + owner.stderr_text())
        self.assertEqual(harness.instance_lock_holder(owner.runtime_folder), owner.pid)
        self.assertIs(dict(read_report(report)[1])["anotherInstanceObserved"], False)

    def test_a_file_argument_is_loaded_as_the_source(self):
        tone = write_tone(os.path.join(self.home, "sounds here", "tone.wav"))
        # Given relative to the working directory, as a shell user types it.
        app = self.app(os.path.join("sounds here", "tone.wav"))
        time.sleep(3.0)
        state = self.quit_and_read_state(app)
        self.assertEqual(state.get("samplePath"), tone)
        self.assertEqual(state.get("sampleName"), "tone.wav")

    def test_without_a_file_no_source_is_recorded(self):
        state = self.quit_and_read_state(self.app())
        self.assertIsNone(state.get("samplePath"))

    def test_a_second_launch_hands_its_file_to_the_running_instance(self):
        owner = self.app(name="owner")
        self.wait_for_signal_handlers(owner)

        elsewhere = os.path.join(self.home, "elsewhere")
        tone = write_tone(os.path.join(elsewhere, "second tone.wav"))
        second = self.app("second tone.wav", name="second", cwd=elsewhere)
        self.assert_exit(second, 0, 10)
        self.assertEqual(second.stdout_text().strip(), HANDOVER_SENTENCE)
        self.assertIsNone(owner.proc.poll(), "the owner ended: " + owner.stderr_text())

        time.sleep(3.0)
        state = self.quit_and_read_state(owner)
        self.assertEqual(state.get("samplePath"), tone)

    def test_the_instance_is_found_through_a_socket_file_only_its_user_can_reach(self):
        owner = self.app(name="owner")
        self.wait_for_signal_handlers(owner)
        socket_path = harness.instance_socket_path(owner.runtime_folder)
        self.assertTrue(stat.S_ISSOCK(os.lstat(socket_path).st_mode), socket_path)
        self.assertEqual(stat.S_IMODE(os.lstat(socket_path).st_mode), 0o600)
        self.assertEqual(stat.S_IMODE(os.lstat(os.path.dirname(socket_path)).st_mode), 0o700)
        self.assertEqual(unix_sockets_of(owner.pid), [socket_path], "no abstract or other socket names")

        owner.proc.send_signal(signal.SIGINT)
        self.assert_exit(owner, 0, 15)
        # Gone with its owner, so the next start does not mistake it for a running instance.
        self.assertFalse(os.path.lexists(socket_path))
        self.assertIsNone(harness.instance_lock_holder(owner.runtime_folder))

    def test_apps_of_two_runtime_folders_run_side_by_side(self):
        elsewhere = os.path.join(self.home, "other-session")
        os.makedirs(elsewhere, mode=0o700)
        first = self.app(name="first")
        second = self.app(name="second", runtime_folder=elsewhere)
        for app in (first, second):
            self.wait_for_signal_handlers(app)
        time.sleep(2.0)
        self.assertIsNone(first.proc.poll(), "the first app ended: " + first.stderr_text())
        self.assertIsNone(second.proc.poll(), "the second app ended: " + second.stderr_text())
        self.assertNotIn(HANDOVER_SENTENCE, second.stdout_text())
        self.assertEqual(harness.instance_lock_holder(elsewhere), second.pid)
        for app in (first, second):
            app.proc.send_signal(signal.SIGINT)
            self.assert_exit(app, 0, 15)

    def test_a_hand_over_from_another_user_is_dropped(self):
        if os.geteuid() != 0:
            self.skipTest("only root can start a process of another user here")
        owner = self.app(name="owner")
        self.wait_for_signal_handlers(owner)
        socket_path = harness.instance_socket_path(owner.runtime_folder)
        ours = write_tone(os.path.join(self.home, "sounds", "ours.wav"))
        theirs = write_tone(os.path.join(self.home, "sounds", "theirs.wav"), seconds=0.7)

        # The same message from this user is acted on: the message is one the app takes.
        send_hand_over(socket_path, "Sorvane/" + ours)
        time.sleep(3.0)

        # The folders are opened up on purpose, so the other user's process reaches the socket and only
        # the app's own check of the sender stands in the way.
        for folder in (self.home, owner.runtime_folder, os.path.dirname(socket_path), os.path.dirname(theirs)):
            os.chmod(folder, 0o755)
        os.chmod(socket_path, 0o666)
        os.chmod(theirs, 0o644)
        other = subprocess.run([sys.executable, "-c", OTHER_USER_HAND_OVER, socket_path, "Sorvane/" + theirs],
                               capture_output=True, text=True, timeout=30, cwd="/")
        self.assertEqual(other.returncode, 0, other.stderr)
        self.assertEqual(other.stdout, "connected as uid 65534\n")
        time.sleep(3.0)

        self.assertIsNone(owner.proc.poll(), "the owner ended: " + owner.stderr_text())
        self.assertIn("Ignored a message from another user (uid 65534) on " + socket_path + ".", owner.stderr_text())
        state = self.quit_and_read_state(owner)
        self.assertEqual(state.get("samplePath"), ours, "the app opened the file another user named")


# Run by a child process: becomes "nobody", connects to the socket and sends the message (the app may
# close the connection before all of it is sent).
OTHER_USER_HAND_OVER = """
import os, socket, sys
os.setgroups([])
os.setgid(65534)
os.setuid(65534)
with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
    s.connect(sys.argv[1])
    try:
        s.sendall(sys.argv[2].encode())
    except (BrokenPipeError, ConnectionResetError):
        pass
print("connected as uid %d" % os.getuid())
"""


def send_hand_over(socket_path, message):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.connect(socket_path)
        s.sendall(message.encode())


def unix_sockets_of(pid):
    """The names of the Unix sockets a process holds (abstract ones start with "@")."""
    inodes = set()
    for fd in os.listdir("/proc/%d/fd" % pid):
        target = os.readlink("/proc/%d/fd/%s" % (pid, fd))
        if target.startswith("socket:["):
            inodes.add(target[8:-1])
    names = []
    with open("/proc/net/unix") as table:
        next(table)
        for line in table:
            fields = line.split()
            if len(fields) >= 8 and fields[6] in inodes:
                names.append(fields[7])
    return sorted(names)


class WindowFitTests(unittest.TestCase):
    """The first window on screens of several sizes, measured by the X server."""

    MIN_WINDOW = (1100 + 8, 700 + 26 + 8)  # the editor's minimum, its 26-px title bar and 4-px borders

    def run_app(self, screen, settings, work_area=None):
        with harness.temporary_home() as home, harness.Xvfb(screen) as x:
            client = harness.XClient(x.display)
            try:
                if work_area:
                    client.set_root_cardinals("_NET_WORKAREA", list(work_area))
                app = harness.StandaloneApp(APP, home, x.display)
                if settings:
                    app.write_settings(settings)
                with app:
                    found = harness.wait_until(lambda: client.top_level_windows().get("Sorvane"), 15)
                    self.assertTrue(found, "no window; stderr:\n" + app.stderr_text())
                    time.sleep(0.5)  # the window settles once its content is laid out
                    geometry = client.top_level_windows()["Sorvane"]
                    harness.stop_process(app.proc, signal.SIGINT)
                    return geometry, app.settings()
            finally:
                client.close()

    def test_first_window_fits_the_screen(self):
        big = {"windowWidth": 1700, "windowHeight": 1020, "windowX": 600, "windowY": 400}
        cases = [
            # screen, work area (physical), saved settings, scale
            ("1280x800x24", None, {}, 1.0),
            ("1280x800x24", (0, 40, 1280, 740), {}, 1.0),
            ("1280x800x24", None, big, 1.0),
            ("1366x768x24", (0, 0, 1366, 740), dict(big, windowX=-900, windowY=-50), 1.0),
            ("2560x1600x24", None, {}, 1.0),
            ("2560x1600x24", None, {"windowScale": 150}, 1.5),
            ("2560x1600x24", None, dict(big, windowScale=200), 2.0),
        ]
        for screen, work_area, settings, scale in cases:
            with self.subTest(screen=screen, work_area=work_area, settings=settings):
                x, y, width, height = self.run_app(screen, settings, work_area)[0]
                sw, sh = (int(v) for v in screen.split("x")[:2])
                ax, ay, aw, ah = work_area or (0, 0, sw, sh)
                self.assertGreaterEqual(x, ax)
                self.assertGreaterEqual(y, ay)
                self.assertLessEqual(x + width, ax + aw)
                self.assertLessEqual(y + height, ay + ah)
                self.assertGreaterEqual(width, math.floor(self.MIN_WINDOW[0] * scale))
                self.assertGreaterEqual(height, math.floor(self.MIN_WINDOW[1] * scale))
                if not settings:
                    # The editor's default size where it fits, centred in the usable area.
                    default = (round((1180 + 8) * scale), round((720 + 26 + 8) * scale))
                    if default[1] <= ah:
                        self.assertEqual((width, height), default)
                    self.assertLessEqual(abs((x - ax) - (ax + aw - x - width)), 2)

    def test_a_chosen_scale_is_restored_and_makes_the_window_bigger(self):
        (_, _, width1, height1), saved = self.run_app("2560x1600x24", {})
        (_, _, width15, height15), saved15 = self.run_app("2560x1600x24", {"windowScale": 150})
        self.assertEqual((width15, height15), (round(width1 * 1.5), round(height1 * 1.5)))
        self.assertEqual(saved15.get("windowScale"), "150")
        # The saved size is the logical one: the same at both scales.
        self.assertEqual((saved["windowWidth"], saved["windowHeight"]),
                         (saved15["windowWidth"], saved15["windowHeight"]))

def main(argv):
    global APP
    harness.exit_cleanly_on_sigterm()
    if len(argv) < 3 or argv[1] != "--app":
        print(__doc__, file=sys.stderr)
        return 2
    APP = os.path.abspath(argv[2])
    program = unittest.main(argv=[argv[0], "-v", *argv[3:]], exit=False)
    return 0 if program.result.wasSuccessful() else 1

if __name__ == "__main__":
    sys.exit(main(sys.argv))
