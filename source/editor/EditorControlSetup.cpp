// Creates and configures the editor's controls, row by row: texts, identifiers, accessibility
// titles, tooltips, colours, attachments and the mode each belongs to.
#include "editor/InterfaceTheme.h"
#include "editor/Palette.h"
#include "editor/SorvaneAudioProcessorEditor.h"
#include "workflow/TresselPersonalityNames.h"

namespace
{
namespace pal = sorvane::palette;

// 255 - (255 - c) x 0.89285713 per channel, rounded the way the theme's shade map rounds, so the "on"
// fill is a shade a theme can map.
juce::Colour lightenedForOnState(juce::Colour c)
{
    return c.brighter(0.12f);
}

void styleButton(juce::Button& button, juce::Colour fill, juce::Colour text)
{
    kavix::ui::setColour(button, juce::TextButton::buttonColourId, fill);
    kavix::ui::setColour(button, juce::TextButton::buttonOnColourId, lightenedForOnState(fill));
    kavix::ui::setColour(button, juce::TextButton::textColourOffId, text);
    kavix::ui::setColour(button, juce::TextButton::textColourOnId, pal::cream);
    button.setWantsKeyboardFocus(true);
    button.setMouseCursor(juce::MouseCursor::PointingHandCursor);
}

void identify(juce::Component& c, const juce::String& id, const juce::String& title = {})
{
    if (id.isNotEmpty())
        c.setComponentID(id);
    if (title.isNotEmpty())
        c.setTitle(title);
}

template <typename Control>
void tooltip(Control& c, const juce::String& text)
{
    c.setTooltip(text);
}

void addItems(juce::ComboBox& combo, std::initializer_list<const char*> items, int selectedId = 0)
{
    int id = 1;
    for (auto* item : items)
        combo.addItem(item, id++);
    if (selectedId > 0)
        combo.setSelectedId(selectedId, juce::dontSendNotification);
}

void resettingSlider(juce::Slider& slider, double min, double max, double initial, int boxWidth,
                     int boxHeight, const juce::String& suffix)
{
    slider.setSliderStyle(juce::Slider::LinearHorizontal);
    slider.setTextBoxStyle(juce::Slider::TextBoxRight, true, boxWidth, boxHeight);
    slider.setRange(min, max, 1.0);
    slider.setValue(initial, juce::dontSendNotification);
    slider.setTextValueSuffix(suffix);
    slider.setDoubleClickReturnValue(true, initial);
}

void textEntryColours(juce::TextEditor& editor, juce::Colour text)
{
    kavix::ui::setColour(editor, juce::TextEditor::backgroundColourId, pal::ink);
    kavix::ui::setColour(editor, juce::TextEditor::textColourId, text);
}

constexpr const char* macroNames[4] = {"DAMAGE", "FRACTURE", "SPACE", "MOTION"};
constexpr const char* macroIds[4] = {"macroDamage", "macroFracture", "macroSpace", "macroMotion"};
} // namespace

void SorvaneAudioProcessorEditor::buildHeader()
{
    auto& h = header;
    addItems(h.mode, {"STUDIO MODE", "TRESSEL MODE"}, 1);
    identify(h.mode, "interfaceMode", "Studio Mode or its simplified Tressel Mode surface");
    h.mode.setTooltip("Tressel Mode is the streamlined Studio surface: both views control the same audio "
                      "engine and sound.");
    h.mode.setWantsKeyboardFocus(true);
    h.mode.onChange = [this] { setTresselMode(header.mode.getSelectedId() == 2); };
    show(h.mode, Shown::both);

    identify(h.setupAdvisor, "setupPerformanceAdvisor", "Local Setup and Performance Advisor");
    h.setupAdvisor.setTooltip(
        "Run privacy-safe local checks; advice cannot change DSP, project, host, or audio quality settings");
    styleButton(h.setupAdvisor, pal::cyan, pal::ink);
    show(h.setupAdvisor, Shown::both);

    identify(h.workflow, "workflowTools");
    h.workflow.setTooltip("Source / purpose discovery, grouped locks and mutation focus");
    show(h.workflow, Shown::both);

    h.recentProjects.setTextWhenNothingSelected("RECENT PROJECTS");
    h.recentProjects.setTooltip("Open one of the ten most recent creator projects");
    show(h.recentProjects, Shown::both, true);
}

