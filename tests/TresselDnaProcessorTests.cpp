#include "TestSupport.h"
#include "WorkflowStateSupport.h"

#include "workflow/StableHash.h"
#include "workflow/TresselDna.h"
#include "workflow/TresselPersonality.h"
#include "workflow/TresselSessionTree.h"

#include <gtest/gtest.h>

#include <functional>

using sorvane::test::makeProcessor;
using sorvane::test::plain;
using sorvane::test::setPlain;
using sorvane::test::WorkflowState;

namespace
{
// A processor with a session, an auditioned variant and a lock, as a user would leave it.
std::unique_ptr<SorvaneAudioProcessor> processorWithSession(std::uint32_t seed)
{
    auto processor = makeProcessor();
    setPlain(*processor, "drive", 37.0f);
    setPlain(*processor, "tone", 5200.0f);
    processor->generateTressel(seed, sorvane::tresselGlass, 55.0f, {"tone"}, false, false);
    processor->selectTresselVariant(2);
    setPlain(*processor, "spark", 12.0f);
    return processor;
}

juce::ValueTree dnaTreeOf(const juce::String& text)
{
    juce::MemoryOutputStream bytes;
    juce::Base64::convertFromBase64(bytes, text.substring(4));
    const auto xml = juce::parseXML(bytes.toUTF8());
    return xml != nullptr ? juce::ValueTree::fromXml(*xml) : juce::ValueTree();
}

juce::String textOfTree(const juce::ValueTree& tree)
{
    const auto xml = sorvane::treeXmlText(tree);
    return "SV1:" + juce::Base64::toBase64(xml.toRawUTF8(), xml.getNumBytesAsUTF8());
}
} // namespace

TEST(TresselDnaProcessor, CopyNeedsACompleteSession)
{
    auto processor = makeProcessor();
    juce::String error = "stale";
    EXPECT_EQ(processor->copyTresselDna(error), "");
    EXPECT_EQ(error, "Create and select a complete TRESSEL before copying DNA.");
}

TEST(TresselDnaProcessor, ImportMakesTheSessionAndExactSoundCurrentOnAnotherMachine)
{
    auto source = processorWithSession(2024);
    juce::String error;
    const auto dna = source->copyTresselDna(error);
    ASSERT_TRUE(dna.startsWith("SV1:")) << error;
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(dna, source->copyTresselDna(error)) << "copying twice gives the same text";

    auto target = makeProcessor();
    const auto historyBefore = target->getMutationHistory().size();
    ASSERT_TRUE(target->importTresselDna("  " + dna + "\r\n", error)) << error;

    // The exact sound, locks included, is current.
    EXPECT_EQ(target->captureParameterSnapshot().toXmlString(),
              source->captureParameterSnapshot().toXmlString());
    EXPECT_EQ(plain(*target, "spark"), 12.0f);
    EXPECT_EQ(target->lockWord.load(), source->lockWord.load());
    EXPECT_EQ(target->workflowSeed.load(), 2024u);
    EXPECT_EQ(target->getMutationHistory().size(), historyBefore + 1);

    // The session travels whole, with the source's identity as its parent.
    auto expected = source->getTresselSession();
    const auto imported = target->getTresselSession();
    EXPECT_EQ(imported.parentDnaId, sorvane::treeDigest(source->captureParameterSnapshot()));
    EXPECT_EQ(imported.dnaId, "");
    expected.parentDnaId = imported.parentDnaId;
    expected.dnaId = {};
    EXPECT_EQ(sorvane::tresselSessionToTree(imported).toXmlString(),
              sorvane::tresselSessionToTree(expected).toXmlString());
    EXPECT_EQ(imported.selectedVariant, 2);
    EXPECT_TRUE(target->getTresselBase().isEquivalentTo(imported.baseline));
    ASSERT_EQ(target->getTresselVariants().size(), 4u);
    EXPECT_TRUE(target->getTresselVariants()[3].isEquivalentTo(imported.variants[3]));

    // Auditioning continues where the other machine left off.
    ASSERT_TRUE(target->restoreTresselBaseline());
    EXPECT_EQ(plain(*target, "drive"), 37.0f);
}

