// Text functions of the later versions: TEXTBEFORE, TEXTAFTER, VALUETOTEXT,
// ARRAYTOTEXT and ENCODEURL.

#include "formula/fn_p.h"

#include "io/limits.h"

#include <algorithm>
#include <cmath>

namespace sd::formula {

namespace {

struct Match
{
    size_t at, length;
};

// Every non-overlapping match of any delimiter, left to right (the
// longest at one place); case-insensitive when `fold`.
std::vector<Match> matches(const std::string &text, const std::vector<std::string> &delims,
                           bool fold)
{
    const std::string hay = fold ? upperText(text) : text;
    std::vector<std::string> keys = delims;
    if (fold)
        for (std::string &k : keys)
            k = upperText(k);
    std::vector<Match> out;
    for (size_t from = 0; from <= hay.size();) {
        Match best { std::string::npos, 0 };
        for (const std::string &k : keys) {
            const size_t at = hay.find(k, from);
            if (at < best.at || (at == best.at && k.size() > best.length))
                best = { at, k.size() };
        }
        if (best.at == std::string::npos)
            break;
        out.push_back(best);
        from = best.at + std::max<size_t>(best.length, 1);
    }
    return out;
}

// TEXTBEFORE and TEXTAFTER(text, delimiter, [instance_num], [match_mode],
// [match_end], [if_not_found]).
Value textAround(Call &c, bool before)
{
    SD_TEXT(c, 0, text);
    std::vector<std::string> delims;
    {
        const Value &d = c.arg(1);
        if (d.isError())
            return d;
        const ArrayData a = c.evaluator.toArray(d);
        for (const Value &v : a.items) {
            std::string s;
            if (uint8_t e = toText(v, s))
                return Value::err(e);
            delims.push_back(std::move(s));
        }
    }
    double instance = 1, mode = 0, end = 0;
    for (auto [i, slot] : { std::pair<int, double *> { 2, &instance }, { 3, &mode }, { 4, &end } })
        if (c.count() > i && !c.isEmpty(i))
            if (uint8_t e = c.number(i, *slot))
                return Value::err(e);
    instance = std::trunc(instance);
    if (instance == 0 || std::fabs(instance) > double(text.size()) + 1 || (mode != 0 && mode != 1))
        return Value::err(ErrValue);
    std::vector<Match> found = matches(text, delims, mode == 1);
    if (end != 0) {
        if (instance > 0)
            found.push_back({ text.size(), 0 });
        else
            found.insert(found.begin(), { 0, 0 });
    }
    const size_t n = size_t(std::fabs(instance));
    if (n > found.size()) {
        if (c.count() > 5 && !c.isEmpty(5))
            return c.scalar(5);
        return Value::err(ErrNA);
    }
    const Match &m = instance > 0 ? found[n - 1] : found[found.size() - n];
    return Value::str(before ? text.substr(0, m.at) : text.substr(m.at + m.length));
}

Value fnTextBefore(Call &c)
{
    return textAround(c, true);
}
Value fnTextAfter(Call &c)
{
    return textAround(c, false);
}

// A value as VALUETOTEXT and ARRAYTOTEXT write it: strict puts text in
// quotes (doubled inside), concise leaves it bare.
std::string valueText(const Value &v, bool strict)
{
    std::string s;
    switch (v.type) {
    case ValueType::Error:
        return errorText(v.error);
    case ValueType::Text:
        if (!strict)
            return v.text;
        s = "\"";
        for (char ch : v.text)
            s += ch == '"' ? std::string("\"\"") : std::string(1, ch);
        return s + "\"";
    default:
        toText(v, s);
        return s;
    }
}

uint8_t formatArg(Call &c, int i, bool &strict)
{
    double f = 0;
    if (c.count() > i && !c.isEmpty(i))
        if (uint8_t e = c.number(i, f))
            return e;
    f = std::trunc(f);
    if (f != 0 && f != 1)
        return ErrValue;
    strict = f == 1;
    return 0;
}

Value fnValueToText(Call &c)
{
    bool strict = false;
    if (uint8_t e = formatArg(c, 1, strict))
        return Value::err(e);
    return Value::str(valueText(c.scalar(0), strict));
}

// ARRAYTOTEXT: concise "a, 1, TRUE"; strict {"a",1;TRUE,#N/A}.
Value fnArrayToText(Call &c)
{
    bool strict = false;
    if (uint8_t e = formatArg(c, 1, strict))
        return Value::err(e);
    const Value &v = c.arg(0);
    const ArrayData a = c.evaluator.toArray(v);
    std::string out = strict ? "{" : "";
    for (uint32_t r = 0; r < a.rows; ++r) {
        for (uint32_t k = 0; k < a.cols; ++k) {
            if (r > 0 || k > 0)
                out += strict ? (k == 0 ? ";" : ",") : ", ";
            out += valueText(a.at(r, k), strict);
            if (out.size() > kMaxCellTextUnits * 4)
                return Value::err(ErrValue);
        }
    }
    if (strict)
        out += "}";
    if (textLength(out) > kMaxCellTextUnits)
        return Value::err(ErrValue);
    return Value::str(std::move(out));
}

// ENCODEURL: every byte of the UTF-8 text but the unreserved characters of
// URIs (letters, digits, - . _ ~) as %XX.
Value fnEncodeUrl(Call &c)
{
    SD_TEXT(c, 0, text);
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char ch : text) {
        if (std::isalnum(ch) && ch < 0x80) {
            out += char(ch);
        } else if (ch == '-' || ch == '.' || ch == '_' || ch == '~') {
            out += char(ch);
        } else {
            out += '%';
            out += hex[ch >> 4];
            out += hex[ch & 15];
        }
    }
    if (out.size() > kMaxCellTextUnits)
        return Value::err(ErrValue);
    return Value::str(std::move(out));
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows laterTextFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "TEXTBEFORE", -1, 2, 6, "VAV", 0, fnTextBefore },
        { "TEXTAFTER", -1, 2, 6, "VAV", 0, fnTextAfter },
        { "VALUETOTEXT", -1, 1, 2, "V", E, fnValueToText },
        { "ARRAYTOTEXT", -1, 1, 2, "AV", 0, fnArrayToText },
        { "ENCODEURL", -1, 1, 1, "V", E, fnEncodeUrl },
    };
    return rows;
}

} // namespace sd::formula
