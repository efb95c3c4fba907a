#include "editor/EditorPainting.h"

#include "editor/InterfaceTheme.h"
#include "editor/Palette.h"

#include <algorithm>
#include <cmath>

namespace sorvane::painting
{
namespace
{
namespace pal = sorvane::palette;

juce::Colour themed(int theme, juce::Colour colour)
{
    return kavix::ui::colourFor(theme, colour);
}

juce::Colour themed(int theme, juce::Colour colour, juce::uint8 alpha)
{
    return kavix::ui::colourFor(theme, colour).withAlpha(alpha);
}

float clamp01(float v) noexcept
{
    return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f;
}

void paintBackground(juce::Graphics& g, int theme, float w, float h)
{
    g.setGradientFill(juce::ColourGradient(themed(theme, pal::ink), 0.0f, 0.0f, themed(theme, pal::metalDark),
                                           w, h, false));
    g.fillRect(0.0f, 0.0f, w, h);

    static constexpr float rayEnds[] = {-0.08f, 0.08f, 0.2f, 0.34f, 0.5f, 0.66f, 0.8f, 0.93f, 1.08f};
    for (int i = 0; i < 9; ++i)
    {
        juce::Path ray;
        ray.addTriangle(0.52f * w - 2.0f, 54.0f, rayEnds[i] * w - 34.0f, h, rayEnds[i] * w + 34.0f, h);
        g.setColour(i % 3 == 0 ? themed(theme, pal::cyan, 0x06) : themed(theme, pal::amber, 0x08));
        g.fillPath(ray);
    }

    g.setGradientFill(juce::ColourGradient(themed(theme, pal::amber, 0x21), 0.52f * w, 54.0f,
                                           themed(theme, pal::amber, 0x00), 0.84f * w, 54.0f + 0.42f * h,
                                           true));
    g.fillEllipse(0.52f * w - 0.32f * w, 54.0f - 0.18f * h, 0.64f * w, 0.58f * h);

    g.setColour(themed(theme, pal::cyan, 0x05));
    for (float y = 2.0f; y < h; y += 3.0f)
        g.fillRect(0.0f, y, w, 1.0f);
}

void paintHeader(juce::Graphics& g, int theme, int width, int height)
{
    const int band = std::min(height, 96);
    g.setGradientFill(juce::ColourGradient(themed(theme, pal::ink), 0.0f, 0.0f,
                                           themed(theme, pal::panel.brighter(0.12f)), (float)width, 96.0f,
                                           false));
    g.fillRect(0, 0, width, band);
    g.setColour(themed(theme, pal::amber, 0x85));
    g.fillRect(0, band - 1, width, band > 0 ? 1 : 0);

    const int block = std::min(std::max(band - 16, 0), 40);
    int free = std::max(width - 44, 0);
    int x = 22;
    const auto take = [&free, &x](int wanted)
    {
        const int w = std::min(wanted, free);
        free -= w;
        const int at = x;
        x += w;
        return std::pair<int, int>{at, w};
    };

    const auto [badgeX, badgeW] = take(58);
    const juce::Rectangle<float> badge((float)badgeX, 17.0f, (float)badgeW, (float)std::max(block - 18, 0));
    g.setGradientFill(juce::ColourGradient(themed(theme, pal::amber), badge.getTopLeft(),
                                           themed(theme, pal::violet), badge.getBottomRight(), false));
    g.fillRoundedRectangle(badge, 3.0f);
    g.setColour(themed(theme, pal::ink));
    g.setFont(juce::Font(11.0f, juce::Font::bold));
    g.drawText("KAVIX", badge, juce::Justification::centred, false);

    take(12);
    const auto [titleX, titleW] = take(185);
    g.setColour(themed(theme, pal::cream));
    g.setFont(juce::Font(25.0f, juce::Font::bold));
    g.drawText("SORVANE", titleX, 8, titleW, block, juce::Justification::centredLeft, false);

    const auto [barX, barW] = take(3);
    g.setColour(themed(theme, pal::amber));
    g.fillRect(barX, 14, barW, std::max(block - 12, 0));

    take(12);
    const auto [modelX, modelW] = take(70);
    g.setColour(themed(theme, pal::cream, 0x85));
    g.setFont(juce::Font(10.0f));
    g.drawText("SV-01", modelX, 8, modelW, block, juce::Justification::centredLeft, false);
}
} // namespace

std::array<juce::Rectangle<int>, 3> computePaintedPanels(int width, int height, bool tresselMode)
{
    const int top = tresselMode ? 106 : 166;
    const int panelHeight = std::max(height - top - 172, 0);
    const int m = std::max(width - 24, 0);
    const int side = std::max((int)std::floor(0.255 * m), 260);
    const int leftWidth = std::min(m, side);
    const int rightWidth = std::min(std::max(m - leftWidth - 10, 0), side);
    const juce::Rectangle<int> left(12, top, leftWidth, panelHeight);
    const juce::Rectangle<int> right(m + 12 - rightWidth, top, rightWidth, panelHeight);
    const int middleX = left.getRight() + 10;
    const juce::Rectangle<int> middle(middleX, top, std::max(right.getX() - 10 - middleX, 0), panelHeight);
    return {left, middle, right};
}

std::array<const char*, 3> panelTitles(bool tresselMode)
{
    if (tresselMode)
        return {"TRESSEL  /  SHAPE", "TRESSEL  /  SIGNAL + TOTAL EFFECT", "TRESSEL  /  REVIEW + EXPORT"};
    return {"A  /  MANGLE BANK", "B/C  /  RESONATE + FRACTURE", "D  /  SPECTRAL + SPACE + OUTPUT"};
}

void drawPanel(juce::Graphics& g, int theme, juce::Rectangle<int> bounds, const juce::String& title)
{
    const auto area = bounds.toFloat();
    g.setGradientFill(juce::ColourGradient(themed(theme, pal::panel.brighter(0.08f)), area.getTopLeft(),
                                           themed(theme, pal::ink.brighter(0.08f)), area.getBottomRight(),
                                           false));
    g.fillRoundedRectangle(area, 7.0f);
    g.setColour(themed(theme, pal::violet, 0x85));
    g.drawRoundedRectangle(area.reduced(0.5f), 7.0f, 1.2f);
    g.setColour(themed(theme, pal::cyan, 0x14));
    g.drawRoundedRectangle(area.reduced(2.0f), 6.0f, 1.0f);

    const int band = std::max(std::min(bounds.getHeight() - 2, 29), 0);
    const int inner = std::max(bounds.getWidth() - 2, 0);
    const juce::Rectangle<int> titleBand(bounds.getX() + 1, bounds.getY() + 1, inner, band);
    g.setGradientFill(juce::ColourGradient(themed(theme, pal::violet, 0x6B), 0.0f, (float)titleBand.getY(),
                                           themed(theme, pal::panel), 0.0f, (float)titleBand.getBottom(),
                                           false));
    g.fillRect(titleBand);

    g.setColour(themed(theme, pal::cream, 0xDB));
    g.setFont(juce::Font(11.0f, juce::Font::bold));
    g.drawText(title, bounds.getX() + 13, bounds.getY() + 1, inner > 24 ? bounds.getWidth() - 26 : 0, band,
               juce::Justification::centredLeft, false);
    g.setColour(themed(theme, pal::amber));
    g.fillRect(bounds.getX() + inner - 37, bounds.getY() + band / 2, 24, 2);
}

void drawScrew(juce::Graphics& g, int theme, float x, float y)
{
    g.setColour(themed(theme, pal::ink, 0x73));
    g.fillEllipse(x - 5.0f, y - 4.0f, 10.0f, 10.0f);
    g.setGradientFill(juce::ColourGradient(themed(theme, pal::cyan), x - 3.0f, y - 3.0f,
                                           themed(theme, pal::violet), x + 4.0f, y + 4.0f, false));
    g.fillEllipse(x - 5.0f, y - 5.0f, 10.0f, 10.0f);
    g.setColour(themed(theme, pal::ink, 0xB0));
    g.drawLine(x - 3.2f, y + 1.6f, x + 3.2f, y - 1.6f, 1.2f);
}

void paintStaticLayers(juce::Graphics& g, int theme, int width, int height, bool tresselMode)
{
    paintBackground(g, theme, (float)width, (float)height);
    paintHeader(g, theme, width, height);
    const auto panels = computePaintedPanels(width, height, tresselMode);
    const auto titles = panelTitles(tresselMode);
    for (size_t i = 0; i < panels.size(); ++i)
        if (panels[i].getHeight() > 0 && panels[i].getWidth() > 0)
            drawPanel(g, theme, panels[i], titles[i]);
    const auto w = (float)width, h = (float)height;
    for (const auto& [x, y] :
         {std::pair{12.0f, 12.0f}, {w - 12.0f, 12.0f}, {12.0f, h - 12.0f}, {w - 12.0f, h - 12.0f}})
        drawScrew(g, theme, x, y);
}

std::array<float, 3> displayIntensities(const ScopeVisualState& s) noexcept
{
    const auto p = [&s](int index) { return clamp01(s.parameters[(size_t)index]); };
    // Indices follow scopeParameterIds.
    const float tone = 0.18f * p(1) + 0.14f * p(2) + 0.1f * p(3) + 0.12f * p(4) + 0.14f * p(6) +
                       0.1f * p(15) + 0.12f * p(19) + 0.1f * p(20);
    const float rhythm =
        0.24f * p(9) + 0.12f * p(10) + 0.16f * p(11) + 0.16f * p(16) + 0.12f * p(17) + 0.2f * p(21);
    const float space = 0.32f * p(12) + 0.18f * p(13) + 0.26f * p(14) + 0.24f * p(18);
    const float drive = 0.35f + 0.65f * clamp01(s.overall);
    return {clamp01(tone * drive), clamp01(rhythm * drive), clamp01(space * drive)};
}

void paintActivityDisplay(juce::Graphics& g, int theme, juce::Rectangle<int> bounds,
                          const ScopeVisualState& state, int geometryStep)
{
    // The caption's line stays free below the dial.
    bounds = bounds.withTrimmedBottom(monitorCaptionHeight + 2);
    if (bounds.isEmpty())
        return;
    const int step = std::clamp(geometryStep, 1, 4);
    const auto area = bounds.toFloat();
    const auto centre = area.getCentre();
    const float radius = std::min(area.getWidth(), area.getHeight()) * 0.5f - 3.0f;
    if (radius <= 4.0f)
        return;
    const auto [tone, rhythm, space] = displayIntensities(state);
    const float activity = clamp01(state.overall);
    const auto violet = themed(theme, pal::violet), cyan = themed(theme, pal::cyan),
               amber = themed(theme, pal::amber);
    const auto toneColour = violet.interpolatedWith(amber, tone);
    const auto rhythmColour = cyan.interpolatedWith(amber, rhythm);
    const auto spaceColour = violet.interpolatedWith(cyan, 0.35f + 0.65f * space);

    const auto at = [&centre](float angle, float r)
    { return juce::Point<float>(centre.x + r * std::sin(angle), centre.y - r * std::cos(angle)); };

    // Glow of the whole display, then the dial's face.
    g.setColour(amber.withAlpha(0.035f + 0.018f * activity));
    g.fillEllipse(area.reduced(1.0f));
    g.setColour(themed(theme, pal::ink).withAlpha(0.55f));
    g.fillEllipse(centre.x - radius * 0.95f, centre.y - radius * 0.95f, radius * 1.9f, radius * 1.9f);

    // Spokes.
    for (int k = 0; k < 24; k += step)
    {
        const float angle = juce::MathConstants<float>::twoPi * (float)k / 24.0f;
        const bool odd = (k % 2) != 0;
        g.setColour(spaceColour.withAlpha(0.16f + 0.3f * space));
        g.drawLine(juce::Line<float>(at(angle, radius * (odd ? 0.16f : 0.08f)),
                                     at(angle, radius * (odd ? 0.88f : 0.94f))),
                   odd ? 0.8f : 1.1f);
    }

    // The activity history as a closed trace around the middle.
    juce::Path trace;
    const int points = (int)state.history.size();
    for (int i = 0; i < points; i += step)
    {
        const float angle =
            juce::MathConstants<float>::twoPi * (float)i / (float)points + state.phase * 0.25f;
        const auto point = at(angle, radius * (0.3f + 0.26f * clamp01(state.history[(size_t)i])));
        if (i == 0)
            trace.startNewSubPath(point);
        else
            trace.lineTo(point);
    }
    trace.closeSubPath();
    g.setColour(rhythmColour.withAlpha(0.12f + 0.25f * rhythm));
    g.fillPath(trace);
    g.setColour(rhythmColour.withAlpha(0.55f + 0.4f * activity));
    g.strokePath(trace, juce::PathStrokeType(1.4f));

    // Four arcs whose lengths follow the intensities.
    const float levels[] = {tone, rhythm, space, activity};
    const juce::Colour colours[] = {toneColour, rhythmColour, spaceColour, amber};
    const float rings[] = {0.72f, 0.775f, 0.83f, 0.885f};
    for (int a = 0; a < 4; ++a)
    {
        const float start =
            state.phase * (a % 2 == 0 ? 1.0f : -1.0f) + juce::MathConstants<float>::halfPi * (float)a;
        const float length = 0.38f + 0.42f * levels[a] + 2.0f * levels[a] * levels[a];
        juce::Path arc;
        arc.addCentredArc(centre.x, centre.y, radius * rings[a], radius * rings[a], 0.0f, start,
                          start + length, true);
        g.setColour(colours[a].withAlpha(0.45f + 0.5f * levels[a]));
        g.strokePath(arc,
                     juce::PathStrokeType(2.2f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
    }

    // The hub pulses with the overall activity.
    const float hub = radius * (0.07f + 0.06f * activity);
    g.setColour(toneColour.withAlpha(0.7f + 0.3f * activity));
    g.fillEllipse(centre.x - hub, centre.y - hub, hub * 2.0f, hub * 2.0f);
    g.setColour(themed(theme, pal::violet, 0x85));
    g.drawEllipse(centre.x - radius, centre.y - radius, radius * 2.0f, radius * 2.0f, 1.2f);
}

juce::String monitorCaption(int displaySize, int tier, int frameRate)
{
    if (displaySize < 260)
        return "DSP ACTIVITY";
    static constexpr const char* names[] = {"HIGH", "MED", "LOW"};
    return juce::String("DSP ACTIVITY MONITOR  /  VIS ") + names[std::clamp(tier, 0, 2)] + " " +
           juce::String(frameRate) + " FPS";
}

juce::Rectangle<int> monitorCaptionBounds(juce::Rectangle<int> display)
{
    return display.withTop(display.getBottom() - monitorCaptionHeight);
}
} // namespace sorvane::painting
