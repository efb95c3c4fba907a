#include "app/ReleaseCommandLine.h"

#include <gtest/gtest.h>

namespace
{
const juce::File workingDirectory("/work-dir");

struct CommandLineCase
{
    const char* description;
    const char* commandLine;
    const char* smoke;
    const char* instanceOwner;
    const char* workflow;
};

juce::String pathOrEmpty(const juce::File& file)
{
    return file == juce::File() ? juce::String() : file.getFullPathName();
}
} // namespace

TEST(ReleaseCommandLine, ParsesTheReportOptionsAsDocumented)
{
    const CommandLineCase cases[] = {
        {"nothing", "", "", "", ""},
        {"smoke, lower case", "--release-smoke-report=/tmp/a.json", "/tmp/a.json", "", ""},
        {"smoke, capitals", "--RELEASE-SMOKE-REPORT=/tmp/a.json", "/tmp/a.json", "", ""},
        {"mixed case, value keeps its case", "--Release-Instance-Owner-Report=/Tmp/Owner.JSON", "",
         "/Tmp/Owner.JSON", ""},
        {"all three",
         "--release-workflow-report=/w.json --release-smoke-report=/s.json "
         "--release-instance-owner-report=/o.json",
         "/s.json", "/o.json", "/w.json"},
        {"quoted value with spaces", "--release-smoke-report=\"/tmp/with space/r.json\"",
         "/tmp/with space/r.json", "", ""},
        {"whole token quoted, as JUCE passes an argument with spaces",
         "\"--release-smoke-report=/tmp/with space/r.json\"", "/tmp/with space/r.json", "", ""},
        {"later token replaces earlier",
         "--release-smoke-report=/first.json --RELEASE-SMOKE-REPORT=/second.json", "/second.json", "", ""},
        {"tabs, newlines and carriage returns separate",
         "--release-smoke-report=/s.json\t--release-workflow-report=/"
         "w.json\r\n--release-instance-owner-report=/o.json",
         "/s.json", "/o.json", "/w.json"},
        {"unknown tokens ignored",
         "-NSDocumentRevisionsDebugMode YES --release-smoke-reports /x.json "
         "release-smoke-report=/y.json --release-smoke-report-x=/z.json",
         "", "", ""},
        {"relative path taken from the working directory", "--release-smoke-report=reports/s.json",
         "/work-dir/reports/s.json", "", ""},
        {"empty value means not requested", "--release-smoke-report=/a.json --release-smoke-report=", "", "",
         ""},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.description);
        const auto parsed = sorvane::parseReleaseCommandLine(c.commandLine, workingDirectory);
        EXPECT_EQ(pathOrEmpty(parsed.smokeReportFile), juce::String(c.smoke));
        EXPECT_EQ(pathOrEmpty(parsed.instanceOwnerReportFile), juce::String(c.instanceOwner));
        EXPECT_EQ(pathOrEmpty(parsed.workflowReportFile), juce::String(c.workflow));
    }
}
