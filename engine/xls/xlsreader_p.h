#pragma once

// Internals of the .xls reader, shared by the globals pass (xlsglobals.cpp),
// the sheet parser (xlssheetparser.cpp) and the loader (xlsreader.cpp).

#include "core/model.h"
#include "core/sheetbudget.h"
#include "core/sheetstream.h"
#include "crypto/passwords.h"
#include "io/error.h"
#include "io/randomaccess.h"
#include "xls/biff.h"
#include "xls/codepage.h"

#include <cstdio>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

class QTextCodec;

namespace sd {

using biff::Record;
using biff::RecordReader;
using biff::recordWhere;
using biff::SegmentCursor;

// Grid limits of each BIFF generation.
constexpr uint32_t kBiff8MaxRows = 65536;
constexpr uint32_t kBiff2To7MaxRows = 65536; // Excel 97 and later read BIFF2-7 rows up to 65,536
constexpr uint32_t kBiffMaxColumns = 256;

// Number-format ids: up to 163 are the application's own, workbook-defined
// codes start at 164. BIFF2-4 number their formats by position instead, so
// their codes are given ids from here on.
constexpr int kFirstCustomFormatId = 164;
// BIFF2 cells carry their own 6-bit format index; one synthetic XF per index.
constexpr uint32_t kBiff2FormatSlots = 64;
constexpr uint8_t kBiff2IxfeMarker = 63;
constexpr uint32_t kNoXf = std::numeric_limits<uint32_t>::max(); // shows as General

// XF flag: a leading apostrophe was typed (Lotus 1-2-3 prefix).
constexpr uint16_t kXfQuotePrefix = 0x0008;
// WSBOOL flag (first byte): the sheet is a dialog sheet.
constexpr uint8_t kWsBoolDialog = 0x10;
// FORMULA result marker: bytes 6-7 of the result are 0xFFFF for non-numbers.
constexpr uint16_t kFormulaNonNumber = 0xFFFF;
// ROW flags: outline level, collapsed, hidden, own height (fUnsynced), own
// format (fGhostDirty); height bit 15 (BIFF3-4): the default height.
constexpr uint16_t kRowOwnProperties = 0x00F7;
constexpr uint16_t kRowHidden = 0x0020; // fDyZero
constexpr uint16_t kRowHeightDefault = 0x8000;
// DEFAULTROWHEIGHT when a sheet has none: 12.75 points.
constexpr uint16_t kStandardRowHeight = 255;
// COLINFO flags: the columns are hidden; their outline level.
constexpr uint16_t kColHidden = 0x0001;
constexpr uint16_t kColOutlineLevel = 0x0700;
// The XF of cells (and columns) with no format of their own, BIFF3-8.
constexpr uint16_t kDefaultCellXf = 15;
enum FormulaResultType : uint8_t {
    kResultString = 0,
    kResultBool = 1,
    kResultError = 2,
    kResultEmpty = 3
};
// Row of a BIFF2-7 NOTE record that carries more text of the note before it.
constexpr uint32_t kNoteContinuedRow = 0xFFFF;
// BOUNDSHEET sheet types.
enum SheetType : uint8_t { kTypeWorksheet = 0, kTypeMacro = 1, kTypeChart = 2, kTypeVbModule = 6 };

// Cell buffers are reserved from the sheet's size only when that promises
// this many cells at least, and never for more than kMaxCellReservation.
constexpr size_t kReserveThreshold = 1024;

// How far a sheet's start is scanned to tell dialog sheets from worksheets.
constexpr int kKindScanRecords = 64;

inline bool isBof(uint16_t id)
{
    return id == biff::kBof || id == biff::kBof2 || id == biff::kBof3 || id == biff::kBof4;
}

inline Error damaged(const Record &r, const std::string &detail)
{
    return Error(ErrorCode::Corrupt, recordWhere(r), detail);
}

inline Error tooShort(const Record &r)
{
    return damaged(r, "record too short");
}

inline std::string offsetWhere(size_t offset)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "offset 0x%zx", offset);
    return buf;
}

