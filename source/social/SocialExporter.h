#pragma once

#include "capture/CreatorExportJob.h"
#include "social/SocialExportOptions.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <atomic>
#include <cstdint>

namespace sorvane
{
struct SocialExportPreflight
{
    int width = 0;
    int height = 0;
    double durationSeconds = 0.0; // 0: the input cannot be exported
    std::int64_t predictedTemporaryBytes = 0;
    juce::String profileLabel;
    juce::String backgroundName;
};

struct SocialExportResult
{
    bool success = false;
    juce::String message;
};

namespace socialPackageFiles
{
inline constexpr const char* wave = "sorvane-teaser.wav";
inline constexpr const char* cover = "sorvane-cover.png";
inline constexpr const char* preview = "preview.html";
inline constexpr const char* metadata = "sorvane-result.json";
inline constexpr const char* video = "sorvane-teaser.mp4";
} // namespace socialPackageFiles

// The teaser package: WAV, cover, preview page, metadata with the DNA and, when ffmpeg runs, an
// MP4. Stateless; every call works only on its arguments and the files in its folder.
class SocialExporter
{
public:
    static constexpr std::int64_t storageCapBytes = 4294967296LL;
    static constexpr std::int64_t storageHeadroomBytes = 134217728LL;
    static constexpr int probeTimeoutMilliseconds = 3000;

    static SocialExportPreflight preflight(const juce::AudioBuffer<float>& audio, double sampleRate,
                                           const SocialExportOptions& options);
    static juce::AudioBuffer<float> fitDuration(const juce::AudioBuffer<float>& audio, double sampleRate,
                                                const SocialExportOptions& options);
    // Writes the package into folder; progress and cancel are required.
    static SocialExportResult exportTeaser(const juce::File& folder, const juce::AudioBuffer<float>& audio,
                                           double sampleRate, const ScopeVisualInputs& visualInputs,
                                           const SocialExportOptions& options, std::atomic<float>* progress,
                                           const std::atomic<bool>* cancel);
    static CreatorExportJob::Request createJob(const juce::File& destination, const juce::File& requiredFile,
                                               juce::AudioBuffer<float> audio, double sampleRate,
                                               ScopeVisualInputs visualInputs, SocialExportOptions options);

    static bool ffmpegAvailable();
    // antialiasedScope false draws the vector scope with plain lines, for encoders older than its
    // "aaline" mode.
    static juce::String createVideoFilter(const SocialExportPreflight& preflight, SocialBackground background,
                                          bool antialiasedScope = true);
    // Whether the encoder's vector scope knows "aaline" (ffmpeg 6 and later).
    static bool encoderDrawsAntialiasedScope();
    // The encoder's whole command line, program name first.
    static juce::StringArray createVideoArguments(const juce::File& folder,
                                                  const SocialExportPreflight& preflight,
                                                  SocialBackground background, bool antialiasedScope = true);
    // "sorvane-result.json": one line of strict JSON whatever the texts hold.
    static juce::String createMetadataJson(const SocialExportPreflight& preflight,
                                           const SocialExportOptions& options, int inputFrames,
                                           double sampleRate, int teaserFrames);
};

// 15, 30, or 0 for the whole input; codes are clamped to 0..2 as the processor stores them.
double socialDurationTargetSeconds(std::int32_t duration) noexcept;
} // namespace sorvane
