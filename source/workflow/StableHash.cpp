#include "workflow/StableHash.h"

namespace sorvane
{
namespace
{
constexpr std::uint64_t hashStart = 0x14650FB0739D0383ull;
constexpr std::uint64_t hashPrime = 0x100000001B3ull;

inline void foldCodePoint(std::uint64_t& h, std::uint32_t c) noexcept
{
    for (int byte = 0; byte < 4; ++byte)
    {
        h ^= (c >> (8 * byte)) & 0xFFu;
        h *= hashPrime;
    }
}

constexpr std::uint32_t replacementCharacter = 0xFFFD;

// Decodes one code point starting at bytes[i]; advances i past it. Overlong forms, surrogates and
// values beyond U+10FFFF are malformed and consume a single byte.
std::uint32_t decodeUtf8(const unsigned char* bytes, std::size_t size, std::size_t& i) noexcept
{
    const unsigned char lead = bytes[i];
    if (lead < 0x80)
    {
        ++i;
        return lead;
    }

    int extra = 0;
    std::uint32_t c = 0, minimum = 0;
    if ((lead & 0xE0) == 0xC0)
        extra = 1, c = lead & 0x1Fu, minimum = 0x80;
    else if ((lead & 0xF0) == 0xE0)
        extra = 2, c = lead & 0x0Fu, minimum = 0x800;
    else if ((lead & 0xF8) == 0xF0)
        extra = 3, c = lead & 0x07u, minimum = 0x10000;
    else
    {
        ++i;
        return replacementCharacter;
    }

    if (i + (std::size_t)extra >= size)
    {
        ++i;
        return replacementCharacter;
    }

    for (int k = 1; k <= extra; ++k)
    {
        const unsigned char next = bytes[i + (std::size_t)k];
        if ((next & 0xC0) != 0x80)
        {
            ++i;
            return replacementCharacter;
        }
        c = (c << 6) | (next & 0x3Fu);
    }

    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
    {
        ++i;
        return replacementCharacter;
    }

    i += (std::size_t)extra + 1;
    return c;
}
} // namespace

std::uint64_t stableHashOfUtf8(const char* bytes, std::size_t numBytes) noexcept
{
    std::uint64_t h = hashStart;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < numBytes;)
        foldCodePoint(h, decodeUtf8(data, numBytes, i));
    return h;
}

std::uint64_t stableHash(const juce::String& text) noexcept
{
    // A String keeps malformed UTF-8 it was built from, and its own decoder turns that into arbitrary
    // code points; decoding the raw bytes here keeps the U+FFFD rule.
    return stableHashOfUtf8(text.toRawUTF8(), text.getNumBytesAsUTF8());
}

juce::String treeXmlText(const juce::ValueTree& tree)
{
    if (auto xml = tree.createXml())
        return xml->toString();
    return {};
}

juce::String treeDigest(const juce::ValueTree& tree)
{
    if (!tree.isValid())
        return {};
    return juce::String::toHexString((juce::int64)stableHash(treeXmlText(tree))).paddedLeft('0', 16);
}
} // namespace sorvane
