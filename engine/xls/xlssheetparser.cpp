#include "xls/xlsreader_p.h"

#include "formula/ast.h"
#include "formula/workbookcalc.h"
#include "io/limits.h"

#include <algorithm>

namespace sd {

using namespace biff;

namespace {

// Row and column of a cell record (0, 0 when the record is too short to say).
void cellPlace(const Record &r, uint32_t &row, uint32_t &col)
{
    row = r.size >= 4 ? le16(r.data) : 0;
    col = r.size >= 4 ? le16(r.data + 2) : 0;
}

} // namespace

Error XlsSheetParser::formulaResult(const Record &r, const uint8_t *res, uint32_t row, uint32_t col,
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

Error XlsSheetParser::parse(const RandomAccessSource &stream, size_t pos, size_t extent,
                            uint64_t byteBudget)
{
    RecordReader rr(stream, pos);
    rr.setLimits(kMaxSubstreamRecords, byteBudget);
    Error e = parseRecords(rr, pos, extent);
    m_bytesRead = rr.bytesRead();
    return e ? e : rr.error();
}

Error XlsSheetParser::parseRecords(RecordReader &rr, size_t pos, size_t extent)
{
    const size_t size = size_t(rr.size());
    Record r;
    if (pos >= size || !rr.peekId(r.id))
        return rr.error() ? rr.error()
                          : Error(ErrorCode::Corrupt, offsetWhere(pos),
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
    if (estimate >= kReserveThreshold && !m_stream)
        m_sheet.cells.reserve(std::min(estimate, kMaxCellReservation));

    int depth = 1; // embedded charts are BOF..EOF substreams inside the sheet
    while (rr.next(r)) {
        if (isBof(r.id)) {
            ++depth;
            continue;
        }
        if (r.id == kEof) {
            if (--depth == 0) {
                resolveSharedFormulas();
                if (m_stream && !streamCells(true))
                    return streamStopped();
                finish();
                return {};
            }
            continue;
        }
        if (depth > 1)
            continue;
        if (Error e = record(r, rr))
            return e;
        if (m_stream && !streamCells(false))
            return streamStopped();
    }
    if (rr.error())
        return {}; // parse() reports it
    if (rr.truncated())
        return Error(ErrorCode::Corrupt, offsetWhere(rr.position()),
                     "record runs past the end of the stream");
    resolveSharedFormulas();
    if (m_stream && !streamCells(true))
        return streamStopped();
    finish();
    return {}; // the stream ends without the sheet's EOF; keep what was read
}

// Cells are handed over between records, never while a formula's cell
// waits for the STRING record that holds its text.
bool XlsSheetParser::streamCells(bool atEnd)
{
    if (!m_streamBegun && (atEnd || !m_sheet.cells.empty())) {
        m_streamBegun = true;
        m_sheet.formattedColumns = m_columns.counted();
        if (!m_stream->begin(m_hasDimension ? &m_dimension : nullptr, m_sheet))
            return false;
    }
    if (!m_streamBegun)
        return true;
    if (atEnd
        || (m_sheet.cells.size() >= m_batchCells
            && m_pendingString == std::numeric_limits<size_t>::max())) {
        m_budget.releaseStrings(countedBytes(m_streamTexts));
        return m_stream->handOver(m_sheet.cells, m_streamTexts);
    }
    return true;
}

// DIMENSIONS: first and last row + 1, first and last column + 1. Taken
// only as the streaming writer's guess at the used range, which it checks.
// A sheet without cells states 0, 0, 0, 0: the used range A1.
void XlsSheetParser::dimensionRecord(const Record &r)
{
    if (m_dimensionSeen)
        return;
    m_dimensionSeen = true;
    const bool wide = m_info.version == 8;
    if (r.size < (wide ? 12u : 8u))
        return;
    const uint8_t *d = r.data;
    const uint32_t rowFirst = wide ? le32(d) : le16(d);
    const uint32_t rowEnd = wide ? le32(d + 4) : le16(d + 2);
    const uint32_t colFirst = le16(d + (wide ? 8 : 4));
    const uint32_t colEnd = le16(d + (wide ? 10 : 6));
    if (rowFirst == 0 && rowEnd == 0 && colFirst == 0 && colEnd == 0) {
        m_dimension = CellRange();
    } else if (rowFirst < rowEnd && colFirst < colEnd && rowEnd <= m_info.maxRows
               && colEnd <= m_info.maxColumns) {
        m_dimension = { rowFirst, colFirst, rowEnd - 1, colEnd - 1 };
    } else {
        return;
    }
    m_hasDimension = true;
}

Error XlsSheetParser::record(const Record &r, RecordReader &rr)
{
    switch (r.id) {
    case kNumber:
    case kRk:
    case kMulRk:
        return numberRecord(r);
    case kLabelSst:
    case kLabel:
    case kRString:
        return labelRecord(r);
    case kBlank:
    case kMulBlank:
    case kBoolErr:
        return blankOrBoolRecord(r);
    case kFormula3:
    case kFormula4:
    case kFormula:
        return formulaRecord(r);
    case kShrFmla:
    case kArray:
        if (!sharedTokens(r))
            return m_budget.error(recordWhere(r));
        return {};
    case kString:
    case kString2:
        return stringRecord(r, rr);
    case kBlank2:
    case kInteger2:
    case kNumber2:
    case kLabel2:
    case kBoolErr2:
    case kIxfe2:
        return biff2Record(r);
    case kMergeCells:
    case kNote:
        return extentRecord(r);
    case kDimensions:
        dimensionRecord(r);
        return {};
    case kDimensions2:
        if (m_info.version == 2)
            dimensionRecord(r);
        return {};
    case kRow:
    case kColInfo:
        formattedRecord(r);
        return {};
    case kFilterMode: // the sheet shows a filter's result: its hidden rows are filtered
        m_sheet.filtering = true;
        return {};
    case kDefaultRowHeight:
    case kDefaultRowHeight2:
        if (r.size >= (r.id == kDefaultRowHeight ? 4u : 2u))
            m_defaultRowHeight = le16(r.data + (r.id == kDefaultRowHeight ? 2 : 0)) & 0x7FFF;
        return {};
    default:
        return {};
    }
}

// NUMBER, RK, MULRK.
Error XlsSheetParser::numberRecord(const Record &r)
{
    const uint8_t *d = r.data;
    const size_t n = r.size;
    uint32_t row, col;
    cellPlace(r, row, col);
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
    default: { // MULRK
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
    }
    return ok ? Error() : outside(r, row, col);
}

// LABELSST, LABEL, RSTRING.
Error XlsSheetParser::labelRecord(const Record &r)
{
    const uint8_t *d = r.data;
    const size_t n = r.size;
    uint32_t row, col;
    cellPlace(r, row, col);
    bool ok = true;
    if (r.id == kLabelSst) {
        if (n < 10)
            return tooShort(r);
        const uint32_t index = le32(d + 6);
        if (index >= m_info.sstCount)
            return damaged(r,
                           "string " + std::to_string(index) + " of a table of "
                               + std::to_string(m_info.sstCount));
        ok = add(row, col, xf16(le16(d + 4)), CellType::Text, 0.0, index);
    } else {
        if (n < 8)
            return tooShort(r);
        if (m_info.version == 8) {
            const SegmentCursor::Segment seg { d + 6, n - 6 };
            SegmentCursor c(&seg, 1);
            std::string text;
            if (!readUnicodeString(c, true, false, text))
                return damaged(r, "string runs past the record");
            ok = addText(row, col, xf16(le16(d + 4)), std::move(text));
        } else {
            const size_t count = le16(d + 6);
            if (count > n - 8)
                return damaged(r, "string runs past the record");
            ok = addText8(row, col, xf16(le16(d + 4)), d + 8, count);
        }
    }
    return ok ? Error() : outside(r, row, col);
}

// BLANK, MULBLANK, BOOLERR.
Error XlsSheetParser::blankOrBoolRecord(const Record &r)
{
    const uint8_t *d = r.data;
    const size_t n = r.size;
    uint32_t row, col;
    cellPlace(r, row, col);
    bool ok = true;
    switch (r.id) {
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
    default: // BOOLERR
        if (n < 8)
            return tooShort(r);
        ok = addBoolErr(row, col, xf16(le16(d + 4)), d[6], d[7]);
        break;
    }
    return ok ? Error() : outside(r, row, col);
}

// FORMULA in each BIFF generation: the cached result is the cell's value.
Error XlsSheetParser::formulaRecord(const Record &r)
{
    const uint8_t *d = r.data;
    const size_t n = r.size;
    uint32_t row, col;
    cellPlace(r, row, col);
    if (r.id == kFormula && m_info.version == 2) {
        if (n < 15)
            return tooShort(r);
        return formulaResult(r, d + 7, row, col, biff2Xf(d + 4));
    }
    if (n < 14)
        return tooShort(r);
    if (Error e = formulaResult(r, d + 6, row, col, xf16(le16(d + 4))))
        return e;
    if (r.id == kFormula && m_info.version >= 5 && !keepFormula(r, row, col))
        return m_budget.error(recordWhere(r));
    return {};
}

namespace {

uint64_t cellKey(uint32_t row, uint32_t col)
{
    return (uint64_t(row) << 32) | col;
}

} // namespace

// FORMULA (BIFF5-8): row, column, XF, result (8), flags, chn (4), cce, then
// cce bytes of tokens and the data that follows them. A formula that is
// part of a shared or array formula holds only ptgExp, naming the cell
// whose SHRFMLA or ARRAY record holds the tokens.
bool XlsSheetParser::keepFormula(const Record &r, uint32_t row, uint32_t col)
{
    const uint8_t *d = r.data;
    if (r.size < 22)
        return true;
    const uint16_t flags = le16(d + 14);
    const size_t cce = le16(d + 20);
    if (size_t(r.size) - 22 < cce || cce == 0)
        return true;
    const uint8_t *tokens = d + 22;
    CellFormula f;
    f.row = f.anchorRow = row;
    f.col = f.anchorCol = col;
    f.flags = CellFormula::Tokens | CellFormula::Cached;
    if (m_info.version < 8)
        f.flags |= CellFormula::Biff5;
    if (flags & 0x0001) // fAlwaysCalc: the application marks volatile formulas so
        f.flags |= CellFormula::Volatile;
    uint32_t pointRow = 0, pointCol = 0;
    if (formula::tokensPointAt(tokens, cce, pointRow, pointCol)) {
        if (tokens[0] != 0x01)
            return true; // a data table keeps its values
        if (!chargeFormula(sizeof(CellFormula)))
            return false;
        m_pointing.emplace_back(m_sheet.formulas.size(), cellKey(pointRow, pointCol));
    } else {
        const std::string_view body(reinterpret_cast<const char *>(tokens), cce);
        if (formula::tokensLookVolatile(body))
            f.flags |= CellFormula::Volatile;
        if (!chargeFormula(sizeof(CellFormula) + r.size - 22))
            return false;
        f.data = uint32_t(m_sheet.formulaData.size());
        m_sheet.formulaData.emplace_back(body);
        if (r.size > 22 + cce) {
            f.extra = uint32_t(m_sheet.formulaData.size());
            m_sheet.formulaData.emplace_back(reinterpret_cast<const char *>(tokens + cce),
                                             r.size - 22 - cce);
        }
    }
    m_sheet.formulas.push_back(f);
    return true;
}

// SHRFMLA: range (rows u16 u16, columns u8 u8), reserved, use count, cce,
// tokens. ARRAY: range, flags, chn (4), cce, tokens. Both may have data
// after the tokens.
bool XlsSheetParser::sharedTokens(const Record &r)
{
    const size_t at = r.id == kShrFmla ? 8 : 12;
    if (m_info.version < 5 || r.size < at + 2)
        return true;
    const uint8_t *d = r.data;
    const size_t cce = le16(d + at);
    if (size_t(r.size) - at - 2 < cce || cce == 0)
        return true;
    SharedTokens t;
    t.range = { le16(d), d[4], le16(d + 2), d[5] };
    if (t.range.lastRow < t.range.firstRow || t.range.lastCol < t.range.firstCol)
        return true;
    if (!chargeFormula(sizeof(SharedTokens) + r.size - at - 2))
        return false;
    t.array = r.id == kArray;
    t.data = uint32_t(m_sheet.formulaData.size());
    m_sheet.formulaData.emplace_back(reinterpret_cast<const char *>(d + at + 2), cce);
    t.extra = CellFormula::kNone;
    if (r.size > at + 2 + cce) {
        t.extra = uint32_t(m_sheet.formulaData.size());
        m_sheet.formulaData.emplace_back(reinterpret_cast<const char *>(d + at + 2 + cce),
                                         r.size - at - 2 - cce);
    }
    m_sharedTokens[cellKey(t.range.firstRow, t.range.firstCol)] = t;
    return true;
}

// Gives each formula that pointed at a SHRFMLA or ARRAY record its tokens.
void XlsSheetParser::resolveSharedFormulas()
{
    for (const auto &p : m_pointing) {
        auto it = m_sharedTokens.find(p.second);
        if (it == m_sharedTokens.end())
            continue;
        CellFormula &f = m_sheet.formulas[p.first];
        const SharedTokens &t = it->second;
        f.data = t.data;
        f.extra = t.extra;
        f.anchorRow = t.range.firstRow;
        f.anchorCol = t.range.firstCol;
        if (t.array) {
            f.flags |= CellFormula::Array;
            f.range = t.range;
        }
        if (formula::tokensLookVolatile(m_sheet.formulaData[t.data]))
            f.flags |= CellFormula::Volatile;
    }
    m_pointing.clear();
    m_sharedTokens.clear();
}

// STRING: the text result of the formula before it.
Error XlsSheetParser::stringRecord(const Record &r, RecordReader &rr)
{
    if (m_pendingString == std::numeric_limits<size_t>::max())
        return {};
    // A long result goes on in CONTINUE records, read as the text needs them.
    SegmentCursor c(r, rr);
    std::string text;
    if (m_info.version == 8) {
        if (!readUnicodeString(c, true, false, text))
            return damaged(r, "string runs past the record");
    } else {
        const size_t count = r.id == kString2 ? c.u8() : c.u16();
        c.bytes(count, text);
        if (!c.ok())
            return damaged(r, "string runs past the record");
        std::string raw;
        raw.swap(text);
        appendText8(m_info, reinterpret_cast<const uint8_t *>(raw.data()), raw.size(), text);
    }
    c.skipRest();
    uint32_t index = 0;
    if (!addString(std::move(text), index))
        return m_budget.error(recordWhere(r));
    m_sheet.cells[m_pendingString].text = index;
    m_pendingString = std::numeric_limits<size_t>::max();
    return {};
}

// BIFF2 cell records: a 3-byte attribute instead of an XF index.
Error XlsSheetParser::biff2Record(const Record &r)
{
    const uint8_t *d = r.data;
    const size_t n = r.size;
    uint32_t row, col;
    cellPlace(r, row, col);
    bool ok = true;
    switch (r.id) {
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
        ok = addText8(row, col, biff2Xf(d + 4), d + 8, count);
        break;
    }
    case kBoolErr2:
        if (n < 9)
            return tooShort(r);
        ok = addBoolErr(row, col, biff2Xf(d + 4), d[7], d[8]);
        break;
    default: // IXFE
        if (n >= 2)
            m_ixfe = le16(d);
        break;
    }
    return ok ? Error() : outside(r, row, col);
}

// MERGEDCELLS and NOTE: corners that widen the used range.
Error XlsSheetParser::extentRecord(const Record &r)
{
    const uint8_t *d = r.data;
    const size_t n = r.size;
    if (r.id == kMergeCells) {
        const size_t count = n >= 2 ? std::min<size_t>(le16(d), (n - 2) / 8) : 0;
        for (size_t i = 0; i < count; ++i) {
            if (!m_budget.addMergedArea())
                return m_budget.error(recordWhere(r));
            const uint8_t *p = d + 2 + 8 * i;
            addExtent(le16(p), le16(p + 4));
            addExtent(le16(p + 2), le16(p + 6));
        }
        return {};
    }
    // Before BIFF8 a long note goes on in NOTE records whose row is 0xFFFF;
    // those name no cell.
    uint32_t row, col;
    cellPlace(r, row, col);
    if (n >= 4 && !(m_info.version < 8 && row == kNoteContinuedRow))
        addExtent(row, col);
    return {};
}

// ROW and COLINFO: the rows and columns they add to the used range (the
// rule and its evidence are at Sheet::usedRange()). A ROW record counts when
// the row has a property of its own: a height other than the sheet's
// default (12561-2.xls, 56450.xls: rows below the cells with no flag but
// their height are rows of Excel's exports), its own height or format,
// hidden, an outline level. COLINFO ranges go through ColumnRanges; a range
// that runs past IV (Excel writes 256 for "to the end") formats the whole
// width, one that stops at IV does not (A4X_gnumeric.xls: 256 columns).
void XlsSheetParser::formattedRecord(const Record &r)
{
    const uint8_t *d = r.data;
    if (r.id == kRow) {
        if (r.size < 16 || le16(d) >= m_info.maxRows)
            return;
        const uint16_t height = le16(d + 6);
        if ((le16(d + 12) & kRowOwnProperties)
            || (!(height & kRowHeightDefault) && height != m_defaultRowHeight))
            m_sheet.formattedRows.add(le16(d), le16(d));
        if (le16(d + 12) & kRowHidden)
            m_sheet.hideRow(le16(d));
        return;
    }
    if (r.size < 10)
        return;
    const uint32_t first = le16(d), last = le16(d + 2);
    if (first > last || first >= m_info.maxColumns)
        return;
    const uint16_t flags = le16(d + 8);
    const bool hiddenOrGrouped
        = ((flags & kColHidden) && le16(d + 4) > 0) || (flags & kColOutlineLevel);
    const bool toGridEnd = last >= m_info.maxColumns;
    m_columns.add(first, std::min<uint32_t>(last, m_info.maxColumns - 1), le16(d + 6),
                  hiddenOrGrouped, toGridEnd);
}

} // namespace sd
