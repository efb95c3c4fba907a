#include "workflow/StableHash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using sorvane::stableHash;
using sorvane::stableHashOfUtf8;
using sorvane::treeDigest;
using sorvane::treeXmlText;

namespace
{
// Written from the definition, independently of the product's UTF-8 handling: code points in,
// four little-endian bytes each, FNV-1a.
std::uint64_t referenceHash(const std::vector<std::uint32_t>& codePoints)
{
    std::uint64_t h = 0x14650FB0739D0383ull;
    for (auto c : codePoints)
        for (int byte = 0; byte < 4; ++byte)
        {
            h ^= (c >> (8 * byte)) & 0xFFu;
            h *= 0x100000001B3ull;
        }
    return h;
}

juce::String fromBytes(const std::string& bytes)
{
    return juce::String(juce::CharPointer_UTF8(bytes.c_str()));
}
} // namespace

TEST(StableHash, KnownValues)
{
    EXPECT_EQ(stableHash("abc"), 0x093A578B8E9CD6B3ull);
    EXPECT_EQ(stableHash({}), 0x14650FB0739D0383ull);
    EXPECT_EQ(stableHashOfUtf8("abc", 3), 0x093A578B8E9CD6B3ull);
    EXPECT_EQ(stableHashOfUtf8(nullptr, 0), 0x14650FB0739D0383ull);
    EXPECT_EQ(referenceHash({'a', 'b', 'c'}), 0x093A578B8E9CD6B3ull);
}

TEST(StableHash, CodePointsMatchAnIndependentComputation)
{
    struct Case
    {
        std::string utf8;
        std::vector<std::uint32_t> codePoints;
    };
    const std::vector<Case> cases{
        {"\xC3\xA9", {0xE9}},
        {"\xE2\x82\xAC 5", {0x20AC, ' ', '5'}},
        {"\xF0\x9F\x98\x80", {0x1F600}},
        {"x\xF4\x8F\xBF\xBFy", {'x', 0x10FFFF, 'y'}},
        {"GH\xC3\x96ST \xE6\x97\xA5", {'G', 'H', 0xD6, 'S', 'T', ' ', 0x65E5}},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.utf8);
        const auto expected = referenceHash(c.codePoints);
        EXPECT_EQ(stableHash(fromBytes(c.utf8)), expected);
        EXPECT_EQ(stableHashOfUtf8(c.utf8.data(), c.utf8.size()), expected);
    }
    // A code point is not its UTF-8 bytes: hashing the bytes one by one must differ.
    EXPECT_NE(stableHash(fromBytes("\xC3\xA9")), referenceHash({0xC3, 0xA9}));
}

TEST(StableHash, InvalidUtf8HashesAsReplacementCharacter)
{
    // Only sequences whose replacement count no decoder disputes: a lone 0xFF, a stray continuation
    // byte, a lead byte followed by ASCII.
    struct Case
    {
        std::string bytes;
        std::vector<std::uint32_t> codePoints;
        bool survivesInString; // a String built from a stray leading continuation byte comes out empty
    };
    const std::vector<Case> cases{
        {"a\xFF"
         "b",
         {'a', 0xFFFD, 'b'},
         true},
        {"\x80", {0xFFFD}, false},
        {"\xC3"
         "A",
         {0xFFFD, 'A'},
         true},
        {"z\xFE", {'z', 0xFFFD}, true},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(juce::String::toHexString(c.bytes.data(), (int)c.bytes.size()));
        const auto expected = referenceHash(c.codePoints);
        EXPECT_EQ(stableHashOfUtf8(c.bytes.data(), c.bytes.size()), expected);
        if (c.survivesInString)
        {
            EXPECT_EQ(stableHash(fromBytes(c.bytes)), expected);
        }
    }
}

TEST(StableHash, DigestIsSixteenLowercaseHexDigitsOfTheXmlText)
{
    juce::ValueTree tree{"SORVANE_STATE"};
    juce::ValueTree param{"PARAM"};
    param.setProperty("id", "drive", nullptr);
    param.setProperty("value", 0.25, nullptr);
    tree.appendChild(param, nullptr);

    const auto expectedText = tree.createXml()->toString();
    EXPECT_EQ(treeXmlText(tree), expectedText);
    EXPECT_TRUE(expectedText.startsWith("<?xml"));
    EXPECT_TRUE(expectedText.contains("\r\n"));

    bool sawLeadingZero = false;
    for (int variant = 0; variant < 256; ++variant)
    {
        param.setProperty("value", variant, nullptr);
        const auto digest = treeDigest(tree);
        const auto hash = stableHash(treeXmlText(tree));
        ASSERT_EQ(digest.length(), 16);
        EXPECT_TRUE(digest.containsOnly("0123456789abcdef")) << digest;
        EXPECT_EQ((std::uint64_t)digest.getHexValue64(), hash);
        if (hash < (1ull << 60))
        {
            sawLeadingZero = true;
            EXPECT_EQ(digest[0], '0') << digest;
        }
    }
    EXPECT_TRUE(sawLeadingZero) << "no hash small enough to need padding";

    EXPECT_EQ(treeDigest(juce::ValueTree()), juce::String());
    EXPECT_EQ(treeDigest(juce::ValueTree{"X"}).length(), 16);
}
