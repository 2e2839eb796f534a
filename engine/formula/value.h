#pragma once

// Values that formulas compute with: the scalar kinds a cell can hold, plus
// references (one or more rectangular areas, possibly over several sheets)
// and arrays of scalars.

#include "core/model.h"
#include "formula/formulalimits.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sd::formula {

enum class ValueType : uint8_t { Blank, Number, Text, Bool, Error, Ref, Array };

// A rectangle of cells on one sheet or, for a 3-D reference, on every sheet
// from `sheet` to `lastSheet` (workbook order). Rows and columns are 0-based
// and inclusive.
struct Area
{
    int sheet = 0;
    int lastSheet = 0;
    uint32_t row1 = 0, col1 = 0, row2 = 0, col2 = 0;

    uint32_t rows() const { return row2 - row1 + 1; }
    uint32_t cols() const { return col2 - col1 + 1; }
    uint64_t cellCount() const
    {
        return uint64_t(rows()) * cols() * uint64_t(lastSheet - sheet + 1);
    }
    bool isCell() const { return row1 == row2 && col1 == col2 && sheet == lastSheet; }
};

struct ArrayData;

struct Value
{
    ValueType type = ValueType::Blank;
    uint8_t error = 0; // Error: a CellError code
    double number = 0; // Number; Bool as 0/1
    std::string text; // Text
    Area area; // Ref: the first (usually only) area
    std::shared_ptr<const std::vector<Area>> more; // Ref: further areas of a union
    std::shared_ptr<const ArrayData> array; // Array

    static Value num(double v);
    static Value str(std::string s);
    static Value boolean(bool b);
    static Value err(uint8_t code);
    static Value ref(const Area &a);
    static Value arr(ArrayData data);

    bool isError() const { return type == ValueType::Error; }
    bool isRef() const { return type == ValueType::Ref; }
    bool isArray() const { return type == ValueType::Array; }
    size_t areaCount() const { return type == ValueType::Ref ? 1 + (more ? more->size() : 0) : 0; }
    const Area &areaAt(size_t i) const { return i == 0 ? area : (*more)[i - 1]; }
};

// A rectangular array of scalar values, row-major.
struct ArrayData
{
    uint32_t rows = 0, cols = 0;
    std::vector<Value> items;
    const Value &at(uint32_t r, uint32_t c) const { return items[size_t(r) * cols + c]; }
};

// #NULL! is code 0 in files, which the engine keeps for "no error"; inside
// the engine it is kErrNull. Value::err() and errorFromText() map it.
constexpr uint8_t kErrNull = 0x80;
inline uint8_t engineError(uint8_t fileCode)
{
    return fileCode == ErrNull ? kErrNull : fileCode;
}
inline uint8_t fileError(uint8_t engineCode)
{
    return engineCode == kErrNull ? uint8_t(ErrNull) : engineCode;
}
// "#DIV/0!" ... for an engine error code.
const char *errorText(uint8_t code);

// ---- coercion -------------------------------------------------------------

// Number of a scalar as arithmetic sees it: blank 0, boolean 0/1, text parsed
// as the application parses typed entries (numbers, percentages, currency,
// dates and times). Returns 0 on success or the error code.
uint8_t toNumber(const Value &v, double &out, bool date1904 = false);
// Text of a scalar: numbers with up to 15 significant digits, TRUE/FALSE.
uint8_t toText(const Value &v, std::string &out);
// Boolean of a scalar: numbers non-zero, text TRUE/FALSE only.
uint8_t toBool(const Value &v, bool &out);

// Text as a number the way a typed entry would become one, or false.
bool parseNumberText(std::string_view text, double &out, bool date1904);
// A number as the application converts it to text (15 significant digits).
std::string numberToText(double v);
// Rounds to 15 significant digits, as comparisons and display see numbers.
double round15(double v);

// Engine error code from its text ("#DIV/0!"), or 0xFF when the text is no error.
uint8_t errorFromText(std::string_view text);

// Case-insensitive comparison as the application sorts text (ASCII folding
// plus the common Latin letters).
int compareText(std::string_view a, std::string_view b);
std::string upperText(std::string_view s);
std::string lowerText(std::string_view s);
// Characters (UTF-16 code units as the application counts them) of UTF-8 text.
size_t textLength(std::string_view s);

} // namespace sd::formula
