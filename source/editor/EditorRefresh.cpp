// The editor's refresh tick: it polls the processor and its jobs, brings the controls in line, composes
// the status line, adapts the frame rate and advances the animated visual. Nothing calls the editor
// from the audio thread or from workers; this is the only way their state reaches the window.
#include "editor/InterfaceTheme.h"
#include "editor/Palette.h"
#include "editor/SorvaneAudioProcessorEditor.h"
#include "editor/TransportStatusLine.h"
#include "transport/SourceLoadJob.h"

namespace
{
namespace pal = sorvane::palette;

// How far painting may reach outside the animated visual (glow and caption).
constexpr int visualPaintMargin = 24;

// 255 - (255 - c) x 0.9259259 per channel, rounded the way the theme's shade map rounds, so the lit
// fill is a shade a theme can map.
juce::Colour lightenedWhileActive(juce::Colour c)
{
    return c.brighter(0.08f);
}

void setTextIfChanged(juce::Button& b, const juce::String& text)
{
    if (b.getButtonText() != text)
        b.setButtonText(text);
}
} // namespace

bool SorvaneAudioProcessorEditor::isRefreshShowing() const
{
    return refreshHooks.showing ? refreshHooks.showing() : isShowing();
}

double SorvaneAudioProcessorEditor::refreshNowMilliseconds() const
{
    return refreshHooks.nowMilliseconds ? refreshHooks.nowMilliseconds()
                                        : juce::Time::getMillisecondCounterHiRes();
}

void SorvaneAudioProcessorEditor::selectVisualQualityMode(int comboId)
{
    visualQuality.selectMode(comboId);
    if (visualQuality.getTargetFrameRate() != visualQuality.getTimerRate())
    {
        startTimerHz(visualQuality.getTargetFrameRate());
        visualQuality.timerRestarted(visualQuality.getTargetFrameRate());
    }
    repaint(); // the monitor caption names the tier
}

void SorvaneAudioProcessorEditor::adaptFrameRate()
{
    if (visualQuality.tick(refreshNowMilliseconds()))
    {
        startTimerHz(visualQuality.getTargetFrameRate());
        visualQuality.timerRestarted(visualQuality.getTargetFrameRate());
    }
}

void SorvaneAudioProcessorEditor::timerCallback()
{
    // 1. Auto level only means something while match-source loudness is off.
    macros.autoLevel.setEnabled(!level.matchSource.getToggleState());

    // 2-3. Setup advisor job and its automatic launch.
    refreshAdvisor();
    // 4. The social choices and the creator's name follow the processor (a project or host restore).
    refreshSocialControls();
    // 5, 15, 16. The export job's result and the export activity.
    refreshExportJob();
    if (isStandalone())
        refreshAutosave();

    // 6-7. Preset search debounce and the periodic user-preset rescan.
    refreshPresetTick();

    // 8. Everything else only matters while the window can be seen.
    if (!isRefreshShowing())
        return;
    adaptFrameRate();

    // 9. Mutation locks.
    writeKnobLocks();

    // 10. Preset experiment.
    refreshPresetExperimentControls();
    // 11. Keep That.
    refreshKeepThat();

    // 12. Tressel reveal.
    countDownTresselReveal();

    // 13. Source loading.
    if (isStandalone())
        refreshSourceLoading();

    // 14. Recent projects.
    refreshRecentProjects();

    // 17. Parameter changes; a host or project may also have replaced the workflows underneath.
    synchroniseControls();
    refreshVariationButtons();
    refreshTresselControls();

    // 18-20. Transport and status line.
    juce::String status;
    juce::Colour statusColour;
    if (isStandalone())
        refreshStandaloneTransport(status, statusColour);
    else
        refreshHostTransport(status, statusColour);

    // 21-22. Capture and WAV export.
    if (isStandalone())
        refreshCaptureControls(status);

    // 23. Transient message.
    const bool transient = statusCountdown > 0 || statusErrorHeld;
    if (statusCountdown > 0)
        --statusCountdown;
    showStatusLine(sorvane::withTransientMessage(status, statusMessage, transient), statusColour);

    // 24. Undo and redo.
    refreshUndoRedo();

    // 25-26. Activity follower and smoothed parameters.
    followActivity();
    updateScopeVisualState();

    // 27. Only the animated visual moves every tick, and only when it would look different.
    if (const auto signature = sorvane::scopeVisualSignature(scopeVisual); signature != paintedVisualSignature)
    {
        paintedVisualSignature = signature;
        repaint(getAnimatedVisualBounds().expanded(visualPaintMargin).getIntersection(getLocalBounds()));
    }
}

