#include "workflow/TresselVariants.h"
#include "processor/ParameterState.h"
#include "workflow/Mutation.h"
#include "workflow/TresselPersonality.h"

#include <cmath>

namespace sorvane
{
namespace
{
const juce::Identifier tresselVariantName{"tresselVariantName"};

struct ShapeStep
{
    const char* id;
    float value;
    bool scaled;
};

// Every shape starts from the same quiet, neutral sound, so personalities differ only by their targets.
const ShapeStep neutralStart[] = {{"drive", 0, true},        {"crush", 0, true},
                                  {"ring", 0, true},         {"resonance", 0, true},
                                  {"glitch", 0, true},       {"reverse", 0, true},
                                  {"delay", 0, true},        {"spectralWave", 0, true},
                                  {"dimension", 0, true},    {"fold", 0, true},
                                  {"spark", 0, true},        {"chaos", 0, true},
                                  {"reduce", 1, false},      {"tone", 14500, false},
                                  {"feedback", 30, true},    {"resDecay", 50, true},
                                  {"resFreq", 440, false},   {"ringFreq", 220, false},
                                  {"delayTime", 240, false}, {"spectralRate", 0.4f, false},
                                  {"division", 2, false}};

const std::vector<ShapeStep>& targetsFor(int personality)
{
    static const std::vector<ShapeStep> none;
    static const std::vector<ShapeStep> targets[10] = {
        {{"crush", 76, true}, {"reduce", 7, false}, {"glitch", 78, true}, {"reverse", 30, true}},
        {{"ring", 88, true},
         {"ringFreq", 110, false},
         {"glitch", 48, true},
         {"division", 3, false},
         {"spectralWave", 40, true},
         {"spectralRate", 4, false}},
        {{"resonance", 75, true},
         {"resDecay", 88, true},
         {"delay", 78, true},
         {"delayTime", 360, false},
         {"feedback", 68, true},
         {"dimension", 88, true}},
        {{"drive", 75, true},
         {"fold", 45, true},
         {"tone", 1800, false},
         {"spectralWave", 90, true},
         {"spectralRate", 0.18f, false}},
        {{"reverse", 90, true},
         {"glitch", 65, true},
         {"division", 0, false},
         {"delay", 90, true},
         {"delayTime", 620, false},
         {"feedback", 78, true},
         {"dimension", 65, true},
         {"tone", 2600, false}},
        {{"glitch", 98, true},
         {"division", 5, false},
         {"spark", 72, true},
         {"chaos", 95, true},
         {"reverse", 48, true}},
        {{"ring", 62, true},
         {"ringFreq", 1320, false},
         {"resonance", 80, true},
         {"resFreq", 1760, false},
         {"spark", 75, true},
         {"resDecay", 70, true}},
        {{"delay", 88, true},
         {"delayTime", 75, false},
         {"spectralWave", 80, true},
         {"spectralRate", 2.3f, false},
         {"dimension", 95, true},
         {"chaos", 85, true}},
        {{"crush", 95, true},
         {"reduce", 13, false},
         {"glitch", 42, true},
         {"fold", 90, true},
         {"spark", 60, true}},
        {{"drive", 98, true},
         {"reduce", 24, false},
         {"glitch", 95, true},
         {"reverse", 85, true},
         {"fold", 98, true},
         {"delay", 65, true},
         {"feedback", 80, true}}};

    if (personality < 1 || personality > 10)
        return none;
    return targets[personality - 1];
}

class VariantBuilder
{
public:
    VariantBuilder(int selector, int resolved, const juce::StringArray& lockedIds,
                   const juce::Array<juce::AudioProcessorParameter*>& parameterList)
        : selectorIndex(selector), resolvedPersonality(resolved), locks(lockedIds), parameters(parameterList)
    {
    }

    juce::ValueTree operator()(const juce::ValueTree& baseline, std::uint32_t variantSeed, float h) const
    {
        if (selectorIndex == tresselUnknown)
            return unknown(baseline, variantSeed, h);
        if (selectorIndex == tresselEnhance)
            return enhance(baseline, variantSeed, h);
        return shape(baseline, variantSeed, h);
    }

private:
    juce::RangedAudioParameter* find(const juce::String& id) const
    {
        return findRangedParameter(parameters, id);
    }

