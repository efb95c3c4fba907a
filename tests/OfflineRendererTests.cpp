// What the renderer writes is what the processor, driven directly as a host drives it offline, produces
// for the same sound in the same blocks: compared bit for bit through 32-bit float files.
#include "RenderTestSupport.h"

#include "render/LoudnessMeter.h"
#include "render/OfflineRenderer.h"
#include "render/RenderBatch.h"
#include "presets/FactoryPresets.h"
#include "presets/PresetDescriptor.h"
#include "projects/CreatorProjectFile.h"
#include "render/RenderSound.h"
#include "workflow/TresselDna.h"

#include <cstring>

namespace
{
using namespace sorvane::render;
using sorvane::test::RenderFolder;

bool identical(const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    if (a.getNumChannels() != b.getNumChannels() || a.getNumSamples() != b.getNumSamples())
        return false;
    for (int c = 0; c < a.getNumChannels(); ++c)
        if (std::memcmp(a.getReadPointer(c), b.getReadPointer(c),
                        sizeof(float) * (size_t)a.getNumSamples()) != 0)
            return false;
    return true;
}

bool render(const RenderCommand& command, const juce::File& input, const juce::File& output,
            RenderResult& result, juce::String& error, const std::atomic<bool>* cancel = nullptr)
{
    RenderSound sound;
    if (!sound.load(command, error))
        return false;
    auto processor = sorvane::test::makeProcessor();
    if (!sound.applyTo(*processor, error))
        return false;
    RenderSettings settings;
    settings.blockSize = command.blockSize;
    settings.tailSeconds = command.tailSeconds;
    settings.sampleRate = command.sampleRate;
    settings.format = formatForOutput(command.format, output);
    settings.tempo = sound.getTempo();
    OfflineRenderer renderer(settings);
    return renderer.open(input, error) && renderer.prepare(*processor, error) &&
           renderer.render(output, cancel, nullptr, result, error);
}

// The DNA text of a Tressel variant the processor reached by its own means.
juce::String dnaOf(int program, std::uint32_t tresselSeed, int personality, int variant)
{
    auto processor = sorvane::test::makeProcessor();
    processor->setCurrentProgram(program);
    processor->generateTressel(tresselSeed, personality, 70.0f, {}, false, false);
    processor->selectTresselVariant(variant);
    juce::String error;
    auto text = processor->copyTresselDna(error);
    EXPECT_TRUE(text.startsWith("SV1:")) << error;
    return text;
}

struct Scenario
{
    const char* name;
    SoundSource source;
    juce::String argument;
    int blockSize;
    double tailSeconds;
    int channels;
};

TEST(OfflineRenderer, OutputIsBitIdenticalToTheProcessorDrivenDirectly)
{
    RenderFolder folder;
    constexpr double rate = 44100.0;
    const int frames = 52000; // not a multiple of any block size below
    // A user preset saved by the processor, applied by the reference as the preset browser applies it.
    const auto userPreset = folder.dir.getChildFile("Mine.sorvane");
    {
        auto author = sorvane::test::makeProcessor();
        author->setCurrentProgram(9);
        sorvane::test::setPlain(*author, "fold", 45.0f);
        sorvane::test::setPlain(*author, "delaySync", 6.0f);
        juce::String error;
        ASSERT_TRUE(author->saveUserPreset(userPreset, true, error)) << error;
    }
    const std::vector<Scenario> scenarios = {
        {"user preset, 200, tail", SoundSource::userPreset, userPreset.getFullPathName(), 200, 0.4, 2},
        {"defaults, 512", SoundSource::defaults, {}, 512, 0.0, 2},
        {"program 3, 64, tail", SoundSource::factoryPreset, "3", 64, 0.5, 2},
        {"program 20 by name, 1000", SoundSource::factoryPreset, sorvane::factoryPresets()[20].name, 1000,
         0.25, 2},
        {"program 11, 1 frame blocks", SoundSource::factoryPreset, "11", 1, 0.0, 2},
        {"DNA of program 7, 256", SoundSource::dna, dnaOf(7, 11u, 1, 0), 256, 1.0, 2},
        {"DNA of a Tressel variant, 4096", SoundSource::dna, dnaOf(30, 4242u, 3, 2), 4096, 0.3, 2},
        {"DNA, mono, 333", SoundSource::dna, dnaOf(15, 77u, 2, 3), 333, 0.2, 1},
    };

    for (const auto& s : scenarios)
    {
        SCOPED_TRACE(s.name);
        const auto input = folder.dir.getChildFile("in.wav");
        const auto output = folder.dir.getChildFile("out.wav");
        const auto source = sorvane::test::renderTestSignal(s.channels, frames, rate);
        sorvane::test::writeFloatWave(input, source, rate);

        RenderCommand command;
        command.source = s.source;
        command.sourceArgument = s.argument;
        command.blockSize = s.blockSize;
        command.tailSeconds = s.tailSeconds;
        command.format = OutputFormat::wav32f;
        RenderResult result;
        juce::String error;
        ASSERT_TRUE(render(command, input, output, result, error)) << error;

        // The reference reaches the sound through the processor's own calls, not the renderer's.
        auto reference = sorvane::test::makeProcessor();
        if (s.source == SoundSource::factoryPreset)
        {
            reference->setCurrentProgram(findFactoryPreset(s.argument));
        }
        else if (s.source == SoundSource::dna)
        {
            ASSERT_TRUE(reference->importTresselDna(s.argument, error)) << error;
        }
        else if (s.source == SoundSource::userPreset)
        {
            sorvane::PresetDescriptor entry;
            entry.kind = sorvane::PresetKind::User;
            entry.path = juce::File(s.argument);
            entry.valid = true;
            ASSERT_TRUE(reference->applyBrowserPreset(entry, error)) << error;
        }
        const int tail = (int)std::llround(s.tailSeconds * rate);
        const auto expected = sorvane::test::processDirectly(*reference, source, rate, s.blockSize, tail);

        double writtenRate = 0.0;
        const auto written = sorvane::test::readAudioFile(output, &writtenRate);
        EXPECT_EQ(writtenRate, rate);
        EXPECT_EQ(written.getNumChannels(), s.channels);
        EXPECT_EQ(written.getNumSamples(), frames + tail);
        EXPECT_EQ(result.frames, frames + tail);
        EXPECT_TRUE(identical(written, expected));
        // The sound matters: the same audio through the default sound differs (except the defaults' own
        // case).
        if (s.source != SoundSource::defaults)
        {
            auto plain = sorvane::test::makeProcessor();
            EXPECT_FALSE(
                identical(written, sorvane::test::processDirectly(*plain, source, rate, s.blockSize, tail)));
        }
    }
}

TEST(OfflineRenderer, ParameterSettingsTempoAndBlockSizeReachTheProcessor)
{
    RenderFolder folder;
    constexpr double rate = 48000.0;
    const auto input = folder.dir.getChildFile("in.wav");
    const auto output = folder.dir.getChildFile("out.wav");
    const auto source = sorvane::test::renderTestSignal(2, 30000, rate);
    sorvane::test::writeFloatWave(input, source, rate);

    RenderCommand command;
    command.settings = {{"delay", "80"}, {"delaySync", "1/8"}, {"glitch", "70"}};
    command.tempo = 93.0;
    command.blockSize = 480;
    command.format = OutputFormat::wav32f;
    RenderResult result;
    juce::String error;
    ASSERT_TRUE(render(command, input, output, result, error)) << error;

    auto reference = sorvane::test::makeProcessor();
    sorvane::test::setPlain(*reference, "delay", 80.0f);
    sorvane::test::setPlain(*reference, "delaySync", 4.0f);
    sorvane::test::setPlain(*reference, "glitch", 70.0f);
    const auto written = sorvane::test::readAudioFile(output);
    EXPECT_TRUE(identical(written, sorvane::test::processDirectly(*reference, source, rate, 480, 0, 93.0)));
    auto otherTempo = sorvane::test::makeProcessor();
    sorvane::test::setPlain(*otherTempo, "delay", 80.0f);
    sorvane::test::setPlain(*otherTempo, "delaySync", 4.0f);
    sorvane::test::setPlain(*otherTempo, "glitch", 70.0f);
    EXPECT_FALSE(
        identical(written, sorvane::test::processDirectly(*otherTempo, source, rate, 480, 0, 120.0)));
}

TEST(OfflineRenderer, TwentyFourBitAndFlacHoldTheSameAudioToTheirResolution)
{
    RenderFolder folder;
    constexpr double rate = 48000.0;
    const auto input = folder.dir.getChildFile("in.wav");
    const auto source = sorvane::test::renderTestSignal(2, 24000, rate);
    sorvane::test::writeFloatWave(input, source, rate);

    RenderCommand command;
    command.source = SoundSource::factoryPreset;
    command.sourceArgument = "2";
    RenderResult result;
    juce::String error;
    command.format = OutputFormat::wav32f;
    ASSERT_TRUE(render(command, input, folder.dir.getChildFile("f.wav"), result, error)) << error;
    command.format = OutputFormat::fromExtension;
    ASSERT_TRUE(render(command, input, folder.dir.getChildFile("i.wav"), result, error)) << error;
    ASSERT_TRUE(render(command, input, folder.dir.getChildFile("i.flac"), result, error)) << error;

    const auto exact = sorvane::test::readAudioFile(folder.dir.getChildFile("f.wav"));
    for (const char* name : {"i.wav", "i.flac"})
    {
        SCOPED_TRACE(name);
        const auto quantised = sorvane::test::readAudioFile(folder.dir.getChildFile(name));
        ASSERT_EQ(quantised.getNumSamples(), exact.getNumSamples());
        float worst = 0.0f;
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < exact.getNumSamples(); ++i)
                worst = std::max(worst, std::abs(quantised.getSample(c, i) -
                                                 juce::jlimit(-1.0f, 1.0f, exact.getSample(c, i))));
        EXPECT_LE(worst, 1.0f / 8388608.0f);
        EXPECT_GT(exact.getMagnitude(0, exact.getNumSamples()), 0.01f);
    }
}

