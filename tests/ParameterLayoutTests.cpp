#include "TestSupport.h"

#include "processor/LockWord.h"

#include <gtest/gtest.h>

using sorvane::test::makeProcessor;
using sorvane::test::parameter;
using sorvane::test::plain;
using sorvane::test::setPlain;

namespace
{
struct LayoutRow
{
    const char* id;
    const char* name;
    float start, end, interval, skew, defaultValue;
    const char* label;
};

// Host-visible order, ranges, steps, skews, defaults and labels.
const LayoutRow layoutTable[] = {
    {"input", "Input", -18, 18, 0.01f, 1, 0, ""},
    {"drive", "Drive", 0, 100, 0.1f, 1, 8, "%"},
    {"crush", "Crush", 0, 100, 0.1f, 1, 4, "%"},
    {"reduce", "Decimate", 1, 32, 1, 1, 1, ""},
    {"ring", "Ring mix", 0, 100, 0.1f, 1, 0, "%"},
    {"ringFreq", "Ring frequency", 20, 4000, 0.01f, 0.28f, 220, ""},
    {"resonance", "Resonator mix", 0, 100, 0.1f, 1, 8, "%"},
    {"resFreq", "Resonator frequency", 30, 4000, 0.01f, 0.28f, 440, ""},
    {"resDecay", "Resonator decay", 0, 100, 0.1f, 1, 35, "%"},
    {"glitch", "Fracture", 0, 100, 0.1f, 1, 0, "%"},
    {"division", "Fracture division", 0, 5, 1, 1, 2, ""},
    {"reverse", "Reverse chance", 0, 100, 0.1f, 1, 0, "%"},
    {"delay", "Delay mix", 0, 100, 0.1f, 1, 12, "%"},
    {"delayTime", "Delay time", 5, 900, 0.1f, 0.35f, 180, "ms"},
    {"feedback", "Feedback", 0, 100, 0.1f, 1, 22, "%"},
    {"tone", "Tone", 250, 20000, 1, 0.3f, 14500, "Hz"},
    {"spectralWave", "Spectral wave", 0, 100, 0.1f, 1, 8, "%"},
    {"spectralRate", "Spectral rate", 0.03f, 12, 0.01f, 0.32f, 0.4f, "Hz"},
    {"dimension", "Stereo dimension", 0, 100, 0.1f, 1, 18, "%"},
    {"fold", "Wave fold", 0, 100, 0.1f, 1, 0, "%"},
    {"spark", "Spark exciter", 0, 100, 0.1f, 1, 5, "%"},
    {"chaos", "Instability", 0, 100, 0.1f, 1, 5, "%"},
    {"mix", "Total Effect", 0, 100, 0.1f, 1, 100, "%"},
    {"output", "Output", -18, 6, 0.01f, 1, 0, ""},
    {"autoLevel", "Auto Level", 0, 2, 1, 1, 0, ""},
    {"audioQuality", "Audio Quality", 0, 1, 1, 1, 1, ""},
    {"macroDamage", "Damage Macro", 0, 100, 0.1f, 1, 0, "%"},
    {"macroFracture", "Fracture Macro", 0, 100, 0.1f, 1, 0, "%"},
    {"macroSpace", "Space Macro", 0, 100, 0.1f, 1, 0, "%"},
    {"macroMotion", "Motion Macro", 0, 100, 0.1f, 1, 0, "%"},
    {"matchSourceLevel", "Match Source Loudness", 0, 1, 1, 1, 1, ""},
    {"resultLevel", "Result Level", -24, 12, 0.1f, 1, 0, ""},
    {"delaySync", "Delay sync", 0, 18, 1, 1, 0, ""},
    {"standaloneTempo", "Standalone tempo", 30, 300, 0.1f, 1, 120, ""},
};
} // namespace

