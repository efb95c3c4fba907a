#pragma once

#include "editor/AppearanceSelector.h"
#include "editor/EditorControls.h"
#include "editor/EditorLayout.h"
#include "editor/ExportActivity.h"
#include "editor/LastDirectoryStore.h"
#include "editor/MasterEffectFader.h"
#include "editor/ParameterKnob.h"
#include "editor/SorvaneLookAndFeel.h"
#include "processor/SorvaneAudioProcessor.h"

#include <juce_audio_processors/juce_audio_processors.h>

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
    const juce::String& getStatusMessage() const noexcept { return statusMessage; }
    int getStatusCountdown() const noexcept { return statusCountdown; }

    void paint(juce::Graphics&) override;
    void resized() override;
    bool keyPressed(const juce::KeyPress& key) override;
    bool isInterestedInFileDrag(const juce::StringArray& files) override;
    void filesDropped(const juce::StringArray& files, int x, int y) override;
    void timerCallback() override;

    const std::vector<std::unique_ptr<ParameterKnob>>& getKnobs() const noexcept { return knobs; }
    kavix::ui::AppearanceSelector* getAppearanceSelector() noexcept { return appearance.get(); }
    knurlkit::juce_utilities::LastDirectoryStore& getDirectoryStore() noexcept { return editorSettings; }

private:
    using ButtonAttachment = juce::AudioProcessorValueTreeState::ButtonAttachment;
    using SliderAttachment = juce::AudioProcessorValueTreeState::SliderAttachment;
    using ComboBoxAttachment = juce::AudioProcessorValueTreeState::ComboBoxAttachment;

    bool isStandalone() const noexcept;
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
    void applyVisibility();
    sorvane::EditorLayout currentLayout() const;
    void applyLayout(const sorvane::EditorLayout& layout);
    void synchroniseControls();
    void writeKnobLocks();

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
    int searchDebounceTicks = 0;
    int variantDisplay = -1;
    int targetFrameRate = 60;

    sorvane::editor::HeaderControls header;
    sorvane::editor::PresetRowControls presets;
    sorvane::editor::LevelRowControls level;
    sorvane::editor::MutationControls mutation;
    sorvane::editor::SourceControls source;
    sorvane::editor::MacroControls macros;
    sorvane::editor::TresselControls tressel;
    sorvane::editor::SocialControls social;
    ExportActivity exportActivity;

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

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SorvaneAudioProcessorEditor)
};
