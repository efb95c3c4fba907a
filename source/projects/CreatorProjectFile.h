#pragma once

#include "projects/CreatorProjectData.h"

#include <juce_core/juce_core.h>

#include <cstdint>

namespace sorvane
{
inline constexpr int creatorProjectSchemaVersion = 3;
// A project file larger than this is refused unread, and never written.
inline constexpr std::int64_t maxCreatorProjectBytes = 2097152;
inline const juce::String creatorProjectExtension{".sorvaneproject"};

// Writes `data` as a schema 3 project: a temporary file beside `file`, then one durable rename, so
// a failed write leaves any previous project intact. False with a sentence in `error` on refusal.
bool writeCreatorProject(const juce::File& file, const CreatorProjectData& data, juce::String& error);

// Reads and checks a project. On success replaces `data` as a whole; on failure leaves it untouched
// and explains why in `error`. Safe on any thread.
bool readCreatorProject(const juce::File& file, CreatorProjectData& data, juce::String& error);

// Whether `file` is the project's source audio, wherever it now lives: same content fingerprint.
bool sourceMatchesProject(const CreatorProjectData& data, const juce::File& file);
} // namespace sorvane
