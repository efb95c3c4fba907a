#pragma once

#include <juce_data_structures/juce_data_structures.h>
#include <juce_events/juce_events.h>

#include <functional>
#include <mutex>

namespace sorvane
{
// The message thread, or a thread holding its lock; without a message manager the processor runs alone
// (the offline renderer) and any thread is its own.
bool isOnMessageThread();

// Host calls that arrive on a thread of the host's own instead of the message thread: the latest state
// restore and the program chosen after it, kept for the message thread to finish. The parameters take
// their values at once through their atomics; the state tree and the workflows, which the message
// thread owns, change only there.
class HostCallQueue : private juce::AsyncUpdater
{
public:
    struct Pending
    {
        juce::ValueTree state; // valid when a restore waits
        int program = -1;      // chosen after that restore (or after the live state), or -1

        bool isEmpty() const noexcept { return !state.isValid() && program < 0; }
    };

    // `finish` runs on the message thread whenever something waits.
    explicit HostCallQueue(std::function<void()> finish);
    ~HostCallQueue() override;

    // A restore supersedes everything before it, a program choice only an earlier choice.
    void postState(const juce::ValueTree& restored);
    void postProgram(int index);

    // What waits, left in place (for a host reading its state before the message thread ran).
    Pending peek() const;
    // What waits, taken away (message thread).
    Pending take();

    // Later posts are dropped and nothing more runs; returns once a running `finish` has returned.
    void close();

private:
    void handleAsyncUpdate() override;

    std::function<void()> finish;
    mutable std::mutex mutex;
    Pending pending;
    bool closed = false;
    std::mutex running;
};
} // namespace sorvane
