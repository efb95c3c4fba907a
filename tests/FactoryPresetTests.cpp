#include "TestSupport.h"

#include "presets/FactoryPresets.h"
#include "presets/FactoryVariationFunction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using sorvane::FactoryPreset;
using sorvane::factoryPresets;
using sorvane::makeFactoryVariationFunction;
using sorvane::ParameterValue;
using sorvane::test::makeProcessor;

namespace
{
// The preset sheet as the sound designers wrote it, one row per line; parsed below so the table in the
// product is checked against text rather than against a second hand-typed copy.
const char* const rowsText = R"(
| 0 | "Init / subtle motion" | "Ambient" | "Bright,Wide" | | -1 | |
| 1 | "Aluminium insect" | "Metallic" | "Bright,Tonal,Extreme" | | -1 | |
| 2 | "Broken maths" | "Broken" | "Dark,Rhythmic,Extreme" | | -1 | |
| 3 | "Prepared piano ghost" | "Resonant" | "Dark,Tonal,Wide" | | -1 | |
| 4 | "Microdrum shredder" | "Rhythmic" | "Bright,Rhythmic,Extreme" | | -1 | |
| 5 | "Underwater modem" | "Broken" | "Dark,Wide,Extreme" | | -1 | |
| 6 | "Glass corridor" | "Space" | "Bright,Tonal,Wide" | | -1 | |
| 7 | "Total nervous system" | "Destroy" | "Dark,Rhythmic,Extreme" | | -1 | |
| 8 | "Orbiting chrome" | "Metallic" | "Bright,Tonal,Wide" | | -1 | |
| 9 | "Folded cathedral" | "Resonant" | "Dark,Tonal,Wide" | | -1 | |
| 10 | "Neon shrapnel" | "Destroy" | "Bright,Rhythmic,Extreme" | | -1 | |
| 11 | "Tidal machine" | "Space" | "Dark,Rhythmic,Wide" | | -1 | |
| 12 | "Signal bloom" | "Ambient" | "Bright,Tonal,Wide" | | -1 | |
| 13 | "Black ice algorithm" | "Experimental" | "Dark,Rhythmic,Extreme" | | -1 | |
| 14 | "Soft machine dream" | "Ambient" | "Dark,Tonal,Wide" | | -1 | |
| 15 | "BREAK MY DRUMS" | "Rhythmic" | "glitch,drums,fracture" | "drums" | 65 | |
| 16 | "128TH PANIC" | "Destroy" | "microedit,extreme,chaos" | "drums" | 95 | |
| 17 | "PREPARED NIGHTMARE" | "Resonant" | "piano,metallic,ghost" | "piano" | 70 | |
| 18 | "GLASS PIANO" | "Tonal" | "glass,bells,bright" | "piano" | 55 | |
| 19 | "GHOST SPEAK" | "Vocal" | "reverse,dark,spectral" | "vocal" | 65 | |
| 20 | "ANDROID" | "Vocal" | "robot,ring,metallic" | "vocal" | 70 | |
| 21 | "METAL STRINGS" | "Resonant" | "guitar,metallic,body" | "guitar" | 60 | |
| 22 | "BROKEN AMP" | "Destroy" | "guitar,crushed,fold" | "guitar" | 80 | |
| 23 | "EMPTY SPACE" | "Ambient" | "huge,slow,dark" | "pad/string" | 40 | |
| 24 | "MEMORY CORRUPT" | "Experimental" | "spectral,reverse,unstable" | "anything" | 70 | |
| 25 | "Vocal - Soft warmth" | "Everyday" | "Warmth,everyday" | "vocal" | 18 | "Everyday" |
| 26 | "Vocal - Air and width" | "Everyday" | "Width,everyday" | "vocal" | 25 | "Everyday" |
| 27 | "Guitar - Rounded edge" | "Everyday" | "Warmth,everyday" | "guitar" | 22 | "Everyday" |
| 28 | "Guitar - Moving halo" | "Everyday" | "Motion,everyday" | "guitar" | 35 | "Everyday" |
| 29 | "Drums - Light grain" | "Everyday" | "Texture,everyday" | "drums" | 24 | "Everyday" |
| 30 | "Drums - Parallel bite" | "Everyday" | "Destruction,everyday" | "drums" | 48 | "Everyday" |
| 31 | "Bass - Soft harmonics" | "Everyday" | "Warmth,everyday" | "bass" | 18 | "Everyday" |
| 32 | "Bass - Worn edge" | "Everyday" | "Texture,everyday" | "bass" | 32 | "Everyday" |
| 33 | "Pad - Slow drift" | "Everyday" | "Motion,everyday" | "pad" | 28 | "Everyday" |
| 34 | "Pad - Open sides" | "Everyday" | "Width,everyday" | "pad" | 32 | "Everyday" |
| 35 | "Full mix - Gentle colour" | "Everyday" | "Warmth,everyday" | "full mix" | 12 | "Everyday" |
| 36 | "Full mix - Small width" | "Everyday" | "Width,everyday" | "full mix" | 15 | "Everyday" |
)";

