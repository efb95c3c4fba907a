// What independent plug-in validators do, held in the project: state recall after other host values,
// programs chosen from a host's own thread, blocks a host should not send, and hosts that call state,
// program and parameter functions from another thread while audio runs and the editor opens and closes.

#include "plugins/HostedPlugin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

using namespace sorvane::plugintest;

namespace
{
class HostValidation : public ::testing::TestWithParam<Format>
{
protected:
    void SetUp() override { ASSERT_TRUE(reference().isObject()) << "the reference renderer failed"; }
};

// JUCE's hosting passes a host's parameter changes on from its message thread, and LV2 hosts deliver them
// with the next run: the host's messages are dispatched and a block is played.
void playOneBlock(juce::AudioPluginInstance& p, int block = 512)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil(20);
    juce::AudioBuffer<float> buffer(2, block);
    juce::MidiBuffer midi;
    fillInput(buffer, 0, 48000.0);
    p.processBlock(buffer, midi);
}

bool isLv2(const Format& f)
{
    return juce::String(f.name) == "LV2";
}

TEST_P(HostValidation, RestoresEveryParameterAfterOtherHostValues)
{
    auto loaded = load(GetParam(), 48000.0, 512);
    auto fresh = load(GetParam(), 48000.0, 512);
    ASSERT_NE(loaded.instance, nullptr);
    ASSERT_NE(fresh.instance, nullptr);
    auto& p = *loaded.instance;
    const auto params = productParameters(p);
    const auto freshParams = productParameters(*fresh.instance);
    ASSERT_EQ(params.size(), numProductParameters);
    p.prepareToPlay(48000.0, 512);

    juce::Random random(0x5eed);
    for (int trial = 0; trial < 3; ++trial)
    {
        SCOPED_TRACE("trial " + juce::String(trial));
        for (auto* param : params)
            param->setValueNotifyingHost(random.nextFloat());
        playOneBlock(p);
        juce::MemoryBlock saved;
        p.getStateInformation(saved);

        for (auto* param : params)
            param->setValueNotifyingHost(random.nextFloat());
        playOneBlock(p);
        juce::MemoryBlock moved;
        p.getStateInformation(moved);
        ASSERT_FALSE(moved == saved) << "the second values changed nothing the state shows";

        // This thread is not the plug-in's message thread: the restore takes the host's own path.
        p.setStateInformation(saved.getData(), int(saved.getSize()));
        juce::MemoryBlock back;
        p.getStateInformation(back);
        EXPECT_TRUE(back == saved) << "the state read back is not the state restored";

        // The plug-in's own values, heard: a fresh instance given the same state sounds the same.
        fresh.instance->setStateInformation(saved.getData(), int(saved.getSize()));
        // A host stops the instance before it starts it again at another moment.
        p.releaseResources();
        EXPECT_TRUE(sameBits(renderHosted(p, {48000.0, 512, false}),
                             renderHosted(*fresh.instance, {48000.0, 512, false})));
        p.prepareToPlay(48000.0, 512);

        // JUCE 7.0.5's LV2 hosting reads control ports only and so never sees a restore; its VST3
        // hosting shows the values the plug-in reports back.
        if (!isLv2(GetParam()))
            for (int k = 0; k < numProductParameters; ++k)
                EXPECT_EQ(params[k]->getValue(), freshParams[k]->getValue()) << params[k]->getName(100);
    }
    p.releaseResources();
}

TEST_P(HostValidation, SelectsEveryProgramFromAThreadOfItsOwn)
{
    auto loaded = load(GetParam(), programSampleRate, programBlockSize);
    auto mirror = load(GetParam(), programSampleRate, programBlockSize);
    ASSERT_NE(loaded.instance, nullptr);
    ASSERT_NE(mirror.instance, nullptr);
    auto& p = *loaded.instance;
    const auto* programs = reference()["programs"].getArray();
    ASSERT_EQ(p.getNumPrograms(), programs->size());
    for (int step = 0; step < programs->size(); ++step)
    {
        const auto& r = programs->getReference(step);
        SCOPED_TRACE(r["name"].toString());
        // JUCE's LV2 hosting lists the presets in an order of its own: found by name.
        int hosted = -1;
        for (int i = 0; i < p.getNumPrograms(); ++i)
            if (p.getProgramName(i) == r["name"].toString())
                hosted = i;
        ASSERT_GE(hosted, 0) << "no program has this name";

        std::thread host([&] { p.setCurrentProgram(hosted); });
        host.join();
        // JUCE's VST3 hosting hands a program change to the plug-in from its message thread, on a 60 Hz
        // timer.
        juce::MessageManager::getInstance()->runDispatchLoopUntil(100);
        EXPECT_EQ(p.getCurrentProgram(), hosted);
        EXPECT_EQ(p.getProgramName(hosted), r["name"].toString());

        // The sound the plug-in now holds is the program's, heard through its saved state: JUCE 7.0.5's
        // VST3 hosting keeps its own cached values over those a program change reports back.
        juce::MemoryBlock state;
        p.getStateInformation(state);
        mirror.instance->setStateInformation(state.getData(), int(state.getSize()));
        EXPECT_TRUE(sameBits(renderHosted(*mirror.instance, {programSampleRate, programBlockSize, false}),
                             readRender("program_" + juce::String(int(r["index"])) + ".f32")));
    }
}

