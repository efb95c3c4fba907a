#include "social/SocialExportOptions.h"

namespace sorvane
{
SocialAspectProfile socialAspectProfile(std::int32_t aspect) noexcept
{
    if (aspect == 0)
        return {"9:16", 1080, 1920};
    if (aspect == 1)
        return {"1:1", 1080, 1080};
    return {"16:9", 1920, 1080};
}

juce::String socialBackgroundDisplayName(SocialBackground background)
{
    switch (background)
    {
    case SocialBackground::SpectralFlux:
        return "Spectral Flux";
    case SocialBackground::VectorBloom:
        return "Vector Bloom";
    case SocialBackground::TresselRings:
        break;
    }
    return "Tressel Rings";
}

void ScopeVisualInputs::smoothTowards(const ScopeVisualInputs& current) noexcept
{
    for (size_t i = 0; i < parameters.size(); ++i)
        parameters[i] += (current.parameters[i] - parameters[i]) * 0.22f;
    for (size_t i = 0; i < meters.size(); ++i)
        meters[i] += (current.meters[i] - meters[i]) * 0.22f;
}
} // namespace sorvane
