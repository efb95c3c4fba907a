#include "TestSupport.h"

#include "processor/ParameterState.h"
#include "workflow/StableHash.h"
#include "workflow/TresselGeneration.h"
#include "workflow/TresselPersonality.h"
#include "workflow/TresselWorkflowController.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

using sorvane::test::makeProcessor;
using sorvane::test::parameter;
using sorvane::test::plain;
using sorvane::test::setPlain;

namespace
{
// The draw written out independently of the product's generator.
struct ReferenceDraws
{
    explicit ReferenceDraws(std::uint32_t seed) : state(seed) {}

    std::uint64_t step()
    {
        state = state * 0x5DEECE66Dull + 0xBull;
        return state;
    }

    static float unit(std::uint64_t s)
    {
        const float r = (float)(std::uint32_t)(s >> 16) / 4294967296.0f;
        return std::min(r, 0.99999988f);
    }

    float next() { return unit(step()); }

    std::uint64_t state;
};

juce::String xmlOf(const juce::ValueTree& tree)
{
    return tree.toXmlString();
}

double valueIn(const juce::ValueTree& tree, const char* id)
{
    return tree.getChildWithProperty(sorvane::stateIds::id, id).getProperty(sorvane::stateIds::value);
}

float normalisedIn(SorvaneAudioProcessor& processor, const juce::ValueTree& tree, const char* id)
{
    return parameter(processor, id).convertTo0to1((float)valueIn(tree, id));
}

// A plain value as a shaping step stores it: clamped into the parameter's range.
double rangeClamped(SorvaneAudioProcessor& processor, const char* id, float x)
{
    auto& p = parameter(processor, id);
    return (double)p.convertFrom0to1(juce::jlimit(0.0f, 1.0f, p.convertTo0to1(x)));
}

std::shared_ptr<sorvane::LoadedSample> sampleWithTraits(int family, float confidence, int personality)
{
    auto sample = std::make_shared<sorvane::LoadedSample>();
    sample->audio.setSize(2, 64);
    sample->audio.clear();
    sample->sampleRate = 48000.0;
    sample->name = "traits.wav";
    sample->traits.family = family;
    sample->traits.confidence = confidence;
    sample->traits.recommendedPersonality = personality;
    return sample;
}

// A baseline that differs from the defaults, so shapes visibly move it.
void setDistinctSound(SorvaneAudioProcessor& processor)
{
    setPlain(processor, "drive", 40.0f);
    setPlain(processor, "crush", 33.0f);
    setPlain(processor, "ring", 21.0f);
    setPlain(processor, "feedback", 57.0f);
    setPlain(processor, "tone", 6000.0f);
    setPlain(processor, "dimension", 44.0f);
    setPlain(processor, "mix", 70.0f);
    setPlain(processor, "output", -5.0f);
}
} // namespace

//======================================================================================================
TEST(TresselPersonality, ProfilesInSelectorOrderWithNamePackedSalts)
{
    const auto& profiles = sorvane::getTresselPersonalityProfiles();
    const char* names[] = {"AUTO",  "BROKEN", "MACHINE", "GHOST",         "MELT", "VOID",   "PANIC",
                           "GLASS", "DRUNK",  "CORRUPT", "TOTAL FAILURE", "???",  "ENHANCE"};
    for (int i = 0; i < sorvane::numTresselPersonalities; ++i)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(profiles[(size_t)i].id, i);
        EXPECT_EQ(profiles[(size_t)i].name, names[i]);
        EXPECT_LE(profiles[(size_t)i].amountLow, profiles[(size_t)i].amountHigh);

        if ((i >= 2 && i <= 10) || i == 12)
        {
            const auto name = juce::String(names[i]);
            const std::uint32_t packed =
                ((std::uint32_t)(juce::uint8)name[0] << 24) | ((std::uint32_t)(juce::uint8)name[1] << 16) |
                ((std::uint32_t)(juce::uint8)name[2] << 8) | (std::uint32_t)(juce::uint8)name[3];
            EXPECT_EQ(profiles[(size_t)i].seedSalt, packed);
        }
    }
    EXPECT_EQ(profiles[0].seedSalt, 0x51F15E1Du);
    EXPECT_EQ(profiles[1].seedSalt, 0x0B70C3D1u);
    EXPECT_EQ(profiles[11].seedSalt, 0x3F3F3F3Fu);
    EXPECT_EQ(profiles[10].amountLow, 0.30f);
    EXPECT_EQ(profiles[12].amountLow, 0.0f);
    EXPECT_EQ(profiles[6].amountHigh, 0.94f);
    EXPECT_TRUE(profiles[0].focusIds.empty());
    EXPECT_EQ(profiles[10].focusIds.size(), 6u);
    EXPECT_EQ(profiles[8].focusIds,
              (std::vector<juce::String>{"delayTime", "spectralRate", "dimension", "chaos"}));
}

