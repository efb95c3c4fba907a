// The editor's capture and export commands: CAPTURE and its cancel, BEFORE / AFTER and KEEP THAT,
// EXPORT WAV and DRAG WAV with their export job, and the refresh steps that follow them.
#include "capture/CaptureExport.h"
#include "capture/WaveExport.h"
#include "editor/SorvaneAudioProcessorEditor.h"

namespace
{
constexpr const char* audioExportDirectoryKey = "audioExportDirectory";
constexpr int captureBarsByItem[] = {1, 2, 4, 8, 16};

void setTextIfDifferent(juce::Button& button, const juce::String& text)
{
    if (button.getButtonText() != text)
        button.setButtonText(text);
}
} // namespace

void SorvaneAudioProcessorEditor::wireCaptureCommands()
{
    source.capture.onClick = [this] { toggleCapture(); };
    source.exportWav.onClick = [this] { chooseAudioExport(false); };
    source.dragWav.onClick = [this] { chooseAudioExport(true); };
    tressel.beforeAfter.onClick = [this] { requestKeepThat(4, "BEFORE / AFTER"); };
    tressel.keepThat.onClick = [this]
    {
        const int bars = getKeepThatBars();
        requestKeepThat(bars, "KEEP THAT " + juce::String(bars) + " BARS");
    };
    exportActivity.onCancel = [this] { cancelExportJob(); };

    // The window's own rings: nothing is kept until an editor has been opened.
    if (!processor.armBeforeAfter())
        setStatusMessage("NOT ENOUGH MEMORY FOR KEEP THAT / BEFORE / AFTER IS OFF");
}

int SorvaneAudioProcessorEditor::getSelectedCaptureBars() const
{
    const int index = juce::jlimit(0, 4, source.captureLength.getSelectedItemIndex());
    return captureBarsByItem[index];
}

int SorvaneAudioProcessorEditor::getKeepThatBars() const
{
    return source.captureLength.getSelectedItemIndex() < 3 ? 4 : 8;
}

void SorvaneAudioProcessorEditor::toggleCapture()
{
    if (processor.getProcessedCapture().isActive())
    {
        cancelCapture();
        return;
    }
    juce::String error;
    if (processor.startProcessedCapture(getSelectedCaptureBars(), true, error))
        setStatusMessage("CAPTURE STARTED / EFFECT TAIL INCLUDED");
    else
        showAlert(juce::MessageBoxIconType::WarningIcon, "Could not start capture", error);
}

void SorvaneAudioProcessorEditor::cancelCapture()
{
    processor.cancelProcessedCapture();
    setStatusMessage("CAPTURE CANCELLED");
}

void SorvaneAudioProcessorEditor::requestKeepThat(int bars, const juce::String& label)
{
    const auto message = processor.requestKeepThat(bars, label);
    if (message.endsWith(" REQUESTED / FREEZING AT THE NEXT AUDIO BOUNDARY"))
        setStatusMessage(message);
    else
        setStatusError(message);
}

//======================================================================================================
void SorvaneAudioProcessorEditor::chooseAudioExport(bool dragMode)
{
    // Without a capture, a kept window is what there is to export: its processed half.
    if (!processor.getProcessedCapture().isComplete() && !processor.hasKeepThat())
    {
        showAlert(juce::MessageBoxIconType::InfoIcon, "No processed capture",
                  "Capture a loop before exporting it.");
        return;
    }
    if (exportRunning)
    {
        cancelExportJob();
        setStatusMessage("EXPORT CANCELLATION REQUESTED");
        return;
    }

    if (dragMode)
    {
        const auto folder =
            juce::File::getSpecialLocation(juce::File::tempDirectory).getChildFile("Sorvane Captures");
        startAudioExportJob(folder.getNonexistentChildFile("Sorvane-processed", ".wav", false), true);
        return;
    }

    const auto settings = getChooserSettings(sorvane::ChooserPurpose::exportAudio);
    // A new chooser replaces one still open.
    exportChooser = sorvane::makeFileChooser(settings);
    juce::Component::SafePointer<SorvaneAudioProcessorEditor> safeThis(this);
    exportChooser->launchAsync(settings.flags,
                               [safeThis](const juce::FileChooser& chooser)
                               {
                                   if (safeThis == nullptr)
                                       return;
                                   safeThis->restoreKeyboardFocus();
                                   const auto file = chooser.getResult();
                                   if (file != juce::File())
                                       safeThis->exportToChosenFile(file);
                               });
}

void SorvaneAudioProcessorEditor::exportToChosenFile(juce::File file)
{
    juce::String error;
    if (!editorSettings.remember(audioExportDirectoryKey, file, error))
        reportSettingsNotSaved(error);
    if (file.getFileExtension().isEmpty())
        file = file.withFileExtension("wav");
    startAudioExportJob(file, false);
}

