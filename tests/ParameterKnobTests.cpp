#include "EditorTestSupport.h"
#include "TestSupport.h"

#include "editor/InterfaceTheme.h"
#include "editor/KnobLocks.h"
#include "editor/ParameterKnob.h"
#include "editor/SorvaneLookAndFeel.h"
#include "processor/LockWord.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

using sorvane::test::makeProcessor;
using sorvane::test::plain;
using sorvane::test::setPlain;

namespace
{
struct KnobFixture
{
    explicit KnobFixture(const juce::String& id, const juce::String& label = "KNOB")
        : processor(makeProcessor()),
          knob(std::make_unique<ParameterKnob>(processor->getParameterState(), id, label, lookAndFeel))
    {
    }

    ~KnobFixture() { knob.reset(); }

    SorvaneLookAndFeel lookAndFeel;
    std::unique_ptr<SorvaneAudioProcessor> processor;
    std::unique_ptr<ParameterKnob> knob;
};

// The knob table: every knob the editor builds, with its label.
struct KnobRow
{
    const char* id;
    const char* label;
};
const KnobRow knobTable[] = {
    {"input", "INPUT LEVEL"},      {"drive", "DRIVE / SAT"},
    {"crush", "BIT DAMAGE"},       {"reduce", "SAMPLE DIV"},
    {"ring", "RING MIX"},          {"ringFreq", "CARRIER HZ"},
    {"resonance", "BODY MIX"},     {"resFreq", "BODY PITCH"},
    {"resDecay", "BODY DECAY"},    {"glitch", "FRACTURE"},
    {"division", "TIME GRID"},     {"reverse", "REVERSE %"},
    {"chaos", "INSTABILITY"},      {"delay", "ECHO MIX"},
    {"delayTime", "ECHO TIME"},    {"feedback", "FEEDBACK"},
    {"tone", "TONE FILTER"},       {"spectralWave", "SPECTRAL WAVE"},
    {"spectralRate", "WAVE RATE"}, {"dimension", "STEREO DIMENSION"},
    {"fold", "WAVE FOLD"},         {"spark", "SPARK EXCITER"},
    {"output", "OUTPUT LEVEL"},
};

// Lock bit positions as the lock word lays them out.
int lockBitIndex(const juce::String& id)
{
    const char* order[] = {"input",     "drive",     "crush",    "reduce", "ring",         "ringFreq",
                           "resonance", "resFreq",   "resDecay", "glitch", "division",     "reverse",
                           "delay",     "delayTime", "feedback", "tone",   "spectralWave", "spectralRate",
                           "dimension", "fold",      "spark",    "chaos",  "mix",          "output"};
    for (int i = 0; i < 24; ++i)
        if (id == order[i])
            return i;
    return -1;
}

sorvane::KnobList allKnobs(SorvaneAudioProcessor& processor, juce::LookAndFeel& lookAndFeel)
{
    sorvane::KnobList knobs;
    for (const auto& row : knobTable)
        knobs.push_back(
            std::make_unique<ParameterKnob>(processor.getParameterState(), row.id, row.label, lookAndFeel));
    return knobs;
}
} // namespace

TEST(ParameterKnob, ReadoutIsTheParametersOwnText)
{
    struct Case
    {
        const char* id;
        const char* initial; // the default
        float plainValue;
        const char* expected;
    };
    const Case cases[] = {
        {"drive", "8.0%", 35.0f, "35.0%"},
        {"resDecay", "35.0%", 0.1f, "0.1%"},
        {"input", "0.00", -3.5f, "-3.50"},
        {"output", "0.00", 4.25f, "4.25"},
        {"reduce", "1", 7.0f, "7"},
        {"division", "1/16", 4.0f, "1/64"},
        {"delayTime", "180.0", 250.5f, "250.5"},
        {"tone", "14500", 1234.0f, "1234"},
        {"spectralRate", "0.40", 2.5f, "2.50"},
        {"ringFreq", "220.00", 330.0f, "330.00"},
        {"resFreq", "440.00", 1000.25f, "1000.25"},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.id);
        KnobFixture f(c.id);
        EXPECT_EQ(f.knob->getValueLabel().getText(), c.initial);
        setPlain(*f.processor, c.id, c.plainValue);
        EXPECT_EQ(f.knob->getValueLabel().getText(), c.expected);
        EXPECT_NEAR(f.knob->getSlider().getValue(), c.plainValue, 1e-3);
    }
}

