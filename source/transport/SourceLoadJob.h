#pragma once

#include "projects/PreparedCreatorProject.h"
#include "transport/LoadedSample.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <cstdint>
#include <memory>

namespace sorvane
{
class SourceLibrary;

enum class PreparationState : std::int32_t
{
    Idle = 0,
    Checking = 1,
    Decoding = 2,
    Publishing = 3,
    Published = 4,
    Cancelled = 5,
    Failed = 6
};

inline bool isTerminal(PreparationState s) noexcept
{
    return (int)s >= (int)PreparationState::Published;
}

// What the editor polls about the newest load.
struct CreatorPreparationSnapshot
{
    std::int32_t state = 0;
    std::uint64_t generation = 0;
    float progress = 0.0f;
    juce::String sourcePath, projectPath;
    bool sourceNeedsLocating = false;
    bool projectLoad = false;
    std::uint64_t decodedBytes = 0, peakEstimateBytes = 0, reservedBytes = 0;
    double elapsedMilliseconds = 0.0, cancelLatencyMilliseconds = 0.0;
    juce::String message;
};

// Decodes (and analyses) one source on its own thread, then publishes it unless a newer request
// or a cancel superseded it. The previous source stays untouched on every other outcome.
class SourceLoadJob : public juce::Thread
{
public:
    SourceLoadJob(SourceLibrary& owner, juce::File sourceFile, std::uint64_t generation, bool preserveRange);
    // A project load: reads the project, finds its source by fingerprint (the stored path first, then
    // the file the user located), decodes it and hands the whole project to the owner.
    struct ProjectRequest
    {
        juce::File projectFile, locatedSourceFile;
        juce::Identifier parameterStateType;
    };
    SourceLoadJob(SourceLibrary& owner, ProjectRequest request, std::uint64_t generation);
    ~SourceLoadJob() override;

    void run() override;

    // Stamps the first cancel time, sets the flag and asks the thread to exit.
    void requestCancel();
    void markStarted(const juce::String& startMessage);

    PreparationState getState() const noexcept { return state.load(); }
    std::uint64_t getGeneration() const noexcept { return generation; }
    CreatorPreparationSnapshot describe() const;

    // The message thread ends a handed-over project's job: published, or discarded as stale.
    void finishCancelled();
    void finishPublished(const juce::String& text);

private:
    bool isCancelled() const noexcept { return cancelRequested.load() || threadShouldExit(); }
    void fail(const juce::String& text);
    void recordFinishedMetrics();
    void runProject();
    void setMessage(const juce::String& text);
    std::shared_ptr<LoadedSample> decode();

    SourceLibrary& owner;
    juce::File sourceFile; // a project's is set once resolved, under messageLock
    const juce::File projectFile, locatedSourceFile;
    const juce::Identifier parameterStateType;
    const std::uint64_t generation;
    const bool preserveRange;
    const bool projectLoad;
    // Readers pad a file that shrinks under them with silence, so a file that changes after the
    // request is a failed decode.
    juce::int64 sizeAtRequest;
    bool sourceNeedsLocating = false; // under messageLock

    std::atomic<PreparationState> state{PreparationState::Idle};
    std::atomic<float> progress{0.0f};
    std::atomic<bool> cancelRequested{false};
    std::atomic<std::uint64_t> decodedBytes{0}, peakEstimateBytes{0}, reservedBytes{0};
    std::atomic<double> elapsedMilliseconds{0.0}, cancelRequestedAtMilliseconds{0.0},
        cancelLatencyMilliseconds{0.0};
    double startMilliseconds = 0.0;

    mutable juce::CriticalSection messageLock;
    juce::String message;
};
} // namespace sorvane
