#include "editor/InterfaceTheme.h"

#include <cmath>
#include <unordered_map>
#include <utility>

namespace kavix::ui
{
const std::array<ThemeColourRow, numThemeColourRows> themeColourTable{{
    {0x07062C, 0x10191F, 0x21150F}, {0x07081C, 0x10191F, 0x21150F}, {0x160B42, 0x1B2A31, 0x352318},
    {0x11142C, 0x1B2A31, 0x352318}, {0x270F5D, 0x263B43, 0x493122}, {0x191D3A, 0x263B43, 0x493122},
    {0x263238, 0x263B43, 0x493122}, {0x5D138D, 0x3B5964, 0x795138}, {0x3B3F68, 0x3B5964, 0x795138},
    {0xF7F5FA, 0xEAF4F6, 0xFFEFDB}, {0xF7F0FF, 0xEAF4F6, 0xFFEFDB}, {0xF4F2FF, 0xEAF4F6, 0xFFEFDB},
    {0xFFFFFF, 0xF6FCFC, 0xFFF7EC}, {0xA8A4BC, 0xA9C1C8, 0xD6BBA2}, {0xA69AC7, 0xA9C1C8, 0xD6BBA2},
    {0xACAAC8, 0xA9C1C8, 0xD6BBA2}, {0xE62CD4, 0x45D6BA, 0xF1B56A}, {0xED58D0, 0x45D6BA, 0xF1B56A},
    {0x1691AA, 0x55BAD8, 0x86BFA8}, {0x62D5E5, 0x7BD9ED, 0x9ED5B9}, {0x2ADCE0, 0x7BD9ED, 0x9ED5B9},
    {0x826BFF, 0x64B8CE, 0xE6A166}, {0x151020, 0x17252B, 0x2D1E16}, {0x18212B, 0x17252B, 0x2D1E16},
    {0x373A61, 0x3B5964, 0x795138}, {0xF3F1FF, 0xEAF4F6, 0xFFEFDB}, {0xAAA9C7, 0xA9C1C8, 0xD6BBA2},
    {0x28DBDF, 0x7BD9ED, 0x9ED5B9}, {0xEE4FCE, 0x45D6BA, 0xF1B56A},
}};

const std::array<int, numControlColourIds> controlColourIds{
    juce::Label::textColourId,
    juce::Label::backgroundColourId,
    juce::Label::outlineColourId,
    juce::Label::textWhenEditingColourId,
    juce::Label::backgroundWhenEditingColourId,
    juce::Label::outlineWhenEditingColourId,
    juce::TextButton::buttonColourId,
    juce::TextButton::buttonOnColourId,
    juce::TextButton::textColourOffId,
    juce::TextButton::textColourOnId,
    juce::ToggleButton::textColourId,
    juce::ToggleButton::tickColourId,
    juce::ComboBox::backgroundColourId,
    juce::ComboBox::textColourId,
    juce::ComboBox::outlineColourId,
    juce::ComboBox::arrowColourId,
    juce::PopupMenu::backgroundColourId,
    juce::PopupMenu::textColourId,
    juce::PopupMenu::highlightedBackgroundColourId,
    juce::PopupMenu::highlightedTextColourId,
    juce::Slider::backgroundColourId,
    juce::Slider::thumbColourId,
    juce::Slider::trackColourId,
    juce::Slider::textBoxTextColourId,
    juce::Slider::textBoxBackgroundColourId,
    juce::Slider::textBoxOutlineColourId,
    juce::TextEditor::backgroundColourId,
    juce::TextEditor::textColourId,
    juce::TextEditor::outlineColourId,
    juce::TextEditor::focusedOutlineColourId,
    juce::TextEditor::highlightColourId,
    juce::ListBox::backgroundColourId,
    juce::ListBox::textColourId,
    juce::ListBox::outlineColourId,
    juce::TabbedButtonBar::tabTextColourId,
    juce::TabbedButtonBar::frontTextColourId,
    juce::ScrollBar::thumbColourId,
    juce::ResizableWindow::backgroundColourId,
};

namespace
{
constexpr std::uint32_t rgbMask = 0x00FFFFFFu;

using Counterparts = std::pair<std::uint32_t, std::uint32_t>;
using ShadeMap = std::unordered_map<std::uint32_t, Counterparts>;

std::uint32_t rgbOf(juce::Colour colour) noexcept
{
    return colour.getARGB() & rgbMask;
}

juce::Colour opaque(std::uint32_t rgb) noexcept
{
    return juce::Colour(0xFF000000u | rgb);
}

// Every darker and brighter shade (1 % to 100 %) of every table colour, mapped to the same shade of its
// counterparts. The first row and shade that produce a value keep it.
ShadeMap buildShadeMap()
{
    ShadeMap map;
    map.reserve((size_t)numThemeColourRows * 200);

    for (const auto& row : themeColourTable)
    {
        const auto original = opaque(row.original);
        const auto graphite = opaque(row.graphite);
        const auto copper = opaque(row.copper);

        for (int k = 1; k <= 100; ++k)
        {
            const auto amount = (float)k / 100.0f;
            map.try_emplace(rgbOf(original.darker(amount)),
                            Counterparts{rgbOf(graphite.darker(amount)), rgbOf(copper.darker(amount))});
            map.try_emplace(rgbOf(original.brighter(amount)),
                            Counterparts{rgbOf(graphite.brighter(amount)), rgbOf(copper.brighter(amount))});
        }
    }

    return map;
}

const ShadeMap& shadeMap()
{
    static const ShadeMap map = buildShadeMap();
    return map;
}

double linearChannel(std::uint8_t channel) noexcept
{
    const auto c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double relativeLuminance(juce::Colour colour) noexcept
{
    return 0.2126 * linearChannel(colour.getRed()) + 0.7152 * linearChannel(colour.getGreen()) +
           0.0722 * linearChannel(colour.getBlue());
}
} // namespace

int clampTheme(int theme) noexcept
{
    return juce::jlimit(originalTheme, copperTheme, theme);
}

int themeFor(const juce::Component& component)
{
    const juce::Identifier property(themePropertyName);

    for (auto* c = &component; c != nullptr; c = c->getParentComponent())
        if (auto* value = c->getProperties().getVarPointer(property))
            return clampTheme((int)*value);

    const auto& lookAndFeel = component.getLookAndFeel();
    if (lookAndFeel.isColourSpecified(themeColourId))
        return clampTheme((int)(lookAndFeel.findColour(themeColourId).getARGB() & 0xFFu));

    return originalTheme;
}

juce::Colour colourFor(int theme, juce::Colour colour)
{
    if (theme != graphiteTheme && theme != copperTheme)
        return colour;

    const auto rgb = rgbOf(colour);
    const auto pick = [theme](std::uint32_t graphite, std::uint32_t copper)
    { return theme == graphiteTheme ? graphite : copper; };

    for (const auto& row : themeColourTable)
        if (row.original == rgb)
            return opaque(pick(row.graphite, row.copper)).withAlpha(colour.getAlpha());

    const auto& shades = shadeMap();
    const auto found = shades.find(rgb);
    if (found == shades.end())
        return colour;

    return opaque(pick(found->second.first, found->second.second)).withAlpha(colour.getAlpha());
}

double contrastRatio(juce::Colour a, juce::Colour b) noexcept
{
    const auto la = relativeLuminance(a);
    const auto lb = relativeLuminance(b);
    return (juce::jmax(la, lb) + 0.05) / (juce::jmin(la, lb) + 0.05);
}

double minimumTextContrast(float fontHeight, bool bold) noexcept
{
    return bold && fontHeight >= 14.0f ? 3.0 : 4.5;
}

juce::Colour legibleTextColour(juce::Colour text, juce::Colour backgroundA, juce::Colour backgroundB,
                               double minimumRatio, juce::Colour light, juce::Colour dark)
{
    const auto groundA = juce::Colours::black.overlaidWith(backgroundA);
    const auto groundB = juce::Colours::black.overlaidWith(backgroundB);
    const auto reads = [&](juce::Colour seenOnA, juce::Colour seenOnB)
    {
        return contrastRatio(seenOnA, groundA) >= minimumRatio &&
               contrastRatio(seenOnB, groundB) >= minimumRatio;
    };

    if (reads(groundA.overlaidWith(text), groundB.overlaidWith(text)))
        return text;

    // Dark text on a mid background first loses contrast on the way to light, so walk the whole path.
    const auto start = groundA.overlaidWith(text);
    for (int step = 1; step <= 255; ++step)
    {
        const auto candidate =
            start.interpolatedWith(light, (float)step / 255.0f).withAlpha((juce::uint8)0xFF);
        if (reads(candidate, candidate))
            return candidate;
    }

    // A mid-tone background that no light text can reach: the dark colour, deepened towards black only
    // as far as it has to be.
    const auto deep = dark.withAlpha((juce::uint8)0xFF);
    for (int step = 0; step <= 255; ++step)
    {
        const auto candidate = deep.interpolatedWith(juce::Colours::black, (float)step / 255.0f);
        if (reads(candidate, candidate))
            return candidate;
    }
    const auto worst = [&](juce::Colour c)
    { return juce::jmin(contrastRatio(c, groundA), contrastRatio(c, groundB)); };
    return worst(juce::Colours::black) > worst(light) ? juce::Colours::black
                                                      : light.withAlpha((juce::uint8)0xFF);
}

juce::Colour legibleTextColour(int theme, juce::Colour text, juce::Colour backgroundA,
                               juce::Colour backgroundB, double minimumRatio)
{
    return legibleTextColour(text, backgroundA, backgroundB, minimumRatio,
                             colourFor(theme, juce::Colour(0xFFF7F5FAu)),
                             colourFor(theme, juce::Colour(0xFF07062Cu)));
}

juce::Colour legibleTextColour(int theme, juce::Colour text, juce::Colour background, double minimumRatio)
{
    return legibleTextColour(theme, text, background, background, minimumRatio);
}

juce::Colour readableControlColour(const juce::Component& component, int colourId, juce::Colour colour)
{
    const auto theme = themeFor(component);
    const auto* button = dynamic_cast<const juce::TextButton*>(&component);

    if (theme == originalTheme || button == nullptr ||
        (colourId != juce::TextButton::textColourOffId && colourId != juce::TextButton::textColourOnId))
        return colour;

    const auto background = button->findColour(colourId == juce::TextButton::textColourOffId
                                                   ? juce::TextButton::buttonColourId
                                                   : juce::TextButton::buttonOnColourId);
    if (background.getFloatAlpha() < 0.5f)
        return colour;

    if (contrastRatio(colour, background) >= 4.5)
        return colour;

    const auto dark = colourFor(theme, juce::Colour(0xFF07062Cu));
    const auto light = colourFor(theme, juce::Colour(0xFFF7F5FAu));
    return contrastRatio(dark, background) > contrastRatio(light, background) ? dark : light;
}

juce::Identifier originalColourProperty(int colourId)
{
    return juce::Identifier(juce::String(originalColourPropertyPrefix) + juce::String(colourId));
}

void setColour(juce::Component& component, int colourId, juce::Colour originalColour)
{
    component.getProperties().set(originalColourProperty(colourId),
                                  juce::String::toHexString((juce::uint32)originalColour.getARGB()));
    component.setColour(
        colourId, readableControlColour(component, colourId, colourFor(themeFor(component), originalColour)));
}
} // namespace kavix::ui
