// Browsing on the processor and in the editor: applying entries, the audition session with its exact
// revert, the recent list, the level lock and the browser controls driven headless.
#include "EditorTestSupport.h"
#include "SmallTmpfs.h"
#include "TestSupport.h"

#include "editor/SorvaneAudioProcessorEditor.h"
#include "presets/PresetCatalog.h"
#include "workflow/StableHash.h"

#include <gtest/gtest.h>

namespace
{
using sorvane::test::makeProcessor;

juce::String digest(SorvaneAudioProcessor& processor)
{
    return sorvane::treeDigest(processor.captureParameterSnapshot());
}

// The sound alone: the recent list deliberately survives a revert.
juce::String soundDigest(SorvaneAudioProcessor& processor)
{
    auto tree = processor.captureParameterSnapshot();
    tree.removeProperty("recentPresetHistory", nullptr);
    return sorvane::treeDigest(tree);
}

sorvane::PresetDescriptor factoryEntry(SorvaneAudioProcessor& processor, int row)
{
    return processor.getPresetCatalog().getPresets()[(size_t)row];
}

sorvane::PresetDescriptor fileEntry(const juce::File& file)
{
    sorvane::PresetDescriptor d;
    d.kind = sorvane::PresetKind::User;
    d.path = file;
    d.valid = true;
    return d;
}
} // namespace

TEST(PresetBrowsing, ThreePresetsThenRevertRestoresTheExactSoundAndItsTresselSession)
{
    sorvane::test::ScopedTemporaryHome home;
    auto processor = makeProcessor();
    processor->setCurrentProgram(15); // a row with a Tressel session
    sorvane::test::setPlain(*processor, "drive", 12.5f);
    const auto before = digest(*processor);
    const auto session = processor->getTresselSession();
    ASSERT_TRUE(session.isValid());

    juce::String error;
    for (int row : {3, 27, 8})
        ASSERT_TRUE(processor->applyBrowserPreset(factoryEntry(*processor, row), error)) << error;
    EXPECT_TRUE(processor->isPresetExperimentActive());
    EXPECT_NE(digest(*processor), before);

    ASSERT_TRUE(processor->revertPresetExperiment());
    EXPECT_FALSE(processor->isPresetExperimentActive());
    EXPECT_FLOAT_EQ(sorvane::test::plain(*processor, "drive"), 12.5f);
    EXPECT_EQ(processor->getTresselSession().seed, session.seed);
    EXPECT_EQ(sorvane::treeDigest(processor->getTresselSession().variants[0]),
              sorvane::treeDigest(session.variants[0]));
    EXPECT_FALSE(processor->revertPresetExperiment());
    EXPECT_FALSE(processor->keepPresetExperiment());
}

TEST(PresetBrowsing, RevertRestoresTheDigestExactlyWhenNoRecentEntryChanged)
{
    sorvane::test::ScopedTemporaryHome home;
    auto processor = makeProcessor();
    processor->setCurrentProgram(4);
    sorvane::test::setPlain(*processor, "tone", 3000.0f);
    // Applying row 4 again only moves it to the front, where it already is: the recent text stays.
    const auto before = digest(*processor);
    juce::String error;
    ASSERT_TRUE(processor->applyBrowserPreset(factoryEntry(*processor, 4), error));
    EXPECT_NE(digest(*processor), before);
    ASSERT_TRUE(processor->revertPresetExperiment());
    EXPECT_EQ(digest(*processor), before);
}

