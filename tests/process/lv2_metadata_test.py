"""The LV2 bundle's Turtle as LV2's own tools read it: lv2_validate finds no error and no warning in it,
lv2info lists the plug-in with its parameters and factory presets, and the build step that corrects the
Turtle JUCE writes (cmake/correct_lv2_turtle.py) turns what JUCE's helper writes into exactly the
bundle's files, changes nothing on a second run and refuses Turtle of any other shape.

lv2_validate, lv2info and sordi only read files, so this runs in the sanitizer build too; there JUCE's
helper is instrumented like the plug-in it loads, as in the build itself.

    python3 lv2_metadata_test.py --lv2-bundle PATH --uri URI --corrector SCRIPT --lv2-helper PROGRAM
        [unittest names...]
"""

import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

BUNDLE = None
URI = None
CORRECTOR = None
HELPER = None
PYTHON = sys.executable
# The product's parameters and factory programs, and its one on/off parameter.
PARAMETERS = 34
PROGRAMS = 37
BOOLEAN_PARAMETER = "matchSourceLevel"
TURTLE_FILES = ["manifest.ttl", "dsp.ttl", "ui.ttl"]

LV2 = "http://lv2plug.in/ns/lv2core#"
RDF = "http://www.w3.org/1999/02/22-rdf-syntax-ns#"
RDFS = "http://www.w3.org/2000/01/rdf-schema#"
ATOM = "http://lv2plug.in/ns/ext/atom#"
PATCH = "http://lv2plug.in/ns/ext/patch#"
PSET = "http://lv2plug.in/ns/ext/presets#"
STATE = "http://lv2plug.in/ns/ext/state#"
XSD = "http://www.w3.org/2001/XMLSchema#"

NTRIPLE = re.compile(r'(<[^>]*>|_:\S+) <([^>]*)> (<[^>]*>|_:\S+|"(?:[^"\\]|\\.)*"(?:\^\^<[^>]*>|@[\w-]+)?) \.')


def tool_environment(**extra):
    """JUCE's code inside the plug-in falls back to ":0" without DISPLAY: name a display nobody serves."""
    return dict(os.environ, DISPLAY=harness.display_without_server(), **extra)


def validate(folder):
    """lv2_validate on every Turtle file in a folder: (return code, stdout, stderr, errors found)."""
    files = sorted(glob.glob(os.path.join(folder, "*.ttl")))
    result = subprocess.run(["lv2_validate"] + files, capture_output=True, text=True, timeout=120)
    found = re.search(r"^Found (\d+) errors? among (\d+) files", result.stdout, re.M)
    return result, int(found.group(1)) if found else None


class Graph:
    """The triples of a Turtle file as sordi reads it, in N-Triples terms."""

    def __init__(self, path):
        result = subprocess.run(["sordi", "-o", "ntriples", path, "file://" + os.path.abspath(path)],
                                capture_output=True, text=True, timeout=60)
        if result.returncode != 0 or result.stderr:
            raise AssertionError("sordi could not read %s: %s" % (path, result.stderr))
        self.triples = []
        for line in result.stdout.splitlines():
            match = NTRIPLE.fullmatch(line)
            if not match:
                raise AssertionError("unexpected N-Triples line from sordi: %r" % line)
            self.triples.append(match.groups())

    def objects(self, subject, predicate):
        return [o for s, p, o in self.triples if s == subject and p == predicate]

    def subjects(self, predicate, obj):
        return [s for s, p, o in self.triples if p == predicate and o == obj]

    def one(self, subject, predicate):
        found = self.objects(subject, predicate)
        if len(found) != 1:
            raise AssertionError("%s has %d values of <%s>" % (subject, len(found), predicate))
        return found[0]


def iri(value):
    return "<%s>" % value


def literal(term, datatype=None):
    match = re.fullmatch(r'"((?:[^"\\]|\\.)*)"(?:\^\^<([^>]*)>)?', term)
    if not match:
        raise AssertionError("not a literal: %s" % term)
    if datatype is not None and match.group(2) != datatype:
        raise AssertionError("%s is not of type <%s>" % (term, datatype))
    return match.group(1)


def number(term):
    return float(literal(term))


class ValidationTest(unittest.TestCase):
    def test_lv2_validate_finds_no_error_and_no_warning_in_the_bundle(self):
        result, errors = validate(BUNDLE)
        self.assertEqual(errors, 0, result.stdout)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        # Errors and warnings go to stderr. Debian's lv2_validate also names an LV2 vocabulary file
        # Debian does not ship, and says so; anything else there, or a skipped file of the bundle, is a finding.
        for line in result.stderr.splitlines():
            self.assertRegex(line, r"^Skipping file /usr/")

    def test_lv2_validate_sees_a_fault_in_the_bundles_turtle(self):
        """The check above reads the bundle's files: one statement LV2 does not allow gives one error."""
        with tempfile.TemporaryDirectory() as folder:
            for name in TURTLE_FILES:
                shutil.copy(os.path.join(BUNDLE, name), folder)
            path = os.path.join(folder, "dsp.ttl")
            with open(path) as f:
                text = f.read()
            self.assertIn("\trdfs:range atom:Float ;\n", text)
            with open(path, "w") as f:
                f.write(text.replace("\trdfs:range atom:Float ;\n",
                                     "\trdfs:range atom:Float ;\n\tlv2:portProperty lv2:integer ;\n", 1))
            result, errors = validate(folder)
            self.assertEqual(errors, 1, result.stdout)
            self.assertIn("error: Subject not in domain <%sPort>" % LV2, result.stderr)


