#include "SourceSignals.h"
#include "transport/MomentSuggestions.h"

#include <gtest/gtest.h>

using namespace sorvane;
using namespace sorvane::test;

namespace
{
constexpr double rate =
    2000; // moment windows read every frame up to 200,000, so a low rate keeps tests short

double levelDb(double rms)
{
    return rms > 0 ? std::max(20 * std::log10(rms), -90.0) : -90.0;
}

double windowRms(const juce::AudioBuffer<float>& audio, int start, int length)
{
    double sum = 0;
    for (int i = start; i < start + length; ++i)
    {
        double m = 0;
        for (int c = 0; c < audio.getNumChannels(); ++c)
            m += audio.getSample(c, i);
        m /= audio.getNumChannels();
        sum += m * m;
    }
    return std::sqrt(sum / length);
}

MomentSuggestion candidate(double start, double length, float score)
{
    MomentSuggestion s;
    s.startSeconds = start;
    s.lengthSeconds = length;
    s.score = score;
    return s;
}

const juce::String explanationFor(const char* metric)
{
    return juce::String("Suggested from documented ") + metric +
           " metrics; this is not an objective quality claim.";
}
} // namespace

TEST(MomentSuggestions, WindowLayoutFollowsTheSourceLength)
{
    struct Case
    {
        double seconds;
        double window, hop; // seconds
    };
    const Case cases[] = {{4.9, 0, 0},     {5, 5, 2.5}, {20, 5, 2.5},  {30, 5, 2.5},
                          {45, 7.5, 3.75}, {60, 10, 5}, {90, 15, 7.5}, {600, 15, 7.5}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.seconds);
        const auto layout = momentWindowLayout((std::int64_t)std::llround(c.seconds * 1000), 1000);
        EXPECT_EQ(layout.windowFrames, (std::int64_t)std::llround(c.window * 1000));
        EXPECT_EQ(layout.hopFrames, (std::int64_t)std::llround(c.hop * 1000));
        EXPECT_EQ(layout.minimumFrames, c.window > 0 ? 5000 : 0);
    }
    // Odd window lengths halve downwards.
    EXPECT_EQ(momentWindowLayout(45006, 1000).hopFrames, 3750);
    EXPECT_EQ(momentWindowLayout(100, 0).windowFrames, 0);
}

TEST(MomentSuggestions, InvalidOrShortInputGivesNothing)
{
    struct Case
    {
        const char* name;
        juce::AudioBuffer<float> audio;
        double sampleRate;
        int maximumCount;
    };
    const Case cases[] = {{"4.9 seconds", sine(1, 4.9, rate, 100, 0.5f), rate, 5},
                          {"no channel", juce::AudioBuffer<float>(0, 20000), rate, 5},
                          {"no frame", juce::AudioBuffer<float>(2, 0), rate, 5},
                          {"zero rate", sine(1, 10, rate, 100, 0.5f), 0.0, 5},
                          {"negative rate", sine(1, 10, rate, 100, 0.5f), -rate, 5},
                          {"no room", sine(1, 10, rate, 100, 0.5f), rate, 0}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(suggestBestMoments(c.audio, c.sampleRate, c.maximumCount, nullptr).empty());
    }
}

TEST(MomentSuggestions, FiveSecondSourceGivesOneWholeFileSuggestion)
{
    const auto moments = suggestBestMoments(sine(2, 5, rate, 220, 0.5f), rate, 5, nullptr);
    ASSERT_EQ(moments.size(), 1u);
    EXPECT_EQ(moments[0].startSeconds, 0.0);
    EXPECT_EQ(moments[0].lengthSeconds, 5.0);
    EXPECT_EQ(moments[0].contrastScore, 0.0f);
    EXPECT_EQ(moments[0].noveltyScore, 0.0f);
}

