#include "app/SorvaneStandaloneApp.h"

#include "app/AppCommandLine.h"
#include "app/AudioDevicePreference.h"
#include "app/PrivateRuntimeFolder.h"
#include "app/ReleaseCommandLine.h"
#include "editor/SettingsFileCheck.h"
#include "editor/SorvaneAudioProcessorEditor.h"
#include "processor/SorvaneAudioProcessor.h"

#include <iostream>

namespace
{
constexpr int smokeReportDelayMs = 750;
constexpr int instanceOwnerWaitMs = 10000;
constexpr int forwardTimeoutMs = 3000;

// In the user's private runtime folder (see PrivateRuntimeFolder.h).
const char* const instanceLockName = "instance.lock";
const char* const instanceSocketName = "instance.socket";
const char* const withoutHandOver = " Later launches start instances of their own.";

void reportFailure(const juce::String& sentence)
{
    // A release script reads the exit code and the report; this says why to whoever watches.
    std::cerr << JucePlugin_Name << ": " << sentence << std::endl;
}
} // namespace

SorvaneStandaloneApp::SorvaneStandaloneApp()
{
    juce::PropertiesFile::Options options;
    options.applicationName = JucePlugin_Name;
    options.filenameSuffix = ".settings";
    options.osxLibrarySubFolder = "";
#if JUCE_LINUX || JUCE_BSD
    // JUCE puts Linux settings straight into the home folder; use the user's config folder.
    options.folderName = juce::File::getSpecialLocation(juce::File::userApplicationDataDirectory)
                             .getChildFile(JucePlugin_Name)
                             .getFullPathName();
#else
    options.folderName = JucePlugin_Name;
#endif
    options.commonToAllUsers = false;
    options.ignoreCaseOfKeyNames = false;
    options.doNotSave = false;
    options.millisecondsBeforeSaving = 3000;
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    applicationProperties.setStorageParameters(options);
}

SorvaneStandaloneApp::~SorvaneStandaloneApp() = default;

bool SorvaneStandaloneApp::moreThanOneInstanceAllowed()
{
    // JUCE's own lock is one for the whole machine; initialise takes one per user instead.
    return true;
}

bool SorvaneStandaloneApp::claimSingleInstance()
{
    juce::String error;
    juce::File folder;
    if (!knurlkit::findPrivateRuntimeFolder(getApplicationName(), folder, error))
    {
        reportFailure(error + withoutHandOver);
        return true;
    }

    instanceLock = std::make_unique<knurlkit::InstanceLock>(folder.getChildFile(instanceLockName));
    switch (instanceLock->acquire(error))
    {
    case knurlkit::InstanceLock::State::owned:
        break;
    case knurlkit::InstanceLock::State::heldElsewhere:
        instanceLock.reset();
        forwardCommandLineToRunningInstance(folder.getChildFile(instanceSocketName));
        quit();
        return false;
    case knurlkit::InstanceLock::State::failed:
        instanceLock.reset();
        reportFailure(error + withoutHandOver);
        return true;
    }

    instanceChannel =
        std::make_unique<knurlkit::SingleInstanceChannel>(folder.getChildFile(instanceSocketName));
    const auto prefix = getApplicationName() + "/";
    if (!instanceChannel->startListening(
            [this, prefix](const juce::String& message)
            {
                if (message.startsWith(prefix))
                    anotherInstanceStarted(message.substring(prefix.length()));
            },
            [](const juce::String& sentence) { reportFailure(sentence); }, error))
        reportFailure(error);
    return true;
}

void SorvaneStandaloneApp::forwardCommandLineToRunningInstance(const juce::File& socketFile)
{
    juce::String error;
    const auto message = getApplicationName() + "/" +
                         sorvane::commandLineForRunningInstance(getCommandLineParameters(),
                                                                juce::File::getCurrentWorkingDirectory());
    if (!knurlkit::SingleInstanceChannel::sendToRunningInstance(socketFile, message, forwardTimeoutMs, error))
    {
        reportFailure(error);
        setApplicationReturnValue(1);
        return;
    }
    std::cout << JucePlugin_Name << " is already running; handed over to the running instance." << std::endl;
}

