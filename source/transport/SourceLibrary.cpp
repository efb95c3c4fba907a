#include "transport/SourceLibrary.h"
#include "transport/RegularFile.h"
#include "transport/SourceFormats.h"
#include "transport/SourceReader.h"

namespace sorvane
{
SourceLibrary::SourceLibrary(TransportState& transportToUse, std::function<void()> markModified)
    : transport(transportToUse), markProjectModified(std::move(markModified))
{
    registerSourceFormats(formats);
}

SourceLibrary::~SourceLibrary()
{
    std::lock_guard<std::mutex> lock(jobsMutex);
    requestCancelOfAllJobs();
    jobs.clear(); // each job waits for its thread
}

SampleLoadEstimate SourceLibrary::preflight(const juce::File& file, juce::String& error)
{
    error.clear();
    if (file.getFullPathName().isEmpty() || !file.existsAsFile())
    {
        error = "The selected sample does not exist.";
        return {};
    }
    if (!checkRegularFile(file, error))
        return {};

    std::unique_ptr<juce::AudioFormatReader> reader;
    if (!openSourceReader(formats, file, reader, error) || reader == nullptr)
    {
        if (error.isEmpty())
            error = "Sorvane could not read this audio file header.";
        return {};
    }

    auto estimate =
        evaluateSampleLoad(reader->lengthInSamples, reader->sampleRate, (std::int64_t)reader->numChannels);
    if (estimate.policy == SampleLoadPolicy::REJECT_FOR_BOUNDED_MEMORY)
        error = estimate.message;
    return estimate;
}

void SourceLibrary::requestCancelOfAllJobs()
{
    for (auto& job : jobs)
        job->requestCancel();
}

bool SourceLibrary::requestLoad(const juce::File& file, juce::String& error, bool preserveRange)
{
    if (preflight(file, error).policy == SampleLoadPolicy::REJECT_FOR_BOUNDED_MEMORY)
        return false;

    const auto generation = ++loadGeneration;
    return startJob(std::make_unique<SourceLoadJob>(*this, file, generation, preserveRange),
                    "Checking source header and bounded decoded-memory estimate.",
                    "Could not start the owned source-preparation worker.", error);
}

bool SourceLibrary::requestProjectLoad(const juce::File& projectFile, const juce::File& locatedSourceFile,
                                       juce::String& error)
{
    error.clear();
    if (projectFile.getFullPathName().isEmpty() || !projectFile.exists() || projectFile.isDirectory())
    {
        error = "The project file does not exist.";
        return false;
    }
    if (!checkRegularFile(projectFile, error))
        return false;
    if (const auto size = projectFile.getSize(); size <= 0 || size > 2097152)
    {
        error = "The project is empty or exceeds the 2 MB bounded-state limit.";
        return false;
    }

    const auto generation = ++loadGeneration;
    SourceLoadJob::ProjectRequest request{projectFile, locatedSourceFile, projectParameterStateType};
    return startJob(std::make_unique<SourceLoadJob>(*this, std::move(request), generation),
                    "Reading the bounded project and resolving its source outside UI/audio callbacks.",
                    "Could not start the owned project-preparation worker.", error);
}

void SourceLibrary::setProjectHandOver(ProjectHandOver handOver, const juce::Identifier& parameterStateType)
{
    projectHandOver = std::move(handOver);
    projectParameterStateType = parameterStateType;
}

void SourceLibrary::handOverPreparedProject(PreparedCreatorProject&& prepared)
{
    if (projectHandOver)
        projectHandOver(std::move(prepared));
    else if (prepared.job != nullptr)
        prepared.job->finishCancelled();
}

bool SourceLibrary::startJob(std::unique_ptr<SourceLoadJob> job, const juce::String& startMessage,
                             const juce::String& failedStartMessage, juce::String& error)
{
    std::lock_guard<std::mutex> lock(jobsMutex);
    requestCancelOfAllJobs();
    jobs.erase(
        std::remove_if(jobs.begin(), jobs.end(), [](const auto& j) { return isTerminal(j->getState()); }),
        jobs.end());

    job->markStarted(startMessage);
    if (!job->startThread(juce::Thread::Priority::normal))
    {
        error = failedStartMessage;
        return false;
    }
    jobs.push_back(std::move(job));
    error.clear();
    return true;
}

void SourceLibrary::cancel()
{
    ++loadGeneration;
    std::lock_guard<std::mutex> lock(jobsMutex);
    requestCancelOfAllJobs();
}

void SourceLibrary::stopAllJobs()
{
    ++loadGeneration;
    std::vector<std::unique_ptr<SourceLoadJob>> stopping;
    {
        std::lock_guard<std::mutex> lock(jobsMutex);
        requestCancelOfAllJobs();
        stopping.swap(jobs);
    }
    stopping.clear(); // each job waits for its thread, outside the lock a hand-over may need
}

void SourceLibrary::clear()
{
    cancel();
    transport.playing.store(false);
    transport.playheadSamples.store(0.0);
    transport.restartRequested.store(false);
    transport.rangeStart.store(0.0);
    transport.rangeEnd.store(1.0);
    transport.looping.store(true);
    transport.zeroSnap.store(false);
    publish(nullptr);
    markProjectModified();
}

void SourceLibrary::publish(std::shared_ptr<const LoadedSample> next)
{
    {
        std::lock_guard<std::mutex> lock(sampleMutex);
        const auto* previous = publishedSample.exchange(next.get());
        replacedOnLastPublication.store(previous != nullptr);
        if (currentSample != nullptr && currentSample.get() == previous)
            retiredSamples.push_back(std::move(currentSample));
        currentSample = std::move(next);
        reclaimRetired();
    }
    if (sourceChanged)
        sourceChanged();
}

void SourceLibrary::publishPreparedSource(std::shared_ptr<const LoadedSample> sample, bool preserveRange)
{
    transport.playing.store(false);
    transport.restartRequested.store(false);
    if (!preserveRange)
    {
        transport.rangeStart.store(0.0);
        transport.rangeEnd.store(1.0);
        transport.looping.store(true);
        transport.zeroSnap.store(false);
    }
    // A new source waits, stopped, where the player will start it: at the start of the range
    // (kept or reset), not at the file's first frame.
    const double start =
        sample != nullptr ? transport.rangeStart.load() * (double)sample->getLastFrameIndex() : 0.0;
    transport.playheadSamples.store(start);
    publish(std::move(sample));
    markProjectModified();
}

void SourceLibrary::reclaimRetired()
{
    const auto* reading = audioReadingSlot.load();
    const auto* active = audioActiveSlot.load();
    retiredSamples.erase(std::remove_if(retiredSamples.begin(), retiredSamples.end(),
                                        [reading, active](const auto& s)
                                        { return s.get() != reading && s.get() != active; }),
                         retiredSamples.end());
}

const LoadedSample* SourceLibrary::beginAudioRead() noexcept
{
    // Announce, then confirm nothing was retired in between; only a confirmed pointer is read.
    auto* sample = publishedSample.load();
    for (;;)
    {
        audioReadingSlot.store(sample);
        auto* again = publishedSample.load();
        if (again == sample)
            return sample;
        sample = again;
    }
}

CreatorPreparationSnapshot SourceLibrary::snapshot()
{
    std::lock_guard<std::mutex> lock(jobsMutex);
    while (jobs.size() >= 2 && isTerminal(jobs.front()->getState()))
        jobs.erase(jobs.begin());
    if (jobs.empty())
        return {};
    return jobs.back()->describe();
}

juce::String SourceLibrary::getLoadedSampleName()
{
    std::lock_guard<std::mutex> lock(sampleMutex);
    reclaimRetired();
    return currentSample != nullptr ? currentSample->name : juce::String();
}

std::shared_ptr<const LoadedSample> SourceLibrary::getCurrentSample()
{
    std::lock_guard<std::mutex> lock(sampleMutex);
    return currentSample;
}

size_t SourceLibrary::getRetiredCount()
{
    std::lock_guard<std::mutex> lock(sampleMutex);
    return retiredSamples.size();
}
} // namespace sorvane
