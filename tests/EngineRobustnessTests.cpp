#include "EngineTestSupport.h"
#include "TestSupport.h"

#include "presets/FactoryPresets.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

using namespace sorvane;

namespace
{
constexpr double rate = 48000;
constexpr int blockSize = 512;
constexpr int numBlocks = 48; // half a second: slice clocks, delay taps and level matching all move

std::uint32_t bitsOf(float x)
{
    std::uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// FNV-1a 64 over each sample's four little-endian bytes, channel 0 then 1 per block.
struct OutputHash
{
    std::uint64_t value = 0xcbf29ce484222325ull;

    void add(const juce::AudioBuffer<float>& block)
    {
        for (int ch = 0; ch < block.getNumChannels(); ++ch)
            for (int i = 0; i < block.getNumSamples(); ++i)
            {
                const auto bits = bitsOf(block.getSample(ch, i));
                for (int k = 0; k < 4; ++k)
                {
                    value ^= (bits >> (8 * k)) & 0xffu;
                    value *= 0x100000001b3ull;
                }
            }
    }
};

std::unique_ptr<SorvaneAudioProcessor> preparedProgram(int program)
{
    auto processor = test::makeProcessor();
    processor->setCurrentProgram(program);
    processor->prepareToPlay(rate, blockSize);
    return processor;
}

// The deterministic stereo test signal, block by block.
struct TestSource
{
    std::vector<float> left = test::testSignal(numBlocks * blockSize, rate, 0);
    std::vector<float> right = test::testSignal(numBlocks * blockSize, rate, 1);

    void fill(juce::AudioBuffer<float>& block, int index) const
    {
        for (int i = 0; i < blockSize; ++i)
        {
            block.setSample(0, i, left[(size_t)(index * blockSize + i)]);
            block.setSample(1, i, right[(size_t)(index * blockSize + i)]);
        }
    }
};

std::uint64_t programOutputHash(int program, const TestSource& source)
{
    auto processor = preparedProgram(program);
    juce::AudioBuffer<float> block(2, blockSize);
    juce::MidiBuffer midi;
    OutputHash hash;
    for (int b = 0; b < numBlocks; ++b)
    {
        source.fill(block, b);
        processor->processBlock(block, midi);
        hash.add(block);
    }
    return hash.value;
}
} // namespace

// Recorded from the engine before the hostile-input guards went in: for ordinary audio every program's
// output must stay bit for bit what it was.
TEST(EngineRobustness, FactoryProgramOutputIsUnchangedForOrdinaryInput)
{
    static constexpr std::uint64_t expected[numFactoryPrograms] = {
        0x94ba131402537132ull, 0x7a3697f144b45fbeull, 0x819747546d2511e3ull, 0x5f33dd5b4eeab4d0ull,
        0xcfdf7f3cde54c4c6ull, 0x8dde46b774f2a93eull, 0x992b920dda4e53feull, 0xf56264c56bdd45f9ull,
        0xc24ad23f2ae978cull,  0x5be47ae4fa9b5f0cull, 0x6a5cea4d21f03b50ull, 0xd980b281ba7853b7ull,
        0x99a2d9218f4c2cf2ull, 0x7255316f7ea23885ull, 0x155e366f3ff3000full, 0xbd312551b3569cd4ull,
        0xf13e4f3efef2c849ull, 0xd6d522d7109557c3ull, 0xbb0f82bc04ee1a98ull, 0x6e4d727bbacf6620ull,
        0x263d9d3d754fc312ull, 0x21f38ff26b805ee4ull, 0xfc0723b5154fb863ull, 0x89f1687d321cecb9ull,
        0xc9767948a44587f2ull, 0xbfbe729dea11df11ull, 0x968421f3aafc8594ull, 0xb1bdc91ccba65ccdull,
        0x6963a77a544bd4ebull, 0x5b62c1af7e36935dull, 0x4020fb5fbcbf73full,  0x5f310b670e9a22e5ull,
        0x36f31058337fc585ull, 0x196ec81500d0a5e7ull, 0xc2e61a916ff3238eull, 0x6d6c1925d66a77feull,
        0xb6c743251c1a716eull};
    const TestSource source;
    for (int program = 0; program < numFactoryPrograms; ++program)
    {
        const auto hash = programOutputHash(program, source);
        EXPECT_EQ(hash, expected[program]) << "program " << program << ": 0x" << std::hex << hash << "ull";
    }
}

namespace
{
constexpr int blocksBefore = 4, blocksAfter = 4;
constexpr int hostileBlock = blocksBefore;

enum class Spread
{
    fewSamples, // both channels, one channel, and the block's first and last samples
    wholeBlock
};

struct HostileCase
{
    const char* name;
    float value;
    Spread spread;
    bool discarded; // taken as silence, or processed as (very loud) audio
};

bool isHostileSample(Spread spread, int channel, int i)
{
    if (spread == Spread::wholeBlock)
        return true;
    return i == 0 || i == 100 || (channel == 0 && i == 300) || (channel == 1 && i == blockSize - 1);
}

// The program's output over the test signal, with the chosen samples of one block replaced.
std::vector<juce::AudioBuffer<float>> runWithHostileBlock(int program, const TestSource& source, float value,
                                                          Spread spread)
{
    auto processor = preparedProgram(program);
    juce::MidiBuffer midi;
    std::vector<juce::AudioBuffer<float>> out;
    for (int b = 0; b < blocksBefore + 1 + blocksAfter; ++b)
    {
        juce::AudioBuffer<float> block(2, blockSize);
        source.fill(block, b);
        if (b == hostileBlock)
            for (int ch = 0; ch < 2; ++ch)
                for (int i = 0; i < blockSize; ++i)
                    if (isHostileSample(spread, ch, i))
                        block.setSample(ch, i, (ch == 1 && i % 2 == 1 && value != 0.0f) ? -value : value);
        processor->processBlock(block, midi);
        out.push_back(std::move(block));
    }
    return out;
}
// Checks the output from the hostile block on; returns at the first fault so every case reports.
void expectRecovered(const HostileCase& c, const std::vector<juce::AudioBuffer<float>>& out,
                     const std::vector<juce::AudioBuffer<float>>& zeroed)
{
    bool differsFromSilence = false;
    for (int b = hostileBlock; b < (int)out.size(); ++b)
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < blockSize; ++i)
            {
                const float y = out[(size_t)b].getSample(ch, i);
                const float reference = zeroed[(size_t)b].getSample(ch, i);
                ASSERT_TRUE(std::isfinite(y)) << "block " << b << " channel " << ch << " sample " << i;
                if (c.discarded)
                    ASSERT_EQ(bitsOf(y), bitsOf(reference))
                        << "block " << b << " channel " << ch << " sample " << i;
                // +24 dB of level gain and +12 dB of result trim on a signal within full scale
                else if (b > hostileBlock)
                    ASSERT_LE(std::abs(y), 64.0f) << "block " << b << " channel " << ch << " sample " << i;
                differsFromSilence = differsFromSilence || y != reference;
            }
    if (!c.discarded)
        EXPECT_TRUE(differsFromSilence) << "a loud but finite sample must be processed, not dropped";
}
} // namespace

