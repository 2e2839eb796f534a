#pragma once

// The cells of a loaded sheet as the reader tests list them: the recorded
// cells and, as blank cells where nothing is recorded, the two corners of
// the extent that merged areas and comments add to the used range.

#include "core/model.h"

#include <algorithm>
#include <vector>

inline std::vector<sd::Cell> cellsWithExtent(const sd::Sheet &sheet)
{
    std::vector<sd::Cell> cells = sheet.cells;
    if (!sheet.hasExtent)
        return cells;
    const sd::CellRange &e = sheet.extent;
    for (const auto &corner :
         { std::make_pair(e.firstRow, e.firstCol), std::make_pair(e.lastRow, e.lastCol) }) {
        const bool recorded = std::any_of(cells.begin(), cells.end(), [&](const sd::Cell &c) {
            return c.row == corner.first && c.col == corner.second;
        });
        if (!recorded) {
            sd::Cell blank;
            blank.row = corner.first;
            blank.col = corner.second;
            cells.push_back(blank);
        }
    }
    std::stable_sort(cells.begin(), cells.end(), [](const sd::Cell &a, const sd::Cell &b) {
        return a.row != b.row ? a.row < b.row : a.col < b.col;
    });
    return cells;
}
