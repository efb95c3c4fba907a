#pragma once

#include "capture/CreatorExportJob.h"
#include "editor/AppearanceSelector.h"
#include "editor/AudioCallbackWatch.h"
#include "editor/ChooserSettings.h"
#include "editor/EditorControls.h"
#include "editor/EditorLayout.h"
#include "editor/ExportActivity.h"
#include "editor/KeyboardFocus.h"
#include "editor/LastDirectoryStore.h"
#include "editor/MasterEffectFader.h"
#include "editor/ParameterKnob.h"
#include "advisor/SetupAdvisorJob.h"
#include "editor/ScopeVisualState.h"
#include "presets/DiscoveryFilter.h"
#include "editor/SorvaneLookAndFeel.h"
#include "editor/VisualQuality.h"
#include "processor/SorvaneAudioProcessor.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The processor's window: Studio Mode (the complete sound-design surface) and Tressel Mode (the
// streamlined surface) over the same controls and the same engine.
class SorvaneAudioProcessorEditor : public juce::AudioProcessorEditor,
                                    public juce::FileDragAndDropTarget,
                                    public juce::Timer
{
public:
    explicit SorvaneAudioProcessorEditor(SorvaneAudioProcessor&);
    ~SorvaneAudioProcessorEditor() override;

    void setTresselMode(bool tressel);
    bool isTresselModeActive() const noexcept { return tresselModeActive; }

    void refreshTresselControls();
    void refreshVariationButtons();
    void addKnob(const juce::String& parameterId, const juce::String& label, int section);
    juce::Rectangle<int> getAnimatedVisualBounds() const;

    void setStatusMessage(const juce::String& message, int ticks = 105);
    // An error stays on the status line until the next status, click or key: it must not vanish
    // before it has been read.
    void setStatusError(const juce::String& message);
    const juce::String& getStatusMessage() const noexcept { return statusMessage; }
    int getStatusCountdown() const noexcept { return statusCountdown; }
    bool isStatusErrorShown() const noexcept { return statusErrorHeld; }
    // Any click in the window, on a control or not, counts as the user's next action.
    void mouseDown(const juce::MouseEvent& event) override;
    // Says once per window that settings cannot be saved, with the reason; later failures are quiet.
    void reportSettingsNotSaved(const juce::String& reason);

    void paint(juce::Graphics&) override;
    void paintOverChildren(juce::Graphics&) override;
    void resized() override;
    void lookAndFeelChanged() override;
    bool keyPressed(const juce::KeyPress& key) override;
    bool isInterestedInFileDrag(const juce::StringArray& files) override;
    void filesDropped(const juce::StringArray& files, int x, int y) override;
    void timerCallback() override;

    // Source flows: loading, clearing, transport, range and moments.
    static bool isSupportedAudioFile(const juce::File& file);
    void chooseSample();
    void loadSampleWithPreflight(const juce::File& file);
    void clearOrCancelAudio();
    void startSamplePlayback();
    void pauseSamplePlayback();
    void stopSamplePlayback();
    void seekByFraction(double delta);
    void refreshMomentSuggestions();
    // A choice in the moments list: the whole source (id 1000) or suggestion id - 1.
    void chooseMoment(int itemId);

    // Workflow commands (EditorWorkflowCommands.cpp): mutation, variations, Tressel and DNA.
    std::uint32_t advanceMutationSeed();
    juce::StringArray getMutationLocks() const;
    void runTressel(bool advanceSeed, bool daily, bool fromShapeChange);
    void mutateCurrentSound();
    void generateVariations();
    void restoreVariationBaseline();
    void applyVariation(int index);
    void stepMutationHistory(bool forward);
    void auditionTresselBefore();
    void auditionTresselVariant(int index);
    void keepTresselVariant();
    void copyTresselDna();
    void pasteTresselDna();
    void pasteDnaText(const juce::String& text);
    int getVariantDisplay() const noexcept { return variantDisplay; }
    int getTresselRevealTicks() const noexcept { return tresselRevealTicks; }

    // Capture and export commands (EditorCaptureCommands.cpp).
    void toggleCapture();
    void cancelCapture();
    void requestKeepThat(int bars, const juce::String& label);
    int getSelectedCaptureBars() const;
    int getKeepThatBars() const;
    void chooseAudioExport(bool dragMode);
    // What the save chooser does with the file the user picked.
    void exportToChosenFile(juce::File file);
    void startAudioExportJob(const juce::File& file, bool dragMode);
    void cancelExportJob();

    // Creator projects (EditorProjectCommands.cpp).
    void chooseProjectFile(bool save);
    // What the save chooser does with the file the user picked; false after showing the warning.
    bool saveProjectToChosenFile(juce::File file);
    // OPEN PROJECT, RECENT PROJECTS and recovery; false after showing the warning.
    bool loadProjectWithRecovery(const juce::File& file);
    // Whether an open project file has changes its file does not hold (stand-alone only).
    bool hasUnsavedProjectChanges() const;
    // Runs proceed at once when nothing is unsaved; otherwise asks "Save changes to PROJECT
    // beforeWhat?" with Save (Return), Don't Save and Cancel (Escape), and runs proceed after a
    // successful save or Don't Save. Cancel, or a save that failed, leaves everything as it is.
    void whenProjectChangesAreSettled(const juce::String& beforeWhat, std::function<void()> proceed);
    void chooseRecoveredProjectSource(const juce::File& projectFile);
    // What the relink chooser does with the file the user picked.
    bool relinkProjectSource(const juce::File& projectFile, const juce::File& located);
    void showRecoveryPrompt();
    void handleRecoveryChoice(int result);
    // Replaces the relink chooser, so tests see the offer without a window.
    void setProjectSourceLocator(std::function<void(const juce::File& projectFile)> locator)
    {
        projectSourceLocator = std::move(locator);
    }
    sorvane::editor::HeaderControls& getHeaderControls() noexcept { return header; }

    // Presets (EditorPresetCommands.cpp): browser, audition, recent list, files and edits.
    void refreshPresetBrowser(bool selectCurrentProgram);
    void chooseBrowserItem(int itemId);
    void toggleSelectedFavourite();
    void revertPresetExperiment();
    void keepPresetExperiment();
    void showRecentPresetsMenu();
    void applyRecentPreset(const sorvane::PresetDescriptor& entry);
    void choosePresetFile(bool save);
    // What the save chooser does with the file the user picked; false after showing the warning.
    bool savePresetToChosenFile(const juce::File& file, bool overwriteConfirmed);
    bool loadPresetFile(const juce::File& file);
    void showPresetActionDialog(int action);
    // What the dialog does when applied; false with the reason as the status.
    bool performPresetAction(int action, const juce::String& id, const juce::String& name,
                             const juce::String& category, const juce::String& tags);
    const sorvane::PresetDescriptor* getSelectedPreset() const;
    const std::vector<sorvane::PresetDescriptor>& getPresetResults() const noexcept { return presetResults; }
    sorvane::editor::PresetRowControls& getPresetControls() noexcept { return presets; }
    sorvane::editor::LevelRowControls& getLevelControls() noexcept { return level; }
    juce::AlertWindow* getPresetDialog() noexcept { return presetDialog.get(); }

    // SETUP / PERFORMANCE (EditorAdvisorCommands.cpp).
    void launchSetupAdvisor(bool askFirst);
    void showSetupAdvisorResult(const sorvane::SetupAdvisorReport& report);
    void exportAdvisorSupportBundle();
    // What the save chooser does with the file the user picked; false with the reason as the status.
    bool writeAdvisorSupportBundle(const juce::File& file);
    void handleAdvisorResult(int result);
    // The visual-quality combo shows the mode and the editor takes it, as a user's choice would.
    void applyVisualQualityChoice(int comboId);
    bool isAdvisorRunning() const noexcept { return advisorJob != nullptr; }
    bool isAdvisorLaunchArmed() const noexcept { return advisorLaunchArmed; }
    const sorvane::SetupAdvisorReport& getLastAdvisorReport() const noexcept { return lastAdvisorReport; }
    const sorvane::SetupAdvisorInput& getLastAdvisorInput() const noexcept { return lastAdvisorInput; }
    // The advisor's questions go through here, so tests can answer them without a window.
    using AdvisorDialogPresenter = std::function<void(
        const juce::String& title, const juce::String& text,
        const std::vector<std::pair<juce::String, int>>& buttons, std::function<void(int)> onResult)>;
    void setAdvisorDialogPresenter(AdvisorDialogPresenter presenter)
    {
        advisorDialogPresenter = std::move(presenter);
    }

    // WORKFLOW: the discover / protect, changes / tuning and delay / tempo call-out.
    void showWorkflowTools();
    // Escape puts the panel away; false when none is open.
    bool closeWorkflowTools();
    juce::Component* getWorkflowPanel() noexcept { return workflowPanel.get(); }
    const sorvane::DiscoveryFilter& getDiscoveryFilter() const noexcept { return discoveryFilter; }
    bool isShowingNoteNames() const noexcept { return showNoteNames; }

    // SHARE RESULT (EditorSocialCommands.cpp).
    void chooseSocialExport();
    // What the folder chooser does with the parent folder the user picked.
    void shareToChosenFolder(const juce::File& parent);
    void startSocialExportJob(const juce::File& packageFolder);
    void refreshSocialDurationChoices();
    sorvane::ScopeVisualInputs currentVisualInputs() const;
    sorvane::editor::SocialControls& getSocialControls() noexcept { return social; }
    bool isExportRunning() const noexcept { return exportRunning; }
    bool isDragExport() const noexcept { return exportDragMode; }
    const sorvane::CreatorExportJob* getExportJob() const noexcept { return exportJob.get(); }
    ExportActivity& getExportActivity() noexcept { return exportActivity; }
    // An external drag needs a display and a pressed mouse; tests watch the request here instead.
    void setExternalDragStarter(std::function<bool(const juce::String& path)> starter)
    {
        externalDragStarter = std::move(starter);
    }

    // The system clipboard needs an X display; tests put their own text store here.
    struct ClipboardHooks
    {
        std::function<void(const juce::String&)> write;
        std::function<juce::String()> read;
    };
    void setClipboardHooks(ClipboardHooks hooks) { clipboardHooks = std::move(hooks); }

    // Refresh: visual quality (the visual-quality combo's action) and the smoothed visual state.
    void selectVisualQualityMode(int comboId);
    void updateScopeVisualState();
    const sorvane::VisualQuality& getVisualQuality() const noexcept { return visualQuality; }
    const sorvane::ScopeVisualState& getScopeVisualState() const noexcept { return scopeVisual; }
    // How often the unmoving layers were drawn; a tick's repaint must not add to it.
    int getStaticLayerRenderCount() const noexcept { return staticLayerRenders; }

    // Lets tests and benchmarks drive the refresh without a screen or a real clock.
    struct RefreshHooks
    {
        std::function<double()> nowMilliseconds;
        std::function<bool()> showing;
    };
    void setRefreshHooks(RefreshHooks hooks) { refreshHooks = std::move(hooks); }

    // Alerts go through here, so tests can observe them without a window.
    using AlertPresenter =
        std::function<void(juce::MessageBoxIconType, const juce::String& title, const juce::String& text)>;
    void setAlertPresenter(AlertPresenter presenter) { alertPresenter = std::move(presenter); }

    const std::vector<std::unique_ptr<ParameterKnob>>& getKnobs() const noexcept { return knobs; }
    sorvane::editor::SourceControls& getSourceControls() noexcept { return source; }
    sorvane::editor::MutationControls& getMutationControls() noexcept { return mutation; }
    sorvane::editor::TresselControls& getTresselControls() noexcept { return tressel; }
    kavix::ui::AppearanceSelector* getAppearanceSelector() noexcept { return appearance.get(); }
    const sorvane::editor::FocusRing& getFocusRing() const noexcept { return focusRing; }
    juce::TooltipWindow* getTooltipWindow() noexcept { return tooltipWindow.get(); }
    SorvaneLookAndFeel& getSorvaneLookAndFeel() noexcept { return lookAndFeel; }

    // Gives keyboard focus back to the editor once a dialog or chooser has closed, so the keyboard map
    // works without a click.
    void restoreKeyboardFocus();
    knurlkit::juce_utilities::LastDirectoryStore& getDirectoryStore() noexcept { return editorSettings; }
    // What a chooser opens with (EditorChoosers.cpp); projectFile names the project a relink is for.
    sorvane::ChooserSettings getChooserSettings(sorvane::ChooserPurpose purpose,
                                                const juce::File& projectFile = {}) const;

private:
    using ButtonAttachment = juce::AudioProcessorValueTreeState::ButtonAttachment;
    using SliderAttachment = juce::AudioProcessorValueTreeState::SliderAttachment;
    using ComboBoxAttachment = juce::AudioProcessorValueTreeState::ComboBoxAttachment;

    bool isStandalone() const noexcept;
    bool projectSavePromptOpen = false;
    void dismissStatusError();
    void buildHeader();
    void buildTresselSurface();
    void buildSocialControls();
    void buildPresetRow();
    void buildMutationRow();
    void buildSourceControls();
    void buildMacroRow();
    void buildLevelRow();
    void buildModeCombos();
    void updateIntensityTexts();
    void applyPlaceholderColours();
    void fitSeedFont();
    void applyVisibility();
    sorvane::EditorLayout currentLayout() const;
    void applyLayout(const sorvane::EditorLayout& layout);
    void synchroniseControls();
    void writeKnobLocks();

    // The refresh tick's steps (EditorRefresh.cpp).
    bool isRefreshShowing() const;
    double refreshNowMilliseconds() const;
    void adaptFrameRate();
    void refreshSourceLoading();
    void refreshHostTransport(juce::String& status, juce::Colour& colour);
    void refreshStandaloneTransport(juce::String& status, juce::Colour& colour);
    void showStatusLine(const juce::String& status, juce::Colour colour);
    void followActivity();
    void setFillIfChanged(juce::Button& button, juce::Colour fill, juce::Colour& shown);

    // Source flows (EditorSourceFlows.cpp).
    void wireSourceActions();
    void applyRangeFromControls();
    void rememberAudioFolder(const juce::File& file);
    void showAlert(juce::MessageBoxIconType icon, const juce::String& title, const juce::String& text);

    // Capture and export (EditorCaptureCommands.cpp).
    void wireCaptureCommands();
    void refreshKeepThat();
    void refreshExportJob();
    void refreshCaptureControls(juce::String& status);
    bool startExternalDrag(const juce::String& path);

    void refreshPresetBrowserForFilter();
    void wirePresetCommands();
    void updatePresetSelectionControls();
    // Lists and selects the user preset with this id (just saved, renamed or copied).
    void showWrittenPreset(const juce::String& id);
    void resyncAfterPreset();
    void refreshPresetExperimentControls();
    void refreshPresetTick();

    // Advisor (EditorAdvisorCommands.cpp).
    void wireAdvisorCommands();
    void refreshAdvisor();
    sorvane::SetupAdvisorInput gatherAdvisorInput();
    void acknowledgeAdvisor();
    void revertVisualAdvice();
    void presentAdvisorDialog(const juce::String& title, const juce::String& text,
                              const std::vector<std::pair<juce::String, int>>& buttons,
                              std::function<void(int)> onResult,
                              juce::MessageBoxIconType icon = juce::MessageBoxIconType::InfoIcon);

    // Creator projects (EditorProjectCommands.cpp).
    void wireProjectCommands();
    void rememberProjectFolder(const juce::File& file);
    void refreshAutosave();
    void refreshRecentProjects();
    void resyncAfterProject();

    // Social export (EditorSocialCommands.cpp).
    void wireSocialCommands();
    void refreshSocialControls();
    // The seconds a teaser can draw on: the source's range, or one half of the Keep That window.
    double socialSourceSeconds();
    struct SocialDurationInputs
    {
        const void* source = nullptr;
        double rangeStart = 0.0, rangeEnd = 1.0;
        bool keepThat = false;
        bool operator==(const SocialDurationInputs& o) const noexcept
        {
            return source == o.source && rangeStart == o.rangeStart && rangeEnd == o.rangeEnd &&
                   keepThat == o.keepThat;
        }
    };
    SocialDurationInputs lastSocialDurationInputs{reinterpret_cast<const void*>(1)};

    // Workflow commands (EditorWorkflowCommands.cpp).
    void wireWorkflowCommands();
    void resyncAfterWorkflow();
    void refreshUndoRedo();
    void countDownTresselReveal();
    std::uint32_t seedFromField() const;
    void writeClipboard(const juce::String& text);
    juce::String readClipboard();

    // Registers a control for its mode (S, T or both) and whether it exists only in the stand-alone app.
    enum class Shown
    {
        studio,
        tressel,
        both
    };
    void show(juce::Component& component, Shown shown, bool standaloneOnly = false);

    SorvaneAudioProcessor& processor;
    SorvaneLookAndFeel lookAndFeel;

    bool tresselModeActive = false;
    juce::String statusMessage;
    int statusCountdown = 0;
    bool statusErrorHeld = false;
    bool settingsFailureReported = false;
    int searchDebounceTicks = 0;
    int catalogRefreshTicks = 0;
    juce::StringArray shownUnlistedPresetFiles;
    std::vector<sorvane::PresetDescriptor> presetResults;
    std::unique_ptr<juce::FileChooser> presetChooser;
    std::unique_ptr<juce::AlertWindow> presetDialog;
    int variantDisplay = -1;
    int tresselRevealTicks = 0;
    // The session refreshTresselControls last adopted into the shape, intensity, seed and INSTANT.
    std::optional<sorvane::TresselSessionSnapshot> shownTresselSession;
    ClipboardHooks clipboardHooks;
    sorvane::VisualQuality visualQuality;
    sorvane::DiscoveryFilter discoveryFilter;
    bool showNoteNames = false;
    // The box goes before the panel it shows.
    std::unique_ptr<juce::Component> workflowPanel;
    std::unique_ptr<juce::CallOutBox> workflowCallOut;
    struct StaticLayerKey
    {
        int width = 0, height = 0;
        bool tresselMode = false;
        int theme = -1;
        float scale = 0.0f;
        bool operator==(const StaticLayerKey& o) const noexcept
        {
            return width == o.width && height == o.height && tresselMode == o.tresselMode &&
                   theme == o.theme && scale == o.scale;
        }
    };
    StaticLayerKey staticLayerKey;
    juce::Image staticLayers;
    int staticLayerRenders = 0;
    sorvane::ScopeVisualState scopeVisual;
    std::uint64_t paintedVisualSignature = 0;
    std::array<juce::RangedAudioParameter*, sorvane::ScopeVisualState::numParameters> scopeParameters{};
    RefreshHooks refreshHooks;
    AlertPresenter alertPresenter;

    // The last seen source-load job, so only changes turn into status texts.
    std::uint64_t lastLoadGeneration = 0;
    std::int32_t lastLoadState = 0;
    sorvane::AudioCallbackWatch audioCallbacks;
    // IN, OUT and PLAYHEAD: the snapshot does not overwrite a slider under the user's mouse.
    std::array<bool, 3> rangeSliderDragged{};
    std::unique_ptr<juce::FileChooser> sampleChooser, exportChooser;
    std::unique_ptr<juce::FileChooser> advisorChooser, projectChooser;
    std::optional<std::uint32_t> shownRecentProjectsVersion; // none: the first refresh fills the combo
    int autosaveFailureHoldTicks = 0;
    std::function<void(const juce::File&)> projectSourceLocator;
    std::unique_ptr<sorvane::SetupAdvisorJob> advisorJob;
    sorvane::SetupAdvisorInput lastAdvisorInput;
    sorvane::SetupAdvisorReport lastAdvisorReport;
    struct VisualAdviceRevert
    {
        bool active = false;
        int previousMode = 0;
        int appliedTier = 0;
        juce::String fingerprint;
    };
    VisualAdviceRevert visualAdviceRevert;
    bool advisorLaunchArmed = false;
    int advisorLaunchTicks = 0;
    AdvisorDialogPresenter advisorDialogPresenter;
    // One export at a time, shared by WAV and (later) package exports.
    std::unique_ptr<sorvane::CreatorExportJob> exportJob;
    bool exportRunning = false, exportDragMode = false;
    std::function<bool(const juce::String&)> externalDragStarter;

    sorvane::editor::HeaderControls header;
    sorvane::editor::PresetRowControls presets;
    sorvane::editor::LevelRowControls level;
    sorvane::editor::MutationControls mutation;
    sorvane::editor::SourceControls source;
    sorvane::editor::MacroControls macros;
    sorvane::editor::TresselControls tressel;
    sorvane::editor::SocialControls social;
    ExportActivity exportActivity;
    sorvane::editor::FocusRing focusRing{*this};
    sorvane::editor::ComboTransportKeys comboTransportKeys{[this](const juce::KeyPress& k)
                                                           { return keyPressed(k); }};
    std::unique_ptr<juce::TooltipWindow> tooltipWindow;

    std::vector<std::unique_ptr<ParameterKnob>> knobs;
    std::vector<int> knobSections;
    std::unique_ptr<MasterEffectFader> masterFader;
    std::unique_ptr<kavix::ui::AppearanceSelector> appearance;

    std::unique_ptr<ButtonAttachment> matchSourceAttachment;
    std::unique_ptr<SliderAttachment> resultLevelAttachment;
    std::array<std::unique_ptr<SliderAttachment>, 4> macroAttachments;
    std::unique_ptr<ComboBoxAttachment> autoLevelAttachment, audioQualityAttachment;

    struct Registered
    {
        juce::Component* component;
        Shown shown;
        bool standaloneOnly;
    };
    std::vector<Registered> registered;

    knurlkit::juce_utilities::LastDirectoryStore editorSettings;
    juce::Colour shownStatusColour;
    std::optional<bool> shownHostPlaying;
    // Fills last applied to PLAY, PAUSE and STOP: setting a colour repaints, so only on change.
    juce::Colour shownPlayFill, shownPauseFill, shownStopFill;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SorvaneAudioProcessorEditor)
};
