#include "EngineTestSupport.h"

#include "dsp/EngineRandom.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>

using namespace sorvane;
using sorvane::test::neutralSettings;

namespace
{
std::uint32_t bitsOf(float f)
{
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

float toneCoefficient(float hz, double sampleRate)
{
    const float fc = juce::jlimit(80.0f, 20000.0f, hz);
    return 1.0f - std::exp(-2.0f * juce::MathConstants<float>::pi * fc / (float)sampleRate);
}

juce::AudioBuffer<float> run(SorvaneEngine& engine, std::vector<float> left, std::vector<float> right,
                             const DspSettings& s, double bpm = 120, std::vector<int> blocks = {512})
{
    auto buffer = test::bufferFrom(left, right);
    test::processInBlocks(engine, buffer, s, bpm, blocks);
    return buffer;
}

// Recovers the signal that entered the tone filter from the engine's output when everything after
// it is neutral (unity gains, total effect 100 %, no level correction).
std::vector<float> recoverToneInput(const juce::AudioBuffer<float>& out, int channel, float coefficient)
{
    std::vector<float> result((size_t)out.getNumSamples());
    double previous = 0;
    for (int i = 0; i < out.getNumSamples(); ++i)
    {
        const double lp = std::atanh((double)out.getSample(channel, i));
        result[(size_t)i] = (float)(previous + (lp - previous) / coefficient);
        previous = lp;
    }
    return result;
}
} // namespace

TEST(EngineChain, AllAmountsZeroGiveTanhOfTheLowPassedInput)
{
    for (const double rate : {44100.0, 48000.0, 96000.0})
    {
        SorvaneEngine engine;
        engine.prepare(rate, 2, 512);
        const auto left = test::testSignal(4096, rate, 0, 0.8f);
        const auto right = test::testSignal(4096, rate, 1, 0.8f);
        const auto out = run(engine, left, right, neutralSettings());

        const float coefficient = toneCoefficient(20000, rate);
        for (int c = 0; c < 2; ++c)
        {
            const auto& in = c == 0 ? left : right;
            float lp = 0;
            for (int i = 0; i < out.getNumSamples(); ++i)
            {
                lp += coefficient * (in[(size_t)i] - lp);
                ASSERT_NEAR(out.getSample(c, i), std::tanh(lp), 2e-6f) << rate << " ch " << c << " i " << i;
            }
        }
    }
}

TEST(EngineChain, TotalEffectZeroGivesTheInputExactly)
{
    for (const bool everything : {false, true})
    {
        auto s = everything ? test::everyStageActive() : neutralSettings();
        s.mix = 0;
        s.matchSourceLevel = false;
        SorvaneEngine engine;
        engine.prepare(48000, 2, 512);
        const auto left = test::testSignal(20000, 48000, 0);
        const auto right = test::testSignal(20000, 48000, 1);
        const auto out = run(engine, left, right, s, 120, {512, 77, 1024});
        for (int i = 0; i < out.getNumSamples(); ++i)
        {
            ASSERT_EQ(bitsOf(out.getSample(0, i)), bitsOf(left[(size_t)i])) << i;
            ASSERT_EQ(bitsOf(out.getSample(1, i)), bitsOf(right[(size_t)i])) << i;
        }
    }
}

TEST(EngineChain, FullCrushQuantisesToStepsOfAbout0435AndDecimationHoldsEachValue)
{
    const double rate = 8000; // the tone filter is practically transparent here
    const float step = 1.0f / std::pow(2.0f, 1.2f);
    EXPECT_NEAR(step, 0.4353f, 1e-4f);

    for (const int factor : {1, 32})
    {
        auto s = neutralSettings();
        s.crush = 1;
        s.reduce = factor;
        SorvaneEngine engine;
        engine.prepare(rate, 2, 512);
        std::vector<float> ramp(4096);
        for (size_t i = 0; i < ramp.size(); ++i)
            ramp[i] = -0.95f + 1.9f * (float)i / (float)ramp.size();
        const auto out = run(engine, ramp, ramp, s);

        std::set<long> levelsSeen;
        for (int i = 0; i < out.getNumSamples(); ++i)
        {
            const double v = std::atanh((double)out.getSample(0, i));
            const double k = v / step;
            ASSERT_NEAR(k, std::round(k), 2e-3) << "sample " << i << " value " << v;
            levelsSeen.insert(std::lround(k));
            if (factor > 1 && i > 0 && std::abs(out.getSample(0, i) - out.getSample(0, i - 1)) > 1e-3f)
            {
                EXPECT_EQ(i % factor, 0) << "a held value changed inside its hold period";
            }
        }
        EXPECT_EQ(levelsSeen, (std::set<long>{-2, -1, 0, 1, 2}));
    }
}

TEST(EngineChain, ResonatorCombLengthAtFourKilohertzDiffersPerChannelByTheDetune)
{
    const double rate = 48000;
    auto s = neutralSettings();
    s.resonance = 1;
    s.resFreq = 4000;
    s.resDecay = 0;
    SorvaneEngine engine;
    engine.prepare(rate, 2, 512);
    std::vector<float> impulse(64, 0.0f);
    impulse[0] = 0.5f;
    const auto out = run(engine, impulse, impulse, s);

    const float coefficient = toneCoefficient(20000, rate);
    const float written = std::tanh(0.5f);
    for (int c = 0; c < 2; ++c)
    {
        const float detune = c == 0 ? SorvaneEngine::leftDetune : SorvaneEngine::rightDetune;
        const double length = rate / (4000.0 * detune); // 12.029 left, 11.971 right
        const auto q = recoverToneInput(out, c, coefficient);
        const int whole = (int)std::floor(length);
        const double fraction = length - whole;
        for (int i = 0; i < 64; ++i)
        {
            double expected = 0;
            if (i == whole)
                expected = (1 - fraction) * written;
            else if (i == whole + 1)
                expected = fraction * written;
            EXPECT_NEAR(q[(size_t)i], expected, 3e-3) << "channel " << c << " sample " << i;
        }
    }
}

namespace
{
// The fracture scheduler's draws, replayed from the reference generator: the chaos walk draws two
// values when its countdown runs out, the slice clock one per tick without a running event and
// three more when an event starts.
struct PredictedEvent
{
    int frame;
    int sliceLength;
    int samples;
};

std::vector<PredictedEvent> predictEvents(double rate, double bpm, double beats, float p, int frames)
{
    std::mt19937 generator(EngineRandom::seed);
    auto draw = [&] { return EngineRandom::toUnitFloat((std::uint32_t)generator()); };
    std::vector<PredictedEvent> events;
    int chaosCountdown = 0, slice = 0, remaining = 0;
    const double samplesPerBeat = 60.0 * rate / bpm;
    for (int frame = 0; frame < frames; ++frame)
    {
        if (chaosCountdown-- < 2)
        {
            (void)draw();
            chaosCountdown = (int)(rate * (0.035 + 0.22 * (double)draw()));
        }
        if (--slice <= 0)
        {
            slice = std::max(32, (int)(samplesPerBeat * beats));
            if (remaining <= 0 && draw() < p)
            {
                const int length =
                    std::min(std::max(24, (int)(samplesPerBeat * beats * (0.72 + 0.55 * (double)draw()))),
                             (int)(1.5 * rate));
                remaining = draw() > 0.65f ? 2 * length : length;
                (void)draw();
                events.push_back({frame, length, remaining});
            }
        }
        if (remaining > 0)
            --remaining;
    }
    return events;
}
} // namespace

TEST(EngineFracture, SliceClockTicksEvery6000SamplesAndStartsEventsBelowThe056Threshold)
{
    const double rate = 48000;
    auto s = neutralSettings();
    s.glitch = 1;
    s.division = 2; // 1/16
    SorvaneEngine engine;
    engine.prepare(rate, 2, 512);

    const int frames = 6000 * 40;
    const auto predicted = predictEvents(rate, 120, 0.25, 0.56f, frames);
    ASSERT_GE(predicted.size(), 5u);

    juce::AudioBuffer<float> one(2, 1);
    size_t next = 0;
    int lastTick = -1;
    for (int frame = 0; frame < frames; ++frame)
    {
        one.clear();
        engine.process(one, s, 120);
        const auto state = engine.inspect();
        if (state.sliceCountdown == 6000)
        {
            if (lastTick >= 0)
            {
                ASSERT_EQ(frame - lastTick, 6000);
            }
            lastTick = frame;
        }
        if (next < predicted.size() && predicted[next].frame == frame)
        {
            ASSERT_EQ(state.sliceLength, predicted[next].sliceLength) << "event " << next;
            ASSERT_EQ(state.eventSamplesRemaining, predicted[next].samples - 1) << "event " << next;
            EXPECT_EQ(frame % 6000, 0);
            ++next;
        }
    }
    EXPECT_EQ(next, predicted.size());
    EXPECT_EQ(engine.getMeters().fractureEvents, (std::int64_t)predicted.size());
}

TEST(EngineFracture, ZeroAmountNeverStartsAnEvent)
{
    auto s = neutralSettings();
    s.glitch = 0;
    s.chaos = 1;
    SorvaneEngine engine;
    engine.prepare(48000, 2, 512);
    auto out = run(engine, test::testSignal(96000, 48000), test::testSignal(96000, 48000, 1), s);
    EXPECT_EQ(engine.getMeters().fractureEvents, 0);
}

TEST(EngineFracture, ReversedEventsReadTheSliceBackwardsFromItsLastSample)
{
    const double rate = 8000; // transparent tone filter
    auto s = neutralSettings();
    s.glitch = 1;
    s.reverse = 1;
    s.division = 1; // 1/8: 2000 samples at 120 BPM
    SorvaneEngine engine;
    engine.prepare(rate, 2, 512);

    const int frames = 40000;
    std::vector<float> ramp((size_t)frames);
    for (int i = 0; i < frames; ++i)
        ramp[(size_t)i] = 0.5f * (float)((i * 37) % 1000) / 1000.0f - 0.25f;

    const float coefficient = toneCoefficient(20000, rate);
    juce::AudioBuffer<float> one(2, 1);
    double previousLp = 0;
    int checkedEvents = 0, eventStart = -1, sliceLength = 0;
    for (int i = 0; i < frames; ++i)
    {
        const float x = ramp[(size_t)i];
        one.setSample(0, 0, x);
        one.setSample(1, 0, x);
        const auto before = engine.inspect();
        engine.process(one, s, 120);
        const auto state = engine.inspect();

        const double lp = std::atanh((double)one.getSample(0, 0));
        const double g = previousLp + (lp - previousLp) / coefficient;
        previousLp = lp;

        if (state.eventPosition == 1 && before.eventPosition != 1 && state.eventSamplesRemaining > 0)
        {
            eventStart = i;
            sliceLength = state.sliceLength;
            ASSERT_TRUE(state.eventReversed);
        }
        if (eventStart >= 100 && i - eventStart < 50 && i - eventStart < sliceLength)
        {
            // g = o + envelope * (repeat - o) with o = x for the neutral chain
            const double envelope = state.fractureEnvelope;
            const double repeated = x + (g - x) / envelope;
            const int t = i - eventStart;
            EXPECT_NEAR(repeated, ramp[(size_t)(eventStart - 1 - t)], 2e-3)
                << "event at " << eventStart << " t " << t;
            if (t == 49)
                ++checkedEvents;
        }
    }
    EXPECT_GE(checkedEvents, 3);
}

TEST(EngineFracture, SliceLengthIsCutAtOneAndAHalfSeconds)
{
    const double rate = 8000;
    auto s = neutralSettings();
    s.glitch = 1;
    s.chaos = 1;    // p = 0.94
    s.division = 0; // 1/4 at 30 BPM: 16000 samples, so L is 11520..20320
    SorvaneEngine engine;
    engine.prepare(rate, 2, 512);

    std::set<int> lengths;
    juce::AudioBuffer<float> tick(2, 16000);
    for (int k = 0; k < 60; ++k)
    {
        tick.clear();
        engine.process(tick, s, 30);
        if (engine.inspect().sliceLength > 0)
            lengths.insert(engine.inspect().sliceLength);
    }
    ASSERT_FALSE(lengths.empty());
    EXPECT_EQ(*lengths.rbegin(), 12000);
    EXPECT_GE(*lengths.begin(), 11520);
    EXPECT_GT(lengths.size(), 1u);
}

TEST(EngineCrossfades, DelayTimeChangeBelowOneMicrosecondStartsNoFade)
{
    struct Case
    {
        float change;
        bool fades;
    };
    for (const auto& c : {Case{0.0005f, false}, Case{0.002f, true}, Case{-0.002f, true}, Case{0.0f, false}})
    {
        auto s = neutralSettings();
        s.delayTimeMs = 100.0f;
        SorvaneEngine engine;
        engine.prepare(48000, 2, 512);
        juce::AudioBuffer<float> one(2, 1);
        one.clear();
        engine.process(one, s, 120);
        s.delayTimeMs = 100.0f + c.change;
        engine.process(one, s, 120);
        const auto state = engine.inspect();
        EXPECT_EQ(state.delayFadeCountdown, c.fades ? state.delayFadeLength - 1 : 0) << c.change;
        EXPECT_EQ(state.delayTimeNext, c.fades ? 100.0f + c.change : 100.0f) << c.change;
    }
}

TEST(EngineCrossfades, DecimationChangeWaitsForTheRunningFadeThenFadesBack)
{
    auto s = neutralSettings();
    s.crush = 1;
    s.reduce = 4;
    SorvaneEngine engine;
    engine.prepare(48000, 2, 512);
    const int fadeLength = engine.inspect().decimationFadeLength;
    ASSERT_EQ(fadeLength, 576);

    juce::AudioBuffer<float> block(2, 100);
    block.clear();
    engine.process(block, s, 120);
    EXPECT_EQ(engine.inspect().decimationCurrent, 4);

    s.reduce = 8;
    engine.process(block, s, 120);
    EXPECT_EQ(engine.inspect().decimationNext, 8);
    EXPECT_EQ(engine.inspect().decimationFadeCountdown, fadeLength - 100);

    s.reduce = 4; // within 12 ms
    engine.process(block, s, 120);
    auto state = engine.inspect();
    EXPECT_EQ(state.decimationCurrent, 4);
    EXPECT_EQ(state.decimationNext, 8) << "the running fade is not interrupted";
    EXPECT_EQ(state.decimationFadeCountdown, fadeLength - 200);

    juce::AudioBuffer<float> rest(2, fadeLength - 200);
    rest.clear();
    engine.process(rest, s, 120);
    state = engine.inspect();
    EXPECT_EQ(state.decimationCurrent, 8);
    EXPECT_EQ(state.decimationFadeCountdown, 0);

    juce::AudioBuffer<float> one(2, 1);
    one.clear();
    engine.process(one, s, 120);
    state = engine.inspect();
    EXPECT_EQ(state.decimationNext, 4);
    EXPECT_EQ(state.decimationFadeCountdown, fadeLength - 1);
}

TEST(EngineFeedback, FeedbackAndResonatorDecayAreHeldAt0985AndTheTailStaysBounded)
{
    auto s = neutralSettings();
    s.feedback = 1.0f;
    s.resDecay = 1.0f;
    s.resonance = 1.0f;
    s.delay = 1.0f;
    s.delayTimeMs = 50;
    const double rate = 8000;
    SorvaneEngine engine;
    engine.prepare(rate, 2, 512);

    auto burst = test::testSignal((int)rate, rate, 0, 1.0f);
    auto silence = std::vector<float>((size_t)(rate * 9), 0.0f);
    burst.insert(burst.end(), silence.begin(), silence.end());
    const auto out = run(engine, burst, burst, s);
    EXPECT_FLOAT_EQ(engine.inspect().feedback, 0.985f);
    EXPECT_FLOAT_EQ(engine.inspect().resonatorDecay, 0.985f);

    const int second = (int)rate;
    auto peakOf = [&](int from) { return out.getMagnitude(0, from, second / 2); };
    for (int i = 0; i < out.getNumSamples(); ++i)
        ASSERT_TRUE(std::isfinite(out.getSample(0, i)) && std::abs(out.getSample(0, i)) <= 1.0f) << i;
    EXPECT_GT(peakOf(second), 0.05f) << "the tail rings";
    EXPECT_LT(peakOf(out.getNumSamples() - second / 2), 0.8f * peakOf(second));
}

TEST(EngineDeterminism, IdenticalEnginesGiveBitIdenticalOutputAcrossAnyBlockSplit)
{
    const double rate = 48000;
    const auto left = test::testSignal(96000, rate, 0);
    const auto right = test::testSignal(96000, rate, 1);
    for (const int quality : {0, 1})
    {
        auto s = test::everyStageActive();
        s.audioQuality = quality;
        SorvaneEngine a, b, c;
        a.prepare(rate, 2, 2048);
        b.prepare(rate, 2, 2048);
        c.prepare(rate, 2, 2048);
        const auto outA = run(a, left, right, s, 128, {2048});
        const auto outB = run(b, left, right, s, 128, {1, 31, 512, 7, 2048, 64});
        const auto outC = run(c, left, right, s, 128, {333});
        ASSERT_GT(a.getMeters().fractureEvents, 3);
        EXPECT_EQ(a.getMeters().fractureEvents, b.getMeters().fractureEvents);
        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < outA.getNumSamples(); ++i)
            {
                ASSERT_EQ(bitsOf(outA.getSample(ch, i)), bitsOf(outB.getSample(ch, i))) << ch << " " << i;
                ASSERT_EQ(bitsOf(outA.getSample(ch, i)), bitsOf(outC.getSample(ch, i))) << ch << " " << i;
            }
    }
}

