// Host recall with a full session: a host calls both on its message thread, often for many
// instances at once.
#include "processor/SorvaneAudioProcessor.h"
#include "transport/SourceLoadJob.h"
#include "workflow/TresselPersonality.h"

#include <benchmark/benchmark.h>

#include <juce_audio_formats/juce_audio_formats.h>

#include <cstdlib>

namespace
{
juce::File writeSource(const juce::File& file)
{
    file.deleteFile();
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer(
        wav.createWriterFor(new juce::FileOutputStream(file), 48000, 2, 16, {}, 0));
    juce::AudioBuffer<float> audio(2, 48000);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < audio.getNumSamples(); ++i)
            audio.setSample(c, i, 0.25f * std::sin(0.05f * (float)i + (float)c));
    writer->writeFromAudioSampleBuffer(audio, 0, audio.getNumSamples());
    return file;
}

// A loaded source with a narrowed range, social and video choices, and a Tressel session whose
// history is full.
std::unique_ptr<SorvaneAudioProcessor> makeFullSession(const juce::File& source)
{
    if (std::getenv("DISPLAY") == nullptr)
        ::setenv("DISPLAY", ":-1", 1);
    static juce::ScopedJuceInitialiser_GUI juce;
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Standalone);
    auto processor = std::make_unique<SorvaneAudioProcessor>();
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Undefined);

    juce::String error;
    processor->requestSampleLoad(source, error, false);
    for (int i = 0; i < 5000 &&
                    !sorvane::isTerminal((sorvane::PreparationState)processor->getSampleLoadSnapshot().state);
         ++i)
        juce::Thread::sleep(2);
    processor->generateTressel(7, sorvane::tresselGhost, 35.0f, {}, false, false);
    for (int i = 0; i < 16; ++i)
        processor->selectTresselVariant(i & 3);
    auto& range = processor->getTransportState();
    range.rangeStart.store(0.2);
    range.rangeEnd.store(0.8);
    processor->setSocialVideoChoices(1, 2, 1);
    processor->setCreatorVideoIdentity("Benchmark Artist", true);
    return processor;
}

struct Fixture
{
    juce::File source = writeSource(
        juce::File::getSpecialLocation(juce::File::tempDirectory).getChildFile("sorvane-bench-source.wav"));
    std::unique_ptr<SorvaneAudioProcessor> processor = makeFullSession(source);
    ~Fixture()
    {
        processor.reset();
        source.deleteFile();
    }
};

void BM_GetStateInformationFullSession(benchmark::State& state)
{
    Fixture f;
    for (auto _ : state)
    {
        juce::MemoryBlock blob;
        f.processor->getStateInformation(blob);
        benchmark::DoNotOptimize(blob.getData());
    }
}

// The source reload it requests runs on a worker; only the call itself is on the host's thread.
void BM_SetStateInformationFullSession(benchmark::State& state)
{
    Fixture f;
    juce::MemoryBlock blob;
    f.processor->getStateInformation(blob);
    for (auto _ : state)
        f.processor->setStateInformation(blob.getData(), (int)blob.getSize());
    state.counters["blobBytes"] = (double)blob.getSize();
}
} // namespace

BENCHMARK(BM_GetStateInformationFullSession)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetStateInformationFullSession)->Unit(benchmark::kMillisecond);