// What the globals pass learns and the sheet loader needs.
struct BiffInfo
{
    int version = 8; // 2, 3, 4, 5 (BIFF5 and BIFF7) or 8
    bool bare = false; // worksheet stream without workbook globals
    QTextCodec *codec = nullptr;
    uint32_t maxRows = kBiff8MaxRows;
    uint32_t maxColumns = kBiffMaxColumns;
    uint32_t sstCount = 0; // strings 0..sstCount-1 of the book are the SST
    uint32_t emptyString = 0; // index of "" in the book's strings
    size_t globalsEnd = 0; // offset just past the globals' EOF
    bool decrypted = false; // a FILEPASS record was met and the stream decrypted
};

// When the stream's globals hold a FILEPASS record, replaces `stream` by
// its decrypted copy in memory, trying the default password and then
// `passwords` (xlsdecrypt.cpp). An error when no password opens it, the
// encryption cannot be undone or the stream is larger than
// kMaxDecryptedStreamBytes.
Error decryptWorkbookStream(std::unique_ptr<RandomAccessSource> &stream, BiffInfo &info,
                            const crypto::PasswordList &passwords);

inline void appendText8(const BiffInfo &info, const uint8_t *p, size_t n, std::string &out)
{
    appendCodePageText(info.codec, reinterpret_cast<const char *>(p), n, out);
}

// A BIFF8 XLUnicodeString (16-bit count) or ShortXLUnicodeString (8-bit).
// Rich-text runs and phonetic blocks that follow are skipped when `skipTail`.
inline bool readUnicodeString(SegmentCursor &c, bool longCount, bool skipTail, std::string &out)
{
    const size_t count = longCount ? c.u16() : c.u8();
    if (!c.ok())
        return false;
    if (count == 0 && c.atEnd())
        return true; // some writers leave out the flags of an empty string
    const uint8_t flags = c.u8();
    const size_t runs = (flags & 0x08) ? c.u16() : 0;
    const size_t ext = (flags & 0x04) ? c.u32() : 0;
    c.chars(count, !(flags & 0x01), out);
    if (skipTail) {
        c.skip(4 * runs);
        c.skip(ext);
    }
    return c.ok();
}

// Reads one sheet substream into `sheet`.
class XlsSheetParser
{
public:
    XlsSheetParser(const BiffInfo &info, Workbook &book, Sheet &sheet)
        : m_info(info)
        , m_book(book)
        , m_sheet(sheet)
        , m_budget(sheet)
        , m_stream(sheet.stream)
        , m_textBase(sheet.stream ? sheet.stream->textBase() : 0)
        , m_batchCells(sheet.stream ? sheet.stream->batchCells() : 0)
    {
    }

