#include "render/LoudnessMeter.h"

#include <cmath>

namespace sorvane::render
{
LoudnessMeter::LoudnessMeter(double sampleRate, int channels)
    : states((size_t)std::max(channels, 1)), stepLength(std::max(1, juce::roundToInt(sampleRate * 0.1)))
{
    // The K-weighting pair designed from its analogue prototype, so every sample rate gets the filter
    // the standard tabulates at 48 kHz.
    {
        const double f0 = 1681.974450955533, gainDb = 3.999843853973347, q = 0.7071752369554196;
        const double k = std::tan(juce::MathConstants<double>::pi * f0 / sampleRate);
        const double vh = std::pow(10.0, gainDb / 20.0);
        const double vb = std::pow(vh, 0.4996667741545416);
        const double a0 = 1.0 + k / q + k * k;
        shelf.b0 = (vh + vb * k / q + k * k) / a0;
        shelf.b1 = 2.0 * (k * k - vh) / a0;
        shelf.b2 = (vh - vb * k / q + k * k) / a0;
        shelf.a1 = 2.0 * (k * k - 1.0) / a0;
        shelf.a2 = (1.0 - k / q + k * k) / a0;
    }
    {
        const double f0 = 38.13547087602444, q = 0.5003270373238773;
        const double k = std::tan(juce::MathConstants<double>::pi * f0 / sampleRate);
        const double a0 = 1.0 + k / q + k * k;
        highPass.b0 = 1.0;
        highPass.b1 = -2.0;
        highPass.b2 = 1.0;
        highPass.a1 = 2.0 * (k * k - 1.0) / a0;
        highPass.a2 = (1.0 - k / q + k * k) / a0;
    }
}

double LoudnessMeter::run(const Biquad& f, State& s, double x) noexcept
{
    const double y = f.b0 * x + f.b1 * s.x1 + f.b2 * s.x2 - f.a1 * s.y1 - f.a2 * s.y2;
    s.x2 = s.x1;
    s.x1 = x;
    s.y2 = s.y1;
    s.y1 = y;
    return y;
}

void LoudnessMeter::process(const juce::AudioBuffer<float>& buffer, int numSamples)
{
    const int channels = std::min(buffer.getNumChannels(), (int)states.size());
    // Up to the next 100 ms boundary at a time, one channel after the other, with the filter states in
    // locals: the meter stays a small part of a render.
    for (int start = 0; start < numSamples;)
    {
        const int length = std::min(numSamples - start, stepLength - stepFill);
        for (int c = 0; c < channels; ++c)
        {
            const float* x = buffer.getReadPointer(c, start);
            auto shelfState = states[(size_t)c][0];
            auto highPassState = states[(size_t)c][1];
            double sum = 0.0;
            float channelPeak = peak;
            for (int i = 0; i < length; ++i)
            {
                channelPeak = std::max(channelPeak, std::abs(x[i]));
                const double y = run(highPass, highPassState, run(shelf, shelfState, (double)x[i]));
                sum += y * y;
            }
            states[(size_t)c][0] = shelfState;
            states[(size_t)c][1] = highPassState;
            peak = channelPeak;
            stepEnergy += sum;
        }
        start += length;
        stepFill += length;
        if (stepFill == stepLength)
        {
            steps.push_back(stepEnergy / stepLength);
            stepEnergy = 0.0;
            stepFill = 0;
        }
    }
}

std::optional<double> LoudnessMeter::integratedLufs() const
{
    const auto loudness = [](double meanSquare) { return -0.691 + 10.0 * std::log10(meanSquare); };

    std::vector<double> blocks;
    for (size_t i = 3; i < steps.size(); ++i)
        blocks.push_back((steps[i - 3] + steps[i - 2] + steps[i - 1] + steps[i]) / 4.0);

    double sum = 0.0;
    int count = 0;
    for (double b : blocks)
        if (b > 0.0 && loudness(b) > -70.0)
            sum += b, ++count;
    if (count == 0)
        return std::nullopt;

    const double relativeGate = loudness(sum / count) - 10.0;
    sum = 0.0;
    count = 0;
    for (double b : blocks)
        if (b > 0.0 && loudness(b) > -70.0 && loudness(b) > relativeGate)
            sum += b, ++count;
    if (count == 0)
        return std::nullopt;
    return loudness(sum / count);
}
} // namespace sorvane::render
