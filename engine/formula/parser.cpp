// The A1 formula-text parser: precedence climbing over the text as the xlsx
// format stores it, with the reference forms folded into single tokens.

#include "formula/ast.h"
#include "formula/astbuild.h"
#include "formula/functions.h"
#include "formula/structuredref.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace sd::formula {

namespace {

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Characters of names, function names and unquoted sheet names.
bool isNameChar(char c)
{
    return isLetter(c) || isDigit(c) || c == '_' || c == '.' || c == '\\' || c == '?'
        || static_cast<unsigned char>(c) >= 0x80;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

constexpr uint32_t kFailed = FormulaBuilder::kFailed;
constexpr int32_t kRows = int32_t(kMaxRows);
constexpr int32_t kCols = int32_t(kMaxColumns);

class Parser
{
public:
    Parser(std::string_view text, const ParseContext &context, uint32_t row, uint32_t col,
           int sheet, Formula &f)
        : m_s(text)
        , m_context(context)
        , m_row(int32_t(row))
        , m_col(int32_t(col))
        , m_sheet(sheet)
        , m_b(f)
        , m_f(f)
    {
    }

    void run()
    {
        if (m_s.size() > kMaxFormulaText) {
            m_b.fail("formula too long");
            m_b.finish(kFailed);
            return;
        }
        uint32_t root = expression(true);
        skipSpaces();
        if (root != kFailed && m_pos != m_s.size())
            m_b.fail("unexpected text at " + std::to_string(m_pos));
        m_b.finish(root);
    }

private:
    // ---- helpers ----
    char peek(size_t ahead = 0) const
    {
        return m_pos + ahead < m_s.size() ? m_s[m_pos + ahead] : '\0';
    }
    void skipSpaces()
    {
        while (m_pos < m_s.size() && isSpace(m_s[m_pos]))
            ++m_pos;
    }
    bool take(char c)
    {
        skipSpaces();
        if (peek() == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    uint32_t fail(const std::string &why)
    {
        m_b.fail(why + " at " + std::to_string(m_pos));
        return kFailed;
    }
    bool enter()
    {
        if (++m_nesting > kMaxNesting) {
            m_b.fail("formula nested too deeply");
            return false;
        }
        return true;
    }

    // ---- precedence levels, lowest first ----
    uint32_t expression(bool allowUnion)
    {
        if (!enter())
            return kFailed;
        const bool saved = m_allowUnion;
        m_allowUnion = allowUnion;
        uint32_t r = comparison();
        m_allowUnion = saved;
        --m_nesting;
        return r;
    }

    uint32_t comparison()
    {
        uint32_t left = concatenation();
        while (left != kFailed) {
            skipSpaces();
            Op op;
            const char c = peek(), d = peek(1);
            if (c == '=')
                op = Op::Eq, m_pos += 1;
            else if (c == '<' && d == '>')
                op = Op::Ne, m_pos += 2;
            else if (c == '<' && d == '=')
                op = Op::Le, m_pos += 2;
            else if (c == '>' && d == '=')
                op = Op::Ge, m_pos += 2;
            else if (c == '<')
                op = Op::Lt, m_pos += 1;
            else if (c == '>')
                op = Op::Gt, m_pos += 1;
            else
                break;
            left = m_b.binary(op, left, concatenation());
        }
        return left;
    }

    uint32_t concatenation()
    {
        uint32_t left = additive();
        while (left != kFailed && take('&'))
            left = m_b.binary(Op::Concat, left, additive());
        return left;
    }

    uint32_t additive()
    {
        uint32_t left = multiplicative();
        while (left != kFailed) {
            skipSpaces();
            if (peek() != '+' && peek() != '-')
                break;
            const Op op = peek() == '+' ? Op::Add : Op::Sub;
            ++m_pos;
            left = m_b.binary(op, left, multiplicative());
        }
        return left;
    }

    uint32_t multiplicative()
    {
        uint32_t left = power();
        while (left != kFailed) {
            skipSpaces();
            if (peek() != '*' && peek() != '/')
                break;
            const Op op = peek() == '*' ? Op::Mul : Op::Div;
            ++m_pos;
            left = m_b.binary(op, left, power());
        }
        return left;
    }

    uint32_t power()
    {
        uint32_t left = unary();
        while (left != kFailed && take('^'))
            left = m_b.binary(Op::Pow, left, unary());
        return left;
    }

    // Negation binds tighter than '^' (-2^2 is 4); '%' applies to the operand.
    uint32_t unary()
    {
        skipSpaces();
        if (peek() == '-' || peek() == '+') {
            const Op op = peek() == '-' ? Op::Neg : Op::Plus;
            ++m_pos;
            if (!enter())
                return kFailed;
            uint32_t r = m_b.unary(op, unary());
            --m_nesting;
            return r;
        }
        uint32_t operand = unionLevel();
        while (operand != kFailed && take('%'))
            operand = m_b.unary(Op::Percent, operand);
        return operand;
    }

    uint32_t unionLevel()
    {
        uint32_t left = intersection();
        while (left != kFailed && m_allowUnion) {
            skipSpaces();
            if (peek() != ',')
                break;
            ++m_pos;
            left = m_b.binary(Op::Union, left, intersection());
        }
        return left;
    }

    // A run of spaces between two operands is the intersection operator.
    uint32_t intersection()
    {
        uint32_t left = range();
        while (left != kFailed && peek() == ' ') {
            size_t p = m_pos;
            while (p < m_s.size() && isSpace(m_s[p]))
                ++p;
            const char c = p < m_s.size() ? m_s[p] : '\0';
            if (!(isLetter(c) || c == '$' || c == '\'' || c == '(' || c == '_' || isDigit(c)))
                break;
            m_pos = p;
            left = m_b.binary(Op::Intersect, left, range());
        }
        return left;
    }

    uint32_t range()
    {
        uint32_t left = primary();
        while (left != kFailed && peek() == ':') {
            ++m_pos;
            left = m_b.binary(Op::Range, left, primary());
        }
        return left;
    }

    // ---- operands ----
    uint32_t primary()
    {
        skipSpaces();
        const char c = peek();
        if (c == '"')
            return stringLiteral();
        if (c == '#')
            return errorLiteral();
        if (c == '{')
            return arrayConstant();
        if (c == '(') {
            ++m_pos;
            uint32_t inner = expression(true);
            if (inner != kFailed && !take(')'))
                return fail("')' expected");
            return inner;
        }
        if (c == '[' && !externalPrefix())
            return structured({});
        if (c == '\'' || c == '[')
            return sheetQualified();
        if (isDigit(c) || c == '.' || c == '$' || isNameChar(c))
            return word();
        return fail("operand expected");
    }

    uint32_t stringLiteral()
    {
        std::string out;
        ++m_pos;
        for (;;) {
            if (m_pos >= m_s.size())
                return fail("unterminated text");
            const char c = m_s[m_pos++];
            if (c == '"') {
                if (peek() != '"')
                    break;
                ++m_pos;
            }
            out += c;
        }
        return m_b.text(std::move(out));
    }

    bool matchError(uint8_t &code)
    {
        static const char *const texts[]
            = { "#NULL!",    "#DIV/0!",   "#VALUE!",       "#REF!",   "#NAME?",
                "#NUM!",     "#N/A",      "#GETTING_DATA", "#SPILL!", "#CONNECT!",
                "#BLOCKED!", "#UNKNOWN!", "#FIELD!",       "#CALC!" };
        for (const char *t : texts) {
            const size_t n = std::strlen(t);
            if (m_s.size() - m_pos >= n && compareText(m_s.substr(m_pos, n), t) == 0) {
                code = errorFromText(t);
                m_pos += n;
                return true;
            }
        }
        return false;
    }

    uint32_t errorLiteral()
    {
        uint8_t code = 0;
        if (!matchError(code))
            return fail("unknown error value");
        return m_b.error(code);
    }

    bool arrayElement(Value &v)
    {
        skipSpaces();
        const char c = peek();
        if (c == '"') {
            std::string out;
            ++m_pos;
            for (;;) {
                if (m_pos >= m_s.size())
                    return false;
                const char ch = m_s[m_pos++];
                if (ch == '"') {
                    if (peek() != '"')
                        break;
                    ++m_pos;
                }
                out += ch;
            }
            v = Value::str(std::move(out));
            return true;
        }
        if (c == '#') {
            uint8_t code = 0;
            if (!matchError(code))
                return false;
            v = Value::err(code);
            return true;
        }
        bool negative = false;
        if (c == '-' || c == '+') {
            negative = c == '-';
            ++m_pos;
        }
        if (isDigit(peek()) || peek() == '.') {
            double d = 0;
            if (!numberText(d))
                return false;
            v = Value::num(negative ? -d : d);
            return true;
        }
        size_t end = m_pos;
        while (end < m_s.size() && isLetter(m_s[end]))
            ++end;
        const std::string_view w = m_s.substr(m_pos, end - m_pos);
        if (compareText(w, "TRUE") == 0 || compareText(w, "FALSE") == 0) {
            v = Value::boolean(compareText(w, "TRUE") == 0);
            m_pos = end;
            return true;
        }
        return false;
    }

    uint32_t arrayConstant()
    {
        ++m_pos;
        ArrayData a;
        uint32_t col = 0;
        for (;;) {
            Value v;
            if (!arrayElement(v))
                return fail("bad array constant");
            if (a.items.size() >= 65536)
                return fail("array constant too large");
            a.items.push_back(std::move(v));
            ++col;
            skipSpaces();
            const char c = peek();
            ++m_pos;
            if (c == ',')
                continue;
            if (a.rows == 0)
                a.cols = col;
            else if (col != a.cols)
                return fail("ragged array constant");
            ++a.rows;
            col = 0;
            if (c == ';')
                continue;
            if (c == '}')
                break;
            return fail("bad array constant");
        }
        return m_b.array(std::move(a));
    }

    bool numberText(double &out)
    {
        const size_t start = m_pos;
        while (isDigit(peek()))
            ++m_pos;
        if (peek() == '.') {
            ++m_pos;
            while (isDigit(peek()))
                ++m_pos;
        }
        if ((peek() == 'e' || peek() == 'E')
            && (isDigit(peek(1)) || ((peek(1) == '+' || peek(1) == '-') && isDigit(peek(2))))) {
            m_pos += 2;
            while (isDigit(peek()))
                ++m_pos;
        }
        const std::string digits(m_s.substr(start, m_pos - start));
        if (digits == ".")
            return false;
        out = std::strtod(digits.c_str(), nullptr);
        return std::isfinite(out);
    }

    // ---- references ----

    // [$]letters: column index, or -1. Advances `p` past it.
    static int32_t columnAt(std::string_view s, size_t &p, bool &absolute)
    {
        size_t q = p;
        absolute = q < s.size() && s[q] == '$';
        if (absolute)
            ++q;
        int32_t col = 0;
        int letters = 0;
        while (q < s.size() && isLetter(s[q]) && letters < 4) {
            col = col * 26 + ((s[q] | 0x20) - 'a' + 1);
            ++q;
            ++letters;
        }
        if (letters == 0 || letters > 3 || col > kCols)
            return -1;
        p = q;
        return col - 1;
    }

    static int32_t rowAt(std::string_view s, size_t &p, bool &absolute)
    {
        size_t q = p;
        absolute = q < s.size() && s[q] == '$';
        if (absolute)
            ++q;
        int64_t row = 0;
        int digits = 0;
        while (q < s.size() && isDigit(s[q]) && digits < 8) {
            row = row * 10 + (s[q] - '0');
            ++q;
            ++digits;
        }
        if (digits == 0 || row < 1 || row > kRows)
            return -1;
        p = q;
        return int32_t(row - 1);
    }

    static bool endsToken(std::string_view s, size_t p)
    {
        return p >= s.size() || !(isNameChar(s[p]) || s[p] == '(' || s[p] == '$');
    }

    void setRow(RefSpec &r, int which, int32_t row, bool absolute)
    {
        int32_t &slot = which == 1 ? r.row1 : r.row2;
        if (absolute) {
            slot = row;
        } else {
            slot = row - m_row;
            r.flags |= which == 1 ? RefSpec::Row1Rel : RefSpec::Row2Rel;
        }
    }
    void setCol(RefSpec &r, int which, int32_t col, bool absolute)
    {
        int32_t &slot = which == 1 ? r.col1 : r.col2;
        if (absolute) {
            slot = col;
        } else {
            slot = col - m_col;
            r.flags |= which == 1 ? RefSpec::Col1Rel : RefSpec::Col2Rel;
        }
    }

    // A cell, area, whole-column or whole-row reference at m_pos; on success
    // fills `r` (sheets untouched) and advances.
    bool reference(RefSpec &r)
    {
        size_t p = m_pos;
        bool ca = false, ra = false, ca2 = false, ra2 = false;
        const int32_t col = columnAt(m_s, p, ca);
        if (col >= 0) {
            size_t q = p;
            const int32_t row = rowAt(m_s, q, ra);
            if (row >= 0 && endsToken(m_s, q)) {
                setRow(r, 1, row, ra), setCol(r, 1, col, ca);
                r.row2 = r.row1, r.col2 = r.col1;
                r.flags |= (r.flags & RefSpec::Row1Rel ? RefSpec::Row2Rel : 0)
                    | (r.flags & RefSpec::Col1Rel ? RefSpec::Col2Rel : 0);
                m_pos = q;
                if (peek() == ':') {
                    size_t t = m_pos + 1;
                    const int32_t c2 = columnAt(m_s, t, ca2);
                    const int32_t r2 = c2 >= 0 ? rowAt(m_s, t, ra2) : -1;
                    if (r2 >= 0 && endsToken(m_s, t)) {
                        r.flags &= ~(RefSpec::Row2Rel | RefSpec::Col2Rel);
                        setRow(r, 2, r2, ra2), setCol(r, 2, c2, ca2);
                        m_pos = t;
                    }
                }
                return true;
            }
            // Whole columns: A:C
            if (p < m_s.size() && m_s[p] == ':') {
                size_t t = p + 1;
                const int32_t c2 = columnAt(m_s, t, ca2);
                if (c2 >= 0 && endsToken(m_s, t)) {
                    r.row1 = 0, r.row2 = kRows - 1;
                    setCol(r, 1, col, ca), setCol(r, 2, c2, ca2);
                    m_pos = t;
                    return true;
                }
            }
        }
        // Whole rows: 1:3
        p = m_pos;
        const int32_t row = rowAt(m_s, p, ra);
        if (row >= 0 && p < m_s.size() && m_s[p] == ':') {
            size_t t = p + 1;
            const int32_t r2 = rowAt(m_s, t, ra2);
            if (r2 >= 0 && endsToken(m_s, t)) {
                r.col1 = 0, r.col2 = kCols - 1;
                setRow(r, 1, row, ra), setRow(r, 2, r2, ra2);
                m_pos = t;
                return true;
            }
        }
        return false;
    }

    // What follows "Sheet!": a reference, #REF! or a sheet-level name.
    // `first` -2: the workbook itself ([0]!Name), for a workbook-level name.
    uint32_t afterSheet(int first, int last, bool external)
    {
        RefSpec r;
        if (peek() == '#') {
            uint8_t code = 0;
            if (!matchError(code) || code != ErrRef)
                return fail("bad reference");
            if (external)
                return m_b.unsupported("external reference");
            r.flags = RefSpec::RefError;
            return m_b.ref(r);
        }
        if (reference(r)) {
            if (external)
                return m_b.unsupported("external reference");
            if (first < 0)
                return m_b.error(ErrRef);
            r.sheet1 = int16_t(first);
            r.sheet2 = int16_t(last);
            return m_b.ref(r);
        }
        const size_t start = m_pos;
        while (isNameChar(peek()))
            ++m_pos;
        if (m_pos == start)
            return fail("reference expected");
        if (external)
            return m_b.unsupported("external name");
        NameRef n;
        n.name = std::string(m_s.substr(start, m_pos - start));
        n.sheet = int16_t(first == -2 ? -1 : first);
        if (first == -1)
            return m_b.error(ErrRef);
        return m_b.name(std::move(n));
    }

    // 'Quoted sheet'!..., 'First:Last'!..., [1]Sheet!..., '[1]Sheet'!...
    uint32_t sheetQualified()
    {
        std::string sheet;
        bool external = false;
        if (peek() == '\'') {
            ++m_pos;
            for (;;) {
                if (m_pos >= m_s.size())
                    return fail("unterminated sheet name");
                const char c = m_s[m_pos++];
                if (c == '\'') {
                    if (peek() != '\'')
                        break;
                    ++m_pos;
                }
                sheet += c;
            }
        } else {
            while (m_pos < m_s.size() && m_s[m_pos] != '!' && !isSpace(m_s[m_pos])
                   && m_s[m_pos] != ')' && m_s[m_pos] != ',')
                sheet += m_s[m_pos++];
        }
        if (!sheet.empty() && sheet[0] == '[') {
            external = true;
            // [0] names the workbook itself.
            if (sheet.size() >= 3 && sheet.compare(0, 3, "[0]") == 0) {
                external = false;
                sheet.erase(0, 3);
            }
        }
        if (peek() != '!') {
            if (external)
                return m_b.unsupported("external or structured reference");
            return fail("'!' expected");
        }
        ++m_pos;
        return sheetRange(sheet, external);
    }

    uint32_t sheetRange(const std::string &sheet, bool external)
    {
        int first = -1, last = -1;
        if (!external && sheet.empty())
            first = last = -2; // [0]!: this workbook
        if (!external && !sheet.empty()) {
            const size_t colon = sheet.find(':');
            first = m_context.sheetIndex(sheet);
            if (first < 0 && colon != std::string::npos) {
                first = m_context.sheetIndex(std::string_view(sheet).substr(0, colon));
                last = m_context.sheetIndex(std::string_view(sheet).substr(colon + 1));
                if (first < 0 || last < 0)
                    first = last = -1;
                else if (first > last)
                    std::swap(first, last);
            } else {
                last = first;
            }
        }
        return afterSheet(first, last, external);
    }

    uint32_t word()
    {
        RefSpec r;
        if (reference(r))
            return m_b.ref(r);
        const size_t start = m_pos;
        while (isNameChar(peek()) || peek() == '$')
            ++m_pos;
        if (m_pos == start) {
            if (isDigit(peek()) || peek() == '.') {
                double d = 0;
                if (!numberText(d))
                    return fail("bad number");
                return m_b.number(d);
            }
            return fail("operand expected");
        }
        std::string_view w = m_s.substr(start, m_pos - start);
        if (isDigit(w[0]) || w[0] == '.') {
            m_pos = start;
            double d = 0;
            if (!numberText(d))
                return fail("bad number");
            return m_b.number(d);
        }
        if (peek() == '(')
            return call(w);
        if (peek() == '!')
            return ++m_pos, sheetRange(std::string(w), false);
        if (peek() == ':' && !w.empty()) {
            // Sheet1:Sheet3!A1
            size_t p = m_pos + 1;
            while (p < m_s.size() && isNameChar(m_s[p]))
                ++p;
            if (p < m_s.size() && m_s[p] == '!') {
                const std::string both
                    = std::string(w) + ":" + std::string(m_s.substr(m_pos + 1, p - m_pos - 1));
                m_pos = p + 1;
                return sheetRange(both, false);
            }
        }
        if (peek() == '[')
            return structured(w);
        if (compareText(w, "TRUE") == 0)
            return m_b.boolean(true);
        if (compareText(w, "FALSE") == 0)
            return m_b.boolean(false);
        if (const TableInfo *t = m_context.table(w))
            return tableRef(*t, StructuredRef()); // a table's name alone: its data
        NameRef n;
        n.name = std::string(w);
        return m_b.name(std::move(n));
    }

    // ---- structured references ----

    // Whether the '[' at m_pos starts an external workbook's index ([1]Sheet1!A1,
    // [0]!Name) rather than a structured reference.
    bool externalPrefix() const
    {
        size_t p = m_pos + 1;
        while (p < m_s.size() && isDigit(m_s[p]))
            ++p;
        return p > m_pos + 1 && p < m_s.size() && m_s[p] == ']';
    }

    uint32_t structured(std::string_view tableName)
    {
        StructuredRef s;
        if (!parseStructuredRef(m_s, m_pos, s))
            return fail("bad table reference");
        const TableInfo *t = !tableName.empty() ? m_context.table(tableName)
            : m_sheet >= 0 ? m_context.tableAt(m_sheet, uint32_t(m_row), uint32_t(m_col))
                           : nullptr;
        if (!t)
            return m_b.unsupported("table reference");
        return tableRef(*t, s);
    }

    uint32_t tableRef(const TableInfo &t, const StructuredRef &s)
    {
        RefSpec r;
        if (!tableReference(t, s, r))
            return m_b.error(ErrRef);
        return m_b.ref(r);
    }

    uint32_t call(std::string_view name)
    {
        ++m_pos; // '('
        if (!enter())
            return kFailed;
        std::vector<uint32_t> args;
        skipSpaces();
        if (peek() == ')') {
            ++m_pos;
        } else {
            for (;;) {
                skipSpaces();
                uint32_t a;
                if (peek() == ',' || peek() == ')')
                    a = m_b.missing();
                else
                    a = expression(false);
                if (a == kFailed)
                    return kFailed;
                args.push_back(a);
                if (args.size() > size_t(kMaxArguments))
                    return fail("too many arguments");
                skipSpaces();
                const char c = peek();
                ++m_pos;
                if (c == ',')
                    continue;
                if (c == ')')
                    break;
                return fail("',' or ')' expected");
            }
        }
        --m_nesting;
        const int id = findFunction(name);
        if (id < 0)
            return m_b.unknown(std::string(name), args.data(), args.size());
        const FunctionInfo &fi = functionInfo(id);
        if (args.size() < fi.minArgs || args.size() > fi.maxArgs)
            return fail(std::string("wrong number of arguments to ") + fi.name);
        if (fi.flags & FunctionInfo::Volatile)
            m_f.isVolatile = true;
        return m_b.call(id, args.data(), args.size());
    }

    std::string_view m_s;
    size_t m_pos = 0;
    const ParseContext &m_context;
    int32_t m_row, m_col;
    int m_sheet;
    FormulaBuilder m_b;
    Formula &m_f;
    int m_nesting = 0;
    bool m_allowUnion = true;
};

} // namespace

Formula parseFormula(std::string_view text, const ParseContext &context, uint32_t anchorRow,
                     uint32_t anchorCol, int sheet)
{
    Formula f;
    Parser(text, context, anchorRow, anchorCol, sheet, f).run();
    return f;
}

} // namespace sd::formula
