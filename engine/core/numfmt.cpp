#include "core/numfmt.h"
#include "core/numfmt_p.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sd {

namespace {

// Dates and times that cannot be shown (negative, past 9999-12-31) fill the
// 255-character column with this many '#'.
constexpr int kUnshowableWidth = 255;
// Last serial day of each date system (9999-12-31).
constexpr int64_t kLastDay1900 = 2958465;
constexpr int64_t kLastDay1904 = 2957003;
constexpr int64_t kSecondsPerDay = 86400;
// Finest fraction of a second a format shows (.000).
constexpr int kMaxSubSecondDigits = 3;
// A section's digit, fraction and exponent groups hold at most this many places.
constexpr int kMaxPlaces = 30;
// Integers up to this size are exact in a double (below 2^53).
constexpr double kExactInteger = 9e15;
// Buddhist era years run 543 ahead of the Gregorian.
constexpr int kBuddhistEraOffset = 543;

const char *const kMonthNames[12]
    = { "January", "February", "March",     "April",   "May",      "June",
        "July",    "August",   "September", "October", "November", "December" };
const char *const kDayNames[7]
    = { "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday" };
// The Chinese AM/PM marker "上午/下午" (morning/afternoon).
constexpr char kChineseAmPm[] = "\xE4\xB8\x8A\xE5\x8D\x88/\xE4\xB8\x8B\xE5\x8D\x88";
constexpr char kChineseAm[] = "\xE4\xB8\x8A\xE5\x8D\x88";
constexpr char kChinesePm[] = "\xE4\xB8\x8B\xE5\x8D\x88";
// The US-English system long date and long time, which [$-F800] and
// [$-F400] stand for whatever else their section says.
constexpr char kSystemLongDate[] = "dddd, mmmm d, yyyy";
constexpr char kSystemLongTime[] = "h:mm:ss AM/PM";

enum class Tok : uint8_t {
    Literal, // text
    Digit, // ch: '0', '#' or '?'
    Point, // decimal point
    Comma, // thousands separator or scaling (resolved per section)
    Percent,
    Exponent, // ch: '+' or '-'
    Slash, // fraction bar; n: fixed denominator or 0
    Text, // @
    General,
    Year, // n: 2 or 4 digits
    Month, // n: 1 m, 2 mm, 3 mmm, 4 mmmm, 5 mmmmm (may become Minute)
    Day, // n: 1 d, 2 dd, 3 ddd, 4 dddd
    Hour, // n: 1 or 2
    Minute, // n: 1 or 2
    Second, // n: 1 or 2
    Elapsed, // ch: 'h', 'm' or 's'; n: width
    AmPm, // ch: 'A' AM/PM, 'P' A/P, 'p' a/p, 'C' the Chinese marker
    SubSecond, // n: digits
    Era, // g, gg, ggg: the era name, which the Gregorian calendar has not
};

struct Token
{
    Tok kind = Tok::Literal;
    char ch = 0;
    int n = 0;
    std::string text;
};

bool isDateToken(Tok t)
{
    switch (t) {
    case Tok::Year:
    case Tok::Month:
    case Tok::Day:
    case Tok::Hour:
    case Tok::Minute:
    case Tok::Second:
    case Tok::Elapsed:
    case Tok::AmPm:
    case Tok::SubSecond:
    case Tok::Era:
        return true;
    default:
        return false;
    }
}

size_t utf8Length(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if ((lead >> 5) == 0x6)
        return 2;
    if ((lead >> 4) == 0xE)
        return 3;
    if ((lead >> 3) == 0x1E)
        return 4;
    return 1;
}

bool startsWithNoCase(std::string_view s, size_t i, const char *word)
{
    const size_t n = std::strlen(word);
    if (s.size() - i < n)
        return false;
    for (size_t k = 0; k < n; ++k) {
        char c = s[i + k];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != word[k])
            return false;
    }
    return true;
}

void appendUnsigned(uint64_t v, std::string &out)
{
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void appendPadded(uint64_t v, int width, std::string &out)
{
    if (v < 100 && width <= 2) { // the common case of dates and times
        if (v >= 10 || width == 2)
            out += char('0' + v / 10);
        out += char('0' + v % 10);
        return;
    }
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    for (int k = int(r.ptr - buf); k < width; ++k)
        out += '0';
    out.append(buf, r.ptr);
}

} // namespace

enum class SectionKind : uint8_t { Number, Date, Text };

struct FormatSection
{
    std::vector<Token> tokens;
    SectionKind kind = SectionKind::Number;
    bool hasCondition = false;
    char condOp = 0; // '<', '>', '=', 'l' (<=), 'g' (>=), 'n' (<>)
    double condValue = 0;
    bool hasText = false; // holds @
    bool hasDigits = false;
    bool hasPlaceholders = false; // 0 # ? digit placeholders

    // Number sections.
    bool thousands = false;
    int scale = 0; // scaling commas: divide by 1000 each
    int percent = 0; // multiply by 100 each
    int intPlaces = 0, fracPlaces = 0;
    bool exponent = false;
    bool engineering = false; // '#' in the mantissa: exponent a multiple of intPlaces
    bool fraction = false;
    int fixedDenominator = 0;
    int numPlaces = 0, denPlaces = 0;
    bool mixedFraction = false; // a whole-number part before the fraction
    bool general = false;

    bool invalid = false; // a code the application refuses; shown as General
    const char *systemFormat = nullptr; // [$-F800] and kin: the system's own format

    // Date sections.
    int subSecondDigits = 0;
    bool twelveHour = false;
    bool elapsed = false;
    bool elapsedOnly = false; // the only date/time token is one elapsed count

    // The condition holds for negative numbers only.
    bool negativeCondition() const
    {
        return (condOp == '<' && condValue <= 0) || (condOp == 'l' && condValue < 0);
    }

    bool conditionHolds(double v) const
    {
        switch (condOp) {
        case '<':
            return v < condValue;
        case '>':
            return v > condValue;
        case '=':
            return v == condValue;
        case 'l':
            return v <= condValue;
        case 'g':
            return v >= condValue;
        case 'n':
            return v != condValue;
        }
        return true;
    }
};

