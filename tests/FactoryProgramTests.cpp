#include "TestSupport.h"

#include "presets/FactoryPresets.h"
#include "presets/FactoryVariationFunction.h"
#include "processor/ParameterState.h"
#include "workflow/TresselPersonality.h"
#include "workflow/TresselWorkflowController.h"

#include <gtest/gtest.h>

using sorvane::test::makeProcessor;
using sorvane::test::parameter;
using sorvane::test::plain;
using sorvane::test::setPlain;

namespace
{
// What a listed value reads back as once it went through its parameter.
float asApplied(SorvaneAudioProcessor& processor, const juce::String& id, float value)
{
    auto& p = parameter(processor, id);
    return p.convertFrom0to1(p.convertTo0to1(value));
}

juce::String stateText(SorvaneAudioProcessor& processor, const char* property)
{
    return processor.getParameterState().state.getProperty(property).toString();
}
} // namespace

TEST(FactoryProgram, ProgramListIsTheFactoryTable)
{
    auto processor = makeProcessor();
    EXPECT_EQ(processor->getNumPrograms(), 37);
    EXPECT_EQ(processor->getCurrentProgram(), 0);
    EXPECT_EQ(processor->getProgramName(0), "Init / subtle motion");
    EXPECT_EQ(processor->getProgramName(36), "Full mix - Small width");
    EXPECT_EQ(processor->getProgramName(37), "");
    EXPECT_EQ(processor->getProgramName(-1), "");

    processor->changeProgramName(3, "Renamed");
    EXPECT_EQ(processor->getProgramName(3), "Prepared piano ghost");
}

TEST(FactoryProgram, EveryRowAppliesItsValuesAndDescription)
{
    for (int index = 0; index < 37; ++index)
    {
        SCOPED_TRACE(index);
        const auto& preset = sorvane::factoryPresets()[(size_t)index];
        auto processor = makeProcessor();
        setPlain(*processor, "delaySync", 4.0f);
        processor->getParameterState().state.setProperty("tresselVariantName", "B2", nullptr);
        const auto historyBefore = processor->getMutationHistory().size();

        processor->setCurrentProgram(index);

        EXPECT_EQ(processor->getCurrentProgram(), index);
        EXPECT_EQ((int)processor->captureParameterSnapshot().getProperty("program"), index);
        EXPECT_EQ(plain(*processor, "delaySync"), 0.0f);
        for (const auto& value : preset.values)
            EXPECT_EQ(plain(*processor, value.id), asApplied(*processor, value.id, value.value)) << value.id;

        EXPECT_EQ(stateText(*processor, "presetName"), preset.name);
        EXPECT_EQ(stateText(*processor, "presetCategory"), preset.category);
        EXPECT_EQ(stateText(*processor, "presetTags"), preset.tags);
        EXPECT_EQ(stateText(*processor, "presetBestSource"), preset.bestSource);
        EXPECT_EQ((int)processor->getParameterState().state.getProperty("presetIntensity"), preset.intensity);
        const char* bank = index >= 25 ? "Everyday" : (index >= 15 ? "Showcase" : "");
        EXPECT_EQ(stateText(*processor, "presetBank"), bank);
        EXPECT_FALSE(processor->getParameterState().state.hasProperty("tresselVariantName"));

        // The preset is one step in the history; undo returns to the sound before it.
        ASSERT_EQ(processor->getMutationHistory().size(), historyBefore + 1);
        EXPECT_TRUE(processor->getMutationHistory()
                        .getEntry(historyBefore)
                        .isEquivalentTo(processor->captureParameterSnapshot()));
    }
}

TEST(FactoryProgram, OutOfRangeIndicesChangeNothing)
{
    auto processor = makeProcessor();
    processor->setCurrentProgram(5);
    setPlain(*processor, "delaySync", 3.0f);
    setPlain(*processor, "drive", 61.0f);
    const auto before = processor->captureParameterSnapshot().toXmlString();
    const auto historyBefore = processor->getMutationHistory().size();

    for (int index : {37, -1, 1000, std::numeric_limits<int>::min()})
    {
        processor->setCurrentProgram(index);
        EXPECT_EQ(processor->getCurrentProgram(), 5);
        EXPECT_EQ(plain(*processor, "delaySync"), 3.0f);
        EXPECT_EQ(processor->captureParameterSnapshot().toXmlString(), before);
        EXPECT_EQ(processor->getMutationHistory().size(), historyBefore);
    }
}

