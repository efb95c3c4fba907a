#include "TestSupport.h"

#include "workflow/Mutation.h"
#include "workflow/TresselSessionTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

using sorvane::Mutation;
using sorvane::WorkflowRandom;
using sorvane::test::makeProcessor;
using sorvane::test::parameter;
using sorvane::test::plain;
using sorvane::test::setPlain;

namespace
{
constexpr float drawCap = 1.0f - std::numeric_limits<float>::epsilon();

juce::String xmlOf(const juce::ValueTree& tree)
{
    return tree.toXmlString();
}

juce::StringArray idsOf(std::initializer_list<const char*> ids)
{
    juce::StringArray result;
    for (auto* id : ids)
        result.add(id);
    return result;
}

// An independent reading of the mutation: the framework's own Random (the same generator family) for
// the draws, the mutated ids as listed in the design notes and plain child lookups on the tree.
juce::ValueTree referenceMutation(SorvaneAudioProcessor& processor, const juce::ValueTree& base,
                                  std::uint32_t seed, float strength, const juce::StringArray& locks)
{
    static const char* const mutatedInOrder[] = {
        "drive",    "crush",        "reduce",       "ring",      "ringFreq", "resonance", "resFreq",
        "resDecay", "glitch",       "division",     "reverse",   "delay",    "delayTime", "feedback",
        "tone",     "spectralWave", "spectralRate", "dimension", "fold",     "spark",     "chaos"};
    static const char* const jumps[] = {"glitch", "resonance",    "ring", "crush",
                                        "delay",  "spectralWave", "chaos"};

    auto tree = base.createCopy();
    const float s = std::min(1.0f, std::max(0.0f, strength));
    juce::Random random((juce::int64)seed);
    auto draw = [&random] { return std::min(random.nextFloat(), drawCap); };

    auto read = [&tree](juce::RangedAudioParameter& p)
    {
        for (const auto& child : tree)
            if (child["id"].toString() == p.getParameterID() && child.hasProperty("value"))
                return p.getNormalisableRange().convertTo0to1(
                    p.getNormalisableRange().snapToLegalValue((float)(double)child["value"]));
        return p.getDefaultValue();
    };
    auto write = [&tree](juce::RangedAudioParameter& p, float x)
    {
        for (auto child : tree)
            if (child["id"].toString() == p.getParameterID())
            {
                const auto& range = p.getNormalisableRange();
                child.setProperty(
                    "value", (double)range.snapToLegalValue(range.convertFrom0to1(std::clamp(x, 0.0f, 1.0f))),
                    nullptr);
                return;
            }
    };

    for (auto* id : mutatedInOrder)
    {
        if (locks.contains(id))
            continue;
        const juce::String name(id);
        const float width = (name == "reduce" || name == "division") ? 0.18f
                            : (name == "ringFreq" || name == "resFreq" || name == "delayTime" ||
                               name == "tone" || name == "spectralRate")
                                ? 0.22f
                                : 0.26f;
        auto& p = parameter(processor, id);
        const float v = read(p);
        const float r = draw();
        write(p, v + (r * 2.0f - 1.0f) * (s * width));
    }

    const int wanted = s >= 0.55f ? 3 : (s >= 0.25f ? 2 : 1);
    const float size = s * (0.2f + 0.45f * s);
    int made = 0;
    for (int attempt = 0; attempt < 16 && made < wanted; ++attempt)
    {
        const char* id = jumps[random.nextInt(7)];
        if (locks.contains(id))
            continue;
        auto& p = parameter(processor, id);
        const float v = read(p);
        write(p, draw() < 0.5f ? v - size : v + size);
        ++made;
    }

    tree.removeProperty("tresselVariantName", nullptr);
    return tree;
}

// A sound away from the defaults, so the walk starts from varied places (including both ends).
void setVariedSound(SorvaneAudioProcessor& processor)
{
    setPlain(processor, "drive", 100.0f);
    setPlain(processor, "crush", 0.0f);
    setPlain(processor, "reduce", 7.0f);
    setPlain(processor, "ringFreq", 1234.5f);
    setPlain(processor, "division", 5.0f);
    setPlain(processor, "delayTime", 333.3f);
    setPlain(processor, "tone", 2500.0f);
    setPlain(processor, "spectralRate", 3.21f);
    setPlain(processor, "input", 4.5f);
    setPlain(processor, "mix", 63.0f);
    setPlain(processor, "output", -2.5f);
    setPlain(processor, "macroDamage", 40.0f);
    setPlain(processor, "macroMotion", 75.0f);
    setPlain(processor, "standaloneTempo", 97.0f);
    setPlain(processor, "delaySync", 4.0f);
    setPlain(processor, "resultLevel", -3.0f);
}

const char* const excludedIds[] = {
    "input",          "mix",         "output",        "autoLevel",  "audioQuality", "matchSourceLevel",
    "resultLevel",    "macroDamage", "macroFracture", "macroSpace", "macroMotion",  "delaySync",
    "standaloneTempo"};
const char* const jumpIds[] = {"glitch", "resonance", "ring", "crush", "delay", "spectralWave", "chaos"};
} // namespace

