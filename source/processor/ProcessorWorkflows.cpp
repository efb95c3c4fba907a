// The processor's sound-design members: mutation and history, Tressel sessions and factory programs.
// Each forwards to the workflow class that does the work.

#include "processor/ParameterState.h"
#include "processor/SorvaneAudioProcessor.h"
#include "presets/FactoryPresets.h"
#include "presets/FactoryVariationFunction.h"
#include "workflow/TresselChanges.h"
#include "workflow/TresselDna.h"
#include "workflow/TresselPersonality.h"
#include "workflow/TresselSessionTree.h"
#include "workflow/TresselVariants.h"

namespace
{
const juce::Identifier tresselVariantName{"tresselVariantName"};
} // namespace

//======================================================================================================
float SorvaneAudioProcessor::snapshotNormalisedValue(const juce::ValueTree& tree,
                                                     const juce::RangedAudioParameter& parameter) const
{
    return sorvane::snapshotNormalisedValue(tree, parameter);
}

void SorvaneAudioProcessor::setSnapshotNormalisedValue(juce::ValueTree& tree,
                                                       const juce::RangedAudioParameter& parameter,
                                                       float normalised) const
{
    sorvane::setSnapshotNormalisedValue(tree, parameter, normalised);
}

juce::ValueTree SorvaneAudioProcessor::makeMutatedSnapshot(const juce::ValueTree& base, std::uint32_t seed,
                                                           float strength,
                                                           const juce::StringArray& locks) const
{
    return sorvane::Mutation(getParameters()).makeMutatedSnapshot(base, seed, strength, locks);
}

juce::StringArray
SorvaneAudioProcessor::getEffectiveMutationLocks(const juce::StringArray& controlLocks) const
{
    return sorvane::Mutation::effectiveLocks(lockWord.load(std::memory_order_acquire), controlLocks);
}

void SorvaneAudioProcessor::endTresselSession()
{
    tresselVariants.clear();
    tresselBase = {};
    tresselController.clear();
}

void SorvaneAudioProcessor::adoptTresselSession(const sorvane::TresselSessionSnapshot& session)
{
    tresselBase = session.baseline;
    tresselVariants.assign(session.variants.begin(), session.variants.end());
}

void SorvaneAudioProcessor::mutateCurrentProgram(std::uint32_t seed, float strength,
                                                 const juce::StringArray& controlLocks)
{
    workflowSeed.store(seed);
    setMacroLockedParameterIds(controlLocks);
    const auto effective = getEffectiveMutationLocks(controlLocks);

    const auto result = makeMutatedSnapshot(captureParameterSnapshot(), seed, strength, effective);
    applyParameterSnapshot(result);
    endTresselSession();
    pushMutationHistory(result);
}

void SorvaneAudioProcessor::generateMutationVariants(std::uint32_t seed, float strength,
                                                     const juce::StringArray& controlLocks)
{
    workflowSeed.store(seed);
    setMacroLockedParameterIds(controlLocks);
    const auto effective = getEffectiveMutationLocks(controlLocks);

    endTresselSession();
    tresselBase = captureParameterSnapshot();

    const sorvane::Mutation mutation(getParameters());
    for (std::uint32_t k = 0; k < 4; ++k)
        tresselVariants.push_back(
            mutation.makeMutatedSnapshot(tresselBase, seed + 7919u * k, strength, effective));

    // The sound stays as it was; choosing a variant later applies it and records it in the history.
    applyParameterSnapshot(tresselBase);
}

bool SorvaneAudioProcessor::selectMutationVariation(int index)
{
    // The list is shared: after a Tressel generation these are its variants, auditioned as a sound
    // without touching the session.
    if (index < 0 || index >= (int)tresselVariants.size() || !tresselVariants[(size_t)index].isValid())
        return false;

    applyParameterSnapshot(tresselVariants[(size_t)index]);
    pushMutationHistory(captureParameterSnapshot());
    return true;
}

bool SorvaneAudioProcessor::restoreMutationBaseline()
{
    if (!tresselBase.isValid())
        return false;

    applyParameterSnapshot(tresselBase);
    pushMutationHistory(captureParameterSnapshot());
    return true;
}

void SorvaneAudioProcessor::pushMutationHistory(const juce::ValueTree& tree)
{
    mutationHistory.push(tree);
}

bool SorvaneAudioProcessor::undoMutation()
{
    return applyHistoryEntry(mutationHistory.stepBack());
}

