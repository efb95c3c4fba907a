#pragma once

// A stand-alone processor with its editor, driven headless: a hand-ticked timer, audio blocks run by
// the test, alerts and external drags recorded instead of shown.
#include "EditorTestSupport.h"
#include "TestSupport.h"

#include "editor/SorvaneAudioProcessorEditor.h"

#include <cmath>

namespace sorvane::test
{
struct CaptureEditorFixture
{
    sorvane::test::ScopedTemporaryHome home;
    std::unique_ptr<SorvaneAudioProcessor> processor =
        sorvane::test::makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
    std::unique_ptr<SorvaneAudioProcessorEditor> editor;
    juce::AudioBuffer<float> block{2, 256};
    juce::MidiBuffer midi;
    double now = 0.0;
    juce::StringArray alerts, drags;
    bool dragStarts = true;

    CaptureEditorFixture()
    {
        processor->prepareToPlay(8000.0, 256);
        editor.reset(dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
        editor->stopTimer();
        editor->setRefreshHooks({[this] { return now; }, [] { return true; }});
        editor->setAlertPresenter([this](juce::MessageBoxIconType, const juce::String& title,
                                         const juce::String& text) { alerts.add(title + ": " + text); });
        editor->setExternalDragStarter(
            [this](const juce::String& path)
            {
                drags.add(path);
                return dragStarts;
            });
    }

    ~CaptureEditorFixture()
    {
        editor = nullptr;
        for (const auto& path : drags)
            juce::File(path).deleteFile();
    }

    void publishSource(int frames = 64000)
    {
        auto sample = std::make_shared<sorvane::LoadedSample>();
        sample->sampleRate = 8000.0;
        sample->name = "tone.wav";
        sample->audio.setSize(2, frames);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < frames; ++i)
                sample->audio.setSample(c, i, 0.4f * std::sin(0.07f * (float)i));
        processor->getSourceLibrary().publish(sample);
    }

    void tick()
    {
        now += 1000.0 / 60.0;
        editor->timerCallback();
    }

    void runBlocks(int count)
    {
        for (int b = 0; b < count; ++b)
        {
            block.clear();
            processor->processBlock(block, midi);
        }
    }

    // Selects a capture length and records it through the CAPTURE button to the end of its tail.
    void captureWithButton(int lengthItemIndex)
    {
        editor->getSourceControls().captureLength.setSelectedItemIndex(lengthItemIndex);
        editor->getSourceControls().capture.triggerClick();
        sorvane::test::pumpMessages(5);
        while (processor->getProcessedCapture().isActive())
            runBlocks(64);
        tick();
    }

    sorvane::CreatorExportState finishExport()
    {
        const auto end = juce::Time::getMillisecondCounter() + 60000;
        for (;;)
        {
            const auto* job = editor->getExportJob();
            using State = sorvane::CreatorExportState;
            const auto state = job != nullptr ? job->getSnapshot().state : State::Idle;
            if (state == State::Completed || state == State::Cancelled || state == State::Failed ||
                juce::Time::getMillisecondCounter() > end)
            {
                tick();
                return state;
            }
            tick();
            juce::Thread::sleep(2);
        }
    }

    juce::String statusLine() { return editor->getSourceControls().status.getText(); }
};

} // namespace sorvane::test
