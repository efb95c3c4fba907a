#pragma once

// A stand-alone processor with its editor in a real window (the window tests run under Xvfb), in a
// temporary home where the setup advisor has already been acknowledged.
#include "EditorTestSupport.h"
#include "editor/SorvaneAudioProcessorEditor.h"
#include "processor/SorvaneAudioProcessor.h"

#include <gtest/gtest.h>

namespace sorvane::test
{
struct EditorWindowFixture : ::testing::Test
{
    EditorWindowFixture()
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
    }
    ~EditorWindowFixture() override
    {
        editor = nullptr;
        processor = nullptr;
    }

    static void pump(int ms = 50) { juce::MessageManager::getInstance()->runDispatchLoopUntil(ms); }

    bool press(const juce::KeyPress& key) { return editor->getPeer()->handleKeyPress(key); }

    // The X server hands the window the keyboard in its own time; a loaded machine takes longer.
    bool focus(juce::Component& c)
    {
        for (int i = 0; i < 40 && !c.hasKeyboardFocus(true); ++i)
        {
            c.grabKeyboardFocus();
            pump();
        }
        return c.hasKeyboardFocus(true);
    }

    AcknowledgedTemporaryHome home;
    std::unique_ptr<SorvaneAudioProcessor> processor;
    std::unique_ptr<SorvaneAudioProcessorEditor> editor;
};
} // namespace sorvane::test
