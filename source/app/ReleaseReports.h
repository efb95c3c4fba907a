#pragma once

#include <juce_core/juce_core.h>

namespace sorvane
{
// What the application observed about itself when a report is due.
struct StandaloneObservation
{
    bool windowVisible = false;
    bool processorReady = false;
    int topLevelWindowCount = 0;
};

inline constexpr const char* singleInstancePolicyName = "single-instance-focus-existing";

juce::var buildSmokeReport(const StandaloneObservation& observation);
juce::var buildInstancePolicyReport(const StandaloneObservation& observation, bool anotherInstanceObserved,
                                    bool final);

// JUCE's multi-line JSON with CR LF line ends.
juce::String reportText(const juce::var& report);

// Creates the parent folder when needed and replaces the file through a temporary file next to it,
// so a reader never sees a half-written report.
bool writeReportFile(const juce::File& target, const juce::var& report, juce::String& error);
} // namespace sorvane
