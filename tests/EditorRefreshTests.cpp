// The editor's refresh tick, status line, visual quality and source flows, driven headless: the
// refresh is told it is showing and is fed timestamps, and alerts are observed instead of shown.
#include "EditorRefreshFixture.h"
#include "EditorTestSupport.h"
#include "TestSupport.h"

#include "editor/AudioCallbackWatch.h"
#include "editor/InterfaceTheme.h"
#include "editor/Palette.h"
#include "editor/ScopeVisualState.h"
#include "editor/SorvaneAudioProcessorEditor.h"
#include "editor/TransportStatusLine.h"
#include "editor/VisualQuality.h"
#include "transport/SourceLoadJob.h"

#include <gtest/gtest.h>

#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>

using sorvane::PreparationState;
using sorvane::VisualQuality;
namespace pal = sorvane::palette;

using sorvane::test::RefreshFixture;
using sorvane::test::writeWav;

namespace
{
juce::Colour lightened(juce::Colour c)
{
    // The integer part of the whole expression, as the theme's shades are rounded.
    const auto lift = [](juce::uint8 v) { return (juce::uint8)(255.0f - (float)(255 - v) * 0.9259259f); };
    return juce::Colour(lift(c.getRed()), lift(c.getGreen()), lift(c.getBlue()), c.getAlpha());
}
} // namespace

//======================================================================================================
TEST(EditorVisualQuality, TierTable)
{
    const struct
    {
        int tier, rate, step;
    } cases[] = {{0, 60, 1}, {1, 40, 2}, {2, 24, 4}};
    for (const auto& c : cases)
    {
        EXPECT_EQ(VisualQuality::tierSettings(c.tier).frameRate, c.rate) << c.tier;
        EXPECT_EQ(VisualQuality::tierSettings(c.tier).geometryStep, c.step) << c.tier;
    }
}

TEST(EditorVisualQuality, ModeSelectionPicksTiersAndAutoKeepsTheCurrentOne)
{
    const struct
    {
        int comboId, mode, tier, rate, step;
    } cases[] = {{4, VisualQuality::low, 2, 24, 4},  {3, VisualQuality::medium, 1, 40, 2},
                 {2, VisualQuality::high, 0, 60, 1}, {0, VisualQuality::automatic, 0, 60, 1},
                 {9, VisualQuality::low, 2, 24, 4},  {1, VisualQuality::automatic, 2, 24, 4}};
    VisualQuality q; // the cases run in sequence: AUTO after LOW keeps tier 2
    for (const auto& c : cases)
    {
        q.selectMode(c.comboId);
        EXPECT_EQ(q.getMode(), c.mode) << "combo id " << c.comboId;
        EXPECT_EQ(q.getTier(), c.tier) << "combo id " << c.comboId;
        EXPECT_EQ(q.getTargetFrameRate(), c.rate) << "combo id " << c.comboId;
        EXPECT_EQ(q.getGeometryStep(), c.step) << "combo id " << c.comboId;
    }
}

TEST(EditorVisualQuality, ThreeLateFramesInARowStepDownAndNotBefore)
{
    VisualQuality q;
    double t = 0;
    EXPECT_FALSE(q.tick(t)); // the first tick only starts the clock
    const double late = 1000.0 / 60.0 * 1.12 + 0.5;
    t += late;
    EXPECT_FALSE(q.tick(t));
    t += late;
    EXPECT_FALSE(q.tick(t));
    EXPECT_EQ(q.getTier(), 0) << "two late frames are not enough";
    t += late;
    EXPECT_TRUE(q.tick(t)) << "the third late frame asks for a slower timer";
    EXPECT_EQ(q.getTier(), 1);
    EXPECT_EQ(q.getTargetFrameRate(), 40);
    EXPECT_EQ(q.getGeometryStep(), 2);
    EXPECT_EQ(q.getFramesCounted(), 3);
    EXPECT_EQ(q.getLateFramesCounted(), 3);
}

TEST(EditorVisualQuality, AnOnTimeFrameBreaksALateRunAndTheThresholdIsExclusive)
{
    VisualQuality q;
    double t = 0;
    q.tick(t);
    const double period = 1000.0 / 60.0;
    for (const double delta : {period * 1.2, period * 1.2, period * 1.12, period * 1.2, period * 1.2})
        q.tick(t += delta);
    EXPECT_EQ(q.getTier(), 0) << "exactly 1.12 periods is on time and resets the late run";
    q.tick(t += period * 1.2);
    EXPECT_EQ(q.getTier(), 1);
}

TEST(EditorVisualQuality, OneHundredEightyOnTimeFramesStepBackUp)
{
    VisualQuality q;
    double t = 0;
    q.tick(t);
    for (int i = 0; i < 3; ++i)
        q.tick(t += 30.0);
    ASSERT_EQ(q.getTargetFrameRate(), 40);
    q.timerRestarted(40);

    const double onTime = 1000.0 / 40.0;
    for (int i = 0; i < 179; ++i)
        EXPECT_FALSE(q.tick(t += onTime)) << i;
    EXPECT_EQ(q.getTier(), 1);
    EXPECT_TRUE(q.tick(t += onTime));
    EXPECT_EQ(q.getTargetFrameRate(), 60);
    q.timerRestarted(60);
    for (int i = 0; i < 400; ++i)
        q.tick(t += 1000.0 / 60.0);
    EXPECT_EQ(q.getTier(), 0) << "the top tier stays";
}

