#include "EditorTestSupport.h"
#include "TestSupport.h"

#include "transport/SampleLoadEstimate.h"
#include "transport/SourceFingerprint.h"
#include "transport/SourceLibrary.h"

#include <unistd.h>
#include <gtest/gtest.h>

#include <juce_audio_formats/juce_audio_formats.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <thread>

using namespace sorvane;

namespace
{
struct TemporaryFolder
{
    TemporaryFolder()
        : folder(juce::File::getSpecialLocation(juce::File::tempDirectory)
                     .getNonexistentChildFile("sorvane-sources-" + juce::String((int)::getpid()), ""))
    {
        folder.createDirectory();
    }
    ~TemporaryFolder() { folder.deleteRecursively(); }
    juce::File folder;
};

juce::File writeWav(const juce::File& file, int frames, double rate, int channels, float frequency = 440.0f,
                    float amplitude = 0.5f)
{
    file.deleteFile();
    auto stream = std::make_unique<juce::FileOutputStream>(file);
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer(
        wav.createWriterFor(stream.release(), rate, (unsigned)channels, 24, {}, 0));
    juce::AudioBuffer<float> audio(channels, frames);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i)
            audio.setSample(c, i, amplitude * (float)std::sin(2.0 * M_PI * frequency * i / rate + c));
    writer->writeFromAudioSampleBuffer(audio, 0, frames);
    return file;
}

template <typename Predicate>
bool waitFor(Predicate done, int milliseconds = 10000)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32)milliseconds;
    while (!done())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return false;
        juce::Thread::sleep(2);
    }
    return true;
}

struct Library
{
    TransportState transport;
    // Load jobs mark the project modified from their own thread.
    std::atomic<int> modified{0};
    SourceLibrary library{transport, [this] { ++modified; }};

    CreatorPreparationSnapshot waitForEnd()
    {
        CreatorPreparationSnapshot s;
        waitFor(
            [&]
            {
                s = library.snapshot();
                return s.state >= 4;
            });
        return s;
    }
};
} // namespace

TEST(SampleLoadEstimate, PolicyTable)
{
    struct Case
    {
        std::int64_t frames;
        double rate;
        std::int64_t channels;
        SampleLoadPolicy policy;
    };
    using P = SampleLoadPolicy;
    const Case cases[] = {
        {7938000, 44100, 2, P::DECODE_IN_MEMORY},                     // 180 s
        {(std::int64_t)(599.9 * 1000), 1000, 1, P::DECODE_IN_MEMORY}, // 599.9 s
        {600 * 1000, 1000, 1, P::WARN_BEFORE_DECODE},                 // 600 s
        {7200 * 1000, 1000, 1, P::WARN_BEFORE_DECODE},                // exactly 2 hours
        {7200001, 1000, 1, P::REJECT_FOR_BOUNDED_MEMORY},             // 7,200.001 s
        {67108863, 1000000, 1, P::DECODE_IN_MEMORY},                  // just under 256 MiB
        {67108864, 1000000, 1, P::WARN_BEFORE_DECODE},
        {67108864, 1000000, 2, P::WARN_BEFORE_DECODE},            // exactly 134,217,728 samples
        {67108864 + 1, 1000000, 6, P::REJECT_FOR_BOUNDED_MEMORY}, // 134,217,730: six channels count two
        {134217729, 1000000, 1, P::REJECT_FOR_BOUNDED_MEMORY},
        {0, 44100, 2, P::REJECT_FOR_BOUNDED_MEMORY},
        {100, 0.0, 2, P::REJECT_FOR_BOUNDED_MEMORY},
        {100, std::numeric_limits<double>::quiet_NaN(), 2, P::REJECT_FOR_BOUNDED_MEMORY},
        {100, 44100, 0, P::REJECT_FOR_BOUNDED_MEMORY},
        {100, std::numeric_limits<double>::denorm_min(), 1,
         P::REJECT_FOR_BOUNDED_MEMORY}, // valid header, absurd length
    };
    for (const auto& c : cases)
        EXPECT_EQ(evaluateSampleLoad(c.frames, c.rate, c.channels).policy, c.policy)
            << c.frames << " frames at " << c.rate << " Hz, " << c.channels << " channels";

    const auto six = evaluateSampleLoad(1000, 1000, 6);
    EXPECT_EQ(six.channels, 2);
    EXPECT_EQ(six.decodedBytes, 8000u);
    EXPECT_EQ(six.peakJobBytes, 8000u + 2097152u);
}

