#include "processor/SorvaneAudioProcessor.h"
#include "processor/HostStateBlob.h"
#include "processor/ParameterState.h"
#include "workflow/TresselSessionTree.h"
#include "editor/SorvaneAudioProcessorEditor.h"

#include <cmath>

SorvaneAudioProcessor::SorvaneAudioProcessor()
    : juce::AudioProcessor(BusesProperties()
                               .withInput("Input", juce::AudioChannelSet::stereo(), true)
                               .withOutput("Output", juce::AudioChannelSet::stereo(), true)),
      parameters(*this, nullptr, sorvane::stateIds::stateType, createParameterLayout())
{
    for (size_t i = 0; i < rawParameterValues.size(); ++i)
        rawParameterValues[i] = parameters.getRawParameterValue(parameterIds[i]);

    presetCatalog = std::make_unique<sorvane::PresetCatalog>();

    // Undo can always return to the defaults.
    pushMutationHistory(captureParameterSnapshot());

    for (auto* id : parameterIds)
        parameters.addParameterListener(id, this);

    // A cleared source keeps a complete kept window: without a source it is what SHARE uses.
    sources.setSourceChangedCallback([this] { resetCaptureAndKeepThat(sources.getPublished() == nullptr); });
    sourceTransport.setRangeChangedCallback([this] { resetCaptureAndKeepThat(); });
    sources.setProjectHandOver([this](PreparedCreatorProject&& prepared)
                               { queuePreparedCreatorProject(std::move(prepared)); },
                               sorvane::stateIds::stateType);
    recentProjects.load();
    // Building the defaults is not work of the user's: a fresh session has nothing to autosave.
    projectDirty.store(false);
}

SorvaneAudioProcessor::~SorvaneAudioProcessor()
{
    // Threads first, then what they hand over: nothing may reach a member being destroyed.
    hostCalls.close();
    cancelAutosaveJob();
    endRecoverySession();
    sources.stopAllJobs();
    discardPendingCreatorProject();
    for (auto* id : parameterIds)
        parameters.removeParameterListener(id, this);
}

juce::AudioProcessorValueTreeState::ParameterLayout SorvaneAudioProcessor::createParameterLayout()
{
    return sorvane::createParameterLayout();
}

std::uint32_t SorvaneAudioProcessor::lockBitForParameterId(const juce::String& id)
{
    return sorvane::lockBitForParameterId(id.toRawUTF8());
}

//======================================================================================================
void SorvaneAudioProcessor::markProjectDirty() noexcept
{
    if (!suppressProjectDirty.load())
        projectDirty.store(true);
}

void SorvaneAudioProcessor::parameterChanged(const juce::String& parameterID, float newValue)
{
    markProjectDirty();

    if (parameterID == "standaloneTempo" && wrapperType == wrapperType_Standalone)
    {
        const bool valid = std::isfinite(newValue) && newValue >= 30.0f && newValue <= 300.0f;
        currentTempoValid.store(valid);
        currentTempoBpm.store(valid ? (double)newValue : 120.0);
    }
}

void SorvaneAudioProcessor::setMacroLockedParameterIds(const juce::StringArray& ids)
{
    const auto word = sorvane::Mutation::withIndividualLocks(lockWord.load(std::memory_order_acquire), ids);
    if (lockWord.exchange(word) != word)
        markProjectDirty();
}

sorvane::DspSettings SorvaneAudioProcessor::readSettings() const noexcept
{
    return sorvane::readDspSettings(rawParameterValues, lockWord.load(std::memory_order_acquire),
                                    currentTempoValid.load(std::memory_order_relaxed));
}

//======================================================================================================
juce::ValueTree SorvaneAudioProcessor::captureParameterSnapshot()
{
    juce::ValueTree snapshot;
    {
        const std::lock_guard<std::recursive_mutex> lock(stateTreeMutex);
        snapshot = parameters.copyState();
    }
    snapshot.setProperty(sorvane::stateIds::program, currentProgram.load(), nullptr);
    snapshot.setProperty(sorvane::stateIds::macroLocks, (juce::int64)lockWord.load(std::memory_order_acquire),
                         nullptr);
    return snapshot;
}

