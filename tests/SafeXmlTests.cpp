#include "TestSupport.h"
#include "WorkflowStateSupport.h"

#include "processor/HostStateBlob.h"
#include "processor/ParameterState.h"
#include "processor/SafeXml.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using sorvane::test::makeProcessor;
using sorvane::test::plain;
using sorvane::test::setPlain;
using sorvane::test::WorkflowState;

namespace
{
const juce::String refusal{"Caller's own sentence."};

std::string bytesOf(const juce::MemoryBlock& block)
{
    return std::string(static_cast<const char*>(block.getData()), block.getSize());
}

std::string nested(const std::string& name, int depth)
{
    std::string open, close;
    for (int i = 0; i < depth; ++i)
    {
        open += "<" + name + ">";
        close = "</" + name + ">" + close;
    }
    return open + close;
}

// The classic entity bomb: each level expands to ten of the one before.
std::string billionLaughs()
{
    std::string dtd = "<!DOCTYPE lolz [<!ENTITY lol0 \"lol\">";
    for (int i = 1; i < 10; ++i)
    {
        dtd += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k)
            dtd += "&lol" + std::to_string(i - 1) + ";";
        dtd += "\">";
    }
    return dtd + "]>";
}

// Ways to spoil an otherwise acceptable XML text, each of which JUCE's parser must never see. The
// text given is well-formed and has a root element that starts at `rootAt`.
struct Spoil
{
    const char* name;
    std::function<std::string(const std::string& xml, std::size_t rootAt)> apply;
};

std::string insertAfterRootName(const std::string& xml, std::size_t rootAt, const std::string& what)
{
    auto copy = xml;
    copy.insert(xml.find_first_of(" />", rootAt), what);
    return copy;
}

const std::vector<Spoil>& spoils()
{
    static const std::vector<Spoil> table{
        {"truncated sequence at the end", [](const std::string& x, std::size_t) { return x + "\xE2\x82"; }},
        {"lone lead byte inside a value",
         [](const std::string& x, std::size_t r) { return insertAfterRootName(x, r, " junk=\"\xC3\""); }},
        {"overlong slash",
         [](const std::string& x, std::size_t r) { return insertAfterRootName(x, r, " junk=\"\xC0\xAF\""); }},
        {"overlong three-byte", [](const std::string& x, std::size_t r)
         { return insertAfterRootName(x, r, " junk=\"\xE0\x80\xAF\""); }},
        {"surrogate", [](const std::string& x, std::size_t r)
         { return insertAfterRootName(x, r, " junk=\"\xED\xA0\x80\""); }},
        {"beyond U+10FFFF", [](const std::string& x, std::size_t r)
         { return insertAfterRootName(x, r, " junk=\"\xF4\x90\x80\x80\""); }},
        {"0xFF byte",
         [](const std::string& x, std::size_t r) { return insertAfterRootName(x, r, " junk=\"\xFF\""); }},
        {"stray continuation byte", [](const std::string& x, std::size_t) { return "\x80" + x; }},
        {"NUL inside", [](const std::string& x, std::size_t r)
         { return insertAfterRootName(x, r, std::string(" junk=\"a\0b\"", 11)); }},
        {"NUL after the document",
         [](const std::string& x, std::size_t) { return x + std::string(1, '\0'); }},
        {"DOCTYPE", [](const std::string& x, std::size_t r)
         { return x.substr(0, r) + "<!DOCTYPE SORVANE>" + x.substr(r); }},
        {"internal ENTITY",
         [](const std::string& x, std::size_t r)
         {
             return x.substr(0, r) + "<!DOCTYPE r [<!ENTITY e \"1\">]>" +
                    insertAfterRootName(x, r, " junk=\"&e;\"").substr(r);
         }},
        {"billion laughs",
         [](const std::string& x, std::size_t r) {
             return x.substr(0, r) + billionLaughs() +
                    insertAfterRootName(x, r, " junk=\"&lol9;\"").substr(r);
         }},
        {"repeated attribute", [](const std::string& x, std::size_t r)
         { return insertAfterRootName(x, r, " junk=\"1\" junk=\"2\""); }},
        {"undefined entity",
         [](const std::string& x, std::size_t r) { return insertAfterRootName(x, r, " junk=\"&<a/>;\""); }},
        {"character reference to NUL",
         [](const std::string& x, std::size_t r) { return insertAfterRootName(x, r, " junk=\"&#0;\""); }},
        {"character reference to a surrogate",
         [](const std::string& x, std::size_t r) { return insertAfterRootName(x, r, " junk=\"&#xD800;\""); }},
        {"over-deep nesting", [](const std::string& x, std::size_t)
         { return x.substr(0, x.rfind("</")) + nested("DEEP", 16) + x.substr(x.rfind("</")); }},
        {"unclosed root", [](const std::string& x, std::size_t) { return x.substr(0, x.rfind("</")); }},
        {"second root", [](const std::string& x, std::size_t) { return x + "<SORVANE_STATE/>"; }},
        {"empty", [](const std::string&, std::size_t) { return std::string(); }},
        {"white space only", [](const std::string&, std::size_t) { return std::string(" \r\n\t "); }},
        // The value tree conversion would decode these into blocks of the size they name.
        {"base64 attribute of negative size", [](const std::string& x, std::size_t r)
         { return insertAfterRootName(x, r, " base64:junk=\"-1.\""); }},
        {"base64 attribute of 2 GB", [](const std::string& x, std::size_t r)
         { return insertAfterRootName(x, r, " base64:junk=\"2000000000.\""); }},
    };
    return table;
}