TEST(EditorVisualQuality, FixedModesIgnoreTiming)
{
    for (const int comboId : {2, 3, 4})
    {
        VisualQuality q;
        q.selectMode(comboId);
        q.timerRestarted(q.getTargetFrameRate());
        const int tier = q.getTier();
        double t = 0;
        q.tick(t);
        for (int i = 0; i < 10; ++i)
            EXPECT_FALSE(q.tick(t += 500.0));
        for (int i = 0; i < 400; ++i)
            EXPECT_FALSE(q.tick(t += 1.0));
        EXPECT_EQ(q.getTier(), tier) << "combo id " << comboId;
    }
}

//======================================================================================================
TEST(EditorScopeVisualState, ParametersApproachTheirTargetsGeometrically)
{
    sorvane::ScopeVisualState s;
    std::array<float, sorvane::ScopeVisualState::numParameters> target{};
    for (size_t i = 0; i < target.size(); ++i)
        target[i] = (float)i / (float)target.size();
    for (int n = 1; n <= 20; ++n)
    {
        sorvane::smoothScopeParameters(s, target);
        for (size_t i = 0; i < target.size(); ++i)
            EXPECT_NEAR(s.parameters[i], target[i] * (1.0 - std::pow(0.78, n)), 1.0e-5) << i << " step " << n;
    }
}

TEST(EditorScopeVisualState, ActivityRisesFastFallsSlowlyAndFillsTheHistory)
{
    sorvane::ScopeVisualState s;
    sorvane::followScopeActivity(s, 1.0f, 1.0f, 120.0);
    EXPECT_NEAR(s.activityA, 0.55f, 1e-6);
    EXPECT_NEAR(s.activityB, 0.72f, 1e-6);
    EXPECT_NEAR(s.tempo, 1.0f, 1e-6);
    EXPECT_NEAR(s.overall, std::min(1.0f, 0.55f * 0.55f + 0.3f * 0.72f + 0.4f), 1e-6);
    EXPECT_FLOAT_EQ(s.history.back(), s.overall);

    const float a = s.activityA, b = s.activityB;
    sorvane::followScopeActivity(s, 0.0f, 0.0f, 120.0);
    EXPECT_NEAR(s.activityA, a * (1.0f - 0.12f), 1e-6);
    EXPECT_NEAR(s.activityB, b * (1.0f - 0.16f), 1e-6);
    EXPECT_FLOAT_EQ(s.history.back(), s.overall);

    // Tempo: limited to 0.25..2.5 of 120 BPM before following.
    const struct
    {
        double bpm;
        float limited;
    } tempos[] = {{600.0, 2.5f}, {10.0, 0.25f}, {180.0, 1.5f}};
    for (const auto& c : tempos)
    {
        sorvane::ScopeVisualState t;
        const float before = t.tempo;
        sorvane::followScopeActivity(t, 0.0f, 0.0f, c.bpm);
        const float coefficient = c.limited > before ? 0.48f : 0.10f;
        EXPECT_NEAR(t.tempo, before + (c.limited - before) * coefficient, 1e-6) << c.bpm;
        EXPECT_GE(t.overall, 0.0f);
        EXPECT_LE(t.overall, 1.0f);
    }
}

TEST(EditorScopeVisualState, HistoryShiftsOneEntryPerTick)
{
    sorvane::ScopeVisualState s;
    std::vector<float> overalls;
    for (int i = 0; i < 5; ++i)
    {
        sorvane::followScopeActivity(s, (float)i * 0.2f, 0.0f, 60.0);
        overalls.push_back(s.overall);
    }
    const auto n = (size_t)sorvane::ScopeVisualState::historyLength;
    for (size_t i = 0; i < overalls.size(); ++i)
        EXPECT_FLOAT_EQ(s.history[n - overalls.size() + i], overalls[i]);
    EXPECT_FLOAT_EQ(s.history[n - overalls.size() - 1], 0.0f);
}

//======================================================================================================
TEST(EditorStatusLine, ComposesPrefixNameRangeAndMode)
{
    const struct
    {
        sorvane::TransportStatusInput in;
        const char* text;
        juce::Colour colour;
    } cases[] = {
        {{false, true, true, "x", 0.1, 0.2, false}, "NO SAMPLE LOADED / DROP OR LOAD AUDIO", pal::cyan},
        {{true, false, false, "Drum loop", 0.0, 1.0, true},
         "READY  /  DRUM LOOP  /  RANGE 0.0-100.0%  /  LOOP",
         pal::cyan},
        {{true, true, false, "take 2", 0.125, 0.5, false},
         "PLAYING  /  TAKE 2  /  RANGE 12.5-50.0%  /  ONE-SHOT",
         pal::amber},
        {{true, false, true, "pad", 0.33333, 0.66666, true},
         "PAUSED  /  PAD  /  RANGE 33.3-66.7%  /  LOOP",
         pal::violet},
    };
    for (const auto& c : cases)
    {
        const auto line = sorvane::composeTransportStatus(c.in);
        EXPECT_EQ(line.text, c.text);
        EXPECT_EQ(line.colour, c.colour) << c.text;
    }
    EXPECT_EQ(sorvane::withTransientMessage("A", "B", true), "A  /  B");
    EXPECT_EQ(sorvane::withTransientMessage("A", "B", false), "A");
}

