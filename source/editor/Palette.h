#pragma once

#include <juce_graphics/juce_graphics.h>

// The interface colours, always written in the Original theme; kavix::ui::colourFor maps them to the
// active theme where they are set or drawn.
namespace sorvane::palette
{
inline const juce::Colour ink{0xFF07062Cu};
inline const juce::Colour panel{0xFF160B42u};
inline const juce::Colour panelEdge{0xFF5D138Du};
inline const juce::Colour metal{0xFF5D138Du};
inline const juce::Colour metalDark{0xFF270F5Du};
inline const juce::Colour cream{0xFFF7F5FAu};
inline const juce::Colour amber{0xFFE62CD4u};
inline const juce::Colour red{0xFFFF4A8Cu};
inline const juce::Colour cyan{0xFF1691AAu};
inline const juce::Colour violet{0xFF5D138Du};
inline const juce::Colour blue{0xFF1691AAu};
} // namespace sorvane::palette
