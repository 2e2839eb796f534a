#include "xls/xlsreader.h"

#include "io/cfb.h"
#include "xls/biff.h"
#include "xls/codepage.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace sd {

using namespace biff;

namespace {

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
// this many cells at least, and never for more than the limit.
constexpr size_t kReserveThreshold = 1024;
constexpr size_t kReserveLimit = size_t(1) << 22;

// How far a sheet's start is scanned to tell dialog sheets from worksheets.
constexpr int kKindScanRecords = 64;

bool isBof(uint16_t id)
{
    return id == kBof || id == kBof2 || id == kBof3 || id == kBof4;
}

Error damaged(const Record &r, const std::string &detail)
{
    return Error(ErrorCode::Corrupt, recordWhere(r), detail);
}

Error tooShort(const Record &r)
{
    return damaged(r, "record too short");
}

std::string offsetWhere(size_t offset)
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
};

void appendText8(const BiffInfo &info, const uint8_t *p, size_t n, std::string &out)
{
    appendCodePageText(info.codec, reinterpret_cast<const char *>(p), n, out);
}

// A BIFF8 XLUnicodeString (16-bit count) or ShortXLUnicodeString (8-bit).
// Rich-text runs and phonetic blocks that follow are skipped when `skipTail`.
bool readUnicodeString(SegmentCursor &c, bool longCount, bool skipTail, std::string &out)
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
class SheetParser
{
public:
    SheetParser(const BiffInfo &info, Workbook &book, Sheet &sheet)
        : m_info(info)
        , m_book(book)
        , m_sheet(sheet)
    {
    }

