// The whole session a host saves and restores: the sound, locks and program, the source with its
// range, the social and video choices and the Tressel session with its history.
#include "EditorTestSupport.h"
#include "TestSupport.h"

#include "processor/HostStateBlob.h"
#include "processor/ParameterState.h"
#include "transport/SourceLoadJob.h"
#include "workflow/StableHash.h"
#include "workflow/TresselSessionTree.h"

#include <gtest/gtest.h>

#include <juce_audio_formats/juce_audio_formats.h>

#include <cmath>

using sorvane::test::makeProcessor;
using sorvane::test::plain;
using sorvane::test::setPlain;

namespace
{
juce::File writeTone(const juce::File& file, double seconds)
{
    file.deleteFile();
    auto stream = std::make_unique<juce::FileOutputStream>(file);
    juce::WavAudioFormat wav;
    std::unique_ptr<juce::AudioFormatWriter> writer(
        wav.createWriterFor(stream.release(), 8000, 2, 16, {}, 0));
    const int frames = (int)(seconds * 8000);
    juce::AudioBuffer<float> audio(2, frames);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < frames; ++i)
            audio.setSample(c, i, 0.3f * (float)std::sin(2.0 * M_PI * 220.0 * i / 8000.0 + c));
    writer->writeFromAudioSampleBuffer(audio, 0, frames);
    return file;
}

std::unique_ptr<SorvaneAudioProcessor> makeStandalone()
{
    return makeProcessor(juce::AudioProcessor::wrapperType_Standalone);
}

int waitForLoadEnd(SorvaneAudioProcessor& processor)
{
    const auto end = juce::Time::getMillisecondCounter() + 60000;
    for (;;)
    {
        const auto s = processor.getSampleLoadSnapshot();
        if (sorvane::isTerminal((sorvane::PreparationState)s.state) ||
            juce::Time::getMillisecondCounter() > end)
            return s.state;
        sorvane::test::pumpMessages(2);
    }
}

juce::MemoryBlock stateOf(SorvaneAudioProcessor& processor)
{
    juce::MemoryBlock blob;
    processor.getStateInformation(blob);
    return blob;
}

juce::MemoryBlock blobOf(const juce::String& xmlText)
{
    juce::MemoryBlock blob;
    const auto xml = juce::parseXML(xmlText);
    if (xml != nullptr)
        juce::AudioProcessor::copyXmlToBinary(*xml, blob);
    return blob;
}

juce::String sessionDigest(SorvaneAudioProcessor& processor)
{
    return sorvane::treeDigest(sorvane::tresselSessionToTree(processor.getTresselSession()));
}

// Everything a restore may touch, in one comparable line.
juce::String everything(SorvaneAudioProcessor& processor)
{
    auto& s = processor.getTransportState();
    const auto identity = processor.getCreatorVideoIdentity();
    return sorvane::treeDigest(processor.captureParameterSnapshot()) + "|" + sessionDigest(processor) + "|" +
           juce::String((juce::int64)processor.lockWord.load()) + "|" +
           juce::String(processor.currentProgram.load()) + "|" + juce::String(s.rangeStart.load(), 12) + "|" +
           juce::String(s.rangeEnd.load(), 12) + "|" + juce::String((int)s.looping.load()) +
           juce::String((int)s.zeroSnap.load()) + "|" + juce::String(processor.socialAspect.load()) +
           juce::String(processor.socialDuration.load()) + juce::String(processor.socialBackground.load()) +
           "|" + identity.artist + "|" + juce::String((int)identity.effectedOnly) + "|" +
           processor.getLoadedSampleName() + "|" + juce::String((int)processor.getMutationHistory().size()) +
           "|" + (processor.projectDirty.load() ? "dirty" : "clean");
}

struct Session
{
    juce::TemporaryFile folderFile;
    juce::File folder = folderFile.getFile();
    juce::File source;
    std::unique_ptr<SorvaneAudioProcessor> processor = makeStandalone();

    Session()
    {
        folder.createDirectory();
        source = writeTone(folder.getChildFile("take.wav"), 2.0);
        juce::String error;
        EXPECT_TRUE(processor->requestSampleLoad(source, error, false)) << error;
        EXPECT_EQ(waitForLoadEnd(*processor), (int)sorvane::PreparationState::Published);
        processor->setCurrentProgram(5);
        processor->generateTressel(4242u, 3, 55.0f, {}, false, false);
        processor->selectTresselVariant(2);
        setPlain(*processor, "tone", 2345.0f);
        processor->lockWord.store(0x1234);
        auto& s = processor->getTransportState();
        s.rangeStart.store(0.25);
        s.rangeEnd.store(0.625);
        s.looping.store(false);
        s.zeroSnap.store(true);
        processor->setSocialVideoChoices(2, 1, 2);
        processor->setCreatorVideoIdentity("Mara Quell", true);
    }
    ~Session() { folder.deleteRecursively(); }
};
} // namespace

