#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

namespace sorvane
{
// What a generation did, for the editor's report line.
struct TresselGenerationResult
{
    int selectorIndex = 0;       // the shape selector as clamped, 0 = AUTO
    int resolvedPersonality = 0; // the character actually used, 1..12
    bool sourceAware = false;    // the analysis of the loaded source chose the personality
    int sourceFamily = 0;
    bool reducedMotion = false;
};

// "TRESSEL / GHOST / A ACTIVE / ..." as the status line reports a generation.
juce::String describeTresselGeneration(const TresselGenerationResult& result, bool daily);

// The starting sound of a regeneration with a changed shape: the session's baseline, except that current
// locks, levels, macros and tempo win, so only the character changes.
juce::ValueTree composeRegenerationBaseline(const juce::ValueTree& sessionBaseline,
                                            const juce::ValueTree& captured,
                                            const juce::StringArray& effectiveLocks,
                                            const juce::Array<juce::AudioProcessorParameter*>& parameters);
} // namespace sorvane
