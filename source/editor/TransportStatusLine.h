#pragma once

#include <juce_graphics/juce_graphics.h>

namespace sorvane
{
// What the stand-alone status line is composed from.
struct TransportStatusInput
{
    bool sourceLoaded = false;
    bool playing = false;
    bool pausedAwayFromStart = false;
    juce::String sourceName;
    double rangeStart = 0.0, rangeEnd = 1.0;
    bool looping = true;
    // Whether an audio device still calls the processor; without one nothing plays, whatever the
    // transport says.
    bool audioRunning = true;
};

struct TransportStatusLine
{
    juce::String text;
    juce::Colour colour;
};

// What the stand-alone status line says when no audio device calls the processor.
inline constexpr const char* noAudioDeviceStatus =
    "NO AUDIO DEVICE RUNNING / CHECK OPTIONS > AUDIO/MIDI SETTINGS";

TransportStatusLine composeTransportStatus(const TransportStatusInput& in);

// Appends a transient message, if any, to a status text.
juce::String withTransientMessage(const juce::String& text, const juce::String& message, bool showing);
} // namespace sorvane
