#include "transport/SourceFormats.h"
#include "transport/SourceReader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <unistd.h>

using namespace sorvane;

namespace
{
constexpr double toneRate = 48000.0;
constexpr double toneSeconds = 4.0;
constexpr double toneHz = 440.0;
constexpr float leftLevel = 0.5f;
constexpr float rightLevel = 0.25f; // different per channel so a swapped order shows
constexpr int block = 65536;        // the loader's block size

struct TempFolder
{
    juce::File dir = juce::File::getSpecialLocation(juce::File::tempDirectory)
                         .getNonexistentChildFile("sorvane-source-reader-" + juce::String((int)::getpid()), "", false);
    TempFolder() { dir.createDirectory(); }
    ~TempFolder() { dir.deleteRecursively(); }
};

// Restores PATH however the test ends.
struct PathOverride
{
    juce::String saved = juce::SystemStats::getEnvironmentVariable("PATH", {});
    explicit PathOverride(const juce::String& path) { ::setenv("PATH", path.toRawUTF8(), 1); }
    ~PathOverride() { ::setenv("PATH", saved.toRawUTF8(), 1); }
};

juce::AudioBuffer<float> makeTone()
{
    const int frames = (int)(toneRate * toneSeconds);
    juce::AudioBuffer<float> tone(2, frames);
    for (int i = 0; i < frames; ++i)
    {
        const auto s = (float)std::sin(2.0 * juce::MathConstants<double>::pi * toneHz * i / toneRate);
        tone.setSample(0, i, leftLevel * s);
        tone.setSample(1, i, rightLevel * s);
    }
    return tone;
}

bool writeWith(juce::AudioFormat& format, const juce::File& file, const juce::AudioBuffer<float>& audio)
{
    file.deleteFile();
    std::unique_ptr<juce::OutputStream> stream = std::make_unique<juce::FileOutputStream>(file);
    std::unique_ptr<juce::AudioFormatWriter> writer(
        format.createWriterFor(stream.get(), toneRate, (unsigned int)audio.getNumChannels(), 24, {}, 0));
    if (writer == nullptr)
        return false;
    stream.release();
    return writer->writeFromAudioSampleBuffer(audio, 0, audio.getNumSamples());
}

bool runFfmpeg(const juce::StringArray& args)
{
    juce::StringArray command{"ffmpeg", "-nostdin", "-hide_banner", "-v", "error", "-y"};
    command.addArray(args);
    juce::ChildProcess process;
    if (!process.start(command))
        return false;
    const auto output = process.readAllProcessOutput();
    process.waitForProcessToFinish(60000);
    return !process.isRunning() && process.getExitCode() == 0;
}

// The reference WAV plus each compressed copy that the tests decode.
struct Fixture
{
    TempFolder temp;
    juce::File wav = temp.dir.getChildFile("tone.wav");

    juce::File encode(const juce::String& name, const juce::StringArray& codec)
    {
        auto out = temp.dir.getChildFile(name);
        juce::StringArray args{"-i", wav.getFullPathName()};
        args.addArray(codec);
        // Name the container: the upper-case copies have extensions ffmpeg does not map.
        args.addArray({"-f", name.fromLastOccurrenceOf(".", false, false).toLowerCase() == "m4a"   ? "ipod"
                             : name.fromLastOccurrenceOf(".", false, false).toLowerCase() == "aac" ? "adts"
                                                                                                   : "ogg"});
        args.add(out.getFullPathName());
        EXPECT_TRUE(runFfmpeg(args)) << name;
        return out;
    }

