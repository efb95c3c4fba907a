#include "app/AppCommandLine.h"

namespace sorvane
{
namespace
{
juce::String withoutSurroundingQuotes(const juce::String& text)
{
    const auto trimmed = text.trim();
    return trimmed.isQuotedString() ? trimmed.unquoted() : trimmed;
}

juce::StringArray rawTokens(const juce::String& commandLine)
{
    juce::StringArray tokens;
    tokens.addTokens(commandLine, " \n\r\t", "\"");
    tokens.removeEmptyStrings();
    return tokens;
}

bool isOption(const juce::String& argument)
{
    return argument.startsWithChar('-');
}

juce::File fileFrom(const juce::String& argument, const juce::File& workingDirectory)
{
    return juce::File::isAbsolutePath(argument) ? juce::File(argument)
                                                : workingDirectory.getChildFile(argument);
}
} // namespace

AppCommandLine parseAppCommandLine(const juce::String& commandLine, const juce::File& workingDirectory)
{
    AppCommandLine result;
    result.release = parseReleaseCommandLine(commandLine, workingDirectory);

    bool optionsEnded = false;
    for (const auto& raw : rawTokens(commandLine))
    {
        const auto argument = withoutSurroundingQuotes(raw);
        if (argument.isEmpty())
            continue;

        if (optionsEnded || !isOption(argument))
            result.sourceFile = fileFrom(argument, workingDirectory);
        else if (argument == "--")
            optionsEnded = true;
        else if (argument == "-h" || argument.equalsIgnoreCase("--help"))
            result.helpRequested = true;
        else if (argument == "-v" || argument.equalsIgnoreCase("--version"))
            result.versionRequested = true;
        else if (argument.startsWithIgnoreCase("--release-"))
            continue; // the release parser's, known or not
        else
            result.unknownOptions.add(argument);
    }

    return result;
}

juce::String commandLineForRunningInstance(const juce::String& commandLine,
                                           const juce::File& workingDirectory)
{
    juce::StringArray forwarded;
    bool optionsEnded = false;
    for (const auto& raw : rawTokens(commandLine))
    {
        const auto argument = withoutSurroundingQuotes(raw);
        if (argument.isEmpty() || (!optionsEnded && isOption(argument)))
        {
            if (argument == "--")
                optionsEnded = true;
            forwarded.add(raw);
            continue;
        }

        const auto path = fileFrom(argument, workingDirectory).getFullPathName();
        forwarded.add(path.containsAnyOf(" \t\r\n") ? path.quoted() : path);
    }
    return forwarded.joinIntoString(" ");
}

juce::String versionText()
{
    return juce::String(JucePlugin_Name) + " " + JucePlugin_VersionString;
}

juce::String usageText()
{
    // The command is installed in lower case; the application keeps its name.
    const juce::String name(JucePlugin_Name);
    return "Usage: " + name.toLowerCase() +
           " [options] [audio file]\n"
           "\n"
           "Opens the audio file as the source. When " +
           name +
           " is already running, the file is\n"
           "handed to the running window instead.\n"
           "\n"
           "Options:\n"
           "  -h, --help                            Show this text and exit.\n"
           "  -v, --version                         Show the version and exit.\n"
           "  --release-smoke-report=FILE           Write a start-up report for release scripts and quit.\n"
           "  --release-instance-owner-report=FILE  Wait up to 10 s for a second launch, report, and quit.\n"
           "  --release-workflow-report=FILE        Run the scripted release workflow and report.\n"
           "  --                                    Take every later word as a file name.\n";
}
} // namespace sorvane
