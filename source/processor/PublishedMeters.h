#pragma once

#include "dsp/EngineMeters.h"

#include <atomic>
#include <cstddef>

namespace sorvane
{
// The audio thread's meter values, published field by field for the editor's timer. A reader may
// mix fields from two blocks, which is fine for display.
class PublishedMeters
{
public:
    void store(const EngineMeters& m) noexcept
    {
        for (size_t i = 0; i < numFloats; ++i)
            floats[i].store(m.*floatFields[i], std::memory_order_relaxed);
        fractureEvents.store(m.fractureEvents, std::memory_order_relaxed);
    }

    // Zeroes the ten level fields; the event count keeps its value.
    void clearLevels() noexcept
    {
        for (auto& f : floats)
            f.store(0.0f, std::memory_order_relaxed);
    }

    EngineMeters load() const noexcept
    {
        EngineMeters m;
        for (size_t i = 0; i < numFloats; ++i)
            m.*floatFields[i] = floats[i].load(std::memory_order_relaxed);
        m.fractureEvents = fractureEvents.load(std::memory_order_relaxed);
        return m;
    }

private:
    static constexpr size_t numFloats = 10;
    static constexpr float EngineMeters::*floatFields[numFloats] = {
        &EngineMeters::spectralRateLevel, &EngineMeters::resonatorPitchLevel, &EngineMeters::fractureFlash,
        &EngineMeters::reverseActivity,   &EngineMeters::delayMotion,         &EngineMeters::dimensionMotion,
        &EngineMeters::outputPeak,        &EngineMeters::sparkPeak,           &EngineMeters::chaosPeak,
        &EngineMeters::levelGain};

    std::atomic<float> floats[numFloats]{};
    std::atomic<std::int64_t> fractureEvents{0};
};
} // namespace sorvane
