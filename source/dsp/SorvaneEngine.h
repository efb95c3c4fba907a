#pragma once

#include "dsp/DspSettings.h"
#include "dsp/EngineMeters.h"
#include "dsp/EngineRandom.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <array>
#include <cstdint>
#include <vector>

namespace sorvane
{
// The delay time and wet amount a block asks for, after sync and range checks.
struct DelayResolution
{
    float timeMs = 180.0f;
    float wet = 0.0f;
};

DelayResolution resolveDelay(const DspSettings& settings, double tempoBpm) noexcept;

// The whole sound: one stereo block in place per call, driven by a settings record and a tempo.
// Single-threaded; process() allocates nothing and takes no lock.
class SorvaneEngine
{
public:
    SorvaneEngine();

    void prepare(double newSampleRate, int newNumChannels, int maximumBlockSize);
    void reset() noexcept;
    void process(juce::AudioBuffer<float>& buffer, const DspSettings& settings, double tempoBpm) noexcept;

    const EngineMeters& getMeters() const noexcept { return meters; }
    double getSampleRate() const noexcept { return sampleRate; }
    int getNumChannels() const noexcept { return numChannels; }

    struct LineSizes
    {
        int resonator = 0, delay = 0, fracture = 0, dimension = 0;
    };
    LineSizes getLineSizes() const noexcept;

    // Running state of the discrete controls and the fracture scheduler, for tests and displays.
    struct Inspection
    {
        int decimationCurrent = 1, decimationNext = 1, decimationTarget = 1, decimationFadeCountdown = 0;
        float delayTimeCurrent = 180.0f, delayTimeNext = 180.0f, delayTimeTarget = 180.0f;
        int delayFadeCountdown = 0;
        int decimationFadeLength = 1, delayFadeLength = 1;
        int writtenCount = 0;
        int sliceCountdown = 0, eventSamplesRemaining = 0, sliceLength = 0, eventPosition = 0;
        bool eventReversed = false;
        float fractureEnvelope = 0.0f;
        float levelGain = 1.0f;
        float feedback = 0.0f, resonatorDecay = 0.0f, delayWet = 0.0f; // as the chain uses them
        bool initialised = false;
        std::uint64_t controlUpdates = 0;
    };
    Inspection inspect() const noexcept;

    static constexpr float leftDetune = 0.99757695f;
    static constexpr float rightDetune = 1.00242901f;

private:
    using Linear = juce::SmoothedValue<float, juce::ValueSmoothingTypes::Linear>;
    using Geometric = juce::SmoothedValue<float, juce::ValueSmoothingTypes::Multiplicative>;

    struct ChannelState
    {
        int resonatorWrite = 0, delayWrite = 0, fractureWrite = 0, dimensionWrite = 0;
        int holdA = 0, holdB = 0;
        float heldA = 0.0f, heldB = 0.0f;
        float toneState = 0.0f;
        float ic1 = 0.0f, ic2 = 0.0f;
        float previousFoldInput = 0.0f;
        int sliceStart = 0;
    };

    // Coefficients recomputed every 16 samples and ramped linearly in between.
    struct ControlSet
    {
        float driveNormaliser = 1.0f;
        float levels = 32768.0f;
        float toneCoefficient = 1.0f;
        float a1 = 1.0f, a2 = 0.0f, a3 = 0.0f, k = 1.0f;
        float morph = 0.5f;
        float ringRatio = 1.0f, resonatorRatio = 1.0f;
    };

    // This frame's smoothed and derived values, shared by both channels.
    struct Frame
    {
        float inputGain, outputGain, totalEffect, delayWet, resonatorMix, ringMix, dimension, fold, spark,
            drive, crush, ringFrequency, resonatorFrequency, resonatorDecay, fractureAmount, reverseChance,
            feedback, tone, spectralWave, spectralRate, chaos, qualityBlend, resultGain;
        float decimationFade, delayFade, wobble, driveGain, carrier;
        float dimensionSin[2], delayModulationSin[2];
        bool decimationFading, delayFading, eventRunning;
    };

