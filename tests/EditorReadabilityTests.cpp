// What a person reading the window needs: text that fits where it is drawn, text that stands out from
// what is painted behind it in every theme, lit buttons in the theme's colours, tooltips that can show
// and a visible keyboard focus.
#include "TestSupport.h"

#include "EditorTestSupport.h"
#include "editor/InterfaceTheme.h"
#include "editor/Palette.h"
#include "editor/SorvaneAudioProcessorEditor.h"

#include "editor/EditorPainting.h"

#include <gtest/gtest.h>

#include <set>

#include <functional>

using sorvane::test::makeProcessor;
namespace pal = sorvane::palette;

namespace
{
struct StandaloneEditor
{
    StandaloneEditor()
        : processor(makeProcessor(juce::AudioProcessor::wrapperType_Standalone)),
          editor(dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()))
    {
    }
    ~StandaloneEditor() { editor = nullptr; }

    sorvane::test::ScopedTemporaryHome home;
    std::unique_ptr<SorvaneAudioProcessor> processor;
    std::unique_ptr<SorvaneAudioProcessorEditor> editor;
};

void forEachShown(juce::Component& root, const std::function<void(juce::Component&)>& visit)
{
    for (auto* child : root.getChildren())
    {
        if (!child->isVisible() || child->getWidth() <= 0 || child->getHeight() <= 0)
            continue;
        visit(*child);
        forEachShown(*child, visit);
    }
}

juce::String describe(const juce::Component& c)
{
    auto name = c.getComponentID();
    for (auto* p = c.getParentComponent(); name.isEmpty() && p != nullptr; p = p->getParentComponent())
        name = p->getComponentID().isNotEmpty() ? "inside " + p->getComponentID() : juce::String();
    return juce::String(typeid(c).name()) + " " + name;
}

// Whether a single line of text fits a width at a font, condensed at most to a horizontal scale.
bool fitsOneLine(const juce::String& text, const juce::Font& font, int width, float minimumScale)
{
    return font.getStringWidthFloat(text) * minimumScale <= (float)width + 0.5f;
}

// Every text a control can show in its place, with the font and room its look and feel gives it.
struct TextSlot
{
    juce::String text;
    juce::Font font;
    juce::Rectangle<int> area;
    float minimumScale;
};

std::vector<TextSlot> textSlotsOf(juce::Component& c, SorvaneLookAndFeel& lnf)
{
    std::vector<TextSlot> slots;
    if (auto* button = dynamic_cast<juce::TextButton*>(&c))
    {
        slots.push_back({button->getButtonText().toUpperCase(), SorvaneLookAndFeel::buttonFont(*button),
                         SorvaneLookAndFeel::buttonTextArea(*button),
                         SorvaneLookAndFeel::buttonMinimumHorizontalScale});
    }
    else if (auto* toggle = dynamic_cast<juce::ToggleButton*>(&c))
    {
        slots.push_back({toggle->getButtonText(), SorvaneLookAndFeel::toggleFont(*toggle),
                         SorvaneLookAndFeel::toggleTextArea(*toggle), 1.0f});
    }
    else if (auto* combo = dynamic_cast<juce::ComboBox*>(&c))
    {
        // Every item, not only the one chosen now: the user picks the others.
        juce::Label probe;
        lnf.positionComboBoxText(*combo, probe);
        const auto area = probe.getBorderSize().subtractedFrom(probe.getBounds().withZeroOrigin());
        const auto font = lnf.getComboBoxFont(*combo);
        for (int i = 0; i < combo->getNumItems(); ++i)
            slots.push_back({combo->getItemText(i), font, area, 1.0f});
        if (combo->getTextWhenNothingSelected().isNotEmpty())
            slots.push_back({combo->getTextWhenNothingSelected(), font, area, 1.0f});
    }
    else if (auto* label = dynamic_cast<juce::Label*>(&c))
    {
        // A combo box's own label is checked with every item above.
        if (dynamic_cast<juce::ComboBox*>(label->getParentComponent()) != nullptr ||
            label->getText().isEmpty())
            return slots;
        const auto scale = label->getMinimumHorizontalScale();
        const auto area = lnf.getLabelBorderSize(*label).subtractedFrom(label->getLocalBounds());
        slots.push_back({label->getText(), lnf.getLabelFont(*label), area, scale > 0.0f ? scale : 1.0f});
    }
    else if (auto* editor = dynamic_cast<juce::TextEditor*>(&c))
    {
        if (dynamic_cast<juce::Label*>(editor->getParentComponent()) != nullptr)
            return slots; // an open label editor
        const auto area =
            editor->getLocalBounds().withTrimmedLeft(editor->getLeftIndent() + 2).withTrimmedRight(2);
        auto text = editor->getText();
        if (editor->getComponentID().isEmpty() && editor->getTooltip().startsWith("Deterministic seed"))
            text = "8888888888"; // the widest ten-digit seed
        slots.push_back({text, editor->getFont(), area, 1.0f});
    }
    else if (auto* slider = dynamic_cast<juce::Slider*>(&c))
    {
        // The read-out at both ends of the range, in the slider's own text box.
        for (auto* child : slider->getChildren())
            if (auto* box = dynamic_cast<juce::Label*>(child))
            {
                const auto area = lnf.getLabelBorderSize(*box).subtractedFrom(box->getLocalBounds());
                for (const auto value : {slider->getMinimum(), slider->getMaximum()})
                    slots.push_back({slider->getTextFromValue(value), lnf.getLabelFont(*box), area, 1.0f});
            }
    }
    return slots;
}
} // namespace

