// Creator projects in use: opening a project with a long source (the request on the message thread,
// then the time until it is published) and an autosave with a full Tressel history (the step on the
// message thread, then the write on the job thread). Run in a temporary home.
#include "processor/SorvaneAudioProcessor.h"
#include "projects/ProjectAutosave.h"
#include "projects/ProjectRecovery.h"
#include "transport/SourceLoadJob.h"
#include "workflow/TresselPersonality.h"

#include <benchmark/benchmark.h>

#include <juce_audio_formats/juce_audio_formats.h>

#include <cstdlib>

namespace
{
double nowMs()
{
    return juce::Time::getMillisecondCounterHiRes();
}

const juce::File& benchmarkHome()
{
    static const juce::File home = []
    {
        auto folder =
            juce::File::getSpecialLocation(juce::File::tempDirectory).getChildFile("sorvane-bench-home");
        folder.createDirectory();
        ::setenv("HOME", folder.getFullPathName().toRawUTF8(), 1);
        if (std::getenv("DISPLAY") == nullptr)
            ::setenv("DISPLAY", ":-1", 1);
        return folder;
    }();
    return home;
}

std::unique_ptr<SorvaneAudioProcessor> makeStandalone()
{
    benchmarkHome();
    static juce::ScopedJuceInitialiser_GUI juce;
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Standalone);
    auto processor = std::make_unique<SorvaneAudioProcessor>();
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Undefined);
    return processor;
}

juce::File tenMinuteSource()
{
    const auto file = benchmarkHome().getChildFile("ten-minutes.wav");
    if (file.existsAsFile())
        return file;
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer(
        wav.createWriterFor(new juce::FileOutputStream(file), 48000, 2, 16, {}, 0));
    juce::AudioBuffer<float> block(2, 48000);
    for (int second = 0; second < 600; ++second)
    {
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 48000; ++i)
                block.setSample(c, i, 0.25f * std::sin(0.05f * (float)(i + second * 48000) + (float)c));
        writer->writeFromAudioSampleBuffer(block, 0, 48000);
    }
    return file;
}

bool pumpUntilLoadEnds(SorvaneAudioProcessor& processor)
{
    for (int i = 0; i < 60000; ++i)
    {
        const auto s = processor.getSampleLoadSnapshot();
        if (sorvane::isTerminal((sorvane::PreparationState)s.state))
            return s.state == (int)sorvane::PreparationState::Published;
        juce::MessageManager::getInstance()->runDispatchLoopUntil(1);
    }
    return false;
}

void BM_OpenProjectWithTenMinuteSource(benchmark::State& state)
{
    auto author = makeStandalone();
    juce::String error;
    author->requestSampleLoad(tenMinuteSource(), error, false);
    pumpUntilLoadEnds(*author);
    const auto project = benchmarkHome().getChildFile("Long.sorvaneproject");
    if (!author->saveCreatorProject(project, error))
    {
        state.SkipWithError(error.toRawUTF8());
        return;
    }
    author.reset();

    auto processor = makeStandalone();
    double requestMs = 0.0, publishedMs = 0.0;
    for (auto _ : state)
    {
        const auto started = nowMs();
        const bool requested = processor->requestCreatorProjectLoad(project, {}, error);
        const auto returned = nowMs();
        if (!requested || !pumpUntilLoadEnds(*processor))
        {
            state.SkipWithError("the project did not open");
            return;
        }
        requestMs += returned - started;
        publishedMs += nowMs() - started;
    }
    state.counters["requestMs"] = benchmark::Counter(requestMs, benchmark::Counter::kAvgIterations);
    state.counters["toPublicationMs"] = benchmark::Counter(publishedMs, benchmark::Counter::kAvgIterations);
}

void BM_AutosaveSixteenEntryHistory(benchmark::State& state)
{
    auto processor = makeStandalone();
    processor->generateTressel(7, sorvane::tresselGhost, 35.0f, {}, false, false);
    for (int i = 0; i < 20; ++i)
        processor->selectTresselVariant(i & 3);
    const auto folder = benchmarkHome().getChildFile("autosave");
    folder.createDirectory();
    sorvane::ProjectAutosave autosave(folder.getChildFile("Autosave.sorvaneproject"),
                                      folder.getChildFile("Autosave.previous.sorvaneproject"));
    std::int64_t now = 1000000;
    double messageMs = 0.0, jobMs = 0.0;
    juce::String error;
    for (auto _ : state)
    {
        const auto started = nowMs();
        autosave.step(
            true, now, [&] { return processor->captureCreatorProjectData(true); }, error);
        const auto returned = nowMs();
        while (autosave.isRunning())
            juce::Thread::sleep(0);
        jobMs += nowMs() - returned;
        messageMs += returned - started;
        if (!autosave.step(false, now, {}, error))
        {
            state.SkipWithError(error.toRawUTF8());
            return;
        }
        now += sorvane::ProjectAutosave::intervalMilliseconds;
    }
    state.counters["historyEntries"] = (double)processor->getTresselSession().history.size();
    state.counters["messageThreadMs"] = benchmark::Counter(messageMs, benchmark::Counter::kAvgIterations);
    state.counters["jobThreadMs"] = benchmark::Counter(jobMs, benchmark::Counter::kAvgIterations);
    state.counters["fileBytes"] = (double)folder.getChildFile("Autosave.sorvaneproject").getSize();
}
} // namespace

BENCHMARK(BM_OpenProjectWithTenMinuteSource)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_AutosaveSixteenEntryHistory)->Unit(benchmark::kMillisecond)->Iterations(20);
