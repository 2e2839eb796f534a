#include "formula/workbookcalc.h"
#include "formula/functions.h"

#include "io/byteorder.h"
#include "io/limits.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ctime>

namespace sd::formula {

namespace {

uint64_t cellKey(uint32_t row, uint32_t col)
{
    return (uint64_t(row) << 32) | col;
}

} // namespace

bool textLooksVolatile(std::string_view text)
{
    // "NOW(", "RAND(", ...: the names of the table's volatile functions.
    static const std::vector<std::string> calls = [] {
        std::vector<std::string> out;
        for (int id : volatileFunctions())
            out.push_back(std::string(functionInfo(id).name) + '(');
        return out;
    }();
    std::string upper;
    for (char c : text)
        upper += (c >= 'a' && c <= 'z') ? char(c - 32) : c;
    for (const std::string &call : calls)
        if (upper.find(call) != std::string::npos)
            return true;
    return false;
}

bool tokensLookVolatile(std::string_view tokens)
{
    // The application starts a volatile formula with tAttrVolatile.
    if (tokens.size() >= 2 && tokens[0] == 0x19 && (tokens[1] & 0x01))
        return true;
    // Otherwise look for the calls themselves (a byte scan: may say yes wrongly).
    for (size_t i = 0; i + 2 < tokens.size(); ++i) {
        const uint8_t t = uint8_t(tokens[i]);
        if ((t & 0x9F) != 0x01 && (t & 0x9F) != 0x02)
            continue;
        const size_t at = (t & 0x1F) == 0x01 ? i + 1 : i + 2; // ptgFunc / ptgFuncVar
        if (at + 1 >= tokens.size())
            break;
        const int id
            = functionByBiff(le16(reinterpret_cast<const uint8_t *>(tokens.data() + at)) & 0x7FFF);
        if (id >= 0 && (functionInfo(id).flags & FunctionInfo::Volatile))
            return true;
    }
    return false;
}

WorkbookSource::WorkbookSource(Workbook &book)
    : m_book(book)
    , m_sheets(book.sheets.size())
{
    for (const DefinedName &n : book.names)
        if (n.tokens ? tokensLookVolatile(n.data) : textLooksVolatile(n.data))
            m_volatileNames = true;
    for (const TableInfo &t : book.tables) {
        m_tablesByName.emplace(upperText(t.name), &t);
        m_tablesBySheet[t.sheet].push_back(&t);
    }
}

WorkbookSource::SheetData *WorkbookSource::data(int sheet)
{
    if (sheet < 0 || size_t(sheet) >= m_sheets.size())
        return nullptr;
    SheetData &d = m_sheets[size_t(sheet)];
    if (!d.sheet) {
        d.sheet = m_book.rawSheet(sheet);
        if (!d.sheet)
            return nullptr;
        for (size_t i = 0; i < d.sheet->formulas.size(); ++i) {
            const CellFormula &f = d.sheet->formulas[i];
            d.formulaAt[cellKey(f.row, f.col)] = uint32_t(i); // the last one wins
        }
    }
    return &d;
}

int WorkbookSource::sheetIndex(std::string_view name) const
{
    for (size_t i = 0; i < m_book.sheets.size(); ++i)
        if (compareText(m_book.sheets[i].name, name) == 0)
            return int(i);
    return -1;
}

bool WorkbookSource::externSheet(int index, int &first, int &last) const
{
    if (index < 0 || size_t(index) >= m_book.externSheets.size())
        return false;
    const ExternSheet &x = m_book.externSheets[size_t(index)];
    if (x.first < 0 || x.last < 0 || x.first >= sheetCount() || x.last >= sheetCount())
        return false;
    first = x.first;
    last = x.last;
    return true;
}

bool WorkbookSource::definedName(int index, NameRef &out) const
{
    if (index < 1 || size_t(index) > m_book.names.size())
        return false;
    const DefinedName &n = m_book.names[size_t(index) - 1];
    out.name = n.name;
    out.sheet = int16_t(n.scope);
    return true;
}

std::string WorkbookSource::externName(int sheet, int nameIndex) const
{
    if (sheet < 0 || size_t(sheet) >= m_book.externSheets.size())
        return {};
    const int book = m_book.externSheets[size_t(sheet)].supbook;
    if (book < 0 || size_t(book) >= m_book.externNames.size())
        return {};
    const auto &names = m_book.externNames[size_t(book)];
    if (nameIndex < 1 || size_t(nameIndex) > names.size())
        return {};
    return names[size_t(nameIndex) - 1];
}

const TableInfo *WorkbookSource::table(std::string_view name) const
{
    auto it = m_tablesByName.find(upperText(name));
    return it == m_tablesByName.end() ? nullptr : it->second;
}

const TableInfo *WorkbookSource::tableAt(int sheet, uint32_t row, uint32_t col) const
{
    auto it = m_tablesBySheet.find(sheet);
    if (it == m_tablesBySheet.end())
        return nullptr;
    for (const TableInfo *t : it->second)
        if (row >= t->ref.firstRow && row <= t->ref.lastRow && col >= t->ref.firstCol
            && col <= t->ref.lastCol)
            return t;
    return nullptr;
}

std::string WorkbookSource::sheetName(int sheet) const
{
    return sheet >= 0 && size_t(sheet) < m_book.sheets.size() ? m_book.sheets[size_t(sheet)].name
                                                              : std::string();
}

Value WorkbookSource::cellValue(const Cell &c) const
{
    switch (c.type) {
    case CellType::Number:
        if (!std::isfinite(c.number)) {
            // A number with every exponent bit set (an infinity or NaN to
            // the processor) is one beyond the largest double to the
            // application: poi/49761.xls shows 2.6965E+308. It stays a
            // number that formulas pass on (arithmetic on it is #NUM!).
            Value v;
            v.type = ValueType::Number;
            v.number = c.number;
            return v;
        }
        return Value::num(c.number);
    case CellType::Text:
        return Value::str(c.text < m_book.strings.size() ? m_book.strings[c.text] : std::string());
    case CellType::Bool:
        return Value::boolean(c.number != 0);
    case CellType::Error:
        return Value::err(uint8_t(c.number));
    default:
        return Value();
    }
}

Value WorkbookSource::value(int sheet, uint32_t row, uint32_t col)
{
    SheetData *d = data(sheet);
    if (!d)
        return Value();
    const Cell *c = d->sheet->find(row, col);
    return c ? cellValue(*c) : Value();
}

void WorkbookSource::cellsIn(int sheet, const CellRange &area,
                             const std::function<void(uint32_t, uint32_t, const Value &)> &visit)
{
    SheetData *d = data(sheet);
    if (!d || area.firstRow > area.lastRow || area.firstCol > area.lastCol)
        return;
    const std::vector<Cell> &cells = d->sheet->cells;
    // The first cell at or after (row, col) in row-major order.
    auto seek = [&](std::vector<Cell>::const_iterator from, uint32_t row, uint32_t col) {
        return std::lower_bound(from, cells.cend(), std::make_pair(row, col),
                                [](const Cell &c, const std::pair<uint32_t, uint32_t> &rc) {
                                    return c.row != rc.first ? c.row < rc.first : c.col < rc.second;
                                });
    };
    // Each step lands on a cell at or after the area's first column of its
    // row: a row whose cells all lie left of the area hands on to the next
    // row's cells, which are checked again like any other.
    auto it = seek(cells.cbegin(), area.firstRow, area.firstCol);
    while (it != cells.cend() && it->row <= area.lastRow) {
        if (it->col < area.firstCol) {
            it = seek(it, it->row, area.firstCol);
        } else if (it->col > area.lastCol) {
            if (it->row == area.lastRow)
                break;
            it = seek(it, it->row + 1, area.firstCol);
        } else {
            visit(it->row, it->col, cellValue(*it));
            ++it;
        }
    }
}

bool WorkbookSource::extent(int sheet, CellRange &out)
{
    SheetData *d = data(sheet);
    if (!d)
        return false;
    if (!d->extentKnown) {
        d->extentKnown = true;
        d->hasExtent = !d->sheet->cells.empty();
        if (d->hasExtent)
            d->extent = d->sheet->usedRange();
    }
    out = d->extent;
    return d->hasExtent;
}

FormulaSource WorkbookSource::formula(int sheet, uint32_t row, uint32_t col)
{
    FormulaSource out;
    SheetData *d = data(sheet);
    if (!d)
        return out;
    auto it = d->formulaAt.find(cellKey(row, col));
    if (it == d->formulaAt.end())
        return out;
    const Sheet &s = *d->sheet;
    const CellFormula &f = s.formulas[it->second];
    if (f.data >= s.formulaData.size())
        return out;
    out.kind
        = f.flags & CellFormula::Tokens ? FormulaSource::Kind::Tokens : FormulaSource::Kind::Text;
    out.data = s.formulaData[f.data];
    if (f.extra < s.formulaData.size())
        out.extra = s.formulaData[f.extra];
    out.anchorRow = f.anchorRow;
    out.anchorCol = f.anchorCol;
    out.key = &s.formulaData[f.data];
    out.array = f.flags & CellFormula::Array;
    out.dynamic = f.flags & CellFormula::Dynamic;
    out.arrayRange = f.range;
    out.cached = f.flags & CellFormula::Cached;
    out.biff5 = f.flags & CellFormula::Biff5;
    out.mayBeVolatile = m_volatileNames || (f.flags & CellFormula::Volatile);
    return out;
}

void WorkbookSource::formulaCells(int sheet, std::vector<std::pair<uint32_t, uint32_t>> &out)
{
    SheetData *d = data(sheet);
    if (!d)
        return;
    for (const auto &f : d->formulaAt)
        out.emplace_back(uint32_t(f.first >> 32), uint32_t(f.first & 0xFFFFFFFF));
}

void WorkbookSource::dynamicAnchors(int sheet, std::vector<std::pair<uint32_t, uint32_t>> &out)
{
    SheetData *d = data(sheet);
    if (!d)
        return;
    for (const CellFormula &f : d->sheet->formulas)
        if ((f.flags & CellFormula::Dynamic) && f.row == f.range.firstRow
            && f.col == f.range.firstCol)
            out.emplace_back(f.row, f.col);
}

bool WorkbookSource::name(std::string_view name, int sheet, FormulaSource &out)
{
    const DefinedName *found = nullptr;
    for (const DefinedName &n : m_book.names) {
        if (compareText(n.name, name) != 0)
            continue;
        if (n.scope == sheet) {
            found = &n;
            break;
        }
        if (n.scope < 0 && !found)
            found = &n;
    }
    if (!found || found->data.empty())
        return false;
    out = FormulaSource();
    out.kind = found->tokens ? FormulaSource::Kind::Tokens : FormulaSource::Kind::Text;
    out.data = found->data;
    out.extra = found->extra;
    out.biff5 = found->biff5;
    return true;
}

int WorkbookSource::rowState(int sheet, uint32_t row)
{
    SheetData *d = data(sheet);
    return d ? d->sheet->rowState(row) : 0;
}

void storeValue(Workbook &book, const Value &v, Cell &cell)
{
    cell.text = 0;
    cell.number = 0;
    switch (v.type) {
    case ValueType::Number:
        cell.type = CellType::Number;
        cell.number = v.number;
        break;
    case ValueType::Text:
        cell.type = CellType::Text;
        cell.text = uint32_t(book.strings.size());
        book.strings.push_back(v.text);
        break;
    case ValueType::Bool:
        cell.type = CellType::Bool;
        cell.number = v.number;
        break;
    case ValueType::Error:
        cell.type = CellType::Error;
        cell.number = fileError(v.error);
        break;
    default:
        cell.type = CellType::Blank; // nothing known (a computed empty result is 0 already)
        break;
    }
}

namespace {

double localOffsetSeconds(int64_t t)
{
    const std::time_t tt = std::time_t(t);
    std::tm local {}, utc {};
    localtime_r(&tt, &local);
    gmtime_r(&tt, &utc);
    local.tm_isdst = utc.tm_isdst = 0;
    return std::difftime(std::mktime(&local), std::mktime(&utc));
}

// Orders a sheet's sorted cells against a formula's place.
bool cellBefore(const Cell &c, const CellFormula &x)
{
    return c.row != x.row ? c.row < x.row : c.col < x.col;
}

// The calculation engine id (calcPr calcId) that the current desktop
// application writes: 32 corpus workbooks saved by it carry 191029.
constexpr uint32_t kApplicationCalcEngine = 191029;

// The first name in A1 formula text that is called as a function but is
// neither a function the application has nor a defined name; empty if none.
// String literals and quoted sheet names are skipped.
std::string missingFunction(std::string_view text, const Workbook &book)
{
    auto wordChar = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '\\';
    };
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '"' || c == '\'') {
            const size_t close = text.find(c, i + 1);
            i = close == std::string_view::npos ? text.size() : close + 1;
            continue;
        }
        if (!wordChar(c)) {
            ++i;
            continue;
        }
        const size_t start = i;
        while (i < text.size() && wordChar(text[i]))
            ++i;
        size_t next = i;
        while (next < text.size() && text[next] == ' ')
            ++next;
        const std::string_view word = text.substr(start, i - start);
        if (next >= text.size() || text[next] != '(' || applicationHasFunction(word)
            || std::isdigit(static_cast<unsigned char>(word[0])))
            continue;
        const std::string upper = upperText(word);
        bool defined = false;
        for (const DefinedName &n : book.names)
            defined = defined || upperText(n.name) == upper;
        if (!defined)
            return std::string(word);
    }
    return {};
}

