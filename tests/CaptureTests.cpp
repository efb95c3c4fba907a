// Processed capture and the before/after ring: frame arithmetic, what the audio callback records,
// level matching, refusals, resets, and the synchronous export.
#include "TestSupport.h"

#include "capture/BeforeAfterRing.h"
#include "capture/ProcessedCapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>
#include <unistd.h>

namespace
{
using sorvane::BeforeAfterRing;
using sorvane::CaptureRequest;
using sorvane::ProcessedCapture;

std::shared_ptr<sorvane::LoadedSample> makeSource(int frames, double rate, float amplitude = 0.5f)
{
    auto sample = std::make_shared<sorvane::LoadedSample>();
    sample->sampleRate = rate;
    sample->name = "tone.wav";
    sample->audio.setSize(2, frames);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < frames; ++i)
            sample->audio.setSample(c, i, amplitude * std::sin(0.05f * (float)i + (float)c));
    return sample;
}

struct FrameCase
{
    const char* name;
    double rate, tempo;
    int bars;
    bool tail, looping;
    double rangeSeconds; // one-shot ranges only
    std::int64_t loop, total;
};

TEST(CaptureFrames, LengthsFollowBarsTempoRateAndOneShotRange)
{
    const FrameCase cases[] = {
        {"4 bars at 120 BPM, 48 kHz", 48000, 120, 4, true, true, 0, 384000, 576000},
        {"without the tail", 48000, 120, 4, false, true, 0, 384000, 384000},
        {"tempo 400 is 300", 48000, 400, 1, true, true, 0, 38400, 230400},
        {"tempo 10 is 30", 48000, 10, 1, false, true, 0, 384000, 384000},
        {"0 bars is 1", 48000, 120, 0, false, true, 0, 96000, 96000},
        {"32 bars is 16", 48000, 120, 32, false, true, 0, 1536000, 1536000},
        {"a rate below 8 kHz is 8 kHz", 4000, 120, 1, true, true, 0, 16000, 48000},
        {"ties round to even", 8001, 96, 1, false, true, 0, 20002, 20002},
        {"one-shot of 1.5 s with 16 bars", 48000, 120, 16, true, false, 1.5, 72000, 264000},
        {"one-shot longer than the bars", 48000, 120, 1, false, false, 10.0, 96000, 96000},
        {"one-shot shorter than a frame", 48000, 120, 1, false, false, 1.0e-9, 1, 1},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        CaptureRequest r;
        r.deviceSampleRate = c.rate;
        r.tempo = c.tempo;
        r.bars = c.bars;
        r.includeTail = c.tail;
        r.looping = c.looping;
        r.sourceSampleRate = 44100.0;
        r.sourceRangeFrames = c.rangeSeconds * 44100.0;
        EXPECT_EQ(ProcessedCapture::loopFramesFor(r), c.loop);
        EXPECT_EQ(ProcessedCapture::loopFramesFor(r) + ProcessedCapture::tailFramesFor(r), c.total);
    }
}

// Feeds a capture directly with blocks whose dry and processed levels are chosen by the test.
struct DirectCapture
{
    ProcessedCapture capture;
    juce::AudioBuffer<float> wet{2, 100}, dry{2, 100};

    explicit DirectCapture(bool matchLevel, float resultLevelDb = 0.0f, bool tail = false)
    {
        CaptureRequest r;
        r.deviceSampleRate = 8000.0;
        r.tempo = 300.0; // one bar = 6400 frames
        r.bars = 1;
        r.includeTail = tail;
        r.matchLevel = matchLevel;
        r.resultLevelDb = resultLevelDb;
        juce::String error;
        EXPECT_TRUE(capture.start(r, error)) << error;
    }

    void run(float wetLevel, float dryLevel, float tailWetLevel = 0.0f)
    {
        int position = 0;
        while (capture.isActive())
        {
            const bool inTail = position >= 6400;
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < 100; ++i)
                {
                    const float s = (i % 2 == 0) ? 1.0f : -1.0f;
                    wet.setSample(c, i, s * (inTail ? tailWetLevel : wetLevel));
                    dry.setSample(c, i, s * (inTail ? 0.0f : dryLevel));
                }
            capture.write(wet, 100, dry, false);
            position += 100;
        }
    }
};

