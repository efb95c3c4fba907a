#include "TestSupport.h"
#include "TresselTestSupport.h"

#include "workflow/StableHash.h"
#include "workflow/TresselDna.h"
#include "workflow/TresselSessionTree.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using sorvane::decodeTresselDna;
using sorvane::encodeTresselDna;
using sorvane::makeTresselDnaTree;
using sorvane::maxTresselDnaLength;
using sorvane::treeDigest;
using sorvane::treeXmlText;
using sorvane::TresselDnaPayload;
using sorvane::TresselSessionSnapshot;
using sorvane::tresselSessionToTree;
using sorvane::test::makeCompleteSession;
using sorvane::test::makeTaggedState;

namespace
{
const juce::String pasteMessage = "Paste a supported Sorvane DNA payload no larger than 256 KB.";
const juce::String corruptMessage = "The Sorvane DNA encoding is corrupt.";
const juce::String notXmlMessage = "The Sorvane DNA payload is not valid XML.";
const juce::String productMessage = "The DNA belongs to another product or unsupported schema.";
const juce::String damagedMessage = "The TRESSEL session payload belongs to another product or is damaged.";
const juce::String schemaMessage = "This TRESSEL session schema is not supported by this Sorvane version.";
const juce::String incompleteMessage =
    "The TRESSEL session does not contain an exact baseline and four variants.";
const juce::String noExactMessage = "The DNA does not contain an exact parameter state.";
const juce::String foreignStateMessage = "The DNA parameter payload belongs to another product.";
const juce::String incompleteCopyMessage = "Create and select a complete TRESSEL before copying DNA.";
const juce::String limitMessage = "The exact Sorvane DNA exceeds the 256 KB offline safety limit.";

// The framework's encoder, independent of the product's own, builds payloads by hand.
juce::String dnaTextOfBytes(const juce::String& bytesAsText)
{
    return "SV1:" + juce::Base64::toBase64(bytesAsText.toRawUTF8(), bytesAsText.getNumBytesAsUTF8());
}

juce::String dnaTextOfTree(const juce::ValueTree& tree)
{
    return dnaTextOfBytes(treeXmlText(tree));
}

juce::String encodeOrFail(const TresselSessionSnapshot& session, const juce::ValueTree& state)
{
    juce::String error;
    const auto text = encodeTresselDna(session, state, error);
    EXPECT_TRUE(error.isEmpty()) << error;
    return text;
}

TresselDnaPayload sentinelPayload()
{
    TresselDnaPayload payload;
    payload.session = makeCompleteSession(1);
    payload.session.dnaId = "sentinel";
    payload.exactState = makeTaggedState(77);
    return payload;
}

juce::String describe(const TresselDnaPayload& payload)
{
    return treeXmlText(tresselSessionToTree(payload.session)) + treeXmlText(payload.exactState);
}

// A session whose parent id is padded so the DNA text has exactly `length` characters.
TresselSessionSnapshot sessionWithDnaLength(int length, const juce::ValueTree& state)
{
    auto session = makeCompleteSession(2);
    session.parentDnaId = juce::String::repeatedString("p", 1000);
    const auto baseBytes = (int)treeXmlText(makeTresselDnaTree(session, state)).getNumBytesAsUTF8();
    const int wantedBytes = (length - 4) / 4 * 3; // the most bytes that still fit that many digits
    session.parentDnaId = juce::String::repeatedString("p", 1000 + wantedBytes - baseBytes);
    return session;
}
} // namespace

