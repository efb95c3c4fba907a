// Export jobs: refusals before anything starts, a staged result published by one rename, and every
// other outcome (failure, cancel, a full or locked disk, a destination taken meanwhile) leaving the
// folder exactly as it was.
#include "ExportTestSupport.h"
#include "UnwritableFolder.h"

#include "capture/CreatorExportJob.h"
#include "capture/WaveExport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace sorvane;
using namespace sorvane::test;

namespace
{
constexpr double rate = 48000.0;
// 16 bars at 120 BPM and 48 kHz with the 4-second tail.
constexpr int longCaptureFrames = 1728000;
const juce::String cancelledText = "Export cancelled; partial output removed.";

using Work = CreatorExportJob::Work;

bool isFinished(CreatorExportState state)
{
    return state == CreatorExportState::Completed || state == CreatorExportState::Cancelled ||
           state == CreatorExportState::Failed;
}

// Generous: the machine may be busy with sanitizer builds.
CreatorExportSnapshot waitForEnd(const CreatorExportJob& job)
{
    const auto deadline = juce::Time::getMillisecondCounter() + 60000;
    auto snapshot = job.getSnapshot();
    while (!isFinished(snapshot.state) && juce::Time::getMillisecondCounter() < deadline)
    {
        juce::Thread::sleep(1);
        snapshot = job.getSnapshot();
    }
    return snapshot;
}

CreatorExportJob::Request request(const juce::File& destination, Work work, bool folder = false,
                                  juce::Array<juce::File> required = {})
{
    CreatorExportJob::Request r;
    r.kind = folder ? CreatorExportKind::SocialPackage : CreatorExportKind::ProcessedWav;
    r.destination = destination;
    r.destinationIsFolder = folder;
    r.requiredFiles = std::move(required);
    r.work = std::move(work);
    return r;
}

// Writes text into a file target, or a.txt and sub/b.txt into a folder target.
Work writing(const juce::String& text, const juce::String& message = {})
{
    return [text, message](const juce::File& target, std::atomic<float>& progress, const std::atomic<bool>&,
                           juce::String& out)
    {
        progress.store(0.5f);
        bool ok = true;
        if (target.isDirectory())
        {
            ok = target.getChildFile("a.txt").replaceWithText(text) &&
                 target.getChildFile("sub").createDirectory() &&
                 target.getChildFile("sub/b.txt").replaceWithText(text + text);
        }
        else
        {
            ok = target.replaceWithText(text);
        }
        out = message;
        return ok;
    };
}

Work waveWork(juce::AudioBuffer<float> audio, const juce::String& comment = {})
{
    return [audio = std::move(audio), comment](const juce::File& target, std::atomic<float>& progress,
                                               const std::atomic<bool>& cancel, juce::String& message)
    { return writeNormalisedWave(target, audio, rate, &progress, &cancel, message, comment); };
}

// Writes partial output, says it started, and keeps going until the cancel flag is seen.
struct UntilCancelled
{
    std::shared_ptr<juce::WaitableEvent> started = std::make_shared<juce::WaitableEvent>();
    std::shared_ptr<std::atomic<bool>> sawCancel = std::make_shared<std::atomic<bool>>(false);

    Work work(bool result = true) const
    {
        return [started = started, sawCancel = sawCancel,
                result](const juce::File& target, std::atomic<float>&, const std::atomic<bool>& cancel,
                        juce::String& message)
        {
            const auto part = target.isDirectory() ? target.getChildFile("part.txt") : target;
            part.replaceWithText("partial");
            started->signal();
            const auto deadline = juce::Time::getMillisecondCounter() + 60000;
            while (!cancel.load() && juce::Time::getMillisecondCounter() < deadline)
                juce::Thread::sleep(1);
            sawCancel->store(cancel.load());
            part.appendText(" and more");
            message = "The work's own words.";
            return result;
        };
    }
};

struct Folder : ExportFolder
{
    juce::File existing = writeBytes(dir.getChildFile("existing.wav"), "previous export");
    Folder()
    {
        dir.getChildFile("existing-folder").createDirectory();
        writeBytes(dir.getChildFile("existing-folder/inside.txt"), "kept");
    }
};
} // namespace

