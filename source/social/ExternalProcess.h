#pragma once

#include <juce_core/juce_core.h>

#include <sys/types.h>

namespace sorvane
{
// A program found on the search path, run with no terminal input, its output discarded and none
// of our file descriptors: the app's instance lock and open files must not live on in an encoder
// that outlasts it. posix_spawn, not fork, so nothing runs between fork and exec while other
// threads hold allocator locks.
class ExternalProcess
{
public:
    ExternalProcess() = default;
    ~ExternalProcess();

    bool start(const juce::StringArray& arguments);
    bool isRunning();
    // True once the process has ended, within the given time.
    bool waitForExit(int milliseconds);
    // The exit status of an ended process; -1 when it was killed by a signal or never started.
    int getExitCode() const noexcept { return exitCode; }
    void kill();

private:
    void reap(bool block);

    pid_t pid = 0;
    bool running = false;
    int exitCode = -1;

    JUCE_DECLARE_NON_COPYABLE(ExternalProcess)
};
} // namespace sorvane
