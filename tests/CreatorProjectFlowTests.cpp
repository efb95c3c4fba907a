// Creator projects in use: a project is prepared on a worker and published as one unit, saved,
// relinked to a moved source, autosaved in two generations, offered back after an unclean shutdown,
// and remembered in the recent list.
#include "CreatorProjectTestSupport.h"
#include "EditorTestSupport.h"
#include "TestSupport.h"

#include "presets/PresetFileIo.h"
#include "projects/CreatorProjectFile.h"
#include "projects/ProjectAutosave.h"
#include "projects/ProjectRecovery.h"
#include "projects/RecentProjects.h"
#include "transport/SourceLoadJob.h"
#include "workflow/StableHash.h"
#include "workflow/TresselSessionTree.h"

#include <gtest/gtest.h>

#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>

using sorvane::test::makeProcessor;
using sorvane::test::plain;
using sorvane::test::setPlain;
using State = sorvane::PreparationState;

namespace
{
juce::File writeTone(const juce::File& file, double seconds, double hz = 220.0)
{
    file.deleteFile();
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer(
        wav.createWriterFor(new juce::FileOutputStream(file), 8000, 2, 16, {}, 0));
    const int frames = (int)(seconds * 8000);
    juce::AudioBuffer<float> audio(2, frames);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < frames; ++i)
            audio.setSample(c, i, 0.3f * (float)std::sin(2.0 * M_PI * hz * i / 8000.0 + c));
    writer->writeFromAudioSampleBuffer(audio, 0, frames);
    return file;
}

std::unique_ptr<SorvaneAudioProcessor> makeStandalone()
{
    return makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
}

// Pumps the message loop until the newest load job ends; publication happens on this thread.
sorvane::CreatorPreparationSnapshot waitForLoadEnd(SorvaneAudioProcessor& processor)
{
    const auto end = juce::Time::getMillisecondCounter() + 60000;
    for (;;)
    {
        const auto s = processor.getSampleLoadSnapshot();
        if (sorvane::isTerminal((State)s.state) || juce::Time::getMillisecondCounter() > end)
            return s;
        sorvane::test::pumpMessages(2);
    }
}

// Everything a project restores, in one comparable line.
juce::String everything(SorvaneAudioProcessor& p)
{
    auto& s = p.getTransportState();
    const auto identity = p.getCreatorVideoIdentity();
    const auto sample = p.getSourceLibrary().getCurrentSample();
    juce::String history;
    for (size_t i = 0; i < p.getMutationHistory().size(); ++i)
        history << sorvane::treeDigest(p.getMutationHistory().getEntry(i)) << ",";
    return sorvane::treeDigest(p.captureParameterSnapshot()) + "|" +
           sorvane::treeDigest(sorvane::tresselSessionToTree(p.getTresselSession())) + "|" +
           juce::String((juce::int64)p.lockWord.load()) + "|" + juce::String(p.workflowSeed.load()) + "|" +
           juce::String(s.rangeStart.load(), 12) + "|" + juce::String(s.rangeEnd.load(), 12) + "|" +
           juce::String((int)s.looping.load()) + juce::String((int)s.zeroSnap.load()) + "|" +
           juce::String(s.crossfadeMilliseconds.load()) + "|" + juce::String(p.currentTempoBpm.load()) + "|" +
           juce::String(p.captureBarsSetting.load()) + juce::String((int)p.captureTailSetting.load()) + "|" +
           juce::String(p.socialAspect.load()) + juce::String(p.socialDuration.load()) +
           juce::String(p.socialBackground.load()) + "|" + identity.artist + "|" +
           juce::String((int)identity.effectedOnly) + "|" + (sample != nullptr ? sample->path : "no source") +
           "|" + history;
}

struct Workspace
{
    sorvane::test::ScopedTemporaryHome home;
    juce::File folder = home.getFolder().getChildFile("work");
    juce::File source;
    std::unique_ptr<SorvaneAudioProcessor> processor = makeStandalone();

