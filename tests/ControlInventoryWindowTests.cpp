// Every control a user can see, in both modes, in a real window: clicked, chosen, moved or typed into,
// each must do something a user can observe (the sound, the transport, the status line, a dialog,
// a chooser or a panel) or, when disabled, say why in its tooltip.
#include "WindowTestSupport.h"
#include "editor/AppearanceSelector.h"
#include "editor/ParameterKnob.h"
#include "editor/SorvaneAudioProcessorEditor.h"
#include "processor/SorvaneAudioProcessor.h"
#include "workflow/StableHash.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
struct InventoryOnScreen : sorvane::test::EditorWindowFixture
{
    ~InventoryOnScreen() override { closeEverythingOpen(); }

    void ensureSource()
    {
        if (processor->getSourceLibrary().getPublished() != nullptr)
            return;
        auto sample = std::make_shared<sorvane::LoadedSample>();
        sample->sampleRate = 8000.0;
        sample->name = "tone.wav";
        sample->audio.setSize(2, 64000);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 64000; ++i)
                sample->audio.setSample(c, i, 0.4f * std::sin(0.07f * (float)i));
        // One ranked moment, so the moments list offers more than the whole file.
        sorvane::MomentSuggestion moment;
        moment.startSeconds = 1.0;
        moment.lengthSeconds = 6.0;
        moment.score = 0.42f;
        sample->moments.push_back(moment);
        processor->getSourceLibrary().publish(sample);
        editor->refreshMomentSuggestions();
    }

    void closeEverythingOpen()
    {
        juce::PopupMenu::dismissAllActiveMenus();
        if (editor != nullptr)
            editor->closeWorkflowTools();
        for (int i = 0; i < 10 && juce::Component::getCurrentlyModalComponent() != nullptr; ++i)
        {
            juce::Component::getCurrentlyModalComponent()->exitModalState(0);
            pump(30);
        }
        processor->cancelProcessedCapture();
        juce::String error;
        processor->getSourceTransport().setSourceRange(0.0, 1.0, true, false, error);
        if (editor != nullptr)
            editor->refreshMomentSuggestions();
        // A search or filter chosen for one control would narrow the list for the next.
        if (editor != nullptr)
        {
            auto& p = editor->getPresetControls();
            p.search.setText({}, false);
            p.sourceFilter.setSelectedId(1, juce::dontSendNotification);
            p.tagFilter.setSelectedId(1, juce::dontSendNotification);
            p.favourites.setToggleState(false, juce::dontSendNotification);
            editor->refreshPresetBrowser(false);
        }
        pump(30);
    }

    // What a user can observe of the whole application at one moment.
    juce::String observe()
    {
        auto sound = processor->captureParameterSnapshot();
        sound.removeProperty("recentPresetHistory", nullptr);
        auto& t = processor->getTransportState();
        const auto identity = processor->getCreatorVideoIdentity();
        juce::String openWindows;
        for (int i = 0; i < juce::Desktop::getInstance().getNumComponents(); ++i)
            if (auto* c = juce::Desktop::getInstance().getComponent(i);
                c != nullptr && c->isShowing() && c != editor.get())
                openWindows << c->getName() << ";";
        if (auto* modal = juce::Component::getCurrentlyModalComponent())
            openWindows << "modal:" << modal->getName();
        if (editor->getWorkflowPanel() != nullptr && editor->getWorkflowPanel()->isShowing())
            openWindows << "workflow panel";
        return editor->getStatusMessage() + "|" + sorvane::treeDigest(sound) + "|" +
               juce::String((juce::int64)processor->lockWord.load()) + "|" +
               juce::String((int)t.playing.load()) + juce::String(t.rangeStart.load()) +
               juce::String(t.rangeEnd.load()) + juce::String((int)t.looping.load()) +
               juce::String((int)t.zeroSnap.load()) + juce::String(t.crossfadeMilliseconds.load()) +
               juce::String((juce::int64)t.seekRequestCount.load()) +
               juce::String((int)t.restartRequested.load()) + "|" +
               juce::String((int)processor->getProcessedCapture().isActive()) +
               juce::String(processor->captureBarsSetting.load()) + "|" + identity.artist +
               juce::String((int)identity.effectedOnly) + juce::String(processor->socialAspect.load()) +
               juce::String(processor->socialDuration.load()) +
               juce::String(processor->socialBackground.load()) + "|" +
               juce::String((int)editor->isTresselModeActive()) + "|" + openWindows + "|" +
               juce::String(editor->getAppearanceSelector()->getTheme()) + "|" +
               juce::String((int)editor->getPresetResults().size()) + "|" +
               juce::SystemClipboard::getTextFromClipboard().substring(0, 64) + "|" +
               juce::String((juce::pointer_sized_int)processor->getSourceLibrary().getPublished()) + "|" +
               juce::String(processor->getMutationHistory().getIndex()) + "|" +
               juce::String((int)processor->getTresselVariants().size()) + "|" +
               juce::String(editor->getVariantDisplay()) + "|" +
               juce::String(editor->getVisualQuality().getMode()) + "|" + inputs();
    }

    // Settings a later command reads (the mutation seed and strength, the Tressel amount and its
    // instant reveal): what they show is their effect until that command runs.
    juce::String inputs()
    {
        juce::String shown = juce::String(editor->getTresselControls().intensity.getValue()) +
                             juce::String((int)editor->getTresselControls().instant.getToggleState()) + ";";
        std::vector<juce::Component*> controls;
        collect(*editor, controls);
        for (auto* c : controls)
            if (auto* text = dynamic_cast<juce::TextEditor*>(c))
                shown << text->getText() << ";";
            else if (auto* slider = dynamic_cast<juce::Slider*>(c))
                if (slider->getComponentID().isEmpty() &&
                    dynamic_cast<ParameterKnob*>(slider->getParentComponent()) == nullptr)
                    shown << slider->getValue() << ";";
        return shown;
    }

    static juce::String describe(juce::Component& c)
    {
        juce::String name = c.getComponentID();
        if (auto* b = dynamic_cast<juce::Button*>(&c))
            name << " '" << b->getButtonText() << "'";
        if (name.isEmpty())
            name = c.getTitle().isNotEmpty() ? c.getTitle() : juce::String(typeid(c).name());
        return name;
    }

    static juce::String tooltipOf(juce::Component& c)
    {
        for (auto* p = &c; p != nullptr; p = p->getParentComponent())
            if (auto* client = dynamic_cast<juce::SettableTooltipClient*>(p);
                client != nullptr && client->getTooltip().isNotEmpty())
                return client->getTooltip();
        return {};
    }

    // Operates the control as a user would; false when there is nothing to operate.
    bool operate(juce::Component& c)
    {
        if (auto* b = dynamic_cast<juce::Button*>(&c))
        {
            b->triggerClick();
            return true;
        }
        if (auto* combo = dynamic_cast<juce::ComboBox*>(&c))
        {
            if (combo->getNumItems() < 1)
                return false;
            // The last choice: the next one may filter or show the same as the current one.
            for (int i = combo->getNumItems(); --i >= 0;)
            {
                const int id = combo->getItemId(i);
                if (id != combo->getSelectedId() && combo->isItemEnabled(id))
                {
                    combo->setSelectedId(id, juce::sendNotificationSync);
                    return true;
                }
            }
            return false;
        }
        if (auto* slider = dynamic_cast<juce::Slider*>(&c))
        {
            const auto range = slider->getRange();
            const double target = std::abs(slider->getValue() - range.getStart()) > range.getLength() * 0.3
                                      ? range.getStart() + range.getLength() * 0.1
                                      : range.getStart() + range.getLength() * 0.6;
            slider->setValue(target, juce::sendNotificationSync);
            return true;
        }
        if (auto* text = dynamic_cast<juce::TextEditor*>(&c))
        {
            text->grabKeyboardFocus();
            pump(30);
            // Something other than what it shows: the same field is met again in the other mode.
            text->setText(text->getText() == "glass 7" ? "glass 8" : "glass 7", true);
            if (auto* peer = editor->getPeer())
                peer->handleKeyPress(juce::KeyPress(juce::KeyPress::returnKey));
            return true;
        }
        return false;
    }

    // What a control was before it was operated, for the outcomes that depend on it.
    struct Before
    {
        bool looping = false, zeroSnap = false, tresselMode = false;
    };

    Before remember()
    {
        auto& t = processor->getTransportState();
        return {t.looping.load(), t.zeroSnap.load(), editor->isTresselModeActive()};
    }

    static juce::String expect(bool ok, const juce::String& what) { return ok ? juce::String() : what; }

    juce::String statusIs(const juce::String& text)
    {
        return expect(editor->getStatusMessage() == text,
                      "status '" + editor->getStatusMessage() + "', not '" + text + "'");
    }

    juce::String tresselReported(const juce::String& prefix)
    {
        const auto& s = editor->getStatusMessage();
        return expect(s.startsWith(prefix) && s.contains(" / A ACTIVE / FOUR EXACT VARIANTS READY"),
                      "status '" + s + "'");
    }

    // The outcome each command names for itself, beyond something having changed; an empty text when
    // the control did what it promises. Controls without an entry are held to the general check only.
    juce::String wrongOutcome(juce::Component& c, const Before& before)
    {
        auto* button = dynamic_cast<juce::Button*>(&c);
        const auto name = c.getComponentID().isNotEmpty() ? c.getComponentID()
                          : button != nullptr               ? "'" + button->getButtonText() + "'"
                                                            : juce::String();
        auto& t = processor->getTransportState();
        const auto range = std::make_pair(t.rangeStart.load(), t.rangeEnd.load());
        if (name == "bestMomentSuggestions")
        {
            auto& combo = dynamic_cast<juce::ComboBox&>(c);
            if (combo.getSelectedId() == 1000 || combo.getSelectedId() == 0)
                return expect(range == std::make_pair(0.0, 1.0), "the range is not the whole file") +
                       statusIs("FULL SAMPLE SELECTED");
            return expect(std::abs(range.first - 1.0 / 8.0) < 1e-9 &&
                              std::abs(range.second - 7.0 / 8.0) < 1e-9,
                          "the range is " + juce::String(range.first) + ".." + juce::String(range.second)) +
                   statusIs("SUGGESTED REGION / 1.0S / 7.0S / SCORE 42 / METRICS ONLY, NOT AN ARTISTIC "
                            "QUALITY CLAIM");
        }
        if (name == "'MUTATE'")
            return statusIs("MUTATED / CHARACTER STAGES PUSHED / UNDO TO RETURN");
        if (name == "'GENERATE 4'")
            return statusIs("4 DISTINCT VARIANTS READY / A IS THE BASELINE") +
                   expect(processor->getTresselVariants().size() == 4, "not four variations");
        if (name == "'TRESSEL'" || name == "'AGAIN'")
            return tresselReported("TRESSEL / ");
        if (name == "'DAILY'")
            return tresselReported("DAILY TRESSEL / ");
        if (name == "tresselPersonality")
        {
            auto& combo = dynamic_cast<juce::ComboBox&>(c);
            return tresselReported("TRESSEL / " + combo.getText() + " / ");
        }
        if (name == "'CLEAR AUDIO'")
            return statusIs("AUDIO CLEARED / DROP OR LOAD A NEW SAMPLE") +
                   expect(processor->getSourceLibrary().getPublished() == nullptr,
                          "the source is still there");
        if (name == "'PLAY'")
            return expect(t.playing.load(), "not playing");
        if (name == "'PAUSE'")
            return expect(!t.playing.load() && !t.restartRequested.load(), "not paused");
        if (name == "'STOP'")
            return expect(!t.playing.load() && t.restartRequested.load(), "not stopped at the range start");
        if (name == "sourceRangeLoop")
            return expect(t.looping.load() != before.looping, "LOOP did not change looping");
        if (name == "sourceRangeZeroSnap")
            return expect(t.zeroSnap.load() != before.zeroSnap, "ZERO SNAP did not change snapping");
        if (name == "interfaceMode")
            return expect(editor->isTresselModeActive() != before.tresselMode, "the mode did not change") +
                   statusIs(editor->isTresselModeActive()
                                ? "TRESSEL MODE / SIMPLIFIED STUDIO SURFACE / SAME SOUND ENGINE"
                                : "STUDIO MODE / COMPLETE SOUND DESIGN SURFACE");
        if (name == "workflowTools")
            return expect(editor->getWorkflowPanel() != nullptr && editor->getWorkflowPanel()->isShowing(),
                          "no WORKFLOW panel");
        if (name == "presetBrowser")
            return expect(editor->getSelectedPreset() != nullptr, "nothing selected") +
                   (editor->getSelectedPreset() != nullptr
                        ? statusIs(editor->getSelectedPreset()->description())
                        : juce::String());
        if (name == "kavixThemeChoice")
        {
            auto& combo = dynamic_cast<juce::ComboBox&>(c);
            return expect(editor->getAppearanceSelector()->getTheme() == combo.getSelectedId() - 1,
                          "the theme is not the one chosen");
        }
        if (name == "visualQualityMode")
        {
            auto& combo = dynamic_cast<juce::ComboBox&>(c);
            return expect(editor->getVisualQuality().getMode() == combo.getSelectedId() - 1,
                          "the visual quality is not the one chosen");
        }
        return {};
    }

    void collect(juce::Component& parent, std::vector<juce::Component*>& out)
    {
        for (auto* child : parent.getChildren())
        {
            const bool operable = dynamic_cast<juce::Button*>(child) != nullptr ||
                                  dynamic_cast<juce::ComboBox*>(child) != nullptr ||
                                  dynamic_cast<juce::Slider*>(child) != nullptr ||
                                  dynamic_cast<juce::TextEditor*>(child) != nullptr;
            if (operable)
                out.push_back(child);
            else
                collect(*child, out);
        }
    }
};
} // namespace

