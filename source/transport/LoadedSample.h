#pragma once

#include "transport/MomentSuggestions.h"
#include "transport/SourceAnalysis.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <algorithm>
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
    // The player maps range fractions onto frames 0..this, so a fraction of 1 is the last frame.
    juce::int64 getLastFrameIndex() const noexcept { return std::max<juce::int64>(getNumFrames(), 1) - 1; }
};
} // namespace sorvane
