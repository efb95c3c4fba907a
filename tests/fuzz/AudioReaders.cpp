// Audio files from anywhere: the first byte picks the extension, the rest is the file. Whatever the
// bytes, a load either publishes a finite, bounded source or refuses with a sentence and publishes
// nothing; no input may crash, hang or touch memory it does not own.
#include "FuzzSupport.h"

#include "transport/SourceLibrary.h"
#include "transport/TransportState.h"

#include <unistd.h>

namespace
{
const char* const extensions[] = {".wav", ".aif", ".flac", ".ogg", ".mp3"};
constexpr int extensionCount = (int)(sizeof(extensions) / sizeof(extensions[0]));

juce::File scratchFolder()
{
    // One folder per process: parallel fuzzing jobs must not share files.
    static const auto folder = []
    {
        auto f = juce::File::getSpecialLocation(juce::File::tempDirectory)
                     .getChildFile("sorvane-fuzz-readers-" + juce::String((int)::getpid()));
        f.createDirectory();
        return f;
    }();
    return folder;
}

void requireSoundSource(const sorvane::LoadedSample& s)
{
    using sorvane::fuzz::require;
    require(s.audio.getNumChannels() >= 1 && s.audio.getNumChannels() <= 2, "a source with 0 or >2 channels");
    require(s.audio.getNumSamples() >= 1, "an empty source was published");
    require(std::isfinite(s.sampleRate) && s.sampleRate > 0.0, "a source without a valid rate");
    for (int c = 0; c < s.audio.getNumChannels(); ++c)
    {
        const float* x = s.audio.getReadPointer(c);
        for (int i = 0; i < s.audio.getNumSamples(); ++i)
            require(std::isfinite(x[i]), "a non-finite sample was published");
    }
    require(std::isfinite(s.traits.confidence) && s.traits.confidence >= 0.0f && s.traits.confidence <= 1.0f,
            "confidence left 0..1");
    // Hyphens belong to words ("low-frequency"); a minus before a digit is a negative figure.
    const auto& summary = s.traits.summary;
    for (int i = 0; i + 1 < summary.length(); ++i)
        require(!(summary[i] == '-' && juce::CharacterFunctions::isDigit(summary[i + 1])),
                "a summary with a negative figure");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace sorvane::fuzz;
    ensureJuce();
    if (size < 1)
        return 0;

    const auto file =
        scratchFolder().getChildFile(juce::String("input") + extensions[data[0] % extensionCount]);
    file.replaceWithData(data + 1, size - 1);

    sorvane::TransportState transport;
    sorvane::SourceLibrary library(transport, [] {});

    juce::String error;
    const auto estimate = library.preflight(file, error);
    juce::String requestError;
    if (!library.requestLoad(file, requestError, false))
    {
        require(estimate.policy == sorvane::SampleLoadPolicy::REJECT_FOR_BOUNDED_MEMORY,
                "a load the preflight accepted was refused");
        require(requestError.isNotEmpty() && requestError == error, "a refusal without its sentence");
        require(library.getCurrentSample() == nullptr, "a refused load published");
    }
    else
    {
        sorvane::CreatorPreparationSnapshot s;
        do
        {
            juce::Thread::yield();
            s = library.snapshot();
        } while (s.state < (int)sorvane::PreparationState::Published);

        const auto sample = library.getCurrentSample();
        if (s.state == (int)sorvane::PreparationState::Published)
        {
            require(sample != nullptr, "published without a source");
            requireSoundSource(*sample);
            require((std::uint64_t)sample->audio.getNumSamples() *
                            (std::uint64_t)sample->audio.getNumChannels() * 4u <=
                        estimate.decodedBytes,
                    "the source outgrew its estimate");
        }
        else
        {
            require(s.state == (int)sorvane::PreparationState::Failed,
                    "a load ended neither published nor failed");
            require(s.message.isNotEmpty(), "a failure without a sentence");
            require(sample == nullptr, "a failed load published");
        }
    }
    file.deleteFile();
    return 0;
}

namespace
{
juce::AudioBuffer<float> seedTone(int channels, int frames, double rate)
{
    juce::AudioBuffer<float> audio(channels, frames);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i)
            audio.setSample(
                c, i, 0.4f * (float)std::sin(2.0 * juce::MathConstants<double>::pi * 330.0 * i / rate + c));
    return audio;
}

juce::MemoryBlock withSelector(int extensionIndex, const juce::MemoryBlock& fileBytes)
{
    juce::MemoryBlock seed;
    const char selector = (char)extensionIndex;
    seed.append(&selector, 1);
    seed.append(fileBytes.getData(), fileBytes.getSize());
    return seed;
}

juce::MemoryBlock encode(juce::AudioFormat& format, int channels, int frames, int bits, int quality)
{
    const double rate = 22050.0;
    juce::MemoryBlock bytes;
    {
        auto* stream = new juce::MemoryOutputStream(bytes, false);
        std::unique_ptr<juce::AudioFormatWriter> writer(
            format.createWriterFor(stream, rate, (unsigned)channels, bits, {}, quality));
        if (writer == nullptr)
        {
            delete stream;
            return {};
        }
        writer->writeFromAudioSampleBuffer(seedTone(channels, frames, rate), 0, frames);
    }
    return bytes;
}

juce::MemoryBlock ffmpegMp3(const juce::File& wav, const juce::File& mp3, const juce::StringArray& codec)
{
    juce::StringArray args{"ffmpeg", "-nostdin", "-y", "-v", "error", "-i", wav.getFullPathName()};
    args.addArray(codec);
    args.add(mp3.getFullPathName());
    juce::ChildProcess ffmpeg;
    juce::MemoryBlock bytes;
    if (ffmpeg.start(args) && ffmpeg.waitForProcessToFinish(60000))
        mp3.loadFileAsData(bytes);
    return bytes;
}
} // namespace

