// The host tests' program: a private home, no X server unless one is given, and the reference renders
// removed at the end.

#include "plugins/HostedPlugin.h"

#include <X11/Xlib.h>

#include <cstdlib>

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
    // Without DISPLAY, JUCE (here and in each plug-in) falls back to ":0.0" and would tie the tests to
    // whatever X server runs there.
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == 0)
        ::setenv("DISPLAY", ":-1", 1);
    XSetErrorHandler(ignoreXError);
    // The plug-ins and the reference renderer scan and index the user's presets: never the real ones.
    const auto home = juce::File::createTempFile("sorvane-plugin-home");
    home.createDirectory();
    ::setenv("HOME", home.getFullPathName().toRawUTF8(), 1);

    int result = 1;
    {
        juce::ScopedJuceInitialiser_GUI juce;
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (sorvane::plugintest::renderedFolder != juce::File())
        sorvane::plugintest::renderedFolder.deleteRecursively();
    home.deleteRecursively();
    return result;
}
