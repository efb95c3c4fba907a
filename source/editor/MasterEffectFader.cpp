#include "editor/MasterEffectFader.h"

#include "editor/InterfaceTheme.h"
#include "editor/Palette.h"

#include <stdexcept>

namespace palette = sorvane::palette;

namespace
{
const char* const mixId = "mix";

juce::RangedAudioParameter& mixParameter(juce::AudioProcessorValueTreeState& state)
{
    auto* parameter = state.getParameter(mixId);
    if (parameter == nullptr)
        throw std::invalid_argument("MasterEffectFader: the state has no \"mix\" parameter");
    return *parameter;
}
} // namespace

MasterEffectFader::MasterEffectFader(juce::AudioProcessorValueTreeState& state,
                                     juce::LookAndFeel& faderLookAndFeel)
    : attachment(state, mixId, slider), parameter(mixParameter(state))
{
    setComponentID("masterTotalEffectGroup");
    setTitle("Master Total Effect");
    setDescription("Accessible master dry and processed signal blend");

    slider.setComponentID("masterTotalEffect");
    slider.setTitle("Total Effect");
    slider.setTooltip("Master dry and processed signal blend");
    slider.setSliderStyle(juce::Slider::LinearVertical);
    slider.setTextBoxStyle(juce::Slider::NoTextBox, true, 0, 0);
    slider.setLookAndFeel(&faderLookAndFeel);
    addAndMakeVisible(slider);

    titleLabel.setText("TOTAL EFFECT", juce::dontSendNotification);
    titleLabel.setJustificationType(juce::Justification::centred);
    titleLabel.setFont(juce::Font(10.0f, juce::Font::bold));
    titleLabel.setBorderSize({1, 1, 1, 1});
    titleLabel.setMinimumHorizontalScale(0.8f);
    kavix::ui::setColour(titleLabel, juce::Label::textColourId, palette::cream);
    addAndMakeVisible(titleLabel);

    valueLabel.setJustificationType(juce::Justification::centred);
    kavix::ui::setColour(valueLabel, juce::Label::textColourId, palette::cyan);
    kavix::ui::setColour(valueLabel, juce::Label::backgroundColourId,
                         palette::ink.withAlpha((juce::uint8)0xD1));
    kavix::ui::setColour(valueLabel, juce::Label::outlineColourId,
                         palette::panelEdge.withAlpha((juce::uint8)0xB2));
    addAndMakeVisible(valueLabel);

    slider.onValueChange = [this] { showValue(slider.getValue()); };
    showValue(slider.getValue());
}

MasterEffectFader::~MasterEffectFader()
{
    slider.onValueChange = nullptr;
    slider.setLookAndFeel(nullptr);
}

void MasterEffectFader::syncToProcessor()
{
    const auto value = (double)parameter.convertFrom0to1(parameter.getValue());
    if (value == slider.getValue())
        return;

    slider.setValue(value, juce::dontSendNotification);
    showValue(value);
    repaint();
}

void MasterEffectFader::showValue(double value)
{
    valueLabel.setText(juce::String(value, 1) + "%", juce::dontSendNotification);
}

void MasterEffectFader::paint(juce::Graphics& g)
{
    const auto theme = kavix::ui::themeFor(*this);
    const auto bounds = getLocalBounds().toFloat();

    g.setColour(kavix::ui::colourFor(theme, palette::ink.withAlpha((juce::uint8)0x33)));
    g.fillRoundedRectangle(bounds, 5.0f);

    g.setColour(kavix::ui::colourFor(theme, palette::panelEdge.withAlpha((juce::uint8)0x6B)));
    g.drawRoundedRectangle(bounds.reduced(0.5f), 5.0f, 1.0f);
}

void MasterEffectFader::resized()
{
    const auto w = juce::jmax(0, getWidth() - 10);
    const auto h = juce::jmax(0, getHeight() - 12);

    const auto titleHeight = juce::jmin(h, 23);
    titleLabel.setBounds(5, 6, w, titleHeight);

    const auto valueHeight = juce::jmin(h - titleHeight, 25);
    valueLabel.setBounds(10, titleHeight + 8 + (h - titleHeight - valueHeight), juce::jmax(0, w - 10),
                         juce::jmax(0, valueHeight - 4));

    slider.setBounds(7, titleHeight + 8, juce::jmax(0, w - 4),
                     juce::jmax(0, h - titleHeight - valueHeight - 4));
}
