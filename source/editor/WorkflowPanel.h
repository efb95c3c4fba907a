#pragma once

#include "presets/DiscoveryFilter.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>

class SorvaneAudioProcessor;

namespace sorvane::editor
{
// The WORKFLOW call-out's content: discover / protect, changes / tuning, delay / tempo. It reads the
// processor and the editor's choices once, when built, and writes through as the user acts.
std::unique_ptr<juce::Component> createWorkflowPanel(SorvaneAudioProcessor& processor, DiscoveryFilter filter,
                                                     std::function<void(DiscoveryFilter)> onFilter,
                                                     bool showNoteNames,
                                                     std::function<void(bool)> onNoteNames);

// The delay page's live line for a division (0 = milliseconds), the tempo and whether it can be used.
juce::String delayStatusText(int division, double delayTimeMs, double tempoBpm, bool tempoUsable);
// The length of division 1..18 at a tempo, in milliseconds.
double delayDivisionMilliseconds(int division, double tempoBpm) noexcept;
} // namespace sorvane::editor
