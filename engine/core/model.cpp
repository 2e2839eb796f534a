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
    case ErrSpill:
        return "#SPILL!";
    case ErrConnect:
        return "#CONNECT!";
    case ErrBlocked:
        return "#BLOCKED!";
    case ErrUnknown:
        return "#UNKNOWN!";
    case ErrField:
        return "#FIELD!";
    case ErrCalc:
        return "#CALC!";
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
    // Hidden runs in row order, overlapping ones joined.
    std::sort(hiddenRows.begin(), hiddenRows.end());
    size_t runs = 0;
    for (size_t i = 0; i < hiddenRows.size(); ++i) {
        const auto run = hiddenRows[i];
        if (runs > 0 && run.first <= hiddenRows[runs - 1].second + 1)
            hiddenRows[runs - 1].second = std::max(hiddenRows[runs - 1].second, run.second);
        else
            hiddenRows[runs++] = run;
    }
    hiddenRows.resize(runs);
}

// The used range, as the spreadsheet application computes it when it opens
// a file (its exports of the corpus workbooks show it; the file's own
// DIMENSIONS or <dimension> is not trusted: 43493.xls, 47034.xls and
// WORKBOOK_in_capitals.xls state other ranges than the application uses).
// Every cell the file records counts, blank (formatted) cells included, and
// so do merged areas and comments. Besides them:
// - a row the file records with a property of its own counts on the row
//   axis, with or without cells: a height other than the sheet's default,
//   its own height or format, hidden, an outline level (12561-2.xls: a
//   ROW record under the last cell, flagged with nothing but its height:
//   226 rows; 56450.xls; 43493.xls and 51461.xls: rows of their own height
//   above and below the cells; Test_git_issue_270.xlsx, outline.xlsx: Excel's
//   own <dimension> holds hidden and grouped rows). A bare <row r="6"/> has
//   nothing of its own (no Excel-saved file of the corpus shows one);
// - column ranges count on the column axis as ColumnRanges says: a range
//   formatted like the whole width does not count (48026.xls, 56450.xls,
//   45538_classic_Footer.xls and 45540_classic_Header.xlsx format every
//   column and come out as wide as their cells; 12561-2.xls formats column
//   A as the whole width and Excel 2016 starts at B), one formatted
//   otherwise does (27272_2.xls, hyperlink_no_rels.xlsx), as do ranges of
//   A:IV in .xls, which stop short of the application's grid
//   (A4X_gnumeric.xls, WrongFormulaRecordType.xls); hidden columns with a
//   width count (ex45978-extraLinkTableSheets.xls sheet 2: 189 columns for
//   82 of cells, 51585.xlsx), hidden ones of width zero do not (47034.xls
//   sheet 9); columns in an outline group count (Excel's own <dimension>
//   in sheetjs outline.xlsx); a column's own width alone never counts;
// - rows alone make no range: a sheet whose rows are all it has is blank
//   (47034.xls sheet 8, 47089.xlsm sheet 5), while columns without rows
//   span row 1 (A4X_gnumeric.xls sheets 2 and 3).
// Of the 660 sheets of .xlsx files that Excel saved in the corpus, this
// rule gives the <dimension> Excel wrote for all but 47089.xlsm sheet 5
// (above) and three whose XML another program rewrote afterwards.
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
    if (columns.empty())
        return range;
    range.firstCol = columns.first;
    range.lastCol = columns.last;
    if (!rows.empty()) {
        range.firstRow = rows.first;
        range.lastRow = rows.last;
    }
    return range;
}

void ColumnRanges::add(uint32_t first, uint32_t last, uint32_t xf, bool hiddenOrGrouped,
                       bool toGridEnd)
{
    if (toGridEnd) {
        m_wholeWidthXf = xf;
        return;
    }
    reach(m_first, first, xf, true);
    reach(m_last, last, xf, false);
    if (hiddenOrGrouped)
        m_hidden.add(first, last);
}

void ColumnRanges::reach(Reach (&best)[2], uint32_t column, uint32_t xf, bool lower)
{
    auto further = [lower](uint32_t a, uint32_t b) { return lower ? a < b : a > b; };
    if (!best[0].set || further(column, best[0].column)) {
        if (best[0].set && best[0].xf != xf)
            best[1] = best[0];
        best[0] = { column, xf, true };
    } else if (xf != best[0].xf && (!best[1].set || further(column, best[1].column))) {
        best[1] = { column, xf, true };
    }
}

const ColumnRanges::Reach *ColumnRanges::furthest(const Reach (&best)[2], uint32_t exceptXf)
{
    for (const Reach &r : best) {
        if (r.set && r.xf != exceptXf)
            return &r;
    }
    return nullptr;
}

Span ColumnRanges::counted() const
{
    Span columns = m_hidden;
    const Reach *first = furthest(m_first, m_wholeWidthXf);
    const Reach *last = furthest(m_last, m_wholeWidthXf);
    if (first && last)
        columns.add(first->column, last->column);
    return columns;
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

void Sheet::hideRow(uint32_t row)
{
    if (!hiddenRows.empty() && row >= hiddenRows.back().first
        && row <= hiddenRows.back().second + 1)
        hiddenRows.back().second = std::max(hiddenRows.back().second, row);
    else
        hiddenRows.emplace_back(row, row);
}

int Sheet::rowState(uint32_t row) const
{
    auto it = std::upper_bound(
        hiddenRows.begin(), hiddenRows.end(), row,
        [](uint32_t r, const std::pair<uint32_t, uint32_t> &run) { return r < run.first; });
    if (it == hiddenRows.begin() || (--it)->second < row)
        return 0;
    const bool inFilter = filterRows.empty() || (row >= filterRows.first && row <= filterRows.last);
    return filtering && inFilter ? 2 : 1;
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