TEST(PresetBrowsing, FailedApplicationsReportAndChangeNothing)
{
    sorvane::test::ScopedTemporaryHome home;
    auto processor = makeProcessor();
    const auto folder = home.getFolder().getChildFile("files");
    folder.createDirectory();
    const auto notXml = folder.getChildFile("a.sorvane");
    notXml.replaceWithText("hello");
    const auto other = folder.getChildFile("b.sorvane");
    other.replaceWithText("<OTHER_STATE/>");
    const auto before = digest(*processor);

    struct Case
    {
        sorvane::PresetDescriptor entry;
        const char* error;
    };
    auto quarantined = fileEntry(notXml);
    quarantined.valid = false;
    auto quarantinedWithReason = quarantined;
    quarantinedWithReason.error = "Malformed XML";
    auto badRow = factoryEntry(*processor, 0);
    badRow.factoryIndex = 37;
    const Case cases[] = {
        {quarantined, "This preset is quarantined and cannot be loaded."},
        {quarantinedWithReason, "Malformed XML"},
        {badRow, "The selected factory preset is no longer available."},
        {fileEntry(notXml), "The selected file is not a valid Sorvane preset."},
        {fileEntry(folder.getChildFile("missing.sorvane")),
         "The selected file is not a valid Sorvane preset."},
        {fileEntry(other), "The preset belongs to a different product or is damaged."},
    };
    for (const auto& c : cases)
    {
        juce::String error;
        EXPECT_FALSE(processor->applyBrowserPreset(c.entry, error));
        EXPECT_EQ(error, c.error);
        EXPECT_FALSE(processor->isPresetExperimentActive());
        EXPECT_EQ(digest(*processor), before);
    }
}

TEST(PresetBrowsing, RecentListKeepsTenNewestFirstWithoutDuplicates)
{
    sorvane::test::ScopedTemporaryHome home;
    auto processor = makeProcessor();
    for (int row = 0; row < 12; ++row)
        processor->setCurrentProgram(row);
    processor->setCurrentProgram(5);
    processor->setCurrentProgram(5);
    const auto recent = processor->getRecentPresets();
    ASSERT_EQ(recent.size(), 10u);
    EXPECT_EQ(recent[0].factoryIndex, 5);
    EXPECT_EQ(recent[0].name, processor->getProgramName(5));
    EXPECT_EQ(recent[1].factoryIndex, 11);
    int fives = 0;
    for (const auto& r : recent)
        fives += r.factoryIndex == 5 ? 1 : 0;
    EXPECT_EQ(fives, 1);

    // Text from a host is outside input: deep nesting or junk gives an empty list, never a crash.
    auto& state = processor->getParameterState().state;
    for (const juce::String junk : {juce::String::repeatedString("[", 100000), juce::String("{\"a\":"),
                                    juce::String("[{\"program\":\"x\",\"path\":\"relative\"}]")})
    {
        state.setProperty("recentPresetHistory", junk, nullptr);
        const auto list = processor->getRecentPresets();
        EXPECT_LE(list.size(), 1u);
        for (const auto& r : list)
            EXPECT_EQ(r.path, juce::File());
    }

    // Numbers JUCE would overflow on, or an int cast could not hold, refuse the list before parsing.
    struct Row
    {
        const char* text;
        int entries, program;
    };
    for (const auto& row : {Row{"[{\"program\":1e10,\"name\":\"a\"}]", 0, 0},
                            Row{"[{\"program\":99999999999999999999,\"name\":\"a\"}]", 0, 0},
                            Row{"[{\"program\":2.5,\"name\":\"a\"}]", 0, 0},
                            Row{"[{\"program\":3,\"name\":\"e10 1.5 +\"}]", 1, 3},
                            Row{"[{\"program\":-1,\"name\":\"a\"}]", 1, -1}})
    {
        state.setProperty("recentPresetHistory", row.text, nullptr);
        const auto list = processor->getRecentPresets();
        ASSERT_EQ((int)list.size(), row.entries) << row.text;
        if (row.entries > 0)
            EXPECT_EQ(list[0].factoryIndex, row.program) << row.text;
    }
}

