#include "app/QuitSignalWatcher.h"

#include <juce_events/juce_events.h>

#if JUCE_LINUX || JUCE_BSD
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace knurlkit
{
#if JUCE_LINUX || JUCE_BSD
namespace
{
volatile std::sig_atomic_t signalWriteFd = -1;
constexpr int watchedSignals[] = {SIGTERM, SIGINT};

void writeQuitByte(int)
{
    const auto savedErrno = errno;
    const char byte = 1;
    // Non-blocking: a full pipe already carries a pending request.
    [[maybe_unused]] const auto written = ::write(signalWriteFd, &byte, 1);
    errno = savedErrno;
}

void setNonBlockingCloseOnExec(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}
} // namespace

QuitSignalWatcher::QuitSignalWatcher(std::function<void()> onQuitRequested)
    : onQuit(std::move(onQuitRequested))
{
    jassert(signalWriteFd == -1); // one watcher per process

    int fds[2];
    if (::pipe(fds) != 0)
        return;

    setNonBlockingCloseOnExec(fds[0]);
    setNonBlockingCloseOnExec(fds[1]);
    readFd = fds[0];
    signalWriteFd = fds[1];

    juce::LinuxEventLoop::registerFdCallback(readFd, [this](int) { drainPipe(); });

    struct sigaction action = {};
    action.sa_handler = writeQuitByte;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (auto signalNumber : watchedSignals)
        ::sigaction(signalNumber, &action, nullptr);

    active = true;
}

QuitSignalWatcher::~QuitSignalWatcher()
{
    if (!active)
        return;

    // Default handlers first, so no handler can write to a closed (or reused) descriptor.
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (auto signalNumber : watchedSignals)
        ::sigaction(signalNumber, &action, nullptr);

    juce::LinuxEventLoop::unregisterFdCallback(readFd);
    ::close(signalWriteFd);
    ::close(readFd);
    signalWriteFd = -1;
}

void QuitSignalWatcher::drainPipe()
{
    char buffer[64];
    auto received = false;
    while (::read(readFd, buffer, sizeof(buffer)) > 0)
        received = true;

    if (received && onQuit != nullptr)
        onQuit();
}
#else
QuitSignalWatcher::QuitSignalWatcher(std::function<void()> onQuitRequested)
    : onQuit(std::move(onQuitRequested))
{
}

QuitSignalWatcher::~QuitSignalWatcher() = default;

void QuitSignalWatcher::drainPipe() {}
#endif
} // namespace knurlkit
