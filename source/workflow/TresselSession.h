#pragma once

#include <juce_data_structures/juce_data_structures.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace sorvane
{
// One Tressel session: the baseline it started from, its four exact variants and what was auditioned.
// A plain value; the controller hands out copies.
struct TresselSessionSnapshot
{
    static constexpr int currentSchemaVersion = 2;
    static constexpr std::size_t maxHistory = 16;

    int schemaVersion = currentSchemaVersion;
    int personality = 0; // as requested: AUTO and ??? stay 0 and 11
    float chaosPercent = 35.0f;
    std::uint32_t seed = 0;
    int selectedVariant = -1;
    int keptVariant = -1;
    bool reducedMotion = false;
    juce::ValueTree baseline;
    std::array<juce::ValueTree, 4> variants;
    std::vector<juce::ValueTree> history; // oldest first, at most maxHistory
    juce::String dnaId;
    juce::String parentDnaId;

    bool isValid() const
    {
        if (!baseline.isValid())
            return false;
        for (const auto& variant : variants)
            if (!variant.isValid())
                return false;
        return true;
    }
};

// Builds one variant from (baseline, variant seed, intensity).
using TresselVariantFunction = std::function<juce::ValueTree(const juce::ValueTree& baseline,
                                                             std::uint32_t variantSeed, float intensity)>;
} // namespace sorvane
