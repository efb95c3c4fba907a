#pragma once

#include "FuzzSupport.h"

#include <unistd.h>

namespace sorvane::fuzz
{
// A preset folder and favourites file of the fuzzer's own, emptied before every input.
inline const juce::File& presetFuzzRoot()
{
    static const juce::File root = juce::File::getSpecialLocation(juce::File::tempDirectory)
                                       .getChildFile("sorvane-preset-fuzz-" + juce::String((int)::getpid()));
    return root;
}

inline juce::File freshPresetFolder()
{
    presetFuzzRoot().deleteRecursively();
    const auto presets = presetFuzzRoot().getChildFile("Presets");
    presets.createDirectory();
    presetFuzzRoot().getChildFile("Data").createDirectory();
    return presets;
}

inline juce::File presetFuzzBrowserFile()
{
    return presetFuzzRoot().getChildFile("Data/PresetBrowser.xml");
}

inline juce::String validPresetText(const juce::String& name)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<SORVANE_STATE presetName=\"" + name +
           "\" presetTags=\"Dark,Wide\">\r\n  <PARAM id=\"drive\" value=\"40.0\"/>\r\n</SORVANE_STATE>\r\n";
}
} // namespace sorvane::fuzz
