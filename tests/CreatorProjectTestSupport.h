#pragma once

#include "TestSupport.h"
#include "TresselTestSupport.h"

#include "projects/CreatorProjectFile.h"
#include "workflow/StableHash.h"
#include "workflow/TresselPersonality.h"
#include "workflow/TresselSessionTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iomanip>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sorvane::test
{
// The reader's and writer's sentences, written out here so a changed word fails a test.
namespace projectMessages
{
inline const juce::String notWritable = "Choose a writable .sorvaneproject file.";
inline const juce::String sourceDestination =
    "Choose a different project destination; the source audio must be preserved.";
inline const juce::String folder = "Could not create the project folder.";
inline const juce::String serialize = "Could not serialize the Sorvane project.";
inline const juce::String atomicWrite = "Could not atomically write the Sorvane project.";
inline const juce::String bounded = "The project is missing, empty, or exceeds the 2 MB bounded-state limit.";
inline const juce::String notProject = "The selected file is not a valid Sorvane project.";
inline const juce::String otherProduct = "The project belongs to a different product or is damaged.";
inline const juce::String schema = "This project schema is not supported by this Sorvane version.";
inline const juce::String noState = "The project does not contain a parameter state.";
inline const juce::String hash =
    "The project content hash does not match; the file may be incomplete or corrupt.";
inline const juce::String range =
    "The source range must be ordered, finite, and contain at least one millionth of "
    "the source.";
inline const juce::String incompleteSession =
    "The TRESSEL session does not contain an exact baseline and four variants.";

inline juce::String nonFinite(const juce::String& name)
{
    return "The project contains a non-finite value for " + name + ".";
}
} // namespace projectMessages

// A folder of the test's own, named after the process so parallel test processes never share one.
struct ProjectFolder
{
    juce::File dir =
        juce::File::getSpecialLocation(juce::File::tempDirectory)
            .getNonexistentChildFile("sorvane-project-" + juce::String((int)::getpid()), "", false);
    ProjectFolder() { dir.createDirectory(); }
    ~ProjectFolder()
    {
        ::chmod(dir.getFullPathName().toRawUTF8(), 0755);
        dir.deleteRecursively();
    }

    // Every name in the folder, hidden ones included, sorted.
    std::vector<std::string> names() const
    {
        std::vector<std::string> result;
        for (const auto& entry : std::filesystem::directory_iterator(dir.getFullPathName().toStdString()))
            result.push_back(entry.path().filename().string());
        std::sort(result.begin(), result.end());
        return result;
    }
};

inline std::string bytesOf(const juce::File& file)
{
    juce::MemoryBlock block;
    file.loadFileAsData(block);
    return std::string(static_cast<const char*>(block.getData()), block.getSize());
}

inline void writeBytes(const juce::File& file, const std::string& bytes)
{
    file.deleteFile();
    juce::FileOutputStream out(file);
    out.write(bytes.data(), bytes.size());
}

inline std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

// Pseudo-random bytes, long enough that the fingerprint hashes a head and a separate tail.
inline juce::File writeSourceAudio(const juce::File& file, std::size_t size = 70000, std::uint32_t seed = 1)
{
    std::string bytes(size, '\0');
    for (auto& b : bytes)
    {
        seed = seed * 1664525u + 1013904223u;
        b = (char)(seed >> 24);
    }
    writeBytes(file, bytes);
    return file;
}

// A record with every field away from its default, holding a session from the real generator.
inline CreatorProjectData fullRecord(const juce::File& folder)
{
    auto processor = makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
    setPlain(*processor, "drive", 63.0f);
    processor->generateTressel(4242u, tresselGlass, 55.0f, {"tone"}, false, false);
    processor->selectTresselVariant(2);

    CreatorProjectData data;
    data.sourceFile = writeSourceAudio(folder.getChildFile("loop.wav"));
    data.sourceFingerprint = "0123456789abcdef:70000";
    data.parameterState = processor->captureParameterSnapshot();
    data.mutationSeed = 0xCAFEBABEu;
    data.macroLockMask = 0x8000000000000003ull;
    data.loopStart = 0.25;
    data.loopEnd = 0.8125;
    data.loopEnabled = false;
    data.snapRangeToZero = true;
    data.tempo = 133.5;
    data.playbackPosition = 0.375;
    data.captureBars = 8;
    data.captureTail = false;
    data.crossfadeMilliseconds = 20.0f;
    data.exportFormat = "WAV32F";
    data.exportTargetLufs = -9.5;
    data.socialAspect = 2;
    data.socialDuration = 1;
    data.socialBackground = 2;
    data.videoArtist = juce::String::fromUTF8("\xc3\x9clla & <Crew> \"Night\" 'Shift'");
    data.videoEffectedOnly = true;
    data.autosave = true;
    data.autosaveTimestampMilliseconds = 1718000000123;
    data.originProjectPath = folder.getChildFile("origin.sorvaneproject");
    data.tresselSession = processor->getTresselSession();
    return data;
}

// Distinct values no reader produces, to show that a refusal leaves a record alone.
inline CreatorProjectData sentinelRecord()
{
    CreatorProjectData data;
    data.sourceFile = juce::File("/sentinel/source.wav");
    data.sourceFingerprint = "sentinel";
    data.parameterState = makeTaggedState(7);
    data.mutationSeed = 77;
    data.tempo = 99.0;
    data.videoArtist = "sentinel";
    data.contentHash = "sentinel-hash";
    data.tresselSession = makeCompleteSession(2);
    return data;
}

inline std::string exactNumber(double value)
{
    std::ostringstream out;
    out << std::setprecision(17) << value;
    return out.str();
}

// Every field as text; value trees by their XML.
inline std::string recordText(const CreatorProjectData& d)
{
    std::ostringstream out;
    out << d.sourceFile.getFullPathName() << '|' << d.sourceFingerprint << '|'
        << treeXmlText(d.parameterState) << '|' << d.mutationSeed << '|' << d.macroLockMask << '|'
        << exactNumber(d.loopStart) << '|' << exactNumber(d.loopEnd) << '|' << d.loopEnabled
        << d.snapRangeToZero << '|' << exactNumber(d.tempo) << '|' << exactNumber(d.playbackPosition) << '|'
        << d.captureBars << d.captureTail << '|' << exactNumber(d.crossfadeMilliseconds) << '|'
        << d.exportFormat << '|' << exactNumber(d.exportTargetLufs) << '|' << d.socialAspect
        << d.socialDuration << d.socialBackground << '|' << d.videoArtist << '|' << d.videoEffectedOnly
        << d.autosave << '|' << d.autosaveTimestampMilliseconds << '|'
        << d.originProjectPath.getFullPathName() << '|' << d.contentHash << '|'
        << treeXmlText(tresselSessionToTree(d.tresselSession));
    return out.str();
}

// The project's tree as the test reads its own trusted file.
inline juce::ValueTree projectTree(const juce::File& file)
{
    const auto xml = juce::parseXML(file);
    return xml != nullptr ? juce::ValueTree::fromXml(*xml) : juce::ValueTree();
}

// Writes a hand-made project; sealed means with the content hash a writer would have added.
inline void writeProjectTree(const juce::File& file, juce::ValueTree tree, bool sealed = true)
{
    if (sealed)
    {
        tree.removeProperty("contentHash", nullptr);
        tree.setProperty("contentHash", treeDigest(tree), nullptr);
    }
    writeBytes(file, tree.createXml()->toString().toStdString());
}
} // namespace sorvane::test
