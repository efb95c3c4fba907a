#pragma once

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>

namespace sorvane
{
enum class SocialBackground : std::int32_t
{
    TresselRings = 0,
    SpectralFlux = 1,
    VectorBloom = 2
};

struct SocialExportOptions
{
    juce::String title;
    juce::String creator;
    juce::String personality;
    juce::String dna;
    std::int32_t aspect = 0;
    std::int32_t duration = 0;
    SocialBackground background = SocialBackground::TresselRings;
    double rangeStart = 0.0;
    double rangeEnd = 1.0;
    bool loopEnabled = false;
    bool effectedOnly = false;
};

struct SocialAspectProfile
{
    const char* label;
    int width;
    int height;
};

// Codes outside 0..2 fall to the last profile, as the page's ratio text does.
SocialAspectProfile socialAspectProfile(std::int32_t aspect) noexcept;

// Unknown codes draw and are named as the rings, the first background.
juce::String socialBackgroundDisplayName(SocialBackground background);

// The editor's smoothed visual state, copied by value into an export job.
struct ScopeVisualInputs
{
    static constexpr int numParameters = 24;
    static constexpr int numMeters = 9;

    enum Parameter
    {
        input,
        drive,
        crush,
        reduce,
        ring,
        ringFreq,
        resonance,
        resFreq,
        resDecay,
        glitch,
        division,
        reverse,
        delay,
        delayTime,
        feedback,
        tone,
        spectralWave,
        spectralRate,
        dimension,
        fold,
        spark,
        chaos,
        output,
        mix
    };

    enum Meter
    {
        spectralRateLevel,
        resonatorPitchLevel,
        fractureFlash,
        reverseActivity,
        delayMotion,
        dimensionMotion,
        outputPeak,
        sparkPeak,
        chaosPeak
    };

    std::array<float, numParameters> parameters{};
    std::array<float, numMeters> meters{};

    float parameter(Parameter p) const noexcept { return parameters[static_cast<size_t>(p)]; }
    float meter(Meter m) const noexcept { return meters[static_cast<size_t>(m)]; }

    // Every value moves 22 % of the way towards its current value, once per refresh tick.
    void smoothTowards(const ScopeVisualInputs& current) noexcept;
};
} // namespace sorvane