//======================================================================================================
TEST(MutationRandom, FirstDrawsFollowTheRecurrenceByHand)
{
    // Seed 0: state 0xB, bits 16..47 are zero.
    WorkflowRandom zero(0);
    EXPECT_EQ(zero.nextUnit(), 0.0f);
    EXPECT_EQ(zero.getState(), 0xBull);

    // Seed 1: state 0x5DEECE66D + 0xB = 0x5DEECE678, bits 16..47 = 0x5DEEC.
    WorkflowRandom one(1);
    EXPECT_EQ(one.nextUnit(), (float)0x5DEEC / 4294967296.0f);
    EXPECT_EQ(one.getState(), 0x5DEECE678ull);

    // Zero extension: the top seed is 2^32 - 1, not -1.
    WorkflowRandom top(0xFFFFFFFFu);
    top.advance();
    EXPECT_EQ(top.getState(), 0xFFFFFFFFull * 0x5DEECE66Dull + 0xBull);
}

TEST(MutationRandom, MatchesTheFrameworkGeneratorOverLongRuns)
{
    for (const std::uint32_t seed : {0u, 1u, 42u, 7919u, 123456789u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu})
    {
        WorkflowRandom units(seed), indices(seed);
        juce::Random unitReference((juce::int64)seed), indexReference((juce::int64)seed);
        for (int i = 0; i < 500; ++i)
        {
            ASSERT_EQ(units.nextUnit(), std::min(unitReference.nextFloat(), drawCap))
                << seed << " draw " << i;
            ASSERT_EQ(indices.nextIndex(7), indexReference.nextInt(7)) << seed << " draw " << i;
        }
    }
}

TEST(MutationRandom, UnitDrawsStayBelowOne)
{
    struct Case
    {
        std::uint32_t bits;
        float expected;
    };
    const Case cases[] = {
        {0x00000000u, 0.0f},
        {0x80000000u, 0.5f},
        {0x00010000u, 1.0f / 65536.0f},
        {0xFFFFFD00u, 1.0f - 3.0f * std::ldexp(1.0f, -24)},
        {0xFFFFFE00u, drawCap},
        {0xFFFFFF00u, drawCap}, // rounds to 1 - 2^-24, above the cap
        {0xFFFFFFFFu, drawCap}, // rounds to 1
    };
    for (const auto& c : cases)
        for (const std::uint64_t high : {0x0ull, 0xABCDull})
        {
            const std::uint64_t state = (high << 48) | ((std::uint64_t)c.bits << 16) | 0x1234u;
            EXPECT_EQ(WorkflowRandom::unitFromState(state), c.expected) << std::hex << c.bits;
            EXPECT_LT(WorkflowRandom::unitFromState(state), 1.0f);
        }
}

TEST(MutationRandom, IndexDrawsScaleTheSameBits)
{
    struct Case
    {
        std::uint32_t bits;
        int expected;
    };
    // 0x24924924 * 7 = 0xFFFFFFFC stays below 2^32; one more crosses it.
    const Case cases[] = {{0u, 0}, {0x24924924u, 0}, {0x24924925u, 1}, {0x80000000u, 3}, {0xFFFFFFFFu, 6}};
    for (const auto& c : cases)
        EXPECT_EQ(WorkflowRandom::indexFromState(((std::uint64_t)c.bits << 16) | 0xFFFFu, 7), c.expected)
            << std::hex << c.bits;
}