TEST(HostRecall, RestoresTheWholeSessionIntoAFreshProcessorAndSavesItAgainByteForByte)
{
    Session session;
    auto& source = *session.processor;
    ASSERT_GE(source.getMutationHistory().size(), 2u);
    const auto blob = stateOf(source);

    auto target = makeStandalone();
    target->projectDirty.store(true);
    target->setStateInformation(blob.getData(), (int)blob.getSize());
    EXPECT_FALSE(target->projectDirty.load());
    EXPECT_FALSE(target->suppressProjectDirty.load());
    ASSERT_EQ(waitForLoadEnd(*target), (int)sorvane::PreparationState::Published);

    const auto sample = target->getSourceLibrary().getCurrentSample();
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(sample->path, session.source.getFullPathName());
    EXPECT_FLOAT_EQ(plain(*target, "tone"), 2345.0f);
    EXPECT_EQ(target->lockWord.load(), 0x1234u);
    EXPECT_EQ(target->currentProgram.load(), 5);
    auto& s = target->getTransportState();
    EXPECT_EQ(s.rangeStart.load(), 0.25);
    EXPECT_EQ(s.rangeEnd.load(), 0.625);
    EXPECT_FALSE(s.looping.load());
    EXPECT_TRUE(s.zeroSnap.load());
    EXPECT_EQ(target->socialAspect.load(), 2);
    EXPECT_EQ(target->socialDuration.load(), 1);
    EXPECT_EQ(target->socialBackground.load(), 2);
    EXPECT_EQ(target->getCreatorVideoIdentity().artist, "Mara Quell");
    EXPECT_TRUE(target->getCreatorVideoIdentity().effectedOnly);
    EXPECT_EQ(sessionDigest(*target), sessionDigest(source));
    ASSERT_EQ(target->getMutationHistory().size(), source.getTresselSession().history.size());
    EXPECT_EQ(target->getTresselSession().history.size(), source.getTresselSession().history.size());

    const auto again = stateOf(*target);
    EXPECT_EQ(again, blob) << again.toString().substring(8, 400);
}

TEST(HostRecall, ASessionWithoutSourceOrTresselRestoresDefaultsAndAFreshHistory)
{
    auto source = makeStandalone();
    setPlain(*source, "drive", 17.0f);
    const auto blob = stateOf(*source);
    const auto text = blob.toString();
    EXPECT_FALSE(text.contains("samplePath"));
    EXPECT_FALSE(text.contains(sorvane::tresselTreeIds::sessionType.toString()));

    Session busy; // a loaded source, a session and choices that the restore must clear or replace
    auto& target = *busy.processor;
    target.setStateInformation(blob.getData(), (int)blob.getSize());
    EXPECT_EQ(target.getSourceLibrary().getCurrentSample(), nullptr);
    EXPECT_FALSE(target.getTresselSession().baseline.isValid());
    EXPECT_EQ(target.getMutationHistory().size(), 1u);
    EXPECT_NEAR(plain(target, "drive"), 17.0f, 1e-4f);
    EXPECT_EQ(target.getTransportState().rangeStart.load(), 0.0);
    EXPECT_EQ(target.getTransportState().rangeEnd.load(), 1.0);
    EXPECT_EQ(target.getCreatorVideoIdentity().artist, "");
    EXPECT_EQ(target.socialAspect.load(), 0);
}

// Values a hand-made or damaged blob may carry, and what each must become.
TEST(HostRecall, OutOfRangeAndMissingValuesFallBackOrClamp)
{
    struct Case
    {
        const char* attributes;
        double start, end;
        bool looping, snap;
        int program, aspect, duration, background;
    };
    const Case cases[] = {
        {"", 0.0, 1.0, true, false, 0, 0, 0, 0},
        {"sourceRangeStart='0.7' sourceRangeEnd='0.2'", 0.0, 1.0, true, false, 0, 0, 0, 0},
        {"sourceRangeStart='-0.5' sourceRangeEnd='0.5'", 0.0, 1.0, true, false, 0, 0, 0, 0},
        {"sourceRangeStart='0.1' sourceRangeEnd='1.5'", 0.0, 1.0, true, false, 0, 0, 0, 0},
        {"sourceRangeStart='nan' sourceRangeEnd='0.5'", 0.0, 1.0, true, false, 0, 0, 0, 0},
        {"sourceRangeStart='0.1' sourceRangeEnd='0.4' sourceRangeLoop='0' sourceRangeSnap='1'", 0.1, 0.4,
         false, true, 0, 0, 0, 0},
        {"program='99' socialAspect='7' socialDuration='-3' socialBackground='2'", 0.0, 1.0, true, false, 36,
         2, 0, 2},
        {"program='-4' socialAspect='1'", 0.0, 1.0, true, false, 0, 1, 0, 0},
    };
    for (const auto& c : cases)
    {
        Session busy;
        auto& p = *busy.processor;
        const auto blob = blobOf(juce::String("<SORVANE_STATE ") + c.attributes + "/>");
        p.setStateInformation(blob.getData(), (int)blob.getSize());
        auto& s = p.getTransportState();
        EXPECT_EQ(s.rangeStart.load(), c.start) << c.attributes;
        EXPECT_EQ(s.rangeEnd.load(), c.end) << c.attributes;
        EXPECT_EQ(s.looping.load(), c.looping) << c.attributes;
        EXPECT_EQ(s.zeroSnap.load(), c.snap) << c.attributes;
        EXPECT_EQ(p.currentProgram.load(), c.program) << c.attributes;
        EXPECT_EQ(p.socialAspect.load(), c.aspect) << c.attributes;
        EXPECT_EQ(p.socialDuration.load(), c.duration) << c.attributes;
        EXPECT_EQ(p.socialBackground.load(), c.background) << c.attributes;
        EXPECT_FALSE(p.projectDirty.load()) << c.attributes;
    }
}

