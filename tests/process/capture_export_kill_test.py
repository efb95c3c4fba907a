"""SIGKILL during a WAV export: the editor's export path (driven by CaptureExportDriver, which fills a
long capture offline and hands the destination to the editor as the save chooser does) writes a
hidden temporary file beside the destination and renames it over the destination only when complete.
Killed while the temporary file is written, the old destination must be left byte for byte; killed
after the job reports Completed, the new file must be complete.

    python3 capture_export_kill_test.py --driver PATH [unittest names...]
"""

import ctypes
import ctypes.util
import json
import math
import os
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from end_to_end_audio_test import Line  # noqa: E402

DRIVER = None

# 16 bars at 30 BPM (the slowest tempo) is 128 s, plus the 4 s tail: a file of about 38 MB, whose
# write and sync take long enough to be caught in the middle.
RATE = 48000
TEMPO = 30
BARS = 16
FRAMES = int(round(RATE * 240.0 / TEMPO * BARS)) + int(round(RATE * 4.0))
COMMENT = b"Sorvane sourceRangeStart=0.000000000; sourceRangeEnd=1.000000000; sourceRangeMode=loop"

IN_CREATE = 0x100
IN_MOVED_TO = 0x80


class DirectoryWatch:
    """inotify on one folder: names created in it, the moment they are created."""

    def __init__(self, folder):
        self.libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
        self.fd = self.libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.fd < 0:
            raise OSError(ctypes.get_errno(), "inotify_init1")
        if self.libc.inotify_add_watch(self.fd, folder.encode(), IN_CREATE | IN_MOVED_TO) < 0:
            os.close(self.fd)
            raise OSError(ctypes.get_errno(), "inotify_add_watch")

    def close(self):
        os.close(self.fd)

    def wait_for(self, predicate, timeout):
        """The first created name for which predicate is true, or None after timeout."""
        end = time.monotonic() + timeout
        while True:
            remaining = end - time.monotonic()
            if remaining <= 0:
                return None
            ready, _, _ = select.select([self.fd], [], [], remaining)
            if not ready:
                continue
            try:
                data = os.read(self.fd, 65536)
            except BlockingIOError:
                continue
            pos = 0
            while pos + 16 <= len(data):
                _, _, _, length = struct.unpack_from("iIII", data, pos)
                name = data[pos + 16:pos + 16 + length].rstrip(b"\0").decode(errors="replace")
                pos += 16 + length
                if predicate(name):
                    return name


def is_temporary(name):
    return name.startswith(".") and ".partial-" in name


def write_source(path):
    """Three seconds of a stereo tone at 16 bits."""
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<hh", int(9000 * math.sin(2 * math.pi * 330 * i / RATE)),
                                           int(9000 * math.sin(2 * math.pi * 440 * i / RATE)))
                               for i in range(3 * RATE)))


def write_old_export(path):
    """What an earlier export left at the destination: a valid WAV of its own."""
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(3)
        w.setframerate(RATE)
        w.writeframes(bytes((i * 7) % 251 for i in range(6 * RATE)))
    with open(path, "rb") as f:
        return f.read()


class CaptureExportKillTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="sorvane-kill-%d-" % os.getpid())
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.exports = os.path.join(self.folder, "exports")
        os.makedirs(self.exports)
        self.home = os.path.join(self.folder, "home")
        os.makedirs(self.home)
        self.source = os.path.join(self.folder, "tone.wav")
        write_source(self.source)
        self.destination = os.path.join(self.exports, "processed.wav")

    def start_driver(self):
        env = dict(os.environ, HOME=self.home)
        proc = subprocess.Popen([DRIVER, self.source, self.destination, str(RATE), str(TEMPO), str(BARS)],
                                env=env, cwd=self.folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.addCleanup(self.close_driver, proc)
        lines = Line(proc)
        captured = lines.expect("CAPTURED", 120).split()
        self.assertEqual(captured[1:], [str(FRAMES), "2", str(RATE)])
        return proc, lines

    @staticmethod
    def close_driver(proc):
        harness.stop_process(proc, signal.SIGKILL)
        for stream in (proc.stdin, proc.stdout):
            try:
                stream.close()
            except OSError:
                pass

    def send(self, proc, line):
        proc.stdin.write(line.encode() + b"\n")
        proc.stdin.flush()

    def temporaries(self):
        return sorted(n for n in os.listdir(self.exports) if is_temporary(n))

    def assert_complete_export(self, path):
        with wave.open(path, "rb") as w:
            self.assertEqual((w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()),
                             (2, 3, RATE, FRAMES))
        with open(path, "rb") as f:
            raw = f.read()
        self.assertIn(COMMENT, raw)
        # Header sizes agree with the file: nothing was cut off after the header was finished.
        self.assertEqual(struct.unpack_from("<I", raw, 4)[0], len(raw) - 8)
        probe = subprocess.run(["ffprobe", "-v", "error", "-print_format", "json", "-show_streams", "-show_format",
                                path], capture_output=True, text=True, timeout=60)
        self.assertEqual(probe.returncode, 0, probe.stderr)
        info = json.loads(probe.stdout)
        self.assertEqual(info["streams"][0]["codec_name"], "pcm_s24le")
        self.assertAlmostEqual(float(info["format"]["duration"]), FRAMES / RATE, places=3)
        return raw

    def kill(self, proc):
        os.kill(proc.pid, signal.SIGKILL)
        self.assertEqual(proc.wait(timeout=30), -signal.SIGKILL)

    # -------------------------------------------------------------------------------------------
    def test_kill_right_after_completed_leaves_the_new_file_complete(self):
        old = write_old_export(self.destination)
        proc, lines = self.start_driver()
        self.send(proc, "EXPORT")
        lines.expect("STARTED", 30)
        started = time.monotonic()
        lines.expect("COMPLETED", 120)
        self.kill(proc)
        print("export completed %.2f s after it started; killed at once" % (time.monotonic() - started))

        self.assertEqual(self.temporaries(), [])
        self.assertEqual(os.listdir(self.exports), ["processed.wav"])
        raw = self.assert_complete_export(self.destination)
        self.assertNotEqual(raw, old)

    def test_kill_while_the_temporary_file_is_written_leaves_the_old_file(self):
        old = write_old_export(self.destination)
        # Delays after the temporary file appears: the first kill lands at once, the next ones while
        # the audio is written (about a tenth of a second here when the machine is idle, longer when
        # it is busy), the last ones after the publishing rename.
        delays = [0.0, 0.01, 0.03, 0.06, 0.1, 0.25, 0.6]
        mid_write = 0
        # The temporary a kill left, which the next export must sweep before it writes its own.
        stale = None
        for delay in delays:
            with self.subTest(delay=delay):
                proc, lines = self.start_driver()
                watch = DirectoryWatch(self.exports)
                try:
                    self.send(proc, "EXPORT")
                    name = watch.wait_for(is_temporary, 60)
                    self.assertIsNotNone(name, "no temporary file appeared beside the destination")
                    if delay:
                        time.sleep(delay)
                    self.kill(proc)
                finally:
                    watch.close()

                if stale is not None:
                    self.assertFalse(os.path.lexists(os.path.join(self.exports, stale)),
                                     "the next export left the killed one's temporary in place")
                    stale = None
                left = self.temporaries()
                with open(self.destination, "rb") as f:
                    now = f.read()
                if left:
                    # Killed mid-write: the destination was never touched.
                    self.assertEqual(left, [name])
                    size = os.path.getsize(os.path.join(self.exports, name))
                    print("killed %.2f s after %s appeared: before publication, %d bytes written (the audio "
                          "alone is %d); destination unchanged: %s" % (delay, name, size, FRAMES * 6, now == old))
                    self.assertEqual(now, old, "the destination changed before the export was published")
                    mid_write += 1
                    stale = name
                else:
                    # Killed after the rename: the new file, complete.
                    print("killed %.2f s after %s appeared: after publication" % (delay, name))
                    self.assert_complete_export(self.destination)
                    old = write_old_export(self.destination)
                self.assertEqual(sorted(os.listdir(self.exports)), sorted(["processed.wav"] + left))
        self.assertGreaterEqual(mid_write, 1, "no kill landed while the temporary file was written")
        if stale is not None:
            proc, lines = self.start_driver()
            self.send(proc, "EXPORT")
            lines.expect("COMPLETED", 120)
            self.assertEqual(os.listdir(self.exports), ["processed.wav"], "the killed export's temporary stayed")


def main(argv):
    global DRIVER
    harness.exit_cleanly_on_sigterm()
    if len(argv) < 2 or argv[0] != "--driver":
        print(__doc__, file=sys.stderr)
        return 2
    DRIVER = os.path.abspath(argv[1])
    program = unittest.main(argv=[sys.argv[0], "-v", *argv[2:]], exit=False)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
