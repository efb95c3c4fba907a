#include "editor/EditorLayout.h"

#include <gtest/gtest.h>

using sorvane::computeEditorLayout;
using sorvane::EditorLayout;
using sorvane::EditorLayoutInput;
using Rect = EditorLayout::Rect;

namespace
{
// Every control rectangle of a layout with a name, for the geometric checks.
std::vector<std::pair<std::string, Rect>> controlsOf(const EditorLayout& l)
{
    std::vector<std::pair<std::string, Rect>> all = {{"modeCombo", l.modeCombo},
                                                     {"setup", l.setupButton},
                                                     {"workflow", l.workflowButton},
                                                     {"recent", l.recentProjects},
                                                     {"appearance", l.appearance},
                                                     {"search", l.search},
                                                     {"rename", l.rename},
                                                     {"duplicate", l.duplicate},
                                                     {"tags", l.tags},
                                                     {"remove", l.remove},
                                                     {"sourceFilter", l.sourceFilter},
                                                     {"tagFilter", l.tagFilter},
                                                     {"favourites", l.favourites},
                                                     {"browser", l.browser},
                                                     {"autoLevel", l.autoLevel},
                                                     {"audioQuality", l.audioQuality},
                                                     {"visualQuality", l.visualQuality},
                                                     {"fader", l.masterFader},
                                                     {"matchSource", l.matchSource},
                                                     {"resultLabel", l.resultLabel},
                                                     {"resultSlider", l.resultSlider},
                                                     {"keepMix", l.keepMix},
                                                     {"keepSound", l.keepSound},
                                                     {"revert", l.revertPresets},
                                                     {"recentPresets", l.recentPresets},
                                                     {"seed", l.seed},
                                                     {"mutationLabel", l.mutationLabel},
                                                     {"strength", l.strength},
                                                     {"mutate", l.mutate},
                                                     {"generate", l.generate},
                                                     {"restore", l.restoreBaseline},
                                                     {"undo", l.undo},
                                                     {"redo", l.redo},
                                                     {"save", l.save},
                                                     {"load", l.load},
                                                     {"saveProject", l.saveProject},
                                                     {"openProject", l.openProject},
                                                     {"loop", l.loop},
                                                     {"zeroSnap", l.zeroSnap},
                                                     {"stop", l.stop},
                                                     {"pause", l.pause},
                                                     {"play", l.play},
                                                     {"loadAudio", l.loadAudio},
                                                     {"clearAudio", l.clearAudio},
                                                     {"dragWav", l.dragWav},
                                                     {"exportWav", l.exportWav},
                                                     {"capture", l.capture},
                                                     {"captureLength", l.captureLength},
                                                     {"crossfade", l.crossfade},
                                                     {"audioIndicator", l.audioIndicator},
                                                     {"status", l.status},
                                                     {"shape", l.shape},
                                                     {"scale", l.scaleLabel},
                                                     {"intensity", l.intensity},
                                                     {"tressel", l.generateTressel},
                                                     {"again", l.again},
                                                     {"daily", l.daily},
                                                     {"instant", l.instant},
                                                     {"copyDna", l.copyDna},
                                                     {"pasteDna", l.pasteDna},
                                                     {"beforeAfter", l.beforeAfter},
                                                     {"keepThat", l.keepThat},
                                                     {"moments", l.moments},
                                                     {"aspect", l.aspect},
                                                     {"duration", l.duration},
                                                     {"background", l.background},
                                                     {"artist", l.artist},
                                                     {"effectedOnly", l.effectedOnly},
                                                     {"share", l.share},
                                                     {"before", l.before},
                                                     {"keep", l.keep}};
    for (size_t i = 0; i < 4; ++i)
    {
        all.push_back({"macroLabel" + std::to_string(i), l.macroLabels[i]});
        all.push_back({"macroSlider" + std::to_string(i), l.macroSliders[i]});
        all.push_back({"variation" + std::to_string(i), l.variations[i]});
        all.push_back({"variant" + std::to_string(i), l.variants[i]});
        for (size_t k = 0; k < l.knobs[i].size(); ++k)
            all.push_back({"knob" + std::to_string(i) + "." + std::to_string(k), l.knobs[i][k]});
    }
    for (size_t i = 0; i < 3; ++i)
    {
        all.push_back({"rangeLabel" + std::to_string(i), l.rangeLabels[i]});
        all.push_back({"rangeSlider" + std::to_string(i), l.rangeSliders[i]});
    }
    all.erase(std::remove_if(all.begin(), all.end(), [](const auto& c) { return c.second.isEmpty(); }),
              all.end());
    return all;
}
} // namespace

TEST(EditorLayout, EveryControlFitsTheWindowAndNoTwoOverlapAtEveryAllowedSize)
{
    for (const auto& size : {std::make_pair(1100, 700), std::make_pair(1180, 720), std::make_pair(1400, 860),
                             std::make_pair(1680, 1020)})
        for (const bool tressel : {false, true})
            for (const bool standalone : {false, true})
            {
                EditorLayoutInput in;
                in.width = size.first;
                in.height = size.second;
                in.tresselMode = tressel;
                in.standalone = standalone;
                const auto controls = controlsOf(computeEditorLayout(in));
                const Rect window(0, 0, in.width, in.height);
                const auto where = std::to_string(in.width) + "x" + std::to_string(in.height) +
                                   (tressel ? " tressel" : " studio") +
                                   (standalone ? " standalone" : " plug-in");
                for (const auto& [name, r] : controls)
                    EXPECT_TRUE(window.contains(r)) << name << " " << r.toString() << " at " << where;

                for (size_t a = 0; a < controls.size(); ++a)
                    for (size_t b = a + 1; b < controls.size(); ++b)
                        EXPECT_FALSE(controls[a].second.intersects(controls[b].second))
                            << controls[a].first << " " << controls[a].second.toString() << " overlaps "
                            << controls[b].first << " " << controls[b].second.toString() << " at " << where;
            }
}

