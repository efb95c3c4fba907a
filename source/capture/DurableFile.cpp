#include "capture/DurableFile.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace sorvane
{
namespace
{
bool syncPath(const juce::File& path, int flags)
{
    const int fd = ::open(path.getFullPathName().toRawUTF8(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}
} // namespace

bool syncFileToDisk(const juce::File& file)
{
    return syncPath(file, O_RDONLY);
}

bool syncFolderToDisk(const juce::File& folder)
{
    return syncPath(folder, O_RDONLY | O_DIRECTORY);
}

bool replaceFileDurably(const juce::File& temporary, const juce::File& target)
{
    if (temporary.getParentDirectory() != target.getParentDirectory() || !syncFileToDisk(temporary))
        return false;
    // rename() replaces the target in one step: a reader sees the old file or the new one, never a mix.
    if (std::rename(temporary.getFullPathName().toRawUTF8(), target.getFullPathName().toRawUTF8()) != 0)
        return false;
    // The rename is done; a folder that cannot be synced only weakens the crash guarantee.
    syncFolderToDisk(target.getParentDirectory());
    return true;
}
} // namespace sorvane
