#include "TestSupport.h"

#include "editor/SorvaneAudioProcessorEditor.h"
#include "EditorTestSupport.h"

#include <gtest/gtest.h>

#include <set>

using sorvane::test::makeProcessor;

namespace
{
using sorvane::test::findById;

struct EditorFixture
{
    explicit EditorFixture(juce::AudioProcessor::WrapperType wrapper) : processor(makeProcessor(wrapper))
    {
        editor.reset(dynamic_cast<SorvaneAudioProcessorEditor*>(processor->createEditor()));
    }

    ~EditorFixture() { editor = nullptr; }

    juce::Component& byId(const juce::String& id)
    {
        auto* c = findById(*editor, id);
        if (c == nullptr)
            throw std::runtime_error(("no component " + id).toStdString());
        return *c;
    }

    sorvane::test::ScopedTemporaryHome home;
    std::unique_ptr<SorvaneAudioProcessor> processor;
    std::unique_ptr<SorvaneAudioProcessorEditor> editor;
};

juce::KeyPress commandKey(char letter, bool shift = false)
{
    auto mods = juce::ModifierKeys::commandModifier | (shift ? juce::ModifierKeys::shiftModifier : 0);
    return juce::KeyPress(letter, juce::ModifierKeys(mods), 0);
}
} // namespace

TEST(Editor, OpensInTresselModeStandaloneAndStudioModeInAPlugin)
{
    EditorFixture standalone(juce::AudioProcessor::wrapperType_Standalone);
    ASSERT_NE(standalone.editor, nullptr);
    EXPECT_TRUE(standalone.editor->isTresselModeActive());
    EXPECT_EQ(dynamic_cast<juce::ComboBox&>(standalone.byId("interfaceMode")).getText(), "TRESSEL MODE");
    EXPECT_EQ(standalone.editor->getWidth(), 1180);
    EXPECT_EQ(standalone.editor->getHeight(), 720);

    EditorFixture plugin(juce::AudioProcessor::wrapperType_VST3);
    EXPECT_FALSE(plugin.editor->isTresselModeActive());
    EXPECT_EQ(dynamic_cast<juce::ComboBox&>(plugin.byId("interfaceMode")).getText(), "STUDIO MODE");
}

TEST(Editor, ModeSwitchChangesVisibilityOnly)
{
    EditorFixture f(juce::AudioProcessor::wrapperType_Standalone);
    f.processor->prepareToPlay(48000, 256);
    sorvane::test::setPlain(*f.processor, "drive", 37.0f);
    f.processor->lockWord.store(0x1234);
    const auto stateBefore = f.processor->captureParameterSnapshot().toXmlString();
    const auto engineBefore = f.processor->getEngine().inspect();

    for (const bool tressel : {false, true, false})
    {
        f.editor->setTresselMode(tressel);
        EXPECT_EQ(f.byId("presetBrowser").isVisible(), !tressel);
        EXPECT_EQ(f.byId("macroDamage").isVisible(), !tressel);
        EXPECT_EQ(f.byId("tresselGenerate").isVisible(), tressel);
        EXPECT_EQ(f.byId("tresselVariant2").isVisible(), tressel);
        EXPECT_TRUE(f.byId("masterTotalEffectGroup").isVisible());
        EXPECT_TRUE(f.byId("saveProject").isVisible()) << "project buttons show in both modes";
        for (const auto& knob : f.editor->getKnobs())
            EXPECT_EQ(knob->isVisible(), !tressel);
    }

    EXPECT_EQ(f.processor->captureParameterSnapshot().toXmlString(), stateBefore);
    EXPECT_EQ(f.processor->lockWord.load(), 0x1234u);
    const auto engineAfter = f.processor->getEngine().inspect();
    EXPECT_EQ(engineAfter.writtenCount, engineBefore.writtenCount);
    EXPECT_EQ(engineAfter.initialised, engineBefore.initialised);
}

TEST(Editor, StandaloneControlsAreHiddenInAPlugin)
{
    EditorFixture plugin(juce::AudioProcessor::wrapperType_VST3);
    for (const bool tressel : {false, true})
    {
        plugin.editor->setTresselMode(tressel);
        for (auto* id : {"saveProject", "loadProject", "sourceRangeLoop", "sourceRangeZeroSnap",
                         "sourceRangeIn", "sourceRangeOut", "sourceTimelinePosition", "sourceRangeLabel0"})
            EXPECT_FALSE(plugin.byId(id).isVisible()) << id;
    }
    EditorFixture standalone(juce::AudioProcessor::wrapperType_Standalone);
    for (auto* id : {"saveProject", "sourceRangeLoop", "sourceTimelinePosition"})
        EXPECT_TRUE(standalone.byId(id).isVisible()) << id;
}

