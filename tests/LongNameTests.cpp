// Names as long as a folder entry allows (255 bytes of UTF-8): the hidden temporaries written beside a
// target fit in a folder entry whatever the target's length, and every writer that uses them publishes
// such a name, ASCII or CJK, under exactly that name on a real disk.
#include "EditorTestSupport.h"
#include "RenderTestSupport.h"
#include "TestSupport.h"

#include "capture/CaptureExport.h"
#include "capture/CreatorExportJob.h"
#include "capture/DurableFile.h"
#include "capture/ProcessedCapture.h"
#include "presets/PresetCatalog.h"
#include "presets/PresetFileIo.h"
#include "render/OfflineRenderer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <unistd.h>

using namespace sorvane;

namespace
{
// 音: three bytes in UTF-8.
const juce::String cjk = juce::String::fromUTF8("\xe9\x9f\xb3");

int bytesOf(const juce::String& text)
{
    return (int)text.getNumBytesAsUTF8();
}

// Exactly `total` bytes ending in `extension`: ASCII letters, or CJK characters after the one or two
// letters that make the count come out.
juce::String nameOfBytes(int total, const juce::String& extension, bool useCjk)
{
    const int room = total - bytesOf(extension);
    if (!useCjk)
        return juce::String::repeatedString("a", room) + extension;
    return juce::String::repeatedString("a", room % 3) + juce::String::repeatedString(cjk, room / 3) +
           extension;
}

bool isValidUtf8(const juce::String& text)
{
    return juce::CharPointer_UTF8::isValidString(text.toRawUTF8(), bytesOf(text) + 1);
}

// The part of the target's name a temporary kept: between the leading "." and ".partial-".
juce::String keptPart(const juce::String& temporaryName)
{
    return temporaryName.substring(1, temporaryName.lastIndexOf(".partial-"));
}

bool canCreate(const juce::File& file)
{
    const auto fd = ::open(file.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    ::close(fd);
    return file.deleteFile();
}

juce::StringArray namesIn(const juce::File& folder)
{
    juce::StringArray names;
    for (const auto& f : folder.findChildFiles(juce::File::findFilesAndDirectories, false, "*"))
        names.add(f.getFileName());
    names.sort(false);
    return names;
}

// A complete one-bar capture at 8 kHz, fed directly.
std::unique_ptr<ProcessedCapture> completeCapture()
{
    auto capture = std::make_unique<ProcessedCapture>();
    CaptureRequest r;
    r.deviceSampleRate = 8000.0;
    r.tempo = 300.0;
    r.bars = 1;
    r.includeTail = false;
    juce::String error;
    EXPECT_TRUE(capture->start(r, error)) << error;
    juce::AudioBuffer<float> wet(2, 100), dry(2, 100);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 100; ++i)
        {
            wet.setSample(c, i, i % 2 == 0 ? 0.5f : -0.5f);
            dry.setSample(c, i, i % 2 == 0 ? 0.25f : -0.25f);
        }
    while (capture->isActive())
        capture->write(wet, 100, dry, false);
    return capture;
}

CreatorExportSnapshot runExportJob(const juce::File& destination, bool toFolder)
{
    CreatorExportJob::Request request;
    request.kind = toFolder ? CreatorExportKind::SocialPackage : CreatorExportKind::ProcessedWav;
    request.destination = destination;
    request.destinationIsFolder = toFolder;
    // Written straight into the target, as the real exports write: replaceWithText would put a
    // temporary of JUCE's own beside the already long name.
    request.work = [](const juce::File& target, std::atomic<float>&, const std::atomic<bool>&, juce::String&)
    {
        juce::FileOutputStream out(target.isDirectory() ? target.getChildFile("inside.txt") : target);
        return out.openedOk() &&
               out.writeText(target.isDirectory() ? "package" : "export", false, false, nullptr) &&
               (out.flush(), out.getStatus().wasOk());
    };
    CreatorExportJob job(std::move(request));
    if (!job.launch())
        return job.getSnapshot();
    const auto deadline = juce::Time::getMillisecondCounter() + 60000;
    auto snapshot = job.getSnapshot();
    while ((snapshot.state == CreatorExportState::Checking || snapshot.state == CreatorExportState::Running ||
            snapshot.state == CreatorExportState::Idle) &&
           juce::Time::getMillisecondCounter() < deadline)
    {
        juce::Thread::sleep(1);
        snapshot = job.getSnapshot();
    }
    return snapshot;
}
} // namespace

