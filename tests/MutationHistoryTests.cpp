#include "workflow/MutationHistory.h"

#include <gtest/gtest.h>

using sorvane::MutationHistory;

namespace
{
juce::ValueTree sound(int n)
{
    juce::ValueTree tree("SORVANE_STATE");
    juce::ValueTree child("PARAM");
    child.setProperty("id", "drive", nullptr);
    child.setProperty("value", (double)n, nullptr);
    tree.appendChild(child, nullptr);
    return tree;
}

int numberOf(const juce::ValueTree& tree)
{
    return (int)tree.getChildWithProperty("id", "drive")["value"];
}
} // namespace

TEST(MutationHistory, IgnoresInvalidTrees)
{
    MutationHistory history;
    history.push({});
    EXPECT_EQ(history.size(), 0u);
    EXPECT_FALSE(history.stepBack().isValid());
    EXPECT_FALSE(history.stepForward().isValid());

    history.push(sound(1));
    history.push({});
    EXPECT_EQ(history.size(), 1u);
    EXPECT_EQ(history.getIndex(), 0u);
}

TEST(MutationHistory, KeepsItsOwnCopies)
{
    MutationHistory history;
    auto tree = sound(3);
    history.push(tree);
    tree.getChild(0).setProperty("value", 99.0, nullptr);
    EXPECT_EQ(numberOf(history.getEntry(0)), 3);
}

TEST(MutationHistory, TheSixtyFifthEntryDropsTheOldest)
{
    MutationHistory history;
    for (int n = 0; n <= (int)MutationHistory::maxEntries; ++n)
        history.push(sound(n));

    ASSERT_EQ(history.size(), 64u);
    EXPECT_EQ(history.getIndex(), 63u);
    EXPECT_EQ(numberOf(history.getEntry(0)), 1);
    EXPECT_EQ(numberOf(history.getEntry(63)), 64);
}

TEST(MutationHistory, StepsFollowTheIndexAndStopAtTheEnds)
{
    MutationHistory history;
    for (int n = 0; n < 4; ++n)
        history.push(sound(n));

    for (int expected : {2, 1, 0})
    {
        const auto entry = history.stepBack();
        ASSERT_TRUE(entry.isValid());
        EXPECT_EQ(numberOf(entry), expected);
        EXPECT_EQ(history.getIndex(), (size_t)expected);
    }
    EXPECT_FALSE(history.stepBack().isValid());
    EXPECT_EQ(history.getIndex(), 0u);

    for (int expected : {1, 2, 3})
        EXPECT_EQ(numberOf(history.stepForward()), expected);
    EXPECT_FALSE(history.stepForward().isValid());
    EXPECT_EQ(history.getIndex(), 3u);
}

TEST(MutationHistory, PushingAfterUndoDiscardsTheRedoBranch)
{
    struct Case
    {
        int pushed;
        int undos;
    };
    const Case cases[] = {{6, 3}, {6, 5}, {2, 1}, {64, 63}};
    for (const auto& c : cases)
    {
        MutationHistory history;
        for (int n = 0; n < c.pushed; ++n)
            history.push(sound(n));
        for (int i = 0; i < c.undos; ++i)
            history.stepBack();

        history.push(sound(1000));
        const auto kept = (size_t)(c.pushed - c.undos);
        ASSERT_EQ(history.size(), kept + 1) << c.pushed << "/" << c.undos;
        EXPECT_EQ(history.getIndex(), kept);
        for (size_t i = 0; i < kept; ++i)
            EXPECT_EQ(numberOf(history.getEntry(i)), (int)i);
        EXPECT_EQ(numberOf(history.getEntry(kept)), 1000);
        EXPECT_FALSE(history.stepForward().isValid());
    }
}

TEST(MutationHistory, ClearEmptiesAndResetsTheIndex)
{
    MutationHistory history;
    for (int n = 0; n < 5; ++n)
        history.push(sound(n));
    history.clear();
    EXPECT_EQ(history.size(), 0u);
    EXPECT_EQ(history.getIndex(), 0u);
    history.push(sound(8));
    EXPECT_EQ(history.getIndex(), 0u);
    EXPECT_EQ(numberOf(history.getEntry(0)), 8);
}
