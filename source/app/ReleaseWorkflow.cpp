#include "app/ReleaseWorkflow.h"

#include "capture/DurableFile.h"
#include "capture/WaveExport.h"
#include "editor/SorvaneAudioProcessorEditor.h"
#include "processor/SorvaneAudioProcessor.h"
#include "social/SocialExporter.h"
#include "transport/SourceLoadJob.h"

#include <cmath>

namespace sorvane
{
namespace
{
double nowMs()
{
    return juce::Time::getMillisecondCounterHiRes();
}

const char* studioIds[] = {"presetTextSearch", "presetFavouriteFilter", "presetBrowser",
                           "macroDamage",      "audioQualityMode",      "visualQualityMode"};
const char* everywhereIds[] = {
    "saveProject",    "loadProject", "sourceRangeIn", "sourceRangeOut", "sourceTimelinePosition",
    "sourceRangeLoop"};
const char* tresselIds[] = {"tresselGenerate", "tresselKeep", "beforeAfterCapture", "shareResult"};

juce::Component* childWithId(juce::Component& root, const juce::String& id)
{
    for (auto* child : root.getChildren())
    {
        if (child->getComponentID() == id)
            return child;
        if (auto* found = childWithId(*child, id))
            return found;
    }
    return nullptr;
}

bool usable(juce::Component& editor, const juce::String& id)
{
    auto* c = childWithId(editor, id);
    if (c == nullptr || c->getWidth() < 24 || c->getHeight() < 20)
        return false;
    // Visible all the way up to the editor: what the window shows.
    for (auto* p = c; p != &editor; p = p->getParentComponent())
        if (p == nullptr || !p->isVisible())
            return false;
    return true;
}
} // namespace

StandaloneReleaseWorkflow::StandaloneReleaseWorkflow(SorvaneAudioProcessor& p, SorvaneAudioProcessorEditor& e,
                                                     const juce::File& report)
    : processor(p), editor(e), reportFile(report),
      artifacts(report.getParentDirectory().getChildFile(artifactFolderName))
{
    source = artifacts.getChildFile("workflow-source.wav");
    relinkedSource = artifacts.getChildFile("workflow-source-relinked.wav");
    project = artifacts.getChildFile("SorvaneWorkflow.sorvaneproject");
    waveExport = artifacts.getChildFile("SorvaneWorkflow.wav");
    dragExport = artifacts.getChildFile("SorvaneWorkflow-Drag.wav");
    socialFolder = artifacts.getChildFile("SorvaneWorkflow-Social");
}

StandaloneReleaseWorkflow::~StandaloneReleaseWorkflow()
{
    job.reset(); // cancels and joins a running export
}

void StandaloneReleaseWorkflow::fail(const juce::String& message)
{
    if (done)
        return;
    failure = message;
    if (job != nullptr)
        job->cancel();
    done = true;
    writeReport();
}

bool StandaloneReleaseWorkflow::checkDeadline(double limitMs, const juce::String& label)
{
    if (nowMs() - stageStart <= limitMs)
        return true;
    fail(label + " exceeded its bounded deadline.");
    return false;
}

void StandaloneReleaseWorkflow::enterStage(int next)
{
    stage = next;
    stageStart = nowMs();
}

//======================================================================================================
void StandaloneReleaseWorkflow::start()
{
    if (artifacts.exists() && !artifacts.deleteRecursively())
        return fail("Could not reset the bounded workflow artifact directory.");
    if (!artifacts.createDirectory().wasOk())
        return fail("Could not create the workflow artifact directory.");
    if (!certifyControls())
        return;

    auto* mode = dynamic_cast<juce::ComboBox*>(childWithId(editor, "interfaceMode"));
    mode->setSelectedId(1, juce::sendNotificationSync);

    presetSearchAndFavourite = certifyPresetSearch();
    if (done)
        return;
    macroLockUndo = certifyMacroLockUndo();
    if (done)
        return;
    audioAndVisualQuality = certifyQuality();
    keyboardOnlyPath = certifyKeyboard();
    namedScreenshotRetained = certifyScreenshot();

    juce::String error;
    if (!writeFixtureSource(error))
        return fail("Could not create the installed workflow source: " + error);
    if (!presetSearchAndFavourite || !macroLockUndo || !audioAndVisualQuality || !keyboardOnlyPath ||
        !namedScreenshotRetained)
        return fail("Preset, macro, quality, keyboard, or screenshot certification failed.");

    const auto before = nowMs();
    const bool requested = processor.requestSampleLoad(source, error, false);
    sourceRequestMilliseconds = nowMs() - before;
    if (!requested)
        return fail("Source-load request failed: " + error);
    if (sourceRequestMilliseconds >= 50.0)
        return fail("Source-load input response exceeded 50 ms.");
    enterStage(0);
}

bool StandaloneReleaseWorkflow::certifyControls()
{
    // Each control is checked in the mode that shows it; the two modes share the window.
    auto* mode = dynamic_cast<juce::ComboBox*>(childWithId(editor, "interfaceMode"));
    if (mode == nullptr ||
        dynamic_cast<juce::TextEditor*>(childWithId(editor, "presetTextSearch")) == nullptr ||
        dynamic_cast<juce::ComboBox*>(childWithId(editor, "audioQualityMode")) == nullptr ||
        dynamic_cast<juce::ComboBox*>(childWithId(editor, "visualQualityMode")) == nullptr)
    {
        fail("Installed workflow controls have unexpected concrete types.");
        return false;
    }
    const auto check = [this](int modeId, std::initializer_list<const char*> ids)
    {
        dynamic_cast<juce::ComboBox*>(childWithId(editor, "interfaceMode"))
            ->setSelectedId(modeId, juce::sendNotificationSync);
        for (const auto* id : ids)
            if (!usable(editor, id))
            {
                fail(juce::String("Installed workflow control failed accessibility/layout: ") + id);
                return false;
            }
        return true;
    };
    return check(2, {tresselIds[0], tresselIds[1], tresselIds[2], tresselIds[3]}) &&
           check(1, {studioIds[0], studioIds[1], studioIds[2], studioIds[3], studioIds[4], studioIds[5],
                     everywhereIds[0], everywhereIds[1], everywhereIds[2], everywhereIds[3], everywhereIds[4],
                     everywhereIds[5]});
}

bool StandaloneReleaseWorkflow::certifyMacroLockUndo()
{
    auto& state = processor.getParameterState();
    auto* drive = state.getParameter("drive");
    auto* damage = state.getParameter("macroDamage");
    if (drive == nullptr || damage == nullptr)
    {
        fail("Macro certification parameters are missing.");
        return false;
    }
    const auto driveBefore = processor.readSettings().drive;
    const auto damageBefore = damage->getValue();
    processor.setMacroLockedParameterIds({"drive"});
    processor.pushMutationHistory(processor.captureParameterSnapshot());
    damage->setValueNotifyingHost(damageBefore < 0.5f ? 0.9f : 0.1f);
    const bool held = std::abs(processor.readSettings().drive - driveBefore) < 1e-6f;
    processor.pushMutationHistory(processor.captureParameterSnapshot());
    const bool undone = processor.undoMutation();
    damage->setValueNotifyingHost(damageBefore);
    processor.setMacroLockedParameterIds({});
    return held && undone;
}

bool StandaloneReleaseWorkflow::certifyQuality()
{
    auto* audio = dynamic_cast<juce::ComboBox*>(childWithId(editor, "audioQualityMode"));
    auto* visual = dynamic_cast<juce::ComboBox*>(childWithId(editor, "visualQualityMode"));
    auto* parameter = processor.getParameterState().getParameter("audioQuality");
    if (audio == nullptr || visual == nullptr || parameter == nullptr)
        return false;
    const int audioBefore = audio->getSelectedItemIndex();
    const int visualBefore = visual->getSelectedId();
    audio->setSelectedItemIndex(audioBefore == 0 ? 1 : 0, juce::sendNotificationSync);
    const bool audioFollows =
        juce::roundToInt(parameter->convertFrom0to1(parameter->getValue())) == (audioBefore == 0 ? 1 : 0);
    visual->setSelectedId(2, juce::sendNotificationSync);
    const bool high = editor.getVisualQuality().getMode() == 1;
    visual->setSelectedId(4, juce::sendNotificationSync);
    const bool low = editor.getVisualQuality().getMode() == 3 && editor.getVisualQuality().getTier() == 2;
    audio->setSelectedItemIndex(audioBefore, juce::sendNotificationSync);
    visual->setSelectedId(visualBefore > 0 ? visualBefore : 1, juce::sendNotificationSync);
    return audioFollows && high && low;
}

bool StandaloneReleaseWorkflow::certifyKeyboard()
{
    // Ctrl+L toggles the mode and is handled without a pointer; toggle back afterwards.
    const auto key = juce::KeyPress('l', juce::ModifierKeys::commandModifier, 0);
    const bool before = editor.isTresselModeActive();
    const bool handled = editor.keyPressed(key);
    const bool switched = editor.isTresselModeActive() != before;
    if (switched)
        editor.setTresselMode(before);
    return handled && switched;
}

bool StandaloneReleaseWorkflow::certifyScreenshot()
{
    const auto image = editor.createComponentSnapshot(editor.getLocalBounds(), true, 1.0f);
    const auto file = artifacts.getChildFile("installed-standalone-1180x720-100pct.png");
    juce::MemoryOutputStream png;
    if (!image.isValid() || !juce::PNGImageFormat().writeImageToStream(image, png))
        return false;
    juce::String error;
    return writeFileDurably(file, png.getData(), png.getDataSize(), error);
}

bool StandaloneReleaseWorkflow::writeFixtureSource(juce::String& error)
{
    constexpr double rate = 48000.0;
    juce::AudioBuffer<float> audio(2, (int)(rate * 6.0));
    for (int i = 0; i < audio.getNumSamples(); ++i)
    {
        const auto v = (float)(0.22 * std::sin(2.0 * juce::MathConstants<double>::pi * 196.0 * i / rate));
        audio.setSample(0, i, v);
        audio.setSample(1, i, v);
    }
    return writeNormalisedWave(source, std::move(audio), rate, nullptr, nullptr, error,
                               "Sorvane installed workflow fixture");
}

bool StandaloneReleaseWorkflow::certifyPresetSearch()
{
    auto* search = dynamic_cast<juce::TextEditor*>(childWithId(editor, "presetTextSearch"));
    search->setText("broken", false);
    editor.refreshPresetBrowser(false);
    const auto results = processor.queryPresets({}, {}, false, search->getText());
    if (results.empty())
    {
        fail("Real preset search returned no result.");
        return false;
    }
    const auto first = results.front();
    const auto favouriteNow = [this, &first]
    {
        for (const auto& d : processor.queryPresets({}, {}, true, {}))
            if (d.id == first.id)
                return true;
        return false;
    };
    juce::String favouriteError;
    const bool toggled = processor.setPresetFavourite(first.id, !first.favourite, favouriteError) &&
                         favouriteNow() != first.favourite;
    const bool restored = toggled &&
                          processor.setPresetFavourite(first.id, first.favourite, favouriteError) &&
                          favouriteNow() == first.favourite;
    search->setText({}, false);
    editor.refreshPresetBrowser(false);
    if (!toggled || !restored)
    {
        fail("Preset favourite state could not be changed." +
             (favouriteError.isNotEmpty() ? " " + favouriteError : juce::String()));
        return false;
    }
    return true;
}

bool StandaloneReleaseWorkflow::saveAndReopenProject(juce::String& error)
{
    if (!processor.saveCreatorProject(project, error))
    {
        fail("Project save failed: " + error);
        return false;
    }
    if (!source.moveFileTo(relinkedSource))
    {
        fail("Project reopen/relink request failed: the source could not be moved to " +
             relinkedSource.getFileName() + ".");
        return false;
    }
    if (!processor.requestCreatorProjectLoad(project, relinkedSource, error))
    {
        fail("Project reopen/relink request failed: " + error);
        return false;
    }
    return true;
}

bool StandaloneReleaseWorkflow::projectReopenFinished(bool& ok, juce::String& message)
{
    const auto load = processor.getSampleLoadSnapshot();
    if (!isTerminal((PreparationState)load.state))
        return false;
    const auto sample = processor.getSourceLibrary().getCurrentSample();
    ok = load.projectLoad && load.state == (int)PreparationState::Published && sample != nullptr &&
         juce::File(sample->path) == relinkedSource;
    message = load.message;
    return true;
}

//======================================================================================================
void StandaloneReleaseWorkflow::step()
{
    if (done)
        return;
    const auto started = nowMs();
    runStage();
    maximumMessageTaskMilliseconds = std::max(maximumMessageTaskMilliseconds, nowMs() - started);
}

void StandaloneReleaseWorkflow::runStage()
{
    juce::String error;
    switch (stage)
    {
    case 0:
    {
        if (!checkDeadline(15000.0, "source preparation"))
            return;
        const auto load = processor.getSampleLoadSnapshot();
        if (!isTerminal((PreparationState)load.state))
            return;
        if (load.state != (int)PreparationState::Published)
            return fail("Owned source preparation failed: " + load.message);
        if (!processor.getSourceTransport().setSourceRange(0.1, 0.9, true, false, error))
            return fail("Source range/transport setup failed: " + error);
        processor.getSourceTransport().startPlayback();
        if (!processor.startProcessedCapture(1, true, error))
            return fail("Capture did not start: " + error);
        processor.cancelProcessedCapture();
        if (!processor.startProcessedCapture(1, true, error))
            return fail("Capture retry did not start: " + error);
        const auto range = processor.getSourceTransport().getSnapshot();
        sourceRangeAndTransport =
            range.looping && std::abs(range.rangeStart - 0.1) < 1e-9 && std::abs(range.rangeEnd - 0.9) < 1e-9;
        return enterStage(1);
    }
    case 1:
    {
        if (!checkDeadline(12000.0, "processed capture"))
            return;
        if (!processor.getProcessedCapture().isComplete())
            return;
        captured = processor.copyProcessedCapture();
        capturedRate = processor.getProcessedCapture().describe().sampleRate;
        if (captured.getNumSamples() == 0)
            return fail("Capture/cancel/retry produced no owned audio.");
        captureCancelAndRetry = true;
        if (!launchWaveExport(waveExport, 1))
            return;
        return enterStage(2);
    }
    case 2:
    {
        if (!checkDeadline(15000.0, "owned WAV export"))
            return;
        const auto snapshot = job->getSnapshot();
        if (snapshot.state <= CreatorExportState::Running)
            return;
        if (snapshot.state != CreatorExportState::Completed || !waveExport.existsAsFile())
            return fail("Owned WAV export failed: " + snapshot.message);
        job.reset();
        if (!saveAndReopenProject(error))
            return;
        return enterStage(3);
    }
    case 3:
    {
        if (!checkDeadline(15000.0, "project reopen/relink"))
            return;
        bool ok = false;
        juce::String message;
        if (!projectReopenFinished(ok, message))
            return;
        if (!ok)
            return fail("Project reopen/relink did not atomically restore the moved source: " + message);
        projectSaveReopenRelink = true;
        if (!launchSocialFallback())
            return;
        return enterStage(4);
    }
    case 4:
    {
        if (!checkDeadline(30000.0, "dependency fallback export"))
            return;
        const auto snapshot = job->getSnapshot();
        if (snapshot.state <= CreatorExportState::Running)
            return;
        fallbackMessage = snapshot.message;
        const auto has = [this](const char* name) { return socialFolder.getChildFile(name).existsAsFile(); };
        dependencyFailureFallback = snapshot.state == CreatorExportState::Completed &&
                                    snapshot.message.containsIgnoreCase("ffmpeg") &&
                                    has("sorvane-teaser.wav") && has("sorvane-cover.png") &&
                                    has("preview.html") && has("sorvane-result.json") &&
                                    !has("sorvane-teaser.mp4");
        job.reset();
        if (!dependencyFailureFallback)
            return fail("Dependency failure did not retain the documented fallback package.");
        if (!launchWaveExport(dragExport, 2))
            return;
        return enterStage(5);
    }
    case 5:
    {
        if (!checkDeadline(15000.0, "drag/retry export"))
            return;
        const auto snapshot = job->getSnapshot();
        if (snapshot.state <= CreatorExportState::Running)
            return;
        job.reset();
        if (snapshot.state != CreatorExportState::Completed || !dragExport.existsAsFile())
            return fail("Fallback retry/drag WAV did not publish atomically.");
        waveDragRetry = true;
        return finish();
    }
    default:
        return fail("The release workflow lost its place.");
    }
}

bool StandaloneReleaseWorkflow::launchWaveExport(const juce::File& file, int kind)
{
    CreatorExportJob::Request request;
    request.kind = kind == 2 ? CreatorExportKind::DragWav : CreatorExportKind::ProcessedWav;
    request.destination = file;
    const auto description = processor.getProcessedCapture().describe();
    request.work =
        [audio = captured, rate = capturedRate,
         comment = makeCaptureComment(description.rangeStart, description.rangeEnd, description.looping)](
            const juce::File& target, std::atomic<float>& progress, const std::atomic<bool>& cancel,
            juce::String& message)
    { return writeNormalisedWave(target, audio, rate, &progress, &cancel, message, comment); };
    job = std::make_unique<CreatorExportJob>(std::move(request));
    if (!job->launch())
    {
        fail(kind == 2 ? "Owned drag export job could not launch."
                       : "Owned WAV export job could not launch.");
        return false;
    }
    return true;
}

bool StandaloneReleaseWorkflow::launchSocialFallback()
{
    // The export job publishes the package under this name and never writes into an existing folder, so
    // the reset leaves the name free rather than making an empty folder there.
    if (socialFolder.exists() && !socialFolder.deleteRecursively())
    {
        fail("Could not reset the social fallback destination.");
        return false;
    }
    searchPath = juce::SystemStats::getEnvironmentVariable("PATH", {});
    SocialExportOptions options;
    options.title = "Sorvane installed workflow";
    options.creator = "@release-fixture";
    options.personality = "broken";
    const auto range = processor.getSourceTransport().getSnapshot();
    options.rangeStart = range.rangeStart;
    options.rangeEnd = range.rangeEnd;
    options.loopEnabled = range.looping;
    options.duration = 2;
    options.effectedOnly = true;
    job = std::make_unique<CreatorExportJob>(SocialExporter::createJob(
        socialFolder, waveExport, captured, capturedRate, editor.currentVisualInputs(), options));
    if (!job->launch())
    {
        fail("Social dependency-fallback job could not launch.");
        return false;
    }
    return true;
}

void StandaloneReleaseWorkflow::finish()
{
    noPartialOutput = true;
    for (const auto& f : artifacts.findChildFiles(juce::File::findFilesAndDirectories, true, "*",
                                                  juce::File::FollowSymlinks::no))
    {
        const auto name = f.getFileName().toLowerCase();
        if (name.contains(".partial") || name.endsWith(".tmp"))
            noPartialOutput = false;
    }
    pass = presetSearchAndFavourite && macroLockUndo && audioAndVisualQuality && sourceRangeAndTransport &&
           captureCancelAndRetry && projectSaveReopenRelink && dependencyFailureFallback && waveDragRetry &&
           keyboardOnlyPath && namedScreenshotRetained && noPartialOutput &&
           maximumMessageTaskMilliseconds < 100.0;
    if (!pass && failure.isEmpty())
        failure = "One or more installed workflow assertions failed.";
    done = true;
    writeReport();
}

void StandaloneReleaseWorkflow::writeReport()
{
    auto* o = new juce::DynamicObject();
    const juce::var report(o);
    o->setProperty("schemaVersion", 1);
    o->setProperty("product", "Sorvane");
    o->setProperty("version", "2.13.3");
    o->setProperty("presetSearchAndFavourite", presetSearchAndFavourite);
    o->setProperty("macroLockUndo", macroLockUndo);
    o->setProperty("audioAndVisualQuality", audioAndVisualQuality);
    o->setProperty("sourceRangeAndTransport", sourceRangeAndTransport);
    o->setProperty("captureCancelAndRetry", captureCancelAndRetry);
    o->setProperty("projectSaveReopenRelink", projectSaveReopenRelink);
    o->setProperty("dependencyFailureFallback", dependencyFailureFallback);
    o->setProperty("waveDragRetry", waveDragRetry);
    o->setProperty("keyboardOnlyPath", keyboardOnlyPath);
    o->setProperty("namedScreenshotRetained", namedScreenshotRetained);
    o->setProperty("noPartialOutput", noPartialOutput);
    o->setProperty("sourceRequestMilliseconds", sourceRequestMilliseconds);
    o->setProperty("maximumMessageTaskMilliseconds", maximumMessageTaskMilliseconds);
    o->setProperty("fallbackMessage", fallbackMessage);
    o->setProperty("artifactDirectory", artifacts.getFullPathName());
    o->setProperty("failure", failure);
    o->setProperty("normalQuitRequested", true);
    o->setProperty("pass", pass);
    const auto text = juce::JSON::toString(report).replace("\r\n", "\n").replace("\n", "\r\n") + "\r\n";
    juce::String error;
    writeFileDurably(reportFile, text.toRawUTF8(), text.getNumBytesAsUTF8(), error);
}
} // namespace sorvane
