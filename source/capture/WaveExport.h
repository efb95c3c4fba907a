#pragma once

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_core/juce_core.h>

#include <atomic>

namespace sorvane
{
class CheckedFileOutputStream;

// Peak-protected (never above -1 dBFS, never raised) 24-bit WAV of the buffer, with the comment
// stored as the file's "CMNT" text. A set cancel flag returns false with an empty error.
bool writeNormalisedWave(const juce::File& file, juce::AudioBuffer<float> buffer, double sampleRate,
                         std::atomic<float>* progress, const std::atomic<bool>* cancel, juce::String& error,
                         const juce::String& comment);

// The same into a stream the caller opened and publishes: a failed write says "Could not encode the
// processed WAV file." and the stream keeps the reason. The stream is not finished.
bool writeNormalisedWave(CheckedFileOutputStream& stream, juce::AudioBuffer<float> buffer, double sampleRate,
                         std::atomic<float>* progress, const std::atomic<bool>* cancel, juce::String& error,
                         const juce::String& comment);

// "Sorvane sourceRangeStart=0.250000000; sourceRangeEnd=0.750000000; sourceRangeMode=loop"
juce::String makeCaptureComment(double rangeStart, double rangeEnd, bool looping);

inline constexpr float wavePeakCeiling = 0.8912509f; // -1 dBFS
} // namespace sorvane