TEST(TresselPersonality, AutoAndUnknownPickFromTheSeed)
{
    struct Case
    {
        std::uint32_t seed;
        int autoPick, unknownPick;
    };
    for (const auto& c : {Case{0, 8, 1}, Case{1, 7, 8}, Case{12345, 10, 6}})
    {
        SCOPED_TRACE(c.seed);
        EXPECT_EQ(sorvane::resolvePersonality(0, c.seed), c.autoPick);
        EXPECT_EQ(sorvane::resolvePersonality(11, c.seed), c.unknownPick);
    }

    for (int p : {1, 5, 10, 12})
        EXPECT_EQ(sorvane::resolvePersonality(p, 12345), p);

    for (std::uint32_t seed = 0; seed < 2000; seed += 7)
    {
        const int pick = sorvane::resolvePersonality(0, seed);
        EXPECT_GE(pick, 1);
        EXPECT_LE(pick, 10);
    }
}

TEST(TresselPersonality, DailySeedHashesTheLocalDate)
{
    // Expected values computed outside the product from the hash's definition.
    EXPECT_EQ(sorvane::dailyTresselSeed(juce::String("2026-12-10")), 1723042993u);
    EXPECT_EQ(sorvane::dailyTresselSeed(juce::String("2027-01-01")), 2997689890u);
    EXPECT_EQ(sorvane::dailyTresselSeed(juce::Time(2026, 11, 10, 23, 59, 0, 0, true)), 1723042993u);
}

//======================================================================================================
TEST(TresselController, GenerateCallsTheVariantFunctionWithSaltedSeedsAndIntensity)
{
    sorvane::TresselWorkflowController controller;
    const juce::ValueTree base("SORVANE_STATE");

    struct Call
    {
        std::uint32_t seed;
        float intensity;
    };
    std::vector<Call> calls;
    const auto record = [&calls](const juce::ValueTree& baseline, std::uint32_t seed, float h)
    {
        calls.push_back({seed, h});
        auto variant = baseline.createCopy();
        variant.setProperty("k", (int)calls.size(), nullptr);
        return variant;
    };

    const auto session = controller.generate(base, 0xFFFFFFF0u, sorvane::tresselGhost, 150.0f, true, record);

    ASSERT_EQ(calls.size(), 4u);
    const std::uint32_t salt = 0x47484F53u;
    const std::uint32_t offsets[] = {0, 7919, 15838, 23757};
    for (size_t k = 0; k < 4; ++k)
    {
        EXPECT_EQ(calls[k].seed, (std::uint32_t)(0xFFFFFFF0u + offsets[k] + salt));
        EXPECT_FLOAT_EQ(calls[k].intensity, 0.64f); // amount clamped to 100
        EXPECT_EQ((int)session.variants[k].getProperty("k"), (int)k + 1);
    }

    EXPECT_EQ(session.chaosPercent, 100.0f);
    EXPECT_EQ(session.personality, sorvane::tresselGhost);
    EXPECT_TRUE(session.reducedMotion);
    EXPECT_EQ(session.selectedVariant, -1);
    EXPECT_EQ(session.keptVariant, -1);
    ASSERT_EQ(session.history.size(), 1u);
    EXPECT_TRUE(session.history[0].isEquivalentTo(base));
    EXPECT_TRUE(session.isValid());

    // AUTO keeps 0 as requested but salts with the picked character.
    calls.clear();
    const auto autoSession = controller.generate(base, 0, sorvane::tresselAuto, 50.0f, false, record);
    EXPECT_EQ(autoSession.personality, 0);
    EXPECT_EQ(calls[0].seed, 0x4452554Eu); // seed 0 picks DRUNK
    EXPECT_FLOAT_EQ(calls[0].intensity, 0.14f + 0.5f * (0.82f - 0.14f));
}

