#include "workflow/TresselGeneration.h"
#include "processor/ParameterState.h"
#include "transport/SourceAnalysis.h"
#include "workflow/Mutation.h"
#include "workflow/TresselPersonality.h"

namespace sorvane
{
juce::String describeTresselGeneration(const TresselGenerationResult& result, bool daily)
{
    const auto& profiles = getTresselPersonalityProfiles();
    juce::String text = daily ? "DAILY TRESSEL" : "TRESSEL";
    text << " / " << profiles[(size_t)juce::jlimit(0, 12, result.resolvedPersonality)].name
         << " / A ACTIVE / FOUR EXACT VARIANTS READY";

    if (result.selectorIndex == tresselAuto)
    {
        if (result.sourceAware)
            text << " / SOURCE-AWARE " << sourceFamilyLabel(result.sourceFamily);
        else
            text << " / BLIND FALLBACK (LOW CONFIDENCE)";
    }

    text << (result.reducedMotion ? " / INSTANT" : " / REVEALING ACTUAL CHOICES");
    return text;
}

juce::ValueTree composeRegenerationBaseline(const juce::ValueTree& sessionBaseline,
                                            const juce::ValueTree& captured,
                                            const juce::StringArray& effectiveLocks,
                                            const juce::Array<juce::AudioProcessorParameter*>& parameters)
{
    auto baseline = sessionBaseline.createCopy();
    baseline.setProperty(stateIds::macroLocks, captured.getProperty(stateIds::macroLocks), nullptr);

    for (const auto& id : effectiveLocks)
        if (auto* ranged = findRangedParameter(parameters, id))
            setSnapshotNormalisedValue(baseline, *ranged, snapshotNormalisedValue(captured, *ranged));

    for (const char* id : mutationExcludedIds)
    {
        const auto from = captured.getChildWithProperty(stateIds::id, id);
        auto to = baseline.getChildWithProperty(stateIds::id, id);
        if (from.isValid() && to.isValid() && from.hasProperty(stateIds::value))
            to.setProperty(stateIds::value, from.getProperty(stateIds::value), nullptr);
    }
    return baseline;
}
} // namespace sorvane