TEST(TemporaryNames, FitInAFolderEntryStayHiddenRecognisableAndUniqueForAnyTargetName)
{
    test::RenderFolder folder;
    struct Case
    {
        const char* description;
        juce::String name;
    };
    // CJK names after zero, one and two letters: the cut falls on each byte of a character in turn.
    const Case cases[] = {
        {"a short name", "take.wav"},
        {"255 bytes of ASCII", nameOfBytes(255, ".wav", false)},
        {"255 bytes of CJK after two letters", nameOfBytes(255, ".wav", true)},
        {"254 bytes of CJK after one letter", nameOfBytes(254, ".wav", true)},
        {"253 bytes of CJK", nameOfBytes(253, ".wav", true)},
        {"255 bytes of CJK without an extension", nameOfBytes(255, {}, true)},
        {"255 bytes that are mostly extension", "a." + juce::String::repeatedString("e", 253)},
        {"a hidden name", ".hidden"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.description);
        ASSERT_LE(bytesOf(c.name), 255);
        const auto target = folder.dir.getChildFile(c.name);
        const bool extensionKept = bytesOf(target.getFileExtension()) <= 16;

        struct Helper
        {
            const char* name;
            std::function<juce::File(const juce::File&)> temporaryFor;
            juce::String namePart; // what of the target's name the temporary starts with
            juce::String ending;
        };
        const Helper helpers[] = {
            {"temporaryFileBeside", temporaryFileBeside,
             extensionKept ? target.getFileNameWithoutExtension() : target.getFileName(),
             extensionKept ? target.getFileExtension() : juce::String()},
            {"presetTemporaryFileFor", presetTemporaryFileFor, target.getFileName(), ".tmp"},
        };
        for (const auto& helper : helpers)
        {
            SCOPED_TRACE(helper.name);
            const auto temporary = helper.temporaryFor(target);
            const auto name = temporary.getFileName();
            EXPECT_EQ(temporary.getParentDirectory(), folder.dir);
            EXPECT_LE(bytesOf(name), maxFileNameBytes) << name;
            EXPECT_TRUE(isValidUtf8(name)) << name;
            EXPECT_TRUE(name.startsWithChar('.')) << name;
            EXPECT_TRUE(name.contains(".partial-")) << name;
            EXPECT_TRUE(name.endsWith(helper.ending)) << name;
            // As much of the target's name as fits, cut only between characters.
            const auto kept = keptPart(name);
            EXPECT_TRUE(helper.namePart.startsWith(kept)) << name;
            if (kept != helper.namePart)
            {
                EXPECT_GT(bytesOf(name), maxFileNameBytes - 3) << "more of the name would have fit: " << name;
            }
            EXPECT_NE(helper.temporaryFor(target), temporary) << "two temporaries of one name";
            EXPECT_TRUE(canCreate(temporary)) << name;
        }
        // The preset catalog skips its own temporaries and never takes one for a preset.
        const auto presetTemporary = presetTemporaryFileFor(target.withFileExtension(".sorvane"));
        EXPECT_TRUE(isPresetTemporaryFile(presetTemporary));
        EXPECT_FALSE(presetTemporary.hasFileExtension(".sorvane"));
    }
    EXPECT_TRUE(namesIn(folder.dir).isEmpty());
}

TEST(TemporaryNames, AFolderExportStagesBesideALongNameToo)
{
    test::RenderFolder folder;
    for (const bool useCjk : {false, true})
    {
        SCOPED_TRACE(useCjk ? "CJK" : "ASCII");
        const auto name = nameOfBytes(255, {}, useCjk);
        const auto destination = folder.dir.getChildFile(name);
        const auto snapshot = runExportJob(destination, true);
        EXPECT_EQ(snapshot.state, CreatorExportState::Completed) << snapshot.message;
        EXPECT_EQ(destination.getChildFile("inside.txt").loadFileAsString(), "package");
        EXPECT_TRUE(namesIn(folder.dir).contains(name));
        destination.deleteRecursively();
        EXPECT_TRUE(namesIn(folder.dir).isEmpty()) << namesIn(folder.dir).joinIntoString("|");
    }
}

TEST(LongNames, EveryWriterPublishesA255ByteNameUnderExactlyThatName)
{
    test::ScopedTemporaryHome home;
    auto processor = test::makeProcessor();
    const auto capture = completeCapture();
    ASSERT_TRUE(capture->isComplete());
    test::RenderFolder inputs;
    const auto input = inputs.dir.getChildFile("in.wav");
    test::writeFloatWave(input, test::renderTestSignal(2, 4800, 48000.0), 48000.0);

    struct Writer
    {
        const char* name;
        juce::String extension;
        // Writes `file`; false with a sentence.
        std::function<bool(const juce::File& file, juce::String& error)> write;
        const char* firstBytes;
    };
    const Writer writers[] = {
        {"preset save", ".sorvane",
         [&](const juce::File& file, juce::String& error)
         {
             juce::File written;
             return saveUserPreset(file, processor->captureParameterSnapshot(), *processor, false, written,
                                   error) &&
                    written == file;
         },
         "<?xml"},
        {"WAV export", ".wav",
         [&](const juce::File& file, juce::String& error)
         { return exportCaptureToFile(*capture, file, error); },
         "RIFF"},
        {"export job", ".wav",
         [&](const juce::File& file, juce::String& error)
         {
             const auto snapshot = runExportJob(file, false);
             error = snapshot.message;
             return snapshot.state == CreatorExportState::Completed;
         },
         "export"},
        {"offline render", ".wav",
         [&](const juce::File& file, juce::String& error)
         {
             auto renderProcessor = test::makeProcessor();
             render::OfflineRenderer renderer(render::RenderSettings{});
             render::RenderResult result;
             return renderer.open(input, error) && renderer.prepare(*renderProcessor, error) &&
                    renderer.render(file, nullptr, nullptr, result, error);
         },
         "RIFF"},
    };

    for (const auto& writer : writers)
        for (const bool useCjk : {false, true})
        {
            SCOPED_TRACE(juce::String(writer.name) + (useCjk ? ", CJK" : ", ASCII"));
            test::RenderFolder folder;
            const auto name = nameOfBytes(255, writer.extension, useCjk);
            ASSERT_EQ(bytesOf(name), 255);
            const auto file = folder.dir.getChildFile(name);
            juce::String error;
            EXPECT_TRUE(writer.write(file, error)) << error;
            EXPECT_EQ(namesIn(folder.dir), juce::StringArray(name));
            juce::MemoryBlock bytes;
            EXPECT_TRUE(file.loadFileAsData(bytes) && bytes.toString().startsWith(writer.firstBytes));
        }
}
