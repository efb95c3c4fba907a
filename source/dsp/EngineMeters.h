#pragma once

#include <cstdint>

namespace sorvane
{
// What one engine block reports for the editor's displays.
struct EngineMeters
{
    float spectralRateLevel = 0.0f;
    float resonatorPitchLevel = 0.0f;
    float fractureFlash = 0.0f;
    float reverseActivity = 0.0f;
    float delayMotion = 0.0f;
    float dimensionMotion = 0.0f;
    float outputPeak = 0.0f;
    float sparkPeak = 0.0f;
    float chaosPeak = 0.0f;
    float levelGain = 1.0f;
    std::int64_t fractureEvents = 0;
};
} // namespace sorvane
