#pragma once

#include <juce_core/juce_core.h>

#include <cstddef>
#include <memory>

namespace sorvane
{
// How much outside XML one kind of input may carry. Depth counts elements, the root being 1.
struct XmlLimits
{
    std::size_t maxBytes = 0;
    int maxDepth = 0;
};

// A DNA text is at most 256 KB of characters, so its decoded XML is smaller still.
inline constexpr XmlLimits dnaXmlLimits{262144, 16};
// A host blob holds one state tree and a session of at most 21 trees: a few MB is ample.
inline constexpr XmlLimits hostStateXmlLimits{4u * 1024u * 1024u, 16};

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF, no NUL.
bool isStrictUtf8(const char* bytes, std::size_t size) noexcept;

// The one way outside bytes become XML. JUCE's parser reads past the end of invalid UTF-8, can loop
// on it, expands entities of a document type and recurses once per nesting level, so the bytes are
// checked first: strict UTF-8, within the size cap, no declarations ("<!DOCTYPE", "<!ENTITY" and the
// like), only the five named references and character references, one root element, nesting
// within the depth cap. On refusal returns false, leaves `out` alone and writes `refusal` into
// `error`.
bool parseOutsideXml(const char* bytes, std::size_t size, const XmlLimits& limits,
                     const juce::String& refusal, std::unique_ptr<juce::XmlElement>& out,
                     juce::String& error);
} // namespace sorvane
