#include "transport/SourceReader.h"

#include "processor/SafeXml.h"
#include "transport/RegularFile.h"
#include "transport/SourceFormats.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <limits>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace sorvane
{
namespace
{
// A decoder that sends nothing for this long is treated as hung and killed.
constexpr int stallTimeoutMilliseconds = 20000;
constexpr int scratchFrames = 4096;
constexpr size_t probeOutputLimit = 1 << 20;

// Container durations miss codec padding by up to a frame or two; ADTS has no duration at all and
// ffprobe estimates it from the bit rate, so it gets a proportional margin as well.
constexpr juce::int64 lengthMarginFrames = 8192;
constexpr double adtsLengthMargin = 0.05;

const char* const basicHeaderMessage = "Sorvane could not read this audio file header.";
const char* const probeFailedMessage =
    "ffprobe could not read this M4A, AAC or Opus file; it may be damaged or not audio at all.";
} // namespace

// One child process with its stdout on a pipe, stdin and stderr on /dev/null. Spawned directly
// (no shell), killed and reaped on destruction so no zombie or orphan outlives its owner.
class ChildDecoderProcess
{
public:
    ~ChildDecoderProcess()
    {
        if (readFd >= 0)
            ::close(readFd);
        if (pid > 0)
        {
            ::kill(pid, SIGKILL);
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR)
            {
            }
        }
    }

    bool start(const juce::StringArray& arguments)
    {
        int fds[2];
        // Close-on-exec so a decoder started on another thread cannot inherit this pipe.
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

        // The child must not inherit a blocked signal mask or an ignored SIGPIPE from this process.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none, defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

        std::vector<char*> argv;
        for (auto& a : arguments)
            argv.push_back(const_cast<char*>(a.toRawUTF8()));
        argv.push_back(nullptr);

        pid_t child = 0;
        const int result = posix_spawn(&child, argv[0], &actions, &attributes, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(fds[1]);

        if (result != 0)
        {
            ::close(fds[0]);
            return false;
        }
        pid = child;
        readFd = fds[0];
        return true;
    }

    // Fills `bytes` completely unless the stream ends first. Returns the count read, or -1 when the
    // pipe failed or the child stalled.
    ssize_t readFully(char* dest, size_t bytes)
    {
        size_t done = 0;
        while (done < bytes)
        {
            pollfd p{readFd, POLLIN, 0};
            const int ready = ::poll(&p, 1, stallTimeoutMilliseconds);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return -1;
            const ssize_t n = ::read(readFd, dest + done, bytes - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return -1;
            if (n == 0)
                break;
            done += (size_t)n;
        }
        return (ssize_t)done;
    }

    // After the end of stdout: reaps the child and says whether it exited cleanly.
    bool finishedCleanly()
    {
        if (readFd >= 0)
        {
            ::close(readFd);
            readFd = -1;
        }
        if (pid <= 0)
            return false;

        // A child that closed stdout but keeps running is not waited for forever.
        int status = 0;
        const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32)stallTimeoutMilliseconds;
        for (;;)
        {
            const pid_t r = ::waitpid(pid, &status, WNOHANG);
            if (r == pid)
                break;
            if (r < 0 && errno != EINTR)
            {
                pid = 0;
                return false;
            }
            if (juce::Time::getMillisecondCounter() > deadline)
            {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                pid = 0;
                return false;
            }
            juce::Thread::sleep(2);
        }
        pid = 0;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    int processId() const noexcept { return (int)pid; }

private:
    pid_t pid = 0;
    int readFd = -1;
};

juce::String ffmpegMissingMessage()
{
    return "M4A, AAC and Opus sources need the ffmpeg program; install it (Debian package ffmpeg) and try "
           "again.";
}

bool needsFfmpegDecoder(const juce::File& file)
{
    return file.hasFileExtension(".m4a;.aac;.opus");
}

juce::File findProgramOnPath(const juce::String& name)
{
    const auto path = juce::SystemStats::getEnvironmentVariable("PATH", {});
    for (auto& folder : juce::StringArray::fromTokens(path, ":", {}))
    {
        if (!juce::File::isAbsolutePath(folder))
            continue; // relative PATH entries would depend on the working folder
        auto candidate = juce::File(folder).getChildFile(name);
        if (candidate.existsAsFile() && ::access(candidate.getFullPathName().toRawUTF8(), X_OK) == 0)
            return candidate;
    }
    return {};
}

namespace
{
// ffmpeg reads "name:rest" as a protocol; the explicit file protocol keeps odd names plain files.
juce::String ffmpegInput(const juce::File& file)
{
    return "file:" + file.getFullPathName();
}

double parseSeconds(const juce::var& value)
{
    const auto text = value.toString().trim();
    if (text.isEmpty() || !text.containsOnly("0123456789.eE+-"))
        return 0.0;
    const double seconds = text.getDoubleValue();
    return std::isfinite(seconds) && seconds > 0.0 ? seconds : 0.0;
}

// JUCE's JSON parser recurses once per level.
bool nestingWithin(const char* bytes, std::size_t size, int maxDepth)
{
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < size; ++i)
    {
        const char c = bytes[i];
        if (inString)
        {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        }
        else if (c == '"')
            inString = true;
        else if (c == '{' || c == '[')
        {
            if (++depth > maxDepth)
                return false;
        }
        else if (c == '}' || c == ']')
            --depth;
    }
    return true;
}
} // namespace

bool parseProbeOutput(const char* bytes, std::size_t size, ProbedStream& stream, juce::String& error)
{
    if (size > probeOutputLimit || !isStrictUtf8(bytes, size) || !nestingWithin(bytes, size, 32))
    {
        error = probeFailedMessage;
        return false;
    }

    const auto json = juce::JSON::parse(juce::String::fromUTF8(bytes, (int)size));
    const auto* streams = json.getProperty("streams", {}).getArray();
    if (streams == nullptr || streams->isEmpty())
    {
        error = "This file contains no audio stream that ffmpeg can decode.";
        return false;
    }

    ProbedStream parsed;
    const auto& s = streams->getReference(0);
    parsed.sampleRate = s.getProperty("sample_rate", {}).toString().getDoubleValue();
    const auto channels = s.getProperty("channels", 0);
    parsed.channels = channels.isInt() || channels.isInt64()
                          ? (int)juce::jlimit((juce::int64)0, (juce::int64)1000, (juce::int64)channels)
                          : 0;
    parsed.seconds = parseSeconds(s.getProperty("duration", {}));
    if (parsed.seconds <= 0.0)
        parsed.seconds = parseSeconds(json.getProperty("format", {}).getProperty("duration", {}));

    if (!(parsed.sampleRate > 0.0 && parsed.sampleRate <= 1.0e6) || parsed.channels < 1 ||
        parsed.channels > 64 || !(parsed.seconds > 0.0 && parsed.seconds < 1.0e9))
    {
        error = "The audio header does not contain a valid duration, rate, or channel count.";
        return false;
    }
    stream = parsed;
    return true;
}

namespace
{
bool probeStream(const juce::File& ffprobe, const juce::File& file, ProbedStream& stream, juce::String& error)
{
    ChildDecoderProcess probe;
    if (!probe.start({ffprobe.getFullPathName(), "-v", "error", "-select_streams", "a:0", "-show_entries",
                      "stream=sample_rate,channels,duration:format=duration", "-of", "json",
                      ffmpegInput(file)}))
    {
        error = ffmpegMissingMessage();
        return false;
    }

    std::string output(probeOutputLimit, '\0');
    const auto got = probe.readFully(output.data(), output.size());
    if (got < 0 || (size_t)got == output.size() || !probe.finishedCleanly())
    {
        error = probeFailedMessage;
        return false;
    }
    output.resize((size_t)got);
    return parseProbeOutput(output.data(), output.size(), stream, error);
}
} // namespace

namespace
{
// Passes a file stream through to a format reader and notes whether the decoder wanted bytes the
// file does not have.
class EndWatchingStream : public juce::InputStream
{
public:
    enum class Watch
    {
        // PCM readers ask for exactly the bytes the header promises: any short read means a cut file.
        shortReads,
        // libFLAC reads ahead in chunks that come back short at the end of a good file too, but it
        // asks whether the stream is used up only when it needs more bytes to finish a frame.
        endQueries,
        // Ogg and MP3 probe the end of good files as well; their own readers fail a read that runs
        // dry before the announced length.
        nothing
    };

    EndWatchingStream(std::unique_ptr<juce::InputStream> sourceToUse, Watch watchToUse)
        : source(std::move(sourceToUse)), watch(watchToUse)
    {
    }

    juce::int64 getTotalLength() override { return source->getTotalLength(); }
    juce::int64 getPosition() override { return source->getPosition(); }
    bool setPosition(juce::int64 position) override { return source->setPosition(position); }

    bool isExhausted() override
    {
        const bool exhausted = source->isExhausted();
        if (exhausted && watch == Watch::endQueries)
            ranPastEnd = true;
        return exhausted;
    }

    int read(void* dest, int bytes) override
    {
        const int got = source->read(dest, bytes);
        if (bytes > 0 && got < bytes && watch == Watch::shortReads)
            ranPastEnd = true;
        return got;
    }

    bool ranPastEnd = false;

private:
    std::unique_ptr<juce::InputStream> source;
    const Watch watch;
};

EndWatchingStream::Watch watchFor(juce::AudioFormat* format)
{
    if (dynamic_cast<juce::WavAudioFormat*>(format) != nullptr ||
        dynamic_cast<juce::AiffAudioFormat*>(format) != nullptr)
        return EndWatchingStream::Watch::shortReads;
    if (dynamic_cast<juce::FlacAudioFormat*>(format) != nullptr)
        return EndWatchingStream::Watch::endQueries;
    return EndWatchingStream::Watch::nothing;
}
} // namespace

bool readerRanPastEndOfFile(const juce::AudioFormatReader& reader)
{
    const auto* stream = dynamic_cast<const EndWatchingStream*>(reader.input);
    return stream != nullptr && stream->ranPastEnd;
}

bool openSourceReader(juce::AudioFormatManager& formats, const juce::File& file,
                      std::unique_ptr<juce::AudioFormatReader>& reader, juce::String& error)
{
    reader.reset();
    error.clear();

    if (!file.exists())
    {
        error = basicHeaderMessage;
        return false;
    }
    if (!checkRegularFile(file, error))
        return false;

    if (!needsFfmpegDecoder(file))
    {
        // As AudioFormatManager::createReaderFor(File) does: only formats that claim the extension.
        for (int i = 0; i < formats.getNumKnownFormats() && reader == nullptr; ++i)
        {
            auto* format = formats.getKnownFormat(i);
            if (!format->canHandleFile(file))
                continue;
            auto fileStream = openRegularFile(file, error);
            if (fileStream == nullptr)
                return false;
            auto watched = std::make_unique<EndWatchingStream>(std::move(fileStream), watchFor(format));
            auto* watch = watched.get();
            reader.reset(format->createReaderFor(watched.release(), true));
            // Header parsing may legitimately scan to the end (FLAC without a stored length).
            if (reader != nullptr)
                watch->ranPastEnd = false;
        }
        if (reader == nullptr)
        {
            error = basicHeaderMessage;
            return false;
        }
        return true;
    }

    const auto ffmpeg = findProgramOnPath("ffmpeg");
    const auto ffprobe = findProgramOnPath("ffprobe");
    if (ffmpeg == juce::File() || ffprobe == juce::File())
    {
        error = ffmpegMissingMessage();
        return false;
    }

    ProbedStream stream;
    if (!probeStream(ffprobe, file, stream, error))
        return false;

    const double frames = std::ceil(stream.seconds * stream.sampleRate);
    const double margin =
        (double)lengthMarginFrames + (file.hasFileExtension(".aac") ? frames * adtsLengthMargin : 0.0);
    if (frames + margin > (double)std::numeric_limits<juce::int64>::max() / 2)
    {
        error = "The audio header does not contain a valid duration, rate, or channel count.";
        return false;
    }

    reader = std::make_unique<FfmpegStreamReader>(file, ffmpeg, stream.sampleRate, stream.channels,
                                                  (juce::int64)(frames + margin));
    return true;
}

FfmpegStreamReader::FfmpegStreamReader(const juce::File& file, const juce::File& ffmpegProgram, double rate,
                                       int channels, juce::int64 lengthBound)
    : juce::AudioFormatReader(nullptr, "ffmpeg stream"), sourceFile(file), ffmpeg(ffmpegProgram)
{
    sampleRate = rate;
    numChannels = (unsigned int)channels;
    lengthInSamples = lengthBound;
    bitsPerSample = 32;
    usesFloatingPointData = true;
    scratch.allocate((size_t)scratchFrames * (size_t)channels, true);
}

FfmpegStreamReader::~FfmpegStreamReader() = default;

int FfmpegStreamReader::getDecoderProcessId() const noexcept
{
    return decoder != nullptr ? decoder->processId() : 0;
}

bool FfmpegStreamReader::startDecoder()
{
    stopDecoder();
    position = 0;
    decoder = std::make_unique<ChildDecoderProcess>();
    // The rate and channel count are pinned to what the probe reported, so the stream always matches
    // the header this reader announced.
    if (!decoder->start({ffmpeg.getFullPathName(),
                         "-nostdin",
                         "-hide_banner",
                         "-v",
                         "error",
                         "-i",
                         ffmpegInput(sourceFile),
                         "-map",
                         "0:a:0",
                         "-vn",
                         "-sn",
                         "-dn",
                         "-ac",
                         juce::String((int)numChannels),
                         "-ar",
                         juce::String(juce::roundToInt(sampleRate)),
                         "-c:a",
                         "pcm_f32le",
                         "-f",
                         "f32le",
                         "pipe:1"}))
    {
        decoder.reset();
        lastError = ffmpegMissingMessage();
        return false;
    }
    return true;
}

void FfmpegStreamReader::stopDecoder()
{
    decoder.reset();
}

bool FfmpegStreamReader::pullFrames(int* const* dest, int numDestChannels, int destOffset, int numFrames,
                                    int& framesRead)
{
    framesRead = 0;
    const int channels = (int)numChannels;
    const size_t frameBytes = sizeof(float) * (size_t)channels;

    while (framesRead < numFrames)
    {
        const int want = std::min(scratchFrames, numFrames - framesRead);
        const auto got =
            decoder->readFully(reinterpret_cast<char*>(scratch.get()), frameBytes * (size_t)want);
        if (got < 0)
        {
            lastError = "The ffmpeg decoder stopped responding; the file could not be decoded.";
            stopDecoder();
            return false;
        }

        const int frames = (int)((size_t)got / frameBytes);
        if (dest != nullptr)
            for (int c = 0; c < numDestChannels; ++c)
                if (dest[c] != nullptr && c < channels)
                {
                    auto* out = reinterpret_cast<float*>(dest[c]) + destOffset + framesRead;
                    for (int i = 0; i < frames; ++i)
                        out[i] = scratch[(size_t)i * (size_t)channels + (size_t)c];
                }
        framesRead += frames;
        position += frames;

        if (frames < want)
        {
            // End of the stream: only a clean exit makes the frames delivered so far the whole file.
            const bool clean = decoder->finishedCleanly();
            stopDecoder();
            if (!clean)
            {
                lastError = "ffmpeg could not decode this file; it may be damaged or truncated.";
                return false;
            }
            decodedFrameCount = position;
            return true;
        }
    }
    return true;
}

bool FfmpegStreamReader::readSamples(int* const* destSamples, int numDestChannels,
                                     int startOffsetInDestBuffer, juce::int64 startSampleInFile,
                                     int numSamples)
{
    lastError.clear();

    // Whatever is not decoded below (past the real end, past the bound, extra channels) is silence.
    for (int c = 0; c < numDestChannels; ++c)
        if (destSamples[c] != nullptr)
            juce::FloatVectorOperations::clear(
                reinterpret_cast<float*>(destSamples[c]) + startOffsetInDestBuffer, numSamples);

    if (startSampleInFile < 0)
    {
        const auto skip = (int)std::min<juce::int64>(-startSampleInFile, numSamples);
        startOffsetInDestBuffer += skip;
        numSamples -= skip;
        startSampleInFile = 0;
    }

    juce::int64 end = std::min(startSampleInFile + numSamples, lengthInSamples);
    if (decodedFrameCount >= 0)
        end = std::min(end, decodedFrameCount);
    if (end <= startSampleInFile)
        return true;

    if (decoder == nullptr || startSampleInFile < position)
        if (!startDecoder())
            return false;

    int got = 0;
    if (startSampleInFile > position)
    {
        // Forward seek: decode and drop, in scratch-sized steps so memory stays fixed.
        while (position < startSampleInFile && decoder != nullptr)
            if (!pullFrames(nullptr, 0, 0, (int)std::min<juce::int64>(startSampleInFile - position, 1 << 20),
                            got))
                return false;
        if (decoder == nullptr)
            return true; // the stream ended before the requested start
    }

    return pullFrames(destSamples, numDestChannels, startOffsetInDestBuffer, (int)(end - startSampleInFile),
                      got);
}
} // namespace sorvane
