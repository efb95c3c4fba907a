#include "presets/FactoryVariationFunction.h"
#include "processor/ParameterState.h"
#include "workflow/Mutation.h"

#include <memory>

namespace sorvane
{
namespace
{
const juce::Identifier tresselVariantName{"tresselVariantName"};

struct FactoryVariationState
{
    std::vector<FactoryVariation> variations;
    std::vector<juce::RangedAudioParameter*> drift; // null where the layout lacks the id
    size_t calls = 0;
};

juce::ValueTree withVariation(const juce::ValueTree& baseline, const FactoryVariation& variation)
{
    auto tree = baseline.createCopy();
    for (const auto& entry : variation.overrides)
    {
        auto child = tree.getChildWithProperty(stateIds::id, entry.id);
        if (child.isValid())
            child.setProperty(stateIds::value, static_cast<double>(entry.value), nullptr);
    }
    tree.setProperty(tresselVariantName, variation.name, nullptr);
    return tree;
}

juce::ValueTree drifted(const juce::ValueTree& baseline,
                        const std::vector<juce::RangedAudioParameter*>& drift, std::uint32_t variantSeed,
                        float amount)
{
    auto tree = baseline.createCopy();
    WorkflowRandom random(variantSeed);
    for (auto* parameter : drift)
    {
        // Every id takes its draw even when it cannot move, so each id's draw is fixed by its position.
        const float r = random.nextUnit();
        if (parameter == nullptr)
            continue;

        const float v = snapshotNormalisedValue(tree, *parameter);
        setSnapshotNormalisedValue(tree, *parameter, v + amount * (2.0f * r - 1.0f) * factoryDriftWidth);
    }
    tree.removeProperty(tresselVariantName, nullptr);
    return tree;
}
} // namespace

TresselVariantFunction
makeFactoryVariationFunction(const FactoryPreset& preset,
                             const juce::Array<juce::AudioProcessorParameter*>& parameters)
{
    // Shared because the generator may copy the std::function; every copy must advance one counter.
    auto state = std::make_shared<FactoryVariationState>();
    state->variations = preset.variations;
    for (const juce::String id : factoryDriftIds)
        state->drift.push_back(findRangedParameter(parameters, id));

    return [state](const juce::ValueTree& baseline, std::uint32_t variantSeed, float intensity)
    {
        const auto k = state->calls++;
        if (k < state->variations.size())
            return withVariation(baseline, state->variations[k]);
        return drifted(baseline, state->drift, variantSeed, intensity);
    };
}
} // namespace sorvane
