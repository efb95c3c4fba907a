#include "EngineTestSupport.h"

#include "dsp/EngineRandom.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace sorvane;
using sorvane::test::neutralSettings;

namespace
{
// The reference MT19937 (Matsumoto and Nishimura's init_genrand and genrand_int32), written out
// independently of the standard library to cross-check the engine's source.
class ReferenceMersenneTwister
{
public:
    explicit ReferenceMersenneTwister(std::uint32_t seed)
    {
        mt[0] = seed;
        for (index = 1; index < n; ++index)
            mt[index] = 1812433253u * (mt[index - 1] ^ (mt[index - 1] >> 30)) + (std::uint32_t)index;
    }

    std::uint32_t next()
    {
        if (index >= n)
        {
            for (int k = 0; k < n; ++k)
            {
                const std::uint32_t y = (mt[k] & 0x80000000u) | (mt[(k + 1) % n] & 0x7fffffffu);
                mt[k] = mt[(k + m) % n] ^ (y >> 1) ^ ((y & 1u) ? 0x9908b0dfu : 0u);
            }
            index = 0;
        }
        std::uint32_t y = mt[index++];
        y ^= y >> 11;
        y ^= (y << 7) & 0x9d2c5680u;
        y ^= (y << 15) & 0xefc60000u;
        y ^= y >> 18;
        return y;
    }

private:
    static constexpr int n = 624, m = 397;
    std::uint32_t mt[n];
    int index;
};

std::uint32_t bitsOf(float f)
{
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}
} // namespace

TEST(EngineRandom, ReferenceGeneratorMatchesThePublishedOutputs)
{
    ReferenceMersenneTwister reference(5489u);
    EXPECT_EQ(reference.next(), 3499211612u);
    for (int i = 2; i < 10000; ++i)
        reference.next();
    EXPECT_EQ(reference.next(), 4123659995u); // the 10000th output
}

TEST(EngineRandom, DrawsAreTheSeededOutputsOverTwoToThe32InSinglePrecision)
{
    EXPECT_EQ(EngineRandom::seed, 0x534F5256u);
    EXPECT_EQ(EngineRandom::seed,
              ((std::uint32_t)'S' << 24) | ((std::uint32_t)'O' << 16) | ((std::uint32_t)'R' << 8) | 'V');

    ReferenceMersenneTwister reference(0x534F5256u);
    EngineRandom random;
    for (int i = 0; i < 2000; ++i)
    {
        const std::uint32_t x = reference.next();
        const float expected = (float)((double)x / 4294967296.0);
        ASSERT_EQ(bitsOf(random.nextFloat()), bitsOf(expected)) << "draw " << i;
    }

    random.reset();
    ReferenceMersenneTwister again(0x534F5256u);
    EXPECT_EQ(bitsOf(random.nextFloat()), bitsOf((float)((double)again.next() / 4294967296.0)));
}

TEST(EngineRandom, RoundingIsToSinglePrecisionNotTruncation)
{
    EXPECT_EQ(EngineRandom::toUnitFloat(0), 0.0f);
    EXPECT_EQ(EngineRandom::toUnitFloat(0x80000000u), 0.5f);
    // 2^32 - 1 rounds up to exactly 1 in single precision.
    EXPECT_EQ(EngineRandom::toUnitFloat(0xFFFFFFFFu), 1.0f);
    EXPECT_EQ(EngineRandom::toUnitFloat(0xFFFFFF00u), 0.99999994f);
}