// Whether a formula shows #NAME? for a missing function (see below).
bool showsMissingFunction(const Workbook &book, const Sheet &sheet, const CellFormula &f)
{
    return !book.macros && book.calcEngine != 0 && book.calcEngine < kApplicationCalcEngine
        && !(f.flags & CellFormula::Tokens) && f.data < sheet.formulaData.size()
        && !missingFunction(sheet.formulaData[f.data], book).empty();
}

// The application recalculates every formula of a workbook that an older
// calculation engine last calculated (calcId below its own). A call of a
// function it does not have then shows #NAME? however the file cached it:
// comments_stress_test.xlsx, sheet 3, calls Comment(), a macro function the
// package cannot hold (calcId 140000); Excel 2016's export shows #NAME?,
// Excel 2011's, of the same engine, the cached text. A workbook with macros
// may define such functions, and one without calcId is left as it is.
void showMissingFunctions(Workbook &book, Sheet &sheet)
{
    if (book.macros || book.calcEngine == 0 || book.calcEngine >= kApplicationCalcEngine)
        return;
    for (const CellFormula &f : sheet.formulas) {
        if (!showsMissingFunction(book, sheet, f))
            continue;
        auto it = std::lower_bound(sheet.cells.begin(), sheet.cells.end(), f, cellBefore);
        if (it != sheet.cells.end() && it->row == f.row && it->col == f.col) {
            it->type = CellType::Error;
            it->number = ErrName;
        }
    }
}