    struct BlockMaxima
    {
        float spectralRate = 0.0f, resonatorFrequency = 30.0f, reverseActivity = 0.0f, delayMotion = 0.0f,
              dimensionMotion = 0.0f, outputPeak = 0.0f, sparkPeak = 0.0f, chaosPeak = 0.0f;
        bool eventStarted = false;
    };

    void snapSmoothersToTargets() noexcept;
    void setSmootherTargets(const DspSettings& s, const DelayResolution& delay) noexcept;
    void advanceControls(Frame& f, double bpm, double tempoRatio, BlockMaxima& maxima) noexcept;
    void updateControlSet(const Frame& f) noexcept;
    void runFractureClock(const Frame& f, double bpm, BlockMaxima& maxima) noexcept;
    void processFrame(const float* xIn, float* out, int numProcessed, const Frame& f,
                      BlockMaxima& maxima) noexcept;
    void applyLevelMatching(float* const* channels, int numProcessed, int sampleIndex, float inEnergy,
                            float outEnergy, const Frame& f, BlockMaxima& maxima) noexcept;
    void completeFrame() noexcept;

    float readLine(const std::vector<float>& line, float position, int guard) const noexcept;
    static float decimate(float y, float levels, int factor, int& hold, float& held) noexcept;

    // Scalars
    double sampleRate = 44100.0;
    int numChannels = 2;
    int writtenCount = 0;
    bool initialised = false;

    // Lines, one per channel slot
    std::array<std::vector<float>, 2> resonatorLines, delayLines, fractureLines, dimensionLines;
    std::array<ChannelState, 2> channels;

    // Phases in cycles, kept in 0..1
    double ringPhase = 0.0, driftPhase = 0.0, spectralPhase = 0.0, dimensionPhase = 0.0;

    // Chaos walk
    int chaosCountdown = 0;
    float chaosState = 0.0f, chaosTarget = 0.0f;

    // Fracture
    int sliceCountdown = 0, eventSamplesRemaining = 0, sliceLength = 0, eventPosition = 0;
    bool eventReversed = false;
    float fractureEnvelope = 0.0f;

    // Smoothed controls
    Linear inputGain, outputGain, totalEffect, delayWet, resonatorMix, ringMix, dimension, fold, spark, drive,
        crush;
    Geometric ringFrequency, resonatorFrequency;
    Linear resonatorDecay, fractureAmount, reverseChance, feedback;
    Geometric tone;
    Linear spectralWave;
    Geometric spectralRate;
    Linear chaos, qualityBlend, resultGain;

    // Crossfaded discrete controls
    int decimationCurrent = 1, decimationNext = 1, decimationTarget = 1, decimationFadeCountdown = 0;
    int decimationFadeLength = 1;
    float delayTimeCurrent = 180.0f, delayTimeNext = 180.0f, delayTimeTarget = 180.0f;
    int delayFadeCountdown = 0, delayFadeLength = 1;

    // One-pole coefficients
    float chaosCoefficient = 0.0f, fractureAttack = 0.0f, fractureRelease = 0.0f, levelAveraging = 0.0f,
          levelFall = 0.0f, levelRise = 0.0f;

    // Level detector
    float inputEnvelope = 0.0f, outputEnvelope = 0.0f, levelGain = 1.0f;

    // Control rate
    ControlSet control, controlIncrement;
    int controlCountdown = 0;
    std::uint64_t controlUpdates = 0;

    // Block tempo and settings that the per-sample code needs
    int blockDivision = 2;
    bool blockMatchSourceLevel = false;
    int blockAutoLevel = 0;
    float blockLevelLimit = 1.0f;

    EngineRandom random;
    EngineMeters meters;
};
} // namespace sorvane
