// The audio callback must never allocate, lock or wait. RealtimeInterposers.cpp counts every way it
// could on the thread that runs processBlock.
#include "RealtimeInterposers.h"
#include "TestSupport.h"

#include <unistd.h>
#include <gtest/gtest.h>

#include <malloc.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <shared_mutex>
#include <thread>

using sorvane::realtime::FailAllocationsLargerThan;
using sorvane::realtime::Watch;

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
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
                ASSERT_TRUE(std::isfinite(view.getSample(c, i)))
                    << "block " << block << " channel " << c << " sample " << i;
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
// Keeps the compiler from eliding an allocation whose result is unused.
void keep(void* p)
{
    asm volatile("" : : "g"(p) : "memory");
}

void release(void* p)
{
    keep(p);
    std::free(p);
}

void expectNoEvents(const juce::String& scenario)
{
    for (int e = 0; e < sorvane::realtime::numEvents; ++e)
        EXPECT_EQ(sorvane::realtime::count((sorvane::realtime::Event)e), 0)
            << scenario << ": " << sorvane::realtime::eventNames[(size_t)e];
}

juce::File writeWav(const juce::File& file, int frames, double rate, int channels, float frequency)
{
    auto stream = std::make_unique<juce::FileOutputStream>(file);
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer(
        wav.createWriterFor(stream.release(), rate, (unsigned)channels, 24, {}, 0));
    juce::AudioBuffer<float> audio(channels, frames);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i)
            audio.setSample(c, i, 0.5f * (float)std::sin(2.0 * M_PI * frequency * i / rate + c));
    writer->writeFromAudioSampleBuffer(audio, 0, frames);
    return file;
}
} // namespace

TEST(RealtimeSafety, CountersNoticeEveryKindOfAllocationLockAndWait)
{
    using namespace sorvane::realtime;
    struct Case
    {
        const char* what;
        Event event;
        std::function<void()> act;
    };
    std::mutex mutex;
    std::shared_mutex shared;
    std::condition_variable condition;
    pthread_cond_t cond;
    pthread_cond_init(&cond, nullptr);
    pthread_mutex_t plain;
    pthread_mutex_init(&plain, nullptr);
    juce::SpinLock spin;
    const auto soon = []
    {
        timespec t{};
        clock_gettime(CLOCK_REALTIME, &t);
        return t;
    };
    const Case cases[] = {
        {"new", operatorNew,
         []
         {
             auto* p = new int(3);
             keep(p);
             delete p;
         }},
        {"delete", operatorDelete,
         []
         {
             auto* p = new int(3);
             keep(p);
             delete p;
         }},
        {"malloc", mallocFamily, [] { release(std::malloc(24)); }},
        {"calloc", mallocFamily, [] { release(std::calloc(3, 8)); }},
        {"realloc", mallocFamily, [] { release(std::realloc(nullptr, 40)); }},
        {"posix_memalign", mallocFamily,
         []
         {
             void* p = nullptr;
             ASSERT_EQ(posix_memalign(&p, 64, 64), 0);
             std::free(p);
         }},
        {"aligned_alloc", mallocFamily, [] { release(aligned_alloc(64, 128)); }},
        {"memalign", mallocFamily, [] { release(memalign(64, 128)); }},
        {"free", freeCall, [] { release(std::malloc(24)); }},
        {"std::mutex", mutexLock, [&] { std::lock_guard<std::mutex> lock(mutex); }},
        {"try_lock", mutexTryLock,
         [&]
         {
             if (mutex.try_lock())
                 mutex.unlock();
         }},
        {"juce::CriticalSection", mutexLock,
         []
         {
             juce::CriticalSection cs;
             const juce::ScopedLock lock(cs);
         }},
        {"shared lock", readWriteLock, [&] { std::shared_lock<std::shared_mutex> lock(shared); }},
        {"exclusive lock", readWriteLock, [&] { std::unique_lock<std::shared_mutex> lock(shared); }},
        {"try shared lock", readWriteLock,
         [&]
         {
             if (shared.try_lock_shared())
                 shared.unlock_shared();
         }},
        {"pthread_cond_timedwait", conditionWait,
         [&]
         {
             pthread_mutex_lock(&plain);
             const auto t = soon();
             pthread_cond_timedwait(&cond, &plain, &t);
             pthread_mutex_unlock(&plain);
         }},
        {"condition_variable::wait_for", conditionWait,
         [&]
         {
             std::unique_lock<std::mutex> lock(mutex);
             condition.wait_for(lock, std::chrono::microseconds(1));
         }},
        {"juce::WaitableEvent", conditionWait, [] { juce::WaitableEvent().wait(1); }},
        {"juce::SpinLock", spinLockEnter, [&] { const juce::SpinLock::ScopedLockType lock(spin); }},
        {"juce::Thread::yield", yield, [] { juce::Thread::yield(); }},
    };
    for (const auto& c : cases)
    {
        resetCounts();
        {
            Watch watch;
            c.act();
        }
        EXPECT_GE(count(c.event), 1) << c.what << " is not seen as " << eventNames[(size_t)c.event];
    }

    // Another thread's work, even while this one is watched, is not the audio thread's.
    std::atomic<int> step{0};
    std::thread other(
        [&]
        {
            while (step.load() == 0)
                continue;
            release(std::malloc(16));
            step = 2;
        });
    resetCounts();
    {
        Watch watch;
        step = 1;
        while (step.load() != 2)
            continue;
    }
    other.join();
    EXPECT_EQ(count(mallocFamily), 0);
    pthread_cond_destroy(&cond);
    pthread_mutex_destroy(&plain);
}

