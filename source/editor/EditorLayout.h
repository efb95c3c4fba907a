#pragma once

#include <juce_graphics/juce_graphics.h>

#include <array>
#include <vector>

namespace sorvane
{
struct EditorLayoutInput
{
    int width = 1180;
    int height = 720;
    bool tresselMode = false;
    bool standalone = false;
    std::array<int, 4> knobsPerSection{6, 3, 4, 10};
};

// Where every control of the editor goes for one window size and mode. Plain rectangles, so the
// geometry can be checked without building components. Controls a mode hides keep empty bounds.
struct EditorLayout
{
    using Rect = juce::Rectangle<int>;

    // Header
    Rect titleBlock, modeCombo, setupButton, workflowButton, recentProjects, appearance;

    // Preset row
    Rect search, rename, duplicate, tags, remove, sourceFilter, tagFilter, favourites, browser;

    // Macro row
    std::array<Rect, 4> macroLabels, macroSliders;
    Rect autoLevel, audioQuality, visualQuality;

    // Panels, the animated visual and the master fader
    std::array<Rect, 4> sections;
    std::array<std::vector<Rect>, 4> knobs;
    Rect visual, masterFader;
    int visualSize = 0; // the display's size before its margins

    // Bottom block
    Rect matchSource, resultLabel, resultSlider, keepMix, keepSound, revertPresets, recentPresets;
    Rect seed, mutationLabel, strength, mutate, generate, restoreBaseline;
    std::array<Rect, 4> variations;
    Rect undo, redo, save, load, saveProject, openProject;
    Rect loop, zeroSnap;
    std::array<Rect, 3> rangeLabels, rangeSliders;
    Rect stop, pause, play, loadAudio, clearAudio, dragWav, exportWav, capture, captureLength, crossfade;
    Rect audioIndicator; // stand-alone: shown while no audio device runs
    Rect status;

    // Tressel surface
    Rect shape, scaleLabel, intensity, generateTressel, again, daily, instant, copyDna, pasteDna;
    Rect beforeAfter, keepThat, moments, aspect, duration, background, artist, effectedOnly, share;
    Rect before, keep;
    std::array<Rect, 4> variants;
};

EditorLayout computeEditorLayout(const EditorLayoutInput& input);
} // namespace sorvane
