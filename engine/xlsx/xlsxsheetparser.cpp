#include "xlsx/xlsxsheetparser.h"

#include "core/sheetbudget.h"
#include "core/sheetstream.h"
#include "formula/formulalimits.h"
#include "formula/workbookcalc.h"
#include "io/xmlreader.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

namespace sd {

namespace {

// Drops the XML white space around a value (pretty-printed parts put line
// ends inside <v>).
std::string_view trimmed(std::string_view text)
{
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

// An xsd:boolean attribute that is true.
bool flagSet(std::string_view v)
{
    return v == "1" || v == "true";
}

bool parseUint(std::string_view text, uint64_t &value)
{
    // Nearly always a few plain digits: taken without the general parser.
    if (!text.empty() && text.size() <= 18) {
        uint64_t v = 0;
        size_t i = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            v = v * 10 + uint64_t(text[i++] - '0');
        if (i == text.size()) {
            value = v;
            return true;
        }
    }
    text = trimmed(text);
    if (text.empty())
        return false;
    auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    return res.ec == std::errc() && res.ptr == text.data() + text.size();
}

// A number of at most 15 digits with an optional sign and decimal point
// and no exponent ("68776", "-3.25"): the digits make an integer that a
// double holds exactly, and dividing it by an exact power of ten rounds
// once, correctly, so the result is the one std::from_chars gives.
bool parseShortDecimal(std::string_view text, double &value)
{
    static constexpr double kPow10[]
        = { 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15 };
    const char *p = text.data();
    const char *const end = p + text.size();
    const bool negative = p < end && *p == '-';
    if (negative)
        ++p;
    uint64_t mantissa = 0;
    int digits = 0;
    int fraction = -1; // digits after the point, once there is one
    for (; p < end; ++p) {
        if (*p >= '0' && *p <= '9') {
            mantissa = mantissa * 10 + uint64_t(*p - '0');
            ++digits;
            if (fraction >= 0)
                ++fraction;
        } else if (*p == '.' && fraction < 0) {
            fraction = 0;
        } else {
            return false;
        }
    }
    if (digits == 0 || digits > 15)
        return false;
    double v = double(mantissa);
    if (fraction > 0)
        v /= kPow10[fraction];
    value = negative ? -v : v;
    return true;
}

bool parseDouble(std::string_view text, double &value)
{
    if (parseShortDecimal(text, value))
        return true;
    text = trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return false;
    auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    return res.ec == std::errc() && res.ptr == text.data() + text.size() && std::isfinite(value);
}

uint8_t errorCodeFromText(std::string_view text, bool &known)
{
    static const struct
    {
        const char *text;
        uint8_t code;
    } table[] = {
        { "#NULL!", ErrNull },       { "#DIV/0!", ErrDiv0 },
        { "#VALUE!", ErrValue },     { "#REF!", ErrRef },
        { "#NAME?", ErrName },       { "#NUM!", ErrNum },
        { "#N/A", ErrNA },           { "#GETTING_DATA", ErrGettingData },
        { "#SPILL!", ErrSpill },     { "#CONNECT!", ErrConnect },
        { "#BLOCKED!", ErrBlocked }, { "#UNKNOWN!", ErrUnknown },
        { "#FIELD!", ErrField },     { "#CALC!", ErrCalc },
    };
    for (const auto &entry : table) {
        if (text == entry.text) {
            known = true;
            return entry.code;
        }
    }
    known = false;
    return ErrNA;
}

// Whether a <row> has a property of its own: a height, a format, hidden,
// an outline level (a bare <row r="6"/> has none).
bool rowHasProperties(const XmlReader &x)
{
    uint64_t level = 0;
    if (!x.attribute("ht").empty() || (parseUint(x.attribute("outlineLevel"), level) && level > 0))
        return true;
    for (const char *flag :
         { "customHeight", "customFormat", "hidden", "collapsed", "thickTop", "thickBot" })
        if (flagSet(x.attribute(flag)))
            return true;
    return false;
}

// The state of one sheet's parse. Cells are appended in file order;
// Sheet::finish sorts them and lets a later duplicate win. Only <sheetData>
// is read for cells; its <c> elements are kept when they have a value or a
// style other than 0.
// The t attribute of a cell: how its <v> (or <is>) reads.
enum class CellKind : uint8_t {
    Number, // n, and any type not known
    SharedString, // s: <v> indexes the shared strings
    FormulaString, // str: a formula's text result
    InlineString, // inlineStr: text in <is> (some writers put it in <v>)
    Bool, // b
    Error, // e
    Date, // d: an ISO 8601 date
};

// Reads the t attribute. Only its first letter counts, except for the two
// long names.
CellKind cellKindOf(std::string_view t)
{
    if (t.empty())
        return CellKind::Number;
    if (t == "str")
        return CellKind::FormulaString;
    if (t == "inlineStr")
        return CellKind::InlineString;
    switch (t[0]) {
    case 's':
        return CellKind::SharedString;
    case 'f':
        return CellKind::FormulaString;
    case 'i':
        return CellKind::InlineString;
    case 'b':
        return CellKind::Bool;
    case 'e':
        return CellKind::Error;
    case 'd':
        return CellKind::Date;
    default:
        return CellKind::Number;
    }
}

class XlsxSheetParser
{
public:
    XlsxSheetParser(ByteSource &source, const std::string &where, Workbook &book,
                    size_t sharedStrings, Sheet &out, uint64_t sizeHint,
                    const std::vector<bool> *dynamicArrays)
        : m_dynamicArrays(dynamicArrays)
        , m_xml(source, where, sizeHint)
        , m_where(where)
        , m_book(book)
        , m_sharedStrings(sharedStrings)
        , m_out(out)
        , m_budget(out)
        , m_stream(out.stream)
        , m_textBase(out.stream ? out.stream->textBase() : 0)
        , m_batchCells(out.stream ? out.stream->batchCells() : 0)
    {
    }

    Error run();

private:
    const std::vector<bool> *m_dynamicArrays;
    uint32_t m_cellMetadata = 0; // the cell's cm attribute, 0 when it has none

    // Where the parse stands: which text an XML text run belongs to.
    enum class Slot { None, V, InlineT, F };
    // The text of a shared formula, by its si, and the cell it was written for.
    struct SharedMaster
    {
        uint32_t data, row, col;
        bool isVolatile;
    };

    Error startElement(std::string_view name);
    Error endElement(std::string_view name);
    Error startRow(std::string_view r);
    void columnRange();
    Error beginCell(std::string_view r, std::string_view s, std::string_view t);
    // `v` is the text of <v>: m_vText, or a view of it in the reader's window.
    Error endCell(std::string_view v);
    void beginFormula();
    // Both false past the sheet's text bound, which what they keep counts
    // against.
    bool recordFormula();
    bool addArrayMembers();
    void filterRows(std::string_view ref);
    bool addText(std::string_view text)
    {
        if (!m_budget.addString(text.size()))
            return false;
        m_cell.type = CellType::Text;
        if (m_stream) { // kept with the batch, read on the writer's thread
            m_cell.text = uint32_t(m_textBase + m_streamTexts.size());
            m_streamTexts.emplace_back(text);
            return true;
        }
        m_cell.text = uint32_t(m_book.strings.size());
        m_book.strings.emplace_back(text);
        return true;
    }
    // Streaming (Sheet::stream): what stops the reading once the writer
    // no longer wants the cells; the writer then reads the sheet whole, and
    // this error is never shown.
    Error streamStopped() const
    {
        return Error(ErrorCode::Unsupported, m_where, "sheet to be read whole");
    }
    bool handOver()
    {
        m_budget.releaseStrings(countedBytes(m_streamTexts));
        return m_stream->handOver(m_out.cells, m_streamTexts);
    }
    void readDimension(std::string_view ref);
    // Appends the current text event to the text being built, within the
    // sheet's text bound.
    bool appendText(std::string &to)
    {
        return m_xml.appendText(to) && m_budget.stringFits(to.size());
    }
    Error budgetError() const { return m_budget.error(m_where); }
    Error rowError(ErrorCode code, const std::string &detail) const
    {
        return Error(code, m_where, detail + " (row " + std::to_string(m_row + 1) + ")");
    }

    XmlReader m_xml;
    const std::string &m_where;
    Workbook &m_book;
    const size_t m_sharedStrings;
    Sheet &m_out;
    SheetBudget m_budget;
    int64_t m_row = -1;
    int64_t m_lastCol = -1;
    Cell m_cell;
    CellKind m_kind = CellKind::Number;
    bool m_haveV = false, m_haveIs = false, m_haveF = false;
    std::string m_vText, m_isText;
    int m_sheetDataDepth = -1; // -1 before <sheetData>, -2 after it
    int m_topDepth = -1; // the depth of <sheetData> and its siblings
    bool m_inCell = false, m_inIs = false;
    bool m_isKeepsSpace = false, m_tKeepsSpace = false; // xml:space of <is>, of <t>
    size_t m_tStart = 0; // where the current <t>'s text starts in m_isText
    int m_rPhDepth = 0;
    Slot m_slot = Slot::None;
    std::string m_fText, m_fType, m_fRef, m_fSi; // the cell's <f>
    std::unordered_map<uint32_t, SharedMaster> m_shared;
    std::vector<size_t> m_arrays; // formulas (index into m_out.formulas) of array formulas
    SheetStream *const m_stream; // null unless the cells are streamed
    const size_t m_textBase; // streaming: the first text index of a batch
    const size_t m_batchCells; // streaming: cells handed over at a time
    std::vector<std::string> m_streamTexts; // text of the cells not yet handed over
    bool m_streamBegun = false;
    bool m_hasDimension = false;
    CellRange m_dimension; // <dimension ref>: the range the sheet says it uses
    ColumnRanges m_columns { 0 }; // <col> elements
};

// <dimension ref="A1:T200000"> (or "A1"): taken only as the streaming
// writer's guess, which it checks; malformed refs give no guess.
void XlsxSheetParser::readDimension(std::string_view ref)
{
    const size_t colon = ref.find(':');
    uint32_t c1 = 0, r1 = 0, c2 = 0, r2 = 0;
    bool hasRow1 = false, hasRow2 = false;
    if (parseCellRef(ref.substr(0, colon), c1, r1, hasRow1) != RefStatus::Ok || !hasRow1)
        return;
    if (colon == std::string_view::npos)
        c2 = c1, r2 = r1, hasRow2 = true;
    else if (parseCellRef(ref.substr(colon + 1), c2, r2, hasRow2) != RefStatus::Ok || !hasRow2)
        return;
    m_dimension = { std::min(r1, r2), std::min(c1, c2), std::max(r1, r2), std::max(c1, c2) };
    m_hasDimension = true;
}

// <col>: a column range for the used range (ColumnRanges); max="16384"
// formats the whole width (51850.xlsx: C carries that style, no count).
void XlsxSheetParser::columnRange()
{
    uint64_t first = 0, last = 0, xf = 0, level = 0;
    double width = 1;
    const XmlReader &x = m_xml;
    const std::string_view style = x.attribute("style"), w = x.attribute("width"),
                           outline = x.attribute("outlineLevel");
    if (!parseUint(x.attribute("min"), first) || !parseUint(x.attribute("max"), last) || first == 0
        || first > last || first > kMaxColumns || (!style.empty() && !parseUint(style, xf))
        || (!w.empty() && !parseDouble(w, width))
        || (!outline.empty() && !parseUint(outline, level)))
        return;
    const bool hiddenOrGrouped = (flagSet(x.attribute("hidden")) && width > 0) || level > 0;
    m_columns.add(uint32_t(first - 1), uint32_t(std::min<uint64_t>(last, kMaxColumns) - 1),
                  uint32_t(std::min<uint64_t>(xf, UINT32_MAX)), hiddenOrGrouped,
                  last >= kMaxColumns);
}

// The rows of the sheet's filter (<autoFilter ref="A1:D20">).
void XlsxSheetParser::filterRows(std::string_view ref)
{
    const size_t colon = ref.find(':');
    uint32_t c1 = 0, r1 = 0, c2 = 0, r2 = 0;
    bool hasRow1 = false, hasRow2 = false;
    if (colon == std::string_view::npos
        || parseCellRef(ref.substr(0, colon), c1, r1, hasRow1) != RefStatus::Ok || !hasRow1
        || parseCellRef(ref.substr(colon + 1), c2, r2, hasRow2) != RefStatus::Ok || !hasRow2)
        return;
    m_out.filterRows.add(std::min(r1, r2), std::max(r1, r2));
}

Error XlsxSheetParser::startRow(std::string_view r)
{
    uint64_t n = 0;
    if (!r.empty()) {
        if (!parseUint(r, n) || n == 0)
            return Error(ErrorCode::Corrupt, m_where, "bad row number \"" + std::string(r) + "\"");
        if (n > kMaxRows)
            return Error(ErrorCode::TooLarge, m_where,
                         "row " + std::to_string(n) + " beyond " + std::to_string(kMaxRows));
        m_row = int64_t(n) - 1;
    } else {
        ++m_row;
        if (m_row >= int64_t(kMaxRows))
            return rowError(ErrorCode::TooLarge, "more than " + std::to_string(kMaxRows) + " rows");
    }
    m_lastCol = -1;
    return {};
}

Error XlsxSheetParser::beginCell(std::string_view r, std::string_view s, std::string_view t)
{
    if (m_row < 0)
        m_row = 0; // a cell outside any <row>: first row
    m_cell = Cell();
    m_kind = CellKind::Number;
    m_haveV = m_haveIs = m_haveF = false;
    m_vText.clear();
    m_isText.clear();
    uint32_t col = uint32_t(m_lastCol + 1);
    uint32_t cellRow = uint32_t(m_row);
    if (!r.empty()) {
        // A reference that is not A1-style ("0", seen in Fillreport.xlsx)
        // is ignored: the cell takes the next position, as if it had no r.
        bool hasRow = false;
        uint32_t refCol = 0, refRow = 0;
        const RefStatus status = parseCellRef(r, refCol, refRow, hasRow);
        if (status == RefStatus::OutsideGrid)
            return rowError(ErrorCode::TooLarge,
                            "cell " + std::string(r) + " outside the " + std::to_string(kMaxRows)
                                + " x " + std::to_string(kMaxColumns) + " grid");
        if (status == RefStatus::Ok) {
            col = refCol;
            if (hasRow)
                cellRow = refRow;
        }
    }
    uint64_t xf = 0;
    if (!s.empty() && parseUint(s, xf))
        m_cell.xf = uint32_t(std::min<uint64_t>(xf, UINT32_MAX));
    m_kind = cellKindOf(t);
    if (col >= kMaxColumns)
        return rowError(ErrorCode::TooLarge,
                        "more than " + std::to_string(kMaxColumns) + " columns");
    m_cell.col = col;
    m_cell.row = cellRow;
    m_lastCol = col;
    return {};
}

Error XlsxSheetParser::endCell(std::string_view v)
{
    bool keep = true;
    bool stored = true; // false when the text did not fit the sheet's bound
    const bool styledOrFormula = m_haveF || m_cell.xf != 0;
    switch (m_kind) {
    case CellKind::SharedString: {
        uint64_t index = 0;
        if (m_haveV && parseUint(v, index) && index < m_sharedStrings) {
            m_cell.type = CellType::Text;
            m_cell.text = uint32_t(index);
        } else {
            keep = m_haveV || styledOrFormula;
        }
        break;
    }
    case CellKind::FormulaString:
    case CellKind::InlineString: // some writers put it in <v>
        if (m_haveIs || m_haveV) {
            if (!m_haveIs && v.data() != m_vText.data())
                m_vText.assign(v.data(), v.size());
            std::string &text = m_haveIs ? m_isText : m_vText;
            decodeOoxmlEscapes(text);
            stored = addText(text);
        } else {
            keep = styledOrFormula;
        }
        break;
    case CellKind::Bool:
        if (m_haveV) {
            m_cell.type = CellType::Bool;
            const std::string_view flag = trimmed(v);
            m_cell.number = (flag == "1" || flag == "true") ? 1 : 0;
        } else {
            keep = styledOrFormula;
        }
        break;
    case CellKind::Error:
        if (m_haveV) {
            bool known = false;
            const uint8_t code = errorCodeFromText(trimmed(v), known);
            if (known) {
                m_cell.type = CellType::Error;
                m_cell.number = code;
            } else { // an error value newer than the model's list shows as its text
                stored = addText(v);
            }
        } else {
            keep = styledOrFormula;
        }
        break;
    case CellKind::Date:
        if (m_haveV && !v.empty()) {
            double serial = 0;
            if (isoDateToSerial(v, m_book.date1904, serial)) {
                m_cell.type = CellType::Number;
                m_cell.number = serial;
            } else {
                stored = addText(v);
            }
        } else {
            keep = styledOrFormula;
        }
        break;
    case CellKind::Number:
        if (m_haveV && !v.empty()) {
            double value = 0;
            if (parseDouble(v, value)) {
                m_cell.type = CellType::Number;
                m_cell.number = value;
            } else {
                stored = addText(v);
            }
        } else {
            keep = m_haveV || styledOrFormula;
        }
        break;
    }
    if (!stored || (keep && !m_budget.addCell(m_cell)))
        return budgetError();
    if (m_haveF && !recordFormula())
        return budgetError();
    if (m_stream) {
        // The members of an array formula are told from the cells that
        // hold values, which streaming does not keep.
        if (!m_arrays.empty()) {
            m_stream->abandon("array formula");
            return streamStopped();
        }
        // A formula the calculator recalculates whatever else the sheet
        // holds: stop now rather than find it out at the end.
        const CellFormula *f
            = m_haveF && !m_out.formulas.empty() ? &m_out.formulas.back() : nullptr;
        if (f && f->row == m_cell.row && f->col == m_cell.col
            && (m_book.fullCalcOnLoad || !(f->flags & CellFormula::Cached)
                || (f->flags & CellFormula::Volatile))) {
            m_stream->abandon("formulas to recalculate");
            return streamStopped();
        }
        if (m_out.cells.size() >= m_batchCells && !handOver())
            return streamStopped();
    }
    return {};
}

// <f t="..." ref="..." si="...">: the formula of the cell.
void XlsxSheetParser::beginFormula()
{
    XmlReader &xml = m_xml;
    m_haveF = true;
    m_fText.clear();
    m_fType = std::string(xml.attribute("t"));
    m_fRef = std::string(xml.attribute("ref"));
    m_fSi = std::string(xml.attribute("si"));
    m_slot = Slot::F;
}

// Keeps the formula for recalculation: its text once (a shared formula's
// other cells point at the text of the cell that holds it), with the cell
// it was written for. Data tables are not formulas the engine evaluates.
bool XlsxSheetParser::recordFormula()
{
    if (m_fText.size() > kMaxFormulaText)
        return true; // keeps its cached value (a shared formula's other cells too)
    CellFormula f;
    f.row = f.anchorRow = m_cell.row;
    f.col = f.anchorCol = m_cell.col;
    if (m_haveV)
        f.flags |= CellFormula::Cached;
    bool isVolatile = false;
    if (m_fType == "shared") {
        uint64_t si = 0;
        if (!parseUint(m_fSi, si) || si > UINT32_MAX)
            return true;
        if (!m_fText.empty()) {
            if (!m_budget.addString(m_fText.size()))
                return false;
            f.data = uint32_t(m_out.formulaData.size());
            isVolatile = formula::textLooksVolatile(m_fText);
            m_out.formulaData.push_back(std::move(m_fText));
            m_shared[uint32_t(si)] = { f.data, f.row, f.col, isVolatile };
        } else {
            auto it = m_shared.find(uint32_t(si));
            if (it == m_shared.end())
                return true;
            f.data = it->second.data;
            f.anchorRow = it->second.row;
            f.anchorCol = it->second.col;
            isVolatile = it->second.isVolatile;
        }
    } else if (m_fType.empty() || m_fType == "normal" || m_fType == "array") {
        if (m_fText.empty() || !m_budget.addString(m_fText.size()))
            return m_fText.empty();
        f.data = uint32_t(m_out.formulaData.size());
        isVolatile = formula::textLooksVolatile(m_fText);
        m_out.formulaData.push_back(std::move(m_fText));
        if (m_fType == "array") {
            f.flags |= CellFormula::Array;
            if (m_dynamicArrays && m_cellMetadata > 0 && m_cellMetadata <= m_dynamicArrays->size()
                && (*m_dynamicArrays)[m_cellMetadata - 1])
                f.flags |= CellFormula::Dynamic;
            f.range = { f.row, f.col, f.row, f.col };
            uint32_t c1, r1, c2, r2;
            bool hasRow = false;
            const size_t colon = m_fRef.find(':');
            if (!m_fRef.empty()
                && parseCellRef(std::string_view(m_fRef).substr(0, colon), c1, r1, hasRow)
                    == RefStatus::Ok
                && hasRow) {
                c2 = c1, r2 = r1;
                if (colon != std::string::npos
                    && (parseCellRef(std::string_view(m_fRef).substr(colon + 1), c2, r2, hasRow)
                            != RefStatus::Ok
                        || !hasRow))
                    c2 = c1, r2 = r1;
                f.range
                    = { std::min(r1, r2), std::min(c1, c2), std::max(r1, r2), std::max(c1, c2) };
                f.anchorRow = f.range.firstRow;
                f.anchorCol = f.range.firstCol;
            }
            m_arrays.push_back(m_out.formulas.size());
        }
    } else {
        return true; // dataTable
    }
    if (isVolatile)
        f.flags |= CellFormula::Volatile;
    if (!m_budget.addString(sizeof(CellFormula)))
        return false;
    m_out.formulas.push_back(f);
    return true;
}

// The other cells of each array formula hold only values; they are part of
// the formula all the same.
bool XlsxSheetParser::addArrayMembers()
{
    if (m_arrays.empty())
        return true;
    // Which cells of the arrays hold a value (the file's result).
    std::unordered_set<uint64_t> valued;
    for (const Cell &c : m_out.cells)
        if (c.type != CellType::Blank)
            valued.insert((uint64_t(c.row) << 32) | c.col);
    for (size_t index : m_arrays) {
        const CellFormula master = m_out.formulas[index];
        const CellRange &r = master.range;
        if (uint64_t(r.rows()) * r.columns() > kMaxArrayFormulaCells)
            continue;
        for (uint32_t row = r.firstRow; row <= r.lastRow; ++row) {
            for (uint32_t col = r.firstCol; col <= r.lastCol; ++col) {
                if (row == master.row && col == master.col)
                    continue;
                CellFormula f = master;
                f.row = row;
                f.col = col;
                f.flags = uint8_t(f.flags & ~CellFormula::Cached);
                if (valued.count((uint64_t(row) << 32) | col))
                    f.flags |= CellFormula::Cached;
                if (!m_budget.addString(sizeof(CellFormula)))
                    return false;
                m_out.formulas.push_back(f);
            }
        }
    }
    return true;
}

Error XlsxSheetParser::run()
{
    XmlReader::FastCell fast;
    XmlReader &xml = m_xml;
    for (;;) {
        // Most cells are <c ...><v>text</v></c> or <c .../>: taken whole.
        if (m_sheetDataDepth >= 0 && !m_inCell) {
            while (xml.fastCell(fast)) {
                if (Error e = beginCell(fast.r, fast.s, fast.t))
                    return e;
                m_haveV = fast.hasV;
                if (Error e = endCell(fast.v))
                    return e;
            }
        }
        const XmlReader::Event ev = xml.next();
        if (ev == XmlReader::End)
            break;
        if (ev == XmlReader::Text) {
            std::string *to = m_slot == Slot::V                          ? &m_vText
                : m_slot == Slot::InlineT && m_rPhDepth == 0             ? &m_isText
                : m_slot == Slot::F && m_fText.size() <= kMaxFormulaText ? &m_fText
                                                                         : nullptr;
            if (to && !appendText(*to))
                break;
            continue;
        }
        if (Error e
            = ev == XmlReader::StartElement ? startElement(xml.name()) : endElement(xml.name()))
            return e;
    }
    if (xml.error())
        return xml.error();
    if (m_sheetDataDepth == -1) // no <sheetData>
        m_out.formattedColumns = m_columns.counted();
    if (m_stream && m_streamBegun && !handOver())
        return streamStopped();
    if (!addArrayMembers())
        return budgetError();
    return budgetError();
}

Error XlsxSheetParser::startElement(std::string_view name)
{
    XmlReader &xml = m_xml;
    if (m_sheetDataDepth < 0) {
        if (name == "sheetData" && m_sheetDataDepth == -1) {
            m_sheetDataDepth = m_topDepth = xml.depth();
            m_out.formattedColumns = m_columns.counted();
            if (m_stream) {
                m_streamBegun = true;
                if (!m_stream->begin(m_hasDimension ? &m_dimension : nullptr, m_out))
                    return streamStopped();
            }
        } else if (name == "dimension" && m_sheetDataDepth == -1) {
            readDimension(xml.attribute("ref"));
        } else if (name == "mergeCell") {
            if (!m_budget.addMergedArea())
                return budgetError();
            widenToArea(xml.attribute("ref"), m_out);
        } else if (name == "col" && m_sheetDataDepth == -1) {
            columnRange();
        } else if (name == "sheetPr" && m_sheetDataDepth == -1) {
            m_out.filtering = flagSet(xml.attribute("filterMode"));
        } else if (name == "autoFilter" && m_sheetDataDepth == -2 && xml.depth() == m_topDepth) {
            filterRows(xml.attribute("ref"));
        }
        return {};
    }
    if (!m_inCell) {
        if (name == "row" && xml.depth() == m_sheetDataDepth + 1) {
            if (Error e = startRow(xml.attribute("r")))
                return e;
            // A row of its own height or format belongs to the used range
            // (hyperlink_no_rels.xlsx: formatted rows to 40, cells to 6).
            if (rowHasProperties(xml))
                m_out.formattedRows.add(uint32_t(m_row), uint32_t(m_row));
            if (flagSet(xml.attribute("hidden")))
                m_out.hideRow(uint32_t(m_row));
            return {};
        }
        if (name == "c") {
            m_inCell = true;
            uint64_t cm = 0;
            m_cellMetadata
                = parseUint(xml.attribute("cm"), cm) && cm <= UINT32_MAX ? uint32_t(cm) : 0;
            return beginCell(xml.attribute("r"), xml.attribute("s"), xml.attribute("t"));
        }
        return {};
    }
    // Inside <c>.
    if (name == "v" && !m_inIs) {
        m_slot = Slot::V;
        m_haveV = true;
    } else if (name == "f" && !m_inIs) {
        beginFormula();
    } else if (name == "is") {
        m_inIs = true;
        m_haveIs = true;
        m_isKeepsSpace = keepsXmlSpace(xml.attribute("space"), false);
    } else if (m_inIs && name == "rPh") {
        ++m_rPhDepth;
    } else if (m_inIs && name == "t") {
        m_slot = Slot::InlineT;
        m_tKeepsSpace = keepsXmlSpace(xml.attribute("space"), m_isKeepsSpace);
        m_tStart = m_isText.size();
    }
    return {};
}

Error XlsxSheetParser::endElement(std::string_view name)
{
    if (m_sheetDataDepth < 0)
        return {};
    if (!m_inCell) {
        if (name == "sheetData" && m_xml.depth() < m_sheetDataDepth)
            m_sheetDataDepth = -2; // done; later <sheetData> elements are not cells
        return {};
    }
    if (name == "v" || name == "t" || name == "f") {
        // Inline text without xml:space="preserve" loses its white space at
        // both ends, as in the application (seen in an Excel export of a
        // third-party workbook: "Advances </t>" became "Advances").
        if (name == "t" && m_slot == Slot::InlineT && !m_tKeepsSpace)
            trimXmlSpace(m_isText, m_tStart);
        m_slot = Slot::None;
    } else if (name == "rPh") {
        if (m_rPhDepth > 0)
            --m_rPhDepth;
    } else if (name == "is") {
        m_inIs = false;
    } else if (name == "c") {
        m_inCell = false;
        m_inIs = false;
        m_rPhDepth = 0;
        m_slot = Slot::None;
        return endCell(m_vText);
    }
    return {};
}

} // namespace

Error parseSheetXml(ByteSource &source, const std::string &where, Workbook &book,
                    size_t sharedStrings, Sheet &out, uint64_t sizeHint,
                    const std::vector<bool> *dynamicArrays)
{
    XlsxSheetParser parser(source, where, book, sharedStrings, out, sizeHint, dynamicArrays);
    return parser.run();
}

} // namespace sd
