"""`cmake --install` into temporary prefixes: the app (as the lower-case command `sorvane`) and its man
page, desktop entry, icons and AppStream metadata under the prefix, and the plug-in bundles in the
per-user folders for a prefix in the home folder or in the prefix's lib folder for a system prefix. The
desktop entry and metadata go through the freedesktop validators, the entry starts the installed command
with one file and names the audio types the app reads, and the man page renders without warnings.

    python3 install_test.py --build BUILD_FOLDER [unittest names...]
"""

import os
import subprocess
import sys
import tempfile
import unittest

BUILD = None
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256, 512)
APP_ID = "com.kavix.sorvane"
# The shared MIME database's names for what the app opens: WAV, AIFF, FLAC, Ogg Vorbis, MP3, M4A,
# AAC and Opus.
MIME_TYPES = ["audio/x-wav", "audio/x-aiff", "audio/flac", "audio/x-vorbis+ogg", "audio/mpeg", "audio/mp4",
              "audio/aac", "audio/x-opus+ogg"]
AUDIO_EXTENSIONS = (".wav", ".aif", ".aiff", ".flac", ".ogg", ".mp3", ".m4a", ".aac", ".opus")

COMMON_FILES = ["bin/sorvane", "share/man/man1/sorvane.1", "share/applications/%s.desktop" % APP_ID,
                "share/metainfo/%s.metainfo.xml" % APP_ID, "share/icons/hicolor/scalable/apps/%s.svg" % APP_ID] + \
    ["share/icons/hicolor/%dx%d/apps/%s.png" % (s, s, APP_ID) for s in ICON_SIZES]
BUNDLE_FILES = ["Sorvane.lv2/manifest.ttl", "Sorvane.lv2/dsp.ttl", "Sorvane.lv2/libSorvane.so",
                "Sorvane.vst3/Contents/x86_64-linux/Sorvane.so"]


def install(prefix, home):
    env = dict(os.environ, HOME=home)
    subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix], env=env, check=True,
                   stdout=subprocess.DEVNULL, timeout=120)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")


