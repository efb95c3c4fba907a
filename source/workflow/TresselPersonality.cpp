#include "workflow/TresselPersonality.h"
#include "workflow/StableHash.h"

namespace sorvane
{
const std::array<TresselPersonalityProfile, numTresselPersonalities>& getTresselPersonalityProfiles()
{
    static const std::array<TresselPersonalityProfile, numTresselPersonalities> profiles{{
        {0, "AUTO", 0.08f, 0.72f, 0x51F15E1Du, {}},
        {1, "BROKEN", 0.16f, 0.88f, 0x0B70C3D1u, {"crush", "reduce", "glitch", "reverse"}},
        {2, "MACHINE", 0.10f, 0.72f, 0x4D414348u, {"ring", "ringFreq", "division", "spectralRate"}},
        {3, "GHOST", 0.08f, 0.64f, 0x47484F53u, {"resonance", "resDecay", "delay", "dimension"}},
        {4, "MELT", 0.12f, 0.80f, 0x4D454C54u, {"drive", "tone", "spectralWave", "fold"}},
        {5, "VOID", 0.10f, 0.76f, 0x564F4944u, {"reverse", "delay", "feedback", "dimension"}},
        {6, "PANIC", 0.22f, 0.94f, 0x50414E49u, {"glitch", "division", "spark", "chaos"}},
        {7, "GLASS", 0.08f, 0.66f, 0x474C4153u, {"ring", "resonance", "tone", "spark"}},
        {8, "DRUNK", 0.14f, 0.82f, 0x4452554Eu, {"delayTime", "spectralRate", "dimension", "chaos"}},
        {9, "CORRUPT", 0.18f, 0.90f, 0x434F5252u, {"crush", "glitch", "fold", "spark"}},
        {10,
         "TOTAL FAILURE",
         0.30f,
         1.00f,
         0x544F5441u,
         {"drive", "reduce", "glitch", "reverse", "feedback", "fold"}},
        {11, "???", 0.08f, 0.96f, 0x3F3F3F3Fu, {}},
        {12, "ENHANCE", 0.00f, 1.00f, 0x454E4841u, {"drive", "tone", "dimension", "spectralWave", "delay"}},
    }};
    return profiles;
}

int resolvePersonality(int personality, std::uint32_t seed) noexcept
{
    if (personality != tresselAuto && personality != tresselUnknown)
        return personality;

    std::uint32_t d = seed ^ (personality == tresselUnknown ? 0x3F3F3F3Fu : 0x51F15E1Du);
    d ^= d >> 16;
    d *= 0x7FEB352Du;
    d ^= d >> 15;
    return (int)(d % 10u) + 1;
}

std::uint32_t dailyTresselSeed(const juce::String& isoDate)
{
    return (std::uint32_t)stableHash("SORVANE-DAILY-V1:" + isoDate);
}

std::uint32_t dailyTresselSeed(juce::Time localTime)
{
    return dailyTresselSeed(localTime.formatted("%Y-%m-%d"));
}
} // namespace sorvane
