#pragma once

#include <juce_data_structures/juce_data_structures.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace kavix::ui
{
// The interface theme combo. It recolours a target component (the editor), its look and feel and every
// control below it, and remembers the choice in "<application>-appearance.settings".
class AppearanceSelector : public juce::Component, public juce::SettableTooltipClient
{
public:
    // Records the target look and feel's current colours as the Original ones, so build it after the
    // look and feel is installed on the target.
    AppearanceSelector(juce::Component& target, const juce::String& applicationName);
    ~AppearanceSelector() override;

    static juce::PropertiesFile::Options options(const juce::String& name);
    juce::PropertiesFile::Options options() const { return options(applicationName); }

    // Where the theme file lives: the "Kavix" folder among the user's application data.
    static juce::File settingsFile(const juce::String& name);
    juce::File settingsFile() const { return settingsFile(applicationName); }

    // The stored theme, clamped; Original when the file is missing or unreadable.
    int readStoredTheme() const;
    bool storeTheme(int theme, juce::String& error) const;

    // Applies the stored theme without writing it back.
    void applyStoredTheme();

    void setTheme(int theme, bool persist);
    int getTheme() const noexcept { return theme; }

    // Re-themes every control of the component and its children from their recorded Original colours.
    void updateControls(juce::Component& component);

    // Called with the reason when a chosen theme could not be stored; the theme still applies.
    std::function<void(const juce::String& error)> onStoreFailed;

    void setPersistenceEnabled(bool shouldPersist) noexcept { persistenceEnabled = shouldPersist; }
    bool isPersistenceEnabled() const noexcept { return persistenceEnabled; }

    // Colour ID (decimal) to Original ARGB (hexadecimal) of the target's look and feel.
    const juce::StringPairArray& getOriginalLookAndFeelColours() const noexcept
    {
        return originalLookAndFeelColours;
    }

    juce::ComboBox& getCombo() noexcept { return combo; }

    void resized() override;

    static constexpr const char* themeKey = "interfaceTheme";

private:
    juce::Component& target;
    juce::String applicationName;
    juce::ComboBox combo;
    int theme = 0;
    bool persistenceEnabled = true;
    juce::StringPairArray originalLookAndFeelColours;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(AppearanceSelector)
};
} // namespace kavix::ui
