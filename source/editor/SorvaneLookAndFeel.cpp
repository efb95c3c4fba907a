#include "editor/SorvaneLookAndFeel.h"

#include "editor/InterfaceTheme.h"
#include "editor/Palette.h"

#include <cmath>

namespace palette = sorvane::palette;

namespace
{
// An octagon: the rectangle with its corners cut by the chamfer.
juce::Path chamferedRectangle(juce::Rectangle<float> r, float chamfer)
{
    juce::Path p;
    p.startNewSubPath(r.getX() + chamfer, r.getY());
    p.lineTo(r.getRight() - chamfer, r.getY());
    p.lineTo(r.getRight(), r.getY() + chamfer);
    p.lineTo(r.getRight(), r.getBottom() - chamfer);
    p.lineTo(r.getRight() - chamfer, r.getBottom());
    p.lineTo(r.getX() + chamfer, r.getBottom());
    p.lineTo(r.getX(), r.getBottom() - chamfer);
    p.lineTo(r.getX(), r.getY() + chamfer);
    p.closeSubPath();
    return p;
}

// A point at an angle (clockwise from twelve o'clock, as JUCE's rotary sliders count) and a radius.
juce::Point<float> onCircle(juce::Point<float> centre, float angle, float radius)
{
    return {centre.x + radius * std::sin(angle), centre.y - radius * std::cos(angle)};
}
} // namespace

SorvaneLookAndFeel::SorvaneLookAndFeel()
{
    setColour(juce::Slider::thumbColourId, palette::cyan.brighter(0.3f));
    setColour(juce::Slider::trackColourId, palette::cyan);
    setColour(juce::Slider::backgroundColourId, palette::violet);
    setColour(juce::Slider::textBoxTextColourId, palette::cream);
    setColour(juce::Slider::textBoxBackgroundColourId, palette::ink);
    setColour(juce::Slider::textBoxOutlineColourId, palette::panelEdge);
    setColour(juce::ComboBox::backgroundColourId, palette::panel);
    setColour(juce::ComboBox::outlineColourId, palette::violet.withAlpha((juce::uint8)0xD9));
    setColour(juce::ComboBox::textColourId, palette::cream);
    setColour(juce::PopupMenu::backgroundColourId, palette::panel);
    setColour(juce::PopupMenu::textColourId, palette::cream);
    setColour(juce::PopupMenu::highlightedBackgroundColourId, palette::violet.withAlpha((juce::uint8)0xBF));
    setColour(juce::PopupMenu::highlightedTextColourId, palette::cream);
    setColour(juce::TextButton::buttonColourId, palette::violet);
    setColour(juce::TextButton::textColourOffId, palette::cream);
}

int SorvaneLookAndFeel::getInterfaceTheme() const
{
    if (!isColourSpecified(kavix::ui::themeColourId))
        return kavix::ui::originalTheme;

    return kavix::ui::clampTheme((int)(findColour(kavix::ui::themeColourId).getARGB() & 0xFFu));
}

juce::Colour SorvaneLookAndFeel::themed(juce::Colour paletteColour) const
{
    return kavix::ui::colourFor(getInterfaceTheme(), paletteColour);
}

