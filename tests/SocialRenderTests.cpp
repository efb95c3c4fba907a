#include "social/FrameRenderer.h"
#include "social/PreviewPage.h"

#include "ExportTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

namespace sorvane
{
namespace
{
juce::AudioBuffer<float> sine(int channels, int frames, double cyclesPer256, float amplitude)
{
    juce::AudioBuffer<float> audio(channels, frames);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i)
            audio.setSample(c, i,
                            amplitude * static_cast<float>(std::sin(juce::MathConstants<double>::twoPi *
                                                                    cyclesPer256 * i / 256.0)));
    return audio;
}

juce::AudioBuffer<float> silence(int channels, int frames)
{
    juce::AudioBuffer<float> audio(channels, frames);
    audio.clear();
    return audio;
}

juce::String between(const juce::String& text, const juce::String& start, const juce::String& end)
{
    return text.fromFirstOccurrenceOf(start, false, false).upToFirstOccurrenceOf(end, false, false);
}
} // namespace

TEST(SocialRender, AspectProfilesHaveTheirLabelsAndSizes)
{
    struct Case
    {
        int aspect;
        const char* label;
        int width, height;
    };
    for (const auto& c :
         {Case{0, "9:16", 1080, 1920}, Case{1, "1:1", 1080, 1080}, Case{2, "16:9", 1920, 1080},
          Case{7, "16:9", 1920, 1080}, Case{-1, "16:9", 1920, 1080}})
    {
        const auto profile = socialAspectProfile(c.aspect);
        EXPECT_STREQ(profile.label, c.label) << c.aspect;
        EXPECT_EQ(profile.width, c.width) << c.aspect;
        EXPECT_EQ(profile.height, c.height) << c.aspect;
    }
}

TEST(SocialRender, BackgroundsHaveTheirDisplayNames)
{
    EXPECT_EQ(socialBackgroundDisplayName(SocialBackground::TresselRings), "Tressel Rings");
    EXPECT_EQ(socialBackgroundDisplayName(SocialBackground::SpectralFlux), "Spectral Flux");
    EXPECT_EQ(socialBackgroundDisplayName(SocialBackground::VectorBloom), "Vector Bloom");
    EXPECT_EQ(socialBackgroundDisplayName(static_cast<SocialBackground>(9)), "Tressel Rings");
    EXPECT_EQ(static_cast<int>(SocialBackground::VectorBloom), 2);
}

TEST(SocialRender, VisualInputsSmoothTwentyTwoPercentPerTick)
{
    ScopeVisualInputs smoothed, current;
    current.parameters[ScopeVisualInputs::mix] = 1.0f;
    current.meters[ScopeVisualInputs::chaosPeak] = 0.5f;
    smoothed.smoothTowards(current);
    EXPECT_FLOAT_EQ(smoothed.parameter(ScopeVisualInputs::mix), 0.22f);
    EXPECT_FLOAT_EQ(smoothed.meter(ScopeVisualInputs::chaosPeak), 0.11f);
    smoothed.smoothTowards(current);
    EXPECT_FLOAT_EQ(smoothed.parameter(ScopeVisualInputs::mix), 0.22f + 0.78f * 0.22f);
    EXPECT_EQ(ScopeVisualInputs::numParameters + ScopeVisualInputs::numMeters, 33);
}

TEST(SocialRender, HtmlEscapeReplacesAmpersandFirst)
{
    struct Case
    {
        const char* in;
        const char* out;
    };
    for (const auto& c :
         {Case{"a&b", "a&amp;b"}, Case{"<x>", "&lt;x&gt;"}, Case{"&lt;", "&amp;lt;"},
          Case{"\"q\" 'r'", "&quot;q&quot; &#39;r&#39;"}, Case{"plain", "plain"}, Case{"", ""}})
        EXPECT_EQ(htmlEscape(c.in), juce::String(c.out)) << c.in;
}

TEST(SocialRender, AnalysisHopAndFrameCountFollowTheLength)
{
    struct Case
    {
        double rate;
        int frames;
        int hop, analysisFrames;
    };
    for (const auto& c : {Case{48000.0, 48000 * 15, 4800, 150}, Case{44100.0, 1, 4410, 1},
                          Case{48000.0, 4801, 4800, 2}, Case{48000.0, 48000 * 60 * 15, 7200, 6000}})
    {
        const auto analysis = analysePreviewAudio(silence(1, c.frames), c.rate);
        EXPECT_EQ(analysis.hopFrames, c.hop) << c.frames;
        EXPECT_EQ(analysis.frames, c.analysisFrames) << c.frames;
        EXPECT_EQ(analysis.data.size(), static_cast<size_t>(c.analysisFrames) * 96) << c.frames;
    }
}

