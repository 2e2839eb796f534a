#pragma once

// The output side of the CSV writer, shared by the whole-sheet and the
// streaming paths: fields are gathered in a block of about kCsvBlockBytes,
// which is encoded and written to the temporary file when full; a stop
// request is asked for before each block.

#include "core/csvwriterfile_p.h"
#include "core/display.h"
#include "io/error.h"
#include "io/limits.h"

#include <QTextCodec>

#include <functional>
#include <memory>
#include <string>

namespace sd {

class RunEncoder;

class CsvBlockOutput
{
public:
    // codec nullptr: UTF-8 as it is.
    CsvBlockOutput(Workbook &book, int sheetIndex, const QString &path, QTextCodec *codec,
                   const std::function<bool()> &stopRequested);
    // Writes UTF-8 to an open spool file instead (see CsvSpool): no
    // temporary file, no stop requests, nothing counted against the bound.
    CsvBlockOutput(Workbook &book, int sheetIndex, int spoolFd);
    ~CsvBlockOutput();
    CsvBlockOutput(const CsvBlockOutput &) = delete;
    CsvBlockOutput &operator=(const CsvBlockOutput &) = delete;

    Error open() { return m_spoolFd >= 0 ? Error() : m_file.open(); }
    // Instead of open() and writing: takes a complete UTF-8 spool file of
    // `size` bytes as the file itself, where no encoding changes it and it
    // can be linked into the target's folder (CsvTemporaryFile::adopt).
    // *adopted false without an error: write it the usual way.
    Error adoptSpool(int fd, uint64_t size, bool *adopted);
    // The block being gathered (UTF-8).
    std::string &buffer() { return m_buffer; }
    // Appends the cell's displayed text as one field, quoted when needed.
    void appendField(DisplayFormatter &formatter, const Cell &cell);
    // The same for a Text cell whose text is given.
    void appendField(DisplayFormatter &formatter, const Cell &cell, const std::string &text);
    Error flushIfFull() { return m_buffer.size() >= kCsvBlockBytes ? flush() : Error(); }
    // Encodes and writes the block; fails at a stop request (see stopped())
    // or past the workbook's CSV bound.
    Error flush();
    // Renames the complete file into place and counts its bytes against
    // the workbook's bound.
    Error commit();
    // Whether the last flush failed for a stop request.
    bool stopped() const { return m_stopped; }

private:
    Error write(const char *data, size_t size);

    const QString m_noPath;
    const std::function<bool()> m_noStop;
    Workbook &m_book;
    const int m_sheetIndex;
    const QString &m_path;
    QTextCodec *const m_codec;
    const std::function<bool()> &m_stopRequested;
    const bool m_passThrough;
    CsvTemporaryFile m_file;
    // No byte-order mark, neither at the start nor before each block (a
    // codec such as UTF-16 writes one whenever it starts without a state).
    QTextCodec::ConverterState m_codecState { QTextCodec::IgnoreHeader };
    std::unique_ptr<RunEncoder> m_encoder; // ASCII-compatible codecs
    std::string m_buffer, m_encoded;
    const int m_spoolFd = -1;
    CsvWriteback m_spoolWriteback; // the spool may become the CSV file
    uint64_t m_written = 0; // this sheet's bytes, counted against the workbook's bound
    bool m_stopped = false;
};

// Writes the sheet while its reader reads it, on the guess that the range
// the file states is its used range. True when that settled the outcome
// (written, or stopped on request: *error says which); false when the
// sheet must be written whole, in which case nothing was left on disk and
// nothing in the workbook changed but what any reading of the sheet
// changes. codec as for CsvBlockOutput.
bool streamSheetCsv(Workbook &book, int sheetIndex, const QString &path, QTextCodec *codec,
                    const std::function<bool()> &stopRequested, Error *error);

// Writes `size` bytes to a file descriptor, retrying short and interrupted
// writes: 0, or errno on failure (ENOSPC for a write that made no
// progress). Goes through the write function tests may set.
int writeAllBytes(int fd, const char *data, size_t size);

} // namespace sd
