// Creator project files: what is saved comes back exactly, the file is the documented XML, and a
// write either publishes a whole new project or leaves the old one as it was.
#include "CreatorProjectTestSupport.h"
#include "UnwritableFolder.h"

#include "transport/SourceFingerprint.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <future>
#include <regex>
#include <sys/resource.h>

using namespace sorvane;
using namespace sorvane::test;
namespace messages = sorvane::test::projectMessages;

namespace
{
class CreatorProjectFileTest : public ::testing::Test
{
protected:
    ProjectFolder folder;
    juce::File project = folder.dir.getChildFile("song.sorvaneproject");

    void writeOrFail(const CreatorProjectData& data, const juce::File& file)
    {
        juce::String error;
        ASSERT_TRUE(writeCreatorProject(file, data, error)) << error;
        EXPECT_TRUE(error.isEmpty());
    }

    // Reads into a sentinel record and returns it; a refusal fails the test.
    CreatorProjectData readOrFail(const juce::File& file)
    {
        auto data = sentinelRecord();
        juce::String error;
        EXPECT_TRUE(readCreatorProject(file, data, error)) << error;
        EXPECT_TRUE(error.isEmpty()) << error;
        return data;
    }

    // Reads a file that must be refused with `message`, and checks the record was left alone.
    void expectRefused(const juce::File& file, const juce::String& message)
    {
        auto data = sentinelRecord();
        const auto before = recordText(data);
        juce::String error = "stale";
        EXPECT_FALSE(readCreatorProject(file, data, error));
        EXPECT_EQ(error, message);
        EXPECT_EQ(recordText(data), before);
    }
};

// The digest's hash written again from its definition: FNV-1a over each code point's four
// little-endian bytes.
std::uint64_t codePointHash(const juce::String& text)
{
    std::uint64_t h = 0x14650FB0739D0383ull;
    for (auto p = text.getCharPointer(); !p.isEmpty();)
    {
        const auto c = (std::uint32_t)p.getAndAdvance();
        for (int byte = 0; byte < 4; ++byte)
        {
            h ^= (c >> (8 * byte)) & 0xFFu;
            h *= 0x100000001B3ull;
        }
    }
    return h;
}

std::string hex16(std::uint64_t value)
{
    std::ostringstream out;
    out << std::hex << std::setw(16) << std::setfill('0') << value;
    return out.str();
}

TEST_F(CreatorProjectFileTest, FullRecordRoundTripsExactly)
{
    const auto data = fullRecord(folder.dir);
    ASSERT_TRUE(data.tresselSession.isValid());
    ASSERT_FALSE(data.tresselSession.history.empty());
    writeOrFail(data, project);

    const auto read = readOrFail(project);
    EXPECT_EQ(read.sourceFile, data.sourceFile);
    EXPECT_EQ(read.sourceFingerprint, data.sourceFingerprint);
    EXPECT_EQ(read.parameterState.getType().toString(), "SORVANE_STATE");
    EXPECT_TRUE(read.parameterState.isEquivalentTo(data.parameterState));
    EXPECT_EQ(treeDigest(read.parameterState), treeDigest(data.parameterState));
    EXPECT_EQ(read.mutationSeed, 0xCAFEBABEu);
    EXPECT_EQ(read.macroLockMask, 0x8000000000000003ull);
    EXPECT_EQ(read.loopStart, 0.25);
    EXPECT_EQ(read.loopEnd, 0.8125);
    EXPECT_FALSE(read.loopEnabled);
    EXPECT_TRUE(read.snapRangeToZero);
    EXPECT_EQ(read.tempo, 133.5);
    EXPECT_EQ(read.playbackPosition, 0.375);
    EXPECT_EQ(read.captureBars, 8);
    EXPECT_FALSE(read.captureTail);
    EXPECT_EQ(read.crossfadeMilliseconds, 20.0f);
    EXPECT_EQ(read.exportFormat, "WAV32F");
    EXPECT_EQ(read.exportTargetLufs, -9.5);
    EXPECT_EQ(read.socialAspect, 2);
    EXPECT_EQ(read.socialDuration, 1);
    EXPECT_EQ(read.socialBackground, 2);
    EXPECT_EQ(read.videoArtist, data.videoArtist);
    EXPECT_TRUE(read.videoEffectedOnly);
    EXPECT_TRUE(read.autosave);
    EXPECT_EQ(read.autosaveTimestampMilliseconds, 1718000000123);
    EXPECT_EQ(read.originProjectPath, data.originProjectPath);
    EXPECT_EQ(read.contentHash.length(), 16);

    const auto& session = read.tresselSession;
    EXPECT_EQ(session.seed, data.tresselSession.seed);
    EXPECT_EQ(session.personality, data.tresselSession.personality);
    EXPECT_EQ(session.chaosPercent, data.tresselSession.chaosPercent);
    EXPECT_EQ(session.selectedVariant, 2);
    EXPECT_EQ(session.history.size(), data.tresselSession.history.size());
    EXPECT_TRUE(session.baseline.isEquivalentTo(data.tresselSession.baseline));
    for (std::size_t i = 0; i < session.variants.size(); ++i)
        EXPECT_TRUE(session.variants[i].isEquivalentTo(data.tresselSession.variants[i])) << i;
    EXPECT_TRUE(tresselSessionToTree(session).isEquivalentTo(tresselSessionToTree(data.tresselSession)));

    // Saving what was read writes the same bytes again.
    const auto again = folder.dir.getChildFile("again.sorvaneproject");
    writeOrFail(read, again);
    EXPECT_EQ(bytesOf(again), bytesOf(project));
}

TEST_F(CreatorProjectFileTest, WrittenFileIsDefaultFormatXmlWithOrderedAttributesAndACheckableHash)
{
    ASSERT_EQ(codePointHash("abc"), 0x093A578B8E9CD6B3ull) << "the test's own hash is wrong";

    writeOrFail(fullRecord(folder.dir), project);
    const auto text = bytesOf(project);

    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n", 0), 0u);
    std::size_t lineEnds = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == '\n')
        {
            ++lineEnds;
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
        }
        if (text[i] == '\r')
        {
            ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at " << i;
        }
    }
    EXPECT_GT(lineEnds, 20u);

    // Exactly the library's default text format of the same tree: header, line wrap 60, CR LF.
    EXPECT_EQ(projectTree(project).createXml()->toString().toStdString(), text);

    const auto rootStart = text.find("<SORVANE_PROJECT");
    ASSERT_NE(rootStart, std::string::npos);
    const auto rootTag = text.substr(rootStart, text.find('>', rootStart) - rootStart);
    std::vector<std::string> names;
    const std::regex attribute(R"(\s([A-Za-z]+)=")");
    for (auto it = std::sregex_iterator(rootTag.begin(), rootTag.end(), attribute);
         it != std::sregex_iterator(); ++it)
        names.push_back((*it)[1]);
    const std::vector<std::string> expected{"schemaVersion",
                                            "sourcePath",
                                            "sourceFingerprint",
                                            "mutationSeed",
                                            "macroLockMask",
                                            "loopStart",
                                            "loopEnd",
                                            "loopEnabled",
                                            "snapRangeToZero",
                                            "tempo",
                                            "playbackPosition",
                                            "captureBars",
                                            "captureTail",
                                            "crossfadeMilliseconds",
                                            "exportFormat",
                                            "exportTargetLufs",
                                            "socialAspect",
                                            "socialDuration",
                                            "socialBackground",
                                            "videoArtist",
                                            "videoEffectedOnly",
                                            "autosave",
                                            "autosaveTimestampMilliseconds",
                                            "originProjectPath",
                                            "contentHash"};
    EXPECT_EQ(names, expected);

    for (const char* stored :
         {"schemaVersion=\"3\"", "mutationSeed=\"3405691582\"", "macroLockMask=\"-9223372036854775805\"",
          "loopEnabled=\"0\"", "tempo=\"133.5\"", "autosaveTimestampMilliseconds=\"1718000000123\"",
          "videoArtist=\"&#220;lla &amp; &lt;Crew&gt; &quot;Night&quot; 'Shift'\""})
        EXPECT_NE(rootTag.find(stored), std::string::npos) << stored;

    const auto tree = projectTree(project);
    ASSERT_EQ(tree.getNumChildren(), 2);
    EXPECT_EQ(tree.getChild(0).getType().toString(), "SORVANE_STATE");
    EXPECT_EQ(tree.getChild(1).getType().toString(), "SORVANE_TRESSEL_SESSION");

    // The hash again by a second road: from the written text with the attribute cut out.
    std::smatch match;
    ASSERT_TRUE(std::regex_search(text, match, std::regex(R"re(contentHash="([0-9a-f]{16})")re")));
    const auto stored = match[1].str();
    const auto withoutHash =
        std::regex_replace(text, std::regex(R"re((\r\n *)? contentHash="[0-9a-f]{16}")re"), "");
    ASSERT_EQ(withoutHash.find("contentHash"), std::string::npos);
    EXPECT_EQ(hex16(codePointHash(juce::String::fromUTF8(withoutHash.data(), (int)withoutHash.size()))),
              stored);
    EXPECT_EQ(readOrFail(project).contentHash.toStdString(), stored);
}

