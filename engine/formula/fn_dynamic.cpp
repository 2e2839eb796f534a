// Functions that return arrays of their own size (dynamic arrays):
// SEQUENCE, FILTER, SORT, SORTBY, CHOOSECOLS, CHOOSEROWS, TAKE, DROP,
// VSTACK, HSTACK, TOCOL, TOROW, WRAPROWS, WRAPCOLS, EXPAND, TEXTSPLIT; and
// LET, which names values for the calculation that ends it.

#include "formula/fn_p.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace sd::formula {

namespace {

// ---- helpers --------------------------------------------------------------

// An argument as an array (a scalar as 1 x 1); false with `error` set when
// it is an error value.
bool arrayOf(Call &c, int i, ArrayData &out, Value &error)
{
    const Value &v = c.arg(i);
    if (v.isError()) {
        error = v;
        return false;
    }
    out = c.evaluator.toArray(v);
    return true;
}

#define SD_ARRAY(i, var)                                                                           \
    ArrayData var;                                                                                 \
    {                                                                                              \
        Value e_;                                                                                  \
        if (!arrayOf(c, i, var, e_))                                                               \
            return e_;                                                                             \
    }

// An optional whole-number argument; `fallback` when left out.
uint8_t countArg(Call &c, int i, double fallback, double &out)
{
    out = fallback;
    if (c.count() <= i || c.isEmpty(i))
        return 0;
    if (uint8_t e = c.number(i, out))
        return e;
    out = std::trunc(out);
    return 0;
}

Value result(ArrayData a)
{
    if (a.rows == 0 || a.cols == 0)
        return Value::err(ErrCalc);
    return Value::arr(std::move(a));
}

// Rows `rows` (indexes into a) of a, in that order.
ArrayData pickRows(const ArrayData &a, const std::vector<uint32_t> &rows)
{
    ArrayData out;
    out.rows = uint32_t(rows.size());
    out.cols = a.cols;
    out.items.reserve(size_t(out.rows) * out.cols);
    for (uint32_t r : rows)
        for (uint32_t k = 0; k < a.cols; ++k)
            out.items.push_back(a.at(r, k));
    return out;
}

ArrayData transposed(const ArrayData &a)
{
    ArrayData out;
    out.rows = a.cols;
    out.cols = a.rows;
    out.items.resize(a.items.size());
    for (uint32_t r = 0; r < a.rows; ++r)
        for (uint32_t k = 0; k < a.cols; ++k)
            out.items[size_t(k) * out.cols + r] = a.at(r, k);
    return out;
}

// ---- SEQUENCE, EXPAND -----------------------------------------------------

Value fnSequence(Call &c)
{
    double rows = 1, cols = 1, start = 1, step = 1;
    if (uint8_t e = countArg(c, 0, 1, rows))
        return Value::err(e);
    if (uint8_t e = countArg(c, 1, 1, cols))
        return Value::err(e);
    if (c.count() > 2 && !c.isEmpty(2))
        if (uint8_t e = c.number(2, start))
            return Value::err(e);
    if (c.count() > 3 && !c.isEmpty(3))
        if (uint8_t e = c.number(3, step))
            return Value::err(e);
    if (rows < 0 || cols < 0 || rows > kMaxRows || cols > kMaxColumns)
        return Value::err(ErrValue);
    if (rows == 0 || cols == 0)
        return Value::err(ErrCalc);
    if (rows * cols > double(kMaxArrayCells))
        throw Unsupported { "array too large" };
    ArrayData out;
    out.rows = uint32_t(rows);
    out.cols = uint32_t(cols);
    out.items.reserve(size_t(rows * cols));
    for (size_t i = 0; i < size_t(rows * cols); ++i)
        out.items.push_back(Value::num(start + step * double(i)));
    return Value::arr(std::move(out));
}

// RANDARRAY([rows], [columns], [min], [max], [whole_number]).
Value fnRandArray(Call &c)
{
    double rows = 1, cols = 1, lo = 0, hi = 1;
    if (uint8_t e = countArg(c, 0, 1, rows))
        return Value::err(e);
    if (uint8_t e = countArg(c, 1, 1, cols))
        return Value::err(e);
    if (c.count() > 2 && !c.isEmpty(2))
        if (uint8_t e = c.number(2, lo))
            return Value::err(e);
    if (c.count() > 3 && !c.isEmpty(3))
        if (uint8_t e = c.number(3, hi))
            return Value::err(e);
    bool whole = false;
    if (c.count() > 4 && !c.isEmpty(4))
        if (uint8_t e = c.boolean(4, whole))
            return Value::err(e);
    if (rows < 0 || cols < 0 || hi < lo
        || (whole && (lo != std::trunc(lo) || hi != std::trunc(hi))))
        return Value::err(ErrValue);
    if (rows == 0 || cols == 0)
        return Value::err(ErrCalc);
    if (rows * cols > double(kMaxArrayCells))
        throw Unsupported { "array too large" };
    ArrayData out;
    out.rows = uint32_t(rows);
    out.cols = uint32_t(cols);
    for (size_t i = 0; i < size_t(rows * cols); ++i) {
        const double u = c.evaluator.random();
        out.items.push_back(
            Value::num(whole ? lo + std::floor(u * (hi - lo + 1)) : lo + u * (hi - lo)));
    }
    return Value::arr(std::move(out));
}

Value fnExpand(Call &c)
{
    SD_ARRAY(0, a);
    double rows = 0, cols = 0;
    if (uint8_t e = countArg(c, 1, a.rows, rows))
        return Value::err(e);
    if (uint8_t e = countArg(c, 2, a.cols, cols))
        return Value::err(e);
    if (rows < a.rows || cols < a.cols || rows > kMaxRows || cols > kMaxColumns)
        return Value::err(ErrValue);
    if (rows * cols > double(kMaxArrayCells))
        throw Unsupported { "array too large" };
    const Value pad = c.count() > 3 && !c.isEmpty(3) ? c.scalar(3) : Value::err(ErrNA);
    ArrayData out;
    out.rows = uint32_t(rows);
    out.cols = uint32_t(cols);
    out.items.assign(size_t(rows * cols), pad);
    for (uint32_t r = 0; r < a.rows; ++r)
        for (uint32_t k = 0; k < a.cols; ++k)
            out.items[size_t(r) * out.cols + k] = a.at(r, k);
    return Value::arr(std::move(out));
}

// ---- FILTER ---------------------------------------------------------------

Value fnFilter(Call &c)
{
    SD_ARRAY(0, a);
    SD_ARRAY(1, include);
    const bool byRow = include.cols == 1 && include.rows == a.rows;
    const bool byCol = !byRow && include.rows == 1 && include.cols == a.cols;
    if (!byRow && !byCol)
        return Value::err(ErrValue);
    std::vector<uint32_t> keep;
    for (uint32_t i = 0; i < include.items.size(); ++i) {
        const Value &x = include.items[i];
        if (x.isError())
            return x;
        bool yes = false;
        if (x.type == ValueType::Text)
            return Value::err(ErrValue);
        if (x.type == ValueType::Number || x.type == ValueType::Bool)
            yes = x.number != 0;
        if (yes)
            keep.push_back(i);
    }
    if (keep.empty()) {
        if (c.count() > 2 && !c.isEmpty(2)) {
            const Value &empty = c.arg(2);
            return empty.isRef() ? Value::arr(c.evaluator.toArray(empty)) : empty;
        }
        return Value::err(ErrCalc);
    }
    if (byRow)
        return Value::arr(pickRows(a, keep));
    return Value::arr(transposed(pickRows(transposed(a), keep)));
}

// ---- SORT and SORTBY ------------------------------------------------------

// The application's sort order: numbers, text, logical values, errors;
// blanks last in either direction.
int sortRank(const Value &v)
{
    switch (v.type) {
    case ValueType::Number:
        return 0;
    case ValueType::Text:
        return 1;
    case ValueType::Bool:
        return 2;
    case ValueType::Error:
        return 3;
    default:
        return 4;
    }
}

// <0, 0, >0 for a before, tied with, after b under `order` (1 or -1).
int sortCompare(const Value &a, const Value &b, int order)
{
    const int ra = sortRank(a), rb = sortRank(b);
    if (ra == 4 || rb == 4)
        return (ra == 4) - (rb == 4);
    if (ra != rb)
        return order * (ra - rb);
    if (ra == 3)
        return 0;
    return order * compareValues(a, b);
}

struct SortKey
{
    std::vector<Value> values; // one per line sorted
    int order = 1;
};

std::vector<uint32_t> sortedLines(uint32_t count, const std::vector<SortKey> &keys)
{
    std::vector<uint32_t> lines(count);
    std::iota(lines.begin(), lines.end(), 0);
    std::stable_sort(lines.begin(), lines.end(), [&](uint32_t x, uint32_t y) {
        for (const SortKey &k : keys) {
            const int cmp = sortCompare(k.values[x], k.values[y], k.order);
            if (cmp != 0)
                return cmp < 0;
        }
        return false;
    });
    return lines;
}

uint8_t orderOf(const Value &v, int &order)
{
    double d = 0;
    if (uint8_t e = toNumber(v, d))
        return e;
    if (d != 1 && d != -1)
        return ErrValue;
    order = int(d);
    return 0;
}

Value fnSort(Call &c)
{
    SD_ARRAY(0, a);
    bool byCol = false;
    if (c.count() > 3 && !c.isEmpty(3))
        if (uint8_t e = c.boolean(3, byCol))
            return Value::err(e);
    if (byCol)
        a = transposed(a);
    ArrayData indexes, orders;
    indexes.rows = indexes.cols = orders.rows = orders.cols = 1;
    indexes.items = { Value::num(1) };
    orders.items = { Value::num(1) };
    Value error;
    if (c.count() > 1 && !c.isEmpty(1) && !arrayOf(c, 1, indexes, error))
        return error;
    if (c.count() > 2 && !c.isEmpty(2) && !arrayOf(c, 2, orders, error))
        return error;
    if (orders.items.size() != 1 && orders.items.size() != indexes.items.size())
        return Value::err(ErrValue);
    std::vector<SortKey> keys;
    for (size_t i = 0; i < indexes.items.size(); ++i) {
        double index = 0;
        if (uint8_t e = toNumber(indexes.items[i], index))
            return Value::err(e);
        index = std::trunc(index);
        if (index < 1 || index > a.cols)
            return Value::err(ErrValue);
        SortKey k;
        if (uint8_t e = orderOf(orders.items[orders.items.size() == 1 ? 0 : i], k.order))
            return Value::err(e);
        for (uint32_t r = 0; r < a.rows; ++r)
            k.values.push_back(a.at(r, uint32_t(index) - 1));
        keys.push_back(std::move(k));
    }
    c.evaluator.step(a.items.size());
    ArrayData out = pickRows(a, sortedLines(a.rows, keys));
    return Value::arr(byCol ? transposed(out) : std::move(out));
}

Value fnSortBy(Call &c)
{
    SD_ARRAY(0, a);
    std::vector<SortKey> keys;
    bool byCol = false;
    for (int i = 1; i < c.count(); i += 2) {
        SD_ARRAY(i, by);
        SortKey k;
        if (i + 1 < c.count() && !c.isEmpty(i + 1))
            if (uint8_t e = orderOf(c.scalar(i + 1), k.order))
                return Value::err(e);
        const bool column = by.cols == 1 && by.rows == a.rows;
        const bool row = !column && by.rows == 1 && by.cols == a.cols;
        if ((!column && !row) || (i > 1 && row != byCol))
            return Value::err(ErrValue);
        byCol = row;
        k.values = by.items;
        keys.push_back(std::move(k));
    }
    c.evaluator.step(a.items.size());
    if (!byCol)
        return Value::arr(pickRows(a, sortedLines(a.rows, keys)));
    return Value::arr(transposed(pickRows(transposed(a), sortedLines(a.cols, keys))));
}

// ---- choosing, taking and dropping ----------------------------------------

// CHOOSEROWS and CHOOSECOLS: lines by index, negative from the end.
Value chooseLines(Call &c, bool columns)
{
    SD_ARRAY(0, a);
    if (columns)
        a = transposed(a);
    std::vector<uint32_t> lines;
    for (int i = 1; i < c.count(); ++i) {
        SD_ARRAY(i, indexes);
        for (const Value &x : indexes.items) {
            double d = 0;
            if (uint8_t e = toNumber(x, d))
                return Value::err(e);
            d = std::trunc(d);
            if (d == 0 || std::fabs(d) > a.rows)
                return Value::err(ErrValue);
            lines.push_back(uint32_t(d > 0 ? d - 1 : a.rows + d));
        }
    }
    ArrayData out = pickRows(a, lines);
    return Value::arr(columns ? transposed(out) : std::move(out));
}

Value fnChooseRows(Call &c)
{
    return chooseLines(c, false);
}
Value fnChooseCols(Call &c)
{
    return chooseLines(c, true);
}

// The lines TAKE keeps or DROP leaves, of `count`: n from the start
// (negative: from the end).
bool span(double n, uint32_t count, bool take, uint32_t &first, uint32_t &last)
{
    const double m = std::min(std::fabs(n), double(count));
    const uint32_t k = uint32_t(m);
    if (take) {
        first = n >= 0 ? 0 : count - k;
        last = n >= 0 ? k : count;
    } else {
        first = n >= 0 ? k : 0;
        last = n >= 0 ? count : count - k;
    }
    return last > first;
}

Value takeOrDrop(Call &c, bool take)
{
    SD_ARRAY(0, a);
    double rows = take ? a.rows : 0, cols = take ? a.cols : 0;
    if (uint8_t e = countArg(c, 1, rows, rows))
        return Value::err(e);
    if (uint8_t e = countArg(c, 2, cols, cols))
        return Value::err(e);
    uint32_t r1, r2, c1, c2;
    if (!span(rows, a.rows, take, r1, r2) || !span(cols, a.cols, take, c1, c2))
        return Value::err(ErrCalc);
    ArrayData out;
    out.rows = r2 - r1;
    out.cols = c2 - c1;
    for (uint32_t r = r1; r < r2; ++r)
        for (uint32_t k = c1; k < c2; ++k)
            out.items.push_back(a.at(r, k));
    return Value::arr(std::move(out));
}

Value fnTake(Call &c)
{
    return takeOrDrop(c, true);
}
Value fnDrop(Call &c)
{
    return takeOrDrop(c, false);
}

// ---- stacking and reshaping -----------------------------------------------

// VSTACK and HSTACK: arrays one under (beside) the other, the narrower
// ones padded with #N/A.
Value stack(Call &c, bool beside)
{
    std::vector<ArrayData> parts;
    uint32_t width = 0;
    size_t length = 0;
    for (int i = 0; i < c.count(); ++i) {
        SD_ARRAY(i, a);
        if (beside)
            a = transposed(a);
        width = std::max(width, a.cols);
        length += a.rows;
        parts.push_back(std::move(a));
    }
    if (double(length) * width > double(kMaxArrayCells))
        throw Unsupported { "array too large" };
    ArrayData out;
    out.rows = uint32_t(length);
    out.cols = width;
    out.items.reserve(length * width);
    for (const ArrayData &a : parts)
        for (uint32_t r = 0; r < a.rows; ++r)
            for (uint32_t k = 0; k < width; ++k)
                out.items.push_back(k < a.cols ? a.at(r, k) : Value::err(ErrNA));
    return Value::arr(beside ? transposed(out) : std::move(out));
}

Value fnVStack(Call &c)
{
    return stack(c, false);
}
Value fnHStack(Call &c)
{
    return stack(c, true);
}

// TOCOL and TOROW: every value in one line, row by row (or column by
// column); ignore 1 leaves out blanks, 2 errors, 3 both.
Value toLine(Call &c, bool row)
{
    SD_ARRAY(0, a);
    double ignore = 0;
    bool byColumn = false;
    if (uint8_t e = countArg(c, 1, 0, ignore))
        return Value::err(e);
    if (c.count() > 2 && !c.isEmpty(2))
        if (uint8_t e = c.boolean(2, byColumn))
            return Value::err(e);
    if (ignore < 0 || ignore > 3)
        return Value::err(ErrValue);
    if (byColumn)
        a = transposed(a);
    ArrayData out;
    for (const Value &v : a.items) {
        if ((v.type == ValueType::Blank && (int(ignore) & 1)) || (v.isError() && (int(ignore) & 2)))
            continue;
        out.items.push_back(v);
    }
    out.rows = uint32_t(out.items.size());
    out.cols = 1;
    return row ? result(transposed(out)) : result(std::move(out));
}

Value fnToCol(Call &c)
{
    return toLine(c, false);
}
Value fnToRow(Call &c)
{
    return toLine(c, true);
}

// WRAPROWS and WRAPCOLS: a row or column cut into lines of `count`, the
// last padded.
Value wrap(Call &c, bool columns)
{
    SD_ARRAY(0, a);
    if (a.rows > 1 && a.cols > 1)
        return Value::err(ErrValue);
    SD_NUMBER(c, 1, count);
    count = std::trunc(count);
    if (count < 1)
        return Value::err(ErrNum);
    const Value pad = c.count() > 2 && !c.isEmpty(2) ? c.scalar(2) : Value::err(ErrNA);
    const size_t n = a.items.size();
    ArrayData out;
    out.cols = uint32_t(std::min<double>(count, double(kMaxColumns)));
    out.rows = uint32_t((n + out.cols - 1) / out.cols);
    out.items.assign(size_t(out.rows) * out.cols, pad);
    std::copy(a.items.begin(), a.items.end(), out.items.begin());
    return columns ? Value::arr(transposed(out)) : Value::arr(std::move(out));
}

Value fnWrapRows(Call &c)
{
    return wrap(c, false);
}
Value fnWrapCols(Call &c)
{
    return wrap(c, true);
}

// ---- TEXTSPLIT --------------------------------------------------------------

// The delimiters of an argument: one text or an array of them.
uint8_t delimiters(Call &c, int i, std::vector<std::string> &out)
{
    if (c.count() <= i || c.isEmpty(i))
        return 0;
    ArrayData a;
    Value error;
    if (!arrayOf(c, i, a, error))
        return error.error;
    for (const Value &v : a.items) {
        std::string s;
        if (uint8_t e = toText(v, s))
            return e;
        if (!s.empty())
            out.push_back(std::move(s));
    }
    return 0;
}

// Splits `text` at the earliest of the delimiters (case-insensitively when
// `fold`).
std::vector<std::string> splitText(const std::string &text, const std::vector<std::string> &delims,
                                   bool fold)
{
    const std::string hay = fold ? upperText(text) : text;
    std::vector<std::string> keys = delims;
    if (fold)
        for (std::string &k : keys)
            k = upperText(k);
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        size_t best = std::string::npos, length = 0;
        for (const std::string &k : keys) {
            const size_t at = hay.find(k, from);
            if (at < best || (at == best && k.size() > length))
                best = at, length = k.size();
        }
        if (best == std::string::npos || keys.empty()) {
            parts.push_back(text.substr(from));
            return parts;
        }
        parts.push_back(text.substr(from, best - from));
        from = best + length;
    }
}

