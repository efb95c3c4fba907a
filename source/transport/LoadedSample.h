#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

namespace sorvane
{
// A decoded source, immutable once published. The audio thread reads it through a raw pointer
// whose lifetime the publication slots guarantee.
struct LoadedSample
{
    juce::AudioBuffer<float> audio;
    double sampleRate = 0.0;
    juce::String name;

    juce::int64 getNumFrames() const noexcept { return audio.getNumSamples(); }
};
} // namespace sorvane