TEST(TresselDna, TreeAddsIdentityProductAndExactState)
{
    const auto session = makeCompleteSession(2);
    const auto state = makeTaggedState(5);
    const auto tree = makeTresselDnaTree(session, state);
    const auto sessionTree = tresselSessionToTree(session);

    ASSERT_EQ(tree.getNumProperties(), sessionTree.getNumProperties() + 2);
    for (int i = 0; i < sessionTree.getNumProperties(); ++i)
        EXPECT_EQ(tree.getPropertyName(i), sessionTree.getPropertyName(i));
    EXPECT_EQ(tree.getPropertyName(9).toString(), "product");
    EXPECT_EQ(tree.getPropertyName(10).toString(), "dnaSchemaVersion");
    EXPECT_EQ(tree["product"].toString(), "Sorvane");
    EXPECT_EQ((int)tree["dnaSchemaVersion"], 1);
    EXPECT_EQ(tree["dnaId"].toString(), treeDigest(state));
    EXPECT_NE(tree["dnaId"].toString(), session.dnaId);
    EXPECT_EQ(tree["parentDnaId"].toString(), session.parentDnaId);

    ASSERT_EQ(tree.getNumChildren(), sessionTree.getNumChildren() + 1);
    for (int i = 0; i < sessionTree.getNumChildren(); ++i)
        EXPECT_TRUE(tree.getChild(i).isEquivalentTo(sessionTree.getChild(i))) << i;
    const auto exact = tree.getChild(tree.getNumChildren() - 1);
    EXPECT_EQ(exact.getType().toString(), "EXACT_PARAMETER_STATE");
    ASSERT_EQ(exact.getNumChildren(), 1);
    EXPECT_TRUE(exact.getChild(0).isEquivalentTo(state));
}

TEST(TresselDna, TextIsPrefixedStandardBase64OfTheXmlText)
{
    auto processor = sorvane::test::makeProcessor();
    const auto state = processor->captureParameterSnapshot();
    auto session = makeCompleteSession(3);
    session.parentDnaId = juce::String(juce::CharPointer_UTF8("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC")); // non-ASCII

    const auto text = encodeOrFail(session, state);
    ASSERT_TRUE(text.startsWith("SV1:"));
    EXPECT_FALSE(text.containsAnyOf("\r\n \t"));
    EXPECT_EQ(text.length() % 4, 0);

    const auto expectedXml = treeXmlText(makeTresselDnaTree(session, state));
    EXPECT_EQ(text, dnaTextOfBytes(expectedXml));

    juce::MemoryOutputStream decoded;
    ASSERT_TRUE(juce::Base64::convertFromBase64(decoded, text.substring(4)));
    EXPECT_EQ(decoded.toUTF8(), expectedXml);

    // All three padding shapes, checked against the framework's encoder.
    for (const char* bytes : {"<a/>", "<ab/>", "<abc/>"})
    {
        auto shaped = session;
        shaped.parentDnaId = bytes;
        for (int extra = 0; extra < 3; ++extra)
        {
            shaped.parentDnaId << "x";
            EXPECT_EQ(encodeOrFail(shaped, state), dnaTextOfTree(makeTresselDnaTree(shaped, state)));
        }
    }
}

TEST(TresselDna, RoundTripKeepsSessionAndExactStateAndMovesLineage)
{
    auto processor = sorvane::test::makeProcessor();
    sorvane::test::setPlain(*processor, "delayTime", 333.0f);
    const auto state = processor->captureParameterSnapshot();
    const auto session = makeCompleteSession(5);

    const auto text = encodeOrFail(session, state);
    TresselDnaPayload payload;
    juce::String error = "stale";
    ASSERT_TRUE(decodeTresselDna(text, payload, error)) << error;
    EXPECT_TRUE(error.isEmpty());

    EXPECT_EQ(treeXmlText(payload.exactState), treeXmlText(state));
    EXPECT_EQ(payload.session.dnaId, juce::String());
    EXPECT_EQ(payload.session.parentDnaId, treeDigest(state));
    EXPECT_NE(payload.session.parentDnaId, session.parentDnaId);

    auto expected = session;
    expected.dnaId = {};
    expected.parentDnaId = treeDigest(state);
    EXPECT_EQ(treeXmlText(tresselSessionToTree(payload.session)),
              treeXmlText(tresselSessionToTree(expected)));

    // Copying the imported sound again gives a child of the import's parent identity.
    TresselDnaPayload again;
    ASSERT_TRUE(decodeTresselDna(encodeOrFail(payload.session, payload.exactState), again, error)) << error;
    EXPECT_EQ(again.session.parentDnaId, treeDigest(state));
    EXPECT_EQ(treeXmlText(again.exactState), treeXmlText(state));
}

