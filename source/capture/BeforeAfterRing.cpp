#include "capture/BeforeAfterRing.h"

#include <cmath>
#include <new>

namespace sorvane
{
namespace
{
std::int32_t ringLengthFor(double deviceSampleRate)
{
    const double frames = std::round(deviceSampleRate * BeforeAfterRing::ringSeconds);
    return (std::int32_t)juce::jlimit(1.0, (double)std::numeric_limits<std::int32_t>::max(), frames);
}
} // namespace

bool BeforeAfterRing::allocate(double deviceSampleRate, int channels)
{
    const auto length = ringLengthFor(deviceSampleRate);
    channels = std::max(1, channels);
    if (dryRing.getNumChannels() == channels && dryRing.getNumSamples() == length)
    {
        dryRing.clear();
        wetRing.clear();
    }
    else
    {
        juce::AudioBuffer<float> dry, wet;
        try
        {
            dry.setSize(channels, length);
            wet.setSize(channels, length);
        }
        catch (const std::bad_alloc&)
        {
            return false;
        }
        dry.clear();
        wet.clear();
        dryRing = std::move(dry);
        wetRing = std::move(wet);
    }
    ringChannels = channels;
    ringLength.store(length);
    ringWriteIndex.store(0);
    ringFill.store(0);
    fillResetPending.store(false);
    keepThatRequested.store(false);
    ringFrozen.store(false);
    return true;
}

bool BeforeAfterRing::arm(double deviceSampleRate, int channels)
{
    std::lock_guard<std::mutex> lock(controlMutex);
    if (beforeAfterArmed.load() && ringLength.load() == ringLengthFor(deviceSampleRate) &&
        ringChannels == std::max(1, channels))
        return true;

    // Withdraw the rings from the audio thread before touching them.
    beforeAfterArmed.store(false);
    presence.waitForBlockUnderWay();
    if (!allocate(deviceSampleRate, channels))
        return false;
    beforeAfterArmed.store(true);
    return true;
}

void BeforeAfterRing::prepare(double deviceSampleRate, int channels)
{
    std::lock_guard<std::mutex> lock(controlMutex);
    if (!beforeAfterArmed.load())
        return;
    beforeAfterArmed.store(false);
    presence.waitForBlockUnderWay();
    if (allocate(deviceSampleRate, channels))
        beforeAfterArmed.store(true);
}

BeforeAfterRing::Request BeforeAfterRing::request(KeepStamp stamp)
{
    if (ringLength.load() < 1 || ringFill.load() < 1 || !beforeAfterArmed.load())
        return Request::noAudioYet;
    if (keepThatRequested.exchange(true))
        return Request::alreadyPending;

    stamp.bars = stamp.bars < 5 ? 4 : 8;
    stamp.tempo = juce::jlimit(30.0, 300.0, std::isfinite(stamp.tempo) ? stamp.tempo : 120.0);
    {
        std::lock_guard<std::mutex> lock(controlMutex);
        keep = std::move(stamp);
    }
    ringFrozen.store(false);
    return Request::accepted;
}

void BeforeAfterRing::copyOut(const juce::AudioBuffer<float>& ring, int start, int frames,
                              juce::AudioBuffer<float>& out)
{
    const int length = ring.getNumSamples();
    const int first = std::min(frames, length - start);
    for (int c = 0; c < out.getNumChannels(); ++c)
    {
        out.copyFrom(c, 0, ring, c, start, first);
        if (frames > first)
            out.copyFrom(c, first, ring, c, 0, frames - first);
    }
}

bool BeforeAfterRing::takeFrozenWindow(double deviceSampleRate, BeforeAfterAudioSnapshot& snapshot)
{
    std::lock_guard<std::mutex> lock(controlMutex);
    if (!keepThatRequested.load() || !ringFrozen.load())
        return false;

    const auto length = ringLength.load();
    const auto wanted = std::max<std::int64_t>(
        1, (std::int64_t)std::nearbyint(deviceSampleRate * 240.0 / keep.tempo * keep.bars));
    const int frames = (int)std::min<std::int64_t>({wanted, length, ringFill.load()});

    bool copied = false;
    if (frames >= 1)
    {
        BeforeAfterAudioSnapshot next;
        try
        {
            next.before.setSize(ringChannels, frames);
            next.after.setSize(ringChannels, frames);
            const int start = (int)(((std::int64_t)ringWriteIndex.load() + length - frames) % length);
            copyOut(dryRing, start, frames, next.before);
            copyOut(wetRing, start, frames, next.after);
            next.sampleRate = deviceSampleRate;
            next.tempo = keep.tempo;
            next.bars = keep.bars;
            next.rangeStart = keep.rangeStart;
            next.rangeEnd = keep.rangeEnd;
            next.looping = keep.looping;
            next.parameterState = keep.parameters.createCopy();
            snapshot = std::move(next);
            copied = true;
        }
        catch (const std::bad_alloc&)
        {
        }
    }

    thaw();
    return copied;
}

void BeforeAfterRing::reset()
{
    std::lock_guard<std::mutex> lock(controlMutex);
    // The audio thread owns the fill count; it starts again from zero at its next block.
    fillResetPending.store(true);
    ringFill.store(0);
    thaw();
}

void BeforeAfterRing::thaw() noexcept
{
    // The request goes first: a block that sees "frozen" alone just skips one write. A block that
    // saw the request may still be about to store "frozen"; thawing before it has would leave the
    // ring frozen with nobody to thaw it, so its end is awaited.
    keepThatRequested.store(false);
    presence.waitForBlockUnderWay();
    ringFrozen.store(false);
}

void BeforeAfterRing::write(const juce::AudioBuffer<float>& processed, int blockLength,
                            const juce::AudioBuffer<float>& dry, bool dryHoldsSilence) noexcept
{
    if (!beforeAfterArmed.load())
        return;
    const int length = ringLength.load(std::memory_order_relaxed);
    if (length < 1)
        return;

    if (fillResetPending.exchange(false))
        ringFill.store(0, std::memory_order_relaxed);

    if (keepThatRequested.load())
    {
        ringFrozen.store(true);
        return;
    }
    if (ringFrozen.load())
        return;

    const int n = std::min({blockLength, dry.getNumSamples(), length});
    const int channels = std::min({processed.getNumChannels(), dry.getNumChannels(), ringChannels});
    if (n < 1)
        return;

    const int index = ringWriteIndex.load(std::memory_order_relaxed);
    const int first = std::min(n, length - index);
    const bool processedSilent = processed.hasBeenCleared();
    for (int c = 0; c < channels; ++c)
    {
        auto put = [&](juce::AudioBuffer<float>& ring, const juce::AudioBuffer<float>& from, bool silent)
        {
            if (silent)
            {
                juce::FloatVectorOperations::clear(ring.getWritePointer(c, index), first);
                if (n > first)
                    juce::FloatVectorOperations::clear(ring.getWritePointer(c, 0), n - first);
                return;
            }
            juce::FloatVectorOperations::copy(ring.getWritePointer(c, index), from.getReadPointer(c), first);
            if (n > first)
                juce::FloatVectorOperations::copy(ring.getWritePointer(c, 0), from.getReadPointer(c, first),
                                                  n - first);
        };
        put(wetRing, processed, processedSilent);
        put(dryRing, dry, dryHoldsSilence);
    }

    ringWriteIndex.store((index + n) % length, std::memory_order_release);
    ringFill.store(std::min(ringFill.load(std::memory_order_relaxed) + n, length), std::memory_order_release);
}
} // namespace sorvane
