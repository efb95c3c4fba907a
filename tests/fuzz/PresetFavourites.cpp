// A favourites file of any bytes: the catalog keeps only non-blank ids, marks exactly the entries they
// name, and writes back a file that reads as the same list.
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
    const auto browser = sorvane::fuzz::presetFuzzBrowserFile();
    require(browser.replaceWithData(data, size), "could not write the input");

    sorvane::PresetCatalog catalog(presets, browser);
    const auto favourites = catalog.getFavourites();
    for (const auto& id : favourites)
        require(id.containsNonWhitespaceChars() && !id.containsChar('\n'), "a blank or multi-line favourite");
    for (const auto& d : catalog.getPresets())
        require(d.favourite == favourites.contains(d.id), "a favourite mark disagrees with the list");

    juce::String reason;
    require(catalog.persistFavourites(reason), "the favourites could not be saved");
    sorvane::PresetCatalog reread(presets, browser);
    // Carriage returns do not survive XML attribute normalisation; every other id comes back exactly.
    if (!favourites.joinIntoString("").containsChar('\r'))
        require(reread.getFavourites() == favourites, "the favourites did not survive a save");
    return 0;
}

void sorvaneFuzzWriteSeeds(const juce::File& folder)
{
    using sorvane::fuzz::writeSeed;
    writeSeed(folder, "favourites.xml",
              juce::String("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<SORVANE_PRESET_BROWSER "
                           "favourites=\"factory:3&#10;factory:15&#10;  &#10;user:/tmp/x.sorvane\"/>\r\n"));
    writeSeed(folder, "other.xml", juce::String("<SORVANE_PRESET_INDEX favourites=\"factory:1\"/>"));
}
