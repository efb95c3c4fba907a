#include "transport/SourceLoadJob.h"
#include "projects/CreatorProjectFile.h"
#include "transport/SampleLoadEstimate.h"
#include "transport/SourceFingerprint.h"
#include "transport/SourceLibrary.h"
#include "transport/SourceFormats.h"
#include "transport/SourceReader.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>

namespace sorvane
{
namespace
{
double now() noexcept
{
    return juce::Time::getMillisecondCounterHiRes();
}
constexpr int decodeBlockFrames = 65536;

bool allFinite(const juce::AudioBuffer<float>& audio, int offset, int count) noexcept
{
    for (int c = 0; c < audio.getNumChannels(); ++c)
    {
        const float* x = audio.getReadPointer(c, offset);
        for (int i = 0; i < count; ++i)
            if (!std::isfinite(x[i]))
                return false;
    }
    return true;
}
} // namespace

SourceLoadJob::SourceLoadJob(SourceLibrary& ownerToUse, juce::File file, std::uint64_t generationToUse,
                             bool preserve)
    : juce::Thread("Sorvane source preparation"), owner(ownerToUse), sourceFile(std::move(file)),
      generation(generationToUse), preserveRange(preserve), projectLoad(false),
      sizeAtRequest(sourceFile.getSize())
{
}

SourceLoadJob::SourceLoadJob(SourceLibrary& ownerToUse, ProjectRequest request, std::uint64_t generationToUse)
    : juce::Thread("Sorvane project preparation"), owner(ownerToUse),
      projectFile(std::move(request.projectFile)), locatedSourceFile(std::move(request.locatedSourceFile)),
      parameterStateType(request.parameterStateType), generation(generationToUse), preserveRange(false),
      projectLoad(true), sizeAtRequest(0)
{
}

SourceLoadJob::~SourceLoadJob()
{
    requestCancel();
    stopThread(3000);
}

void SourceLoadJob::requestCancel()
{
    double expected = 0.0;
    cancelRequestedAtMilliseconds.compare_exchange_strong(expected, now());
    cancelRequested.store(true);
    signalThreadShouldExit();
}

void SourceLoadJob::markStarted(const juce::String& startMessage)
{
    startMilliseconds = now();
    state.store(PreparationState::Checking);
    setMessage(startMessage);
}

void SourceLoadJob::setMessage(const juce::String& text)
{
    const juce::ScopedLock lock(messageLock);
    message = text;
}

void SourceLoadJob::recordFinishedMetrics()
{
    const double end = now();
    elapsedMilliseconds.store(std::max(0.0, end - startMilliseconds));
    if (const double cancelledAt = cancelRequestedAtMilliseconds.load(); cancelledAt > 0.0)
        cancelLatencyMilliseconds.store(std::max(0.0, end - cancelledAt));
}

void SourceLoadJob::fail(const juce::String& text)
{
    setMessage(text);
    recordFinishedMetrics();
    state.store(PreparationState::Failed);
}

void SourceLoadJob::finishCancelled()
{
    setMessage("Source preparation cancelled; the previous source was preserved.");
    recordFinishedMetrics();
    state.store(PreparationState::Cancelled);
}

std::shared_ptr<LoadedSample> SourceLoadJob::decode()
{
    juce::AudioFormatManager formats;
    registerSourceFormats(formats);
    std::unique_ptr<juce::AudioFormatReader> reader;
    juce::String openError;
    if (!openSourceReader(formats, sourceFile, reader, openError) || reader == nullptr ||
        reader->lengthInSamples <= 0 || reader->numChannels <= 0)
    {
        fail("Sorvane could not read this audio file.");
        return nullptr;
    }

    const auto estimate =
        evaluateSampleLoad(reader->lengthInSamples, reader->sampleRate, (std::int64_t)reader->numChannels);
    decodedBytes.store(estimate.decodedBytes);
    peakEstimateBytes.store(estimate.peakJobBytes);
    if (estimate.policy == SampleLoadPolicy::REJECT_FOR_BOUNDED_MEMORY)
    {
        fail(estimate.message);
        return nullptr;
    }

    if (isCancelled())
    {
        finishCancelled();
        return nullptr;
    }

    const auto frames = (int)reader->lengthInSamples;
    std::shared_ptr<LoadedSample> sample;
    try
    {
        sample = std::make_shared<LoadedSample>();
        sample->audio.setSize(estimate.channels, frames);
    }
    catch (const std::bad_alloc&)
    {
        fail("Not enough memory to decode this source; the current source was preserved.");
        return nullptr;
    }
    sample->sampleRate = reader->sampleRate;
    sample->name = sourceFile.getFileName();
    sample->path = sourceFile.getFullPathName();
    sample->fingerprint = createSourceFingerprint(sourceFile);

    reservedBytes.store(estimate.peakJobBytes);
    state.store(PreparationState::Decoding);
    setMessage("Decoding source outside the audio and message callbacks.");

    for (int offset = 0; offset < frames; offset += decodeBlockFrames)
    {
        if (isCancelled())
        {
            finishCancelled();
            return nullptr;
        }
        const int count = std::min(decodeBlockFrames, frames - offset);
        if (!reader->read(&sample->audio, offset, count, offset, true, true) ||
            readerRanPastEndOfFile(*reader) || !sourceFile.existsAsFile() ||
            sourceFile.getSize() != sizeAtRequest)
        {
            setMessage("Sorvane could not decode this audio file; the current source was preserved.");
            recordFinishedMetrics();
            state.store(PreparationState::Failed);
            return nullptr;
        }
        // Float files can hold NaN or infinity; such a source would poison the effect and every
        // measurement, so it is refused like export refuses non-finite audio.
        if (!allFinite(sample->audio, offset, count))
        {
            fail("This audio file contains invalid sample values (not-a-number or infinity); the current "
                 "source was preserved.");
            return nullptr;
        }
        progress.store((float)(offset + count) * 0.8f / (float)frames);
    }

    // Compressed formats announce an upper bound; drop the silence past the real end.
    if (auto* stream = dynamic_cast<FfmpegStreamReader*>(reader.get()))
        if (const auto decoded = stream->getDecodedFrameCount(); decoded > 0 && decoded < frames)
            sample->audio.setSize(sample->audio.getNumChannels(), (int)decoded, true, false, true);

    setMessage("Analysing bounded source traits and honest moment suggestions outside callbacks.");
    sample->traits = analyseSource(sample->audio, sample->sampleRate, &cancelRequested);
    if (isCancelled())
    {
        finishCancelled();
        return nullptr;
    }
    progress.store(0.9f);
    sample->moments = suggestBestMoments(sample->audio, sample->sampleRate, 5, &cancelRequested);
    return sample;
}

void SourceLoadJob::finishPublished(const juce::String& text)
{
    progress.store(1.0f);
    setMessage(text);
    recordFinishedMetrics();
    state.store(PreparationState::Published);
}

void SourceLoadJob::runProject()
{
    CreatorProjectData data;
    juce::String readError;
    if (!readCreatorProject(projectFile, data, readError))
    {
        fail(readError);
        return;
    }
    if (data.parameterState.getType() != parameterStateType)
    {
        fail("The project parameter payload belongs to a different product.");
        return;
    }
    if (isCancelled())
    {
        finishCancelled();
        return;
    }

    juce::File accepted;
    if (data.sourceFingerprint.isNotEmpty())
    {
        for (const auto& candidate : {data.sourceFile, locatedSourceFile})
            if (candidate != juce::File() && sourceMatchesProject(data, candidate))
            {
                accepted = candidate;
                break;
            }
        const juce::ScopedLock lock(messageLock);
        if (accepted == juce::File())
        {
            sourceNeedsLocating = true;
            message = "The project's source is missing or changed. Locate the matching source to recover it.";
            recordFinishedMetrics();
            state.store(PreparationState::Failed);
            return;
        }
        sourceFile = accepted;
        sizeAtRequest = accepted.getSize();
    }
    progress.store(0.05f);

    PreparedCreatorProject prepared;
    prepared.projectFile = projectFile;
    prepared.generation = generation;
    prepared.job = this;

    if (accepted != juce::File())
    {
        auto sample = decode();
        if (sample == nullptr)
            return;
        // The project's fingerprint is what matched; it names the source from here on.
        sample->fingerprint = data.sourceFingerprint;
        prepared.sourceFile = accepted;
        prepared.sample = std::move(sample);
    }
    if (isCancelled() || !owner.isCurrentGeneration(generation))
    {
        finishCancelled();
        return;
    }
    prepared.data = std::move(data);

    // Publishing is set before the hand-over: the message thread may finish the job at once.
    state.store(PreparationState::Publishing);
    setMessage(accepted != juce::File()
                   ? "Publishing the prepared project and source at one message-thread boundary."
                   : "Publishing the prepared project at one message-thread boundary.");
    owner.handOverPreparedProject(std::move(prepared));
}

void SourceLoadJob::run()
{
    if (projectLoad)
    {
        runProject();
        return;
    }
    auto sample = decode();
    if (sample == nullptr)
        return;

    // A superseded job never publishes.
    if (isCancelled() || !owner.isCurrentGeneration(generation))
    {
        finishCancelled();
        return;
    }

    owner.publishPreparedSource(std::move(sample), preserveRange);
    progress.store(1.0f);
    setMessage("Source prepared and atomically published.");
    recordFinishedMetrics();
    state.store(PreparationState::Published);
}

CreatorPreparationSnapshot SourceLoadJob::describe() const
{
    CreatorPreparationSnapshot s;
    s.state = (std::int32_t)state.load();
    s.generation = generation;
    s.progress = progress.load();
    s.projectLoad = projectLoad;
    const juce::ScopedLock lock(messageLock);
    s.sourcePath = sourceFile.getFullPathName();
    s.projectPath = projectFile.getFullPathName();
    s.sourceNeedsLocating = sourceNeedsLocating;
    s.decodedBytes = decodedBytes.load();
    s.peakEstimateBytes = peakEstimateBytes.load();
    s.reservedBytes = reservedBytes.load();
    s.elapsedMilliseconds = elapsedMilliseconds.load();
    s.cancelLatencyMilliseconds = cancelLatencyMilliseconds.load();
    s.message = message;
    return s;
}
} // namespace sorvane