std::size_t rootOf(const std::string& xml)
{
    auto at = xml.find("?>");
    at = at == std::string::npos ? 0 : at + 2;
    return xml.find('<', at);
}

juce::String dnaTextOf(const std::string& xml)
{
    return "SV1:" + juce::Base64::toBase64(xml.data(), xml.size());
}

std::string dnaXmlOf(const juce::String& text)
{
    juce::MemoryOutputStream bytes;
    EXPECT_TRUE(juce::Base64::convertFromBase64(bytes, text.substring(4)));
    return std::string(static_cast<const char*>(bytes.getData()), bytes.getDataSize());
}

juce::MemoryBlock blobOf(const std::string& text)
{
    juce::MemoryOutputStream out;
    out.write("VC2!", 4);
    out.writeInt((int)text.size());
    out.write(text.data(), text.size());
    out.writeByte(0);
    return out.getMemoryBlock();
}

// The text with the last "drive" PARAM's value spelt differently.
std::string withLastDriveValue(std::string xml, const std::string& spelling)
{
    const auto id = xml.rfind("id=\"drive\"");
    const auto start = xml.find("value=\"", id) + 7;
    EXPECT_TRUE(id != std::string::npos && start > 7);
    xml.replace(start, xml.find('"', start) - start, spelling);
    return xml;
}

std::unique_ptr<SorvaneAudioProcessor> processorWithSession(std::uint32_t seed, float drive)
{
    auto processor = makeProcessor();
    setPlain(*processor, "drive", drive);
    processor->generateTressel(seed, 3, 55.0f, {}, false, false);
    processor->selectTresselVariant(1);
    processor->lockWord.store(0x5);
    return processor;
}
} // namespace

TEST(SafeXml, StrictUtf8)
{
    const struct
    {
        std::string bytes;
        bool valid;
    } cases[] = {
        {"plain ASCII", true},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5", true}, // é € 🎵
        {"\xEF\xBF\xBD\xF4\x8F\xBF\xBF", true},         // U+FFFD, U+10FFFF
        {"\xED\x9F\xBF\xEE\x80\x80", true},             // either side of the surrogates
        {"\xC3", false},                                // truncated at the end
        {"\xE2\x82", false},                            // truncated at the end
        {"\xF0\x9F\x8E", false},                        // truncated at the end
        {"\xE2\x28\xA1", false},                        // broken continuation
        {"\xC0\xAF", false},                            // overlong
        {"\xC1\xBF", false},                            // overlong
        {"\xE0\x80\xAF", false},                        // overlong
        {"\xF0\x80\x80\xAF", false},                    // overlong
        {"\xED\xA0\x80", false},                        // high surrogate
        {"\xED\xBF\xBF", false},                        // low surrogate
        {"\xF4\x90\x80\x80", false},                    // beyond U+10FFFF
        {"\xF5\x80\x80\x80", false},                    // beyond U+10FFFF
        {"\xFF", false},                                //
        {"\xFE", false},                                //
        {"\x80", false},                                // stray continuation
        {std::string("a\0b", 3), false},                // NUL
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(juce::String::toHexString(c.bytes.data(), (int)c.bytes.size()).toStdString());
        EXPECT_EQ(sorvane::isStrictUtf8(c.bytes.data(), c.bytes.size()), c.valid);
    }
}

