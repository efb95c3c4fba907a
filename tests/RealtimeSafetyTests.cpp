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
// Capture and Keep That. At 8 kHz and 300 BPM one bar is 6400 frames and the effect tail 32000.
namespace
{
constexpr double captureRate = 8000.0;
constexpr int framesPerBar = 6400, tailFrames = 32000;
constexpr float toneLevel = 0.5f;
const juce::String keepLabel = "KEEP THAT";
const juce::String keepRequested = keepLabel + " REQUESTED / FREEZING AT THE NEXT AUDIO BOUNDARY";

std::shared_ptr<sorvane::LoadedSample> makeTone(int frames, double rate)
{
    auto sample = std::make_shared<sorvane::LoadedSample>();
    sample->sampleRate = rate;
    sample->name = "tone.wav";
    sample->audio.setSize(2, frames);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < frames; ++i)
            sample->audio.setSample(c, i, toneLevel * std::sin(0.05f * (float)i + (float)c));
    return sample;
}

// A stand-alone processor at 8 kHz and 300 BPM playing a looping tone.
std::unique_ptr<SorvaneAudioProcessor> makeCapturingProcessor(int blockSize)
{
    auto processor = sorvane::test::makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
    processor->prepareToPlay(captureRate, blockSize);
    sorvane::test::setPlain(*processor, "standaloneTempo", 300.0f);
    processor->getSourceLibrary().publish(makeTone(80000, captureRate));
    processor->getSourceTransport().startPlayback();
    return processor;
}

bool eventually(const std::function<bool()>& condition)
{
    // Only a guard against hanging: a loaded machine running sanitizer builds is given minutes.
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!condition())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

// Runs processBlock on a watched thread of its own, as the device does, and keeps every block it puts
// out, so what the capture features kept can be compared with what was heard.
class CallbackThread
{
public:
    static constexpr int blockSize = 256;
    // At one block a millisecond at most, half a minute of running: many times what the test plays.
    static constexpr long recordedBlocks = 32768;

    explicit CallbackThread(SorvaneAudioProcessor& p)
        : processor(p), recording(2, (int)(recordedBlocks * blockSize))
    {
        thread = std::thread([this] { run(); });
    }
    ~CallbackThread() { stop(); }

    void stop()
    {
        running = false;
        if (thread.joinable())
            thread.join();
    }

    long blocks() const noexcept { return finished.load(std::memory_order_acquire); }
    long nonFiniteSamples() const noexcept { return nonFinite.load(); }

    bool waitForBlocks(long more)
    {
        const long target = blocks() + more;
        return eventually([&] { return blocks() >= target; });
    }

    // True when `audio` is the output from `startFrame` on, times one gain found from the audio itself
    // when `scaled` (a level-matched capture), else sample for sample.
    bool isOutput(const juce::AudioBuffer<float>& audio, long startFrame, bool scaled) const
    {
        const long frames = audio.getNumSamples();
        if (startFrame < 0 || startFrame + frames > std::min(blocks(), recordedBlocks) * blockSize ||
            audio.getNumChannels() != 2)
            return false;
        float gain = 1.0f;
        if (scaled)
        {
            float loudest = 0.0f;
            for (int c = 0; c < 2; ++c)
                for (long i = 0; i < frames; ++i)
                    if (std::abs(heard(c, startFrame + i)) > std::abs(loudest))
                    {
                        loudest = heard(c, startFrame + i);
                        gain = audio.getSample(c, (int)i) / loudest;
                    }
            if (loudest == 0.0f)
                return false;
        }
        for (int c = 0; c < 2; ++c)
            for (long i = 0; i < frames; ++i)
            {
                const float expected = heard(c, startFrame + i) * gain;
                const float difference = std::abs(audio.getSample(c, (int)i) - expected);
                if (scaled ? difference > 1.0e-6f * std::abs(expected) + 1.0e-9f : difference != 0.0f)
                    return false;
            }
        return true;
    }

    // The block boundary at which `audio` starts (or ends, with `atEnd`) in the output, searched over
    // the blocks from `first` to `last`; -1 when it is at none of them.
    long findBoundary(const juce::AudioBuffer<float>& audio, long first, long last, bool scaled,
                      bool atEnd = false) const
    {
        for (long b = std::max(0L, first); b <= last; ++b)
        {
            const long start = b * blockSize - (atEnd ? audio.getNumSamples() : 0);
            if (isOutput(audio, start, scaled))
                return b;
        }
        return -1;
    }

private:
    float heard(int channel, long frame) const { return recording.getSample(channel, (int)frame); }