class Calculator final : public SheetCalculator
{
public:
    void calculate(Workbook &book, int index, Sheet &sheet) override
    {
        showMissingFunctions(book, sheet);
        if (!needed(book, index, sheet))
            return;
        if (!m_evaluator) {
            m_source = std::make_unique<WorkbookSource>(book);
            EvalOptions options;
            options.recalculateAll = book.fullCalcOnLoad;
            options.clock = clockNow();
            options.utcOffsetSeconds = localOffsetSeconds(options.clock);
            m_evaluator = std::make_unique<Evaluator>(*m_source, options);
        }
        uint64_t textBytes = sheetTextBytes(book, sheet);
        std::vector<Cell> added; // results of formula cells the sheet has no cell for
        for (const CellFormula &f : sheet.formulas) {
            if (!m_evaluator->recalculates(index, f.row, f.col))
                continue;
            CellResult r = m_evaluator->result(index, f.row, f.col);
            if (r.status == EvalStatus::Computed && r.value.type == ValueType::Text) {
                textBytes += kTextObjectBytes + r.value.text.size();
                if (textBytes > kMaxSheetTextBytes) {
                    r.status = EvalStatus::Unsupported;
                    r.reason = "text results pass the sheet's text bound";
                    r.value = Value();
                }
            }
            if (r.status != EvalStatus::Computed) {
                if (book.calcNotes.size() < kMaxCalcNotes)
                    book.calcNotes.push_back(book.sheets[size_t(index)].name + "!R"
                                             + std::to_string(f.row + 1) + "C"
                                             + std::to_string(f.col + 1) + ": " + r.reason);
                if (f.flags & CellFormula::Cached)
                    continue;
            }
            auto it = std::lower_bound(sheet.cells.begin(), sheet.cells.end(), f, cellBefore);
            if (it != sheet.cells.end() && it->row == f.row && it->col == f.col) {
                storeValue(book, r.value, *it);
            } else if (r.value.type != ValueType::Blank) {
                Cell c;
                c.row = f.row;
                c.col = f.col;
                storeValue(book, r.value, c);
                added.push_back(c);
            }
        }
        spillBeyond(book, index, sheet, added);
        addCells(sheet, added);
    }