TEST(CreatorExportJob, LaunchRefusesWithExactSentenceAndTouchesNothing)
{
    struct Case
    {
        const char* name;
        std::function<CreatorExportJob::Request(const Folder&, Work)> make;
        std::function<juce::String(const Folder&)> message;
    };
    const juce::String noDestination = "The export request has no writable destination or work function.";
    const juce::String folderTaken =
        "Choose a new destination folder so an existing export is never overwritten.";
    const juce::String missing = "Required export dependency is missing: ";
    const Case cases[] = {
        {"empty destination", [](const Folder&, Work w) { return request({}, w); },
         [&](const Folder&) { return noDestination; }},
        {"empty folder destination", [](const Folder&, Work w) { return request({}, w, true); },
         [&](const Folder&) { return noDestination; }},
        {"file destination is a folder",
         [](const Folder& f, Work w) { return request(f.dir.getChildFile("existing-folder"), w); },
         [&](const Folder&) { return noDestination; }},
        {"no work function",
         [](const Folder& f, Work) { return request(f.dir.getChildFile("new.wav"), nullptr); },
         [&](const Folder&) { return noDestination; }},
        {"required file missing",
         [](const Folder& f, Work w)
         { return request(f.dir.getChildFile("new.wav"), w, false, {f.dir.getChildFile("cover.png")}); },
         [&](const Folder& f) { return missing + f.dir.getChildFile("cover.png").getFullPathName(); }},
        {"required file with an empty path",
         [](const Folder& f, Work w)
         { return request(f.dir.getChildFile("new.wav"), w, false, {juce::File()}); },
         [&](const Folder&) { return missing; }},
        {"second required file missing",
         [](const Folder& f, Work w) {
             return request(f.dir.getChildFile("Pack"), w, true,
                            {f.existing, f.dir.getChildFile("gone.png")});
         },
         [&](const Folder& f) { return missing + f.dir.getChildFile("gone.png").getFullPathName(); }},
        {"parent folder cannot be created",
         [](const Folder& f, Work w) { return request(f.existing.getChildFile("sub/new.wav"), w); },
         [&](const Folder&) { return juce::String("Could not create the export destination folder."); }},
        {"folder destination exists",
         [](const Folder& f, Work w) { return request(f.dir.getChildFile("existing-folder"), w, true); },
         [&](const Folder&) { return folderTaken; }},
        {"folder destination is a file", [](const Folder& f, Work w) { return request(f.existing, w, true); },
         [&](const Folder&) { return folderTaken; }},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Folder folder;
        const auto before = listing(folder.dir);
        auto ran = std::make_shared<std::atomic<bool>>(false);
        const Work work =
            [ran](const juce::File&, std::atomic<float>&, const std::atomic<bool>&, juce::String&)
        {
            ran->store(true);
            return true;
        };
        auto r = c.make(folder, work);
        const auto kind = r.kind;
        const auto destination = r.destination;
        CreatorExportJob job(std::move(r));

        EXPECT_FALSE(job.launch());
        const auto snapshot = job.getSnapshot();
        EXPECT_EQ(snapshot.state, CreatorExportState::Failed);
        EXPECT_EQ(snapshot.message, c.message(folder));
        EXPECT_EQ(snapshot.kind, kind);
        EXPECT_EQ(snapshot.destinationPath, destination.getFullPathName());
        EXPECT_EQ(job.getKind(), kind);
        EXPECT_EQ(job.getDestination(), destination);

        EXPECT_FALSE(job.launch());
        EXPECT_EQ(job.getSnapshot().message, c.message(folder));
        EXPECT_FALSE(ran->load());
        EXPECT_EQ(listing(folder.dir), before);
        EXPECT_EQ(folder.existing.loadFileAsString(), "previous export");
    }
}

