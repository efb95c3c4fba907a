#!/usr/bin/env python3
"""Corrects the Turtle that JUCE's LV2 wrapper writes into the built bundle, so that the bundle
validates against LV2's own vocabulary (lv2_validate) while hosts keep reading the same plug-in,
parameters and presets.

    correct_lv2_turtle.py BUNDLE_FOLDER PLUGIN_URI

What JUCE 7.0.5 writes, and what changes:
  manifest.ttl  Each factory program is a preset whose state holds the program's index under
                <PLUGIN_URI:Program>, a property declared nowhere: it gets a declaration and a label.
                The key itself stays, since the plug-in reads the index under it.
  dsp.ttl       The plug-in is described with doap:maintainer and doap:release, which belong to a
                doap:Project: it is typed as one too. Parameters carry lv2:portProperty (lv2:enumeration,
                lv2:toggled), which LV2 allows on ports only: it goes, and a toggled parameter gets the
                boolean range LV2 gives such parameters instead. The scale points of those parameters
                hold normalised values, while their bounds and default, and the values the plug-in reads
                from a host, are plain: the points get the plain values.
  ui.ttl        ui:noUserResize is listed as extension data but is a feature; opts:interface is listed as
                a feature but is extension data.

Every file must have the shape described here, either as JUCE writes it or as corrected; anything
else (a JUCE that writes its Turtle differently) stops with the file and the statement at fault rather
than leaving a bundle nobody checked. A corrected bundle passes through unchanged.
"""

import os
import re
import sys
import tempfile


class ShapeError(Exception):
    pass


NUMBER = r"-?(?:\d+(?:\.\d*)?|\.\d+)(?:e[-+]?\d+)?"
# What JUCE writes between quotes unescaped: a quote, a backslash or a line break would need escaping.
TEXT = r'[^"\\\n]*'
LOCAL_NAME = r"[A-Za-z0-9_]+"

RDF = "http://www.w3.org/1999/02/22-rdf-syntax-ns#"

MANIFEST_PREFIXES = {
    "lv2": "http://lv2plug.in/ns/lv2core#",
    "rdfs": "http://www.w3.org/2000/01/rdf-schema#",
    "pset": "http://lv2plug.in/ns/ext/presets#",
    "state": "http://lv2plug.in/ns/ext/state#",
    "ui": "http://lv2plug.in/ns/extensions/ui#",
    "xsd": "http://www.w3.org/2001/XMLSchema#",
}

DSP_PREFIXES = {
    "atom": "http://lv2plug.in/ns/ext/atom#",
    "bufs": "http://lv2plug.in/ns/ext/buf-size#",
    "doap": "http://usefulinc.com/ns/doap#",
    "foaf": "http://xmlns.com/foaf/0.1/",
    "lv2": "http://lv2plug.in/ns/lv2core#",
    "midi": "http://lv2plug.in/ns/ext/midi#",
    "opts": "http://lv2plug.in/ns/ext/options#",
    "param": "http://lv2plug.in/ns/ext/parameters#",
    "patch": "http://lv2plug.in/ns/ext/patch#",
    "pg": "http://lv2plug.in/ns/ext/port-groups#",
    "pprop": "http://lv2plug.in/ns/ext/port-props#",
    "rdfs": "http://www.w3.org/2000/01/rdf-schema#",
    "rdf": RDF,
    "rsz": "http://lv2plug.in/ns/ext/resize-port#",
    "state": "http://lv2plug.in/ns/ext/state#",
    "time": "http://lv2plug.in/ns/ext/time#",
    "ui": "http://lv2plug.in/ns/extensions/ui#",
    "units": "http://lv2plug.in/ns/extensions/units#",
    "urid": "http://lv2plug.in/ns/ext/urid#",
    "xsd": "http://www.w3.org/2001/XMLSchema#",
}

# What JUCE 7.0.5 says about the plug-in itself; the statements nested in its ports and maintainer are
# left as they are.
PLUGIN_PREDICATES = {
    "ui:ui", "a", "doap:name", "doap:description", "lv2:minorVersion", "lv2:microVersion",
    "doap:maintainer", "doap:release", "lv2:optionalFeature", "lv2:extensionData", "lv2:requiredFeature",
    "pg:mainInput", "pg:mainOutput", "patch:writable", "patch:readable", "lv2:port",
    "opts:supportedOption",
}


