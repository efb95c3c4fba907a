#pragma once

#include <atomic>
#include <cstdint>

namespace sorvane
{
// What the message thread asks of the source player; the audio thread reads it once per block and
// alone writes the playhead back.
struct TransportState
{
    std::atomic<bool> playing{false};
    std::atomic<double> playheadSamples{0.0};
    std::atomic<double> rangeStart{0.0};
    std::atomic<double> rangeEnd{1.0};
    std::atomic<bool> looping{true};
    std::atomic<bool> zeroSnap{false};
    std::atomic<bool> restartRequested{false};
    std::atomic<float> crossfadeMilliseconds{12.0f};
    std::atomic<double> seekTarget{0.0};
    std::atomic<std::uint64_t> seekRequestCount{0};

    // Writes the target before the count, so a reader that sees the new count sees the new target.
    void requestSeek(double fraction) noexcept
    {
        seekTarget.store(fraction, std::memory_order_relaxed);
        seekRequestCount.fetch_add(1, std::memory_order_release);
    }

    void pause() noexcept
    {
        restartRequested.store(false);
        playing.store(false);
    }

    void stop() noexcept
    {
        restartRequested.store(true);
        playing.store(false);
    }
};
} // namespace sorvane
