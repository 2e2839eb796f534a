#pragma once

// Bounds on the CSV a sheet writes (io/limits.h), checked before the file
// is created: the padding of its used range and the room on the disk.

#include "core/model.h"
#include "io/error.h"

#include <string>

class QString;

namespace sd {

// Refuses a sheet whose used range holds more than kMaxSheetPadding empty
// cells, or whose file (at least its separators and line ends) would not
// fit the free space of the disk it goes to; the latter is asked only for
// files of kFreeSpaceCheckBytes or more.
Error checkCsvSize(const Workbook &book, int sheetIndex, const Sheet &sheet, const QString &path);
// The same for a used range that holds `cells` cells.
Error checkCsvSize(const Workbook &book, int sheetIndex, const CellRange &range, uint64_t cells,
                   const QString &path);

// "sheet \"Name\"", for messages.
std::string sheetLabel(const Workbook &book, int sheetIndex);

} // namespace sd
