// Plays the stand-alone processor through a real audio device (JACK), driven line by line over
// stdin/stdout by tests/process/end_to_end_audio_test.py:
//
//     EndToEndPlayer SOURCE.wav
//     -> "READY <rate> <block size> <output channels>"  once the source is published
//     <- "PLAY"                                         starts source playback
//     -> "PLAYING"
//     <- "QUIT" or end of input                         closes the device and exits 0
//
// Any failure prints "ERROR <reason>" and exits 1.

#include "TestSupport.h"

#include "transport/SourceLoadJob.h"

#include <juce_audio_utils/juce_audio_utils.h>

#include <atomic>
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

// Runs the message loop (JUCE's device code posts to it) until done() or the timeout.
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

int run(const juce::File& source)
{
    juce::AudioDeviceManager devices;
    // JACK by name: a machine with an ALSA device would otherwise get that one.
    devices.setCurrentAudioDeviceType("JACK", true);
    const auto error = devices.initialise(0, 2, nullptr, false);
    auto* device = devices.getCurrentAudioDevice();
    if (error.isNotEmpty() || device == nullptr || device->getTypeName() != "JACK")
        return fail("no JACK device: " + error);

    auto processor = sorvane::test::makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
    sorvane::test::setPlain(*processor, "mix", 0.0f);
    sorvane::test::setPlain(*processor, "matchSourceLevel", 0.0f);

    juce::AudioProcessorPlayer player;
    player.setProcessor(processor.get());
    devices.addAudioCallback(&player);

    juce::String loadError;
    if (!processor->requestSampleLoad(source, loadError, false))
        return fail("load refused: " + loadError);
    sorvane::CreatorPreparationSnapshot snapshot;
    pumpUntil(
        [&]
        {
            snapshot = processor->getSampleLoadSnapshot();
            return snapshot.state >= (int)sorvane::PreparationState::Published;
        },
        15000);
    if (snapshot.state != (int)sorvane::PreparationState::Published)
        return fail("load did not publish: " + snapshot.message);

    // JUCE counts an output as active once JACK reports it connected, through a message posted to this
    // loop; on a loaded machine the load can publish before that message arrives.
    pumpUntil([&] { return device->getActiveOutputChannels().countNumberOfSetBits() >= 2; }, 15000);
    std::cout << "READY " << device->getCurrentSampleRate() << " " << device->getCurrentBufferSizeSamples() << " "
              << device->getActiveOutputChannels().countNumberOfSetBits() << std::endl;

    // stdin blocks, so it is read on a thread of its own while the message loop keeps running.
    std::atomic<bool> playRequested{false}, quitRequested{false};
    std::thread reader(
        [&]
        {
            std::string line;
            while (std::getline(std::cin, line))
            {
                if (line == "PLAY")
                    playRequested = true;
                else if (line == "QUIT")
                    break;
            }
            quitRequested = true;
        });

    bool playing = false;
    pumpUntil(
        [&]
        {
            if (!playing && playRequested.load())
            {
                processor->getSourceTransport().startPlayback();
                playing = true;
                std::cout << "PLAYING" << std::endl;
            }
            return quitRequested.load();
        },
        60000);

    devices.removeAudioCallback(&player);
    player.setProcessor(nullptr);
    devices.closeAudioDevice();
    // The reader only ends on QUIT or end of input; a caller that never sends either is ended by PID.
    reader.join();
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: EndToEndPlayer SOURCE.wav\n");
        return 2;
    }
    // No window is opened; a display that cannot exist keeps JUCE away from any real X server.
    ::setenv("DISPLAY", ":-1", 1);
    juce::ScopedJuceInitialiser_GUI juce;
    return run(juce::File::getCurrentWorkingDirectory().getChildFile(argv[1]));
}
