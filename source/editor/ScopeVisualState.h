#pragma once

#include <array>
#include <cstdint>

namespace sorvane
{
// The smoothed values the animated display is painted from. Plain data, advanced once per
// refresh tick; painting only reads it.
struct ScopeVisualState
{
    // In the order of scopeParameterIds.
    static constexpr int numParameters = 24;
    static constexpr int historyLength = 96;

    std::array<float, numParameters> parameters{};
    // The first nine engine meters, smoothed like the parameters; a teaser's cover reads them.
    std::array<float, 9> meters{};
    float activityA = 0.0f, activityB = 0.0f;
    float tempo = 1.0f;
    std::array<float, historyLength> history{};
    float overall = 0.0f;
    // Rotation of the display's arcs in radians, advanced with the tempo on every activity tick.
    float phase = 0.0f;
};

extern const std::array<const char*, ScopeVisualState::numParameters> scopeParameterIds;

// Moves every smoothed parameter 22 % of the way to its current normalised value.
void smoothScopeParameters(ScopeVisualState& state,
                           const std::array<float, ScopeVisualState::numParameters>& normalised) noexcept;

// Equal for two states that paint the same display.
std::uint64_t scopeVisualSignature(const ScopeVisualState& state) noexcept;

// Moves every smoothed meter 22 % of the way to the engine's latest block; non-finite readings count
// as silence.
void smoothScopeMeters(ScopeVisualState& state, const std::array<float, 9>& meters) noexcept;

// Follows two measured activity levels and the tempo (BPM), shifts the history by one entry and
// recomputes the overall activity.
void followScopeActivity(ScopeVisualState& state, float levelA, float levelB, double tempoBpm) noexcept;
} // namespace sorvane
