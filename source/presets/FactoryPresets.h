#pragma once

#include "processor/ParameterState.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <vector>

namespace sorvane
{
// One parameter in its own units (percent, Hz, ms, dB or a choice index), never normalised.
struct ParameterValue
{
    juce::String id;
    float value = 0.0f;
};

// A named set of overrides that becomes one Tressel variant when its preset is selected.
struct FactoryVariation
{
    juce::String name;
    std::vector<ParameterValue> overrides;
};

struct FactoryPreset
{
    juce::String name;
    std::vector<ParameterValue> values; // applied in this order; unlisted parameters keep their value
    juce::String category;
    juce::String tags; // comma-separated, no spaces
    juce::String bestSource;
    std::int32_t intensity = -1; // -1: no intensity (the classic set)
    std::vector<FactoryVariation> variations;
    juce::String bank;
    juce::String description;
};

// The built-in sounds; the index is the program number. Built on first use, so callers running
// before or after static initialisation see a complete table.
const std::array<FactoryPreset, numFactoryPrograms>& factoryPresets();

// The row's bank, or "Showcase" for an unbanked row that has an intensity.
juce::String effectiveFactoryBank(const FactoryPreset& preset);
} // namespace sorvane