void SorvaneAudioProcessor::applyParameterSnapshot(const juce::ValueTree& tree)
{
    // A tree of another type (a damaged session entry, say) would become the live state's root and
    // make every later host save unreadable.
    if (!tree.isValid() || tree.getType() != sorvane::stateIds::stateType)
        return;

    const int program = tree.getProperty(sorvane::stateIds::program, currentProgram.load());
    currentProgram.store(juce::jlimit(0, sorvane::numFactoryPrograms - 1, program));
    lockWord.store(
        (std::uint64_t)(juce::int64)tree.getProperty(sorvane::stateIds::macroLocks, (juce::int64)0));

    const auto applied = sorvane::prepareStateForApplication(tree);
    installParameterState(applied);

    // A group restore edits the auditioned variant, but only of the session it was made from.
    if ((bool)tree.getProperty(sorvane::stateIds::workflowGroupRestore, false))
    {
        const auto seed =
            (juce::int64)tree.getProperty(sorvane::stateIds::workflowRestoreSeed, (juce::int64)-1);
        const int variant = tree.getProperty(sorvane::stateIds::workflowRestoreVariant, -1);
        if (tresselController.replaceSelectedVariant(applied, seed, variant) &&
            (size_t)variant < tresselVariants.size())
            tresselVariants[(size_t)variant] = tresselController.getSnapshot().variants[(size_t)variant];
    }
}

//======================================================================================================
void SorvaneAudioProcessor::installParameterState(const juce::ValueTree& tree)
{
    const std::lock_guard<std::recursive_mutex> lock(stateTreeMutex);
    sorvane::replaceParameterState(parameters, tree);
    presetLevelLock.store((bool)parameters.state.getProperty("presetLevelLock", false));
}

void SorvaneAudioProcessor::installStateProperties(const juce::ValueTree& tree)
{
    const std::lock_guard<std::recursive_mutex> lock(stateTreeMutex);
    auto& state = parameters.state;
    state.removeAllProperties(nullptr);
    for (int i = 0; i < tree.getNumProperties(); ++i)
        state.setProperty(tree.getPropertyName(i), tree.getProperty(tree.getPropertyName(i)), nullptr);
    presetLevelLock.store((bool)state.getProperty("presetLevelLock", false));
}

void SorvaneAudioProcessor::setLiveStateProperty(const juce::Identifier& id, const juce::var& value)
{
    const std::lock_guard<std::recursive_mutex> lock(stateTreeMutex);
    parameters.state.setProperty(id, value, nullptr);
}

void SorvaneAudioProcessor::removeLiveStateProperty(const juce::Identifier& id)
{
    const std::lock_guard<std::recursive_mutex> lock(stateTreeMutex);
    parameters.state.removeProperty(id, nullptr);
}

juce::var SorvaneAudioProcessor::getLiveStateProperty(const juce::Identifier& id) const
{
    const std::lock_guard<std::recursive_mutex> lock(stateTreeMutex);
    return parameters.state.getProperty(id);
}

void SorvaneAudioProcessor::getStateInformation(juce::MemoryBlock& destData)
{
    destData.reset();
    juce::ValueTree state;
    std::unique_lock<std::recursive_mutex> hostLock;
    if (sorvane::isOnMessageThread())
        finishHostCalls();
    else
    {
        hostLock = std::unique_lock<std::recursive_mutex>(hostCallMutex);
        if (const auto pending = hostCalls.peek(); !pending.isEmpty())
            state = hostStateWhileCallsWait(pending);
    }

    if (!state.isValid())
    {
        state = captureParameterSnapshot();
        addSessionPropertiesForHost(state, true);
        if (const auto session = tresselSessionForHost(); session.isValid())
            state.appendChild(session, nullptr);
    }
    if (auto xml = state.createXml())
        copyXmlToBinary(*xml, destData);
}