TEST(SafeXml, AcceptsWhatJuceWritesAndRefusesEverySpoiltForm)
{
    juce::XmlElement root("SORVANE_STATE");
    root.setAttribute("presetName", "Glass & \"Steel\" <é€🎵>\r\n\t\x01");
    auto* param = root.createNewChildElement("PARAM");
    param->setAttribute("id", "drive");
    param->setAttribute("value", 0.25);
    root.createNewChildElement("NOTE")->addTextElement("text & <more>");
    const auto written = root.toString().toStdString();
    const auto withComments = "<!-- saved -->\n" + written.substr(0, written.rfind("</")) +
                              "<![CDATA[<not-a-tag>]]><?pi data?></SORVANE_STATE>\n<!-- end -->";

    const sorvane::XmlLimits limits{written.size() + 1024, 3};
    for (const auto& good : {written, withComments})
    {
        std::unique_ptr<juce::XmlElement> out;
        juce::String error = "stale";
        ASSERT_TRUE(sorvane::parseOutsideXml(good.data(), good.size(), limits, refusal, out, error)) << good;
        ASSERT_NE(out, nullptr);
        EXPECT_TRUE(error.isEmpty());
        EXPECT_EQ(out->getStringAttribute("presetName"), root.getStringAttribute("presetName"));
        EXPECT_EQ(out->getChildByName("PARAM")->getDoubleAttribute("value"), 0.25);
    }

    auto sentinel = std::make_unique<juce::XmlElement>("UNTOUCHED");
    const auto* sentinelAddress = sentinel.get();
    for (const auto& spoil : spoils())
    {
        SCOPED_TRACE(spoil.name);
        const auto bad = spoil.apply(written, rootOf(written));
        juce::String error;
        EXPECT_FALSE(sorvane::parseOutsideXml(bad.data(), bad.size(), limits, refusal, sentinel, error));
        EXPECT_EQ(error, refusal);
        EXPECT_EQ(sentinel.get(), sentinelAddress);
    }
}

TEST(SafeXml, SizeAndDepthCapsAreInclusive)
{
    const auto deep = nested("E", 5);
    std::unique_ptr<juce::XmlElement> out;
    juce::String error;
    EXPECT_TRUE(sorvane::parseOutsideXml(deep.data(), deep.size(), {deep.size(), 5}, refusal, out, error));
    EXPECT_FALSE(sorvane::parseOutsideXml(deep.data(), deep.size(), {deep.size(), 4}, refusal, out, error));
    EXPECT_EQ(error, refusal);
    EXPECT_FALSE(
        sorvane::parseOutsideXml(deep.data(), deep.size(), {deep.size() - 1, 5}, refusal, out, error));
    EXPECT_EQ(error, refusal);

    // Self-closing elements and quoted or commented markup do not nest.
    const std::string flat = "<E><E/><E a='&lt;E&gt;'/><!--<E><E>--><![CDATA[<E><E>]]></E>";
    EXPECT_TRUE(sorvane::parseOutsideXml(flat.data(), flat.size(), {flat.size(), 2}, refusal, out, error));
}

TEST(SafeXml, DnaImportRefusesHostileXmlAndChangesNothing)
{
    auto donor = processorWithSession(11, 61.0f);
    juce::String error;
    const auto dna = donor->copyTresselDna(error);
    ASSERT_TRUE(dna.isNotEmpty()) << error;
    const auto xml = dnaXmlOf(dna);

    auto processor = processorWithSession(99, 12.0f);
    const auto before = WorkflowState::of(*processor);
    for (const auto& spoil : spoils())
    {
        SCOPED_TRACE(spoil.name);
        error.clear();
        EXPECT_FALSE(processor->importTresselDna(dnaTextOf(spoil.apply(xml, rootOf(xml))), error));
        EXPECT_EQ(error, "The Sorvane DNA payload is not valid XML.");
        WorkflowState::of(*processor).expectEqual(before);
    }

    // DNA cannot carry more than 256 KB of text, so an over-size payload stops at the length check.
    const auto padded = xml + std::string(200000, ' ');
    EXPECT_FALSE(processor->importTresselDna(dnaTextOf(padded), error));
    EXPECT_EQ(error, "Paste a supported Sorvane DNA payload no larger than 256 KB.");
    WorkflowState::of(*processor).expectEqual(before);

    // The untouched payload is accepted, so the refusals above are the spoils' doing.
    EXPECT_TRUE(processor->importTresselDna(dnaTextOf(xml), error)) << error;
    EXPECT_EQ(plain(*processor, "drive"), plain(*donor, "drive"));
}

