// Loading a 10-minute stereo 48 kHz source: the request's cost on the message thread, decode
// against decode plus analysis, and the job's peak memory against the decoded size.
#include "transport/MomentSuggestions.h"
#include "transport/SourceAnalysis.h"
#include "transport/SourceFormats.h"
#include "transport/SourceLibrary.h"
#include "transport/SourceReader.h"

#include <benchmark/benchmark.h>

#include <fstream>

namespace
{
constexpr double rate = 48000.0;
constexpr int frames = 48000 * 600;

juce::File sourceFile(const juce::String& extension)
{
    const auto file = juce::File::getSpecialLocation(juce::File::tempDirectory)
                          .getChildFile("sorvane-benchmark-source" + extension);
    if (file.existsAsFile())
        return file;

    std::unique_ptr<juce::AudioFormat> format;
    if (extension == ".flac")
        format = std::make_unique<juce::FlacAudioFormat>();
    else
        format = std::make_unique<juce::WavAudioFormat>();
    std::unique_ptr<juce::AudioFormatWriter> writer(
        format->createWriterFor(new juce::FileOutputStream(file), rate, 2, 24, {}, 0));
    juce::AudioBuffer<float> block(2, 48000);
    juce::Random random(1);
    for (int done = 0; done < frames; done += block.getNumSamples())
    {
        for (int i = 0; i < block.getNumSamples(); ++i)
        {
            const float tone = 0.3f * std::sin(2.0f * juce::MathConstants<float>::pi * 220.0f *
                                               (float)(done + i) / 48000.0f);
            block.setSample(0, i, tone + 0.05f * (random.nextFloat() - 0.5f));
            block.setSample(1, i, tone - 0.05f * (random.nextFloat() - 0.5f));
        }
        writer->writeFromAudioSampleBuffer(block, 0, block.getNumSamples());
    }
    return file;
}

long residentKilobytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::strlen(field)));
    return 0;
}

// Args: 0 WAV, 1 FLAC
void BM_SourceRequestAndJob(benchmark::State& state)
{
    const auto file = sourceFile(state.range(0) == 0 ? ".wav" : ".flac");
    for (auto _ : state)
    {
        sorvane::TransportState transport;
        sorvane::SourceLibrary library(transport, [] {});
        // Peak resident memory from here on belongs to the job.
        std::ofstream("/proc/self/clear_refs") << "5";
        const long before = residentKilobytes("VmRSS:");

        juce::String error;
        const auto start = juce::Time::getMillisecondCounterHiRes();
        library.requestLoad(file, error, false);
        const double requestMs = juce::Time::getMillisecondCounterHiRes() - start;

        sorvane::CreatorPreparationSnapshot snapshot;
        do
        {
            juce::Thread::sleep(5);
            snapshot = library.snapshot();
        } while (snapshot.state < 4);

        state.counters["requestMs"] = requestMs;
        state.counters["jobMs"] = snapshot.elapsedMilliseconds;
        state.counters["decodedMB"] = (double)snapshot.decodedBytes / 1048576.0;
        state.counters["peakOverDecoded"] =
            (double)(residentKilobytes("VmHWM:") - before) * 1024.0 / (double)snapshot.decodedBytes;
    }
}

void BM_SourceDecodeOnly(benchmark::State& state)
{
    const auto file = sourceFile(state.range(0) == 0 ? ".wav" : ".flac");
    juce::AudioFormatManager formats;
    sorvane::registerSourceFormats(formats);
    for (auto _ : state)
    {
        std::unique_ptr<juce::AudioFormatReader> reader;
        juce::String error;
        sorvane::openSourceReader(formats, file, reader, error);
        juce::AudioBuffer<float> audio(2, (int)reader->lengthInSamples);
        for (int offset = 0; offset < audio.getNumSamples(); offset += 65536)
            reader->read(&audio, offset, std::min(65536, audio.getNumSamples() - offset), offset, true, true);
        benchmark::DoNotOptimize(audio.getSample(0, 1000));
    }
}

void BM_SourceAnalysisOnly(benchmark::State& state)
{
    juce::AudioFormatManager formats;
    sorvane::registerSourceFormats(formats);
    std::unique_ptr<juce::AudioFormatReader> reader;
    juce::String error;
    sorvane::openSourceReader(formats, sourceFile(".wav"), reader, error);
    juce::AudioBuffer<float> audio(2, (int)reader->lengthInSamples);
    reader->read(&audio, 0, audio.getNumSamples(), 0, true, true);
    std::atomic<bool> cancel{false};
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(sorvane::analyseSource(audio, rate, &cancel));
        benchmark::DoNotOptimize(sorvane::suggestBestMoments(audio, rate, 5, &cancel));
    }
}
} // namespace

BENCHMARK(BM_SourceRequestAndJob)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SourceDecodeOnly)->Arg(0)->Arg(1)->Iterations(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SourceAnalysisOnly)->Iterations(3)->Unit(benchmark::kMillisecond);
