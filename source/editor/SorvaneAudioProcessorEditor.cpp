#include "editor/SorvaneAudioProcessorEditor.h"
#include "editor/EditorPainting.h"
#include "editor/Palette.h"
#include "editor/InterfaceTheme.h"
#include "editor/KnobLocks.h"

namespace
{
namespace pal = sorvane::palette;

void forEachComboBox(juce::Component& root, const std::function<void(juce::ComboBox&)>& visit)
{
    if (auto* combo = dynamic_cast<juce::ComboBox*>(&root))
        visit(*combo);
    for (auto* child : root.getChildren())
        forEachComboBox(*child, visit);
}
} // namespace

SorvaneAudioProcessorEditor::SorvaneAudioProcessorEditor(SorvaneAudioProcessor& p)
    : juce::AudioProcessorEditor(p), processor(p)
{
    // 1-2. Look and feel, identity, size limits
    setLookAndFeel(&lookAndFeel);
    exportActivity.setVisible(false);
    setTitle("Sorvane recombinant signal processor");
    setDescription(
        "Resizable audio effect editor with preset, macro, detailed DSP, project and export controls");
    setWantsKeyboardFocus(true);
    addMouseListener(this, true); // a click on any control dismisses a held error
    setResizable(true, true);
    setResizeLimits(1100, 700, 1680, 1020);

    // 3. Controls, in the order the window presents them
    buildHeader();
    buildTresselSurface();
    buildSocialControls();
    buildPresetRow();
    buildMutationRow();
    buildSourceControls();
    buildMacroRow();
    buildLevelRow();
    buildModeCombos();
    wireSourceActions();
    wireWorkflowCommands();
    wireCaptureCommands();
    wireSocialCommands();
    wireAdvisorCommands();
    wirePresetCommands();
    wireProjectCommands();
    macros.visualQuality.onChange = [this] { selectVisualQualityMode(macros.visualQuality.getSelectedId()); };

    static const std::pair<const char*, const char*> knobTable[4][10] = {
        {{"input", "INPUT LEVEL"},
         {"drive", "DRIVE / SAT"},
         {"crush", "BIT DAMAGE"},
         {"reduce", "SAMPLE DIV"},
         {"ring", "RING MIX"},
         {"ringFreq", "CARRIER HZ"}},
        {{"resonance", "BODY MIX"}, {"resFreq", "BODY PITCH"}, {"resDecay", "BODY DECAY"}},
        {{"glitch", "FRACTURE"},
         {"division", "TIME GRID"},
         {"reverse", "REVERSE %"},
         {"chaos", "INSTABILITY"}},
        {{"delay", "ECHO MIX"},
         {"delayTime", "ECHO TIME"},
         {"feedback", "FEEDBACK"},
         {"tone", "TONE FILTER"},
         {"spectralWave", "SPECTRAL WAVE"},
         {"spectralRate", "WAVE RATE"},
         {"dimension", "STEREO DIMENSION"},
         {"fold", "WAVE FOLD"},
         {"spark", "SPARK EXCITER"},
         {"output", "OUTPUT LEVEL"}}};
    for (int section = 0; section < 4; ++section)
        for (const auto& [id, label] : knobTable[section])
            if (id != nullptr)
                addKnob(id, label, section);

    masterFader = std::make_unique<MasterEffectFader>(processor.getParameterState(), lookAndFeel);
    addAndMakeVisible(*masterFader);

    for (auto& knob : knobs)
    {
        SorvaneLookAndFeel::setBackdrop(*knob, pal::panel);
        knob->onEntryRejected = [this](const juce::String& message) { setStatusError(message); };
    }
    SorvaneLookAndFeel::setBackdrop(tressel.scale, pal::panel);

    // 5-7. Size, mode, synchronised controls
    setSize(1180, 720);
    refreshVariationButtons();
    setTresselMode(isStandalone());
    refreshTresselControls();
    for (size_t i = 0; i < scopeParameters.size(); ++i)
        scopeParameters[i] = processor.getParameterState().getParameter(sorvane::scopeParameterIds[i]);
    updateScopeVisualState();
    for (auto& knob : knobs)
        knob->syncToProcessor();
    sorvane::loadKnobLocks(processor, knobs);
    masterFader->syncToProcessor();

    // A load that finished before this editor existed is not news; a loaded source still lists its moments.
    const auto load = processor.getSampleLoadSnapshot();
    lastLoadGeneration = load.generation;
    lastLoadState = load.state;
    if (processor.getSourceLibrary().getPublished() != nullptr)
        refreshMomentSuggestions();

    // 10. Refresh timer
    startTimerHz(visualQuality.getTimerRate());

    // 11. Theme selector, reading the stored theme without writing it back
    appearance = std::make_unique<kavix::ui::AppearanceSelector>(*this, "Sorvane");
    addAndMakeVisible(*appearance);
    appearance->applyStoredTheme();
    appearance->onStoreFailed = [this](const juce::String& error) { reportSettingsNotSaved(error); };

    // Space and the arrows reach the transport from a focused combo box too.
    forEachComboBox(*this, [this](juce::ComboBox& combo) { combo.addKeyListener(&comboTransportKeys); });

    // Without a tooltip window no tooltip ever shows; owned here so plug-in hosts get one as well.
    tooltipWindow = std::make_unique<juce::TooltipWindow>(this, 600);

    applyPlaceholderColours();
    resized();
}