    Fixture()
    {
        juce::WavAudioFormat wavFormat;
        EXPECT_TRUE(writeWith(wavFormat, wav, makeTone()));
    }
};

// Positive-going zero crossings per second over a stretch of one channel.
double measuredFrequency(const float* x, int from, int to, double rate)
{
    int crossings = 0;
    for (int i = from + 1; i < to; ++i)
        if (x[i - 1] < 0.0f && x[i] >= 0.0f)
            ++crossings;
    return crossings * rate / (to - from);
}

double rms(const float* x, int from, int to)
{
    double sum = 0;
    for (int i = from; i < to; ++i)
        sum += (double)x[i] * x[i];
    return std::sqrt(sum / (to - from));
}

// Reads the whole reported length in loader-sized blocks, as the source loader does.
bool readAllInBlocks(juce::AudioFormatReader& reader, juce::AudioBuffer<float>& out)
{
    out.setSize((int)reader.numChannels, (int)reader.lengthInSamples);
    for (juce::int64 offset = 0; offset < reader.lengthInSamples; offset += block)
    {
        const int n = (int)std::min<juce::int64>(block, reader.lengthInSamples - offset);
        if (!reader.read(&out, (int)offset, n, offset, true, true))
            return false;
    }
    return true;
}

std::set<int> childrenOfThisProcess()
{
    std::set<int> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc"))
    {
        const juce::String name(entry.path().filename().string());
        if (!name.containsOnly("0123456789"))
            continue;
        // /proc files report a size of 0, so read them as streams.
        std::ifstream in(entry.path() / "stat");
        std::string line;
        std::getline(in, line);
        // Fields after the command name: state, then the parent id.
        const auto fields = juce::StringArray::fromTokens(
            juce::String(line).fromLastOccurrenceOf(")", false, false).trim(), " ", {});
        if (fields.size() > 1 && fields[1].getIntValue() == (int)::getpid())
            children.insert(name.getIntValue());
    }
    return children;
}

std::unique_ptr<juce::AudioFormatReader> open(const juce::File& file, juce::String& error)
{
    juce::AudioFormatManager formats;
    sorvane::registerSourceFormats(formats);
    std::unique_ptr<juce::AudioFormatReader> reader;
    error = "stale";
    const bool ok = openSourceReader(formats, file, reader, error);
    EXPECT_EQ(ok, reader != nullptr);
    if (ok)
    {
        EXPECT_TRUE(error.isEmpty());
    }
    return reader;
}
} // namespace

TEST(FfmpegSourceReader, DecodesCompressedFormatsAtTheirOwnRateAndLevel)
{
    Fixture fixture;
    struct Case
    {
        const char* name;
        juce::StringArray codec;
    };
    const Case cases[] = {
        {"tone.m4a", {"-c:a", "aac", "-b:a", "192k"}},
        {"tone.aac", {"-c:a", "aac", "-b:a", "192k"}},
        {"tone.opus", {"-c:a", "libopus", "-b:a", "160k"}},
        {"TONE.OPUS", {"-c:a", "libopus", "-b:a", "160k"}},
        {"Tone.M4a", {"-c:a", "aac", "-b:a", "192k"}},
    };
    const int sourceFrames = (int)(toneRate * toneSeconds);

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const auto file = fixture.encode(c.name, c.codec);
        juce::String error;
        auto reader = open(file, error);
        ASSERT_NE(reader, nullptr) << error;
        auto* stream = dynamic_cast<FfmpegStreamReader*>(reader.get());
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(reader->sampleRate, toneRate);
        EXPECT_EQ(reader->numChannels, 2u);

        juce::AudioBuffer<float> audio;
        ASSERT_TRUE(readAllInBlocks(*reader, audio)) << stream->getLastError();

        // The length is an upper bound; the real one is known once the stream has ended.
        const auto decoded = stream->getDecodedFrameCount();
        ASSERT_GE(decoded, 0);
        EXPECT_LE(decoded, reader->lengthInSamples);
        EXPECT_NEAR((double)decoded, sourceFrames, 2048.0); // codec priming and padding
        // Loose enough for ADTS's bit-rate estimate, tight enough that the bound is not wasteful.
        EXPECT_LE((double)reader->lengthInSamples, 1.1 * (double)decoded + 8192.0);
        for (int ch = 0; ch < 2; ++ch)
            EXPECT_EQ(audio.findMinMax(ch, (int)decoded, (int)(reader->lengthInSamples - decoded)),
                      juce::Range<float>())
                << "frames past the real end must be silent";

        const int from = (int)(0.5 * toneRate), to = (int)(3.5 * toneRate);
        const float levels[] = {leftLevel, rightLevel};
        for (int ch = 0; ch < 2; ++ch)
        {
            EXPECT_NEAR(measuredFrequency(audio.getReadPointer(ch), from, to, toneRate), toneHz, 1.0);
            const double expected = levels[ch] / std::sqrt(2.0);
            EXPECT_NEAR(juce::Decibels::gainToDecibels(rms(audio.getReadPointer(ch), from, to) / expected),
                        0.0, 0.5)
                << "channel " << ch;
        }
        EXPECT_EQ(stream->getDecoderProcessId(), 0) << "a finished stream keeps no child";
    }
}

