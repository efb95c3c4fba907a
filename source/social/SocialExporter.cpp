#include "social/SocialExporter.h"

#include "capture/DurableFile.h"
#include "capture/WaveExport.h"
#include "social/ExternalProcess.h"
#include "social/FrameRenderer.h"
#include "social/PreviewPage.h"

#include <cmath>
#include <limits>

namespace sorvane
{
namespace
{
constexpr double minimumSampleRate = 8000.0;
constexpr double maximumFrames = 2147483647.0;
constexpr std::int64_t bytesPerMegabyte = 1048576;

int teaserParts(const SocialExportOptions& options) noexcept
{
    return options.effectedOnly ? 1 : 2;
}

bool hasExportableInput(const juce::AudioBuffer<float>& audio, double sampleRate) noexcept
{
    return audio.getNumChannels() > 0 && audio.getNumSamples() > 0 && std::isfinite(sampleRate) &&
           sampleRate >= minimumSampleRate;
}

// A fixed duration needs that much audio in each half of a before/after input.
bool inputCoversTarget(const juce::AudioBuffer<float>& audio, double sampleRate,
                       const SocialExportOptions& options) noexcept
{
    const auto target = socialDurationTargetSeconds(options.duration);
    if (target <= 0.0)
        return true;
    const auto perPart = (double)audio.getNumSamples() / sampleRate / teaserParts(options);
    return std::isfinite(perPart) && perPart >= target;
}

void appendJsonString(juce::String& out, const juce::String& text)
{
    // JUCE's own writer emits "\a" and other escapes JSON does not have; this one is strict.
    static constexpr const char* hex = "0123456789abcdef";
    const auto escape = [&out](juce::uint32 unit)
    {
        out << "\\u" << juce::String::charToString((juce::juce_wchar)hex[(unit >> 12) & 15])
            << juce::String::charToString((juce::juce_wchar)hex[(unit >> 8) & 15])
            << juce::String::charToString((juce::juce_wchar)hex[(unit >> 4) & 15])
            << juce::String::charToString((juce::juce_wchar)hex[unit & 15]);
    };

    out << "\"";
    for (auto p = text.getCharPointer(); !p.isEmpty();)
    {
        const auto c = (juce::uint32)p.getAndAdvance();
        if (c == '"')
            out << "\\\"";
        else if (c == '\\')
            out << "\\\\";
        else if (c == '\n')
            out << "\\n";
        else if (c == '\r')
            out << "\\r";
        else if (c == '\t')
            out << "\\t";
        else if (c >= 32 && c < 127)
            out << juce::String::charToString((juce::juce_wchar)c);
        else if (c > 0xFFFF && c <= 0x10FFFF)
        {
            const auto v = c - 0x10000;
            escape(0xD800 + (v >> 10));
            escape(0xDC00 + (v & 0x3FF));
        }
        else
            // A lone surrogate would pair up with its neighbour in the reader; it is no character.
            escape(c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) ? 0xFFFD : c);
    }
    out << "\"";
}

juce::String jsonValue(const juce::var& value)
{
    return juce::JSON::toString(value, true);
}
} // namespace

double socialDurationTargetSeconds(std::int32_t duration) noexcept
{
    const auto code = juce::jlimit(0, 2, (int)duration);
    return code == 0 ? 15.0 : code == 1 ? 30.0 : 0.0;
}

SocialExportPreflight SocialExporter::preflight(const juce::AudioBuffer<float>& audio, double sampleRate,
                                                const SocialExportOptions& options)
{
    SocialExportPreflight result;
    const auto profile = socialAspectProfile(options.aspect);
    result.width = profile.width;
    result.height = profile.height;

    if (!hasExportableInput(audio, sampleRate) || !inputCoversTarget(audio, sampleRate, options))
        return result;

    const auto inputSeconds = (double)audio.getNumSamples() / sampleRate;
    const auto target = socialDurationTargetSeconds(options.duration);
    const auto durationSeconds = target > 0.0 ? target : inputSeconds;
    const auto n = sampleRate * durationSeconds;
    if (!std::isfinite(n) || n > maximumFrames)
        return result;

    result.durationSeconds = durationSeconds;
    result.predictedTemporaryBytes = (std::int64_t)audio.getNumChannels() * (std::int64_t)std::ceil(n) * 12 +
                                     (std::int64_t)result.width * result.height * 4 + 33554432LL +
                                     (std::int64_t)std::ceil(durationSeconds * 24.0 * 1048576.0 * 0.125);
    result.backgroundName = socialBackgroundDisplayName(options.background);
    result.profileLabel = juce::String(profile.label) + " / " + result.backgroundName + " / " +
                          juce::String(durationSeconds, 1) + " s";
    return result;
}

