#include "EditorTestSupport.h"

#include "editor/InterfaceTheme.h"
#include "editor/Palette.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace palette = sorvane::palette;
using kavix::ui::colourFor;

namespace
{
struct Row
{
    std::uint32_t original, graphite, copper;
};

// The published theme table, kept here on its own so a slip in the product's copy shows up.
const Row expectedTable[] = {
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
};

juce::Colour opaque(std::uint32_t rgb)
{
    return juce::Colour(0xFF000000u | rgb);
}
std::uint32_t rgbOf(juce::Colour c)
{
    return c.getARGB() & 0xFFFFFFu;
}

std::uint32_t counterpart(const Row& row, int theme)
{
    return theme == 1 ? row.graphite : row.copper;
}

juce::Colour shade(juce::Colour c, bool darker, int k)
{
    return darker ? c.darker((float)k / 100.0f) : c.brighter((float)k / 100.0f);
}

// What a colour becomes under theme 1 or 2, found the slow way: an exact table row first, then the first
// row, amount and direction (darker before brighter) whose shade produces the colour.
juce::Colour expectedThemed(int theme, juce::Colour colour)
{
    const auto rgb = rgbOf(colour);
    for (const auto& row : expectedTable)
        if (row.original == rgb)
            return opaque(counterpart(row, theme)).withAlpha(colour.getAlpha());

    for (const auto& row : expectedTable)
        for (int k = 1; k <= 100; ++k)
            for (const bool darker : {true, false})
                if (rgbOf(shade(opaque(row.original), darker, k)) == rgb)
                    return shade(opaque(counterpart(row, theme)), darker, k).withAlpha(colour.getAlpha());

    return colour;
}

struct PaletteEntry
{
    const char* name;
    juce::Colour colour;
    std::uint32_t argb;
    std::uint32_t graphite; // 0: keeps its value
    std::uint32_t copper;
};

const std::vector<PaletteEntry>& paletteEntries()
{
    static const std::vector<PaletteEntry> entries = {
        {"ink", palette::ink, 0xFF07062C, 0x10191F, 0x21150F},
        {"panel", palette::panel, 0xFF160B42, 0x1B2A31, 0x352318},
        {"panelEdge", palette::panelEdge, 0xFF5D138D, 0x3B5964, 0x795138},
        {"metal", palette::metal, 0xFF5D138D, 0x3B5964, 0x795138},
        {"metalDark", palette::metalDark, 0xFF270F5D, 0x263B43, 0x493122},
        {"cream", palette::cream, 0xFFF7F5FA, 0xEAF4F6, 0xFFEFDB},
        {"amber", palette::amber, 0xFFE62CD4, 0x45D6BA, 0xF1B56A},
        {"red", palette::red, 0xFFFF4A8C, 0, 0},
        {"cyan", palette::cyan, 0xFF1691AA, 0x55BAD8, 0x86BFA8},
        {"violet", palette::violet, 0xFF5D138D, 0x3B5964, 0x795138},
        {"blue", palette::blue, 0xFF1691AA, 0x55BAD8, 0x86BFA8},
    };
    return entries;
}
} // namespace

TEST(InterfaceTheme, ProductTableMatchesThePublishedOne)
{
    ASSERT_EQ(kavix::ui::themeColourTable.size(), std::size(expectedTable));
    for (size_t i = 0; i < std::size(expectedTable); ++i)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(kavix::ui::themeColourTable[i].original, expectedTable[i].original);
        EXPECT_EQ(kavix::ui::themeColourTable[i].graphite, expectedTable[i].graphite);
        EXPECT_EQ(kavix::ui::themeColourTable[i].copper, expectedTable[i].copper);
    }
}