    void run()
    {
        juce::AudioBuffer<float> buffer(2, blockSize);
        juce::MidiBuffer midi;
        while (running.load())
        {
            buffer.clear(); // a silent live input: whatever sounds is the source
            {
                Watch watch;
                processor.processBlock(buffer, midi);
            }
            const long b = finished.load(std::memory_order_relaxed);
            for (int c = 0; c < 2; ++c)
            {
                for (int i = 0; i < blockSize; ++i)
                    if (!std::isfinite(buffer.getSample(c, i)))
                        nonFinite.fetch_add(1);
                if (b < recordedBlocks)
                    recording.copyFrom(c, (int)(b * blockSize), buffer, c, 0, blockSize);
            }
            finished.store(b + 1, std::memory_order_release);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    SorvaneAudioProcessor& processor;
    juce::AudioBuffer<float> recording;
    std::atomic<bool> running{true};
    std::atomic<long> finished{0}, nonFinite{0};
    std::thread thread;
};
} // namespace

// The editor's side (start, cancel, Keep That request and completion) runs on this thread while the
// callback runs on its own, as in the stand-alone app; what was kept must be exactly what was heard.
TEST(RealtimeSafety, CaptureAndKeepThatRunAlongsideTheCallback)
{
    constexpr int blockSize = CallbackThread::blockSize;
    auto processor = makeCapturingProcessor(blockSize);
    const auto& capture = processor->getProcessedCapture();
    sorvane::realtime::resetCounts();
    CallbackThread audio(*processor);

    // The editor arms the ring when it opens, while audio already runs.
    ASSERT_TRUE(audio.waitForBlocks(4));
    ASSERT_TRUE(processor->armBeforeAfter());
    ASSERT_TRUE(processor->getBeforeAfterRing().isArmed());

    // Requests Keep That, lets the next block freeze the ring, completes it here and checks that the
    // processed half is the output that ended at that block. Frozen blocks are never written, so the
    // window is one stretch of output only once it has all been played since the last freeze.
    const auto keepThat = [&](int bars, int expectedFrames, bool sourceAudible)
    {
        ASSERT_TRUE(audio.waitForBlocks(expectedFrames / blockSize + 1));
        const long requested = audio.blocks();
        ASSERT_EQ(processor->requestKeepThat(bars, keepLabel), keepRequested);
        ASSERT_TRUE(eventually([&] { return processor->completeKeepThat(); }));
        const long completed = audio.blocks();
        ASSERT_TRUE(processor->hasKeepThat());
        const auto kept = processor->getKeepThat();
        ASSERT_EQ(kept.after.getNumSamples(), expectedFrames);
        ASSERT_EQ(kept.before.getNumSamples(), expectedFrames);
        ASSERT_EQ(kept.before.getNumChannels(), 2);
        EXPECT_EQ(kept.bars, bars < 5 ? 4 : 8);
        EXPECT_EQ(kept.tempo, 300.0);
        EXPECT_GE(audio.findBoundary(kept.after, requested, completed + 1, false, true), requested)
            << "the kept output is not the output heard up to one block boundary";
        if (sourceAudible)
        {
            for (int c = 0; c < 2; ++c)
                EXPECT_GT(kept.before.getMagnitude(c, 0, expectedFrames), 0.9f * toneLevel);
        }
    };

    // Starts a capture and, once it has completed on the callback's thread, checks its length and that
    // it holds the output heard from one block boundary on (scaled when level-matched).
    const auto captureWhole = [&](int bars, bool includeTail, bool matchLevel, bool keepThatMidway)
    {
        SCOPED_TRACE(juce::String(bars) + " bars, tail " + juce::String((int)includeTail) + ", matched " +
                     juce::String((int)matchLevel));
        sorvane::test::setPlain(*processor, "matchSourceLevel", matchLevel ? 1.0f : 0.0f);
        const long before = audio.blocks();
        juce::String error;
        ASSERT_TRUE(processor->startProcessedCapture(bars, includeTail, error)) << error;
        const long started = audio.blocks();
        if (keepThatMidway)
        {
            ASSERT_NO_FATAL_FAILURE(keepThat(4, 4 * framesPerBar, false));
        }
        ASSERT_TRUE(eventually([&] { return capture.isComplete(); }));
        // The block that completed it may still be under way; it is kept once it has finished.
        const long completed = audio.blocks();
        ASSERT_TRUE(audio.waitForBlocks(1));

        const int loop = bars * framesPerBar;
        const auto copy = processor->copyProcessedCapture();
        ASSERT_EQ(copy.getNumChannels(), 2);
        ASSERT_EQ(copy.getNumSamples(), loop + (includeTail ? tailFrames : 0));
        const long first = audio.findBoundary(copy, before, started + 1, matchLevel);
        ASSERT_GE(first, before) << "the capture is not the output heard from one block boundary on";
        EXPECT_LE(first + (copy.getNumSamples() + blockSize - 1) / blockSize - 1, completed)
            << "the capture completed before its last block was played";
        EXPECT_GT(copy.getMagnitude(0, loop - 1000, 1000), 0.01f) << "the source played into the loop";
        if (matchLevel) // matched to the dry tone's energy over the loop
        {
            double squares = 0.0;
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < loop; ++i)
                    squares += (double)copy.getSample(c, i) * copy.getSample(c, i);
            EXPECT_NEAR(std::sqrt(squares / (2.0 * loop)), toneLevel / std::sqrt(2.0), 0.05 * toneLevel);
        }
    };

