// The setup advisor: its rules on exact inputs, the redacted bundle, the acknowledgement record, the
// job, and the editor's prompt, run, dialog, visual advice and export.
#include "EditorTestSupport.h"
#include "TestSupport.h"

#include "advisor/SetupAdvisorJob.h"
#include "editor/SorvaneAudioProcessorEditor.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace
{
using sorvane::SetupAdvisorInput;
using sorvane::SetupPerformanceAdvisor;

SetupAdvisorInput machine()
{
    SetupAdvisorInput in;
    in.standalone = true;
    in.sampleRate = 48000.0;
    in.blockSize = 256;
    in.instanceCount = 1;
    in.logicalCpuCount = 8;
    in.physicalMemoryBytes = 8LL << 30;
    in.displayScale = 1.0f;
    in.captureBars = 8;
    in.tempo = 120.0;
    return in;
}
} // namespace

TEST(SetupAdvisor, BaselineRunHasTheFixedLinesAndOnlyTheVisualAdvice)
{
    auto in = machine();
    in.includeOptionalChecks = false;
    const auto r = SetupPerformanceAdvisor::inspect(in, nullptr);
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(r.summary, "Baseline setup check completed; optional checks were skipped.");
    EXPECT_EQ(
        r.observations.joinIntoString("|"),
        "Audio configuration: 48000 Hz / 256 samples.|Local hardware: 8 logical CPU(s) / 8192 MB memory.|"
        "Observed process instances: 1 / certified ceiling 8.|Optional source, dependency, and "
        "capture/export "
        "checks were skipped.");
    EXPECT_EQ(r.recommendations.joinIntoString("|"),
              "AUTO visual quality retains measured adaptive rendering without changing DSP.");
    EXPECT_EQ(r.fingerprint.length(), 16);
    EXPECT_TRUE(r.fingerprint.containsOnly("0123456789abcdef"));
}

TEST(SetupAdvisor, RulesFollowTheirInputs)
{
    struct Case
    {
        const char* name;
        std::function<void(SetupAdvisorInput&)> change;
        const char* expectedRecommendation;
        bool present;
    };
    const Case cases[] = {
        {"limited memory", [](auto& in) { in.physicalMemoryBytes = 4294967295LL; },
         "Available physical memory is limited; keep one creator job and use short in-memory sources.", true},
        {"4 GiB is not limited", [](auto& in) { in.physicalMemoryBytes = 4294967296LL; },
         "Available physical memory is limited; keep one creator job and use short in-memory sources.",
         false},
        {"scale 2", [](auto& in) { in.displayScale = 2.0f; },
         "Use AUTO visual quality so rendering can fall back to the measured lower tiers.", true},
        {"too many instances", [](auto& in) { in.instanceCount = 9; },
         "Reduce simultaneous instances to the certified ceiling before critical playback.", true},
        {"a 20-minute source",
         [](auto& in)
         {
             in.sourceLoaded = true;
             in.sourceDurationSeconds = 1200.0;
             in.sourceSampleRate = 48000.0;
             in.sourceChannels = 2;
             in.sourceDecodedBytes = 460800000;
         },
         "Confirm the bounded in-memory source warning before replacing the current source.", true},
        {"a 3-hour source",
         [](auto& in)
         {
             in.sourceLoaded = true;
             in.sourceDurationSeconds = 10800.0;
             in.sourceSampleRate = 8000.0;
             in.sourceChannels = 1;
         },
         "Use a shorter or lower-rate source within the established 512 MB / 2 hour limit.", true},
        {"a stale estimate",
         [](auto& in)
         {
             in.sourceLoaded = true;
             in.sourceDurationSeconds = 10.0;
             in.sourceSampleRate = 48000.0;
             in.sourceChannels = 2;
             in.sourceDecodedBytes = 100;
         },
         "Refresh source preflight because the reported decoded-memory estimate is stale.", true},
        {"no encoder", [](auto& in) { in.encoderAvailable = -1; },
         "FFmpeg was not found; use WAV export until the optional encoder is available.", true},
        {"tight space",
         [](auto& in)
         {
             in.encoderAvailable = 1;
             in.destinationFreeBytes = 200000000;
         },
         "Destination space is tight; use a 15-second compact video profile or choose another volume.", true},
    };
    for (const auto& c : cases)
    {
        auto in = machine();
        c.change(in);
        const auto r = SetupPerformanceAdvisor::inspect(in, nullptr);
        EXPECT_TRUE(r.completed) << c.name;
        EXPECT_EQ(r.recommendations.contains(c.expectedRecommendation), c.present) << c.name;
    }

    auto source = machine();
    source.sourceLoaded = true;
    source.sourceDurationSeconds = 1200.0;
    source.sourceSampleRate = 48000.0;
    source.sourceChannels = 2;
    source.sourceDecodedBytes = 460800000;
    const auto r = SetupPerformanceAdvisor::inspect(source, nullptr);
    EXPECT_EQ(r.sourcePolicy, 2);
    EXPECT_TRUE(r.observations.contains("Source: 20.0 min / 48000 Hz / 2 channel(s) / 439 MB decoded."));
    // 8 bars at 120 BPM, 9:16, 15 s, 48 kHz: 8294400 + 11520000 + 33554432 + 47185920.
    EXPECT_EQ(r.predictedOutputBytes, 100554752);
    EXPECT_EQ(r.outputProfile, 0) << "an encoder that was not probed counts as absent";
    EXPECT_EQ(r.summary, "Local checks completed with measured recommendations.");

    std::atomic<bool> cancel{true};
    const auto cancelled = SetupPerformanceAdvisor::inspect(machine(), &cancel);
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_FALSE(cancelled.completed);
    EXPECT_EQ(cancelled.summary, "Advisor cancelled; no settings were changed.");
}

