#pragma once

#include "capture/ProcessedCapture.h"

#include <juce_core/juce_core.h>

namespace sorvane
{
// The capture comment written into every exported WAV.
juce::String captureCommentFor(const CaptureDescription& description);

// Writes the level-matched capture to file, synchronously. The file appears complete or not at all:
// the audio goes to a temporary file beside it, which replaces it in one step.
bool exportCaptureToFile(const ProcessedCapture& capture, const juce::File& file, juce::String& error);
} // namespace sorvane