    // Parses the substream at `pos`; `extent` (bytes up to the next sheet)
    // only sizes the cell buffer.
    Error parse(const uint8_t *data, size_t size, size_t pos, size_t extent);

private:
    bool add(uint32_t row, uint32_t col, uint32_t xf, CellType type, double number = 0.0,
             uint32_t text = 0)
    {
        if (row >= m_info.maxRows || col >= m_info.maxColumns)
            return false;
        // More records than the grid has cells can only repeat cells; stop
        // there rather than let a hostile file grow the buffer without end.
        if (m_sheet.cells.size() >= size_t(m_info.maxRows) * m_info.maxColumns) {
            m_tooManyCells = true;
            return false;
        }
        Cell c;
        c.row = row;
        c.col = col;
        c.xf = xf;
        c.type = type;
        c.number = number;
        c.text = text;
        m_sheet.cells.push_back(c);
        return true;
    }
    Error outside(const Record &r, uint32_t row, uint32_t col) const
    {
        if (m_tooManyCells)
            return Error(ErrorCode::TooLarge, recordWhere(r),
                         "more cell records than the sheet has cells");
        return Error(ErrorCode::TooLarge, recordWhere(r),
                     "cell at row " + std::to_string(row + 1) + ", column "
                         + std::to_string(col + 1) + " is outside the sheet's "
                         + std::to_string(m_info.maxRows) + " rows and "
                         + std::to_string(m_info.maxColumns) + " columns");
    }
    uint32_t addString(std::string &&s)
    {
        m_book.strings.push_back(std::move(s));
        return uint32_t(m_book.strings.size() - 1);
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
    Error formulaResult(const Record &r, const uint8_t *result, uint32_t row, uint32_t col,
                        uint32_t xf);

    // Merged areas and cell comments widen the used range without holding a
    // value (comments_stress_test.xls, xlrd issue20.xls): their corners become
    // blank cells placed ahead of the real ones, so that a real cell at the
    // same place wins when the sheet is finished.
    void addExtent(uint32_t row, uint32_t col)
    {
        if (row < m_info.maxRows && col < m_info.maxColumns) {
            Cell c;
            c.row = row;
            c.col = col;
            m_extents.push_back(c);
        }
    }
    void finishExtents()
    {
        if (!m_extents.empty())
            m_sheet.cells.insert(m_sheet.cells.begin(), m_extents.begin(), m_extents.end());
        m_extents.clear();
        // Give back a reservation that the sheet used less than half of (a
        // sheet of few, long records); a copy of a full one would cost more.
        std::vector<Cell> &cells = m_sheet.cells;
        if (cells.capacity() > 2 * cells.size() + kReserveThreshold)
            cells.shrink_to_fit();
    }

    const BiffInfo &m_info;
    Workbook &m_book;
    Sheet &m_sheet;
    std::vector<Cell> m_extents;
    bool m_tooManyCells = false;
    uint16_t m_ixfe = 0; // BIFF2: XF index of the next cell whose attribute says 63
    size_t m_pendingString = std::numeric_limits<size_t>::max(); // cell awaiting a STRING record
};

Error SheetParser::formulaResult(const Record &r, const uint8_t *res, uint32_t row, uint32_t col,
                                 uint32_t xf)
{
    bool ok = true;
    if (le16(res + 6) != kFormulaNonNumber) {
        ok = add(row, col, xf, CellType::Number, leDouble(res));
    } else {
        switch (res[0]) {
        case kResultString:
            // The text follows in a STRING record (after any ARRAY, SHRFMLA
            // or TABLE record); until then the cell shows nothing.
            ok = add(row, col, xf, CellType::Text, 0.0, m_info.emptyString);
            if (ok)
                m_pendingString = m_sheet.cells.size() - 1;
            break;
        case kResultBool:
            ok = add(row, col, xf, CellType::Bool, res[2] ? 1.0 : 0.0);
            break;
        case kResultError:
            ok = add(row, col, xf, CellType::Error, res[2]);
            break;
        case kResultEmpty:
            ok = add(row, col, xf, CellType::Text, 0.0, m_info.emptyString);
            break;
        default:
            ok = add(row, col, xf, CellType::Blank);
            break;
        }
    }
    return ok ? Error() : outside(r, row, col);
}

Error SheetParser::parse(const uint8_t *data, size_t size, size_t pos, size_t extent)
{
    RecordReader rr(data, size, pos);
    Record r;
    if (pos >= size || !rr.peekId(r.id))
        return Error(ErrorCode::Corrupt, offsetWhere(pos),
                     "sheet offset is outside the workbook stream");
    // Some writers leave out a sheet's BOF (Test_git_issue624.xls): the sheet
    // then starts right at its offset, which must lie past the globals.
    if (isBof(r.id))
        rr.next(r);
    else if (pos < m_info.globalsEnd)
        return Error(ErrorCode::Corrupt, recordWhere(r.id, pos),
                     "sheet does not start with a BOF record");
    // A cell record takes at least 10 bytes; reserving from the sheet's bytes
    // (not from any count in the file) saves most regrowth.
    const size_t estimate = std::min(extent, size - pos) / 10;
    if (estimate >= kReserveThreshold)
        m_sheet.cells.reserve(std::min(estimate, kReserveLimit));

    const bool biff8 = m_info.version == 8;
    const bool biff2 = m_info.version == 2;
    int depth = 1; // embedded charts are BOF..EOF substreams inside the sheet
    std::vector<SegmentCursor::Segment> segments;
    while (rr.next(r)) {
        const uint8_t *d = r.data;
        const size_t n = r.size;
        if (isBof(r.id)) {
            ++depth;
            continue;
        }
        if (r.id == kEof) {
            if (--depth == 0) {
                finishExtents();
                return {};
            }
            continue;
        }
        if (depth > 1)
            continue;
        uint32_t row = 0, col = 0;
        if (n >= 4) {
            row = le16(d);
            col = le16(d + 2);
        }
        bool ok = true;
        switch (r.id) {
        case kNumber:
            if (n < 14)
                return tooShort(r);
            ok = add(row, col, xf16(le16(d + 4)), CellType::Number, leDouble(d + 6));
            break;
        case kRk:
            if (n < 10)
                return tooShort(r);
            ok = add(row, col, xf16(le16(d + 4)), CellType::Number, decodeRk(le32(d + 6)));
            break;
        case kMulRk: {
            if (n < 6)
                return tooShort(r);
            const size_t count = (n - 6) / 6;
            for (size_t i = 0; i < count && ok; ++i) {
                const uint8_t *p = d + 4 + 6 * i;
                ok = add(row, uint32_t(col + i), xf16(le16(p)), CellType::Number,
                         decodeRk(le32(p + 2)));
                if (!ok)
                    col = uint32_t(col + i);
            }
            break;
        }
        case kLabelSst: {
            if (n < 10)
                return tooShort(r);
            const uint32_t index = le32(d + 6);
            if (index >= m_info.sstCount)
                return damaged(r,
                               "string " + std::to_string(index) + " of a table of "
                                   + std::to_string(m_info.sstCount));
            ok = add(row, col, xf16(le16(d + 4)), CellType::Text, 0.0, index);
            break;
        }
        case kLabel:
        case kRString: {
            if (n < 8)
                return tooShort(r);
            std::string text;
            if (biff8) {
                const SegmentCursor::Segment seg { d + 6, n - 6 };
                SegmentCursor c(&seg, 1);
                if (!readUnicodeString(c, true, false, text))
                    return damaged(r, "string runs past the record");
            } else {
                const size_t count = le16(d + 6);
                if (count > n - 8)
                    return damaged(r, "string runs past the record");
                appendText8(m_info, d + 8, count, text);
            }
            ok = add(row, col, xf16(le16(d + 4)), CellType::Text, 0.0, addString(std::move(text)));
            break;
        }
        case kBlank:
            if (n < 6)
                return tooShort(r);
            ok = add(row, col, xf16(le16(d + 4)), CellType::Blank);
            break;
        case kMulBlank: {
            if (n < 6)
                return tooShort(r);
            const size_t count = (n - 6) / 2;
            for (size_t i = 0; i < count && ok; ++i) {
                ok = add(row, uint32_t(col + i), xf16(le16(d + 4 + 2 * i)), CellType::Blank);
                if (!ok)
                    col = uint32_t(col + i);
            }
            break;
        }
        case kBoolErr:
            if (n < 8)
                return tooShort(r);
            ok = d[7] ? add(row, col, xf16(le16(d + 4)), CellType::Error, d[6])
                      : add(row, col, xf16(le16(d + 4)), CellType::Bool, d[6] ? 1.0 : 0.0);
            break;
        case kFormula3:
        case kFormula4:
            if (n < 14)
                return tooShort(r);
            if (Error e = formulaResult(r, d + 6, row, col, xf16(le16(d + 4))))
                return e;
            break;
        case kFormula:
            if (biff2) {
                if (n < 15)
                    return tooShort(r);
                if (Error e = formulaResult(r, d + 7, row, col, biff2Xf(d + 4)))
                    return e;
            } else {
                if (n < 14)
                    return tooShort(r);
                if (Error e = formulaResult(r, d + 6, row, col, xf16(le16(d + 4))))
                    return e;
            }
            break;
        case kString:
        case kString2: {
            if (m_pendingString == std::numeric_limits<size_t>::max())
                break;
            // A long result goes on in CONTINUE records.
            segments.clear();
            segments.push_back({ d, n });
            uint16_t next = 0;
            Record more;
            while (rr.peekId(next) && next == kContinue && rr.next(more))
                segments.push_back({ more.data, more.size });
            SegmentCursor c(segments.data(), segments.size());
            std::string text;
            if (biff8) {
                if (!readUnicodeString(c, true, false, text))
                    return damaged(r, "string runs past the record");
            } else {
                const size_t count = r.id == kString2 ? c.u8() : c.u16();
                c.bytes(count, text);
                if (!c.ok())
                    return damaged(r, "string runs past the record");
                std::string raw;
                raw.swap(text);
                appendText8(m_info, reinterpret_cast<const uint8_t *>(raw.data()), raw.size(),
                            text);
            }
            m_sheet.cells[m_pendingString].text = addString(std::move(text));
            m_pendingString = std::numeric_limits<size_t>::max();
            break;
        }
        // BIFF2 cell records: a 3-byte attribute instead of an XF index.
        case kBlank2:
            if (n < 7)
                return tooShort(r);
            ok = add(row, col, biff2Xf(d + 4), CellType::Blank);
            break;
        case kInteger2:
            if (n < 9)
                return tooShort(r);
            ok = add(row, col, biff2Xf(d + 4), CellType::Number, le16(d + 7));
            break;
        case kNumber2:
            if (n < 15)
                return tooShort(r);
            ok = add(row, col, biff2Xf(d + 4), CellType::Number, leDouble(d + 7));
            break;
        case kLabel2: {
            if (n < 8)
                return tooShort(r);
            const size_t count = d[7];
            if (count > n - 8)
                return damaged(r, "string runs past the record");
            std::string text;
            appendText8(m_info, d + 8, count, text);
            ok = add(row, col, biff2Xf(d + 4), CellType::Text, 0.0, addString(std::move(text)));
            break;
        }
        case kBoolErr2:
            if (n < 9)
                return tooShort(r);
            ok = d[8] ? add(row, col, biff2Xf(d + 4), CellType::Error, d[7])
                      : add(row, col, biff2Xf(d + 4), CellType::Bool, d[7] ? 1.0 : 0.0);
            break;
        case kIxfe2:
            if (n >= 2)
                m_ixfe = le16(d);
            break;
        case kMergeCells: {
            const size_t count = n >= 2 ? std::min<size_t>(le16(d), (n - 2) / 8) : 0;
            for (size_t i = 0; i < count; ++i) {
                const uint8_t *p = d + 2 + 8 * i;
                addExtent(le16(p), le16(p + 4));
                addExtent(le16(p + 2), le16(p + 6));
            }
            break;
        }
        case kNote:
            // Before BIFF8 a long note goes on in NOTE records whose row is
            // 0xFFFF; those name no cell.
            if (n >= 4 && !(m_info.version < 8 && row == kNoteContinuedRow))
                addExtent(row, col);
            break;
        default:
            break;
        }
        if (!ok)
            return outside(r, row, col);
    }
    if (rr.truncated())
        return Error(ErrorCode::Corrupt, offsetWhere(rr.position()),
                     "record runs past the end of the stream");
    finishExtents();
    return {}; // the stream ends without the sheet's EOF; keep what was read
}

// Lazy per-sheet loading: keeps the workbook stream and each sheet's offset.
class XlsLoader final : public SheetLoader
{
public:
    std::vector<uint8_t> stream;
    BiffInfo info;
    std::vector<size_t> offsets; // parallel to Workbook::sheets
    std::vector<size_t> sortedOffsets;

