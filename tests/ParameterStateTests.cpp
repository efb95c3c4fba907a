#include "TestSupport.h"

#include "processor/ParameterState.h"
#include "workflow/StableHash.h"
#include "workflow/TresselDna.h"
#include "workflow/TresselPersonality.h"

#include <gtest/gtest.h>

#include <functional>

using sorvane::test::makeProcessor;
using sorvane::test::plain;
using sorvane::test::setPlain;

namespace
{
juce::ValueTree paramChild(const juce::ValueTree& tree, const juce::String& id)
{
    return tree.getChildWithProperty("id", id);
}

// A value at the other end of the parameter's range, to move it away and back.
float farFrom(SorvaneAudioProcessor& processor, const juce::String& id, float plainValue)
{
    auto& p = sorvane::test::parameter(processor, id);
    return p.convertFrom0to1(p.convertTo0to1(plainValue) < 0.5f ? 1.0f : 0.0f);
}

// The ways a whole tree reaches the processor: a snapshot, a host session and pasted DNA.
struct ApplyPath
{
    const char* name;
    std::function<void(SorvaneAudioProcessor&, const juce::ValueTree&)> apply;
};

const ApplyPath applyPaths[] = {
    {"snapshot",
     [](SorvaneAudioProcessor& p, const juce::ValueTree& tree) { p.applyParameterSnapshot(tree); }},
    {"host state",
     [](SorvaneAudioProcessor& p, const juce::ValueTree& tree)
     {
         juce::MemoryBlock blob;
         juce::AudioProcessor::copyXmlToBinary(*tree.createXml(), blob);
         p.setStateInformation(blob.getData(), (int)blob.getSize());
     }},
    {"DNA import",
     [](SorvaneAudioProcessor& p, const juce::ValueTree& tree)
     {
         auto donor = makeProcessor();
         donor->generateTressel(11, sorvane::tresselGlass, 40.0f, {}, false, false);
         juce::String error;
         const auto text = sorvane::encodeTresselDna(donor->getTresselSession(), tree, error);
         EXPECT_TRUE(p.importTresselDna(text, error)) << error;
     }},
};
} // namespace

TEST(ParameterState, SnapshotCarriesEveryParameterTheProgramAndTheLocks)
{
    auto processor = makeProcessor();
    setPlain(*processor, "delayTime", 333.3f);
    setPlain(*processor, "division", 4);
    processor->currentProgram.store(7);
    processor->lockWord.store((1ull << 26) | 0x5);

    const auto snapshot = processor->captureParameterSnapshot();
    EXPECT_EQ(snapshot.getType().toString(), "SORVANE_STATE");
    EXPECT_EQ((int)snapshot["program"], 7);
    EXPECT_EQ((juce::int64)snapshot["macroLocks"], (juce::int64)((1ull << 26) | 0x5));
    for (auto* id : SorvaneAudioProcessor::parameterIds)
    {
        const auto child = paramChild(snapshot, id);
        ASSERT_TRUE(child.isValid()) << id;
        EXPECT_EQ(child.getType().toString(), "PARAM");
        EXPECT_FLOAT_EQ((float)child["value"], plain(*processor, id)) << id;
    }
    EXPECT_NEAR((float)paramChild(snapshot, "delayTime")["value"], 333.3f, 1e-3f);
    EXPECT_EQ((float)paramChild(snapshot, "division")["value"], 4.0f);

    // A snapshot is a copy: later edits do not reach it.
    setPlain(*processor, "delayTime", 100.0f);
    EXPECT_NEAR((float)paramChild(snapshot, "delayTime")["value"], 333.3f, 1e-3f);

    const auto xml = snapshot.createXml();
    ASSERT_NE(xml, nullptr);
    EXPECT_TRUE(xml->hasTagName("SORVANE_STATE"));
    EXPECT_NE(xml->getChildByAttribute("id", "feedback"), nullptr);
}

