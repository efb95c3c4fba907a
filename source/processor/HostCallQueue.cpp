#include "processor/HostCallQueue.h"

namespace sorvane
{
bool isOnMessageThread()
{
    auto* mm = juce::MessageManager::getInstanceWithoutCreating();
    return mm == nullptr || mm->isThisTheMessageThread() || mm->currentThreadHasLockedMessageManager();
}

HostCallQueue::HostCallQueue(std::function<void()> f) : finish(std::move(f)) {}

HostCallQueue::~HostCallQueue()
{
    close();
}

void HostCallQueue::postState(const juce::ValueTree& restored)
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (closed)
            return;
        pending.state = restored;
        pending.program = -1;
    }
    triggerAsyncUpdate();
}

void HostCallQueue::postProgram(int index)
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (closed)
            return;
        pending.program = index;
    }
    triggerAsyncUpdate();
}

HostCallQueue::Pending HostCallQueue::peek() const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return pending;
}

HostCallQueue::Pending HostCallQueue::take()
{
    const std::lock_guard<std::mutex> lock(mutex);
    auto result = pending;
    pending = {};
    return result;
}

void HostCallQueue::close()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        closed = true;
        pending = {};
    }
    cancelPendingUpdate();
    // The owner may be destroyed on another thread than the one finishing a restore.
    const std::lock_guard<std::mutex> wait(running);
}

void HostCallQueue::handleAsyncUpdate()
{
    const std::lock_guard<std::mutex> lock(running);
    {
        const std::lock_guard<std::mutex> state(mutex);
        if (closed || pending.isEmpty())
            return;
    }
    finish();
}
} // namespace sorvane