void SorvaneAudioProcessorEditor::buildTresselSurface()
{
    auto& t = tressel;
    for (int i = 0; i < 13; ++i)
        t.shape.addItem(sorvane::tresselPersonalityNames[i], i + 1);
    t.shape.setSelectedId(1, juce::dontSendNotification);
    identify(t.shape, "tresselPersonality", "TRESSEL sound shape");
    t.shape.setTooltip("Select a shape to hear variation A immediately. Press AGAIN for another sound; ??? "
                       "explores freely.");
    t.shape.setWantsKeyboardFocus(true);
    show(t.shape, Shown::tressel);

    identify(t.scale, "tresselSanityChaosValue");
    t.scale.setFont(juce::Font(10.0f, juce::Font::bold));
    t.scale.setJustificationType(juce::Justification::centred);
    kavix::ui::setColour(t.scale, juce::Label::textColourId, pal::cream.withAlpha((juce::uint8)0xC7));
    show(t.scale, Shown::tressel);

    resettingSlider(t.intensity, 0, 100, 35, 76, 28, " %");
    identify(t.intensity, "tresselSanityChaos");
    t.intensity.setWantsKeyboardFocus(true);
    t.intensity.onValueChange = [this] { updateIntensityTexts(); };
    show(t.intensity, Shown::tressel);

    const auto button =
        [this](juce::TextButton& b, const char* id, const char* tip, juce::Colour fill, juce::Colour text)
    {
        identify(b, id);
        if (tip != nullptr)
            b.setTooltip(tip);
        styleButton(b, fill, text);
        show(b, Shown::tressel);
    };
    button(t.generate, "tresselGenerate",
           "Generate four exact transformations and immediately audition audible variation A for the "
           "selected shape",
           pal::amber, pal::ink);
    button(t.again, "tresselAgain", "Advance the seed and prepare four new transformations", pal::violet,
           pal::cream);
    button(t.daily, "dailyTressel", "Use the versioned offline seed for today's date", pal::cyan, pal::ink);

    identify(t.instant, "tresselReducedMotion", "Instant reduced-motion reveal");
    t.instant.setTooltip("Bypass the 500 ms honest choice reveal; audio is never delayed");
    t.instant.setWantsKeyboardFocus(true);
    show(t.instant, Shown::tressel);

    button(t.before, "tresselBefore", nullptr, pal::metalDark, pal::cream);
    for (int i = 0; i < 4; ++i)
    {
        auto& v = t.variants[(size_t)i];
        const auto letter = juce::String::charToString((juce::juce_wchar)('A' + i));
        v.setButtonText(letter);
        const bool cyanFill = i % 2 == 0;
        button(v, ("tresselVariant" + juce::String(i)).toRawUTF8(), nullptr,
               cyanFill ? pal::cyan : pal::violet, cyanFill ? pal::ink : pal::cream);
        v.setTooltip("Audition exact TRESSEL variant " + letter);
    }
    button(t.keep, "tresselKeep", nullptr, pal::amber, pal::ink);
    button(t.beforeAfter, "beforeAfterCapture",
           "Keep the last 4 bars you heard, with and without the effect, for a before/after comparison",
           pal::blue, pal::cream);
    button(t.keepThat, "keepThat",
           "Keep the last 4 bars you heard (8 when the capture length is 8 or 16 bars), with and without "
           "the effect (Ctrl+K)",
           pal::cyan, pal::ink);
    button(t.copyDna, "copyTresselDna", nullptr, pal::violet, pal::cream);
    button(t.pasteDna, "pasteTresselDna", nullptr, pal::metal, pal::cream);

    t.moments.setTextWhenNothingSelected("MOMENTS / LOAD 5S+ AUDIO");
    identify(t.moments, "bestMomentSuggestions", "Honest ranked source moments");
    t.moments.setTooltip(
        "Ranks bounded 5-15 second regions by level, contrast, transients, novelty and safety; not "
        "artistic quality");
    t.moments.setWantsKeyboardFocus(true);
    show(t.moments, Shown::tressel);

    updateIntensityTexts();
}

