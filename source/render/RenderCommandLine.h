#pragma once

#include <juce_core/juce_core.h>

#include <vector>

namespace sorvane::render
{
enum class OutputFormat
{
    fromExtension, // .flac writes FLAC, anything else 24-bit WAV
    wav24,
    wav32f,
    flac
};

enum class SoundSource
{
    defaults,
    factoryPreset,
    userPreset,
    dna,
    project
};

// One --set: the identifier is known to be a parameter; the value is checked against the parameter's
// own range when it is applied.
struct ParameterSetting
{
    juce::String id;
    juce::String value;
};

struct RenderCommand
{
    enum class Action
    {
        render,
        help,
        version,
        listPresets
    };

    Action action = Action::render;
    // INPUT OUTPUT pairs, or one folder and its output folder; paths as typed.
    juce::StringArray paths;

    SoundSource source = SoundSource::defaults;
    // The preset name or index, the user preset or project path, the DNA text or "@" and its path.
    juce::String sourceArgument;
    std::vector<ParameterSetting> settings;

    double tempo = 0.0; // 0: the project's tempo, otherwise 120
    int sampleRate = 0; // 0: the input file's rate
    int blockSize = 512;
    double tailSeconds = 0.0;
    int jobs = 0; // 0: one per core
    OutputFormat format = OutputFormat::fromExtension;
    // A folder run names each output after its whole input name ("song.flac" gives "song.flac.wav"),
    // so inputs that differ only in extension do not meet at one output.
    bool keepExtension = false;
    bool quiet = false;
    bool json = false;
};

inline constexpr double minimumTempo = 30.0, maximumTempo = 300.0;
inline constexpr int minimumSampleRate = 8000, maximumSampleRate = 768000;
inline constexpr int maximumBlockSize = 65536;
inline constexpr double maximumTailSeconds = 3600.0;
inline constexpr int maximumJobs = 64;

// One argument's bytes as text: each invalid UTF-8 sequence becomes U+FFFD. JUCE's own UTF-8 reading
// steps past the end of invalid sequences, so argv never reaches it unchecked.
juce::String argumentText(const char* bytes, std::size_t size);

// Whether an argument's bytes are UTF-8 throughout. A file name in another encoding cannot be named
// exactly through JUCE's text, so such an argument is refused rather than read or written under
// another name.
bool isUtf8Argument(const char* bytes, std::size_t size);
// The bytes as text with each invalid byte shown as \xNN, for the refusal.
juce::String escapedArgument(const char* bytes, std::size_t size);

// Reads the arguments after the program name. False with one sentence in `error` when they are not
// a valid command; `command` is then unspecified.
bool parseRenderCommandLine(const juce::StringArray& arguments, RenderCommand& command, juce::String& error);

// A decimal number as people type it ("120", "-3.5", "1e3"): no hex, no "inf", no "nan", no spaces.
bool parseDecimal(const juce::String& text, double& value);

juce::String renderUsage();
juce::String renderVersion();
} // namespace sorvane::render
