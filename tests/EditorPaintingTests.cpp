// The editor's own drawing: panel geometry, the static layers drawn once per size, mode and theme,
// the activity display inside its rectangle, colours through the theme, and no control over the dial.
#include "EditorTestSupport.h"
#include "TestSupport.h"

#include "editor/EditorPainting.h"
#include "editor/InterfaceTheme.h"
#include "editor/Palette.h"
#include "editor/SorvaneAudioProcessorEditor.h"

#include <gtest/gtest.h>

namespace
{
namespace painting = sorvane::painting;
using Rect = juce::Rectangle<int>;

struct PaintingFixture
{
    sorvane::test::ScopedTemporaryHome home;
    std::unique_ptr<SorvaneAudioProcessor> processor =
        sorvane::test::makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
    std::unique_ptr<SorvaneAudioProcessorEditor> editor;

    PaintingFixture()
    {
        editor.reset(dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
        editor->stopTimer();
    }
    ~PaintingFixture() { editor = nullptr; }

    juce::Image paint(std::optional<Rect> clip = std::nullopt)
    {
        juce::Image image(juce::Image::ARGB, editor->getWidth(), editor->getHeight(), true);
        juce::Graphics g(image);
        if (clip)
            g.reduceClipRegion(*clip);
        editor->paint(g);
        return image;
    }
};

// The dial itself: the display rectangle without the caption's line.
Rect dialOf(const SorvaneAudioProcessorEditor& editor)
{
    return editor.getAnimatedVisualBounds().withTrimmedBottom(painting::monitorCaptionHeight + 2);
}
} // namespace

TEST(EditorPainting, PanelsFollowTheWidthAndTheMode)
{
    struct Case
    {
        int width, height;
        bool tressel;
        Rect left, middle, right;
    };
    const Case cases[] = {
        {1180, 720, false, {12, 166, 294, 382}, {316, 166, 548, 382}, {874, 166, 294, 382}},
        {1100, 700, false, {12, 166, 274, 362}, {296, 166, 508, 362}, {814, 166, 274, 362}},
        {1180, 720, true, {12, 106, 294, 442}, {316, 106, 548, 442}, {874, 106, 294, 442}},
        // Below the floor of 260 the sides stay 260; the right one takes what is left.
        {600, 720, false, {12, 166, 260, 382}, {282, 166, 0, 382}, {282, 166, 294 - 34 - 0, 382}},
        {300, 720, false, {12, 166, 260, 382}, {282, 166, 0, 382}, {282, 166, 6, 382}},
        // Too short: no negative heights.
        {1180, 200, false, {12, 166, 294, 0}, {316, 166, 548, 0}, {874, 166, 294, 0}},
    };
    for (const auto& c : cases)
    {
        const auto p = painting::computePaintedPanels(c.width, c.height, c.tressel);
        if (c.width == 600)
        {
            // m = 576: left 260, right min(306, 260) = 260 flush with x = 588, middle 296..578.
            EXPECT_EQ(p[0], Rect(12, 166, 260, 382));
            EXPECT_EQ(p[2], Rect(328, 166, 260, 382));
            EXPECT_EQ(p[1], Rect(282, 166, 36, 382));
            continue;
        }
        EXPECT_EQ(p[0], c.left) << c.width << "x" << c.height;
        EXPECT_EQ(p[1], c.middle) << c.width << "x" << c.height;
        EXPECT_EQ(p[2], c.right) << c.width << "x" << c.height;
    }
    EXPECT_STREQ(painting::panelTitles(false)[1], "B/C  /  RESONATE + FRACTURE");
    EXPECT_STREQ(painting::panelTitles(true)[2], "TRESSEL  /  REVIEW + EXPORT");
}

TEST(EditorPainting, CaptionNamesTheTierOnlyOnALargeDisplay)
{
    EXPECT_EQ(painting::monitorCaption(259, 1, 40), "DSP ACTIVITY");
    EXPECT_EQ(painting::monitorCaption(260, 1, 40), "DSP ACTIVITY MONITOR  /  VIS MED 40 FPS");
    EXPECT_EQ(painting::monitorCaption(400, 0, 60), "DSP ACTIVITY MONITOR  /  VIS HIGH 60 FPS");
    EXPECT_EQ(painting::monitorCaption(400, 2, 24), "DSP ACTIVITY MONITOR  /  VIS LOW 24 FPS");
}

TEST(EditorPainting, StaticLayersAreDrawnOncePerSizeModeAndTheme)
{
    PaintingFixture f;
    f.editor->setTresselMode(false);
    const auto first = f.paint();
    EXPECT_EQ(f.editor->getStaticLayerRenderCount(), 1);

    // A tick's repaint, clipped to the display, copies the layers back instead of drawing them.
    for (int i = 0; i < 5; ++i)
    {
        f.editor->timerCallback();
        f.paint(f.editor->getAnimatedVisualBounds());
    }
    EXPECT_EQ(f.editor->getStaticLayerRenderCount(), 1);
    // Outside the display a clipped paint leaves nothing behind; the header is the static one.
    const auto clipped = f.paint(f.editor->getAnimatedVisualBounds());
    EXPECT_EQ(clipped.getPixelAt(40, 27).getAlpha(), 0);
    EXPECT_EQ(f.paint().getPixelAt(40, 27), first.getPixelAt(40, 27));

    f.editor->setTresselMode(true);
    f.paint();
    EXPECT_EQ(f.editor->getStaticLayerRenderCount(), 2);
    f.editor->getAppearanceSelector()->setTheme(1, false);
    const auto graphite = f.paint();
    EXPECT_EQ(f.editor->getStaticLayerRenderCount(), 3);
    EXPECT_NE(graphite.getPixelAt(40, 27), first.getPixelAt(40, 27)) << "the badge follows the theme";
    f.editor->setSize(1300, 800);
    f.paint();
    EXPECT_EQ(f.editor->getStaticLayerRenderCount(), 4);
}

TEST(EditorPainting, SolidMarksTakeTheThemesColours)
{
    PaintingFixture f;
    for (int theme = 0; theme < 3; ++theme)
    {
        f.editor->getAppearanceSelector()->setTheme(theme, false);
        for (const bool tressel : {false, true})
        {
            f.editor->setTresselMode(tressel);
            const auto image = f.paint();
            const auto amber = kavix::ui::colourFor(theme, sorvane::palette::amber);
            // The header's 3-px bar after the badge, the gap and the title box.
            EXPECT_EQ(image.getPixelAt(22 + 58 + 12 + 185 + 1, 30), amber) << theme;
            // Each panel's accent bar.
            for (const auto& panel : painting::computePaintedPanels(1180, 720, tressel))
            {
                const int band = std::min(panel.getHeight() - 2, 29);
                EXPECT_EQ(
                    image.getPixelAt(panel.getX() + panel.getWidth() - 2 - 37 + 12, panel.getY() + band / 2),
                    amber)
                    << theme << " " << panel.toString();
            }
        }
    }
}

TEST(EditorPainting, DisplayStaysInsideItsRectangleAtFullActivity)
{
    sorvane::ScopeVisualState state;
    state.parameters.fill(1.0f);
    state.history.fill(1.0f);
    state.overall = 1.0f;
    state.phase = 1.3f;
    for (const int step : {1, 2, 4})
    {
        const Rect display(40, 30, 187, 187);
        juce::Image image(juce::Image::ARGB, 300, 260, true);
        {
            juce::Graphics g(image);
            painting::paintActivityDisplay(g, 0, display, state, step);
        }
        int inside = 0;
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
            {
                const bool painted = image.getPixelAt(x, y).getAlpha() != 0;
                if (!display.contains(x, y))
                    ASSERT_FALSE(painted) << "step " << step << " at " << x << "," << y;
                inside += painted;
            }
        EXPECT_GT(inside, 187 * 187 / 2) << step;
    }
    // Thinner geometry on lower tiers draws less.
    const auto drawn = [&state](int step)
    {
        juce::Image image(juce::Image::ARGB, 200, 200, true);
        juce::Graphics g(image);
        painting::paintActivityDisplay(g, 0, {0, 0, 200, 200}, state, step);
        return image;
    };
    int differing = 0;
    const auto a = drawn(1), b = drawn(4);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x)
            differing += a.getPixelAt(x, y) != b.getPixelAt(x, y);
    EXPECT_GT(differing, 200);
}

