#include "workflow/TresselWorkflowController.h"
#include "workflow/StableHash.h"
#include "workflow/TresselPersonality.h"

#include <cmath>

namespace sorvane
{
float tresselIntensity(int resolvedPersonality, float chaosPercent) noexcept
{
    const auto& profile = getTresselPersonalityProfiles()[(size_t)juce::jlimit(0, 12, resolvedPersonality)];
    const float t = juce::jlimit(0.0f, 1.0f, chaosPercent * 0.01f);
    return profile.amountLow + t * (profile.amountHigh - profile.amountLow);
}

std::uint32_t tresselVariantSeed(std::uint32_t seed, int variant, std::uint32_t salt) noexcept
{
    return seed + 7919u * (std::uint32_t)variant + salt;
}

TresselSessionSnapshot TresselWorkflowController::generate(const juce::ValueTree& base, std::uint32_t seed,
                                                           int personality, float amount, bool reducedMotion,
                                                           const TresselVariantFunction& variantFunction)
{
    TresselSessionSnapshot next;
    next.baseline = base.createCopy();
    next.seed = seed;
    next.personality = personality;
    next.chaosPercent = std::isnan(amount) ? 0.0f : juce::jlimit(0.0f, 100.0f, amount);
    next.reducedMotion = reducedMotion;

    const int resolved = juce::jlimit(0, 12, resolvePersonality(personality, seed));
    const auto salt = getTresselPersonalityProfiles()[(size_t)resolved].seedSalt;
    const float intensity = tresselIntensity(resolved, next.chaosPercent);

    for (int k = 0; k < 4; ++k)
    {
        auto variant = variantFunction
                           ? variantFunction(next.baseline, tresselVariantSeed(seed, k, salt), intensity)
                           : juce::ValueTree();
        // The baseline must never share data with a variant that is later applied and edited.
        next.variants[(size_t)k] = variant.createCopy();
    }

    next.history.push_back(next.baseline.createCopy());

    const std::lock_guard<std::mutex> lock(mutex);
    session = next;
    return session;
}

bool TresselWorkflowController::select(int index, juce::ValueTree& out)
{
    const std::lock_guard<std::mutex> lock(mutex);
    if (!session.isValid() || index < 0 || index > 3)
        return false;

    session.selectedVariant = index;
    const auto& variant = session.variants[(size_t)index];
    out = variant.createCopy();
    session.history.push_back(variant.createCopy());
    while (session.history.size() > TresselSessionSnapshot::maxHistory)
        session.history.erase(session.history.begin());
    return true;
}

bool TresselWorkflowController::keep(juce::ValueTree& out)
{
    const std::lock_guard<std::mutex> lock(mutex);
    if (!session.isValid() || session.selectedVariant < 0 || session.selectedVariant > 3)
        return false;

    session.keptVariant = session.selectedVariant;
    const auto& variant = session.variants[(size_t)session.selectedVariant];
    session.dnaId = treeDigest(variant);
    out = variant.createCopy();
    return true;
}

bool TresselWorkflowController::replaceSelectedVariant(const juce::ValueTree& tree, juce::int64 restoreSeed,
                                                       int restoreVariant)
{
    const std::lock_guard<std::mutex> lock(mutex);
    if (!tree.isValid() || !session.isValid() || session.selectedVariant < 0 || session.selectedVariant > 3)
        return false;
    if (restoreSeed != (juce::int64)session.seed || restoreVariant != session.selectedVariant)
        return false;

    session.variants[(size_t)session.selectedVariant] = tree.createCopy();
    return true;
}

TresselSessionSnapshot TresselWorkflowController::getSnapshot() const
{
    const std::lock_guard<std::mutex> lock(mutex);
    return session;
}

void TresselWorkflowController::restore(const TresselSessionSnapshot& snapshot)
{
    auto copy = snapshot;
    copy.baseline = snapshot.baseline.createCopy();
    for (size_t k = 0; k < copy.variants.size(); ++k)
        copy.variants[k] = snapshot.variants[k].createCopy();
    for (auto& entry : copy.history)
        entry = entry.createCopy();

    const std::lock_guard<std::mutex> lock(mutex);
    session = std::move(copy);
}

void TresselWorkflowController::clear()
{
    const std::lock_guard<std::mutex> lock(mutex);
    session = {};
}
} // namespace sorvane