    Workspace()
    {
        folder.createDirectory();
        source = writeTone(folder.getChildFile("take.wav"), 2.0);
        juce::String error;
        EXPECT_TRUE(processor->requestSampleLoad(source, error, false)) << error;
        EXPECT_EQ(waitForLoadEnd(*processor).state, (int)State::Published);
        processor->generateTressel(4242u, 3, 55.0f, {}, false, false);
        processor->selectTresselVariant(2);
        setPlain(*processor, "tone", 2345.0f);
        processor->lockWord.store(0x1234);
        auto& s = processor->getTransportState();
        s.rangeStart.store(0.25);
        s.rangeEnd.store(0.625);
        s.looping.store(false);
        s.zeroSnap.store(true);
        s.crossfadeMilliseconds.store(20.0f);
        processor->captureBarsSetting.store(8);
        processor->captureTailSetting.store(false);
        processor->setSocialVideoChoices(2, 1, 2);
        processor->setCreatorVideoIdentity("Mara Quell", true);
    }

    juce::File save(const juce::String& name = "Session.sorvaneproject")
    {
        const auto file = folder.getChildFile(name);
        juce::String error;
        EXPECT_TRUE(processor->saveCreatorProject(file, error)) << error;
        return file;
    }
};
} // namespace

TEST(CreatorProjectFlow, OpeningRestoresTheWholeSessionOnlyAtPublication)
{
    Workspace w;
    const auto file = w.save();
    EXPECT_FALSE(w.processor->projectDirty.load()) << "a save leaves the project clean";
    EXPECT_EQ(w.processor->getCurrentProjectFile(), file);
    const auto saved = everything(*w.processor);

    auto target = makeStandalone();
    setPlain(*target, "drive", 77.0f);
    const auto before = everything(*target);

    juce::String error;
    const auto started = juce::Time::getMillisecondCounterHiRes();
    ASSERT_TRUE(target->requestCreatorProjectLoad(file, {}, error)) << error;
    EXPECT_LT(juce::Time::getMillisecondCounterHiRes() - started, 1000.0)
        << "the request only starts a worker";

    // The worker prepares everything, but nothing of the open session changes until the message
    // thread publishes it.
    for (int i = 0; i < 2000 && target->getSampleLoadSnapshot().state != (int)State::Publishing; ++i)
        juce::Thread::sleep(2);
    ASSERT_EQ(target->getSampleLoadSnapshot().state, (int)State::Publishing);
    EXPECT_EQ(everything(*target), before);

    const auto end = waitForLoadEnd(*target);
    ASSERT_EQ(end.state, (int)State::Published) << end.message;
    EXPECT_TRUE(end.projectLoad);
    EXPECT_EQ(end.message, "Project source and creator state prepared and published as one unit.");
    EXPECT_EQ(everything(*target), saved);
    EXPECT_FALSE(target->projectDirty.load()) << "an opened project is clean";
    EXPECT_EQ(target->getRecentProjects()[0], file.getFullPathName());
    EXPECT_EQ(target->getCurrentProjectFile(), file);
}

TEST(CreatorProjectFlow, RequestsThatCannotStartAreRefusedBeforeAnyWorker)
{
    Workspace w;
    const auto empty = w.folder.getChildFile("empty.sorvaneproject");
    empty.create();
    const auto huge = w.folder.getChildFile("huge.sorvaneproject");
    sorvane::test::writeBytes(huge, std::string(3 * 1024 * 1024, 'x'));
    const auto folderNamedLikeAProject = w.folder.getChildFile("folder.sorvaneproject");
    folderNamedLikeAProject.createDirectory();

    const struct
    {
        juce::File file;
        const char* expected;
    } cases[] = {
        {w.folder.getChildFile("missing.sorvaneproject"), "The project file does not exist."},
        {juce::File(), "The project file does not exist."},
        {folderNamedLikeAProject, "The project file does not exist."},
        {empty, "The project is empty or exceeds the 2 MB bounded-state limit."},
        {huge, "The project is empty or exceeds the 2 MB bounded-state limit."},
    };
    const auto before = everything(*w.processor);
    const auto generation = w.processor->getSampleLoadSnapshot().generation;
    for (const auto& c : cases)
    {
        juce::String error;
        EXPECT_FALSE(w.processor->requestCreatorProjectLoad(c.file, {}, error)) << c.file.getFullPathName();
        EXPECT_EQ(error, c.expected);
    }
    EXPECT_EQ(w.processor->getSampleLoadSnapshot().generation, generation) << "no job was started";
    EXPECT_EQ(everything(*w.processor), before);
}

