#include "social/ExternalProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char** environ;

namespace sorvane
{
ExternalProcess::~ExternalProcess()
{
    kill();
}

bool ExternalProcess::start(const juce::StringArray& arguments)
{
    if (running || arguments.isEmpty() || arguments[0].isEmpty())
        return false;

    std::vector<std::string> storage;
    storage.reserve((size_t)arguments.size());
    for (const auto& argument : arguments)
        storage.emplace_back(argument.toStdString());
    std::vector<char*> argv;
    for (auto& argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return false;
    bool prepared =
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0 &&
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0) == 0 &&
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0) == 0 &&
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1) == 0;

    posix_spawnattr_t attributes;
    if (prepared && posix_spawnattr_init(&attributes) == 0)
    {
        // The encoder must not inherit signals the app ignores or blocks.
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        pid_t child = 0;
        const int result = posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), environ);
        posix_spawnattr_destroy(&attributes);
        if (result == 0)
        {
            pid = child;
            running = true;
            exitCode = -1;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    return running;
}

void ExternalProcess::reap(bool block)
{
    if (!running)
        return;
    int status = 0;
    pid_t result;
    do
        result = waitpid(pid, &status, block ? 0 : WNOHANG);
    while (result < 0 && errno == EINTR);

    if (result == 0)
        return;
    running = false;
    if (result == pid && WIFEXITED(status))
        exitCode = WEXITSTATUS(status);
}

bool ExternalProcess::isRunning()
{
    reap(false);
    return running;
}

bool ExternalProcess::waitForExit(int milliseconds)
{
    const auto end = juce::Time::getMillisecondCounterHiRes() + milliseconds;
    while (isRunning())
    {
        if (juce::Time::getMillisecondCounterHiRes() >= end)
            return false;
        juce::Thread::sleep(2);
    }
    return true;
}

void ExternalProcess::kill()
{
    if (!isRunning())
        return;
    ::kill(pid, SIGKILL);
    reap(true);
    exitCode = -1;
}
} // namespace sorvane
