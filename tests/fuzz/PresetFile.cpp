// A user preset file of any bytes: the catalog lists it either as a valid preset where it lies or as a
// quarantined one holding the very same bytes, never loses it, and applying a valid one leaves every
// parameter in range.
#include "PresetFuzzSupport.h"

#include "presets/PresetCatalog.h"
#include "processor/SorvaneAudioProcessor.h"

namespace
{
using sorvane::fuzz::require;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sorvane::fuzz::ensureJuce();
    const auto presets = sorvane::fuzz::freshPresetFolder();
    const auto file = presets.getChildFile("input.sorvane");
    require(file.replaceWithData(data, size), "could not write the input");

    sorvane::PresetCatalog catalog(presets, sorvane::fuzz::presetFuzzBrowserFile());
    std::vector<sorvane::PresetDescriptor> users;
    for (const auto& d : catalog.getPresets())
        if (d.isUser())
            users.push_back(d);
    require(users.size() == 1, "the file is not listed exactly once");
    const auto& entry = users[0];
    require(entry.valid == (entry.path == file), "a valid preset moved or a broken one stayed");
    require(entry.valid || entry.path.isAChildOf(catalog.getQuarantineDirectory()),
            "broken outside quarantine");
    require(entry.valid || entry.error.isNotEmpty(), "a broken preset without a reason");

    juce::MemoryBlock after;
    require(entry.path.loadFileAsData(after) && after.getSize() == size &&
                (size == 0 || std::memcmp(after.getData(), data, size) == 0),
            "the preset's bytes changed");

    if (entry.valid)
    {
        static auto* processor = new SorvaneAudioProcessor();
        juce::String error;
        processor->applyBrowserPreset(entry, error);
        sorvane::fuzz::requireSoundParameters(*processor);
    }
    return 0;
}

void sorvaneFuzzWriteSeeds(const juce::File& folder)
{
    using sorvane::fuzz::writeSeed;
    writeSeed(folder, "valid.sorvane", sorvane::fuzz::validPresetText("Seed"));
    writeSeed(folder, "other-root.sorvane", juce::String("<OTHER_STATE a=\"1\"/>"));
    writeSeed(folder, "truncated.sorvane", sorvane::fuzz::validPresetText("Seed").dropLastCharacters(30));
    writeSeed(folder, "out-of-range.sorvane",
              juce::String("<SORVANE_STATE><PARAM id=\"drive\" value=\"1e30\"/><PARAM id=\"mix\" "
                           "value=\"nan\"/></SORVANE_STATE>"));
}
