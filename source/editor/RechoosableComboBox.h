#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace sorvane::editor
{
// A combo box whose menu also reports choosing the item it already shows. A list that selects its
// first entry by itself would otherwise leave that entry impossible to choose.
class RechoosableComboBox : public juce::ComboBox
{
public:
    // Called instead of onChange when the menu's choice is the item already shown.
    std::function<void()> onChosenAgain;

    void showPopup() override;
    // What the menu does with its result (0 when it was dismissed).
    void menuFinished(int result);
};
} // namespace sorvane::editor
