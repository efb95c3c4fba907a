#pragma once

#include <juce_audio_utils/juce_audio_utils.h>
#include <juce_audio_plugin_client/Standalone/juce_StandaloneFilterWindow.h>

namespace knurlkit
{
// JUCE's stand-alone window (holder, options menu, state files) plus full screen through the
// desktop's kiosk mode: a title-bar button and F11 toggle it, Escape leaves it, and leaving
// restores the bounds the window had before it first went full screen. In full screen a slim bar
// above the editor keeps Options and EXIT FULLSCREEN within reach.
//
// The window also fits the display it opens on (its saved size and position shrunk and moved to
// the usable area, never below the editor's minimum) and scales everything by the window scale
// chosen under Options, or by what the desktop asks for.
class StandaloneFullscreenWindow : public juce::StandaloneFilterWindow,
                                   public juce::KeyListener,
                                   public juce::Timer
{
public:
    StandaloneFullscreenWindow(
        const juce::String& title, juce::Colour backgroundColour, juce::PropertySet* settingsToUse,
        bool takeOwnershipOfSettings, const juce::String& preferredDefaultDeviceName = {},
        const juce::AudioDeviceManager::AudioDeviceSetup* preferredSetupOptions = nullptr,
        const juce::Array<PluginInOuts>& constrainToConfiguration = {});
    ~StandaloneFullscreenWindow() override;

    void resized() override;
    void paint(juce::Graphics& g) override;
    void focusGained(FocusChangeType cause) override;
    void closeButtonPressed() override;
    // What a confirmed close does after saving the window's state: the application quits unless set.
    std::function<void()> onCloseConfirmed;
    juce::BorderSize<int> getContentComponentBorder() override;

    using juce::StandaloneFilterWindow::keyPressed;
    bool keyPressed(const juce::KeyPress& key, juce::Component* originatingComponent) override;
    void timerCallback() override;

    void toggleFullscreen();
    void leaveFullscreen();
    void updateFullscreenButton();
    void suspendResizeConstrainer();

    bool isFullscreen() const;
    bool isFullscreenRequested() const noexcept { return fullscreenRequested; }
    juce::Rectangle<int> getSavedBounds() const noexcept { return savedBounds; }
    juce::TextButton& getFullscreenButton() noexcept { return fullscreenButton; }
    juce::TextButton& getOptionsButton() noexcept { return optionsButton; }
    juce::AudioProcessorEditor* findEditor() const;

    // JUCE's options menu with a "Window scale" submenu added.
    juce::PopupMenu createOptionsMenu() const;
    void handleOptionsMenuResult(int result);
    static constexpr int automaticScaleItem = 1000;
    static int scaleItemFor(int percent) noexcept { return automaticScaleItem + percent; }

    // 0 for automatic, else a percentage; remembered in the settings.
    void setWindowScalePercent(int percent);
    int getWindowScalePercent() const noexcept { return scalePercent; }
    float getAutomaticScale() const;

    // Applies the scale (bounded so the smallest window still fits the display) and fits the window
    // to the display's usable area.
    void applyWindowScale();
    void fitToDisplay(bool centre);

    static constexpr int fullscreenBarHeight = 30;

private:
    const juce::Displays::Display* currentDisplay() const;
    juce::Point<int> editorLimit(bool maximum) const;
    juce::Point<int> windowedFrame();

    juce::TextButton optionsButton{"Options"};
    juce::TextButton fullscreenButton{"FULLSCREEN"};
    juce::Rectangle<int> savedBounds;
    bool fullscreenRequested = false;
    int scalePercent = 0;
    juce::Point<int> lastWindowedFrame;

    bool constrainersSuspended = false;
    juce::ComponentBoundsConstrainer* suspendedWindowConstrainer = nullptr;
    juce::Component::SafePointer<juce::AudioProcessorEditor> suspendedEditor;
    juce::ComponentBoundsConstrainer* suspendedEditorConstrainer = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(StandaloneFullscreenWindow)
};
} // namespace knurlkit
