// The stand-alone callback playing a source, with the Keep That ring armed and a capture recording,
// against the same callback without them. Both writes are meant to be block copies that cost little
// next to the effect.
#include "capture/BeforeAfterRing.h"
#include "capture/ProcessedCapture.h"
#include "processor/SorvaneAudioProcessor.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

namespace
{
constexpr double rate = 48000.0;
constexpr int blockSize = 512;
constexpr int captureBars = 4;

std::shared_ptr<sorvane::LoadedSample> toneAndNoise()
{
    auto sample = std::make_shared<sorvane::LoadedSample>();
    sample->sampleRate = rate;
    sample->name = "tone.wav";
    const int n = (int)rate * 10;
    sample->audio.setSize(2, n);
    std::uint32_t state = 1;
    for (int i = 0; i < n; ++i)
    {
        state = state * 1664525u + 1013904223u;
        const float noise = ((float)(state >> 8) / 16777216.0f - 0.5f) * 0.1f;
        const float tone = 0.4f * (float)std::sin(2.0 * M_PI * 220.0 * i / rate);
        sample->audio.setSample(0, i, tone + noise);
        sample->audio.setSample(1, i, tone - noise);
    }
    return sample;
}

// Args: capturing (0: neither ring nor capture; 1: ring armed and a capture running), tail (0: the
// capture is its loop only, so every block renders the source and is level-measured; 1: with its
// four-second tail, during which the source is not rendered at all).
void BM_ProcessBlockCapturing(benchmark::State& state)
{
    const bool capturing = state.range(0) != 0;
    const bool tail = state.range(1) != 0;

    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Standalone);
    SorvaneAudioProcessor processor;
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Undefined);
    processor.prepareToPlay(rate, blockSize);
    processor.getSourceLibrary().publish(toneAndNoise());
    processor.getSourceTransport().startPlayback();

    juce::AudioBuffer<float> block(2, blockSize);
    juce::MidiBuffer midi;
    const auto runBlock = [&]
    {
        block.clear(); // no live input: the source is what plays
        processor.processBlock(block, midi);
        benchmark::DoNotOptimize(block.getReadPointer(0));
    };
    for (int i = 0; i < 8; ++i) // the tempo reaches the processor
        runBlock();
    if (capturing && !processor.armBeforeAfter())
    {
        state.SkipWithError("the ring could not be armed");
        return;
    }

    std::int64_t captures = 0;
    for (auto _ : state)
    {
        if (capturing && !processor.getProcessedCapture().isActive())
        {
            // Starting clears the whole capture buffer on the message thread: not the callback's cost.
            state.PauseTiming();
            juce::String error;
            const bool started = processor.startProcessedCapture(captureBars, tail, error);
            state.ResumeTiming();
            if (!started)
            {
                state.SkipWithError(error.toRawUTF8());
                break;
            }
            ++captures;
        }
        runBlock();
    }
    state.counters["rtf"] =
        benchmark::Counter((double)state.iterations() * blockSize / rate, benchmark::Counter::kIsRate);
    state.counters["captures"] = (double)captures;
}

// The two writes alone, for one block, on a 64-second ring and a level-matched loop-only capture: the
// absolute cost that the callback comparison above shows as a ratio.
void BM_RingAndCaptureWrites(benchmark::State& state)
{
    sorvane::BeforeAfterRing ring;
    if (!ring.arm(rate, 2))
    {
        state.SkipWithError("the ring could not be armed");
        return;
    }
    sorvane::ProcessedCapture capture;
    sorvane::CaptureRequest request;
    request.bars = captureBars;
    request.includeTail = false;
    request.deviceSampleRate = rate;
    request.matchLevel = state.range(0) != 0;

    const auto source = toneAndNoise();
    juce::AudioBuffer<float> processed(2, blockSize), dry(2, blockSize);
    for (int c = 0; c < 2; ++c)
    {
        dry.copyFrom(c, 0, source->audio, c, 0, blockSize);
        processed.copyFrom(c, 0, source->audio, c, blockSize, blockSize);
    }

    for (auto _ : state)
    {
        if (!capture.isActive())
        {
            state.PauseTiming();
            juce::String error;
            const bool started = capture.start(request, error);
            state.ResumeTiming();
            if (!started)
            {
                state.SkipWithError(error.toRawUTF8());
                break;
            }
        }
        ring.write(processed, blockSize, dry, false);
        capture.write(processed, blockSize, dry, false);
        benchmark::ClobberMemory();
    }
}
} // namespace

BENCHMARK(BM_RingAndCaptureWrites)->Arg(0)->Arg(1)->ArgName("matchLevel");
BENCHMARK(BM_ProcessBlockCapturing)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 1})
    ->ArgNames({"capturing", "tail"});