TEST(ParameterKnob, SyncPicksUpAValueTheAttachmentHasNotDelivered)
{
    KnobFixture f("drive");
    auto& parameter = sorvane::test::parameter(*f.processor, "drive");

    // Written without telling any listener, as a change from another thread looks before its update arrives.
    parameter.setValue(parameter.convertTo0to1(61.3f));
    EXPECT_EQ(f.knob->getValueLabel().getText(), "8.0%");

    f.knob->syncToProcessor();
    EXPECT_NEAR(f.knob->getSlider().getValue(), 61.3, 1e-4);
    EXPECT_EQ(f.knob->getValueLabel().getText(), "61.3%");

    // Nothing to do when the knob already shows the parameter.
    f.knob->getValueLabel().setText("stale", juce::dontSendNotification);
    f.knob->syncToProcessor();
    EXPECT_EQ(f.knob->getValueLabel().getText(), "stale");
}

TEST(ParameterKnob, MovingTheSliderChangesTheParameter)
{
    KnobFixture f("delayTime");
    f.knob->getSlider().setValue(420.0, juce::sendNotificationSync);
    EXPECT_FLOAT_EQ(plain(*f.processor, "delayTime"), 420.0f);
    EXPECT_EQ(f.knob->getValueLabel().getText(), "420.0");
}

TEST(ParameterKnob, ControlsCarryTheirTextsAndColours)
{
    KnobFixture f("crush", "BIT DAMAGE");
    auto& knob = *f.knob;

    EXPECT_EQ(knob.getParameterId(), "crush");
    EXPECT_EQ(knob.getSlider().getTitle(), "Crush");
    EXPECT_EQ(
        knob.getSlider().getDescription(),
        "Detailed Sorvane parameter. Use the adjacent Lock control to protect it from mutations and macros.");
    EXPECT_TRUE(knob.getSlider().getWantsKeyboardFocus());
    EXPECT_EQ(knob.getSlider().getSliderStyle(), juce::Slider::RotaryHorizontalVerticalDrag);
    EXPECT_EQ(knob.getSlider().getTextBoxPosition(), juce::Slider::NoTextBox);
    EXPECT_EQ(&knob.getSlider().getLookAndFeel(), &f.lookAndFeel);

    EXPECT_EQ(knob.getNameLabel().getText(), "BIT DAMAGE");
    EXPECT_TRUE(knob.getNameLabel().getFont().isBold());
    EXPECT_FLOAT_EQ(knob.getNameLabel().getFont().getHeight(), 10.5f);
    EXPECT_EQ(knob.getNameLabel().findColour(juce::Label::textColourId).getARGB(), 0xE0F7F5FAu);

    EXPECT_FALSE(knob.getValueLabel().getFont().isBold());
    EXPECT_FLOAT_EQ(knob.getValueLabel().getFont().getHeight(), 10.0f);
    EXPECT_EQ(knob.getValueLabel().findColour(juce::Label::textColourId).getARGB(), 0xFF1691AAu);
    EXPECT_EQ(knob.getValueLabel().findColour(juce::Label::backgroundColourId).getARGB(), 0xCC07062Cu);
    EXPECT_EQ(knob.getValueLabel().findColour(juce::Label::outlineColourId).getARGB(), 0x8C5D138Du);
    EXPECT_FALSE(knob.getValueLabel().isEditableOnDoubleClick());
    EXPECT_FALSE(knob.getValueLabel().isEditableOnSingleClick());
    EXPECT_EQ(knob.getNameLabel().getTooltip(), "");

    EXPECT_EQ(knob.getLockButton().getTooltip(),
              "Keep this control unchanged when mutating or generating variants");
    EXPECT_EQ(knob.getLockButton().getTitle(), "BIT DAMAGE mutation and macro lock");
    EXPECT_EQ(knob.getLockButton().findColour(juce::ToggleButton::textColourId).getARGB(), 0x9EF7F5FAu);
    EXPECT_EQ(knob.getLockButton().findColour(juce::ToggleButton::tickColourId).getARGB(), 0xFF1691AAu);
    EXPECT_FALSE(knob.isLocked());

    // Colours go through the theme helper, so a theme change can find their Original values.
    EXPECT_EQ(knob.getValueLabel()
                  .getProperties()["kavix.originalColour." + juce::String(juce::Label::textColourId)]
                  .toString(),
              "ff1691aa");
}

