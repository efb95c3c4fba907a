#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

namespace sorvane
{
// Explains in a few lines what the auditioned sound changed against the Tressel baseline, grouped
// as TONE, RHYTHM and SPACE and measured in each parameter's normalised range.
juce::String describeTresselChanges(const juce::ValueTree& baseline, const juce::ValueTree& current,
                                    const juce::Array<juce::AudioProcessorParameter*>& parameters);
} // namespace sorvane
