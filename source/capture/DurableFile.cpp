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

juce::File temporaryFileBeside(const juce::File& target)
{
    std::random_device device;
    const auto tag = juce::String::toHexString((juce::int64)(((std::uint64_t)device() << 32) | device()));
    return target.getParentDirectory().getNonexistentChildFile(
        "." + target.getFileNameWithoutExtension() + ".partial-" + tag, target.getFileExtension(), false);
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
