// Lookup and reference functions.

#include "formula/fn_p.h"

#include <cmath>

namespace sd::formula {

namespace {

Value lookupValue(Call &c, int i)
{
    Value v = c.scalar(i);
    return v;
}

// Position of `target` along the first row (`byRow`) or first column of `g`,
// as lookupPosition() finds it; -1 when not found.
long firstLinePosition(Call &c, const Grid &g, bool byRow, const Value &target, int matchType,
                       bool wildcards = true)
{
    const long count = long(byRow ? g.usedCols() : g.usedRows());
    auto at = [&](long i) {
        c.evaluator.step();
        return byRow ? g.at(0, uint32_t(i)) : g.at(uint32_t(i), 0);
    };
    return lookupPosition(target, count, at, matchType, wildcards);
}

// VLOOKUP's and HLOOKUP's column or row number, 1-based; 0 with `error`
// set when it is unusable. As the application saved its results (poi/
// LookupFunctionsTestCaseData.xls, sheets VL-basic, VL-oddArgs, HL-basic):
// an error value, or text that is not a whole number ("abc", "0.9",
// "29.9e-1"), is #REF!, like a number beyond the table; a number, logical
// value or blank below 1 is #VALUE!, as the function reference says.
uint32_t tableIndex(Call &c, uint32_t size, uint8_t &error)
{
    const Value v = c.scalar(2);
    double index = 0;
    error = 0;
    if (v.isError()
        || (v.type == ValueType::Text
            && (toNumber(v, index, c.evaluator.date1904()) || index != std::trunc(index)))) {
        error = ErrRef;
        return 0;
    }
    if (v.type != ValueType::Text && toNumber(v, index, c.evaluator.date1904()) == 0 && index < 1) {
        error = ErrValue;
        return 0;
    }
    index = std::trunc(index);
    if (index < 1 || index > double(size)) {
        error = ErrRef;
        return 0;
    }
    return uint32_t(index);
}

// VLOOKUP and HLOOKUP: `vertical` searches the first column. The lookup
// value's and the range_lookup argument's errors come first; range_lookup
// as text is #VALUE!, even "TRUE" (VL-oddArgs rows 25-27). A blank lookup
// value matches nothing exactly but is 0 for the approximate search
// (VL-basic rows 17 and 33). The search comes before the column number is
// looked at: a value not found is #N/A whatever that number is (calamine/
// errors.xlsx A7, VLOOKUP(B1,B1,B1,3) over an empty B1).
Value tableLookup(Call &c, bool vertical)
{
    Value target = lookupValue(c, 0);
    if (target.isError())
        return target;
    bool approximate = true;
    if (c.count() > 3) {
        const Value r = c.scalar(3);
        if (r.isError())
            return r;
        if (r.type == ValueType::Text)
            return Value::err(ErrValue);
        if (uint8_t e = c.boolean(3, approximate))
            return Value::err(e);
    }
    Grid g(c.evaluator, c.arg(1));
    if (!g.ok())
        return Value::err(g.error());
    if (target.type == ValueType::Blank) {
        if (!approximate)
            return Value::err(ErrNA);
        target = Value::num(0);
    }
    const long pos = firstLinePosition(c, g, !vertical, target, approximate ? 1 : 0);
    if (pos < 0)
        return Value::err(ErrNA);
    uint8_t error = 0;
    const uint32_t index = tableIndex(c, vertical ? g.cols() : g.rows(), error);
    if (error)
        return Value::err(error);
    const uint32_t k = index - 1;
    return vertical ? g.at(uint32_t(pos), k) : g.at(k, uint32_t(pos));
}

Value fnVLookup(Call &c)
{
    return tableLookup(c, true);
}
Value fnHLookup(Call &c)
{
    return tableLookup(c, false);
}

Value fnMatch(Call &c)
{
    const Value target = lookupValue(c, 0);
    if (target.isError())
        return target;
    Grid g(c.evaluator, c.arg(1));
    if (!g.ok())
        return Value::err(g.error());
    double type = 1;
    if (c.count() > 2)
        if (uint8_t e = c.number(2, type))
            return Value::err(e);
    if (g.rows() > 1 && g.cols() > 1)
        return Value::err(ErrNA);
    const int mode = type > 0 ? 1 : type < 0 ? -1 : 0;
    const long pos = firstLinePosition(c, g, g.rows() == 1, target, mode);
    return pos < 0 ? Value::err(ErrNA) : Value::num(double(pos + 1));
}

Value fnLookup(Call &c)
{
    const Value target = lookupValue(c, 0);
    if (target.isError())
        return target;
    Grid g(c.evaluator, c.arg(1));
    if (!g.ok())
        return Value::err(g.error());
    // The two-argument form searches the first row or column of the longer
    // side and returns from the last.
    const bool byRow = g.cols() > g.rows();
    const long pos = firstLinePosition(c, g, byRow, target, 1, false);
    if (pos < 0)
        return Value::err(ErrNA);
    if (c.count() < 3)
        return byRow ? g.at(g.rows() - 1, uint32_t(pos)) : g.at(uint32_t(pos), g.cols() - 1);
    Grid r(c.evaluator, c.arg(2));
    if (!r.ok())
        return Value::err(r.error());
    if (r.rows() == 1)
        return uint32_t(pos) < r.cols() ? r.at(0, uint32_t(pos)) : Value::err(ErrNA);
    return uint32_t(pos) < r.rows() ? r.at(uint32_t(pos), 0) : Value::err(ErrNA);
}

// XLOOKUP's and XMATCH's search of a row or column: the 0-based position
// of `target` in `g` under match mode (0 exact, -1 exact or next smaller, 1
// exact or next larger, 2 wildcards) and search mode (1 first to last, -1
// last to first, 2 and -2 binary search ascending or descending). -1 when
// it is not found; an error code in `error`.
long xPosition(Call &c, const Value &target, const Grid &g, int modeArg, int searchArg, bool &row,
               uint8_t &error)
{
    double mode = 0, search = 1;
    error = 0;
    if (c.count() > modeArg && !c.isEmpty(modeArg))
        if ((error = c.number(modeArg, mode)))
            return -1;
    if (c.count() > searchArg && !c.isEmpty(searchArg))
        if ((error = c.number(searchArg, search)))
            return -1;
    mode = std::trunc(mode), search = std::trunc(search);
    if ((mode != 0 && mode != 1 && mode != -1 && mode != 2)
        || (search != 1 && search != -1 && search != 2 && search != -2)
        || (g.rows() > 1 && g.cols() > 1)) {
        error = ErrValue;
        return -1;
    }
    row = g.rows() == 1 && g.cols() > 1;
    const long count = long(row ? g.usedCols() : g.usedRows());
    auto at = [&](long i) {
        c.evaluator.step();
        return row ? g.at(0, uint32_t(i)) : g.at(uint32_t(i), 0);
    };
    long pos = -1;
    if (search == 2 || search == -2) {
        pos = lookupPosition(target, count, at, search == 2 ? 1 : -1, false);
        if (pos >= 0 && mode == 0 && compareValues(at(pos), target) != 0)
            pos = -1;
        return pos;
    }
    // Linear search for an exact match, else the nearest on the side asked.
    long best = -1;
    for (long k = 0; k < count; ++k) {
        const long i = search < 0 ? count - 1 - k : k;
        const Value v = at(i);
        if (mode == 2 && target.type == ValueType::Text) {
            if (v.type == ValueType::Text && wildcardMatch(target.text, v.text))
                return i;
            continue;
        }
        if (v.type != target.type)
            continue;
        const int cmp = compareValues(v, target);
        if (cmp == 0)
            return i;
        if ((mode == -1 && cmp < 0 && (best < 0 || compareValues(v, at(best)) > 0))
            || (mode == 1 && cmp > 0 && (best < 0 || compareValues(v, at(best)) < 0)))
            best = i;
    }
    return best;
}

Value fnXMatch(Call &c)
{
    const Value target = lookupValue(c, 0);
    if (target.isError())
        return target;
    Grid g(c.evaluator, c.arg(1));
    if (!g.ok())
        return Value::err(g.error());
    bool row = false;
    uint8_t error = 0;
    const long pos = xPosition(c, target, g, 2, 3, row, error);
    if (error)
        return Value::err(error);
    return pos < 0 ? Value::err(ErrNA) : Value::num(double(pos + 1));
}

Value fnXLookup(Call &c)
{
    const Value target = lookupValue(c, 0);
    if (target.isError())
        return target;
    Grid g(c.evaluator, c.arg(1));
    if (!g.ok())
        return Value::err(g.error());
    bool row = false;
    uint8_t error = 0;
    const long pos = xPosition(c, target, g, 4, 5, row, error);
    if (error)
        return Value::err(error);
    if (pos < 0) {
        if (c.count() > 3 && !c.isEmpty(3))
            return c.scalar(3);
        return Value::err(ErrNA);
    }
    const Value &ret = c.arg(2);
    if (ret.isRef() && ret.areaCount() == 1) {
        Area a = ret.area;
        if (row) {
            if (uint32_t(pos) >= a.cols())
                return Value::err(ErrValue);
            a.col1 = a.col2 = a.col1 + uint32_t(pos);
        } else {
            if (uint32_t(pos) >= a.rows())
                return Value::err(ErrValue);
            a.row1 = a.row2 = a.row1 + uint32_t(pos);
        }
        return Value::ref(a);
    }
    Grid r(c.evaluator, ret);
    if (!r.ok())
        return Value::err(r.error());
    return row ? r.at(0, uint32_t(pos)) : r.at(uint32_t(pos), 0);
}

Value fnIndex(Call &c)
{
    const Value &src = c.arg(0);
    if (src.isError())
        return src;
    double row = 0, col = 0, area = 1;
    if (c.count() > 1 && !c.isEmpty(1))
        if (uint8_t e = c.number(1, row))
            return Value::err(e);
    if (c.count() > 2 && !c.isEmpty(2))
        if (uint8_t e = c.number(2, col))
            return Value::err(e);
    if (c.count() > 3)
        if (uint8_t e = c.number(3, area))
            return Value::err(e);
    row = std::trunc(row), col = std::trunc(col), area = std::trunc(area);
    if (row < 0 || col < 0 || area < 1)
        return Value::err(ErrValue);
    if (src.isRef()) {
        if (area > double(src.areaCount()))
            return Value::err(ErrRef);
        Area a = src.areaAt(size_t(area) - 1);
        // One row or column: a single index picks along it. An area of
        // several rows and columns needs both: one alone is #REF! (poi/
        // IndexFunctionTestCaseData.xls, Index rows 13 and 17-21, as the
        // application saved them).
        if (c.count() == 2) {
            if (a.rows() > 1 && a.cols() > 1)
                return Value::err(ErrRef);
            if (a.rows() == 1 && a.cols() > 1)
                std::swap(row, col);
        }
        if (row > a.rows() || col > a.cols())
            return Value::err(ErrRef);
        if (row > 0)
            a.row1 = a.row2 = a.row1 + uint32_t(row) - 1;
        if (col > 0)
            a.col1 = a.col2 = a.col1 + uint32_t(col) - 1;
        return Value::ref(a);
    }
    const ArrayData d = c.evaluator.toArray(src);
    if (c.count() == 2 && d.rows == 1)
        std::swap(row, col);
    if (row > d.rows || col > d.cols)
        return Value::err(ErrRef);
    if (row > 0 && col > 0)
        return d.at(uint32_t(row) - 1, uint32_t(col) - 1);
    if (row == 0 && col == 0)
        return Value::arr(d);
    ArrayData part;
    if (row > 0) {
        part.rows = 1, part.cols = d.cols;
        for (uint32_t x = 0; x < d.cols; ++x)
            part.items.push_back(d.at(uint32_t(row) - 1, x));
    } else {
        part.rows = d.rows, part.cols = 1;
        for (uint32_t y = 0; y < d.rows; ++y)
            part.items.push_back(d.at(y, uint32_t(col) - 1));
    }
    if (part.items.size() == 1)
        return part.items[0];
    return Value::arr(std::move(part));
}

Value fnOffset(Call &c)
{
    const Value &base = c.arg(0);
    if (base.isError())
        return base;
    if (!base.isRef() || base.areaCount() != 1)
        return Value::err(ErrValue);
    SD_NUMBER(c, 1, dr);
    SD_NUMBER(c, 2, dc);
    const Area &a = base.area;
    double h = a.rows(), w = a.cols();
    if (c.count() > 3 && !c.isEmpty(3))
        if (uint8_t e = c.number(3, h))
            return Value::err(e);
    if (c.count() > 4 && !c.isEmpty(4))
        if (uint8_t e = c.number(4, w))
            return Value::err(e);
    h = std::trunc(h), w = std::trunc(w);
    if (h == 0 || w == 0)
        return Value::err(ErrRef);
    double r1 = double(a.row1) + std::trunc(dr), c1 = double(a.col1) + std::trunc(dc);
    double r2 = r1 + h + (h > 0 ? -1 : 1), c2 = c1 + w + (w > 0 ? -1 : 1);
    if (r2 < r1)
        std::swap(r1, r2);
    if (c2 < c1)
        std::swap(c1, c2);
    const double maxRows = c.evaluator.source().maxRows(),
                 maxCols = c.evaluator.source().maxColumns();
    if (r1 < 0 || c1 < 0 || r2 >= maxRows || c2 >= maxCols)
        return Value::err(ErrRef);
    Area out = a;
    out.row1 = uint32_t(r1), out.row2 = uint32_t(r2);
    out.col1 = uint32_t(c1), out.col2 = uint32_t(c2);
    return Value::ref(out);
}

// R1C1 text ("R2C3", "R[-1]C", "RC[2]") relative to the formula's cell.
bool r1c1(std::string_view s, const Ctx &ctx, int32_t &row, int32_t &col)
{
    size_t i = 0;
    auto part = [&](char letter, uint32_t base, int32_t &out) {
        if (i >= s.size() || (s[i] | 0x20) != (letter | 0x20))
            return false;
        ++i;
        if (i < s.size() && s[i] == '[') {
            ++i;
            bool neg = false;
            if (i < s.size() && (s[i] == '-' || s[i] == '+'))
                neg = s[i++] == '-';
            long v = 0;
            const size_t start = i;
            while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && v < 10000000)
                v = v * 10 + (s[i++] - '0');
            if (i == start || i >= s.size() || s[i] != ']')
                return false;
            ++i;
            out = int32_t(int64_t(base) + (neg ? -v : v));
            return true;
        }
        long v = 0;
        const size_t start = i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && v < 10000000)
            v = v * 10 + (s[i++] - '0');
        out = i == start ? int32_t(base) : int32_t(v - 1);
        return true;
    };
    return part('R', ctx.row, row) && part('C', ctx.col, col) && i == s.size();
}