void SorvaneAudioProcessor::setStateInformation(const void* data, int sizeInBytes)
{
    // The host's bytes are outside input like any other: never handed to JUCE's parser unchecked.
    std::unique_ptr<juce::XmlElement> xml;
    juce::String error;
    if (sizeInBytes <= 0 || !sorvane::readHostStateBlob(data, (std::size_t)sizeInBytes, xml, error))
        return;

    const auto tree = juce::ValueTree::fromXml(*xml);
    if (!tree.isValid() || tree.getType() != sorvane::stateIds::stateType)
        return;

    if (sorvane::isOnMessageThread())
    {
        finishHostCalls(); // what a host asked for earlier comes first
        restoreHostState(tree, false);
        return;
    }

    const std::lock_guard<std::recursive_mutex> hostLock(hostCallMutex);
    // A restore is not an edit: the project stays clean.
    const bool wasSuppressed = suppressProjectDirty.exchange(true);
    currentProgram.store(juce::jlimit(0, sorvane::numFactoryPrograms - 1,
                                      (int)tree.getProperty(sorvane::stateIds::program, 0)));
    lockWord.store(
        (std::uint64_t)(juce::int64)tree.getProperty(sorvane::stateIds::macroLocks, (juce::int64)0));
    setParametersFromHostState(tree);
    storeSessionValuesFromHost(tree);
    hostCalls.postState(tree);
    suppressProjectDirty.store(wasSuppressed);
}

void SorvaneAudioProcessor::restoreHostState(const juce::ValueTree& tree, bool parametersSet)
{
    clearPresetExperiment();
    // A restore is not an edit: the project stays clean.
    suppressProjectDirty.store(true);
    clearLoadedSample();
    currentProgram.store(juce::jlimit(0, sorvane::numFactoryPrograms - 1,
                                      (int)tree.getProperty(sorvane::stateIds::program, 0)));
    lockWord.store(
        (std::uint64_t)(juce::int64)tree.getProperty(sorvane::stateIds::macroLocks, (juce::int64)0));
    auto state = tree.createCopy();
    sorvane::removeNonFiniteParameterValues(state);
    // Only the first session counts; a second one left in the state would be saved beside the
    // restored session and win on the next reload.
    const auto sessionTree = state.getChildWithName(sorvane::tresselTreeIds::sessionType);
    for (int i = state.getNumChildren(); --i >= 0;)
        if (state.getChild(i).hasType(sorvane::tresselTreeIds::sessionType))
            state.removeChild(i, nullptr);
    restoreSessionPropertiesFromHost(state, parametersSet);
    restoreWorkflowsFromHost(sessionTree);
    projectDirty.store(false);
    suppressProjectDirty.store(false);
}

bool SorvaneAudioProcessor::finishHostCalls()
{
    const std::lock_guard<std::recursive_mutex> hostLock(hostCallMutex);
    const auto pending = hostCalls.take();
    // The parameters took the restored values on the host's thread and may have moved since (the audio
    // thread follows automation): writing them again here would take a later move back.
    if (pending.state.isValid())
        restoreHostState(pending.state, true);
    if (pending.program >= 0)
        completeProgramChange(pending.program);
    return !pending.isEmpty();
}

void SorvaneAudioProcessor::setParametersFromHostState(const juce::ValueTree& tree)
{
    auto state = tree.createCopy();
    sorvane::removeNonFiniteParameterValues(state);
    sorvane::migrateWorkflowParameters(state);
    // As installing the tree would: each child in turn (so the last of two for one parameter wins), a
    // child without a value meaning the default, a parameter without a child left as it is.
    for (const auto& child : state)
    {
        if (!child.hasType(sorvane::stateIds::param))
            continue;
        auto* parameter = parameters.getParameter(child[sorvane::stateIds::id].toString());
        const auto* live = parameters.getRawParameterValue(child[sorvane::stateIds::id].toString());
        if (parameter == nullptr || live == nullptr)
            continue;
        const auto plainDefault = parameter->convertFrom0to1(parameter->getDefaultValue());
        const auto plain = (float)child.getProperty(sorvane::stateIds::value, plainDefault);
        if (plain != live->load())
            parameter->setValueNotifyingHost(parameter->convertTo0to1(plain));
    }
}

