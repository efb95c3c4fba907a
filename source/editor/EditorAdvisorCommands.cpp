// SETUP / PERFORMANCE: the local advisor's prompt, run, result dialog, visual advice and its revert,
// and the redacted support bundle.
#include "advisor/SetupAdvisorJob.h"
#include "capture/DurableFile.h"
#include "editor/SorvaneAudioProcessorEditor.h"

namespace
{
constexpr const char* advisorCaption = "SETUP / PERFORMANCE";
constexpr const char* advisorDirectoryKey = "advisorDirectory";
} // namespace

void SorvaneAudioProcessorEditor::wireAdvisorCommands()
{
    header.setupAdvisor.onClick = [this]
    {
        if (visualAdviceRevert.active)
            revertVisualAdvice();
        else
            launchSetupAdvisor(false);
    };
    // Offered once per product version on this machine, three seconds after the window opens.
    advisorLaunchArmed = !sorvane::SetupPerformanceAdvisor::isAcknowledged(
        sorvane::SetupPerformanceAdvisor::defaultAcknowledgementFile(), sorvane::advisorProductVersion,
        sorvane::advisorInstanceCeiling);
    advisorLaunchTicks = 3 * 60;
}

void SorvaneAudioProcessorEditor::presentAdvisorDialog(
    const juce::String& title, const juce::String& text,
    const std::vector<std::pair<juce::String, int>>& buttons, std::function<void(int)> onResult,
    juce::MessageBoxIconType icon)
{
    if (advisorDialogPresenter)
    {
        advisorDialogPresenter(title, text, buttons, std::move(onResult));
        return;
    }
    auto* window = new juce::AlertWindow(title, text, icon, this);
    for (const auto& [label, result] : buttons)
        window->addButton(label, result,
                          result == 0   ? juce::KeyPress(juce::KeyPress::escapeKey)
                          : result == 1 ? juce::KeyPress(juce::KeyPress::returnKey)
                                        : juce::KeyPress());
    juce::Component::SafePointer<SorvaneAudioProcessorEditor> safeThis(this);
    window->enterModalState(true,
                            juce::ModalCallbackFunction::create(
                                [safeThis, onResult = std::move(onResult)](int result)
                                {
                                    if (safeThis != nullptr)
                                    {
                                        safeThis->restoreKeyboardFocus();
                                        onResult(result);
                                    }
                                }),
                            true);
}

sorvane::SetupAdvisorInput SorvaneAudioProcessorEditor::gatherAdvisorInput()
{
    sorvane::SetupAdvisorInput in;
    in.standalone = isStandalone();
    in.sampleRate = processor.getSampleRate();
    in.blockSize = processor.getBlockSize();
    in.instanceCount = in.standalone ? 1 : -1;
    in.logicalCpuCount = sorvane::logicalCpuCount();
    in.physicalMemoryBytes = sorvane::physicalMemoryBytes();
    // What the user sees: the window scale chosen in Options on top of the display's own.
    const auto* display = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay();
    in.displayScale = juce::Desktop::getInstance().getGlobalScaleFactor() *
                      (display != nullptr ? (float)display->scale : 1.0f);
    in.selectedVisualTier = visualQuality.getMode();
    in.visualCounter = 0;
    if (const auto sample = processor.getSourceLibrary().getCurrentSample();
        sample != nullptr && sample->sampleRate > 0.0)
    {
        in.sourceLoaded = true;
        in.sourceDurationSeconds = (double)sample->getNumFrames() / sample->sampleRate;
        in.sourceSampleRate = sample->sampleRate;
        in.sourceChannels = sample->audio.getNumChannels();
        in.sourceDecodedBytes = (std::int64_t)sample->audio.getNumChannels() * sample->getNumFrames() * 4;
    }
    in.encoderAvailable = -1;
    const int lengthId = source.captureLength.getSelectedId();
    in.captureBars = lengthId > 0 ? 1 << (lengthId - 1) : 4;
    in.tempo = processor.currentTempoBpm.load();
    in.socialAspect = processor.socialAspect.load();
    in.socialDuration = processor.socialDuration.load();
    in.socialBackground = processor.socialBackground.load();
    in.destinationFreeBytes = -1;
    auto folder = editorSettings.get("socialExportDirectory", {});
    if (folder == juce::File())
        folder = editorSettings.get("audioExportDirectory", {});
    if (folder == juce::File())
        folder = juce::File::getSpecialLocation(juce::File::userDocumentsDirectory);
    in.destinationFolder = folder;
    in.includeOptionalChecks = true;
    return in;
}

