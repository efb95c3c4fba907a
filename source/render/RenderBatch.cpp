#include "render/RenderBatch.h"

#include "processor/SorvaneAudioProcessor.h"

#include <cmath>
#include <mutex>
#include <thread>

namespace sorvane::render
{
namespace
{
// Processor construction and sound setup share the user's preset folder and index.
std::mutex processorSetupMutex;

juce::String oneLine(const juce::String& text)
{
    return text.replaceCharacters("\r\n\t", "   ");
}

juce::String number(double value, int decimals)
{
    return std::isfinite(value) ? juce::String(value, decimals) : juce::String("null");
}

juce::String optionalNumber(const std::optional<double>& value)
{
    return value.has_value() ? number(*value, 2) : juce::String("null");
}

juce::String decibels(float linear)
{
    return linear > 0.0f ? number(20.0 * std::log10((double)linear), 2) : juce::String("null");
}
} // namespace

juce::String jsonQuoted(const juce::String& text)
{
    juce::String out("\"");
    for (auto p = text.getCharPointer(); !p.isEmpty(); ++p)
    {
        const auto c = *p;
        if (c == '"')
            out << "\\\"";
        else if (c == '\\')
            out << "\\\\";
        else if (c < 0x20 || c == 0x7f)
            out << "\\u" << juce::String::toHexString((int)c).paddedLeft('0', 4);
        else
            out << juce::String::charToString(c);
    }
    return out + "\"";
}

juce::String jobJson(const RenderJob& job, const JobOutcome& outcome)
{
    juce::String line;
    line << "{\"input\":" << jsonQuoted(job.input.getFullPathName())
         << ",\"output\":" << jsonQuoted(job.output.getFullPathName())
         << ",\"ok\":" << (outcome.ok ? "true" : "false");
    if (!outcome.ok)
        return line +
               ",\"error\":" + jsonQuoted(outcome.cancelled ? juce::String("cancelled") : outcome.error) +
               "}";

    const auto& r = outcome.result;
    line << ",\"seconds\":" << number(r.seconds, 6) << ",\"sampleRate\":" << number(r.sampleRate, 0)
         << ",\"channels\":" << r.channels << ",\"frames\":" << juce::String(r.frames)
         << ",\"peak\":" << number(r.peak, 6) << ",\"peakDbfs\":" << decibels(r.peak)
         << ",\"loudnessBefore\":" << optionalNumber(r.loudnessBefore)
         << ",\"loudnessAfter\":" << optionalNumber(r.loudnessAfter) << "}";
    return line;
}

RenderBatch::RenderBatch(const RenderCommand& commandToUse, const RenderSound& soundToUse,
                         std::vector<RenderJob> jobsToRun)
    : command(commandToUse), sound(soundToUse), jobs(std::move(jobsToRun)), outcomes(jobs.size()),
      progress(new std::atomic<float>[jobs.size()]), finished(new std::atomic<bool>[jobs.size()])
{
    for (size_t i = 0; i < jobs.size(); ++i)
    {
        progress[i].store(0.0f);
        finished[i].store(false);
    }
}

JobOutcome RenderBatch::renderOne(const RenderJob& job, std::atomic<float>& jobProgress,
                                  const std::atomic<bool>& cancel)
{
    JobOutcome outcome;
    if (job.refusal.isNotEmpty())
    {
        outcome.error = job.refusal;
        return outcome;
    }

    RenderSettings settings;
    settings.sampleRate = command.sampleRate;
    settings.blockSize = command.blockSize;
    settings.tailSeconds = command.tailSeconds;
    settings.format = job.format;
    settings.tempo = sound.getTempo();

    std::unique_ptr<SorvaneAudioProcessor> processor;
    {
        const std::lock_guard<std::mutex> lock(processorSetupMutex);
        processor = std::make_unique<SorvaneAudioProcessor>();
        if (!sound.applyTo(*processor, outcome.error))
        {
            processor.reset();
            return outcome;
        }
    }

    {
        OfflineRenderer renderer(settings);
        outcome.ok = renderer.open(job.input, outcome.error) && renderer.prepare(*processor, outcome.error) &&
                     renderer.render(job.output, &cancel, &jobProgress, outcome.result, outcome.error);
    }
    outcome.cancelled = !outcome.ok && outcome.error.isEmpty();

    const std::lock_guard<std::mutex> lock(processorSetupMutex);
    processor.reset();
    return outcome;
}

void RenderBatch::work(const std::atomic<bool>& cancel)
{
    for (;;)
    {
        const auto index = nextJob.fetch_add(1);
        if (index >= jobs.size())
            return;
        if (cancel.load())
            outcomes[index].cancelled = true;
        else
            outcomes[index] = renderOne(jobs[index], progress[index], cancel);
        finished[index].store(true);
    }
}

void RenderBatch::report(size_t index, std::FILE* out, std::FILE* err)
{
    const auto& job = jobs[index];
    const auto& outcome = outcomes[index];
    if (command.json)
        std::fprintf(out, "%s\n", jobJson(job, outcome).toRawUTF8());
    if (!outcome.ok)
    {
        const auto message = outcome.cancelled
                                 ? job.output.getFullPathName() + ": cancelled; nothing was written."
                                 : outcome.error;
        std::fprintf(err, "sorvane-render: %s\n", oneLine(message).toRawUTF8());
    }
    else if (!command.json && !command.quiet)
    {
        const auto& r = outcome.result;
        std::fprintf(out, "%s: %s s, peak %s dBFS, loudness %s -> %s LUFS\n",
                     job.output.getFullPathName().toRawUTF8(), number(r.seconds, 2).toRawUTF8(),
                     decibels(r.peak).replace("null", "-inf").toRawUTF8(),
                     optionalNumber(r.loudnessBefore).replace("null", "-inf").toRawUTF8(),
                     optionalNumber(r.loudnessAfter).replace("null", "-inf").toRawUTF8());
    }
    if (outcome.ok && !command.quiet && job.note.isNotEmpty())
        std::fprintf(err, "sorvane-render: %s\n", oneLine(job.note).toRawUTF8());
    std::fflush(out);
    std::fflush(err);
}

int RenderBatch::run(const std::atomic<bool>& cancel, std::FILE* out, std::FILE* err, bool showProgress)
{
    const auto cores = std::max(1u, std::thread::hardware_concurrency());
    const auto workers =
        std::min<size_t>(jobs.size(), command.jobs > 0 ? (size_t)command.jobs : (size_t)cores);

    std::vector<std::thread> threads;
    for (size_t i = 0; i < workers; ++i)
        threads.emplace_back([this, &cancel] { work(cancel); });

    // Results are reported in the order the files were given, each as soon as it and those before it
    // are done.
    size_t reported = 0;
    bool barShown = false;
    while (reported < jobs.size())
    {
        while (reported < jobs.size() && finished[reported].load())
        {
            if (barShown)
                std::fprintf(err, "\r\033[K");
            report(reported++, out, err);
        }
        if (reported == jobs.size())
            break;
        if (showProgress)
        {
            double sum = 0.0;
            size_t done = 0;
            for (size_t i = 0; i < jobs.size(); ++i)
            {
                sum += finished[i].load() ? 1.0 : (double)progress[i].load();
                done += finished[i].load() ? 1u : 0u;
            }
            const double fraction = sum / (double)jobs.size();
            constexpr int width = 30;
            const int filled = juce::jlimit(0, width, (int)(fraction * width));
            std::fprintf(err, "\r[%s%s] %3d%%  %d/%d files",
                         juce::String::repeatedString("#", filled).toRawUTF8(),
                         juce::String::repeatedString("-", width - filled).toRawUTF8(),
                         juce::roundToInt(fraction * 100.0), (int)done, (int)jobs.size());
            std::fflush(err);
            barShown = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (auto& t : threads)
        t.join();
    if (barShown)
    {
        std::fprintf(err, "\r\033[K");
        std::fflush(err);
    }

    for (const auto& outcome : outcomes)
        if (!outcome.ok)
            return 1;
    return 0;
}
} // namespace sorvane::render
