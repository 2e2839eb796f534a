#pragma once

// Internals of the number-format engine shared by its source files.

#include <string>

namespace sd {

// A positive number as decimal digits: value = 0.d0d1d2... x 10^(exp+1),
// i.e. d0 is the digit of 10^exp. Holds the 15 significant digits the
// application keeps; rounding is decimal, half away from zero, on these
// digits (so 0.1+0.2 shows as 0.3 at any width).
struct Digits
{
    static constexpr int kSignificant = 15;
    char digit[kSignificant + 2] = {};
    int count = 0; // significant digits held (trailing zeros trimmed)
    int exp = 0;

    bool fromDouble(double v);
    // Keeps `keep` significant digits, rounding half up.
    void roundTo(int keep);
    // Appends the integer part, then `decimals` decimals (zeros beyond count).
    void appendFixed(int decimals, std::string &out) const;
    void trim();
};

// General for a finite positive value that is not a small integer, by digit
// generation: what appendGeneral's shortcuts must agree with.
void appendGeneralDigits(double value, std::string &out);

} // namespace sd
