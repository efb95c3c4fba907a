#include "EngineTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using sorvane::test::makeProcessor;
using sorvane::test::setPlain;

namespace
{
class FakePlayHead : public juce::AudioPlayHead
{
public:
    juce::Optional<PositionInfo> getPosition() const override { return position; }

    void set(bool playing, std::optional<juce::int64> time, std::optional<double> bpm = {})
    {
        PositionInfo info;
        info.setIsPlaying(playing);
        if (time)
            info.setTimeInSamples(*time);
        if (bpm)
            info.setBpm(*bpm);
        position = info;
    }

    juce::Optional<PositionInfo> position;
};

struct Harness
{
    explicit Harness(juce::AudioProcessor::WrapperType wrapper = juce::AudioProcessor::wrapperType_VST3)
        : processor(makeProcessor(wrapper))
    {
        processor->setPlayHead(&playHead);
        processor->prepareToPlay(48000, 512);
    }

    // Processes one block of a quiet signal.
    void block(int n = 512)
    {
        juce::AudioBuffer<float> buffer(2, n);
        for (int i = 0; i < n; ++i)
        {
            const float x = 0.1f * std::sin(0.05f * (float)(counter + i));
            buffer.setSample(0, i, x);
            buffer.setSample(1, i, x);
        }
        counter += n;
        juce::MidiBuffer midi;
        processor->processBlock(buffer, midi);
        last = std::move(buffer);
    }

    int written() const { return processor->getEngine().inspect().writtenCount; }

    FakePlayHead playHead;
    std::unique_ptr<SorvaneAudioProcessor> processor;
    juce::AudioBuffer<float> last;
    int counter = 0;
};
} // namespace

TEST(AudioCallback, BusLayouts)
{
    auto processor = makeProcessor();
    using Set = juce::AudioChannelSet;
    struct Case
    {
        Set in, out;
        bool supported;
    };
    const Case cases[] = {
        {Set::stereo(), Set::stereo(), true},    {Set::mono(), Set::mono(), true},
        {Set::mono(), Set::stereo(), false},     {Set::stereo(), Set::mono(), false},
        {Set::disabled(), Set::stereo(), false}, {Set::create5point1(), Set::create5point1(), false},
        {Set::stereo(), Set::disabled(), false},
    };
    for (const auto& c : cases)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add(c.in);
        layout.outputBuses.add(c.out);
        EXPECT_EQ(processor->isBusesLayoutSupported(layout), c.supported)
            << c.in.getDescription() << " -> " << c.out.getDescription();
    }
    EXPECT_EQ(processor->getTailLengthSeconds(), 4.0);
    EXPECT_EQ(processor->getName(), "Sorvane");
    EXPECT_FALSE(processor->acceptsMidi());
    EXPECT_TRUE(processor->hasEditor());
    EXPECT_EQ(processor->getTotalNumInputChannels(), 2);
    EXPECT_EQ(processor->getTotalNumOutputChannels(), 2);
}

TEST(AudioCallback, APendingResetCoincidingWithTransportStartResetsOnce)
{
    Harness h;
    h.playHead.set(false, 0);
    h.block();
    h.block();
    ASSERT_EQ(h.written(), 1024);

    h.processor->reset();
    EXPECT_EQ(h.written(), 1024) << "the host's reset only raises a flag";
    h.playHead.set(true, 0);
    h.block();
    EXPECT_EQ(h.written(), 512);
    h.playHead.set(true, 512);
    h.block();
    EXPECT_EQ(h.written(), 1024) << "the pending request was consumed with the start";
}