    // Parses the substream at `pos` of the workbook stream, reading at most
    // `byteBudget` bytes of records; `extent` (bytes up to the next sheet)
    // only sizes the cell buffer.
    Error parse(const RandomAccessSource &stream, size_t pos, size_t extent, uint64_t byteBudget);
    // Bytes of records the parse read.
    uint64_t bytesRead() const { return m_bytesRead; }

private:
    // False for a cell outside the grid, or past the sheet's bounds (then
    // m_overBudget).
    bool add(uint32_t row, uint32_t col, uint32_t xf, CellType type, double number = 0.0,
             uint32_t text = 0)
    {
        if (row >= m_info.maxRows || col >= m_info.maxColumns)
            return false;
        Cell c;
        c.row = row;
        c.col = col;
        c.xf = xf;
        c.type = type;
        c.number = number;
        c.text = text;
        if (m_budget.addCell(c))
            return true;
        m_overBudget = true;
        return false;
    }
    Error outside(const Record &r, uint32_t row, uint32_t col) const
    {
        if (m_overBudget)
            return m_budget.error(recordWhere(r));
        return Error(ErrorCode::TooLarge, recordWhere(r),
                     "cell at row " + std::to_string(row + 1) + ", column "
                         + std::to_string(col + 1) + " is outside the sheet's "
                         + std::to_string(m_info.maxRows) + " rows and "
                         + std::to_string(m_info.maxColumns) + " columns");
    }
    // Keeps a cell's own text; false past the sheet's text bound (then
    // m_overBudget).
    bool addString(std::string &&s, uint32_t &index)
    {
        if (!m_budget.addString(s.size())) {
            m_overBudget = true;
            return false;
        }
        if (m_stream) { // kept with the batch, read on the writer's thread
            index = uint32_t(m_textBase + m_streamTexts.size());
            m_streamTexts.push_back(std::move(s));
            return true;
        }
        m_book.strings.push_back(std::move(s));
        index = uint32_t(m_book.strings.size() - 1);
        return true;
    }
    // A BOOLERR value: an error code, or a Boolean when `isError` is 0.
    bool addBoolErr(uint32_t row, uint32_t col, uint32_t xf, uint8_t value, uint8_t isError)
    {
        return isError ? add(row, col, xf, CellType::Error, value)
                       : add(row, col, xf, CellType::Bool, value ? 1.0 : 0.0);
    }
    // A text cell holding its own copy of `text`.
    bool addText(uint32_t row, uint32_t col, uint32_t xf, std::string &&text)
    {
        uint32_t index = 0;
        return addString(std::move(text), index) && add(row, col, xf, CellType::Text, 0.0, index);
    }
    // A text cell holding `count` bytes of 8-bit text.
    bool addText8(uint32_t row, uint32_t col, uint32_t xf, const uint8_t *bytes, size_t count)
    {
        std::string text;
        appendText8(m_info, bytes, count, text);
        return addText(row, col, xf, std::move(text));
    }
    // BIFF2 cells carry their format index in the 3-byte cell attribute; the
    // book has one synthetic XF per format index. An XF index of 63 means
    // that the preceding IXFE record names the XF, whose own format then
    // applies (Test_git_issue_368_ixfe.xls); those XFs follow the 64 slots.
    uint32_t biff2Xf(const uint8_t *attr) const
    {
        if ((attr[0] & 0x3F) == kBiff2IxfeMarker)
            return kBiff2FormatSlots + m_ixfe;
        return attr[1] & 0x3F;
    }
    // The 16-bit XF index of BIFF3-8 cell records. BIFF2 files may hold such
    // records too (Test_git_issue_368_label_xf.xls): there the index names an
    // XF record, 63 defers to IXFE as in the 3-byte attribute, and a larger
    // index is ignored (General), as the application does.
    uint32_t xf16(uint16_t xf) const
    {
        if (m_info.version != 2)
            return xf;
        if (xf == kBiff2IxfeMarker)
            return kBiff2FormatSlots + m_ixfe;
        return xf < kBiff2IxfeMarker ? kBiff2FormatSlots + xf : kNoXf;
    }
    Error parseRecords(RecordReader &rr, size_t pos, size_t extent);
    Error formulaResult(const Record &r, const uint8_t *result, uint32_t row, uint32_t col,
                        uint32_t xf);

    // One handler per family of records; each reports a cell that does not
    // fit the grid, or a damaged record.
    Error record(const Record &r, RecordReader &rr);
    Error numberRecord(const Record &r);
    Error labelRecord(const Record &r);
    Error blankOrBoolRecord(const Record &r);
    Error formulaRecord(const Record &r);
    // BIFF5-8: a formula's tokens kept for recalculation; SHRFMLA and ARRAY
    // hold the tokens that cells pointing at them (ptgExp) share. Both are
    // false past the sheet's text bound (then m_overBudget).
    bool keepFormula(const Record &r, uint32_t row, uint32_t col);
    bool sharedTokens(const Record &r);
    // Counts memory kept for recalculation (a formula entry, its tokens)
    // against the sheet's text bound, as if it were a string of `bytes`.
    bool chargeFormula(uint64_t bytes)
    {
        if (m_budget.addString(bytes))
            return true;
        m_overBudget = true;
        return false;
    }
    void resolveSharedFormulas();
    Error stringRecord(const Record &r, RecordReader &rr);
    Error biff2Record(const Record &r);
    Error extentRecord(const Record &r);
    void formattedRecord(const Record &r);
    void dimensionRecord(const Record &r);
    // Streaming (Sheet::stream): hands the cells over once a batch is full
    // (at the end, all that is left); false once the writer wants no more.
    bool streamCells(bool atEnd);
    // What stops the reading then; the sheet is read whole, and this error
    // is never shown.
    static Error streamStopped() { return Error(ErrorCode::Unsupported, {}, "read whole"); }

    // Merged areas and cell comments widen the used range without holding a
    // value (comments_stress_test.xls, xlrd issue20.xls); a real cell at
    // the same place keeps its value.
    void addExtent(uint32_t row, uint32_t col)
    {
        if (row < m_info.maxRows && col < m_info.maxColumns)
            m_sheet.widen(row, col);
    }
    void finish()
    {
        m_sheet.formattedColumns = m_columns.counted();
        // Give back a reservation that the sheet used less than half of (a
        // sheet of few, long records); a copy of a full one would cost more.
        std::vector<Cell> &cells = m_sheet.cells;
        if (cells.capacity() > 2 * cells.size() + kReserveThreshold)
            cells.shrink_to_fit();
    }

