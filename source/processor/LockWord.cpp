#include "processor/LockWord.h"
#include "processor/ParameterLayout.h"

#include <cstring>

namespace sorvane
{
std::uint32_t lockBitForParameterId(const char* id) noexcept
{
    if (id == nullptr)
        return 0;

    for (int k = 0; k < numDetailedParameters; ++k)
        if (std::strcmp(id, detailedIds[k]) == 0)
            return 1u << k;

    return 0;
}

int focusIndexOf(std::uint64_t word) noexcept
{
    return static_cast<int>((word & lockword::focusMask) >> lockword::focusShift);
}

std::uint32_t effectiveLockMask(std::uint64_t word) noexcept
{
    auto mask = static_cast<std::uint32_t>(word & lockword::individualMask);

    for (int g = 0; g < 3; ++g)
        if ((word >> (lockword::firstGroupBit + g)) & 1u)
            mask |= groupMasks[g];

    if (const auto focus = focusIndexOf(word); focus != 0)
        mask |= groupMasks[focus - 1] ^ 0xFFFFFFu;

    return mask;
}
} // namespace sorvane
