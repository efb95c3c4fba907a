#pragma once

#include <juce_core/juce_core.h>

#include <memory>
#include <vector>

class ParameterKnob;
class SorvaneAudioProcessor;

// The knobs' lock toggles are the individual mutation locks (bits 0 to 23 of the processor's lock word);
// group and focus bits belong to the discover-and-protect panel and are kept.
namespace sorvane
{
using KnobList = std::vector<std::unique_ptr<ParameterKnob>>;

// Parameter IDs of the locked knobs, in knob order.
juce::StringArray lockedParameterIds(const KnobList& knobs);

// Writes the knobs' locks into the processor; marks the project changed when the word changes.
void storeKnobLocks(SorvaneAudioProcessor& processor, const KnobList& knobs);

// Sets every lock toggle from the processor's individual lock bits.
void loadKnobLocks(const SorvaneAudioProcessor& processor, const KnobList& knobs);
} // namespace sorvane
