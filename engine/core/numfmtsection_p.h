#pragma once

// Internals of the number-format engine: the parsed form of a format code,
// shared by the parser (numfmtparse.cpp), the renderer (numfmtrender.cpp) and
// NumberFormat (numfmt.cpp).

#include "core/numfmtnumerals_p.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace sd {

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
    NumeralStyle numerals; // [DBNum1]-[DBNum3]: Chinese numerals

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

// True when s[i...] starts with `word` (lower case), ASCII letters compared
// case-insensitively.
inline bool startsWithNoCase(std::string_view s, size_t i, const char *word)
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

// Splits a format code into sections of tokens.
std::vector<FormatSection> tokenizeFormatCode(std::string_view code);
// Resolves a section's tokens: its kind, placeholders, scaling, date parts.
void analyzeFormatSection(FormatSection &sec);

// Append |v| through a number section: plain digits, scientific, fraction.
void renderPlain(const FormatSection &sec, double v, std::string &out);
void renderExponent(const FormatSection &sec, double v, std::string &out);
void renderFraction(const FormatSection &sec, double v, std::string &out);
// Appends the date/time serial v through a date section.
void renderDate(const FormatSection &sec, double v, bool date1904, std::string &out);

} // namespace sd
