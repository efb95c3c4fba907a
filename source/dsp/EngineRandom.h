#pragma once

#include <cstdint>
#include <random>

namespace sorvane
{
// The engine's fixed-seed random source. The draw is defined exactly (not left to a standard
// library's distribution) so renders are identical on every platform.
class EngineRandom
{
public:
    static constexpr std::uint32_t seed = 0x534F5256u; // "SORV"

    EngineRandom() noexcept { reset(); }

    void reset() noexcept { generator.seed(seed); }

    // The next 32-bit output divided by 2^32, rounded to single precision.
    float nextFloat() noexcept { return toUnitFloat(static_cast<std::uint32_t>(generator())); }

    static float toUnitFloat(std::uint32_t x) noexcept
    {
        return 0.0f + (1.0f - 0.0f) * static_cast<float>(static_cast<double>(x) / 4294967296.0);
    }

private:
    std::mt19937 generator;
};
} // namespace sorvane
