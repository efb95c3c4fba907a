// The editor's workflow commands driven headless through their buttons: mutation, variations, undo and
// redo, Tressel generation and auditioning, and DNA copy and paste through an observable clipboard.
#include "EditorTestSupport.h"
#include "TestSupport.h"

#include "editor/SorvaneAudioProcessorEditor.h"
#include "workflow/TresselDna.h"
#include "workflow/TresselPersonality.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

using sorvane::test::makeProcessor;

namespace
{
using Values = std::map<juce::String, float>;

Values parameterValues(SorvaneAudioProcessor& processor)
{
    Values values;
    for (auto* p : processor.getParameters())
        if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*>(p))
            values[ranged->getParameterID()] = ranged->getValue();
    return values;
}

// The normalised values a parameter state tree would give, read through a scratch processor.
Values valuesOfTree(const juce::ValueTree& tree)
{
    auto scratch = makeProcessor();
    scratch->applyParameterSnapshot(tree);
    return parameterValues(*scratch);
}

struct WorkflowFixture
{
    explicit WorkflowFixture(
        juce::AudioProcessor::WrapperType wrapper = juce::AudioProcessor::wrapperType_VST3)
        : processor(makeProcessor(wrapper))
    {
        editor.reset(dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
        editor->stopTimer(); // ticks are driven by hand
        editor->setRefreshHooks({[this] { return now += 1000.0 / 60.0; }, [] { return true; }});
        editor->setClipboardHooks({[this](const juce::String& text)
                                   {
                                       clipboard = text;
                                       ++clipboardWrites;
                                   },
                                   [this] { return clipboard; }});
    }

    ~WorkflowFixture() { editor = nullptr; }

    sorvane::editor::MutationControls& mutation() { return editor->getMutationControls(); }
    sorvane::editor::TresselControls& tressel() { return editor->getTresselControls(); }

    // A real click: delivered by the message loop, and only when the button is enabled.
    void click(juce::Button& button)
    {
        button.triggerClick();
        sorvane::test::pumpMessages(20);
    }

    void tick(int count = 1)
    {
        for (int i = 0; i < count; ++i)
            editor->timerCallback();
    }

    ParameterKnob& knob(const juce::String& id)
    {
        for (const auto& k : editor->getKnobs())
            if (k->getParameterId() == id)
                return *k;
        throw std::runtime_error(("no knob " + id).toStdString());
    }

    void selectShape(int index) { tressel().shape.setSelectedItemIndex(index, juce::sendNotificationSync); }

    sorvane::test::ScopedTemporaryHome home;
    std::unique_ptr<SorvaneAudioProcessor> processor;
    std::unique_ptr<SorvaneAudioProcessorEditor> editor;
    double now = 0.0;
    juce::String clipboard;
    int clipboardWrites = 0;
};

// Tressel Mode is where the shape selector regenerates; the stand-alone app opens in it.
struct TresselFixture : WorkflowFixture
{
    TresselFixture() : WorkflowFixture(juce::AudioProcessor::wrapperType_Standalone)
    {
        EXPECT_TRUE(editor->isTresselModeActive());
    }
};
} // namespace

//======================================================================================================
TEST(EditorWorkflowSeed, AgainAdvancesTheFieldAndGeneratesWithTheWrappedSeed)
{
    struct Case
    {
        const char* field;
        const char* written;
        std::uint32_t seed;
    };
    for (const auto& c : {Case{"4294967295", "0", 0u}, Case{"", "1", 1u}, Case{"41", "42", 42u},
                          Case{"2147483647", "2147483648", 2147483648u}})
    {
        TresselFixture f;
        f.mutation().seed.setText(c.field, false);
        f.click(f.tressel().again);
        EXPECT_EQ(f.mutation().seed.getText(), c.written) << c.field;
        const auto session = f.processor->getTresselSession();
        ASSERT_TRUE(session.isValid()) << c.field;
        EXPECT_EQ(session.seed, c.seed) << c.field;
        EXPECT_EQ(f.processor->workflowSeed.load(), c.seed) << c.field;
    }
}

