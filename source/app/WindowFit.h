#pragma once

#include <juce_graphics/juce_graphics.h>

#include <array>

namespace knurlkit
{
// Window scales the Options menu offers, in percent; 0 in the settings means "automatic".
inline constexpr std::array<int, 6> windowScaleSteps{75, 100, 125, 150, 175, 200};
inline constexpr const char* windowScaleKey = "windowScale";
inline constexpr const char* windowWidthKey = "windowWidth";
inline constexpr const char* windowHeightKey = "windowHeight";

// The scale the desktop asks for that JUCE does not apply itself. platformScale is what JUCE already
// applies to the display (its own DPI rounding or the desktop's scaling setting): above 1 there is
// nothing left to add. Otherwise the desktop's font DPI (0 when unset) is honoured to the nearest
// step, and a clearly high-density display (1.5 x 96 dpi or more) without one by its DPI.
float automaticWindowScale(double platformScale, double desktopFontDpi, double displayDpi);

// The scale actually applied: the wanted one, lowered so that a window of minimumSize (logical
// pixels at scale 1) still fits usableArea (measured at scale 1), but never below the smallest step.
float fittedWindowScale(float wanted, juce::Rectangle<int> usableAreaAtScaleOne,
                        juce::Point<int> minimumSize);

// Bounds for a window that wants `wanted`: its size limited to the usable area (never below
// minimumSize, never above maximumSize), then centred when asked, otherwise moved only as far as
// needed to lie inside the area. A window larger than the area keeps its title bar on screen.
juce::Rectangle<int> fitWindowBounds(juce::Rectangle<int> wanted, juce::Rectangle<int> usableArea,
                                     juce::Point<int> minimumSize, juce::Point<int> maximumSize, bool centre);
} // namespace knurlkit
