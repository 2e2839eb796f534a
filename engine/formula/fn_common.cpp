#include "formula/fn_p.h"

#include <QString>

#include <algorithm>
#include <cmath>

namespace sd::formula {

// ---- grids ----------------------------------------------------------------

Grid::Grid(EvaluatorPrivate &evaluator, const Value &v)
    : m_evaluator(evaluator)
    , m_value(v)
{
    if (v.isError()) {
        m_error = v.error;
        return;
    }
    if (v.isRef()) {
        if (v.areaCount() != 1 || v.area.sheet != v.area.lastSheet) {
            m_error = ErrValue;
            return;
        }
        m_ref = true;
        m_area = v.area;
        m_rows = m_area.rows();
        m_cols = m_area.cols();
        CellRange ext;
        if (!evaluator.source().extent(m_area.sheet, ext)) {
            m_usedRows = m_usedCols = 0;
        } else {
            m_usedRows
                = ext.lastRow < m_area.row1 ? 0 : std::min(m_rows, ext.lastRow - m_area.row1 + 1);
            m_usedCols
                = ext.lastCol < m_area.col1 ? 0 : std::min(m_cols, ext.lastCol - m_area.col1 + 1);
        }
        if (m_usedRows && m_usedCols) {
            Area used = m_area;
            used.row2 = m_area.row1 + m_usedRows - 1;
            used.col2 = m_area.col1 + m_usedCols - 1;
            m_kept = evaluator.areaValues(used);
        }
        return;
    }
    if (!v.isArray()) {
        ArrayData a;
        a.rows = a.cols = 1;
        a.items.push_back(v);
        m_value = Value::arr(std::move(a));
    }
    m_rows = m_usedRows = m_value.array->rows;
    m_cols = m_usedCols = m_value.array->cols;
}

Value Grid::at(uint32_t r, uint32_t c) const
{
    if (r >= m_usedRows || c >= m_usedCols)
        return Value();
    if (m_kept)
        return m_kept->at(r, c);
    if (m_ref)
        return m_evaluator.cell(m_area.sheet, m_area.row1 + r, m_area.col1 + c);
    return m_value.array->at(r, c);
}

// ---- numbers --------------------------------------------------------------

uint8_t readNumbers(Call &c, std::initializer_list<double *> slots)
{
    int i = 0;
    for (double *slot : slots) {
        if (i < c.count() && !c.isEmpty(i))
            if (uint8_t e = c.number(i, *slot))
                return e;
        ++i;
    }
    return 0;
}

uint8_t collectNumbers(Call &c, int first, int last, Collect mode, std::vector<double> &out)
{
    uint8_t error = 0;
    for (int i = first; i < last && !error; ++i) {
        const Value &v = c.arg(i);
        if (v.isRef() || v.isArray()) {
            c.evaluator.visit(v, [&](const Value &x, uint32_t, uint32_t) {
                if (error)
                    return;
                if (x.type == ValueType::Number)
                    out.push_back(x.number);
                else if (x.isError())
                    error = x.error;
                else if (mode == Collect::NumbersA)
                    out.push_back(x.type == ValueType::Bool ? x.number : 0);
            });
            continue;
        }
        if (v.isError())
            return v.error;
        if (v.type == ValueType::Blank && !c.isEmpty(i))
            continue;
        double d = 0;
        if (uint8_t e = toNumber(v, d, c.evaluator.date1904()))
            return e;
        out.push_back(d);
    }
    return error;
}

// ---- criteria -------------------------------------------------------------

bool hasWildcards(std::string_view s)
{
    return s.find_first_of("*?~") != std::string_view::npos;
}

bool wildcardMatch(std::string_view pattern, std::string_view text)
{
    const QString p = QString::fromUtf8(pattern.data(), int(pattern.size())).toUpper();
    const QString t = QString::fromUtf8(text.data(), int(text.size())).toUpper();
    // Iterative matching with back-tracking to the last '*'.
    int pi = 0, ti = 0, star = -1, mark = 0;
    while (ti < t.size()) {
        if (pi < p.size() && p[pi] == '~' && pi + 1 < p.size()
            && (p[pi + 1] == '*' || p[pi + 1] == '?' || p[pi + 1] == '~')) {
            if (p[pi + 1] == t[ti]) {
                pi += 2;
                ++ti;
                continue;
            }
        } else if (pi < p.size() && p[pi] == '*') {
            star = pi++;
            mark = ti;
            continue;
        } else if (pi < p.size() && (p[pi] == '?' || p[pi] == t[ti])) {
            ++pi;
            ++ti;
            continue;
        }
        if (star < 0)
            return false;
        pi = star + 1;
        ti = ++mark;
    }
    while (pi < p.size() && p[pi] == '*')
        ++pi;
    return pi == p.size();
}

Criterion::Criterion(const Value &criterion, bool date1904, bool database)
    : m_date1904(date1904)
{
    switch (criterion.type) {
    case ValueType::Number:
        m_kind = Kind::Number;
        m_number = criterion.number;
        return;
    case ValueType::Bool:
        m_kind = Kind::Bool;
        m_number = criterion.number;
        return;
    case ValueType::Error:
        m_kind = Kind::Error;
        m_number = criterion.error;
        return;
    case ValueType::Blank:
        m_kind = Kind::Number; // an empty criterion cell matches zero... of numbers only
        m_number = 0;
        return;
    default:
        break;
    }
    std::string_view s = criterion.text;
    const bool bare = s.empty() || (s[0] != '<' && s[0] != '>' && s[0] != '=');
    if (s.size() >= 2
        && (s.substr(0, 2) == "<=" || s.substr(0, 2) == ">=" || s.substr(0, 2) == "<>")) {
        m_op = s[0] == '<' ? (s[1] == '=' ? Op::Le : Op::Ne) : Op::Ge;
        s.remove_prefix(2);
    } else if (!s.empty() && (s[0] == '<' || s[0] == '>' || s[0] == '=')) {
        m_op = s[0] == '<' ? Op::Lt : s[0] == '>' ? Op::Gt : Op::Eq;
        s.remove_prefix(1);
    }
    double d = 0;
    if (s.empty()) {
        // "" matches empty cells and empty text; "=", "<=" and ">=" with
        // nothing after them match empty cells only, not a formula's "";
        // "<>" matches every cell that is not empty.
        if (criterion.text.empty())
            m_kind = Kind::Blank;
        else if (m_op == Op::Eq || m_op == Op::Le || m_op == Op::Ge)
            m_kind = Kind::Empty;
        else if (m_op == Op::Ne)
            m_kind = Kind::NonBlank;
        else
            m_kind = Kind::Text;
        m_text.clear();
        m_wildcard = false;
        return;
    }
    if (parseNumberText(s, d, date1904)) {
        m_kind = Kind::Number;
        m_number = d;
        m_text = std::string(s);
        return;
    }
    if (compareText(s, "TRUE") == 0 || compareText(s, "FALSE") == 0) {
        m_kind = Kind::Bool;
        m_number = compareText(s, "TRUE") == 0;
        return;
    }
    const uint8_t err = errorFromText(s);
    if (err != 0xFF) {
        m_kind = Kind::Error;
        m_number = err;
        return;
    }
    m_kind = Kind::Text;
    m_text = std::string(s);
    if (database && bare) {
        m_text += '*';
        m_wildcard = true;
        return;
    }
    m_wildcard = (m_op == Op::Eq || m_op == Op::Ne) && hasWildcards(m_text);
}

bool Criterion::matches(const Value &v) const
{
    auto apply = [this](int cmp) {
        switch (m_op) {
        case Op::Eq:
            return cmp == 0;
        case Op::Ne:
            return cmp != 0;
        case Op::Lt:
            return cmp < 0;
        case Op::Le:
            return cmp <= 0;
        case Op::Gt:
            return cmp > 0;
        case Op::Ge:
            return cmp >= 0;
        default:
            return false;
        }
    };
    switch (m_kind) {
    case Kind::Blank:
        return v.type == ValueType::Blank || (v.type == ValueType::Text && v.text.empty());
    case Kind::Empty:
        return v.type == ValueType::Blank;
    case Kind::NonBlank:
        return v.type != ValueType::Blank;
    case Kind::Number:
        if (v.type == ValueType::Number)
            return apply(approxEqual(v.number, m_number) ? 0 : v.number < m_number ? -1 : 1);
        if (v.type == ValueType::Text && m_op == Op::Eq) {
            double d;
            return parseNumberText(v.text, d, m_date1904) && approxEqual(d, m_number);
        }
        return m_op == Op::Ne;
    case Kind::Bool:
        if (v.type == ValueType::Bool)
            return apply(v.number == m_number ? 0 : v.number < m_number ? -1 : 1);
        return m_op == Op::Ne;
    case Kind::Error:
        if (v.isError())
            return apply(v.error == uint8_t(m_number) ? 0 : 1);
        return m_op == Op::Ne;
    case Kind::Text:
        if (v.type != ValueType::Text && !(v.type == ValueType::Blank && m_op == Op::Ne))
            return m_op == Op::Ne;
        if (m_wildcard) {
            const bool m = wildcardMatch(m_text, v.text);
            return m_op == Op::Eq ? m : !m;
        }
        return apply(compareText(v.text, m_text));
    }
    return false;
}

// ---- rounding -------------------------------------------------------------

double roundDigits(double v, double places, int mode)
{
    if (v == 0 || !std::isfinite(v) || std::isnan(places))
        return v;
    const int digits = int(std::max(-308.0, std::min(308.0, std::trunc(places))));
    const double scale = std::pow(10.0, std::abs(digits));
    double x = digits >= 0 ? v * scale : v / scale;
    if (!std::isfinite(x))
        return v;
    x = round15(x);
    const double a = std::fabs(x);
    double r;
    if (mode == 0)
        r = std::floor(a + 0.5);
    else if (mode > 0)
        r = std::ceil(a);
    else
        r = std::floor(a);
    r = std::copysign(r, x);
    return digits >= 0 ? r / scale : r * scale;
}

// ---- lookups --------------------------------------------------------------

long lookupPosition(const Value &target, long count, const std::function<Value(long)> &at,
                    int matchType, bool wildcards)
{
    const bool pattern = wildcards && target.type == ValueType::Text && hasWildcards(target.text);
    if (matchType == 0) {
        for (long i = 0; i < count; ++i) {
            const Value v = at(i);
            if (pattern) {
                if (v.type == ValueType::Text && wildcardMatch(target.text, v.text))
                    return i;
            } else if (v.type == target.type && compareValues(v, target) == 0) {
                return i;
            } else if (target.type == ValueType::Blank && v.type == ValueType::Blank) {
                return i;
            }
        }
        return -1;
    }
    // Binary search as the application does it: it assumes sorted data and
    // skips over values of another type; on meeting the value itself it
    // goes on to the last of the equal values that follow, and stops there
    // (on unsorted data this is what decides: poi/
    // LookupFunctionsTestCaseData.xls, sheet VL-unsorted, as the
    // application saved it).
    auto rank = [](const Value &v) {
        return v.type == ValueType::Number ? 0
            : v.type == ValueType::Text    ? 1
            : v.type == ValueType::Bool    ? 2
                                           : 3;
    };
    const int want = rank(target);
    long lo = 0, hi = count - 1, found = -1;
    while (lo <= hi) {
        long mid = lo + (hi - lo) / 2;
        Value v = at(mid);
        // Step over blanks and values of another type towards lo.
        long probe = mid;
        while (probe >= lo && rank(v) != want) {
            if (--probe >= lo)
                v = at(probe);
        }
        if (probe < lo) {
            lo = mid + 1;
            continue;
        }
        const int cmp = compareValues(v, target);
        if (cmp == 0) {
            while (probe + 1 < count) {
                const Value next = at(probe + 1);
                if (rank(next) != want || compareValues(next, target) != 0)
                    break;
                ++probe;
            }
            return probe;
        }
        if (matchType > 0 ? cmp < 0 : cmp > 0) {
            found = probe;
            lo = mid + 1;
        } else {
            hi = probe - 1;
        }
    }
    return found;
}

} // namespace sd::formula
