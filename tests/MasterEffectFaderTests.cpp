#include "EditorTestSupport.h"
#include "TestSupport.h"

#include "editor/InterfaceTheme.h"
#include "editor/MasterEffectFader.h"
#include "editor/Palette.h"
#include "editor/SorvaneLookAndFeel.h"

#include <gtest/gtest.h>

#include <memory>

using sorvane::test::makeProcessor;
using sorvane::test::plain;
using sorvane::test::setPlain;

namespace
{
struct FaderFixture
{
    FaderFixture()
        : processor(makeProcessor()),
          fader(std::make_unique<MasterEffectFader>(processor->getParameterState(), lookAndFeel))
    {
    }

    ~FaderFixture() { fader.reset(); }

    SorvaneLookAndFeel lookAndFeel;
    std::unique_ptr<SorvaneAudioProcessor> processor;
    std::unique_ptr<MasterEffectFader> fader;
};
} // namespace

TEST(MasterEffectFader, IdentifiesItselfAndItsParts)
{
    FaderFixture f;
    auto& fader = *f.fader;
    EXPECT_EQ(fader.getComponentID(), "masterTotalEffectGroup");
    EXPECT_EQ(fader.getTitle(), "Master Total Effect");
    EXPECT_EQ(fader.getDescription(), "Accessible master dry and processed signal blend");

    auto& slider = fader.getSlider();
    EXPECT_EQ(slider.getComponentID(), "masterTotalEffect");
    EXPECT_EQ(slider.getTitle(), "Total Effect");
    EXPECT_EQ(slider.getTooltip(), "Master dry and processed signal blend");
    EXPECT_EQ(slider.getSliderStyle(), juce::Slider::LinearVertical);
    EXPECT_EQ(slider.getTextBoxPosition(), juce::Slider::NoTextBox);
    EXPECT_EQ(&slider.getLookAndFeel(), &f.lookAndFeel);

    EXPECT_EQ(fader.getTitleLabel().getText(), "TOTAL EFFECT");
    EXPECT_EQ(fader.getTitleLabel().getJustificationType(), juce::Justification::centred);
    EXPECT_EQ(fader.getTitleLabel().findColour(juce::Label::textColourId).getARGB(), 0xFFF7F5FAu);
    EXPECT_EQ(fader.getValueLabel().getJustificationType(), juce::Justification::centred);
    EXPECT_EQ(fader.getValueLabel().findColour(juce::Label::textColourId).getARGB(), 0xFF1691AAu);
    EXPECT_EQ(fader.getValueLabel().findColour(juce::Label::backgroundColourId).getARGB(), 0xD107062Cu);
    EXPECT_EQ(fader.getValueLabel().findColour(juce::Label::outlineColourId).getARGB(), 0xB25D138Du);
}

TEST(MasterEffectFader, ReadoutFollowsTheMixParameter)
{
    FaderFixture f;
    EXPECT_EQ(f.fader->getValueLabel().getText(), "100.0%");

    struct Case
    {
        float mix;
        const char* expected;
    };
    for (const auto c :
         {Case{42.5f, "42.5%"}, Case{0.0f, "0.0%"}, Case{7.3f, "7.3%"}, Case{100.0f, "100.0%"}})
    {
        setPlain(*f.processor, "mix", c.mix);
        EXPECT_EQ(f.fader->getValueLabel().getText(), c.expected);
    }

    f.fader->getSlider().setValue(63.2, juce::sendNotificationSync);
    EXPECT_NEAR(plain(*f.processor, "mix"), 63.2f, 1e-4f);
    EXPECT_EQ(f.fader->getValueLabel().getText(), "63.2%");
}

TEST(MasterEffectFader, SyncPicksUpAValueTheAttachmentHasNotDelivered)
{
    FaderFixture f;
    auto& parameter = sorvane::test::parameter(*f.processor, "mix");
    parameter.setValue(parameter.convertTo0to1(12.5f));
    EXPECT_EQ(f.fader->getValueLabel().getText(), "100.0%");

    f.fader->syncToProcessor();
    EXPECT_NEAR(f.fader->getSlider().getValue(), 12.5, 1e-4);
    EXPECT_EQ(f.fader->getValueLabel().getText(), "12.5%");
}

TEST(MasterEffectFader, LayoutStacksTitleSliderAndReadout)
{
    FaderFixture f;
    struct Case
    {
        int width, height;
        juce::Rectangle<int> title, slider, value;
    };
    const Case cases[] = {
        // w 72, h 138: title 23 high, readout 25 (21 after its inset) at the bottom, slider between.
        {82, 150, {5, 6, 72, 23}, {7, 31, 68, 86}, {10, 121, 62, 21}},
        {82, 251, {5, 6, 72, 23}, {7, 31, 68, 187}, {10, 222, 62, 21}},
        // Too short for everything: the readout and slider shrink to nothing, never below.
        {40, 30, {5, 6, 30, 18}, {7, 26, 26, 0}, {10, 26, 20, 0}},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(juce::String(c.width) + " x " + juce::String(c.height));
        f.fader->setSize(c.width, c.height);
        EXPECT_EQ(f.fader->getTitleLabel().getBounds(), c.title);
        EXPECT_EQ(f.fader->getSlider().getBounds(), c.slider);
        EXPECT_EQ(f.fader->getValueLabel().getBounds(), c.value);
    }
}

TEST(MasterEffectFader, BackgroundIsPaintedInTheCurrentTheme)
{
    FaderFixture f;
    juce::Component editor;
    editor.addAndMakeVisible(*f.fader);
    f.fader->setBounds(0, 0, 82, 150);

    for (const int theme : {0, 1, 2})
    {
        SCOPED_TRACE(theme);
        editor.getProperties().set(kavix::ui::themePropertyName, theme);
        const auto image = sorvane::test::paintToImage(*f.fader);

        // Left of every child: only the translucent fill.
        const auto pixel = image.getPixelAt(3, 75);
        const auto expected = kavix::ui::colourFor(theme, sorvane::palette::ink);
        EXPECT_NEAR(pixel.getAlpha(), 0x33, 1);
        EXPECT_LE(sorvane::test::rgbDistance(pixel, expected), 4)
            << pixel.toDisplayString(true) << " vs " << expected.toDisplayString(true);
    }
}