TEST(Editor, ResizeLimits)
{
    EditorFixture f(juce::AudioProcessor::wrapperType_VST3);
    auto* constrainer = f.editor->getConstrainer();
    ASSERT_NE(constrainer, nullptr);
    EXPECT_EQ(constrainer->getMinimumWidth(), 1100);
    EXPECT_EQ(constrainer->getMinimumHeight(), 700);
    EXPECT_EQ(constrainer->getMaximumWidth(), 1680);
    EXPECT_EQ(constrainer->getMaximumHeight(), 1020);
    EXPECT_TRUE(f.editor->isResizable());
}

TEST(Editor, KeyboardMapReachesItsActions)
{
    EditorFixture f(juce::AudioProcessor::wrapperType_Standalone);
    int copies = 0, pastes = 0, keeps = 0;
    dynamic_cast<juce::Button&>(f.byId("copyTresselDna")).onClick = [&] { ++copies; };
    dynamic_cast<juce::Button&>(f.byId("pasteTresselDna")).onClick = [&] { ++pastes; };
    dynamic_cast<juce::Button&>(f.byId("keepThat")).onClick = [&] { ++keeps; };

    // COPY DNA is disabled without a session, so its shortcut clicks nothing then.
    EXPECT_TRUE(f.editor->keyPressed(commandKey('C', true)));
    sorvane::test::pumpMessages(50);
    EXPECT_EQ(copies, 0);

    f.editor->setTresselMode(false);
    EXPECT_TRUE(f.editor->keyPressed(commandKey('L')));
    EXPECT_TRUE(f.editor->isTresselModeActive()) << "Cmd+L enters Tressel Mode";
    EXPECT_TRUE(f.byId("copyTresselDna").isEnabled()) << "and generates, so there is DNA to copy";
    EXPECT_TRUE(f.editor->keyPressed(commandKey('C', true)));
    EXPECT_TRUE(f.editor->keyPressed(commandKey('V', true)));
    EXPECT_TRUE(f.editor->keyPressed(commandKey('K')));
    sorvane::test::pumpMessages(50);
    EXPECT_EQ(copies, 1);
    EXPECT_EQ(pastes, 1);
    EXPECT_EQ(keeps, 1);

    EXPECT_TRUE(f.editor->keyPressed(juce::KeyPress(juce::KeyPress::leftKey)));
    EXPECT_EQ(f.editor->getStatusMessage(), "SEEK -5% / EQUAL-POWER FADE");
    EXPECT_EQ(f.editor->getStatusCountdown(), 105);
    EXPECT_TRUE(f.editor->keyPressed(juce::KeyPress(juce::KeyPress::rightKey)));
    EXPECT_EQ(f.editor->getStatusMessage(), "SEEK +5% / EQUAL-POWER FADE");

    EXPECT_TRUE(f.editor->keyPressed(juce::KeyPress('f', juce::ModifierKeys::altModifier, 0)))
        << "Alt+F without a selected preset is consumed";
    EXPECT_FALSE(f.editor->keyPressed(juce::KeyPress(juce::KeyPress::escapeKey)))
        << "Escape without a capture passes on";
    EXPECT_FALSE(f.editor->keyPressed(juce::KeyPress('q', juce::ModifierKeys(), 0)));

    // Control works as the command modifier everywhere.
    f.editor->setTresselMode(false);
    EXPECT_TRUE(f.editor->keyPressed(juce::KeyPress('l', juce::ModifierKeys::ctrlModifier, 0)));
    EXPECT_TRUE(f.editor->isTresselModeActive());
}

TEST(Editor, TransportKeysBelongToTheStandaloneApp)
{
    EditorFixture plugin(juce::AudioProcessor::wrapperType_VST3);
    EXPECT_FALSE(plugin.editor->keyPressed(juce::KeyPress(juce::KeyPress::spaceKey)));
    EXPECT_FALSE(plugin.editor->keyPressed(juce::KeyPress(juce::KeyPress::leftKey)));
    EXPECT_TRUE(plugin.editor->keyPressed(commandKey('E'))) << "consumed without action in a plug-in";
}

TEST(Editor, ModeSwitchReportsOnTheStatusLine)
{
    EditorFixture f(juce::AudioProcessor::wrapperType_Standalone);
    f.editor->setTresselMode(false);
    EXPECT_EQ(f.editor->getStatusMessage(), "STUDIO MODE / COMPLETE SOUND DESIGN SURFACE");
    f.editor->setRefreshHooks({{}, [] { return true; }}); // the status line refreshes only while showing
    f.editor->timerCallback();
    EXPECT_EQ(dynamic_cast<juce::Label&>(f.byId("transportStatus")).getText(),
              "NO SAMPLE LOADED / DROP OR LOAD AUDIO  /  STUDIO MODE / COMPLETE SOUND DESIGN SURFACE");
    EXPECT_EQ(f.editor->getStatusCountdown(), 104);
}