TEST(EditorReadability, EveryTextFitsItsPlaceInBothModesAtFourSizes)
{
    StandaloneEditor f;
    auto& lnf = f.editor->getSorvaneLookAndFeel();
    const std::pair<int, int> sizes[] = {{1100, 700}, {1180, 720}, {1440, 900}, {1680, 1020}};

    for (const auto& size : sizes)
        for (const bool tressel : {false, true})
        {
            const int w = size.first, h = size.second; // lambdas cannot capture structured bindings
            f.editor->setTresselMode(tressel);
            f.editor->setSize(w, h);
            int checked = 0;
            forEachShown(
                *f.editor,
                [&](juce::Component& c)
                {
                    for (const auto& slot : textSlotsOf(c, lnf))
                    {
                        ++checked;
                        EXPECT_TRUE(
                            fitsOneLine(slot.text, slot.font, slot.area.getWidth(), slot.minimumScale))
                            << "\"" << slot.text << "\" (" << slot.font.getStringWidthFloat(slot.text)
                            << " px) in " << slot.area.getWidth() << " px of " << describe(c) << " at " << w
                            << "x" << h << (tressel ? " tressel" : " studio");
                        EXPECT_LE(slot.font.getHeight(), (float)slot.area.getHeight() + 1.0f)
                            << "\"" << slot.text << "\" too tall for " << describe(c);
                    }
                    // Knob read-outs show values across the whole range.
                    if (auto* knob = dynamic_cast<ParameterKnob*>(&c))
                    {
                        auto& label = knob->getValueLabel();
                        auto& slider = knob->getSlider();
                        const auto area =
                            lnf.getLabelBorderSize(label).subtractedFrom(label.getLocalBounds());
                        for (const auto value : {slider.getMinimum(), slider.getMaximum()})
                            EXPECT_TRUE(fitsOneLine(slider.getTextFromValue(value), label.getFont(),
                                                    area.getWidth(), label.getMinimumHorizontalScale()))
                                << knob->getParameterId() << " read-out " << slider.getTextFromValue(value);
                    }
                });
            EXPECT_GT(checked, 60) << "the walk reached the controls";
        }
}