TEST(AudioCallback, TransportRulesTable)
{
    struct Step
    {
        bool hasPosition;
        bool playing;
        std::optional<juce::int64> time;
        bool hostReset;
        bool nonRealtime;
        bool expectReset;
    };
    struct Case
    {
        const char* name;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"continuous playback never resets",
         {{true, true, 0, false, false, true},
          {true, true, 512, false, false, false},
          {true, true, 1024, false, false, false}}},
        {"a loop jump resets",
         {{true, true, 0, false, false, true},
          {true, true, 512, false, false, false},
          {true, true, 0, false, false, true}}},
        {"a jump forward resets",
         {{true, true, 0, false, false, true}, {true, true, 4096, false, false, true}}},
        {"stopped blocks do not reset",
         {{true, false, 0, false, false, false},
          {true, false, 0, false, false, false},
          {true, false, 9999, false, false, false}}},
        {"host reset while stopped",
         {{true, false, 0, false, false, false},
          {true, false, 0, true, false, true},
          {true, false, 0, false, false, false}}},
        {"host reset during seamless playback resets",
         {{true, true, 0, false, false, true}, {true, true, 512, true, false, true}}},
        {"host reset coinciding with an offline switch during seamless playback is dropped",
         {{true, true, 0, false, false, true},
          {true, true, 512, true, true, false},
          {true, true, 1024, false, true, false}}},
        {"playing without a time resets only at the start",
         {{true, true, std::nullopt, false, false, true}, {true, true, std::nullopt, false, false, false}}},
        {"no playhead: only the host reset counts",
         {{false, false, std::nullopt, false, false, false},
          {false, false, std::nullopt, true, false, true},
          {false, false, std::nullopt, false, false, false}}},
    };
    for (const auto& c : cases)
    {
        Harness h;
        int expectedWritten = 0;
        for (size_t k = 0; k < c.steps.size(); ++k)
        {
            const auto& step = c.steps[k];
            if (step.hasPosition)
                h.playHead.set(step.playing, step.time);
            else
                h.playHead.position = {};
            h.processor->setNonRealtime(step.nonRealtime);
            if (step.hostReset)
                h.processor->reset();
            h.block();
            expectedWritten = (step.expectReset || k == 0 ? 0 : expectedWritten) + 512;
            EXPECT_EQ(h.written(), expectedWritten) << c.name << ", block " << k;
        }
    }
}

TEST(AudioCallback, NoPlayHeadMeansTheDefaultTempoAndNoTransportResets)
{
    auto processor = makeProcessor(juce::AudioProcessor::wrapperType_VST3);
    processor->prepareToPlay(48000, 256);
    juce::AudioBuffer<float> buffer(2, 256);
    juce::MidiBuffer midi;
    for (int k = 0; k < 4; ++k)
    {
        buffer.clear();
        processor->processBlock(buffer, midi);
    }
    EXPECT_EQ(processor->getEngine().inspect().writtenCount, 1024);
    EXPECT_DOUBLE_EQ(processor->currentTempoBpm.load(), 120.0);
    EXPECT_TRUE(processor->currentTempoValid.load());
    EXPECT_FALSE(processor->hostPlaying.load());

    processor->releaseResources();
    EXPECT_EQ(processor->getEngine().inspect().writtenCount, 0);
}

TEST(AudioCallback, TempoCandidateComesFromTheHostOrTheStandaloneParameter)
{
    {
        Harness h(juce::AudioProcessor::wrapperType_VST3);
        h.playHead.set(true, 0, 400.0);
        setPlain(*h.processor, "delaySync", 3);
        h.block();
        EXPECT_FALSE(h.processor->currentTempoValid.load());
        EXPECT_DOUBLE_EQ(h.processor->currentTempoBpm.load(), 300.0);
        EXPECT_TRUE(h.processor->hostPlaying.load());
        EXPECT_EQ(h.processor->readSettings().delay, 0.0f) << "a synced delay is silenced";

        h.playHead.set(true, 512, 90.0);
        h.block();
        EXPECT_TRUE(h.processor->currentTempoValid.load());
        EXPECT_DOUBLE_EQ(h.processor->currentTempoBpm.load(), 90.0);
    }
    {
        Harness h(juce::AudioProcessor::wrapperType_Standalone);
        h.playHead.position = {};
        setPlain(*h.processor, "standaloneTempo", 87.5f);
        h.block();
        EXPECT_DOUBLE_EQ(h.processor->currentTempoBpm.load(), 87.5);

        h.playHead.set(false, 0, 140.0); // a tempo from a playhead wins in any wrapper
        h.block();
        EXPECT_DOUBLE_EQ(h.processor->currentTempoBpm.load(), 140.0);
    }
    {
        Harness h(juce::AudioProcessor::wrapperType_VST3);
        h.playHead.position = {};
        setPlain(*h.processor, "standaloneTempo", 87.5f);
        h.block();
        EXPECT_DOUBLE_EQ(h.processor->currentTempoBpm.load(), 120.0)
            << "plug-ins ignore the stand-alone tempo";
    }
}

