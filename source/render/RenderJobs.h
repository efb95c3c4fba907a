#pragma once

#include "render/RenderCommandLine.h"

#include <vector>

namespace sorvane::render
{
struct RenderJob
{
    juce::File input, output;
    OutputFormat format = OutputFormat::wav24;
    // Set when the job is refused before it starts; the sentence names the file.
    juce::String refusal;
    // Said after the file is written when its name's extension does not say what it holds.
    juce::String note;
};

// The extensions (any case) a folder is searched for: what the stand-alone app loads.
inline const juce::String renderInputExtensions{".wav;.aif;.aiff;.flac;.ogg;.mp3;.m4a;.aac;.opus"};

// One pair whose input is a folder: its audio files are rendered into the output folder.
bool isFolderRun(const RenderCommand& command, const juce::File& base);

// The usage errors only the file system can tell, found before anything is read or written:
// --keep-extension without an input folder, and (without --format) an output whose extension names
// no format written here, which would otherwise get a WAV without a word.
bool checkOutputNames(const RenderCommand& command, const juce::File& base, juce::String& error);

// Turns the command's paths (relative to `base`) into jobs: INPUT OUTPUT pairs, or an input folder's
// audio files into an output folder (created when missing). A job that must not run, such as one that
// would write over an input (under any spelling: links, "..", hard links) or over another job's output,
// keeps its refusal; false with a sentence only when no job can be planned at all.
bool planRenderJobs(const RenderCommand& command, const juce::File& base, std::vector<RenderJob>& jobs,
                    juce::String& error);

// The path with every link and "..", resolved as far as it exists: the missing part's names are kept
// after the resolved folder they are in.
juce::String resolvedPath(const juce::File& file);

// Whether two paths name one file: the same resolved path, or for files that exist the same inode.
bool sameFile(const juce::File& a, const juce::File& b);
} // namespace sorvane::render
