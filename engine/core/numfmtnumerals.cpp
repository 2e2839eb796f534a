#include "core/numfmtnumerals_p.h"

namespace sd {

namespace {

// Digits 0-9 of each style (UTF-8).
constexpr const char *kLowerDigits[10] = {
    "\xE3\x80\x87", "\xE4\xB8\x80", "\xE4\xBA\x8C", "\xE4\xB8\x89", "\xE5\x9B\x9B",
    "\xE4\xBA\x94", "\xE5\x85\xAD", "\xE4\xB8\x83", "\xE5\x85\xAB", "\xE4\xB9\x9D",
}; // 〇一二三四五六七八九
constexpr const char *kUpperDigits[10] = {
    "\xE9\x9B\xB6", "\xE5\xA3\xB9", "\xE8\xB4\xB0", "\xE5\x8F\x81", "\xE8\x82\x86",
    "\xE4\xBC\x8D", "\xE9\x99\x86", "\xE6\x9F\x92", "\xE6\x8D\x8C", "\xE7\x8E\x96",
}; // 零壹贰叁肆伍陆柒捌玖
constexpr const char *kUpperDigitsTraditional[10] = {
    "\xE9\x9B\xB6", "\xE5\xA3\xB9", "\xE8\xB2\xB3", "\xE5\x8F\x83", "\xE8\x82\x86",
    "\xE4\xBC\x8D", "\xE9\x99\xB8", "\xE6\x9F\x92", "\xE6\x8D\x8C", "\xE7\x8E\x96",
}; // 零壹貳參肆伍陸柒捌玖
constexpr const char *kFullWidthDigits[10] = {
    "\xEF\xBC\x90", "\xEF\xBC\x91", "\xEF\xBC\x92", "\xEF\xBC\x93", "\xEF\xBC\x94",
    "\xEF\xBC\x95", "\xEF\xBC\x96", "\xEF\xBC\x97", "\xEF\xBC\x98", "\xEF\xBC\x99",
}; // ０１２３４５６７８９
// Tens, hundreds and thousands within a group of four digits.
constexpr const char *kLowerUnits[3] = { "\xE5\x8D\x81", "\xE7\x99\xBE", "\xE5\x8D\x83" }; // 十百千
constexpr const char *kUpperUnits[3] = { "\xE6\x8B\xBE", "\xE4\xBD\xB0", "\xE4\xBB\x9F" }; // 拾佰仟
// The groups of four digits: 10^4 and 10^8.
constexpr const char *kGroupUnits[2] = { "\xE4\xB8\x87", "\xE4\xBA\xBF" }; // 万亿
constexpr const char *kGroupUnitsTraditional[2] = { "\xE8\x90\xAC", "\xE5\x84\x84" }; // 萬億
// Units end at 亿 (10^8): a number of more than twelve digits (a General
// section never shows one) goes digit by digit.
constexpr size_t kMaxSpelledDigits = 12;

const char *digitText(int d, NumeralStyle style)
{
    switch (style.kind) {
    case Numerals::Upper:
        return style.traditional ? kUpperDigitsTraditional[d] : kUpperDigits[d];
    case Numerals::FullWidth:
        return kFullWidthDigits[d];
    default:
        return kLowerDigits[d];
    }
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

void appendNumeralDigits(std::string_view digits, NumeralStyle style, std::string &out)
{
    for (char c : digits)
        out += digitText(c - '0', style);
}

// Group by group from the left: a run of zeros inside the number is one zero
// numeral (1005 is 一千〇五, 100500 is 一十万〇五百), zeros at the end are
// not written, and a group of four zeros takes no unit (100000005 is
// 一亿〇五).
void appendSpelledNumber(std::string_view digits, NumeralStyle style, bool dateField,
                         std::string &out)
{
    while (digits.size() > 1 && digits.front() == '0')
        digits.remove_prefix(1);
    if (digits.empty())
        return;
    if (digits.size() > kMaxSpelledDigits) {
        appendNumeralDigits(digits, style, out);
        return;
    }
    if (digits == "0") {
        out += digitText(0, style);
        return;
    }
    const char *const *units = style.kind == Numerals::Upper ? kUpperUnits : kLowerUnits;
    const char *const *groups = style.traditional ? kGroupUnitsTraditional : kGroupUnits;
    const size_t n = digits.size();
    bool pendingZero = false, groupHasDigit = false;
    for (size_t i = 0; i < n; ++i) {
        const int d = digits[i] - '0';
        const size_t power = n - 1 - i;
        const size_t inGroup = power % 4;
        if (d == 0) {
            pendingZero = true;
        } else {
            if (pendingZero)
                out += digitText(0, style);
            pendingZero = false;
            groupHasDigit = true;
            // Dates read 15 as 十五; numbers keep the one: 一十五.
            if (!(dateField && n == 2 && i == 0 && d == 1))
                out += digitText(d, style);
            if (inGroup > 0)
                out += units[inGroup - 1];
        }
        if (inGroup == 0 && power > 0) {
            if (groupHasDigit)
                out += groups[power / 4 == 1 ? 0 : 1];
            groupHasDigit = false;
        }
    }
}

void transliterateDigits(std::string &out, size_t from, NumeralStyle style, bool spell)
{
    if (from >= out.size())
        return;
    const std::string text = out.substr(from);
    out.resize(from);
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= kLiteralDigitMark && c < kLiteralDigitMark + 10) {
            out += char('0' + (c - kLiteralDigitMark));
            ++i;
            continue;
        }
        if (!isDigit(char(c))) {
            out += char(c);
            ++i;
            continue;
        }
        size_t end = i;
        while (end < text.size() && isDigit(text[end]))
            ++end;
        const std::string_view run(text.data() + i, end - i);
        // The integer part: not after a decimal point or an exponent's sign.
        const char before = i > 0 ? text[i - 1] : '\0';
        const bool exponent = (before == '+' || before == '-') && i >= 2 && text[i - 2] == 'E';
        if (spell && before != '.' && !exponent)
            appendSpelledNumber(run, style, false, out);
        else
            appendNumeralDigits(run, style, out);
        i = end;
    }
}

void dateFieldToNumerals(std::string &out, size_t from, bool digitwise, NumeralStyle style)
{
    if (from >= out.size())
        return;
    const std::string field = out.substr(from);
    out.resize(from);
    size_t digits = 0;
    while (digits < field.size() && !isDigit(field[digits]))
        out += field[digits++];
    const std::string_view value(field.data() + digits, field.size() - digits);
    if (digitwise)
        appendNumeralDigits(value, style, out);
    else
        appendSpelledNumber(value, style, true, out);
}

} // namespace sd
