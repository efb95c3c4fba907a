#include "app/AudioDeviceWatcher.h"

#include "app/AudioDevicePreference.h"

#include <algorithm>

namespace knurlkit
{
namespace
{
juce::String outputNameOf(const juce::XmlElement& setup)
{
    // The manager writes "audioDeviceName" when input and output are one device.
    const auto both = setup.getStringAttribute("audioDeviceName");
    return both.isNotEmpty() ? both : setup.getStringAttribute("audioOutputDeviceName");
}

bool lists(const juce::AudioIODeviceType& type, const juce::String& outputName)
{
    for (const auto& name : type.getDeviceNames(false))
        if (name.trim().equalsIgnoreCase(outputName.trim()))
            return true;
    return false;
}
} // namespace

AudioDeviceWatcher::AudioDeviceWatcher(juce::AudioDeviceManager& deviceManager, int numOutputChannels,
                                       int intervalMs)
    : devices(deviceManager), outputs(numOutputChannels)
{
    startTimer(intervalMs);
}

AudioDeviceWatcher::~AudioDeviceWatcher()
{
    stopTimer();
}

bool AudioDeviceWatcher::isDeviceRunning(juce::AudioDeviceManager& deviceManager)
{
    // JUCE closes a JACK device whose server shut down but keeps it as the current device.
    auto* device = deviceManager.getCurrentAudioDevice();
    return device != nullptr && device->isOpen() && device->isPlaying();
}

void AudioDeviceWatcher::timerCallback()
{
    juce::String ignored; // the editor says what the user needs to know: no device runs
    checkNow(ignored);
}

std::unique_ptr<juce::XmlElement> AudioDeviceWatcher::chosenSetup() const
{
    if (auto saved = devices.createStateXml())
        return saved;
    return sorvane::jackDeviceSetupIfPreferred(false, sorvane::findRunningJackOutputDevices());
}

juce::AudioIODeviceType* AudioDeviceWatcher::rescan(const juce::String& typeName)
{
    // The manager scans once at start; a server or card that appeared later is only listed after a
    // new scan.
    juce::AudioIODeviceType* found = nullptr;
    for (auto* type : devices.getAvailableDeviceTypes())
        if (typeName.isEmpty() || type->getTypeName() == typeName)
        {
            type->scanForDevices();
            found = type;
        }
    return found;
}

bool AudioDeviceWatcher::checkNow(juce::String& error)
{
    if (isDeviceRunning(devices))
        return true;

    auto setup = chosenSetup();
    if (setup != nullptr)
    {
        const auto typeName = setup->getStringAttribute("deviceType");
        const auto outputName = outputNameOf(*setup);
        if (outputName.isEmpty())
        {
            error = "No audio output device is chosen.";
            return false;
        }
        auto* type = rescan(typeName);
        if (type == nullptr || !lists(*type, outputName))
        {
            error = "The audio device " + outputName + " (" + typeName + ") is not available.";
            return false;
        }
    }
    else
    {
        rescan({});
        const auto& types = devices.getAvailableDeviceTypes();
        if (std::none_of(types.begin(), types.end(),
                         [](auto* type) { return !type->getDeviceNames(false).isEmpty(); }))
        {
            // Opening nothing would still announce a changed setup to every listener, every time.
            error = "No audio output device is available.";
            return false;
        }
        // A server that came up since the look above is chosen as it would have been then, and so
        // is saved as the setup for the next start.
        setup = sorvane::jackDeviceSetupIfPreferred(false, sorvane::findRunningJackOutputDevices());
    }

    // A device that died stays current and would make the same setup a no-op: close it first.
    devices.closeAudioDevice();
    error = devices.initialise(0, outputs, setup.get(), setup == nullptr);
    if (error.isEmpty() && !isDeviceRunning(devices))
        error = "No audio device could be opened.";
    if (error.isNotEmpty())
        return false;

    ++reopenCount;
    return true;
}
} // namespace knurlkit
