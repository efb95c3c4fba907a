// Writers on a real disk that runs out of room: none publishes a short file, each keeps the file it
// would replace, says that the disk is full and leaves no temporary; and each sweeps the temporaries
// a killed writer left beside its target, and nothing else.
#include "RenderTestSupport.h"
#include "SmallTmpfs.h"

#include "capture/CaptureExport.h"
#include "capture/CreatorExportJob.h"
#include "capture/DurableFile.h"
#include "capture/ProcessedCapture.h"
#include "capture/WaveExport.h"
#include "CreatorProjectTestSupport.h"
#include "app/ReleaseReports.h"
#include "editor/SettingsFileCheck.h"
#include "presets/PresetCatalog.h"
#include "presets/PresetFileIo.h"
#include "projects/CreatorProjectData.h"
#include "projects/CreatorProjectFile.h"
#include "projects/ProjectAutosave.h"
#include "render/OfflineRenderer.h"
#include "render/RenderSound.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

namespace
{
using namespace sorvane;
using sorvane::test::RenderFolder;
using sorvane::test::SmallTmpfs;

const juce::String diskFull = "No space left on device (the disk is full)";

bool renderTo(const juce::File& input, const juce::File& output, juce::String& error)
{
    render::RenderCommand command;
    render::RenderSound sound;
    if (!sound.load(command, error))
        return false;
    auto processor = sorvane::test::makeProcessor();
    if (!sound.applyTo(*processor, error))
        return false;
    render::RenderSettings settings;
    settings.format = render::formatForOutput(command.format, output);
    render::OfflineRenderer renderer(settings);
    render::RenderResult result;
    return renderer.open(input, error) && renderer.prepare(*processor, error) &&
           renderer.render(output, nullptr, nullptr, result, error);
}

// A complete one-bar stereo capture at 8 kHz, fed directly.
std::unique_ptr<ProcessedCapture> completeCapture()
{
    auto capture = std::make_unique<ProcessedCapture>();
    CaptureRequest r;
    r.deviceSampleRate = 8000.0;
    r.tempo = 120.0;
    r.bars = 1;
    r.includeTail = false;
    juce::String error;
    EXPECT_TRUE(capture->start(r, error)) << error;
    juce::AudioBuffer<float> wet(2, 100), dry(2, 100);
    juce::Random random(7);
    while (capture->isActive())
    {
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 100; ++i)
            {
                wet.setSample(c, i, random.nextFloat() - 0.5f);
                dry.setSample(c, i, random.nextFloat() - 0.5f);
            }
        capture->write(wet, 100, dry, false);
    }
    return capture;
}

// The editor's WAV export: the capture's audio through a background export job.
bool exportThroughJob(const ProcessedCapture& capture, const juce::File& target, juce::String& error)
{
    CreatorExportJob::Request request;
    request.kind = CreatorExportKind::ProcessedWav;
    request.destination = target;
    request.work = [audio = capture.copy()](const juce::File& file, std::atomic<float>& progress,
                                            const std::atomic<bool>& cancel, juce::String& message)
    { return writeNormalisedWave(file, audio, 8000.0, &progress, &cancel, message, "comment"); };
    CreatorExportJob job(std::move(request));
    if (!job.launch())
    {
        error = job.getSnapshot().message;
        return false;
    }
    auto snapshot = job.getSnapshot();
    for (int i = 0; i < 60000 && (snapshot.state == CreatorExportState::Checking ||
                                  snapshot.state == CreatorExportState::Running);
         ++i)
    {
        juce::Thread::sleep(1);
        snapshot = job.getSnapshot();
    }
    error = snapshot.message;
    return snapshot.state == CreatorExportState::Completed;
}

juce::StringArray namesIn(const juce::File& folder)
{
    juce::StringArray names;
    for (const auto& f : folder.findChildFiles(juce::File::findFilesAndDirectories, false, "*"))
        names.add(f.getFileName());
    names.sort(false);
    return names;
}

