"""Real audio end to end: the stand-alone processor plays a generated 1 kHz file through a private
JACK dummy server, jack_rec records the processor's output ports, and the recording is checked for
level, pitch and the equal-power fade-in that starts playback.

    python3 end_to_end_audio_test.py --player PATH [unittest names...]
"""

import cmath
import math
import os
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

PLAYER = None

SOURCE_RATE = 48000
FREQUENCY = 1000.0
AMPLITUDE = 0.5
SOURCE_SECONDS = 4
# The onset is wherever PLAY lands after the recorder starts: on a loaded machine that took up to
# 1.8 s, and 1.25 s of playback must follow it.
RECORD_SECONDS = 5
# The dummy server's cycles lag the clock on a loaded machine: five seconds of frames took up to 40 s.
RECORD_TIMEOUT = 90
FADE_MILLISECONDS = 12.0  # the transport's default crossfade
CLIENT = "Sorvane"


def write_source(path):
    """A stereo 24-bit WAV: a 1 kHz sine, the right channel a quarter period ahead so a swapped or
    duplicated channel shows. Returns the samples as written (after 24-bit rounding)."""
    frames = SOURCE_RATE * SOURCE_SECONDS
    scale = (1 << 23) - 1
    channels = ([], [])
    data = bytearray()
    for i in range(frames):
        phase = 2.0 * math.pi * FREQUENCY * i / SOURCE_RATE
        for c, value in enumerate((AMPLITUDE * math.sin(phase), AMPLITUDE * math.cos(phase))):
            q = int(round(value * scale))
            channels[c].append(q / scale)
            data += struct.pack("<i", q)[:3]
    header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(data), b"WAVE", b"fmt ", 16, 1, 2, SOURCE_RATE,
                         SOURCE_RATE * 6, 6, 24, b"data", len(data))
    with open(path, "wb") as f:
        f.write(header + data)
    return channels


def read_wav(path):
    """(rate, [channel samples as floats]) for integer PCM or 32-bit float WAV files."""
    with open(path, "rb") as f:
        raw = f.read()
    if raw[:4] != b"RIFF" or raw[8:12] != b"WAVE":
        raise ValueError("not a WAV file")
    pos, fmt, data = 12, None, None
    while pos + 8 <= len(raw):
        cid, size = struct.unpack_from("<4sI", raw, pos)
        body = raw[pos + 8:pos + 8 + size]
        if cid == b"fmt ":
            fmt = struct.unpack_from("<HHIIHH", body)
            if fmt[0] == 0xFFFE:  # extensible: the real format is the sub-format's first two bytes
                fmt = (struct.unpack_from("<H", body, 24)[0],) + fmt[1:]
        elif cid == b"data":
            data = body
        pos += 8 + size + (size & 1)
    tag, channels, rate, _, align, bits = fmt
    width = bits // 8
    count = len(data) // align
    out = [[0.0] * count for _ in range(channels)]
    for i in range(count):
        for c in range(channels):
            at = i * align + c * width
            if tag == 3 and bits == 32:
                v = struct.unpack_from("<f", data, at)[0]
            elif tag == 1 and bits == 16:
                v = struct.unpack_from("<h", data, at)[0] / 32768.0
            elif tag == 1 and bits == 24:
                v = int.from_bytes(data[at:at + 3], "little", signed=True) / 8388608.0
            elif tag == 1 and bits == 32:
                v = struct.unpack_from("<i", data, at)[0] / 2147483648.0
            else:
                raise ValueError("unsupported WAV format %d/%d" % (tag, bits))
            out[c][i] = v
    return rate, out


def rms(values):
    return math.sqrt(sum(v * v for v in values) / len(values)) if values else 0.0


def db(ratio):
    return 20.0 * math.log10(ratio) if ratio > 0 else -math.inf


