#include "transport/SourceFingerprint.h"
#include "transport/RegularFile.h"

#include <cstdint>

namespace sorvane
{
namespace
{
constexpr std::uint64_t fnvStart = 0x14650fb0739d0383ULL;
constexpr std::uint64_t fnvPrime = 0x100000001b3ULL;
constexpr juce::int64 edgeBytes = 65536;

void absorb(std::uint64_t& hash, const std::uint8_t* bytes, size_t count) noexcept
{
    for (size_t i = 0; i < count; ++i)
        hash = (hash ^ bytes[i]) * fnvPrime;
}

// Hashes count bytes from the stream's current position in 4 KiB pieces; stops at a read error.
bool absorbStream(std::uint64_t& hash, juce::InputStream& in, juce::int64 count)
{
    std::uint8_t piece[4096];
    while (count > 0)
    {
        const int wanted = (int)std::min<juce::int64>(count, (juce::int64)sizeof(piece));
        const int got = in.read(piece, wanted);
        if (got <= 0)
            return false;
        absorb(hash, piece, (size_t)got);
        if (got < wanted)
            return false;
        count -= got;
    }
    return true;
}
} // namespace

juce::String createSourceFingerprint(const juce::File& file)
{
    juce::String notOpenable;
    auto stream = openRegularFile(file, notOpenable);
    if (stream == nullptr)
        return {};
    auto& in = *stream;

    const auto size = in.getTotalLength();
    std::uint64_t hash = fnvStart;
    for (int i = 0; i < 8; ++i)
    {
        const auto byte = (std::uint8_t)(((std::uint64_t)size >> (8 * i)) & 0xFF);
        absorb(hash, &byte, 1);
    }

    if (absorbStream(hash, in, std::min(size, edgeBytes)) && size >= edgeBytes + 1 &&
        in.setPosition(size - edgeBytes))
        absorbStream(hash, in, edgeBytes);

    return juce::String::toHexString((juce::int64)hash).paddedLeft('0', 16) + ":" + juce::String(size);
}
} // namespace sorvane
