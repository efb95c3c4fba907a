#include "projects/AttributeNumbers.h"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <string>

namespace sorvane
{
namespace
{
constexpr std::uint64_t maxMagnitude = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t signedLimit = (std::uint64_t)std::numeric_limits<std::int64_t>::max();

bool isDigit(juce::juce_wchar c) noexcept
{
    return c >= '0' && c <= '9';
}

bool startsWithWord(juce::String::CharPointerType p, const char* word) noexcept
{
    for (; *word != 0; ++word, ++p)
        if (juce::CharacterFunctions::toLowerCase(*p) != (juce::juce_wchar)*word)
            return false;
    return true;
}

// The 18 significant digits JUCE keeps: later integer digits only raise the exponent, later
// fraction digits are dropped, so the result is the library's to the last bit.
constexpr int maxSignificantDigits = 18;
// Beyond these the result is 0 or infinite whatever the digits; JUCE's own bounds.
constexpr std::int64_t lowestExponent = std::numeric_limits<double>::min_exponent10 - 1;
constexpr std::int64_t highestExponent = std::numeric_limits<double>::max_exponent10 + 1;
// Far past both bounds, and small enough that adding a shift from 2 MB of digits cannot overflow.
constexpr std::int64_t exponentCeiling = 1000000000;
} // namespace

std::int64_t AttributeInteger::saturated() const noexcept
{
    if (!negative)
        return magnitude > signedLimit ? std::numeric_limits<std::int64_t>::max() : (std::int64_t)magnitude;
    if (magnitude > signedLimit)
        return std::numeric_limits<std::int64_t>::min();
    return -(std::int64_t)magnitude;
}

std::uint64_t AttributeInteger::bits() const noexcept
{
    if (!negative)
        return magnitude;
    return magnitude > signedLimit ? (std::uint64_t)1 << 63 : (std::uint64_t)(-(std::int64_t)magnitude);
}

AttributeInteger readAttributeInteger(const juce::var& value)
{
    AttributeInteger result;
    if (!value.isString())
        return result;

    const auto text = value.toString();
    auto p = text.getCharPointer().findEndOfWhitespace();
    // Like the library (the C library's atoll beneath it): one sign, plus or minus; "+-3", "++3"
    // and a lone sign read as 0.
    if (*p == '-' || *p == '+')
    {
        result.negative = *p == '-';
        ++p;
    }
    for (; isDigit(*p); ++p)
    {
        const auto digit = (std::uint64_t)(*p - '0');
        result.magnitude =
            result.magnitude > (maxMagnitude - digit) / 10 ? maxMagnitude : result.magnitude * 10 + digit;
    }
    if (result.magnitude == 0)
        result.negative = false;
    return result;
}

double readAttributeDouble(const juce::var& value)
{
    if (!value.isString())
        return 0.0;

    const auto text = value.toString();
    auto p = text.getCharPointer().findEndOfWhitespace();

    bool negative = false;
    std::string buffer;
    if (*p == '-' || *p == '+')
    {
        negative = *p == '-';
        if (negative)
            buffer += '-';
        ++p;
    }

    const auto infinity = std::numeric_limits<double>::infinity();
    if (startsWithWord(p, "nan"))
        return std::numeric_limits<double>::quiet_NaN();
    if (startsWithWord(p, "inf"))
        return negative ? -infinity : infinity;

    int significantDigits = 0;
    std::int64_t extraExponent = 0;
    bool pointFound = false, leadingZeros = false;
    for (;; ++p)
    {
        const auto c = *p;
        if (isDigit(c))
        {
            if (significantDigits >= maxSignificantDigits)
            {
                if (!pointFound)
                    ++extraExponent;
                continue;
            }
            if (!pointFound && significantDigits == 0 && c == '0')
            {
                leadingZeros = true;
                continue;
            }
            buffer += (char)c;
            ++significantDigits;
        }
        else if (!pointFound && c == '.')
        {
            buffer += '.';
            pointFound = true;
        }
        else
        {
            break;
        }
    }
    if (!leadingZeros && significantDigits == 0)
        return 0.0;

    std::int64_t exponent = extraExponent;
    if (*p == 'e' || *p == 'E')
    {
        ++p;
        bool exponentNegative = false;
        if (*p == '-' || *p == '+')
        {
            exponentNegative = *p == '-';
            ++p;
        }
        std::int64_t written = 0;
        for (; isDigit(*p); ++p)
            written = std::min(exponentCeiling, written * 10 + (std::int64_t)(*p - '0'));
        exponent += exponentNegative ? -written : written;
    }

    if (exponent < lowestExponent)
        return negative ? -0.0 : 0.0;
    if (exponent > highestExponent)
        return negative ? -infinity : infinity;
    buffer += 'e';
    buffer += std::to_string(exponent);

    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", nullptr);
    return ::strtod_l(buffer.c_str(), nullptr, cLocale);
}

bool readAttributeBool(const juce::var& value)
{
    if (!value.isString())
        return false;
    const auto text = value.toString().trim();
    return readAttributeInteger(value).magnitude != 0 || text.equalsIgnoreCase("true") ||
           text.equalsIgnoreCase("yes");
}
} // namespace sorvane
