#include "editor/WorkflowPanel.h"

#include "processor/LockWord.h"
#include "processor/ParameterLayout.h"
#include "processor/SorvaneAudioProcessor.h"
#include "workflow/GroupRestore.h"

#include <cmath>

namespace sorvane::editor
{
namespace
{
using Rect = juce::Rectangle<int>;

const juce::StringArray sourceItems{"All", "Vocal", "Guitar", "Drums", "Bass", "Pad", "Full mix", "Unknown"};
const juce::StringArray purposeItems{"All", "Warmth", "Width", "Motion", "Texture", "Destruction", "Unknown"};
const juce::StringArray intensityItems{"All intensities", "Subtle: 0-30", "Character: 31-65",
                                       "Extreme: 66-100", "Unknown intensity"};
const juce::StringArray focusItems{"Vary all unlocked controls", "Vary only Pitch Controls",
                                   "Vary only Rhythmic Controls", "Vary only Space"};

bool tempoInRange(double tempo) noexcept
{
    return std::isfinite(tempo) && tempo >= 30.0 && tempo <= 300.0;
}

class WorkflowPanel : public juce::Component, private juce::Timer
{
public:
    WorkflowPanel(SorvaneAudioProcessor& p, DiscoveryFilter f,
                  std::function<void(DiscoveryFilter)> onFilterChanged, bool noteNames,
                  std::function<void(bool)> onNoteNamesChanged)
        : processor(p), filter(std::move(f)), filterCallback(std::move(onFilterChanged)),
          noteCallback(std::move(onNoteNamesChanged))
    {
        setSize(650, 390);
        buildDiscoverPage();
        tabs.addTab("Discover / Protect", tabColour, &discoverPage, false);
        tabs.addTab("Changes / Tuning", tabColour, &changesPage, false);
        tabs.addTab("Delay / Tempo", tabColour, &delayPage, false);
        tabs.setTabBarDepth(30);
        tabs.setComponentID("workflowTabs");
        addAndMakeVisible(tabs);
        setSize(650, 440);
        tabs.setBounds(getLocalBounds());
        buildChangesPage(noteNames);
        buildDelayPage();
        tabs.setCurrentTabIndex(0, false);
        timerCallback();
        startTimer(200);
    }

    ~WorkflowPanel() override { stopTimer(); }

private:
    static inline const juce::Colour tabColour{0xFF555555};

    static void place(juce::Component& page, juce::Component& c, Rect bounds)
    {
        page.addAndMakeVisible(c);
        c.setBounds(bounds);
    }

    static void paragraph(juce::Label& label)
    {
        label.setJustificationType(juce::Justification::topLeft);
        label.setMinimumHorizontalScale(1.0f);
    }

