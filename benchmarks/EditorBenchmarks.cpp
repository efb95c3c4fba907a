// Editor construction, a full repaint at the default size and one refresh tick.
#include "editor/SorvaneAudioProcessorEditor.h"
#include "transport/SourceLoadJob.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>

namespace
{
void initialiseJuce()
{
    // No window goes on screen here; keep JUCE away from any X server.
    if (std::getenv("DISPLAY") == nullptr)
        ::setenv("DISPLAY", ":-1", 1);
    static juce::ScopedJuceInitialiser_GUI juce;
}

std::unique_ptr<SorvaneAudioProcessor> makeStandaloneProcessor()
{
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Standalone);
    auto processor = std::make_unique<SorvaneAudioProcessor>();
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Undefined);
    return processor;
}

void BM_EditorConstruction(benchmark::State& state)
{
    initialiseJuce();
    auto processor = makeStandaloneProcessor();
    for (auto _ : state)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor(processor->createEditor());
        benchmark::DoNotOptimize(editor.get());
    }
}

// Args: 0 Studio Mode, 1 Tressel Mode
void BM_EditorFullRepaint(benchmark::State& state)
{
    initialiseJuce();
    auto processor = makeStandaloneProcessor();
    std::unique_ptr<SorvaneAudioProcessorEditor> editor(
        dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
    editor->setTresselMode(state.range(0) == 1);
    juce::Image image(juce::Image::ARGB, editor->getWidth(), editor->getHeight(), true);
    for (auto _ : state)
    {
        juce::Graphics g(image);
        editor->paintEntireComponent(g, true);
        benchmark::DoNotOptimize(image.getPixelAt(10, 10));
    }
}
} // namespace

BENCHMARK(BM_EditorConstruction)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EditorFullRepaint)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

namespace
{
// A full repaint right after a resize: the unmoving layers are drawn again, not copied.
void BM_EditorFullRepaintAfterResize(benchmark::State& state)
{
    initialiseJuce();
    auto processor = makeStandaloneProcessor();
    std::unique_ptr<SorvaneAudioProcessorEditor> editor(
        dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
    editor->setTresselMode(false);
    juce::Image image(juce::Image::ARGB, 1181, 720, true);
    int width = 1180;
    for (auto _ : state)
    {
        width = width == 1180 ? 1181 : 1180;
        editor->setSize(width, 720);
        juce::Graphics g(image);
        editor->paintEntireComponent(g, true);
        benchmark::DoNotOptimize(image.getPixelAt(10, 10));
    }
}
} // namespace

BENCHMARK(BM_EditorFullRepaintAfterResize)->Unit(benchmark::kMillisecond);

namespace
{
juce::File writeToneWav(const juce::File& file, double seconds, double rate)
{
    auto stream = std::make_unique<juce::FileOutputStream>(file);
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer(wav.createWriterFor(stream.release(), rate, 2, 16, {}, 0));
    const int frames = (int)(seconds * rate);
    juce::AudioBuffer<float> audio(2, frames);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < frames; ++i)
            audio.setSample(c, i, 0.4f * (float)std::sin(2.0 * M_PI * 220.0 * i / rate + c));
    writer->writeFromAudioSampleBuffer(audio, 0, frames);
    return file;
}

// One refresh tick of a showing editor with a 20-second source loaded and playing.
void BM_EditorRefreshTick(benchmark::State& state)
{
    initialiseJuce();
    const auto folder = juce::File::getSpecialLocation(juce::File::tempDirectory)
                            .getNonexistentChildFile("sorvane-tick-benchmark", {}, false);
    folder.createDirectory();
    {
        auto processor = makeStandaloneProcessor();
        std::unique_ptr<SorvaneAudioProcessorEditor> editor(
            dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
        editor->stopTimer();
        double now = 0.0;
        editor->setRefreshHooks({[&now] { return now; }, [] { return true; }});

        juce::String error;
        if (!processor->requestSampleLoad(writeToneWav(folder.getChildFile("tone.wav"), 20.0, 44100), error,
                                          false))
        {
            state.SkipWithError(error.toRawUTF8());
            return;
        }
        while (!sorvane::isTerminal((sorvane::PreparationState)processor->getSampleLoadSnapshot().state))
            juce::MessageManager::getInstance()->runDispatchLoopUntil(5);
        processor->getSourceTransport().startPlayback();
        editor->timerCallback();

        for (auto _ : state)
        {
            now += 1000.0 / 60.0;
            // The playhead moves between ticks as it would while the audio thread renders.
            processor->getTransportState().playheadSamples = std::fmod(now * 44.1, 44100.0 * 20.0);
            editor->timerCallback();
        }
        state.counters["frameRate"] = editor->getVisualQuality().getTargetFrameRate();
    }
    folder.deleteRecursively();
}
} // namespace

BENCHMARK(BM_EditorRefreshTick)->Unit(benchmark::kMicrosecond);

namespace
{
// One tick and the repaint it asks for (the display and its margins, children included), in software
// at the default size; args: 0 Studio Mode, 1 Tressel Mode.
void BM_EditorTickAndDisplayRepaint(benchmark::State& state)
{
    initialiseJuce();
    auto processor = makeStandaloneProcessor();
    std::unique_ptr<SorvaneAudioProcessorEditor> editor(
        dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
    editor->stopTimer();
    editor->setTresselMode(state.range(0) == 1);
    double now = 0.0;
    editor->setRefreshHooks({[&now] { return now; }, [] { return true; }});
    juce::Image image(juce::Image::ARGB, editor->getWidth(), editor->getHeight(), true);
    {
        juce::Graphics g(image);
        editor->paintEntireComponent(g, true);
    }
    const auto region = editor->getAnimatedVisualBounds().expanded(24).getIntersection(editor->getLocalBounds());
    float level = 0.0f;
    for (auto _ : state)
    {
        now += 1000.0 / 60.0;
        level = level > 1.0f ? 0.0f : level + 0.05f;
        processor->outputActivity.store(level);
        editor->timerCallback();
        juce::Graphics g(image);
        g.reduceClipRegion(region);
        editor->paintEntireComponent(g, true);
        benchmark::DoNotOptimize(image.getPixelAt(region.getCentreX(), region.getCentreY()));
    }
}
} // namespace

BENCHMARK(BM_EditorTickAndDisplayRepaint)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

namespace
{
// SETUP / PERFORMANCE to the result dialog: the run on its worker (the encoder probe included) and the
// tick that collects it, polled every millisecond.
void BM_AdvisorButtonToDialog(benchmark::State& state)
{
    initialiseJuce();
    auto processor = makeStandaloneProcessor();
    processor->setRateAndBufferSizeDetails(48000.0, 256);
    std::unique_ptr<SorvaneAudioProcessorEditor> editor(
        dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
    editor->stopTimer();
    editor->setRefreshHooks({[] { return 0.0; }, [] { return true; }});
    bool shown = false;
    editor->setAdvisorDialogPresenter([&shown](const juce::String&, const juce::String&, const auto&,
                                               std::function<void(int)>) { shown = true; });
    for (auto _ : state)
    {
        shown = false;
        editor->launchSetupAdvisor(false);
        while (!shown)
        {
            juce::Thread::sleep(1);
            editor->timerCallback();
        }
    }
}
} // namespace

BENCHMARK(BM_AdvisorButtonToDialog)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
