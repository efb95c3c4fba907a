#pragma once

#include <juce_audio_devices/juce_audio_devices.h>

namespace knurlkit
{
// Keeps the stand-alone app's audio device running without the user's help. When no device runs
// (none could be opened at start, or its JACK server went away), it looks every interval for the
// device the user chose (the manager's saved setup) and reopens it once it is listed again. With
// nothing chosen it takes a running JACK server, else the manager's default device. Everything runs
// on the message thread; the audio thread never waits for it.
class AudioDeviceWatcher : private juce::Timer
{
public:
    static constexpr int defaultIntervalMs = 1000;

    AudioDeviceWatcher(juce::AudioDeviceManager& devices, int numOutputChannels,
                       int intervalMs = defaultIntervalMs);
    ~AudioDeviceWatcher() override;

    static bool isDeviceRunning(juce::AudioDeviceManager& devices);

    // One look: reopens the device when none runs and the chosen one is available. Returns true when
    // a device runs afterwards; otherwise error says why not.
    bool checkNow(juce::String& error);

    int getReopenCount() const noexcept { return reopenCount; }

private:
    void timerCallback() override;
    std::unique_ptr<juce::XmlElement> chosenSetup() const;
    juce::AudioIODeviceType* rescan(const juce::String& typeName);

    juce::AudioDeviceManager& devices;
    const int outputs;
    int reopenCount = 0;

    JUCE_DECLARE_NON_COPYABLE(AudioDeviceWatcher)
};
} // namespace knurlkit
