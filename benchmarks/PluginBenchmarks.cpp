// The built LV2 and VST3 plug-ins through JUCE's hosting, block by block, with the same input as
// BM_ProcessorDirect; the difference is the wrapper's per-block cost. The allocation and lock counters
// show what the process call (JUCE's hosting side included) does on the audio thread per block.
// BM_LoadPlugin is what a host waits for: reading the bundle and making an instance.

#include "RealtimeInterposers.h"
#include "plugins/PluginRenderPlan.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>

namespace
{
// No X server (JUCE falls back to ":0.0" without DISPLAY) and a home of its own: the plug-ins scan
// and index the user's presets.
struct Environment
{
    Environment()
    {
        if (std::getenv("DISPLAY") == nullptr)
            ::setenv("DISPLAY", ":-1", 1);
        home.createDirectory();
        ::setenv("HOME", home.getFullPathName().toRawUTF8(), 1);
    }
    ~Environment() { home.deleteRecursively(); }
    juce::File home = juce::File::createTempFile("sorvane-plugin-benchmark-home");
    juce::ScopedJuceInitialiser_GUI juce;
};

void prepareEnvironment()
{
    static Environment environment;
}

std::unique_ptr<juce::AudioPluginInstance> load(int format, int block)
{
    std::unique_ptr<juce::AudioPluginFormat> f;
    if (format == 0)
        f = std::make_unique<juce::LV2PluginFormat>();
    else
        f = std::make_unique<juce::VST3PluginFormat>();
    juce::OwnedArray<juce::PluginDescription> types;
    // JUCE's LV2 hosting knows plug-ins by URI once it has read their folder.
    if (format == 0)
        f->searchPathsForPlugins(
            juce::FileSearchPath(juce::File(SORVANE_LV2_BUNDLE).getParentDirectory().getFullPathName()), true,
            false);
    f->findAllTypesForFile(types, format == 0 ? "https://kavix.audio/plugins/sorvane" : SORVANE_VST3_BUNDLE);
    if (types.isEmpty())
        return nullptr;
    juce::String error;
    return f->createInstanceFromDescription(*types[0], 48000.0, block, error);
}

void BM_HostedPlugin(benchmark::State& state)
{
    prepareEnvironment();
    const int block = static_cast<int>(state.range(1));
    auto p = load(static_cast<int>(state.range(0)), block);
    if (p == nullptr)
    {
        state.SkipWithError("the plug-in did not load");
        return;
    }
    p->setPlayConfigDetails(2, 2, 48000.0, block);
    p->prepareToPlay(48000.0, block);
    juce::AudioBuffer<float> input(2, block), buffer(2, block);
    sorvane::plugintest::fillInput(input, 0, 48000.0);
    juce::MidiBuffer midi;
    buffer.makeCopyOf(input, true);
    p->processBlock(buffer, midi);

    sorvane::realtime::resetCounts();
    for (auto _ : state)
    {
        buffer.makeCopyOf(input, true);
        {
            sorvane::realtime::Watch watch;
            p->processBlock(buffer, midi);
        }
        benchmark::DoNotOptimize(buffer.getReadPointer(0)[0]);
    }
    using sorvane::realtime::count;
    const auto blocks = static_cast<double>(state.iterations());
    state.counters["allocs/block"] =
        static_cast<double>(count(sorvane::realtime::operatorNew) + count(sorvane::realtime::mallocFamily)) /
        blocks;
    state.counters["locks/block"] =
        static_cast<double>(count(sorvane::realtime::mutexLock) + count(sorvane::realtime::mutexTryLock) +
                            count(sorvane::realtime::spinLockEnter)) /
        blocks;
    state.SetItemsProcessed(state.iterations() * block);
    p->releaseResources();
}

void BM_LoadPlugin(benchmark::State& state)
{
    prepareEnvironment();
    // Timed by hand so the instance's teardown is left out.
    for (auto _ : state)
    {
        const auto start = std::chrono::steady_clock::now();
        auto p = load(static_cast<int>(state.range(0)), 512);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (p == nullptr)
        {
            state.SkipWithError("the plug-in did not load");
            return;
        }
        benchmark::DoNotOptimize(p.get());
    }
}
} // namespace

BENCHMARK(BM_LoadPlugin)->Arg(0)->Arg(1)->ArgName("vst3")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostedPlugin)->ArgsProduct({{0, 1}, {64, 512}})->ArgNames({"vst3", "block"});