class Turtle:
    """A file in JUCE's layout: @prefix lines, a blank line, statements separated by blank lines."""

    PREFIX = re.compile(r"@prefix (\w+):\s+<([^<>\s]*)> \.")

    def __init__(self, name, text):
        self.name = name
        if not text.endswith("\n"):
            raise ShapeError("%s does not end with a line break" % name)
        head, separator, body = text.partition("\n\n")
        if not separator:
            raise ShapeError("%s has no statements after its prefixes" % name)
        self.prefix_lines = head.split("\n")
        self.prefixes = {}
        for line in self.prefix_lines:
            match = self.PREFIX.fullmatch(line)
            if not match or match.group(1) in self.prefixes:
                raise ShapeError("%s: unexpected line among the prefixes: %r" % (name, line))
            self.prefixes[match.group(1)] = match.group(2)
        self.trailer = "\n\n" if body.endswith("\n\n") else "\n"
        self.statements = body[:-len(self.trailer)].split("\n\n")
        if any(not s or s.startswith("\n") for s in self.statements):
            raise ShapeError("%s: more than one blank line between statements" % name)
        if self.text() != text:
            raise ShapeError("%s: blank lines where JUCE writes none" % name)

    def text(self):
        return "\n".join(self.prefix_lines) + "\n\n" + "\n\n".join(self.statements) + self.trailer

    def require_prefixes(self, expected, optional=None):
        optional = optional or {}
        for prefix, iri in self.prefixes.items():
            if expected.get(prefix, optional.get(prefix)) != iri:
                raise ShapeError("%s: unexpected prefix %s: <%s>" % (self.name, prefix, iri))
        missing = sorted(set(expected) - set(self.prefixes))
        if missing:
            raise ShapeError("%s: prefixes missing: %s" % (self.name, ", ".join(missing)))


def statement_error(turtle, statement, what):
    lines = statement.split("\n")
    shown = "\n".join(lines[:12] + (["\t..."] if len(lines) > 12 else []))
    return ShapeError("%s: %s:\n%s" % (turtle.name, what, shown))


# manifest.ttl ---------------------------------------------------------------------------------------

def program_declaration(uri):
    return ("<%s:Program>\n"
            "\ta rdf:Property ;\n"
            "\trdfs:label \"program\" ;\n"
            "\trdfs:comment \"Index of the factory program a preset of the plug-in selects.\" ;\n"
            "\trdfs:range xsd:int ." % uri)


def correct_manifest(text, uri):
    turtle = Turtle("manifest.ttl", text)
    turtle.require_prefixes(MANIFEST_PREFIXES, {"rdf": RDF})
    u = re.escape(uri)
    plugin = re.compile(r"<%s>\n\ta lv2:Plugin ;\n\tlv2:binary <(?P<binary>[^<>\s]+)> ;\n"
                        r"\trdfs:seeAlso <dsp\.ttl> \." % u)
    ui = re.compile(r"<%s:UI>\n\ta ui:X11UI ;\n\tlv2:binary <(?P<binary>[^<>\s]+)> ;\n"
                    r"\trdfs:seeAlso <ui\.ttl> \." % u)
    preset = re.compile(r"<%s:preset(?P<number>\d+)>\n\ta pset:Preset ;\n\tlv2:appliesTo <%s> ;\n"
                        r"\trdfs:label \"%s\" ;\n"
                        r"\tstate:state \[ <%s:Program> \"(?P<index>\d+)\"\^\^xsd:int ; \] \." % (u, u, TEXT, u))
    declaration = program_declaration(uri)

    statements = list(turtle.statements)
    if not plugin.fullmatch(statements.pop(0)):
        raise statement_error(turtle, turtle.statements[0], "the first statement is not the plug-in's")
    has_ui = bool(statements) and ui.fullmatch(statements[0]) is not None
    if has_ui:
        statements.pop(0)
    declared = bool(statements) and statements[-1] == declaration
    if declared:
        statements.pop()
    for index, statement in enumerate(statements):
        match = preset.fullmatch(statement)
        if not match:
            raise statement_error(turtle, statement, "not a factory program's preset")
        if (int(match.group("index")), int(match.group("number"))) != (index, index + 1):
            raise statement_error(turtle, statement, "presets out of order (expected program %d)" % index)
    if statements and not declared:
        turtle.statements.append(declaration)
        if "rdf" not in turtle.prefixes:
            turtle.prefix_lines.append("@prefix rdf:   <%s> ." % RDF)
    return turtle.text(), has_ui


