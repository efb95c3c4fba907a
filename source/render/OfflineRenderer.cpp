#include "render/OfflineRenderer.h"

#include "capture/DurableFile.h"
#include "processor/SorvaneAudioProcessor.h"
#include "render/LoudnessMeter.h"
#include "transport/SourceFormats.h"
#include "transport/SourceReader.h"

#include <cmath>

namespace sorvane::render
{
namespace
{
juce::String named(const juce::File& file, const juce::String& sentence)
{
    return file.getFullPathName() + ": " + sentence;
}
} // namespace

OutputFormat formatForOutput(OutputFormat requested, const juce::File& output)
{
    if (requested != OutputFormat::fromExtension)
        return requested;
    return output.hasFileExtension(".flac") ? OutputFormat::flac : OutputFormat::wav24;
}

juce::String extensionFor(OutputFormat format)
{
    return format == OutputFormat::flac ? ".flac" : ".wav";
}

juce::String formatName(OutputFormat format)
{
    return format == OutputFormat::flac     ? "24-bit FLAC"
           : format == OutputFormat::wav32f ? "32-bit float WAV"
                                            : "24-bit WAV";
}

bool hasOutputExtension(const juce::File& output)
{
    return output.hasFileExtension(".wav;.flac");
}

// The host's transport: playing from sample 0 at a fixed tempo in 4/4.
class OfflineRenderer::PlayHead : public juce::AudioPlayHead
{
public:
    PlayHead(double rateToUse, double tempoToUse) : rate(rateToUse), tempo(tempoToUse) {}

    juce::Optional<PositionInfo> getPosition() const override
    {
        PositionInfo info;
        info.setIsPlaying(true);
        info.setBpm(tempo);
        info.setTimeSignature(TimeSignature{4, 4});
        info.setTimeInSamples(time);
        info.setTimeInSeconds((double)time / rate);
        info.setPpqPosition((double)time / rate * tempo / 60.0);
        return info;
    }

    juce::int64 time = 0;

private:
    double rate, tempo;
};

// The input at the processing rate, block after block. A rate other than the file's goes through
// JUCE's resampler, which pulls the file through the reader source below.
class OfflineRenderer::InputBlocks : public juce::AudioSource
{
public:
    InputBlocks(std::unique_ptr<juce::AudioFormatReader> readerToUse, double processingRate, int blockSize)
        : reader(std::move(readerToUse)), ffmpeg(dynamic_cast<FfmpegStreamReader*>(reader.get())),
          ratio(reader->sampleRate / processingRate)
    {
        if (reader->sampleRate != processingRate)
        {
            resampler = std::make_unique<juce::ResamplingAudioSource>(this, false, (int)reader->numChannels);
            resampler->setResamplingRatio(ratio);
            resampler->prepareToPlay(blockSize, processingRate);
        }
    }

    ~InputBlocks() override
    {
        if (resampler != nullptr)
            resampler->releaseResources();
    }

    int channels() const noexcept { return (int)reader->numChannels; }
    double fileRate() const noexcept { return reader->sampleRate; }

    // Frames at the processing rate. ffmpeg's length is an upper bound until its decoder has ended.
    juce::int64 length() const noexcept
    {
        const auto frames = ffmpeg != nullptr && ffmpeg->getDecodedFrameCount() >= 0
                                ? ffmpeg->getDecodedFrameCount()
                                : reader->lengthInSamples;
        return resampler == nullptr ? frames : (juce::int64)std::ceil((double)frames / ratio);
    }

    bool read(juce::AudioBuffer<float>& dest, int numSamples, juce::String& error)
    {
        if (resampler == nullptr)
            readFromFile(dest, 0, numSamples);
        else
        {
            juce::AudioSourceChannelInfo info(&dest, 0, numSamples);
            resampler->getNextAudioBlock(info);
        }
        if (failed.isNotEmpty())
        {
            error = failed;
            return false;
        }
        return true;
    }

private:
    void prepareToPlay(int, double) override {}
    void releaseResources() override {}

    void getNextAudioBlock(const juce::AudioSourceChannelInfo& info) override
    {
        readFromFile(*info.buffer, info.startSample, info.numSamples);
    }