juce::AudioBuffer<float> SocialExporter::fitDuration(const juce::AudioBuffer<float>& audio, double sampleRate,
                                                     const SocialExportOptions& options)
{
    const auto n = sampleRate * preflight(audio, sampleRate, options).durationSeconds;
    if (!std::isfinite(n) || n < 1.0 || n > maximumFrames)
        return {};

    const auto target = (int)std::llround(n);
    if (audio.getNumSamples() == target)
        return audio;

    const int parts = teaserParts(options);
    const int inputFrames = audio.getNumSamples();
    if (inputFrames < parts)
        return {};

    juce::AudioBuffer<float> output(audio.getNumChannels(), target);
    for (int part = 0; part < parts; ++part)
    {
        const auto begin = (int)((std::int64_t)target * part / parts);
        const auto end = (int)((std::int64_t)target * (part + 1) / parts);
        const auto from = (int)((std::int64_t)inputFrames * part / parts);
        // The preflight guarantees each part of the input is at least as long as its slot.
        const auto frames = juce::jmin(end - begin, inputFrames - from);
        for (int channel = 0; channel < audio.getNumChannels(); ++channel)
        {
            output.copyFrom(channel, begin, audio, channel, from, frames);
            if (frames < end - begin)
                output.clear(channel, begin + frames, end - begin - frames);
        }
    }
    return output;
}

bool SocialExporter::ffmpegAvailable()
{
    ExternalProcess probe;
    if (!probe.start({"ffmpeg", "-version"}))
        return false;
    if (!probe.waitForExit(probeTimeoutMilliseconds))
    {
        probe.kill();
        return false;
    }
    return probe.getExitCode() == 0;
}

bool SocialExporter::encoderDrawsAntialiasedScope()
{
    // Debian 12's ffmpeg 5.1 refuses the whole graph over this one value; its help lists the modes.
    const auto help = juce::File::createTempFile(".txt");
    ExternalProcess probe;
    bool antialiased = false;
    if (probe.start({"/bin/sh", "-c", "exec ffmpeg -hide_banner -h filter=avectorscope > \"$0\" 2>&1",
                     help.getFullPathName()}) &&
        probe.waitForExit(probeTimeoutMilliseconds))
        antialiased = help.loadFileAsString().contains("aaline");
    else
        probe.kill();
    help.deleteFile();
    return antialiased;
}

juce::String SocialExporter::createVideoFilter(const SocialExportPreflight& preflight,
                                               SocialBackground background, bool antialiasedScope)
{
    const auto size = juce::String(preflight.width) + "x" + juce::String(preflight.height);
    const auto strip = juce::jmax(preflight.height / 4, 180);
    const auto wave = "showwaves=s=" + juce::String(preflight.width) + "x" + juce::String(strip) +
                      ":mode=cline:colors=0x12e5ed@0.80:rate=30,format=rgba";

    switch (background)
    {
    case SocialBackground::SpectralFlux:
        return "[1:a]asplit=3[aout][reactive][waveaudio];[reactive]showspectrum=s=" + size +
               ":mode=combined:color=rainbow:scale=sqrt:slide=scroll:fps=30:legend=0,format=yuv444p[spectrum]"
               ";"
               "[0:v]format=yuv444p[base];[base][spectrum]blend=all_mode=screen:all_opacity=0.48[mixed];"
               "[waveaudio]" +
               wave + "[wave];[mixed][wave]overlay=0:H-h:shortest=1,format=yuv420p[v]";
    case SocialBackground::VectorBloom:
        return "[1:a]asplit=3[aout][reactive][waveaudio];[reactive]avectorscope=s=" + size +
               ":r=30:mode=lissajous:draw=" + (antialiasedScope ? "aaline" : "line") +
               ":scale=sqrt:zoom=1.45:rc=255:gc=229:bc=237:rf=5:gf=3:bf=6,"
               "format=yuv444p[vector];[0:v]format=yuv444p[base];[base][vector]blend=all_mode=screen:"
               "all_opacity=0.62[mixed];[waveaudio]" +
               wave + "[wave];[mixed][wave]overlay=0:H-h:shortest=1,format=yuv420p[v]";
    case SocialBackground::TresselRings:
        break;
    }
    return "[1:a]asplit=2[aout][waveaudio];[waveaudio]" + wave +
           "[wave];[0:v][wave]overlay=0:H-h:shortest=1,format=yuv420p[v]";
}

