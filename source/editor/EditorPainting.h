#pragma once

#include "editor/ScopeVisualState.h"

#include <juce_graphics/juce_graphics.h>

#include <array>

// The editor's own drawing: background, header, framed panels, screws and the animated activity
// display. Free functions of plain inputs, so they can be drawn into any image and measured.
namespace sorvane::painting
{
// Left, middle and right panel of the current mode; zero height when the window is too short.
std::array<juce::Rectangle<int>, 3> computePaintedPanels(int width, int height, bool tresselMode);
std::array<const char*, 3> panelTitles(bool tresselMode);

// Gradient, light rays, glow, scan lines, header band, panels and screws: what does not move.
void paintStaticLayers(juce::Graphics& g, int theme, int width, int height, bool tresselMode);

void drawPanel(juce::Graphics& g, int theme, juce::Rectangle<int> bounds, const juce::String& title);
void drawScrew(juce::Graphics& g, int theme, float x, float y);

// The circular instrument inside bounds, from the smoothed visual state; geometryStep 1, 2 or 4
// thins the spokes and the history trace on lower visual tiers.
void paintActivityDisplay(juce::Graphics& g, int theme, juce::Rectangle<int> bounds,
                          const ScopeVisualState& state, int geometryStep);

// "DSP ACTIVITY" for a small display, else the monitor line with the visual tier and its frame rate.
juce::String monitorCaption(int displaySize, int tier, int frameRate);
// The caption's line at the bottom of the display rectangle, under the dial.
constexpr int monitorCaptionHeight = 14;
juce::Rectangle<int> monitorCaptionBounds(juce::Rectangle<int> display);

// Tone, rhythm and space in 0..1: weighted smoothed controls scaled by the overall activity.
std::array<float, 3> displayIntensities(const ScopeVisualState& state) noexcept;
} // namespace sorvane::painting
