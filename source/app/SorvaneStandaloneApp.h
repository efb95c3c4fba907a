#pragma once

#include "app/AudioDeviceWatcher.h"
#include "app/PrivateRuntimeFolder.h"
#include "app/QuitSignalWatcher.h"
#include "app/ReleaseReports.h"
#include "app/ReleaseWorkflow.h"
#include "app/SettingsSaveWatch.h"
#include "app/SingleInstanceChannel.h"
#include "app/StandaloneFullscreenWindow.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

// The stand-alone application: one window around JUCE's stand-alone holder, its own settings file,
// one running instance, and the command-line report modes release scripts use.
class SorvaneStandaloneApp : public juce::JUCEApplication, public juce::Timer
{
public:
    SorvaneStandaloneApp();
    ~SorvaneStandaloneApp() override;

    const juce::String getApplicationName() override { return JucePlugin_Name; }
    const juce::String getApplicationVersion() override { return JucePlugin_VersionString; }
    bool moreThanOneInstanceAllowed() override;

    void initialise(const juce::String& commandLine) override;
    void shutdown() override;
    void anotherInstanceStarted(const juce::String& commandLine) override;
    void systemRequestedQuit() override;
    void timerCallback() override;

    bool writeInstancePolicyReport(bool final);

private:
    sorvane::StandaloneObservation observe() const;
    bool writeSmokeReport();
    void quitWithExitCode(int exitCode);
    // False when another instance of this user runs: the command line went to it and the app quits.
    bool claimSingleInstance();
    void forwardCommandLineToRunningInstance(const juce::File& socketFile);
    void openSourceFile(const juce::File& file);
    void reportSettingsNotSaved(const juce::String& reason);

    juce::ApplicationProperties applicationProperties;
    std::unique_ptr<knurlkit::StandaloneFullscreenWindow> window;
    std::unique_ptr<knurlkit::AudioDeviceWatcher> deviceWatcher;
    std::unique_ptr<knurlkit::SettingsSaveWatch> settingsWatch;
    std::unique_ptr<sorvane::StandaloneReleaseWorkflow> workflow;

    juce::File smokeReportFile;
    juce::File instanceOwnerReportFile;
    juce::File workflowReportFile;

    bool anotherInstanceObserved = false;
    bool finalReportWritten = false;

    std::unique_ptr<knurlkit::QuitSignalWatcher> quitSignalWatcher;
    std::unique_ptr<knurlkit::InstanceLock> instanceLock;
    std::unique_ptr<knurlkit::SingleInstanceChannel> instanceChannel;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SorvaneStandaloneApp)
};
