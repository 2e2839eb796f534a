#include "formula/value.h"

#include "io/limits.h"

#include <QString>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sd::formula {

// ---- construction ---------------------------------------------------------

Value Value::num(double v)
{
    Value r;
    if (!std::isfinite(v)) {
        r.type = ValueType::Error;
        r.error = ErrNum;
        return r;
    }
    r.type = ValueType::Number;
    r.number = v == 0 ? 0.0 : v; // no negative zero
    return r;
}

Value Value::str(std::string s)
{
    Value r;
    if (s.size() > kMaxCellTextUnits && textLength(s) > kMaxCellTextUnits)
        return err(ErrValue);
    r.type = ValueType::Text;
    r.text = std::move(s);
    return r;
}

Value Value::boolean(bool b)
{
    Value r;
    r.type = ValueType::Bool;
    r.number = b ? 1 : 0;
    return r;
}

Value Value::err(uint8_t code)
{
    Value r;
    r.type = ValueType::Error;
    r.error = engineError(code);
    return r;
}

const char *errorText(uint8_t code)
{
    return cellErrorText(fileError(code));
}

Value Value::ref(const Area &a)
{
    Value r;
    r.type = ValueType::Ref;
    r.area = a;
    return r;
}

Value Value::arr(ArrayData data)
{
    Value r;
    r.type = ValueType::Array;
    r.array = std::make_shared<const ArrayData>(std::move(data));
    return r;
}

// ---- numbers as text ------------------------------------------------------

namespace {

// Sign, up to 15 significant digits (trailing zeros dropped) and the decimal
// exponent of the first digit.
struct Decimal
{
    bool negative = false;
    char digits[16] = {};
    int count = 0;
    int exp = 0;
};

Decimal decimal15(double v)
{
    Decimal d;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", v);
    const char *p = buf;
    if (*p == '-') {
        d.negative = true;
        ++p;
    }
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9' && d.count < 15)
            d.digits[d.count++] = *p;
    if (*p == 'e')
        d.exp = std::atoi(p + 1);
    while (d.count > 1 && d.digits[d.count - 1] == '0')
        --d.count;
    return d;
}

} // namespace

double round15(double v)
{
    if (v == 0 || !std::isfinite(v))
        return v;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", v);
    return std::strtod(buf, nullptr);
}

std::string numberToText(double v)
{
    if (v == 0 || !std::isfinite(v))
        return "0";
    const Decimal d = decimal15(v);
    std::string out;
    if (d.negative)
        out += '-';
    // Fixed notation while the integer part has at most 15 digits and a
    // small fraction stays within the application's 20-character form.
    const bool fixed = d.exp < 15 && (d.exp >= 0 || (1 - d.exp) + d.count <= 20);
    if (fixed) {
        if (d.exp < 0) {
            out += "0.";
            out.append(size_t(-d.exp - 1), '0');
            out.append(d.digits, size_t(d.count));
        } else {
            for (int i = 0; i <= d.exp; ++i)
                out += i < d.count ? d.digits[i] : '0';
            if (d.count > d.exp + 1) {
                out += '.';
                out.append(d.digits + d.exp + 1, size_t(d.count - d.exp - 1));
            }
        }
        return out;
    }
    out += d.digits[0];
    if (d.count > 1) {
        out += '.';
        out.append(d.digits + 1, size_t(d.count - 1));
    }
    char e[16];
    std::snprintf(e, sizeof e, "E%c%02d", d.exp < 0 ? '-' : '+', std::abs(d.exp));
    out += e;
    return out;
}

// ---- coercion -------------------------------------------------------------

uint8_t toNumber(const Value &v, double &out, bool date1904)
{
    switch (v.type) {
    case ValueType::Blank:
        out = 0;
        return 0;
    case ValueType::Number:
    case ValueType::Bool:
        out = v.number;
        return 0;
    case ValueType::Text:
        return parseNumberText(v.text, out, date1904) ? 0 : ErrValue;
    case ValueType::Error:
        return v.error;
    default:
        return ErrValue;
    }
}