//======================================================================================================
TEST(MutationSnapshotValues, ReadsNormalisedValuesAndDefaultsForMissingOnes)
{
    auto processor = makeProcessor();
    setVariedSound(*processor);
    auto tree = processor->captureParameterSnapshot();

    for (auto* id : SorvaneAudioProcessor::parameterIds)
    {
        auto& p = parameter(*processor, id);
        EXPECT_EQ(processor->snapshotNormalisedValue(tree, p), p.convertTo0to1(plain(*processor, id))) << id;
    }

    auto& tone = parameter(*processor, "tone");
    auto withoutValue = tree.createCopy();
    withoutValue.getChildWithProperty("id", "tone").removeProperty("value", nullptr);
    EXPECT_EQ(processor->snapshotNormalisedValue(withoutValue, tone), tone.getDefaultValue());

    auto withoutChild = tree.createCopy();
    withoutChild.removeChild(withoutChild.getChildWithProperty("id", "tone"), nullptr);
    EXPECT_EQ(processor->snapshotNormalisedValue(withoutChild, tone), tone.getDefaultValue());
    EXPECT_NE(tone.getDefaultValue(), tone.convertTo0to1(2500.0f));
}

TEST(MutationSnapshotValues, WritesClampedSnappedPlainValues)
{
    auto processor = makeProcessor();
    struct Case
    {
        const char* id;
        float normalised;
        float expectedPlain;
    };
    const Case cases[] = {
        {"tone", 1.7f, 20000.0f}, {"tone", -0.3f, 250.0f},    {"reduce", 0.0f, 1.0f},
        {"reduce", 1.0f, 32.0f},  {"division", 2.0f, 5.0f},   {"delayTime", -1.0f, 5.0f},
        {"drive", 0.5f, 50.0f},   {"feedback", 1.0f, 100.0f},
    };
    for (const auto& c : cases)
    {
        auto tree = processor->captureParameterSnapshot();
        processor->setSnapshotNormalisedValue(tree, parameter(*processor, c.id), c.normalised);
        const auto value = tree.getChildWithProperty("id", c.id)["value"];
        EXPECT_TRUE(value.isDouble()) << c.id;
        EXPECT_EQ((float)(double)value, c.expectedPlain) << c.id << " " << c.normalised;
    }

    // In between, the value lands on the parameter's step.
    for (const char* id : {"reduce", "division", "delayTime", "ringFreq", "tone"})
        for (const float x : {0.013f, 0.377f, 0.5f, 0.8412f})
        {
            auto& p = parameter(*processor, id);
            auto tree = processor->captureParameterSnapshot();
            processor->setSnapshotNormalisedValue(tree, p, x);
            const float stored = (float)(double)tree.getChildWithProperty("id", id)["value"];
            const auto& range = p.getNormalisableRange();
            EXPECT_EQ(stored, range.snapToLegalValue(range.convertFrom0to1(x))) << id << " " << x;
            EXPECT_EQ(stored, range.snapToLegalValue(stored)) << id << " " << x;
        }

    auto tree = processor->captureParameterSnapshot();
    tree.removeChild(tree.getChildWithProperty("id", "fold"), nullptr);
    const auto before = xmlOf(tree);
    processor->setSnapshotNormalisedValue(tree, parameter(*processor, "fold"), 0.9f);
    EXPECT_EQ(xmlOf(tree), before);
}

//======================================================================================================
TEST(Mutation, AgreesWithAnIndependentReadingAcrossSeedsStrengthsAndLocks)
{
    auto processor = makeProcessor();
    setVariedSound(*processor);
    const auto base = processor->captureParameterSnapshot();
    const auto baseXml = xmlOf(base);

    const juce::StringArray lockSets[] = {
        {},
        idsOf({"drive", "tone", "glitch"}),
        idsOf({"glitch", "resonance", "ring", "crush", "delay", "spectralWave", "chaos"}),
        idsOf({"reduce", "division", "delayTime", "notAParameter"}),
    };
    for (const std::uint32_t seed : {0u, 1u, 2u, 99u, 7919u, 424242u, 0xFFFFFFFFu})
        for (const float strength : {0.0f, 0.1f, 0.2499f, 0.25f, 0.5f, 0.55f, 0.83f, 1.0f, 1.7f, -0.4f})
            for (const auto& locks : lockSets)
            {
                const auto mutated = processor->makeMutatedSnapshot(base, seed, strength, locks);
                ASSERT_EQ(xmlOf(mutated), xmlOf(referenceMutation(*processor, base, seed, strength, locks)))
                    << "seed " << seed << " strength " << strength << " locks " << locks.joinIntoString(",");
            }

    EXPECT_EQ(xmlOf(base), baseXml);
}