TEST(SetupAdvisor, BundleCarriesNoPathNameOrHostOfTheUser)
{
    sorvane::test::ScopedTemporaryHome home;
    auto in = machine();
    const auto user = juce::SystemStats::getLogonName();
    char host[256] = {};
    ::gethostname(host, sizeof(host) - 1);
    // Plant every private string where the input can hold one.
    in.destinationFolder = home.getFolder().getChildFile("Secret Client Mixes");
    in.version = "2.13.3";
    in.sourceLoaded = true;
    in.sourceDurationSeconds = 5.0;
    in.sourceSampleRate = 44100.0;
    in.sourceChannels = 2;
    const auto r = SetupPerformanceAdvisor::inspect(in, nullptr);
    const auto bundle = SetupPerformanceAdvisor::createRedactedSupportBundle(in, r);
    for (const auto& secret :
         {home.getFolder().getFullPathName(), juce::String("Secret Client Mixes"), juce::String(host), user,
          juce::File::getSpecialLocation(juce::File::userHomeDirectory).getFullPathName()})
        if (secret.length() >= 3)
            EXPECT_FALSE(bundle.containsIgnoreCase(secret)) << secret;

    const auto parsed = juce::JSON::parse(bundle);
    auto* object = parsed.getDynamicObject();
    ASSERT_NE(object, nullptr);
    juce::StringArray keys;
    for (const auto& p : object->getProperties())
        keys.add(p.name.toString());
    EXPECT_EQ(
        keys.joinIntoString(","),
        "schemaVersion,product,version,fingerprint,standalone,sampleRate,blockSize,logicalCpuCount,"
        "physicalMemoryBytes,displayScale,selectedVisualTier,recommendedVisualTier,instanceCount,"
        "certifiedInstanceCeiling,sourceDurationSeconds,sourceSampleRate,sourceChannels,sourceDecodedBytes,"
        "sourcePolicy,encoderAvailable,outputProfile,predictedOutputBytes,captureBars,tempo,"
        "destinationFreeBytes,recommendedJobConcurrency,observations,recommendations,privacy");
    EXPECT_EQ(parsed["sourcePolicy"].toString(), "DECODE_IN_MEMORY");
    EXPECT_EQ(parsed["selectedVisualTier"].toString(), "AUTO");
}

