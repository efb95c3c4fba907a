#include "EditorTestSupport.h"

#include "editor/ExportActivity.h"

#include <gtest/gtest.h>

namespace
{
// Records what the progress bar asks to be drawn, which is what the user sees.
struct ProgressSpy : juce::LookAndFeel_V4
{
    void drawProgressBar(juce::Graphics&, juce::ProgressBar&, int, int, double progress,
                         const juce::String& textToShow) override
    {
        ++paints;
        lastProgress = progress;
        lastText = textToShow;
    }

    int paints = 0;
    double lastProgress = 0.0;
    juce::String lastText;
};

struct ActivityFixture
{
    ActivityFixture()
    {
        activity.setLookAndFeel(&spy);
        activity.setBounds(0, 0, 400, 24);
        activity.onCancel = [this] { ++cancels; };
    }

    ~ActivityFixture() { activity.setLookAndFeel(nullptr); }

    // The text the bar shows now.
    juce::String shownText()
    {
        spy.paints = 0;
        sorvane::test::paintToImage(activity);
        EXPECT_EQ(spy.paints, 1) << "the bar was not painted";
        return spy.lastText;
    }

    void clickCancel()
    {
        activity.getCancelButton().triggerClick();
        sorvane::test::pumpMessages();
    }

    ProgressSpy spy;
    ExportActivity activity;
    int cancels = 0;
};
} // namespace

TEST(ExportActivity, IdentifiesItselfAndStartsHidden)
{
    ActivityFixture f;
    EXPECT_EQ(f.activity.getComponentID(), "exportActivity");
    EXPECT_EQ(f.activity.getTitle(), "Export in progress");
    EXPECT_EQ(f.activity.getProgressBar().getComponentID(), "exportAnimation");
    EXPECT_EQ(f.activity.getProgressBar().getTitle(), "Export running; please wait for completion");
    EXPECT_EQ(f.activity.getCancelButton().getComponentID(), "cancelExport");
    EXPECT_EQ(f.activity.getCancelButton().getTitle(), "Cancel current export");
    EXPECT_EQ(f.activity.getCancelButton().getButtonText(), "CANCEL");

    EXPECT_FALSE(f.activity.isVisible());
    EXPECT_FALSE(f.activity.isActive());
    EXPECT_FALSE(f.activity.getProgressBar().isVisible());
    EXPECT_FALSE(f.activity.getCancelButton().isVisible());
}

TEST(ExportActivity, ActiveShowsAnIndeterminateBarWithItsText)
{
    ActivityFixture f;
    f.activity.setActive(true);
    EXPECT_TRUE(f.activity.isVisible());
    EXPECT_TRUE(f.activity.getProgressBar().isVisible());
    EXPECT_TRUE(f.activity.getCancelButton().isVisible());
    EXPECT_TRUE(f.activity.getCancelButton().isEnabled());
    EXPECT_EQ(f.shownText(), "EXPORTING - PLEASE WAIT");

    // Once the bar has looked at its progress it animates instead of showing a fraction.
    sorvane::test::pumpMessages(80);
    f.shownText();
    EXPECT_LT(f.spy.lastProgress, 0.0);
    EXPECT_FALSE(f.spy.lastText.containsChar('%'));

    f.activity.setActive(false);
    EXPECT_FALSE(f.activity.isVisible());
    EXPECT_FALSE(f.activity.getProgressBar().isVisible());
    EXPECT_FALSE(f.activity.getCancelButton().isVisible());
}

TEST(ExportActivity, CancelDisablesItselfSaysSoAndCallsTheActionOnce)
{
    ActivityFixture f;
    f.activity.setActive(true);
    f.clickCancel();

    EXPECT_EQ(f.cancels, 1);
    EXPECT_FALSE(f.activity.getCancelButton().isEnabled());
    EXPECT_EQ(f.shownText(), "CANCELLING - PLEASE WAIT");

    // A disabled button cannot cancel twice.
    f.clickCancel();
    EXPECT_EQ(f.cancels, 1);

    // Still running: polling it active again keeps the cancelling state.
    f.activity.setActive(true);
    EXPECT_FALSE(f.activity.getCancelButton().isEnabled());
    EXPECT_EQ(f.shownText(), "CANCELLING - PLEASE WAIT");

    // The next export starts fresh.
    f.activity.setActive(false);
    f.activity.setActive(true);
    EXPECT_TRUE(f.activity.getCancelButton().isEnabled());
    EXPECT_EQ(f.shownText(), "EXPORTING - PLEASE WAIT");
}

TEST(ExportActivity, CancelWithoutAnActionOnlyUpdatesTheStrip)
{
    ActivityFixture f;
    f.activity.onCancel = nullptr;
    f.activity.setActive(true);
    f.clickCancel();
    EXPECT_FALSE(f.activity.getCancelButton().isEnabled());
    EXPECT_EQ(f.shownText(), "CANCELLING - PLEASE WAIT");
}

TEST(ExportActivity, LayoutGivesTheButtonTheRightEdge)
{
    ActivityFixture f;
    struct Case
    {
        int width, height;
        juce::Rectangle<int> bar, button;
    };
    const Case cases[] = {
        {400, 24, {0, 0, 300, 24}, {308, 0, 92, 24}},
        {100, 21, {0, 0, 0, 21}, {8, 0, 92, 21}},
        {60, 20, {0, 0, 0, 20}, {0, 0, 60, 20}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.width);
        f.activity.setSize(c.width, c.height);
        EXPECT_EQ(f.activity.getProgressBar().getBounds(), c.bar);
        EXPECT_EQ(f.activity.getCancelButton().getBounds(), c.button);
    }
}
