#include "presets/PresetFileIo.h"

#include "capture/DurableFile.h"
#include "processor/SafeXml.h"
#include "transport/RegularFile.h"

#include <algorithm>
#include <atomic>
#include <dirent.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sorvane
{
namespace
{
constexpr int maxXmlDepth = 16;
constexpr int maxAttributesPerElement = 256;

// ValueTree::fromXml decodes "base64:" attributes into blocks of any size the text names; nothing a
// preset holds is binary.
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

bool writeAll(int fd, const char* bytes, std::size_t size)
{
    while (size > 0)
    {
        const auto n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = EIO;
        if (n <= 0)
            return false;
        bytes += n;
        size -= (std::size_t)n;
    }
    return true;
}
} // namespace

juce::File presetTemporaryFileFor(const juce::File& target)
{
    static std::atomic<std::uint32_t> counter{0};
    // The target's name is shortened where needed, never the part that makes the name unique.
    return target.getSiblingFile(
        fileNameWithin(".", target.getFileName(),
                       ".partial-" + juce::String((int)::getpid()) + "-" +
                           juce::String::toHexString((int)counter.fetch_add(1)) + "-" +
                           juce::String::toHexString(juce::Time::getHighResolutionTicks()) + ".tmp"));
}

PresetReadResult readXmlTree(const juce::File& file, std::int64_t maxBytes, const juce::Identifier& rootType,
                             juce::ValueTree& out)
{
    juce::String error;
    const auto stream = openRegularFile(file, error);
    if (stream == nullptr)
        return PresetReadResult::missing;

    const auto size = stream->getTotalLength();
    if (size > maxBytes)
        return PresetReadResult::tooLarge;

    // One byte more than allowed, so a file that grew after the size check is still refused.
    std::vector<char> bytes((std::size_t)juce::jmax<std::int64_t>(size, 0) + 1);
    std::size_t total = 0;
    while (total < bytes.size())
    {
        const int got = stream->read(bytes.data() + total, (int)(bytes.size() - total));
        if (got <= 0)
            break;
        total += (std::size_t)got;
    }
    if ((std::int64_t)total > maxBytes)
        return PresetReadResult::tooLarge;

    std::unique_ptr<juce::XmlElement> xml;
    if (total == 0 ||
        !parseOutsideXml(bytes.data(), total, {(std::size_t)maxBytes, maxXmlDepth}, "not XML", xml, error) ||
        !hasOnlyPlainAttributes(*xml))
        return PresetReadResult::notXml;

    auto tree = juce::ValueTree::fromXml(*xml);
    if (!tree.isValid())
        return PresetReadResult::notXml;
    if (!tree.hasType(rootType))
        return PresetReadResult::otherRoot;
    out = tree;
    return PresetReadResult::ok;
}

juce::String presetXmlText(const juce::ValueTree& tree)
{
    const auto xml = tree.createXml();
    if (xml == nullptr)
        return {};
    // JUCE's default format already ends lines with CR LF. (String::replace copies the whole text per
    // occurrence, which made a ten-thousand-entry index take minutes.)
    return xml->toString();
}

bool writeFileAtomically(const juce::File& target, const juce::String& text, bool replace)
{
    juce::String reason;
    return writeFileAtomically(target, text, replace, reason);
}

bool writeFileAtomically(const juce::File& target, const juce::String& text, bool replace,
                         juce::String& reason)
{
    reason.clear();
    if (target.getFullPathName().isEmpty() || target.isDirectory() || text.isEmpty())
    {
        reason = target.getFullPathName().isEmpty() ? "no file was named"
                 : target.isDirectory()             ? "it is a folder"
                                                    : "there is nothing to write";
        return false;
    }

    const auto failed = [&reason](int code)
    {
        reason = describeWriteError(code);
        return false;
    };

    // What a writer killed mid-write left beside this target: exactly presetTemporaryFileFor's names.
    sweepStaleTemporaries(
        target,
        [&target](const juce::String& name)
        {
            const auto marker = name.lastIndexOf(".partial-");
            const auto parts = juce::StringArray::fromTokens(
                name.substring(marker + 9).upToLastOccurrenceOf(".tmp", false, false), "-", {});
            return marker > 0 && name.endsWith(".tmp") && parts.size() == 3 &&
                   parts[0].containsOnly("0123456789") && parts[0].isNotEmpty() &&
                   parts[1].containsOnly("0123456789abcdef") && parts[1].isNotEmpty() &&
                   parts[2].containsOnly("0123456789abcdef") && parts[2].isNotEmpty() &&
                   name == fileNameWithin(".", target.getFileName(), name.substring(marker));
        });
    auto temporary = presetTemporaryFileFor(target);
    const int fd =
        ::open(temporary.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return failed(errno);

    const bool written = writeAll(fd, text.toRawUTF8(), text.getNumBytesAsUTF8());
    int code = written ? 0 : errno;
    const bool closed = ::close(fd) == 0;
    if (code == 0 && !closed)
        code = errno;
    bool published = false;
    if (written && closed)
    {
        if (replace)
            published = replaceFileDurably(temporary, target);
        else
            published = syncFileToDisk(temporary) && moveWithoutReplacing(temporary, target) &&
                        (syncFolderToDisk(target.getParentDirectory()) || true);
        code = published ? 0 : errno;
    }
    if (!published && temporary.existsAsFile())
        temporary.deleteFile();
    return published || failed(code != 0 ? code : EIO);
}

std::vector<juce::File> listFilesWithExtension(const juce::File& folder, const char* extension,
                                               juce::StringArray& unlisted)
{
    std::vector<juce::File> files;
    const auto path = folder.getFullPathName().toStdString();
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr)
        return files;
    const std::string suffix(extension);
    while (const auto* entry = ::readdir(dir))
    {
        const std::string name(entry->d_name);
        if (name.size() <= suffix.size() ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        struct stat info
        {
        };
        if (::stat((path + "/" + name).c_str(), &info) != 0 || S_ISDIR(info.st_mode))
            continue;
        // juce::String keeps odd bytes as they are, but cuts and compares them as something else.
        if (!isStrictUtf8(name.data(), name.size()))
        {
            juce::String shown;
            for (const unsigned char c : name)
                shown << (c < 0x80 ? juce::String::charToString((juce::juce_wchar)c)
                                   : "\\x" + juce::String::toHexString((int)c).toUpperCase());
            unlisted.add(shown);
            continue;
        }
        files.push_back(folder.getChildFile(juce::String::fromUTF8(name.c_str(), (int)name.size())));
    }
    ::closedir(dir);
    std::sort(files.begin(), files.end());
    unlisted.sort(false);
    return files;
}

bool moveWithoutReplacing(const juce::File& from, const juce::File& to)
{
    const auto source = from.getFullPathName().toStdString();
    const auto target = to.getFullPathName().toStdString();
#if defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    // Without kernel support a hard link refuses an existing name just as well.
    if (::link(source.c_str(), target.c_str()) != 0)
        return false;
    return ::unlink(source.c_str()) == 0;
}

juce::File moveIntoFolderKeepingName(const juce::File& file, const juce::File& folder)
{
    // Another writer may take the chosen name between the choice and the move: choose again.
    for (int attempt = 0; attempt < 8; ++attempt)
    {
        const auto target =
            folder.getNonexistentChildFile(file.getFileNameWithoutExtension(), file.getFileExtension(), true);
        if (moveWithoutReplacing(file, target))
        {
            syncFolderToDisk(folder);
            syncFolderToDisk(file.getParentDirectory());
            return target;
        }
        if (!file.exists() || errno != EEXIST)
            break;
    }
    return {};
}

bool isPresetTemporaryFile(const juce::File& file)
{
    const auto name = file.getFileName();
    return name.startsWithChar('.') && name.contains(".partial-");
}

FileStamp statFile(const juce::File& file)
{
    FileStamp stamp;
    struct stat info
    {
    };
    if (::stat(file.getFullPathName().toRawUTF8(), &info) != 0 || !S_ISREG(info.st_mode))
        return stamp;
    stamp.regular = true;
    stamp.size = (std::int64_t)info.st_size;
    stamp.modifiedMilliseconds =
        (std::int64_t)info.st_mtim.tv_sec * 1000 + (std::int64_t)info.st_mtim.tv_nsec / 1000000;
    return stamp;
}
} // namespace sorvane
