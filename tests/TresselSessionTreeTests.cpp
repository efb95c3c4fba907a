#include "TresselTestSupport.h"

#include "workflow/StableHash.h"
#include "workflow/TresselSessionTree.h"

#include <gtest/gtest.h>

#include <cmath>

#include <functional>
#include <limits>
#include <vector>

using sorvane::treeXmlText;
using sorvane::tresselSessionFromTree;
using sorvane::TresselSessionSnapshot;
using sorvane::tresselSessionToTree;
using sorvane::test::makeCompleteSession;
using sorvane::test::makeTaggedState;
using sorvane::test::tagOf;

namespace
{
const juce::String damagedMessage = "The TRESSEL session payload belongs to another product or is damaged.";
const juce::String schemaMessage = "This TRESSEL session schema is not supported by this Sorvane version.";
const juce::String incompleteMessage =
    "The TRESSEL session does not contain an exact baseline and four variants.";

juce::ValueTree stateChild(const juce::String& role, const juce::var& index, const juce::ValueTree& state)
{
    juce::ValueTree child{"TRESSEL_STATE"};
    child.setProperty("role", role, nullptr);
    if (!index.isVoid())
        child.setProperty("index", index, nullptr);
    child.appendChild(state, nullptr);
    return child;
}

// A complete tree written by hand, so the reader is tested independently of the writer.
juce::ValueTree handWrittenTree()
{
    juce::ValueTree tree{"SORVANE_TRESSEL_SESSION"};
    tree.setProperty("schemaVersion", 2, nullptr);
    tree.appendChild(stateChild("baseline", -1, makeTaggedState(1)), nullptr);
    for (int i = 0; i < 4; ++i)
        tree.appendChild(stateChild("variant", i, makeTaggedState(10 + i)), nullptr);
    return tree;
}

// A session filled with values no reader would produce by default, to prove failures leave it be.
TresselSessionSnapshot sentinelSession()
{
    auto session = makeCompleteSession(2);
    session.dnaId = "sentinel";
    session.personality = 11;
    return session;
}

juce::String xmlOf(const TresselSessionSnapshot& session)
{
    return treeXmlText(tresselSessionToTree(session));
}

struct ChildEntry
{
    juce::String role;
    int index;
    int tag;
};

std::vector<ChildEntry> childEntries(const juce::ValueTree& tree)
{
    std::vector<ChildEntry> entries;
    for (const auto& child : tree)
    {
        EXPECT_EQ(child.getType().toString(), "TRESSEL_STATE");
        EXPECT_EQ(child.getNumChildren(), 1);
        entries.push_back({child["role"].toString(), (int)child["index"], tagOf(child.getChild(0))});
    }
    return entries;
}
} // namespace

TEST(TresselSessionTree, PropertiesInOrderWithTheirKinds)
{
    const auto session = makeCompleteSession();
    const auto tree = tresselSessionToTree(session);

    EXPECT_EQ(tree.getType().toString(), "SORVANE_TRESSEL_SESSION");
    const std::vector<juce::String> names{"schemaVersion", "personality",     "chaosPercent",
                                          "seed",          "selectedVariant", "keptVariant",
                                          "reducedMotion", "dnaId",           "parentDnaId"};
    ASSERT_EQ(tree.getNumProperties(), (int)names.size());
    for (int i = 0; i < (int)names.size(); ++i)
        EXPECT_EQ(tree.getPropertyName(i).toString(), names[(size_t)i]);

    EXPECT_TRUE(tree["schemaVersion"].isInt());
    EXPECT_EQ((int)tree["schemaVersion"], 2);
    EXPECT_TRUE(tree["personality"].isInt());
    EXPECT_EQ((int)tree["personality"], 7);
    EXPECT_TRUE(tree["chaosPercent"].isDouble());
    EXPECT_DOUBLE_EQ((double)tree["chaosPercent"], 62.5);
    EXPECT_TRUE(tree["seed"].isInt64());
    EXPECT_EQ((juce::int64)tree["seed"], (juce::int64)0xDEADBEEFu);
    EXPECT_TRUE(tree["selectedVariant"].isInt());
    EXPECT_EQ((int)tree["selectedVariant"], 2);
    EXPECT_TRUE(tree["keptVariant"].isInt());
    EXPECT_EQ((int)tree["keptVariant"], 1);
    EXPECT_TRUE(tree["reducedMotion"].isBool());
    EXPECT_TRUE((bool)tree["reducedMotion"]);
    EXPECT_TRUE(tree["dnaId"].isString());
    EXPECT_EQ(tree["dnaId"].toString(), "0123456789abcdef");
    EXPECT_TRUE(tree["parentDnaId"].isString());
    EXPECT_EQ(tree["parentDnaId"].toString(), "fedcba9876543210");
}

