#include "social/CreatorVideoIdentity.h"

namespace sorvane
{
juce::String sanitiseVideoArtist(const juce::String& artist)
{
    // juce::String indexes code points, so an astral character is never split in half.
    return artist.replaceCharacters("\r\n\t", "   ").substring(0, maximumVideoArtistLength);
}
} // namespace sorvane
