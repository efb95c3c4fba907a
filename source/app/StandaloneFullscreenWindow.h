#pragma once

#include <juce_audio_utils/juce_audio_utils.h>
#include <juce_audio_plugin_client/Standalone/juce_StandaloneFilterWindow.h>

namespace knurlkit
{
// JUCE's stand-alone window (holder, options menu, state files) plus full screen through the
// desktop's kiosk mode: a title-bar button and F11 toggle it, Escape leaves it, and leaving
// restores the bounds the window had before it first went full screen.
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
    void closeButtonPressed() override;

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

private:
    juce::Button* findOptionsButton() const;
    juce::AudioProcessorEditor* findEditor() const;

    juce::TextButton fullscreenButton{"FULLSCREEN"};
    juce::Rectangle<int> savedBounds;
    bool fullscreenRequested = false;

    bool constrainersSuspended = false;
    juce::ComponentBoundsConstrainer* suspendedWindowConstrainer = nullptr;
    juce::Component::SafePointer<juce::AudioProcessorEditor> suspendedEditor;
    juce::ComponentBoundsConstrainer* suspendedEditorConstrainer = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(StandaloneFullscreenWindow)
};
} // namespace knurlkit