TEST(CaptureLevelMatch, GainComesFromTheLoopEnergyAndTheResultLevel)
{
    struct Case
    {
        const char* name;
        bool match;
        float resultDb, wet, dry;
        float expectedGain;
    };
    const Case cases[] = {
        {"quarter of the dry energy doubles", true, 0.0f, 0.25f, 0.5f, 2.0f},
        {"equal energy is unchanged", true, 0.0f, 0.3f, 0.3f, 1.0f},
        {"result level lowers it", true, -6.0f, 0.25f, 0.5f, 2.0f * std::pow(10.0f, -0.3f)},
        {"-100 dB silences", true, -100.0f, 0.25f, 0.5f, 0.0f},
        {"gain stops at +24 dB", true, 0.0f, 0.001f, 0.9f, 15.8489319246f},
        {"matching off returns it as recorded", false, 0.0f, 0.25f, 0.5f, 1.0f},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        DirectCapture d(c.match, c.resultDb);
        d.run(c.wet, c.dry);
        ASSERT_TRUE(d.capture.isComplete());
        const auto copy = d.capture.copy();
        ASSERT_EQ(copy.getNumSamples(), 6400);
        EXPECT_NEAR(std::abs(copy.getSample(0, 10)), c.wet * c.expectedGain,
                    1.0e-5f * std::max(1.0f, c.expectedGain));
        EXPECT_NEAR(std::abs(copy.getSample(1, 6399)), c.wet * c.expectedGain,
                    1.0e-5f * std::max(1.0f, c.expectedGain));
    }
}

TEST(CaptureLevelMatch, TheTailIsNeverMeasuredAndSilenceIsLeftAlone)
{
    // A loud tail would pull the gain down if it were measured.
    DirectCapture withTail(true, 0.0f, true);
    withTail.run(0.25f, 0.5f, 0.8f);
    const auto copy = withTail.capture.copy();
    ASSERT_EQ(copy.getNumSamples(), 6400 + 32000);
    EXPECT_NEAR(std::abs(copy.getSample(0, 0)), 0.5f, 1.0e-5f);
    EXPECT_NEAR(std::abs(copy.getSample(0, 6400 + 5)), 1.6f, 1.0e-5f);

    DirectCapture silent(true);
    silent.run(0.0f, 0.5f);
    const auto quiet = silent.capture.copy();
    ASSERT_EQ(quiet.getNumSamples(), 6400);
    EXPECT_EQ(quiet.getMagnitude(0, quiet.getNumSamples()), 0.0f);
}

TEST(CaptureState, OnlyACompleteCaptureIsCopiedAndCancelDropsIt)
{
    DirectCapture d(false);
    EXPECT_EQ(d.capture.copy().getNumSamples(), 0); // running
    d.run(0.2f, 0.2f);
    EXPECT_EQ(d.capture.copy().getNumSamples(), 6400);
    EXPECT_FLOAT_EQ(d.capture.getProgress(), 1.0f);
    d.capture.cancel();
    EXPECT_FALSE(d.capture.isComplete());
    EXPECT_EQ(d.capture.copy().getNumSamples(), 0);

    ProcessedCapture never;
    EXPECT_EQ(never.copy().getNumSamples(), 0);
}

//======================================================================================================
struct StandaloneCapture : ::testing::Test
{
    std::unique_ptr<SorvaneAudioProcessor> processor =
        sorvane::test::makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
    juce::AudioBuffer<float> block{2, 256};
    juce::MidiBuffer midi;

    void SetUp() override
    {
        processor->prepareToPlay(8000.0, 256);
        sorvane::test::setPlain(*processor, "standaloneTempo", 120.0f);
    }

    void publish(int frames = 80000) { processor->getSourceLibrary().publish(makeSource(frames, 8000.0)); }

    // Runs blocks; returns everything the callback put out, in order.
    juce::AudioBuffer<float> run(int blocks)
    {
        juce::AudioBuffer<float> out(2, blocks * 256);
        for (int b = 0; b < blocks; ++b)
        {
            block.clear();
            processor->processBlock(block, midi);
            for (int c = 0; c < 2; ++c)
                out.copyFrom(c, b * 256, block, c, 0, 256);
        }
        return out;
    }
};

