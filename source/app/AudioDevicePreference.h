#pragma once

#include <juce_audio_devices/juce_audio_devices.h>

#include <memory>

namespace sorvane
{
// Output devices of a running JACK server (the clients that take audio), empty when no server runs
// or libjack is missing. The scan connects as a short-lived client and never starts a server.
juce::StringArray findRunningJackOutputDevices();

// When nothing was saved and a JACK server runs, the device setup that selects JACK for outputs
// only; otherwise nullptr and JUCE's own default choice stands. JACK's own "system" device wins
// over other clients.
std::unique_ptr<juce::XmlElement> jackDeviceSetupIfPreferred(bool audioSetupSaved,
                                                             const juce::StringArray& jackOutputDevices);

// Applies the choice above to the settings the stand-alone holder restores its device from.
// Returns true when JACK was chosen.
bool preferJackWhenRunning(juce::PropertySet& settings);
} // namespace sorvane
