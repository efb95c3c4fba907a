#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace sorvane
{
// Lets the message thread know the audio thread has left a buffer it just stopped offering. The
// audio thread counts each block in and out (two stores, no wait); the message thread, after
// withdrawing the buffer with a sequentially consistent store, waits for the block that was under way
// to end. Both sides use sequentially consistent order, so either the audio thread sees the buffer
// withdrawn or the message thread sees the block it must wait for. Counting rather than a flag means
// back-to-back blocks cannot starve the waiter.
class AudioBlockPresence
{
public:
    class Scope
    {
    public:
        explicit Scope(AudioBlockPresence& owner) noexcept : presence(owner)
        {
            presence.entered.fetch_add(1);
        }
        ~Scope() { presence.left.fetch_add(1); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        AudioBlockPresence& presence;
    };

    void waitForBlockUnderWay() const noexcept
    {
        const auto underWay = entered.load();
        while (left.load() < underWay)
            std::this_thread::yield();
    }

private:
    std::atomic<std::uint64_t> entered{0}, left{0};
};
} // namespace sorvane