TEST(TresselController, SelectKeepsTheSixteenNewestHistoryEntries)
{
    sorvane::TresselWorkflowController controller;
    juce::ValueTree out;
    EXPECT_FALSE(controller.select(0, out)) << "no session yet";

    const auto make = [](const juce::ValueTree& baseline, std::uint32_t seed, float)
    {
        auto variant = baseline.createCopy();
        variant.setProperty("variantSeed", (juce::int64)seed, nullptr);
        return variant;
    };
    const auto session = controller.generate(juce::ValueTree("SORVANE_STATE"), 5, 3, 35.0f, false, make);

    EXPECT_FALSE(controller.select(4, out));
    EXPECT_FALSE(controller.select(-1, out));
    EXPECT_EQ(controller.getSnapshot().selectedVariant, -1);

    for (int i = 0; i < 17; ++i)
        ASSERT_TRUE(controller.select(i % 4, out));

    const auto after = controller.getSnapshot();
    ASSERT_EQ(after.history.size(), 16u);
    EXPECT_EQ(after.selectedVariant, 0); // 16 % 4
    // The baseline entry was dropped; the newest entries are the last sixteen selections, 1..16.
    for (size_t i = 0; i < 16; ++i)
        EXPECT_TRUE(after.history[i].isEquivalentTo(session.variants[(i + 1) % 4])) << i;

    // What is handed out is a copy: editing it cannot reach the session.
    out.setProperty("edited", true, nullptr);
    EXPECT_FALSE(controller.getSnapshot().variants[0].hasProperty("edited"));
}

//======================================================================================================
TEST(TresselGeneration, SameInputsGiveIdenticalVariantsAndASeedChangesThem)
{
    const auto run = [](std::uint32_t seed, int personality)
    {
        auto processor = makeProcessor();
        setDistinctSound(*processor);
        processor->generateTressel(seed, personality, 60.0f, {}, false, false);
        return processor->getTresselSession();
    };

    for (int personality : {0, 3, 9, 11, 12})
    {
        SCOPED_TRACE(personality);
        const auto first = run(777, personality);
        const auto second = run(777, personality);
        const auto other = run(778, personality);
        for (size_t k = 0; k < 4; ++k)
        {
            EXPECT_EQ(xmlOf(first.variants[k]), xmlOf(second.variants[k]));
            if (personality == 11 || personality == 12)
            {
                EXPECT_NE(xmlOf(first.variants[k]), xmlOf(other.variants[k]));
            }
        }
        EXPECT_EQ(xmlOf(first.baseline), xmlOf(second.baseline));
    }
}

TEST(TresselGeneration, AppliesVariantAAndRecordsItInTheHistory)
{
    auto processor = makeProcessor();
    setDistinctSound(*processor);
    const auto historyBefore = processor->getMutationHistory().size();

    const auto result = processor->generateTressel(4242, sorvane::tresselMelt, 35.0f, {"tone"}, false, true);
    const auto session = processor->getTresselSession();

    EXPECT_EQ(processor->workflowSeed.load(), 4242u);
    EXPECT_EQ(result.resolvedPersonality, sorvane::tresselMelt);
    EXPECT_EQ(session.selectedVariant, 0);
    EXPECT_EQ(session.history.size(), 2u);
    EXPECT_EQ(processor->getMutationHistory().size(), historyBefore + 1);
    EXPECT_TRUE(processor->getTresselBase().isEquivalentTo(session.baseline));
    ASSERT_EQ(processor->getTresselVariants().size(), 4u);
    EXPECT_TRUE(processor->getTresselVariants()[2].isEquivalentTo(session.variants[2]));

    // The live sound is variant A; the locked tone kept its baseline value.
    EXPECT_FLOAT_EQ(plain(*processor, "drive"), (float)valueIn(session.variants[0], "drive"));
    EXPECT_FLOAT_EQ(plain(*processor, "tone"), 6000.0f);
    EXPECT_NE(plain(*processor, "drive"), 40.0f);
    EXPECT_NE(processor->lockWord.load() & (1u << 15), 0u) << "the control lock is written to the lock word";
}

