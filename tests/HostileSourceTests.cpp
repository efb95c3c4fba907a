// Sources that lie, hang or hold values no signal has: each is refused with a sentence, quickly, and
// the loader publishes nothing.
#include "SourceSignals.h"

#include "editor/SorvaneAudioProcessorEditor.h"
#include "transport/RegularFile.h"
#include "transport/SourceAnalysis.h"
#include "transport/SourceFingerprint.h"
#include "transport/SourceFormats.h"
#include "transport/SourceLibrary.h"
#include "transport/SourceReader.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

using namespace sorvane;

namespace
{
struct Temp
{
    juce::File dir = juce::File::getSpecialLocation(juce::File::tempDirectory)
                         .getNonexistentChildFile("sorvane-hostile-" + juce::String((int)::getpid()), "", false);
    Temp() { dir.createDirectory(); }
    ~Temp() { dir.deleteRecursively(); }
};

juce::File writeWith(juce::AudioFormat& format, const juce::File& file, const juce::AudioBuffer<float>& audio,
                     double rate, int bits)
{
    file.deleteFile();
    auto* stream = new juce::FileOutputStream(file);
    std::unique_ptr<juce::AudioFormatWriter> writer(
        format.createWriterFor(stream, rate, (unsigned)audio.getNumChannels(), bits, {}, 0));
    EXPECT_NE(writer, nullptr);
    if (writer == nullptr)
        delete stream;
    else
        writer->writeFromAudioSampleBuffer(audio, 0, audio.getNumSamples());
    return file;
}

juce::File ffmpeg(const juce::File& input, const juce::File& output, const juce::StringArray& options = {})
{
    juce::StringArray args{"ffmpeg", "-nostdin", "-y", "-v", "error", "-i", input.getFullPathName()};
    args.addArray(options);
    args.add(output.getFullPathName());
    juce::ChildProcess process;
    EXPECT_TRUE(process.start(args));
    process.waitForProcessToFinish(60000);
    EXPECT_GT(output.getSize(), 0) << output.getFileName();
    return output;
}

// The CRC of an Ogg page: polynomial 0x04c11db7, not reflected, zero start, over the page with its
// CRC field zeroed.
std::uint32_t oggCrc(const std::uint8_t* data, size_t size)
{
    std::uint32_t crc = 0;
    for (size_t i = 0; i < size; ++i)
    {
        crc ^= (std::uint32_t)data[i] << 24;
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04c11db7u : crc << 1;
    }
    return crc;
}

// Rewrites the granule position of the last page, keeping the page valid.
void setLastGranule(const juce::File& file, std::int64_t granule)
{
    juce::MemoryBlock bytes;
    ASSERT_TRUE(file.loadFileAsData(bytes));
    auto* data = static_cast<std::uint8_t*>(bytes.getData());
    const size_t size = bytes.getSize();
    size_t last = 0;
    for (size_t i = 0; i + 27 <= size; ++i)
        if (std::memcmp(data + i, "OggS", 4) == 0)
            last = i;
    ASSERT_GT(last, 0u);
    auto* page = data + last;
    size_t pageSize = 27 + page[26];
    for (int s = 0; s < page[26]; ++s)
        pageSize += page[27 + s];
    ASSERT_EQ(last + pageSize, size) << "the last page runs to the end of the file";
    for (int i = 0; i < 8; ++i)
        page[6 + i] = (std::uint8_t)((std::uint64_t)granule >> (8 * i));
    std::memset(page + 22, 0, 4);
    const auto crc = oggCrc(page, pageSize);
    for (int i = 0; i < 4; ++i)
        page[22 + i] = (std::uint8_t)(crc >> (8 * i));
    ASSERT_TRUE(file.replaceWithData(bytes.getData(), bytes.getSize()));
}

// Multiplies the frame count of the LAME/Info tag (big-endian, after the "Info"/"Xing" tag and flags).
void inflateInfoFrames(const juce::File& file, std::uint32_t frames)
{
    juce::MemoryBlock bytes;
    ASSERT_TRUE(file.loadFileAsData(bytes));
    auto* data = static_cast<std::uint8_t*>(bytes.getData());
    size_t tag = 0;
    for (size_t i = 0; i + 16 < bytes.getSize() && i < 4096; ++i)
        if (std::memcmp(data + i, "Info", 4) == 0 || std::memcmp(data + i, "Xing", 4) == 0)
        {
            tag = i;
            break;
        }
    ASSERT_GT(tag, 0u) << "ffmpeg wrote no Info tag";
    ASSERT_TRUE(data[tag + 7] & 1) << "the tag carries a frame count";
    for (int i = 0; i < 4; ++i)
        data[tag + 8 + i] = (std::uint8_t)(frames >> (8 * (3 - i)));
    ASSERT_TRUE(file.replaceWithData(bytes.getData(), bytes.getSize()));
}

struct Loader
{
    TransportState transport;
    SourceLibrary library{transport, [] {}};