class Lv2InfoListingTest(unittest.TestCase):
    def lv2info(self, *args):
        env = tool_environment(LV2_PATH=os.path.dirname(BUNDLE))
        result = subprocess.run(["lv2info"] + list(args) + [URI], env=env, capture_output=True, text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        return result.stdout

    def test_lists_the_plugin_and_every_factory_preset_by_name(self):
        out = self.lv2info()
        self.assertEqual(out.splitlines()[0], URI)
        self.assertIn("\tName:              Sorvane\n", out)
        self.assertRegex(out, r"\tBinary: +file://\S*/%s/libSorvane\.so\n" % re.escape(os.path.basename(BUNDLE)))
        listed = re.search(r"\tPresets: \n((?:\t +\S.*\n)+)", out)
        self.assertIsNotNone(listed, out)
        names = [line.strip() for line in listed.group(1).splitlines()]

        manifest = Graph(os.path.join(BUNDLE, "manifest.ttl"))
        presets = manifest.subjects(RDF + "type", iri(PSET + "Preset"))
        self.assertEqual(len(presets), PROGRAMS)
        labels = [literal(manifest.one(p, RDFS + "label")) for p in presets]
        self.assertEqual(len(set(labels)), PROGRAMS, labels)
        self.assertEqual(sorted(names), sorted(labels))

        # Each preset selects its own factory program through the key the plug-in reads, now declared.
        program = URI + ":Program"
        indices = []
        for p in presets:
            self.assertEqual(manifest.one(p, LV2 + "appliesTo"), iri(URI))
            state = manifest.one(p, STATE + "state")
            indices.append(int(literal(manifest.one(state, program), XSD + "int")))
        self.assertEqual(sorted(indices), list(range(PROGRAMS)))
        self.assertEqual(manifest.objects(iri(program), RDF + "type"), [iri(RDF + "Property")])
        self.assertEqual(len(manifest.objects(iri(program), RDFS + "label")), 1)

    def test_lists_every_parameter_with_its_label_range_and_values(self):
        with tempfile.TemporaryDirectory() as folder:
            written = os.path.join(folder, "plugin.ttl")
            self.lv2info("-p", written)
            description = Graph(written)
        plugin = iri(URI)
        writable = description.objects(plugin, PATCH + "writable")
        self.assertEqual(len(writable), PARAMETERS)
        self.assertEqual(sorted(description.objects(plugin, PATCH + "readable")), sorted(writable))

        dsp = Graph(os.path.join(BUNDLE, "dsp.ttl"))
        self.assertEqual(sorted(dsp.subjects(RDF + "type", iri(LV2 + "Parameter"))), sorted(writable))
        self.assertIn(iri("http://usefulinc.com/ns/doap#Project"), dsp.objects(plugin, RDF + "type"))
        labels, booleans = set(), []
        for parameter in writable:
            with self.subTest(parameter=parameter):
                labels.add(literal(dsp.one(parameter, RDFS + "label")))
                self.assertEqual(dsp.objects(parameter, LV2 + "portProperty"), [])
                low, high = number(dsp.one(parameter, LV2 + "minimum")), number(dsp.one(parameter, LV2 + "maximum"))
                value_type = dsp.one(parameter, RDFS + "range")
                if value_type == iri(ATOM + "Bool"):
                    # A toggle: off and on, each named.
                    booleans.append(parameter)
                    self.assertEqual((low, high), (0.0, 1.0))
                    self.assertEqual(len(dsp.objects(parameter, LV2 + "scalePoint")), 2)
                else:
                    self.assertEqual(value_type, iri(ATOM + "Float"))
                self.assertLessEqual(low, number(dsp.one(parameter, LV2 + "default")))
                self.assertLessEqual(number(dsp.one(parameter, LV2 + "default")), high)
                points = dsp.objects(parameter, LV2 + "scalePoint")
                if points:
                    # Plain values, as the bounds and as the plug-in reads them from a host: one per
                    # whole step of the range.
                    values = sorted(number(dsp.one(p, RDF + "value")) for p in points)
                    self.assertEqual(values, [low + i for i in range(int(high - low) + 1)])
                    self.assertEqual(len({literal(dsp.one(p, RDFS + "label")) for p in points}), len(points))
        self.assertEqual(len(labels), PARAMETERS)
        self.assertEqual(booleans, [iri(URI + ":" + BOOLEAN_PARAMETER)])


class CorrectionStepTest(unittest.TestCase):
    """Against the Turtle JUCE's helper writes for the built plug-in, in a folder of its own."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="sorvane-lv2-turtle-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        home = os.path.join(self.folder, "home")
        self.bundle = os.path.join(self.folder, "Sorvane.lv2")
        os.makedirs(home)
        os.makedirs(self.bundle)
        shutil.copy(os.path.join(BUNDLE, "libSorvane.so"), self.bundle)
        result = subprocess.run([HELPER, os.path.join(self.bundle, "libSorvane.so")], capture_output=True, text=True,
                                timeout=120, env=tool_environment(HOME=home), stdin=subprocess.DEVNULL)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.written = self.read()
        self.assertEqual(sorted(self.written), sorted(TURTLE_FILES))

    def read(self):
        found = {}
        for path in glob.glob(os.path.join(self.bundle, "*.ttl")):
            with open(path, "rb") as f:
                found[os.path.basename(path)] = f.read()
        return found

    def correct(self):
        return subprocess.run([PYTHON, CORRECTOR, self.bundle, URI], capture_output=True, text=True, timeout=60)

    def test_turns_what_juce_writes_into_the_bundles_files_and_settles(self):
        result, errors = validate(self.bundle)
        self.assertGreater(errors, 0, "JUCE's own Turtle validates: " + result.stdout)

        result = self.correct()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), "Sorvane.lv2: corrected manifest.ttl, dsp.ttl, ui.ttl")
        corrected = self.read()
        for name in TURTLE_FILES:
            with open(os.path.join(BUNDLE, name), "rb") as f:
                self.assertEqual(corrected[name], f.read(), name)
        result, errors = validate(self.bundle)
        self.assertEqual(errors, 0, result.stdout)

        times = {name: os.stat(os.path.join(self.bundle, name)).st_mtime_ns for name in TURTLE_FILES}
        result = self.correct()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), "Sorvane.lv2: Turtle already corrected")
        self.assertEqual(self.read(), corrected)
        self.assertEqual({name: os.stat(os.path.join(self.bundle, name)).st_mtime_ns for name in TURTLE_FILES}, times)

    def test_refuses_turtle_of_another_shape_and_leaves_it_untouched(self):
        def second_scale_point_value(text):
            values = list(re.finditer(r"\t\trdf:value (\S+) ;\n", text))
            self.assertGreater(len(values), 1)
            return text[:values[1].start(1)] + "0.123" + text[values[1].end(1):]

        changes = [
            ("dsp.ttl", "a statement a parameter does not have",
             lambda t: t.replace("\trdfs:range atom:Float ;\n",
                                 "\trdfs:range atom:Float ;\n\tunits:unit units:db ;\n", 1),
             "dsp.ttl: not a parameter or group"),
            ("dsp.ttl", "a statement about the plug-in of an unknown kind",
             lambda t: t.replace("\tdoap:name ", "\tdoap:license <https://kavix.audio/license> ;\n\tdoap:name ", 1),
             "unexpected statements about the plug-in: doap:license"),
            ("dsp.ttl", "scale points neither normalised nor plain", second_scale_point_value,
             "scale point values or range not as JUCE writes them"),
            ("dsp.ttl", "a prefix bound elsewhere",
             lambda t: t.replace("<http://lv2plug.in/ns/lv2core#>", "<http://lv2plug.in/ns/lv2core/>", 1),
             "dsp.ttl: unexpected prefix lv2"),
            ("manifest.ttl", "presets keyed by another program property",
             lambda t: t.replace(URI + ":Program>", URI + ":ProgramIndex>"),
             "manifest.ttl: not a factory program's preset"),
            ("ui.ttl", "a UI without its parent feature", lambda t: t.replace("\t\tui:parent ,\n", "", 1),
             "ui.ttl: line 17"),
        ]
        for name, what, change, message in changes:
            with self.subTest(what):
                with open(os.path.join(self.bundle, name), "wb") as f:
                    changed = change(self.written[name].decode("utf-8")).encode("utf-8")
                    self.assertNotEqual(changed, self.written[name])
                    f.write(changed)
                before = self.read()
                result = self.correct()
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn("error: %s: the LV2 Turtle JUCE wrote has a shape this build does not know" % self.bundle,
                              result.stderr)
                self.assertIn(message, result.stderr)
                self.assertEqual(result.stdout, "")
                self.assertEqual(self.read(), before)
                with open(os.path.join(self.bundle, name), "wb") as f:
                    f.write(self.written[name])


if __name__ == "__main__":
    args = sys.argv[1:]

    def option(name):
        value = args[args.index(name) + 1]
        del args[args.index(name):args.index(name) + 2]
        return value

    BUNDLE = os.path.abspath(option("--lv2-bundle"))
    URI = option("--uri")
    CORRECTOR = os.path.abspath(option("--corrector"))
    HELPER = os.path.abspath(option("--lv2-helper"))
    unittest.main(argv=[sys.argv[0]] + args)
