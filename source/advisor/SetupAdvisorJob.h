#pragma once

#include "advisor/SetupPerformanceAdvisor.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace sorvane
{
// One advisor run on a thread of its own, with a private copy of its input.
class SetupAdvisorJob
{
public:
    explicit SetupAdvisorJob(SetupAdvisorInput input);
    ~SetupAdvisorJob();

    // Starts the worker once; false when it could not start (the summary then says so).
    bool launch();
    void cancel() noexcept { cancelRequested.store(true); }
    bool isFinished() const noexcept { return finished.load(); }
    bool isRunning() const noexcept { return running.load(); }
    SetupAdvisorReport getReport() const;

private:
    void run();

    SetupAdvisorInput input;
    mutable std::mutex mutex;
    SetupAdvisorReport report;
    std::atomic<bool> cancelRequested{false}, running{false}, finished{false};
    std::thread worker;

    JUCE_DECLARE_NON_COPYABLE(SetupAdvisorJob)
};
} // namespace sorvane
