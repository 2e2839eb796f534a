#pragma once

// Chinese numerals of the [DBNum1], [DBNum2] and [DBNum3] format modifiers,
// as the application shows them in its Chinese locales. The forms follow the
// modifiers' ECMA-376 descriptions: [DBNum1] the ordinary numerals with their
// units (12323 is 一万二千三百二十三), [DBNum2] the financial forms used on
// cheques and invoices (壹万贰仟叁佰贰拾叁), [DBNum3] full-width digits with
// the ordinary units (１万２千３百２十３).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sd {

enum class Numerals : uint8_t {
    Ascii, // no modifier
    Lower, // [DBNum1]: 〇一二三 with 十百千万亿
    Upper, // [DBNum2]: 零壹贰叁 with 拾佰仟万亿
    FullWidth, // [DBNum3]: ０１２３ with 十百千万亿
};

struct NumeralStyle
{
    Numerals kind = Numerals::Ascii;
    // A Taiwan, Hong Kong or Macao locale tag ([$-404], [$-C04], [$-1404]):
    // the traditional forms 萬 億 貳 參 陸. Any other tag, or none, gives the
    // simplified forms (the files this program meets come from the
    // mainland).
    bool traditional = false;

    bool active() const { return kind != Numerals::Ascii; }
};

// A number section with numerals stores each digit of its literal text as
// this byte plus the digit's value, so that the digit survives the
// transliteration of the placeholders' digits. Bytes 0xF5-0xFE never occur
// in UTF-8.
constexpr unsigned char kLiteralDigitMark = 0xF5;

// Replaces the ASCII digits of out[from..] by numerals and restores marked
// literal digits. Digit by digit ("0.00" shows 12.5 as 一二.五〇), except
// that with `spell` (a General section) the integer part of the number is
// spelled out with its units; decimals and exponent digits still go digit
// by digit.
void transliterateDigits(std::string &out, size_t from, NumeralStyle style, bool spell);

// Appends ASCII digits as numerals, one for one (years: 二〇二三).
void appendNumeralDigits(std::string_view digits, NumeralStyle style, std::string &out);

// Appends a run of ASCII digits spelled out with units: 10005 is 一万〇五.
// `dateField` reads 10-19 as dates do: 十五, not 一十五.
void appendSpelledNumber(std::string_view digits, NumeralStyle style, bool dateField,
                         std::string &out);

// Rewrites the digits of a date or time field at out[from..] (after any
// leading '.') in numerals: `digitwise` for a year or a fraction of a
// second (二〇二三), otherwise spelled out as dates are read (十五).
void dateFieldToNumerals(std::string &out, size_t from, bool digitwise, NumeralStyle style);

} // namespace sd
