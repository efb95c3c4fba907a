#pragma once

#include <cstdint>

namespace sorvane
{
// One block's worth of sound settings in engine units (percent already turned into 0..1, choices
// into indices, macros folded in).
struct DspSettings
{
    float inputDb = 0.0f;
    float drive = 0.0f;
    float crush = 0.0f;
    std::int32_t reduce = 1;
    float ring = 0.0f;
    float ringFreq = 220.0f;
    float resonance = 0.0f;
    float resFreq = 440.0f;
    float resDecay = 0.5f;
    float glitch = 0.0f;
    std::int32_t division = 2;
    float reverse = 0.0f;
    float delay = 0.0f;
    float delayTimeMs = 180.0f;
    std::int32_t delaySync = 0;
    float feedback = 0.25f;
    float tone = 12000.0f;
    float spectralWave = 0.0f;
    float spectralRate = 0.4f;
    float dimension = 0.0f;
    float fold = 0.0f;
    float spark = 0.0f;
    float chaos = 0.0f;
    float mix = 1.0f;
    float outputDb = 0.0f;
    bool matchSourceLevel = false;
    float resultLevelDb = 0.0f;
    std::int32_t autoLevel = 0;
    std::int32_t audioQuality = 1;
};
} // namespace sorvane
