#include "advisor/SetupPerformanceAdvisor.h"

#include "capture/DurableFile.h"
#include "processor/SafeXml.h"

#include <cmath>
#include <unistd.h>

namespace sorvane
{
namespace
{
constexpr std::uint64_t fnvStart = 0x14650FB0739D0383ull;
constexpr std::uint64_t fnvPrime = 0x100000001B3ull;
constexpr const char* cancelledSummary = "Advisor cancelled; no settings were changed.";

juce::String fnvHex(const juce::String& text)
{
    std::uint64_t hash = fnvStart;
    for (auto* p = text.toRawUTF8(); *p != 0; ++p)
        hash = (hash ^ (std::uint64_t)(unsigned char)*p) * fnvPrime;
    return juce::String::toHexString((juce::int64)hash).paddedLeft('0', 16);
}

bool isCancelled(const std::atomic<bool>* cancel)
{
    return cancel != nullptr && cancel->load();
}
} // namespace

int logicalCpuCount()
{
    return juce::SystemStats::getNumCpus();
}

std::int64_t physicalMemoryBytes()
{
    // sysconf gives the exact figure; JUCE's own reading is rounded to megabytes already.
    const auto pages = ::sysconf(_SC_PHYS_PAGES);
    const auto pageSize = ::sysconf(_SC_PAGESIZE);
    const std::int64_t bytes = pages > 0 && pageSize > 0
                                   ? (std::int64_t)pages * (std::int64_t)pageSize
                                   : (std::int64_t)juce::SystemStats::getMemorySizeInMegabytes() * 1048576;
    return bytes / 1048576 * 1048576;
}

SetupAdvisorReport SetupPerformanceAdvisor::inspect(SetupAdvisorInput input, const std::atomic<bool>* cancel)
{
    SetupAdvisorReport report;
    report.sourceDecodedBytes = input.sourceDecodedBytes;
    report.instanceCount = input.instanceCount;
    report.certifiedInstanceCeiling = std::max(input.certifiedInstanceCeiling, 1);
    if (isCancelled(cancel))
    {
        report.cancelled = true;
        report.summary = cancelledSummary;
        return report;
    }

    if (input.includeOptionalChecks && input.destinationFreeBytes < 0 &&
        input.destinationFolder != juce::File())
    {
        const auto free = input.destinationFolder.getBytesFreeOnVolume();
        if (free > 0)
            input.destinationFreeBytes = free;
    }
    report.destinationFreeBytes = input.destinationFreeBytes;
    if (input.includeOptionalChecks)
    {
        input.encoderAvailable = input.encoderAvailable > 0 ? 1 : 0;
        report.encoderAvailable = input.encoderAvailable > 0;
    }

    const auto flag = [](bool b) { return juce::String(b ? "1" : "0"); };
    const juce::StringArray parts{input.version,
                                  flag(input.standalone),
                                  juce::String(input.sampleRate),
                                  juce::String(input.blockSize),
                                  juce::String(input.instanceCount),
                                  juce::String(input.certifiedInstanceCeiling),
                                  juce::String(input.logicalCpuCount),
                                  juce::String(input.physicalMemoryBytes),
                                  juce::String(input.displayScale),
                                  juce::String(input.selectedVisualTier),
                                  juce::String(input.visualCounter),
                                  flag(input.sourceLoaded),
                                  juce::String(input.sourceDurationSeconds),
                                  juce::String(input.sourceSampleRate),
                                  juce::String(input.sourceChannels),
                                  juce::String(input.sourceDecodedBytes),
                                  juce::String(input.encoderAvailable),
                                  juce::String(input.captureBars),
                                  juce::String(input.tempo),
                                  juce::String(input.socialAspect),
                                  juce::String(input.socialDuration),
                                  juce::String(input.socialBackground),
                                  juce::String(input.destinationFreeBytes),
                                  flag(input.includeOptionalChecks)};
    report.fingerprint = fnvHex(parts.joinIntoString("|"));
    if (isCancelled(cancel))
    {
        report.cancelled = true;
        report.summary = cancelledSummary;
        return report;
    }

    report.observations.add("Audio configuration: " + juce::String(input.sampleRate) + " Hz / " +
                            juce::String(input.blockSize) + " samples.");
    report.observations.add("Local hardware: " + juce::String(input.logicalCpuCount) + " logical CPU(s) / " +
                            juce::String(input.physicalMemoryBytes / 1048576) + " MB memory.");
    if (input.physicalMemoryBytes >= 1 && input.physicalMemoryBytes <= 4294967295LL)
        report.recommendations.add(
            "Available physical memory is limited; keep one creator job and use short in-memory sources.");

    if (input.instanceCount < 0)
        report.observations.add("Process instance count is unavailable inside this host.");
    else
    {
        report.observations.add("Observed process instances: " + juce::String(input.instanceCount) +
                                " / certified ceiling " + juce::String(report.certifiedInstanceCeiling) +
                                ".");
        if (input.instanceCount > report.certifiedInstanceCeiling)
            report.recommendations.add(
                "Reduce simultaneous instances to the certified ceiling before critical "
                "playback.");
    }

    report.recommendedVisualTier = 0;
    if (input.displayScale >= 1.75f || input.visualCounter >= 3)
        report.recommendations.add(
            "Use AUTO visual quality so rendering can fall back to the measured lower tiers.");
    else
        report.recommendations.add(
            "AUTO visual quality retains measured adaptive rendering without changing DSP.");
    report.visualTierChangeRecommended = input.selectedVisualTier != 0;

    if (!input.includeOptionalChecks)
    {
        report.observations.add("Optional source, dependency, and capture/export checks were skipped.");
        report.completed = true;
        report.summary = "Baseline setup check completed; optional checks were skipped.";
        return report;
    }

    if (input.sourceLoaded)
    {
        const double estimate = input.sourceDurationSeconds * input.sourceSampleRate *
                                (input.sourceChannels >= 2 ? 2.0 : 1.0) * 4.0;
        const auto estimateBytes = (std::int64_t)std::ceil(estimate);
        if (report.sourceDecodedBytes < 1)
            report.sourceDecodedBytes = estimateBytes;
        const auto bytes = report.sourceDecodedBytes;
        const auto duration = input.sourceDurationSeconds;
        report.sourcePolicy = bytes > 536870912LL || duration > 7200.0   ? 3
                              : bytes > 268435455LL || duration >= 600.0 ? 2
                                                                         : 1;
        report.observations.add("Source: " + juce::String(duration / 60.0, 1) + " min / " +
                                juce::String(input.sourceSampleRate) + " Hz / " +
                                juce::String(input.sourceChannels) + " channel(s) / " +
                                juce::String(bytes / 1048576) + " MB decoded.");
        if (std::llabs(bytes - estimateBytes) > 4096)
            report.recommendations.add(
                "Refresh source preflight because the reported decoded-memory estimate is "
                "stale.");
        if (report.sourcePolicy == 3)
            report.recommendations.add(
                "Use a shorter or lower-rate source within the established 512 MB / 2 hour "
                "limit.");
        else if (report.sourcePolicy == 2)
            report.recommendations.add(
                "Confirm the bounded in-memory source warning before replacing the current "
                "source.");
    }
    else
    {
        report.sourcePolicy = 0;
        report.observations.add("No source is loaded; source memory checks are inactive.");
    }

    const int bars = juce::jlimit(1, 16, (int)input.captureBars);
    const double captureSeconds = bars * 240.0 / std::max(input.tempo, 20.0) + 4.0;
    const double videoLimit = input.socialDuration == 0 ? 15.0 : input.socialDuration == 1 ? 30.0 : 180.0;
    const double videoSeconds = std::min(videoLimit, captureSeconds);
    const std::int64_t frameBytes = input.socialAspect == 0   ? 7680LL * 1080
                                    : input.socialAspect == 1 ? 4320LL * 1080
                                                              : 4320LL * 1920;
    const auto audioBytes =
        (std::int64_t)std::ceil(std::max(input.sampleRate, 8000.0) * captureSeconds * 2.0 * 6.0);
    const auto videoBytes =
        videoSeconds < 1.0 / 30.0
            ? (std::int64_t)104864
            : (std::int64_t)std::ceil(std::min(videoSeconds, 180.0) * 24.0 * 1024.0 * 1024.0 * 0.125);
    report.predictedOutputBytes = frameBytes + audioBytes + 33554432LL + videoBytes;

    if (report.encoderAvailable)
    {
        if (report.destinationFreeBytes < 0 ||
            report.destinationFreeBytes >= report.predictedOutputBytes + 134217728LL)
            report.outputProfile = 2;
        else
        {
            report.outputProfile = 1;
            report.recommendations.add(
                "Destination space is tight; use a 15-second compact video profile or choose "
                "another volume.");
        }
    }
    else
    {
        report.outputProfile = 0;
        report.recommendations.add(
            "FFmpeg was not found; use WAV export until the optional encoder is available.");
    }

    report.recommendedJobConcurrency = 1;
    report.recommendations.add(
        "Keep creator-job concurrency at one to preserve bounded memory and deterministic publication.");

    if (isCancelled(cancel))
    {
        report.cancelled = true;
        report.summary = cancelledSummary;
    }
    else
    {
        report.completed = true;
        report.summary = "Local checks completed with measured recommendations.";
    }
    return report;
}

juce::String SetupPerformanceAdvisor::visualTierName(int tier)
{
    switch (tier)
    {
    case 1:
        return "HIGH";
    case 2:
        return "MEDIUM";
    case 3:
        return "LOW";
    default:
        return "AUTO";
    }
}

juce::String SetupPerformanceAdvisor::sourcePolicyName(int policy)
{
    switch (policy)
    {
    case 1:
        return "DECODE_IN_MEMORY";
    case 2:
        return "WARN_BEFORE_DECODE";
    case 3:
        return "REJECT_FOR_BOUNDED_MEMORY";
    default:
        return "NO_SOURCE";
    }
}

juce::String SetupPerformanceAdvisor::outputProfileName(int profile)
{
    switch (profile)
    {
    case 1:
        return "COMPACT_VIDEO";
    case 2:
        return "SELECTED_VIDEO";
    default:
        return "AUDIO_ONLY";
    }
}

juce::String SetupPerformanceAdvisor::createRedactedSupportBundle(const SetupAdvisorInput& input,
                                                                  const SetupAdvisorReport& report)
{
    auto* o = new juce::DynamicObject();
    const juce::var bundle(o);
    o->setProperty("schemaVersion", 1);
    o->setProperty("product", "Sorvane");
    o->setProperty("version", input.version);
    o->setProperty("fingerprint", report.fingerprint);
    o->setProperty("standalone", input.standalone);
    o->setProperty("sampleRate", input.sampleRate);
    o->setProperty("blockSize", input.blockSize);
    o->setProperty("logicalCpuCount", input.logicalCpuCount);
    o->setProperty("physicalMemoryBytes", (juce::int64)input.physicalMemoryBytes);
    o->setProperty("displayScale", (double)input.displayScale);
    o->setProperty("selectedVisualTier", visualTierName(input.selectedVisualTier));
    o->setProperty("recommendedVisualTier", visualTierName(report.recommendedVisualTier));
    o->setProperty("instanceCount", report.instanceCount);
    o->setProperty("certifiedInstanceCeiling", report.certifiedInstanceCeiling);
    o->setProperty("sourceDurationSeconds", input.sourceDurationSeconds);
    o->setProperty("sourceSampleRate", input.sourceSampleRate);
    o->setProperty("sourceChannels", input.sourceChannels);
    o->setProperty("sourceDecodedBytes", (juce::int64)report.sourceDecodedBytes);
    o->setProperty("sourcePolicy", sourcePolicyName(report.sourcePolicy));
    o->setProperty("encoderAvailable", report.encoderAvailable);
    o->setProperty("outputProfile", outputProfileName(report.outputProfile));
    o->setProperty("predictedOutputBytes", (juce::int64)report.predictedOutputBytes);
    o->setProperty("captureBars", input.captureBars);
    o->setProperty("tempo", input.tempo);
    o->setProperty("destinationFreeBytes", (juce::int64)input.destinationFreeBytes);
    o->setProperty("recommendedJobConcurrency", report.recommendedJobConcurrency);
    o->setProperty("observations", report.observations.joinIntoString("\n"));
    o->setProperty("recommendations", report.recommendations.joinIntoString("\n"));
    o->setProperty("privacy",
                   "No audio, project/DNA content, preset names, paths, or telemetry are included.");
    return juce::JSON::toString(bundle);
}

juce::File SetupPerformanceAdvisor::defaultAcknowledgementFile()
{
    return juce::File::getSpecialLocation(juce::File::userApplicationDataDirectory)
        .getChildFile("Kavix")
        .getChildFile("Sorvane")
        .getChildFile("SetupAdvisorAcknowledged.xml");
}

juce::String SetupPerformanceAdvisor::acknowledgementProfile(const juce::String& version, int ceiling)
{
    return fnvHex("setup-advisor|2|" + version + "|" + juce::String(ceiling));
}

bool SetupPerformanceAdvisor::acknowledge(const juce::File& file, const juce::String& version, int ceiling,
                                          juce::String& error)
{
    error.clear();
    juce::ValueTree record("SORVANE_SETUP_ADVISOR");
    record.setProperty("schemaVersion", 2, nullptr);
    record.setProperty("productVersion", version, nullptr);
    record.setProperty("certifiedInstanceCeiling", ceiling, nullptr);
    record.setProperty("profileFingerprint", acknowledgementProfile(version, ceiling), nullptr);
    record.setProperty("acknowledgedMilliseconds", juce::Time::currentTimeMillis(), nullptr);

    const auto folder = file.getParentDirectory();
    if (!folder.isDirectory() && !folder.createDirectory().wasOk())
    {
        error = "The advisor acknowledgement folder could not be prepared.";
        return false;
    }
    const auto xml = record.createXml();
    const auto text =
        xml != nullptr ? xml->toString().replace("\r\n", "\n").replace("\n", "\r\n") : juce::String();
    juce::String why;
    const bool written =
        xml != nullptr && writeFileDurably(file, text.toRawUTF8(), text.getNumBytesAsUTF8(), why);
    if (!written)
    {
        error = "The advisor acknowledgement could not be saved.";
    }
    return written;
}

bool SetupPerformanceAdvisor::isAcknowledged(const juce::File& file, const juce::String& version, int ceiling)
{
    // A small file of our own, but outside bytes all the same: the guarded reader, and a size cap.
    if (!file.existsAsFile() || file.getSize() > 65536)
        return false;
    juce::MemoryBlock bytes;
    if (!file.loadFileAsData(bytes))
        return false;
    juce::String error;
    std::unique_ptr<juce::XmlElement> xml;
    if (!parseOutsideXml(static_cast<const char*>(bytes.getData()), bytes.getSize(), {65536, 4},
                         "not an acknowledgement", xml, error) ||
        xml == nullptr)
        return false;
    const auto record = juce::ValueTree::fromXml(*xml);
    return record.hasType("SORVANE_SETUP_ADVISOR") && record["schemaVersion"].toString() == "2" &&
           record["productVersion"].toString() == version &&
           record["certifiedInstanceCeiling"].toString() == juce::String(ceiling) &&
           record["profileFingerprint"].toString() == acknowledgementProfile(version, ceiling);
}
} // namespace sorvane