//======================================================================================================
void SorvaneLookAndFeel::drawRotarySlider(juce::Graphics& g, int x, int y, int width, int height,
                                          float sliderPosProportional, float rotaryStartAngle,
                                          float rotaryEndAngle, juce::Slider&)
{
    const auto side = (float)juce::jmin(juce::jmax(0, width - 10), juce::jmax(0, height - 10));
    if (side <= 0.0f)
        return;

    const auto knob =
        juce::Rectangle<float>(side, side)
            .withCentre(juce::Rectangle<int>(x, y, width, height).toFloat().reduced(5.0f).getCentre());
    const auto radius = side / 2.0f;
    const auto centre = knob.getCentre();
    const auto angleRange = rotaryEndAngle - rotaryStartAngle;

    // Scale: nineteen ticks, every third one longer; ticks up to the value light up.
    const auto litTicks = juce::roundToInt(sliderPosProportional * 18.0f);
    for (int i = 0; i <= 18; ++i)
    {
        const auto angle = rotaryStartAngle + angleRange * (float)i / 18.0f;
        const bool major = i % 3 == 0;
        const auto inner = radius - (major ? 7.0f : 4.0f);
        g.setColour(themed(i <= litTicks ? palette::amber : palette::panelEdge));
        g.drawLine({onCircle(centre, angle, inner), onCircle(centre, angle, radius - 1.0f)},
                   major ? 1.6f : 1.0f);
    }

    g.setColour(themed(palette::ink).withAlpha((juce::uint8)0x8C));
    g.drawEllipse(knob.getX() + 6.5f, knob.getY() + 7.0f, side - 10.0f, side - 10.0f, 2.0f);

    const auto body = knob.reduced(7.0f);
    g.setGradientFill(juce::ColourGradient(themed(palette::violet).withAlpha((juce::uint8)0xC7),
                                           knob.getTopLeft(), themed(palette::ink), knob.getBottomRight(),
                                           false));
    g.fillEllipse(body);

    g.setColour(themed(palette::cyan).withAlpha((juce::uint8)0x42));
    g.drawEllipse(knob.reduced(8.0f), 1.2f);

    juce::Path pointer;
    pointer.addRoundedRectangle(-1.5f, 12.0f - radius, 3.0f, 0.38f * radius, 1.5f);
    const auto angle = rotaryStartAngle + sliderPosProportional * angleRange;
    g.setColour(themed(palette::cyan).brighter(0.15f));
    g.fillPath(pointer, juce::AffineTransform::rotation(angle).translated(centre));
}

void SorvaneLookAndFeel::drawLinearSlider(juce::Graphics& g, int x, int y, int width, int height,
                                          float sliderPos, float minSliderPos, float maxSliderPos,
                                          juce::Slider::SliderStyle style, juce::Slider& slider)
{
    // Only the total-effect fader is drawn here; the other linear sliders keep the standard look.
    if (style != juce::Slider::LinearVertical)
    {
        LookAndFeel_V4::drawLinearSlider(g, x, y, width, height, sliderPos, minSliderPos, maxSliderPos, style,
                                         slider);
        return;
    }

    // The track runs between the positions of the range's ends; the min and max positions JUCE passes
    // belong to two-value sliders.
    const auto cx = (float)(x + width / 2);
    const auto minimumPos = (float)slider.getPositionOfValue(slider.getMinimum());
    const auto maximumPos = (float)slider.getPositionOfValue(slider.getMaximum());
    const auto top = juce::jmin(minimumPos, maximumPos);
    const auto bottom = juce::jmax(minimumPos, maximumPos);

    g.setColour(themed(palette::ink));
    g.fillRoundedRectangle(cx - 7.0f, top - 1.0f, 14.0f, bottom - top + 2.0f, 3.0f);

    g.setColour(themed(palette::violet).darker(0.25f)); // every channel times 0.8
    g.fillRoundedRectangle(cx - 5.0f, top, 10.0f, bottom - top, 2.0f);

    g.setColour(themed(palette::amber).withAlpha((juce::uint8)0xD9));
    g.fillRoundedRectangle(cx - 5.0f, sliderPos, 10.0f, juce::jmax(0.0f, bottom - sliderPos), 2.0f);

    for (int i = 0; i <= 10; ++i)
    {
        const auto markY = bottom + (top - bottom) * (float)i / 10.0f;
        const bool major = i % 5 == 0;
        const auto length = major ? 13.0f : 8.0f;
        g.setColour(major ? themed(palette::cream).withAlpha((juce::uint8)0xB8)
                          : themed(palette::metalDark).withAlpha((juce::uint8)0xCC));
        g.drawLine(cx - 18.0f, markY, cx - 18.0f + length, markY, 1.0f);
        g.drawLine(cx + 18.0f, markY, cx + 18.0f - length, markY, 1.0f);
    }

    const auto thumb = juce::Rectangle<float>(48.0f, 20.0f).withCentre({cx, sliderPos});

    g.setColour(themed(palette::ink).withAlpha((juce::uint8)0x99));
    g.fillRoundedRectangle(thumb.translated(1.5f, 2.0f), 3.0f);

    g.setGradientFill(juce::ColourGradient(themed(palette::cyan), thumb.getTopLeft(), themed(palette::violet),
                                           thumb.getBottomRight(), false));
    g.fillRoundedRectangle(thumb, 3.0f);

    const auto lineY = (float)juce::roundToInt(sliderPos);
    g.setColour(themed(palette::cream).withAlpha((juce::uint8)0xB8));
    g.fillRect(thumb.getX() + 7.0f, lineY - 0.5f, thumb.getWidth() - 14.0f, 1.0f);

    g.setColour(themed(palette::panelEdge));
    g.drawRoundedRectangle(thumb, 3.0f, 1.0f);
}

