#pragma once

#include "presets/FactoryPresets.h"
#include "workflow/TresselSession.h"

#include <juce_audio_processors/juce_audio_processors.h>

namespace sorvane
{
// Parameters nudged for the variants beyond a preset's named variations, in draw order.
inline constexpr const char* factoryDriftIds[] = {"glitch",       "reverse",   "resonance", "delay",
                                                  "spectralWave", "dimension", "chaos"};
inline constexpr float factoryDriftWidth = 0.18f;

// The variant function a factory preset hands to the Tressel generator: call k returns the preset's
// variation k on a copy of the baseline, or a seeded drift once the variations run out. Each function
// made counts its calls from 0. The parameters must outlive the function.
TresselVariantFunction
makeFactoryVariationFunction(const FactoryPreset& preset,
                             const juce::Array<juce::AudioProcessorParameter*>& parameters);
} // namespace sorvane