void SorvaneAudioProcessorEditor::buildSocialControls()
{
    auto& s = social;
    addItems(s.aspect, {"9:16", "1:1", "16:9"}, 1);
    identify(s.aspect, "socialAspect", "Social video aspect ratio");
    show(s.aspect, Shown::tressel);

    addItems(s.duration, {"15 SEC", "30 SEC", "FULL"}, 1);
    identify(s.duration, "socialDuration", "Social video duration");
    s.duration.setTooltip(
        "15 / 30 SEC use the loaded sample or selected moment when long enough. FULL always exports "
        "the whole loaded sample. Without a loaded sample, durations use the kept capture.");
    show(s.duration, Shown::tressel);

    addItems(s.background, {"TRESSEL RINGS", "SPECTRAL FLUX", "VECTOR BLOOM"}, 1);
    identify(s.background, "socialBackground", "Offline reactive video background");
    s.background.setTooltip(
        "Choose an offline audio-reactive background; Tressel Rings preserves the established export path");
    show(s.background, Shown::tressel);

    s.artist.setMultiLine(false);
    s.artist.setInputRestrictions(80);
    s.artist.setTextToShowWhenEmpty("Producer / artist (optional)", juce::Colour(0xFF808080));
    identify(s.artist, "videoArtist", "Producer / artist name (optional)");
    s.artist.setTooltip("Shown in the generated video when populated. Saved with the project.");
    show(s.artist, Shown::tressel);

    identify(s.effectedOnly, "videoEffectedOnly", "Export effected sound only");
    s.effectedOnly.setTooltip(
        "Export processed sound only. 15 / 30 SEC start at the selected moment; FULL uses the "
        "whole sample. Uncheck for before followed by after.");
    show(s.effectedOnly, Shown::tressel);

    identify(s.share, "shareResult");
    styleButton(s.share, pal::amber, pal::ink);
    show(s.share, Shown::tressel);
}

