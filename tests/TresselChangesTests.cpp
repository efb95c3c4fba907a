#include "TestSupport.h"

#include "processor/ParameterLayout.h"
#include "workflow/TresselChanges.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

using sorvane::describeTresselChanges;

namespace
{
const juce::String noChanges =
    "TONE\nNo control changes.\n\nRHYTHM\nNo control changes.\n\nSPACE\nNo control changes.\n\n";

// Parameters with ranges chosen so every expected number can be worked out by hand: 0..10 for all,
// except delayTime (10..2010) and division (0..4).
struct HandParameters
{
    juce::OwnedArray<juce::AudioProcessorParameter> owned;
    juce::Array<juce::AudioProcessorParameter*> list;

    HandParameters()
    {
        for (const auto* id : sorvane::detailedIds)
        {
            const juce::String name(id);
            auto range = juce::NormalisableRange<float>(0.0f, 10.0f);
            if (name == "delayTime")
                range = juce::NormalisableRange<float>(10.0f, 2010.0f);
            if (name == "division")
                range = juce::NormalisableRange<float>(0.0f, 4.0f, 1.0f);
            list.add(owned.add(new juce::AudioParameterFloat(juce::ParameterID{name, 1}, name, range, 0.0f)));
        }
    }
};

juce::ValueTree stateOf(const std::map<juce::String, double>& values)
{
    juce::ValueTree state{"SORVANE_STATE"};
    // Reverse order: the text's order must come from the parameter order, not the tree's.
    for (auto it = values.rbegin(); it != values.rend(); ++it)
    {
        juce::ValueTree param{"PARAM"};
        param.setProperty("id", it->first, nullptr);
        param.setProperty("value", it->second, nullptr);
        state.appendChild(param, nullptr);
    }
    return state;
}

std::map<juce::String, double> allAt(double value)
{
    std::map<juce::String, double> values;
    for (const auto* id : sorvane::detailedIds)
        values[id] = value;
    return values;
}
} // namespace

TEST(TresselChanges, InvalidBaselineAsksForAResult)
{
    HandParameters parameters;
    EXPECT_EQ(describeTresselChanges({}, stateOf(allAt(1.0)), parameters.list),
              "Generate a TRESSEL result to compare it with Before.");
}

TEST(TresselChanges, NothingChangedInAnySection)
{
    auto processor = sorvane::test::makeProcessor();
    const auto baseline = processor->captureParameterSnapshot();
    EXPECT_EQ(
        describeTresselChanges(baseline, processor->captureParameterSnapshot(), processor->getParameters()),
        noChanges);

    // Input, mix and output belong to no section.
    for (const char* id : {"input", "mix", "output"})
    {
        auto& p = sorvane::test::parameter(*processor, id);
        p.setValueNotifyingHost(p.getValue() > 0.5f ? 0.1f : 0.9f);
    }
    EXPECT_EQ(
        describeTresselChanges(baseline, processor->captureParameterSnapshot(), processor->getParameters()),
        noChanges);

    HandParameters parameters;
    auto nudged = allAt(3.0);
    nudged["drive"] += 5.0e-6; // 5e-7 of the range: below the threshold
    EXPECT_EQ(describeTresselChanges(stateOf(allAt(3.0)), stateOf(nudged), parameters.list), noChanges);
}

TEST(TresselChanges, ExactLinesForKnownChanges)
{
    HandParameters parameters;
    auto before = allAt(2.0);
    auto after = before;
    after["drive"] = 7.25;      // 52.5 %
    after["delayTime"] = 510.0; // from 2 (clamped to 10): 25.0 %
    after["division"] = 3.0;    // from 2 of 0..4: 25.0 %
    after["dimension"] = 2.0 + 1.0 / 3.0;
    before["delayTime"] = 2.0;

    const juce::String expected = "TONE\n"
                                  "drive: 2.00 -> 7.25 (52.5% of range)\n"
                                  "\n"
                                  "RHYTHM\n"
                                  "division: 2.00 -> 3.00 (25.0% of range)\n"
                                  "\n"
                                  "SPACE\n"
                                  "delayTime: 2.00 -> 510.00 (25.0% of range)\n"
                                  "dimension: 2.00 -> 2.33 (3.3% of range)\n"
                                  "\n";
    EXPECT_EQ(describeTresselChanges(stateOf(before), stateOf(after), parameters.list), expected);
}

TEST(TresselChanges, SixChangesListTheFourLargest)
{
    HandParameters parameters;
    const auto before = allAt(5.0);
    auto after = before;
    // Distances exact in float, so no two of them tie by rounding accident.
    const std::vector<std::pair<const char*, double>> changes{
        {"drive", 5.5}, {"crush", 9.5}, {"ring", 1.0}, {"resFreq", 5.2}, {"tone", 8.0}, {"spark", 0.0}};
    for (const auto& [id, value] : changes)
        after[id] = value;

    const juce::String expected = "TONE\n"
                                  "spark: 5.00 -> 0.00 (50.0% of range)\n"
                                  "crush: 5.00 -> 9.50 (45.0% of range)\n"
                                  "ring: 5.00 -> 1.00 (40.0% of range)\n"
                                  "tone: 5.00 -> 8.00 (30.0% of range)\n"
                                  "\n"
                                  "RHYTHM\nNo control changes.\n\n"
                                  "SPACE\nNo control changes.\n\n";
    EXPECT_EQ(describeTresselChanges(stateOf(before), stateOf(after), parameters.list), expected);
}

