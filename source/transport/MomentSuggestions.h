#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace sorvane
{
// One proposed region of the source and the metrics that ranked it.
struct MomentSuggestion
{
    double startSeconds = 0;
    double lengthSeconds = 0;
    float score = 0;
    float levelScore = 0, contrastScore = 0, transientScore = 0, noveltyScore = 0, headroomScore = 0;
    juce::String explanation;
};

// How the moment search slides over a source of the given length, in frames.
struct MomentWindowLayout
{
    std::int64_t windowFrames = 0;
    std::int64_t hopFrames = 0;
    std::int64_t minimumFrames = 0; // shorter windows (at the end of the source) are not evaluated
};

// Sources shorter than five seconds have no windows at all (all fields 0).
MomentWindowLayout momentWindowLayout(std::int64_t frames, double sampleRate);

// Every window's suggestion in start order (near-clipping windows give none); empty when the input is
// invalid, too short or `cancel` (may be null) is set.
std::vector<MomentSuggestion> collectMomentCandidates(const juce::AudioBuffer<float>& audio,
                                                      double sampleRate, const std::atomic<bool>* cancel);

// Best first (equal scores: earlier start first), dropping any candidate that overlaps a kept one,
// at most `maximumCount`.
std::vector<MomentSuggestion> selectBestMoments(std::vector<MomentSuggestion> candidates, int maximumCount);

// Up to `maximumCount` non-overlapping regions of 5 to 15 seconds, best first.
std::vector<MomentSuggestion> suggestBestMoments(const juce::AudioBuffer<float>& audio, double sampleRate,
                                                 int maximumCount, const std::atomic<bool>* cancel);
} // namespace sorvane
