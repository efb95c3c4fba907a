#pragma once

// What the reference renderer (the processor run directly) and the plug-in host test both render, so
// their outputs can be compared bit for bit.

#include <juce_audio_basics/juce_audio_basics.h>

#include <array>
#include <cmath>
#include <cstdint>

namespace sorvane::plugintest
{
struct RenderCase
{
    double sampleRate;
    int blockSize;
    bool automate;
    // JUCE 7.0.5's LV2 hosting maps a host value linearly between the port's bounds; the direct run
    // then receives the plain value that mapping gives, as the LV2 plug-in does.
    bool linearHostRanges = false;
};

inline constexpr std::array<double, 3> sampleRates{44100.0, 48000.0, 96000.0};
inline constexpr std::array<int, 7> blockSizes{32, 64, 128, 256, 512, 1024, 2048};
inline constexpr int renderSamples = 8192;
inline constexpr int automationBlockSize = 256;
inline constexpr double automationSampleRate = 48000.0;

// A tone with a deterministic noise floor, so every stage of the chain has something to work on.
inline void fillInput(juce::AudioBuffer<float>& buffer, int startSample, double sampleRate)
{
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
    {
        auto* d = buffer.getWritePointer(ch);
        for (int i = 0; i < buffer.getNumSamples(); ++i)
        {
            const auto n = static_cast<std::uint32_t>(startSample + i);
            const auto hash = (n * 2654435761u) ^ (static_cast<std::uint32_t>(ch) * 40503u);
            const float noise = static_cast<float>(hash % 2001u) / 1000.0f - 1.0f;
            const double phase =
                2.0 * juce::MathConstants<double>::pi * (220.0 + 110.0 * ch) * n / sampleRate;
            d[i] = static_cast<float>(0.4 * std::sin(phase)) + 0.05f * noise;
        }
    }
}

// The host moves one parameter per block; the same value goes to the processor run directly.
inline int automatedParameter(int block, int numParameters)
{
    return block % numParameters;
}
inline float automatedValue(int block)
{
    const double v = (block + 1) * 0.6180339887498949;
    return static_cast<float>(v - std::floor(v));
}

// Programs are selected 1, 2, ... and 0 last: selecting the program already current is no change for
// the VST3 wrapper, and a fresh instance starts at program 0.
inline int programSelectedAt(int step, int numPrograms)
{
    return (step + 1) % numPrograms;
}
inline constexpr double programSampleRate = 48000.0;
inline constexpr int programBlockSize = 512;

// Parameter values for the state round trip: away from every default.
inline float stateValue(int index)
{
    const double v = 0.37 + index * 0.2113;
    return static_cast<float>(v - std::floor(v));
}
} // namespace sorvane::plugintest
