#include "app/StandaloneFullscreenWindow.h"
#include "editor/SorvaneAudioProcessorEditor.h"
#include "processor/SorvaneAudioProcessor.h"

#include <gtest/gtest.h>

#include <memory>

// Runs on a real X server (the test harness starts Xvfb): kiosk mode, peers and key dispatch are
// JUCE's own, not stand-ins.
namespace
{
using knurlkit::StandaloneFullscreenWindow;

void pump(int milliseconds)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil(milliseconds);
}

juce::AudioProcessorEditor* editorOf(StandaloneFullscreenWindow& window)
{
    for (auto* child : window.getContentComponent()->getChildren())
        if (auto* editor = dynamic_cast<juce::AudioProcessorEditor*>(child))
            return editor;
    return nullptr;
}

juce::Component* optionsButtonOf(StandaloneFullscreenWindow& window)
{
    for (auto* child : window.getChildren())
        if (child != &window.getFullscreenButton() && child->getName() == "Options")
            return child;
    return nullptr;
}

juce::Component* kioskComponent()
{
    return juce::Desktop::getInstance().getKioskModeComponent();
}

class StandaloneFullscreenWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(juce::Desktop::getInstance().getDisplays().displays.isEmpty()) << "needs an X server";
        juce::Array<juce::StandalonePluginHolder::PluginInOuts> outputsOnly;
        outputsOnly.add({0, 2});
        window = std::make_unique<StandaloneFullscreenWindow>("Sorvane", juce::Colours::black, &settings,
                                                              false, juce::String(), nullptr, outputsOnly);
        window->setVisible(true);
        pump(50);

        windowedBounds = window->getBounds();
        windowConstrainer = window->getConstrainer();
        editor = editorOf(*window);
        ASSERT_NE(editor, nullptr);
        editorConstrainer = editor->getConstrainer();
        ASSERT_NE(windowConstrainer, nullptr);
        ASSERT_NE(editorConstrainer, nullptr);
        ASSERT_EQ(kioskComponent(), nullptr);
    }

    void TearDown() override { window.reset(); }

    // Key presses travel the way X delivers them: through the window's peer.
    bool press(int keyCode) { return window->getPeer()->handleKeyPress(juce::KeyPress(keyCode)); }

    juce::Rectangle<int> screenArea() const
    {
        return juce::Desktop::getInstance()
            .getDisplays()
            .getDisplayForRect(window->getScreenBounds())
            ->totalArea;
    }

    void expectFullscreen()
    {
        EXPECT_EQ(kioskComponent(), window.get());
        EXPECT_EQ(window->getBounds(), screenArea());
        EXPECT_EQ(window->getFullscreenButton().getButtonText(), "EXIT FULLSCREEN");
        EXPECT_EQ(window->getConstrainer(), nullptr);
        EXPECT_EQ(editor->getConstrainer(), nullptr);
    }

    void expectWindowed()
    {
        EXPECT_EQ(kioskComponent(), nullptr);
        EXPECT_FALSE(window->isFullscreenRequested());
        EXPECT_EQ(window->getBounds(), windowedBounds);
        EXPECT_EQ(window->getFullscreenButton().getButtonText(), "FULLSCREEN");
        EXPECT_EQ(window->getConstrainer(), windowConstrainer);
        EXPECT_EQ(editor->getConstrainer(), editorConstrainer);
    }

    juce::PropertySet settings;
    std::unique_ptr<StandaloneFullscreenWindow> window;
    juce::Rectangle<int> windowedBounds;
    juce::ComponentBoundsConstrainer* windowConstrainer = nullptr;
    juce::AudioProcessorEditor* editor = nullptr;
    juce::ComponentBoundsConstrainer* editorConstrainer = nullptr;
};
} // namespace

TEST_F(StandaloneFullscreenWindowTest, F11EntersAndEscapeLeavesRestoringBoundsAndConstrainers)
{
    ASSERT_NE(windowedBounds, screenArea()) << "the window must start smaller than the screen";

    EXPECT_TRUE(press(juce::KeyPress::F11Key));
    expectFullscreen();

    EXPECT_TRUE(press(juce::KeyPress::escapeKey));
    expectWindowed();

    EXPECT_TRUE(press(juce::KeyPress::F11Key));
    expectFullscreen();
    EXPECT_TRUE(press(juce::KeyPress::F11Key));
    expectWindowed();
}

