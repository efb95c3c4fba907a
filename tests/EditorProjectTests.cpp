// The project commands in the window: SAVE PROJECT, RECENT PROJECTS, the relink offer, the recovery
// prompt after an unclean shutdown, and the autosave step of the refresh.
#include "CaptureEditorFixture.h"
#include "UnwritableFolder.h"

#include "projects/CreatorProjectFile.h"
#include "projects/ProjectRecovery.h"
#include "transport/SourceLoadJob.h"

#include <gtest/gtest.h>

#include <juce_audio_formats/juce_audio_formats.h>

namespace
{
using sorvane::test::CaptureEditorFixture;
using State = sorvane::PreparationState;

juce::File writeTone(const juce::File& file)
{
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer(
        wav.createWriterFor(new juce::FileOutputStream(file), 8000, 2, 16, {}, 0));
    juce::AudioBuffer<float> audio(2, 8000);
    for (int i = 0; i < 8000; ++i)
        for (int c = 0; c < 2; ++c)
            audio.setSample(c, i, 0.3f * std::sin(0.05f * (float)i + (float)c));
    writer->writeFromAudioSampleBuffer(audio, 0, 8000);
    return file;
}

struct ProjectEditorFixture : CaptureEditorFixture
{
    juce::File folder = home.getFolder().getChildFile("projects");
    struct Prompt
    {
        juce::String title, text;
        juce::StringArray buttons;
        std::function<void(int)> answer;
    };
    std::vector<Prompt> prompts;
    juce::Array<juce::File> relinkOffers;

    ProjectEditorFixture()
    {
        folder.createDirectory();
        observe();
    }

    void observe()
    {
        editor->setAdvisorDialogPresenter(
            [this](const juce::String& title, const juce::String& text,
                   const std::vector<std::pair<juce::String, int>>& buttons,
                   std::function<void(int)> onResult)
            {
                Prompt p{title, text, {}, std::move(onResult)};
                for (const auto& b : buttons)
                    p.buttons.add(b.first);
                prompts.push_back(std::move(p));
            });
        editor->setProjectSourceLocator([this](const juce::File& project) { relinkOffers.add(project); });
    }

    // Ticks the window until the newest load has ended and its news reached the status line.
    void tickUntilLoadEnds()
    {
        for (int i = 0; i < 6000; ++i)
        {
            sorvane::test::pumpMessages(1);
            tick();
            if (sorvane::isTerminal((State)processor->getSampleLoadSnapshot().state))
                break;
        }
        tick();
    }

    juce::StringArray recentItems()
    {
        juce::StringArray items;
        auto& combo = editor->getHeaderControls().recentProjects;
        for (int i = 0; i < combo.getNumItems(); ++i)
            items.add(combo.getItemText(i));
        return items;
    }
};
} // namespace

TEST(EditorProjects, SaveProjectFixesTheExtensionRemembersTheProjectAndCleansTheLabel)
{
    ProjectEditorFixture f;
    auto& recent = f.editor->getHeaderControls().recentProjects;
    EXPECT_FALSE(recent.isEnabled());
    EXPECT_TRUE(recent.getTooltip().startsWith("No recent creator projects yet")) << recent.getTooltip();
    auto& save = f.editor->getMutationControls().saveProject;
    sorvane::test::setPlain(*f.processor, "drive", 30.0f);
    f.tick();
    EXPECT_EQ(save.getButtonText(), "SAVE PROJECT *");

    const struct
    {
        const char* chosen;
        const char* written;
    } cases[] = {{"Night.txt", "Night.sorvaneproject"},
                 {"Loud.SORVANEPROJECT", "Loud.SORVANEPROJECT"},
                 {"Plain", "Plain.sorvaneproject"}};
    for (const auto& c : cases)
    {
        EXPECT_TRUE(f.editor->saveProjectToChosenFile(f.folder.getChildFile(c.chosen))) << c.chosen;
        EXPECT_TRUE(f.folder.getChildFile(c.written).existsAsFile()) << c.chosen;
        EXPECT_EQ(f.editor->getStatusMessage(), "PROJECT SAVED / SOURCE REFERENCED / STATE VERSIONED");
    }
    EXPECT_FALSE(f.folder.getChildFile("Night.txt").exists());
    f.tick();
    EXPECT_EQ(save.getButtonText(), "SAVE PROJECT");
    EXPECT_EQ(f.recentItems(), juce::StringArray({"Plain", "Loud", "Night"}));
    EXPECT_TRUE(recent.isEnabled());
    EXPECT_EQ(recent.getTooltip(), "Open one of the ten most recent creator projects");

    // A failed save says why and leaves the label and the list alone.
    sorvane::test::setPlain(*f.processor, "drive", 31.0f);
    const auto blocker = f.folder.getChildFile("blocker");
    blocker.replaceWithText("a file, not a folder");
    EXPECT_FALSE(f.editor->saveProjectToChosenFile(blocker.getChildFile("Inside.sorvaneproject")));
    ASSERT_EQ(f.alerts.size(), 1);
    EXPECT_TRUE(f.alerts[0].startsWith("Could not save project: ")) << f.alerts[0];
    f.tick();
    EXPECT_EQ(save.getButtonText(), "SAVE PROJECT *");
    EXPECT_EQ(f.recentItems().size(), 3);
}

