"""SIGKILL while a preset file or the preset index is written: each is written to a hidden temporary
file beside it and renamed over it only when complete, so whenever the writer dies the file reads back
whole, the last one reported written or the one being written, and no temporary is listed as a preset.

    python3 preset_write_kill_test.py --driver PATH [unittest names...]
"""

import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

DRIVER = None
INDEXED_PRESETS = 400


class PresetWriteKillTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="sorvane-preset-kill-")
        self.env = dict(os.environ, HOME=self.folder)

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def check(self, *args):
        result = subprocess.run([DRIVER, *args], env=self.env, capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        return int(result.stdout.split()[1])

    def kill_repeatedly(self, mode, check_args, rounds, max_delay):
        rng = random.Random(20261211)
        for _ in range(rounds):
            writer = subprocess.Popen([DRIVER, mode, self.folder], env=self.env, stdout=subprocess.PIPE,
                                      text=True)
            try:
                first = writer.stdout.readline().split()
                self.assertEqual(first[0], "WROTE", first)
                time.sleep(rng.uniform(0.0, max_delay))
                writer.send_signal(signal.SIGKILL)
                reported = int(first[1])
                for line in writer.stdout:
                    reported = int(line.split()[1])
            finally:
                writer.kill()
                writer.wait()
            generation = self.check(*check_args)
            self.assertIn(generation, (reported, reported + 1))

    def test_a_killed_preset_save_leaves_a_whole_preset(self):
        self.kill_repeatedly("preset", ["check-preset", os.path.join(self.folder, "Kill.sorvane")], 25, 0.05)
        presets = [n for n in os.listdir(self.folder) if n.endswith(".sorvane")]
        self.assertEqual(presets, ["Kill.sorvane"])

    def test_a_killed_index_write_leaves_a_whole_index(self):
        index = os.path.join(self.folder, "Data", "PresetIndex.xml")
        self.kill_repeatedly("index", ["check-index", index, str(INDEXED_PRESETS)], 15, 0.3)
        names = [n for n in os.listdir(os.path.join(self.folder, "Presets")) if n.endswith(".sorvane")]
        self.assertEqual(len(names), INDEXED_PRESETS)


if __name__ == "__main__":
    args = sys.argv[1:]
    if len(args) >= 2 and args[0] == "--driver":
        DRIVER = os.path.abspath(args[1])
        args = args[2:]
    if DRIVER is None:
        sys.exit("usage: preset_write_kill_test.py --driver PATH")
    unittest.main(argv=[sys.argv[0]] + args, verbosity=2)
