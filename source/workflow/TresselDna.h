#pragma once

#include "workflow/TresselSession.h"

#include <juce_data_structures/juce_data_structures.h>

namespace sorvane
{
// DNA texts longer than this are refused both ways, so a clipboard can never smuggle in an
// unbounded payload.
inline constexpr int maxTresselDnaLength = 262144;

inline const juce::String tresselDnaPrefix{"SV1:"};

// What a pasted DNA text carries: the session (with its lineage already moved on) and the exact
// sound that was playing when it was copied.
struct TresselDnaPayload
{
    TresselSessionSnapshot session;
    juce::ValueTree exactState;
};

// The DNA tree: the session tree identified by the exact state's digest, with the exact state
// attached. Exposed so the text form can be checked against it.
juce::ValueTree makeTresselDnaTree(const TresselSessionSnapshot& session, const juce::ValueTree& exactState);

// The DNA text of a session and the exact current state, or an empty string and the reason in
// `error`.
juce::String encodeTresselDna(const TresselSessionSnapshot& session, const juce::ValueTree& exactState,
                              juce::String& error);

// Reads a DNA text. On success fills `out`; on failure returns false, leaves `out` untouched and
// explains why in `error`.
bool decodeTresselDna(const juce::String& text, TresselDnaPayload& out, juce::String& error);
} // namespace sorvane