TEST(CreatorExportJob, NewJobIsIdleAndLaunchesOnlyOnce)
{
    Folder folder;
    auto runs = std::make_shared<std::atomic<int>>(0);
    const Work work =
        [runs](const juce::File& target, std::atomic<float>&, const std::atomic<bool>&, juce::String&)
    {
        ++*runs;
        return target.replaceWithText("new");
    };
    CreatorExportJob job(request(folder.dir.getChildFile("new.wav"), work));
    const auto idle = job.getSnapshot();
    EXPECT_EQ(idle.state, CreatorExportState::Idle);
    EXPECT_EQ(idle.progress, 0.0f);
    EXPECT_TRUE(idle.message.isEmpty());

    ASSERT_TRUE(job.launch());
    EXPECT_FALSE(job.launch());
    EXPECT_EQ(waitForEnd(job).state, CreatorExportState::Completed);
    EXPECT_FALSE(job.launch());
    EXPECT_EQ(job.getSnapshot().state, CreatorExportState::Completed);
    EXPECT_EQ(runs->load(), 1);
}

TEST(CreatorExportJob, CompletedFileExportReplacesTheDestinationInOneStep)
{
    struct Case
    {
        const char* name;
        const char* destination;
        juce::String workMessage, expectedMessage;
    };
    const Case cases[] = {
        {"over an existing file", "existing.wav", {}, "Export completed."},
        {"to a new name", "new.wav", "Wrote the file.", "Wrote the file."},
        {"into folders that do not exist yet", "new/deeper/out.wav", {}, "Export completed."},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Folder folder;
        const auto destination = folder.dir.getChildFile(c.destination);
        // Afterwards only the destination (and any folder made for it) differs: no temporary file is left.
        auto expected = listing(folder.dir);
        expected.removeString(juce::String(c.destination) + " 15");
        expected.add(juce::String(c.destination) + " 14");
        for (auto path = destination.getParentDirectory(); path != folder.dir;
             path = path.getParentDirectory())
            expected.add(path.getRelativePathFrom(folder.dir) + "/");
        expected.sort(false);

        juce::File seenTarget;
        juce::String threadName;
        bool targetExisted = true;
        bool destinationUntouched = false;
        const Work write = writing("fresh contents", c.workMessage);
        const Work work = [&, write](const juce::File& target, std::atomic<float>& progress,
                                     const std::atomic<bool>& cancel, juce::String& message)
        {
            seenTarget = target;
            targetExisted = target.exists();
            threadName = juce::Thread::getCurrentThread()->getThreadName();
            const bool ok = write(target, progress, cancel, message);
            destinationUntouched =
                !destination.existsAsFile() || destination.loadFileAsString() != "fresh contents";
            return ok;
        };
        CreatorExportJob job(request(destination, work));
        ASSERT_TRUE(job.launch());
        const auto snapshot = waitForEnd(job);

        EXPECT_EQ(snapshot.state, CreatorExportState::Completed);
        EXPECT_EQ(snapshot.message, c.expectedMessage);
        EXPECT_EQ(snapshot.progress, 1.0f);
        EXPECT_EQ(threadName, "Sorvane creator export");
        EXPECT_EQ(seenTarget.getParentDirectory(), destination.getParentDirectory());
        EXPECT_NE(seenTarget, destination);
        EXPECT_FALSE(targetExisted);
        EXPECT_TRUE(destinationUntouched);
        EXPECT_EQ(destination.loadFileAsString(), "fresh contents");

        EXPECT_EQ(listing(folder.dir), expected);
    }
}

TEST(CreatorExportJob, CompletedWaveExportReadsBackInJuceAndPython)
{
    Folder folder;
    const auto comment = makeCaptureComment(0.125, 0.5, false);
    CreatorExportJob job(request(folder.existing, waveWork(testSignal(2, 96000, 1.0f), comment)));
    ASSERT_TRUE(job.launch());
    const auto snapshot = waitForEnd(job);
    ASSERT_EQ(snapshot.state, CreatorExportState::Completed) << snapshot.message;
    EXPECT_EQ(snapshot.message, "Export completed.");

    const auto back = readWithJuce(folder.existing);
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(back.channels, 2);
    EXPECT_EQ(back.frames, 96000);
    EXPECT_NEAR(back.audio.getMagnitude(0, 96000), wavePeakCeiling, 2.0f / 8388608.0f);
    EXPECT_EQ(back.metadata.getValue(juce::WavAudioFormat::riffInfoComment, {}), comment);

    const auto python = readWithPython(folder.existing, folder.dir.getChildFile("existing-folder"));
    ASSERT_TRUE(python.isObject());
    EXPECT_EQ((int)python["frames"], 96000);
    EXPECT_EQ((int)python["width"], 3);
    EXPECT_LE((double)python["peak"], (double)wavePeakCeiling);
    EXPECT_EQ(python["comment"].toString(), comment);
}