TEST(PresetBrowsing, LevelLockKeepsMixAndOutputOfAUserFileWithoutThem)
{
    sorvane::test::ScopedTemporaryHome home;
    auto processor = makeProcessor();
    const auto file = home.getFolder().getChildFile("lock.sorvane");
    file.replaceWithText("<SORVANE_STATE><PARAM id=\"drive\" value=\"77\"/><PARAM id=\"output\" "
                         "value=\"-20\"/></SORVANE_STATE>");
    sorvane::test::setPlain(*processor, "mix", 42.0f);
    sorvane::test::setPlain(*processor, "output", 3.0f);
    processor->setPresetLevelLock(true);
    juce::String error;
    ASSERT_TRUE(processor->applyBrowserPreset(fileEntry(file), error)) << error;
    EXPECT_FLOAT_EQ(sorvane::test::plain(*processor, "mix"), 42.0f);
    EXPECT_FLOAT_EQ(sorvane::test::plain(*processor, "output"), 3.0f);
    EXPECT_FLOAT_EQ(sorvane::test::plain(*processor, "drive"), 77.0f);
    EXPECT_TRUE(processor->isPresetLevelLockEnabled());
    ASSERT_FALSE(processor->getRecentPresets().empty());
    EXPECT_EQ(processor->getRecentPresets()[0].path, file);
    EXPECT_EQ(processor->getRecentPresets()[0].name, "lock");
}

TEST(PresetBrowsing, EditorSearchFilterChooseAndRevertThroughItsControls)
{
    sorvane::test::AcknowledgedTemporaryHome home;
    auto processor = makeProcessor(juce::AudioProcessor::wrapperType_VST3);
    std::unique_ptr<SorvaneAudioProcessorEditor> editor(
        dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
    editor->stopTimer();
    editor->setRefreshHooks({[] { return 0.0; }, [] { return true; }});
    auto& p = editor->getPresetControls();
    auto& level = editor->getLevelControls();
    EXPECT_EQ(p.browser.getNumItems(), 37);
    EXPECT_FALSE(level.revertPresets.isEnabled());
    const auto before = soundDigest(*processor);

    p.search.setText("ghost", juce::sendNotification);
    sorvane::test::pumpMessages();
    for (int i = 0; i < 11; ++i)
        editor->timerCallback();
    EXPECT_EQ(p.browser.getNumItems(), 37); // still debouncing
    editor->timerCallback();
    EXPECT_EQ(p.browser.getNumItems(), 4);

    p.sourceFilter.setSelectedId(12, juce::sendNotificationSync); // SHOWCASE
    ASSERT_EQ(p.browser.getNumItems(), 3); // rows 15, 17 and 19; row 3 is not a showcase row
    EXPECT_FALSE(p.rename.isEnabled());
    const int item = 2;
    const auto chosen = editor->getPresetResults()[(size_t)item - 1];
    p.browser.setSelectedId(item, juce::sendNotificationSync);
    EXPECT_NE(soundDigest(*processor), before);
    EXPECT_EQ(editor->getStatusMessage(), chosen.description());
    EXPECT_EQ(p.browser.getTooltip(), chosen.description());
    editor->timerCallback();
    EXPECT_TRUE(level.revertPresets.isEnabled());
    EXPECT_EQ(level.revertPresets.getButtonText(), "REVERT PRESETS *");

    // Alt+F marks it; the browser shows the mark.
    editor->keyPressed(juce::KeyPress('f', juce::ModifierKeys::altModifier, 0));
    EXPECT_EQ(editor->getStatusMessage(), "ADDED TO FAVOURITES");
    EXPECT_TRUE(p.browser.getText().startsWith("* "));

    level.revertPresets.triggerClick();
    sorvane::test::pumpMessages();
    EXPECT_EQ(editor->getStatusMessage(), "PRESET EXPERIMENT REVERTED");
    EXPECT_EQ(soundDigest(*processor), before);
    editor->timerCallback();
    EXPECT_FALSE(level.revertPresets.isEnabled());
    EXPECT_EQ(level.revertPresets.getButtonText(), "REVERT PRESETS");

    p.search.setText("no such preset", juce::sendNotification);
    sorvane::test::pumpMessages();
    for (int i = 0; i < 12; ++i)
        editor->timerCallback();
    EXPECT_EQ(p.browser.getNumItems(), 0);
    EXPECT_EQ(p.browser.getTextWhenNothingSelected(), "NO MATCHES");
    editor->keyPressed(juce::KeyPress('f', juce::ModifierKeys::altModifier, 0));
    EXPECT_EQ(editor->getStatusMessage(), "PRESET EXPERIMENT REVERTED");
    editor = nullptr;
}

TEST(PresetBrowsing, EditorSavesLoadsAndEditsUserPresets)
{
    sorvane::test::AcknowledgedTemporaryHome home;
    auto processor = makeProcessor(juce::AudioProcessor::wrapperType_VST3);
    std::unique_ptr<SorvaneAudioProcessorEditor> editor(
        dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
    editor->stopTimer();
    std::vector<juce::String> alerts;
    editor->setAlertPresenter([&alerts](juce::MessageBoxIconType, const juce::String& title,
                                        const juce::String& text) { alerts.push_back(title + ": " + text); });
    const auto folder = sorvane::PresetCatalog::defaultUserPresetDirectory();
    ASSERT_TRUE(folder.isAChildOf(home.getFolder()));

    ASSERT_TRUE(editor->savePresetToChosenFile(folder.getChildFile("Mine"), false));
    EXPECT_EQ(editor->getStatusMessage(), "PRESET SAVED");
    EXPECT_TRUE(folder.getChildFile("Mine.sorvane").existsAsFile());

    auto& p = editor->getPresetControls();
    p.sourceFilter.setSelectedId(3, juce::sendNotificationSync); // USER
    ASSERT_EQ(p.browser.getNumItems(), 1);
    EXPECT_TRUE(p.rename.isEnabled());
    const auto id = editor->getSelectedPreset()->id;
    EXPECT_TRUE(editor->performPresetAction(1, id, "Yours", {}, {}));
    EXPECT_EQ(editor->getStatusMessage(), "USER PRESET LIBRARY UPDATED");
    EXPECT_EQ(p.browser.getText(), "Yours");
    EXPECT_FALSE(editor->performPresetAction(1, editor->getSelectedPreset()->id, "", {}, {}));
    EXPECT_EQ(editor->getStatusMessage(), "Enter a non-empty preset name.");

    p.sourceFilter.setSelectedId(2, juce::sendNotificationSync); // FACTORY
    editor->showPresetActionDialog(4);
    EXPECT_EQ(editor->getStatusMessage(), "FACTORY PRESETS ARE READ-ONLY");

    EXPECT_TRUE(editor->loadPresetFile(folder.getChildFile("Yours.sorvane")));
    EXPECT_EQ(editor->getStatusMessage(), "PRESET LOADED");
    EXPECT_FALSE(editor->loadPresetFile(folder.getChildFile("absent.sorvane")));
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0], "Could not load preset: The selected file is not a valid Sorvane preset.");
    editor = nullptr;
}