TEST(AudioCallback, EmptyBlocksZeroTheMetersWithoutCallingTheEngine)
{
    Harness h;
    h.playHead.position = {};
    sorvane::test::setPlain(*h.processor, "glitch", 100);
    for (int k = 0; k < 20; ++k)
        h.block();
    const auto before = h.processor->getPublishedEngineMeters();
    ASSERT_GT(h.processor->outputRms.load(), 0.0f);
    ASSERT_GT(before.levelGain, 0.0f);
    const int written = h.written();

    for (const auto& shape : {std::make_pair(2, 0), std::make_pair(0, 0)})
    {
        juce::AudioBuffer<float> empty(shape.first, shape.second);
        juce::MidiBuffer midi;
        h.processor->processBlock(empty, midi);
        EXPECT_EQ(h.written(), written);
        EXPECT_EQ(h.processor->outputRms.load(), 0.0f);
        EXPECT_EQ(h.processor->outputPeakLevel.load(), 0.0f);
        EXPECT_EQ(h.processor->outputActivity.load(), 0.0f);
        const auto m = h.processor->getPublishedEngineMeters();
        EXPECT_EQ(m.levelGain, 0.0f);
        EXPECT_EQ(m.outputPeak, 0.0f);
        EXPECT_EQ(m.fractureEvents, before.fractureEvents) << "the event counter keeps its value";
    }
}

TEST(AudioCallback, OutputMetersDescribeChannelZero)
{
    auto processor = makeProcessor();
    processor->prepareToPlay(48000, 4);
    sorvane::test::setPlain(*processor, "mix", 0);
    sorvane::test::setPlain(*processor, "matchSourceLevel", 0);

    juce::AudioBuffer<float> buffer(2, 4);
    const float samples[] = {0.5f, -0.5f, 0.5f, -0.5f};
    for (int i = 0; i < 4; ++i)
    {
        buffer.setSample(0, i, samples[i]);
        buffer.setSample(1, i, 0.0f);
    }
    juce::MidiBuffer midi;
    processor->processBlock(buffer, midi);
    EXPECT_FLOAT_EQ(processor->outputRms.load(), 0.5f);
    EXPECT_FLOAT_EQ(processor->outputPeakLevel.load(), 0.5f);
    EXPECT_FLOAT_EQ(processor->outputActivity.load(), 1.0f); // 4 * 1.0 mean step, capped

    juce::AudioBuffer<float> single(2, 1);
    single.setSample(0, 0, 0.25f);
    single.setSample(1, 0, 0.0f);
    processor->processBlock(single, midi);
    EXPECT_FLOAT_EQ(processor->outputPeakLevel.load(), 0.25f);
    EXPECT_EQ(processor->outputActivity.load(), 0.0f);
}

TEST(AudioCallback, MonoLayoutPreparesAndProcessesOneChannel)
{
    auto processor = makeProcessor();
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add(juce::AudioChannelSet::mono());
    layout.outputBuses.add(juce::AudioChannelSet::mono());
    ASSERT_TRUE(processor->setBusesLayout(layout));
    processor->prepareToPlay(48000, 64);

    juce::AudioBuffer<float> buffer(1, 64);
    for (int i = 0; i < 64; ++i)
        buffer.setSample(0, i, 0.2f);
    juce::MidiBuffer midi;
    processor->processBlock(buffer, midi);
    EXPECT_EQ(processor->getEngine().getNumChannels(), 1);
    EXPECT_GT(buffer.getMagnitude(0, 0, 64), 0.0f);
}
