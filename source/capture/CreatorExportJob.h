#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <functional>

namespace sorvane
{
enum class CreatorExportKind : std::int32_t
{
    ProcessedWav = 1,
    DragWav = 2,
    SocialPackage = 4,
    Autosave = 5
};

enum class CreatorExportState : std::int32_t
{
    Idle = 0,
    Checking = 1,
    Running = 2,
    Completed = 3,
    Cancelled = 4,
    Failed = 5
};

struct CreatorExportSnapshot
{
    CreatorExportKind kind = CreatorExportKind::ProcessedWav;
    CreatorExportState state = CreatorExportState::Idle;
    float progress = 0.0f;
    juce::String destinationPath;
    juce::String message;
};

// One export, run once on its own thread: the work writes into a temporary file or ".partial"
// folder beside the destination, and only a finished, uncancelled result is published, by one
// rename. An existing destination is never touched before that moment.
class CreatorExportJob : private juce::Thread
{
public:
    using Work = std::function<bool(const juce::File& target, std::atomic<float>& progress,
                                    const std::atomic<bool>& cancel, juce::String& message)>;

    struct Request
    {
        CreatorExportKind kind = CreatorExportKind::ProcessedWav;
        juce::File destination;
        bool destinationIsFolder = false;
        juce::Array<juce::File> requiredFiles;
        Work work;
    };

    explicit CreatorExportJob(Request&& request);
    ~CreatorExportJob() override;

    // Message thread. Checks the destination and starts the worker; false (and Failed) on refusal.
    bool launch();
    void cancel();
    CreatorExportSnapshot getSnapshot() const;

    CreatorExportKind getKind() const noexcept { return kind; }
    const juce::File& getDestination() const noexcept { return destination; }

private:
    void run() override;
    void runFolder();
    void runFile();
    void setState(CreatorExportState newState, const juce::String& newMessage);
    bool isCancelRequested() const;

    const CreatorExportKind kind;
    const juce::File destination;
    const bool destinationIsFolder;
    const juce::Array<juce::File> requiredFiles;
    Work work;

    std::atomic<std::int32_t> state{(std::int32_t)CreatorExportState::Idle};
    std::atomic<float> progress{0.0f};
    std::atomic<bool> cancelRequested{false};
    juce::CriticalSection messageLock;
    juce::String message;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(CreatorExportJob)
};
} // namespace sorvane
