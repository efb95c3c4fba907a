#pragma once

#include "app/ReleaseCommandLine.h"

#include <juce_core/juce_core.h>

namespace sorvane
{
// What a user (or a desktop file manager) can put on the application's command line besides the
// release options: a help or version request, and an audio file to open as the source.
struct AppCommandLine
{
    bool helpRequested = false;
    bool versionRequested = false;
    juce::File sourceFile;            // the last argument that is not an option; empty when none
    juce::StringArray unknownOptions; // options nobody knows, to tell the user about
    ReleaseCommandLine release;

    // Answered on standard output alone: no window, no display, no single-instance lock.
    bool isInformationRequest() const noexcept { return helpRequested || versionRequested; }
};

// Splits like the release options (whitespace, double quotes group). Relative paths are taken from
// workingDirectory.
AppCommandLine parseAppCommandLine(const juce::String& commandLine, const juce::File& workingDirectory);

// The command line a second launch hands to the running instance: the same arguments with the
// source file made absolute, because the running instance has another working directory.
juce::String commandLineForRunningInstance(const juce::String& commandLine,
                                           const juce::File& workingDirectory);

juce::String versionText();
juce::String usageText();
} // namespace sorvane
