#pragma once

#include <juce_core/juce_core.h>

namespace knurlkit
{
// The folder one user's running instance is found through, which no other user can enter:
// "$XDG_RUNTIME_DIR/<application>" when that variable names a folder of this user with mode 0700,
// otherwise "<home>/.cache/<application>/runtime-<host name>" (the host name keeps machines sharing a
// home folder apart). Missing folders are created with mode 0700. False with a sentence when the
// folder is not a real folder of this user that only this user may enter.
bool findPrivateRuntimeFolder(const juce::String& applicationName, juce::File& folder, juce::String& error);

// An exclusive lock on one file, held until the object ends or the process ends however it ends
// (a POSIX record lock, so another process can ask which process holds it).
class InstanceLock
{
public:
    enum class State
    {
        owned,
        heldElsewhere,
        failed
    };

    explicit InstanceLock(juce::File lockFile);
    ~InstanceLock();

    // Never waits; failed comes with a sentence.
    State acquire(juce::String& error);

private:
    juce::File file;
    int fd = -1;

    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
};
} // namespace knurlkit
