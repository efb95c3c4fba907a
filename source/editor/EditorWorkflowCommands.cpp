// The editor's side of the sound workflows: mutation and its variations, undo and redo, Tressel
// generation and auditioning, and DNA copy and paste. The processor does the work; this reads the
// controls, calls it, brings the surface back in line and says what happened.
#include "editor/KnobLocks.h"
#include "editor/SorvaneAudioProcessorEditor.h"
#include "editor/WorkflowPanel.h"
#include "workflow/TresselGeneration.h"
#include "workflow/TresselPersonality.h"

namespace
{
constexpr int tresselRevealLength = 30; // 500 ms at the nominal 60 Hz

const juce::Identifier variantNameId{"tresselVariantName"};

juce::String letterFor(int variant)
{
    return juce::String::charToString((juce::juce_wchar)('A' + variant));
}

// Stored trees are replaced, never edited, so identity tells whether the session moved on.
bool sameSession(const sorvane::TresselSessionSnapshot& a, const sorvane::TresselSessionSnapshot& b)
{
    if (a.personality != b.personality || a.chaosPercent != b.chaosPercent || a.seed != b.seed ||
        a.selectedVariant != b.selectedVariant || a.keptVariant != b.keptVariant ||
        a.reducedMotion != b.reducedMotion || a.dnaId != b.dnaId || a.parentDnaId != b.parentDnaId ||
        a.baseline != b.baseline || a.history.size() != b.history.size())
        return false;
    return a.variants == b.variants;
}
} // namespace

void SorvaneAudioProcessorEditor::wireWorkflowCommands()
{
    auto& m = mutation;
    m.mutate.onClick = [this] { mutateCurrentSound(); };
    m.generate.onClick = [this] { generateVariations(); };
    m.restoreBaseline.onClick = [this] { restoreVariationBaseline(); };
    for (int i = 0; i < 4; ++i)
        m.variations[(size_t)i].onClick = [this, i] { applyVariation(i); };
    m.undo.onClick = [this] { stepMutationHistory(false); };
    m.redo.onClick = [this] { stepMutationHistory(true); };

    auto& t = tressel;
    t.generate.onClick = [this] { runTressel(false, false, false); };
    t.again.onClick = [this] { runTressel(true, false, false); };
    t.daily.onClick = [this] { runTressel(false, true, false); };
    t.shape.onChange = [this]
    {
        updateIntensityTexts();
        if (tresselModeActive)
            runTressel(false, false, true);
    };
    t.before.onClick = [this] { auditionTresselBefore(); };
    for (int i = 0; i < 4; ++i)
        t.variants[(size_t)i].onClick = [this, i] { auditionTresselVariant(i); };
    t.keep.onClick = [this] { keepTresselVariant(); };
    t.copyDna.onClick = [this] { copyTresselDna(); };
    t.pasteDna.onClick = [this] { pasteTresselDna(); };
    header.workflow.onClick = [this] { showWorkflowTools(); };

    refreshUndoRedo();
}

//======================================================================================================
std::uint32_t SorvaneAudioProcessorEditor::seedFromField() const
{
    return (std::uint32_t)(std::uint64_t)mutation.seed.getText().getLargeIntValue();
}

std::uint32_t SorvaneAudioProcessorEditor::advanceMutationSeed()
{
    // Wraps like the processor's own 32-bit seeds, so the field never shows a seed nobody can use.
    const auto next = (std::uint32_t)((std::uint64_t)mutation.seed.getText().getLargeIntValue() + 1u);
    mutation.seed.setText(juce::String((juce::uint64)next), false);
    return next;
}

juce::StringArray SorvaneAudioProcessorEditor::getMutationLocks() const
{
    return sorvane::lockedParameterIds(knobs);
}

void SorvaneAudioProcessorEditor::resyncAfterWorkflow()
{
    synchroniseControls();
    sorvane::loadKnobLocks(processor, knobs);
    refreshVariationButtons();
    refreshTresselControls();
}

void SorvaneAudioProcessorEditor::refreshUndoRedo()
{
    const auto& history = processor.getMutationHistory();
    mutation.undo.setEnabled(history.size() > 0 && history.getIndex() > 0);
    mutation.redo.setEnabled(history.getIndex() + 1 < history.size());
}

void SorvaneAudioProcessorEditor::countDownTresselReveal()
{
    if (tresselRevealTicks > 0 && --tresselRevealTicks == 0)
        setStatusMessage("TRESSEL REVEAL COMPLETE / AUDIO WAS AVAILABLE IMMEDIATELY");
}

//======================================================================================================
void SorvaneAudioProcessorEditor::mutateCurrentSound()
{
    const auto seed = advanceMutationSeed();
    processor.mutateCurrentProgram(seed, (float)mutation.strength.getValue() * 0.01f, getMutationLocks());
    variantDisplay = -1;
    resyncAfterWorkflow();
    setStatusMessage("MUTATED / CHARACTER STAGES PUSHED / UNDO TO RETURN");
    repaint();
}

