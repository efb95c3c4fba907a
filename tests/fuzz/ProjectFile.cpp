// Project files: whatever a file holds, the reader either fills a record that saves and reloads to
// itself, or refuses with a sentence and leaves the caller's record exactly as it was.
#include "FuzzSupport.h"

#include "projects/CreatorProjectFile.h"
#include "workflow/StableHash.h"
#include "workflow/TresselSessionTree.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace
{
using sorvane::CreatorProjectData;

// One folder per process, removed at exit. Never destroyed: the exit handler that removes it runs
// after static destructors registered later.
const juce::File& workFolder()
{
    static const juce::File* folder = []
    {
        auto* dir =
            new juce::File(juce::File::getSpecialLocation(juce::File::tempDirectory)
                               .getChildFile("sorvane-fuzz-project-" + juce::String((int)::getpid())));
        dir->createDirectory();
        std::atexit([] { std::filesystem::remove_all(workFolder().getFullPathName().toStdString()); });
        return dir;
    }();
    return *folder;
}

std::vector<double> numbersOf(const CreatorProjectData& d)
{
    return {d.loopStart, d.loopEnd, d.tempo, d.playbackPosition, d.crossfadeMilliseconds, d.exportTargetLufs};
}

// A double is stored as the value library writes it, with 15 to 17 significant digits, so the first
// save may move one by the last bit or so; after that it stays.
bool nearlyEqual(const std::vector<double>& a, const std::vector<double>& b)
{
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::abs(a[i] - b[i]) > 1.0e-15 * std::max(1.0, std::abs(a[i])))
            return false;
    return true;
}

juce::String numbersText(const CreatorProjectData& d)
{
    juce::String text;
    for (const auto value : numbersOf(d))
    {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof(bits));
        text << juce::String::toHexString((juce::int64)bits) << "|";
    }
    return text;
}

// Every field but the numbers above, the stored hash and the session, as text.
juce::String fieldsText(const CreatorProjectData& d)
{
    return d.sourceFile.getFullPathName() + "|" + d.sourceFingerprint + "|" +
           sorvane::treeXmlText(d.parameterState) + "|" + juce::String(d.mutationSeed) + "|" +
           juce::String((juce::int64)d.macroLockMask) + "|" + juce::String((int)d.loopEnabled) +
           juce::String((int)d.snapRangeToZero) + "|" + juce::String(d.captureBars) +
           juce::String((int)d.captureTail) + "|" + d.exportFormat + "|" + juce::String(d.socialAspect) +
           juce::String(d.socialDuration) + juce::String(d.socialBackground) + "|" + d.videoArtist + "|" +
           juce::String((int)d.videoEffectedOnly) + juce::String((int)d.autosave) + "|" +
           juce::String((juce::int64)d.autosaveTimestampMilliseconds) + "|" +
           d.originProjectPath.getFullPathName();
}

juce::String recordText(const CreatorProjectData& d)
{
    return fieldsText(d) + "|" + numbersText(d) + d.contentHash + "|" +
           sorvane::treeXmlText(sorvane::tresselSessionToTree(d.tresselSession));
}

CreatorProjectData sentinel()
{
    CreatorProjectData data;
    data.sourceFile = juce::File("/sentinel/source.wav");
    data.sourceFingerprint = "sentinel";
    data.parameterState = juce::ValueTree("SORVANE_STATE").setProperty("program", 9, nullptr);
    data.tempo = 99.0;
    data.videoArtist = "sentinel";
    data.contentHash = "sentinel-hash";
    return data;
}

void requireInRange(const CreatorProjectData& d)
{
    using sorvane::fuzz::require;
    require(d.parameterState.isValid(), "a project read without a parameter state");
    require(d.loopStart >= 0.0 && d.loopEnd <= 1.0 && d.loopEnd - d.loopStart >= 0.000001,
            "a range out of order");
    require(d.tempo >= 30.0 && d.tempo <= 300.0, "a tempo out of range");
    require(d.playbackPosition >= 0.0 && d.playbackPosition <= 1.0, "a position out of range");
    require(d.captureBars >= 1 && d.captureBars <= 16, "capture bars out of range");
    require(d.crossfadeMilliseconds >= 5.0f && d.crossfadeMilliseconds <= 30.0f, "a fade out of range");
    require(d.exportTargetLufs >= -24.0 && d.exportTargetLufs <= -6.0, "a loudness out of range");
    for (int choice : {d.socialAspect, d.socialDuration, d.socialBackground})
        require(choice >= 0 && choice <= 2, "a social choice out of range");
    require(d.videoArtist.length() <= 80, "an artist name longer than 80 characters");
    require(d.sourceFile == juce::File() || juce::File::isAbsolutePath(d.sourceFile.getFullPathName()),
            "a relative source path");
}

