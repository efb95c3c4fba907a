"""`cmake --install` into temporary prefixes: the app, desktop entry, icons and AppStream metadata
under the prefix, and the plug-in bundles in the per-user folders for a prefix in the home folder or
in the prefix's lib folder for a system prefix. The desktop entry and metadata go through the
freedesktop validators.

    python3 install_test.py --build BUILD_FOLDER [unittest names...]
"""

import os
import subprocess
import sys
import tempfile
import unittest

BUILD = None
ICON_SIZES = (16, 24, 32, 48, 64, 128, 256, 512)
APP_ID = "com.kavix.sorvane"

COMMON_FILES = ["bin/Sorvane", "share/applications/%s.desktop" % APP_ID, "share/metainfo/%s.metainfo.xml" % APP_ID,
                "share/icons/hicolor/scalable/apps/%s.svg" % APP_ID] + \
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
        self.assertTrue(os.access(os.path.join(prefix, "bin/Sorvane"), os.X_OK))
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