TEST(CreatorProjectFlow, ProjectsTheWorkerRefusesLeaveTheSessionAlone)
{
    Workspace w;
    const auto good = w.save();

    const auto garbage = w.folder.getChildFile("garbage.sorvaneproject");
    sorvane::test::writeBytes(garbage, "<?xml version=\"1.0\"?><NOT_A_PROJECT/>");

    // A well-formed project whose sound is another product's.
    auto other = w.processor->captureCreatorProjectData(false);
    other.parameterState = juce::ValueTree("SomeoneElsesState", {{"drive", 1.0}});
    const auto foreign = w.folder.getChildFile("foreign.sorvaneproject");
    juce::String writeError;
    ASSERT_TRUE(sorvane::writeCreatorProject(foreign, other, writeError)) << writeError;

    setPlain(*w.processor, "drive", 12.0f);
    const auto before = everything(*w.processor);
    for (const auto& file : {garbage, foreign})
    {
        juce::String error;
        ASSERT_TRUE(w.processor->requestCreatorProjectLoad(file, {}, error)) << error;
        const auto end = waitForLoadEnd(*w.processor);
        EXPECT_EQ(end.state, (int)State::Failed) << file.getFileName();
        EXPECT_FALSE(end.sourceNeedsLocating);
        if (file == foreign)
            EXPECT_EQ(end.message, "The project parameter payload belongs to a different product.");
        else
            EXPECT_FALSE(end.message.isEmpty());
        EXPECT_EQ(everything(*w.processor), before) << file.getFileName();
    }
    EXPECT_EQ(w.processor->getCurrentProjectFile(), good) << "a failure never changes the project path";
}

TEST(CreatorProjectFlow, AMovedSourceIsRelinkedByFingerprintAndAChangedOneIsRefused)
{
    Workspace w;
    const auto file = w.save();
    const auto saved = everything(*w.processor);
    const auto moved = w.folder.getChildFile("moved").getChildFile("take-renamed.wav");
    moved.getParentDirectory().createDirectory();
    ASSERT_TRUE(w.source.moveFileTo(moved));

    auto target = makeStandalone();
    const auto before = everything(*target);
    juce::String error;
    ASSERT_TRUE(target->requestCreatorProjectLoad(file, {}, error)) << error;
    auto end = waitForLoadEnd(*target);
    EXPECT_EQ(end.state, (int)State::Failed);
    EXPECT_TRUE(end.sourceNeedsLocating);
    EXPECT_EQ(end.projectPath, file.getFullPathName());
    EXPECT_EQ(end.message,
              "The project's source is missing or changed. Locate the matching source to recover it.");
    EXPECT_EQ(everything(*target), before);

    // A file with other content, even under the old name, is not the source.
    const auto impostor = writeTone(w.folder.getChildFile("take.wav"), 2.0, 330.0);
    ASSERT_TRUE(target->requestCreatorProjectLoad(file, impostor, error)) << error;
    end = waitForLoadEnd(*target);
    EXPECT_EQ(end.state, (int)State::Failed);
    EXPECT_TRUE(end.sourceNeedsLocating);
    EXPECT_EQ(everything(*target), before);

    ASSERT_TRUE(target->requestCreatorProjectLoad(file, moved, error)) << error;
    end = waitForLoadEnd(*target);
    ASSERT_EQ(end.state, (int)State::Published) << end.message;
    EXPECT_EQ(everything(*target), saved.replace(w.source.getFullPathName(), moved.getFullPathName()));
}

