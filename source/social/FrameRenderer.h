#pragma once

#include "social/SocialExportOptions.h"

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_graphics/juce_graphics.h>

namespace sorvane
{
namespace socialColours
{
inline const juce::Colour backgroundDark{0xFF040519u};
inline const juce::Colour backgroundLight{0xFF190F46u};
inline const juce::Colour text{0xFFF4EBFFu};
inline const juce::Colour cyan{0xFF12E5EDu};
inline const juce::Colour magenta{0xFFFF23C5u};
inline const juce::Colour violet{0xFF7C37FFu};

// A fraction a becomes the alpha byte round(a * 255), clamped.
juce::Colour withAlphaFraction(juce::Colour colour, double a);
} // namespace socialColours

// The largest magnitude in the first 50 ms, times 1.7, clamped to 0..1.
float coverReactiveLevel(const juce::AudioBuffer<float>& audio, double sampleRate);

float coverVisualEnergy(const ScopeVisualInputs& visualInputs);

// The cover: the first frame of the animation, at the aspect profile's size.
juce::Image renderFrame(const juce::AudioBuffer<float>& audio, double sampleRate,
                        const ScopeVisualInputs& visualInputs, const SocialExportOptions& options);

// Written beside file and renamed over it, so a failed write leaves nothing half-written.
bool writePng(const juce::Image& image, const juce::File& file);
} // namespace sorvane
