#include "processor/SorvaneAudioProcessor.h"
#include "processor/ParameterState.h"
#include "transport/SourceRange.h"

namespace
{
namespace hostIds
{
const juce::Identifier rangeStart{"sourceRangeStart"};
const juce::Identifier rangeEnd{"sourceRangeEnd"};
const juce::Identifier rangeLoop{"sourceRangeLoop"};
const juce::Identifier rangeSnap{"sourceRangeSnap"};
const juce::Identifier socialAspect{"socialAspect"};
const juce::Identifier socialDuration{"socialDuration"};
const juce::Identifier socialBackground{"socialBackground"};
const juce::Identifier videoArtist{"videoArtist"};
const juce::Identifier videoEffectedOnly{"videoEffectedOnly"};
const juce::Identifier samplePath{"samplePath"};
const juce::Identifier sampleName{"sampleName"};
} // namespace hostIds

const juce::Identifier* const sessionProperties[] = {
    &hostIds::rangeStart,        &hostIds::rangeEnd,       &hostIds::rangeLoop,        &hostIds::rangeSnap,
    &hostIds::socialAspect,      &hostIds::socialDuration, &hostIds::socialBackground, &hostIds::videoArtist,
    &hostIds::videoEffectedOnly, &hostIds::samplePath,     &hostIds::sampleName};

int clampedChoice(const juce::ValueTree& state, const juce::Identifier& id)
{
    return juce::jlimit(0, 2, (int)state.getProperty(id, 0));
}
} // namespace

void SorvaneAudioProcessor::addSessionPropertiesForHost(juce::ValueTree& state, bool withSource)
{
    // Whatever an earlier restore left on the tree is not the live session.
    for (const auto* id : sessionProperties)
        state.removeProperty(*id, nullptr);

    state.setProperty(hostIds::rangeStart, sourceState.rangeStart.load(), nullptr);
    state.setProperty(hostIds::rangeEnd, sourceState.rangeEnd.load(), nullptr);
    state.setProperty(hostIds::rangeLoop, sourceState.looping.load(), nullptr);
    state.setProperty(hostIds::rangeSnap, sourceState.zeroSnap.load(), nullptr);
    state.setProperty(hostIds::socialAspect, socialAspect.load(), nullptr);
    state.setProperty(hostIds::socialDuration, socialDuration.load(), nullptr);
    state.setProperty(hostIds::socialBackground, socialBackground.load(), nullptr);

    const auto identity = getCreatorVideoIdentity();
    state.setProperty(hostIds::videoArtist, identity.artist, nullptr);
    state.setProperty(hostIds::videoEffectedOnly, identity.effectedOnly, nullptr);

    // Only the source published now is recorded, never one a restored state merely named.
    if (const auto sample = withSource ? sources.getCurrentSample() : nullptr)
    {
        state.setProperty(hostIds::samplePath, sample->path, nullptr);
        state.setProperty(hostIds::sampleName, sample->name, nullptr);
    }
}

void SorvaneAudioProcessor::storeSessionValuesFromHost(const juce::ValueTree& restored)
{
    double start = 0.0, end = 1.0;
    juce::String rangeError;
    if (!sorvane::normaliseCreatorRange((double)restored.getProperty(hostIds::rangeStart, 0.0),
                                        (double)restored.getProperty(hostIds::rangeEnd, 1.0), start, end,
                                        rangeError))
    {
        start = 0.0;
        end = 1.0;
    }
    sourceState.rangeStart.store(start);
    sourceState.rangeEnd.store(end);
    sourceState.looping.store((bool)restored.getProperty(hostIds::rangeLoop, true));
    sourceState.zeroSnap.store((bool)restored.getProperty(hostIds::rangeSnap, false));

    socialAspect.store(clampedChoice(restored, hostIds::socialAspect));
    socialDuration.store(clampedChoice(restored, hostIds::socialDuration));
    socialBackground.store(clampedChoice(restored, hostIds::socialBackground));
    setCreatorVideoIdentity(restored.getProperty(hostIds::videoArtist).toString(),
                            (bool)restored.getProperty(hostIds::videoEffectedOnly, false));
}

void SorvaneAudioProcessor::restoreSessionPropertiesFromHost(const juce::ValueTree& restored,
                                                             bool parametersSet)
{
    const auto samplePath = restored.getProperty(hostIds::samplePath).toString();
    storeSessionValuesFromHost(restored);

    // The live tree keeps only the sound; the session values live in their own members.
    auto state = restored.createCopy();
    for (const auto* id : sessionProperties)
        state.removeProperty(*id, nullptr);
    sorvane::migrateWorkflowParameters(state);
    if (parametersSet)
        installStateProperties(state);
    else
        installParameterState(state);

    // A relative path would resolve against whatever the working folder happens to be.
    if (samplePath.isNotEmpty() && juce::File::isAbsolutePath(samplePath))
    {
        juce::String loadError; // a source that is gone reports through the loader's own status
        sources.requestLoad(juce::File(samplePath), loadError, true);
    }
    // The load request must not override the restored range.
    storeSessionValuesFromHost(restored);
}