TEST(OfflineRenderer, AnotherRateIsConvertedFirst)
{
    RenderFolder folder;
    const auto input = folder.dir.getChildFile("in.wav");
    const auto output = folder.dir.getChildFile("out.wav");
    sorvane::test::writeFloatWave(input, sorvane::test::renderTestSignal(2, 44100, 44100.0), 44100.0);
    RenderCommand command;
    command.sampleRate = 48000;
    command.tailSeconds = 0.5;
    RenderResult result;
    juce::String error;
    ASSERT_TRUE(render(command, input, output, result, error)) << error;
    double rate = 0.0;
    const auto written = sorvane::test::readAudioFile(output, &rate);
    EXPECT_EQ(rate, 48000.0);
    EXPECT_EQ(written.getNumSamples(), 48000 + 24000);
    EXPECT_NEAR(result.seconds, 1.5, 1e-9);
    EXPECT_GT(written.getMagnitude(0, 48000), 0.01f);
}

TEST(OfflineRenderer, FailuresAndCancelsLeaveNothingBehind)
{
    RenderFolder folder;
    const auto input = folder.dir.getChildFile("in.wav");
    sorvane::test::writeFloatWave(input, sorvane::test::renderTestSignal(2, 20000, 48000.0), 48000.0);
    const auto cut = folder.dir.getChildFile("cut.wav");
    juce::MemoryBlock bytes;
    input.loadFileAsData(bytes);
    cut.replaceWithData(bytes.getData(), bytes.getSize() / 2);
    const auto garbage = folder.dir.getChildFile("garbage.wav");
    garbage.replaceWithText("RIFF but not really a wave file at all");
    const auto surround = folder.dir.getChildFile("six.wav");
    sorvane::test::writeFloatWave(surround, sorvane::test::renderTestSignal(6, 1000, 48000.0), 48000.0);
    const auto existing = folder.dir.getChildFile("existing.wav");
    existing.replaceWithText("keep me");

    struct Case
    {
        juce::File input, output;
        bool cancel;
        juce::String expected;
    };
    const std::vector<Case> cases = {
        {folder.dir.getChildFile("none.wav"), folder.dir.getChildFile("o1.wav"), false,
         "none.wav: no such file"},
        {garbage, folder.dir.getChildFile("o2.wav"), false, "garbage.wav: "},
        {cut, folder.dir.getChildFile("o3.wav"), false, "cut.wav: the file ends before"},
        {surround, folder.dir.getChildFile("o4.wav"), false, "six.wav: has 6 channels"},
        {folder.dir, folder.dir.getChildFile("o5.wav"), false, "a folder, not an audio file"},
        {input, folder.dir.getChildFile("no/o6.wav"), false, "o6.wav: cannot write in"},
        {input, existing, true, ""},
    };
    const auto before = folder.names();
    for (const auto& c : cases)
    {
        RenderCommand command;
        RenderResult result;
        juce::String error;
        std::atomic<bool> cancel{c.cancel};
        EXPECT_FALSE(render(command, c.input, c.output, result, error, &cancel))
            << c.output.getFullPathName();
        if (c.expected.isEmpty())
            EXPECT_TRUE(error.isEmpty()) << error;
        else
            EXPECT_TRUE(error.contains(c.expected)) << error;
        EXPECT_EQ(folder.names(), before) << c.output.getFullPathName();
    }
    EXPECT_EQ(existing.loadFileAsString(), "keep me");
}

