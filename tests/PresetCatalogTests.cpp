// The user preset catalog on real folders: scanning, validation and quarantine of damaged files, the
// index cache, favourites, queries and the edits of user presets.
#include "TestSupport.h"
#include "SmallTmpfs.h"
#include "UnwritableFolder.h"

#include "presets/PresetCatalog.h"
#include "presets/PresetFileIo.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
using sorvane::PresetCatalog;
using sorvane::PresetDescriptor;

struct CatalogFolders
{
    CatalogFolders()
    {
        // A random name: test programs run side by side, and two could pick the same free name.
        root = juce::File::getSpecialLocation(juce::File::tempDirectory)
                   .getNonexistentChildFile(
                       "sorvane-catalog-" +
                           juce::String::toHexString(juce::Random::getSystemRandom().nextInt64()),
                       {}, false);
        presets = root.getChildFile("Documents/Kavix/Sorvane/Presets");
        browser = root.getChildFile("config/Kavix/Sorvane/PresetBrowser.xml");
        presets.createDirectory();
    }
    ~CatalogFolders() { root.deleteRecursively(); }

    std::unique_ptr<PresetCatalog> open() const { return std::make_unique<PresetCatalog>(presets, browser); }

    juce::File write(const juce::String& name, const juce::String& text) const
    {
        auto f = presets.getChildFile(name);
        f.replaceWithText(text, false, false, nullptr);
        return f;
    }

    juce::File root, presets, browser;
};

juce::String presetText(const juce::String& properties = {}, const juce::String& params = {})
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SORVANE_STATE " + properties + ">" + params +
           "<PARAM id=\"drive\" value=\"40\"/></SORVANE_STATE>";
}

std::vector<PresetDescriptor> userEntries(const PresetCatalog& catalog)
{
    std::vector<PresetDescriptor> users;
    for (const auto& d : catalog.getPresets())
        if (d.isUser())
            users.push_back(d);
    return users;
}

const PresetDescriptor* byName(const PresetCatalog& catalog, const juce::String& name)
{
    for (const auto& d : catalog.getPresets())
        if (d.name == name)
            return &d;
    return nullptr;
}

std::vector<int> factoryRows(const std::vector<PresetDescriptor>& results)
{
    std::vector<int> rows;
    for (const auto& d : results)
        if (d.factoryIndex >= 0)
            rows.push_back(d.factoryIndex);
    std::sort(rows.begin(), rows.end());
    return rows;
}
} // namespace

TEST(PresetCatalog, WithoutAUserFolderHoldsTheFactoryRowsAndWritesAnEmptyIndex)
{
    CatalogFolders folders;
    folders.presets.deleteRecursively();
    auto catalog = folders.open();
    ASSERT_EQ(catalog->getPresets().size(), 37u);
    EXPECT_EQ(catalog->getPresets()[7].id, "factory:7");
    EXPECT_EQ(catalog->getPresets()[15].bank, "Showcase");
    EXPECT_EQ(catalog->getPresets()[0].bank, "");

    const auto index = juce::parseXML(catalog->getIndexFile());
    ASSERT_NE(index, nullptr);
    EXPECT_EQ(index->getTagName(), "SORVANE_PRESET_INDEX");
    EXPECT_EQ(index->getIntAttribute("schemaVersion"), 2);
    EXPECT_EQ(index->getNumChildElements(), 0);
    EXPECT_EQ(catalog->getIndexFile().getParentDirectory(), folders.browser.getParentDirectory());
    EXPECT_TRUE(catalog->getIndexFile().loadFileAsString().contains("\r\n"));
}

TEST(PresetCatalog, DefaultFoldersAreTheDocumentsAndApplicationDataFolders)
{
    const auto documents = juce::File::getSpecialLocation(juce::File::userDocumentsDirectory);
    const auto data = juce::File::getSpecialLocation(juce::File::userApplicationDataDirectory);
    EXPECT_EQ(PresetCatalog::defaultUserPresetDirectory(), documents.getChildFile("Kavix/Sorvane/Presets"));
    EXPECT_EQ(PresetCatalog::defaultBrowserFile(), data.getChildFile("Kavix/Sorvane/PresetBrowser.xml"));
}