TEST(Mutation, SameInputsGiveTheSameTreeInSeparateProcessors)
{
    auto first = makeProcessor();
    auto second = makeProcessor();
    for (auto* p : {first.get(), second.get()})
    {
        setVariedSound(*p);
        p->mutateCurrentProgram(31337u, 0.7f, idsOf({"fold"}));
    }
    EXPECT_EQ(xmlOf(first->captureParameterSnapshot()), xmlOf(second->captureParameterSnapshot()));
    EXPECT_NE(xmlOf(first->captureParameterSnapshot()), xmlOf(first->getMutationHistory().getEntry(0)));
}

TEST(Mutation, DifferentSeedsGiveDifferentTrees)
{
    auto processor = makeProcessor();
    const auto base = processor->captureParameterSnapshot();
    EXPECT_NE(xmlOf(processor->makeMutatedSnapshot(base, 5u, 0.6f, {})),
              xmlOf(processor->makeMutatedSnapshot(base, 6u, 0.6f, {})));
}

TEST(Mutation, StrengthZeroKeepsTheSoundButSpendsEveryDraw)
{
    auto processor = makeProcessor();
    setVariedSound(*processor);
    const auto base = processor->captureParameterSnapshot();
    const Mutation mutation(processor->getParameters());

    for (const std::uint32_t seed : {3u, 77u, 0xFFFFFFFFu})
    {
        const auto outcome = mutation.mutate(base, seed, 0.0f, {});
        EXPECT_EQ(outcome.walkDraws, 21);
        EXPECT_EQ(outcome.jumpsMade, 1);
        EXPECT_EQ(outcome.jumpSize, 0.0f);
        for (auto* id : SorvaneAudioProcessor::parameterIds)
            EXPECT_EQ((float)base.getChildWithProperty("id", id)["value"],
                      (float)outcome.tree.getChildWithProperty("id", id)["value"])
                << id;
    }
}

TEST(Mutation, JumpCountAndSizeFollowTheStrength)
{
    struct Case
    {
        float strength;
        int jumps;
        float size;
    };
    const Case cases[] = {
        {-2.0f, 1, 0.0f},
        {0.0f, 1, 0.0f},
        {0.1f, 1, 0.1f * (0.2f + 0.45f * 0.1f)},
        {0.2499f, 1, 0.2499f * (0.2f + 0.45f * 0.2499f)},
        {0.25f, 2, 0.25f * (0.2f + 0.45f * 0.25f)},
        {0.5499f, 2, 0.5499f * (0.2f + 0.45f * 0.5499f)},
        {0.55f, 3, 0.55f * (0.2f + 0.45f * 0.55f)},
        {1.0f, 3, 0.65f},
        {3.0f, 3, 0.65f},
    };
    auto processor = makeProcessor();
    const auto base = processor->captureParameterSnapshot();
    const Mutation mutation(processor->getParameters());
    for (const auto& c : cases)
    {
        const auto outcome = mutation.mutate(base, 1234u, c.strength, {});
        EXPECT_EQ(outcome.walkDraws, 21) << c.strength;
        EXPECT_EQ(outcome.jumpsMade, c.jumps) << c.strength;
        EXPECT_EQ(outcome.jumpAttempts, c.jumps) << c.strength;
        EXPECT_NEAR(outcome.jumpSize, c.size, 1e-6f) << c.strength;
    }
}

TEST(Mutation, StrengthAboveOneActsAsOne)
{
    auto processor = makeProcessor();
    setVariedSound(*processor);
    const auto base = processor->captureParameterSnapshot();
    for (const std::uint32_t seed : {8u, 800u})
        EXPECT_EQ(xmlOf(processor->makeMutatedSnapshot(base, seed, 4.5f, {})),
                  xmlOf(processor->makeMutatedSnapshot(base, seed, 1.0f, {})));
}

TEST(Mutation, WalkWidthsPerParameter)
{
    struct Case
    {
        const char* id;
        float width;
    };
    const Case cases[] = {{"reduce", 0.18f},       {"division", 0.18f},  {"ringFreq", 0.22f},
                          {"resFreq", 0.22f},      {"delayTime", 0.22f}, {"tone", 0.22f},
                          {"spectralRate", 0.22f}, {"drive", 0.26f},     {"chaos", 0.26f},
                          {"feedback", 0.26f}};
    for (const auto& c : cases)
        EXPECT_EQ(Mutation::walkWidth(c.id), c.width) << c.id;
}

