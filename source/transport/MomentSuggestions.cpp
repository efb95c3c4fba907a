#include "transport/MomentSuggestions.h"
#include "transport/SourceMeasurement.h"

#include <algorithm>
#include <cmath>

namespace sorvane
{
namespace
{
constexpr std::int64_t maximumWindowReads = 200000;
constexpr double minimumSeconds = 5.0;

double clamp01(double x)
{
    return std::clamp(x, 0.0, 1.0);
}

double levelDb(double rms)
{
    return rms > 0 ? std::max(20.0 * std::log10(rms), -90.0) : -90.0;
}

struct WindowMeasure
{
    bool cancelled = false;
    double rms = 0, low = 0, mid = 0, high = 0, peak = 0, transient = 0;
};

WindowMeasure measureWindow(const juce::AudioBuffer<float>& audio, double sampleRate, std::int64_t start,
                            std::int64_t length, const std::atomic<bool>* cancel)
{
    WindowMeasure result;
    const std::int64_t step =
        std::max<std::int64_t>(1, (length + maximumWindowReads - 1) / maximumWindowReads);
    SourceMeasurement measure(sampleRate / (double)step);

    std::int64_t count = 0;
    for (std::int64_t frame = start; frame < start + length; frame += step, ++count)
    {
        if (count % cancelPollInterval == 0 && cancelRequested(cancel))
        {
            result.cancelled = true;
            return result;
        }
        measure.add(monoSample(audio, (int)frame));
    }

    result.rms = std::sqrt(measure.total / (double)count);
    result.low = measure.lowShare();
    result.mid = measure.midShare();
    result.high = measure.highShare();
    result.peak = measure.peak;
    result.transient = clamp01((measure.transientExcess / (double)count) / std::max(result.rms, 0.002) * 7.0);
    return result;
}

const char* dominantMetric(const MomentSuggestion& s)
{
    const float level = s.levelScore, transient = s.transientScore, contrast = s.contrastScore;
    const float novelty = s.noveltyScore, headroom = s.headroomScore;
    if (headroom > level && headroom > transient && headroom > contrast && headroom > novelty)
        return "headroom";
    if (novelty > level && novelty > transient && novelty > contrast)
        return "spectral novelty";
    if (contrast > level && contrast > transient)
        return "contrast";
    if (transient > level)
        return "transient activity";
    return "clear level";
}
} // namespace

MomentWindowLayout momentWindowLayout(std::int64_t frames, double sampleRate)
{
    MomentWindowLayout layout;
    if (!(sampleRate > 0) || frames <= 0)
        return layout;
    const double duration = (double)frames / sampleRate;
    if (duration < minimumSeconds)
        return layout;

    const double seconds = std::min(std::clamp(duration / 6.0, minimumSeconds, 15.0), duration);
    layout.windowFrames = std::max<std::int64_t>(1, (std::int64_t)roundHalfToEven(sampleRate * seconds));
    layout.hopFrames = std::max<std::int64_t>(1, layout.windowFrames / 2);
    layout.minimumFrames = (std::int64_t)roundHalfToEven(sampleRate * minimumSeconds);
    return layout;
}

std::vector<MomentSuggestion> collectMomentCandidates(const juce::AudioBuffer<float>& audio,
                                                      double sampleRate, const std::atomic<bool>* cancel)
{
    std::vector<MomentSuggestion> candidates;
    const std::int64_t frames = audio.getNumSamples();
    if (audio.getNumChannels() <= 0)
        return candidates;
    const auto layout = momentWindowLayout(frames, sampleRate);
    if (layout.windowFrames == 0)
        return candidates;

    bool hasPrevious = false;
    double previousRms = 0, previousLow = 0, previousMid = 0, previousHigh = 0;

    for (std::int64_t start = 0; start < frames; start += layout.hopFrames)
    {
        if (cancelRequested(cancel))
            return {};
        const std::int64_t length = std::min(layout.windowFrames, frames - start);
        if (length < layout.minimumFrames)
            break;

        const auto w = measureWindow(audio, sampleRate, start, length, cancel);
        if (w.cancelled)
            return {};

        // A window with NaN or infinity in it has no meaningful score and would break the ranking.
        const bool finite = std::isfinite(w.rms) && std::isfinite(w.peak) && std::isfinite(w.low) &&
                            std::isfinite(w.mid) && std::isfinite(w.high) && std::isfinite(w.transient);
        if (finite && w.peak < 0.995) // near-clipping windows are never proposed
        {
            MomentSuggestion s;
            const double level = levelDb(w.rms);
            s.transientScore = (float)w.transient;
            s.levelScore = (float)clamp01((level + 42.0) / 36.0);
            s.headroomScore = (float)(clamp01((1.0 - w.peak) / 0.18) * clamp01((level + 36.0) / 18.0));
            if (hasPrevious)
            {
                s.contrastScore = (float)std::min(1.0, std::abs(level - levelDb(previousRms)) / 15.0);
                s.noveltyScore =
                    (float)clamp01(1.4 * (std::abs(w.low - previousLow) + std::abs(w.mid - previousMid) +
                                          std::abs(w.high - previousHigh)));
            }
            s.score = (float)clamp01(0.22 * s.transientScore + 0.27 * s.levelScore + 0.18 * s.contrastScore +
                                     0.18 * s.noveltyScore + 0.15 * s.headroomScore);
            s.explanation = juce::String("Suggested from documented ") + dominantMetric(s) +
                            " metrics; this is not an objective quality claim.";
            s.startSeconds = (double)start / sampleRate;
            s.lengthSeconds = (double)length / sampleRate;
            candidates.push_back(s);
        }

        hasPrevious = finite;
        previousRms = w.rms;
        previousLow = w.low;
        previousMid = w.mid;
        previousHigh = w.high;

        if (start == 0 && length == frames)
            break;
    }
    return candidates;
}

std::vector<MomentSuggestion> selectBestMoments(std::vector<MomentSuggestion> candidates, int maximumCount)
{
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const MomentSuggestion& a, const MomentSuggestion& b)
                     { return a.score != b.score ? a.score > b.score : a.startSeconds < b.startSeconds; });

    std::vector<MomentSuggestion> kept;
    for (const auto& candidate : candidates)
    {
        if ((int)kept.size() >= maximumCount)
            break;
        const double start = candidate.startSeconds, end = start + candidate.lengthSeconds;
        const bool overlaps = std::any_of(
            kept.begin(), kept.end(),
            [&](const MomentSuggestion& k)
            { return std::min(end, k.startSeconds + k.lengthSeconds) > std::max(start, k.startSeconds); });
        if (!overlaps)
            kept.push_back(candidate);
    }
    return kept;
}

std::vector<MomentSuggestion> suggestBestMoments(const juce::AudioBuffer<float>& audio, double sampleRate,
                                                 int maximumCount, const std::atomic<bool>* cancel)
{
    return selectBestMoments(collectMomentCandidates(audio, sampleRate, cancel), maximumCount);
}
} // namespace sorvane