TEST(EditorReadability, ThreeLongTextsThatUsedToBeCutNowFit)
{
    // The texts people reported: a whole mode name, the fader title, a crossfade choice, a whole seed.
    StandaloneEditor f;
    auto& lnf = f.editor->getSorvaneLookAndFeel();
    f.editor->setTresselMode(false);
    f.editor->setSize(1100, 700);
    auto& mode = *dynamic_cast<juce::ComboBox*>(f.editor->findChildWithID("interfaceMode"));
    juce::Label probe;
    lnf.positionComboBoxText(mode, probe);
    const auto modeRoom = probe.getBorderSize().subtractedFrom(probe.getBounds()).getWidth();
    EXPECT_TRUE(fitsOneLine("TRESSEL MODE", lnf.getComboBoxFont(mode), modeRoom, 1.0f));

    auto& seed = f.editor->getMutationControls().seed;
    seed.setText("4294967295", juce::dontSendNotification);
    EXPECT_LE(seed.getFont().getStringWidthFloat("4294967295"),
              (float)(seed.getWidth() - seed.getLeftIndent() - 4));
}

TEST(EditorReadability, EveryShownTextStandsOutFromWhatIsPaintedBehindItInEveryTheme)
{
    StandaloneEditor f;
    auto& lnf = f.editor->getSorvaneLookAndFeel();
    auto* selector = f.editor->getAppearanceSelector();
    ASSERT_NE(selector, nullptr);

    // Lit buttons count too: a variation and the baseline.
    f.editor->getMutationControls().variations[1].setToggleState(true, juce::dontSendNotification);

    for (int theme = 0; theme < 3; ++theme)
    {
        selector->setTheme(theme, false);
        for (const bool tressel : {false, true})
        {
            f.editor->setTresselMode(tressel);
            f.editor->setStatusMessage({}, 0);
            const auto image = f.editor->createComponentSnapshot(f.editor->getLocalBounds(), true, 1.0f);
            const auto backgroundAt = [&](juce::Component& c, int x, int y)
            {
                const auto p = f.editor->getLocalPoint(&c, juce::Point<int>(x, y));
                return image.getPixelAt(juce::jlimit(0, image.getWidth() - 1, p.x),
                                        juce::jlimit(0, image.getHeight() - 1, p.y));
            };
            const auto expectReadable =
                [&](juce::Component& c, juce::Colour text, juce::Colour ground, double need)
            {
                const auto seen = ground.overlaidWith(text);
                EXPECT_GE(kavix::ui::contrastRatio(seen, ground), need - 0.1)
                    << describe(c) << " text " << text.toDisplayString(true) << " on "
                    << ground.toDisplayString(false) << " theme " << theme
                    << (tressel ? " tressel" : " studio");
            };

            int checked = 0;
            forEachShown(
                *f.editor,
                [&](juce::Component& c)
                {
                    if (!c.isEnabled())
                        return; // disabled text is meant to recede
                    if (auto* b = dynamic_cast<juce::TextButton*>(&c);
                        b != nullptr && b->getButtonText().isNotEmpty())
                    {
                        const auto font = SorvaneLookAndFeel::buttonFont(*b);
                        const auto text = lnf.buttonTextColour(*b, false);
                        const auto need = kavix::ui::minimumTextContrast(font.getHeight(), font.isBold());
                        // Above and below the text at the middle: on the body's diagonal gradient
                        // the two average to the colour behind the text.
                        const int x = b->getWidth() / 2;
                        const auto above = backgroundAt(c, x, 4);
                        const auto below = backgroundAt(c, x, b->getHeight() - 5);
                        expectReadable(c, text, above.interpolatedWith(below, 0.5f), need);
                        ++checked;
                    }
                    else if (auto* t = dynamic_cast<juce::ToggleButton*>(&c);
                             t != nullptr && t->getButtonText().isNotEmpty())
                    {
                        const auto font = SorvaneLookAndFeel::toggleFont(*t);
                        expectReadable(c, lnf.toggleTextColour(*t), backgroundAt(c, t->getWidth() - 1, 1),
                                       kavix::ui::minimumTextContrast(font.getHeight(), font.isBold()));
                        ++checked;
                    }
                    else if (auto* l = dynamic_cast<juce::Label*>(&c);
                             l != nullptr && l->getText().isNotEmpty())
                    {
                        const auto font = lnf.getLabelFont(*l);
                        expectReadable(c, lnf.labelTextColour(*l), backgroundAt(c, 2, 2),
                                       kavix::ui::minimumTextContrast(font.getHeight(), font.isBold()));
                        ++checked;
                    }
                    else if (auto* e = dynamic_cast<juce::TextEditor*>(&c))
                    {
                        const auto font = e->getFont();
                        expectReadable(c, e->findColour(juce::TextEditor::textColourId),
                                       backgroundAt(c, e->getWidth() - 3, 3),
                                       kavix::ui::minimumTextContrast(font.getHeight(), font.isBold()));
                        ++checked;
                    }
                });
            EXPECT_GT(checked, 40);
        }
    }

    // The paused status line was the worst case: violet on the window's background.
    for (int theme = 0; theme < 3; ++theme)
    {
        selector->setTheme(theme, false);
        auto& status = f.editor->getSourceControls().status;
        kavix::ui::setColour(status, juce::Label::textColourId, pal::violet);
        const auto ground = kavix::ui::colourFor(theme, pal::ink);
        EXPECT_GE(kavix::ui::contrastRatio(ground.overlaidWith(lnf.labelTextColour(status)), ground), 4.5);
    }
}

