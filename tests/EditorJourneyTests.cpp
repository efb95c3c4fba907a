// A user's road through the editor: choosing a suggested moment, the browser keeping the preset just
// written, the shape selector after TRESSEL and AGAIN, and the WORKFLOW panel naming the knobs as they
// read and wearing the current theme.
#include "EditorTestSupport.h"
#include "TestSupport.h"

#include "editor/InterfaceTheme.h"
#include "editor/Palette.h"
#include "editor/ParameterKnob.h"
#include "editor/SorvaneAudioProcessorEditor.h"
#include "presets/PresetCatalog.h"
#include "workflow/TresselPersonality.h"
#include "workflow/TresselPersonalityNames.h"

#include <gtest/gtest.h>

namespace
{
struct EditorFixture
{
    sorvane::test::AcknowledgedTemporaryHome home;
    std::unique_ptr<SorvaneAudioProcessor> processor;
    std::unique_ptr<SorvaneAudioProcessorEditor> editor;

    explicit EditorFixture(
        juce::AudioProcessor::WrapperType wrapper = juce::AudioProcessor::wrapperType_Standalone)
        : processor(sorvane::test::makeProcessor(wrapper))
    {
        editor.reset(dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
        editor->stopTimer();
        editor->setAlertPresenter([](juce::MessageBoxIconType, const juce::String&, const juce::String&) {});
    }
    ~EditorFixture() { editor = nullptr; }

    // A minute of quiet noise at 1 kHz with two moments: 10 s to 20 s and 30 s to 42 s.
    void publishSource(std::vector<sorvane::MomentSuggestion> moments, sorvane::SourceTraits traits = {})
    {
        auto sample = std::make_shared<sorvane::LoadedSample>();
        sample->sampleRate = 1000.0;
        sample->name = "minute.wav";
        sample->audio.setSize(2, 60000);
        juce::Random random(3);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 60000; ++i)
                sample->audio.setSample(c, i, 0.2f * (random.nextFloat() - 0.5f));
        sample->moments = std::move(moments);
        sample->traits = traits;
        processor->getSourceLibrary().publish(sample);
        editor->refreshMomentSuggestions();
    }

    std::pair<double, double> range()
    {
        auto& t = processor->getTransportState();
        return {t.rangeStart.load(), t.rangeEnd.load()};
    }
};

sorvane::MomentSuggestion moment(double start, double length, float score)
{
    sorvane::MomentSuggestion m;
    m.startSeconds = start;
    m.lengthSeconds = length;
    m.score = score;
    return m;
}

const std::vector<sorvane::MomentSuggestion> twoMoments{moment(10.0, 10.0, 0.734f), moment(30.0, 12.0, 0.5f)};
} // namespace

TEST(EditorJourney, ChoosingAMomentSetsTheRangeAndSaysWhichRegion)
{
    struct Case
    {
        int itemId;
        double start, end;
        const char* status;
    };
    const Case cases[] = {
        {2, 0.5, 0.7,
         "SUGGESTED REGION / 30.0S / 42.0S / SCORE 50 / METRICS ONLY, NOT AN ARTISTIC QUALITY CLAIM"},
        {1000, 0.0, 1.0, "FULL SAMPLE SELECTED"},
        {1, 10.0 / 60.0, 20.0 / 60.0,
         "SUGGESTED REGION / 10.0S / 20.0S / SCORE 73 / METRICS ONLY, NOT AN ARTISTIC QUALITY CLAIM"},
    };
    EditorFixture f;
    f.editor->setTresselMode(true);
    f.publishSource(twoMoments);
    auto& moments = f.editor->getTresselControls().moments;
    ASSERT_TRUE(moments.isShowing() || moments.isVisible());
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.itemId);
        // The whole file again, so every suggestion is offered.
        juce::String error;
        ASSERT_TRUE(f.processor->getSourceTransport().setSourceRange(0.0, 1.0, true, false, error)) << error;
        f.editor->refreshMomentSuggestions();
        ASSERT_GE(moments.indexOfItemId(c.itemId), 0);
        moments.setSelectedId(c.itemId, juce::sendNotificationSync);
        EXPECT_NEAR(f.range().first, c.start, 1e-9);
        EXPECT_NEAR(f.range().second, c.end, 1e-9);
        EXPECT_EQ(f.editor->getStatusMessage(), c.status);
    }
}