TEST(SampleLoadEstimate, MessagesAreExact)
{
    EXPECT_EQ(evaluateSampleLoad(7938000, 44100, 2).message,
              "Decoded-memory estimate: 60.6 MB; bounded peak job estimate: 62.6 MB.");
    EXPECT_EQ(evaluateSampleLoad(0, 44100, 2).message,
              "The audio header does not contain a valid duration, rate, or channel count.");
    EXPECT_EQ(
        evaluateSampleLoad(48000 * 900, 48000, 2).message,
        "This source will decode to approximately 329.6 MB with a bounded peak job estimate of 331.6 MB and "
        "remain in memory (15.0 minutes).");
    EXPECT_EQ(evaluateSampleLoad((std::int64_t)48000 * 7300, 48000, 1).message,
              "The source would decode to 1336.7 MB for 121.7 minutes, exceeding Sorvane's 2-hour / 512 MB "
              "in-memory limit.");
    EXPECT_EQ(evaluateSampleLoad(std::numeric_limits<std::int64_t>::max(), 48000, 2).message,
              "The decoded-memory estimate overflowed the supported range.");
}

namespace
{
// Written out independently: FNV-1a over the size bytes, the head and (for larger files) the tail.
juce::String referenceFingerprint(const juce::MemoryBlock& bytes)
{
    std::uint64_t h = 0x14650fb0739d0383ULL;
    const auto size = (std::uint64_t)bytes.getSize();
    const auto eat = [&h](std::uint8_t b) { h = (h ^ b) * 0x100000001b3ULL; };
    for (int i = 0; i < 8; ++i)
        eat((std::uint8_t)(size >> (8 * i)));
    const auto* data = static_cast<const std::uint8_t*>(bytes.getData());
    for (std::uint64_t i = 0; i < std::min<std::uint64_t>(size, 65536); ++i)
        eat(data[i]);
    if (size >= 65537)
        for (std::uint64_t i = size - 65536; i < size; ++i)
            eat(data[i]);
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", (unsigned long long)h);
    return juce::String(text) + ":" + juce::String((juce::int64)size);
}
} // namespace

TEST(SourceFingerprint, MatchesAnIndependentHashAtEverySizeBoundary)
{
    TemporaryFolder temp;
    std::mt19937 random(7);
    for (const int size : {0, 1, 4095, 4096, 65535, 65536, 65537, 70000, 200000})
    {
        juce::MemoryBlock bytes((size_t)size);
        for (int i = 0; i < size; ++i)
            static_cast<std::uint8_t*>(bytes.getData())[i] = (std::uint8_t)random();
        const auto file = temp.folder.getChildFile("f" + juce::String(size));
        ASSERT_TRUE(size == 0 ? file.create().wasOk()
                              : file.replaceWithData(bytes.getData(), bytes.getSize()));
        const auto fingerprint = createSourceFingerprint(file);
        EXPECT_EQ(fingerprint, referenceFingerprint(bytes)) << size;
        EXPECT_EQ(fingerprint.upToFirstOccurrenceOf(":", false, false).length(), 16);
    }
    EXPECT_EQ(createSourceFingerprint(temp.folder.getChildFile("missing")), "");
    EXPECT_EQ(createSourceFingerprint(temp.folder), "");

    // Changing a middle byte of a large file is not seen; the head and tail are.
    juce::MemoryBlock big(300000, true);
    const auto file = temp.folder.getChildFile("big");
    file.replaceWithData(big.getData(), big.getSize());
    const auto before = createSourceFingerprint(file);
    static_cast<char*>(big.getData())[150000] = 1;
    file.replaceWithData(big.getData(), big.getSize());
    EXPECT_EQ(createSourceFingerprint(file), before);
    static_cast<char*>(big.getData())[299999] = 1;
    file.replaceWithData(big.getData(), big.getSize());
    EXPECT_NE(createSourceFingerprint(file), before);
}

