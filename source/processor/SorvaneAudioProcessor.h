#pragma once

#include "capture/BeforeAfterRing.h"
#include "capture/ProcessedCapture.h"
#include "dsp/DspSettings.h"
#include "dsp/SorvaneEngine.h"
#include "processor/HostCallQueue.h"
#include "processor/LockWord.h"
#include "processor/ParameterLayout.h"
#include "processor/ParameterState.h"
#include "processor/PublishedMeters.h"
#include "processor/SettingsReader.h"
#include "processor/TransportTracker.h"
#include "presets/PresetCatalog.h"
#include "projects/PreparedCreatorProject.h"
#include "projects/ProjectAutosave.h"
#include "projects/ProjectRecovery.h"
#include "projects/RecentProjects.h"
#include "social/CreatorVideoIdentity.h"
#include "social/SocialShare.h"
#include "transport/SourceLibrary.h"
#include "transport/SourcePlayer.h"
#include "transport/SourceTransport.h"
#include "workflow/Mutation.h"
#include "workflow/MutationHistory.h"
#include "workflow/TresselGeneration.h"
#include "workflow/TresselWorkflowController.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

// Owns everything that outlives an editor window; the work itself lives in the classes it holds.
class SorvaneAudioProcessor : public juce::AudioProcessor, public juce::AudioProcessorValueTreeState::Listener
{
public:
    static constexpr auto& parameterIds = sorvane::parameterIds;

    SorvaneAudioProcessor();
    ~SorvaneAudioProcessor() override;

    static juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout();
    static std::uint32_t lockBitForParameterId(const juce::String& id);

    //==================================================================================================
    bool isBusesLayoutSupported(const BusesLayout& layouts) const override;
    void prepareToPlay(double sampleRate, int samplesPerBlock) override;
    void releaseResources() override;
    void reset() override;
    void processBlock(juce::AudioBuffer<float>&, juce::MidiBuffer&) override;
    using juce::AudioProcessor::processBlock;

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override { return true; }

