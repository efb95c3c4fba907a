#pragma once

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_core/juce_core.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

namespace sorvane::test
{
// One folder per test, named after the process so parallel test processes never share one.
struct ExportFolder
{
    juce::File dir =
        juce::File::getSpecialLocation(juce::File::tempDirectory)
            .getNonexistentChildFile("sorvane-export-" + juce::String((int)::getpid()), "", false);
    ExportFolder() { dir.createDirectory(); }
    ~ExportFolder()
    {
        // A test may have locked a child folder; give the cleanup its way back in.
        for (const auto& child : dir.findChildFiles(juce::File::findDirectories, true))
            child.setReadOnly(false);
        dir.deleteRecursively();
    }
};

// Every entry below folder (hidden ones included), relative and sorted, with file sizes.
inline juce::StringArray listing(const juce::File& folder)
{
    juce::StringArray entries;
    for (const auto& entry : folder.findChildFiles(juce::File::findFilesAndDirectories, true, "*",
                                                   juce::File::FollowSymlinks::no))
        entries.add(entry.getRelativePathFrom(folder) +
                    (entry.isDirectory() ? juce::String("/") : " " + juce::String(entry.getSize())));
    entries.sort(false);
    return entries;
}

inline juce::MemoryBlock bytesOf(const juce::File& file)
{
    juce::MemoryBlock block;
    file.loadFileAsData(block);
    return block;
}

inline bool containsBytes(const juce::MemoryBlock& block, const char* text)
{
    const auto* begin = static_cast<const char*>(block.getData());
    const auto* end = begin + block.getSize();
    return std::search(begin, end, text, text + std::strlen(text)) != end;
}

inline juce::File writeBytes(const juce::File& file, const juce::String& text)
{
    EXPECT_TRUE(file.replaceWithText(text, false, false, "\n"));
    return file;
}

// Detuned sines at 0.9 × peak with one sample of exactly peak, so the peak is known to the bit.
inline juce::AudioBuffer<float> testSignal(int channels, int frames, float peak, double rate = 48000.0)
{
    juce::AudioBuffer<float> audio(channels, frames);
    for (int c = 0; c < channels; ++c)
    {
        float* x = audio.getWritePointer(c);
        const double hz = 110.0 * (c + 1) + 3.0;
        for (int i = 0; i < frames; ++i)
            x[i] = (float)(0.9 * std::sin(2.0 * juce::MathConstants<double>::pi * hz * i / rate));
    }
    if (frames > 0 && channels > 0)
    {
        if (const float loudest = audio.getMagnitude(0, frames); loudest > 0.0f)
            audio.applyGain(0.9f * peak / loudest);
        audio.setSample(0, frames / 3, peak);
    }
    return audio;
}

struct ReadBack
{
    bool ok = false;
    int channels = 0, bits = 0;
    double rate = 0.0;
    juce::int64 frames = 0;
    juce::AudioBuffer<float> audio;
    juce::StringPairArray metadata;
};

inline ReadBack readWithJuce(const juce::File& file)
{
    ReadBack result;
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatReader> reader(
        wav.createReaderFor(file.createInputStream().release(), true));
    if (reader == nullptr)
        return result;
    result.channels = (int)reader->numChannels;
    result.bits = (int)reader->bitsPerSample;
    result.rate = reader->sampleRate;
    result.frames = reader->lengthInSamples;
    result.metadata = reader->metadataValues;
    result.audio.setSize(result.channels, (int)result.frames);
    result.ok = reader->read(&result.audio, 0, (int)result.frames, 0, true, true);
    return result;
}

// The bytes of the data chunk, found by a RIFF walk of our own.
inline juce::MemoryBlock dataChunk(const juce::File& file)
{
    const auto bytes = bytesOf(file);
    const auto* p = static_cast<const unsigned char*>(bytes.getData());
    size_t at = 12;
    while (at + 8 <= bytes.getSize())
    {
        const size_t size = (size_t)p[at + 4] | ((size_t)p[at + 5] << 8) | ((size_t)p[at + 6] << 16) |
                            ((size_t)p[at + 7] << 24);
        if (std::memcmp(p + at, "data", 4) == 0)
            return juce::MemoryBlock(p + at + 8, std::min(size, bytes.getSize() - at - 8));
        at += 8 + size + (size & 1);
    }
    return {};
}

// Python's wave module and a RIFF walk of its own: an outside opinion of what was written. Python 3.11's
// wave refuses the extensible format JUCE writes for more than two channels; those are read by the walk
// alone, and "reader" says which one answered.
inline juce::var readWithPython(const juce::File& file, const juce::File& scratch)
{
    const auto script = scratch.getChildFile("read_wave.py");
    script.replaceWithText(R"PY(import json, struct, sys, wave
path = sys.argv[1]
data = open(path, "rb").read()
chunks = {}
at = 12
while at + 8 <= len(data):
    kind, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
    chunks.setdefault(kind, []).append(data[at + 8:at + 8 + size])
    at += 8 + size + (size & 1)
tag, channels, rate, _, align, bits = struct.unpack("<HHIIHH", chunks[b"fmt "][0][:16])
width, raw, reader = bits // 8, chunks[b"data"][0], "riff"
if tag == 1:
    with wave.open(path, "rb") as w:
        channels, width, rate = w.getnchannels(), w.getsampwidth(), w.getframerate()
        raw, reader = w.readframes(w.getnframes()), "wave"
peak = 0
for i in range(0, len(raw), 3):
    peak = max(peak, abs(int.from_bytes(raw[i:i + 3], "little", signed=True)))
comment = ""
for body in chunks.get(b"LIST", []):
    inner = 4 if body[:4] == b"INFO" else len(body)
    while inner + 8 <= len(body):
        key, length = body[inner:inner + 4], struct.unpack("<I", body[inner + 4:inner + 8])[0]
        if key == b"CMNT":
            comment = body[inner + 8:inner + 8 + length].split(b"\0")[0].decode("utf-8")
        inner += 8 + length + (length & 1)
print(json.dumps({"reader": reader, "channels": channels, "width": width, "rate": rate,
                  "frames": len(raw) // (width * channels), "peak": peak / 8388608.0, "comment": comment}))
)PY");
    juce::ChildProcess python;
    if (!python.start(juce::StringArray{SORVANE_PYTHON, script.getFullPathName(), file.getFullPathName()},
                      juce::ChildProcess::wantStdOut))
        return {};
    const auto output = python.readAllProcessOutput();
    python.waitForProcessToFinish(60000);
    return juce::JSON::parse(output);
}

// Makes every write past limit bytes of any file fail with EFBIG, as a full disk would, until the
// guard goes. SIGXFSZ is ignored meanwhile so the process survives the attempt.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        ::getrlimit(RLIMIT_FSIZE, &previous);
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = previous;
        lowered.rlim_cur = limit;
        active = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
    }
    bool isActive() const { return active; }

private:
    rlimit previous{};
    void (*previousHandler)(int) = SIG_DFL;
    bool active = false;
};
} // namespace sorvane::test
