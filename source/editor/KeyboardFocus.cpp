#include "editor/KeyboardFocus.h"

namespace sorvane::editor
{
FocusRing::FocusRing(juce::Component& ownerToWatch) : owner(ownerToWatch)
{
    juce::Desktop::getInstance().addFocusChangeListener(this);
}

FocusRing::~FocusRing()
{
    juce::Desktop::getInstance().removeFocusChangeListener(this);
}

void FocusRing::globalFocusChanged(juce::Component* focusedComponent)
{
    update(focusedComponent, juce::ModifierKeys::currentModifiers.isAnyMouseButtonDown());
}

void FocusRing::update(juce::Component* focused, bool fromMouse)
{
    repaintRing();
    const bool inside = focused != nullptr && focused != &owner && owner.isParentOf(focused);
    ringed = inside && !fromMouse ? focused : nullptr;
    repaintRing();
}

juce::Rectangle<int> FocusRing::getRingBounds() const
{
    auto* c = ringed.getComponent();
    if (c == nullptr || !owner.isParentOf(c))
        return {};
    for (auto* p = c; p != &owner; p = p->getParentComponent())
        if (!p->isVisible())
            return {};
    return owner.getLocalArea(c->getParentComponent(), c->getBounds()).expanded(3);
}

void FocusRing::repaintRing()
{
    if (const auto bounds = getRingBounds(); !bounds.isEmpty())
        owner.repaint(bounds.expanded(2));
}

void FocusRing::paint(juce::Graphics& g, juce::Colour colour) const
{
    const auto bounds = getRingBounds();
    if (bounds.isEmpty())
        return;
    g.setColour(colour);
    g.drawRoundedRectangle(bounds.toFloat().reduced(1.0f), 4.0f, 2.0f);
}

//======================================================================================================
ComboTransportKeys::ComboTransportKeys(std::function<bool(const juce::KeyPress&)> keys)
    : editorKeys(std::move(keys))
{
}

bool ComboTransportKeys::isTransportKey(const juce::KeyPress& key)
{
    const auto code = key.getKeyCode();
    return !key.getModifiers().isAnyModifierKeyDown() &&
           (code == juce::KeyPress::spaceKey || code == juce::KeyPress::leftKey ||
            code == juce::KeyPress::rightKey);
}

bool ComboTransportKeys::keyPressed(const juce::KeyPress& key, juce::Component* origin)
{
    auto* combo = dynamic_cast<juce::ComboBox*>(origin);
    if (combo == nullptr || combo->isPopupActive() || !isTransportKey(key) || editorKeys == nullptr)
        return false;
    return editorKeys(key);
}
} // namespace sorvane::editor