TEST(CreatorProjectFlow, ANewerRequestMakesAPreparedProjectStale)
{
    Workspace w;
    const auto first = w.save("First.sorvaneproject");
    setPlain(*w.processor, "tone", 999.0f);
    const auto second = w.save("Second.sorvaneproject");
    const auto secondState = everything(*w.processor);
    const auto other = writeTone(w.folder.getChildFile("other.wav"), 1.0, 440.0);

    // Project, then audio before the project is published: the project never appears.
    auto target = makeStandalone();
    const auto fresh = sorvane::treeDigest(target->captureParameterSnapshot());
    const auto recent = target->getRecentProjects();
    juce::String error;
    ASSERT_TRUE(target->requestCreatorProjectLoad(first, {}, error)) << error;
    for (int i = 0; i < 2000 && target->getSampleLoadSnapshot().state != (int)State::Publishing; ++i)
        juce::Thread::sleep(2);
    ASSERT_TRUE(target->requestSampleLoad(other, error, false)) << error;
    EXPECT_EQ(waitForLoadEnd(*target).state, (int)State::Published);
    sorvane::test::pumpMessages(50);
    EXPECT_EQ(target->getLoadedSampleName(), "other.wav");
    EXPECT_EQ(sorvane::treeDigest(target->captureParameterSnapshot()), fresh) << "the stale project's sound";
    EXPECT_EQ(target->getRecentProjects(), recent);
    EXPECT_EQ(target->getCurrentProjectFile(), juce::File());

    // Two projects in quick succession: only the second is published.
    auto again = makeStandalone();
    ASSERT_TRUE(again->requestCreatorProjectLoad(first, {}, error)) << error;
    ASSERT_TRUE(again->requestCreatorProjectLoad(second, {}, error)) << error;
    ASSERT_EQ(waitForLoadEnd(*again).state, (int)State::Published);
    sorvane::test::pumpMessages(50);
    EXPECT_EQ(everything(*again), secondState);
    EXPECT_EQ(again->getRecentProjects()[0], second.getFullPathName());
    EXPECT_EQ(again->getCurrentProjectFile(), second);
}

TEST(CreatorProjectFlow, AProjectWithoutASourceUnloadsTheCurrentOne)
{
    Workspace w;
    auto blank = makeStandalone();
    setPlain(*blank, "drive", 41.0f);
    const auto file = w.folder.getChildFile("NoSource.sorvaneproject");
    juce::String error;
    ASSERT_TRUE(blank->saveCreatorProject(file, error)) << error;

    ASSERT_TRUE(w.processor->requestCreatorProjectLoad(file, {}, error)) << error;
    ASSERT_EQ(waitForLoadEnd(*w.processor).state, (int)State::Published);
    EXPECT_EQ(w.processor->getSourceLibrary().getPublished(), nullptr);
    EXPECT_FLOAT_EQ(plain(*w.processor, "drive"), 41.0f);
    EXPECT_EQ(w.processor->getTransportState().rangeStart.load(), 0.0);
}

TEST(CreatorProjectFlow, TheStoredPlaybackPositionIsSoughtOnceTheAudioRuns)
{
    Workspace w;
    auto& s = w.processor->getTransportState();
    const auto frames = (double)w.processor->getSourceLibrary().getCurrentSample()->getNumFrames();
    s.playheadSamples.store(0.5 * frames);
    const auto file = w.save();
    EXPECT_DOUBLE_EQ(w.processor->captureCreatorProjectData(false).playbackPosition, 0.5);

    auto target = makeStandalone();
    juce::String error;
    ASSERT_TRUE(target->requestCreatorProjectLoad(file, {}, error)) << error;
    ASSERT_EQ(waitForLoadEnd(*target).state, (int)State::Published);
    target->prepareToPlay(8000.0, 256);
    juce::AudioBuffer<float> block(2, 256);
    juce::MidiBuffer midi;
    block.clear();
    target->processBlock(block, midi);
    EXPECT_NEAR(target->getTransportState().playheadSamples.load() / frames, 0.5, 0.01);
}

//======================================================================================================
namespace
{
struct RecoveryFolder
{
    juce::TemporaryFile folderFile;
    juce::File folder = folderFile.getFile();
    sorvane::ProjectRecovery recovery{folder};
    RecoveryFolder() { folder.createDirectory(); }
    ~RecoveryFolder() { folder.deleteRecursively(); }

