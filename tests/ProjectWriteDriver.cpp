// Saves a creator project over and over, for tests/process/project_write_kill_test.py to kill:
//
//     ProjectWriteDriver write FILE    -> "WROTE <n>" after each complete save of generation n
//     ProjectWriteDriver save FILE     -> the same through the processor's SAVE PROJECT path
//     ProjectWriteDriver autosave      -> "WROTE <n>" after each completed autosave generation
//     ProjectWriteDriver check FILE    -> "GENERATION <n>" when FILE reads as a whole project,
//                                         otherwise "ERROR <reason>" (exit 1)
//     ProjectWriteDriver checkautosave -> "GENERATIONS <newest> <previous>" (0 when absent) when
//                                         every autosave generation present reads whole
//     ProjectWriteDriver work crash|quit -> works in a recovery session, autosaves, prints
//                                         "AUTOSAVED <digest>", then waits to be killed or quits
//     ProjectWriteDriver recover       -> "RESTORED <digest>" after restoring an offered autosave,
//                                         or "NOTHING <message>"
//
// Each generation holds a full Tressel session with a 16-entry history, so a save takes long enough
// to be interrupted.

#include "TestSupport.h"

#include "projects/CreatorProjectFile.h"
#include "projects/ProjectAutosave.h"
#include "projects/ProjectRecovery.h"
#include "transport/SourceLoadJob.h"
#include "workflow/StableHash.h"
#include "workflow/TresselPersonality.h"

#include <iostream>