TEST(SetupAdvisor, AcknowledgementIsValidOnlyForItsVersionAndCeiling)
{
    sorvane::test::ScopedTemporaryHome home;
    // The process tests' harness writes the same record from its own implementation of the hash.
    EXPECT_EQ(SetupPerformanceAdvisor::acknowledgementProfile("2.13.3", 8), "a5fb0980bfb7328e");
    const auto file = home.getFolder().getChildFile("ack").getChildFile("SetupAdvisorAcknowledged.xml");
    EXPECT_FALSE(SetupPerformanceAdvisor::isAcknowledged(file, "2.13.3", 8));
    juce::String error;
    ASSERT_TRUE(SetupPerformanceAdvisor::acknowledge(file, "2.13.3", 8, error)) << error;
    EXPECT_TRUE(SetupPerformanceAdvisor::isAcknowledged(file, "2.13.3", 8));
    EXPECT_FALSE(SetupPerformanceAdvisor::isAcknowledged(file, "2.13.4", 8));
    EXPECT_FALSE(SetupPerformanceAdvisor::isAcknowledged(file, "2.13.3", 9));
    EXPECT_TRUE(file.loadFileAsString().contains("\r\n"));
    EXPECT_EQ(file.getParentDirectory().getNumberOfChildFiles(juce::File::findFiles, "*"), 1)
        << "no temporary left";

    struct Case
    {
        const char* name;
        const char* text;
    };
    const Case damaged[] = {
        {"empty", ""},
        {"another root", "<OTHER schemaVersion=\"2\"/>"},
        {"another schema", "<SORVANE_SETUP_ADVISOR schemaVersion=\"3\" productVersion=\"2.13.3\" "
                           "certifiedInstanceCeiling=\"8\" profileFingerprint=\"a5fb0980bfb7328e\"/>"},
        {"a forged fingerprint", "<SORVANE_SETUP_ADVISOR schemaVersion=\"2\" productVersion=\"2.13.3\" "
                                 "certifiedInstanceCeiling=\"8\" profileFingerprint=\"0000000000000000\"/>"},
        {"entities", "<!DOCTYPE a [<!ENTITY x \"y\">]><SORVANE_SETUP_ADVISOR/>"},
        {"truncated", "<SORVANE_SETUP_ADVISOR schemaVersion=\"2\" productVer"},
    };
    for (const auto& c : damaged)
    {
        ASSERT_TRUE(file.replaceWithText(c.text));
        EXPECT_FALSE(SetupPerformanceAdvisor::isAcknowledged(file, "2.13.3", 8)) << c.name;
    }

    // A folder that cannot be made: a file where it should be.
    const auto blocker = home.getFolder().getChildFile("blocker");
    ASSERT_TRUE(blocker.replaceWithText("x"));
    EXPECT_FALSE(SetupPerformanceAdvisor::acknowledge(blocker.getChildFile("ack.xml"), "2.13.3", 8, error));
    EXPECT_EQ(error, "The advisor acknowledgement folder could not be prepared.");
}

TEST(SetupAdvisor, MachineFactsComeFromTheSystem)
{
    EXPECT_EQ(sorvane::logicalCpuCount(), (int)::sysconf(_SC_NPROCESSORS_ONLN));
    const auto memory = sorvane::physicalMemoryBytes();
    EXPECT_EQ(memory % 1048576, 0);
    // /proc/meminfo's MemTotal is what the kernel gives processes; the physical size is at least that.
    const auto meminfo = juce::File("/proc/meminfo").loadFileAsString();
    const auto totalKb = meminfo.fromFirstOccurrenceOf("MemTotal:", false, false).trim().getLargeIntValue();
    ASSERT_GT(totalKb, 0);
    EXPECT_GE(memory + 1048576, totalKb * 1024);
}

namespace
{
struct AdvisorEditorFixture
{
    sorvane::test::ScopedTemporaryHome home;
    std::unique_ptr<SorvaneAudioProcessor> processor =
        sorvane::test::makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
    std::unique_ptr<SorvaneAudioProcessorEditor> editor;
    juce::StringArray dialogs;
    std::function<void(int)> answer;