# dsp.ttl --------------------------------------------------------------------------------------------

# A parameter as JUCE writes it (its scale points after lv2:portProperty), or as corrected.
PARAMETER = re.compile(
    r"plug:(?P<id>%s)\n"
    r"\ta lv2:Parameter ;\n"
    r"\trdfs:label \"%s\" ;\n"
    r"(?:\tpg:group plug:%s ;\n)?"
    r"\trdfs:range atom:(?P<range>Float|Bool) ;\n"
    r"\tlv2:default %s ;\n"
    r"\tlv2:minimum (?P<minimum>%s) ;\n"
    r"\tlv2:maximum (?P<maximum>%s)"
    r"(?: \.|(?:(?P<juce>\t ;\n\tlv2:portProperty lv2:enumeration (?P<toggled>, lv2:toggled )?;\n)| ;\n)"
    r"\tlv2:scalePoint (?P<points>\[\n[\s\S]*?\n\t\]) \.)" % (LOCAL_NAME, TEXT, LOCAL_NAME, NUMBER, NUMBER, NUMBER))
SCALE_POINT = re.compile(r"\[\n\t\trdfs:label (?P<label>\"%s\") ;\n\t\trdf:value (?P<value>%s) ;\n\t\]"
                         % (TEXT, NUMBER))
GROUP = re.compile(r"plug:%s\n\ta pg:Group ;\n(?:\tpg:subGroupOf plug:%s ;\n)?\tlv2:symbol \"%s\" ;\n"
                   r"\tlv2:name \"%s\" \." % (LOCAL_NAME, LOCAL_NAME, TEXT, TEXT))
BUS_GROUP = re.compile(r"plug:(?P<kind>input|output)_group_(?P<n>\d+)\n\ta pg:(?:Input|Output)Group ;\n"
                       r"\tlv2:name \"%s\" ;\n\tlv2:symbol \"(?P=kind)_group_(?P=n)\" \." % TEXT)


def format_number(value):
    return str(int(value)) if value == int(value) else repr(value)


def scale_points(turtle, statement, match):
    points, parsed, position = match.group("points"), [], 0
    while True:
        point = SCALE_POINT.match(points, position)
        if not point:
            raise statement_error(turtle, statement, "unexpected scale point")
        parsed.append(point)
        position = point.end()
        if position == len(points):
            return parsed
        if not points.startswith(", ", position):
            raise statement_error(turtle, statement, "unexpected scale point")
        position += 2


def correct_parameter(turtle, statement, match):
    """JUCE writes scale points, one per whole step from the minimum to the maximum, for its choice,
    integer and boolean parameters, marks them with port properties and gives them values normalised to
    0..1. Corrected, the values are plain and the port properties gone; a boolean parameter (toggled)
    says so the way LV2 has for parameters, with a boolean range: a host then sends it a boolean, which
    JUCE's wrapper reads as 0 or 1."""
    if match.group("points") is None:
        if match.group("range") != "Float":
            raise statement_error(turtle, statement, "a boolean parameter without its two scale points")
        return statement
    parsed = scale_points(turtle, statement, match)
    minimum, maximum = float(match.group("minimum")), float(match.group("maximum"))
    count = len(parsed)
    if count < 2 or maximum - minimum != count - 1:
        raise statement_error(turtle, statement, "scale points are not one per whole step of the range")
    values = [float(p.group("value")) for p in parsed]
    plain = [minimum + i for i in range(count)]
    if match.group("juce"):
        normalised = all(abs(v - i / (count - 1)) <= 1.0e-5 for i, v in enumerate(values))
        if match.group("range") != "Float" or not normalised:
            raise statement_error(turtle, statement, "scale point values or range not as JUCE writes them")
        boolean = match.group("toggled") is not None
    else:
        if values != plain:
            raise statement_error(turtle, statement, "scale point values are not the steps of the range")
        boolean = match.group("range") == "Bool"
    if boolean and (minimum, maximum) != (0.0, 1.0):
        raise statement_error(turtle, statement, "a boolean parameter not from 0 to 1")
    head = statement[:match.start("range")] + ("Bool" if boolean else "Float") + \
        statement[match.end("range"):match.end("maximum")]
    return "%s ;\n\tlv2:scalePoint %s ." % (head, ", ".join(
        "[\n\t\trdfs:label %s ;\n\t\trdf:value %s ;\n\t]" % (p.group("label"), format_number(v))
        for p, v in zip(parsed, plain)))