const char* const descriptionsText = R"(
| 25 | "A restrained drive layer with a softer top; compare with bypass at matched level." |
| 26 | "Small stereo movement and a short quiet echo; check mono compatibility." |
| 27 | "Round the upper edge with mild drive and a lower tone cutoff." |
| 28 | "Slow spectral movement around the dry guitar; reduce mix for exposed parts." |
| 29 | "Blend a small amount of grain and excitation; no transient-protection claim." |
| 30 | "A deliberately low parallel mix of rough drive and folding." |
| 31 | "Mild full-band drive for extra harmonics; check the low end by ear." |
| 32 | "A quiet rough edge alongside the dry bass; not frequency-selective protection." |
| 33 | "Slow movement and modest width with no fracture or reverse." |
| 34 | "Spread a sustained pad with a restrained echo; check stereo and mono." |
| 35 | "A low-depth full-band colour starting point; compare at matched loudness." |
| 36 | "A small stereo blend without rhythmic chopping; verify mono compatibility." |
)";

const char* const classicText = R"(
| 0 | 0 | 8 | 4 | 1 | 0 | 220 | 8 | 440 | 35 | 0 | 2 | 0 | 12 | 180 | 22 | 14500 | 8 | 0.4 | 10 | 0 | 4 | 5 | 100 | 0 |
| 1 | — | 32 | 18 | 3 | 48 | 1367 | 58 | 731 | 78 | 18 | 4 | 22 | 16 | 37 | 43 | 9400 | 45 | 2.8 | 64 | 18 | 38 | 21 | 82 | -4 |
| 2 | — | 21 | 37 | 7 | 21 | 547 | 25 | 1180 | 52 | 72 | 4 | 63 | 21 | 91 | 57 | 6700 | 68 | 5.2 | 36 | 46 | 62 | 58 | 100 | -5 |
| 3 | — | 13 | 7 | 1 | 8 | 91 | 68 | 329.6 | 91 | 9 | 2 | 36 | 34 | 412 | 61 | 11200 | 38 | 0.22 | 72 | 8 | 27 | 12 | 76 | -6 |
| 4 | — | 47 | 41 | 5 | 9 | 81 | 19 | 2100 | 31 | 84 | 5 | 51 | 8 | 24 | 28 | 5200 | 61 | 7.4 | 43 | 75 | 78 | 36 | 100 | -7 |
| 5 | — | 37 | 25 | 9 | 64 | 173 | 31 | 116 | 73 | 31 | 3 | 71 | 49 | 268 | 72 | 3100 | 72 | 0.12 | 82 | 29 | 54 | 68 | 91 | -7 |
| 6 | — | 9 | 3 | 1 | 12 | 2360 | 74 | 1568 | 94 | 14 | 1 | 81 | 58 | 529 | 79 | 16700 | 55 | 0.35 | 91 | 5 | 49 | 18 | 69 | -9 |
| 7 | — | 58 | 52 | 13 | 53 | 903 | 63 | 1288 | 87 | 93 | 5 | 77 | 46 | 119 | 83 | 4300 | 83 | 4.4 | 68 | 88 | 91 | 92 | 100 | -10 |
| 8 | — | 22 | — | — | 33 | 1840 | 42 | 880 | 64 | — | — | — | 38 | 57 | 47 | 14800 | 29 | 0.8 | 98 | 12 | 66 | 28 | 86 | -4 |
| 9 | — | 18 | 12 | — | — | — | 82 | 196 | 96 | 11 | — | 28 | 43 | 682 | 69 | 7200 | 47 | 0.18 | 54 | 94 | 72 | 24 | 79 | -7 |
| 10 | — | 63 | 46 | 9 | 72 | 2270 | 18 | — | — | 67 | 5 | 86 | 19 | 18 | 34 | 6100 | 77 | 8.2 | 61 | 71 | 97 | 73 | 100 | -9 |
| 11 | — | 15 | 5 | — | 17 | 67 | 52 | 433 | 72 | 24 | — | 47 | 74 | 817 | 76 | 2600 | 86 | 0.07 | 87 | 21 | 35 | 79 | 88 | -8 |
| 12 | — | 29 | 14 | 2 | 11 | 512 | 73 | 704 | 88 | 37 | 2 | 19 | 63 | 347 | 82 | 17800 | 63 | 1.7 | 76 | 33 | 84 | 43 | 93 | -6 |
| 13 | — | 44 | 32 | 6 | 39 | 318 | 57 | 1470 | 68 | 58 | 3 | 64 | 52 | 173 | 66 | 3800 | 74 | 3.3 | 73 | 57 | 59 | 88 | 96 | -8 |
| 14 | — | 7 | 2 | — | 4 | 246 | 36 | 523 | 58 | 4 | — | 12 | 28 | 226 | 38 | 13200 | 21 | 0.11 | 47 | 3 | 19 | 8 | 72 | -3 |
)";

