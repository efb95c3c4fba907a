#include "ExportTestSupport.h"
#include "SocialTestSupport.h"
#include "TestSupport.h"

#include "social/SocialExporter.h"
#include "workflow/StableHash.h"
#include "workflow/TresselPersonality.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace sorvane
{
namespace
{
using test::ExportFolder;

// Each frame's value names its own index, so a copied frame shows where it came from.
juce::AudioBuffer<float> indexedAudio(int channels, int frames)
{
    juce::AudioBuffer<float> audio(channels, frames);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i)
            audio.setSample(c, i, (float)(i % 1000000) * 1.0e-6f + (float)c * 0.25f);
    return audio;
}

juce::AudioBuffer<float> sineAudio(int channels, double seconds, double rate)
{
    juce::AudioBuffer<float> audio(channels, (int)std::llround(seconds * rate));
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < audio.getNumSamples(); ++i)
            audio.setSample(c, i,
                            0.5f * (float)std::sin(2.0 * juce::MathConstants<double>::pi *
                                                   (220.0 + 110.0 * c) * i / rate));
    return audio;
}

SocialExportOptions optionsFor(int aspect, int duration, SocialBackground background, bool effectedOnly)
{
    SocialExportOptions options;
    options.title = "Night Shift";
    options.creator = "Ada";
    options.personality = "Glass";
    options.dna = "SV1:AAAA";
    options.aspect = aspect;
    options.duration = duration;
    options.background = background;
    options.rangeStart = 0.25;
    options.rangeEnd = 0.75;
    options.loopEnabled = true;
    options.effectedOnly = effectedOnly;
    return options;
}

struct Export
{
    SocialExportResult result;
    float progress = 0.0f;
};

Export exportInto(const juce::File& folder, const juce::AudioBuffer<float>& audio, double rate,
                  const SocialExportOptions& options)
{
    std::atomic<float> progress{0.0f};
    std::atomic<bool> cancel{false};
    ScopeVisualInputs visuals;
    visuals.parameters.fill(0.5f);
    Export e;
    e.result = SocialExporter::exportTeaser(folder, audio, rate, visuals, options, &progress, &cancel);
    e.progress = progress.load();
    return e;
}

juce::StringArray fileNames(const juce::File& folder)
{
    juce::StringArray names;
    for (const auto& f : folder.findChildFiles(juce::File::findFilesAndDirectories, false, "*"))
        names.add(f.getFileName());
    names.sort(false);
    return names;
}

struct Probe
{
    juce::String videoCodec, audioCodec;
    int width = 0, height = 0;
    double duration = 0.0;
};

Probe probeVideo(const juce::File& file)
{
    const auto run = test::runProgram({"ffprobe", "-v", "error", "-print_format", "json", "-show_streams",
                                       "-show_format", file.getFullPathName()});
    Probe probe;
    const auto json = juce::JSON::parse(run.output);
    if (auto* streams = json["streams"].getArray())
        for (const auto& stream : *streams)
        {
            if (stream["codec_type"].toString() == "video")
            {
                probe.videoCodec = stream["codec_name"].toString();
                probe.width = stream["width"];
                probe.height = stream["height"];
            }
            else if (stream["codec_type"].toString() == "audio")
                probe.audioCodec = stream["codec_name"].toString();
        }
    probe.duration = json["format"]["duration"].toString().getDoubleValue();
    return probe;
}
} // namespace