TEST(InterfaceTheme, EveryTableColourMapsToItsCounterparts)
{
    for (const auto& row : expectedTable)
    {
        SCOPED_TRACE(juce::String::toHexString(row.original).toStdString());
        EXPECT_EQ(colourFor(0, opaque(row.original)), opaque(row.original));
        EXPECT_EQ(colourFor(1, opaque(row.original)), opaque(row.graphite));
        EXPECT_EQ(colourFor(2, opaque(row.original)), opaque(row.copper));
    }
}

TEST(InterfaceTheme, PaletteColoursUnderEveryTheme)
{
    ASSERT_EQ(paletteEntries().size(), 11u);
    for (const auto& entry : paletteEntries())
    {
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(entry.colour.getARGB(), entry.argb);
        EXPECT_EQ(colourFor(0, entry.colour), entry.colour);
        EXPECT_EQ(colourFor(1, entry.colour), entry.graphite == 0 ? entry.colour : opaque(entry.graphite));
        EXPECT_EQ(colourFor(2, entry.colour), entry.copper == 0 ? entry.colour : opaque(entry.copper));
    }
}

TEST(InterfaceTheme, EveryShadeOfEveryPaletteColourFollowsTheTheme)
{
    for (const auto& entry : paletteEntries())
        for (const int theme : {0, 1, 2})
            for (const bool darker : {true, false})
                for (int k = 1; k <= 100; ++k)
                {
                    const auto original = shade(entry.colour, darker, k);
                    const auto expected = theme == 0 ? original : expectedThemed(theme, original);
                    ASSERT_EQ(colourFor(theme, original), expected)
                        << entry.name << " theme " << theme << (darker ? " darker " : " brighter ") << k;
                }
}

TEST(InterfaceTheme, ShadesOfTableColoursLandOnTheSameShadeOfTheCounterpart)
{
    // Free of collisions with an earlier row or amount, so the shade carries over exactly.
    EXPECT_EQ(colourFor(1, palette::cyan.darker(0.5f)), juce::Colour(0xFF55BAD8u).darker(0.5f));
    EXPECT_EQ(colourFor(2, palette::cyan.darker(0.5f)), juce::Colour(0xFF86BFA8u).darker(0.5f));
    EXPECT_EQ(colourFor(1, palette::amber.brighter(0.3f)), juce::Colour(0xFF45D6BAu).brighter(0.3f));
    EXPECT_EQ(colourFor(2, palette::panel.brighter(0.42f)), juce::Colour(0xFF352318u).brighter(0.42f));
}

TEST(InterfaceTheme, AlphaSurvivesTheMapping)
{
    EXPECT_EQ(colourFor(1, juce::Colour(0x8007062Cu)).getARGB(), 0x8010191Fu);
    EXPECT_EQ(colourFor(2, juce::Colour(0x00F7F5FAu)).getARGB(), 0x00FFEFDBu);
    EXPECT_EQ(colourFor(2, juce::Colour(0xFF5D138Du)).getARGB(), 0xFF795138u);
    EXPECT_EQ(colourFor(1, palette::cyan.darker(0.5f).withAlpha((juce::uint8)0x42)),
              juce::Colour(0xFF55BAD8u).darker(0.5f).withAlpha((juce::uint8)0x42));
}

TEST(InterfaceTheme, ColoursOutsideTheTableKeepTheirValue)
{
    for (const int theme : {0, 1, 2, 3, -1})
    {
        SCOPED_TRACE(theme);
        EXPECT_EQ(colourFor(theme, palette::red), palette::red);
        EXPECT_EQ(colourFor(theme, juce::Colour(0x40123456u)), juce::Colour(0x40123456u));
    }
    // An unknown theme number is not a theme at all.
    EXPECT_EQ(colourFor(3, palette::ink), palette::ink);
    EXPECT_EQ(colourFor(-1, palette::cream), palette::cream);
}

