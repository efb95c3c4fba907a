// SHARE RESULT: the teaser package of the current source (rendered offline on the export thread) or of
// the last Keep That window, with the social choices and the creator's name that travel with it.
#include "editor/SorvaneAudioProcessorEditor.h"
#include "workflow/TresselPersonality.h"

namespace
{
constexpr const char* socialExportDirectoryKey = "socialExportDirectory";
constexpr int fullDurationItemId = 3;

// Complete: both halves the same shape and not empty.
bool isCompleteWindow(const sorvane::BeforeAfterAudioSnapshot& window)
{
    return window.before.getNumChannels() > 0 && window.before.getNumSamples() > 0 &&
           window.before.getNumChannels() == window.after.getNumChannels() &&
           window.before.getNumSamples() == window.after.getNumSamples();
}
} // namespace

void SorvaneAudioProcessorEditor::wireSocialCommands()
{
    const auto storeChoices = [this]
    {
        processor.setSocialVideoChoices(social.aspect.getSelectedItemIndex(),
                                        social.duration.getSelectedItemIndex(),
                                        social.background.getSelectedItemIndex());
    };
    social.aspect.onChange = storeChoices;
    social.duration.onChange = storeChoices;
    social.background.onChange = storeChoices;
    const auto storeIdentity = [this]
    { processor.setCreatorVideoIdentity(social.artist.getText(), social.effectedOnly.getToggleState()); };
    social.artist.onTextChange = storeIdentity;
    social.effectedOnly.onClick = storeIdentity;
    social.share.onClick = [this] { chooseSocialExport(); };
}

void SorvaneAudioProcessorEditor::refreshSocialControls()
{
    const auto select = [](juce::ComboBox& combo, int index)
    {
        if (combo.getSelectedItemIndex() != index)
            combo.setSelectedItemIndex(index, juce::dontSendNotification);
    };
    select(social.aspect, juce::jlimit(0, 2, processor.socialAspect.load()));
    select(social.duration, juce::jlimit(0, 2, processor.socialDuration.load()));
    select(social.background, juce::jlimit(0, 2, processor.socialBackground.load()));
    const auto identity = processor.getCreatorVideoIdentity();
    if (social.artist.getText() != identity.artist)
        social.artist.setText(identity.artist, false);
    if (social.effectedOnly.getToggleState() != identity.effectedOnly)
        social.effectedOnly.setToggleState(identity.effectedOnly, juce::dontSendNotification);

    // The offered durations follow the source, its range and the Keep That window; checked only when
    // one of them changed, as reading the window copies its audio.
    const auto& state = processor.getTransportState();
    const SocialDurationInputs inputs{processor.getSourceLibrary().getPublished(), state.rangeStart.load(),
                                      state.rangeEnd.load(), processor.hasKeepThat()};
    if (!(inputs == lastSocialDurationInputs))
    {
        lastSocialDurationInputs = inputs;
        refreshSocialDurationChoices();
    }

    // Something to share: a source, or a kept before/after window. The source wins when both exist, so
    // the tooltip says which one a click will use.
    const bool hasSource = processor.getSourceLibrary().getPublished() != nullptr;
    const bool hasKept = processor.hasKeepThat();
    const juce::String contents =
        ": WAV, cover, preview page, DNA metadata and, with ffmpeg installed, an MP4.";
    // Always clickable: a click that cannot share says why on the status line.
    const auto tooltip =
        exportRunning ? juce::String("Another export is running; cancel it or wait for it to finish.")
        : hasSource
            ? "Create a result package from the loaded source rendered through the current sound" + contents +
                  (hasKept ? " The kept KEEP THAT window is used once the source is cleared." : "")
        : hasKept ? "Create a result package from the kept KEEP THAT window" + contents
                  : juce::String("Load a source, or use BEFORE / AFTER or KEEP THAT, before sharing.");
    if (social.share.getTooltip() != tooltip)
        social.share.setTooltip(tooltip);
}

double SorvaneAudioProcessorEditor::socialSourceSeconds()
{
    if (const auto sample = processor.getSourceLibrary().getCurrentSample())
        return sorvane::socialRegionSeconds(sample.get(), processor.getTransportState().rangeStart.load(),
                                            processor.getTransportState().rangeEnd.load());
    if (processor.hasKeepThat())
    {
        const auto window = processor.getKeepThat();
        if (isCompleteWindow(window) && window.sampleRate > 0.0)
            return (double)window.before.getNumSamples() / window.sampleRate;
    }
    return 0.0;
}

void SorvaneAudioProcessorEditor::refreshSocialDurationChoices()
{
    const auto seconds = socialSourceSeconds();
    const bool finite = std::isfinite(seconds);
    social.duration.setItemEnabled(1, finite && seconds >= 15.0);
    social.duration.setItemEnabled(2, finite && seconds >= 30.0);
    social.duration.setItemEnabled(fullDurationItemId, true);

    const auto selected = social.duration.getSelectedId();
    if (selected != 0 && social.duration.isItemEnabled(selected))
        return;
    social.duration.setSelectedId(fullDurationItemId, juce::dontSendNotification);
    // Following the source is not an edit: a fresh session must not look like unsaved work.
    const bool wasDirty = processor.projectDirty.load();
    processor.setSocialVideoChoices(social.aspect.getSelectedItemIndex(), 2,
                                    social.background.getSelectedItemIndex());
    processor.projectDirty.store(wasDirty);
}

