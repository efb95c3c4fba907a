#include "app/ReleaseCommandLine.h"

namespace sorvane
{
namespace
{
juce::String withoutSurroundingQuotes(const juce::String& text)
{
    const auto trimmed = text.trim();
    return trimmed.isQuotedString() ? trimmed.unquoted() : trimmed;
}

juce::File reportFileFrom(const juce::String& value, const juce::File& workingDirectory)
{
    const auto path = withoutSurroundingQuotes(value);
    if (path.isEmpty())
        return {};

    return juce::File::isAbsolutePath(path) ? juce::File(path) : workingDirectory.getChildFile(path);
}
} // namespace

ReleaseCommandLine parseReleaseCommandLine(const juce::String& commandLine,
                                           const juce::File& workingDirectory)
{
    ReleaseCommandLine result;
    const std::pair<const char*, juce::File ReleaseCommandLine::*> options[] = {
        {smokeReportOption, &ReleaseCommandLine::smokeReportFile},
        {instanceOwnerReportOption, &ReleaseCommandLine::instanceOwnerReportFile},
        {workflowReportOption, &ReleaseCommandLine::workflowReportFile},
    };

    juce::StringArray tokens;
    tokens.addTokens(commandLine, " \n\r\t", "\"");

    for (const auto& rawToken : tokens)
    {
        // JUCE hands over an argument that contains spaces wrapped in quotes as a whole.
        const auto token = withoutSurroundingQuotes(rawToken);

        for (const auto& [prefix, member] : options)
        {
            const juce::String option(prefix);
            if (token.startsWithIgnoreCase(option))
            {
                result.*member = reportFileFrom(token.substring(option.length()), workingDirectory);
                break;
            }
        }
    }

    return result;
}
} // namespace sorvane