TEST(EditorWorkflowSeed, TresselUsesTheFieldAsItStandsAndDailyWritesTodaysSeed)
{
    TresselFixture f;
    f.mutation().seed.setText("777", false);
    f.click(f.tressel().generate);
    EXPECT_EQ(f.mutation().seed.getText(), "777");
    EXPECT_EQ(f.processor->getTresselSession().seed, 777u);

    const auto before = sorvane::dailyTresselSeed(juce::Time::getCurrentTime());
    f.click(f.tressel().daily);
    const auto after = sorvane::dailyTresselSeed(juce::Time::getCurrentTime());
    const auto seed = f.processor->getTresselSession().seed;
    EXPECT_TRUE(seed == before || seed == after) << "today's seed, even across midnight";
    EXPECT_NE(seed, 778u);
    EXPECT_EQ(f.mutation().seed.getText(), juce::String((juce::uint64)seed));
    EXPECT_TRUE(f.editor->getStatusMessage().startsWith("DAILY TRESSEL / ")) << f.editor->getStatusMessage();
}

//======================================================================================================
TEST(EditorWorkflowTressel, GenerationReportsAndAuditionsA)
{
    struct Case
    {
        bool instant;
        const char* report;
        int revealTicks;
    };
    for (const auto& c : {Case{false,
                               "TRESSEL / GHOST / A ACTIVE / FOUR EXACT VARIANTS READY / REVEALING ACTUAL "
                               "CHOICES",
                               30},
                          Case{true, "TRESSEL / GHOST / A ACTIVE / FOUR EXACT VARIANTS READY / INSTANT", 0}})
    {
        WorkflowFixture f; // Studio Mode: choosing the shape must not generate by itself
        f.selectShape(sorvane::tresselGhost);
        EXPECT_FALSE(f.processor->getTresselSession().isValid());
        f.tressel().instant.setToggleState(c.instant, juce::dontSendNotification);
        f.mutation().seed.setText("1234", false);
        f.editor->runTressel(false, false, false);

        EXPECT_EQ(f.editor->getStatusMessage(), c.report);
        EXPECT_EQ(f.editor->getStatusCountdown(), 105);
        EXPECT_EQ(f.editor->getTresselRevealTicks(), c.revealTicks);
        EXPECT_EQ(f.editor->getVariantDisplay(), 0);

        const auto session = f.processor->getTresselSession();
        ASSERT_TRUE(session.isValid());
        EXPECT_EQ(session.reducedMotion, c.instant);
        EXPECT_EQ(parameterValues(*f.processor), valuesOfTree(session.variants[0])) << "A is audible at once";

        auto& t = f.tressel();
        for (int i = 0; i < 4; ++i)
        {
            EXPECT_TRUE(t.variants[(size_t)i].isEnabled());
            EXPECT_EQ(t.variants[(size_t)i].getToggleState(), i == 0) << i;
        }
        EXPECT_TRUE(t.before.isEnabled());
        EXPECT_FALSE(t.before.getToggleState());
        EXPECT_TRUE(t.keep.isEnabled());
        EXPECT_TRUE(t.copyDna.isEnabled());
    }
}

TEST(EditorWorkflowTressel, RevealCountsDownOnceAndNotWithInstant)
{
    TresselFixture f;
    f.click(f.tressel().generate);
    const auto report = f.editor->getStatusMessage();
    ASSERT_TRUE(report.endsWith(" / REVEALING ACTUAL CHOICES")) << report;

    f.tick(29);
    EXPECT_EQ(f.editor->getTresselRevealTicks(), 1);
    EXPECT_EQ(f.editor->getStatusMessage(), report);
    f.tick();
    EXPECT_EQ(f.editor->getTresselRevealTicks(), 0);
    EXPECT_EQ(f.editor->getStatusMessage(), "TRESSEL REVEAL COMPLETE / AUDIO WAS AVAILABLE IMMEDIATELY");
    EXPECT_EQ(f.editor->getStatusCountdown(), 104) << "shown from this tick on";
    f.tick(5);
    EXPECT_EQ(f.editor->getStatusCountdown(), 99) << "the completion is announced once";

    f.tressel().instant.setToggleState(true, juce::dontSendNotification);
    f.click(f.tressel().generate);
    const auto instantReport = f.editor->getStatusMessage();
    EXPECT_TRUE(instantReport.endsWith(" / INSTANT")) << instantReport;
    f.tick(40);
    EXPECT_EQ(f.editor->getStatusMessage(), instantReport);
}