    const juce::String getName() const override { return "Sorvane"; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    bool isMidiEffect() const override { return false; }
    double getTailLengthSeconds() const override { return 4.0; }

    // The factory presets are the host's programs.
    int getNumPrograms() override { return sorvane::numFactoryPrograms; }
    int getCurrentProgram() override { return currentProgram.load(); }
    void setCurrentProgram(int index) override;
    const juce::String getProgramName(int index) override;
    void changeProgramName(int, const juce::String&) override {}
    bool isPresetLevelLockEnabled() const;

    // Presets (message thread): the catalog, browsing with audition and revert, and the recent list.
    sorvane::PresetCatalog& getPresetCatalog() noexcept { return *presetCatalog; }
    void refreshUserPresets(bool forceRescan) { presetCatalog->refreshUserPresets(forceRescan); }
    std::vector<sorvane::PresetDescriptor> queryPresets(const juce::String& source, const juce::String& tag,
                                                        bool favouritesOnly, const juce::String& search) const
    {
        return presetCatalog->query(source, tag, favouritesOnly, search);
    }
    bool applyBrowserPreset(const sorvane::PresetDescriptor& entry, juce::String& error);
    bool setPresetFavourite(const juce::String& id, bool favourite, juce::String& error);
    void rememberRecentPreset(int program, const juce::File& file);
    std::vector<sorvane::PresetDescriptor> getRecentPresets() const;
    void setPresetLevelLock(bool enabled);
    // Writes the current sound as a user preset; see sorvane::saveUserPreset.
    bool saveUserPreset(const juce::File& file, bool replaceExisting, juce::String& error);
    // The same; `written` names the file as written (with its extension).
    bool saveUserPreset(const juce::File& file, bool replaceExisting, juce::File& written,
                        juce::String& error);
    void beginPresetExperiment();
    void clearPresetExperiment();
    bool isPresetExperimentActive() const noexcept { return experimentBefore.isValid(); }
    bool revertPresetExperiment();
    bool keepPresetExperiment();

    // Hosts call these three on threads of their own. There only the parameters (through their atomics)
    // and the scalar session values change at once; the state tree and the workflows belong to the
    // message thread, which finishes the call soon after. A state read in between already shows it.
    void getStateInformation(juce::MemoryBlock& destData) override;
    void setStateInformation(const void* data, int sizeInBytes) override;
    // Finishes on the message thread what hosts asked for on their own threads; true when anything was.
    bool finishHostCalls();

    //==================================================================================================
    void parameterChanged(const juce::String& parameterID, float newValue) override;

    sorvane::DspSettings readSettings() const noexcept;
    void setMacroLockedParameterIds(const juce::StringArray& ids);

    juce::ValueTree captureParameterSnapshot();
    void applyParameterSnapshot(const juce::ValueTree& tree);

    // Mutation and its history (message thread).
    float snapshotNormalisedValue(const juce::ValueTree& tree,
                                  const juce::RangedAudioParameter& parameter) const;
    void setSnapshotNormalisedValue(juce::ValueTree& tree, const juce::RangedAudioParameter& parameter,
                                    float normalised) const;
    juce::ValueTree makeMutatedSnapshot(const juce::ValueTree& base, std::uint32_t seed, float strength,
                                        const juce::StringArray& locks) const;
    void mutateCurrentProgram(std::uint32_t seed, float strength, const juce::StringArray& controlLocks);
    void generateMutationVariants(std::uint32_t seed, float strength, const juce::StringArray& controlLocks);
    // Auditioning a variation set: a variation, or its unchanged starting sound.
    bool selectMutationVariation(int index);
    bool restoreMutationBaseline();
    juce::StringArray getEffectiveMutationLocks(const juce::StringArray& controlLocks) const;
    void pushMutationHistory(const juce::ValueTree& tree);
    bool undoMutation();
    bool redoMutation();
    const sorvane::MutationHistory& getMutationHistory() const noexcept { return mutationHistory; }
    const juce::ValueTree& getTresselBase() const noexcept { return tresselBase; }
    const std::vector<juce::ValueTree>& getTresselVariants() const noexcept { return tresselVariants; }

    // Tressel (message thread): generation and auditioning; each success is recorded in the history.
    sorvane::TresselGenerationResult generateTressel(std::uint32_t seed, int personality, float amount,
                                                     const juce::StringArray& controlLocks, bool keepBaseline,
                                                     bool reducedMotion);
    bool selectTresselVariant(int index);
    bool restoreTresselBaseline();
    bool keepTresselVariant();
    sorvane::TresselSessionSnapshot getTresselSession() const { return tresselController.getSnapshot(); }

    // DNA: the session and the exact sound as pasteable text, and what the auditioned sound changed.
    juce::String copyTresselDna(juce::String& error);
    bool importTresselDna(const juce::String& text, juce::String& error);
    juce::String describeTresselChanges();

    // Sources (stand-alone): loading, publication and transport.
    using LoadedSample = sorvane::LoadedSample;
    sorvane::SampleLoadEstimate preflightSample(const juce::File& file, juce::String& error);
    bool requestSampleLoad(const juce::File& file, juce::String& error, bool preserveRange);
    void cancelSampleLoad();
    void clearLoadedSample();
    sorvane::CreatorPreparationSnapshot getSampleLoadSnapshot() { return sources.snapshot(); }
    juce::String getLoadedSampleName() { return sources.getLoadedSampleName(); }
    sorvane::SourceLibrary& getSourceLibrary() noexcept { return sources; }
    sorvane::SourceTransport& getSourceTransport() noexcept { return sourceTransport; }
    sorvane::TransportState& getTransportState() noexcept { return sourceState; }

    // Capture (stand-alone) and the before/after window (any wrapper).
    bool startProcessedCapture(int bars, bool includeTail, juce::String& error);
    void cancelProcessedCapture() noexcept { capture.cancel(); }
    juce::AudioBuffer<float> copyProcessedCapture() const { return capture.copy(); }
    bool exportProcessedCapture(const juce::File& file, juce::String& error) const;
    const sorvane::ProcessedCapture& getProcessedCapture() const noexcept { return capture; }
    // Allocates the rings at the device's rate and starts keeping audio; false when memory runs out.
    bool armBeforeAfter();
    // The status text of a Keep That request of the given bars, labelled as the button that asked.
    juce::String requestKeepThat(int bars, const juce::String& label);
    // Takes a completed freeze into the Keep That result; true when one was taken.
    bool completeKeepThat();
    // The same, with the reason when a completed freeze could not be kept.
    bool completeKeepThat(juce::String& error);
    bool hasKeepThat() const;
    sorvane::BeforeAfterAudioSnapshot getKeepThat() const;
    const sorvane::BeforeAfterRing& getBeforeAfterRing() const noexcept { return ring; }

    // The creator's name and flag for teasers, and the last social choices (0-2 each).
    void setCreatorVideoIdentity(const juce::String& artist, bool effectedOnly);
    sorvane::CreatorVideoIdentity getCreatorVideoIdentity() const;
    void setSocialVideoChoices(int aspect, int duration, int background);
    // The offline teaser render of the current source with the settings of this moment.
    sorvane::PreparedSourceVideo prepareSourceVideo(double durationSeconds, juce::String& error);

    // Creator projects. A load is prepared on a worker and published as one unit on the message
    // thread; nothing of the open session changes before that moment.
    using PreparedCreatorProject = sorvane::PreparedCreatorProject;
    bool requestCreatorProjectLoad(const juce::File& projectFile, const juce::File& locatedSourceFile,
                                   juce::String& error);
    void queuePreparedCreatorProject(PreparedCreatorProject prepared); // worker thread
    sorvane::CreatorProjectData captureCreatorProjectData(bool autosave);
    bool saveCreatorProject(const juce::File& file, juce::String& error);
    // One step of the autosave cycle; false with "Autosave failed: ..." in `error`.
    bool autosaveCreatorProjectIfNeeded(juce::String& error);
    void cancelAutosaveJob();
    bool isAutosaveRunning() const { return autosave.isRunning(); }
    juce::File autosaveStorageFile() const { return recovery.getNewestAutosaveFile(); }
    juce::File recentProjectsStorageFile() const { return recentProjects.getStorageFile(); }
    // Stand-alone only, once: decides what to offer after an unclean shutdown.
    void startRecoverySession() { recovery.startSession(); }
    void endRecoverySession() { recovery.endSession(); }
    sorvane::ProjectRecoverySnapshot getProjectRecoverySnapshot() const { return recovery.getSnapshot(); }
    bool discardAutosavedProject(juce::String& error);
    void rememberProject(const juce::File& file);
    juce::StringArray getRecentProjects() const { return recentProjects.getPaths(); }
    std::uint32_t getRecentProjectsVersion() const noexcept { return recentProjects.getVersion(); }
    juce::File getCurrentProjectFile() const { return recentProjects.getCurrentProjectFile(); }

    juce::AudioProcessorValueTreeState& getParameterState() noexcept { return parameters; }
    const sorvane::RawParameterValues& getRawParameterValues() const noexcept { return rawParameterValues; }
    const sorvane::SorvaneEngine& getEngine() const noexcept { return engine; }
    sorvane::EngineMeters getPublishedEngineMeters() const noexcept { return publishedEngineMeters.load(); }
    double getDeviceSampleRate() const noexcept { return deviceSampleRate; }
    // Blocks processed so far; a count that stops moving means no audio device calls us any more.
    std::uint64_t getAudioCallbackCount() const noexcept
    {
        return audioCallbackCount.load(std::memory_order_relaxed);
    }

    //==================================================================================================
    // Scalars shared with the editor and the workflows; plain atomics, read without locks.
    std::atomic<std::uint64_t> lockWord{0};
    std::atomic<int> currentProgram{0};
    std::atomic<double> currentTempoBpm{120.0};
    std::atomic<bool> currentTempoValid{true};
    std::atomic<bool> hostPlaying{false};
    std::atomic<bool> projectDirty{false};
    std::atomic<bool> suppressProjectDirty{false};
    std::atomic<int> socialAspect{0};
    std::atomic<int> socialDuration{0};
    std::atomic<int> socialBackground{0};
    // The capture length and tail last chosen; projects save and restore them.
    std::atomic<int> captureBarsSetting{4};
    std::atomic<bool> captureTailSetting{true};
    // Seed of the latest mutation, variation set or Tressel generation.
    std::atomic<std::uint32_t> workflowSeed{0};

    std::atomic<float> outputRms{0.0f};
    std::atomic<float> outputPeakLevel{0.0f};
    std::atomic<float> outputActivity{0.0f};

private:
    struct ProjectPublicationUpdater : juce::AsyncUpdater
    {
        explicit ProjectPublicationUpdater(SorvaneAudioProcessor& p) : owner(p) {}
        void handleAsyncUpdate() override;
        SorvaneAudioProcessor& owner;
    };
    void publishPendingCreatorProject();
    void discardPendingCreatorProject();
    void markProjectDirty() noexcept;
    void endTresselSession();
    bool applyHistoryEntry(const juce::ValueTree& entry);
    static void setParameterInGesture(juce::RangedAudioParameter& parameter, float plainValue);
    void adoptTresselSession(const sorvane::TresselSessionSnapshot& session);
    juce::ValueTree tresselSessionForHost() const;
    void restoreWorkflowsFromHost(const juce::ValueTree& sessionTree);
    void addSessionPropertiesForHost(juce::ValueTree& state, bool withSource);
    void storeSessionValuesFromHost(const juce::ValueTree& restored);
    // `parametersSet`: the parameters hold the restored values already (a host's own thread set them),
    // so only the tree's own properties are installed and no parameter is written again.
    void restoreSessionPropertiesFromHost(const juce::ValueTree& state, bool parametersSet);
    void restoreHostState(const juce::ValueTree& tree, bool parametersSet);
    void setParametersFromHostState(const juce::ValueTree& tree);
    juce::ValueTree hostStateWhileCallsWait(const sorvane::HostCallQueue::Pending& pending);
    void setProgramParameters(int index);
    void completeProgramChange(int index);
    static void describeFactoryProgram(juce::ValueTree& state, int index);
    // Every write to the live state tree, and every read of it off the message thread, holds this. The
    // framework's own flush of parameter values takes a lock of its own and runs on the message thread.
    void installParameterState(const juce::ValueTree& tree);
    void installStateProperties(const juce::ValueTree& tree);
    void setLiveStateProperty(const juce::Identifier& id, const juce::var& value);
    void removeLiveStateProperty(const juce::Identifier& id);
    juce::var getLiveStateProperty(const juce::Identifier& id) const;
    void publishOutputMeters(const juce::AudioBuffer<float>& buffer) noexcept;
    void clearMeters() noexcept;
    double tempoCandidate() const noexcept;

    juce::AudioProcessorValueTreeState parameters;
    sorvane::RawParameterValues rawParameterValues{};
    mutable std::recursive_mutex stateTreeMutex;
    // The tree's "presetLevelLock", for program changes that arrive off the message thread.
    mutable std::atomic<bool> presetLevelLock{false};

    sorvane::SorvaneEngine engine;
    double deviceSampleRate = 44100.0;
    juce::AudioBuffer<float> dryBuffer;
    bool dryBufferHoldsSilence = false;

    sorvane::TransportTracker transport;
    std::atomic<bool> resetRequested{false};

    sorvane::PublishedMeters publishedEngineMeters;
    std::atomic<std::uint64_t> audioCallbackCount{0};
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);