// Saves `data`; false only when the record is too large to save or names `file` as its source.
bool save(const CreatorProjectData& data, const juce::File& file)
{
    juce::String error;
    if (sorvane::writeCreatorProject(file, data, error))
        return true;
    sorvane::fuzz::require(
        error == "Could not serialize the Sorvane project." ||
            error == "Choose a different project destination; the source audio must be preserved.",
        "an accepted project could not be saved");
    return false;
}

bool saveAndReload(const CreatorProjectData& data, const juce::File& file, CreatorProjectData& reloaded)
{
    using sorvane::fuzz::require;
    if (!save(data, file))
        return false;
    juce::String error;
    require(sorvane::readCreatorProject(file, reloaded, error), "a saved project could not be read");
    require(reloaded.contentHash.length() == 16, "a saved project without its hash");
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace sorvane::fuzz;
    ensureJuce();

    const auto input = workFolder().getChildFile("input.sorvaneproject");
    input.deleteFile();
    {
        juce::FileOutputStream out(input);
        require(out.openedOk(), "the input could not be written");
        out.write(data, size);
    }

    auto record = sentinel();
    const auto before = recordText(record);
    juce::String error;
    if (!sorvane::readCreatorProject(input, record, error))
    {
        require(error.isNotEmpty(), "a refusal without a sentence");
        require(recordText(record) == before, "a refused project changed the record");
        return 0;
    }
    require(error.isEmpty(), "an accepted project with a refusal sentence");
    requireInRange(record);

    // Saved once, the record keeps every field; from then on saving is a fixed point, byte for byte.
    const auto firstFile = workFolder().getChildFile("first.sorvaneproject");
    const auto secondFile = workFolder().getChildFile("second.sorvaneproject");
    const auto thirdFile = workFolder().getChildFile("third.sorvaneproject");
    CreatorProjectData first, second;
    if (!saveAndReload(record, firstFile, first))
        return 0;
    require(fieldsText(first) == fieldsText(record), "a save changed the project");
    require(nearlyEqual(numbersOf(first), numbersOf(record)), "a save moved a number");
    if (!saveAndReload(first, secondFile, second))
        return 0;
    if (!save(second, thirdFile))
        return 0;
    juce::MemoryBlock secondBytes, thirdBytes;
    require(secondFile.loadFileAsData(secondBytes) && thirdFile.loadFileAsData(thirdBytes) &&
                secondBytes == thirdBytes,
            "saving a reloaded project changed its file");
    return 0;
}

void sorvaneFuzzWriteSeeds(const juce::File& folder)
{
    CreatorProjectData data;
    juce::ValueTree state{"SORVANE_STATE"};
    state.setProperty("program", 4, nullptr);
    for (const char* id : {"drive", "delayTime", "tone"})
    {
        juce::ValueTree param{"PARAM"};
        param.setProperty("id", id, nullptr);
        param.setProperty("value", 12.5, nullptr);
        state.appendChild(param, nullptr);
    }
    data.parameterState = state;
    juce::String error;
    sorvane::writeCreatorProject(folder.getChildFile("minimal.sorvaneproject"), data, error);

    data.sourceFile = juce::File("/music/loop.wav");
    data.sourceFingerprint = "00c3a1e4b5d60789:4194304";
    data.macroLockMask = 0x8000000000000003ull;
    data.loopStart = 0.25;
    data.loopEnd = 0.75;
    data.loopEnabled = false;
    data.tempo = 174.0;
    data.videoArtist = "Seed & <Artist>";
    data.autosave = true;
    data.autosaveTimestampMilliseconds = 1718000000123;
    data.originProjectPath = juce::File("/music/song.sorvaneproject");
    sorvane::TresselSessionSnapshot session;
    session.seed = 1234;
    session.selectedVariant = 1;
    session.baseline = state.createCopy();
    for (auto& variant : session.variants)
        variant = state.createCopy();
    session.history.push_back(state.createCopy());
    data.tresselSession = session;
    sorvane::writeCreatorProject(folder.getChildFile("session.sorvaneproject"), data, error);

    // Older schemas, which skip the hash.
    for (int schema : {1, 2})
    {
        const auto xml = juce::parseXML(folder.getChildFile("session.sorvaneproject"));
        if (xml == nullptr)
            return;
        xml->setAttribute("schemaVersion", schema);
        xml->removeAttribute("contentHash");
        sorvane::fuzz::writeSeed(folder, "schema-" + juce::String(schema) + ".sorvaneproject",
                                 xml->toString());
    }
}
