#include "processor/ParameterState.h"

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
} // namespace sorvane
