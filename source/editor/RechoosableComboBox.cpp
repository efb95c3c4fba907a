#include "editor/RechoosableComboBox.h"

namespace sorvane::editor
{
void RechoosableComboBox::showPopup()
{
    juce::Label* label = nullptr;
    for (auto* child : getChildren())
        if ((label = dynamic_cast<juce::Label*>(child)) != nullptr)
            break;
    if (label == nullptr || getNumItems() == 0)
        return juce::ComboBox::showPopup();

    auto menu = *getRootMenu();
    const int shown = getSelectedId();
    for (juce::PopupMenu::MenuItemIterator it(menu, true); it.next();)
        if (auto& item = it.getItem(); item.itemID != 0)
            item.isTicked = item.itemID == shown;
    auto& lf = getLookAndFeel();
    menu.setLookAndFeel(&lf);
    menu.showMenuAsync(lf.getOptionsForComboBoxPopupMenu(*this, *label),
                       [safe = juce::Component::SafePointer<RechoosableComboBox>(this)](int result)
                       {
                           if (safe != nullptr)
                               safe->menuFinished(result);
                       });
}

void RechoosableComboBox::menuFinished(int result)
{
    hidePopup();
    if (result == 0)
        return;
    if (result == getSelectedId() && onChosenAgain)
        onChosenAgain();
    else
        setSelectedId(result);
}
} // namespace sorvane::editor
