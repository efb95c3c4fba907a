// The editor's capture, Keep That and WAV export controls, driven headless with a hand-ticked timer
// and audio blocks run by the test.
#include "CaptureEditorFixture.h"
#include "EditorTestSupport.h"
#include "TestSupport.h"

#include "editor/SorvaneAudioProcessorEditor.h"

#include <gtest/gtest.h>
#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>

namespace
{
using sorvane::test::CaptureEditorFixture;
using State = sorvane::CreatorExportState;

std::unique_ptr<juce::AudioFormatReader> readWave(const juce::File& file)
{
    juce::WavAudioFormat wav;
    return std::unique_ptr<juce::AudioFormatReader>(
        wav.createReaderFor(file.createInputStream().release(), true));
}

TEST(EditorCapture, CaptureStartsFromTheLengthSelectorAndTheSameButtonCancels)
{
    CaptureEditorFixture f;
    auto& s = f.editor->getSourceControls();
    f.tick();
    EXPECT_FALSE(s.capture.isEnabled()); // nothing to capture yet

    f.publishSource();
    f.tick();
    EXPECT_TRUE(s.capture.isEnabled());

    const int expectedBars[] = {1, 2, 4, 8, 16};
    for (int item = 0; item < 5; ++item)
    {
        SCOPED_TRACE(item);
        s.captureLength.setSelectedItemIndex(item);
        s.capture.triggerClick();
        sorvane::test::pumpMessages(5);
        EXPECT_EQ(f.editor->getStatusMessage(), "CAPTURE STARTED / EFFECT TAIL INCLUDED");
        ASSERT_TRUE(f.processor->getProcessedCapture().isActive());
        EXPECT_EQ(f.processor->getProcessedCapture().describe().bars, expectedBars[item]);
        EXPECT_TRUE(f.processor->getProcessedCapture().describe().includesTail);

        f.runBlocks(3);
        f.tick();
        EXPECT_EQ(s.capture.getButtonText(), "CANCEL");
        EXPECT_TRUE(f.statusLine().startsWith("CAPTURING  ")) << f.statusLine();
        EXPECT_TRUE(f.statusLine().contains("%  /  TONE.WAV")) << f.statusLine();
        EXPECT_FALSE(s.captureLength.isEnabled());
        EXPECT_FALSE(s.rangeSliders[0].isEnabled());

        s.capture.triggerClick();
        sorvane::test::pumpMessages(5);
        EXPECT_EQ(f.editor->getStatusMessage(), "CAPTURE CANCELLED");
        EXPECT_FALSE(f.processor->getProcessedCapture().isActive());
        f.tick();
        EXPECT_EQ(s.capture.getButtonText(), "CAPTURE");
        EXPECT_TRUE(s.captureLength.isEnabled());
    }
    EXPECT_TRUE(f.alerts.isEmpty()) << f.alerts.joinIntoString("\n");
}

TEST(EditorCapture, AFailedStartOpensAWarningAndEscapeOnlyActsOnARunningCapture)
{
    CaptureEditorFixture f;
    f.editor->toggleCapture(); // no source
    ASSERT_EQ(f.alerts.size(), 1);
    EXPECT_EQ(f.alerts[0], "Could not start capture: Load a sample in the standalone app before capturing.");

    const juce::KeyPress escape(juce::KeyPress::escapeKey);
    EXPECT_FALSE(f.editor->keyPressed(escape));

    f.publishSource();
    f.editor->toggleCapture();
    ASSERT_TRUE(f.processor->getProcessedCapture().isActive());
    EXPECT_TRUE(f.editor->keyPressed(escape));
    EXPECT_FALSE(f.processor->getProcessedCapture().isActive());
    EXPECT_EQ(f.editor->getStatusMessage(), "CAPTURE CANCELLED");
}

TEST(EditorCapture, KeepThatAndBeforeAfterFreezeTheWindowTheirLabelsName)
{
    CaptureEditorFixture f;
    auto& t = f.editor->getTresselControls();
    t.beforeAfter.triggerClick();
    sorvane::test::pumpMessages(5);
    EXPECT_EQ(f.editor->getStatusMessage(), "Play audio before using Keep That.");

    f.publishSource();
    f.processor->getSourceTransport().startPlayback();
    f.runBlocks(20);

    struct Case
    {
        int lengthItem;
        juce::Button* button;
        const char* label;
        int bars;
    };
    const Case cases[] = {{0, &t.keepThat, "KEEP THAT 4 BARS", 4},
                          {2, &t.keepThat, "KEEP THAT 4 BARS", 4},
                          {3, &t.keepThat, "KEEP THAT 8 BARS", 8},
                          {4, &t.keepThat, "KEEP THAT 8 BARS", 8},
                          {4, &t.beforeAfter, "BEFORE / AFTER", 4}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        f.editor->getSourceControls().captureLength.setSelectedItemIndex(c.lengthItem);
        c.button->triggerClick();
        sorvane::test::pumpMessages(5);
        EXPECT_EQ(f.editor->getStatusMessage(),
                  juce::String(c.label) + " REQUESTED / FREEZING AT THE NEXT AUDIO BOUNDARY");
        f.tick();
        EXPECT_FALSE(t.keepThat.isEnabled()); // one freeze at a time
        EXPECT_FALSE(t.beforeAfter.isEnabled());
        EXPECT_EQ(f.processor->requestKeepThat(4, "X"), "A Keep That snapshot is already being prepared.");

        f.runBlocks(1);
        f.tick();
        EXPECT_EQ(f.editor->getStatusMessage(), "EXACT BEFORE / AFTER WINDOW FROZEN / KEEP THAT READY");
        ASSERT_TRUE(f.processor->hasKeepThat());
        EXPECT_EQ(f.processor->getKeepThat().bars, c.bars);
        EXPECT_TRUE(t.keepThat.isEnabled());
    }
}

TEST(EditorExport, WavExportRunsAsAJobAndTheChosenNameGetsItsExtension)
{
    CaptureEditorFixture f;
    auto& s = f.editor->getSourceControls();
    f.publishSource();
    f.tick();
    EXPECT_FALSE(s.exportWav.isEnabled());
    EXPECT_FALSE(s.dragWav.isEnabled());
    f.captureWithButton(0); // 1 bar at 120 BPM and 8 kHz: 16000 frames and a 32000-frame tail
    EXPECT_TRUE(s.exportWav.isEnabled());
    EXPECT_TRUE(s.dragWav.isEnabled());

    struct Case
    {
        const char* chosen;
        const char* written;
    };
    const Case cases[] = {{"take", "take.wav"}, {"take two.aiff", "take two.aiff"}};
    int exported = 0;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.chosen);
        const auto folder = f.home.getFolder().getChildFile("exports");
        f.editor->exportToChosenFile(folder.getChildFile(c.chosen));
        EXPECT_EQ(f.editor->getStatusMessage(), "OWNED WAV EXPORT JOB STARTED");
        EXPECT_TRUE(f.editor->isExportRunning());
        EXPECT_TRUE(f.editor->getExportActivity().isVisible());
        EXPECT_FALSE(s.status.isVisible());
        EXPECT_TRUE(f.editor->getExportActivity().getCancelButton().isEnabled());

