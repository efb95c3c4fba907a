#include "editor/ParameterKnob.h"

#include "editor/InterfaceTheme.h"
#include "editor/Palette.h"
#include "editor/TuningNotes.h"
#include "processor/SorvaneAudioProcessor.h"

#include <stdexcept>

namespace palette = sorvane::palette;

namespace
{
juce::RangedAudioParameter& parameterFor(juce::AudioProcessorValueTreeState& state, const juce::String& id)
{
    auto* parameter = state.getParameter(id);
    if (parameter == nullptr)
        throw std::invalid_argument(("ParameterKnob: no parameter " + id).toStdString());
    return *parameter;
}
} // namespace

ParameterKnob::ParameterKnob(juce::AudioProcessorValueTreeState& state, const juce::String& id,
                             const juce::String& label, juce::LookAndFeel& knobLookAndFeel)
    : parameterId(id), attachment(state, id, slider), parameter(parameterFor(state, id))
{
    slider.setLookAndFeel(&knobLookAndFeel);
    slider.setSliderStyle(juce::Slider::RotaryHorizontalVerticalDrag);
    slider.setTextBoxStyle(juce::Slider::NoTextBox, true, 0, 0);
    slider.setTitle(parameter.getName(128));
    slider.setDescription(
        "Detailed Sorvane parameter. Use the adjacent Lock control to protect it from mutations "
        "and macros.");
    slider.setWantsKeyboardFocus(true);
    addAndMakeVisible(slider);

    nameLabel.setText(label, juce::dontSendNotification);
    nameLabel.setFont(juce::Font(10.5f, juce::Font::bold));
    nameLabel.setMinimumHorizontalScale(0.8f);
    kavix::ui::setColour(nameLabel, juce::Label::textColourId, palette::cream.withAlpha((juce::uint8)0xE0));
    addAndMakeVisible(nameLabel);

    valueLabel.setFont(juce::Font(10.0f));
    valueLabel.setMinimumHorizontalScale(0.8f);
    kavix::ui::setColour(valueLabel, juce::Label::textColourId, palette::cyan);
    kavix::ui::setColour(valueLabel, juce::Label::backgroundColourId,
                         palette::ink.withAlpha((juce::uint8)0xCC));
    kavix::ui::setColour(valueLabel, juce::Label::outlineColourId,
                         palette::panelEdge.withAlpha((juce::uint8)0x8C));
    addAndMakeVisible(valueLabel);

    lockButton.setTooltip("Keep this control unchanged when mutating or generating variants");
    lockButton.setTitle(label + " mutation and macro lock");
    kavix::ui::setColour(lockButton, juce::ToggleButton::textColourId,
                         palette::cream.withAlpha((juce::uint8)0x9E));
    kavix::ui::setColour(lockButton, juce::ToggleButton::tickColourId, palette::cyan);
    lockButton.setClickingTogglesState(true);
    addAndMakeVisible(lockButton);

    if (isFrequencyKnob())
    {
        valueLabel.setEditable(false, true, false); // double-click only; takes keyboard focus
        valueLabel.setTooltip(frequencyEntryTooltip);
        valueLabel.onTextChange = [this] { enterTuningText(valueLabel.getText()); };
    }

    slider.onValueChange = [this] { showValue(slider.getValue()); };
    showValue(slider.getValue());
}

ParameterKnob::~ParameterKnob()
{
    slider.onValueChange = nullptr;
    valueLabel.onTextChange = nullptr;
    slider.setLookAndFeel(nullptr);
}

bool ParameterKnob::isFrequencyKnob() const noexcept
{
    return parameterId == "resFreq" || parameterId == "ringFreq";
}

void ParameterKnob::syncToProcessor()
{
    const auto value = (double)parameter.convertFrom0to1(parameter.getValue());
    if (value == slider.getValue())
        return;

    slider.setValue(value, juce::dontSendNotification);
    showValue(value);
    repaint();
}

void ParameterKnob::setLocked(bool shouldBeLocked)
{
    lockButton.setToggleState(shouldBeLocked, juce::dontSendNotification);
}

