#include "render/RenderSound.h"

#include "presets/FactoryPresets.h"
#include "presets/PresetFileIo.h"
#include "processor/ParameterState.h"
#include "processor/SafeXml.h"
#include "processor/SorvaneAudioProcessor.h"
#include "projects/CreatorProjectFile.h"
#include "transport/RegularFile.h"
#include "workflow/TresselDna.h"

namespace sorvane::render
{
namespace
{
juce::String named(const juce::File& file, const juce::String& sentence)
{
    return file.getFullPathName() + ": " + sentence;
}

juce::File fileArgument(const juce::String& path)
{
    return juce::File::getCurrentWorkingDirectory().getChildFile(path);
}

juce::String presetReadMessage(PresetReadResult result)
{
    switch (result)
    {
    case PresetReadResult::missing:
        return "no such preset file (or not a regular file).";
    case PresetReadResult::tooLarge:
        return "too large to be a Sorvane preset.";
    case PresetReadResult::otherRoot:
        return "the preset belongs to a different product or is damaged.";
    case PresetReadResult::ok:
    case PresetReadResult::notXml:
        break;
    }
    return "not a valid Sorvane preset.";
}

bool parseSwitch(const juce::String& text, bool& value)
{
    const auto t = text.toLowerCase();
    if (t == "on" || t == "true" || t == "yes" || t == "1")
        value = true;
    else if (t == "off" || t == "false" || t == "no" || t == "0")
        value = false;
    else
        return false;
    return true;
}
} // namespace

int findFactoryPreset(const juce::String& nameOrIndex)
{
    const auto& presets = factoryPresets();
    if (nameOrIndex.isNotEmpty() && nameOrIndex.length() <= 3 && nameOrIndex.containsOnly("0123456789"))
    {
        const int index = nameOrIndex.getIntValue();
        return index < (int)presets.size() ? index : -1;
    }
    for (size_t i = 0; i < presets.size(); ++i)
        if (presets[i].name.equalsIgnoreCase(nameOrIndex.trim()))
            return (int)i;
    return -1;
}

bool readDnaArgument(const juce::String& argument, juce::String& text, juce::String& error)
{
    if (!argument.startsWithChar('@'))
    {
        text = argument;
        return true;
    }

    const auto file = fileArgument(argument.substring(1));
    auto stream = openRegularFile(file, error);
    if (stream == nullptr)
    {
        error = named(file, error);
        return false;
    }
    // Room for the longest DNA text and generous surrounding white space; larger is not a DNA file.
    constexpr int limit = maxTresselDnaLength + 4096;
    juce::MemoryBlock bytes;
    stream->readIntoMemoryBlock(bytes, limit + 1);
    if ((int)bytes.getSize() > limit)
    {
        error = named(file, "too large to hold a Sorvane DNA text.");
        return false;
    }
    if (!isStrictUtf8(static_cast<const char*>(bytes.getData()), bytes.getSize()))
    {
        error = named(file, "not a text file (invalid UTF-8).");
        return false;
    }
    text = juce::String::fromUTF8(static_cast<const char*>(bytes.getData()), (int)bytes.getSize()).trim();
    if (text.isEmpty())
    {
        error = named(file, "the file is empty.");
        return false;
    }
    return true;
}

bool applyParameterText(juce::RangedAudioParameter& parameter, const juce::String& text, juce::String& error)
{
    const auto id = parameter.getParameterID();
    float plain = 0.0f;

    if (auto* choice = dynamic_cast<juce::AudioParameterChoice*>(&parameter))
    {
        int index = choice->choices.indexOf(text, true);
        double number = 0.0;
        if (index < 0 && parseDecimal(text, number) && number == std::floor(number) && number >= 0 &&
            number < choice->choices.size())
            index = (int)number;
        if (index < 0)
        {
            error = "--set " + id + " takes one of: " + choice->choices.joinIntoString(", ") + " (or 0 to " +
                    juce::String(choice->choices.size() - 1) + ").";
            return false;
        }
        plain = (float)index;
    }
    else if (dynamic_cast<juce::AudioParameterBool*>(&parameter) != nullptr)
    {
        bool on = false;
        if (!parseSwitch(text, on))
        {
            error = "--set " + id + " takes on or off.";
            return false;
        }
        plain = on ? 1.0f : 0.0f;
    }
    else
    {
        const auto& range = parameter.getNormalisableRange();
        const bool whole = dynamic_cast<juce::AudioParameterInt*>(&parameter) != nullptr;
        double number = 0.0;
        if (!parseDecimal(text, number) || number < range.start || number > range.end ||
            (whole && number != std::floor(number)))
        {
            error = "--set " + id + " takes " + (whole ? "a whole number" : "a number") + " from " +
                    juce::String(range.start) + " to " + juce::String(range.end) + ".";
            return false;
        }
        plain = (float)number;
    }

    parameter.setValueNotifyingHost(parameter.convertTo0to1(plain));
    return true;
}

bool RenderSound::load(const RenderCommand& command, juce::String& error)
{
    error.clear();
    source = command.source;
    settings = command.settings;
    tempo = 120.0;

    switch (source)
    {
    case SoundSource::defaults:
        break;
    case SoundSource::factoryPreset:
        factoryIndex = findFactoryPreset(command.sourceArgument);
        if (factoryIndex < 0)
        {
            error = "There is no factory preset '" + command.sourceArgument.substring(0, 60) +
                    "'; sorvane-render --list-presets lists them.";
            return false;
        }
        break;
    case SoundSource::userPreset:
    {
        const auto file = fileArgument(command.sourceArgument);
        const auto read = readXmlTree(file, maxPresetFileBytes, stateIds::stateType, presetState);
        if (read != PresetReadResult::ok)
        {
            error = named(file, presetReadMessage(read));
            return false;
        }
        break;
    }
    case SoundSource::dna:
    {
        if (!readDnaArgument(command.sourceArgument, dnaText, error))
            return false;
        TresselDnaPayload payload;
        juce::String why;
        if (!decodeTresselDna(dnaText, payload, why))
        {
            error = command.sourceArgument.startsWithChar('@')
                        ? named(fileArgument(command.sourceArgument.substring(1)), why)
                        : "The DNA text is not valid: " + why;
            return false;
        }
        break;
    }
    case SoundSource::project:
    {
        const auto file = fileArgument(command.sourceArgument);
        juce::String why;
        if (!readCreatorProject(file, project, why))
        {
            error = named(file, why);
            return false;
        }
        if (!project.parameterState.isValid() || project.parameterState.getType() != stateIds::stateType)
        {
            error = named(file, "the project holds no Sorvane sound.");
            return false;
        }
        if (project.tempo >= minimumTempo && project.tempo <= maximumTempo)
            tempo = project.tempo;
        break;
    }
    }

    if (command.tempo > 0.0)
        tempo = command.tempo;
    return true;
}

bool RenderSound::applyTo(SorvaneAudioProcessor& processor, juce::String& error) const
{
    error.clear();
    switch (source)
    {
    case SoundSource::defaults:
        break;
    case SoundSource::factoryPreset:
        processor.setCurrentProgram(factoryIndex);
        break;
    case SoundSource::userPreset:
        processor.applyParameterSnapshot(presetState.createCopy());
        break;
    case SoundSource::dna:
        if (!processor.importTresselDna(dnaText, error))
            return false;
        break;
    case SoundSource::project:
        processor.applyParameterSnapshot(project.parameterState.createCopy());
        processor.lockWord.store(project.macroLockMask);
        break;
    }

    for (const auto& setting : settings)
    {
        auto* parameter = processor.getParameterState().getParameter(setting.id);
        if (parameter == nullptr)
        {
            error = "There is no parameter '" + setting.id + "'.";
            return false;
        }
        if (!applyParameterText(*parameter, setting.value, error))
            return false;
    }
    return true;
}
} // namespace sorvane::render
