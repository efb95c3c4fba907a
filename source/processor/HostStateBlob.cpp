#include "processor/HostStateBlob.h"

#include "processor/SafeXml.h"

#include <algorithm>

namespace sorvane
{
namespace
{
constexpr std::uint32_t magicXmlNumber = 0x21324356; // "VC2!", as the framework writes it
constexpr std::size_t headerSize = 8;

std::uint32_t readLittleEndian32(const unsigned char* p) noexcept
{
    return (std::uint32_t)p[0] | (std::uint32_t)p[1] << 8 | (std::uint32_t)p[2] << 16 |
           (std::uint32_t)p[3] << 24;
}
} // namespace

bool readHostStateBlob(const void* data, std::size_t size, std::unique_ptr<juce::XmlElement>& out,
                       juce::String& error)
{
    error.clear();
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (bytes == nullptr || size <= headerSize || readLittleEndian32(bytes) != magicXmlNumber)
    {
        error = "The host state is not a Sorvane state.";
        return false;
    }

    const auto announced = (std::size_t)readLittleEndian32(bytes + 4);
    auto length = std::min(announced, size - headerSize);
    // A length that reaches past the text takes in the terminating zero, which is not XML.
    if (length == size - headerSize && length > 0 && bytes[headerSize + length - 1] == 0)
        --length;
    if (length == 0)
    {
        error = "The host state holds no text.";
        return false;
    }

    return parseOutsideXml(reinterpret_cast<const char*>(bytes + headerSize), length, hostStateXmlLimits,
                           "The host state text is not valid XML within the limits.", out, error);
}
} // namespace sorvane
