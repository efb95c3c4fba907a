// sorvane-render's command line: whatever bytes arrive as arguments, the parser either refuses with one
// sentence or fills a command whose every field is in range, and each --set value is either applied
// within the parameter's range or refused with the parameter left alone.
#include "FuzzSupport.h"

#include "processor/SorvaneAudioProcessor.h"
#include "render/RenderCommandLine.h"
#include "render/RenderSound.h"

namespace
{
// Arguments are the NUL-separated pieces of the input, as argv holds them.
juce::StringArray argumentsOf(const std::uint8_t* data, std::size_t size)
{
    juce::StringArray arguments;
    const auto* bytes = reinterpret_cast<const char*>(data);
    std::size_t start = 0;
    for (std::size_t i = 0; i <= size; ++i)
        if (i == size || bytes[i] == 0)
        {
            if (i > start || i < size)
                arguments.add(sorvane::render::argumentText(bytes + start, i - start));
            start = i + 1;
        }
    return arguments;
}

SorvaneAudioProcessor& sharedProcessor()
{
    static auto* processor = new SorvaneAudioProcessor();
    return *processor;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace sorvane::fuzz;
    using namespace sorvane::render;
    ensureJuce();

    const auto arguments = argumentsOf(data, size);
    RenderCommand command;
    juce::String error;
    if (!parseRenderCommandLine(arguments, command, error))
    {
        require(error.isNotEmpty(), "a refusal without a sentence");
        require(!error.containsAnyOf("\r\n"), "a refusal of more than one line");
        return 0;
    }
    require(error.isEmpty(), "an accepted command with an error");

    if (command.action == RenderCommand::Action::render)
        require(command.paths.size() >= 2 && command.paths.size() % 2 == 0, "paths without pairs");
    for (const auto& path : command.paths)
        require(path.isNotEmpty(), "an empty path");
    require(command.tempo == 0.0 || (command.tempo >= minimumTempo && command.tempo <= maximumTempo),
            "a tempo out of range");
    require(command.sampleRate == 0 ||
                (command.sampleRate >= minimumSampleRate && command.sampleRate <= maximumSampleRate),
            "a rate out of range");
    require(command.blockSize >= 1 && command.blockSize <= maximumBlockSize, "a block size out of range");
    require(command.tailSeconds >= 0.0 && command.tailSeconds <= maximumTailSeconds, "a tail out of range");
    require(command.jobs >= 0 && command.jobs <= maximumJobs, "a job count out of range");
    require((command.source == SoundSource::defaults) == command.sourceArgument.isEmpty(),
            "a sound source without its argument");
    require(!command.keepExtension || arguments.contains("--keep-extension"),
            "--keep-extension set without being given");

    auto& processor = sharedProcessor();
    for (size_t i = 0; i < command.settings.size(); ++i)
    {
        const auto& setting = command.settings[i];
        for (size_t j = 0; j < i; ++j)
            require(command.settings[j].id != setting.id, "a parameter set twice");
        auto* parameter = processor.getParameterState().getParameter(setting.id);
        require(parameter != nullptr, "a setting of an unknown parameter");
        const float before = parameter->getValue();
        juce::String why;
        if (applyParameterText(*parameter, setting.value, why))
            require(std::isfinite(parameter->getValue()), "a setting gave a parameter no number");
        else
            require(why.isNotEmpty() && parameter->getValue() == before,
                    "a refused setting changed the parameter");
    }
    requireSoundParameters(processor);
    return 0;
}

void sorvaneFuzzWriteSeeds(const juce::File& folder)
{
    const auto seed = [&](const juce::String& name, const std::vector<std::string>& arguments)
    {
        std::string bytes;
        for (size_t i = 0; i < arguments.size(); ++i)
            bytes += (i > 0 ? std::string(1, '\0') : std::string()) + arguments[i];
        sorvane::fuzz::writeSeed(folder, name, juce::MemoryBlock(bytes.data(), bytes.size()));
    };
    seed("pairs", {"a.wav", "b.wav", "c.flac", "d.flac", "--json", "-q"});
    seed("everything", {"in.wav", "out.wav", "--preset", "Glass", "--tempo", "133.5", "--rate=96000",
                        "--block", "64", "--tail", "2.5", "--format", "wav32f", "--jobs", "2"});
    seed("settings", {"in", "out", "--set", "drive=40", "--set", "delaySync=1/8 dotted", "--set",
                      "matchSourceLevel=off", "--set", "reduce=4", "--set", "audioQuality=Eco"});
    seed("dna", {"x.wav", "y.wav", "--dna", "@sound.txt", "--", "--odd.wav", "-"});
    seed("help", {"--help"});
    seed("keep-extension", {"mixed", "rendered", "--keep-extension", "--format=flac"});
}
