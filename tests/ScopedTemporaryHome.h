#pragma once

#include <juce_core/juce_core.h>

#include <cstdlib>

namespace sorvane::test
{
// Points HOME at a fresh folder for the lifetime of the object, so settings files land there and
// never in the real user's folders.
class ScopedTemporaryHome
{
public:
    ScopedTemporaryHome()
        : folder(juce::File::getSpecialLocation(juce::File::tempDirectory)
                     .getNonexistentChildFile("sorvane-home", ""))
    {
        folder.createDirectory();
        if (const char* previous = std::getenv("HOME"))
            savedHome = previous;
        setenv("HOME", folder.getFullPathName().toRawUTF8(), 1);
    }

    ~ScopedTemporaryHome()
    {
        if (savedHome.isNotEmpty())
            setenv("HOME", savedHome.toRawUTF8(), 1);
        else
            unsetenv("HOME");
        folder.deleteRecursively();
    }

    const juce::File& getFolder() const noexcept { return folder; }

private:
    juce::File folder;
    juce::String savedHome;
};
} // namespace sorvane::test