TEST(SocialExporter, PreflightFollowsTheProfileDurationAndInput)
{
    struct Case
    {
        const char* name;
        int channels;
        double seconds, rate;
        int aspect, duration;
        SocialBackground background;
        bool effectedOnly;
        int width, height;
        double durationSeconds;
        std::int64_t bytes;
        const char* label;
    };
    const Case cases[] = {
        {"before/after 40 s at 15 s", 2, 40.0, 48000.0, 0, 0, SocialBackground::TresselRings, false, 1080,
         1920, 15.0, 106314752, "9:16 / Tressel Rings / 15.0 s"},
        {"halves of 10 s are short of 15", 2, 20.0, 48000.0, 0, 0, SocialBackground::TresselRings, false,
         1080, 1920, 0.0, 0, ""},
        {"the same input whole", 2, 20.0, 48000.0, 0, 2, SocialBackground::TresselRings, false, 1080, 1920,
         20.0, 127803392, "9:16 / Tressel Rings / 20.0 s"},
        {"effected only 30 s", 1, 30.0, 44100.0, 2, 1, SocialBackground::VectorBloom, true, 1920, 1080, 30.0,
         152096672, "16:9 / Vector Bloom / 30.0 s"},
        {"effected 29.9 s short of 30", 1, 29.9, 44100.0, 2, 1, SocialBackground::VectorBloom, true, 1920,
         1080, 0.0, 0, ""},
        {"whole 1.5 s square", 2, 1.5, 48000.0, 1, 2, SocialBackground::SpectralFlux, true, 1080, 1080, 1.5,
         2 * 72000 * 12 + 1080 * 1080 * 4 + 33554432 + 4718592, "1:1 / Spectral Flux / 1.5 s"},
        {"7,999 Hz", 2, 40.0, 7999.0, 1, 2, SocialBackground::TresselRings, false, 1080, 1080, 0.0, 0, ""},
        {"no channel", 0, 40.0, 48000.0, 2, 2, SocialBackground::TresselRings, false, 1920, 1080, 0.0, 0, ""},
        {"not a finite rate", 2, 1.0, std::numeric_limits<double>::infinity(), 0, 2,
         SocialBackground::TresselRings, false, 1080, 1920, 0.0, 0, ""},
    };
    for (const auto& c : cases)
    {
        const auto frames = std::isfinite(c.rate) ? (int)std::llround(c.seconds * c.rate) : 48000;
        const juce::AudioBuffer<float> audio(c.channels, c.channels > 0 ? frames : 0);
        const auto p = SocialExporter::preflight(
            audio, c.rate, optionsFor(c.aspect, c.duration, c.background, c.effectedOnly));
        EXPECT_EQ(p.width, c.width) << c.name;
        EXPECT_EQ(p.height, c.height) << c.name;
        EXPECT_EQ(p.durationSeconds, c.durationSeconds) << c.name;
        EXPECT_EQ(p.predictedTemporaryBytes, c.bytes) << c.name;
        EXPECT_EQ(p.profileLabel, c.label) << c.name;
        EXPECT_EQ(p.backgroundName.isEmpty(), c.bytes == 0) << c.name;
    }
}

TEST(SocialExporter, FittingTakesTheStartOfEachHalf)
{
    constexpr double rate = 8000.0;
    const auto input = indexedAudio(2, 40 * 8000);
    const auto teaser = SocialExporter::fitDuration(input, rate, optionsFor(0, 0, {}, false));
    ASSERT_EQ(teaser.getNumChannels(), 2);
    ASSERT_EQ(teaser.getNumSamples(), 15 * 8000);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < teaser.getNumSamples(); ++i)
        {
            // 7.5 s from the start of the before half, then 7.5 s from the start of the after half.
            const int from = i < 60000 ? i : 160000 + (i - 60000);
            ASSERT_EQ(teaser.getSample(c, i), input.getSample(c, from)) << c << " " << i;
        }

    const auto effected =
        SocialExporter::fitDuration(indexedAudio(1, 31 * 8000), rate, optionsFor(0, 1, {}, true));
    ASSERT_EQ(effected.getNumSamples(), 30 * 8000);
    for (int i = 0; i < effected.getNumSamples(); ++i)
        ASSERT_EQ(effected.getSample(0, i), (float)i * 1.0e-6f) << i;

    juce::AudioBuffer<float> silent(2, 40 * 8000);
    silent.clear();
    silent.setSample(0, 5, 1.0f); // written then cleared again below: the flag, not the bytes, says silent
    silent.clear();
    const auto quiet = SocialExporter::fitDuration(silent, rate, optionsFor(0, 0, {}, false));
    ASSERT_EQ(quiet.getNumSamples(), 15 * 8000);
    EXPECT_EQ(quiet.getMagnitude(0, quiet.getNumSamples()), 0.0f);

    // Too short for the duration, or no usable rate: nothing to fit.
    EXPECT_EQ(SocialExporter::fitDuration(indexedAudio(2, 20 * 8000), rate, optionsFor(0, 0, {}, false))
                  .getNumSamples(),
              0);
    EXPECT_EQ(SocialExporter::fitDuration(input, 7999.0, optionsFor(0, 2, {}, false)).getNumSamples(), 0);
    // A whole input comes back as it is.
    const auto whole = SocialExporter::fitDuration(input, rate, optionsFor(0, 2, {}, false));
    ASSERT_EQ(whole.getNumSamples(), input.getNumSamples());
    EXPECT_EQ(whole.getSample(1, 319999), input.getSample(1, 319999));
}