void SorvaneAudioProcessorEditor::generateVariations()
{
    // The seed is used as it stands: B1 to B4 are that seed's variations, not the next one's.
    processor.generateMutationVariants(seedFromField(), (float)mutation.strength.getValue() * 0.01f,
                                       getMutationLocks());
    variantDisplay = -1;
    setStatusMessage("4 DISTINCT VARIANTS READY / A IS THE BASELINE");
    refreshVariationButtons();
    refreshTresselControls(); // a variation set ends any Tressel session
}

void SorvaneAudioProcessorEditor::restoreVariationBaseline()
{
    if (!processor.restoreMutationBaseline())
        return;
    variantDisplay = -1;
    setStatusMessage("A ACTIVE / ORIGINAL BASELINE RESTORED");
    resyncAfterWorkflow();
}

void SorvaneAudioProcessorEditor::applyVariation(int index)
{
    if (!processor.selectMutationVariation(index))
        return;
    variantDisplay = index;
    setStatusMessage("B" + juce::String(index + 1) + " ACTIVE / UNDO TO RETURN");
    resyncAfterWorkflow();
}

void SorvaneAudioProcessorEditor::stepMutationHistory(bool forward)
{
    if (!(forward ? processor.redoMutation() : processor.undoMutation()))
        return;
    resyncAfterWorkflow();
    refreshUndoRedo();
    setStatusMessage(forward ? "REDO APPLIED" : "UNDO APPLIED");
}

//======================================================================================================
void SorvaneAudioProcessorEditor::runTressel(bool advanceSeed, bool daily, bool fromShapeChange)
{
    std::uint32_t seed = 0;
    if (daily)
    {
        seed = sorvane::dailyTresselSeed(juce::Time::getCurrentTime());
        mutation.seed.setText(juce::String((juce::uint64)seed), false);
    }
    else
    {
        seed = advanceSeed ? advanceMutationSeed() : seedFromField();
    }

    const bool instant = tressel.instant.getToggleState();
    const auto result = processor.generateTressel(seed, juce::jmax(0, tressel.shape.getSelectedItemIndex()),
                                                  (float)tressel.intensity.getValue(), getMutationLocks(),
                                                  fromShapeChange, instant);

    variantDisplay = processor.getTresselSession().selectedVariant;
    // Audio of A is already playing; only the display of the four choices takes its time.
    tresselRevealTicks = instant ? 0 : tresselRevealLength;
    setStatusMessage(sorvane::describeTresselGeneration(result, daily));
    resyncAfterWorkflow();
}

void SorvaneAudioProcessorEditor::auditionTresselBefore()
{
    if (!processor.getTresselSession().isValid() || !processor.restoreTresselBaseline())
        return;
    variantDisplay = -1;
    setStatusMessage("BEFORE ACTIVE / EXACT TRESSEL BASELINE RESTORED");
    refreshTresselControls();
}

void SorvaneAudioProcessorEditor::auditionTresselVariant(int index)
{
    if (index < 0 || index > 3 || !processor.selectTresselVariant(index))
        return;
    variantDisplay = index;
    setStatusMessage("VARIANT " + tressel.variants[(size_t)index].getButtonText() +
                     " ACTIVE / KEEP OR RETURN TO BEFORE");
    refreshTresselControls();
}

void SorvaneAudioProcessorEditor::keepTresselVariant()
{
    if (processor.keepTresselVariant())
        setStatusMessage("VARIANT KEPT / EXACT DNA READY");
    else
        setStatusMessage("SELECT A TRESSEL VARIANT BEFORE KEEPING IT");
    refreshTresselControls();
}

void SorvaneAudioProcessorEditor::copyTresselDna()
{
    juce::String error;
    const auto text = processor.copyTresselDna(error);
    if (text.isEmpty())
    {
        setStatusError(error);
        return;
    }
    writeClipboard(text);
    setStatusMessage("EXACT VERSIONED SORVANE DNA COPIED");
}

void SorvaneAudioProcessorEditor::pasteTresselDna()
{
    pasteDnaText(readClipboard());
}

void SorvaneAudioProcessorEditor::pasteDnaText(const juce::String& text)
{
    juce::String error;
    if (!processor.importTresselDna(text, error))
    {
        setStatusError(error);
        return;
    }
    variantDisplay = processor.getTresselSession().selectedVariant;
    resyncAfterWorkflow();
    setStatusMessage("DNA IMPORTED / PARENT LINEAGE RETAINED OFFLINE");
}