void SorvaneAudioProcessorEditor::buildPresetRow()
{
    auto& p = presets;
    p.search.setTextToShowWhenEmpty("SEARCH PRESETS", pal::cream.withAlpha((juce::uint8)0x73));
    textEntryColours(p.search, pal::cream);
    identify(p.search, "presetTextSearch",
             "Search presets by name, category, tag, source, intensity, or TRESSEL variation");
    p.search.setTooltip("Debounced search across factory and user preset metadata");
    p.search.setWantsKeyboardFocus(true);
    p.search.onTextChange = [this] { searchDebounceTicks = 12; };
    show(p.search, Shown::studio);

    const auto action =
        [this](juce::TextButton& b, const char* id, const char* tip, juce::Colour fill, juce::Colour text)
    {
        identify(b, id);
        b.setTooltip(tip);
        styleButton(b, fill, text);
        show(b, Shown::studio);
    };
    action(p.rename, "renameUserPreset", "Rename the selected user preset without losing favourite state",
           pal::metal, pal::cream);
    action(p.duplicate, "duplicateUserPreset", "Duplicate the selected user preset under a new identity",
           pal::metal, pal::cream);
    action(p.tags, "editUserPresetMetadata",
           "Edit category and comma-separated tags for the selected user preset", pal::metal, pal::cream);
    action(p.remove, "deleteUserPreset",
           "Move the selected user preset to Sorvane's recoverable Trash folder", pal::red, pal::ink);

    addItems(p.sourceFilter,
             {"ALL", "FACTORY", "USER", "BROKEN", "METALLIC", "AMBIENT", "RHYTHMIC", "RESONANT", "DESTROY",
              "SPACE", "EXPERIMENTAL", "SHOWCASE", "TONAL", "VOCAL", "EVERYDAY"},
             1);
    identify(p.sourceFilter, "presetSourceFilter", "Preset source and category filter");
    p.sourceFilter.setTooltip("Filter presets by source or sound category");
    p.sourceFilter.setWantsKeyboardFocus(true);
    show(p.sourceFilter, Shown::studio);

    addItems(p.tagFilter, {"ALL",    "DARK",  "BRIGHT",   "RHYTHMIC",  "TONAL",    "WIDE",  "EXTREME",
                           "GLITCH", "DRUMS", "FRACTURE", "MICROEDIT", "CHAOS",    "PIANO", "METALLIC",
                           "GHOST",  "GLASS", "BELLS",    "REVERSE",   "SPECTRAL", "ROBOT", "RING",
                           "GUITAR", "BODY",  "CRUSHED",  "FOLD",      "HUGE",     "SLOW",  "UNSTABLE"},
             1);
    identify(p.tagFilter, "presetTagFilter", "Preset metadata tag filter");
    p.tagFilter.setTooltip("Filter presets using stored sound metadata");
    p.tagFilter.setWantsKeyboardFocus(true);
    show(p.tagFilter, Shown::studio);

    identify(p.favourites, "presetFavouriteFilter", "Show favourite presets only");
    p.favourites.setTooltip("Show favourite presets only; toggle a selected preset with Alt+F");
    p.favourites.setWantsKeyboardFocus(true);
    show(p.favourites, Shown::studio);

    identify(p.browser, "presetBrowser", "Preset browser results");
    p.browser.setTooltip("Choose a factory sound or saved program");
    p.browser.setWantsKeyboardFocus(true);
    show(p.browser, Shown::studio);
}

void SorvaneAudioProcessorEditor::buildMutationRow()
{
    auto& m = mutation;
    m.seed.setText(juce::String((juce::int64)(juce::Time::currentTimeMillis() & 0x7FFFFFFF)), false);
    m.seed.setInputRestrictions(10, "0123456789");
    m.seed.setTextToShowWhenEmpty("SEED", pal::cream.withAlpha((juce::uint8)0x66));
    textEntryColours(m.seed, pal::cyan);
    m.seed.setTooltip("Deterministic seed identifying the latest mutation configuration");
    show(m.seed, Shown::studio);

    m.label.setFont(juce::Font(9.0f, juce::Font::bold));
    kavix::ui::setColour(m.label, juce::Label::textColourId, pal::cream.withAlpha((juce::uint8)0xA6));
    show(m.label, Shown::studio);

    resettingSlider(m.strength, 0, 100, 55, 62, 26, " %");
    kavix::ui::setColour(m.strength, juce::Slider::thumbColourId, pal::cyan);
    kavix::ui::setColour(m.strength, juce::Slider::trackColourId, pal::violet);
    m.strength.setTooltip("Mutation strength: drag the slider, type a percentage, or use arrow keys");
    show(m.strength, Shown::studio);

    const auto action = [this](juce::TextButton& b, const juce::String& tip, juce::Colour fill,
                               juce::Colour text, Shown shown = Shown::studio, bool standaloneOnly = false)
    {
        b.setTooltip(tip);
        styleButton(b, fill, text);
        show(b, shown, standaloneOnly);
    };
    action(m.mutate, "Create a new configuration with a unique seed and the selected strength", pal::violet,
           pal::ink);
    action(m.generate, "Create four alternate versions without changing the current sound", pal::blue,
           pal::cream);
    action(m.restoreBaseline, "Restore the sound captured before generating variants", pal::cyan, pal::ink);
    for (int i = 0; i < 4; ++i)
    {
        auto& b = m.variations[(size_t)i];
        b.setButtonText("B" + juce::String(i + 1));
        action(b, "Apply variation B" + juce::String(i + 1), i % 2 == 0 ? pal::cyan : pal::blue, pal::ink);
    }
    action(m.undo, "Undo the last mutation or variation change", pal::metal, pal::cream);
    action(m.redo, "Redo the last undone mutation or variation change", pal::metal, pal::cream);
    action(m.save, "Save the current sound as a Sorvane preset", pal::violet, pal::cream);
    action(m.load, "Load a Sorvane preset from disk", pal::blue, pal::cream);

    identify(m.saveProject, "saveProject");
    action(m.saveProject, "Save an exact, versioned .sorvaneproject creator session", pal::amber, pal::ink,
           Shown::both, true);
    identify(m.openProject, "loadProject");
    action(m.openProject, "Open a creator project and recover a moved source when needed", pal::metal,
           pal::cream, Shown::both, true);
}

