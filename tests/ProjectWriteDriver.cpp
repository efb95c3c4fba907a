// Saves a creator project over and over, for tests/process/project_write_kill_test.py to kill:
//
//     ProjectWriteDriver write FILE   -> "WROTE <n>" after each complete save of generation n
//     ProjectWriteDriver check FILE   -> "GENERATION <n>" when FILE reads as a whole project,
//                                        otherwise "ERROR <reason>" (exit 1)
//
// Each generation holds a full Tressel session with a 16-entry history, so a save takes long enough
// to be interrupted.

#include "TestSupport.h"

#include "projects/CreatorProjectFile.h"
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

int check(const juce::File& file)
{
    sorvane::CreatorProjectData data;
    juce::String error;
    if (!sorvane::readCreatorProject(file, data, error))
    {
        std::cout << "ERROR " << error << std::endl;
        return 1;
    }
    if (!data.videoArtist.startsWith("generation ") || data.tresselSession.history.size() != 16)
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
    if (argc != 3)
    {
        std::cout << "ERROR usage: ProjectWriteDriver write|check FILE" << std::endl;
        return 2;
    }
    const juce::File file(juce::File::getCurrentWorkingDirectory().getChildFile(argv[2]));
    return juce::String(argv[1]) == "write" ? write(file) : check(file);
}