const char* const showcaseText = R"(
| 15 | -1 | 24 | 18 | 4 | 8 | 420 | 25 | 720 | 35 | 58 | 3 | 20 | 18 | 12 | 110 | 22 | 11000 | 18 | 0.65 | 20 | 12 | 55 | 62 | -2 | 1 |
| 16 | -4 | 35 | 34 | 8 | 18 | 1300 | 38 | 1650 | 28 | 90 | 5 | 42 | 78 | 22 | 70 | 35 | 7500 | 45 | 4.2 | 45 | 45 | 75 | 70 | -6 | 2 |
| 17 | -3 | 12 | 6 | 1 | 12 | 480 | 82 | 880 | 88 | 25 | 2 | 55 | 28 | 42 | 420 | 58 | 6200 | 35 | 0.18 | 48 | 8 | 22 | 65 | -5 | 1 |
| 18 | -2 | 8 | 2 | 1 | 18 | 1250 | 72 | 1760 | 72 | 12 | 1 | 15 | 12 | 30 | 280 | 42 | 14000 | 38 | 0.35 | 58 | 4 | 35 | 58 | -4 | 1 |
| 19 | -2 | 8 | 5 | 1 | 12 | 180 | 30 | 340 | 60 | 35 | 2 | 72 | 25 | 52 | 520 | 60 | 4800 | 55 | 0.24 | 60 | 6 | 10 | 68 | -4 | 1 |
| 20 | -2 | 22 | 16 | 3 | 46 | 680 | 40 | 1020 | 40 | 22 | 3 | 10 | 18 | 20 | 85 | 30 | 9000 | 48 | 1.8 | 28 | 20 | 30 | 72 | -4 | 1 |
| 21 | -2 | 16 | 6 | 1 | 20 | 510 | 75 | 1180 | 70 | 20 | 2 | 18 | 15 | 28 | 230 | 38 | 12000 | 28 | 0.45 | 55 | 18 | 32 | 62 | -4 | 1 |
| 22 | -4 | 48 | 22 | 4 | 8 | 90 | 32 | 420 | 30 | 48 | 3 | 22 | 38 | 18 | 140 | 25 | 5200 | 18 | 0.7 | 18 | 56 | 48 | 58 | -6 | 1 |
| 23 | 0 | 4 | 0 | 1 | 3 | 65 | 20 | 220 | 92 | 8 | 0 | 45 | 12 | 68 | 690 | 72 | 6500 | 60 | 0.06 | 78 | 0 | 8 | 52 | -4 | 1 |
| 24 | -3 | 16 | 18 | 5 | 15 | 260 | 48 | 640 | 70 | 44 | 3 | 58 | 52 | 55 | 480 | 65 | 5200 | 64 | 0.32 | 72 | 28 | 26 | 65 | -6 | 1 |
)";

const char* const everydayText = R"(
| 25 | 7 | 0 | 0 | 180 | 12 | 14500 | 0 | 0.25 | 0 | 0 | 0 | 65 |
| 26 | 0 | 0 | 7 | 95 | 5 | 18000 | 0 | 0.25 | 20 | 0 | 0 | 60 |
| 27 | 10 | 0 | 0 | 180 | 12 | 11500 | 0 | 0.25 | 0 | 0 | 0 | 70 |
| 28 | 0 | 0 | 12 | 285 | 12 | 18000 | 16 | 0.18 | 22 | 0 | 0 | 50 |
| 29 | 8 | 6 | 0 | 180 | 12 | 18000 | 0 | 0.25 | 0 | 0 | 5 | 35 |
| 30 | 30 | 18 | 0 | 180 | 12 | 18000 | 0 | 0.25 | 0 | 14 | 0 | 25 |
| 31 | 10 | 0 | 0 | 180 | 12 | 10000 | 0 | 0.25 | 0 | 0 | 0 | 45 |
| 32 | 15 | 9 | 0 | 180 | 12 | 8000 | 0 | 0.25 | 0 | 5 | 0 | 30 |
| 33 | 0 | 0 | 0 | 180 | 12 | 18000 | 12 | 0.08 | 25 | 0 | 0 | 55 |
| 34 | 0 | 0 | 14 | 420 | 25 | 18000 | 0 | 0.25 | 32 | 0 | 0 | 45 |
| 35 | 4 | 0 | 0 | 180 | 12 | 16500 | 0 | 0.25 | 0 | 0 | 0 | 35 |
| 36 | 0 | 0 | 0 | 180 | 12 | 18000 | 0 | 0.25 | 12 | 0 | 0 | 35 |
)";

