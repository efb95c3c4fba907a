// Keyboard behaviour that needs a real window: keys arrive through the window's peer, the way a person's
// key presses do.
#include "WindowTestSupport.h"

#include <gtest/gtest.h>

namespace
{
// The editor's keyboard focus in a real window.
using EditorOnScreen = sorvane::test::EditorWindowFixture;
} // namespace

TEST_F(EditorOnScreen, ArrowsSeekFromAFocusedComboInsteadOfChangingIt)
{
    auto& combo = *dynamic_cast<juce::ComboBox*>(editor->findChildWithID("tresselPersonality"));
    ASSERT_TRUE(combo.isShowing());
    // The X server hands the window the keyboard in its own time; a loaded machine takes longer.
    for (int i = 0; i < 40 && !combo.hasKeyboardFocus(true); ++i)
    {
        combo.grabKeyboardFocus();
        pump();
    }
    ASSERT_TRUE(combo.hasKeyboardFocus(true));
    const auto item = combo.getSelectedId();

    EXPECT_TRUE(press(juce::KeyPress(juce::KeyPress::rightKey)));
    EXPECT_EQ(editor->getStatusMessage(), "SEEK +5% / EQUAL-POWER FADE");
    EXPECT_EQ(combo.getSelectedId(), item);

    editor->setStatusMessage({}, 0);
    EXPECT_TRUE(press(juce::KeyPress(juce::KeyPress::downKey)));
    EXPECT_NE(combo.getSelectedId(), item) << "Down still chooses the next item";
    EXPECT_TRUE(editor->getStatusMessage().isEmpty() || !editor->getStatusMessage().startsWith("SEEK"));
}

TEST_F(EditorOnScreen, FocusComesBackToTheEditorWhenADialogCloses)
{
    auto& mode = *editor->findChildWithID("interfaceMode");
    mode.grabKeyboardFocus();
    pump();

    juce::AlertWindow::showMessageBoxAsync(
        juce::MessageBoxIconType::InfoIcon, "A dialog", "Closes soon", {}, nullptr,
        juce::ModalCallbackFunction::create([this](int) { editor->restoreKeyboardFocus(); }));
    pump(200);
    auto* modal = juce::Component::getCurrentlyModalComponent();
    ASSERT_NE(modal, nullptr);
    EXPECT_FALSE(editor->hasKeyboardFocus(true));
    modal->exitModalState(0);
    pump(300);

    EXPECT_TRUE(editor->hasKeyboardFocus(false)) << "the keyboard map works without a click";
    EXPECT_TRUE(press(juce::KeyPress(juce::KeyPress::leftKey)));
    EXPECT_EQ(editor->getStatusMessage(), "SEEK -5% / EQUAL-POWER FADE");
}

TEST_F(EditorOnScreen, TooltipsShowOverTheWindow)
{
    auto* tips = editor->getTooltipWindow();
    ASSERT_NE(tips, nullptr);
    auto& generate = editor->getTresselControls().generate;
    // Checked at once: the tooltip window's own timer hides the tip again when the real pointer is
    // elsewhere.
    tips->displayTip(editor->localPointToGlobal(generate.getBounds().getCentre()), generate.getTooltip());
    EXPECT_TRUE(tips->isVisible());
    EXPECT_TRUE(editor->getLocalBounds().intersects(tips->getBounds()));
}
