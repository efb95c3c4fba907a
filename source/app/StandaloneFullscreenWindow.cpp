#include "app/StandaloneFullscreenWindow.h"

#include "app/DesktopHints.h"
#include "app/WindowFit.h"
#include "editor/SorvaneAudioProcessorEditor.h"

#include <cmath>

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

// In full screen the bar is narrower than a title bar, and EXIT FULLSCREEN needs more room.
constexpr int barButtonTop = 4;
constexpr int barButtonHeight = StandaloneFullscreenWindow::fullscreenBarHeight - 2 * barButtonTop;
constexpr int barExitButtonWidth = 130;

bool isOfferedScale(int percent)
{
    for (auto step : windowScaleSteps)
        if (step == percent)
            return true;
    return false;
}
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
    // JUCE's own Options button offers no way to extend its menu; ours replaces it.
    for (auto* child : getChildren())
        if (auto* button = dynamic_cast<juce::Button*>(child))
            if (button->getName() == "Options")
                button->setVisible(false);

    // The title bar is the window's own area, not the content's: bypass ResizableWindow's warning.
    optionsButton.setTriggeredOnMouseDown(true);
    optionsButton.onClick = [this]
    {
        juce::Component::SafePointer<StandaloneFullscreenWindow> safeThis(this);
        createOptionsMenu().showMenuAsync(juce::PopupMenu::Options().withTargetComponent(&optionsButton),
                                          [safeThis](int result)
                                          {
                                              if (safeThis != nullptr && result != 0)
                                                  safeThis->handleOptionsMenuResult(result);
                                          });
    };
    juce::Component::addAndMakeVisible(optionsButton);

    fullscreenButton.onClick = [this] { toggleFullscreen(); };
    juce::Component::addAndMakeVisible(fullscreenButton);

    addKeyListener(this);
    startTimer(kioskCheckIntervalMs);

    bool hasSavedPosition = false;
    if (auto* settings = pluginHolder->settings.get())
    {
        const auto percent = settings->getIntValue(windowScaleKey, 0);
        scalePercent = isOfferedScale(percent) ? percent : 0;
        hasSavedPosition = settings->containsKey("windowX") && settings->containsKey("windowY");

        const auto width = settings->getIntValue(windowWidthKey, 0);
        const auto height = settings->getIntValue(windowHeightKey, 0);
        if (width > 0 && height > 0)
            setSize(width, height);
    }

    applyWindowScale();
    if (!hasSavedPosition)
        fitToDisplay(true);

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

    // JUCE keeps only the position; the size comes back too so a grown window stays grown.
    if (auto* settings = pluginHolder->settings.get())
    {
        settings->setValue(windowWidthKey, getWidth());
        settings->setValue(windowHeightKey, getHeight());
    }
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
    {
        setBounds(savedBounds);
        // The scale may have changed while in full screen.
        fitToDisplay(false);
    }

    updateFullscreenButton();
}

void StandaloneFullscreenWindow::focusGained(FocusChangeType cause)
{
    juce::StandaloneFilterWindow::focusGained(cause);
    // JUCE gives a window that comes back to the front the keyboard itself when it does not know
    // which child had it (after a dialog or chooser closed); keys then never reach the editor's
    // keyboard map.
    if (auto* editor = findEditor();
        editor != nullptr && editor->isShowing() && !isCurrentlyBlockedByAnotherModalComponent())
        editor->grabKeyboardFocus();
}

juce::BorderSize<int> StandaloneFullscreenWindow::getContentComponentBorder()
{
    if (isKioskMode())
        return {fullscreenBarHeight, 0, 0, 0};
    return juce::StandaloneFilterWindow::getContentComponentBorder();
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
    resized();
}

void StandaloneFullscreenWindow::resized()
{
    juce::StandaloneFilterWindow::resized();

    if (isKioskMode())
    {
        optionsButton.setBounds(optionsButtonX, barButtonTop, optionsButtonWidth, barButtonHeight);
        fullscreenButton.setBounds(optionsButton.getRight() + 6, barButtonTop, barExitButtonWidth,
                                   barButtonHeight);
    }
    else
    {
        const auto h = getTitleBarHeight();
        optionsButton.setBounds(optionsButtonX, buttonTop, optionsButtonWidth, h - 8);
        fullscreenButton.setBounds(fullscreenButtonX, buttonTop, fullscreenButtonWidth,
                                   h < compactTitleBarHeight ? compactFullscreenButtonHeight : h - 8);
    }

    // A reset to the default state puts new content on top of the window's children.
    optionsButton.toFront(false);
    fullscreenButton.toFront(false);
}

void StandaloneFullscreenWindow::paint(juce::Graphics& g)
{
    if (!isKioskMode())
    {
        juce::StandaloneFilterWindow::paint(g);
        return;
    }

    // DocumentWindow clips its painting to the title bar, which kiosk mode leaves empty.
    juce::ResizableWindow::paint(g);
    {
        const auto titleStart = fullscreenButton.getRight() + 8;
        getLookAndFeel().drawDocumentWindowTitleBar(*this, g, getWidth(), fullscreenBarHeight, titleStart,
                                                    juce::jmax(0, getWidth() - 2 * titleStart), nullptr,
                                                    false);
    }
}