def listed_parameters(turtle, lines, predicate):
    start = lines.index("\t" + predicate)
    names = []
    for line in lines[start + 1:]:
        match = re.fullmatch(r"\t\tplug:(%s) ([,;])" % LOCAL_NAME, line)
        if not match:
            raise ShapeError("%s: unexpected line in %s: %r" % (turtle.name, predicate, line))
        names.append(match.group(1))
        if match.group(2) == ";":
            return names
    raise ShapeError("%s: %s does not end" % (turtle.name, predicate))


def correct_plugin(turtle, statement, uri, parameters):
    lines = statement.split("\n")
    if lines[0] != "<%s>" % uri or not statement.endswith(" ."):
        raise statement_error(turtle, statement, "unexpected description of the plug-in")
    predicates = [re.match(r"\t(\S+)", line).group(1) for line in lines[1:]
                  if line.startswith("\t") and not line.startswith(("\t\t", "\t]"))]
    unknown = sorted(set(predicates) - PLUGIN_PREDICATES)
    if unknown or len(predicates) != len(set(predicates)):
        raise ShapeError("%s: unexpected statements about the plug-in: %s"
                         % (turtle.name, ", ".join(unknown) or "repeated predicates"))
    types = [i for i, line in enumerate(lines)
             if re.fullmatch(r"\ta lv2:(?:Instrument)?Plugin(?: , doap:Project)? ;", line)]
    if len(types) != 1 or predicates.count("a") != 1:
        raise statement_error(turtle, statement, "unexpected type of the plug-in")
    if not lines[types[0]].endswith(", doap:Project ;"):
        lines[types[0]] = lines[types[0]][:-2] + " , doap:Project ;"
    for predicate in ("patch:writable", "patch:readable"):
        if predicate in predicates and listed_parameters(turtle, lines, predicate) != parameters:
            raise ShapeError("%s: %s does not list the parameters described" % (turtle.name, predicate))
    if parameters and "patch:writable" not in predicates:
        raise ShapeError("%s: parameters described but not writable" % turtle.name)
    return "\n".join(lines)


def correct_dsp(text, uri):
    turtle = Turtle("dsp.ttl", text)
    turtle.require_prefixes(dict(DSP_PREFIXES, plug=uri + ":"))
    parameters = []
    for index, statement in enumerate(turtle.statements):
        if statement.startswith("<"):
            continue
        match = PARAMETER.fullmatch(statement)
        if match:
            parameters.append(match.group("id"))
            turtle.statements[index] = correct_parameter(turtle, statement, match)
        elif not (GROUP.fullmatch(statement) or BUS_GROUP.fullmatch(statement)):
            raise statement_error(turtle, statement, "not a parameter or group as JUCE describes them")
    plugin = [i for i, s in enumerate(turtle.statements) if s.startswith("<")]
    if len(plugin) != 1:
        raise ShapeError("dsp.ttl: expected one description of the plug-in, found %d" % len(plugin))
    turtle.statements[plugin[0]] = correct_plugin(turtle, turtle.statements[plugin[0]], uri, parameters)
    return turtle.text()


# ui.ttl ---------------------------------------------------------------------------------------------

