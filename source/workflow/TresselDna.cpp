#include "workflow/TresselDna.h"

#include "processor/ParameterState.h"
#include "processor/SafeXml.h"
#include "workflow/StableHash.h"
#include "workflow/TresselSessionTree.h"

#include <optional>
#include <vector>

namespace sorvane
{
namespace
{
const juce::Identifier product{"product"};
const juce::Identifier dnaSchemaVersion{"dnaSchemaVersion"};
const juce::Identifier exactStateType{"EXACT_PARAMETER_STATE"};

const juce::String productName{"Sorvane"};
constexpr int currentDnaSchema = 1;

constexpr const char* base64Digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

juce::String toBase64(const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string text;
    text.reserve((size + 2) / 3 * 4);

    for (std::size_t i = 0; i < size; i += 3)
    {
        const auto remaining = size - i;
        const std::uint32_t group = (std::uint32_t)bytes[i] << 16 |
                                    (remaining > 1 ? (std::uint32_t)bytes[i + 1] << 8 : 0u) |
                                    (remaining > 2 ? (std::uint32_t)bytes[i + 2] : 0u);
        text += base64Digits[(group >> 18) & 63];
        text += base64Digits[(group >> 12) & 63];
        text += remaining > 1 ? base64Digits[(group >> 6) & 63] : '=';
        text += remaining > 2 ? base64Digits[group & 63] : '=';
    }
    return juce::String(text);
}

int base64Value(juce::juce_wchar c) noexcept
{
    if (c >= 'A' && c <= 'Z')
        return (int)(c - 'A');
    if (c >= 'a' && c <= 'z')
        return (int)(c - 'a') + 26;
    if (c >= '0' && c <= '9')
        return (int)(c - '0') + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// Strict on purpose: a pasted payload that is not exactly what we wrote is corrupt, not something to
// repair. Each group of four stands alone, so a padded group ends only its own output.
std::optional<std::vector<char>> fromBase64(juce::String::CharPointerType text)
{
    std::vector<char> bytes;
    while (!text.isEmpty())
    {
        int values[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k)
        {
            if (text.isEmpty())
                return std::nullopt; // ends inside a group

            const auto c = text.getAndAdvance();
            if (c == '=')
            {
                if (k < 2)
                    return std::nullopt;
                ++padding;
                values[k] = 0;
                continue;
            }
            if (padding > 0) // "=" in third place must be followed by "=" in fourth
                return std::nullopt;
            values[k] = base64Value(c);
            if (values[k] < 0)
                return std::nullopt;
        }

        const std::uint32_t group = (std::uint32_t)values[0] << 18 | (std::uint32_t)values[1] << 12 |
                                    (std::uint32_t)values[2] << 6 | (std::uint32_t)values[3];
        bytes.push_back((char)((group >> 16) & 0xFF));
        if (padding < 2)
            bytes.push_back((char)((group >> 8) & 0xFF));
        if (padding < 1)
            bytes.push_back((char)(group & 0xFF));
    }
    return bytes;
}
} // namespace

juce::ValueTree makeTresselDnaTree(const TresselSessionSnapshot& session, const juce::ValueTree& sharedState)
{
    // DNA is pasted in public: the sound travels, the user's recent files and source path do not.
    auto tree = withoutLocalProperties(tresselSessionToTree(session));
    const auto exactState = withoutLocalProperties(sharedState);
    tree.setProperty(tresselTreeIds::dnaId, treeDigest(exactState), nullptr);
    tree.setProperty(product, productName, nullptr);
    tree.setProperty(dnaSchemaVersion, currentDnaSchema, nullptr);

    juce::ValueTree exact{exactStateType};
    exact.appendChild(exactState.createCopy(), nullptr);
    tree.appendChild(exact, nullptr);
    return tree;
}

juce::String encodeTresselDna(const TresselSessionSnapshot& session, const juce::ValueTree& exactState,
                              juce::String& error)
{
    error.clear();
    if (!session.isValid() || !exactState.isValid())
    {
        error = "Create and select a complete TRESSEL before copying DNA.";
        return {};
    }

    const auto xml = makeTresselDnaTree(session, exactState).createXml();
    if (xml == nullptr)
    {
        error = "Could not serialize Sorvane DNA.";
        return {};
    }

    const auto xmlText = xml->toString();
    const auto text = tresselDnaPrefix + toBase64(xmlText.toRawUTF8(), xmlText.getNumBytesAsUTF8());
    if (text.length() > maxTresselDnaLength)
    {
        error = "The exact Sorvane DNA exceeds the 256 KB offline safety limit.";
        return {};
    }
    return text;
}

bool decodeTresselDna(const juce::String& text, TresselDnaPayload& out, juce::String& error)
{
    error.clear();
    const auto trimmed = text.trim();
    if (!trimmed.startsWith(tresselDnaPrefix) || trimmed.length() > maxTresselDnaLength)
    {
        error = "Paste a supported Sorvane DNA payload no larger than 256 KB.";
        return false;
    }

    const auto bytes = fromBase64(trimmed.getCharPointer() + tresselDnaPrefix.length());
    if (!bytes)
    {
        error = "The Sorvane DNA encoding is corrupt.";
        return false;
    }

    const juce::String notXml{"The Sorvane DNA payload is not valid XML."};
    std::unique_ptr<juce::XmlElement> xml;
    if (!parseOutsideXml(bytes->data(), bytes->size(), dnaXmlLimits, notXml, xml, error))
        return false;

    const auto tree = juce::ValueTree::fromXml(*xml);
    // An exact sound that no parameter can take is damage, not something to repair silently.
    if (containsNonFiniteParameterValue(tree))
    {
        error = notXml;
        return false;
    }
    if (tree[product].toString() != productName || !tree.hasProperty(dnaSchemaVersion) ||
        (int)tree[dnaSchemaVersion] != currentDnaSchema)
    {
        error = "The DNA belongs to another product or unsupported schema.";
        return false;
    }

    TresselDnaPayload payload;
    if (!tresselSessionFromTree(tree, payload.session, error))
        return false;

    const auto exact = tree.getChildWithName(exactStateType);
    if (!exact.isValid() || exact.getNumChildren() != 1)
    {
        error = "The DNA does not contain an exact parameter state.";
        return false;
    }
    payload.exactState = exact.getChild(0).createCopy();

    // The pasted sound is a descendant of the copied one, not the same identity.
    payload.session.parentDnaId = tree[tresselTreeIds::dnaId].toString();
    payload.session.dnaId.clear();

    if (!payload.exactState.hasType(stateIds::stateType))
    {
        error = "The DNA parameter payload belongs to another product.";
        return false;
    }

    out = std::move(payload);
    return true;
}
} // namespace sorvane
