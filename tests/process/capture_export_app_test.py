"""Capture and export in the real stand-alone app, end to end: the app plays a generated source on a
private JACK dummy server under a private X server with a temporary home folder; the test presses
Space, picks "1 BAR", clicks CAPTURE while jack_rec records the app's output ports, exports with
Ctrl+E through the app's save chooser, and checks the WAV against the recording.

    python3 capture_export_app_test.py --app PATH --probe PATH [unittest names...]

The probe (LayoutProbe) says where the editor puts its controls for a window size; the window's
place on the screen comes from the X server.
"""

import array
import collections
import json
import math
import os
import random
import re
import signal
import struct
import subprocess
import sys
import time
import unittest
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

APP = None
PROBE = None

RATE = 48000  # the harness's JACK server
BLOCK = 256
TEMPO = 120.0  # the app's tempo unless changed
SOURCE_SECONDS = 4
LSB = 1.0 / (1 << 23)
PEAK_CEILING = 0.8912509
COMMENT = "Sorvane sourceRangeStart=0.000000000; sourceRangeEnd=1.000000000; sourceRangeMode=loop"
CHOOSER_TITLE = "Export processed loop"
RECORD_SECONDS = 16  # Space, CAPTURE, one bar and the four-second tail fit with a wide margin
SILENT = 1e-4


def write_source(path):
    """Stereo 24-bit: two inharmonic tones per channel over seeded noise, so no two stretches of the
    output look alike and the captured segment has one place in the recording."""
    rng = random.Random(20240611)
    scale = 1 << 23
    frames = RATE * SOURCE_SECONDS
    data = bytearray()
    written = ([], [])
    for i in range(frames):
        t = i / RATE
        left = 0.22 * math.sin(2 * math.pi * 220.5 * t) + 0.1 * math.sin(2 * math.pi * 331.7 * t)
        right = 0.2 * math.sin(2 * math.pi * 277.3 * t + 0.4) + 0.1 * math.sin(2 * math.pi * 415.1 * t)
        for c, value in enumerate((left + 0.04 * rng.uniform(-1, 1), right + 0.04 * rng.uniform(-1, 1))):
            q = int(round(value * scale))
            written[c].append(q / scale)
            data += struct.pack("<i", q)[:3]
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(3)
        w.setframerate(RATE)
        w.writeframes(bytes(data))
    return written


def riff_chunks(raw):
    if raw[:4] != b"RIFF" or raw[8:12] != b"WAVE":
        raise ValueError("not a RIFF WAVE file")
    pos, chunks = 12, {}
    while pos + 8 <= len(raw):
        cid, size = struct.unpack_from("<4sI", raw, pos)
        chunks.setdefault(cid, raw[pos + 8:pos + 8 + size])
        pos += 8 + size + (size & 1)
    return chunks


