#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

namespace sorvane
{
enum class PresetKind : std::int32_t
{
    Factory = 0,
    User = 1
};

// One entry of the preset browser: a factory row or a user file, valid or quarantined.
struct PresetDescriptor
{
    juce::String id;
    juce::String name;
    PresetKind kind = PresetKind::User;
    juce::String category;
    juce::StringArray tags;
    juce::String bestSource;
    std::int32_t intensity = -1;
    juce::String bank;
    juce::String descriptionText;
    juce::StringArray variations;
    juce::File path;
    std::int32_t factoryIndex = -1;
    bool favourite = false;
    bool valid = false;
    juce::String contentHash;
    juce::String error;
    std::int64_t fileSize = 0;
    std::int64_t lastModifiedMilliseconds = 0;

    bool isUser() const noexcept { return kind == PresetKind::User; }
    bool isValidUser() const noexcept { return kind == PresetKind::User && valid; }

    // The one-line tooltip and status text.
    juce::String description() const;
};
} // namespace sorvane
