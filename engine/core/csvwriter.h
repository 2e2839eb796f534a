#pragma once

// Writes one worksheet as CSV: the used range from its top-left cell, rows
// padded to the last column, minimal quoting, CR LF after every row, the
// given encoding with "?" for what it cannot hold, no byte-order mark.

#include "core/model.h"
#include "io/error.h"

#include <QtGlobal>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class QString;
class QTextCodec;

namespace sd {

// Writes sheet `sheetIndex` of `book` to `path`. The text goes to a temporary
// file in the target folder that is renamed into place once complete, so a
// failed write leaves any older file untouched; a link in the target's place
// is replaced, never written through. codec nullptr: the locale's.
// `stopRequested`, when given, is asked between blocks of output (about a
// megabyte each); when it says yes, the write ends with an error and nothing
// is left of it.
Error writeSheetCsv(Workbook &book, int sheetIndex, const QString &path,
                    QTextCodec *codec = nullptr, const std::function<bool()> &stopRequested = {});

// A sheet written ahead, in UTF-8, into an unnamed temporary file: for a
// caller that must know the used range before it names the CSV file (the
// automation seam answers UsedRange before SaveAs). The file goes with it.
struct CsvSpool
{
    CsvSpool() = default;
    ~CsvSpool();
    CsvSpool(const CsvSpool &) = delete;
    CsvSpool &operator=(const CsvSpool &) = delete;

    int sheetIndex = -1;
    CellRange usedRange;
    uint64_t cells = 0; // cells in the used range
    int fd = -1;
    // Made with O_TMPFILE: it may become the CSV file itself (linked into
    // the output folder) rather than be copied, once.
    bool linkable = false;
};

// Streams sheet `sheetIndex` into a spool while it is read. nullptr when
// the sheet cannot be streamed (see writeSheetCsv()): then nothing is
// changed but what reading the sheet changes, and it is to be read as usual.
std::unique_ptr<CsvSpool> spoolSheetCsv(Workbook &book, int sheetIndex);

// Writes a spooled sheet to `path` exactly as writeSheetCsv() would write
// the sheet, with the same bounds, stop requests and temporary file. Where
// the bytes need no encoding and the spool lies on the output's file system,
// the spool file itself becomes the temporary file.
Error writeSpooledCsv(Workbook &book, CsvSpool &spool, const QString &path,
                      QTextCodec *codec = nullptr, const std::function<bool()> &stopRequested = {});

// Removes the temporary files that a writer which was killed left in
// `folder` (a writer at work locks its file): those of this user changed
// before `before` (milliseconds since the epoch) whose names the writer gave
// them (the tag in the name is made from the file's own inode). A file that
// merely has the form of such a name is left alone, whatever its age.
// Returns how many went.
int removeStaleCsvTemporaryFiles(const QString &folder, qint64 before);

// Appends one field, quoted only when it holds a comma, a double quote, CR or LF.
void appendCsvField(std::string_view text, std::string &out);

} // namespace sd
