#include "transport/SourceFormats.h"

#include <mpg123.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace sorvane
{
namespace
{
constexpr int scratchFrames = 4096;

// A read loop that makes no progress this many times in a row is a broken stream, not a slow one.
constexpr int stalledReadLimit = 64;

juce::int64 seekStream(juce::InputStream& in, juce::int64 offset, int whence)
{
    juce::int64 base = 0;
    if (whence == SEEK_CUR)
        base = in.getPosition();
    else if (whence == SEEK_END)
        base = in.getTotalLength();
    else if (whence != SEEK_SET)
        return -1;
    if (base < 0 || (offset > 0 && base > std::numeric_limits<juce::int64>::max() - offset))
        return -1;
    const auto target = base + offset;
    if (target < 0 || !in.setPosition(target))
        return -1;
    return in.getPosition();
}

int readStream(juce::InputStream& in, void* dest, size_t bytes)
{
    return in.read(dest, (int)std::min<size_t>(bytes, 1 << 30));
}

void clearFrom(int* const* dest, int numDestChannels, int offset, int count)
{
    for (int c = 0; c < numDestChannels; ++c)
        if (dest[c] != nullptr && count > 0)
            std::fill_n(reinterpret_cast<float*>(dest[c]) + offset, count, 0.0f);
}

//==============================================================================
class Mpg123Reader : public juce::AudioFormatReader
{
public:
    explicit Mpg123Reader(juce::InputStream* in) : juce::AudioFormatReader(in, "MP3 file") {}

    ~Mpg123Reader() override
    {
        if (handle != nullptr)
            mpg123_delete(handle);
    }

    bool open()
    {
        static const int initialised = mpg123_init();
        if (initialised != MPG123_OK)
            return false;

        int error = 0;
        handle = mpg123_new(nullptr, &error);
        if (handle == nullptr)
            return false;

        // A stream that changes its format half way would no longer match the announced header.
        mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS | MPG123_NO_FRANKENSTEIN, 0.0);

        const long* rates = nullptr;
        size_t rateCount = 0;
        mpg123_rates(&rates, &rateCount);
        mpg123_format_none(handle);
        for (size_t i = 0; i < rateCount; ++i)
            mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);

        if (mpg123_replace_reader_handle(handle, &readCallback, &seekCallback, nullptr) != MPG123_OK ||
            mpg123_open_handle(handle, input) != MPG123_OK)
            return false;

        long rate = 0;
        int channels = 0, encoding = 0;
        if (mpg123_getformat(handle, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 || channels < 1 ||
            channels > 2 || encoding != MPG123_ENC_FLOAT_32)
            return false;
        // Pin the output so later frames are converted to it rather than changing it.
        mpg123_format_none(handle);
        if (mpg123_format(handle, rate, channels, MPG123_ENC_FLOAT_32) != MPG123_OK)
            return false;

        // Without a LAME/Info tag the length is only a guess from the file size; a scan counts the
        // frames actually present. A tag is trusted: if it claims more than the file holds, the
        // decode runs dry and the read fails, as for a cut file.
        long encoderDelay = -1;
        double unused = 0.0;
        if (mpg123_getstate(handle, MPG123_ENC_DELAY, &encoderDelay, &unused) != MPG123_OK ||
            encoderDelay < 0)
            if (mpg123_scan(handle) != MPG123_OK)
                return false;

        const auto length = (juce::int64)mpg123_length(handle);
        const auto at = (juce::int64)mpg123_tell(handle);
        if (length <= 0 || at < 0)
            return false;

        sampleRate = (double)rate;
        numChannels = (unsigned int)channels;
        bitsPerSample = 32;
        usesFloatingPointData = true;
        lengthInSamples = length;
        position = at;
        scratch.allocate((size_t)scratchFrames * (size_t)channels, true);
        return true;
    }

    bool readSamples(int* const* destSamples, int numDestChannels, int startOffsetInDestBuffer,
                     juce::int64 startSampleInFile, int numSamples) override
    {
        clearSamplesBeyondAvailableLength(destSamples, numDestChannels, startOffsetInDestBuffer,
                                          startSampleInFile, numSamples, lengthInSamples);
        if (numSamples <= 0)
            return true;

        // mpg123's seeks in VBR streams land near, not on, the frame; decoding forward from the start
        // is exact, and the loader reads front to back anyway.
        if (startSampleInFile < position || position < 0)
        {
            if (mpg123_seek(handle, 0, SEEK_SET) != 0)
            {
                position = -1;
                clearFrom(destSamples, numDestChannels, startOffsetInDestBuffer, numSamples);
                return false;
            }
            position = 0;
        }
        while (position < startSampleInFile)
            if (!decode(nullptr, 0, 0,
                        (int)std::min<juce::int64>(startSampleInFile - position, scratchFrames)))
            {
                clearFrom(destSamples, numDestChannels, startOffsetInDestBuffer, numSamples);
                return false;
            }

        if (!decode(destSamples, numDestChannels, startOffsetInDestBuffer, numSamples))
            return false;

        // Channels the file does not have stay silent.
        for (int c = (int)numChannels; c < numDestChannels; ++c)
            if (destSamples[c] != nullptr)
                std::fill_n(reinterpret_cast<float*>(destSamples[c]) + startOffsetInDestBuffer, numSamples,
                            0.0f);
        return true;
    }

private:
    // Decodes numSamples frames into dest (or drops them when dest is null); false when the stream
    // ends or breaks first.
    bool decode(int* const* destSamples, int numDestChannels, int startOffsetInDestBuffer, int numSamples)
    {
        const int channels = (int)numChannels;
        const size_t frameBytes = sizeof(float) * (size_t)channels;
        int done = 0, stalled = 0;
        while (done < numSamples)
        {
            const int want = std::min(scratchFrames, numSamples - done);
            size_t bytes = 0;
            const int result = mpg123_read(handle, scratch.get(), frameBytes * (size_t)want, &bytes);
            const int frames = (int)std::min<size_t>(bytes / frameBytes, (size_t)want);

            for (int c = 0; destSamples != nullptr && c < std::min(numDestChannels, channels); ++c)
                if (auto* out = reinterpret_cast<float*>(destSamples[c]))
                    for (int i = 0; i < frames; ++i)
                        out[startOffsetInDestBuffer + done + i] =
                            scratch[(size_t)i * (size_t)channels + (size_t)c];
            done += frames;
            position += frames;

            const bool formatKept = result != MPG123_NEW_FORMAT || hasAnnouncedFormat();
            stalled = frames > 0 ? 0 : stalled + 1;
            // MPG123_DONE before the announced length means the data ran out.
            if (bytes % frameBytes != 0 || !formatKept || stalled > stalledReadLimit ||
                (result != MPG123_OK && result != MPG123_NEW_FORMAT))
            {
                if (destSamples != nullptr)
                    clearFrom(destSamples, numDestChannels, startOffsetInDestBuffer + done,
                              numSamples - done);
                position = -1;
                return false;
            }
        }
        return true;
    }

    bool hasAnnouncedFormat()
    {
        long rate = 0;
        int channels = 0, encoding = 0;
        return mpg123_getformat(handle, &rate, &channels, &encoding) == MPG123_OK &&
               (double)rate == sampleRate && channels == (int)numChannels && encoding == MPG123_ENC_FLOAT_32;
    }

    static mpg123_ssize_t readCallback(void* stream, void* dest, size_t bytes)
    {
        return readStream(*static_cast<juce::InputStream*>(stream), dest, bytes);
    }

    static off_t seekCallback(void* stream, off_t offset, int whence)
    {
        return (off_t)seekStream(*static_cast<juce::InputStream*>(stream), (juce::int64)offset, whence);
    }

    mpg123_handle* handle = nullptr;
    juce::int64 position = 0;
    juce::HeapBlock<float> scratch;
};

//==============================================================================
class VorbisSourceReader : public juce::AudioFormatReader
{
public:
    explicit VorbisSourceReader(juce::InputStream* in) : juce::AudioFormatReader(in, "Ogg-Vorbis file") {}

    ~VorbisSourceReader() override
    {
        if (opened)
            ov_clear(&file);
    }

    bool open()
    {
        ov_callbacks callbacks{&readCallback, &seekCallback, nullptr, &tellCallback};
        if (ov_open_callbacks(input, &file, nullptr, 0, callbacks) != 0)
            return false;
        opened = true;

        const auto* first = ov_info(&file, 0);
        if (first == nullptr || first->channels < 1 || first->rate <= 0)
            return false;
        for (long link = 1; link < ov_streams(&file); ++link)
        {
            const auto* info = ov_info(&file, (int)link);
            if (info == nullptr || info->channels != first->channels || info->rate != first->rate)
                return false;
        }

        const auto total = (juce::int64)ov_pcm_total(&file, -1);
        if (total <= 0)
            return false;

        sampleRate = (double)first->rate;
        numChannels = (unsigned int)first->channels;
        bitsPerSample = 32;
        usesFloatingPointData = true;
        lengthInSamples = total;
        position = (juce::int64)ov_pcm_tell(&file);
        return true;
    }

    bool readSamples(int* const* destSamples, int numDestChannels, int startOffsetInDestBuffer,
                     juce::int64 startSampleInFile, int numSamples) override
    {
        clearSamplesBeyondAvailableLength(destSamples, numDestChannels, startOffsetInDestBuffer,
                                          startSampleInFile, numSamples, lengthInSamples);
        if (numSamples <= 0)
            return true;

        if (startSampleInFile != position)
        {
            if (ov_pcm_seek(&file, (ogg_int64_t)startSampleInFile) != 0)
            {
                position = -1;
                clearFrom(destSamples, numDestChannels, startOffsetInDestBuffer, numSamples);
                return false;
            }
            position = startSampleInFile;
        }

        int done = 0;
        while (done < numSamples)
        {
            float** pcm = nullptr;
            int link = 0;
            const long got = ov_read_float(&file, &pcm, numSamples - done, &link);
            const auto* info = got > 0 ? ov_info(&file, link) : nullptr;
            // Zero before the announced length: the last page lied. Negative: a hole or a broken link.
            if (got <= 0 || got > numSamples - done || info == nullptr || pcm == nullptr)
            {
                clearFrom(destSamples, numDestChannels, startOffsetInDestBuffer + done, numSamples - done);
                position = -1;
                return false;
            }

            const int frames = (int)got;
            const int available = std::min({numDestChannels, (int)numChannels, info->channels});
            for (int c = 0; c < numDestChannels; ++c)
                if (auto* out = reinterpret_cast<float*>(destSamples[c]))
                {
                    if (c < available)
                        std::copy_n(pcm[c], frames, out + startOffsetInDestBuffer + done);
                    else
                        std::fill_n(out + startOffsetInDestBuffer + done, frames, 0.0f);
                }
            done += frames;
            position += frames;
        }
        return true;
    }

private:
    static size_t readCallback(void* dest, size_t size, size_t count, void* stream)
    {
        if (size == 0)
            return 0;
        const auto got = readStream(*static_cast<juce::InputStream*>(stream), dest,
                                    size * std::min<size_t>(count, (1u << 30) / size));
        return got > 0 ? (size_t)got / size : 0;
    }

    static int seekCallback(void* stream, ogg_int64_t offset, int whence)
    {
        return seekStream(*static_cast<juce::InputStream*>(stream), (juce::int64)offset, whence) < 0 ? -1 : 0;
    }

    static long tellCallback(void* stream)
    {
        return (long)static_cast<juce::InputStream*>(stream)->getPosition();
    }

    OggVorbis_File file{};
    bool opened = false;
    juce::int64 position = 0;
};

template <typename Reader>
juce::AudioFormatReader* openReader(juce::InputStream* stream, bool deleteStreamIfOpeningFails)
{
    if (stream == nullptr)
        return nullptr;
    auto reader = std::make_unique<Reader>(stream);
    if (reader->open())
        return reader.release();
    if (!deleteStreamIfOpeningFails)
        reader->input = nullptr;
    return nullptr;
}
} // namespace

Mpg123AudioFormat::Mpg123AudioFormat() : ReadOnlyCompressedFormat("MP3 file", ".mp3") {}

juce::AudioFormatReader* Mpg123AudioFormat::createReaderFor(juce::InputStream* stream,
                                                            bool deleteStreamIfOpeningFails)
{
    return openReader<Mpg123Reader>(stream, deleteStreamIfOpeningFails);
}

VorbisSourceFormat::VorbisSourceFormat() : ReadOnlyCompressedFormat("Ogg-Vorbis file", ".ogg") {}

juce::AudioFormatReader* VorbisSourceFormat::createReaderFor(juce::InputStream* stream,
                                                             bool deleteStreamIfOpeningFails)
{
    return openReader<VorbisSourceReader>(stream, deleteStreamIfOpeningFails);
}

void registerSourceFormats(juce::AudioFormatManager& formats)
{
    formats.registerFormat(new juce::WavAudioFormat(), true);
    formats.registerFormat(new juce::AiffAudioFormat(), false);
    formats.registerFormat(new juce::FlacAudioFormat(), false);
    formats.registerFormat(new VorbisSourceFormat(), false);
    formats.registerFormat(new Mpg123AudioFormat(), false);
}
} // namespace sorvane
