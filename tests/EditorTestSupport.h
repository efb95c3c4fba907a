#pragma once

#include <unistd.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "advisor/SetupPerformanceAdvisor.h"

#include <cstdlib>
#include <string>

namespace sorvane::test
{
// Points HOME at a fresh folder for the lifetime of the object, so that special folders (and every
// settings file below them) resolve inside it; restores HOME and removes the folder afterwards.
class ScopedTemporaryHome
{
public:
    ScopedTemporaryHome()
    {
        if (const char* home = std::getenv("HOME"))
        {
            hadHome = true;
            previousHome = home;
        }

        folder =
            juce::File::getSpecialLocation(juce::File::tempDirectory)
                .getNonexistentChildFile("sorvane-test-home-" + juce::String((int)::getpid()), {}, false);
        folder.createDirectory();
        ::setenv("HOME", folder.getFullPathName().toRawUTF8(), 1);
    }

    ~ScopedTemporaryHome()
    {
        if (hadHome)
            ::setenv("HOME", previousHome.c_str(), 1);
        else
            ::unsetenv("HOME");
        folder.deleteRecursively();
    }

    const juce::File& getFolder() const noexcept { return folder; }

private:
    juce::File folder;
    std::string previousHome;
    bool hadHome = false;

    JUCE_DECLARE_NON_COPYABLE(ScopedTemporaryHome)
};

// A temporary home in which the setup advisor counts as seen: its first-run offer would cover windows
// that tests about something else put on screen.
class AcknowledgedTemporaryHome : public ScopedTemporaryHome
{
public:
    AcknowledgedTemporaryHome()
    {
        juce::String error;
        sorvane::SetupPerformanceAdvisor::acknowledge(
            sorvane::SetupPerformanceAdvisor::defaultAcknowledgementFile(), sorvane::advisorProductVersion,
            sorvane::advisorInstanceCeiling, error);
    }
};

// Runs the message loop briefly, so that asynchronous clicks and timers are delivered.
inline void pumpMessages(int milliseconds = 30)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil(milliseconds);
}

// Paints a component (and its visible children) into a transparent image of its own size.
inline juce::Image paintToImage(juce::Component& component)
{
    juce::Image image(juce::Image::ARGB, juce::jmax(1, component.getWidth()),
                      juce::jmax(1, component.getHeight()), true);
    juce::Graphics g(image);
    component.paintEntireComponent(g, true);
    return image;
}

// The first component with this ID in a tree, depth first; null when there is none.
inline juce::Component* findById(juce::Component& root, const juce::String& id)
{
    if (root.getComponentID() == id)
        return &root;
    for (auto* child : root.getChildren())
        if (auto* found = findById(*child, id))
            return found;
    return nullptr;
}

// Largest per-channel difference of the RGB parts of two colours.
inline int rgbDistance(juce::Colour a, juce::Colour b)
{
    return juce::jmax(std::abs((int)a.getRed() - (int)b.getRed()),
                      std::abs((int)a.getGreen() - (int)b.getGreen()),
                      std::abs((int)a.getBlue() - (int)b.getBlue()));
}
} // namespace sorvane::test