TEST(SocialExporter, VideoFiltersAndArgumentsAreExact)
{
    SocialExportPreflight p;
    p.width = 1080;
    p.height = 1920;
    p.durationSeconds = 15.0;
    EXPECT_EQ(
        SocialExporter::createVideoFilter(p, SocialBackground::TresselRings),
        "[1:a]asplit=2[aout][waveaudio];[waveaudio]showwaves=s=1080x480:mode=cline:colors=0x12e5ed@0.80:"
        "rate=30,format=rgba[wave];[0:v][wave]overlay=0:H-h:shortest=1,format=yuv420p[v]");
    p.width = 1920;
    p.height = 1080;
    EXPECT_EQ(
        SocialExporter::createVideoFilter(p, SocialBackground::SpectralFlux),
        "[1:a]asplit=3[aout][reactive][waveaudio];[reactive]showspectrum=s=1920x1080:mode=combined:"
        "color=rainbow:scale=sqrt:slide=scroll:fps=30:legend=0,format=yuv444p[spectrum];[0:v]format=yuv444p"
        "[base];[base][spectrum]blend=all_mode=screen:all_opacity=0.48[mixed];[waveaudio]showwaves=s="
        "1920x270:mode=cline:colors=0x12e5ed@0.80:rate=30,format=rgba[wave];[mixed][wave]overlay=0:H-h:"
        "shortest=1,format=yuv420p[v]");
    p.width = 1080;
    p.height = 1080;
    EXPECT_EQ(
        SocialExporter::createVideoFilter(p, SocialBackground::VectorBloom),
        "[1:a]asplit=3[aout][reactive][waveaudio];[reactive]avectorscope=s=1080x1080:r=30:mode=lissajous:"
        "draw=aaline:scale=sqrt:zoom=1.45:rc=255:gc=229:bc=237:rf=5:gf=3:bf=6,format=yuv444p[vector];"
        "[0:v]format=yuv444p[base];[base][vector]blend=all_mode=screen:all_opacity=0.62[mixed];"
        "[waveaudio]showwaves=s=1080x270:mode=cline:colors=0x12e5ed@0.80:rate=30,format=rgba[wave];"
        "[mixed][wave]overlay=0:H-h:shortest=1,format=yuv420p[v]");
    // Encoders before the antialiased mode get plain lines and nothing else changes.
    auto plainLines = SocialExporter::createVideoFilter(p, SocialBackground::VectorBloom);
    EXPECT_EQ(SocialExporter::createVideoFilter(p, SocialBackground::VectorBloom, false),
              plainLines.replace(":draw=aaline:", ":draw=line:"));
    EXPECT_EQ(SocialExporter::createVideoFilter(p, SocialBackground::SpectralFlux, false),
              SocialExporter::createVideoFilter(p, SocialBackground::SpectralFlux));
    // Unknown backgrounds draw as the rings; a tiny frame still gets a 180-pixel strip.
    p.height = 400;
    EXPECT_TRUE(SocialExporter::createVideoFilter(p, (SocialBackground)7)
                    .startsWith("[1:a]asplit=2[aout][waveaudio];[waveaudio]showwaves=s=1080x180:"));

    p.durationSeconds = 20.0 / 3.0;
    const juce::File folder("/packages/My Teaser.partial");
    const auto args = SocialExporter::createVideoArguments(folder, p, SocialBackground::TresselRings);
    EXPECT_EQ(
        args.joinIntoString("|"),
        "ffmpeg|-y|-loglevel|error|-loop|1|-framerate|30|-i|/packages/My Teaser.partial/sorvane-cover.png|"
        "-i|/packages/My Teaser.partial/sorvane-teaser.wav|-filter_complex|" +
            SocialExporter::createVideoFilter(p, SocialBackground::TresselRings) +
            "|-map|[v]|-map|[aout]|-t|6.666666667|-c:v|libx264|-preset|veryfast|-pix_fmt|yuv420p|-c:a|aac|"
            "-b:a|192k|-movflags|+faststart|/packages/My Teaser.partial/sorvane-teaser.mp4");
}

