#pragma once

#include <functional>

namespace knurlkit
{
// Turns SIGTERM and SIGINT into a call on the message thread, so the application can quit through
// its normal shutdown. The signal handler only writes one byte into a pipe (async-signal-safe);
// JUCE's Linux event loop watches the pipe's other end. One watcher per process.
class QuitSignalWatcher
{
public:
    explicit QuitSignalWatcher(std::function<void()> onQuitRequested);
    ~QuitSignalWatcher();

    bool isActive() const noexcept { return active; }

private:
    void drainPipe();

    std::function<void()> onQuit;
    int readFd = -1;
    bool active = false;

    QuitSignalWatcher(const QuitSignalWatcher&) = delete;
    QuitSignalWatcher& operator=(const QuitSignalWatcher&) = delete;
};
} // namespace knurlkit
