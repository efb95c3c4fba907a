// The edits of a user preset and the save command. Each writes through a temporary file and one
// rename, and none replaces a file it did not mean to.
#include "presets/PresetCatalog.h"
#include "presets/PresetFileIo.h"
#include "processor/ParameterState.h"

namespace sorvane
{
namespace
{
const juce::Identifier presetName{"presetName"}, presetCategory{"presetCategory"}, presetTags{"presetTags"};

bool fail(juce::String& error, const juce::String& message)
{
    error = message;
    return false;
}

// The sentence and, after it, what the system said; a full disk must read as one.
juce::String withCause(const juce::String& message, const juce::String& reason)
{
    if (reason.isEmpty())
        return message;
    return message + " " + reason.substring(0, 1).toUpperCase() + reason.substring(1) + ".";
}

bool samePath(const juce::File& a, const juce::File& b)
{
    return juce::File::areFileNamesCaseSensitive()
               ? a.getFullPathName() == b.getFullPathName()
               : a.getFullPathName().equalsIgnoreCase(b.getFullPathName());
}

float normalised(const juce::AudioProcessor& processor, const char* id)
{
    for (auto* p : processor.getParameters())
        if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*>(p);
            ranged && ranged->getParameterID() == id)
            return ranged->getValue();
    return 0.0f;
}
} // namespace

juce::File PresetCatalog::fileForName(const juce::String& name) const
{
    return userDirectory.getChildFile(juce::File::createLegalFileName(name.trim()) + ".sorvane");
}

bool PresetCatalog::renamePreset(const juce::String& id, const juce::String& newNameText, juce::String& error)
{
    error.clear();
    const auto newName = newNameText.trim();
    const auto fileName = juce::File::createLegalFileName(newName);
    const auto* entry = find(id);
    if (entry == nullptr || !entry->isValidUser())
        return fail(error, "Only a valid user preset can be renamed.");
    if (fileName.isEmpty())
        return fail(error, "Enter a non-empty preset name.");

    const auto oldFile = entry->path;
    const auto target = fileForName(newName);
    const bool sameFile = samePath(target, oldFile);
    if (target.exists() && !sameFile)
        return fail(error, "A user preset with that name already exists.");

    const bool wasFavourite = favourites.contains(id);
    juce::ValueTree tree;
    if (readXmlTree(oldFile, maxPresetFileBytes, stateIds::stateType, tree) != PresetReadResult::ok)
        return fail(error, "The preset could not be read before renaming.");

    tree.setProperty(presetName, newName, nullptr);
    // A new name never replaces a file that appeared since the check above.
    if (juce::String reason; !writePresetTreeAtomically(target, tree, sameFile, reason))
        return fail(error, target.exists() && !sameFile
                               ? "A user preset with that name already exists."
                               : withCause("Could not update the renamed preset metadata.", reason));
    if (!sameFile && !oldFile.deleteFile())
    {
        target.deleteFile();
        return fail(error, "Could not remove the old preset after preparing its renamed copy.");
    }

    favourites.removeString(id);
    if (wasFavourite)
        favourites.addIfNotAlreadyThere(userId(target));
    // The file is renamed already, so the rename stands even when the list cannot be saved; the old id
    // left in the file then matches nothing, and the next start shows the preset unmarked.
    juce::String notSaved;
    persistFavourites(notSaved);
    refreshUserPresets(true);
    return true;
}

bool PresetCatalog::duplicatePreset(const juce::String& id, const juce::String& newNameText,
                                    juce::String& error)
{
    error.clear();
    const auto newName = newNameText.trim();
    const auto fileName = juce::File::createLegalFileName(newName);
    const auto* entry = find(id);
    if (entry == nullptr || !entry->isValidUser())
        return fail(error, "Only a valid user preset can be duplicated.");
    if (fileName.isEmpty())
        return fail(error, "Enter a non-empty duplicate name.");

    const auto target = fileForName(newName);
    if (target.exists())
        return fail(error, "A user preset with that name already exists.");

    // Read the original and write the renamed copy in one publication: no half-finished copy is ever
    // visible under the new name, and nothing that appears there meanwhile is replaced.
    juce::ValueTree tree;
    if (readXmlTree(entry->path, maxPresetFileBytes, stateIds::stateType, tree) != PresetReadResult::ok)
        return fail(error, "The duplicated preset could not be read.");
    tree.setProperty(presetName, newName, nullptr);
    if (juce::String reason; !writePresetTreeAtomically(target, tree, false, reason))
        return fail(error, target.exists() ? "A user preset with that name already exists."
                                           : withCause("Could not duplicate the user preset.", reason));
    refreshUserPresets(true);
    return true;
}