TEST(SourceReader, BasicFormatsOpenThroughTheManagerEvenWithoutFfmpeg)
{
    TempFolder temp;
    const auto tone = makeTone();
    juce::WavAudioFormat wav;
    juce::FlacAudioFormat flac;
    juce::AudioFormat* formats[] = {&wav, &flac};
    const char* names[] = {"tone.wav", "tone.flac"};
    PathOverride noPrograms(temp.dir.getFullPathName());

    for (int i = 0; i < 2; ++i)
    {
        SCOPED_TRACE(names[i]);
        const auto file = temp.dir.getChildFile(names[i]);
        ASSERT_TRUE(writeWith(*formats[i], file, tone));
        juce::String error;
        auto reader = open(file, error);
        ASSERT_NE(reader, nullptr) << error;
        EXPECT_EQ(dynamic_cast<FfmpegStreamReader*>(reader.get()), nullptr);
        EXPECT_EQ(reader->getFormatName(), formats[i]->getFormatName());
        EXPECT_EQ(reader->lengthInSamples, tone.getNumSamples());
        EXPECT_EQ(reader->sampleRate, toneRate);

        juce::AudioBuffer<float> audio(2, 1000);
        ASSERT_TRUE(reader->read(&audio, 0, 1000, 12345, true, true));
        for (int ch = 0; ch < 2; ++ch)
            for (int f = 0; f < 1000; f += 97)
                EXPECT_NEAR(audio.getSample(ch, f), tone.getSample(ch, 12345 + f), 1.0e-6);
    }
}

TEST(SourceReader, UnreadableFilesFailWithASentence)
{
    Fixture fixture;
    const auto m4a = fixture.encode("tone.m4a", {"-c:a", "aac"});
    juce::MemoryBlock head;
    m4a.loadFileAsData(head);
    head.setSize(head.getSize() / 2); // ffmpeg writes the index at the end, so this cuts it off

    struct Case
    {
        const char* name;
        std::function<void(const juce::File&)> make;
        const char* exactError; // null where any sentence will do
    };
    const auto text = [](const juce::File& f) { f.replaceWithText("This is not audio at all.\n"); };
    const Case cases[] = {
        {"notes.m4a", text, nullptr},
        {"notes.opus", text, nullptr},
        {"notes.aac", text, nullptr},
        {"empty.m4a", [](const juce::File& f) { f.create(); }, nullptr},
        {"truncated.m4a", [&](const juce::File& f) { f.replaceWithData(head.getData(), head.getSize()); },
         nullptr},
        {"missing.opus", [](const juce::File&) {}, "Sorvane could not read this audio file header."},
        {"notes.wav", text, "Sorvane could not read this audio file header."},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const auto file = fixture.temp.dir.getChildFile(c.name);
        c.make(file);
        juce::String error;
        const auto started = juce::Time::getMillisecondCounterHiRes();
        auto reader = open(file, error);
        EXPECT_EQ(reader, nullptr);
        EXPECT_LT(juce::Time::getMillisecondCounterHiRes() - started, 10000.0);
        EXPECT_TRUE(error.endsWithChar('.')) << error;
        EXPECT_NE(error, ffmpegMissingMessage());
        if (c.exactError != nullptr)
        {
            EXPECT_EQ(error, c.exactError);
        }
    }
}

TEST(FfmpegSourceReader, MissingProgramsGiveTheInstallSentence)
{
    Fixture fixture;
    const auto opus = fixture.encode("tone.opus", {"-c:a", "libopus"});
    const auto ffmpeg = findProgramOnPath("ffmpeg");
    const auto ffprobe = findProgramOnPath("ffprobe");
    ASSERT_TRUE(ffmpeg.existsAsFile());
    ASSERT_TRUE(ffprobe.existsAsFile());

    // A folder with only one of the two programs counts as missing too.
    struct Case
    {
        const char* folder;
        juce::File linked;
    };
    const Case cases[] = {{"nothing", {}}, {"only-ffmpeg", ffmpeg}, {"only-ffprobe", ffprobe}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.folder);
        const auto folder = fixture.temp.dir.getChildFile(c.folder);
        ASSERT_TRUE(folder.createDirectory());
        if (c.linked != juce::File())
        {
            ASSERT_TRUE(c.linked.createSymbolicLink(folder.getChildFile(c.linked.getFileName()), true));
        }

        PathOverride path(folder.getFullPathName());
        juce::String error;
        EXPECT_EQ(open(opus, error), nullptr);
        EXPECT_EQ(error, ffmpegMissingMessage());
        EXPECT_TRUE(error.contains("install")) << error;
        EXPECT_TRUE(error.contains("ffmpeg")) << error;
    }
    juce::String error;
    EXPECT_NE(open(opus, error), nullptr) << "PATH restored: " << error;
}