TEST(TresselGeneration, ShapesFollowTheirTargetsAndALockedStepSpendsNoDraw)
{
    const std::uint32_t seed = 90210;
    const float amount = 50.0f;
    const float h = 0.08f + 0.5f * (0.64f - 0.08f); // GHOST
    const float g = 0.6f * h + 0.4f;

    for (const bool crushLocked : {false, true})
    {
        SCOPED_TRACE(crushLocked);
        auto processor = makeProcessor();
        setDistinctSound(*processor);
        juce::StringArray locks;
        if (crushLocked)
            locks.add("crush");
        processor->generateTressel(seed, sorvane::tresselGhost, amount, locks, false, false);
        const auto session = processor->getTresselSession();

        for (std::uint32_t k = 0; k < 4; ++k)
        {
            SCOPED_TRACE(k);
            const auto& variant = session.variants[k];
            ReferenceDraws draws(seed + 7919u * k + 0x47484F53u);
            // Twelve neutral zero steps, one fewer when crush is locked, then feedback and resDecay.
            for (int i = 0; i < (crushLocked ? 11 : 12); ++i)
                draws.next();
            draws.next();
            draws.next();
            const auto scaled = [&](const char* id, float x)
            { return rangeClamped(*processor, id, x * g * (0.9f + 0.2f * draws.next())); };

            const double resonance = scaled("resonance", 75.0f);
            const double resDecay = scaled("resDecay", 88.0f);
            const double delay = scaled("delay", 78.0f);
            const double feedback = scaled("feedback", 68.0f);
            const double dimension = scaled("dimension", 88.0f);

            EXPECT_EQ(valueIn(variant, "resonance"), resonance);
            EXPECT_EQ(valueIn(variant, "resDecay"), resDecay);
            EXPECT_EQ(valueIn(variant, "delay"), delay);
            EXPECT_EQ(valueIn(variant, "feedback"), feedback);
            EXPECT_EQ(valueIn(variant, "dimension"), dimension);
            EXPECT_EQ(valueIn(variant, "delayTime"), rangeClamped(*processor, "delayTime", 360.0f));

            // Neutral start for everything GHOST leaves alone.
            for (const char* id :
                 {"drive", "ring", "glitch", "reverse", "spectralWave", "fold", "spark", "chaos"})
                EXPECT_EQ(valueIn(variant, id), 0.0) << id;
            EXPECT_EQ(valueIn(variant, "reduce"), 1.0);
            EXPECT_EQ(valueIn(variant, "tone"), rangeClamped(*processor, "tone", 14500.0f));
            EXPECT_EQ(valueIn(variant, "resFreq"), rangeClamped(*processor, "resFreq", 440.0f));
            EXPECT_EQ(valueIn(variant, "ringFreq"), rangeClamped(*processor, "ringFreq", 220.0f));
            EXPECT_EQ(valueIn(variant, "spectralRate"), rangeClamped(*processor, "spectralRate", 0.4f));
            EXPECT_EQ(valueIn(variant, "division"), 2.0);
            EXPECT_EQ(valueIn(variant, "crush"), crushLocked ? valueIn(session.baseline, "crush") : 0.0);

            // Levels are the baseline's.
            EXPECT_EQ(valueIn(variant, "mix"), valueIn(session.baseline, "mix"));
            EXPECT_EQ(valueIn(variant, "output"), valueIn(session.baseline, "output"));
            EXPECT_FALSE(variant.hasProperty("tresselVariantName"));
        }
    }
}