TEST(ParameterLayout, HostSeesThirtyFourParametersInLayoutOrderWithExactRanges)
{
    auto processor = makeProcessor();
    const auto& params = processor->getParameters();
    ASSERT_EQ(params.size(), 34);

    for (int i = 0; i < params.size(); ++i)
    {
        const auto& row = layoutTable[i];
        SCOPED_TRACE(row.id);
        auto* p = dynamic_cast<juce::RangedAudioParameter*>(params[i]);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->getParameterID(), row.id);
        EXPECT_EQ(p->getName(100), row.name);
        EXPECT_EQ(p->getLabel(), row.label);
        EXPECT_EQ(p->getVersionHint(), 1);
        const auto& range = p->getNormalisableRange();
        EXPECT_FLOAT_EQ(range.start, row.start);
        EXPECT_FLOAT_EQ(range.end, row.end);
        EXPECT_FLOAT_EQ(range.interval, row.interval);
        EXPECT_FLOAT_EQ(range.skew, row.skew);
        EXPECT_FLOAT_EQ(p->convertFrom0to1(p->getDefaultValue()), row.defaultValue);
        EXPECT_FLOAT_EQ(plain(*processor, row.id), row.defaultValue);
    }
}

TEST(ParameterLayout, ParameterKindsAndChoiceItems)
{
    auto processor = makeProcessor();
    EXPECT_NE(dynamic_cast<juce::AudioParameterInt*>(&parameter(*processor, "reduce")), nullptr);
    EXPECT_NE(dynamic_cast<juce::AudioParameterBool*>(&parameter(*processor, "matchSourceLevel")), nullptr);

    auto* division = dynamic_cast<juce::AudioParameterChoice*>(&parameter(*processor, "division"));
    ASSERT_NE(division, nullptr);
    EXPECT_EQ(division->choices, juce::StringArray({"1/4", "1/8", "1/16", "1/32", "1/64", "1/128"}));
    EXPECT_EQ(division->getCurrentChoiceName(), "1/16");

    auto* sync = dynamic_cast<juce::AudioParameterChoice*>(&parameter(*processor, "delaySync"));
    ASSERT_NE(sync, nullptr);
    ASSERT_EQ(sync->choices.size(), 19);
    EXPECT_EQ(sync->choices[0], "Milliseconds");
    EXPECT_EQ(sync->choices[6], "1/2");
    EXPECT_EQ(sync->choices[7], "1/64 dotted");
    EXPECT_EQ(sync->choices[12], "1/2 dotted");
    EXPECT_EQ(sync->choices[13], "1/64 triplet");
    EXPECT_EQ(sync->choices[18], "1/2 triplet");

    auto* quality = dynamic_cast<juce::AudioParameterChoice*>(&parameter(*processor, "audioQuality"));
    ASSERT_NE(quality, nullptr);
    EXPECT_EQ(quality->getCurrentChoiceName(), "HQ");
    auto* autoLevel = dynamic_cast<juce::AudioParameterChoice*>(&parameter(*processor, "autoLevel"));
    ASSERT_NE(autoLevel, nullptr);
    EXPECT_EQ(autoLevel->choices, juce::StringArray({"Off", "Light", "Strong"}));
    EXPECT_TRUE(parameter(*processor, "matchSourceLevel").getValue() >= 0.5f);
}