void SorvaneAudioProcessorEditor::buildSourceControls()
{
    auto& s = source;
    identify(s.loop, "sourceRangeLoop", "Loop selected source range");
    s.loop.setTooltip("Loop inside IN/OUT; disable for one-shot range playback and capture");
    s.loop.setToggleState(true, juce::dontSendNotification);
    s.loop.setWantsKeyboardFocus(true);
    show(s.loop, Shown::both, true);

    identify(s.zeroSnap, "sourceRangeZeroSnap", "Snap source range to nearby zero crossings");
    s.zeroSnap.setTooltip("Find the nearest zero crossing within 2,048 source samples");
    s.zeroSnap.setWantsKeyboardFocus(true);
    show(s.zeroSnap, Shown::both, true);

    static constexpr const char* labelTexts[3] = {"START", "END", "PLAYHEAD"};
    static constexpr const char* sliderIds[3] = {"sourceRangeIn", "sourceRangeOut", "sourceTimelinePosition"};
    static constexpr const char* sliderTitles[3] = {"Source range IN", "Source range OUT",
                                                    "Source timeline and seek position"};
    static constexpr const char* sliderTips[3] = {
        "Start of the selected source audio, as a percentage of the file",
        "End of the selected source audio, as a percentage of the file",
        "Current playback position; drag or type to seek within the source"};
    for (int i = 0; i < 3; ++i)
    {
        auto& label = s.rangeLabels[(size_t)i];
        label.setText(labelTexts[i], juce::dontSendNotification);
        label.setFont(juce::Font(13.0f));
        identify(label, "sourceRangeLabel" + juce::String(i));
        show(label, Shown::both, true);

        auto& slider = s.rangeSliders[(size_t)i];
        slider.setSliderStyle(juce::Slider::LinearHorizontal);
        slider.setRange(0.0, 100.0);
        slider.setNumDecimalPlacesToDisplay(1);
        slider.setTextValueSuffix(" %");
        slider.setValue(i == 1 ? 100.0 : 0.0, juce::dontSendNotification);
        identify(slider, sliderIds[i], sliderTitles[i]);
        slider.setTooltip(sliderTips[i]);
        show(slider, Shown::both, true);
    }

    addItems(s.crossfade, {"5 MS FADE", "12 MS FADE", "20 MS FADE", "30 MS FADE"}, 2);
    s.crossfade.setTooltip("Equal-power loop and transport crossfade duration");
    show(s.crossfade, Shown::both, true);

    addItems(s.captureLength, {"1 BAR", "2 BARS", "4 BARS", "8 BARS", "16 BARS"}, 3);
    s.captureLength.setTooltip("Beat-aligned capture length; a four-second effect tail is appended");
    show(s.captureLength, Shown::both, true);

    const auto action = [this](juce::TextButton& b, const juce::String& tip, juce::Colour fill,
                               juce::Colour text, bool standaloneOnly)
    {
        b.setTooltip(tip);
        styleButton(b, fill, text);
        show(b, Shown::both, standaloneOnly);
    };
    action(s.capture, "Capture the processed loop at the selected bar length; click again to cancel",
           pal::violet, pal::cream, true);
    action(s.exportWav,
           "Save the latest capture at its matched level and manual adjustment; protect peaks from clipping",
           pal::blue, pal::cream, true);
    action(s.dragWav, "Prepare the latest processed capture and drag it into another app", pal::cyan,
           pal::ink, true);
    action(s.clearAudio, "Cancel an active load, or unload the current sample and capture", pal::metalDark,
           pal::cream, true);
    action(s.loadAudio, "Load an audio file for standalone playback and capture", pal::amber, pal::ink, true);
    action(s.play,
           isStandalone() ? "Start or resume the loaded sample" : "Playback follows the DAW transport",
           pal::cyan, pal::ink, false);
    action(s.pause, "Pause the sample and keep its current position", pal::violet, pal::cream, false);
    action(s.stop, "Stop the sample and return to its beginning", pal::red, pal::ink, false);

    identify(s.status, "transportStatus", "Source and playback workflow status");
    s.status.setFont(juce::Font(9.5f, juce::Font::bold));
    s.status.setJustificationType(juce::Justification::centredLeft);
    kavix::ui::setColour(s.status, juce::Label::textColourId, pal::cyan.withAlpha((juce::uint8)0xD1));
    show(s.status, Shown::both);

    // Not registered with show(): the refresh shows it only while no audio device runs.
    identify(s.audioIndicator, "audioDeviceIndicator", "No audio device running");
    s.audioIndicator.setTooltip("No audio device is running: choose one in Options > Audio/MIDI Settings");
    s.audioIndicator.setFont(juce::Font(9.5f, juce::Font::bold));
    s.audioIndicator.setJustificationType(juce::Justification::centred);
    kavix::ui::setColour(s.audioIndicator, juce::Label::backgroundColourId, pal::red);
    kavix::ui::setColour(s.audioIndicator, juce::Label::textColourId, pal::ink);
    addChildComponent(s.audioIndicator);

    addChildComponent(exportActivity);
}