namespace {

void addLiteral(std::vector<Token> &tokens, std::string_view text)
{
    if (!tokens.empty() && tokens.back().kind == Tok::Literal) {
        tokens.back().text.append(text.data(), text.size());
        return;
    }
    Token t;
    t.kind = Tok::Literal;
    t.text.assign(text.data(), text.size());
    tokens.push_back(std::move(t));
}

void addToken(std::vector<Token> &tokens, Tok kind, char ch = 0, int n = 0)
{
    Token t;
    t.kind = kind;
    t.ch = ch;
    t.n = n;
    tokens.push_back(std::move(t));
}

size_t runLength(std::string_view s, size_t i, char lower)
{
    size_t n = 0;
    while (i + n < s.size() && (s[i + n] | 0x20) == lower)
        ++n;
    return n;
}

// Reads a bracketed part "[...]" at s[i] == '['. Returns the index after it,
// or i when the bracket is not closed (then '[' is literal).
size_t parseBracket(std::string_view s, size_t i, FormatSection &section)
{
    const size_t close = s.find(']', i + 1);
    if (close == std::string_view::npos)
        return i;
    std::string_view body = s.substr(i + 1, close - i - 1);
    auto &tokens = section.tokens;
    if (startsWithNoCase(body, 0, "$-f800") || startsWithNoCase(body, 0, "$-x-sysdate")) {
        section.systemFormat = kSystemLongDate;
        return close + 1;
    }
    if (startsWithNoCase(body, 0, "$-f400") || startsWithNoCase(body, 0, "$-x-systime")) {
        section.systemFormat = kSystemLongTime;
        return close + 1;
    }
    if (!body.empty() && body[0] == '$') {
        // [$symbol-locale]: the symbol is shown, the locale id is not.
        std::string_view symbol = body.substr(1);
        const size_t dash = symbol.find('-');
        if (dash != std::string_view::npos)
            symbol = symbol.substr(0, dash);
        if (!symbol.empty())
            addLiteral(tokens, symbol);
        return close + 1;
    }
    if (!body.empty()) {
        const char c = char(body[0] | 0x20);
        if ((c == 'h' || c == 'm' || c == 's') && runLength(body, 0, c) == body.size()) {
            addToken(tokens, Tok::Elapsed, c, int(body.size()));
            return close + 1;
        }
        if (body[0] == '<' || body[0] == '>' || body[0] == '=') {
            size_t k = 1;
            char op = body[0];
            if (body.size() > 1 && body[0] == '<' && body[1] == '=')
                op = 'l', k = 2;
            else if (body.size() > 1 && body[0] == '>' && body[1] == '=')
                op = 'g', k = 2;
            else if (body.size() > 1 && body[0] == '<' && body[1] == '>')
                op = 'n', k = 2;
            std::string number(body.substr(k));
            char *end = nullptr;
            const double v = std::strtod(number.c_str(), &end);
            if (end != number.c_str()) {
                section.hasCondition = true;
                section.condOp = op;
                section.condValue = v;
            }
            return close + 1;
        }
    }
    // Colours ([Red], [Color10]) and other modifiers do not show.
    return close + 1;
}

// Splits a format code into sections of tokens.
std::vector<FormatSection> tokenize(std::string_view s)
{
    std::vector<FormatSection> sections(1);
    // A '[' after the last ']' is never closed: looking for its ']' again at
    // each of many such brackets would take time quadratic in the code.
    const size_t lastClose = s.rfind(']');
    size_t i = 0;
    while (i < s.size()) {
        FormatSection &section = sections.back();
        auto &tokens = section.tokens;
        const char c = s[i];
        const char lower = char(c | 0x20);
        switch (c) {
        case ';':
            sections.emplace_back();
            ++i;
            continue;
        case '"': {
            size_t close = s.find('"', i + 1);
            if (close == std::string_view::npos)
                close = s.size();
            if (close > i + 1)
                addLiteral(tokens, s.substr(i + 1, close - i - 1));
            i = close + 1;
            continue;
        }
        case '\\':
            if (i + 1 < s.size()) {
                const size_t n = utf8Length(uint8_t(s[i + 1]));
                addLiteral(tokens, s.substr(i + 1, n));
                i += 1 + n;
            } else {
                ++i;
            }
            continue;
        case '_':
            // Space the width of the next character: one space in a wide column.
            addLiteral(tokens, " ");
            i += 1 + (i + 1 < s.size() ? utf8Length(uint8_t(s[i + 1])) : 0);
            continue;
        case '*':
            // Repeat the next character to fill the column: nothing in CSV.
            i += 1 + (i + 1 < s.size() ? utf8Length(uint8_t(s[i + 1])) : 0);
            continue;
        case '[': {
            const size_t next = lastClose != std::string_view::npos && lastClose > i
                ? parseBracket(s, i, section)
                : i;
            if (next != i) {
                i = next;
                continue;
            }
            addLiteral(tokens, "[");
            ++i;
            continue;
        }
        case '0':
        case '#':
        case '?':
            addToken(tokens, Tok::Digit, c);
            ++i;
            continue;
        case '.':
            addToken(tokens, Tok::Point);
            ++i;
            continue;
        case ',':
            addToken(tokens, Tok::Comma);
            ++i;
            continue;
        case '%':
            addToken(tokens, Tok::Percent);
            ++i;
            continue;
        case '@':
            addToken(tokens, Tok::Text);
            ++i;
            continue;
        case '/': {
            // A fixed denominator ("# ?/8", "# ??/100") follows as digits.
            size_t k = i + 1;
            int den = 0;
            if (k < s.size() && s[k] >= '1' && s[k] <= '9') {
                while (k < s.size() && s[k] >= '0' && s[k] <= '9' && den < 100000000)
                    den = den * 10 + (s[k++] - '0');
            }
            addToken(tokens, Tok::Slash, 0, den);
            tokens.back().text.assign(s.substr(i, k - i));
            i = k;
            continue;
        }
        default:
            break;
        }
        if ((lower == 'e') && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) {
            addToken(tokens, Tok::Exponent, s[i + 1]);
            i += 2;
            continue;
        }
        if (lower == 'g' && startsWithNoCase(s, i, "general")) {
            addToken(tokens, Tok::General);
            i += 7;
            continue;
        }
        if (lower == 'g') {
            const size_t n = runLength(s, i, 'g');
            addToken(tokens, Tok::Era, c, int(n));
            i += n;
            continue;
        }
        if (lower == 'a' && startsWithNoCase(s, i, "am/pm")) {
            addToken(tokens, Tok::AmPm, 'A');
            i += 5;
            continue;
        }
        if (lower == 'a' && startsWithNoCase(s, i, "a/p")) {
            addToken(tokens, Tok::AmPm, c == 'a' ? 'p' : 'P');
            i += 3;
            continue;
        }
        if (s.compare(i, sizeof kChineseAmPm - 1, kChineseAmPm) == 0) {
            addToken(tokens, Tok::AmPm, 'C');
            i += sizeof kChineseAmPm - 1;
            continue;
        }
        if (lower == 'b' && i + 1 < s.size() && (s[i + 1] == '1' || s[i + 1] == '2')) {
            // Calendar switch (B1 Gregorian, B2 Hijri): the Gregorian calendar is used.
            i += 2;
            continue;
        }
        if (lower == 'y' || lower == 'e' || lower == 'b') {
            // 'e' is the year in the Western calendar, 'b' the Buddhist era year.
            const size_t n = runLength(s, i, lower);
            addToken(tokens, Tok::Year, lower == 'b' ? 'b' : 0, lower == 'e' || n > 2 ? 4 : 2);
            i += n;
            continue;
        }
        if (lower == 'm' || lower == 'd' || lower == 'h' || lower == 's') {
            const size_t n = runLength(s, i, lower);
            const Tok kind = lower == 'm' ? Tok::Month
                : lower == 'd'            ? Tok::Day
                : lower == 'h'            ? Tok::Hour
                                          : Tok::Second;
            const int cap = kind == Tok::Month ? 5 : kind == Tok::Day ? 4 : 2;
            addToken(tokens, kind, 0, int(std::min<size_t>(n, size_t(cap))));
            if (kind == Tok::Month && n > 5)
                tokens.back().n = 4; // mmmmmm... shows the full name
            i += n;
            continue;
        }
        const size_t n = utf8Length(uint8_t(c));
        addLiteral(tokens, s.substr(i, n));
        i += n;
    }
    return sections;
}

void literalize(Token &t)
{
    switch (t.kind) {
    case Tok::Digit:
        t.text.assign(1, t.ch);
        break;
    case Tok::Point:
        t.text = ".";
        break;
    case Tok::Comma:
        t.text = ",";
        break;
    case Tok::Percent:
        t.text = "%";
        break;
    case Tok::Slash:
        break; // text holds the slash and any digits after it
    case Tok::Exponent:
        t.text = std::string("E") + t.ch;
        break;
    case Tok::Era:
        t.text.assign(size_t(t.n), t.ch);
        break;
    default:
        return;
    }
    t.kind = Tok::Literal;
}

void mergeLiterals(std::vector<Token> &tokens)
{
    std::vector<Token> merged;
    merged.reserve(tokens.size());
    for (Token &t : tokens) {
        if (t.kind == Tok::Literal && !merged.empty() && merged.back().kind == Tok::Literal)
            merged.back().text += t.text;
        else if (t.kind != Tok::Literal || !t.text.empty())
            merged.push_back(std::move(t));
    }
    tokens.swap(merged);
}

void analyzeDate(FormatSection &sec)
{
    auto &tk = sec.tokens;
    sec.kind = SectionKind::Date;
    bool clockBefore = false; // an hour, a second or a minute-like m/mm came earlier
    for (size_t i = 0; i < tk.size(); ++i) {
        Token &t = tk[i];
        const bool clockHere
            = t.kind == Tok::Hour || t.kind == Tok::Second || (t.kind == Tok::Month && t.n <= 2);
        if (t.kind == Tok::Point && i + 1 < tk.size() && tk[i + 1].kind == Tok::Digit
            && tk[i + 1].ch == '0') {
            // Fractional seconds: ".0" to ".000".
            int n = 0;
            size_t k = i + 1;
            while (k < tk.size() && tk[k].kind == Tok::Digit && tk[k].ch == '0') {
                ++n;
                ++k;
            }
            t.kind = Tok::SubSecond;
            t.n = std::min(n, kMaxSubSecondDigits);
            for (size_t j = i + 1; j < k; ++j) {
                tk[j].kind = Tok::Literal;
                tk[j].text.clear();
            }
            sec.subSecondDigits = std::max(sec.subSecondDigits, t.n);
            i = k - 1;
            continue;
        }
        if (t.kind == Tok::Era) {
            t.kind = Tok::Literal; // shown as nothing
            t.text.clear();
            continue;
        }
        if (t.kind == Tok::AmPm)
            sec.twelveHour = true;
        if (t.kind == Tok::Elapsed) {
            // An elapsed unit must lead: "hh[m]" is refused and its cells
            // show General (corpus sheetjs LONumbers.xlsx).
            if (clockBefore)
                sec.invalid = true;
            sec.elapsed = true;
        }
        clockBefore = clockBefore || clockHere;
        literalize(t);
        if (t.kind == Tok::General || t.kind == Tok::Text) {
            t.text = t.kind == Tok::General ? "General" : "@";
            t.kind = Tok::Literal;
        }
    }
    int dateTokens = 0;
    for (const Token &t : tk)
        dateTokens += isDateToken(t.kind) ? 1 : 0;
    sec.elapsedOnly = sec.elapsed && dateTokens == 1;
    // "m" and "mm" are minutes right after an hour or right before a second.
    for (size_t i = 0; i < tk.size(); ++i) {
        Token &t = tk[i];
        if (t.kind != Tok::Month || t.n > 2)
            continue;
        bool minute = false;
        for (size_t k = i; k-- > 0;) {
            if (isDateToken(tk[k].kind) && tk[k].kind != Tok::AmPm) {
                minute = tk[k].kind == Tok::Hour || (tk[k].kind == Tok::Elapsed && tk[k].ch == 'h');
                break;
            }
        }
        if (!minute) {
            for (size_t k = i + 1; k < tk.size(); ++k) {
                if (isDateToken(tk[k].kind) && tk[k].kind != Tok::AmPm) {
                    minute = tk[k].kind == Tok::Second
                        || (tk[k].kind == Tok::Elapsed && tk[k].ch == 's');
                    break;
                }
            }
        }
        if (minute)
            t.kind = Tok::Minute;
    }
    mergeLiterals(tk);
}

void analyzeNumber(FormatSection &sec)
{
    auto &tk = sec.tokens;
    sec.kind = SectionKind::Number;
    int exponentAt = -1, slashAt = -1, pointAt = -1;
    for (int i = 0; i < int(tk.size()); ++i) {
        if (tk[i].kind == Tok::Exponent && exponentAt < 0)
            exponentAt = i;
        if (tk[i].kind == Tok::General)
            sec.general = true;
    }
    auto isDigit = [&](int i) { return i >= 0 && i < int(tk.size()) && tk[i].kind == Tok::Digit; };
    // Spaces may stand between the fraction bar and its digits ("?? / ??").
    auto isSpace = [&](int i) {
        return i >= 0 && i < int(tk.size()) && tk[i].kind == Tok::Literal
            && tk[i].text.find_first_not_of(' ') == std::string::npos;
    };
    auto digitBefore = [&](int i) { return isDigit(i - 1) || (isSpace(i - 1) && isDigit(i - 2)); };
    auto digitAfter = [&](int i) { return isDigit(i + 1) || (isSpace(i + 1) && isDigit(i + 2)); };
    if (exponentAt < 0) {
        for (int i = 0; i < int(tk.size()); ++i) {
            if (tk[i].kind == Tok::Slash && slashAt < 0 && digitBefore(i)
                && (tk[i].n > 0 || digitAfter(i))) {
                slashAt = i;
            }
        }
    }
    for (int i = 0; i < int(tk.size()); ++i) {
        if (tk[i].kind == Tok::Point && pointAt < 0 && slashAt < 0)
            pointAt = i;
    }

    if (slashAt >= 0) {
        sec.fraction = true;
        sec.fixedDenominator = tk[slashAt].n;
        const int numEnd = isDigit(slashAt - 1) ? slashAt : slashAt - 1;
        int k = numEnd - 1;
        while (isDigit(k))
            --k;
        const int numStart = k + 1;
        sec.numPlaces = numEnd - numStart;
        const int denStart = isDigit(slashAt + 1) ? slashAt + 1 : slashAt + 2;
        for (int i = 0; i < numStart; ++i) {
            if (tk[i].kind == Tok::Digit) {
                sec.mixedFraction = true;
                ++sec.intPlaces;
            }
        }
        for (int i = denStart; isDigit(i) && sec.fixedDenominator == 0; ++i)
            ++sec.denPlaces;
        // Digit tokens keep their role by position; mark the groups.
        for (int i = 0; i < int(tk.size()); ++i) {
            Token &t = tk[i];
            if (t.kind == Tok::Digit)
                t.n = i < numStart ? 0 : i < numEnd ? 1 : 2;
            else if (t.kind == Tok::Percent)
                ++sec.percent;
            else if (i != slashAt)
                literalize(t);
        }
        sec.denPlaces = std::min(sec.denPlaces, 9);
        mergeLiterals(tk);
        return;
    }

    // Plain and scientific numbers. Digit n: 0 integer, 1 decimal, 2 exponent.
    const int mantissaEnd = exponentAt >= 0 ? exponentAt : int(tk.size());
    const int intEnd = pointAt >= 0 ? pointAt : mantissaEnd;
    int firstDigit = -1, lastIntDigit = -1, lastDigit = -1;
    for (int i = 0; i < mantissaEnd; ++i) {
        if (tk[i].kind != Tok::Digit)
            continue;
        if (firstDigit < 0)
            firstDigit = i;
        lastDigit = i;
        if (i < intEnd)
            lastIntDigit = i;
    }
    for (int i = 0; i < int(tk.size()); ++i) {
        Token &t = tk[i];
        switch (t.kind) {
        case Tok::Digit:
            if (exponentAt >= 0 && i > exponentAt) {
                t.n = 2;
            } else if (i < intEnd) {
                t.n = 0;
                ++sec.intPlaces;
                if (t.ch == '#' && exponentAt >= 0)
                    sec.engineering = true;
            } else {
                t.n = 1;
                ++sec.fracPlaces;
            }
            break;
        case Tok::Comma:
            if (firstDigit >= 0 && i > firstDigit && i < lastIntDigit) {
                sec.thousands = true;
                t.kind = Tok::Literal; // shown through the digits, not here
                t.text.clear();
            } else if (firstDigit >= 0 && i > lastDigit && i < mantissaEnd) {
                ++sec.scale;
                t.kind = Tok::Literal;
                t.text.clear();
            } else if (firstDigit >= 0 && i > firstDigit && i < mantissaEnd) {
                t.kind = Tok::Literal; // a comma among the decimals shows nothing
                t.text.clear();
            } else {
                literalize(t);
            }
            break;
        case Tok::Percent:
            ++sec.percent;
            break;
        case Tok::Point:
            if (i != pointAt)
                literalize(t);
            break;
        case Tok::Exponent:
            if (i != exponentAt)
                literalize(t);
            else
                sec.exponent = true;
            break;
        case Tok::Slash:
        case Tok::Era:
            literalize(t);
            break;
        default:
            break;
        }
    }
    if (sec.intPlaces < 2)
        sec.engineering = false;
    mergeLiterals(tk);
}

void analyze(FormatSection &sec)
{
    if (sec.systemFormat) {
        FormatSection system = std::move(tokenize(sec.systemFormat).front());
        sec.tokens = std::move(system.tokens);
    }
    bool date = false;
    for (const Token &t : sec.tokens) {
        if (isDateToken(t.kind) && t.kind != Tok::Era)
            date = true;
        if (t.kind == Tok::Text)
            sec.hasText = true;
        if (t.kind == Tok::Digit || t.kind == Tok::General)
            sec.hasDigits = true;
        if (t.kind == Tok::Digit)
            sec.hasPlaceholders = true;
    }
    if (date) {
        analyzeDate(sec);
    } else if (sec.hasText && !sec.hasDigits) {
        sec.kind = SectionKind::Text;
        for (Token &t : sec.tokens)
            literalize(t);
        mergeLiterals(sec.tokens);
    } else {
        analyzeNumber(sec);
    }
}

// ---- rendering -------------------------------------------------------------

void appendUnshowable(std::string &out)
{
    out.append(size_t(kUnshowableWidth), '#');
}

// Spreads the integer digits over the integer placeholders, right to left:
// the leftmost placeholder takes any digits left over, and placeholders
// without a digit show '0', a space ('?') or nothing ('#'). Literals between
// placeholders ("000-00-0000") stay where they are.
struct IntegerFill
{
    const char *digits = ""; // significant integer digits, most significant first
    int length = 0;
    int places = 0; // integer placeholders in the section
    bool thousands = false;