TEST(EditorStatusLine, WithoutAnAudioDeviceNothingClaimsToPlay)
{
    // Whatever the transport wants: playing, paused, ready or without a source.
    const sorvane::TransportStatusInput cases[] = {{true, true, false, "take 2", 0.125, 0.5, false, false},
                                                   {true, false, true, "pad", 0.2, 0.6, true, false},
                                                   {true, false, false, "loop", 0.0, 1.0, true, false},
                                                   {false, false, false, "", 0.0, 1.0, true, false}};
    for (const auto& in : cases)
    {
        const auto line = sorvane::composeTransportStatus(in);
        EXPECT_EQ(line.text, "NO AUDIO DEVICE RUNNING / CHECK OPTIONS > AUDIO/MIDI SETTINGS")
            << in.sourceName;
        EXPECT_EQ(line.colour, pal::red) << in.sourceName;
    }
}

//======================================================================================================
TEST(EditorRefresh, WithoutASourceTheStatusLineAsksForAudioAndCarriesTheTransientMessage)
{
    RefreshFixture f;
    f.editor->setStatusMessage("HELLO", 3);
    for (int i = 0; i < 3; ++i)
    {
        f.tick();
        EXPECT_EQ(f.statusLine(), "NO SAMPLE LOADED / DROP OR LOAD AUDIO  /  HELLO");
    }
    EXPECT_EQ(f.editor->getStatusCountdown(), 0);
    f.tick();
    EXPECT_EQ(f.statusLine(), "NO SAMPLE LOADED / DROP OR LOAD AUDIO");

    // A newer message replaces the older one and restarts the countdown.
    f.editor->setStatusMessage("FIRST");
    f.tick();
    f.editor->setStatusMessage("SECOND");
    EXPECT_EQ(f.editor->getStatusCountdown(), 105);
    f.tick();
    EXPECT_EQ(f.statusLine(), "NO SAMPLE LOADED / DROP OR LOAD AUDIO  /  SECOND");

    auto& s = f.editor->getSourceControls();
    EXPECT_FALSE(s.play.isEnabled());
    EXPECT_FALSE(s.pause.isEnabled());
    EXPECT_FALSE(s.stop.isEnabled());
    EXPECT_FALSE(s.rangeSliders[0].isEnabled());
    EXPECT_FALSE(s.loop.isEnabled());
    EXPECT_EQ(s.clearAudio.getButtonText(), "CLEAR AUDIO");
}

TEST(EditorRefresh, AHiddenEditorOnlyCountsItsDebounceAndKeepsItsStatusLine)
{
    RefreshFixture f;
    f.tick();
    const auto before = f.statusLine();
    f.editor->setRefreshHooks({[&f] { return f.now; }, [] { return false; }});
    f.editor->setStatusMessage("HIDDEN", 5);
    f.tick();
    EXPECT_EQ(f.statusLine(), before);
    EXPECT_EQ(f.editor->getStatusCountdown(), 5) << "transient messages wait until the window shows";
}

TEST(EditorRefresh, SlowTicksLowerTheTimerRateInAutoAndLowFixesIt)
{
    RefreshFixture f;
    f.editor->startTimerHz(60);
    for (int i = 0; i < 4; ++i)
    {
        f.now += 40.0;
        f.editor->timerCallback();
    }
    EXPECT_EQ(f.editor->getVisualQuality().getTargetFrameRate(), 40);
    EXPECT_EQ(f.editor->getVisualQuality().getTimerRate(), 40);
    EXPECT_EQ(f.editor->getTimerInterval(), 1000 / 40);

    auto& combo = dynamic_cast<juce::ComboBox&>(*f.editor->findChildWithID("visualQualityMode"));
    combo.setSelectedId(4, juce::sendNotificationSync);
    EXPECT_EQ(f.editor->getTimerInterval(), 1000 / 24);
    for (int i = 0; i < 300; ++i)
        f.tick();
    EXPECT_EQ(f.editor->getVisualQuality().getTargetFrameRate(), 24);
    f.editor->stopTimer();
}

TEST(EditorRefresh, SmoothedParametersFollowTheProcessor)
{
    RefreshFixture f;
    auto& drive = sorvane::test::parameter(*f.processor, "drive");
    drive.setValueNotifyingHost(1.0f);
    const auto index =
        (size_t)(std::find_if(sorvane::scopeParameterIds.begin(), sorvane::scopeParameterIds.end(),
                              [](const char* id) { return juce::String(id) == "drive"; }) -
                 sorvane::scopeParameterIds.begin());
    ASSERT_LT(index, sorvane::scopeParameterIds.size());
    float previous = f.editor->getScopeVisualState().parameters[index];
    for (int i = 0; i < 10; ++i)
    {
        f.tick();
        const float v = f.editor->getScopeVisualState().parameters[index];
        EXPECT_NEAR(v, previous + (1.0f - previous) * 0.22f, 1e-5);
        previous = v;
    }
}