SorvaneAudioProcessorEditor::~SorvaneAudioProcessorEditor()
{
    stopTimer();
    advisorJob.reset(); // cancels and joins the run
    workflowCallOut.reset();
    workflowPanel.reset();
    forEachComboBox(*this, [this](juce::ComboBox& combo) { combo.removeKeyListener(&comboTransportKeys); });
    tooltipWindow.reset();
    setLookAndFeel(nullptr);
    if (isStandalone())
        processor.endRecoverySession();
}

bool SorvaneAudioProcessorEditor::isStandalone() const noexcept
{
    return processor.wrapperType == juce::AudioProcessor::wrapperType_Standalone;
}

void SorvaneAudioProcessorEditor::show(juce::Component& component, Shown shown, bool standaloneOnly)
{
    addAndMakeVisible(component);
    registered.push_back({&component, shown, standaloneOnly});
}

//======================================================================================================
void SorvaneAudioProcessorEditor::addKnob(const juce::String& parameterId, const juce::String& label,
                                          int section)
{
    auto knob =
        std::make_unique<ParameterKnob>(processor.getParameterState(), parameterId, label, lookAndFeel);
    addAndMakeVisible(*knob);
    knobs.push_back(std::move(knob));
    knobSections.push_back(section);
}

//======================================================================================================
void SorvaneAudioProcessorEditor::updateIntensityTexts()
{
    const auto spaces = juce::String::repeatedString(" ", 25);
    const auto value = juce::String(juce::roundToInt(tressel.intensity.getValue()));
    if (tressel.shape.getSelectedItemIndex() == 12)
    {
        tressel.scale.setText("ENHANCE 0%" + spaces + "100%", juce::dontSendNotification);
        tressel.intensity.setTooltip(
            "0% recalls the exact baseline; higher amounts make small control changes around "
            "it. Listening decides whether they improve this source.");
        tressel.intensity.setTitle("Enhance amount: " + value + "%");
    }
    else
    {
        tressel.scale.setText("SANITY 0%" + spaces + "CHAOS 100%", juce::dontSendNotification);
        tressel.intensity.setTooltip(
            "0% is Sanity; 100% is Chaos. Named shapes retain their existing character.");
        tressel.intensity.setTitle("Sanity to Chaos intensity: " + value + "%");
    }
}

void SorvaneAudioProcessorEditor::applyVisibility()
{
    const bool standalone = isStandalone();
    for (const auto& r : registered)
    {
        if (r.standaloneOnly && !standalone)
        {
            r.component->setVisible(false);
            continue;
        }
        if (r.shown == Shown::studio)
            r.component->setVisible(!tresselModeActive);
        else if (r.shown == Shown::tressel)
            r.component->setVisible(tresselModeActive);
    }
}