    void buildDiscoverPage()
    {
        auto& page = discoverPage;
        findLabel.setText("FIND A TREATMENT", juce::dontSendNotification);
        place(page, findLabel, {12, 8, 620, 26});
        sourceLabel.setText("Source (manual)", juce::dontSendNotification);
        place(page, sourceLabel, {12, 34, 198, 18});
        purposeLabel.setText("Purpose", juce::dontSendNotification);
        place(page, purposeLabel, {220, 34, 198, 18});
        intensityLabel.setText("Intensity", juce::dontSendNotification);
        place(page, intensityLabel, {428, 34, 198, 18});

        sourceCombo.addItemList(sourceItems, 1);
        sourceCombo.setTextWhenNothingSelected("Source (manual)");
        purposeCombo.addItemList(purposeItems, 1);
        purposeCombo.setTextWhenNothingSelected("Purpose");
        intensityCombo.addItemList(intensityItems, 1);
        intensityCombo.setTextWhenNothingSelected("Intensity");
        const auto selectText = [](juce::ComboBox& combo, const juce::String& text)
        {
            for (int i = 0; i < combo.getNumItems(); ++i)
                if (combo.getItemText(i).equalsIgnoreCase(text))
                    return combo.setSelectedItemIndex(i, juce::dontSendNotification);
        };
        selectText(sourceCombo, filter.source);
        selectText(purposeCombo, filter.purpose);
        intensityCombo.setSelectedItemIndex(filter.intensityBand, juce::dontSendNotification);
        sourceCombo.setComponentID("discoverySource");
        purposeCombo.setComponentID("discoveryPurpose");
        intensityCombo.setComponentID("discoveryIntensity");
        place(page, sourceCombo, {12, 56, 198, 30});
        place(page, purposeCombo, {220, 56, 198, 30});
        place(page, intensityCombo, {428, 56, 210, 30});
        for (auto* combo : {&sourceCombo, &purposeCombo, &intensityCombo})
            combo->onChange = [this] { filterChanged(); };

        discoverHelp.setText("Manual source choice works in every host. Unknown keeps untagged presets "
                             "discoverable. Choose a result in the main preset browser; Keep / Revert remain "
                             "available.",
                             juce::dontSendNotification);
        paragraph(discoverHelp);
        place(page, discoverHelp, {12, 94, 626, 48});

        const auto word = processor.lockWord.load(std::memory_order_acquire);
        for (int g = 0; g < 3; ++g)
        {
            auto& toggle = groupToggles[(size_t)g];
            toggle.setButtonText(juce::String("Lock ") + groupNames[(size_t)g]);
            toggle.setToggleState(((word >> (lockword::firstGroupBit + g)) & 1u) != 0,
                                  juce::dontSendNotification);
            toggle.setComponentID("lockGroup" + juce::String(g));
            toggle.onClick = [this] { applyProtection(); };
            place(page, toggle, {12, 153 + 46 * g, 190, 30});

            juce::StringArray ids;
            for (int bit = 0; bit < numDetailedParameters; ++bit)
                if ((groupMasks[g] >> bit) & 1u)
                    ids.add(detailedIds[bit]);
            groupLabels[(size_t)g].setText(ids.joinIntoString(", "), juce::dontSendNotification);
            place(page, groupLabels[(size_t)g], {205, 153 + 46 * g, 433, 30});
        }

        focusCombo.addItemList(focusItems, 1);
        focusCombo.setTextWhenNothingSelected("Mutation focus");
        focusCombo.setSelectedId(focusIndexOf(word) + 1, juce::dontSendNotification);
        focusCombo.setComponentID("mutationFocus");
        focusCombo.onChange = [this] { applyProtection(); };
        place(page, focusCombo, {12, 298, 310, 30});

        protectHelp.setText(
            "Group unlock removes only that group. Individual locks stay set. Focus protects "
            "controls outside the chosen group during mutation, TRESSEL and macros; it does not "
            "guarantee whole-chain pitch or transient preservation.",
            juce::dontSendNotification);
        paragraph(protectHelp);
        place(page, protectHelp, {12, 334, 626, 52});
    }

    void buildChangesPage(bool noteNames)
    {
        auto& page = changesPage;
        noteToggle.setButtonText("Show resonator / ring tuning as note names");
        noteToggle.setToggleState(noteNames, juce::dontSendNotification);
        noteToggle.setComponentID("showNoteNames");
        noteToggle.onClick = [this]
        {
            if (noteCallback)
                noteCallback(noteToggle.getToggleState());
        };
        place(page, noteToggle, {12, 10, 620, 28});

        tuningHelp.setText(
            "Double-click the ring/resonator value to enter Hz, C#4, Bb3 or a note with cents. "
            "A4 = 440 Hz; middle C = C4. Storage and host automation remain in Hz.",
            juce::dontSendNotification);
        paragraph(tuningHelp);
        place(page, tuningHelp, {12, 42, 626, 52});

        explanation.setMultiLine(true);
        explanation.setReadOnly(true);
        explanation.setComponentID("tresselChangeExplanation");
        explanation.setText(processor.describeTresselChanges(), false);
        place(page, explanation, {12, 102, 626, 230});

        const auto session = processor.getTresselSession();
        static constexpr const char* names[] = {"RESTORE TONE", "RESTORE RHYTHM", "RESTORE SPACE"};
        for (int k = 0; k < 3; ++k)
        {
            auto& button = restoreButtons[(size_t)k];
            button.setButtonText(names[k]);
            button.setComponentID("restoreGroup" + juce::String(k));
            button.setTooltip(
                "Restore this group's controls from Before; protected and unrelated controls stay "
                "unchanged. Undo is available.");
            button.setEnabled(session.isValid());
            button.onClick = [this, k] { restoreGroup(k); };
            place(page, button, {12 + 211 * k, 345, 204, 32});
        }
    }