TEST(TresselSessionTree, ChildrenInOrderAsDeepCopies)
{
    const auto session = makeCompleteSession(3);
    const auto tree = tresselSessionToTree(session);

    const auto entries = childEntries(tree);
    const std::vector<ChildEntry> expected{{"baseline", -1, 100}, {"variant", 0, 200}, {"variant", 1, 201},
                                           {"variant", 2, 202},   {"variant", 3, 203}, {"history", 0, 300},
                                           {"history", 1, 301},   {"history", 2, 302}};
    ASSERT_EQ(entries.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
    {
        EXPECT_EQ(entries[i].role, expected[i].role) << i;
        EXPECT_EQ(entries[i].index, expected[i].index) << i;
        EXPECT_EQ(entries[i].tag, expected[i].tag) << i;
    }

    for (const auto& child : tree)
        EXPECT_EQ(child.getPropertyName(0).toString() + "," + child.getPropertyName(1).toString(),
                  "role,index");

    // Editing the written tree must not reach back into the session.
    auto writtenBaseline = tree.getChild(0).getChild(0);
    EXPECT_TRUE(writtenBaseline.isEquivalentTo(session.baseline));
    writtenBaseline.setProperty("program", 36, nullptr);
    EXPECT_NE((int)session.baseline["program"], 36);
}

TEST(TresselSessionTree, RoundTripIsExactAndRepeatable)
{
    for (int historyEntries : {0, 1, 16})
    {
        SCOPED_TRACE(historyEntries);
        const auto session = makeCompleteSession(historyEntries);
        const auto first = xmlOf(session);
        EXPECT_EQ(xmlOf(session), first);

        TresselSessionSnapshot read;
        juce::String error = "stale";
        ASSERT_TRUE(tresselSessionFromTree(tresselSessionToTree(session), read, error));
        EXPECT_TRUE(error.isEmpty());
        EXPECT_EQ(xmlOf(read), first);

        // Through XML text every property comes back as text; the reader must still get it all.
        TresselSessionSnapshot viaText;
        const auto parsed = juce::ValueTree::fromXml(first);
        ASSERT_TRUE(tresselSessionFromTree(parsed, viaText, error)) << error;
        EXPECT_EQ(xmlOf(viaText), first);
        EXPECT_EQ(viaText.seed, 0xDEADBEEFu);
        EXPECT_EQ(viaText.history.size(), (size_t)historyEntries);
    }
}

TEST(TresselSessionTree, WritesOnlyTheNewestSixteenHistoryEntries)
{
    const auto session = makeCompleteSession(20);
    const auto tree = tresselSessionToTree(session);
    const auto entries = childEntries(tree);
    ASSERT_EQ(entries.size(), 5u + 16u);
    for (int i = 0; i < 16; ++i)
    {
        EXPECT_EQ(entries[5 + (size_t)i].role, "history");
        EXPECT_EQ(entries[5 + (size_t)i].index, i);
        EXPECT_EQ(entries[5 + (size_t)i].tag, 304 + i);
    }
}

TEST(TresselSessionTree, ReadsOnlyTheFirstSixteenHistoryChildren)
{
    auto tree = handWrittenTree();
    for (int i = 0; i < 20; ++i)
        tree.appendChild(stateChild("history", i, makeTaggedState(500 + i)), nullptr);

    TresselSessionSnapshot session;
    juce::String error;
    ASSERT_TRUE(tresselSessionFromTree(tree, session, error)) << error;
    ASSERT_EQ(session.history.size(), 16u);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(tagOf(session.history[(size_t)i]), 500 + i);
}

TEST(TresselSessionTree, SchemaVersions)
{
    struct Case
    {
        juce::var schema; // void: property absent
        bool accepted;
    };
    const std::vector<Case> cases{{3, false}, {0, false}, {{}, false}, {-1, false},
                                  {1, true},  {2, true},  {"2", true}};

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.schema.toString());
        auto tree = handWrittenTree();
        tree.removeProperty("schemaVersion", nullptr);
        if (!c.schema.isVoid())
            tree.setProperty("schemaVersion", c.schema, nullptr);

        auto session = sentinelSession();
        const auto before = xmlOf(session);
        juce::String error = "stale";
        EXPECT_EQ(tresselSessionFromTree(tree, session, error), c.accepted);
        if (c.accepted)
        {
            EXPECT_TRUE(error.isEmpty());
            EXPECT_EQ(tagOf(session.baseline), 1);
            EXPECT_EQ(session.schemaVersion, 2);
        }
        else
        {
            EXPECT_EQ(error, schemaMessage);
            EXPECT_EQ(xmlOf(session), before);
        }
    }
}