void sorvaneFuzzWriteSeeds(const juce::File& folder)
{
    using sorvane::fuzz::writeSeed;
    juce::WavAudioFormat wav;
    juce::AiffAudioFormat aiff;
    juce::FlacAudioFormat flac;
    juce::OggVorbisAudioFormat ogg;

    writeSeed(folder, "mono16.wav", withSelector(0, encode(wav, 1, 3000, 16, 0)));
    writeSeed(folder, "stereo24.wav", withSelector(0, encode(wav, 2, 2000, 24, 0)));
    writeSeed(folder, "float32.wav", withSelector(0, encode(wav, 2, 2000, 32, 0)));
    writeSeed(folder, "stereo16.aif", withSelector(1, encode(aiff, 2, 2000, 16, 0)));
    writeSeed(folder, "mono24.flac", withSelector(2, encode(flac, 1, 3000, 24, 0)));
    writeSeed(folder, "stereo16.flac", withSelector(2, encode(flac, 2, 3000, 16, 0)));
    writeSeed(folder, "stereo.ogg", withSelector(3, encode(ogg, 2, 6000, 16, 2)));
    writeSeed(folder, "mono.ogg", withSelector(3, encode(ogg, 1, 6000, 16, 0)));

    // A float WAV whose samples include NaN and infinity.
    {
        juce::MemoryBlock bytes = encode(wav, 1, 64, 32, 0);
        auto* samples = static_cast<float*>(bytes.getData()) + (bytes.getSize() / sizeof(float)) - 4;
        samples[0] = std::numeric_limits<float>::quiet_NaN();
        samples[1] = std::numeric_limits<float>::infinity();
        writeSeed(folder, "nonfinite.wav", withSelector(0, bytes));
    }

    const auto temp = scratchFolder().getChildFile("seed.wav");
    const auto wavBytes = encode(wav, 2, 4000, 16, 0);
    temp.replaceWithData(wavBytes.getData(), wavBytes.getSize());
    const auto mp3 = scratchFolder().getChildFile("seed.mp3");
    writeSeed(folder, "cbr.mp3", withSelector(4, ffmpegMp3(temp, mp3, {"-b:a", "64k"})));
    writeSeed(folder, "vbr-mono.mp3", withSelector(4, ffmpegMp3(temp, mp3, {"-ac", "1", "-q:a", "6"})));
    writeSeed(
        folder, "no-info-tag.mp3",
        withSelector(4, ffmpegMp3(temp, mp3, {"-b:a", "32k", "-write_xing", "0", "-id3v2_version", "0"})));
    temp.deleteFile();
    mp3.deleteFile();
}