TEST(TresselGeneration, LockedCrushKeepsItsValueInEveryShape)
{
    for (int personality = 0; personality <= 10; ++personality)
    {
        SCOPED_TRACE(personality);
        auto processor = makeProcessor();
        setDistinctSound(*processor);
        processor->generateTressel(31337, personality, 80.0f, {"crush"}, false, false);
        const auto session = processor->getTresselSession();
        for (const auto& variant : session.variants)
            EXPECT_EQ(valueIn(variant, "crush"), valueIn(session.baseline, "crush"));
    }
}

TEST(TresselGeneration, EnhanceAtZeroRecallsTheBaselineAndAboveZeroIsNamed)
{
    auto processor = makeProcessor();
    setDistinctSound(*processor);
    processor->generateTressel(11, sorvane::tresselEnhance, 0.0f, {}, false, false);
    auto session = processor->getTresselSession();
    for (const auto& variant : session.variants)
    {
        EXPECT_EQ(xmlOf(variant), xmlOf(session.baseline));
        EXPECT_FALSE(variant.hasProperty("tresselVariantName"));
    }

    processor->generateTressel(11, sorvane::tresselEnhance, 50.0f, {"delay"}, false, false);
    session = processor->getTresselSession();
    const float v = 0.5f;
    for (std::uint32_t k = 0; k < 4; ++k)
    {
        SCOPED_TRACE(k);
        const auto& variant = session.variants[k];
        EXPECT_EQ(variant.getProperty("tresselVariantName").toString(), "Enhance");

        ReferenceDraws draws(11u + 7919u * k + 0x454E4841u);
        for (const char* id : {"drive", "tone", "dimension", "spectralWave"})
        {
            const float r = ReferenceDraws::unit(draws.step());
            const bool up = ((draws.step() >> 46) & 1u) != 0;
            const float base = normalisedIn(*processor, session.baseline, id);
            const float expected =
                juce::jlimit(0.0f, 1.0f, base + (up ? 1.0f : -1.0f) * v * (0.25f + 0.75f * r) * 0.08f);
            EXPECT_EQ(valueIn(variant, id), (double)parameter(*processor, id).convertFrom0to1(expected))
                << id;
        }

        // Only the five enhance controls may move, and the locked delay does not.
        for (auto* p : processor->getParameters())
        {
            const auto id = dynamic_cast<juce::RangedAudioParameter*>(p)->getParameterID();
            if (id == "drive" || id == "tone" || id == "dimension" || id == "spectralWave")
                continue;
            EXPECT_EQ(valueIn(variant, id.toRawUTF8()), valueIn(session.baseline, id.toRawUTF8())) << id;
        }
    }
}

TEST(TresselGeneration, UnknownCapsFeedbackAndOutputUnlessLocked)
{
    for (const bool locked : {false, true})
    {
        SCOPED_TRACE(locked);
        for (std::uint32_t seed : {1u, 2u, 99u, 4000000000u})
        {
            auto processor = makeProcessor();
            setPlain(*processor, "feedback", 100.0f);
            setPlain(*processor, "output", 6.0f);
            juce::StringArray locks;
            if (locked)
                locks = {"feedback", "output"};
            processor->generateTressel(seed, sorvane::tresselUnknown, 100.0f, locks, false, false);
            for (const auto& variant : processor->getTresselSession().variants)
            {
                if (locked)
                {
                    EXPECT_EQ(valueIn(variant, "feedback"), 100.0);
                    EXPECT_EQ(valueIn(variant, "output"), 6.0);
                }
                else
                {
                    EXPECT_LE(normalisedIn(*processor, variant, "feedback"), 0.92f + 1e-6f);
                    EXPECT_NEAR(normalisedIn(*processor, variant, "output"), 0.625f, 1e-6f);
                }
            }
        }
    }
}

