// The processed-capture WAV writer: refusals that leave the disk alone, peak protection to -1 dBFS and
// no further, files that other readers agree on, progress, cancellation and a disk that fills up.
#include "ExportTestSupport.h"

#include "capture/WaveExport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <thread>

using namespace sorvane;
using namespace sorvane::test;

namespace
{
constexpr double rate = 48000.0;
constexpr float step24 = 1.0f / 8388608.0f;
// 16 bars at 120 BPM and 48 kHz with the 4-second tail.
constexpr int longCaptureFrames = 1728000;

// What JUCE's own 24-bit writer makes of the same audio: the reference for "left unchanged".
juce::MemoryBlock plainDataChunk(const juce::AudioBuffer<float>& audio, const juce::File& scratch)
{
    const auto file = scratch.getNonexistentChildFile("plain", ".wav");
    {
        std::unique_ptr<juce::AudioFormatWriter> writer(juce::WavAudioFormat().createWriterFor(
            new juce::FileOutputStream(file), rate, (unsigned int)audio.getNumChannels(), 24, {}, 0));
        EXPECT_NE(writer, nullptr);
        EXPECT_TRUE(writer->writeFromAudioSampleBuffer(audio, 0, audio.getNumSamples()));
    }
    auto data = dataChunk(file);
    file.deleteFile();
    return data;
}

int largestCode(const juce::MemoryBlock& data)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data.getData());
    int largest = 0;
    for (size_t i = 0; i + 2 < data.getSize(); i += 3)
    {
        const auto raw = (std::int32_t)((std::uint32_t)bytes[i] << 8 | (std::uint32_t)bytes[i + 1] << 16 |
                                        (std::uint32_t)bytes[i + 2] << 24) >>
                         8;
        largest = std::max(largest, std::abs(raw));
    }
    return largest;
}

float magnitude(const juce::AudioBuffer<float>& audio)
{
    return audio.getMagnitude(0, audio.getNumSamples());
}

// Every value progress may take once the scan is over: 0.35 and one value per finished block.
std::set<float> progressGrid(int frames)
{
    std::set<float> grid{0.35f};
    for (int done = 4096; done < frames + 4096; done += 4096)
        grid.insert((float)(0.35 + 0.65 * (double)std::min(done, frames) / (double)frames));
    return grid;
}

juce::var probe(const juce::File& file)
{
    juce::ChildProcess ffprobe;
    if (!ffprobe.start(juce::StringArray{"ffprobe", "-v", "error", "-show_streams", "-of", "json",
                                         file.getFullPathName()},
                       juce::ChildProcess::wantStdOut))
        return {};
    const auto output = ffprobe.readAllProcessOutput();
    ffprobe.waitForProcessToFinish(60000);
    return juce::JSON::parse(output)["streams"][0];
}
} // namespace

TEST(WaveExport, RefusesWithExactSentenceAndChangesNothing)
{
    struct Case
    {
        const char* name;
        int channels, frames;
        double sampleRate;
        const char* target;
        const char* error;
    };
    const Case cases[] = {
        {"no channel", 0, 4800, rate, "out.wav", "Capture audio before exporting."},
        {"no frame", 2, 0, rate, "out.wav", "Capture audio before exporting."},
        {"rate below 8 kHz", 2, 4800, 7999.0, "out.wav", "Capture audio before exporting."},
        {"zero rate", 2, 4800, 0.0, "out.wav", "Capture audio before exporting."},
        {"NaN rate", 2, 4800, std::nan(""), "out.wav", "Capture audio before exporting."},
        {"refusal comes before the destination is looked at", 0, 4800, rate, "missing/out.wav",
         "Capture audio before exporting."},
        {"more channels than the encoder takes", 256, 16, rate, "out.wav",
         "Could not initialise the 24-bit WAV encoder."},
        {"infinite rate", 2, 4800, std::numeric_limits<double>::infinity(), "out.wav",
         "Could not initialise the 24-bit WAV encoder."},
        {"target is a folder", 2, 4800, rate, "folder", "Could not create the WAV output file."},
        {"target folder is missing", 2, 4800, rate, "missing/out.wav",
         "Could not create the WAV output file."},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        ExportFolder temp;
        writeBytes(temp.dir.getChildFile("existing.wav"), "previous export");
        temp.dir.getChildFile("folder").createDirectory();
        writeBytes(temp.dir.getChildFile("folder/inside.txt"), "kept");
        const auto before = listing(temp.dir);

        std::atomic<float> progress{0.125f};
        std::atomic<bool> cancel{false};
        juce::String error = "stale";
        EXPECT_FALSE(writeNormalisedWave(temp.dir.getChildFile(c.target),
                                         testSignal(c.channels, c.frames, 0.5f), c.sampleRate, &progress,
                                         &cancel, error, "comment"));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(listing(temp.dir), before);
        EXPECT_EQ(temp.dir.getChildFile("existing.wav").loadFileAsString(), "previous export");
    }
}

