#include "app/SettingsSaveWatch.h"

#include "editor/SettingsFileCheck.h"

namespace knurlkit
{
SettingsSaveWatch::SettingsSaveWatch(juce::PropertiesFile& settingsToWatch, int saveDelayMs,
                                     Report onCannotSaveToUse)
    : settings(settingsToWatch), lookAfterMs(juce::jmax(0, saveDelayMs / 2)),
      onCannotSave(std::move(onCannotSaveToUse))
{
    settings.addChangeListener(this);
    // A change made before the watch existed may have announced itself already.
    if (settings.needsToBeSaved())
        startTimer(lookAfterMs);
}

SettingsSaveWatch::~SettingsSaveWatch()
{
    stopTimer();
    settings.removeChangeListener(this);
}

bool SettingsSaveWatch::checkNow()
{
    juce::String reason;
    if (canWriteSettingsFile(settings.getFile(), reason))
        return true;
    report(reason);
    return false;
}

void SettingsSaveWatch::changeListenerCallback(juce::ChangeBroadcaster*)
{
    // Saved here, through the checked writer, before the file's own timer comes round: that save
    // then finds nothing to do, and a full disk never gets a cut settings file.
    startTimer(lookAfterMs);
}

void SettingsSaveWatch::timerCallback()
{
    stopTimer();
    juce::String reason;
    if (settings.needsToBeSaved() && !saveSettingsFile(settings, reason))
        report(reason);
}

void SettingsSaveWatch::report(const juce::String& reason)
{
    // Once: every later save fails the same way, and the app works on without its settings.
    if (reported)
        return;
    reported = true;
    if (onCannotSave)
        onCannotSave(reason);
}
} // namespace knurlkit