juce::MemoryBlock bytesOf(const juce::File& file)
{
    juce::MemoryBlock bytes;
    file.loadFileAsData(bytes);
    return bytes;
}

// A writer under test: writes (or replaces) target, false with a sentence in error.
using Writer = std::function<bool(const juce::File& target, juce::String& error)>;

struct Writers
{
    RenderFolder folder;
    juce::File input = folder.dir.getChildFile("in.wav");
    std::unique_ptr<ProcessedCapture> capture = completeCapture();
    // What the autosave keeps as its previous generation: the newest one, here plain bytes.
    juce::File newestGeneration = folder.dir.getChildFile("newest.sorvaneproject");

    Writers()
    {
        sorvane::test::writeFloatWave(input, sorvane::test::renderTestSignal(2, 12000, 48000.0), 48000.0);
        juce::MemoryBlock noise(40000);
        juce::Random(3).fillBitsRandomly(noise.getData(), noise.getSize());
        newestGeneration.replaceWithData(noise.getData(), noise.getSize());
        newestGenerationBytes = noise;
    }

    juce::MemoryBlock newestGenerationBytes;
    std::unique_ptr<SorvaneAudioProcessor> processor = sorvane::test::makeProcessor();
    juce::ValueTree presetState = processor->captureParameterSnapshot();
    juce::var report = juce::JSON::parse(R"({"product": "Sorvane", "ok": true})");
    // Big enough to span several pages of the small disk.
    juce::String settingsText = juce::String::repeatedString("a settings value that fills pages ", 800);

    struct Named
    {
        const char* name;
        const char* extension;
        Writer write;
        // The job's sentences name no file: its caller shows them beside the chosen one.
        bool namesTarget = true;
        bool saysDiskFull = true;
        // The preset writer has a temporary naming of its own, swept by a test of its own.
        bool sharesTemporaryNaming = true;
    };

    std::vector<Named> all() const
    {
        return {
            {"render to WAV", ".wav",
             [this](const juce::File& t, juce::String& e) { return renderTo(input, t, e); }},
            {"render to FLAC", ".flac",
             [this](const juce::File& t, juce::String& e) { return renderTo(input, t, e); }},
            {"capture WAV export", ".wav",
             [this](const juce::File& t, juce::String& e) { return exportCaptureToFile(*capture, t, e); }},
            {"editor WAV export job", ".wav",
             [this](const juce::File& t, juce::String& e) { return exportThroughJob(*capture, t, e); },
             false},
            {"autosave previous generation", ".sorvaneproject",
             [this](const juce::File& t, juce::String& e)
             { return ProjectAutosave::retainPreviousGeneration(newestGeneration, t, e); }},
            {"reports, pages and images", ".json",
             [this](const juce::File& t, juce::String& e) {
                 return writeFileDurably(t, newestGenerationBytes.getData(), newestGenerationBytes.getSize(),
                                         e);
             }},
            {"project file", ".sorvaneproject",
             [](const juce::File& t, juce::String& e)
             { return writeCreatorProject(t, sorvane::test::sentinelRecord(), e); },
             false},
            {"user preset", ".sorvane",
             [this](const juce::File& t, juce::String& e)
             {
                 juce::File written;
                 return saveUserPreset(t, presetState, *processor, true, written, e);
             },
             false, true, false},
            {"release report", ".json",
             [this](const juce::File& t, juce::String& e) { return writeReportFile(t, report, e); }},
            {"settings", ".settings",
             [this](const juce::File& t, juce::String& e)
             {
                 juce::PropertiesFile::Options options;
                 options.storageFormat = juce::PropertiesFile::storeAsXML;
                 options.millisecondsBeforeSaving = -1;
                 juce::PropertiesFile settings(t, options);
                 settings.clear();
                 settings.setValue("recentAudio", settingsText);
                 return knurlkit::saveSettingsFile(settings, e);
             }},
        };
    }
};

