#include "editor/KnobLocks.h"

#include "editor/ParameterKnob.h"
#include "processor/SorvaneAudioProcessor.h"

namespace sorvane
{
juce::StringArray lockedParameterIds(const KnobList& knobs)
{
    juce::StringArray ids;
    for (const auto& knob : knobs)
        if (knob != nullptr && knob->isLocked())
            ids.add(knob->getParameterId());
    return ids;
}

void storeKnobLocks(SorvaneAudioProcessor& processor, const KnobList& knobs)
{
    processor.setMacroLockedParameterIds(lockedParameterIds(knobs));
}

void loadKnobLocks(const SorvaneAudioProcessor& processor, const KnobList& knobs)
{
    const auto word = processor.lockWord.load(std::memory_order_acquire);
    for (const auto& knob : knobs)
        if (knob != nullptr)
            knob->setLocked((word & knob->getLockBit()) != 0);
}
} // namespace sorvane
