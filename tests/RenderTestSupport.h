#pragma once

#include "TestSupport.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <gtest/gtest.h>

#include <unistd.h>

namespace sorvane::test
{
// A fresh folder below the temporary folder, removed with everything in it.
struct RenderFolder
{
    juce::File dir =
        juce::File::getSpecialLocation(juce::File::tempDirectory)
            .getNonexistentChildFile("sorvane-render-" + juce::String((int)::getpid()), "", false);
    RenderFolder() { dir.createDirectory(); }
    ~RenderFolder() { dir.deleteRecursively(); }

    juce::StringArray names() const
    {
        juce::StringArray result;
        for (const auto& f : dir.findChildFiles(juce::File::findFilesAndDirectories, false, "*"))
            result.add(f.getFileName());
        result.sort(false);
        return result;
    }
};

// A tone with a little noise, different per channel, so every stage has something to work on.
inline juce::AudioBuffer<float> renderTestSignal(int channels, int frames, double rate)
{
    juce::AudioBuffer<float> audio(channels, frames);
    std::uint32_t state = 20261211u;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
        {
            state = state * 1664525u + 1013904223u;
            const double noise = ((double)(state >> 8) / 16777216.0 - 0.5) * 0.1;
            audio.setSample(c, i,
                            (float)(0.4 * std::sin(2.0 * juce::MathConstants<double>::pi *
                                                   (220.0 + 110.0 * c) * i / rate) +
                                    noise));
        }
    return audio;
}

// 32-bit float WAV, so what the renderer reads is exactly this buffer.
inline void writeFloatWave(const juce::File& file, const juce::AudioBuffer<float>& audio, double rate,
                           int bits = 32)
{
    file.deleteFile();
    auto stream = std::make_unique<juce::FileOutputStream>(file);
    ASSERT_TRUE(stream->openedOk());
    std::unique_ptr<juce::AudioFormatWriter> writer(juce::WavAudioFormat().createWriterFor(
        stream.get(), rate, (unsigned)audio.getNumChannels(), bits, {}, 0));
    ASSERT_NE(writer, nullptr);
    stream.release();
    ASSERT_TRUE(writer->writeFromAudioSampleBuffer(audio, 0, audio.getNumSamples()));
}

inline juce::AudioBuffer<float> readAudioFile(const juce::File& file, double* rate = nullptr)
{
    juce::AudioFormatManager formats;
    formats.registerBasicFormats();
    std::unique_ptr<juce::AudioFormatReader> reader(formats.createReaderFor(file));
    if (reader == nullptr)
        return {};
    juce::AudioBuffer<float> audio((int)reader->numChannels, (int)reader->lengthInSamples);
    reader->read(&audio, 0, audio.getNumSamples(), 0, true, true);
    if (rate != nullptr)
        *rate = reader->sampleRate;
    return audio;
}

// A host's transport, written apart from the renderer's: playing from 0 at a fixed tempo.
class FixedTempoPlayHead : public juce::AudioPlayHead
{
public:
    explicit FixedTempoPlayHead(double bpmToUse) : bpm(bpmToUse) {}
    juce::Optional<PositionInfo> getPosition() const override
    {
        PositionInfo info;
        info.setIsPlaying(true);
        info.setBpm(bpm);
        info.setTimeInSamples(time);
        return info;
    }
    juce::int64 time = 0;

private:
    double bpm;
};

// The processor driven directly, as a host renders offline: the input then `tailFrames` of silence,
// in blocks of `blockSize` (the last one shorter).
inline juce::AudioBuffer<float> processDirectly(SorvaneAudioProcessor& processor,
                                                const juce::AudioBuffer<float>& input, double rate,
                                                int blockSize, int tailFrames, double bpm = 120.0)
{
    const int channels = input.getNumChannels();
    const auto set = channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add(set);
    layout.outputBuses.add(set);
    processor.setBusesLayout(layout);
    FixedTempoPlayHead head(bpm);
    processor.setPlayHead(&head);
    processor.setNonRealtime(true);
    processor.setRateAndBufferSizeDetails(rate, blockSize);
    processor.prepareToPlay(rate, blockSize);

    const int total = input.getNumSamples() + tailFrames;
    juce::AudioBuffer<float> output(channels, total);
    output.clear();
    for (int c = 0; c < channels; ++c)
        output.copyFrom(c, 0, input, c, 0, input.getNumSamples());
    juce::MidiBuffer midi;
    for (int start = 0; start < total; start += blockSize)
    {
        const int n = std::min(blockSize, total - start);
        juce::AudioBuffer<float> block(channels, n);
        for (int c = 0; c < channels; ++c)
            block.copyFrom(c, 0, output, c, start, n);
        head.time = start;
        processor.processBlock(block, midi);
        for (int c = 0; c < channels; ++c)
            output.copyFrom(c, start, block, c, 0, n);
    }
    processor.releaseResources();
    processor.setPlayHead(nullptr);
    return output;
}
} // namespace sorvane::test