TEST(TresselDna, SurroundingWhiteSpaceIsFine)
{
    const auto text = encodeOrFail(makeCompleteSession(), makeTaggedState(3));
    for (const auto& wrapped : {" " + text, text + "\r\n", "\n\t  " + text + " \t\n"})
    {
        TresselDnaPayload payload;
        juce::String error;
        EXPECT_TRUE(decodeTresselDna(wrapped, payload, error)) << error;
        EXPECT_EQ(treeXmlText(payload.exactState), treeXmlText(makeTaggedState(3)));
    }
}

TEST(TresselDna, EncodingRefusesIncompleteInput)
{
    auto noVariant = makeCompleteSession();
    noVariant.variants[3] = {};
    auto noBaseline = makeCompleteSession();
    noBaseline.baseline = {};

    const std::vector<std::pair<TresselSessionSnapshot, juce::ValueTree>> cases{
        {noVariant, makeTaggedState(1)},
        {noBaseline, makeTaggedState(1)},
        {makeCompleteSession(), juce::ValueTree()},
        {TresselSessionSnapshot(), makeTaggedState(1)},
    };
    for (const auto& [session, state] : cases)
    {
        juce::String error;
        EXPECT_EQ(encodeTresselDna(session, state, error), juce::String());
        EXPECT_EQ(error, incompleteCopyMessage);
    }
}