TEST(EditorProjects, ARecentProjectOpensAndTheWindowFollowsItsSound)
{
    ProjectEditorFixture f;
    sorvane::test::setPlain(*f.processor, "drive", 64.0f);
    f.editor->getSourceControls().captureLength.setSelectedItemIndex(4,
                                                                     juce::sendNotificationSync); // 16 bars
    EXPECT_EQ(f.processor->captureBarsSetting.load(), 16);
    ASSERT_TRUE(f.editor->saveProjectToChosenFile(f.folder.getChildFile("Keep.sorvaneproject")));
    f.tick();

    sorvane::test::setPlain(*f.processor, "drive", 5.0f);
    f.editor->getSourceControls().captureLength.setSelectedItemIndex(0, juce::sendNotificationSync);
    f.tick();

    auto& recent = f.editor->getHeaderControls().recentProjects;
    recent.setSelectedId(1, juce::sendNotificationSync);
    // The open project has changes: the window asks first, and Don't Save opens without writing them.
    ASSERT_EQ(f.prompts.size(), 1u);
    EXPECT_EQ(f.prompts[0].title, "Save changes to Keep before opening another project?");
    f.prompts[0].answer(2);
    EXPECT_EQ(f.editor->getStatusMessage(), "PROJECT PREPARING / CURRENT PROJECT PRESERVED UNTIL READY");
    EXPECT_EQ(recent.getSelectedId(), 0) << "the box goes back to its title";
    f.tickUntilLoadEnds();
    EXPECT_EQ(f.processor->getSampleLoadSnapshot().state, (int)State::Published);
    EXPECT_EQ(f.editor->getStatusMessage(), "PROJECT RESTORED / SOURCE AND CREATOR STATE PUBLISHED TOGETHER");
    EXPECT_FLOAT_EQ(sorvane::test::plain(*f.processor, "drive"), 64.0f);
    EXPECT_EQ(f.editor->getSourceControls().captureLength.getSelectedItemIndex(), 4);
    EXPECT_EQ(f.editor->getMutationControls().saveProject.getButtonText(), "SAVE PROJECT");

    // A project that no longer exists is refused with a warning.
    f.folder.getChildFile("Keep.sorvaneproject").deleteFile();
    recent.setSelectedId(1, juce::sendNotificationSync);
    ASSERT_EQ(f.alerts.size(), 1) << f.alerts.joinIntoString(" | ");
    EXPECT_EQ(f.alerts[0], "Could not open project: The project file does not exist.");
}

