#include "social/FrameRenderer.h"
#include "social/PreviewPage.h"
#include "social/SocialExporter.h"

#include "SocialTestSupport.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_graphics/juce_graphics.h>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

// The preview page in Debian's headless Chromium with every host name unresolvable, so a page that
// reached for the network would fail to show. Screenshots stay in the build folder for review.
namespace sorvane
{
namespace
{
const juce::File previewFolder{SORVANE_SOCIAL_PREVIEW_DIR};

juce::File findChromium()
{
    for (const auto* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"})
        if (juce::File(path).existsAsFile())
            return juce::File(path);
    return {};
}

juce::AudioBuffer<float> teaserAudio(double seconds)
{
    constexpr double rate = 48000.0;
    juce::AudioBuffer<float> audio(2, static_cast<int>(rate * seconds));
    for (int i = 0; i < audio.getNumSamples(); ++i)
    {
        const auto v =
            0.4f * static_cast<float>(std::sin(juce::MathConstants<double>::twoPi * 330.0 * i / rate));
        audio.setSample(0, i, v);
        audio.setSample(1, i, v);
    }
    return audio;
}

struct BrowserRun
{
    juce::String output;
    int exitCode = -1;
};

BrowserRun runChromium(const juce::File& page, const juce::StringArray& extra, int virtualTimeMs)
{
    // One profile per package: two browsers sharing one would hand the page to each other.
    const auto profile = page.getParentDirectory().getChildFile("chromium-profile");
    juce::StringArray args{findChromium().getFullPathName(),
                           "--headless=new",
                           "--no-sandbox",
                           "--disable-gpu",
                           "--allow-file-access-from-files",
                           "--host-resolver-rules=MAP * ~NOTFOUND",
                           "--no-first-run",
                           "--enable-logging=stderr",
                           "--v=0",
                           "--user-data-dir=" + profile.getFullPathName(),
                           "--virtual-time-budget=" + juce::String(virtualTimeMs)};
    args.addArray(extra);
    args.add(juce::URL(page).toString(false));
    BrowserRun run;
    juce::ChildProcess chromium;
    if (!chromium.start(args, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        return run;
    run.output = chromium.readAllProcessOutput();
    if (chromium.waitForProcessToFinish(120000))
        run.exitCode = static_cast<int>(chromium.getExitCode());
    else
        chromium.kill();
    return run;
}

// The product page stays as written; the copy gains an error collector at the start of the head and a
// probe at the end that reports into the title, which --dump-dom prints.
juce::File probeCopy(const juce::File& page)
{
    const auto text = page.loadFileAsString();
    const auto collector =
        juce::String("<script>window.seenErrors=[];addEventListener('error',e=>seenErrors.push("
                     "String(e.message)),true)</script>");
    const auto probe = juce::String(
        "<script>function report(){let lit=0,d=g.getImageData(0,0,W,H).data;for(let i=3;i<d.length;i+=4*97)"
        "lit+=d[i]>0;document.title='PROBE src='+a.getAttribute('src')+' duration='+a.duration.toFixed(3)+"
        "' errors='+seenErrors.length+' '+seenErrors.join('|')+' lit='+(lit>0)}"
        "a.addEventListener('loadedmetadata',()=>setTimeout(report,200));"
        "a.addEventListener('error',()=>{seenErrors.push('audio failed');report()})</script>");
    const auto copy = page.getSiblingFile("probe.html");
    copy.replaceWithText(text.replace("<meta charset=\"utf-8\">", "<meta charset=\"utf-8\">" + collector) +
                         probe);
    return copy;
}

// A copy of the page that reports, in its title, the window's inner size, the document's scroll size
// and the audio element's box once the page has laid out.
juce::File geometryProbeCopy(const juce::File& page)
{
    const auto probe = juce::String(
        "<script>addEventListener('load',()=>setTimeout(()=>{const d=document.documentElement,"
        "b=a.getBoundingClientRect();document.title=['GEOMETRY',innerWidth,innerHeight,d.scrollWidth,"
        "d.scrollHeight,b.left,b.top,b.right,b.bottom].join(' ')},100))</script>");
    const auto copy = page.getSiblingFile("geometry.html");
    copy.replaceWithText(page.loadFileAsString() + probe);
    return copy;
}

// The package exactly as the exporter writes it, without the video (the encoder is kept off the path).
juce::File writePackage(const juce::String& folderName, SocialExportOptions options)
{
    const auto folder = previewFolder.getChildFile(folderName);
    folder.deleteRecursively();
    const test::ScopedSearchPath path(previewFolder.getChildFile("no-encoder").getFullPathName());
    options.duration = 2;
    options.effectedOnly = true;
    ScopeVisualInputs visuals;
    visuals.parameters.fill(0.5f);
    std::atomic<float> progress{0.0f};
    std::atomic<bool> cancel{false};
    const auto result =
        SocialExporter::exportTeaser(folder, teaserAudio(2.5), 48000.0, visuals, options, &progress, &cancel);
    EXPECT_TRUE(result.success) << result.message;
    return folder.getChildFile("preview.html");
}

int differingPixels(const juce::Image& a, const juce::Image& b)
{
    int count = 0;
    for (int y = 0; y < std::min(a.getHeight(), b.getHeight()); y += 2)
        for (int x = 0; x < std::min(a.getWidth(), b.getWidth()); x += 2)
            count += a.getPixelAt(x, y) != b.getPixelAt(x, y) ? 1 : 0;
    return count;
}
} // namespace

TEST(SocialPreviewBrowser, PagePlaysTheTeaserWithoutErrorsEvenWithHostileText)
{
    ASSERT_TRUE(findChromium().existsAsFile()) << "chromium is not installed (scripts/common.sh installs it)";
    struct Case
    {
        const char* folder;
        juce::String title, creator;
        SocialBackground background;
    };
    const Case cases[] = {
        {"plain", "Night Shift", "Ada", SocialBackground::TresselRings},
        {"hostile", "</title><script>throw new Error('injected')</script>\"'&",
         "');throw 1;//<img src=x onerror=\"throw 2\">" + juce::String::repeatedString("&<>", 3000),
         SocialBackground::SpectralFlux},
        {"vector", "", "\xc3\x28 \xe2\x82", SocialBackground::VectorBloom},
    };
    for (const auto& c : cases)
    {
        SocialExportOptions options;
        options.title = c.title;
        options.creator = c.creator;
        options.aspect = 1;
        options.background = c.background;
        const auto page = probeCopy(writePackage(c.folder, options));
        const auto run = runChromium(page, {"--dump-dom"}, 4000);
        const auto title = run.output.fromFirstOccurrenceOf("<title>", false, false)
                               .upToFirstOccurrenceOf("</title>", false, false);
        EXPECT_TRUE(title.startsWith("PROBE src=sorvane-teaser.wav duration=2.500 errors=0 "))
            << c.folder << ": " << title;
        EXPECT_TRUE(title.endsWith("lit=true")) << c.folder << ": " << title;
        EXPECT_FALSE(run.output.contains("Uncaught")) << c.folder;
        EXPECT_FALSE(run.output.contains("ERR_NAME_NOT_RESOLVED")) << c.folder;
    }
}

TEST(SocialPreviewBrowser, RingsBackgroundAnimatesBetweenScreenshots)
{
    ASSERT_TRUE(findChromium().existsAsFile()) << "chromium is not installed (scripts/common.sh installs it)";
    SocialExportOptions options;
    options.title = "Moving Rings";
    options.creator = "Ada & Co";
    options.aspect = 1;
    const auto page = writePackage("rings", options);
    juce::Image shots[2];
    const int times[] = {400, 1700};
    for (int i = 0; i < 2; ++i)
    {
        const auto shot = previewFolder.getChildFile("preview-rings-" + juce::String(times[i]) + "ms.png");
        shot.deleteFile();
        const auto run = runChromium(
            page, {"--screenshot=" + shot.getFullPathName(), "--window-size=720,720", "--hide-scrollbars"},
            times[i]);
        ASSERT_TRUE(shot.existsAsFile()) << run.output;
        EXPECT_FALSE(run.output.contains("Uncaught")) << run.output;
        shots[i] = juce::ImageFileFormat::loadFrom(shot);
        ASSERT_TRUE(shots[i].isValid());
    }
    ASSERT_EQ(shots[0].getWidth(), 720);
    // The ring's radius moves with the animation time; the heading and the audio bar do not.
    EXPECT_GT(differingPixels(shots[0], shots[1]), 500);
    const juce::Rectangle<int> heading(100, 50, 520, 60);
    int headingChanges = 0;
    for (int y = heading.getY(); y < heading.getBottom(); ++y)
        for (int x = heading.getX(); x < heading.getRight(); ++x)
            headingChanges += shots[0].getPixelAt(x, y) != shots[1].getPixelAt(x, y) ? 1 : 0;
    EXPECT_LT(headingChanges, differingPixels(shots[0], shots[1]));
}

TEST(SocialPreviewBrowser, AudioControlsFitEveryWindowWithoutScrolling)
{
    ASSERT_TRUE(findChromium().existsAsFile()) << "chromium is not installed (scripts/common.sh installs it)";
    // The window's inner size, the document's scroll size and the audio box, as the probe reports them.
    const auto measure = [](const juce::File& page, int windowWidth, int windowHeight)
    {
        const auto run = runChromium(
            page,
            {"--dump-dom", "--window-size=" + juce::String(windowWidth) + "," + juce::String(windowHeight)},
            1500);
        const auto title = run.output.fromFirstOccurrenceOf("<title>", false, false)
                               .upToFirstOccurrenceOf("</title>", false, false);
        std::vector<double> values;
        const auto tokens = juce::StringArray::fromTokens(title, " ", {});
        if (tokens.size() == 9 && tokens[0] == "GEOMETRY")
            for (int i = 1; i < tokens.size(); ++i)
                values.push_back(tokens[i].getDoubleValue());
        return values;
    };

    const char* const aspects[] = {"9x16", "1x1", "16x9"};
    std::array<juce::File, 3> pages;
    for (int aspect = 0; aspect < 3; ++aspect)
    {
        SocialExportOptions options;
        options.title = "Fit Check";
        options.aspect = aspect;
        pages[static_cast<size_t>(aspect)] =
            geometryProbeCopy(writePackage(juce::String("fit-") + aspects[aspect], options));
    }

    // Headless Chromium keeps its toolbars (and a warning bar) inside the window: grow the window by
    // what it keeps, so the page itself gets the sizes of the table.
    const auto calibration = measure(pages[1], 1280, 800);
    ASSERT_EQ(calibration.size(), 8u);
    const int extraWidth = 1280 - static_cast<int>(calibration[0]);
    const int extraHeight = 800 - static_cast<int>(calibration[1]);

    struct Viewport
    {
        int width, height;
    };
    for (int aspect = 0; aspect < 3; ++aspect)
        for (const auto& viewport : {Viewport{1280, 800}, Viewport{800, 1280}, Viewport{1920, 1080}})
        {
            const auto where = juce::String(aspects[aspect]) + " in " + juce::String(viewport.width) + "x" +
                               juce::String(viewport.height);
            const auto v = measure(pages[static_cast<size_t>(aspect)], viewport.width + extraWidth,
                                   viewport.height + extraHeight);
            ASSERT_EQ(v.size(), 8u) << where;
            const double innerWidth = v[0], innerHeight = v[1];
            EXPECT_EQ(innerWidth, viewport.width) << where;
            EXPECT_EQ(innerHeight, viewport.height) << where;
            EXPECT_LE(v[2], innerWidth) << where << ": the page scrolls sideways";
            EXPECT_LE(v[3], innerHeight) << where << ": the page scrolls down";
            // The audio controls lie wholly inside the window and keep a usable size.
            EXPECT_GE(v[4], 0.0) << where;
            EXPECT_GE(v[5], 0.0) << where;
            EXPECT_LE(v[6], innerWidth) << where;
            EXPECT_LE(v[7], innerHeight) << where;
            EXPECT_GT(v[6] - v[4], 100.0) << where;
            EXPECT_GT(v[7] - v[5], 20.0) << where;
        }
}
} // namespace sorvane
