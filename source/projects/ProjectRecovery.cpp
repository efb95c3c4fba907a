#include "projects/ProjectRecovery.h"
#include "presets/PresetFileIo.h"
#include "projects/CreatorProjectFile.h"
#include "projects/RecentProjects.h"

#include <juce_data_structures/juce_data_structures.h>

namespace sorvane
{
namespace
{
const juce::Identifier sessionType{"SORVANE_SESSION"};
const juce::Identifier cleanProperty{"clean"};
const juce::Identifier startedProperty{"startedMilliseconds"};
const juce::Identifier closedProperty{"closedMilliseconds"};
constexpr std::int64_t maxSessionBytes = 64 * 1024;
const juce::String noRecoveryMessage{"No newer unclean-shutdown autosave is available."};

bool lastSessionEndedUncleanly(const juce::File& sessionFile)
{
    juce::ValueTree tree;
    if (readXmlTree(sessionFile, maxSessionBytes, sessionType, tree) != PresetReadResult::ok)
        return false;
    return !(bool)tree.getProperty(cleanProperty, true);
}

bool readAutosave(const juce::File& file, CreatorProjectData& data)
{
    juce::String ignored;
    return readCreatorProject(file, data, ignored) && data.autosave;
}
} // namespace

ProjectRecovery::ProjectRecovery(juce::File recoveryFolder) : folder(std::move(recoveryFolder)) {}

juce::File ProjectRecovery::defaultFolder()
{
    return sorvaneApplicationDataFolder().getChildFile("Recovery");
}

bool ProjectRecovery::writeSessionRecord(bool clean, std::int64_t started, std::int64_t closed)
{
    juce::ValueTree tree(sessionType);
    tree.setProperty(cleanProperty, clean, nullptr);
    tree.setProperty(startedProperty, (juce::int64)started, nullptr);
    if (clean)
        tree.setProperty(closedProperty, (juce::int64)closed, nullptr);
    return folder.createDirectory().wasOk() && writeFileAtomically(getSessionFile(), presetXmlText(tree));
}

void ProjectRecovery::startSession()
{
    const std::lock_guard<std::mutex> lock(mutex);
    if (sessionActive)
        return;

    const bool unclean = lastSessionEndedUncleanly(getSessionFile());

    CreatorProjectData candidate;
    juce::File candidateFile;
    juce::String foundMessage;
    if (readAutosave(getNewestAutosaveFile(), candidate))
    {
        candidateFile = getNewestAutosaveFile();
        foundMessage = "Sorvane found a valid autosave from an unclean shutdown.";
    }
    else if (readAutosave(getPreviousAutosaveFile(), candidate))
    {
        candidateFile = getPreviousAutosaveFile();
        foundMessage =
            "Sorvane recovered the previous valid autosave because the newest generation is corrupt "
            "or incomplete.";
    }

    const bool valid = candidateFile != juce::File();
    const auto& origin = candidate.originProjectPath;
    const bool superseded =
        valid && origin != juce::File() && origin.existsAsFile() &&
        origin.getLastModificationTime().toMilliseconds() >= candidate.autosaveTimestampMilliseconds;

    recoveryAvailable = unclean && valid && !superseded;
    autosaveFile = valid ? candidateFile : getNewestAutosaveFile();
    originPath = valid ? origin : juce::File();
    timestampMilliseconds = valid ? candidate.autosaveTimestampMilliseconds : 0;
    message = recoveryAvailable ? foundMessage
              : superseded      ? juce::String("A newer explicit project supersedes the retained autosave.")
                                : noRecoveryMessage;

    sessionStartedMilliseconds = juce::Time::currentTimeMillis();
    writeSessionRecord(false, sessionStartedMilliseconds, 0);
    sessionActive = true;
}

void ProjectRecovery::endSession()
{
    const std::lock_guard<std::mutex> lock(mutex);
    if (!sessionActive)
        return;
    writeSessionRecord(true, sessionStartedMilliseconds, juce::Time::currentTimeMillis());
    sessionActive = false;
}

ProjectRecoverySnapshot ProjectRecovery::getSnapshot() const
{
    const std::lock_guard<std::mutex> lock(mutex);
    ProjectRecoverySnapshot s;
    s.sessionActive = sessionActive;
    s.recoveryAvailable = recoveryAvailable;
    s.autosaveFile = autosaveFile != juce::File() ? autosaveFile : getNewestAutosaveFile();
    s.originProjectPath = originPath;
    s.autosaveTimestampMilliseconds = timestampMilliseconds;
    s.message = message.isNotEmpty() ? message : noRecoveryMessage;
    return s;
}

bool ProjectRecovery::discardAutosaves(juce::String& error)
{
    error.clear();
    for (const auto& file : {getNewestAutosaveFile(), getPreviousAutosaveFile()})
        if (file.existsAsFile() && !file.deleteFile())
        {
            error = "The autosave could not be removed from the Recovery folder.";
            return false;
        }

    const std::lock_guard<std::mutex> lock(mutex);
    recoveryAvailable = false;
    autosaveFile = juce::File();
    originPath = juce::File();
    timestampMilliseconds = 0;
    message = "Recovery generations were discarded.";
    return true;
}

void ProjectRecovery::markRecoveredProjectOpen()
{
    const std::lock_guard<std::mutex> lock(mutex);
    recoveryAvailable = false;
    message = "The recovered project is open as unsaved work.";
}
} // namespace sorvane
