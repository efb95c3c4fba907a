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

    def run_driver(self, *args):
        result = subprocess.run([DRIVER, *args], env=self.env, capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        return result.stdout.split()

    def kill_at_random(self, args, rng):
        """Starts the writer, waits for its first complete generation, kills it at a random moment
        of the ones after and returns the last generation it reported."""
        writer = subprocess.Popen([DRIVER, *args], env=self.env, stdout=subprocess.PIPE, text=True)
        try:
            first = writer.stdout.readline().split()
            self.assertEqual(first[0], "WROTE", first)
            time.sleep(rng.uniform(0.0, 0.05))
            writer.send_signal(signal.SIGKILL)
            reported = int(first[1])
            for line in writer.stdout:
                reported = int(line.split()[1])
        finally:
            writer.kill()
            writer.wait()
        return reported

    def test_killed_during_save_project_leaves_a_whole_project(self):
        rng = random.Random(20261211)
        for _ in range(15):
            reported = self.kill_at_random(["save", self.target], rng)
            self.assertIn(self.check(), (reported, reported + 1))

    def test_killed_during_autosave_leaves_whole_generations(self):
        rng = random.Random(20261212)
        for _ in range(15):
            reported = self.kill_at_random(["autosave"], rng)
            words = self.run_driver("checkautosave")
            self.assertEqual(words[0], "GENERATIONS", words)
            newest, previous = int(words[1]), int(words[2])
            self.assertIn(newest, (reported, reported + 1))
            # The generation before is kept whole; a kill between keeping it and writing the next one
            # leaves the two equal.
            if newest > 1:
                self.assertIn(previous, (newest - 1, newest))

    def test_a_crash_offers_the_autosave_back_and_a_clean_quit_does_not(self):
        worker = subprocess.Popen([DRIVER, "work", "crash"], env=self.env, stdout=subprocess.PIPE, text=True)
        try:
            words = worker.stdout.readline().split()
            self.assertEqual(words[0], "AUTOSAVED", words)
            worked = words[1]
            worker.send_signal(signal.SIGKILL)
        finally:
            worker.kill()
            worker.wait()
        words = self.run_driver("recover")
        self.assertEqual(words, ["RESTORED", worked, "dirty"])
        # The restoring run closed cleanly: nothing is offered again.
        self.assertEqual(self.run_driver("recover")[0], "NOTHING")

        self.assertEqual(self.run_driver("work", "quit")[0], "AUTOSAVED")
        words = self.run_driver("recover")
        self.assertEqual(" ".join(words), "NOTHING No newer unclean-shutdown autosave is available.")

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