TEST(WaveExport, NonFiniteSampleAnywhereIsRefusedBeforeAnyFileExists)
{
    const int frames = 10000;
    const float values[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity()};
    ExportFolder temp;
    const auto target = temp.dir.getChildFile("capture.wav");

    for (int channel = 0; channel < 2; ++channel)
        for (const int position : {0, frames / 2, frames - 1})
            for (const float value : values)
                for (const bool withCancelFlag : {false, true})
                {
                    SCOPED_TRACE(juce::String("channel ") + juce::String(channel) + " frame " +
                                 juce::String(position) + " value " + juce::String(value) +
                                 (withCancelFlag ? " with cancel flag" : ""));
                    auto audio = testSignal(2, frames, 0.5f);
                    audio.setSample(channel, position, value);
                    std::atomic<float> progress{0.125f};
                    std::atomic<bool> cancel{false};
                    juce::String error;
                    EXPECT_FALSE(writeNormalisedWave(target, audio, rate, &progress,
                                                     withCancelFlag ? &cancel : nullptr, error, {}));
                    EXPECT_EQ(error, "The capture contains non-finite audio.");
                    EXPECT_FALSE(target.exists());
                    EXPECT_EQ(progress.load(), 0.125f);
                }
}

TEST(WaveExport, PeakProtectionLowersOnlyAudioAboveTheCeiling)
{
    const float justAbove = std::nextafter(wavePeakCeiling, 2.0f);
    struct Case
    {
        const char* name;
        float peak;
        bool lowered;
    };
    const Case cases[] = {
        {"half scale", 0.5f, false},
        {"exactly at the ceiling", wavePeakCeiling, false},
        {"quiet", 0.001f, false},
        {"one step above the ceiling", justAbove, true},
        {"full scale", 1.0f, true},
        {"negative full scale", -1.0f, true},
        {"far above full scale", 4.0f, true},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        ExportFolder temp;
        const auto target = temp.dir.getChildFile("capture.wav");
        const auto audio = testSignal(2, 20000, c.peak);

        juce::String error;
        ASSERT_TRUE(writeNormalisedWave(target, audio, rate, nullptr, nullptr, error, {})) << error;
        EXPECT_TRUE(error.isEmpty());

        const auto back = readWithJuce(target);
        ASSERT_TRUE(back.ok);
        // The largest 24-bit code at or below the ceiling: nothing is stored above it, whatever the
        // sign of the peak (the conversion rounds negative samples away from zero).
        const int ceilingCode = (int)std::floor(wavePeakCeiling * 8388608.0);
        const float ceilingLevel = (float)ceilingCode / 8388608.0f;
        const int stored = largestCode(dataChunk(target));
        EXPECT_LE(stored, ceilingCode);
        if (c.lowered)
            EXPECT_GE(stored, ceilingCode - 1);

        // Lowered audio is the input times ceiling / peak, sample for sample, held to the ceiling
        // code; the rest is untouched. JUCE's reader converts in single precision: two steps of slack.
        auto expected = audio;
        if (c.lowered)
            expected.applyGain(wavePeakCeiling / std::abs(c.peak));
        for (int ch = 0; ch < 2; ++ch)
            juce::FloatVectorOperations::clip(expected.getWritePointer(ch), expected.getReadPointer(ch),
                                              -ceilingLevel, ceilingLevel, expected.getNumSamples());
        EXPECT_NEAR(magnitude(back.audio), c.lowered ? wavePeakCeiling : std::abs(c.peak), 2.0f * step24);
        EXPECT_TRUE(dataChunk(target) == plainDataChunk(expected, temp.dir));
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < audio.getNumSamples(); i += 997)
                ASSERT_NEAR(back.audio.getSample(ch, i), expected.getSample(ch, i), step24);
    }
}

