#include "processor/TransportTracker.h"

#include <limits>

namespace sorvane
{
void TransportTracker::clear() noexcept
{
    expectedTimeInSamples = 0;
    expectedTimeValid = false;
    wasPlaying = false;
}

bool TransportTracker::update(const std::optional<Position>& position, bool nonRealtime, bool resetPending,
                              int blockLength) noexcept
{
    if (!position.has_value())
    {
        expectedTimeValid = false;
        lastNonRealtime = nonRealtime;
        return resetPending;
    }

    const bool playing = position->playing;
    const auto& t = position->timeInSamples;
    const bool continuous =
        playing && wasPlaying && t.has_value() && expectedTimeValid && *t == expectedTimeInSamples;

    // A pending reset that coincides with a realtime/offline switch during seamless playback is dropped.
    const bool reset =
        (resetPending && !continuous) || (resetPending && continuous && nonRealtime == lastNonRealtime) ||
        (playing && !wasPlaying) || (playing && t.has_value() && !continuous && expectedTimeValid);

    expectedTimeValid = false;
    if (playing && t.has_value() && *t <= std::numeric_limits<std::int64_t>::max() - blockLength)
    {
        expectedTimeInSamples = *t + blockLength;
        expectedTimeValid = true;
    }
    wasPlaying = playing;
    lastNonRealtime = nonRealtime;
    return reset;
}
} // namespace sorvane
