#include "editor/SorvaneAudioProcessorEditor.h"
#include "processor/SorvaneAudioProcessor.h"

#include <gtest/gtest.h>

namespace
{
void click(juce::Button& button)
{
    button.triggerClick();
    juce::MessageManager::getInstance()->runDispatchLoopUntil(30);
}
} // namespace

// The real system clipboard needs an X server, so this runs with the window tests.
TEST(EditorClipboard, CopiedDnaReachesTheSystemClipboardAndPastesBack)
{
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Standalone);
    SorvaneAudioProcessor processor;
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Undefined);
    SorvaneAudioProcessorEditor editor(processor);

    juce::SystemClipboard::copyTextToClipboard("not yet DNA");
    click(editor.getTresselControls().generate);
    click(editor.getTresselControls().copyDna);
    const auto copied = juce::SystemClipboard::getTextFromClipboard();
    EXPECT_TRUE(copied.startsWith("SV1:"));
    EXPECT_EQ(editor.getStatusMessage(), "EXACT VERSIONED SORVANE DNA COPIED");

    juce::String error;
    EXPECT_EQ(copied, processor.copyTresselDna(error));

    click(editor.getTresselControls().pasteDna);
    EXPECT_EQ(editor.getStatusMessage(), "DNA IMPORTED / PARENT LINEAGE RETAINED OFFLINE");

    juce::SystemClipboard::copyTextToClipboard("SV1:@@@@");
    click(editor.getTresselControls().pasteDna);
    EXPECT_EQ(editor.getStatusMessage(), "The Sorvane DNA encoding is corrupt.");
}
