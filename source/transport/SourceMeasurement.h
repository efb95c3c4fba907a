#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace sorvane
{
// The per-sample measurement both source analyses share: three band energies from two one-pole
// low-passes, the total energy, a slow envelope with the transient excess above it, and the peak.
// Runs on the mono mix of every analysed frame.
struct SourceMeasurement
{
    explicit SourceMeasurement(double analysedRate)
        : lowCoefficient(1.0 - std::exp(-2.0 * juce::MathConstants<double>::pi * 180.0 / analysedRate)),
          midCoefficient(1.0 - std::exp(-2.0 * juce::MathConstants<double>::pi * 2200.0 / analysedRate))
    {
    }

    void add(double m) noexcept
    {
        y1 += (m - y1) * lowCoefficient;
        y2 += (m - y2) * midCoefficient;
        low += y1 * y1;
        mid += (y2 - y1) * (y2 - y1);
        high += (m - y2) * (m - y2);
        total += m * m;

        const double magnitude = std::abs(m);
        envelope += (magnitude - envelope) * 0.0025;
        transientExcess += std::max(magnitude - 1.65 * envelope, 0.0);
        peak = std::max(peak, magnitude);
    }

    double bandSum() const noexcept { return low + mid + high + 1e-12; }
    double lowShare() const noexcept { return low / bandSum(); }
    double midShare() const noexcept { return mid / bandSum(); }
    double highShare() const noexcept { return high / bandSum(); }

    double lowCoefficient;
    double midCoefficient;
    double y1 = 0, y2 = 0;
    double low = 0, mid = 0, high = 0, total = 0;
    double envelope = 0, transientExcess = 0, peak = 0;
};

// Mono mix of one frame: the plain mean of all channels.
inline double monoSample(const juce::AudioBuffer<float>& audio, int frame) noexcept
{
    const int channels = audio.getNumChannels();
    double sum = 0;
    for (int c = 0; c < channels; ++c)
        sum += audio.getReadPointer(c)[frame];
    return sum / channels;
}

// Nearest integer, halves to even, whatever the floating-point environment says.
inline double roundHalfToEven(double x) noexcept
{
    const double nearest = std::round(x);
    if (std::abs(x - std::trunc(x)) == 0.5)
        return 2.0 * std::round(x * 0.5);
    return nearest;
}

inline bool cancelRequested(const std::atomic<bool>* cancel) noexcept
{
    return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

// The cancel flag is read once per this many analysed samples.
inline constexpr int cancelPollInterval = 4096;
} // namespace sorvane