TEST(EditorWorkflowTressel, VariantButtonsAuditionAndNameThemselvesInTheStatus)
{
    struct Case
    {
        int shape;
        const char* status;
    };
    for (const auto& c :
         {Case{sorvane::tresselGhost, "VARIANT B ACTIVE / KEEP OR RETURN TO BEFORE"},
          Case{sorvane::tresselEnhance, "VARIANT B / Enhance ACTIVE / KEEP OR RETURN TO BEFORE"}})
    {
        WorkflowFixture f;
        f.selectShape(c.shape);
        f.tressel().intensity.setValue(60.0, juce::dontSendNotification);
        f.editor->runTressel(false, false, false);
        const auto historyBefore = f.processor->getMutationHistory().size();

        f.click(f.tressel().variants[1]);
        EXPECT_EQ(f.editor->getStatusMessage(), c.status);
        EXPECT_EQ(f.editor->getVariantDisplay(), 1);
        const auto session = f.processor->getTresselSession();
        EXPECT_EQ(session.selectedVariant, 1);
        EXPECT_EQ(parameterValues(*f.processor), valuesOfTree(session.variants[1]));
        EXPECT_EQ(f.processor->getMutationHistory().size(), historyBefore + 1);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(f.tressel().variants[(size_t)i].getToggleState(), i == 1) << i;
    }
}

TEST(EditorWorkflowTressel, BeforeRestoresTheBaselineOnlyWithASession)
{
    TresselFixture f;
    f.editor->setStatusMessage("UNTOUCHED", 50);
    const auto values = parameterValues(*f.processor);
    const auto history = f.processor->getMutationHistory().size();
    f.click(f.tressel().before);
    f.editor->auditionTresselBefore(); // even past the disabled button
    EXPECT_EQ(f.editor->getStatusMessage(), "UNTOUCHED");
    EXPECT_EQ(f.editor->getStatusCountdown(), 50);
    EXPECT_EQ(parameterValues(*f.processor), values);
    EXPECT_EQ(f.processor->getMutationHistory().size(), history);
    EXPECT_EQ(f.editor->getVariantDisplay(), -1);

    f.selectShape(sorvane::tresselPanic);
    f.click(f.tressel().variants[2]);
    f.click(f.tressel().before);
    EXPECT_EQ(f.editor->getStatusMessage(), "BEFORE ACTIVE / EXACT TRESSEL BASELINE RESTORED");
    EXPECT_EQ(f.editor->getVariantDisplay(), -1);
    EXPECT_TRUE(f.tressel().before.getToggleState());
    EXPECT_EQ(parameterValues(*f.processor), valuesOfTree(f.processor->getTresselSession().baseline));
}

TEST(EditorWorkflowTressel, ShapeChangeRegeneratesFromTheOriginalBaselineInTresselModeOnly)
{
    TresselFixture f;
    f.selectShape(sorvane::tresselGlass);
    const auto first = f.processor->getTresselSession();
    ASSERT_TRUE(first.isValid()) << "choosing a shape in Tressel Mode generates";
    EXPECT_EQ(first.personality, (int)sorvane::tresselGlass);
    f.click(f.tressel().variants[1]);

    f.selectShape(sorvane::tresselMelt);
    const auto second = f.processor->getTresselSession();
    EXPECT_EQ(second.personality, (int)sorvane::tresselMelt);
    EXPECT_EQ(second.seed, first.seed) << "a shape change does not advance the seed";
    EXPECT_EQ(valuesOfTree(second.baseline), valuesOfTree(first.baseline)) << "not from auditioned B";
    EXPECT_TRUE(f.editor->getStatusMessage().startsWith("TRESSEL / MELT / ")) << f.editor->getStatusMessage();

    f.editor->setTresselMode(false);
    f.selectShape(sorvane::tresselVoid);
    EXPECT_EQ(f.processor->getTresselSession().personality, (int)sorvane::tresselMelt);
}