TEST(SourceLoading, PreflightRefusesWithExactSentences)
{
    TemporaryFolder temp;
    Library l;
    struct Case
    {
        juce::File file;
        const char* error;
    };
    const auto empty = temp.folder.getChildFile("empty.wav");
    empty.create();
    const auto text = temp.folder.getChildFile("notes.wav");
    text.replaceWithText("this is not audio at all");
    const auto truncatedHeader = temp.folder.getChildFile("header.wav");
    truncatedHeader.replaceWithText("RIFF");
    const Case cases[] = {
        {temp.folder.getChildFile("missing.wav"), "The selected sample does not exist."},
        {temp.folder, "The selected sample does not exist."},
        {juce::File(), "The selected sample does not exist."},
        {empty, "Sorvane could not read this audio file header."},
        {text, "Sorvane could not read this audio file header."},
        {truncatedHeader, "Sorvane could not read this audio file header."},
    };
    for (const auto& c : cases)
    {
        juce::String error = "stale";
        const auto estimate = l.library.preflight(c.file, error);
        EXPECT_EQ(estimate.policy, SampleLoadPolicy::REJECT_FOR_BOUNDED_MEMORY) << c.file.getFileName();
        EXPECT_EQ(error, c.error) << c.file.getFileName();
        EXPECT_FALSE(l.library.requestLoad(c.file, error, false));
    }
    EXPECT_EQ(l.library.snapshot().state, 0) << "a refused request lists no job";

    const auto good = writeWav(temp.folder.getChildFile("ok.wav"), 48000, 48000, 2);
    juce::String error = "stale";
    EXPECT_EQ(l.library.preflight(good, error).policy, SampleLoadPolicy::DECODE_IN_MEMORY);
    EXPECT_TRUE(error.isEmpty());
}

TEST(SourceLoading, LoadsDecodesAndPublishesAWav)
{
    TemporaryFolder temp;
    Library l;
    l.transport.rangeStart = 0.3;
    l.transport.playing = true;
    const auto file = writeWav(temp.folder.getChildFile("tone.wav"), 100000, 44100, 2);
    juce::String error;
    ASSERT_TRUE(l.library.requestLoad(file, error, false)) << error;
    const auto s = l.waitForEnd();
    EXPECT_EQ(s.state, (int)PreparationState::Published) << s.message;
    EXPECT_EQ(s.message, "Source prepared and atomically published.");
    EXPECT_EQ(s.progress, 1.0f);
    EXPECT_EQ(s.decodedBytes, 100000u * 2 * 4);
    EXPECT_EQ(s.sourcePath, file.getFullPathName());
    EXPECT_EQ(s.generation, 1u);

    const auto sample = l.library.getCurrentSample();
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(sample->getNumFrames(), 100000);
    EXPECT_EQ(sample->audio.getNumChannels(), 2);
    EXPECT_EQ(sample->sampleRate, 44100.0);
    EXPECT_EQ(sample->name, "tone.wav");
    EXPECT_EQ(sample->fingerprint, createSourceFingerprint(file));
    EXPECT_NEAR(sample->audio.getSample(0, 25), 0.5f * std::sin(2.0 * M_PI * 440.0 * 25 / 44100.0), 1e-5);
    EXPECT_EQ(l.library.getPublished(), sample.get());
    EXPECT_EQ(l.library.getLoadedSampleName(), "tone.wav");

    // Publication stops playback and resets the range; the project is marked modified.
    EXPECT_FALSE(l.transport.playing.load());
    EXPECT_EQ(l.transport.rangeStart.load(), 0.0);
    EXPECT_GE(l.modified.load(), 1);
}

TEST(SourceLoading, ANewerLoadSupersedesTheRunningOneAndCancelKeepsTheOldSource)
{
    TemporaryFolder temp;
    Library l;
    const auto first = writeWav(temp.folder.getChildFile("first.wav"), 48000, 48000, 1);
    juce::String error;
    ASSERT_TRUE(l.library.requestLoad(first, error, false));
    ASSERT_EQ(l.waitForEnd().state, (int)PreparationState::Published);
    const auto original = l.library.getCurrentSample();

    // A long file so the first job is still decoding when the next request arrives.
    const auto longFile = writeWav(temp.folder.getChildFile("long.wav"), 48000 * 240, 48000, 2);
    const auto shortFile = writeWav(temp.folder.getChildFile("short.wav"), 4800, 48000, 2);
    ASSERT_TRUE(l.library.requestLoad(longFile, error, false));
    ASSERT_TRUE(l.library.requestLoad(shortFile, error, false));
    const auto s = l.waitForEnd();
    EXPECT_EQ(s.state, (int)PreparationState::Published);
    EXPECT_EQ(s.sourcePath, shortFile.getFullPathName()) << "the snapshot reports the newest load";
    EXPECT_EQ(l.library.getCurrentSample()->name, "short.wav");

    // Cancelling a running load leaves the published source alone.
    const auto published = l.library.getCurrentSample();
    ASSERT_TRUE(l.library.requestLoad(longFile, error, false));
    l.library.cancel();
    const auto cancelled = l.waitForEnd();
    EXPECT_EQ(cancelled.state, (int)PreparationState::Cancelled);
    EXPECT_EQ(cancelled.message, "Source preparation cancelled; the previous source was preserved.");
    EXPECT_LT(cancelled.cancelLatencyMilliseconds, 2000.0);
    EXPECT_EQ(l.library.getCurrentSample(), published);
    juce::ignoreUnused(original);
}

