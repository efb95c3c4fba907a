// ffprobe's JSON report of a user's file: whatever it holds, it is read into a sane stream description
// or refused with a sentence.
#include "FuzzSupport.h"

#include "transport/SourceReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace sorvane::fuzz;
    ensureJuce();

    sorvane::ProbedStream stream;
    juce::String error;
    if (!sorvane::parseProbeOutput(reinterpret_cast<const char*>(data), size, stream, error))
    {
        require(error.isNotEmpty(), "a refusal without a sentence");
        require(stream.channels == 0 && stream.sampleRate == 0.0, "a refusal filled in the stream");
        return 0;
    }

    require(stream.sampleRate > 0.0 && stream.sampleRate <= 1.0e6, "an impossible rate was accepted");
    require(stream.channels >= 1 && stream.channels <= 64, "an impossible channel count was accepted");
    require(std::isfinite(stream.seconds) && stream.seconds > 0.0, "an impossible duration was accepted");
    return 0;
}

void sorvaneFuzzWriteSeeds(const juce::File& folder)
{
    using sorvane::fuzz::writeSeed;
    // What the real ffprobe prints for the query the reader makes, for files the product writes.
    auto wav = folder.getChildFile("probe-input.wav");
    {
        juce::WavAudioFormat format;
        std::unique_ptr<juce::AudioFormatWriter> writer(
            format.createWriterFor(new juce::FileOutputStream(wav), 48000.0, 2, 24, {}, 0));
        juce::AudioBuffer<float> buffer(2, 4800);
        buffer.clear();
        if (writer != nullptr)
            writer->writeFromAudioSampleBuffer(buffer, 0, buffer.getNumSamples());
    }
    const auto ffprobe = sorvane::findProgramOnPath("ffprobe");
    if (ffprobe != juce::File())
    {
        juce::ChildProcess probe;
        if (probe.start(juce::StringArray{ffprobe.getFullPathName(), "-v", "error", "-select_streams", "a:0",
                                          "-show_entries",
                                          "stream=sample_rate,channels,duration:format=duration", "-of",
                                          "json", wav.getFullPathName()}))
            writeSeed(folder, "ffprobe-wav.json", probe.readAllProcessOutput());
    }
    wav.deleteFile();

    writeSeed(folder, "stereo.json",
              juce::String(
                  R"({"programs":[],"streams":[{"sample_rate":"44100","channels":2,"duration":"5.000000"}],)"
                  R"("format":{"duration":"5.000000"}})"));
    writeSeed(
        folder, "format-duration-only.json",
        juce::String(R"({"streams":[{"sample_rate":"48000","channels":1}],"format":{"duration":"12.5"}})"));
    writeSeed(folder, "no-streams.json", juce::String(R"({"streams":[],"format":{}})"));
}