TEST(EditorRefresh, PluginShowsTheHostTransport)
{
    RefreshFixture f(juce::AudioProcessor::wrapperType_VST3);
    auto& s = f.editor->getSourceControls();
    for (const bool playing : {false, true, false})
    {
        f.processor->hostPlaying = playing;
        f.tick();
        EXPECT_EQ(s.play.getButtonText(), playing ? "HOST PLAYING" : "HOST STOPPED");
        EXPECT_EQ(f.fill(s.play), f.themed(playing ? pal::cyan : pal::violet));
        EXPECT_FALSE(s.play.isEnabled());
        EXPECT_FALSE(s.stop.isEnabled());
        EXPECT_TRUE(f.statusLine().startsWith("HOST TRANSPORT CONTROLS PLAYBACK"));
    }

    // Hosts stop calling a plug-in whenever they like; that is no missing device.
    for (int i = 0; i < 60; ++i)
        f.tick();
    EXPECT_TRUE(f.statusLine().startsWith("HOST TRANSPORT CONTROLS PLAYBACK"));
    EXPECT_FALSE(s.audioIndicator.isVisible());
}

TEST(AudioCallbackWatch, StallsHalfASecondAfterTheLastNewCountAndRecoversAtOnce)
{
    const struct
    {
        std::uint64_t count;
        double now;
        bool running;
    } steps[] = {
        {0, 1000.0, true}, // the first look only starts the clock
        {0, 1499.0, true}, {0, 1500.0, false}, {0, 9000.0, false},
        {1, 9000.5, true}, // one callback is enough
        {1, 9499.0, true}, {1, 9500.5, false}, {2, 9600.0, true},
    };
    sorvane::AudioCallbackWatch watch;
    for (const auto& step : steps)
    {
        EXPECT_EQ(watch.update(step.count, step.now), step.running) << step.count << " at " << step.now;
        EXPECT_EQ(watch.isRunning(), step.running);
    }

    sorvane::AudioCallbackWatch late;
    EXPECT_TRUE(late.update(12345, 1.0e9)) << "no judgement before a count was seen";
}

TEST(EditorRefresh, TheStatusLineStopsClaimingPlayingWhileNoAudioDeviceCalls)
{
    RefreshFixture f;
    ASSERT_EQ(f.dropAndLoad(writeWav(f.folder.getChildFile("device.wav"), 2.0, 8000, 1)).state,
              (int)PreparationState::Published);
    auto& s = f.editor->getSourceControls();
    auto& state = f.processor->getTransportState();
    const auto playingLine =
        "PLAYING  /  " + f.processor->getLoadedSampleName().toUpperCase() + "  /  RANGE 0.0-100.0%  /  LOOP";
    f.editor->setStatusMessage({}, 0);

    f.processor->prepareToPlay(48000.0, 256);
    juce::AudioBuffer<float> block(2, 256);
    juce::MidiBuffer midi;
    const auto deviceCallback = [&]
    {
        block.clear();
        f.processor->processBlock(block, midi);
    };

    s.play.triggerClick();
    sorvane::test::pumpMessages(20);
    for (int i = 0; i < 60; ++i) // a second of ticks with a device calling
    {
        deviceCallback();
        f.tick();
    }
    EXPECT_EQ(f.statusLine(), playingLine);
    EXPECT_EQ(s.play.getButtonText(), "PLAYING");
    EXPECT_FALSE(s.audioIndicator.isVisible());

    // The device goes away: 29 ticks (483 ms) are within the grace, 31 (517 ms) are not.
    for (int i = 0; i < 29; ++i)
        f.tick();
    EXPECT_EQ(f.statusLine(), playingLine);
    f.tick();
    f.tick();
    EXPECT_EQ(f.statusLine(), sorvane::noAudioDeviceStatus);
    EXPECT_EQ(s.status.findColour(juce::Label::textColourId), f.themed(pal::red));
    EXPECT_EQ(s.play.getButtonText(), "PLAY");
    EXPECT_EQ(f.fill(s.play), f.themed(pal::cyan));
    EXPECT_TRUE(s.audioIndicator.isVisible());
    EXPECT_EQ(s.audioIndicator.getText(), "NO AUDIO");
    EXPECT_FALSE(s.audioIndicator.getBounds().isEmpty());
    EXPECT_TRUE(state.playing.load()) << "the transport resumes once a device calls again";

    // Messages still reach the user meanwhile.
    f.editor->setStatusMessage("SEEK +5% / EQUAL-POWER FADE", 2);
    f.tick();
    EXPECT_EQ(f.statusLine(),
              juce::String(sorvane::noAudioDeviceStatus) + "  /  SEEK +5% / EQUAL-POWER FADE");
    f.editor->setStatusMessage({}, 0);

    // The device returns: the first callback is enough.
    deviceCallback();
    f.tick();
    EXPECT_EQ(f.statusLine(), playingLine);
    EXPECT_EQ(s.play.getButtonText(), "PLAYING");
    EXPECT_FALSE(s.audioIndicator.isVisible());
}

//======================================================================================================
TEST(EditorSourceFlows, SupportedAudioFiles)
{
    sorvane::test::ScopedTemporaryHome home;
    const auto folder = home.getFolder();
    const struct
    {
        const char* name;
        bool create, directory, supported;
    } cases[] = {
        {"a.wav", true, false, true},         {"a.WAV", true, false, true},      {"a.aif", true, false, true},
        {"a.aiff", true, false, true},        {"a.flac", true, false, true},     {"a.ogg", true, false, true},
        {"a.mp3", true, false, true},         {"a.m4a", true, false, true},      {"a.aac", true, false, true},
        {"a.Opus", true, false, true},        {"a.txt", true, false, false},     {"wav", true, false, false},
        {"missing.wav", false, false, false}, {"folder.wav", true, true, false},
    };
    for (const auto& c : cases)
    {
        const auto file = folder.getChildFile(c.name);
        if (c.create)
            c.directory ? (void)file.createDirectory() : (void)file.replaceWithText("x");
        EXPECT_EQ(SorvaneAudioProcessorEditor::isSupportedAudioFile(file), c.supported) << c.name;
    }
}

