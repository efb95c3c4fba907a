#include "dsp/SorvaneEngine.h"

#include <algorithm>
#include <cmath>

namespace sorvane
{
namespace
{
constexpr double twoPi = 6.283185307179586476925286766559;
constexpr float minLevelGain = 0.063095726f; // -24 dB
constexpr float maxLevelGain = 15.848933f;   // +24 dB
constexpr float rampSeconds = 0.025f;

// No real signal comes near +96 dBFS; anything beyond is garbage like NaN. The bound keeps every square,
// the quantiser's scaling and the feedback sums far from overflow.
constexpr float maxInputMagnitude = 65536.0f;

// Fracture division choices "1/4" to "1/128" in quarter-note beats.
constexpr double beatLengths[6] = {1.0, 0.5, 0.25, 0.125, 0.0625, 0.03125};

float gainFromDb(float db) noexcept
{
    return db <= -100.0f ? 0.0f : std::pow(10.0f, db / 20.0f);
}

float onePole(double seconds, double sampleRate) noexcept
{
    return static_cast<float>(1.0 - std::exp(-1.0 / (seconds * sampleRate)));
}

double wrapPhase(double phase) noexcept
{
    return phase - std::floor(phase);
}

// Every offset the engine applies is smaller than the line, so one step wraps it.
int wrapIndex(int index, int size) noexcept
{
    if (index < 0)
        return index + size;
    return index >= size ? index - size : index;
}

// A faulty caller must not push NaN or infinity into smoothers and feedback paths.
DspSettings sanitised(const DspSettings& in) noexcept
{
    static const DspSettings defaults;
    DspSettings s = in;
    auto fix = [](float& value, float fallback)
    {
        if (!std::isfinite(value))
            value = fallback;
    };
    fix(s.inputDb, defaults.inputDb);
    fix(s.drive, defaults.drive);
    fix(s.crush, defaults.crush);
    fix(s.ring, defaults.ring);
    fix(s.ringFreq, defaults.ringFreq);
    fix(s.resonance, defaults.resonance);
    fix(s.resFreq, defaults.resFreq);
    fix(s.resDecay, defaults.resDecay);
    fix(s.glitch, defaults.glitch);
    fix(s.reverse, defaults.reverse);
    fix(s.delay, defaults.delay);
    fix(s.feedback, defaults.feedback);
    fix(s.tone, defaults.tone);
    fix(s.spectralWave, defaults.spectralWave);
    fix(s.spectralRate, defaults.spectralRate);
    fix(s.dimension, defaults.dimension);
    fix(s.fold, defaults.fold);
    fix(s.spark, defaults.spark);
    fix(s.chaos, defaults.chaos);
    fix(s.mix, defaults.mix);
    fix(s.outputDb, defaults.outputDb);
    fix(s.resultLevelDb, defaults.resultLevelDb);
    // Geometric ramps need strictly positive values.
    s.ringFreq = std::max(s.ringFreq, 0.001f);
    s.resFreq = std::max(s.resFreq, 0.001f);
    s.tone = std::max(s.tone, 0.001f);
    s.spectralRate = std::max(s.spectralRate, 0.001f);
    return s;
}
} // namespace

DelayResolution resolveDelay(const DspSettings& settings, double tempoBpm) noexcept
{
    const bool freeTimeValid = std::isfinite(settings.delayTimeMs) && settings.delayTimeMs >= 2.0f &&
                               settings.delayTimeMs <= 1800.0f;
    const float freeTime = freeTimeValid ? settings.delayTimeMs : 180.0f;

    if (settings.delaySync == 0)
        return {freeTime, freeTimeValid ? settings.delay : 0.0f};

    if (settings.delaySync < 1 || settings.delaySync > 18 || !std::isfinite(tempoBpm) || tempoBpm > 300.0 ||
        tempoBpm < 30.0)
        return {freeTime, 0.0f};

    static constexpr double noteBeats[6] = {0.0625, 0.125, 0.25, 0.5, 1.0, 2.0};
    const int d = settings.delaySync;
    const double factor = (d >= 7 && d <= 12) ? 1.5 : (d >= 13 ? 2.0 / 3.0 : 1.0);
    const auto ms = static_cast<float>(60000.0 / tempoBpm * noteBeats[(d - 1) % 6] * factor);
    return {ms, (ms >= 2.0f && ms <= 1800.0f) ? settings.delay : 0.0f};
}

SorvaneEngine::SorvaneEngine()
{
    random.reset();
}

void SorvaneEngine::prepare(double newSampleRate, int newNumChannels, int /*maximumBlockSize*/)
{
    sampleRate = std::isfinite(newSampleRate) ? std::max(newSampleRate, 8000.0) : 44100.0;
    numChannels = juce::jlimit(1, 2, newNumChannels);

    const auto sizeFor = [this](double seconds) { return static_cast<int>(seconds * sampleRate) + 4; };
    for (int c = 0; c < 2; ++c)
    {
        resonatorLines[(size_t)c].assign((size_t)sizeFor(1.1), 0.0f);
        delayLines[(size_t)c].assign((size_t)sizeFor(2.1), 0.0f);
        fractureLines[(size_t)c].assign((size_t)sizeFor(4.1), 0.0f);
        dimensionLines[(size_t)c].assign((size_t)sizeFor(0.075), 0.0f);
    }

    decimationFadeLength = std::max(1, static_cast<int>(std::lround(0.012 * sampleRate)));
    delayFadeLength = std::max(1, static_cast<int>(std::lround(0.025 * sampleRate)));

    for (auto* s : {&inputGain, &outputGain, &totalEffect, &delayWet, &resonatorMix, &ringMix, &dimension,
                    &fold, &spark, &drive, &crush, &resonatorDecay, &fractureAmount, &reverseChance,
                    &feedback, &spectralWave, &chaos, &qualityBlend, &resultGain})
        s->reset(sampleRate, rampSeconds);
    for (auto* s : {&ringFrequency, &resonatorFrequency, &tone, &spectralRate})
        s->reset(sampleRate, rampSeconds);

    chaosCoefficient = onePole(0.032, sampleRate);
    fractureAttack = onePole(0.0009, sampleRate);
    fractureRelease = onePole(0.0019, sampleRate);
    levelAveraging = onePole(0.35, sampleRate);
    levelFall = onePole(0.9, sampleRate);
    levelRise = onePole(2.4, sampleRate);

    reset();
}

void SorvaneEngine::reset() noexcept
{
    writtenCount = 0;
    for (auto& ch : channels)
        ch = ChannelState{};

    ringPhase = driftPhase = spectralPhase = dimensionPhase = 0.0;
    chaosCountdown = 0;
    chaosState = chaosTarget = 0.0f;
    sliceCountdown = eventSamplesRemaining = sliceLength = eventPosition = 0;
    eventReversed = false;
    fractureEnvelope = 0.0f;

    decimationCurrent = decimationNext = decimationTarget = 1;
    decimationFadeCountdown = 0;
    delayTimeCurrent = delayTimeNext = delayTimeTarget = 180.0f;
    delayFadeCountdown = 0;

    inputEnvelope = outputEnvelope = 0.0f;
    levelGain = 1.0f;

    control = ControlSet{};
    controlIncrement = ControlSet{0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    controlCountdown = 0;
    controlUpdates = 0;

    meters = EngineMeters{};
    initialised = false;
    random.reset();
}

SorvaneEngine::LineSizes SorvaneEngine::getLineSizes() const noexcept
{
    return {(int)resonatorLines[0].size(), (int)delayLines[0].size(), (int)fractureLines[0].size(),
            (int)dimensionLines[0].size()};
}

SorvaneEngine::Inspection SorvaneEngine::inspect() const noexcept
{
    Inspection i;
    i.decimationCurrent = decimationCurrent;
    i.decimationNext = decimationNext;
    i.decimationTarget = decimationTarget;
    i.decimationFadeCountdown = decimationFadeCountdown;
    i.delayTimeCurrent = delayTimeCurrent;
    i.delayTimeNext = delayTimeNext;
    i.delayTimeTarget = delayTimeTarget;
    i.delayFadeCountdown = delayFadeCountdown;
    i.decimationFadeLength = decimationFadeLength;
    i.delayFadeLength = delayFadeLength;
    i.writtenCount = writtenCount;
    i.sliceCountdown = sliceCountdown;
    i.eventSamplesRemaining = eventSamplesRemaining;
    i.sliceLength = sliceLength;
    i.eventPosition = eventPosition;
    i.eventReversed = eventReversed;
    i.fractureEnvelope = fractureEnvelope;
    i.levelGain = levelGain;
    i.feedback = juce::jlimit(0.0f, 0.985f, feedback.getCurrentValue());
    i.resonatorDecay = juce::jlimit(0.0f, 0.985f, resonatorDecay.getCurrentValue());
    i.delayWet = delayWet.getCurrentValue();
    i.initialised = initialised;
    i.controlUpdates = controlUpdates;
    return i;
}

void SorvaneEngine::setSmootherTargets(const DspSettings& s, const DelayResolution& delay) noexcept
{
    inputGain.setTargetValue(gainFromDb(s.inputDb));
    outputGain.setTargetValue(gainFromDb(s.outputDb));
    totalEffect.setTargetValue(s.mix);
    delayWet.setTargetValue(delay.wet);
    resonatorMix.setTargetValue(s.resonance);
    ringMix.setTargetValue(s.ring);
    dimension.setTargetValue(s.dimension);
    fold.setTargetValue(s.fold);
    spark.setTargetValue(s.spark);
    drive.setTargetValue(s.drive);
    crush.setTargetValue(s.crush);
    ringFrequency.setTargetValue(s.ringFreq);
    resonatorFrequency.setTargetValue(s.resFreq);
    resonatorDecay.setTargetValue(s.resDecay);
    fractureAmount.setTargetValue(s.glitch);
    reverseChance.setTargetValue(s.reverse);
    feedback.setTargetValue(s.feedback);
    tone.setTargetValue(s.tone);
    spectralWave.setTargetValue(s.spectralWave);
    spectralRate.setTargetValue(s.spectralRate);
    chaos.setTargetValue(s.chaos);
    qualityBlend.setTargetValue(s.audioQuality > 0 ? 1.0f : 0.0f);
    resultGain.setTargetValue(gainFromDb(s.resultLevelDb));
}

void SorvaneEngine::snapSmoothersToTargets() noexcept
{
    for (auto* s : {&inputGain, &outputGain, &totalEffect, &delayWet, &resonatorMix, &ringMix, &dimension,
                    &fold, &spark, &drive, &crush, &resonatorDecay, &fractureAmount, &reverseChance,
                    &feedback, &spectralWave, &chaos, &qualityBlend, &resultGain})
        s->setCurrentAndTargetValue(s->getTargetValue());
    for (auto* s : {&ringFrequency, &resonatorFrequency, &tone, &spectralRate})
        s->setCurrentAndTargetValue(s->getTargetValue());
}

void SorvaneEngine::process(juce::AudioBuffer<float>& buffer, const DspSettings& settingsIn,
                            double tempoBpm) noexcept
{
    const DspSettings s = sanitised(settingsIn);
    const int numSamples = buffer.getNumSamples();
    const int numProcessed = std::min(buffer.getNumChannels(), numChannels);

    // 1. Delay time and wet
    const auto delay = resolveDelay(s, tempoBpm);

    // 2. Block tempo
    const double bpm = juce::jlimit(30.0, 300.0, std::isfinite(tempoBpm) ? tempoBpm : 120.0);
    const double tempoRatio = juce::jlimit(0.25, 2.5, bpm / 120.0);

    // 3-6. Targets, snapped on the first call after a reset
    setSmootherTargets(s, delay);
    const int decimation = juce::jlimit(1, 32, s.reduce);
    const float delayTime = juce::jlimit(2.0f, 1800.0f, delay.timeMs);
    if (!initialised)
    {
        snapSmoothersToTargets();
        decimationCurrent = decimationNext = decimation;
        delayTimeCurrent = delayTimeNext = delayTime;
        initialised = true;
    }
    decimationTarget = decimation;
    delayTimeTarget = delayTime;
    blockDivision = juce::jlimit(0, 5, s.division);
    blockMatchSourceLevel = s.matchSourceLevel;
    blockAutoLevel = s.autoLevel;
    // Matching corrects up to 24 dB; auto level alone 6 dB ("Strong") or 3 dB ("Light").
    blockLevelLimit = gainFromDb(s.matchSourceLevel ? 24.0f : (s.autoLevel >= 2 ? 6.0f : 3.0f));

    // 7. The flash decays once per block
    meters.fractureFlash *= 0.72f;

    // 8. Per-sample loop
    float* channelData[2] = {nullptr, nullptr};
    for (int c = 0; c < numProcessed; ++c)
        channelData[c] = buffer.getWritePointer(c);

    BlockMaxima maxima;
    bool poisoned = false;
    for (int i = 0; i < numSamples; ++i)
    {
        Frame f;
        advanceControls(f, bpm, tempoRatio, maxima);

        float in[2] = {0.0f, 0.0f}, out[2] = {0.0f, 0.0f};
        float inEnergy = 0.0f;
        const float referenceGain = blockMatchSourceLevel ? 1.0f : f.inputGain;
        for (int c = 0; c < numProcessed; ++c)
        {
            in[c] = channelData[c][i];
            // A NaN, infinity or absurd magnitude from upstream would circulate in the feedback lines
            // and the level detector until a reset; it is taken as silence. The test is false for NaN.
            if (!(std::abs(in[c]) <= maxInputMagnitude))
                in[c] = 0.0f;
            const float reference = in[c] * referenceGain;
            inEnergy += reference * reference;
        }

        processFrame(in, out, numProcessed, f, maxima);

        float outEnergy = 0.0f;
        for (int c = 0; c < numProcessed; ++c)
        {
            channelData[c][i] = out[c];
            outEnergy += out[c] * out[c];
        }

        if (writtenCount < (int)fractureLines[0].size())
            ++writtenCount;

        applyLevelMatching(channelData, numProcessed, i, inEnergy, outEnergy, f, maxima);
        completeFrame();

        // Should any state still turn non-finite (settings far outside their ranges), the frame is
        // muted and the engine starts afresh after the block rather than staying silent for good.
        for (int c = 0; c < numProcessed; ++c)
            if (!std::isfinite(channelData[c][i]))
            {
                for (int k = 0; k < numProcessed; ++k)
                    channelData[k][i] = 0.0f;
                poisoned = true;
                break;
            }
    }

    if (poisoned)
        reset();

    // Meters
    meters.spectralRateLevel =
        juce::jlimit(0.0f, 1.0f, std::log2(1.0f + maxima.spectralRate) / std::log2(13.0f));
    meters.resonatorPitchLevel =
        juce::jlimit(0.0f, 1.0f, std::log2(maxima.resonatorFrequency / 30.0f) / std::log2(4000.0f / 30.0f));
    if (maxima.eventStarted)
        meters.fractureFlash = 1.0f;
    meters.reverseActivity = maxima.reverseActivity;
    meters.delayMotion = maxima.delayMotion;
    meters.dimensionMotion = maxima.dimensionMotion;
    meters.outputPeak = std::min(maxima.outputPeak, 1.0f);
    meters.sparkPeak = maxima.sparkPeak;
    meters.chaosPeak = maxima.chaosPeak;
    meters.levelGain = levelGain;
}

void SorvaneEngine::advanceControls(Frame& f, double bpm, double tempoRatio, BlockMaxima& maxima) noexcept
{
    // 1. Decimation crossfade start
    if (decimationFadeCountdown <= 0 && decimationTarget != decimationCurrent)
    {
        decimationNext = decimationTarget;
        for (auto& ch : channels)
        {
            ch.holdB = 0;
            ch.heldB = ch.heldA;
        }
        decimationFadeCountdown = decimationFadeLength;
    }

    // 2. Delay-time crossfade start
    if (delayFadeCountdown <= 0 && std::abs(delayTimeTarget - delayTimeCurrent) > 0.001f)
    {
        delayTimeNext = delayTimeTarget;
        delayFadeCountdown = delayFadeLength;
    }

    // 3. Fades
    f.decimationFading = decimationFadeCountdown >= 1;
    f.decimationFade =
        f.decimationFading ? 1.0f - (float)decimationFadeCountdown / (float)decimationFadeLength : 0.0f;
    f.delayFading = delayFadeCountdown >= 1;
    f.delayFade = f.delayFading ? 1.0f - (float)delayFadeCountdown / (float)delayFadeLength : 0.0f;

    // 4. Smoothers
    f.inputGain = inputGain.getNextValue();
    f.outputGain = outputGain.getNextValue();
    f.totalEffect = totalEffect.getNextValue();
    f.delayWet = delayWet.getNextValue();
    f.resonatorMix = resonatorMix.getNextValue();
    f.ringMix = ringMix.getNextValue();
    f.dimension = dimension.getNextValue();
    f.fold = fold.getNextValue();
    f.spark = spark.getNextValue();
    f.drive = juce::jlimit(0.0f, 1.0f, drive.getNextValue());
    f.crush = juce::jlimit(0.0f, 1.0f, crush.getNextValue());
    f.ringFrequency = ringFrequency.getNextValue();
    f.resonatorFrequency = resonatorFrequency.getNextValue();
    f.resonatorDecay = juce::jlimit(0.0f, 0.985f, resonatorDecay.getNextValue());
    f.fractureAmount = juce::jlimit(0.0f, 1.0f, fractureAmount.getNextValue());
    f.reverseChance = juce::jlimit(0.0f, 1.0f, reverseChance.getNextValue());
    f.feedback = juce::jlimit(0.0f, 0.985f, feedback.getNextValue());
    f.tone = tone.getNextValue();
    f.spectralWave = juce::jlimit(0.0f, 1.0f, spectralWave.getNextValue());
    f.spectralRate = spectralRate.getNextValue();
    f.chaos = juce::jlimit(0.0f, 1.0f, chaos.getNextValue());
    f.qualityBlend = qualityBlend.getNextValue();
    f.resultGain = resultGain.getNextValue();
    maxima.spectralRate = std::max(maxima.spectralRate, f.spectralRate);
    maxima.resonatorFrequency = std::max(maxima.resonatorFrequency, f.resonatorFrequency);

    // 5. Chaos walk: a new random target every 35 to 255 ms
    if (chaosCountdown-- < 2)
    {
        const float u1 = random.nextFloat();
        const float u2 = random.nextFloat();
        chaosTarget = 2.0f * u1 - 1.0f;
        chaosCountdown = static_cast<int>(sampleRate * (0.035 + 0.22 * (double)u2));
    }
    chaosState += (chaosTarget - chaosState) * chaosCoefficient;
    f.wobble = f.chaos * chaosState;
    maxima.chaosPeak = std::max(maxima.chaosPeak, std::abs(f.wobble));

    // 6. Drive gain
    f.driveGain = 1.0f + 12.0f * f.drive;

    // 7. Control-rate coefficients (with the spectral phase before this frame's advance)
    if (controlCountdown < 1)
        updateControlSet(f);

    // 8. Ring frequency
    const float ringHz = juce::jlimit(8.0f, 9000.0f, f.ringFrequency * control.ringRatio);

    // 9. Phases
    ringPhase = wrapPhase(ringPhase + (double)ringHz / sampleRate);
    f.carrier = std::sin(static_cast<float>(twoPi * ringPhase));
    driftPhase = wrapPhase(driftPhase + (double)(0.08f + 0.45f * f.chaos) * tempoRatio / sampleRate);
    spectralPhase = wrapPhase(spectralPhase +
                              (double)juce::jlimit(0.02f, 16.0f, f.spectralRate) * tempoRatio / sampleRate);
    dimensionPhase =
        wrapPhase(dimensionPhase + (double)(0.08f + 0.012f * f.spectralRate + 0.18f * f.chaos) / sampleRate);

    // The per-channel oscillators depend only on the channel's sign (left -1, right +1).
    const auto driftAngle = static_cast<float>(twoPi * driftPhase);
    const auto dimensionAngle = static_cast<float>(twoPi * dimensionPhase);
    for (int c = 0; c < numChannels; ++c)
    {
        const float sign = c == 0 ? -1.0f : 1.0f;
        f.dimensionSin[c] = std::sin(dimensionAngle + 0.85f * sign);
        f.delayModulationSin[c] = std::sin(driftAngle + 0.7f * sign);
    }

    // Motion meters. sin(a - b) + sin(a + b) = 2 sin(a) cos(b) spares two evaluations in stereo.
    const float driftSin = numChannels == 2
                               ? (f.delayModulationSin[0] + f.delayModulationSin[1]) / (2.0f * std::cos(0.7f))
                               : std::sin(driftAngle);
    const float dimensionSin = numChannels == 2
                                   ? (f.dimensionSin[0] + f.dimensionSin[1]) / (2.0f * std::cos(0.85f))
                                   : std::sin(dimensionAngle);
    maxima.delayMotion = std::max(maxima.delayMotion, (f.delayWet + 0.5f * f.chaos) * driftSin);
    maxima.dimensionMotion = std::max(maxima.dimensionMotion, f.dimension * dimensionSin);

    // 10. Fracture slice clock
    if (--sliceCountdown <= 0)
        runFractureClock(f, bpm, maxima);

    // 11. Fracture envelope
    f.eventRunning = eventSamplesRemaining > 0;
    const float envelopeTarget = f.eventRunning ? 1.0f : 0.0f;
    fractureEnvelope +=
        (envelopeTarget - fractureEnvelope) * (f.eventRunning ? fractureAttack : fractureRelease);
    if (f.eventRunning && eventReversed)
        maxima.reverseActivity = std::max(maxima.reverseActivity, fractureEnvelope);
}

void SorvaneEngine::updateControlSet(const Frame& f) noexcept
{
    const auto sr = static_cast<float>(sampleRate);
    constexpr float pi = juce::MathConstants<float>::pi;
    const auto spectralAngle = static_cast<float>(twoPi * spectralPhase);

    ControlSet next;
    next.driveNormaliser = 1.0f / std::max(std::tanh(f.driveGain), 0.00001f);
    next.levels = std::pow(2.0f, 15.0f - 13.8f * f.crush);
    const float fc = juce::jlimit(80.0f, 20000.0f, f.tone);
    next.toneCoefficient = 1.0f - std::exp(-2.0f * pi * fc / sr);

    const float base = std::sqrt(120.0f * juce::jlimit(250.0f, 20000.0f, f.tone));
    const float depth = 0.55f + 2.8f * f.spectralWave + 0.7f * f.chaos;
    float frequency = base * std::pow(2.0f, depth * std::sin(spectralAngle));
    frequency = frequency < 45.0f ? 45.0f : std::min(frequency, 0.42f * sr);
    const float g = std::tan(pi * frequency / sr);
    next.k = 1.0f / (0.7f + 4.8f * f.spectralWave + 1.6f * f.chaos);
    next.a1 = 1.0f / (1.0f + g * (g + next.k));
    next.a2 = g * next.a1;
    next.a3 = g * next.a2;
    next.morph = 0.5f + 0.5f * std::sin(1.7f * f.chaos + static_cast<float>(0.37 * twoPi * spectralPhase));
    next.ringRatio = std::pow(2.0f, 1.8f * f.wobble);
    next.resonatorRatio = std::pow(2.0f, 0.8f * f.wobble);

    if (controlUpdates == 0)
    {
        control = next;
        controlIncrement = ControlSet{0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    }
    else
    {
        auto step = [](float to, float from) { return (to - from) / 16.0f; };
        controlIncrement.driveNormaliser = step(next.driveNormaliser, control.driveNormaliser);
        controlIncrement.levels = step(next.levels, control.levels);
        controlIncrement.toneCoefficient = step(next.toneCoefficient, control.toneCoefficient);
        controlIncrement.a1 = step(next.a1, control.a1);
        controlIncrement.a2 = step(next.a2, control.a2);
        controlIncrement.a3 = step(next.a3, control.a3);
        controlIncrement.k = step(next.k, control.k);
        controlIncrement.morph = step(next.morph, control.morph);
        controlIncrement.ringRatio = step(next.ringRatio, control.ringRatio);
        controlIncrement.resonatorRatio = step(next.resonatorRatio, control.resonatorRatio);
    }
    controlCountdown = 16;
    ++controlUpdates;
}

void SorvaneEngine::runFractureClock(const Frame& f, double bpm, BlockMaxima& maxima) noexcept
{
    const double beats = beatLengths[blockDivision];
    const double samplesPerBeat = 60.0 * sampleRate / bpm;
    sliceCountdown = std::max(32, static_cast<int>(samplesPerBeat * beats));

    if (eventSamplesRemaining > 0)
        return;

    const float p = juce::jlimit(0.0f, 0.98f, f.fractureAmount * (0.56f + 0.38f * f.chaos));
    const float u1 = random.nextFloat();
    if (!(u1 < p))
        return;

    const float u2 = random.nextFloat();
    const int length = static_cast<int>(samplesPerBeat * beats * (0.72 + 0.55 * (double)u2));
    sliceLength = length < 24 ? 24 : std::min(length, static_cast<int>(1.5 * sampleRate));

    const float u3 = random.nextFloat();
    eventSamplesRemaining = u3 > 0.65f ? sliceLength * 2 : sliceLength;

    const float u4 = random.nextFloat();
    eventReversed = u4 < f.reverseChance;

    eventPosition = 0;
    const int fractureSize = (int)fractureLines[0].size();
    for (int c = 0; c < numChannels; ++c)
        channels[(size_t)c].sliceStart =
            wrapIndex(channels[(size_t)c].fractureWrite - sliceLength, fractureSize);

    ++meters.fractureEvents;
    maxima.eventStarted = true;
}

float SorvaneEngine::readLine(const std::vector<float>& line, float position, int guard) const noexcept
{
    const int size = (int)line.size();
    const auto sizeF = static_cast<float>(size);
    if (position < 0.0f)
        position += sizeF;
    else if (position >= sizeF)
        position -= sizeF;

    int i = static_cast<int>(position);
    const float fraction = position - static_cast<float>(i);
    if (i >= size) // rounding can land exactly on the end
        i -= size;
    int j = i + 1;
    if (j >= size)
        j -= size;

    const float a = i < guard ? line[(size_t)i] : 0.0f;
    const float b = j < guard ? line[(size_t)j] : 0.0f;
    return a + fraction * (b - a);
}

float SorvaneEngine::decimate(float y, float levels, int factor, int& hold, float& held) noexcept
{
    float value;
    if (hold >= 1)
    {
        value = held;
    }
    else
    {
        value = std::round(y * levels) / levels;
        held = value;
        hold = factor;
    }
    --hold;
    return value;
}

// Both channels advance stage by stage: each channel's stages depend on one another, but the two
// channels do not, so the processor can overlap their transcendental calls.
void SorvaneEngine::processFrame(const float* xIn, float* out, int n, const Frame& f,
                                 BlockMaxima& maxima) noexcept
{
    const auto sr = static_cast<float>(sampleRate);
    float v[2], x[2], y[2], q[2], w[2], high[2], p[2], m[2], o[2], g[2];

    for (int c = 0; c < n; ++c)
    {
        auto& ch = channels[(size_t)c];

        // 1. Input gain
        x[c] = f.inputGain * xIn[c];

        // 2. Drive, normalised so full scale stays full scale
        y[c] = x[c] + f.drive * (std::tanh(f.driveGain * x[c]) * control.driveNormaliser - x[c]);

        // 3. Crush and decimation, crossfading between two hold lengths while the factor changes
        v[c] = decimate(y[c], control.levels, decimationCurrent, ch.holdA, ch.heldA);
        if (f.decimationFading)
        {
            const float vB = decimate(y[c], control.levels, decimationNext, ch.holdB, ch.heldB);
            v[c] = v[c] + f.decimationFade * (vB - v[c]);
        }
    }

    for (int c = 0; c < n; ++c)
    {
        auto& ch = channels[(size_t)c];
        const float z = y[c] + f.crush * (v[c] - y[c]);

        // 4. Ring modulation
        const float r = z + f.ringMix * (f.carrier * z - z);

        // 5. Resonator comb
        auto& resonatorLine = resonatorLines[(size_t)c];
        const float detune = c == 0 ? leftDetune : rightDetune;
        const float combHz =
            juce::jlimit(25.0f, 8000.0f, f.resonatorFrequency * control.resonatorRatio * detune);
        const float d = readLine(resonatorLine, (float)ch.resonatorWrite - sr / combHz, writtenCount);
        resonatorLine[(size_t)ch.resonatorWrite] = std::tanh(r + d * f.resonatorDecay);
        if (++ch.resonatorWrite >= (int)resonatorLine.size())
            ch.resonatorWrite = 0;
        q[c] = r + f.resonatorMix * (d - r);
    }

    for (int c = 0; c < n; ++c)
    {
        auto& ch = channels[(size_t)c];

        // 6. Spectral wave: zero-delay-feedback state-variable filter with a morphing output
        const float h = q[c] - ch.ic2;
        const float band = control.a1 * ch.ic1 + control.a2 * h;
        const float low = ch.ic2 + control.a2 * ch.ic1 + control.a3 * h;
        ch.ic1 = 2.0f * band - ch.ic1;
        ch.ic2 = 2.0f * low - ch.ic2;
        high[c] = q[c] - control.k * band - low;
        const float notch = low + high[c];
        const float morph = control.morph;
        const float morphed = morph < 0.5f ? low + 2.0f * morph * (band - low)
                                           : notch + 2.0f * (morph - 0.5f) * (high[c] - notch);
        w[c] = q[c] + f.spectralWave * (std::tanh(morphed) - q[c]);
    }

    for (int c = 0; c < n; ++c)
    {
        // 7. Spark exciter
        const float e = std::tanh((1.4f + 5.0f * f.spark) * high[c]);
        maxima.sparkPeak = std::max(maxima.sparkPeak, f.spark * std::abs(e));
        const float excited = std::tanh(w[c] + e * (0.45f + 0.55f * f.spark));
        p[c] = w[c] + f.spark * (excited - w[c]);
    }

    for (int c = 0; c < n; ++c)
    {
        auto& ch = channels[(size_t)c];

        // 8. Stereo dimension: left and right sweep 1.7 radians apart between 4 and 31 ms
        auto& dimensionLine = dimensionLines[(size_t)c];
        const float dimensionMs = 4.0f + (9.0f + 18.0f * f.chaos) * (0.5f + 0.5f * f.dimensionSin[c]);
        const float dd =
            readLine(dimensionLine, (float)ch.dimensionWrite - dimensionMs * sr * 0.001f, writtenCount);
        dimensionLine[(size_t)ch.dimensionWrite] = p[c];
        if (++ch.dimensionWrite >= (int)dimensionLine.size())
            ch.dimensionWrite = 0;
        m[c] = p[c] + f.dimension * (dd - p[c]);
    }

    for (int c = 0; c < n; ++c)
    {
        auto& ch = channels[(size_t)c];

        // 9. Wave fold; HQ averages with the fold at the midpoint to the previous input to lower aliasing
        const float foldGain = 1.0f + 11.0f * f.fold;
        const float normaliser = 0.28f / foldGain + 0.72f;
        const float f1 = normaliser * std::sin(foldGain * m[c]);
        float folded = f1;
        if (f.qualityBlend != 0.0f) // a zero blend leaves f1 exactly, so Eco skips the second fold
        {
            const float fmid = normaliser * std::sin(foldGain * (m[c] + ch.previousFoldInput) / 2.0f);
            const float hq = (fmid + f1) / 2.0f;
            folded = f1 + f.qualityBlend * (hq - f1);
        }
        ch.previousFoldInput = m[c];
        o[c] = m[c] + f.fold * (folded - m[c]);

        // 10. Fracture: loop the most recent slice, forwards or backwards
        auto& fractureLine = fractureLines[(size_t)c];
        const int fractureSize = (int)fractureLine.size();
        fractureLine[(size_t)ch.fractureWrite] = o[c];
        if (++ch.fractureWrite >= fractureSize)
            ch.fractureWrite = 0;
        g[c] = o[c];
        if (eventSamplesRemaining >= 1 && sliceLength >= 1)
        {
            // An event plays its slice at most twice, so the position is below twice the length.
            int t = eventPosition >= sliceLength ? eventPosition - sliceLength : eventPosition;
            if (eventReversed)
                t = sliceLength - 1 - t;
            const int index = wrapIndex(ch.sliceStart + t, fractureSize);
            const float repeated = index <= writtenCount ? fractureLine[(size_t)index] : 0.0f;
            g[c] = o[c] + (f.fractureAmount * fractureEnvelope) * (repeated - o[c]);
        }
    }

    for (int c = 0; c < n; ++c)
    {
        auto& ch = channels[(size_t)c];
        const float s = c == 0 ? -1.0f : 1.0f;

        // 11. Modulated feedback delay, crossfading between two times while the time changes
        auto& delayLine = delayLines[(size_t)c];
        const float modulationMs = s * (1.5f + 14.0f * f.chaos) * f.delayModulationSin[c];
        const float timeA =
            juce::jlimit(2.0f, 1800.0f, delayTimeCurrent * (1.0f + 0.18f * f.wobble) + modulationMs);
        float delayed = readLine(delayLine, (float)ch.delayWrite - timeA * sr * 0.001f, writtenCount);
        if (f.delayFading)
        {
            const float timeB =
                juce::jlimit(2.0f, 1800.0f, delayTimeNext * (1.0f + 0.18f * f.wobble) + modulationMs);
            const float dB = readLine(delayLine, (float)ch.delayWrite - timeB * sr * 0.001f, writtenCount);
            delayed = delayed + f.delayFade * (dB - delayed);
        }
        delayLine[(size_t)ch.delayWrite] = std::tanh(g[c] + delayed * f.feedback);
        if (++ch.delayWrite >= (int)delayLine.size())
            ch.delayWrite = 0;
        const float l = g[c] + f.delayWet * (delayed - g[c]);

        // 12. Tone
        ch.toneState += control.toneCoefficient * (l - ch.toneState);
        const float wet = ch.toneState;

        // 13. Output blend against the untouched input
        const float dry = f.outputGain * xIn[c];
        out[c] = dry + f.totalEffect * (std::tanh(f.outputGain * wet) - dry);
    }
}

void SorvaneEngine::applyLevelMatching(float* const* channelData, int numProcessed, int sampleIndex,
                                       float inEnergy, float outEnergy, const Frame& f,
                                       BlockMaxima& maxima) noexcept
{
    const auto n = static_cast<float>(std::max(numProcessed, 1));
    const float inE = inEnergy / n;
    const float outE = outEnergy / n;
    inputEnvelope += (inE - inputEnvelope) * levelAveraging;
    outputEnvelope += (outE - outputEnvelope) * levelAveraging;

    float target = 1.0f;
    if (blockMatchSourceLevel || blockAutoLevel >= 1)
    {
        if (inputEnvelope > 0.00000001f && outputEnvelope > 0.0000000001f)
        {
            const float ratio = std::sqrt((inputEnvelope + 0.00000001f) / (outputEnvelope + 0.00000001f));
            const float limited = juce::jlimit(1.0f / blockLevelLimit, blockLevelLimit, ratio);
            target = blockMatchSourceLevel ? limited : std::pow(limited, blockAutoLevel >= 2 ? 0.65f : 0.35f);
        }
        else
        {
            target = blockMatchSourceLevel ? levelGain : 1.0f;
        }
    }

    levelGain += (target - levelGain) * (target < levelGain ? levelFall : levelRise);
    levelGain = juce::jlimit(minLevelGain, maxLevelGain, levelGain);

    const float gain = levelGain * f.resultGain;
    for (int c = 0; c < numProcessed; ++c)
    {
        float& sample = channelData[c][sampleIndex];
        sample *= gain;
        maxima.outputPeak = std::max(maxima.outputPeak, std::abs(sample));
    }
}

void SorvaneEngine::completeFrame() noexcept
{
    // 13. Fracture advance
    if (eventSamplesRemaining > 0)
    {
        ++eventPosition;
        --eventSamplesRemaining;
    }

    // 14. Crossfade completion; the finished path B continues seamlessly as A
    if (decimationFadeCountdown >= 1 && --decimationFadeCountdown == 0)
    {
        decimationCurrent = decimationNext;
        for (auto& ch : channels)
        {
            std::swap(ch.holdA, ch.holdB);
            std::swap(ch.heldA, ch.heldB);
        }
    }
    if (delayFadeCountdown >= 1 && --delayFadeCountdown == 0)
        delayTimeCurrent = delayTimeNext;

    // 15. Control-rate ramp
    control.driveNormaliser += controlIncrement.driveNormaliser;
    control.levels += controlIncrement.levels;
    control.toneCoefficient += controlIncrement.toneCoefficient;
    control.a1 += controlIncrement.a1;
    control.a2 += controlIncrement.a2;
    control.a3 += controlIncrement.a3;
    control.k += controlIncrement.k;
    control.morph += controlIncrement.morph;
    control.ringRatio += controlIncrement.ringRatio;
    control.resonatorRatio += controlIncrement.resonatorRatio;
    --controlCountdown;
}
} // namespace sorvane
