// Pasted DNA text: whatever arrives, the processor either takes a whole sound or refuses with a
// sentence and stays exactly as it was.
#include "FuzzSupport.h"

#include "processor/SafeXml.h"
#include "processor/SorvaneAudioProcessor.h"
#include "workflow/StableHash.h"

namespace
{
juce::String stateDigest(SorvaneAudioProcessor& processor)
{
    return sorvane::treeDigest(processor.captureParameterSnapshot());
}

// A clipboard hands over text, not bytes: each invalid sequence arrives as U+FFFD. JUCE's own string
// constructors step past the end of invalid UTF-8, so the bytes are repaired here first.
juce::String clipboardText(const std::uint8_t* data, std::size_t size)
{
    const auto* bytes = reinterpret_cast<const char*>(data);
    std::string text;
    for (std::size_t i = 0; i < size;)
    {
        const auto lead = data[i];
        const std::size_t length = lead < 0x80   ? 1
                                   : lead < 0xC2 ? 0
                                   : lead < 0xE0 ? 2
                                   : lead < 0xF0 ? 3
                                   : lead < 0xF5 ? 4
                                                 : 0;
        if (length > 0 && size - i >= length && sorvane::isStrictUtf8(bytes + i, length))
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

std::unique_ptr<SorvaneAudioProcessor> makeStandalone()
{
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Standalone);
    auto processor = std::make_unique<SorvaneAudioProcessor>();
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Undefined);
    return processor;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace sorvane::fuzz;
    ensureJuce();

    auto processor = makeStandalone();
    const auto before = stateDigest(*processor);

    juce::String error;
    const auto text = clipboardText(data, size);
    if (!processor->importTresselDna(text, error))
    {
        require(error.isNotEmpty(), "a refusal without a sentence");
        require(stateDigest(*processor) == before, "a refused DNA text changed the sound");
        return 0;
    }

    requireSoundParameters(*processor);

    // An accepted sound survives a host save and reload unchanged.
    juce::MemoryBlock saved;
    processor->getStateInformation(saved);
    auto reloaded = makeStandalone();
    reloaded->setStateInformation(saved.getData(), (int)saved.getSize());
    require(stateDigest(*reloaded) == stateDigest(*processor), "a save did not reload to the same sound");
    return 0;
}

void sorvaneFuzzWriteSeeds(const juce::File& folder)
{
    auto processor = makeStandalone();
    juce::String error;
    sorvane::fuzz::writeSeed(folder, "default.dna", processor->copyTresselDna(error));

    for (int program : {3, 17, 36})
    {
        processor->setCurrentProgram(program);
        sorvane::fuzz::writeSeed(folder, "program-" + juce::String(program) + ".dna",
                                 processor->copyTresselDna(error));
    }

    processor->generateTressel(1234u, 2, 60.0f, {}, false, false);
    processor->selectTresselVariant(2);
    sorvane::fuzz::writeSeed(folder, "session.dna", processor->copyTresselDna(error));
}