TEST(Mutation, WithEveryJumpTargetLockedAllAttemptsAreSpentAndNothingJumps)
{
    auto processor = makeProcessor();
    setVariedSound(*processor);
    const auto base = processor->captureParameterSnapshot();
    juce::StringArray locks;
    for (auto* id : jumpIds)
        locks.add(id);

    const Mutation mutation(processor->getParameters());
    for (const float strength : {0.0f, 0.3f, 1.0f})
    {
        const auto outcome = mutation.mutate(base, 55u, strength, locks);
        EXPECT_EQ(outcome.jumpAttempts, 16);
        EXPECT_EQ(outcome.jumpsMade, 0);
        EXPECT_EQ(outcome.walkDraws, 21 - 7);
        for (auto* id : jumpIds)
            EXPECT_EQ(xmlOf(base.getChildWithProperty("id", id)),
                      xmlOf(outcome.tree.getChildWithProperty("id", id)))
                << id;
    }
}

TEST(Mutation, LevelsMacrosAndTempoNeverMove)
{
    auto processor = makeProcessor();
    setVariedSound(*processor);
    const auto base = processor->captureParameterSnapshot();
    const Mutation mutation(processor->getParameters());

    for (const std::uint32_t seed : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u})
    {
        const auto outcome = mutation.mutate(base, seed, 1.0f, {});
        EXPECT_EQ(outcome.walkDraws, 21);
        for (auto* id : excludedIds)
            EXPECT_EQ(xmlOf(base.getChildWithProperty("id", id)),
                      xmlOf(outcome.tree.getChildWithProperty("id", id)))
                << id;
    }
}

TEST(Mutation, LockedParametersKeepTheirValuesAndVariantNameIsDropped)
{
    auto processor = makeProcessor();
    setVariedSound(*processor);
    auto base = processor->captureParameterSnapshot();
    base.setProperty("tresselVariantName", "B", nullptr);
    base.setProperty("presetName", "Kept", nullptr);
    const auto locks = idsOf({"drive", "ringFreq", "glitch", "tone"});

    const auto mutated = processor->makeMutatedSnapshot(base, 2024u, 1.0f, locks);
    for (const auto& id : locks)
        EXPECT_EQ(xmlOf(base.getChildWithProperty("id", id)), xmlOf(mutated.getChildWithProperty("id", id)))
            << id;
    EXPECT_FALSE(mutated.hasProperty("tresselVariantName"));
    EXPECT_EQ(mutated["presetName"].toString(), "Kept");
    EXPECT_TRUE(base.hasProperty("tresselVariantName"));
}

//======================================================================================================
TEST(MutationLocks, EffectiveLocksFromWordAndControls)
{
    struct Case
    {
        std::uint64_t word;
        juce::StringArray controls;
        juce::StringArray expected;
    };
    const Case cases[] = {
        {0, {}, {}},
        {0, idsOf({"fold", "drive", "fold"}), idsOf({"fold", "drive"})},
        {1ull << 25, {}, idsOf({"glitch", "division", "reverse", "spectralWave", "spectralRate", "chaos"})},
        {1ull << 24, idsOf({"tone"}),
         idsOf({"ring", "ringFreq", "resonance", "resFreq", "resDecay", "tone"})},
        {(1ull << 26) | 0x3, idsOf({"delay", "mix"}),
         idsOf({"input", "drive", "delay", "delayTime", "feedback", "dimension", "mix"})},
        {3ull << 27, {}, idsOf({"input",    "drive",     "crush",   "reduce",       "ring",
                                "ringFreq", "resonance", "resFreq", "resDecay",     "glitch",
                                "division", "reverse",   "tone",    "spectralWave", "spectralRate",
                                "fold",     "spark",     "chaos",   "mix",          "output"})},
        {(1ull << 27) | (1ull << 40), idsOf({"ring"}),
         idsOf({"input", "drive",     "crush",    "reduce", "glitch",       "division",     "reverse",
                "delay", "delayTime", "feedback", "tone",   "spectralWave", "spectralRate", "dimension",
                "fold",  "spark",     "chaos",    "mix",    "output",       "ring"})},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(Mutation::effectiveLocks(c.word, c.controls), c.expected) << std::hex << c.word;

        auto processor = makeProcessor();
        processor->lockWord.store(c.word);
        EXPECT_EQ(processor->getEffectiveMutationLocks(c.controls), c.expected) << std::hex << c.word;
    }
}

