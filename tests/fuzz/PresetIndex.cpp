// A preset index of any bytes is a cache and never a source of truth: the real preset beside it is
// listed under its own path, and the index is rewritten as a complete schema 2 index of that one file.
#include "PresetFuzzSupport.h"

#include "presets/PresetCatalog.h"

namespace
{
using sorvane::fuzz::require;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sorvane::fuzz::ensureJuce();
    const auto presets = sorvane::fuzz::freshPresetFolder();
    const auto preset = presets.getChildFile("Real.sorvane");
    preset.replaceWithText(sorvane::fuzz::validPresetText("Real"), false, false, nullptr);
    const auto index = sorvane::fuzz::presetFuzzBrowserFile().getSiblingFile("PresetIndex.xml");
    require(index.replaceWithData(data, size), "could not write the input");

    sorvane::PresetCatalog catalog(presets, sorvane::fuzz::presetFuzzBrowserFile());
    int users = 0;
    for (const auto& d : catalog.getPresets())
        if (d.isUser())
        {
            ++users;
            require(d.path == preset && d.id == sorvane::userId(preset), "the preset is listed elsewhere");
            require(d.valid, "a valid preset was listed as broken");
            require(d.name.length() <= 256 && d.tags.size() <= 256, "unbounded metadata from the index");
        }
    require(users == 1, "the preset is not listed exactly once");
    require(preset.loadFileAsString() == sorvane::fuzz::validPresetText("Real"), "the preset changed");

    const auto rewritten = juce::parseXML(index);
    require(rewritten != nullptr && rewritten->getTagName() == "SORVANE_PRESET_INDEX" &&
                rewritten->getIntAttribute("schemaVersion") == 2 && rewritten->getNumChildElements() == 1,
            "the index was not rewritten whole");
    return 0;
}

void sorvaneFuzzWriteSeeds(const juce::File& folder)
{
    using sorvane::fuzz::writeSeed;
    const auto presets = sorvane::fuzz::freshPresetFolder();
    presets.getChildFile("Real.sorvane")
        .replaceWithText(sorvane::fuzz::validPresetText("Real"), false, false, nullptr);
    sorvane::PresetCatalog catalog(presets, sorvane::fuzz::presetFuzzBrowserFile());
    const auto text = catalog.getIndexFile().loadFileAsString();
    writeSeed(folder, "index.xml", text);
    writeSeed(folder, "index-renamed.xml", text.replace("Real", "Cached"));
    writeSeed(folder, "index-schema-1.xml", text.replace("schemaVersion=\"2\"", "schemaVersion=\"1\""));
}
