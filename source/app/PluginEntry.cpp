#include "processor/SorvaneAudioProcessor.h"

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new SorvaneAudioProcessor();
}
