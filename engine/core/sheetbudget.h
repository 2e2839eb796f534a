#pragma once

// What one sheet may store while a reader loads it: its cells, its own text
// and its merged areas, counted against the per-sheet bounds of
// io/limits.h. Both readers fill sheets through it, so a sheet costs memory
// in proportion to what it really stores, never to a size the file states.

#include "core/model.h"
#include "io/error.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sd {

class SheetBudget
{
public:
    explicit SheetBudget(Sheet &sheet)
        : m_sheet(sheet)
    {
    }

    // Appends a cell; false once the sheet holds kMaxSheetCells. The buffer
    // never grows past that bound, also when it doubles.
    bool addCell(const Cell &cell);
    // Counts a string of `length` bytes that the sheet keeps (its object
    // and its characters); false once the sheet's text passes
    // kMaxSheetTextBytes.
    bool addString(uint64_t length);
    // Whether a string still being built, `length` bytes so far, would fit;
    // lets a reader stop a 500 MB cell long before it is complete.
    bool stringFits(uint64_t length);
    // Gives back what strings of `bytes` (objects and characters, as counted)
    // took: a streamed sheet's text leaves with the batch it was handed
    // over in, so only the text the sheet still holds counts.
    void releaseStrings(uint64_t bytes)
    {
        m_textBytes -= bytes < m_textBytes ? bytes : m_textBytes;
    }
    // Counts a merged area; false past kMaxSheetMergedAreas.
    bool addMergedArea();

    // Why the last call above returned false: the bound and its value,
    // e.g. "more than 8,388,608 cells in one sheet".
    Error error(const std::string &where) const;

private:
    enum class Exceeded { None, Cells, Text, MergedAreas };

    Sheet &m_sheet;
    uint64_t m_textBytes = 0;
    uint64_t m_mergedAreas = 0;
    Exceeded m_exceeded = Exceeded::None;
};

// What strings take against the sheet's text bound.
uint64_t countedBytes(const std::vector<std::string> &strings);

// A count with thousands separators: 8388608 gives "8,388,608".
std::string groupedNumber(uint64_t value);

// The error of a bound of io/limits.h: "more than <limit> <what>".
Error limitError(const std::string &where, uint64_t limit, const std::string &what);

} // namespace sd
