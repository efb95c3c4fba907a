#include "editor/ExportActivity.h"

ExportActivity::ExportActivity()
{
    setComponentID("exportActivity");
    setTitle("Export in progress");

    progressBar.setComponentID("exportAnimation");
    progressBar.setTitle("Export running; please wait for completion");
    progressBar.setPercentageDisplay(false);
    progressBar.setTextToDisplay(runningText);
    addChildComponent(progressBar);

    cancelButton.setComponentID("cancelExport");
    cancelButton.setTitle("Cancel current export");
    cancelButton.onClick = [this] { cancelClicked(); };
    addChildComponent(cancelButton);

    setVisible(false);
}

ExportActivity::~ExportActivity()
{
    cancelButton.onClick = nullptr;
}

void ExportActivity::setActive(bool shouldBeActive)
{
    if (shouldBeActive && !isVisible())
    {
        cancelButton.setEnabled(true);
        progressBar.setTextToDisplay(runningText);
    }

    progressBar.setVisible(shouldBeActive);
    cancelButton.setVisible(shouldBeActive);
    setVisible(shouldBeActive);
}

void ExportActivity::cancelClicked()
{
    cancelButton.setEnabled(false);
    progressBar.setTextToDisplay(cancellingText);
    if (onCancel != nullptr)
        onCancel();
}

void ExportActivity::resized()
{
    const auto cancelWidth = juce::jmin(getWidth(), 92);
    cancelButton.setBounds(getWidth() - cancelWidth, 0, cancelWidth, getHeight());
    progressBar.setBounds(0, 0, juce::jmax(0, getWidth() - cancelWidth - 8), getHeight());
}
