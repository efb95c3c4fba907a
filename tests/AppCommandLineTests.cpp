#include "app/AppCommandLine.h"

#include <gtest/gtest.h>

namespace
{
const juce::File workingDirectory("/home/user/music");

juce::String pathOrEmpty(const juce::File& file)
{
    return file == juce::File() ? juce::String() : file.getFullPathName();
}
} // namespace

TEST(AppCommandLine, ParsesHelpVersionAndTheSourceFile)
{
    struct Case
    {
        const char* description;
        const char* commandLine;
        bool help, version;
        const char* source;
        const char* unknown;
        const char* smoke;
    };
    const Case cases[] = {
        {"nothing", "", false, false, "", "", ""},
        {"long help", "--help", true, false, "", "", ""},
        {"short help", "-h", true, false, "", "", ""},
        {"long version in capitals", "--VERSION", false, true, "", "", ""},
        {"short version", "-v", false, true, "", "", ""},
        {"short options keep their case", "-H -V", false, false, "", "-H -V", ""},
        {"both", "-v --help", true, true, "", "", ""},
        {"relative file", "loops/beat.wav", false, false, "/home/user/music/loops/beat.wav", "", ""},
        {"absolute file", "/tmp/a.wav", false, false, "/tmp/a.wav", "", ""},
        {"quoted file with spaces, as JUCE passes it", "\"/tmp/my loops/a b.wav\"", false, false,
         "/tmp/my loops/a b.wav", "", ""},
        {"the last file wins", "/tmp/a.wav /tmp/b.wav", false, false, "/tmp/b.wav", "", ""},
        {"a file beside the release options",
         "--release-smoke-report=/r/s.json \"/tmp/x y.flac\" --release-smoke-reports", false, false,
         "/tmp/x y.flac", "", "/r/s.json"},
        {"unknown options are kept for a warning, not taken as files", "--fullscreen -x /tmp/a.wav", false,
         false, "/tmp/a.wav", "--fullscreen -x", ""},
        {"after -- a dash starts a file name", "-- -odd.wav", false, false, "/home/user/music/-odd.wav", "",
         ""},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.description);
        const auto parsed = sorvane::parseAppCommandLine(c.commandLine, workingDirectory);
        EXPECT_EQ(parsed.helpRequested, c.help);
        EXPECT_EQ(parsed.versionRequested, c.version);
        EXPECT_EQ(parsed.isInformationRequest(), c.help || c.version);
        EXPECT_EQ(pathOrEmpty(parsed.sourceFile), juce::String(c.source));
        EXPECT_EQ(parsed.unknownOptions.joinIntoString(" "), juce::String(c.unknown));
        EXPECT_EQ(pathOrEmpty(parsed.release.smokeReportFile), juce::String(c.smoke));
    }
}

TEST(AppCommandLine, TheRunningInstanceGetsAbsolutePathsThatParseToTheSameFile)
{
    struct Case
    {
        const char* commandLine;
        const char* forwarded;
    };
    const Case cases[] = {
        {"", ""},
        {"beat.wav", "/home/user/music/beat.wav"},
        {"\"my loops/a b.wav\"", "\"/home/user/music/my loops/a b.wav\""},
        {"--release-smoke-report=r.json ../x.ogg", "--release-smoke-report=r.json /home/user/x.ogg"},
        {"/abs/z.wav -v", "/abs/z.wav -v"},
        {"-- -odd.wav", "-- /home/user/music/-odd.wav"},
    };

    const juce::File otherDirectory("/somewhere/else");
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.commandLine);
        const auto forwarded = sorvane::commandLineForRunningInstance(c.commandLine, workingDirectory);
        EXPECT_EQ(forwarded, juce::String(c.forwarded));

        // The running instance resolves against its own directory; absolute paths make that moot.
        EXPECT_EQ(sorvane::parseAppCommandLine(forwarded, otherDirectory).sourceFile,
                  sorvane::parseAppCommandLine(c.commandLine, workingDirectory).sourceFile);
    }
}

TEST(AppCommandLine, VersionAndUsageTexts)
{
    EXPECT_EQ(sorvane::versionText(), "Sorvane 2.13.3");
    const auto usage = sorvane::usageText();
    EXPECT_TRUE(usage.startsWith("Usage: sorvane [options] [audio file]\n")) << usage;
    for (auto* option : {"-h, --help", "-v, --version", sorvane::smokeReportOption,
                         sorvane::instanceOwnerReportOption, sorvane::workflowReportOption})
        EXPECT_TRUE(usage.contains(option)) << option;
    EXPECT_TRUE(usage.endsWithChar('\n'));
}
