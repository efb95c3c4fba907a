#pragma once

#include <juce_data_structures/juce_data_structures.h>

namespace knurlkit
{
// Where a settings file with these options lives. JUCE puts Linux settings in a folder directly
// below the home folder; Sorvane keeps them in the user's application-data folder instead, under
// the same folder name.
inline juce::File settingsFileFor(const juce::PropertiesFile::Options& options)
{
#if JUCE_LINUX || JUCE_BSD
    auto name = options.applicationName;
    if (options.filenameSuffix.isNotEmpty())
        name << (options.filenameSuffix.startsWithChar('.') ? "" : ".") << options.filenameSuffix;
    return juce::File::getSpecialLocation(juce::File::userApplicationDataDirectory)
        .getChildFile(options.folderName.isNotEmpty() ? options.folderName : options.applicationName)
        .getChildFile(name);
#else
    return options.getDefaultFile();
#endif
}
} // namespace knurlkit