        ASSERT_EQ(f.finishExport(), State::Completed);
        EXPECT_EQ(f.editor->getStatusMessage(), "WAV EXPORT COMPLETE");
        EXPECT_FALSE(f.editor->isExportRunning());
        EXPECT_FALSE(f.editor->getExportActivity().isVisible());
        EXPECT_TRUE(s.status.isVisible());

        const auto written = folder.getChildFile(c.written);
        auto reader = readWave(written);
        ASSERT_NE(reader, nullptr) << written.getFullPathName();
        EXPECT_EQ(reader->bitsPerSample, 24u);
        EXPECT_EQ(reader->numChannels, 2u);
        EXPECT_EQ(reader->sampleRate, 8000.0);
        EXPECT_EQ(reader->lengthInSamples, 48000);
        EXPECT_EQ(reader->metadataValues.getValue("CMNT", {}),
                  "Sorvane sourceRangeStart=0.000000000; sourceRangeEnd=1.000000000; sourceRangeMode=loop");
        // Nothing but the exports themselves: no temporary file is left beside them.
        EXPECT_EQ(folder.getNumberOfChildFiles(juce::File::findFilesAndDirectories), ++exported);
    }
    EXPECT_EQ(f.editor->getDirectoryStore().get("audioExportDirectory", {}),
              f.home.getFolder().getChildFile("exports"));
}

