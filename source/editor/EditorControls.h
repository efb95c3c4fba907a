#pragma once

#include "editor/RechoosableComboBox.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

// The editor's controls, grouped by the row they sit in. Plain aggregates: the editor configures,
// wires and lays them out.
namespace sorvane::editor
{
struct HeaderControls
{
    juce::ComboBox mode;
    juce::TextButton setupAdvisor{"SETUP / PERFORMANCE"};
    juce::TextButton workflow{"WORKFLOW"};
    juce::ComboBox recentProjects;
};

struct PresetRowControls
{
    juce::TextEditor search;
    juce::TextButton rename{"RENAME"}, duplicate{"COPY"}, tags{"TAGS"}, remove{"DELETE"};
    juce::ComboBox sourceFilter, tagFilter;
    juce::ToggleButton favourites{"FAVOURITES"};
    RechoosableComboBox browser;
};

struct LevelRowControls
{
    juce::ToggleButton matchSource{"MATCH SOURCE LOUDNESS"};
    juce::Label resultLabel{{}, "RESULT LEVEL"};
    juce::Slider resultLevel{juce::Slider::LinearHorizontal, juce::Slider::TextBoxRight};
    juce::TextButton recentPresets{"RECENT PRESETS"}, revertPresets{"REVERT PRESETS"},
        keepSound{"KEEP SOUND"};
    juce::ToggleButton keepMix{"KEEP MIX / OUTPUT"};
};

struct MutationControls
{
    juce::TextEditor seed;
    juce::Label label{{}, "MUTATION"};
    juce::Slider strength{juce::Slider::LinearHorizontal, juce::Slider::TextBoxRight};
    juce::TextButton mutate{"MUTATE"}, generate{"GENERATE 4"}, restoreBaseline{"A"};
    std::array<juce::TextButton, 4> variations;
    juce::TextButton undo{"UNDO"}, redo{"REDO"}, save{"SAVE"}, load{"LOAD"};
    juce::TextButton saveProject{"SAVE PROJECT"}, openProject{"OPEN PROJECT"};
};

struct SourceControls
{
    juce::ToggleButton loop{"LOOP"}, zeroSnap{"ZERO SNAP"};
    std::array<juce::Label, 3> rangeLabels;
    std::array<juce::Slider, 3> rangeSliders; // IN, OUT, playhead
    juce::ComboBox crossfade, captureLength;
    juce::TextButton capture{"CAPTURE"}, exportWav{"EXPORT WAV"}, dragWav{"DRAG WAV"},
        clearAudio{"CLEAR AUDIO"}, loadAudio{"LOAD AUDIO"};
    juce::TextButton play{"PLAY"}, pause{"PAUSE"}, stop{"STOP"};
    juce::Label audioIndicator{{}, "NO AUDIO"};
    juce::Label status;
};

struct MacroControls
{
    std::array<juce::Label, 4> labels;
    std::array<juce::Slider, 4> sliders;
    juce::ComboBox autoLevel, audioQuality, visualQuality;
};

struct TresselControls
{
    juce::ComboBox shape;
    juce::Label scale;
    juce::Slider intensity{juce::Slider::LinearHorizontal, juce::Slider::TextBoxRight};
    juce::TextButton generate{"TRESSEL"}, again{"AGAIN"}, daily{"DAILY"};
    juce::ToggleButton instant{"INSTANT"};
    juce::TextButton before{"BEFORE"};
    std::array<juce::TextButton, 4> variants;
    juce::TextButton keep{"KEEP"}, beforeAfter{"BEFORE / AFTER"}, keepThat{"KEEP THAT"}, copyDna{"COPY DNA"},
        pasteDna{"PASTE DNA"};
    juce::ComboBox moments;
};

struct SocialControls
{
    juce::ComboBox aspect, duration, background;
    juce::TextEditor artist;
    juce::ToggleButton effectedOnly{"Effected sound only"};
    juce::TextButton share{"SHARE RESULT"};
};
} // namespace sorvane::editor