TEST(CreatorExportJob, FailureOrCancelLeavesTheFolderAsItWas)
{
    enum class Outcome
    {
        failsWithMessage,
        failsSilently,
        throws,
        cancelledButSucceeds,
        cancelledAndFails
    };
    struct Case
    {
        const char* name;
        Outcome outcome;
        CreatorExportState state;
        juce::String message;
    };
    const Case cases[] = {
        {"work fails with its reason", Outcome::failsWithMessage, CreatorExportState::Failed,
         "Disk said no."},
        {"work fails without a reason", Outcome::failsSilently, CreatorExportState::Failed,
         "The export worker failed without details."},
        {"work throws", Outcome::throws, CreatorExportState::Failed,
         "The export worker failed without details."},
        {"cancelled, work still reports success", Outcome::cancelledButSucceeds,
         CreatorExportState::Cancelled, cancelledText},
        {"cancelled, work reports failure", Outcome::cancelledAndFails, CreatorExportState::Cancelled,
         cancelledText},
    };

    for (const bool toFolder : {false, true})
        for (const auto& c : cases)
        {
            SCOPED_TRACE(juce::String(c.name) + (toFolder ? " (folder)" : " (file)"));
            Folder folder;
            const auto destination = toFolder ? folder.dir.getChildFile("Pack") : folder.existing;
            const auto before = listing(folder.dir);

            UntilCancelled waiting;
            Work work;
            switch (c.outcome)
            {
            case Outcome::failsWithMessage:
            case Outcome::failsSilently:
                work = [silent = c.outcome ==
                                 Outcome::failsSilently](const juce::File& target, std::atomic<float>&,
                                                         const std::atomic<bool>&, juce::String& m)
                {
                    (target.isDirectory() ? target.getChildFile("part.txt") : target)
                        .replaceWithText("partial");
                    m = silent ? juce::String() : juce::String("Disk said no.");
                    return false;
                };
                break;
            case Outcome::throws:
                work = [](const juce::File& target, std::atomic<float>&, const std::atomic<bool>&,
                          juce::String& m) -> bool
                {
                    (target.isDirectory() ? target.getChildFile("part.txt") : target)
                        .replaceWithText("partial");
                    m.clear();
                    throw std::runtime_error("encoder blew up");
                };
                break;
            case Outcome::cancelledButSucceeds:
                work = waiting.work(true);
                break;
            case Outcome::cancelledAndFails:
                work = waiting.work(false);
                break;
            }

            CreatorExportJob job(request(destination, work, toFolder));
            ASSERT_TRUE(job.launch());
            if (c.state == CreatorExportState::Cancelled)
            {
                ASSERT_TRUE(waiting.started->wait(60000));
                job.cancel();
            }
            const auto snapshot = waitForEnd(job);

            EXPECT_EQ(snapshot.state, c.state);
            EXPECT_EQ(snapshot.message, c.message);
            EXPECT_EQ(listing(folder.dir), before);
            EXPECT_EQ(folder.existing.loadFileAsString(), "previous export");
            if (c.state == CreatorExportState::Cancelled)
            {
                EXPECT_TRUE(waiting.sawCancel->load());
            }
        }
}

