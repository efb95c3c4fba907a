// Creator projects on the processor: the load request and its one-step publication, capture and
// save, autosave, recovery and the recent list. The work lives in the project classes.
#include "processor/SorvaneAudioProcessor.h"
#include "projects/CreatorProjectFile.h"

#include <cmath>

void SorvaneAudioProcessor::ProjectPublicationUpdater::handleAsyncUpdate()
{
    owner.publishPendingCreatorProject();
}

bool SorvaneAudioProcessor::requestCreatorProjectLoad(const juce::File& projectFile,
                                                      const juce::File& locatedSourceFile,
                                                      juce::String& error)
{
    return sources.requestProjectLoad(projectFile, locatedSourceFile, error);
}

void SorvaneAudioProcessor::queuePreparedCreatorProject(PreparedCreatorProject prepared)
{
    {
        const std::lock_guard<std::mutex> lock(pendingProjectMutex);
        if (pendingProject.has_value() && pendingProject->job != nullptr)
            pendingProject->job->finishCancelled();
        pendingProject = std::move(prepared);
    }
    projectPublicationUpdater.triggerAsyncUpdate();
}

void SorvaneAudioProcessor::discardPendingCreatorProject()
{
    projectPublicationUpdater.cancelPendingUpdate();
    const std::lock_guard<std::mutex> lock(pendingProjectMutex);
    pendingProject.reset();
}

void SorvaneAudioProcessor::publishPendingCreatorProject()
{
    std::optional<PreparedCreatorProject> taken;
    {
        const std::lock_guard<std::mutex> lock(pendingProjectMutex);
        taken.swap(pendingProject);
    }
    if (!taken.has_value())
        return;
    auto& prepared = *taken;
    if (!sources.isCurrentGeneration(prepared.generation))
    {
        if (prepared.job != nullptr)
            prepared.job->finishCancelled();
        return;
    }

    const auto& data = prepared.data;
    suppressProjectDirty.store(true);
    clearPresetExperiment();
    applyParameterSnapshot(data.parameterState);

    lockWord.store(data.macroLockMask);
    workflowSeed.store(data.mutationSeed);
    captureBarsSetting.store(juce::jlimit(1, 16, data.captureBars));
    captureTailSetting.store(data.captureTail);
    sourceState.rangeStart.store(data.loopStart);
    sourceState.rangeEnd.store(data.loopEnd);
    sourceState.looping.store(data.loopEnabled);
    sourceState.zeroSnap.store(data.snapRangeToZero);
    socialAspect.store(juce::jlimit(0, 2, data.socialAspect));
    socialDuration.store(juce::jlimit(0, 2, data.socialDuration));
    socialBackground.store(juce::jlimit(0, 2, data.socialBackground));
    setCreatorVideoIdentity(data.videoArtist, data.videoEffectedOnly);
    sourceState.crossfadeMilliseconds.store(juce::jlimit(5.0f, 30.0f, data.crossfadeMilliseconds));
    if (std::isfinite(data.tempo))
        currentTempoBpm.store(juce::jlimit(30.0, 300.0, data.tempo));

    endTresselSession();
    const auto& session = data.tresselSession;
    if (session.isValid())
    {
        tresselController.restore(session);
        tresselBase = session.baseline.createCopy();
        tresselVariants.clear();
        for (const auto& variant : session.variants)
            tresselVariants.push_back(variant.createCopy());
    }
    mutationHistory.clear();
    for (const auto& entry : session.history)
        pushMutationHistory(entry);
    if (session.history.empty())
        pushMutationHistory(captureParameterSnapshot());

    sourceState.playing.store(false);
    sourceState.playheadSamples.store(0.0);
    sourceState.restartRequested.store(false);
    capture.cancel();

    sources.publish(prepared.sample);
    if (prepared.sourceFile != juce::File() && prepared.sourceFile.existsAsFile())
        sourceTransport.seek(data.playbackPosition);

    if (data.autosave)
        recentProjects.setCurrentProjectFile(data.originProjectPath);
    else
        recentProjects.remember(prepared.projectFile);

    suppressProjectDirty.store(false);
    projectDirty.store(data.autosave);
    if (data.autosave)
        recovery.markRecoveredProjectOpen();

    if (prepared.job != nullptr)
        prepared.job->finishPublished("Project source and creator state prepared and published as one unit.");
}

sorvane::CreatorProjectData SorvaneAudioProcessor::captureCreatorProjectData(bool autosaveProject)
{
    sorvane::CreatorProjectData data;
    data.parameterState = captureParameterSnapshot();
    data.mutationSeed = workflowSeed.load();
    data.macroLockMask = lockWord.load();
    data.loopStart = sourceState.rangeStart.load();
    data.loopEnd = sourceState.rangeEnd.load();
    data.loopEnabled = sourceState.looping.load();
    data.snapRangeToZero = sourceState.zeroSnap.load();
    data.socialAspect = socialAspect.load();
    data.socialDuration = socialDuration.load();
    data.socialBackground = socialBackground.load();
    const auto identity = getCreatorVideoIdentity();
    data.videoArtist = identity.artist;
    data.videoEffectedOnly = identity.effectedOnly;
    data.tempo = currentTempoBpm.load();
    data.captureBars = captureBarsSetting.load();
    data.captureTail = captureTailSetting.load();
    data.crossfadeMilliseconds = sourceState.crossfadeMilliseconds.load();
    data.tresselSession = tresselController.getSnapshot();
    data.autosave = autosaveProject;
    data.autosaveTimestampMilliseconds = autosaveProject ? juce::Time::currentTimeMillis() : 0;
    data.originProjectPath = recentProjects.getCurrentProjectFile();
    if (const auto sample = sources.getCurrentSample())
    {
        const auto frames = (double)sample->getNumFrames();
        if (frames > 0.0)
            data.playbackPosition =
                std::min(1.0, std::fmod(std::max(sourceState.playheadSamples.load(), 0.0), frames) / frames);
        data.sourceFile = juce::File(sample->path);
        data.sourceFingerprint = sample->fingerprint;
    }
    return data;
}

bool SorvaneAudioProcessor::saveCreatorProject(const juce::File& file, juce::String& error)
{
    cancelAutosaveJob();
    auto data = captureCreatorProjectData(false);
    data.originProjectPath = file;
    if (!sorvane::writeCreatorProject(file, data, error))
        return false;
    recentProjects.remember(file);
    projectDirty.store(false);
    juce::String ignored;
    discardAutosavedProject(ignored);
    return true;
}

bool SorvaneAudioProcessor::autosaveCreatorProjectIfNeeded(juce::String& error)
{
    return autosave.step(
        projectDirty.load(), juce::Time::currentTimeMillis(),
        [this] { return captureCreatorProjectData(true); }, error);
}

void SorvaneAudioProcessor::cancelAutosaveJob()
{
    autosave.cancel();
}

bool SorvaneAudioProcessor::discardAutosavedProject(juce::String& error)
{
    cancelAutosaveJob();
    return recovery.discardAutosaves(error);
}

void SorvaneAudioProcessor::rememberProject(const juce::File& file)
{
    recentProjects.remember(file);
}