void SorvaneAudioProcessorEditor::buildMacroRow()
{
    auto& m = macros;
    for (int i = 0; i < 4; ++i)
    {
        auto& label = m.labels[(size_t)i];
        label.setText(macroNames[i], juce::dontSendNotification);
        label.setFont(juce::Font(8.5f, juce::Font::bold));
        label.setJustificationType(juce::Justification::centred);
        kavix::ui::setColour(label, juce::Label::textColourId, pal::cream.withAlpha((juce::uint8)0xB8));
        show(label, Shown::studio);

        auto& slider = m.sliders[(size_t)i];
        slider.setSliderStyle(juce::Slider::LinearHorizontal);
        slider.setTextBoxStyle(juce::Slider::TextBoxRight, true, 72, 26);
        kavix::ui::setColour(slider, juce::Slider::thumbColourId, pal::amber);
        kavix::ui::setColour(slider, juce::Slider::trackColourId, i % 2 == 0 ? pal::violet : pal::cyan);
        const juce::String name(macroNames[i]);
        identify(slider, macroIds[i], name + " performance macro");
        slider.setTooltip("Automatable, smoothed and lock-aware " + name.toLowerCase() +
                          " macro; zero preserves the detailed preset exactly");
        slider.setWantsKeyboardFocus(true);
        macroAttachments[(size_t)i] =
            std::make_unique<SliderAttachment>(processor.getParameterState(), macroIds[i], slider);
        show(slider, Shown::studio);
    }
}