TEST(MutationLocks, IndividualBitsAreReplacedAndTheRestKept)
{
    const std::uint64_t high = (1ull << 25) | (2ull << 27) | (1ull << 50);
    EXPECT_EQ(Mutation::withIndividualLocks(high | 0xFFFFFF, idsOf({"input", "output", "notAnId"})),
              high | 1u | (1u << 23));
    EXPECT_EQ(Mutation::withIndividualLocks(high | 0x12, {}), high);
}

//======================================================================================================
TEST(MutationProcessor, MutateUpdatesSeedLocksSoundAndHistory)
{
    auto processor = makeProcessor();
    setVariedSound(*processor);
    const std::uint64_t high = (1ull << 24) | (1ull << 45);
    processor->lockWord.store(high | 0xF0F0);
    processor->projectDirty.store(false);
    const auto controls = idsOf({"crush", "fold"});

    auto expectedBase = processor->captureParameterSnapshot();
    const std::uint64_t expectedWord =
        high | sorvane::lockBitForParameterId("crush") | sorvane::lockBitForParameterId("fold");
    expectedBase.setProperty("macroLocks", (juce::int64)expectedWord, nullptr);
    const auto expectedLocks = Mutation::effectiveLocks(expectedWord, controls);
    const auto expected = referenceMutation(*processor, expectedBase, 6502u, 0.9f, expectedLocks);

    processor->mutateCurrentProgram(6502u, 0.9f, controls);

    EXPECT_EQ(processor->workflowSeed.load(), 6502u);
    EXPECT_EQ(processor->lockWord.load(), expectedWord);
    EXPECT_TRUE(processor->projectDirty.load());
    const auto live = processor->captureParameterSnapshot();
    EXPECT_EQ(xmlOf(live), xmlOf(expected));
    for (const auto* id : {"crush", "fold", "ring", "resFreq"})
        EXPECT_EQ(xmlOf(expectedBase.getChildWithProperty("id", id)),
                  xmlOf(live.getChildWithProperty("id", id)))
            << id;

    const auto& history = processor->getMutationHistory();
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history.getIndex(), 1u);
    EXPECT_EQ(xmlOf(history.getEntry(1)), xmlOf(live));
}

TEST(MutationProcessor, StartsWithTheDefaultSoundAsTheOnlyEntry)
{
    auto processor = makeProcessor();
    const auto& history = processor->getMutationHistory();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history.getIndex(), 0u);
    EXPECT_EQ(xmlOf(history.getEntry(0)), xmlOf(processor->captureParameterSnapshot()));

    setPlain(*processor, "drive", 77.0f);
    EXPECT_FALSE(processor->undoMutation());
    EXPECT_EQ(plain(*processor, "drive"), 77.0f);
    EXPECT_FALSE(processor->redoMutation());
}

TEST(MutationProcessor, UndoAndRedoWalkTheRecordedSounds)
{
    auto processor = makeProcessor();
    std::vector<juce::String> sounds{xmlOf(processor->captureParameterSnapshot())};
    for (const std::uint32_t seed : {10u, 11u, 12u})
    {
        processor->mutateCurrentProgram(seed, 0.6f, {});
        sounds.push_back(xmlOf(processor->captureParameterSnapshot()));
    }
    processor->workflowSeed.store(4242u);

    for (int i = (int)sounds.size() - 2; i >= 0; --i)
    {
        ASSERT_TRUE(processor->undoMutation());
        EXPECT_EQ(xmlOf(processor->captureParameterSnapshot()), sounds[(size_t)i]);
    }
    EXPECT_FALSE(processor->undoMutation());
    EXPECT_EQ(xmlOf(processor->captureParameterSnapshot()), sounds.front());

    for (size_t i = 1; i < sounds.size(); ++i)
    {
        ASSERT_TRUE(processor->redoMutation());
        EXPECT_EQ(xmlOf(processor->captureParameterSnapshot()), sounds[i]);
    }
    EXPECT_FALSE(processor->redoMutation());
    EXPECT_EQ(processor->workflowSeed.load(), 4242u);
}

