// Prints where the stand-alone editor puts its controls, so a process test can click them in the real
// window:
//
//     LayoutProbe WIDTH HEIGHT
//     -> {"editor": {"width": W, "height": H},
//         "frame": {"left": .., "top": .., "right": .., "bottom": ..},
//         "controls": [{"type", "id", "text", "title", "tooltip", "items", "visible", "shown",
//                       "x", "y", "width", "height"}, ...]}
//
// Control bounds are in editor coordinates. "frame" is the border JUCE's resizable document window (the
// base of the stand-alone window) puts around its content: title bar and resize border.
// No window is opened; the editor is built off screen.

#include "TestSupport.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace
{
juce::String typeOf(juce::Component& c)
{
    if (dynamic_cast<juce::ToggleButton*>(&c) != nullptr)
        return "ToggleButton";
    if (dynamic_cast<juce::Button*>(&c) != nullptr)
        return "Button";
    if (dynamic_cast<juce::ComboBox*>(&c) != nullptr)
        return "ComboBox";
    if (dynamic_cast<juce::Slider*>(&c) != nullptr)
        return "Slider";
    if (dynamic_cast<juce::TextEditor*>(&c) != nullptr)
        return "TextEditor";
    if (dynamic_cast<juce::Label*>(&c) != nullptr)
        return "Label";
    return "Component";
}

juce::var describe(juce::Component& editor, juce::Component& c)
{
    auto* o = new juce::DynamicObject();
    o->setProperty("type", typeOf(c));
    o->setProperty("id", c.getComponentID());
    o->setProperty("title", c.getTitle());
    juce::String text, tooltip;
    if (auto* button = dynamic_cast<juce::Button*>(&c))
        text = button->getButtonText();
    else if (auto* label = dynamic_cast<juce::Label*>(&c))
        text = label->getText();
    else if (auto* combo = dynamic_cast<juce::ComboBox*>(&c))
    {
        text = combo->getText();
        juce::Array<juce::var> items;
        for (int i = 0; i < combo->getNumItems(); ++i)
            items.add(combo->getItemText(i));
        o->setProperty("items", items);
    }
    if (auto* client = dynamic_cast<juce::SettableTooltipClient*>(&c))
        tooltip = client->getTooltip();
    o->setProperty("text", text);
    o->setProperty("tooltip", tooltip);
    o->setProperty("visible", c.isVisible());
    // Off screen nothing is "showing": visible up to the editor is what the window shows.
    bool shown = true;
    for (auto* p = &c; p != &editor && p != nullptr; p = p->getParentComponent())
        shown = shown && p->isVisible();
    o->setProperty("shown", shown);
    const auto r = editor.getLocalArea(c.getParentComponent(), c.getBoundsInParent());
    o->setProperty("x", r.getX());
    o->setProperty("y", r.getY());
    o->setProperty("width", r.getWidth());
    o->setProperty("height", r.getHeight());
    return juce::var(o);
}

void collect(juce::Component& editor, juce::Component& parent, juce::Array<juce::var>& out)
{
    for (auto* child : parent.getChildren())
    {
        out.add(describe(editor, *child));
        // A combo's label or a slider's text box are parts of their control, not controls.
        if (dynamic_cast<juce::ComboBox*>(child) == nullptr &&
            dynamic_cast<juce::Slider*>(child) == nullptr && dynamic_cast<juce::Button*>(child) == nullptr)
            collect(editor, *child, out);
    }
}

int run(int width, int height)
{
    auto processor = sorvane::test::makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
    std::unique_ptr<juce::AudioProcessorEditor> editor(processor->createEditor());
    if (editor == nullptr)
    {
        std::cerr << "no editor\n";
        return 1;
    }
    editor->setSize(width, height);

    // The stand-alone window is a resizable juce::DocumentWindow with JUCE's own title bar.
    juce::DocumentWindow window("Sorvane", juce::Colours::black,
                                juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton,
                                false);
    window.setResizable(true, false);
    const auto frame = window.getContentComponentBorder();

    juce::Array<juce::var> controls;
    collect(*editor, *editor, controls);

    auto* size = new juce::DynamicObject();
    size->setProperty("width", editor->getWidth());
    size->setProperty("height", editor->getHeight());
    auto* border = new juce::DynamicObject();
    border->setProperty("left", frame.getLeft());
    border->setProperty("top", frame.getTop());
    border->setProperty("right", frame.getRight());
    border->setProperty("bottom", frame.getBottom());
    auto* root = new juce::DynamicObject();
    root->setProperty("editor", juce::var(size));
    root->setProperty("frame", juce::var(border));
    root->setProperty("controls", controls);

    std::cout << juce::JSON::toString(juce::var(root), true).toStdString() << std::endl;
    editor.reset();
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || std::atoi(argv[1]) <= 0 || std::atoi(argv[2]) <= 0)
    {
        std::fprintf(stderr, "usage: LayoutProbe WIDTH HEIGHT\n");
        return 2;
    }
    // Nothing goes on screen; a display that cannot exist keeps JUCE away from any real X server.
    ::setenv("DISPLAY", ":-1", 1);
    juce::ScopedJuceInitialiser_GUI juce;
    return run(std::atoi(argv[1]), std::atoi(argv[2]));
}
