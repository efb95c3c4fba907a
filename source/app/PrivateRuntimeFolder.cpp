#include "app/PrivateRuntimeFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace knurlkit
{
namespace
{
juce::String errnoText(int code)
{
    return juce::String(std::strerror(code));
}

// A real folder (not a link to one) of this user that nobody else may enter; otherwise `why` ends
// the sentence "it ...".
bool isPrivateFolder(const juce::File& folder, juce::String& why)
{
    struct stat info
    {
    };
    if (::lstat(folder.getFullPathName().toRawUTF8(), &info) != 0)
        why = "cannot be examined (" + errnoText(errno) + ")";
    else if (!S_ISDIR(info.st_mode))
        why = "is not a folder";
    else if (info.st_uid != ::geteuid())
        why = "belongs to another user";
    else if ((info.st_mode & 0777) != 0700)
        why = "may be entered by other users";
    else
        return true;
    return false;
}

bool makeFolder(const juce::File& folder, juce::String& why)
{
    if (::mkdir(folder.getFullPathName().toRawUTF8(), 0700) == 0 || errno == EEXIST)
        return true;
    why = "cannot be created (" + errnoText(errno) + ")";
    return false;
}

// Creates `folder` with mode 0700 where missing; a folder of ours with a looser mode is tightened.
bool makePrivateFolder(const juce::File& folder, const juce::String& applicationName, juce::String& error)
{
    juce::String why;
    if (makeFolder(folder, why))
    {
        struct stat info
        {
        };
        const auto path = folder.getFullPathName().toRawUTF8();
        if (::lstat(path, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
            (info.st_mode & 0777) != 0700)
            ::chmod(path, 0700);
        if (isPrivateFolder(folder, why))
            return true;
    }
    error = "The folder " + folder.getFullPathName() + " for finding a running " + applicationName +
            " cannot be used: it " + why + ".";
    return false;
}

juce::String hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof(name) - 1) != 0 || name[0] == 0)
        return "localhost";
    return juce::File::createLegalFileName(juce::String::fromUTF8(name));
}
} // namespace

bool findPrivateRuntimeFolder(const juce::String& applicationName, juce::File& folder, juce::String& error)
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/')
    {
        const juce::File runtimeFolder(juce::String::fromUTF8(runtime));
        juce::String why;
        if (isPrivateFolder(runtimeFolder, why))
        {
            folder = runtimeFolder.getChildFile(applicationName);
            return makePrivateFolder(folder, applicationName, error);
        }
    }

    // Without a usable runtime folder, a private one in the user's cache folder.
    const auto cache = juce::File::getSpecialLocation(juce::File::userHomeDirectory).getChildFile(".cache");
    const auto application = cache.getChildFile(applicationName);
    juce::String why;
    for (const auto& parent : {cache, application})
    {
        if (!makeFolder(parent, why))
        {
            error = "The folder " + parent.getFullPathName() + " for finding a running " + applicationName +
                    " cannot be used: it " + why + ".";
            return false;
        }
    }
    folder = application.getChildFile("runtime-" + hostName());
    return makePrivateFolder(folder, applicationName, error);
}

InstanceLock::InstanceLock(juce::File lockFile) : file(std::move(lockFile)) {}

InstanceLock::~InstanceLock()
{
    if (fd >= 0)
        ::close(fd); // releases the lock
}

InstanceLock::State InstanceLock::acquire(juce::String& error)
{
    if (fd >= 0)
        return State::owned;

    const auto opened =
        ::open(file.getFullPathName().toRawUTF8(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (opened < 0)
    {
        error = "Could not open the instance lock " + file.getFullPathName() + ": " + errnoText(errno) + ".";
        return State::failed;
    }

    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(opened, F_SETLK, &lock) == 0)
    {
        fd = opened;
        return State::owned;
    }

    const auto code = errno;
    ::close(opened);
    if (code == EACCES || code == EAGAIN)
        return State::heldElsewhere;
    error = "Could not lock " + file.getFullPathName() + ": " + errnoText(code) + ".";
    return State::failed;
}
} // namespace knurlkit
