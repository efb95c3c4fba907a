"""The real sorvane-render binary on generated files: several files at once, folder in and out (mixed
formats with and without --keep-extension), strict JSON, refusals that leave nothing at the output, output
names that say no format, SIGINT and SIGTERM mid-render, the same bytes twice, the
progress bar only on a terminal, the man page and the install. What it writes is read back with Python's
wave module and ffprobe, not with the product's own readers.

    python3 render_cli_test.py --render PATH --man PAGE --build-dir DIR [unittest names...]
"""

import array
import hashlib
import json
import math
import os
import pty
import random
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import wave

RENDER = None
MAN_PAGE = None
BUILD_DIR = None


def write_wave(path, seconds, rate=48000, channels=2, seed=1, amplitude=0.4):
    """16-bit PCM: a tone per channel plus a little noise."""
    rng = random.Random(seed)
    frames = int(seconds * rate)
    samples = array.array("h")
    for i in range(frames):
        for c in range(channels):
            x = amplitude * math.sin(2 * math.pi * (220 + 110 * c) * i / rate) + rng.uniform(-0.05, 0.05)
            samples.append(int(max(-1.0, min(1.0, x)) * 32767))
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(samples.tobytes())
    return frames


def read_wave(path):
    """(channels, rate, sample width, frames, peak) of a PCM WAV, read with Python's wave module."""
    with wave.open(path, "rb") as w:
        channels, width, rate, frames = w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()
        data = w.readframes(frames)
    peak = 0
    full = float(1 << (8 * width - 1))
    for i in range(0, len(data), width):
        value = int.from_bytes(data[i:i + width], "little", signed=True)
        peak = max(peak, abs(value))
    return channels, rate, width, frames, peak / full


def probe(path):
    result = subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-of", "json", path],
                            capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        raise AssertionError("ffprobe could not read %s: %s" % (path, result.stderr))
    return json.loads(result.stdout)["streams"][0]


def ffmpeg_loudness(path):
    result = subprocess.run(["ffmpeg", "-hide_banner", "-nostats", "-i", path, "-af", "ebur128", "-f", "null", "-"],
                            capture_output=True, text=True, timeout=120)
    values = re.findall(r"I:\s+(-?[\d.]+|-inf) LUFS", result.stderr)
    return float(values[-1]) if values else None


def strict_json(line):
    def refuse(name):
        raise ValueError("not strict JSON: " + name)
    return json.loads(line, parse_constant=refuse)


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def leftovers(folder):
    return [n for n in os.listdir(folder) if ".partial-" in n]


class RenderCliTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.shared = tempfile.mkdtemp(prefix="sorvane-render-inputs-")
        cls.stereo = os.path.join(cls.shared, "stereo.wav")
        cls.stereo_frames = write_wave(cls.stereo, 2.0, 48000, 2, seed=1)
        cls.mono = os.path.join(cls.shared, "mono.wav")
        cls.mono_frames = write_wave(cls.mono, 1.5, 44100, 1, seed=2)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.shared, ignore_errors=True)

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="sorvane-render-")
        self.home = os.path.join(self.folder, "home")
        os.makedirs(self.home)
        self.env = dict(os.environ, HOME=self.home)

    def tearDown(self):
        subprocess.run(["chattr", "-R", "-i", self.folder], capture_output=True)
        shutil.rmtree(self.folder, ignore_errors=True)

    def path(self, *names):
        return os.path.join(self.folder, *names)

    def run_render(self, *args, timeout=120):
        return subprocess.run([RENDER, *args], env=self.env, cwd=self.folder, capture_output=True, text=True,
                              timeout=timeout)

    def test_help_and_version(self):
        result = self.run_render("--help")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("Usage: sorvane-render INPUT OUTPUT", result.stdout)
        for option in ("--preset", "--user-preset", "--dna", "--project", "--set", "--tempo", "--rate", "--block",
                       "--tail", "--format", "--keep-extension", "--quiet", "--json"):
            self.assertIn(option, result.stdout)
        result = self.run_render("--version")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stdout, r"^sorvane-render \d+\.\d+\.\d+\n$")
        result = self.run_render("--list-presets")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertGreaterEqual(len(result.stdout.splitlines()), 37)

    def test_several_files_at_once_with_json_results(self):
        flac_input = self.path("third.flac")
        subprocess.run(["ffmpeg", "-v", "error", "-i", self.stereo, "-c:a", "flac", flac_input], check=True)
        outputs = [self.path("a.wav"), self.path("b.flac"), self.path("c.wav")]
        result = self.run_render(self.stereo, outputs[0], self.mono, outputs[1], flac_input, outputs[2],
                                 "--preset", "3", "--tail", "0.5", "--json")
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.splitlines()
        self.assertEqual(len(lines), 3, result.stdout)
        records = [strict_json(line) for line in lines]
        self.assertEqual([r["output"] for r in records], outputs)
        self.assertEqual([r["input"] for r in records], [self.stereo, self.mono, flac_input])
        for r in records:
            self.assertTrue(r["ok"], r)
            self.assertEqual(set(r), {"input", "output", "ok", "seconds", "sampleRate", "channels", "frames",
                                      "peak", "peakDbfs", "loudnessBefore", "loudnessAfter"})

        channels, rate, width, frames, peak = read_wave(outputs[0])
        self.assertEqual((channels, rate, width), (2, 48000, 3))
        self.assertEqual(frames, self.stereo_frames + 24000)
        self.assertEqual(records[0]["frames"], frames)
        self.assertAlmostEqual(records[0]["seconds"], frames / 48000, places=5)
        self.assertAlmostEqual(records[0]["peak"], min(1.0, peak), delta=2e-6)
        self.assertGreater(peak, 0.01)
        self.assertAlmostEqual(records[0]["loudnessAfter"], ffmpeg_loudness(outputs[0]), delta=0.2)
        self.assertAlmostEqual(records[0]["loudnessBefore"], ffmpeg_loudness(self.stereo), delta=0.2)

        stream = probe(outputs[1])
        self.assertEqual((stream["codec_name"], int(stream["sample_rate"]), stream["channels"]), ("flac", 44100, 1))
        self.assertEqual(int(stream["duration_ts"]), self.mono_frames + 22050)
        self.assertEqual(records[1]["channels"], 1)

        # The same audio as FLAC input renders to the same samples as the WAV it came from.
        self.assertEqual(read_wave(outputs[2])[:4], read_wave(outputs[0])[:4])
        with wave.open(outputs[0]) as a, wave.open(outputs[2]) as c:
            self.assertEqual(a.readframes(a.getnframes()), c.readframes(c.getnframes()))

    def test_compressed_inputs_through_the_app_readers_and_ffmpeg(self):
        args = []
        for extension, codec in ((".m4a", "aac"), (".opus", "libopus"), (".mp3", "libmp3lame"),
                                 (".ogg", "libvorbis")):
            name = self.path("compressed" + extension)
            subprocess.run(["ffmpeg", "-v", "error", "-i", self.stereo, "-c:a", codec, name], check=True)
            args += [name, self.path("compressed-%s.wav" % extension[1:])]
        result = self.run_render(*args, "--json", "--rate", "48000")
        self.assertEqual(result.returncode, 0, result.stderr)
        records = [strict_json(line) for line in result.stdout.splitlines()]
        self.assertEqual(len(records), 4)
        for record in records:
            channels, rate, width, frames, peak = read_wave(record["output"])
            self.assertEqual((channels, rate, width), (2, 48000, 3), record)
            # Codec delay and padding move the length by at most a few codec frames.
            self.assertLess(abs(frames - self.stereo_frames), 4096, record)
            self.assertEqual(frames, record["frames"])
            self.assertGreater(peak, 0.01, record)

    def test_a_folder_renders_into_an_output_folder(self):
        source = self.path("in")
        os.makedirs(source)
        write_wave(os.path.join(source, "one.wav"), 0.5, 48000, 2, seed=3)
        write_wave(os.path.join(source, "TWO.WAV"), 0.25, 32000, 1, seed=4)
        with open(os.path.join(source, "notes.txt"), "w") as f:
            f.write("not audio")
        result = self.run_render("in", "out", "--format", "flac", "--set", "drive=55", "-q")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "")
        self.assertEqual(sorted(os.listdir(self.path("out"))), ["TWO.flac", "one.flac"])
        one, two = probe(self.path("out", "one.flac")), probe(self.path("out", "TWO.flac"))
        self.assertEqual((one["codec_name"], int(one["sample_rate"]), one["channels"], int(one["duration_ts"])),
                         ("flac", 48000, 2, 24000))
        self.assertEqual((two["codec_name"], int(two["sample_rate"]), two["channels"], int(two["duration_ts"])),
                         ("flac", 32000, 1, 8000))

    def test_a_folder_of_mixed_formats_renders_completely_with_keep_extension(self):
        source = self.path("mixed")
        os.makedirs(source)
        # Different lengths, rates and channels, so each output shows which input it came from.
        write_wave(self.path("for-flac.wav"), 0.5, 48000, 2, seed=5)
        subprocess.run(["ffmpeg", "-v", "error", "-i", self.path("for-flac.wav"), "-c:a", "flac",
                        os.path.join(source, "song.flac")], check=True)
        write_wave(os.path.join(source, "song.wav"), 0.25, 32000, 1, seed=6)

        # Without the option the second input (in name order) meets the first at song.wav.
        result = self.run_render("mixed", "out", "-q")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(result.stdout, "")
        self.assertEqual(result.stderr.splitlines(), [
            "sorvane-render: %s: %s was not rendered: %s is written to the same output; --keep-extension "
            "writes them as song.flac.wav and song.wav.wav." % (self.path("out", "song.wav"),
                                                                 os.path.join(source, "song.wav"),
                                                                 os.path.join(source, "song.flac"))])
        self.assertEqual(os.listdir(self.path("out")), ["song.wav"])
        self.assertEqual(read_wave(self.path("out", "song.wav"))[:4], (2, 48000, 3, 24000))

        result = self.run_render("mixed", "kept", "--keep-extension", "--json")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        records = [strict_json(line) for line in result.stdout.splitlines()]
        self.assertEqual([(r["input"], r["output"], r["ok"]) for r in records], [
            (os.path.join(source, "song.flac"), self.path("kept", "song.flac.wav"), True),
            (os.path.join(source, "song.wav"), self.path("kept", "song.wav.wav"), True)])
        self.assertEqual(sorted(os.listdir(self.path("kept"))), ["song.flac.wav", "song.wav.wav"])
        self.assertEqual(read_wave(self.path("kept", "song.flac.wav"))[:4], (2, 48000, 3, 24000))
        self.assertEqual(read_wave(self.path("kept", "song.wav.wav"))[:4], (1, 32000, 3, 8000))
        # The same input renders to the same samples under either name.
        with wave.open(self.path("out", "song.wav")) as a, wave.open(self.path("kept", "song.flac.wav")) as b:
            self.assertEqual(a.readframes(a.getnframes()), b.readframes(b.getnframes()))

        result = self.run_render("mixed", "flacs", "--keep-extension", "--format", "flac", "-q")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(os.listdir(self.path("flacs"))), ["song.flac.flac", "song.wav.flac"])
        self.assertEqual(probe(self.path("flacs", "song.wav.flac"))["codec_name"], "flac")

    def test_an_output_name_that_says_no_format(self):
        cases = [
            # arguments, exit status, standard error lines
            ([self.stereo, "out.xyz"], 2,
             ["sorvane-render: %s: sorvane-render writes WAV (.wav) or FLAC (.flac), and .xyz is neither; name "
              "the output .wav or .flac, or give --format to write that format under this name."
              % self.path("out.xyz")]),
            ([self.stereo, "fine.wav", self.mono, "song.mp3"], 2,
             ["sorvane-render: %s: sorvane-render writes WAV (.wav) or FLAC (.flac), and .mp3 is neither; name "
              "the output .wav or .flac, or give --format to write that format under this name."
              % self.path("song.mp3")]),
            ([self.stereo, "o.wav", "--keep-extension"], 2,
             ["sorvane-render: --keep-extension names the outputs of a folder run; with INPUT OUTPUT pairs "
              "each output is named as given."]),
        ]
        for args, status, lines in cases:
            with self.subTest(args=args):
                result = self.run_render(*args)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertEqual(result.stderr.splitlines(), lines)
                self.assertEqual(result.stdout, "")
                self.assertEqual(sorted(os.listdir(self.folder)), ["home"])

        # With the format given the name is kept, and the run says what it holds.
        result = self.run_render(self.stereo, "out.xyz", "--format", "wav24")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr.splitlines(), [
            "sorvane-render: %s: written as 24-bit WAV, as --format asked; the extension .xyz does not say so."
            % self.path("out.xyz")])
        self.assertIn(self.path("out.xyz") + ":", result.stdout)
        self.assertEqual(read_wave(self.path("out.xyz"))[:4], (2, 48000, 3, self.stereo_frames))

        result = self.run_render(self.mono, "out.raw", "--format", "flac", "--json")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr.splitlines(), [
            "sorvane-render: %s: written as 24-bit FLAC, as --format asked; the extension .raw does not say so."
            % self.path("out.raw")])
        self.assertTrue(strict_json(result.stdout)["ok"])
        self.assertEqual(probe(self.path("out.raw"))["codec_name"], "flac")

        # --quiet keeps to errors; a name without an extension is WAV, as it always was.
        result = self.run_render(self.mono, "plain", "--quiet")
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))
        self.assertEqual(read_wave(self.path("plain"))[:4], (1, 44100, 3, self.mono_frames))
        result = self.run_render(self.mono, "quiet.xyz", "--format", "wav32f", "--quiet")
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))
        self.assertEqual(probe(self.path("quiet.xyz"))["codec_name"], "pcm_f32le")
        self.assertEqual(leftovers(self.folder), [])

    def test_refusals_name_the_file_and_write_nothing(self):
        with open(self.path("garbage.wav"), "w") as f:
            f.write("RIFF....WAVEfmt nonsense")
        with open(self.path("a-file"), "w") as f:
            f.write("x")
        with open(self.path("bad-dna.txt"), "w") as f:
            f.write("SV1:????")
        shutil.copy(self.stereo, self.path("in.wav"))
        os.makedirs(self.path("sub"))
        os.symlink(self.path("in.wav"), self.path("link.wav"))
        os.link(self.path("in.wav"), self.path("hard.wav"))
        original = digest(self.path("in.wav"))

        cases = [
            # arguments, expected status, words of the message, output path that must stay absent
            (["missing.wav", "o.wav"], 1, self.path("missing.wav") + ": no such file", "o.wav"),
            (["garbage.wav", "o.wav"], 1, self.path("garbage.wav") + ": ", "o.wav"),
            (["in.wav", "o.wav", "--preset", "No Such Preset"], 2, "no factory preset 'No Such Preset'", "o.wav"),
            (["in.wav", "o.wav", "--dna", "SV1:not-dna"], 2, "The DNA text is not valid", "o.wav"),
            (["in.wav", "o.wav", "--dna", "@bad-dna.txt"], 2, self.path("bad-dna.txt") + ": ", "o.wav"),
            (["in.wav", "o.wav", "--dna", "@nothing.txt"], 2, self.path("nothing.txt") + ": ", "o.wav"),
            (["in.wav", "o.wav", "--user-preset", "nothing.sorvane"], 2, "nothing.sorvane: no such preset", "o.wav"),
            (["in.wav", "o.wav", "--project", "garbage.wav"], 2, self.path("garbage.wav") + ": ", "o.wav"),
            (["in.wav", "o.wav", "--set", "drive=140"], 2, "--set drive takes a number from 0 to 100", "o.wav"),
            (["in.wav", "o.wav", "--block", "0"], 2, "--block takes a whole number", "o.wav"),
            (["in.wav", "no-folder/o.wav"], 1, self.path("no-folder", "o.wav") + ": the folder", "no-folder/o.wav"),
            (["in.wav", "a-file/o.wav"], 1, self.path("a-file", "o.wav") + ": the folder", "a-file/o.wav"),
            (["in.wav", "in.wav"], 1, self.path("in.wav") + ": the output is the input file itself", None),
            (["in.wav", "sub/../in.wav"], 1, self.path("in.wav") + ": the output is the input file itself", None),
            (["in.wav", "link.wav"], 1, self.path("link.wav") + ": the output is the input file itself", None),
            (["link.wav", "hard.wav"], 1, self.path("hard.wav") + ": the output is the input file itself", None),
        ]
        if self.make_read_only(self.path("sub")):
            cases.append((["in.wav", "sub/o.wav"], 1, self.path("sub", "o.wav") + ": cannot write in", "sub/o.wav"))

        for args, status, words, output in cases:
            with self.subTest(args=args):
                result = self.run_render(*args)
                self.assertEqual(result.returncode, status, result.stderr)
                lines = result.stderr.splitlines()
                self.assertEqual(len(lines), 1, result.stderr)
                self.assertTrue(lines[0].startswith("sorvane-render: "), lines[0])
                self.assertIn(words, lines[0])
                if output is not None:
                    self.assertFalse(os.path.lexists(self.path(output)), output)
                self.assertEqual(digest(self.path("in.wav")), original)
                self.assertEqual(leftovers(self.folder), [])
                self.assertEqual(leftovers(self.path("sub")), [])
        self.assertTrue(os.path.islink(self.path("link.wav")))

    def test_names_in_another_encoding_are_refused_and_nothing_is_written(self):
        # Linux names are bytes: a Latin-1 name cannot pass through text unchanged, so it is refused
        # rather than read or written under another name.
        latin1_in = os.fsencode(self.path("caf")) + b"\xe9.wav"
        shutil.copyfile(self.stereo, latin1_in)
        before = sorted(os.listdir(os.fsencode(self.folder)))
        for args, shown in (([latin1_in, b"out.wav"], "caf\\xE9.wav"),
                            ([self.stereo.encode(), b"ou\xf1t.wav"], "ou\\xF1t.wav")):
            result = subprocess.run([RENDER.encode(), *args], env=self.env, cwd=self.folder, capture_output=True,
                                    timeout=60)
            stderr = result.stderr.decode("utf-8")
            self.assertEqual(result.returncode, 2, stderr)
            self.assertIn(shown, stderr)
            self.assertIn("is not UTF-8 text", stderr)
            self.assertEqual(sorted(os.listdir(os.fsencode(self.folder))), before)

    def test_a_missing_input_thousands_of_folders_deep_is_reported_as_missing(self):
        deep = "m/" * 3000 + "in.wav"
        result = self.run_render(deep, "o.wav")
        self.assertEqual(result.returncode, 1, "exit %d (negative: a signal); stderr:\n%s"
                         % (result.returncode, result.stderr[-2000:]))
        lines = result.stderr.splitlines()
        self.assertEqual(len(lines), 1, result.stderr[-2000:])
        self.assertEqual(lines[0], "sorvane-render: " + self.path(deep) + ": no such file.")
        self.assertFalse(os.path.lexists(self.path("o.wav")))
        self.assertEqual(leftovers(self.folder), [])

    def test_output_names_of_255_bytes_are_written_under_exactly_that_name(self):
        cjk = "\u97f3"  # three bytes in UTF-8
        for extension in (".wav", ".flac"):
            room = 255 - len(extension)
            names = {"ASCII": "a" * room + extension,
                     "CJK": "a" * (room % 3) + cjk * (room // 3) + extension}
            for kind, name in names.items():
                with self.subTest(extension=extension, name=kind):
                    self.assertEqual(len(name.encode()), 255)
                    out = self.path("out-%s%s" % (kind, extension))
                    os.makedirs(out)
                    result = self.run_render(self.mono, os.path.join(out, name), "--quiet")
                    self.assertEqual(result.returncode, 0, result.stderr)
                    self.assertEqual(os.listdir(out), [name])
                    stream = probe(os.path.join(out, name))
                    self.assertEqual((stream["codec_name"].startswith("pcm") or stream["codec_name"] == "flac",
                                      int(stream["sample_rate"]), stream["channels"]), (True, 44100, 1))

    def make_read_only(self, folder):
        """A folder no new file can appear in, even for root (chattr +i); False where that cannot be
        done here."""
        if os.geteuid() != 0:
            os.chmod(folder, 0o555)
        elif subprocess.run(["chattr", "+i", folder], capture_output=True).returncode != 0:
            return False
        try:
            open(os.path.join(folder, "probe"), "w").close()
        except OSError:
            return True
        os.remove(os.path.join(folder, "probe"))
        return False

    def test_a_signal_mid_render_leaves_no_output(self):
        for stop in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=stop.name):
                outputs = [self.path("long-1.wav"), self.path("long-2.flac")]
                # An hour of tail keeps both files rendering well past the signal.
                proc = subprocess.Popen([RENDER, self.mono, outputs[0], self.stereo, outputs[1], "--tail", "3600",
                                         "--quiet"], env=self.env, cwd=self.folder, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True)
                try:
                    # One file per core: on two cores both are being written at the same time.
                    at_once = min(2, os.cpu_count() or 1)

                    def growing():
                        partial = [os.path.join(self.folder, n) for n in leftovers(self.folder)]
                        return len(partial) == at_once and all(os.path.getsize(p) > 200000 for p in partial)
                    deadline = time.monotonic() + 60
                    while not growing():
                        self.assertIsNone(proc.poll(), proc.stderr.read() if proc.poll() is not None else "")
                        self.assertLess(time.monotonic(), deadline, "the renders did not start writing")
                        time.sleep(0.05)
                    proc.send_signal(stop)
                    _, err = proc.communicate(timeout=60)
                finally:
                    if proc.poll() is None:
                        proc.kill()
                        proc.wait()
                self.assertEqual(proc.returncode, -stop, err)
                self.assertIn("cancelled; nothing was written", err)
                for output in outputs:
                    self.assertFalse(os.path.lexists(output))
                self.assertEqual(leftovers(self.folder), [])

    def test_a_full_disk_fails_says_so_and_keeps_the_older_output(self):
        disk = self.path("disk")
        os.makedirs(disk)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", disk], capture_output=True,
                                 text=True)
        if mounted.returncode != 0:
            self.skipTest("needs a small tmpfs (mounting needs root): " + mounted.stderr.strip())
        try:
            for name in ("out.wav", "out.flac"):
                with self.subTest(output=name):
                    output = os.path.join(disk, name)
                    with open(output, "wb") as f:
                        f.write(b"an older render")
                    before = digest(output)
                    # Two seconds of 24-bit stereo, about 570 kB either way, on a disk of 256 kB.
                    result = self.run_render(self.stereo, output, "--tail", "2", "--quiet")
                    self.assertNotEqual(result.returncode, 0, result.stderr)
                    self.assertIn("Could not write " + output + ": No space left on device (the disk is full); "
                                  "the previous file is unchanged.", result.stderr)
                    self.assertEqual(digest(output), before)
                    self.assertEqual(leftovers(disk), [])
        finally:
            subprocess.run(["umount", "-l", disk], capture_output=True)

    def test_the_temporary_of_a_killed_render_is_swept_by_the_next_one(self):
        output = self.path("mix.wav")
        proc = subprocess.Popen([RENDER, self.stereo, output, "--tail", "3600", "--quiet"], env=self.env,
                                cwd=self.folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 60
            while not leftovers(self.folder):
                self.assertIsNone(proc.poll(), "the render ended before it was killed")
                self.assertLess(time.monotonic(), deadline, "the render did not start writing")
                time.sleep(0.05)
        finally:
            proc.kill()
            proc.wait()
        left = leftovers(self.folder)
        self.assertEqual(len(left), 1, left)
        self.assertRegex(left[0], r"^\.mix\.partial-[0-9a-f]{16}\.wav$")
        # Beside it, files the sweep must leave: someone else's hidden file and another output's temporary.
        keep = [".mix.notes", ".other.partial-0123456789abcdef.wav"]
        for name in keep:
            with open(self.path(name), "w") as f:
                f.write("not the render's")

        result = self.run_render(self.mono, output, "--quiet")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertFalse(os.path.lexists(self.path(left[0])), "the killed render's temporary is still there")
        for name in keep:
            self.assertTrue(os.path.isfile(self.path(name)), name)
        self.assertEqual(read_wave(output)[3], self.mono_frames)

    def test_the_same_command_gives_the_same_bytes(self):
        runs = []
        for jobs in ("1", "2"):
            folder = self.path("run" + jobs)
            os.makedirs(folder)
            outputs = [os.path.join(folder, "a.wav"), os.path.join(folder, "b.flac"), os.path.join(folder, "c.wav")]
            result = self.run_render(self.stereo, outputs[0], self.mono, outputs[1], self.stereo, outputs[2],
                                     "--preset", "5", "--set", "glitch=85", "--set", "chaos=70", "--block", "128", "--tail", "1", "--jobs", jobs, "-q")
            self.assertEqual(result.returncode, 0, result.stderr)
            runs.append([digest(p) for p in outputs])
        self.assertEqual(runs[0], runs[1])
        self.assertEqual(runs[0][0], runs[0][2])

    def test_progress_bar_only_on_a_terminal(self):
        args = [self.stereo, self.path("p.wav"), "--tail", "20"]
        text = self.run_on_terminal(args)
        self.assertIn("files", text)
        self.assertRegex(text, r"\[[#-]{30}\]\s+\d+%")
        self.assertIn(self.path("p.wav") + ":", text)
        os.remove(self.path("p.wav"))

        quiet = self.run_on_terminal(args + ["--quiet"])
        self.assertNotIn("%", quiet)
        os.remove(self.path("p.wav"))

        piped = self.run_render(*args)
        self.assertEqual(piped.returncode, 0, piped.stderr)
        self.assertEqual(piped.stderr, "")
        self.assertNotIn("%", piped.stdout)
        self.assertIn(self.path("p.wav") + ":", piped.stdout)

    def run_on_terminal(self, args):
        controller, terminal = pty.openpty()
        proc = subprocess.Popen([RENDER, *args], env=self.env, cwd=self.folder, stdin=subprocess.DEVNULL,
                                stdout=terminal, stderr=terminal)
        os.close(terminal)
        output = b""
        try:
            while True:
                ready, _, _ = select.select([controller], [], [], 60)
                if not ready:
                    break
                try:
                    chunk = os.read(controller, 65536)
                except OSError:
                    break
                if not chunk:
                    break
                output += chunk
        finally:
            os.close(controller)
            proc.wait(timeout=60)
        self.assertEqual(proc.returncode, 0, output)
        return output.decode(errors="replace")

    def test_man_page_reads_without_warnings(self):
        result = subprocess.run(["man", "--warnings", "-l", MAN_PAGE], capture_output=True, text=True,
                                env=dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8"), timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        self.assertIn("sorvane-render", result.stdout)
        self.assertIn("EXIT STATUS", result.stdout)

    def test_install_puts_the_program_and_its_man_page_in_place(self):
        prefix = self.path("prefix")
        result = subprocess.run(["cmake", "--install", BUILD_DIR, "--prefix", prefix], capture_output=True,
                                text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        program = os.path.join(prefix, "bin", "sorvane-render")
        self.assertTrue(os.access(program, os.X_OK))
        with open(os.path.join(prefix, "share", "man", "man1", "sorvane-render.1")) as f, open(MAN_PAGE) as g:
            self.assertEqual(f.read(), g.read())
        version = subprocess.run([program, "--version"], capture_output=True, text=True, timeout=60)
        self.assertEqual(version.returncode, 0)


if __name__ == "__main__":
    args = sys.argv[1:]
    while len(args) >= 2 and args[0] in ("--render", "--man", "--build-dir"):
        value = os.path.abspath(args[1])
        if args[0] == "--render":
            RENDER = value
        elif args[0] == "--man":
            MAN_PAGE = value
        else:
            BUILD_DIR = value
        args = args[2:]
    if RENDER is None or MAN_PAGE is None or BUILD_DIR is None:
        sys.exit("usage: render_cli_test.py --render PATH --man PAGE --build-dir DIR")
    unittest.main(argv=[sys.argv[0]] + args, verbosity=2)
