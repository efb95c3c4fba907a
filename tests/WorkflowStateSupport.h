#pragma once

#include "processor/SorvaneAudioProcessor.h"
#include "workflow/TresselSessionTree.h"

#include <gtest/gtest.h>

namespace sorvane::test
{
// Everything an import or a host restore may change, as text, so "nothing changed" is one
// comparison.
struct WorkflowState
{
    juce::String parameters, session;
    std::uint64_t locks = 0;
    std::uint32_t seed = 0;
    std::size_t historySize = 0, historyIndex = 0;
    bool dirty = false;

    static WorkflowState of(SorvaneAudioProcessor& processor)
    {
        WorkflowState state;
        state.parameters = processor.captureParameterSnapshot().toXmlString();
        state.session = sorvane::tresselSessionToTree(processor.getTresselSession()).toXmlString();
        state.locks = processor.lockWord.load();
        state.seed = processor.workflowSeed.load();
        state.historySize = processor.getMutationHistory().size();
        state.historyIndex = processor.getMutationHistory().getIndex();
        state.dirty = processor.projectDirty.load();
        return state;
    }

    void expectEqual(const WorkflowState& other) const
    {
        EXPECT_EQ(parameters, other.parameters);
        EXPECT_EQ(session, other.session);
        EXPECT_EQ(locks, other.locks);
        EXPECT_EQ(seed, other.seed);
        EXPECT_EQ(historySize, other.historySize);
        EXPECT_EQ(historyIndex, other.historyIndex);
        EXPECT_EQ(dirty, other.dirty);
    }
};
} // namespace sorvane::test
