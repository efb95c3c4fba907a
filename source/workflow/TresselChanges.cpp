#include "workflow/TresselChanges.h"

#include "processor/ParameterLayout.h"
#include "processor/ParameterState.h"
#include "workflow/Mutation.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace sorvane
{
namespace
{
struct Section
{
    const char* title;
    std::vector<juce::String> ids;
};

// Each section lists its parameters in bit order, which is also the tie-break order of its lines.
std::vector<Section> makeSections()
{
    const juce::StringArray tone{"drive",   "crush",    "reduce", "ring", "ringFreq", "resonance",
                                 "resFreq", "resDecay", "tone",   "fold", "spark"};
    const juce::StringArray rhythm{"glitch", "division", "reverse", "spectralWave", "spectralRate", "chaos"};
    const juce::StringArray space{"delay", "delayTime", "feedback", "dimension"};

    std::vector<Section> sections{{"TONE", {}}, {"RHYTHM", {}}, {"SPACE", {}}};
    for (const auto* id : detailedIds)
    {
        if (tone.contains(id))
            sections[0].ids.emplace_back(id);
        else if (rhythm.contains(id))
            sections[1].ids.emplace_back(id);
        else if (space.contains(id))
            sections[2].ids.emplace_back(id);
    }
    return sections;
}

double storedValue(const juce::ValueTree& state, const juce::String& id)
{
    const auto child = state.getChildWithProperty(stateIds::id, id);
    return child.isValid() ? (double)child.getProperty(stateIds::value, 0.0) : 0.0;
}

struct Change
{
    double distance;
    juce::String line;
};
} // namespace

juce::String describeTresselChanges(const juce::ValueTree& baseline, const juce::ValueTree& current,
                                    const juce::Array<juce::AudioProcessorParameter*>& parameters)
{
    if (!baseline.isValid())
        return "Generate a TRESSEL result to compare it with Before.";

    static const auto sections = makeSections();
    constexpr std::size_t linesPerSection = 4;

    juce::String text;
    for (const auto& section : sections)
    {
        std::vector<Change> changes;
        for (const auto& id : section.ids)
        {
            const auto* parameter = findRangedParameter(parameters, id);
            if (parameter == nullptr)
                continue;

            const auto before = storedValue(baseline, id);
            const auto after = storedValue(current, id);
            const auto distance = std::abs((double)parameter->convertTo0to1((float)after) -
                                           (double)parameter->convertTo0to1((float)before));
            if (distance > 1.0e-6)
                changes.push_back({distance, id + ": " + juce::String(before, 2) + " -> " +
                                                 juce::String(after, 2) + " (" +
                                                 juce::String(distance * 100.0, 1) + "% of range)"});
        }

        std::stable_sort(changes.begin(), changes.end(),
                         [](const Change& a, const Change& b) { return a.distance > b.distance; });

        text << section.title << "\n";
        if (changes.empty())
            text << "No control changes.\n";
        for (std::size_t i = 0; i < std::min(linesPerSection, changes.size()); ++i)
            text << changes[i].line << "\n";
        text << "\n";
    }
    return text;
}
} // namespace sorvane