TEST_F(StandaloneCapture, RecordsExactlyWhatTheCallbackPutsOutAndFeedsTheTailSilence)
{
    publish();
    sorvane::test::setPlain(*processor, "mix", 0.0f); // dry through: silence in means silence out
    sorvane::test::setPlain(*processor, "matchSourceLevel", 0.0f);
    run(4); // let the tempo reach the processor

    juce::String error;
    ASSERT_TRUE(processor->startProcessedCapture(1, true, error)) << error;
    EXPECT_TRUE(error.isEmpty());
    const int loop = 16000, total = 16000 + 32000;
    const auto out = run((total + 255) / 256 + 2);

    ASSERT_TRUE(processor->getProcessedCapture().isComplete());
    const auto copy = processor->copyProcessedCapture();
    ASSERT_EQ(copy.getNumSamples(), total);
    ASSERT_EQ(copy.getNumChannels(), 2);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < total; ++i)
            ASSERT_EQ(copy.getSample(c, i), out.getSample(c, i)) << "channel " << c << " frame " << i;
    EXPECT_GT(copy.getMagnitude(0, loop - 2000, 1000), 0.05f);
    EXPECT_EQ(copy.getMagnitude(loop, total - loop), 0.0f);

    const auto d = processor->getProcessedCapture().describe();
    EXPECT_EQ(d.sampleRate, 8000.0);
    EXPECT_EQ(d.bars, 1);
    EXPECT_EQ(d.tempo, 120.0);
}

TEST_F(StandaloneCapture, RefusalsChangeNothing)
{
    juce::String error = "stale";
    EXPECT_FALSE(processor->startProcessedCapture(4, true, error));
    EXPECT_EQ(error, "Load a sample in the standalone app before capturing.");
    EXPECT_FALSE(processor->getProcessedCapture().isActive());
    EXPECT_FALSE(processor->getTransportState().playing.load());

    auto plugin = sorvane::test::makeProcessor(juce::AudioProcessor::wrapperType_VST3);
    plugin->getSourceLibrary().publish(makeSource(8000, 8000.0));
    EXPECT_FALSE(plugin->startProcessedCapture(4, true, error));
    EXPECT_EQ(error, "Load a sample in the standalone app before capturing.");

    publish();
    ASSERT_TRUE(processor->startProcessedCapture(1, true, error));
    run(3);
    const float progress = processor->getProcessedCapture().getProgress();
    EXPECT_FALSE(processor->startProcessedCapture(4, false, error));
    EXPECT_EQ(error, "A capture is already in progress.");
    EXPECT_TRUE(processor->getProcessedCapture().isActive());
    EXPECT_EQ(processor->getProcessedCapture().getProgress(), progress);
    EXPECT_EQ(processor->getProcessedCapture().describe().bars, 1);
}

TEST_F(StandaloneCapture, StartingSeeksToTheRangeStartPlaysAndMarksTheProjectModified)
{
    publish();
    juce::String error;
    ASSERT_TRUE(processor->getSourceTransport().setSourceRange(0.25, 0.75, true, false, error));
    processor->projectDirty.store(false);
    ASSERT_TRUE(processor->startProcessedCapture(2, true, error));
    EXPECT_TRUE(processor->getTransportState().playing.load());
    EXPECT_TRUE(processor->projectDirty.load());
    run(2);
    const double position = processor->getSourceTransport().getPlayheadFraction();
    EXPECT_GE(position, 0.25);
    EXPECT_LT(position, 0.27);
    const auto d = processor->getProcessedCapture().describe();
    EXPECT_EQ(d.rangeStart, 0.25);
    EXPECT_EQ(d.rangeEnd, 0.75);
    EXPECT_TRUE(d.looping);
}

