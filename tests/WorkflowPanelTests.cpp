// The WORKFLOW call-out: the discovery filter and the header's mark, group locks and focus with their
// history entries, group restores from Before, note names, and the delay page's timing.
#include "EditorTestSupport.h"
#include "TestSupport.h"

#include "editor/SorvaneAudioProcessorEditor.h"
#include "editor/WorkflowPanel.h"
#include "processor/LockWord.h"
#include "workflow/GroupRestore.h"
#include "workflow/TresselPersonality.h"

#include <gtest/gtest.h>

namespace
{
using sorvane::test::plain;
using sorvane::test::setPlain;

template <typename Type>
Type& find(juce::Component& root, const juce::String& id)
{
    std::function<juce::Component*(juce::Component&)> search = [&](juce::Component& c) -> juce::Component*
    {
        if (c.getComponentID() == id)
            return &c;
        for (auto* child : c.getChildren())
            if (auto* found = search(*child))
                return found;
        return nullptr;
    };
    auto* found = dynamic_cast<Type*>(search(root));
    if (found == nullptr)
        throw std::runtime_error(("no " + id).toStdString());
    return *found;
}

// Only the shown page is in the component tree.
juce::Component& page(juce::Component& panel, int index)
{
    find<juce::TabbedComponent>(panel, "workflowTabs").setCurrentTabIndex(index);
    return panel;
}

struct PanelFixture
{
    sorvane::test::ScopedTemporaryHome home;
    std::unique_ptr<SorvaneAudioProcessor> processor;
    std::unique_ptr<SorvaneAudioProcessorEditor> editor;

