#include "processor/ParameterState.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace sorvane
{
namespace
{
void addParamIfMissing(juce::ValueTree& tree, const char* id, double value)
{
    for (const auto& child : tree)
        if (child.getProperty(stateIds::id).toString() == id)
            return;

    juce::ValueTree child(stateIds::param);
    child.setProperty(stateIds::id, id, nullptr);
    child.setProperty(stateIds::value, value, nullptr);
    tree.appendChild(child, nullptr);
}
} // namespace

bool isNonFiniteNumber(const juce::var& value)
{
    if (!value.isDouble() && !value.isString())
        return false;
    // Parameters hold floats: a double beyond them would turn into infinity (or undefined behaviour)
    // on the way in.
    const auto number = value.isDouble() ? (double)value : value.toString().getDoubleValue();
    return !std::isfinite(number) || std::abs(number) > (double)std::numeric_limits<float>::max();
}

bool containsNonFiniteParameterValue(const juce::ValueTree& tree)
{
    if (tree.hasType(stateIds::param) && isNonFiniteNumber(tree.getProperty(stateIds::value)))
        return true;
    for (const auto& child : tree)
        if (containsNonFiniteParameterValue(child))
            return true;
    return false;
}

void removeNonFiniteParameterValues(juce::ValueTree& tree)
{
    if (tree.hasType(stateIds::param) && isNonFiniteNumber(tree.getProperty(stateIds::value)))
        tree.removeProperty(stateIds::value, nullptr);
    for (auto child : tree)
        removeNonFiniteParameterValues(child);
}

namespace
{
void removeLocalProperties(juce::ValueTree& tree)
{
    for (const auto* id : {"recentPresetHistory", "samplePath", "sampleName"})
        tree.removeProperty(id, nullptr);
    for (auto child : tree)
        removeLocalProperties(child);
}
} // namespace

juce::ValueTree withoutLocalProperties(const juce::ValueTree& tree)
{
    auto copy = tree.createCopy();
    if (copy.isValid())
        removeLocalProperties(copy);
    return copy;
}

void migrateWorkflowParameters(juce::ValueTree& tree)
{
    if (!tree.isValid())
        return;

    addParamIfMissing(tree, "delaySync", 0.0);
    addParamIfMissing(tree, "standaloneTempo", 120.0);
}

juce::ValueTree prepareStateForApplication(const juce::ValueTree& tree)
{
    auto copy = tree.createCopy();
    migrateWorkflowParameters(copy);
    copy.removeProperty(stateIds::workflowGroupRestore, nullptr);
    copy.removeProperty(stateIds::workflowRestoreSeed, nullptr);
    copy.removeProperty(stateIds::workflowRestoreVariant, nullptr);
    return copy;
}

void replaceParameterState(juce::AudioProcessorValueTreeState& parameters, const juce::ValueTree& tree)
{
    auto installed = tree; // the same tree: the caller sees the values written back
    for (auto child : installed)
        if (child.hasType(stateIds::param) && isNonFiniteNumber(child.getProperty(stateIds::value)))
            child.removeProperty(stateIds::value, nullptr);
    parameters.replaceState(installed);
    writeLiveParameterValues(parameters.state, parameters);
}

void writeLiveParameterValues(juce::ValueTree& state, const juce::AudioProcessorValueTreeState& parameters)
{
    // A fresh state lists the parameters sorted by identifier; a restored one must read the same.
    std::vector<juce::String> ids;
    for (auto* p : parameters.processor.getParameters())
        if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*>(p))
            ids.push_back(ranged->paramID);
    std::sort(ids.begin(), ids.end(), [](const auto& a, const auto& b) { return a.compare(b) < 0; });

    int position = 0;
    for (const auto& id : ids)
    {
        const auto* live = parameters.getRawParameterValue(id);
        if (live == nullptr)
            continue;

        // Exactly what the framework's own flush writes: the float value as a double.
        const juce::var value(live->load());
        int first = -1;
        for (int i = 0; i < state.getNumChildren(); ++i)
        {
            auto child = state.getChild(i);
            if (!child.hasType(stateIds::param) || child.getProperty(stateIds::id).toString() != id)
                continue;
            child.setProperty(stateIds::value, value, nullptr);
            if (first < 0)
                first = i;
        }
        if (first < 0)
        {
            // As the framework adds a child for a parameter the installed tree lacked.
            juce::ValueTree child(stateIds::param);
            child.setProperty(stateIds::id, id, nullptr);
            child.setProperty(stateIds::value, value, nullptr);
            state.appendChild(child, nullptr);
            first = state.getNumChildren() - 1;
        }
        state.moveChild(first, position++, nullptr);
    }
}
} // namespace sorvane
