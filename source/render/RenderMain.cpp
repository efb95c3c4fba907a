// sorvane-render: the processor offline over audio files. No JUCE GUI or message loop is started:
// the processor needs neither to process, and a command-line tool must run without a display.
#include "presets/FactoryPresets.h"
#include "processor/SorvaneAudioProcessor.h"
#include "render/RenderBatch.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <unistd.h>

namespace
{
std::atomic<bool> cancelRequested{false};
volatile std::sig_atomic_t receivedSignal = 0;

extern "C" void onStopSignal(int signal)
{
    receivedSignal = signal;
    cancelRequested.store(true);
}

void installSignalHandlers()
{
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed pipe on standard output must not end a render midway.
    std::signal(SIGPIPE, SIG_IGN);
}

int fail(const juce::String& message, int status)
{
    std::fprintf(stderr, "sorvane-render: %s\n", message.replaceCharacters("\r\n", "  ").toRawUTF8());
    return status;
}

int run(int argc, char** argv)
{
    juce::StringArray arguments;
    for (int i = 1; i < argc; ++i)
    {
        const auto size = std::strlen(argv[i]);
        if (!sorvane::render::isUtf8Argument(argv[i], size))
            return fail("\"" + sorvane::render::escapedArgument(argv[i], size) +
                            "\" is not UTF-8 text, so it cannot be named exactly; nothing was rendered. Give "
                            "the file a UTF-8 name.",
                        2);
        arguments.add(sorvane::render::argumentText(argv[i], size));
    }

    using namespace sorvane::render;
    RenderCommand command;
    juce::String error;
    if (!parseRenderCommandLine(arguments, command, error))
        return fail(error, 2);

    switch (command.action)
    {
    case RenderCommand::Action::help:
        std::fputs(renderUsage().toRawUTF8(), stdout);
        return 0;
    case RenderCommand::Action::version:
        std::printf("%s\n", renderVersion().toRawUTF8());
        return 0;
    case RenderCommand::Action::listPresets:
    {
        const auto& presets = sorvane::factoryPresets();
        for (size_t i = 0; i < presets.size(); ++i)
            std::printf("%2d  %s\n", (int)i, presets[i].name.toRawUTF8());
        return 0;
    }
    case RenderCommand::Action::render:
        break;
    }

    const auto base = juce::File::getCurrentWorkingDirectory();
    if (!checkOutputNames(command, base, error))
        return fail(error, 2);

    RenderSound sound;
    if (!sound.load(command, error))
        return fail(error, 2);
    {
        // A bad --set value is a usage error: found before any file is touched.
        SorvaneAudioProcessor probe;
        if (!sound.applyTo(probe, error))
            return fail(error, 2);
    }

    std::vector<RenderJob> jobs;
    if (!planRenderJobs(command, base, jobs, error))
        return fail(error, 1);

    const bool showProgress = !command.quiet && ::isatty(STDOUT_FILENO) && ::isatty(STDERR_FILENO);
    RenderBatch batch(command, sound, std::move(jobs));
    return batch.run(cancelRequested, stdout, stderr, showProgress);
}
} // namespace

int main(int argc, char** argv)
{
    installSignalHandlers();
    int status = run(argc, argv);
    // APVTS timers started a JUCE timer thread; end it before static destruction.
    juce::DeletedAtShutdown::deleteAll();

    if (receivedSignal != 0)
    {
        // Ends as the signal would have, so the caller sees which one it was.
        std::signal(receivedSignal, SIG_DFL);
        std::raise(receivedSignal);
        status = 128 + receivedSignal;
    }
    return status;
}