void SorvaneStandaloneApp::openSourceFile(const juce::File& file)
{
    // The same preflight and load as a dropped file, so limits and failures read the same.
    if (window != nullptr)
        if (auto* editor = dynamic_cast<SorvaneAudioProcessorEditor*>(window->findEditor()))
            editor->loadSampleWithPreflight(file);
}

void SorvaneStandaloneApp::reportSettingsNotSaved(const juce::String& reason)
{
    reportFailure("Settings cannot be saved: " + reason);
    if (window != nullptr)
        if (auto* processor = window->getAudioProcessor())
            if (auto* editor = dynamic_cast<SorvaneAudioProcessorEditor*>(processor->getActiveEditor()))
                editor->reportSettingsNotSaved(reason);
}

void SorvaneStandaloneApp::initialise(const juce::String& commandLine)
{
    const auto command = sorvane::parseAppCommandLine(commandLine, juce::File::getCurrentWorkingDirectory());
    if (command.isInformationRequest())
    {
        std::cout << (command.helpRequested ? sorvane::usageText() : sorvane::versionText() + "\n")
                  << std::flush;
        quitWithExitCode(0);
        return;
    }

    // A help or version request (above) only prints; anything else goes to a running instance of
    // this user when there is one.
    if (!claimSingleInstance())
        return;

    for (const auto& option : command.unknownOptions)
        reportFailure("Ignoring the unknown option " + option + " (see --help).");

    quitSignalWatcher = std::make_unique<knurlkit::QuitSignalWatcher>(
        []
        {
            if (auto* app = juce::JUCEApplicationBase::getInstance())
                app->systemRequestedQuit();
        });

    smokeReportFile = command.release.smokeReportFile;
    instanceOwnerReportFile = command.release.instanceOwnerReportFile;
    workflowReportFile = command.release.workflowReportFile;

    // Without an X server JUCE would crash creating the window; a release script gets a report
    // and exit code 1 instead.
    if (juce::Desktop::getInstance().getDisplays().displays.isEmpty())
    {
        reportFailure("There is no display to show the window on.");
        if (instanceOwnerReportFile != juce::File())
            writeInstancePolicyReport(true);
        else if (smokeReportFile != juce::File())
            writeSmokeReport();
        quitWithExitCode(1);
        return;
    }

    auto* settings = applicationProperties.getUserSettings();

    // JUCE would take the first device type that lists a device (ALSA before JACK); with nothing
    // saved, a running JACK server is the better guess of where the user wants to hear us.
    sorvane::preferJackWhenRunning(*settings);

    // Outputs only: the app plays its own sources and never listens to a device input.
    juce::Array<juce::StandalonePluginHolder::PluginInOuts> outputsOnly;
    outputsOnly.add({0, 2});

    window.reset();
    window = std::make_unique<knurlkit::StandaloneFullscreenWindow>(getApplicationName(),
                                                                    juce::Colour(0xff000000), settings, false,
                                                                    juce::String(), nullptr, outputsOnly);
    window->setVisible(true);
    deviceWatcher =
        std::make_unique<knurlkit::AudioDeviceWatcher>(window->getDeviceManager(), outputsOnly[0].numOuts);
    settingsWatch = std::make_unique<knurlkit::SettingsSaveWatch>(
        *settings, applicationProperties.getStorageParameters().millisecondsBeforeSaving,
        [this](const juce::String& reason) { reportSettingsNotSaved(reason); });
    settingsWatch->checkNow();

    if (command.sourceFile != juce::File())
        openSourceFile(command.sourceFile);

    if (instanceOwnerReportFile != juce::File())
    {
        if (writeInstancePolicyReport(false))
            startTimer(instanceOwnerWaitMs);
        else
            quitWithExitCode(1);
    }
    else if (workflowReportFile != juce::File())
    {
        auto* editor = dynamic_cast<SorvaneAudioProcessorEditor*>(window->findEditor());
        auto* processor = dynamic_cast<SorvaneAudioProcessor*>(window->pluginHolder->processor.get());
        if (editor == nullptr || processor == nullptr)
        {
            reportFailure("The release workflow found no editor to drive; no workflow report was written.");
            quitWithExitCode(1);
            return;
        }
        workflow =
            std::make_unique<sorvane::StandaloneReleaseWorkflow>(*processor, *editor, workflowReportFile);
        workflow->start();
        if (workflow->isDone())
            quitWithExitCode(workflow->passed() ? 0 : 1);
        else
            startTimer(20);
    }
    else if (smokeReportFile != juce::File())
    {
        startTimer(smokeReportDelayMs);
    }
}

