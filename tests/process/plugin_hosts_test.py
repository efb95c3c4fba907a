"""The built plug-ins in real hosts from Debian: lv2info reads the LV2 bundle's description without a
warning, jalv runs the LV2 on a private JACK dummy server while a tone goes in and jack_rec records
what comes out, and Ardour's headless session tool (dummy backend) inserts the VST3 and the LV2 on a
track and renders a generated file through each, held to the processor run directly; for the LV2 it
offers a control for every parameter the bundle declares, and its factory presets.

    python3 plugin_hosts_test.py --lv2-bundle PATH --vst3-bundle PATH --reference RENDERER [unittest names...]
"""

import glob
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
VST3_BUNDLE = None
REFERENCE = None
URI = "https://kavix.audio/plugins/sorvane"
CLIENT = "sorvane-jalv"
RECORD_SECONDS = 2.0


def host_environment(**extra):
    """The hosts load JUCE's code inside the plug-in, which without DISPLAY falls back to ":0" and ends
    the host when an X server there goes away: name a display nobody serves."""
    return dict(os.environ, DISPLAY=harness.display_without_server(), **extra)


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
        env = host_environment(LV2_PATH=os.path.dirname(BUNDLE))
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
        env = harness.jack_environment(self.jack.name, host_environment(LV2_PATH=os.path.dirname(BUNDLE)))
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
        with open(os.path.join(self.folder, "jalv.log")) as log:
            self.assertIsNone(jalv.poll(), "jalv ended while playing: " + log.read())
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


# Two runs of the session tool. Ardour 7.3's headless Lua has no file import (Editor:do_import needs the
# GUI), so the first run makes a track whose playlist holds one stereo region from an empty bounce:
# Ardour writes the source files and session entries itself, and the test then puts the generated
# signal into those files. The second run inserts each plug-in first on the track and bounces the
# region through it, up to and including the plug-in: no fader or panner between it and the file.
ARDOUR_CREATE_SCRIPT = """
AudioEngine:set_backend("None (Dummy)", "", "")
local s = create_session(SESSION, "render", RATE)
local t = s:new_audio_track(2, 2, nil, 1, "T", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal,
                            true):front():to_track()
local r = t:bounce_range(0, LENGTH, ARDOUR.InterThreadInfo(), t:to_route():main_outs(), false, "input")
assert(not r:isnil(), "no input region")
-- Ardour's default region fades would shape the input.
r:to_audioregion():set_fade_in_active(false)
r:to_audioregion():set_fade_out_active(false)
t:playlist():add_region(r, Temporal.timepos_t(0), 1, false, 0, 0, false)
for i = 0, 1 do print("INPUT|" .. r:source(i):to_filesource():path()) end
assert(s:save_state("", false, false, false, false, false) == 0, "not saved")
close_session()
"""

ARDOUR_RENDER_SCRIPT = """
AudioEngine:set_backend("None (Dummy)", "", "")
local s = load_session(SESSION, "render")
assert(s, "session not loaded")
local t = s:route_by_name("T"):to_track()
-- Ardour knows a VST3 by the class ID its scanner read from the bundle.
local vst3_id = nil
for info in ARDOUR.LuaAPI.list_plugins():iter() do
  if info.type == ARDOUR.PluginType.VST3 and info.name == "Sorvane" then vst3_id = info.unique_id end
end
assert(vst3_id, "the VST3 is not in Ardour's plug-in list")
local formats = {{ARDOUR.PluginType.VST3, vst3_id, "vst3"}, {ARDOUR.PluginType.LV2, URI, "lv2"}}
for _, f in ipairs(formats) do
  local p = ARDOUR.LuaAPI.new_plugin(s, f[2], f[1], "")
  assert(not p:isnil(), "not loaded: " .. f[3])
  assert(t:to_route():add_processor_by_index(p, 0, nil, true) == 0, "not inserted: " .. f[3])
  local plugin = p:to_insert():plugin(0)
  print("INSERTED|" .. f[3] .. "|" .. plugin:get_info().name .. "|" .. plugin:maker() .. "|"
        .. plugin:get_info().n_inputs:n_audio() .. "|" .. plugin:get_info().n_outputs:n_audio())
  local r = t:bounce_range(0, LENGTH, ARDOUR.InterThreadInfo(), p, true, f[3])
  assert(not r:isnil(), "no render: " .. f[3])
  for i = 0, 1 do print("RENDER|" .. f[3] .. "|" .. r:source(i):to_filesource():path()) end
  assert(t:to_route():remove_processor(p, nil, true) == 0, "not removed: " .. f[3])
end
close_session()
"""