void SorvaneAudioProcessorEditor::refreshSourceLoading()
{
    using sorvane::PreparationState;
    const auto snapshot = processor.getSampleLoadSnapshot();
    if (snapshot.generation == lastLoadGeneration && snapshot.state == lastLoadState)
        return;
    lastLoadGeneration = snapshot.generation;
    lastLoadState = snapshot.state;

    switch ((PreparationState)snapshot.state)
    {
    case PreparationState::Decoding:
        setStatusMessage(juce::String(snapshot.projectLoad ? "PROJECT SOURCE DECODE " : "SOURCE DECODE ") +
                             juce::String(juce::roundToInt(snapshot.progress * 100.0f)) + "%",
                         20);
        break;
    case PreparationState::Publishing:
        setStatusMessage("PROJECT READY / PUBLISHING SOURCE AND CREATOR STATE", 20);
        break;
    case PreparationState::Published:
    {
        refreshMomentSuggestions();
        if (snapshot.projectLoad)
        {
            resyncAfterProject();
            setStatusMessage("PROJECT RESTORED / SOURCE AND CREATOR STATE PUBLISHED TOGETHER");
            break;
        }
        const auto sample = processor.getSourceLibrary().getCurrentSample();
        // Only a source that took another's place replaced anything.
        const auto replaced = processor.getSourceLibrary().lastPublicationReplacedASource();
        setStatusMessage(juce::String(replaced
                                          ? "SOURCE READY / PREVIOUS SOURCE REPLACED AT A SAFE BOUNDARY / "
                                          : "SOURCE READY / ") +
                         (sample != nullptr ? sample->traits.summary : juce::String()));
        break;
    }
    case PreparationState::Cancelled:
        setStatusMessage(snapshot.message);
        break;
    case PreparationState::Failed:
        setStatusError(snapshot.message);
        if (snapshot.sourceNeedsLocating && juce::File(snapshot.projectPath).existsAsFile())
            chooseRecoveredProjectSource(juce::File(snapshot.projectPath));
        break;
    case PreparationState::Idle:
    case PreparationState::Checking:
        break;
    }
}

void SorvaneAudioProcessorEditor::refreshHostTransport(juce::String& status, juce::Colour& colour)
{
    const bool playing = processor.hostPlaying.load();
    for (auto* b : {&source.play, &source.pause, &source.stop})
        b->setEnabled(false);
    setTextIfChanged(source.play, playing ? "HOST PLAYING" : "HOST STOPPED");
    setTextIfChanged(source.pause, "PAUSE");
    setTextIfChanged(source.stop, "STOP");
    if (!shownHostPlaying.has_value() || *shownHostPlaying != playing)
    {
        kavix::ui::setColour(source.play, juce::TextButton::buttonColourId,
                             playing ? pal::cyan : pal::violet);
        shownHostPlaying = playing;
    }
    status = "HOST TRANSPORT CONTROLS PLAYBACK";
    colour = playing ? pal::cyan : pal::cream.withAlpha((juce::uint8)0x94);
}

void SorvaneAudioProcessorEditor::setFillIfChanged(juce::Button& button, juce::Colour fill,
                                                   juce::Colour& shown)
{
    if (fill != shown)
    {
        kavix::ui::setColour(button, juce::TextButton::buttonColourId, fill);
        shown = fill;
    }
}