void SorvaneAudioProcessorEditor::acknowledgeAdvisor()
{
    juce::String error;
    if (!sorvane::SetupPerformanceAdvisor::acknowledge(
            sorvane::SetupPerformanceAdvisor::defaultAcknowledgementFile(), sorvane::advisorProductVersion,
            sorvane::advisorInstanceCeiling, error))
        setStatusError(error);
}

void SorvaneAudioProcessorEditor::launchSetupAdvisor(bool askFirst)
{
    if (advisorJob != nullptr)
    {
        advisorJob->cancel();
        setStatusMessage("ADVISOR CANCELLATION REQUESTED / NO SETTINGS CHANGED");
        return;
    }
    if (askFirst)
    {
        juce::Component::SafePointer<SorvaneAudioProcessorEditor> safeThis(this);
        presentAdvisorDialog(
            "Run Sorvane's local setup advisor?",
            "This optional offline check measures only local limits and produces no telemetry. Skip "
            "leaves every setting unchanged; ADVISOR remains available on demand.",
            {{"Run Advisor", 1}, {"Skip", 0}},
            [safeThis](int result)
            {
                if (safeThis == nullptr)
                    return;
                if (result == 1)
                {
                    safeThis->launchSetupAdvisor(false);
                    return;
                }
                juce::String error;
                if (sorvane::SetupPerformanceAdvisor::acknowledge(
                        sorvane::SetupPerformanceAdvisor::defaultAcknowledgementFile(),
                        sorvane::advisorProductVersion, sorvane::advisorInstanceCeiling, error))
                    safeThis->setStatusMessage("SETUP ADVISOR SKIPPED / AVAILABLE ON DEMAND");
                else
                    safeThis->setStatusError(error);
            });
        return;
    }

    lastAdvisorInput = gatherAdvisorInput();
    advisorJob = std::make_unique<sorvane::SetupAdvisorJob>(lastAdvisorInput);
    if (!advisorJob->launch())
    {
        advisorJob.reset();
        setStatusError("THE LOCAL ADVISOR WORKER COULD NOT START");
        return;
    }
    header.setupAdvisor.setButtonText("CANCEL ADVISOR");
    setStatusMessage("LOCAL ADVISOR RUNNING OFF THE AUDIO AND MESSAGE CALLBACKS", 300);
}

void SorvaneAudioProcessorEditor::refreshAdvisor()
{
    // 2. A finished run: its report, then the dialog or the reason it stopped.
    if (advisorJob != nullptr && advisorJob->isFinished())
    {
        lastAdvisorReport = advisorJob->getReport();
        advisorJob.reset();
        header.setupAdvisor.setButtonText(advisorCaption);
        if (lastAdvisorReport.cancelled || !lastAdvisorReport.completed)
            setStatusMessage(lastAdvisorReport.summary.isNotEmpty()
                                 ? lastAdvisorReport.summary.toUpperCase()
                                 : juce::String("ADVISOR STOPPED / NO SETTINGS CHANGED"));
        else
            showSetupAdvisorResult(lastAdvisorReport);
    }

    // 3. The automatic offer waits for the window to be on screen with nothing modal over it.
    if (advisorLaunchArmed)
    {
        if (advisorLaunchTicks > 0)
            --advisorLaunchTicks;
        const bool blocked = juce::ModalComponentManager::getInstance()->getNumModalComponents() > 0 ||
                             sampleChooser != nullptr || exportChooser != nullptr ||
                             advisorChooser != nullptr || !isShowing();
        if (advisorLaunchTicks == 0 && !blocked)
        {
            advisorLaunchArmed = false;
            launchSetupAdvisor(true);
        }
    }
}

