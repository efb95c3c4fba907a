#include "transport/SampleLoadEstimate.h"

#include <cmath>

namespace sorvane
{
namespace
{
constexpr std::uint64_t jobAllowanceBytes = 2097152;

// One decimal place, halves rounded up.
juce::String oneDecimal(double value)
{
    return juce::String(std::floor(value * 10.0 + 0.5) / 10.0, 1);
}

juce::String megabytes(std::uint64_t bytes)
{
    return oneDecimal((double)bytes / 1048576.0);
}
} // namespace

SampleLoadEstimate evaluateSampleLoad(std::int64_t lengthInSamples, double sampleRate,
                                      std::int64_t numChannels)
{
    SampleLoadEstimate estimate;
    if (lengthInSamples < 1 || !(std::isfinite(sampleRate) && sampleRate > 0.0) || numChannels < 1)
    {
        estimate.message = "The audio header does not contain a valid duration, rate, or channel count.";
        return estimate;
    }

    estimate.channels = (std::int32_t)std::min<std::int64_t>(numChannels, 2);
    estimate.durationSeconds = (double)lengthInSamples / sampleRate;

    constexpr std::int64_t largestEstimate = 9223372036852678655LL; // int64 max less the job allowance
    if (lengthInSamples > largestEstimate / ((std::int64_t)estimate.channels * 4))
    {
        estimate.message = "The decoded-memory estimate overflowed the supported range.";
        return estimate;
    }

    const auto totalSamples = lengthInSamples * estimate.channels;
    estimate.decodedBytes = (std::uint64_t)totalSamples * 4;
    estimate.peakJobBytes = estimate.decodedBytes + jobAllowanceBytes;
    const auto minutes = oneDecimal(estimate.durationSeconds / 60.0);

    if (lengthInSamples > 2147483647LL || estimate.durationSeconds > 7200.0 || totalSamples > 134217728LL)
    {
        estimate.message = "The source would decode to " + megabytes(estimate.decodedBytes) + " MB" +
                           " for " + minutes +
                           " minutes, exceeding Sorvane's 2-hour / 512 MB in-memory limit.";
        return estimate;
    }

    if (estimate.durationSeconds < 600.0 && totalSamples < 67108864LL)
    {
        estimate.policy = SampleLoadPolicy::DECODE_IN_MEMORY;
        estimate.message = "Decoded-memory estimate: " + megabytes(estimate.decodedBytes) + " MB" +
                           "; bounded peak job estimate: " + megabytes(estimate.peakJobBytes) + " MB" + ".";
    }
    else
    {
        estimate.policy = SampleLoadPolicy::WARN_BEFORE_DECODE;
        estimate.message = "This source will decode to approximately " + megabytes(estimate.decodedBytes) +
                           " MB" + " with a bounded peak job estimate of " +
                           megabytes(estimate.peakJobBytes) + " MB" + " and remain in memory (" + minutes +
                           " minutes).";
    }
    return estimate;
}
} // namespace sorvane
