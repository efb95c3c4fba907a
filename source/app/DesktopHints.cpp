// The X headers JUCE uses internally are needed here only; they define macros that clash with
// ordinary names, so no other file includes them.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include "app/DesktopHints.h"

#include <cmath>

namespace knurlkit
{
double fontDpiFromResources(const juce::String& resources)
{
    for (const auto& line : juce::StringArray::fromLines(resources))
    {
        const auto trimmed = line.trim();
        if (!trimmed.startsWith("Xft.dpi") || !trimmed.substring(7).trimStart().startsWithChar(':'))
            continue;

        const auto value = trimmed.fromFirstOccurrenceOf(":", false, false).trim();
        if (!value.containsOnly("0123456789."))
            return 0.0;
        return juce::jmax(0.0, value.getDoubleValue());
    }
    return 0.0;
}

#if JUCE_LINUX || JUCE_BSD
double desktopFontDpi()
{
    auto* windowSystem = juce::XWindowSystem::getInstance();
    auto* display = windowSystem->getDisplay();
    if (display == nullptr)
        return 0.0;

    // XSETTINGS carries the value a running settings daemon applies now, in 1024ths of a dot per inch.
    if (auto* settings = windowSystem->getXSettings())
    {
        const auto setting = settings->getSetting("Xft/DPI");
        if (setting.isValid() && setting.integerValue > 0)
            return setting.integerValue / 1024.0;
    }

    juce::XWindowSystemUtilities::ScopedXLock lock;
    auto* x = juce::X11Symbols::getInstance();
    const auto atom = juce::XWindowSystemUtilities::Atoms::getIfExists(display, "RESOURCE_MANAGER");
    if (atom == None)
        return 0.0;

    juce::XWindowSystemUtilities::GetXProperty property(display, x->xRootWindow(display, 0), atom, 0, 100000,
                                                        false, XA_STRING);
    if (!property.success || property.actualFormat != 8)
        return 0.0;

    return fontDpiFromResources(
        juce::String::fromUTF8(reinterpret_cast<const char*>(property.data), (int)property.numItems));
}

juce::Rectangle<int> desktopWorkArea()
{
    auto* display = juce::XWindowSystem::getInstance()->getDisplay();
    if (display == nullptr)
        return {};

    juce::XWindowSystemUtilities::ScopedXLock lock;
    auto* x = juce::X11Symbols::getInstance();
    const auto atom = juce::XWindowSystemUtilities::Atoms::getIfExists(display, "_NET_WORKAREA");
    if (atom == None)
        return {};

    juce::XWindowSystemUtilities::GetXProperty property(display, x->xRootWindow(display, 0), atom, 0, 4,
                                                        false, XA_CARDINAL);
    if (!property.success || property.actualFormat != 32 || property.numItems < 4)
        return {};

    // Format-32 properties arrive as longs whatever their size on the wire.
    const auto* values = reinterpret_cast<const long*>(property.data);
    return {(int)values[0], (int)values[1], (int)values[2], (int)values[3]};
}
#else
double desktopFontDpi()
{
    return 0.0;
}

juce::Rectangle<int> desktopWorkArea()
{
    return {};
}
#endif

juce::Rectangle<int> usableAreaOf(const juce::Displays::Display& display)
{
    auto usable = display.userArea;
    const auto workArea = desktopWorkArea();
    if (!workArea.isEmpty() && display.scale > 0.0)
    {
        const auto logical = workArea.toDouble() / display.scale;
        const auto inWorkArea = usable.getIntersection(juce::Rectangle<int>::leftTopRightBottom(
            (int)std::ceil(logical.getX()), (int)std::ceil(logical.getY()),
            (int)std::floor(logical.getRight()), (int)std::floor(logical.getBottom())));
        if (!inWorkArea.isEmpty())
            usable = inWorkArea;
    }

    // At a fractional scale the logical area is rounded; a pixel back keeps the window inside.
    if (display.scale != std::floor(display.scale))
        usable = usable.withTrimmedRight(1).withTrimmedBottom(1);
    return usable;
}
} // namespace knurlkit
