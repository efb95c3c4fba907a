#pragma once

// A stand-alone editor whose refresh is ticked by hand: it is told it is showing and fed timestamps,
// and its alerts are recorded instead of shown.
#include "EditorTestSupport.h"
#include "TestSupport.h"

#include "editor/InterfaceTheme.h"
#include "editor/SorvaneAudioProcessorEditor.h"
#include "transport/SourceLoadJob.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>
#include <memory>
#include <vector>

namespace sorvane::test
{
inline juce::File writeWav(const juce::File& file, double seconds, double rate, int channels)
{
    file.deleteFile();
    auto stream = std::make_unique<juce::FileOutputStream>(file);
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer(
        wav.createWriterFor(stream.release(), rate, (unsigned)channels, 16, {}, 0));
    const int frames = (int)(seconds * rate);
    juce::AudioBuffer<float> audio(channels, frames);
    juce::Random random(7);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i)
        {
            // A tone whose level swells every few seconds, with a little noise, so analysis has contrast.
            const double t = i / rate;
            const double swell = 0.2 + 0.3 * (0.5 + 0.5 * std::sin(2.0 * M_PI * t / 7.0));
            audio.setSample(c, i,
                            (float)(swell * std::sin(2.0 * M_PI * 220.0 * t + c)) +
                                0.02f * (random.nextFloat() - 0.5f));
        }
    writer->writeFromAudioSampleBuffer(audio, 0, frames);
    return file;
}

struct RefreshFixture
{
    explicit RefreshFixture(
        juce::AudioProcessor::WrapperType wrapper = juce::AudioProcessor::wrapperType_Standalone)
        : processor(sorvane::test::makeProcessor(wrapper))
    {
        folder = home.getFolder().getChildFile("audio");
        folder.createDirectory();
        editor.reset(dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
        editor->stopTimer(); // the tests tick by hand
        editor->setRefreshHooks({[this] { return now; }, [] { return true; }});
        editor->setAlertPresenter(
            [this](juce::MessageBoxIconType icon, const juce::String& title, const juce::String& text) {
                alerts.push_back({icon, title, text});
            });
    }

    ~RefreshFixture() { editor = nullptr; }

    // One on-time tick.
    void tick()
    {
        now += 1000.0 / 60.0;
        editor->timerCallback();
    }

    juce::String statusLine() { return editor->getSourceControls().status.getText(); }

    sorvane::CreatorPreparationSnapshot waitForLoadEnd(bool tickWhileWaiting = false)
    {
        sorvane::CreatorPreparationSnapshot s;
        const auto end = juce::Time::getMillisecondCounter() +
                         60000; // generous: sanitizer builds on a busy machine decode slowly
        for (;;)
        {
            s = processor->getSampleLoadSnapshot();
            if (sorvane::isTerminal((PreparationState)s.state) || juce::Time::getMillisecondCounter() > end)
                break;
            if (tickWhileWaiting)
                tick();
            sorvane::test::pumpMessages(2);
        }
        return s;
    }

    // Drops a file, waits for the load and lets the editor see the outcome.
    sorvane::CreatorPreparationSnapshot dropAndLoad(const juce::File& file)
    {
        editor->filesDropped({file.getFullPathName()}, 10, 10);
        const auto s = waitForLoadEnd();
        tick();
        return s;
    }

    juce::Colour fill(juce::Button& b) { return b.findColour(juce::TextButton::buttonColourId); }
    juce::Colour themed(juce::Colour c) { return kavix::ui::colourFor(kavix::ui::themeFor(*editor), c); }

    struct Alert
    {
        juce::MessageBoxIconType icon;
        juce::String title, text;
    };

    sorvane::test::ScopedTemporaryHome home;
    juce::File folder;
    std::unique_ptr<SorvaneAudioProcessor> processor;
    std::unique_ptr<SorvaneAudioProcessorEditor> editor;
    std::vector<Alert> alerts;
    double now = 1000.0;
};
} // namespace sorvane::test