    // The preflight sentence, or the job's terminal message when the preflight let the file through.
    CreatorPreparationSnapshot load(const juce::File& file, juce::String& refusal)
    {
        refusal.clear();
        if (!library.requestLoad(file, refusal, false))
            return {};
        CreatorPreparationSnapshot s;
        const auto end = juce::Time::getMillisecondCounter() + 60000;
        do
        {
            juce::Thread::sleep(2);
            s = library.snapshot();
        } while (s.state < (int)PreparationState::Published && juce::Time::getMillisecondCounter() < end);
        return s;
    }
};

constexpr auto decodeFailure = "Sorvane could not decode this audio file; the current source was preserved.";
} // namespace

TEST(HostileSources, LyingAndDamagedCompressedFilesFailTheLoad)
{
    Temp temp;
    const double rate = 44100.0;
    const auto tone = test::sine(2, 5.0, rate, 440.0, 0.5f);
    juce::WavAudioFormat wav;
    juce::OggVorbisAudioFormat oggWriter;
    const auto source = writeWith(wav, temp.dir.getChildFile("tone.wav"), tone, rate, 16);

    struct Case
    {
        const char* name;
        std::function<juce::File()> make;
        const char* preflightRefusal; // null when the preflight accepts and the job must fail
    };
    const Case cases[] = {
        {"ogg whose last page claims 60,000,000 frames",
         [&]
         {
             const auto f = writeWith(oggWriter, temp.dir.getChildFile("lying.ogg"), tone, rate, 16);
             setLastGranule(f, 60000000);
             return f;
         },
         nullptr},
        {"ffmpeg ogg whose last page claims one second more",
         [&]
         {
             const auto f = ffmpeg(source, temp.dir.getChildFile("longer.ogg"), {"-c:a", "libvorbis"});
             setLastGranule(f, 6 * 44100);
             return f;
         },
         nullptr},
        {"mp3 whose Info tag claims 100x the frames",
         [&]
         {
             const auto f = ffmpeg(source, temp.dir.getChildFile("lying.mp3"), {"-b:a", "128k"});
             inflateInfoFrames(f, 193 * 100);
             return f;
         },
         nullptr},
        {"mp3 of random bytes",
         [&]
         {
             juce::Random random(7);
             juce::MemoryBlock b(4096);
             random.fillBitsRandomly(b.getData(), b.getSize());
             const auto f = temp.dir.getChildFile("noise.mp3");
             f.replaceWithData(b.getData(), b.getSize());
             return f;
         },
         "Sorvane could not read this audio file header."},
        {"ogg of text",
         [&]
         {
             const auto f = temp.dir.getChildFile("words.ogg");
             f.replaceWithText("OggS but not really an Ogg stream at all.\n");
             return f;
         },
         "Sorvane could not read this audio file header."},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const auto file = c.make();
        Loader l;
        juce::String refusal;
        const auto s = l.load(file, refusal);
        if (c.preflightRefusal != nullptr)
        {
            EXPECT_EQ(refusal, c.preflightRefusal);
        }
        else
        {
            EXPECT_EQ(refusal, "");
            EXPECT_EQ(s.state, (int)PreparationState::Failed);
            EXPECT_EQ(s.message, decodeFailure);
        }
        EXPECT_EQ(l.library.getCurrentSample(), nullptr) << "nothing was published";
    }
}