def read_recording(path):
    """jack_rec's 32-bit integer WAV as (rate, [left, right]) floats (full scale 2^31)."""
    with open(path, "rb") as f:
        chunks = riff_chunks(f.read())
    tag, channels, rate, _, align, bits = struct.unpack_from("<HHIIHH", chunks[b"fmt "])
    if tag == 0xFFFE:
        tag = struct.unpack_from("<H", chunks[b"fmt "], 24)[0]
    if (tag, bits) != (1, 32):
        raise ValueError("expected 32-bit integer PCM from jack_rec, got format %d with %d bits" % (tag, bits))
    samples = array.array("i")
    samples.frombytes(chunks[b"data"][:len(chunks[b"data"]) // align * align])
    if sys.byteorder != "little":
        samples.byteswap()
    return rate, [[v / 2147483648.0 for v in samples[c::channels]] for c in range(channels)]


def read_export(path):
    """Python's wave module reads the export: (parameters, [channels as floats of full scale 2^23])."""
    with wave.open(path, "rb") as w:
        params = w.getparams()
        raw = w.readframes(params.nframes)
    width, channels = params.sampwidth, params.nchannels
    values = [int.from_bytes(raw[i:i + width], "little", signed=True) for i in range(0, len(raw), width)]
    return params, [[v * LSB for v in values[c::channels]] for c in range(channels)]


def rms(values):
    return math.sqrt(sum(v * v for v in values) / len(values)) if values else 0.0


Match = collections.namedtuple("Match", "offset gain worst rms lowest highest")


def locate(export, recording):
    """Every offset k at which the export is a scaled copy of recording[k:k + n], as Matches: the
    least-squares gain g and the residuals export - g * recording in 24-bit steps (largest magnitude,
    RMS, lowest, highest).

    A cheap proportionality test on two loud frames screens every offset; the survivors get a least-
    squares gain over all frames of both channels and the largest residual."""
    n = len(export[0])
    e0, r0 = export[0], recording[0]
    loud = [i for i in range(n) if abs(e0[i]) > 0.05]
    if len(loud) < 100:
        raise AssertionError("the export is too quiet to locate (%d loud frames)" % len(loud))
    a, b = loud[len(loud) // 3], loud[2 * len(loud) // 3]
    ea, eb = e0[a], e0[b]
    screened = [k for k in range(len(r0) - n + 1)
                if r0[k + a] * ea > 0 and abs(ea * r0[k + b] - eb * r0[k + a]) <= 1e-4 * abs(ea * r0[k + b])]
    probes = loud[::max(1, len(loud) // 64)]
    found = []
    for k in screened:
        g = ea / r0[k + a]
        if any(abs(export[c][i] - g * recording[c][k + i]) > 64 * LSB for c in (0, 1) for i in probes):
            continue
        num = sum(export[c][i] * recording[c][k + i] for c in (0, 1) for i in range(n))
        den = sum(recording[c][k + i] ** 2 for c in (0, 1) for i in range(n))
        g = num / den
        residuals = [export[c][i] - g * recording[c][k + i] for c in (0, 1) for i in range(n)]
        found.append(Match(k, g, max(abs(r) for r in residuals) / LSB, rms(residuals) / LSB,
                           min(residuals) / LSB, max(residuals) / LSB))
    return found


def run(*args, env=None, timeout=30):
    return subprocess.run(list(args), env=env, capture_output=True, text=True, timeout=timeout)


class CaptureExportAppTest(unittest.TestCase):
    def setUp(self):
        self.home_context = harness.temporary_home()
        self.home = self.home_context.__enter__()
        self.addCleanup(self.home_context.__exit__, None, None, None)
        self.x = harness.Xvfb().__enter__()
        self.addCleanup(self.x.__exit__, None, None, None)
        # Synchronous, with a long client timeout: each cycle waits until every client has run, so a
        # cycle in which the app runs late on a busy machine still reaches the recorder. (The default
        # asynchronous server skips the recorder's turn in such a cycle, and its file loses a block.)
        self.jack = harness.JackServer(self.home, server_options=("--sync", "--timeout", "10000")).__enter__()
        self.addCleanup(harness.remove_jack_leftovers, self.jack.name)
        self.addCleanup(self.jack.__exit__, None, None, None)
        self.x_env = dict(os.environ, DISPLAY=self.x.display)
        self.x_env.pop("XAUTHORITY", None)

    # -------------------------------------------------------------------------------------------
    def start_app(self, *args, env=None):
        """Starts the app in the test's own runtime folder and waits until it owns the instance lock
        there. env adds to or replaces the app's environment."""
        app = harness.StandaloneApp(APP, self.home, self.x.display, args, jack_server=self.jack)
        self.addCleanup(app.__exit__, None, None, None)
        app.env.update(env or {})
        app.start()
        owned = harness.wait_until(
            lambda: app.proc.poll() is not None or harness.instance_lock_holder(app.runtime_folder) == app.pid, 30)
        self.assertTrue(owned and app.proc.poll() is None, "the app did not own its instance lock; stderr:\n"
                        + app.stderr_text())
        return app

    def window(self, name_regex):
        """(x, y, width, height) of the visible top-level window whose name matches, from xdotool."""
        found = run("xdotool", "search", "--onlyvisible", "--name", name_regex, env=self.x_env).stdout.split()
        for window in found:
            out = run("xdotool", "getwindowgeometry", window, env=self.x_env).stdout
            position = re.search(r"Position: (-?\d+),(-?\d+)", out)
            size = re.search(r"Geometry: (\d+)x(\d+)", out)
            if position and size:
                return tuple(int(v) for v in position.groups() + size.groups())
        return None

    def visible_top_levels(self):
        """{window id: (x, y, width, height)} of the root's mapped children."""
        tree = run("xwininfo", "-root", "-children", "-display", self.x.display).stdout
        shown = {}
        for window, w, h, x, y in re.findall(r"(0x[0-9a-f]+) .*?\s(\d+)x(\d+)\+(-?\d+)\+(-?\d+)", tree):
            if "Map State: IsViewable" in run("xwininfo", "-id", window, "-display", self.x.display).stdout:
                shown[window] = (int(x), int(y), int(w), int(h))
        return shown

    def layout(self, app_window):
        """The probe's control list mapped to the screen for the app window as it is."""
        x, y, width, height = app_window
        # The frame around the editor comes from the probe for any size; ask once for the frame.
        frame = self.probe(1180, 720)["frame"]
        editor = (width - frame["left"] - frame["right"], height - frame["top"] - frame["bottom"])
        self.assertGreaterEqual(editor[0], 1100, "window %r is smaller than the editor's minimum" % (app_window,))
        self.assertGreaterEqual(editor[1], 700, "window %r is smaller than the editor's minimum" % (app_window,))
        probe = self.probe(*editor)
        self.assertEqual((probe["editor"]["width"], probe["editor"]["height"]), editor)
        origin = (x + frame["left"], y + frame["top"])
        return origin, probe["controls"]

    def probe(self, width, height):
        probe_home = os.path.join(self.home, "probe-home")
        os.makedirs(probe_home, exist_ok=True)
        env = dict(os.environ, HOME=probe_home)
        done = run(PROBE, str(width), str(height), env=env, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        return json.loads(done.stdout)

    @staticmethod
    def control(controls, **match):
        hits = [c for c in controls if c["shown"] and all(
            (c.get(k) == v if not callable(v) else v(c.get(k))) for k, v in match.items())]
        if len(hits) != 1:
            raise AssertionError("%d shown controls match %r" % (len(hits), match))
        return hits[0]

    def click(self, screen, origin, control):
        cx = origin[0] + control["x"] + control["width"] // 2
        cy = origin[1] + control["y"] + control["height"] // 2
        screen.click(cx, cy)

    def record(self, path, seconds):
        ports = [harness.APP_NAME + ":out_1", harness.APP_NAME + ":out_2"]
        return subprocess.Popen(["jack_rec", "-f", path, "-d", str(seconds), "-b", "32", "-B", str(1 << 20), *ports],
                                env=harness.jack_environment(self.jack.name), stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE)

    def finish_recording(self, recorder, seconds):
        try:
            code = recorder.wait(timeout=seconds + 30)
        finally:
            errors = recorder.stderr.read().decode(errors="replace")
            recorder.stderr.close()
        self.assertEqual(code, 0, errors)

    def level(self, seconds=0.5):
        path = os.path.join(self.home, "level.wav")
        recorder = self.record(path, seconds)
        self.finish_recording(recorder, seconds)
        _, channels = read_recording(path)
        os.remove(path)
        return max(rms(c) for c in channels)

    def recorder_connected(self):
        """Both output ports feed jack_rec (from jack_lsp -c: a port, then its connections indented)."""
        feeds, current = {}, None
        for line in (self.jack.lsp("-c") or "").splitlines():
            if not line.startswith((" ", "\t")):
                current = line.strip()
            elif current:
                feeds.setdefault(current, set()).add(line.strip())
        return all(any(c.startswith("jackrec:") for c in feeds.get(harness.APP_NAME + ":out_%d" % n, ()))
                   for n in (1, 2))

    # -------------------------------------------------------------------------------------------
    def test_capture_one_bar_and_export_with_ctrl_e_matches_the_recording(self):
        source = os.path.join(self.home, "sources", "tone.wav")
        written = write_source(source)
        exports = os.path.join(self.home, "exports")
        os.makedirs(exports)
        os.makedirs(os.path.join(self.home, "Music"))
        destination = os.path.join(exports, "capture.wav")

        app = self.start_app(source)
        self.assertTrue(harness.wait_until(
            lambda: app.proc.poll() is not None or
            "Sorvane:out_2\n   system:playback_2" in (self.jack.lsp("-c") or ""), 60),
            "the app did not connect to JACK; stderr:\n" + app.stderr_text())
        app_window = harness.wait_until(lambda: self.window("^Sorvane$"), 30)
        self.assertIsNotNone(app_window, "the app's window is not on the screen")
        origin, controls = self.layout(app_window)
        print("window %r, editor origin %r" % (app_window, origin))
        screen = harness.XInput(self.x.display)
        self.addCleanup(screen.close)

        capture_length = self.control(controls, type="ComboBox",
                                      items=lambda items: items == ["1 BAR", "2 BARS", "4 BARS", "8 BARS", "16 BARS"])
        capture = self.control(controls, type="Button", text="CAPTURE")
        self.control(controls, type="Button", text="EXPORT WAV")
        # A point of the header's title block that no control covers: a click there focuses the editor.
        blank = {"x": 60, "y": 14, "width": 40, "height": 24}
        for c in controls:
            if c["shown"] and c["width"] > 0 and c["x"] < 100 and c["x"] + c["width"] > 60 and \
                    c["y"] < 38 and c["y"] + c["height"] > 14:
                self.fail("the header's title block is covered by %r" % c)

        # Space starts playback once the source has loaded; it toggles, so it is pressed again only
        # while the app is still silent.
        playing = None
        for _ in range(20):
            self.click(screen, origin, blank)
            screen.keys("space")
            playing = self.level()
            if playing > SILENT:
                break
            time.sleep(0.5)
        self.assertGreater(playing, SILENT, "Space did not start playback")
        print("playing at RMS %.4f" % playing)

        # The capture length: the combo's popup lists the five lengths in equal rows; "1 BAR" is the
        # first. A menu ignores a click that comes too soon after it opened, so the click waits.
        before = self.visible_top_levels()
        self.click(screen, origin, capture_length)
        popup = harness.wait_until(lambda: {k: v for k, v in self.visible_top_levels().items() if k not in before}, 10)
        self.assertEqual(len(popup or {}), 1, "the capture length popup did not open: %r" % popup)
        (menu, _), = popup.items()
        for _ in range(3):
            time.sleep(0.5)
            px, py, pw, ph = self.visible_top_levels().get(menu, popup[menu])
            screen.click(px + pw // 2, py + ph // 10)
            if harness.wait_until(lambda: menu not in self.visible_top_levels(), 3):
                break
        self.assertNotIn(menu, self.visible_top_levels(), "the capture length popup stayed open")

        # Record the outputs and click CAPTURE while the recorder runs.
        recording = os.path.join(self.home, "recording.wav")
        recorder = self.record(recording, RECORD_SECONDS)
        self.assertTrue(harness.wait_until(self.recorder_connected, 10), "jack_rec did not connect")
        time.sleep(0.5)
        self.click(screen, origin, capture)
        self.finish_recording(recorder, RECORD_SECONDS)

        # Ctrl+E straight after the clicks, with no click to give the editor the keyboard: the key goes
        # from the focused button up to the editor.
        screen.keys("Control_L", "e")
        chooser = harness.wait_until(lambda: self.window("^%s$" % CHOOSER_TITLE), 10)
        self.assertIsNotNone(chooser, "Ctrl+E opened no save chooser")
        # The app's own (JUCE) dialog, not a helper program's.
        chooser_ids = run("xdotool", "search", "--onlyvisible", "--name", "^%s$" % CHOOSER_TITLE,
                          env=self.x_env).stdout.split()
        pids = {run("xdotool", "getwindowpid", w, env=self.x_env).stdout.strip() for w in chooser_ids}
        self.assertEqual(pids, {str(app.pid)}, "the chooser is not the app's own window")
        time.sleep(0.5)
        cx, cy, cw, ch = chooser
        for _ in range(3):
            screen.click(cx + cw // 2, cy + ch - 63)  # the file name box above the buttons
            time.sleep(0.3)
            screen.keys("Control_L", "a")
            screen.type(destination)
            # The first Return takes the chooser to the typed folder, the second confirms the name.
            screen.keys("Return")
            time.sleep(0.5)
            if self.window("^%s$" % CHOOSER_TITLE) is not None:
                screen.keys("Return")
            if harness.wait_until(lambda: self.window("^%s$" % CHOOSER_TITLE) is None, 5):
                break
        self.assertIsNone(self.window("^%s$" % CHOOSER_TITLE), "the chooser did not take the path")

        # Published by one rename: once the name exists the file is complete.
        self.assertTrue(harness.wait_until(lambda: os.path.exists(destination), 60),
                        "no export at %s; folder holds %r" % (destination, os.listdir(exports)))
        self.assertTrue(harness.wait_until(lambda: os.listdir(exports) == ["capture.wav"], 10),
                        "left beside the export: %r" % os.listdir(exports))

        # The editor has the keyboard back after the chooser, without a click: Space pauses. The
        # effect's echoes ring on for a moment after the source stops.
        still_playing = self.level()
        self.assertGreater(still_playing, 0.05, "the app stopped playing after the capture")
        screen.keys("space")
        time.sleep(1.0)
        paused = self.level()
        print("after the chooser: RMS %.4f playing, %.6f a second after Space" % (still_playing, paused))
        self.assertLess(paused, still_playing * 0.1, "Space after the chooser did not reach the editor")

        app.proc.send_signal(signal.SIGINT)
        self.assertEqual(app.wait(20), 0, app.stderr_text())

        self.check_export(destination, recording, written)

    def check_export(self, destination, recording, source):
        loop = int(round(RATE * 240.0 / TEMPO * 1))
        tail = int(round(RATE * 4.0))

        params, exported = read_export(destination)
        self.assertEqual((params.nchannels, params.sampwidth, params.framerate), (2, 3, RATE))
        self.assertEqual(params.nframes, loop + tail)
        peak = max(max(abs(v) for v in channel) for channel in exported)
        print("export: %d frames, peak %.7f (%.2f dBFS)" % (params.nframes, peak, 20 * math.log10(peak)))
        self.assertLessEqual(peak, PEAK_CEILING + LSB)
        with open(destination, "rb") as f:
            raw = f.read()
        self.assertIn(COMMENT.encode(), raw)
        # The loop carries the processed source.
        self.assertGreater(min(rms(channel[:loop]) for channel in exported), 0.01)

        probe = run("ffprobe", "-v", "error", "-print_format", "json", "-show_streams", "-show_format", destination)
        self.assertEqual(probe.returncode, 0, probe.stderr)
        info = json.loads(probe.stdout)
        stream = info["streams"][0]
        self.assertEqual((stream["codec_name"], stream["channels"], int(stream["sample_rate"])),
                         ("pcm_s24le", 2, RATE))
        self.assertEqual(int(stream.get("bits_per_sample", 0)) or int(stream.get("bits_per_raw_sample", 0)), 24)
        self.assertAlmostEqual(float(info["format"]["duration"]), (loop + tail) / RATE, places=3)
        # The comment is the INFO list's "CMNT" entry, which ffprobe reports under that name.
        self.assertEqual(info["format"].get("tags", {}).get("CMNT"), COMMENT)

        rate, recorded = read_recording(recording)
        self.assertEqual(rate, RATE)
        recorded_peak = max(max(abs(v) for v in channel) for channel in recorded)
        self.assertLess(recorded_peak, 0.999, "the recording may have clipped in jack_rec's integer format")

        found = locate(exported, recorded)
        self.assertTrue(found, "the export is nowhere in the recording as a scaled copy")
        for m in found:
            print("capture at recording frame %d (block %d + %d): g = %.9f (%+.4f dB); residual export - "
                  "g x recording: max |r| %.3f LSB, RMS %.3f LSB, range [%.3f, %.3f] LSB"
                  % (m.offset, m.offset // BLOCK, m.offset % BLOCK, m.gain, 20 * math.log10(m.gain), m.worst,
                     m.rms, m.lowest, m.highest))
        # The bound: one 24-bit step (JUCE's writer rounds to 32 bits, then drops the low byte, so its
        # step is a whole LSB, not half), the float rounding of up to two gain stages (level
        # matching, peak protection) at the export's peak, and the recording's 32-bit step times g.
        bound = 1.0 + 2 * 2.0 ** -24 * peak / LSB
        matches = [m for m in found if m.worst <= bound + m.gain * 2.0 ** -8]
        self.assertEqual(len(matches), 1, "expected one offset within %.3f LSB: %r" % (bound, found))
        match = matches[0]
        self.assertLessEqual(match.offset + loop + tail, len(recorded[0]))
        # A uniform error over one step has an RMS of at most 0.577 of a step.
        self.assertLess(match.rms, 0.6)

        # Level matched: g is the square root of the source's loop energy over the recorded loop's
        # (the capture starts at the range start, 0); the export peaks below the ceiling, so peak
        # protection left it alone. Only the seek's crossfade makes the dry loop differ from the
        # source's first bar.
        dry = sum(v * v for channel in source for v in channel[:loop])
        wet = sum(v * v for channel in recorded for v in channel[match.offset:match.offset + loop])
        expected = math.sqrt(dry / wet)
        print("level matching: sqrt(source loop energy / recorded loop energy) = %.6f, g / that = %.6f"
              % (expected, match.gain / expected))
        self.assertAlmostEqual(match.gain / expected, 1.0, delta=0.01)
        loudest = max(max(abs(v) for v in channel[match.offset:match.offset + loop + tail]) for channel in recorded)
        self.assertLess(expected * loudest, PEAK_CEILING)


def main(argv):
    global APP, PROBE
    harness.exit_cleanly_on_sigterm()
    if len(argv) < 4 or argv[0] != "--app" or argv[2] != "--probe":
        print(__doc__, file=sys.stderr)
        return 2
    APP = os.path.abspath(argv[1])
    PROBE = os.path.abspath(argv[3])
    program = unittest.main(argv=[sys.argv[0], "-v", *argv[4:]], exit=False)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