TEST(SourceLoading, FailuresLeaveThePublishedSourceAndRangeUntouched)
{
    TemporaryFolder temp;
    Library l;
    juce::String error;
    const auto good = writeWav(temp.folder.getChildFile("good.wav"), 48000, 48000, 2);
    ASSERT_TRUE(l.library.requestLoad(good, error, false));
    ASSERT_EQ(l.waitForEnd().state, (int)PreparationState::Published);
    const auto published = l.library.getCurrentSample();
    l.transport.rangeStart = 0.2;

    // A file deleted or cut short while it decodes fails; readers would otherwise pad it with silence.
    for (const bool truncate : {false, true})
    {
        const auto victim = writeWav(temp.folder.getChildFile("victim.wav"), 48000 * 200, 48000, 2);
        ASSERT_TRUE(l.library.requestLoad(victim, error, false));
        if (truncate)
            std::filesystem::resize_file(victim.getFullPathName().toStdString(), 100000);
        else
            victim.deleteFile();
        const auto s = l.waitForEnd();
        EXPECT_EQ(s.state, (int)PreparationState::Failed)
            << s.message << (truncate ? " (truncated)" : " (deleted)") << " after " << s.elapsedMilliseconds
            << " ms";
        EXPECT_TRUE(s.message ==
                        "Sorvane could not decode this audio file; the current source was preserved." ||
                    s.message == "Sorvane could not read this audio file.")
            << s.message;
        EXPECT_EQ(l.library.getCurrentSample(), published);
        EXPECT_EQ(l.transport.rangeStart.load(), 0.2);
    }
}

TEST(SourceLoading, ClearUnloadsAndResetsTheTransport)
{
    TemporaryFolder temp;
    Library l;
    juce::String error;
    ASSERT_TRUE(
        l.library.requestLoad(writeWav(temp.folder.getChildFile("a.wav"), 4800, 48000, 1), error, false));
    ASSERT_EQ(l.waitForEnd().state, (int)PreparationState::Published);
    l.transport.rangeEnd = 0.5;
    l.transport.looping = false;
    l.library.clear();
    EXPECT_EQ(l.library.getCurrentSample(), nullptr);
    EXPECT_EQ(l.library.getPublished(), nullptr);
    EXPECT_EQ(l.transport.rangeEnd.load(), 1.0);
    EXPECT_TRUE(l.transport.looping.load());
    EXPECT_EQ(l.library.getLoadedSampleName(), "");
}

TEST(SourceLoading, ARetiredSourceLivesUntilNoAudioSlotNamesIt)
{
    Library l;
    auto a = std::make_shared<LoadedSample>();
    auto b = std::make_shared<LoadedSample>();
    std::weak_ptr<const LoadedSample> watchA = a;
    l.library.publish(a);
    a.reset();

    // The audio thread announces A and its voice renders it.
    ASSERT_EQ(l.library.beginAudioRead(), watchA.lock().get());
    l.library.setAudioActive(watchA.lock().get());
    l.library.publish(b);
    EXPECT_FALSE(watchA.expired()) << "still named by both slots";
    l.library.endAudioRead();
    EXPECT_EQ(l.library.getLoadedSampleName(), "");
    EXPECT_FALSE(watchA.expired()) << "the voice still fades it out";
    l.library.setAudioActive(b.get());
    l.library.getLoadedSampleName(); // the editor's polling reclaims
    EXPECT_TRUE(watchA.expired());
    EXPECT_EQ(l.library.getRetiredCount(), 0u);
}