TEST(EditorExport, DragExportOffersTheWrittenFileForAnExternalDrag)
{
    CaptureEditorFixture f;
    f.publishSource();
    f.captureWithButton(0);
    auto& s = f.editor->getSourceControls();

    s.dragWav.triggerClick();
    sorvane::test::pumpMessages(5);
    EXPECT_EQ(f.editor->getStatusMessage(), "PREPARING OWNED DRAG EXPORT JOB");
    EXPECT_TRUE(f.editor->isDragExport());
    ASSERT_EQ(f.finishExport(), State::Completed);
    EXPECT_EQ(f.editor->getStatusMessage(), "DRAG WAV READY");
    ASSERT_EQ(f.drags.size(), 1);
    const juce::File dragged(f.drags[0]);
    EXPECT_EQ(dragged.getParentDirectory(),
              juce::File::getSpecialLocation(juce::File::tempDirectory).getChildFile("Sorvane Captures"));
    EXPECT_TRUE(dragged.getFileName().startsWith("Sorvane-processed"));
    EXPECT_EQ(dragged.getFileExtension(), ".wav");
    auto reader = readWave(dragged);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->lengthInSamples, 48000);
    EXPECT_EQ(s.dragWav.getButtonText(), "DRAG WAV");

    // A second drag never overwrites the first file; one that cannot start says where the file is.
    f.dragStarts = false;
    s.dragWav.triggerClick();
    sorvane::test::pumpMessages(5);
    ASSERT_EQ(f.finishExport(), State::Completed);
    ASSERT_EQ(f.drags.size(), 2);
    EXPECT_NE(f.drags[0], f.drags[1]);
    EXPECT_TRUE(dragged.existsAsFile());
    EXPECT_EQ(f.editor->getStatusMessage(), "DRAG WAV READY / DRAG COULD NOT START / FILE: " + f.drags[1]);
}

TEST(EditorExport, ExportButtonsCancelARunningExportAndTheOverlayCancelsToo)
{
    CaptureEditorFixture f;
    f.publishSource();
    f.captureWithButton(4); // 16 bars: long enough that the writer is still busy when cancelled
    auto& s = f.editor->getSourceControls();
    const auto folder = f.home.getFolder().getChildFile("exports");

    struct Case
    {
        const char* name;
        std::function<void()> cancel;
    };
    const Case cases[] = {
        {"EXPORT WAV", [&] { s.exportWav.triggerClick(); }},
        {"DRAG WAV", [&] { s.dragWav.triggerClick(); }},
        {"overlay CANCEL", [&] { f.editor->getExportActivity().getCancelButton().triggerClick(); }},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const auto target = folder.getChildFile(juce::String(c.name).replaceCharacter(' ', '-') + ".wav");
        f.editor->exportToChosenFile(target);
        ASSERT_TRUE(f.editor->isExportRunning());
        f.editor->startAudioExportJob(folder.getChildFile("second.wav"), false);
        EXPECT_EQ(f.editor->getStatusMessage(), "ANOTHER EXPORT IS ALREADY RUNNING");

        c.cancel();
        sorvane::test::pumpMessages(5);
        if (juce::String(c.name) == "overlay CANCEL")
        {
            EXPECT_FALSE(f.editor->getExportActivity().getCancelButton().isEnabled());
        }
        else
            EXPECT_EQ(f.editor->getStatusMessage(), "EXPORT CANCELLATION REQUESTED");

        // A writer that finished before the request arrived completes; either way the status says
        // what happened and nothing half-written is left.
        const auto state = f.finishExport();
        if (state == State::Cancelled)
        {
            EXPECT_EQ(f.editor->getStatusMessage(), "Export cancelled; partial output removed.");
            EXPECT_FALSE(target.exists());
        }
        else
        {
            EXPECT_EQ(state, State::Completed);
            EXPECT_EQ(f.editor->getStatusMessage(), "WAV EXPORT COMPLETE");
        }
        EXPECT_FALSE(f.editor->isExportRunning());
        for (const auto& file :
             folder.findChildFiles(juce::File::findFiles, false, "*", juce::File::FollowSymlinks::no))
            EXPECT_EQ(file.getFileExtension(), ".wav") << file.getFullPathName();
    }
}