    // What calculate() changes: the cells of missing functions, and what
    // needed() asks to be recalculated.
    bool needsCalculation(Workbook &book, int index, const Sheet &sheet) override
    {
        for (const CellFormula &f : sheet.formulas)
            if (showsMissingFunction(book, sheet, f))
                return true;
        return needed(book, index, sheet);
    }

    void forget() override
    {
        m_evaluator.reset();
        m_source.reset();
    }

private:
    // Dynamic arrays whose recalculated result reaches beyond the range the
    // file recorded: the cells beyond (empty, or the array would not spill)
    // get its values.
    void spillBeyond(Workbook &book, int index, Sheet &sheet, std::vector<Cell> &added)
    {
        for (const CellFormula &f : sheet.formulas) {
            if (!(f.flags & CellFormula::Dynamic) || f.row != f.range.firstRow
                || f.col != f.range.firstCol || !m_evaluator->recalculates(index, f.row, f.col))
                continue;
            const std::shared_ptr<const ArrayData> a
                = m_evaluator->spilledArray(index, f.row, f.col);
            if (!a)
                continue;
            for (uint32_t r = 0; r < a->rows; ++r)
                for (uint32_t c = 0; c < a->cols; ++c) {
                    if (f.row + r <= f.range.lastRow && f.col + c <= f.range.lastCol)
                        continue;
                    Cell cell;
                    cell.row = f.row + r;
                    cell.col = f.col + c;
                    auto it = std::lower_bound(sheet.cells.begin(), sheet.cells.end(), cell,
                                               [](const Cell &x, const Cell &y) {
                                                   return x.row != y.row ? x.row < y.row
                                                                         : x.col < y.col;
                                               });
                    if (it != sheet.cells.end() && it->row == cell.row && it->col == cell.col) {
                        storeValue(book, a->at(r, c), *it); // an empty cell with a format
                        continue;
                    }
                    storeValue(book, a->at(r, c), cell);
                    added.push_back(cell);
                }
        }
    }