    // Appends what placeholder `index` (0 = leftmost) shows.
    void append(int index, char placeholder, std::string &out) const
    {
        const int fromRight = places - 1 - index;
        if (fromRight < 0)
            return; // more placeholders than counted: nothing to show
        if (index == 0 && length > places) {
            // The leftmost placeholder takes every digit that does not fit.
            for (int j = 0; j <= length - places; ++j)
                appendDigit(digits[j], length - 1 - j, out);
            return;
        }
        if (fromRight < length) {
            appendDigit(digits[length - 1 - fromRight], fromRight, out);
            return;
        }
        if (placeholder == '0')
            appendDigit('0', fromRight, out);
        else if (placeholder == '?')
            out += thousands && fromRight > 0 && fromRight % 3 == 0 ? "  " : " ";
    }

    void appendDigit(char d, int position, std::string &out) const
    {
        out += d;
        if (thousands && position > 0 && position % 3 == 0)
            out += ',';
    }
};

// Fast rounding of small values: up to kFastPlaces decimals, results below
// kFastLimit, unless within kFastMargin of a tie.
constexpr int kFastPlaces = 9;
constexpr double kFastLimit = 1e9;
constexpr double kFastMargin = 1e-5;
constexpr double kPowersOfTen[kFastPlaces + 1]
    = { 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9 };

// The integer and decimal digits of |v| rounded to `decimals` places.
struct FixedDigits
{
    char integer[400];
    int intLength = 0;
    char decimals[kMaxPlaces + 1];
    int decLength = 0;

