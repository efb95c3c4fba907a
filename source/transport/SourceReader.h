#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

#include <memory>

namespace sorvane
{
// Opens a reader for any source the loader accepts. WAV, AIFF, FLAC, Ogg Vorbis and MP3 go through
// the format manager; M4A, AAC and Opus (by extension, any case) are probed with ffprobe and decoded
// by an ffmpeg child process, because JUCE cannot decode them on Linux. Returns false with one
// sentence in `error` when nothing can read the file.
bool openSourceReader(juce::AudioFormatManager& formats, const juce::File& file,
                      std::unique_ptr<juce::AudioFormatReader>& reader, juce::String& error);

// True when a reader from openSourceReader has needed bytes beyond the end of its file since it was
// opened. JUCE's WAV, AIFF and FLAC readers pad a file that is shorter than its header claims with
// silence and still report success; this is how such a file is told apart from real silence.
bool readerRanPastEndOfFile(const juce::AudioFormatReader& reader);

// True for the extensions that openSourceReader hands to ffmpeg.
bool needsFfmpegDecoder(const juce::File& file);

// The sentence given when ffmpeg or ffprobe is not on the PATH.
juce::String ffmpegMissingMessage();

// What ffprobe reports of a file's first audio stream.
struct ProbedStream
{
    double sampleRate = 0.0;
    int channels = 0;
    double seconds = 0.0;
};

// Reads ffprobe's JSON report. The report carries bytes of the user's file, so it is checked like any
// outside input first (strict UTF-8, bounded nesting) before JUCE's JSON parser sees it.
bool parseProbeOutput(const char* bytes, std::size_t size, ProbedStream& stream, juce::String& error);

// Looks a program up on the PATH of this process; an empty File when it is not there.
juce::File findProgramOnPath(const juce::String& name);

class ChildDecoderProcess;

// Streams raw 32-bit float PCM out of an ffmpeg child process.
//
// lengthInSamples is an upper bound, not an exact count: container durations of compressed files
// are off by up to a codec frame (and ADTS durations are estimated from the bit rate), so a margin
// is added. Frames between the real end and the bound read as silence; once the decoder has
// finished, getDecodedFrameCount() reports the real length. Should a stream still outrun the bound
// (an ADTS estimate more than 5% short), frames past it are not delivered.
//
// Forward reads continue the running decoder; a read that starts before the current position
// restarts it from the beginning. Memory stays at one fixed scratch block whatever is read.
// Destroying the reader kills and reaps the child.
class FfmpegStreamReader : public juce::AudioFormatReader
{
public:
    FfmpegStreamReader(const juce::File& file, const juce::File& ffmpegProgram, double rate, int channels,
                       juce::int64 lengthBound);
    ~FfmpegStreamReader() override;

    bool readSamples(int* const* destSamples, int numDestChannels, int startOffsetInDestBuffer,
                     juce::int64 startSampleInFile, int numSamples) override;

    // -1 until the decoder has reached the end of the stream, then the number of decoded frames.
    juce::int64 getDecodedFrameCount() const noexcept { return decodedFrameCount; }

    // The decoder's process id, 0 when none runs; lets callers and tests watch the child.
    int getDecoderProcessId() const noexcept;

    // Why the last read failed; empty after a good read.
    const juce::String& getLastError() const noexcept { return lastError; }

private:
    bool startDecoder();
    void stopDecoder();
    // Pulls frames from the decoder; writes them to dest (or drops them when dest is null).
    bool pullFrames(int* const* dest, int numDestChannels, int destOffset, int numFrames, int& framesRead);

    juce::File sourceFile;
    juce::File ffmpeg;
    std::unique_ptr<ChildDecoderProcess> decoder;
    juce::HeapBlock<float> scratch;
    juce::int64 position = 0; // next frame the decoder will deliver
    juce::int64 decodedFrameCount = -1;
    juce::String lastError;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(FfmpegStreamReader)
};
} // namespace sorvane
