#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <array>
#include <optional>
#include <vector>

namespace sorvane::render
{
// Integrated loudness (ITU-R BS.1770-4: K-weighting, 400 ms blocks overlapping by 75 %, the absolute
// gate at -70 LUFS and the relative gate 10 LU below) and the sample peak, fed block by block so a
// file is never held whole. Keeps one mean square per 100 ms step: about 3 MB for ten hours.
class LoudnessMeter
{
public:
    LoudnessMeter(double sampleRate, int channels);

    void process(const juce::AudioBuffer<float>& buffer, int numSamples);

    // No value when nothing passes the gates (silence, or under 400 ms of audio).
    std::optional<double> integratedLufs() const;
    float samplePeak() const noexcept { return peak; }

private:
    struct Biquad
    {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    };
    struct State
    {
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    };

    static double run(const Biquad& f, State& s, double x) noexcept;

    Biquad shelf, highPass;
    std::vector<std::array<State, 2>> states;
    int stepLength = 0, stepFill = 0;
    double stepEnergy = 0.0;
    std::vector<double> steps; // per 100 ms: the channel-summed mean square
    float peak = 0.0f;
};
} // namespace sorvane::render