juce::ValueTree SorvaneAudioProcessor::hostStateWhileCallsWait(const sorvane::HostCallQueue::Pending& pending)
{
    juce::ValueTree state;
    juce::ValueTree session;
    if (pending.state.isValid())
    {
        // The tree the restore will install, as the message thread will leave it.
        state = pending.state.createCopy();
        sorvane::removeNonFiniteParameterValues(state);
        const auto sessionTree = state.getChildWithName(sorvane::tresselTreeIds::sessionType);
        for (int i = state.getNumChildren(); --i >= 0;)
            if (state.getChild(i).hasType(sorvane::tresselTreeIds::sessionType))
                state.removeChild(i, nullptr);
        sorvane::migrateWorkflowParameters(state);
        sorvane::writeLiveParameterValues(state, parameters);
        state.setProperty(sorvane::stateIds::program, currentProgram.load(), nullptr);
        state.setProperty(sorvane::stateIds::macroLocks, (juce::int64)lockWord.load(), nullptr);

        sorvane::TresselSessionSnapshot restored;
        juce::String error;
        if (sessionTree.isValid() && sorvane::tresselSessionFromTree(sessionTree, restored, error) &&
            restored.isValid())
            session = sorvane::tresselSessionToTree(restored);
    }
    else
    {
        state = captureParameterSnapshot();
        session = tresselSessionForHost();
    }
    // The restored source is not published yet, so none is named, as right after a restore.
    addSessionPropertiesForHost(state, !pending.state.isValid());

    if (pending.program >= 0)
    {
        // The program's description shows at once; its variations arrive with the message thread.
        describeFactoryProgram(state, pending.program);
        session = {};
    }
    if (session.isValid())
        state.appendChild(session, nullptr);
    return state;
}

sorvane::SampleLoadEstimate SorvaneAudioProcessor::preflightSample(const juce::File& file,
                                                                   juce::String& error)
{
    return sources.preflight(file, error);
}

bool SorvaneAudioProcessor::requestSampleLoad(const juce::File& file, juce::String& error, bool preserveRange)
{
    return sources.requestLoad(file, error, preserveRange);
}

void SorvaneAudioProcessor::cancelSampleLoad()
{
    sources.cancel();
}

void SorvaneAudioProcessor::clearLoadedSample()
{
    removeLiveStateProperty("samplePath");
    removeLiveStateProperty("sampleName");
    sources.clear(); // cancels any load first
}

juce::AudioProcessorEditor* SorvaneAudioProcessor::createEditor()
{
    return new SorvaneAudioProcessorEditor(*this);
}

//======================================================================================================
bool SorvaneAudioProcessor::isBusesLayoutSupported(const BusesLayout& layouts) const
{
    const auto output = layouts.getMainOutputChannelSet();
    if (output != juce::AudioChannelSet::mono() && output != juce::AudioChannelSet::stereo())
        return false;

    return layouts.getMainInputChannelSet() == output;
}

void SorvaneAudioProcessor::prepareToPlay(double sampleRate, int samplesPerBlock)
{
    deviceSampleRate = std::max(sampleRate, 8000.0);

    const int dryChannels = std::max(getTotalNumOutputChannels(), 1);
    const int drySamples = std::max(samplesPerBlock, 1);
    if (dryBuffer.getNumChannels() != dryChannels || dryBuffer.getNumSamples() != drySamples)
        dryBuffer.setSize(dryChannels, drySamples);
    dryBuffer.clear();
    dryBufferHoldsSilence = true;

    player.prepare(deviceSampleRate);
    sources.setAudioActive(nullptr);
    ring.prepare(deviceSampleRate, dryChannels);
    engine.prepare(deviceSampleRate, getTotalNumOutputChannels(), samplesPerBlock);

    transport.clear();
    resetRequested.store(false);
}

void SorvaneAudioProcessor::releaseResources()
{
    engine.reset();
    transport.clear();
    resetRequested.store(false);
}

void SorvaneAudioProcessor::reset()
{
    // Hosts may call this from any thread; the audio thread resets the engine at its next block.
    resetRequested.store(true);
}

double SorvaneAudioProcessor::tempoCandidate() const noexcept
{
    if (wrapperType == wrapperType_Standalone)
        return (double)rawParameterValues[sorvane::pStandaloneTempo]->load(std::memory_order_relaxed);
    return 120.0;
}

void SorvaneAudioProcessor::clearMeters() noexcept
{
    outputRms.store(0.0f);
    outputPeakLevel.store(0.0f);
    outputActivity.store(0.0f);
    publishedEngineMeters.clearLevels();
}