TEST(PresetCatalog, ContentHashIsTheSeededFnvOfTheBytesAndTheSize)
{
    CatalogFolders folders;
    EXPECT_EQ(sorvane::fileContentHash(folders.write("abc.txt", "abc")), "e16801510db89efd:3");
    EXPECT_EQ(sorvane::fileContentHash(folders.write("empty.txt", "")), "14650fb0739d0383:0");
    EXPECT_EQ(sorvane::fileContentHash(folders.presets.getChildFile("missing")), "");
}

TEST(PresetCatalog, DamagedFilesEndListedAsSpecifiedAndNothingIsLost)
{
    struct Case
    {
        const char* file;
        juce::String content;
        bool valid;
        const char* error;
    };
    juce::String huge = presetText("presetName=\"" + juce::String::repeatedString("x", 1100000) + "\"");
    const Case cases[] = {
        {"empty.sorvane", "", false, "Malformed XML"},
        {"truncated.sorvane", presetText().dropLastCharacters(20), false, "Malformed XML"},
        {"plain.sorvane", "just some words", false, "Malformed XML"},
        {"other.sorvane", "<OTHER_SYNTH_STATE><PARAM id=\"drive\" value=\"1\"/></OTHER_SYNTH_STATE>", false,
         "Incompatible product or state schema"},
        {"schema.sorvane", "<SORVANE_PROJECT schemaVersion=\"99\"/>", false,
         "Incompatible product or state schema"},
        {"range.sorvane", "<SORVANE_STATE><PARAM id=\"drive\" value=\"1e9\"/></SORVANE_STATE>", true, ""},
        {"missing.sorvane", "<SORVANE_STATE/>", true, ""},
        {"huge.sorvane", huge, false, "Preset file exceeds the 1 MB limit"},
        {"binary.sorvane", "<SORVANE_STATE base64:blob=\"-1.\"/>", false, "Malformed XML"},
        {"entity.sorvane", "<!DOCTYPE a [<!ENTITY e \"x\">]><SORVANE_STATE presetName=\"&e;\"/>", false,
         "Malformed XML"},
        {"utf8.sorvane", juce::String("<SORVANE_STATE presetName=\"") + "\xff\xfe" + "\"/>", false,
         "Malformed XML"},
    };

    CatalogFolders folders;
    for (const auto& c : cases)
    {
        auto f = folders.presets.getChildFile(c.file);
        if (juce::String(c.file) == "utf8.sorvane")
        {
            const char bytes[] = "<SORVANE_STATE presetName=\"\xff\xfe\"/>";
            f.replaceWithData(bytes, sizeof(bytes) - 1);
        }
        else
            f.replaceWithText(c.content, false, false, nullptr);
    }
    folders.presets.getChildFile("folder.sorvane").createDirectory();
    auto readOnly = folders.write("readonly.sorvane", presetText("presetName=\"Read only\""));
    ASSERT_EQ(::chmod(readOnly.getFullPathName().toRawUTF8(), 0444), 0);

    auto catalog = folders.open();
    const auto quarantine = catalog->getQuarantineDirectory();
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.file);
        const auto name = juce::File(juce::String("/") + c.file).getFileNameWithoutExtension();
        const auto* entry = byName(*catalog, name);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->valid, c.valid);
        EXPECT_EQ(entry->error, c.error);
        if (c.valid)
        {
            EXPECT_EQ(entry->path, folders.presets.getChildFile(c.file));
            EXPECT_EQ(entry->category, "User");
            EXPECT_EQ(entry->tags, juce::StringArray("User"));
        }
        else
        {
            // Moved, never deleted: the same bytes under the same name in the quarantine.
            EXPECT_EQ(entry->path, quarantine.getChildFile(c.file));
            EXPECT_FALSE(folders.presets.getChildFile(c.file).exists());
            EXPECT_TRUE(entry->path.existsAsFile());
            EXPECT_EQ(entry->category, "Broken");
            EXPECT_EQ(entry->tags, juce::StringArray("Broken"));
            EXPECT_EQ(entry->contentHash, sorvane::fileContentHash(entry->path));
        }
    }
    EXPECT_TRUE(folders.presets.getChildFile("folder.sorvane").isDirectory());
    EXPECT_EQ(byName(*catalog, "folder"), nullptr);
    const auto* ro = byName(*catalog, "Read only");
    ASSERT_NE(ro, nullptr);
    EXPECT_TRUE(ro->valid);
    EXPECT_EQ(userEntries(*catalog).size(), std::size(cases) + 1);

    // The next refresh reuses the quarantined entries from the index with their first reason; a forced
    // rescan gives them the quarantine's own.
    catalog->refreshUserPresets(false);
    EXPECT_EQ(byName(*catalog, "other")->error, "Incompatible product or state schema");
    catalog->refreshUserPresets(true);
    EXPECT_EQ(byName(*catalog, "other")->error, "Quarantined malformed or incompatible preset");
    EXPECT_FALSE(byName(*catalog, "other")->valid);
}