void SorvaneAudioProcessorEditor::setTresselMode(bool tresselMode)
{
    tresselModeActive = tresselMode;
    header.mode.setSelectedId(tresselMode ? 2 : 1, juce::dontSendNotification);

    for (auto& knob : knobs)
        knob->setVisible(!tresselMode);

    if (tresselMode)
        if (auto* focused = juce::Component::getCurrentlyFocusedComponent())
            for (juce::Component* c : {static_cast<juce::Component*>(&presets.browser),
                                       static_cast<juce::Component*>(&presets.sourceFilter),
                                       static_cast<juce::Component*>(&presets.tagFilter),
                                       static_cast<juce::Component*>(&presets.favourites)})
                if (focused == c || c->isParentOf(focused))
                {
                    header.mode.grabKeyboardFocus();
                    break;
                }

    applyVisibility();
    refreshTresselControls();
    resized();
    repaint();
    setStatusMessage(tresselMode ? "TRESSEL MODE / SIMPLIFIED STUDIO SURFACE / SAME SOUND ENGINE"
                                 : "STUDIO MODE / COMPLETE SOUND DESIGN SURFACE");
}

void SorvaneAudioProcessorEditor::setStatusMessage(const juce::String& message, int ticks)
{
    statusMessage = message;
    statusCountdown = ticks;
    statusErrorHeld = false;
}

void SorvaneAudioProcessorEditor::setStatusError(const juce::String& message)
{
    setStatusMessage(message);
    statusErrorHeld = true;
}

void SorvaneAudioProcessorEditor::mouseDown(const juce::MouseEvent&)
{
    dismissStatusError();
}

void SorvaneAudioProcessorEditor::dismissStatusError()
{
    if (!statusErrorHeld)
        return;
    statusErrorHeld = false;
    statusCountdown = 0;
}

void SorvaneAudioProcessorEditor::reportSettingsNotSaved(const juce::String& reason)
{
    if (settingsFailureReported)
        return;
    settingsFailureReported = true;
    setStatusError("SETTINGS CANNOT BE SAVED / " + reason);
}

//======================================================================================================
sorvane::EditorLayout SorvaneAudioProcessorEditor::currentLayout() const
{
    sorvane::EditorLayoutInput in;
    in.width = getWidth();
    in.height = getHeight();
    in.tresselMode = tresselModeActive;
    in.standalone = isStandalone();
    for (int s = 0; s < 4; ++s)
        in.knobsPerSection[(size_t)s] = (int)std::count(knobSections.begin(), knobSections.end(), s);
    return sorvane::computeEditorLayout(in);
}

juce::Rectangle<int> SorvaneAudioProcessorEditor::getAnimatedVisualBounds() const
{
    return currentLayout().visual;
}

void SorvaneAudioProcessorEditor::resized()
{
    applyLayout(currentLayout());
    fitSeedFont();
}

void SorvaneAudioProcessorEditor::fitSeedFont()
{
    // A ten-digit seed must show whole: condense the digits before making them smaller.
    auto& seed = mutation.seed;
    const auto room = (float)(seed.getWidth() - seed.getLeftIndent() - 2 * 2 - 2);
    auto font = juce::Font(13.0f);
    const auto natural = font.getStringWidthFloat("8888888888");
    if (natural > room && room > 0.0f)
    {
        const auto scale = room / natural;
        font = scale >= 0.78f ? font.withHorizontalScale(scale)
                              : juce::Font(13.0f * scale / 0.78f).withHorizontalScale(0.78f);
    }
    seed.applyFontToAllText(font, true);
}