TEST(SocialExporter, RefusalsHaveTheirMessagesAndWriteNothing)
{
    ExportFolder root;
    const auto blocker = test::writeBytes(root.dir.getChildFile("a-file"), "not a folder");
    struct Case
    {
        const char* name;
        int channels;
        double seconds, rate;
        int duration;
        juce::File folder;
        juce::String message;
    };
    const Case cases[] = {
        {"7,999 Hz", 2, 2.0, 7999.0, 2, root.dir.getChildFile("a"),
         "Capture and export audio before creating a teaser."},
        {"no frames", 2, 0.0, 48000.0, 2, root.dir.getChildFile("b"),
         "Capture and export audio before creating a teaser."},
        {"halves short of 15 s", 2, 20.0, 8000.0, 0, root.dir.getChildFile("c"),
         "The sample is shorter than the selected duration. Select FULL to export the full sample."},
        {"990 s whole is over the cap", 2, 990.0, 48000.0, 2, root.dir.getChildFile("d"),
         "The selected social profile needs approximately 4097 MB of bounded temporary storage, which is not "
         "safely available."},
        {"a file where the folder goes", 1, 2.0, 8000.0, 2, blocker.getChildFile("package"),
         "Could not create the teaser output folder."},
    };
    for (const auto& c : cases)
    {
        const juce::AudioBuffer<float> audio(c.channels, (int)std::llround(c.seconds * c.rate));
        const auto e = exportInto(c.folder, audio, c.rate, optionsFor(0, c.duration, {}, false));
        EXPECT_FALSE(e.result.success) << c.name;
        EXPECT_EQ(e.result.message, c.message) << c.name;
        EXPECT_FALSE(c.folder.exists()) << c.name;
    }
    EXPECT_EQ(test::bytesOf(blocker).toString(), "not a folder");
}

TEST(SocialExporter, WithoutTheEncoderThePackageHasExactlyFourFiles)
{
    ExportFolder root;
    const test::ScopedSearchPath path(root.dir.getChildFile("empty-bin").getFullPathName());
    const auto folder = root.dir.getChildFile("package");
    const auto input = sineAudio(2, 40.0, 48000.0);
    const auto e =
        exportInto(folder, input, 48000.0, optionsFor(0, 0, SocialBackground::TresselRings, false));
    ASSERT_TRUE(e.result.success) << e.result.message;
    EXPECT_EQ(e.result.message, "Created the 9:16 / Tressel Rings / 15.0 s interactive preview, cover, DNA "
                                "metadata, and level-preserving WAV. Install ffmpeg and export again to also "
                                "create MP4.");
    EXPECT_EQ(e.progress, 1.0f);
    EXPECT_EQ(fileNames(folder).joinIntoString(","),
              "preview.html,sorvane-cover.png,sorvane-result.json,sorvane-teaser.wav");

    const auto wav = test::readWithJuce(folder.getChildFile("sorvane-teaser.wav"));
    ASSERT_TRUE(wav.ok);
    EXPECT_EQ(wav.bits, 24);
    EXPECT_EQ(wav.frames, 15 * 48000);
    EXPECT_EQ(wav.metadata["CMNT"],
              "Sorvane sourceRangeStart=0.250000000; sourceRangeEnd=0.750000000; sourceRangeMode=loop");
    // The second half of the teaser starts where the after half of the input starts, unscaled.
    EXPECT_NEAR(wav.audio.getSample(1, 7 * 48000 + 24000 + 100), input.getSample(1, 20 * 48000 + 100),
                1.0e-6);
    EXPECT_TRUE(folder.getChildFile("preview.html").loadFileAsString().contains("sorvane-teaser.wav"));
}

