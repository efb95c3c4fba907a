#include "RealtimeInterposers.h"

#include <juce_core/juce_core.h>

#include <dlfcn.h>
#include <malloc.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace sorvane::realtime
{
namespace
{
thread_local bool watching = false;
std::array<std::atomic<long>, numEvents> counters{};
std::atomic<std::size_t> allocationLimit{SIZE_MAX};
std::atomic<std::size_t> largestWatched{0};

void note(Event e) noexcept
{
    if (watching)
        counters[(size_t)e].fetch_add(1, std::memory_order_relaxed);
}

void noteAllocationSize(std::size_t size) noexcept
{
    if (watching && size > largestWatched.load(std::memory_order_relaxed))
        largestWatched.store(size, std::memory_order_relaxed);
}

bool refused(std::size_t bytes) noexcept
{
    return bytes > allocationLimit.load(std::memory_order_relaxed);
}
} // namespace

long count(Event e) noexcept
{
    return counters[(size_t)e].load();
}

void resetCounts() noexcept
{
    for (auto& c : counters)
        c.store(0);
    largestWatched.store(0);
}

std::size_t largestAllocation() noexcept
{
    return largestWatched.load();
}

void failAllocationsLargerThan(std::size_t bytes) noexcept
{
    allocationLimit.store(bytes);
}

void stopFailingAllocations() noexcept
{
    allocationLimit.store(SIZE_MAX);
}

Watch::Watch() noexcept
{
    watching = true;
}

Watch::~Watch()
{
    watching = false;
}
} // namespace sorvane::realtime

using sorvane::realtime::Event;
using sorvane::realtime::note;
using sorvane::realtime::refused;

//==================================================================================================
// The malloc family. dlsym may itself allocate, so until the real functions are known requests are
// served from a static buffer that is never handed back.
namespace
{
using MallocFn = void* (*)(std::size_t);
using CallocFn = void* (*)(std::size_t, std::size_t);
using ReallocFn = void* (*)(void*, std::size_t);
using FreeFn = void (*)(void*);
using PosixMemalignFn = int (*)(void**, std::size_t, std::size_t);
using AlignedFn = void* (*)(std::size_t, std::size_t);

MallocFn realMalloc = nullptr;
CallocFn realCalloc = nullptr;
ReallocFn realRealloc = nullptr;
FreeFn realFree = nullptr;
PosixMemalignFn realPosixMemalign = nullptr;
AlignedFn realAlignedAlloc = nullptr;
AlignedFn realMemalign = nullptr;

enum : int
{
    unresolved,
    resolving,
    resolved
};
std::atomic<int> resolution{unresolved};

alignas(64) unsigned char bootstrap[256 * 1024];
std::atomic<std::size_t> bootstrapUsed{0};

// Each block keeps its size just before the returned address, for realloc.
void* bootstrapAllocate(std::size_t size, std::size_t alignment = alignof(std::max_align_t)) noexcept
{
    alignment = std::max<std::size_t>(alignment, alignof(std::max_align_t));
    std::size_t start = bootstrapUsed.load();
    for (;;)
    {
        const std::size_t payload = (start + sizeof(std::size_t) + alignment - 1) / alignment * alignment;
        const std::size_t end = payload + size;
        if (end > sizeof bootstrap)
            return nullptr;
        if (bootstrapUsed.compare_exchange_weak(start, end))
        {
            std::memcpy(bootstrap + payload - sizeof(std::size_t), &size, sizeof size);
            return bootstrap + payload;
        }
    }
}

bool isBootstrap(const void* p) noexcept
{
    const auto* b = static_cast<const unsigned char*>(p);
    return b >= bootstrap && b < bootstrap + sizeof bootstrap;
}

std::size_t bootstrapSize(const void* p) noexcept
{
    std::size_t size;
    std::memcpy(&size, static_cast<const unsigned char*>(p) - sizeof size, sizeof size);
    return size;
}

// False while dlsym runs (on this or another thread): the caller falls back to the buffer.
bool realFunctionsReady() noexcept
{
    int state = resolution.load(std::memory_order_acquire);
    if (state == resolved)
        return true;
    if (state == unresolved && resolution.compare_exchange_strong(state, resolving))
    {
        realMalloc = reinterpret_cast<MallocFn>(dlsym(RTLD_NEXT, "malloc"));
        realCalloc = reinterpret_cast<CallocFn>(dlsym(RTLD_NEXT, "calloc"));
        realRealloc = reinterpret_cast<ReallocFn>(dlsym(RTLD_NEXT, "realloc"));
        realFree = reinterpret_cast<FreeFn>(dlsym(RTLD_NEXT, "free"));
        realPosixMemalign = reinterpret_cast<PosixMemalignFn>(dlsym(RTLD_NEXT, "posix_memalign"));
        realAlignedAlloc = reinterpret_cast<AlignedFn>(dlsym(RTLD_NEXT, "aligned_alloc"));
        realMemalign = reinterpret_cast<AlignedFn>(dlsym(RTLD_NEXT, "memalign"));
        resolution.store(resolved, std::memory_order_release);
        return true;
    }
    return false;
}
} // namespace