TEST(EditorSourceFlows, DragAcceptsExactlyOneSupportedFile)
{
    RefreshFixture f;
    const auto a = writeWav(f.folder.getChildFile("a.wav"), 0.2, 8000, 1);
    const auto b = writeWav(f.folder.getChildFile("b.wav"), 0.2, 8000, 1);
    const auto text = f.folder.getChildFile("notes.txt");
    text.replaceWithText("x");
    EXPECT_TRUE(f.editor->isInterestedInFileDrag({a.getFullPathName()}));
    EXPECT_FALSE(f.editor->isInterestedInFileDrag({a.getFullPathName(), b.getFullPathName()}));
    EXPECT_FALSE(f.editor->isInterestedInFileDrag({text.getFullPathName()}));
    EXPECT_FALSE(f.editor->isInterestedInFileDrag({}));

    const auto generation = f.processor->getSampleLoadSnapshot().generation;
    f.editor->filesDropped({a.getFullPathName(), b.getFullPathName()}, 0, 0);
    f.editor->filesDropped({text.getFullPathName()}, 0, 0);
    EXPECT_EQ(f.processor->getSampleLoadSnapshot().generation, generation) << "refused drops start nothing";
}

TEST(EditorSourceFlows, ADroppedFileLoadsPublishesAndFillsTheSurface)
{
    RefreshFixture f;
    const auto file = writeWav(f.folder.getChildFile("Swell Loop.wav"), 20.0, 22050, 1);
    f.editor->filesDropped({file.getFullPathName()}, 5, 5);
    EXPECT_TRUE(f.editor->getStatusMessage().startsWith("SOURCE PREPARATION STARTED / "));
    EXPECT_EQ(f.editor->getStatusMessage(), f.editor->getStatusMessage().toUpperCase());
    EXPECT_EQ(f.editor->getStatusCountdown(), 105);
    EXPECT_TRUE(f.alerts.empty());
    EXPECT_EQ(f.editor->getDirectoryStore().get("audioDirectory"), f.folder);

    const auto snapshot = f.waitForLoadEnd();
    ASSERT_EQ(snapshot.state, (int)PreparationState::Published) << snapshot.message;
    f.tick();

    const auto sample = f.processor->getSourceLibrary().getCurrentSample();
    ASSERT_NE(sample, nullptr);
    // The first source replaces nothing, so it says nothing of a previous one.
    EXPECT_EQ(f.editor->getStatusMessage(), "SOURCE READY / " + sample->traits.summary);
    const auto name = f.processor->getLoadedSampleName().toUpperCase();
    EXPECT_EQ(f.statusLine(),
              "READY  /  " + name + "  /  RANGE 0.0-100.0%  /  LOOP  /  " + f.editor->getStatusMessage());

    // The moments combo lists the whole file and every suggestion for the range.
    auto& moments = dynamic_cast<juce::ComboBox&>(*f.editor->findChildWithID("bestMomentSuggestions"));
    const auto suggestions = f.processor->getSourceTransport().getBestMomentSuggestions();
    ASSERT_EQ(moments.getNumItems(), 1 + (int)suggestions.size());
    EXPECT_EQ(moments.getItemId(0), 1000);
    EXPECT_EQ(moments.getItemText(0), "FULL SAMPLE / ALL MOMENTS");
    for (size_t k = 0; k < suggestions.size(); ++k)
    {
        const auto& m = suggestions[k];
        EXPECT_EQ(moments.getItemId((int)k + 1), (int)k + 1);
        EXPECT_EQ(moments.getItemText((int)k + 1),
                  "MOMENT " + juce::String(k + 1) + " / " + juce::String(m.startSeconds, 1) + "S / " +
                      juce::String(m.startSeconds + m.lengthSeconds, 1) + "S / SCORE " +
                      juce::String(juce::roundToInt(m.score * 100.0f)));
    }
    EXPECT_EQ(moments.getTextWhenNothingSelected(),
              suggestions.empty() ? "NO SAFE MOMENT / LOAD 5S+ AUDIO" : "SELECT SUGGESTED MOMENT");

    auto& s = f.editor->getSourceControls();
    EXPECT_TRUE(s.play.isEnabled());
    EXPECT_FALSE(s.pause.isEnabled());
    EXPECT_FALSE(s.stop.isEnabled());
    EXPECT_TRUE(s.rangeSliders[0].isEnabled());
    EXPECT_TRUE(s.loop.isEnabled());
    EXPECT_DOUBLE_EQ(s.rangeSliders[1].getValue(), 100.0);

    // A new editor does not announce a load that finished before it existed.
    f.editor->setStatusMessage({}, 0);
    std::unique_ptr<SorvaneAudioProcessorEditor> second(
        dynamic_cast<SorvaneAudioProcessorEditor*>(f.processor->createEditor()));
    second->stopTimer();
    second->setRefreshHooks({[&f] { return f.now; }, [] { return true; }});
    const auto secondStatus = second->getStatusMessage();
    second->timerCallback();
    EXPECT_EQ(second->getStatusMessage(), secondStatus);
    EXPECT_EQ(dynamic_cast<juce::ComboBox&>(*second->findChildWithID("bestMomentSuggestions")).getNumItems(),
              1 + (int)suggestions.size());
}