TEST(SocialExporter, AHangingOrFailingEncoderStillGivesTheWholePackage)
{
    ExportFolder root;
    struct Case
    {
        const char* name;
        const char* script;
        const char* message;
    };
    const Case cases[] = {
        // Answers the probe, then writes half a file and fails: the half file must not stay behind.
        {"fails", "[ \"$1\" = -version ] && exit 0\nfor last; do :; done\nprintf half > \"$last\"\nexit 1",
         "ffmpeg could not assemble the MP4; the preview, cover, and WAV were preserved."},
        {"probe hangs", "exec /bin/sleep 30",
         "Created the 1:1 / Tressel Rings / 2.0 s interactive preview, cover, DNA metadata, and "
         "level-preserving "
         "WAV. Install ffmpeg and export again to also create MP4."},
        {"probe fails", "exit 3",
         "Created the 1:1 / Tressel Rings / 2.0 s interactive preview, cover, DNA metadata, and "
         "level-preserving "
         "WAV. Install ffmpeg and export again to also create MP4."},
    };
    for (const auto& c : cases)
    {
        const auto bin = root.dir.getChildFile(juce::String("bin-") + c.name);
        test::writeFakeFfmpeg(bin, c.script);
        const test::ScopedSearchPath path(bin.getFullPathName());
        const auto folder = root.dir.getChildFile(juce::String("package-") + c.name);
        const auto started = juce::Time::getMillisecondCounterHiRes();
        const auto e = exportInto(folder, sineAudio(2, 2.0, 48000.0), 48000.0, optionsFor(1, 2, {}, false));
        EXPECT_TRUE(e.result.success) << c.name;
        EXPECT_EQ(e.result.message, c.message) << c.name;
        EXPECT_EQ(fileNames(folder).joinIntoString(","),
                  "preview.html,sorvane-cover.png,sorvane-result.json,sorvane-teaser.wav")
            << c.name;
        // The probe gives up after three seconds, not after the script's thirty.
        EXPECT_LT(juce::Time::getMillisecondCounterHiRes() - started, 15000.0) << c.name;
        EXPECT_EQ(test::childProcessCount(), 0) << c.name;
    }
}

TEST(SocialExporter, MetadataIsStrictJsonWithTheProfileAndTheDna)
{
    auto donor = test::makeProcessor();
    test::setPlain(*donor, "drive", 41.0f);
    donor->generateTressel(77, tresselGlass, 60.0f, {}, false, false);
    donor->selectTresselVariant(1);
    juce::String error;
    const auto dna = donor->copyTresselDna(error);
    ASSERT_TRUE(dna.startsWith("SV1:")) << error;

    ExportFolder root;
    auto options = optionsFor(0, 0, SocialBackground::SpectralFlux, false);
    options.dna = dna;
    // Right-to-left override, quotes, markup, control characters and an astral character.
    options.creator = juce::String::fromUTF8("  \xe2\x80\xae"
                                             "Ada \"Q\" </script>\x07\x01 \xf0\x9f\x8e\xb9\t ");
    options.personality = "Glass";
    const auto folder = root.dir.getChildFile("package");
    {
        const test::ScopedSearchPath path(root.dir.getChildFile("empty-bin").getFullPathName());
        ASSERT_TRUE(exportInto(folder, sineAudio(2, 40.0, 16000.0), 16000.0, options).result.success);
    }

    const auto json = folder.getChildFile("sorvane-result.json");
    const auto bytes = test::bytesOf(json).toString();
    EXPECT_FALSE(bytes.containsAnyOf("\r\n")) << "one line";
    // Python holds the strict reading; it compares the creator itself, as it decodes surrogate pairs.
    const auto expectedCreator = root.dir.getChildFile("creator.txt");
    ASSERT_TRUE(expectedCreator.replaceWithText(options.creator.trim(), false, false, "\n"));
    const auto script = root.dir.getChildFile("read.py");
    script.replaceWithText("import json, sys\n"
                           "text = open(sys.argv[1], encoding='utf-8').read()\n"
                           "data = json.loads(text, strict=True)\n"
                           "keys = list(data.keys())\n"
                           "open(sys.argv[2], 'w', encoding='utf-8').write(data.pop('dna'))\n"
                           "assert data.pop('creator') == open(sys.argv[3], encoding='utf-8').read()\n"
                           "print(json.dumps([keys, data], ensure_ascii=True))\n");
    const auto dnaOut = root.dir.getChildFile("dna.txt");
    const auto run = test::runProgram({SORVANE_PYTHON, script.getFullPathName(), json.getFullPathName(),
                                       dnaOut.getFullPathName(), expectedCreator.getFullPathName()});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const auto parsed = juce::JSON::parse(run.output);
    EXPECT_EQ(
        juce::JSON::toString(parsed[0], true),
        "[\"product\", \"profile\", \"width\", \"height\", \"durationSeconds\", \"inputDurationSeconds\", "
        "\"audioRepeated\", \"predictedTemporaryBytes\", \"background\", \"backgroundReactive\", "
        "\"networkAccess\", \"personality\", \"creator\", \"effectedOnly\", \"dna\", \"sourceRangeStart\", "
        "\"sourceRangeEnd\", \"sourceRangeLoopEnabled\"]");
    const auto data = parsed[1];
    EXPECT_EQ(data["product"].toString(), "Sorvane");
    EXPECT_EQ(data["profile"].toString(), "9:16 / Spectral Flux / 15.0 s");
    EXPECT_EQ((int)data["width"], 1080);
    EXPECT_EQ((int)data["height"], 1920);
    EXPECT_EQ((double)data["durationSeconds"], 15.0);
    EXPECT_EQ((double)data["inputDurationSeconds"], 40.0);
    EXPECT_FALSE((bool)data["audioRepeated"]);
    EXPECT_EQ((juce::int64)data["predictedTemporaryBytes"],
              (juce::int64)(2 * 240000 * 12 + 1080 * 1920 * 4 + 33554432 + 47185920));
    EXPECT_EQ(data["background"].toString(), "Spectral Flux");
    EXPECT_TRUE((bool)data["backgroundReactive"]);
    EXPECT_FALSE((bool)data["networkAccess"]);
    EXPECT_EQ(data["personality"].toString(), "Glass");
    EXPECT_FALSE((bool)data["effectedOnly"]);
    EXPECT_EQ((double)data["sourceRangeStart"], 0.25);
    EXPECT_EQ((double)data["sourceRangeEnd"], 0.75);
    EXPECT_TRUE((bool)data["sourceRangeLoopEnabled"]);

    // The DNA Python read back carries the sound to another processor exactly.
    auto receiver = test::makeProcessor();
    ASSERT_TRUE(receiver->importTresselDna(dnaOut.loadFileAsString(), error)) << error;
    EXPECT_EQ(treeDigest(receiver->captureParameterSnapshot()),
              treeDigest(donor->captureParameterSnapshot()));
}

