#pragma once

#include "transport/LoadedSample.h"
#include "transport/SampleLoadEstimate.h"
#include "transport/SourceLoadJob.h"
#include "transport/TransportState.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace sorvane
{
// Owns the published source, the sources the audio thread may still be reading, and the load
// jobs. A source is handed to the audio thread by one pointer exchange and freed on a non-audio
// thread only once neither audio slot names it.
class SourceLibrary
{
public:
    SourceLibrary(TransportState& transport, std::function<void()> markProjectModified);
    ~SourceLibrary();

    SampleLoadEstimate preflight(const juce::File& file, juce::String& error);
    bool requestLoad(const juce::File& file, juce::String& error, bool preserveRange);
    // Starts preparing a project on a worker; the prepared project goes to the hand-over below. A
    // project is never applied here: the owner publishes it as one unit.
    bool requestProjectLoad(const juce::File& projectFile, const juce::File& locatedSourceFile,
                            juce::String& error);
    using ProjectHandOver = std::function<void(PreparedCreatorProject&&)>;
    // Set once, before any load. `parameterStateType` is the type a project's sound must have.
    void setProjectHandOver(ProjectHandOver handOver, const juce::Identifier& parameterStateType);
    void handOverPreparedProject(PreparedCreatorProject&& prepared);
    void cancel();
    // Cancels every load and waits for its thread; for the owner's destruction.
    void stopAllJobs();
    // Cancels any load and unloads the source, resetting range and playback.
    void clear();
    void publish(std::shared_ptr<const LoadedSample> next);

    CreatorPreparationSnapshot snapshot();
    juce::String getLoadedSampleName();
    std::shared_ptr<const LoadedSample> getCurrentSample();
    size_t getRetiredCount();

    // Audio thread: announce, read, and clear at the end of the callback.
    const LoadedSample* beginAudioRead() noexcept;
    void setAudioActive(const LoadedSample* sample) noexcept { audioActiveSlot.store(sample); }
    void endAudioRead() noexcept { audioReadingSlot.store(nullptr); }
    const LoadedSample* getPublished() const noexcept { return publishedSample.load(); }
    // Whether the latest publication took the place of a source, rather than of none.
    bool lastPublicationReplacedASource() const noexcept { return replacedOnLastPublication.load(); }

    // Called by a job just before it publishes: false when a newer request or a cancel came since.
    bool isCurrentGeneration(std::uint64_t generation) const noexcept
    {
        return generation == loadGeneration.load();
    }
    // Resets playback (and, unless preserved, the range), then publishes.
    void publishPreparedSource(std::shared_ptr<const LoadedSample> sample, bool preserveRange);

    juce::AudioFormatManager& getFormats() noexcept { return formats; }
    // Told after every publication (a new source, or none): whatever was recorded from the old one
    // no longer belongs to anything. Set once, before any load.
    void setSourceChangedCallback(std::function<void()> callback) { sourceChanged = std::move(callback); }

private:
    bool startJob(std::unique_ptr<SourceLoadJob> job, const juce::String& startMessage,
                  const juce::String& failedStartMessage, juce::String& error);
    void reclaimRetired();         // caller holds sampleMutex
    void requestCancelOfAllJobs(); // caller holds jobsMutex

    TransportState& transport;
    std::function<void()> markProjectModified;
    std::function<void()> sourceChanged;
    ProjectHandOver projectHandOver;
    juce::Identifier projectParameterStateType;
    juce::AudioFormatManager formats;

    std::mutex sampleMutex;
    std::shared_ptr<const LoadedSample> currentSample;
    std::vector<std::shared_ptr<const LoadedSample>> retiredSamples;
    std::atomic<const LoadedSample*> publishedSample{nullptr};
    std::atomic<bool> replacedOnLastPublication{false};
    std::atomic<const LoadedSample*> audioReadingSlot{nullptr};
    std::atomic<const LoadedSample*> audioActiveSlot{nullptr};

    std::mutex jobsMutex;
    std::vector<std::unique_ptr<SourceLoadJob>> jobs;
    std::atomic<std::uint64_t> loadGeneration{0};
};
} // namespace sorvane
