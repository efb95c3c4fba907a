#pragma once

#include <cstdint>
#include <optional>

namespace sorvane
{
// Decides, block by block, when the host's transport makes the engine start afresh: a pending
// host reset, transport start, or a jump (for example a loop seam).
class TransportTracker
{
public:
    struct Position
    {
        bool playing = false;
        std::optional<std::int64_t> timeInSamples;
    };

    void clear() noexcept;

    // Returns true when the engine must be reset before this block.
    bool update(const std::optional<Position>& position, bool nonRealtime, bool resetPending,
                int blockLength) noexcept;

    bool isExpectedTimeValid() const noexcept { return expectedTimeValid; }
    std::int64_t getExpectedTimeInSamples() const noexcept { return expectedTimeInSamples; }
    bool wasPlayingLastBlock() const noexcept { return wasPlaying; }

private:
    std::int64_t expectedTimeInSamples = 0;
    bool expectedTimeValid = false;
    bool wasPlaying = false;
    bool lastNonRealtime = false;
};
} // namespace sorvane
