#pragma once

#include <juce_data_structures/juce_data_structures.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sorvane
{
// A preset is a few kilobytes; anything far larger is not one of ours and is never parsed.
inline constexpr std::int64_t maxPresetFileBytes = 1024 * 1024;
// The index of ten thousand presets is about 6 MB.
inline constexpr std::int64_t maxPresetIndexBytes = 64 * 1024 * 1024;
inline constexpr std::int64_t maxPresetBrowserBytes = 4 * 1024 * 1024;

enum class PresetReadResult
{
    ok,
    missing,  // gone or not a regular file (a folder, a FIFO)
    tooLarge, // over the size limit: never read
    notXml,   // unreadable, not strict UTF-8 or not well-formed
    otherRoot // well-formed, but not the expected root type
};

// Reads a bounded file (never blocking on a FIFO) and parses it with the guarded parser into a value
// tree of `rootType`.
PresetReadResult readXmlTree(const juce::File& file, std::int64_t maxBytes, const juce::Identifier& rootType,
                             juce::ValueTree& out);

// The XML text every preset, index and favourites file is written in: "\r\n" line ends.
juce::String presetXmlText(const juce::ValueTree& tree);

// Writes the bytes to a fresh hidden temporary beside target (never matching "*.sorvane"), syncs it
// and renames it over target. A failure leaves target as it was and removes the temporary. With
// `replace` false an existing target is never replaced, even one that appeared meanwhile.
bool writeFileAtomically(const juce::File& target, const juce::String& text, bool replace = true);
// The same, with the reason of a failure as words for a sentence, such as "No space left on device".
bool writeFileAtomically(const juce::File& target, const juce::String& text, bool replace,
                         juce::String& reason);

// Moves `from` to `to` with one rename that never replaces anything at `to`.
bool moveWithoutReplacing(const juce::File& from, const juce::File& to);

// Moves a file into `folder` under its own name, or "name (2).sorvane" and so on when taken; the
// moved file, or a null File on failure.
juce::File moveIntoFolderKeepingName(const juce::File& file, const juce::File& folder);

// The hidden temporary writeFileAtomically writes first: "." + the start of target's name +
// ".partial-" + process, counter and clock + ".tmp", within a folder entry's 255 bytes however long
// target's name is.
juce::File presetTemporaryFileFor(const juce::File& target);

// True for the hidden temporaries writeFileAtomically leaves behind when killed mid-write.
bool isPresetTemporaryFile(const juce::File& file);

// The files in folder (not below it) whose names end in extension, read as the bytes the file system
// holds. A name that is not valid UTF-8 cannot be named exactly through juce::File, whose paths are
// UTF-8: it is left out and added to unlisted, its odd bytes written as "\xE9".
std::vector<juce::File> listFilesWithExtension(const juce::File& folder, const char* extension,
                                               juce::StringArray& unlisted);

// Size and modification time of a regular file, 0 when unavailable.
struct FileStamp
{
    std::int64_t size = 0;
    std::int64_t modifiedMilliseconds = 0;
    bool regular = false;
};
FileStamp statFile(const juce::File& file);
} // namespace sorvane
