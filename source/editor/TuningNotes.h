#pragma once

#include <juce_core/juce_core.h>

namespace sorvane
{
// The nearest note of a frequency with its octave (middle C is "C4"), followed by the deviation in
// cents when it is at least 0.05: 445 Hz gives "A4 +19.6c". Empty for anything but a finite, positive
// frequency.
juce::String tuningNote(double hz);

// Reads a note ("A4", "c#3", "Bb-1", "A4 +12.5c"; octaves -2 to 10) or a frequency ("440", "440 Hz").
// Does not check any parameter range.
bool parseTuning(const juce::String& text, double& hz, juce::String& error);
} // namespace sorvane
