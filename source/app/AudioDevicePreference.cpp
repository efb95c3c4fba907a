#include "app/AudioDevicePreference.h"

namespace sorvane
{
namespace
{
constexpr const char* jackTypeName = "JACK";
constexpr const char* jackSystemDevice = "system";
} // namespace

juce::StringArray findRunningJackOutputDevices()
{
    std::unique_ptr<juce::AudioIODeviceType> jack(juce::AudioIODeviceType::createAudioIODeviceType_JACK());
    if (jack == nullptr)
        return {};

    jack->scanForDevices();
    return jack->getDeviceNames(false);
}

std::unique_ptr<juce::XmlElement> jackDeviceSetupIfPreferred(bool audioSetupSaved,
                                                             const juce::StringArray& jackOutputDevices)
{
    if (audioSetupSaved || jackOutputDevices.isEmpty())
        return nullptr;

    const auto device =
        jackOutputDevices.contains(jackSystemDevice) ? juce::String(jackSystemDevice) : jackOutputDevices[0];

    // The same form AudioDeviceManager::createStateXml writes; no input device, as the app has none.
    auto setup = std::make_unique<juce::XmlElement>("DEVICESETUP");
    setup->setAttribute("deviceType", jackTypeName);
    setup->setAttribute("audioOutputDeviceName", device);
    setup->setAttribute("audioInputDeviceName", juce::String());
    return setup;
}

bool preferJackWhenRunning(juce::PropertySet& settings)
{
    const auto saved = settings.getXmlValue("audioSetup") != nullptr;
    if (saved)
        return false;

    const auto setup = jackDeviceSetupIfPreferred(saved, findRunningJackOutputDevices());
    if (setup == nullptr)
        return false;

    settings.setValue("audioSetup", setup.get());
    return true;
}
} // namespace sorvane