TEST(TresselSessionTree, RefusesDamagedAndIncompleteTrees)
{
    using Edit = std::function<void(juce::ValueTree&)>;
    struct Case
    {
        const char* name;
        Edit edit;
        juce::String message;
    };

    const auto removeVariant = [](int index)
    {
        return [index](juce::ValueTree& tree)
        {
            for (int i = tree.getNumChildren(); --i >= 0;)
                if (tree.getChild(i)["role"].toString() == "variant" &&
                    (int)tree.getChild(i)["index"] == index)
                    tree.removeChild(i, nullptr);
        };
    };

    const std::vector<Case> cases{
        {"invalid tree", [](juce::ValueTree& tree) { tree = {}; }, damagedMessage},
        {"another type", [](juce::ValueTree& tree) { tree = tree.createCopy().getChild(0); }, damagedMessage},
        {"parameter state", [](juce::ValueTree& tree) { tree = makeTaggedState(3); }, damagedMessage},
        {"variants 0, 1 and 3 only", removeVariant(2), incompleteMessage},
        {"no variant 0", removeVariant(0), incompleteMessage},
        {"no baseline", [](juce::ValueTree& tree) { tree.removeChild(0, nullptr); }, incompleteMessage},
        {"variant index out of range",
         [&](juce::ValueTree& tree)
         {
             removeVariant(3)(tree);
             tree.appendChild(stateChild("variant", 4, makeTaggedState(4)), nullptr);
             tree.appendChild(stateChild("variant", {}, makeTaggedState(5)), nullptr);
         },
         incompleteMessage},
        {"variant with two states",
         [&](juce::ValueTree& tree)
         {
             removeVariant(1)(tree);
             auto child = stateChild("variant", 1, makeTaggedState(4));
             child.appendChild(makeTaggedState(5), nullptr);
             tree.appendChild(child, nullptr);
         },
         incompleteMessage},
        {"variant of another type",
         [&](juce::ValueTree& tree)
         {
             removeVariant(1)(tree);
             auto child = stateChild("variant", 1, makeTaggedState(4));
             juce::ValueTree other{"OTHER_STATE"};
             other.copyPropertiesAndChildrenFrom(child, nullptr);
             tree.appendChild(other, nullptr);
         },
         incompleteMessage},
        {"baseline role misspelled",
         [](juce::ValueTree& tree) { tree.getChild(0).setProperty("role", "Baseline", nullptr); },
         incompleteMessage},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        auto tree = handWrittenTree();
        c.edit(tree);

        auto session = sentinelSession();
        const auto before = xmlOf(session);
        juce::String error = "stale";
        EXPECT_FALSE(tresselSessionFromTree(tree, session, error));
        EXPECT_EQ(error, c.message);
        EXPECT_EQ(xmlOf(session), before);
    }
}

TEST(TresselSessionTree, ReadingClampsAndDefaults)
{
    struct Case
    {
        const char* property;
        juce::var value; // void: property absent
        std::function<juce::var(const TresselSessionSnapshot&)> read;
        juce::var expected;
    };
    const auto personality = [](const TresselSessionSnapshot& s) { return juce::var(s.personality); };
    const auto chaos = [](const TresselSessionSnapshot& s) { return juce::var((double)s.chaosPercent); };
    const auto seed = [](const TresselSessionSnapshot& s) { return juce::var((juce::int64)s.seed); };
    const auto selected = [](const TresselSessionSnapshot& s) { return juce::var(s.selectedVariant); };
    const auto kept = [](const TresselSessionSnapshot& s) { return juce::var(s.keptVariant); };
    const auto motion = [](const TresselSessionSnapshot& s) { return juce::var(s.reducedMotion); };
    const auto dna = [](const TresselSessionSnapshot& s) { return juce::var(s.dnaId); };
    const auto parent = [](const TresselSessionSnapshot& s) { return juce::var(s.parentDnaId); };

    const std::vector<Case> cases{
        {"selectedVariant", 7, selected, 3},
        {"selectedVariant", -5, selected, -1},
        {"selectedVariant", 2, selected, 2},
        {"selectedVariant", {}, selected, -1},
        {"keptVariant", 9, kept, 3},
        {"keptVariant", -2, kept, -1},
        {"keptVariant", {}, kept, -1},
        {"personality", 40, personality, 12},
        {"personality", -3, personality, 0},
        {"personality", 11, personality, 11},
        {"personality", {}, personality, 0},
        {"chaosPercent", 150.0, chaos, 100.0},
        {"chaosPercent", -0.5, chaos, 0.0},
        {"chaosPercent", 12.25, chaos, 12.25},
        {"chaosPercent", {}, chaos, 35.0},
        {"chaosPercent", std::numeric_limits<double>::quiet_NaN(), chaos, 35.0},
        {"seed", (juce::int64)0x123456789LL, seed, (juce::int64)0x23456789},
        {"seed", (juce::int64)-1, seed, (juce::int64)0xFFFFFFFFLL},
        {"seed", (juce::int64)0xFFFFFFFFLL, seed, (juce::int64)0xFFFFFFFFLL},
        {"seed", "4294967297", seed, (juce::int64)1},
        {"seed", {}, seed, (juce::int64)0},
        {"reducedMotion", true, motion, true},
        {"reducedMotion", {}, motion, false},
        {"dnaId", "abc", dna, "abc"},
        {"dnaId", {}, dna, ""},
        {"parentDnaId", "xyz", parent, "xyz"},
        {"parentDnaId", {}, parent, ""},
    };

    for (const auto& c : cases)
    {
        // JUCE turns a NaN double into text through an int conversion, which is undefined.
        const bool nan = c.value.isDouble() && std::isnan((double)c.value);
        SCOPED_TRACE(juce::String(c.property) + " = " + (nan ? juce::String("nan") : c.value.toString()));
        auto tree = handWrittenTree();
        if (!c.value.isVoid())
            tree.setProperty(c.property, c.value, nullptr);

        TresselSessionSnapshot session;
        juce::String error;
        ASSERT_TRUE(tresselSessionFromTree(tree, session, error)) << error;
        EXPECT_EQ(c.read(session).toString(), c.expected.toString());
    }
}