TEST(FfmpegSourceReader, DestroyingMidStreamKillsAndReapsTheDecoder)
{
    Fixture fixture;
    const auto opus = fixture.encode("tone.opus", {"-c:a", "libopus"});
    const auto before = childrenOfThisProcess();

    juce::String error;
    auto reader = open(opus, error);
    ASSERT_NE(reader, nullptr) << error;
    juce::AudioBuffer<float> audio(2, block);
    ASSERT_TRUE(reader->read(&audio, 0, block, 0, true, true));

    // Most of the stream is still undecoded, so the child is alive and blocked on the pipe.
    const int pid = dynamic_cast<FfmpegStreamReader&>(*reader).getDecoderProcessId();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(childrenOfThisProcess().count(pid), 1u);

    const auto started = juce::Time::getMillisecondCounterHiRes();
    reader.reset();
    EXPECT_LT(juce::Time::getMillisecondCounterHiRes() - started, 1000.0);
    EXPECT_EQ(childrenOfThisProcess(), before);
    EXPECT_FALSE(juce::File("/proc/" + juce::String(pid)).exists()) << "the child was not reaped";
}

TEST(FfmpegSourceReader, ForwardReadsContinueAndBackwardReadsRestart)
{
    Fixture fixture;
    const auto m4a = fixture.encode("tone.m4a", {"-c:a", "aac"});
    juce::String error;
    auto reader = open(m4a, error);
    ASSERT_NE(reader, nullptr) << error;
    auto& stream = dynamic_cast<FfmpegStreamReader&>(*reader);

    juce::AudioBuffer<float> skipped(2, block), first(2, block), again(2, block);
    ASSERT_TRUE(reader->read(&skipped, 0, block, block, true, true)); // starts past the beginning
    const int decoderForSkip = stream.getDecoderProcessId();
    ASSERT_TRUE(reader->read(&first, 0, block, 0, true, true)); // backwards: a new decoder
    const int restarted = stream.getDecoderProcessId();
    EXPECT_NE(restarted, decoderForSkip);
    ASSERT_TRUE(reader->read(&again, 0, block, block, true, true)); // forwards: the same decoder
    EXPECT_EQ(stream.getDecoderProcessId(), restarted);

    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < block; ++i)
            ASSERT_EQ(skipped.getSample(ch, i), again.getSample(ch, i)) << ch << " " << i;
    // The first block is real audio, not the silence a failed read would leave.
    EXPECT_GT(first.getMagnitude(0, block / 2, block / 2), leftLevel * 0.8f);
}

TEST(FfmpegSourceReader, AFileDamagedAfterOpeningFailsTheRead)
{
    Fixture fixture;
    const auto m4a = fixture.encode("tone.m4a", {"-c:a", "aac"});
    juce::String error;
    auto reader = open(m4a, error);
    ASSERT_NE(reader, nullptr) << error;
    const auto before = childrenOfThisProcess();

    m4a.replaceWithText("Overwritten by something that is not audio.\n");
    juce::AudioBuffer<float> audio(2, block);
    EXPECT_FALSE(reader->read(&audio, 0, block, 0, true, true));
    auto& stream = dynamic_cast<FfmpegStreamReader&>(*reader);
    EXPECT_TRUE(stream.getLastError().endsWithChar('.')) << stream.getLastError();
    EXPECT_EQ(stream.getDecoderProcessId(), 0);
    EXPECT_EQ(childrenOfThisProcess(), before);
}

TEST(FfprobeReport, ReadsWhatItCanTrustAndRefusesTheRest)
{
    struct Case
    {
        const char* name;
        std::string report;
        bool accepted;
        const char* error;
    };
    const std::string nested(100000, '[');
    const Case cases[] = {
        {"stereo", R"({"streams":[{"sample_rate":"44100","channels":2,"duration":"5.0"}]})", true, ""},
        {"format duration", R"({"streams":[{"sample_rate":"48000","channels":1}],"format":{"duration":"2"}})", true, ""},
        {"no stream", R"({"streams":[]})", false, "This file contains no audio stream that ffmpeg can decode."},
        {"huge channel count", R"({"streams":[{"sample_rate":"48000","channels":1e999,"duration":"1"}]})", false,
         "The audio header does not contain a valid duration, rate, or channel count."},
        {"nan rate", R"({"streams":[{"sample_rate":"nan","channels":2,"duration":"1"}]})", false,
         "The audio header does not contain a valid duration, rate, or channel count."},
        {"invalid UTF-8", "{\"streams\":[{\"sample_rate\":\"48000\",\"channels\":2,\"duration\":\"1\xff\"}]}", false, nullptr},
        {"deep nesting", nested, false, nullptr},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        sorvane::ProbedStream stream;
        juce::String error;
        EXPECT_EQ(sorvane::parseProbeOutput(c.report.data(), c.report.size(), stream, error), c.accepted);
        if (c.accepted)
            EXPECT_TRUE(stream.channels >= 1 && stream.sampleRate > 0.0 && stream.seconds > 0.0);
        else if (c.error != nullptr)
            EXPECT_EQ(error, c.error);
        else
            EXPECT_TRUE(error.isNotEmpty());
    }
}
