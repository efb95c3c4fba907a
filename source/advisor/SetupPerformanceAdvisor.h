#pragma once

#include <juce_data_structures/juce_data_structures.h>

#include <atomic>
#include <cstdint>

namespace sorvane
{
inline constexpr const char* advisorProductVersion = "2.13.3";
inline constexpr int advisorInstanceCeiling = 8;

struct SetupAdvisorInput
{
    juce::String version{advisorProductVersion};
    bool standalone = false;
    double sampleRate = 0.0;
    std::int32_t blockSize = 0;
    std::int32_t instanceCount = -1;
    std::int32_t certifiedInstanceCeiling = advisorInstanceCeiling;
    std::int32_t logicalCpuCount = 0;
    std::int64_t physicalMemoryBytes = 0;
    float displayScale = 1.0f;
    std::int32_t selectedVisualTier = 0;
    std::int32_t visualCounter = 0;
    bool sourceLoaded = false;
    double sourceDurationSeconds = 0.0;
    double sourceSampleRate = 0.0;
    std::int32_t sourceChannels = 0;
    std::int64_t sourceDecodedBytes = 0;
    std::int32_t encoderAvailable = -1; // above 0 available, 0 absent, -1 not probed
    std::int32_t captureBars = 4;
    double tempo = 120.0;
    std::int32_t socialAspect = 0, socialDuration = 0, socialBackground = 0;
    std::int64_t destinationFreeBytes = -1;
    juce::File destinationFolder;
    bool includeOptionalChecks = true;
};

struct SetupAdvisorReport
{
    bool completed = false;
    bool cancelled = false;
    juce::String fingerprint;
    juce::String summary;
    juce::StringArray observations;
    juce::StringArray recommendations;
    std::int32_t recommendedVisualTier = 0;
    std::int32_t sourcePolicy =
        0; // NO_SOURCE, DECODE_IN_MEMORY, WARN_BEFORE_DECODE, REJECT_FOR_BOUNDED_MEMORY
    std::int32_t outputProfile = 0; // AUDIO_ONLY, COMPACT_VIDEO, SELECTED_VIDEO
    std::int32_t recommendedJobConcurrency = 1;
    std::int64_t sourceDecodedBytes = 0;
    std::int64_t predictedOutputBytes = 0;
    std::int64_t destinationFreeBytes = -1;
    std::int32_t instanceCount = -1;
    std::int32_t certifiedInstanceCeiling = 1;
    bool encoderAvailable = false;
    bool visualTierChangeRecommended = false;
};

// The offline local checks and what follows from them. Every operation is stateless.
class SetupPerformanceAdvisor
{
public:
    static SetupAdvisorReport inspect(SetupAdvisorInput input, const std::atomic<bool>* cancel);
    // Machine facts only: no paths, names, presets, projects, DNA or audio.
    static juce::String createRedactedSupportBundle(const SetupAdvisorInput& input,
                                                    const SetupAdvisorReport& report);

    static juce::File defaultAcknowledgementFile();
    static juce::String acknowledgementProfile(const juce::String& version, int ceiling);
    static bool acknowledge(const juce::File& file, const juce::String& version, int ceiling,
                            juce::String& error);
    // A record for this version and ceiling, written by acknowledge; anything else asks again.
    static bool isAcknowledged(const juce::File& file, const juce::String& version, int ceiling);

    static juce::String visualTierName(int tier);
    static juce::String sourcePolicyName(int policy);
    static juce::String outputProfileName(int profile);
};

// Logical CPUs and physical memory (whole MiB) as the system reports them.
int logicalCpuCount();
std::int64_t physicalMemoryBytes();
} // namespace sorvane
