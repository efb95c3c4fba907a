#include "presets/FactoryPresets.h"

#include <cmath>
#include <initializer_list>
#include <iterator>
#include <limits>

namespace sorvane
{
namespace
{
// Marks a parameter a classic row leaves alone.
constexpr float keep = std::numeric_limits<float>::quiet_NaN();

constexpr const char* classicColumns[] = {
    "input",        "drive",        "crush",     "reduce",  "ring",  "ringFreq",  "resonance", "resFreq",
    "resDecay",     "glitch",       "division",  "reverse", "delay", "delayTime", "feedback",  "tone",
    "spectralWave", "spectralRate", "dimension", "fold",    "spark", "chaos",     "mix",       "output"};

// The first 25 of the 30 parameters every newer row lists; the quality and macro entries follow.
constexpr const char* fullColumns[] = {"input",    "drive",     "crush",        "reduce",       "ring",
                                       "ringFreq", "resonance", "resFreq",      "resDecay",     "glitch",
                                       "division", "reverse",   "chaos",        "delay",        "delayTime",
                                       "feedback", "tone",      "spectralWave", "spectralRate", "dimension",
                                       "fold",     "spark",     "mix",          "output",       "autoLevel"};

constexpr const char* fixedTail[] = {"audioQuality", "macroDamage", "macroFracture", "macroSpace",
                                     "macroMotion"};
constexpr float fixedTailValues[] = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f};

std::vector<ParameterValue> classic(std::initializer_list<float> row)
{
    jassert(row.size() == std::size(classicColumns));
    std::vector<ParameterValue> values;
    auto column = std::begin(classicColumns);
    for (float v : row)
    {
        if (!std::isnan(v))
            values.push_back({*column, v});
        ++column;
    }
    return values;
}

std::vector<ParameterValue> full(std::initializer_list<float> row)
{
    jassert(row.size() == std::size(fullColumns));
    std::vector<ParameterValue> values;
    auto column = std::begin(fullColumns);
    for (float v : row)
        values.push_back({*column++, v});
    for (size_t i = 0; i < std::size(fixedTail); ++i)
        values.push_back({fixedTail[i], fixedTailValues[i]});
    return values;
}

// The Everyday rows share one restrained template and differ only in these twelve settings.
std::vector<ParameterValue> everyday(float drive, float crush, float delay, float delayTime, float feedback,
                                     float tone, float spectralWave, float spectralRate, float dimension,
                                     float fold, float spark, float mix)
{
    // clang-format off
    return full({0, drive, crush, 1, 0, 220, 0, 440, 30, 0, 2, 0, 0,
                 delay, delayTime, feedback, tone, spectralWave, spectralRate, dimension, fold, spark, mix,
                 0, 1});
    // clang-format on
}

// clang-format off
std::array<FactoryPreset, numFactoryPrograms> buildFactoryPresets()
{
    return {{
        // The classic set.
        {"Init / subtle motion",
         classic({0, 8, 4, 1, 0, 220, 8, 440, 35, 0, 2, 0,
                  12, 180, 22, 14500, 8, 0.4f, 10, 0, 4, 5, 100, 0}),
         "Ambient", "Bright,Wide", "", -1, {}, "", ""},
        {"Aluminium insect",
         classic({keep, 32, 18, 3, 48, 1367, 58, 731, 78, 18, 4, 22,
                  16, 37, 43, 9400, 45, 2.8f, 64, 18, 38, 21, 82, -4}),
         "Metallic", "Bright,Tonal,Extreme", "", -1, {}, "", ""},
        {"Broken maths",
         classic({keep, 21, 37, 7, 21, 547, 25, 1180, 52, 72, 4, 63,
                  21, 91, 57, 6700, 68, 5.2f, 36, 46, 62, 58, 100, -5}),
         "Broken", "Dark,Rhythmic,Extreme", "", -1, {}, "", ""},
        {"Prepared piano ghost",
         classic({keep, 13, 7, 1, 8, 91, 68, 329.6f, 91, 9, 2, 36,
                  34, 412, 61, 11200, 38, 0.22f, 72, 8, 27, 12, 76, -6}),
         "Resonant", "Dark,Tonal,Wide", "", -1, {}, "", ""},
        {"Microdrum shredder",
         classic({keep, 47, 41, 5, 9, 81, 19, 2100, 31, 84, 5, 51,
                  8, 24, 28, 5200, 61, 7.4f, 43, 75, 78, 36, 100, -7}),
         "Rhythmic", "Bright,Rhythmic,Extreme", "", -1, {}, "", ""},
        {"Underwater modem",
         classic({keep, 37, 25, 9, 64, 173, 31, 116, 73, 31, 3, 71,
                  49, 268, 72, 3100, 72, 0.12f, 82, 29, 54, 68, 91, -7}),
         "Broken", "Dark,Wide,Extreme", "", -1, {}, "", ""},
        {"Glass corridor",
         classic({keep, 9, 3, 1, 12, 2360, 74, 1568, 94, 14, 1, 81,
                  58, 529, 79, 16700, 55, 0.35f, 91, 5, 49, 18, 69, -9}),
         "Space", "Bright,Tonal,Wide", "", -1, {}, "", ""},
        {"Total nervous system",
         classic({keep, 58, 52, 13, 53, 903, 63, 1288, 87, 93, 5, 77,
                  46, 119, 83, 4300, 83, 4.4f, 68, 88, 91, 92, 100, -10}),
         "Destroy", "Dark,Rhythmic,Extreme", "", -1, {}, "", ""},
        {"Orbiting chrome",
         classic({keep, 22, keep, keep, 33, 1840, 42, 880, 64, keep, keep, keep,
                  38, 57, 47, 14800, 29, 0.8f, 98, 12, 66, 28, 86, -4}),
         "Metallic", "Bright,Tonal,Wide", "", -1, {}, "", ""},
        {"Folded cathedral",
         classic({keep, 18, 12, keep, keep, keep, 82, 196, 96, 11, keep, 28,
                  43, 682, 69, 7200, 47, 0.18f, 54, 94, 72, 24, 79, -7}),
         "Resonant", "Dark,Tonal,Wide", "", -1, {}, "", ""},
        {"Neon shrapnel",
         classic({keep, 63, 46, 9, 72, 2270, 18, keep, keep, 67, 5, 86,
                  19, 18, 34, 6100, 77, 8.2f, 61, 71, 97, 73, 100, -9}),
         "Destroy", "Bright,Rhythmic,Extreme", "", -1, {}, "", ""},
        {"Tidal machine",
         classic({keep, 15, 5, keep, 17, 67, 52, 433, 72, 24, keep, 47,
                  74, 817, 76, 2600, 86, 0.07f, 87, 21, 35, 79, 88, -8}),
         "Space", "Dark,Rhythmic,Wide", "", -1, {}, "", ""},
        {"Signal bloom",
         classic({keep, 29, 14, 2, 11, 512, 73, 704, 88, 37, 2, 19,
                  63, 347, 82, 17800, 63, 1.7f, 76, 33, 84, 43, 93, -6}),
         "Ambient", "Bright,Tonal,Wide", "", -1, {}, "", ""},
        {"Black ice algorithm",
         classic({keep, 44, 32, 6, 39, 318, 57, 1470, 68, 58, 3, 64,
                  52, 173, 66, 3800, 74, 3.3f, 73, 57, 59, 88, 96, -8}),
         "Experimental", "Dark,Rhythmic,Extreme", "", -1, {}, "", ""},
        {"Soft machine dream",
         classic({keep, 7, 2, keep, 4, 246, 36, 523, 58, 4, keep, 12,
                  28, 226, 38, 13200, 21, 0.11f, 47, 3, 19, 8, 72, -3}),
         "Ambient", "Dark,Tonal,Wide", "", -1, {}, "", ""},

        // The Showcase set.
        {"BREAK MY DRUMS",
         full({-1, 24, 18, 4, 8, 420, 25, 720, 35, 58, 3, 20, 18,
               12, 110, 22, 11000, 18, 0.65f, 20, 12, 55, 62, -2, 1}),
         "Rhythmic", "glitch,drums,fracture", "drums", 65,
         {{"GHOST BREAK",
           {{"glitch", 48}, {"reverse", 64}, {"delay", 28}, {"delayTime", 220}, {"spectralWave", 32},
            {"spark", 38}, {"mix", 60}}},
          {"DRUM MACHINE DYING",
           {{"drive", 38}, {"crush", 32}, {"reduce", 6}, {"glitch", 76}, {"division", 4}, {"chaos", 48},
            {"fold", 30}, {"spark", 68}, {"output", -4}}}},
         "", ""},
        {"128TH PANIC",
         full({-4, 35, 34, 8, 18, 1300, 38, 1650, 28, 90, 5, 42, 78,
               22, 70, 35, 7500, 45, 4.2f, 45, 45, 75, 70, -6, 2}),
         "Destroy", "microedit,extreme,chaos", "drums", 95, {}, "", ""},
        {"PREPARED NIGHTMARE",
         full({-3, 12, 6, 1, 12, 480, 82, 880, 88, 25, 2, 55, 28,
               42, 420, 58, 6200, 35, 0.18f, 48, 8, 22, 65, -5, 1}),
         "Resonant", "piano,metallic,ghost", "piano", 70,
         {{"BROKEN RHODES",
           {{"drive", 20}, {"crush", 14}, {"ringFreq", 240}, {"resFreq", 660}, {"glitch", 38},
            {"reverse", 42}, {"tone", 5200}, {"fold", 18}}},
          {"DUSTY ATTIC",
           {{"ring", 20}, {"resFreq", 1100}, {"glitch", 46}, {"division", 3}, {"reverse", 65}, {"chaos", 38},
            {"delayTime", 340}, {"spectralWave", 48}}}},
         "", ""},
        {"GLASS PIANO",
         full({-2, 8, 2, 1, 18, 1250, 72, 1760, 72, 12, 1, 15, 12,
               30, 280, 42, 14000, 38, 0.35f, 58, 4, 35, 58, -4, 1}),
         "Tonal", "glass,bells,bright", "piano", 55, {}, "", ""},
        {"GHOST SPEAK",
         full({-2, 8, 5, 1, 12, 180, 30, 340, 60, 35, 2, 72, 25,
               52, 520, 60, 4800, 55, 0.24f, 60, 6, 10, 68, -4, 1}),
         "Vocal", "reverse,dark,spectral", "vocal", 65,
         {{"VOICE SHREDDER",
           {{"glitch", 68}, {"division", 4}, {"reverse", 58}, {"chaos", 38}, {"delay", 38},
            {"spectralWave", 62}, {"spark", 28}, {"output", -5}}},
          {"TRANSMISSION LOST",
           {{"crush", 20}, {"reduce", 4}, {"ring", 24}, {"ringFreq", 95}, {"reverse", 80}, {"delay", 60},
            {"delayTime", 610}, {"tone", 3200}, {"chaos", 42}}}},
         "", ""},
        {"ANDROID",
         full({-2, 22, 16, 3, 46, 680, 40, 1020, 40, 22, 3, 10, 18,
               20, 85, 30, 9000, 48, 1.8f, 28, 20, 30, 72, -4, 1}),
         "Vocal", "robot,ring,metallic", "vocal", 70, {}, "", ""},
        {"METAL STRINGS",
         full({-2, 16, 6, 1, 20, 510, 75, 1180, 70, 20, 2, 18, 15,
               28, 230, 38, 12000, 28, 0.45f, 55, 18, 32, 62, -4, 1}),
         "Resonant", "guitar,metallic,body", "guitar", 60,
         {{"GUITAR ERROR",
           {{"crush", 18}, {"reduce", 3}, {"glitch", 48}, {"division", 3}, {"reverse", 32}, {"chaos", 32},
            {"fold", 36}, {"output", -5}}},
          {"STRING MACHINE",
           {{"ring", 12}, {"resonance", 82}, {"resFreq", 1480}, {"resDecay", 84}, {"glitch", 10},
            {"delay", 40}, {"delayTime", 360}, {"dimension", 68}, {"fold", 10}}}},
         "", ""},
        {"BROKEN AMP",
         full({-4, 48, 22, 4, 8, 90, 32, 420, 30, 48, 3, 22, 38,
               18, 140, 25, 5200, 18, 0.7f, 18, 56, 48, 58, -6, 1}),
         "Destroy", "guitar,crushed,fold", "guitar", 80, {}, "", ""},
        {"EMPTY SPACE",
         full({0, 4, 0, 1, 3, 65, 20, 220, 92, 8, 0, 45, 12,
               68, 690, 72, 6500, 60, 0.06f, 78, 0, 8, 52, -4, 1}),
         "Ambient", "huge,slow,dark", "pad/string", 40,
         {{"FLOAT",
           {{"ring", 0}, {"resonance", 14}, {"glitch", 3}, {"reverse", 28}, {"delay", 74}, {"delayTime", 820},
            {"feedback", 68}, {"spectralWave", 48}, {"spectralRate", 0.04f}, {"dimension", 88},
            {"mix", 48}}}},
         "", ""},
        {"MEMORY CORRUPT",
         full({-3, 16, 18, 5, 15, 260, 48, 640, 70, 44, 3, 58, 52,
               55, 480, 65, 5200, 64, 0.32f, 72, 28, 26, 65, -6, 1}),
         "Experimental", "spectral,reverse,unstable", "anything", 70,
         {{"DREAM DECAY",
           {{"drive", 10}, {"crush", 10}, {"reduce", 3}, {"resDecay", 86}, {"glitch", 30}, {"reverse", 72},
            {"chaos", 42}, {"delay", 66}, {"delayTime", 620}, {"feedback", 70}, {"spectralRate", 0.12f},
            {"dimension", 82}, {"fold", 16}}}},
         "", ""},

        // The Everyday set.
        {"Vocal - Soft warmth", everyday(7, 0, 0, 180, 12, 14500, 0, 0.25f, 0, 0, 0, 65),
         "Everyday", "Warmth,everyday", "vocal", 18, {}, "Everyday",
         "A restrained drive layer with a softer top; compare with bypass at matched level."},
        {"Vocal - Air and width", everyday(0, 0, 7, 95, 5, 18000, 0, 0.25f, 20, 0, 0, 60),
         "Everyday", "Width,everyday", "vocal", 25, {}, "Everyday",
         "Small stereo movement and a short quiet echo; check mono compatibility."},
        {"Guitar - Rounded edge", everyday(10, 0, 0, 180, 12, 11500, 0, 0.25f, 0, 0, 0, 70),
         "Everyday", "Warmth,everyday", "guitar", 22, {}, "Everyday",
         "Round the upper edge with mild drive and a lower tone cutoff."},
        {"Guitar - Moving halo", everyday(0, 0, 12, 285, 12, 18000, 16, 0.18f, 22, 0, 0, 50),
         "Everyday", "Motion,everyday", "guitar", 35, {}, "Everyday",
         "Slow spectral movement around the dry guitar; reduce mix for exposed parts."},
        {"Drums - Light grain", everyday(8, 6, 0, 180, 12, 18000, 0, 0.25f, 0, 0, 5, 35),
         "Everyday", "Texture,everyday", "drums", 24, {}, "Everyday",
         "Blend a small amount of grain and excitation; no transient-protection claim."},
        {"Drums - Parallel bite", everyday(30, 18, 0, 180, 12, 18000, 0, 0.25f, 0, 14, 0, 25),
         "Everyday", "Destruction,everyday", "drums", 48, {}, "Everyday",
         "A deliberately low parallel mix of rough drive and folding."},
        {"Bass - Soft harmonics", everyday(10, 0, 0, 180, 12, 10000, 0, 0.25f, 0, 0, 0, 45),
         "Everyday", "Warmth,everyday", "bass", 18, {}, "Everyday",
         "Mild full-band drive for extra harmonics; check the low end by ear."},
        {"Bass - Worn edge", everyday(15, 9, 0, 180, 12, 8000, 0, 0.25f, 0, 5, 0, 30),
         "Everyday", "Texture,everyday", "bass", 32, {}, "Everyday",
         "A quiet rough edge alongside the dry bass; not frequency-selective protection."},
        {"Pad - Slow drift", everyday(0, 0, 0, 180, 12, 18000, 12, 0.08f, 25, 0, 0, 55),
         "Everyday", "Motion,everyday", "pad", 28, {}, "Everyday",
         "Slow movement and modest width with no fracture or reverse."},
        {"Pad - Open sides", everyday(0, 0, 14, 420, 25, 18000, 0, 0.25f, 32, 0, 0, 45),
         "Everyday", "Width,everyday", "pad", 32, {}, "Everyday",
         "Spread a sustained pad with a restrained echo; check stereo and mono."},
        {"Full mix - Gentle colour", everyday(4, 0, 0, 180, 12, 16500, 0, 0.25f, 0, 0, 0, 35),
         "Everyday", "Warmth,everyday", "full mix", 12, {}, "Everyday",
         "A low-depth full-band colour starting point; compare at matched loudness."},
        {"Full mix - Small width", everyday(0, 0, 0, 180, 12, 18000, 0, 0.25f, 12, 0, 0, 35),
         "Everyday", "Width,everyday", "full mix", 15, {}, "Everyday",
         "A small stereo blend without rhythmic chopping; verify mono compatibility."},
    }};
}
// clang-format on
} // namespace

const std::array<FactoryPreset, numFactoryPrograms>& factoryPresets()
{
    static const auto table = buildFactoryPresets();
    return table;
}

juce::String effectiveFactoryBank(const FactoryPreset& preset)
{
    if (preset.bank.isNotEmpty())
        return preset.bank;
    return preset.intensity >= 0 ? juce::String("Showcase") : juce::String();
}
} // namespace sorvane
