#pragma once

#include <juce_data_structures/juce_data_structures.h>

#include <cstddef>
#include <cstdint>

namespace sorvane
{
// FNV-1a over the text's code points, each folded in as four little-endian bytes. Stable across
// machines and versions: digests and daily seeds depend on it.
std::uint64_t stableHash(const juce::String& text) noexcept;

// The same hash over raw bytes read as UTF-8; a malformed sequence counts as U+FFFD.
std::uint64_t stableHashOfUtf8(const char* bytes, std::size_t numBytes) noexcept;

// The tree's XML text in the one format every digest and DNA payload uses.
juce::String treeXmlText(const juce::ValueTree& tree);

// 16 lowercase hex digits identifying a tree's exact content; empty for an invalid tree.
juce::String treeDigest(const juce::ValueTree& tree);
} // namespace sorvane
