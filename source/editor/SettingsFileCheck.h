#pragma once

#include <juce_data_structures/juce_data_structures.h>

namespace knurlkit
{
// Whether a settings file could be written now: its folder exists or can be made, the file is not a
// folder, and a file can be created beside it (PropertiesFile writes a temporary file there and moves
// it over the target). On failure error says why, naming the path.
bool canWriteSettingsFile(const juce::File& settingsFile, juce::String& error);

// Saves the settings at once. On failure error says why.
bool saveSettingsFile(juce::PropertiesFile& settings, juce::String& error);
} // namespace knurlkit
