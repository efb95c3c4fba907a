// Time to analyse a whole source on the load job's thread: traits and moment suggestions for a
// ten-minute stereo file at 48 kHz.
#include "transport/MomentSuggestions.h"
#include "transport/SourceAnalysis.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace
{
constexpr double rate = 48000.0;

const juce::AudioBuffer<float>& tenMinuteSource()
{
    static const juce::AudioBuffer<float> audio = []
    {
        juce::AudioBuffer<float> a(2, (int)(rate * 600));
        std::uint32_t state = 1;
        for (int i = 0; i < a.getNumSamples(); ++i)
        {
            state = state * 1664525u + 1013904223u;
            const float noise = ((float)(state >> 8) / 16777216.0f - 0.5f) * 0.1f;
            const float tone = 0.3f * (float)std::sin(2.0 * M_PI * 110.0 * i / rate);
            const float gate = (i / 12000) % 4 == 0 ? 1.0f : 0.3f;
            a.setSample(0, i, gate * tone + noise);
            a.setSample(1, i, gate * tone - noise);
        }
        return a;
    }();
    return audio;
}

void BM_AnalyseSource(benchmark::State& state)
{
    const auto& audio = tenMinuteSource();
    for (auto _ : state)
        benchmark::DoNotOptimize(sorvane::analyseSource(audio, rate, nullptr));
}

void BM_SuggestBestMoments(benchmark::State& state)
{
    const auto& audio = tenMinuteSource();
    for (auto _ : state)
        benchmark::DoNotOptimize(sorvane::suggestBestMoments(audio, rate, 5, nullptr));
}
} // namespace

BENCHMARK(BM_AnalyseSource)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SuggestBestMoments)->Unit(benchmark::kMillisecond);