// Without a capture, a kept window can still be taken away: EXPORT WAV writes its processed half, and
// CLEAR AUDIO leaves it to export.
TEST(EditorExport, AKeptWindowIsExportedWhenThereIsNoCapture)
{
    CaptureEditorFixture f;
    auto& s = f.editor->getSourceControls();
    f.publishSource();
    f.processor->getSourceTransport().startPlayback();
    f.runBlocks(20);
    f.editor->getTresselControls().keepThat.triggerClick();
    sorvane::test::pumpMessages(5);
    f.runBlocks(1);
    f.tick();
    ASSERT_TRUE(f.processor->hasKeepThat());
    ASSERT_FALSE(f.processor->getProcessedCapture().isComplete());
    f.processor->clearLoadedSample();
    f.tick();
    ASSERT_TRUE(f.processor->hasKeepThat());
    EXPECT_TRUE(s.exportWav.isEnabled());
    EXPECT_TRUE(s.dragWav.isEnabled());

    const auto kept = f.processor->getKeepThat();
    const auto file = f.home.getFolder().getChildFile("kept.wav");
    f.editor->exportToChosenFile(file);
    EXPECT_EQ(f.editor->getStatusMessage(), "OWNED WAV EXPORT JOB STARTED");
    ASSERT_EQ(f.finishExport(), State::Completed);
    juce::WavAudioFormat format;
    std::unique_ptr<juce::AudioFormatReader> reader(
        format.createReaderFor(file.createInputStream().release(), true));
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->sampleRate, kept.sampleRate);
    EXPECT_EQ(reader->lengthInSamples, kept.after.getNumSamples());
    EXPECT_EQ(reader->metadataValues["CMNT"], "Sorvane keepThat bars=" + juce::String(kept.bars));
    struct
    {
        int channels;
        juce::AudioBuffer<float> audio;
    } wav{(int)reader->numChannels,
          juce::AudioBuffer<float>((int)reader->numChannels, (int)reader->lengthInSamples)};
    ASSERT_TRUE(reader->read(&wav.audio, 0, (int)reader->lengthInSamples, 0, true, true));
    // The processed half, at one gain throughout: the loudest kept sample sets it.
    int loudest = 0;
    for (int i = 0; i < kept.after.getNumSamples(); ++i)
        if (std::abs(kept.after.getSample(0, i)) > std::abs(kept.after.getSample(0, loudest)))
            loudest = i;
    ASSERT_GT(std::abs(kept.after.getSample(0, loudest)), 0.0f);
    const float gain = wav.audio.getSample(0, loudest) / kept.after.getSample(0, loudest);
    for (int c = 0; c < wav.channels; ++c)
        for (int i = 0; i < kept.after.getNumSamples(); i += 97)
            EXPECT_NEAR(wav.audio.getSample(c, i), gain * kept.after.getSample(c, i), 1e-5f) << c << " " << i;
}

