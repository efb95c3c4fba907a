#include "advisor/SetupAdvisorJob.h"

#include "social/SocialExporter.h"

#include <system_error>

namespace sorvane
{
SetupAdvisorJob::SetupAdvisorJob(SetupAdvisorInput in) : input(std::move(in)) {}

SetupAdvisorJob::~SetupAdvisorJob()
{
    cancel();
    if (worker.joinable())
        worker.join();
}

bool SetupAdvisorJob::launch()
{
    bool expected = false;
    if (!running.compare_exchange_strong(expected, true))
        return true;
    try
    {
        worker = std::thread([this] { run(); });
    }
    catch (const std::system_error&)
    {
        running.store(false);
        const std::lock_guard<std::mutex> lock(mutex);
        report.summary = "The advisor worker could not start; no settings were changed.";
        return false;
    }
    return true;
}

void SetupAdvisorJob::run()
{
    juce::Thread::setCurrentThreadName("Sorvane setup advisor");
    auto copy = input;
    // An encoder nobody looked for would be reported missing; look here, off the message thread.
    if (copy.includeOptionalChecks && copy.encoderAvailable < 0 && !cancelRequested.load())
        copy.encoderAvailable = SocialExporter::ffmpegAvailable() ? 1 : 0;
    auto result = SetupPerformanceAdvisor::inspect(std::move(copy), &cancelRequested);
    {
        const std::lock_guard<std::mutex> lock(mutex);
        report = std::move(result);
    }
    finished.store(true);
    running.store(false);
}

SetupAdvisorReport SetupAdvisorJob::getReport() const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return report;
}
} // namespace sorvane
