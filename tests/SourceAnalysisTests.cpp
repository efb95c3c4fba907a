#include "SourceSignals.h"
#include "transport/SourceAnalysis.h"
#include "transport/SourceMeasurement.h"

#include <gtest/gtest.h>

#include <complex>
#include <functional>

using namespace sorvane;
using namespace sorvane::test;

namespace
{
constexpr double rate = 24000;

const char* const invalidText =
    "No valid source audio was available; deterministic blind AUTO remains active.";
const char* const cancelledText = "Source analysis was cancelled; deterministic blind AUTO remains active.";
const char* const silentText = "The source is effectively silent; deterministic blind AUTO remains active.";

void expectAllNumbersZero(const SourceTraits& t)
{
    EXPECT_EQ(t.family, 0);
    EXPECT_EQ(t.confidence, 0.0f);
    EXPECT_EQ(t.recommendedPersonality, 0);
    EXPECT_EQ(t.lowShare, 0.0f);
    EXPECT_EQ(t.midShare, 0.0f);
    EXPECT_EQ(t.highShare, 0.0f);
    EXPECT_EQ(t.transientStrength, 0.0f);
    EXPECT_EQ(t.levelVariation, 0.0f);
    EXPECT_EQ(t.stereoWidth, 0.0f);
    EXPECT_EQ(t.crestFactor, 0.0f);
    EXPECT_EQ(t.zeroCrossingRate, 0.0f);
}

SourceTraits measuredTraits(float L, float M, float H, float P, float Q, float S, float C, float Z)
{
    SourceTraits t;
    t.lowShare = L;
    t.midShare = M;
    t.highShare = H;
    t.transientStrength = P;
    t.levelVariation = Q;
    t.stereoWidth = S;
    t.crestFactor = C;
    t.zeroCrossingRate = Z;
    return t;
}

double familyScore(const SourceTraits& t, int family)
{
    for (const auto& s : scoreSourceFamilies(t))
        if (s.family == family)
            return s.score;
    ADD_FAILURE() << "family " << family << " not scored";
    return 0;
}
} // namespace

TEST(SourceAnalysis, InvalidInputLeavesBlindAuto)
{
    struct Case
    {
        const char* name;
        int channels, frames;
        double sampleRate;
    };
    const Case cases[] = {{"no channel", 0, 1000, rate},
                          {"no frame", 2, 0, rate},
                          {"zero rate", 2, 1000, 0.0},
                          {"negative rate", 1, 1000, -48000.0}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        juce::AudioBuffer<float> audio(c.channels, c.frames);
        audio.clear();
        for (int ch = 0; ch < c.channels; ++ch)
            for (int i = 0; i < c.frames; ++i)
                audio.setSample(ch, i, 0.5f);
        const auto t = analyseSource(audio, c.sampleRate, nullptr);
        EXPECT_EQ(t.summary, invalidText);
        expectAllNumbersZero(t);
    }
}

TEST(SourceAnalysis, DigitalSilenceIsReportedAsSilent)
{
    const auto t = analyseSource(makeBuffer(2, 3, rate), rate, nullptr);
    EXPECT_EQ(t.summary, silentText);
    expectAllNumbersZero(t);
}

TEST(SourceAnalysis, CancelledAnalysisReturnsTheCancelMessageWithZeros)
{
    const std::atomic<bool> cancel{true};
    const auto t = analyseSource(clickTrain(2, 60, rate), rate, &cancel);
    EXPECT_EQ(t.summary, cancelledText);
    expectAllNumbersZero(t);

    const std::atomic<bool> notCancelled{false};
    EXPECT_EQ(analyseSource(clickTrain(2, 4, rate), rate, &notCancelled).family, 1);
}

TEST(SourceAnalysis, SingleSampleSourceHasExactTraits)
{
    juce::AudioBuffer<float> audio(1, 1);
    audio.setSample(0, 0, 0.5f);
    const auto t = analyseSource(audio, rate, nullptr);
    EXPECT_FLOAT_EQ(t.crestFactor, 1.0f);       // the peak is the RMS
    EXPECT_FLOAT_EQ(t.transientStrength, 1.0f); // everything is excess over a fresh envelope
    EXPECT_EQ(t.levelVariation, 0.0f);          // one block
    EXPECT_EQ(t.zeroCrossingRate, 0.0f);        // 0 to positive is no sign change
    EXPECT_EQ(t.stereoWidth, 0.0f);             // mono
    EXPECT_NEAR(t.lowShare + t.midShare + t.highShare, 1.0f, 1e-6f);
    EXPECT_FALSE(t.summary.isEmpty());
}