TEST(SocialExporter, MetadataEscapesEveryCharacterJsonForbids)
{
    SocialExportPreflight p;
    p.profileLabel = "1:1 / Tressel Rings / 2.0 s";
    SocialExportOptions options;
    juce::String creator;
    for (juce::juce_wchar c = 1; c < 0x80; ++c)
        creator += juce::String::charToString(c);
    creator += juce::String::charToString(0x2028) + juce::String::charToString(0x1F3B9) +
               juce::String::charToString(0xE9);
    options.creator = "x" + creator + "x";
    options.rangeStart = std::numeric_limits<double>::quiet_NaN();
    const auto json = SocialExporter::createMetadataJson(p, options, 100, 48000.0, 100);
    for (auto t = json.getCharPointer(); !t.isEmpty();)
    {
        const auto c = t.getAndAdvance();
        ASSERT_TRUE(c >= 32 && c < 127) << (int)c;
    }
    EXPECT_FALSE(json.contains("\\a"));
    EXPECT_TRUE(json.contains("\\u0007"));
    EXPECT_TRUE(json.contains("\\ud83c\\udfb9"));
    EXPECT_TRUE(json.contains("\"sourceRangeStart\": null"));
    // JUCE's reader leaves surrogate pairs apart, so only the plain part is compared here; the
    // package test has Python read an astral character back.
    const auto plainPart = juce::JSON::parse(json)["creator"].toString().upToFirstOccurrenceOf(
        juce::String::charToString(0x2028), false, false);
    EXPECT_EQ(plainPart,
              options.creator.upToFirstOccurrenceOf(juce::String::charToString(0x2028), false, false));
}

