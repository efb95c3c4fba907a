#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <array>
#include <atomic>
#include <cstdint>

namespace sorvane
{
// What the trait analysis measured in a source and which family, if any, it resembles. All numbers
// stay 0 when the audio was invalid, silent or the analysis was cancelled.
struct SourceTraits
{
    std::int32_t family = 0; // 0 none (not confident), 1 DRUMS, 2 BASS, 3 VOCAL, 4 PAD, 5 GUITAR, 6 FULL MIX
    float confidence = 0;
    std::int32_t recommendedPersonality = 0; // Tressel personality id, 0 when family is 0
    float lowShare = 0, midShare = 0, highShare = 0;
    float transientStrength = 0;
    float levelVariation = 0;
    float stereoWidth = 0;
    float crestFactor = 0;
    float zeroCrossingRate = 0;
    juce::String summary;
};

struct SourceFamilyScore
{
    std::int32_t family = 0;
    double score = 0;
};

// Reads at most about a million frames (decimating longer sources) and polls `cancel` (may be null)
// every 4,096 analysed samples.
SourceTraits analyseSource(const juce::AudioBuffer<float>& audio, double sampleRate,
                           const std::atomic<bool>* cancel);

// The six family scores for measured traits, adjustments applied, in family order 1 to 6.
std::array<SourceFamilyScore, 6> scoreSourceFamilies(const SourceTraits& traits);

// Sets confidence, family, personality and summary of measured traits from the best and second
// best family scores.
void classifySourceTraits(SourceTraits& traits, std::int32_t bestFamily, double bestScore,
                          double secondScore);

// "DRUMS" ... "FULL MIX"; "UNCERTAIN" for any other number.
juce::String sourceFamilyLabel(std::int32_t family);

// 1 to 4 map to the same personality id, 5 to GLASS (7), 6 to CORRUPT (9), anything else to 0.
std::int32_t personalityForFamily(std::int32_t family);
} // namespace sorvane