void SorvaneAudioProcessorEditor::buildLevelRow()
{
    auto& l = level;
    l.matchSource.setTitle("Match source loudness");
    l.matchSource.setTooltip(
        "Match average source level during playback and capture. Peak protection may reduce very "
        "dynamic exports.");
    l.matchSource.setWantsKeyboardFocus(true);
    matchSourceAttachment =
        std::make_unique<ButtonAttachment>(processor.getParameterState(), "matchSourceLevel", l.matchSource);
    show(l.matchSource, Shown::both);

    kavix::ui::setColour(l.resultLabel, juce::Label::textColourId, pal::cream);
    l.resultLabel.setFont(juce::Font(13.0f));
    show(l.resultLabel, Shown::both);

    l.resultLevel.setSliderStyle(juce::Slider::LinearHorizontal);
    l.resultLevel.setTextBoxStyle(juce::Slider::TextBoxRight, true, 88, 26);
    identify(l.resultLevel, "resultLevel", "Result level adjustment");
    l.resultLevel.setTooltip(
        "Manual level after source matching; 0 dB matches the source, negative values are "
        "quieter. Capture again after changing this value.");
    l.resultLevel.setWantsKeyboardFocus(true);
    resultLevelAttachment =
        std::make_unique<SliderAttachment>(processor.getParameterState(), "resultLevel", l.resultLevel);
    // The attachment installs the parameter's own text; the row shows decibels.
    l.resultLevel.setTextValueSuffix(" dB");
    l.resultLevel.setDoubleClickReturnValue(true, 0.0);
    show(l.resultLevel, Shown::both);

    identify(l.recentPresets, "recentPresets", "Load one of the ten most recently auditioned presets");
    show(l.recentPresets, Shown::both);

    identify(l.revertPresets, "revertPresetExperiment", "Restore the sound from before preset browsing");
    l.revertPresets.setTooltip("Restore the exact sound that was active before this preset audition session");
    styleButton(l.revertPresets, pal::metal, pal::cream);
    show(l.revertPresets, Shown::studio);

    identify(l.keepSound, "keepPresetExperiment", "Keep the current preset result");
    l.keepSound.setTooltip("Keep the current sound and finish this preset audition session");
    styleButton(l.keepSound, pal::cyan, pal::ink);
    show(l.keepSound, Shown::studio);

    identify(l.keepMix, "presetLevelLock", "Keep wet dry mix and output gain when loading presets");
    l.keepMix.setTooltip(
        "Keep Total Effect (wet/dry) and Output while loading factory or user presets. Separate from "
        "mutation locks; does not loudness-match presets or override project/DAW recall.");
    l.keepMix.setWantsKeyboardFocus(true);
    l.keepMix.setToggleState(processor.isPresetLevelLockEnabled(), juce::dontSendNotification);
    show(l.keepMix, Shown::both);
}

void SorvaneAudioProcessorEditor::buildModeCombos()
{
    auto& m = macros;
    addItems(m.autoLevel, {"LEVEL OFF", "LEVEL LIGHT", "LEVEL STRONG"});
    identify(m.autoLevel, "autoLevelMode", "Auto level mode");
    m.autoLevel.setTooltip(
        "Legacy effect compensation: Off, Light, or Strong. Match Source Loudness takes precedence.");
    m.autoLevel.setWantsKeyboardFocus(true);
    autoLevelAttachment =
        std::make_unique<ComboBoxAttachment>(processor.getParameterState(), "autoLevel", m.autoLevel);
    show(m.autoLevel, Shown::studio);

    addItems(m.audioQuality, {"AUDIO ECO", "AUDIO HQ"});
    identify(m.audioQuality, "audioQualityMode", "Audio quality mode");
    m.audioQuality.setTooltip("Stage-specific fold quality; HQ reduces measured fold aliasing");
    m.audioQuality.setWantsKeyboardFocus(true);
    audioQualityAttachment =
        std::make_unique<ComboBoxAttachment>(processor.getParameterState(), "audioQuality", m.audioQuality);
    show(m.audioQuality, Shown::studio);

    addItems(m.visualQuality, {"VISUAL AUTO", "VISUAL HIGH", "VISUAL MED", "VISUAL LOW"}, 1);
    identify(m.visualQuality, "visualQualityMode", "Visual quality mode");
    m.visualQuality.setTooltip("Adaptive visual geometry and frame-rate quality; audio never changes");
    m.visualQuality.setWantsKeyboardFocus(true);
    show(m.visualQuality, Shown::studio);
}