    void writeSession(bool clean) const
    {
        sorvane::writeFileAtomically(
            recovery.getSessionFile(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<SORVANE_SESSION clean=\"" +
                juce::String(clean ? "1" : "0") + "\"/>\r\n");
    }
    void writeAutosave(const juce::File& file, const juce::File& origin, std::int64_t stamp) const
    {
        auto data = sorvane::test::sentinelRecord();
        auto processor = makeProcessor();
        data.parameterState = processor->captureParameterSnapshot();
        data.sourceFingerprint = {};
        data.sourceFile = juce::File();
        data.tresselSession = {};
        data.autosave = true;
        data.autosaveTimestampMilliseconds = stamp;
        data.originProjectPath = origin;
        juce::String error;
        ASSERT_TRUE(sorvane::writeCreatorProject(file, data, error)) << error;
    }
};
} // namespace

TEST(ProjectRecovery, OffersTheNewestValidAutosaveOnlyAfterAnUncleanShutdown)
{
    const auto now = juce::Time::currentTimeMillis();
    enum Newest
    {
        valid,
        truncated,
        absent
    };
    const struct
    {
        const char* name;
        int session; // -1 no file, 0 unclean, 1 clean
        Newest newest;
        bool previous;
        bool originSavedLater;
        bool offered;
        bool previousOffered;
        const char* message;
    } cases[] = {
        {"clean close", 1, valid, true, false, false, false,
         "No newer unclean-shutdown autosave is available."},
        {"no session file", -1, valid, false, false, false, false,
         "No newer unclean-shutdown autosave is available."},
        {"crash", 0, valid, true, false, true, false,
         "Sorvane found a valid autosave from an unclean shutdown."},
        {"crash, torn newest", 0, truncated, true, false, true, true,
         "Sorvane recovered the previous valid autosave because the newest generation is corrupt or "
         "incomplete."},
        {"crash, nothing valid", 0, truncated, false, false, false, false,
         "No newer unclean-shutdown autosave is available."},
        {"crash, no autosave", 0, absent, false, false, false, false,
         "No newer unclean-shutdown autosave is available."},
        {"crash, saved since", 0, valid, false, true, false, false,
         "A newer explicit project supersedes the retained autosave."},
    };
    for (const auto& c : cases)
    {
        RecoveryFolder r;
        const auto origin = r.folder.getChildFile("Origin.sorvaneproject");
        if (c.session >= 0)
            r.writeSession(c.session == 1);
        if (c.previous)
            r.writeAutosave(r.recovery.getPreviousAutosaveFile(), origin, now - 60000);
        if (c.newest != absent)
        {
            r.writeAutosave(r.recovery.getNewestAutosaveFile(), origin, now - 1000);
            if (c.newest == truncated)
            {
                const auto bytes = sorvane::test::bytesOf(r.recovery.getNewestAutosaveFile());
                sorvane::test::writeBytes(r.recovery.getNewestAutosaveFile(),
                                          bytes.substr(0, bytes.size() / 2));
            }
        }
        if (c.originSavedLater)
        {
            origin.replaceWithText("explicit");
            origin.setLastModificationTime(juce::Time(now + 5000));
        }

        r.recovery.startSession();
        const auto snapshot = r.recovery.getSnapshot();
        EXPECT_TRUE(snapshot.sessionActive) << c.name;
        EXPECT_EQ(snapshot.recoveryAvailable, c.offered) << c.name;
        EXPECT_EQ(snapshot.message, c.message) << c.name;
        if (c.offered)
        {
            EXPECT_EQ(snapshot.autosaveFile, c.previousOffered ? r.recovery.getPreviousAutosaveFile()
                                                               : r.recovery.getNewestAutosaveFile())
                << c.name;
            EXPECT_EQ(snapshot.originProjectPath, origin) << c.name;
        }

        // This run is recorded as not closed until it ends.
        juce::ValueTree session;
        ASSERT_EQ(sorvane::readXmlTree(r.recovery.getSessionFile(), 65536, "SORVANE_SESSION", session),
                  sorvane::PresetReadResult::ok);
        EXPECT_FALSE((bool)session.getProperty("clean", true)) << c.name;
        r.recovery.endSession();
        ASSERT_EQ(sorvane::readXmlTree(r.recovery.getSessionFile(), 65536, "SORVANE_SESSION", session),
                  sorvane::PresetReadResult::ok);
        EXPECT_TRUE((bool)session.getProperty("clean", false)) << c.name;
        EXPECT_TRUE(session.hasProperty("closedMilliseconds")) << c.name;
    }
}

TEST(ProjectRecovery, DiscardRemovesBothGenerationsAndTheOffer)
{
    RecoveryFolder r;
    r.writeSession(false);
    r.writeAutosave(r.recovery.getNewestAutosaveFile(), {}, juce::Time::currentTimeMillis());
    r.writeAutosave(r.recovery.getPreviousAutosaveFile(), {}, juce::Time::currentTimeMillis() - 30000);
    r.recovery.startSession();
    ASSERT_TRUE(r.recovery.getSnapshot().recoveryAvailable);

    juce::String error;
    ASSERT_TRUE(r.recovery.discardAutosaves(error)) << error;
    EXPECT_FALSE(r.recovery.getNewestAutosaveFile().exists());
    EXPECT_FALSE(r.recovery.getPreviousAutosaveFile().exists());
    const auto s = r.recovery.getSnapshot();
    EXPECT_FALSE(s.recoveryAvailable);
    EXPECT_EQ(s.message, "Recovery generations were discarded.");
    EXPECT_EQ(s.autosaveFile, r.recovery.getNewestAutosaveFile());
}

//======================================================================================================
TEST(ProjectAutosave, WritesADirtyProjectAtOnceThenAtMostEveryThirtySecondsKeepingOneGeneration)
{
    RecoveryFolder r;
    sorvane::ProjectAutosave autosave(r.recovery.getNewestAutosaveFile(),
                                      r.recovery.getPreviousAutosaveFile());
    auto processor = makeStandalone();
    int captures = 0;
    const auto capture = [&]
    {
        ++captures;
        return processor->captureCreatorProjectData(true);
    };
    const auto finish = [&](std::int64_t now)
    {
        for (int i = 0; i < 5000 && autosave.isRunning(); ++i)
            juce::Thread::sleep(1);
        juce::String error;
        EXPECT_TRUE(autosave.step(true, now, capture, error)) << error;
    };
    juce::String error;

    EXPECT_TRUE(autosave.step(false, 1000000, capture, error));
    EXPECT_EQ(captures, 0) << "a clean project is never autosaved";

    setPlain(*processor, "drive", 10.0f);
    EXPECT_TRUE(autosave.step(true, 1000000, capture, error)) << error;
    EXPECT_EQ(captures, 1) << "the first dirty tick autosaves";
    finish(1000000);
    EXPECT_EQ(autosave.getLastAutosaveMilliseconds(), 1000000);
    sorvane::CreatorProjectData read;
    ASSERT_TRUE(sorvane::readCreatorProject(r.recovery.getNewestAutosaveFile(), read, error)) << error;
    EXPECT_TRUE(read.autosave);
    EXPECT_FALSE(r.recovery.getPreviousAutosaveFile().exists());
    const auto firstBytes = sorvane::test::bytesOf(r.recovery.getNewestAutosaveFile());

    EXPECT_TRUE(autosave.step(true, 1000000 + 29999, capture, error));
    EXPECT_EQ(captures, 1) << "not again within 30 s";

    setPlain(*processor, "drive", 20.0f);
    EXPECT_TRUE(autosave.step(true, 1000000 + 30000, capture, error));
    EXPECT_EQ(captures, 2);
    finish(1000000 + 30000);
    EXPECT_EQ(sorvane::test::bytesOf(r.recovery.getPreviousAutosaveFile()), firstBytes)
        << "the generation before is kept whole";
    ASSERT_TRUE(sorvane::readCreatorProject(r.recovery.getNewestAutosaveFile(), read, error)) << error;
    EXPECT_FLOAT_EQ((float)read.parameterState.getChildWithProperty("id", "drive").getProperty("value"),
                    20.0f);
}

TEST(ProjectAutosave, AFailedAutosaveIsReportedAndTriedAgainOnTheNextStep)
{
    RecoveryFolder r;
    // A file where the Recovery folder should be: nothing can be written below it.
    const auto blocked = r.folder.getChildFile("Recovery");
    blocked.replaceWithText("in the way");
    sorvane::ProjectAutosave autosave(blocked.getChildFile("Autosave.sorvaneproject"),
                                      blocked.getChildFile("Autosave.previous.sorvaneproject"));
    auto processor = makeStandalone();
    int captures = 0;
    const auto capture = [&]
    {
        ++captures;
        return processor->captureCreatorProjectData(true);
    };
    juce::String error;
    EXPECT_FALSE(autosave.step(true, 5000000, capture, error));
    EXPECT_TRUE(error.startsWith("Autosave failed: ")) << error;
    EXPECT_EQ(autosave.getLastAutosaveMilliseconds(), 0);

    EXPECT_FALSE(autosave.step(true, 5000001, capture, error));
    EXPECT_EQ(captures, 2) << "a dirty project is tried again at once";
    EXPECT_EQ(blocked.loadFileAsString(), "in the way");
}

TEST(CreatorProjectFlow, SavingDiscardsAutosavesAndADirtyProjectIsAutosavedByTheProcessor)
{
    Workspace w;
    setPlain(*w.processor, "drive", 33.0f);
    ASSERT_TRUE(w.processor->projectDirty.load());
    juce::String error;
    ASSERT_TRUE(w.processor->autosaveCreatorProjectIfNeeded(error)) << error;
    for (int i = 0; i < 5000 && w.processor->isAutosaveRunning(); ++i)
        juce::Thread::sleep(1);
    ASSERT_TRUE(w.processor->autosaveCreatorProjectIfNeeded(error)) << error;
    const auto autosaveFile = w.processor->autosaveStorageFile();
    ASSERT_TRUE(autosaveFile.existsAsFile());
    EXPECT_TRUE(autosaveFile.isAChildOf(w.home.getFolder())) << "below the user's application data";
    sorvane::CreatorProjectData read;
    ASSERT_TRUE(sorvane::readCreatorProject(autosaveFile, read, error)) << error;
    EXPECT_TRUE(read.autosave);
    EXPECT_GT(read.autosaveTimestampMilliseconds, 0);

    w.save();
    EXPECT_FALSE(autosaveFile.exists()) << "an explicit save supersedes the autosave";
    EXPECT_FALSE(w.processor->projectDirty.load());
}

TEST(CreatorProjectFlow, ARecoveredAutosaveOpensAsUnsavedWorkOfItsProject)
{
    Workspace w;
    const auto project = w.save();
    setPlain(*w.processor, "drive", 55.0f);
    const auto unsaved = everything(*w.processor);
    juce::String error;
    ASSERT_TRUE(w.processor->autosaveCreatorProjectIfNeeded(error)) << error;
    for (int i = 0; i < 5000 && w.processor->isAutosaveRunning(); ++i)
        juce::Thread::sleep(1);
    w.processor->autosaveCreatorProjectIfNeeded(error);
    const auto autosaveFile = w.processor->autosaveStorageFile();
    ASSERT_TRUE(autosaveFile.existsAsFile());

    auto target = makeStandalone();
    ASSERT_TRUE(target->requestCreatorProjectLoad(autosaveFile, {}, error)) << error;
    ASSERT_EQ(waitForLoadEnd(*target).state, (int)State::Published);
    EXPECT_EQ(everything(*target), unsaved);
    EXPECT_TRUE(target->projectDirty.load()) << "recovered work is unsaved";
    EXPECT_EQ(target->getCurrentProjectFile(), project) << "SAVE PROJECT proposes the project it came from";
    EXPECT_FALSE(target->getRecentProjects().contains(autosaveFile.getFullPathName()));
    EXPECT_EQ(target->getProjectRecoverySnapshot().message, "The recovered project is open as unsaved work.");
}

//======================================================================================================
TEST(RecentProjects, KeepsTenNewestFirstIgnoringCaseAndSurvivesARestart)
{
    sorvane::test::ScopedTemporaryHome home;
    const auto folder = home.getFolder().getChildFile("projects");
    {
        auto processor = makeStandalone();
        for (int i = 1; i <= 11; ++i)
            processor->rememberProject(folder.getChildFile("P" + juce::String(i) + ".sorvaneproject"));
        processor->rememberProject(folder.getChildFile("p5.SORVANEPROJECT"));
        const auto paths = processor->getRecentProjects();
        ASSERT_EQ(paths.size(), 10);
        EXPECT_EQ(paths[0], folder.getChildFile("p5.SORVANEPROJECT").getFullPathName());
        EXPECT_FALSE(paths.contains(folder.getChildFile("P1.sorvaneproject").getFullPathName()))
            << "the eleventh distinct project pushed the oldest out";
        EXPECT_EQ(paths.size(), 10);
        EXPECT_EQ(paths[1], folder.getChildFile("P11.sorvaneproject").getFullPathName());
    }
    auto restarted = makeStandalone();
    const auto paths = restarted->getRecentProjects();
    ASSERT_EQ(paths.size(), 10);
    EXPECT_EQ(paths[0], folder.getChildFile("p5.SORVANEPROJECT").getFullPathName());
    EXPECT_EQ(restarted->recentProjectsStorageFile().getFileName(), "RecentProjects.xml");

    // A damaged list is an empty list, never a crash or a half-read one.
    restarted->recentProjectsStorageFile().replaceWithText("<SORVANE_RECENT_PROJECTS><PROJECT path=");
    EXPECT_TRUE(makeStandalone()->getRecentProjects().isEmpty());
}