TEST(Editor, IntensityTextsFollowTheShape)
{
    EditorFixture f(juce::AudioProcessor::wrapperType_Standalone);
    auto& shape = dynamic_cast<juce::ComboBox&>(f.byId("tresselPersonality"));
    auto& scale = dynamic_cast<juce::Label&>(f.byId("tresselSanityChaosValue"));
    auto& intensity = dynamic_cast<juce::Slider&>(f.byId("tresselSanityChaos"));
    EXPECT_EQ(shape.getNumItems(), 13);
    EXPECT_EQ(scale.getText(), "SANITY 0%" + juce::String::repeatedString(" ", 25) + "CHAOS 100%");
    EXPECT_EQ(intensity.getTitle(), "Sanity to Chaos intensity: 35%");

    shape.setSelectedItemIndex(12, juce::sendNotificationSync);
    EXPECT_EQ(shape.getText(), "ENHANCE");
    EXPECT_EQ(scale.getText(), "ENHANCE 0%" + juce::String::repeatedString(" ", 25) + "100%");
    intensity.setValue(60.0, juce::sendNotificationSync);
    EXPECT_EQ(intensity.getTitle(), "Enhance amount: 60%");
}

TEST(Editor, WithoutASessionTheVariantControlsAreIdle)
{
    EditorFixture f(juce::AudioProcessor::wrapperType_Standalone);
    for (int i = 0; i < 4; ++i)
    {
        auto& b = dynamic_cast<juce::Button&>(f.byId("tresselVariant" + juce::String(i)));
        EXPECT_EQ(b.getButtonText(), juce::String::charToString((juce::juce_wchar)('A' + i)));
        EXPECT_FALSE(b.isEnabled());
    }
    for (auto* id : {"tresselBefore", "tresselKeep", "copyTresselDna"})
        EXPECT_FALSE(f.byId(id).isEnabled()) << id;
}

TEST(LastDirectoryStore, RemembersFoldersAndFallsBack)
{
    sorvane::test::ScopedTemporaryHome home;
    const auto root =
        juce::File::getSpecialLocation(juce::File::tempDirectory).getNonexistentChildFile("dirs", "");
    ASSERT_TRUE(root.createDirectory());
    const auto audio = root.getChildFile("audio");
    const auto fallback = root.getChildFile("fallback");
    audio.createDirectory();
    fallback.createDirectory();
    const auto file = audio.getChildFile("take.wav");
    file.replaceWithText("x");

    {
        knurlkit::juce_utilities::LastDirectoryStore store(
            root, knurlkit::juce_utilities::LastDirectoryStore::editorOptions());
        EXPECT_EQ(store.get("audioDirectory"), root) << "nothing stored: the default";
        EXPECT_EQ(store.get("audioDirectory", fallback), fallback);
        juce::String error;
        EXPECT_TRUE(store.remember("audioDirectory", file, error)) << error;
        EXPECT_EQ(store.get("audioDirectory", fallback), audio);
        EXPECT_TRUE(store.getSettingsFile().existsAsFile()) << "saved at once";
        EXPECT_TRUE(store.getSettingsFile().getFullPathName().contains("Kavix"));
    }
    {
        knurlkit::juce_utilities::LastDirectoryStore reopened(
            root, knurlkit::juce_utilities::LastDirectoryStore::editorOptions());
        EXPECT_EQ(reopened.get("audioDirectory"), audio);
        audio.deleteRecursively();
        EXPECT_EQ(reopened.get("audioDirectory", fallback), fallback) << "a vanished folder falls back";
    }
    root.deleteRecursively();
}