void SorvaneLookAndFeel::drawButtonBackground(juce::Graphics& g, juce::Button& button, const juce::Colour&,
                                              bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    const auto w = (float)button.getWidth();
    const auto h = (float)button.getHeight();
    const auto shape = shouldDrawButtonAsDown ? juce::Rectangle<float>(1.8f, 2.8f, w - 3.6f, h - 3.6f)
                                              : juce::Rectangle<float>(0.8f, 0.8f, w - 1.6f, h - 1.6f);
    if (shape.isEmpty())
        return;

    const auto chamfer = juce::jmin(0.35f * shape.getHeight(), 7.0f);
    const bool enabled = button.isEnabled(); // false as well when an ancestor is disabled
    const bool toggledOn = button.getToggleState();

    const auto base = buttonFillBase(button, shouldDrawButtonAsHighlighted, shouldDrawButtonAsDown);

    if (enabled && (shouldDrawButtonAsHighlighted || toggledOn))
    {
        const auto grow = toggledOn ? 3.5f : 2.0f;
        g.setColour(toggledOn ? themed(palette::cyan).withAlpha((juce::uint8)0x33)
                              : base.brighter(0.42f).withAlpha((juce::uint8)0x1A));
        g.fillRoundedRectangle(shape.expanded(grow, 2.0f), 7.0f);
    }

    const auto outline = chamferedRectangle(shape, chamfer);
    g.setGradientFill(juce::ColourGradient(base.brighter(shouldDrawButtonAsHighlighted ? 0.22f : 0.1f),
                                           shape.getTopLeft(), base.darker(0.3f), shape.getBottomRight(),
                                           false));
    g.fillPath(outline);

    const auto cream = themed(palette::cream);

    // A short highlight along the top edge, then a hairline outline that is stronger while toggled on.
    g.setColour(cream.withAlpha((juce::uint8)(enabled ? 0x2E : 0x14)));
    g.drawLine(shape.getX() + chamfer + 1.0f, shape.getY() + 1.5f, shape.getRight() - chamfer - 1.0f,
               shape.getY() + 1.5f, 1.0f);

    g.setColour(cream.withAlpha((juce::uint8)(toggledOn && enabled ? 0x6B : 0x2E)));
    g.strokePath(outline, juce::PathStrokeType(1.0f));
}

juce::Colour SorvaneLookAndFeel::buttonFillBase(const juce::Button& button, bool highlighted, bool down) const
{
    if (!button.isEnabled()) // false as well when an ancestor is disabled
        return themed(palette::metalDark).darker(0.12f);

    const auto colourId =
        button.getToggleState() ? juce::TextButton::buttonOnColourId : juce::TextButton::buttonColourId;
    // The button's own colour is themed already when it was set.
    const auto own = button.findColour(colourId);
    auto base = own.isTransparent() ? themed(palette::metalDark) : own;
    if (down)
        base = base.darker(0.24f);
    else if (highlighted)
        base = base.brighter(0.08f);
    return base;
}

juce::Colour SorvaneLookAndFeel::buttonTextColour(const juce::TextButton& button, bool highlighted) const
{
    // Disabled text is meant to recede.
    if (!button.isEnabled())
        return themed(palette::cream).withAlpha((juce::uint8)0x47);

    auto colour = button.findColour(button.getToggleState() ? juce::TextButton::textColourOnId
                                                            : juce::TextButton::textColourOffId);
    if (highlighted)
        colour = colour.brighter(0.18f);

    // The text sits at the middle of the body's diagonal gradient, where it is halfway between its ends.
    const auto font = buttonFont(button);
    const auto base = buttonFillBase(button, highlighted, false);
    const auto behindText =
        base.brighter(highlighted ? 0.22f : 0.1f).interpolatedWith(base.darker(0.3f), 0.5f);
    return kavix::ui::legibleTextColour(getInterfaceTheme(), colour, behindText,
                                        kavix::ui::minimumTextContrast(font.getHeight(), font.isBold()));
}

