#include "TestSupport.h"

#include <gtest/gtest.h>

using sorvane::test::makeProcessor;
using sorvane::test::setPlain;

namespace
{
constexpr std::uint64_t focusSpace = 3ull << 27;

std::uint64_t lockOf(std::initializer_list<const char*> ids)
{
    std::uint64_t word = 0;
    for (auto* id : ids)
        word |= SorvaneAudioProcessor::lockBitForParameterId(id);
    return word;
}
} // namespace

TEST(SettingsSnapshot, DefaultRecordMembers)
{
    const sorvane::DspSettings s;
    EXPECT_EQ(s.reduce, 1);
    EXPECT_FLOAT_EQ(s.ringFreq, 220.0f);
    EXPECT_FLOAT_EQ(s.resFreq, 440.0f);
    EXPECT_FLOAT_EQ(s.resDecay, 0.5f);
    EXPECT_EQ(s.division, 2);
    EXPECT_FLOAT_EQ(s.delayTimeMs, 180.0f);
    EXPECT_FLOAT_EQ(s.feedback, 0.25f);
    EXPECT_FLOAT_EQ(s.tone, 12000.0f);
    EXPECT_FLOAT_EQ(s.spectralRate, 0.4f);
    EXPECT_FLOAT_EQ(s.mix, 1.0f);
    EXPECT_FALSE(s.matchSourceLevel);
    EXPECT_EQ(s.audioQuality, 1);
}

TEST(SettingsSnapshot, FreshProcessorConvertsEveryParameterToEngineUnits)
{
    auto processor = makeProcessor();
    const auto s = processor->readSettings();
    EXPECT_FLOAT_EQ(s.inputDb, 0.0f);
    EXPECT_EQ(s.drive, 8.0f * 0.01f); // multiplied by the single-precision constant, bit for bit
    EXPECT_EQ(s.crush, 4.0f * 0.01f);
    EXPECT_EQ(s.reduce, 1);
    EXPECT_EQ(s.ring, 0.0f);
    EXPECT_FLOAT_EQ(s.ringFreq, 220.0f);
    EXPECT_EQ(s.resonance, 8.0f * 0.01f);
    EXPECT_FLOAT_EQ(s.resFreq, 440.0f);
    EXPECT_EQ(s.resDecay, 35.0f * 0.01f);
    EXPECT_EQ(s.glitch, 0.0f);
    EXPECT_EQ(s.division, 2);
    EXPECT_EQ(s.delay, 12.0f * 0.01f);
    EXPECT_FLOAT_EQ(s.delayTimeMs, 180.0f);
    EXPECT_EQ(s.delaySync, 0);
    EXPECT_EQ(s.feedback, 22.0f * 0.01f);
    EXPECT_FLOAT_EQ(s.tone, 14500.0f);
    EXPECT_EQ(s.spectralWave, 8.0f * 0.01f);
    EXPECT_FLOAT_EQ(s.spectralRate, 0.4f);
    EXPECT_EQ(s.dimension, 18.0f * 0.01f);
    EXPECT_EQ(s.spark, 5.0f * 0.01f);
    EXPECT_EQ(s.chaos, 5.0f * 0.01f);
    EXPECT_EQ(s.mix, 1.0f);
    EXPECT_TRUE(s.matchSourceLevel);
    EXPECT_EQ(s.autoLevel, 0);
    EXPECT_EQ(s.audioQuality, 1);
}

TEST(SettingsSnapshot, UnlockedFeedbackIsCappedWhileLockedFeedbackReachesOne)
{
    auto processor = makeProcessor();
    setPlain(*processor, "feedback", 100.0f);
    EXPECT_FLOAT_EQ(processor->readSettings().feedback, 0.92f);
    setPlain(*processor, "feedback", 50.0f);
    EXPECT_FLOAT_EQ(processor->readSettings().feedback, 0.5f);

    setPlain(*processor, "feedback", 100.0f);
    setPlain(*processor, "macroSpace", 100.0f);
    processor->lockWord.store(lockOf({"feedback"}));
    EXPECT_FLOAT_EQ(processor->readSettings().feedback, 1.0f);
    processor->lockWord.store(1ull << 26); // the Space group locks it too
    EXPECT_FLOAT_EQ(processor->readSettings().feedback, 1.0f);
}

