#include "app/SingleInstanceChannel.h"

#include <juce_events/juce_events.h>

#if JUCE_LINUX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace knurlkit
{
#if JUCE_LINUX
namespace
{
// An abstract socket (leading NUL): no file to clean up, gone when the owner process ends.
socklen_t makeAddress(const juce::String& channelName, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    const auto utf8 = channelName.toRawUTF8();
    const auto length = juce::jmin(std::strlen(utf8), sizeof(address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, utf8, length);
    return (socklen_t)(offsetof(sockaddr_un, sun_path) + 1 + length);
}

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
} // namespace

SingleInstanceChannel::SingleInstanceChannel(juce::String channelName) : name(std::move(channelName)) {}

SingleInstanceChannel::~SingleInstanceChannel()
{
    if (listenFd >= 0)
    {
        juce::LinuxEventLoop::unregisterFdCallback(listenFd);
        ::close(listenFd);
    }
}

bool SingleInstanceChannel::startListening(MessageCallback onMessage, juce::String& error)
{
    jassert(listenFd < 0);

    const auto fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
    {
        error = "Could not create the instance socket: " + errnoText() + ".";
        return false;
    }

    sockaddr_un address;
    const auto length = makeAddress(name, address);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || ::listen(fd, 8) != 0)
    {
        error = "Could not listen for other instances: " + errnoText() + ".";
        ::close(fd);
        return false;
    }

    callback = std::move(onMessage);
    listenFd = fd;
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

        if (callback != nullptr)
            callback(received.toString());
    }
}

bool SingleInstanceChannel::sendToRunningInstance(const juce::String& channelName,
                                                  const juce::String& commandLine, int timeoutMs,
                                                  juce::String& error)
{
    sockaddr_un address;
    const auto length = makeAddress(channelName, address);
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32)juce::jmax(0, timeoutMs);

    for (;;)
    {
        const auto fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
        {
            error = "Could not create a socket: " + errnoText() + ".";
            return false;
        }

        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0)
        {
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
SingleInstanceChannel::SingleInstanceChannel(juce::String channelName) : name(std::move(channelName)) {}

SingleInstanceChannel::~SingleInstanceChannel() = default;

bool SingleInstanceChannel::startListening(MessageCallback, juce::String& error)
{
    error = "Handing over to a running instance needs no socket on this platform.";
    return false;
}

void SingleInstanceChannel::acceptPendingConnection() {}

bool SingleInstanceChannel::sendToRunningInstance(const juce::String&, const juce::String&, int,
                                                  juce::String& error)
{
    error = "Handing over to a running instance needs no socket on this platform.";
    return false;
}
#endif
} // namespace knurlkit