TEST_F(StandaloneCapture, ANewSourceOrRangeDiscardsTheCaptureAndTheKeptWindowAndClearingKeepsTheWindow)
{
    struct Case
    {
        const char* name;
        std::function<void(StandaloneCapture&)> change;
        // CLEAR AUDIO leaves nothing else to share: the kept window stays for SHARE and export.
        bool keptWindowStays = false;
    };
    const Case cases[] = {
        {"new source", [](StandaloneCapture& f) { f.publish(40000); }},
        {"range change",
         [](StandaloneCapture& f)
         {
             juce::String e;
             ASSERT_TRUE(f.processor->getSourceTransport().setSourceRange(0.1, 0.9, true, false, e));
         }},
        {"cleared source", [](StandaloneCapture& f) { f.processor->clearLoadedSample(); }, true},
    };
    ASSERT_TRUE(processor->armBeforeAfter());
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        publish();
        juce::String error;
        ASSERT_TRUE(processor->startProcessedCapture(1, false, error)) << error;
        run(16000 / 256 + 2);
        ASSERT_TRUE(processor->getProcessedCapture().isComplete());
        EXPECT_EQ(processor->requestKeepThat(4, "KEEP THAT 4 BARS"),
                  "KEEP THAT 4 BARS REQUESTED / FREEZING AT THE NEXT AUDIO BOUNDARY");
        run(1);
        ASSERT_TRUE(processor->completeKeepThat());
        ASSERT_TRUE(processor->hasKeepThat());

        const auto kept = processor->getKeepThat();
        c.change(*this);
        EXPECT_FALSE(processor->getProcessedCapture().isComplete());
        EXPECT_EQ(processor->copyProcessedCapture().getNumSamples(), 0);
        EXPECT_EQ(processor->hasKeepThat(), c.keptWindowStays);
        if (c.keptWindowStays)
        {
            const auto after = processor->getKeepThat();
            ASSERT_EQ(after.after.getNumSamples(), kept.after.getNumSamples());
            for (int ch = 0; ch < kept.after.getNumChannels(); ++ch)
                EXPECT_EQ(std::memcmp(after.after.getReadPointer(ch), kept.after.getReadPointer(ch),
                                      sizeof(float) * (size_t)kept.after.getNumSamples()),
                          0);
        }
        EXPECT_EQ(processor->getBeforeAfterRing().getRingFill(), 0);
    }
}

TEST_F(StandaloneCapture, KeepThatStatusesAndTheFrozenSound)
{
    EXPECT_EQ(processor->requestKeepThat(4, "BEFORE / AFTER"),
              "Play audio before using Keep That."); // no rings
    ASSERT_TRUE(processor->armBeforeAfter());
    EXPECT_EQ(processor->getBeforeAfterRing().getRingLength(), 8000 * 64);
    EXPECT_EQ(processor->requestKeepThat(4, "BEFORE / AFTER"), "Play audio before using Keep That.");

    publish();
    processor->getSourceTransport().startPlayback();
    run(10);
    sorvane::test::setPlain(*processor, "drive", 61.0f);
    const auto expectedSound = processor->captureParameterSnapshot();
    EXPECT_EQ(processor->requestKeepThat(4, "BEFORE / AFTER"),
              "BEFORE / AFTER REQUESTED / FREEZING AT THE NEXT AUDIO BOUNDARY");
    EXPECT_EQ(processor->requestKeepThat(8, "KEEP THAT 8 BARS"),
              "A Keep That snapshot is already being prepared.");
    EXPECT_FALSE(processor->completeKeepThat());        // not frozen before the next block
    sorvane::test::setPlain(*processor, "drive", 5.0f); // later edits do not reach the kept sound
    run(1);
    ASSERT_TRUE(processor->completeKeepThat());
    ASSERT_TRUE(processor->hasKeepThat());
    const auto kept = processor->getKeepThat();
    EXPECT_EQ(kept.before.getNumSamples(), 2560); // only ten blocks were heard
    EXPECT_EQ(kept.bars, 4);
    EXPECT_EQ(kept.tempo, 120.0);
    EXPECT_EQ(kept.sampleRate, 8000.0);
    EXPECT_TRUE(kept.parameterState.isEquivalentTo(expectedSound));
    // The dry half is the source itself.
    EXPECT_GT(kept.before.getMagnitude(0, 0, 2560), 0.4f);
}

TEST_F(StandaloneCapture, CancelStopsRecordingAtOnce)
{
    publish();
    juce::String error;
    ASSERT_TRUE(processor->startProcessedCapture(1, true, error));
    run(5);
    processor->cancelProcessedCapture();
    EXPECT_FALSE(processor->getProcessedCapture().isActive());
    EXPECT_EQ(processor->getProcessedCapture().getProgress(), 0.0f);
    run(400);
    EXPECT_FALSE(processor->getProcessedCapture().isComplete());
    // The source plays on unclipped: no capture gate is left behind.
    EXPECT_GT(run(4).getMagnitude(0, 1024), 0.05f);
}