extern "C"
{
    void* malloc(std::size_t size) noexcept
    {
        note(Event::mallocFamily);
        if (refused(size))
        {
            errno = ENOMEM;
            return nullptr;
        }
        return realFunctionsReady() ? realMalloc(size) : bootstrapAllocate(size);
    }

    void* calloc(std::size_t count, std::size_t size) noexcept
    {
        note(Event::mallocFamily);
        if (size != 0 && count > SIZE_MAX / size)
            return nullptr;
        if (refused(count * size))
        {
            errno = ENOMEM;
            return nullptr;
        }
        if (realFunctionsReady())
            return realCalloc(count, size);
        return bootstrapAllocate(count * size); // the buffer is zero and never reused
    }

    void* realloc(void* p, std::size_t size) noexcept
    {
        note(Event::mallocFamily);
        if (refused(size))
        {
            errno = ENOMEM;
            return nullptr; // the old block stays valid, as when realloc really fails
        }
        if (p != nullptr && isBootstrap(p))
        {
            void* moved = realFunctionsReady() ? realMalloc(size) : bootstrapAllocate(size);
            if (moved != nullptr)
                std::memcpy(moved, p, std::min(size, bootstrapSize(p)));
            return moved;
        }
        return realFunctionsReady() ? realRealloc(p, size) : bootstrapAllocate(size);
    }

    void free(void* p) noexcept
    {
        if (p == nullptr)
            return;
        note(Event::freeCall);
        if (!isBootstrap(p) && realFunctionsReady())
            realFree(p);
    }

    int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept
    {
        note(Event::mallocFamily);
        if (refused(size))
            return ENOMEM;
        if (realFunctionsReady())
            return realPosixMemalign(out, alignment, size);
        *out = bootstrapAllocate(size, alignment);
        return *out != nullptr ? 0 : ENOMEM;
    }

    void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept
    {
        note(Event::mallocFamily);
        if (refused(size))
        {
            errno = ENOMEM;
            return nullptr;
        }
        return realFunctionsReady() ? realAlignedAlloc(alignment, size) : bootstrapAllocate(size, alignment);
    }

    void* memalign(std::size_t alignment, std::size_t size) noexcept
    {
        note(Event::mallocFamily);
        if (refused(size))
        {
            errno = ENOMEM;
            return nullptr;
        }
        return realFunctionsReady() ? realMemalign(alignment, size) : bootstrapAllocate(size, alignment);
    }
}

