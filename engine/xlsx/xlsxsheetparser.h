#pragma once

// The cell layer of the .xlsx reader: turns one worksheet part's XML into
// the cells of a Sheet. Knows nothing of zip or relationships.

#include "core/model.h"
#include "io/zip.h"

#include <string_view>

namespace sd {

enum class RefStatus { Ok, Malformed, OutsideGrid };

// Parses a cell reference such as "AB12" into 0-based column and row.
// hasRow is false for a bare column ("AB").
RefStatus parseCellRef(std::string_view ref, uint32_t &col, uint32_t &row, bool &hasRow);

// Widens the sheet's used range to an area ("B2:D5" or "C3"): a merged area
// or a commented cell belongs to the used range. Malformed references are
// ignored.
void widenToArea(std::string_view ref, Sheet &out);

// Converts an ISO 8601 date/time ("2024-03-01", "2024-03-01T12:30:00.5Z",
// "12:30") into a serial number of the given date system. False when the
// text is not such a date.
bool isoDateToSerial(std::string_view text, bool date1904, double &serial);

// Parses the XML of a worksheet (also macro and dialog sheets) from source
// into out.cells (appended; merged areas widen the used range). sharedStrings is the number of
// shared strings at the front of book.strings; inline and formula strings are appended to
// book.strings. The sheet's cells, text and merged areas are held to the
// per-sheet bounds of io/limits.h; passing one is a TooLarge error.
// `dynamicArrays` tells, for each cell metadata index (a cell's cm="n" is
// index n - 1), whether it marks a dynamic array formula
// (xl/metadata.xml); null when the package has none.
Error parseSheetXml(ByteSource &source, const std::string &where, Workbook &book,
                    size_t sharedStrings, Sheet &out, uint64_t sizeHint = UINT64_MAX,
                    const std::vector<bool> *dynamicArrays = nullptr);

} // namespace sd