//======================================================================================================
// A ring at 100 Hz holds 6400 frames, small enough to fill and wrap in a test.
struct SmallRing : ::testing::Test
{
    BeforeAfterRing ring;
    juce::AudioBuffer<float> wet{2, 100}, dry{2, 100};
    int written = 0;

    void SetUp() override { ASSERT_TRUE(ring.arm(100.0, 2)); }

    // Frame n carries n in the processed ring and -n in the dry ring.
    void write(int blocks)
    {
        for (int b = 0; b < blocks; ++b)
        {
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < 100; ++i)
                {
                    wet.setSample(c, i, (float)(written + i));
                    dry.setSample(c, i, -(float)(written + i));
                }
            ring.write(wet, 100, dry, false);
            written += 100;
        }
    }

    static BeforeAfterRing::KeepStamp stamp(int bars, double tempo)
    {
        BeforeAfterRing::KeepStamp s;
        s.bars = bars;
        s.tempo = tempo;
        s.rangeStart = 0.125;
        s.rangeEnd = 0.5;
        s.looping = false;
        s.parameters = juce::ValueTree("SORVANE_STATE").setProperty("marker", 7, nullptr);
        return s;
    }
};

TEST_F(SmallRing, RequestsAreRefusedWithoutAudioOrWhilePending)
{
    EXPECT_EQ(ring.getRingLength(), 6400);
    EXPECT_EQ(ring.request(stamp(4, 120)), BeforeAfterRing::Request::noAudioYet);
    write(1);
    EXPECT_EQ(ring.request(stamp(4, 120)), BeforeAfterRing::Request::accepted);
    EXPECT_EQ(ring.request(stamp(4, 120)), BeforeAfterRing::Request::alreadyPending);
}

TEST_F(SmallRing, TheFreezeHappensAtTheNextBlockAndKeepsTheNewestFramesInOrder)
{
    write(70); // 7000 frames: the ring has wrapped
    ASSERT_EQ(ring.request(stamp(4, 300)), BeforeAfterRing::Request::accepted); // 4 bars at 300 = 320 frames
    EXPECT_FALSE(ring.isFreezeComplete());
    sorvane::BeforeAfterAudioSnapshot snapshot;
    EXPECT_FALSE(ring.takeFrozenWindow(100.0, snapshot));
    write(1); // frozen: this block is not kept
    ASSERT_TRUE(ring.isFreezeComplete());
    ASSERT_TRUE(ring.takeFrozenWindow(100.0, snapshot));

    ASSERT_EQ(snapshot.after.getNumSamples(), 320);
    ASSERT_EQ(snapshot.before.getNumSamples(), 320);
    ASSERT_EQ(snapshot.after.getNumChannels(), 2);
    for (int i = 0; i < 320; ++i)
    {
        ASSERT_EQ(snapshot.after.getSample(1, i), (float)(7000 - 320 + i)) << i;
        ASSERT_EQ(snapshot.before.getSample(0, i), -(float)(7000 - 320 + i)) << i;
    }
    EXPECT_EQ(snapshot.sampleRate, 100.0);
    EXPECT_EQ(snapshot.tempo, 300.0);
    EXPECT_EQ(snapshot.bars, 4);
    EXPECT_EQ(snapshot.rangeStart, 0.125);
    EXPECT_EQ(snapshot.rangeEnd, 0.5);
    EXPECT_FALSE(snapshot.looping);
    EXPECT_EQ((int)snapshot.parameterState.getProperty("marker"), 7);

    // The ring runs on after the freeze.
    write(1);
    EXPECT_EQ(ring.getWriteIndex(), 700);
}

TEST_F(SmallRing, AWindowIsNeverLongerThanTheAudioHeardOrTheRing)
{
    struct Case
    {
        const char* name;
        int blocks, bars;
        double tempo;
        int expected;
    };
    const Case cases[] = {
        {"3 s heard, 4 bars wanted", 3, 4, 120, 300},
        {"ring full, 8 bars at 30 BPM wanted", 80, 8, 30, 6400},
        {"bars 5 and up keep 8", 80, 5, 300, 640},
        {"tempo 400 is 300", 80, 4, 400, 320},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(ring.arm(50.0, 2)); // a new shape clears and re-arms
        ASSERT_TRUE(ring.arm(100.0, 2));
        written = 0;
        write(c.blocks);
        ASSERT_EQ(ring.request(stamp(c.bars, c.tempo)), BeforeAfterRing::Request::accepted);
        write(1);
        sorvane::BeforeAfterAudioSnapshot snapshot;
        ASSERT_TRUE(ring.takeFrozenWindow(100.0, snapshot));
        EXPECT_EQ(snapshot.after.getNumSamples(), c.expected);
        EXPECT_EQ(snapshot.after.getSample(0, c.expected - 1), (float)(c.blocks * 100 - 1));
    }
}
} // namespace