// Blocks a host should not send still give finite sound and touch no memory they should not: none at
// all, longer than prepared, and after the resources were released without a new preparation.
TEST_P(HostValidation, ProcessesBlocksOutsideThePreparedShape)
{
    auto loaded = load(GetParam(), 48000.0, 256);
    ASSERT_NE(loaded.instance, nullptr);
    auto& p = *loaded.instance;
    p.setPlayConfigDetails(2, 2, 48000.0, 256);
    p.prepareToPlay(48000.0, 256);
    juce::MidiBuffer midi;

    const auto play = [&](int length)
    {
        juce::AudioBuffer<float> buffer(2, length);
        double energy = 0.0;
        for (int round = 0; round < 8; ++round)
        {
            fillInput(buffer, round * length, 48000.0);
            p.processBlock(buffer, midi);
            for (int ch = 0; ch < 2; ++ch)
                for (int i = 0; i < length; ++i)
                {
                    const float x = buffer.getSample(ch, i);
                    if (!std::isfinite(x))
                        return -1.0;
                    energy += double(x) * x;
                }
        }
        return energy;
    };

    EXPECT_EQ(play(0), 0.0);
    EXPECT_GT(play(256), 0.0);
    // JUCE 7.0.5's VST3 wrapper copies each block into a scratch buffer sized at preparation
    // (ClientBufferMapperData::prepare) before the processor sees it, and overruns it on a longer block:
    // a fault of the wrapper's that no plug-in code runs before, so longer blocks go to the LV2 only.
    if (isLv2(GetParam()))
    {
        EXPECT_GT(play(1024), 0.0) << "a block longer than prepared";
        EXPECT_GT(play(4096), 0.0) << "a block sixteen times longer than prepared";
    }
    EXPECT_EQ(play(0), 0.0);
    p.releaseResources();
    EXPECT_GT(play(256), 0.0) << "after releaseResources without a new prepareToPlay";
    p.prepareToPlay(48000.0, 256);
    EXPECT_GT(play(256), 0.0);
    p.releaseResources();
}

// Two hundred instances, each given a state and a program and played before it goes.
TEST_P(HostValidation, LoadsAndUnloadsTwoHundredTimesWithStateAndProgramChanges)
{
    juce::MemoryBlock state;
    {
        auto first = load(GetParam(), 48000.0, 256);
        ASSERT_NE(first.instance, nullptr);
        const auto params = productParameters(*first.instance);
        for (int k = 0; k < params.size(); ++k)
            params[k]->setValueNotifyingHost(stateValue(k));
        playOneBlock(*first.instance, 256);
        first.instance->getStateInformation(state);
    }
    ASSERT_GT(state.getSize(), 0u);
    for (int cycle = 0; cycle < 200; ++cycle)
    {
        SCOPED_TRACE("cycle " + juce::String(cycle));
        auto loaded = load(GetParam(), 48000.0, 256);
        ASSERT_NE(loaded.instance, nullptr);
        auto& p = *loaded.instance;
        p.setPlayConfigDetails(2, 2, 48000.0, 256);
        p.prepareToPlay(48000.0, 256);
        p.setStateInformation(state.getData(), int(state.getSize()));
        playOneBlock(p, 256);
        p.setCurrentProgram(cycle % p.getNumPrograms());
        playOneBlock(p, 256);
        if (cycle % 10 == 0)
        {
            // The last restore wins over the program chosen after an earlier one.
            p.setStateInformation(state.getData(), int(state.getSize()));
            juce::MemoryBlock back;
            p.getStateInformation(back);
            EXPECT_TRUE(back == state);
        }
        p.releaseResources();
    }
}

//======================================================================================================
// The host's calls from a thread of its own while audio runs and the editor opens and closes: the test
// program's main thread is the host's message thread, which dispatches the plug-in's messages while an
// editor is attached. Needs an X server (run under Xvfb by its own test entry).
class HostStress : public HostValidation
{
};

