#include "projects/CreatorProjectFile.h"

#include "capture/DurableFile.h"
#include "processor/SafeXml.h"
#include "projects/AttributeNumbers.h"
#include "transport/RegularFile.h"
#include "transport/SourceFingerprint.h"
#include "transport/SourceRange.h"
#include "workflow/StableHash.h"
#include "workflow/TresselSessionTree.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace sorvane
{
namespace
{
namespace ids
{
const juce::Identifier projectType{"SORVANE_PROJECT"};
const juce::Identifier schemaVersion{"schemaVersion"};
const juce::Identifier sourcePath{"sourcePath"};
const juce::Identifier sourceFingerprint{"sourceFingerprint"};
const juce::Identifier mutationSeed{"mutationSeed"};
const juce::Identifier macroLockMask{"macroLockMask"};
const juce::Identifier loopStart{"loopStart"};
const juce::Identifier loopEnd{"loopEnd"};
const juce::Identifier loopEnabled{"loopEnabled"};
const juce::Identifier snapRangeToZero{"snapRangeToZero"};
const juce::Identifier tempo{"tempo"};
const juce::Identifier playbackPosition{"playbackPosition"};
const juce::Identifier captureBars{"captureBars"};
const juce::Identifier captureTail{"captureTail"};
const juce::Identifier crossfadeMilliseconds{"crossfadeMilliseconds"};
const juce::Identifier exportFormat{"exportFormat"};
const juce::Identifier exportTargetLufs{"exportTargetLufs"};
const juce::Identifier socialAspect{"socialAspect"};
const juce::Identifier socialDuration{"socialDuration"};
const juce::Identifier socialBackground{"socialBackground"};
const juce::Identifier videoArtist{"videoArtist"};
const juce::Identifier videoEffectedOnly{"videoEffectedOnly"};
const juce::Identifier autosave{"autosave"};
const juce::Identifier autosaveTimestampMilliseconds{"autosaveTimestampMilliseconds"};
const juce::Identifier originProjectPath{"originProjectPath"};
const juce::Identifier contentHash{"contentHash"};
} // namespace ids

const juce::String notWritableMessage{"Choose a writable .sorvaneproject file."};
const juce::String sourceDestinationMessage{
    "Choose a different project destination; the source audio must be preserved."};
const juce::String folderMessage{"Could not create the project folder."};
const juce::String serializeMessage{"Could not serialize the Sorvane project."};
const juce::String atomicWriteMessage{"Could not atomically write the Sorvane project."};

const juce::String boundedMessage{"The project is missing, empty, or exceeds the 2 MB bounded-state limit."};
const juce::String notProjectMessage{"The selected file is not a valid Sorvane project."};
const juce::String otherProductMessage{"The project belongs to a different product or is damaged."};
const juce::String schemaMessage{"This project schema is not supported by this Sorvane version."};
const juce::String noStateMessage{"The project does not contain a parameter state."};
const juce::String hashMessage{
    "The project content hash does not match; the file may be incomplete or corrupt."};

// Root, parameter state, PARAM is 3 deep; a session's states sit at 5. Room to spare, but no
// recursion deep enough to hurt JUCE's parser or the value tree conversion.
constexpr XmlLimits projectXmlLimits{(std::size_t)maxCreatorProjectBytes, 16};
constexpr int maxArtistCharacters = 80;
// No tree of a project has more than about 30 properties; the bound keeps the check below, which
// reaches each attribute by walking the list from its start, from turning quadratic.
constexpr int maxAttributesPerElement = 256;

// Beyond what the guard checks: the value tree conversion decodes a "base64:" attribute into a
// block of whatever size the text names, and throws std::bad_alloc for "-1."; nothing Sorvane
// writes carries one.
bool hasOnlyPlainAttributes(const juce::XmlElement& element)
{
    const int count = element.getNumAttributes();
    if (count > maxAttributesPerElement)
        return false;
    for (int i = 0; i < count; ++i)
        if (element.getAttributeName(i).startsWith("base64:"))
            return false;
    for (const auto* child : element.getChildIterator())
        if (!hasOnlyPlainAttributes(*child))
            return false;
    return true;
}

// JUCE turns a double into text through an int conversion that is undefined for NaN, and the
// reader refuses non-finite numbers: such a record has no file form.
bool treeHasNonFiniteNumber(const juce::ValueTree& tree)
{
    for (int i = 0; i < tree.getNumProperties(); ++i)
    {
        const auto& value = tree.getProperty(tree.getPropertyName(i));
        if (value.isDouble() && !std::isfinite((double)value))
            return true;
    }
    for (const auto& child : tree)
        if (treeHasNonFiniteNumber(child))
            return true;
    return false;
}

bool recordHasNonFiniteNumber(const CreatorProjectData& data)
{
    for (const double value : {data.loopStart, data.loopEnd, data.tempo, data.playbackPosition,
                               (double)data.crossfadeMilliseconds, data.exportTargetLufs})
        if (!std::isfinite(value))
            return true;
    if (treeHasNonFiniteNumber(data.parameterState))
        return true;
    const auto& session = data.tresselSession;
    if (!std::isfinite(session.chaosPercent) || treeHasNonFiniteNumber(session.baseline))
        return true;
    for (const auto& variant : session.variants)
        if (treeHasNonFiniteNumber(variant))
            return true;
    for (const auto& entry : session.history)
        if (treeHasNonFiniteNumber(entry))
            return true;
    return false;
}

juce::ValueTree makeProjectTree(const CreatorProjectData& data)
{
    juce::ValueTree tree{ids::projectType};
    const auto set = [&tree](const juce::Identifier& id, const juce::var& value)
    { tree.setProperty(id, value, nullptr); };

    set(ids::schemaVersion, creatorProjectSchemaVersion);
    set(ids::sourcePath, data.sourceFile.getFullPathName());
    set(ids::sourceFingerprint, data.sourceFingerprint);
    set(ids::mutationSeed, (juce::int64)data.mutationSeed);
    set(ids::macroLockMask, (juce::int64)data.macroLockMask);
    set(ids::loopStart, data.loopStart);
    set(ids::loopEnd, data.loopEnd);
    set(ids::loopEnabled, data.loopEnabled);
    set(ids::snapRangeToZero, data.snapRangeToZero);
    set(ids::tempo, data.tempo);
    set(ids::playbackPosition, data.playbackPosition);
    set(ids::captureBars, data.captureBars);
    set(ids::captureTail, data.captureTail);
    set(ids::crossfadeMilliseconds, (double)data.crossfadeMilliseconds);
    set(ids::exportFormat, data.exportFormat);
    set(ids::exportTargetLufs, data.exportTargetLufs);
    set(ids::socialAspect, data.socialAspect);
    set(ids::socialDuration, data.socialDuration);
    set(ids::socialBackground, data.socialBackground);
    set(ids::videoArtist, data.videoArtist);
    set(ids::videoEffectedOnly, data.videoEffectedOnly);
    set(ids::autosave, data.autosave);
    set(ids::autosaveTimestampMilliseconds, (juce::int64)data.autosaveTimestampMilliseconds);
    set(ids::originProjectPath, data.originProjectPath.getFullPathName());

    if (data.parameterState.isValid())
        tree.appendChild(data.parameterState.createCopy(), nullptr);
    if (data.tresselSession.isValid())
        tree.appendChild(tresselSessionToTree(data.tresselSession), nullptr);
    return tree;
}

// A temporary file created exclusively beside the target, so nothing else's file or link is ever
// written through; removed on every path that does not rename it into place.
class SiblingTemporaryFile
{
public:
    explicit SiblingTemporaryFile(const juce::File& target)
    {
        // The shared naming, so the next write of this target sweeps what a killed one left.
        for (int attempt = 0; attempt < 8 && fd < 0; ++attempt)
        {
            file = temporaryFileBeside(target);
            fd = ::open(file.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0 && errno != EEXIST)
                break;
        }
        created = fd >= 0;
        if (!created)
            code = errno;
    }

    ~SiblingTemporaryFile()
    {
        closeFile();
        if (created && !published)
            ::unlink(file.getFullPathName().toRawUTF8());
    }

    SiblingTemporaryFile(const SiblingTemporaryFile&) = delete;
    SiblingTemporaryFile& operator=(const SiblingTemporaryFile&) = delete;

    bool writeAll(const char* bytes, std::size_t size)
    {
        if (fd < 0)
            return false;
        while (size > 0)
        {
            const auto n = ::write(fd, bytes, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
            {
                code = n < 0 ? errno : ENOSPC;
                return false;
            }
            bytes += n;
            size -= (std::size_t)n;
        }
        return closeFile();
    }

    bool publishOver(const juce::File& target)
    {
        errno = 0;
        published = fd < 0 && replaceFileDurably(file, target);
        if (!published && code == 0)
            code = errno != 0 ? errno : EIO;
        return published;
    }

    // errno of the first failure, 0 when there was none.
    int errorCode() const noexcept { return code; }

private:
    juce::File file;
    int fd = -1;
    int code = 0;
    bool created = false;
    bool published = false;

    bool closeFile()
    {
        if (fd < 0)
            return true;
        const bool closed = ::close(fd) == 0;
        if (!closed && code == 0)
            code = errno;
        fd = -1;
        return closed;
    }
};

// The whole file, opened so that a pipe or device is refused without blocking, its size checked
// before any byte is read, and never more than the limit plus one byte read: a file that grew
// after the check is still refused.
bool readBoundedFile(const juce::File& file, std::vector<char>& bytes)
{
    juce::String unused;
    const auto stream = openRegularFile(file, unused);
    if (stream == nullptr)
        return false;

    const auto size = stream->getTotalLength();
    if (size <= 0 || size > maxCreatorProjectBytes)
        return false;

    bytes.resize((std::size_t)size + 1);
    std::size_t total = 0;
    while (total < bytes.size())
    {
        const int got = stream->read(bytes.data() + total, (int)(bytes.size() - total));
        if (got <= 0)
            break;
        total += (std::size_t)got;
    }
    bytes.resize(total);
    return total > 0 && total <= (std::size_t)maxCreatorProjectBytes;
}

// Outside text that does not name an absolute path names nothing; JUCE would resolve it against
// whatever the working folder happens to be.
juce::File absolutePathOf(const juce::var& value)
{
    const auto text = value.toString();
    return juce::File::isAbsolutePath(text) ? juce::File(text) : juce::File();
}

template <typename Number>
Number clampedInteger(const juce::ValueTree& tree, const juce::Identifier& id, Number fallback, Number lowest,
                      Number highest)
{
    if (!tree.hasProperty(id))
        return fallback;
    const auto value = readAttributeInteger(tree[id]).saturated();
    return (Number)juce::jlimit((std::int64_t)lowest, (std::int64_t)highest, value);
}

bool boolOf(const juce::ValueTree& tree, const juce::Identifier& id, bool fallback)
{
    return tree.hasProperty(id) ? readAttributeBool(tree[id]) : fallback;
}

double doubleOf(const juce::ValueTree& tree, const juce::Identifier& id, double fallback)
{
    return tree.hasProperty(id) ? readAttributeDouble(tree[id]) : fallback;
}
} // namespace

bool writeCreatorProject(const juce::File& file, const CreatorProjectData& data, juce::String& error)
{
    error.clear();
    const auto fail = [&error](const juce::String& message)
    {
        error = message;
        return false;
    };

    if (file.getFullPathName().isEmpty() || file.isDirectory())
        return fail(notWritableMessage);
    if (file.getFullPathName().equalsIgnoreCase(data.sourceFile.getFullPathName()))
        return fail(sourceDestinationMessage);

    const auto folder = file.getParentDirectory();
    if (!folder.isDirectory() && folder.createDirectory().failed())
        return fail(folderMessage);

    if (recordHasNonFiniteNumber(data))
        return fail(serializeMessage);

    auto tree = makeProjectTree(data);
    tree.setProperty(ids::contentHash, treeDigest(tree), nullptr);

    const auto xml = tree.createXml();
    if (xml == nullptr)
        return fail(serializeMessage);
    const auto text = xml->toString(juce::XmlElement::TextFormat());
    const auto size = text.getNumBytesAsUTF8();
    // A project the reader would refuse is lost work, and an autosave would replace a good one.
    if (size > (std::size_t)maxCreatorProjectBytes)
        return fail(serializeMessage);

    sweepStaleTemporaries(file);
    SiblingTemporaryFile temporary(file);
    if (!temporary.writeAll(text.toRawUTF8(), size) || !temporary.publishOver(file))
    {
        // The one sentence, then the system's words for why: a full disk must read as one.
        const auto why = describeWriteError(temporary.errorCode());
        return fail(why.isEmpty() ? atomicWriteMessage
                                  : atomicWriteMessage + " " + why.substring(0, 1).toUpperCase() +
                                        why.substring(1) + ".");
    }
    return true;
}

bool readCreatorProject(const juce::File& file, CreatorProjectData& data, juce::String& error)
{
    error.clear();
    const auto fail = [&error](const juce::String& message)
    {
        error = message;
        return false;
    };

    std::vector<char> bytes;
    if (!readBoundedFile(file, bytes))
        return fail(boundedMessage);

    std::unique_ptr<juce::XmlElement> xml;
    if (!parseOutsideXml(bytes.data(), bytes.size(), projectXmlLimits, notProjectMessage, xml, error))
        return false;
    if (!hasOnlyPlainAttributes(*xml))
        return fail(notProjectMessage);

    const auto tree = juce::ValueTree::fromXml(*xml);
    xml.reset();
    if (!tree.isValid() || !tree.hasType(ids::projectType))
        return fail(otherProductMessage);

    const auto schema =
        tree.hasProperty(ids::schemaVersion) ? readAttributeInteger(tree[ids::schemaVersion]).saturated() : 0;
    if (schema < 1 || schema > 3)
        return fail(schemaMessage);

    if (tree.getNumChildren() < 1)
        return fail(noStateMessage);

    const auto storedHash = tree[ids::contentHash].toString();
    if (schema == 3)
    {
        auto unsealed = tree.createCopy();
        unsealed.removeProperty(ids::contentHash, nullptr);
        if (storedHash.isEmpty() || storedHash != treeDigest(unsealed))
            return fail(hashMessage);
    }

    for (const auto* id :
         {&ids::tempo, &ids::playbackPosition, &ids::crossfadeMilliseconds, &ids::exportTargetLufs})
        if (tree.hasProperty(*id) && !std::isfinite(readAttributeDouble(tree[*id])))
            return fail("The project contains a non-finite value for " + id->toString() + ".");

    CreatorProjectData result;
    result.sourceFile = absolutePathOf(tree[ids::sourcePath]);
    result.sourceFingerprint = tree[ids::sourceFingerprint].toString();
    result.parameterState = tree.getChild(0).createCopy();
    result.mutationSeed = tree.hasProperty(ids::mutationSeed)
                              ? (std::uint32_t)readAttributeInteger(tree[ids::mutationSeed]).bits()
                              : 0u;
    result.macroLockMask = tree.hasProperty(ids::macroLockMask)
                               ? readAttributeInteger(tree[ids::macroLockMask]).bits()
                               : (std::uint64_t)0;

    juce::String rangeError;
    if (!normaliseCreatorRange(doubleOf(tree, ids::loopStart, 0.0), doubleOf(tree, ids::loopEnd, 1.0),
                               result.loopStart, result.loopEnd, rangeError))
        return fail(rangeError);

    if (schema >= 3)
    {
        result.loopEnabled = boolOf(tree, ids::loopEnabled, true);
        result.snapRangeToZero = boolOf(tree, ids::snapRangeToZero, false);
    }

    result.tempo = juce::jlimit(30.0, 300.0, doubleOf(tree, ids::tempo, 120.0));
    result.playbackPosition = juce::jlimit(0.0, 1.0, doubleOf(tree, ids::playbackPosition, 0.0));
    result.captureBars = clampedInteger(tree, ids::captureBars, 4, 1, 16);
    result.captureTail = boolOf(tree, ids::captureTail, true);
    result.crossfadeMilliseconds =
        (float)juce::jlimit(5.0, 30.0, doubleOf(tree, ids::crossfadeMilliseconds, 12.0));
    result.exportFormat = tree.getProperty(ids::exportFormat, "WAV24").toString();
    result.exportTargetLufs = juce::jlimit(-24.0, -6.0, doubleOf(tree, ids::exportTargetLufs, -14.0));
    result.socialAspect = clampedInteger(tree, ids::socialAspect, 0, 0, 2);
    result.socialDuration = clampedInteger(tree, ids::socialDuration, 0, 0, 2);
    result.socialBackground = clampedInteger(tree, ids::socialBackground, 0, 0, 2);
    result.videoArtist = tree[ids::videoArtist].toString().substring(0, maxArtistCharacters);
    result.videoEffectedOnly = boolOf(tree, ids::videoEffectedOnly, false);
    if (schema >= 3)
        result.autosave = boolOf(tree, ids::autosave, false);
    result.autosaveTimestampMilliseconds =
        tree.hasProperty(ids::autosaveTimestampMilliseconds)
            ? readAttributeInteger(tree[ids::autosaveTimestampMilliseconds]).saturated()
            : (std::int64_t)0;
    result.originProjectPath = absolutePathOf(tree[ids::originProjectPath]);
    result.contentHash = storedHash;

    if (schema >= 2)
    {
        const auto session = tree.getChildWithName(tresselTreeIds::sessionType);
        if (session.isValid() && !tresselSessionFromTree(session, result.tresselSession, error))
            return false;
    }

    data = std::move(result);
    return true;
}

bool sourceMatchesProject(const CreatorProjectData& data, const juce::File& file)
{
    if (data.sourceFingerprint.isEmpty() || !file.exists() || file.isDirectory())
        return false;
    return data.sourceFingerprint == createSourceFingerprint(file);
}
} // namespace sorvane