juce::Font SorvaneLookAndFeel::buttonFont(const juce::TextButton& button)
{
    return juce::Font(juce::jlimit(9.5f, 13.0f, 0.31f * (float)button.getHeight()), juce::Font::bold);
}

juce::Rectangle<int> SorvaneLookAndFeel::buttonTextArea(const juce::TextButton& button)
{
    return {9, 2, button.getWidth() - 18, button.getHeight() - 4};
}

void SorvaneLookAndFeel::drawButtonText(juce::Graphics& g, juce::TextButton& button,
                                        bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    g.setFont(buttonFont(button));
    g.setColour(buttonTextColour(button, shouldDrawButtonAsHighlighted));

    auto area = buttonTextArea(button);
    if (shouldDrawButtonAsDown)
        area = area.translated(0, 1);

    g.drawFittedText(button.getButtonText().toUpperCase(), area, juce::Justification::centred, 1,
                     buttonMinimumHorizontalScale);
}

//======================================================================================================
namespace
{
const juce::Identifier backdropProperty{"kavix.backdrop"};
}

void SorvaneLookAndFeel::setBackdrop(juce::Component& component, juce::Colour originalColour)
{
    component.getProperties().set(backdropProperty,
                                  juce::String::toHexString((juce::uint32)originalColour.getARGB()));
}

juce::Colour SorvaneLookAndFeel::backdropFor(const juce::Component& component) const
{
    if (auto* label = dynamic_cast<const juce::Label*>(&component))
    {
        const auto own = label->findColour(juce::Label::backgroundColourId);
        if (own.isOpaque())
            return own;
    }

    for (auto* c = component.getParentComponent(); c != nullptr; c = c->getParentComponent())
    {
        if (auto* combo = dynamic_cast<const juce::ComboBox*>(c))
            return combo->findColour(juce::ComboBox::backgroundColourId);
        if (auto* slider = dynamic_cast<const juce::Slider*>(c))
            return slider->findColour(juce::Slider::textBoxBackgroundColourId);
        break;
    }

    for (auto* c = &component; c != nullptr; c = c->getParentComponent())
        if (const auto* stored = c->getProperties().getVarPointer(backdropProperty))
            return themed(juce::Colour((juce::uint32)stored->toString().getHexValue64()));

    return themed(palette::ink);
}

juce::Colour SorvaneLookAndFeel::labelTextColour(const juce::Label& label) const
{
    auto colour = label.findColour(juce::Label::textColourId);
    if (!label.isEnabled())
        return colour.withMultipliedAlpha(0.5f);

    const auto font = const_cast<SorvaneLookAndFeel*>(this)->getLabelFont(const_cast<juce::Label&>(label));
    return kavix::ui::legibleTextColour(getInterfaceTheme(), colour, backdropFor(label),
                                        kavix::ui::minimumTextContrast(font.getHeight(), font.isBold()));
}

void SorvaneLookAndFeel::drawLabel(juce::Graphics& g, juce::Label& label)
{
    g.fillAll(label.findColour(juce::Label::backgroundColourId));

    const auto outline = label.findColour(juce::Label::outlineColourId);
    if (!label.isBeingEdited())
    {
        const auto font = getLabelFont(label);
        g.setColour(labelTextColour(label));
        g.setFont(font);

        const auto textArea = getLabelBorderSize(label).subtractedFrom(label.getLocalBounds());
        g.drawFittedText(label.getText(), textArea, label.getJustificationType(),
                         juce::jmax(1, (int)((float)textArea.getHeight() / font.getHeight())),
                         label.getMinimumHorizontalScale());
        g.setColour(outline.withMultipliedAlpha(label.isEnabled() ? 1.0f : 0.5f));
    }
    else
    {
        g.setColour(outline);
    }
    g.drawRect(label.getLocalBounds());
}

juce::Font SorvaneLookAndFeel::toggleFont(const juce::ToggleButton& button)
{
    return juce::Font(juce::jmin(13.0f, (float)button.getHeight() * 0.7f));
}