    sorvane::MutationHistory mutationHistory;
    // The sound the current variants started from and the variants themselves: a Tressel session's or
    // a variation set's.
    juce::ValueTree tresselBase;
    std::vector<juce::ValueTree> tresselVariants;
    sorvane::TresselWorkflowController tresselController;

    std::unique_ptr<sorvane::PresetCatalog> presetCatalog;
    // The preset audition: the sound and workflows from before browsing; active while the tree is valid.
    juce::ValueTree experimentBefore, experimentTresselBase;
    std::vector<juce::ValueTree> experimentTresselVariants;
    sorvane::TresselSessionSnapshot experimentTresselSession;
    std::uint32_t experimentWorkflowSeed = 0;

    // Declared before the sources: a publication resets them, up to the library's last moment.
    mutable sorvane::ProcessedCapture capture;
    sorvane::BeforeAfterRing ring;
    mutable std::mutex beforeAfterMutex;
    sorvane::BeforeAfterAudioSnapshot beforeAfter;
    void resetCaptureAndKeepThat(bool keepKeptWindow = false);

    mutable std::mutex creatorIdentityMutex;
    juce::String videoArtist;
    bool videoEffectedOnly = false;

    sorvane::RecentProjects recentProjects{sorvane::RecentProjects::defaultStorageFile()};
    sorvane::ProjectRecovery recovery{sorvane::ProjectRecovery::defaultFolder()};
    sorvane::ProjectAutosave autosave{recovery.getNewestAutosaveFile(), recovery.getPreviousAutosaveFile()};
    std::mutex pendingProjectMutex;
    std::optional<PreparedCreatorProject> pendingProject;
    ProjectPublicationUpdater projectPublicationUpdater{*this};

    sorvane::TransportState sourceState;
    sorvane::SourcePlayer player;
    // Declared last of the source members: its jobs are cancelled and joined before the rest goes.
    sorvane::SourceLibrary sources{sourceState, [this] { markProjectDirty(); }};
    sorvane::SourceTransport sourceTransport{sourceState, sources, wrapperType == wrapperType_Standalone,
                                             [this] { markProjectDirty(); }};

    sorvane::HostCallQueue hostCalls{[this] { finishHostCalls(); }};
    // Held while a host's own thread applies a call or reads the state, and while the message thread
    // finishes calls: an older restore being finished cannot overwrite what a newer one set, and a read
    // never sees half of either.
    std::recursive_mutex hostCallMutex;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SorvaneAudioProcessor)
};