TEST(ParameterLayout, ValueToTextForms)
{
    auto processor = makeProcessor();
    struct Case
    {
        const char* id;
        float value;
        const char* text;
    };
    const Case cases[] = {
        {"resDecay", 35.0f, "35.0%"},     {"drive", 0.1f, "0.1%"},
        {"drive", 8.0f, "8.0%"},          {"mix", 100.0f, "100.0%"},
        {"chaos", 0.0f, "0.0%"},          {"input", 0.0f, "0.00"},
        {"input", -3.5f, "-3.50"},        {"delayTime", 180.0f, "180.0"},
        {"tone", 14500.0f, "14500"},      {"spectralRate", 0.4f, "0.40"},
        {"resultLevel", -24.0f, "-24.0"}, {"standaloneTempo", 120.0f, "120.0"},
        {"division", 2.0f, "1/16"},       {"delaySync", 11.0f, "1/4 dotted"},
        {"autoLevel", 1.0f, "Light"},
    };
    for (const auto& c : cases)
    {
        auto& p = parameter(*processor, c.id);
        EXPECT_EQ(p.getText(p.convertTo0to1(c.value), 0), c.text) << c.id << " " << c.value;
    }
    // Typing the printed form back gives the value.
    auto& drive = parameter(*processor, "drive");
    EXPECT_FLOAT_EQ(drive.convertFrom0to1(drive.getValueForText("42.5%")), 42.5f);
}

TEST(ParameterLayout, RawValuePointersFollowStorageOrder)
{
    auto processor = makeProcessor();
    const auto& raw = processor->getRawParameterValues();
    ASSERT_EQ(raw.size(), 34u);
    for (size_t i = 0; i < raw.size(); ++i)
    {
        ASSERT_NE(raw[i], nullptr) << i;
        EXPECT_EQ(raw[i], processor->getParameterState().getRawParameterValue(
                              SorvaneAudioProcessor::parameterIds[i]));
    }
    // Storage order differs from layout order from entry 25 on.
    EXPECT_STREQ(SorvaneAudioProcessor::parameterIds[24], "matchSourceLevel");
    EXPECT_STREQ(SorvaneAudioProcessor::parameterIds[26], "autoLevel");
    EXPECT_STREQ(SorvaneAudioProcessor::parameterIds[33], "standaloneTempo");
    for (int i = 0; i < sorvane::numDetailedParameters; ++i)
        EXPECT_STREQ(sorvane::detailedIds[i], SorvaneAudioProcessor::parameterIds[i]);
}

TEST(LockWord, LockBitsOfEveryIdentifier)
{
    for (int k = 0; k < sorvane::numDetailedParameters; ++k)
        EXPECT_EQ(SorvaneAudioProcessor::lockBitForParameterId(sorvane::detailedIds[k]), 1u << k) << k;

    EXPECT_EQ(SorvaneAudioProcessor::lockBitForParameterId("input"), 0x1u);
    EXPECT_EQ(SorvaneAudioProcessor::lockBitForParameterId("feedback"), 0x4000u);
    EXPECT_EQ(SorvaneAudioProcessor::lockBitForParameterId("output"), 0x800000u);
    for (auto* id : {"macroDamage", "Drive", "matchSourceLevel", "resultLevel", "autoLevel", "audioQuality",
                     "delaySync", "standaloneTempo", "", "drive "})
        EXPECT_EQ(SorvaneAudioProcessor::lockBitForParameterId(id), 0u) << id;
}

TEST(LockWord, EffectiveMaskCombinesIndividualGroupAndFocusBits)
{
    struct Case
    {
        std::uint64_t word;
        std::uint32_t mask;
    };
    const Case cases[] = {
        {0, 0},
        {0x2, 0x2},                               // drive alone
        {1ull << 24, 0x1F0},                      // Pitch Controls
        {1ull << 25, 0x230E00},                   // Rhythmic Controls
        {1ull << 26, 0x47000},                    // Space
        {(1ull << 24) | 0x1, 0x1F1},              // group plus an individual lock
        {7ull << 24, 0x1F0 | 0x230E00 | 0x47000}, // every group
        {1ull << 27, 0xFFFFFF ^ 0x1F0},           // focus 1: only pitch free
        {2ull << 27, 0xDCF1FF},                   // focus 2: only rhythm free
        {3ull << 27, 0xFFFFFF ^ 0x47000},         // focus 3: only space free
        {(2ull << 27) | 0x200, 0xDCF3FF},         // focus plus a lock inside the focused group
        {0xFFFFFFFFE0000000ull, 0},               // bits 29.. carry nothing
    };
    for (const auto& c : cases)
        EXPECT_EQ(sorvane::effectiveLockMask(c.word), c.mask) << std::hex << c.word;
}