TEST(SourceAnalysis, ReadsEveryFrameUpToAMillionAndDecimatesBeyond)
{
    // Energy only on odd frames: seen when every frame is read (step 1) or the step is odd, unseen
    // with a step of 2.
    struct Case
    {
        int frames;
        bool silent;
    };
    for (const auto& c :
         {Case{1000000, false}, Case{1000001, true}, Case{2000000, true}, Case{2000001, false}})
    {
        SCOPED_TRACE(c.frames);
        juce::AudioBuffer<float> audio(1, c.frames);
        audio.clear();
        for (int i = 1; i < c.frames; i += 2)
            audio.setSample(0, i, (i / 7) % 2 ? 0.3f : -0.3f);
        EXPECT_EQ(analyseSource(audio, rate, nullptr).summary == silentText, c.silent);
    }
}

TEST(SourceAnalysis, ZeroCrossingsNeedASignChangeLargerThanTheNoiseFloor)
{
    // Two-valued patterns; the first frame follows an implicit 0, which counts as positive.
    struct Case
    {
        float even, odd;
        bool everyFrameAfterTheFirstCrosses;
    };
    const Case cases[] = {{4e-6f, -4e-6f, false}, // a step of 8e-6 is below the 1e-5 floor
                          {6e-6f, -6e-6f, true},
                          {0.0f, -1e-3f, true}, // 0 is positive, so 0 to negative and back are crossings
                          {0.0f, 1e-3f, false}};
    const int frames = 1000;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.even << ", " << c.odd);
        juce::AudioBuffer<float> audio(1, frames);
        for (int i = 0; i < frames; ++i)
            audio.setSample(0, i, i % 2 ? c.odd : c.even);
        const float expected = c.everyFrameAfterTheFirstCrosses ? (frames - 1) / (float)frames : 0.0f;
        EXPECT_FLOAT_EQ(analyseSource(audio, rate, nullptr).zeroCrossingRate, expected);
    }
}

TEST(SourceAnalysis, TransientStrengthOfAStepFollowsTheEnvelope)
{
    // A constant a from silence: after k frames the envelope is a (1 - 0.9975^k), and the excess
    // a - 1.65 e lasts until the envelope passes a / 1.65.
    const float a = 0.4f;
    const int frames = 24000;
    juce::AudioBuffer<float> audio(1, frames);
    for (int i = 0; i < frames; ++i)
        audio.setSample(0, i, a);

    double excess = 0;
    for (int k = 1; k <= frames; ++k)
        excess += std::max(0.0, a - 1.65 * a * (1 - std::pow(0.9975, k)));
    const double expected = excess / frames / a * 7;
    ASSERT_LT(expected, 1.0);

    const auto t = analyseSource(audio, rate, nullptr);
    EXPECT_NEAR(t.transientStrength, expected, 1e-5);
    EXPECT_FLOAT_EQ(t.crestFactor, 1.0f);
    EXPECT_EQ(t.levelVariation, 0.0f);
}

TEST(SourceAnalysis, StereoWidthIsTheSideToMidRatio)
{
    // Left = a x, right = b x: mid (a+b)/2 x, side (a-b)/2 x.
    struct Case
    {
        float a, b;
    };
    for (const auto& c : {Case{1, 1}, Case{1, 0}, Case{1, 0.5f}, Case{0.2f, 0.6f}, Case{1, -0.5f}})
    {
        SCOPED_TRACE(testing::Message() << c.a << ", " << c.b);
        auto audio = noise(2, 1, rate, 0.4f);
        audio.copyFrom(1, 0, audio, 0, 0, audio.getNumSamples());
        audio.applyGain(0, 0, audio.getNumSamples(), c.a);
        audio.applyGain(1, 0, audio.getNumSamples(), c.b);
        const double expected = std::min(1.0, std::abs((c.a - c.b) / (double)(c.a + c.b)));
        EXPECT_NEAR(analyseSource(audio, rate, nullptr).stereoWidth, expected, 1e-5);
    }
    EXPECT_EQ(analyseSource(noise(1, 1, rate, 0.4f), rate, nullptr).stereoWidth, 0.0f);
}