TEST(TresselDna, MalformedPayloadsAreRefusedWithTheirMessage)
{
    const auto session = makeCompleteSession(2);
    const auto state = makeTaggedState(9);
    const auto valid = encodeOrFail(session, state);
    const auto body = valid.substring(4);
    const auto dnaTree = [&] { return makeTresselDnaTree(session, state); };

    using Edit = std::function<void(juce::ValueTree&)>;
    const auto editedTree = [&](const Edit& edit)
    {
        auto tree = dnaTree();
        edit(tree);
        return dnaTextOfTree(tree);
    };
    const auto removeChildren = [](const juce::String& role, int index)
    {
        return [=](juce::ValueTree& tree)
        {
            for (int i = tree.getNumChildren(); --i >= 0;)
                if (tree.getChild(i)["role"].toString() == role && (int)tree.getChild(i)["index"] == index)
                    tree.removeChild(i, nullptr);
        };
    };
    const auto exactChild = [](juce::ValueTree& tree)
    { return tree.getChildWithName("EXACT_PARAMETER_STATE"); };

    struct Case
    {
        const char* name;
        juce::String text;
        juce::String message;
    };
    const std::vector<Case> cases{
        {"empty", "", pasteMessage},
        {"white space only", "  \r\n", pasteMessage},
        {"no prefix", body, pasteMessage},
        {"other version", "SV2:" + body, pasteMessage},
        {"lower-case prefix", "sv1:" + body, pasteMessage},
        {"prefix after text", "x" + valid, pasteMessage},
        {"space inside", "SV1:" + body.substring(0, 40) + " " + body.substring(40), corruptMessage},
        {"line break inside", "SV1:" + body.substring(0, 76) + "\n" + body.substring(76), corruptMessage},
        {"CR LF inside", "SV1:" + body.substring(0, 76) + "\r\n" + body.substring(76), corruptMessage},
        {"tab after prefix", "SV1:\t" + body, corruptMessage},
        {"URL-safe digit", "SV1:" + body.substring(0, 8) + "-" + body.substring(9), corruptMessage},
        {"non-ASCII digit",
         "SV1:" + body.substring(0, 8) + juce::String::charToString(0xE9) + body.substring(9),
         corruptMessage},
        {"= first in group", "SV1:=AAA" + body, corruptMessage},
        {"= second in group", "SV1:A=AA" + body, corruptMessage},
        {"= third without fourth", "SV1:AB=C" + body, corruptMessage},
        {"= alone", "SV1:====", corruptMessage},
        {"ends after one digit", valid + "P", corruptMessage},
        {"ends after three digits", valid.dropLastCharacters(1), corruptMessage},
        {"ends after two digits", "SV1:PG", corruptMessage},
        {"nothing after prefix", "SV1:", notXmlMessage},
        {"plain text", dnaTextOfBytes("hello, this is not a DNA"), notXmlMessage},
        {"XML header without an element",
         dnaTextOfBytes(treeXmlText(dnaTree()).upToFirstOccurrenceOf("?>", true, false)), notXmlMessage},
        {"element name missing", dnaTextOfBytes("<?xml version=\"1.0\"?>\r\n< product=\"Sorvane\"/>"),
         notXmlMessage},
        {"binary bytes", "SV1:AAECA/+A", notXmlMessage},
        // Pasted text may declare entities; no declaration reaches the parser.
        {"self-referencing entity",
         dnaTextOfBytes("<?xml version=\"1.0\"?>\r\n<!DOCTYPE d [<!ENTITY a \"&a;&a;\">]>\r\n<d x=\"&a;\"/>"),
         notXmlMessage},
        {"another product",
         editedTree([](juce::ValueTree& t) { t.setProperty("product", "Elsewhere", nullptr); }),
         productMessage},
        {"no product", editedTree([](juce::ValueTree& t) { t.removeProperty("product", nullptr); }),
         productMessage},
        {"DNA schema 2",
         editedTree([](juce::ValueTree& t) { t.setProperty("dnaSchemaVersion", 2, nullptr); }),
         productMessage},
        {"DNA schema 0",
         editedTree([](juce::ValueTree& t) { t.setProperty("dnaSchemaVersion", 0, nullptr); }),
         productMessage},
        {"no DNA schema",
         editedTree([](juce::ValueTree& t) { t.removeProperty("dnaSchemaVersion", nullptr); }),
         productMessage},
        {"root of another type",
         editedTree(
             [](juce::ValueTree& t)
             {
                 juce::ValueTree other{"SORVANE_SESSION"};
                 other.copyPropertiesAndChildrenFrom(t, nullptr);
                 t = other;
             }),
         damagedMessage},
        {"session schema 0",
         editedTree([](juce::ValueTree& t) { t.setProperty("schemaVersion", 0, nullptr); }), schemaMessage},
        {"session schema 3",
         editedTree([](juce::ValueTree& t) { t.setProperty("schemaVersion", 3, nullptr); }), schemaMessage},
        {"no session schema",
         editedTree([](juce::ValueTree& t) { t.removeProperty("schemaVersion", nullptr); }), schemaMessage},
        {"three variants", editedTree(removeChildren("variant", 2)), incompleteMessage},
        {"no baseline", editedTree(removeChildren("baseline", -1)), incompleteMessage},
        {"no exact state", editedTree([&](juce::ValueTree& t) { t.removeChild(exactChild(t), nullptr); }),
         noExactMessage},
        {"empty exact state",
         editedTree([&](juce::ValueTree& t) { exactChild(t).removeAllChildren(nullptr); }), noExactMessage},
        {"two exact states",
         editedTree([&](juce::ValueTree& t) { exactChild(t).appendChild(makeTaggedState(2), nullptr); }),
         noExactMessage},
        {"exact state of another type",
         editedTree(
             [&](juce::ValueTree& t)
             {
                 auto exact = exactChild(t);
                 exact.removeAllChildren(nullptr);
                 exact.appendChild(juce::ValueTree{"OTHER_STATE"}, nullptr);
             }),
         foreignStateMessage},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        auto out = sentinelPayload();
        const auto before = describe(out);
        juce::String error = "stale";
        EXPECT_FALSE(decodeTresselDna(c.text, out, error));
        EXPECT_EQ(error, c.message);
        EXPECT_EQ(describe(out), before);
    }

    // The tables above must not pass for a reason other than their edit: the untouched text reads.
    TresselDnaPayload payload;
    juce::String error;
    EXPECT_TRUE(decodeTresselDna(valid, payload, error)) << error;
    EXPECT_TRUE(decodeTresselDna(dnaTextOfTree(dnaTree()), payload, error)) << error;
}