// Unsaved changes to an open project are offered for saving before another project replaces them:
// Cancel keeps everything, Save writes them first, and a clean project is never asked about.
TEST(EditorProjects, UnsavedChangesAreOfferedBeforeAnotherProjectReplacesThem)
{
    ProjectEditorFixture f;
    sorvane::test::setPlain(*f.processor, "drive", 20.0f);
    const auto song = f.folder.getChildFile("Song.sorvaneproject");
    ASSERT_TRUE(f.editor->saveProjectToChosenFile(song));
    const auto saved = song.loadFileAsString();
    auto& recent = f.editor->getHeaderControls().recentProjects;

    // Clean: straight to the load.
    EXPECT_FALSE(f.editor->hasUnsavedProjectChanges());
    recent.setSelectedId(1, juce::sendNotificationSync);
    EXPECT_TRUE(f.prompts.empty());
    EXPECT_EQ(f.editor->getStatusMessage(), "PROJECT PREPARING / CURRENT PROJECT PRESERVED UNTIL READY");
    f.tickUntilLoadEnds();

    sorvane::test::setPlain(*f.processor, "drive", 40.0f);
    f.tick();
    ASSERT_TRUE(f.editor->hasUnsavedProjectChanges());
    f.editor->setStatusMessage("BEFORE");

    // Cancel (Escape): nothing is written, nothing opens, the changes stay unsaved.
    recent.setSelectedId(1, juce::sendNotificationSync);
    ASSERT_EQ(f.prompts.size(), 1u);
    EXPECT_EQ(f.prompts[0].title, "Save changes to Song before opening another project?");
    EXPECT_EQ(f.prompts[0].buttons, juce::StringArray({"Save", "Don't Save", "Cancel"}));
    // A second request while the question is up asks nothing more.
    recent.setSelectedId(1, juce::sendNotificationSync);
    EXPECT_EQ(f.prompts.size(), 1u);
    f.prompts[0].answer(0);
    EXPECT_EQ(song.loadFileAsString(), saved);
    EXPECT_EQ(f.editor->getStatusMessage(), "BEFORE");
    EXPECT_TRUE(f.processor->projectDirty.load());
    EXPECT_FLOAT_EQ(sorvane::test::plain(*f.processor, "drive"), 40.0f);

    // Save (Return): the changes are in the file before it opens again, so it opens with them.
    recent.setSelectedId(1, juce::sendNotificationSync);
    ASSERT_EQ(f.prompts.size(), 2u);
    f.prompts[1].answer(1);
    EXPECT_NE(song.loadFileAsString(), saved);
    EXPECT_EQ(f.editor->getStatusMessage(), "PROJECT PREPARING / CURRENT PROJECT PRESERVED UNTIL READY");
    sorvane::test::setPlain(*f.processor, "drive", 1.0f);
    f.tickUntilLoadEnds();
    EXPECT_FLOAT_EQ(sorvane::test::plain(*f.processor, "drive"), 40.0f);
    EXPECT_FALSE(f.editor->hasUnsavedProjectChanges());

    // A save that fails keeps the question's answer from going ahead: nothing opens.
    sorvane::test::setPlain(*f.processor, "drive", 50.0f);
    f.tick();
    sorvane::test::UnwritableFolder folderLock(f.folder);
    if (folderLock.isLocked())
    {
        f.editor->setStatusMessage("BEFORE");
        recent.setSelectedId(1, juce::sendNotificationSync);
        ASSERT_EQ(f.prompts.size(), 3u);
        f.prompts[2].answer(1);
        EXPECT_FALSE(f.alerts.isEmpty());
        EXPECT_NE(f.editor->getStatusMessage(), "PROJECT PREPARING / CURRENT PROJECT PRESERVED UNTIL READY");
        EXPECT_TRUE(f.processor->projectDirty.load());
    }
}

TEST(EditorProjects, AMovedSourceOpensTheRelinkChooserAndTheChosenFileIsChecked)
{
    ProjectEditorFixture f;
    const auto source = writeTone(f.folder.getChildFile("take.wav"));
    juce::String error;
    ASSERT_TRUE(f.processor->requestSampleLoad(source, error, false)) << error;
    f.tickUntilLoadEnds();
    const auto project = f.folder.getChildFile("Linked.sorvaneproject");
    ASSERT_TRUE(f.editor->saveProjectToChosenFile(project));
    const auto moved = f.folder.getChildFile("elsewhere.wav");
    ASSERT_TRUE(source.moveFileTo(moved));

    ASSERT_TRUE(f.editor->loadProjectWithRecovery(project));
    f.tickUntilLoadEnds();
    ASSERT_EQ(f.relinkOffers.size(), 1);
    EXPECT_EQ(f.relinkOffers[0], project);
    // The chooser offered for that project says which file to look for.
    const auto chooser = f.editor->getChooserSettings(sorvane::ChooserPurpose::relinkSource, project);
    EXPECT_EQ(chooser.title, "Locate the project's moved source audio: take.wav");
    EXPECT_EQ(chooser.filePatterns, "*.wav;*.aif;*.aiff;*.flac;*.ogg;*.mp3;*.m4a;*.aac;*.opus");

    EXPECT_TRUE(f.editor->relinkProjectSource(project, moved));
    EXPECT_EQ(f.editor->getStatusMessage(), "PROJECT RECOVERY PREPARING / FINGERPRINT AND DECODE RUNNING");
    f.tickUntilLoadEnds();
    EXPECT_EQ(f.processor->getSampleLoadSnapshot().state, (int)State::Published);
    EXPECT_EQ(f.processor->getSourceLibrary().getCurrentSample()->path, moved.getFullPathName());
    EXPECT_EQ(f.relinkOffers.size(), 1);
}