TEST(MutationProcessor, UndoAndRedoLeaveLocksSeedAndSessionAlone)
{
    auto processor = makeProcessor();
    const auto sessionText = [&processor]
    { return sorvane::tresselSessionToTree(processor->getTresselSession()).toXmlString(); };
    processor->mutateCurrentProgram(1u, 0.5f, {});
    processor->generateTressel(77u, 3, 50.0f, {}, false, false);
    const auto session = sessionText();
    const auto afterGeneration = xmlOf(processor->getMutationHistory().getEntry(2));

    // Locks set after the recorded sounds survive stepping back and forth.
    processor->setMacroLockedParameterIds({"drive", "tone"});
    processor->lockWord.store(processor->lockWord.load() | (2ull << 27));
    const auto locks = processor->lockWord.load();

    ASSERT_TRUE(processor->undoMutation());
    ASSERT_TRUE(processor->undoMutation());
    EXPECT_EQ(processor->lockWord.load(), locks);
    ASSERT_TRUE(processor->redoMutation());
    ASSERT_TRUE(processor->redoMutation());
    EXPECT_EQ(processor->lockWord.load(), locks);
    EXPECT_EQ(processor->workflowSeed.load(), 77u);
    EXPECT_EQ(sessionText(), session);

    // The sound is the recorded one; only the lock word differs from it.
    auto current = processor->captureParameterSnapshot();
    current.setProperty("macroLocks", juce::ValueTree::fromXml(afterGeneration).getProperty("macroLocks"),
                        nullptr);
    EXPECT_EQ(xmlOf(current), afterGeneration);
}

TEST(MutationProcessor, MutationAfterUndosEndsTheRedoBranch)
{
    auto processor = makeProcessor();
    for (const std::uint32_t seed : {1u, 2u, 3u, 4u, 5u})
        processor->mutateCurrentProgram(seed, 0.5f, {});
    ASSERT_EQ(processor->getMutationHistory().size(), 6u);
    const auto kept = xmlOf(processor->getMutationHistory().getEntry(2));

    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(processor->undoMutation());
    processor->mutateCurrentProgram(9u, 0.5f, {});

    const auto& history = processor->getMutationHistory();
    ASSERT_EQ(history.size(), 4u);
    EXPECT_EQ(history.getIndex(), 3u);
    EXPECT_EQ(xmlOf(history.getEntry(2)), kept);
    EXPECT_FALSE(processor->redoMutation());
}

TEST(MutationProcessor, VariantsAreFourSeededMutationsOfTheUnchangedSound)
{
    for (const std::uint32_t seed : {500u, 0xFFFFFFFFu - 7919u})
    {
        auto processor = makeProcessor();
        setVariedSound(*processor);
        processor->mutateCurrentProgram(1u, 0.4f, {});
        const auto historyBefore = processor->getMutationHistory().size();
        const auto controls = idsOf({"spark"});
        processor->lockWord.store(1ull << 26);

        auto expectedBase = processor->captureParameterSnapshot();
        const std::uint64_t expectedWord = (1ull << 26) | sorvane::lockBitForParameterId("spark");
        expectedBase.setProperty("macroLocks", (juce::int64)expectedWord, nullptr);
        const auto locks = Mutation::effectiveLocks(expectedWord, controls);

        processor->generateMutationVariants(seed, 0.8f, controls);

        EXPECT_EQ(processor->workflowSeed.load(), seed);
        EXPECT_EQ(processor->lockWord.load(), expectedWord);
        EXPECT_EQ(xmlOf(processor->getTresselBase()), xmlOf(expectedBase));
        EXPECT_EQ(xmlOf(processor->captureParameterSnapshot()), xmlOf(expectedBase));
        EXPECT_EQ(processor->getMutationHistory().size(), historyBefore);

        const auto& variants = processor->getTresselVariants();
        ASSERT_EQ(variants.size(), 4u);
        for (std::uint32_t k = 0; k < 4; ++k)
        {
            const std::uint32_t variantSeed =
                (std::uint32_t)(((std::uint64_t)seed + 7919u * k) & 0xFFFFFFFFu);
            EXPECT_EQ(xmlOf(variants[k]),
                      xmlOf(referenceMutation(*processor, expectedBase, variantSeed, 0.8f, locks)))
                << k;
        }
        EXPECT_NE(xmlOf(variants[0]), xmlOf(variants[1]));

        processor->mutateCurrentProgram(seed, 0.8f, controls);
        EXPECT_TRUE(processor->getTresselVariants().empty());
        EXPECT_FALSE(processor->getTresselBase().isValid());
    }
}