TEST(ParameterKnob, FrequencyKnobsOfferNoteEntryAndNoteTooltip)
{
    for (const auto* id : {"ringFreq", "resFreq"})
    {
        SCOPED_TRACE(id);
        KnobFixture f(id);
        auto& value = f.knob->getValueLabel();
        EXPECT_TRUE(f.knob->isFrequencyKnob());
        EXPECT_TRUE(value.isEditableOnDoubleClick());
        EXPECT_FALSE(value.isEditableOnSingleClick());
        EXPECT_TRUE(value.getWantsKeyboardFocus());
        EXPECT_EQ(value.getTooltip(),
                  "Double-click to enter Hz or a note, e.g. A4, C#3 or 440 Hz. Middle C = C4. "
                  "Values stay stored in Hz.");

        setPlain(*f.processor, id, 261.63f);
        EXPECT_EQ(f.knob->getNameLabel().getTooltip(), "Note: C4");
        setPlain(*f.processor, id, 445.0f);
        EXPECT_EQ(f.knob->getNameLabel().getTooltip(), "Note: A4 +19.6c");
    }
}

TEST(ParameterKnob, NoteNamesReplaceTheReadoutOnFrequencyKnobsOnly)
{
    KnobFixture f("resFreq");
    f.knob->setShowNoteName(true);
    EXPECT_TRUE(f.knob->getShowNoteName());
    EXPECT_EQ(f.knob->getValueLabel().getText(), "A4");

    setPlain(*f.processor, "resFreq", 445.0f);
    EXPECT_EQ(f.knob->getValueLabel().getText(), "A4 +19.6c");

    auto& parameter = sorvane::test::parameter(*f.processor, "resFreq");
    parameter.setValue(parameter.convertTo0to1(880.0f));
    f.knob->syncToProcessor();
    EXPECT_EQ(f.knob->getValueLabel().getText(), "A5");

    f.knob->setShowNoteName(false);
    EXPECT_EQ(f.knob->getValueLabel().getText(), "880.00");

    KnobFixture other("drive");
    other.knob->setShowNoteName(true);
    EXPECT_FALSE(other.knob->getShowNoteName());
    EXPECT_EQ(other.knob->getValueLabel().getText(), "8.0%");
}

TEST(ParameterKnob, NoteOrHzEntryWithinTheRangeSetsTheParameter)
{
    struct Case
    {
        const char* id;
        const char* text;
        float expectedHz;
        const char* readout;
    };
    const Case cases[] = {
        {"ringFreq", "a4", 440.0f, "440.00"},
        {"ringFreq", "C#3", 138.59f, "138.59"},
        {"ringFreq", "440hz", 440.0f, "440.00"},
        {"ringFreq", "440 Hz", 440.0f, "440.00"},
        {"ringFreq", " 1000.5 ", 1000.5f, "1000.50"},
        {"ringFreq", "20", 20.0f, "20.00"},          // range start is inside
        {"ringFreq", "4000 Hz", 4000.0f, "4000.00"}, // and so is the end
        {"ringFreq", "Bb2", 116.54f, "116.54"},
        {"ringFreq", "A4 -100c", 415.3f, "415.30"},
        {"resFreq", "C4", 261.63f, "261.63"},
        {"resFreq", "B7", 3951.07f, "3951.07"},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.text);
        KnobFixture f(c.id);
        EXPECT_TRUE(f.knob->enterTuningText(c.text));
        EXPECT_NEAR(plain(*f.processor, c.id), c.expectedHz, 0.006f);
        EXPECT_EQ(f.knob->getValueLabel().getText(), c.readout);
    }
}