TEST(DurableWrites, AFullDiskRefusesToPublishKeepsTheOldFileAndSaysTheDiskIsFull)
{
    Writers writers;
    const auto disk = writers.folder.dir.getChildFile("disk");
    SmallTmpfs tmpfs(disk, 256);
    if (!tmpfs.isMounted())
        GTEST_SKIP() << "needs a small full disk: " << tmpfs.whyNot();

    for (const auto& writer : writers.all())
    {
        if (!writer.saysDiskFull)
            continue;
        // The complete file, written where there is room, gives the size the full disk cuts short. Under
        // the same name: a preset holds its own name.
        const auto reference =
            writers.folder.dir.getChildFile("reference").getChildFile(juce::String("out") + writer.extension);
        ASSERT_TRUE(reference.getParentDirectory().createDirectory());
        juce::String error;
        ASSERT_TRUE(writer.write(reference, error)) << writer.name << ": " << error;
        const int pages = SmallTmpfs::pagesFor(reference.getSize());

        struct Case
        {
            const char* room;
            int freePages;
            bool olderFile;
        };
        // One page short fails inside the last block a buffered stream holds, when only its final
        // flush and the header rewrite are left.
        const Case cases[] = {
            {"one page short, over an older file", pages - 1, true},
            {"one page short, nothing there yet", pages - 1, false},
            {"half the room, over an older file", pages / 2, true},
        };
        for (const auto& c : cases)
        {
            SCOPED_TRACE(juce::String(writer.name) + ", " + c.room);
            const auto target = disk.getChildFile(juce::String("out") + writer.extension);
            target.deleteFile();
            if (c.olderFile)
                ASSERT_TRUE(target.replaceWithText("an older file, to be kept"));
            ASSERT_TRUE(tmpfs.leaveFreePages(c.freePages));
            const auto before = namesIn(disk);

            EXPECT_FALSE(writer.write(target, error));
            EXPECT_TRUE(error.contains(diskFull)) << error;
            EXPECT_EQ(error.contains(target.getFileName()), writer.namesTarget) << error;
            if (c.olderFile)
            {
                EXPECT_EQ(error.endsWith("the previous file is unchanged."), writer.namesTarget) << error;
                EXPECT_EQ(target.loadFileAsString(), "an older file, to be kept");
            }
            else
                EXPECT_FALSE(target.exists());
            EXPECT_EQ(namesIn(disk).joinIntoString(" "), before.joinIntoString(" "))
                << "a temporary was left behind";

            // With room again the same write goes through and gives the complete file.
            ASSERT_TRUE(tmpfs.empty());
            ASSERT_TRUE(writer.write(target, error)) << error;
            EXPECT_EQ(bytesOf(target), bytesOf(reference));
        }
        reference.deleteFile();
    }
}