// Linux names are bytes; juce::File's are UTF-8. A preset whose name is not UTF-8 would be listed under
// a name that points at no file (and changes after a restart), so it is left out and named, and
// neither it nor anything else is touched.
TEST(PresetCatalog, AFileNameThatIsNotUtf8IsLeftOutNamedAndUntouched)
{
    CatalogFolders folders;
    folders.write("Night.sorvane", presetText("presetName=\"Night\""));
    struct Odd
    {
        std::string name;
        const char* shown;
    };
    const Odd odd[] = {
        {"caf\xe9.sorvane", "caf\\xE9.sorvane"},      // Latin-1
        {"\xc0\xafx.sorvane", "\\xC0\\xAFx.sorvane"}, // an overlong '/'
    };
    const auto text = presetText("presetName=\"Odd\"");
    for (const auto& o : odd)
    {
        const auto path = folders.presets.getFullPathName().toStdString() + "/" + o.name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0) << o.shown;
        ASSERT_EQ(::write(fd, text.toRawUTF8(), text.getNumBytesAsUTF8()), (ssize_t)text.getNumBytesAsUTF8());
        ::close(fd);
    }

    for (const bool rescan : {true, false, true})
    {
        auto catalog = folders.open();
        catalog->refreshUserPresets(rescan);
        const auto users = userEntries(*catalog);
        ASSERT_EQ(users.size(), 1u) << users.back().path.getFullPathName() << " " << users.back().error;
        EXPECT_EQ(users[0].path, folders.presets.getChildFile("Night.sorvane"));
        EXPECT_EQ(catalog->getUnlistedFileNames(), juce::StringArray({odd[1].shown, odd[0].shown}))
            << catalog->getUnlistedFileNames().joinIntoString(" | ");
        EXPECT_FALSE(catalog->getQuarantineDirectory().exists());
    }
    for (const auto& o : odd)
    {
        struct stat info
        {
        };
        const auto path = folders.presets.getFullPathName().toStdString() + "/" + o.name;
        EXPECT_EQ(::stat(path.c_str(), &info), 0) << o.shown;
        EXPECT_EQ((std::size_t)info.st_size, text.getNumBytesAsUTF8()) << o.shown;
    }
}

TEST(PresetCatalog, QuarantineKeepsBothFilesOfOneNameAndAFailedMoveLeavesTheFileInPlace)
{
    CatalogFolders folders;
    folders.write("bad.sorvane", "not xml");
    auto catalog = folders.open();
    folders.write("bad.sorvane", "not xml either");
    catalog->refreshUserPresets(false);
    EXPECT_TRUE(catalog->getQuarantineDirectory().getChildFile("bad.sorvane").existsAsFile());
    EXPECT_EQ(catalog->getQuarantineDirectory().getChildFile("bad(2).sorvane").loadFileAsString(),
              "not xml either");

    folders.write("locked.sorvane", "<broken");
    sorvane::test::UnwritableFolder lock(folders.presets);
    if (!lock.isLocked())
        GTEST_SKIP() << "cannot make a folder unwritable here";
    catalog->refreshUserPresets(false);
    const auto* entry = byName(*catalog, "locked");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->error, "Malformed XML; quarantine move failed");
    EXPECT_EQ(entry->path, folders.presets.getChildFile("locked.sorvane"));
    EXPECT_EQ(entry->path.loadFileAsString(), "<broken");
}

