#include "capture/DurableFile.h"

#include <random>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

namespace sorvane
{
namespace
{
// Temporaries changed after this moment may belong to a writer that is still running.
const juce::int64 processStartMilliseconds = juce::Time::currentTimeMillis();

bool isLowerHex(const juce::String& text)
{
    return text.containsOnly("0123456789abcdef");
}
} // namespace

juce::String describeWriteError(int code)
{
    if (code == 0)
        return {};
    juce::String text(std::strerror(code));
    if (code == ENOSPC)
        text << " (the disk is full)";
    else if (code == EDQUOT)
        text << " (the disk quota is used up)";
    return text;
}

CheckedFileOutputStream::CheckedFileOutputStream(const juce::File& fileToCreate, size_t bufferBytes)
    : file(fileToCreate), capacity(bufferBytes)
{
    do
        fd = ::open(file.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                    0644);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
    {
        errorCode = errno;
        return;
    }
    // Tells a sweep in another process that this temporary is still being written.
    ::flock(fd, LOCK_EX | LOCK_NB);
    if (capacity > 0)
        buffer.malloc(capacity);
}

CheckedFileOutputStream::~CheckedFileOutputStream()
{
    if (fd >= 0)
        ::close(fd);
}

bool CheckedFileOutputStream::fail(int code)
{
    if (errorCode == 0)
        errorCode = code != 0 ? code : EIO;
    return false;
}

bool CheckedFileOutputStream::writeOut(const char* data, size_t size)
{
    while (size > 0)
    {
        const auto n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(errno);
        // A write that takes nothing without an error would loop forever.
        if (n == 0)
            return fail(ENOSPC);
        data += n;
        size -= (size_t)n;
    }
    return true;
}

void CheckedFileOutputStream::flush()
{
    if (fd < 0 || failed() || used == 0)
        return;
    writeOut(buffer.get(), used);
    used = 0;
}

bool CheckedFileOutputStream::setPosition(juce::int64 newPosition)
{
    if (fd < 0 || failed())
        return false;
    flush();
    if (failed())
        return false;
    if (::lseek(fd, (off_t)newPosition, SEEK_SET) < 0)
        return fail(errno);
    position = newPosition;
    return true;
}

bool CheckedFileOutputStream::write(const void* data, size_t numBytes)
{
    if (fd < 0 || failed())
        return false;
    const auto* bytes = static_cast<const char*>(data);
    if (used + numBytes > capacity)
    {
        flush();
        if (failed())
            return false;
    }
    if (numBytes >= capacity)
    {
        if (!writeOut(bytes, numBytes))
            return false;
    }
    else
    {
        std::memcpy(buffer.get() + used, bytes, numBytes);
        used += numBytes;
    }
    position += (juce::int64)numBytes;
    furthest = std::max(furthest, position);
    return true;
}

bool CheckedFileOutputStream::finish(juce::String& reason)
{
    if (fd >= 0)
    {
        flush();
        if (!failed() && ::fsync(fd) != 0 && errno != EINVAL)
            fail(errno);
        struct stat info
        {
        };
        const bool sized = ::fstat(fd, &info) == 0;
        if (!failed() && !sized)
            fail(errno);
        if (::close(fd) != 0 && errno != EINTR)
            fail(errno);
        fd = -1;
        // The file system's own count of the bytes, in case a write was lost without an error.
        if (!failed() && sized && (juce::int64)info.st_size != furthest)
        {
            reason = "only " + juce::String((juce::int64)info.st_size) + " of " + juce::String(furthest) +
                     " bytes reached the disk";
            return false;
        }
    }
    if (failed())
    {
        reason = failureReason();
        return false;
    }
    return true;
}

namespace
{
class BorrowedStream final : public juce::OutputStream
{
public:
    explicit BorrowedStream(juce::OutputStream& targetStream) : target(targetStream) {}
    void flush() override { target.flush(); }
    bool setPosition(juce::int64 position) override { return target.setPosition(position); }
    juce::int64 getPosition() override { return target.getPosition(); }
    bool write(const void* data, size_t bytes) override { return target.write(data, bytes); }

private:
    juce::OutputStream& target;
};
} // namespace

std::unique_ptr<juce::OutputStream> borrowStream(juce::OutputStream& target)
{
    return std::make_unique<BorrowedStream>(target);
}

bool isTemporaryNameFor(const juce::String& name, const juce::File& target)
{
    const auto marker = name.lastIndexOf(".partial-");
    if (!name.startsWithChar('.') || marker < 1)
        return false;
    const auto tag = name.substring(marker + 9, marker + 25);
    if (tag.length() != 16 || !isLowerHex(tag))
        return false;
    // The same two forms temporaryFileBeside draws, so a name that merely looks alike never matches.
    if (name == fileNameWithin(".", target.getFileNameWithoutExtension(),
                               ".partial-" + tag + target.getFileExtension()) ||
        name == fileNameWithin(".", target.getFileName(), ".partial-" + tag))
        return true;
    // A writer handed a temporary to fill (the autosave's project writer) puts its own beside it.
    const auto inner = name.substring(1, marker) + name.substring(marker + 25);
    return inner.startsWithChar('.') && isTemporaryNameFor(inner, target);
}

int sweepStaleTemporaries(const juce::File& target)
{
    return sweepStaleTemporaries(target, [&target](const juce::String& name)
                                 { return isTemporaryNameFor(name, target); });
}

int sweepStaleTemporaries(const juce::File& target, const std::function<bool(const juce::String&)>& isOurs)
{
    const auto folder = target.getParentDirectory();
    int removed = 0;
    for (const auto& entry : juce::RangedDirectoryIterator(folder, false, ".*", juce::File::findFiles,
                                                           juce::File::FollowSymlinks::no))
    {
        const auto candidate = entry.getFile();
        if (!isOurs(candidate.getFileName()))
            continue;
        const auto path = candidate.getFullPathName().toStdString();
        const auto fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat opened
        {
        }, named{};
        const bool stale = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                           opened.st_uid == ::geteuid() &&
                           (juce::int64)opened.st_mtim.tv_sec * 1000 + opened.st_mtim.tv_nsec / 1000000 <
                               processStartMilliseconds &&
                           ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        // Only the file that was checked, not one that took its name meanwhile.
        if (stale && ::lstat(path.c_str(), &named) == 0 && named.st_dev == opened.st_dev &&
            named.st_ino == opened.st_ino && ::unlink(path.c_str()) == 0)
            ++removed;
        ::close(fd);
    }
    return removed;
}

juce::String unwrittenFileSentence(const juce::File& target, const juce::String& reason)
{
    return "Could not write " + target.getFullPathName() + ": " + reason + "; " +
           (target.existsAsFile() ? "the previous file is unchanged." : "no file was written.");
}

bool publishCheckedFile(CheckedFileOutputStream& stream, const juce::File& temporary,
                        const juce::File& target, juce::String& error)
{
    juce::String reason;
    if (!stream.finish(reason))
    {
        temporary.deleteFile();
        error = unwrittenFileSentence(target, reason);
        return false;
    }
    if (temporary.getParentDirectory() != target.getParentDirectory() ||
        std::rename(temporary.getFullPathName().toRawUTF8(), target.getFullPathName().toRawUTF8()) != 0)
    {
        const auto code = errno;
        temporary.deleteFile();
        error = unwrittenFileSentence(target, "the finished file could not be moved into place (" +
                                                  describeWriteError(code) + ")");
        return false;
    }
    if (!syncFolderToDisk(target.getParentDirectory()))
    {
        error = "Wrote " + target.getFullPathName() +
                ", but its folder could not be synced; it may not survive a power cut.";
        return false;
    }
    return true;
}

bool writeFileDurably(const juce::File& target, const void* data, size_t size, juce::String& error)
{
    sweepStaleTemporaries(target);
    const auto temporary = temporaryFileBeside(target);
    CheckedFileOutputStream out(temporary);
    if (!out.openedOk())
    {
        error = unwrittenFileSentence(target, out.failureReason());
        return false;
    }
    out.write(data, size);
    return publishCheckedFile(out, temporary, target, error);
}

bool copyFileDurably(const juce::File& source, const juce::File& target, juce::String& error)
{
    sweepStaleTemporaries(target);
    juce::FileInputStream in(source);
    if (!in.openedOk())
    {
        error = "Could not read " + source.getFullPathName() + " (" + in.getStatus().getErrorMessage() + ").";
        return false;
    }
    const auto temporary = temporaryFileBeside(target);
    CheckedFileOutputStream out(temporary);
    if (!out.openedOk())
    {
        error = unwrittenFileSentence(target, out.failureReason());
        return false;
    }
    out.writeFromInputStream(in, -1);
    if (!out.failed() && (out.bytesWritten() != in.getTotalLength() || in.getStatus().failed()))
    {
        out.finish(error);
        temporary.deleteFile();
        error = "Could not read all of " + source.getFullPathName() + "; " + target.getFullPathName() +
                " is unchanged.";
        return false;
    }
    return publishCheckedFile(out, temporary, target, error);
}
} // namespace sorvane
