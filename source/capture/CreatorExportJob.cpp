#include "capture/CreatorExportJob.h"
#include "capture/DurableFile.h"

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

juce::String partialSuffix(int number)
{
    return ".partial" + (number > 1 ? juce::String(number) : juce::String());
}

juce::String stagingName(const juce::File& destination, int number)
{
    // "NAME.partial", then "NAME.partial2" and so on; NAME is shortened where the suffix would not fit
    // in a folder entry.
    return fileNameWithin({}, destination.getFileName(), partialSuffix(number));
}

// A hidden file beside a staging folder, locked by the exporting process while its export runs: the
// lock ends with the process however it ends, so a staging folder whose marker nobody holds was left
// by a killed export. Beside it, not inside, so the work finds its folder empty.
juce::File stagingMarkerFor(const juce::File& destination, int number)
{
    return destination.getSiblingFile(
        fileNameWithin(".", destination.getFileName(), partialSuffix(number) + ".lock"));
}

class StagingMarker
{
public:
    StagingMarker() = default;
    ~StagingMarker() { release(); }
    StagingMarker(const StagingMarker&) = delete;
    StagingMarker& operator=(const StagingMarker&) = delete;

    bool placeFor(const juce::File& destination, int number)
    {
        file = stagingMarkerFor(destination, number);
        // A marker a killed sweep left for this name is taken over; a held one is refused, and so is
        // one a sweep unlinked while this took it.
        const auto path = file.getFullPathName().toStdString();
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        struct stat opened
        {
        }, named{};
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 &&
            ::stat(path.c_str(), &named) == 0 && opened.st_ino == named.st_ino &&
            opened.st_dev == named.st_dev)
            return true;
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        return false;
    }

    // After the staging folder is gone: published or removed.
    void release()
    {
        if (fd < 0)
            return;
        ::unlink(file.getFullPathName().toRawUTF8());
        ::close(fd);
        fd = -1;
    }

private:
    juce::File file;
    int fd = -1;
};

// Removes the staging folders of this destination that a killed export left: our naming, a folder of
// ours (not a link) whose marker is ours and held by no running export. Nothing else is touched.
void sweepStaleStagingFolders(const juce::File& destination)
{
    for (int number = 1; number < 100; ++number)
    {
        const auto candidate = destination.getSiblingFile(stagingName(destination, number));
        const auto marker = stagingMarkerFor(destination, number).getFullPathName().toStdString();
        const int fd = ::open(marker.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
        {
            if (number > 1 && !candidate.exists())
                break;
            continue;
        }
        struct stat opened
        {
        }, folder{};
        const bool stale = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                           opened.st_uid == ::geteuid() && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (stale)
        {
            const auto path = candidate.getFullPathName().toStdString();
            const bool ours = ::lstat(path.c_str(), &folder) == 0 && S_ISDIR(folder.st_mode) &&
                              folder.st_uid == ::geteuid();
            // The folder first: a sweep killed in between leaves only a marker, which the next removes.
            if (ours)
                candidate.deleteRecursively(false);
            if (!candidate.exists() && !candidate.isSymbolicLink())
                ::unlink(marker.c_str());
        }
        ::close(fd);
    }
}

bool createStagingFolder(const juce::File& destination, juce::File& staging, StagingMarker& marker)
{
    const auto parent = destination.getParentDirectory();
    // mkdir, unlike createDirectory(), refuses a folder that appeared since the name was chosen.
    for (int number = 1, attempt = 0; number < 100000 && attempt < 16; ++number)
    {
        const auto candidate = parent.getChildFile(stagingName(destination, number));
        if (candidate.exists() || candidate.isSymbolicLink())
            continue;
        ++attempt;
        // Held before the folder exists, so no sweep can take a folder being made for a stale one.
        if (!marker.placeFor(destination, number))
            continue;
        if (::mkdir(candidate.getFullPathName().toRawUTF8(), 0755) == 0)
        {
            staging = candidate;
            return true;
        }
        const auto code = errno;
        marker.release();
        if (code != EEXIST)
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
    sweepStaleStagingFolders(destination);
    juce::File staging;
    StagingMarker marker;
    if (!createStagingFolder(destination, staging, marker))
    {
        setState(CreatorExportState::Failed, "Could not create the bounded temporary export folder.");
        return;
    }

    juce::String workMessage;
    const bool ok = runWork(work, staging, progress, cancelRequested, workMessage);

    if (isCancelRequested())
    {
        removeQuietly(staging);
        marker.release();
        setState(CreatorExportState::Cancelled, cancelledMessage);
        return;
    }

    if (!ok)
    {
        removeQuietly(staging);
        marker.release();
        setState(CreatorExportState::Failed, workMessage.isNotEmpty() ? workMessage : noDetailsMessage);
        return;
    }

    if (!publishFolderDurably(staging, destination))
    {
        removeQuietly(staging);
        marker.release();
        setState(CreatorExportState::Failed, "Could not atomically publish the completed export folder.");
        return;
    }

    marker.release();
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
