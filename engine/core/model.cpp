#include "core/model.h"

#include <algorithm>

namespace sd {

const char *cellErrorText(uint8_t code)
{
    switch (code) {
    case ErrNull:
        return "#NULL!";
    case ErrDiv0:
        return "#DIV/0!";
    case ErrValue:
        return "#VALUE!";
    case ErrRef:
        return "#REF!";
    case ErrName:
        return "#NAME?";
    case ErrNum:
        return "#NUM!";
    case ErrNA:
        return "#N/A";
    case ErrGettingData:
        return "#GETTING_DATA";
    }
    return "#N/A";
}

void Sheet::finish()
{
    if (finished)
        return;
    finished = true;
    auto before = [](const Cell &a, const Cell &b) {
        return a.row != b.row ? a.row < b.row : a.col < b.col;
    };
    if (!std::is_sorted(cells.begin(), cells.end(), before))
        std::stable_sort(cells.begin(), cells.end(), before);
    // Keep the last record of a cell that the file lists more than once.
    size_t out = 0;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (out > 0 && cells[out - 1].row == cells[i].row && cells[out - 1].col == cells[i].col)
            cells[out - 1] = cells[i];
        else
            cells[out++] = cells[i];
    }
    cells.resize(out);
}

CellRange Sheet::usedRange() const
{
    Span rows, columns;
    for (const Cell &c : cells) {
        rows.add(c.row, c.row);
        columns.add(c.col, c.col);
    }
    return usedRange(rows, columns);
}

CellRange Sheet::usedRange(Span cellRows, Span cellColumns) const
{
    Span rows = formattedRows, columns = formattedColumns;
    if (hasExtent) {
        rows.add(extent.firstRow, extent.lastRow);
        columns.add(extent.firstCol, extent.lastCol);
    }
    if (!cellRows.empty())
        rows.add(cellRows.first, cellRows.last);
    if (!cellColumns.empty())
        columns.add(cellColumns.first, cellColumns.last);
    CellRange range;
    if (!rows.empty()) {
        range.firstRow = rows.first;
        range.lastRow = rows.last;
    }
    if (!columns.empty()) {
        range.firstCol = columns.first;
        range.lastCol = columns.last;
    }
    return range;
}

void Sheet::widen(uint32_t row, uint32_t col)
{
    if (!hasExtent) {
        extent.firstRow = extent.lastRow = row;
        extent.firstCol = extent.lastCol = col;
        hasExtent = true;
        return;
    }
    extent.firstRow = std::min(extent.firstRow, row);
    extent.lastRow = std::max(extent.lastRow, row);
    extent.firstCol = std::min(extent.firstCol, col);
    extent.lastCol = std::max(extent.lastCol, col);
}

const Cell *Sheet::find(uint32_t row, uint32_t col) const
{
    auto it
        = std::lower_bound(cells.begin(), cells.end(), std::make_pair(row, col),
                           [](const Cell &c, const std::pair<uint32_t, uint32_t> &key) {
                               return c.row != key.first ? c.row < key.first : c.col < key.second;
                           });
    if (it != cells.end() && it->row == row && it->col == col)
        return &*it;
    return nullptr;
}

const Sheet *Workbook::sheet(int index, Error *error)
{
    Sheet *s = rawSheet(index, error);
    if (s && calculator && !s->calculated) {
        s->calculated = true;
        if (!s->formulas.empty()) {
            const bool textAtEnd = s->endString == strings.size();
            calculator->calculate(*this, index, *s);
            // Text results belong to the sheet, unless the calculation read
            // other sheets whose text now lies between (then it stays).
            if (textAtEnd && !loadedSince(s->endString))
                s->endString = strings.size();
        }
    }
    return s;
}

Sheet *Workbook::rawSheet(int index, Error *error)
{
    if (index < 0 || index >= int(sheets.size())) {
        if (error)
            *error = Error(ErrorCode::Corrupt, {}, "no sheet " + std::to_string(index));
        return nullptr;
    }
    if (loaded.size() != sheets.size())
        loaded.resize(sheets.size());
    if (!loaded[index]) {
        auto sheet = std::make_unique<Sheet>();
        sheet->firstString = strings.size();
        if (loader) {
            Error e = loader->loadSheet(*this, index, *sheet);
            if (e) {
                // The text of a sheet that failed half-way is of no use.
                if (strings.size() > sheet->firstString)
                    strings.resize(sheet->firstString);
                if (error)
                    *error = e;
                return nullptr;
            }
        }
        sheet->endString = strings.size();
        sheet->finish();
        loaded[index] = std::move(sheet);
    }
    return loaded[index].get();
}

bool Workbook::loadedSince(size_t stringIndex) const
{
    return std::any_of(loaded.begin(), loaded.end(), [&](const std::unique_ptr<Sheet> &s) {
        return s && s->firstString >= stringIndex && s->endString > s->firstString;
    });
}

void Workbook::unloadSheet(int index)
{
    if (index < 0 || size_t(index) >= loaded.size() || !loaded[size_t(index)])
        return;
    if (calculator)
        calculator->forget();
    const Sheet &sheet = *loaded[size_t(index)];
    // Only text at the end can go: other sheets may refer to what follows.
    if (sheet.endString == strings.size() && sheet.firstString < sheet.endString)
        strings.resize(sheet.firstString);
    loaded[size_t(index)].reset();
}

int Workbook::worksheetIndex(int n) const
{
    for (int i = 0; i < int(sheets.size()); ++i) {
        if (sheets[i].kind == SheetKind::Worksheet && n-- == 0)
            return i;
    }
    return -1;
}

int Workbook::worksheetCount() const
{
    return int(std::count_if(sheets.begin(), sheets.end(),
                             [](const SheetInfo &s) { return s.kind == SheetKind::Worksheet; }));
}

const Xf &Workbook::xf(uint32_t index) const
{
    static const Xf general;
    return index < xfs.size() ? xfs[index] : general;
}

} // namespace sd