TEST(TresselDnaProcessor, MalformedPayloadsChangeNothing)
{
    auto donor = processorWithSession(7);
    juce::String error;
    const auto valid = donor->copyTresselDna(error);
    ASSERT_TRUE(valid.isNotEmpty()) << error;

    const auto edited = [&valid](const std::function<void(juce::ValueTree&)>& edit)
    {
        auto tree = dnaTreeOf(valid);
        edit(tree);
        return textOfTree(tree);
    };
    const auto body = valid.substring(4);

    struct Case
    {
        const char* name;
        juce::String text;
        const char* message;
    };
    const Case cases[] = {
        {"missing prefix", body, "Paste a supported Sorvane DNA payload no larger than 256 KB."},
        {"wrong prefix", "SV2:" + body, "Paste a supported Sorvane DNA payload no larger than 256 KB."},
        {"262,145 characters", valid + juce::String::repeatedString("A", 262145 - valid.length()),
         "Paste a supported Sorvane DNA payload no larger than 256 KB."},
        {"line break inside", "SV1:" + body.substring(0, 60) + "\n" + body.substring(60),
         "The Sorvane DNA encoding is corrupt."},
        {"= in a wrong place", "SV1:A=AA" + body, "The Sorvane DNA encoding is corrupt."},
        {"ends inside a group", valid + "QQ", "The Sorvane DNA encoding is corrupt."},
        {"not XML", "SV1:" + juce::Base64::toBase64("not xml at all"),
         "The Sorvane DNA payload is not valid XML."},
        {"another product", edited([](juce::ValueTree& t) { t.setProperty("product", "Other", nullptr); }),
         "The DNA belongs to another product or unsupported schema."},
        {"DNA schema 2", edited([](juce::ValueTree& t) { t.setProperty("dnaSchemaVersion", 2, nullptr); }),
         "The DNA belongs to another product or unsupported schema."},
        {"space inside", "SV1:" + body.substring(0, 40) + " " + body.substring(40),
         "The Sorvane DNA encoding is corrupt."},
        {"session schema 0", edited([](juce::ValueTree& t) { t.setProperty("schemaVersion", 0, nullptr); }),
         "This TRESSEL session schema is not supported by this Sorvane version."},
        {"session schema 3", edited([](juce::ValueTree& t) { t.setProperty("schemaVersion", 3, nullptr); }),
         "This TRESSEL session schema is not supported by this Sorvane version."},
        {"session schema missing",
         edited([](juce::ValueTree& t) { t.removeProperty("schemaVersion", nullptr); }),
         "This TRESSEL session schema is not supported by this Sorvane version."},
        {"three variants",
         edited([](juce::ValueTree& t) { t.removeChild(t.getChildWithProperty("index", 3), nullptr); }),
         "The TRESSEL session does not contain an exact baseline and four variants."},
        {"no exact state",
         edited([](juce::ValueTree& t)
                { t.removeChild(t.getChildWithName("EXACT_PARAMETER_STATE"), nullptr); }),
         "The DNA does not contain an exact parameter state."},
        {"exact state of another type",
         edited(
             [](juce::ValueTree& t)
             {
                 auto exact = t.getChildWithName("EXACT_PARAMETER_STATE");
                 exact.removeAllChildren(nullptr);
                 exact.appendChild(juce::ValueTree("OTHER_STATE"), nullptr);
             }),
         "The DNA parameter payload belongs to another product."},
    };

    auto processor = processorWithSession(99);
    processor->lockWord.store(processor->lockWord.load() | (1ull << 25));
    const auto before = WorkflowState::of(*processor);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        error.clear();
        EXPECT_FALSE(processor->importTresselDna(c.text, error));
        EXPECT_EQ(error, c.message);
        WorkflowState::of(*processor).expectEqual(before);
    }

    // The same processor still accepts good DNA afterwards.
    EXPECT_TRUE(processor->importTresselDna(valid, error)) << error;
}

TEST(TresselDnaProcessor, ChangeExplanationComparesTheAuditionedSoundWithTheBaseline)
{
    auto processor = makeProcessor();
    EXPECT_EQ(processor->describeTresselChanges(), "Generate a TRESSEL result to compare it with Before.");

    processor->generateTressel(5, sorvane::tresselGhost, 50.0f, {}, false, false);
    ASSERT_TRUE(processor->restoreTresselBaseline());
    EXPECT_EQ(processor->describeTresselChanges(),
              "TONE\nNo control changes.\n\nRHYTHM\nNo control changes.\n\nSPACE\nNo control changes.\n\n");

    setPlain(*processor, "chaos", 40.0f);
    EXPECT_EQ(
        processor->describeTresselChanges(),
        "TONE\nNo control changes.\n\nRHYTHM\nchaos: 5.00 -> 40.00 (35.0% of range)\n\nSPACE\nNo control "
        "changes.\n\n");
}