TEST(CreatorExportJob, DestinationTakenDuringTheRunIsNeverReplaced)
{
    struct Case
    {
        const char* name;
        bool toFolder;
        bool takenMeanwhile;
        const char* message;
    };
    const Case cases[] = {
        {"folder appears where the file goes", false, true,
         "Could not atomically publish the completed export."},
        {"work reports success but wrote nothing", false, false,
         "Could not atomically publish the completed export."},
        {"folder appears where the folder goes", true, true,
         "Could not atomically publish the completed export folder."},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Folder folder;
        const juce::String name = c.toFolder ? "Pack" : "new.wav";
        const auto destination = folder.dir.getChildFile(name);
        auto expected = listing(folder.dir);
        if (c.takenMeanwhile)
            expected.addArray({name + "/", name + "/theirs.txt 14"});
        expected.sort(false);

        const Work write = writing("ours");
        const bool takenMeanwhile = c.takenMeanwhile;
        const Work work = [=](const juce::File& target, std::atomic<float>& progress,
                              const std::atomic<bool>& cancel, juce::String& message)
        {
            if (!takenMeanwhile)
                return true;
            destination.createDirectory();
            destination.getChildFile("theirs.txt").replaceWithText("someone else's");
            return write(target, progress, cancel, message);
        };
        CreatorExportJob job(request(destination, work, c.toFolder));
        ASSERT_TRUE(job.launch());
        const auto snapshot = waitForEnd(job);

        EXPECT_EQ(snapshot.state, CreatorExportState::Failed);
        EXPECT_EQ(snapshot.message, c.message);
        EXPECT_EQ(listing(folder.dir), expected);
        if (c.takenMeanwhile)
        {
            EXPECT_EQ(destination.getChildFile("theirs.txt").loadFileAsString(), "someone else's");
        }
    }
}

TEST(CreatorExportJob, FolderExportStagesInANumberedPartialFolderAndPublishesIt)
{
    struct Case
    {
        juce::StringArray taken;
        const char* staging;
    };
    const Case cases[] = {
        {{}, "Pack.partial"},
        {{"Pack.partial"}, "Pack.partial2"},
        {{"Pack.partial", "Pack.partial2"}, "Pack.partial3"},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.staging);
        Folder folder;
        for (const auto& name : c.taken)
        {
            folder.dir.getChildFile(name).createDirectory();
            writeBytes(folder.dir.getChildFile(name + "/other-job.txt"), "not ours");
        }
        const auto before = listing(folder.dir);
        const auto destination = folder.dir.getChildFile("Pack");

        juce::File seenTarget;
        int entriesAtStart = -1;
        const Work write = writing("packaged", "Package ready.");
        const Work work = [&, write](const juce::File& target, std::atomic<float>& progress,
                                     const std::atomic<bool>& cancel, juce::String& message)
        {
            seenTarget = target;
            entriesAtStart =
                target.isDirectory() ? target.getNumberOfChildFiles(juce::File::findFilesAndDirectories) : -1;
            return write(target, progress, cancel, message);
        };
        CreatorExportJob job(request(destination, work, true));
        ASSERT_TRUE(job.launch());
        const auto snapshot = waitForEnd(job);

        EXPECT_EQ(snapshot.state, CreatorExportState::Completed);
        EXPECT_EQ(snapshot.message, "Package ready.");
        EXPECT_EQ(snapshot.progress, 1.0f);
        EXPECT_EQ(seenTarget, folder.dir.getChildFile(c.staging));
        EXPECT_EQ(entriesAtStart, 0);
        EXPECT_EQ(destination.getChildFile("a.txt").loadFileAsString(), "packaged");
        EXPECT_EQ(destination.getChildFile("sub/b.txt").loadFileAsString(), "packagedpackaged");

        auto expected = before;
        expected.addArray({"Pack/", "Pack/a.txt 8", "Pack/sub/", "Pack/sub/b.txt 16"});
        expected.sort(false);
        EXPECT_EQ(listing(folder.dir), expected);
    }
}