    Error loadSheet(Workbook &book, int index, Sheet &out) override
    {
        if (index < 0 || size_t(index) >= offsets.size())
            return Error(ErrorCode::Corrupt, {}, "no sheet " + std::to_string(index));
        const SheetKind kind = book.sheets[size_t(index)].kind;
        if (kind == SheetKind::Chart || kind == SheetKind::Module)
            return {}; // no cells
        // The sheet's bytes end where the next sheet starts.
        if (sortedOffsets.size() != offsets.size()) {
            sortedOffsets = offsets;
            std::sort(sortedOffsets.begin(), sortedOffsets.end());
        }
        const size_t pos = offsets[size_t(index)];
        const auto next = std::upper_bound(sortedOffsets.begin(), sortedOffsets.end(), pos);
        const size_t end
            = next == sortedOffsets.end() ? stream.size() : std::min(*next, stream.size());
        SheetParser parser(info, book, out);
        Error e = parser.parse(stream.data(), stream.size(), pos, end - pos);
        if (e)
            e.detail = "sheet \"" + book.sheets[size_t(index)].name + "\": " + e.detail;
        return e;
    }
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

// Position-numbered codes of BIFF2-4 that equal one of the application's own
// formats keep that format's id.
int legacyFormatId(int position, const std::string &code)
{
    static const struct
    {
        const char *code;
        int id;
    } known[] = {
        { "General", 0 },
        { "0", 1 },
        { "0.00", 2 },
        { "#,##0", 3 },
        { "#,##0.00", 4 },
        { "0%", 9 },
        { "0.00%", 10 },
        { "0.00E+00", 11 },
        { "# ?/?", 12 },
        { "# ?\?/?\?", 13 },
        { "h:mm", 20 },
        { "h:mm:ss", 21 },
        { "mm:ss", 45 },
        { "[h]:mm:ss", 46 },
        { "mm:ss.0", 47 },
        { "##0.0E+0", 48 },
        { "@", 49 },
        // The dates and times of the BIFF2-4 default list, written as Excel 4 spelled them.
        { "m/d/yy", 14 },
        { "d\\-mmm\\-yy", 15 },
        { "d\\-mmm", 16 },
        { "mmm\\-yy", 17 },
        { "h:mm\\ AM/PM", 18 },
        { "h:mm:ss\\ AM/PM", 19 },
        { "m/d/yy\\ h:mm", 22 },
        { "d-mmm-yy", 15 },
        { "d-mmm", 16 },
        { "mmm-yy", 17 },
        { "h:mm AM/PM", 18 },
        { "h:mm:ss AM/PM", 19 },
        { "m/d/yy h:mm", 22 },
    };
    for (const auto &k : known) {
        if (qstricmp(code.c_str(), k.code) == 0)
            return k.id;
    }
    return kFirstCustomFormatId + position;
}

class GlobalsParser
{
public:
    GlobalsParser(BiffInfo &info, Workbook &book)
        : m_info(info)
        , m_book(book)
    {
    }

