#include "transport/RegularFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorvane
{
namespace
{
juce::String missingMessage(const juce::File& file)
{
    return "The file " + file.getFileName().quoted() + " does not exist or cannot be read.";
}

juce::String notRegularMessage(const juce::File& file)
{
    return "The file " + file.getFileName().quoted() +
           " is not a regular file (it is a folder, pipe, device or socket), so Sorvane does not open it.";
}

class RegularFileStream : public juce::InputStream
{
public:
    RegularFileStream(int descriptor, juce::int64 size) : fd(descriptor), length(size) {}
    ~RegularFileStream() override { ::close(fd); }

    juce::int64 getTotalLength() override { return length; }
    juce::int64 getPosition() override { return position; }
    bool isExhausted() override { return position >= length; }

    bool setPosition(juce::int64 newPosition) override
    {
        if (newPosition < 0 || ::lseek(fd, (off_t)newPosition, SEEK_SET) < 0)
            return false;
        position = newPosition;
        return true;
    }

    int read(void* dest, int bytes) override
    {
        if (bytes <= 0)
            return 0;
        int done = 0;
        while (done < bytes)
        {
            const auto n = ::read(fd, static_cast<char*>(dest) + done, (size_t)(bytes - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += (int)n;
        }
        position += done;
        return done;
    }

private:
    const int fd;
    const juce::int64 length;
    juce::int64 position = 0;
};
} // namespace

bool checkRegularFile(const juce::File& file, juce::String& error)
{
    struct stat info
    {
    };
    if (file.getFullPathName().isEmpty() || ::stat(file.getFullPathName().toRawUTF8(), &info) != 0)
    {
        error = missingMessage(file);
        return false;
    }
    if (!S_ISREG(info.st_mode))
    {
        error = notRegularMessage(file);
        return false;
    }
    return true;
}

std::unique_ptr<juce::InputStream> openRegularFile(const juce::File& file, juce::String& error)
{
    if (!checkRegularFile(file, error))
        return nullptr;

    // O_NONBLOCK so that a path replaced by a FIFO since the check cannot hang the open.
    const int fd = ::open(file.getFullPathName().toRawUTF8(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
    {
        error = missingMessage(file);
        return nullptr;
    }
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    {
        ::close(fd);
        error = notRegularMessage(file);
        return nullptr;
    }
    // Reads of a regular file never block on O_NONBLOCK, but clear it all the same.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return std::make_unique<RegularFileStream>(fd, (juce::int64)info.st_size);
}
} // namespace sorvane
