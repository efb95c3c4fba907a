// Loads the built LV2 and VST3 bundles through JUCE's own hosting and holds them to the processor
// run directly (written by the reference renderer).

#include "plugins/HostedPlugin.h"
#if SORVANE_COUNTS_REALTIME_EVENTS
#include "RealtimeInterposers.h"
#endif

#include <juce_audio_processors/juce_audio_processors.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>

using namespace sorvane::plugintest;

namespace
{
class PluginHost : public ::testing::TestWithParam<Format>
{
protected:
    void SetUp() override { ASSERT_TRUE(reference().isObject()) << "the reference renderer failed"; }
};

// JUCE 7.0.5's LV2 hosting maps LV2 parameters linearly between their plain bounds (not through the
// processor's skewed ranges), lists parameters and presets in an order of its own and does not change
// bus layouts, so these run on the VST3 only; the LV2 has its own versions below where that hosting
// allows a comparison.
class PluginHostParameters : public PluginHost
{
};

TEST_P(PluginHostParameters, DescribesItselfAsTheProcessorDoes)
{
    auto loaded = load(GetParam(), 48000.0, 512);
    ASSERT_NE(loaded.instance, nullptr);
    auto& p = *loaded.instance;
    const auto desc = p.getPluginDescription();
    EXPECT_EQ(desc.name, reference()["name"].toString());
    EXPECT_EQ(desc.manufacturerName, "Kavix");
    // LV2 has no version string for JUCE's hosting to read.
    if (juce::String(GetParam().name) == "VST3")
    {
        EXPECT_EQ(desc.version, reference()["version"].toString());
    }
    EXPECT_FALSE(desc.isInstrument);
    EXPECT_EQ(p.getTotalNumInputChannels(), 2);
    EXPECT_EQ(p.getTotalNumOutputChannels(), 2);

    const auto* refParams = reference()["parameters"].getArray();
    ASSERT_EQ(refParams->size(), numProductParameters);
    const auto params = productParameters(p);
    ASSERT_EQ(params.size(), numProductParameters);
    for (int i = 0; i < numProductParameters; ++i)
    {
        const auto& r = refParams->getReference(i);
        SCOPED_TRACE(r["name"].toString());
        EXPECT_EQ(params[i]->getName(100), r["name"].toString());
        EXPECT_NEAR(params[i]->getDefaultValue(), float(r["default"]), 1.0e-6f);
        EXPECT_NEAR(params[i]->getValue(), float(r["default"]), 1.0e-6f);
        EXPECT_TRUE(params[i]->isAutomatable());
    }
}

// Through JUCE's LV2 hosting the names, maker and buses are the processor's; values are mapped linearly
// by that hosting, so they are compared on the VST3 only.
TEST(PluginHostLv2, NamesEveryParameterAndBusAsTheProcessorDoes)
{
    ASSERT_TRUE(reference().isObject());
    auto loaded = load({"LV2", lv2Uri}, 48000.0, 512);
    ASSERT_NE(loaded.instance, nullptr);
    auto& p = *loaded.instance;
    EXPECT_EQ(p.getPluginDescription().name, reference()["name"].toString());
    EXPECT_EQ(p.getPluginDescription().manufacturerName, "Kavix");
    EXPECT_EQ(p.getTotalNumInputChannels(), 2);
    EXPECT_EQ(p.getTotalNumOutputChannels(), 2);
    const auto params = productParameters(p);
    ASSERT_EQ(params.size(), numProductParameters);
    for (auto* param : params)
        EXPECT_TRUE(param->isAutomatable()) << param->getName(100);
}

TEST(PluginHostLv2, FollowsHostAutomationOfEveryParameter)
{
    ASSERT_TRUE(reference().isObject());
    auto loaded = load({"LV2", lv2Uri}, automationSampleRate, automationBlockSize);
    ASSERT_NE(loaded.instance, nullptr);
    const auto hosted =
        renderHosted(*loaded.instance, {automationSampleRate, automationBlockSize, true, true});
    EXPECT_TRUE(sameBits(hosted, readRender("automation_lv2.f32")));
    // The host's moves really changed the sound.
    EXPECT_FALSE(sameBits(hosted, readRender("render_" + juce::String(int(automationSampleRate)) + "_" +
                                             juce::String(automationBlockSize) + ".f32")));
}

TEST_P(PluginHostParameters, AcceptsStereoAndMonoToMonoOnly)
{
    auto loaded = load(GetParam(), 48000.0, 512);
    ASSERT_NE(loaded.instance, nullptr);
    auto& p = *loaded.instance;
    using Set = juce::AudioChannelSet;
    struct Row
    {
        Set in, out;
        bool ok;
    };
    for (const auto& row : {Row{Set::mono(), Set::mono(), true}, Row{Set::stereo(), Set::stereo(), true},
                            Row{Set::mono(), Set::stereo(), false}, Row{Set::stereo(), Set::mono(), false}})
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add(row.in);
        layout.outputBuses.add(row.out);
        EXPECT_EQ(p.checkBusesLayoutSupported(layout), row.ok) << row.in.size() << " to " << row.out.size();
    }
}

