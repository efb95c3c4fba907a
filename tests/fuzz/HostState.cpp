// Host state blobs: whatever a host hands back, the processor either restores a sound it can save and
// reload unchanged, or ignores the blob and stays exactly as it was.
#include "FuzzSupport.h"

#include "processor/HostStateBlob.h"
#include "processor/ParameterState.h"
#include "processor/SorvaneAudioProcessor.h"
#include "workflow/StableHash.h"
#include "workflow/TresselSessionTree.h"

namespace
{
std::unique_ptr<SorvaneAudioProcessor> makeStandalone()
{
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Standalone);
    auto processor = std::make_unique<SorvaneAudioProcessor>();
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Undefined);
    return processor;
}

juce::String soundDigest(SorvaneAudioProcessor& processor)
{
    return sorvane::treeDigest(processor.captureParameterSnapshot());
}

// The session values stored beside the sound.
juce::String sessionValues(SorvaneAudioProcessor& processor)
{
    auto& s = processor.getTransportState();
    const auto identity = processor.getCreatorVideoIdentity();
    return juce::String(s.rangeStart.load(), 17) + "|" + juce::String(s.rangeEnd.load(), 17) + "|" +
           juce::String((int)s.looping.load()) + juce::String((int)s.zeroSnap.load()) + "|" +
           juce::String(processor.socialAspect.load()) + juce::String(processor.socialDuration.load()) +
           juce::String(processor.socialBackground.load()) + "|" + identity.artist + "|" +
           juce::String((int)identity.effectedOnly);
}

// Everything a restore may touch.
juce::String fingerprint(SorvaneAudioProcessor& processor)
{
    return soundDigest(processor) + "|" + sessionValues(processor) + "|" +
           sorvane::treeDigest(sorvane::tresselSessionToTree(processor.getTresselSession())) + "|" +
           juce::String((juce::int64)processor.lockWord.load()) + "|" +
           juce::String(processor.currentProgram.load()) + "|" +
           juce::String((int)processor.getMutationHistory().size()) + "|" +
           // Reading the recent list parses the JSON a restored state carries.
           juce::String((int)processor.getRecentPresets().size()) + "|" +
           (processor.projectDirty.load() ? "dirty" : "clean");
}

juce::MemoryBlock stateOf(SorvaneAudioProcessor& processor)
{
    juce::MemoryBlock blob;
    processor.getStateInformation(blob);
    return blob;
}

// What the processor holds before each input: a session, locks and an edited sound, so that any
// change a refused blob made would show.
const juce::MemoryBlock& startingState()
{
    static const juce::MemoryBlock blob = []
    {
        auto processor = makeStandalone();
        processor->setCurrentProgram(9);
        processor->generateTressel(77u, 4, 40.0f, {}, false, false);
        processor->selectTresselVariant(3);
        processor->lockWord.store(0x30);
        auto& s = processor->getTransportState();
        s.rangeStart.store(0.125);
        s.rangeEnd.store(0.75);
        s.looping.store(false);
        s.zeroSnap.store(true);
        processor->setSocialVideoChoices(1, 2, 1);
        processor->setCreatorVideoIdentity("Fuzz Artist", true);
        return stateOf(*processor);
    }();
    return blob;
}

// The same decision the processor makes, taken apart from it.
bool isUsable(const std::uint8_t* data, std::size_t size)
{
    std::unique_ptr<juce::XmlElement> xml;
    juce::String error;
    if (!sorvane::readHostStateBlob(data, size, xml, error))
        return false;
    sorvane::fuzz::require(error.isEmpty(), "an accepted blob with a refusal sentence");
    return juce::ValueTree::fromXml(*xml).hasType(sorvane::stateIds::stateType);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace sorvane::fuzz;
    ensureJuce();
    if (size > (std::size_t)std::numeric_limits<int>::max())
        return 0;

    auto processor = makeStandalone();
    const auto& start = startingState();
    processor->setStateInformation(start.getData(), (int)start.getSize());
    processor->projectDirty.store(true);
    const auto before = fingerprint(*processor);

    processor->setStateInformation(data, (int)size);
    if (!isUsable(data, size))
    {
        require(fingerprint(*processor) == before, "a refused blob changed the processor");
        return 0;
    }

    requireSoundParameters(*processor);
    require(!processor->projectDirty.load(), "a restore left the project dirty");
    require(!sorvane::containsNonFiniteParameterValue(processor->captureParameterSnapshot()),
            "a non-finite value survived a restore");
    {
        auto& s = processor->getTransportState();
        const double start = s.rangeStart.load(), end = s.rangeEnd.load();
        require(std::isfinite(start) && std::isfinite(end) && start >= 0.0 && end <= 1.0 && start < end,
                "a restore left an invalid source range");
        for (const int choice : {processor->socialAspect.load(), processor->socialDuration.load(),
                                 processor->socialBackground.load()})
            require(choice >= 0 && choice <= 2, "a restore left a social choice out of range");
    }

    // What was restored saves and reloads to the same sound and session.
    const auto saved = stateOf(*processor);
    auto reloaded = makeStandalone();
    reloaded->setStateInformation(saved.getData(), (int)saved.getSize());
    require(soundDigest(*reloaded) == soundDigest(*processor), "a save did not reload to the same sound");
    require(sessionValues(*reloaded) == sessionValues(*processor),
            "a save did not reload to the same range, social choices and video identity");
    require(sorvane::tresselSessionToTree(reloaded->getTresselSession())
                .isEquivalentTo(sorvane::tresselSessionToTree(processor->getTresselSession())),
            "a save did not reload to the same session");
    return 0;
}

void sorvaneFuzzWriteSeeds(const juce::File& folder)
{
    using sorvane::fuzz::writeSeed;
    auto processor = makeStandalone();
    writeSeed(folder, "default.state", stateOf(*processor));

    for (int program : {3, 17, 36})
    {
        processor->setCurrentProgram(program);
        writeSeed(folder, "program-" + juce::String(program) + ".state", stateOf(*processor));
    }

    processor->generateTressel(1234u, 2, 60.0f, {}, false, false);
    processor->selectTresselVariant(2);
    processor->lockWord.store(0x3);
    writeSeed(folder, "session.state", stateOf(*processor));
    writeSeed(folder, "starting.state", startingState());
}