TEST(EditorReadability, LegibleTextMovesTowardsLightJustFarEnough)
{
    const auto light = pal::cream;
    const auto dark = pal::ink;
    struct Case
    {
        juce::Colour text, background;
        double need;
    };
    const Case cases[] = {
        {pal::violet, pal::ink, 4.5},                             // the paused status line
        {pal::ink, pal::violet, 4.5},                             // MUTATE's text on its fill
        {pal::cream.withAlpha((juce::uint8)0x66), pal::ink, 4.5}, // a faint placeholder
        {pal::cyan, pal::ink, 3.0},                               // already fine for large text
        {pal::cream, pal::ink, 4.5},                              // already fine
    };
    for (const auto& c : cases)
    {
        const auto result =
            kavix::ui::legibleTextColour(c.text, c.background, c.background, c.need, light, dark);
        const auto seen = c.background.overlaidWith(result);
        EXPECT_GE(kavix::ui::contrastRatio(seen, c.background), c.need);

        if (kavix::ui::contrastRatio(c.background.overlaidWith(c.text), c.background) >= c.need)
        {
            EXPECT_EQ(result, c.text) << "a readable colour is kept";
            continue;
        }
        // Just far enough: one step less towards light does not read.
        const auto start = c.background.overlaidWith(c.text);
        int step = 1;
        while (step <= 255 &&
               start.interpolatedWith(light, (float)step / 255.0f).withAlpha((juce::uint8)0xFF) != result)
            ++step;
        ASSERT_LE(step, 255) << "the result lies on the way to light";
        const auto lessLight = start.interpolatedWith(light, (float)(step - 1) / 255.0f);
        EXPECT_LT(kavix::ui::contrastRatio(lessLight, c.background), c.need);
    }

    // On a light background lightening cannot help: the dark colour is used.
    EXPECT_EQ(kavix::ui::legibleTextColour(pal::cream, pal::cream, pal::cream, 4.5, light, dark), dark);
}