TEST(SourceLoading, StressPublishCancelAndRenderConcurrently)
{
    TemporaryFolder temp;
    Library l;
    std::vector<juce::File> files;
    for (int i = 0; i < 4; ++i)
        files.push_back(
            writeWav(temp.folder.getChildFile("s" + juce::String(i) + ".wav"), 2000 + 3000 * i, 48000, 2));

    std::atomic<bool> running{true};
    std::atomic<long> blocks{0};
    std::thread audio(
        [&]
        {
            // A simulated audio thread: announce, read every frame of the sample, release.
            double sum = 0;
            while (running.load())
            {
                if (const auto* s = l.library.beginAudioRead())
                {
                    l.library.setAudioActive(s);
                    for (int c = 0; c < s->audio.getNumChannels(); ++c)
                        for (int i = 0; i < s->audio.getNumSamples(); i += 7)
                            sum += s->audio.getSample(c, i);
                }
                l.library.endAudioRead();
                blocks.fetch_add(1);
            }
            l.library.setAudioActive(nullptr);
            // An unused sum would let the optimiser drop the reads this test is about.
            volatile double keep = sum;
            juce::ignoreUnused(keep);
        });

    std::mt19937 random(11);
    juce::String error;
    int directPublications = 0;
    for (int round = 0; round < 200; ++round)
    {
        switch (random() % 6)
        {
        case 0:
            l.library.cancel();
            break;
        case 1:
            l.library.clear();
            break;
        case 2:
            l.library.snapshot();
            break;
        case 3:
        {
            // Loads supersede each other faster than they finish, so publish directly as well:
            // every publication retires the sample the audio thread is most likely reading.
            auto sample = std::make_shared<LoadedSample>();
            sample->audio.setSize(2, 1000 + (int)(random() % 8000));
            sample->audio.clear();
            l.library.publish(std::move(sample));
            ++directPublications;
            break;
        }
        default:
            l.library.requestLoad(files[random() % files.size()], error, false);
            break;
        }
        l.library.getLoadedSampleName();
        if (round % 20 == 0)
        {
            juce::Thread::sleep(1);
            // Let a running load finish so decoded sources are published too.
            waitFor(
                [&]
                {
                    const auto state = l.library.snapshot().state;
                    return state == 0 || state >= 4;
                });
        }
    }
    l.waitForEnd();
    ASSERT_GT(directPublications, 0);
    running = false;
    audio.join();
    EXPECT_GT(blocks.load(), 0);
    l.library.getLoadedSampleName();
    EXPECT_EQ(l.library.getRetiredCount(), 0u) << "everything retired was reclaimed once the slots cleared";
}

namespace
{
juce::File writeAudio(juce::AudioFormat& format, const juce::File& file, int frames, double rate,
                      int channels, int bits, int qualityIndex = 0)
{
    file.deleteFile();
    auto stream = std::make_unique<juce::FileOutputStream>(file);
    std::unique_ptr<juce::AudioFormatWriter> writer(
        format.createWriterFor(stream.release(), rate, (unsigned)channels, bits, {}, qualityIndex));
    juce::AudioBuffer<float> audio(channels, frames);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i)
            audio.setSample(c, i, 0.5f * (float)std::sin(2.0 * M_PI * 440.0 * i / rate + c));
    writer->writeFromAudioSampleBuffer(audio, 0, frames);
    return file;
}

// Encodes with the ffmpeg program; the codec follows from the target's extension.
juce::File encodeWithFfmpeg(const juce::File& wav, const juce::File& target)
{
    juce::ChildProcess ffmpeg;
    const bool started = ffmpeg.start(juce::StringArray{"ffmpeg", "-nostdin", "-y", "-v", "error", "-i",
                                                        wav.getFullPathName(), target.getFullPathName()});
    EXPECT_TRUE(started);
    if (started)
        ffmpeg.waitForProcessToFinish(60000);
    EXPECT_GT(target.getSize(), 0) << target.getFileName();
    return target;
}

juce::File cutToHalf(const juce::File& file)
{
    std::filesystem::resize_file(file.getFullPathName().toStdString(), (std::uintmax_t)file.getSize() / 2);
    return file;
}

// A canonical 16-bit PCM WAV header followed by `payloadBytes` real bytes.
juce::File writeWavHeader(const juce::File& file, std::uint32_t declaredDataBytes, int payloadBytes)
{
    juce::MemoryOutputStream out;
    out.write("RIFF", 4);
    out.writeInt((int)(36 + declaredDataBytes));
    out.write("WAVEfmt ", 8);
    out.writeInt(16);
    out.writeShort(1); // PCM
    out.writeShort(2);
    out.writeInt(48000);
    out.writeInt(48000 * 4);
    out.writeShort(4);
    out.writeShort(16);
    out.write("data", 4);
    out.writeInt((int)declaredDataBytes);
    for (int i = 0; i < payloadBytes; ++i)
        out.writeByte((char)(i * 7));
    file.replaceWithData(out.getData(), out.getDataSize());
    return file;
}

