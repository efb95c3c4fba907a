#pragma once

#include "capture/DurableFile.h"
#include "render/RenderCommandLine.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <atomic>
#include <memory>
#include <optional>

class SorvaneAudioProcessor;

namespace sorvane::render
{
struct RenderSettings
{
    int sampleRate = 0; // 0: the input's rate
    int blockSize = 512;
    double tailSeconds = 0.0;
    OutputFormat format = OutputFormat::wav24; // fromExtension is resolved by the caller
    double tempo = 120.0;
};

struct RenderResult
{
    double seconds = 0.0; // of the written audio
    double sampleRate = 0.0;
    int channels = 0;
    juce::int64 frames = 0;
    float peak = 0.0f;                                   // sample peak of the output
    std::optional<double> loudnessBefore, loudnessAfter; // integrated LUFS of input and output
};

// One file through one processor, as a host renders offline: the input is read, processed and written
// one block at a time, in the block size the processor was prepared with (the last block shorter),
// with the play head running from sample 0 at the given tempo. The output is written to a hidden
// temporary beside OUTPUT, synced and renamed over it only when complete; any failure or a cancel
// removes the temporary and leaves OUTPUT as it was.
class OfflineRenderer
{
public:
    explicit OfflineRenderer(RenderSettings settings);
    ~OfflineRenderer();

    // Opens and checks the input: readable, mono or stereo, not empty.
    bool open(const juce::File& input, juce::String& error);
    int getChannels() const noexcept;
    double getProcessingRate() const noexcept;

    // Lays the processor out for the input's channels, tells it it runs offline, gives it the play
    // head and prepares it at the processing rate and block size.
    bool prepare(SorvaneAudioProcessor& processor, juce::String& error);

    // Renders the opened input into output. `cancel` is polled once a block; `progress` (0 to 1) is
    // updated once a block. Both may be null.
    bool render(const juce::File& output, const std::atomic<bool>* cancel, std::atomic<float>* progress,
                RenderResult& result, juce::String& error);

private:
    class PlayHead;
    class InputBlocks;

    bool createWriter(const juce::File& temporary, juce::String& error);

    RenderSettings settings;
    juce::AudioFormatManager formats;
    juce::File inputFile;
    std::unique_ptr<InputBlocks> input;
    std::unique_ptr<PlayHead> playHead;
    SorvaneAudioProcessor* processor = nullptr;
    std::unique_ptr<CheckedFileOutputStream> outputStream;
    std::unique_ptr<juce::AudioFormatWriter> writer;
};

// The format OUTPUT's name asks for when --format is not given: FLAC for ".flac", else 24-bit WAV.
OutputFormat formatForOutput(OutputFormat requested, const juce::File& output);
// ".wav" or ".flac".
juce::String extensionFor(OutputFormat format);
// How a result line names the format: "24-bit WAV", "32-bit float WAV" or "24-bit FLAC".
juce::String formatName(OutputFormat format);
// Whether the name says which format it holds: ".wav" or ".flac" in any case. An output without an
// extension is written as 24-bit WAV, as the help says.
bool hasOutputExtension(const juce::File& output);
} // namespace sorvane::render
