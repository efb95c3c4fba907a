#include "app/SingleInstanceChannel.h"

#include <juce_events/juce_events.h>

#if JUCE_LINUX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace knurlkit
{
#if JUCE_LINUX
namespace
{
// A socket file's address. sun_path holds 107 bytes; a longer path is reached through a descriptor of
// its folder ("/proc/self/fd/N/NAME"), which the kernel resolves like the full path.
class SocketAddress
{
public:
    explicit SocketAddress(const juce::File& socketFile)
    {
        address.sun_family = AF_UNIX;
        auto path = socketFile.getFullPathName().toStdString();
        const bool throughFolder = path.size() >= sizeof(address.sun_path);
        if (throughFolder)
        {
            folderFd = ::open(socketFile.getParentDirectory().getFullPathName().toRawUTF8(),
                              O_PATH | O_DIRECTORY | O_CLOEXEC);
            path = "/proc/self/fd/" + std::to_string(folderFd) + "/" + socketFile.getFileName().toStdString();
        }
        valid = (throughFolder ? folderFd >= 0 : !path.empty() && path[0] == '/') &&
                path.size() < sizeof(address.sun_path);
        if (valid)
            std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        length = (socklen_t)(offsetof(sockaddr_un, sun_path) + path.size() + 1);
    }

    ~SocketAddress()
    {
        if (folderFd >= 0)
            ::close(folderFd);
    }

    bool isValid() const noexcept { return valid; }
    const sockaddr* get() const noexcept { return reinterpret_cast<const sockaddr*>(&address); }
    socklen_t size() const noexcept { return length; }

private:
    sockaddr_un address = {};
    socklen_t length = 0;
    int folderFd = -1;
    bool valid = false;

    SocketAddress(const SocketAddress&) = delete;
    SocketAddress& operator=(const SocketAddress&) = delete;
};

void setReceiveTimeout(int fd, int milliseconds)
{
    timeval timeout = {};
    timeout.tv_sec = milliseconds / 1000;
    timeout.tv_usec = (milliseconds % 1000) * 1000;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
}

juce::String errnoText()
{
    return juce::String(std::strerror(errno));
}

// The user the process at the other end of a connected socket ran as when it connected or listened.
bool peerUser(int fd, uid_t& user)
{
    ucred peer = {};
    socklen_t size = sizeof(peer);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof(peer))
        return false;
    user = peer.uid;
    return true;
}

bool sameFileIdentity(const juce::File& file, std::uint64_t device, std::uint64_t inode)
{
    struct stat info
    {
    };
    return ::lstat(file.getFullPathName().toRawUTF8(), &info) == 0 && (std::uint64_t)info.st_dev == device &&
           (std::uint64_t)info.st_ino == inode;
}

// True when a process answers on the socket file.
bool someoneListens(const SocketAddress& address)
{
    const auto fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool answered = ::connect(fd, address.get(), address.size()) == 0;
    ::close(fd);
    return answered;
}
} // namespace

SingleInstanceChannel::SingleInstanceChannel(juce::File socketFile) : file(std::move(socketFile)) {}

SingleInstanceChannel::~SingleInstanceChannel()
{
    if (listenFd >= 0)
    {
        juce::LinuxEventLoop::unregisterFdCallback(listenFd);
        ::close(listenFd);
        if (sameFileIdentity(file, boundDevice, boundInode))
            ::unlink(file.getFullPathName().toRawUTF8());
    }
}

bool SingleInstanceChannel::startListening(MessageCallback onMessage, RefusalCallback onRefusal,
                                           juce::String& error)
{
    jassert(listenFd < 0);

    const SocketAddress address(file);
    if (!address.isValid())
    {
        error = "Could not listen for other instances: the folder of " + file.getFullPathName() +
                " cannot be opened.";
        return false;
    }

    // A socket file nobody answers on was left by an instance that ended without removing it.
    struct stat existing
    {
    };
    const auto path = file.getFullPathName().toRawUTF8();
    if (::lstat(path, &existing) == 0)
    {
        if (!S_ISSOCK(existing.st_mode))
        {
            error = "Could not listen for other instances: " + file.getFullPathName() + " is not a socket.";
            return false;
        }
        if (someoneListens(address))
        {
            error = "Could not listen for other instances: another instance listens on " +
                    file.getFullPathName() + ".";
            return false;
        }
        ::unlink(path);
    }

    const auto fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
    {
        error = "Could not create the instance socket: " + errnoText() + ".";
        return false;
    }

    struct stat bound
    {
    };
    if (::bind(fd, address.get(), address.size()) != 0 || ::lstat(path, &bound) != 0 ||
        ::chmod(path, 0600) != 0 || ::listen(fd, 8) != 0)
    {
        error = "Could not listen for other instances: " + errnoText() + ".";
        ::close(fd);
        return false;
    }

    callback = std::move(onMessage);
    refusalCallback = std::move(onRefusal);
    listenFd = fd;
    boundDevice = (std::uint64_t)bound.st_dev;
    boundInode = (std::uint64_t)bound.st_ino;
    juce::LinuxEventLoop::registerFdCallback(listenFd, [this](int) { acceptPendingConnection(); });
    return true;
}