std::uint32_t ParameterKnob::getLockBit() const
{
    return SorvaneAudioProcessor::lockBitForParameterId(parameterId);
}

void ParameterKnob::setShowNoteName(bool shouldShowNoteName)
{
    showNoteName = shouldShowNoteName && isFrequencyKnob();
    showValue(slider.getValue());
}

bool ParameterKnob::enterTuningText(const juce::String& text)
{
    const auto range = parameter.getNormalisableRange();
    double hz = 0.0;
    juce::String error;

    const bool accepted =
        sorvane::parseTuning(text, hz, error) && hz >= (double)range.start && hz <= (double)range.end;
    if (accepted)
    {
        slider.setValue(hz, juce::sendNotificationSync);
        valueLabel.setTooltip(frequencyEntryTooltip);
    }
    else
    {
        const auto acceptedRange = juce::String(juce::roundToInt(range.start)) + "-" +
                              juce::String(juce::roundToInt(range.end)) + " Hz";
        valueLabel.setTooltip("Enter a note or Hz within " + acceptedRange + ".");
        if (onEntryRejected)
            onEntryRejected((nameLabel.getText() + ": \"" + text.trim() +
                             "\" NOT ACCEPTED / ENTER A NOTE OR HZ WITHIN " + acceptedRange)
                                .toUpperCase());
    }

    // The readout shows the stored value again, not what was typed.
    showValue(slider.getValue());
    return accepted;
}

juce::String ParameterKnob::readoutFor(double value)
{
    return showNoteName ? sorvane::tuningNote(value) : slider.getTextFromValue(value);
}

void ParameterKnob::showValue(double value)
{
    valueLabel.setText(readoutFor(value), juce::dontSendNotification);
    if (isFrequencyKnob())
        nameLabel.setTooltip("Note: " + sorvane::tuningNote(value));
}

void ParameterKnob::resized()
{
    const auto w = juce::jmax(0, getWidth() - 8);
    const auto h = juce::jmax(0, getHeight());
    const auto r = juce::jmax(0, h - 6);

    if (h > 43)
    {
        lockButton.setButtonText("LOCK");

        const auto knobSize = h < 48 ? 42 : (h < 64 ? h - 6 : 58);
        const auto column = juce::jmin(w, knobSize + 8);
        slider.setBounds((column - knobSize) / 2 + 4, (r - knobSize) / 2 + 3, knobSize, knobSize);

        const auto restX = 4 + column + 4;
        const auto rest = juce::jmax(0, w - column - 4);
        const auto nameHeight = juce::jmin(h <= 50 ? 17 : juce::jmin(h / 3, 23), r);
        const auto lockWidth = juce::jmin(60, rest);
        lockButton.setBounds(restX + rest - lockWidth, 3, lockWidth, nameHeight);
        nameLabel.setBounds(restX, 3, rest - lockWidth, nameHeight);

        const auto valueHeight = juce::jmin(juce::jmax(h / 3, 17), r - nameHeight, 22) - 2;
        valueLabel.setBounds(restX, nameHeight + 4, rest, juce::jmax(0, valueHeight));
    }
    else
    {
        lockButton.setButtonText({});

        const auto knobSize = h < 29 ? 22 : h - 6;
        const auto column = juce::jmin(w, h < 29 ? 26 : h - 2);
        slider.setBounds((column - knobSize) / 2 + 4, (r - knobSize) / 2 + 3, knobSize, knobSize);

        const auto right = 4 + w;
        const auto rest = juce::jmax(0, w - column);
        const auto lockWidth = juce::jmin(24, rest);
        const auto valueWidth = juce::jmin(62, rest - lockWidth);
        lockButton.setBounds(right - lockWidth, 3, lockWidth, r);
        valueLabel.setBounds(right - lockWidth - valueWidth, 3, valueWidth, r);

        const auto nameX = 4 + column;
        nameLabel.setBounds(nameX, 3, juce::jmax(0, right - lockWidth - valueWidth - nameX), r);
    }
}
