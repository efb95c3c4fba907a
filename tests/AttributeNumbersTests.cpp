// Numbers in outside attributes: the value library's readings where those are defined, saturation
// where the library overflows or wraps.
#include "projects/AttributeNumbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using namespace sorvane;

namespace
{
TEST(AttributeNumbers, OrdinaryDoublesReadExactlyAsTheLibraryReadsThem)
{
    for (const char* text : {"0",
                             "-0",
                             "1.5",
                             "  42",
                             "+3.25",
                             "1e3",
                             "1E-3",
                             "12abc",
                             "abc",
                             "",
                             ".5",
                             "5.",
                             "-.5e2",
                             "0.1",
                             "123456789012345678901234567890",
                             "0.000000000000000000000123",
                             "1e308",
                             "1e309",
                             "1e-320",
                             "9.999e-309",
                             "1e",
                             "1e+",
                             "--1",
                             "0x10",
                             "\t7",
                             "0.30000000000000004",
                             "133.5",
                             "-9.5",
                             "3.4028234663852886e+38",
                             "00012.50",
                             "1e-307",
                             "1e-308"})
    {
        SCOPED_TRACE(text);
        const auto expected = juce::String(text).getDoubleValue();
        const auto actual = readAttributeDouble(juce::var(juce::String(text)));
        EXPECT_EQ(std::memcmp(&expected, &actual, sizeof(double)), 0) << expected << " vs " << actual;
    }
}

// Where the library's exponent overflows an int it returns whatever the wrapped exponent gives
// (1e4294967296 reads as 1); here the result is what the number means.
TEST(AttributeNumbers, DoublesPastTheRangeSaturate)
{
    const auto inf = std::numeric_limits<double>::infinity();
    struct Case
    {
        std::string text;
        double expected;
    };
    for (const auto& c : std::vector<Case>{{"inf", inf},
                                           {"-INF", -inf},
                                           {"1e99999999999", inf},
                                           {"-1e4294967296", -inf},
                                           {"1e-99999999999", 0.0},
                                           {"1" + std::string(2000, '0'), inf}})
    {
        SCOPED_TRACE(c.text.substr(0, 30));
        EXPECT_EQ(readAttributeDouble(juce::var(juce::String(c.text))), c.expected);
    }
    EXPECT_TRUE(std::isnan(readAttributeDouble(juce::var("nan"))));
    EXPECT_TRUE(std::isnan(readAttributeDouble(juce::var("-NaN"))));
    EXPECT_EQ(readAttributeDouble(juce::var(juce::MemoryBlock("12", 2))), 0.0);
}

TEST(AttributeNumbers, IntegersSaturateAndMasksKeepTheirBits)
{
    struct IntegerCase
    {
        std::string text;
        std::int64_t saturated;
        std::uint64_t bits;
        bool truth;
    };
    const auto min64 = std::numeric_limits<std::int64_t>::min();
    const auto max64 = std::numeric_limits<std::int64_t>::max();
    const auto all = std::numeric_limits<std::uint64_t>::max();
    for (const auto& c : std::vector<IntegerCase>{
             {"0", 0, 0, false},
             {"42", 42, 42, true},
             {"-42", -42, (std::uint64_t)-42, true},
             {"  7", 7, 7, true},
             {"+5", 5, 5, true},
             {" +3", 3, 3, true},
             {"+-3", 0, 0, false},
             {"-+3", 0, 0, false},
             {"++3", 0, 0, false},
             {"+", 0, 0, false},
             {"+0", 0, 0, false},
             {"+99999999999999999999", max64, all, true},
             {"+18446744073709551615", max64, all, true},
             {"12abc", 12, 12, true},
             {"abc", 0, 0, false},
             {"-0", 0, 0, false},
             {"9223372036854775807", max64, (std::uint64_t)max64, true},
             {"9223372036854775808", max64, 1ull << 63, true},
             {"-9223372036854775808", min64, 1ull << 63, true},
             {"-9223372036854775809", min64, 1ull << 63, true},
             {"18446744073709551615", max64, all, true},
             {"18446744073709551616", max64, all, true},
             {"4294967296", 4294967296, 4294967296, true},
             {"true", 0, 0, true},
             {" Yes ", 0, 0, true},
             {"false", 0, 0, false},
             {"0x1", 0, 0, false},
         })
    {
        SCOPED_TRACE(c.text);
        const juce::var value(juce::String(c.text));
        EXPECT_EQ(readAttributeInteger(value).saturated(), c.saturated);
        EXPECT_EQ(readAttributeInteger(value).bits(), c.bits);
        EXPECT_EQ(readAttributeBool(value), c.truth);
    }
}

// Within the 64-bit range the reading is the library's own, signs included: juce::var converts text
// with getLargeIntValue(), which takes one leading plus or minus.
TEST(AttributeNumbers, IntegersInRangeReadAsTheLibraryReadsThem)
{
    for (const char* text : {"0",
                             "3",
                             "-3",
                             "+3",
                             " +3",
                             "\t+3",
                             "+-3",
                             "-+3",
                             "++3",
                             "--3",
                             "+",
                             "-",
                             "",
                             "  -12x",
                             "+0",
                             "-0",
                             "9223372036854775807",
                             "-9223372036854775807",
                             "3+",
                             "0+3"})
    {
        SCOPED_TRACE(text);
        const juce::String string(text);
        EXPECT_EQ(readAttributeInteger(juce::var(string)).saturated(), string.getLargeIntValue());
        EXPECT_EQ(readAttributeInteger(juce::var(string)).saturated(), (juce::int64)juce::var(string));
    }
}
} // namespace