void SorvaneAudioProcessorEditor::applyPlaceholderColours()
{
    // Placeholders are faint by design, but still have to be readable on the themed field.
    const auto theme = kavix::ui::themeFor(*this);
    const auto ground = kavix::ui::colourFor(theme, pal::ink);
    const auto placeholder = [&](juce::TextEditor& editor, const juce::String& text, juce::uint8 alpha)
    {
        const auto colour = kavix::ui::legibleTextColour(
            theme, kavix::ui::colourFor(theme, pal::cream).withAlpha(alpha), ground, 4.5);
        editor.setTextToShowWhenEmpty(text, colour);
    };
    placeholder(presets.search, "SEARCH PRESETS", 0x73);
    placeholder(mutation.seed, "SEED", 0x66);
    social.artist.setTextToShowWhenEmpty(
        "Producer / artist (optional)",
        kavix::ui::legibleTextColour(theme, juce::Colour(0xFF808080), ground, 4.5));
}

void SorvaneAudioProcessorEditor::lookAndFeelChanged()
{
    juce::AudioProcessorEditor::lookAndFeelChanged();
    applyPlaceholderColours();
    repaint();
}

void SorvaneAudioProcessorEditor::restoreKeyboardFocus()
{
    juce::MessageManager::callAsync(
        [safe = juce::Component::SafePointer<SorvaneAudioProcessorEditor>(this)]
        {
            if (safe != nullptr && safe->isShowing() &&
                juce::Component::getCurrentlyModalComponent() == nullptr)
                safe->grabKeyboardFocus();
        });
}

void SorvaneAudioProcessorEditor::applyLayout(const sorvane::EditorLayout& l)
{
    header.mode.setBounds(l.modeCombo);
    header.setupAdvisor.setBounds(l.setupButton);
    header.workflow.setBounds(l.workflowButton);
    header.recentProjects.setBounds(l.recentProjects);
    if (appearance != nullptr)
        appearance->setBounds(l.appearance);

    presets.search.setBounds(l.search);
    presets.rename.setBounds(l.rename);
    presets.duplicate.setBounds(l.duplicate);
    presets.tags.setBounds(l.tags);
    presets.remove.setBounds(l.remove);
    presets.sourceFilter.setBounds(l.sourceFilter);
    presets.tagFilter.setBounds(l.tagFilter);
    presets.favourites.setBounds(l.favourites);
    presets.browser.setBounds(l.browser);

    for (size_t i = 0; i < 4; ++i)
    {
        macros.labels[i].setBounds(l.macroLabels[i]);
        macros.sliders[i].setBounds(l.macroSliders[i]);
    }
    macros.autoLevel.setBounds(l.autoLevel);
    macros.audioQuality.setBounds(l.audioQuality);
    macros.visualQuality.setBounds(l.visualQuality);

    std::array<size_t, 4> next{};
    for (size_t k = 0; k < knobs.size(); ++k)
    {
        const auto section = (size_t)knobSections[k];
        const auto& bounds = l.knobs[section];
        knobs[k]->setBounds(next[section] < bounds.size() ? bounds[next[section]] : juce::Rectangle<int>());
        ++next[section];
    }
    if (masterFader != nullptr)
        masterFader->setBounds(l.masterFader);

    level.matchSource.setBounds(l.matchSource);
    level.resultLabel.setBounds(l.resultLabel);
    level.resultLevel.setBounds(l.resultSlider);
    level.keepMix.setBounds(l.keepMix);
    level.keepSound.setBounds(l.keepSound);
    level.revertPresets.setBounds(l.revertPresets);
    level.recentPresets.setBounds(l.recentPresets);

    mutation.seed.setBounds(l.seed);
    mutation.label.setBounds(l.mutationLabel);
    mutation.strength.setBounds(l.strength);
    mutation.mutate.setBounds(l.mutate);
    mutation.generate.setBounds(l.generate);
    mutation.restoreBaseline.setBounds(l.restoreBaseline);
    for (size_t i = 0; i < 4; ++i)
        mutation.variations[i].setBounds(l.variations[i]);
    mutation.undo.setBounds(l.undo);
    mutation.redo.setBounds(l.redo);
    mutation.save.setBounds(l.save);
    mutation.load.setBounds(l.load);
    mutation.saveProject.setBounds(l.saveProject);
    mutation.openProject.setBounds(l.openProject);

    source.loop.setBounds(l.loop);
    source.zeroSnap.setBounds(l.zeroSnap);
    for (size_t i = 0; i < 3; ++i)
    {
        source.rangeLabels[i].setBounds(l.rangeLabels[i]);
        source.rangeSliders[i].setBounds(l.rangeSliders[i]);
    }
    source.stop.setBounds(l.stop);
    source.pause.setBounds(l.pause);
    source.play.setBounds(l.play);
    source.loadAudio.setBounds(l.loadAudio);
    source.clearAudio.setBounds(l.clearAudio);
    source.dragWav.setBounds(l.dragWav);
    source.exportWav.setBounds(l.exportWav);
    source.capture.setBounds(l.capture);
    source.captureLength.setBounds(l.captureLength);
    source.crossfade.setBounds(l.crossfade);
    source.audioIndicator.setBounds(l.audioIndicator);
    source.status.setBounds(l.status);
    exportActivity.setBounds(l.status);

    tressel.shape.setBounds(l.shape);
    tressel.scale.setBounds(l.scaleLabel);
    tressel.intensity.setBounds(l.intensity);
    tressel.generate.setBounds(l.generateTressel);
    tressel.again.setBounds(l.again);
    tressel.daily.setBounds(l.daily);
    tressel.instant.setBounds(l.instant);
    tressel.copyDna.setBounds(l.copyDna);
    tressel.pasteDna.setBounds(l.pasteDna);
    tressel.beforeAfter.setBounds(l.beforeAfter);
    tressel.keepThat.setBounds(l.keepThat);
    tressel.moments.setBounds(l.moments);
    social.aspect.setBounds(l.aspect);
    social.duration.setBounds(l.duration);
    social.background.setBounds(l.background);
    social.artist.setBounds(l.artist);
    social.effectedOnly.setBounds(l.effectedOnly);
    social.share.setBounds(l.share);
    tressel.before.setBounds(l.before);
    for (size_t i = 0; i < 4; ++i)
        tressel.variants[i].setBounds(l.variants[i]);
    tressel.keep.setBounds(l.keep);

    const auto panels = sorvane::painting::computePaintedPanels(getWidth(), getHeight(), tresselModeActive);
    sorvane::editor::applyReadingFocusOrder(*this, {panels.begin(), panels.end()});
}