TEST(PresetCatalog, AFileThatVanishedAfterListingIsSkipped)
{
    CatalogFolders folders;
    auto catalog = folders.open();
    catalog->examineFile(folders.presets.getChildFile("gone.sorvane"), false);
    EXPECT_TRUE(userEntries(*catalog).empty());
    EXPECT_FALSE(catalog->getQuarantineDirectory().exists());
}

TEST(PresetCatalog, MetadataComesFromTheFileAndBlankTagsLeaveNone)
{
    CatalogFolders folders;
    folders.write("a.sorvane",
                  presetText("presetName=\"Night Bus\" presetCategory=\"Pads\" presetTags=\" warm, "
                             ",wide \" presetBestSource=\"Pad\" presetIntensity=\"42\" "
                             "presetBank=\"Mine\""));
    folders.write("b.sorvane", presetText("presetTags=\" , \""));
    auto catalog = folders.open();
    const auto* a = byName(*catalog, "Night Bus");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->category, "Pads");
    EXPECT_EQ(a->tags, juce::StringArray("warm", "wide"));
    EXPECT_EQ(a->intensity, 42);
    EXPECT_EQ(a->bank, "Mine");
    EXPECT_EQ(a->description(), "Night Bus / Pads / warm, wide / Best source: Pad / Intensity: 42/100");
    const auto* b = byName(*catalog, "b");
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(b->tags.isEmpty());
    EXPECT_EQ(catalog->getPresets()[15].description().upToFirstOccurrenceOf(" / TRESSEL", true, false),
              catalog->getPresets()[15].name + " / " + catalog->getPresets()[15].category + " / " +
                  catalog->getPresets()[15].tags.joinIntoString(", ") +
                  " / Best source: " + catalog->getPresets()[15].bestSource +
                  " / Intensity: " + juce::String(catalog->getPresets()[15].intensity) + "/100 / TRESSEL");
}

TEST(PresetCatalog, NamesDifferingOnlyInCaseStayTwoPresets)
{
    CatalogFolders folders;
    folders.write("Pad.sorvane", presetText());
    folders.write("pad.sorvane", presetText());
    auto catalog = folders.open();
    const auto users = userEntries(*catalog);
    ASSERT_EQ(users.size(), 2u);
    EXPECT_NE(users[0].id, users[1].id);
    catalog->refreshUserPresets(false);
    EXPECT_EQ(userEntries(*catalog).size(), 2u);
}

TEST(PresetCatalog, TheIndexIsReusedOnlyForUnchangedFilesAndADamagedIndexIsRebuilt)
{
    CatalogFolders folders;
    auto file = folders.write("a.sorvane", presetText("presetName=\"Alpha\""));
    auto catalog = folders.open();
    const auto index = catalog->getIndexFile();
    ASSERT_TRUE(index.loadFileAsString().contains("Alpha"));

    // An unchanged file is taken from the index without being read.
    index.replaceWithText(index.loadFileAsString().replace("Alpha", "Cached"));
    catalog->refreshUserPresets(false);
    EXPECT_NE(byName(*catalog, "Cached"), nullptr);

    // A new modification time makes it read again.
    file.setLastModificationTime(juce::Time::getCurrentTime() + juce::RelativeTime::seconds(5));
    catalog->refreshUserPresets(false);
    EXPECT_NE(byName(*catalog, "Alpha"), nullptr);

    for (const juce::String damaged : {juce::String("<SORVANE_PRESET_INDEX schemaVersion=\"3\">"),
                                       juce::String("\xff garbage"), juce::String("<OTHER/>"),
                                       index.loadFileAsString()
                                           .replace("Alpha", "Stale")
                                           .replace("schemaVersion=\"2\"", "schemaVersion=\"1\"")})
    {
        index.replaceWithText(damaged);
        catalog->refreshUserPresets(false);
        EXPECT_NE(byName(*catalog, "Alpha"), nullptr) << damaged;
        const auto rebuilt = juce::parseXML(index);
        ASSERT_NE(rebuilt, nullptr);
        EXPECT_EQ(rebuilt->getIntAttribute("schemaVersion"), 2);
        ASSERT_EQ(rebuilt->getNumChildElements(), 1);
        const auto* child = rebuilt->getChildElement(0);
        EXPECT_EQ(child->getStringAttribute("path"), file.getFullPathName());
        EXPECT_EQ(child->getStringAttribute("contentHash"), sorvane::fileContentHash(file));
        EXPECT_EQ(child->getStringAttribute("valid"), "1");
    }
}