TEST(SocialExporter, RealEncoderMakesVideoOfTheProfileSize)
{
    ASSERT_TRUE(test::programOnPath("ffmpeg").existsAsFile())
        << "ffmpeg is not installed (scripts/common.sh installs it)";
    ExportFolder root;
    struct Case
    {
        int aspect;
        SocialBackground background;
        double seconds;
        int duration;
        bool effectedOnly;
    };
    const Case cases[] = {
        {0, SocialBackground::TresselRings, 15.0, 0, true},
        {1, SocialBackground::SpectralFlux, 1.0, 2, false},
        {2, SocialBackground::VectorBloom, 1.0, 2, true},
    };
    for (const auto& c : cases)
    {
        const auto folder = root.dir.getChildFile("package-" + juce::String(c.aspect));
        const auto e = exportInto(folder, sineAudio(2, c.seconds, 48000.0), 48000.0,
                                  optionsFor(c.aspect, c.duration, c.background, c.effectedOnly));
        ASSERT_TRUE(e.result.success) << e.result.message;
        const auto profile = socialAspectProfile(c.aspect);
        EXPECT_EQ(e.result.message,
                  "Created a " + juce::String(profile.width) + " x " + juce::String(profile.height) +
                      (c.effectedOnly ? " H.264/AAC effected result" : " H.264/AAC Before/After result") +
                      ", level-preserving WAV, cover, DNA metadata, and preview.");
        EXPECT_EQ(e.progress, 1.0f);
        const auto probe = probeVideo(folder.getChildFile("sorvane-teaser.mp4"));
        EXPECT_EQ(probe.videoCodec, "h264") << c.aspect;
        EXPECT_EQ(probe.audioCodec, "aac") << c.aspect;
        EXPECT_EQ(probe.width, profile.width) << c.aspect;
        EXPECT_EQ(probe.height, profile.height) << c.aspect;
        // ffprobe reads the cover too: a PNG of the profile's size.
        const auto cover = probeVideo(folder.getChildFile("sorvane-cover.png"));
        EXPECT_EQ(cover.videoCodec, "png") << c.aspect;
        EXPECT_EQ(cover.width, profile.width) << c.aspect;
        EXPECT_EQ(cover.height, profile.height) << c.aspect;
        const auto wav = test::readWithJuce(folder.getChildFile("sorvane-teaser.wav"));
        EXPECT_NEAR(probe.duration, (double)wav.frames / wav.rate, 1.0 / 30.0 + 1.0e-3) << c.aspect;
    }
    EXPECT_EQ(test::childProcessCount(), 0);
}

TEST(SocialExporter, CancellingDuringEncodingKillsTheEncoderAndRemovesTheVideo)
{
    ASSERT_TRUE(test::programOnPath("ffmpeg").existsAsFile());
    ExportFolder root;
    const auto folder = root.dir.getChildFile("package");
    const auto input = sineAudio(2, 60.0, 48000.0);
    std::atomic<float> progress{0.0f};
    std::atomic<bool> cancel{false};
    SocialExportResult result;
    std::thread worker(
        [&]
        {
            result = SocialExporter::exportTeaser(folder, input, 48000.0, {},
                                                  optionsFor(2, 1, SocialBackground::SpectralFlux, false),
                                                  &progress, &cancel);
        });
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + 60000.0;
    while (progress.load() != 0.25f && juce::Time::getMillisecondCounterHiRes() < deadline)
        juce::Thread::sleep(5);
    ASSERT_EQ(progress.load(), 0.25f);
    juce::Thread::sleep(300);
    ASSERT_EQ(test::childProcessCount(), 1) << "the encoder runs";
    const auto cancelledAt = juce::Time::getMillisecondCounterHiRes();
    cancel.store(true);
    worker.join();
    EXPECT_LT(juce::Time::getMillisecondCounterHiRes() - cancelledAt, 2000.0);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.message, "Social export cancelled.");
    EXPECT_FALSE(folder.getChildFile("sorvane-teaser.mp4").exists());
    EXPECT_EQ(test::childProcessCount(), 0);
}