ARDOUR_RATE = 48000
ARDOUR_LENGTH = 2 * ARDOUR_RATE
# Ardour bounces in 32-bit float from the source file straight into the plug-in and writes float files,
# so nothing between the two renders should round; what may legitimately differ is how Ardour cuts the
# range into process calls against the fixed blocks of the direct run. A few float steps at full scale
# (2^-23 is about 1.2e-7) leaves room for that and still fails on any real change (a gain, a delay,
# a dropped block are orders of magnitude larger). Measured on Ardour 7.3: both renders bit-exact.
ARDOUR_TOLERANCE = 1.0e-6


def generated_signal(channel, length, rate):
    """Two tones over a deterministic noise floor, a different tone per channel."""
    seed = 12345 + channel
    out = []
    for i in range(length):
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        noise = seed / 0x7FFFFFFF * 2.0 - 1.0
        out.append(0.4 * math.sin(2.0 * math.pi * (220.0 + 110.0 * channel) * i / rate) + 0.1 * noise)
    # As the files store them, so the direct run gets exactly what Ardour reads.
    return list(struct.unpack("<%df" % length, struct.pack("<%df" % length, *out)))


def wav_data_chunk(raw):
    pos = 12
    while pos + 8 <= len(raw):
        chunk, size = raw[pos:pos + 4], struct.unpack("<I", raw[pos + 4:pos + 8])[0]
        if chunk == b"data":
            return pos + 8, size
        pos += 8 + size + (size & 1)
    raise ValueError("no data chunk")


def replace_wav_samples(path, samples):
    """Puts float samples into a float WAV Ardour wrote, keeping its header; the write is atomic."""
    rate, channels = read_float_wav(path)
    if (rate, len(channels), len(channels[0])) != (ARDOUR_RATE, 1, len(samples)):
        raise ValueError("unexpected source file %s" % path)
    with open(path, "rb") as f:
        raw = bytearray(f.read())
    start, size = wav_data_chunk(raw)
    raw[start:start + size] = struct.pack("<%df" % len(samples), *samples)
    temp = path + ".tmp"
    with open(temp, "wb") as f:
        f.write(raw)
        f.flush()
        os.fsync(f.fileno())
    os.replace(temp, path)


