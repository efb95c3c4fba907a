#include "workflow/Mutation.h"
#include "processor/LockWord.h"
#include "processor/ParameterLayout.h"
#include "processor/ParameterState.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace sorvane
{
namespace
{
const juce::Identifier tresselVariantName{"tresselVariantName"};

juce::ValueTree childFor(const juce::ValueTree& tree, const juce::RangedAudioParameter& parameter)
{
    return tree.getChildWithProperty(stateIds::id, parameter.getParameterID());
}
} // namespace

float WorkflowRandom::unitFromState(std::uint64_t s) noexcept
{
    constexpr float cap = 1.0f - std::numeric_limits<float>::epsilon();
    const auto bits = static_cast<std::uint32_t>(s >> 16);
    return std::min(static_cast<float>(bits) / 4294967296.0f, cap);
}

int WorkflowRandom::indexFromState(std::uint64_t s, int count) noexcept
{
    const auto bits = static_cast<std::uint64_t>(static_cast<std::uint32_t>(s >> 16));
    return static_cast<int>((bits * static_cast<std::uint64_t>(count)) >> 32);
}

//======================================================================================================
juce::RangedAudioParameter* findRangedParameter(const juce::Array<juce::AudioProcessorParameter*>& parameters,
                                                const juce::String& id) noexcept
{
    for (auto* p : parameters)
        if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*>(p);
            ranged != nullptr && ranged->getParameterID() == id)
            return ranged;
    return nullptr;
}

float snapshotNormalisedValue(const juce::ValueTree& tree, const juce::RangedAudioParameter& parameter)
{
    const auto child = childFor(tree, parameter);
    const float plainValue = child.hasProperty(stateIds::value)
                                 ? static_cast<float>(static_cast<double>(child.getProperty(stateIds::value)))
                                 : parameter.convertFrom0to1(parameter.getDefaultValue());
    return parameter.convertTo0to1(plainValue);
}

void setSnapshotNormalisedValue(juce::ValueTree& tree, const juce::RangedAudioParameter& parameter,
                                float normalised)
{
    auto child = childFor(tree, parameter);
    if (!child.isValid())
        return;

    const float plainValue = parameter.convertFrom0to1(juce::jlimit(0.0f, 1.0f, normalised));
    child.setProperty(stateIds::value, static_cast<double>(plainValue), nullptr);
}

//======================================================================================================
Mutation::Mutation(const juce::Array<juce::AudioProcessorParameter*>& parametersInLayoutOrder)
{
    for (auto* p : parametersInLayoutOrder)
        if (auto* r = dynamic_cast<juce::RangedAudioParameter*>(p))
            ranged.add(r);
}

juce::RangedAudioParameter* Mutation::find(const juce::String& id) const noexcept
{
    for (auto* p : ranged)
        if (p->getParameterID() == id)
            return p;
    return nullptr;
}

float Mutation::walkWidth(const juce::String& id) noexcept
{
    if (id == "reduce" || id == "division")
        return 0.18f;
    if (id == "ringFreq" || id == "resFreq" || id == "delayTime" || id == "tone" || id == "spectralRate")
        return 0.22f;
    return 0.26f;
}

bool Mutation::isExcluded(const juce::String& id) noexcept
{
    return std::any_of(std::begin(mutationExcludedIds), std::end(mutationExcludedIds),
                       [&id](const char* excluded) { return id == excluded; });
}

int Mutation::jumpCountFor(float s) noexcept
{
    return s >= 0.55f ? 3 : (s >= 0.25f ? 2 : 1);
}

float Mutation::jumpSizeFor(float s) noexcept
{
    return s * (0.2f + 0.45f * s);
}

MutationOutcome Mutation::mutate(const juce::ValueTree& base, std::uint32_t seed, float strength,
                                 const juce::StringArray& locks) const
{
    MutationOutcome outcome;
    outcome.tree = base.createCopy();
    auto& tree = outcome.tree;

    // NaN counts as no strength rather than poisoning every value.
    const float s = std::isnan(strength) ? 0.0f : juce::jlimit(0.0f, 1.0f, strength);
    WorkflowRandom random(seed);

    for (auto* p : ranged)
    {
        const auto id = p->getParameterID();
        if (isExcluded(id) || locks.contains(id))
            continue;

        const float w = s * walkWidth(id);
        const float v = snapshotNormalisedValue(tree, *p);
        const float r = random.nextUnit();
        ++outcome.walkDraws;
        setSnapshotNormalisedValue(tree, *p, v + (2.0f * r - 1.0f) * w);
    }

    const int count = jumpCountFor(s);
    outcome.jumpSize = jumpSizeFor(s);
    constexpr int maxAttempts = 16;
    constexpr int numJumpIds = static_cast<int>(std::size(mutationJumpIds));
    while (outcome.jumpAttempts < maxAttempts && outcome.jumpsMade < count)
    {
        ++outcome.jumpAttempts;
        const juce::String id = mutationJumpIds[random.nextIndex(numJumpIds)];
        auto* p = find(id);
        if (p == nullptr || locks.contains(id))
            continue;

        const float v = snapshotNormalisedValue(tree, *p);
        const float r = random.nextUnit();
        setSnapshotNormalisedValue(tree, *p, r < 0.5f ? v - outcome.jumpSize : v + outcome.jumpSize);
        ++outcome.jumpsMade;
    }

    tree.removeProperty(tresselVariantName, nullptr);
    return outcome;
}

//======================================================================================================
juce::StringArray Mutation::effectiveLocks(std::uint64_t lockWord, const juce::StringArray& controlLocks)
{
    const auto mask = effectiveLockMask(lockWord);

    juce::StringArray ids;
    for (int bit = 0; bit < numDetailedParameters; ++bit)
        if ((mask >> bit) & 1u)
            ids.addIfNotAlreadyThere(detailedIds[bit]);

    for (const auto& id : controlLocks)
        ids.addIfNotAlreadyThere(id);

    return ids;
}

std::uint64_t Mutation::withIndividualLocks(std::uint64_t lockWord, const juce::StringArray& ids) noexcept
{
    auto word = lockWord & ~lockword::individualMask;
    for (const auto& id : ids)
        word |= lockBitForParameterId(id.toRawUTF8());
    return word;
}
} // namespace sorvane
