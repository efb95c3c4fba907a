#include "transport/SourceRange.h"

#include <cmath>

namespace sorvane
{
bool normaliseCreatorRange(double start, double end, double& outStart, double& outEnd, juce::String& error)
{
    error.clear();
    if (std::isfinite(start) && std::isfinite(end) && start >= 0.0 && end <= 1.0 && end > start &&
        end - start >= 0.000001)
    {
        outStart = std::min(start, 1.0);
        outEnd = std::max(end, outStart);
        return true;
    }

    error = "The source range must be ordered, finite, and contain at least one millionth of the source.";
    return false;
}

namespace
{
constexpr juce::int64 searchRadius = 2048;

bool isZeroCrossing(const float* x, juce::int64 i) noexcept
{
    return (x[i - 1] <= 0.0f && x[i] >= 0.0f) || (x[i - 1] >= 0.0f && x[i] <= 0.0f);
}

// The crossing nearest to target within [from, to]; the first found wins a tie.
juce::int64 nearestCrossing(const float* x, juce::int64 target, juce::int64 from, juce::int64 to)
{
    juce::int64 best = target;
    juce::int64 bestDistance = -1;
    for (auto i = from; i <= to; ++i)
    {
        if (!isZeroCrossing(x, i))
            continue;
        const auto distance = std::abs(i - target);
        if (bestDistance < 0 || distance < bestDistance)
        {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}
} // namespace

SnappedRange snapRangeToZeroCrossings(const float* x, juce::int64 n, double start, double end)
{
    if (x == nullptr || n < 3)
        return {start, end};

    auto s = juce::jlimit<juce::int64>(0, n - 2, (juce::int64)std::llround(start * (double)n));
    auto e = (juce::int64)std::llround(end * (double)n);
    e = e <= s ? s + 1 : std::min(e, n);

    const auto snappedStart =
        nearestCrossing(x, s, std::max<juce::int64>(s - searchRadius, 1), std::min(s + searchRadius, n - 2));

    e = e > snappedStart ? std::min(e, n - 1) : snappedStart + 1;
    const auto snappedEnd =
        nearestCrossing(x, e, std::max({e - searchRadius, snappedStart + 1, (juce::int64)1}),
                        std::min(e + searchRadius, n - 1));

    return {(double)snappedStart / (double)n, (double)std::max(snappedStart + 1, snappedEnd) / (double)n};
}
} // namespace sorvane