void SorvaneStandaloneApp::shutdown()
{
    stopTimer();
    workflow.reset(); // before the window and its editor it drives
    deviceWatcher.reset();
    settingsWatch.reset();

    if (window != nullptr)
    {
        window->pluginHolder->savePluginState();
        window.reset();
    }

    if (auto* settings = applicationProperties.getUserSettings();
        settings != nullptr && settings->needsToBeSaved())
    {
        juce::String unused; // the watch has said it once already if saving fails
        knurlkit::saveSettingsFile(*settings, unused);
    }

    // The socket goes before the lock, so the next owner never finds a live socket it cannot take.
    instanceChannel.reset();
    instanceLock.reset();
    quitSignalWatcher.reset();
}

void SorvaneStandaloneApp::anotherInstanceStarted(const juce::String& commandLine)
{
    if (window != nullptr)
    {
        window->setVisible(true);
        if (window->isMinimised())
            window->setMinimised(false);
        window->toFront(true);
    }

    // The second launch sent absolute paths; our own working directory does not matter.
    const auto command = sorvane::parseAppCommandLine(commandLine, juce::File::getCurrentWorkingDirectory());
    if (command.sourceFile != juce::File())
        openSourceFile(command.sourceFile);

    if (instanceOwnerReportFile != juce::File() && !finalReportWritten)
    {
        stopTimer();
        anotherInstanceObserved = true;
        quitWithExitCode(writeInstancePolicyReport(true) ? 0 : 1);
    }
}

void SorvaneStandaloneApp::systemRequestedQuit()
{
    quit();
}

void SorvaneStandaloneApp::timerCallback()
{
    if (workflow != nullptr)
    {
        workflow->step();
        if (workflow->isDone())
        {
            stopTimer();
            quitWithExitCode(workflow->passed() ? 0 : 1);
        }
        return;
    }
    stopTimer();

    if (instanceOwnerReportFile != juce::File())
    {
        if (finalReportWritten)
            return;

        const auto written = writeInstancePolicyReport(true);
        quitWithExitCode(written && anotherInstanceObserved ? 0 : 1);
    }
    else if (smokeReportFile != juce::File())
    {
        const auto observation = observe();
        const auto written = writeSmokeReport();
        quitWithExitCode(written && observation.windowVisible && observation.processorReady ? 0 : 1);
    }
}

bool SorvaneStandaloneApp::writeInstancePolicyReport(bool final)
{
    juce::String error;
    const auto report = sorvane::buildInstancePolicyReport(observe(), anotherInstanceObserved, final);
    if (!sorvane::writeReportFile(instanceOwnerReportFile, report, error))
    {
        reportFailure(error);
        return false;
    }

    finalReportWritten = finalReportWritten || final;
    return true;
}

bool SorvaneStandaloneApp::writeSmokeReport()
{
    juce::String error;
    if (!sorvane::writeReportFile(smokeReportFile, sorvane::buildSmokeReport(observe()), error))
    {
        reportFailure(error);
        return false;
    }
    return true;
}

sorvane::StandaloneObservation SorvaneStandaloneApp::observe() const
{
    sorvane::StandaloneObservation observation;
    observation.windowVisible = window != nullptr && window->isShowing();
    if (window != nullptr)
        if (auto* processor = window->getAudioProcessor())
            observation.processorReady = processor->getName() == JucePlugin_Name;
    observation.topLevelWindowCount = juce::TopLevelWindow::getNumTopLevelWindows();
    return observation;
}

void SorvaneStandaloneApp::quitWithExitCode(int exitCode)
{
    setApplicationReturnValue(exitCode);
    quit();
}

juce::JUCEApplicationBase* juce_CreateApplication();
juce::JUCEApplicationBase* juce_CreateApplication()
{
    return new SorvaneStandaloneApp();
}
