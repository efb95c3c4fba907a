#include "render/RenderCommandLine.h"

#include "processor/ParameterLayout.h"
#include "processor/SafeXml.h"

#include <charconv>
#include <cmath>

namespace sorvane::render
{
namespace
{
bool isDigit(juce::juce_wchar c)
{
    return c >= '0' && c <= '9';
}

// Whole numbers only, within [low, high].
bool parseWhole(const juce::String& text, int low, int high, int& value)
{
    if (text.isEmpty() || text.length() > 9 || !text.containsOnly("0123456789"))
        return false;
    const auto parsed = text.getLargeIntValue();
    if (parsed < low || parsed > high)
        return false;
    value = (int)parsed;
    return true;
}

// Names are echoed in messages: anything unprintable is shown escaped and long text is cut, so a
// message stays one readable line.
juce::String shown(const juce::String& text)
{
    juce::String out;
    int count = 0;
    for (auto p = text.getCharPointer(); !p.isEmpty(); ++p)
    {
        if (++count > 60)
        {
            out << "...";
            break;
        }
        const auto c = *p;
        if (c < 0x20 || c == 0x7f)
            out << "\\x" << juce::String::toHexString((int)c).paddedLeft('0', 2);
        else
            out << juce::String::charToString(c);
    }
    return "'" + out + "'";
}

struct OptionReader
{
    const juce::StringArray& arguments;
    int index = 0;

