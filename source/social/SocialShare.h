#pragma once

#include "capture/CreatorExportJob.h"
#include "dsp/DspSettings.h"
#include "social/SocialExporter.h"
#include "transport/LoadedSample.h"

#include <functional>
#include <memory>

namespace sorvane
{
// Renders the teaser's audio on the export thread: dry before-half then processed after-half, or the
// processed audio alone. Owns everything it reads, fixed when the user asked.
using SourceVideoRender = std::function<juce::AudioBuffer<float>(
    bool effectedOnly, std::atomic<float>& progress, const std::atomic<bool>& cancel, juce::String& message)>;

struct SocialSourceRegion
{
    juce::int64 start = 0;
    juce::int64 end = 0;
    juce::int64 length() const noexcept { return end - start; }
};

// The selected range in frames: never empty while the source has a frame.
SocialSourceRegion socialSourceRegion(juce::int64 frames, double rangeStart, double rangeEnd) noexcept;

// The seconds of the selected range a teaser may draw on; 0 without a source.
double socialRegionSeconds(const LoadedSample* sample, double rangeStart, double rangeEnd) noexcept;

struct PreparedSourceVideo
{
    SourceVideoRender render;  // empty when refused
    SocialSourceRegion region; // the frames rendered
    juce::int64 sourceFrames = 0;
    double sampleRate = 0.0;
};

// 15 or 30 s of the region, or the whole file for 0. An empty render with the reason otherwise.
PreparedSourceVideo prepareSourceVideo(std::shared_ptr<const LoadedSample> sample, double rangeStart,
                                       double rangeEnd, double durationSeconds, const DspSettings& settings,
                                       double tempoBpm, juce::String& error);

inline constexpr std::int64_t socialRenderSampleBudget = 89478486;

// The share job: render (or take the Keep That audio), then write the package into the staging folder.
CreatorExportJob::Request makeSocialShareRequest(const juce::File& packageFolder,
                                                 juce::AudioBuffer<float> input, double sampleRate,
                                                 SourceVideoRender render, ScopeVisualInputs visualInputs,
                                                 SocialExportOptions options);
} // namespace sorvane
