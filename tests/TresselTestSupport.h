#pragma once

#include "workflow/TresselSession.h"

#include <juce_data_structures/juce_data_structures.h>

namespace sorvane::test
{
// A small parameter state tree whose content identifies it by `tag`.
inline juce::ValueTree makeTaggedState(int tag)
{
    juce::ValueTree state{"SORVANE_STATE"};
    state.setProperty("program", tag % 37, nullptr);
    for (const char* id : {"drive", "delayTime", "glitch"})
    {
        juce::ValueTree param{"PARAM"};
        param.setProperty("id", id, nullptr);
        param.setProperty("value", tag * 0.5 + (double)juce::String(id).length(), nullptr);
        state.appendChild(param, nullptr);
    }
    return state;
}

inline int tagOf(const juce::ValueTree& state)
{
    // Undoes makeTaggedState's "drive" value.
    return juce::roundToInt(((double)state.getChild(0)["value"] - 5.0) * 2.0);
}

inline TresselSessionSnapshot makeCompleteSession(int historyEntries = 3)
{
    TresselSessionSnapshot session;
    session.personality = 7;
    session.chaosPercent = 62.5f;
    session.seed = 0xDEADBEEFu;
    session.selectedVariant = 2;
    session.keptVariant = 1;
    session.reducedMotion = true;
    session.baseline = makeTaggedState(100);
    for (int i = 0; i < 4; ++i)
        session.variants[(size_t)i] = makeTaggedState(200 + i);
    for (int i = 0; i < historyEntries; ++i)
        session.history.push_back(makeTaggedState(300 + i));
    session.dnaId = "0123456789abcdef";
    session.parentDnaId = "fedcba9876543210";
    return session;
}
} // namespace sorvane::test