struct Outcome
{
    SampleLoadPolicy policy = SampleLoadPolicy::REJECT_FOR_BOUNDED_MEMORY;
    int state = 0; // of the job the case started; 0 when none was started
    juce::String message;
};

// A refusal comes from the header check and lists no job.
Outcome refusedOrLoaded(Library& l, const juce::File& file)
{
    Outcome o;
    juce::String error;
    o.policy = l.library.preflight(file, error).policy;
    juce::String requestError;
    const auto before = l.library.snapshot();
    if (!l.library.requestLoad(file, requestError, false))
    {
        EXPECT_EQ(requestError, error);
        EXPECT_EQ(l.library.snapshot().generation, before.generation) << "a refusal starts no job";
        o.message = error;
        return o;
    }
    const auto s = l.waitForEnd();
    o.state = s.state;
    o.message = s.message;
    return o;
}

template <typename Predicate>
CreatorPreparationSnapshot waitForSnapshot(Library& l, Predicate accept)
{
    CreatorPreparationSnapshot s;
    EXPECT_TRUE(waitFor(
        [&]
        {
            s = l.library.snapshot();
            return accept(s);
        }));
    return s;
}

constexpr auto headerMessage = "Sorvane could not read this audio file header.";
constexpr auto decodeMessage = "Sorvane could not decode this audio file; the current source was preserved.";
constexpr auto cancelMessage = "Source preparation cancelled; the previous source was preserved.";

void disturbTransport(TransportState& t)
{
    t.rangeStart = 0.2;
    t.rangeEnd = 0.7;
    t.looping = false;
    t.zeroSnap = true;
    t.playing = true;
}
} // namespace

