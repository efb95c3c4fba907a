#include "workflow/GroupRestore.h"

#include "processor/LockWord.h"
#include "processor/ParameterLayout.h"

namespace sorvane
{
std::uint64_t protectedLockWord(std::uint64_t word, bool pitch, bool rhythm, bool space, int focus) noexcept
{
    const auto f = (std::uint64_t)juce::jlimit(0, 3, focus);
    return (word & lockword::individualMask) | ((std::uint64_t)pitch << 24) | ((std::uint64_t)rhythm << 25) |
           ((std::uint64_t)space << 26) | (f << lockword::focusShift);
}

juce::ValueTree restoreGroupFromBaseline(const TresselSessionSnapshot& session,
                                         const juce::ValueTree& current, std::uint64_t lockWord, int group)
{
    if (group < 0 || group > 2 || !session.isValid() || session.selectedVariant < 0 || !current.isValid())
        return {};

    auto restored = current.createCopy();
    restored.setProperty("workflowGroupRestore", true, nullptr);
    restored.setProperty("workflowRestoreSeed", (juce::int64)session.seed, nullptr);
    restored.setProperty("workflowRestoreVariant", session.selectedVariant, nullptr);

    const auto locked = effectiveLockMask(lockWord);
    bool changed = false;
    for (int bit = 0; bit < 24; ++bit)
    {
        const auto mask = 1u << bit;
        if ((groupRestoreMasks[group] & mask) == 0 || (locked & mask) != 0)
            continue;
        const juce::String id(detailedIds[bit]);
        const auto from = session.baseline.getChildWithProperty("id", id);
        auto to = restored.getChildWithProperty("id", id);
        if (!from.isValid() || !to.isValid() || from["value"] == to["value"])
            continue;
        to.setProperty("value", from["value"], nullptr);
        changed = true;
    }
    return changed ? restored : juce::ValueTree();
}
} // namespace sorvane
