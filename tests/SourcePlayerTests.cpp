#include "transport/SourcePlayer.h"
#include "transport/SourceRange.h"
#include "transport/SourceTransport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace sorvane;

namespace
{
LoadedSample makeSample(int frames, double rate, int channels, std::function<float(int, int)> value)
{
    LoadedSample s;
    s.sampleRate = rate;
    s.audio.setSize(channels, frames);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < frames; ++i)
            s.audio.setSample(c, i, value(c, i));
    return s;
}

// Renders blocks and returns channel 0 of everything rendered.
std::vector<float> renderFrames(SourcePlayer& player, const LoadedSample* published,
                                TransportState& transport, int frames, int block = 256, int channels = 2)
{
    std::vector<float> out;
    juce::AudioBuffer<float> buffer(channels, block);
    for (int done = 0; done < frames; done += block)
    {
        buffer.setSize(channels, std::min(block, frames - done), false, false, true);
        for (int c = 0; c < channels; ++c)
            juce::FloatVectorOperations::fill(buffer.getWritePointer(c), 0.7f,
                                              buffer.getNumSamples()); // live input
        player.render(buffer, published, transport);
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            out.push_back(buffer.getSample(0, i));
    }
    return out;
}
} // namespace

TEST(SourceRange, ValidationTable)
{
    struct Case
    {
        double start, end;
        bool accepted;
    };
    const Case cases[] = {{0.0, 1.0, true},           {0.25, 0.2, false},     {0.5, 0.5000005, false},
                          {0.5, 0.500001, true},      {-0.1, 0.5, false},     {0.2, 1.1, false},
                          {std::nan(""), 1.0, false}, {0.0, INFINITY, false}, {0.3, 0.3, false}};
    for (const auto& c : cases)
    {
        double s = -1, e = -1;
        juce::String error = "stale";
        EXPECT_EQ(normaliseCreatorRange(c.start, c.end, s, e, error), c.accepted) << c.start << " " << c.end;
        if (c.accepted)
        {
            EXPECT_TRUE(error.isEmpty());
            EXPECT_EQ(s, c.start);
            EXPECT_EQ(e, c.end);
        }
        else
        {
            EXPECT_EQ(error, "The source range must be ordered, finite, and contain at least one millionth "
                             "of the source.");
        }
    }
}

TEST(SourceRange, ZeroSnapFindsTheNearestCrossingAndPrefersTheEarlierOnATie)
{
    // Positive everywhere except a negative run 1000..1099: crossings at 1000 and 1100.
    std::vector<float> x(8000, 0.5f);
    for (int i = 1000; i < 1100; ++i)
        x[(size_t)i] = -0.5f;
    const auto n = (juce::int64)x.size();

    const auto tie = snapRangeToZeroCrossings(x.data(), n, 1050.0 / 8000.0, 0.9);
    EXPECT_DOUBLE_EQ(tie.start, 1000.0 / 8000.0);
    EXPECT_DOUBLE_EQ(tie.end, 0.9) << "no crossing near the end";
    const auto both = snapRangeToZeroCrossings(x.data(), n, 900.0 / 8000.0, 1120.0 / 8000.0);
    EXPECT_DOUBLE_EQ(both.start, 1000.0 / 8000.0);
    EXPECT_DOUBLE_EQ(both.end, 1100.0 / 8000.0);

    const auto near = snapRangeToZeroCrossings(x.data(), n, 1090.0 / 8000.0, 3000.0 / 8000.0);
    EXPECT_DOUBLE_EQ(near.start, 1100.0 / 8000.0);

    std::vector<float> positive(8000, 0.5f);
    const auto none = snapRangeToZeroCrossings(positive.data(), n, 0.2, 0.7);
    EXPECT_DOUBLE_EQ(none.start, 1600.0 / 8000.0);
    EXPECT_DOUBLE_EQ(none.end, 5600.0 / 8000.0);

    const float tiny[2] = {1.0f, -1.0f};
    const auto tooShort = snapRangeToZeroCrossings(tiny, 2, 0.0, 1.0);
    EXPECT_EQ(tooShort.start, 0.0);
    EXPECT_EQ(tooShort.end, 1.0);
}

TEST(SourcePlayer, ConvertsTheRateAndFadesInOnStart)
{
    const auto sample = makeSample(22050, 22050, 1, [](int, int) { return 0.5f; });
    SourcePlayer player;
    player.prepare(48000);
    TransportState transport;
    transport.playing = true;

    const auto out = renderFrames(player, &sample, transport, 480, 480);
    EXPECT_NEAR(transport.playheadSamples.load(), 480 * 0.459375, 1e-9);
    // A 12 ms equal-power fade-in: 576 frames at 48 kHz.
    EXPECT_NEAR(out[0], 0.5f * std::sin(1.0f / 576.0f * 1.5707964f), 1e-6f);
    EXPECT_NEAR(out[287], 0.5f * std::sin(288.0f / 576.0f * 1.5707964f), 1e-5f);
    const auto later = renderFrames(player, &sample, transport, 480, 480);
    EXPECT_NEAR(later.back(), 0.5f, 1e-6f);
}