    explicit PanelFixture(
        juce::AudioProcessor::WrapperType wrapper = juce::AudioProcessor::wrapperType_Standalone)
        : processor(sorvane::test::makeProcessor(wrapper))
    {
        editor.reset(dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
        editor->stopTimer();
    }
    ~PanelFixture() { editor = nullptr; }

    juce::Component& open()
    {
        if (editor->getWorkflowPanel() != nullptr)
            editor->closeWorkflowTools();
        editor->showWorkflowTools();
        if (editor->getWorkflowPanel() == nullptr)
            throw std::runtime_error("no panel");
        return *editor->getWorkflowPanel();
    }

    juce::String headerText() { return find<juce::TextButton>(*editor, "workflowTools").getButtonText(); }
};
} // namespace

TEST(WorkflowPanel, FilterMarksTheHeaderButtonAndSurvivesReopening)
{
    PanelFixture f;
    auto& panel = f.open();
    EXPECT_EQ(panel.getWidth(), 650);
    EXPECT_EQ(panel.getHeight(), 440);
    auto& source = find<juce::ComboBox>(panel, "discoverySource");
    source.setSelectedId(2, juce::sendNotificationSync); // Vocal
    EXPECT_EQ(f.editor->getDiscoveryFilter().source, "Vocal");
    EXPECT_EQ(f.headerText(), "WORKFLOW *");
    source.setSelectedId(1, juce::sendNotificationSync);
    EXPECT_EQ(f.headerText(), "WORKFLOW");
    find<juce::ComboBox>(panel, "discoveryIntensity").setSelectedId(5, juce::sendNotificationSync);
    EXPECT_EQ(f.editor->getDiscoveryFilter().intensityBand, 4);
    EXPECT_EQ(f.headerText(), "WORKFLOW *");

    // A second press puts it away; the next one shows the last choice again.
    f.editor->showWorkflowTools();
    EXPECT_EQ(f.editor->getWorkflowPanel(), nullptr);
    auto& reopened = f.open();
    EXPECT_EQ(find<juce::ComboBox>(reopened, "discoveryIntensity").getSelectedId(), 5);

    // Case does not matter when the panel selects the filter's source.
    auto lower = sorvane::editor::createWorkflowPanel(*f.processor, {"vocal", "WIDTH", 0}, {}, false, {});
    EXPECT_EQ(find<juce::ComboBox>(*lower, "discoverySource").getText(), "Vocal");
    EXPECT_EQ(find<juce::ComboBox>(*lower, "discoveryPurpose").getText(), "Width");
    auto unknown = sorvane::editor::createWorkflowPanel(*f.processor, {"Oboe", "All", 0}, {}, false, {});
    EXPECT_EQ(find<juce::ComboBox>(*unknown, "discoverySource").getSelectedId(), 0);
}

TEST(WorkflowPanel, GroupLocksAndFocusChangeTheWordWithTwoHistoryEntriesPerChange)
{
    PanelFixture f;
    f.processor->lockWord.store(0x5ull); // two individual locks
    auto& panel = f.open();
    const auto history = f.processor->getMutationHistory().size();

    auto& rhythm = find<juce::ToggleButton>(panel, "lockGroup1");
    rhythm.setToggleState(true, juce::sendNotificationSync);
    EXPECT_EQ(f.processor->lockWord.load(), 0x5ull | (1ull << 25));
    rhythm.setToggleState(false, juce::sendNotificationSync);
    EXPECT_EQ(f.processor->lockWord.load(), 0x5ull);
    EXPECT_EQ(f.processor->getMutationHistory().size(), history + 4);

    auto& focus = find<juce::ComboBox>(panel, "mutationFocus");
    EXPECT_EQ(focus.getSelectedId(), 1);
    focus.setSelectedId(1, juce::sendNotificationSync); // already set: nothing happens
    EXPECT_EQ(f.processor->getMutationHistory().size(), history + 4);
    focus.setSelectedId(4, juce::sendNotificationSync);
    EXPECT_EQ(f.processor->lockWord.load(), 0x5ull | (3ull << 27));
    EXPECT_EQ(f.processor->getMutationHistory().size(), history + 6);

    // Bits above the focus are cleared by a protection change.
    EXPECT_EQ(sorvane::protectedLockWord(0xFFFF'FFFF'FFFF'FFFFull, false, true, false, 9),
              0xFFFFFFull | (1ull << 25) | (3ull << 27));
}

TEST(WorkflowPanel, GroupRestoreBringsBackUnlockedControlsOfThatGroupOnly)
{
    PanelFixture f;
    auto& p = *f.processor;
    p.generateTressel(99u, sorvane::tresselBroken, 90.0f, {}, false, false);
    ASSERT_TRUE(p.selectTresselVariant(1));
    const auto session = p.getTresselSession();
    const auto baselineValue = [&](const char* id)
    { return (float)session.baseline.getChildWithProperty("id", id)["value"]; };
    // Make every rhythm control differ from Before, then lock one of them.
    for (const char* id : {"glitch", "division", "reverse", "spectralWave", "spectralRate", "chaos"})
        if (plain(p, id) == baselineValue(id))
            setPlain(p, id, baselineValue(id) > 0.5f ? 0.0f : 1.0f);
    const float glitch = plain(p, "glitch");
    const float drive = plain(p, "drive");
    f.editor->getKnobs()[0]; // knobs exist; the lock goes straight into the word
    p.lockWord.store(sorvane::lockBitForParameterId("glitch") == 0 ? 0 : (1ull << 9));
    ASSERT_EQ(sorvane::effectiveLockMask(p.lockWord.load()), 1u << 9) << "glitch is lock bit 9";

    auto& panel = f.open();
    const auto history = p.getMutationHistory().size();
    find<juce::TextButton>(page(panel, 1), "restoreGroup1").triggerClick();
    sorvane::test::pumpMessages(5);
    EXPECT_EQ(plain(p, "glitch"), glitch) << "locked";
    for (const char* id : {"division", "reverse", "spectralWave", "spectralRate", "chaos"})
        EXPECT_EQ(plain(p, id), baselineValue(id)) << id;
    EXPECT_EQ(plain(p, "drive"), drive) << "outside the group";
    EXPECT_EQ(p.getMutationHistory().size(), history + 2);
    // The restored sound is now the auditioned variant.
    EXPECT_EQ(p.getTresselSession().variants[1].getChildWithProperty("id", "division")["value"],
              session.baseline.getChildWithProperty("id", "division")["value"]);

    // Focus on Space locks every tone control: RESTORE TONE finds nothing to do.
    p.lockWord.store(3ull << 27);
    auto& again = f.open();
    const auto before = p.getMutationHistory().size();
    find<juce::TextButton>(page(again, 1), "restoreGroup0").triggerClick();
    sorvane::test::pumpMessages(5);
    EXPECT_EQ(p.getMutationHistory().size(), before);
}

TEST(WorkflowPanel, RestoreButtonsNeedASession)
{
    PanelFixture f;
    auto& panel = f.open();
    EXPECT_FALSE(find<juce::TextButton>(page(panel, 1), "restoreGroup2").isEnabled());
    EXPECT_EQ(
        find<juce::TextButton>(page(panel, 1), "restoreGroup2").getTooltip(),
        "Restore this group's controls from Before; protected and unrelated controls stay unchanged. Undo is "
        "available.");
}

TEST(WorkflowPanel, NoteNamesSwitchTheFrequencyKnobs)
{
    PanelFixture f;
    auto& panel = f.open();
    find<juce::ToggleButton>(page(panel, 1), "showNoteNames")
        .setToggleState(true, juce::sendNotificationSync);
    EXPECT_TRUE(f.editor->isShowingNoteNames());
    int frequencyKnobs = 0;
    for (const auto& knob : f.editor->getKnobs())
    {
        const bool frequency = knob->getParameterId() == "resFreq" || knob->getParameterId() == "ringFreq";
        EXPECT_EQ(knob->getShowNoteName(), frequency) << knob->getParameterId();
        frequencyKnobs += frequency;
    }
    EXPECT_EQ(frequencyKnobs, 2);
    EXPECT_TRUE(find<juce::ToggleButton>(page(f.open(), 1), "showNoteNames").getToggleState());
}

TEST(WorkflowPanel, DelayDivisionsFollowTheTempo)
{
    using sorvane::editor::delayDivisionMilliseconds;
    using sorvane::editor::delayStatusText;
    EXPECT_DOUBLE_EQ(delayDivisionMilliseconds(5, 120.0), 500.0);
    EXPECT_DOUBLE_EQ(delayDivisionMilliseconds(6, 60.0), 2000.0);
    EXPECT_NEAR(delayDivisionMilliseconds(18, 60.0), 1333.333, 1e-3);
    EXPECT_NEAR(delayDivisionMilliseconds(6, 67.0), 1791.045, 1e-3);
    EXPECT_EQ(delayStatusText(5, 0.0, 120.0, true),
              juce::String::fromUTF8("120.0 BPM \xe2\x80\x94 500.0 ms"));
    EXPECT_EQ(delayStatusText(0, 250.0, 120.0, true), "Manual delay: 250.0 ms");
    EXPECT_EQ(delayStatusText(0, 5000.0, 120.0, true), "Manual delay: 180.0 ms");
    const juce::String unsupported =
        "Unsupported clock / division: delay wet is muted. Choose a shorter division or Milliseconds.";
    EXPECT_EQ(delayStatusText(6, 0.0, 60.0, true), unsupported);
    EXPECT_EQ(delayStatusText(5, 0.0, 120.0, false), unsupported);

    PanelFixture f;
    setPlain(*f.processor, "standaloneTempo", 60.0f);
    auto& panel = f.open();
    auto& timing = find<juce::ComboBox>(page(panel, 2), "delaySyncMode");
    EXPECT_EQ(timing.getNumItems(), 19);
    EXPECT_EQ(timing.getItemText(18), "1/2 triplet");
    EXPECT_FALSE(timing.isItemEnabled(7)) << "1/2 at 60 BPM is 2000 ms";
    EXPECT_TRUE(timing.isItemEnabled(19));
    EXPECT_TRUE(timing.isItemEnabled(1));
    setPlain(*f.processor, "standaloneTempo", 67.0f);
    auto& faster = find<juce::ComboBox>(page(f.open(), 2), "delaySyncMode");
    EXPECT_TRUE(faster.isItemEnabled(7));
    faster.setSelectedId(6, juce::sendNotificationSync); // 1/4, written to the parameter
    EXPECT_EQ(juce::roundToInt(plain(*f.processor, "delaySync")), 5);
    EXPECT_EQ(find<juce::Label>(*f.editor->getWorkflowPanel(), "delayStatus").getText().isNotEmpty(), true);
}

TEST(WorkflowPanel, InAPluginTheHostOwnsTheTempo)
{
    PanelFixture f(juce::AudioProcessor::wrapperType_VST3);
    f.processor->currentTempoValid.store(false);
    setPlain(*f.processor, "delaySync", 5.0f);
    auto& panel = f.open();
    EXPECT_FALSE(find<juce::Slider>(page(panel, 2), "standaloneTempoSlider").isEnabled());
    auto& timing = find<juce::ComboBox>(page(panel, 2), "delaySyncMode");
    for (int id = 2; id <= 19; ++id)
        EXPECT_FALSE(timing.isItemEnabled(id)) << id;
    EXPECT_EQ(find<juce::Label>(panel, "delayStatus").getText(),
              "Unsupported clock / division: delay wet is muted. Choose a shorter division or Milliseconds.");
}

TEST(WorkflowPanel, RendersEveryPageInEveryThemeForReview)
{
    const juce::File folder(SORVANE_EDITOR_IMAGE_DIR);
    ASSERT_TRUE(folder.createDirectory());
    PanelFixture f;
    f.processor->generateTressel(7u, sorvane::tresselGlass, 50.0f, {}, false, false);
    f.processor->selectTresselVariant(2);
    static constexpr const char* themes[] = {"original", "graphite", "copper"};
    for (int theme = 0; theme < 3; ++theme)
    {
        f.editor->getAppearanceSelector()->setTheme(theme, false);
        auto& panel = f.open();
        auto* box = panel.getParentComponent();
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(f.editor->getLocalBounds().contains(box->getBounds())) << "the call-out fits the window";
        for (int index = 0; index < 3; ++index)
        {
            page(panel, index);
            const auto image = box->createComponentSnapshot(box->getLocalBounds(), true, 1.0f);
            const auto file =
                folder.getChildFile("workflow-page" + juce::String(index + 1) + "-" + themes[theme] + ".png");
            file.deleteFile();
            juce::FileOutputStream out(file);
            ASSERT_TRUE(out.openedOk());
            ASSERT_TRUE(juce::PNGImageFormat().writeImageToStream(image, out));
        }
    }
}
