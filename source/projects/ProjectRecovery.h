#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <mutex>

namespace sorvane
{
struct ProjectRecoverySnapshot
{
    bool sessionActive = false;
    bool recoveryAvailable = false;
    juce::File autosaveFile;
    juce::File originProjectPath;
    std::int64_t autosaveTimestampMilliseconds = 0;
    juce::String message;
};

// The crash side of creator projects: "Session.xml" records whether the last run closed cleanly,
// and after one that did not, the newest valid autosave generation is offered unless an explicit
// save of its project came later. Thread-safe.
class ProjectRecovery
{
public:
    explicit ProjectRecovery(juce::File recoveryFolder);
    static juce::File defaultFolder();

    juce::File getNewestAutosaveFile() const { return folder.getChildFile("Autosave.sorvaneproject"); }
    juce::File getPreviousAutosaveFile() const
    {
        return folder.getChildFile("Autosave.previous.sorvaneproject");
    }
    juce::File getSessionFile() const { return folder.getChildFile("Session.xml"); }

    // Once per processor: decides what to offer, then records this run as not yet closed cleanly.
    void startSession();
    // Records a clean close; nothing when no session was started.
    void endSession();

    ProjectRecoverySnapshot getSnapshot() const;
    // Deletes both generations (the caller cancels a running autosave first). False with a sentence
    // when one could not be removed; the state is then unchanged.
    bool discardAutosaves(juce::String& error);
    // A recovered autosave was published: it is open as unsaved work, no longer on offer.
    void markRecoveredProjectOpen();

private:
    bool writeSessionRecord(bool clean, std::int64_t startedMilliseconds, std::int64_t closedMilliseconds);

    const juce::File folder;
    mutable std::mutex mutex;
    bool sessionActive = false;
    bool recoveryAvailable = false;
    juce::File autosaveFile, originPath;
    std::int64_t timestampMilliseconds = 0;
    std::int64_t sessionStartedMilliseconds = 0;
    juce::String message;
};
} // namespace sorvane