// Presets and DNA are shared: after the user's own presets filled the recent list with their paths, a
// saved preset and a copied DNA carry the sound but no path of this home folder. Older files that carry
// a list still load, without bringing it in.
TEST(PresetBrowsing, SharedPresetsAndDnaCarryNoPathOfTheUser)
{
    sorvane::test::ScopedTemporaryHome home;
    auto processor = makeProcessor();
    const auto homePath = home.getFolder().getFullPathName();
    const auto mine = home.getFolder().getChildFile("Presets").getChildFile("mine.sorvane");
    ASSERT_TRUE(mine.getParentDirectory().createDirectory().wasOk());
    ASSERT_TRUE(mine.replaceWithText("<SORVANE_STATE><PARAM id=\"drive\" value=\"61\"/></SORVANE_STATE>"));
    juce::String error;
    ASSERT_TRUE(processor->applyBrowserPreset(fileEntry(mine), error)) << error;
    processor->setCurrentProgram(15); // a row with a Tressel session, made after the list held the path
    ASSERT_TRUE(processor->captureParameterSnapshot().toXmlString().contains(homePath))
        << "the local list names the user's file";

    const auto saved = home.getFolder().getChildFile("Presets").getChildFile("shared.sorvane");
    ASSERT_TRUE(processor->saveUserPreset(saved, false, error)) << error;
    const auto savedText = saved.loadFileAsString();
    EXPECT_FALSE(savedText.contains(homePath)) << savedText;
    EXPECT_FALSE(savedText.contains("recentPresetHistory"));
    EXPECT_TRUE(savedText.contains("drive"));

    const auto dna = processor->copyTresselDna(error);
    ASSERT_TRUE(dna.startsWith("SV1:")) << error;
    juce::MemoryOutputStream decoded;
    ASSERT_TRUE(juce::Base64::convertFromBase64(decoded, dna.substring(4)));
    const auto dnaText = decoded.toString();
    EXPECT_FALSE(dnaText.contains(homePath));
    EXPECT_FALSE(dnaText.contains("recentPresetHistory"));

    // A DNA pasted elsewhere gives the same sound; the receiver's own list stays.
    auto other = makeProcessor();
    other->setCurrentProgram(4);
    const auto otherList = other->getRecentPresets();
    ASSERT_TRUE(other->importTresselDna(dna, error)) << error;
    EXPECT_EQ(other->getRecentPresets().size(), otherList.size());
    EXPECT_FLOAT_EQ(sorvane::test::plain(*other, "drive"), sorvane::test::plain(*processor, "drive"));

    // An older preset that carries someone's list still loads, and the list stays ours.
    const auto old = home.getFolder().getChildFile("Presets").getChildFile("old.sorvane");
    ASSERT_TRUE(old.replaceWithText("<SORVANE_STATE recentPresetHistory=\"[{&quot;program&quot;:-1,"
                                    "&quot;path&quot;:&quot;/home/someone/x.sorvane&quot;,&quot;name&quot;:"
                                    "&quot;x&quot;}]\"><PARAM id=\"drive\" value=\"33\"/></SORVANE_STATE>"));
    ASSERT_TRUE(processor->applyBrowserPreset(fileEntry(old), error)) << error;
    EXPECT_FLOAT_EQ(sorvane::test::plain(*processor, "drive"), 33.0f);
    EXPECT_FALSE(processor->captureParameterSnapshot().toXmlString().contains("someone"));
}