TEST_F(InventoryOnScreen, EveryVisibleControlInBothModesDoesSomethingOrSaysWhyNot)
{
    juce::StringArray dead, silentlyDisabled, exercised, wrong;
    for (const bool tresselMode : {false, true})
    {
        editor->setTresselMode(tresselMode);
        ensureSource();
        pump(200);
        std::vector<juce::Component*> controls;
        collect(*editor, controls);
        for (auto* c : controls)
        {
            juce::Component::SafePointer<juce::Component> control(c);
            closeEverythingOpen();
            editor->setTresselMode(tresselMode);
            ensureSource();
            pump(60);
            if (control == nullptr || !control->isShowing())
                continue;
            const auto name = juce::String(tresselMode ? "tressel: " : "studio: ") + describe(*control);
            if (!control->isEnabled())
            {
                if (tooltipOf(*control).isEmpty())
                    silentlyDisabled.add(name);
                continue;
            }
            editor->setStatusMessage({}, 0);
            const auto before = observe();
            const auto was = remember();
            if (!operate(*control))
                continue;
            pump(150);
            if (observe() == before)
                dead.add(name);
            else if (control != nullptr)
                if (const auto problem = wrongOutcome(*control, was);
                    problem.isNotEmpty())
                    wrong.add(name + ": " + problem);
            exercised.add(name);
        }
    }
    closeEverythingOpen();
    EXPECT_TRUE(dead.isEmpty()) << "controls that did nothing a user could see:\n  "
                                << dead.joinIntoString("\n  ");
    EXPECT_TRUE(wrong.isEmpty()) << "controls that did something other than they promise:\n  "
                                 << wrong.joinIntoString("\n  ");
    EXPECT_TRUE(silentlyDisabled.isEmpty())
        << "disabled without a reason:\n  " << silentlyDisabled.joinIntoString("\n  ");
    // A walk that found nothing to operate would pass vacuously.
    EXPECT_GT(exercised.size(), 80) << exercised.joinIntoString("\n");
}
