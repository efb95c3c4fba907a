// The editor's source flows: choosing, dropping, preflighting and clearing audio, the transport
// buttons, the range controls, the crossfade selector and the moment suggestions.
#include "editor/SorvaneAudioProcessorEditor.h"
#include "transport/RegularFile.h"
#include "transport/SourceLoadJob.h"

namespace
{
constexpr const char* audioDirectoryKey = "audioDirectory";
constexpr int fullSampleMomentId = 1000;
} // namespace

bool SorvaneAudioProcessorEditor::isSupportedAudioFile(const juce::File& file)
{
    juce::String notOpenable;
    if (!sorvane::checkRegularFile(file, notOpenable))
        return false;
    static const juce::StringArray extensions{".wav", ".aif", ".aiff", ".flac", ".ogg",
                                              ".mp3", ".m4a", ".aac",  ".opus"};
    return extensions.contains(file.getFileExtension().toLowerCase());
}

void SorvaneAudioProcessorEditor::showAlert(juce::MessageBoxIconType icon, const juce::String& title,
                                            const juce::String& text)
{
    if (alertPresenter)
        alertPresenter(icon, title, text);
    else
        juce::AlertWindow::showMessageBoxAsync(
            icon, title, text, {}, nullptr,
            juce::ModalCallbackFunction::create(
                [safe = juce::Component::SafePointer<SorvaneAudioProcessorEditor>(this)](int)
                {
                    if (safe != nullptr)
                        safe->restoreKeyboardFocus();
                }));
}

void SorvaneAudioProcessorEditor::wireSourceActions()
{
    auto& s = source;
    s.loadAudio.onClick = [this] { chooseSample(); };
    s.clearAudio.onClick = [this] { clearOrCancelAudio(); };
    s.play.onClick = [this] { startSamplePlayback(); };
    s.pause.onClick = [this] { pauseSamplePlayback(); };
    s.stop.onClick = [this] { stopSamplePlayback(); };
    s.loop.onClick = [this] { applyRangeFromControls(); };
    s.zeroSnap.onClick = [this] { applyRangeFromControls(); };
    for (size_t i = 0; i < 2; ++i)
        s.rangeSliders[i].onValueChange = [this] { applyRangeFromControls(); };
    s.rangeSliders[2].onValueChange = [this]
    {
        if (isStandalone())
            processor.getSourceTransport().seek(source.rangeSliders[2].getValue() / 100.0);
    };
    for (size_t i = 0; i < 3; ++i)
    {
        s.rangeSliders[i].onDragStart = [this, i] { rangeSliderDragged[i] = true; };
        s.rangeSliders[i].onDragEnd = [this, i] { rangeSliderDragged[i] = false; };
    }
    s.crossfade.onChange = [this]
    { processor.getSourceTransport().setCrossfadeSelection(source.crossfade.getSelectedId()); };
    tressel.moments.onChange = [this] { chooseMoment(tressel.moments.getSelectedId()); };
}

void SorvaneAudioProcessorEditor::chooseSample()
{
    // A new chooser replaces one still open.
    const auto settings = getChooserSettings(sorvane::ChooserPurpose::loadAudio);
    sampleChooser = sorvane::makeFileChooser(settings);
    juce::Component::SafePointer<SorvaneAudioProcessorEditor> safeThis(this);
    sampleChooser->launchAsync(settings.flags,
                               [safeThis](const juce::FileChooser& chooser)
                               {
                                   if (safeThis == nullptr)
                                       return;
                                   safeThis->restoreKeyboardFocus();
                                   const auto file = chooser.getResult();
                                   if (file == juce::File())
                                       return;
                                   safeThis->rememberAudioFolder(file);
                                   safeThis->loadSampleWithPreflight(file);
                               });
}

void SorvaneAudioProcessorEditor::rememberAudioFolder(const juce::File& file)
{
    juce::String error;
    if (!editorSettings.remember(audioDirectoryKey, file, error))
        reportSettingsNotSaved(error);
}

bool SorvaneAudioProcessorEditor::isInterestedInFileDrag(const juce::StringArray& files)
{
    return files.size() == 1 && isSupportedAudioFile(juce::File(files[0]));
}

void SorvaneAudioProcessorEditor::filesDropped(const juce::StringArray& files, int, int)
{
    if (!isInterestedInFileDrag(files))
        return;
    const juce::File file(files[0]);
    rememberAudioFolder(file);
    loadSampleWithPreflight(file);
    repaint();
}

void SorvaneAudioProcessorEditor::loadSampleWithPreflight(const juce::File& file)
{
    juce::String error;
    const auto estimate = processor.preflightSample(file, error);
    if (estimate.policy == sorvane::SampleLoadPolicy::REJECT_FOR_BOUNDED_MEMORY)
    {
        showAlert(juce::MessageBoxIconType::WarningIcon, "Could not load sample",
                  error.isNotEmpty() ? error : estimate.message);
        return;
    }
    // The box informs; the load goes ahead at once.
    if (estimate.policy == sorvane::SampleLoadPolicy::WARN_BEFORE_DECODE)
        showAlert(juce::MessageBoxIconType::InfoIcon, "Large source memory preflight", estimate.message);

    if (!processor.requestSampleLoad(file, error, false))
    {
        showAlert(juce::MessageBoxIconType::WarningIcon, "Could not load sample", error);
        return;
    }
    setStatusMessage("SOURCE PREPARATION STARTED / " + estimate.message.toUpperCase());
}

