#pragma once

#include "dsp/SorvaneEngine.h"

#include <cmath>
#include <vector>

namespace sorvane::test
{
// Every character stage off, unity gains, no level correction: the chain reduces to the tone
// filter and the output saturation.
inline DspSettings neutralSettings()
{
    DspSettings s;
    s.inputDb = 0;
    s.drive = s.crush = s.ring = s.resonance = s.glitch = s.reverse = s.delay = 0;
    s.spectralWave = s.dimension = s.fold = s.spark = s.chaos = 0;
    s.reduce = 1;
    s.feedback = 0;
    s.resDecay = 0;
    s.tone = 20000;
    s.mix = 1;
    s.outputDb = 0;
    s.matchSourceLevel = false;
    s.autoLevel = 0;
    s.resultLevelDb = 0;
    return s;
}

// Every stage clearly audible, fracture events running, a synced delay.
inline DspSettings everyStageActive()
{
    DspSettings s;
    s.inputDb = 3;
    s.drive = 0.6f;
    s.crush = 0.5f;
    s.reduce = 4;
    s.ring = 0.5f;
    s.ringFreq = 310;
    s.resonance = 0.6f;
    s.resFreq = 660;
    s.resDecay = 0.7f;
    s.glitch = 0.9f;
    s.division = 3;
    s.reverse = 0.5f;
    s.delay = 0.6f;
    s.delaySync = 10;
    s.feedback = 0.6f;
    s.tone = 9000;
    s.spectralWave = 0.7f;
    s.spectralRate = 2.5f;
    s.dimension = 0.6f;
    s.fold = 0.5f;
    s.spark = 0.6f;
    s.chaos = 0.6f;
    s.mix = 1;
    s.matchSourceLevel = true;
    s.audioQuality = 1;
    return s;
}

// A deterministic broadband test signal (sum of sines plus a little pseudo-noise).
inline std::vector<float> testSignal(int numSamples, double sampleRate, int channel = 0,
                                     float amplitude = 0.5f)
{
    std::vector<float> x((size_t)numSamples);
    std::uint32_t state = 0x12345678u + (std::uint32_t)channel;
    for (int i = 0; i < numSamples; ++i)
    {
        state = state * 1664525u + 1013904223u;
        const double t = i / sampleRate;
        const double noise = ((state >> 8) / 16777216.0 - 0.5) * 0.2;
        x[(size_t)i] = amplitude * (float)(0.6 * std::sin(2 * M_PI * 220.0 * t + channel) +
                                           0.3 * std::sin(2 * M_PI * 1375.0 * t) + noise);
    }
    return x;
}

inline juce::AudioBuffer<float> bufferFrom(const std::vector<float>& left, const std::vector<float>& right)
{
    juce::AudioBuffer<float> b(2, (int)left.size());
    for (int i = 0; i < (int)left.size(); ++i)
    {
        b.setSample(0, i, left[(size_t)i]);
        b.setSample(1, i, right[(size_t)i]);
    }
    return b;
}

// Runs a whole buffer through the engine in blocks of the given sizes (cycled).
inline void processInBlocks(SorvaneEngine& engine, juce::AudioBuffer<float>& audio, const DspSettings& s,
                            double bpm, const std::vector<int>& blockSizes)
{
    int start = 0;
    size_t k = 0;
    while (start < audio.getNumSamples())
    {
        const int n = std::min(blockSizes[k++ % blockSizes.size()], audio.getNumSamples() - start);
        juce::AudioBuffer<float> view(audio.getArrayOfWritePointers(), audio.getNumChannels(), start, n);
        engine.process(view, s, bpm);
        start += n;
    }
}
} // namespace sorvane::test
