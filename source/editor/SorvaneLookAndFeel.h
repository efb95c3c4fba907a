#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The editor's look: rotary knobs with a tick scale, the total-effect fader and chamfered buttons.
// Palette colours are themed on the fly with the theme this look and feel carries.
class SorvaneLookAndFeel : public juce::LookAndFeel_V4
{
public:
    SorvaneLookAndFeel();

    // The theme stored in this look and feel's theme colour, clamped; Original when it holds none.
    int getInterfaceTheme() const;

    void drawRotarySlider(juce::Graphics&, int x, int y, int width, int height, float sliderPosProportional,
                          float rotaryStartAngle, float rotaryEndAngle, juce::Slider&) override;

    void drawLinearSlider(juce::Graphics&, int x, int y, int width, int height, float sliderPos,
                          float minSliderPos, float maxSliderPos, juce::Slider::SliderStyle,
                          juce::Slider&) override;

    void drawButtonBackground(juce::Graphics&, juce::Button&, const juce::Colour& backgroundColour,
                              bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    void drawButtonText(juce::Graphics&, juce::TextButton&, bool shouldDrawButtonAsHighlighted,
                        bool shouldDrawButtonAsDown) override;

private:
    juce::Colour themed(juce::Colour paletteColour) const;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SorvaneLookAndFeel)
};
