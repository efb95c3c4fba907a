#include <juce_events/juce_events.h>

#include <gtest/gtest.h>

#include <X11/Xlib.h>

namespace
{
// JUCE installs a lenient X error handler only inside a JUCE application; without it Xlib's default
// handler ends the test on harmless errors (a BadAtom from a missing window manager on Xvfb).
int ignoreXError(Display*, XErrorEvent*)
{
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    XSetErrorHandler(ignoreXError);
    juce::ScopedJuceInitialiser_GUI juce;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