TEST_P(HostStress, TakesStateProgramAndParameterCallsFromAnotherThreadWithTheEditorOpening)
{
    auto loaded = load(GetParam(), 48000.0, 256);
    ASSERT_NE(loaded.instance, nullptr);
    auto& p = *loaded.instance;
    p.setPlayConfigDetails(2, 2, 48000.0, 256);
    p.prepareToPlay(48000.0, 256);
    const auto params = productParameters(p);
    ASSERT_EQ(params.size(), numProductParameters);

    std::vector<juce::MemoryBlock> states;
    juce::Random random(11);
    for (int i = 0; i < 3; ++i)
    {
        for (auto* param : params)
            param->setValueNotifyingHost(random.nextFloat());
        playOneBlock(p, 256);
        states.emplace_back();
        p.getStateInformation(states.back());
    }

    std::atomic<bool> stop{false};
    std::atomic<bool> hostDone{false};
    std::atomic<long> blocks{0}, hostCalls{0}, nonFinite{0};
    std::thread audio(
        [&]
        {
            juce::AudioBuffer<float> buffer(2, 256);
            juce::MidiBuffer midi;
            while (!stop.load())
            {
                fillInput(buffer, int(blocks.load() % 1000) * 256, 48000.0);
                p.processBlock(buffer, midi);
                for (int ch = 0; ch < 2; ++ch)
                    for (int i = 0; i < 256; ++i)
                        if (!std::isfinite(buffer.getSample(ch, i)))
                            ++nonFinite;
                ++blocks;
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
    std::thread host(
        [&]
        {
            juce::Random r(7);
            while (!stop.load())
            {
                switch (r.nextInt(4))
                {
                case 0:
                    params[r.nextInt(numProductParameters)]->setValueNotifyingHost(r.nextFloat());
                    break;
                case 1:
                    p.setCurrentProgram(r.nextInt(p.getNumPrograms()));
                    break;
                case 2:
                {
                    juce::MemoryBlock b;
                    p.getStateInformation(b);
                    break;
                }
                default:
                {
                    const auto& s = states[(size_t)r.nextInt(int(states.size()))];
                    p.setStateInformation(s.getData(), int(s.getSize()));
                    break;
                }
                }
                ++hostCalls;
                // A few hundred calls a second: faster, and JUCE's LV2 editor, which dispatches until the
                // queue is empty, would never get back to the host.
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            hostDone.store(true);
        });

    int editorsShown = 0;
    // Six seconds at least, longer where a sanitizer slows every call, until each side had its turns.
    const auto start = juce::Time::getMillisecondCounter();
    const auto elapsed = [start] { return juce::Time::getMillisecondCounter() - start; };
    while ((elapsed() < 6000 || editorsShown < 3 || hostCalls.load() < 300 || blocks.load() < 300) &&
           elapsed() < 120000)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor(p.createEditorIfNeeded());
        if (editor != nullptr)
        {
            editor->addToDesktop(0);
            editor->setVisible(true);
            ++editorsShown;
        }
        juce::MessageManager::getInstance()->runDispatchLoopUntil(700);
        editor = nullptr;
        juce::MessageManager::getInstance()->runDispatchLoopUntil(200);
    }
    stop.store(true);
    // JUCE's VST3 hosting takes the host's message manager lock for a state call: keep dispatching.
    while (!hostDone.load())
        juce::MessageManager::getInstance()->runDispatchLoopUntil(10);
    audio.join();
    host.join();

    EXPECT_GE(editorsShown, 3);
    EXPECT_GE(blocks.load(), 300);
    EXPECT_GE(hostCalls.load(), 300);
    EXPECT_EQ(nonFinite.load(), 0);

    // Still whole afterwards: a restore reads back as it was given.
    p.setStateInformation(states[0].getData(), int(states[0].getSize()));
    juce::MessageManager::getInstance()->runDispatchLoopUntil(100);
    juce::MemoryBlock back;
    p.getStateInformation(back);
    EXPECT_TRUE(back == states[0]);
    p.releaseResources();
}

INSTANTIATE_TEST_SUITE_P(Formats, HostValidation,
                         ::testing::Values(Format{"LV2", lv2Uri}, Format{"VST3", SORVANE_VST3_BUNDLE}),
                         [](const ::testing::TestParamInfo<Format>& i) { return std::string(i.param.name); });
INSTANTIATE_TEST_SUITE_P(Formats, HostStress,
                         ::testing::Values(Format{"LV2", lv2Uri}, Format{"VST3", SORVANE_VST3_BUNDLE}),
                         [](const ::testing::TestParamInfo<Format>& i) { return std::string(i.param.name); });
} // namespace