void SorvaneAudioProcessorEditor::writeClipboard(const juce::String& text)
{
    if (clipboardHooks.write)
        clipboardHooks.write(text);
    else
        juce::SystemClipboard::copyTextToClipboard(text);
}

juce::String SorvaneAudioProcessorEditor::readClipboard()
{
    return clipboardHooks.read ? clipboardHooks.read() : juce::SystemClipboard::getTextFromClipboard();
}

//======================================================================================================
void SorvaneAudioProcessorEditor::refreshVariationButtons()
{
    const int n = (int)processor.getTresselVariants().size();
    mutation.restoreBaseline.setEnabled(n >= 1);
    mutation.restoreBaseline.setToggleState(n >= 1 && variantDisplay == -1, juce::dontSendNotification);
    for (int k = 0; k < 4; ++k)
    {
        auto& b = mutation.variations[(size_t)k];
        b.setEnabled(n >= k + 1);
        b.setToggleState(variantDisplay == k, juce::dontSendNotification);
    }
}

void SorvaneAudioProcessorEditor::refreshTresselControls()
{
    const auto session = processor.getTresselSession();
    const bool valid = session.isValid();

    // Adopt a new session's settings once, so the user's edits between sessions are not overwritten.
    if (!valid)
    {
        shownTresselSession.reset();
    }
    else if (!shownTresselSession.has_value() || !sameSession(*shownTresselSession, session))
    {
        shownTresselSession = session;
        tressel.shape.setSelectedItemIndex(juce::jlimit(0, 12, session.personality),
                                           juce::dontSendNotification);
        tressel.intensity.setValue(session.chaosPercent, juce::dontSendNotification);
        mutation.seed.setText(juce::String((juce::uint64)session.seed), false);
        tressel.instant.setToggleState(session.reducedMotion, juce::dontSendNotification);
        updateIntensityTexts();
    }

    tressel.before.setEnabled(valid);
    tressel.before.setToggleState(valid && variantDisplay == -1, juce::dontSendNotification);
    for (int i = 0; i < 4; ++i)
    {
        auto& v = tressel.variants[(size_t)i];
        const auto name =
            valid ? session.variants[(size_t)i].getProperty(variantNameId).toString() : juce::String();
        const auto text = name.isEmpty() ? letterFor(i) : letterFor(i) + " / " + name;
        if (v.getButtonText() != text)
            v.setButtonText(text);
        v.setTitle("Audition TRESSEL " + text);
        v.setTooltip("Audition exact TRESSEL variant " + text);
        v.setEnabled(valid);
        v.setToggleState(valid && i == session.selectedVariant, juce::dontSendNotification);
    }
    tressel.keep.setEnabled(valid && session.selectedVariant < 4);
    tressel.copyDna.setEnabled(valid);
    const bool freezing = processor.getBeforeAfterRing().isRequestPending();
    tressel.beforeAfter.setEnabled(!freezing);
    tressel.keepThat.setEnabled(!freezing);
}

//======================================================================================================
void SorvaneAudioProcessorEditor::showWorkflowTools()
{
    // A second press puts the open panel away; the next one builds it afresh from the current state.
    const bool wasOpen = workflowCallOut != nullptr && workflowCallOut->isVisible();
    workflowCallOut.reset();
    workflowPanel.reset();
    if (wasOpen)
        return;

    juce::Component::SafePointer<SorvaneAudioProcessorEditor> safeThis(this);
    workflowPanel = sorvane::editor::createWorkflowPanel(
        processor, discoveryFilter,
        [safeThis](sorvane::DiscoveryFilter filter)
        {
            if (safeThis == nullptr)
                return;
            safeThis->discoveryFilter = filter;
            safeThis->header.workflow.setButtonText(filter.isActive() ? "WORKFLOW *" : "WORKFLOW");
            safeThis->refreshPresetBrowserForFilter();
        },
        showNoteNames,
        [safeThis](bool noteNames)
        {
            if (safeThis == nullptr)
                return;
            safeThis->showNoteNames = noteNames;
            for (auto& knob : safeThis->knobs)
                knob->setShowNoteName(noteNames);
        });
    // An ordinary child of the editor, pointing at the button, so it works the same inside a host.
    workflowCallOut = std::make_unique<juce::CallOutBox>(*workflowPanel, header.workflow.getBounds(), this);
    workflowCallOut->setArrowSize(16.0f);
    workflowCallOut->updatePosition(header.workflow.getBounds(), getLocalBounds());
    workflowCallOut->setVisible(true);
}

bool SorvaneAudioProcessorEditor::closeWorkflowTools()
{
    if (workflowCallOut == nullptr)
        return false;
    workflowCallOut.reset();
    workflowPanel.reset();
    restoreKeyboardFocus();
    return true;
}

void SorvaneAudioProcessorEditor::refreshPresetBrowserForFilter()
{
    refreshPresetBrowser(false);
}
