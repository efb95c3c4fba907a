#include "app/AudioDevicePreference.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(AudioDevicePreference, ChoosesJackOnlyWhenItRunsAndNothingWasSaved)
{
    struct Case
    {
        const char* description;
        bool saved;
        juce::StringArray jackOutputs;
        const char* expectedDevice; // nullptr: keep JUCE's default choice
    };
    const Case cases[] = {
        {"no server", false, {}, nullptr},
        {"server, nothing saved", false, {"system"}, "system"},
        {"server, device saved", true, {"system"}, nullptr},
        {"system preferred over other clients", false, {"jalv", "system", "other"}, "system"},
        {"first client when there is no system device", false, {"loopback", "other"}, "loopback"},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.description);
        const auto setup = sorvane::jackDeviceSetupIfPreferred(c.saved, c.jackOutputs);
        if (c.expectedDevice == nullptr)
        {
            EXPECT_EQ(setup, nullptr);
            continue;
        }

        ASSERT_NE(setup, nullptr);
        EXPECT_TRUE(setup->hasTagName("DEVICESETUP"));
        EXPECT_EQ(setup->getStringAttribute("deviceType"), "JACK");
        EXPECT_EQ(setup->getStringAttribute("audioOutputDeviceName"), c.expectedDevice);
        EXPECT_TRUE(setup->hasAttribute("audioInputDeviceName"));
        EXPECT_TRUE(setup->getStringAttribute("audioInputDeviceName").isEmpty());
    }
}

TEST(AudioDevicePreference, ASavedSetupIsNeverReplaced)
{
    // The holder stores "no explicit device" as an empty value; that counts as nothing saved.
    juce::PropertySet settings;
    settings.setValue("audioSetup", "<DEVICESETUP deviceType=\"ALSA\" audioOutputDeviceName=\"hw\"/>");
    EXPECT_FALSE(sorvane::preferJackWhenRunning(settings));
    EXPECT_EQ(settings.getXmlValue("audioSetup")->getStringAttribute("deviceType"), "ALSA");
}

TEST(AudioDevicePreference, WithoutAServerTheDefaultChoiceStands)
{
    // A server name nobody runs: the scan must find nothing and must not start a server.
    const auto name = "sorvane-absent-" + juce::String(juce::Random::getSystemRandom().nextInt64());
    ::setenv("JACK_DEFAULT_SERVER", name.toRawUTF8(), 1);
    ::setenv("JACK_NO_START_SERVER", "1", 1);

    EXPECT_TRUE(sorvane::findRunningJackOutputDevices().isEmpty());

    juce::PropertySet settings;
    settings.setValue("audioSetup", juce::var());
    EXPECT_FALSE(sorvane::preferJackWhenRunning(settings));
    EXPECT_EQ(settings.getXmlValue("audioSetup"), nullptr);
}
