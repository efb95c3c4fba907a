// Runs the processor directly and writes what the plug-in host tests compare their hosted plug-ins
// against: the description (parameters, programs, latency) as JSON and raw float renders, or one
// given input file processed for an outside host's render.

#include "plugins/PluginRenderPlan.h"
#include "processor/SorvaneAudioProcessor.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <iostream>
#include <memory>

using namespace sorvane::plugintest;

namespace
{
void render(SorvaneAudioProcessor& p, const RenderCase& c, const juce::File& file)
{
    p.setPlayConfigDetails(2, 2, c.sampleRate, c.blockSize);
    p.prepareToPlay(c.sampleRate, c.blockSize);
    auto& params = p.getParameters();
    juce::AudioBuffer<float> buffer(2, c.blockSize);
    juce::MidiBuffer midi;
    juce::FileOutputStream out(file);
    out.setPosition(0);
    out.truncate();
    for (int block = 0; block * c.blockSize < renderSamples; ++block)
    {
        if (c.automate)
        {
            auto* param = params[automatedParameter(block, params.size())];
            float value = automatedValue(block);
            if (c.linearHostRanges)
                if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*>(param))
                {
                    const auto& range = ranged->getNormalisableRange();
                    value = ranged->convertTo0to1(
                        juce::NormalisableRange<float>(range.start, range.end).convertFrom0to1(value));
                }
            param->setValueNotifyingHost(value);
        }
        fillInput(buffer, block * c.blockSize, c.sampleRate);
        p.processBlock(buffer, midi);
        for (int ch = 0; ch < 2; ++ch)
            out.write(buffer.getReadPointer(ch), sizeof(float) * static_cast<size_t>(c.blockSize));
    }
    p.releaseResources();
}

// Planar stereo raw floats in and out, so a process test can hand over what it gave a real host; the
// latency goes to stdout, since a host's render is delay-compensated and the processor's is not.
int processFile(double rate, int block, const juce::File& in, const juce::File& outFile)
{
    juce::MemoryBlock data;
    if (!in.loadFileAsData(data) || data.getSize() % (2 * sizeof(float)) != 0)
        return 1;
    const int length = int(data.getSize() / (2 * sizeof(float)));
    const auto* input = static_cast<const float*>(data.getData());
    SorvaneAudioProcessor p;
    p.setPlayConfigDetails(2, 2, rate, block);
    p.prepareToPlay(rate, block);
    juce::AudioBuffer<float> output(2, length);
    juce::AudioBuffer<float> buffer(2, block);
    juce::MidiBuffer midi;
    for (int start = 0; start < length; start += block)
    {
        const int n = std::min(block, length - start);
        buffer.setSize(2, n, false, false, true);
        for (int ch = 0; ch < 2; ++ch)
            buffer.copyFrom(ch, 0, input + ch * length + start, n);
        p.processBlock(buffer, midi);
        for (int ch = 0; ch < 2; ++ch)
            output.copyFrom(ch, start, buffer, ch, 0, n);
    }
    std::cout << p.getLatencySamples() << std::endl;
    p.releaseResources();
    juce::MemoryOutputStream planar;
    for (int ch = 0; ch < 2; ++ch)
        planar.write(output.getReadPointer(ch), sizeof(float) * size_t(length));
    return outFile.replaceWithData(planar.getData(), planar.getDataSize()) ? 0 : 1;
}

juce::var describe()
{
    SorvaneAudioProcessor p;
    auto* root = new juce::DynamicObject();
    root->setProperty("name", p.getName());
    root->setProperty("version", juce::String(JucePlugin_VersionString));

    juce::Array<juce::var> latencies;
    for (auto rate : sampleRates)
    {
        SorvaneAudioProcessor q;
        q.setPlayConfigDetails(2, 2, rate, 512);
        q.prepareToPlay(rate, 512);
        latencies.add(q.getLatencySamples());
    }
    root->setProperty("latency", latencies);

    juce::Array<juce::var> parameters;
    for (auto* param : p.getParameters())
    {
        auto* o = new juce::DynamicObject();
        o->setProperty("name", param->getName(100));
        o->setProperty("default", param->getDefaultValue());
        o->setProperty("text", param->getText(param->getDefaultValue(), 100));
        o->setProperty("steps", param->getNumSteps());
        parameters.add(juce::var(o));
    }
    root->setProperty("parameters", parameters);

    return juce::var(root);
}

// One processor through every program in the order the host test selects them, rendering after each:
// what a program leaves behind carries into the next, in both runs alike.
juce::var renderPrograms(const juce::File& folder)
{
    SorvaneAudioProcessor p;
    juce::Array<juce::var> programs;
    for (int step = 0; step < p.getNumPrograms(); ++step)
    {
        const int index = programSelectedAt(step, p.getNumPrograms());
        p.setCurrentProgram(index);
        auto* o = new juce::DynamicObject();
        o->setProperty("index", index);
        o->setProperty("name", p.getProgramName(index));
        juce::Array<juce::var> values;
        for (auto* param : p.getParameters())
            values.add(param->getValue());
        o->setProperty("values", values);
        programs.add(juce::var(o));
        render(p, {programSampleRate, programBlockSize, false},
               folder.getChildFile("program_" + juce::String(index) + ".f32"));
    }
    return programs;
}
} // namespace

int main(int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;
    const auto cwd = juce::File::getCurrentWorkingDirectory();
    if (argc == 6 && juce::String(argv[1]) == "--process")
        return processFile(juce::String(argv[2]).getDoubleValue(), juce::String(argv[3]).getIntValue(),
                           cwd.getChildFile(argv[4]), cwd.getChildFile(argv[5]));
    if (argc != 2)
    {
        std::cerr << "usage: " << argv[0] << " OUTPUT_FOLDER\n"
                  << "       " << argv[0] << " --process RATE BLOCK INPUT.f32 OUTPUT.f32\n";
        return 2;
    }
    const juce::File folder(cwd.getChildFile(argv[1]));
    folder.createDirectory();
    auto description = describe();
    description.getDynamicObject()->setProperty("programs", renderPrograms(folder));
    folder.getChildFile("reference.json").replaceWithText(juce::JSON::toString(description));

    for (auto rate : sampleRates)
        for (auto block : blockSizes)
        {
            SorvaneAudioProcessor p;
            render(p, {rate, block, false},
                   folder.getChildFile("render_" + juce::String(int(rate)) + "_" + juce::String(block) +
                                       ".f32"));
        }
    SorvaneAudioProcessor p;
    render(p, {automationSampleRate, automationBlockSize, true}, folder.getChildFile("automation.f32"));
    SorvaneAudioProcessor lv2;
    render(lv2, {automationSampleRate, automationBlockSize, true, true},
           folder.getChildFile("automation_lv2.f32"));
    return 0;
}