    AdvisorEditorFixture()
    {
        // As the stand-alone holder does when the device opens.
        processor->setRateAndBufferSizeDetails(44100.0, 512);
        processor->prepareToPlay(44100.0, 512);
        editor.reset(dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
        editor->stopTimer();
        editor->setRefreshHooks({[] { return 0.0; }, [] { return true; }});
        editor->setAdvisorDialogPresenter(
            [this](const juce::String& title, const juce::String&, const auto&,
                   std::function<void(int)> onResult)
            {
                dialogs.add(title);
                answer = std::move(onResult);
            });
    }
    ~AdvisorEditorFixture() { editor = nullptr; }

    void finishRun()
    {
        for (int i = 0; i < 2000 && editor->isAdvisorRunning(); ++i)
        {
            juce::Thread::sleep(5);
            editor->timerCallback();
        }
    }
};
} // namespace

TEST(SetupAdvisorEditor, RunShowsTheDialogAndVisualAdviceRevertsCleanly)
{
    AdvisorEditorFixture f;
    auto& button = *dynamic_cast<juce::TextButton*>(f.editor->findChildWithID("setupPerformanceAdvisor"));
    f.editor->applyVisualQualityChoice(4); // LOW
    button.triggerClick();
    juce::MessageManager::getInstance()->runDispatchLoopUntil(5);
    EXPECT_EQ(button.getButtonText(), "CANCEL ADVISOR");
    EXPECT_EQ(f.editor->getStatusMessage(), "LOCAL ADVISOR RUNNING OFF THE AUDIO AND MESSAGE CALLBACKS");
    f.finishRun();
    ASSERT_EQ(f.dialogs.joinIntoString("|"), "Sorvane Setup & Performance Advisor");
    EXPECT_EQ(button.getButtonText(), "SETUP / PERFORMANCE");
    const auto& input = f.editor->getLastAdvisorInput();
    EXPECT_EQ(input.sampleRate, 44100.0);
    EXPECT_EQ(input.blockSize, 512);
    EXPECT_EQ(input.logicalCpuCount, juce::SystemStats::getNumCpus());
    EXPECT_EQ(input.selectedVisualTier, 3);
    EXPECT_TRUE(f.editor->getLastAdvisorReport().completed);

    f.answer(1); // Apply Visual Advice
    EXPECT_EQ(f.editor->getVisualQuality().getMode(), 0);
    EXPECT_EQ(button.getButtonText(), "REVERT ADVICE");
    EXPECT_TRUE(SetupPerformanceAdvisor::isAcknowledged(SetupPerformanceAdvisor::defaultAcknowledgementFile(),
                                                        "2.13.3", 8));
    button.triggerClick();
    juce::MessageManager::getInstance()->runDispatchLoopUntil(5);
    EXPECT_EQ(f.editor->getVisualQuality().getMode(), 3) << "LOW is back";
    EXPECT_EQ(f.editor->getStatusMessage(), "ADVISOR VISUAL SETTING REVERTED / AUDIO AND PROJECT UNCHANGED");

    // The bundle of that run, written where the chooser would put it.
    const auto bundle = f.home.getFolder().getChildFile("support").getChildFile("Sorvane-Support.json");
    ASSERT_TRUE(f.editor->writeAdvisorSupportBundle(bundle));
    EXPECT_EQ(juce::JSON::parse(bundle.loadFileAsString())["fingerprint"].toString(),
              f.editor->getLastAdvisorReport().fingerprint);
    EXPECT_TRUE(bundle.loadFileAsString().contains("\r\n"));
    EXPECT_FALSE(bundle.loadFileAsString().replace("\r\n", "").containsChar('\n'));

    // A name of 255 bytes (CJK, three bytes a character) gets the same bytes under exactly that name.
    const auto longName =
        "a" + juce::String::repeatedString(juce::String::fromUTF8("\xe9\x9f\xb3"), 83) + ".json";
    ASSERT_EQ(longName.getNumBytesAsUTF8(), 255u);
    const auto longBundle = bundle.getSiblingFile(longName);
    ASSERT_TRUE(f.editor->writeAdvisorSupportBundle(longBundle)) << f.editor->getStatusMessage();
    EXPECT_EQ(longBundle.loadFileAsString(), bundle.loadFileAsString());
    EXPECT_EQ(bundle.getParentDirectory().getNumberOfChildFiles(juce::File::findFilesAndDirectories, "*"), 2);
}

TEST(SetupAdvisorEditor, ExportBeforeARunAndCancelDuringOneChangeNothing)
{
    AdvisorEditorFixture f;
    const auto bundle = f.home.getFolder().getChildFile("Sorvane-Support.json");
    EXPECT_FALSE(f.editor->writeAdvisorSupportBundle(bundle));
    EXPECT_EQ(f.editor->getStatusMessage(),
              "Run the advisor successfully before exporting support evidence.");
    EXPECT_FALSE(bundle.exists());

    f.editor->launchSetupAdvisor(false);
    f.editor->launchSetupAdvisor(false); // the button pressed again while it runs
    EXPECT_EQ(f.editor->getStatusMessage(), "ADVISOR CANCELLATION REQUESTED / NO SETTINGS CHANGED");
    f.finishRun();
    if (f.editor->getLastAdvisorReport().cancelled)
    {
        EXPECT_EQ(f.editor->getStatusMessage(), "ADVISOR CANCELLED; NO SETTINGS WERE CHANGED.");
        EXPECT_TRUE(f.dialogs.isEmpty());
    }
    else
        EXPECT_EQ(f.dialogs.size(), 1) << "the run finished before the cancel arrived";
}

TEST(SetupAdvisorEditor, FirstRunOfferIsArmedUntilAcknowledged)
{
    sorvane::test::ScopedTemporaryHome home;
    SetupPerformanceAdvisor::defaultAcknowledgementFile().deleteFile();
    auto processor = sorvane::test::makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
    std::unique_ptr<SorvaneAudioProcessorEditor> editor(
        dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
    editor->stopTimer();
    EXPECT_TRUE(editor->isAdvisorLaunchArmed());
    juce::StringArray dialogs;
    std::function<void(int)> answer;
    editor->setAdvisorDialogPresenter(
        [&](const juce::String& title, const juce::String&, const auto&, std::function<void(int)> onResult)
        {
            dialogs.add(title);
            answer = std::move(onResult);
        });
    editor->launchSetupAdvisor(true);
    ASSERT_EQ(dialogs.joinIntoString("|"), "Run Sorvane's local setup advisor?");
    answer(0); // Skip
    EXPECT_EQ(editor->getStatusMessage(), "SETUP ADVISOR SKIPPED / AVAILABLE ON DEMAND");
    editor = nullptr;
    editor.reset(dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
    EXPECT_FALSE(editor->isAdvisorLaunchArmed());
    editor = nullptr;
}