TEST_F(CreatorProjectFileTest, ChildrenAreWrittenOnlyWhenTheyHoldSomething)
{
    auto data = fullRecord(folder.dir);
    data.tresselSession.variants[3] = {};
    writeOrFail(data, project);
    auto tree = projectTree(project);
    ASSERT_EQ(tree.getNumChildren(), 1);
    EXPECT_EQ(tree.getChild(0).getType().toString(), "SORVANE_STATE");
    EXPECT_FALSE(readOrFail(project).tresselSession.isValid());

    data.parameterState = {};
    data.tresselSession = {};
    writeOrFail(data, project);
    EXPECT_EQ(projectTree(project).getNumChildren(), 0);
    expectRefused(project, messages::noState);
}

TEST_F(CreatorProjectFileTest, TheTwoMegabyteLimitHoldsOnBothSides)
{
    auto data = fullRecord(folder.dir);
    data.exportFormat = juce::String::repeatedString("x", 2000000);
    writeOrFail(data, project);
    const auto shortBy = maxCreatorProjectBytes - project.getSize();
    ASSERT_GT(shortBy, 0);
    data.exportFormat += juce::String::repeatedString("x", (int)shortBy);
    writeOrFail(data, project);
    ASSERT_EQ(project.getSize(), 2097152);
    EXPECT_EQ(readOrFail(project).exportFormat, data.exportFormat);

    // One more byte and the writer refuses rather than leave a file no reader takes.
    const auto exact = bytesOf(project);
    data.exportFormat += "x";
    juce::String error;
    EXPECT_FALSE(writeCreatorProject(project, data, error));
    EXPECT_EQ(error, messages::serialize);
    EXPECT_EQ(bytesOf(project), exact);

    // White space after the root is still XML, so only the size can refuse this one.
    writeBytes(project, exact + " ");
    ASSERT_EQ(project.getSize(), 2097153);
    expectRefused(project, messages::bounded);

    writeBytes(project, "");
    ASSERT_TRUE(project.existsAsFile());
    expectRefused(project, messages::bounded);
    expectRefused(folder.dir.getChildFile("missing.sorvaneproject"), messages::bounded);
    expectRefused(folder.dir, messages::bounded);
}