void SorvaneAudioProcessorEditor::showSetupAdvisorResult(const sorvane::SetupAdvisorReport& report)
{
    const auto text = report.summary + "\n\n" + report.observations.joinIntoString("\n") +
                      "\n\nRecommendations:\n" + report.recommendations.joinIntoString("\n");
    juce::Component::SafePointer<SorvaneAudioProcessorEditor> safeThis(this);
    presentAdvisorDialog("Sorvane Setup & Performance Advisor", text,
                         {{"Apply Visual Advice", 1}, {"Export Redacted Support", 2}, {"Close", 0}},
                         [safeThis](int result)
                         {
                             if (safeThis != nullptr)
                                 safeThis->handleAdvisorResult(result);
                         });
}

void SorvaneAudioProcessorEditor::handleAdvisorResult(int result)
{
    acknowledgeAdvisor();
    if (result == 1)
    {
        if (!lastAdvisorReport.completed || lastAdvisorReport.cancelled)
            return;
        visualAdviceRevert = {true, visualQuality.getMode(), lastAdvisorReport.recommendedVisualTier,
                              lastAdvisorReport.fingerprint};
        applyVisualQualityChoice(lastAdvisorReport.recommendedVisualTier + 1);
        header.setupAdvisor.setButtonText("REVERT ADVICE");
        setStatusMessage("ADVISOR APPLIED VISUAL AUTO ONLY / DSP, PROJECT, AUDIO QUALITY AND HOST UNCHANGED");
    }
    else if (result == 2)
        exportAdvisorSupportBundle();
    else
        setStatusMessage("ADVISOR CLOSED / NO SETTINGS CHANGED");
}

void SorvaneAudioProcessorEditor::applyVisualQualityChoice(int comboId)
{
    macros.visualQuality.setSelectedId(comboId, juce::dontSendNotification);
    selectVisualQualityMode(comboId);
}

void SorvaneAudioProcessorEditor::revertVisualAdvice()
{
    // A mode the user chose since the advice stays.
    if (visualQuality.getMode() == visualAdviceRevert.appliedTier)
        applyVisualQualityChoice(visualAdviceRevert.previousMode + 1);
    visualAdviceRevert = {};
    header.setupAdvisor.setButtonText(advisorCaption);
    setStatusMessage("ADVISOR VISUAL SETTING REVERTED / AUDIO AND PROJECT UNCHANGED");
}

void SorvaneAudioProcessorEditor::exportAdvisorSupportBundle()
{
    const auto settings = getChooserSettings(sorvane::ChooserPurpose::exportSupportBundle);
    advisorChooser = sorvane::makeFileChooser(settings);
    juce::Component::SafePointer<SorvaneAudioProcessorEditor> safeThis(this);
    advisorChooser->launchAsync(settings.flags,
                                [safeThis](const juce::FileChooser& chooser)
                                {
                                    if (safeThis == nullptr)
                                        return;
                                    safeThis->restoreKeyboardFocus();
                                    const auto file = chooser.getResult();
                                    safeThis->advisorChooser.reset();
                                    if (file != juce::File())
                                        safeThis->writeAdvisorSupportBundle(file);
                                });
}

bool SorvaneAudioProcessorEditor::writeAdvisorSupportBundle(const juce::File& file)
{
    juce::String error;
    if (!editorSettings.remember(advisorDirectoryKey, file, error))
        reportSettingsNotSaved(error);
    const auto fail = [this](const juce::String& message)
    {
        setStatusError(message);
        return false;
    };
    if (!lastAdvisorReport.completed || lastAdvisorReport.cancelled)
        return fail("Run the advisor successfully before exporting support evidence.");
    const auto parent = file.getParentDirectory();
    if (!parent.isDirectory() && !parent.createDirectory().wasOk())
        return fail("The redacted support bundle could not be written.");
    const auto bundle =
        sorvane::SetupPerformanceAdvisor::createRedactedSupportBundle(lastAdvisorInput, lastAdvisorReport);
    const auto text = bundle.replace("\r\n", "\n").replace("\n", "\r\n");
    juce::String why;
    if (!sorvane::writeFileDurably(file, text.toRawUTF8(), text.getNumBytesAsUTF8(), why))
        return fail("The redacted support bundle could not be written.");
    setStatusMessage("REDACTED SUPPORT BUNDLE EXPORTED / NO AUDIO, PATHS, PRESETS, PROJECT OR DNA");
    return true;
}
