#include "capture/CaptureExport.h"
#include "processor/SorvaneAudioProcessor.h"

bool SorvaneAudioProcessor::startProcessedCapture(int bars, bool includeTail, juce::String& error)
{
    error.clear();
    const auto sample = sources.getCurrentSample();
    if (wrapperType != wrapperType_Standalone || sample == nullptr)
    {
        error = "Load a sample in the standalone app before capturing.";
        return false;
    }

    sorvane::CaptureRequest request;
    request.bars = bars;
    request.includeTail = includeTail;
    request.tempo = currentTempoBpm.load();
    request.deviceSampleRate = deviceSampleRate;
    request.channels = std::max(1, getTotalNumOutputChannels());
    request.rangeStart = sourceState.rangeStart.load();
    request.rangeEnd = sourceState.rangeEnd.load();
    request.looping = sourceState.looping.load();
    request.sourceRangeFrames = (request.rangeEnd - request.rangeStart) * (double)sample->getNumFrames();
    request.sourceSampleRate = sample->sampleRate;
    request.matchLevel = rawParameterValues[sorvane::pMatchSourceLevel]->load() >= 0.5f;
    request.resultLevelDb = rawParameterValues[sorvane::pResultLevel]->load();

    if (!capture.start(request, error))
        return false;

    sourceTransport.seek(request.rangeStart);
    sourceTransport.startPlayback();
    markProjectDirty();
    return true;
}

bool SorvaneAudioProcessor::exportProcessedCapture(const juce::File& file, juce::String& error) const
{
    return sorvane::exportCaptureToFile(capture, file, error);
}

bool SorvaneAudioProcessor::armBeforeAfter()
{
    return ring.arm(deviceSampleRate, std::max(1, getTotalNumOutputChannels()));
}

juce::String SorvaneAudioProcessor::requestKeepThat(int bars, const juce::String& label)
{
    sorvane::BeforeAfterRing::KeepStamp stamp;
    stamp.bars = bars;
    stamp.tempo = currentTempoBpm.load();
    stamp.parameters = captureParameterSnapshot();
    stamp.rangeStart = sourceState.rangeStart.load();
    stamp.rangeEnd = sourceState.rangeEnd.load();
    stamp.looping = sourceState.looping.load();

    switch (ring.request(std::move(stamp)))
    {
    case sorvane::BeforeAfterRing::Request::noAudioYet:
        return "Play audio before using Keep That.";
    case sorvane::BeforeAfterRing::Request::alreadyPending:
        return "A Keep That snapshot is already being prepared.";
    case sorvane::BeforeAfterRing::Request::accepted:
        break;
    }
    return label + " REQUESTED / FREEZING AT THE NEXT AUDIO BOUNDARY";
}

bool SorvaneAudioProcessor::completeKeepThat()
{
    juce::String error;
    return completeKeepThat(error);
}

bool SorvaneAudioProcessor::completeKeepThat(juce::String& error)
{
    error.clear();
    if (!ring.isFreezeComplete())
        return false;
    sorvane::BeforeAfterAudioSnapshot snapshot;
    if (!ring.takeFrozenWindow(deviceSampleRate, snapshot))
    {
        error = "There is not enough memory to keep this window; the previous Keep That is unchanged.";
        return false;
    }
    std::lock_guard<std::mutex> lock(beforeAfterMutex);
    beforeAfter = std::move(snapshot);
    return true;
}

bool SorvaneAudioProcessor::hasKeepThat() const
{
    std::lock_guard<std::mutex> lock(beforeAfterMutex);
    return beforeAfter.before.getNumSamples() >= 1 &&
           beforeAfter.before.getNumSamples() == beforeAfter.after.getNumSamples() &&
           beforeAfter.before.getNumChannels() == beforeAfter.after.getNumChannels();
}

sorvane::BeforeAfterAudioSnapshot SorvaneAudioProcessor::getKeepThat() const
{
    std::lock_guard<std::mutex> lock(beforeAfterMutex);
    auto copy = beforeAfter;
    copy.parameterState = beforeAfter.parameterState.createCopy();
    return copy;
}

void SorvaneAudioProcessor::resetCaptureAndKeepThat(bool keepKeptWindow)
{
    capture.cancel();
    ring.reset();
    if (keepKeptWindow)
        return;
    std::lock_guard<std::mutex> lock(beforeAfterMutex);
    beforeAfter = sorvane::BeforeAfterAudioSnapshot();
}