TEST_F(StandaloneFullscreenWindowTest, OnlyF11AndEscapeInFullScreenAreConsumed)
{
    // Not in full screen, Escape is left for the editor (which may cancel a capture with it).
    EXPECT_FALSE(window->keyPressed(juce::KeyPress(juce::KeyPress::escapeKey), window.get()));

    const int otherKeys[] = {'a', ' ', juce::KeyPress::F10Key, juce::KeyPress::F12Key,
                             juce::KeyPress::returnKey};
    for (auto key : otherKeys)
    {
        EXPECT_FALSE(window->keyPressed(juce::KeyPress(key), window.get())) << key;
        EXPECT_EQ(kioskComponent(), nullptr) << key;
    }

    EXPECT_TRUE(window->keyPressed(juce::KeyPress(juce::KeyPress::F11Key), window.get()));
    for (auto key : otherKeys)
    {
        EXPECT_FALSE(window->keyPressed(juce::KeyPress(key), window.get())) << key;
        EXPECT_EQ(kioskComponent(), window.get()) << key;
    }
    EXPECT_TRUE(window->keyPressed(juce::KeyPress(juce::KeyPress::escapeKey), window.get()));
    expectWindowed();
}

TEST_F(StandaloneFullscreenWindowTest, TheTitleBarButtonToggles)
{
    window->getFullscreenButton().triggerClick();
    pump(100);
    expectFullscreen();

    window->getFullscreenButton().triggerClick();
    pump(100);
    expectWindowed();
}

TEST_F(StandaloneFullscreenWindowTest, LostKioskModeIsTakenBackAndTheFirstBoundsSurvive)
{
    ASSERT_TRUE(press(juce::KeyPress::F11Key));

    // Something else ends kiosk mode and moves the window while full screen is still wanted.
    juce::Desktop::getInstance().setKioskModeComponent(nullptr);
    window->setBounds(windowedBounds.translated(37, 21).withSizeKeepingCentre(300, 200));
    EXPECT_TRUE(window->isFullscreenRequested());

    // A toggle now re-enters without remembering the moved bounds.
    ASSERT_TRUE(press(juce::KeyPress::F11Key));
    expectFullscreen();
    EXPECT_EQ(window->getSavedBounds(), windowedBounds);

    // Lost again: the 100 ms check takes kiosk mode back by itself.
    juce::Desktop::getInstance().setKioskModeComponent(nullptr);
    window->updateFullscreenButton();
    EXPECT_EQ(window->getFullscreenButton().getButtonText(), "FULLSCREEN");
    pump(400);
    expectFullscreen();

    ASSERT_TRUE(press(juce::KeyPress::escapeKey));
    expectWindowed();

    // Once left, the check leaves the window alone.
    pump(300);
    expectWindowed();
}

TEST_F(StandaloneFullscreenWindowTest, TitleBarButtonsFollowTheTitleBarHeight)
{
    struct Case
    {
        int titleBarHeight, optionsHeight, fullscreenHeight;
    };
    const Case cases[] = {{26, 18, 18}, {20, 12, 18}, {27, 19, 19}, {40, 32, 32}};

    auto* options = optionsButtonOf(*window);
    ASSERT_NE(options, nullptr);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.titleBarHeight);
        window->setTitleBarHeight(c.titleBarHeight);
        window->resized();
        EXPECT_EQ(options->getBounds(), juce::Rectangle<int>(8, 6, 60, c.optionsHeight));
        EXPECT_EQ(window->getFullscreenButton().getBounds(),
                  juce::Rectangle<int>(74, 6, 94, c.fullscreenHeight));
        EXPECT_TRUE(window->getFullscreenButton().isVisible());
    }
}

TEST_F(StandaloneFullscreenWindowTest, ClosingInFullScreenSavesTheWindowedPosition)
{
    ASSERT_TRUE(press(juce::KeyPress::F11Key));
    ASSERT_EQ(kioskComponent(), window.get());

    window.reset();
    EXPECT_EQ(kioskComponent(), nullptr);
    EXPECT_EQ(settings.getIntValue("windowX", -1), windowedBounds.getX());
    EXPECT_EQ(settings.getIntValue("windowY", -1), windowedBounds.getY());
}