class ArdourTest(unittest.TestCase):
    def run_ardour(self, home, name, script, values):
        path = os.path.join(home, name + ".lua")
        with open(path, "w") as f:
            f.write("".join("%s = %s\n" % (k, v) for k, v in values.items()) + script)
        env = host_environment(HOME=home, LV2_PATH=os.path.dirname(BUNDLE))
        result = subprocess.run(["ardour7-lua", path], env=env, capture_output=True, text=True, timeout=180,
                                stdin=subprocess.DEVNULL)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertNotIn("Error:", result.stdout + result.stderr)
        return result.stdout

    def index_vst3(self, home):
        """Ardour's application scans VST3 bundles in a helper and keeps the result in its cache; the
        headless tool only reads that cache, so the helper indexes the bundle first."""
        vst3_folder = os.path.join(home, ".vst3")
        os.makedirs(vst3_folder)
        os.symlink(VST3_BUNDLE, os.path.join(vst3_folder, os.path.basename(VST3_BUNDLE)))
        scanners = sorted(glob.glob("/usr/lib/ardour*/ardour-vst3-scanner"))
        self.assertTrue(scanners, "Ardour's VST3 scanner is not installed")
        env = host_environment(HOME=home, LD_LIBRARY_PATH=os.path.dirname(scanners[-1]))
        result = subprocess.run([scanners[-1], "-q", os.path.join(vst3_folder, os.path.basename(VST3_BUNDLE))],
                                env=env, capture_output=True, text=True, timeout=120, stdin=subprocess.DEVNULL)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def direct_render(self, folder, signal):
        """The processor run directly on the same input: planar floats and its latency."""
        source = os.path.join(folder, "input.f32")
        target = os.path.join(folder, "direct.f32")
        with open(source, "wb") as f:
            for channel in signal:
                f.write(struct.pack("<%df" % len(channel), *channel))
        result = subprocess.run([REFERENCE, "--process", str(ARDOUR_RATE), "1024", source, target],
                                capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)
        latency = int(result.stdout.split()[-1])
        with open(target, "rb") as f:
            values = struct.unpack("<%df" % (2 * ARDOUR_LENGTH), f.read())
        return latency, [values[:ARDOUR_LENGTH], values[ARDOUR_LENGTH:]]

    def test_ardour_renders_a_file_through_the_vst3_and_the_lv2_like_the_processor(self):
        with tempfile.TemporaryDirectory() as home:
            self.index_vst3(home)
            values = {"SESSION": '"%s"' % os.path.join(home, "session"), "URI": '"%s"' % URI,
                      "RATE": ARDOUR_RATE, "LENGTH": ARDOUR_LENGTH}
            created = self.run_ardour(home, "create", ARDOUR_CREATE_SCRIPT, values)
            inputs = [line.split("|", 1)[1] for line in created.splitlines() if line.startswith("INPUT|")]
            self.assertEqual(len(inputs), 2, created)
            signal = [generated_signal(c, ARDOUR_LENGTH, ARDOUR_RATE) for c in range(2)]
            for path, samples in zip(inputs, signal):
                replace_wav_samples(path, samples)

            rendered = self.run_ardour(home, "render", ARDOUR_RENDER_SCRIPT, values)
            for fmt in ("vst3", "lv2"):
                self.assertIn("INSERTED|%s|Sorvane|Kavix|2|2" % fmt, rendered)
            renders = {}
            for line in rendered.splitlines():
                if line.startswith("RENDER|"):
                    _, fmt, path = line.split("|", 2)
                    renders.setdefault(fmt, []).append(path)
            self.assertEqual(sorted(renders), ["lv2", "vst3"], rendered)

            latency, direct = self.direct_render(home, signal)
            for fmt, paths in sorted(renders.items()):
                self.assertEqual(len(paths), 2)
                for channel, path in enumerate(paths):
                    with self.subTest(format=fmt, channel=channel):
                        rate, channels = read_float_wav(path)
                        self.assertEqual((rate, len(channels)), (ARDOUR_RATE, 1))
                        host = channels[0]
                        self.assertEqual(len(host), ARDOUR_LENGTH)
                        # Ardour compensates the plug-in's reported latency in a bounce; the direct run
                        # does not.
                        expected = direct[channel][latency:]
                        worst = max(range(len(expected)), key=lambda i: abs(host[i] - expected[i]))
                        self.assertLessEqual(abs(host[worst] - expected[worst]), ARDOUR_TOLERANCE,
                                             "sample %d: %r vs %r" % (worst, host[worst], expected[worst]))
                        level = math.sqrt(sum(v * v for v in host) / len(host))
                        self.assertGreater(level, 0.05, "the render is (nearly) silent")
                        # Not the input passed through: the default sound changes it.
                        self.assertGreater(max(abs(a - b) for a, b in zip(host, signal[channel])), 0.01)


class ArdourInsertTest(unittest.TestCase):
    def test_ardour_inserts_the_lv2_on_a_track(self):
        with tempfile.TemporaryDirectory() as home:
            script = os.path.join(home, "insert.lua")
            with open(script, "w") as f:
                f.write('SESSION = "%s"\nURI = "%s"\n' % (os.path.join(home, "session"), URI) + ARDOUR_SCRIPT)
            env = host_environment(HOME=home, LV2_PATH=os.path.dirname(BUNDLE))
            result = subprocess.run(["ardour7-lua", script], env=env, capture_output=True, text=True, timeout=90,
                                    stdin=subprocess.DEVNULL)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            self.assertIn("INSERTED|Sorvane|Kavix|2|2", result.stdout)


