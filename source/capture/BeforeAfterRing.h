#pragma once

#include "capture/AudioBlockPresence.h"
#include "capture/BeforeAfterAudioSnapshot.h"

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_data_structures/juce_data_structures.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace sorvane
{
// The last 64 seconds of dry input and processed output, kept by the audio thread so a moment
// already heard can be kept ("Keep That"). A request freezes the ring at the next block boundary;
// the message thread then copies the newest bars out and lets the ring run on.
class BeforeAfterRing
{
public:
    static constexpr double ringSeconds = 64.0;

    enum class Request
    {
        accepted,
        noAudioYet,
        alreadyPending
    };

    struct KeepStamp
    {
        int bars = 4;
        double tempo = 120.0;
        juce::ValueTree parameters;
        double rangeStart = 0.0, rangeEnd = 1.0;
        bool looping = true;
    };

    // Any non-audio thread. Allocates and clears the rings and arms them; false when memory runs
    // out (the ring then stays unarmed). Nothing happens when rings of this shape already exist.
    bool arm(double deviceSampleRate, int channels);
    // The audio preparation: rings that exist are resized and cleared for the new device.
    void prepare(double deviceSampleRate, int channels);
    bool isArmed() const noexcept { return beforeAfterArmed.load(); }

    // Message thread.
    Request request(KeepStamp stamp);
    bool isRequestPending() const noexcept { return keepThatRequested.load(); }
    bool isFreezeComplete() const noexcept { return keepThatRequested.load() && ringFrozen.load(); }
    // Copies the frozen window into snapshot and lets the ring run on. False when no freeze is ready
    // or the copy cannot be allocated (the ring runs on either way in the second case).
    bool takeFrozenWindow(double deviceSampleRate, BeforeAfterAudioSnapshot& snapshot);
    // Source or range changed: what the ring holds no longer belongs to anything.
    void reset();

    std::int32_t getRingLength() const noexcept { return ringLength.load(); }
    std::int32_t getRingFill() const noexcept { return ringFill.load(); }
    std::int32_t getWriteIndex() const noexcept { return ringWriteIndex.load(); }

    // Audio thread.
    void write(const juce::AudioBuffer<float>& processed, int blockLength,
               const juce::AudioBuffer<float>& dry, bool dryHoldsSilence) noexcept;
    AudioBlockPresence& getPresence() noexcept { return presence; }

private:
    bool allocate(double deviceSampleRate, int channels); // caller holds controlMutex
    void thaw() noexcept;                                 // caller holds controlMutex
    static void copyOut(const juce::AudioBuffer<float>& ring, int start, int frames,
                        juce::AudioBuffer<float>& out);

    std::atomic<bool> beforeAfterArmed{false};
    std::atomic<std::int32_t> ringLength{0};
    int ringChannels = 1;
    juce::AudioBuffer<float> dryRing, wetRing;
    std::atomic<std::int32_t> ringWriteIndex{0}, ringFill{0};
    std::atomic<bool> keepThatRequested{false}, ringFrozen{false}, fillResetPending{false};
    KeepStamp keep;

    std::mutex controlMutex; // never taken by the audio thread
    AudioBlockPresence presence;
};
} // namespace sorvane