//==================================================================================================
// C++ allocation, counted apart from the malloc it ends in.
namespace
{
void* allocate(std::size_t size, std::size_t alignment = 0)
{
    note(Event::operatorNew);
    sorvane::realtime::noteAllocationSize(size);
    void* p = nullptr;
    if (alignment > alignof(std::max_align_t))
    {
        if (posix_memalign(&p, alignment, size == 0 ? 1 : size) != 0)
            p = nullptr;
    }
    else
    {
        p = std::malloc(size == 0 ? 1 : size);
    }
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

void release(void* p) noexcept
{
    if (p != nullptr)
        note(Event::operatorDelete);
    std::free(p);
}
} // namespace

void* operator new(std::size_t size)
{
    return allocate(size);
}
void* operator new[](std::size_t size)
{
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try
    {
        return allocate(size);
    }
    catch (...)
    {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new(size, tag);
}
void* operator new(std::size_t size, std::align_val_t a)
{
    return allocate(size, (std::size_t)a);
}
void* operator new[](std::size_t size, std::align_val_t a)
{
    return allocate(size, (std::size_t)a);
}
void operator delete(void* p) noexcept
{
    release(p);
}
void operator delete[](void* p) noexcept
{
    release(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    release(p);
}
void operator delete(void* p, std::align_val_t) noexcept
{
    release(p);
}
void operator delete[](void* p, std::align_val_t) noexcept
{
    release(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept
{
    release(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept
{
    release(p);
}

//==================================================================================================
// Locks and waits. The condition functions carry two symbol versions; the current one is named.
namespace
{
template <typename Fn>
Fn next(const char* name, const char* version = nullptr) noexcept
{
    return reinterpret_cast<Fn>(version != nullptr ? dlvsym(RTLD_NEXT, name, version)
                                                   : dlsym(RTLD_NEXT, name));
}
} // namespace

#define SORVANE_FORWARD(event, name, version, params, args)                                                  \
    {                                                                                                        \
        using Fn = int(*) params;                                                                            \
        static const auto real = next<Fn>(#name, version);                                                   \
        note(event);                                                                                         \
        return real args;                                                                                    \
    }

extern "C"
{
    int pthread_mutex_lock(pthread_mutex_t* m) noexcept
        SORVANE_FORWARD(Event::mutexLock, pthread_mutex_lock, nullptr, (pthread_mutex_t*),
                        (m)) int pthread_mutex_trylock(pthread_mutex_t* m) noexcept
        SORVANE_FORWARD(Event::mutexTryLock, pthread_mutex_trylock, nullptr, (pthread_mutex_t*),
                        (m)) int pthread_mutex_timedlock(pthread_mutex_t* m, const timespec* t) noexcept
        SORVANE_FORWARD(Event::mutexTryLock, pthread_mutex_timedlock, nullptr,
                        (pthread_mutex_t*, const timespec*),
                        (m, t)) int pthread_mutex_clocklock(pthread_mutex_t* m, clockid_t c,
                                                            const timespec* t) noexcept
        SORVANE_FORWARD(Event::mutexTryLock, pthread_mutex_clocklock, nullptr,
                        (pthread_mutex_t*, clockid_t, const timespec*), (m, c, t))

            int pthread_rwlock_rdlock(pthread_rwlock_t* l) noexcept
        SORVANE_FORWARD(Event::readWriteLock, pthread_rwlock_rdlock, nullptr, (pthread_rwlock_t*),
                        (l)) int pthread_rwlock_wrlock(pthread_rwlock_t* l) noexcept
        SORVANE_FORWARD(Event::readWriteLock, pthread_rwlock_wrlock, nullptr, (pthread_rwlock_t*),
                        (l)) int pthread_rwlock_tryrdlock(pthread_rwlock_t* l) noexcept
        SORVANE_FORWARD(Event::readWriteLock, pthread_rwlock_tryrdlock, nullptr, (pthread_rwlock_t*),
                        (l)) int pthread_rwlock_trywrlock(pthread_rwlock_t* l) noexcept
        SORVANE_FORWARD(Event::readWriteLock, pthread_rwlock_trywrlock, nullptr, (pthread_rwlock_t*),
                        (l)) int pthread_rwlock_timedrdlock(pthread_rwlock_t* l, const timespec* t) noexcept
        SORVANE_FORWARD(Event::readWriteLock, pthread_rwlock_timedrdlock, nullptr,
                        (pthread_rwlock_t*, const timespec*),
                        (l, t)) int pthread_rwlock_timedwrlock(pthread_rwlock_t* l,
                                                               const timespec* t) noexcept
        SORVANE_FORWARD(Event::readWriteLock, pthread_rwlock_timedwrlock, nullptr,
                        (pthread_rwlock_t*, const timespec*), (l, t))

            int pthread_cond_wait(pthread_cond_t* c, pthread_mutex_t* m)
                SORVANE_FORWARD(Event::conditionWait, pthread_cond_wait, "GLIBC_2.3.2",
                                (pthread_cond_t*, pthread_mutex_t*),
                                (c, m)) int pthread_cond_timedwait(pthread_cond_t* c, pthread_mutex_t* m,
                                                                   const timespec* t)
                    SORVANE_FORWARD(Event::conditionWait, pthread_cond_timedwait, "GLIBC_2.3.2",
                                    (pthread_cond_t*, pthread_mutex_t*, const timespec*), (c, m, t))
        // libstdc++'s timed waits use this one.
        int pthread_cond_clockwait(pthread_cond_t* c, pthread_mutex_t* m, clockid_t k, const timespec* t)
            SORVANE_FORWARD(Event::conditionWait, pthread_cond_clockwait, nullptr,
                            (pthread_cond_t*, pthread_mutex_t*, clockid_t, const timespec*), (c, m, k, t))

                int pthread_spin_lock(pthread_spinlock_t* s) noexcept
        SORVANE_FORWARD(Event::spinLockEnter, pthread_spin_lock, nullptr, (pthread_spinlock_t*),
                        (s)) int pthread_spin_trylock(pthread_spinlock_t* s) noexcept
        SORVANE_FORWARD(Event::spinLockEnter, pthread_spin_trylock, nullptr, (pthread_spinlock_t*), (s))

            int sched_yield() noexcept SORVANE_FORWARD(Event::yield, sched_yield, nullptr, (), ())
}

#undef SORVANE_FORWARD

//==================================================================================================
// juce::SpinLock spins on an atomic and calls no libc function until it is contended. enter() is
// compiled out of line in juce_core, so the link redirects every call from another object file
// here (--wrap). tryEnter() is inline, a bare compare-and-swap: nothing can intercept it.
extern "C" void __real__ZNK4juce8SpinLock5enterEv(const juce::SpinLock* self) noexcept;
extern "C" void __wrap__ZNK4juce8SpinLock5enterEv(const juce::SpinLock* self) noexcept
{
    note(Event::spinLockEnter);
    __real__ZNK4juce8SpinLock5enterEv(self);
}
