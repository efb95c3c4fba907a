// Writes a preset file or the preset index over and over, for tests/process/preset_write_kill_test.py
// to kill:
//
//     PresetWriteDriver preset FOLDER -> "WROTE <n>" after each complete save of FOLDER/Kill.sorvane
//     PresetWriteDriver index FOLDER  -> "WROTE <n>" after each refresh that rewrote the index of the
//                                        presets in FOLDER/Presets (index in FOLDER/Data)
//     PresetWriteDriver check-preset FILE / check-index FILE COUNT
//                                     -> "GENERATION <n>" when the file reads whole, else "ERROR ..."

#include "TestSupport.h"

#include "presets/PresetCatalog.h"
#include "presets/PresetFileIo.h"

#include <iostream>

namespace
{
constexpr int indexedPresets = 400;

int writePresets(const juce::File& folder)
{
    auto processor = sorvane::test::makeProcessor();
    auto state = processor->captureParameterSnapshot();
    // Enough text that a save takes long enough to be interrupted.
    state.setProperty("presetBank", juce::String::repeatedString("bank ", 20000), nullptr);
    for (int generation = 1;; ++generation)
    {
        state.setProperty("generation", generation, nullptr);
        juce::File written;
        juce::String error;
        if (!sorvane::saveUserPreset(folder.getChildFile("Kill.sorvane"), state, *processor, true, written,
                                     error))
        {
            std::cout << "ERROR " << error << std::endl;
            return 1;
        }
        std::cout << "WROTE " << generation << std::endl;
    }
}

int writeIndex(const juce::File& folder)
{
    const auto presets = folder.getChildFile("Presets");
    presets.createDirectory();
    for (int i = 0; i < indexedPresets; ++i)
        presets.getChildFile("P" + juce::String(i) + ".sorvane")
            .replaceWithText("<SORVANE_STATE presetName=\"P" + juce::String(i) + "\"/>");
    sorvane::PresetCatalog catalog(presets, folder.getChildFile("Data/PresetBrowser.xml"));
    for (int generation = 1;; ++generation)
    {
        // A new modification time changes the index text, so every refresh rewrites it.
        presets.getChildFile("P0.sorvane")
            .setLastModificationTime(juce::Time((juce::int64)generation * 1000 + 1000000000000));
        catalog.refreshUserPresets(false);
        std::cout << "WROTE " << generation << std::endl;
    }
}

int checkPreset(const juce::File& file)
{
    juce::ValueTree tree;
    if (sorvane::readXmlTree(file, 4 * sorvane::maxPresetFileBytes, "SORVANE_STATE", tree) !=
            sorvane::PresetReadResult::ok ||
        (int)tree["generation"] < 1 || tree["presetName"].toString() != "Kill")
    {
        std::cout << "ERROR the preset does not read whole" << std::endl;
        return 1;
    }
    std::cout << "GENERATION " << (int)tree["generation"] << std::endl;
    return 0;
}

int checkIndex(const juce::File& file, int count)
{
    juce::ValueTree tree;
    if (sorvane::readXmlTree(file, sorvane::maxPresetIndexBytes, "SORVANE_PRESET_INDEX", tree) !=
            sorvane::PresetReadResult::ok ||
        (int)tree["schemaVersion"] != 2 || tree.getNumChildren() != count)
    {
        std::cout << "ERROR the index does not read whole" << std::endl;
        return 1;
    }
    for (const auto& child : tree)
        if (child["path"].toString().endsWith("/P0.sorvane"))
        {
            const auto modified = (juce::int64)child["lastModifiedMilliseconds"];
            std::cout << "GENERATION " << (modified - 1000000000000) / 1000 << std::endl;
            return 0;
        }
    std::cout << "ERROR P0 is missing" << std::endl;
    return 1;
}
} // namespace

int main(int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;
    const juce::String mode = argc > 2 ? argv[1] : "";
    const juce::File path = argc > 2 ? juce::File(argv[2]) : juce::File();
    if (mode == "preset")
        return writePresets(path);
    if (mode == "index")
        return writeIndex(path);
    if (mode == "check-preset")
        return checkPreset(path);
    if (mode == "check-index" && argc > 3)
        return checkIndex(path, juce::String(argv[3]).getIntValue());
    std::cout << "ERROR usage: PresetWriteDriver preset|index FOLDER, check-preset FILE, check-index FILE N"
              << std::endl;
    return 2;
}