    // The value of an option given as "--name VALUE" or "--name=VALUE".
    bool value(const juce::String& name, const juce::String& inlineValue, bool hasInline, juce::String& out,
               juce::String& error)
    {
        if (hasInline)
        {
            out = inlineValue;
            return true;
        }
        if (index + 1 >= arguments.size())
        {
            error = name + " needs a value; see sorvane-render --help.";
            return false;
        }
        out = arguments[++index];
        return true;
    }
};

bool setSource(RenderCommand& command, SoundSource source, const juce::String& name,
               const juce::String& value, juce::String& error)
{
    if (command.source != SoundSource::defaults)
    {
        error = "Give only one of --preset, --user-preset, --dna and --project.";
        return false;
    }
    if (value.isEmpty())
    {
        error = name + " needs a value; see sorvane-render --help.";
        return false;
    }
    command.source = source;
    command.sourceArgument = value;
    return true;
}

bool parseSetting(const juce::String& text, RenderCommand& command, juce::String& error)
{
    const int equals = text.indexOfChar('=');
    const auto id = equals > 0 ? text.substring(0, equals) : juce::String();
    const auto value = equals > 0 ? text.substring(equals + 1) : juce::String();
    if (id.isEmpty() || value.isEmpty())
    {
        error = "--set takes ID=VALUE, for example --set drive=40; got " + shown(text) + ".";
        return false;
    }
    if (parameterIndexForId(id) < 0)
    {
        error = "There is no parameter " + shown(id) + "; sorvane-render --help lists them.";
        return false;
    }
    for (const auto& existing : command.settings)
        if (existing.id == id)
        {
            error = "The parameter " + shown(id) + " is set twice.";
            return false;
        }
    command.settings.push_back({id, value});
    return true;
}
} // namespace

namespace
{
std::size_t utf8SequenceLength(const char* bytes, std::size_t size, std::size_t i)
{
    const auto lead = (unsigned char)bytes[i];
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xC2 ? 0
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                               : lead < 0xF5 ? 4
                                             : 0;
    return length > 0 && size - i >= length && isStrictUtf8(bytes + i, length) ? length : 0;
}
} // namespace

bool isUtf8Argument(const char* bytes, std::size_t size)
{
    for (std::size_t i = 0; i < size;)
    {
        const auto length = utf8SequenceLength(bytes, size, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

juce::String escapedArgument(const char* bytes, std::size_t size)
{
    std::string text;
    for (std::size_t i = 0; i < size;)
    {
        if (const auto length = utf8SequenceLength(bytes, size, i); length > 0)
        {
            text.append(bytes + i, length);
            i += length;
            continue;
        }
        static const char* const hex = "0123456789ABCDEF";
        const auto b = (unsigned char)bytes[i++];
        text += "\\x";
        text += hex[b >> 4];
        text += hex[b & 15];
    }
    return juce::String::fromUTF8(text.data(), (int)text.size());
}

juce::String argumentText(const char* bytes, std::size_t size)
{
    std::string text;
    text.reserve(size);
    for (std::size_t i = 0; i < size;)
    {
        if (const auto length = utf8SequenceLength(bytes, size, i); length > 0)
        {
            text.append(bytes + i, length);
            i += length;
        }
        else
        {
            text += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return juce::String::fromUTF8(text.data(), (int)text.size());
}

bool parseDecimal(const juce::String& text, double& value)
{
    if (text.isEmpty() || text.length() > 40)
        return false;
    auto p = text.getCharPointer();
    if (*p == '+' || *p == '-')
        ++p;
    int digits = 0;
    while (isDigit(*p))
        ++p, ++digits;
    if (*p == '.')
    {
        ++p;
        while (isDigit(*p))
            ++p, ++digits;
    }
    if (digits == 0)
        return false;
    if (*p == 'e' || *p == 'E')
    {
        ++p;
        if (*p == '+' || *p == '-')
            ++p;
        if (!isDigit(*p))
            return false;
        while (isDigit(*p))
            ++p;
    }
    if (!p.isEmpty())
        return false;
    // JUCE's own conversion overflows an int on long exponents; the checked text is plain ASCII.
    const auto ascii = text.toStdString();
    const char* begin = ascii.data() + (ascii[0] == '+' ? 1 : 0);
    double parsed = 0.0;
    const auto [end, status] = std::from_chars(begin, ascii.data() + ascii.size(), parsed);
    if (status != std::errc() || end != ascii.data() + ascii.size() || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

bool parseRenderCommandLine(const juce::StringArray& arguments, RenderCommand& command, juce::String& error)
{
    command = RenderCommand{};
    error.clear();
    OptionReader reader{arguments};
    bool optionsEnded = false;
    bool tempoGiven = false, rateGiven = false, blockGiven = false, tailGiven = false, jobsGiven = false,
         formatGiven = false;

    for (; reader.index < arguments.size(); ++reader.index)
    {
        const auto argument = arguments[reader.index];
        if (optionsEnded || !argument.startsWith("-") || argument == "-")
        {
            if (argument.isEmpty())
            {
                error = "An empty file name was given.";
                return false;
            }
            command.paths.add(argument);
            continue;
        }
        if (argument == "--")
        {
            optionsEnded = true;
            continue;
        }

        const int equals = argument.indexOfChar('=');
        const bool hasInline = argument.startsWith("--") && equals > 2;
        const auto name = hasInline ? argument.substring(0, equals) : argument;
        const auto inlineValue = hasInline ? argument.substring(equals + 1) : juce::String();
        const bool takesNoValue = name == "--help" || name == "-h" || name == "--version" ||
                                  name == "--list-presets" || name == "--quiet" || name == "-q" ||
                                  name == "--json" || name == "--keep-extension";
        if (takesNoValue && hasInline)
        {
            error = name + " takes no value.";
            return false;
        }

        juce::String value;
        if (name == "--help" || name == "-h")
            command.action = RenderCommand::Action::help;
        else if (name == "--version")
        {
            if (command.action == RenderCommand::Action::render)
                command.action = RenderCommand::Action::version;
        }
        else if (name == "--list-presets")
        {
            if (command.action == RenderCommand::Action::render)
                command.action = RenderCommand::Action::listPresets;
        }
        else if (name == "--quiet" || name == "-q")
            command.quiet = true;
        else if (name == "--json")
            command.json = true;
        else if (name == "--keep-extension")
            command.keepExtension = true;
        else if (name == "--preset" || name == "--user-preset" || name == "--dna" || name == "--project")
        {
            if (!reader.value(name, inlineValue, hasInline, value, error))
                return false;
            const auto source = name == "--preset"        ? SoundSource::factoryPreset
                                : name == "--user-preset" ? SoundSource::userPreset
                                : name == "--dna"         ? SoundSource::dna
                                                          : SoundSource::project;
            if (!setSource(command, source, name, value, error))
                return false;
        }
        else if (name == "--set")
        {
            if (!reader.value(name, inlineValue, hasInline, value, error) ||
                !parseSetting(value, command, error))
                return false;
        }
        else if (name == "--tempo" || name == "--tail")
        {
            bool& given = name == "--tempo" ? tempoGiven : tailGiven;
            if (given)
            {
                error = name + " is given twice.";
                return false;
            }
            given = true;
            if (!reader.value(name, inlineValue, hasInline, value, error))
                return false;
            double number = 0.0;
            const bool tempo = name == "--tempo";
            const double low = tempo ? minimumTempo : 0.0, high = tempo ? maximumTempo : maximumTailSeconds;
            if (!parseDecimal(value, number) || number < low || number > high)
            {
                error = name + " takes a number from " + juce::String(low) + " to " + juce::String(high) +
                        (tempo ? " (beats per minute)" : " (seconds)") + "; got " + shown(value) + ".";
                return false;
            }
            (tempo ? command.tempo : command.tailSeconds) = number;
        }
        else if (name == "--rate" || name == "--block" || name == "--jobs")
        {
            bool& given = name == "--rate" ? rateGiven : name == "--block" ? blockGiven : jobsGiven;
            if (given)
            {
                error = name + " is given twice.";
                return false;
            }
            given = true;
            if (!reader.value(name, inlineValue, hasInline, value, error))
                return false;
            const int low = name == "--rate" ? minimumSampleRate : 1;
            const int high = name == "--rate"    ? maximumSampleRate
                             : name == "--block" ? maximumBlockSize
                                                 : maximumJobs;
            int& target = name == "--rate"    ? command.sampleRate
                          : name == "--block" ? command.blockSize
                                              : command.jobs;
            if (!parseWhole(value, low, high, target))
            {
                error = name + " takes a whole number from " + juce::String(low) + " to " +
                        juce::String(high) + "; got " + shown(value) + ".";
                return false;
            }
        }
        else if (name == "--format")
        {
            if (formatGiven)
            {
                error = "--format is given twice.";
                return false;
            }
            formatGiven = true;
            if (!reader.value(name, inlineValue, hasInline, value, error))
                return false;
            if (value == "wav24")
                command.format = OutputFormat::wav24;
            else if (value == "wav32f")
                command.format = OutputFormat::wav32f;
            else if (value == "flac")
                command.format = OutputFormat::flac;
            else
            {
                error = "--format takes wav24, wav32f or flac; got " + shown(value) + ".";
                return false;
            }
        }
        else
        {
            error = "Unknown option " + shown(argument) + "; see sorvane-render --help.";
            return false;
        }
    }

    if (command.action != RenderCommand::Action::render)
        return true;
    if (command.paths.isEmpty())
    {
        error = "Give an input and an output file (or folder); see sorvane-render --help.";
        return false;
    }
    if (command.paths.size() % 2 != 0)
    {
        error = "The input " + shown(command.paths[command.paths.size() - 1]) +
                " has no output; give "
                "INPUT OUTPUT pairs.";
        return false;
    }
    return true;
}

juce::String renderVersion()
{
    return juce::String("sorvane-render ") + JucePlugin_VersionString;
}

juce::String renderUsage()
{
    juce::String ids;
    for (const auto* id : parameterIds)
        ids << (ids.isEmpty() ? "" : " ") << id;

    return "Usage: sorvane-render INPUT OUTPUT [INPUT OUTPUT ...] [options]\n"
           "       sorvane-render INPUT_FOLDER OUTPUT_FOLDER [options]\n"
           "\n"
           "Processes audio files through Sorvane offline. Inputs may be WAV, AIFF, FLAC, Ogg Vorbis, MP3,\n"
           "and (with ffmpeg installed) M4A, AAC and Opus.\n"
           "\n"
           "Sound (at most one; default: the default sound):\n"
           "  --preset NAME|INDEX     a factory preset by name or program number (--list-presets)\n"
           "  --user-preset FILE      a saved .sorvane preset\n"
           "  --dna TEXT|@FILE        an SV1: DNA text, or a file holding one\n"
           "  --project FILE          the sound and tempo of a .sorvaneproject\n"
           "  --set ID=VALUE          set one parameter in its own units, after the sound (repeatable)\n"
           "\n"
           "Rendering:\n"
           "  --tempo BPM             host tempo, 30 to 300 (default: the project's, else 120)\n"
           "  --rate HZ               processing and output rate (default: the input's)\n"
           "  --block N               block size in frames (default 512)\n"
           "  --tail SECONDS          silence processed after the input, for the effect to decay (default "
           "0)\n"
           "  --format wav24|wav32f|flac  output format (default: FLAC for a .flac OUTPUT, WAV for .wav or\n"
           "                          no extension; any other extension is refused unless --format is "
           "given)\n"
           "  --keep-extension        in a folder run, name each output after the whole input name:\n"
           "                          song.flac gives song.flac.wav, so song.flac and song.wav both render\n"
           "  --jobs N                files rendered at once (default: one per core)\n"
           "\n"
           "Output:\n"
           "  -q, --quiet             no progress bar and no per-file lines; errors only\n"
           "  --json                  one JSON object per file on standard output\n"
           "  --list-presets          print the factory presets and exit\n"
           "  -h, --help              print this help and exit\n"
           "  --version               print the version and exit\n"
           "\n"
           "Parameters for --set: " +
           ids +
           "\n"
           "\n"
           "Exit status: 0 when every file was rendered, 1 when any failed, 2 for a usage error.\n";
}
} // namespace sorvane::render
