#include "social/SocialShare.h"

#include "dsp/SorvaneEngine.h"

#include <cmath>

namespace sorvane
{
SocialSourceRegion socialSourceRegion(juce::int64 frames, double rangeStart, double rangeEnd) noexcept
{
    SocialSourceRegion region;
    if (frames <= 0)
        return region;
    const auto at = [frames](double fraction) {
        return std::isfinite(fraction) ? (juce::int64)std::llround((double)frames * fraction)
                                       : (juce::int64)0;
    };
    region.start = juce::jlimit<juce::int64>(0, frames - 1, at(rangeStart));
    region.end = std::min(frames, at(rangeEnd));
    if (region.end <= region.start)
        region.end = region.start + 1;
    return region;
}

double socialRegionSeconds(const LoadedSample* sample, double rangeStart, double rangeEnd) noexcept
{
    if (sample == nullptr || !(sample->sampleRate > 0.0))
        return 0.0;
    return (double)socialSourceRegion(sample->getNumFrames(), rangeStart, rangeEnd).length() /
           sample->sampleRate;
}

PreparedSourceVideo prepareSourceVideo(std::shared_ptr<const LoadedSample> sample, double rangeStart,
                                       double rangeEnd, double durationSeconds, const DspSettings& settings,
                                       double tempoBpm, juce::String& error)
{
    PreparedSourceVideo prepared;
    error.clear();
    if (sample == nullptr || sample->getNumFrames() <= 0 || !(sample->sampleRate > 0.0))
    {
        error = "Load a sample before exporting video.";
        return prepared;
    }
    const auto frames = sample->getNumFrames();
    auto region = durationSeconds == 0.0 ? SocialSourceRegion{0, frames}
                                         : socialSourceRegion(frames, rangeStart, rangeEnd);
    if (durationSeconds != 0.0)
    {
        if ((durationSeconds != 15.0 && durationSeconds != 30.0) ||
            durationSeconds > (double)region.length() / sample->sampleRate)
        {
            error = "The selected sample or moment is too short. Select FULL or a shorter duration.";
            return prepared;
        }
        region.end = region.start + (juce::int64)std::llround(durationSeconds * sample->sampleRate);
    }
    prepared.region = region;
    prepared.sourceFrames = frames;
    prepared.sampleRate = sample->sampleRate;
    prepared.render = [sample = std::move(sample), start = region.start, length = region.length(), settings,
                       tempoBpm](bool effectedOnly, std::atomic<float>& progress,
                                 const std::atomic<bool>& cancel,
                                 juce::String& message) -> juce::AudioBuffer<float>
    {
        if (cancel.load())
        {
            message = "Social export cancelled.";
            return {};
        }
        const auto channels = sample->audio.getNumChannels();
        const auto total = effectedOnly ? length : length * 2;
        if (total > 2147483647LL || total * channels >= socialRenderSampleBudget)
        {
            message = "FULL export exceeds the available rendering memory budget. Use 15 SEC or 30 SEC.";
            return {};
        }

        const juce::ScopedNoDenormals noDenormals;
        juce::AudioBuffer<float> output(channels, (int)total);
        const auto copySource = [&](juce::int64 from, int to, int count)
        {
            for (int c = 0; c < channels; ++c)
                output.copyFrom(c, to, sample->audio, c, (int)from, count);
        };
        const int afterStart = effectedOnly ? 0 : (int)length;
        if (!effectedOnly)
            copySource(start, 0, (int)length);

        constexpr int blockSize = 1024;
        auto engine = std::make_unique<SorvaneEngine>();
        engine->prepare(sample->sampleRate, channels, blockSize);
        std::vector<float*> pointers((size_t)channels);
        for (juce::int64 t = 0; t < length;)
        {
            if (cancel.load())
            {
                message = "Social export cancelled.";
                return {};
            }
            const auto block = (int)std::min<juce::int64>(blockSize, length - t);
            copySource(start + t, afterStart + (int)t, block);
            for (int c = 0; c < channels; ++c)
                pointers[(size_t)c] = output.getWritePointer(c, afterStart + (int)t);
            juce::AudioBuffer<float> view(pointers.data(), channels, block);
            engine->process(view, settings, tempoBpm);
            t += block;
            progress.store(0.08f * (float)((double)t / (double)length));
        }
        return output;
    };
    return prepared;
}

CreatorExportJob::Request makeSocialShareRequest(const juce::File& packageFolder,
                                                 juce::AudioBuffer<float> input, double sampleRate,
                                                 SourceVideoRender render, ScopeVisualInputs visualInputs,
                                                 SocialExportOptions options)
{
    CreatorExportJob::Request request;
    request.kind = CreatorExportKind::SocialPackage;
    request.destination = packageFolder;
    request.destinationIsFolder = true;
    request.work = [input = std::move(input), sampleRate, render = std::move(render), visualInputs,
                    options = std::move(options)](const juce::File& staging, std::atomic<float>& progress,
                                                  const std::atomic<bool>& cancel, juce::String& message)
    {
        juce::AudioBuffer<float> rendered;
        if (render)
        {
            rendered = render(options.effectedOnly, progress, cancel, message);
            if (rendered.getNumSamples() == 0)
                return false;
        }
        const auto result = SocialExporter::exportTeaser(staging, render ? rendered : input, sampleRate,
                                                         visualInputs, options, &progress, &cancel);
        message = result.message;
        return result.success;
    };
    return request;
}
} // namespace sorvane
