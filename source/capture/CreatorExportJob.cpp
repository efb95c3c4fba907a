#include "capture/CreatorExportJob.h"
#include "capture/DurableFile.h"

#include <cerrno>
#include <cmath>
#include <sys/stat.h>

namespace sorvane
{
namespace
{
const juce::String cancelledMessage = "Export cancelled; partial output removed.";
const juce::String noDetailsMessage = "The export worker failed without details.";

void removeQuietly(const juce::File& path)
{
    if (path.exists() || path.isSymbolicLink())
        path.deleteRecursively();
}

bool createStagingFolder(const juce::File& destination, juce::File& staging)
{
    const auto parent = destination.getParentDirectory();
    // "NAME.partial", then "NAME.partial2" and so on; NAME is shortened where the suffix would not fit
    // in a folder entry. mkdir, unlike createDirectory(), refuses a folder that appeared since the name
    // was chosen.
    for (int number = 1, attempt = 0; number < 100000 && attempt < 16; ++number)
    {
        const auto candidate = parent.getChildFile(
            fileNameWithin({}, destination.getFileName(),
                           ".partial" + (number > 1 ? juce::String(number) : juce::String())));
        if (candidate.exists() || candidate.isSymbolicLink())
            continue;
        ++attempt;
        if (::mkdir(candidate.getFullPathName().toRawUTF8(), 0755) == 0)
        {
            staging = candidate;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool runWork(const CreatorExportJob::Work& work, const juce::File& target, std::atomic<float>& progress,
             const std::atomic<bool>& cancel, juce::String& message)
{
    // An exception must not escape the job's thread; it counts as a failed export.
    try
    {
        return work(target, progress, cancel, message);
    }
    catch (...)
    {
        return false;
    }
}
} // namespace

CreatorExportJob::CreatorExportJob(Request&& request)
    : juce::Thread("Sorvane creator export"), kind(request.kind), destination(std::move(request.destination)),
      destinationIsFolder(request.destinationIsFolder), requiredFiles(std::move(request.requiredFiles)),
      work(std::move(request.work))
{
}

CreatorExportJob::~CreatorExportJob()
{
    cancel();
    stopThread(10000);
}

bool CreatorExportJob::launch()
{
    if (state.load() != (std::int32_t)CreatorExportState::Idle)
        return false;

    setState(CreatorExportState::Checking, "Checking export destination and dependencies.");

    const auto refuse = [this](const juce::String& reason)
    {
        setState(CreatorExportState::Failed, reason);
        return false;
    };

    if (destination.getFullPathName().isEmpty() || (!destinationIsFolder && destination.isDirectory()) ||
        !work)
        return refuse("The export request has no writable destination or work function.");

    for (const auto& required : requiredFiles)
        if (required.getFullPathName().isEmpty() || !required.exists())
            return refuse("Required export dependency is missing: " + required.getFullPathName());

    const auto parent = destination.getParentDirectory();
    if (!parent.isDirectory() && !parent.createDirectory())
        return refuse("Could not create the export destination folder.");

    if (destinationIsFolder && (destination.exists() || destination.isSymbolicLink()))
        return refuse("Choose a new destination folder so an existing export is never overwritten.");

    cancelRequested.store(false);
    progress.store(0.0f);
    setState(CreatorExportState::Running, "Exporting.");

    if (!startThread(juce::Thread::Priority::normal))
        return refuse("Could not start the owned export worker.");

    return true;
}

void CreatorExportJob::cancel()
{
    cancelRequested.store(true);
    signalThreadShouldExit();
}

CreatorExportSnapshot CreatorExportJob::getSnapshot() const
{
    CreatorExportSnapshot snapshot;
    snapshot.kind = kind;
    snapshot.destinationPath = destination.getFullPathName();

    const float current = progress.load();
    snapshot.progress = std::isnan(current) ? 0.0f : juce::jlimit(0.0f, 1.0f, current);

    const juce::ScopedLock lock(messageLock);
    snapshot.state = (CreatorExportState)state.load();
    snapshot.message = message;
    return snapshot;
}

void CreatorExportJob::setState(CreatorExportState newState, const juce::String& newMessage)
{
    const juce::ScopedLock lock(messageLock);
    message = newMessage;
    state.store((std::int32_t)newState);
}

bool CreatorExportJob::isCancelRequested() const
{
    return cancelRequested.load() || threadShouldExit();
}

void CreatorExportJob::run()
{
    if (destinationIsFolder)
        runFolder();
    else
        runFile();
}

void CreatorExportJob::runFolder()
{
    juce::File staging;
    if (!createStagingFolder(destination, staging))
    {
        setState(CreatorExportState::Failed, "Could not create the bounded temporary export folder.");
        return;
    }

    juce::String workMessage;
    const bool ok = runWork(work, staging, progress, cancelRequested, workMessage);

    if (isCancelRequested())
    {
        removeQuietly(staging);
        setState(CreatorExportState::Cancelled, cancelledMessage);
        return;
    }

    if (!ok)
    {
        removeQuietly(staging);
        setState(CreatorExportState::Failed, workMessage.isNotEmpty() ? workMessage : noDetailsMessage);
        return;
    }

    if (!publishFolderDurably(staging, destination))
    {
        removeQuietly(staging);
        setState(CreatorExportState::Failed, "Could not atomically publish the completed export folder.");
        return;
    }

    progress.store(1.0f);
    setState(CreatorExportState::Completed, workMessage.isNotEmpty() ? workMessage : "Export completed.");
}

void CreatorExportJob::runFile()
{
    // A job killed with its process left its temporary here; nothing else would ever remove it.
    sweepStaleTemporaries(destination);
    const auto temporary = temporaryFileBeside(destination);

    juce::String workMessage;
    const bool ok = runWork(work, temporary, progress, cancelRequested, workMessage);

    if (isCancelRequested())
    {
        removeQuietly(temporary);
        setState(CreatorExportState::Cancelled, cancelledMessage);
        return;
    }

    if (!ok)
    {
        removeQuietly(temporary);
        setState(CreatorExportState::Failed, workMessage.isNotEmpty() ? workMessage : noDetailsMessage);
        return;
    }

    if (!replaceFileDurably(temporary, destination))
    {
        removeQuietly(temporary);
        setState(CreatorExportState::Failed, "Could not atomically publish the completed export.");
        return;
    }

    progress.store(1.0f);
    setState(CreatorExportState::Completed, workMessage.isNotEmpty() ? workMessage : "Export completed.");
}
} // namespace sorvane
