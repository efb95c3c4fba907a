#include "capture/DurableFile.h"

#include <random>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace sorvane
{
namespace
{
bool syncPath(const juce::File& path, bool folder)
{
    int fd = -1;
    do
        fd = ::open(path.getFullPathName().toRawUTF8(), O_RDONLY | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
    while (fd < 0 && errno == EINTR);

    if (fd < 0)
        return false;

    bool ok = ::fsync(fd) == 0;
    // Some file systems cannot sync a folder at all; a rename there is as durable as it gets.
    if (!ok && folder && errno == EINVAL)
        ok = true;

    ::close(fd);
    return ok;
}

bool syncTreeToDisk(const juce::File& folder)
{
    for (const auto& child : folder.findChildFiles(juce::File::findFilesAndDirectories, false, "*",
                                                   juce::File::FollowSymlinks::no))
    {
        // A link is published as a link; what it points at is not ours to sync.
        if (child.isSymbolicLink())
            continue;

        if (child.isDirectory() ? !syncTreeToDisk(child) : !syncFileToDisk(child))
            return false;
    }
    return syncFolderToDisk(folder);
}

bool renameWithoutReplacing(const juce::File& from, const juce::File& to)
{
    const auto source = from.getFullPathName().toStdString();
    const auto target = to.getFullPathName().toStdString();

#if defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return true;

    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif

    // Without kernel support a plain rename would replace an empty folder that appeared meanwhile.
    if (to.exists() || to.isSymbolicLink())
        return false;

    return std::rename(source.c_str(), target.c_str()) == 0;
}
} // namespace

bool syncFileToDisk(const juce::File& file)
{
    return file.existsAsFile() && syncPath(file, false);
}

bool syncFolderToDisk(const juce::File& folder)
{
    return folder.isDirectory() && syncPath(folder, true);
}

juce::String fileNameWithin(const juce::String& prefix, const juce::String& name, const juce::String& suffix)
{
    const auto fixedBytes = prefix.getNumBytesAsUTF8() + suffix.getNumBytesAsUTF8();
    if (fixedBytes > (size_t)maxFileNameBytes)
        return {};

    const auto* bytes = name.toRawUTF8();
    auto kept = name.getNumBytesAsUTF8();
    if (kept > (size_t)maxFileNameBytes - fixedBytes)
    {
        kept = (size_t)maxFileNameBytes - fixedBytes;
        // Back to the lead byte of the character the cut falls in.
        while (kept > 0 && ((unsigned char)bytes[kept] & 0xc0) == 0x80)
            --kept;
    }
    return prefix + juce::String::fromUTF8(bytes, (int)kept) + suffix;
}

juce::File temporaryFileBeside(const juce::File& target)
{
    std::random_device device;
    const auto folder = target.getParentDirectory();
    juce::File candidate;
    // 64 random bits practically never repeat; a name that exists anyway is drawn again.
    for (int attempt = 0; attempt < 8; ++attempt)
    {
        const auto tag = juce::String::toHexString((juce::int64)(((std::uint64_t)device() << 32) | device()))
                             .paddedLeft('0', 16);
        // The extension stays last (a writer may choose its format by it) unless it is too long to.
        auto name = fileNameWithin(".", target.getFileNameWithoutExtension(),
                                   ".partial-" + tag + target.getFileExtension());
        if (name.isEmpty())
            name = fileNameWithin(".", target.getFileName(), ".partial-" + tag);
        candidate = folder.getChildFile(name);
        if (!candidate.exists() && !candidate.isSymbolicLink())
            break;
    }
    return candidate;
}

bool writeNewFile(const juce::File& file, const void* data, size_t size)
{
    const auto fd = ::open(file.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    auto* bytes = static_cast<const char*>(data);
    bool written = true;
    while (size > 0 && written)
    {
        const auto n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        written = n > 0;
        if (written)
        {
            bytes += n;
            size -= (size_t)n;
        }
    }
    return ::close(fd) == 0 && written;
}

bool replaceFileDurably(const juce::File& temporary, const juce::File& target)
{
    if (!temporary.existsAsFile() || temporary.getParentDirectory() != target.getParentDirectory())
        return false;

    if (!syncFileToDisk(temporary))
        return false;

    if (std::rename(temporary.getFullPathName().toRawUTF8(), target.getFullPathName().toRawUTF8()) != 0)
        return false;

    return syncFolderToDisk(target.getParentDirectory());
}

bool publishFolderDurably(const juce::File& staging, const juce::File& destination)
{
    if (!staging.isDirectory() || staging.isSymbolicLink() ||
        staging.getParentDirectory() != destination.getParentDirectory())
        return false;

    if (!syncTreeToDisk(staging))
        return false;

    if (!renameWithoutReplacing(staging, destination))
        return false;

    return syncFolderToDisk(destination.getParentDirectory());
}
} // namespace sorvane
