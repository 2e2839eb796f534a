// Text functions. Positions and lengths count UTF-16 units, as the
// application does.

#include "formula/fn_p.h"

#include "core/numfmt.h"
#include "io/limits.h"

#include <QString>
#include <QVector>

#include <cmath>

namespace sd::formula {

namespace {

QString q(const std::string &s)
{
    return QString::fromUtf8(s.data(), int(s.size()));
}

Value out(const QString &s)
{
    return Value::str(s.toStdString());
}

// Windows-1252 code of a character, or '?' when it has none.
int cp1252Code(ushort u)
{
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return u;
    static const ushort high[32]
        = { 0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
            0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
            0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178 };
    for (int i = 0; i < 32; ++i)
        if (high[i] == u)
            return 0x80 + i;
    return '?';
}

ushort cp1252Char(int code)
{
    static const ushort high[32]
        = { 0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
            0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
            0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178 };
    if (code >= 0x80 && code < 0xA0)
        return high[code - 0x80];
    return ushort(code);
}

Value fnLen(Call &c)
{
    SD_TEXT(c, 0, s);
    return Value::num(double(textLength(s)));
}

Value fnLeft(Call &c)
{
    SD_TEXT(c, 0, s);
    double n = 1;
    if (c.count() > 1)
        if (uint8_t e = c.number(1, n))
            return Value::err(e);
    if (n < 0)
        return Value::err(ErrValue);
    return out(q(s).left(int(std::min(n, 1e9))));
}

Value fnRight(Call &c)
{
    SD_TEXT(c, 0, s);
    double n = 1;
    if (c.count() > 1)
        if (uint8_t e = c.number(1, n))
            return Value::err(e);
    if (n < 0)
        return Value::err(ErrValue);
    return out(q(s).right(int(std::min(n, 1e9))));
}

Value fnMid(Call &c)
{
    SD_TEXT(c, 0, s);
    SD_NUMBER(c, 1, start);
    SD_NUMBER(c, 2, n);
    if (start < 1 || n < 0)
        return Value::err(ErrValue);
    const QString t = q(s);
    if (start > t.size())
        return Value::str(std::string());
    return out(t.mid(int(start) - 1, int(std::min(n, 1e9))));
}

Value find(Call &c, bool caseless)
{
    SD_TEXT(c, 0, needle);
    SD_TEXT(c, 1, hay);
    double start = 1;
    if (c.count() > 2)
        if (uint8_t e = c.number(2, start))
            return Value::err(e);
    const QString n = q(needle), h = q(hay);
    if (start < 1 || start > h.size() + 1)
        return Value::err(ErrValue);
    const int from = int(start) - 1;
    if (!caseless || !hasWildcards(needle)) {
        const int at = h.indexOf(n, from, caseless ? Qt::CaseInsensitive : Qt::CaseSensitive);
        return at < 0 ? Value::err(ErrValue) : Value::num(at + 1);
    }
    // SEARCH with wildcards: the first position where the pattern matches a prefix.
    const std::string pattern = needle + "*";
    for (int i = from; i <= h.size(); ++i) {
        c.evaluator.step(uint64_t(h.size() - i) + 1);
        if (wildcardMatch(pattern, h.mid(i).toStdString()))
            return Value::num(i + 1);
    }
    return Value::err(ErrValue);
}

Value fnFind(Call &c)
{
    return find(c, false);
}
Value fnSearch(Call &c)
{
    return find(c, true);
}

Value fnUpper(Call &c)
{
    SD_TEXT(c, 0, s);
    return Value::str(upperText(s));
}

Value fnLower(Call &c)
{
    SD_TEXT(c, 0, s);
    return Value::str(lowerText(s));
}

Value fnProper(Call &c)
{
    SD_TEXT(c, 0, s);
    QString t = q(s);
    bool start = true;
    for (int i = 0; i < t.size(); ++i) {
        const QChar ch = t[i];
        if (ch.isLetter()) {
            t[i] = start ? ch.toUpper() : ch.toLower();
            start = false;
        } else {
            start = true;
        }
    }
    return out(t);
}

Value fnTrim(Call &c)
{
    SD_TEXT(c, 0, s);
    std::string r;
    for (char ch : s) {
        if (ch == ' ' && (r.empty() || r.back() == ' '))
            continue;
        r += ch;
    }
    while (!r.empty() && r.back() == ' ')
        r.pop_back();
    return Value::str(r);
}

Value fnClean(Call &c)
{
    SD_TEXT(c, 0, s);
    std::string r;
    for (char ch : s)
        if (static_cast<unsigned char>(ch) >= 32)
            r += ch;
    return Value::str(r);
}

Value fnRept(Call &c)
{
    SD_TEXT(c, 0, s);
    SD_NUMBER(c, 1, n);
    n = std::trunc(n);
    if (n < 0 || double(textLength(s)) * n > double(kMaxCellTextUnits))
        return Value::err(ErrValue);
    std::string r;
    for (int i = 0; i < int(n); ++i)
        r += s;
    return Value::str(r);
}

Value fnExact(Call &c)
{
    SD_TEXT(c, 0, a);
    SD_TEXT(c, 1, b);
    return Value::boolean(a == b);
}

Value fnSubstitute(Call &c)
{
    SD_TEXT(c, 0, s);
    SD_TEXT(c, 1, from);
    SD_TEXT(c, 2, to);
    double instance = 0;
    if (c.count() > 3) {
        if (uint8_t e = c.number(3, instance))
            return Value::err(e);
        instance = std::trunc(instance);
        if (instance < 1)
            return Value::err(ErrValue);
    }
    if (from.empty())
        return Value::str(s);
    std::string r;
    size_t pos = 0;
    int seen = 0;
    for (;;) {
        const size_t at = s.find(from, pos);
        if (at == std::string::npos)
            break;
        ++seen;
        r.append(s, pos, at - pos);
        r += instance == 0 || seen == int(instance) ? to : from;
        pos = at + from.size();
        if (r.size() > kMaxCellTextUnits * 4)
            return Value::err(ErrValue);
    }
    r.append(s, pos, std::string::npos);
    return Value::str(r);
}

Value fnReplace(Call &c)
{
    SD_TEXT(c, 0, s);
    SD_NUMBER(c, 1, start);
    SD_NUMBER(c, 2, n);
    SD_TEXT(c, 3, with);
    if (start < 1 || n < 0)
        return Value::err(ErrValue);
    QString t = q(s);
    const int from = int(std::min<double>(start - 1, t.size()));
    t.replace(from, int(std::min(n, 1e9)), q(with));
    return out(t);
}

Value fnChar(Call &c)
{
    SD_NUMBER(c, 0, n);
    n = std::trunc(n);
    if (n < 1 || n > 255)
        return Value::err(ErrValue);
    return out(QString(QChar(cp1252Char(int(n)))));
}

Value fnCode(Call &c)
{
    SD_TEXT(c, 0, s);
    if (s.empty())
        return Value::err(ErrValue);
    return Value::num(cp1252Code(q(s)[0].unicode()));
}

Value fnUnichar(Call &c)
{
    SD_NUMBER(c, 0, n);
    n = std::trunc(n);
    if (n < 1 || n > 0x10FFFF || (n >= 0xD800 && n < 0xE000))
        return Value::err(ErrValue);
    const char32_t u = char32_t(n);
    return out(QString::fromUcs4(&u, 1));
}

Value fnUnicode(Call &c)
{
    SD_TEXT(c, 0, s);
    if (s.empty())
        return Value::err(ErrValue);
    const QVector<uint> u = q(s).toUcs4();
    return Value::num(u.isEmpty() ? 0 : u[0]);
}

Value fnConcatenate(Call &c)
{
    std::string r;
    for (int i = 0; i < c.count(); ++i) {
        SD_TEXT(c, i, s);
        r += s;
        if (r.size() > kMaxCellTextUnits * 4)
            return Value::err(ErrValue);
    }
    return Value::str(r);
}

Value fnConcat(Call &c)
{
    std::string r;
    for (int i = 0; i < c.count(); ++i) {
        const Value &v = c.arg(i);
        uint8_t error = 0;
        c.evaluator.visit(v, [&](const Value &x, uint32_t, uint32_t) {
            std::string s;
            if (uint8_t e = toText(x, s)) {
                if (!error)
                    error = e;
            }
            r += s;
        });
        if (error)
            return Value::err(error);
        if (r.size() > kMaxCellTextUnits * 4)
            return Value::err(ErrValue);
    }
    return Value::str(r);
}

Value fnTextJoin(Call &c)
{
    SD_TEXT(c, 0, delimiter);
    bool ignoreEmpty = false;
    if (uint8_t e = c.boolean(1, ignoreEmpty))
        return Value::err(e);
    std::string r;
    bool first = true;
    for (int i = 2; i < c.count(); ++i) {
        const Value &v = c.arg(i);
        Grid g(c.evaluator, v);
        if (!g.ok())
            return Value::err(g.error());
        // Every position counts, blanks included, unless empty ones are skipped.
        const uint32_t rows = ignoreEmpty ? g.usedRows() : g.rows();
        const uint32_t cols = ignoreEmpty ? g.usedCols() : g.cols();
        if (double(rows) * cols > double(kMaxArrayCells))
            return Value::err(ErrValue);
        for (uint32_t y = 0; y < rows; ++y) {
            for (uint32_t x = 0; x < cols; ++x) {
                c.evaluator.step();
                std::string s;
                if (uint8_t e = toText(g.at(y, x), s))
                    return Value::err(e);
                if (ignoreEmpty && s.empty())
                    continue;
                if (!first)
                    r += delimiter;
                first = false;
                r += s;
                if (r.size() > kMaxCellTextUnits * 4)
                    return Value::err(ErrValue);
            }
        }
    }
    return Value::str(r);
}

Value fnValue(Call &c)
{
    const Value v = c.scalar(0);
    if (v.isError())
        return v;
    if (v.type == ValueType::Number)
        return v;
    if (v.type == ValueType::Bool)
        return Value::err(ErrValue);
    double d = 0;
    if (v.type == ValueType::Blank)
        return Value::num(0);
    if (!parseNumberText(v.text, d, c.evaluator.date1904()))
        return Value::err(ErrValue);
    return Value::num(d);
}

Value fnNumberValue(Call &c)
{
    SD_TEXT(c, 0, s);
    std::string dec = ".", group = ",";
    if (c.count() > 1)
        if (uint8_t e = c.text(1, dec))
            return Value::err(e);
    if (c.count() > 2)
        if (uint8_t e = c.text(2, group))
            return Value::err(e);
    std::string t;
    for (char ch : s) {
        if (ch == ' ' || (!group.empty() && ch == group[0]))
            continue;
        t += !dec.empty() && ch == dec[0] ? '.' : ch;
    }
    double d = 0;
    if (t.empty())
        return Value::num(0);
    if (!parseNumberText(t, d, false))
        return Value::err(ErrValue);
    return Value::num(d);
}

Value fnText(Call &c)
{
    const Value v = c.scalar(0);
    if (v.isError())
        return v;
    SD_TEXT(c, 1, code);
    std::string r;
    double d = 0;
    if (v.type == ValueType::Text && !parseNumberText(v.text, d, c.evaluator.date1904())) {
        c.evaluator.format(code).appendText(v.text, r);
        return Value::str(r);
    }
    if (uint8_t e = toNumber(v, d, c.evaluator.date1904()))
        return Value::err(e);
    c.evaluator.format(code).appendNumber(d, c.evaluator.date1904(), r);
    return Value::str(r);
}

Value formatted(Call &c, double decimalsDefault, bool dollar)
{
    SD_NUMBER(c, 0, x);
    double decimals = decimalsDefault;
    if (c.count() > 1 && !c.isEmpty(1))
        if (uint8_t e = c.number(1, decimals))
            return Value::err(e);
    bool noCommas = false;
    if (!dollar && c.count() > 2)
        if (uint8_t e = c.boolean(2, noCommas))
            return Value::err(e);
    decimals = std::trunc(decimals);
    if (decimals > 127)
        return Value::err(ErrValue);
    if (decimals < 0)
        x = roundDigits(x, decimals, 0);
    const int places = decimals > 0 ? int(decimals) : 0;
    std::string number = noCommas ? "0" : "#,##0";
    if (places > 0)
        number += "." + std::string(size_t(places), '0');
    const std::string code = dollar ? "$" + number + ";($" + number + ")" : number;
    std::string r;
    c.evaluator.format(code).appendNumber(x, c.evaluator.date1904(), r);
    return Value::str(r);
}

Value fnFixed(Call &c)
{
    return formatted(c, 2, false);
}
Value fnDollar(Call &c)
{
    return formatted(c, 2, true);
}

Value fnHyperlink(Call &c)
{
    if (c.count() > 1)
        return c.scalar(1);
    return c.scalar(0);
}

// ---- full- and half-width letters --------------------------------------------------

Value width(Call &c, bool toHalf)
{
    SD_TEXT(c, 0, s);
    QString t = QString::fromUtf8(s.data(), int(s.size()));
    for (QChar &ch : t) {
        const ushort u = ch.unicode();
        if (toHalf) {
            if (u >= 0xFF01 && u <= 0xFF5E)
                ch = QChar(ushort(u - 0xFEE0));
            else if (u == 0x3000)
                ch = QChar(' ');
        } else {
            if (u >= 0x21 && u <= 0x7E)
                ch = QChar(ushort(u + 0xFEE0));
            else if (u == ' ')
                ch = QChar(0x3000);
        }
    }
    return Value::str(t.toStdString());
}

Value fnAsc(Call &c)
{
    return width(c, true);
}
Value fnDbcs(Call &c)
{
    return width(c, false);
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows textFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "DOLLAR", 13, 1, 2, "V", E, fnDollar },
        { "FIXED", 14, 1, 3, "V", E, fnFixed },
        { "REPT", 30, 2, 2, "V", E, fnRept },
        { "MID", 31, 3, 3, "V", E, fnMid },
        { "LEN", 32, 1, 1, "V", E, fnLen },
        { "VALUE", 33, 1, 1, "V", E, fnValue },
        { "TEXT", 48, 2, 2, "V", E, fnText },
        { "SEARCH", 82, 2, 3, "V", E, fnSearch },
        { "CHAR", 111, 1, 1, "V", E, fnChar },
        { "LOWER", 112, 1, 1, "V", E, fnLower },
        { "UPPER", 113, 1, 1, "V", E, fnUpper },
        { "PROPER", 114, 1, 1, "V", E, fnProper },
        { "LEFT", 115, 1, 2, "V", E, fnLeft },
        { "RIGHT", 116, 1, 2, "V", E, fnRight },
        { "EXACT", 117, 2, 2, "V", E, fnExact },
        { "TRIM", 118, 1, 1, "V", E, fnTrim },
        { "REPLACE", 119, 4, 4, "V", E, fnReplace },
        { "SUBSTITUTE", 120, 3, 4, "V", E, fnSubstitute },
        { "CODE", 121, 1, 1, "V", E, fnCode },
        { "FIND", 124, 2, 3, "V", E, fnFind },
        { "CLEAN", 162, 1, 1, "V", E, fnClean },
        { "USDOLLAR", 204, 1, 2, "V", E, fnDollar },
        { "FINDB", 205, 2, 3, "V", E, fnFind },
        { "SEARCHB", 206, 2, 3, "V", E, fnSearch },
        { "REPLACEB", 207, 4, 4, "V", E, fnReplace },
        { "LEFTB", 208, 1, 2, "V", E, fnLeft },
        { "RIGHTB", 209, 1, 2, "V", E, fnRight },
        { "MIDB", 210, 3, 3, "V", E, fnMid },
        { "LENB", 211, 1, 1, "V", E, fnLen },
        { "ASC", 214, 1, 1, "V", E, fnAsc },
        { "DBCS", 215, 1, 1, "V", E, fnDbcs },
        { "CONCATENATE", 336, 1, N, "V", E, fnConcatenate },
        { "HYPERLINK", 359, 1, 2, "V", E, fnHyperlink },
        { "CONCAT", -1, 1, N, "R", 0, fnConcat },
        { "TEXTJOIN", -1, 3, N, "VVR", 0, fnTextJoin },
        { "UNICHAR", -1, 1, 1, "V", E, fnUnichar },
        { "UNICODE", -1, 1, 1, "V", E, fnUnicode },
        { "NUMBERVALUE", -1, 1, 3, "V", E, fnNumberValue },
        // Known, not evaluated: a call keeps the cell's cached value.
        { "NUMBERSTRING", 353, 2, 2, "V", E, nullptr },
        { "PHONETIC", 360, 1, 1, "R", 0, nullptr },
        { "BAHTTEXT", -1, 1, 1, "V", E, nullptr },
        { "ISTHAIDIGIT", -1, 1, 1, "V", E, nullptr },
        { "JIS", -1, 1, 1, "V", E, nullptr },
        { "ROUNDBAHTDOWN", -1, 1, 1, "V", E, nullptr },
        { "ROUNDBAHTUP", -1, 1, 1, "V", E, nullptr },
        { "THAIDAYOFWEEK", -1, 1, 1, "V", E, nullptr },
        { "THAIDIGIT", -1, 1, 1, "V", E, nullptr },
        { "THAIMONTHOFYEAR", -1, 1, 1, "V", E, nullptr },
        { "THAINUMSOUND", -1, 1, 1, "V", E, nullptr },
        { "THAINUMSTRING", -1, 1, 1, "V", E, nullptr },
        { "THAISTRINGLENGTH", -1, 1, 1, "V", E, nullptr },
        { "THAIYEAR", -1, 1, 1, "V", E, nullptr },
    };
    return rows;
}

} // namespace sd::formula