void SorvaneAudioProcessorEditor::paint(juce::Graphics& g)
{
    const auto theme = kavix::ui::themeFor(*this);
    const auto scale = g.getInternalContext().getPhysicalPixelScaleFactor();
    const StaticLayerKey key{getWidth(), getHeight(), tresselModeActive, theme, scale};
    // The unmoving layers are drawn once per size, mode, theme and scale; every tick only copies the
    // part under the animated display back before drawing it.
    if (!(key == staticLayerKey) || !staticLayers.isValid())
    {
        staticLayerKey = key;
        staticLayers = juce::Image(juce::Image::RGB, juce::jmax(1, juce::roundToInt(getWidth() * scale)),
                                   juce::jmax(1, juce::roundToInt(getHeight() * scale)), false);
        juce::Graphics layers(staticLayers);
        layers.addTransform(juce::AffineTransform::scale(scale));
        sorvane::painting::paintStaticLayers(layers, theme, getWidth(), getHeight(), tresselModeActive);
        ++staticLayerRenders;
    }
    g.drawImage(staticLayers, 0, 0, getWidth(), getHeight(), 0, 0, staticLayers.getWidth(),
                staticLayers.getHeight());

    const auto visual = getAnimatedVisualBounds();
    sorvane::painting::paintActivityDisplay(g, theme, visual, scopeVisual, visualQuality.getGeometryStep());
    g.setColour(kavix::ui::colourFor(theme, pal::cream).withAlpha((juce::uint8)0xB0));
    g.setFont(juce::Font(9.5f, juce::Font::bold));
    g.drawText(sorvane::painting::monitorCaption(currentLayout().visualSize, visualQuality.getTier(),
                                                 visualQuality.getTargetFrameRate()),
               sorvane::painting::monitorCaptionBounds(visual), juce::Justification::centred, false);
}