TEST(MomentSuggestions, SteadySineScoresFollowItsLevelAndPeak)
{
    // One 5-second window; rms = a / sqrt 2.
    struct Case
    {
        float amplitude;
        const char* metric;
    };
    for (const auto& c : {Case{0.5f, "headroom"}, Case{0.9f, "clear level"}, Case{0.05f, "headroom"},
                          Case{0.005f, "transient activity"}})
    {
        SCOPED_TRACE(c.amplitude);
        const auto moments = suggestBestMoments(sine(1, 5, rate, 50, c.amplitude), rate, 5, nullptr);
        ASSERT_EQ(moments.size(), 1u);
        const auto& m = moments[0];
        const double db = levelDb(c.amplitude / std::sqrt(2.0));
        EXPECT_NEAR(m.levelScore, std::clamp((db + 42) / 36, 0.0, 1.0), 1e-3);
        EXPECT_NEAR(m.headroomScore,
                    std::clamp((1.0 - c.amplitude) / 0.18, 0.0, 1.0) * std::clamp((db + 36) / 18, 0.0, 1.0),
                    1e-3);
        EXPECT_NEAR(m.score, 0.22 * m.transientScore + 0.27 * m.levelScore + 0.15 * m.headroomScore, 1e-6);
        EXPECT_EQ(m.explanation, explanationFor(c.metric));
    }
}

TEST(MomentSuggestions, SixtySecondSourceSlidesTenSecondWindowsByFive)
{
    const auto candidates = collectMomentCandidates(sine(1, 60, rate, 100, 0.3f), rate, nullptr);
    ASSERT_EQ(candidates.size(), 12u); // starts 0..55; the last is the 5-second tail
    for (size_t i = 0; i < candidates.size(); ++i)
    {
        EXPECT_DOUBLE_EQ(candidates[i].startSeconds, 5.0 * (double)i);
        EXPECT_DOUBLE_EQ(candidates[i].lengthSeconds, i + 1 < candidates.size() ? 10.0 : 5.0);
    }
}

TEST(MomentSuggestions, ContrastAndNoveltyCompareWithThePreviousWindowEvenWhenItClipped)
{
    // 20 s: 5-second windows every 2.5 s. The first 2.5 s are loud noise with one clipping sample, the
    // rest a quiet low sine. Window 0 is dropped but still is window 1's previous.
    auto audio = sine(1, 20, rate, 60, 0.05f);
    const auto loud = noise(1, 2.5, rate, 0.6f);
    audio.copyFrom(0, 0, loud, 0, 0, loud.getNumSamples());
    audio.setSample(0, 100, 1.0f);

    const auto candidates = collectMomentCandidates(audio, rate, nullptr);
    ASSERT_FALSE(candidates.empty());
    EXPECT_EQ(candidates[0].startSeconds, 2.5);
    const int window = (int)(5 * rate);
    const double expectedContrast = std::min(
        1.0,
        std::abs(levelDb(windowRms(audio, window / 2, window)) - levelDb(windowRms(audio, 0, window))) / 15);
    EXPECT_NEAR(candidates[0].contrastScore, expectedContrast, 1e-4);
    EXPECT_GT(candidates[0].contrastScore, 0.0f);
    EXPECT_GT(candidates[0].noveltyScore, 0.0f);
}

TEST(MomentSuggestions, NearClippingInEveryWindowGivesNoSuggestion)
{
    // 10-second windows every 5 s; a marker at 7, 17, ... 57 s puts exactly one in every window.
    auto audio = sine(2, 60, rate, 100, 0.3f);
    for (int second = 7; second < 60; second += 10)
        audio.setSample(1, (int)(second * rate), 1.99f); // the other channel is at a zero: mix 0.995
    EXPECT_TRUE(suggestBestMoments(audio, rate, 5, nullptr).empty());

    audio.setSample(1, (int)(7 * rate), 1.98f); // the two windows over 7 s now peak at 0.99
    const auto candidates = collectMomentCandidates(audio, rate, nullptr);
    ASSERT_EQ(candidates.size(), 2u);
    EXPECT_EQ(candidates[0].startSeconds, 0.0);
    EXPECT_EQ(candidates[1].startSeconds, 5.0);
}

TEST(MomentSuggestions, LongWindowsReadEveryQthFrame)
{
    // 90 s at 48 kHz: 720,000-frame windows read every 4th frame, starting on multiples of 4.
    constexpr double highRate = 48000;
    for (int offset : {0, 1})
    {
        SCOPED_TRACE(offset);
        auto audio = sine(1, 90, highRate, 200, 0.3f);
        for (int i = offset; i < audio.getNumSamples(); i += 48000)
            audio.setSample(0, i, 1.0f);
        EXPECT_EQ(suggestBestMoments(audio, highRate, 5, nullptr).empty(), offset == 0);
    }
}