TEST(EditorSourceFlows, ARefusedFileAlertsAndStartsNoLoad)
{
    RefreshFixture f;
    const auto junk = f.folder.getChildFile("junk.wav");
    junk.replaceWithText("this is not audio at all");
    const auto generation = f.processor->getSampleLoadSnapshot().generation;
    f.editor->setStatusMessage("BEFORE");
    f.editor->loadSampleWithPreflight(junk);
    ASSERT_EQ(f.alerts.size(), 1u);
    EXPECT_EQ(f.alerts[0].title, "Could not load sample");
    EXPECT_EQ(f.alerts[0].icon, juce::MessageBoxIconType::WarningIcon);
    EXPECT_TRUE(f.alerts[0].text.isNotEmpty());
    EXPECT_EQ(f.processor->getSampleLoadSnapshot().generation, generation);
    EXPECT_EQ(f.editor->getStatusMessage(), "BEFORE");
}

TEST(EditorSourceFlows, CancelAndClear)
{
    RefreshFixture f;
    const auto small = writeWav(f.folder.getChildFile("small.wav"), 1.0, 8000, 1);
    ASSERT_EQ(f.dropAndLoad(small).state, (int)PreparationState::Published);

    // A long load is cancelled, the current audio stays, and the job's own message follows.
    const auto big = writeWav(f.folder.getChildFile("big.wav"), 90.0, 48000, 2);
    f.editor->loadSampleWithPreflight(big);
    f.tick();
    auto& s = f.editor->getSourceControls();
    EXPECT_EQ(s.clearAudio.getButtonText(), "CANCEL LOAD");
    f.editor->clearOrCancelAudio();
    EXPECT_EQ(f.editor->getStatusMessage(), "SOURCE LOAD CANCELLED / CURRENT AUDIO PRESERVED");
    const auto end = f.waitForLoadEnd();
    ASSERT_EQ(end.state, (int)PreparationState::Cancelled);
    f.tick();
    EXPECT_EQ(f.editor->getStatusMessage(), end.message);
    EXPECT_EQ(s.clearAudio.getButtonText(), "CLEAR AUDIO");
    EXPECT_NE(f.processor->getSourceLibrary().getPublished(), nullptr);

    f.editor->clearOrCancelAudio();
    EXPECT_EQ(f.editor->getStatusMessage(), "AUDIO CLEARED / DROP OR LOAD A NEW SAMPLE");
    EXPECT_EQ(f.processor->getSourceLibrary().getPublished(), nullptr);
    auto& moments = dynamic_cast<juce::ComboBox&>(*f.editor->findChildWithID("bestMomentSuggestions"));
    EXPECT_EQ(moments.getNumItems(), 0);
    EXPECT_EQ(moments.getTextWhenNothingSelected(), "NO SAFE MOMENT / LOAD 5S+ AUDIO");
    f.tick();
    EXPECT_TRUE(f.statusLine().startsWith("NO SAMPLE LOADED / DROP OR LOAD AUDIO"));
}

TEST(EditorSourceFlows, DecodeProgressIsReportedWhileLoading)
{
    RefreshFixture f;
    const auto big = writeWav(f.folder.getChildFile("long.wav"), 90.0, 48000, 2);
    f.editor->loadSampleWithPreflight(big);
    juce::StringArray seen;
    const auto endAt = juce::Time::getMillisecondCounter() + 60000;
    while (!sorvane::isTerminal((PreparationState)f.processor->getSampleLoadSnapshot().state) &&
           juce::Time::getMillisecondCounter() < endAt)
    {
        f.tick();
        seen.addIfNotAlreadyThere(f.editor->getStatusMessage());
    }
    const auto decode =
        std::find_if(seen.begin(), seen.end(),
                     [](const juce::String& m) { return m.startsWith("SOURCE DECODE ") && m.endsWith("%"); });
    ASSERT_NE(decode, seen.end()) << seen.joinIntoString(" | ");
    const int percent = decode->fromFirstOccurrenceOf("SOURCE DECODE ", false, false).getIntValue();
    EXPECT_GE(percent, 0);
    EXPECT_LE(percent, 100);
}

