#pragma once

#include "transport/MomentSuggestions.h"
#include "transport/SourceAnalysis.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <vector>

namespace sorvane
{
// A decoded source, immutable once published. The audio thread reads it through a raw pointer
// whose lifetime the publication slots guarantee; everyone else holds a shared reference.
struct LoadedSample
{
    juce::AudioBuffer<float> audio;
    double sampleRate = 0.0;
    juce::String name;
    juce::String path;
    juce::String fingerprint;
    SourceTraits traits;
    std::vector<MomentSuggestion> moments;

    juce::int64 getNumFrames() const noexcept { return audio.getNumSamples(); }
};
} // namespace sorvane