const char* const variationsText = R"(
| 15 "BREAK MY DRUMS" | "GHOST BREAK" | `glitch` 48, `reverse` 64, `delay` 28, `delayTime` 220, `spectralWave` 32, `spark` 38, `mix` 60 |
| 15 "BREAK MY DRUMS" | "DRUM MACHINE DYING" | `drive` 38, `crush` 32, `reduce` 6, `glitch` 76, `division` 4, `chaos` 48, `fold` 30, `spark` 68, `output` -4 |
| 17 "PREPARED NIGHTMARE" | "BROKEN RHODES" | `drive` 20, `crush` 14, `ringFreq` 240, `resFreq` 660, `glitch` 38, `reverse` 42, `tone` 5200, `fold` 18 |
| 17 "PREPARED NIGHTMARE" | "DUSTY ATTIC" | `ring` 20, `resFreq` 1100, `glitch` 46, `division` 3, `reverse` 65, `chaos` 38, `delayTime` 340, `spectralWave` 48 |
| 19 "GHOST SPEAK" | "VOICE SHREDDER" | `glitch` 68, `division` 4, `reverse` 58, `chaos` 38, `delay` 38, `spectralWave` 62, `spark` 28, `output` -5 |
| 19 "GHOST SPEAK" | "TRANSMISSION LOST" | `crush` 20, `reduce` 4, `ring` 24, `ringFreq` 95, `reverse` 80, `delay` 60, `delayTime` 610, `tone` 3200, `chaos` 42 |
| 21 "METAL STRINGS" | "GUITAR ERROR" | `crush` 18, `reduce` 3, `glitch` 48, `division` 3, `reverse` 32, `chaos` 32, `fold` 36, `output` -5 |
| 21 "METAL STRINGS" | "STRING MACHINE" | `ring` 12, `resonance` 82, `resFreq` 1480, `resDecay` 84, `glitch` 10, `delay` 40, `delayTime` 360, `dimension` 68, `fold` 10 |
| 23 "EMPTY SPACE" | "FLOAT" | `ring` 0, `resonance` 14, `glitch` 3, `reverse` 28, `delay` 74, `delayTime` 820, `feedback` 68, `spectralWave` 48, `spectralRate` 0.04, `dimension` 88, `mix` 48 |
| 24 "MEMORY CORRUPT" | "DREAM DECAY" | `drive` 10, `crush` 10, `reduce` 3, `resDecay` 86, `glitch` 30, `reverse` 72, `chaos` 42, `delay` 66, `delayTime` 620, `feedback` 70, `spectralRate` 0.12, `dimension` 82, `fold` 16 |
)";

const std::string missingCell = "\xE2\x80\x94";

std::string trim(const std::string& s)
{
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

std::string unquote(const std::string& s)
{
    return s.size() >= 2 && s.front() == '"' && s.back() == '"' ? s.substr(1, s.size() - 2) : s;
}

// Cells of every "| a | b |" line, outer bars dropped.
std::vector<std::vector<std::string>> cellsOf(const char* text)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
    {
        line = trim(line);
        if (line.empty())
            continue;
        std::vector<std::string> cells;
        std::string cell;
        for (size_t i = 1; i < line.size(); ++i)
        {
            if (line[i] == '|')
            {
                cells.push_back(trim(cell));
                cell.clear();
            }
            else
                cell += line[i];
        }
        rows.push_back(cells);
    }
    return rows;
}

float floatOf(const std::string& s)
{
    char* end = nullptr;
    const float v = std::strtof(s.c_str(), &end);
    EXPECT_EQ(*end, '\0') << "not a number: " << s;
    return v;
}

using Values = std::vector<std::pair<std::string, float>>;

Values valuesOf(const FactoryPreset& preset)
{
    Values out;
    for (const auto& v : preset.values)
        out.emplace_back(v.id.toStdString(), v.value);
    return out;
}

Values valuesOf(const std::vector<ParameterValue>& list)
{
    Values out;
    for (const auto& v : list)
        out.emplace_back(v.id.toStdString(), v.value);
    return out;
}

const std::vector<std::string> classicColumns = {
    "input",        "drive",        "crush",     "reduce",  "ring",  "ringFreq",  "resonance", "resFreq",
    "resDecay",     "glitch",       "division",  "reverse", "delay", "delayTime", "feedback",  "tone",
    "spectralWave", "spectralRate", "dimension", "fold",    "spark", "chaos",     "mix",       "output"};

const std::vector<std::string> newerColumns = {
    "input",     "drive",    "crush",  "reduce",       "ring",         "ringFreq",  "resonance",
    "resFreq",   "resDecay", "glitch", "division",     "reverse",      "chaos",     "delay",
    "delayTime", "feedback", "tone",   "spectralWave", "spectralRate", "dimension", "fold",
    "spark",     "mix",      "output", "autoLevel"};

const Values newerTail = {{"audioQuality", 1.0f},
                          {"macroDamage", 0.0f},
                          {"macroFracture", 0.0f},
                          {"macroSpace", 0.0f},
                          {"macroMotion", 0.0f}};

// Expected value lists for all 37 rows, built from the sheets above.
std::map<int, Values> expectedValues()
{
    std::map<int, Values> expected;
    for (const auto& cells : cellsOf(classicText))
    {
        Values row;
        for (size_t c = 0; c < classicColumns.size(); ++c)
            if (cells[c + 1] != missingCell)
                row.emplace_back(classicColumns[c], floatOf(cells[c + 1]));
        expected[std::stoi(cells[0])] = row;
    }
    for (const auto& cells : cellsOf(showcaseText))
    {
        Values row;
        for (size_t c = 0; c < newerColumns.size(); ++c)
            row.emplace_back(newerColumns[c], floatOf(cells[c + 1]));
        row.insert(row.end(), newerTail.begin(), newerTail.end());
        expected[std::stoi(cells[0])] = row;
    }

    const std::map<std::string, float> everydayTemplate = {
        {"input", 0},     {"reduce", 1},    {"ring", 0},     {"ringFreq", 220}, {"resonance", 0},
        {"resFreq", 440}, {"resDecay", 30}, {"glitch", 0},   {"division", 2},   {"reverse", 0},
        {"chaos", 0},     {"output", 0},    {"autoLevel", 1}};
    const std::vector<std::string> everydayColumns = {"drive",     "crush", "delay",        "delayTime",
                                                      "feedback",  "tone",  "spectralWave", "spectralRate",
                                                      "dimension", "fold",  "spark",        "mix"};
    for (const auto& cells : cellsOf(everydayText))
    {
        std::map<std::string, float> byId = everydayTemplate;
        for (size_t c = 0; c < everydayColumns.size(); ++c)
            byId[everydayColumns[c]] = floatOf(cells[c + 1]);
        Values row;
        for (const auto& id : newerColumns)
        {
            EXPECT_EQ(byId.count(id), 1u) << id;
            row.emplace_back(id, byId[id]);
        }
        row.insert(row.end(), newerTail.begin(), newerTail.end());
        expected[std::stoi(cells[0])] = row;
    }
    return expected;
}