TEST(PresetCatalog, FavouritesPersistAcrossCatalogsAndOnlyValidEntriesTakeThem)
{
    CatalogFolders folders;
    folders.write("bad.sorvane", "x");
    juce::String error;
    {
        auto catalog = folders.open();
        EXPECT_TRUE(catalog->setFavourite("factory:3", true, error));
        EXPECT_TRUE(catalog->setFavourite("factory:3", true, error));
        EXPECT_FALSE(catalog->setFavourite(byName(*catalog, "bad")->id, true, error));
        EXPECT_EQ(error, "A quarantined preset cannot be a favourite.");
        EXPECT_FALSE(catalog->setFavourite("factory:99", true, error));
        EXPECT_EQ(error, "The preset is no longer in the list.");
        EXPECT_EQ(catalog->getFavourites(), juce::StringArray("factory:3"));
    }
    auto catalog = folders.open();
    EXPECT_TRUE(catalog->getPresets()[3].favourite);
    EXPECT_EQ(factoryRows(catalog->query("All", "All", true, {})), std::vector<int>{3});
    EXPECT_TRUE(catalog->setFavourite("factory:3", false, error));
    EXPECT_TRUE(catalog->query({}, {}, true, {}).empty());
    EXPECT_TRUE(folders.browser.loadFileAsString().contains("SORVANE_PRESET_BROWSER"));
}

TEST(PresetCatalog, QueriesFilterSearchAndSortAsTheBrowserShowsThem)
{
    CatalogFolders folders;
    folders.write("p10.sorvane", presetText("presetName=\"Preset 10\""));
    folders.write("p2.sorvane", presetText("presetName=\"Preset 2\""));
    folders.write("broken.sorvane", "<nope");
    auto catalog = folders.open();

    auto range = [](int from, int to)
    {
        std::vector<int> rows;
        for (int i = from; i <= to; ++i)
            rows.push_back(i);
        return rows;
    };
    EXPECT_EQ(factoryRows(catalog->query("SHOWCASE", "ALL", false, {})), range(15, 24));
    EXPECT_EQ(factoryRows(catalog->query("EVERYDAY", "ALL", false, {})), range(25, 36));
    const auto broken = catalog->query("BROKEN", "ALL", false, {});
    EXPECT_EQ(factoryRows(broken), (std::vector<int>{2, 5}));
    EXPECT_EQ(broken.size(), 3u);
    EXPECT_EQ(factoryRows(catalog->query({}, {}, false, "65")), (std::vector<int>{15, 19}));
    EXPECT_EQ(factoryRows(catalog->query({}, {}, false, " GHOST ")), (std::vector<int>{3, 15, 17, 19}));
    EXPECT_EQ(catalog->query("USER", {}, false, {}).size(), 3u);
    EXPECT_EQ(catalog->query("FACTORY", {}, false, {}).size(), 37u);
    EXPECT_EQ(factoryRows(catalog->query({}, "dark", false, {})).size(),
              factoryRows(catalog->query({}, "DARK", false, {})).size());

    const auto users = catalog->query("USER", {}, false, "Preset");
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].name, "Preset 2");
    EXPECT_EQ(users[1].name, "Preset 10");
    const auto all = catalog->query({}, {}, false, {});
    for (size_t i = 1; i < all.size(); ++i)
        EXPECT_LE(all[i - 1].name.compareNatural(all[i].name, true), 0);

    // The order is kept between queries; a preset added or removed since must still land in place.
    folders.write("p3.sorvane", presetText("presetName=\"Preset 3\""));
    catalog->refreshUserPresets(true);
    auto names = catalog->query("USER", {}, false, "Preset");
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[1].name, "Preset 3");
    // One out, one in: the same number of entries, in a new order.
    ASSERT_TRUE(folders.presets.getChildFile("p2.sorvane").deleteFile());
    folders.write("p1.sorvane", presetText("presetName=\"Preset 1\""));
    catalog->refreshUserPresets(true);
    names = catalog->query("USER", {}, false, "Preset");
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0].name, "Preset 1");
    EXPECT_EQ(names[1].name, "Preset 3");
    EXPECT_EQ(names[2].name, "Preset 10");
}

