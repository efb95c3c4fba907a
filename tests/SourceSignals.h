#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <cmath>
#include <cstdint>

// Small generated sources, one per kind of material the source analysis tells apart.
namespace sorvane::test
{
constexpr double twoPi = 2.0 * M_PI;

// Deterministic white noise in [-1, 1).
struct NoiseSource
{
    std::uint32_t state = 1;
    float next()
    {
        state = state * 1664525u + 1013904223u;
        return (float)(state >> 8) / 8388608.0f - 1.0f;
    }
};

inline juce::AudioBuffer<float> makeBuffer(int channels, double seconds, double rate)
{
    juce::AudioBuffer<float> audio(channels, (int)std::lround(seconds * rate));
    audio.clear();
    return audio;
}

inline juce::AudioBuffer<float> sine(int channels, double seconds, double rate, double hz, float amplitude)
{
    auto audio = makeBuffer(channels, seconds, rate);
    for (int i = 0; i < audio.getNumSamples(); ++i)
        for (int c = 0; c < channels; ++c)
            audio.setSample(c, i, amplitude * (float)std::sin(twoPi * hz * i / rate));
    return audio;
}

inline juce::AudioBuffer<float> noise(int channels, double seconds, double rate, float amplitude)
{
    auto audio = makeBuffer(channels, seconds, rate);
    NoiseSource source;
    for (int i = 0; i < audio.getNumSamples(); ++i)
        for (int c = 0; c < channels; ++c)
            audio.setSample(c, i, amplitude * source.next());
    return audio;
}

// Short noise bursts with a small low body, two hits a second, identical in every channel.
inline juce::AudioBuffer<float> clickTrain(int channels, double seconds, double rate)
{
    auto audio = makeBuffer(channels, seconds, rate);
    NoiseSource source;
    const int period = (int)(rate * 0.5);
    for (int i = 0; i < audio.getNumSamples(); ++i)
    {
        const double t = (i % period) / rate;
        const float x = 0.8f * (float)std::exp(-t / 0.006) * source.next() +
                        0.2f * (float)(std::exp(-t / 0.02) * std::sin(twoPi * 90.0 * t));
        for (int c = 0; c < channels; ++c)
            audio.setSample(c, i, x);
    }
    return audio;
}

// A mono harmonic tone around the voice's range, shaped into syllables and short pauses.
inline juce::AudioBuffer<float> voiceLike(double seconds, double rate)
{
    auto audio = makeBuffer(1, seconds, rate);
    for (int i = 0; i < audio.getNumSamples(); ++i)
    {
        const double t = i / rate;
        const double syllable = 0.6 + 0.4 * std::sin(twoPi * 1.3 * t);
        double x = 0;
        for (int h = 1; h <= 6; ++h)
            x += std::sin(twoPi * 220.0 * h * t) / h;
        audio.setSample(0, i, (float)(0.25 * syllable * x));
    }
    return audio;
}

// Mono plucked notes: bright harmonic tones that ring and die away, one a second.
inline juce::AudioBuffer<float> pluckedNotes(double seconds, double rate)
{
    auto audio = makeBuffer(1, seconds, rate);
    const double notes[] = {330.0, 392.0, 494.0, 440.0};
    const int period = (int)rate;
    for (int i = 0; i < audio.getNumSamples(); ++i)
    {
        const double t = (i % period) / rate;
        const double hz = notes[(i / period) % 4];
        double x = 0;
        for (int h = 1; h <= 10; ++h)
            x += std::sin(twoPi * hz * h * t) / h;
        const double attack = std::min(1.0, t / 0.01);
        audio.setSample(0, i, (float)(0.3 * attack * std::exp(-t / 0.18) * x));
    }
    return audio;
}

// Kick, bass line, hats panned hard left and a detuned chord: a small wide mix.
inline juce::AudioBuffer<float> fullMix(double seconds, double rate)
{
    auto audio = makeBuffer(2, seconds, rate);
    NoiseSource source;
    const int beat = (int)(rate * 0.5);
    for (int i = 0; i < audio.getNumSamples(); ++i)
    {
        const double t = i / rate, tb = (i % beat) / rate;
        const double kick = 0.5 * std::exp(-tb / 0.06) * std::sin(twoPi * 55.0 * tb);
        const double bass = 0.3 * std::sin(twoPi * (((i / beat) % 2) ? 73.4 : 55.0) * t);
        const double hat = 0.7 * std::exp(-std::fmod(tb, 0.25) / 0.01) * source.next();
        const double chordL = 0.2 * (std::sin(twoPi * 440.3 * t) + std::sin(twoPi * 554.0 * t));
        const double chordR = 0.2 * (std::sin(twoPi * 439.1 * t + 1) + std::sin(twoPi * 555.7 * t + 2));
        audio.setSample(0, i, (float)(kick + bass + hat + chordL));
        audio.setSample(1, i, (float)(kick + bass - chordR));
    }
    return audio;
}

// A steady chord whose channels are detuned against each other, so the image is wide.
inline juce::AudioBuffer<float> sustainedPad(double seconds, double rate)
{
    auto audio = makeBuffer(2, seconds, rate);
    const double notes[] = {220.0, 277.18, 329.63, 440.0, 554.37};
    for (int i = 0; i < audio.getNumSamples(); ++i)
    {
        double left = 0, right = 0;
        for (int k = 0; k < 5; ++k)
        {
            left += std::sin(twoPi * notes[k] * 1.003 * i / rate + k);
            right += std::sin(twoPi * notes[k] * 0.997 * i / rate + 2 * k);
        }
        audio.setSample(0, i, 0.08f * (float)left);
        audio.setSample(1, i, 0.08f * (float)right);
    }
    return audio;
}
} // namespace sorvane::test
