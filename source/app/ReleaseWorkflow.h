#pragma once

#include "capture/CreatorExportJob.h"

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

class SorvaneAudioProcessor;
class SorvaneAudioProcessorEditor;

namespace sorvane
{
// The scripted certification of an installed stand-alone app: it drives the real processor and
// editor through the creator workflow, keeps every artefact in one folder beside the report, and
// writes a JSON report whose "pass" says whether the build works. Message thread only.
class StandaloneReleaseWorkflow
{
public:
    StandaloneReleaseWorkflow(SorvaneAudioProcessor& processor, SorvaneAudioProcessorEditor& editor,
                              const juce::File& reportFile);
    ~StandaloneReleaseWorkflow();

    // The start-up certification; ends the run with a failure when one of its checks does not hold.
    void start();
    // One timer step of the staged run (every 20 ms).
    void step();

    bool isDone() const noexcept { return done; }
    bool passed() const noexcept { return pass; }
    const juce::String& getFailure() const noexcept { return failure; }
    const juce::File& getArtifactFolder() const noexcept { return artifacts; }

    static constexpr const char* artifactFolderName = "standalone-workflow-artifacts";

private:
    void fail(const juce::String& message);
    bool checkDeadline(double limitMs, const juce::String& label);
    bool launchWaveExport(const juce::File& file, int kind);
    bool launchSocialFallback();
    void finish();
    void writeReport();
    void enterStage(int next);

    bool certifyControls();
    bool certifyPresetSearch();
    bool certifyMacroLockUndo();
    bool certifyQuality();
    bool certifyKeyboard();
    bool certifyScreenshot();
    bool writeFixtureSource(juce::String& error);
    bool saveAndReopenProject(juce::String& error);
    bool projectReopenFinished(bool& ok, juce::String& message);
    void runStage();

    SorvaneAudioProcessor& processor;
    SorvaneAudioProcessorEditor& editor;
    const juce::File reportFile;
    const juce::File artifacts;
    juce::File source, relinkedSource, project, waveExport, dragExport, socialFolder;

    juce::AudioBuffer<float> captured;
    double capturedRate = 0.0;
    std::unique_ptr<CreatorExportJob> job;
    int stage = 0;
    double stageStart = 0.0;
    double sourceRequestMilliseconds = 0.0, maximumMessageTaskMilliseconds = 0.0;
    juce::String failure, fallbackMessage, searchPath;

    bool presetSearchAndFavourite = false, macroLockUndo = false, audioAndVisualQuality = false,
         sourceRangeAndTransport = false, captureCancelAndRetry = false, projectSaveReopenRelink = false,
         dependencyFailureFallback = false, waveDragRetry = false, keyboardOnlyPath = false,
         namedScreenshotRetained = false, noPartialOutput = false, pass = false;
    bool done = false;

    JUCE_DECLARE_NON_COPYABLE(StandaloneReleaseWorkflow)
};
} // namespace sorvane
