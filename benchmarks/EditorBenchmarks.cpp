// Editor construction and a full repaint at the default size.
#include "editor/SorvaneAudioProcessorEditor.h"

#include <benchmark/benchmark.h>

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