TEST_P(PluginHost, ReportsTheProcessorsLatency)
{
    const auto* latency = reference()["latency"].getArray();
    for (size_t i = 0; i < sampleRates.size(); ++i)
    {
        auto loaded = load(GetParam(), sampleRates[i], 512);
        ASSERT_NE(loaded.instance, nullptr);
        std::cout << GetParam().name << " load: scan " << loaded.scanMs << " ms, instantiate "
                  << loaded.instantiateMs << " ms" << std::endl;
        loaded.instance->prepareToPlay(sampleRates[i], 512);
        EXPECT_EQ(loaded.instance->getLatencySamples(), int(latency->getReference(int(i)))) << sampleRates[i];
        loaded.instance->releaseResources();
    }
}

// The host selects each factory program and hears it bit for bit as the processor does. JUCE 7.0.5's
// VST3 hosting does not show the values a plug-in reports back (its output parameter changes go to the
// plug-in's controller, not to the hosted parameters), so the values are read where a host recalls
// them: the state saved after the change, restored into a second instance.
TEST_P(PluginHostParameters, OffersTheFactoryPresetsAsPrograms)
{
    auto loaded = load(GetParam(), programSampleRate, programBlockSize);
    auto mirror = load(GetParam(), programSampleRate, programBlockSize);
    ASSERT_NE(loaded.instance, nullptr);
    ASSERT_NE(mirror.instance, nullptr);
    auto& p = *loaded.instance;
    const auto* programs = reference()["programs"].getArray();
    ASSERT_EQ(p.getNumPrograms(), programs->size());
    ASSERT_EQ(programs->size(), 37);
    const auto mirrorParams = productParameters(*mirror.instance);
    ASSERT_EQ(mirrorParams.size(), numProductParameters);
    for (int step = 0; step < programs->size(); ++step)
    {
        const auto& r = programs->getReference(step);
        const int index = r["index"];
        SCOPED_TRACE(r["name"].toString());
        ASSERT_EQ(index, programSelectedAt(step, programs->size()));
        EXPECT_EQ(p.getProgramName(index), r["name"].toString());
        p.setCurrentProgram(index);
        EXPECT_EQ(p.getCurrentProgram(), index);
        EXPECT_TRUE(sameBits(renderHosted(p, {programSampleRate, programBlockSize, false}),
                             readRender("program_" + juce::String(index) + ".f32")));

        juce::MemoryBlock state;
        p.getStateInformation(state);
        mirror.instance->setStateInformation(state.getData(), int(state.getSize()));
        const auto* values = r["values"].getArray();
        for (int k = 0; k < numProductParameters; ++k)
            EXPECT_NEAR(mirrorParams[k]->getValue(), float(values->getReference(k)), 1.0e-6f)
                << mirrorParams[k]->getName(100);
    }
}

TEST_P(PluginHost, ProcessesBitForBitLikeTheProcessorAtEveryRateAndBlockSize)
{
    for (auto rate : sampleRates)
        for (auto block : blockSizes)
        {
            SCOPED_TRACE(juce::String(rate) + " Hz, block " + juce::String(block));
            auto loaded = load(GetParam(), rate, block);
            ASSERT_NE(loaded.instance, nullptr);
            EXPECT_TRUE(sameBits(
                renderHosted(*loaded.instance, {rate, block, false}),
                readRender("render_" + juce::String(int(rate)) + "_" + juce::String(block) + ".f32")));
        }
}

TEST_P(PluginHostParameters, FollowsHostAutomationOfEveryParameter)
{
    auto loaded = load(GetParam(), automationSampleRate, automationBlockSize);
    ASSERT_NE(loaded.instance, nullptr);
    const auto hosted = renderHosted(*loaded.instance, {automationSampleRate, automationBlockSize, true});
    EXPECT_TRUE(sameBits(hosted, readRender("automation.f32")));
}

TEST_P(PluginHost, RestoresItsStateIntoASecondInstance)
{
    auto first = load(GetParam(), 48000.0, 512);
    auto second = load(GetParam(), 48000.0, 512);
    ASSERT_NE(first.instance, nullptr);
    ASSERT_NE(second.instance, nullptr);
    const auto firstParams = productParameters(*first.instance);
    for (int i = 0; i < numProductParameters; ++i)
        firstParams[i]->setValueNotifyingHost(stateValue(i));
    // An LV2 host delivers parameter changes with the next run, so the values reach the plug-in (and
    // its saved state) once it has played.
    renderHosted(*first.instance, {48000.0, 512, false});
    juce::MemoryBlock state;
    first.instance->getStateInformation(state);
    ASSERT_GT(state.getSize(), 0u);
    second.instance->setStateInformation(state.getData(), int(state.getSize()));

    // What the second instance holds is what the first one saved.
    juce::MemoryBlock restored;
    second.instance->getStateInformation(restored);
    EXPECT_TRUE(restored == state);
    EXPECT_TRUE(sameBits(renderHosted(*second.instance, {48000.0, 512, false}),
                         renderHosted(*first.instance, {48000.0, 512, false})));
}

