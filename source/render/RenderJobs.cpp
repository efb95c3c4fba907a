#include "render/RenderJobs.h"

#include "render/OfflineRenderer.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace sorvane::render
{
namespace
{
juce::String named(const juce::File& file, const juce::String& sentence)
{
    return file.getFullPathName() + ": " + sentence;
}

juce::String refusalFor(const RenderJob& job, const RenderCommand& command)
{
    const auto& output = job.output;
    if (output.isDirectory())
        return named(output, "the output is a folder; give a file name.");
    if (!output.getParentDirectory().isDirectory())
        return named(output,
                     "the folder " + output.getParentDirectory().getFullPathName() + " does not exist.");
    if (sameFile(job.input, output))
        return named(output, "the output is the input file itself; choose another output.");
    if (command.format != OutputFormat::fromExtension && output.getFileExtension().isNotEmpty())
    {
        const bool flacName = output.hasFileExtension(".flac");
        const bool wavName = output.hasFileExtension(".wav");
        if ((flacName && command.format != OutputFormat::flac) ||
            (wavName && command.format == OutputFormat::flac))
            return named(output, "the name's extension does not match --format.");
    }
    return {};
}

// A name whose extension says nothing of its format, written because --format asked for one.
juce::String noteFor(const RenderJob& job)
{
    if (job.output.getFileExtension().isEmpty() || hasOutputExtension(job.output))
        return {};
    return named(job.output, "written as " + formatName(job.format) + ", as --format asked; the extension " +
                                 job.output.getFileExtension() + " does not say so.");
}

// Two jobs meet at one output (in a folder run, inputs that differ only in extension): the sentence
// names both inputs and how to keep them apart.
juce::String collisionFor(const RenderJob& job, const RenderJob& earlier, const RenderCommand& command,
                          bool folderRun)
{
    const auto ext = extensionFor(job.format);
    const auto advice = !folderRun ? juce::String("give each input its own output.")
                        : command.keepExtension
                            ? juce::String("rename one of the inputs.")
                            : "--keep-extension writes them as " + earlier.input.getFileName() + ext +
                                  " and " + job.input.getFileName() + ext + ".";
    return named(job.output, job.input.getFullPathName() +
                                 " was not rendered: " + earlier.input.getFullPathName() +
                                 " is written to the same output; " + advice);
}
} // namespace

bool isFolderRun(const RenderCommand& command, const juce::File& base)
{
    return command.paths.size() == 2 && base.getChildFile(command.paths[0]).isDirectory();
}

bool checkOutputNames(const RenderCommand& command, const juce::File& base, juce::String& error)
{
    error.clear();
    if (isFolderRun(command, base))
        return true;
    if (command.keepExtension)
    {
        error = "--keep-extension names the outputs of a folder run; with INPUT OUTPUT pairs each output is "
                "named as given.";
        return false;
    }
    if (command.format != OutputFormat::fromExtension)
        return true;
    for (int i = 1; i < command.paths.size(); i += 2)
    {
        const auto output = base.getChildFile(command.paths[i]);
        // A folder is refused as one when its job is planned.
        if (output.getFileExtension().isEmpty() || hasOutputExtension(output) || output.isDirectory())
            continue;
        error = named(output, "sorvane-render writes WAV (.wav) or FLAC (.flac), and " +
                                  output.getFileExtension() +
                                  " is neither; name the output .wav or .flac, or give --format to write "
                                  "that format under this name.");
        return false;
    }
    return true;
}

juce::String resolvedPath(const juce::File& file)
{
    // Walked up one folder at a time rather than recursively: a path of thousands of missing folders
    // would otherwise take a PATH_MAX buffer of stack per folder.
    juce::StringArray missingNames;
    auto existing = file;
    std::vector<char> buffer(PATH_MAX);
    for (;;)
    {
        if (::realpath(existing.getFullPathName().toRawUTF8(), buffer.data()) != nullptr)
        {
            existing = juce::File(juce::String::fromUTF8(buffer.data()));
            break;
        }
        const auto parent = existing.getParentDirectory();
        if (parent == existing)
            break;
        missingNames.add(existing.getFileName());
        existing = parent;
    }
    // Innermost name last; getChildFile applies a missing "..", as the recursion did.
    for (int i = missingNames.size(); --i >= 0;)
        existing = existing.getChildFile(missingNames[i]);
    return existing.getFullPathName();
}

bool sameFile(const juce::File& a, const juce::File& b)
{
    if (resolvedPath(a) == resolvedPath(b))
        return true;
    struct stat sa, sb;
    return ::stat(a.getFullPathName().toRawUTF8(), &sa) == 0 &&
           ::stat(b.getFullPathName().toRawUTF8(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool planRenderJobs(const RenderCommand& command, const juce::File& base, std::vector<RenderJob>& jobs,
                    juce::String& error)
{
    jobs.clear();
    const auto at = [&](const juce::String& path) { return base.getChildFile(path); };

    const bool folderRun = isFolderRun(command, base);
    if (folderRun)
    {
        const auto folder = at(command.paths[0]);
        const auto destination = at(command.paths[1]);
        if (destination.existsAsFile())
        {
            error = named(destination, "the input is a folder, so the output must be a folder too.");
            return false;
        }
        if (!destination.isDirectory() && !destination.createDirectory().wasOk())
        {
            error = named(destination, "the output folder cannot be created.");
            return false;
        }
        auto inputs = folder.findChildFiles(juce::File::findFiles, false, "*");
        inputs.sort();
        for (const auto& input : inputs)
        {
            if (input.getFileName().startsWithChar('.') || !input.hasFileExtension(renderInputExtensions))
                continue;
            const auto format =
                command.format == OutputFormat::fromExtension ? OutputFormat::wav24 : command.format;
            const auto stem =
                command.keepExtension ? input.getFileName() : input.getFileNameWithoutExtension();
            jobs.push_back({input, destination.getChildFile(stem + extensionFor(format)), format, {}, {}});
        }
        if (jobs.empty())
        {
            error = named(folder, "the folder holds no audio files (" + renderInputExtensions + ").");
            return false;
        }
    }
    else
    {
        for (int i = 0; i + 1 < command.paths.size(); i += 2)
        {
            const auto output = at(command.paths[i + 1]);
            RenderJob job{at(command.paths[i]), output, formatForOutput(command.format, output), {}, {}};
            if (command.format != OutputFormat::fromExtension)
                job.note = noteFor(job);
            jobs.push_back(job);
        }
    }

    for (size_t i = 0; i < jobs.size(); ++i)
    {
        auto& job = jobs[i];
        job.refusal = refusalFor(job, command);
        for (size_t j = 0; j < jobs.size() && job.refusal.isEmpty(); ++j)
        {
            if (j != i && sameFile(jobs[j].input, job.output))
                job.refusal = named(job.output, "the output is the input of another file in this run.");
            else if (j < i && sameFile(jobs[j].output, job.output))
                job.refusal = collisionFor(job, jobs[j], command, folderRun);
        }
    }
    return true;
}
} // namespace sorvane::render
