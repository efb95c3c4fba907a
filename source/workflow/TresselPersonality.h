#pragma once

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <vector>

namespace sorvane
{
enum TresselPersonality : int
{
    tresselAuto = 0,
    tresselBroken,
    tresselMachine,
    tresselGhost,
    tresselMelt,
    tresselVoid,
    tresselPanic,
    tresselGlass,
    tresselDrunk,
    tresselCorrupt,
    tresselTotalFailure,
    tresselUnknown, // "???"
    tresselEnhance
};

constexpr int numTresselPersonalities = 13;

struct TresselPersonalityProfile
{
    int id = 0;
    juce::String name;
    float amountLow = 0.0f;
    float amountHigh = 0.0f;
    std::uint32_t seedSalt = 0;
    std::vector<juce::String> focusIds;
};

// The 13 profiles in id order; built once, on first use.
const std::array<TresselPersonalityProfile, numTresselPersonalities>& getTresselPersonalityProfiles();

// AUTO (0) and ??? (11) pick a character 1 to 10 from the seed; every other id stands for itself.
int resolvePersonality(int personality, std::uint32_t seed) noexcept;

// The seed everybody gets on a given local date ("%Y-%m-%d").
std::uint32_t dailyTresselSeed(const juce::String& isoDate);
std::uint32_t dailyTresselSeed(juce::Time localTime);
} // namespace sorvane
