#pragma once

#include "workflow/TresselSession.h"

#include <juce_data_structures/juce_data_structures.h>

#include <cstdint>

namespace sorvane
{
// Everything a creator project restores. A plain value like TresselSessionSnapshot: copies share
// their value trees, which nobody edits in place.
struct CreatorProjectData
{
    juce::File sourceFile;
    juce::String sourceFingerprint; // empty: the project has no source
    juce::ValueTree parameterState;
    std::uint32_t mutationSeed = 0;
    std::uint64_t macroLockMask = 0;
    double loopStart = 0.0;
    double loopEnd = 1.0;
    bool loopEnabled = true;
    bool snapRangeToZero = false;
    double tempo = 120.0;
    double playbackPosition = 0.0;
    int captureBars = 4;
    bool captureTail = true;
    float crossfadeMilliseconds = 12.0f;
    juce::String exportFormat{"WAV24"};
    double exportTargetLufs = -14.0;
    int socialAspect = 0;
    int socialDuration = 0;
    int socialBackground = 0;
    juce::String videoArtist;
    bool videoEffectedOnly = false;
    bool autosave = false;
    std::int64_t autosaveTimestampMilliseconds = 0;
    juce::File originProjectPath;
    juce::String contentHash; // as read from the file
    TresselSessionSnapshot tresselSession;
};
} // namespace sorvane
