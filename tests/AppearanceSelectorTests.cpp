#include "EditorTestSupport.h"

#include "editor/AppearanceSelector.h"
#include "editor/InterfaceTheme.h"
#include "editor/Palette.h"
#include "editor/SorvaneLookAndFeel.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

namespace palette = sorvane::palette;
using kavix::ui::AppearanceSelector;
using kavix::ui::colourFor;
using sorvane::test::ScopedTemporaryHome;

namespace
{
// A stand-in for the editor: its own look and feel, a few styled controls, then the selector built last.
struct Surface
{
    explicit Surface(const juce::String& applicationName = "Sorvane")
    {
        editor.setLookAndFeel(&lookAndFeel);
        editor.setSize(600, 400);

        kavix::ui::setColour(button, juce::TextButton::buttonColourId, palette::cyan);
        kavix::ui::setColour(button, juce::TextButton::buttonOnColourId, palette::cyan.brighter(0.12f));
        kavix::ui::setColour(button, juce::TextButton::textColourOffId, palette::ink);
        kavix::ui::setColour(button, juce::TextButton::textColourOnId, palette::cream);
        editor.addAndMakeVisible(button);

        // Set directly, as some controls are: recorded the first time a theme is applied.
        label.setColour(juce::Label::textColourId, palette::cream.withAlpha((juce::uint8)0xA6));
        label.setColour(juce::Label::backgroundColourId, palette::ink);
        editor.addAndMakeVisible(label);

        kavix::ui::setColour(slider, juce::Slider::thumbColourId, palette::amber);
        kavix::ui::setColour(slider, juce::Slider::trackColourId, palette::violet);
        panel.addAndMakeVisible(slider);
        kavix::ui::setColour(nestedLabel, juce::Label::outlineColourId,
                             palette::panelEdge.withAlpha((juce::uint8)0x8C));
        panel.addAndMakeVisible(nestedLabel);
        editor.addAndMakeVisible(panel);

        selector = std::make_unique<AppearanceSelector>(editor, applicationName);
        editor.addAndMakeVisible(*selector);
        selector->setBounds(400, 11, 150, 30);
    }

    ~Surface()
    {
        selector.reset();
        editor.setLookAndFeel(nullptr);
    }

    // Every explicitly set control colour of the styled controls, by control and colour ID.
    std::map<std::pair<int, int>, juce::uint32> controlColours()
    {
        std::map<std::pair<int, int>, juce::uint32> colours;
        const std::vector<juce::Component*> controls{&button, &label, &slider, &nestedLabel,
                                                     &selector->getCombo()};
        for (size_t i = 0; i < controls.size(); ++i)
            for (const auto id : kavix::ui::controlColourIds)
                if (controls[i]->isColourSpecified(id))
                    colours[{(int)i, id}] = controls[i]->findColour(id).getARGB();
        return colours;
    }

    std::map<int, juce::uint32> lookAndFeelColours()
    {
        std::map<int, juce::uint32> colours;
        for (const auto id : kavix::ui::controlColourIds)
            if (lookAndFeel.isColourSpecified(id))
                colours[id] = lookAndFeel.findColour(id).getARGB();
        return colours;
    }

    SorvaneLookAndFeel lookAndFeel;
    juce::Component editor;
    juce::TextButton button{"MUTATE"};
    juce::Label label;
    juce::Component panel;
    juce::Slider slider;
    juce::Label nestedLabel;
    std::unique_ptr<AppearanceSelector> selector;
};

juce::File themeFile(const ScopedTemporaryHome& home)
{
    return home.getFolder().getChildFile(".config/Kavix/Sorvane-appearance.settings");
}

juce::String settingsXml(const juce::String& value)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<PROPERTIES>\r\n  <VALUE "
           "name=\"interfaceTheme\" val=\"" +
           value + "\"/>\r\n</PROPERTIES>\r\n";
}
} // namespace