struct MacroCase
{
    const char* name;
    std::vector<std::pair<const char*, float>> parameters;
    std::uint64_t lockWord;
    // Checks on the record
    std::function<void(const sorvane::DspSettings&)> check;
};

void PrintTo(const MacroCase& c, std::ostream* os)
{
    *os << c.name;
}

class MacroContributions : public ::testing::TestWithParam<MacroCase>
{
};

TEST_P(MacroContributions, FoldIntoTheRecord)
{
    const auto& c = GetParam();
    auto processor = makeProcessor();
    for (const auto& [id, value] : c.parameters)
        setPlain(*processor, id, value);
    processor->lockWord.store(c.lockWord);
    c.check(processor->readSettings());
}

INSTANTIATE_TEST_SUITE_P(
    Table, MacroContributions,
    ::testing::Values(MacroCase{"DamageFullMovesEveryTarget",
                                {{"drive", 0}, {"crush", 0}, {"fold", 0}, {"spark", 0}, {"macroDamage", 100}},
                                0,
                                [](const sorvane::DspSettings& s)
                                {
                                    EXPECT_FLOAT_EQ(s.drive, 0.48f);
                                    EXPECT_FLOAT_EQ(s.crush, 0.55f);
                                    EXPECT_FLOAT_EQ(s.fold, 0.62f);
                                    EXPECT_FLOAT_EQ(s.spark, 0.26f);
                                    EXPECT_EQ(s.reduce, 13);
                                }},
                      MacroCase{"DamageClampsDecimationTo32",
                                {{"reduce", 25}, {"macroDamage", 100}},
                                0,
                                [](const sorvane::DspSettings& s) { EXPECT_EQ(s.reduce, 32); }},
                      MacroCase{"LockedDecimationIgnoresDamage",
                                {{"reduce", 25}, {"macroDamage", 100}},
                                0x8,
                                [](const sorvane::DspSettings& s)
                                {
                                    EXPECT_EQ(s.reduce, 25);
                                    EXPECT_FLOAT_EQ(s.drive, 0.08f + 0.48f);
                                }},
                      MacroCase{"DamageHalfwayRoundsToEvenDown",
                                {{"macroDamage", 37.5f}},
                                0,
                                [](const sorvane::DspSettings& s) { EXPECT_EQ(s.reduce, 1 + 4); }},
                      MacroCase{"DamageHalfwayRoundsToEvenUp",
                                {{"macroDamage", 12.5f}},
                                0,
                                [](const sorvane::DspSettings& s) { EXPECT_EQ(s.reduce, 1 + 2); }},
                      MacroCase{"DamageClampsAmountsAtOne",
                                {{"drive", 90}, {"macroDamage", 100}},
                                0,
                                [](const sorvane::DspSettings& s) { EXPECT_EQ(s.drive, 1.0f); }},
                      MacroCase{"FractureShortensTheDivision",
                                {{"division", 4}, {"macroFracture", 100}},
                                0,
                                [](const sorvane::DspSettings& s)
                                {
                                    EXPECT_EQ(s.division, 5);
                                    EXPECT_FLOAT_EQ(s.glitch, 0.72f);
                                    EXPECT_FLOAT_EQ(s.reverse, 0.52f);
                                }},
                      MacroCase{"FractureQuarterLeavesTheDivision",
                                {{"division", 4}, {"macroFracture", 25}},
                                0,
                                [](const sorvane::DspSettings& s) { EXPECT_EQ(s.division, 4); }},
                      MacroCase{"ChaosClampsBetweenFractureAndMotion",
                                {{"chaos", 90}, {"macroFracture", 100}, {"macroMotion", 100}},
                                0,
                                [](const sorvane::DspSettings& s) { EXPECT_EQ(s.chaos, 1.0f); }},
                      MacroCase{"ChaosAddsWithoutClamping",
                                {{"chaos", 10}, {"macroFracture", 50}, {"macroMotion", 50}},
                                0,
                                [](const sorvane::DspSettings& s)
                                { EXPECT_FLOAT_EQ(s.chaos, 0.1f + 0.12f + 0.15f); }},
                      MacroCase{"SpaceMovesItsTargetsAndCapsFeedback",
                                {{"resonance", 0},
                                 {"resDecay", 0},
                                 {"delay", 0},
                                 {"feedback", 80},
                                 {"dimension", 0},
                                 {"macroSpace", 100}},
                                0,
                                [](const sorvane::DspSettings& s)
                                {
                                    EXPECT_FLOAT_EQ(s.resonance, 0.38f);
                                    EXPECT_FLOAT_EQ(s.resDecay, 0.34f);
                                    EXPECT_FLOAT_EQ(s.delay, 0.58f);
                                    EXPECT_FLOAT_EQ(s.feedback, 0.92f);
                                    EXPECT_FLOAT_EQ(s.dimension, 0.48f);
                                }},
                      MacroCase{"MotionScalesTheSpectralRate",
                                {{"ring", 0},
                                 {"spectralWave", 0},
                                 {"dimension", 0},
                                 {"chaos", 0},
                                 {"spectralRate", 1},
                                 {"macroMotion", 100}},
                                0,
                                [](const sorvane::DspSettings& s)
                                {
                                    EXPECT_FLOAT_EQ(s.ring, 0.32f);
                                    EXPECT_FLOAT_EQ(s.spectralWave, 0.54f);
                                    EXPECT_FLOAT_EQ(s.chaos, 0.30f);
                                    EXPECT_FLOAT_EQ(s.dimension, 0.24f);
                                    EXPECT_NEAR(s.spectralRate, 9.18959f, 1e-4f);
                                }},
                      MacroCase{"MotionRateClampsAtTwelve",
                                {{"spectralRate", 5}, {"macroMotion", 100}},
                                0,
                                [](const sorvane::DspSettings& s) { EXPECT_EQ(s.spectralRate, 12.0f); }},
                      MacroCase{"FocusOnSpaceFreesOnlyTheSpaceGroup",
                                {{"drive", 10},
                                 {"glitch", 0},
                                 {"ring", 0},
                                 {"resonance", 0},
                                 {"resDecay", 0},
                                 {"delay", 0},
                                 {"dimension", 0},
                                 {"feedback", 0},
                                 {"macroDamage", 100},
                                 {"macroFracture", 100},
                                 {"macroSpace", 100},
                                 {"macroMotion", 100}},
                                focusSpace,
                                [](const sorvane::DspSettings& s)
                                {
                                    EXPECT_FLOAT_EQ(s.drive, 0.1f);
                                    EXPECT_EQ(s.glitch, 0.0f);
                                    EXPECT_EQ(s.ring, 0.0f);
                                    EXPECT_EQ(s.resonance, 0.0f);
                                    EXPECT_EQ(s.resDecay, 0.0f);
                                    EXPECT_EQ(s.reduce, 1);
                                    EXPECT_FLOAT_EQ(s.delay, 0.58f);
                                    EXPECT_FLOAT_EQ(s.feedback, 0.34f);
                                    EXPECT_FLOAT_EQ(s.dimension, 0.48f + 0.24f);
                                    EXPECT_FLOAT_EQ(s.spectralRate, 0.4f);
                                }}),
    [](const ::testing::TestParamInfo<MacroCase>& param) { return std::string(param.param.name); });

