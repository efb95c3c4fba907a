#include "editor/TuningNotes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using sorvane::parseTuning;
using sorvane::tuningNote;

TEST(TuningNotes, NamesTheNearestNoteWithOctaveAndCents)
{
    struct Case
    {
        double hz;
        const char* expected;
    };
    const Case cases[] = {
        {440.0, "A4"},           {261.6256, "C4"},
        {445.0, "A4 +19.6c"},    {435.0, "A4 -19.8c"},
        {880.0, "A5"},           {220.0, "A3"},
        {277.1826, "C#4"},       {246.9417, "B3"}, // the octave changes at C, not at A
        {261.6256 / 2.0, "C3"},  {16.3516, "C0"},
        {8.1758, "C-1"},         {4.0879, "C-2"},
        {7.7169, "B-2"}, // pitch class and octave of a negative note number
        {4000.0, "B7 +21.3c"},   {30.0, "B0 -49.4c"},
        {452.893, "A#4 -50.0c"}, // just past half way: the note above, with negative cents
        {440.01, "A4"},          // under 0.05 cents is not shown
    };

    for (const auto& c : cases)
        EXPECT_EQ(tuningNote(c.hz), c.expected) << c.hz;
}

TEST(TuningNotes, NoNameForAnythingButAPositiveFrequency)
{
    for (const double hz :
         {0.0, -440.0, -0.0, std::numeric_limits<double>::quiet_NaN(),
          std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()})
        EXPECT_EQ(tuningNote(hz), "") << hz;
}

TEST(TuningNotes, ParsesNotesAndFrequencies)
{
    struct Case
    {
        const char* text;
        double hz;
    };
    const Case cases[] = {
        {"A4", 440.0},
        {"a4", 440.0},
        {"C#3", 138.591315},
        {"c#3", 138.591315},
        {"Db3", 138.591315},
        {"Bb2", 116.540940},
        {"C4", 261.625565},
        {"B#3", 261.625565},
        {"Cb5", 493.883301},
        {"A-1", 13.75},
        {"C-2", 4.087899},
        {"G10", 25087.707903},
        {"A4 +50c", 452.892984},
        {"A4-100c", 415.304698},
        {"A4 +12.5c", 443.188421},
        {"  A4  ", 440.0},
        {"440", 440.0},
        {"440hz", 440.0},
        {"440 Hz", 440.0},
        {"440HZ", 440.0},
        {"440 hZ", 440.0},
        {"1000.5", 1000.5},
        {"0.5", 0.5},
        {"007", 7.0},
    };

    for (const auto& c : cases)
    {
        double hz = -1.0;
        juce::String error;
        EXPECT_TRUE(parseTuning(c.text, hz, error)) << c.text << ": " << error;
        EXPECT_NEAR(hz, c.hz, 1e-5) << c.text;
        EXPECT_TRUE(error.isEmpty()) << c.text;
    }
}

TEST(TuningNotes, RejectsEverythingElseWithAReason)
{
    const char* cases[] = {
        "H4",     "A11",     "A-3", "A",    "#4",    "A#",   "AA4", "A4c",  "A4 +c",    "A4 50c",
        "A4 +50", "A4 +50C", "A 4", "A4.5", "Ab#4",  "A##4", "AB4", "-440", "440 kHz",  "440Hz!",
        "4 40",   ".5",      "5.",  "1e3",  "0x1B8", "",     "   ", "abc",  "A4 + 50c", "A99999999999",
    };

    for (const auto* text : cases)
    {
        double hz = 123.0;
        juce::String error;
        EXPECT_FALSE(parseTuning(text, hz, error)) << text;
        EXPECT_EQ(hz, 123.0) << text;
        EXPECT_TRUE(error.isNotEmpty()) << text;
    }
}
