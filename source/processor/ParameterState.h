#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <juce_data_structures/juce_data_structures.h>

namespace sorvane
{
namespace stateIds
{
inline const juce::Identifier stateType{"SORVANE_STATE"};
inline const juce::Identifier param{"PARAM"};
inline const juce::Identifier id{"id"};
inline const juce::Identifier value{"value"};
inline const juce::Identifier program{"program"};
inline const juce::Identifier macroLocks{"macroLocks"};
inline const juce::Identifier workflowGroupRestore{"workflowGroupRestore"};
inline const juce::Identifier workflowRestoreSeed{"workflowRestoreSeed"};
inline const juce::Identifier workflowRestoreVariant{"workflowRestoreVariant"};
} // namespace stateIds

constexpr int numFactoryPrograms = 37;

// Brings an older state tree up to date in place: trees saved before tempo-synced delay lack
// its two parameters.
void migrateWorkflowParameters(juce::ValueTree& tree);

// The deep copy that a snapshot application actually installs: migrated and without the
// transient group-restore markers.
juce::ValueTree prepareStateForApplication(const juce::ValueTree& tree);

// True when `value` reads as a number no float parameter can take: "nan", "inf", "-inf", "1e400"
// (which overflows to infinity) or anything else beyond the float range.
bool isNonFiniteNumber(const juce::var& value);

// Whether any PARAM child, at any depth of `tree`, carries a non-finite "value".
bool containsNonFiniteParameterValue(const juce::ValueTree& tree);

// Drops every non-finite "value" of a PARAM child, at any depth, so that the parameter takes its
// default as if the value were missing: a NaN would pass every range check and be saved again.
void removeNonFiniteParameterValues(juce::ValueTree& tree);

// A copy of `tree` without what belongs to this machine and user only, at any depth: the recent-preset
// list (paths of the user's own files) and a source's path and name. Presets, DNA and packages are
// shared; they carry the sound and nothing private.
juce::ValueTree withoutLocalProperties(const juce::ValueTree& tree);

// Installs `tree` as the parameter state and writes each parameter's own plain value into its
// child, in the order a fresh state lists them. The framework leaves a child's text alone when the
// parameter did not move, so without this a snapshot could carry values (or gaps) the parameters
// never took, and the same sound would have two digests. Non-finite values count as missing.
void replaceParameterState(juce::AudioProcessorValueTreeState& parameters, const juce::ValueTree& tree);

// The second half of that on any tree: every parameter's live value written into its children (a child
// added where none exists), the parameters' children first in identifier order. Applied to a copy of a
// tree that is about to be installed, it gives the tree the installation will leave.
void writeLiveParameterValues(juce::ValueTree& state, const juce::AudioProcessorValueTreeState& parameters);
} // namespace sorvane
