// The teaser's metadata: whatever texts and numbers an export carries, "sorvane-result.json" is one
// line of printable ASCII that a strict JSON reader accepts, with the members in their order and every
// text read back exactly as it went in.
#include "FuzzSupport.h"

#include "processor/SorvaneAudioProcessor.h"
#include "social/SocialExporter.h"
#include "workflow/TresselPersonality.h"

#include <cstring>
#include <vector>

namespace
{
using sorvane::fuzz::require;

// A strict reader of the one flat object the writer produces (RFC 8259, no extensions).
struct StrictReader
{
    juce::String::CharPointerType p;
    std::vector<std::pair<std::u32string, std::u32string>> members; // numbers and literals as text

    void space()
    {
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')
            ++p;
    }
    int hexDigit(juce::juce_wchar c)
    {
        if (c >= '0' && c <= '9')
            return (int)(c - '0');
        if (c >= 'a' && c <= 'f')
            return (int)(c - 'a' + 10);
        if (c >= 'A' && c <= 'F')
            return (int)(c - 'A' + 10);
        return -1;
    }
    bool unit(std::uint32_t& out)
    {
        out = 0;
        for (int i = 0; i < 4; ++i)
        {
            const int d = hexDigit(p.getAndAdvance());
            if (d < 0)
                return false;
            out = out * 16 + (std::uint32_t)d;
        }
        return true;
    }
    bool string(std::u32string& out)
    {
        if (p.getAndAdvance() != '"')
            return false;
        for (;;)
        {
            const auto c = (std::uint32_t)p.getAndAdvance();
            if (c == '"')
                return true;
            if (c < 0x20)
                return false;
            if (c != '\\')
            {
                out += (char32_t)c;
                continue;
            }
            const auto e = p.getAndAdvance();
            static const char* simple = "\"\\/bfnrt";
            static const char32_t meaning[] = {'"', '\\', '/', '\b', '\f', '\n', '\r', '\t'};
            if (const char* at = e != 0 ? std::strchr(simple, (int)e) : nullptr)
            {
                out += meaning[at - simple];
                continue;
            }
            std::uint32_t u = 0;
            if (e != 'u' || !unit(u))
                return false;
            if (u >= 0xD800 && u <= 0xDBFF)
            {
                std::uint32_t low = 0;
                if (p.getAndAdvance() != '\\' || p.getAndAdvance() != 'u' || !unit(low) || low < 0xDC00 ||
                    low > 0xDFFF)
                    return false;
                u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
            }
            else if (u >= 0xDC00 && u <= 0xDFFF)
                return false;
            out += (char32_t)u;
        }
    }
    bool scalar(std::u32string& out)
    {
        for (const char* literal : {"true", "false", "null"})
            if (juce::String(p).startsWith(literal))
            {
                p += (int)std::strlen(literal);
                out = std::u32string(literal, literal + std::strlen(literal));
                return true;
            }
        // -?(0|[1-9]\d*)(\.\d+)?([eE][+-]?\d+)?
        const auto digits = [&]
        {
            int n = 0;
            while (*p >= '0' && *p <= '9')
            {
                out += (char32_t)p.getAndAdvance();
                ++n;
            }
            return n;
        };
        if (*p == '-')
            out += (char32_t)p.getAndAdvance();
        if (*p == '0')
            out += (char32_t)p.getAndAdvance();
        else if (digits() == 0)
            return false;
        if (*p == '.')
        {
            out += (char32_t)p.getAndAdvance();
            if (digits() == 0)
                return false;
        }
        if (*p == 'e' || *p == 'E')
        {
            out += (char32_t)p.getAndAdvance();
            if (*p == '+' || *p == '-')
                out += (char32_t)p.getAndAdvance();
            if (digits() == 0)
                return false;
        }
        return true;
    }
    bool object()
    {
        space();
        if (p.getAndAdvance() != '{')
            return false;
        for (;;)
        {
            space();
            std::pair<std::u32string, std::u32string> member;
            if (!string(member.first))
                return false;
            space();
            if (p.getAndAdvance() != ':')
                return false;
            space();
            if (!(*p == '"' ? string(member.second) : scalar(member.second)))
                return false;
            members.push_back(std::move(member));
            space();
            const auto c = p.getAndAdvance();
            if (c == '}')
                break;
            if (c != ',')
                return false;
        }
        space();
        return p.isEmpty();
    }
};

std::u32string expectedText(const juce::String& text)
{
    std::u32string out;
    for (auto p = text.getCharPointer(); !p.isEmpty();)
    {
        const auto c = (std::uint32_t)p.getAndAdvance();
        out += (char32_t)(c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) ? 0xFFFD : c);
    }
    return out;
}

std::u32string ascii(const char* text)
{
    return std::u32string(text, text + std::strlen(text));
}

// Input: 45 bytes of numbers and choices, then creator, personality, dna and the profile label
// separated by 0xFF (which UTF-8 never holds).
struct Fields
{
    double rangeStart = 0.0, rangeEnd = 1.0, sampleRate = 48000.0, durationSeconds = 15.0;
    std::int64_t predictedBytes = 0;
    std::int32_t inputFrames = 0, teaserFrames = 0;
    std::uint8_t flags = 0;
    juce::StringArray texts;
};

constexpr std::size_t numberBytes = 8 * 4 + 8 + 4 + 4 + 1;

