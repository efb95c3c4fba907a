#include <juce_events/juce_events.h>

#include "EditorTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    // Without DISPLAY, JUCE falls back to ":0.0" and would tie the tests to whatever X server runs
    // there (and end them when it goes away). No test puts a window on screen, so name a display that
    // cannot exist.
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == 0)
        ::setenv("DISPLAY", ":-1", 1);

    // Every processor scans the user's preset folder and writes the preset index: never the real one.
    sorvane::test::ScopedTemporaryHome home;

    // Processors, parameters and editors expect JUCE's message machinery to exist.
    juce::ScopedJuceInitialiser_GUI juce;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