TEST(ParameterState, ApplyingASnapshotRestoresTheSoundAndMarksTheProjectDirty)
{
    auto source = makeProcessor();
    setPlain(*source, "drive", 61.2f);
    setPlain(*source, "autoLevel", 2);
    source->lockWord.store(0x3);
    source->currentProgram.store(12);
    const auto snapshot = source->captureParameterSnapshot();

    auto target = makeProcessor();
    target->projectDirty.store(false);
    target->applyParameterSnapshot(snapshot);
    EXPECT_FLOAT_EQ(plain(*target, "drive"), 61.2f);
    EXPECT_FLOAT_EQ(plain(*target, "autoLevel"), 2.0f);
    EXPECT_EQ(target->lockWord.load(), 0x3u);
    EXPECT_EQ(target->currentProgram.load(), 12);
    EXPECT_TRUE(target->projectDirty.load());

    // The applied tree is a copy; editing the snapshot afterwards changes nothing.
    auto editable = snapshot.createCopy();
    target->applyParameterSnapshot(editable);
    paramChild(editable, "drive").setProperty("value", 5.0f, nullptr);
    EXPECT_FLOAT_EQ(plain(*target, "drive"), 61.2f);
}

TEST(ParameterState, MissingPropertiesAndChildrenTakeTheirDefaults)
{
    auto processor = makeProcessor();
    setPlain(*processor, "delaySync", 9);
    setPlain(*processor, "standaloneTempo", 75);
    setPlain(*processor, "drive", 40);
    processor->lockWord.store(0xFF);
    processor->currentProgram.store(4);

    juce::ValueTree old("SORVANE_STATE");
    juce::ValueTree feedback("PARAM");
    feedback.setProperty("id", "feedback", nullptr).setProperty("value", 70.0, nullptr);
    old.appendChild(feedback, nullptr);
    juce::ValueTree unknown("PARAM");
    unknown.setProperty("id", "noSuchParameter", nullptr).setProperty("value", 3.0, nullptr);
    old.appendChild(unknown, nullptr);
    juce::ValueTree valueless("PARAM");
    valueless.setProperty("id", "ring", nullptr);
    old.appendChild(valueless, nullptr);
    setPlain(*processor, "ring", 50);

    processor->applyParameterSnapshot(old);
    EXPECT_FLOAT_EQ(plain(*processor, "feedback"), 70.0f);
    EXPECT_FLOAT_EQ(plain(*processor, "delaySync"), 0.0f) << "migrated to milliseconds";
    EXPECT_FLOAT_EQ(plain(*processor, "standaloneTempo"), 120.0f);
    EXPECT_FLOAT_EQ(plain(*processor, "drive"), 8.0f) << "no child: default";
    EXPECT_FLOAT_EQ(plain(*processor, "ring"), 0.0f) << "child without a value: default";
    EXPECT_EQ(processor->lockWord.load(), 0u) << "no macroLocks clears every lock";
    EXPECT_EQ(processor->currentProgram.load(), 4) << "no program keeps the current one";
}

TEST(ParameterState, ProgramIsClampedToTheFactoryRange)
{
    struct Case
    {
        juce::var program;
        int expected;
    };
    for (const auto& c : {Case{99, 36}, Case{-5, 0}, Case{36, 36}, Case{0, 0}, Case{17, 17}})
    {
        auto processor = makeProcessor();
        auto tree = processor->captureParameterSnapshot();
        tree.setProperty("program", c.program, nullptr);
        processor->applyParameterSnapshot(tree);
        EXPECT_EQ(processor->currentProgram.load(), c.expected) << c.program.toString();
    }
}

TEST(ParameterState, InvalidTreeChangesNothing)
{
    auto processor = makeProcessor();
    setPlain(*processor, "drive", 33);
    processor->lockWord.store(0x10);
    processor->projectDirty.store(false);
    // Neither an empty tree nor one of another type (with plausible children) may become the state.
    juce::ValueTree foreign("OTHER_STATE");
    foreign.setProperty("macroLocks", 0, nullptr);
    foreign.appendChild(juce::ValueTree("PARAM", {{"id", "drive"}, {"value", 90.0}}), nullptr);
    for (const auto& tree : {juce::ValueTree(), foreign})
    {
        processor->applyParameterSnapshot(tree);
        EXPECT_FLOAT_EQ(plain(*processor, "drive"), 33.0f);
        EXPECT_EQ(processor->lockWord.load(), 0x10u);
        EXPECT_FALSE(processor->projectDirty.load());
        EXPECT_EQ(processor->getParameterState().state.getType().toString(), "SORVANE_STATE");
    }
}

