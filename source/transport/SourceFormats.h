#pragma once

#include <juce_audio_formats/juce_audio_formats.h>

namespace sorvane
{
// The formats a source is decoded from: JUCE's WAV, AIFF and FLAC readers, plus the Ogg Vorbis and
// MP3 readers below. Both fail a read when the stream ends before the length announced at opening;
// JUCE's own Ogg reader pads that gap with silence and its MP3 decoder writes out of bounds on
// crafted files.
void registerSourceFormats(juce::AudioFormatManager& formats);

// A compressed format Sorvane only ever reads.
class ReadOnlyCompressedFormat : public juce::AudioFormat
{
public:
    using juce::AudioFormat::AudioFormat;

    juce::Array<int> getPossibleSampleRates() override { return {}; }
    juce::Array<int> getPossibleBitDepths() override { return {}; }
    bool canDoStereo() override { return true; }
    bool canDoMono() override { return true; }
    bool isCompressed() override { return true; }

    juce::AudioFormatWriter* createWriterFor(juce::OutputStream*, double, unsigned int, int,
                                             const juce::StringPairArray&, int) override
    {
        return nullptr;
    }
    using juce::AudioFormat::createWriterFor;
};

// MP3 (and MPEG layers 1 and 2 under the .mp3 extension) through libmpg123.
class Mpg123AudioFormat : public ReadOnlyCompressedFormat
{
public:
    Mpg123AudioFormat();
    juce::AudioFormatReader* createReaderFor(juce::InputStream* stream,
                                             bool deleteStreamIfOpeningFails) override;
};

// Ogg Vorbis through libvorbisfile; every link of a chained stream must share the first link's rate and
// channel count.
class VorbisSourceFormat : public ReadOnlyCompressedFormat
{
public:
    VorbisSourceFormat();
    juce::AudioFormatReader* createReaderFor(juce::InputStream* stream,
                                             bool deleteStreamIfOpeningFails) override;
};
} // namespace sorvane