TEST(EditorReadability, LitButtonsTakeTheThemesColours)
{
    StandaloneEditor f;
    auto* selector = f.editor->getAppearanceSelector();
    auto& t = f.editor->getTresselControls();
    auto& m = f.editor->getMutationControls();
    std::vector<juce::TextButton*> lit{&t.before, &m.restoreBaseline};
    for (auto& b : t.variants)
        lit.push_back(&b);
    for (auto& b : m.variations)
        lit.push_back(&b);

    for (auto* b : lit)
        b->setToggleState(true, juce::dontSendNotification);

    for (const int theme : {1, 2})
    {
        selector->setTheme(theme, false);
        for (auto* b : lit)
        {
            const auto original = juce::Colour(
                (juce::uint32)b
                    ->getProperties()[kavix::ui::originalColourProperty(juce::TextButton::buttonOnColourId)]
                    .toString()
                    .getHexValue64());
            const auto shown = b->findColour(juce::TextButton::buttonOnColourId);
            EXPECT_NE(shown.getARGB() & 0xFFFFFFu, original.getARGB() & 0xFFFFFFu)
                << b->getButtonText() << " keeps its Original lit colour in theme " << theme;
            EXPECT_EQ(shown, kavix::ui::colourFor(theme, original));
        }
    }
}

TEST(EditorReadability, TooltipsHaveAWindowAndARejectedNoteSaysWhy)
{
    StandaloneEditor f;
    auto* tooltips = f.editor->getTooltipWindow();
    ASSERT_NE(tooltips, nullptr);
    EXPECT_TRUE(f.editor->isParentOf(tooltips));

    ParameterKnob* pitch = nullptr;
    for (auto& knob : f.editor->getKnobs())
        if (knob->getParameterId() == "resFreq")
            pitch = knob.get();
    ASSERT_NE(pitch, nullptr);

    const auto before = pitch->getSlider().getValue();
    EXPECT_FALSE(pitch->enterTuningText("H9"));
    EXPECT_EQ(pitch->getSlider().getValue(), before);
    EXPECT_TRUE(
        f.editor->getStatusMessage().startsWith("BODY PITCH: \"H9\" NOT ACCEPTED / ENTER A NOTE OR HZ"))
        << f.editor->getStatusMessage();
    EXPECT_EQ(f.editor->getStatusCountdown(), 105);
    EXPECT_TRUE(pitch->getValueLabel().getTooltip().startsWith("Enter a note or Hz within"));
}

TEST(EditorReadability, KeyboardFocusIsRingedButAClickedControlIsNot)
{
    StandaloneEditor f;
    f.editor->setTresselMode(false);

    auto& mode = *f.editor->findChildWithID("interfaceMode");
    auto& ring = const_cast<sorvane::editor::FocusRing&>(f.editor->getFocusRing());

    ring.update(&mode, false);
    EXPECT_EQ(ring.getRingedComponent(), &mode);
    EXPECT_TRUE(ring.getRingBounds().contains(mode.getBounds()));

    // The ring stands out from what is painted around it, in the header and on a panel, in every theme:
    // the pixel on the ring against the one just outside it.
    f.editor->setTresselMode(true);
    for (const char* id : {"interfaceMode", "tresselPersonality", "keepThat"})
        for (int theme = 0; theme < 3; ++theme)
        {
            auto& control = *f.editor->findChildWithID(id);
            ring.update(&control, false);
            f.editor->getAppearanceSelector()->setTheme(theme, false);
            const auto image = f.editor->createComponentSnapshot(f.editor->getLocalBounds(), true, 1.0f);
            const auto r = ring.getRingBounds();
            // On its left side: above and below may be the next control.
            const auto onRing = image.getPixelAt(r.getX() + 1, r.getCentreY());
            const auto outside = image.getPixelAt(r.getX() - 2, r.getCentreY());
            EXPECT_GE(kavix::ui::contrastRatio(onRing, outside), 3.0)
                << id << " theme " << theme << ": " << onRing.toDisplayString(false) << " on "
                << outside.toDisplayString(false);
            // And anywhere on a panel's gradient or the window's ground.
            for (const auto ground : {kavix::ui::colourFor(theme, pal::panel.brighter(0.08f)),
                                      kavix::ui::colourFor(theme, pal::ink.brighter(0.08f)),
                                      kavix::ui::colourFor(theme, pal::ink)})
                EXPECT_GE(kavix::ui::contrastRatio(onRing, ground), 3.0)
                    << id << " theme " << theme << ": " << onRing.toDisplayString(false) << " on "
                    << ground.toDisplayString(false);
        }
    f.editor->setTresselMode(false);
    ring.update(&mode, false);

    ring.update(&mode, true);
    EXPECT_EQ(ring.getRingedComponent(), nullptr) << "a click does not ring";
    ring.update(f.editor.get(), false);
    EXPECT_EQ(ring.getRingedComponent(), nullptr) << "the editor itself is not ringed";
}

