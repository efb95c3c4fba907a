// What the status line says about loads, and how long it says it: a notice goes after its time, an
// error waits for the user's next action.
#include "EditorRefreshFixture.h"

#include <gtest/gtest.h>

#include <functional>

using sorvane::PreparationState;
using sorvane::test::RefreshFixture;
using sorvane::test::writeWav;

namespace
{
const juce::String replacedPrefix = "SOURCE READY / PREVIOUS SOURCE REPLACED AT A SAFE BOUNDARY / ";

// The refresh on its real timer and clock, as in the running app.
void runOnRealTimer(RefreshFixture& f)
{
    f.editor->setRefreshHooks({[] { return juce::Time::getMillisecondCounterHiRes(); }, [] { return true; }});
    f.editor->startTimerHz(60);
}

// Pumps messages until `done` or the time is up; the time it took, in milliseconds.
template <typename Condition>
double pumpUntil(Condition done, double limitMilliseconds)
{
    const auto start = juce::Time::getMillisecondCounterHiRes();
    while (!done() && juce::Time::getMillisecondCounterHiRes() - start < limitMilliseconds)
        sorvane::test::pumpMessages(10);
    return juce::Time::getMillisecondCounterHiRes() - start;
}
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

TEST(EditorStatusMessages, AnErrorOutlastsANoticeUntilTheNextAction)
{
    RefreshFixture f;
    runOnRealTimer(f);

    // A notice goes by itself.
    f.editor->setTresselMode(true);
    const auto notice = f.editor->getStatusMessage();
    ASSERT_EQ(notice, "TRESSEL MODE / SIMPLIFIED STUDIO SURFACE / SAME SOUND ENGINE");
    pumpUntil([&f, &notice] { return f.statusLine().endsWith(notice); }, 2000);
    ASSERT_TRUE(f.statusLine().endsWith(notice)) << f.statusLine();
    const auto noticeShown = pumpUntil([&f, &notice] { return !f.statusLine().contains(notice); }, 15000);
    EXPECT_FALSE(f.statusLine().contains(notice)) << "a notice must not stay";

    // Errors from two different commands stay for 3 s and for longer than the notice did, and
    // each goes at its own kind of next action.
    const auto pasteRejected = [&f] { f.editor->pasteDnaText("not a sound"); };
    const auto rangeRefused = [&f]
    {
        auto& s = f.editor->getSourceControls();
        s.rangeSliders[0].setValue(60.0, juce::dontSendNotification);
        s.rangeSliders[1].setValue(40.0, juce::sendNotificationSync);
    };
    const struct
    {
        const char* command;
        std::function<void()> fail;
        const char* nextAction;
    } cases[] = {{"PASTE DNA", pasteRejected, "click"},
                 {"RANGE", rangeRefused, "key"},
                 {"PASTE DNA", pasteRejected, "new status"}};
    for (const auto& c : cases)
    {
        c.fail();
        const auto error = f.editor->getStatusMessage();
        ASSERT_TRUE(f.editor->isStatusErrorShown()) << c.command << ": " << error;
        ASSERT_TRUE(error.isNotEmpty()) << c.command;
        pumpUntil([] { return false; }, juce::jmax(3000.0, 1.5 * noticeShown));
        EXPECT_TRUE(f.statusLine().endsWith("  /  " + error)) << c.command << ": " << f.statusLine();

        const juce::String action(c.nextAction);
        if (action == "click")
        {
            auto& button = f.editor->getSourceControls().play;
            const juce::MouseEvent click(juce::Desktop::getInstance().getMainMouseSource(), {},
                                         juce::ModifierKeys::leftButtonModifier, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f,
                                         &button, &button, juce::Time::getCurrentTime(), {},
                                         juce::Time::getCurrentTime(), 1, false);
            f.editor->mouseDown(click);
        }
        else if (action == "key")
            f.editor->keyPressed(juce::KeyPress(juce::KeyPress::F12Key));
        else
            f.editor->setTresselMode(false);
        pumpUntil([&f, &error] { return !f.statusLine().contains(error); }, 1000);
        EXPECT_FALSE(f.statusLine().contains(error)) << c.command << " after a " << c.nextAction;
        EXPECT_FALSE(f.editor->isStatusErrorShown()) << c.command;
    }
}