TEST(EditorWorkflowTressel, KeepNeedsASelectedVariant)
{
    // A session whose DNA was copied while nothing was selected.
    auto donor = makeProcessor();
    donor->generateTressel(99, sorvane::tresselBroken, 40.0f, {}, false, false);
    auto unselected = donor->getTresselSession();
    unselected.selectedVariant = -1;
    juce::String error;
    const auto dna = sorvane::encodeTresselDna(unselected, donor->captureParameterSnapshot(), error);
    ASSERT_TRUE(dna.isNotEmpty()) << error;

    TresselFixture f;
    f.editor->keepTresselVariant(); // no session at all
    EXPECT_EQ(f.editor->getStatusMessage(), "SELECT A TRESSEL VARIANT BEFORE KEEPING IT");

    f.editor->pasteDnaText(dna);
    ASSERT_TRUE(f.tressel().keep.isEnabled());
    const auto history = f.processor->getMutationHistory().size();
    f.click(f.tressel().keep);
    EXPECT_EQ(f.editor->getStatusMessage(), "SELECT A TRESSEL VARIANT BEFORE KEEPING IT");
    EXPECT_EQ(f.processor->getTresselSession().keptVariant, -1);
    EXPECT_EQ(f.processor->getMutationHistory().size(), history);

    f.click(f.tressel().variants[2]);
    f.click(f.tressel().keep);
    EXPECT_EQ(f.editor->getStatusMessage(), "VARIANT KEPT / EXACT DNA READY");
    EXPECT_EQ(f.processor->getTresselSession().keptVariant, 2);
}

//======================================================================================================
TEST(EditorWorkflowDna, CopyWithoutASessionReportsTheErrorAndLeavesTheClipboard)
{
    TresselFixture f;
    f.clipboard = "someone else's text";
    f.editor->copyTresselDna();
    EXPECT_EQ(f.editor->getStatusMessage(), "Create and select a complete TRESSEL before copying DNA.");
    EXPECT_EQ(f.clipboard, "someone else's text");
    EXPECT_EQ(f.clipboardWrites, 0);

    f.click(f.tressel().generate);
    f.click(f.tressel().copyDna);
    EXPECT_EQ(f.editor->getStatusMessage(), "EXACT VERSIONED SORVANE DNA COPIED");
    EXPECT_EQ(f.clipboardWrites, 1);
    EXPECT_TRUE(f.clipboard.startsWith("SV1:"));
    sorvane::TresselDnaPayload payload;
    juce::String error;
    EXPECT_TRUE(sorvane::decodeTresselDna(f.clipboard, payload, error)) << error;
}

TEST(EditorWorkflowDna, PasteRefusesBadTextWithItsReasonAndChangesNothing)
{
    const auto base64 = [](const char* text)
    { return "SV1:" + juce::Base64::toBase64(text, std::strlen(text)); };
    const std::pair<juce::String, const char*> cases[] = {
        {"", "Paste a supported Sorvane DNA payload no larger than 256 KB."},
        {"hello", "Paste a supported Sorvane DNA payload no larger than 256 KB."},
        {"SV1:" + juce::String::repeatedString("A", sorvane::maxTresselDnaLength),
         "Paste a supported Sorvane DNA payload no larger than 256 KB."},
        {"SV1:QUJD*", "The Sorvane DNA encoding is corrupt."},
        {base64("plain words"), "The Sorvane DNA payload is not valid XML."},
        {base64("<OTHER product=\"Elsewhere\"/>"),
         "The DNA belongs to another product or unsupported schema."},
    };

    TresselFixture f;
    f.mutation().seed.setText("31337", false);
    f.click(f.tressel().generate);
    f.click(f.tressel().variants[3]);
    f.knob("fold").getLockButton().setToggleState(true, juce::sendNotificationSync);
    f.tick();
    const auto values = parameterValues(*f.processor);
    const auto session = f.processor->getTresselSession();
    const auto history = f.processor->getMutationHistory().size();
    const auto locks = f.processor->lockWord.load();

    for (const auto& [text, reason] : cases)
    {
        f.clipboard = text;
        f.click(f.tressel().pasteDna);
        EXPECT_EQ(f.editor->getStatusMessage(), reason) << text.substring(0, 40);
        EXPECT_EQ(parameterValues(*f.processor), values);
        EXPECT_EQ(f.processor->getTresselSession().seed, session.seed);
        EXPECT_EQ(f.processor->getTresselSession().selectedVariant, 3);
        EXPECT_EQ(f.processor->getMutationHistory().size(), history);
        EXPECT_EQ(f.processor->lockWord.load(), locks);
        EXPECT_EQ(f.editor->getVariantDisplay(), 3);
        EXPECT_EQ(f.mutation().seed.getText(), "31337");
    }
}