TEST(LockWord, SetMacroLockedParameterIdsKeepsGroupAndFocusBits)
{
    auto processor = makeProcessor();
    const std::uint64_t groupsAndFocus = (1ull << 25) | (3ull << 27);
    processor->lockWord.store(groupsAndFocus | 0xFFFFFF);
    processor->projectDirty.store(false);

    processor->setMacroLockedParameterIds({"drive", "tone", "macroDamage", "Drive"});
    EXPECT_EQ(processor->lockWord.load(), groupsAndFocus | 0x2 | 0x8000);
    EXPECT_TRUE(processor->projectDirty.load());

    processor->projectDirty.store(false);
    processor->setMacroLockedParameterIds({"tone", "drive"});
    EXPECT_FALSE(processor->projectDirty.load()) << "an unchanged word is not an edit";

    processor->setMacroLockedParameterIds({});
    EXPECT_EQ(processor->lockWord.load(), groupsAndFocus);
    EXPECT_TRUE(processor->projectDirty.load());

    processor->projectDirty.store(false);
    processor->suppressProjectDirty.store(true);
    processor->setMacroLockedParameterIds({"mix"});
    EXPECT_EQ(processor->lockWord.load(), groupsAndFocus | (1u << 22));
    EXPECT_FALSE(processor->projectDirty.load());
}

TEST(ParameterChanged, StandaloneTempoDrivesTheTempoFieldsOnlyInTheStandaloneWrapper)
{
    auto standalone = makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
    standalone->projectDirty.store(false);
    setPlain(*standalone, "standaloneTempo", 90.0f);
    EXPECT_TRUE(standalone->projectDirty.load());
    EXPECT_TRUE(standalone->currentTempoValid.load());
    EXPECT_DOUBLE_EQ(standalone->currentTempoBpm.load(), 90.0);

    // Values outside 30..300 can only arrive through the listener callback itself.
    standalone->parameterChanged("standaloneTempo", 301.0f);
    EXPECT_FALSE(standalone->currentTempoValid.load());
    EXPECT_DOUBLE_EQ(standalone->currentTempoBpm.load(), 120.0);
    standalone->parameterChanged("standaloneTempo", std::numeric_limits<float>::quiet_NaN());
    EXPECT_FALSE(standalone->currentTempoValid.load());
    standalone->parameterChanged("standaloneTempo", 30.0f);
    EXPECT_TRUE(standalone->currentTempoValid.load());
    EXPECT_DOUBLE_EQ(standalone->currentTempoBpm.load(), 30.0);

    auto plugin = makeProcessor(juce::AudioProcessor::wrapperType_VST3);
    plugin->projectDirty.store(false);
    setPlain(*plugin, "standaloneTempo", 90.0f);
    EXPECT_FLOAT_EQ(plain(*plugin, "standaloneTempo"), 90.0f);
    EXPECT_TRUE(plugin->projectDirty.load());
    EXPECT_DOUBLE_EQ(plugin->currentTempoBpm.load(), 120.0);
    EXPECT_TRUE(plugin->currentTempoValid.load());
}

TEST(ParameterChanged, EveryParameterMarksTheProjectDirtyUnlessSuppressed)
{
    auto processor = makeProcessor();
    for (auto* id : SorvaneAudioProcessor::parameterIds)
    {
        processor->projectDirty.store(false);
        auto& p = parameter(*processor, id);
        p.setValueNotifyingHost(p.getValue() > 0.5f ? 0.0f : 1.0f);
        EXPECT_TRUE(processor->projectDirty.load()) << id;
    }

    processor->projectDirty.store(false);
    processor->suppressProjectDirty.store(true);
    setPlain(*processor, "drive", 50.0f);
    EXPECT_FALSE(processor->projectDirty.load());
}