Value fnIndirect(Call &c)
{
    SD_TEXT(c, 0, text);
    bool a1 = true;
    if (c.count() > 1)
        if (uint8_t e = c.boolean(1, a1))
            return Value::err(e);
    if (text.empty() || text.size() > 1024)
        return Value::err(ErrRef);
    if (!a1) {
        std::string_view s = text;
        int sheet = c.ctx.sheet;
        const size_t bang = s.rfind('!');
        if (bang != std::string_view::npos) {
            std::string name(s.substr(0, bang));
            if (name.size() >= 2 && name.front() == '\'' && name.back() == '\'')
                name = name.substr(1, name.size() - 2);
            sheet = c.evaluator.source().sheetIndex(name);
            if (sheet < 0)
                return Value::err(ErrRef);
            s = s.substr(bang + 1);
        }
        int32_t row = 0, col = 0;
        if (!r1c1(s, c.ctx, row, col) || row < 0 || col < 0
            || uint32_t(row) >= c.evaluator.source().maxRows()
            || uint32_t(col) >= c.evaluator.source().maxColumns())
            return Value::err(ErrRef);
        Area a;
        a.sheet = a.lastSheet = sheet;
        a.row1 = a.row2 = uint32_t(row);
        a.col1 = a.col2 = uint32_t(col);
        return Value::ref(a);
    }
    const Formula f = parseFormula(text, c.evaluator.source(), c.ctx.row, c.ctx.col, c.ctx.sheet);
    if (!f.ok())
        return Value::err(ErrRef);
    const Node &root = f.node(f.root);
    if (root.kind != NodeKind::Ref && root.kind != NodeKind::Name
        && !(root.kind == NodeKind::Binary && root.op == Op::Range))
        return Value::err(ErrRef);
    Value v;
    try {
        v = c.evaluator.eval(f, f.root, c.ctx);
    } catch (const Unsupported &) {
        return Value::err(ErrRef);
    }
    return v.isRef() ? v : Value::err(ErrRef);
}

