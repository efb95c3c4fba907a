#include "projects/ProjectAutosave.h"
#include "capture/DurableFile.h"
#include "projects/CreatorProjectFile.h"

namespace sorvane
{
ProjectAutosave::ProjectAutosave(juce::File newestGeneration, juce::File previousGeneration)
    : newest(std::move(newestGeneration)), previous(std::move(previousGeneration))
{
}

ProjectAutosave::~ProjectAutosave()
{
    cancel();
}

bool ProjectAutosave::retainPreviousGeneration(const juce::File& newestFile, const juce::File& previousFile,
                                               juce::String& error)
{
    if (!newestFile.existsAsFile())
        return true;
    if (previousFile.isDirectory())
    {
        error = "the previous bounded generation could not be replaced.";
        return false;
    }
    // Copied beside and renamed over the old one, checked to the last byte: no moment without a whole
    // previous generation.
    return copyFileDurably(newestFile, previousFile, error);
}

bool ProjectAutosave::step(bool projectDirty, std::int64_t now,
                           const std::function<CreatorProjectData()>& capture, juce::String& error)
{
    error.clear();
    const std::lock_guard<std::mutex> lock(jobMutex);
    if (job != nullptr)
    {
        const auto snapshot = job->getSnapshot();
        if (snapshot.state == CreatorExportState::Checking || snapshot.state == CreatorExportState::Running)
            return true;
        job.reset();
        if (snapshot.state != CreatorExportState::Completed)
        {
            error = "Autosave failed: " + snapshot.message;
            return false;
        }
        lastAutosaveMilliseconds.store(now);
    }

    if (!projectDirty || now - lastAutosaveMilliseconds.load() < intervalMilliseconds)
        return true;

    CreatorExportJob::Request request;
    request.kind = CreatorExportKind::Autosave;
    request.destination = newest;
    request.work = [data = capture(), newestFile = newest,
                    previousFile = previous](const juce::File& target, std::atomic<float>& progress,
                                             const std::atomic<bool>& cancel, juce::String& message)
    {
        if (cancel.load())
            return false;
        if (!retainPreviousGeneration(newestFile, previousFile, message))
            return false;
        progress.store(0.5f);
        if (!writeCreatorProject(target, data, message))
            return false;
        progress.store(1.0f);
        return true;
    };
    job = std::make_unique<CreatorExportJob>(std::move(request));
    if (!job->launch())
    {
        error = "Autosave failed: " + job->getSnapshot().message;
        job.reset();
        return false;
    }
    return true;
}

void ProjectAutosave::cancel()
{
    std::unique_ptr<CreatorExportJob> finished;
    {
        const std::lock_guard<std::mutex> lock(jobMutex);
        finished = std::move(job);
    }
    if (finished != nullptr)
        finished->cancel(); // the destructor waits for its thread
}

bool ProjectAutosave::isRunning() const
{
    const std::lock_guard<std::mutex> lock(jobMutex);
    if (job == nullptr)
        return false;
    const auto state = job->getSnapshot().state;
    return state == CreatorExportState::Checking || state == CreatorExportState::Running;
}
} // namespace sorvane