struct ExpectedVariation
{
    std::string name;
    Values overrides;
};

std::map<int, std::vector<ExpectedVariation>> expectedVariations()
{
    std::map<int, std::vector<ExpectedVariation>> expected;
    for (const auto& cells : cellsOf(variationsText))
    {
        ExpectedVariation variation{unquote(cells[1]), {}};
        // "`glitch` 48, `reverse` 64, ..."
        std::istringstream items(cells[2]);
        std::string item;
        while (std::getline(items, item, ','))
        {
            item = trim(item);
            const auto close = item.find('`', 1);
            variation.overrides.emplace_back(item.substr(1, close - 1),
                                             floatOf(trim(item.substr(close + 1))));
        }
        expected[std::stoi(cells[0])].push_back(variation);
    }
    return expected;
}

std::string xmlOf(const juce::ValueTree& tree)
{
    return tree.createXml()->toString().toStdString();
}

juce::RangedAudioParameter* findParameter(const juce::Array<juce::AudioProcessorParameter*>& parameters,
                                          const juce::String& id)
{
    for (auto* p : parameters)
        if (auto* r = dynamic_cast<juce::RangedAudioParameter*>(p); r != nullptr && r->getParameterID() == id)
            return r;
    return nullptr;
}

// A baseline away from the defaults, so a drift or an override shows up as a real change.
juce::ValueTree baselineFor(SorvaneAudioProcessor& processor, int row)
{
    auto tree = processor.captureParameterSnapshot();
    for (const auto& v : factoryPresets()[(size_t)row].values)
        tree.getChildWithProperty("id", v.id).setProperty("value", (double)v.value, nullptr);
    tree.setProperty("tresselVariantName", "LEFT OVER", nullptr);
    return tree;
}

// The draw, written out: a 64-bit LCG over the zero-extended seed, bits 16..47 over 2^32 in float,
// capped at the float just below 1.
class ReferenceDraws
{
public:
    explicit ReferenceDraws(std::uint32_t seed) : state(seed) {}

    float next()
    {
        state = state * 25214903917ull + 11ull;
        const auto bits = (std::uint32_t)((state >> 16) & 0xFFFFFFFFull);
        std::uint32_t capBits = 0x3F7FFFFEu;
        float cap;
        std::memcpy(&cap, &capBits, sizeof cap);
        return std::min((float)bits / 4294967296.0f, cap);
    }

private:
    std::uint64_t state;
};

const char* const driftOrder[] = {"glitch",       "reverse",   "resonance", "delay",
                                  "spectralWave", "dimension", "chaos"};

// What the drift must leave in each of the seven children, computed from the range object directly.
std::map<std::string, double> expectedDrift(const juce::Array<juce::AudioProcessorParameter*>& parameters,
                                            const juce::ValueTree& baseline, std::uint32_t seed, float amount)
{
    std::map<std::string, double> result;
    ReferenceDraws draws(seed);
    for (auto* id : driftOrder)
    {
        const float r = draws.next();
        const auto child = baseline.getChildWithProperty("id", id);
        if (!child.isValid())
            continue;
        const auto& range = findParameter(parameters, id)->getNormalisableRange();
        const float v = range.convertTo0to1(range.snapToLegalValue((float)(double)child["value"]));
        const float x = std::clamp(v + amount * (2.0f * r - 1.0f) * 0.18f, 0.0f, 1.0f);
        result[id] = (double)range.snapToLegalValue(range.convertFrom0to1(x));
    }
    return result;
}

// Every child other than the named ones carries exactly the baseline's value.
void expectOthersUntouched(const juce::ValueTree& baseline, const juce::ValueTree& result,
                           const std::set<std::string>& changed, const std::string& context)
{
    ASSERT_EQ(result.getNumChildren(), baseline.getNumChildren()) << context;
    for (const auto& child : baseline)
    {
        const auto id = child["id"].toString().toStdString();
        if (changed.count(id) != 0)
            continue;
        const auto other = result.getChildWithProperty("id", child["id"]);
        ASSERT_TRUE(other.isValid()) << context << " " << id;
        EXPECT_EQ((double)other["value"], (double)child["value"]) << context << " " << id;
    }
}
} // namespace

