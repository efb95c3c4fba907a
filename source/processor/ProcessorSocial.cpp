#include "processor/SorvaneAudioProcessor.h"

void SorvaneAudioProcessor::setCreatorVideoIdentity(const juce::String& artist, bool effectedOnly)
{
    const auto name = sorvane::sanitiseVideoArtist(artist);
    bool changed = false;
    {
        const std::lock_guard<std::mutex> lock(creatorIdentityMutex);
        changed = name != videoArtist || effectedOnly != videoEffectedOnly;
        videoArtist = name;
        videoEffectedOnly = effectedOnly;
    }
    if (changed)
        markProjectDirty();
}

sorvane::CreatorVideoIdentity SorvaneAudioProcessor::getCreatorVideoIdentity() const
{
    const std::lock_guard<std::mutex> lock(creatorIdentityMutex);
    return {videoArtist, videoEffectedOnly};
}

void SorvaneAudioProcessor::setSocialVideoChoices(int aspect, int duration, int background)
{
    bool changed = false;
    changed |= socialAspect.exchange(juce::jlimit(0, 2, aspect)) != juce::jlimit(0, 2, aspect);
    changed |= socialDuration.exchange(juce::jlimit(0, 2, duration)) != juce::jlimit(0, 2, duration);
    changed |= socialBackground.exchange(juce::jlimit(0, 2, background)) != juce::jlimit(0, 2, background);
    if (changed)
        markProjectDirty();
}

sorvane::PreparedSourceVideo SorvaneAudioProcessor::prepareSourceVideo(double durationSeconds,
                                                                       juce::String& error)
{
    return sorvane::prepareSourceVideo(sources.getCurrentSample(), sourceState.rangeStart.load(),
                                       sourceState.rangeEnd.load(), durationSeconds, readSettings(),
                                       currentTempoBpm.load(), error);
}