void SorvaneAudioProcessorEditor::refreshStandaloneTransport(juce::String& status, juce::Colour& colour)
{
    auto& transport = processor.getSourceTransport();
    const auto& state = processor.getTransportState();
    const auto range = transport.getSnapshot();
    // Also lets the library free sources the audio thread no longer names.
    const auto name = processor.getLoadedSampleName();
    const bool loaded = processor.getSourceLibrary().getPublished() != nullptr;
    const bool playing = state.playing.load();
    const bool paused = loaded && transport.getStatus() == sorvane::TransportStatus::paused;
    const bool captureRunning = processor.getProcessedCapture().isActive();
    const bool audioRunning =
        audioCallbacks.update(processor.getAudioCallbackCount(), refreshNowMilliseconds());
    if (source.audioIndicator.isVisible() == audioRunning)
        source.audioIndicator.setVisible(!audioRunning);
    // Without a device the transport may still want to play; it resumes once a device runs again.
    const bool audible = playing && audioRunning;

    // 19. Range controls follow the snapshot unless the user holds that slider.
    const double values[3] = {range.rangeStart * 100.0, range.rangeEnd * 100.0,
                              range.playheadFraction * 100.0};
    for (size_t i = 0; i < 3; ++i)
        if (!rangeSliderDragged[i] && source.rangeSliders[i].getValue() != values[i])
            source.rangeSliders[i].setValue(values[i], juce::dontSendNotification);
    source.loop.setToggleState(range.looping, juce::dontSendNotification);
    source.zeroSnap.setToggleState(range.zeroSnap, juce::dontSendNotification);
    const bool rangeEnabled = loaded && !captureRunning;
    for (juce::Component* c :
         {static_cast<juce::Component*>(&source.loop), static_cast<juce::Component*>(&source.zeroSnap),
          static_cast<juce::Component*>(&source.rangeSliders[0]),
          static_cast<juce::Component*>(&source.rangeSliders[1]),
          static_cast<juce::Component*>(&source.rangeSliders[2])})
        c->setEnabled(rangeEnabled);

    setTextIfChanged(mutation.saveProject, processor.projectDirty.load() ? "SAVE PROJECT *" : "SAVE PROJECT");

    source.play.setEnabled(loaded);
    source.pause.setEnabled(playing);
    source.stop.setEnabled(playing || paused);
    const auto loadState = (sorvane::PreparationState)processor.getSampleLoadSnapshot().state;
    const bool loading = loadState == sorvane::PreparationState::Checking ||
                         loadState == sorvane::PreparationState::Decoding ||
                         loadState == sorvane::PreparationState::Publishing;
    setTextIfChanged(source.clearAudio, loading ? "CANCEL LOAD" : "CLEAR AUDIO");
    setTextIfChanged(source.play, audible ? "PLAYING" : "PLAY");
    setFillIfChanged(source.play, audible ? lightenedWhileActive(pal::cyan) : pal::cyan, shownPlayFill);
    setFillIfChanged(source.pause, playing ? pal::violet : pal::metalDark, shownPauseFill);
    setFillIfChanged(source.stop, paused ? lightenedWhileActive(pal::red) : pal::red, shownStopFill);

    // 20. Status line.
    sorvane::TransportStatusInput in;
    in.sourceLoaded = loaded;
    in.playing = playing;
    in.pausedAwayFromStart = paused;
    in.sourceName = name;
    in.rangeStart = range.rangeStart;
    in.rangeEnd = range.rangeEnd;
    in.looping = range.looping;
    in.audioRunning = audioRunning;
    const auto line = sorvane::composeTransportStatus(in);
    status = line.text;
    colour = line.colour;
}

void SorvaneAudioProcessorEditor::showStatusLine(const juce::String& status, juce::Colour colour)
{
    if (source.status.getText() != status)
        source.status.setText(status, juce::dontSendNotification);
    // Setting a colour repaints, so an idle window only does it on change.
    if (colour != shownStatusColour)
    {
        kavix::ui::setColour(source.status, juce::Label::textColourId, colour);
        shownStatusColour = colour;
    }
}

void SorvaneAudioProcessorEditor::followActivity()
{
    const auto meters = processor.getPublishedEngineMeters();
    const float a = juce::jlimit(0.0f, 1.0f, meters.outputPeak);
    const float b = juce::jlimit(
        0.0f, 1.0f, juce::jmax(meters.fractureFlash, meters.delayMotion, meters.dimensionMotion));
    sorvane::followScopeActivity(scopeVisual, a, b, processor.currentTempoBpm.load());
}

void SorvaneAudioProcessorEditor::updateScopeVisualState()
{
    std::array<float, sorvane::ScopeVisualState::numParameters> values{};
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = scopeParameters[i] != nullptr ? scopeParameters[i]->getValue() : 0.0f;
    sorvane::smoothScopeParameters(scopeVisual, values);
    const auto m = processor.getPublishedEngineMeters();
    sorvane::smoothScopeMeters(scopeVisual, {m.spectralRateLevel, m.resonatorPitchLevel, m.fractureFlash,
                                             m.reverseActivity, m.delayMotion, m.dimensionMotion,
                                             m.outputPeak, m.sparkPeak, m.chaosPeak});
}