TEST(SocialRender, SilenceGivesZeroSpectrumAndMidWaveform)
{
    const auto analysis = analysePreviewAudio(silence(2, 48000), 48000.0);
    ASSERT_EQ(analysis.frames, 10);
    for (int f = 0; f < analysis.frames; ++f)
        for (int b = 0; b < 96; ++b)
            ASSERT_EQ(analysis.data[static_cast<size_t>(f * 96 + b)], b < 32 ? 0 : 128) << f << " " << b;
}

TEST(SocialRender, SpectrumByteIsTheRootOfTheScaledDftMagnitude)
{
    // Four whole cycles in each 256-sample window put all energy into term 4 (byte 3): |X| = 128 A.
    const auto analysis = analysePreviewAudio(sine(2, 4800 * 3, 4.0, 0.36f), 48000.0);
    ASSERT_EQ(analysis.frames, 3);
    for (int f = 0; f < analysis.frames; ++f)
        for (int k = 0; k < 32; ++k)
            EXPECT_EQ(analysis.data[static_cast<size_t>(f * 96 + k)], k == 3 ? 153 : 0) << f << " " << k;
    // The waveform bytes follow the mono mix in time order.
    for (int j = 0; j < 64; ++j)
    {
        const double sample = 0.36 * std::sin(juce::MathConstants<double>::twoPi * 4.0 * (j * 4) / 256.0);
        EXPECT_NEAR(analysis.data[static_cast<size_t>(32 + j)], (0.5 + 0.5 * sample) * 255.0, 0.51) << j;
    }
}

TEST(SocialRender, PageCarriesTheStructureTextsAndData)
{
    SocialExportOptions options;
    options.title = "Night Shift";
    options.creator = "Ada";
    options.aspect = 0;
    options.background = SocialBackground::SpectralFlux;
    const auto audio = sine(2, 48000 * 15, 3.0, 0.5f);
    const auto page = createPreviewHtml(options, audio, 48000.0);

    EXPECT_TRUE(page.startsWith("<!doctype html><meta charset=\"utf-8\"><meta name=\"viewport\" "
                                "content=\"width=device-width\"><title>Night Shift</title><style>"));
    EXPECT_TRUE(page.contains("aspect-ratio:9 / 16;margin:auto;"));
    EXPECT_TRUE(page.contains("<section><h1>Night Shift</h1><p>Ada</p></section><audio controls "
                              "src=\"sorvane-teaser.wav\"></audio></main><script>"));
    EXPECT_TRUE(page.contains("const W=1080,H=1920,S=Math.min(W,H),CX=W/2,CY=H/2;c.width=W;c.height=H;"));
    EXPECT_TRUE(page.contains("const analysisHop=0.100000000000,analysisFrames=150,analysis="));
    EXPECT_TRUE(page.contains("const mode='spectral';let data=new Uint8Array(32)"));
    EXPECT_TRUE(page.endsWith("else rings(t,e)}draw(0)</script>"));
    EXPECT_FALSE(page.containsAnyOf("\r\n"));

    juce::MemoryOutputStream decoded;
    ASSERT_TRUE(juce::Base64::convertFromBase64(decoded, between(page, "atob('", "')")));
    const auto analysis = analysePreviewAudio(audio, 48000.0);
    ASSERT_EQ(decoded.getDataSize(), analysis.data.size());
    EXPECT_EQ(std::memcmp(decoded.getData(), analysis.data.data(), analysis.data.size()), 0);
}