Value position(Call &c, bool row)
{
    if (c.count() == 0 || c.isEmpty(0))
        return Value::num(double(row ? c.ctx.row : c.ctx.col) + 1);
    const Value &v = c.arg(0);
    if (v.isError())
        return v;
    if (!v.isRef())
        return Value::err(ErrValue);
    const Area &a = v.area;
    const uint32_t n = row ? a.rows() : a.cols();
    if (c.ctx.array && n > 1) {
        ArrayData d;
        d.rows = row ? n : 1;
        d.cols = row ? 1 : n;
        for (uint32_t i = 0; i < n; ++i)
            d.items.push_back(Value::num(double((row ? a.row1 : a.col1) + i) + 1));
        return Value::arr(std::move(d));
    }
    return Value::num(double(row ? a.row1 : a.col1) + 1);
}

Value extent(Call &c, bool rows)
{
    const Value &v = c.arg(0);
    if (v.isError())
        return v;
    if (v.isRef()) {
        if (v.areaCount() != 1)
            return Value::err(ErrRef);
        return Value::num(rows ? v.area.rows() : v.area.cols());
    }
    if (v.isArray())
        return Value::num(rows ? v.array->rows : v.array->cols);
    return Value::num(1);
}

Value fnRow(Call &c)
{
    return position(c, true);
}
Value fnColumn(Call &c)
{
    return position(c, false);
}
Value fnRows(Call &c)
{
    return extent(c, true);
}
Value fnColumns(Call &c)
{
    return extent(c, false);
}