bool SorvaneAudioProcessor::redoMutation()
{
    return applyHistoryEntry(mutationHistory.stepForward());
}

bool SorvaneAudioProcessor::applyHistoryEntry(const juce::ValueTree& entry)
{
    if (!entry.isValid())
        return false;

    // Stepping through the history changes the sound, never what the user protected since.
    const auto locks = lockWord.load();
    applyParameterSnapshot(entry);
    lockWord.store(locks);
    return true;
}

//======================================================================================================
sorvane::TresselGenerationResult SorvaneAudioProcessor::generateTressel(std::uint32_t seed, int personality,
                                                                        float amount,
                                                                        const juce::StringArray& controlLocks,
                                                                        bool keepBaseline, bool reducedMotion)
{
    sorvane::TresselGenerationResult result;
    result.selectorIndex = juce::jlimit(0, sorvane::numTresselPersonalities - 1, personality);
    result.reducedMotion = reducedMotion;

    int requested = result.selectorIndex;
    if (requested == sorvane::tresselAuto)
    {
        if (const auto sample = sources.getCurrentSample();
            sample != nullptr && sample->traits.family != 0 && sample->traits.confidence >= 0.52f)
        {
            requested = juce::jlimit(0, sorvane::numTresselPersonalities - 1,
                                     (int)sample->traits.recommendedPersonality);
            result.sourceAware = true;
            result.sourceFamily = sample->traits.family;
        }
    }

    result.resolvedPersonality = sorvane::resolvePersonality(requested, seed);

    setMacroLockedParameterIds(controlLocks);
    const auto effective = getEffectiveMutationLocks(controlLocks);
    workflowSeed.store(seed);

    auto baseline = captureParameterSnapshot();
    if (keepBaseline)
        if (const auto previous = tresselController.getSnapshot(); previous.baseline.isValid())
            baseline =
                sorvane::composeRegenerationBaseline(previous.baseline, baseline, effective, getParameters());

    const auto session = tresselController.generate(
        baseline, seed, requested, amount, reducedMotion,
        sorvane::makeTresselVariantFunction(result.selectorIndex, result.resolvedPersonality, effective,
                                            getParameters()));
    adoptTresselSession(session);

    juce::ValueTree first;
    if (tresselController.select(0, first))
    {
        applyParameterSnapshot(first);
        pushMutationHistory(first);
    }
    else
    {
        applyParameterSnapshot(tresselBase);
    }
    return result;
}

bool SorvaneAudioProcessor::selectTresselVariant(int index)
{
    juce::ValueTree variant;
    if (!tresselController.select(index, variant))
        return false;

    applyParameterSnapshot(variant);
    pushMutationHistory(variant);
    return true;
}

bool SorvaneAudioProcessor::restoreTresselBaseline()
{
    const auto session = tresselController.getSnapshot();
    if (!session.baseline.isValid())
        return false;

    applyParameterSnapshot(session.baseline);
    pushMutationHistory(session.baseline);
    return true;
}

bool SorvaneAudioProcessor::keepTresselVariant()
{
    juce::ValueTree kept;
    if (!tresselController.keep(kept))
        return false;

    applyParameterSnapshot(kept);
    pushMutationHistory(kept);
    return true;
}

//======================================================================================================
juce::String SorvaneAudioProcessor::copyTresselDna(juce::String& error)
{
    return sorvane::encodeTresselDna(tresselController.getSnapshot(), captureParameterSnapshot(), error);
}

bool SorvaneAudioProcessor::importTresselDna(const juce::String& text, juce::String& error)
{
    sorvane::TresselDnaPayload payload;
    if (!sorvane::decodeTresselDna(text, payload, error))
        return false;

    tresselController.restore(payload.session);
    adoptTresselSession(payload.session);
    workflowSeed.store(payload.session.seed);
    // The recent list is this user's; a pasted sound keeps it (older DNA may carry someone else's).
    const juce::Identifier recent{"recentPresetHistory"};
    if (const auto local = getLiveStateProperty(recent); !local.isVoid())
        payload.exactState.setProperty(recent, local, nullptr);
    else
        payload.exactState.removeProperty(recent, nullptr);
    applyParameterSnapshot(payload.exactState);
    pushMutationHistory(payload.exactState);
    return true;
}

juce::String SorvaneAudioProcessor::describeTresselChanges()
{
    return sorvane::describeTresselChanges(tresselController.getSnapshot().baseline,
                                           captureParameterSnapshot(), getParameters());
}