//==========================================================================================================
TEST(FactoryPresetTable, EveryRowCarriesItsTexts)
{
    std::map<int, std::string> descriptions;
    for (const auto& cells : cellsOf(descriptionsText))
        descriptions[std::stoi(cells[0])] = unquote(cells[1]);

    const auto rows = cellsOf(rowsText);
    ASSERT_EQ(rows.size(), 37u);
    ASSERT_EQ(factoryPresets().size(), 37u);
    static_assert(sorvane::numFactoryPrograms == 37);

    for (const auto& cells : rows)
    {
        const int index = std::stoi(cells[0]);
        const auto& preset = factoryPresets()[(size_t)index];
        const auto context = "row " + cells[0];
        EXPECT_EQ(preset.name.toStdString(), unquote(cells[1])) << context;
        EXPECT_EQ(preset.category.toStdString(), unquote(cells[2])) << context;
        EXPECT_EQ(preset.tags.toStdString(), unquote(cells[3])) << context;
        EXPECT_EQ(preset.bestSource.toStdString(), unquote(cells[4])) << context;
        EXPECT_EQ(preset.intensity, std::stoi(cells[5])) << context;
        EXPECT_EQ(preset.bank.toStdString(), unquote(cells[6])) << context;
        EXPECT_EQ(preset.description.toStdString(), descriptions[index]) << context;
        EXPECT_EQ(preset.description.isNotEmpty(), index >= 25) << context;
    }
}

TEST(FactoryPresetTable, EveryRowListsItsValuesInOrder)
{
    const auto expected = expectedValues();
    ASSERT_EQ(expected.size(), 37u);
    for (const auto& [index, values] : expected)
    {
        const auto actual = valuesOf(factoryPresets()[(size_t)index]);
        ASSERT_EQ(actual.size(), values.size()) << "row " << index;
        for (size_t i = 0; i < values.size(); ++i)
        {
            EXPECT_EQ(actual[i].first, values[i].first) << "row " << index << " entry " << i;
            EXPECT_EQ(actual[i].second, values[i].second) << "row " << index << " " << values[i].first;
        }
    }
}

TEST(FactoryPresetTable, ClassicRowsLeaveTheirGapsUnlisted)
{
    // Counted by hand from the sheet, independently of the parser above.
    const int listedCounts[37] = {24, 23, 23, 23, 23, 23, 23, 23, 18, 19, 21, 21, 23, 23, 21, 30, 30, 30, 30,
                                  30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30};
    for (int i = 0; i < 37; ++i)
        EXPECT_EQ((int)factoryPresets()[(size_t)i].values.size(), listedCounts[i]) << "row " << i;

    const std::map<int, std::vector<std::string>> gaps = {
        {8, {"input", "crush", "reduce", "glitch", "division", "reverse"}},
        {9, {"input", "reduce", "ring", "ringFreq", "division"}},
        {10, {"input", "resFreq", "resDecay"}},
        {11, {"input", "reduce", "division"}},
        {14, {"input", "reduce", "division"}},
    };
    for (int i = 0; i < 15; ++i)
    {
        std::set<std::string> listed;
        for (const auto& v : factoryPresets()[(size_t)i].values)
            listed.insert(v.id.toStdString());

        std::set<std::string> missing;
        for (const auto& id : classicColumns)
            if (listed.count(id) == 0)
                missing.insert(id);

        std::set<std::string> expectedMissing;
        if (i > 0)
            expectedMissing.insert("input");
        if (auto gap = gaps.find(i); gap != gaps.end())
            expectedMissing.insert(gap->second.begin(), gap->second.end());
        EXPECT_EQ(missing, expectedMissing) << "row " << i;
        // Nothing beyond the classic columns: levels, quality and macros stay as they are.
        EXPECT_EQ(listed.size() + missing.size(), classicColumns.size()) << "row " << i;
    }
}

TEST(FactoryPresetTable, EveryValueIsALegalSettingOfARealParameter)
{
    auto processor = makeProcessor();
    const auto& parameters = processor->getParameters();

    auto check = [&](const ParameterValue& v, const std::string& context)
    {
        auto* p = findParameter(parameters, v.id);
        ASSERT_NE(p, nullptr) << context << " " << v.id;
        const auto& range = p->getNormalisableRange();
        EXPECT_GE(v.value, range.start) << context << " " << v.id;
        EXPECT_LE(v.value, range.end) << context << " " << v.id;
        // The value survives the trip through the parameter, so a host sees exactly it.
        EXPECT_NEAR(p->convertFrom0to1(p->convertTo0to1(v.value)), v.value, 1e-3f) << context << " " << v.id;
        if (auto* choice = dynamic_cast<juce::AudioParameterChoice*>(p))
        {
            EXPECT_EQ(v.value, (float)(int)v.value) << context << " " << v.id;
            EXPECT_LT((int)v.value, choice->choices.size()) << context << " " << v.id;
        }
    };

    int rowsWithVariations = 0;
    for (size_t i = 0; i < factoryPresets().size(); ++i)
    {
        const auto& preset = factoryPresets()[i];
        std::set<juce::String> seen;
        for (const auto& v : preset.values)
        {
            check(v, "row " + std::to_string(i));
            EXPECT_TRUE(seen.insert(v.id).second) << "row " << i << " lists " << v.id << " twice";
        }
        for (const auto& variation : preset.variations)
            for (const auto& v : variation.overrides)
                check(v, "row " + std::to_string(i) + " " + variation.name.toStdString());
        rowsWithVariations += preset.variations.empty() ? 0 : 1;
    }
    EXPECT_EQ(rowsWithVariations, 6);
}

