#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

// The strip shown while an export runs: an indeterminate progress bar and a cancel button. It knows
// nothing about export jobs; the owner shows it while one runs and supplies the cancel action.
class ExportActivity : public juce::Component
{
public:
    ExportActivity();
    ~ExportActivity() override;

    // Called on the message thread when the user cancels.
    std::function<void()> onCancel;

    void setActive(bool shouldBeActive);
    bool isActive() const noexcept { return isVisible(); }

    juce::ProgressBar& getProgressBar() noexcept { return progressBar; }
    juce::TextButton& getCancelButton() noexcept { return cancelButton; }

    void resized() override;

    static constexpr const char* runningText = "EXPORTING - PLEASE WAIT";
    static constexpr const char* cancellingText = "CANCELLING - PLEASE WAIT";

private:
    void cancelClicked();

    double progress = -1.0; // outside 0..1: the bar animates without a percentage
    juce::ProgressBar progressBar{progress};
    juce::TextButton cancelButton{"CANCEL"};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(ExportActivity)
};
