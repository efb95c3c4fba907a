// SHARE RESULT: the durations it offers, where its audio comes from, the job it starts, and the
// offline render that must match the engine driven directly.
#include "CaptureEditorFixture.h"
#include "ExportTestSupport.h"
#include "SocialTestSupport.h"

#include "dsp/SorvaneEngine.h"
#include "social/SocialShare.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
using sorvane::test::CaptureEditorFixture;
using State = sorvane::CreatorExportState;

struct ShareFixture : CaptureEditorFixture
{
    // The teaser packages are made without the encoder, as on a machine without ffmpeg.
    sorvane::test::ScopedSearchPath noEncoder{home.getFolder().getChildFile("no-bin").getFullPathName()};
    juce::File parent = home.getFolder().getChildFile("results");

    ShareFixture() { parent.createDirectory(); }

    juce::StringArray enabledDurations()
    {
        juce::StringArray items;
        auto& combo = editor->getSocialControls().duration;
        for (int i = 0; i < combo.getNumItems(); ++i)
            if (combo.isItemEnabled(combo.getItemId(i)))
                items.add(combo.getItemText(i));
        return items;
    }

    juce::File onlyPackage()
    {
        const auto packages = parent.findChildFiles(juce::File::findDirectories, false, "Sorvane-Result-*");
        return packages.size() == 1 ? packages[0] : juce::File();
    }

    void setRange(double start, double end)
    {
        juce::String error;
        ASSERT_TRUE(processor->getSourceTransport().setSourceRange(start, end, false, false, error)) << error;
    }
};

// The engine driven by hand over the same frames, in the same blocks, with the same settings.
juce::AudioBuffer<float> engineDirect(const sorvane::LoadedSample& sample, juce::int64 start,
                                      juce::int64 length, const sorvane::DspSettings& settings, double tempo)
{
    auto engine = std::make_unique<sorvane::SorvaneEngine>();
    engine->prepare(sample.sampleRate, sample.audio.getNumChannels(), 1024);
    juce::AudioBuffer<float> out(sample.audio.getNumChannels(), (int)length);
    for (juce::int64 t = 0; t < length; t += 1024)
    {
        const auto n = (int)std::min<juce::int64>(1024, length - t);
        juce::AudioBuffer<float> block(sample.audio.getNumChannels(), n);
        for (int c = 0; c < block.getNumChannels(); ++c)
            block.copyFrom(c, 0, sample.audio, c, (int)(start + t), n);
        engine->process(block, settings, tempo);
        for (int c = 0; c < block.getNumChannels(); ++c)
            out.copyFrom(c, (int)t, block, c, 0, n);
    }
    return out;
}

bool sameSamples(const juce::AudioBuffer<float>& a, int aStart, const juce::AudioBuffer<float>& b, int bStart,
                 int frames)
{
    for (int c = 0; c < a.getNumChannels(); ++c)
        if (std::memcmp(a.getReadPointer(c, aStart), b.getReadPointer(c, bStart),
                        sizeof(float) * (size_t)frames) != 0)
            return false;
    return true;
}
} // namespace

TEST(EditorShare, DurationsFollowTheRegionAndAnUnavailableChoiceFallsBackToFull)
{
    ShareFixture f;
    f.publishSource(20 * 8000);
    f.tick();
    EXPECT_EQ(f.enabledDurations().joinIntoString(","), "15 SEC,FULL");

    auto& duration = f.editor->getSocialControls().duration;
    duration.setSelectedId(1, juce::sendNotificationSync); // 15 SEC, stored through the combo's action
    EXPECT_EQ(f.processor->socialDuration.load(), 0);

    f.setRange(0.25, 0.75); // 10 seconds
    f.editor->refreshSocialDurationChoices();
    EXPECT_EQ(f.enabledDurations().joinIntoString(","), "FULL");
    EXPECT_EQ(duration.getSelectedId(), 3);
    EXPECT_EQ(f.processor->socialDuration.load(), 2);
}

