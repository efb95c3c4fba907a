#include "transport/SourceTransport.h"
#include "transport/SourceRange.h"

#include <cmath>

namespace sorvane
{
SourceTransport::SourceTransport(TransportState& stateToUse, SourceLibrary& libraryToUse, bool isStandalone,
                                 std::function<void()> markModified)
    : state(stateToUse), library(libraryToUse), standalone(isStandalone),
      markProjectModified(std::move(markModified))
{
}

double SourceTransport::getPlayheadFraction()
{
    const auto sample = library.getCurrentSample();
    if (sample == nullptr || sample->getNumFrames() < 1)
        return 0.0;
    const auto frames = (double)sample->getNumFrames();
    return std::min(1.0, std::fmod(std::max(state.playheadSamples.load(), 0.0), frames) / frames);
}

TransportStatus SourceTransport::getStatus()
{
    if (state.playing.load())
        return TransportStatus::playing;
    if (state.restartRequested.load())
        return TransportStatus::stopped;
    const auto sample = library.getCurrentSample();
    if (sample == nullptr)
        return TransportStatus::stopped;

    // The player puts the range start on frame rangeStart x (frames - 1); as a fraction of the file
    // that is up to a frame short of rangeStart, so "at the start" allows one frame.
    const auto frames = (double)std::max<juce::int64>(sample->getNumFrames(), 1);
    return std::abs(getPlayheadFraction() - state.rangeStart.load()) * frames < 1.0 ? TransportStatus::stopped
                                                                                    : TransportStatus::paused;
}

bool SourceTransport::isOutsideRange(double fraction) const noexcept
{
    return fraction < state.rangeStart.load() || fraction >= state.rangeEnd.load();
}

bool SourceTransport::setSourceRange(double start, double end, bool loop, bool snapToZero,
                                     juce::String& error)
{
    double newStart = 0.0, newEnd = 1.0;
    if (!normaliseCreatorRange(start, end, newStart, newEnd, error))
        return false;

    if (snapToZero)
        if (const auto sample = library.getCurrentSample(); sample != nullptr && sample->getNumFrames() >= 3)
        {
            const auto snapped = snapRangeToZeroCrossings(sample->audio.getReadPointer(0),
                                                          sample->getNumFrames(), newStart, newEnd);
            newStart = snapped.start;
            newEnd = snapped.end;
        }

    state.rangeStart.store(newStart);
    state.rangeEnd.store(newEnd);
    state.looping.store(loop);
    state.zeroSnap.store(snapToZero);

    if (isOutsideRange(getPlayheadFraction()))
        seek(newStart);

    markProjectModified();
    if (rangeChanged)
        rangeChanged();
    error.clear();
    return true;
}

void SourceTransport::startPlayback()
{
    if (!standalone || library.getPublished() == nullptr)
    {
        state.playing.store(false);
        return;
    }
    if (isOutsideRange(getPlayheadFraction()))
        seek(state.rangeStart.load());
    state.playing.store(true);
    state.restartRequested.store(false);
}

void SourceTransport::seek(double fraction)
{
    if (!standalone || library.getPublished() == nullptr)
        return;
    const double start = state.rangeStart.load();
    const double last = std::max(start, state.rangeEnd.load() - 0.000000001);
    state.requestSeek(juce::jlimit(start, last, fraction));
}

void SourceTransport::setCrossfadeSelection(int itemId)
{
    static constexpr float milliseconds[] = {5.0f, 12.0f, 20.0f, 30.0f};
    const float value = juce::jlimit(5.0f, 30.0f, milliseconds[juce::jlimit(1, 4, itemId) - 1]);
    const float previous = state.crossfadeMilliseconds.exchange(value);
    if (std::abs(previous - value) > 0.000001f)
        markProjectModified();
}

SourceRangeSnapshot SourceTransport::getSnapshot()
{
    SourceRangeSnapshot s;
    s.rangeStart = state.rangeStart.load();
    s.rangeEnd = state.rangeEnd.load();
    s.playheadFraction = getPlayheadFraction();
    s.looping = state.looping.load();
    s.zeroSnap = state.zeroSnap.load();
    if (const auto sample = library.getCurrentSample())
    {
        const auto frames = (double)sample->getNumFrames();
        s.startSample = (std::int64_t)std::llround(s.rangeStart * frames);
        s.endSample = (std::int64_t)std::llround(s.rangeEnd * frames);
    }
    return s;
}
} // namespace sorvane

namespace sorvane
{
std::vector<MomentSuggestion> SourceTransport::getBestMomentSuggestions()
{
    std::vector<MomentSuggestion> result;
    const auto sample = library.getCurrentSample();
    if (sample == nullptr || !(sample->sampleRate > 0.0))
        return result;

    const double duration = (double)sample->getNumFrames() / sample->sampleRate;
    const double from = duration * state.rangeStart.load();
    const double to = duration * state.rangeEnd.load();
    for (auto moment : sample->moments)
    {
        const double start = std::max(moment.startSeconds, from);
        const double end = std::min(moment.startSeconds + moment.lengthSeconds, to);
        if (end - start < 5.0)
            continue;
        if (start != moment.startSeconds || end - start != moment.lengthSeconds)
            moment.explanation << "; clipped to the selected source range";
        moment.startSeconds = start;
        moment.lengthSeconds = end - start;
        result.push_back(std::move(moment));
    }
    return result;
}
} // namespace sorvane