TEST(ParameterState, TransientGroupRestoreMarkersNeverReachTheLiveTree)
{
    auto processor = makeProcessor();
    auto tree = processor->captureParameterSnapshot();
    tree.setProperty("workflowGroupRestore", true, nullptr);
    tree.setProperty("workflowRestoreSeed", 1234, nullptr);
    tree.setProperty("workflowRestoreVariant", 2, nullptr);
    tree.setProperty("presetName", "Kept", nullptr);
    processor->applyParameterSnapshot(tree);

    const auto live = processor->getParameterState().state;
    EXPECT_FALSE(live.hasProperty("workflowGroupRestore"));
    EXPECT_FALSE(live.hasProperty("workflowRestoreSeed"));
    EXPECT_FALSE(live.hasProperty("workflowRestoreVariant"));
    EXPECT_EQ(live["presetName"].toString(), "Kept");
    EXPECT_TRUE(tree.hasProperty("workflowGroupRestore")) << "the caller's tree is untouched";
}

TEST(ParameterState, AppliedTreesLeaveTheParametersOwnValuesInTheState)
{
    const auto setValue = [](const char* id, double value)
    { return [id, value](juce::ValueTree& t) { paramChild(t, id).setProperty("value", value, nullptr); }; };
    struct Case
    {
        const char* name;
        const char* id;
        std::function<void(juce::ValueTree&)> edit;
        float live; // what the parameter takes from the edited tree
        bool movedBefore;
    };
    const Case cases[] = {
        {"off the step grid", "tone", setValue("tone", 3210.4), 3210.0f, false},
        {"between integer steps", "reduce", setValue("reduce", 7.6), 8.0f, false},
        {"choice below its range", "audioQuality", setValue("audioQuality", -1.4356743), 0.0f, false},
        {"bool above its range", "matchSourceLevel", setValue("matchSourceLevel", 5.83), 1.0f, false},
        {"no child", "drive", [](juce::ValueTree& t) { t.removeChild(paramChild(t, "drive"), nullptr); },
         8.0f, false},
        {"child without a value", "ring",
         [](juce::ValueTree& t) { paramChild(t, "ring").removeProperty("value", nullptr); }, 0.0f, false},
        {"off the grid, unchanged after a move", "feedback", setValue("feedback", 22.0301), 22.0f, true},
    };

    for (const auto& path : applyPaths)
        for (const auto& c : cases)
        {
            SCOPED_TRACE(juce::String(path.name) + ": " + c.name);

            // The same sound reached by setting the parameter directly.
            auto direct = makeProcessor();
            setPlain(*direct, c.id, c.live);
            direct->getParameterState().state.setProperty("presetName", "Kept", nullptr);
            const auto directDigest = sorvane::treeDigest(direct->captureParameterSnapshot());
            auto tree = direct->captureParameterSnapshot();
            c.edit(tree);

            auto target = makeProcessor();
            if (c.movedBefore)
            {
                setPlain(*target, c.id, farFrom(*target, c.id, c.live));
                setPlain(*target, c.id, c.live);
            }

            // The second application finds every parameter already at the tree's value.
            for (int round = 0; round < 2; ++round)
            {
                path.apply(*target, tree);
                EXPECT_EQ(plain(*target, c.id), c.live) << "round " << round;

                const auto captured = target->captureParameterSnapshot();
                for (auto* id : SorvaneAudioProcessor::parameterIds)
                {
                    const auto child = paramChild(captured, id);
                    EXPECT_TRUE(child.hasProperty("value")) << id << ", round " << round;
                    EXPECT_EQ((double)child["value"], (double)plain(*target, id))
                        << id << ", round " << round;
                }
                EXPECT_EQ(captured["presetName"].toString(), "Kept");
                EXPECT_EQ(sorvane::treeDigest(captured), directDigest) << "round " << round;
            }

            // Back at the baseline after moving the control away and back: nothing changed.
            target->generateTressel(5, sorvane::tresselGhost, 60.0f, {}, false, false);
            ASSERT_TRUE(target->restoreTresselBaseline());
            setPlain(*target, c.id, farFrom(*target, c.id, c.live));
            setPlain(*target, c.id, c.live);
            const auto changes = target->describeTresselChanges();
            EXPECT_EQ(
                changes,
                "TONE\nNo control changes.\n\nRHYTHM\nNo control changes.\n\nSPACE\nNo control changes.\n\n");
        }
}

