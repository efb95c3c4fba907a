// Fills a processed capture offline and exports it through the editor's own EXPORT WAV path, driven
// line by line over stdin/stdout by tests/process/capture_export_kill_test.py:
//
//     CaptureExportDriver SOURCE.wav DESTINATION.wav RATE TEMPO BARS
//     -> "CAPTURED <frames> <channels> <rate>"   the stand-alone processor has captured BARS bars
//                                                plus the tail through processBlock at RATE
//     <- "EXPORT"                                 hands DESTINATION to the editor as the save chooser
//                                                does; the editor starts its export job
//     -> "STARTED"
//     -> "COMPLETED"                              the job reports Completed (printed at once)
//     -> "ENDED <state> <message>"                the job ended any other way
//     <- "QUIT" or end of input                   exits 0
//
// Any failure prints "ERROR <reason>" and exits 1. Settings go below $HOME, which the caller sets.

#include "TestSupport.h"

#include "editor/SorvaneAudioProcessorEditor.h"
#include "transport/SourceLoadJob.h"

#include <juce_audio_utils/juce_audio_utils.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

namespace
{
int fail(const juce::String& reason)
{
    std::cout << "ERROR " << reason << std::endl;
    return 1;
}

template <typename Predicate>
bool pumpUntil(Predicate done, int milliseconds)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32)milliseconds;
    while (!done())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil(5);
    }
    return true;
}

bool readCommand(const std::string& expected)
{
    std::string line;
    while (std::getline(std::cin, line))
        if (line == expected)
            return true;
    return false;
}

int run(const juce::File& source, const juce::File& destination, double rate, float tempo, int bars)
{
    constexpr int blockSize = 512;
    auto processor = sorvane::test::makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
    processor->prepareToPlay(rate, blockSize);

    juce::String error;
    if (!processor->requestSampleLoad(source, error, false))
        return fail("load refused: " + error);
    sorvane::CreatorPreparationSnapshot snapshot;
    pumpUntil(
        [&]
        {
            snapshot = processor->getSampleLoadSnapshot();
            return snapshot.state >= (int)sorvane::PreparationState::Published;
        },
        30000);
    if (snapshot.state != (int)sorvane::PreparationState::Published)
        return fail("load did not publish: " + snapshot.message);

    sorvane::test::setPlain(*processor, "standaloneTempo", tempo);
    juce::AudioBuffer<float> block(2, blockSize);
    juce::MidiBuffer midi;
    const auto process = [&]
    {
        block.clear();
        processor->processBlock(block, midi);
    };
    process(); // the tempo reaches the processor in a block

    if (!processor->startProcessedCapture(bars, true, error))
        return fail("capture refused: " + error);
    const auto& capture = processor->getProcessedCapture();
    while (capture.isActive())
        process();
    if (!capture.isComplete())
        return fail("capture did not complete");

    // The editor is built as the window builds it; it is never shown.
    std::unique_ptr<juce::AudioProcessorEditor> base(processor->createEditor());
    auto* editor = dynamic_cast<SorvaneAudioProcessorEditor*>(base.get());
    if (editor == nullptr)
        return fail("no editor");

    {
        const auto copy = processor->copyProcessedCapture();
        std::cout << "CAPTURED " << copy.getNumSamples() << " " << copy.getNumChannels() << " "
                  << capture.describe().sampleRate << std::endl;
    }

    if (!readCommand("EXPORT"))
        return 0;

    // What the save chooser does with the chosen file. The message loop is not run from here on, so
    // the editor's refresh cannot finish and discard the job before its end is reported.
    editor->exportToChosenFile(destination);
    const auto* job = editor->getExportJob();
    if (job == nullptr)
        return fail("the editor started no export: " + editor->getStatusMessage());
    std::cout << "STARTED" << std::endl;

    using State = sorvane::CreatorExportState;
    for (;;)
    {
        const auto s = job->getSnapshot();
        if (s.state == State::Completed)
        {
            std::cout << "COMPLETED" << std::endl;
            break;
        }
        if (s.state == State::Cancelled || s.state == State::Failed)
        {
            std::cout << "ENDED " << (int)s.state << " " << s.message << std::endl;
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }

    readCommand("QUIT");
    base.reset();
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 6)
    {
        std::fprintf(stderr, "usage: CaptureExportDriver SOURCE.wav DESTINATION.wav RATE TEMPO BARS\n");
        return 2;
    }
    // No window is opened; a display that cannot exist keeps JUCE away from any real X server.
    ::setenv("DISPLAY", ":-1", 1);
    juce::ScopedJuceInitialiser_GUI juce;
    const auto cwd = juce::File::getCurrentWorkingDirectory();
    return run(cwd.getChildFile(argv[1]), cwd.getChildFile(argv[2]), std::atof(argv[3]),
               (float)std::atof(argv[4]), std::atoi(argv[5]));
}