TEST(RealtimeSafety, ProcessBlockNeverAllocatesOrLocksWhileEveryParameterIsAutomated)
{
    for (const auto wrapper :
         {juce::AudioProcessor::wrapperType_VST3, juce::AudioProcessor::wrapperType_Standalone})
    {
        sorvane::realtime::resetCounts();
        runAutomatedSession(wrapper);
        expectNoEvents("wrapper " + juce::String((int)wrapper));
    }
}

// Real files are decoded, published and retired by the library's own threads while the callback
// runs on a thread of its own, as in the stand-alone app.
TEST(RealtimeSafety, SourcesLoadAndRetireWhileTheCallbackRuns)
{
    const auto folder =
        juce::File::getSpecialLocation(juce::File::tempDirectory).getNonexistentChildFile("sorvane-rt-" + juce::String((int)::getpid()), "");
    ASSERT_TRUE(folder.createDirectory());
    const juce::File files[] = {
        writeWav(folder.getChildFile("a.wav"), 24000, 48000, 2, 220.0f),
        writeWav(folder.getChildFile("b.wav"), 11025, 22050, 1, 330.0f),
        writeWav(folder.getChildFile("c.wav"), 30000, 44100, 2, 440.0f),
    };

    auto processor = sorvane::test::makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
    constexpr int blockSize = 256;
    processor->prepareToPlay(48000, blockSize);
    sorvane::realtime::resetCounts();

    std::atomic<bool> running{true};
    std::atomic<long> blocks{0}, audibleBlocks{0}, nonFiniteSamples{0};
    std::thread audio(
        [&]
        {
            juce::AudioBuffer<float> buffer(2, blockSize);
            juce::MidiBuffer midi;
            while (running.load())
            {
                buffer.clear(); // a silent live input: whatever sounds is the source
                {
                    Watch watch;
                    processor->processBlock(buffer, midi);
                }
                float peak = 0.0f;
                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < blockSize; ++i)
                    {
                        const float y = buffer.getSample(c, i);
                        if (!std::isfinite(y))
                            nonFiniteSamples.fetch_add(1);
                        peak = std::max(peak, std::abs(y));
                    }
                blocks.fetch_add(1);
                if (peak > 0.01f)
                    audibleBlocks.fetch_add(1);
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });

    const auto waitForBlocks = [&](long more)
    {
        const long target = blocks.load() + more;
        while (blocks.load() < target)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };

    int published = 0;
    for (int round = 0; round < 24; ++round)
    {
        juce::String error;
        ASSERT_TRUE(processor->requestSampleLoad(files[round % 3], error, round % 2 == 0)) << error;
        if (round % 4 == 3) // superseded before it publishes, or just after
        {
            ASSERT_TRUE(processor->requestSampleLoad(files[(round + 1) % 3], error, false)) << error;
        }
        const auto end = juce::Time::getMillisecondCounter() + 10000;
        sorvane::CreatorPreparationSnapshot s;
        while ((s = processor->getSampleLoadSnapshot()).state < (int)sorvane::PreparationState::Published &&
               juce::Time::getMillisecondCounter() < end)
        {
            processor->getLoadedSampleName(); // the message thread's polling reclaims retired sources
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_EQ(s.state, (int)sorvane::PreparationState::Published) << s.message;
        ++published;
        processor->getSourceTransport().startPlayback();
        waitForBlocks(6);
        if (round % 3 == 1)
            processor->getSourceTransport().seek(0.7);
        waitForBlocks(4);
        processor->getLoadedSampleName();
    }

    running = false;
    audio.join();
    processor->getLoadedSampleName();
    folder.deleteRecursively();

    EXPECT_EQ(published, 24);
    EXPECT_EQ(nonFiniteSamples.load(), 0);
    EXPECT_GT(audibleBlocks.load(), blocks.load() / 4) << "the sources really played";
    expectNoEvents("loading while playing");
}

//==================================================================================================
TEST(RealtimeSafety, FaultInjectionFailsOnlyLargerRequestsOnEveryThreadAndOnlyWhileOn)
{
    constexpr std::size_t limit = 1 << 20, large = limit + 1, small = 4096;
    const auto attempt = [](void* p)
    {
        keep(p);
        const bool got = p != nullptr;
        std::free(p);
        return got;
    };
    const auto aligned = [](std::size_t size)
    {
        void* p = nullptr;
        const int result = posix_memalign(&p, 64, size);
        keep(p);
        std::free(p);
        return result;
    };
    const auto throwsBadAlloc = [](std::size_t size)
    {
        try
        {
            auto* p = new char[size];
            keep(p);
            delete[] p;
            return false;
        }
        catch (const std::bad_alloc&)
        {
            return true;
        }
    };

    {
        FailAllocationsLargerThan failing(limit);
        EXPECT_FALSE(attempt(std::malloc(large)));
        EXPECT_FALSE(attempt(std::calloc(large, 1)));
        EXPECT_FALSE(attempt(std::calloc(2, limit / 2 + 1))) << "calloc is judged by its product";
        EXPECT_FALSE(attempt(std::realloc(nullptr, large)));
        EXPECT_FALSE(attempt(aligned_alloc(64, large + 63)));
        EXPECT_FALSE(attempt(memalign(64, large)));
        EXPECT_EQ(aligned(large), ENOMEM);
        EXPECT_TRUE(throwsBadAlloc(large));
        EXPECT_THROW(juce::AudioBuffer<float>(2, (int)limit), std::bad_alloc);

        void* kept = std::malloc(small);
        ASSERT_NE(kept, nullptr);
        std::memset(kept, 7, small);
        EXPECT_EQ(std::realloc(kept, large), nullptr);
        EXPECT_EQ(static_cast<unsigned char*>(kept)[small - 1], 7) << "a refused realloc keeps the block";
        std::free(kept);

        EXPECT_TRUE(attempt(std::malloc(limit)));
        EXPECT_TRUE(attempt(std::calloc(small, 2)));
        EXPECT_EQ(aligned(small), 0);
        EXPECT_FALSE(throwsBadAlloc(small));

        bool refusedElsewhere = false;
        std::thread other([&] { refusedElsewhere = !attempt(std::malloc(large)); });
        other.join();
        EXPECT_TRUE(refusedElsewhere) << "the injection holds on every thread";
    }
    EXPECT_TRUE(attempt(std::malloc(large)));
    EXPECT_EQ(aligned(large), 0);
    EXPECT_FALSE(throwsBadAlloc(large));
}
