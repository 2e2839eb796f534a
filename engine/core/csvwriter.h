#pragma once

// Writes one worksheet as CSV: the used range from its top-left cell, rows
// padded to the last column, minimal quoting, CR LF after every row, the
// given encoding with "?" for what it cannot hold, no byte-order mark.

#include "core/model.h"
#include "io/error.h"

#include <string>
#include <string_view>

class QString;
class QTextCodec;

namespace sd {

// Writes sheet `sheetIndex` of `book` to `path`. The text goes to a temporary
// file in the target folder that is renamed into place once complete, so a
// failed write leaves any older file untouched. codec nullptr: the locale's.
Error writeSheetCsv(Workbook &book, int sheetIndex, const QString &path,
                    QTextCodec *codec = nullptr);

// Appends one field, quoted only when it holds a comma, a double quote, CR or LF.
void appendCsvField(std::string_view text, std::string &out);

} // namespace sd