//======================================================================================================
TEST(TresselHostState, SessionAndItsHistorySurviveAHostRoundTrip)
{
    auto source = processorWithSession(31);
    source->selectTresselVariant(1);
    juce::MemoryBlock blob;
    source->getStateInformation(blob);

    auto target = makeProcessor();
    target->mutateCurrentProgram(3, 0.4f, {});
    target->setStateInformation(blob.getData(), (int)blob.getSize());

    const auto session = source->getTresselSession();
    EXPECT_EQ(sorvane::tresselSessionToTree(target->getTresselSession()).toXmlString(),
              sorvane::tresselSessionToTree(session).toXmlString());
    EXPECT_EQ(target->workflowSeed.load(), 31u);
    EXPECT_TRUE(target->getTresselBase().isEquivalentTo(session.baseline));
    ASSERT_EQ(target->getTresselVariants().size(), 4u);
    EXPECT_FALSE(target->getParameterState().state.getChildWithName("SORVANE_TRESSEL_SESSION").isValid())
        << "the session is not part of the live parameter state";
    EXPECT_FALSE(target->projectDirty.load());

    // The history is the session's own: baseline, A, C, B.
    const auto& history = target->getMutationHistory();
    ASSERT_EQ(history.size(), session.history.size());
    EXPECT_EQ(history.size(), 4u);
    EXPECT_EQ(history.getIndex(), 3u);
    for (size_t i = 0; i < history.size(); ++i)
        EXPECT_TRUE(history.getEntry(i).isEquivalentTo(session.history[i])) << i;
}

TEST(TresselHostState, WithoutASessionTheHistoryRestartsFromTheRestoredSound)
{
    auto source = makeProcessor();
    setPlain(*source, "fold", 71.0f);
    juce::MemoryBlock blob;
    source->getStateInformation(blob);
    EXPECT_EQ(juce::String::createStringFromData(blob.getData(), (int)blob.getSize()).contains("TRESSEL"),
              false);

    auto target = processorWithSession(8);
    target->setStateInformation(blob.getData(), (int)blob.getSize());
    EXPECT_FALSE(target->getTresselSession().isValid());
    EXPECT_TRUE(target->getTresselVariants().empty());
    ASSERT_EQ(target->getMutationHistory().size(), 1u);
    EXPECT_TRUE(target->getMutationHistory().getEntry(0).isEquivalentTo(target->captureParameterSnapshot()));
    EXPECT_EQ(plain(*target, "fold"), 71.0f);
    EXPECT_FALSE(target->undoMutation());
}

TEST(TresselHostState, DamagedSessionTreesLeaveTheTresselStateEmpty)
{
    const std::function<void(juce::ValueTree&)> damages[] = {
        [](juce::ValueTree& s) { s.setProperty("schemaVersion", 0, nullptr); },
        [](juce::ValueTree& s) { s.removeChild(s.getChildWithProperty("role", "baseline"), nullptr); },
        [](juce::ValueTree& s) { s.getChild(2).removeAllChildren(nullptr); },
        [](juce::ValueTree& s) { s.removeAllChildren(nullptr); },
        [](juce::ValueTree& s) { s.setProperty("selectedVariant", "garbage", nullptr); },
    };

    auto source = processorWithSession(12);
    juce::MemoryBlock blob;
    source->getStateInformation(blob);
    const auto xml = juce::AudioProcessor::getXmlFromBinary(blob.getData(), (int)blob.getSize());
    ASSERT_NE(xml, nullptr);

    for (size_t i = 0; i < std::size(damages); ++i)
    {
        SCOPED_TRACE(i);
        auto tree = juce::ValueTree::fromXml(*xml);
        auto session = tree.getChildWithName("SORVANE_TRESSEL_SESSION");
        ASSERT_TRUE(session.isValid());
        damages[i](session);

        juce::MemoryBlock damaged;
        juce::AudioProcessor::copyXmlToBinary(*tree.createXml(), damaged);
        auto target = processorWithSession(77);
        target->setStateInformation(damaged.getData(), (int)damaged.getSize());

        const bool stillParses = i == 4; // a text where a number belongs reads as 0 and clamps
        EXPECT_EQ(target->getTresselSession().isValid(), stillParses);
        if (!stillParses)
        {
            EXPECT_TRUE(target->getTresselVariants().empty());
            EXPECT_FALSE(target->getTresselBase().isValid());
            EXPECT_EQ(target->getMutationHistory().size(), 1u);
        }
        EXPECT_EQ(plain(*target, "spark"), 12.0f) << "the parameters restore regardless";
    }
}