TEST(HostRecall, ASavedSourceThatIsGoneStillRestoresTheParametersAndTheRange)
{
    Session session;
    const auto blob = stateOf(*session.processor);
    session.source.deleteFile();

    auto target = makeStandalone();
    target->setStateInformation(blob.getData(), (int)blob.getSize());
    sorvane::test::pumpMessages(50);
    EXPECT_EQ(target->getSourceLibrary().getCurrentSample(), nullptr);
    EXPECT_FLOAT_EQ(plain(*target, "tone"), 2345.0f);
    EXPECT_EQ(target->getTransportState().rangeStart.load(), 0.25);
    EXPECT_EQ(target->getTransportState().rangeEnd.load(), 0.625);
    EXPECT_FALSE(target->projectDirty.load());
}

TEST(HostRecall, ADamagedSessionChildLeavesTheTresselStateEmptyButRestoresTheSound)
{
    Session session;
    const auto saved = stateOf(*session.processor);
    std::unique_ptr<juce::XmlElement> xml;
    juce::String error;
    ASSERT_TRUE(sorvane::readHostStateBlob(saved.getData(), saved.getSize(), xml, error)) << error;
    auto* child = xml->getChildByName(sorvane::tresselTreeIds::sessionType);
    ASSERT_NE(child, nullptr);
    child->deleteAllChildElements();
    juce::MemoryBlock blob;
    juce::AudioProcessor::copyXmlToBinary(*xml, blob);

    auto target = makeStandalone();
    target->setStateInformation(blob.getData(), (int)blob.getSize());
    EXPECT_FALSE(target->getTresselSession().baseline.isValid());
    EXPECT_EQ(target->getMutationHistory().size(), 1u);
    EXPECT_FLOAT_EQ(plain(*target, "tone"), 2345.0f);
    EXPECT_EQ(target->getCreatorVideoIdentity().artist, "Mara Quell");
}

// Blobs the processor cannot use: nothing at all may change, not even the dirty flag.
TEST(HostRecall, HostileBlobsChangeNothing)
{
    juce::Random random(99);
    juce::MemoryBlock randomBytes(4096);
    for (size_t i = 0; i < randomBytes.getSize(); ++i)
        randomBytes[i] = (char)random.nextInt(256);

    Session reference;
    const auto full = stateOf(*reference.processor);
    juce::MemoryBlock truncated(full.getData(), full.getSize() / 2);
    juce::MemoryBlock headerOnly(full.getData(), 8);

    juce::String deep;
    for (int i = 0; i < 5000; ++i)
        deep << "<SORVANE_STATE>";
    juce::MemoryBlock deepBlob("VC2!", 4);
    const auto deepLength = (std::uint32_t)deep.getNumBytesAsUTF8();
    deepBlob.append(&deepLength, 4);
    deepBlob.append(deep.toRawUTF8(), deep.getNumBytesAsUTF8());

    juce::MemoryBlock wrongMagic(full);
    wrongMagic[0] = 'X';

    const struct
    {
        const char* name;
        juce::MemoryBlock blob;
    } cases[] = {
        {"truncated", truncated},
        {"header only", headerOnly},
        {"random bytes", randomBytes},
        {"another product", blobOf("<OTHER_PRODUCT samplePath='/x' sourceRangeStart='0.5'><PARAM id='tone' "
                                   "value='100'/></OTHER_PRODUCT>")},
        {"enormous attribute", blobOf("<SORVANE_STATE videoArtist='" +
                                      juce::String::repeatedString("A", 40 * 1024 * 1024) + "'/>")},
        {"deep nesting", deepBlob},
        {"wrong magic", wrongMagic},
        {"zero length", juce::MemoryBlock("VC2!\0\0\0\0x", 9)},
    };

    Session session;
    auto& p = *session.processor;
    p.projectDirty.store(true);
    const auto before = everything(p);
    for (const auto& c : cases)
    {
        p.setStateInformation(c.blob.getData(), (int)c.blob.getSize());
        EXPECT_EQ(everything(p), before) << c.name;
    }
}
