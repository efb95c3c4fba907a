#pragma once

#include <juce_core/juce_core.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace sorvane::test
{
// A real file system of a few pages (tmpfs) mounted over a folder for the object's lifetime, which a
// test can fill to the last byte. The files already in the folder are copied onto it, so the code under
// test finds what it expects. Mounting needs root; isMounted() is false elsewhere and whyNot() says why,
// for the caller to skip with that reason.
class SmallTmpfs
{
public:
    explicit SmallTmpfs(juce::File mountPoint, int kilobytes = 64) : folder(std::move(mountPoint))
    {
        if (!folder.isDirectory() && !folder.createDirectory().wasOk())
        {
            reason = "cannot create " + folder.getFullPathName();
            return;
        }
        std::vector<std::pair<juce::String, juce::MemoryBlock>> kept;
        for (const auto& file :
             folder.findChildFiles(juce::File::findFiles, true, "*", juce::File::FollowSymlinks::no))
        {
            juce::MemoryBlock bytes;
            file.loadFileAsData(bytes);
            kept.emplace_back(file.getRelativePathFrom(folder), std::move(bytes));
        }
        const auto options = "size=" + juce::String(kilobytes) + "k,mode=0755";
        if (::mount("tmpfs", folder.getFullPathName().toRawUTF8(), "tmpfs", MS_NOSUID | MS_NODEV,
                    options.toRawUTF8()) != 0)
        {
            reason =
                "cannot mount a tmpfs here (" + juce::String(std::strerror(errno)) + "; mounting needs root)";
            return;
        }
        mounted = true;
        for (const auto& [path, bytes] : kept)
        {
            const auto file = folder.getChildFile(path);
            file.getParentDirectory().createDirectory();
            file.replaceWithData(bytes.getData(), bytes.getSize());
        }
    }

    ~SmallTmpfs()
    {
        if (mounted)
            ::umount2(folder.getFullPathName().toRawUTF8(), MNT_DETACH);
    }

    bool isMounted() const noexcept { return mounted; }
    const juce::String& whyNot() const noexcept { return reason; }

    // Writes a filler file until the file system refuses another byte; true when none is left.
    bool fill() const
    {
        const auto fd =
            ::open(filler().getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        std::vector<char> block(4096, 'x');
        // Whole pages first, then single bytes into the last page that was started.
        for (const size_t size : {block.size(), (size_t)1})
            while (::write(fd, block.data(), size) == (ssize_t)size)
            {
            }
        const bool full = errno == ENOSPC;
        ::close(fd);
        struct statvfs info
        {
        };
        return full && ::statvfs(folder.getFullPathName().toRawUTF8(), &info) == 0 && info.f_bavail == 0;
    }

    // Fills the file system, then gives back exactly `pages` whole pages, so the next writer runs out
    // of room at a byte the test chooses.
    bool leaveFreePages(int pages) const
    {
        if (!fill())
            return false;
        const auto size = filler().getSize() - (juce::int64)pages * pageBytes;
        struct statvfs info
        {
        };
        return size >= 0 && ::truncate(filler().getFullPathName().toRawUTF8(), (off_t)size) == 0 &&
               ::statvfs(folder.getFullPathName().toRawUTF8(), &info) == 0 &&
               (juce::int64)info.f_bavail * (juce::int64)info.f_frsize == (juce::int64)pages * pageBytes;
    }

    // Pages a file of `bytes` takes on this file system.
    static int pagesFor(juce::int64 bytes) { return (int)((bytes + pageBytes - 1) / pageBytes); }

    // Gives the space back.
    bool empty() const { return filler().deleteFile(); }

    juce::File filler() const { return folder.getChildFile("filler"); }

    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

private:
    static constexpr juce::int64 pageBytes = 4096;
    juce::File folder;
    juce::String reason;
    bool mounted = false;
};
} // namespace sorvane::test
