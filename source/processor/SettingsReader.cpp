#include "processor/SettingsReader.h"
#include "processor/LockWord.h"

#include <juce_core/juce_core.h>

#include <cmath>

namespace sorvane
{
namespace
{
constexpr float percent = 0.01f;

float read(const RawParameterValues& values, ParameterIndex index) noexcept
{
    auto* value = values[static_cast<size_t>(index)];
    return value != nullptr ? value->load(std::memory_order_relaxed) : 0.0f;
}

// Applies one macro contribution unless the target is locked; the clamp belongs to the contribution.
class MacroApplier
{
public:
    explicit MacroApplier(std::uint32_t lockMask) noexcept : mask(lockMask) {}

    void add(float& field, ParameterIndex target, float amount, float low = 0.0f,
             float high = 1.0f) const noexcept
    {
        if (isFree(target))
            field = juce::jlimit(low, high, field + amount);
    }

    void addSteps(std::int32_t& field, ParameterIndex target, float amount, int low, int high) const noexcept
    {
        if (isFree(target))
            field = juce::jlimit(low, high, field + juce::roundToInt(amount));
    }

    void scale(float& field, ParameterIndex target, float factor, float low, float high) const noexcept
    {
        if (isFree(target))
            field = juce::jlimit(low, high, field * factor);
    }

private:
    bool isFree(ParameterIndex target) const noexcept
    {
        return ((mask >> static_cast<int>(target)) & 1u) == 0;
    }

    std::uint32_t mask;
};
} // namespace

DspSettings readDspSettings(const RawParameterValues& values, std::uint64_t lockWord,
                            bool tempoValid) noexcept
{
    DspSettings s;
    s.inputDb = read(values, pInput);
    s.drive = read(values, pDrive) * percent;
    s.crush = read(values, pCrush) * percent;
    s.reduce = juce::roundToInt(read(values, pReduce));
    s.ring = read(values, pRing) * percent;
    s.ringFreq = read(values, pRingFreq);
    s.resonance = read(values, pResonance) * percent;
    s.resFreq = read(values, pResFreq);
    s.resDecay = read(values, pResDecay) * percent;
    s.glitch = read(values, pGlitch) * percent;
    s.division = juce::roundToInt(read(values, pDivision));
    s.reverse = read(values, pReverse) * percent;
    s.delay = read(values, pDelay) * percent;
    s.delayTimeMs = read(values, pDelayTime);
    s.delaySync = juce::roundToInt(read(values, pDelaySync));
    s.feedback = read(values, pFeedback) * percent;
    s.tone = read(values, pTone);
    s.spectralWave = read(values, pSpectralWave) * percent;
    s.spectralRate = read(values, pSpectralRate);
    s.dimension = read(values, pDimension) * percent;
    s.fold = read(values, pFold) * percent;
    s.spark = read(values, pSpark) * percent;
    s.chaos = read(values, pChaos) * percent;
    s.mix = read(values, pMix) * percent;
    s.outputDb = read(values, pOutput);
    s.matchSourceLevel = read(values, pMatchSourceLevel) >= 0.5f;
    s.resultLevelDb = read(values, pResultLevel);
    s.autoLevel = juce::roundToInt(read(values, pAutoLevel));
    s.audioQuality = juce::roundToInt(read(values, pAudioQuality));

    const MacroApplier macro(effectiveLockMask(lockWord));
    const float d = read(values, pMacroDamage) * percent;
    const float r = read(values, pMacroFracture) * percent;
    const float sp = read(values, pMacroSpace) * percent;
    const float m = read(values, pMacroMotion) * percent;

    // Damage
    macro.add(s.drive, pDrive, 0.48f * d);
    macro.add(s.crush, pCrush, 0.55f * d);
    macro.add(s.fold, pFold, 0.62f * d);
    macro.add(s.spark, pSpark, 0.26f * d);
    macro.addSteps(s.reduce, pReduce, 12.0f * d, 1, 32);

    // Fracture
    macro.add(s.glitch, pGlitch, 0.72f * r);
    macro.add(s.reverse, pReverse, 0.52f * r);
    macro.add(s.chaos, pChaos, 0.24f * r);
    macro.addSteps(s.division, pDivision, 2.0f * r, 0, 5);

    // Space
    macro.add(s.resonance, pResonance, 0.38f * sp);
    macro.add(s.resDecay, pResDecay, 0.34f * sp);
    macro.add(s.delay, pDelay, 0.58f * sp);
    macro.add(s.feedback, pFeedback, 0.34f * sp, 0.0f, 0.92f);
    macro.add(s.dimension, pDimension, 0.48f * sp);

    // Motion
    macro.add(s.ring, pRing, 0.32f * m);
    macro.add(s.spectralWave, pSpectralWave, 0.54f * m);
    macro.add(s.chaos, pChaos, 0.30f * m);
    macro.add(s.dimension, pDimension, 0.24f * m);
    macro.scale(s.spectralRate, pSpectralRate, std::pow(2.0f, 3.2f * m), 0.03f, 12.0f);

    // A synced delay is silenced while the tempo source is unusable, locked or not.
    if (s.delaySync != 0 && !tempoValid)
        s.delay = 0.0f;

    return s;
}
} // namespace sorvane