    // What the sheet's own text takes, counted as the readers count it.
    static uint64_t sheetTextBytes(const Workbook &book, const Sheet &sheet)
    {
        uint64_t bytes = 0;
        for (size_t i = sheet.firstString; i < sheet.endString && i < book.strings.size(); ++i)
            bytes += kTextObjectBytes + book.strings[i].size();
        return bytes;
    }

    // Merges new cells into the sorted cells in one pass (inserting them one
    // by one would take time in the square of the sheet's size); of cells
    // added twice at one place, the later wins.
    static void addCells(Sheet &sheet, std::vector<Cell> &added)
    {
        if (added.empty())
            return;
        auto before = [](const Cell &a, const Cell &b) {
            return a.row != b.row ? a.row < b.row : a.col < b.col;
        };
        std::stable_sort(added.begin(), added.end(), before);
        size_t out = 0;
        for (size_t i = 0; i < added.size(); ++i) {
            if (out > 0 && added[out - 1].row == added[i].row && added[out - 1].col == added[i].col)
                added[out - 1] = added[i];
            else
                added[out++] = added[i];
        }
        added.resize(out);
        const size_t middle = sheet.cells.size();
        sheet.cells.insert(sheet.cells.end(), added.begin(), added.end());
        std::inplace_merge(sheet.cells.begin(), sheet.cells.begin() + ptrdiff_t(middle),
                           sheet.cells.end(), before);
    }

