#pragma once

#include "workflow/TresselSession.h"

#include <juce_audio_processors/juce_audio_processors.h>

namespace sorvane
{
// The variant builder of a generation. `selectorIndex` (0..12) picks the branch: "???" mutates and drifts
// the focus, ENHANCE nudges a few tone controls, every other index shapes the sound toward the resolved
// personality's targets. Locked ids never change and, where a step is skipped, consume no draw.
TresselVariantFunction
makeTresselVariantFunction(int selectorIndex, int resolvedPersonality, const juce::StringArray& locks,
                           const juce::Array<juce::AudioProcessorParameter*>& parameters);
} // namespace sorvane
