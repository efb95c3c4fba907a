// Settings that cannot be saved: why a settings file cannot be written, the app's watch that says so
// once, and the editor's stores, which report through the same status message once per window.
#include "EditorTestSupport.h"
#include "TestSupport.h"

#include "app/SettingsSaveWatch.h"
#include "editor/SettingsFileCheck.h"
#include "editor/SorvaneAudioProcessorEditor.h"
#include "transport/SourceLoadJob.h"

#include <gtest/gtest.h>

#include <juce_audio_formats/juce_audio_formats.h>

#include <sys/stat.h>
#include <unistd.h>

namespace
{
using sorvane::test::ScopedTemporaryHome;

juce::PropertiesFile::Options optionsSavingAfter(int milliseconds)
{
    juce::PropertiesFile::Options o;
    o.applicationName = "Sorvane";
    o.filenameSuffix = ".settings";
    o.storageFormat = juce::PropertiesFile::storeAsXML;
    o.millisecondsBeforeSaving = milliseconds;
    return o;
}

template <typename Condition>
bool pumpUntil(Condition condition, int timeoutMs)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32)timeoutMs;
    while (!condition() && juce::Time::getMillisecondCounter() < end)
        sorvane::test::pumpMessages(10);
    return condition();
}

// Root writes into a read-only folder anyway; a file where a folder should be stops everyone.
bool permissionsApply()
{
    return ::geteuid() != 0;
}
} // namespace

TEST(SettingsFileCheck, SaysWhyASettingsFileCannotBeWritten)
{
    struct Case
    {
        const char* what;
        std::function<juce::File(const juce::File& home)> prepare; // returns the settings file
        bool writable;
        const char* reasonContains;
    };
    const Case cases[] = {
        {"a folder that does not exist yet is made",
         [](const juce::File& home) { return home.getChildFile(".config/Sorvane/Sorvane.settings"); }, true,
         ""},
        {"a file where the settings folder should be",
         [](const juce::File& home)
         {
             home.getChildFile(".config").createDirectory();
             home.getChildFile(".config/Sorvane").replaceWithText("in the way");
             return home.getChildFile(".config/Sorvane/Sorvane.settings");
         },
         false, ".config/Sorvane is a file."},
        {"a file further up the path",
         [](const juce::File& home)
         {
             home.getChildFile(".config").replaceWithText("in the way");
             return home.getChildFile(".config/Sorvane/Sorvane.settings");
         },
         false, ".config is a file."},
        {"a folder where the settings file should be",
         [](const juce::File& home)
         {
             home.getChildFile(".config/Sorvane/Sorvane.settings").createDirectory();
             return home.getChildFile(".config/Sorvane/Sorvane.settings");
         },
         false, "Sorvane.settings is a folder."},
        {"a read-only settings folder",
         [](const juce::File& home)
         {
             const auto folder = home.getChildFile(".config/Sorvane");
             folder.createDirectory();
             ::chmod(folder.getFullPathName().toRawUTF8(), 0555);
             return folder.getChildFile("Sorvane.settings");
         },
         !permissionsApply(), "is not writable (Permission denied)."},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        ScopedTemporaryHome home;
        const auto file = c.prepare(home.getFolder());
        juce::String error;
        EXPECT_EQ(knurlkit::canWriteSettingsFile(file, error), c.writable) << error;
        juce::PropertiesFile settings(file, optionsSavingAfter(-1));
        settings.setValue("key", 1);
        juce::String saveError;
        EXPECT_EQ(knurlkit::saveSettingsFile(settings, saveError), c.writable) << saveError;
        if (c.writable)
        {
            EXPECT_TRUE(file.existsAsFile());
            EXPECT_EQ(file.getParentDirectory().getNumberOfChildFiles(juce::File::findFilesAndDirectories), 1)
                << "the probe leaves nothing behind";
        }
        else
        {
            EXPECT_TRUE(error.contains(c.reasonContains)) << error;
            EXPECT_EQ(saveError, error);
        }
        ::chmod(file.getParentDirectory().getFullPathName().toRawUTF8(), 0755); // so the home can go
    }
}