TEST(EditorWorkflowDna, PasteImportsTheSessionAndResynchronisesTheSurface)
{
    // The DNA comes from another instance: GLASS, variant C auditioned, "tone" locked.
    auto donor = makeProcessor();
    donor->generateTressel(4242, sorvane::tresselGlass, 70.0f, {"tone"}, false, true);
    ASSERT_TRUE(donor->selectTresselVariant(2));
    juce::String error;
    const auto dna = donor->copyTresselDna(error);
    ASSERT_TRUE(dna.isNotEmpty()) << error;
    const auto donorValues = parameterValues(*donor);

    TresselFixture f;
    f.clipboard = dna;
    f.click(f.tressel().pasteDna);
    EXPECT_EQ(f.editor->getStatusMessage(), "DNA IMPORTED / PARENT LINEAGE RETAINED OFFLINE");
    EXPECT_EQ(parameterValues(*f.processor), donorValues);
    EXPECT_EQ(f.editor->getVariantDisplay(), 2);
    EXPECT_TRUE(f.tressel().variants[2].getToggleState());
    EXPECT_EQ(f.tressel().shape.getSelectedItemIndex(), (int)sorvane::tresselGlass);
    EXPECT_EQ(f.tressel().intensity.getValue(), 70.0);
    EXPECT_TRUE(f.tressel().instant.getToggleState());
    EXPECT_EQ(f.mutation().seed.getText(), "4242");

    EXPECT_TRUE(f.knob("tone").isLocked());
    EXPECT_FALSE(f.knob("drive").isLocked());
    auto& drive = sorvane::test::parameter(*f.processor, "drive");
    EXPECT_DOUBLE_EQ(f.knob("drive").getSlider().getValue(), (double)drive.convertFrom0to1(drive.getValue()));
    f.tick();
    EXPECT_NE(f.processor->lockWord.load() & SorvaneAudioProcessor::lockBitForParameterId("tone"), 0u)
        << "the refresh keeps the imported lock instead of writing stale toggles back";
}

//======================================================================================================
TEST(EditorWorkflowMutation, MutateAdvancesTheSeedAndHonoursTheKnobLocks)
{
    WorkflowFixture f;
    auto reference = makeProcessor();
    f.knob("tone").getLockButton().setToggleState(true, juce::sendNotificationSync);
    f.knob("drive").getLockButton().setToggleState(true, juce::sendNotificationSync);
    EXPECT_EQ(f.editor->getMutationLocks(), juce::StringArray({"drive", "tone"})) << "in knob order";
    f.mutation().seed.setText("99", false);
    f.mutation().strength.setValue(80.0, juce::dontSendNotification);

    f.click(f.mutation().mutate);
    EXPECT_EQ(f.mutation().seed.getText(), "100");
    EXPECT_EQ(f.processor->workflowSeed.load(), 100u);
    EXPECT_EQ(f.editor->getStatusMessage(), "MUTATED / CHARACTER STAGES PUSHED / UNDO TO RETURN");
    EXPECT_EQ(f.editor->getVariantDisplay(), -1);
    reference->mutateCurrentProgram(100, 0.8f, {"drive", "tone"});
    EXPECT_EQ(parameterValues(*f.processor), parameterValues(*reference));
    EXPECT_NE(parameterValues(*f.processor), parameterValues(*makeProcessor()));
    const auto lockBits = SorvaneAudioProcessor::lockBitForParameterId("drive") |
                          SorvaneAudioProcessor::lockBitForParameterId("tone");
    EXPECT_EQ(f.processor->lockWord.load() & 0xFFFFFFull, lockBits);

    f.click(f.mutation().mutate);
    EXPECT_EQ(f.mutation().seed.getText(), "101");
    reference->mutateCurrentProgram(101, 0.8f, {"drive", "tone"});
    EXPECT_EQ(parameterValues(*f.processor), parameterValues(*reference));
}

