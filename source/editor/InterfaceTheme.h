#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <cstdint>

// Interface themes. Every colour the interface uses is written in the Original palette; a theme maps
// each such colour, and every darker or brighter shade of it, to its counterpart when it is set or drawn.
namespace kavix::ui
{
constexpr int originalTheme = 0;
constexpr int graphiteTheme = 1;
constexpr int copperTheme = 2;
constexpr int numThemes = 3;

inline constexpr const char* themeNames[numThemes] = {"Original", "Graphite", "Copper"};

// A component property carrying the theme for itself and its children.
inline constexpr const char* themePropertyName = "kavix.interfaceTheme";

// Prefix of the per-control properties that remember a colour's Original value, so that themes can be
// switched back and forth without drift.
inline constexpr const char* originalColourPropertyPrefix = "kavix.originalColour.";

// Look-and-feel colour whose lowest byte is the theme.
constexpr int themeColourId = 0x2E90001;

// One row of the theme table: an Original RGB value and its Graphite and Copper counterparts.
struct ThemeColourRow
{
    std::uint32_t original;
    std::uint32_t graphite;
    std::uint32_t copper;
};

constexpr int numThemeColourRows = 29;
extern const std::array<ThemeColourRow, numThemeColourRows> themeColourTable;

// The standard colour IDs that a theme change revisits on controls and on the look and feel.
constexpr int numControlColourIds = 38;
extern const std::array<int, numControlColourIds> controlColourIds;

int clampTheme(int theme) noexcept;

// The theme that applies to a component: the nearest "kavix.interfaceTheme" property up the parent
// chain, else the theme colour of its look and feel, else Original.
int themeFor(const juce::Component& component);

// The colour as it appears in a theme; colours that are neither table entries nor shades of one keep
// their value. Alpha is kept.
juce::Colour colourFor(int theme, juce::Colour colour);

// WCAG contrast ratio of two colours (alpha ignored), from 1 to 21.
double contrastRatio(juce::Colour a, juce::Colour b) noexcept;

// The contrast text needs against its background: 3:1 for bold text of 14 px and more, else 4.5:1.
double minimumTextContrast(float fontHeight, bool bold) noexcept;

// Text that reads against a background that runs between two colours (a gradient; pass one colour
// twice for a flat one): the colour itself, blended over the background, when it reaches the ratio on
// both; else the first colour on the way towards `light` that does; else the first on the way from
// `dark` to black; else whichever of black and `light` reads better. A replaced colour is opaque.
juce::Colour legibleTextColour(juce::Colour text, juce::Colour backgroundA, juce::Colour backgroundB,
                               double minimumRatio, juce::Colour light, juce::Colour dark);

// The same with the theme's own light (cream) and dark (ink) colours.
juce::Colour legibleTextColour(int theme, juce::Colour text, juce::Colour background, double minimumRatio);
juce::Colour legibleTextColour(int theme, juce::Colour text, juce::Colour backgroundA,
                               juce::Colour backgroundB, double minimumRatio);

// Under a non-Original theme, replaces a text button's text colour that would be hard to read on the
// button with the themed ink or cream, whichever contrasts more.
juce::Colour readableControlColour(const juce::Component& component, int colourId, juce::Colour colour);

// Records the Original colour on the component and sets its themed, readable counterpart.
void setColour(juce::Component& component, int colourId, juce::Colour originalColour);

// Name of the property that keeps a control's Original colour for a colour ID.
juce::Identifier originalColourProperty(int colourId);
} // namespace kavix::ui