TEST(SettingsSaveWatch, ReportsAFailedSaveOnceAndAWorkingOneNever)
{
    for (const bool blocked : {false, true})
    {
        SCOPED_TRACE(blocked ? "blocked" : "writable");
        ScopedTemporaryHome home;
        const auto folder = home.getFolder().getChildFile("settings");
        if (blocked)
        {
            ASSERT_TRUE(folder.replaceWithText("in the way"));
        }
        const auto file = folder.getChildFile("Sorvane.settings");

        juce::PropertiesFile settings(file, optionsSavingAfter(50));
        juce::StringArray reports;
        knurlkit::SettingsSaveWatch watch(settings, 50, [&](const juce::String& r) { reports.add(r); });

        // A change that cannot be saved is told within the save delay.
        settings.setValue("windowX", 10);
        pumpUntil([&] { return !reports.isEmpty(); }, blocked ? 3000 : 1300);
        if (!blocked)
        {
            EXPECT_TRUE(reports.isEmpty()) << reports.joinIntoString("\n");
            EXPECT_TRUE(file.existsAsFile());
            EXPECT_TRUE(watch.checkNow());
            continue;
        }
        ASSERT_EQ(reports.size(), 1);
        EXPECT_EQ(reports[0], "The settings folder " + folder.getFullPathName() + " is a file.");

        // Every later failure is the same news.
        settings.setValue("windowX", 20);
        pumpUntil([&] { return reports.size() > 1; }, 1500);
        EXPECT_FALSE(watch.checkNow());
        EXPECT_EQ(reports.size(), 1);
        EXPECT_TRUE(watch.hasReported());
        EXPECT_EQ(folder.loadFileAsString(), "in the way");
    }
}

TEST(LastDirectoryStore, SaysWhenItCannotSaveAndStillRemembersForThisRun)
{
    ScopedTemporaryHome home;
    const auto audio = home.getFolder().getChildFile("audio");
    ASSERT_TRUE(audio.createDirectory());
    ASSERT_TRUE(home.getFolder().getChildFile(".config").replaceWithText("in the way"));

    knurlkit::juce_utilities::LastDirectoryStore store(
        home.getFolder(), knurlkit::juce_utilities::LastDirectoryStore::editorOptions());
    juce::String error;
    EXPECT_FALSE(store.remember("audioDirectory", audio.getChildFile("take.wav"), error));
    EXPECT_TRUE(error.endsWith(".config is a file.")) << error;
    EXPECT_EQ(store.get("audioDirectory"), audio);
}

TEST(EditorSettings, SettingsThatCannotBeSavedAreReportedOnceAndNothingElseChanges)
{
    ScopedTemporaryHome home;
    // Both editor stores live below the "Kavix" settings folder; a file stands in its place. It is
    // there first: the processor's preset index lives below that folder too.
    const auto blocker = home.getFolder().getChildFile(".config/Kavix");
    ASSERT_TRUE(blocker.getParentDirectory().createDirectory());
    ASSERT_TRUE(blocker.replaceWithText("in the way"));

    auto processor = sorvane::test::makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
    std::unique_ptr<SorvaneAudioProcessorEditor> editor(
        dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
    editor->stopTimer();
    double now = 1000.0;
    editor->setRefreshHooks({[&now] { return now; }, [] { return true; }});
    const auto tick = [&]
    {
        now += 1000.0 / 60.0;
        editor->timerCallback();
    };

    auto* selector = editor->getAppearanceSelector();
    ASSERT_NE(selector, nullptr);
    selector->setTheme(2, true);
    EXPECT_EQ(selector->getTheme(), 2) << "the theme applies all the same";
    const auto expected = "SETTINGS CANNOT BE SAVED / Could not save the interface theme to " +
                          kavix::ui::AppearanceSelector::settingsFile("Sorvane").getFullPathName() + ".";
    EXPECT_EQ(editor->getStatusMessage(), expected);
    EXPECT_TRUE(editor->isStatusErrorShown()) << "an error waits for the user's next action";
    tick();
    EXPECT_TRUE(editor->getSourceControls().status.getText().endsWith("  /  " + expected));

    // A dropped source still loads; its folder is not remembered on disk, and that is not news twice.
    const auto audio = home.getFolder().getChildFile("audio");
    ASSERT_TRUE(audio.createDirectory());
    const auto wav = audio.getChildFile("take.wav");
    {
        juce::WavAudioFormat format;
        std::unique_ptr<juce::AudioFormatWriter> writer(
            format.createWriterFor(new juce::FileOutputStream(wav), 8000.0, 1, 16, {}, 0));
        ASSERT_NE(writer, nullptr);
        juce::AudioBuffer<float> tone(1, 16000);
        for (int i = 0; i < tone.getNumSamples(); ++i)
            tone.setSample(0, i, 0.3f * std::sin(0.2f * (float)i));
        writer->writeFromAudioSampleBuffer(tone, 0, tone.getNumSamples());
    }
    editor->filesDropped({wav.getFullPathName()}, 10, 10);
    EXPECT_FALSE(editor->getStatusMessage().startsWith("SETTINGS")) << editor->getStatusMessage();
    ASSERT_TRUE(pumpUntil([&] { return processor->getSourceLibrary().getPublished() != nullptr; }, 20000));
    tick();
    EXPECT_TRUE(editor->getStatusMessage().startsWith("SOURCE READY")) << editor->getStatusMessage();

    editor->reportSettingsNotSaved("again");
    selector->setTheme(1, true);
    EXPECT_TRUE(editor->getStatusMessage().startsWith("SOURCE READY")) << editor->getStatusMessage();
    EXPECT_EQ(blocker.loadFileAsString(), "in the way");
}
