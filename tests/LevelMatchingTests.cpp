#include "EngineTestSupport.h"

#include <gtest/gtest.h>

using namespace sorvane;
using sorvane::test::neutralSettings;

namespace
{
constexpr double rate = 8000; // level matching is slow; a low rate keeps these runs short

// Runs a quiet sine (linear region of the output saturation) for the given seconds.
float settleLevelGain(SorvaneEngine& engine, const DspSettings& s, double seconds, float amplitude)
{
    const int n = (int)(seconds * rate);
    juce::AudioBuffer<float> block(2, 400);
    int done = 0;
    while (done < n)
    {
        for (int i = 0; i < block.getNumSamples(); ++i)
        {
            const float x = amplitude * (float)std::sin(2 * M_PI * 330.0 * (done + i) / rate);
            block.setSample(0, i, x);
            block.setSample(1, i, x);
        }
        engine.process(block, s, 120);
        done += block.getNumSamples();
    }
    return engine.getMeters().levelGain;
}

float feedSilence(SorvaneEngine& engine, const DspSettings& s, double seconds)
{
    juce::AudioBuffer<float> block(2, 400);
    for (int done = 0; done < seconds * rate; done += 400)
    {
        block.clear();
        engine.process(block, s, 120);
    }
    return engine.getMeters().levelGain;
}
} // namespace

TEST(LevelMatching, OutputTwelveDecibelsLouderSettlesAtAQuarter)
{
    auto s = neutralSettings();
    s.matchSourceLevel = true;
    s.inputDb = 12; // the reference is the raw source, so this is 12 dB of loudness to undo
    SorvaneEngine engine;
    engine.prepare(rate, 2, 400);
    EXPECT_NEAR(settleLevelGain(engine, s, 8, 0.01f), 0.2512f, 0.004f);
}

TEST(LevelMatching, ThirtyDecibelsLouderStopsAtTheMinus24DecibelFloor)
{
    auto s = neutralSettings();
    s.matchSourceLevel = true;
    s.inputDb = 30;
    SorvaneEngine engine;
    engine.prepare(rate, 2, 400);
    // Single-precision steps stall a hair short of the target; the floor itself is never crossed.
    const float gain = settleLevelGain(engine, s, 10, 0.001f);
    EXPECT_NEAR(gain, 0.063095726f, 1e-4f);
    EXPECT_GE(gain, 0.063095726f);
}

TEST(LevelMatching, FarQuieterOutputStopsAtPlus24Decibels)
{
    auto s = neutralSettings();
    s.matchSourceLevel = true;
    s.outputDb = -60;
    SorvaneEngine engine;
    engine.prepare(rate, 2, 400);
    const float gain = settleLevelGain(engine, s, 40, 0.3f);
    EXPECT_NEAR(gain, 15.848933f, 0.02f);
    EXPECT_LE(gain, 15.848933f);
}

TEST(LevelMatching, AutoLevelLimitsAndExponents)
{
    struct Case
    {
        int autoLevel;
        float outputDb;
        float expected;
    };
    // 6 dB quieter: ratio 2, clamped to the mode's limit, raised to its exponent.
    const Case cases[] = {
        {1, -6, std::pow(std::pow(10.0f, 3.0f / 20.0f), 0.35f)}, // about 1.128
        {2, -6, std::pow(1.9953f, 0.65f)},                       // just inside 6 dB
        {1, 6, std::pow(std::pow(10.0f, -3.0f / 20.0f), 0.35f)},
        {0, -6, 1.0f},
    };
    for (const auto& c : cases)
    {
        auto s = neutralSettings();
        s.autoLevel = c.autoLevel;
        s.outputDb = c.outputDb;
        SorvaneEngine engine;
        engine.prepare(rate, 2, 400);
        EXPECT_NEAR(settleLevelGain(engine, s, 25, 0.01f), c.expected, 0.004f)
            << c.autoLevel << " " << c.outputDb;
    }
    EXPECT_NEAR(std::pow(std::pow(10.0f, 3.0f / 20.0f), 0.35f), 1.128f, 0.001f);
}

TEST(LevelMatching, MatchingTakesPrecedenceOverAutoLevel)
{
    auto s = neutralSettings();
    s.matchSourceLevel = true;
    s.autoLevel = 1;
    s.inputDb = 12;
    SorvaneEngine engine;
    engine.prepare(rate, 2, 400);
    EXPECT_NEAR(settleLevelGain(engine, s, 8, 0.01f), 0.2512f, 0.004f);
}

TEST(LevelMatching, SilenceHoldsTheMatchedGainButAutoLevelReturnsTowardUnity)
{
    auto s = neutralSettings();
    s.matchSourceLevel = true;
    s.inputDb = 12;
    SorvaneEngine matched;
    matched.prepare(rate, 2, 400);
    const float settled = settleLevelGain(matched, s, 8, 0.01f);
    EXPECT_NEAR(feedSilence(matched, s, 10), settled, 0.02f);

    auto a = neutralSettings();
    a.autoLevel = 2;
    a.outputDb = -6;
    SorvaneEngine automatic;
    automatic.prepare(rate, 2, 400);
    const float raised = settleLevelGain(automatic, a, 20, 0.01f);
    ASSERT_GT(raised, 1.3f);
    EXPECT_LT(feedSilence(automatic, a, 10), 1.02f);
}

TEST(LevelMatching, GainFallsFasterThanItRises)
{
    auto louder = neutralSettings();
    louder.matchSourceLevel = true;
    louder.inputDb = 12;
    auto quieter = neutralSettings();
    quieter.matchSourceLevel = true;
    quieter.outputDb = -12;

    SorvaneEngine falling, rising;
    falling.prepare(rate, 2, 400);
    rising.prepare(rate, 2, 400);
    // After one second each has covered a larger share of the way down than of the way up.
    const float down = (1.0f - settleLevelGain(falling, louder, 1, 0.01f)) / (1.0f - 0.2512f);
    const float up = (settleLevelGain(rising, quieter, 1, 0.01f) - 1.0f) / (3.98f - 1.0f);
    EXPECT_GT(down, up * 1.5f);
}

TEST(LevelMatching, ResultLevelTrimSitsOutsideTheMatchingLoop)
{
    auto s = neutralSettings();
    s.matchSourceLevel = true;
    SorvaneEngine plain, trimmed;
    plain.prepare(rate, 2, 400);
    trimmed.prepare(rate, 2, 400);
    settleLevelGain(plain, s, 6, 0.01f);
    auto t = s;
    t.resultLevelDb = 12;
    settleLevelGain(trimmed, t, 6, 0.01f);
    EXPECT_NEAR(trimmed.getMeters().levelGain, plain.getMeters().levelGain, 1e-4f);
    EXPECT_NEAR(trimmed.getMeters().outputPeak / plain.getMeters().outputPeak, std::pow(10.0f, 12.0f / 20.0f),
                0.01f);
}
