// The sound-design commands a user clicks: each must feel instant on the message thread.
#include "processor/SorvaneAudioProcessor.h"
#include "workflow/TresselPersonality.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace
{
std::unique_ptr<SorvaneAudioProcessor> makeWorkflowProcessor()
{
    if (std::getenv("DISPLAY") == nullptr)
        ::setenv("DISPLAY", ":-1", 1);
    static juce::ScopedJuceInitialiser_GUI juce;
    return std::make_unique<SorvaneAudioProcessor>();
}

// A session auditioned long enough that its history is full, as DNA usually carries it.
std::unique_ptr<SorvaneAudioProcessor> makeAuditionedProcessor()
{
    auto processor = makeWorkflowProcessor();
    processor->generateTressel(7, sorvane::tresselGhost, 35.0f, {}, false, false);
    for (int i = 0; i < 16; ++i)
        processor->selectTresselVariant(i & 3);
    return processor;
}

void BM_Mutate(benchmark::State& state)
{
    auto processor = makeWorkflowProcessor();
    std::uint32_t seed = 1;
    for (auto _ : state)
        processor->mutateCurrentProgram(seed++, 0.5f, {});
}

void BM_GenerateTressel(benchmark::State& state)
{
    auto processor = makeWorkflowProcessor();
    const int personality = (int)state.range(0);
    std::uint32_t seed = 1;
    for (auto _ : state)
        benchmark::DoNotOptimize(processor->generateTressel(seed++, personality, 35.0f, {}, false, false));
}

void BM_SelectTresselVariant(benchmark::State& state)
{
    auto processor = makeWorkflowProcessor();
    processor->generateTressel(7, sorvane::tresselGhost, 35.0f, {}, false, false);
    int index = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(processor->selectTresselVariant(index++ & 3));
}

void BM_ApplyFactoryPresetWithVariations(benchmark::State& state)
{
    auto processor = makeWorkflowProcessor();
    for (auto _ : state)
        processor->setCurrentProgram(15);
}

void BM_CopyDna(benchmark::State& state)
{
    auto processor = makeAuditionedProcessor();
    juce::String error;
    for (auto _ : state)
        benchmark::DoNotOptimize(processor->copyTresselDna(error));
    state.counters["characters"] = (double)processor->copyTresselDna(error).length();
}

void BM_ImportDna(benchmark::State& state)
{
    auto processor = makeAuditionedProcessor();
    juce::String error;
    const auto dna = processor->copyTresselDna(error);
    for (auto _ : state)
        benchmark::DoNotOptimize(processor->importTresselDna(dna, error));
}

void BM_DescribeTresselChanges(benchmark::State& state)
{
    auto processor = makeWorkflowProcessor();
    processor->generateTressel(7, sorvane::tresselBroken, 35.0f, {}, false, false);
    for (auto _ : state)
        benchmark::DoNotOptimize(processor->describeTresselChanges());
}
} // namespace

BENCHMARK(BM_Mutate)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GenerateTressel)
    ->Arg(sorvane::tresselAuto)
    ->Arg(sorvane::tresselUnknown)
    ->Arg(sorvane::tresselEnhance)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SelectTresselVariant)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ApplyFactoryPresetWithVariations)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopyDna)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ImportDna)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DescribeTresselChanges)->Unit(benchmark::kMicrosecond);
