#pragma once

#include <juce_data_structures/juce_data_structures.h>

#include <cstddef>
#include <vector>

namespace sorvane
{
// Every sound the workflows produced, oldest first, with the index of the current one. Holds deep
// copies, so later edits of a pushed tree never reach the history.
class MutationHistory
{
public:
    static constexpr std::size_t maxEntries = 64;

    // Ends any redo branch, appends a copy and drops the oldest entry beyond the limit; an invalid
    // tree is ignored.
    void push(const juce::ValueTree& tree);

    // Moves the index one step and returns the entry now current, or an invalid tree at either end.
    juce::ValueTree stepBack();
    juce::ValueTree stepForward();

    void clear() noexcept;

    std::size_t size() const noexcept { return entries.size(); }
    std::size_t getIndex() const noexcept { return index; }
    const juce::ValueTree& getEntry(std::size_t i) const { return entries.at(i); }

private:
    std::vector<juce::ValueTree> entries;
    std::size_t index = 0;
};
} // namespace sorvane
