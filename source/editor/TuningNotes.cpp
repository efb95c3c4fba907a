#include "editor/TuningNotes.h"

#include <cmath>
#include <regex>
#include <string>

namespace sorvane
{
namespace
{
const char* const noteNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

// Semitones above C of the natural notes, indexed from 'A'.
constexpr int naturalPitchClass[7] = {9, 11, 0, 2, 4, 5, 7};

constexpr int lowestOctave = -2;
constexpr int highestOctave = 10;

double hzForMidiNote(double midiNote)
{
    return 440.0 * std::pow(2.0, (midiNote - 69.0) / 12.0);
}
} // namespace

juce::String tuningNote(double hz)
{
    if (!std::isfinite(hz) || hz <= 0.0)
        return {};

    const auto midi = 69.0 + 12.0 * std::log2(hz / 440.0);
    const auto nearest = std::round(midi); // halves away from zero
    const auto n = (long long)nearest;
    const auto pitchClass = (int)(((n % 12) + 12) % 12);
    const auto octave = (long long)std::floor(nearest / 12.0) - 1;

    auto text = juce::String(noteNames[pitchClass]) + juce::String(octave);

    const auto cents = (midi - nearest) * 100.0;
    if (std::abs(cents) >= 0.05)
        text << (cents >= 0.0 ? " +" : " ") << juce::String(cents, 1) << "c";

    return text;
}

bool parseTuning(const juce::String& text, double& hz, juce::String& error)
{
    static const std::regex notePattern(R"(^([A-Ga-g])([#b]?)(-?[0-9]+)(?:\s*([+-][0-9]+(?:\.[0-9]+)?)c)?$)");
    static const std::regex frequencyPattern(R"(^([0-9]+(?:\.[0-9]+)?)\s*(?:[Hh][Zz])?$)");

    const auto trimmed = text.trim();
    const auto input = trimmed.toStdString();
    std::smatch match;

    if (std::regex_match(input, match, notePattern))
    {
        const auto octaveText = juce::String(match[3].str());
        const auto octave = octaveText.getIntValue();
        // More digits than any accepted octave has would overflow the conversion.
        if (octaveText.retainCharacters("0123456789").length() > 3 || octave < lowestOctave ||
            octave > highestOctave)
        {
            error = "The octave of " + trimmed.quoted() + " is outside -2 to 10.";
            return false;
        }

        const auto letter = juce::CharacterFunctions::toUpperCase((juce::juce_wchar)match[1].str()[0]);
        const auto accidental = match[2].str() == "#" ? 1 : (match[2].str() == "b" ? -1 : 0);
        const auto cents = match[4].matched ? juce::String(match[4].str()).getDoubleValue() : 0.0;

        const auto midi = (octave + 1) * 12 + naturalPitchClass[letter - 'A'] + accidental + cents / 100.0;
        hz = hzForMidiNote(midi);
        return true;
    }

    if (std::regex_match(input, match, frequencyPattern))
    {
        const auto value = juce::String(match[1].str()).getDoubleValue();
        if (!std::isfinite(value))
        {
            error = trimmed.quoted() + " is not a usable frequency.";
            return false;
        }
        hz = value;
        return true;
    }

    error = trimmed.quoted() + " is neither a note such as A4 nor a frequency in Hz.";
    return false;
}
} // namespace sorvane
