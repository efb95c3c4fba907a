#include "app/StandaloneFullscreenWindow.h"

namespace knurlkit
{
namespace
{
constexpr int buttonTop = 6;
constexpr int optionsButtonX = 8;
constexpr int optionsButtonWidth = 60;
constexpr int fullscreenButtonX = 74;
constexpr int fullscreenButtonWidth = 94;
constexpr int compactTitleBarHeight = 27;
constexpr int compactFullscreenButtonHeight = 18;
constexpr int kioskCheckIntervalMs = 100;
} // namespace

StandaloneFullscreenWindow::StandaloneFullscreenWindow(
    const juce::String& title, juce::Colour backgroundColour, juce::PropertySet* settingsToUse,
    bool takeOwnershipOfSettings, const juce::String& preferredDefaultDeviceName,
    const juce::AudioDeviceManager::AudioDeviceSetup* preferredSetupOptions,
    const juce::Array<PluginInOuts>& constrainToConfiguration)
    : juce::StandaloneFilterWindow(title, backgroundColour, settingsToUse, takeOwnershipOfSettings,
                                   preferredDefaultDeviceName, preferredSetupOptions,
                                   constrainToConfiguration)
{
    fullscreenButton.onClick = [this] { toggleFullscreen(); };
    // The title bar is the window's own area, not the content's: bypass ResizableWindow's warning.
    juce::Component::addAndMakeVisible(fullscreenButton);

    addKeyListener(this);
    startTimer(kioskCheckIntervalMs);
    resized();
    updateFullscreenButton();
}

StandaloneFullscreenWindow::~StandaloneFullscreenWindow()
{
    stopTimer();
    removeKeyListener(this);

    // The desktop must not keep a deleted kiosk component, and the saved position should be the
    // windowed one.
    if (isFullscreen() || fullscreenRequested)
        leaveFullscreen();
}

bool StandaloneFullscreenWindow::isFullscreen() const
{
    return juce::Desktop::getInstance().getKioskModeComponent() == this;
}

void StandaloneFullscreenWindow::toggleFullscreen()
{
    if (isFullscreen())
    {
        leaveFullscreen();
        return;
    }

    if (!fullscreenRequested)
        savedBounds = getBounds();

    fullscreenRequested = true;
    suspendResizeConstrainer();
    juce::Desktop::getInstance().setKioskModeComponent(this, false);
    updateFullscreenButton();
}

void StandaloneFullscreenWindow::suspendResizeConstrainer()
{
    if (!constrainersSuspended)
    {
        suspendedWindowConstrainer = getConstrainer();
        constrainersSuspended = true;
    }
    setConstrainer(nullptr);

    if (auto* editor = findEditor())
    {
        if (suspendedEditor == nullptr)
        {
            suspendedEditor = editor;
            suspendedEditorConstrainer = editor->getConstrainer();
        }
        editor->setConstrainer(nullptr);
    }
}

void StandaloneFullscreenWindow::leaveFullscreen()
{
    fullscreenRequested = false;

    auto& desktop = juce::Desktop::getInstance();
    if (desktop.getKioskModeComponent() == this)
        desktop.setKioskModeComponent(nullptr, true);

    if (constrainersSuspended)
    {
        setConstrainer(suspendedWindowConstrainer);
        suspendedWindowConstrainer = nullptr;
        constrainersSuspended = false;
    }

    if (auto* editor = suspendedEditor.getComponent())
        editor->setConstrainer(suspendedEditorConstrainer);
    suspendedEditor = nullptr;
    suspendedEditorConstrainer = nullptr;

    if (savedBounds.getWidth() > 0 && savedBounds.getHeight() > 0)
        setBounds(savedBounds);

    updateFullscreenButton();
}

bool StandaloneFullscreenWindow::keyPressed(const juce::KeyPress& key, juce::Component*)
{
    if (key.getKeyCode() == juce::KeyPress::escapeKey)
    {
        if (!isFullscreen())
            return false;

        leaveFullscreen();
        return true;
    }

    if (key.getKeyCode() == juce::KeyPress::F11Key)
    {
        toggleFullscreen();
        return true;
    }

    return false;
}

void StandaloneFullscreenWindow::timerCallback()
{
    // A window manager may take kiosk mode away (minimise, workspace switch); take it back.
    if (fullscreenRequested && isShowing() && !isFullscreen())
    {
        suspendResizeConstrainer();
        juce::Desktop::getInstance().setKioskModeComponent(this, false);
        updateFullscreenButton();
    }
}

void StandaloneFullscreenWindow::updateFullscreenButton()
{
    const juce::String text = isFullscreen() ? "EXIT FULLSCREEN" : "FULLSCREEN";
    if (fullscreenButton.getButtonText() != text)
    {
        fullscreenButton.setButtonText(text);
        fullscreenButton.repaint();
    }
}

void StandaloneFullscreenWindow::resized()
{
    juce::StandaloneFilterWindow::resized();

    const auto h = getTitleBarHeight();
    if (auto* options = findOptionsButton())
        options->setBounds(optionsButtonX, buttonTop, optionsButtonWidth, h - 8);

    fullscreenButton.setBounds(fullscreenButtonX, buttonTop, fullscreenButtonWidth,
                               h < compactTitleBarHeight ? compactFullscreenButtonHeight : h - 8);
}

void StandaloneFullscreenWindow::closeButtonPressed()
{
    pluginHolder->savePluginState();
    juce::JUCEApplicationBase::quit();
}

juce::Button* StandaloneFullscreenWindow::findOptionsButton() const
{
    // JUCE keeps its "Options" button private; it is the window's other direct button child.
    for (auto* child : getChildren())
        if (auto* button = dynamic_cast<juce::Button*>(child))
            if (button != &fullscreenButton && button->getName() == "Options")
                return button;

    return nullptr;
}

juce::AudioProcessorEditor* StandaloneFullscreenWindow::findEditor() const
{
    if (auto* content = getContentComponent())
        for (auto* child : content->getChildren())
            if (auto* editor = dynamic_cast<juce::AudioProcessorEditor*>(child))
                return editor;

    return nullptr;
}
} // namespace knurlkit