// JUCE gives a window that comes back to the front the keyboard itself when it does not know which of
// its children had it, as after a dialog or chooser closed. The editor's keyboard map only hears keys
// with the keyboard inside the editor.
TEST_F(StandaloneFullscreenWindowTest, KeyboardGivenToTheWindowGoesOnToTheEditor)
{
    window->grabKeyboardFocus();
    pump(100);
    EXPECT_TRUE(editor->hasKeyboardFocus(true));
    // The stand-alone editor's arrow key (a seek) arrives through the window's peer.
    EXPECT_TRUE(press(juce::KeyPress::leftKey));
}

TEST_F(StandaloneFullscreenWindowTest, TheEditorHasTheKeyboardAfterADialogClosesAndTheWindowIsBack)
{
    auto* sorvaneEditor = dynamic_cast<SorvaneAudioProcessorEditor*>(editor);
    ASSERT_NE(sorvaneEditor, nullptr);
    editor->grabKeyboardFocus();
    pump(100);

    juce::AlertWindow::showMessageBoxAsync(
        juce::MessageBoxIconType::InfoIcon, "A dialog", "Closes soon", {}, nullptr,
        juce::ModalCallbackFunction::create([sorvaneEditor](int) { sorvaneEditor->restoreKeyboardFocus(); }));
    pump(300);
    auto* modal = juce::Component::getCurrentlyModalComponent();
    ASSERT_NE(modal, nullptr);
    ASSERT_FALSE(editor->hasKeyboardFocus(true));
    modal->exitModalState(0);
    pump(300);
    // The operating system hands the window its focus back after the dialog has gone.
    window->getPeer()->handleFocusGain();
    pump(100);

    EXPECT_TRUE(editor->hasKeyboardFocus(true));
    EXPECT_TRUE(press(juce::KeyPress::leftKey));
    EXPECT_EQ(sorvaneEditor->getStatusMessage(), "SEEK -5% / EQUAL-POWER FADE");
}

// The title bar's close asks before unsaved project changes are lost; a clean window closes at once.
TEST_F(StandaloneFullscreenWindowTest, ClosingWithUnsavedProjectChangesAsksFirst)
{
    auto* sorvaneEditor = dynamic_cast<SorvaneAudioProcessorEditor*>(editor);
    ASSERT_NE(sorvaneEditor, nullptr);
    std::vector<std::pair<juce::String, std::function<void(int)>>> prompts;
    sorvaneEditor->setAdvisorDialogPresenter(
        [&](const juce::String& title, const juce::String&, const std::vector<std::pair<juce::String, int>>&,
            std::function<void(int)> onResult) { prompts.emplace_back(title, std::move(onResult)); });
    int closes = 0;
    window->onCloseConfirmed = [&] { ++closes; };

    window->closeButtonPressed();
    EXPECT_EQ(closes, 1) << "nothing unsaved: no question";
    EXPECT_TRUE(prompts.empty());

    const auto folder = juce::File::getSpecialLocation(juce::File::tempDirectory)
                            .getNonexistentChildFile("sorvane-close-prompt", {}, false);
    ASSERT_TRUE(folder.createDirectory());
    const auto project = folder.getChildFile("Evening.sorvaneproject");
    ASSERT_TRUE(sorvaneEditor->saveProjectToChosenFile(project));
    auto& processor = dynamic_cast<SorvaneAudioProcessor&>(*sorvaneEditor->getAudioProcessor());
    processor.projectDirty.store(true);

    window->closeButtonPressed();
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0].first, "Save changes to Evening before closing?");
    EXPECT_EQ(closes, 1);
    prompts[0].second(0); // Cancel
    EXPECT_EQ(closes, 1);

    const auto before = project.loadFileAsString();
    window->closeButtonPressed();
    ASSERT_EQ(prompts.size(), 2u);
    prompts[1].second(2); // Don't Save
    EXPECT_EQ(closes, 2);
    EXPECT_EQ(project.loadFileAsString(), before);

    window->closeButtonPressed();
    ASSERT_EQ(prompts.size(), 3u);
    prompts[2].second(1); // Save
    EXPECT_EQ(closes, 3);
    EXPECT_FALSE(processor.projectDirty.load());
    folder.deleteRecursively();
}