TEST(SourceLoading, BadInputAndCancellationKeepThePublishedSource)
{
    TemporaryFolder temp;
    const auto dir = temp.folder;
    juce::WavAudioFormat wav;
    juce::FlacAudioFormat flac;
    const auto file = [&](const char* name) { return dir.getChildFile(name); };
    const auto job = [](PreparationState s) { return (int)s; };
    using P = SampleLoadPolicy;

    struct Case
    {
        const char* name;
        std::function<Outcome(Library&)> run;
        P policy;
        int state;
        juce::String message;
        // Only a load that was allowed to finish replaces the source.
        const char* publishedName = "original.wav";
    };

    const auto longWav = [&] { return writeWav(file("long.wav"), 48000 * 60, 48000, 2); };
    const Case cases[] = {
        {"missing file", [&](Library& l) { return refusedOrLoaded(l, file("missing.wav")); },
         P::REJECT_FOR_BOUNDED_MEMORY, 0, "The selected sample does not exist."},
        {"folder", [&](Library& l) { return refusedOrLoaded(l, dir); }, P::REJECT_FOR_BOUNDED_MEMORY, 0,
         "The selected sample does not exist."},
        {"zero-byte file",
         [&](Library& l)
         {
             file("empty.wav").create();
             return refusedOrLoaded(l, file("empty.wav"));
         },
         P::REJECT_FOR_BOUNDED_MEMORY, 0, headerMessage},
        {"header with no frames",
         [&](Library& l) { return refusedOrLoaded(l, writeWavHeader(file("silent.wav"), 0, 0)); },
         P::REJECT_FOR_BOUNDED_MEMORY, 0,
         "The audio header does not contain a valid duration, rate, or channel count."},
        {"text renamed .wav",
         [&](Library& l)
         {
             file("text.wav").replaceWithText("Not audio, only words in a file that claims otherwise.\n");
             return refusedOrLoaded(l, file("text.wav"));
         },
         P::REJECT_FOR_BOUNDED_MEMORY, 0, headerMessage},
        {"audio with a .txt extension",
         [&](Library& l)
         {
             writeWav(file("audio.wav"), 4800, 48000, 1).moveFileTo(file("audio.txt"));
             return refusedOrLoaded(l, file("audio.txt"));
         },
         P::REJECT_FOR_BOUNDED_MEMORY, 0, headerMessage},
        {"unknown extension",
         [&](Library& l)
         {
             writeWav(file("audio2.wav"), 4800, 48000, 1).moveFileTo(file("audio.xyz"));
             return refusedOrLoaded(l, file("audio.xyz"));
         },
         P::REJECT_FOR_BOUNDED_MEMORY, 0, headerMessage},
        {"header beyond the memory ceiling",
         [&](Library& l) { return refusedOrLoaded(l, writeWavHeader(file("huge.wav"), 0x7ffffff0u, 4096)); },
         P::REJECT_FOR_BOUNDED_MEMORY, 0,
         "The source would decode to 4096.0 MB for 186.4 minutes, exceeding Sorvane's 2-hour / 512 MB "
         "in-memory limit."},
        {"truncated WAV",
         [&](Library& l)
         { return refusedOrLoaded(l, cutToHalf(writeWav(file("cut.wav"), 200000, 48000, 2))); },
         P::DECODE_IN_MEMORY, job(PreparationState::Failed), decodeMessage},
        {"truncated WAV, cut inside the last block",
         [&](Library& l)
         {
             const auto f = writeWav(file("cut-tail.wav"), 100000, 48000, 1);
             std::filesystem::resize_file(f.getFullPathName().toStdString(), (std::uintmax_t)f.getSize() - 3);
             return refusedOrLoaded(l, f);
         },
         P::DECODE_IN_MEMORY, job(PreparationState::Failed), decodeMessage},
        {"truncated FLAC",
         [&](Library& l)
         { return refusedOrLoaded(l, cutToHalf(writeAudio(flac, file("cut.flac"), 200000, 48000, 2, 16))); },
         P::DECODE_IN_MEMORY, job(PreparationState::Failed), decodeMessage},
        {"truncated MP3",
         [&](Library& l)
         {
             const auto source = writeWav(file("for-mp3.wav"), 200000, 48000, 2);
             return refusedOrLoaded(l, cutToHalf(encodeWithFfmpeg(source, file("cut.mp3"))));
         },
         P::DECODE_IN_MEMORY, job(PreparationState::Failed), decodeMessage},
        {"load superseded by one that fails",
         [&](Library& l)
         {
             const auto cut = cutToHalf(writeWav(file("cut2.wav"), 200000, 48000, 2));
             juce::String error;
             EXPECT_TRUE(l.library.requestLoad(longWav(), error, false));
             const auto first = waitForSnapshot(
                 l, [](const auto& s) { return s.state == (int)PreparationState::Decoding || s.state >= 4; });
             EXPECT_EQ(first.state, (int)PreparationState::Decoding);
             // The superseded job checks its cancel flag before publishing, so it can never publish now.
             return refusedOrLoaded(l, cut);
         },
         P::DECODE_IN_MEMORY, job(PreparationState::Failed), decodeMessage},
        {"cancel while checking",
         [&](Library& l)
         {
             // The worker probes an M4A with ffprobe, which keeps it checking long enough to cancel there.
             const auto m4a = encodeWithFfmpeg(writeWav(file("for-m4a.wav"), 48000, 48000, 2), file("a.m4a"));
             juce::String error;
             EXPECT_TRUE(l.library.requestLoad(m4a, error, false)) << error;
             EXPECT_EQ(l.library.snapshot().state, (int)PreparationState::Checking);
             l.library.cancel();
             const auto s = l.waitForEnd();
             EXPECT_EQ(s.reservedBytes, 0u) << "cancelled before the decode buffer was allocated";
             return Outcome{P::DECODE_IN_MEMORY, s.state, s.message};
         },
         P::DECODE_IN_MEMORY, job(PreparationState::Cancelled), cancelMessage},
        {"cancel while decoding",
         [&](Library& l)
         {
             juce::String error;
             EXPECT_TRUE(l.library.requestLoad(longWav(), error, false));
             const auto decoding = waitForSnapshot(
                 l, [](const auto& s) { return s.state == (int)PreparationState::Decoding || s.state >= 4; });
             EXPECT_EQ(decoding.state, (int)PreparationState::Decoding);
             l.library.cancel();
             const auto s = l.waitForEnd();
             return Outcome{P::DECODE_IN_MEMORY, s.state, s.message};
         },
         P::DECODE_IN_MEMORY, job(PreparationState::Cancelled), cancelMessage},
        {"cancel after publishing",
         [&](Library& l)
         {
             juce::String error;
             EXPECT_TRUE(l.library.requestLoad(writeWav(file("next.wav"), 4800, 48000, 2), error, false));
             EXPECT_EQ(l.waitForEnd().state, (int)PreparationState::Published);
             disturbTransport(l.transport);
             l.library.cancel();
             const auto s = l.library.snapshot();
             return Outcome{P::DECODE_IN_MEMORY, s.state, s.message};
         },
         P::DECODE_IN_MEMORY, job(PreparationState::Published), "Source prepared and atomically published.",
         "next.wav"},
    };

    const auto original = writeWav(file("original.wav"), 4800, 48000, 1);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Library l;
        juce::String error;
        ASSERT_TRUE(l.library.requestLoad(original, error, false));
        ASSERT_EQ(l.waitForEnd().state, (int)PreparationState::Published);
        const auto before = l.library.getCurrentSample();
        disturbTransport(l.transport);
        const auto modifiedBefore = l.modified.load();

        const auto outcome = c.run(l);
        EXPECT_EQ(outcome.message, c.message);
        EXPECT_EQ(outcome.policy, c.policy);
        EXPECT_EQ(outcome.state, c.state);

        const auto after = l.library.getCurrentSample();
        ASSERT_NE(after, nullptr);
        EXPECT_EQ(after->name, c.publishedName);
        EXPECT_EQ(l.library.getPublished(), after.get());
        if (juce::String(c.publishedName) == "original.wav")
        {
            EXPECT_EQ(after, before);
            EXPECT_EQ(l.modified.load(), modifiedBefore) << "a failure does not mark the project modified";
        }
        EXPECT_EQ(l.transport.rangeStart.load(), 0.2);
        EXPECT_EQ(l.transport.rangeEnd.load(), 0.7);
        EXPECT_FALSE(l.transport.looping.load());
        EXPECT_TRUE(l.transport.zeroSnap.load());
        EXPECT_TRUE(l.transport.playing.load());
        l.library.getLoadedSampleName();
        EXPECT_EQ(l.library.getRetiredCount(), 0u) << "nothing the audio thread never read is kept";
    }
}