TEST(EditorJourney, AMomentOutsideTheRangeOrMissingLeavesTheRangeAndSaysWhy)
{
    EditorFixture f;
    f.editor->setTresselMode(true);
    f.publishSource(twoMoments);
    juce::String error;
    // The first half holds only the first moment.
    ASSERT_TRUE(f.processor->getSourceTransport().setSourceRange(0.0, 0.5, true, false, error)) << error;
    f.editor->chooseMoment(2);
    EXPECT_EQ(f.editor->getStatusMessage(), "No ranked moment remains inside the selected source range.");
    EXPECT_EQ(f.range(), std::make_pair(0.0, 0.5));

    f.publishSource({});
    f.editor->chooseMoment(1);
    EXPECT_EQ(f.editor->getStatusMessage(), "No ranked moment is available for this source.");
    EXPECT_EQ(f.range(), std::make_pair(0.0, 0.5));
}

TEST(EditorJourney, TheBrowserShowsThePresetJustSavedRenamedOrCopied)
{
    EditorFixture f(juce::AudioProcessor::wrapperType_VST3);
    auto& p = f.editor->getPresetControls();
    const auto folder = sorvane::PresetCatalog::defaultUserPresetDirectory();
    ASSERT_TRUE(folder.isAChildOf(f.home.getFolder()));
    ASSERT_NE(f.editor->getSelectedPreset(), nullptr);
    ASSERT_EQ(f.editor->getSelectedPreset()->kind, sorvane::PresetKind::Factory);

    const auto expectShown = [&](const juce::String& name, const juce::String& status)
    {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(f.editor->getStatusMessage(), status);
        EXPECT_EQ(p.browser.getText(), name);
        const auto* selected = f.editor->getSelectedPreset();
        ASSERT_NE(selected, nullptr);
        EXPECT_EQ(selected->name, name);
        EXPECT_EQ(selected->kind, sorvane::PresetKind::User);
        for (auto* b : {&p.rename, &p.duplicate, &p.tags, &p.remove})
            EXPECT_TRUE(b->isEnabled()) << b->getButtonText();
    };

    ASSERT_TRUE(f.editor->savePresetToChosenFile(folder.getChildFile("Mine"), false));
    expectShown("Mine", "PRESET SAVED");

    ASSERT_TRUE(f.editor->performPresetAction((int)sorvane::PresetAction::rename,
                                              f.editor->getSelectedPreset()->id, "  Yours ", {}, {}));
    expectShown("Yours", "USER PRESET LIBRARY UPDATED");

    ASSERT_TRUE(f.editor->performPresetAction((int)sorvane::PresetAction::duplicate,
                                              f.editor->getSelectedPreset()->id, "Yours Copy", {}, {}));
    expectShown("Yours Copy", "USER PRESET LIBRARY UPDATED");

    // A filter of the row that hides the new preset gives way to it.
    p.sourceFilter.setSelectedId(2, juce::sendNotificationSync); // FACTORY
    ASSERT_EQ(f.editor->getSelectedPreset()->kind, sorvane::PresetKind::Factory);
    ASSERT_TRUE(f.editor->savePresetToChosenFile(folder.getChildFile("Second"), false));
    expectShown("Second", "PRESET SAVED");
    EXPECT_EQ(p.sourceFilter.getText(), "ALL");
}