    void buildDelayPage()
    {
        auto& page = delayPage;
        delayTitle.setText("DELAY TIMING", juce::dontSendNotification);
        place(page, delayTitle, {12, 10, 620, 28});

        juce::StringArray items{"Milliseconds"};
        const juce::StringArray divisions{"1/64", "1/32", "1/16", "1/8", "1/4", "1/2"};
        items.addArray(divisions);
        for (const auto& d : divisions)
            items.add(d + " dotted");
        for (const auto& d : divisions)
            items.add(d + " triplet");
        delayTiming.addItemList(items, 1);
        delayTiming.setComponentID("delaySyncMode");
        delayTiming.setTitle("Delay timing");
        place(page, delayTiming, {12, 48, 300, 32});
        delayAttachment = std::make_unique<juce::AudioProcessorValueTreeState::ComboBoxAttachment>(
            processor.getParameterState(), "delaySync", delayTiming);

        const bool standalone = processor.wrapperType == juce::AudioProcessor::wrapperType_Standalone;
        tempoLabel.setText(standalone ? "Standalone tempo"
                                      : "Host supplies tempo (standalone control unavailable)",
                           juce::dontSendNotification);
        place(page, tempoLabel, {12, 86, 626, 18});
        tempo.setSliderStyle(juce::Slider::LinearHorizontal);
        tempo.setTextBoxStyle(juce::Slider::TextBoxRight, false, 90, 28);
        tempo.setTitle("Standalone tempo (BPM)");
        tempo.setComponentID("standaloneTempoSlider");
        place(page, tempo, {12, 104, 400, 32});
        tempoAttachment = std::make_unique<juce::AudioProcessorValueTreeState::SliderAttachment>(
            processor.getParameterState(), "standaloneTempo", tempo);
        tempo.setTextValueSuffix(" BPM");
        tempo.setEnabled(standalone);

        delayStatus.setComponentID("delayStatus");
        place(page, delayStatus, {12, 150, 626, 70});
        delayHelp.setText(
            "Milliseconds preserves the existing Delay Time control. Sync uses the host tempo in a "
            "plug-in (120 BPM when the host supplies none), or the standalone tempo above.\n\n"
            "Straight, dotted and triplet divisions use the existing click-resistant delay "
            "transition. Divisions above the 1.8-second engine limit are unavailable. If tempo "
            "automation makes a selected division unsupported, delay wet fades out until it is "
            "supported again; other effects continue.",
            juce::dontSendNotification);
        paragraph(delayHelp);
        place(page, delayHelp, {12, 228, 626, 160});
    }

    void filterChanged()
    {
        filter.source = sourceCombo.getText();
        filter.purpose = purposeCombo.getText();
        filter.intensityBand = intensityCombo.getSelectedItemIndex();
        if (filterCallback)
            filterCallback(filter);
    }

    void applyProtection()
    {
        const int focus = juce::jlimit(0, 3, focusCombo.getSelectedItemIndex());
        const auto before = processor.captureParameterSnapshot();
        const auto old = processor.lockWord.load(std::memory_order_acquire);
        const auto word =
            protectedLockWord(old, groupToggles[0].getToggleState(), groupToggles[1].getToggleState(),
                              groupToggles[2].getToggleState(), focus);
        if (word == old)
            return;
        processor.pushMutationHistory(before);
        processor.lockWord.store(word);
        if (!processor.suppressProjectDirty.load())
            processor.projectDirty.store(true);
        processor.pushMutationHistory(processor.captureParameterSnapshot());
    }

    void restoreGroup(int group)
    {
        const auto session = processor.getTresselSession();
        auto current = processor.captureParameterSnapshot();
        const auto restored = restoreGroupFromBaseline(session, current, processor.lockWord.load(), group);
        if (restored.isValid())
        {
            // The state before, marked the same way, so undo puts the auditioned variant back too.
            current.setProperty("workflowGroupRestore", true, nullptr);
            current.setProperty("workflowRestoreSeed", (juce::int64)session.seed, nullptr);
            current.setProperty("workflowRestoreVariant", session.selectedVariant, nullptr);
            processor.pushMutationHistory(current);
            processor.applyParameterSnapshot(restored);
            processor.pushMutationHistory(restored);
            if (!processor.suppressProjectDirty.load())
                processor.projectDirty.store(true);
        }
        explanation.setText(processor.describeTresselChanges(), false);
    }