TEST(EngineBadInput, NonFiniteSamplesAreTreatedAsSilenceAndNeverPoisonTheLines)
{
    const double rate = 48000;
    auto left = test::testSignal(48000, rate, 0);
    auto right = test::testSignal(48000, rate, 1);
    auto zeroed = std::make_pair(left, right);
    auto poisoned = std::make_pair(left, right);
    for (const int at : {1000, 1001, 20000})
    {
        poisoned.first[(size_t)at] = std::numeric_limits<float>::quiet_NaN();
        poisoned.second[(size_t)at] =
            at == 20000 ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
        zeroed.first[(size_t)at] = zeroed.second[(size_t)at] = 0.0f;
    }

    const auto s = test::everyStageActive();
    SorvaneEngine withNaN, withZeros;
    withNaN.prepare(rate, 2, 512);
    withZeros.prepare(rate, 2, 512);
    const auto a = run(withNaN, poisoned.first, poisoned.second, s);
    const auto b = run(withZeros, zeroed.first, zeroed.second, s);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < a.getNumSamples(); ++i)
        {
            ASSERT_TRUE(std::isfinite(a.getSample(ch, i))) << ch << " " << i;
            ASSERT_EQ(bitsOf(a.getSample(ch, i)), bitsOf(b.getSample(ch, i))) << ch << " " << i;
        }
    EXPECT_TRUE(std::isfinite(withNaN.getMeters().levelGain));
}