    // Whether anything in this sheet asks for recalculation: a formula
    // without its result or a volatile one, or, when the sheet looks beyond
    // itself (another sheet, a defined name), a volatile formula anywhere.
    bool needed(Workbook &book, int index, const Sheet &sheet)
    {
        if (book.fullCalcOnLoad)
            return true;
        for (const CellFormula &f : sheet.formulas)
            if (!(f.flags & CellFormula::Cached) || (f.flags & CellFormula::Volatile))
                return true;
        return looksElsewhere(book, sheet) && anyVolatile(book, index);
    }

    static bool looksElsewhere(const Workbook &book, const Sheet &sheet)
    {
        bool names = false;
        for (const DefinedName &n : book.names)
            names = names || n.name.compare(0, 6, "_xlnm.") != 0;
        for (const CellFormula &f : sheet.formulas) {
            if (f.data >= sheet.formulaData.size())
                continue;
            const std::string &d = sheet.formulaData[f.data];
            if (f.flags & CellFormula::Tokens) {
                for (unsigned char t : d) // a byte scan: a 3-D reference or a name may be there
                    if ((t & 0x9F) == 0x1A || (t & 0x9F) == 0x1B || (names && (t & 0x9F) == 0x03))
                        return true;
            } else if (d.find('!') != std::string::npos || (names && hasNameLikeWord(d))) {
                return true;
            }
        }
        return false;
    }

    // A word that is neither a function call, a reference nor TRUE/FALSE.
    static bool hasNameLikeWord(const std::string &text)
    {
        bool quoted = false;
        for (size_t i = 0; i < text.size(); ++i) {
            const char ch = text[i];
            if (ch == '"')
                quoted = !quoted;
            if (quoted
                || !(std::isalpha(static_cast<unsigned char>(ch)) || ch == '_' || ch == '\\'))
                continue;
            size_t j = i;
            bool digits = false, letterAfterDigit = false;
            while (j < text.size()
                   && (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '_'
                       || text[j] == '.' || text[j] == '\\' || text[j] == '$')) {
                if (std::isdigit(static_cast<unsigned char>(text[j])))
                    digits = true;
                else if (digits && std::isalpha(static_cast<unsigned char>(text[j])))
                    letterAfterDigit = true;
                ++j;
            }
            const std::string word = upperText(text.substr(i, j - i));
            const bool call = j < text.size() && text[j] == '(';
            const bool cell = digits && !letterAfterDigit && word.size() <= 10;
            if (!call && !cell && word != "TRUE" && word != "FALSE")
                return true;
            i = j;
        }
        return false;
    }

    // Whether any formula of the workbook, or any defined name, may be
    // volatile: every sheet is read once to know (the answer is kept).
    bool anyVolatile(Workbook &book, int index)
    {
        if (m_volatileKnown)
            return m_anyVolatile;
        m_volatileKnown = true;
        for (const DefinedName &n : book.names)
            if (n.tokens ? tokensLookVolatile(n.data) : textLooksVolatile(n.data))
                m_anyVolatile = true;
        for (int i = 0; i < int(book.sheets.size()) && !m_anyVolatile; ++i) {
            const Sheet *s = i == index ? nullptr : book.rawSheet(i);
            if (!s)
                continue;
            for (const CellFormula &f : s->formulas)
                if (f.flags & CellFormula::Volatile)
                    m_anyVolatile = true;
        }
        return m_anyVolatile;
    }

    bool m_volatileKnown = false, m_anyVolatile = false; // survive forget()
    std::unique_ptr<WorkbookSource> m_source;
    std::unique_ptr<Evaluator> m_evaluator;
};

} // namespace

void installCalculator(Workbook &book)
{
    book.calculator = std::make_unique<Calculator>();
}

} // namespace sd::formula