namespace
{
sorvane::CreatorProjectData makeRecord(SorvaneAudioProcessor& processor, int generation)
{
    sorvane::test::setPlain(processor, "drive", (float)(generation % 90));
    sorvane::CreatorProjectData data;
    data.parameterState = processor.captureParameterSnapshot();
    data.tempo = 60.0 + generation % 100;
    data.videoArtist = "generation " + juce::String(generation);
    data.tresselSession = processor.getTresselSession();
    auto& history = data.tresselSession.history;
    history.clear();
    for (int i = 0; i < (int)sorvane::TresselSessionSnapshot::maxHistory; ++i)
    {
        auto entry = data.parameterState.createCopy();
        entry.setProperty("historyEntry", i, nullptr);
        history.push_back(entry);
    }
    return data;
}

int write(const juce::File& file)
{
    auto processor = sorvane::test::makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
    processor->generateTressel(4242u, sorvane::tresselGlass, 55.0f, {}, false, false);
    processor->selectTresselVariant(1);
    for (int generation = 1;; ++generation)
    {
        juce::String error;
        if (!sorvane::writeCreatorProject(file, makeRecord(*processor, generation), error))
        {
            std::cout << "ERROR " << error << std::endl;
            return 1;
        }
        std::cout << "WROTE " << generation << std::endl;
    }
}

std::unique_ptr<SorvaneAudioProcessor> makeWorker()
{
    auto processor = sorvane::test::makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
    processor->generateTressel(4242u, sorvane::tresselGlass, 55.0f, {}, false, false);
    processor->selectTresselVariant(1);
    return processor;
}

int saveThroughProcessor(const juce::File& file)
{
    auto processor = makeWorker();
    for (int generation = 1;; ++generation)
    {
        sorvane::test::setPlain(*processor, "drive", (float)(generation % 90));
        processor->setCreatorVideoIdentity("generation " + juce::String(generation), false);
        juce::String error;
        if (!processor->saveCreatorProject(file, error))
        {
            std::cout << "ERROR " << error << std::endl;
            return 1;
        }
        std::cout << "WROTE " << generation << std::endl;
    }
}

int autosaveForever()
{
    auto processor = makeWorker();
    sorvane::ProjectAutosave autosave(
        sorvane::ProjectRecovery::defaultFolder().getChildFile("Autosave.sorvaneproject"),
        sorvane::ProjectRecovery::defaultFolder().getChildFile("Autosave.previous.sorvaneproject"));
    std::int64_t now = 1000000;
    for (int generation = 1;; ++generation)
    {
        const auto record = makeRecord(*processor, generation);
        juce::String error;
        if (!autosave.step(
                true, now, [&] { return record; }, error))
        {
            std::cout << "ERROR " << error << std::endl;
            return 1;
        }
        while (autosave.isRunning())
            juce::Thread::sleep(1);
        if (!autosave.step(
                false, now, [&] { return record; }, error))
        {
            std::cout << "ERROR " << error << std::endl;
            return 1;
        }
        std::cout << "WROTE " << generation << std::endl;
        now += sorvane::ProjectAutosave::intervalMilliseconds;
    }
}

int generationOf(const juce::File& file, juce::String& error)
{
    sorvane::CreatorProjectData data;
    if (!file.exists())
        return 0;
    if (!sorvane::readCreatorProject(file, data, error))
        return -1;
    if (!data.videoArtist.startsWith("generation ") || data.tresselSession.history.size() != 16)
    {
        error = "the project read back is not one the writer made";
        return -1;
    }
    return data.videoArtist.fromFirstOccurrenceOf(" ", false, false).getIntValue();
}

int checkAutosaves()
{
    const auto folder = sorvane::ProjectRecovery::defaultFolder();
    juce::String error;
    const int newest = generationOf(folder.getChildFile("Autosave.sorvaneproject"), error);
    const int previous = generationOf(folder.getChildFile("Autosave.previous.sorvaneproject"), error);
    if (newest < 0 || previous < 0)
    {
        std::cout << "ERROR " << error << std::endl;
        return 1;
    }
    std::cout << "GENERATIONS " << newest << " " << previous << std::endl;
    return 0;
}

juce::String soundDigest(SorvaneAudioProcessor& processor)
{
    return sorvane::treeDigest(processor.captureParameterSnapshot()) + ":" +
           juce::String((int)processor.getMutationHistory().size());
}

int work(bool crash)
{
    auto processor = makeWorker();
    processor->startRecoverySession();
    sorvane::test::setPlain(*processor, "drive", 47.0f);
    sorvane::test::setPlain(*processor, "tone", 3210.0f);
    juce::String error;
    processor->autosaveCreatorProjectIfNeeded(error);
    while (processor->isAutosaveRunning())
        juce::Thread::sleep(1);
    if (!processor->autosaveCreatorProjectIfNeeded(error))
    {
        std::cout << "ERROR " << error << std::endl;
        return 1;
    }
    std::cout << "AUTOSAVED " << soundDigest(*processor) << std::endl;
    if (!crash)
        return 0; // the processor's destruction records the clean close
    for (;;)
        juce::Thread::sleep(1000);
}

int recover()
{
    auto processor = sorvane::test::makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
    processor->startRecoverySession();
    const auto offer = processor->getProjectRecoverySnapshot();
    if (!offer.recoveryAvailable)
    {
        std::cout << "NOTHING " << offer.message << std::endl;
        return 0;
    }
    juce::String error;
    if (!processor->requestCreatorProjectLoad(offer.autosaveFile, {}, error))
    {
        std::cout << "ERROR " << error << std::endl;
        return 1;
    }
    for (int i = 0; i < 30000; ++i)
    {
        const auto s = processor->getSampleLoadSnapshot();
        if (sorvane::isTerminal((sorvane::PreparationState)s.state))
        {
            if (s.state != (int)sorvane::PreparationState::Published)
            {
                std::cout << "ERROR " << s.message << std::endl;
                return 1;
            }
            std::cout << "RESTORED " << soundDigest(*processor) << " "
                      << (processor->projectDirty.load() ? "dirty" : "clean") << std::endl;
            return 0;
        }
        juce::MessageManager::getInstance()->runDispatchLoopUntil(2);
    }
    std::cout << "ERROR the restore never finished" << std::endl;
    return 1;
}

int check(const juce::File& file)
{
    sorvane::CreatorProjectData data;
    juce::String error;
    if (!sorvane::readCreatorProject(file, data, error))
    {
        std::cout << "ERROR " << error << std::endl;
        return 1;
    }
    if (!data.videoArtist.startsWith("generation ") || data.tresselSession.history.empty())
    {
        std::cout << "ERROR the project read back is not one the writer made" << std::endl;
        return 1;
    }
    std::cout << "GENERATION " << data.videoArtist.fromFirstOccurrenceOf(" ", false, false) << std::endl;
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;
    const juce::String mode = argc > 1 ? argv[1] : "";
    if (mode == "autosave")
        return autosaveForever();
    if (mode == "checkautosave")
        return checkAutosaves();
    if (mode == "recover")
        return recover();
    if (mode == "work" && argc == 3)
        return work(juce::String(argv[2]) == "crash");
    if (argc != 3)
    {
        std::cout << "ERROR usage: ProjectWriteDriver write|save|check FILE" << std::endl;
        return 2;
    }
    const juce::File file(juce::File::getCurrentWorkingDirectory().getChildFile(argv[2]));
    if (mode == "write")
        return write(file);
    if (mode == "save")
        return saveThroughProcessor(file);
    return check(file);
}
