#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <cstdint>
#include <memory>

namespace sorvane
{
constexpr int numParameters = 34;
constexpr int numDetailedParameters = 24;

// Storage order: the order of the cached value pointers. Entries 25 to 31 differ from the layout
// order a host sees.
inline constexpr const char* parameterIds[numParameters] = {
    "input",       "drive",        "crush",        "reduce",         "ring",
    "ringFreq",    "resonance",    "resFreq",      "resDecay",       "glitch",
    "division",    "reverse",      "delay",        "delayTime",      "feedback",
    "tone",        "spectralWave", "spectralRate", "dimension",      "fold",
    "spark",       "chaos",        "mix",          "output",         "matchSourceLevel",
    "resultLevel", "autoLevel",    "audioQuality", "macroDamage",    "macroFracture",
    "macroSpace",  "macroMotion",  "delaySync",    "standaloneTempo"};

// The lockable sound parameters, in lock-bit order.
inline constexpr const char* detailedIds[numDetailedParameters] = {
    "input",        "drive",        "crush",     "reduce",  "ring",  "ringFreq",  "resonance", "resFreq",
    "resDecay",     "glitch",       "division",  "reverse", "delay", "delayTime", "feedback",  "tone",
    "spectralWave", "spectralRate", "dimension", "fold",    "spark", "chaos",     "mix",       "output"};

// Positions in parameterIds, so hot code indexes the cached pointers without string lookups.
enum ParameterIndex : int
{
    pInput,
    pDrive,
    pCrush,
    pReduce,
    pRing,
    pRingFreq,
    pResonance,
    pResFreq,
    pResDecay,
    pGlitch,
    pDivision,
    pReverse,
    pDelay,
    pDelayTime,
    pFeedback,
    pTone,
    pSpectralWave,
    pSpectralRate,
    pDimension,
    pFold,
    pSpark,
    pChaos,
    pMix,
    pOutput,
    pMatchSourceLevel,
    pResultLevel,
    pAutoLevel,
    pAudioQuality,
    pMacroDamage,
    pMacroFracture,
    pMacroSpace,
    pMacroMotion,
    pDelaySync,
    pStandaloneTempo
};

inline constexpr const char* fractureDivisionNames[] = {"1/4", "1/8", "1/16", "1/32", "1/64", "1/128"};

inline constexpr const char* delaySyncNames[] = {
    "Milliseconds", "1/64",         "1/32",        "1/16",        "1/8",        "1/4",        "1/2",
    "1/64 dotted",  "1/32 dotted",  "1/16 dotted", "1/8 dotted",  "1/4 dotted", "1/2 dotted", "1/64 triplet",
    "1/32 triplet", "1/16 triplet", "1/8 triplet", "1/4 triplet", "1/2 triplet"};

std::unique_ptr<juce::AudioParameterFloat> percentParameter(const juce::String& id, const juce::String& name,
                                                            float defaultPercent);

juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout();

// Index of an identifier in parameterIds, or -1.
int parameterIndexForId(const juce::String& id) noexcept;
} // namespace sorvane