TEST(SourcePlayer, MonoSourcePlaysOnBothChannelsAndReplacesTheLiveInput)
{
    const auto sample = makeSample(48000, 48000, 1, [](int, int i) { return (float)(i % 100) / 100.0f; });
    SourcePlayer player;
    player.prepare(48000);
    TransportState transport;
    transport.playing = true;
    juce::AudioBuffer<float> buffer(2, 2000);
    buffer.clear();
    for (int i = 0; i < 2000; ++i)
        buffer.setSample(1, i, 0.9f);
    player.render(buffer, &sample, transport);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(buffer.getSample(0, i), buffer.getSample(1, i)) << i;
    EXPECT_NEAR(buffer.getSample(1, 1999), 0.99f, 1e-5f);

    transport.playing = false;
    renderFrames(player, &sample, transport, 2048);
    juce::AudioBuffer<float> silent(2, 64);
    for (int i = 0; i < 64; ++i)
        silent.setSample(0, i, 0.9f);
    player.render(silent, &sample, transport);
    EXPECT_EQ(silent.getMagnitude(0, 64), 0.0f) << "a paused source still replaces the input";
}

TEST(SourcePlayer, OneShotEndsInsideTheBlockThenPlayRestartsFromTheRangeStart)
{
    const auto sample = makeSample(10000, 48000, 1, [](int, int) { return 0.25f; });
    SourcePlayer player;
    player.prepare(48000);
    TransportState transport;
    transport.looping = false;
    transport.rangeStart = 0.5;
    transport.playing = true;

    // Starts at frame 5000 (range start), ends at 10000: 5000 frames into the third 2048-frame block.
    const auto out = renderFrames(player, &sample, transport, 3 * 2048, 2048);
    EXPECT_FALSE(transport.playing.load());
    EXPECT_DOUBLE_EQ(transport.playheadSamples.load(), 10000.0);
    EXPECT_GT(std::abs(out[4999]), 0.0f);
    for (size_t i = 5000; i < out.size(); ++i)
        ASSERT_EQ(out[i], 0.0f) << i;
    // The last 12 ms fade out over the seam length.
    EXPECT_LT(std::abs(out[4999]), 0.01f);

    transport.playing = true;
    renderFrames(player, &sample, transport, 100, 100);
    EXPECT_DOUBLE_EQ(transport.playheadSamples.load(), 5100.0);
}

// The end already faded out over the seam; the blocks after it must not fade the range start out
// at full level.
TEST(SourcePlayer, AfterAOneShotEndsTheFollowingBlocksStaySilent)
{
    struct Case
    {
        int block;
        const char* where;
    };
    const Case cases[] = {
        {2048, "inside a block"}, {1000, "at a block's last frame"}, {64, "in a short block"}};
    const auto sample = makeSample(10000, 48000, 2, [](int, int) { return 0.25f; });
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.where);
        SourcePlayer player;
        player.prepare(48000);
        TransportState transport;
        transport.looping = false;
        transport.rangeStart = 0.5;
        transport.playing = true;

        // 5000 frames from the range start to the end, then eight more blocks with nothing pressed.
        const int endFrame = 5000;
        const int blocksToEnd = (endFrame + c.block - 1) / c.block;
        const auto out = renderFrames(player, &sample, transport, (blocksToEnd + 8) * c.block, c.block);
        EXPECT_FALSE(transport.playing.load());
        ASSERT_GT(out[endFrame - 1], 0.0f);
        ASSERT_LT(out[endFrame - 1], 0.01f);
        for (size_t i = endFrame; i < out.size(); ++i)
            ASSERT_EQ(out[i], 0.0f) << "frame " << i << " after the end";
        EXPECT_DOUBLE_EQ(transport.playheadSamples.load(), 10000.0);
        EXPECT_FALSE(player.isVoiceActive());

        transport.playing = true;
        const auto again = renderFrames(player, &sample, transport, 576, 576);
        EXPECT_DOUBLE_EQ(transport.playheadSamples.load(), 5576.0);
        EXPECT_NEAR(again[0], 0.25f * std::sin(1.0f / 576.0f * 1.5707964f), 1e-6f) << "PLAY fades in afresh";
    }
}