    const BiffInfo &m_info;
    Workbook &m_book;
    Sheet &m_sheet;
    SheetBudget m_budget;
    bool m_overBudget = false;
    uint64_t m_bytesRead = 0;
    uint16_t m_ixfe = 0; // BIFF2: XF index of the next cell whose attribute says 63
    size_t m_pendingString = std::numeric_limits<size_t>::max(); // cell awaiting a STRING record
    SheetStream *const m_stream; // null unless the cells are streamed
    const size_t m_textBase; // streaming: the first text index of a batch
    const size_t m_batchCells; // streaming: cells handed over at a time
    std::vector<std::string> m_streamTexts; // text of the cells not yet handed over
    bool m_streamBegun = false;
    bool m_dimensionSeen = false, m_hasDimension = false;
    CellRange m_dimension; // DIMENSIONS: the range the sheet says it uses
    ColumnRanges m_columns { kDefaultCellXf }; // COLINFO records
    uint16_t m_defaultRowHeight = kStandardRowHeight; // DEFAULTROWHEIGHT, in twips
    // Tokens of SHRFMLA and ARRAY records, by the cell their range starts at.
    struct SharedTokens
    {
        uint32_t data, extra;
        CellRange range;
        bool array;
    };
    std::unordered_map<uint64_t, SharedTokens> m_sharedTokens;
    std::vector<std::pair<size_t, uint64_t>> m_pointing; // formulas given by ptgExp, and where
};

// Raw records gathered by the globals pass; 8-bit text is decoded once the
// CODEPAGE record is known, wherever it stands.
struct RawFormat
{
    int id; // BIFF5/8: the record's id; BIFF2-4: position
    std::string text; // UTF-8 (BIFF8) or raw 8-bit bytes
};
struct RawSheet
{
    size_t offset;
    uint8_t state, type;
    std::string name; // UTF-8 (BIFF8) or raw 8-bit bytes
};
struct RawXf
{
    uint16_t format;
    bool quotePrefix;
};

class XlsGlobalsParser
{
public:
    XlsGlobalsParser(BiffInfo &info, Workbook &book)
        : m_info(info)
        , m_book(book)
    {
    }

    // Reads the workbook globals (or, for a bare stream, the format records
    // of the whole stream) and fills the book's sheet list and format tables.
    Error parse(const RandomAccessSource &stream, std::vector<size_t> &offsets,
                const std::string &name);
    // Bytes of records the parse read.
    uint64_t bytesRead() const { return m_bytesRead; }

private:
    // Gathering: the globals' records as they come.
    Error gather(RecordReader &rr, const std::string &name);
    Error record(const Record &r, RecordReader &rr);
    Error formatRecord(const Record &r);
    Error xfRecord(const Record &r);
    Error sheetRecord(const Record &r);
    Error parseSst(const Record &first, RecordReader &rr);
    // What formulas refer to: defined names, other sheets, add-in functions.
    Error nameRecord(const Record &r);
    void externSheetRecord(const Record &r);
    void supBookRecord(const Record &r);
    void externNameRecord(const Record &r);
    // An error once the names, external sheets and external names kept for
    // recalculation take more than kMaxNameBytes.
    Error namesWithinBound(const Record &r) const;
    // Resolving, once the code page is known.
    std::string decode(const std::string &raw) const;
    void resolveFormats();
    void resolveSheets(const RandomAccessSource &stream, std::vector<size_t> &offsets,
                       const std::string &name);
    SheetInfo sheetInfo(const RawSheet &raw, const RandomAccessSource &stream) const;

    BiffInfo &m_info;
    Workbook &m_book;
    uint16_t m_codePage = kCodePageWindows1252;
    std::vector<RawFormat> m_formats;
    std::vector<RawSheet> m_sheets;
    std::vector<RawXf> m_xfs;
    std::vector<bool> m_supbookInternal; // per SUPBOOK: this workbook itself
    bool m_sawSst = false;
    uint64_t m_nameBytes = 0; // what the name tables keep, counted as strings
    uint64_t m_bytesRead = 0;
};

} // namespace sd