TEST(AppearanceSelector, BuildsItsComboAndRecordsTheLookAndFeelColours)
{
    ScopedTemporaryHome home;
    Surface surface;
    auto& selector = *surface.selector;
    auto& combo = selector.getCombo();

    EXPECT_EQ(selector.getComponentID(), "kavixAppearance");
    EXPECT_EQ(selector.getTitle(), "Interface theme");
    EXPECT_EQ(combo.getComponentID(), "kavixThemeChoice");
    EXPECT_EQ(combo.getTitle(), "Interface theme");
    EXPECT_EQ(selector.getTooltip(),
              "Change the app's appearance. Your music and rendered visuals stay the same.");
    EXPECT_EQ(combo.getTooltip(), selector.getTooltip());
    EXPECT_EQ(combo.getParentComponent(), &selector);
    EXPECT_TRUE(combo.isVisible());

    ASSERT_EQ(combo.getNumItems(), 3);
    const char* texts[] = {"Theme: Original", "Theme: Graphite", "Theme: Copper"};
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_EQ(combo.getItemText(i), texts[i]);
        EXPECT_EQ(combo.getItemId(i), i + 1);
    }

    EXPECT_EQ(combo.findColour(juce::ComboBox::backgroundColourId).getARGB(), 0xFF270F5Du);
    EXPECT_EQ(combo.findColour(juce::ComboBox::textColourId).getARGB(), 0xFFF7F5FAu);
    EXPECT_EQ(combo.findColour(juce::ComboBox::outlineColourId).getARGB(), 0xFF5D138Du);
    EXPECT_EQ(combo.findColour(juce::ComboBox::arrowColourId).getARGB(), 0xFF62D5E5u);

    const auto& recorded = selector.getOriginalLookAndFeelColours();
    EXPECT_EQ(recorded.size(), (int)surface.lookAndFeelColours().size());
    EXPECT_EQ(recorded[juce::String(juce::Slider::thumbColourId)], "ff4baabd"); // cyan brightened by 0.3
    EXPECT_EQ(recorded[juce::String(juce::ComboBox::outlineColourId)], "d95d138d");
    EXPECT_EQ(recorded[juce::String(juce::TextButton::buttonColourId)], "ff5d138d");
    EXPECT_FALSE(recorded.containsKey(juce::String(kavix::ui::themeColourId)));

    selector.setBounds(0, 0, 154, 30);
    EXPECT_EQ(combo.getBounds(), juce::Rectangle<int>(0, 0, 154, 30));
}

TEST(AppearanceSelector, SetThemeRecoloursTargetLookAndFeelAndControls)
{
    ScopedTemporaryHome home;
    Surface surface;
    surface.selector->setTheme(2, false);

    EXPECT_EQ(surface.selector->getTheme(), 2);
    EXPECT_EQ((int)surface.editor.getProperties()["kavix.interfaceTheme"], 2);
    EXPECT_EQ(surface.lookAndFeel.findColour(kavix::ui::themeColourId).getARGB(), 0xFF000002u);
    EXPECT_EQ(surface.lookAndFeel.getInterfaceTheme(), 2);
    EXPECT_EQ(kavix::ui::themeFor(surface.nestedLabel), 2);
    EXPECT_EQ(surface.selector->getCombo().getSelectedId(), 3);

    // Look and feel: each recorded colour becomes its Copper counterpart.
    EXPECT_EQ(surface.lookAndFeel.findColour(juce::Slider::trackColourId).getARGB(), 0xFF86BFA8u);
    EXPECT_EQ(surface.lookAndFeel.findColour(juce::ComboBox::outlineColourId).getARGB(), 0xD9795138u);
    EXPECT_EQ(surface.lookAndFeel.findColour(juce::Slider::thumbColourId),
              juce::Colour(0xFF86BFA8u).brighter(0.3f));

    // Controls, whether their colours went through kavix::ui::setColour or were set directly.
    EXPECT_EQ(surface.button.findColour(juce::TextButton::buttonColourId).getARGB(), 0xFF86BFA8u);
    EXPECT_EQ(surface.button.findColour(juce::TextButton::textColourOffId).getARGB(), 0xFF21150Fu);
    EXPECT_EQ(surface.label.findColour(juce::Label::textColourId).getARGB(), 0xA6FFEFDBu);
    EXPECT_EQ(surface.label.findColour(juce::Label::backgroundColourId).getARGB(), 0xFF21150Fu);
    EXPECT_EQ(surface.slider.findColour(juce::Slider::thumbColourId).getARGB(), 0xFFF1B56Au);
    EXPECT_EQ(surface.nestedLabel.findColour(juce::Label::outlineColourId).getARGB(), 0x8C795138u);
    EXPECT_EQ(surface.selector->getCombo().findColour(juce::ComboBox::backgroundColourId).getARGB(),
              0xFF493122u);
    EXPECT_EQ(surface.selector->getCombo().findColour(juce::ComboBox::arrowColourId).getARGB(), 0xFF9ED5B9u);

    // A directly set colour is recorded with its Original value.
    EXPECT_EQ(surface.label.getProperties()["kavix.originalColour." + juce::String(juce::Label::textColourId)]
                  .toString(),
              "a6f7f5fa");
}