TEST(FactoryProgram, LevelLockKeepsMixAndOutput)
{
    auto processor = makeProcessor();
    setPlain(*processor, "mix", 41.0f);
    setPlain(*processor, "output", -2.5f);
    processor->getParameterState().state.setProperty("presetLevelLock", true, nullptr);
    ASSERT_TRUE(processor->isPresetLevelLockEnabled());

    processor->setCurrentProgram(0);
    EXPECT_EQ(plain(*processor, "mix"), 41.0f);
    EXPECT_EQ(plain(*processor, "output"), -2.5f);
    EXPECT_EQ(plain(*processor, "drive"), 8.0f);
    EXPECT_EQ(plain(*processor, "tone"), asApplied(*processor, "tone", 14500.0f));

    processor->getParameterState().state.setProperty("presetLevelLock", false, nullptr);
    processor->setCurrentProgram(0);
    EXPECT_EQ(plain(*processor, "mix"), 100.0f);
    EXPECT_EQ(plain(*processor, "output"), 0.0f);
}

TEST(FactoryProgram, UnlistedParametersKeepTheirValues)
{
    auto processor = makeProcessor();
    const float previous[] = {-3.0f, 17.0f, 5.0f, 23.0f, 4.0f, 29.0f};
    const char* ids[] = {"input", "crush", "reduce", "glitch", "division", "reverse"};
    for (size_t i = 0; i < 6; ++i)
        setPlain(*processor, ids[i], previous[i]);

    processor->setCurrentProgram(8);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(plain(*processor, ids[i]), asApplied(*processor, ids[i], previous[i])) << ids[i];
    EXPECT_EQ(plain(*processor, "dimension"), 98.0f);
}

TEST(FactoryProgram, RowsWithVariationsStartATresselSession)
{
    struct Case
    {
        int index;
        const char* names[4];
    };
    const Case cases[] = {{15, {"GHOST BREAK", "DRUM MACHINE DYING", nullptr, nullptr}},
                          {23, {"FLOAT", nullptr, nullptr, nullptr}}};

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.index);
        auto processor = makeProcessor();
        processor->setCurrentProgram(c.index);
        const auto session = processor->getTresselSession();
        ASSERT_TRUE(session.isValid());

        const std::uint32_t seed = (std::uint32_t)c.index + 0x53484F57u;
        EXPECT_EQ(processor->workflowSeed.load(), seed);
        EXPECT_EQ(session.seed, seed);
        EXPECT_EQ(session.personality, 0);
        EXPECT_EQ(session.chaosPercent, 35.0f);
        EXPECT_FALSE(session.reducedMotion);
        EXPECT_EQ(session.selectedVariant, -1) << "the sound stays the preset itself";
        EXPECT_TRUE(session.baseline.isEquivalentTo(processor->captureParameterSnapshot()));
        ASSERT_EQ(processor->getTresselVariants().size(), 4u);

        // The generator's seeds and amount reach the variation function.
        const int resolved = sorvane::resolvePersonality(0, seed);
        const auto salt = sorvane::getTresselPersonalityProfiles()[(size_t)resolved].seedSalt;
        const float amount = sorvane::tresselIntensity(resolved, 35.0f);
        const auto expected = sorvane::makeFactoryVariationFunction(
            sorvane::factoryPresets()[(size_t)c.index], processor->getParameters());
        for (int k = 0; k < 4; ++k)
        {
            SCOPED_TRACE(k);
            const auto& variant = session.variants[(size_t)k];
            const auto reference =
                expected(session.baseline, sorvane::tresselVariantSeed(seed, k, salt), amount);
            EXPECT_EQ(variant.toXmlString(), reference.toXmlString());
            EXPECT_TRUE(processor->getTresselVariants()[(size_t)k].isEquivalentTo(variant));
            if (c.names[k] != nullptr)
                EXPECT_EQ(variant.getProperty("tresselVariantName").toString(), c.names[k]);
            else
                EXPECT_FALSE(variant.hasProperty("tresselVariantName"));
        }

        // Applying the same row again gives the same variants.
        processor->setCurrentProgram(c.index);
        const auto again = processor->getTresselSession();
        for (size_t k = 0; k < 4; ++k)
            EXPECT_EQ(again.variants[k].toXmlString(), session.variants[k].toXmlString());

        // The variations are auditioned like any Tressel result.
        ASSERT_TRUE(processor->selectTresselVariant(0));
        EXPECT_EQ(processor->getParameterState().state.getProperty("tresselVariantName").toString(),
                  c.names[0]);
    }
}

TEST(FactoryProgram, RowsWithoutVariationsEndAnySession)
{
    auto processor = makeProcessor();
    processor->setCurrentProgram(15);
    ASSERT_TRUE(processor->getTresselSession().isValid());

    processor->setCurrentProgram(16);
    EXPECT_FALSE(processor->getTresselSession().isValid());
    EXPECT_TRUE(processor->getTresselVariants().empty());
    EXPECT_FALSE(processor->getTresselBase().isValid());

    // Editing afterwards leaves the program index alone.
    setPlain(*processor, "drive", 3.0f);
    EXPECT_EQ(processor->getCurrentProgram(), 16);
}