TEST(WaveExport, WrittenFileReadsBackAlikeInJucePythonAndFfprobe)
{
    struct Case
    {
        int channels;
        double sampleRate;
        int frames;
        float peak;
        juce::String comment;
    };
    const Case cases[] = {
        {2, 48000.0, 48000 * 2 + 17, 1.0f, makeCaptureComment(0.25, 0.75, true)},
        {1, 44100.0, 4096, 0.5f, makeCaptureComment(0.0, 1.0, false)},
        {3, 8000.0, 1, 1.0f, "odd: an odd-length comment"},
        {2, 96000.0, 5000, 0.25f, {}},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(juce::String(c.channels) + " channels at " + juce::String(c.sampleRate) +
                     " Hz, comment '" + c.comment + "'");
        ExportFolder temp;
        const auto target = temp.dir.getChildFile("capture.wav");
        juce::String error;
        ASSERT_TRUE(writeNormalisedWave(target, testSignal(c.channels, c.frames, c.peak, c.sampleRate),
                                        c.sampleRate, nullptr, nullptr, error, c.comment))
            << error;

        const auto back = readWithJuce(target);
        ASSERT_TRUE(back.ok);
        EXPECT_EQ(back.channels, c.channels);
        EXPECT_EQ(back.rate, c.sampleRate);
        EXPECT_EQ(back.bits, 24);
        EXPECT_EQ(back.frames, c.frames);
        EXPECT_LE(magnitude(back.audio), wavePeakCeiling);
        EXPECT_EQ(back.metadata.getValue(juce::WavAudioFormat::riffInfoComment, {}), c.comment);

        const auto python = readWithPython(target, temp.dir);
        ASSERT_TRUE(python.isObject()) << "python3 did not read the file";
        EXPECT_EQ(python["reader"].toString(), c.channels <= 2 ? "wave" : "riff");
        EXPECT_EQ((int)python["channels"], c.channels);
        EXPECT_EQ((int)python["width"], 3);
        EXPECT_EQ((double)python["rate"], c.sampleRate);
        EXPECT_EQ((int)python["frames"], c.frames);
        EXPECT_LE((double)python["peak"], (double)wavePeakCeiling);
        // Held to a whole 24-bit step at or below the ceiling, which can sit up to two steps under it.
        EXPECT_NEAR((double)python["peak"], std::min(std::abs(c.peak), wavePeakCeiling), 2.0 * step24);
        EXPECT_EQ(python["comment"].toString(), c.comment);

        const auto bytes = bytesOf(target);
        EXPECT_EQ(containsBytes(bytes, "CMNT"), c.comment.isNotEmpty());
        EXPECT_EQ(containsBytes(bytes, "LIST"), c.comment.isNotEmpty());
        if (c.comment.isNotEmpty())
        {
            EXPECT_TRUE(containsBytes(bytes, c.comment.toRawUTF8()));
        }

        const auto stream = probe(target);
        ASSERT_TRUE(stream.isObject()) << "ffprobe did not read the file";
        EXPECT_EQ(stream["codec_name"].toString(), "pcm_s24le");
        EXPECT_EQ((int)stream["channels"], c.channels);
        EXPECT_EQ(stream["sample_rate"].toString(), juce::String((int)c.sampleRate));
        EXPECT_EQ((int)stream["duration_ts"], c.frames);
    }
}

TEST(WaveExport, ExistingFileIsRewrittenFromItsStart)
{
    ExportFolder temp;
    const auto target = temp.dir.getChildFile("capture.wav");
    const auto audio = testSignal(2, 3000, 0.5f);
    juce::String error;
    ASSERT_TRUE(writeNormalisedWave(target, audio, rate, nullptr, nullptr, error, "fresh")) << error;
    const auto fresh = bytesOf(target);

    target.replaceWithText(juce::String::repeatedString("stale bytes ", 100000));
    ASSERT_TRUE(writeNormalisedWave(target, audio, rate, nullptr, nullptr, error, "fresh")) << error;
    EXPECT_TRUE(bytesOf(target) == fresh);
}

TEST(WaveExport, ProgressStepsThroughTheBlocksAndEndsAtOne)
{
    ExportFolder temp;
    const auto target = temp.dir.getChildFile("capture.wav");
    const auto audio = testSignal(2, longCaptureFrames, 1.0f);
    const auto grid = progressGrid(longCaptureFrames);

    std::atomic<float> progress{0.125f};
    std::atomic<bool> done{false}, watching{false};
    std::vector<float> seen;
    std::thread watcher(
        [&]
        {
            const auto look = [&]
            {
                if (const float now = progress.load(); seen.empty() || seen.back() != now)
                    seen.push_back(now);
            };
            look();
            watching.store(true);
            while (!done.load())
                look();
            look();
        });
    // On a loaded machine the watcher may be scheduled only after a whole export: wait for its first look.
    while (!watching.load())
        std::this_thread::yield();
    juce::String error;
    const bool ok = writeNormalisedWave(target, audio, rate, &progress, nullptr, error, {});
    done.store(true);
    watcher.join();

    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(progress.load(), 1.0f);
    ASSERT_FALSE(seen.empty());
    for (size_t i = 0; i < seen.size(); ++i)
    {
        EXPECT_TRUE(seen[i] == 0.125f || grid.count(seen[i]) == 1) << seen[i];
        if (i > 0)
        {
            EXPECT_GT(seen[i], seen[i - 1]);
        }
    }
}