TEST_F(CreatorProjectFileTest, TheHashGuardsSchemaThreeOnly)
{
    writeOrFail(fullRecord(folder.dir), project);
    const auto text = bytesOf(project);
    const auto hash = readOrFail(project).contentHash.toStdString();
    const auto hashAttribute = " contentHash=\"" + hash + "\"";

    struct Case
    {
        const char* what;
        std::string bytes;
    };
    const std::vector<Case> tampered{
        {"tempo edited", replaced(text, "tempo=\"133.5\"", "tempo=\"134.5\"")},
        {"hash removed", replaced(text, hashAttribute, "")},
        {"hash emptied", replaced(text, hashAttribute, " contentHash=\"\"")},
        {"hash in capitals",
         replaced(text, hashAttribute,
                  " contentHash=\"" + juce::String(hash).toUpperCase().toStdString() + "\"")},
        {"sound edited",
         std::regex_replace(text, std::regex(R"(<PARAM id="drive" value="[^"]*")"),
                            "<PARAM id=\"drive\" value=\"1.25\"", std::regex_constants::format_first_only)},
    };
    for (const auto& c : tampered)
    {
        SCOPED_TRACE(c.what);
        writeBytes(project, c.bytes);
        expectRefused(project, messages::hash);
    }

    // The hash covers the content, not the bytes: other line ends change nothing.
    writeBytes(project, std::regex_replace(text, std::regex("\r\n"), "\n"));
    EXPECT_EQ(readOrFail(project).tempo, 133.5);

    // The same edit in a schema 2 file is read, with the fields schema 2 did not store at their defaults.
    auto schemaTwo = replaced(text, "schemaVersion=\"3\"", "schemaVersion=\"2\"");
    writeBytes(project, replaced(schemaTwo, "tempo=\"133.5\"", "tempo=\"134.5\""));
    const auto read = readOrFail(project);
    EXPECT_EQ(read.tempo, 134.5);
    EXPECT_TRUE(read.loopEnabled);
    EXPECT_FALSE(read.snapRangeToZero);
    EXPECT_FALSE(read.autosave);
    EXPECT_TRUE(read.tresselSession.isValid());
    EXPECT_EQ(read.contentHash.toStdString(), hash);
}

TEST_F(CreatorProjectFileTest, SchemaOneReadsWithLoopingOnAndNoSession)
{
    writeOrFail(fullRecord(folder.dir), project);
    auto tree = projectTree(project);
    tree.setProperty("schemaVersion", 1, nullptr);
    tree.removeProperty("contentHash", nullptr);
    ASSERT_EQ(tree["loopEnabled"].toString(), "0");
    ASSERT_EQ(tree["snapRangeToZero"].toString(), "1");
    ASSERT_EQ(tree["autosave"].toString(), "1");
    // A schema 1 file never carried a session; one that is there, even a broken one, is not read.
    tree.getChild(1).removeChild(4, nullptr);
    writeProjectTree(project, tree, false);

    const auto read = readOrFail(project);
    EXPECT_TRUE(read.loopEnabled);
    EXPECT_FALSE(read.snapRangeToZero);
    EXPECT_FALSE(read.autosave);
    EXPECT_FALSE(read.tresselSession.isValid());
    EXPECT_TRUE(read.tresselSession.history.empty());
    EXPECT_TRUE(read.contentHash.isEmpty());
    EXPECT_EQ(read.tempo, 133.5);
    EXPECT_EQ(read.captureBars, 8);

    // The broken session refuses the file in the schemas that read it.
    for (int schema : {2, 3})
    {
        tree.setProperty("schemaVersion", schema, nullptr);
        writeProjectTree(project, tree);
        expectRefused(project, messages::incompleteSession);
    }
}

TEST_F(CreatorProjectFileTest, MissingAttributesTakeTheirDefaults)
{
    juce::ValueTree tree{"SORVANE_PROJECT"};
    tree.setProperty("schemaVersion", 3, nullptr);
    tree.appendChild(makeTaggedState(5), nullptr);
    writeProjectTree(project, tree);

    auto expected = CreatorProjectData();
    expected.parameterState = makeTaggedState(5);
    expected.contentHash = projectTree(project)["contentHash"].toString();
    EXPECT_EQ(recordText(readOrFail(project)), recordText(expected));
}

TEST_F(CreatorProjectFileTest, ArtistNamesKeepEightyCharacters)
{
    const auto eighty = juce::String::repeatedString("a", 79) + juce::String::fromUTF8("\xc3\xa9");
    struct Case
    {
        juce::String written, read;
    };
    const std::vector<Case> cases{
        {eighty, eighty},
        {eighty + "b", eighty},
        {juce::String::repeatedString(juce::String::fromUTF8("\xf0\x9f\x8e\xb8"), 100),
         juce::String::repeatedString(juce::String::fromUTF8("\xf0\x9f\x8e\xb8"), 80)},
        {"", ""},
    };
    for (const auto& c : cases)
    {
        auto data = fullRecord(folder.dir);
        data.videoArtist = c.written;
        writeOrFail(data, project);
        const auto read = readOrFail(project);
        EXPECT_EQ(read.videoArtist, c.read);
        EXPECT_LE(read.videoArtist.length(), 80);
    }
}

TEST_F(CreatorProjectFileTest, AProjectIsNeverSavedOverItsSource)
{
    auto data = fullRecord(folder.dir);
    const auto source = bytesOf(data.sourceFile);
    const auto before = folder.names();

    for (const auto& destination :
         {data.sourceFile, folder.dir.getChildFile("LOOP.WAV"), folder.dir.getChildFile("sub/../loop.wav")})
    {
        SCOPED_TRACE(destination.getFullPathName());
        juce::String error;
        EXPECT_FALSE(writeCreatorProject(destination, data, error));
        EXPECT_EQ(error, messages::sourceDestination);
        EXPECT_EQ(bytesOf(data.sourceFile), source);
        EXPECT_EQ(folder.names(), before);
    }
}

TEST_F(CreatorProjectFileTest, TheWriterRefusesPathsItCannotUse)
{
    auto data = fullRecord(folder.dir);
    juce::String error;
    EXPECT_FALSE(writeCreatorProject(juce::File(), data, error));
    EXPECT_EQ(error, messages::notWritable);

    const auto blocker = folder.dir.getChildFile("plain-file");
    writeBytes(blocker, "not a folder");
    EXPECT_FALSE(writeCreatorProject(blocker.getChildFile("song.sorvaneproject"), data, error));
    EXPECT_EQ(error, messages::folder);

    // Missing folders are made.
    const auto nested = folder.dir.getChildFile("a/b/c/song.sorvaneproject");
    writeOrFail(data, nested);
    EXPECT_EQ(readOrFail(nested).tempo, 133.5);

    for (const double bad : {std::nan(""), std::numeric_limits<double>::infinity()})
    {
        auto broken = data;
        broken.tempo = bad;
        EXPECT_FALSE(writeCreatorProject(project, broken, error));
        EXPECT_EQ(error, messages::serialize);
        broken = data;
        broken.crossfadeMilliseconds = (float)bad;
        EXPECT_FALSE(writeCreatorProject(project, broken, error));
        EXPECT_EQ(error, messages::serialize);
        broken = data;
        broken.parameterState = data.parameterState.createCopy();
        broken.parameterState.getChild(0).setProperty("value", bad, nullptr);
        EXPECT_FALSE(writeCreatorProject(project, broken, error));
        EXPECT_EQ(error, messages::serialize);
    }
    EXPECT_FALSE(project.exists());
}

TEST_F(CreatorProjectFileTest, AFailedWriteLeavesTheOldProjectAndNoTemporaryFile)
{
    auto data = fullRecord(folder.dir);
    writeOrFail(data, project);
    const auto old = bytesOf(project);
    const auto names = folder.names();
    data.tempo = 200.0;

    // The destination is a folder.
    const auto folderProject = folder.dir.getChildFile("x.sorvaneproject");
    ASSERT_TRUE(folderProject.createDirectory());
    ASSERT_TRUE(folderProject.getChildFile("keep.txt").replaceWithText("keep"));
    juce::String error;
    EXPECT_FALSE(writeCreatorProject(folderProject, data, error));
    EXPECT_EQ(error, messages::notWritable);
    EXPECT_EQ(folderProject.getChildFile("keep.txt").loadFileAsString(), "keep");
    ASSERT_TRUE(folderProject.deleteRecursively());

    // The disk refuses the bytes half way: here a file size limit, which holds even for root.
    {
        rlimit previous{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
        auto limited = previous;
        limited.rlim_cur = 1024;
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        const bool written = writeCreatorProject(project, data, error);
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
        EXPECT_FALSE(written);
        EXPECT_EQ(error, messages::atomicWrite + " File too large.");
        EXPECT_EQ(bytesOf(project), old);
        EXPECT_EQ(folder.names(), names);
    }

    // And a write that succeeds replaces the file and leaves nothing beside it.
    writeOrFail(data, project);
    EXPECT_EQ(readOrFail(project).tempo, 200.0);
    EXPECT_EQ(folder.names(), names);
}

TEST_F(CreatorProjectFileTest, AReadOnlyFolderKeepsItsProject)
{
    auto data = fullRecord(folder.dir);
    writeOrFail(data, project);
    const auto old = bytesOf(project);
    const auto names = folder.names();
    data.tempo = 200.0;

    {
        sorvane::test::UnwritableFolder lock(folder.dir);
        if (!lock.isLocked())
            GTEST_SKIP() << "this machine lets nothing lock a folder against this user";
        juce::String error;
        EXPECT_FALSE(writeCreatorProject(project, data, error));
        // Root is kept out by an immutable folder instead of its mode, which says so differently.
        EXPECT_TRUE(error == messages::atomicWrite + " Permission denied." ||
                    error == messages::atomicWrite + " Operation not permitted.")
            << error;
    }
    EXPECT_EQ(bytesOf(project), old);
    EXPECT_EQ(folder.names(), names);
}

TEST_F(CreatorProjectFileTest, SourcesAreRecognisedByContentWhereverTheyAre)
{
    auto data = fullRecord(folder.dir);
    const auto original = data.sourceFile;
    data.sourceFingerprint = createSourceFingerprint(original);
    ASSERT_TRUE(data.sourceFingerprint.endsWith(":70000"));

    const auto moved = folder.dir.getChildFile("elsewhere/renamed.flac");
    ASSERT_TRUE(moved.getParentDirectory().createDirectory());
    ASSERT_TRUE(original.copyFileTo(moved));
    EXPECT_EQ(createSourceFingerprint(moved), data.sourceFingerprint);
    EXPECT_TRUE(sourceMatchesProject(data, original));
    EXPECT_TRUE(sourceMatchesProject(data, moved));

    // Saved and read back, the fingerprint still finds the copy.
    writeOrFail(data, project);
    const auto read = readOrFail(project);
    EXPECT_EQ(read.sourceFingerprint, data.sourceFingerprint);
    EXPECT_TRUE(sourceMatchesProject(read, moved));

    // One appended byte is another file.
    {
        juce::FileOutputStream out(moved);
        ASSERT_TRUE(out.openedOk());
        out.writeByte(0);
    }
    EXPECT_NE(createSourceFingerprint(moved), data.sourceFingerprint);
    EXPECT_FALSE(sourceMatchesProject(data, moved));

    EXPECT_FALSE(sourceMatchesProject(data, folder.dir.getChildFile("missing.wav")));
    EXPECT_FALSE(sourceMatchesProject(data, folder.dir));
    auto noSource = data;
    noSource.sourceFingerprint.clear();
    EXPECT_FALSE(sourceMatchesProject(noSource, original));

    const auto pipe = folder.dir.getChildFile("pipe.wav");
    ASSERT_EQ(::mkfifo(pipe.getFullPathName().toRawUTF8(), 0600), 0);
    auto attempt = std::async(std::launch::async, [data, pipe] { return sourceMatchesProject(data, pipe); });
    if (attempt.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
    {
        const int fd = ::open(pipe.getFullPathName().toRawUTF8(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        attempt.wait();
        FAIL() << "a pipe blocked the fingerprint";
    }
    EXPECT_FALSE(attempt.get());
}
} // namespace
