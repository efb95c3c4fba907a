#pragma once

#include <cstdint>

namespace sorvane
{
// The 64-bit lock word: bits 0..23 lock single sound parameters, bits 24..26 lock whole groups,
// bits 27..28 hold the mutation focus; the rest stays zero.
namespace lockword
{
constexpr std::uint64_t individualMask = 0xFFFFFFull;
constexpr int firstGroupBit = 24;
constexpr int focusShift = 27;
constexpr std::uint64_t focusMask = 0x3ull << focusShift;
constexpr std::uint64_t groupBitsMask = 0x7ull << firstGroupBit;
} // namespace lockword

// "Pitch Controls", "Rhythmic Controls", "Space".
inline constexpr std::uint32_t groupMasks[3] = {0x1F0u, 0x230E00u, 0x47000u};

// Lock bit of a detailed parameter identifier; 0 for anything else (exact, case-sensitive).
std::uint32_t lockBitForParameterId(const char* id) noexcept;

// The 24-bit set of parameters that count as locked: individual bits, expanded groups and the
// complement of a focused group.
std::uint32_t effectiveLockMask(std::uint64_t word) noexcept;

int focusIndexOf(std::uint64_t word) noexcept;
} // namespace sorvane
