#include "EditorTestSupport.h"

#include "editor/InterfaceTheme.h"
#include "editor/Palette.h"
#include "editor/SorvaneLookAndFeel.h"

#include <gtest/gtest.h>

namespace palette = sorvane::palette;
using kavix::ui::colourFor;
using sorvane::test::rgbDistance;

namespace
{
void setTheme(SorvaneLookAndFeel& lookAndFeel, int theme)
{
    lookAndFeel.setColour(kavix::ui::themeColourId, juce::Colour(0xFF000000u | (juce::uint32)theme));
}

// A component using the look and feel, below a parent that says nothing about themes.
template <typename ComponentType>
struct Drawn
{
    template <typename... Args>
    explicit Drawn(SorvaneLookAndFeel& lookAndFeel, Args&&... args) : component(std::forward<Args>(args)...)
    {
        component.setLookAndFeel(&lookAndFeel);
        component.setVisible(true);
    }

    ~Drawn() { component.setLookAndFeel(nullptr); }

    ComponentType component;
};
} // namespace

TEST(SorvaneLookAndFeel, SetsItsColoursInOriginal)
{
    SorvaneLookAndFeel lookAndFeel;
    struct Case
    {
        int id;
        juce::uint32 argb;
    };
    const Case cases[] = {
        {juce::Slider::thumbColourId, 0xFF4BAABD}, // cyan brightened by 0.3
        {juce::Slider::trackColourId, 0xFF1691AA},
        {juce::Slider::backgroundColourId, 0xFF5D138D},
        {juce::Slider::textBoxTextColourId, 0xFFF7F5FA},
        {juce::Slider::textBoxBackgroundColourId, 0xFF07062C},
        {juce::Slider::textBoxOutlineColourId, 0xFF5D138D},
        {juce::ComboBox::backgroundColourId, 0xFF160B42},
        {juce::ComboBox::outlineColourId, 0xD95D138D},
        {juce::ComboBox::textColourId, 0xFFF7F5FA},
        {juce::PopupMenu::backgroundColourId, 0xFF160B42},
        {juce::PopupMenu::textColourId, 0xFFF7F5FA},
        {juce::PopupMenu::highlightedBackgroundColourId, 0xBF5D138D},
        {juce::PopupMenu::highlightedTextColourId, 0xFFF7F5FA},
        {juce::TextButton::buttonColourId, 0xFF5D138D},
        {juce::TextButton::textColourOffId, 0xFFF7F5FA},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lookAndFeel.findColour(c.id).getARGB(), c.argb) << std::hex << c.id;
}

TEST(SorvaneLookAndFeel, ReadsItsThemeFromItsOwnColour)
{
    SorvaneLookAndFeel lookAndFeel;
    EXPECT_EQ(lookAndFeel.getInterfaceTheme(), 0);

    struct Case
    {
        juce::uint32 stored;
        int theme;
    };
    for (const auto c : {Case{0xFF000001, 1}, Case{0xFF000002, 2}, Case{0xFF000000, 0}, Case{0xFF000007, 2},
                         Case{0xFF000102, 2}})
    {
        lookAndFeel.setColour(kavix::ui::themeColourId, juce::Colour(c.stored));
        EXPECT_EQ(lookAndFeel.getInterfaceTheme(), c.theme) << std::hex << c.stored;
    }
}