// A folder export killed mid-run leaves its staging folder; the next export of the same destination
// removes it, and only it: not one a running export holds, nor a folder of the user's that happens to
// have such a name.
TEST(CreatorExportJob, AKilledFolderExportsStagingIsSweptAndNothingElse)
{
    Folder folder;
    const auto destination = folder.dir.getChildFile("Pack");
    const auto staged = [&](const char* name)
    {
        const auto staging = folder.dir.getChildFile(name);
        EXPECT_TRUE(staging.createDirectory());
        writeBytes(staging.getChildFile("video.mp4"), "half a video");
        return staging;
    };

    // The killed one: its marker was held by a process that is gone now (flock's own lock ends with it).
    const auto killed = staged("Pack.partial");
    const auto killedMarker = folder.dir.getChildFile(".Pack.partial.lock");
    juce::ChildProcess holder;
    ASSERT_TRUE(
        holder.start(juce::StringArray{"flock", "--close", killedMarker.getFullPathName(), "sleep", "60"}));
    for (int i = 0; i < 500 && !killedMarker.existsAsFile(); ++i)
        juce::Thread::sleep(10);
    ASSERT_TRUE(killedMarker.existsAsFile());
    ASSERT_TRUE(holder.kill());
    holder.waitForProcessToFinish(5000);

    // A running export's, held by this process through a descriptor of its own.
    const auto running = staged("Pack.partial2");
    const auto runningMarker = folder.dir.getChildFile(".Pack.partial2.lock");
    const int held = ::open(runningMarker.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

    // The user's own folders: one without a marker, one of another destination.
    const auto users = staged("Pack.partial3");
    const auto other = staged("Other.partial");
    writeBytes(folder.dir.getChildFile(".Other.partial.lock"), "");

    const auto before = listing(folder.dir);
    ASSERT_TRUE(before.contains(".Pack.partial.lock 0"));
    ASSERT_TRUE(before.contains("Pack.partial/video.mp4 12"));

    juce::File seenTarget;
    const Work write = writing("packaged");
    CreatorExportJob job(request(
        destination,
        [&, write](const juce::File& target, std::atomic<float>& progress, const std::atomic<bool>& cancel,
                   juce::String& message)
        {
            seenTarget = target;
            return write(target, progress, cancel, message);
        },
        true));
    ASSERT_TRUE(job.launch());
    EXPECT_EQ(waitForEnd(job).state, CreatorExportState::Completed);
    ::close(held);

    // The killed export's name was free again for this one, and nothing of it is left.
    EXPECT_EQ(seenTarget, killed);
    auto expected = before;
    expected.removeString(".Pack.partial.lock 0");
    expected.removeString("Pack.partial/");
    expected.removeString("Pack.partial/video.mp4 12");
    expected.addArray({"Pack/", "Pack/a.txt 8", "Pack/sub/", "Pack/sub/b.txt 16"});
    expected.sort(false);
    EXPECT_EQ(listing(folder.dir).joinIntoString("\n"), expected.joinIntoString("\n"));
    EXPECT_TRUE(running.isDirectory());
    EXPECT_TRUE(users.isDirectory());
    EXPECT_TRUE(other.isDirectory());
}

TEST(CreatorExportJob, SnapshotClampsProgressToTheUnitRange)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const std::vector<std::pair<float, float>> values{{-0.5f, 0.0f}, {0.25f, 0.25f}, {1.7f, 1.0f},
                                                      {nan, 0.0f},   {inf, 1.0f},    {-inf, 0.0f}};
    auto published = std::make_shared<juce::WaitableEvent>();
    auto proceed = std::make_shared<juce::WaitableEvent>();

    Folder folder;
    const Work work =
        [=](const juce::File& target, std::atomic<float>& progress, const std::atomic<bool>&, juce::String&)
    {
        for (const auto& value : values)
        {
            progress.store(value.first);
            published->signal();
            proceed->wait(60000);
        }
        return target.replaceWithText("done");
    };
    CreatorExportJob job(request(folder.dir.getChildFile("new.wav"), work));
    ASSERT_TRUE(job.launch());
    for (const auto& value : values)
    {
        ASSERT_TRUE(published->wait(60000));
        const auto snapshot = job.getSnapshot();
        EXPECT_EQ(snapshot.progress, value.second) << value.first;
        EXPECT_EQ(snapshot.state, CreatorExportState::Running);
        EXPECT_EQ(snapshot.message, "Exporting.");
        proceed->signal();
    }
    EXPECT_EQ(waitForEnd(job).state, CreatorExportState::Completed);
}

