#pragma once

// Counts, on watched threads only, every way the audio callback could allocate, lock or wait.
// RealtimeInterposers.cpp replaces the C++ allocation operators, interposes the libc functions
// (forwarding to the real ones found with dlsym) and wraps juce::SpinLock::enter at link time.

#include <array>
#include <cstddef>

namespace sorvane::realtime
{
enum Event
{
    operatorNew,
    operatorDelete,
    mallocFamily, // malloc, calloc, realloc, posix_memalign, aligned_alloc, memalign
    freeCall,
    mutexLock,
    mutexTryLock, // also pthread_mutex_timedlock and clocklock
    readWriteLock,
    conditionWait,
    spinLockEnter, // juce::SpinLock::enter and pthread_spin_lock/trylock
    yield,         // a contended juce::SpinLock yields in its loop
    numEvents
};

inline constexpr std::array<const char*, numEvents> eventNames{
    "operator new",       "operator delete", "malloc family",   "free",
    "pthread_mutex_lock", "mutex try-lock",  "read-write lock", "condition wait",
    "spin lock enter",    "sched_yield"};

long count(Event e) noexcept;
void resetCounts() noexcept;
// The largest operator new request on a watched thread since the last reset.
std::size_t largestAllocation() noexcept;

// Fault injection, on every thread: while on, the malloc family returns null (posix_memalign
// ENOMEM) and operator new throws std::bad_alloc for any request of more than `bytes`.
void failAllocationsLargerThan(std::size_t bytes) noexcept;
void stopFailingAllocations() noexcept;

// Keeps the injection on for one scope, so a failed assertion cannot leave it on for later tests.
struct FailAllocationsLargerThan
{
    explicit FailAllocationsLargerThan(std::size_t bytes) noexcept { failAllocationsLargerThan(bytes); }
    ~FailAllocationsLargerThan() { stopFailingAllocations(); }
    FailAllocationsLargerThan(const FailAllocationsLargerThan&) = delete;
    FailAllocationsLargerThan& operator=(const FailAllocationsLargerThan&) = delete;
};

// Marks the constructing thread as the audio thread until destruction.
struct Watch
{
    Watch() noexcept;
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
};
} // namespace sorvane::realtime
