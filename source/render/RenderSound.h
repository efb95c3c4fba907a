#pragma once

#include "projects/CreatorProjectData.h"
#include "render/RenderCommandLine.h"

#include <juce_audio_processors/juce_audio_processors.h>

class SorvaneAudioProcessor;

namespace sorvane::render
{
// The sound every file of one run is rendered with. Its files are read once, up front, so all files
// get the same sound even when a preset or project changes on disk meanwhile.
class RenderSound
{
public:
    // Reads and checks the sound's source and the --set values. False with one sentence in `error`
    // (naming the file where one was read).
    bool load(const RenderCommand& command, juce::String& error);

    // Gives a fresh processor this sound: the source as the app applies it, then the --set values.
    bool applyTo(SorvaneAudioProcessor& processor, juce::String& error) const;

    // The host tempo: --tempo, else the project's, else 120.
    double getTempo() const noexcept { return tempo; }

private:
    SoundSource source = SoundSource::defaults;
    int factoryIndex = -1;
    juce::ValueTree presetState;
    juce::String dnaText;
    CreatorProjectData project;
    std::vector<ParameterSetting> settings;
    double tempo = 120.0;
};

// The factory preset of a name (any case) or program number, or -1.
int findFactoryPreset(const juce::String& nameOrIndex);

// "TEXT" is the DNA itself; "@PATH" reads it from a file (a bounded, strictly UTF-8 text file).
bool readDnaArgument(const juce::String& argument, juce::String& text, juce::String& error);

// Sets one parameter from text in its own units: a number in range, or for a choice one of its
// names, for a switch on/off. False with one sentence in `error`; the parameter is then unchanged.
bool applyParameterText(juce::RangedAudioParameter& parameter, const juce::String& text, juce::String& error);
} // namespace sorvane::render