    void readFromFile(juce::AudioBuffer<float>& dest, int start, int numSamples)
    {
        float* channelsOut[2] = {};
        for (int c = 0; c < std::min(2, dest.getNumChannels()); ++c)
            channelsOut[c] = dest.getWritePointer(c, start);
        if (failed.isEmpty() &&
            !reader->read(channelsOut, std::min(2, dest.getNumChannels()), position, numSamples))
            failed = ffmpeg != nullptr && ffmpeg->getLastError().isNotEmpty()
                         ? ffmpeg->getLastError()
                         : "the audio could not be decoded.";
        else if (failed.isEmpty() && readerRanPastEndOfFile(*reader))
            failed = "the file ends before the length its header gives; it may be cut short.";
        if (failed.isNotEmpty())
            dest.clear(start, numSamples);
        position += numSamples;
    }

    std::unique_ptr<juce::AudioFormatReader> reader;
    FfmpegStreamReader* ffmpeg = nullptr;
    std::unique_ptr<juce::ResamplingAudioSource> resampler;
    const double ratio;
    juce::int64 position = 0;
    juce::String failed;
};

OfflineRenderer::OfflineRenderer(RenderSettings settingsToUse) : settings(settingsToUse)
{
    registerSourceFormats(formats);
}

OfflineRenderer::~OfflineRenderer()
{
    if (processor != nullptr)
    {
        processor->releaseResources();
        processor->setPlayHead(nullptr);
    }
}

int OfflineRenderer::getChannels() const noexcept
{
    return input != nullptr ? input->channels() : 0;
}

double OfflineRenderer::getProcessingRate() const noexcept
{
    if (settings.sampleRate > 0)
        return (double)settings.sampleRate;
    return input != nullptr ? input->fileRate() : 0.0;
}

bool OfflineRenderer::open(const juce::File& file, juce::String& error)
{
    inputFile = file;
    if (!file.exists())
    {
        error = named(file, "no such file.");
        return false;
    }
    if (file.isDirectory())
    {
        error = named(file, "a folder, not an audio file.");
        return false;
    }

    std::unique_ptr<juce::AudioFormatReader> reader;
    juce::String why;
    if (!openSourceReader(formats, file, reader, why))
    {
        error = named(file, why);
        return false;
    }
    if (reader->numChannels < 1 || reader->numChannels > 2)
    {
        error = named(file, "has " + juce::String((int)reader->numChannels) +
                                " channels; only mono and stereo files can be rendered.");
        return false;
    }
    if (reader->lengthInSamples <= 0)
    {
        error = named(file, "contains no audio.");
        return false;
    }
    if (!(reader->sampleRate >= minimumSampleRate && reader->sampleRate <= maximumSampleRate))
    {
        error =
            named(file, "its sample rate of " + juce::String(reader->sampleRate) + " Hz is not supported.");
        return false;
    }
    const double rate = settings.sampleRate > 0 ? (double)settings.sampleRate : reader->sampleRate;
    input = std::make_unique<InputBlocks>(std::move(reader), rate, settings.blockSize);
    return true;
}

bool OfflineRenderer::prepare(SorvaneAudioProcessor& processorToUse, juce::String& error)
{
    if (input == nullptr)
    {
        error = "No input is open.";
        return false;
    }
    processor = &processorToUse;
    const auto set = input->channels() == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add(set);
    layout.outputBuses.add(set);
    if (!processor->setBusesLayout(layout))
    {
        error = named(inputFile, "the processor cannot take this channel layout.");
        return false;
    }

    const double rate = getProcessingRate();
    playHead = std::make_unique<PlayHead>(rate, settings.tempo);
    processor->setPlayHead(playHead.get());
    processor->setNonRealtime(true);
    processor->setRateAndBufferSizeDetails(rate, settings.blockSize);
    processor->prepareToPlay(rate, settings.blockSize);
    return true;
}

bool OfflineRenderer::createWriter(const juce::File& temporary, juce::String& error)
{
    outputStream = std::make_unique<CheckedFileOutputStream>(temporary);
    if (!outputStream->openedOk())
    {
        error = "cannot write in " + temporary.getParentDirectory().getFullPathName() + " (" +
                outputStream->failureReason() + ").";
        outputStream.reset();
        return false;
    }

    const double rate = getProcessingRate();
    const auto channels = (unsigned int)input->channels();
    auto borrowed = borrowStream(*outputStream);
    juce::AudioFormatWriter* created = nullptr;
    if (settings.format == OutputFormat::flac)
        created = juce::FlacAudioFormat().createWriterFor(borrowed.get(), rate, channels, 24, {}, 5);
    else
        created = juce::WavAudioFormat().createWriterFor(
            borrowed.get(), rate, channels, settings.format == OutputFormat::wav32f ? 32 : 24, {}, 0);
    if (created == nullptr)
    {
        error = "this format cannot be written at " + juce::String(rate) + " Hz.";
        return false;
    }
    borrowed.release(); // the writer owns it now
    writer.reset(created);
    return true;
}

bool OfflineRenderer::render(const juce::File& output, const std::atomic<bool>* cancel,
                             std::atomic<float>* progress, RenderResult& result, juce::String& error)
{
    error.clear();
    if (input == nullptr || processor == nullptr)
    {
        error = "The render was not prepared.";
        return false;
    }

    // What a killed render left beside this output would otherwise stay there for good.
    sweepStaleTemporaries(output);
    const auto temporary = temporaryFileBeside(output);
    const auto fail = [&](const juce::String& sentence)
    {
        writer.reset();
        outputStream.reset();
        temporary.deleteFile();
        error = sentence.isEmpty() ? juce::String() : named(output, sentence);
        return false;
    };

    juce::String why;
    if (!createWriter(temporary, why))
        return fail(why);

    const double rate = getProcessingRate();
    const int channels = input->channels();
    const int blockSize = settings.blockSize;
    const auto tailFrames = (juce::int64)std::llround(settings.tailSeconds * rate);
    LoudnessMeter before(rate, channels), after(rate, channels);
    juce::AudioBuffer<float> block(channels, blockSize);
    juce::MidiBuffer midi;

    juce::int64 position = 0;
    for (;;)
    {
        if (cancel != nullptr && cancel->load())
            return fail({});

        const auto inputFrames = input->length();
        const auto total = inputFrames + tailFrames;
        if (position >= total)
            break;
        int frames = (int)std::min<juce::int64>(blockSize, total - position);
        int fromInput = (int)juce::jlimit<juce::int64>(0, frames, inputFrames - position);
        if (fromInput > 0)
        {
            if (!input->read(block, fromInput, why))
            {
                writer.reset();
                outputStream.reset();
                temporary.deleteFile();
                error = named(inputFile, why);
                return false;
            }
            // ffmpeg may only now have found the real end of its stream.
            const auto known = input->length();
            if (known < inputFrames)
            {
                fromInput = (int)juce::jlimit<juce::int64>(0, fromInput, known - position);
                frames = (int)std::min<juce::int64>(frames, known + tailFrames - position);
                if (frames <= 0)
                    break;
            }
        }
        for (int c = 0; c < channels; ++c)
            juce::FloatVectorOperations::clear(block.getWritePointer(c, fromInput), blockSize - fromInput);

        juce::AudioBuffer<float> view(block.getArrayOfWritePointers(), channels, 0, frames);
        before.process(view, fromInput);
        playHead->time = position;
        processor->processBlock(view, midi);

        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < frames; ++i)
                if (!std::isfinite(view.getSample(c, i)))
                    return fail("the processor produced a value that is not a number; nothing was written.");
        after.process(view, frames);

        if (!writer->writeFromAudioSampleBuffer(view, 0, frames))
        {
            const auto reason = outputStream->failureReason();
            fail({});
            error = unwrittenFileSentence(output, reason.isNotEmpty() ? reason : "the encoder failed");
            return false;
        }
        position += frames;
        if (progress != nullptr)
            progress->store(
                (float)((double)position / (double)std::max<juce::int64>(1, input->length() + tailFrames)));
    }

    // Deleting the writer rewrites the header through the stream, which keeps any failure of it.
    writer.reset();
    if (cancel != nullptr && cancel->load())
        return fail({});
    const bool published = publishCheckedFile(*outputStream, temporary, output, error);
    outputStream.reset();
    if (!published)
        return false;

    result.sampleRate = rate;
    result.channels = channels;
    result.frames = position;
    result.seconds = (double)position / rate;
    result.peak = after.samplePeak();
    result.loudnessBefore = before.integratedLufs();
    result.loudnessAfter = after.integratedLufs();
    if (progress != nullptr)
        progress->store(1.0f);
    return true;
}
} // namespace sorvane::render