TEST(InterfaceTheme, ThemeComesFromTheNearestPropertyThenTheLookAndFeel)
{
    juce::LookAndFeel_V4 parentLookAndFeel, childLookAndFeel;
    juce::Component grandParent, parent, child;
    grandParent.addChildComponent(parent);
    parent.addChildComponent(child);
    parent.setLookAndFeel(&parentLookAndFeel);

    EXPECT_EQ(kavix::ui::themeFor(child), 0);

    parentLookAndFeel.setColour(kavix::ui::themeColourId, juce::Colour(0xFF000001u));
    EXPECT_EQ(kavix::ui::themeFor(child), 1); // inherited look and feel

    childLookAndFeel.setColour(kavix::ui::themeColourId, juce::Colour(0xFF000002u));
    child.setLookAndFeel(&childLookAndFeel);
    EXPECT_EQ(kavix::ui::themeFor(child), 2); // its own look and feel first

    childLookAndFeel.setColour(kavix::ui::themeColourId, juce::Colour(0xFF000009u));
    EXPECT_EQ(kavix::ui::themeFor(child), 2); // clamped

    struct Case
    {
        int stored, expected;
    };
    for (const auto c : {Case{0, 0}, Case{1, 1}, Case{2, 2}, Case{7, 2}, Case{-3, 0}})
    {
        grandParent.getProperties().set(kavix::ui::themePropertyName, c.stored);
        EXPECT_EQ(kavix::ui::themeFor(child), c.expected) << c.stored;
    }

    // The nearest property wins over one further up.
    parent.getProperties().set(kavix::ui::themePropertyName, 1);
    grandParent.getProperties().set(kavix::ui::themePropertyName, 2);
    EXPECT_EQ(kavix::ui::themeFor(child), 1);

    child.setLookAndFeel(nullptr);
    parent.setLookAndFeel(nullptr);
}

TEST(InterfaceTheme, ContrastRatioFollowsWcag)
{
    using kavix::ui::contrastRatio;
    EXPECT_NEAR(contrastRatio(juce::Colours::black, juce::Colours::white), 21.0, 1e-9);
    EXPECT_NEAR(contrastRatio(juce::Colours::white, juce::Colours::black), 21.0, 1e-9);
    EXPECT_NEAR(contrastRatio(palette::red, palette::red), 1.0, 1e-12);
    EXPECT_NEAR(contrastRatio(juce::Colour(0xFF767676u), juce::Colours::white), 4.5422, 1e-4);
    EXPECT_NEAR(contrastRatio(juce::Colour(0xFF777777u), juce::Colours::white), 4.4781, 1e-4);
    EXPECT_NEAR(contrastRatio(juce::Colour(0xFFEAF4F6u), juce::Colour(0xFF10191Fu)), 15.8947, 1e-4);
}

namespace
{
// A text button below a themed parent; its button colours are set as they are, unthemed.
struct ThemedButton
{
    explicit ThemedButton(int theme, juce::Colour buttonColour,
                          juce::Colour buttonOnColour = juce::Colours::black)
    {
        parent.getProperties().set(kavix::ui::themePropertyName, theme);
        parent.addChildComponent(button);
        button.setColour(juce::TextButton::buttonColourId, buttonColour);
        button.setColour(juce::TextButton::buttonOnColourId, buttonOnColour);
    }

    juce::Component parent;
    juce::TextButton button;
};
} // namespace

