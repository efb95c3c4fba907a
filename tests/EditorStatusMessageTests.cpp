// What the status line says about loads.
#include "EditorRefreshFixture.h"

#include <gtest/gtest.h>

using sorvane::PreparationState;
using sorvane::test::RefreshFixture;
using sorvane::test::writeWav;

namespace
{
const juce::String replacedPrefix = "SOURCE READY / PREVIOUS SOURCE REPLACED AT A SAFE BOUNDARY / ";
} // namespace

TEST(EditorStatusMessages, OnlyASourceThatTakesAnothersPlaceSaysItReplacedOne)
{
    RefreshFixture f;
    const auto first = writeWav(f.folder.getChildFile("first.wav"), 1.0, 8000, 1);
    const auto second = writeWav(f.folder.getChildFile("second.wav"), 1.5, 8000, 2);
    const struct
    {
        const char* step;
        juce::File file;
        bool clearBefore, replaced;
    } steps[] = {{"first load", first, false, false},
                 {"second load", second, false, true},
                 {"load after CLEAR AUDIO", first, true, false},
                 {"load over it", first, false, true}};
    for (const auto& s : steps)
    {
        if (s.clearBefore)
        {
            f.editor->getSourceControls().clearAudio.triggerClick();
            sorvane::test::pumpMessages(20);
            ASSERT_EQ(f.processor->getSourceLibrary().getPublished(), nullptr) << s.step;
        }
        ASSERT_EQ(f.dropAndLoad(s.file).state, (int)PreparationState::Published) << s.step;
        const auto sample = f.processor->getSourceLibrary().getCurrentSample();
        ASSERT_NE(sample, nullptr) << s.step;
        EXPECT_EQ(f.editor->getStatusMessage(),
                  (s.replaced ? replacedPrefix : juce::String("SOURCE READY / ")) + sample->traits.summary)
            << s.step;
        EXPECT_TRUE(f.statusLine().endsWith("  /  " + f.editor->getStatusMessage())) << s.step;
    }
}