TEST(TresselDna, OnlyTheFirstExactStateCounts)
{
    auto tree = makeTresselDnaTree(makeCompleteSession(), makeTaggedState(4));
    juce::ValueTree second{"EXACT_PARAMETER_STATE"};
    second.appendChild(makeTaggedState(5), nullptr);
    second.appendChild(makeTaggedState(6), nullptr);
    tree.appendChild(second, nullptr);

    TresselDnaPayload payload;
    juce::String error;
    ASSERT_TRUE(decodeTresselDna(dnaTextOfTree(tree), payload, error)) << error;
    EXPECT_EQ(treeXmlText(payload.exactState), treeXmlText(makeTaggedState(4)));
}

// "=" ends only its own group, so a text built from separately padded pieces still reads.
TEST(TresselDna, PaddedGroupMayBeFollowedByMoreGroups)
{
    const auto xml = treeXmlText(makeTresselDnaTree(makeCompleteSession(), makeTaggedState(8)));
    const juce::MemoryBlock bytes(xml.toRawUTF8(), xml.getNumBytesAsUTF8());
    const size_t split = 301; // 301 % 3 == 1: the first piece ends in "=="
    const auto first = juce::Base64::toBase64(bytes.getData(), split);
    const auto second =
        juce::Base64::toBase64(static_cast<const char*>(bytes.getData()) + split, bytes.getSize() - split);
    ASSERT_TRUE(first.endsWith("=="));

    TresselDnaPayload payload;
    juce::String error;
    ASSERT_TRUE(decodeTresselDna("SV1:" + first + second, payload, error)) << error;
    EXPECT_EQ(treeXmlText(payload.exactState), treeXmlText(makeTaggedState(8)));
}

TEST(TresselDna, LengthLimitBothWays)
{
    const auto state = makeTaggedState(12);

    const auto atLimit = sessionWithDnaLength(maxTresselDnaLength, state);
    const auto atLimitText = encodeOrFail(atLimit, state);
    ASSERT_EQ(atLimitText.length(), 262144);

    // Base64 only comes in groups of four, so the next text a copy could produce is 262148 long.
    auto overLimit = atLimit;
    overLimit.parentDnaId << "p";
    juce::String error;
    EXPECT_EQ(encodeTresselDna(overLimit, state, error), juce::String());
    EXPECT_EQ(error, limitMessage);
    const auto overLimitText = dnaTextOfTree(makeTresselDnaTree(overLimit, state));
    ASSERT_EQ(overLimitText.length(), 262148);

    const auto decodes = [](const juce::String& text, juce::String& message)
    {
        TresselDnaPayload payload;
        return decodeTresselDna(text, payload, message);
    };

    EXPECT_TRUE(decodes(atLimitText, error)) << error;
    EXPECT_TRUE(decodes("\r\n " + atLimitText + " \n", error)) << error;

    for (const auto& tooLong : {atLimitText + "=", atLimitText + "A", overLimitText})
    {
        ASSERT_GT(tooLong.length(), 262144);
        EXPECT_FALSE(decodes(tooLong, error));
        EXPECT_EQ(error, pasteMessage);
    }
}
