#pragma once

#include "workflow/TresselSession.h"

#include <juce_data_structures/juce_data_structures.h>

namespace sorvane
{
namespace tresselTreeIds
{
inline const juce::Identifier sessionType{"SORVANE_TRESSEL_SESSION"};
inline const juce::Identifier stateType{"TRESSEL_STATE"};
inline const juce::Identifier schemaVersion{"schemaVersion"};
inline const juce::Identifier personality{"personality"};
inline const juce::Identifier chaosPercent{"chaosPercent"};
inline const juce::Identifier seed{"seed"};
inline const juce::Identifier selectedVariant{"selectedVariant"};
inline const juce::Identifier keptVariant{"keptVariant"};
inline const juce::Identifier reducedMotion{"reducedMotion"};
inline const juce::Identifier dnaId{"dnaId"};
inline const juce::Identifier parentDnaId{"parentDnaId"};
inline const juce::Identifier role{"role"};
inline const juce::Identifier index{"index"};
} // namespace tresselTreeIds

// The stored form of a session: hosts, projects and DNA all carry exactly this tree.
juce::ValueTree tresselSessionToTree(const TresselSessionSnapshot& session);

// Reads a stored session. On failure returns false, leaves `session` untouched and explains why
// in `error`.
bool tresselSessionFromTree(const juce::ValueTree& tree, TresselSessionSnapshot& session,
                            juce::String& error);
} // namespace sorvane
