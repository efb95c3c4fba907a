// The preset catalog with ten thousand user presets: a scan without an index, a scan that reuses it,
// and one search keystroke (query, discovery filter and the browser combo refilled).
#include "editor/SorvaneAudioProcessorEditor.h"
#include "presets/PresetCatalog.h"
#include "processor/SorvaneAudioProcessor.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>

namespace
{
constexpr int presetCount = 10000;

// One temporary home for the whole run, holding the ten thousand presets; created once.
const juce::File& benchmarkHome()
{
    static const juce::File home = []
    {
        if (std::getenv("DISPLAY") == nullptr)
            ::setenv("DISPLAY", ":-1", 1);
        auto folder = juce::File::getSpecialLocation(juce::File::tempDirectory)
                          .getChildFile("sorvane-preset-bench-" + juce::String((int)::getpid()));
        folder.deleteRecursively();
        folder.createDirectory();
        ::setenv("HOME", folder.getFullPathName().toRawUTF8(), 1);
        const auto presets = sorvane::PresetCatalog::defaultUserPresetDirectory();
        presets.createDirectory();
        juce::String params;
        for (int p = 0; p < 34; ++p)
            params << "<PARAM id=\"param" << p << "\" value=\"" << p * 1.5 << "\"/>";
        for (int i = 0; i < presetCount; ++i)
            presets.getChildFile("User preset " + juce::String(i) + ".sorvane")
                .replaceWithText(
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<SORVANE_STATE presetName=\"User "
                    "preset " +
                    juce::String(i) + "\" presetCategory=\"" + (i % 3 == 0 ? "Pads" : "Drums") +
                    "\" presetTags=\"Dark,Wide\" presetIntensity=\"" + juce::String(i % 101) + "\">" +
                    params + "</SORVANE_STATE>\r\n");
        std::atexit([] { juce::File(std::getenv("HOME")).deleteRecursively(); });
        return folder;
    }();
    return home;
}

double peakResidentMegabytes()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return (double)usage.ru_maxrss / 1024.0;
}

void BM_PresetScanWithoutIndex(benchmark::State& state)
{
    benchmarkHome();
    sorvane::PresetCatalog catalog;
    for (auto _ : state)
    {
        catalog.getIndexFile().deleteFile();
        catalog.refreshUserPresets(false);
    }
    state.counters["presets"] = (double)catalog.getPresets().size();
    state.counters["peakRssMB"] = peakResidentMegabytes();
}

void BM_PresetScanWithValidIndex(benchmark::State& state)
{
    benchmarkHome();
    sorvane::PresetCatalog catalog;
    for (auto _ : state)
        catalog.refreshUserPresets(false);
    state.counters["presets"] = (double)catalog.getPresets().size();
    state.counters["peakRssMB"] = peakResidentMegabytes();
}

void BM_PresetSearchKeystroke(benchmark::State& state)
{
    benchmarkHome();
    static juce::ScopedJuceInitialiser_GUI juce;
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_VST3);
    auto processor = std::make_unique<SorvaneAudioProcessor>();
    juce::AudioProcessor::setTypeOfNextNewPlugin(juce::AudioProcessor::wrapperType_Undefined);
    std::unique_ptr<SorvaneAudioProcessorEditor> editor(
        dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
    editor->stopTimer();
    auto& search = editor->getPresetControls().search;
    // A broad query fills the combo with thousands of entries, the worst a keystroke meets.
    const char* queries[] = {"u", "us", "use", "user"};
    int next = 0;
    for (auto _ : state)
    {
        search.setText(queries[next++ & 3], juce::dontSendNotification);
        editor->refreshPresetBrowser(false);
    }
    state.counters["results"] = (double)editor->getPresetResults().size();
    editor = nullptr;
}
} // namespace

BENCHMARK(BM_PresetScanWithoutIndex)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_PresetScanWithValidIndex)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PresetSearchKeystroke)->Unit(benchmark::kMillisecond);
