#include "processor/SafeXml.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <unordered_set>

namespace sorvane
{
namespace
{
bool isXmlSpace(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// JUCE's name characters plus any non-ASCII byte: JUCE refuses some of those itself, which only
// makes it stop earlier than this scan, never nest deeper.
bool isNameByte(char c) noexcept
{
    const auto u = (unsigned char)c;
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' ||
           u == ':' || u == '.' || u == '-' || u >= 0x80;
}

bool isValidCodePoint(std::uint32_t c) noexcept
{
    return c >= 1 && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
}

// A tokeniser of exactly the XML that JUCE's writer produces, strict wherever JUCE is lenient, so
// that every '<' JUCE's parser will act on has been classified here and counted.
class MarkupScan
{
public:
    MarkupScan(const char* bytes, std::size_t size, int maxDepth)
        : text(bytes), size(size), maxDepth(maxDepth)
    {
    }

    bool run()
    {
        while (pos < size)
        {
            const char c = text[pos];
            if (c == '<')
            {
                if (!markup())
                    return false;
            }
            else if (depth == 0)
            {
                if (!isXmlSpace(c)) // text outside the root
                    return false;
                ++pos;
            }
            else if (c == '&')
            {
                if (!reference())
                    return false;
            }
            else
            {
                ++pos;
            }
        }
        return rootClosed;
    }

private:
    const char* text;
    std::size_t size;
    int maxDepth;
    std::size_t pos = 0;
    int depth = 0;
    bool rootClosed = false;

    bool at(const char* literal) const noexcept
    {
        const auto n = std::strlen(literal);
        return size - pos >= n && std::memcmp(text + pos, literal, n) == 0;
    }

    bool skipPast(const char* terminator) noexcept
    {
        const auto n = std::strlen(terminator);
        for (; size - pos >= n; ++pos)
            if (std::memcmp(text + pos, terminator, n) == 0)
            {
                pos += n;
                return true;
            }
        return false;
    }

    void skipSpace() noexcept
    {
        while (pos < size && isXmlSpace(text[pos]))
            ++pos;
    }

    bool name() noexcept
    {
        const auto start = pos;
        while (pos < size && isNameByte(text[pos]))
            ++pos;
        return pos > start;
    }

    bool markup()
    {
        if (at("<!--"))
            return skipPast("-->");
        if (at("<?"))
            return skipPast("?>");
        if (at("<![CDATA["))
            return depth > 0 && skipPast("]]>");
        if (at("<!")) // DOCTYPE, ENTITY and every other declaration
            return false;
        if (at("</"))
            return endTag();
        return startTag();
    }

    bool endTag()
    {
        if (depth == 0)
            return false;
        pos += 2;
        if (!name())
            return false;
        skipSpace();
        if (pos >= size || text[pos] != '>')
            return false;
        ++pos;
        if (--depth == 0)
            rootClosed = true;
        return true;
    }

    bool startTag()
    {
        if (rootClosed) // a second root
            return false;
        ++pos;
        if (!name())
            return false;

        // A repeated attribute becomes two properties of one name, of which JUCE reads the first and
        // writes both: a state that no longer reloads to itself.
        std::unordered_set<std::string_view> seen;
        for (;;)
        {
            skipSpace();
            if (at("/>"))
            {
                pos += 2;
                if (depth == 0)
                    rootClosed = true;
                return true;
            }
            if (at(">"))
            {
                ++pos;
                return ++depth <= maxDepth;
            }
            if (!attribute(seen))
                return false;
        }
    }

    bool attribute(std::unordered_set<std::string_view>& seen)
    {
        const auto start = pos;
        if (!name() || !seen.insert(std::string_view(text + start, pos - start)).second)
            return false;
        // The value tree conversion decodes a "base64:" attribute into a block of whatever size its
        // text names (std::bad_alloc for "-1."); nothing Sorvane writes carries one.
        if (std::string_view(text + start, pos - start).rfind("base64:", 0) == 0)
            return false;
        skipSpace();
        if (!at("="))
            return false;
        ++pos;
        skipSpace();
        if (pos >= size || (text[pos] != '"' && text[pos] != '\''))
            return false;

        const char quote = text[pos++];
        while (pos < size && text[pos] != quote)
        {
            if (text[pos] == '<')
                return false;
            if (text[pos] == '&')
            {
                if (!reference())
                    return false;
            }
            else
            {
                ++pos;
            }
        }
        if (pos >= size)
            return false;
        ++pos;
        return true;
    }

    // Only what JUCE's writer emits; anything else would send JUCE looking for a definition.
    bool reference()
    {
        for (const char* named : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"})
            if (at(named))
            {
                pos += std::strlen(named);
                return true;
            }

        if (!at("&#"))
            return false;
        pos += 2;
        const bool hex = pos < size && text[pos] == 'x';
        if (hex)
            ++pos;

        std::uint32_t value = 0;
        int digits = 0;
        for (; pos < size && text[pos] != ';'; ++pos, ++digits)
        {
            const char c = text[pos];
            int digit = -1;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            // JUCE gives up after 8 hex or 12 decimal digits and then steps out of sync.
            if (digit < 0 || digits >= (hex ? 8 : 12))
                return false;
            value = value * (hex ? 16u : 10u) + (std::uint32_t)digit;
            if (value > 0x10FFFF)
                return false;
        }
        if (pos >= size || digits == 0 || !isValidCodePoint(value))
            return false;
        ++pos;
        return true;
    }
};
} // namespace

bool isStrictUtf8(const char* bytes, std::size_t size) noexcept
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    std::size_t i = 0;
    while (i < size)
    {
        const std::uint32_t lead = p[i];
        if (lead == 0)
            return false;
        if (lead < 0x80)
        {
            ++i;
            continue;
        }

        std::size_t extra = 0;
        std::uint32_t c = 0;
        if (lead >= 0xC2 && lead <= 0xDF)
        {
            extra = 1;
            c = lead & 0x1F;
        }
        else if (lead >= 0xE0 && lead <= 0xEF)
        {
            extra = 2;
            c = lead & 0x0F;
        }
        else if (lead >= 0xF0 && lead <= 0xF4)
        {
            extra = 3;
            c = lead & 0x07;
        }
        else
        {
            return false; // continuation byte, overlong two-byte lead, or beyond U+10FFFF
        }

        if (size - i - 1 < extra)
            return false;
        for (std::size_t k = 1; k <= extra; ++k)
        {
            const std::uint32_t b = p[i + k];
            if ((b & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (b & 0x3F);
        }

        if ((extra == 2 && c < 0x800) || (extra == 3 && c < 0x10000) || !isValidCodePoint(c))
            return false;
        i += extra + 1;
    }
    return true;
}

bool parseOutsideXml(const char* bytes, std::size_t size, const XmlLimits& limits,
                     const juce::String& refusal, std::unique_ptr<juce::XmlElement>& out, juce::String& error)
{
    error.clear();
    const auto refuse = [&]
    {
        error = refusal;
        return false;
    };

    if (bytes == nullptr || size == 0 || size > limits.maxBytes ||
        size > (std::size_t)std::numeric_limits<int>::max())
        return refuse();
    // No juce::String may be made before this: JUCE keeps invalid bytes as they are and later steps
    // over the end of them.
    if (!isStrictUtf8(bytes, size))
        return refuse();
    if (!MarkupScan(bytes, size, limits.maxDepth).run())
        return refuse();

    juce::XmlDocument document(juce::String::fromUTF8(bytes, (int)size));
    auto xml = document.getDocumentElement();
    if (xml == nullptr)
        return refuse();

    out = std::move(xml);
    return true;
}
} // namespace sorvane