namespace
{
juce::StringArray listing(const juce::File& folder)
{
    juce::StringArray names;
    for (const auto& f : folder.findChildFiles(juce::File::findFilesAndDirectories, true, "*",
                                               juce::File::FollowSymlinks::no))
        names.add(f.getRelativePathFrom(folder) + (f.isDirectory() ? "/" : " " + juce::String(f.getSize())));
    names.sort(false);
    return names;
}

TEST_F(StandaloneCapture, SynchronousExportRefusesClearlyAndReplacesOnlyWhenComplete)
{
    const auto folder =
        juce::File::getSpecialLocation(juce::File::tempDirectory)
            .getNonexistentChildFile("sorvane-capture-export-" + juce::String((int)::getpid()), {});
    ASSERT_TRUE(folder.createDirectory().wasOk());
    const auto existing = folder.getChildFile("existing.wav");
    ASSERT_TRUE(existing.replaceWithText("an earlier export"));
    ASSERT_TRUE(folder.getChildFile("a folder.wav").createDirectory().wasOk());
    ASSERT_TRUE(folder.getChildFile("not a folder").replaceWithText("x"));

    struct Case
    {
        const char* name;
        juce::File target;
        bool withCapture;
        const char* error;
    };
    const Case cases[] = {
        {"empty path", juce::File(), true, "Choose a writable WAV file."},
        {"a directory", folder.getChildFile("a folder.wav"), true, "Choose a writable WAV file."},
        {"no capture", existing, false, "Capture a processed loop before exporting."},
        {"parent is a file", folder.getChildFile("not a folder").getChildFile("x.wav"), true,
         "Could not create the WAV output folder."},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        if (c.withCapture && !processor->getProcessedCapture().isComplete())
        {
            publish();
            juce::String e;
            ASSERT_TRUE(processor->startProcessedCapture(1, false, e)) << e;
            run(16000 / 256 + 2);
        }
        if (!c.withCapture)
            processor->cancelProcessedCapture();
        const auto before = listing(folder);
        juce::String error;
        EXPECT_FALSE(processor->exportProcessedCapture(c.target, error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(listing(folder), before);
        EXPECT_EQ(existing.loadFileAsString(), "an earlier export");
    }

    // A complete capture replaces the file in one step, leaving nothing else behind, and creates a
    // missing folder on the way.
    publish();
    juce::String error;
    ASSERT_TRUE(processor->getSourceTransport().setSourceRange(0.25, 0.75, false, false, error));
    ASSERT_TRUE(processor->startProcessedCapture(1, true, error)) << error;
    run(48000 / 256 + 2);
    const auto nested = folder.getChildFile("new").getChildFile("take.wav");
    for (const auto& target : {existing, nested})
    {
        ASSERT_TRUE(processor->exportProcessedCapture(target, error)) << error;
        EXPECT_TRUE(error.isEmpty());
        std::unique_ptr<juce::AudioFormatReader> reader(
            juce::WavAudioFormat().createReaderFor(target.createInputStream().release(), true));
        ASSERT_NE(reader, nullptr);
        EXPECT_EQ(reader->bitsPerSample, 24u);
        // A one-shot range of 0.5 of a 10 s source: 16000 frames of loop (one bar is shorter) + tail.
        EXPECT_EQ(reader->lengthInSamples, 16000 + 32000);
        EXPECT_EQ(
            reader->metadataValues.getValue("CMNT", {}),
            "Sorvane sourceRangeStart=0.250000000; sourceRangeEnd=0.750000000; sourceRangeMode=one-shot");
    }
    EXPECT_EQ(folder.getNumberOfChildFiles(juce::File::findFiles), 2) << listing(folder).joinIntoString("\n");
    folder.deleteRecursively();
}
} // namespace