TEST(LoudnessMeter, MeasuresSinesAndGatesQuietPassages)
{
    constexpr double rate = 48000.0;
    const auto sine = [&](int frames, float amplitude)
    {
        juce::AudioBuffer<float> b(2, frames);
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < 2; ++c)
                b.setSample(c, i,
                            amplitude *
                                (float)std::sin(2.0 * juce::MathConstants<double>::pi * 1000.0 * i / rate));
        return b;
    };

    // A 1 kHz sine at -20 dBFS in both channels reads -20 LUFS (-3.01 LUFS for 0 dBFS in one channel).
    LoudnessMeter steady(rate, 2);
    const auto loud = sine(480000, 0.1f);
    for (int start = 0; start < loud.getNumSamples(); start += 4800)
    {
        juce::AudioBuffer<float> part(2, 4800);
        for (int c = 0; c < 2; ++c)
            part.copyFrom(c, 0, loud, c, start, 4800);
        steady.process(part, 4800);
    }
    ASSERT_TRUE(steady.integratedLufs().has_value());
    EXPECT_NEAR(*steady.integratedLufs(), -20.0, 0.05);
    EXPECT_NEAR(steady.samplePeak(), 0.1f, 1e-4f);

    // Ten seconds 20 dB quieter fall below the relative gate: the loud part alone decides.
    LoudnessMeter gated(rate, 2);
    gated.process(loud, loud.getNumSamples());
    const auto quiet = sine(480000, 0.01f);
    gated.process(quiet, quiet.getNumSamples());
    EXPECT_NEAR(*gated.integratedLufs(), -20.0, 0.1);

    LoudnessMeter silent(rate, 2);
    juce::AudioBuffer<float> zeros(2, 96000);
    zeros.clear();
    silent.process(zeros, zeros.getNumSamples());
    EXPECT_FALSE(silent.integratedLufs().has_value());
}

TEST(RenderBatch, JsonIsStrictAndNamesEveryFile)
{
    RenderJob job;
    job.input = juce::File("/in/a \"quoted\"\\name\t.wav");
    job.output = juce::File("/out/a.wav");
    JobOutcome failed;
    failed.error = "line\nbreak";
    EXPECT_EQ(jobJson(job, failed),
              "{\"input\":\"/in/a \\\"quoted\\\"\\\\name\\u0009.wav\",\"output\":\"/out/a.wav\","
              "\"ok\":false,\"error\":\"line\\u000abreak\"}");

    JobOutcome silent;
    silent.ok = true;
    silent.result.seconds = 1.5;
    silent.result.sampleRate = 48000;
    silent.result.channels = 2;
    silent.result.frames = 72000;
    const auto line = jobJson(job, silent);
    EXPECT_TRUE(
        line.contains("\"peak\":0.000000,\"peakDbfs\":null,\"loudnessBefore\":null,\"loudnessAfter\":null"))
        << line;
    const auto parsed = juce::JSON::parse(line);
    EXPECT_EQ((int)parsed["frames"], 72000);
    EXPECT_EQ((double)parsed["seconds"], 1.5);
}
} // namespace