juce::ValueTree SorvaneAudioProcessor::tresselSessionForHost() const
{
    const auto session = tresselController.getSnapshot();
    return session.isValid() ? sorvane::tresselSessionToTree(session) : juce::ValueTree();
}

void SorvaneAudioProcessor::restoreWorkflowsFromHost(const juce::ValueTree& sessionTree)
{
    endTresselSession();

    // A damaged session is dropped; the parameters it travelled with still apply.
    sorvane::TresselSessionSnapshot session;
    juce::String error;
    if (sessionTree.isValid() && sorvane::tresselSessionFromTree(sessionTree, session, error))
    {
        tresselController.restore(session);
        adoptTresselSession(session);
        workflowSeed.store(session.seed);
    }

    mutationHistory.clear();
    for (const auto& entry : session.history)
        pushMutationHistory(entry);
    if (session.history.empty())
        pushMutationHistory(captureParameterSnapshot());
}

//======================================================================================================
const juce::String SorvaneAudioProcessor::getProgramName(int index)
{
    if ((unsigned)index >= (unsigned)sorvane::numFactoryPrograms)
        return {};
    return sorvane::factoryPresets()[(size_t)index].name;
}

void SorvaneAudioProcessor::setCurrentProgram(int index)
{
    if ((unsigned)index >= (unsigned)sorvane::numFactoryPrograms)
        return;

    if (sorvane::isOnMessageThread())
    {
        finishHostCalls(); // what a host asked for earlier comes first
        currentProgram.store(index);
        setProgramParameters(index);
        completeProgramChange(index);
        return;
    }

    // A host's own thread: the sound is the program's at once, the rest follows on the message thread.
    const std::lock_guard<std::recursive_mutex> hostLock(hostCallMutex);
    currentProgram.store(index);
    setProgramParameters(index);
    hostCalls.postProgram(index);
}

void SorvaneAudioProcessor::setProgramParameters(int index)
{
    const auto& preset = sorvane::factoryPresets()[(size_t)index];
    if (auto* sync = parameters.getParameter("delaySync"))
        setParameterInGesture(*sync, 0.0f);

    const bool levelLock = isPresetLevelLockEnabled();
    for (const auto& value : preset.values)
    {
        if (levelLock && (value.id == "mix" || value.id == "output"))
            continue;
        if (auto* p = parameters.getParameter(value.id))
            setParameterInGesture(*p, value.value);
    }
}

void SorvaneAudioProcessor::describeFactoryProgram(juce::ValueTree& state, int index)
{
    const auto& preset = sorvane::factoryPresets()[(size_t)index];
    state.setProperty("presetName", preset.name, nullptr);
    state.setProperty("presetCategory", preset.category, nullptr);
    state.setProperty("presetTags", preset.tags, nullptr);
    state.setProperty("presetBestSource", preset.bestSource, nullptr);
    state.setProperty("presetIntensity", preset.intensity, nullptr);
    state.setProperty("presetBank", sorvane::effectiveFactoryBank(preset), nullptr);
    state.removeProperty(tresselVariantName, nullptr);
}

void SorvaneAudioProcessor::completeProgramChange(int index)
{
    currentProgram.store(index);
    const auto& preset = sorvane::factoryPresets()[(size_t)index];
    {
        const std::lock_guard<std::recursive_mutex> lock(stateTreeMutex);
        describeFactoryProgram(parameters.state, index);
    }

    endTresselSession();
    // Recorded before the variations are made, so their baseline is the sound exactly as it is left
    // and the same row applied again gives the same variants.
    rememberRecentPreset(index, {});

    if (!preset.variations.empty())
    {
        const std::uint32_t seed = (std::uint32_t)index + 1397247831u;
        workflowSeed.store(seed);
        const auto session =
            tresselController.generate(captureParameterSnapshot(), seed, sorvane::tresselAuto, 35.0f, false,
                                       sorvane::makeFactoryVariationFunction(preset, getParameters()));
        adoptTresselSession(session);
    }

    pushMutationHistory(captureParameterSnapshot());
}

void SorvaneAudioProcessor::setParameterInGesture(juce::RangedAudioParameter& parameter, float plainValue)
{
    parameter.beginChangeGesture();
    parameter.setValueNotifyingHost(parameter.convertTo0to1(plainValue));
    parameter.endChangeGesture();
}