TEST(EditorProjects, AFreshWindowIsCleanAndNothingIsAutosavedUntilTheUserWorks)
{
    ProjectEditorFixture f;
    for (int i = 0; i < 120; ++i)
        f.tick();
    EXPECT_FALSE(f.processor->projectDirty.load());
    EXPECT_FALSE(f.processor->autosaveStorageFile().exists());
    EXPECT_TRUE(f.prompts.empty()) << "nothing to recover in a fresh home";

    sorvane::test::setPlain(*f.processor, "drive", 12.0f);
    for (int i = 0; i < 400 && !f.processor->autosaveStorageFile().existsAsFile(); ++i)
    {
        juce::Thread::sleep(2);
        f.tick();
    }
    EXPECT_TRUE(f.processor->autosaveStorageFile().existsAsFile());
}

TEST(EditorProjects, AfterAnUncleanShutdownTheWindowOffersRestoreAndDiscard)
{
    for (const int answer : {1, 2})
    {
        ProjectEditorFixture f;
        sorvane::test::setPlain(*f.processor, "drive", 71.0f);
        ASSERT_TRUE(f.editor->saveProjectToChosenFile(f.folder.getChildFile("Work.sorvaneproject")));
        sorvane::test::setPlain(*f.processor, "drive", 72.0f);
        for (int i = 0; i < 400 && !f.processor->autosaveStorageFile().existsAsFile(); ++i)
        {
            juce::Thread::sleep(2);
            f.tick();
        }
        ASSERT_TRUE(f.processor->autosaveStorageFile().existsAsFile());

        // The process dies: nothing records a clean close, so the session stays unclean on disk.
        const auto sessionFile = f.processor->autosaveStorageFile().getSiblingFile("Session.xml");
        const auto uncleanRecord = sessionFile.loadFileAsString();
        f.editor = nullptr;
        f.processor = nullptr;
        ASSERT_TRUE(sessionFile.replaceWithText(uncleanRecord));

        f.processor = sorvane::test::makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
        f.editor.reset(dynamic_cast<SorvaneAudioProcessorEditor*>(f.processor->createEditor()));
        f.editor->stopTimer();
        f.editor->setRefreshHooks({[&f] { return f.now; }, [] { return true; }});
        f.observe();
        sorvane::test::pumpMessages(50);
        ASSERT_EQ(f.prompts.size(), 1u);
        EXPECT_EQ(f.prompts[0].title, "Recover unsaved Sorvane work?");
        EXPECT_EQ(f.prompts[0].text,
                  "Sorvane found a valid autosave from an unclean shutdown.\n\nAutosave: " +
                      f.processor->autosaveStorageFile().getFullPathName());
        EXPECT_EQ(f.prompts[0].buttons, juce::StringArray({"Restore", "Discard", "Open Location"}));

        f.prompts[0].answer(answer);
        if (answer == 1)
        {
            EXPECT_EQ(f.editor->getStatusMessage(),
                      "RECOVERY PREPARING / CURRENT PROJECT PRESERVED UNTIL PUBLISH");
            f.tickUntilLoadEnds();
            EXPECT_FLOAT_EQ(sorvane::test::plain(*f.processor, "drive"), 72.0f);
            EXPECT_TRUE(f.processor->projectDirty.load());
            EXPECT_EQ(f.processor->getCurrentProjectFile(), f.folder.getChildFile("Work.sorvaneproject"));
            EXPECT_EQ(f.editor->getMutationControls().saveProject.getButtonText(), "SAVE PROJECT *");
        }
        else
        {
            EXPECT_EQ(f.editor->getStatusMessage(), "RECOVERY AUTOSAVE DISCARDED");
            EXPECT_FALSE(f.processor->autosaveStorageFile().exists());
            const float untouched = sorvane::test::plain(*sorvane::test::makeProcessor(), "drive");
            EXPECT_FLOAT_EQ(sorvane::test::plain(*f.processor, "drive"), untouched);
        }
    }
}