TEST(SocialRender, PageRatioAndModeFollowTheOptions)
{
    struct Case
    {
        int aspect;
        SocialBackground background;
        const char* ratio;
        const char* size;
        const char* mode;
    };
    for (const auto& c : {Case{0, SocialBackground::TresselRings, "9 / 16", "W=1080,H=1920", "rings"},
                          Case{1, SocialBackground::VectorBloom, "1 / 1", "W=1080,H=1080", "vector"},
                          Case{2, SocialBackground::SpectralFlux, "16 / 9", "W=1920,H=1080", "spectral"},
                          Case{5, static_cast<SocialBackground>(-3), "16 / 9", "W=1920,H=1080", "rings"}})
    {
        SocialExportOptions options;
        options.aspect = c.aspect;
        options.background = c.background;
        const auto page = createPreviewHtml(options, sine(1, 4800, 2.0, 0.3f), 48000.0);
        EXPECT_TRUE(page.contains(juce::String("main{width:min(100vw,100vh*") + c.ratio +
                                  ");aspect-ratio:" + c.ratio + ";margin:auto;"))
            << c.aspect;
        EXPECT_TRUE(page.contains(juce::String("const ") + c.size + ",")) << c.aspect;
        EXPECT_TRUE(page.contains(juce::String("const mode='") + c.mode + "';")) << c.aspect;
    }
}

TEST(SocialRender, EmptyTitleBecomesSorvaneAndCreatorIsEscapedUntrimmed)
{
    SocialExportOptions options;
    options.creator = " Tom & Jerry <live> ";
    const auto page = createPreviewHtml(options, silence(1, 100), 48000.0);
    EXPECT_TRUE(page.contains("<title>SORVANE</title>"));
    EXPECT_TRUE(page.contains("<h1>SORVANE</h1>"));
    EXPECT_TRUE(page.contains("<p> Tom &amp; Jerry &lt;live&gt; </p>"));
}

TEST(SocialRender, AudioThePageCannotAnalyseGivesNoDataAndValidNumbers)
{
    struct Case
    {
        int channels, frames;
        double rate;
    };
    for (const auto& c : {Case{2, 0, 48000.0}, Case{0, 0, 48000.0}, Case{2, 1000, 0.0}, Case{2, 1000, -1.0},
                          Case{2, 1000, std::numeric_limits<double>::infinity()},
                          Case{2, 1000, std::numeric_limits<double>::quiet_NaN()}})
    {
        const auto page = createPreviewHtml({}, juce::AudioBuffer<float>(c.channels, c.frames), c.rate);
        const auto hop = between(page, "const analysisHop=", ",");
        EXPECT_TRUE(hop.containsOnly("0123456789.")) << hop;
        EXPECT_GT(hop.getDoubleValue(), 0.0);
        EXPECT_TRUE(page.contains(",analysisFrames=0,analysis=Uint8Array.from(atob(''),")) << c.frames;
    }
}

TEST(SocialRender, HostileTextStaysInsideItsElements)
{
    const juce::String longName = juce::String::repeatedString("<&\"'>", 4000);
    const char invalidUtf8[] = {'A', static_cast<char>(0xC3), static_cast<char>(0x28), 'B', 0};
    for (const auto& text :
         {juce::String("</title><script>alert(1)</script>"), juce::String("'); alert(1); ('"),
          juce::String("a\"b\" onload=\"x"), longName, juce::String::fromUTF8(invalidUtf8),
          juce::String("line\r\nbreak </p></section>")})
    {
        SocialExportOptions options;
        options.title = text;
        options.creator = text;
        options.dna = text;
        options.personality = text;
        const auto page = createPreviewHtml(options, silence(1, 480), 48000.0);
        const auto escaped = htmlEscape(text);
        EXPECT_FALSE(escaped.containsAnyOf("<>\"'"));
        EXPECT_TRUE(page.contains("<title>" + escaped + "</title>"));
        EXPECT_TRUE(page.contains("<h1>" + escaped + "</h1><p>" + escaped + "</p></section>"));
        // Exactly the page's own script and markup remain, in the bytes that are written.
        const auto bytes = page.toStdString();
        for (const char* tag : {"<script>", "</title>", "</section>", "<h1>"})
            EXPECT_EQ(bytes.find(tag), bytes.rfind(tag)) << tag;
    }
}

TEST(SocialRender, PreviewFileHasCrLfLineEndsOnly)
{
    test::ExportFolder folder;
    SocialExportOptions options;
    options.title = "one\ntwo\r\nthree\rfour";
    const auto file = folder.dir.getChildFile("preview.html");
    ASSERT_TRUE(file.replaceWithText("old"));
    ASSERT_TRUE(writePreviewHtml(createPreviewHtml(options, silence(1, 480), 48000.0), file));
    juce::MemoryBlock bytes;
    ASSERT_TRUE(file.loadFileAsData(bytes));
    const auto text = bytes.toString();
    EXPECT_TRUE(text.contains("<title>one\r\ntwo\r\nthree\r\nfour</title>"));
    EXPECT_EQ(text.replace("\r\n", "").indexOfAnyOf("\r\n"), -1);
    EXPECT_EQ(folder.dir.getNumberOfChildFiles(juce::File::findFilesAndDirectories, "*"), 1);
    EXPECT_FALSE(writePreviewHtml("x", folder.dir.getChildFile("missing").getChildFile("preview.html")));
}