Value fnTextSplit(Call &c)
{
    SD_TEXT(c, 0, text);
    std::vector<std::string> cols, rows;
    if (uint8_t e = delimiters(c, 1, cols))
        return Value::err(e);
    if (uint8_t e = delimiters(c, 2, rows))
        return Value::err(e);
    if (cols.empty() && rows.empty())
        return Value::err(ErrValue);
    bool ignoreEmpty = false;
    double mode = 0;
    if (c.count() > 3 && !c.isEmpty(3))
        if (uint8_t e = c.boolean(3, ignoreEmpty))
            return Value::err(e);
    if (uint8_t e = countArg(c, 4, 0, mode))
        return Value::err(e);
    if (mode != 0 && mode != 1)
        return Value::err(ErrValue);
    const Value pad = c.count() > 5 && !c.isEmpty(5) ? c.scalar(5) : Value::err(ErrNA);
    std::vector<std::vector<std::string>> lines;
    for (std::string &line : splitText(text, rows, mode == 1)) {
        if (ignoreEmpty && line.empty())
            continue;
        std::vector<std::string> fields = splitText(line, cols, mode == 1);
        if (ignoreEmpty)
            fields.erase(std::remove(fields.begin(), fields.end(), std::string()), fields.end());
        lines.push_back(std::move(fields));
    }
    ArrayData out;
    out.rows = uint32_t(lines.size());
    for (const auto &l : lines)
        out.cols = std::max(out.cols, uint32_t(l.size()));
    if (double(out.rows) * out.cols > double(kMaxArrayCells))
        throw Unsupported { "array too large" };
    out.items.assign(size_t(out.rows) * out.cols, pad);
    for (uint32_t r = 0; r < out.rows; ++r)
        for (uint32_t k = 0; k < lines[r].size(); ++k)
            out.items[size_t(r) * out.cols + k] = Value::str(lines[r][k]);
    return result(std::move(out));
}

