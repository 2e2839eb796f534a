#include "core/sheetbudget.h"

#include "io/limits.h"

#include <algorithm>

namespace sd {

namespace {

// First size of a cell buffer that grows from nothing.
constexpr size_t kFirstCellCapacity = 64;

} // namespace

bool SheetBudget::addCell(const Cell &cell)
{
    std::vector<Cell> &cells = m_sheet.cells;
    if (cells.size() >= kMaxSheetCells) {
        m_exceeded = Exceeded::Cells;
        return false;
    }
    if (cells.size() == cells.capacity())
        cells.reserve(std::min(std::max(2 * cells.capacity(), kFirstCellCapacity), kMaxSheetCells));
    cells.push_back(cell);
    return true;
}

uint64_t countedBytes(const std::vector<std::string> &strings)
{
    uint64_t bytes = 0;
    for (const std::string &s : strings)
        bytes += kTextObjectBytes + s.size();
    return bytes;
}

bool SheetBudget::addString(uint64_t length)
{
    if (!stringFits(length))
        return false;
    m_textBytes += kTextObjectBytes + length;
    return true;
}

bool SheetBudget::stringFits(uint64_t length)
{
    if (m_textBytes + kTextObjectBytes + length > kMaxSheetTextBytes) {
        m_exceeded = Exceeded::Text;
        return false;
    }
    return true;
}

bool SheetBudget::addMergedArea()
{
    if (++m_mergedAreas > kMaxSheetMergedAreas) {
        m_exceeded = Exceeded::MergedAreas;
        return false;
    }
    return true;
}

Error SheetBudget::error(const std::string &where) const
{
    switch (m_exceeded) {
    case Exceeded::Cells:
        return limitError(where, kMaxSheetCells, "cells in one sheet");
    case Exceeded::Text:
        return limitError(where, kMaxSheetTextBytes, "bytes of text in one sheet");
    case Exceeded::MergedAreas:
        return limitError(where, kMaxSheetMergedAreas, "merged areas in one sheet");
    case Exceeded::None:
        break;
    }
    return {};
}

std::string groupedNumber(uint64_t value)
{
    std::string digits = std::to_string(value);
    for (int at = int(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(size_t(at), 1, ',');
    return digits;
}

Error limitError(const std::string &where, uint64_t limit, const std::string &what)
{
    return Error(ErrorCode::TooLarge, where, "more than " + groupedNumber(limit) + " " + what);
}

} // namespace sd
