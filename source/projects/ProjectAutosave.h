#pragma once

#include "capture/CreatorExportJob.h"
#include "projects/CreatorProjectData.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace sorvane
{
// Writes a dirty project to the newest autosave generation at most every 30 s, in the background,
// keeping the generation before it. At any moment the folder holds a complete newest generation, a
// complete previous one, or both.
class ProjectAutosave
{
public:
    static constexpr std::int64_t intervalMilliseconds = 30000;

    ProjectAutosave(juce::File newestGeneration, juce::File previousGeneration);
    ~ProjectAutosave();

    // One step of the cycle (message thread). `capture` is called only when an autosave starts.
    // False with "Autosave failed: ..." in `error` when the last autosave failed or this one could
    // not start; a failed autosave does not count as done, so the next step tries again.
    bool step(bool projectDirty, std::int64_t nowMilliseconds,
              const std::function<CreatorProjectData()>& capture, juce::String& error);
    // Cancels a running autosave and waits for its thread.
    void cancel();
    bool isRunning() const;
    std::int64_t getLastAutosaveMilliseconds() const noexcept { return lastAutosaveMilliseconds.load(); }

    // Keeps the newest generation as the previous one, through a temporary and one rename.
    static bool retainPreviousGeneration(const juce::File& newest, const juce::File& previous,
                                         juce::String& error);

private:
    const juce::File newest, previous;
    mutable std::mutex jobMutex;
    std::unique_ptr<CreatorExportJob> job;
    std::atomic<std::int64_t> lastAutosaveMilliseconds{0};
};
} // namespace sorvane