TEST(SourcePlayer, LoopWrapsToJustAfterTheSeamAndStaysContinuous)
{
    // A ramp makes any jump visible.
    const int n = 48000;
    const auto sample = makeSample(n, 48000, 1, [n](int, int i) { return (float)i / (float)n; });
    SourcePlayer player;
    player.prepare(48000);
    TransportState transport;
    transport.rangeStart = 0.25; // frames 12000..36000, seam 576 frames
    transport.rangeEnd = 0.75;
    transport.playing = true;

    const int frames = 24000 + 5000;
    const auto out = renderFrames(player, &sample, transport, frames, 500);
    // After 24000 frames the position reached 36000 and wrapped to 12576, then 5000 more.
    EXPECT_DOUBLE_EQ(transport.playheadSamples.load(), 12576.0 + 5000.0);
    EXPECT_TRUE(transport.playing.load());

    float largestStep = 0;
    for (size_t i = 1000; i < out.size(); ++i)
        largestStep = std::max(largestStep, std::abs(out[i] - out[i - 1]));
    EXPECT_LT(largestStep, 0.005f) << "no click at the seam (a hard jump would be 0.5)";
}

TEST(SourcePlayer, StopThenPlayResumesFromTheRangeStartAndSeeksFade)
{
    const auto sample = makeSample(48000, 48000, 2, [](int, int) { return 0.5f; });
    SourcePlayer player;
    player.prepare(48000);
    TransportState transport;
    transport.rangeStart = 0.1;
    transport.playing = true;
    renderFrames(player, &sample, transport, 4800);
    EXPECT_DOUBLE_EQ(transport.playheadSamples.load(), 4800.0 + 4800.0);

    transport.stop();
    const auto fading = renderFrames(player, &sample, transport, 2048, 2048);
    EXPECT_GT(fading[10], 0.0f) << "stop fades out";
    EXPECT_EQ(fading[1000], 0.0f);
    EXPECT_FALSE(player.isVoiceActive());
    EXPECT_DOUBLE_EQ(transport.playheadSamples.load(), 0.1 * 47999);

    transport.playing = true;
    renderFrames(player, &sample, transport, 1000, 1000);
    // The restart position 0.1 x 47999 lies just before the region's first frame, 4800.
    EXPECT_DOUBLE_EQ(transport.playheadSamples.load(), 4800.0 + 1000);

    transport.requestSeek(0.5);
    const auto seeking = renderFrames(player, &sample, transport, 4096, 4096);
    EXPECT_GT(seeking[10], 0.0f) << "the seek first fades out";
    EXPECT_EQ(seeking[1000], 0.0f);
    EXPECT_DOUBLE_EQ(transport.playheadSamples.load(), 0.5 * 47999) << "and jumps at silence";
    const auto resumed = renderFrames(player, &sample, transport, 1000, 1000);
    EXPECT_NEAR(resumed.back(), 0.5f, 1e-6f) << "and fades back in";
}

TEST(SourcePlayer, NewSourceSwapsAtSilenceAndStartsAtTheRangeStart)
{
    const auto first = makeSample(48000, 48000, 1, [](int, int) { return 0.5f; });
    const auto second = makeSample(48000, 48000, 1, [](int, int) { return -0.25f; });
    SourcePlayer player;
    player.prepare(48000);
    TransportState transport;
    transport.rangeStart = 0.5;
    transport.playing = true;
    renderFrames(player, &first, transport, 4096);

    const auto out = renderFrames(player, &second, transport, 4096, 4096);
    EXPECT_EQ(player.getVoiceSample(), &second) << "swapped once the old source was silent";
    EXPECT_GT(out[100], 0.0f) << "the old source fades out first";
    EXPECT_EQ(out[1000], 0.0f);
    EXPECT_DOUBLE_EQ(transport.playheadSamples.load(), 0.5 * 47999);
    const auto next = renderFrames(player, &second, transport, 1024, 1024);
    EXPECT_LT(next[10], 0.0f);
    EXPECT_NEAR(next.back(), -0.25f, 1e-6f) << "then the new one fades in";

    renderFrames(player, nullptr, transport, 2048);
    EXPECT_EQ(player.getVoiceSample(), nullptr);
    EXPECT_FALSE(player.isVoiceActive());
}

TEST(SourcePlayer, AHaltedVoiceStaysWhereASwapOrSeekPutIt)
{
    const auto first = makeSample(48000, 48000, 1, [](int, int) { return 0.5f; });
    const auto second = makeSample(48000, 48000, 1, [](int, int) { return -0.25f; });
    const struct
    {
        const char* name;
        bool swap; // otherwise a seek to 0.6
        double expected;
    } cases[] = {{"new source while paused", true, 0.3 * 47999}, {"seek while paused", false, 0.6 * 47999}};

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        SourcePlayer player;
        player.prepare(48000);
        TransportState transport;
        transport.rangeStart = 0.3;
        transport.playing = true;
        renderFrames(player, &first, transport, 8192);
        transport.pause();
        renderFrames(player, &first, transport, 4096); // faded out
        ASSERT_FALSE(player.isVoiceActive());

        if (!c.swap)
            transport.requestSeek(0.6);
        const auto* published = c.swap ? &second : &first;
        for (int block = 0; block < 4; ++block)
        {
            const auto out = renderFrames(player, published, transport, 512, 512);
            EXPECT_EQ(player.getVoiceSample(), published);
            EXPECT_DOUBLE_EQ(transport.playheadSamples.load(), c.expected) << "block " << block;
            EXPECT_EQ(out[511], 0.0f);
        }
        EXPECT_FALSE(player.isVoiceActive());
    }
}

