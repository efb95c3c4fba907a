#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace knurlkit
{
// What the desktop says about sizes that JUCE does not read on Linux: the font DPI users set for
// scaling, and the work area left free by panels.

// "Xft.dpi" from X resource text (as xrdb keeps it), 0 when absent or not a positive number.
double fontDpiFromResources(const juce::String& resources);

// The desktop's font DPI: the XSETTINGS "Xft/DPI" value, else the "Xft.dpi" resource, else 0.
double desktopFontDpi();

// The work area in physical pixels of the root window (_NET_WORKAREA), empty when none is set.
juce::Rectangle<int> desktopWorkArea();

// The part of a display a window may use, in logical pixels: its user area, less what the desktop's
// work area leaves out.
juce::Rectangle<int> usableAreaOf(const juce::Displays::Display& display);
} // namespace knurlkit