TEST(SocialRender, ReactiveLevelIsTheEarlyPeakScaled)
{
    struct Case
    {
        float early, late;
        double rate;
        float level;
    };
    // 50 ms at 1,000 Hz is 50 frames: a peak at frame 49 counts, one at frame 50 does not.
    for (const auto& c :
         {Case{0.2f, 0.0f, 1000.0, 0.34f}, Case{0.0f, 0.9f, 1000.0, 0.0f}, Case{-0.4f, 0.0f, 1000.0, 0.68f},
          Case{0.9f, 0.0f, 1000.0, 1.0f}, Case{0.2f, 0.0f, 0.0, 0.0f}})
    {
        juce::AudioBuffer<float> audio(2, 200);
        audio.clear();
        audio.setSample(1, 49, c.early);
        audio.setSample(0, 50, c.late);
        EXPECT_NEAR(coverReactiveLevel(audio, c.rate), c.level, 1.0e-6f) << c.early << " " << c.late;
    }
    EXPECT_EQ(coverReactiveLevel(silence(2, 0), 48000.0), 0.0f);
}

TEST(SocialRender, VisualEnergyWeighsMixAndMeters)
{
    ScopeVisualInputs in;
    EXPECT_FLOAT_EQ(coverVisualEnergy(in), 0.0f);
    in.parameters[ScopeVisualInputs::mix] = 1.0f;
    EXPECT_FLOAT_EQ(coverVisualEnergy(in), 0.1f);
    in.meters[ScopeVisualInputs::spectralRateLevel] = 1.0f;
    in.parameters[ScopeVisualInputs::chaos] = 1.0f;
    // chaos also lifts the mean of the first 23 values by 1 / 23.
    EXPECT_NEAR(coverVisualEnergy(in), 0.1 + 0.4 / 23.0 + 0.2 + 0.16, 1.0e-6);
    in.parameters[ScopeVisualInputs::mix] = 3.0f;
    EXPECT_NEAR(coverVisualEnergy(in), 0.1 + 0.4 / 23.0 + 0.2 + 0.16, 1.0e-6);
}

TEST(SocialRender, CoverHasTheProfileSizeAndTheGradientCorners)
{
    for (int aspect = 0; aspect < 3; ++aspect)
        for (int background = 0; background < 3; ++background)
        {
            SocialExportOptions options;
            options.aspect = aspect;
            options.background = static_cast<SocialBackground>(background);
            const auto image = renderFrame(sine(2, 48000, 2.0, 0.5f), 48000.0, {}, options);
            const auto profile = socialAspectProfile(aspect);
            ASSERT_EQ(image.getWidth(), profile.width);
            ASSERT_EQ(image.getHeight(), profile.height);
            EXPECT_EQ(image.getFormat(), juce::Image::ARGB);
            // The top corners lie above the beams' apex: only the corner-to-corner gradient shows there.
            const double w = profile.width, h = profile.height;
            const auto expectedTopRight =
                juce::Colour(0xFF040519u)
                    .interpolatedWith(juce::Colour(0xFF190F46u), float(w * w / (w * w + h * h)));
            const auto topLeft = image.getPixelAt(0, 0);
            const auto topRight = image.getPixelAt(profile.width - 1, 0);
            EXPECT_LE(std::abs(topLeft.getRed() - 0x04) + std::abs(topLeft.getBlue() - 0x19), 3) << aspect;
            EXPECT_LE(std::abs(topRight.getRed() - expectedTopRight.getRed()) +
                          std::abs(topRight.getGreen() - expectedTopRight.getGreen()) +
                          std::abs(topRight.getBlue() - expectedTopRight.getBlue()),
                      4)
                << aspect;
            EXPECT_EQ(topLeft.getAlpha(), 255);
            // The magenta bar below the tagline.
            const auto bar =
                image.getPixelAt(profile.width / 2, juce::roundToInt(0.92 * profile.height + 1.5));
            EXPECT_EQ(bar, juce::Colour(0xFFFF23C5u)) << aspect;
        }
}

