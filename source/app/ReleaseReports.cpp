#include "app/ReleaseReports.h"
#include "capture/DurableFile.h"

namespace sorvane
{
namespace
{
juce::DynamicObject::Ptr reportHeader()
{
    juce::DynamicObject::Ptr report(new juce::DynamicObject());
    report->setProperty("schemaVersion", 1);
    report->setProperty("product", JucePlugin_Name);
    report->setProperty("version", JucePlugin_VersionString);
    return report;
}
} // namespace

juce::var buildSmokeReport(const StandaloneObservation& observation)
{
    auto report = reportHeader();
    report->setProperty("windowVisible", observation.windowVisible);
    report->setProperty("processorReady", observation.processorReady);
    report->setProperty("topLevelWindowCount", observation.topLevelWindowCount);
    report->setProperty("normalQuitRequested", true);
    report->setProperty("pass", observation.windowVisible && observation.processorReady);
    return juce::var(report.get());
}

juce::var buildInstancePolicyReport(const StandaloneObservation& observation, bool anotherInstanceObserved,
                                    bool final)
{
    const auto ownerReady = observation.processorReady && observation.windowVisible;

    auto report = reportHeader();
    report->setProperty("policy", singleInstancePolicyName);
    report->setProperty("ownerReady", ownerReady);
    report->setProperty("anotherInstanceObserved", anotherInstanceObserved);
    report->setProperty("existingWindowFocused", observation.windowVisible && anotherInstanceObserved);
    report->setProperty("final", final);
    report->setProperty("pass", final && ownerReady && anotherInstanceObserved);
    return juce::var(report.get());
}

juce::String reportText(const juce::var& report)
{
    const auto text = juce::JSON::toString(report, false);
    return text.replace("\r\n", "\n").replace("\n", "\r\n");
}

bool writeReportFile(const juce::File& target, const juce::var& report, juce::String& error)
{
    if (target == juce::File())
    {
        error = "No report file was given.";
        return false;
    }

    const auto folder = target.getParentDirectory();
    if (!folder.isDirectory())
    {
        const auto created = folder.createDirectory();
        if (created.failed() || !folder.isDirectory())
        {
            error = "Could not create the report folder " + folder.getFullPathName() + ": " +
                    (created.failed() ? created.getErrorMessage() : juce::String("not a folder")) + ".";
            return false;
        }
    }

    const auto text = reportText(report);
    return writeFileDurably(target, text.toRawUTF8(), text.getNumBytesAsUTF8(), error);
}
} // namespace sorvane
