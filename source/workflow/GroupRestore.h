#pragma once

#include "workflow/TresselSession.h"

#include <juce_data_structures/juce_data_structures.h>

#include <array>
#include <cstdint>

namespace sorvane
{
// "Pitch Controls", "Rhythmic Controls", "Space", in lock-group order.
inline const std::array<const char*, 3> groupNames{"Pitch Controls", "Rhythmic Controls", "Space"};

// What RESTORE TONE, RHYTHM and SPACE bring back from Before: the sections of the change explanation.
inline constexpr std::uint32_t groupRestoreMasks[3] = {0x1881FEu, 0x230E00u, 0x047000u};

// The lock word with its group bits and focus replaced; individual locks stay, bits 29 and up clear.
std::uint64_t protectedLockWord(std::uint64_t word, bool pitch, bool rhythm, bool space, int focus) noexcept;

// The current sound with the group's unlocked controls set back to the session's baseline, marked as
// a restore of the auditioned variant. Invalid when the session cannot be restored from or when
// nothing would change.
juce::ValueTree restoreGroupFromBaseline(const TresselSessionSnapshot& session,
                                         const juce::ValueTree& current, std::uint64_t lockWord, int group);
} // namespace sorvane
