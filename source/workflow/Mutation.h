#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <cstdint>

namespace sorvane
{
// The workflow random source: a 64-bit linear congruential state started from the bare seed, so a
// seed typed by the user always reproduces the same draws.
class WorkflowRandom
{
public:
    static constexpr std::uint64_t multiplier = 0x5DEECE66Dull;
    static constexpr std::uint64_t increment = 0xBull;

    explicit WorkflowRandom(std::uint32_t seed) noexcept : state(seed) {}

    void advance() noexcept { state = state * multiplier + increment; }

    // One draw in [0, 1).
    float nextUnit() noexcept
    {
        advance();
        return unitFromState(state);
    }

    // One draw picking an index in [0, count).
    int nextIndex(int count) noexcept
    {
        advance();
        return indexFromState(state, count);
    }

    std::uint64_t getState() const noexcept { return state; }

    // Bits 16..47 over 2^32 as a float; rounding to float can reach 1, hence the cap below it.
    static float unitFromState(std::uint64_t s) noexcept;
    static int indexFromState(std::uint64_t s, int count) noexcept;

private:
    std::uint64_t state;
};

// Jump targets, tried in this order.
inline constexpr const char* mutationJumpIds[] = {"glitch", "resonance",    "ring", "crush",
                                                  "delay",  "spectralWave", "chaos"};

// Levels, macros and tempo: mutation never moves them, locked or not.
inline constexpr const char* mutationExcludedIds[] = {
    "input",          "mix",         "output",        "autoLevel",  "audioQuality", "matchSourceLevel",
    "resultLevel",    "macroDamage", "macroFracture", "macroSpace", "macroMotion",  "delaySync",
    "standaloneTempo"};

// The ranged parameter with this id, or null.
juce::RangedAudioParameter* findRangedParameter(const juce::Array<juce::AudioProcessorParameter*>& parameters,
                                                const juce::String& id) noexcept;

// A parameter's value in a state tree, normalised with its range; its default when the tree lacks it.
float snapshotNormalisedValue(const juce::ValueTree& tree, const juce::RangedAudioParameter& parameter);

// Stores a normalised value (clamped, converted and snapped) as the plain "value"; a tree without the
// parameter's child is left as it is.
void setSnapshotNormalisedValue(juce::ValueTree& tree, const juce::RangedAudioParameter& parameter,
                                float normalised);

// What one mutation did besides its tree, so callers and tests can see how the draws were spent.
struct MutationOutcome
{
    juce::ValueTree tree;
    int walkDraws = 0;
    int jumpAttempts = 0;
    int jumpsMade = 0;
    float jumpSize = 0.0f;
};

// Seeded random walk plus a few larger jumps over the character parameters of one layout.
class Mutation
{
public:
    // The parameters in layout order; the walk visits them in exactly this order.
    explicit Mutation(const juce::Array<juce::AudioProcessorParameter*>& parametersInLayoutOrder);

    MutationOutcome mutate(const juce::ValueTree& base, std::uint32_t seed, float strength,
                           const juce::StringArray& locks) const;

    juce::ValueTree makeMutatedSnapshot(const juce::ValueTree& base, std::uint32_t seed, float strength,
                                        const juce::StringArray& locks) const
    {
        return mutate(base, seed, strength, locks).tree;
    }

    // Walk step width per unit of strength, in normalised units.
    static float walkWidth(const juce::String& id) noexcept;
    static bool isExcluded(const juce::String& id) noexcept;
    static int jumpCountFor(float clampedStrength) noexcept;
    static float jumpSizeFor(float clampedStrength) noexcept;

    // Ids that must not change: the lock word's individual, group and focus locks in bit order, then
    // the control locks, without duplicates.
    static juce::StringArray effectiveLocks(std::uint64_t lockWord, const juce::StringArray& controlLocks);

    // The lock word with its individual bits replaced by those of the given ids; higher bits kept.
    static std::uint64_t withIndividualLocks(std::uint64_t lockWord, const juce::StringArray& ids) noexcept;

private:
    juce::RangedAudioParameter* find(const juce::String& id) const noexcept;

    juce::Array<juce::RangedAudioParameter*> ranged;
};
} // namespace sorvane