TEST(TresselGeneration, UnknownIsAMutationPlusAFocusDrift)
{
    auto processor = makeProcessor();
    setDistinctSound(*processor);
    // "???" picks PANIC for this seed; its range, salt and focus (glitch, division, spark, chaos) apply.
    const std::uint32_t seed = 12345;
    processor->generateTressel(seed, sorvane::tresselUnknown, 35.0f, {}, false, false);
    const auto session = processor->getTresselSession();
    const float h = 0.22f + 0.35f * (0.94f - 0.22f);

    for (std::uint32_t k = 0; k < 4; ++k)
    {
        SCOPED_TRACE(k);
        const std::uint32_t variantSeed = seed + 7919u * k + 0x50414E49u;
        auto expected = processor->makeMutatedSnapshot(session.baseline, variantSeed, h, {});
        ReferenceDraws draws(variantSeed ^ 0xA53C9E17u);
        for (const char* id : {"glitch", "division", "spark", "chaos"})
        {
            auto& p = parameter(*processor, id);
            const float v = processor->snapshotNormalisedValue(expected, p);
            const bool up = ((draws.step() >> 46) & 1u) != 0;
            const float r = ReferenceDraws::unit(draws.step());
            processor->setSnapshotNormalisedValue(expected, p, v + (up ? h : -h) * (0.08f + 0.18f * r));
        }
        EXPECT_EQ(xmlOf(session.variants[k]), xmlOf(expected));
    }
}

TEST(TresselGeneration, AutoUsesAConfidentSourceAndOtherwiseFallsBackBlind)
{
    struct Case
    {
        bool loaded;
        int family;
        float confidence;
        bool sourceAware;
        const char* reportTail;
    };
    const Case cases[] = {
        {false, 0, 0.0f, false, " / BLIND FALLBACK (LOW CONFIDENCE) / REVEALING ACTUAL CHOICES"},
        {true, 3, 0.51f, false, " / BLIND FALLBACK (LOW CONFIDENCE) / REVEALING ACTUAL CHOICES"},
        {true, 0, 0.90f, false, " / BLIND FALLBACK (LOW CONFIDENCE) / REVEALING ACTUAL CHOICES"},
        {true, 3, 0.52f, true, " / SOURCE-AWARE VOCAL / REVEALING ACTUAL CHOICES"},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.confidence);
        auto processor = makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
        if (c.loaded)
            processor->getSourceLibrary().publish(sampleWithTraits(c.family, c.confidence, 3));

        const auto result = processor->generateTressel(0, sorvane::tresselAuto, 35.0f, {}, false, false);
        EXPECT_EQ(result.sourceAware, c.sourceAware);
        EXPECT_EQ(result.resolvedPersonality,
                  c.sourceAware ? sorvane::tresselGhost : 8); // seed 0 blind: DRUNK
        EXPECT_EQ(processor->getTresselSession().personality, c.sourceAware ? 3 : 0);

        const auto expectedName = c.sourceAware ? juce::String("GHOST") : juce::String("DRUNK");
        EXPECT_EQ(sorvane::describeTresselGeneration(result, false),
                  "TRESSEL / " + expectedName + " / A ACTIVE / FOUR EXACT VARIANTS READY" + c.reportTail);
    }
}

TEST(TresselGeneration, ReportTextForEachCommand)
{
    sorvane::TresselGenerationResult result;
    result.selectorIndex = sorvane::tresselVoid;
    result.resolvedPersonality = sorvane::tresselVoid;
    result.reducedMotion = true;
    EXPECT_EQ(sorvane::describeTresselGeneration(result, true),
              "DAILY TRESSEL / VOID / A ACTIVE / FOUR EXACT VARIANTS READY / INSTANT");

    result.selectorIndex = sorvane::tresselAuto;
    result.resolvedPersonality = sorvane::tresselCorrupt;
    result.sourceAware = true;
    result.sourceFamily = 9;
    result.reducedMotion = false;
    EXPECT_EQ(sorvane::describeTresselGeneration(result, false),
              "TRESSEL / CORRUPT / A ACTIVE / FOUR EXACT VARIANTS READY / SOURCE-AWARE UNCERTAIN / REVEALING "
              "ACTUAL CHOICES");
}

