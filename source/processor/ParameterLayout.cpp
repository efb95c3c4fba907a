#include "processor/ParameterLayout.h"

namespace sorvane
{
namespace
{
juce::ParameterID idFor(const juce::String& id)
{
    return juce::ParameterID{id, 1};
}

std::unique_ptr<juce::AudioParameterFloat> plainParameter(const juce::String& id, const juce::String& name,
                                                          juce::NormalisableRange<float> range,
                                                          float defaultValue, const juce::String& label = {})
{
    return std::make_unique<juce::AudioParameterFloat>(
        idFor(id), name, range, defaultValue, juce::AudioParameterFloatAttributes().withLabel(label));
}

juce::StringArray namesOf(std::initializer_list<const char*> names)
{
    juce::StringArray result;
    for (auto* n : names)
        result.add(n);
    return result;
}

template <size_t N>
juce::StringArray namesOf(const char* const (&names)[N])
{
    juce::StringArray result;
    for (auto* n : names)
        result.add(n);
    return result;
}
} // namespace

std::unique_ptr<juce::AudioParameterFloat> percentParameter(const juce::String& id, const juce::String& name,
                                                            float defaultPercent)
{
    auto attributes =
        juce::AudioParameterFloatAttributes()
            .withLabel("%")
            .withStringFromValueFunction(
                [](float value, int maximumLength)
                {
                    const auto text = juce::String(value, 1) + "%";
                    return maximumLength > 0 ? text.substring(0, maximumLength) : text;
                })
            .withValueFromStringFunction([](const juce::String& text)
                                         { return text.trim().trimCharactersAtEnd("%").getFloatValue(); });
    return std::make_unique<juce::AudioParameterFloat>(
        idFor(id), name, juce::NormalisableRange<float>(0.0f, 100.0f, 0.1f, 1.0f), defaultPercent,
        attributes);
}

juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout()
{
    juce::AudioProcessorValueTreeState::ParameterLayout layout;

    layout.add(plainParameter("input", "Input", {-18.0f, 18.0f, 0.01f, 1.0f}, 0.0f));
    layout.add(percentParameter("drive", "Drive", 8.0f));
    layout.add(percentParameter("crush", "Crush", 4.0f));
    layout.add(std::make_unique<juce::AudioParameterInt>(idFor("reduce"), "Decimate", 1, 32, 1));
    layout.add(percentParameter("ring", "Ring mix", 0.0f));
    layout.add(plainParameter("ringFreq", "Ring frequency", {20.0f, 4000.0f, 0.01f, 0.28f}, 220.0f));
    layout.add(percentParameter("resonance", "Resonator mix", 8.0f));
    layout.add(plainParameter("resFreq", "Resonator frequency", {30.0f, 4000.0f, 0.01f, 0.28f}, 440.0f));
    layout.add(percentParameter("resDecay", "Resonator decay", 35.0f));
    layout.add(percentParameter("glitch", "Fracture", 0.0f));
    layout.add(std::make_unique<juce::AudioParameterChoice>(idFor("division"), "Fracture division",
                                                            namesOf(fractureDivisionNames), 2));
    layout.add(percentParameter("reverse", "Reverse chance", 0.0f));
    layout.add(percentParameter("delay", "Delay mix", 12.0f));
    layout.add(plainParameter("delayTime", "Delay time", {5.0f, 900.0f, 0.1f, 0.35f}, 180.0f, "ms"));
    layout.add(percentParameter("feedback", "Feedback", 22.0f));
    layout.add(plainParameter("tone", "Tone", {250.0f, 20000.0f, 1.0f, 0.3f}, 14500.0f, "Hz"));
    layout.add(percentParameter("spectralWave", "Spectral wave", 8.0f));
    layout.add(plainParameter("spectralRate", "Spectral rate", {0.03f, 12.0f, 0.01f, 0.32f}, 0.4f, "Hz"));
    layout.add(percentParameter("dimension", "Stereo dimension", 18.0f));
    layout.add(percentParameter("fold", "Wave fold", 0.0f));
    layout.add(percentParameter("spark", "Spark exciter", 5.0f));
    layout.add(percentParameter("chaos", "Instability", 5.0f));
    layout.add(percentParameter("mix", "Total Effect", 100.0f));
    layout.add(plainParameter("output", "Output", {-18.0f, 6.0f, 0.01f, 1.0f}, 0.0f));
    layout.add(std::make_unique<juce::AudioParameterChoice>(idFor("autoLevel"), "Auto Level",
                                                            namesOf({"Off", "Light", "Strong"}), 0));
    layout.add(std::make_unique<juce::AudioParameterChoice>(idFor("audioQuality"), "Audio Quality",
                                                            namesOf({"Eco", "HQ"}), 1));
    layout.add(percentParameter("macroDamage", "Damage Macro", 0.0f));
    layout.add(percentParameter("macroFracture", "Fracture Macro", 0.0f));
    layout.add(percentParameter("macroSpace", "Space Macro", 0.0f));
    layout.add(percentParameter("macroMotion", "Motion Macro", 0.0f));
    layout.add(
        std::make_unique<juce::AudioParameterBool>(idFor("matchSourceLevel"), "Match Source Loudness", true));
    layout.add(plainParameter("resultLevel", "Result Level", {-24.0f, 12.0f, 0.1f, 1.0f}, 0.0f));
    layout.add(std::make_unique<juce::AudioParameterChoice>(idFor("delaySync"), "Delay sync",
                                                            namesOf(delaySyncNames), 0));
    layout.add(plainParameter("standaloneTempo", "Standalone tempo", {30.0f, 300.0f, 0.1f, 1.0f}, 120.0f));

    return layout;
}

int parameterIndexForId(const juce::String& id) noexcept
{
    for (int i = 0; i < numParameters; ++i)
        if (id == parameterIds[i])
            return i;
    return -1;
}
} // namespace sorvane