TEST(SettingsSnapshot, SyncRuleSilencesASyncedDelayWhileTheTempoIsInvalid)
{
    auto processor = makeProcessor();
    setPlain(*processor, "macroSpace", 100.0f);
    setPlain(*processor, "delaySync", 10.0f);

    processor->currentTempoValid.store(false);
    EXPECT_EQ(processor->readSettings().delay, 0.0f);
    processor->lockWord.store(lockOf({"delay"})); // the rule ignores locks
    EXPECT_EQ(processor->readSettings().delay, 0.0f);

    processor->currentTempoValid.store(true);
    EXPECT_FLOAT_EQ(processor->readSettings().delay, 0.12f);
    processor->lockWord.store(0);
    EXPECT_FLOAT_EQ(processor->readSettings().delay, 0.12f + 0.58f);

    setPlain(*processor, "delaySync", 0.0f);
    processor->currentTempoValid.store(false);
    EXPECT_FLOAT_EQ(processor->readSettings().delay, 0.12f + 0.58f);
}

TEST(SettingsSnapshot, MacrosNeverWriteTheStoredParameters)
{
    auto processor = makeProcessor();
    setPlain(*processor, "macroDamage", 100.0f);
    (void)processor->readSettings();
    EXPECT_FLOAT_EQ(sorvane::test::plain(*processor, "drive"), 8.0f);
    EXPECT_FLOAT_EQ(sorvane::test::plain(*processor, "reduce"), 1.0f);
}
