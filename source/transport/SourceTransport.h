#pragma once

#include "transport/SourceLibrary.h"
#include "transport/TransportState.h"

#include <functional>

namespace sorvane
{
struct SourceRangeSnapshot
{
    double rangeStart = 0.0;
    double rangeEnd = 1.0;
    double playheadFraction = 0.0;
    bool looping = true;
    bool zeroSnap = false;
    std::int64_t startSample = 0;
    std::int64_t endSample = 0;
};

// What the transport is doing as the user sees it. Paused means halted away from the range start;
// halted at the start, or with a stop not yet taken up by the audio thread, is stopped.
enum class TransportStatus
{
    stopped,
    paused,
    playing
};

// The message thread's side of the source player: range, play, pause, stop, seek and fade length.
// Nothing plays outside the stand-alone application.
class SourceTransport
{
public:
    SourceTransport(TransportState& state, SourceLibrary& library, bool standalone,
                    std::function<void()> markProjectModified);

    bool setSourceRange(double start, double end, bool loop, bool snapToZero, juce::String& error);
    void startPlayback();
    void pause() noexcept { state.pause(); }
    void stop() noexcept { state.stop(); }
    void seek(double fraction);
    // Fade selector item ids 1..4 = 5, 12, 20, 30 ms.
    void setCrossfadeSelection(int itemId);
    double getPlayheadFraction();
    TransportStatus getStatus();
    SourceRangeSnapshot getSnapshot();
    // The current source's suggestions clipped to the range; those left shorter than 5 s are dropped.
    std::vector<MomentSuggestion> getBestMomentSuggestions();
    // Told after every accepted range change. Set once, before use.
    void setRangeChangedCallback(std::function<void()> callback) { rangeChanged = std::move(callback); }

private:
    bool isOutsideRange(double fraction) const noexcept;

    TransportState& state;
    SourceLibrary& library;
    const bool standalone;
    std::function<void()> markProjectModified;
    std::function<void()> rangeChanged;
};
} // namespace sorvane