    ASSERT_NO_FATAL_FAILURE(keepThat(4, 4 * framesPerBar, true));
    ASSERT_NO_FATAL_FAILURE(keepThat(8, 8 * framesPerBar, true));

    ASSERT_NO_FATAL_FAILURE(captureWhole(1, true, true, true));
    ASSERT_NO_FATAL_FAILURE(captureWhole(2, true, false, true));
    ASSERT_NO_FATAL_FAILURE(captureWhole(1, false, true, false));
    ASSERT_NO_FATAL_FAILURE(captureWhole(1, true, false, false));

    // Cancelled and restarted while blocks run: at once, part way, while Keep That freezes, and as the
    // last block is written, where the cancel must still win.
    for (int round = 0; round < 12; ++round)
    {
        SCOPED_TRACE("round " + juce::String(round));
        sorvane::test::setPlain(*processor, "matchSourceLevel", round % 2 == 0 ? 1.0f : 0.0f);
        const int bars = 1 + round % 2;
        juce::String error;
        ASSERT_TRUE(processor->startProcessedCapture(bars, true, error)) << error;
        if (round % 3 == 2)
        {
            ASSERT_TRUE(eventually([&] { return capture.getProgress() >= 1.0f || !capture.isActive(); }));
        }
        else
        {
            ASSERT_TRUE(audio.waitForBlocks(round * 7 % 40));
        }
        const bool keepDuringCancel = round % 4 == 3;
        if (keepDuringCancel)
        {
            ASSERT_EQ(processor->requestKeepThat(4, keepLabel), keepRequested);
        }
        processor->cancelProcessedCapture();
        EXPECT_FALSE(capture.isActive());
        ASSERT_TRUE(audio.waitForBlocks(1)); // whatever block was under way has finished
        EXPECT_FALSE(capture.isActive());
        EXPECT_FALSE(capture.isComplete());
        EXPECT_EQ(processor->copyProcessedCapture().getNumSamples(), 0);
        if (keepDuringCancel)
        {
            ASSERT_TRUE(eventually([&] { return processor->completeKeepThat(); }));
            EXPECT_EQ(processor->getKeepThat().after.getNumSamples(), 4 * framesPerBar);
        }
    }
    ASSERT_NO_FATAL_FAILURE(captureWhole(2, true, true, false));

    audio.stop();
    EXPECT_EQ(audio.nonFiniteSamples(), 0);
    expectNoEvents("capture and Keep That alongside the callback");
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

namespace
{
bool sameAudio(const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    if (a.getNumChannels() != b.getNumChannels() || a.getNumSamples() != b.getNumSamples())
        return false;
    for (int c = 0; c < a.getNumChannels(); ++c)
        if (std::memcmp(a.getReadPointer(c), b.getReadPointer(c),
                        sizeof(float) * (size_t)a.getNumSamples()) != 0)
            return false;
    return true;
}
} // namespace

// A capture buffer is about 8 bytes a frame: 1 bar and its tail (38400 frames) fits under the limit,
// 8 bars and the tail (83200 frames) does not, nor does a 64-second ring (512000 frames).
constexpr std::size_t captureTestLimit = 512 * 1024;

struct AllocationFailure : ::testing::Test
{
    static constexpr int blockSize = 256;
    std::unique_ptr<SorvaneAudioProcessor> processor = makeCapturingProcessor(blockSize);
    juce::AudioBuffer<float> block{2, blockSize};
    juce::MidiBuffer midi;

    void run(int blocks)
    {
        for (int b = 0; b < blocks; ++b)
        {
            block.clear();
            processor->processBlock(block, midi);
        }
    }

