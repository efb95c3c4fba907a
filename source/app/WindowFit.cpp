#include "app/WindowFit.h"

#include <cmath>

namespace knurlkit
{
namespace
{
constexpr double referenceDpi = 96.0;
constexpr double highDensityDpi = 1.5 * referenceDpi;

float nearestStep(double factor)
{
    auto best = windowScaleSteps.front();
    for (auto step : windowScaleSteps)
        if (std::abs(step / 100.0 - factor) < std::abs(best / 100.0 - factor))
            best = step;
    return (float)best / 100.0f;
}
} // namespace

float automaticWindowScale(double platformScale, double desktopFontDpi, double displayDpi)
{
    if (platformScale > 1.01)
        return 1.0f;
    if (desktopFontDpi > 0.0)
        return nearestStep(desktopFontDpi / referenceDpi);
    if (displayDpi >= highDensityDpi)
        return nearestStep(displayDpi / referenceDpi);
    return 1.0f;
}

float fittedWindowScale(float wanted, juce::Rectangle<int> usableAreaAtScaleOne, juce::Point<int> minimumSize)
{
    const auto smallest = (float)windowScaleSteps.front() / 100.0f;
    const auto largest = (float)windowScaleSteps.back() / 100.0f;
    auto scale = juce::jlimit(smallest, largest, wanted);

    if (minimumSize.x > 0 && minimumSize.y > 0 && !usableAreaAtScaleOne.isEmpty())
    {
        const auto fits = juce::jmin((float)usableAreaAtScaleOne.getWidth() / (float)minimumSize.x,
                                     (float)usableAreaAtScaleOne.getHeight() / (float)minimumSize.y);
        scale = juce::jmin(scale, juce::jmax(smallest, fits));
    }
    return scale;
}

juce::Rectangle<int> fitWindowBounds(juce::Rectangle<int> wanted, juce::Rectangle<int> usableArea,
                                     juce::Point<int> minimumSize, juce::Point<int> maximumSize, bool centre)
{
    const auto limit = [](int value, int low, int area, int high)
    { return juce::jmax(low, juce::jmin(value, area, high > 0 ? high : value)); };

    const auto width = limit(wanted.getWidth(), minimumSize.x, usableArea.getWidth(), maximumSize.x);
    const auto height = limit(wanted.getHeight(), minimumSize.y, usableArea.getHeight(), maximumSize.y);

    if (centre)
        return juce::Rectangle<int>(juce::jmax(usableArea.getX(), usableArea.getCentreX() - width / 2),
                                    juce::jmax(usableArea.getY(), usableArea.getCentreY() - height / 2),
                                    width, height);

    const auto x = juce::jmax(usableArea.getX(), juce::jmin(wanted.getX(), usableArea.getRight() - width));
    const auto y = juce::jmax(usableArea.getY(), juce::jmin(wanted.getY(), usableArea.getBottom() - height));
    return juce::Rectangle<int>(x, y, width, height);
}
} // namespace knurlkit