TEST(TresselSessionTree, WritingClamps)
{
    auto session = makeCompleteSession(0);
    session.chaosPercent = 140.0f;
    session.selectedVariant = 9;
    session.keptVariant = -4;
    session.seed = 0xFFFFFFFFu;
    const auto tree = tresselSessionToTree(session);
    EXPECT_DOUBLE_EQ((double)tree["chaosPercent"], 100.0);
    EXPECT_EQ((int)tree["selectedVariant"], 3);
    EXPECT_EQ((int)tree["keptVariant"], -1);
    EXPECT_EQ((juce::int64)tree["seed"], 4294967295LL);

    // NaN has no place in 0..100; it is stored as the default rather than passed on.
    session.chaosPercent = std::numeric_limits<float>::quiet_NaN();
    EXPECT_DOUBLE_EQ((double)tresselSessionToTree(session)["chaosPercent"], 35.0);
}

TEST(TresselSessionTree, EmptyStatesAreNotWritten)
{
    auto session = makeCompleteSession(3);
    session.variants[1] = {};
    session.history[1] = {};
    const auto entries = childEntries(tresselSessionToTree(session));

    std::vector<juce::String> written;
    for (const auto& e : entries)
        written.push_back(e.role + juce::String(e.index) + "/" + juce::String(e.tag));
    const std::vector<juce::String> expected{"baseline-1/100", "variant0/200", "variant2/202",
                                             "variant3/203",   "history0/300", "history2/302"};
    EXPECT_EQ(written, expected);

    TresselSessionSnapshot read;
    juce::String error;
    EXPECT_FALSE(tresselSessionFromTree(tresselSessionToTree(session), read, error));
    EXPECT_EQ(error, incompleteMessage);
}

TEST(TresselSessionTree, LaterChildOfTheSameRoleAndIndexWins)
{
    auto tree = handWrittenTree();
    tree.appendChild(stateChild("history", 0, makeTaggedState(40)), nullptr);
    tree.appendChild(stateChild("history", 1, makeTaggedState(41)), nullptr);
    tree.appendChild(stateChild("baseline", -1, makeTaggedState(42)), nullptr);
    tree.appendChild(stateChild("variant", 2, makeTaggedState(43)), nullptr);
    tree.appendChild(stateChild("history", 0, makeTaggedState(44)), nullptr);
    tree.appendChild(stateChild("somethingElse", 0, makeTaggedState(45)), nullptr);

    TresselSessionSnapshot session;
    juce::String error;
    ASSERT_TRUE(tresselSessionFromTree(tree, session, error)) << error;
    EXPECT_EQ(tagOf(session.baseline), 42);
    EXPECT_EQ(tagOf(session.variants[0]), 10);
    EXPECT_EQ(tagOf(session.variants[1]), 11);
    EXPECT_EQ(tagOf(session.variants[2]), 43);
    EXPECT_EQ(tagOf(session.variants[3]), 13);
    ASSERT_EQ(session.history.size(), 2u);
    EXPECT_EQ(tagOf(session.history[0]), 44);
    EXPECT_EQ(tagOf(session.history[1]), 41);

    // The session holds copies: editing the source tree afterwards changes nothing.
    tree.getChild(0).getChild(0).setProperty("program", 30, nullptr);
    EXPECT_NE((int)session.baseline["program"], 30);
}