TEST(EngineBadInput, NonFiniteSettingsFallBackToDefaults)
{
    auto s = test::everyStageActive();
    s.feedback = std::numeric_limits<float>::quiet_NaN();
    s.tone = std::numeric_limits<float>::infinity();
    s.resFreq = 0.0f;
    SorvaneEngine engine;
    engine.prepare(48000, 2, 512);
    const auto out = run(engine, test::testSignal(9600, 48000), test::testSignal(9600, 48000, 1), s);
    for (int i = 0; i < out.getNumSamples(); ++i)
        ASSERT_TRUE(std::isfinite(out.getSample(0, i)) && std::isfinite(out.getSample(1, i))) << i;
}

TEST(EngineMeters, ReportTheBlockAndAnEmptyBlockReportsNothing)
{
    SorvaneEngine engine;
    engine.prepare(48000, 2, 512);
    auto s = test::everyStageActive();
    s.spectralRate = 12;
    s.resFreq = 4000;
    auto out = run(engine, test::testSignal(48000, 48000), test::testSignal(48000, 48000, 1), s);
    const auto m = engine.getMeters();
    EXPECT_GT(m.spectralRateLevel, 0.95f);
    EXPECT_LE(m.spectralRateLevel, 1.0f);
    EXPECT_FLOAT_EQ(m.resonatorPitchLevel, 1.0f);
    EXPECT_GT(m.outputPeak, 0.0f);
    EXPECT_LE(m.outputPeak, 1.0f);
    EXPECT_GT(m.sparkPeak, 0.0f);
    EXPECT_GT(m.chaosPeak, 0.0f);
    EXPECT_GT(m.fractureEvents, 0);

    juce::AudioBuffer<float> empty(2, 0);
    const auto flashBefore = m.fractureFlash;
    engine.process(empty, s, 120);
    const auto e = engine.getMeters();
    EXPECT_EQ(e.spectralRateLevel, 0.0f);
    EXPECT_EQ(e.resonatorPitchLevel, 0.0f);
    EXPECT_EQ(e.outputPeak, 0.0f);
    EXPECT_EQ(e.fractureEvents, m.fractureEvents);
    EXPECT_FLOAT_EQ(e.fractureFlash, flashBefore * 0.72f);
}
