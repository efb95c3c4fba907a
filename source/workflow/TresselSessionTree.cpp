#include "workflow/TresselSessionTree.h"

#include <cmath>
#include <map>

namespace sorvane
{
namespace
{
namespace ids = tresselTreeIds;

const juce::String baselineRole{"baseline"};
const juce::String variantRole{"variant"};
const juce::String historyRole{"history"};

constexpr int maxPersonality = 12;

void appendState(juce::ValueTree& parent, const juce::String& role, int index, const juce::ValueTree& state)
{
    // An empty slot is simply absent; the reader then refuses an incomplete session.
    if (!state.isValid())
        return;

    juce::ValueTree child{ids::stateType};
    child.setProperty(ids::role, role, nullptr);
    child.setProperty(ids::index, index, nullptr);
    child.appendChild(state.createCopy(), nullptr);
    parent.appendChild(child, nullptr);
}

float readChaosPercent(const juce::ValueTree& tree, float fallback)
{
    if (!tree.hasProperty(ids::chaosPercent))
        return fallback;
    const auto value = static_cast<double>(tree[ids::chaosPercent]);
    // A NaN would survive clamping and poison every later generation.
    if (std::isnan(value))
        return fallback;
    return static_cast<float>(juce::jlimit(0.0, 100.0, value));
}
} // namespace

juce::ValueTree tresselSessionToTree(const TresselSessionSnapshot& session)
{
    juce::ValueTree tree{ids::sessionType};
    tree.setProperty(ids::schemaVersion, TresselSessionSnapshot::currentSchemaVersion, nullptr);
    tree.setProperty(ids::personality, session.personality, nullptr);
    const auto chaos = std::isnan(session.chaosPercent) ? 35.0 : (double)session.chaosPercent;
    tree.setProperty(ids::chaosPercent, juce::jlimit(0.0, 100.0, chaos), nullptr);
    tree.setProperty(ids::seed, static_cast<juce::int64>(session.seed), nullptr);
    tree.setProperty(ids::selectedVariant, juce::jlimit(-1, 3, session.selectedVariant), nullptr);
    tree.setProperty(ids::keptVariant, juce::jlimit(-1, 3, session.keptVariant), nullptr);
    tree.setProperty(ids::reducedMotion, session.reducedMotion, nullptr);
    tree.setProperty(ids::dnaId, session.dnaId, nullptr);
    tree.setProperty(ids::parentDnaId, session.parentDnaId, nullptr);

    appendState(tree, baselineRole, -1, session.baseline);
    for (int i = 0; i < (int)session.variants.size(); ++i)
        appendState(tree, variantRole, i, session.variants[(size_t)i]);

    const auto total = session.history.size();
    const auto first =
        total > TresselSessionSnapshot::maxHistory ? total - TresselSessionSnapshot::maxHistory : 0;
    for (auto i = first; i < total; ++i)
        appendState(tree, historyRole, (int)(i - first), session.history[i]);

    return tree;
}

bool tresselSessionFromTree(const juce::ValueTree& tree, TresselSessionSnapshot& session, juce::String& error)
{
    error.clear();
    if (!tree.isValid() || !tree.hasType(ids::sessionType))
    {
        error = "The TRESSEL session payload belongs to another product or is damaged.";
        return false;
    }

    const int schema = tree.getProperty(ids::schemaVersion, 0);
    if (schema != 1 && schema != 2)
    {
        error = "This TRESSEL session schema is not supported by this Sorvane version.";
        return false;
    }

    TresselSessionSnapshot result;
    result.personality = juce::jlimit(0, maxPersonality, (int)tree.getProperty(ids::personality, 0));
    result.chaosPercent = readChaosPercent(tree, result.chaosPercent);
    result.seed = static_cast<std::uint32_t>(
        static_cast<juce::uint64>(static_cast<juce::int64>(tree.getProperty(ids::seed, 0))) & 0xFFFFFFFFull);
    result.selectedVariant = juce::jlimit(-1, 3, (int)tree.getProperty(ids::selectedVariant, -1));
    result.keptVariant = juce::jlimit(-1, 3, (int)tree.getProperty(ids::keptVariant, -1));
    result.reducedMotion = (bool)tree.getProperty(ids::reducedMotion, false);
    result.dnaId = tree.getProperty(ids::dnaId, juce::String()).toString();
    result.parentDnaId = tree.getProperty(ids::parentDnaId, juce::String()).toString();

    // Where each history index landed, so a repeated index replaces its entry instead of growing
    // the list.
    std::map<int, std::size_t> historySlots;

    for (const auto& child : tree)
    {
        if (!child.hasType(ids::stateType) || child.getNumChildren() != 1)
            continue;

        const auto state = child.getChild(0).createCopy();
        const auto role = child[ids::role].toString();
        const int index = child.getProperty(ids::index, -1);

        if (role == baselineRole)
        {
            result.baseline = state;
        }
        else if (role == variantRole)
        {
            if (index >= 0 && index < (int)result.variants.size())
                result.variants[(size_t)index] = state;
        }
        else if (role == historyRole)
        {
            if (const auto slot = historySlots.find(index); slot != historySlots.end())
            {
                result.history[slot->second] = state;
            }
            else if (result.history.size() < TresselSessionSnapshot::maxHistory)
            {
                historySlots[index] = result.history.size();
                result.history.push_back(state);
            }
        }
    }

    if (!result.isValid())
    {
        error = "The TRESSEL session does not contain an exact baseline and four variants.";
        return false;
    }

    session = std::move(result);
    return true;
}
} // namespace sorvane
