#include "editor/ScopeVisualState.h"

#include <juce_core/juce_core.h>

#include <algorithm>
#include <cmath>

namespace sorvane
{
const std::array<const char*, ScopeVisualState::numParameters> scopeParameterIds = {
    "input",        "drive",        "crush",     "reduce",  "ring",  "ringFreq",  "resonance", "resFreq",
    "resDecay",     "glitch",       "division",  "reverse", "delay", "delayTime", "feedback",  "tone",
    "spectralWave", "spectralRate", "dimension", "fold",    "spark", "chaos",     "output",    "mix"};

namespace
{
// Rises fast and falls slowly, so bursts stay visible for a few frames.
float follow(float old, float input, float rise, float fall) noexcept
{
    return old + (input - old) * (input > old ? rise : fall);
}
} // namespace

void smoothScopeParameters(ScopeVisualState& state,
                           const std::array<float, ScopeVisualState::numParameters>& normalised) noexcept
{
    for (size_t i = 0; i < state.parameters.size(); ++i)
        state.parameters[i] += (normalised[i] - state.parameters[i]) * 0.22f;
}

void smoothScopeMeters(ScopeVisualState& state, const std::array<float, 9>& meters) noexcept
{
    for (size_t i = 0; i < state.meters.size(); ++i)
        state.meters[i] += ((std::isfinite(meters[i]) ? meters[i] : 0.0f) - state.meters[i]) * 0.22f;
}

std::uint64_t scopeVisualSignature(const ScopeVisualState& state) noexcept
{
    // FNV-1a over the values as painted, to a 512th: changes below that do not show.
    std::uint64_t hash = 0xcbf29ce484222325ull;
    const auto add = [&hash](float v)
    {
        const auto q = std::isfinite(v) ? (std::int64_t)std::lround((double)v * 512.0) : (std::int64_t)-1;
        for (int byte = 0; byte < 8; ++byte)
            hash = (hash ^ (std::uint64_t)((q >> (8 * byte)) & 0xFF)) * 0x100000001b3ull;
    };
    for (const auto v : state.parameters)
        add(v);
    for (const auto v : state.history)
        add(v);
    add(state.overall);
    add(state.phase);
    return hash;
}

void followScopeActivity(ScopeVisualState& state, float levelA, float levelB, double tempoBpm) noexcept
{
    const auto finiteOrZero = [](float v) { return std::isfinite(v) ? v : 0.0f; };
    state.activityA = follow(state.activityA, finiteOrZero(levelA), 0.55f, 0.12f);
    state.activityB = follow(state.activityB, finiteOrZero(levelB), 0.72f, 0.16f);
    const double bpm = std::isfinite(tempoBpm) ? tempoBpm : 120.0;
    const auto tempoValue = (float)std::clamp(bpm / 120.0, 0.25, 2.5);
    state.tempo = follow(state.tempo, tempoValue, 0.48f, 0.10f);
    state.overall =
        std::clamp(0.55f * state.activityA + 0.3f * state.activityB + 0.4f * state.tempo, 0.0f, 1.0f);
    // The dial turns with what is heard, so a silent editor comes to rest and stops repainting.
    state.phase = std::fmod(state.phase + 0.03f * state.tempo * (state.activityA + state.activityB),
                            juce::MathConstants<float>::twoPi);
    std::rotate(state.history.begin(), state.history.begin() + 1, state.history.end());
    state.history.back() = state.overall;
}
} // namespace sorvane