TEST(EngineRobustness, HostileInputNeverPoisonsTheOutputOfAnyProgram)
{
    constexpr float inf = std::numeric_limits<float>::infinity();
    const HostileCase cases[] = {
        {"1e20", 1e20f, Spread::fewSamples, true},
        {"just past the square's overflow", 1.9e19f, Spread::fewSamples, true},
        {"largest float", std::numeric_limits<float>::max(), Spread::fewSamples, true},
        {"infinity", inf, Spread::fewSamples, true},
        {"NaN", std::numeric_limits<float>::quiet_NaN(), Spread::fewSamples, true},
        {"1e20 for a whole block", 1e20f, Spread::wholeBlock, true},
        {"+60 dBFS, loud but audio", 1000.0f, Spread::fewSamples, false},
    };
    const TestSource source;
    for (int program = 0; program < numFactoryPrograms; ++program)
    {
        const auto zeroedFew = runWithHostileBlock(program, source, 0.0f, Spread::fewSamples);
        const auto zeroedWhole = runWithHostileBlock(program, source, 0.0f, Spread::wholeBlock);
        for (const auto& c : cases)
        {
            SCOPED_TRACE(testing::Message() << "program " << program << ", " << c.name);
            expectRecovered(c, runWithHostileBlock(program, source, c.value, c.spread),
                            c.spread == Spread::wholeBlock ? zeroedWhole : zeroedFew);
        }
    }
}

// Settings far outside every parameter's range can still overflow a gain inside the chain; the engine
// mutes what it cannot compute and is a fresh engine again from the next block.
TEST(EngineRobustness, StateThatTurnsNonFiniteIsClearedWithinOneBlock)
{
    const auto sane = test::everyStageActive();
    auto absurd = sane;
    absurd.inputDb = 1000.0f; // a finite setting whose gain overflows to infinity
    const auto left = test::testSignal(4 * blockSize, rate, 0);
    const auto right = test::testSignal(4 * blockSize, rate, 1);

    SorvaneEngine engine, fresh;
    engine.prepare(rate, 2, blockSize);
    fresh.prepare(rate, 2, blockSize);
    for (int b = 0; b < 4; ++b)
    {
        const std::vector<float> l(left.begin() + b * blockSize, left.begin() + (b + 1) * blockSize);
        const std::vector<float> r(right.begin() + b * blockSize, right.begin() + (b + 1) * blockSize);
        auto block = test::bufferFrom(l, r);
        engine.process(block, b == 0 ? absurd : sane, 120);
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < blockSize; ++i)
                ASSERT_TRUE(std::isfinite(block.getSample(ch, i))) << "block " << b << " sample " << i;
        if (b == 0)
            continue;
        auto reference = test::bufferFrom(l, r);
        fresh.process(reference, sane, 120);
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < blockSize; ++i)
                ASSERT_EQ(bitsOf(block.getSample(ch, i)), bitsOf(reference.getSample(ch, i)))
                    << "block " << b << " channel " << ch << " sample " << i;
        EXPECT_TRUE(std::isfinite(engine.getMeters().levelGain));
    }
}