    // Reads the workbook globals (or, for a bare stream, the format records
    // of the whole stream) and fills the book's sheet list and format tables.
    Error parse(const uint8_t *data, size_t size, std::vector<size_t> &offsets,
                const std::string &name);

private:
    Error parseSst(const Record &first, RecordReader &rr);

    BiffInfo &m_info;
    Workbook &m_book;
    uint16_t m_codePage = kCodePageWindows1252;
    std::vector<RawFormat> m_formats;
    std::vector<RawSheet> m_sheets;
    std::vector<RawXf> m_xfs;
    bool m_sawSst = false;
};

Error GlobalsParser::parseSst(const Record &first, RecordReader &rr)
{
    std::vector<SegmentCursor::Segment> segments;
    segments.push_back({ first.data, first.size });
    uint16_t next = 0;
    Record more;
    while (rr.peekId(next) && next == kContinue && rr.next(more))
        segments.push_back({ more.data, more.size });
    SegmentCursor c(segments.data(), segments.size());
    c.skip(8); // total and unique counts: not trusted, the strings are read until the data ends
    if (!c.ok())
        return tooShort(first);
    while (!c.atEnd()) {
        std::string s;
        if (!readUnicodeString(c, true, true, s)) {
            // A string cut short by the end of the table: keep what it holds.
            m_book.strings.push_back(std::move(s));
            break;
        }
        m_book.strings.push_back(std::move(s));
    }
    return {};
}

Error GlobalsParser::parse(const uint8_t *data, size_t size, std::vector<size_t> &offsets,
                           const std::string &name)
{
    RecordReader rr(data, size);
    Record r;
    if (!rr.next(r) || !isBof(r.id) || r.size < 4)
        return Error(ErrorCode::NotAWorkbook, name,
                     "the workbook stream does not start with a BOF record");
    const bool biff8 = m_info.version == 8;
    const bool legacy = m_info.version <= 4;
    while (rr.next(r)) {
        const uint8_t *d = r.data;
        const size_t n = r.size;
        switch (r.id) {
        case kFilePass:
            return Error(ErrorCode::Encrypted, recordWhere(r),
                         "the workbook is password-protected");
        case kCodePage:
            if (n >= 2)
                m_codePage = le16(d);
            break;
        case kDateMode:
            if (n >= 2)
                m_book.date1904 = le16(d) != 0;
            break;
        case kFormat2: {
            if (n < 1 || size_t(d[0]) > n - 1)
                return damaged(r, "format code runs past the record");
            m_formats.push_back({ int(m_formats.size()),
                                  std::string(reinterpret_cast<const char *>(d + 1), d[0]) });
            break;
        }
        case kFormat: {
            if (n < 3)
                return tooShort(r);
            if (biff8) {
                const SegmentCursor::Segment seg { d + 2, n - 2 };
                SegmentCursor c(&seg, 1);
                std::string code;
                if (!readUnicodeString(c, true, false, code))
                    return damaged(r, "format code runs past the record");
                m_formats.push_back({ le16(d), std::move(code) });
            } else {
                if (size_t(d[2]) > n - 3)
                    return damaged(r, "format code runs past the record");
                const int id = legacy ? int(m_formats.size()) : le16(d);
                m_formats.push_back(
                    { id, std::string(reinterpret_cast<const char *>(d + 3), d[2]) });
            }
            break;
        }
        case kXf:
            if (n < 6)
                return tooShort(r);
            m_xfs.push_back({ le16(d + 2), (le16(d + 4) & kXfQuotePrefix) != 0 });
            break;
        case kXf3:
        case kXf4:
            if (n < 4)
                return tooShort(r);
            m_xfs.push_back({ d[1], (d[2] & kXfQuotePrefix) != 0 });
            break;
        case kXf2:
            if (n < 4)
                return tooShort(r);
            m_xfs.push_back({ uint16_t(d[2] & 0x3F), false });
            break;
        case kBoundSheet: {
            if (n < 7)
                return tooShort(r);
            RawSheet s { le32(d), d[4], d[5], {} };
            if (biff8) {
                const SegmentCursor::Segment seg { d + 6, n - 6 };
                SegmentCursor c(&seg, 1);
                if (!readUnicodeString(c, false, false, s.name))
                    return damaged(r, "sheet name runs past the record");
            } else {
                if (size_t(d[6]) > n - 7)
                    return damaged(r, "sheet name runs past the record");
                s.name.assign(reinterpret_cast<const char *>(d + 7), d[6]);
            }
            m_sheets.push_back(std::move(s));
            break;
        }
        case kBundleSheet4:
            return Error(ErrorCode::Unsupported, recordWhere(r),
                         "Excel 4 workbooks (BIFF4W) are not supported");
        case kSst:
            if (!biff8 || m_sawSst)
                break;
            m_sawSst = true;
            if (Error e = parseSst(r, rr))
                return e;
            break;
        default:
            break;
        }
        if (r.id == kEof && !m_info.bare)
            break;
    }
    m_info.globalsEnd = rr.position();
    if (rr.truncated() && !m_info.bare)
        return Error(ErrorCode::Corrupt, offsetWhere(rr.position()),
                     "workbook globals run past the end of the stream");

    m_info.codec = codecForCodePage(m_codePage);
    m_info.sstCount = uint32_t(m_book.strings.size());
    m_info.emptyString = uint32_t(m_book.strings.size());
    m_book.strings.emplace_back();

    auto decode = [&](const std::string &raw) {
        if (biff8)
            return raw;
        std::string out;
        appendText8(m_info, reinterpret_cast<const uint8_t *>(raw.data()), raw.size(), out);
        return out;
    };

    // Number formats and cell formats.
    if (legacy) {
        std::vector<int> ids;
        for (const RawFormat &f : m_formats) {
            const std::string code = decode(f.text);
            const int id = legacyFormatId(f.id, code);
            ids.push_back(id);
            if (id >= kFirstCustomFormatId)
                m_book.numFmts[id] = code;
        }
        auto idAt = [&](size_t position) { return position < ids.size() ? ids[position] : 0; };
        if (m_info.version == 2) {
            // BIFF2 cells name their format directly (see SheetParser::biff2Xf).
            for (uint32_t i = 0; i < kBiff2FormatSlots; ++i)
                m_book.xfs.push_back({ uint16_t(idAt(i)), false });
            for (const RawXf &x : m_xfs)
                m_book.xfs.push_back({ uint16_t(idAt(x.format)), false });
        } else {
            for (const RawXf &x : m_xfs)
                m_book.xfs.push_back({ uint16_t(idAt(x.format)), x.quotePrefix });
        }
    } else {
        // Every code goes to the table, built-in ids too: the renderer knows
        // which of them the application takes from the file (the currency
        // formats) and which it shows its own way.
        for (const RawFormat &f : m_formats)
            m_book.numFmts[f.id] = decode(f.text);
        for (const RawXf &x : m_xfs)
            m_book.xfs.push_back({ x.format, x.quotePrefix });
    }

    // Sheets.
    if (m_info.bare) {
        SheetInfo info;
        info.name = name;
        m_book.sheets.push_back(info);
        offsets.push_back(0);
        return {};
    }
    for (const RawSheet &raw : m_sheets) {
        SheetInfo info;
        info.name = decode(raw.name);
        switch (raw.state & 0x03) {
        case 1:
            info.state = SheetState::Hidden;
            break;
        case 2:
            info.state = SheetState::VeryHidden;
            break;
        default:
            info.state = SheetState::Visible;
            break;
        }
        switch (raw.type) {
        case kTypeMacro:
            info.kind = SheetKind::Macro;
            break;
        case kTypeChart:
            info.kind = SheetKind::Chart;
            break;
        case kTypeVbModule:
            info.kind = SheetKind::Module;
            break;
        default:
            info.kind = SheetKind::Worksheet;
            break;
        }
        // The sheet's own BOF says what it is; a WSBOOL flag marks dialogs.
        RecordReader sr(data, size, raw.offset);
        Record s;
        if (raw.offset < size && sr.next(s) && s.id == kBof && s.size >= 4) {
            const uint16_t dt = le16(s.data + 2);
            if (dt == kBofChart)
                info.kind = SheetKind::Chart;
            else if (dt == kBofVbModule)
                info.kind = SheetKind::Module;
            else if (dt == kBofMacroSheet)
                info.kind = SheetKind::Macro;
            for (int i = 0; info.kind == SheetKind::Worksheet && i < kKindScanRecords && sr.next(s);
                 ++i) {
                if (s.id == kWsBool && s.size >= 1) {
                    if (s.data[0] & kWsBoolDialog)
                        info.kind = SheetKind::Dialog;
                    break;
                }
                if (s.id == kDimensions || s.id == kEof)
                    break;
            }
        }
        m_book.sheets.push_back(std::move(info));
        offsets.push_back(raw.offset);
    }
    return {};
}

// Version of a stream from its first record; 0 when it is not a BOF.
int biffVersion(const uint8_t *data, size_t size, bool *bare)
{
    *bare = false;
    if (size < 8)
        return 0;
    switch (le16(data)) {
    case kBof2:
        *bare = true;
        return 2;
    case kBof3:
        *bare = true;
        return 3;
    case kBof4:
        *bare = true;
        return 4;
    case kBof: {
        if (le16(data + 2) < 4)
            return 0;
        *bare = le16(data + 6) == kBofWorksheet;
        return le16(data + 4) == kBiff8Version ? 8 : 5;
    }
    default:
        return 0;
    }
}

std::unique_ptr<Workbook> fail(Error *error, Error e)
{
    if (error)
        *error = std::move(e);
    return nullptr;
}

} // namespace

bool looksLikeBareBiff(const unsigned char *head, size_t size)
{
    if (size < 4)
        return false;
    const unsigned id = head[0] | (head[1] << 8);
    if (id == kBof2 || id == kBof3 || id == kBof4)
        return true;
    // A BIFF5 worksheet BOF at the very start: a worksheet stream some
    // programs write without a compound file.
    return id == kBof && size >= 8 && (head[6] | (head[7] << 8)) == kBofWorksheet;
}

std::unique_ptr<Workbook> openXlsMemory(const uint8_t *data, size_t size, const std::string &name,
                                        Error *error)
{
    auto loader = std::make_unique<XlsLoader>();
    if (hasMagic(data, size, kCfbMagic)) {
        CompoundFile cfb;
        if (Error e = cfb.open(data, size))
            return fail(error, e);
        if (cfb.findRootEntry("EncryptedPackage") >= 0 || cfb.findRootEntry("EncryptionInfo") >= 0)
            return fail(
                error,
                Error(ErrorCode::Encrypted, name, "password-protected Office Open XML package"));
        int index = cfb.findRootEntry("Workbook");
        if (index < 0)
            index = cfb.findRootEntry("Book");
        if (index < 0)
            return fail(
                error,
                Error(ErrorCode::NotAWorkbook, name, "compound file without a Workbook stream"));
        if (Error e = cfb.readStream(cfb.rootEntries()[size_t(index)], loader->stream))
            return fail(error, e);
    } else if (looksLikeBareBiff(data, size)) {
        loader->stream.assign(data, data + size);
    } else {
        return fail(error, Error(ErrorCode::NotAWorkbook, name, "not an Excel workbook"));
    }

    bool bare = false;
    const int version = biffVersion(loader->stream.data(), loader->stream.size(), &bare);
    if (version == 0)
        return fail(error,
                    Error(ErrorCode::NotAWorkbook, name,
                          "the workbook stream does not start with a BOF record"));
    BiffInfo &info = loader->info;
    info.version = version;
    info.bare = bare;
    info.maxRows = version == 8 ? kBiff8MaxRows : kBiff2To7MaxRows;
    info.maxColumns = kBiffMaxColumns;

    auto book = std::make_unique<Workbook>();
    GlobalsParser globals(info, *book);
    std::string sheetName
        = QFileInfo(QString::fromStdString(name)).completeBaseName().toStdString();
    if (sheetName.empty())
        sheetName = "Sheet1";
    if (Error e
        = globals.parse(loader->stream.data(), loader->stream.size(), loader->offsets, sheetName))
        return fail(error, e);
    book->loader = std::move(loader);
    return book;
}

std::unique_ptr<Workbook> openXls(const std::string &path, Error *error)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return fail(error, Error(ErrorCode::CannotOpen, path, file.errorString().toStdString()));
    // Mapping the file saves a copy of it; only the workbook stream is kept.
    const qint64 size = file.size();
    const uchar *mapped = size > 0 ? file.map(0, size) : nullptr;
    QByteArray bytes;
    if (!mapped) {
        bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return fail(error,
                        Error(ErrorCode::CannotOpen, path, file.errorString().toStdString()));
    }
    const uint8_t *data = mapped ? mapped : reinterpret_cast<const uint8_t *>(bytes.constData());
    const size_t length = mapped ? size_t(size) : size_t(bytes.size());
    auto book = openXlsMemory(data, length, path, error);
    if (mapped)
        file.unmap(const_cast<uchar *>(mapped));
    if (book)
        book->path = path;
    return book;
}

} // namespace sd