void SingleInstanceChannel::acceptPendingConnection()
{
    for (;;)
    {
        const auto client = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;

        // The folder keeps other users out; this holds even where its permissions were opened up.
        auto user = (uid_t)-1;
        if (!peerUser(client, user) || user != ::geteuid())
        {
            ::close(client);
            if (refusalCallback != nullptr)
                refusalCallback("Ignored a message from another user (uid " +
                                juce::String((juce::int64)user) + ") on " + file.getFullPathName() + ".");
            continue;
        }

        // The sender writes a few bytes and closes; the timeout keeps a stuck peer from holding
        // the message thread.
        setReceiveTimeout(client, 500);

        juce::MemoryBlock received;
        char buffer[4096];
        for (;;)
        {
            const auto count = ::read(client, buffer, sizeof(buffer));
            if (count <= 0)
                break;

            const auto room = (size_t)maxMessageBytes - received.getSize();
            received.append(buffer, juce::jmin((size_t)count, room));
            if (received.getSize() >= (size_t)maxMessageBytes)
                break;
        }
        ::close(client);

        // An empty connection is a check whether anyone listens, not a message.
        if (callback != nullptr && received.getSize() > 0)
            callback(received.toString());
    }
}

bool SingleInstanceChannel::sendToRunningInstance(const juce::File& socketFile,
                                                  const juce::String& commandLine, int timeoutMs,
                                                  juce::String& error)
{
    const SocketAddress address(socketFile);
    if (!address.isValid())
    {
        error = "The folder of " + socketFile.getFullPathName() + " cannot be opened.";
        return false;
    }
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32)juce::jmax(0, timeoutMs);

    for (;;)
    {
        const auto fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
        {
            error = "Could not create a socket: " + errnoText() + ".";
            return false;
        }

        if (::connect(fd, address.get(), address.size()) == 0)
        {
            uid_t user = 0;
            if (!peerUser(fd, user) || user != ::geteuid())
            {
                ::close(fd);
                error = "The instance listening on " + socketFile.getFullPathName() +
                        " runs as another user; nothing was handed over.";
                return false;
            }

            setReceiveTimeout(fd, 1000);
            const auto bytes = commandLine.toRawUTF8();
            const auto total = juce::jmin(std::strlen(bytes), (size_t)maxMessageBytes);
            size_t sent = 0;
            while (sent < total)
            {
                const auto count = ::send(fd, bytes + sent, total - sent, MSG_NOSIGNAL);
                if (count <= 0)
                    break;
                sent += (size_t)count;
            }
            ::close(fd);

            if (sent == total)
                return true;

            error = "The running instance did not take the whole command line.";
            return false;
        }

        const auto connectError = errno;
        ::close(fd);

        // Refused or missing: the owner holds the lock but may not be listening yet.
        if (juce::Time::getMillisecondCounter() >= deadline)
        {
            error = "The running instance did not answer: " + juce::String(std::strerror(connectError)) + ".";
            return false;
        }

        juce::Thread::sleep(50);
    }
}
#else
SingleInstanceChannel::SingleInstanceChannel(juce::File socketFile) : file(std::move(socketFile)) {}

SingleInstanceChannel::~SingleInstanceChannel() = default;

bool SingleInstanceChannel::startListening(MessageCallback, RefusalCallback, juce::String& error)
{
    error = "Handing over to a running instance needs no socket on this platform.";
    return false;
}

void SingleInstanceChannel::acceptPendingConnection() {}

bool SingleInstanceChannel::sendToRunningInstance(const juce::File&, const juce::String&, int,
                                                  juce::String& error)
{
    error = "Handing over to a running instance needs no socket on this platform.";
    return false;
}
#endif
} // namespace knurlkit
