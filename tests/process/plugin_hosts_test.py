"""The built plug-ins in real hosts from Debian: lv2info reads the LV2 bundle's description without a
warning, jalv runs the LV2 on a private JACK dummy server while a tone goes in and jack_rec records
what comes out, and Ardour's headless session tool (dummy backend) inserts it on a track.

    python3 plugin_hosts_test.py --lv2-bundle PATH [unittest names...]
"""

import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

BUNDLE = None
URI = "https://kavix.audio/plugins/sorvane"
CLIENT = "sorvane-jalv"
RECORD_SECONDS = 2.0


def read_float_wav(path):
    with open(path, "rb") as f:
        raw = f.read()
    pos, fmt, data = 12, None, None
    while pos + 8 <= len(raw):
        chunk, size = raw[pos:pos + 4], struct.unpack("<I", raw[pos + 4:pos + 8])[0]
        if chunk == b"fmt ":
            fmt = struct.unpack("<HHIIHH", raw[pos + 8:pos + 24])
        elif chunk == b"data":
            data = raw[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    tag, channels, rate, _, _, bits = fmt
    if tag in (3, 0xFFFE) and bits == 32:
        values = struct.unpack("<%df" % (len(data) // 4), data)
    elif bits == 16:
        values = [v / 32768.0 for v in struct.unpack("<%dh" % (len(data) // 2), data)]
    else:
        raise ValueError("unexpected WAV format %s" % (fmt,))
    return rate, [values[c::channels] for c in range(channels)]


class Lv2InfoTest(unittest.TestCase):
    def test_reads_the_bundle_without_warnings(self):
        env = dict(os.environ, LV2_PATH=os.path.dirname(BUNDLE))
        result = subprocess.run(["lv2info", URI], env=env, capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        out = result.stdout
        self.assertIn("Name:              Sorvane", out)
        self.assertIn("Author:            Kavix", out)
        self.assertIn("Has latency:       yes", out)
        ports = re.split(r"\n\tPort \d+:", out)[1:]
        kinds = [tuple(sorted(re.findall(r"lv2core#(\w+Port)", p))) for p in ports]
        self.assertEqual(kinds.count(("AudioPort", "InputPort")), 2)
        self.assertEqual(kinds.count(("AudioPort", "OutputPort")), 2)
        self.assertIn("Designation: http://lv2plug.in/ns/lv2core#latency", out)
        # Parameters travel as patch messages on the atom ports; each is described in the bundle.
        with open(os.path.join(BUNDLE, "dsp.ttl")) as f:
            self.assertEqual(f.read().count("a lv2:Parameter ;"), 34)


class JalvTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="sorvane-jalv-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.jack = harness.JackServer(self.folder)
        self.jack.__enter__()
        self.addCleanup(self.jack.__exit__, None, None, None)

    def start(self, args, **kwargs):
        env = dict(harness.jack_environment(self.jack.name), LV2_PATH=os.path.dirname(BUNDLE))
        log = open(os.path.join(self.folder, os.path.basename(args[0]) + ".log"), "w")
        self.addCleanup(log.close)
        proc = subprocess.Popen(args, env=env, cwd=self.folder, stdin=subprocess.DEVNULL, stdout=log,
                                stderr=subprocess.STDOUT, preexec_fn=harness.die_with_parent, **kwargs)
        self.addCleanup(harness.stop_process, proc, harness.signal.SIGINT)
        return proc

    def ports(self, pattern):
        return [p for p in (self.jack.lsp() or "").splitlines() if re.match(pattern, p)]

    def connect(self, a, b):
        subprocess.run(["jack_connect", a, b], env=harness.jack_environment(self.jack.name), check=True, timeout=10)

    def test_jalv_runs_the_plugin_and_passes_audio(self):
        jalv = self.start(["jalv", "-i", "-n", CLIENT, URI])
        self.assertTrue(harness.wait_until(lambda: len(self.ports(CLIENT + ":.*")) >= 4 or jalv.poll() is not None,
                                           30), "jalv ports did not appear")
        with open(os.path.join(self.folder, "jalv.log")) as log:
            self.assertIsNone(jalv.poll(), log.read())
        tone = self.start(["jack_simple_client"])
        self.assertTrue(harness.wait_until(lambda: len(self.ports(r"jack_simple_client:output")) == 2, 15))

        jalv_ports = self.ports(CLIENT + ":.*")
        inputs = [p for p in jalv_ports if re.search(r"in", p.split(":")[1], re.I)][:2]
        outputs = [p for p in jalv_ports if re.search(r"out", p.split(":")[1], re.I)
                   and "latency" not in p.lower()][:2]
        self.assertEqual((len(inputs), len(outputs)), (2, 2), jalv_ports)
        for src, dst in zip(self.ports(r"jack_simple_client:output"), inputs):
            self.connect(src, dst)

        recording = os.path.join(self.folder, "jalv.wav")
        recorder = self.start(["jack_rec", "-f", recording, "-d", str(RECORD_SECONDS), *outputs])
        with open(os.path.join(self.folder, "jack_rec.log")) as log_file:
            self.assertEqual(recorder.wait(timeout=30), 0, log_file.read())
        self.assertIsNone(jalv.poll(), "jalv ended while playing")
        self.assertIsNone(tone.poll())

        rate, channels = read_float_wav(recording)
        self.assertEqual(rate, 48000)
        self.assertEqual(len(channels), 2)
        for samples in channels:
            self.assertGreaterEqual(len(samples), int(rate * RECORD_SECONDS * 0.9))
            self.assertTrue(all(math.isfinite(v) for v in samples))
            tail = samples[len(samples) // 2:]
            level = math.sqrt(sum(v * v for v in tail) / len(tail))
            # jack_simple_client plays a sine at full scale; the default sound shapes it but lets it through.
            self.assertGreater(level, 0.01)
            self.assertLess(max(abs(v) for v in tail), 4.0)


ARDOUR_SCRIPT = """
AudioEngine:set_backend("None (Dummy)", "", "")
local s = create_session(SESSION, "plugin", 48000)
local t = s:new_audio_track(2, 2, nil, 1, "T", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal,
                            true):front()
local p = ARDOUR.LuaAPI.new_plugin(s, URI, ARDOUR.PluginType.LV2, "")
assert(not p:isnil(), "not loaded")
assert(t:add_processor_by_index(p, 0, nil, true) == 0, "not inserted")
local plugin = t:nth_plugin(0):to_insert():plugin(0)
print("INSERTED|" .. plugin:get_info().name .. "|" .. plugin:maker() .. "|" .. plugin:get_info().n_inputs:n_audio()
      .. "|" .. plugin:get_info().n_outputs:n_audio())
close_session()
"""


class ArdourTest(unittest.TestCase):
    def test_ardour_inserts_the_lv2_on_a_track(self):
        with tempfile.TemporaryDirectory() as home:
            script = os.path.join(home, "insert.lua")
            with open(script, "w") as f:
                f.write('SESSION = "%s"\nURI = "%s"\n' % (os.path.join(home, "session"), URI) + ARDOUR_SCRIPT)
            env = dict(os.environ, HOME=home, LV2_PATH=os.path.dirname(BUNDLE))
            result = subprocess.run(["ardour7-lua", script], env=env, capture_output=True, text=True, timeout=90,
                                    stdin=subprocess.DEVNULL)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertIn("INSERTED|Sorvane|Kavix|2|2", result.stdout)


if __name__ == "__main__":
    args = sys.argv[1:]
    BUNDLE = os.path.abspath(args[args.index("--lv2-bundle") + 1])
    del args[args.index("--lv2-bundle"):args.index("--lv2-bundle") + 2]
    unittest.main(argv=[sys.argv[0]] + args)