TEST(InterfaceTheme, ReadableTextKeepsEnoughContrastAndReplacesTooLittle)
{
    using kavix::ui::readableControlColour;
    const auto textOff = juce::TextButton::textColourOffId;

    struct Case
    {
        const char* what;
        int theme;
        std::uint32_t button, text, expected;
    };
    const Case cases[] = {
        {"Original never changes, however poor", 0, 0xFFFFFFFF, 0xFFEEEEEE, 0xFFEEEEEE},
        {"ratio 4.54 is kept", 1, 0xFFFFFFFF, 0xFF767676, 0xFF767676},
        {"ratio 4.48 on white becomes the themed ink", 1, 0xFFFFFFFF, 0xFF777777, 0xFF10191F},
        {"on white under Copper, Copper's ink", 2, 0xFFFFFFFF, 0xFF999999, 0xFF21150F},
        {"dark text on a dark button becomes the themed cream", 1, 0xFF10191F, 0xFF202020, 0xFFEAF4F6},
        {"Copper's cream on Copper's metal", 2, 0xFF795138, 0xFF21150F, 0xFFFFEFDB},
        {"a mostly transparent button leaves text alone", 1, 0x7FFFFFFF, 0xFFEEEEEE, 0xFFEEEEEE},
        {"half opaque counts as a background", 1, 0x80FFFFFF, 0xFFEEEEEE, 0xFF10191F},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        ThemedButton themed(c.theme, juce::Colour(c.button));
        EXPECT_EQ(readableControlColour(themed.button, textOff, juce::Colour(c.text)).getARGB(), c.expected);
    }
}

TEST(InterfaceTheme, ReadableTextOnlyConcernsTextButtonTexts)
{
    using kavix::ui::readableControlColour;
    const auto poor = juce::Colour(0xFFEEEEEEu);

    ThemedButton themed(1, juce::Colours::white, juce::Colour(0xFF10191Fu));
    EXPECT_EQ(readableControlColour(themed.button, juce::TextButton::buttonColourId, poor), poor);
    EXPECT_EQ(readableControlColour(themed.button, juce::Label::textColourId, poor), poor);

    // Text on is judged against the button-on colour (dark here), so light text stays.
    EXPECT_EQ(readableControlColour(themed.button, juce::TextButton::textColourOnId, poor), poor);
    EXPECT_EQ(
        readableControlColour(themed.button, juce::TextButton::textColourOnId, juce::Colour(0xFF202020u)),
        juce::Colour(0xFFEAF4F6u));

    juce::Label label;
    themed.parent.addChildComponent(label);
    label.setColour(juce::TextButton::buttonColourId, juce::Colours::white);
    EXPECT_EQ(readableControlColour(label, juce::TextButton::textColourOffId, poor), poor);
}

TEST(InterfaceTheme, SetColourRecordsTheOriginalAndAppliesTheThemedColour)
{
    juce::Component parent;
    juce::Label label;
    parent.addChildComponent(label);

    struct Case
    {
        int theme;
        std::uint32_t original;
        const char* recorded;
        std::uint32_t applied;
    };
    const Case cases[] = {
        {0, 0xFFF7F5FA, "fff7f5fa", 0xFFF7F5FA},
        {1, 0xCC07062C, "cc07062c", 0xCC10191F},
        {0, 0x0A1B2C3D, "a1b2c3d", 0x0A1B2C3D}, // no leading zeros, lower case
        {0, 0x00000000, "0", 0x00000000},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.recorded);
        parent.getProperties().set(kavix::ui::themePropertyName, c.theme);
        kavix::ui::setColour(label, juce::Label::textColourId, juce::Colour(c.original));
        EXPECT_EQ(label.getProperties()["kavix.originalColour." + juce::String(juce::Label::textColourId)]
                      .toString(),
                  c.recorded);
        EXPECT_EQ(label.findColour(juce::Label::textColourId).getARGB(), c.applied);
    }
}

TEST(InterfaceTheme, SetColourKeepsButtonTextReadable)
{
    ThemedButton themed(1, juce::Colours::white);
    kavix::ui::setColour(themed.button, juce::TextButton::textColourOffId, juce::Colour(0xFFA8A4BCu));
    // A8A4BC becomes A9C1C8 under Graphite, which is unreadable on white: the themed ink replaces it.
    EXPECT_EQ(themed.button.findColour(juce::TextButton::textColourOffId).getARGB(), 0xFF10191Fu);
    EXPECT_EQ(themed.button
                  .getProperties()["kavix.originalColour." + juce::String(juce::TextButton::textColourOffId)]
                  .toString(),
              "ffa8a4bc");
}