def ui_text(uri, resize_feature, corrected):
    return ("@prefix lv2:  <http://lv2plug.in/ns/lv2core#> .\n"
            "@prefix opts: <http://lv2plug.in/ns/ext/options#> .\n"
            "@prefix param: <http://lv2plug.in/ns/ext/parameters#> .\n"
            "@prefix ui:   <http://lv2plug.in/ns/extensions/ui#> .\n"
            "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n"
            "\n"
            "<%s:UI>\n"
            "\tlv2:extensionData\n"
            "\t\tui:idleInterface ,\n"
            "\t\topts:interface ,\n"
            "%s"
            "\t\tui:resize ;\n"
            "\n"
            "\tlv2:requiredFeature\n"
            "\t\tui:idleInterface ,\n"
            "\t\turid:map ,\n"
            "\t\tui:parent ,\n"
            "\t\t<http://lv2plug.in/ns/ext/instance-access> ;\n"
            "\n"
            "\tlv2:optionalFeature\n"
            "\t\t%s ,\n"
            "%s"
            "\t\topts:options ;\n"
            "\n"
            "\topts:supportedOption\n"
            "\t\tui:scaleFactor ,\n"
            "\t\tparam:sampleRate .\n"
            % (uri, "" if corrected else "\t\tui:noUserResize ,\n", resize_feature,
               "" if corrected else "\t\topts:interface ,\n"))


def correct_ui(text, uri):
    for resize_feature in ("ui:resize", "ui:noUserResize"):
        if text in (ui_text(uri, resize_feature, False), ui_text(uri, resize_feature, True)):
            return ui_text(uri, resize_feature, True)
    expected = ui_text(uri, "ui:resize", False).split("\n")
    found = text.split("\n")
    line = next((i for i, (a, b) in enumerate(zip(expected, found)) if a != b), min(len(expected), len(found)))
    raise ShapeError("ui.ttl: line %d is %r where JUCE writes %r" % (
        line + 1, found[line] if line < len(found) else "", expected[line] if line < len(expected) else ""))


# ----------------------------------------------------------------------------------------------------

def correct_bundle(files, uri):
    """The corrected text of each file; raises ShapeError on a file of unknown shape."""
    manifest, has_ui = correct_manifest(files["manifest.ttl"], uri)
    result = {"manifest.ttl": manifest, "dsp.ttl": correct_dsp(files["dsp.ttl"], uri)}
    if has_ui != ("ui.ttl" in files):
        raise ShapeError("manifest.ttl and ui.ttl disagree on whether the plug-in has a UI")
    if has_ui:
        result["ui.ttl"] = correct_ui(files["ui.ttl"], uri)
    return result


def write_atomically(path, text):
    handle, temp = tempfile.mkstemp(dir=os.path.dirname(path), prefix=".correcting-")
    try:
        with os.fdopen(handle, "w", encoding="utf-8", newline="") as f:
            f.write(text)
        os.chmod(temp, 0o644)
        os.replace(temp, path)
    except BaseException:
        os.unlink(temp)
        raise


def main(argv):
    if len(argv) != 3:
        print("usage: %s BUNDLE_FOLDER PLUGIN_URI" % os.path.basename(argv[0]), file=sys.stderr)
        return 2
    bundle, uri = argv[1], argv[2]
    names = ["manifest.ttl", "dsp.ttl", "ui.ttl"]
    files = {}
    for name in names:
        path = os.path.join(bundle, name)
        if os.path.exists(path):
            with open(path, encoding="utf-8", newline="") as f:
                files[name] = f.read()
    try:
        for name in ("manifest.ttl", "dsp.ttl"):
            if name not in files:
                raise ShapeError("%s is missing" % name)
        corrected = correct_bundle(files, uri)
        # The corrected form must read as corrected: a second run changes nothing.
        if correct_bundle(corrected, uri) != corrected:
            raise ShapeError("the correction does not settle; this script is at fault")
    except ShapeError as e:
        print("error: %s: the LV2 Turtle JUCE wrote has a shape this build does not know, so it cannot be "
              "corrected.\n%s" % (bundle, e), file=sys.stderr)
        return 1
    changed = [name for name in names if name in files and corrected[name] != files[name]]
    for name in changed:
        write_atomically(os.path.join(bundle, name), corrected[name])
    print("%s: %s" % (os.path.basename(os.path.normpath(bundle)),
                      "corrected " + ", ".join(changed) if changed else "Turtle already corrected"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