TEST(AppearanceSelector, SwitchingThemesBackRestoresEveryColourExactly)
{
    ScopedTemporaryHome home;
    Surface surface;
    const auto controlsBefore = surface.controlColours();
    const auto lookAndFeelBefore = surface.lookAndFeelColours();

    surface.selector->setTheme(2, false);
    const auto controlsCopper = surface.controlColours();
    EXPECT_NE(controlsCopper, controlsBefore);
    EXPECT_NE(surface.lookAndFeelColours(), lookAndFeelBefore);

    surface.selector->setTheme(1, false);
    surface.selector->setTheme(2, false);
    EXPECT_EQ(surface.controlColours(), controlsCopper); // no drift between themes either

    surface.selector->setTheme(0, false);
    EXPECT_EQ(surface.controlColours(), controlsBefore);
    EXPECT_EQ(surface.lookAndFeelColours(), lookAndFeelBefore);
    EXPECT_EQ(surface.lookAndFeel.getInterfaceTheme(), 0);
}

TEST(AppearanceSelector, ColoursSetAfterAThemeChangeAreThemedAndRestored)
{
    ScopedTemporaryHome home;
    Surface surface;
    surface.selector->setTheme(1, false);

    juce::Label late;
    surface.panel.addAndMakeVisible(late);
    kavix::ui::setColour(late, juce::Label::textColourId, palette::amber);
    EXPECT_EQ(late.findColour(juce::Label::textColourId).getARGB(), 0xFF45D6BAu);

    surface.selector->setTheme(2, false);
    EXPECT_EQ(late.findColour(juce::Label::textColourId).getARGB(), 0xFFF1B56Au);
    surface.selector->setTheme(0, false);
    EXPECT_EQ(late.findColour(juce::Label::textColourId), palette::amber);
}

TEST(AppearanceSelector, ThemeIndexIsClamped)
{
    ScopedTemporaryHome home;
    Surface surface;

    struct Case
    {
        int requested, applied;
    };
    for (const auto c : {Case{7, 2}, Case{-3, 0}, Case{1, 1}, Case{3, 2}})
    {
        surface.selector->setTheme(c.requested, false);
        EXPECT_EQ(surface.selector->getTheme(), c.applied) << c.requested;
        EXPECT_EQ((int)surface.editor.getProperties()["kavix.interfaceTheme"], c.applied);
        EXPECT_EQ(surface.lookAndFeel.getInterfaceTheme(), c.applied);
    }
}

TEST(AppearanceSelector, ChoosingInTheComboAppliesAndRemembersTheTheme)
{
    ScopedTemporaryHome home;
    {
        Surface surface;
        surface.selector->getCombo().setSelectedId(2, juce::sendNotificationSync);
        EXPECT_EQ(surface.selector->getTheme(), 1);
        EXPECT_EQ(surface.button.findColour(juce::TextButton::buttonColourId).getARGB(), 0xFF55BAD8u);
    }

    Surface restarted;
    EXPECT_EQ(restarted.selector->readStoredTheme(), 1);
}

TEST(AppearanceSelector, ThemePersistsAcrossRestarts)
{
    ScopedTemporaryHome home;
    const auto file = themeFile(home);

    {
        Surface surface;
        EXPECT_EQ(surface.selector->settingsFile(), file);
        surface.selector->setTheme(2, true);
    }

    ASSERT_TRUE(file.existsAsFile());
    const auto text = file.loadFileAsString();
    EXPECT_TRUE(text.contains("<PROPERTIES>")) << text;
    EXPECT_TRUE(text.contains("name=\"interfaceTheme\" val=\"2\"")) << text;
    EXPECT_TRUE(text.contains("\r\n"));
    EXPECT_FALSE(text.replace("\r\n", "").containsChar('\n')) << "every line ends in CR LF";
    // Written beside the target and moved over it: nothing else is left in the folder.
    EXPECT_EQ(file.getParentDirectory().getNumberOfChildFiles(juce::File::findFilesAndDirectories), 1);

    {
        Surface restarted;
        restarted.selector->applyStoredTheme();
        EXPECT_EQ(restarted.selector->getTheme(), 2);
        EXPECT_EQ(restarted.lookAndFeel.getInterfaceTheme(), 2);
        EXPECT_EQ(restarted.button.findColour(juce::TextButton::buttonColourId).getARGB(), 0xFF86BFA8u);

        // Applying the stored theme does not write; choosing another one does.
        EXPECT_EQ(file.loadFileAsString(), text);
        restarted.selector->setTheme(0, true);
    }

    Surface again;
    again.selector->applyStoredTheme();
    EXPECT_EQ(again.selector->getTheme(), 0);
}