TEST(EnginePreparation, LineSizesFollowTheSampleRateWithAnEightKilohertzFloor)
{
    struct Case
    {
        double rate;
        int channels;
        int resonator, delay, fracture, dimension, expectedChannels;
        double expectedRate;
    };
    const Case cases[] = {
        {22050, 1, 24259, 46309, 90408, 1657, 1, 22050},  {48000, 2, 52804, 100804, 196803, 3604, 2, 48000},
        {8000, 2, 8804, 16804, 32804, 604, 2, 8000},      {4000, 2, 8804, 16804, 32804, 604, 2, 8000},
        {44100, 6, 48514, 92614, 180813, 3311, 2, 44100}, {44100, 0, 48514, 92614, 180813, 3311, 1, 44100},
    };
    for (const auto& c : cases)
    {
        SorvaneEngine engine;
        engine.prepare(c.rate, c.channels, 512);
        const auto sizes = engine.getLineSizes();
        EXPECT_EQ(sizes.resonator, c.resonator) << c.rate;
        EXPECT_EQ(sizes.delay, c.delay) << c.rate;
        EXPECT_EQ(sizes.fracture, c.fracture) << c.rate;
        EXPECT_EQ(sizes.dimension, c.dimension) << c.rate;
        EXPECT_EQ(engine.getNumChannels(), c.expectedChannels) << c.rate;
        EXPECT_EQ(engine.getSampleRate(), c.expectedRate);
    }
}

TEST(EnginePreparation, CrossfadeLengthsRoundToNearest)
{
    SorvaneEngine engine;
    engine.prepare(22050, 2, 64);
    EXPECT_EQ(engine.inspect().decimationFadeLength, 265); // 264.6
    EXPECT_EQ(engine.inspect().delayFadeLength, 551);      // 551.25
    engine.prepare(44100, 2, 64);
    EXPECT_EQ(engine.inspect().decimationFadeLength, 529); // 529.2
    EXPECT_EQ(engine.inspect().delayFadeLength, 1103);     // 1102.5 rounds away from zero
}

TEST(EnginePreparation, BelowEightKilohertzBehavesExactlyLikeEightKilohertz)
{
    SorvaneEngine low, eight;
    low.prepare(4000, 2, 64);
    eight.prepare(8000, 2, 64);
    const auto settings = test::everyStageActive();
    auto a = test::bufferFrom(test::testSignal(6000, 8000, 0), test::testSignal(6000, 8000, 1));
    auto b = a;
    test::processInBlocks(low, a, settings, 120, {64});
    test::processInBlocks(eight, b, settings, 120, {64});
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < a.getNumSamples(); ++i)
            ASSERT_EQ(bitsOf(a.getSample(c, i)), bitsOf(b.getSample(c, i)));
}

TEST(EnginePreparation, MonoEngineLeavesTheSecondChannelUntouched)
{
    SorvaneEngine engine;
    engine.prepare(22050, 1, 512);
    const auto left = test::testSignal(2048, 22050, 0);
    const auto right = test::testSignal(2048, 22050, 1);
    auto buffer = test::bufferFrom(left, right);
    test::processInBlocks(engine, buffer, test::everyStageActive(), 120, {512});

    int changed = 0;
    for (int i = 0; i < buffer.getNumSamples(); ++i)
    {
        EXPECT_EQ(buffer.getSample(1, i), right[(size_t)i]);
        changed += buffer.getSample(0, i) != left[(size_t)i];
    }
    EXPECT_GT(changed, 2000);
}

TEST(DelayResolution, FreeSyncedDottedTripletAndInvalidCases)
{
    struct Case
    {
        const char* name;
        int sync;
        float freeMs;
        double bpm;
        float timeMs;
        bool wet;
    };
    const Case cases[] = {
        {"free", 0, 180, 120, 180, true},
        {"free at the 2 ms floor", 0, 2, 120, 2, true},
        {"free below 2 ms", 0, 1.5f, 120, 180, false},
        {"free beyond 1800 ms", 0, 1800.5f, 120, 180, false},
        {"free not finite", 0, std::numeric_limits<float>::quiet_NaN(), 120, 180, false},
        {"free ignores an invalid tempo", 0, 250, 400, 250, true},
        {"1/16", 3, 180, 120, 125, true},
        {"1/64 at 300 BPM", 1, 180, 300, 12.5f, true},
        {"1/2", 6, 180, 120, 1000, true},
        {"1/2 dotted", 12, 180, 120, 1500, true},
        {"1/8 dotted", 10, 180, 100, 450, true},
        {"1/4 triplet", 17, 180, 120, 1000.0f / 3.0f, true},
        {"1/2 dotted at 60 BPM beyond 1800 ms", 12, 180, 60, 3000, false},
        {"1/2 at 30 BPM", 6, 180, 30, 4000, false},
        {"tempo above 300", 3, 200, 300.5, 200, false},
        {"tempo below 30", 3, 200, 29.9, 200, false},
        {"tempo not finite", 3, 200, std::numeric_limits<double>::infinity(), 200, false},
        {"sync index out of range", 19, 200, 120, 200, false},
        {"negative sync index", -1, 200, 120, 200, false},
        {"synced with an invalid free time", 3, 1, 400, 180, false},
    };
    for (const auto& c : cases)
    {
        DspSettings s;
        s.delay = 0.7f;
        s.delaySync = c.sync;
        s.delayTimeMs = c.freeMs;
        const auto r = resolveDelay(s, c.bpm);
        EXPECT_FLOAT_EQ(r.timeMs, c.timeMs) << c.name;
        EXPECT_EQ(r.wet, c.wet ? 0.7f : 0.0f) << c.name;
    }
}

