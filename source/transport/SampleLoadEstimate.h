#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

namespace sorvane
{
enum class SampleLoadPolicy : std::int32_t
{
    DECODE_IN_MEMORY = 0,
    WARN_BEFORE_DECODE = 1,
    REJECT_FOR_BOUNDED_MEMORY = 2
};

struct SampleLoadEstimate
{
    SampleLoadPolicy policy = SampleLoadPolicy::REJECT_FOR_BOUNDED_MEMORY;
    double durationSeconds = 0.0;
    std::uint64_t decodedBytes = 0;
    std::uint64_t peakJobBytes = 0;
    std::int32_t channels = 0;
    juce::String message;
};

// The decoded-memory estimate and load policy for a source header: sources are decoded into memory
// up to 2 hours and 512 MB of floats, and announced from 10 minutes or 256 MB.
SampleLoadEstimate evaluateSampleLoad(std::int64_t lengthInSamples, double sampleRate,
                                      std::int64_t numChannels);
} // namespace sorvane