#if SORVANE_COUNTS_REALTIME_EVENTS
// Plays `blocks` blocks through a fresh hosted instance with only the process calls watched (the host's
// own side of a parameter change is not the plug-in's process call); false when it did not load.
bool playWatched(const Format& format, int block, bool automate, int blocks)
{
    auto loaded = load(format, 48000.0, block);
    if (loaded.instance == nullptr)
        return false;
    auto& p = *loaded.instance;
    p.setPlayConfigDetails(2, 2, 48000.0, block);
    p.prepareToPlay(48000.0, block);
    const auto params = productParameters(p);
    if (params.size() != numProductParameters)
        return false;
    juce::AudioBuffer<float> buffer(2, block);
    juce::MidiBuffer midi;
    fillInput(buffer, 0, 48000.0);
    p.processBlock(buffer, midi);
    sorvane::realtime::resetCounts();
    for (int i = 0; i < blocks; ++i)
    {
        if (automate)
            params[automatedParameter(i, params.size())]->setValue(automatedValue(i));
        fillInput(buffer, i * block, 48000.0);
        sorvane::realtime::Watch watch;
        p.processBlock(buffer, midi);
    }
    p.releaseResources();
    return true;
}

// Through the hosted instance, the LV2's process call neither allocates nor waits. The locks it takes
// are JUCE 7.0.5's, found by their call sites: the LV2 wrapper's run() holds the processor's callback
// lock around every process call (only suspendProcessing() takes it elsewhere, and nothing here calls
// that), and a parameter change arriving in run() notifies under the parameter's listener lock and the
// value-tree state's listener lock. Any lock of the product's own would push the counts past these.
TEST(PluginHostRealtime, HostedLv2ProcessCallNeverAllocatesOrWaits)
{
    ASSERT_TRUE(reference().isObject());
    constexpr int blocks = 200;
    for (const bool automate : {false, true})
        for (auto block : {32, 512, 2048})
        {
            SCOPED_TRACE(juce::String(automate ? "automated" : "steady") + ", block " + juce::String(block));
            ASSERT_TRUE(playWatched({"LV2", lv2Uri}, block, automate, blocks));
            using namespace sorvane::realtime;
            for (int e = 0; e < numEvents; ++e)
                if (e != mutexLock)
                    EXPECT_EQ(count(static_cast<Event>(e)), 0) << eventNames[static_cast<size_t>(e)];
            EXPECT_GE(count(mutexLock), blocks);
            EXPECT_LE(count(mutexLock), (automate ? 3 : 1) * blocks);
        }
}

// The same through the VST3. JUCE 7.0.5's VST3 wrapper copies its channel mapping on every process call
// (ClientBufferMapper's maps handed by value to ClientRemappedBuffer): one 8-byte operator new and one
// delete a block, its own and not the product's. The locks, found by their call sites with a debugger:
// the hosting's process spin lock, two mutexes in VST3PluginInstance::processAudio and one in
// MidiEventList::toMidiBuffer (the host's side), and the processor's callback lock in the wrapper's
// JuceVST3Component::processAudio; a parameter change adds the listener lock. The processor's own
// process call takes none (SorvaneRealtimeTests).
TEST(PluginHostRealtime, HostedVst3ProcessCallAllocatesOnlyTheWrappersChannelMapping)
{
    ASSERT_TRUE(reference().isObject());
    constexpr int blocks = 200;
    for (const bool automate : {false, true})
        for (auto block : {32, 512, 2048})
        {
            SCOPED_TRACE(juce::String(automate ? "automated" : "steady") + ", block " + juce::String(block));
            ASSERT_TRUE(playWatched({"VST3", SORVANE_VST3_BUNDLE}, block, automate, blocks));
            using namespace sorvane::realtime;
            EXPECT_EQ(count(operatorNew), blocks);
            EXPECT_EQ(count(operatorDelete), blocks);
            EXPECT_EQ(count(mallocFamily), blocks) << "operator new's own malloc";
            EXPECT_EQ(count(freeCall), blocks);
            EXPECT_EQ(largestAllocation(), 8u);
            for (const auto e : {mutexTryLock, readWriteLock, conditionWait, yield})
                EXPECT_EQ(count(e), 0) << eventNames[static_cast<size_t>(e)];
            EXPECT_EQ(count(spinLockEnter), blocks) << "the hosting's own process lock";
            EXPECT_GE(count(mutexLock), 4 * blocks) << "JUCE's locks, named above";
            EXPECT_LE(count(mutexLock), (automate ? 5 : 4) * blocks) << "JUCE's locks, named above";
        }
}
#endif

INSTANTIATE_TEST_SUITE_P(Vst3, PluginHostParameters, ::testing::Values(Format{"VST3", SORVANE_VST3_BUNDLE}),
                         [](const ::testing::TestParamInfo<Format>& i) { return std::string(i.param.name); });

INSTANTIATE_TEST_SUITE_P(Formats, PluginHost,
                         ::testing::Values(Format{"LV2", lv2Uri}, Format{"VST3", SORVANE_VST3_BUNDLE}),
                         [](const ::testing::TestParamInfo<Format>& i) { return std::string(i.param.name); });
} // namespace