TEST(SorvaneLookAndFeel, FaderValueBarIsDrawnInTheTheme)
{
    SorvaneLookAndFeel lookAndFeel;
    Drawn<juce::Slider> fader(lookAndFeel, juce::Slider::LinearVertical, juce::Slider::NoTextBox);
    fader.component.setRange(0.0, 100.0);
    fader.component.setValue(100.0, juce::dontSendNotification);
    fader.component.setBounds(0, 0, 70, 200);

    for (const int theme : {0, 1, 2})
    {
        SCOPED_TRACE(theme);
        setTheme(lookAndFeel, theme);
        const auto image = sorvane::test::paintToImage(fader.component);

        // Half way down the full value bar: amber at 0xD9 over the darkened violet slot.
        const auto slot = colourFor(theme, palette::violet).darker(0.25f);
        const auto expected =
            slot.overlaidWith(colourFor(theme, palette::amber).withAlpha((juce::uint8)0xD9));
        const auto pixel = image.getPixelAt(35, 120);
        EXPECT_EQ(pixel.getAlpha(), 0xFF);
        EXPECT_LE(rgbDistance(pixel, expected), 3)
            << pixel.toDisplayString(true) << " vs " << expected.toDisplayString(true);

        // At the bottom of the range only the slot shows there.
        fader.component.setValue(0.0, juce::dontSendNotification);
        const auto emptyPixel = sorvane::test::paintToImage(fader.component).getPixelAt(35, 120);
        EXPECT_LE(rgbDistance(emptyPixel, slot), 2)
            << emptyPixel.toDisplayString(true) << " vs " << slot.toDisplayString(true);
        fader.component.setValue(100.0, juce::dontSendNotification);
    }
}

TEST(SorvaneLookAndFeel, OtherLinearSlidersKeepTheStandardLook)
{
    SorvaneLookAndFeel lookAndFeel;
    Drawn<juce::Slider> slider(lookAndFeel, juce::Slider::LinearHorizontal, juce::Slider::NoTextBox);
    slider.component.setRange(0.0, 100.0);
    slider.component.setValue(100.0, juce::dontSendNotification);
    slider.component.setBounds(0, 0, 200, 40);

    const auto image = sorvane::test::paintToImage(slider.component);
    const auto amber = palette::amber;
    for (int x = 0; x < image.getWidth(); ++x)
        for (int y = 0; y < image.getHeight(); ++y)
            ASSERT_GT(rgbDistance(image.getPixelAt(x, y), amber), 40) << x << ", " << y;
}

TEST(SorvaneLookAndFeel, KnobBodyIsDrawnInTheTheme)
{
    SorvaneLookAndFeel lookAndFeel;
    Drawn<juce::Slider> knob(lookAndFeel, juce::Slider::RotaryHorizontalVerticalDrag,
                             juce::Slider::NoTextBox);
    knob.component.setRange(0.0, 1.0);
    knob.component.setValue(0.0, juce::dontSendNotification);
    knob.component.setBounds(0, 0, 90, 90);

    for (const int theme : {0, 1, 2})
    {
        SCOPED_TRACE(theme);
        setTheme(lookAndFeel, theme);
        const auto image = sorvane::test::paintToImage(knob.component);

        // The centre lies half way along the body's gradient from violet to ink.
        const auto expected = colourFor(theme, palette::violet)
                                  .withAlpha((juce::uint8)0xC7)
                                  .interpolatedWith(colourFor(theme, palette::ink), 0.5f);
        const auto pixel = image.getPixelAt(45, 45);
        EXPECT_LE(rgbDistance(pixel, expected), 6)
            << pixel.toDisplayString(true) << " vs " << expected.toDisplayString(true);
    }
}

TEST(SorvaneLookAndFeel, DisabledButtonsUseTheThemedMetal)
{
    SorvaneLookAndFeel lookAndFeel;
    juce::Component parent;
    Drawn<juce::TextButton> button(lookAndFeel);
    parent.addAndMakeVisible(button.component);
    button.component.setBounds(0, 0, 120, 32);
    kavix::ui::setColour(button.component, juce::TextButton::buttonColourId, palette::amber);

    for (const int theme : {0, 1, 2})
    {
        SCOPED_TRACE(theme);
        setTheme(lookAndFeel, theme);

        // Disabled through its parent: the button's own colour no longer matters.
        parent.setEnabled(false);
        const auto base = colourFor(theme, palette::metalDark).darker(0.12f);
        const auto expected = base.brighter(0.1f).interpolatedWith(base.darker(0.3f), 0.5f);
        const auto pixel = sorvane::test::paintToImage(button.component).getPixelAt(60, 16);
        EXPECT_LE(rgbDistance(pixel, expected), 4)
            << pixel.toDisplayString(true) << " vs " << expected.toDisplayString(true);
        parent.setEnabled(true);
    }
}
