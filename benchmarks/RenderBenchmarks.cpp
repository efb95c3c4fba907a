// sorvane-render's core on a ten-minute stereo 48 kHz file with every stage active, as a real-time factor
// (seconds of audio per wall-clock second): one file alone, and eight at once on the workers the
// command line would use. Compare the first with BM_Engine/rate:1/block:512/hq:1/allStages:1.
#include "render/RenderBatch.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <sys/resource.h>

namespace
{
using namespace sorvane::render;

constexpr double rate = 48000.0;
constexpr int tenMinutes = 10 * 60 * 48000;

// The every-stage scenario of the engine benchmark, as --set values.
const std::vector<ParameterSetting> everyStage = {
    {"input", "3"},         {"drive", "60"},         {"crush", "50"},     {"reduce", "4"},
    {"ring", "50"},         {"ringFreq", "310"},     {"resonance", "60"}, {"resFreq", "660"},
    {"resDecay", "70"},     {"glitch", "90"},        {"division", "3"},   {"reverse", "50"},
    {"delay", "60"},        {"delaySync", "10"},     {"feedback", "60"},  {"tone", "9000"},
    {"spectralWave", "70"}, {"spectralRate", "2.5"}, {"dimension", "60"}, {"fold", "50"},
    {"spark", "60"},        {"chaos", "60"},         {"mix", "100"},      {"matchSourceLevel", "on"},
    {"audioQuality", "HQ"}};

juce::File benchmarkFolder()
{
    static const auto folder = []
    {
        auto f = juce::File::getSpecialLocation(juce::File::tempDirectory)
                     .getChildFile("sorvane-render-benchmark");
        f.createDirectory();
        return f;
    }();
    return folder;
}

// Written once per run in one-second pieces, so the benchmark itself never holds the file.
juce::File tenMinuteInput()
{
    const auto file = benchmarkFolder().getChildFile("ten-minutes.wav");
    if (file.existsAsFile())
        return file;
    auto stream = std::make_unique<juce::FileOutputStream>(file);
    std::unique_ptr<juce::AudioFormatWriter> writer(
        juce::WavAudioFormat().createWriterFor(stream.get(), rate, 2, 24, {}, 0));
    stream.release();
    juce::AudioBuffer<float> second(2, (int)rate);
    std::uint32_t state = 1;
    for (int start = 0; start < tenMinutes; start += (int)rate)
    {
        for (int i = 0; i < (int)rate; ++i)
        {
            state = state * 1664525u + 1013904223u;
            const float noise = ((float)(state >> 8) / 16777216.0f - 0.5f) * 0.1f;
            const float tone = 0.4f * (float)std::sin(2.0 * M_PI * 220.0 * (start + i) / rate);
            second.setSample(0, i, tone + noise);
            second.setSample(1, i, tone - noise);
        }
        writer->writeFromAudioSampleBuffer(second, 0, second.getNumSamples());
    }
    return file;
}

void renderFiles(benchmark::State& state, int files, int workers)
{
    const auto input = tenMinuteInput();
    RenderCommand command;
    command.settings = everyStage;
    command.jobs = workers;
    command.quiet = true;
    RenderSound sound;
    juce::String error;
    if (!sound.load(command, error))
    {
        state.SkipWithError(error.toRawUTF8());
        return;
    }

    const auto cpuSeconds = []
    {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return (double)usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6 + (double)usage.ru_stime.tv_sec +
               usage.ru_stime.tv_usec * 1e-6;
    };
    double audioSeconds = 0.0, cpuUsed = 0.0;
    for (auto _ : state)
    {
        std::vector<RenderJob> jobs;
        for (int i = 0; i < files; ++i)
            jobs.push_back({input,
                            benchmarkFolder().getChildFile("out-" + juce::String(i) + ".wav"),
                            OutputFormat::wav24,
                            {}});
        RenderBatch batch(command, sound, std::move(jobs));
        std::atomic<bool> cancel{false};
        const double cpuBefore = cpuSeconds();
        const int status = batch.run(cancel, stdout, stderr, false);
        cpuUsed += cpuSeconds() - cpuBefore;
        if (status != 0)
        {
            state.SkipWithError("a render failed");
            return;
        }
        for (const auto& outcome : batch.getOutcomes())
            audioSeconds += outcome.result.seconds;
    }
    // Wall-clock, and per second of CPU time of every thread (the engine benchmark's measure).
    state.counters["rtf"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
    state.counters["rtfCpu"] = audioSeconds / cpuUsed;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["maxRssMB"] = (double)usage.ru_maxrss / 1024.0;
}

void BM_RenderTenMinutes(benchmark::State& state)
{
    renderFiles(state, 1, 1);
}

void BM_RenderEightTenMinuteFiles(benchmark::State& state)
{
    renderFiles(state, 8, (int)state.range(0));
}
} // namespace

BENCHMARK(BM_RenderTenMinutes)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_RenderEightTenMinuteFiles)
    ->Arg(2)
    ->ArgName("workers")
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);