    void timerCallback() override
    {
        const bool standalone = processor.wrapperType == juce::AudioProcessor::wrapperType_Standalone;
        const auto& parameters = processor.getParameterState();
        const double tempoValue = standalone ? (double)*parameters.getRawParameterValue("standaloneTempo")
                                             : processor.currentTempoBpm.load();
        const bool usable = (standalone || processor.currentTempoValid.load()) && tempoInRange(tempoValue);
        for (int d = 1; d <= 18; ++d)
        {
            const auto ms = delayDivisionMilliseconds(d, tempoValue);
            delayTiming.setItemEnabled(d + 1, usable && ms >= 2.0 && ms <= 1800.0);
        }
        const int division = juce::roundToInt(parameters.getRawParameterValue("delaySync")->load());
        const auto text = delayStatusText(
            division, (double)parameters.getRawParameterValue("delayTime")->load(), tempoValue, usable);
        if (delayStatus.getText() != text)
            delayStatus.setText(text, juce::dontSendNotification);
    }

    SorvaneAudioProcessor& processor;
    DiscoveryFilter filter;
    std::function<void(DiscoveryFilter)> filterCallback;
    std::function<void(bool)> noteCallback;
    // The pages outlive the tabs that show them.
    juce::Component discoverPage, changesPage, delayPage;

    juce::Label findLabel, sourceLabel, purposeLabel, intensityLabel, discoverHelp, protectHelp;
    juce::ComboBox sourceCombo, purposeCombo, intensityCombo, focusCombo;
    std::array<juce::ToggleButton, 3> groupToggles;
    std::array<juce::Label, 3> groupLabels;

    juce::ToggleButton noteToggle;
    juce::Label tuningHelp;
    juce::TextEditor explanation;
    std::array<juce::TextButton, 3> restoreButtons;

    juce::Label delayTitle, tempoLabel, delayStatus, delayHelp;
    juce::ComboBox delayTiming;
    juce::Slider tempo;
    std::unique_ptr<juce::AudioProcessorValueTreeState::ComboBoxAttachment> delayAttachment;
    std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> tempoAttachment;
    juce::TabbedComponent tabs{juce::TabbedButtonBar::TabsAtTop};
};
} // namespace

double delayDivisionMilliseconds(int division, double tempoBpm) noexcept
{
    if (division < 1 || division > 18)
        return 0.0;
    static constexpr double fractions[] = {0.0625, 0.125, 0.25, 0.5, 1.0, 2.0};
    const double quarter = 60000.0 / tempoBpm;
    const double kind = division <= 6 ? 1.0 : division <= 12 ? 1.5 : 2.0 / 3.0;
    return quarter * fractions[(division - 1) % 6] * kind;
}

juce::String delayStatusText(int division, double delayTimeMs, double tempoBpm, bool tempoUsable)
{
    if (division == 0)
    {
        const auto ms =
            std::isfinite(delayTimeMs) && delayTimeMs >= 2.0 && delayTimeMs <= 1800.0 ? delayTimeMs : 180.0;
        return "Manual delay: " + juce::String(ms, 1) + " ms";
    }
    const auto ms = delayDivisionMilliseconds(division, tempoBpm);
    if (division >= 1 && division <= 18 && tempoUsable && tempoInRange(tempoBpm) && ms >= 2.0 && ms <= 1800.0)
        return juce::String(tempoBpm, 1) + " BPM " + juce::String::fromUTF8("\xe2\x80\x94") + " " +
               juce::String(ms, 1) + " ms";
    return "Unsupported clock / division: delay wet is muted. Choose a shorter division or Milliseconds.";
}

std::unique_ptr<juce::Component> createWorkflowPanel(SorvaneAudioProcessor& processor, DiscoveryFilter filter,
                                                     std::function<void(DiscoveryFilter)> onFilter,
                                                     bool showNoteNames,
                                                     std::function<void(bool)> onNoteNames)
{
    return std::make_unique<WorkflowPanel>(processor, std::move(filter), std::move(onFilter), showNoteNames,
                                           std::move(onNoteNames));
}
} // namespace sorvane::editor