TEST(TresselChanges, TiesKeepBitOrder)
{
    HandParameters parameters;
    const auto before = allAt(1.0);
    auto after = before;
    for (const char* id :
         {"spark", "fold", "tone", "crush", "drive", "chaos", "glitch", "spectralWave", "feedback", "delay"})
        after[id] = 4.0;
    after["reverse"] = 9.0;

    const juce::String expected = "TONE\n"
                                  "drive: 1.00 -> 4.00 (30.0% of range)\n"
                                  "crush: 1.00 -> 4.00 (30.0% of range)\n"
                                  "tone: 1.00 -> 4.00 (30.0% of range)\n"
                                  "fold: 1.00 -> 4.00 (30.0% of range)\n"
                                  "\n"
                                  "RHYTHM\n"
                                  "reverse: 1.00 -> 9.00 (80.0% of range)\n"
                                  "glitch: 1.00 -> 4.00 (30.0% of range)\n"
                                  "spectralWave: 1.00 -> 4.00 (30.0% of range)\n"
                                  "chaos: 1.00 -> 4.00 (30.0% of range)\n"
                                  "\n"
                                  "SPACE\n"
                                  "delay: 1.00 -> 4.00 (30.0% of range)\n"
                                  "feedback: 1.00 -> 4.00 (30.0% of range)\n"
                                  "\n";
    EXPECT_EQ(describeTresselChanges(stateOf(before), stateOf(after), parameters.list), expected);
}

TEST(TresselChanges, MissingChildOrValueReadsAsZero)
{
    HandParameters parameters;
    auto before = allAt(0.0);
    before.erase("spark");
    auto after = before;
    after.erase("fold");
    after["spark"] = 3.0;
    before["fold"] = 6.0;
    auto afterTree = stateOf(after);
    afterTree.getChildWithProperty("id", "drive").removeProperty("value", nullptr);
    auto beforeTree = stateOf(before);
    beforeTree.getChildWithProperty("id", "drive").setProperty("value", 1.0, nullptr);

    const juce::String expected = "TONE\n"
                                  "fold: 6.00 -> 0.00 (60.0% of range)\n"
                                  "spark: 0.00 -> 3.00 (30.0% of range)\n"
                                  "drive: 1.00 -> 0.00 (10.0% of range)\n"
                                  "\n"
                                  "RHYTHM\nNo control changes.\n\n"
                                  "SPACE\nNo control changes.\n\n";
    EXPECT_EQ(describeTresselChanges(beforeTree, afterTree, parameters.list), expected);
}

// With the real parameters the distance must agree with what the parameters themselves report.
TEST(TresselChanges, RealParametersAgreeWithTheirOwnNormalisedValues)
{
    auto processor = sorvane::test::makeProcessor();
    const auto baseline = processor->captureParameterSnapshot();

    struct Moved
    {
        const char* id;
        float before, after, plainBefore, plainAfter;
    };
    std::vector<Moved> moved;
    for (const auto& [id, normalised] : std::vector<std::pair<const char*, float>>{
             {"delayTime", 0.83f}, {"division", 0.9f}, {"resFreq", 0.12f}})
    {
        auto& p = sorvane::test::parameter(*processor, id);
        const auto before = p.getValue();
        const auto plainBefore = sorvane::test::plain(*processor, id);
        p.setValueNotifyingHost(normalised);
        moved.push_back({id, before, p.getValue(), plainBefore, sorvane::test::plain(*processor, id)});
    }

    const auto text =
        describeTresselChanges(baseline, processor->captureParameterSnapshot(), processor->getParameters());
    for (const auto& m : moved)
    {
        SCOPED_TRACE(m.id);
        const auto prefix = juce::String(m.id) + ": " + juce::String(m.plainBefore, 2) + " -> " +
                            juce::String(m.plainAfter, 2) + " (";
        const auto start = text.indexOf(prefix);
        ASSERT_GE(start, 0) << text;
        const auto percent = text.substring(start + prefix.length()).upToFirstOccurrenceOf("%", false, false);
        EXPECT_NEAR(percent.getDoubleValue(), std::abs(m.after - m.before) * 100.0, 0.051) << text;
    }
    EXPECT_TRUE(text.startsWith("TONE\nresFreq: ")) << text;
    EXPECT_TRUE(text.contains("RHYTHM\ndivision: ")) << text;
    EXPECT_TRUE(text.contains("SPACE\ndelayTime: ")) << text;
}
