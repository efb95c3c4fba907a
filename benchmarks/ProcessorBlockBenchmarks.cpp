// The processor run directly, block by block: the baseline the hosted plug-ins are measured against
// (PluginBenchmarks.cpp runs the same input through the LV2 and VST3 wrappers).

#include "plugins/PluginRenderPlan.h"
#include "processor/SorvaneAudioProcessor.h"

#include <benchmark/benchmark.h>

static void BM_ProcessorDirect(benchmark::State& state)
{
    const int block = static_cast<int>(state.range(0));
    SorvaneAudioProcessor p;
    p.setPlayConfigDetails(2, 2, 48000.0, block);
    p.prepareToPlay(48000.0, block);
    juce::AudioBuffer<float> input(2, block), buffer(2, block);
    sorvane::plugintest::fillInput(input, 0, 48000.0);
    juce::MidiBuffer midi;
    for (auto _ : state)
    {
        buffer.makeCopyOf(input, true);
        p.processBlock(buffer, midi);
        benchmark::DoNotOptimize(buffer.getReadPointer(0)[0]);
    }
    state.SetItemsProcessed(state.iterations() * block);
}
BENCHMARK(BM_ProcessorDirect)->Arg(64)->Arg(512)->ArgName("block");
