#include "workflow/MutationHistory.h"

namespace sorvane
{
void MutationHistory::push(const juce::ValueTree& tree)
{
    if (!tree.isValid())
        return;

    if (!entries.empty() && index + 1 < entries.size())
        entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(index + 1), entries.end());

    entries.push_back(tree.createCopy());

    if (entries.size() > maxEntries)
        entries.erase(entries.begin());

    index = entries.size() - 1;
}

juce::ValueTree MutationHistory::stepBack()
{
    if (entries.empty() || index == 0)
        return {};

    return entries[--index];
}

juce::ValueTree MutationHistory::stepForward()
{
    if (index + 1 >= entries.size())
        return {};

    return entries[++index];
}

void MutationHistory::clear() noexcept
{
    entries.clear();
    index = 0;
}
} // namespace sorvane
