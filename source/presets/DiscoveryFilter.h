#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

namespace sorvane
{
// The discover panel's manual filter of the preset browser.
struct DiscoveryFilter
{
    juce::String source{"All"};
    juce::String purpose{"All"};
    std::int32_t intensityBand = 0;

    bool isActive() const { return source != "All" || purpose != "All" || intensityBand != 0; }
};
} // namespace sorvane