TEST(FactoryPresetTable, EffectiveBankFollowsTheRowThenItsIntensity)
{
    for (size_t i = 0; i < factoryPresets().size(); ++i)
    {
        const char* expected = i < 15 ? "" : (i < 25 ? "Showcase" : "Everyday");
        EXPECT_EQ(sorvane::effectiveFactoryBank(factoryPresets()[i]), expected) << "row " << i;
    }

    struct Case
    {
        const char* bank;
        int intensity;
        const char* expected;
    };
    const Case cases[] = {{"", -1, ""}, {"", 0, "Showcase"},          {"", 100, "Showcase"},
                          {"", -7, ""}, {"Everyday", -1, "Everyday"}, {"Mine", 50, "Mine"}};
    for (const auto& c : cases)
    {
        FactoryPreset preset;
        preset.bank = c.bank;
        preset.intensity = c.intensity;
        EXPECT_EQ(sorvane::effectiveFactoryBank(preset), c.expected) << c.bank << " " << c.intensity;
    }
}

TEST(FactoryPresetTable, SixRowsCarryTheirNamedVariations)
{
    const auto expected = expectedVariations();
    ASSERT_EQ(expected.size(), 6u);
    for (size_t i = 0; i < factoryPresets().size(); ++i)
    {
        const auto& variations = factoryPresets()[i].variations;
        const auto found = expected.find((int)i);
        if (found == expected.end())
        {
            EXPECT_TRUE(variations.empty()) << "row " << i;
            continue;
        }
        ASSERT_EQ(variations.size(), found->second.size()) << "row " << i;
        for (size_t k = 0; k < variations.size(); ++k)
        {
            EXPECT_EQ(variations[k].name.toStdString(), found->second[k].name) << "row " << i;
            EXPECT_EQ(valuesOf(variations[k].overrides), found->second[k].overrides)
                << "row " << i << " " << found->second[k].name;
        }
    }
}

//==========================================================================================================
TEST(FactoryPresetVariation, NamedVariationsSetTheirOverridesExactly)
{
    auto processor = makeProcessor();
    const auto& parameters = processor->getParameters();

    for (int row : {15, 17, 19, 21, 23, 24})
    {
        const auto& preset = factoryPresets()[(size_t)row];
        const auto baseline = baselineFor(*processor, row);
        const auto before = xmlOf(baseline);
        auto variant = makeFactoryVariationFunction(preset, parameters);

        for (size_t k = 0; k < preset.variations.size(); ++k)
        {
            const auto& variation = preset.variations[k];
            const auto context = "row " + std::to_string(row) + " " + variation.name.toStdString();
            const auto result = variant(baseline, 0x1234u + 7919u * (std::uint32_t)k, 0.6f);

            EXPECT_EQ(result["tresselVariantName"].toString(), variation.name) << context;
            std::set<std::string> changed;
            for (const auto& o : variation.overrides)
            {
                const auto child = result.getChildWithProperty("id", o.id);
                ASSERT_TRUE(child.isValid()) << context;
                EXPECT_TRUE(child["value"].isDouble()) << context << " " << o.id;
                EXPECT_EQ((double)child["value"], (double)o.value) << context << " " << o.id;
                changed.insert(o.id.toStdString());
            }
            expectOthersUntouched(baseline, result, changed, context);
        }
        EXPECT_EQ(xmlOf(baseline), before) << "the baseline itself must not change, row " << row;
    }
}

TEST(FactoryPresetVariation, AnOverrideWithoutAChildIsSkipped)
{
    auto processor = makeProcessor();
    const auto& preset = factoryPresets()[15];
    auto baseline = baselineFor(*processor, 15);
    baseline.removeChild(baseline.getChildWithProperty("id", "reverse"), nullptr);
    baseline.removeChild(baseline.getChildWithProperty("id", "mix"), nullptr);

    auto variant = makeFactoryVariationFunction(preset, processor->getParameters());
    const auto result = variant(baseline, 99u, 0.5f);

    EXPECT_FALSE(result.getChildWithProperty("id", "reverse").isValid());
    EXPECT_FALSE(result.getChildWithProperty("id", "mix").isValid());
    EXPECT_EQ((double)result.getChildWithProperty("id", "glitch")["value"], 48.0);
    EXPECT_EQ((double)result.getChildWithProperty("id", "spark")["value"], 38.0);
    EXPECT_EQ(result["tresselVariantName"].toString(), "GHOST BREAK");
    expectOthersUntouched(baseline, result, {"glitch", "delay", "delayTime", "spectralWave", "spark"},
                          "row 15");
}