TEST(EngineBlockStart, FirstCallSnapsAndLaterChangesRampOverTwentyFiveMilliseconds)
{
    SorvaneEngine engine;
    engine.prepare(48000, 2, 512);
    auto s = neutralSettings();
    s.feedback = 0.2f;
    juce::AudioBuffer<float> block(2, 1);
    block.clear();
    engine.process(block, s, 120);
    EXPECT_TRUE(engine.inspect().initialised);
    EXPECT_FLOAT_EQ(engine.inspect().feedback, 0.2f);

    s.feedback = 0.6f;
    juce::AudioBuffer<float> half(2, 600);
    half.clear();
    engine.process(half, s, 120);
    EXPECT_NEAR(engine.inspect().feedback, 0.4f, 1e-4f);
    engine.process(half, s, 120);
    EXPECT_FLOAT_EQ(engine.inspect().feedback, 0.6f);

    engine.reset();
    EXPECT_FALSE(engine.inspect().initialised);
    s.feedback = 0.1f;
    engine.process(block, s, 120);
    EXPECT_FLOAT_EQ(engine.inspect().feedback, 0.1f) << "snapped again after a reset";
}

TEST(EngineBlockStart, UnsupportedSyncedTimeFadesTheWetWhileTheTargetStaysAtTheCeiling)
{
    SorvaneEngine engine;
    engine.prepare(48000, 2, 512);
    auto s = neutralSettings();
    s.delay = 0.5f;
    s.delaySync = 12; // 1/2 dotted
    juce::AudioBuffer<float> block(2, 256);
    block.clear();
    engine.process(block, s, 120);
    EXPECT_FLOAT_EQ(engine.inspect().delayTimeCurrent, 1500.0f);
    EXPECT_FLOAT_EQ(engine.inspect().delayWet, 0.5f);

    juce::AudioBuffer<float> ramp(2, 1200); // 25 ms
    ramp.clear();
    engine.process(ramp, s, 60);
    EXPECT_FLOAT_EQ(engine.inspect().delayTimeTarget, 1800.0f);
    EXPECT_EQ(engine.inspect().delayWet, 0.0f);
}

TEST(EngineBlockStart, ResetMakesEarlierDelayedAudioInaudible)
{
    auto s = neutralSettings();
    s.delay = 1.0f;
    s.feedback = 0.8f;
    s.delayTimeMs = 10;

    for (const bool resetInBetween : {false, true})
    {
        SorvaneEngine engine;
        engine.prepare(48000, 2, 512);
        juce::AudioBuffer<float> impulse(2, 64);
        impulse.clear();
        impulse.setSample(0, 0, 0.9f);
        impulse.setSample(1, 0, 0.9f);
        engine.process(impulse, s, 120);
        if (resetInBetween)
            engine.reset();

        juce::AudioBuffer<float> silence(2, 4800);
        silence.clear();
        engine.process(silence, s, 120);
        float peak = silence.getMagnitude(0, silence.getNumSamples());
        if (resetInBetween)
            EXPECT_EQ(peak, 0.0f);
        else
            EXPECT_GT(peak, 0.1f);
    }
}
