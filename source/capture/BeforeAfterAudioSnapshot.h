#pragma once

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_data_structures/juce_data_structures.h>

#include <cstdint>

namespace sorvane
{
// A frozen before/after window: the dry input and the processed output of the same moment, with the
// exact sound, tempo and range that made it.
struct BeforeAfterAudioSnapshot
{
    juce::AudioBuffer<float> before;
    juce::AudioBuffer<float> after;
    double sampleRate = 44100.0;
    double tempo = 120.0;
    std::int32_t bars = 4;
    double rangeStart = 0.0;
    double rangeEnd = 1.0;
    bool looping = true;
    juce::ValueTree parameterState;
};
} // namespace sorvane
