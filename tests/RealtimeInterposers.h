#pragma once

// Counts, on watched threads only, every way the audio callback could allocate, lock or wait.
// RealtimeInterposers.cpp replaces the C++ allocation operators, interposes the libc functions
// (forwarding to the real ones found with dlsym) and wraps juce::SpinLock::enter at link time.

#include <array>

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

// Marks the constructing thread as the audio thread until destruction.
struct Watch
{
    Watch() noexcept;
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
};
} // namespace sorvane::realtime
