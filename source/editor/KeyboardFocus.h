#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

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