    void set(double v, int places)
    {
        intLength = 0;
        decLength = places;
        for (int k = 0; k < places; ++k)
            decimals[k] = '0';
        if (v <= 0)
            return;
        if (places <= kFastPlaces && v < kFastLimit / kPowersOfTen[places]) {
            // Small values whose rounding is clear-cut: v differs from its
            // 15-digit form by far less than kFastMargin of the last place.
            const double x = v * kPowersOfTen[places];
            const double floor = std::floor(x);
            const double frac = x - floor;
            if (std::fabs(frac - 0.5) > kFastMargin) {
                uint64_t r = uint64_t(floor) + (frac > 0.5 ? 1 : 0);
                for (int k = places - 1; k >= 0; --k) {
                    decimals[k] = char('0' + r % 10);
                    r /= 10;
                }
                if (r > 0) {
                    char buf[24];
                    auto end = std::to_chars(buf, buf + sizeof buf, r).ptr;
                    intLength = int(end - buf);
                    std::memcpy(integer, buf, size_t(intLength));
                }
                return;
            }
        }
        Digits d;
        if (!d.fromDouble(v))
            return;
        d.roundTo(d.exp + 1 + places);
        if (d.count == 0)
            return;
        for (int p = d.exp; p >= 0 && intLength < int(sizeof integer); --p) {
            const int idx = d.exp - p;
            integer[intLength++] = char('0' + (idx < d.count ? d.digit[idx] : 0));
        }
        for (int k = 0; k < places; ++k) {
            const int idx = d.exp + 1 + k;
            if (idx >= 0 && idx < d.count)
                decimals[k] = char('0' + d.digit[idx]);
        }
    }
};

void renderPlain(const FormatSection &sec, double v, std::string &out)
{
    FixedDigits fd;
    fd.set(v, std::min(sec.fracPlaces, kMaxPlaces));
    IntegerFill fill;
    fill.digits = fd.integer;
    fill.length = fd.intLength;
    fill.places = sec.intPlaces;
    fill.thousands = sec.thousands;
    // Decimal placeholders past the last non-zero digit: '#' shows nothing, '?' a space.
    int lastNonZero = -1;
    for (int k = 0; k < fd.decLength; ++k)
        if (fd.decimals[k] != '0')
            lastNonZero = k;
    int intIndex = 0, decIndex = 0;
    bool generalDone = false;
    for (const Token &t : sec.tokens) {
        switch (t.kind) {
        case Tok::Literal:
            out += t.text;
            break;
        case Tok::Digit:
            if (t.n == 0) {
                fill.append(intIndex++, t.ch, out);
            } else if (decIndex < kMaxPlaces) {
                const int k = decIndex++;
                if (k <= lastNonZero || t.ch == '0')
                    out += fd.decimals[k];
                else if (t.ch == '?')
                    out += ' ';
            }
            break;
        case Tok::Point:
            // Without integer placeholders the integer digits still show.
            if (sec.intPlaces == 0)
                out.append(fd.integer, size_t(fd.intLength));
            out += '.';
            break;
        case Tok::Percent:
            out += '%';
            break;
        case Tok::General:
            if (!generalDone)
                appendGeneral(v, out);
            generalDone = true;
            break;
        default:
            break;
        }
    }
}

void renderExponent(const FormatSection &sec, double v, std::string &out)
{
    int exp10 = 0;
    char intDigits[kMaxPlaces + 2];
    int intLength = 0;
    char decDigits[kMaxPlaces + 1];
    const int fracPlaces = std::min(sec.fracPlaces, kMaxPlaces);
    const int intPlaces = std::min(sec.intPlaces, kMaxPlaces);
    for (int k = 0; k < fracPlaces; ++k)
        decDigits[k] = '0';
    Digits d;
    if (v > 0 && d.fromDouble(v)) {
        for (int pass = 0; pass < 2; ++pass) {
            Digits r = d;
            const int lead = r.exp;
            int e;
            if (sec.engineering) {
                const int period = intPlaces;
                e = lead >= 0 ? lead / period * period : -((-lead + period - 1) / period) * period;
            } else {
                e = lead - std::max(intPlaces - 1, -1);
                if (intPlaces == 0)
                    e = lead + 1;
            }
            const int intCount = lead - e + 1; // digits left of the point
            r.roundTo(intCount + fracPlaces);
            if (r.exp != lead && pass == 0) {
                d = r; // rounding carried into a new leading digit
                continue;
            }
            exp10 = e;
            intLength = 0;
            for (int k = 0; k < intCount && intLength < kMaxPlaces + 1; ++k)
                intDigits[intLength++] = char('0' + (k < r.count ? r.digit[k] : 0));
            for (int k = 0; k < fracPlaces; ++k) {
                const int idx = intCount + k;
                decDigits[k] = char('0' + (idx >= 0 && idx < r.count ? r.digit[idx] : 0));
            }
            break;
        }
    }
    // Leading zeros of the mantissa are not digits.
    int skip = 0;
    while (skip < intLength && intDigits[skip] == '0')
        ++skip;
    IntegerFill fill;
    fill.digits = intDigits + skip;
    fill.length = intLength - skip;
    // Every integer placeholder takes part in the fill, also past the
    // kMaxPlaces that the exponent arithmetic looks at.
    fill.places = sec.intPlaces;
    fill.thousands = false;
    int lastNonZero = -1;
    for (int k = 0; k < fracPlaces; ++k)
        if (decDigits[k] != '0')
            lastNonZero = k;
    // The exponent shows at least as many digits as it has '0' placeholders.
    int expZeros = 0;
    for (const Token &t : sec.tokens) {
        if (t.kind == Tok::Digit && t.n == 2 && t.ch == '0')
            ++expZeros;
    }
    int intIndex = 0, decIndex = 0;
    bool exponentDone = false;
    for (const Token &t : sec.tokens) {
        switch (t.kind) {
        case Tok::Literal:
            out += t.text;
            break;
        case Tok::Point:
            out += '.';
            break;
        case Tok::Percent:
            out += '%';
            break;
        case Tok::Exponent:
            out += 'E';
            if (exp10 < 0)
                out += '-';
            else if (t.ch == '+')
                out += '+';
            break;
        case Tok::Digit:
            if (t.n == 0) {
                fill.append(intIndex++, t.ch, out);
            } else if (t.n == 1) {
                if (decIndex < fracPlaces) {
                    const int k = decIndex++;
                    if (k <= lastNonZero || t.ch == '0')
                        out += decDigits[k];
                    else if (t.ch == '?')
                        out += ' ';
                }
            } else if (!exponentDone) {
                exponentDone = true;
                appendPadded(uint64_t(exp10 < 0 ? -int64_t(exp10) : exp10), expZeros, out);
            }
            break;
        default:
            break;
        }
    }
}

// Best rational approximation with a denominator of at most maxDen
// (continued fractions, as the application does).
void approximate(double x, int64_t maxDen, int64_t &num, int64_t &den)
{
    // Keep numerators exact: a denominator that would make the numerator
    // pass kExactInteger is not considered. The recurrence runs in double, so
    // a candidate that is thrown away may overflow nothing.
    if (x * double(maxDen) > kExactInteger)
        maxDen = std::max<int64_t>(1, int64_t(kExactInteger / std::max(x, 1.0)));
    double p0 = 0, p1 = 1, q0 = 1, q1 = 0;
    double b = x;
    double p = 0, q = 1;
    for (int iter = 0; iter < 64 && q1 < double(maxDen); ++iter) {
        const double a = std::floor(b);
        p = a * p1 + p0;
        q = a * q1 + q0;
        if (b - a < 0.00000005)
            break;
        b = 1 / (b - a);
        p0 = p1;
        p1 = p;
        q0 = q1;
        q1 = q;
    }
    if (q > double(maxDen)) {
        if (q1 > double(maxDen)) {
            q = q0;
            p = p0;
        } else {
            q = q1;
            p = p1;
        }
    }
    num = int64_t(p);
    den = std::max<int64_t>(1, int64_t(q));
}

void renderFraction(const FormatSection &sec, double v, std::string &out)
{
    int64_t whole = 0, num = 0, den = 1;
    double f = v;
    // From 10^15 on a double holds no fraction worth showing, and the integer
    // arithmetic below would overflow: such a value shows as a whole number
    // (15 significant digits, as the application keeps) with no fraction.
    char hugeText[320];
    int hugeLength = 0;
    // An improper fraction with a fixed denominator scales the whole value.
    const double scale = !sec.mixedFraction && sec.fixedDenominator > 0 ? sec.fixedDenominator : 1;
    if (!(std::fabs(v) * scale < 1e15)) {
        if (std::isfinite(v)) {
            // "d.dddddddddddddde+XX": 15 digits, then zeros up to the exponent.
            char digits[40];
            std::snprintf(digits, sizeof digits, "%.14e", std::fabs(v));
            const int exponent = std::atoi(std::strchr(digits, 'e') + 1);
            if (exponent >= 0 && exponent < int(sizeof hugeText) - 1) {
                for (int i = 0; i <= exponent; ++i) {
                    const int k = i == 0 ? 0 : i + 1; // skip the decimal point
                    hugeText[i] = i < 15 ? digits[k] : '0';
                }
                hugeLength = exponent + 1;
            }
        }
        if (hugeLength <= 0 || hugeLength >= int(sizeof hugeText)) {
            hugeText[0] = '0';
            hugeLength = 1;
        }
        f = 0;
    } else if (sec.mixedFraction) {
        whole = int64_t(std::floor(v));
        f = v - double(whole);
    }
    if (hugeLength > 0) {
        num = 0;
        den = 1;
    } else if (sec.fixedDenominator > 0) {
        den = sec.fixedDenominator;
        num = int64_t(std::llround(f * double(den)));
    } else {
        int64_t maxDen = 1;
        for (int k = 0; k < std::max(sec.denPlaces, 1); ++k)
            maxDen *= 10;
        approximate(f, maxDen - 1, num, den);
    }
    if (sec.mixedFraction && num >= den && den > 0) {
        whole += num / den;
        num %= den;
    }
    char wholeText[24];
    int wholeLength = 0;
    if (hugeLength > 0) {
        // filled from hugeText below
    } else if (whole > 0) {
        auto r = std::to_chars(wholeText, wholeText + sizeof wholeText, uint64_t(whole));
        wholeLength = int(r.ptr - wholeText);
    } else if (num == 0) {
        wholeText[0] = '0';
        wholeLength = 1;
    }
    IntegerFill fill;
    fill.digits = hugeLength > 0 ? hugeText : wholeText;
    fill.length = hugeLength > 0 ? hugeLength : wholeLength;
    fill.places = sec.intPlaces;

    char numBuffer[24], denText[24];
    auto rn = std::to_chars(numBuffer, numBuffer + sizeof numBuffer, uint64_t(num));
    auto rd = std::to_chars(denText, denText + sizeof denText, uint64_t(den));
    const char *numText = numBuffer;
    int numLength = int(rn.ptr - numBuffer);
    const int denLength = int(rd.ptr - denText);
    if (hugeLength > 0 && !sec.mixedFraction) {
        // Without a whole-number part the value stands over a denominator of 1.
        numText = hugeText;
        numLength = hugeLength;
        fill.length = 0;
    }
    // A whole number hides the fraction behind spaces of its width.
    const bool blank = sec.mixedFraction && num == 0;
    int intIndex = 0, numIndex = 0, denIndex = 0;
    for (const Token &t : sec.tokens) {
        switch (t.kind) {
        case Tok::Literal:
            // Literals between the numerator and the denominator stay.
            out += t.text;
            break;
        case Tok::Percent:
            out += '%';
            break;
        case Tok::Slash:
            if (blank) {
                out.append(t.text.size(), ' ');
            } else {
                out += '/';
                if (sec.fixedDenominator > 0)
                    out.append(denText, size_t(denLength));
            }
            break;
        case Tok::Digit:
            if (t.n == 0) {
                fill.append(intIndex++, t.ch, out);
            } else if (t.n == 1) {
                const int k = numIndex++;
                const int fromRight = sec.numPlaces - 1 - k;
                if (blank) {
                    out += ' ';
                } else if (fromRight < 0) {
                    // more numerator placeholders than counted: nothing to show
                } else if (k == 0 && numLength > sec.numPlaces) {
                    out.append(numText, size_t(numLength - sec.numPlaces + 1));
                } else if (fromRight < numLength) {
                    out += numText[numLength - 1 - fromRight];
                } else {
                    out += t.ch == '0' ? "0" : t.ch == '?' ? " " : "";
                }
            } else if (sec.fixedDenominator == 0) {
                const int k = denIndex++;
                if (blank) {
                    out += ' ';
                } else if (k < denLength) {
                    out += denText[k];
                    if (k == sec.denPlaces - 1 && denLength > sec.denPlaces)
                        out.append(denText + k + 1, size_t(denLength - sec.denPlaces));
                } else {
                    out += t.ch == '0' ? "0" : t.ch == '?' ? " " : "";
                }
            }
            break;
        default:
            break;
        }
    }
}

struct DateParts
{
    int year = 1900, month = 1, day = 0, weekday = 6;
    int hour = 0, minute = 0, second = 0;
    int64_t subSecond = 0;
    int64_t ticks = 0; // total, in units of 10^-subDigits seconds
    int64_t ticksPerSecond = 1;
};

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void civilFromDays(int64_t z, int &y, int &m, int &d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

// Days from 1970-01-01 to 1899-12-31, 1899-12-30 and 1904-01-01.
constexpr int64_t kDays18991231 = -25568;
constexpr int64_t kDays18991230 = -25569;
constexpr int64_t kDays19040101 = -24107;

bool splitSerial(double v, bool date1904, int subDigits, DateParts &p)
{
    if (!(v >= 0))
        return false;
    int64_t perSecond = 1;
    for (int k = 0; k < subDigits; ++k)
        perSecond *= 10;
    const double limit = double((date1904 ? kLastDay1904 : kLastDay1900) + 1);
    if (v >= limit)
        return false;
    const int64_t perDay = kSecondsPerDay * perSecond;
    const int64_t ticks = std::llround(v * double(perDay));
    const int64_t day = ticks / perDay;
    if (day > (date1904 ? kLastDay1904 : kLastDay1900))
        return false;
    int64_t rest = ticks % perDay;
    p.ticks = ticks;
    p.ticksPerSecond = perSecond;
    p.subSecond = rest % perSecond;
    rest /= perSecond;
    p.second = int(rest % 60);
    p.minute = int(rest / 60 % 60);
    p.hour = int(rest / 3600);
    if (date1904) {
        civilFromDays(kDays19040101 + day, p.year, p.month, p.day);
        p.weekday = int((day + 5) % 7);
    } else {
        // The 1900 system counts 1900-02-29 (serial 60), a day that never
        // was; serial 0 is 1900-01-00.
        p.weekday = int((day + 6) % 7);
        if (day == 0) {
            p.year = 1900, p.month = 1, p.day = 0;
        } else if (day == 60) {
            p.year = 1900, p.month = 2, p.day = 29;
        } else {
            civilFromDays((day < 60 ? kDays18991231 : kDays18991230) + day, p.year, p.month, p.day);
        }
    }
    return true;
}

void renderDate(const FormatSection &sec, double v, bool date1904, std::string &out)
{
    DateParts p;
    if (!splitSerial(v, date1904, sec.subSecondDigits, p)) {
        appendUnshowable(out);
        return;
    }
    for (const Token &t : sec.tokens) {
        switch (t.kind) {
        case Tok::Literal:
            out += t.text;
            break;
        case Tok::Year: {
            const int year = p.year + (t.ch == 'b' ? kBuddhistEraOffset : 0);
            if (t.n == 2)
                appendPadded(uint64_t(year % 100), 2, out);
            else
                appendPadded(uint64_t(year), 4, out);
            break;
        }
        case Tok::Month:
            switch (t.n) {
            case 1:
                appendUnsigned(uint64_t(p.month), out);
                break;
            case 2:
                appendPadded(uint64_t(p.month), 2, out);
                break;
            case 3:
                out.append(kMonthNames[p.month - 1], 3);
                break;
            case 5:
                out += kMonthNames[p.month - 1][0];
                break;
            default:
                out += kMonthNames[p.month - 1];
                break;
            }
            break;
        case Tok::Day:
            switch (t.n) {
            case 1:
                appendUnsigned(uint64_t(p.day), out);
                break;
            case 2:
                appendPadded(uint64_t(p.day), 2, out);
                break;
            case 3:
                out.append(kDayNames[p.weekday], 3);
                break;
            default:
                out += kDayNames[p.weekday];
                break;
            }
            break;
        case Tok::Hour: {
            int h = p.hour;
            if (sec.twelveHour) {
                h %= 12;
                if (h == 0)
                    h = 12;
            }
            appendPadded(uint64_t(h), t.n, out);
            break;
        }
        case Tok::Minute:
            appendPadded(uint64_t(p.minute), t.n, out);
            break;
        case Tok::Second:
            appendPadded(uint64_t(p.second), t.n, out);
            break;
        case Tok::SubSecond: {
            out += '.';
            int64_t sub = p.subSecond;
            for (int k = t.n; k < sec.subSecondDigits; ++k)
                sub /= 10;
            appendPadded(uint64_t(sub), t.n, out);
            break;
        }
        case Tok::Elapsed: {
            const int64_t seconds = p.ticks / p.ticksPerSecond;
            const int64_t value = t.ch == 'h' ? seconds / 3600
                : t.ch == 'm'                 ? seconds / 60
                                              : seconds;
            appendPadded(uint64_t(value), t.n, out);
            break;
        }
        case Tok::AmPm: {
            const bool pm = p.hour >= 12;
            switch (t.ch) {
            case 'A':
                out += pm ? "PM" : "AM";
                break;
            case 'P':
                out += pm ? 'P' : 'A';
                break;
            case 'p':
                out += pm ? 'p' : 'a';
                break;
            default:
                out += pm ? kChinesePm : kChineseAm;
                break;
            }
            break;
        }
        default:
            break;
        }
    }
}

} // namespace

const char *builtinNumberFormat(int id)
{
    static const char *const usEnglish[] = {
        "General",
        "0",
        "0.00",
        "#,##0",
        "#,##0.00",
        "\"$\"#,##0_);\\(\"$\"#,##0\\)",
        "\"$\"#,##0_);[Red]\\(\"$\"#,##0\\)",
        "\"$\"#,##0.00_);\\(\"$\"#,##0.00\\)",
        "\"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\)",
        "0%",
        "0.00%",
        "0.00E+00",
        "# ?/?",
        "# ?\?/??", // "\?" keeps "??/" from reading as a trigraph
        "m/d/yyyy",
        "d-mmm-yy",
        "d-mmm",
        "mmm-yy",
        "h:mm AM/PM",
        "h:mm:ss AM/PM",
        "h:mm",
        "h:mm:ss",
        "m/d/yyyy h:mm",
    };
    if (id >= 0 && id < int(sizeof usEnglish / sizeof usEnglish[0]))
        return usEnglish[id];
    switch (id) {
    case 37:
        return "#,##0 ;(#,##0)";
    case 38:
        return "#,##0 ;[Red](#,##0)";
    case 39:
        return "#,##0.00;(#,##0.00)";
    case 40:
        return "#,##0.00;[Red](#,##0.00)";
    case 41:
        return "_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)";
    case 42:
        return "_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)";
    case 43:
        return "_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)";
    case 44:
        return "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)";
    case 45:
        return "mm:ss";
    case 46:
        return "[h]:mm:ss";
    case 47:
        return "mmss.0";
    case 48:
        return "##0.0E+0";
    case 49:
        return "@";
    // East Asian ids: the Simplified Chinese definitions.
    case 27:
    case 36:
    case 50:
    case 52:
    case 57:
        return "yyyy\"\xE5\xB9\xB4\"m\"\xE6\x9C\x88\"";
    case 28:
    case 29:
    case 51:
    case 53:
    case 54:
    case 58:
        return "m\"\xE6\x9C\x88\"d\"\xE6\x97\xA5\"";
    case 30:
        return "m-d-yy";
    case 31:
        return "yyyy\"\xE5\xB9\xB4\"m\"\xE6\x9C\x88\"d\"\xE6\x97\xA5\"";
    case 32:
        return "h\"\xE6\x97\xB6\"mm\"\xE5\x88\x86\"";
    case 33:
        return "h\"\xE6\x97\xB6\"mm\"\xE5\x88\x86\"ss\"\xE7\xA7\x92\"";
    case 34:
    case 55:
        return "\xE4\xB8\x8A\xE5\x8D\x88/"
               "\xE4\xB8\x8B\xE5\x8D\x88h\"\xE6\x97\xB6\"mm\"\xE5\x88\x86\"";
    case 35:
    case 56:
        return "\xE4\xB8\x8A\xE5\x8D\x88/"
               "\xE4\xB8\x8B\xE5\x8D\x88h\"\xE6\x97\xB6\"mm\"\xE5\x88\x86\"ss\"\xE7\xA7\x92\"";
    }
    return nullptr;
}

NumberFormat::NumberFormat(std::string_view code)
    : m_code(code)
{
    if (code.empty() || (code.size() == 7 && startsWithNoCase(code, 0, "general"))) {
        m_general = true;
        return;
    }
    m_sections = tokenize(code);
    // A fifth section and beyond mean nothing.
    if (m_sections.size() > 4)
        m_sections.resize(4);
    for (FormatSection &section : m_sections) {
        analyze(section);
        if (section.invalid) {
            m_sections.clear();
            m_general = true;
            return;
        }
    }
    const int count = int(m_sections.size());
    if (count == 4)
        m_textSection = 3;
    else if (m_sections.back().hasText && m_sections.back().kind != SectionKind::Number)
        m_textSection = count - 1;
    m_numericSections = m_textSection >= 0 ? std::min(count - 1, 3) : count;
    if (m_numericSections == 0)
        m_general = m_textSection < 0;
}

NumberFormat::~NumberFormat() = default;

bool NumberFormat::isDate() const
{
    for (int i = 0; i < m_numericSections; ++i) {
        if (m_sections[size_t(i)].kind == SectionKind::Date)
            return true;
    }
    return false;
}

int NumberFormat::sectionFor(double v) const
{
    const int count = m_numericSections;
    if (count == 0)
        return -1;
    const FormatSection &s0 = m_sections[0];
    if (s0.hasCondition) {
        if (s0.conditionHolds(v))
            return 0;
    } else if (count == 1 || (count == 2 && v >= 0) || v > 0) {
        return 0;
    }
    if (count < 2)
        return -1;
    const FormatSection &s1 = m_sections[1];
    if (s1.hasCondition) {
        if (s1.conditionHolds(v))
            return 1;
    } else if (v < 0 || (count == 2 && s0.hasCondition)) {
        return 1;
    }
    return count >= 3 ? 2 : -1;
}

void NumberFormat::appendNumber(double value, bool date1904, std::string &out) const
{
    if (m_general) {
        appendGeneral(value, out);
        return;
    }
    if (!std::isfinite(value)) {
        out += "#NUM!";
        return;
    }
    const int index = sectionFor(value);
    if (index < 0) {
        appendGeneral(value, out);
        return;
    }
    const FormatSection &sec = m_sections[size_t(index)];
    // The second section shows the magnitude: the sign is its own to write.
    // So does a section whose condition holds for negative numbers only:
    // the application shows -25 through "[<=-25]General;..." as 25, but -1
    // through "[<=9999999]###-####;..." as "--1" (corpus sheetjs
    // NumberFormatCondition.xlsm and number_format.xlsm, sheet 3). A section
    // without digit placeholders shows no sign either.
    const bool magnitudeOnly = sec.hasCondition ? sec.negativeCondition() : index == 1;
    if (sec.kind == SectionKind::Date) {
        // A lone elapsed count ([h], [mm], [s]) may be negative; anything
        // with a clock or calendar part ([h]:mm:ss too) may not (corpus
        // sheetjs LONumbers.xlsx and number_format.xlsm, sheet 3).
        if (value < 0 && sec.elapsedOnly && !magnitudeOnly) {
            out += '-';
            renderDate(sec, -value, date1904, out);
        } else {
            renderDate(sec, value, date1904, out);
        }
        return;
    }
    const bool showSign = value < 0 && !magnitudeOnly && (sec.hasPlaceholders || sec.general);
    double v = std::fabs(value);
    for (int k = 0; k < sec.percent; ++k)
        v *= 100;
    for (int k = 0; k < sec.scale; ++k)
        v /= 1000;
    if (showSign)
        out += '-';
    if (sec.kind == SectionKind::Text) {
        for (const Token &t : sec.tokens) {
            if (t.kind == Tok::Literal)
                out += t.text;
            else if (t.kind == Tok::Text)
                appendGeneral(v, out);
        }
    } else if (sec.fraction) {
        renderFraction(sec, v, out);
    } else if (sec.exponent) {
        renderExponent(sec, v, out);
    } else {
        renderPlain(sec, v, out);
    }
}

void NumberFormat::appendText(std::string_view text, std::string &out) const
{
    // Empty text shows nothing, whatever the text section would add.
    if (m_textSection < 0 || text.empty()) {
        out.append(text.data(), text.size());
        return;
    }
    for (const Token &t : m_sections[size_t(m_textSection)].tokens) {
        if (t.kind == Tok::Literal)
            out += t.text;
        else if (t.kind == Tok::Text || t.kind == Tok::General)
            out.append(text.data(), text.size());
    }
}

} // namespace sd
