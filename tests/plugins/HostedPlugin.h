#pragma once

// Loading the built LV2 and VST3 bundles through JUCE's own hosting, and the reference the processor run
// directly wrote, shared by the host tests.

#include "plugins/PluginRenderPlan.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace sorvane::plugintest
{
inline constexpr int numProductParameters = 34;

inline juce::File renderedFolder; // removed when the tests end

inline juce::File referenceFolder()
{
    static const juce::File folder = []
    {
        auto f = juce::File::createTempFile("sorvane-plugin-reference");
        renderedFolder = f;
        juce::ChildProcess renderer;
        const bool started =
            renderer.start(juce::StringArray{SORVANE_REFERENCE_RENDERER, f.getFullPathName()});
        if (!started || !renderer.waitForProcessToFinish(120000) || renderer.getExitCode() != 0)
            return juce::File();
        return f;
    }();
    return folder;
}

inline const juce::var& reference()
{
    static const juce::var json = juce::JSON::parse(referenceFolder().getChildFile("reference.json"));
    return json;
}

struct Format
{
    const char* name;
    const char* identifier;
};

inline constexpr const char* lv2Uri = "https://kavix.audio/plugins/sorvane";

inline std::unique_ptr<juce::AudioPluginFormat> makeFormat(const juce::String& name)
{
    if (name == "LV2")
        return std::make_unique<juce::LV2PluginFormat>();
    return std::make_unique<juce::VST3PluginFormat>();
}

struct Loaded
{
    std::unique_ptr<juce::AudioPluginInstance> instance;
    double scanMs = 0;
    double instantiateMs = 0;
};

inline Loaded load(const Format& f, double rate, int block)
{
    auto format = makeFormat(f.name);
    Loaded result;
    const auto t0 = juce::Time::getMillisecondCounterHiRes();
    juce::OwnedArray<juce::PluginDescription> types;
    // JUCE's LV2 hosting knows plug-ins by URI once it has read their folder: only the build's.
    if (juce::String(f.name) == "LV2")
        format->searchPathsForPlugins(
            juce::FileSearchPath(juce::File(SORVANE_LV2_BUNDLE).getParentDirectory().getFullPathName()), true,
            false);
    format->findAllTypesForFile(types, f.identifier);
    const auto t1 = juce::Time::getMillisecondCounterHiRes();
    if (types.size() != 1)
        return result;
    juce::String error;
    result.instance = format->createInstanceFromDescription(*types[0], rate, block, error);
    const auto t2 = juce::Time::getMillisecondCounterHiRes();
    result.scanMs = t1 - t0;
    result.instantiateMs = t2 - t1;
    return result;
}

// In the processor's order, found by name: the wrappers add a bypass (and VST3 a program) parameter and
// JUCE's LV2 hosting lists parameters in an order of its own.
inline juce::Array<juce::AudioProcessorParameter*> productParameters(juce::AudioPluginInstance& p)
{
    juce::Array<juce::AudioProcessorParameter*> result;
    for (const auto& r : *reference()["parameters"].getArray())
        for (auto* param : p.getParameters())
            if (param->getName(100) == r["name"].toString())
            {
                result.add(param);
                break;
            }
    return result;
}

inline std::vector<float> renderHosted(juce::AudioPluginInstance& p, const RenderCase& c)
{
    p.setPlayConfigDetails(2, 2, c.sampleRate, c.blockSize);
    p.prepareToPlay(c.sampleRate, c.blockSize);
    const auto params = productParameters(p);
    juce::AudioBuffer<float> buffer(2, c.blockSize);
    juce::MidiBuffer midi;
    std::vector<float> out;
    for (int block = 0; block * c.blockSize < renderSamples; ++block)
    {
        if (c.automate)
            params[automatedParameter(block, params.size())]->setValueNotifyingHost(automatedValue(block));
        fillInput(buffer, block * c.blockSize, c.sampleRate);
        midi.clear();
        p.processBlock(buffer, midi);
        for (int ch = 0; ch < 2; ++ch)
            out.insert(out.end(), buffer.getReadPointer(ch), buffer.getReadPointer(ch) + c.blockSize);
    }
    p.releaseResources();
    return out;
}

inline std::vector<float> readRender(const juce::String& name)
{
    juce::MemoryBlock data;
    referenceFolder().getChildFile(name).loadFileAsData(data);
    std::vector<float> out(data.getSize() / sizeof(float));
    std::memcpy(out.data(), data.getData(), out.size() * sizeof(float));
    return out;
}

// Bit for bit: the first differing sample is reported.
inline ::testing::AssertionResult sameBits(const std::vector<float>& a, const std::vector<float>& b)
{
    if (a.size() != b.size())
        return ::testing::AssertionFailure() << "lengths " << a.size() << " and " << b.size();
    for (size_t i = 0; i < a.size(); ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0)
            return ::testing::AssertionFailure() << "sample " << i << ": " << a[i] << " vs " << b[i];
    return ::testing::AssertionSuccess();
}

inline void PrintTo(const Format& f, std::ostream* os)
{
    *os << f.name;
}
} // namespace sorvane::plugintest