TEST(EditorSourceFlows, PlayPauseStopDriveTheTransportAndItsLook)
{
    RefreshFixture f;
    ASSERT_EQ(f.dropAndLoad(writeWav(f.folder.getChildFile("loop.wav"), 2.0, 8000, 1)).state,
              (int)PreparationState::Published);
    auto& s = f.editor->getSourceControls();
    auto& state = f.processor->getTransportState();
    const auto name = f.processor->getLoadedSampleName().toUpperCase();
    f.editor->setStatusMessage({}, 0);

    s.play.triggerClick();
    sorvane::test::pumpMessages(20);
    f.tick();
    EXPECT_TRUE(state.playing.load());
    EXPECT_EQ(s.play.getButtonText(), "PLAYING");
    EXPECT_TRUE(s.pause.isEnabled());
    EXPECT_TRUE(s.stop.isEnabled());
    EXPECT_EQ(f.fill(s.play), f.themed(lightened(pal::cyan)));
    EXPECT_EQ(f.fill(s.pause), f.themed(pal::violet));
    EXPECT_EQ(f.statusLine(), "PLAYING  /  " + name + "  /  RANGE 0.0-100.0%  /  LOOP");
    EXPECT_EQ(s.status.findColour(juce::Label::textColourId), f.themed(pal::amber));

    // Space pauses; the audio thread would have moved the playhead on.
    ASSERT_TRUE(f.editor->keyPressed(juce::KeyPress(juce::KeyPress::spaceKey)));
    state.playheadSamples = 8000.0;
    f.tick();
    EXPECT_FALSE(state.playing.load());
    EXPECT_EQ(s.play.getButtonText(), "PLAY");
    EXPECT_FALSE(s.pause.isEnabled());
    EXPECT_TRUE(s.stop.isEnabled()) << "paused away from the start";
    EXPECT_EQ(f.fill(s.stop), f.themed(lightened(pal::red)));
    EXPECT_EQ(f.fill(s.pause), f.themed(pal::metalDark));
    EXPECT_TRUE(f.statusLine().startsWith("PAUSED  /  "));
    EXPECT_EQ(s.status.findColour(juce::Label::textColourId), f.themed(pal::violet));

    // Space again resumes.
    ASSERT_TRUE(f.editor->keyPressed(juce::KeyPress(juce::KeyPress::spaceKey)));
    EXPECT_TRUE(state.playing.load());

    s.stop.triggerClick();
    sorvane::test::pumpMessages(20);
    f.tick();
    EXPECT_FALSE(state.playing.load());
    EXPECT_TRUE(state.restartRequested.load());
    EXPECT_FALSE(s.stop.isEnabled());
    EXPECT_EQ(f.fill(s.stop), f.themed(pal::red));
    EXPECT_TRUE(f.statusLine().startsWith("READY  /  "));
}

TEST(EditorSourceFlows, RangeControlsSetTheRangeAndReportFailures)
{
    RefreshFixture f;
    ASSERT_EQ(f.dropAndLoad(writeWav(f.folder.getChildFile("range.wav"), 2.0, 8000, 1)).state,
              (int)PreparationState::Published);
    auto& s = f.editor->getSourceControls();
    auto& state = f.processor->getTransportState();
    f.editor->setStatusMessage({}, 0);

    s.rangeSliders[0].setValue(20.0, juce::sendNotificationSync);
    s.rangeSliders[1].setValue(60.0, juce::sendNotificationSync);
    EXPECT_DOUBLE_EQ(state.rangeStart.load(), 0.2);
    EXPECT_DOUBLE_EQ(state.rangeEnd.load(), 0.6);

    s.loop.setToggleState(false, juce::sendNotificationSync);
    EXPECT_FALSE(state.looping.load());
    f.tick();
    EXPECT_TRUE(f.statusLine().endsWith("RANGE 20.0-60.0%  /  ONE-SHOT")) << f.statusLine();

    // IN past OUT is refused with the transport's sentence, and the range stays.
    s.rangeSliders[0].setValue(80.0, juce::sendNotificationSync);
    EXPECT_EQ(f.editor->getStatusMessage(),
              "The source range must be ordered, finite, and contain at least one millionth of the source.");
    EXPECT_DOUBLE_EQ(state.rangeStart.load(), 0.2);
    f.tick();
    EXPECT_DOUBLE_EQ(s.rangeSliders[0].getValue(), 20.0) << "the snapshot corrects the refused slider";
}

TEST(EditorSourceFlows, ADraggedSliderIsNotOverwritten)
{
    RefreshFixture f;
    ASSERT_EQ(f.dropAndLoad(writeWav(f.folder.getChildFile("drag.wav"), 2.0, 8000, 1)).state,
              (int)PreparationState::Published);
    auto& s = f.editor->getSourceControls();
    juce::String error;
    s.rangeSliders[0].onDragStart();
    s.rangeSliders[0].setValue(33.0, juce::dontSendNotification);
    ASSERT_TRUE(f.processor->getSourceTransport().setSourceRange(0.1, 0.9, true, false, error));
    f.tick();
    EXPECT_DOUBLE_EQ(s.rangeSliders[0].getValue(), 33.0);
    EXPECT_DOUBLE_EQ(s.rangeSliders[1].getValue(), 90.0);
    s.rangeSliders[0].onDragEnd();
    f.tick();
    EXPECT_DOUBLE_EQ(s.rangeSliders[0].getValue(), 10.0);
}