//======================================================================================================
TEST(TresselAudition, SelectBeforeAndKeep)
{
    auto processor = makeProcessor();
    setDistinctSound(*processor);

    EXPECT_FALSE(processor->selectTresselVariant(0)) << "no session";
    EXPECT_FALSE(processor->keepTresselVariant());
    EXPECT_FALSE(processor->restoreTresselBaseline());

    processor->generateTressel(5, sorvane::tresselBroken, 40.0f, {}, false, false);
    const auto session = processor->getTresselSession();
    const auto historyBefore = processor->getMutationHistory().size();

    EXPECT_FALSE(processor->selectTresselVariant(4));
    ASSERT_TRUE(processor->selectTresselVariant(2));
    EXPECT_EQ(plain(*processor, "crush"), (float)valueIn(session.variants[2], "crush"));
    EXPECT_EQ(processor->getTresselSession().selectedVariant, 2);
    EXPECT_EQ(processor->getMutationHistory().size(), historyBefore + 1);

    ASSERT_TRUE(processor->restoreTresselBaseline());
    EXPECT_EQ(plain(*processor, "crush"), 33.0f);
    EXPECT_EQ(processor->getMutationHistory().size(), historyBefore + 2);
    EXPECT_EQ(processor->getTresselSession().selectedVariant, 2) << "BEFORE does not change the selection";

    ASSERT_TRUE(processor->keepTresselVariant());
    const auto kept = processor->getTresselSession();
    EXPECT_EQ(kept.keptVariant, 2);
    EXPECT_EQ(kept.dnaId, sorvane::treeDigest(session.variants[2]));
    EXPECT_EQ(kept.dnaId.length(), 16);
    EXPECT_EQ(plain(*processor, "crush"), (float)valueIn(session.variants[2], "crush"));
    EXPECT_EQ(processor->getMutationHistory().size(), historyBefore + 3);

    EXPECT_TRUE(processor->undoMutation());
    EXPECT_EQ(plain(*processor, "crush"), 33.0f);
}

TEST(TresselAudition, ChangingTheShapeRegeneratesFromTheOriginalBaseline)
{
    auto processor = makeProcessor();
    setDistinctSound(*processor);
    const auto original = processor->captureParameterSnapshot();

    processor->generateTressel(808, sorvane::tresselGhost, 50.0f, {}, false, false);
    ASSERT_TRUE(processor->selectTresselVariant(1));
    processor->generateTressel(808, sorvane::tresselMelt, 50.0f, {}, true, false);
    const auto regenerated = processor->getTresselSession();

    // The same generation straight from the original sound.
    auto fresh = makeProcessor();
    fresh->applyParameterSnapshot(original);
    fresh->generateTressel(808, sorvane::tresselMelt, 50.0f, {}, false, false);
    const auto expected = fresh->getTresselSession();

    EXPECT_EQ(xmlOf(regenerated.baseline), xmlOf(expected.baseline));
    for (size_t k = 0; k < 4; ++k)
        EXPECT_EQ(xmlOf(regenerated.variants[k]), xmlOf(expected.variants[k]));
}

TEST(TresselAudition, RegenerationHonoursCurrentLocksAndLevels)
{
    auto processor = makeProcessor();
    setDistinctSound(*processor);
    processor->generateTressel(808, sorvane::tresselGhost, 50.0f, {}, false, false);

    // After auditioning, the user turns the level down and locks a changed control.
    setPlain(*processor, "output", -9.0f);
    setPlain(*processor, "macroSpace", 30.0f);
    setPlain(*processor, "fold", 66.0f);
    processor->generateTressel(808, sorvane::tresselMelt, 50.0f, {"fold"}, true, false);
    const auto session = processor->getTresselSession();

    EXPECT_EQ(valueIn(session.baseline, "output"), -9.0);
    EXPECT_EQ(valueIn(session.baseline, "macroSpace"), 30.0);
    EXPECT_NEAR(valueIn(session.baseline, "fold"), 66.0, 1e-4);
    EXPECT_EQ(valueIn(session.baseline, "drive"), 40.0) << "unlocked controls come from the first baseline";
    EXPECT_EQ((juce::int64)session.baseline.getProperty("macroLocks"),
              (juce::int64)processor->lockWord.load());
}