// ---- spill references -------------------------------------------------------

// ANCHORARRAY(cell): the range a dynamic array anchored there fills (A1#).
Value fnAnchorArray(Call &c)
{
    const Value &v = c.arg(0);
    if (v.isError())
        return v;
    Area a;
    if (!v.isRef() || v.areaCount() != 1
        || !c.evaluator.spillRange(v.area.sheet, v.area.row1, v.area.col1, a))
        return Value::err(ErrRef);
    return Value::ref(a);
}

// SINGLE(value): the implicit intersection (the @ operator).
Value fnSingle(Call &c)
{
    return c.scalar(0);
}

// ---- LET ------------------------------------------------------------------

// LET(name1, value1, [name2, value2, ...], calculation): each value is
// evaluated with the names before it bound, then the calculation with all.
Value fnLet(Call &c)
{
    if (c.count() % 2 == 0)
        return Value::err(ErrValue);
    EvaluatorPrivate &ev = c.evaluator;
    const LocalScope scope(ev);
    for (int i = 0; i + 1 < c.count(); i += 2) {
        const Node &n = c.formula().node(c.argNode(i));
        if (n.kind != NodeKind::Name || c.formula().names[n.payload].sheet != -1)
            return Value::err(ErrName);
        Value v = ev.eval(c.formula(), c.argNode(i + 1), c.ctx);
        ev.bindLocal(c.formula().names[n.payload].name, std::move(v));
    }
    return ev.eval(c.formula(), c.argNode(c.count() - 1), c.ctx);
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows dynamicArrayFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "SEQUENCE", -1, 1, 4, "V", 0, fnSequence },
        { "RANDARRAY", -1, 0, 5, "V", V, fnRandArray },
        { "EXPAND", -1, 2, 4, "AVVV", 0, fnExpand },
        { "FILTER", -1, 2, 3, "AAA", 0, fnFilter },
        { "SORT", -1, 1, 4, "AAAV", 0, fnSort },
        { "SORTBY", -1, 2, N, "A", 0, fnSortBy },
        { "CHOOSECOLS", -1, 2, N, "A", 0, fnChooseCols },
        { "CHOOSEROWS", -1, 2, N, "A", 0, fnChooseRows },
        { "TAKE", -1, 2, 3, "AV", 0, fnTake },
        { "DROP", -1, 2, 3, "AV", 0, fnDrop },
        { "VSTACK", -1, 1, N, "A", 0, fnVStack },
        { "HSTACK", -1, 1, N, "A", 0, fnHStack },
        { "TOCOL", -1, 1, 3, "AV", 0, fnToCol },
        { "TOROW", -1, 1, 3, "AV", 0, fnToRow },
        { "WRAPROWS", -1, 2, 3, "AV", 0, fnWrapRows },
        { "WRAPCOLS", -1, 2, 3, "AV", 0, fnWrapCols },
        { "TEXTSPLIT", -1, 2, 6, "VAAV", 0, fnTextSplit },
        { "LET", -1, 3, N, "V", R, fnLet },
        { "ANCHORARRAY", -1, 1, 1, "R", R, fnAnchorArray },
        { "SINGLE", -1, 1, 1, "R", 0, fnSingle },
    };
    return rows;
}

} // namespace sd::formula