juce::Rectangle<int> SorvaneLookAndFeel::toggleTextArea(const juce::ToggleButton& button)
{
    const auto tickWidth = toggleFont(button).getHeight() * 1.1f;
    return button.getLocalBounds().withTrimmedLeft(juce::roundToInt(tickWidth) + 8).withTrimmedRight(2);
}

juce::Colour SorvaneLookAndFeel::toggleTextColour(const juce::ToggleButton& button) const
{
    const auto colour = button.findColour(juce::ToggleButton::textColourId);
    if (!button.isEnabled())
        return colour.withMultipliedAlpha(0.5f);
    const auto font = toggleFont(button);
    return kavix::ui::legibleTextColour(getInterfaceTheme(), colour, backdropFor(button),
                                        kavix::ui::minimumTextContrast(font.getHeight(), font.isBold()));
}

void SorvaneLookAndFeel::drawToggleButton(juce::Graphics& g, juce::ToggleButton& button,
                                          bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    const auto font = toggleFont(button);
    const auto tickWidth = font.getHeight() * 1.1f;
    drawTickBox(g, button, 4.0f, ((float)button.getHeight() - tickWidth) * 0.5f, tickWidth, tickWidth,
                button.getToggleState(), button.isEnabled(), shouldDrawButtonAsHighlighted,
                shouldDrawButtonAsDown);

    g.setColour(toggleTextColour(button));
    g.setFont(font);
    g.drawFittedText(button.getButtonText(), toggleTextArea(button), juce::Justification::centredLeft, 1,
                     1.0f);
}

juce::Font SorvaneLookAndFeel::getComboBoxFont(juce::ComboBox& box)
{
    // Every choice has to show whole, so a narrow box gets a smaller font rather than a clipped item.
    auto font = juce::Font(juce::jlimit(11.0f, 14.0f, (float)box.getHeight() * 0.46f));
    auto widest = font.getStringWidthFloat(box.getTextWhenNothingSelected());
    // One walk over the menu: indexing the box item by item walks it from the start every time,
    // which a browser of ten thousand presets turns into seconds.
    for (juce::PopupMenu::MenuItemIterator it(*box.getRootMenu(), true); it.next();)
        if (const auto& item = it.getItem(); item.itemID != 0 && !item.isSeparator && !item.isSectionHeader)
            widest = juce::jmax(widest, font.getStringWidthFloat(item.text));

    const auto room = (float)(box.getWidth() - comboArrowWidth - 2 - comboTextBorder.getLeftAndRight());
    if (widest > room && room > 0.0f)
        font.setHeight(juce::jmax(8.0f, font.getHeight() * room / widest - 0.05f));
    return font;
}

void SorvaneLookAndFeel::positionComboBoxText(juce::ComboBox& box, juce::Label& label)
{
    label.setBorderSize(comboTextBorder);
    label.setBounds(1, 1, juce::jmax(0, box.getWidth() - comboArrowWidth - 2), box.getHeight() - 2);
    label.setFont(getComboBoxFont(box));
}

void SorvaneLookAndFeel::drawComboBox(juce::Graphics& g, int width, int height, bool, int, int, int, int,
                                      juce::ComboBox& box)
{
    const auto bounds = juce::Rectangle<int>(0, 0, width, height).toFloat();
    g.setColour(box.findColour(juce::ComboBox::backgroundColourId));
    g.fillRoundedRectangle(bounds, 3.0f);
    g.setColour(box.findColour(juce::ComboBox::outlineColourId));
    g.drawRoundedRectangle(bounds.reduced(0.5f), 3.0f, 1.0f);

    const juce::Rectangle<float> arrow((float)(width - comboArrowWidth), 0.0f, 16.0f, (float)height);
    juce::Path path;
    path.startNewSubPath(arrow.getX() + 3.0f, arrow.getCentreY() - 2.0f);
    path.lineTo(arrow.getCentreX(), arrow.getCentreY() + 3.0f);
    path.lineTo(arrow.getRight() - 3.0f, arrow.getCentreY() - 2.0f);
    g.setColour(box.findColour(juce::ComboBox::arrowColourId).withAlpha(box.isEnabled() ? 0.9f : 0.2f));
    g.strokePath(path, juce::PathStrokeType(2.0f));
}