TEST(ParameterState, MigrationAddsOnlyWhatIsMissing)
{
    juce::ValueTree tree("SORVANE_STATE");
    sorvane::migrateWorkflowParameters(tree);
    ASSERT_EQ(tree.getNumChildren(), 2);
    EXPECT_EQ(tree.getChild(0)["id"].toString(), "delaySync");
    EXPECT_EQ((double)tree.getChild(0)["value"], 0.0);
    EXPECT_EQ(tree.getChild(1)["id"].toString(), "standaloneTempo");
    EXPECT_EQ((double)tree.getChild(1)["value"], 120.0);

    tree.getChild(1).setProperty("value", 99.0, nullptr);
    sorvane::migrateWorkflowParameters(tree);
    EXPECT_EQ(tree.getNumChildren(), 2);
    EXPECT_EQ((double)tree.getChild(1)["value"], 99.0);

    juce::ValueTree invalid;
    sorvane::migrateWorkflowParameters(invalid);
    EXPECT_FALSE(invalid.isValid());
}

TEST(HostState, RoundTripRestoresTheSoundAndLeavesTheProjectClean)
{
    auto source = makeProcessor();
    setPlain(*source, "tone", 3210);
    setPlain(*source, "macroMotion", 44.4f);
    source->lockWord.store(0x42);
    source->currentProgram.store(3);
    juce::MemoryBlock blob;
    source->getStateInformation(blob);
    ASSERT_GT(blob.getSize(), 9u);
    EXPECT_EQ(std::memcmp(blob.getData(), "VC2!", 4), 0);

    auto target = makeProcessor();
    target->projectDirty.store(true);
    target->setStateInformation(blob.getData(), (int)blob.getSize());
    EXPECT_FLOAT_EQ(plain(*target, "tone"), 3210.0f);
    EXPECT_NEAR(plain(*target, "macroMotion"), 44.4f, 1e-4f);
    EXPECT_EQ(target->lockWord.load(), 0x42u);
    EXPECT_EQ(target->currentProgram.load(), 3);
    EXPECT_FALSE(target->projectDirty.load());
    EXPECT_FALSE(target->suppressProjectDirty.load());
}

TEST(HostState, UnusableBlobsChangeNothing)
{
    auto processor = makeProcessor();
    setPlain(*processor, "drive", 12.3f);
    processor->projectDirty.store(true);

    juce::MemoryBlock foreign;
    juce::AudioProcessor::copyXmlToBinary(juce::XmlElement("OTHER_PRODUCT"), foreign);
    const juce::String garbage = "VC2!\x05\x00\x00\x00<<<<<";
    const char tooShort[] = "VC2!";
    juce::MemoryBlock zeroLength("VC2!\0\0\0\0x", 9);

    processor->setStateInformation(foreign.getData(), (int)foreign.getSize());
    processor->setStateInformation(garbage.toRawUTF8(), (int)garbage.getNumBytesAsUTF8());
    processor->setStateInformation(tooShort, 4);
    processor->setStateInformation(zeroLength.getData(), (int)zeroLength.getSize());
    processor->setStateInformation(nullptr, 0);
    EXPECT_NEAR(plain(*processor, "drive"), 12.3f, 1e-4f);
    EXPECT_TRUE(processor->projectDirty.load());
}
