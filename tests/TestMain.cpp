#include <juce_events/juce_events.h>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Processors, parameters and editors expect JUCE's message machinery to exist.
    juce::ScopedJuceInitialiser_GUI juce;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
