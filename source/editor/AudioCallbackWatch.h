#pragma once

#include <cstdint>

namespace sorvane
{
// Tells from the processor's audio-callback count whether an audio device still calls the processor.
// The transport's own flags cannot: they say PLAYING just as happily when nothing plays.
class AudioCallbackWatch
{
public:
    // Longer than any device block: an 8192-frame block at 22.05 kHz lasts about 370 ms.
    static constexpr double stalledAfterMilliseconds = 500.0;

    // Feeds the count seen at nowMilliseconds; returns whether callbacks still arrive. The first
    // call only starts the clock, so a watch that was not fed for a while does not judge at once.
    bool update(std::uint64_t callbackCount, double nowMilliseconds) noexcept
    {
        if (!started || callbackCount != lastCount)
        {
            started = true;
            lastCount = callbackCount;
            lastAdvanceMilliseconds = nowMilliseconds;
        }
        running = nowMilliseconds - lastAdvanceMilliseconds < stalledAfterMilliseconds;
        return running;
    }

    bool isRunning() const noexcept { return running; }

private:
    bool started = false;
    bool running = true;
    std::uint64_t lastCount = 0;
    double lastAdvanceMilliseconds = 0.0;
};
} // namespace sorvane
