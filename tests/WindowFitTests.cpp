#include "app/DesktopHints.h"
#include "app/WindowFit.h"

#include <gtest/gtest.h>

using juce::Point;
using juce::Rectangle;

TEST(WindowFit, AutomaticScaleHonoursWhatTheDesktopAsksFor)
{
    struct Case
    {
        double platformScale, fontDpi, displayDpi;
        float expected;
    };
    const Case cases[] = {
        {1.0, 0.0, 96.0, 1.0f},  // nothing said
        {1.0, 96.0, 96.0, 1.0f}, // font DPI at the reference
        {1.0, 120.0, 96.0, 1.25f}, {1.0, 144.0, 96.0, 1.5f},
        {1.0, 192.0, 96.0, 2.0f},  {1.0, 288.0, 96.0, 2.0f}, // beyond the largest step
        {1.0, 72.0, 96.0, 0.75f},                            // a desktop asking for smaller text
        {1.0, 130.0, 96.0, 1.25f},                           // nearest step
        {1.0, 0.0, 110.0, 1.0f},                             // an ordinary laptop panel is not high density
        {1.0, 0.0, 160.0, 1.75f},                            // a high-density panel without a font DPI
        {2.0, 192.0, 192.0, 1.0f}, // JUCE already scales the display: nothing to add
        {1.25, 0.0, 0.0, 1.0f},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(juce::String(c.platformScale) + " " + juce::String(c.fontDpi) + " " +
                     juce::String(c.displayDpi));
        EXPECT_FLOAT_EQ(knurlkit::automaticWindowScale(c.platformScale, c.fontDpi, c.displayDpi), c.expected);
    }
}

TEST(WindowFit, TheScaleIsBoundedSoTheSmallestWindowStillFits)
{
    const Point<int> minimum{1108, 734};
    struct Case
    {
        float wanted;
        Rectangle<int> area;
        float expected;
    };
    const Case cases[] = {
        {1.0f, {0, 0, 2560, 1600}, 1.0f},
        {1.5f, {0, 0, 2560, 1600}, 1.5f},
        {2.0f, {0, 0, 2560, 1600}, 2.0f},
        {3.0f, {0, 0, 3840, 2160}, 2.0f},            // never above the largest step
        {0.5f, {0, 0, 2560, 1600}, 0.75f},           // nor below the smallest
        {1.5f, {0, 0, 1280, 800}, 800.0f / 734.0f},  // as large as the display allows
        {1.0f, {0, 40, 1280, 700}, 700.0f / 734.0f}, // a small work area shrinks even 100 %
        {1.0f, {0, 0, 640, 480}, 0.75f},             // a tiny screen: the smallest step
        {1.25f, {}, 1.25f},                          // no area known: as wanted
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(juce::String(c.wanted) + " " + c.area.toString());
        EXPECT_FLOAT_EQ(knurlkit::fittedWindowScale(c.wanted, c.area, minimum), c.expected);
    }
}

TEST(WindowFit, WindowBoundsAreShrunkAndMovedIntoTheUsableArea)
{
    const Point<int> minimum{1108, 734}, maximum{1688, 1054};
    struct Case
    {
        const char* description;
        Rectangle<int> wanted, area;
        bool centre;
        Rectangle<int> expected;
    };
    const Case cases[] = {
        {"fits already", {50, 20, 1188, 754}, {0, 0, 1280, 800}, false, {50, 20, 1188, 754}},
        {"centred", {0, 0, 1188, 754}, {0, 0, 1280, 800}, true, {46, 23, 1188, 754}},
        {"centred in a work area", {0, 0, 1188, 754}, {0, 40, 1280, 700}, true, {46, 40, 1188, 734}},
        {"too large: shrunk to the area",
         {600, 400, 1700, 1020},
         {0, 0, 1280, 800},
         false,
         {0, 0, 1280, 800}},
        {"off the right and bottom: moved back",
         {900, 500, 1188, 754},
         {0, 0, 1366, 768},
         false,
         {178, 14, 1188, 754}},
        {"off the left and top: moved in",
         {-900, -50, 1188, 754},
         {0, 27, 1366, 741},
         false,
         {0, 27, 1188, 741}},
        {"smaller than the editor allows: grown",
         {10, 10, 500, 300},
         {0, 0, 1920, 1080},
         false,
         {10, 10, 1108, 734}},
        {"larger than the editor allows: limited",
         {0, 0, 2400, 1500},
         {0, 0, 2560, 1600},
         true,
         {436, 273, 1688, 1054}},
        {"area smaller than the minimum: title bar stays on screen",
         {300, 300, 1188, 754},
         {0, 0, 1024, 600},
         false,
         {0, 0, 1108, 734}},
        {"second display to the right",
         {2000, 100, 1188, 754},
         {1920, 0, 1280, 1024},
         false,
         {2000, 100, 1188, 754}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(knurlkit::fitWindowBounds(c.wanted, c.area, minimum, maximum, c.centre), c.expected);
    }
}

TEST(DesktopHints, FontDpiIsReadFromTheResourceText)
{
    struct Case
    {
        const char* resources;
        double expected;
    };
    const Case cases[] = {
        {"", 0.0},
        {"Xft.dpi:\t192\n", 192.0},
        {"Xcursor.size:\t24\nXft.antialias:\t1\nXft.dpi:\t120\nXft.hinting:\t1\n", 120.0},
        {"Xft.dpi: 144.5", 144.5},
        {"Xft.dpi :\t96\n", 96.0},
        {"Xft.dpix:\t192\n", 0.0},
        {"*.Xft.dpi:\t192\n", 0.0},
        {"Xft.dpi:\tlarge\n", 0.0},
        {"Xft.dpi:\t-96\n", 0.0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.resources);
        EXPECT_DOUBLE_EQ(knurlkit::fontDpiFromResources(c.resources), c.expected);
    }
}