TEST(SourceAnalysis, SineCrestZeroCrossingsAndBandSharesMatchTheFilterResponses)
{
    for (double hz : {60.0, 700.0, 5000.0})
    {
        SCOPED_TRACE(hz);
        const auto t = analyseSource(sine(1, 4, rate, hz, 0.5f), rate, nullptr);
        EXPECT_NEAR(t.crestFactor, std::sqrt(2.0), 0.01);
        EXPECT_NEAR(t.zeroCrossingRate, 2 * hz / rate, 2.0 / (4 * rate));

        // Steady-state response of the one-pole low-passes at this frequency.
        const auto response = [&](double cutoff)
        {
            const double a = 1 - std::exp(-twoPi * cutoff / rate);
            const auto z = std::polar(1.0, -twoPi * hz / rate);
            return a / (1.0 - (1.0 - a) * z);
        };
        const auto h1 = response(180), h2 = response(2200);
        const double low = std::norm(h1), mid = std::norm(h2 - h1), high = std::norm(1.0 - h2);
        const double sum = low + mid + high;
        EXPECT_NEAR(t.lowShare, low / sum, 0.01);
        EXPECT_NEAR(t.midShare, mid / sum, 0.01);
        EXPECT_NEAR(t.highShare, high / sum, 0.01);
    }
}

TEST(SourceAnalysis, LevelVariationUsesQuarterSecondBlocksIncludingTheLastPartialOne)
{
    // Constant levels switching every block; block RMS is then the level itself.
    struct Case
    {
        double sampleRate;
        int blockLength;
        std::vector<float> levels; // one per block; a trailing half block uses the last entry
        bool trailingHalfBlock;
    };
    const Case cases[] = {{24000, 6000, {0.5f, 0.25f, 0.5f, 0.25f}, false},
                          {24000, 6000, {0.5f, 0.25f, 0.5f, 0.25f, 0.5f}, true},
                          {200, 64, {0.1f, 0.3f, 0.2f}, false}}; // 50 samples would be shorter than 64
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.sampleRate);
        const int blocks = (int)c.levels.size();
        const int frames = (blocks - (c.trailingHalfBlock ? 1 : 0)) * c.blockLength +
                           (c.trailingHalfBlock ? c.blockLength / 2 : 0);
        juce::AudioBuffer<float> audio(1, frames);
        for (int i = 0; i < frames; ++i)
            audio.setSample(0, i, c.levels[(size_t)(i / c.blockLength)]);

        double mean = 0, variance = 0;
        for (auto v : c.levels)
            mean += v / (double)blocks;
        for (auto v : c.levels)
            variance += (v - mean) * (v - mean) / blocks;
        const double expected = std::min(1.0, std::sqrt(variance) / mean * 1.8);
        EXPECT_NEAR(analyseSource(audio, c.sampleRate, nullptr).levelVariation, expected, 1e-5);
    }
}