TEST(EditorWorkflowMutation, VariationButtonsWaitForGenerateFour)
{
    WorkflowFixture f;
    auto& m = f.mutation();
    const auto original = parameterValues(*f.processor);
    const auto history = f.processor->getMutationHistory().size();
    EXPECT_FALSE(m.restoreBaseline.isEnabled());
    for (auto& b : m.variations)
        EXPECT_FALSE(b.isEnabled());
    f.click(m.variations[1]);
    EXPECT_EQ(parameterValues(*f.processor), original);
    EXPECT_EQ(f.processor->getMutationHistory().size(), history);

    m.seed.setText("500", false);
    f.click(m.generate);
    EXPECT_EQ(m.seed.getText(), "500") << "the variations use the seed as it stands";
    EXPECT_EQ(f.processor->workflowSeed.load(), 500u);
    EXPECT_EQ(f.editor->getStatusMessage(), "4 DISTINCT VARIANTS READY / A IS THE BASELINE");
    EXPECT_EQ(parameterValues(*f.processor), original) << "the current sound stays";
    EXPECT_TRUE(m.restoreBaseline.isEnabled());
    EXPECT_TRUE(m.restoreBaseline.getToggleState());
    for (auto& b : m.variations)
        EXPECT_TRUE(b.isEnabled());

    f.click(m.variations[1]);
    EXPECT_EQ(f.editor->getStatusMessage(), "B2 ACTIVE / UNDO TO RETURN");
    EXPECT_EQ(f.editor->getVariantDisplay(), 1);
    EXPECT_EQ(parameterValues(*f.processor), valuesOfTree(f.processor->getTresselVariants()[1]));
    EXPECT_NE(parameterValues(*f.processor), original);
    EXPECT_FALSE(m.restoreBaseline.getToggleState());
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(m.variations[(size_t)k].getToggleState(), k == 1) << k;

    f.click(m.restoreBaseline);
    EXPECT_EQ(f.editor->getStatusMessage(), "A ACTIVE / ORIGINAL BASELINE RESTORED");
    EXPECT_EQ(parameterValues(*f.processor), original);
    EXPECT_TRUE(m.restoreBaseline.getToggleState());
    EXPECT_FALSE(m.variations[1].getToggleState());

    f.click(m.mutate); // a mutation leaves the variation set behind
    EXPECT_FALSE(m.restoreBaseline.isEnabled());
    EXPECT_FALSE(m.variations[0].isEnabled());
}

TEST(EditorWorkflowMutation, UndoAndRedoFollowTheHistoryAndSaySo)
{
    WorkflowFixture f;
    auto& m = f.mutation();
    const auto initial = parameterValues(*f.processor);
    f.tick();
    EXPECT_FALSE(m.undo.isEnabled()) << "only the starting sound is recorded";
    EXPECT_FALSE(m.redo.isEnabled());

    f.click(m.mutate);
    const auto first = parameterValues(*f.processor);
    f.click(m.mutate);
    const auto second = parameterValues(*f.processor);
    ASSERT_NE(first, second);
    f.tick();
    EXPECT_TRUE(m.undo.isEnabled());
    EXPECT_FALSE(m.redo.isEnabled());

    struct Step
    {
        juce::Button* button;
        const Values* sound;
        bool undoEnabled, redoEnabled;
    };
    for (const auto& step : {Step{&m.undo, &first, true, true}, Step{&m.undo, &initial, false, true},
                             Step{&m.redo, &first, true, true}, Step{&m.redo, &second, true, false}})
    {
        f.editor->setStatusMessage("UNTOUCHED");
        f.click(*step.button);
        EXPECT_EQ(f.editor->getStatusMessage(), step.button == &m.undo ? "UNDO APPLIED" : "REDO APPLIED");
        EXPECT_EQ(parameterValues(*f.processor), *step.sound);
        f.tick();
        EXPECT_EQ(m.undo.isEnabled(), step.undoEnabled);
        EXPECT_EQ(m.redo.isEnabled(), step.redoEnabled);
    }
    f.editor->setStatusMessage("UNTOUCHED");
    f.click(m.redo); // disabled at the end: nothing moves, nothing is said
    EXPECT_EQ(parameterValues(*f.processor), second);
    EXPECT_EQ(f.editor->getStatusMessage(), "UNTOUCHED");
}

TEST(EditorWorkflowKeys, CommandLGeneratesAndShiftAdvancesTheSeed)
{
    WorkflowFixture f;
    f.mutation().seed.setText("10", false);
    const auto key = [](bool shift)
    {
        return juce::KeyPress('l',
                              juce::ModifierKeys(juce::ModifierKeys::commandModifier |
                                                 (shift ? juce::ModifierKeys::shiftModifier : 0)),
                              0);
    };
    EXPECT_TRUE(f.editor->keyPressed(key(false)));
    EXPECT_TRUE(f.editor->isTresselModeActive());
    EXPECT_EQ(f.processor->getTresselSession().seed, 10u);
    EXPECT_TRUE(f.editor->keyPressed(key(true)));
    EXPECT_EQ(f.processor->getTresselSession().seed, 11u);
    EXPECT_EQ(f.mutation().seed.getText(), "11");
}
