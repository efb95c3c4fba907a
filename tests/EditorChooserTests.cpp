// Where the window's file choosers open: the last folder used for that kind of file, else the
// account's music (audio) or documents folder, else home; never a folder that does not exist, and
// never a folder made just for the chooser.
#include "EditorRefreshFixture.h"

#include "presets/PresetCatalog.h"

#include <gtest/gtest.h>

#include <set>

using sorvane::ChooserPurpose;
using sorvane::test::RefreshFixture;
using Browser = juce::FileBrowserComponent;

namespace
{
const juce::String audioPatterns = "*.wav;*.aif;*.aiff;*.flac;*.ogg;*.mp3;*.m4a;*.aac;*.opus";

struct Expected
{
    ChooserPurpose purpose;
    const char* title;
    const char* patterns;
    int flags;
    const char* key;  // the folder remembered for this kind
    bool audio;       // music folder rather than documents
    const char* name; // the file name a save chooser suggests; empty for the rest
};

const Expected choosers[] = {
    {ChooserPurpose::loadAudio, "Load an audio sample", nullptr, Browser::openMode | Browser::canSelectFiles,
     "audioDirectory", true, ""},
    {ChooserPurpose::relinkSource, "Locate the project's moved source audio", nullptr,
     Browser::openMode | Browser::canSelectFiles, "audioDirectory", true, ""},
    {ChooserPurpose::saveProject, "Save Sorvane creator project", "*.sorvaneproject",
     Browser::saveMode | Browser::canSelectFiles, "projectDirectory", false,
     "Sorvane Project.sorvaneproject"},
    {ChooserPurpose::openProject, "Open Sorvane creator project", "*.sorvaneproject",
     Browser::openMode | Browser::canSelectFiles, "projectDirectory", false, ""},
    {ChooserPurpose::savePreset, "Save Sorvane preset", "*.sorvane",
     Browser::saveMode | Browser::canSelectFiles | Browser::warnAboutOverwriting, "presetDirectory", false,
     ""},
    {ChooserPurpose::loadPreset, "Load Sorvane preset", "*.sorvane",
     Browser::openMode | Browser::canSelectFiles, "presetDirectory", false, ""},
    {ChooserPurpose::exportAudio, "Export processed loop", "*.wav",
     Browser::saveMode | Browser::canSelectFiles | Browser::warnAboutOverwriting, "audioExportDirectory",
     false, "Sorvane-processed.wav"},
    {ChooserPurpose::shareResult, "Choose a parent folder for the new Sorvane result package", "",
     Browser::openMode | Browser::canSelectDirectories, "socialExportDirectory", false, ""},
    {ChooserPurpose::exportSupportBundle, "Export redacted Sorvane support bundle", "*.json",
     Browser::saveMode | Browser::canSelectFiles | Browser::warnAboutOverwriting, "advisorDirectory", false,
     "Sorvane-Support.json"},
};

// Every folder under root, so a test can tell that none appeared.
std::set<juce::String> foldersUnder(const juce::File& root)
{
    std::set<juce::String> folders;
    for (const auto& entry : juce::RangedDirectoryIterator(root, true, "*", juce::File::findDirectories))
        folders.insert(entry.getFile().getFullPathName());
    return folders;
}

// Opens the chooser's browser as the window would show it and checks it names the folder with no file
// pre-filled in an open chooser, or the suggested name in a save chooser.
void expectBrowserOpensIn(const sorvane::ChooserSettings& settings, const juce::File& folder,
                          const char* name, const juce::String& where)
{
    Browser browser(settings.flags, settings.initialFileOrDirectory, nullptr, nullptr);
    EXPECT_EQ(browser.getRoot(), folder) << where;
    EXPECT_EQ(browser.getSelectedFile(0), juce::String(name).isEmpty() ? folder : folder.getChildFile(name))
        << where;
}

void checkAll(RefreshFixture& f, const std::function<juce::File(const Expected&)>& folderFor,
              const juce::String& situation)
{
    for (const auto& e : choosers)
    {
        const auto where = situation + ": " + e.title;
        const auto settings = f.editor->getChooserSettings(e.purpose);
        EXPECT_EQ(settings.title, e.title) << where;
        EXPECT_EQ(settings.filePatterns, e.patterns != nullptr ? juce::String(e.patterns) : audioPatterns)
            << where;
        EXPECT_EQ(settings.flags, e.flags) << where;
        const auto folder = folderFor(e);
        ASSERT_TRUE(folder.isDirectory()) << where;
        const auto expected = juce::String(e.name).isEmpty() ? folder : folder.getChildFile(e.name);
        EXPECT_EQ(settings.initialFileOrDirectory, expected) << where;
        expectBrowserOpensIn(settings, folder, e.name, where);
    }
}
} // namespace