TEST(SourceAnalysis, GeneratedSourcesReachEachFamily)
{
    struct Case
    {
        const char* name;
        std::function<juce::AudioBuffer<float>()> make;
        int family;
        int personality;
    };
    const Case cases[] = {
        {"click train", [] { return clickTrain(2, 4, rate); }, 1, 1},
        {"low sine", [] { return sine(1, 4, rate, 55, 0.5f); }, 2, 2},
        {"voice-like tone", [] { return voiceLike(4, rate); }, 3, 3},
        {"sustained pad", [] { return sustainedPad(4, rate); }, 4, 4},
        {"plucked notes", [] { return pluckedNotes(4, rate); }, 5, 7},
        {"wide mix", [] { return fullMix(4, rate); }, 6, 9},
        // Right at the crossover: as much bass as pad, so not confident.
        {"187.5 Hz sine", [] { return sine(1, 4, rate, 187.5, 0.5f); }, 0, 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const auto t = analyseSource(c.make(), rate, nullptr);
        EXPECT_EQ(t.family, c.family);
        EXPECT_EQ(t.recommendedPersonality, c.personality);

        auto scores = scoreSourceFamilies(t);
        std::sort(scores.begin(), scores.end(), [](auto& a, auto& b) { return a.score > b.score; });
        const double expectedConfidence = std::clamp(
            0.42 + 1.8 * (scores[0].score - scores[1].score) + 0.35 * (scores[0].score - 0.45), 0.0, 1.0);
        EXPECT_NEAR(t.confidence, expectedConfidence, 1e-6);
        const auto percent = juce::String(juce::roundToInt(t.confidence * 100));
        if (c.family != 0)
        {
            EXPECT_EQ(scores[0].family, c.family);
            EXPECT_GE(t.confidence, 0.52f);
            EXPECT_TRUE(
                t.summary.startsWith(sourceFamilyLabel(c.family) + " / " + percent + "% confidence from "))
                << t.summary;
            EXPECT_TRUE(t.summary.endsWith(".")) << t.summary;
        }
        else
        {
            EXPECT_LT(t.confidence, 0.52f);
            EXPECT_EQ(scores[0].family + scores[1].family, 2 + 4); // bass and pad lead
            EXPECT_EQ(t.summary, "Traits overlap multiple source families at " + percent +
                                     "% confidence; deterministic blind AUTO remains active.");
        }
        EXPECT_GT(t.crestFactor, 0.0f); // traits are kept in both cases
    }
}

TEST(SourceAnalysis, FamilyScoresForKnownTraits)
{
    // Worked by hand: T = 0.405, B = 0.65, A = 0.9642857, G = 0.8888889; drums and full mix get their
    // bonuses, vocal and bass their reductions.
    const auto t = measuredTraits(0.5f, 0.3f, 0.2f, 0.3f, 0.5f, 0.4f, 6.0f, 0.05f);
    const double expected[] = {0.6606, 0.499015, 0.4981597, 0.44015, 0.5738571, 1.0529286};
    const auto scores = scoreSourceFamilies(t);
    for (int i = 0; i < 6; ++i)
    {
        EXPECT_EQ(scores[(size_t)i].family, i + 1);
        EXPECT_NEAR(scores[(size_t)i].score, expected[i], 2e-6) << "family " << i + 1;
    }
}

TEST(SourceAnalysis, ConditionalBonusesApplyExactlyAtTheirThresholds)
{
    struct Case
    {
        const char* name;
        int family;
        SourceTraits inside, outside;
        double bonus;
    };
    const Case cases[] = {
        {"drums crest 5", 1, measuredTraits(0.3f, 0.3f, 0.4f, 0.3f, 0.5f, 0.1f, 5.0f, 0.1f),
         measuredTraits(0.3f, 0.3f, 0.4f, 0.3f, 0.5f, 0.1f, 4.9999f, 0.1f), 0.22},
        {"drums transients 0.25", 1, measuredTraits(0.3f, 0.3f, 0.4f, 0.25f, 0.5f, 0.1f, 6.0f, 0.1f),
         measuredTraits(0.3f, 0.3f, 0.4f, 0.2499f, 0.5f, 0.1f, 6.0f, 0.1f), 0.22},
        {"vocal variation 0.75", 3, measuredTraits(0.2f, 0.6f, 0.2f, 0.3f, 0.75f, 0.1f, 2.0f, 0.05f),
         measuredTraits(0.2f, 0.6f, 0.2f, 0.3f, 0.7501f, 0.1f, 2.0f, 0.05f), 0.24},
        {"vocal variation 0.25", 3, measuredTraits(0.2f, 0.6f, 0.2f, 0.3f, 0.25f, 0.1f, 2.0f, 0.05f),
         measuredTraits(0.2f, 0.6f, 0.2f, 0.3f, 0.2499f, 0.1f, 2.0f, 0.05f), 0.24},
        {"pad width 0.75", 4, measuredTraits(0.3f, 0.5f, 0.2f, 0.3f, 0.2f, 0.75f, 2.0f, 0.05f),
         measuredTraits(0.3f, 0.5f, 0.2f, 0.3f, 0.2f, 0.7499f, 2.0f, 0.05f), 0.24},
        {"guitar variation 0.75", 5, measuredTraits(0.2f, 0.45f, 0.35f, 0.3f, 0.75f, 0.1f, 4.0f, 0.05f),
         measuredTraits(0.2f, 0.45f, 0.35f, 0.3f, 0.7499f, 0.1f, 4.0f, 0.05f), 0.16},
        {"full mix transients 0.2", 6, measuredTraits(0.5f, 0.3f, 0.2f, 0.2f, 0.5f, 0.4f, 4.0f, 0.05f),
         measuredTraits(0.5f, 0.3f, 0.2f, 0.1999f, 0.5f, 0.4f, 4.0f, 0.05f), 0.3},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(familyScore(c.inside, c.family) - familyScore(c.outside, c.family), c.bonus, 2e-4);
    }
}

TEST(SourceAnalysis, ClassificationFromBestAndSecondScores)
{
    struct Case
    {
        int family;
        double best, second;
        float confidence;
        int expectedFamily, personality;
        const char* summary;
    };
    // Traits for the phrases: L 0.5, M 0.45, H 0.3, T = 0.85 + 0.15 = 1, S 0.22: every phrase but
    // "sustained envelope".
    const Case cases[] = {
        {3, 0.45, 0.45, 0.42f, 0, 0,
         "Traits overlap multiple source families at 42% confidence; deterministic blind AUTO remains "
         "active."},
        {5, 0.8, 0.6, 0.9025f, 5, 7,
         "GUITAR / 90% confidence from low-frequency weight, midrange focus, high-frequency detail, strong "
         "transients, stereo breadth."},
        {6, 0.5, 0.45, 0.5275f, 6, 9,
         "FULL MIX / 53% confidence from low-frequency weight, midrange focus, high-frequency detail, strong "
         "transients, stereo breadth."},
        {1, 1.2, 0.5, 1.0f, 1, 1,
         "DRUMS / 100% confidence from low-frequency weight, midrange focus, high-frequency detail, strong "
         "transients, stereo breadth."},
        {4, 0.2, 0.2, 0.3325f, 0, 0,
         "Traits overlap multiple source families at 33% confidence; deterministic blind AUTO remains "
         "active."},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.summary);
        auto t = measuredTraits(0.5f, 0.45f, 0.3f, 1.0f, 0.1f, 0.22f, 10.0f, 0.01f);
        classifySourceTraits(t, c.family, c.best, c.second);
        EXPECT_FLOAT_EQ(t.confidence, c.confidence);
        EXPECT_EQ(t.family, c.expectedFamily);
        EXPECT_EQ(t.recommendedPersonality, c.personality);
        EXPECT_EQ(t.summary, c.summary);
        EXPECT_EQ(t.lowShare, 0.5f); // measured traits survive
    }
}

