// Project files from outside: every damaged, hostile or foreign file is refused with its sentence and
// leaves the caller's record alone; numbers outside their ranges are clamped, never wrapped.
#include "CreatorProjectTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <functional>
#include <future>
#include <limits>

using namespace sorvane;
using namespace sorvane::test;
namespace messages = sorvane::test::projectMessages;

namespace
{
class CreatorProjectInputTest : public ::testing::Test
{
protected:
    ProjectFolder folder;
    juce::File project = folder.dir.getChildFile("song.sorvaneproject");

    // A sealed schema 3 project of the full record, as a tree to edit.
    juce::ValueTree writtenTree()
    {
        juce::String error;
        EXPECT_TRUE(writeCreatorProject(project, fullRecord(folder.dir), error)) << error;
        return projectTree(project);
    }

    bool read(CreatorProjectData& data, juce::String& error)
    {
        return readCreatorProject(project, data, error);
    }

    void expectRefused(const juce::String& message)
    {
        auto data = sentinelRecord();
        const auto before = recordText(data);
        juce::String error;
        EXPECT_FALSE(read(data, error));
        EXPECT_EQ(error, message);
        EXPECT_EQ(recordText(data), before);
    }
};

std::string repeated(const std::string& text, int times)
{
    std::string result;
    for (int i = 0; i < times; ++i)
        result += text;
    return result;
}

TEST_F(CreatorProjectInputTest, DamagedAndForeignFilesAreRefusedWithTheirSentence)
{
    const auto tree = writtenTree();
    const auto valid = bytesOf(project);
    const auto withSchema = [&tree](const juce::var& schema)
    {
        auto copy = tree.createCopy();
        copy.setProperty("schemaVersion", schema, nullptr);
        return copy.createXml()->toString().toStdString();
    };
    const auto insertIntoArtist = [&valid](const std::string& bytes)
    {
        auto text = valid;
        text.insert(text.find("videoArtist=\"") + 13, bytes);
        return text;
    };
    auto noSchema = tree.createCopy();
    noSchema.removeProperty("schemaVersion", nullptr);
    juce::ValueTree childless{"SORVANE_PROJECT"};
    childless.setProperty("schemaVersion", 3, nullptr);
    childless.setProperty("contentHash", treeDigest(childless), nullptr);
    const std::string laughs =
        "<?xml version=\"1.0\"?>\r\n<!DOCTYPE SORVANE_PROJECT [<!ENTITY a \"aaaaaaaaaa\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]>"
        "<SORVANE_PROJECT schemaVersion=\"2\" videoArtist=\"&c;\"><SORVANE_STATE/>"
        "</SORVANE_PROJECT>";

    struct Case
    {
        const char* what;
        std::string bytes;
        juce::String message;
    };
    const std::vector<Case> cases{
        {"cut in half", valid.substr(0, valid.size() / 2), messages::notProject},
        {"cut before the root closes", valid.substr(0, valid.rfind("</SORVANE_PROJECT>") + 5),
         messages::notProject},
        {"plain text", "this is not a project", messages::notProject},
        {"JSON", "{\"schemaVersion\": 3}", messages::notProject},
        {"binary", std::string("\x01\x02\x03\xfe\xff", 5), messages::notProject},
        {"a lone 0xFF", insertIntoArtist("\xff"), messages::notProject},
        {"an overlong slash", insertIntoArtist("\xc0\xaf"), messages::notProject},
        {"a surrogate", insertIntoArtist("\xed\xa0\x80"), messages::notProject},
        {"a sequence cut at the end", valid + "\xe2\x82", messages::notProject},
        {"entities of a document type", laughs, messages::notProject},
        {"an undefined entity", insertIntoArtist("&c;"), messages::notProject},
        {"deep nesting",
         "<SORVANE_PROJECT schemaVersion=\"1\">" + repeated("<A>", 5000) + repeated("</A>", 5000) +
             "</SORVANE_PROJECT>",
         messages::notProject},
        {"two roots", valid + "<SORVANE_PROJECT/>", messages::notProject},
        {"a repeated attribute", replaced(valid, "<SORVANE_PROJECT ", "<SORVANE_PROJECT tempo=\"1\" "),
         messages::notProject},
        {"binary attribute data of 2 GB",
         replaced(valid, "<SORVANE_PROJECT ", "<SORVANE_PROJECT base64:x=\"2000000000.\" "),
         messages::notProject},
        {"binary attribute data of -1 bytes",
         replaced(valid, "<SORVANE_STATE ", "<SORVANE_STATE base64:=\"-1.\" "), messages::notProject},
        {"another product", "<OTHER_PRODUCT schemaVersion=\"3\"><SORVANE_STATE/></OTHER_PRODUCT>",
         messages::otherProduct},
        {"a bare state", "<SORVANE_STATE program=\"3\"><PARAM id=\"drive\" value=\"1\"/></SORVANE_STATE>",
         messages::otherProduct},
        {"schema 0", withSchema(0), messages::schema},
        {"schema 4", withSchema(4), messages::schema},
        {"schema -1", withSchema(-1), messages::schema},
        {"schema 2^32 + 3, which wraps to 3", withSchema("4294967299"), messages::schema},
        {"schema 2^64 + 3", withSchema("18446744073709551619"), messages::schema},
        {"schema beyond 64 bits", withSchema("99999999999999999999999999"), messages::schema},
        {"schema -2^31", withSchema("-2147483648"), messages::schema},
        {"schema in words", withSchema("three"), messages::schema},
        // One sign is read, as the value library reads it; more than one reads as 0.
        {"schema ++3", withSchema("++3"), messages::schema},
        {"schema +-3", withSchema("+-3"), messages::schema},
        {"schema -+3", withSchema("-+3"), messages::schema},
        {"schema +", withSchema("+"), messages::schema},
        {"schema +4", withSchema("+4"), messages::schema},
        {"no schema", noSchema.createXml()->toString().toStdString(), messages::schema},
        {"no children", childless.createXml()->toString().toStdString(), messages::noState},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        writeBytes(project, c.bytes);
        expectRefused(c.message);
    }

    const auto folderProject = folder.dir.getChildFile("x.sorvaneproject");
    ASSERT_TRUE(folderProject.createDirectory());
    project = folderProject;
    expectRefused(messages::bounded);
}

TEST_F(CreatorProjectInputTest, APipeIsRefusedWithoutBlocking)
{
    ASSERT_EQ(::mkfifo(project.getFullPathName().toRawUTF8(), 0600), 0);
    ASSERT_TRUE(project.existsAsFile()) << "the trap: JUCE calls a pipe a file";

    auto attempt = std::async(std::launch::async,
                              [file = project]
                              {
                                  auto data = sentinelRecord();
                                  juce::String error;
                                  const bool ok = readCreatorProject(file, data, error);
                                  return std::make_tuple(ok, error, recordText(data));
                              });
    if (attempt.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
    {
        const int fd = ::open(project.getFullPathName().toRawUTF8(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        attempt.wait();
        FAIL() << "reading a pipe blocked";
    }
    const auto [ok, error, record] = attempt.get();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, messages::bounded);
    EXPECT_EQ(record, recordText(sentinelRecord()));
}

TEST_F(CreatorProjectInputTest, NonFiniteNumbersAreRefusedInOrder)
{
    const auto tree = writtenTree();
    const char* const checked[] = {"tempo", "playbackPosition", "crossfadeMilliseconds", "exportTargetLufs"};
    for (const char* name : checked)
        for (const auto& text :
             std::vector<std::string>{"nan", "NaN", "-nan", " nan", "inf", "-inf", "Infinity", "1e999",
                                      "-1e400", "1e99999999999", "1e4294967296", std::string(400, '9')})
        {
            SCOPED_TRACE(std::string(name) + " = " + text.substr(0, 20));
            auto copy = tree.createCopy();
            copy.setProperty(name, juce::String(text), nullptr);
            writeProjectTree(project, copy);
            expectRefused(messages::nonFinite(name));
        }

    // With several at once, the first in the order above is named.
    for (int first = 0; first < 4; ++first)
    {
        auto copy = tree.createCopy();
        for (int i = first; i < 4; ++i)
            copy.setProperty(checked[i], "nan", nullptr);
        writeProjectTree(project, copy);
        expectRefused(messages::nonFinite(checked[first]));
    }

    // Elsewhere a non-finite number fails the range check or reads as a clamped value.
    for (const char* name : {"loopStart", "loopEnd"})
    {
        auto copy = tree.createCopy();
        copy.setProperty(name, "nan", nullptr);
        writeProjectTree(project, copy);
        expectRefused(messages::range);
    }
}

TEST_F(CreatorProjectInputTest, RangesThatAreNotOrderedAreRefused)
{
    const auto tree = writtenTree();
    struct Case
    {
        const char *start, *end;
    };
    for (const auto& c : std::vector<Case>{{"0.8", "0.2"},
                                           {"0.5", "0.5"},
                                           {"-0.1", "0.5"},
                                           {"0.1", "1.5"},
                                           {"0.3", "0.3000005"},
                                           {"inf", "1"}})
    {
        SCOPED_TRACE(std::string(c.start) + " .. " + c.end);
        auto copy = tree.createCopy();
        copy.setProperty("loopStart", c.start, nullptr);
        copy.setProperty("loopEnd", c.end, nullptr);
        writeProjectTree(project, copy);
        expectRefused(messages::range);
    }
}

TEST_F(CreatorProjectInputTest, NumbersAreClampedAndNeverWrapped)
{
    const auto tree = writtenTree();
    const auto digits = std::string(100000, '9');
    using Field = std::function<std::string(const CreatorProjectData&)>;
    const Field tempo = [](const auto& d) { return exactNumber(d.tempo); };
    const Field position = [](const auto& d) { return exactNumber(d.playbackPosition); };
    const Field bars = [](const auto& d) { return std::to_string(d.captureBars); };
    const Field fade = [](const auto& d) { return exactNumber(d.crossfadeMilliseconds); };
    const Field lufs = [](const auto& d) { return exactNumber(d.exportTargetLufs); };
    const Field aspect = [](const auto& d) { return std::to_string(d.socialAspect); };
    const Field duration = [](const auto& d) { return std::to_string(d.socialDuration); };
    const Field background = [](const auto& d) { return std::to_string(d.socialBackground); };
    const Field seed = [](const auto& d) { return std::to_string(d.mutationSeed); };
    const Field mask = [](const auto& d) { return std::to_string(d.macroLockMask); };
    const Field stamp = [](const auto& d) { return std::to_string(d.autosaveTimestampMilliseconds); };
    const Field loop = [](const auto& d) { return std::to_string(d.loopEnabled); };
    const Field tail = [](const auto& d) { return std::to_string(d.captureTail); };
    const Field range = [](const auto& d)
    { return exactNumber(d.loopStart) + ".." + exactNumber(d.loopEnd); };

    struct Case
    {
        const char* attribute;
        std::string text;
        const Field& field;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"tempo", "500", tempo, "300"},
        {"tempo", "10", tempo, "30"},
        {"tempo", "-1e308", tempo, "30"},
        {"tempo", "1e-999", tempo, "30"},
        {"tempo", "150bpm", tempo, "150"},
        {"tempo", "fast", tempo, "30"},
        {"tempo", "1e300", tempo, "300"},
        {"playbackPosition", "2", position, "1"},
        {"playbackPosition", "-0.5", position, "0"},
        {"captureBars", "0", bars, "1"},
        {"captureBars", "99", bars, "16"},
        {"captureBars", "-2147483648", bars, "1"},
        {"captureBars", "4294967297", bars, "16"},
        {"captureBars", digits, bars, "16"},
        {"captureBars", "-" + digits, bars, "1"},
        {"captureBars", "12.9", bars, "12"},
        {"crossfadeMilliseconds", "1", fade, "5"},
        {"crossfadeMilliseconds", "31", fade, "30"},
        {"exportTargetLufs", "-30", lufs, "-24"},
        {"exportTargetLufs", "0", lufs, "-6"},
        {"socialAspect", "7", aspect, "2"},
        {"socialAspect", "4294967295", aspect, "2"},
        {"socialDuration", "-1", duration, "0"},
        {"socialDuration", "-99999999999999999999", duration, "0"},
        {"socialBackground", "18446744073709551617", background, "2"},
        {"mutationSeed", "4294967295", seed, "4294967295"},
        {"mutationSeed", "-1", seed, "4294967295"},
        {"mutationSeed", "4294967296", seed, "0"},
        {"macroLockMask", "-9223372036854775808", mask, "9223372036854775808"},
        {"macroLockMask", "18446744073709551615", mask, "18446744073709551615"},
        {"macroLockMask", digits, mask, "18446744073709551615"},
        {"macroLockMask", "-" + digits, mask, "9223372036854775808"},
        {"autosaveTimestampMilliseconds", "-9223372036854775808", stamp, "-9223372036854775808"},
        {"autosaveTimestampMilliseconds", "9223372036854775808", stamp, "9223372036854775807"},
        {"autosaveTimestampMilliseconds", "-" + digits, stamp, "-9223372036854775808"},
        {"loopEnabled", "true", loop, "1"},
        {"loopEnabled", " YES ", loop, "1"},
        {"loopEnabled", "4294967296", loop, "1"},
        {"loopEnabled", "no", loop, "0"},
        {"captureTail", "0", tail, "0"},
        {"captureTail", "", tail, "0"},
        {"loopStart", "0.000001", range, "9.9999999999999995e-07..0.8125"},
        {"captureBars", "+7", bars, "7"},
        {"captureBars", " +12", bars, "12"},
        {"captureBars", "++7", bars, "1"},
        {"captureBars", "+-7", bars, "1"},
        {"captureBars", "+" + digits, bars, "16"},
        {"socialAspect", "+1", aspect, "1"},
        {"mutationSeed", "+4294967295", seed, "4294967295"},
        {"macroLockMask", "+18446744073709551615", mask, "18446744073709551615"},
        {"autosaveTimestampMilliseconds", "+" + digits, stamp, "9223372036854775807"},
        {"loopEnabled", "+1", loop, "1"},
        {"loopEnabled", "+", loop, "0"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::string(c.attribute) + " = " + c.text.substr(0, 40));
        auto copy = tree.createCopy();
        copy.setProperty(c.attribute, juce::String(c.text), nullptr);
        writeProjectTree(project, copy);
        auto data = sentinelRecord();
        juce::String error;
        ASSERT_TRUE(read(data, error)) << error;
        EXPECT_EQ(c.field(data), c.expected);
    }
}

// "+3" is schema 3 and "+2" schema 2, as the value library reads them: the schema decides whether the
// hash is checked and whether looping, snapping and autosave are read.
TEST_F(CreatorProjectInputTest, ASchemaWithAPlusSignIsThatSchema)
{
    const auto tree = writtenTree();
    struct Case
    {
        const char* schema;
        bool sealed;
        bool schemaThreeFields;
    };
    for (const auto& c : {Case{"+3", true, true}, Case{" +3", true, true}, Case{"+2", false, false},
                          Case{"+1", false, false}})
    {
        SCOPED_TRACE(c.schema);
        auto copy = tree.createCopy();
        copy.setProperty("schemaVersion", c.schema, nullptr);
        writeProjectTree(project, copy, c.sealed);
        auto data = sentinelRecord();
        juce::String error;
        ASSERT_TRUE(read(data, error)) << error;
        // The full record saves looping off, snapping and autosave on.
        EXPECT_EQ(data.loopEnabled, !c.schemaThreeFields);
        EXPECT_EQ(data.snapRangeToZero, c.schemaThreeFields);
        EXPECT_EQ(data.autosave, c.schemaThreeFields);
        EXPECT_EQ(data.captureBars, 8);
    }

    // Schema 3 under a plus sign is still held to its hash.
    auto copy = tree.createCopy();
    copy.setProperty("schemaVersion", "+3", nullptr);
    writeProjectTree(project, copy, false);
    expectRefused(messages::hash);
}

TEST_F(CreatorProjectInputTest, PathsMustBeAbsolute)
{
    const auto tree = writtenTree();
    struct Case
    {
        const char* text;
        bool kept;
    };
    for (const auto& c : std::vector<Case>{
             {"/music/loop.wav", true}, {"relative/loop.wav", false}, {"", false}, {"C:\\loop.wav", false}})
    {
        SCOPED_TRACE(c.text);
        auto copy = tree.createCopy();
        copy.setProperty("sourcePath", c.text, nullptr);
        copy.setProperty("originProjectPath", c.text, nullptr);
        writeProjectTree(project, copy);
        auto data = sentinelRecord();
        juce::String error;
        ASSERT_TRUE(read(data, error)) << error;
        EXPECT_EQ(data.sourceFile.getFullPathName(), c.kept ? juce::String(c.text) : juce::String());
        EXPECT_EQ(data.originProjectPath.getFullPathName(), c.kept ? juce::String(c.text) : juce::String());
    }
}

// The first child is the sound whatever its type; a foreign one reaches the processor, which keeps
// its own sound rather than install it.
TEST_F(CreatorProjectInputTest, AForeignFirstChildCannotReplaceTheLiveSound)
{
    auto tree = writtenTree();
    auto foreign = juce::ValueTree{"NOT_A_STATE"};
    juce::ValueTree param{"PARAM"};
    param.setProperty("id", "drive", nullptr);
    param.setProperty("value", "1e999", nullptr);
    foreign.appendChild(param, nullptr);
    tree.removeChild(0, nullptr);
    tree.addChild(foreign, 0, nullptr);
    writeProjectTree(project, tree);

    auto data = sentinelRecord();
    juce::String error;
    ASSERT_TRUE(read(data, error)) << error;
    EXPECT_EQ(data.parameterState.getType().toString(), "NOT_A_STATE");
    EXPECT_TRUE(data.tresselSession.isValid());

    auto processor = makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
    setPlain(*processor, "drive", 40.0f);
    const auto before = treeDigest(processor->captureParameterSnapshot());
    processor->applyParameterSnapshot(data.parameterState);
    EXPECT_EQ(treeDigest(processor->captureParameterSnapshot()), before);
    EXPECT_EQ(processor->getParameterState().state.getType().toString(), "SORVANE_STATE");

    // A state of the right type with a value no parameter can hold sets that parameter to its default.
    auto state = processor->captureParameterSnapshot();
    for (auto child : state)
        if (child["id"].toString() == "drive")
            child.setProperty("value", "nan", nullptr);
    tree.removeChild(0, nullptr);
    tree.addChild(state, 0, nullptr);
    writeProjectTree(project, tree);
    ASSERT_TRUE(read(data, error)) << error;
    processor->applyParameterSnapshot(data.parameterState);
    const auto drive = plain(*processor, "drive");
    EXPECT_TRUE(std::isfinite(drive));
    EXPECT_EQ(
        drive,
        parameter(*processor, "drive").convertFrom0to1(parameter(*processor, "drive").getDefaultValue()));
}

TEST_F(CreatorProjectInputTest, AnElementWithThousandsOfAttributesIsRefused)
{
    auto text = std::string("<SORVANE_PROJECT schemaVersion=\"2\"");
    for (int i = 0; i < 20000; ++i)
        text += " a" + std::to_string(i) + "=\"\"";
    text += "><SORVANE_STATE/></SORVANE_PROJECT>";
    writeBytes(project, text);

    auto data = sentinelRecord();
    const auto before = recordText(data);
    juce::String error;
    EXPECT_FALSE(read(data, error));
    EXPECT_EQ(error, messages::notProject);
    EXPECT_EQ(recordText(data), before);
}

} // namespace