TEST(HostileSources, Mp3DecodesThroughLibmpg123AtItsOwnLengthAndPitch)
{
    Temp temp;
    const double rate = 44100.0;
    const int frames = (int)(rate * 3.0);
    juce::WavAudioFormat wav;
    const auto source =
        writeWith(wav, temp.dir.getChildFile("tone.wav"), test::sine(2, 3.0, rate, 440.0, 0.5f), rate, 16);

    juce::AudioFormatManager formats;
    registerSourceFormats(formats);
    ASSERT_NE(dynamic_cast<Mpg123AudioFormat*>(formats.findFormatForFileExtension(".mp3")), nullptr);
    ASSERT_NE(dynamic_cast<VorbisSourceFormat*>(formats.findFormatForFileExtension(".ogg")), nullptr);

    struct Case
    {
        const char* name;
        juce::StringArray options;
        int channels;
        bool exactLength; // an Info tag gives the gapless length; without one the frames are counted
    };
    const Case cases[] = {
        {"cbr.mp3", {"-b:a", "192k"}, 2, true},
        {"vbr.mp3", {"-q:a", "4"}, 2, true},
        {"mono.mp3", {"-ac", "1", "-b:a", "96k"}, 1, true},
        {"untagged.mp3", {"-b:a", "128k", "-write_xing", "0"}, 2, false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const auto mp3 = ffmpeg(source, temp.dir.getChildFile(c.name), c.options);
        std::unique_ptr<juce::AudioFormatReader> reader;
        juce::String error;
        ASSERT_TRUE(openSourceReader(formats, mp3, reader, error)) << error;
        EXPECT_EQ(reader->getFormatName(), "MP3 file");
        EXPECT_EQ(reader->sampleRate, rate);
        EXPECT_EQ((int)reader->numChannels, c.channels);
        if (c.exactLength)
            EXPECT_EQ(reader->lengthInSamples, frames);
        else
        {
            // Whole MPEG frames, encoder delay included, counted from the file itself.
            EXPECT_EQ(reader->lengthInSamples % 1152, 0);
            EXPECT_GE(reader->lengthInSamples, frames);
            EXPECT_LE(reader->lengthInSamples, frames + 3 * 1152);
        }

        const int length = (int)reader->lengthInSamples;
        juce::AudioBuffer<float> audio(2, length);
        ASSERT_TRUE(reader->read(&audio, 0, length, 0, true, true));
        EXPECT_FALSE(readerRanPastEndOfFile(*reader));
        const float* left = audio.getReadPointer(0);
        int crossings = 0;
        double sum = 0;
        for (int i = 4410; i < 4410 + 88200; ++i)
        {
            crossings += left[i - 1] < 0.0f && left[i] >= 0.0f;
            sum += (double)left[i] * left[i];
        }
        EXPECT_NEAR(crossings / 2.0, 440.0, 2.0);
        EXPECT_NEAR(std::sqrt(sum / 88200), 0.5 / std::sqrt(2.0), 0.02);

        // A read that starts in the middle lands on the same samples as the straight decode.
        juce::AudioBuffer<float> middle(2, 1000);
        ASSERT_TRUE(reader->read(&middle, 0, 1000, 50000, true, true));
        for (int i = 0; i < 1000; i += 50)
            EXPECT_NEAR(middle.getSample(0, i), audio.getSample(0, 50000 + i), 1.0e-4);
    }
}

TEST(HostileSources, PipesAndDevicesAreRefusedBeforeAnythingOpensThem)
{
    Temp temp;
    const auto fifoWav = temp.dir.getChildFile("pipe.wav");
    const auto fifoOpus = temp.dir.getChildFile("pipe.opus");
    ASSERT_EQ(::mkfifo(fifoWav.getFullPathName().toRawUTF8(), 0600), 0);
    ASSERT_EQ(::mkfifo(fifoOpus.getFullPathName().toRawUTF8(), 0600), 0);
    const auto deviceWav = temp.dir.getChildFile("zero.wav");
    const auto deviceMp3 = temp.dir.getChildFile("null.mp3");
    ASSERT_TRUE(juce::File("/dev/zero").createSymbolicLink(deviceWav, true));
    ASSERT_TRUE(juce::File("/dev/null").createSymbolicLink(deviceMp3, true));
    juce::File real = writeWith(*std::make_unique<juce::WavAudioFormat>(), temp.dir.getChildFile("real.wav"),
                                test::sine(1, 0.5, 48000, 440, 0.5f), 48000, 16);
    const auto linkToReal = temp.dir.getChildFile("link.wav");
    ASSERT_TRUE(real.createSymbolicLink(linkToReal, true));

    for (const auto& file : {fifoWav, fifoOpus, deviceWav, deviceMp3})
    {
        SCOPED_TRACE(file.getFileName());
        ASSERT_TRUE(file.existsAsFile()) << "the trap: JUCE calls it a file";

        // Everything runs on another thread: if it blocks, the test unblocks it and fails instead of hanging.
        auto attempt = std::async(std::launch::async,
                                  [file]
                                  {
                                      Loader l;
                                      juce::String preflight, request, check;
                                      l.library.preflight(file, preflight);
                                      const bool requested = l.library.requestLoad(file, request, false);
                                      return std::make_tuple(
                                          preflight, requested, request, checkRegularFile(file, check), check,
                                          createSourceFingerprint(file),
                                          SorvaneAudioProcessorEditor::isSupportedAudioFile(file));
                                  });
        if (attempt.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
        {
            // Give the blocked open() a writer so the thread can finish.
            const int fd = ::open(file.getFullPathName().toRawUTF8(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
            attempt.wait();
            FAIL() << "opening blocked";
        }
        const auto [preflight, requested, request, regular, check, fingerprint, supported] = attempt.get();
        const auto expected = "The file \"" + file.getFileName() +
                              "\" is not a regular file (it is a folder, pipe, device or socket), so Sorvane "
                              "does not open it.";
        EXPECT_EQ(preflight, expected);
        EXPECT_FALSE(requested);
        EXPECT_EQ(request, expected);
        EXPECT_FALSE(regular);
        EXPECT_EQ(check, expected);
        EXPECT_EQ(fingerprint, "");
        EXPECT_FALSE(supported);
    }

    // A link to a regular file is followed, not refused.
    juce::String error;
    EXPECT_TRUE(checkRegularFile(linkToReal, error)) << error;
    EXPECT_TRUE(SorvaneAudioProcessorEditor::isSupportedAudioFile(linkToReal));
    Loader l;
    EXPECT_EQ(l.load(linkToReal, error).state, (int)PreparationState::Published) << error;
}

TEST(HostileSources, NonFiniteFloatSamplesAreRefusedAndNeverReachAnalysisAsANumber)
{
    Temp temp;
    const double rate = 48000.0;
    juce::WavAudioFormat wav;
    for (const float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity()})
    {
        SCOPED_TRACE(bad);
        auto audio = test::sine(2, 2.0, rate, 220.0, 0.5f);
        audio.setSample(1, 70000, bad); // in the second decode block
        const auto file = writeWith(wav, temp.dir.getChildFile("bad.wav"), audio, rate, 32);

        Loader l;
        juce::String refusal;
        const auto s = l.load(file, refusal);
        EXPECT_EQ(refusal, "");
        EXPECT_EQ(s.state, (int)PreparationState::Failed);
        EXPECT_EQ(s.message, "This audio file contains invalid sample values (not-a-number or infinity); the "
                             "current source was preserved.");
        EXPECT_EQ(l.library.getCurrentSample(), nullptr);

        // Analysis on its own stays defined: no garbage percentage, nothing but zeros.
        const auto traits = analyseSource(audio, rate, nullptr);
        EXPECT_EQ(traits.summary,
                  "No valid source audio was available; deterministic blind AUTO remains active.");
        EXPECT_EQ(traits.family, 0);
        EXPECT_EQ(traits.confidence, 0.0f);
        EXPECT_EQ(traits.crestFactor, 0.0f);

        // The windows around the bad sample are skipped; the clean ones are still ranked.
        auto poisoned = test::sine(1, 30.0, rate, 220.0, 0.5f);
        poisoned.setSample(0, 1000, bad);
        const auto moments = suggestBestMoments(poisoned, rate, 5, nullptr);
        ASSERT_FALSE(moments.empty());
        for (const auto& m : moments)
        {
            EXPECT_TRUE(std::isfinite(m.score));
            EXPECT_GT(m.startSeconds, 1000.0 / rate) << "a window holding the bad sample was proposed";
        }
    }
}
