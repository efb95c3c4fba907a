#include "editor/TransportStatusLine.h"
#include "editor/Palette.h"

namespace sorvane
{
TransportStatusLine composeTransportStatus(const TransportStatusInput& in)
{
    namespace pal = sorvane::palette;
    if (!in.audioRunning)
        return {noAudioDeviceStatus, pal::red};
    if (!in.sourceLoaded)
        return {"NO SAMPLE LOADED / DROP OR LOAD AUDIO", pal::cyan};

    const juce::String prefix = in.playing               ? "PLAYING  /  "
                                : in.pausedAwayFromStart ? "PAUSED  /  "
                                                         : "READY  /  ";
    juce::String text;
    text.preallocateBytes(128);
    text << prefix << in.sourceName.toUpperCase() << "  /  RANGE " << juce::String(in.rangeStart * 100.0, 1)
         << "-" << juce::String(in.rangeEnd * 100.0, 1) << "%  /  " << (in.looping ? "LOOP" : "ONE-SHOT");
    const auto colour = in.playing ? pal::amber : in.pausedAwayFromStart ? pal::violet : pal::cyan;
    return {text, colour};
}

juce::String withTransientMessage(const juce::String& text, const juce::String& message, bool showing)
{
    return showing ? text + "  /  " + message : text;
}
} // namespace sorvane