TEST(WaveExport, CancelBeforeOrDuringTheScanReturnsFalseWithEmptyErrorAndNoFile)
{
    ExportFolder temp;
    const auto target = temp.dir.getChildFile("capture.wav");
    std::atomic<bool> cancel{true};
    std::atomic<float> progress{0.125f};
    juce::String error = "stale";
    EXPECT_FALSE(
        writeNormalisedWave(target, testSignal(2, 50000, 1.0f), rate, &progress, &cancel, error, {}));
    EXPECT_TRUE(error.isEmpty());
    EXPECT_FALSE(target.exists());
    EXPECT_EQ(progress.load(), 0.125f);
}

TEST(WaveExport, CancelDuringTheWriteReturnsFalseWithEmptyError)
{
    ExportFolder temp;
    const auto target = temp.dir.getChildFile("capture.wav");
    const auto audio = testSignal(2, longCaptureFrames, 1.0f);
    const auto grid = progressGrid(longCaptureFrames);

    // The cancel is raised once writing has begun; a writer that finishes first is simply run again.
    bool cancelledMidway = false;
    for (int attempt = 0; attempt < 5 && !cancelledMidway; ++attempt)
    {
        std::atomic<float> progress{0.0f};
        std::atomic<bool> cancel{false}, finished{false};
        juce::String error = "stale";
        bool ok = true;
        std::thread writer(
            [&]
            {
                ok = writeNormalisedWave(target, audio, rate, &progress, &cancel, error, {});
                finished.store(true);
            });
        while (!finished.load() && progress.load() < 0.35f)
            std::this_thread::yield();
        cancel.store(true);
        writer.join();

        if (!ok)
        {
            cancelledMidway = true;
            EXPECT_TRUE(error.isEmpty()) << error;
            EXPECT_LT(progress.load(), 1.0f);
            EXPECT_EQ(grid.count(progress.load()), 1u) << progress.load();
        }
    }
    EXPECT_TRUE(cancelledMidway);
}

TEST(WaveExport, FullDiskIsAFailureWhereverTheWriteStops)
{
    // Mono 24-bit with an odd frame count: the data ends on an odd byte and the writer pads it when it
    // finalises the header, so a limit one byte short fails only at that last step.
    const int frames = 4096 * 5 + 1;
    const auto audio = testSignal(1, frames, 1.0f);
    const juce::String comment = makeCaptureComment(0.25, 0.75, true);

    ExportFolder temp;
    const auto reference = temp.dir.getChildFile("reference.wav");
    juce::String error;
    ASSERT_TRUE(writeNormalisedWave(reference, audio, rate, nullptr, nullptr, error, comment)) << error;
    const auto completeSize = (rlim_t)reference.getSize();
    const auto dataBytes = (rlim_t)dataChunk(reference).getSize();
    const rlim_t headerBytes = completeSize - dataBytes - 1;
    const rlim_t blockBytes = 4096 * 3;

    struct Case
    {
        const char* name;
        rlim_t limit;
        float progress;
    };
    const Case cases[] = {
        {"inside the header", 20, 0.35f},
        {"inside the third block", headerBytes + 2 * blockBytes + blockBytes / 2,
         (float)(0.35 + 0.65 * (2.0 * 4096) / frames)},
        {"at the closing pad byte", completeSize - 1, 1.0f},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const auto target = temp.dir.getNonexistentChildFile("capture", ".wav");
        std::atomic<float> progress{0.0f};
        bool ok = true;
        {
            FileSizeLimit limit(c.limit);
            ASSERT_TRUE(limit.isActive());
            ok = writeNormalisedWave(target, audio, rate, &progress, nullptr, error, comment);
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(error, "Could not encode the processed WAV file: File too large.");
        EXPECT_FLOAT_EQ(progress.load(), c.progress);
    }
}

TEST(CaptureComment, CarriesTheRangeWithNineDecimalsAndTheMode)
{
    struct Case
    {
        double start, end;
        bool looping;
        const char* text;
    };
    const Case cases[] = {
        {0.25, 0.75, true,
         "Sorvane sourceRangeStart=0.250000000; sourceRangeEnd=0.750000000; sourceRangeMode=loop"},
        {0.0, 1.0, false,
         "Sorvane sourceRangeStart=0.000000000; sourceRangeEnd=1.000000000; sourceRangeMode=one-shot"},
        {1.0 / 3.0, 2.0 / 3.0, true,
         "Sorvane sourceRangeStart=0.333333333; sourceRangeEnd=0.666666667; sourceRangeMode=loop"},
        {0.0000000004, 0.0000000006, false,
         "Sorvane sourceRangeStart=0.000000000; sourceRangeEnd=0.000000001; sourceRangeMode=one-shot"},
        {0.123456789, 0.987654321, true,
         "Sorvane sourceRangeStart=0.123456789; sourceRangeEnd=0.987654321; sourceRangeMode=loop"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(makeCaptureComment(c.start, c.end, c.looping), c.text);
}