TEST(EditorExport, WithoutACaptureOrAWritableDestinationNothingStarts)
{
    CaptureEditorFixture f;
    f.editor->chooseAudioExport(false);
    f.editor->chooseAudioExport(true);
    ASSERT_EQ(f.alerts.size(), 2);
    EXPECT_EQ(f.alerts[0], "No processed capture: Capture a loop before exporting it.");
    EXPECT_EQ(f.alerts[1], f.alerts[0]);
    EXPECT_EQ(f.editor->getExportJob(), nullptr);

    f.editor->startAudioExportJob(f.home.getFolder().getChildFile("x.wav"), false);
    EXPECT_EQ(f.editor->getStatusMessage(), "CAPTURE IS NOT READY FOR EXPORT");
    EXPECT_FALSE(f.editor->isExportRunning());
    EXPECT_FALSE(f.home.getFolder().getChildFile("x.wav").exists());

    f.publishSource();
    f.captureWithButton(0);
    const auto directory = f.home.getFolder().getChildFile("a folder.wav");
    ASSERT_TRUE(directory.createDirectory().wasOk());
    f.editor->startAudioExportJob(directory, false);
    EXPECT_EQ(f.editor->getStatusMessage(),
              "The export request has no writable destination or work function.");
    EXPECT_FALSE(f.editor->isExportRunning());
    EXPECT_EQ(f.editor->getExportJob(), nullptr);
    f.tick();
    EXPECT_FALSE(f.editor->getExportActivity().isVisible());
    EXPECT_TRUE(directory.isDirectory());
}

TEST(EditorExport, CommandEExportsOnlyInTheStandaloneApp)
{
    CaptureEditorFixture f;
    const juce::KeyPress commandE('e', juce::ModifierKeys(juce::ModifierKeys::commandModifier), 0);
    EXPECT_TRUE(f.editor->keyPressed(commandE));
    ASSERT_EQ(f.alerts.size(), 1); // no capture yet: the same answer as the button
    EXPECT_EQ(f.alerts[0], "No processed capture: Capture a loop before exporting it.");

    auto plugin = sorvane::test::makeProcessor(juce::AudioProcessor::wrapperType_VST3);
    std::unique_ptr<SorvaneAudioProcessorEditor> pluginEditor(
        dynamic_cast<SorvaneAudioProcessorEditor*>(plugin->createEditor()));
    juce::StringArray pluginAlerts;
    pluginEditor->setAlertPresenter([&](juce::MessageBoxIconType, const juce::String& title,
                                        const juce::String&) { pluginAlerts.add(title); });
    EXPECT_TRUE(pluginEditor->keyPressed(commandE));
    EXPECT_TRUE(pluginAlerts.isEmpty());
}
} // namespace

namespace
{
TEST(EditorCapture, RendersCaptureAndExportStatesForReview)
{
    const juce::File folder(SORVANE_EDITOR_IMAGE_DIR);
    ASSERT_TRUE(folder.createDirectory());
    CaptureEditorFixture f;
    f.publishSource();
    f.captureWithButton(4);
    auto* selector = f.editor->getAppearanceSelector();
    ASSERT_NE(selector, nullptr);

    static constexpr const char* themeNames[] = {"original", "graphite", "copper"};
    const auto save = [&](const juce::String& name)
    {
        const auto image = f.editor->createComponentSnapshot(f.editor->getLocalBounds(), true, 1.0f);
        const auto file = folder.getChildFile(name + ".png");
        file.deleteFile();
        juce::FileOutputStream out(file);
        ASSERT_TRUE(out.openedOk());
        ASSERT_TRUE(juce::PNGImageFormat().writeImageToStream(image, out));
    };

    for (int theme = 0; theme < 3; ++theme)
    {
        selector->setTheme(theme, false);
        for (const bool tressel : {false, true})
        {
            const juce::String suffix = juce::String(tressel ? "tressel-" : "studio-") + themeNames[theme];
            f.editor->setTresselMode(tressel);

            // An export just launched: the overlay stands where the status line was until a tick
            // collects the job.
            f.editor->exportToChosenFile(f.home.getFolder().getChildFile("render.wav"));
            ASSERT_TRUE(f.editor->getExportActivity().isVisible());
            save("capture-exporting-" + suffix);
            f.finishExport();

            // A capture under way: CANCEL and the capture's progress in the status line.
            f.editor->toggleCapture();
            f.runBlocks(40);
            f.tick();
            ASSERT_EQ(f.editor->getSourceControls().capture.getButtonText(), "CANCEL");
            save("capture-running-" + suffix);
            f.editor->cancelCapture();
            f.captureWithButton(0);
        }
    }
}
} // namespace