Fields decode(const std::uint8_t* data, std::size_t size)
{
    Fields f;
    if (size >= numberBytes)
    {
        std::memcpy(&f.rangeStart, data, 8);
        std::memcpy(&f.rangeEnd, data + 8, 8);
        std::memcpy(&f.sampleRate, data + 16, 8);
        std::memcpy(&f.durationSeconds, data + 24, 8);
        std::memcpy(&f.predictedBytes, data + 32, 8);
        std::memcpy(&f.inputFrames, data + 40, 4);
        std::memcpy(&f.teaserFrames, data + 44, 4);
        f.flags = data[48];
        data += numberBytes;
        size -= numberBytes;
    }
    const auto* start = data;
    for (std::size_t i = 0; i <= size; ++i)
        if (i == size || data[i] == 0xFF)
        {
            f.texts.add(juce::String::fromUTF8((const char*)start, (int)(data + i - start)));
            start = data + i + 1;
        }
    while (f.texts.size() < 4)
        f.texts.add({});
    return f;
}

juce::MemoryBlock encode(const Fields& f)
{
    juce::MemoryOutputStream out;
    out.write(&f.rangeStart, 8);
    out.write(&f.rangeEnd, 8);
    out.write(&f.sampleRate, 8);
    out.write(&f.durationSeconds, 8);
    out.write(&f.predictedBytes, 8);
    out.write(&f.inputFrames, 4);
    out.write(&f.teaserFrames, 4);
    out.writeByte((char)f.flags);
    for (int i = 0; i < f.texts.size(); ++i)
    {
        if (i > 0)
            out.writeByte((char)0xFF);
        out << f.texts[i];
    }
    return out.getMemoryBlock();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto f = decode(data, size);
    sorvane::SocialExportOptions options;
    options.rangeStart = f.rangeStart;
    options.rangeEnd = f.rangeEnd;
    options.loopEnabled = (f.flags & 1) != 0;
    options.effectedOnly = (f.flags & 2) != 0;
    options.aspect = (f.flags >> 2) & 3;
    options.duration = (f.flags >> 4) & 3;
    options.background = (sorvane::SocialBackground)((f.flags >> 6) & 3);
    options.creator = f.texts[0];
    options.personality = f.texts[1];
    options.dna = f.texts[2];

    sorvane::SocialExportPreflight plan;
    const auto profile = sorvane::socialAspectProfile(options.aspect);
    plan.width = profile.width;
    plan.height = profile.height;
    plan.durationSeconds = f.durationSeconds;
    plan.predictedTemporaryBytes = f.predictedBytes;
    plan.profileLabel = f.texts[3];
    plan.backgroundName = sorvane::socialBackgroundDisplayName(options.background);

    const auto json = sorvane::SocialExporter::createMetadataJson(plan, options, f.inputFrames, f.sampleRate,
                                                                  f.teaserFrames);
    for (auto p = json.getCharPointer(); !p.isEmpty();)
    {
        const auto c = p.getAndAdvance();
        require(c >= 32 && c < 127, "the metadata holds a byte outside printable ASCII");
    }

    StrictReader reader{json.getCharPointer(), {}};
    require(reader.object(), "the metadata is not strict JSON");
    static const char* keys[] = {"product",
                                 "profile",
                                 "width",
                                 "height",
                                 "durationSeconds",
                                 "inputDurationSeconds",
                                 "audioRepeated",
                                 "predictedTemporaryBytes",
                                 "background",
                                 "backgroundReactive",
                                 "networkAccess",
                                 "personality",
                                 "creator",
                                 "effectedOnly",
                                 "dna",
                                 "sourceRangeStart",
                                 "sourceRangeEnd",
                                 "sourceRangeLoopEnabled"};
    require(reader.members.size() == std::size(keys), "the metadata lost or gained a member");
    for (size_t i = 0; i < std::size(keys); ++i)
        require(reader.members[i].first == ascii(keys[i]), "a member is out of order");
    const auto value = [&](size_t i) { return reader.members[i].second; };
    require(value(1) == expectedText(plan.profileLabel), "the profile changed on the way");
    require(value(11) == expectedText(options.personality), "the personality changed on the way");
    require(value(12) == expectedText(options.creator.trim()), "the creator changed on the way");
    require(value(14) == expectedText(options.dna), "the DNA changed on the way");
    require(value(13) == ascii(options.effectedOnly ? "true" : "false"), "the effected-only flag changed");
    require(value(17) == ascii(options.loopEnabled ? "true" : "false"), "the loop flag changed");
    require(value(10) == ascii("false"), "the page claims network access");
    return 0;
}

void sorvaneFuzzWriteSeeds(const juce::File& folder)
{
    Fields f;
    f.rangeStart = 0.25;
    f.rangeEnd = 0.75;
    f.durationSeconds = 15.0;
    f.predictedBytes = 106314752;
    f.inputFrames = 40 * 48000;
    f.teaserFrames = 15 * 48000;
    f.flags = 1;
    // The DNA a real session carries.
    sorvane::fuzz::ensureJuce();
    SorvaneAudioProcessor processor;
    processor.generateTressel(2024, sorvane::tresselGlass, 55.0f, {}, false, false);
    juce::String error;
    const auto dna = processor.copyTresselDna(error);
    f.texts = {"Ada", sorvane::getTresselPersonalityProfiles()[sorvane::tresselGlass].name, dna,
               "9:16 / Tressel Rings / 15.0 s"};
    sorvane::fuzz::writeSeed(folder, "plain", encode(f));

    f.flags = 2 | (2 << 2) | (2 << 4) | (2 << 6);
    f.rangeStart = std::numeric_limits<double>::quiet_NaN();
    f.rangeEnd = std::numeric_limits<double>::infinity();
    f.durationSeconds = 1.0 / 3.0;
    f.texts = {juce::String::fromUTF8("  \xe2\x80\xae<script>\"q\"\\\x07\x01 \xf0\x9f\x8e\xb9\t "),
               juce::String::fromUTF8("\xe2\x80\xa8"), "", juce::String::fromUTF8("\xc3\xa9")};
    sorvane::fuzz::writeSeed(folder, "hostile", encode(f));
}