TEST(EditorShare, SourceShareRendersDryThenProcessedWithTheSettingsOfTheRequest)
{
    ShareFixture f;
    f.publishSource(20 * 8000);
    sorvane::test::setPlain(*f.processor, "drive", 60.0f);
    f.tick();
    f.editor->getSocialControls().duration.setSelectedId(1);
    const auto settings = f.processor->readSettings();
    const auto tempo = f.processor->currentTempoBpm.load();

    // The render the job will run, prepared now; a knob moved afterwards must not reach it.
    juce::String error;
    auto prepared = f.processor->prepareSourceVideo(15.0, error);
    ASSERT_TRUE(prepared.render) << error;
    sorvane::test::setPlain(*f.processor, "drive", 5.0f);
    std::atomic<float> progress{0.0f};
    std::atomic<bool> cancel{false};
    juce::String message;
    const auto rendered = prepared.render(false, progress, cancel, message);
    ASSERT_EQ(rendered.getNumSamples(), 2 * 15 * 8000);
    EXPECT_EQ(progress.load(), 0.08f);
    const auto sample = f.processor->getSourceLibrary().getCurrentSample();
    EXPECT_TRUE(sameSamples(rendered, 0, sample->audio, 0, 15 * 8000)) << "the before half is the dry source";
    const auto direct = engineDirect(*sample, 0, 15 * 8000, settings, tempo);
    EXPECT_TRUE(sameSamples(rendered, 15 * 8000, direct, 0, 15 * 8000)) << "the after half is the engine's";

    // The same through the button's flow: the status names it and the package lands in a new folder.
    f.editor->shareToChosenFolder(f.parent);
    EXPECT_EQ(f.editor->getStatusMessage(), "SOCIAL SELECTED AUDIO / 15.0 s STARTED");
    EXPECT_TRUE(f.editor->getExportActivity().isVisible());
    ASSERT_EQ(f.finishExport(), State::Completed);
    EXPECT_EQ(f.editor->getStatusMessage(),
              "Created the 9:16 / Tressel Rings / 15.0 s interactive preview, cover, DNA metadata, and "
              "level-preserving WAV. Install ffmpeg and export again to also create MP4.");
    const auto package = f.onlyPackage();
    ASSERT_TRUE(package.isDirectory());
    EXPECT_TRUE(package.getFileName().startsWith("Sorvane-Result-20"));
    const auto wav = sorvane::test::readWithJuce(package.getChildFile("sorvane-teaser.wav"));
    EXPECT_EQ(wav.frames, 15 * 8000);
    EXPECT_EQ(wav.metadata["CMNT"],
              "Sorvane sourceRangeStart=0.000000000; sourceRangeEnd=0.750000000; sourceRangeMode=one-shot");
    EXPECT_EQ(f.editor->getDirectoryStore().get("socialExportDirectory", {}), f.parent);

    // The package is made to be posted: no file in it names this home folder.
    const auto homePath = f.home.getFolder().getFullPathName();
    for (const auto& file : package.findChildFiles(juce::File::findFiles, true))
    {
        juce::MemoryBlock bytes;
        ASSERT_TRUE(file.loadFileAsData(bytes));
        const auto text = bytes.toString();
        EXPECT_FALSE(text.contains(homePath)) << file.getFileName();
    }
}

TEST(EditorShare, FullBeforeAfterOfATwelveSecondSourceReadsTwentyFourSeconds)
{
    ShareFixture f;
    f.publishSource(12 * 8000);
    f.tick();
    f.editor->getSocialControls().duration.setSelectedId(3);
    f.editor->shareToChosenFolder(f.parent);
    EXPECT_EQ(f.editor->getStatusMessage(), "SOCIAL FULL SAMPLE / 24.0 s STARTED");

    // A second share while the first runs is refused and the first goes on.
    const auto* first = f.editor->getExportJob();
    f.editor->shareToChosenFolder(f.parent);
    EXPECT_EQ(f.editor->getStatusMessage(), "ANOTHER CREATOR EXPORT IS ALREADY RUNNING");
    EXPECT_EQ(f.editor->getExportJob(), first);
    ASSERT_EQ(f.finishExport(), State::Completed);
    const auto wav = sorvane::test::readWithJuce(f.onlyPackage().getChildFile("sorvane-teaser.wav"));
    EXPECT_EQ(wav.frames, 24 * 8000);

    // Effected only: the processed half alone.
    f.editor->getSocialControls().effectedOnly.setToggleState(true, juce::sendNotificationSync);
    EXPECT_TRUE(f.processor->getCreatorVideoIdentity().effectedOnly);
    f.editor->shareToChosenFolder(f.parent);
    EXPECT_EQ(f.editor->getStatusMessage(), "SOCIAL FULL SAMPLE / 12.0 s STARTED");
    EXPECT_EQ(f.finishExport(), State::Completed);
}

TEST(EditorShare, WithoutASourceTheKeepThatWindowIsShared)
{
    ShareFixture f;
    f.tick();
    f.editor->chooseSocialExport();
    EXPECT_EQ(f.editor->getStatusMessage(), "CAPTURE BEFORE / AFTER OR KEEP THAT BEFORE SHARING");
    EXPECT_EQ(f.editor->getExportJob(), nullptr);

    // Four bars at 120 BPM: eight seconds in each half.
    f.runBlocks(300);
    f.editor->getTresselControls().beforeAfter.triggerClick();
    sorvane::test::pumpMessages(5);
    f.runBlocks(4);
    f.tick();
    ASSERT_TRUE(f.processor->hasKeepThat());
    // Without a source the kept window is what SHARE uses, and its tooltip says so.
    f.tick();
    EXPECT_TRUE(f.editor->getSocialControls().share.getTooltip().startsWith(
        "Create a result package from the kept KEEP THAT window: "))
        << f.editor->getSocialControls().share.getTooltip();
    f.editor->refreshSocialDurationChoices();
    EXPECT_EQ(f.enabledDurations().joinIntoString(","), "FULL");

    f.editor->shareToChosenFolder(f.parent);
    EXPECT_EQ(f.editor->getStatusMessage(), "SOCIAL 9:16 / Tressel Rings / 16.0 s STARTED");
    ASSERT_EQ(f.finishExport(), State::Completed);
    const auto wav = sorvane::test::readWithJuce(f.onlyPackage().getChildFile("sorvane-teaser.wav"));
    EXPECT_EQ(wav.frames, 16 * 8000);
}