void SorvaneAudioProcessor::processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    juce::ScopedNoDenormals noDenormals;
    // Lets a capture start or a ring resize know when this block has finished with their buffers.
    const sorvane::AudioBlockPresence::Scope inCapture(capture.getPresence()), inRing(ring.getPresence());
    // Only this thread writes the count, so a plain load and store is enough.
    audioCallbackCount.store(audioCallbackCount.load(std::memory_order_relaxed) + 1,
                             std::memory_order_relaxed);

    const int numSamples = buffer.getNumSamples();
    if (!buffer.hasBeenCleared())
        for (int c = getTotalNumInputChannels();
             c < std::min(getTotalNumOutputChannels(), buffer.getNumChannels()); ++c)
            buffer.clear(c, 0, numSamples);

    if (buffer.getNumChannels() == 0 || numSamples == 0)
    {
        clearMeters();
        return;
    }

    // The stand-alone app plays its loaded source in place of the (absent) device input.
    if (wrapperType == wrapperType_Standalone)
    {
        const auto* published = sources.beginAudioRead();
        if (published != nullptr || player.getVoiceSample() != nullptr)
        {
            // A capture hears the source for its loop only; its tail is the effect's own decay.
            const auto gate = capture.gateSource(numSamples);
            if (gate.render)
                player.render(buffer, published, sourceState);
            if (gate.clearFrom == 0)
                buffer.clear();
            else if (gate.clearFrom > 0)
                for (int c = 0; c < buffer.getNumChannels(); ++c)
                    buffer.clear(c, gate.clearFrom, numSamples - gate.clearFrom);
            sources.setAudioActive(player.getVoiceSample());
        }
        sources.endAudioRead();
    }

    // Tempo and transport
    double tempo = tempoCandidate();
    std::optional<sorvane::TransportTracker::Position> position;
    if (auto* host = getPlayHead())
    {
        if (const auto info = host->getPosition())
        {
            if (const auto bpm = info->getBpm())
                tempo = *bpm;

            sorvane::TransportTracker::Position p;
            p.playing = info->getIsPlaying();
            if (const auto t = info->getTimeInSamples())
                p.timeInSamples = *t;
            position = p;
        }
    }

    const bool resetPending = resetRequested.exchange(false);
    if (transport.update(position, isNonRealtime(), resetPending, numSamples))
        engine.reset();

    hostPlaying.store(position.has_value() && position->playing);
    currentTempoValid.store(std::isfinite(tempo) && tempo >= 30.0 && tempo <= 300.0);
    currentTempoBpm.store(std::isfinite(tempo) ? juce::jlimit(30.0, 300.0, tempo) : 120.0);

    // Dry copy for the capture features
    if (buffer.hasBeenCleared())
    {
        if (!dryBufferHoldsSilence)
        {
            dryBuffer.clear();
            dryBufferHoldsSilence = true;
        }
    }
    else
    {
        const int channelsToCopy = std::min(buffer.getNumChannels(), dryBuffer.getNumChannels());
        const int samplesToCopy = std::min(numSamples, dryBuffer.getNumSamples());
        for (int c = 0; c < channelsToCopy; ++c)
            dryBuffer.copyFrom(c, 0, buffer, c, 0, samplesToCopy);
        dryBufferHoldsSilence = false;
    }

    engine.process(buffer, readSettings(), currentTempoBpm.load(std::memory_order_relaxed));
    publishedEngineMeters.store(engine.getMeters());
    publishOutputMeters(buffer);

    ring.write(buffer, numSamples, dryBuffer, dryBufferHoldsSilence);
    capture.write(buffer, numSamples, dryBuffer, dryBufferHoldsSilence);
}

void SorvaneAudioProcessor::publishOutputMeters(const juce::AudioBuffer<float>& buffer) noexcept
{
    if (buffer.hasBeenCleared())
    {
        outputRms.store(0.0f);
        outputPeakLevel.store(0.0f);
        outputActivity.store(0.0f);
        return;
    }

    const int n = buffer.getNumSamples();
    const float* x = buffer.getReadPointer(0);
    double sumOfSquares = 0.0;
    float peak = 0.0f;
    float movement = 0.0f;
    for (int i = 0; i < n; ++i)
    {
        sumOfSquares += (double)x[i] * (double)x[i];
        peak = std::max(peak, std::abs(x[i]));
        if (i > 0)
            movement += std::abs(x[i] - x[i - 1]);
    }

    outputRms.store((float)std::min(1.0, std::sqrt(sumOfSquares / n)));
    outputPeakLevel.store(juce::jlimit(0.0f, 1.0f, peak));
    outputActivity.store(n > 1 ? std::min(1.0f, 4.0f * movement / (float)(n - 1)) : 0.0f);
}
