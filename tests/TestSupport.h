#pragma once

#include "processor/SorvaneAudioProcessor.h"

#include <memory>

namespace sorvane::test
{
inline std::unique_ptr<SorvaneAudioProcessor>
makeProcessor(juce::AudioProcessor::WrapperType wrapper = juce::AudioProcessor::wrapperType_Undefined)
{
    juce::AudioProcessor::setTypeOfNextNewPlugin(wrapper);
    auto processor = std::make_unique<SorvaneAudioProcessor>();
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Undefined);
    return processor;
}

inline juce::RangedAudioParameter& parameter(SorvaneAudioProcessor& processor, const juce::String& id)
{
    auto* p = processor.getParameterState().getParameter(id);
    if (p == nullptr)
        throw std::runtime_error(("unknown parameter " + id).toStdString());
    return *p;
}

// Sets a parameter in its own units, as the editor or a host would.
inline void setPlain(SorvaneAudioProcessor& processor, const juce::String& id, float plainValue)
{
    auto& p = parameter(processor, id);
    p.setValueNotifyingHost(p.convertTo0to1(plainValue));
}

inline float plain(SorvaneAudioProcessor& processor, const juce::String& id)
{
    return processor.getParameterState().getRawParameterValue(id)->load();
}
} // namespace sorvane::test