Value fnAreas(Call &c)
{
    const Value &v = c.arg(0);
    if (v.isError())
        return v;
    if (!v.isRef())
        return Value::err(ErrValue);
    return Value::num(double(v.areaCount()));
}

Value fnAddress(Call &c)
{
    SD_NUMBER(c, 0, row);
    SD_NUMBER(c, 1, col);
    double abs = 1;
    bool a1 = true;
    if (c.count() > 2 && !c.isEmpty(2))
        if (uint8_t e = c.number(2, abs))
            return Value::err(e);
    if (c.count() > 3 && !c.isEmpty(3))
        if (uint8_t e = c.boolean(3, a1))
            return Value::err(e);
    row = std::trunc(row), col = std::trunc(col), abs = std::trunc(abs);
    if (row < 1 || col < 1 || row > kMaxRows || col > kMaxColumns || abs < 1 || abs > 4)
        return Value::err(ErrValue);
    const bool rowAbs = abs == 1 || abs == 2, colAbs = abs == 1 || abs == 3;
    std::string out;
    if (c.count() > 4 && !c.isEmpty(4)) {
        SD_TEXT(c, 4, sheet);
        // A workbook in brackets before the sheet's name needs no quotes:
        // ADDRESS(2,3,1,FALSE,"[Book1]Sheet1") is "[Book1]Sheet1!R2C3" in
        // the function reference.
        size_t from = 0;
        if (sheet.size() > 2 && sheet[0] == '[' && sheet.find(']') != std::string::npos)
            from = sheet.find(']') + 1;
        bool quote = from > 0 && from == sheet.size();
        for (size_t i = from; i < sheet.size(); ++i) {
            const unsigned char ch = static_cast<unsigned char>(sheet[i]);
            if (!(std::isalnum(ch) || ch == '_' || ch == '.'))
                quote = true;
        }
        out = quote ? "'" + sheet + "'!" : sheet + "!";
    }
    if (a1) {
        std::string letters;
        for (uint32_t n = uint32_t(col); n > 0; n = (n - 1) / 26)
            letters.insert(letters.begin(), char('A' + (n - 1) % 26));
        out += (colAbs ? "$" : "") + letters + (rowAbs ? "$" : "") + std::to_string(uint32_t(row));
    } else {
        out += rowAbs ? "R" + std::to_string(uint32_t(row))
                      : "R[" + std::to_string(uint32_t(row)) + "]";
        out += colAbs ? "C" + std::to_string(uint32_t(col))
                      : "C[" + std::to_string(uint32_t(col)) + "]";
    }
    return Value::str(out);
}