TEST(EditorPainting, NoControlSitsOnTheDialAtAnySizeOrMode)
{
    PaintingFixture f;
    for (const auto& [w, h] : {std::pair{1100, 700}, {1180, 720}, {1680, 1020}})
        for (const bool tressel : {false, true})
        {
            f.editor->setSize(w, h);
            f.editor->setTresselMode(tressel);
            const auto dial = dialOf(*f.editor);
            ASSERT_FALSE(dial.isEmpty());
            for (auto* child : f.editor->getChildren())
                if (child->isVisible() && !child->getBounds().isEmpty())
                    EXPECT_FALSE(child->getBounds().intersects(dial))
                        << w << "x" << h << (tressel ? " tressel " : " studio ") << child->getComponentID()
                        << " " << child->getBounds().toString() << " over " << dial.toString();
        }
}

TEST(EditorPainting, ASilentEditorComesToRestAndAMovedKnobWakesIt)
{
    PaintingFixture f;
    double now = 0.0;
    f.editor->setRefreshHooks({[&now] { return now; }, [] { return true; }});
    const auto tick = [&]
    {
        now += 1000.0 / 60.0;
        f.editor->timerCallback();
        return sorvane::scopeVisualSignature(f.editor->getScopeVisualState());
    };
    for (int i = 0; i < 600; ++i)
        tick();
    const auto settled = tick();
    for (int i = 0; i < 60; ++i)
        ASSERT_EQ(tick(), settled) << "tick " << i << " would repaint an unchanged display";

    sorvane::test::setPlain(*f.processor, "drive", 90.0f);
    EXPECT_NE(tick(), settled);
}
