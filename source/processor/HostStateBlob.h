#pragma once

#include <juce_core/juce_core.h>

#include <cstddef>
#include <memory>

namespace sorvane
{
// Reads the framework's host state wrapper ("VC2!", a little-endian text length, UTF-8 XML text, a
// terminating zero) and parses the text through the outside-XML guard. The text taken is the
// announced length or what the blob holds, whichever is shorter. On failure returns false, leaves
// `out` alone and explains why in `error`.
bool readHostStateBlob(const void* data, std::size_t size, std::unique_ptr<juce::XmlElement>& out,
                       juce::String& error);
} // namespace sorvane