TEST(SocialExporter, JobPublishesOneFolderOrLeavesNothing)
{
    ExportFolder root;
    const test::ScopedSearchPath path(root.dir.getChildFile("empty-bin").getFullPathName());
    const auto required = test::writeBytes(root.dir.getChildFile("needed.txt"), "x");
    const auto waitFor = [](CreatorExportJob& job)
    {
        for (int i = 0; i < 3000 && job.getSnapshot().state <= CreatorExportState::Running; ++i)
            juce::Thread::sleep(10);
        return job.getSnapshot();
    };

    const auto destination = root.dir.getChildFile("Teaser");
    {
        CreatorExportJob job(SocialExporter::createJob(destination, required, sineAudio(2, 3.0, 48000.0),
                                                       48000.0, {}, optionsFor(1, 2, {}, true)));
        ASSERT_TRUE(job.launch());
        const auto done = waitFor(job);
        EXPECT_EQ(done.state, CreatorExportState::Completed) << done.message;
        EXPECT_EQ(done.message,
                  "Created the 1:1 / Tressel Rings / 3.0 s interactive preview, cover, DNA metadata, "
                  "and level-preserving WAV. Install ffmpeg and export again to also create MP4.");
        EXPECT_EQ(job.getKind(), CreatorExportKind::SocialPackage);
    }
    EXPECT_EQ(fileNames(destination).joinIntoString(","),
              "preview.html,sorvane-cover.png,sorvane-result.json,sorvane-teaser.wav");

    {
        // An existing export is never written into.
        const auto before = test::listing(destination);
        CreatorExportJob job(SocialExporter::createJob(destination, required, sineAudio(2, 3.0, 48000.0),
                                                       48000.0, {}, optionsFor(1, 2, {}, true)));
        EXPECT_FALSE(job.launch());
        EXPECT_EQ(job.getSnapshot().message,
                  "Choose a new destination folder so an existing export is never overwritten.");
        EXPECT_EQ(test::listing(destination), before);
    }
    {
        const auto missing = root.dir.getChildFile("gone.txt");
        CreatorExportJob job(SocialExporter::createJob(root.dir.getChildFile("Other"), missing,
                                                       sineAudio(2, 3.0, 48000.0), 48000.0, {},
                                                       optionsFor(1, 2, {}, true)));
        EXPECT_FALSE(job.launch());
        EXPECT_EQ(job.getSnapshot().message,
                  "Required export dependency is missing: " + missing.getFullPathName());
    }
    {
        // A refused package fails the job and leaves no staging folder.
        CreatorExportJob job(SocialExporter::createJob(root.dir.getChildFile("Short"), required,
                                                       sineAudio(2, 20.0, 8000.0), 8000.0, {},
                                                       optionsFor(1, 0, {}, false)));
        ASSERT_TRUE(job.launch());
        const auto done = waitFor(job);
        EXPECT_EQ(done.state, CreatorExportState::Failed);
        EXPECT_EQ(done.message,
                  "The sample is shorter than the selected duration. Select FULL to export the full sample.");
    }
    {
        CreatorExportJob job(SocialExporter::createJob(root.dir.getChildFile("Cancelled"), required,
                                                       sineAudio(2, 120.0, 48000.0), 48000.0, {},
                                                       optionsFor(2, 2, {}, true)));
        ASSERT_TRUE(job.launch());
        job.cancel();
        const auto done = waitFor(job);
        EXPECT_EQ(done.state, CreatorExportState::Cancelled);
        EXPECT_EQ(done.message, "Export cancelled; partial output removed.");
    }
    EXPECT_EQ(fileNames(root.dir).joinIntoString(","), "Teaser,needed.txt");
}

TEST(SocialExporter, ProcessorKeepsTheCreatorIdentityAndChoicesClean)
{
    auto processor = test::makeProcessor();
    struct Case
    {
        juce::String artist, stored;
    };
    const Case cases[] = {
        {"Ada\tand\nBo", "Ada and Bo"},
        {"Line\r\nend", "Line  end"},
        {juce::String::repeatedString("a", 100), juce::String::repeatedString("a", 80)},
        // Code points, not bytes: 80 keyboards survive whole.
        {juce::String::repeatedString("\xf0\x9f\x8e\xb9", 90),
         juce::String::repeatedString("\xf0\x9f\x8e\xb9", 80)},
    };
    for (const auto& c : cases)
    {
        processor->projectDirty.store(false);
        processor->setCreatorVideoIdentity(c.artist, true);
        EXPECT_EQ(processor->getCreatorVideoIdentity().artist, c.stored);
        EXPECT_TRUE(processor->getCreatorVideoIdentity().effectedOnly);
        EXPECT_TRUE(processor->projectDirty.load()) << c.stored;
        processor->projectDirty.store(false);
        processor->setCreatorVideoIdentity(c.artist, true);
        EXPECT_FALSE(processor->projectDirty.load()) << "the same name and flag again is no edit";
    }
    processor->setCreatorVideoIdentity(juce::String::repeatedString("a", 80), false);
    EXPECT_TRUE(processor->projectDirty.load()) << "the flag alone is an edit";

    processor->projectDirty.store(false);
    processor->setSocialVideoChoices(5, -1, 1);
    EXPECT_EQ(processor->socialAspect.load(), 2);
    EXPECT_EQ(processor->socialDuration.load(), 0);
    EXPECT_EQ(processor->socialBackground.load(), 1);
    EXPECT_TRUE(processor->projectDirty.load());
    processor->projectDirty.store(false);
    processor->setSocialVideoChoices(9, 0, 1);
    EXPECT_FALSE(processor->projectDirty.load());

    processor->suppressProjectDirty.store(true);
    processor->setSocialVideoChoices(0, 1, 2);
    processor->setCreatorVideoIdentity("Restored", false);
    EXPECT_FALSE(processor->projectDirty.load());
}
} // namespace sorvane