TEST(Editor, RendersBothModesInEveryThemeForReview)
{
    const juce::File folder(SORVANE_EDITOR_IMAGE_DIR);
    ASSERT_TRUE(folder.createDirectory());
    EditorFixture f(juce::AudioProcessor::wrapperType_Standalone);
    auto* selector = f.editor->getAppearanceSelector();
    ASSERT_NE(selector, nullptr);

    static constexpr const char* themeNames[] = {"original", "graphite", "copper"};
    for (int theme = 0; theme < 3; ++theme)
    {
        selector->setTheme(theme, false);
        std::array<juce::Image, 2> images;
        for (const bool tressel : {false, true})
        {
            f.editor->setTresselMode(tressel);
            auto image = f.editor->createComponentSnapshot(f.editor->getLocalBounds(), true, 1.0f);
            ASSERT_EQ(image.getWidth(), 1180);

            // Not blank: many distinct colours across the window.
            std::set<juce::uint32> colours;
            for (int y = 0; y < image.getHeight(); y += 7)
                for (int x = 0; x < image.getWidth(); x += 7)
                    colours.insert(image.getPixelAt(x, y).getARGB());
            EXPECT_GT(colours.size(), 40u) << themeNames[theme] << (tressel ? " tressel" : " studio");

            const auto file = folder.getChildFile(
                juce::String("editor-") + (tressel ? "tressel-" : "studio-") + themeNames[theme] + ".png");
            file.deleteFile();
            juce::FileOutputStream out(file);
            ASSERT_TRUE(out.openedOk());
            ASSERT_TRUE(juce::PNGImageFormat().writeImageToStream(image, out));
            images[tressel ? 1 : 0] = image;
        }

        int differing = 0;
        for (int y = 0; y < 720; y += 4)
            for (int x = 0; x < 1180; x += 4)
                differing += images[0].getPixelAt(x, y) != images[1].getPixelAt(x, y);
        EXPECT_GT(differing, 5000) << "the two modes look different in " << themeNames[theme];
    }

    // The smallest window too, where text has the least room.
    f.editor->setSize(1100, 700);
    for (int theme = 0; theme < 3; ++theme)
    {
        selector->setTheme(theme, false);
        for (const bool tressel : {false, true})
        {
            f.editor->setTresselMode(tressel);
            const auto image = f.editor->createComponentSnapshot(f.editor->getLocalBounds(), true, 1.0f);
            ASSERT_EQ(image.getWidth(), 1100);
            const auto file =
                folder.getChildFile(juce::String("editor-minimum-") + (tressel ? "tressel-" : "studio-") +
                                    themeNames[theme] + ".png");
            file.deleteFile();
            juce::FileOutputStream out(file);
            ASSERT_TRUE(out.openedOk());
            ASSERT_TRUE(juce::PNGImageFormat().writeImageToStream(image, out));
        }
    }
    f.editor->setSize(1180, 720);

    // Themes recolour the window: the background of Original and Copper differ.
    selector->setTheme(0, false);
    const auto original = f.editor->createComponentSnapshot({0, 0, 4, 4}).getPixelAt(1, 1);
    selector->setTheme(2, false);
    const auto copper = f.editor->createComponentSnapshot({0, 0, 4, 4}).getPixelAt(1, 1);
    EXPECT_NE(original, copper);
}

TEST(Editor, KnobLockTogglesReachTheLockWordAndKeepEverythingElse)
{
    EditorFixture f(juce::AudioProcessor::wrapperType_VST3);
    const std::uint64_t groupsAndFocus = (1ull << 25) | (2ull << 27);
    const auto mixBit = SorvaneAudioProcessor::lockBitForParameterId("mix");
    f.processor->lockWord.store(groupsAndFocus | mixBit);
    f.processor->projectDirty.store(false);

    ParameterKnob* feedback = nullptr;
    for (const auto& knob : f.editor->getKnobs())
        if (knob->getParameterId() == "feedback")
            feedback = knob.get();
    ASSERT_NE(feedback, nullptr);
    f.editor->setRefreshHooks({{}, [] { return true; }}); // locks are written back only while showing
    feedback->getLockButton().setToggleState(true, juce::sendNotificationSync);
    f.editor->timerCallback();
    EXPECT_EQ(f.processor->lockWord.load(),
              groupsAndFocus | mixBit | SorvaneAudioProcessor::lockBitForParameterId("feedback"));
    EXPECT_TRUE(f.processor->projectDirty.load());

    feedback->getLockButton().setToggleState(false, juce::sendNotificationSync);
    f.editor->timerCallback();
    EXPECT_EQ(f.processor->lockWord.load(), groupsAndFocus | mixBit) << "a mix lock without a knob survives";
}

TEST(Editor, NewEditorShowsTheProcessorsLocks)
{
    auto processor = makeProcessor(juce::AudioProcessor::wrapperType_VST3);
    processor->lockWord.store(SorvaneAudioProcessor::lockBitForParameterId("tone"));
    sorvane::test::ScopedTemporaryHome home;
    std::unique_ptr<juce::AudioProcessorEditor> editor(processor->createEditor());
    auto* sorvaneEditor = dynamic_cast<SorvaneAudioProcessorEditor*>(editor.get());
    ASSERT_NE(sorvaneEditor, nullptr);
    for (const auto& knob : sorvaneEditor->getKnobs())
        EXPECT_EQ(knob->isLocked(), knob->getParameterId() == "tone") << knob->getParameterId();
}
