#pragma once

#include <functional>

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>

// One detailed effect parameter: a rotary knob, its name, a value readout and its mutation lock. The two
// frequency knobs also show note names and accept a note or Hz typed into the readout.
class ParameterKnob : public juce::Component
{
public:
    ParameterKnob(juce::AudioProcessorValueTreeState& state, const juce::String& parameterId,
                  const juce::String& label, juce::LookAndFeel& knobLookAndFeel);
    ~ParameterKnob() override;

    const juce::String& getParameterId() const noexcept { return parameterId; }
    bool isFrequencyKnob() const noexcept;

    // Brings the knob in line with the parameter when the attachment has not done so yet.
    void syncToProcessor();

    // The knob's mutation lock (the toggle); the editor gathers these into the processor's lock word.
    bool isLocked() const noexcept { return lockButton.getToggleState(); }
    void setLocked(bool shouldBeLocked);
    std::uint32_t getLockBit() const;

    // Frequency knobs only; other knobs always show the parameter's text.
    void setShowNoteName(bool shouldShowNoteName);
    bool getShowNoteName() const noexcept { return showNoteName; }

    // A committed edit of the readout: a note or Hz within the parameter's range moves the knob; anything
    // else leaves the value alone and says in the tooltip what is accepted.
    bool enterTuningText(const juce::String& text);
    // Told why a typed entry was refused, as a status text.
    std::function<void(const juce::String&)> onEntryRejected;

    juce::Slider& getSlider() noexcept { return slider; }
    juce::Label& getNameLabel() noexcept { return nameLabel; }
    juce::Label& getValueLabel() noexcept { return valueLabel; }
    juce::ToggleButton& getLockButton() noexcept { return lockButton; }

    void resized() override;

    static constexpr const char* frequencyEntryTooltip =
        "Double-click to enter Hz or a note, e.g. A4, C#3 or 440 Hz. Middle C = C4. Values stay stored in "
        "Hz.";

private:
    void showValue(double value);
    juce::String readoutFor(double value);

    juce::String parameterId;
    juce::Slider slider;
    juce::Label nameLabel;
    juce::Label valueLabel;
    juce::ToggleButton lockButton;
    juce::AudioProcessorValueTreeState::SliderAttachment attachment;
    juce::RangedAudioParameter& parameter;
    bool showNoteName = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(ParameterKnob)
};