void SorvaneAudioProcessorEditor::paintOverChildren(juce::Graphics& g)
{
    // The accent, unless it would be faint on the panels or the window's ground (Copper's is).
    const auto theme = kavix::ui::themeFor(*this);
    focusRing.paint(g, kavix::ui::legibleTextColour(theme, kavix::ui::colourFor(theme, pal::amber),
                                                    kavix::ui::colourFor(theme, pal::panel.brighter(0.08f)),
                                                    kavix::ui::colourFor(theme, pal::ink), 3.0));
}

//======================================================================================================
bool SorvaneAudioProcessorEditor::keyPressed(const juce::KeyPress& key)
{
    dismissStatusError();
    const auto mods = key.getModifiers();
    const bool command = mods.isCommandDown() || mods.isCtrlDown();
    const bool shift = mods.isShiftDown();
    const int code = key.getKeyCode();
    const auto isLetter = [code](char letter)
    { return code == letter || code == juce::CharacterFunctions::toLowerCase((juce::juce_wchar)letter); };

    if (command && isLetter('L'))
    {
        if (!tresselModeActive)
            setTresselMode(true);
        runTressel(shift, false, false);
        return true;
    }
    if (command && shift && isLetter('C'))
    {
        tressel.copyDna.triggerClick();
        return true;
    }
    if (command && shift && isLetter('V'))
    {
        tressel.pasteDna.triggerClick();
        return true;
    }
    if (command && !shift && isLetter('E'))
    {
        if (isStandalone())
            chooseAudioExport(false);
        return true;
    }
    if (command && !shift && isLetter('K'))
    {
        tressel.keepThat.triggerClick();
        return true;
    }
    if (command && !shift && isLetter('O'))
    {
        if (isStandalone())
            chooseSample();
        else
            choosePresetFile(false);
        return true;
    }
    if (command && !shift && isLetter('S'))
    {
        choosePresetFile(true);
        return true;
    }
    if (mods.isAltDown() && !command && isLetter('F'))
    {
        toggleSelectedFavourite();
        return true;
    }

    const bool plain = !mods.isAnyModifierKeyDown();
    if (plain && code == juce::KeyPress::spaceKey)
    {
        if (!isStandalone())
            return false;
        if (processor.getTransportState().playing.load())
            pauseSamplePlayback();
        else
            startSamplePlayback();
        return true;
    }
    if (plain && (code == juce::KeyPress::leftKey || code == juce::KeyPress::rightKey) && isStandalone())
    {
        seekByFraction(code == juce::KeyPress::leftKey ? -0.05 : 0.05);
        setStatusMessage(code == juce::KeyPress::leftKey ? "SEEK -5% / EQUAL-POWER FADE"
                                                         : "SEEK +5% / EQUAL-POWER FADE");
        return true;
    }
    // Escape closes the workflow panel first, and only then cancels a running capture.
    if (plain && code == juce::KeyPress::escapeKey && closeWorkflowTools())
        return true;
    if (plain && code == juce::KeyPress::escapeKey && processor.getProcessedCapture().isActive())
    {
        cancelCapture();
        return true;
    }
    return false;
}

//======================================================================================================
void SorvaneAudioProcessorEditor::writeKnobLocks()
{
    // "mix" carries a lock bit but no knob; a lock restored from a preset or project must survive.
    auto ids = sorvane::lockedParameterIds(knobs);
    if ((processor.lockWord.load(std::memory_order_acquire) &
         SorvaneAudioProcessor::lockBitForParameterId("mix")) != 0)
        ids.add("mix");
    processor.setMacroLockedParameterIds(ids);
}

void SorvaneAudioProcessorEditor::synchroniseControls()
{
    for (auto& knob : knobs)
        knob->syncToProcessor();
    if (masterFader != nullptr)
        masterFader->syncToProcessor();
}
