#pragma once

#include "workflow/TresselSession.h"

#include <mutex>

namespace sorvane
{
// Holds the one Tressel session. Autosave and exports read it from worker threads, so every operation
// copies in or out under the lock. Stored trees are never changed in place, only replaced, which keeps
// the copies handed out stable.
class TresselWorkflowController
{
public:
    // Builds a new session from `base` and replaces the stored one; the variant calls run outside the lock.
    TresselSessionSnapshot generate(const juce::ValueTree& base, std::uint32_t seed, int personality,
                                    float amount, bool reducedMotion,
                                    const TresselVariantFunction& variantFunction);

    // Auditions variant `index`: records it as selected and in the history and hands out a deep copy.
    bool select(int index, juce::ValueTree& out);

    // Marks the selected variant as kept with its digest as identity and hands out a deep copy of it.
    bool keep(juce::ValueTree& out);

    // A group restore edits the auditioned variant; only the session it was made from accepts it.
    bool replaceSelectedVariant(const juce::ValueTree& tree, juce::int64 restoreSeed, int restoreVariant);

    TresselSessionSnapshot getSnapshot() const;
    void restore(const TresselSessionSnapshot& snapshot);
    void clear();

private:
    mutable std::mutex mutex;
    TresselSessionSnapshot session;
};

// Intensity of a generation: the personality's own range, walked by the Sanity-to-Chaos amount.
float tresselIntensity(int resolvedPersonality, float chaosPercent) noexcept;

// Variant k's seed: offsets of 7919 per variant plus the personality's salt, in 32-bit arithmetic.
std::uint32_t tresselVariantSeed(std::uint32_t seed, int variant, std::uint32_t salt) noexcept;
} // namespace sorvane
