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

    // Written beside the target and renamed over it, so an existing file survives any failure.
    const auto temporary = temporaryFileBeside(file);
    const bool written = writeNormalisedWave(temporary, std::move(audio), description.sampleRate, nullptr,
                                             nullptr, error, captureCommentFor(description));
    if (written && !replaceFileDurably(temporary, file))
        error = "Could not atomically publish the completed export.";
    const bool published = written && error.isEmpty();
    if (!published)
        temporary.deleteFile();
    return published;
}
} // namespace sorvane