// Tab follows reading order: the header, then each panel from the left, top to bottom, then the rows
// below; it never jumps between the side panels.
TEST(EditorReadability, TabMovesThroughEachPanelInReadingOrder)
{
    StandaloneEditor f;
    f.editor->setTresselMode(true);
    juce::StringArray order;
    for (auto* c : f.editor->createKeyboardFocusTraverser()->getAllComponents(f.editor.get()))
        if (c->getComponentID().isNotEmpty())
            order.add(c->getComponentID());
    const juce::StringArray expected{
        "interfaceMode", "setupPerformanceAdvisor", "workflowTools", "kavixThemeChoice",
        // Shape
        "tresselPersonality", "tresselSanityChaos", "tresselGenerate", "tresselAgain", "dailyTressel",
        "tresselReducedMotion", "pasteTresselDna",
        // Review + export
        "beforeAfterCapture", "keepThat", "bestMomentSuggestions", "socialAspect", "socialDuration",
        "socialBackground", "videoArtist", "videoEffectedOnly", "shareResult"};
    ASSERT_GE(order.size(), expected.size());
    juce::StringArray first;
    for (int i = 0; i < expected.size(); ++i)
        first.add(order[i]);
    EXPECT_EQ(first.joinIntoString(" > "), expected.joinIntoString(" > "));

    // In Studio Mode too: once Tab leaves a panel it does not come back to it.
    f.editor->setTresselMode(false);
    const auto panels =
        sorvane::painting::computePaintedPanels(f.editor->getWidth(), f.editor->getHeight(), false);
    int previous = -1;
    std::set<int> left;
    for (auto* c : f.editor->createKeyboardFocusTraverser()->getAllComponents(f.editor.get()))
    {
        const auto centre = f.editor->getLocalArea(c->getParentComponent(), c->getBounds()).getCentre();
        int panel = -1;
        for (int i = 0; i < 3; ++i)
            if (panels[(size_t)i].contains(centre))
                panel = i;
        if (panel != previous && previous >= 0)
            left.insert(previous);
        EXPECT_EQ(left.count(panel), panel >= 0 ? 0u : left.count(panel))
            << describe(*c) << " comes back to panel " << panel;
        previous = panel;
    }
    EXPECT_EQ(left.size(), 3u) << "Tab passes through all three panels";
}

TEST(EditorReadability, TransportKeysReachTheTransportFromAFocusedComboUnlessItsListIsOpen)
{
    StandaloneEditor f;
    auto& combo = *dynamic_cast<juce::ComboBox*>(f.editor->findChildWithID("interfaceMode"));
    sorvane::editor::ComboTransportKeys keys([&](const juce::KeyPress& k)
                                             { return f.editor->keyPressed(k); });

    const auto right = juce::KeyPress(juce::KeyPress::rightKey);
    EXPECT_TRUE(keys.keyPressed(right, &combo));
    EXPECT_EQ(f.editor->getStatusMessage(), "SEEK +5% / EQUAL-POWER FADE");
    EXPECT_EQ(combo.getSelectedId(), f.editor->isTresselModeActive() ? 2 : 1) << "the combo did not move";

    EXPECT_FALSE(keys.keyPressed(juce::KeyPress(juce::KeyPress::downKey), &combo))
        << "Down stays the combo's";
    EXPECT_FALSE(keys.keyPressed(
        juce::KeyPress(juce::KeyPress::rightKey, juce::ModifierKeys::shiftModifier, 0), &combo));
}