TEST(DurableWrites, AKilledWritersTemporaryIsSweptAndNothingElse)
{
    Writers writers;
    const auto dir = writers.folder.dir.getChildFile("beside");
    ASSERT_TRUE(dir.createDirectory());
    const auto hourAgo = (::time(nullptr) - 3600);

    for (const auto& writer : writers.all())
    {
        if (!writer.sharesTemporaryNaming)
            continue;
        SCOPED_TRACE(writer.name);
        const juce::String ext = writer.extension;
        const auto target = dir.getChildFile("mix" + ext);
        struct Planted
        {
            juce::String name;
            bool old;
            bool swept;
        };
        const std::vector<Planted> planted = {
            {".mix.partial-0123456789abcdef" + ext, true, true},
            {".mix.partial-89abcdef01234567" + ext, true, true},
            // Left by a writer that was filling one of the writer's own temporaries.
            {"..mix.partial-0123456789abcdef.partial-fedcba9876543210" + ext, true, true},
            // Changed after this process started: a writer may still be at work on it.
            {".mix.partial-fedcba9876543210" + ext, false, false},
            {".mix.partial-0123456789ABCDEF" + ext, true, false},
            {".mix.partial-0123456789abcde" + ext, true, false},
            {".mix.partial-0123456789abcdef" + ext + ".bak", true, false},
            {".mix.partial-0123456789abcdef.other", true, false},
            {".other.partial-0123456789abcdef" + ext, true, false},
            {"mix.partial-0123456789abcdef" + ext, true, false},
            {".notes", true, false},
        };
        for (const auto& p : planted)
        {
            const auto file = dir.getChildFile(p.name);
            ASSERT_TRUE(file.replaceWithText("left behind"));
            // Fresh ones clearly after this process started, whatever the file clock's coarseness.
            const auto when = p.old ? hourAgo : ::time(nullptr) + 60;
            const struct utimbuf times
            {
                when, when
            };
            ASSERT_EQ(::utime(file.getFullPathName().toRawUTF8(), &times), 0);
        }
        // Ours by name but not by owner, or a link: neither is ours to remove.
        const auto foreign = dir.getChildFile(".mix.partial-1111111111111111" + ext);
        ASSERT_TRUE(foreign.replaceWithText("someone else's"));
        const bool canChown = ::chown(foreign.getFullPathName().toRawUTF8(), 65534, 65534) == 0;
        const auto link = dir.getChildFile(".mix.partial-2222222222222222" + ext);
        ASSERT_EQ(::symlink("../in.wav", link.getFullPathName().toRawUTF8()), 0);
        for (const auto& f : {foreign, link})
        {
            const struct timespec times[2] = {{hourAgo, 0}, {hourAgo, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, f.getFullPathName().toRawUTF8(), times, AT_SYMLINK_NOFOLLOW), 0);
        }

        juce::String error;
        ASSERT_TRUE(writer.write(target, error)) << error;

        for (const auto& p : planted)
            EXPECT_EQ(dir.getChildFile(p.name).exists(), !p.swept) << p.name;
        if (canChown)
            EXPECT_TRUE(foreign.existsAsFile());
        EXPECT_TRUE(link.isSymbolicLink());
        EXPECT_TRUE(writers.input.existsAsFile());
        EXPECT_TRUE(target.existsAsFile());
        dir.deleteRecursively();
        ASSERT_TRUE(dir.createDirectory());
    }
}
TEST(DurableWrites, APresetWriterSweepsOnlyItsOwnStaleTemporaries)
{
    RenderFolder folder;
    const auto target = folder.dir.getChildFile("Warm Pad.sorvane");
    const auto hourAgo = ::time(nullptr) - 3600;
    struct Planted
    {
        juce::String name;
        bool old;
        bool swept;
    };
    const std::vector<Planted> planted = {
        {".Warm Pad.sorvane.partial-4242-0-1a2b3c4d.tmp", true, true},
        {".Warm Pad.sorvane.partial-17-2f-ffffffff00000000.tmp", true, true},
        {".Warm Pad.sorvane.partial-4242-1-1a2b3c4d.tmp", false, false},
        {".Warm Pad.sorvane.partial-42x2-0-1a2b3c4d.tmp", true, false},
        {".Warm Pad.sorvane.partial-4242-0-1a2b3c4d.tmp.bak", true, false},
        {".Warm Pad.sorvane.partial-4242-0.tmp", true, false},
        {".Cold Pad.sorvane.partial-4242-0-1a2b3c4d.tmp", true, false},
        {".Warm Pad.sorvane", true, false},
    };
    for (const auto& p : planted)
    {
        const auto file = folder.dir.getChildFile(p.name);
        ASSERT_TRUE(file.replaceWithText("left behind"));
        // A fresh one is dated clearly after this process started: file times come from a coarse
        // clock, and one written in the process's first milliseconds can read as older.
        const auto when = p.old ? hourAgo : ::time(nullptr) + 60;
        const struct utimbuf times
        {
            when, when
        };
        ASSERT_EQ(::utime(file.getFullPathName().toRawUTF8(), &times), 0);
    }
    juce::String reason;
    ASSERT_TRUE(writeFileAtomically(target, "<preset/>", true, reason)) << reason;
    for (const auto& p : planted)
        EXPECT_EQ(folder.dir.getChildFile(p.name).exists(), !p.swept) << p.name;
    EXPECT_EQ(target.loadFileAsString(), "<preset/>");
}
} // namespace