void StandaloneFullscreenWindow::closeButtonPressed()
{
    juce::Component::SafePointer<StandaloneFullscreenWindow> safeThis(this);
    const auto close = [safeThis]
    {
        if (safeThis == nullptr)
            return;
        safeThis->pluginHolder->savePluginState();
        if (safeThis->onCloseConfirmed)
            safeThis->onCloseConfirmed();
        else
            juce::JUCEApplicationBase::quit();
    };
    // Only a person closes through the title bar; signals and scripted runs quit without asking.
    if (auto* editor = dynamic_cast<::SorvaneAudioProcessorEditor*>(
            pluginHolder->processor != nullptr ? pluginHolder->processor->getActiveEditor() : nullptr))
        editor->whenProjectChangesAreSettled("before closing", close);
    else
        close();
}

juce::PopupMenu StandaloneFullscreenWindow::createOptionsMenu() const
{
    juce::PopupMenu scales;
    scales.addItem(automaticScaleItem,
                   "Automatic (" + juce::String(juce::roundToInt(getAutomaticScale() * 100.0f)) + " %)", true,
                   scalePercent == 0);
    for (auto percent : windowScaleSteps)
        scales.addItem(scaleItemFor(percent), juce::String(percent) + " %", true, scalePercent == percent);

    // The same items, texts and ids as JUCE's own menu, so its handler serves them.
    juce::PopupMenu menu;
    menu.addItem(1, TRANS("Audio/MIDI Settings..."));
    menu.addSubMenu(TRANS("Window scale"), scales);
    menu.addSeparator();
    menu.addItem(2, TRANS("Save current state..."));
    menu.addItem(3, TRANS("Load a saved state..."));
    menu.addSeparator();
    menu.addItem(4, TRANS("Reset to default state"));
    return menu;
}

void StandaloneFullscreenWindow::handleOptionsMenuResult(int result)
{
    if (result == automaticScaleItem)
        setWindowScalePercent(0);
    else if (result > automaticScaleItem)
        setWindowScalePercent(result - automaticScaleItem);
    else
        handleMenuResult(result);
}

void StandaloneFullscreenWindow::setWindowScalePercent(int percent)
{
    scalePercent = isOfferedScale(percent) ? percent : 0;
    if (auto* settings = pluginHolder->settings.get())
        settings->setValue(windowScaleKey, scalePercent);
    applyWindowScale();
}

const juce::Displays::Display* StandaloneFullscreenWindow::currentDisplay() const
{
    const auto& displays = juce::Desktop::getInstance().getDisplays();
    if (auto* display = displays.getDisplayForRect(getScreenBounds()))
        return display;
    return displays.getPrimaryDisplay();
}

float StandaloneFullscreenWindow::getAutomaticScale() const
{
    auto* display = currentDisplay();
    if (display == nullptr)
        return 1.0f;

    const auto platformScale = display->scale / juce::Desktop::getInstance().getGlobalScaleFactor();
    return automaticWindowScale(platformScale, desktopFontDpi(), display->dpi);
}

juce::Point<int> StandaloneFullscreenWindow::windowedFrame()
{
    // In full screen the title bar and borders are gone; the limits are for the window outside it.
    if (!isKioskMode())
    {
        const auto border = juce::StandaloneFilterWindow::getContentComponentBorder();
        lastWindowedFrame = {border.getLeftAndRight(), border.getTopAndBottom()};
    }
    return lastWindowedFrame;
}

juce::Point<int> StandaloneFullscreenWindow::editorLimit(bool maximum) const
{
    // The editor's own limits while full screen has them suspended.
    auto* constrainer = suspendedEditor != nullptr ? suspendedEditorConstrainer : nullptr;
    if (constrainer == nullptr)
        if (auto* editor = findEditor())
            constrainer = editor->getConstrainer();
    if (constrainer == nullptr)
        return {};

    return maximum ? juce::Point<int>(constrainer->getMaximumWidth(), constrainer->getMaximumHeight())
                   : juce::Point<int>(constrainer->getMinimumWidth(), constrainer->getMinimumHeight());
}

void StandaloneFullscreenWindow::applyWindowScale()
{
    auto* display = currentDisplay();
    if (display == nullptr)
        return;

    auto& desktop = juce::Desktop::getInstance();
    const auto current = desktop.getGlobalScaleFactor();
    const auto wanted = scalePercent > 0 ? (float)scalePercent / 100.0f : getAutomaticScale();

    const auto usableAtScaleOne = (usableAreaOf(*display).toFloat() * current).toNearestInt();
    const auto scale = fittedWindowScale(wanted, usableAtScaleOne, editorLimit(false) + windowedFrame());

    if (std::abs(scale - current) > 0.001f)
    {
        // JUCE keeps the physical size of a window across a scale change; keep the logical size.
        const auto logicalBounds = isFullscreen() ? savedBounds : getBounds();
        desktop.setGlobalScaleFactor(scale);
        if (!isFullscreen())
            setBounds(logicalBounds);
    }

    if (isFullscreen())
    {
        if (auto* now = currentDisplay())
            setBounds(now->totalArea);
    }
    else
    {
        fitToDisplay(false);
    }
}

void StandaloneFullscreenWindow::fitToDisplay(bool centre)
{
    if (isFullscreen())
        return;

    auto* display = currentDisplay();
    if (display == nullptr)
        return;

    const auto frame = windowedFrame();
    const auto maximum = editorLimit(true);
    setBounds(fitWindowBounds(getBounds(), usableAreaOf(*display), editorLimit(false) + frame,
                              maximum.x > 0 ? maximum + frame : juce::Point<int>(), centre));
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
