// Capture and export controls in a real window: JUCE's save chooser, the external drag of a written
// capture and Escape through the window's peer.
#include "EditorTestSupport.h"
#include "editor/SorvaneAudioProcessorEditor.h"
#include "processor/SorvaneAudioProcessor.h"

#include <gtest/gtest.h>
#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>

namespace
{
template <typename Type>
Type* findChildOfType(juce::Component& root)
{
    if (auto* match = dynamic_cast<Type*>(&root))
        return match;
    for (auto* child : root.getChildren())
        if (auto* match = findChildOfType<Type>(*child))
            return match;
    return nullptr;
}

juce::TextButton* findButton(juce::Component& root, const juce::String& text)
{
    if (auto* button = dynamic_cast<juce::TextButton*>(&root);
        button != nullptr && button->getButtonText() == text)
        return button;
    for (auto* child : root.getChildren())
        if (auto* match = findButton(*child, text))
            return match;
    return nullptr;
}

struct ExportOnScreen : ::testing::Test
{
    ExportOnScreen()
    {
        juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Standalone);
        processor = std::make_unique<SorvaneAudioProcessor>();
        juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Undefined);
        processor->prepareToPlay(8000.0, 256);
        editor = std::make_unique<SorvaneAudioProcessorEditor>(*processor);
        editor->setVisible(true);
        editor->addToDesktop(juce::ComponentPeer::windowHasTitleBar);
        editor->toFront(true);
        pump(200);

        auto sample = std::make_shared<sorvane::LoadedSample>();
        sample->sampleRate = 8000.0;
        sample->name = "tone.wav";
        sample->audio.setSize(2, 32000);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 32000; ++i)
                sample->audio.setSample(c, i, 0.4f * std::sin(0.05f * (float)i));
        processor->getSourceLibrary().publish(sample);
    }

    ~ExportOnScreen() override
    {
        editor = nullptr;
        processor = nullptr;
    }

    static void pump(int ms = 50) { juce::MessageManager::getInstance()->runDispatchLoopUntil(ms); }

    void runBlocks(int count)
    {
        juce::AudioBuffer<float> block(2, 256);
        juce::MidiBuffer midi;
        for (int b = 0; b < count; ++b)
        {
            block.clear();
            processor->processBlock(block, midi);
        }
    }

    void completeCapture()
    {
        editor->getSourceControls().captureLength.setSelectedItemIndex(0);
        editor->toggleCapture();
        while (processor->getProcessedCapture().isActive())
            runBlocks(32);
    }

    // Lets the editor's own timer collect the job.
    bool waitForExportEnd()
    {
        const auto end = juce::Time::getMillisecondCounter() + 60000;
        while (editor->isExportRunning() && juce::Time::getMillisecondCounter() < end)
            pump(20);
        return !editor->isExportRunning();
    }

    sorvane::test::AcknowledgedTemporaryHome home;
    std::unique_ptr<SorvaneAudioProcessor> processor;
    std::unique_ptr<SorvaneAudioProcessorEditor> editor;
};
} // namespace

TEST_F(ExportOnScreen, ExportWavOpensTheSaveChooserAndWritesTheChosenFile)
{
    completeCapture();
    pump(100); // a tick enables the button
    ASSERT_TRUE(editor->getSourceControls().exportWav.isEnabled());
    editor->getSourceControls().exportWav.triggerClick();
    pump(400);

    auto* dialog = dynamic_cast<juce::FileChooserDialogBox*>(juce::Component::getCurrentlyModalComponent());
    ASSERT_NE(dialog, nullptr) << "JUCE's save chooser is open";
    EXPECT_EQ(dialog->getName(), "Export processed loop");
    auto* browser = findChildOfType<juce::FileBrowserComponent>(*dialog);
    ASSERT_NE(browser, nullptr);
    EXPECT_EQ(browser->getSelectedFile(0), home.getFolder().getChildFile("Sorvane-processed.wav"))
        << "without a remembered folder the chooser starts at home";

    const auto folder = home.getFolder().getChildFile("mixes");
    ASSERT_TRUE(folder.createDirectory().wasOk());
    browser->setRoot(folder);
    browser->setFileName("loop one");
    pump(100);
    auto* save = findButton(*dialog, "Save");
    ASSERT_NE(save, nullptr);
    save->triggerClick();
    pump(200);

    ASSERT_TRUE(waitForExportEnd());
    const auto written = folder.getChildFile("loop one.wav");
    ASSERT_TRUE(written.existsAsFile()) << "the chooser's name gets its .wav";
    std::unique_ptr<juce::AudioFormatReader> reader(
        juce::WavAudioFormat().createReaderFor(written.createInputStream().release(), true));
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->bitsPerSample, 24u);
    EXPECT_EQ(reader->lengthInSamples, 16000 + 32000);
    EXPECT_EQ(editor->getStatusMessage(), "WAV EXPORT COMPLETE");
    EXPECT_EQ(editor->getDirectoryStore().get("audioExportDirectory"), folder);
    EXPECT_TRUE(editor->hasKeyboardFocus(false)) << "the keyboard map works again without a click";
}

TEST_F(ExportOnScreen, DragWavStartsARealExternalDragOfTheWrittenFile)
{
    completeCapture();
    pump(100); // a tick enables the button
    ASSERT_TRUE(editor->getSourceControls().dragWav.isEnabled());
    editor->getSourceControls().dragWav.triggerClick();
    pump(50);
    ASSERT_TRUE(waitForExportEnd());
    // Started means X gave the window the pointer; the drag then follows the pointer to its drop.
    EXPECT_EQ(editor->getStatusMessage(), "DRAG WAV READY");
    const auto captures =
        juce::File::getSpecialLocation(juce::File::tempDirectory).getChildFile("Sorvane Captures");
    const auto written = captures.findChildFiles(juce::File::findFiles, false, "Sorvane-processed*.wav");
    ASSERT_FALSE(written.isEmpty());
    for (const auto& file : written)
        file.deleteFile();
}

TEST_F(ExportOnScreen, EscapeThroughTheWindowCancelsARunningCapture)
{
    editor->toggleCapture();
    runBlocks(4);
    ASSERT_TRUE(processor->getProcessedCapture().isActive());
    editor->grabKeyboardFocus();
    pump();
    EXPECT_TRUE(editor->getPeer()->handleKeyPress(juce::KeyPress(juce::KeyPress::escapeKey)));
    EXPECT_FALSE(processor->getProcessedCapture().isActive());
    EXPECT_EQ(editor->getStatusMessage(), "CAPTURE CANCELLED");
}