TEST(EditorShare, SocialChoicesAndTheArtistTravelBothWays)
{
    ShareFixture f;
    auto& s = f.editor->getSocialControls();
    s.aspect.setSelectedItemIndex(2, juce::sendNotificationSync);
    s.background.setSelectedItemIndex(1, juce::sendNotificationSync);
    EXPECT_EQ(f.processor->socialAspect.load(), 2);
    EXPECT_EQ(f.processor->socialBackground.load(), 1);
    s.artist.setText("Ada\tLovelace", true);
    sorvane::test::pumpMessages(20);
    EXPECT_EQ(f.processor->getCreatorVideoIdentity().artist, "Ada Lovelace");

    // A restore elsewhere (a project, a host) shows on the next tick.
    f.processor->setSocialVideoChoices(1, 2, 2);
    f.processor->setCreatorVideoIdentity("Grace", true);
    f.tick();
    EXPECT_EQ(s.aspect.getSelectedItemIndex(), 1);
    EXPECT_EQ(s.duration.getSelectedItemIndex(), 2);
    EXPECT_EQ(s.background.getSelectedItemIndex(), 2);
    EXPECT_EQ(s.artist.getText(), "Grace");
    EXPECT_TRUE(s.effectedOnly.getToggleState());
    EXPECT_TRUE(s.share.isEnabled()) << "a click says why it cannot share";
    EXPECT_TRUE(s.share.getTooltip().startsWith("Load a source"));
}

TEST(SocialShare, RegionAndRefusals)
{
    struct Case
    {
        juce::int64 frames;
        double start, end;
        juce::int64 first, last;
    };
    const Case cases[] = {{1000, 0.25, 0.75, 250, 750},
                          {1000, 0.9, 0.1, 900, 901},
                          {1000, 1.0, 1.0, 999, 1000},
                          {3, 0.5, 0.5, 2, 3},
                          {0, 0.0, 1.0, 0, 0}};
    for (const auto& c : cases)
    {
        const auto r = sorvane::socialSourceRegion(c.frames, c.start, c.end);
        EXPECT_EQ(r.start, c.first) << c.frames << " " << c.start;
        EXPECT_EQ(r.end, c.last) << c.frames << " " << c.end;
    }

    auto sample = std::make_shared<sorvane::LoadedSample>();
    sample->sampleRate = 8000.0;
    sample->audio.setSize(2, 20 * 8000);
    juce::String error;
    EXPECT_FALSE(sorvane::prepareSourceVideo(nullptr, 0, 1, 15.0, {}, 120.0, error).render);
    EXPECT_EQ(error, "Load a sample before exporting video.");
    for (const double d : {30.0, 20.0})
    {
        EXPECT_FALSE(sorvane::prepareSourceVideo(sample, 0, 1, d, {}, 120.0, error).render) << d;
        EXPECT_EQ(error, "The selected sample or moment is too short. Select FULL or a shorter duration.");
    }
    const auto full = sorvane::prepareSourceVideo(sample, 0.25, 0.5, 0.0, {}, 120.0, error);
    ASSERT_TRUE(full.render);
    EXPECT_EQ(full.region.start, 0) << "FULL is the whole file";
    EXPECT_EQ(full.region.end, 20 * 8000);

    std::atomic<float> progress{0.0f};
    std::atomic<bool> cancel{true};
    juce::String message;
    EXPECT_EQ(full.render(false, progress, cancel, message).getNumSamples(), 0);
    EXPECT_EQ(message, "Social export cancelled.");
}

TEST(SocialShare, FullRenderMemoryBudgetEndsBetween466And467Seconds)
{
    for (const int seconds : {466, 467})
    {
        auto sample = std::make_shared<sorvane::LoadedSample>();
        sample->sampleRate = 48000.0;
        sample->audio.setSize(2, seconds * 48000);
        juce::String error;
        const auto full = sorvane::prepareSourceVideo(sample, 0, 1, 0.0, {}, 120.0, error);
        ASSERT_TRUE(full.render);
        std::atomic<float> progress{0.0f};
        std::atomic<bool> cancel{false};
        juce::String message;
        std::atomic<bool> returned{false};
        // The render that is allowed to start is stopped at its first block.
        std::thread stopper(
            [&]
            {
                for (int i = 0; i < 30000 && progress.load() == 0.0f && !returned.load(); ++i)
                    juce::Thread::sleep(1);
                cancel.store(true);
            });
        const auto rendered = full.render(false, progress, cancel, message);
        returned.store(true);
        stopper.join();
        EXPECT_EQ(rendered.getNumSamples(), 0);
        EXPECT_EQ(message,
                  seconds == 466
                      ? "Social export cancelled."
                      : "FULL export exceeds the available rendering memory budget. Use 15 SEC or 30 SEC.")
            << seconds;
    }
}