TEST(SourceLoading, ValidFilesDecodeToTheirLastFrame)
{
    TemporaryFolder temp;
    juce::WavAudioFormat wav;
    juce::FlacAudioFormat flac;
    juce::OggVorbisAudioFormat ogg;
    struct Case
    {
        const char* kind;
        std::function<juce::File(const juce::File&, int frames)> write;
        bool exact; // lossless: every sample and the length are known
    };
    const auto withFormat = [](juce::AudioFormat& format, int bits, int quality)
    {
        return [&format, bits, quality](const juce::File& f, int frames)
        { return writeAudio(format, f, frames, 44100, 2, bits, quality); };
    };
    const Case cases[] = {
        {"wav", withFormat(wav, 16, 0), true},
        {"wav", withFormat(wav, 24, 0), true},
        {"wav", withFormat(wav, 32, 0), true},
        {"flac", withFormat(flac, 16, 0), true},
        {"flac", withFormat(flac, 24, 0), true},
        {"ogg", withFormat(ogg, 16, 4), false},
        {"mp3",
         [](const juce::File& f, int frames)
         {
             const auto source = writeAudio(*std::make_unique<juce::WavAudioFormat>(),
                                            f.withFileExtension("wav"), frames, 44100, 2, 16, 0);
             return encodeWithFfmpeg(source, f);
         },
         false},
    };
    int index = 0;
    for (const auto& c : cases)
        for (const int frames : {1000, 65535, 65536, 65537, 131072, 200001})
        {
            const auto f =
                c.write(temp.folder.getChildFile("valid" + juce::String(++index) + "." + c.kind), frames);
            SCOPED_TRACE(f.getFileName() + " " + juce::String(frames) + " frames");
            Library l;
            juce::String error;
            ASSERT_TRUE(l.library.requestLoad(f, error, false)) << error;
            const auto s = l.waitForEnd();
            ASSERT_EQ(s.state, (int)PreparationState::Published) << s.message;
            const auto sample = l.library.getCurrentSample();
            if (c.exact)
            {
                ASSERT_EQ(sample->getNumFrames(), frames);
                const int last = frames - 1;
                EXPECT_NEAR(sample->audio.getSample(1, last),
                            0.5f * std::sin(2.0 * M_PI * 440.0 * last / 44100 + 1), 1e-3);
            }
            else
            {
                // Lossy codecs add encoder delay and padding but never lose the signal's length.
                EXPECT_GE(sample->getNumFrames(), frames);
                EXPECT_LE(sample->getNumFrames(), frames + 4096);
            }
        }
}