TEST(PresetCatalog, DiscoveryFilterMatchesSourcePurposeAndIntensity)
{
    struct Case
    {
        const char* bestSource;
        const char* tags;
        int intensity;
        const char* source;
        const char* purpose;
        int band;
        bool expected;
    };
    const Case cases[] = {
        {"drums", "", 10, "Drums", "All", 0, true},
        {"anything", "", 10, "Drums", "All", 0, true},
        {"", "", 10, "Drums", "All", 0, false},
        {"", "", 10, "Unknown", "All", 0, true},
        {"anything", "", 10, "Unknown", "All", 0, true},
        {"vocal", "", 10, "Unknown", "All", 0, false},
        {"full mix", "", 10, "Full mix", "All", 0, true},
        {"drums", "", 10, "Full mix", "All", 0, false},
        {"pad", "Width", 10, "All", "Width", 0, true},
        {"pad", "width", 10, "All", "Width", 0, true},
        {"pad", "Dark", 10, "All", "Width", 0, false},
        {"pad", "", 10, "All", "Width", 0, false},
        {"pad", "Dark", 10, "All", "Unknown", 0, true},
        {"pad", "motion", 10, "All", "Unknown", 0, false},
        {"", "", 31, "All", "All", 2, true},
        {"", "", 65, "All", "All", 2, true},
        {"", "", 66, "All", "All", 2, false},
        {"", "", -1, "All", "All", 2, false},
        {"", "", -1, "All", "All", 4, true},
        {"", "", 0, "All", "All", 4, false},
        {"", "", 30, "All", "All", 1, true},
        {"", "", 66, "All", "All", 3, true},
    };
    for (const auto& c : cases)
    {
        PresetDescriptor d;
        d.bestSource = c.bestSource;
        d.tags = sorvane::splitPresetTags(c.tags);
        d.intensity = c.intensity;
        sorvane::DiscoveryFilter filter{c.source, c.purpose, c.band};
        EXPECT_EQ(sorvane::matchesDiscovery(d, filter), c.expected)
            << c.bestSource << " / " << c.tags << " / " << c.intensity << " vs " << c.source << " / "
            << c.purpose << " / " << c.band;
    }
}

TEST(PresetCatalog, SavingWritesMetadataAndNeverReplacesAFileItWasNotToldTo)
{
    CatalogFolders folders;
    auto processor = sorvane::test::makeProcessor();
    sorvane::test::setPlain(*processor, "tone", 0.0f);
    juce::File written;
    juce::String error;
    auto state = processor->captureParameterSnapshot();
    state.removeProperty("presetCategory", nullptr);
    state.removeProperty("presetTags", nullptr);
    ASSERT_TRUE(sorvane::saveUserPreset(folders.presets.getChildFile("Night"), state, *processor, false,
                                        written, error))
        << error;
    EXPECT_EQ(written, folders.presets.getChildFile("Night.sorvane"));
    const auto xml = juce::parseXML(written);
    ASSERT_NE(xml, nullptr);
    EXPECT_EQ(xml->getStringAttribute("presetName"), "Night");
    EXPECT_EQ(xml->getStringAttribute("presetCategory"), "User");
    EXPECT_TRUE(xml->getStringAttribute("presetTags").startsWith("Dark"));
    EXPECT_EQ(xml->getStringAttribute("presetTags"), sorvane::automaticPresetTags(*processor));

    // Saved meanwhile by someone else: refused unless the user confirmed replacing it.
    const auto before = written.loadFileAsString();
    EXPECT_FALSE(sorvane::saveUserPreset(written, state, *processor, false, written, error));
    EXPECT_EQ(written.loadFileAsString(), before);
    EXPECT_TRUE(sorvane::saveUserPreset(written, state, *processor, true, written, error)) << error;

    EXPECT_FALSE(sorvane::saveUserPreset(folders.presets, state, *processor, true, written, error));
    EXPECT_EQ(error, "Choose a writable preset file.");
    EXPECT_FALSE(sorvane::saveUserPreset(folders.presets.getChildFile(juce::String::repeatedString("n", 300)),
                                         state, *processor, true, written, error));
    EXPECT_EQ(error, "Could not write the Sorvane preset. File name too long.");
    // No temporary is left behind by any of it.
    EXPECT_EQ(folders.presets.findChildFiles(juce::File::findFiles, false, "*").size(), 1);
}

