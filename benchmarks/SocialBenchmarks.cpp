// The teaser package of a 15-second 9:16 export: the whole package without the encoder and its three
// visual parts on their own; the package with the MP4 against the encoder alone on the same cover and
// WAV with the same arguments; and a project save and load with a 16-entry Tressel history.
#include "TestSupport.h"

#include "projects/CreatorProjectFile.h"
#include "social/ExternalProcess.h"
#include "social/FrameRenderer.h"
#include "social/PreviewPage.h"
#include "social/SocialExporter.h"
#include "workflow/TresselPersonality.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <unistd.h>

namespace
{
constexpr double rate = 48000.0;

struct BenchmarkFolder
{
    juce::File dir =
        juce::File::getSpecialLocation(juce::File::tempDirectory)
            .getNonexistentChildFile("sorvane-benchmark-social-" + juce::String((int)::getpid()), "", false);
    BenchmarkFolder() { dir.createDirectory(); }
    ~BenchmarkFolder() { dir.deleteRecursively(); }
};

struct SearchPath
{
    juce::String previous = juce::SystemStats::getEnvironmentVariable("PATH", {});
    explicit SearchPath(const juce::String& path) { ::setenv("PATH", path.toRawUTF8(), 1); }
    ~SearchPath() { ::setenv("PATH", previous.toRawUTF8(), 1); }
};

// 15 seconds of effected audio: the teaser is the input as it is.
const juce::AudioBuffer<float>& teaserInput()
{
    static const juce::AudioBuffer<float> audio = []
    {
        juce::AudioBuffer<float> a(2, (int)(15 * rate));
        juce::Random random(3);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < a.getNumSamples(); ++i)
                a.setSample(c, i,
                            0.6f * (float)std::sin(2.0 * juce::MathConstants<double>::pi *
                                                   (110.0 + 55.0 * c) * i / rate) +
                                0.05f * (random.nextFloat() - 0.5f));
        return a;
    }();
    return audio;
}

sorvane::SocialExportOptions options()
{
    sorvane::SocialExportOptions o;
    o.title = "Night Shift";
    o.creator = "Ada";
    o.personality = "Glass";
    o.dna = "SV1:" + juce::String::repeatedString("QUJD", 2000);
    o.aspect = 0;
    o.duration = 0;
    o.effectedOnly = true;
    return o;
}

sorvane::ScopeVisualInputs visuals()
{
    sorvane::ScopeVisualInputs v;
    v.parameters.fill(0.5f);
    v.meters.fill(0.3f);
    return v;
}

void exportPackage(benchmark::State& state, bool withEncoder)
{
    const BenchmarkFolder folder;
    const SearchPath path(withEncoder ? juce::SystemStats::getEnvironmentVariable("PATH", {})
                                      : folder.dir.getChildFile("no-bin").getFullPathName());
    int n = 0;
    for (auto _ : state)
    {
        std::atomic<float> progress{0.0f};
        std::atomic<bool> cancel{false};
        const auto result =
            sorvane::SocialExporter::exportTeaser(folder.dir.getChildFile(juce::String(++n)), teaserInput(),
                                                  rate, visuals(), options(), &progress, &cancel);
        if (!result.success)
            state.SkipWithError(result.message.toRawUTF8());
    }
}

void BM_PackageWithoutEncoder(benchmark::State& state)
{
    exportPackage(state, false);
}
BENCHMARK(BM_PackageWithoutEncoder)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

void BM_PackagePartRenderFrame(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(sorvane::renderFrame(teaserInput(), rate, visuals(), options()));
}
BENCHMARK(BM_PackagePartRenderFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PackagePartWritePng(benchmark::State& state)
{
    const BenchmarkFolder folder;
    const auto cover = sorvane::renderFrame(teaserInput(), rate, visuals(), options());
    for (auto _ : state)
        sorvane::writePng(cover, folder.dir.getChildFile("sorvane-cover.png"));
}
BENCHMARK(BM_PackagePartWritePng)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PackagePartPreviewPage(benchmark::State& state)
{
    const BenchmarkFolder folder;
    for (auto _ : state)
        sorvane::writePreviewHtml(sorvane::createPreviewHtml(options(), teaserInput(), rate),
                                  folder.dir.getChildFile("preview.html"));
}
BENCHMARK(BM_PackagePartPreviewPage)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PackageWithEncoder(benchmark::State& state)
{
    exportPackage(state, true);
}
BENCHMARK(BM_PackageWithEncoder)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The encoder alone, with the package's own arguments on the package's own cover and WAV.
void BM_EncoderAlone(benchmark::State& state)
{
    const BenchmarkFolder folder;
    const auto package = folder.dir.getChildFile("package");
    {
        const SearchPath path(folder.dir.getChildFile("no-bin").getFullPathName());
        std::atomic<float> progress{0.0f};
        std::atomic<bool> cancel{false};
        sorvane::SocialExporter::exportTeaser(package, teaserInput(), rate, visuals(), options(), &progress,
                                              &cancel);
    }
    const auto plan = sorvane::SocialExporter::preflight(teaserInput(), rate, options());
    const auto arguments = sorvane::SocialExporter::createVideoArguments(package, plan, options().background);
    for (auto _ : state)
    {
        sorvane::ExternalProcess encoder;
        if (!encoder.start(arguments) || !encoder.waitForExit(600000) || encoder.getExitCode() != 0)
            state.SkipWithError("ffmpeg failed");
    }
}
BENCHMARK(BM_EncoderAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

sorvane::CreatorProjectData projectWithFullHistory()
{
    auto processor = sorvane::test::makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
    sorvane::CreatorProjectData data;
    processor->generateTressel(100u, sorvane::tresselGlass, 55.0f, {}, false, false);
    data.tresselSession = processor->getTresselSession();
    // A session auditioned and tweaked sixteen times: the most history a project carries.
    data.tresselSession.history.clear();
    for (int i = 0; i < (int)sorvane::TresselSessionSnapshot::maxHistory; ++i)
    {
        processor->selectTresselVariant(i % 4);
        sorvane::test::setPlain(*processor, "drive", (float)(i * 5));
        data.tresselSession.history.push_back(processor->captureParameterSnapshot());
    }
    data.parameterState = processor->captureParameterSnapshot();
    return data;
}

void BM_ProjectWrite(benchmark::State& state)
{
    const BenchmarkFolder folder;
    const auto data = projectWithFullHistory();
    state.counters["historyEntries"] = (double)data.tresselSession.history.size();
    juce::String error;
    for (auto _ : state)
        if (!sorvane::writeCreatorProject(folder.dir.getChildFile("Song.sorvaneproject"), data, error))
            state.SkipWithError(error.toRawUTF8());
    state.counters["bytes"] = (double)folder.dir.getChildFile("Song.sorvaneproject").getSize();
}
BENCHMARK(BM_ProjectWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ProjectRead(benchmark::State& state)
{
    const BenchmarkFolder folder;
    const auto file = folder.dir.getChildFile("Song.sorvaneproject");
    juce::String error;
    sorvane::writeCreatorProject(file, projectWithFullHistory(), error);
    for (auto _ : state)
    {
        sorvane::CreatorProjectData data;
        if (!sorvane::readCreatorProject(file, data, error))
            state.SkipWithError(error.toRawUTF8());
        benchmark::DoNotOptimize(data);
    }
}
BENCHMARK(BM_ProjectRead)->Unit(benchmark::kMillisecond)->UseRealTime();
} // namespace
