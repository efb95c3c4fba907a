#pragma once

#include <juce_core/juce_core.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <unistd.h>

namespace sorvane::test
{
// The executable search path for one test; the encoder is found through it.
struct ScopedSearchPath
{
    juce::String previous = juce::SystemStats::getEnvironmentVariable("PATH", {});
    explicit ScopedSearchPath(const juce::String& path) { ::setenv("PATH", path.toRawUTF8(), 1); }
    ~ScopedSearchPath() { ::setenv("PATH", previous.toRawUTF8(), 1); }
};

// A stand-in encoder: a shell script named ffmpeg in its own folder, to put first on the path.
inline juce::File writeFakeFfmpeg(const juce::File& folder, const juce::String& body)
{
    folder.createDirectory();
    const auto script = folder.getChildFile("ffmpeg");
    EXPECT_TRUE(script.replaceWithText("#!/bin/sh\n" + body + "\n", false, false, "\n"));
    EXPECT_TRUE(script.setExecutePermission(true));
    return script;
}

struct ProgramRun
{
    juce::String output;
    int exitCode = -1;
};

inline ProgramRun runProgram(const juce::StringArray& arguments, int timeoutMs = 120000)
{
    ProgramRun run;
    juce::ChildProcess process;
    if (!process.start(arguments, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        return run;
    run.output = process.readAllProcessOutput();
    if (process.waitForProcessToFinish(timeoutMs))
        run.exitCode = (int)process.getExitCode();
    else
        process.kill();
    return run;
}

inline juce::File programOnPath(const juce::String& name)
{
    for (const auto& folder : juce::StringArray::fromTokens(
             juce::SystemStats::getEnvironmentVariable("PATH", "/usr/bin:/bin"), ":", {}))
        if (const auto candidate =
                juce::File::isAbsolutePath(folder) ? juce::File(folder).getChildFile(name) : juce::File();
            candidate.existsAsFile())
            return candidate;
    return {};
}

// Live processes whose parent is this one: an encoder left running or unreaped shows here.
inline int childProcessCount()
{
    int count = 0;
    const auto self = (long)::getpid();
    if (auto* proc = ::opendir("/proc"))
    {
        while (auto* entry = ::readdir(proc))
        {
            const juce::String name(entry->d_name);
            if (!name.containsOnly("0123456789"))
                continue;
            const auto stat = juce::File("/proc/" + name + "/stat").loadFileAsString();
            // "pid (comm) state ppid ...": comm may hold spaces, so read after its closing bracket.
            const auto fields =
                juce::StringArray::fromTokens(stat.fromLastOccurrenceOf(")", false, false).trim(), " ", {});
            if (fields.size() > 1 && fields[1].getLargeIntValue() == self)
                ++count;
        }
        ::closedir(proc);
    }
    return count;
}
} // namespace sorvane::test
