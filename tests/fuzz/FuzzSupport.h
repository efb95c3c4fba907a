#pragma once

// Shared by the fuzz targets. Each target defines LLVMFuzzerTestOneInput (the input under test) and
// sorvaneFuzzWriteSeeds (a seed corpus made by the product's own writers). The same source builds as a
// libFuzzer program with clang and as a replay program with any compiler.
#include <juce_audio_processors/juce_audio_processors.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Writes the target's seed inputs into an existing folder.
void sorvaneFuzzWriteSeeds(const juce::File& folder);

namespace sorvane::fuzz
{
// JUCE's message manager, created once and kept to the end of the process: the fuzzer ends with
// exit(), and shutting JUCE down from a static destructor races its own singletons.
inline void ensureJuce()
{
    // Processors scan the user's preset folder and write the preset index: never the real home's.
    static const bool homeMoved = []
    {
        const auto home = juce::File::getSpecialLocation(juce::File::tempDirectory)
                              .getChildFile("sorvane-fuzz-home-" + juce::String((int)::getpid()));
        home.createDirectory();
        ::setenv("HOME", home.getFullPathName().toRawUTF8(), 1);
        return true;
    }();
    juce::ignoreUnused(homeMoved);
    static auto* juce = new juce::ScopedJuceInitialiser_GUI();
    juce::ignoreUnused(juce);
}

// A broken invariant is a finding: abort so that the fuzzer keeps the input and the replay test fails.
[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

inline void require(bool condition, const char* what)
{
    if (!condition)
        fail(what);
}

inline void writeSeed(const juce::File& folder, const juce::String& name, const juce::MemoryBlock& bytes)
{
    folder.getChildFile(name).replaceWithData(bytes.getData(), bytes.getSize());
}

inline void writeSeed(const juce::File& folder, const juce::String& name, const juce::String& text)
{
    folder.getChildFile(name).replaceWithText(text, false, false, nullptr);
}

// Every parameter finite and inside its range, as a host or a save would see it.
inline void requireSoundParameters(juce::AudioProcessor& processor)
{
    for (auto* p : processor.getParameters())
    {
        const auto v = p->getValue();
        require(std::isfinite(v) && v >= 0.0f && v <= 1.0f, "a parameter left its range");
    }
}
} // namespace sorvane::fuzz
