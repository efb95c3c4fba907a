// The audio callback must never allocate or take a lock. This program replaces the global
// allocation functions and interposes pthread_mutex_lock to count both while processBlock runs.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>

namespace
{
thread_local bool watching = false;
std::atomic<long> allocations{0};
std::atomic<long> deallocations{0};
std::atomic<long> mutexLocks{0};

void* allocate(std::size_t size)
{
    if (watching)
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void* allocateAligned(std::size_t size, std::align_val_t alignment)
{
    if (watching)
        allocations.fetch_add(1, std::memory_order_relaxed);
    void* p = nullptr;
    if (posix_memalign(&p, std::max(sizeof(void*), (std::size_t)alignment), size == 0 ? 1 : size) != 0)
        throw std::bad_alloc();
    return p;
}

void release(void* p) noexcept
{
    if (watching && p != nullptr)
        deallocations.fetch_add(1, std::memory_order_relaxed);
    std::free(p);
}

struct Watch
{
    Watch() { watching = true; }
    ~Watch() { watching = false; }
};
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
    return allocateAligned(size, a);
}
void* operator new[](std::size_t size, std::align_val_t a)
{
    return allocateAligned(size, a);
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

extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex)
{
    using Lock = int (*)(pthread_mutex_t*);
    static const auto real = reinterpret_cast<Lock>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    if (watching)
        mutexLocks.fetch_add(1, std::memory_order_relaxed);
    return real(mutex);
}

namespace
{
class MovingPlayHead : public juce::AudioPlayHead
{
public:
    juce::Optional<PositionInfo> getPosition() const override { return position; }
    juce::Optional<PositionInfo> position;
};

void runAutomatedSession(juce::AudioProcessor::WrapperType wrapper)
{
    auto processor = sorvane::test::makeProcessor(wrapper);
    MovingPlayHead playHead;
    processor->setPlayHead(&playHead);
    constexpr int maximumBlock = 1024;
    processor->prepareToPlay(48000, maximumBlock);

    // In the stand-alone app a loaded source plays through the effect, with seeks, stops, range
    // changes and source swaps between blocks.
    const bool standalone = wrapper == juce::AudioProcessor::wrapperType_Standalone;
    auto makeSource = [](int frames, double rate)
    {
        auto sample = std::make_shared<sorvane::LoadedSample>();
        sample->sampleRate = rate;
        sample->audio.setSize(2, frames);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < frames; ++i)
                sample->audio.setSample(c, i, 0.5f * std::sin(0.03f * (float)i + (float)c));
        return sample;
    };
    if (standalone)
    {
        processor->getSourceLibrary().publish(makeSource(48000, 44100));
        processor->getSourceTransport().startPlayback();
    }

    std::mt19937 random(2024);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    juce::AudioBuffer<float> buffer(2, maximumBlock);
    juce::MidiBuffer midi;
    const auto& parameters = processor->getParameters();
    juce::int64 time = 0;

    for (int block = 0; block < 6000; ++block)
    {
        // Automate every parameter between blocks, the way a host would.
        for (auto* p : parameters)
            p->setValueNotifyingHost(unit(random));
        processor->lockWord.store(random() & 0x1FFFFFFFu);
        if (block % 97 == 0)
            processor->reset();
        if (standalone)
        {
            auto& transport = processor->getSourceTransport();
            juce::String error;
            switch (block % 211)
            {
            case 10:
                transport.seek(unit(random));
                break;
            case 40:
                transport.stop();
                break;
            case 60:
                transport.startPlayback();
                break;
            case 90:
                transport.setSourceRange(0.1, 0.6, block % 2 == 0, false, error);
                break;
            case 120:
                transport.pause();
                break;
            case 130:
                transport.startPlayback();
                break;
            case 150:
                processor->getSourceLibrary().publish(makeSource(20000 + block, 22050));
                break;
            case 170:
                transport.setCrossfadeSelection(1 + (int)(random() % 4));
                break;
            default:
                break;
            }
        }

        const int n = 1 + (int)(random() % maximumBlock);
        juce::AudioBuffer<float> view(buffer.getArrayOfWritePointers(), 2, n);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
                view.setSample(c, i, unit(random) - 0.5f);
        if (block % 500 == 250)
            view.setSample(0, 0, std::numeric_limits<float>::quiet_NaN());

        juce::AudioPlayHead::PositionInfo info;
        info.setIsPlaying(block % 700 < 600);
        info.setTimeInSamples(block % 300 == 0 ? 0 : time);
        info.setBpm(block % 400 == 0 ? 400.0 : 60.0 + (block % 180));
        playHead.position = block % 900 < 50 ? juce::Optional<juce::AudioPlayHead::PositionInfo>() : info;
        time += n;

        {
            Watch watch;
            processor->processBlock(view, midi);
        }
        ASSERT_TRUE(std::isfinite(view.getSample(0, n - 1))) << "block " << block;
        processor->getLoadedSampleName(); // the message thread's polling reclaims retired sources
    }

    if (standalone)
    {
        EXPECT_GT(processor->getTransportState().playheadSamples.load(), 0.0) << "the source really played";
    }

    juce::AudioBuffer<float> empty(2, 0);
    {
        Watch watch;
        processor->processBlock(empty, midi);
    }
    processor->setPlayHead(nullptr);
}
} // namespace

TEST(RealtimeSafety, CountersNoticeAllocationsAndLocks)
{
    const long before = allocations.load();
    const long locksBefore = mutexLocks.load();
    {
        Watch watch;
        auto* p = new std::vector<int>(100);
        delete p;
        std::mutex m;
        m.lock();
        m.unlock();
    }
    EXPECT_GE(allocations.load() - before, 2);
    EXPECT_GE(mutexLocks.load() - locksBefore, 1);
}

TEST(RealtimeSafety, ProcessBlockNeverAllocatesOrLocksWhileEveryParameterIsAutomated)
{
    for (const auto wrapper :
         {juce::AudioProcessor::wrapperType_VST3, juce::AudioProcessor::wrapperType_Standalone})
    {
        allocations = 0;
        deallocations = 0;
        mutexLocks = 0;
        runAutomatedSession(wrapper);
        EXPECT_EQ(allocations.load(), 0) << "wrapper " << wrapper;
        EXPECT_EQ(deallocations.load(), 0) << "wrapper " << wrapper;
        EXPECT_EQ(mutexLocks.load(), 0) << "wrapper " << wrapper;
    }
}