TEST(EditorJourney, ChoosingTheEntryTheBrowserAlreadyShowsAppliesIt)
{
    EditorFixture f(juce::AudioProcessor::wrapperType_VST3);
    auto& p = f.editor->getPresetControls();
    // A search that leaves one factory entry, shown as selected but not applied.
    int row = -1;
    for (int r = 0; r < f.processor->getNumPrograms() && row < 0; ++r)
    {
        p.search.setText(f.processor->getProgramName(r), false);
        f.editor->refreshPresetBrowser(false);
        if (p.browser.getNumItems() == 1 && r != f.processor->getCurrentProgram())
            row = r;
    }
    ASSERT_GE(row, 0) << "no name narrows the list to one entry";
    ASSERT_EQ(p.browser.getText(), f.processor->getProgramName(row));
    ASSERT_NE(f.processor->getCurrentProgram(), row);

    // The menu's answer when the user picks the entry it already shows.
    p.browser.menuFinished(p.browser.getSelectedId());
    EXPECT_EQ(f.processor->getCurrentProgram(), row);
    EXPECT_EQ(f.editor->getStatusMessage(), f.editor->getSelectedPreset()->description());
    EXPECT_TRUE(f.processor->isPresetExperimentActive());
}

TEST(EditorJourney, BlindAutoStaysOnAutoThroughTresselAndAgainAndTheReportNamesThePick)
{
    EditorFixture f;
    f.editor->setTresselMode(true);
    auto& t = f.editor->getTresselControls();
    t.shape.setSelectedItemIndex(sorvane::tresselAuto, juce::dontSendNotification);
    f.editor->getMutationControls().seed.setText("41", false);
    for (auto* button : {&t.generate, &t.again})
    {
        SCOPED_TRACE(button->getButtonText());
        button->triggerClick();
        sorvane::test::pumpMessages(); // the click is delivered asynchronously
        const auto seed = (std::uint32_t)f.editor->getMutationControls().seed.getText().getLargeIntValue();
        EXPECT_EQ(t.shape.getText(), "AUTO");
        const auto used = sorvane::tresselPersonalityNames[sorvane::resolvePersonality(0, seed)];
        EXPECT_TRUE(f.editor->getStatusMessage().startsWith(juce::String("TRESSEL / ") + used +
                                                            " / A ACTIVE / FOUR EXACT VARIANTS READY / "
                                                            "BLIND FALLBACK (LOW CONFIDENCE)"))
            << f.editor->getStatusMessage();
    }
    EXPECT_EQ(f.editor->getMutationControls().seed.getText(), "42");
}

// A confident analysis makes AUTO choose the source's shape; the session stores that shape, and the
// selector shows it, so AGAIN explores the same shape with the next seed.
TEST(EditorJourney, SourceAwareAutoShowsTheShapeItChoseAndAgainKeepsIt)
{
    EditorFixture f;
    f.editor->setTresselMode(true);
    sorvane::SourceTraits bass;
    bass.family = 2;
    bass.confidence = 0.8f;
    bass.recommendedPersonality = 2;
    f.publishSource({}, bass);
    auto& t = f.editor->getTresselControls();
    t.shape.setSelectedItemIndex(sorvane::tresselAuto, juce::dontSendNotification);
    t.generate.triggerClick();
    sorvane::test::pumpMessages();
    EXPECT_TRUE(f.editor->getStatusMessage().startsWith("TRESSEL / MACHINE / A ACTIVE / FOUR EXACT VARIANTS "
                                                        "READY / SOURCE-AWARE BASS"))
        << f.editor->getStatusMessage();
    EXPECT_EQ(t.shape.getText(), "MACHINE");
    t.again.triggerClick();
    sorvane::test::pumpMessages();
    EXPECT_EQ(t.shape.getText(), "MACHINE");
    EXPECT_TRUE(f.editor->getStatusMessage().startsWith("TRESSEL / MACHINE / A ACTIVE"))
        << f.editor->getStatusMessage();
}