uint8_t toText(const Value &v, std::string &out)
{
    switch (v.type) {
    case ValueType::Blank:
        out.clear();
        return 0;
    case ValueType::Number:
        out = numberToText(v.number);
        return 0;
    case ValueType::Bool:
        out = v.number != 0 ? "TRUE" : "FALSE";
        return 0;
    case ValueType::Text:
        out = v.text;
        return 0;
    case ValueType::Error:
        return v.error;
    default:
        return ErrValue;
    }
}

uint8_t toBool(const Value &v, bool &out)
{
    switch (v.type) {
    case ValueType::Blank:
        out = false;
        return 0;
    case ValueType::Number:
    case ValueType::Bool:
        out = v.number != 0;
        return 0;
    case ValueType::Text:
        if (compareText(v.text, "TRUE") == 0) {
            out = true;
            return 0;
        }
        if (compareText(v.text, "FALSE") == 0) {
            out = false;
            return 0;
        }
        return ErrValue;
    case ValueType::Error:
        return v.error;
    default:
        return ErrValue;
    }
}

uint8_t errorFromText(std::string_view t)
{
    static const struct
    {
        const char *text;
        uint8_t code;
    } errors[] = { { "#NULL!", kErrNull },      { "#DIV/0!", ErrDiv0 },
                   { "#VALUE!", ErrValue },     { "#REF!", ErrRef },
                   { "#NAME?", ErrName },       { "#NUM!", ErrNum },
                   { "#N/A", ErrNA },           { "#GETTING_DATA", ErrGettingData },
                   { "#SPILL!", ErrSpill },     { "#CONNECT!", ErrConnect },
                   { "#BLOCKED!", ErrBlocked }, { "#UNKNOWN!", ErrUnknown },
                   { "#FIELD!", ErrField },     { "#CALC!", ErrCalc } };
    for (const auto &e : errors)
        if (compareText(t, e.text) == 0)
            return e.code;
    return 0xFF;
}

// ---- text -----------------------------------------------------------------

int compareText(std::string_view a, std::string_view b)
{
    size_t i = 0;
    for (; i < a.size() && i < b.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 0x80 || y >= 0x80)
            break;
        if (x >= 'a' && x <= 'z')
            x -= 32;
        if (y >= 'a' && y <= 'z')
            y -= 32;
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (i == a.size() || i == b.size()) {
        if (a.size() == b.size())
            return 0;
        return i == a.size() ? -1 : 1;
    }
    const QString qa = QString::fromUtf8(a.data() + i, int(a.size() - i)).toUpper();
    const QString qb = QString::fromUtf8(b.data() + i, int(b.size() - i)).toUpper();
    const int c = QString::compare(qa, qb);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

std::string upperText(std::string_view s)
{
    std::string out(s);
    bool ascii = true;
    for (char &c : out) {
        if (static_cast<unsigned char>(c) >= 0x80)
            ascii = false;
        else if (c >= 'a' && c <= 'z')
            c -= 32;
    }
    if (ascii)
        return out;
    return QString::fromUtf8(s.data(), int(s.size())).toUpper().toStdString();
}

std::string lowerText(std::string_view s)
{
    std::string out(s);
    bool ascii = true;
    for (char &c : out) {
        if (static_cast<unsigned char>(c) >= 0x80)
            ascii = false;
        else if (c >= 'A' && c <= 'Z')
            c += 32;
    }
    if (ascii)
        return out;
    return QString::fromUtf8(s.data(), int(s.size())).toLower().toStdString();
}

size_t textLength(std::string_view s)
{
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if ((c & 0xC0) != 0x80)
            n += c >= 0xF0 ? 2 : 1; // outside the BMP: a surrogate pair
    }
    return n;
}

} // namespace sd::formula