TEST(CreatorExportJob, CancelEndsALongWaveExportAndKeepsTheOldFile)
{
    Folder folder;
    const auto before = listing(folder.dir);
    const auto capture = testSignal(2, longCaptureFrames, 1.0f);

    // Cancel lands once the job is writing; a job that finishes first is simply run again.
    bool cancelled = false;
    for (int attempt = 0; attempt < 5 && !cancelled; ++attempt)
    {
        CreatorExportJob job(request(folder.existing, waveWork(capture)));
        ASSERT_TRUE(job.launch());
        while (job.getSnapshot().state == CreatorExportState::Running && job.getSnapshot().progress < 0.35f)
            juce::Thread::yield();
        job.cancel();
        const auto snapshot = waitForEnd(job);
        ASSERT_TRUE(isFinished(snapshot.state));
        if (snapshot.state == CreatorExportState::Completed)
        {
            writeBytes(folder.existing, "previous export");
            continue;
        }
        cancelled = true;
        EXPECT_EQ(snapshot.state, CreatorExportState::Cancelled);
        EXPECT_EQ(snapshot.message, cancelledText);
        EXPECT_LT(snapshot.progress, 1.0f);
    }
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(listing(folder.dir), before);
    EXPECT_EQ(folder.existing.loadFileAsString(), "previous export");
}

TEST(CreatorExportJob, CancelBeforeTheScanEndsKeepsTheOldFile)
{
    Folder folder;
    const auto before = listing(folder.dir);
    CreatorExportJob job(request(folder.existing, waveWork(testSignal(2, longCaptureFrames, 1.0f))));
    ASSERT_TRUE(job.launch());
    job.cancel();
    const auto snapshot = waitForEnd(job);
    EXPECT_EQ(snapshot.state, CreatorExportState::Cancelled);
    EXPECT_EQ(snapshot.message, cancelledText);
    EXPECT_EQ(listing(folder.dir), before);
    EXPECT_EQ(folder.existing.loadFileAsString(), "previous export");
}

TEST(CreatorExportJob, DestroyingARunningJobCancelsItAndRemovesItsOutput)
{
    for (const bool toFolder : {false, true})
    {
        SCOPED_TRACE(toFolder ? "folder" : "file");
        Folder folder;
        const auto before = listing(folder.dir);
        UntilCancelled waiting;
        auto job = std::make_unique<CreatorExportJob>(
            request(toFolder ? folder.dir.getChildFile("Pack") : folder.existing, waiting.work(), toFolder));
        ASSERT_TRUE(job->launch());
        ASSERT_TRUE(waiting.started->wait(60000));
        job.reset();

        EXPECT_TRUE(waiting.sawCancel->load());
        EXPECT_EQ(listing(folder.dir), before);
        EXPECT_EQ(folder.existing.loadFileAsString(), "previous export");
    }
}

TEST(CreatorExportJob, FullDiskFailsTheExportAndKeepsTheOldFile)
{
    Folder folder;
    const auto before = listing(folder.dir);
    CreatorExportJob job(request(folder.existing, waveWork(testSignal(2, 96000, 1.0f), "comment")));
    CreatorExportSnapshot snapshot;
    {
        FileSizeLimit limit(64 * 1024);
        ASSERT_TRUE(limit.isActive());
        ASSERT_TRUE(job.launch());
        snapshot = waitForEnd(job);
    }
    EXPECT_EQ(snapshot.state, CreatorExportState::Failed);
    EXPECT_EQ(snapshot.message, "Could not encode the processed WAV file: File too large.");
    EXPECT_EQ(listing(folder.dir), before);
    EXPECT_EQ(folder.existing.loadFileAsString(), "previous export");
}

TEST(CreatorExportJob, UnwritableFolderFailsTheExportAndKeepsTheOldFile)
{
    Folder folder;
    const auto locked = folder.dir.getChildFile("locked");
    locked.createDirectory();
    const auto destination = writeBytes(locked.getChildFile("capture.wav"), "previous export");
    const auto before = listing(folder.dir);
    CreatorExportSnapshot snapshot;
    {
        sorvane::test::UnwritableFolder lock(locked);
        if (!lock.isLocked())
            GTEST_SKIP() << "this machine lets nothing lock a folder against this user";
        CreatorExportJob job(request(destination, waveWork(testSignal(2, 9600, 1.0f))));
        ASSERT_TRUE(job.launch());
        snapshot = waitForEnd(job);
    }

    EXPECT_EQ(snapshot.state, CreatorExportState::Failed);
    EXPECT_EQ(snapshot.message, "Could not create the WAV output file.");
    EXPECT_EQ(listing(folder.dir), before);
    EXPECT_EQ(destination.loadFileAsString(), "previous export");
}