void SorvaneAudioProcessorEditor::chooseSocialExport()
{
    refreshSocialDurationChoices();
    if (processor.getSourceLibrary().getPublished() == nullptr && !processor.hasKeepThat())
    {
        setStatusMessage("CAPTURE BEFORE / AFTER OR KEEP THAT BEFORE SHARING");
        return;
    }

    const auto settings = getChooserSettings(sorvane::ChooserPurpose::shareResult);
    exportChooser = sorvane::makeFileChooser(settings);
    juce::Component::SafePointer<SorvaneAudioProcessorEditor> safeThis(this);
    exportChooser->launchAsync(settings.flags,
                               [safeThis](const juce::FileChooser& chooser)
                               {
                                   if (safeThis == nullptr)
                                       return;
                                   safeThis->restoreKeyboardFocus();
                                   const auto chosen = chooser.getResult();
                                   if (chosen != juce::File())
                                       safeThis->shareToChosenFolder(chosen);
                               });
}

void SorvaneAudioProcessorEditor::shareToChosenFolder(const juce::File& parent)
{
    juce::String error;
    if (!editorSettings.remember(socialExportDirectoryKey, parent, error))
        reportSettingsNotSaved(error);
    const auto name = "Sorvane-Result-" + juce::Time::getCurrentTime().formatted("%Y%m%d-%H%M%S");
    startSocialExportJob(parent.getNonexistentChildFile(name, {}, false));
}

sorvane::ScopeVisualInputs SorvaneAudioProcessorEditor::currentVisualInputs() const
{
    sorvane::ScopeVisualInputs inputs;
    inputs.parameters = scopeVisual.parameters;
    inputs.meters = scopeVisual.meters;
    return inputs;
}

void SorvaneAudioProcessorEditor::startSocialExportJob(const juce::File& packageFolder)
{
    refreshSocialDurationChoices();
    if (exportRunning)
    {
        setStatusMessage("ANOTHER CREATOR EXPORT IS ALREADY RUNNING");
        return;
    }
    exportRunning = true;
    const auto stop = [this](const juce::String& message)
    {
        exportRunning = false;
        setStatusError(message);
    };

    const int durationIndex = social.duration.getSelectedItemIndex();
    const double requested = durationIndex == 0 ? 15.0 : durationIndex == 1 ? 30.0 : 0.0;
    const bool effectedOnly = social.effectedOnly.getToggleState();

    sorvane::SocialExportOptions options;
    juce::AudioBuffer<float> input;
    double sampleRate = 0.0;
    sorvane::SourceVideoRender render;
    juce::String label;

    if (processor.getSourceLibrary().getPublished() != nullptr)
    {
        juce::String error;
        auto prepared = processor.prepareSourceVideo(requested, error);
        if (!prepared.render)
            return stop(error);
        render = std::move(prepared.render);
        sampleRate = prepared.sampleRate;
        const auto n = (double)prepared.sourceFrames;
        options.rangeStart = (double)prepared.region.start / n;
        options.rangeEnd = (double)prepared.region.end / n;
        options.loopEnabled = false;
        const auto seconds = requested > 0.0
                                 ? requested
                                 : (double)prepared.region.length() / sampleRate * (effectedOnly ? 1 : 2);
        label = juce::String(requested > 0.0 ? "SELECTED AUDIO / " : "FULL SAMPLE / ") +
                juce::String(seconds, 1) + " s";
    }
    else
    {
        const auto window = processor.getKeepThat();
        if (!isCompleteWindow(window))
            return stop("THE BEFORE / AFTER WINDOW IS NOT READY");
        if (effectedOnly)
            input = window.after;
        else
        {
            const int frames = window.before.getNumSamples();
            input.setSize(window.before.getNumChannels(), frames * 2);
            for (int c = 0; c < input.getNumChannels(); ++c)
            {
                input.copyFrom(c, 0, window.before, c, 0, frames);
                input.copyFrom(c, frames, window.after, c, 0, frames);
            }
        }
        sampleRate = window.sampleRate;
        options.rangeStart = window.rangeStart;
        options.rangeEnd = window.rangeEnd;
        options.loopEnabled = window.looping;
    }

    options.title = effectedOnly ? "SORVANE RESULT" : "SORVANE BEFORE / AFTER";
    options.creator = social.artist.getText().trim();
    const auto session = processor.getTresselSession();
    const auto personality = juce::jlimit(0, sorvane::numTresselPersonalities - 1,
                                          sorvane::resolvePersonality(session.personality, session.seed));
    options.personality = sorvane::getTresselPersonalityProfiles()[(size_t)personality].name;
    juce::String dnaError;
    options.dna = processor.copyTresselDna(dnaError);
    options.aspect = juce::jlimit(0, 2, social.aspect.getSelectedItemIndex());
    options.duration = juce::jlimit(0, 2, durationIndex);
    options.background =
        (sorvane::SocialBackground)juce::jlimit(0, 2, social.background.getSelectedItemIndex());
    options.effectedOnly = effectedOnly;
    if (!render)
        label = sorvane::SocialExporter::preflight(input, sampleRate, options).profileLabel;

    exportJob.reset();
    exportJob = std::make_unique<sorvane::CreatorExportJob>(
        sorvane::makeSocialShareRequest(packageFolder, std::move(input), sampleRate, std::move(render),
                                        currentVisualInputs(), std::move(options)));
    exportDragMode = false;
    if (exportJob->launch())
    {
        exportActivity.setActive(true);
        source.status.setVisible(false);
        setStatusMessage("SOCIAL " + label + " STARTED");
        return;
    }
    exportRunning = false;
    setStatusError(exportJob->getSnapshot().message);
    exportJob.reset();
}
