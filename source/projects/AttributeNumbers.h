#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

namespace sorvane
{
// Numbers in attributes of outside XML, read the way juce::var reads text: leading white space,
// one optional sign ("+3" is 3), then the longest numeric prefix, 0 when there is none. The library's own
// conversions overflow signed integers on long digit strings, on the most negative value and on long
// exponents, and wrap a huge integer into an ordinary one; these saturate instead. Anything but text (binary
// data from a "base64:" attribute) reads as 0, as in the library.

struct AttributeInteger
{
    bool negative = false;
    std::uint64_t magnitude = 0; // saturated at the largest 64-bit value

    // The value limited to the signed 64-bit range.
    std::int64_t saturated() const noexcept;
    // Two's-complement bits of a value in [-2^63, 2^64 - 1], saturated beyond; how a 64-bit mask
    // stored as a signed number comes back.
    std::uint64_t bits() const noexcept;
};

AttributeInteger readAttributeInteger(const juce::var& value);

// "nan" and "inf" (any case, with a sign) give NaN and infinities; an exponent past the double
// range gives an infinity or zero. Otherwise exactly juce::String::getDoubleValue().
double readAttributeDouble(const juce::var& value);

// A non-zero integer, "true" or "yes" (any case, trimmed).
bool readAttributeBool(const juce::var& value);
} // namespace sorvane
