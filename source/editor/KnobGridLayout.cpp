#include "KnobGridLayout.h"

#include <cmath>

namespace varnelle::editor
{
namespace
{
constexpr int knobHeight = 55;

/** A column's two knob cells: knob width, the gap between the cells and how far each knob
    sits in from its cell's outer side. Narrow columns keep their knobs at least 44 wide. */
struct ColumnCells
{
    int knobWidth = 0;
    int gap = 0;
    int inset = 0;
};

ColumnCells fitCells (int columnWidth)
{
    const int cellWidth = juce::jmax (0, columnWidth - 8);
    ColumnCells cells;
    cells.gap = juce::jmax (8, (int)std::round ((float)cellWidth * 0.18f));
    cells.knobWidth = (cellWidth - cells.gap) / 2;
    if (cells.knobWidth < 52)
    {
        cells.knobWidth = juce::jmax (44, cellWidth / 2);
        cells.gap = juce::jmax (4, cellWidth - 2 * cells.knobWidth);
    }
    cells.inset = juce::jmin (10, juce::jmax (0, (cells.gap - 2) / 2));
    return cells;
}
} // namespace

KnobGridLayout layOutKnobGrid (juce::Rectangle<int> area, int panelTop)
{
    KnobGridLayout layout;

    auto grid = area;
    grid.removeFromTop (18);
    grid.removeFromTop (4);
    const int rowsTop = grid.getY();
    const int gridHeight = grid.getHeight();
    const auto labelColumn = grid.removeFromLeft (56);
    grid.removeFromLeft (14);
    const int rowHeight = juce::jmax (28, juce::jmax (0, gridHeight - 6) / 5);
    for (int row = 0; row < 5; ++row)
        layout.rowLabels[(size_t)row] = {labelColumn.getX(), rowsTop + row * rowHeight,
                                         labelColumn.getWidth(), rowHeight};

    const int columnWidth = juce::jmax (72, (grid.getWidth() - 16) / 5);
    const auto cells = fitCells (columnWidth);
    const int knobBoundsWidth = juce::jmax (0, cells.knobWidth - 4);

    for (int band = 0; band < 5; ++band)
    {
        const int x = grid.getX() + band * (columnWidth + 4);
        const int leftX = x + 6 + cells.inset;
        const int rightX = x + 6 + cells.knobWidth + cells.gap - cells.inset;
        for (int row = 0; row < 5; ++row)
        {
            int y = rowsTop + row * rowHeight + (rowHeight - knobHeight) / 2;
            if (row == 0)
                y += 3;
            else if (row == 4)
                y -= 3;
            const bool rightSide = row == 1 || row == 3;
            layout.knobs[(size_t)band][(size_t)row] = {rightSide ? rightX : leftX, y, knobBoundsWidth,
                                                       knobHeight};
        }

        layout.bandButtons[(size_t)band] = {x + 4, panelTop + 2, juce::jmax (36, columnWidth - 8), 18};
        const auto gainKnob = layout.knobs[(size_t)band][0];
        layout.activityMeters[(size_t)band] = {rightX, gainKnob.getY() + 10, knobBoundsWidth, 24};
    }

    return layout;
}

} // namespace varnelle::editor