TEST(EditorSourceFlows, TimelineArrowsAndFadeSelector)
{
    RefreshFixture f;
    auto& state = f.processor->getTransportState();
    auto& s = f.editor->getSourceControls();

    // Without a source the arrows still report, but nothing is posted.
    const auto before = state.seekRequestCount.load();
    ASSERT_TRUE(f.editor->keyPressed(juce::KeyPress(juce::KeyPress::rightKey)));
    EXPECT_EQ(f.editor->getStatusMessage(), "SEEK +5% / EQUAL-POWER FADE");
    EXPECT_EQ(state.seekRequestCount.load(), before);

    ASSERT_EQ(f.dropAndLoad(writeWav(f.folder.getChildFile("seek.wav"), 2.0, 8000, 1)).state,
              (int)PreparationState::Published);
    juce::String error;
    ASSERT_TRUE(f.processor->getSourceTransport().setSourceRange(0.25, 0.75, true, false, error));
    const double frames = (double)f.processor->getSourceLibrary().getCurrentSample()->getNumFrames();

    const struct
    {
        double playhead; // fraction of the file
        int key;
        double expected;
    } cases[] = {{0.25, juce::KeyPress::leftKey, 0.25},
                 {0.5, juce::KeyPress::leftKey, 0.45},
                 {0.5, juce::KeyPress::rightKey, 0.55},
                 {0.74, juce::KeyPress::rightKey, 0.75 - 1e-9}};
    for (const auto& c : cases)
    {
        state.playheadSamples = c.playhead * frames;
        const auto count = state.seekRequestCount.load();
        ASSERT_TRUE(f.editor->keyPressed(juce::KeyPress(c.key)));
        EXPECT_EQ(state.seekRequestCount.load(), count + 1);
        EXPECT_NEAR(state.seekTarget.load(), c.expected, 1e-9) << c.playhead;
        EXPECT_EQ(f.editor->getStatusMessage(), c.key == juce::KeyPress::leftKey
                                                    ? "SEEK -5% / EQUAL-POWER FADE"
                                                    : "SEEK +5% / EQUAL-POWER FADE");
    }

    const struct
    {
        double value, target;
    } timeline[] = {{50.0, 0.5}, {10.0, 0.25}, {90.0, 0.75 - 1e-9}};
    for (const auto& c : timeline)
    {
        const auto count = state.seekRequestCount.load();
        s.rangeSliders[2].setValue(c.value, juce::sendNotificationSync);
        EXPECT_EQ(state.seekRequestCount.load(), count + 1);
        EXPECT_NEAR(state.seekTarget.load(), c.target, 1e-9) << c.value;
    }

    const struct
    {
        int id;
        float ms;
    } fades[] = {{1, 5.0f}, {4, 30.0f}, {3, 20.0f}, {2, 12.0f}};
    for (const auto& c : fades)
    {
        s.crossfade.setSelectedId(c.id, juce::sendNotificationSync);
        EXPECT_FLOAT_EQ(state.crossfadeMilliseconds.load(), c.ms) << c.id;
    }
}

TEST(EditorSourceFlows, ANewSourceStartsStoppedAtTheRangeStart)
{
    const struct
    {
        const char* name;
        bool stopInsteadOfPause;
        bool preserveRange; // as a host restore loads its source
    } cases[] = {{"paused, then loaded", false, false},
                 {"stopped, then loaded", true, false},
                 {"paused, then loaded keeping the range", false, true}};

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        RefreshFixture f;
        auto& processor = *f.processor;
        auto& state = processor.getTransportState();
        auto& transport = processor.getSourceTransport();
        processor.prepareToPlay(48000, 512);
        juce::AudioBuffer<float> buffer(2, 512);
        juce::MidiBuffer midi;
        const auto render = [&](int blocks)
        {
            for (int i = 0; i < blocks; ++i)
                processor.processBlock(buffer, midi);
        };

        ASSERT_EQ(f.dropAndLoad(writeWav(f.folder.getChildFile("first.wav"), 2.0, 8000, 1)).state,
                  (int)PreparationState::Published);
        juce::String error;
        ASSERT_TRUE(transport.setSourceRange(0.25, 0.75, true, false, error)) << error;
        transport.startPlayback();
        render(40);
        ASSERT_TRUE(state.playing.load());
        if (c.stopInsteadOfPause)
            transport.stop();
        else
            transport.pause();
        render(10); // past the fade
        f.tick();
        ASSERT_EQ(transport.getStatus(), c.stopInsteadOfPause ? sorvane::TransportStatus::stopped
                                                              : sorvane::TransportStatus::paused);
        if (!c.stopInsteadOfPause)
        {
            ASSERT_TRUE(f.statusLine().startsWith("PAUSED  /  ")) << f.statusLine();
        }

        const auto next = writeWav(f.folder.getChildFile("second.wav"), 3.0, 8000, 2);
        if (c.preserveRange)
        {
            ASSERT_TRUE(processor.requestSampleLoad(next, error, true)) << error;
        }
        else
        {
            f.editor->filesDropped({next.getFullPathName()}, 10, 10);
        }
        ASSERT_EQ(f.waitForLoadEnd().state, (int)PreparationState::Published);
        ASSERT_EQ(processor.getLoadedSampleName(), "second.wav");

        // Before and after the audio thread takes the new source over.
        for (const int blocks : {0, 1, 10})
        {
            render(blocks);
            f.tick();
            const auto range = transport.getSnapshot();
            const double start = c.preserveRange ? 0.25 : 0.0;
            EXPECT_DOUBLE_EQ(range.rangeStart, start);
            EXPECT_EQ(transport.getStatus(), sorvane::TransportStatus::stopped) << blocks << " blocks";
            EXPECT_FALSE(state.playing.load()) << blocks << " blocks";
            EXPECT_NEAR(range.playheadFraction, start, 1.0 / 24000.0) << blocks << " blocks";
            EXPECT_TRUE(f.statusLine().startsWith("READY  /  SECOND.WAV  /  ")) << f.statusLine();
            EXPECT_FALSE(f.editor->getSourceControls().stop.isEnabled()) << blocks << " blocks";
        }
    }
}
