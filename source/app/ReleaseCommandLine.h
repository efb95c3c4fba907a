#pragma once

#include <juce_core/juce_core.h>

namespace sorvane
{
// The report files a release script asked for on the command line; an empty file means "not asked".
struct ReleaseCommandLine
{
    juce::File smokeReportFile;
    juce::File instanceOwnerReportFile;
    juce::File workflowReportFile;
};

inline constexpr const char* smokeReportOption = "--release-smoke-report=";
inline constexpr const char* instanceOwnerReportOption = "--release-instance-owner-report=";
inline constexpr const char* workflowReportOption = "--release-workflow-report=";

// Splits at whitespace (double quotes group), matches the options in any letter case and lets a
// later token replace an earlier one. Relative paths are taken from workingDirectory.
ReleaseCommandLine parseReleaseCommandLine(const juce::String& commandLine,
                                           const juce::File& workingDirectory);
} // namespace sorvane
