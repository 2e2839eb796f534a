#pragma once

// Helpers shared by the function implementations: positional access to
// ranges and arrays, number collection with the aggregate functions' rules,
// and criteria as COUNTIF and its kin match them.

#include "formula/evaluator_p.h"
#include "formula/functiontable_p.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace sd::formula {

// A range or array read by position. A reference is read lazily through the
// evaluator; positions outside the sheet's recorded extent read as blank.
class Grid
{
public:
    Grid(EvaluatorPrivate &evaluator, const Value &v);
    bool ok() const { return m_error == 0; }
    uint8_t error() const { return m_error; }
    uint32_t rows() const { return m_rows; }
    uint32_t cols() const { return m_cols; }
    // Rows and columns that may hold a value (the rest are blank).
    uint32_t usedRows() const { return m_usedRows; }
    uint32_t usedCols() const { return m_usedCols; }
    Value at(uint32_t r, uint32_t c) const;
    bool isRef() const { return m_ref; }
    const Area &area() const { return m_area; }

private:
    EvaluatorPrivate &m_evaluator;
    Value m_value;
    Area m_area;
    std::shared_ptr<const ArrayData> m_kept; // the used part of a reference, read once
    bool m_ref = false;
    uint8_t m_error = 0;
    uint32_t m_rows = 0, m_cols = 0, m_usedRows = 0, m_usedCols = 0;
};

enum class Collect : uint8_t {
    Numbers, // SUM: numbers of ranges; direct text parsed, booleans counted
    NumbersA, // AVERAGEA: text in ranges counts 0, booleans 0/1
};

// Arguments read as numbers into the slots given, in order; an omitted or
// empty argument leaves its slot as it is. Returns the first error, or 0.
uint8_t readNumbers(Call &c, std::initializer_list<double *> slots);
#define SD_ARGS(...)                                                                               \
    if (uint8_t e_ = readNumbers(c, { __VA_ARGS__ }))                                              \
        return Value::err(e_);

// Numbers of arguments [first, last) with the aggregate rules; returns the
// first error met, or 0.
uint8_t collectNumbers(Call &c, int first, int last, Collect mode, std::vector<double> &out);

// One criterion of COUNTIF, SUMIF, ...: a value or a text with an operator
// and wildcards.
class Criterion
{
public:
    // `database`: the criteria of the database functions, where text
    // without an operator matches the texts that begin with it ("Dav" finds
    // "Davolio"), as the application's filter criteria do.
    explicit Criterion(const Value &criterion, bool date1904, bool database = false);
    bool matches(const Value &v) const;
    bool matchesBlank() const { return matches(Value()); }

private:
    enum class Kind : uint8_t { Number, Text, Bool, Error, Blank, Empty, NonBlank } m_kind;
    Op m_op = Op::Eq;
    double m_number = 0;
    std::string m_text;
    bool m_wildcard = false;
    bool m_date1904 = false;
};

// SUBTOTAL's functions 1 to 11 (AVERAGE ... VARP) of numbers (fn_stats.cpp);
// COUNTA counts what it is given.
Value aggregate(const std::vector<double> &xs, int fn);

// Day counts by basis (fn_daycount.cpp): 0 US 30/360, 1 actual/actual, 2
// actual/360, 3 actual/365, 4 European 30/360. basisDays() counts the days
// from a to b (30/360 for 0 and 4, actual days otherwise); yearFraction()
// is YEARFRAC of the two serial days.
double basisDays(double a, double b, int basis, bool date1904);
double yearFraction(double a, double b, int basis, bool date1904);

// Distribution functions (fn_dist.cpp) that the statistical tests share:
// the regularized lower incomplete gamma P(a, x), the regularized
// incomplete beta I_x(a, b), and the left tails of Student's t and of F.
double gammaP(double a, double x);
double betaI(double a, double b, double x);
double tLeft(double t, double df);
double fLeft(double x, double d1, double d2);

// Wildcard match (* ? and ~ escapes), case-insensitive, of the whole text.
bool wildcardMatch(std::string_view pattern, std::string_view text);
bool hasWildcards(std::string_view s);

// Rounds half away from zero at `digits` decimals (truncated to a whole
// number, any size), through the 15-digit form so that 2.675 rounds up as
// written.
double roundDigits(double v, double digits, int mode /* 0 round, 1 up, -1 down */);

// Position of `target` in a line of values (a row or column of a grid).
// matchType 0 exact (wildcards for text), 1 largest <= target in ascending
// order, -1 smallest >= target in descending order. -1 when not found.
long lookupPosition(const Value &target, long count, const std::function<Value(long)> &at,
                    int matchType, bool wildcards = true);

} // namespace sd::formula
