#include "core/numfmtsection_p.h"

#include <cstdlib>
#include <cstring>

namespace sd {

namespace {

// Finest fraction of a second a format shows (.000).
constexpr int kMaxSubSecondDigits = 3;
// The Chinese AM/PM marker "上午/下午" (morning/afternoon).
constexpr char kChineseAmPm[] = "\xE4\xB8\x8A\xE5\x8D\x88/\xE4\xB8\x8B\xE5\x8D\x88";
// The US-English system long date and long time, which [$-F800] and
// [$-F400] stand for whatever else their section says.
constexpr char kSystemLongDate[] = "dddd, mmmm d, yyyy";
constexpr char kSystemLongTime[] = "h:mm:ss AM/PM";

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

// Whether a locale id ("404", "0C04", "zh-TW") names Taiwan, Hong Kong or
// Macao, whose Chinese numerals take the traditional forms.
bool isTraditionalChineseLocale(std::string_view id)
{
    if (startsWithNoCase(id, 0, "zh-tw") || startsWithNoCase(id, 0, "zh-hk")
        || startsWithNoCase(id, 0, "zh-mo") || startsWithNoCase(id, 0, "zh-hant"))
        return true;
    uint32_t lcid = 0;
    for (char c : id) {
        const int d = c >= '0' && c <= '9'           ? c - '0'
            : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10
                                                     : -1;
        if (d < 0)
            return false;
        lcid = (lcid << 4 | uint32_t(d)) & 0xFFFFFFFFu;
    }
    const uint32_t language = lcid & 0xFFFF;
    return language == 0x0404 || language == 0x0C04 || language == 0x1404;
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
        // [$symbol-locale]: the symbol is shown, the locale id is not; it
        // only picks the traditional forms of Chinese numerals.
        std::string_view symbol = body.substr(1);
        const size_t dash = symbol.find('-');
        if (dash != std::string_view::npos) {
            section.numerals.traditional = isTraditionalChineseLocale(symbol.substr(dash + 1));
            symbol = symbol.substr(0, dash);
        }
        if (!symbol.empty())
            addLiteral(tokens, symbol);
        return close + 1;
    }
    if (body.size() == 6 && startsWithNoCase(body, 0, "dbnum") && body[5] >= '1'
        && body[5] <= '3') {
        section.numerals.kind = body[5] == '1' ? Numerals::Lower
            : body[5] == '2'                   ? Numerals::Upper
                                               : Numerals::FullWidth;
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

// Reads the quoting, spacing, bracket and number characters at s[i] into
// the section's tokens. Returns the index after them, or i when s[i] is none
// of them.
size_t readSymbol(std::string_view s, size_t i, size_t lastClose, FormatSection &section)
{
    auto &tokens = section.tokens;
    const char c = s[i];
    switch (c) {
    case '"': {
        size_t close = s.find('"', i + 1);
        if (close == std::string_view::npos)
            close = s.size();
        if (close > i + 1)
            addLiteral(tokens, s.substr(i + 1, close - i - 1));
        return close + 1;
    }
    case '\\':
        if (i + 1 < s.size()) {
            const size_t n = utf8Length(uint8_t(s[i + 1]));
            addLiteral(tokens, s.substr(i + 1, n));
            return i + 1 + n;
        }
        return i + 1;
    case '_':
        // Space the width of the next character: one space in a wide column.
        addLiteral(tokens, " ");
        return i + 1 + (i + 1 < s.size() ? utf8Length(uint8_t(s[i + 1])) : 0);
    case '*':
        // Repeat the next character to fill the column: nothing in CSV.
        return i + 1 + (i + 1 < s.size() ? utf8Length(uint8_t(s[i + 1])) : 0);
    case '[': {
        const size_t next = lastClose != std::string_view::npos && lastClose > i
            ? parseBracket(s, i, section)
            : i;
        if (next != i)
            return next;
        addLiteral(tokens, "[");
        return i + 1;
    }
    case '0':
    case '#':
    case '?':
        addToken(tokens, Tok::Digit, c);
        return i + 1;
    case '.':
        addToken(tokens, Tok::Point);
        return i + 1;
    case ',':
        addToken(tokens, Tok::Comma);
        return i + 1;
    case '%':
        addToken(tokens, Tok::Percent);
        return i + 1;
    case '@':
        addToken(tokens, Tok::Text);
        return i + 1;
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
        return k;
    }
    default:
        return i;
    }
}

// Reads a keyword (General, AM/PM) or a run of date letters at s[i] into
// tokens. Returns the index after it, or i when s[i] starts none.
size_t readWord(std::string_view s, size_t i, std::vector<Token> &tokens)
{
    const char c = s[i];
    const char lower = char(c | 0x20);
    if ((lower == 'e') && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) {
        addToken(tokens, Tok::Exponent, s[i + 1]);
        return i + 2;
    }
    if (lower == 'g' && startsWithNoCase(s, i, "general")) {
        addToken(tokens, Tok::General);
        return i + 7;
    }
    if (lower == 'g') {
        const size_t n = runLength(s, i, 'g');
        addToken(tokens, Tok::Era, c, int(n));
        return i + n;
    }
    if (lower == 'a' && startsWithNoCase(s, i, "am/pm")) {
        addToken(tokens, Tok::AmPm, 'A');
        return i + 5;
    }
    if (lower == 'a' && startsWithNoCase(s, i, "a/p")) {
        addToken(tokens, Tok::AmPm, c == 'a' ? 'p' : 'P');
        return i + 3;
    }
    if (s.compare(i, sizeof kChineseAmPm - 1, kChineseAmPm) == 0) {
        addToken(tokens, Tok::AmPm, 'C');
        return i + sizeof kChineseAmPm - 1;
    }
    if (lower == 'b' && i + 1 < s.size() && (s[i + 1] == '1' || s[i + 1] == '2')) {
        // Calendar switch (B1 Gregorian, B2 Hijri): the Gregorian calendar is used.
        return i + 2;
    }
    if (lower == 'y' || lower == 'e' || lower == 'b') {
        // 'e' is the year in the Western calendar, 'b' the Buddhist era year.
        const size_t n = runLength(s, i, lower);
        addToken(tokens, Tok::Year, lower == 'b' ? 'b' : 0, lower == 'e' || n > 2 ? 4 : 2);
        return i + n;
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
        return i + n;
    }
    return i;
}

} // namespace

std::vector<FormatSection> tokenizeFormatCode(std::string_view s)
{
    std::vector<FormatSection> sections(1);
    // A '[' after the last ']' is never closed: looking for its ']' again at
    // each of many such brackets would take time quadratic in the code.
    const size_t lastClose = s.rfind(']');
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] == ';') {
            sections.emplace_back();
            ++i;
            continue;
        }
        size_t next = readSymbol(s, i, lastClose, sections.back());
        if (next == i)
            next = readWord(s, i, sections.back().tokens);
        if (next == i) {
            const size_t n = utf8Length(uint8_t(s[i]));
            addLiteral(sections.back().tokens, s.substr(i, n));
            next = i + n;
        }
        i = next;
    }
    return sections;
}