TEST(AppearanceSelector, StoredValuesAreReadCleanly)
{
    struct Case
    {
        const char* what;
        bool writeFile;
        juce::String content;
        int expected;
    };
    const Case cases[] = {
        {"missing file", false, {}, 0},
        {"Graphite", true, settingsXml("1"), 1},
        {"Copper", true, settingsXml("2"), 2},
        {"above the range opens as Copper", true, settingsXml("7"), 2},
        {"below the range opens as Original", true, settingsXml("-3"), 0},
        {"not a number", true, settingsXml("copper"), 0},
        {"not XML", true, "interfaceTheme=2\n\x01\x02garbage", 0},
        {"another document", true,
         "<?xml version=\"1.0\"?><OTHER><VALUE name=\"interfaceTheme\" val=\"2\"/></OTHER>", 0},
        {"truncated", true, settingsXml("2").substring(0, 60), 0},
        {"empty file", true, juce::String(), 0},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        ScopedTemporaryHome home;
        if (c.writeFile)
        {
            ASSERT_TRUE(themeFile(home).getParentDirectory().createDirectory());
            ASSERT_TRUE(themeFile(home).replaceWithText(c.content));
        }

        Surface surface;
        // Start from another theme, so that falling back is visible.
        surface.selector->setTheme(c.expected == 1 ? 2 : 1, false);
        surface.selector->applyStoredTheme();
        EXPECT_EQ(surface.selector->getTheme(), c.expected);
        EXPECT_EQ(surface.lookAndFeel.getInterfaceTheme(), c.expected);
        EXPECT_EQ(surface.selector->getCombo().getSelectedId(), c.expected + 1);
    }
}

TEST(AppearanceSelector, ACorruptFileIsReplacedByTheNextChoice)
{
    ScopedTemporaryHome home;
    const auto file = themeFile(home);
    ASSERT_TRUE(file.getParentDirectory().createDirectory());
    ASSERT_TRUE(file.replaceWithText("\x01\x02 not a settings file"));

    {
        Surface surface;
        surface.selector->setTheme(1, true);
    }

    Surface restarted;
    EXPECT_EQ(restarted.selector->readStoredTheme(), 1);
}

TEST(AppearanceSelector, PersistenceCanBeSwitchedOff)
{
    ScopedTemporaryHome home;
    Surface surface;
    surface.selector->setPersistenceEnabled(false);
    surface.selector->setTheme(2, true);
    EXPECT_EQ(surface.selector->getTheme(), 2);
    EXPECT_FALSE(themeFile(home).exists());

    surface.selector->setPersistenceEnabled(true);
    surface.selector->setTheme(1, false);
    EXPECT_FALSE(themeFile(home).exists());
}

TEST(AppearanceSelector, AFailedWriteIsReportedAndTheThemeStillApplies)
{
    ScopedTemporaryHome home;
    // A file where the folder should be: nothing can be written below it.
    const auto blocker = home.getFolder().getChildFile(".config/Kavix");
    ASSERT_TRUE(blocker.getParentDirectory().createDirectory());
    ASSERT_TRUE(blocker.replaceWithText("in the way"));

    Surface surface;
    juce::String error;
    EXPECT_FALSE(surface.selector->storeTheme(2, error));
    EXPECT_TRUE(error.startsWith("Could not save the interface theme to ")) << error;
    EXPECT_TRUE(error.endsWith("Sorvane-appearance.settings.")) << error;

    juce::StringArray told;
    surface.selector->onStoreFailed = [&told](const juce::String& e) { told.add(e); };
    surface.selector->setTheme(2, true);
    EXPECT_EQ(told, juce::StringArray(error));
    surface.selector->setTheme(1, false);
    EXPECT_EQ(told.size(), 1) << "a theme that is not stored fails nothing";
    surface.selector->setTheme(2, true);
    EXPECT_EQ(surface.selector->getTheme(), 2);
    EXPECT_EQ(surface.selector->readStoredTheme(), 0);
    EXPECT_EQ(blocker.loadFileAsString(), "in the way");
}

TEST(AppearanceSelector, OptionsDescribeTheThemeFile)
{
    const auto o = AppearanceSelector::options("Sorvane");
    EXPECT_EQ(o.applicationName, "Sorvane-appearance");
    EXPECT_EQ(o.filenameSuffix, ".settings");
    EXPECT_EQ(o.folderName, "Kavix");
    EXPECT_EQ(o.osxLibrarySubFolder, "Application Support");
    EXPECT_EQ(o.storageFormat, juce::PropertiesFile::storeAsXML);
    EXPECT_EQ(o.millisecondsBeforeSaving, 3000);
    EXPECT_FALSE(o.commonToAllUsers);

    ScopedTemporaryHome home;
    EXPECT_EQ(AppearanceSelector::settingsFile("Other"),
              home.getFolder().getChildFile(".config").getChildFile("Kavix").getChildFile(
                  "Other-appearance.settings"));
}