void SorvaneAudioProcessorEditor::startAudioExportJob(const juce::File& file, bool dragMode)
{
    if (exportRunning)
    {
        setStatusMessage("ANOTHER EXPORT IS ALREADY RUNNING");
        return;
    }
    exportRunning = true;

    auto capture = processor.copyProcessedCapture();
    const auto description = processor.getProcessedCapture().describe();
    auto rate = description.sampleRate;
    auto comment = sorvane::captureCommentFor(description);
    if (capture.getNumSamples() == 0 && processor.hasKeepThat())
    {
        auto kept = processor.getKeepThat();
        capture = std::move(kept.after);
        rate = kept.sampleRate;
        comment = "Sorvane keepThat bars=" + juce::String(kept.bars);
    }
    if (capture.getNumSamples() == 0)
    {
        exportRunning = false;
        setStatusMessage("CAPTURE IS NOT READY FOR EXPORT");
        return;
    }

    sorvane::CreatorExportJob::Request request;
    request.kind = dragMode ? sorvane::CreatorExportKind::DragWav : sorvane::CreatorExportKind::ProcessedWav;
    request.destination = file;
    request.destinationIsFolder = false;
    // The job owns its copy, so a new capture may start while it writes.
    request.work = [audio = std::move(capture), rate,
                    comment](const juce::File& target, std::atomic<float>& progress,
                             const std::atomic<bool>& cancel, juce::String& message) mutable
    {
        return sorvane::writeNormalisedWave(target, std::move(audio), rate, &progress, &cancel, message,
                                            comment);
    };

    exportJob.reset();
    exportJob = std::make_unique<sorvane::CreatorExportJob>(std::move(request));
    exportDragMode = dragMode;

    if (exportJob->launch())
    {
        exportActivity.setActive(true);
        source.status.setVisible(false);
        setStatusMessage(dragMode ? "PREPARING OWNED DRAG EXPORT JOB" : "OWNED WAV EXPORT JOB STARTED");
        return;
    }
    exportRunning = false;
    exportDragMode = false;
    setStatusError(exportJob->getSnapshot().message);
    exportJob.reset();
}

void SorvaneAudioProcessorEditor::cancelExportJob()
{
    if (exportJob != nullptr)
        exportJob->cancel();
}

//======================================================================================================
void SorvaneAudioProcessorEditor::refreshKeepThat()
{
    juce::String error;
    if (processor.completeKeepThat(error))
        setStatusMessage("EXACT BEFORE / AFTER WINDOW FROZEN / KEEP THAT READY");
    else if (error.isNotEmpty())
        setStatusError(error);
}

void SorvaneAudioProcessorEditor::refreshExportJob()
{
    if (exportJob != nullptr)
    {
        using State = sorvane::CreatorExportState;
        const auto snapshot = exportJob->getSnapshot();
        switch (snapshot.state)
        {
        case State::Running:
            setStatusMessage("EXPORT " + juce::String(juce::roundToInt(snapshot.progress * 100.0f)) +
                                 "% / EXPORT IN PROGRESS",
                             2);
            break;
        case State::Completed:
            if (exportDragMode)
            {
                // Without a drag the file is still there; say where, so it is not lost.
                setStatusMessage(startExternalDrag(snapshot.destinationPath)
                                     ? juce::String("DRAG WAV READY")
                                     : "DRAG WAV READY / DRAG COULD NOT START / FILE: " +
                                           snapshot.destinationPath);
            }
            else if (snapshot.kind == sorvane::CreatorExportKind::SocialPackage)
                setStatusMessage(snapshot.message);
            else
                setStatusMessage("WAV EXPORT COMPLETE");
            break;
        case State::Cancelled:
            setStatusMessage(snapshot.message);
            break;
        case State::Failed:
            setStatusError(snapshot.message);
            break;
        case State::Idle:
        case State::Checking:
            break;
        }
        if (snapshot.state == State::Completed || snapshot.state == State::Cancelled ||
            snapshot.state == State::Failed)
        {
            exportDragMode = false;
            exportRunning = false;
            exportJob.reset();
        }
    }

    // The overlay and the status label share one place.
    if (exportActivity.isActive() != exportRunning)
        exportActivity.setActive(exportRunning);
    if (source.status.isVisible() == exportRunning)
        source.status.setVisible(!exportRunning);
}

bool SorvaneAudioProcessorEditor::startExternalDrag(const juce::String& path)
{
    if (externalDragStarter)
        return externalDragStarter(path);
    // The file is offered, not moved: it stays where the export put it.
    return juce::DragAndDropContainer::performExternalDragDropOfFiles({path}, false, this);
}

void SorvaneAudioProcessorEditor::refreshCaptureControls(juce::String& status)
{
    const auto& capture = processor.getProcessedCapture();
    const bool capturing = capture.isActive();
    const bool loaded = processor.getSourceLibrary().getPublished() != nullptr;
    if (capturing)
        status = "CAPTURING  " + juce::String(juce::roundToInt(capture.getProgress() * 100.0f)) + "%  /  " +
                 processor.getLoadedSampleName().toUpperCase();
    setTextIfDifferent(source.capture, capturing ? "CANCEL" : "CAPTURE");
    source.capture.setEnabled(loaded || capturing);
    source.captureLength.setEnabled(!capturing && !exportRunning);

    // 22. Each export button cancels its own running export; neither starts while anything is busy.
    const bool wavRunning = exportRunning && !exportDragMode && exportJob != nullptr &&
                            exportJob->getKind() == sorvane::CreatorExportKind::ProcessedWav;
    const bool dragRunning = exportRunning && exportDragMode;
    const bool ready = (capture.isComplete() || processor.hasKeepThat()) && !capturing && !exportRunning;
    setTextIfDifferent(source.exportWav, wavRunning ? "EXPORTING..." : "EXPORT WAV");
    setTextIfDifferent(source.dragWav, dragRunning ? "BUSY" : "DRAG WAV");
    source.exportWav.setEnabled(ready || wavRunning);
    source.dragWav.setEnabled(ready || dragRunning);
}