bool PresetCatalog::editMetadata(const juce::String& id, const juce::String& categoryText,
                                 const juce::String& tagsText, juce::String& error)
{
    error.clear();
    juce::StringArray tags;
    for (const auto& tag : splitPresetTags(tagsText))
        tags.addIfNotAlreadyThere(tag, true);
    const auto category = categoryText.trim();

    const auto* entry = find(id);
    if (entry == nullptr || !entry->isValidUser())
        return fail(error, "Only a valid user preset can be edited.");
    if (category.isEmpty() || tags.isEmpty())
        return fail(error, "Preset category and at least one tag are required.");

    const auto file = entry->path;
    juce::ValueTree tree;
    if (readXmlTree(file, maxPresetFileBytes, stateIds::stateType, tree) != PresetReadResult::ok)
        return fail(error, "The user preset is no longer readable.");
    tree.setProperty(presetCategory, category, nullptr);
    tree.setProperty(presetTags, tags.joinIntoString(","), nullptr);
    if (juce::String reason; !writePresetTreeAtomically(file, tree, true, reason))
        return fail(error, withCause("Could not atomically update preset metadata.", reason));
    refreshUserPresets(true);
    return true;
}

bool PresetCatalog::moveToTrash(const juce::String& id, juce::String& error)
{
    error.clear();
    const auto* entry = find(id);
    if (entry == nullptr || !entry->isUser())
        return fail(error, "Only a user preset can be removed.");

    const auto trash = getTrashDirectory();
    if (!trash.isDirectory() && trash.createDirectory().failed())
        return fail(error, "Could not create the recoverable preset Trash folder.");
    if (moveIntoFolderKeepingName(entry->path, trash) == juce::File())
        return fail(error, "Could not move the preset to the recoverable Trash folder.");

    favourites.removeString(id);
    // The file is in the Trash already; an old id left in an unsaved list matches no preset.
    juce::String notSaved;
    persistFavourites(notSaved);
    refreshUserPresets(true);
    return true;
}

//======================================================================================================
juce::String automaticPresetTags(const juce::AudioProcessor& processor)
{
    const auto v = [&processor](const char* id) { return normalised(processor, id); };
    juce::StringArray tags;
    tags.add(v("tone") >= 0.55f ? "Bright" : "Dark");
    if (v("glitch") >= 0.35f || v("spectralRate") >= 0.55f)
        tags.add("Rhythmic");
    if (v("resonance") >= 0.35f)
        tags.add("Tonal");
    if (v("dimension") >= 0.45f || v("delay") >= 0.45f)
        tags.add("Wide");
    if (v("drive") >= 0.65f || v("crush") >= 0.65f || v("glitch") >= 0.75f)
        tags.add("Extreme");
    return tags.joinIntoString(",");
}

bool saveUserPreset(const juce::File& chosen, juce::ValueTree state, const juce::AudioProcessor& processor,
                    bool replaceExisting, juce::File& written, juce::String& error)
{
    error.clear();
    auto file = chosen;
    if (file.getFullPathName().isNotEmpty() && !file.isDirectory() && file.getFileExtension().isEmpty())
        file = file.withFileExtension(".sorvane");
    if (file.getFullPathName().isEmpty() || file.isDirectory())
        return fail(error, "Choose a writable preset file.");

    const auto folder = file.getParentDirectory();
    if (!folder.isDirectory() && folder.createDirectory().failed())
        return fail(error, "Could not create the preset folder.");

    state.setProperty(presetName, file.getFileNameWithoutExtension(), nullptr);
    if (state[presetCategory].toString().isEmpty())
        state.setProperty(presetCategory, "User", nullptr);
    if (state[presetTags].toString().isEmpty())
        state.setProperty(presetTags, automaticPresetTags(processor), nullptr);

    if (juce::String reason; !writePresetTreeAtomically(file, state, replaceExisting, reason))
        return fail(error, !replaceExisting && file.exists()
                               ? "A preset with that name was saved meanwhile; nothing was overwritten."
                               : withCause("Could not write the Sorvane preset.", reason));
    written = file;
    return true;
}
} // namespace sorvane