TEST(PresetCatalog, EditsRenameDuplicateRetagAndTrashWithoutLosingAnything)
{
    CatalogFolders folders;
    folders.write("pad.sorvane", presetText("presetName=\"pad\""));
    folders.write("Bass.sorvane", presetText("presetName=\"Bass\""));
    auto catalog = folders.open();
    juce::String error;

    const auto padId = byName(*catalog, "pad")->id;
    ASSERT_TRUE(catalog->setFavourite(padId, true, error));
    ASSERT_TRUE(catalog->renamePreset(padId, "  Pad ", error)) << error;
    const auto* renamed = byName(*catalog, "Pad");
    ASSERT_NE(renamed, nullptr);
    EXPECT_TRUE(renamed->favourite);
    EXPECT_EQ(catalog->getFavourites(), juce::StringArray(renamed->id));
    EXPECT_EQ(userEntries(*catalog).size(), 2u);
    EXPECT_FALSE(folders.presets.getChildFile("pad.sorvane").exists());

    const auto bassId = byName(*catalog, "Bass")->id;
    const auto bassBytes = folders.presets.getChildFile("Bass.sorvane").loadFileAsString();
    EXPECT_FALSE(catalog->renamePreset(bassId, "Pad", error));
    EXPECT_EQ(error, "A user preset with that name already exists.");
    EXPECT_FALSE(catalog->renamePreset(bassId, "  ", error));
    EXPECT_EQ(error, "Enter a non-empty preset name.");
    EXPECT_FALSE(catalog->renamePreset("factory:1", "x", error));
    EXPECT_EQ(error, "Only a valid user preset can be renamed.");
    EXPECT_EQ(folders.presets.getChildFile("Bass.sorvane").loadFileAsString(), bassBytes);

    EXPECT_TRUE(catalog->duplicatePreset(bassId, "Bass Copy", error)) << error;
    EXPECT_FALSE(catalog->duplicatePreset(bassId, "Bass Copy", error));
    EXPECT_EQ(error, "A user preset with that name already exists.");
    EXPECT_FALSE(catalog->duplicatePreset(bassId, "", error));
    EXPECT_EQ(error, "Enter a non-empty duplicate name.");
    const auto* copy = byName(*catalog, "Bass Copy");
    ASSERT_NE(copy, nullptr);
    EXPECT_FALSE(copy->favourite);

    ASSERT_TRUE(catalog->editMetadata(bassId, " Low ", " dark, Dark ,wide,, ", error)) << error;
    const auto xml = juce::parseXML(folders.presets.getChildFile("Bass.sorvane"));
    EXPECT_EQ(xml->getStringAttribute("presetTags"), "dark,wide");
    EXPECT_EQ(xml->getStringAttribute("presetCategory"), "Low");
    EXPECT_FALSE(catalog->editMetadata(bassId, "", "x", error));
    EXPECT_EQ(error, "Preset category and at least one tag are required.");

    // Two presets of one file name in the trash: both kept, the second numbered.
    ASSERT_TRUE(catalog->moveToTrash(bassId, error)) << error;
    folders.write("Bass.sorvane", presetText("presetName=\"Bass again\""));
    catalog->refreshUserPresets(false);
    ASSERT_TRUE(catalog->moveToTrash(byName(*catalog, "Bass again")->id, error)) << error;
    const auto trash = catalog->getTrashDirectory();
    EXPECT_TRUE(trash.getChildFile("Bass.sorvane").loadFileAsString().contains("Low"));
    EXPECT_TRUE(trash.getChildFile("Bass(2).sorvane").loadFileAsString().contains("Bass again"));
    EXPECT_EQ(byName(*catalog, "Bass"), nullptr);
    EXPECT_FALSE(catalog->moveToTrash("factory:0", error));
    EXPECT_EQ(error, "Only a user preset can be removed.");

    // Moving one back by hand restores it.
    trash.getChildFile("Bass.sorvane").moveFileTo(folders.presets.getChildFile("Bass.sorvane"));
    catalog->refreshUserPresets(false);
    EXPECT_NE(byName(*catalog, "Bass"), nullptr);
}