    static bool bit46(std::uint64_t state) noexcept { return ((state >> 46) & 1u) != 0; }

    juce::ValueTree unknown(const juce::ValueTree& baseline, std::uint32_t variantSeed, float h) const
    {
        auto result = Mutation(parameters).makeMutatedSnapshot(baseline, variantSeed, h, locks);

        WorkflowRandom random(variantSeed ^ 0xA53C9E17u);
        const auto& profile =
            getTresselPersonalityProfiles()[(size_t)juce::jlimit(0, 12, resolvedPersonality)];
        for (const auto& id : profile.focusIds)
        {
            auto* p = find(id);
            if (locks.contains(id) || p == nullptr)
                continue;

            const float v = snapshotNormalisedValue(result, *p);
            random.advance();
            const bool up = bit46(random.getState());
            random.advance();
            const float r = WorkflowRandom::unitFromState(random.getState());
            setSnapshotNormalisedValue(result, *p, v + (up ? h : -h) * (0.08f + 0.18f * r));
        }

        // Wild variants still must not run away in feedback or level.
        capAt(result, "feedback", 0.92f);
        capAt(result, "output", 0.625f);
        return result;
    }

    void capAt(juce::ValueTree& tree, const juce::String& id, float cap) const
    {
        auto* p = find(id);
        if (p == nullptr || locks.contains(id))
            return;
        if (snapshotNormalisedValue(tree, *p) > cap)
            setSnapshotNormalisedValue(tree, *p, cap);
    }

    juce::ValueTree enhance(const juce::ValueTree& baseline, std::uint32_t variantSeed, float h) const
    {
        auto result = baseline.createCopy();
        if (!std::isfinite(h) || h < 0.0f || std::min(h, 1.0f) == 0.0f)
            return result; // 0 % recalls the exact baseline

        const float v = std::min(h, 1.0f);
        WorkflowRandom random(variantSeed);
        for (const char* id : {"drive", "tone", "dimension", "spectralWave", "delay"})
        {
            auto* p = find(id);
            auto child = result.getChildWithProperty(stateIds::id, id);
            if (locks.contains(id) || p == nullptr || !child.isValid())
                continue;

            const float normalised = p->convertTo0to1((float)(double)child.getProperty(stateIds::value));
            const float r = random.nextUnit();
            random.advance();
            const float sign = bit46(random.getState()) ? 1.0f : -1.0f;
            const float next = juce::jlimit(0.0f, 1.0f, normalised + sign * v * (0.25f + 0.75f * r) * 0.08f);
            child.setProperty(stateIds::value, (double)p->convertFrom0to1(next), nullptr);
        }

        result.setProperty(tresselVariantName, "Enhance", nullptr);
        return result;
    }

    juce::ValueTree shape(const juce::ValueTree& baseline, std::uint32_t variantSeed, float h) const
    {
        auto result = baseline.createCopy();
        const float g = 0.6f * h + 0.4f;
        WorkflowRandom random(variantSeed);

        const auto apply = [&](const ShapeStep& step)
        {
            auto* p = find(step.id);
            if (p == nullptr || locks.contains(step.id))
                return;

            float x = step.value;
            if (step.scaled)
                x = x * g * (0.9f + 0.2f * random.nextUnit());

            const float clamped = p->convertFrom0to1(juce::jlimit(0.0f, 1.0f, p->convertTo0to1(x)));
            auto child = result.getChildWithProperty(stateIds::id, step.id);
            if (child.isValid())
                child.setProperty(stateIds::value, (double)clamped, nullptr);
        };

        for (const auto& step : neutralStart)
            apply(step);
        for (const auto& step : targetsFor(resolvedPersonality))
            apply(step);

        result.removeProperty(tresselVariantName, nullptr);
        return result;
    }

    int selectorIndex;
    int resolvedPersonality;
    juce::StringArray locks;
    juce::Array<juce::AudioProcessorParameter*> parameters;
};
} // namespace

TresselVariantFunction
makeTresselVariantFunction(int selectorIndex, int resolvedPersonality, const juce::StringArray& locks,
                           const juce::Array<juce::AudioProcessorParameter*>& parameters)
{
    return VariantBuilder(juce::jlimit(0, 12, selectorIndex), resolvedPersonality, locks, parameters);
}
} // namespace sorvane
