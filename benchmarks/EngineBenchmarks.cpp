// Engine throughput as a real-time factor (seconds of audio per CPU second), next to a floor that
// makes only the transcendental calls the chain makes per frame.
#include "EngineTestSupport.h"
#include "dsp/SorvaneEngine.h"
#include "processor/SorvaneAudioProcessor.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace
{
constexpr double sampleRates[] = {44100.0, 48000.0, 96000.0};

sorvane::DspSettings defaultSettings()
{
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Standalone);
    SorvaneAudioProcessor processor;
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Undefined);
    return processor.readSettings();
}

juce::AudioBuffer<float> sourceAudio(double rate)
{
    const int n = (int)rate; // one second, processed cyclically
    juce::AudioBuffer<float> audio(2, n);
    std::uint32_t state = 1;
    for (int i = 0; i < n; ++i)
    {
        state = state * 1664525u + 1013904223u;
        const float noise = ((float)(state >> 8) / 16777216.0f - 0.5f) * 0.1f;
        const float tone = 0.4f * (float)std::sin(2.0 * M_PI * 220.0 * i / rate);
        audio.setSample(0, i, tone + noise);
        audio.setSample(1, i, tone - noise);
    }
    return audio;
}

// Args: sample-rate index, block size, quality (0 Eco, 1 HQ), scenario (0 default, 1 every stage)
void BM_Engine(benchmark::State& state)
{
    const double rate = sampleRates[state.range(0)];
    const int blockSize = (int)state.range(1);
    auto settings = state.range(3) == 0 ? defaultSettings() : sorvane::test::everyStageActive();
    settings.audioQuality = (int)state.range(2);

    sorvane::SorvaneEngine engine;
    engine.prepare(rate, 2, blockSize);
    const auto source = sourceAudio(rate);
    juce::AudioBuffer<float> block(2, blockSize);
    int position = 0;
    std::int64_t frames = 0;
    juce::ScopedNoDenormals noDenormals; // as in the audio callback

    for (auto _ : state)
    {
        if (position + blockSize > source.getNumSamples())
            position = 0;
        block.copyFrom(0, 0, source, 0, position, blockSize);
        block.copyFrom(1, 0, source, 1, position, blockSize);
        engine.process(block, settings, 128.0);
        benchmark::DoNotOptimize(block.getReadPointer(0));
        position += blockSize;
        frames += blockSize;
    }
    state.counters["rtf"] = benchmark::Counter((double)frames / rate, benchmark::Counter::kIsRate);
    state.counters["events"] = (double)engine.getMeters().fractureEvents;
}

// The same number of std::tanh and std::sin calls per stereo frame as the chain makes: seven tanh
// and four sin per channel (three sin in Eco), plus the ring carrier.
void BM_TranscendentalFloor(benchmark::State& state)
{
    const double rate = sampleRates[state.range(0)];
    const bool hq = state.range(1) != 0;
    const auto source = sourceAudio(rate);
    const int n = source.getNumSamples();
    const float* in[2] = {source.getReadPointer(0), source.getReadPointer(1)};
    std::vector<float> out[2] = {std::vector<float>((size_t)n), std::vector<float>((size_t)n)};
    std::int64_t frames = 0;
    juce::ScopedNoDenormals noDenormals;

    for (auto _ : state)
    {
        for (int i = 0; i < n; ++i)
        {
            const float carrier = std::sin(in[0][i] * 3.0f);
            for (int c = 0; c < 2; ++c)
            {
                const float x = in[c][i];
                float acc = carrier;
                acc += std::tanh(x * 1.5f);
                acc += std::tanh(x + 0.1f);
                acc += std::tanh(x - 0.2f);
                acc += std::tanh(x * 0.7f);
                acc += std::tanh(x * 2.3f);
                acc += std::tanh(x + 0.3f);
                acc += std::tanh(x * 0.9f);
                acc += std::sin(x + 1.1f);
                acc += std::sin(x * 4.0f);
                acc += std::sin(x - 0.4f);
                if (hq)
                    acc += std::sin(x * 2.0f);
                out[c][(size_t)i] = acc;
            }
        }
        benchmark::DoNotOptimize(out[0].data());
        benchmark::DoNotOptimize(out[1].data());
        frames += n;
    }
    state.counters["rtf"] = benchmark::Counter((double)frames / rate, benchmark::Counter::kIsRate);
}

// The same calls, each fed by the previous result as the stages feed each other, so they cannot
// overlap: the latency-bound cost of the chain's transcendental work.
void BM_SerialTranscendentalFloor(benchmark::State& state)
{
    const double rate = sampleRates[state.range(0)];
    const bool hq = state.range(1) != 0;
    const auto source = sourceAudio(rate);
    const int n = source.getNumSamples();
    const float* in[2] = {source.getReadPointer(0), source.getReadPointer(1)};
    std::vector<float> out[2] = {std::vector<float>((size_t)n), std::vector<float>((size_t)n)};
    std::int64_t frames = 0;
    juce::ScopedNoDenormals noDenormals;

    for (auto _ : state)
    {
        for (int i = 0; i < n; ++i)
        {
            const float carrier = std::sin(in[0][i] * 3.0f);
            for (int c = 0; c < 2; ++c)
            {
                float x = in[c][i] * carrier;
                x = std::tanh(x * 1.5f);
                x = std::tanh(x + 0.1f);
                x = std::tanh(x - 0.2f);
                x = std::tanh(x * 0.7f);
                x = std::tanh(x * 2.3f);
                x = std::sin(x + 1.1f);
                x = std::sin(x * 4.0f);
                if (hq)
                    x = std::sin(x * 2.0f);
                x = std::tanh(x + 0.3f);
                x = std::sin(x - 0.4f);
                x = std::tanh(x * 0.9f);
                out[c][(size_t)i] = x;
            }
        }
        benchmark::DoNotOptimize(out[0].data());
        benchmark::DoNotOptimize(out[1].data());
        frames += n;
    }
    state.counters["rtf"] = benchmark::Counter((double)frames / rate, benchmark::Counter::kIsRate);
}

void engineArguments(benchmark::internal::Benchmark* b)
{
    for (int scenario : {0, 1})
        for (int rate : {0, 1, 2})
            for (int quality : {0, 1})
                for (int block : {32, 64, 512, 2048})
                    b->Args({rate, block, quality, scenario});
    b->ArgNames({"rate", "block", "hq", "allStages"});
}
} // namespace

BENCHMARK(BM_Engine)->Apply(engineArguments);
BENCHMARK(BM_TranscendentalFloor)->ArgsProduct({{0, 1, 2}, {0, 1}})->ArgNames({"rate", "hq"});
BENCHMARK(BM_SerialTranscendentalFloor)->ArgsProduct({{0, 1, 2}, {0, 1}})->ArgNames({"rate", "hq"});