juce::StringArray SocialExporter::createVideoArguments(const juce::File& folder,
                                                       const SocialExportPreflight& preflight,
                                                       SocialBackground background, bool antialiasedScope)
{
    return {"ffmpeg",
            "-y",
            "-loglevel",
            "error",
            "-loop",
            "1",
            "-framerate",
            "30",
            "-i",
            folder.getChildFile(socialPackageFiles::cover).getFullPathName(),
            "-i",
            folder.getChildFile(socialPackageFiles::wave).getFullPathName(),
            "-filter_complex",
            createVideoFilter(preflight, background, antialiasedScope),
            "-map",
            "[v]",
            "-map",
            "[aout]",
            "-t",
            juce::String(preflight.durationSeconds, 9),
            "-c:v",
            "libx264",
            "-preset",
            "veryfast",
            "-pix_fmt",
            "yuv420p",
            "-c:a",
            "aac",
            "-b:a",
            "192k",
            "-movflags",
            "+faststart",
            folder.getChildFile(socialPackageFiles::video).getFullPathName()};
}

juce::String SocialExporter::createMetadataJson(const SocialExportPreflight& preflight,
                                                const SocialExportOptions& options, int inputFrames,
                                                double sampleRate, int teaserFrames)
{
    const bool repeated = socialDurationTargetSeconds(options.duration) > 0.0 && teaserFrames > inputFrames;
    juce::String json;
    json.preallocateBytes(
        (size_t)(512 + options.dna.getNumBytesAsUTF8() + options.creator.getNumBytesAsUTF8() * 6));
    bool first = true;
    const auto key = [&](const char* name)
    {
        json << (first ? "{" : ", ");
        first = false;
        appendJsonString(json, name);
        json << ": ";
    };
    const auto text = [&](const char* name, const juce::String& value)
    {
        key(name);
        appendJsonString(json, value);
    };
    const auto value = [&](const char* name, const juce::var& v)
    {
        key(name);
        json << jsonValue(v);
    };

    text("product", "Sorvane");
    text("profile", preflight.profileLabel);
    value("width", preflight.width);
    value("height", preflight.height);
    value("durationSeconds", preflight.durationSeconds);
    value("inputDurationSeconds", (double)inputFrames / sampleRate);
    value("audioRepeated", repeated);
    value("predictedTemporaryBytes", (juce::int64)preflight.predictedTemporaryBytes);
    text("background", preflight.backgroundName);
    value("backgroundReactive", true);
    value("networkAccess", false);
    text("personality", options.personality);
    text("creator", options.creator.trim());
    value("effectedOnly", options.effectedOnly);
    text("dna", options.dna);
    value("sourceRangeStart", options.rangeStart);
    value("sourceRangeEnd", options.rangeEnd);
    value("sourceRangeLoopEnabled", options.loopEnabled);
    json << "}";
    return json;
}