TEST(FactoryPresetVariation, CallsBeyondTheVariationsDriftSevenParameters)
{
    auto processor = makeProcessor();
    const auto& parameters = processor->getParameters();
    const std::set<std::string> drifted(std::begin(driftOrder), std::end(driftOrder));

    struct Case
    {
        int row;
        std::uint32_t seeds[4];
        float amount;
    };
    const Case cases[] = {
        {23, {1397247854u, 1397255773u, 1397263692u, 1397271611u}, 0.35f}, // one variation, then three drifts
        {15, {1u, 7920u, 15839u, 23758u}, 0.8f},                           // two, then two
        {16, {0u, 0xFFFFFFFFu, 0x80000000u, 12345u}, 0.5f},                // none: every call drifts
        {24, {77u, 7996u, 15915u, 23834u}, 5.0f},                          // wide enough to hit the ends
    };

    bool reachedAnEnd = false;
    for (const auto& c : cases)
    {
        const auto& preset = factoryPresets()[(size_t)c.row];
        const auto baseline = baselineFor(*processor, c.row);
        auto variant = makeFactoryVariationFunction(preset, parameters);

        for (size_t k = 0; k < 4; ++k)
        {
            const auto result = variant(baseline, c.seeds[k], c.amount);
            if (k < preset.variations.size())
            {
                EXPECT_EQ(result["tresselVariantName"].toString(), preset.variations[k].name);
                continue;
            }

            const auto context = "row " + std::to_string(c.row) + " call " + std::to_string(k);
            EXPECT_FALSE(result.hasProperty("tresselVariantName")) << context;
            const auto expected = expectedDrift(parameters, baseline, c.seeds[k], c.amount);
            ASSERT_EQ(expected.size(), 7u);
            int moved = 0;
            for (const auto& [id, value] : expected)
            {
                const auto child = result.getChildWithProperty("id", juce::String(id));
                EXPECT_TRUE(child["value"].isDouble()) << context << " " << id;
                EXPECT_EQ((double)child["value"], value) << context << " " << id;
                const auto before = (double)baseline.getChildWithProperty("id", juce::String(id))["value"];
                moved += (double)child["value"] != before ? 1 : 0;
                const auto& range = findParameter(parameters, id)->getNormalisableRange();
                reachedAnEnd = reachedAnEnd || value == range.start || value == range.end;
            }
            EXPECT_GE(moved, 5) << context;
            expectOthersUntouched(baseline, result, drifted, context);
        }
    }
    EXPECT_TRUE(reachedAnEnd) << "the wide case should clamp at least one value";
}

TEST(FactoryPresetVariation, ADriftedIdWithoutAChildStillTakesItsDraw)
{
    auto processor = makeProcessor();
    const auto& parameters = processor->getParameters();
    auto baseline = baselineFor(*processor, 16);
    baseline.removeChild(baseline.getChildWithProperty("id", "reverse"), nullptr);

    auto variant = makeFactoryVariationFunction(factoryPresets()[16], parameters);
    const auto result = variant(baseline, 4242u, 0.7f);

    EXPECT_FALSE(result.getChildWithProperty("id", "reverse").isValid());
    const auto expected = expectedDrift(parameters, baseline, 4242u, 0.7f);
    ASSERT_EQ(expected.size(), 6u);
    for (const auto& [id, value] : expected)
        EXPECT_EQ((double)result.getChildWithProperty("id", juce::String(id))["value"], value) << id;
}

TEST(FactoryPresetVariation, EachFunctionCountsItsOwnCallsAndCopiesShareThem)
{
    auto processor = makeProcessor();
    const auto& parameters = processor->getParameters();
    const auto& preset = factoryPresets()[19];
    const auto baseline = baselineFor(*processor, 19);

    auto first = makeFactoryVariationFunction(preset, parameters);
    EXPECT_EQ(first(baseline, 1u, 0.4f)["tresselVariantName"].toString(), "VOICE SHREDDER");

    // The generator may hold a copy; it continues the same count.
    auto copy = first;
    EXPECT_EQ(copy(baseline, 2u, 0.4f)["tresselVariantName"].toString(), "TRANSMISSION LOST");
    EXPECT_FALSE(first(baseline, 3u, 0.4f).hasProperty("tresselVariantName"));

    auto second = makeFactoryVariationFunction(preset, parameters);
    EXPECT_EQ(second(baseline, 1u, 0.4f)["tresselVariantName"].toString(), "VOICE SHREDDER");
}

TEST(FactoryPresetVariation, TheSameSeedsGiveIdenticalTrees)
{
    auto processor = makeProcessor();
    const auto& parameters = processor->getParameters();
    const std::uint32_t seeds[4] = {1397247854u, 1397255773u, 1397263692u, 1397271611u};

    for (int row : {15, 16, 23})
    {
        const auto baseline = baselineFor(*processor, row);
        auto a = makeFactoryVariationFunction(factoryPresets()[(size_t)row], parameters);
        auto b = makeFactoryVariationFunction(factoryPresets()[(size_t)row], parameters);
        auto c = makeFactoryVariationFunction(factoryPresets()[(size_t)row], parameters);
        for (size_t k = 0; k < 4; ++k)
        {
            const auto fromA = xmlOf(a(baseline, seeds[k], 0.35f));
            EXPECT_EQ(fromA, xmlOf(b(baseline, seeds[k], 0.35f))) << "row " << row << " call " << k;
            const auto fromC = xmlOf(c(baseline, seeds[k] + 1u, 0.35f));
            if (k >= factoryPresets()[(size_t)row].variations.size())
            {
                EXPECT_NE(fromA, fromC) << "another seed must drift differently, row " << row;
            }
        }
    }
}
