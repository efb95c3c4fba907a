#include "transport/SourcePlayer.h"

#include <cmath>

namespace sorvane
{
namespace
{
constexpr double halfPi = 1.5707963267948966;

juce::int64 lastFrameIndex(const LoadedSample* s) noexcept
{
    return s == nullptr ? 0 : s->getLastFrameIndex();
}
} // namespace

void SourcePlayer::prepare(double newDeviceSampleRate) noexcept
{
    deviceSampleRate = newDeviceSampleRate;
    resetVoice();
}

void SourcePlayer::resetVoice() noexcept
{
    voiceSample = nullptr;
    readPosition = 0.0;
    fadeGain = fadeTarget = fadeStep = 0.0f;
    fadeSamplesRemaining = 0;
    pendingSwap = pendingSeek = voiceActive = false;
    lastSeekRequest = 0;
}

int SourcePlayer::fadeLengthSamples(double deviceRate, float milliseconds) noexcept
{
    const auto ms = juce::jlimit(5.0f, 30.0f, milliseconds);
    return std::max(1, (int)std::lround(deviceRate * (double)ms / 1000.0));
}

void SourcePlayer::fadeTo(float gain, int length) noexcept
{
    fadeTarget = gain;
    fadeSamplesRemaining = length;
    fadeStep = (gain - fadeGain) / (float)length;
}

void SourcePlayer::applyPendingWork(const LoadedSample* published, TransportState& transport) noexcept
{
    const double rangeStart = transport.rangeStart.load();
    if (pendingSwap)
    {
        voiceSample = published;
        readPosition = rangeStart * (double)lastFrameIndex(published);
        pendingSwap = pendingSeek = false;
    }
    else if (pendingSeek)
    {
        readPosition =
            transport.seekTarget.load(std::memory_order_relaxed) * (double)lastFrameIndex(voiceSample);
        pendingSeek = false;
    }
    if (transport.restartRequested.exchange(false))
        readPosition = rangeStart * (double)lastFrameIndex(voiceSample);
    transport.playheadSamples.store(readPosition);
}

void SourcePlayer::render(juce::AudioBuffer<float>& buffer, const LoadedSample* published,
                          TransportState& transport) noexcept
{
    // The device input is discarded whenever the player renders.
    if (!buffer.hasBeenCleared())
        buffer.clear();

    const float milliseconds = juce::jlimit(5.0f, 30.0f, transport.crossfadeMilliseconds.load());
    const int fadeLength = fadeLengthSamples(deviceSampleRate, milliseconds);

    // A new source fades the old one out and swaps at silence.
    if (published != nullptr && voiceSample == nullptr)
    {
        voiceSample = published;
        readPosition = 0.0;
        fadeGain = fadeTarget = 0.0f;
        fadeSamplesRemaining = 0;
    }
    else if (voiceSample != published)
    {
        pendingSwap = true;
        voiceActive = true;
        if (fadeTarget != 0.0f)
            fadeTo(0.0f, fadeLength);
    }

    // A seek during a swap waits for the swap.
    const auto seekCount = transport.seekRequestCount.load(std::memory_order_acquire);
    if (voiceSample != nullptr && voiceSample == published && seekCount != lastSeekRequest)
    {
        lastSeekRequest = seekCount;
        pendingSeek = true;
        voiceActive = true;
        if (fadeTarget != 0.0f)
            fadeTo(0.0f, fadeLength);
    }

    if (fadeSamplesRemaining == 0 && fadeGain <= 0.0f)
        applyPendingWork(published, transport);

    if (voiceSample == nullptr)
    {
        voiceActive = false;
        fadeGain = fadeTarget = 0.0f;
        fadeSamplesRemaining = 0;
        return;
    }

    const bool audible = voiceSample == published && transport.playing.load() && !pendingSwap && !pendingSeek;
    const float desired = audible ? 1.0f : 0.0f;
    if (audible)
        voiceActive = true;
    if (desired != fadeTarget)
        fadeTo(desired, fadeLength);

    // Silent with nothing to fade: rendering would only move the playhead away from where the
    // swap, seek or stop just put it.
    if (!audible && fadeSamplesRemaining == 0 && fadeGain <= 0.0f)
        voiceActive = false;

    if (!voiceActive)
        return;

    renderBlock(buffer, transport, transport.looping.load(), transport.rangeStart.load(),
                transport.rangeEnd.load(), milliseconds);

    if (!audible && fadeSamplesRemaining == 0 && fadeGain <= 0.0f)
    {
        applyPendingWork(published, transport);
        voiceActive = voiceSample != nullptr && transport.playing.load();
    }
}

void SourcePlayer::renderBlock(juce::AudioBuffer<float>& buffer, TransportState& transport, bool looping,
                               double rangeStart, double rangeEnd, float milliseconds) noexcept
{
    const auto& source = voiceSample->audio;
    const juce::int64 n = voiceSample->getNumFrames();
    const int sourceChannels = source.getNumChannels();
    if (n < 2 || sourceChannels < 1)
        return;

    // The region of the file the range selects, and the loop seam at its end.
    auto t = (juce::int64)std::floor((double)n * rangeStart);
    t = t < 0 ? 0 : std::min(t, n - 2);
    auto u = (juce::int64)std::ceil((double)n * rangeEnd);
    u = u <= t ? t + 1 : std::min(u, n);
    const juce::int64 regionLength = u - t;
    const double r = voiceSample->sampleRate;
    const auto c = (juce::int64)std::llround(r * (double)milliseconds / 1000.0);
    const juce::int64 seam = c < 1 ? 1 : std::min(std::max<juce::int64>(regionLength / 4, 1), c);
    const double wrapLength = (double)std::max<juce::int64>(regionLength - seam, 1);
    const double wrapTarget = (double)(t + seam);
    const juce::int64 seamStart = u - seam;

    double pos = (readPosition >= (double)t && readPosition < (double)u) ? readPosition : (double)t;
    const double increment = r / std::max(deviceSampleRate, 8000.0);

    const auto read = [&source, sourceChannels](int channel, juce::int64 i, juce::int64 j, double frac)
    {
        const float* x = source.getReadPointer(std::min(channel, sourceChannels - 1));
        return x[i] + (x[j] - x[i]) * (float)frac;
    };

    const int outputChannels = buffer.getNumChannels();
    float* const* outputs = buffer.getArrayOfWritePointers(); // also marks the buffer as holding audio
    bool ended = false;
    for (int frame = 0; frame < buffer.getNumSamples(); ++frame)
    {
        if (pos >= (double)u)
        {
            if (!looping)
            {
                ended = true;
                break;
            }
            pos = std::fmod(pos - (double)u, wrapLength) + wrapTarget;
        }

        const auto i = juce::jlimit<juce::int64>(t, u - 1, (juce::int64)pos);
        const juce::int64 j = i + 1 < u ? i + 1 : (looping ? t : i);
        const double frac = pos - (double)i;

        if (fadeSamplesRemaining >= 1)
        {
            fadeGain += fadeStep;
            if (--fadeSamplesRemaining == 0)
                fadeGain = fadeTarget;
        }
        // Outside a fade the gain is exactly 0 or 1; only a fade needs the sine.
        const float gain = fadeGain <= 0.0f   ? 0.0f
                           : fadeGain >= 1.0f ? 1.0f
                                              : (float)std::sin((double)fadeGain * halfPi);

        const bool inSeam = i >= seamStart;
        double theta = 0.0;
        double headPosition = 0.0;
        if (inSeam)
        {
            const double k = (pos - (double)seamStart) / (double)seam;
            theta = k < 0.0 ? 0.0 : std::min(k, 1.0) * halfPi;
            headPosition = juce::jlimit((double)t, (double)(u - 1), pos + (double)t - (double)seamStart);
        }
        const float cosTheta = inSeam ? (float)std::cos(theta) : 1.0f;
        const float sinTheta = inSeam ? (float)std::sin(theta) : 0.0f;

        for (int ch = 0; ch < outputChannels; ++ch)
        {
            const float a = read(ch, i, j, frac);
            float value = a;
            if (inSeam && looping)
            {
                const auto h = (juce::int64)headPosition;
                const float b = read(ch, h, std::min(h + 1, n - 1), headPosition - (double)h);
                value = a * cosTheta + b * sinTheta;
            }
            else if (inSeam)
            {
                value = a * cosTheta;
            }
            outputs[ch][frame] = gain * value;
        }
        pos += increment;
    }

    if (ended || pos >= (double)u)
    {
        if (looping && !ended)
        {
            pos = std::fmod(pos - (double)u, wrapLength) + wrapTarget;
        }
        else
        {
            // The seam has already faded the end out: the voice is silent now. Left at full gain,
            // the next block's stop fade would replay the range start.
            transport.playing.store(false);
            pos = (double)u;
            fadeGain = fadeTarget = fadeStep = 0.0f;
            fadeSamplesRemaining = 0;
        }
    }

    readPosition = pos;
    transport.playheadSamples.store(pos);
}
} // namespace sorvane
