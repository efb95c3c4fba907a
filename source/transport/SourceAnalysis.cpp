#include "transport/SourceAnalysis.h"
#include "transport/SourceMeasurement.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace sorvane
{
namespace
{
constexpr std::int64_t maximumAnalysedFrames = 1000000;

double clamp01(double x)
{
    return std::clamp(x, 0.0, 1.0);
}

// Transientness mixes the envelope excess with the crest factor.
double transientness(const SourceTraits& t)
{
    return clamp01(0.85 * t.transientStrength + 0.15 * clamp01((t.crestFactor - 1.4) * 0.25));
}

SourceTraits withSummary(const char* text)
{
    SourceTraits traits;
    traits.summary = text;
    return traits;
}
} // namespace

juce::String sourceFamilyLabel(std::int32_t family)
{
    switch (family)
    {
    case 1:
        return "DRUMS";
    case 2:
        return "BASS";
    case 3:
        return "VOCAL";
    case 4:
        return "PAD";
    case 5:
        return "GUITAR";
    case 6:
        return "FULL MIX";
    default:
        return "UNCERTAIN";
    }
}

std::int32_t personalityForFamily(std::int32_t family)
{
    if (family >= 1 && family <= 4)
        return family;
    if (family == 5)
        return 7;
    if (family == 6)
        return 9;
    return 0;
}

std::array<SourceFamilyScore, 6> scoreSourceFamilies(const SourceTraits& t)
{
    const double L = t.lowShare, M = t.midShare, H = t.highShare;
    const double Q = t.levelVariation, S = t.stereoWidth;
    const double C = t.crestFactor, Z = t.zeroCrossingRate;

    const double T = transientness(t);
    const double B = 1.0 - clamp01(7.0 * Z);
    const double A = clamp01(1.0 - std::abs(T - 0.42) / 0.42);
    const double G = clamp01(1.0 - std::abs(Q - 0.45) / 0.45);

    double drums = 0.2 * H + 0.52 * T + 0.18 * Q + 0.1 * clamp01((C - 1.5) * 0.25);
    double bass = 0.17 * (1 - H) + 0.58 * L + 0.15 * (1 - T) + 0.1 * B;
    double vocal = 0.18 * (1 - S) + 0.43 * M + 0.19 * A + 0.12 * B + 0.08 * G;
    double pad = 0.2 * (1 - Q) + 0.37 * (1 - T) + 0.18 * S + 0.16 * M + 0.09 * clamp01((2.8 - C) / 1.8);
    double guitar = 0.23 * H + 0.34 * M + 0.2 * A + 0.13 * (1 - S) + 0.1 * B;
    double fullMix = 0.22 * S + 0.38 * (1 + std::min({L, M, H}) - std::max({L, M, H})) + 0.2 * A + 0.2 * Q;

    // Thresholds compare at the traits' own float precision, so a stored 0.45 counts as 0.45.
    const float Lf = t.lowShare, Mf = t.midShare, Pf = t.transientStrength, Qf = t.levelVariation;
    const float Sf = t.stereoWidth, Cf = t.crestFactor;

    if (Cf >= 5.0f && Pf >= 0.25f)
        drums += 0.22;

    bass *= 1 - 0.35 * S;

    vocal *= 1 - 0.25 * Q;
    if (Mf >= 0.5f && Sf < 0.2f && Cf < 3.0f && Qf >= 0.25f && Qf <= 0.75f)
        vocal += 0.24;

    if (Sf >= 0.75f && Pf < 0.65f && Qf < 0.35f)
        pad += 0.24;

    guitar += 0.18 * Q;
    if (Mf >= 0.45f && Qf >= 0.75f && Sf < 0.2f)
        guitar += 0.16;

    fullMix += 0.55 * S * L * A;
    if (Sf >= 0.35f && Lf >= 0.45f && Pf >= 0.2f)
        fullMix += 0.3;

    return {{{1, drums}, {2, bass}, {3, vocal}, {4, pad}, {5, guitar}, {6, fullMix}}};
}

void classifySourceTraits(SourceTraits& traits, std::int32_t bestFamily, double bestScore, double secondScore)
{
    // Decided and rounded in double so a confidence of exactly 0.52 is not lost to float storage.
    // A non-finite score must not reach the integer conversion below.
    const double raw = 0.42 + 1.8 * (bestScore - secondScore) + 0.35 * (bestScore - 0.45);
    const double confidence = std::isfinite(raw) ? clamp01(raw) : 0.0;
    traits.confidence = (float)confidence;
    const auto percent = juce::String((int)roundHalfToEven(confidence * 100.0));

    if (confidence < 0.52)
    {
        traits.family = 0;
        traits.recommendedPersonality = 0;
        traits.summary = "Traits overlap multiple source families at " + percent +
                         "% confidence; deterministic blind AUTO remains active.";
        return;
    }

    traits.family = bestFamily;
    traits.recommendedPersonality = personalityForFamily(bestFamily);

    const double T = transientness(traits);
    juce::StringArray phrases;
    if (traits.lowShare >= 0.45f)
        phrases.add("low-frequency weight");
    if (traits.midShare >= 0.45f)
        phrases.add("midrange focus");
    if (traits.highShare >= 0.3f)
        phrases.add("high-frequency detail");
    if (T >= 0.55)
        phrases.add("strong transients");
    if (1.0 - T >= 0.65)
        phrases.add("sustained envelope");
    if (traits.stereoWidth >= 0.22f)
        phrases.add("stereo breadth");
    if (phrases.isEmpty())
        phrases.add("balanced spectral and dynamic traits");

    traits.summary = sourceFamilyLabel(bestFamily) + " / " + percent + "% confidence from " +
                     phrases.joinIntoString(", ") + ".";
}

SourceTraits analyseSource(const juce::AudioBuffer<float>& audio, double sampleRate,
                           const std::atomic<bool>* cancel)
{
    const int channels = audio.getNumChannels();
    const std::int64_t frames = audio.getNumSamples();
    if (channels <= 0 || frames <= 0 || !(sampleRate > 0))
        return withSummary("No valid source audio was available; deterministic blind AUTO remains active.");

    const std::int64_t step =
        std::max<std::int64_t>(1, (frames + maximumAnalysedFrames - 1) / maximumAnalysedFrames);
    const double rate = sampleRate / (double)step;

    SourceMeasurement measure(rate);
    double side = 0;
    std::int64_t crossings = 0;
    double previous = 0;

    const auto blockLength = std::max<std::int64_t>(64, (std::int64_t)roundHalfToEven(rate * 0.25));
    std::vector<double> blockRms;
    blockRms.reserve(128);
    double blockEnergy = 0;
    std::int64_t blockCount = 0;

    std::int64_t n = 0;
    for (std::int64_t frame = 0; frame < frames; frame += step, ++n)
    {
        if (n % cancelPollInterval == 0 && cancelRequested(cancel))
            return withSummary("Source analysis was cancelled; deterministic blind AUTO remains active.");

        const int f = (int)frame;
        const double m = monoSample(audio, f);
        measure.add(m);

        if (channels >= 2)
        {
            const double s = ((double)audio.getReadPointer(0)[f] - (double)audio.getReadPointer(1)[f]) * 0.5;
            side += s * s;
        }

        // 0 counts as positive; tiny wobbles around zero are not crossings.
        if ((m < 0) != (previous < 0) && std::abs(m - previous) > 1e-5)
            ++crossings;
        previous = m;

        blockEnergy += m * m;
        if (++blockCount == blockLength)
        {
            blockRms.push_back(std::sqrt(blockEnergy / (double)blockCount));
            blockEnergy = 0;
            blockCount = 0;
        }
    }
    if (blockCount > 0)
        blockRms.push_back(std::sqrt(blockEnergy / (double)blockCount));

    // NaN or infinity in the audio leaves nothing meaningful to measure.
    if (!std::isfinite(measure.total) || !std::isfinite(measure.peak) || !std::isfinite(measure.bandSum()) ||
        !std::isfinite(side) || !std::isfinite(measure.transientExcess))
        return withSummary("No valid source audio was available; deterministic blind AUTO remains active.");

    if (measure.total <= 1e-12)
        return withSummary("The source is effectively silent; deterministic blind AUTO remains active.");

    const double count = (double)n;
    const double rms = std::sqrt(measure.total / count);

    double mean = 0;
    for (auto v : blockRms)
        mean += v;
    mean /= (double)blockRms.size();
    double variance = 0;
    for (auto v : blockRms)
        variance += (v - mean) * (v - mean);
    variance /= (double)blockRms.size();

    SourceTraits traits;
    traits.lowShare = (float)measure.lowShare();
    traits.midShare = (float)measure.midShare();
    traits.highShare = (float)measure.highShare();
    traits.transientStrength = (float)clamp01((measure.transientExcess / count) / std::max(rms, 0.002) * 7.0);
    traits.levelVariation = (float)clamp01(std::sqrt(variance) / std::max(mean, 0.003) * 1.8);
    traits.stereoWidth = (float)std::min(1.0, std::sqrt(side / (measure.total + 1e-12)));
    traits.crestFactor = (float)(measure.peak / std::max(rms, 0.00001));
    traits.zeroCrossingRate = (float)((double)crossings / count);

    auto scores = scoreSourceFamilies(traits);
    std::stable_sort(scores.begin(), scores.end(),
                     [](const SourceFamilyScore& a, const SourceFamilyScore& b)
                     { return a.score > b.score; });
    classifySourceTraits(traits, scores[0].family, scores[0].score, scores[1].score);
    return traits;
}
} // namespace sorvane
