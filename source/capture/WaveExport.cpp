#include "capture/WaveExport.h"

#include "capture/DurableFile.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>

namespace sorvane
{
namespace
{
constexpr int blockFrames = 4096;
constexpr int bytesPerSample = 3;
// JUCE's float-to-integer path keeps channel pointers in 256-entry arrays.
constexpr int maxWriterChannels = 255;
// The largest 24-bit level at or below the ceiling, less a tenth of a step so float rounding cannot
// carry a sample over it in either direction.
constexpr float largestCodeBelowCeiling = (float)(7476353.9 / 8388608.0);

bool isSet(const std::atomic<bool>* flag) noexcept
{
    return flag != nullptr && flag->load(std::memory_order_relaxed);
}

void report(std::atomic<float>* progress, float value) noexcept
{
    if (progress != nullptr)
        progress->store(value, std::memory_order_relaxed);
}

enum class Scan
{
    finished,
    nonFinite,
    cancelled
};

// The magnitude bits of an IEEE float order like the magnitudes, and every infinity or NaN sits at or
// above the infinity pattern, so one integer maximum (which vectorises) finds the peak and any
// non-finite sample together.
Scan scanPeak(const juce::AudioBuffer<float>& buffer, const std::atomic<bool>* cancel, float& peak) noexcept
{
    constexpr std::uint32_t magnitudeMask = 0x7fffffffu, infinityBits = 0x7f800000u;
    std::uint32_t loudest = 0;

    for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
    {
        const float* samples = buffer.getReadPointer(channel);
        for (int start = 0; start < buffer.getNumSamples(); start += blockFrames)
        {
            if (isSet(cancel))
                return Scan::cancelled;

            const int end = std::min(buffer.getNumSamples(), start + blockFrames);
            std::uint32_t blockLoudest = 0;
            for (int i = start; i < end; ++i)
            {
                std::uint32_t bits;
                std::memcpy(&bits, samples + i, sizeof bits);
                blockLoudest = std::max(blockLoudest, bits & magnitudeMask);
            }

            if (blockLoudest >= infinityBits)
                return Scan::nonFinite;

            loudest = std::max(loudest, blockLoudest);
        }
    }

    std::memcpy(&peak, &loudest, sizeof peak);
    return Scan::finished;
}
} // namespace

namespace
{
// Opens the stream only once the audio has passed its checks, so a refused export creates no file.
using StreamOpener = std::function<CheckedFileOutputStream*(juce::String& error)>;

bool encodeWave(const StreamOpener& open, juce::AudioBuffer<float> buffer, double sampleRate,
                std::atomic<float>* progress, const std::atomic<bool>* cancel, juce::String& error,
                const juce::String& comment)
{
    error.clear();
    const int channels = buffer.getNumChannels();
    const int frames = buffer.getNumSamples();

    if (channels < 1 || frames < 1 || !(sampleRate >= 8000.0))
    {
        error = "Capture audio before exporting.";
        return false;
    }

    // The header keeps the byte rate in a signed 32-bit field.
    if (channels > maxWriterChannels ||
        !(sampleRate * channels * bytesPerSample <= (double)std::numeric_limits<std::int32_t>::max()))
    {
        error = "Could not initialise the 24-bit WAV encoder.";
        return false;
    }

    float peak = 0.0f;
    switch (scanPeak(buffer, cancel, peak))
    {
    case Scan::cancelled:
        return false;
    case Scan::nonFinite:
        error = "The capture contains non-finite audio.";
        return false;
    case Scan::finished:
        break;
    }

    auto* opened = open(error);
    if (opened == nullptr)
        return false;
    auto& stream = *opened;

    report(progress, 0.35f);
    const float gain = peak > wavePeakCeiling ? wavePeakCeiling / peak : 1.0f;

    juce::StringPairArray metadata;
    if (comment.isNotEmpty())
        metadata.set(juce::WavAudioFormat::riffInfoComment, comment);

    // JUCE's WAV writer ignores the results of its header writes and deletes the stream it is given;
    // the checked stream stays here and keeps every failure.
    auto forwarder = borrowStream(stream);
    std::unique_ptr<juce::AudioFormatWriter> writer(juce::WavAudioFormat().createWriterFor(
        forwarder.get(), sampleRate, (unsigned int)channels, 24, metadata, 0));
    if (writer == nullptr)
    {
        error = "Could not initialise the 24-bit WAV encoder.";
        return false;
    }
    forwarder.release();

    // The writer's constructor has already written the first header.
    if (stream.failed())
    {
        error = "Could not encode the processed WAV file.";
        return false;
    }

    for (int start = 0; start < frames; start += blockFrames)
    {
        if (isSet(cancel))
            return false;

        const int count = std::min(blockFrames, frames - start);
        if (gain != 1.0f)
            buffer.applyGain(start, count, gain);
        // The 24-bit conversion rounds negative samples down, which can put a peak at the ceiling one
        // step above it; holding samples to the last whole step below keeps every reader at -1 dBFS.
        if (peak * gain > largestCodeBelowCeiling)
            for (int c = 0; c < channels; ++c)
                juce::FloatVectorOperations::clip(buffer.getWritePointer(c, start),
                                                  buffer.getReadPointer(c, start), -largestCodeBelowCeiling,
                                                  largestCodeBelowCeiling, count);

        if (!writer->writeFromAudioSampleBuffer(buffer, start, count))
        {
            error = "Could not encode the processed WAV file.";
            return false;
        }

        report(progress, (float)(0.35 + 0.65 * (double)(start + count) / (double)frames));
    }

    // Closing the writer writes the final header; that can fail as well as the audio.
    writer.reset();
    if (stream.failed())
    {
        error = "Could not encode the processed WAV file.";
        return false;
    }

    return true;
}

} // namespace

bool writeNormalisedWave(CheckedFileOutputStream& stream, juce::AudioBuffer<float> buffer, double sampleRate,
                         std::atomic<float>* progress, const std::atomic<bool>* cancel, juce::String& error,
                         const juce::String& comment)
{
    return encodeWave([&stream](juce::String&) { return &stream; }, std::move(buffer), sampleRate, progress,
                      cancel, error, comment);
}

bool writeNormalisedWave(const juce::File& file, juce::AudioBuffer<float> buffer, double sampleRate,
                         std::atomic<float>* progress, const std::atomic<bool>* cancel, juce::String& error,
                         const juce::String& comment)
{
    std::unique_ptr<CheckedFileOutputStream> stream;
    const auto open = [&](juce::String& why) -> CheckedFileOutputStream*
    {
        // Unbuffered, so a failure is seen at the write that met it and progress stops there.
        stream = std::make_unique<CheckedFileOutputStream>(file, 0);
        if (stream->openedOk())
            return stream.get();
        why = "Could not create the WAV output file.";
        return nullptr;
    };
    juce::String reason;
    if (encodeWave(open, std::move(buffer), sampleRate, progress, cancel, error, comment))
    {
        if (stream->finish(reason))
            return true;
        error = "Could not encode the processed WAV file: " + reason + ".";
        return false;
    }
    if (stream != nullptr && stream->openedOk() && stream->failed())
        error = "Could not encode the processed WAV file: " + stream->failureReason() + ".";
    return false;
}

juce::String makeCaptureComment(double rangeStart, double rangeEnd, bool looping)
{
    return "Sorvane sourceRangeStart=" + juce::String(rangeStart, 9) +
           "; sourceRangeEnd=" + juce::String(rangeEnd, 9) +
           "; sourceRangeMode=" + (looping ? "loop" : "one-shot");
}
} // namespace sorvane