# Every control Ardour made for the inserted LV2 (what its generic editor is built from) and its presets.
# JUCE's LV2 declares its parameters as patch properties, not ports, so Ardour's port-based list
# (Plugin:parameter_count) holds only JUCE's nine ports: audio, two atom ports, latency, free-wheeling and
# enabled. The parameters are property controls.
ARDOUR_CONTROLS_SCRIPT = """
AudioEngine:set_backend("None (Dummy)", "", "")
local s = create_session(SESSION, "controls", 48000)
local t = s:new_audio_track(2, 2, nil, 1, "T", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal,
                            true):front()
local p = ARDOUR.LuaAPI.new_plugin(s, URI, ARDOUR.PluginType.LV2, "")
assert(not p:isnil(), "not loaded")
assert(t:add_processor_by_index(p, 0, nil, true) == 0, "not inserted")
local plugin = p:to_insert():plugin(0)
local a = p:to_automatable()
for param in a:all_automatable_params():iter() do
  local c = a:automation_control(param, false)
  local d = c:desc()
  print("CONTROL|" .. c:name() .. "|" .. d.label .. "|" .. tostring(d.toggled) .. "|" .. d.lower .. "|" .. d.upper
        .. "|" .. d.normal)
end
for preset in plugin:get_info():get_presets(false):iter() do print("PRESET|" .. preset.label) end
local chosen = plugin:preset_by_label(PRESET)
assert(chosen, "no preset " .. PRESET)
print("LOADED|" .. tostring(plugin:load_preset(chosen)))
close_session()
"""

TURTLE_PARAMETER = re.compile(r'plug:(\w+)\n\ta lv2:Parameter ;\n\trdfs:label "([^"]*)" ;\n(?:\tpg:group \S+ ;\n)?'
                              r'\trdfs:range atom:(\w+) ;\n\tlv2:default (\S+) ;\n\tlv2:minimum (\S+) ;\n'
                              r'\tlv2:maximum ([^\s;]+)')
TURTLE_PRESET = re.compile(r'\ta pset:Preset ;\n\tlv2:appliesTo <[^>]*> ;\n\trdfs:label "([^"]*)" ;')


class ArdourControlsTest(unittest.TestCase):
    def test_ardour_offers_a_control_for_every_parameter_and_every_factory_preset(self):
        with open(os.path.join(BUNDLE, "dsp.ttl")) as f:
            # Label, whether a toggle (boolean range), minimum, maximum and default.
            declared = {URI + ":" + m.group(1): (m.group(2), str(m.group(3) == "Bool").lower())
                        + tuple(float(v) for v in m.group(5, 6, 4)) for m in TURTLE_PARAMETER.finditer(f.read())}
        with open(os.path.join(BUNDLE, "manifest.ttl")) as f:
            presets = TURTLE_PRESET.findall(f.read())
        self.assertEqual(len(declared), 34)
        self.assertEqual(len(presets), 37)
        with tempfile.TemporaryDirectory() as home:
            script = os.path.join(home, "controls.lua")
            with open(script, "w") as f:
                f.write('SESSION = "%s"\nURI = "%s"\nPRESET = "%s"\n' % (os.path.join(home, "session"), URI,
                                                                       presets[-1]) + ARDOUR_CONTROLS_SCRIPT)
            env = host_environment(HOME=home, LV2_PATH=os.path.dirname(BUNDLE))
            result = subprocess.run(["ardour7-lua", script], env=env, capture_output=True, text=True, timeout=90,
                                    stdin=subprocess.DEVNULL)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertNotIn("Error:", result.stdout + result.stderr)
        lines = [line.split("|") for line in result.stdout.splitlines() if "|" in line]
        # Ardour names the control of an LV2 property after the property's IRI.
        offered = {line[1][len("property-"):]: tuple(line[2:4]) + tuple(float(v) for v in line[4:7])
                   for line in lines if line[0] == "CONTROL" and line[1].startswith("property-")}
        self.assertEqual(sorted(offered), sorted(declared))
        self.assertIn("true", [values[1] for values in declared.values()])
        for parameter, values in sorted(declared.items()):
            self.assertEqual(offered[parameter][:2], values[:2], parameter)
            for got, expected in zip(offered[parameter][2:], values[2:]):
                self.assertAlmostEqual(got, expected, delta=1.0e-6 * max(1.0, abs(expected)), msg=parameter)
        self.assertEqual(sorted(line[1] for line in lines if line[0] == "PRESET"), sorted(presets))
        self.assertIn(["LOADED", "true"], lines)


if __name__ == "__main__":
    args = sys.argv[1:]

    def option(name):
        value = os.path.abspath(args[args.index(name) + 1])
        del args[args.index(name):args.index(name) + 2]
        return value

    BUNDLE = option("--lv2-bundle")
    VST3_BUNDLE = option("--vst3-bundle")
    REFERENCE = option("--reference")
    unittest.main(argv=[sys.argv[0]] + args)
