// Browsing presets in a real window: keys typed through the window's peer, a filter and the browser
// chosen from the keyboard, and REVERT PRESETS putting the sound back exactly.
#include "WindowTestSupport.h"
#include "presets/FactoryPresets.h"
#include "workflow/StableHash.h"

#include <gtest/gtest.h>

namespace
{
struct PresetsOnScreen : sorvane::test::EditorWindowFixture
{
    template <typename T>
    T& control(const char* id)
    {
        auto* c = dynamic_cast<T*>(editor->findChildWithID(id));
        if (c == nullptr)
            throw std::runtime_error(std::string("no control ") + id);
        return *c;
    }

    void type(const juce::String& text)
    {
        for (auto ch : text)
            editor->getPeer()->handleKeyPress(juce::KeyPress((int)ch, {}, ch));
    }

    // The sound alone: the recent list deliberately survives a revert.
    juce::String soundDigest()
    {
        auto tree = processor->captureParameterSnapshot();
        tree.removeProperty("recentPresetHistory", nullptr);
        return sorvane::treeDigest(tree);
    }
};
} // namespace

TEST_F(PresetsOnScreen, SearchFilterChooseAndRevertFromTheKeyboard)
{
    const auto before = soundDigest();

    // The preset row belongs to Studio Mode.
    auto& mode = control<juce::ComboBox>("interfaceMode");
    ASSERT_TRUE(focus(mode));
    editor->getPeer()->handleKeyPress(juce::KeyPress(juce::KeyPress::upKey));
    pump(200);
    ASSERT_EQ(mode.getText(), "STUDIO MODE");

    auto& search = control<juce::TextEditor>("presetTextSearch");
    ASSERT_TRUE(search.isShowing());
    ASSERT_TRUE(focus(search));
    type("er");
    EXPECT_EQ(search.getText(), "er");
    pump(600); // the search waits for typing to pause

    auto& sourceFilter = control<juce::ComboBox>("presetSourceFilter");
    ASSERT_TRUE(focus(sourceFilter));
    editor->getPeer()->handleKeyPress(juce::KeyPress(juce::KeyPress::downKey));
    pump(200);
    ASSERT_EQ(sourceFilter.getText(), "FACTORY");

    // Every result matches; the last one is chosen by stepping down the list.
    auto& browser = control<juce::ComboBox>("presetBrowser");
    ASSERT_GE(browser.getNumItems(), 2);
    ASSERT_LT(browser.getNumItems(), sorvane::numFactoryPrograms) << "the search narrowed the list";
    for (const auto& entry : editor->getPresetResults())
        EXPECT_TRUE(entry.kind == sorvane::PresetKind::Factory) << entry.name;
    const auto wanted = browser.getItemText(browser.getNumItems() - 1);

    ASSERT_TRUE(focus(browser));
    for (int i = 0; i < browser.getNumItems() && browser.getText() != wanted; ++i)
    {
        editor->getPeer()->handleKeyPress(juce::KeyPress(juce::KeyPress::downKey));
        pump(100);
    }
    ASSERT_EQ(browser.getText(), wanted);
    pump(200);
    EXPECT_NE(soundDigest(), before) << "the chosen preset is heard";
    const auto* chosen = editor->getSelectedPreset();
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->name, wanted);
    EXPECT_EQ(editor->getStatusMessage(), chosen->description());

    auto& revert = control<juce::Button>("revertPresetExperiment");
    ASSERT_TRUE(revert.isEnabled());
    revert.triggerClick();
    pump(200);
    EXPECT_EQ(soundDigest(), before) << "REVERT PRESETS restores the sound exactly";
    EXPECT_EQ(editor->getStatusMessage(), "PRESET EXPERIMENT REVERTED");
}