def fft(values):
    """Iterative radix-2 FFT; len(values) must be a power of two."""
    n = len(values)
    a = [complex(v) for v in values]
    j = 0
    for i in range(1, n):
        bit = n >> 1
        while j & bit:
            j ^= bit
            bit >>= 1
        j |= bit
        if i < j:
            a[i], a[j] = a[j], a[i]
    size = 2
    while size <= n:
        step = cmath.exp(-2j * math.pi / size)
        for start in range(0, n, size):
            w = 1
            for k in range(size // 2):
                even, odd = a[start + k], a[start + k + size // 2] * w
                a[start + k], a[start + k + size // 2] = even + odd, even - odd
                w *= step
        size *= 2
    return a


def dominant_frequency(values, rate):
    """Peak of the Hann-windowed spectrum (parabolic interpolation between bins), and the share of
    the spectrum's energy within five bins of it."""
    n = len(values)
    windowed = [v * (0.5 - 0.5 * math.cos(2 * math.pi * i / (n - 1))) for i, v in enumerate(values)]
    power = [abs(x) ** 2 for x in fft(windowed)[:n // 2]]
    peak = max(range(1, n // 2 - 1), key=power.__getitem__)
    l, c, r = (math.log(max(power[k], 1e-30)) for k in (peak - 1, peak, peak + 1))
    offset = 0.5 * (l - r) / (l - 2 * c + r) if (l - 2 * c + r) != 0 else 0.0
    share = sum(power[max(0, peak - 5):peak + 6]) / sum(power)
    return (peak + offset) * rate / n, share


class Line:
    """Reads the player's stdout line by line with a timeout."""

    def __init__(self, proc):
        self.proc = proc
        self.buffer = b""

    def expect(self, prefix, timeout):
        end = time.monotonic() + timeout
        while True:
            if b"\n" in self.buffer:
                line, self.buffer = self.buffer.split(b"\n", 1)
                text = line.decode(errors="replace")
                if text.startswith(prefix):
                    return text
                if text.startswith("ERROR"):
                    raise AssertionError("player: " + text)
                continue
            remaining = end - time.monotonic()
            if remaining <= 0:
                raise AssertionError("player did not say %r in %.0f s" % (prefix, timeout))
            ready, _, _ = select.select([self.proc.stdout], [], [], remaining)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 4096)
                if not chunk:
                    raise AssertionError("player ended (exit %s) before saying %r" % (self.proc.wait(), prefix))
                self.buffer += chunk


class EndToEndAudioTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="sorvane-e2e-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        # Synchronous: an asynchronous server under load drops blocks from the recording.
        self.jack = harness.JackServer(self.folder, server_options=("--sync", "--timeout", "10000")).__enter__()
        self.addCleanup(self.jack.__exit__, None, None, None)

    def start(self, args, **kwargs):
        proc = subprocess.Popen(args, env=harness.jack_environment(self.jack.name), cwd=self.folder, **kwargs)
        self.addCleanup(harness.stop_process, proc)
        return proc

    def connections(self, port):
        """The ports connected to port, from jack_lsp -c."""
        listing = self.jack.lsp("-c") or ""
        found, current = set(), None
        for line in listing.splitlines():
            if not line.startswith((" ", "\t")):
                current = line.strip()
            elif current == port:
                found.add(line.strip())
        return found

    def test_played_source_is_recorded_at_its_level_and_pitch_after_an_equal_power_fade_in(self):
        source_path = os.path.join(self.folder, "tone.wav")
        source = write_source(source_path)
        source_rms = [rms(channel) for channel in source]

        player = self.start([PLAYER, source_path], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        lines = Line(player)
        _, rate, block, outputs = lines.expect("READY", 20).split()
        self.assertEqual(float(rate), float(SOURCE_RATE), "the server runs at %s" % rate)
        self.assertEqual(int(outputs), 2)
        ports = [CLIENT + ":out_1", CLIENT + ":out_2"]
        listed = self.jack.lsp() or ""
        for port in ports:
            self.assertIn(port, listed.split("\n"))

        recording = os.path.join(self.folder, "recorded.wav")
        recorder = self.start(["jack_rec", "-f", recording, "-d", str(RECORD_SECONDS), "-b", "32", *ports],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        # Playback starts only once the recorder hears both ports, so the fade-in is on the recording.
        self.assertTrue(harness.wait_until(
            lambda: all(any(c.startswith("jackrec:") for c in self.connections(p)) for p in ports), 10),
            "jack_rec did not connect: %s" % {p: self.connections(p) for p in ports})
        time.sleep(0.2)
        player.stdin.write(b"PLAY\n")
        player.stdin.flush()
        lines.expect("PLAYING", 10)
        try:
            self.assertEqual(recorder.wait(timeout=RECORD_TIMEOUT), 0, recorder.stderr.read().decode())
        finally:
            recorder.stderr.close()
        player.stdin.write(b"QUIT\n")
        player.stdin.close()
        self.assertEqual(player.wait(timeout=10), 0)
        player.stdout.close()

        recorded_rate, recorded = read_wav(recording)
        self.assertEqual(recorded_rate, SOURCE_RATE)
        self.assertEqual(len(recorded), 2)

        # Before PLAY the processor renders silence: the first audible frame is the start of playback.
        threshold = 1e-5
        onset = next((i for i in range(len(recorded[0]))
                      if max(abs(recorded[0][i]), abs(recorded[1][i])) > threshold), None)
        self.assertIsNotNone(onset, "the recording is silent")
        self.assertGreater(onset, recorded_rate * 0.1, "playback started before PLAY")
        fade = int(round(recorded_rate * FADE_MILLISECONDS / 1000.0))
        steady = recorded_rate  # one second of steady playback, well after the fade
        start = onset + fade + recorded_rate // 10
        self.assertGreaterEqual(len(recorded[0]), start + steady, "recording too short after onset %d" % onset)

        # Level: each channel as loud as the source's, within 0.5 dB.
        for c in range(2):
            measured = rms(recorded[c][start:start + steady])
            print("channel %d: source RMS %.5f (%.2f dBFS), recorded RMS %.5f (%.2f dBFS)"
                  % (c + 1, source_rms[c], db(source_rms[c]), measured, db(measured)))
            self.assertLess(abs(db(measured / source_rms[c])), 0.5)

        # Pitch: 1 kHz dominates both channels.
        for c in range(2):
            frequency, share = dominant_frequency(recorded[c][start:start + 16384], recorded_rate)
            print("channel %d: dominant %.2f Hz, %.4f of the energy within 5 bins" % (c + 1, frequency, share))
            self.assertLess(abs(frequency - FREQUENCY), recorded_rate / 16384.0)
            self.assertGreater(share, 0.99)

        # Channels not swapped: left follows the source's sine, right its cosine, from the first frame.
        expected = [[AMPLITUDE * math.sin(2 * math.pi * FREQUENCY * i / SOURCE_RATE) for i in range(steady)],
                    [AMPLITUDE * math.cos(2 * math.pi * FREQUENCY * i / SOURCE_RATE) for i in range(steady)]]
        lag = start - onset
        for c in range(2):
            same = sum(recorded[c][start + i] * expected[c][(lag + i) % len(expected[c])] for i in range(4800))
            other = sum(recorded[c][start + i] * expected[1 - c][(lag + i) % len(expected[c])] for i in range(4800))
            self.assertGreater(same, 10 * abs(other), "channel %d does not carry its own source channel" % (c + 1))

        # Fade-in: per millisecond, the level follows sin(x * pi / 2) over 12 ms (an equal-power
        # curve; a linear one would sit 3 dB lower at the midpoint), then holds full level.
        ms = recorded_rate // 1000
        full = rms(source[0] + source[1])
        envelope = []
        for k in range(int(FADE_MILLISECONDS) + 3):
            window = recorded[0][onset + k * ms:onset + (k + 1) * ms] + recorded[1][onset + k * ms:onset + (k + 1) * ms]
            gains = [math.sin(min(1.0, (k * ms + i + 1) / fade) * math.pi / 2) for i in range(ms)]
            model = full * math.sqrt(sum(g * g for g in gains) / ms)
            envelope.append((rms(window), model))
        print("fade-in per ms (recorded/model RMS): " +
              " ".join("%.3f/%.3f" % pair for pair in envelope))
        first, _ = envelope[0]
        self.assertLess(db(first / full), -15.0, "the first millisecond is not much quieter than full level")
        for k, (measured, model) in enumerate(envelope):
            self.assertAlmostEqual(measured, model, delta=0.02 * full + 0.01,
                                   msg="millisecond %d of the fade-in: %.4f, expected %.4f" % (k, measured, model))


def main(argv):
    global PLAYER
    harness.exit_cleanly_on_sigterm()
    if len(argv) < 2 or argv[0] != "--player":
        print(__doc__, file=sys.stderr)
        return 2
    PLAYER = os.path.abspath(argv[1])
    program = unittest.main(argv=[sys.argv[0], "-v", *argv[2:]], exit=False)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
