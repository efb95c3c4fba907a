#include "app/ReleaseReports.h"

#include <unistd.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace
{
struct TemporaryFolder
{
    TemporaryFolder()
        : folder(juce::File::getSpecialLocation(juce::File::tempDirectory)
                     .getNonexistentChildFile("sorvane-report-test-" + juce::String((int)::getpid()), "", false))
    {
        folder.createDirectory();
    }
    ~TemporaryFolder() { folder.deleteRecursively(); }

    juce::File folder;
};

// Keys in file order with their JSON type, read back from the written text.
std::vector<std::pair<juce::String, juce::String>> keysAndTypes(const juce::var& parsed)
{
    std::vector<std::pair<juce::String, juce::String>> result;
    if (auto* object = parsed.getDynamicObject())
        for (const auto& property : object->getProperties())
        {
            const auto& v = property.value;
            const juce::String type = v.isBool()                 ? "bool"
                                      : v.isInt() || v.isInt64() ? "int"
                                      : v.isString()             ? "string"
                                                                 : "other";
            result.emplace_back(property.name.toString(), type);
        }
    return result;
}

void expectCrLfOnly(const juce::String& text)
{
    ASSERT_TRUE(text.contains("\r\n"));
    for (int i = 0; i < text.length(); ++i)
    {
        if (text[i] == '\n')
        {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare line feed at " << i;
        }
        else if (text[i] == '\r')
        {
            ASSERT_TRUE(i + 1 < text.length() && text[i + 1] == '\n') << "bare carriage return at " << i;
        }
    }
}
} // namespace

TEST(ReleaseReports, SmokeReportHasTheDocumentedKeysTypesAndVerdict)
{
    struct Case
    {
        bool windowVisible, processorReady;
        int windows;
        bool pass;
    };
    const Case cases[] = {
        {true, true, 1, true}, {false, true, 0, false}, {true, false, 2, false}, {false, false, 0, false}};

    for (const auto& c : cases)
    {
        SCOPED_TRACE(juce::String("window ") + (c.windowVisible ? "visible" : "hidden") + ", processor " +
                     (c.processorReady ? "ready" : "missing"));
        const auto text =
            sorvane::reportText(sorvane::buildSmokeReport({c.windowVisible, c.processorReady, c.windows}));
        const auto parsed = juce::JSON::parse(text);

        const std::vector<std::pair<juce::String, juce::String>> expected = {
            {"schemaVersion", "int"},        {"product", "string"},
            {"version", "string"},           {"windowVisible", "bool"},
            {"processorReady", "bool"},      {"topLevelWindowCount", "int"},
            {"normalQuitRequested", "bool"}, {"pass", "bool"}};
        EXPECT_EQ(keysAndTypes(parsed), expected);

        EXPECT_EQ((int)parsed["schemaVersion"], 1);
        EXPECT_EQ(parsed["product"].toString(), "Sorvane");
        EXPECT_EQ(parsed["version"].toString(), "2.13.3");
        EXPECT_EQ((bool)parsed["windowVisible"], c.windowVisible);
        EXPECT_EQ((bool)parsed["processorReady"], c.processorReady);
        EXPECT_EQ((int)parsed["topLevelWindowCount"], c.windows);
        EXPECT_TRUE((bool)parsed["normalQuitRequested"]);
        EXPECT_EQ((bool)parsed["pass"], c.pass);
        expectCrLfOnly(text);
    }
}

TEST(ReleaseReports, InstancePolicyReportPassesOnlyWhenFinalReadyAndObserved)
{
    struct Case
    {
        bool windowVisible, processorReady, observed, final;
        bool ownerReady, focused, pass;
    };
    const Case cases[] = {
        {true, true, true, true, true, true, true},     {true, true, false, true, true, false, false},
        {true, true, true, false, true, true, false},   {true, true, false, false, true, false, false},
        {false, true, true, true, false, false, false}, {true, false, true, true, false, true, false},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(juce::String("visible ") + juce::String((int)c.windowVisible) + " ready " +
                     juce::String((int)c.processorReady) + " observed " + juce::String((int)c.observed) +
                     " final " + juce::String((int)c.final));
        const auto text = sorvane::reportText(
            sorvane::buildInstancePolicyReport({c.windowVisible, c.processorReady, 1}, c.observed, c.final));
        const auto parsed = juce::JSON::parse(text);

        const std::vector<std::pair<juce::String, juce::String>> expected = {
            {"schemaVersion", "int"},
            {"product", "string"},
            {"version", "string"},
            {"policy", "string"},
            {"ownerReady", "bool"},
            {"anotherInstanceObserved", "bool"},
            {"existingWindowFocused", "bool"},
            {"final", "bool"},
            {"pass", "bool"}};
        EXPECT_EQ(keysAndTypes(parsed), expected);

        EXPECT_EQ(parsed["policy"].toString(), "single-instance-focus-existing");
        EXPECT_EQ((bool)parsed["ownerReady"], c.ownerReady);
        EXPECT_EQ((bool)parsed["anotherInstanceObserved"], c.observed);
        EXPECT_EQ((bool)parsed["existingWindowFocused"], c.focused);
        EXPECT_EQ((bool)parsed["final"], c.final);
        EXPECT_EQ((bool)parsed["pass"], c.pass);
        expectCrLfOnly(text);
    }
}

