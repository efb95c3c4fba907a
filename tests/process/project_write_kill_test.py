"""SIGKILL while a creator project is saved: the project is written to a hidden temporary file
beside the target and renamed over it only when complete, so whenever the writer dies the target
reads back as a whole project, the last one reported saved or the one being saved.

    python3 project_write_kill_test.py --driver PATH [unittest names...]
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


class ProjectWriteKillTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="sorvane-project-kill-")
        self.env = dict(os.environ, HOME=self.folder)
        self.target = os.path.join(self.folder, "Song.sorvaneproject")

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def check(self):
        result = subprocess.run([DRIVER, "check", self.target], env=self.env, capture_output=True,
                                text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        return int(result.stdout.split()[1])

    def test_killed_at_any_moment_leaves_a_whole_project(self):
        rng = random.Random(20261210)
        kills = 0
        for _ in range(30):
            writer = subprocess.Popen([DRIVER, "write", self.target], env=self.env,
                                      stdout=subprocess.PIPE, text=True)
            try:
                # The first complete save, then a kill at a random moment of the saves after it.
                first = writer.stdout.readline().split()
                self.assertEqual(first[0], "WROTE", first)
                time.sleep(rng.uniform(0.0, 0.05))
                writer.send_signal(signal.SIGKILL)
                kills += 1
                reported = int(first[1])
                for line in writer.stdout:
                    reported = int(line.split()[1])
            finally:
                writer.kill()
                writer.wait()
            generation = self.check()
            # The project on disk is the last one reported or the one whose rename the kill overtook.
            self.assertIn(generation, (reported, reported + 1))
        self.assertEqual(kills, 30)
        names = [n for n in os.listdir(self.folder) if not n.startswith(".")]
        self.assertEqual(names, ["Song.sorvaneproject"])


if __name__ == "__main__":
    args = sys.argv[1:]
    if len(args) >= 2 and args[0] == "--driver":
        DRIVER = os.path.abspath(args[1])
        args = args[2:]
    if DRIVER is None:
        sys.exit("usage: project_write_kill_test.py --driver PATH")
    unittest.main(argv=[sys.argv[0]] + args, verbosity=2)
