// Exporting a 16-bar capture at 120 BPM (48 kHz stereo plus the 4-second tail): the peak-protected
// writer against JUCE's plain 24-bit WAV write of the same audio, and how long a running export job
// takes from cancel() to its final state.
#include "capture/CreatorExportJob.h"
#include "capture/WaveExport.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <unistd.h>

namespace
{
constexpr double rate = 48000.0;
constexpr int frames = 1728000;

struct BenchmarkFolder
{
    juce::File dir =
        juce::File::getSpecialLocation(juce::File::tempDirectory)
            .getNonexistentChildFile("sorvane-benchmark-export-" + juce::String((int)::getpid()), "", false);
    BenchmarkFolder() { dir.createDirectory(); }
    ~BenchmarkFolder() { dir.deleteRecursively(); }
};

// A capture that peaks at full scale, so the writer has to lower it.
const juce::AudioBuffer<float>& capture()
{
    static const juce::AudioBuffer<float> audio = []
    {
        juce::AudioBuffer<float> a(2, frames);
        juce::Random random(7);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < frames; ++i)
                a.setSample(
                    c, i,
                    0.8f * (float)std::sin(2.0 * juce::MathConstants<double>::pi * (220.0 + c) * i / rate) +
                        0.1f * (random.nextFloat() - 0.5f));
        a.setSample(0, frames / 2, 1.0f);
        return a;
    }();
    return audio;
}

void BM_PlainJuceWaveWrite(benchmark::State& state)
{
    const BenchmarkFolder folder;
    const auto file = folder.dir.getChildFile("plain.wav");
    const auto& audio = capture();
    for (auto _ : state)
    {
        state.PauseTiming();
        file.deleteFile();
        state.ResumeTiming();

        std::unique_ptr<juce::AudioFormatWriter> writer(
            juce::WavAudioFormat().createWriterFor(new juce::FileOutputStream(file), rate, 2, 24, {}, 0));
        if (writer == nullptr || !writer->writeFromAudioSampleBuffer(audio, 0, frames))
            state.SkipWithError("plain write failed");
        writer.reset();
    }
}

void BM_WriteNormalisedWave(benchmark::State& state)
{
    const BenchmarkFolder folder;
    const auto file = folder.dir.getChildFile("normalised.wav");
    const auto comment = sorvane::makeCaptureComment(0.25, 0.75, true);
    std::atomic<float> progress{0.0f};
    std::atomic<bool> cancel{false};
    for (auto _ : state)
    {
        // The writer takes its own copy of the capture, as an export job hands it over.
        state.PauseTiming();
        file.deleteFile();
        auto copy = capture();
        state.ResumeTiming();

        juce::String error;
        if (!sorvane::writeNormalisedWave(file, std::move(copy), rate, &progress, &cancel, error, comment))
            state.SkipWithError(error.toRawUTF8());
    }
}

// Manual time: from cancel() to Cancelled, with the job midway through writing.
void BM_ExportJobCancelToTerminal(benchmark::State& state)
{
    const BenchmarkFolder folder;
    const auto destination = folder.dir.getChildFile("cancelled.wav");
    double worstMs = 0.0;
    for (auto _ : state)
    {
        sorvane::CreatorExportJob::Request request;
        request.kind = sorvane::CreatorExportKind::ProcessedWav;
        request.destination = destination;
        request.work = [audio = capture()](const juce::File& target, std::atomic<float>& progress,
                                           const std::atomic<bool>& cancel, juce::String& message)
        { return sorvane::writeNormalisedWave(target, audio, rate, &progress, &cancel, message, {}); };
        sorvane::CreatorExportJob job(std::move(request));
        job.launch();
        while (job.getSnapshot().state == sorvane::CreatorExportState::Running &&
               job.getSnapshot().progress < 0.5f)
            juce::Thread::yield();

        const double start = juce::Time::getMillisecondCounterHiRes();
        job.cancel();
        auto snapshot = job.getSnapshot();
        while (snapshot.state == sorvane::CreatorExportState::Running)
        {
            juce::Thread::yield();
            snapshot = job.getSnapshot();
        }
        const double elapsedMs = juce::Time::getMillisecondCounterHiRes() - start;

        if (snapshot.state != sorvane::CreatorExportState::Cancelled)
        {
            state.SkipWithError("the export ended before the cancel reached it");
            break;
        }
        worstMs = std::max(worstMs, elapsedMs);
        state.SetIterationTime(elapsedMs / 1000.0);
    }
    state.counters["worstMs"] = worstMs;
}
} // namespace

BENCHMARK(BM_PlainJuceWaveWrite)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WriteNormalisedWave)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ExportJobCancelToTerminal)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