Value fnChoose(Call &c)
{
    Value index = c.arg(0);
    if (index.isArray()) {
        std::vector<Value> args { index };
        for (int i = 1; i < c.count(); ++i)
            args.push_back(c.evaluator.deref(c.arg(i), c.ctx));
        return c.evaluator.lift(args, [](const std::vector<Value> &s) {
            double d = 0;
            if (uint8_t e = toNumber(s[0], d))
                return Value::err(e);
            const double k = std::trunc(d);
            if (!(k >= 1 && k < double(s.size())))
                return Value::err(ErrValue);
            return s[size_t(k)];
        });
    }
    double d = 0;
    if (uint8_t e = toNumber(index, d, c.evaluator.date1904()))
        return Value::err(e);
    if (!(std::trunc(d) >= 1 && std::trunc(d) < c.count()))
        return Value::err(ErrValue);
    const int k = int(d);
    if (c.isEmpty(k))
        return Value::num(0);
    return c.arg(k);
}

Value fnTranspose(Call &c)
{
    const Value &v = c.arg(0);
    if (v.isError())
        return v;
    const ArrayData d = c.evaluator.toArray(v);
    ArrayData t;
    t.rows = d.cols, t.cols = d.rows;
    t.items.resize(d.items.size());
    for (uint32_t r = 0; r < d.rows; ++r)
        for (uint32_t k = 0; k < d.cols; ++k)
            t.items[size_t(k) * t.cols + r] = d.at(r, k);
    return Value::arr(std::move(t));
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows lookupFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "ROW", 8, 0, 1, "R", 0, fnRow },
        { "COLUMN", 9, 0, 1, "R", 0, fnColumn },
        { "LOOKUP", 28, 2, 3, "VR", 0, fnLookup },
        { "INDEX", 29, 2, 4, "RV", R, fnIndex },
        { "MATCH", 64, 2, 3, "VRV", 0, fnMatch },
        { "AREAS", 75, 1, 1, "R", 0, fnAreas },
        { "ROWS", 76, 1, 1, "R", 0, fnRows },
        { "COLUMNS", 77, 1, 1, "R", 0, fnColumns },
        { "OFFSET", 78, 3, 5, "RV", V | R, fnOffset },
        { "TRANSPOSE", 83, 1, 1, "A", 0, fnTranspose },
        { "CHOOSE", 100, 2, N, "VR", R, fnChoose },
        { "HLOOKUP", 101, 3, 4, "VRV", 0, fnHLookup },
        { "VLOOKUP", 102, 3, 4, "VRV", 0, fnVLookup },
        { "INDIRECT", 148, 1, 2, "V", V | R, fnIndirect },
        { "ADDRESS", 219, 2, 5, "V", E, fnAddress },
        { "XLOOKUP", -1, 3, 6, "VRRVVV", 0, fnXLookup },
        { "XMATCH", -1, 2, 4, "VRVV", 0, fnXMatch },
        // Known, not evaluated: a call keeps the cell's cached value.
        { "GETPIVOTDATA", 358, 2, N, "VR", 0, nullptr },
        { "CALL", -1, 1, N, "V", 0, nullptr },
        { "REGISTER.ID", -1, 2, 3, "V", 0, nullptr },
        { "RTD", -1, 3, N, "V", 0, nullptr },
        { "CUBEKPIMEMBER", -1, 3, 4, "V", 0, nullptr },
        { "CUBEMEMBER", -1, 2, 3, "V", 0, nullptr },
        { "CUBEMEMBERPROPERTY", -1, 3, 3, "V", 0, nullptr },
        { "CUBERANKEDMEMBER", -1, 3, 4, "V", 0, nullptr },
        { "CUBESET", -1, 2, 5, "V", 0, nullptr },
        { "CUBESETCOUNT", -1, 1, 1, "V", 0, nullptr },
        { "CUBEVALUE", -1, 1, N, "V", 0, nullptr },
    };
    return rows;
}

} // namespace sd::formula
