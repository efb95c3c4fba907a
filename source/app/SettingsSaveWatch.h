#pragma once

#include <juce_data_structures/juce_data_structures.h>

#include <functional>

namespace knurlkit
{
// Says once when the app's settings cannot be saved (a read-only home, a file where the settings
// folder should be), so the user learns it while the app runs rather than finding settings lost at
// the next start. PropertiesFile saves a while after each change and drops a failure silently (and
// takes a short write on a full disk for a whole one); this saves halfway through that delay through
// a checked writer, which says why it failed. Message thread only.
class SettingsSaveWatch : private juce::ChangeListener, private juce::Timer
{
public:
    using Report = std::function<void(const juce::String& reason)>;

    SettingsSaveWatch(juce::PropertiesFile& settings, int saveDelayMs, Report onCannotSave);
    ~SettingsSaveWatch() override;

    // Whether the settings file can be written at all; a failure is reported.
    bool checkNow();

    bool hasReported() const noexcept { return reported; }

private:
    void changeListenerCallback(juce::ChangeBroadcaster*) override;
    void timerCallback() override;
    void report(const juce::String& reason);

    juce::PropertiesFile& settings;
    const int lookAfterMs;
    Report onCannotSave;
    bool reported = false;

    JUCE_DECLARE_NON_COPYABLE(SettingsSaveWatch)
};
} // namespace knurlkit
