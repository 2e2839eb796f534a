#pragma once

// The table of worksheet functions: names, BIFF numbers, argument counts and
// classes, and the implementations the evaluator calls.

#include <cstdint>
#include <string_view>

namespace sd::formula {

class Call;
struct Value;
using FunctionImpl = Value (*)(Call &call);

struct FunctionInfo
{
    enum Flags : uint8_t {
        Volatile = 1, // recalculated whenever the workbook is
        Elementwise = 2, // applied to each element when a value argument is an array
        RefResult = 4, // may return a reference (INDEX, OFFSET, INDIRECT, CHOOSE, IF)
    };
    const char *name;
    int16_t biff; // BIFF function number, -1 for functions added after BIFF8
    uint8_t minArgs, maxArgs;
    // Argument classes, one letter per argument, the last one repeating:
    // V a single value (a reference is intersected with the formula's cell),
    // R a reference or array as given, A an array (evaluated element-wise).
    // Letters after a '|' repeat in turn (SUMIFS: "R|RV").
    const char *classes;
    uint8_t flags;
    FunctionImpl impl; // nullptr: known but not evaluated (keeps the cached value)
};

// Function by name, case-insensitive; _xlfn./_xlws. prefixes are ignored.
// Returns its id, or -1.
int findFunction(std::string_view name);
// Whether the application has a worksheet function of this name, whether
// or not it is in the table above; false for names with an _xl prefix
// (functions of later versions, add-ins) other than _xludf. (a user's own).
bool applicationHasFunction(std::string_view name);
// Function by BIFF number, or -1.
int functionByBiff(int number);
const FunctionInfo &functionInfo(int id);
int functionCount();
// The argument class letter of argument `index` of a function.
char argumentClass(const FunctionInfo &f, int index);

} // namespace sd::formula