TEST(TresselAudition, GroupRestoreReplacesOnlyTheMatchingSelectedVariant)
{
    auto processor = makeProcessor();
    processor->generateTressel(4, sorvane::tresselVoid, 50.0f, {}, false, false);
    ASSERT_TRUE(processor->selectTresselVariant(1));
    const auto before = processor->getTresselSession();

    auto restore = before.variants[1].createCopy();
    restore.getChildWithProperty(sorvane::stateIds::id, "drive")
        .setProperty(sorvane::stateIds::value, 12.0, nullptr);
    restore.setProperty(sorvane::stateIds::workflowGroupRestore, true, nullptr);

    struct Case
    {
        juce::int64 seed;
        int variant;
        bool replaces;
    };
    for (const auto& c : {Case{5, 1, false}, Case{4, 2, false}, Case{4, 1, true}})
    {
        SCOPED_TRACE(c.seed * 10 + c.variant);
        auto tree = restore.createCopy();
        tree.setProperty(sorvane::stateIds::workflowRestoreSeed, c.seed, nullptr);
        tree.setProperty(sorvane::stateIds::workflowRestoreVariant, c.variant, nullptr);
        processor->applyParameterSnapshot(tree);

        EXPECT_EQ(plain(*processor, "drive"), 12.0f) << "the parameters apply either way";
        const auto after = processor->getTresselSession();
        const double stored = valueIn(after.variants[1], "drive");
        EXPECT_EQ(stored == 12.0, c.replaces);
        EXPECT_EQ(valueIn(processor->getTresselVariants()[1], "drive") == 12.0, c.replaces);
        EXPECT_FALSE(after.variants[1].hasProperty(sorvane::stateIds::workflowGroupRestore));
        EXPECT_FALSE(
            processor->getParameterState().state.hasProperty(sorvane::stateIds::workflowGroupRestore));
    }
}

TEST(TresselAudition, MutationAndVariationsEndTheSession)
{
    auto processor = makeProcessor();
    EXPECT_FALSE(processor->selectMutationVariation(0));
    EXPECT_FALSE(processor->restoreMutationBaseline());
    processor->generateTressel(4, sorvane::tresselVoid, 50.0f, {}, false, false);
    ASSERT_TRUE(processor->getTresselSession().isValid());
    // The shared list serves the variation buttons too; the session keeps its own selection.
    ASSERT_TRUE(processor->selectMutationVariation(1));
    EXPECT_EQ(processor->captureParameterSnapshot().getChildWithProperty("id", "drive").getProperty("value"),
              processor->getTresselVariants()[1].getChildWithProperty("id", "drive").getProperty("value"));
    EXPECT_EQ(processor->getTresselSession().selectedVariant, 0);
    processor->mutateCurrentProgram(9, 0.5f, {});
    EXPECT_FALSE(processor->getTresselSession().isValid());
    EXPECT_TRUE(processor->getTresselVariants().empty());

    processor->generateTressel(4, sorvane::tresselVoid, 50.0f, {}, false, false);
    processor->generateMutationVariants(9, 0.5f, {});
    EXPECT_FALSE(processor->getTresselSession().isValid());
    ASSERT_EQ(processor->getTresselVariants().size(), 4u);

    // A variation set is auditioned from its list and recorded as the resulting sound.
    const auto historyBefore = processor->getMutationHistory().size();
    const auto variant = processor->getTresselVariants()[3];
    EXPECT_FALSE(processor->selectTresselVariant(3)) << "no session behind a variation set";
    EXPECT_FALSE(processor->restoreTresselBaseline());
    EXPECT_FALSE(processor->selectMutationVariation(4));
    ASSERT_TRUE(processor->selectMutationVariation(3));
    EXPECT_EQ(plain(*processor, "drive"), (float)valueIn(variant, "drive"));
    EXPECT_EQ(processor->getMutationHistory().size(), historyBefore + 1);
    ASSERT_TRUE(processor->restoreMutationBaseline());
    EXPECT_EQ(xmlOf(processor->captureParameterSnapshot()), xmlOf(processor->getTresselBase()));
}