TEST(SourcePlayer, FadeLengthsFollowTheSelector)
{
    EXPECT_EQ(SourcePlayer::fadeLengthSamples(48000, 5), 240);
    EXPECT_EQ(SourcePlayer::fadeLengthSamples(48000, 30), 1440);
    EXPECT_EQ(SourcePlayer::fadeLengthSamples(48000, 1), 240) << "clamped to 5 ms";
    EXPECT_EQ(SourcePlayer::fadeLengthSamples(44100, 12), 529);
}

TEST(SourceTransport, MomentsAreClippedToTheRange)
{
    TransportState state;
    SourceLibrary library(state, [] {});
    SourceTransport transport(state, library, true, [] {});
    auto sample = std::make_shared<LoadedSample>();
    sample->sampleRate = 1000;
    sample->audio.setSize(1, 60000); // 60 s
    const auto moment = [](double start, double length, const char* text)
    {
        MomentSuggestion m;
        m.startSeconds = start;
        m.lengthSeconds = length;
        m.explanation = text;
        return m;
    };
    const auto inside = moment(30, 10, "inside");
    const auto partly = moment(10, 10, "partly");
    const auto outside = moment(5, 10, "outside");
    sample->moments = {inside, partly, outside};
    library.publish(sample);
    state.rangeStart = 0.25; // 15 s to 45 s
    state.rangeEnd = 0.75;

    const auto moments = transport.getBestMomentSuggestions();
    ASSERT_EQ(moments.size(), 2u);
    EXPECT_EQ(moments[0].startSeconds, 30);
    EXPECT_EQ(moments[0].explanation, "inside");
    EXPECT_EQ(moments[1].startSeconds, 15);
    EXPECT_EQ(moments[1].lengthSeconds, 5);
    EXPECT_EQ(moments[1].explanation, "partly; clipped to the selected source range");
}

TEST(SourceTransport, PlaySeekAndRangeNeedTheStandaloneAppAndASource)
{
    TransportState state;
    SourceLibrary library(state, [] {});
    int modified = 0;
    SourceTransport plugin(state, library, false, [&] { ++modified; });
    SourceTransport app(state, library, true, [&] { ++modified; });

    app.startPlayback();
    EXPECT_FALSE(state.playing.load()) << "no source";
    auto sample = std::make_shared<LoadedSample>();
    sample->sampleRate = 1000;
    sample->audio.setSize(1, 1000);
    sample->audio.clear();
    library.publish(sample);
    plugin.startPlayback();
    EXPECT_FALSE(state.playing.load()) << "a plug-in host plays nothing";
    app.startPlayback();
    EXPECT_TRUE(state.playing.load());

    const auto seeks = state.seekRequestCount.load();
    juce::String error;
    ASSERT_TRUE(app.setSourceRange(0.5, 0.8, false, false, error));
    EXPECT_EQ(state.seekRequestCount.load(), seeks + 1) << "the playhead lay outside the new range";
    EXPECT_EQ(state.seekTarget.load(), 0.5);
    EXPECT_FALSE(state.looping.load());
    EXPECT_FALSE(app.setSourceRange(0.8, 0.5, true, false, error));
    EXPECT_EQ(state.rangeStart.load(), 0.5) << "a refused range changes nothing";

    app.seek(0.95);
    EXPECT_DOUBLE_EQ(state.seekTarget.load(), 0.8 - 0.000000001);
    app.seek(0.1);
    EXPECT_DOUBLE_EQ(state.seekTarget.load(), 0.5);

    modified = 0;
    app.setCrossfadeSelection(4);
    EXPECT_EQ(state.crossfadeMilliseconds.load(), 30.0f);
    app.setCrossfadeSelection(9);
    EXPECT_EQ(modified, 1) << "an unchanged fade is not an edit";
    app.setCrossfadeSelection(0);
    EXPECT_EQ(state.crossfadeMilliseconds.load(), 5.0f);

    const auto snapshot = app.getSnapshot();
    EXPECT_EQ(snapshot.startSample, 500);
    EXPECT_EQ(snapshot.endSample, 800);
}
