#include "capture/ProcessedCapture.h"

#include <cmath>
#include <limits>
#include <new>

namespace sorvane
{
namespace
{
constexpr std::int64_t maximumFrames = std::numeric_limits<std::int32_t>::max();

// Ties to even: the current rounding mode, which nothing in the product changes.
std::int64_t roundHalfEven(double value)
{
    return (std::int64_t)std::nearbyint(value);
}

double captureRateFor(const CaptureRequest& request)
{
    return std::max(request.deviceSampleRate, 8000.0);
}
} // namespace

std::int64_t ProcessedCapture::loopFramesFor(const CaptureRequest& request)
{
    const double rate = captureRateFor(request);
    const double tempo = juce::jlimit(30.0, 300.0, std::isfinite(request.tempo) ? request.tempo : 120.0);
    const int bars = juce::jlimit(1, 16, request.bars);
    std::int64_t loop = std::max<std::int64_t>(1, roundHalfEven(rate * 240.0 / tempo * bars));

    // A one-shot never records more than its range lasts.
    if (!request.looping && request.sourceSampleRate > 0.0)
    {
        const double seconds = request.sourceRangeFrames / request.sourceSampleRate;
        const auto rangeFrames = std::max<std::int64_t>(1, (std::int64_t)std::round(rate * seconds));
        loop = std::min(loop, rangeFrames);
    }
    return loop;
}

std::int64_t ProcessedCapture::tailFramesFor(const CaptureRequest& request)
{
    return request.includeTail ? roundHalfEven(captureRateFor(request) * tailSeconds) : 0;
}

bool ProcessedCapture::start(const CaptureRequest& request, juce::String& error)
{
    error.clear();
    std::lock_guard<std::mutex> lock(controlMutex);
    if (captureActive.load())
    {
        error = "A capture is already in progress.";
        return false;
    }

    const auto loop = loopFramesFor(request);
    const auto total = loop + tailFramesFor(request);
    const int channels = std::max(1, request.channels);
    if (total > maximumFrames)
    {
        error = "This capture would be too long to hold in memory; choose fewer bars.";
        return false;
    }

    // The audio thread may still be finishing the block that ended or cancelled the last capture.
    presence.waitForBlockUnderWay();

    // A new buffer is made before the old one is given up, so a refusal leaves the last capture whole.
    if (captureBuffer.getNumChannels() != channels || captureBuffer.getNumSamples() != (int)total)
    {
        juce::AudioBuffer<float> fresh;
        try
        {
            fresh.setSize(channels, (int)total);
        }
        catch (const std::bad_alloc&)
        {
            error = "There is not enough memory for a capture of this length; choose fewer bars.";
            return false;
        }
        fresh.clear();
        captureBuffer = std::move(fresh);
        captureBufferClear = true;
    }
    if (!captureBufferClear)
    {
        captureBuffer.clear();
        captureBufferClear = true;
    }

    captureChannels = channels;
    captureSampleRate = captureRateFor(request);
    captureTempo = juce::jlimit(30.0, 300.0, std::isfinite(request.tempo) ? request.tempo : 120.0);
    captureBars = juce::jlimit(1, 16, request.bars);
    captureIncludesTail = request.includeTail;
    captureRangeStart = request.rangeStart;
    captureRangeEnd = request.rangeEnd;
    captureLooping = request.looping;
    captureLoopSamples = (std::int32_t)loop;
    captureTotalSamples = (std::int32_t)total;
    captureSumDrySquares = 0.0;
    captureSumWetSquares = 0.0;
    captureMatchLevel = request.matchLevel;
    captureResultLevelDb = request.resultLevelDb;
    captureWritePosition.store(0);
    captureComplete.store(false);
    captureActive.store(true); // last: the audio thread reads it first
    return true;
}

void ProcessedCapture::cancel() noexcept
{
    captureActive.store(false);
    // A block under way may still write the last frame and mark the capture complete after this.
    presence.waitForBlockUnderWay();
    captureComplete.store(false);
    captureWritePosition.store(0);
}

juce::AudioBuffer<float> ProcessedCapture::copy() const
{
    std::lock_guard<std::mutex> lock(controlMutex);
    if (!captureComplete.load() || captureActive.load())
        return {};

    juce::AudioBuffer<float> result;
    try
    {
        result.makeCopyOf(captureBuffer);
    }
    catch (const std::bad_alloc&)
    {
        return {};
    }

    if (captureMatchLevel && captureSumWetSquares > 1.0e-18)
    {
        const float resultGain =
            captureResultLevelDb > -100.0f ? std::pow(10.0f, captureResultLevelDb * 0.05f) : 0.0f;
        const double gain = std::sqrt(captureSumDrySquares / captureSumWetSquares) * (double)resultGain;
        result.applyGain((float)juce::jlimit(0.0, (double)maximumMatchGain, gain));
    }
    return result;
}

CaptureDescription ProcessedCapture::describe() const
{
    std::lock_guard<std::mutex> lock(controlMutex);
    CaptureDescription d;
    d.sampleRate = captureSampleRate;
    d.tempo = captureTempo;
    d.bars = captureBars;
    d.includesTail = captureIncludesTail;
    d.rangeStart = captureRangeStart;
    d.rangeEnd = captureRangeEnd;
    d.looping = captureLooping;
    return d;
}

float ProcessedCapture::getProgress() const noexcept
{
    if (!captureActive.load())
        return captureComplete.load() ? 1.0f : 0.0f;
    const auto total = captureTotalSamples;
    return total > 0 ? juce::jlimit(0.0f, 1.0f, (float)captureWritePosition.load() / (float)total) : 0.0f;
}

ProcessedCapture::SourceGate ProcessedCapture::gateSource(int blockLength) const noexcept
{
    SourceGate gate;
    if (!captureActive.load())
        return gate;

    const auto position = captureWritePosition.load(std::memory_order_relaxed);
    if (position >= captureLoopSamples)
    {
        gate.render = false;
        gate.clearFrom = 0;
    }
    else if ((std::int64_t)position + blockLength > captureLoopSamples)
    {
        gate.clearFrom = std::max(captureLoopSamples - position, 0);
    }
    return gate;
}

void ProcessedCapture::write(const juce::AudioBuffer<float>& processed, int blockLength,
                             const juce::AudioBuffer<float>& dry, bool dryHoldsSilence) noexcept
{
    if (!captureActive.load())
        return;

    const int position = captureWritePosition.load(std::memory_order_relaxed);
    const int n = std::min(captureTotalSamples - position, blockLength);
    if (n < 1)
        return;

    const int channels = std::min(processed.getNumChannels(), captureChannels);
    const bool silent = processed.hasBeenCleared();
    for (int c = 0; c < channels; ++c)
    {
        if (silent)
            captureBuffer.clear(c, position, n);
        else
            captureBuffer.copyFrom(c, position, processed, c, 0, n);
    }
    if (!silent && channels > 0)
        captureBufferClear = false;

    // Only the loop is measured: the tail is the effect's own decay, with no dry signal to match.
    if (captureMatchLevel)
    {
        const int measured = std::min({captureLoopSamples - position, n, dry.getNumSamples()});
        const int measuredChannels = std::min(dry.getNumChannels(), channels);
        for (int c = 0; c < measuredChannels && measured > 0; ++c)
        {
            const float* d = dry.getReadPointer(c);
            const float* w = captureBuffer.getReadPointer(c, position);
            double drySum = 0.0, wetSum = 0.0;
            for (int i = 0; i < measured; ++i)
            {
                drySum += dryHoldsSilence ? 0.0 : (double)d[i] * (double)d[i];
                wetSum += (double)w[i] * (double)w[i];
            }
            captureSumDrySquares += drySum;
            captureSumWetSquares += wetSum;
        }
    }

    const int next = position + n;
    captureWritePosition.store(next, std::memory_order_release);
    if (next >= captureTotalSamples)
    {
        captureComplete.store(true);
        captureActive.store(false);
    }
}
} // namespace sorvane
