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

    void drawLabel(juce::Graphics&, juce::Label&) override;
    void drawToggleButton(juce::Graphics&, juce::ToggleButton&, bool shouldDrawButtonAsHighlighted,
                          bool shouldDrawButtonAsDown) override;
    void drawComboBox(juce::Graphics&, int width, int height, bool isButtonDown, int buttonX, int buttonY,
                      int buttonW, int buttonH, juce::ComboBox&) override;
    juce::Font getComboBoxFont(juce::ComboBox&) override;
    void positionComboBoxText(juce::ComboBox&, juce::Label&) override;

    // What the drawing routines use, public so that layout and contrast checks see the same values.
    static juce::Font buttonFont(const juce::TextButton&);
    static juce::Rectangle<int> buttonTextArea(const juce::TextButton&);
    static constexpr float buttonMinimumHorizontalScale = 0.86f;
    static juce::Font toggleFont(const juce::ToggleButton&);
    static juce::Rectangle<int> toggleTextArea(const juce::ToggleButton&);
    static constexpr int comboArrowWidth = 22;
    inline static const juce::BorderSize<int> comboTextBorder{1, 5, 1, 2};

    // The colour a button's body is filled from, and the text colour drawn on it.
    juce::Colour buttonFillBase(const juce::Button&, bool highlighted, bool down) const;
    juce::Colour buttonTextColour(const juce::TextButton&, bool highlighted) const;
    // The colour behind a label or toggle: its own opaque background, its combo box or slider text box,
    // else the nearest backdrop recorded with setBackdrop (the editor's background when none is).
    juce::Colour backdropFor(const juce::Component&) const;
    juce::Colour labelTextColour(const juce::Label&) const;
    juce::Colour toggleTextColour(const juce::ToggleButton&) const;

    // Records the Original palette colour painted behind a component and its children.
    static void setBackdrop(juce::Component&, juce::Colour originalColour);

private:
    juce::Colour themed(juce::Colour paletteColour) const;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SorvaneLookAndFeel)
};