namespace {

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

bool isDigitAt(const std::vector<Token> &tk, int i)
{
    return i >= 0 && i < int(tk.size()) && tk[size_t(i)].kind == Tok::Digit;
}

// Spaces may stand between the fraction bar and its digits ("?? / ??").
bool isSpaceAt(const std::vector<Token> &tk, int i)
{
    return i >= 0 && i < int(tk.size()) && tk[size_t(i)].kind == Tok::Literal
        && tk[size_t(i)].text.find_first_not_of(' ') == std::string::npos;
}

// Index of the first '/' that is a fraction bar (digits before it, and digits
// or a fixed denominator after it), or -1.
int findFractionBar(const std::vector<Token> &tk)
{
    for (int i = 0; i < int(tk.size()); ++i) {
        const bool digitBefore
            = isDigitAt(tk, i - 1) || (isSpaceAt(tk, i - 1) && isDigitAt(tk, i - 2));
        const bool digitAfter
            = isDigitAt(tk, i + 1) || (isSpaceAt(tk, i + 1) && isDigitAt(tk, i + 2));
        if (tk[size_t(i)].kind == Tok::Slash && digitBefore && (tk[size_t(i)].n > 0 || digitAfter))
            return i;
    }
    return -1;
}

// A fraction section: digit n is 0 whole part, 1 numerator, 2 denominator.
void analyzeFraction(FormatSection &sec, int slashAt)
{
    auto &tk = sec.tokens;
    auto isDigit = [&](int i) { return isDigitAt(tk, i); };
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
}

// A plain or scientific section: digit n is 0 integer, 1 decimal, 2 exponent.
void analyzePlainNumber(FormatSection &sec, int exponentAt, int pointAt)
{
    auto &tk = sec.tokens;
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

void analyzeNumber(FormatSection &sec)
{
    auto &tk = sec.tokens;
    sec.kind = SectionKind::Number;
    int exponentAt = -1, pointAt = -1;
    for (int i = 0; i < int(tk.size()); ++i) {
        if (tk[i].kind == Tok::Exponent && exponentAt < 0)
            exponentAt = i;
        if (tk[i].kind == Tok::General)
            sec.general = true;
    }
    const int slashAt = exponentAt < 0 ? findFractionBar(tk) : -1;
    if (slashAt >= 0) {
        analyzeFraction(sec, slashAt);
        return;
    }
    for (int i = 0; i < int(tk.size()); ++i) {
        if (tk[i].kind == Tok::Point && pointAt < 0)
            pointAt = i;
    }
    analyzePlainNumber(sec, exponentAt, pointAt);
}

} // namespace

void analyzeFormatSection(FormatSection &sec)
{
    if (sec.systemFormat) {
        FormatSection system = std::move(tokenizeFormatCode(sec.systemFormat).front());
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

} // namespace sd
