#include "editor/EditorLayout.h"

#include <algorithm>
#include <cmath>

namespace sorvane
{
namespace
{
using Rect = EditorLayout::Rect;

// A horizontal strip consumed from both ends; every width is capped by what remains.
class Row
{
public:
    Row(int left, int top, int right, int heightToUse)
        : x(left), y(top), end(std::max(left, right)), h(heightToUse)
    {
    }

    Rect left(int width)
    {
        width = std::clamp(width, 0, end - x);
        const Rect r(x, y, width, h);
        x += width;
        return r;
    }

    Rect right(int width)
    {
        width = std::clamp(width, 0, end - x);
        end -= width;
        return {end, y, width, h};
    }

    void gapLeft(int gap) { x = std::min(x + gap, end); }
    void gapRight(int gap) { end = std::max(end - gap, x); }
    int remaining() const { return end - x; }
    int cursor() const { return x; }

private:
    int x, y, end, h;
};

// Stacks controls downwards in a column.
class Column
{
public:
    Column(int left, int top, int widthToUse) : x(left), y(top), w(widthToUse) {}

    Rect take(int height)
    {
        const Rect r(x, y, w, height);
        y += height;
        return r;
    }

    void gap(int g) { y += g; }
    int top() const { return y; }

private:
    int x, y, w;
};

void layoutHeader(EditorLayout& l, int W, int H)
{
    const int headerHeight = std::min(32, std::clamp(H - 20, 0, 66));
    Row row(22, 10, W - 20, headerHeight);
    l.titleBlock = row.left(std::min(W - 44, 350));
    const int selectorBlock = std::min(row.remaining(), 154);
    l.appearance = Rect(W - 20 - selectorBlock, 11, std::max(0, selectorBlock - 4), 30);
    row.right(selectorBlock);

    row.gapLeft(6);
    l.modeCombo = row.left(110);
    row.gapLeft(6);
    l.setupButton = row.left(130);
    row.gapLeft(8);
    l.workflowButton = row.left(95);
    row.gapLeft(6);
    row.gapRight(6);
    l.recentProjects = row.left(row.remaining());
}

void layoutPresetRow(EditorLayout& l, int W)
{
    Row row(22, 50, W - 22, 26);
    l.browser = row.right(210);
    row.gapRight(4);
    l.favourites = row.right(100);
    row.gapRight(4);
    l.tagFilter = row.right(88);
    row.gapRight(4);
    l.sourceFilter = row.right(100);
    row.gapRight(6);

    l.search = row.left(220);
    row.gapLeft(6);
    l.rename = row.left(66);
    row.gapLeft(4);
    l.duplicate = row.left(54);
    row.gapLeft(4);
    l.tags = row.left(54);
    row.gapLeft(4);
    l.remove = row.left(62);
}

void layoutMacroRow(EditorLayout& l, int W)
{
    // The right-most 360 px of the (12, W - 28) strip hold the three mode combos.
    const int stripWidth = std::max(0, W - 28);
    const int comboArea = std::min(360, stripWidth);
    Row combos(12 + stripWidth - comboArea + 8, 125, 12 + stripWidth, 26);
    const auto slot = [&combos](int width) { return combos.left(width).withTrimmedRight(4); };
    l.autoLevel = slot(122);
    l.audioQuality = slot(106);
    l.visualQuality = slot(combos.remaining());

    const int macroWidth = std::max(0, stripWidth - comboArea);
    const int column = macroWidth / 4;
    for (int i = 0; i < 4; ++i)
    {
        const int x = 15 + i * column;
        l.macroLabels[(size_t)i] = Rect(x, 103, std::max(0, column - 2), 18);
        l.macroSliders[(size_t)i] = Rect(x, 121, std::max(0, column - 2), 34);
    }
}

void layoutSection(EditorLayout& l, int section, int count)
{
    auto& knobs = l.knobs[(size_t)section];
    knobs.clear();
    const auto panel = l.sections[(size_t)section];
    if (count <= 0)
        return;
    const int header = std::min(panel.getHeight(), 35);
    int rowHeight = (panel.getHeight() - header - 8) / count;
    if (rowHeight < 29)
        rowHeight = 28;
    for (int i = 0; i < count; ++i)
        knobs.push_back({panel.getX() + 6, panel.getY() + header + 4 + i * rowHeight,
                         std::max(0, panel.getWidth() - 12), rowHeight});
}

void layoutPanels(EditorLayout& l, const EditorLayoutInput& in)
{
    const int W = in.width, H = in.height;
    const int T = in.tresselMode ? 106 : 166;
    const int X = std::max(0, W - 24);
    int side = (int)std::floor(X * 0.255);
    if (side < 261)
        side = 260;
    const int P = H - T > 172 ? H - T - 172 : 0;

    l.sections[0] = Rect(12, T, side, P);
    l.sections[3] = Rect(W - 12 - side, T, side, P);
    const int leftRegion = side + 10;
    const int middleX = 12 + side + 10;
    const int middle = std::max(0, (W - 12 - side - 10) - middleX);

    const int V = std::min(P, 42);
    const int S = std::max(0, std::min((int)std::floor((P - V) * 0.48), middle - 126));
    const Rect editor(0, 0, W, H);
    l.visual =
        Rect(leftRegion + middle / 2 - (S + 96) / 2, T + V - 10, S + 24, S + 24).getIntersection(editor);
    l.visualSize = S;
    const int visualLeft = leftRegion + middle / 2 - (S + 96) / 2;
    l.masterFader = Rect(visualLeft + S + 26, T + V + 6, 82, S < 159 ? 150 : S - 8);

    const int offset = std::min(P, V + S + 12) - 33;
    const int middleTop = T + offset;
    // The middle panels end where the side panels end, above the bottom block; reaching 141 px
    // from the bottom would put their last knobs under the first bottom row.
    int middleHeight = H - 172 - middleTop;
    if (middleHeight < 35)
        middleHeight = 35;
    const int half = std::max(0, (middle - 6) / 2);
    l.sections[1] = Rect(middleX, middleTop, half, middleHeight);
    l.sections[2] = Rect(middleX + half + 6, middleTop, half, middleHeight);

    if (!in.tresselMode)
        for (int s = 0; s < 4; ++s)
            layoutSection(l, s, in.knobsPerSection[(size_t)s]);
}

void layoutBottom(EditorLayout& l, const EditorLayoutInput& in)
{
    const int W = in.width, H = in.height;
    const int block = std::min(H, 168);
    int y = H - block + 4;

    // Row 1: loudness and preset-audition controls
    {
        Row row(12, y, W - 12, 30);
        l.keepMix = row.right(210);
        const auto slot = [&row](int width) { return row.right(width).reduced(3, 0); };
        const auto keepSound = slot(100);
        const auto revertPresets = slot(150);
        l.recentPresets = slot(140);
        if (!in.tresselMode) // preset auditioning belongs to Studio Mode
        {
            l.keepSound = keepSound;
            l.revertPresets = revertPresets;
        }
        l.matchSource = row.left(220);
        l.resultLabel = row.left(100);
        l.resultSlider = row.left(400);
        y += 30 + 4;
    }

    // Row 2: mutation, or the variant row in Tressel Mode
    if (!in.tresselMode)
    {
        Row row(12, y, W - 12, 32);
        l.seed = row.left(74);
        row.gapLeft(4);
        l.mutationLabel = row.left(58);
        l.strength = row.left(112);
        row.gapLeft(4);
        l.mutate = row.left(86);
        row.gapLeft(4);
        l.generate = row.left(92);
        row.gapLeft(4);
        l.restoreBaseline = row.left(30);
        for (auto& b : l.variations)
        {
            row.gapLeft(3);
            b = row.left(34);
        }
        row.gapLeft(5);
        l.undo = row.left(54);
        row.gapLeft(3);
        l.redo = row.left(54);
        row.gapLeft(5);
        l.save = row.left(66);
        row.gapLeft(3);
        l.load = row.left(66);
        if (in.standalone)
        {
            row.gapLeft(5);
            l.saveProject = row.left(98);
            row.gapLeft(3);
            l.openProject = row.left(98);
        }
    }
    else
    {
        Row row(12, H - block + 38, W - 12, std::clamp(block - 42, 0, 32));
        if (in.standalone)
        {
            l.openProject = row.right(98);
            row.gapRight(4);
            l.saveProject = row.right(98);
            row.gapRight(4);
        }
        l.before = row.left(78);
        row.gapLeft(5);
        const int variantWidth = std::max(0, (row.remaining() - 104) / 4);
        for (size_t i = 0; i < l.variants.size(); ++i)
        {
            if (i > 0)
                row.gapLeft(4);
            l.variants[i] = row.left(variantWidth);
        }
        row.gapLeft(4);
        l.keep = row.left(88);
    }
    y += 32 + 4;

    // Row 3: source range (stand-alone only)
    if (in.standalone)
    {
        Row row(12, y, W - 12, 30);
        l.loop = row.left(64);
        row.gapLeft(4);
        l.zeroSnap = row.left(92);
        row.gapLeft(3);
        const int third = row.remaining() / 3;
        for (int i = 0; i < 3; ++i)
        {
            Row part(row.cursor() + i * third, y, row.cursor() + (i + 1) * third - 6, 30);
            l.rangeLabels[(size_t)i] = part.left(i == 2 ? 70 : 48);
            l.rangeSliders[(size_t)i] = part.left(part.remaining());
        }
        y += 30 + 4;
    }

    // Row 4: transport, capture and export
    {
        Row row(12, y, W - 12, 32);
        l.stop = row.right(72);
        row.gapRight(4);
        l.pause = row.right(76);
        row.gapRight(4);
        l.play = row.right(92);
        if (in.standalone)
        {
            const std::pair<Rect*, int> leftwards[] = {
                {&l.loadAudio, 108}, {&l.clearAudio, 96},    {&l.dragWav, 78},  {&l.exportWav, 88},
                {&l.capture, 84},    {&l.captureLength, 78}, {&l.crossfade, 92}};
            for (const auto& [bounds, width] : leftwards)
            {
                row.gapRight(4);
                *bounds = row.right(width);
            }
            // What is left of the row, at the smallest window still about 80 px.
            row.gapRight(4);
            l.audioIndicator = row.left(std::min(row.remaining(), 120)).reduced(0, 6);
        }
        y += 32 + 3;
    }

    l.status = Rect(18, y, std::max(0, W - 36), std::clamp(H - y, 0, 21));
}

void layoutTresselSurface(EditorLayout& l, const EditorLayoutInput& in)
{
    const int A = in.width - 40;
    const int leftColumn = std::min(A, std::max(A / 4, 248));
    const int controlWidth = std::max(0, leftColumn - 24);
    const int half = controlWidth / 2;
    Column left(32, 130, controlWidth);
    l.shape = left.take(34);
    left.gap(12);
    l.scaleLabel = left.take(24);
    l.intensity = left.take(40);
    left.gap(14);
    l.generateTressel = left.take(62);
    left.gap(8);
    const auto pair = [&](Rect& first, Rect& second)
    {
        const int top = left.top();
        left.take(34);
        first = Rect(34, top + 2, std::max(0, half - 4), 30);
        second = Rect(34 + half, top + 2, std::max(0, leftColumn - half - 28), 30);
    };
    pair(l.again, l.daily);
    left.gap(8);
    l.instant = left.take(28);
    left.gap(12);
    pair(l.copyDna, l.pasteDna);

    const int rest = std::max(0, A - leftColumn);
    const int rightColumn = std::min(rest, std::max(rest / 4, 248));
    const int rightWidth = std::max(0, rightColumn - 24);
    const int rightX = A - rightColumn + 32;
    Column right(rightX, 130, rightWidth);
    l.beforeAfter = right.take(32);
    right.gap(4);
    l.keepThat = right.take(32);
    right.gap(4);
    l.moments = right.take(28);
    right.gap(6);
    {
        const int top = right.top();
        right.take(24);
        l.aspect = Rect(rightX + 2, top + 2, rightWidth / 2, 24);
        l.duration = Rect(rightX + 2 + rightWidth / 2, top + 2, rightWidth - rightWidth / 2, 24);
    }
    right.gap(4);
    l.background = right.take(28);
    right.gap(4);
    l.artist = right.take(28);
    right.gap(4);
    l.effectedOnly = right.take(24);
    right.gap(6);
    l.share = right.take(34);
}
} // namespace

EditorLayout computeEditorLayout(const EditorLayoutInput& in)
{
    EditorLayout l;
    layoutHeader(l, in.width, in.height);
    if (!in.tresselMode)
    {
        layoutPresetRow(l, in.width);
        layoutMacroRow(l, in.width);
    }
    layoutPanels(l, in);
    layoutBottom(l, in);
    if (in.tresselMode)
        layoutTresselSurface(l, in);
    return l;
}
} // namespace sorvane