TEST(EditorLayout, ModesPlaceOnlyTheirOwnControls)
{
    EditorLayoutInput in;
    in.standalone = true;
    in.tresselMode = false;
    const auto studio = computeEditorLayout(in);
    EXPECT_FALSE(studio.browser.isEmpty());
    EXPECT_FALSE(studio.knobs[3].empty());
    EXPECT_FALSE(studio.mutate.isEmpty());
    EXPECT_TRUE(studio.shape.isEmpty());
    EXPECT_TRUE(studio.variants[0].isEmpty());

    in.tresselMode = true;
    const auto tressel = computeEditorLayout(in);
    EXPECT_TRUE(tressel.browser.isEmpty());
    EXPECT_TRUE(tressel.knobs[0].empty());
    EXPECT_TRUE(tressel.mutate.isEmpty());
    EXPECT_FALSE(tressel.shape.isEmpty());
    EXPECT_FALSE(tressel.variants[3].isEmpty());
    EXPECT_FALSE(tressel.saveProject.isEmpty()) << "project buttons show in both modes";
    EXPECT_FALSE(tressel.masterFader.isEmpty());

    in.standalone = false;
    const auto plugin = computeEditorLayout(in);
    EXPECT_TRUE(plugin.saveProject.isEmpty());
    EXPECT_TRUE(plugin.loadAudio.isEmpty());
    EXPECT_TRUE(plugin.rangeSliders[0].isEmpty());
    EXPECT_FALSE(plugin.play.isEmpty());
    EXPECT_TRUE(plugin.audioIndicator.isEmpty()) << "a host owns the plug-in's audio device";
}

TEST(EditorLayout, TheNoAudioIndicatorLeadsTheTransportRowAtEverySize)
{
    for (const auto& size : {std::make_pair(1100, 700), std::make_pair(1680, 1020)})
    {
        EditorLayoutInput in;
        in.width = size.first;
        in.height = size.second;
        in.standalone = true;
        const auto l = computeEditorLayout(in);
        const auto where = std::to_string(in.width) + "x" + std::to_string(in.height);
        // "NO AUDIO" in bold 9.5 pt needs about 60 px.
        EXPECT_GE(l.audioIndicator.getWidth(), 70) << where;
        EXPECT_LE(l.audioIndicator.getWidth(), 120) << where;
        EXPECT_EQ(l.audioIndicator.getX(), 12) << where;
        EXPECT_LT(l.audioIndicator.getRight(), l.crossfade.getX()) << where;
        EXPECT_EQ(l.audioIndicator.getCentreY(), l.play.getCentreY()) << where;
    }
}

TEST(EditorLayout, PanelsVisualAndFaderAtTheDefaultSize)
{
    EditorLayoutInput in; // 1180 x 720, Studio Mode
    const auto l = computeEditorLayout(in);
    // Side panels: floor(1156 x 0.255) = 294 wide, from y 166, 720 - 166 - 172 = 382 high.
    EXPECT_EQ(l.sections[0], Rect(12, 166, 294, 382));
    EXPECT_EQ(l.sections[3], Rect(874, 166, 294, 382));
    // V = 42, S = floor(340 x 0.48) = 163; the visual is centred in the middle region.
    EXPECT_EQ(l.visual, Rect(449, 198, 187, 187));
    EXPECT_EQ(l.masterFader, Rect(638, 214, 82, 155));
    // Middle panels below the visual, ending with the side panels above the bottom block.
    EXPECT_EQ(l.sections[1], Rect(316, 350, 271, 198));
    EXPECT_EQ(l.sections[2], Rect(593, 350, 271, 198));
    // Six knobs in the left panel: rows of (382 - 35 - 8) / 6 = 56 px.
    ASSERT_EQ(l.knobs[0].size(), 6u);
    EXPECT_EQ(l.knobs[0][0], Rect(18, 205, 282, 56));
    EXPECT_EQ(l.knobs[0][5], Rect(18, 485, 282, 56));
    // Header and preset row anchors.
    EXPECT_EQ(l.appearance, Rect(1006, 11, 150, 30));
    EXPECT_EQ(l.browser, Rect(948, 50, 210, 26));
    EXPECT_EQ(l.search, Rect(22, 50, 220, 26));
}

TEST(EditorLayout, SmallPanelsRaiseKnobRowsTo28)
{
    EditorLayoutInput in;
    in.width = 1100;
    in.height = 700;
    const auto l = computeEditorLayout(in);
    // The right panel holds ten knobs: (362 - 35 - 8) / 10 = 31 px rows.
    ASSERT_EQ(l.knobs[3].size(), 10u);
    EXPECT_EQ(l.knobs[3][1].getY() - l.knobs[3][0].getY(), 31);
    EXPECT_EQ(l.sections[0].getWidth(), 274); // floor(1076 x 0.255)
}
