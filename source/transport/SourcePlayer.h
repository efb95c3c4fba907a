#pragma once

#include "transport/LoadedSample.h"
#include "transport/TransportState.h"

#include <juce_audio_basics/juce_audio_basics.h>

namespace sorvane
{
// Renders the published source into the audio callback's buffer: range, loop seam or one-shot
// end, device-rate conversion by linear interpolation, and an equal-power fade at every
// discontinuity (start, stop, seek, source swap). Audio thread only; allocates nothing.
class SourcePlayer
{
public:
    void prepare(double newDeviceSampleRate) noexcept;
    void resetVoice() noexcept;

    // published is the source currently on offer (may be null); the buffer's input is replaced.
    void render(juce::AudioBuffer<float>& buffer, const LoadedSample* published,
                TransportState& transport) noexcept;

    // The source the voice is rendering or fading; the caller mirrors it into its hazard slot.
    const LoadedSample* getVoiceSample() const noexcept { return voiceSample; }
    bool isVoiceActive() const noexcept { return voiceActive; }
    float getFadeGain() const noexcept { return fadeGain; }
    double getDeviceSampleRate() const noexcept { return deviceSampleRate; }

    static int fadeLengthSamples(double deviceRate, float milliseconds) noexcept;

private:
    struct Region;

    void fadeTo(float gain, int length) noexcept;
    void applyPendingWork(const LoadedSample* published, TransportState& transport) noexcept;
    void renderBlock(juce::AudioBuffer<float>& buffer, TransportState& transport, bool looping,
                     double rangeStart, double rangeEnd, float milliseconds) noexcept;

    const LoadedSample* voiceSample = nullptr;
    double readPosition = 0.0;
    float fadeGain = 0.0f, fadeTarget = 0.0f, fadeStep = 0.0f;
    int fadeSamplesRemaining = 0;
    bool pendingSwap = false, pendingSeek = false, voiceActive = false;
    std::uint64_t lastSeekRequest = 0;
    double deviceSampleRate = 44100.0;
};
} // namespace sorvane