class InstallTest(unittest.TestCase):
    def check_common(self, prefix):
        for rel in COMMON_FILES:
            self.assertTrue(os.path.isfile(os.path.join(prefix, rel)), rel)
        self.assertTrue(os.access(os.path.join(prefix, "bin/sorvane"), os.X_OK))
        self.assertEqual(sorted(os.listdir(os.path.join(prefix, "bin"))), ["sorvane", "sorvane-render"])
        for s in ICON_SIZES:
            self.assertEqual(png_size(os.path.join(prefix, "share/icons/hicolor/%dx%d/apps/%s.png" % (s, s, APP_ID))),
                             (s, s))

    def check_bundles(self, lv2_dir, vst3_dir):
        for rel in BUNDLE_FILES:
            folder = lv2_dir if rel.startswith("Sorvane.lv2") else vst3_dir
            self.assertTrue(os.path.isfile(os.path.join(folder, rel)), os.path.join(folder, rel))

    def test_user_prefix_puts_the_bundles_in_the_home_plugin_folders(self):
        with tempfile.TemporaryDirectory() as home:
            prefix = os.path.join(home, ".local")
            install(prefix, home)
            self.check_common(prefix)
            self.check_bundles(os.path.join(home, ".lv2"), os.path.join(home, ".vst3"))
            self.assertFalse(os.path.exists(os.path.join(prefix, "lib")))

    def test_system_prefix_puts_the_bundles_in_its_lib_folders(self):
        with tempfile.TemporaryDirectory() as root, tempfile.TemporaryDirectory() as home:
            prefix = os.path.join(root, "usr")
            install(prefix, home)
            self.check_common(prefix)
            self.check_bundles(os.path.join(prefix, "lib/lv2"), os.path.join(prefix, "lib/vst3"))
            self.assertEqual(os.listdir(home), [])

    def test_the_command_is_lower_case_and_the_app_keeps_its_name(self):
        with tempfile.TemporaryDirectory() as root, tempfile.TemporaryDirectory() as home:
            prefix = os.path.join(root, "usr")
            install(prefix, home)
            # Help and version need no display; the environment has none, so no window can open.
            env = {"HOME": home, "PATH": "/usr/bin:/bin", "LC_ALL": "C.UTF-8"}
            program = os.path.join(prefix, "bin", "sorvane")
            version = subprocess.run([program, "--version"], env=env, capture_output=True, text=True, timeout=60)
            self.assertEqual((version.returncode, version.stdout), (0, "Sorvane 2.13.3\n"), version.stderr)
            usage = subprocess.run([program, "--help"], env=env, capture_output=True, text=True, timeout=60)
            self.assertEqual(usage.returncode, 0, usage.stderr)
            self.assertTrue(usage.stdout.startswith("Usage: sorvane [options] [audio file]\n"), usage.stdout)
            self.assertIn("When Sorvane is already running", usage.stdout)

    def test_desktop_entry_starts_the_command_with_one_audio_file(self):
        with tempfile.TemporaryDirectory() as root, tempfile.TemporaryDirectory() as home:
            prefix = os.path.join(root, "usr")
            install(prefix, home)
            with open(os.path.join(prefix, "share/applications/%s.desktop" % APP_ID), encoding="utf-8") as f:
                lines = f.read().splitlines()
            entries = dict(line.split("=", 1) for line in lines if "=" in line)
            self.assertEqual(entries["Exec"], "sorvane %f")
            self.assertTrue(os.access(os.path.join(prefix, "bin", entries["Exec"].split()[0]), os.X_OK))
            self.assertEqual(entries["MimeType"], ";".join(MIME_TYPES) + ";")
            # The window keeps the application's name, which is its X class.
            self.assertEqual((entries["Name"], entries["StartupWMClass"]), ("Sorvane", "Sorvane"))
            # Every type is one the MIME database gives to an extension the app opens.
            database = "/usr/share/mime/packages/freedesktop.org.xml"
            if os.path.exists(database):
                with open(database, encoding="utf-8") as f:
                    text = f.read()
                for mime in MIME_TYPES:
                    start = text.index('<mime-type type="%s"' % mime)
                    block = text[start:text.index("</mime-type>", start)]
                    self.assertTrue(any('pattern="*%s"' % e in block for e in AUDIO_EXTENSIONS), mime)

    def test_the_man_page_is_installed_and_renders_without_warnings(self):
        with tempfile.TemporaryDirectory() as root, tempfile.TemporaryDirectory() as home:
            prefix = os.path.join(root, "usr")
            install(prefix, home)
            page = os.path.join(prefix, "share/man/man1/sorvane.1")
            with open(page, encoding="utf-8") as f, open(os.path.join(SOURCE, "packaging", "sorvane.1"),
                                                         encoding="utf-8") as g:
                self.assertEqual(f.read(), g.read())
            env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8")
            shown = subprocess.run(["man", "--warnings", "-l", page], capture_output=True, text=True, env=env,
                                   timeout=60)
            self.assertEqual((shown.returncode, shown.stderr), (0, ""))
            typeset = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-z", page], capture_output=True,
                                     text=True, env=env, timeout=60)
            self.assertEqual((typeset.returncode, typeset.stderr), (0, ""))
            text = shown.stdout
            for heading in ("NAME", "SYNOPSIS", "OPTIONS", "EXIT STATUS", "FILES", "SEE ALSO"):
                self.assertRegex(text, r"(?m)^%s$" % heading)
            self.assertIn("sorvane - the Sorvane audio effect", text)
            # Every option the app's own help lists is in the page.
            usage = subprocess.run([os.path.join(prefix, "bin", "sorvane"), "--help"], capture_output=True,
                                   text=True, env={"HOME": home, "PATH": "/usr/bin:/bin"}, timeout=60)
            options = [word.rstrip(",").split("=")[0] for line in usage.stdout.splitlines()
                       if line.startswith("  -") for word in line.split()[:2] if word.startswith("-")]
            self.assertGreaterEqual(len(options), 6, usage.stdout)
            for option in options:
                self.assertIn(option, text)

    def test_desktop_entry_and_metadata_pass_the_validators(self):
        with tempfile.TemporaryDirectory() as root, tempfile.TemporaryDirectory() as home:
            prefix = os.path.join(root, "usr")
            install(prefix, home)
            desktop = subprocess.run(["desktop-file-validate",
                                      os.path.join(prefix, "share/applications/%s.desktop" % APP_ID)],
                                     capture_output=True, text=True)
            self.assertEqual((desktop.returncode, desktop.stdout + desktop.stderr), (0, ""))
            metainfo = subprocess.run(["appstreamcli", "validate", "--no-net", "--pedantic",
                                       os.path.join(prefix, "share/metainfo/%s.metainfo.xml" % APP_ID)],
                                      capture_output=True, text=True)
            self.assertEqual(metainfo.returncode, 0, metainfo.stdout + metainfo.stderr)
            self.assertNotIn("W:", metainfo.stdout)
            self.assertNotIn("I:", metainfo.stdout)


if __name__ == "__main__":
    args = sys.argv[1:]
    BUILD = args[args.index("--build") + 1]
    del args[args.index("--build"):args.index("--build") + 2]
    unittest.main(argv=[sys.argv[0]] + args)