TEST(ParameterKnob, RejectedEntryLeavesTheValueAndExplainsTheRange)
{
    struct Case
    {
        const char* id;
        const char* text;
        const char* tooltip;
    };
    const Case cases[] = {
        {"ringFreq", "H4", "Enter a note or Hz within 20-4000 Hz."},
        {"ringFreq", "A11", "Enter a note or Hz within 20-4000 Hz."},
        {"ringFreq", "C0", "Enter a note or Hz within 20-4000 Hz."}, // 16.35 Hz, below the range
        {"ringFreq", "19.99", "Enter a note or Hz within 20-4000 Hz."},
        {"ringFreq", "4000.01 Hz", "Enter a note or Hz within 20-4000 Hz."},
        {"ringFreq", "C8", "Enter a note or Hz within 20-4000 Hz."},
        {"ringFreq", "garbage", "Enter a note or Hz within 20-4000 Hz."},
        {"ringFreq", "", "Enter a note or Hz within 20-4000 Hz."},
        {"resFreq", "A0", "Enter a note or Hz within 30-4000 Hz."}, // 27.5 Hz
        {"resFreq", "25 Hz", "Enter a note or Hz within 30-4000 Hz."},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.text);
        KnobFixture f(c.id);
        setPlain(*f.processor, c.id, 333.0f);
        const auto readout = f.knob->getValueLabel().getText();

        EXPECT_FALSE(f.knob->enterTuningText(c.text));
        EXPECT_FLOAT_EQ(plain(*f.processor, c.id), 333.0f);
        EXPECT_EQ(f.knob->getSlider().getValue(), 333.0);
        EXPECT_EQ(f.knob->getValueLabel().getTooltip(), c.tooltip);
        EXPECT_EQ(f.knob->getValueLabel().getText(), readout);

        // A good entry afterwards restores the usual hint.
        EXPECT_TRUE(f.knob->enterTuningText("A4"));
        EXPECT_TRUE(f.knob->getValueLabel().getTooltip().startsWith("Double-click to enter Hz or a note"));
    }
}

TEST(ParameterKnob, CommittingAnEditOfTheReadoutEntersIt)
{
    KnobFixture f("ringFreq");
    auto& value = f.knob->getValueLabel();

    // What the label does when an edit is committed: it takes the text and tells its listeners.
    value.setText("a4", juce::sendNotificationSync);
    EXPECT_FLOAT_EQ(plain(*f.processor, "ringFreq"), 440.0f);
    EXPECT_EQ(value.getText(), "440.00");

    value.setText("A11", juce::sendNotificationSync);
    EXPECT_FLOAT_EQ(plain(*f.processor, "ringFreq"), 440.0f);
    EXPECT_EQ(value.getText(), "440.00");
    EXPECT_EQ(value.getTooltip(), "Enter a note or Hz within 20-4000 Hz.");
}

TEST(ParameterKnob, LockTogglesWriteTheirOwnLockBits)
{
    SorvaneLookAndFeel lookAndFeel;
    auto processor = makeProcessor();
    auto knobs = allKnobs(*processor, lookAndFeel);
    ASSERT_EQ(knobs.size(), 23u);

    // Group and focus bits belong to another control and must survive.
    const std::uint64_t groupAndFocus = (1ull << 25) | (2ull << 27);

    for (auto& knob : knobs)
    {
        SCOPED_TRACE(knob->getParameterId());
        const auto bitIndex = lockBitIndex(knob->getParameterId());
        ASSERT_GE(bitIndex, 0);
        EXPECT_EQ(knob->getLockBit(), 1u << bitIndex);

        processor->lockWord.store(groupAndFocus);
        processor->projectDirty.store(false);

        knob->getLockButton().triggerClick();
        sorvane::test::pumpMessages();
        ASSERT_TRUE(knob->isLocked());

        sorvane::storeKnobLocks(*processor, knobs);
        EXPECT_EQ(processor->lockWord.load(), groupAndFocus | (1ull << bitIndex));
        EXPECT_TRUE(processor->projectDirty.load());
        EXPECT_NE(sorvane::effectiveLockMask(processor->lockWord.load()) & (1u << bitIndex), 0u);

        knob->getLockButton().triggerClick();
        sorvane::test::pumpMessages();
        ASSERT_FALSE(knob->isLocked());
        sorvane::storeKnobLocks(*processor, knobs);
        EXPECT_EQ(processor->lockWord.load(), groupAndFocus);
    }

    for (auto& knob : knobs)
        knob.reset();
}