TEST(SocialRender, CoverDiffersWithTheBackgroundAndWithTheTitle)
{
    const auto audio = sine(2, 48000, 2.0, 0.5f);
    auto render = [&](SocialBackground background, const juce::String& title)
    {
        SocialExportOptions options;
        options.aspect = 1;
        options.background = background;
        options.title = title;
        return renderFrame(audio, 48000.0, {}, options);
    };
    auto differing = [](const juce::Image& a, const juce::Image& b, juce::Rectangle<int> area)
    {
        int count = 0;
        for (int y = area.getY(); y < area.getBottom(); y += 2)
            for (int x = area.getX(); x < area.getRight(); x += 2)
                count += a.getPixelAt(x, y) != b.getPixelAt(x, y) ? 1 : 0;
        return count;
    };
    const auto rings = render(SocialBackground::TresselRings, {});
    const juce::Rectangle<int> middle(200, 300, 680, 480);
    EXPECT_GT(differing(rings, render(SocialBackground::SpectralFlux, {}), middle), 1000);
    EXPECT_GT(differing(rings, render(SocialBackground::VectorBloom, {}), middle), 1000);
    const juce::Rectangle<int> titleArea(92, 59, 896, 108);
    EXPECT_EQ(differing(rings, render(SocialBackground::TresselRings, "SORVANE"), titleArea), 0);
    EXPECT_GT(differing(rings, render(SocialBackground::TresselRings, "WWWWWW"), titleArea), 100);
}

TEST(SocialRender, CoverOfEmptyOrBrokenAudioStillRenders)
{
    SocialExportOptions options;
    options.creator = juce::String::repeatedString("very long creator name ", 200);
    for (const auto& audio : {juce::AudioBuffer<float>(), juce::AudioBuffer<float>(2, 0), silence(1, 10)})
    {
        const auto image = renderFrame(audio, 48000.0, {}, options);
        EXPECT_EQ(image.getWidth(), 1080);
        EXPECT_EQ(image.getHeight(), 1920);
    }
    juce::AudioBuffer<float> broken(1, 4800);
    broken.clear();
    broken.setSample(0, 3, std::numeric_limits<float>::quiet_NaN());
    broken.setSample(0, 4000, std::numeric_limits<float>::infinity());
    EXPECT_EQ(coverReactiveLevel(broken, 48000.0), 0.0f);
    EXPECT_EQ(renderFrame(broken, 48000.0, {}, options).getWidth(), 1080);
}

TEST(SocialRender, CoverPngHasTheProfileSizeForAnIndependentReader)
{
    test::ExportFolder folder;
    const auto script = folder.dir.getChildFile("ihdr.py");
    script.replaceWithText("import struct, sys, zlib\n"
                           "d = open(sys.argv[1], 'rb').read()\n"
                           "assert d[:8] == b'\\x89PNG\\r\\n\\x1a\\n'\n"
                           "length, kind = struct.unpack('>I4s', d[8:16])\n"
                           "body = d[16:16 + length]\n"
                           "crc = struct.unpack('>I', d[16 + length:20 + length])[0]\n"
                           "assert kind == b'IHDR' and zlib.crc32(kind + body) == crc\n"
                           "w, h, depth, colour = struct.unpack('>IIBB', body[:10])\n"
                           "print(w, h, depth, colour)\n");
    for (int aspect = 0; aspect < 3; ++aspect)
    {
        SocialExportOptions options;
        options.aspect = aspect;
        const auto file = folder.dir.getChildFile("sorvane-cover-" + juce::String(aspect) + ".png");
        ASSERT_TRUE(writePng(renderFrame(sine(2, 4800, 2.0, 0.5f), 48000.0, {}, options), file));
        juce::ChildProcess python;
        ASSERT_TRUE(
            python.start(juce::StringArray{SORVANE_PYTHON, script.getFullPathName(), file.getFullPathName()},
                         juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr));
        const auto output = python.readAllProcessOutput().trim();
        python.waitForProcessToFinish(60000);
        const auto profile = socialAspectProfile(aspect);
        EXPECT_EQ(output, juce::String(profile.width) + " " + juce::String(profile.height) + " 8 6")
            << aspect;
    }
    EXPECT_FALSE(folder.dir.getChildFile(".sorvane-cover-0.png.tmp").exists());
    EXPECT_FALSE(writePng(juce::Image(juce::Image::ARGB, 4, 4, true),
                          folder.dir.getChildFile("missing").getChildFile("sorvane-cover.png")));
}
} // namespace sorvane
