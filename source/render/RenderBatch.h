#pragma once

#include "render/OfflineRenderer.h"
#include "render/RenderJobs.h"
#include "render/RenderSound.h"

#include <atomic>
#include <cstdio>
#include <vector>

namespace sorvane::render
{
struct JobOutcome
{
    bool ok = false;
    bool cancelled = false;
    juce::String error;
    RenderResult result;
};

// Renders the jobs, one file per worker, each through a processor of its own. Processors are made and
// given their sound one at a time: construction reads and writes the user's preset files.
class RenderBatch
{
public:
    RenderBatch(const RenderCommand& command, const RenderSound& sound, std::vector<RenderJob> jobs);

    // Renders everything; returns 0 when every file was written, 1 otherwise. Lines and the progress
    // bar go to the given streams; a set `cancel` stops every file at its next block and leaves no
    // output behind.
    int run(const std::atomic<bool>& cancel, std::FILE* out, std::FILE* err, bool showProgress);

    const std::vector<JobOutcome>& getOutcomes() const noexcept { return outcomes; }

private:
    void work(const std::atomic<bool>& cancel);
    JobOutcome renderOne(const RenderJob& job, std::atomic<float>& progress, const std::atomic<bool>& cancel);
    void report(size_t index, std::FILE* out, std::FILE* err);

    const RenderCommand& command;
    const RenderSound& sound;
    std::vector<RenderJob> jobs;
    std::vector<JobOutcome> outcomes;
    std::unique_ptr<std::atomic<float>[]> progress;
    std::unique_ptr<std::atomic<bool>[]> finished;
    std::atomic<size_t> nextJob{0};
};

// One result as a single line of strict JSON (no NaN or infinities: absent values are null).
juce::String jobJson(const RenderJob& job, const JobOutcome& outcome);
// Text for JSON strings: quotes, backslashes and control characters escaped.
juce::String jsonQuoted(const juce::String& text);
} // namespace sorvane::render