TEST(SafeXml, HostStateRefusesHostileXmlAndChangesNothing)
{
    auto donor = processorWithSession(11, 61.0f);
    juce::MemoryBlock saved;
    donor->getStateInformation(saved);
    ASSERT_GT(saved.getSize(), 9u);
    const auto xml = bytesOf(saved).substr(8, saved.getSize() - 9);

    auto processor = processorWithSession(99, 12.0f);
    processor->projectDirty.store(true);
    const auto before = WorkflowState::of(*processor);

    std::vector<std::pair<std::string, juce::MemoryBlock>> blobs;
    for (const auto& spoil : spoils())
        blobs.emplace_back(spoil.name, blobOf(spoil.apply(xml, rootOf(xml))));
    blobs.emplace_back("over 4 MB", blobOf(xml + std::string(sorvane::hostStateXmlLimits.maxBytes, ' ')));
    auto badMagic = saved;
    static_cast<char*>(badMagic.getData())[3] = '?';
    blobs.emplace_back("another magic", badMagic);
    auto zeroLength = saved;
    std::memset(static_cast<char*>(zeroLength.getData()) + 4, 0, 4);
    blobs.emplace_back("announced length 0", zeroLength);
    blobs.emplace_back("header only", juce::MemoryBlock(saved.getData(), 8));

    for (const auto& [name, blob] : blobs)
    {
        SCOPED_TRACE(name);
        processor->setStateInformation(blob.getData(), (int)blob.getSize());
        WorkflowState::of(*processor).expectEqual(before);

        std::unique_ptr<juce::XmlElement> out;
        juce::String error;
        EXPECT_FALSE(sorvane::readHostStateBlob(blob.getData(), blob.getSize(), out, error));
        EXPECT_TRUE(error.isNotEmpty());
    }

    // A length that overstates the text, as some hosts hand it back, still reads; so does the
    // untouched blob, which shows that the refusals above were the spoils' doing.
    auto overstated = saved;
    static_cast<unsigned char*>(overstated.getData())[7] = 0x7f;
    processor->setStateInformation(overstated.getData(), (int)overstated.getSize());
    EXPECT_EQ(plain(*processor, "drive"), plain(*donor, "drive"));
    EXPECT_EQ(processor->getTresselSession().seed, 11u);
}

TEST(SafeXml, NonFiniteParameterValuesCountAsMissing)
{
    auto donor = makeProcessor();
    setPlain(*donor, "drive", 61.0f);
    setPlain(*donor, "tone", 5200.0f);
    juce::MemoryBlock saved;
    donor->getStateInformation(saved);
    const auto xml = bytesOf(saved).substr(8, saved.getSize() - 9);

    auto reference = makeProcessor();
    const auto defaultDrive = plain(*reference, "drive");
    ASSERT_NE(defaultDrive, 61.0f);

    for (const char* spelling : {"nan", "NaN", "inf", "-inf", "1e400", "-1e400", "1e39"})
    {
        SCOPED_TRACE(spelling);

        // Host state: the parameter takes its default, the others their saved values.
        auto processor = makeProcessor();
        setPlain(*processor, "drive", 33.0f);
        const auto blob = blobOf(withLastDriveValue(xml, spelling));
        processor->setStateInformation(blob.getData(), (int)blob.getSize());
        EXPECT_EQ(plain(*processor, "drive"), defaultDrive);
        EXPECT_FLOAT_EQ(plain(*processor, "tone"), 5200.0f);
        const auto state = processor->captureParameterSnapshot();
        EXPECT_FALSE(sorvane::containsNonFiniteParameterValue(state)) << state.toXmlString();

        // DNA: refused outright, with nothing changed.
        auto dnaDonor = processorWithSession(5, 61.0f);
        juce::String error;
        const auto dnaXml = withLastDriveValue(dnaXmlOf(dnaDonor->copyTresselDna(error)), spelling);
        const auto before = WorkflowState::of(*processor);
        EXPECT_FALSE(processor->importTresselDna(dnaTextOf(dnaXml), error));
        EXPECT_EQ(error, "The Sorvane DNA payload is not valid XML.");
        WorkflowState::of(*processor).expectEqual(before);
    }

    // A tree built in memory with a NaN double is applied the same way.
    auto tree = donor->captureParameterSnapshot();
    tree.getChildWithProperty("id", "drive").setProperty("value", std::nan(""), nullptr);
    auto processor = makeProcessor();
    setPlain(*processor, "drive", 33.0f);
    processor->applyParameterSnapshot(tree);
    EXPECT_EQ(plain(*processor, "drive"), defaultDrive);
    EXPECT_FLOAT_EQ(plain(*processor, "tone"), 5200.0f);
}
