#pragma once

#include "social/SocialExportOptions.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <vector>

namespace sorvane
{
struct PreviewAnalysis
{
    static constexpr int bytesPerFrame = 96;
    static constexpr int spectrumBytes = 32;
    static constexpr int waveformBytes = 64;

    int hopFrames = 1;
    double hopSeconds = 0.1;
    int frames = 0;
    std::vector<juce::uint8> data; // frames * 96 bytes: 32 spectrum, then 64 waveform
};

// Bounded to about 6,000 frames whatever the length; at least 0.1 s apart.
PreviewAnalysis analysePreviewAudio(const juce::AudioBuffer<float>& audio, double sampleRate);

juce::String htmlEscape(const juce::String& text);

// The self-contained page that plays "sorvane-teaser.wav" from its own folder.
juce::String createPreviewHtml(const SocialExportOptions& options, const juce::AudioBuffer<float>& audio,
                               double sampleRate);

// Every line end becomes CR LF; the file is written beside and renamed over the target.
bool writePreviewHtml(const juce::String& page, const juce::File& file);
} // namespace sorvane