SocialExportResult SocialExporter::exportTeaser(const juce::File& folder,
                                                const juce::AudioBuffer<float>& audio, double sampleRate,
                                                const ScopeVisualInputs& visualInputs,
                                                const SocialExportOptions& options,
                                                std::atomic<float>* progress, const std::atomic<bool>* cancel)
{
    jassert(progress != nullptr && cancel != nullptr);
    SocialExportResult result;
    const auto cancelled = [&] { return cancel->load(); };
    const auto stopCancelled = [&]
    {
        result.message = "Social export cancelled.";
        return result;
    };

    if (!hasExportableInput(audio, sampleRate))
    {
        result.message = "Capture and export audio before creating a teaser.";
        return result;
    }
    if (!inputCoversTarget(audio, sampleRate, options))
    {
        result.message =
            "The sample is shorter than the selected duration. Select FULL to export the full sample.";
        return result;
    }
    const auto plan = preflight(audio, sampleRate, options);
    if (plan.durationSeconds <= 0.0)
    {
        result.message = "The selected audio duration or sample rate cannot be exported.";
        return result;
    }

    const auto freeBytes = folder.getParentDirectory().getBytesFreeOnVolume();
    if (plan.predictedTemporaryBytes > storageCapBytes ||
        (freeBytes > 0 && freeBytes < plan.predictedTemporaryBytes + storageHeadroomBytes))
    {
        result.message = "The selected social profile needs approximately " +
                         juce::String(plan.predictedTemporaryBytes / bytesPerMegabyte) +
                         " MB of bounded temporary storage, which is not safely available.";
        return result;
    }

    if (!folder.isDirectory() && !folder.createDirectory().wasOk())
    {
        result.message = "Could not create the teaser output folder.";
        return result;
    }
    if (cancelled())
        return stopCancelled();

    const auto teaser = socialDurationTargetSeconds(options.duration) > 0.0
                            ? fitDuration(audio, sampleRate, options)
                            : juce::AudioBuffer<float>(audio);

    // The writer would drive the bar from 0.35 to 1 and the steps after it back down to 0.08; the
    // bar must never run backwards, so the WAV is written without moving it.
    if (!writeNormalisedWave(folder.getChildFile(socialPackageFiles::wave), teaser, sampleRate, nullptr,
                             cancel, result.message,
                             makeCaptureComment(options.rangeStart, options.rangeEnd, options.loopEnabled)))
        return result;
    progress->store(0.08f);

    if (cancelled())
        return stopCancelled();
    if (!writePng(renderFrame(teaser, sampleRate, visualInputs, options),
                  folder.getChildFile(socialPackageFiles::cover)))
    {
        result.message = "Could not write the teaser cover image.";
        return result;
    }

    if (cancelled())
        return stopCancelled();
    if (!writePreviewHtml(createPreviewHtml(options, teaser, sampleRate),
                          folder.getChildFile(socialPackageFiles::preview)))
    {
        result.message = "Could not write the interactive teaser preview.";
        return result;
    }

    const auto metadata =
        createMetadataJson(plan, options, audio.getNumSamples(), sampleRate, teaser.getNumSamples());
    const auto metadataText = metadata.replace("\r\n", "\n").replace("\n", "\r\n");
    juce::String why;
    if (!writeFileDurably(folder.getChildFile(socialPackageFiles::metadata), metadataText.toRawUTF8(),
                          metadataText.getNumBytesAsUTF8(), why))
    {
        result.message = "Could not write the exact DNA and export-profile metadata.";
        return result;
    }

    if (cancelled())
        return stopCancelled();
    if (!ffmpegAvailable())
    {
        progress->store(1.0f);
        result.success = true;
        result.message =
            "Created the " + plan.profileLabel +
            " interactive preview, cover, DNA metadata, and level-preserving WAV. Install ffmpeg "
            "and export again to also create MP4.";
        return result;
    }

    progress->store(0.25f);
    const auto video = folder.getChildFile(socialPackageFiles::video);
    ExternalProcess encoder;
    if (encoder.start(createVideoArguments(folder, plan, options.background,
                                           options.background != SocialBackground::VectorBloom ||
                                               encoderDrawsAntialiasedScope())))
    {
        while (!encoder.waitForExit(50))
        {
            if (cancelled())
            {
                encoder.kill();
                video.deleteFile();
                return stopCancelled();
            }
        }
    }

    result.success = true;
    if (encoder.getExitCode() == 0 && video.existsAsFile())
    {
        progress->store(1.0f);
        result.message =
            "Created a " + juce::String(plan.width) + " x " + juce::String(plan.height) +
            (options.effectedOnly ? " H.264/AAC effected result" : " H.264/AAC Before/After result") +
            ", level-preserving WAV, cover, DNA metadata, and preview.";
        return result;
    }
    // A failed encoder may leave a truncated MP4; the package must not offer it as a result.
    video.deleteFile();
    result.message = "ffmpeg could not assemble the MP4; the preview, cover, and WAV were preserved.";
    return result;
}

CreatorExportJob::Request SocialExporter::createJob(const juce::File& destination,
                                                    const juce::File& requiredFile,
                                                    juce::AudioBuffer<float> audio, double sampleRate,
                                                    ScopeVisualInputs visualInputs,
                                                    SocialExportOptions options)
{
    CreatorExportJob::Request request;
    request.kind = CreatorExportKind::SocialPackage;
    request.destination = destination;
    request.destinationIsFolder = true;
    request.requiredFiles.add(requiredFile);
    request.work = [audio = std::move(audio), sampleRate, visualInputs,
                    options = std::move(options)](const juce::File& staging, std::atomic<float>& progress,
                                                  const std::atomic<bool>& cancel, juce::String& message)
    {
        const auto result =
            exportTeaser(staging, audio, sampleRate, visualInputs, options, &progress, &cancel);
        message = result.message;
        return result.success;
    };
    return request;
}
} // namespace sorvane
