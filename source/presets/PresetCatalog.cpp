#include "presets/PresetCatalog.h"

#include "presets/FactoryPresets.h"
#include "presets/PresetFileIo.h"
#include "processor/ParameterState.h"
#include "transport/RegularFile.h"

#include <algorithm>

namespace sorvane
{
namespace
{
namespace ids
{
const juce::Identifier indexType{"SORVANE_PRESET_INDEX"};
const juce::Identifier browserType{"SORVANE_PRESET_BROWSER"};
const juce::Identifier preset{"PRESET"};
const juce::Identifier schemaVersion{"schemaVersion"};
const juce::Identifier favourites{"favourites"};
const juce::Identifier id{"id"}, path{"path"}, name{"name"}, category{"category"}, tags{"tags"},
    bestSource{"bestSource"}, intensity{"intensity"}, bank{"bank"}, contentHash{"contentHash"},
    valid{"valid"}, error{"error"}, fileSize{"fileSize"}, lastModified{"lastModifiedMilliseconds"};
const juce::Identifier presetName{"presetName"}, presetCategory{"presetCategory"}, presetTags{"presetTags"},
    presetBestSource{"presetBestSource"}, presetIntensity{"presetIntensity"}, presetBank{"presetBank"};
} // namespace ids

constexpr int indexSchemaVersion = 2;
// Outside text shown in a one-line combo: a name of a megabyte would stall every repaint.
constexpr int maxMetadataCharacters = 256;

juce::String bounded(const juce::String& text)
{
    return text.length() > maxMetadataCharacters ? text.substring(0, maxMetadataCharacters) : text;
}

juce::String pathKey(const juce::File& file)
{
    const auto path = file.getFullPathName();
    return juce::File::areFileNamesCaseSensitive() ? path : path.toLowerCase();
}

bool containsIgnoringCase(const juce::String& text, const juce::String& search)
{
    return text.containsIgnoreCase(search);
}
} // namespace

//======================================================================================================
juce::String PresetDescriptor::description() const
{
    auto text = name + " / " + category + " / " + tags.joinIntoString(", ");
    if (bestSource.isNotEmpty())
        text << " / Best source: " << bestSource;
    if (intensity >= 0)
        text << " / Intensity: " << juce::String(intensity) << "/100";
    if (!variations.isEmpty())
        text << " / TRESSEL variations: " << variations.joinIntoString(", ");
    if (descriptionText.isNotEmpty())
        text << " / " << descriptionText;
    return text;
}

juce::StringArray splitPresetTags(const juce::String& text)
{
    juce::StringArray parts;
    parts.addTokens(text, ",", {});
    juce::StringArray result;
    for (auto part : parts)
        if (part.trim().isNotEmpty())
            result.add(bounded(part.trim()));
    return result;
}

juce::String userId(const juce::File& file)
{
    return "user:" + pathKey(file);
}

juce::String fileContentHash(const juce::File& file)
{
    juce::String error;
    const auto stream = openRegularFile(file, error);
    if (stream == nullptr)
        return {};
    std::uint64_t hash = 0x14650FB0739D0383ull;
    char block[16384];
    for (;;)
    {
        const int got = stream->read(block, (int)sizeof(block));
        if (got <= 0)
            break;
        for (int i = 0; i < got; ++i)
            hash = (hash ^ (std::uint8_t)block[i]) * 0x100000001B3ull;
    }
    const auto stamp = statFile(file);
    return juce::String::toHexString((juce::int64)hash).paddedLeft('0', 16) + ":" + juce::String(stamp.size);
}

bool writePresetTreeAtomically(const juce::File& file, const juce::ValueTree& tree, bool replace)
{
    juce::String unused;
    return writePresetTreeAtomically(file, tree, replace, unused);
}

bool writePresetTreeAtomically(const juce::File& file, const juce::ValueTree& tree, bool replace,
                               juce::String& reason)
{
    reason.clear();
    const auto text = presetXmlText(withoutLocalProperties(tree));
    return text.isNotEmpty() && writeFileAtomically(file, text, replace, reason);
}

bool matchesDiscovery(const PresetDescriptor& entry, const DiscoveryFilter& filter)
{
    const auto b = entry.bestSource.toLowerCase();
    const auto s = filter.source.toLowerCase();
    bool sourcePasses = false;
    if (s == "all")
        sourcePasses = true;
    else if (s == "unknown")
        sourcePasses = b.isEmpty() || b == "anything";
    else if (b == "anything")
        sourcePasses = true;
    else if (s == "full mix")
        sourcePasses = b.contains("mix");
    else
        sourcePasses = s.isEmpty() || b.contains(s);
    if (!sourcePasses)
        return false;

    static const char* const purposes[] = {"Warmth", "Width", "Motion", "Texture", "Destruction"};
    if (filter.purpose != "All")
    {
        bool passes = false;
        if (filter.purpose == "Unknown")
        {
            passes = true;
            for (const auto& tag : entry.tags)
                for (auto* purpose : purposes)
                    if (tag.equalsIgnoreCase(purpose))
                        passes = false;
        }
        else
        {
            for (const auto& tag : entry.tags)
                passes = passes || tag.equalsIgnoreCase(filter.purpose);
        }
        if (!passes)
            return false;
    }

    const int n = entry.intensity;
    switch (filter.intensityBand)
    {
    case 0:
        return true;
    case 4:
        return n < 0;
    case 1:
        return n >= 0 && n <= 30;
    case 2:
        return n >= 31 && n <= 65;
    default:
        return n >= 66;
    }
}

//======================================================================================================
PresetCatalog::PresetCatalog() : PresetCatalog(defaultUserPresetDirectory(), defaultBrowserFile()) {}

PresetCatalog::PresetCatalog(const juce::File& userPresetFolder, const juce::File& favouritesFile)
    : userDirectory(userPresetFolder), browserFile(favouritesFile),
      indexFile(favouritesFile.getSiblingFile("PresetIndex.xml"))
{
    loadFavourites();
    addFactoryEntries();
    refreshUserPresets(false);
}

juce::File PresetCatalog::defaultUserPresetDirectory()
{
    return juce::File::getSpecialLocation(juce::File::userDocumentsDirectory)
        .getChildFile("Kavix")
        .getChildFile("Sorvane")
        .getChildFile("Presets");
}

juce::File PresetCatalog::defaultBrowserFile()
{
    return juce::File::getSpecialLocation(juce::File::userApplicationDataDirectory)
        .getChildFile("Kavix")
        .getChildFile("Sorvane")
        .getChildFile("PresetBrowser.xml");
}

void PresetCatalog::loadFavourites()
{
    favourites.clear();
    juce::ValueTree tree;
    if (readXmlTree(browserFile, maxPresetBrowserBytes, ids::browserType, tree) != PresetReadResult::ok)
        return;
    juce::StringArray lines;
    lines.addTokens(tree[ids::favourites].toString(), "\n", {});
    for (const auto& line : lines)
        if (line.containsNonWhitespaceChars())
            favourites.add(line);
}

void PresetCatalog::addFactoryEntries()
{
    const auto& rows = factoryPresets();
    for (int i = 0; i < (int)rows.size(); ++i)
    {
        const auto& row = rows[(size_t)i];
        PresetDescriptor d;
        d.id = "factory:" + juce::String(i);
        d.name = row.name;
        d.kind = PresetKind::Factory;
        d.category = row.category;
        d.tags = splitPresetTags(row.tags);
        d.bestSource = row.bestSource;
        d.intensity = row.intensity;
        d.bank = effectiveFactoryBank(row);
        d.descriptionText = row.description;
        for (const auto& variation : row.variations)
            d.variations.add(variation.name);
        d.factoryIndex = i;
        d.favourite = favourites.contains(d.id);
        d.valid = true;
        browserOrder.clear();
        presets.push_back(std::move(d));
    }
}

void PresetCatalog::appendUserEntry(PresetDescriptor entry)
{
    removeEntry(entry.id);
    userIds.insert(entry.id);
    browserOrder.clear();
    presets.push_back(std::move(entry));
}

void PresetCatalog::removeEntry(const juce::String& id)
{
    if (!id.startsWith("factory:") && userIds.erase(id) == 0)
        return;
    browserOrder.clear();
    presets.erase(std::remove_if(presets.begin(), presets.end(),
                                 [&id](const PresetDescriptor& d) { return d.id == id; }),
                  presets.end());
}

void PresetCatalog::refreshUserPresets(bool forceRescan)
{
    cache.clear();
    juce::ValueTree index;
    if (!forceRescan &&
        readXmlTree(indexFile, maxPresetIndexBytes, ids::indexType, index) == PresetReadResult::ok &&
        (int)index.getProperty(ids::schemaVersion, 0) == indexSchemaVersion &&
        index[ids::schemaVersion].toString().trim() == juce::String(indexSchemaVersion))
    {
        for (const auto& child : index)
        {
            const auto path = child[ids::path].toString();
            if (!child.hasType(ids::preset) || path.isEmpty() || !juce::File::isAbsolutePath(path))
                continue;
            const auto key = pathKey(juce::File(path));
            if (cache.find(key) != cache.end())
                continue;
            PresetDescriptor d;
            d.id = child[ids::id].toString();
            d.name = bounded(child[ids::name].toString());
            d.category = bounded(child[ids::category].toString());
            d.bestSource = bounded(child[ids::bestSource].toString());
            d.intensity = (int)child.getProperty(ids::intensity, -1);
            d.bank = bounded(child[ids::bank].toString());
            d.tags = splitPresetTags(child[ids::tags].toString());
            d.contentHash = child[ids::contentHash].toString();
            d.valid = (bool)child.getProperty(ids::valid, true);
            d.error = bounded(child[ids::error].toString());
            d.fileSize = (juce::int64)child.getProperty(ids::fileSize, (juce::int64)-1);
            d.lastModifiedMilliseconds = (juce::int64)child.getProperty(ids::lastModified, (juce::int64)-1);
            d.kind = PresetKind::User;
            cache.emplace(key, std::move(d));
        }
    }

    browserOrder.clear();

    presets.erase(std::remove_if(presets.begin(), presets.end(),
                                 [](const PresetDescriptor& d) { return d.kind == PresetKind::User; }),
                  presets.end());
    userIds.clear();

    juce::StringArray unlisted;
    const auto listAndExamine = [this, &unlisted](const juce::File& folder, bool inQuarantine)
    {
        if (!folder.isDirectory())
            return;
        for (const auto& file : listFilesWithExtension(folder, ".sorvane", unlisted))
            if (!isPresetTemporaryFile(file))
                examineFile(file, inQuarantine);
    };
    listAndExamine(userDirectory, false);
    listAndExamine(getQuarantineDirectory(), true);
    unlistedFileNames = unlisted;
    cache.clear();
    persistIndex();
}

void PresetCatalog::examineFile(const juce::File& file, bool inQuarantine)
{
    // A file moved into the quarantine by this refresh is listed already, with the reason it was moved.
    if (inQuarantine && userIds.count(userId(file)) > 0)
        return;
    const auto stamp = statFile(file);
    if (const auto cached = cache.find(pathKey(file)); cached != cache.end())
    {
        const auto& c = cached->second;
        // The stored hash names the size it was taken at: an index edited by hand cannot vouch for a
        // file of another size.
        if (stamp.regular && c.name.isNotEmpty() && c.fileSize == stamp.size &&
            c.lastModifiedMilliseconds == stamp.modifiedMilliseconds && c.valid == !inQuarantine &&
            c.contentHash.endsWith(":" + juce::String(stamp.size)))
        {
            auto d = c;
            d.path = file;
            d.id = userId(file);
            d.kind = PresetKind::User;
            d.factoryIndex = -1;
            d.variations.clear();
            d.descriptionText.clear();
            d.favourite = favourites.contains(d.id);
            appendUserEntry(std::move(d));
            return;
        }
    }

    if (inQuarantine)
    {
        if (stamp.regular || file.exists())
            registerQuarantinedPreset(file, "Quarantined malformed or incompatible preset");
        return;
    }

    if (!file.exists() || file.isDirectory())
        return;
    removeEntry(userId(file));

    juce::ValueTree tree;
    switch (readXmlTree(file, maxPresetFileBytes, stateIds::stateType, tree))
    {
    case PresetReadResult::missing:
        // Vanished since it was listed, or a pipe or device that must never be opened.
        if (file.exists() && !stamp.regular)
            quarantine(file, "Not a regular preset file",
                       "Not a regular preset file; quarantine move failed");
        return;
    case PresetReadResult::tooLarge:
        quarantine(file, "Preset file exceeds the 1 MB limit",
                   "Preset file exceeds the 1 MB limit; quarantine move failed");
        return;
    case PresetReadResult::notXml:
        if (file.exists())
            quarantine(file, "Malformed XML", "Malformed XML; quarantine move failed");
        return;
    case PresetReadResult::otherRoot:
        quarantine(file, "Incompatible product or state schema",
                   "Incompatible product; quarantine move failed");
        return;
    case PresetReadResult::ok:
        break;
    }

    PresetDescriptor d;
    d.kind = PresetKind::User;
    d.name = bounded(file.getFileNameWithoutExtension());
    d.category = "User";
    d.tags = juce::StringArray("User");
    d.valid = true;
    if (const auto n = bounded(tree[ids::presetName].toString()); n.isNotEmpty())
        d.name = n;
    d.bestSource = bounded(tree[ids::presetBestSource].toString());
    d.intensity = tree.hasProperty(ids::presetIntensity) ? (int)tree[ids::presetIntensity] : -1;
    d.bank = bounded(tree[ids::presetBank].toString());
    if (const auto c = bounded(tree[ids::presetCategory].toString()); c.isNotEmpty())
        d.category = c;
    if (const auto t = tree[ids::presetTags].toString(); t.isNotEmpty())
        d.tags = splitPresetTags(t);
    d.path = file;
    d.id = userId(file);
    d.favourite = favourites.contains(d.id);
    d.contentHash = fileContentHash(file);
    const auto now = statFile(file);
    d.fileSize = now.size;
    d.lastModifiedMilliseconds = now.modifiedMilliseconds;
    appendUserEntry(std::move(d));
}

void PresetCatalog::quarantine(const juce::File& file, const juce::String& movedError,
                               const juce::String& failedError)
{
    const auto folder = getQuarantineDirectory();
    folder.createDirectory();
    if (const auto moved = moveIntoFolderKeepingName(file, folder); moved != juce::File())
        registerQuarantinedPreset(moved, movedError);
    else if (file.exists())
        registerQuarantinedPreset(file, failedError);
}

void PresetCatalog::registerQuarantinedPreset(const juce::File& file, const juce::String& error)
{
    const auto id = userId(file);
    removeEntry(id);
    PresetDescriptor d;
    d.id = id;
    d.name = bounded(file.getFileNameWithoutExtension());
    d.kind = PresetKind::User;
    d.category = "Broken";
    d.tags = juce::StringArray("Broken");
    d.valid = false;
    d.path = file;
    d.contentHash = fileContentHash(file);
    d.error = error;
    const auto stamp = statFile(file);
    d.fileSize = stamp.size;
    d.lastModifiedMilliseconds = stamp.modifiedMilliseconds;
    appendUserEntry(std::move(d));
}

void PresetCatalog::persistIndex() const
{
    const auto folder = indexFile.getParentDirectory();
    if (!folder.isDirectory() && folder.createDirectory().failed())
        return;

    std::vector<const PresetDescriptor*> users;
    for (const auto& d : presets)
        if (d.kind == PresetKind::User)
            users.push_back(&d);
    std::sort(users.begin(), users.end(),
              [](const PresetDescriptor* a, const PresetDescriptor* b)
              {
                  const int c = a->path.getFullPathName().compareIgnoreCase(b->path.getFullPathName());
                  return c != 0 ? c < 0 : a->path.getFullPathName() < b->path.getFullPathName();
              });

    juce::ValueTree index(ids::indexType);
    index.setProperty(ids::schemaVersion, indexSchemaVersion, nullptr);
    for (const auto* d : users)
    {
        juce::ValueTree child(ids::preset);
        child.setProperty(ids::id, d->id, nullptr);
        child.setProperty(ids::path, d->path.getFullPathName(), nullptr);
        child.setProperty(ids::name, d->name, nullptr);
        child.setProperty(ids::category, d->category, nullptr);
        child.setProperty(ids::tags, d->tags.joinIntoString(","), nullptr);
        child.setProperty(ids::bestSource, d->bestSource, nullptr);
        child.setProperty(ids::intensity, d->intensity, nullptr);
        child.setProperty(ids::bank, d->bank, nullptr);
        child.setProperty(ids::contentHash, d->contentHash, nullptr);
        child.setProperty(ids::valid, d->valid ? 1 : 0, nullptr);
        child.setProperty(ids::error, d->error, nullptr);
        child.setProperty(ids::fileSize, (juce::int64)d->fileSize, nullptr);
        child.setProperty(ids::lastModified, (juce::int64)d->lastModifiedMilliseconds, nullptr);
        index.appendChild(child, nullptr);
    }

    const auto text = presetXmlText(index);
    if (indexFile.existsAsFile() && statFile(indexFile).size == (std::int64_t)text.getNumBytesAsUTF8())
    {
        juce::MemoryBlock current;
        if (indexFile.loadFileAsData(current) && current.getSize() == text.getNumBytesAsUTF8() &&
            std::memcmp(current.getData(), text.toRawUTF8(), current.getSize()) == 0)
            return;
    }
    writeFileAtomically(indexFile, text);
}

bool PresetCatalog::persistFavourites(juce::String& reason) const
{
    reason.clear();
    const auto folder = browserFile.getParentDirectory();
    if (!folder.isDirectory())
        if (const auto created = folder.createDirectory(); created.failed())
        {
            reason = "its folder cannot be created (" + created.getErrorMessage() + ")";
            return false;
        }
    juce::ValueTree tree(ids::browserType);
    tree.setProperty(ids::favourites, favourites.joinIntoString("\n"), nullptr);
    return writeFileAtomically(browserFile, presetXmlText(tree), true, reason);
}

//======================================================================================================
std::vector<PresetDescriptor> PresetCatalog::query(const juce::String& sourceText,
                                                   const juce::String& tagText, bool favouritesOnly,
                                                   const juce::String& searchText) const
{
    const auto source = sourceText.trim(), tag = tagText.trim(), search = searchText.trim();
    const bool anySource = source.isEmpty() || source.equalsIgnoreCase("All");
    const bool factorySource = source.equalsIgnoreCase("Factory"),
               userSource = source.equalsIgnoreCase("User");
    const bool anyTag = tag.isEmpty() || tag.equalsIgnoreCase("All");

    if (browserOrder.size() != presets.size())
    {
        browserOrder.resize(presets.size());
        for (std::size_t i = 0; i < presets.size(); ++i)
            browserOrder[i] = i;
        std::sort(browserOrder.begin(), browserOrder.end(),
                  [this](std::size_t x, std::size_t y)
                  {
                      const auto& a = presets[x];
                      const auto& b = presets[y];
                      const int c = a.name.compareNatural(b.name, true);
                      if (c != 0)
                          return c < 0;
                      return std::strcmp(a.id.toRawUTF8(), b.id.toRawUTF8()) < 0;
                  });
    }

    std::vector<PresetDescriptor> result;
    for (const auto index : browserOrder)
    {
        const auto& d = presets[index];
        if (favouritesOnly && !d.favourite)
            continue;
        if (!anySource && !(factorySource && d.kind == PresetKind::Factory) &&
            !(userSource && d.kind == PresetKind::User) && !d.bank.equalsIgnoreCase(source) &&
            !d.category.equalsIgnoreCase(source))
            continue;
        if (!anyTag && !d.tags.contains(tag, true))
            continue;
        if (search.isNotEmpty())
        {
            const bool found =
                containsIgnoringCase(d.name, search) || containsIgnoringCase(d.category, search) ||
                containsIgnoringCase(d.tags.joinIntoString(" "), search) ||
                containsIgnoringCase(d.bestSource, search) || containsIgnoringCase(d.bank, search) ||
                (d.intensity >= 0 && juce::String(d.intensity).contains(search)) ||
                containsIgnoringCase(d.variations.joinIntoString(" "), search);
            if (!found)
                continue;
        }
        result.push_back(d);
    }
    return result;
}

const PresetDescriptor* PresetCatalog::find(const juce::String& id) const
{
    for (const auto& d : presets)
        if (d.id == id)
            return &d;
    return nullptr;
}

bool PresetCatalog::setFavourite(const juce::String& id, bool favourite, juce::String& error)
{
    error.clear();
    for (auto& d : presets)
    {
        if (d.id != id)
            continue;
        if (!d.valid)
        {
            error = "A quarantined preset cannot be a favourite.";
            return false;
        }
        const auto before = favourites;
        if (favourite)
            favourites.addIfNotAlreadyThere(id);
        else
            favourites.removeString(id);
        juce::String reason;
        if (!persistFavourites(reason))
        {
            // The list in memory stays the one on disk, so the browser shows what the next start shows.
            favourites = before;
            error = juce::String(favourite ? "The preset was not added to the favourites: "
                                           : "The preset was not removed from the favourites: ") +
                    browserFile.getFullPathName() + " could not be written: " + reason + ".";
            return false;
        }
        d.favourite = favourite;
        return true;
    }
    error = "The preset is no longer in the list.";
    return false;
}
} // namespace sorvane
