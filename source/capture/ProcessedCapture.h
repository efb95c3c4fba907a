#pragma once

#include "capture/AudioBlockPresence.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace sorvane
{
// What a capture is asked to record; the processor fills it from its parameters and transport.
struct CaptureRequest
{
    int bars = 4;
    bool includeTail = true;
    double tempo = 120.0;
    double deviceSampleRate = 44100.0;
    int channels = 2;
    double rangeStart = 0.0, rangeEnd = 1.0;
    bool looping = true;
    // One-shot ranges only: the range's length in source frames and the source's rate (0 = unknown).
    double sourceRangeFrames = 0.0;
    double sourceSampleRate = 0.0;
    bool matchLevel = false;
    float resultLevelDb = 0.0f;
};

// Everything about a finished capture except its audio.
struct CaptureDescription
{
    double sampleRate = 44100.0;
    double tempo = 120.0;
    int bars = 4;
    bool includesTail = true;
    double rangeStart = 0.0, rangeEnd = 1.0;
    bool looping = true;
};

// Records the processed output for a whole number of bars plus an effect tail, measuring dry and
// processed energy over the loop so the copy can be level-matched. The message thread starts,
// cancels and copies; the audio thread renders-gates and writes, without locks or allocation.
class ProcessedCapture
{
public:
    static constexpr double tailSeconds = 4.0;
    static constexpr float maximumMatchGain = 15.8489319246f; // +24 dB

    // Frame counts a request leads to; exposed so the arithmetic can be checked on its own.
    static std::int64_t loopFramesFor(const CaptureRequest& request);
    static std::int64_t tailFramesFor(const CaptureRequest& request);

    // Message thread.
    bool start(const CaptureRequest& request, juce::String& error);
    // Waits for the audio block under way, so a cancel is never undone by a capture completing.
    void cancel() noexcept;
    // The level-matched capture, or an empty buffer unless one is complete.
    juce::AudioBuffer<float> copy() const;
    bool isComplete() const noexcept { return captureComplete.load() && !captureActive.load(); }
    bool isActive() const noexcept { return captureActive.load(); }
    CaptureDescription describe() const;
    // Frames written so far over the frames the capture will hold, 0..1.
    float getProgress() const noexcept;

    // Audio thread, in block order: how much of the source to render, then the write.
    struct SourceGate
    {
        bool render = true;
        int clearFrom = -1; // first frame to silence, or -1
    };
    SourceGate gateSource(int blockLength) const noexcept;
    void write(const juce::AudioBuffer<float>& processed, int blockLength,
               const juce::AudioBuffer<float>& dry, bool dryHoldsSilence) noexcept;

    AudioBlockPresence& getPresence() noexcept { return presence; }

private:
    std::atomic<bool> captureActive{false}, captureComplete{false};
    std::atomic<std::int32_t> captureWritePosition{0};
    juce::AudioBuffer<float> captureBuffer;
    bool captureBufferClear = false;
    int captureChannels = 1;
    double captureSampleRate = 44100.0;
    double captureTempo = 120.0;
    std::int32_t captureBars = 4;
    bool captureIncludesTail = true;
    double captureRangeStart = 0.0, captureRangeEnd = 1.0;
    bool captureLooping = true;
    std::int32_t captureLoopSamples = 0, captureTotalSamples = 0;
    bool captureMatchLevel = false;
    float captureResultLevelDb = 0.0f;
    double captureSumDrySquares = 0.0, captureSumWetSquares = 0.0;

    // Start and copy never overlap; the audio thread never takes it.
    mutable std::mutex controlMutex;
    AudioBlockPresence presence;
};
} // namespace sorvane
