#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <vector>

namespace sorvane::editor
{
// Draws a ring around the control that holds keyboard focus inside one editor. A control focused by a
// mouse click is not ringed: the ring is for people who move with the keyboard.
class FocusRing : private juce::FocusChangeListener
{
public:
    explicit FocusRing(juce::Component& owner);
    ~FocusRing() override;

    // The ringed control in the owner's coordinates; empty when none is ringed.
    juce::Rectangle<int> getRingBounds() const;
    juce::Component* getRingedComponent() const { return ringed.getComponent(); }
    void paint(juce::Graphics& g, juce::Colour colour) const;

    // Re-evaluates the current focus (also called by the desktop on every focus change).
    void update(juce::Component* focused, bool fromMouse);

private:
    void globalFocusChanged(juce::Component* focusedComponent) override;
    void repaintRing();

    juce::Component& owner;
    juce::Component::SafePointer<juce::Component> ringed;
};

// Gives the children of a window Tab's order by where they are read: the rows above the panels, then
// each panel from left to right, then the rows below; inside each of these, rows from the top and each
// row from the left. A row is every child whose vertical centre lies within the row's first child.
// Without it JUCE orders by top edge across the whole window, and Tab jumps between panels.
void applyReadingFocusOrder(juce::Component& window, const std::vector<juce::Rectangle<int>>& panels);

// Lets the transport keys (Space, Left, Right without modifiers) reach the editor while a combo box has
// focus, unless the combo's own list is open. Keys the editor does not take stay the combo's.
class ComboTransportKeys : public juce::KeyListener
{
public:
    explicit ComboTransportKeys(std::function<bool(const juce::KeyPress&)> editorKeys);
    bool keyPressed(const juce::KeyPress& key, juce::Component* origin) override;

    static bool isTransportKey(const juce::KeyPress& key);

private:
    std::function<bool(const juce::KeyPress&)> editorKeys;
};
} // namespace sorvane::editor