TEST(PresetCatalog, ARenameWhoseOldFileCannotBeRemovedLeavesOnlyTheOldFile)
{
    CatalogFolders folders;
    folders.write("old.sorvane", presetText("presetName=\"old\""));
    auto catalog = folders.open();
    const auto id = byName(*catalog, "old")->id;
    // A read-only folder refuses the new file before the old one is touched.
    sorvane::test::UnwritableFolder lock(folders.presets);
    if (!lock.isLocked())
        GTEST_SKIP() << "cannot make a folder unwritable here";
    juce::String error;
    EXPECT_FALSE(catalog->renamePreset(id, "new", error));
    EXPECT_TRUE(error == "Could not update the renamed preset metadata. Permission denied." ||
                error == "Could not update the renamed preset metadata. Operation not permitted.")
        << error;
    EXPECT_TRUE(folders.presets.getChildFile("old.sorvane").existsAsFile());
    EXPECT_FALSE(folders.presets.getChildFile("new.sorvane").exists());
}

TEST(PresetCatalog, AFavouriteThatCannotBeSavedChangesNothingInMemoryOrOnDisk)
{
    CatalogFolders folders;
    sorvane::test::SmallTmpfs disk(folders.browser.getParentDirectory());
    if (!disk.isMounted())
        GTEST_SKIP() << "needs a small full disk: " << disk.whyNot();

    auto catalog = folders.open();
    juce::String error;
    ASSERT_TRUE(catalog->setFavourite("factory:3", true, error)) << error;
    ASSERT_TRUE(catalog->setFavourite("factory:5", true, error)) << error;
    const auto saved = folders.browser.loadFileAsString();
    ASSERT_TRUE(saved.contains("factory:3") && saved.contains("factory:5"));
    ASSERT_TRUE(disk.fill());

    struct Case
    {
        const char* id;
        bool favourite;
        juce::String sentenceStart;
    };
    const Case cases[] = {
        {"factory:3", false, "The preset was not removed from the favourites: "},
        {"factory:7", true, "The preset was not added to the favourites: "},
    };
    const auto names = [&]
    {
        juce::StringArray found;
        for (const auto& f :
             folders.browser.getParentDirectory().findChildFiles(juce::File::findFiles, false, "*"))
            found.add(f.getFileName());
        found.sort(false);
        return found;
    };
    const auto namesBefore = names();
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.id);
        EXPECT_FALSE(catalog->setFavourite(c.id, c.favourite, error));
        EXPECT_EQ(error, c.sentenceStart + folders.browser.getFullPathName() +
                             " could not be written: No space left on device (the disk is full).");
        EXPECT_EQ(catalog->getFavourites(), juce::StringArray("factory:3", "factory:5"));
        EXPECT_EQ(factoryRows(catalog->query({}, {}, true, {})), (std::vector<int>{3, 5}));
        EXPECT_EQ(folders.browser.loadFileAsString(), saved);
        EXPECT_EQ(names(), namesBefore) << "a temporary was left behind";
    }

    // With room again the same change goes through, and a fresh catalog reads it back.
    ASSERT_TRUE(disk.empty());
    ASSERT_TRUE(catalog->setFavourite("factory:3", false, error)) << error;
    EXPECT_EQ(folders.open()->getFavourites(), juce::StringArray("factory:5"));
}