TEST(ParameterKnob, LockTogglesFollowTheProcessorsIndividualLocks)
{
    SorvaneLookAndFeel lookAndFeel;
    auto processor = makeProcessor();
    auto knobs = allKnobs(*processor, lookAndFeel);

    // Individual bits for drive, resFreq and output; the group bit for "Space" does not lock toggles.
    processor->lockWord.store((1ull << 1) | (1ull << 7) | (1ull << 23) | (1ull << 26));
    sorvane::loadKnobLocks(*processor, knobs);

    juce::StringArray expected{"drive", "resFreq", "output"};
    EXPECT_EQ(sorvane::lockedParameterIds(knobs), expected);

    // Storing what was loaded changes nothing and is not a change to the project.
    processor->projectDirty.store(false);
    const auto before = processor->lockWord.load();
    sorvane::storeKnobLocks(*processor, knobs);
    EXPECT_EQ(processor->lockWord.load(), before);
    EXPECT_FALSE(processor->projectDirty.load());

    processor->lockWord.store(0);
    sorvane::loadKnobLocks(*processor, knobs);
    EXPECT_TRUE(sorvane::lockedParameterIds(knobs).isEmpty());

    for (auto& knob : knobs)
        knob.reset();
}

TEST(ParameterKnob, LayoutSwitchesAtFortyFourPixels)
{
    KnobFixture f("drive");
    auto& knob = *f.knob;

    knob.setSize(220, 44);
    EXPECT_EQ(knob.getLockButton().getButtonText(), "LOCK");
    knob.setSize(220, 43);
    EXPECT_EQ(knob.getLockButton().getButtonText(), "");
    knob.setSize(220, 44);
    EXPECT_EQ(knob.getLockButton().getButtonText(), "LOCK");
}

TEST(ParameterKnob, LayoutPlacesEveryPart)
{
    struct Case
    {
        int width, height;
        juce::Rectangle<int> slider, name, lock, value;
    };
    const Case cases[] = {
        // w 192, r 54, knob 54 in a 62 column; name row 20 high; value 18 high below it.
        {200, 60, {8, 3, 54, 54}, {70, 3, 66, 20}, {136, 3, 60, 20}, {70, 24, 126, 18}},
        // Knob 42 (h < 48) is taller than r = 38, so it starts above the row.
        {200, 44, {8, 1, 42, 42}, {58, 3, 78, 17}, {136, 3, 60, 17}, {58, 21, 138, 15}},
        // Tall: knob 58, name row 23, value 22 - 2.
        {300, 90, {8, 16, 58, 58}, {74, 3, 162, 23}, {236, 3, 60, 23}, {74, 27, 222, 20}},
        // Compact: knob h - 6 in a column of h - 2, lock 24 and value 62 at the right, name between.
        {200, 36, {6, 3, 30, 30}, {38, 3, 72, 30}, {172, 3, 24, 30}, {110, 3, 62, 30}},
        // Very compact: knob 22 in a column of 26.
        {200, 28, {6, 3, 22, 22}, {30, 3, 80, 22}, {172, 3, 24, 22}, {110, 3, 62, 22}},
    };

    KnobFixture f("drive");
    for (const auto& c : cases)
    {
        SCOPED_TRACE(juce::String(c.width) + " x " + juce::String(c.height));
        f.knob->setSize(c.width, c.height);
        EXPECT_EQ(f.knob->getSlider().getBounds(), c.slider);
        EXPECT_EQ(f.knob->getNameLabel().getBounds(), c.name);
        EXPECT_EQ(f.knob->getLockButton().getBounds(), c.lock);
        EXPECT_EQ(f.knob->getValueLabel().getBounds(), c.value);
    }
}

TEST(ParameterKnob, TinyLayoutsDoNotProduceNegativeSizes)
{
    KnobFixture f("drive");
    for (const auto size : {juce::Point<int>{0, 0}, {5, 5}, {30, 20}, {12, 60}})
    {
        f.knob->setSize(size.x, size.y);
        for (auto* child : f.knob->getChildren())
        {
            EXPECT_GE(child->getWidth(), 0);
            EXPECT_GE(child->getHeight(), 0);
        }
    }
}

TEST(ParameterKnob, UnknownParameterIsRefused)
{
    SorvaneLookAndFeel lookAndFeel;
    auto processor = makeProcessor();
    EXPECT_THROW(ParameterKnob(processor->getParameterState(), "nope", "NOPE", lookAndFeel),
                 std::invalid_argument);
}
