#pragma once

// The table of worksheet functions: names, BIFF numbers, argument counts and
// classes, and the implementations the evaluator calls. Its rows live beside
// the implementations (functiontable_p.h).

#include <cstdint>
#include <string_view>
#include <vector>

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
    int16_t biff; // BIFF function number, or -1 (newer functions: .xls calls them by name)
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
// Whether the application has a worksheet function of this name: a row of
// the table (evaluated or not), or any name with an _xl prefix (functions of
// later versions, add-ins) except _xludf. (a user's own function).
bool applicationHasFunction(std::string_view name);
// Function by BIFF number, or -1.
int functionByBiff(int number);
const FunctionInfo &functionInfo(int id);
// The ids of the functions flagged Volatile.
const std::vector<int> &volatileFunctions();
// The argument class letter of argument `index` of a function.
char argumentClass(const FunctionInfo &f, int index);

} // namespace sd::formula