TEST(ReleaseReports, WriteCreatesMissingFoldersAndLeavesOnlyTheReport)
{
    TemporaryFolder temp;
    const auto target = temp.folder.getChildFile("nested/deeper/smoke.json");
    const auto report = sorvane::buildSmokeReport({true, true, 1});

    juce::String error;
    ASSERT_TRUE(sorvane::writeReportFile(target, report, error)) << error;
    EXPECT_TRUE(error.isEmpty());

    juce::MemoryBlock bytes;
    ASSERT_TRUE(target.loadFileAsData(bytes));
    EXPECT_EQ(bytes.toString(), sorvane::reportText(report));

    const auto siblings = target.getParentDirectory().findChildFiles(
        juce::File::findFilesAndDirectories | juce::File::ignoreHiddenFiles, false, "*");
    const auto hidden =
        target.getParentDirectory().findChildFiles(juce::File::findFilesAndDirectories, false, ".*");
    EXPECT_EQ(siblings.size(), 1);
    EXPECT_EQ(hidden.size(), 0);
}

TEST(ReleaseReports, ReplacingAReportSwapsTheFileInOneRename)
{
    TemporaryFolder temp;
    const auto target = temp.folder.getChildFile("owner.json");
    juce::String error;
    ASSERT_TRUE(sorvane::writeReportFile(
        target, sorvane::buildInstancePolicyReport({true, true, 1}, false, false), error))
        << error;

    // A reader holding the first report keeps reading the old file: the new one is a different inode
    // moved over the name, never the old one truncated and rewritten.
    struct stat before = {};
    ASSERT_EQ(::stat(target.getFullPathName().toRawUTF8(), &before), 0);
    juce::FileInputStream oldReader(target);
    ASSERT_TRUE(oldReader.openedOk());

    ASSERT_TRUE(sorvane::writeReportFile(
        target, sorvane::buildInstancePolicyReport({true, true, 1}, true, true), error))
        << error;

    struct stat after = {};
    ASSERT_EQ(::stat(target.getFullPathName().toRawUTF8(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_FALSE((bool)juce::JSON::parse(oldReader.readEntireStreamAsString())["final"]);
    EXPECT_TRUE((bool)juce::JSON::parse(target.loadFileAsString())["final"]);
    EXPECT_EQ(temp.folder.getNumberOfChildFiles(juce::File::findFilesAndDirectories, "*"), 1);
}

TEST(ReleaseReports, AFolderThatCannotBeCreatedFailsWithASentence)
{
    TemporaryFolder temp;
    const auto blocker = temp.folder.getChildFile("blocker");
    ASSERT_TRUE(blocker.replaceWithText("a file where a folder is needed"));

    const juce::File targets[] = {blocker.getChildFile("report.json"),
                                  blocker.getChildFile("sub/report.json")};
    for (const auto& target : targets)
    {
        SCOPED_TRACE(target.getFullPathName());
        juce::String error;
        EXPECT_FALSE(sorvane::writeReportFile(target, sorvane::buildSmokeReport({true, true, 1}), error));
        EXPECT_TRUE(error.startsWith("Could not")) << error;
        EXPECT_TRUE(error.endsWithChar('.')) << error;
        EXPECT_TRUE(error.contains(blocker.getFullPathName())) << error;
    }
    EXPECT_EQ(blocker.loadFileAsString(), "a file where a folder is needed");
    EXPECT_EQ(temp.folder.getNumberOfChildFiles(juce::File::findFilesAndDirectories, "*"), 1);
}
