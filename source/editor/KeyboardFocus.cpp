#include "editor/KeyboardFocus.h"

#include <algorithm>

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
void applyReadingFocusOrder(juce::Component& window, const std::vector<juce::Rectangle<int>>& panels)
{
    int panelsTop = window.getHeight();
    for (const auto& p : panels)
        panelsTop = std::min(panelsTop, p.getY());
    const auto regionOf = [&](juce::Rectangle<int> bounds)
    {
        const auto centre = bounds.getCentre();
        for (size_t i = 0; i < panels.size(); ++i)
            if (panels[i].contains(centre))
                return (int)i + 1;
        return centre.y < panelsTop ? 0 : (int)panels.size() + 1;
    };

    struct Placed
    {
        juce::Component* component;
        int region;
        juce::Rectangle<int> bounds;
    };
    std::vector<Placed> placed;
    for (auto* child : window.getChildren())
        placed.push_back({child, regionOf(child->getBounds()), child->getBounds()});
    // Panels in the order they stand, left to right.
    std::vector<int> panelRank(panels.size() + 2);
    {
        std::vector<size_t> byX(panels.size());
        for (size_t i = 0; i < byX.size(); ++i)
            byX[i] = i;
        std::stable_sort(byX.begin(), byX.end(),
                         [&](size_t a, size_t b) { return panels[a].getX() < panels[b].getX(); });
        for (size_t rank = 0; rank < byX.size(); ++rank)
            panelRank[byX[rank] + 1] = (int)rank + 1;
        panelRank.back() = (int)panels.size() + 1;
    }
    std::stable_sort(placed.begin(), placed.end(),
                     [&](const Placed& a, const Placed& b)
                     {
                         if (a.region != b.region)
                             return panelRank[(size_t)a.region] < panelRank[(size_t)b.region];
                         return a.bounds.getCentreY() < b.bounds.getCentreY();
                     });

    int order = 1;
    for (size_t start = 0; start < placed.size();)
    {
        // One row: what shares the region and sits beside the row's first child.
        const auto& first = placed[start];
        size_t end = start + 1;
        while (end < placed.size() && placed[end].region == first.region &&
               placed[end].bounds.getCentreY() < first.bounds.getBottom())
            ++end;
        std::stable_sort(placed.begin() + (long)start, placed.begin() + (long)end,
                         [](const Placed& a, const Placed& b) { return a.bounds.getX() < b.bounds.getX(); });
        for (size_t i = start; i < end; ++i)
            placed[i].component->setExplicitFocusOrder(order++);
        start = end;
    }
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