    void captureWhole(int bars)
    {
        juce::String error;
        ASSERT_TRUE(processor->startProcessedCapture(bars, true, error)) << error;
        run((bars * framesPerBar + tailFrames) / blockSize + 1);
        ASSERT_TRUE(processor->getProcessedCapture().isComplete());
    }
};

TEST_F(AllocationFailure, ABiggerCaptureThatCannotBeAllocatedIsRefusedAndTheLastOneStaysWhole)
{
    run(4); // the tempo reaches the processor
    captureWhole(1);
    const auto previous = processor->copyProcessedCapture();
    ASSERT_EQ(previous.getNumSamples(), framesPerBar + tailFrames);
    ASSERT_GT(previous.getMagnitude(0, framesPerBar), 0.01f);
    processor->getSourceTransport().stop();
    processor->projectDirty.store(false);

    {
        FailAllocationsLargerThan failing(captureTestLimit);
        juce::String error;
        EXPECT_FALSE(processor->startProcessedCapture(8, true, error));
        EXPECT_EQ(error, "There is not enough memory for a capture of this length; choose fewer bars.");
        EXPECT_FALSE(processor->getProcessedCapture().isActive());
        EXPECT_FALSE(processor->getTransportState().playing.load()) << "the refused capture started playback";
        EXPECT_FALSE(processor->projectDirty.load());
        run(8); // the callback goes on without a capture
    }

    const auto& capture = processor->getProcessedCapture();
    EXPECT_TRUE(capture.isComplete());
    EXPECT_FALSE(capture.isActive());
    EXPECT_EQ(capture.describe().bars, 1);
    EXPECT_TRUE(sameAudio(processor->copyProcessedCapture(), previous)) << "the previous capture changed";

    // With memory back the same request goes through.
    captureWhole(8);
    EXPECT_EQ(processor->copyProcessedCapture().getNumSamples(), 8 * framesPerBar + tailFrames);
}

TEST_F(AllocationFailure, ARingThatCannotBeAllocatedStaysUnarmedUntilMemoryComesBack)
{
    {
        FailAllocationsLargerThan failing(captureTestLimit);
        EXPECT_FALSE(processor->armBeforeAfter());
        EXPECT_FALSE(processor->getBeforeAfterRing().isArmed());
    }
    run(20); // audio plays through an unarmed ring
    EXPECT_EQ(processor->requestKeepThat(4, keepLabel), "Play audio before using Keep That.");
    EXPECT_FALSE(processor->completeKeepThat());
    EXPECT_FALSE(processor->hasKeepThat());

    ASSERT_TRUE(processor->armBeforeAfter());
    run(20);
    EXPECT_EQ(processor->requestKeepThat(4, keepLabel), keepRequested);
    run(1);
    ASSERT_TRUE(processor->completeKeepThat());
    ASSERT_TRUE(processor->hasKeepThat());
    EXPECT_EQ(processor->getKeepThat().after.getNumSamples(), 20 * blockSize);
}

TEST_F(AllocationFailure, AKeepThatWindowThatCannotBeCopiedKeepsTheLastOneAndTheRingRunsOn)
{
    ASSERT_TRUE(processor->armBeforeAfter());
    run(120);
    ASSERT_EQ(processor->requestKeepThat(4, keepLabel), keepRequested);
    run(1);
    ASSERT_TRUE(processor->completeKeepThat());
    const auto first = processor->getKeepThat();
    ASSERT_EQ(first.after.getNumSamples(), 4 * framesPerBar); // about 200 kB a half

    run(10);
    const auto& ring = processor->getBeforeAfterRing();
    {
        FailAllocationsLargerThan failing(100 * 1024);
        EXPECT_EQ(processor->requestKeepThat(4, keepLabel), keepRequested);
        run(1);
        juce::String error;
        EXPECT_FALSE(processor->completeKeepThat(error));
        EXPECT_EQ(error, "There is not enough memory to keep this window; the previous Keep That is unchanged.");
        EXPECT_FALSE(ring.isRequestPending());
    }
    const auto index = ring.getWriteIndex();
    run(1);
    EXPECT_EQ(ring.getWriteIndex(), (index + blockSize) % ring.getRingLength()) << "the ring stayed frozen";
    EXPECT_TRUE(sameAudio(processor->getKeepThat().after, first.after));
    EXPECT_TRUE(sameAudio(processor->getKeepThat().before, first.before));

    EXPECT_EQ(processor->requestKeepThat(4, keepLabel), keepRequested);
    run(1);
    EXPECT_TRUE(processor->completeKeepThat());
    EXPECT_FALSE(sameAudio(processor->getKeepThat().after, first.after));
}