void SorvaneAudioProcessorEditor::clearOrCancelAudio()
{
    const auto state = processor.getSampleLoadSnapshot().state;
    if (state >= (int)sorvane::PreparationState::Checking &&
        state <= (int)sorvane::PreparationState::Publishing)
    {
        processor.cancelSampleLoad();
        setStatusMessage("SOURCE LOAD CANCELLED / CURRENT AUDIO PRESERVED");
    }
    else
    {
        processor.clearLoadedSample();
        refreshMomentSuggestions(); // the cleared source's moments must not stay selectable
        setStatusMessage("AUDIO CLEARED / DROP OR LOAD A NEW SAMPLE");
    }
    repaint();
}

void SorvaneAudioProcessorEditor::startSamplePlayback()
{
    processor.getSourceTransport().startPlayback();
}

void SorvaneAudioProcessorEditor::pauseSamplePlayback()
{
    processor.getSourceTransport().pause();
}

void SorvaneAudioProcessorEditor::stopSamplePlayback()
{
    processor.getSourceTransport().stop();
}

void SorvaneAudioProcessorEditor::seekByFraction(double delta)
{
    // The transport clamps into the range and ignores a seek without a published source.
    auto& transport = processor.getSourceTransport();
    transport.seek(transport.getPlayheadFraction() + delta);
}

void SorvaneAudioProcessorEditor::applyRangeFromControls()
{
    juce::String error;
    if (processor.getSourceTransport().setSourceRange(
            source.rangeSliders[0].getValue() / 100.0, source.rangeSliders[1].getValue() / 100.0,
            source.loop.getToggleState(), source.zeroSnap.getToggleState(), error))
        refreshMomentSuggestions();
    else
        setStatusError(error);
}

void SorvaneAudioProcessorEditor::chooseMoment(int itemId)
{
    if (itemId == 0) // the list was cleared or rebuilt
        return;
    auto& transport = processor.getSourceTransport();
    const auto range = transport.getSnapshot();
    juce::String error;
    if (itemId == fullSampleMomentId)
    {
        setStatusMessage(transport.setSourceRange(0.0, 1.0, range.looping, range.zeroSnap, error)
                             ? juce::String("FULL SAMPLE SELECTED")
                             : error);
    }
    else
    {
        const auto sample = processor.getSourceLibrary().getPublished();
        const auto suggestions = transport.getBestMomentSuggestions();
        const auto index = (size_t)(itemId - 1);
        const double duration = sample != nullptr && sample->sampleRate > 0.0
                                    ? (double)sample->getNumFrames() / sample->sampleRate
                                    : 0.0;
        if (suggestions.empty() || !(duration > 0.0))
            setStatusMessage("No ranked moment is available for this source.");
        else if (itemId < 1 || index >= suggestions.size())
            setStatusMessage("No ranked moment remains inside the selected source range.");
        else
        {
            const auto& m = suggestions[index];
            const double end = m.startSeconds + m.lengthSeconds;
            if (transport.setSourceRange(m.startSeconds / duration, juce::jmin(1.0, end / duration),
                                         range.looping, range.zeroSnap, error))
                setStatusMessage("SUGGESTED REGION / " + juce::String(m.startSeconds, 1) + "S / " +
                                 juce::String(end, 1) + "S / SCORE " +
                                 juce::String(juce::roundToInt(m.score * 100.0f)) +
                                 " / METRICS ONLY, NOT AN ARTISTIC QUALITY CLAIM");
            else
                setStatusMessage(error);
        }
    }
    refreshMomentSuggestions();
    refreshTresselControls();
}

void SorvaneAudioProcessorEditor::refreshMomentSuggestions()
{
    auto& combo = tressel.moments;
    const int previousId = combo.getSelectedId();
    combo.clear(juce::dontSendNotification);
    if (processor.getSourceLibrary().getPublished() == nullptr)
    {
        combo.setTextWhenNothingSelected("NO SAFE MOMENT / LOAD 5S+ AUDIO");
        return;
    }

    const auto suggestions = processor.getSourceTransport().getBestMomentSuggestions();
    combo.addItem("FULL SAMPLE / ALL MOMENTS", fullSampleMomentId);
    int id = 1;
    for (const auto& m : suggestions)
    {
        combo.addItem("MOMENT " + juce::String(id) + " / " + juce::String(m.startSeconds, 1) + "S / " +
                          juce::String(m.startSeconds + m.lengthSeconds, 1) + "S / SCORE " +
                          juce::String(juce::roundToInt(m.score * 100.0f)),
                      id);
        ++id;
    }
    combo.setTextWhenNothingSelected(suggestions.empty() ? "NO SAFE MOMENT / LOAD 5S+ AUDIO"
                                                         : "SELECT SUGGESTED MOMENT");
    if (previousId != 0 && combo.indexOfItemId(previousId) >= 0)
        combo.setSelectedId(previousId, juce::dontSendNotification);
}