TEST(SourceAnalysis, TraitPhrasesFollowTheirThresholds)
{
    struct Case
    {
        SourceTraits traits;
        const char* phrases;
    };
    const Case cases[] = {
        {measuredTraits(0.1f, 0.2f, 0.29f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f), "sustained envelope"},
        // T = 0.85 * 0.5 = 0.425: neither strong nor sustained.
        {measuredTraits(0.3f, 0.4f, 0.3f, 0.5f, 0.0f, 0.21f, 1.0f, 0.0f), "high-frequency detail"},
        {measuredTraits(0.3f, 0.4f, 0.29f, 0.5f, 0.0f, 0.21f, 1.0f, 0.0f),
         "balanced spectral and dynamic traits"},
        {measuredTraits(0.45f, 0.45f, 0.1f, 0.5f, 0.0f, 0.22f, 1.0f, 0.0f),
         "low-frequency weight, midrange focus, stereo breadth"},
    };
    for (const auto& c : cases)
    {
        auto t = c.traits;
        classifySourceTraits(t, 2, 0.9, 0.5);
        EXPECT_EQ(t.summary, juce::String("BASS / 100% confidence from ") + c.phrases + ".");
    }
}

TEST(SourceAnalysis, FamilyLabelsAndPersonalities)
{
    const char* labels[] = {"UNCERTAIN", "DRUMS", "BASS", "VOCAL", "PAD", "GUITAR", "FULL MIX", "UNCERTAIN"};
    const int personalities[] = {0, 1, 2, 3, 4, 7, 9, 0};
    for (int family = 0; family <= 7; ++family)
    {
        EXPECT_EQ(sourceFamilyLabel(family), labels[family]);
        EXPECT_EQ(personalityForFamily(family), personalities[family]);
    }
    EXPECT_EQ(sourceFamilyLabel(-1), "UNCERTAIN");
}

TEST(SourceAnalysis, PercentagesRoundHalvesToEven)
{
    EXPECT_EQ(roundHalfToEven(42.5), 42.0);
    EXPECT_EQ(roundHalfToEven(43.5), 44.0);
    EXPECT_EQ(roundHalfToEven(42.4999), 42.0);
    EXPECT_EQ(roundHalfToEven(42.5001), 43.0);
    EXPECT_EQ(roundHalfToEven(0.5), 0.0);
}