TEST(PresetBrowsing, EditorSaysWhyAFavouriteWasNotSavedAndKeepsShowingTheSavedList)
{
    sorvane::test::AcknowledgedTemporaryHome home;
    const auto browserFile = sorvane::PresetCatalog::defaultBrowserFile();
    ASSERT_TRUE(browserFile.isAChildOf(home.getFolder()));
    sorvane::test::SmallTmpfs disk(browserFile.getParentDirectory());
    if (!disk.isMounted())
        GTEST_SKIP() << "needs a small full disk: " << disk.whyNot();

    auto processor = makeProcessor(juce::AudioProcessor::wrapperType_VST3);
    std::unique_ptr<SorvaneAudioProcessorEditor> editor(
        dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
    editor->stopTimer();
    auto& p = editor->getPresetControls();
    p.browser.setSelectedId(1, juce::sendNotificationSync);
    const auto id = editor->getSelectedPreset()->id;
    const auto altF = juce::KeyPress('f', juce::ModifierKeys::altModifier, 0);
    editor->keyPressed(altF);
    ASSERT_EQ(editor->getStatusMessage(), "ADDED TO FAVOURITES");
    const auto saved = browserFile.loadFileAsString();
    ASSERT_TRUE(saved.contains(id));

    ASSERT_TRUE(disk.fill());
    editor->keyPressed(altF);
    EXPECT_EQ(editor->getStatusMessage(),
              "The preset was not removed from the favourites: " + browserFile.getFullPathName() +
                  " could not be written: No space left on device (the disk is full).");
    // The browser, the catalog and the file agree: still a favourite.
    EXPECT_TRUE(p.browser.getText().startsWith("* ")) << p.browser.getText();
    EXPECT_TRUE(editor->getSelectedPreset()->favourite);
    EXPECT_EQ(processor->getPresetCatalog().getFavourites(), juce::StringArray(id));
    EXPECT_EQ(browserFile.loadFileAsString(), saved);
    editor = nullptr;
}
