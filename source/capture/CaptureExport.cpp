#include "capture/CaptureExport.h"
#include "capture/DurableFile.h"
#include "capture/WaveExport.h"

namespace sorvane
{
juce::String captureCommentFor(const CaptureDescription& description)
{
    return makeCaptureComment(description.rangeStart, description.rangeEnd, description.looping);
}

bool exportCaptureToFile(const ProcessedCapture& capture, const juce::File& file, juce::String& error)
{
    error.clear();
    if (file.getFullPathName().isEmpty() || file.isDirectory())
    {
        error = "Choose a writable WAV file.";
        return false;
    }

    auto audio = capture.copy();
    if (audio.getNumChannels() == 0 || audio.getNumSamples() == 0)
    {
        error = "Capture a processed loop before exporting.";
        return false;
    }
    const auto description = capture.describe();

    const auto folder = file.getParentDirectory();
    if (!folder.isDirectory() && !folder.createDirectory().wasOk())
    {
        error = "Could not create the WAV output folder.";
        return false;
    }

    // Written beside the target and renamed over it, so an existing file survives any failure; what a
    // killed export left there goes first.
    sweepStaleTemporaries(file);
    const auto temporary = temporaryFileBeside(file);
    CheckedFileOutputStream stream(temporary, 0);
    if (!stream.openedOk())
    {
        error = unwrittenFileSentence(file, stream.failureReason());
        return false;
    }
    if (!writeNormalisedWave(stream, std::move(audio), description.sampleRate, nullptr, nullptr, error,
                             captureCommentFor(description)))
    {
        if (stream.failed())
            error = unwrittenFileSentence(file, stream.failureReason());
        temporary.deleteFile();
        return false;
    }
    return publishCheckedFile(stream, temporary, file, error);
}
} // namespace sorvane
