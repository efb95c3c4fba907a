#include "editor/AppearanceSelector.h"
#include "editor/SettingsFileCheck.h"
#include "editor/SettingsLocation.h"

#include "editor/InterfaceTheme.h"

namespace kavix::ui
{
namespace
{
const char* const selectorTitle = "Interface theme";
const char* const selectorTooltip =
    "Change the app's appearance. Your music and rendered visuals stay the same.";

juce::String hexOf(juce::Colour colour)
{
    return juce::String::toHexString((juce::uint32)colour.getARGB());
}

juce::Colour colourFromHex(const juce::String& text)
{
    return juce::Colour((juce::uint32)text.getHexValue32());
}
} // namespace

AppearanceSelector::AppearanceSelector(juce::Component& targetComponent, const juce::String& name)
    : target(targetComponent), applicationName(name)
{
    setComponentID("kavixAppearance");
    setTitle(selectorTitle);
    combo.setComponentID("kavixThemeChoice");
    combo.setTitle(selectorTitle);

    // Set directly: updateControls records them as Original the first time a theme is applied.
    combo.setColour(juce::ComboBox::backgroundColourId, juce::Colour(0xFF270F5Du));
    combo.setColour(juce::ComboBox::textColourId, juce::Colour(0xFFF7F5FAu));
    combo.setColour(juce::ComboBox::outlineColourId, juce::Colour(0xFF5D138Du));
    combo.setColour(juce::ComboBox::arrowColourId, juce::Colour(0xFF62D5E5u));
    setTooltip(selectorTooltip);
    combo.setTooltip(selectorTooltip);

    for (int i = 0; i < numThemes; ++i)
        combo.addItem(juce::String("Theme: ") + themeNames[i], i + 1);
    addAndMakeVisible(combo);

    const auto& targetLookAndFeel = target.getLookAndFeel();
    for (const auto id : controlColourIds)
        if (targetLookAndFeel.isColourSpecified(id))
            originalLookAndFeelColours.set(juce::String(id), hexOf(targetLookAndFeel.findColour(id)));

    combo.onChange = [this] { setTheme(combo.getSelectedId() - 1, true); };
}

AppearanceSelector::~AppearanceSelector()
{
    combo.onChange = nullptr;
}

juce::PropertiesFile::Options AppearanceSelector::options(const juce::String& name)
{
    juce::PropertiesFile::Options o;
    o.applicationName = name + "-appearance";
    o.filenameSuffix = ".settings";
    o.folderName = "Kavix";
    o.osxLibrarySubFolder = "Application Support";
    o.storageFormat = juce::PropertiesFile::storeAsXML;
    o.millisecondsBeforeSaving = 3000;
    o.commonToAllUsers = false;
    return o;
}

juce::File AppearanceSelector::settingsFile(const juce::String& name)
{
    return knurlkit::settingsFileFor(options(name));
}

int AppearanceSelector::readStoredTheme() const
{
    const auto file = settingsFile();
    if (!file.existsAsFile())
        return originalTheme;

    // An unreadable file loads as empty, so the default applies.
    juce::PropertiesFile stored(file, options());
    return clampTheme(stored.getIntValue(themeKey, originalTheme));
}

bool AppearanceSelector::storeTheme(int newTheme, juce::String& error) const
{
    const auto file = settingsFile();
    juce::PropertiesFile stored(file, options());
    stored.setValue(themeKey, clampTheme(newTheme));

    // A checked temporary moved over the target, so a failed write keeps the previous file.
    if (juce::String why; !knurlkit::saveSettingsFile(stored, why))
    {
        error = "Could not save the interface theme to " + file.getFullPathName() + ".";
        if (why.contains("disk is full"))
            error << " The disk is full.";
        return false;
    }
    return true;
}

void AppearanceSelector::applyStoredTheme()
{
    setTheme(readStoredTheme(), false);
}

void AppearanceSelector::setTheme(int newTheme, bool persist)
{
    theme = clampTheme(newTheme);
    target.getProperties().set(themePropertyName, theme);

    auto& targetLookAndFeel = target.getLookAndFeel();
    targetLookAndFeel.setColour(themeColourId, juce::Colour(0xFF000000u | (juce::uint32)theme));

    const auto& ids = originalLookAndFeelColours.getAllKeys();
    const auto& values = originalLookAndFeelColours.getAllValues();
    for (int i = 0; i < ids.size(); ++i)
        targetLookAndFeel.setColour(ids[i].getIntValue(), colourFor(theme, colourFromHex(values[i])));

    updateControls(target);
    combo.setSelectedId(theme + 1, juce::dontSendNotification);

    target.sendLookAndFeelChange();
    target.repaint();

    if (persist && persistenceEnabled)
    {
        // The theme is already applied; it is only not remembered.
        juce::String error;
        if (!storeTheme(theme, error) && onStoreFailed)
            onStoreFailed(error);
    }
}

void AppearanceSelector::updateControls(juce::Component& component)
{
    auto& componentProperties = component.getProperties();

    for (const auto id : controlColourIds)
    {
        if (!component.isColourSpecified(id))
            continue;

        const auto property = originalColourProperty(id);
        if (!componentProperties.contains(property))
            componentProperties.set(property, hexOf(component.findColour(id)));

        const auto original = colourFromHex(componentProperties[property].toString());
        component.setColour(id, readableControlColour(component, id, colourFor(theme, original)));
    }

    // Setting a colour can make a control rebuild its own children (a combo's label, a slider's text
    // box), so walk a guarded copy of the list.
    juce::Array<juce::Component::SafePointer<juce::Component>> children;
    for (auto* child : component.getChildren())
        children.add(child);

    for (auto& child : children)
        if (child != nullptr)
            updateControls(*child);
}

void AppearanceSelector::resized()
{
    combo.setBounds(getLocalBounds());
}
} // namespace kavix::ui
