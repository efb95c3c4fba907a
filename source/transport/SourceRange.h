#pragma once

#include <juce_core/juce_core.h>

namespace sorvane
{
// Accepts a range of a source as fractions of the file: ordered, finite, inside 0..1 and at least
// a millionth long.
bool normaliseCreatorRange(double start, double end, double& outStart, double& outEnd, juce::String& error);

struct SnappedRange
{
    double start = 0.0;
    double end = 1.0;
};

// Moves both ends of a range to the nearest zero crossing of the signal within 2,048 frames;
// needs at least 3 frames. Equal distances favour the earlier crossing.
SnappedRange snapRangeToZeroCrossings(const float* samples, juce::int64 numFrames, double start, double end);
} // namespace sorvane
