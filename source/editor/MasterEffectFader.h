#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_gui_basics/juce_gui_basics.h>

// The always-visible total-effect fader: the dry and processed blend ("mix") with its readout.
class MasterEffectFader : public juce::Component
{
public:
    MasterEffectFader(juce::AudioProcessorValueTreeState& state, juce::LookAndFeel& faderLookAndFeel);
    ~MasterEffectFader() override;

    // Brings the fader in line with the parameter when the attachment has not done so yet.
    void syncToProcessor();

    juce::Slider& getSlider() noexcept { return slider; }
    juce::Label& getTitleLabel() noexcept { return titleLabel; }
    juce::Label& getValueLabel() noexcept { return valueLabel; }

    void paint(juce::Graphics&) override;
    void resized() override;

private:
    void showValue(double value);

    juce::Slider slider;
    juce::Label titleLabel;
    juce::Label valueLabel;
    juce::AudioProcessorValueTreeState::SliderAttachment attachment;
    juce::RangedAudioParameter& parameter;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(MasterEffectFader)
};