TEST(MomentSuggestions, RankingKeepsTheBestNonOverlappingRegions)
{
    const std::vector<MomentSuggestion> candidates = {
        candidate(0, 10, 0.5f),      candidate(10, 10, 0.5f), // equal: earlier first; touching is no overlap
        candidate(25, 10, 0.9f),                              // best
        candidate(34.999, 10, 0.3f),                          // overlaps the best by a hair
        candidate(45, 10, 0.2f),     candidate(55, 5, 0.1f)};
    const auto kept = selectBestMoments(candidates, 4);
    const double expectedStarts[] = {25, 0, 10, 45};
    ASSERT_EQ(kept.size(), 4u);
    for (size_t i = 0; i < kept.size(); ++i)
        EXPECT_DOUBLE_EQ(kept[i].startSeconds, expectedStarts[i]);
    EXPECT_EQ(selectBestMoments(candidates, 10).size(), 5u);

    const auto equal =
        selectBestMoments({candidate(20, 5, 0.4f), candidate(5, 5, 0.4f), candidate(10, 5, 0.4f)}, 2);
    ASSERT_EQ(equal.size(), 2u);
    EXPECT_EQ(equal[0].startSeconds, 5.0);
    EXPECT_EQ(equal[1].startSeconds, 10.0);

    // One sample of overlap at 48 kHz is enough to drop the worse region.
    const auto oneSample = selectBestMoments({candidate(0, 5, 0.9f), candidate(5 - 1 / 48000.0, 5, 0.8f)}, 5);
    EXPECT_EQ(oneSample.size(), 1u);
}

TEST(MomentSuggestions, SuggestionsAreBoundedRankedAndInsideTheSource)
{
    // A minute of material whose level and colour change every few seconds.
    auto audio = makeBuffer(2, 60, rate);
    NoiseSource source;
    for (int i = 0; i < audio.getNumSamples(); ++i)
    {
        const int section = i / (int)(7 * rate);
        const float x =
            0.05f * (float)(1 + section % 4) * (float)std::sin(twoPi * (80.0 + 90 * section) * i / rate) +
            0.02f * (float)(section % 3) * source.next();
        audio.setSample(0, i, x);
        audio.setSample(1, i, x);
    }
    for (int maximumCount : {1, 3, 5, 100})
    {
        SCOPED_TRACE(maximumCount);
        const auto moments = suggestBestMoments(audio, rate, maximumCount, nullptr);
        ASSERT_FALSE(moments.empty());
        EXPECT_LE((int)moments.size(), maximumCount);
        for (size_t i = 0; i < moments.size(); ++i)
        {
            const auto& m = moments[i];
            EXPECT_GE(m.startSeconds, 0.0);
            EXPECT_LE(m.startSeconds + m.lengthSeconds, 60.0);
            EXPECT_GE(m.lengthSeconds, 5.0);
            EXPECT_LE(m.lengthSeconds, 15.0);
            for (float v :
                 {m.score, m.levelScore, m.contrastScore, m.transientScore, m.noveltyScore, m.headroomScore})
            {
                EXPECT_GE(v, 0.0f);
                EXPECT_LE(v, 1.0f);
            }
            if (i > 0)
            {
                EXPECT_GE(moments[i - 1].score, m.score);
            }
            for (size_t j = 0; j < i; ++j)
                EXPECT_LE(std::min(m.startSeconds + m.lengthSeconds,
                                   moments[j].startSeconds + moments[j].lengthSeconds),
                          std::max(m.startSeconds, moments[j].startSeconds));
        }
    }
    EXPECT_EQ(suggestBestMoments(audio, rate, 100, nullptr).size(), 6u); // 10-second windows, 60 s
}

TEST(MomentSuggestions, CancelledSearchReturnsNothing)
{
    const auto audio = sine(2, 60, rate, 100, 0.3f);
    const std::atomic<bool> cancel{true}, notCancelled{false};
    EXPECT_TRUE(suggestBestMoments(audio, rate, 5, &cancel).empty());
    EXPECT_TRUE(collectMomentCandidates(audio, rate, &cancel).empty());
    EXPECT_FALSE(suggestBestMoments(audio, rate, 5, &notCancelled).empty());
}