TEST(EditorChoosers, AFreshHomeOpensEveryChooserAtHomeAndCreatesNoFolder)
{
    RefreshFixture f;
    const auto home = f.home.getFolder();
    ASSERT_FALSE(home.getChildFile("Music").exists());
    ASSERT_FALSE(home.getChildFile("Documents").exists());
    const auto before = foldersUnder(home);

    checkAll(
        f, [&home](const Expected&) { return home; }, "fresh home");

    // Saving where SAVE PROJECT suggests makes the file and nothing else.
    const auto suggested = f.editor->getChooserSettings(ChooserPurpose::saveProject).initialFileOrDirectory;
    ASSERT_TRUE(f.editor->saveProjectToChosenFile(suggested));
    EXPECT_TRUE(home.getChildFile("Sorvane Project.sorvaneproject").existsAsFile());
    EXPECT_EQ(foldersUnder(home), before);
    EXPECT_FALSE(home.getChildFile("Music").exists());
    EXPECT_FALSE(sorvane::PresetCatalog::defaultUserPresetDirectory().exists());
}

TEST(EditorChoosers, TheAccountsMusicAndDocumentsFoldersComeNext)
{
    RefreshFixture f;
    const auto home = f.home.getFolder();
    const auto music = home.getChildFile("Music"), documents = home.getChildFile("Documents");
    ASSERT_TRUE(music.createDirectory().wasOk());
    ASSERT_TRUE(documents.createDirectory().wasOk());
    checkAll(
        f, [&](const Expected& e) { return e.audio ? music : documents; }, "standard folders");

    // The folders the account names in its XDG settings win over the usual names.
    const auto klang = home.getChildFile("Klang"), papiere = home.getChildFile("Papiere");
    ASSERT_TRUE(klang.createDirectory().wasOk());
    ASSERT_TRUE(papiere.createDirectory().wasOk());
    ASSERT_TRUE(home.getChildFile(".config/user-dirs.dirs")
                    .replaceWithText("XDG_MUSIC_DIR=\"$HOME/Klang\"\nXDG_DOCUMENTS_DIR=\"$HOME/Papiere\"\n"));
    checkAll(
        f, [&](const Expected& e) { return e.audio ? klang : papiere; }, "XDG folders");
}

TEST(EditorChoosers, TheLastFolderUsedForEachKindComesFirstWhileItExists)
{
    RefreshFixture f;
    const auto home = f.home.getFolder();
    const auto documents = home.getChildFile("Documents");
    ASSERT_TRUE(documents.createDirectory().wasOk());
    auto& store = f.editor->getDirectoryStore();
    for (const auto& e : choosers)
    {
        const auto folder = home.getChildFile(juce::String("used-") + e.key);
        ASSERT_TRUE(folder.createDirectory().wasOk());
        juce::String error;
        ASSERT_TRUE(store.remember(e.key, folder.getChildFile("picked.file"), error)) << error;
    }
    checkAll(
        f, [&home](const Expected& e) { return home.getChildFile(juce::String("used-") + e.key); },
        "remembered folders");

    // A remembered folder that has gone falls back to the standard one; nothing brings it back.
    for (const auto& e : choosers)
        ASSERT_TRUE(home.getChildFile(juce::String("used-") + e.key).deleteRecursively());
    checkAll(
        f, [&](const Expected& e) { return e.audio ? home : documents; }, "remembered folders gone");
    for (const auto& e : choosers)
        EXPECT_FALSE(home.getChildFile(juce::String("used-") + e.key).exists()) << e.key;
}

TEST(EditorChoosers, PresetSavesStartInTheUserPresetFolderOnceItExists)
{
    RefreshFixture f;
    const auto presets = sorvane::PresetCatalog::defaultUserPresetDirectory();
    ASSERT_TRUE(presets.createDirectory().wasOk());
    const auto settings = f.editor->getChooserSettings(ChooserPurpose::savePreset);
    EXPECT_EQ(settings.initialFileOrDirectory, presets);
    expectBrowserOpensIn(settings, presets, "", "save preset");
}
