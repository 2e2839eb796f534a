#pragma once

// The rows of the function table. Each fn_*.cpp file holds the rows of the
// functions it implements, below them, and the rows of the functions of its
// kind that are known but not evaluated; functions.cpp joins the files'
// rows. Adding a function takes its implementation and its row.

#include "formula/functions.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sd::formula {

// One file's rows.
struct FunctionRows
{
    template<size_t N>
    FunctionRows(const FunctionInfo (&rows)[N])
        : first(rows)
        , count(N)
    {
    }
    const FunctionInfo *first;
    size_t count;
};

// Shorthands for the rows: { name, BIFF number, min and max arguments,
// argument classes, flags, implementation }. Functions with a BIFF number
// and min == max are the fixed-argument ones that ptgFunc calls; their
// counts must match the application's table.
namespace rowflags {
constexpr uint8_t V = FunctionInfo::Volatile;
constexpr uint8_t E = FunctionInfo::Elementwise;
constexpr uint8_t R = FunctionInfo::RefResult;
constexpr uint8_t N = 255; // "any number of arguments" (capped at kMaxArguments)
} // namespace rowflags

FunctionRows logicalFunctions(); // fn_logic.cpp
FunctionRows mathFunctions(); // fn_math.cpp
FunctionRows textFunctions(); // fn_text.cpp
FunctionRows dateFunctions(); // fn_date.cpp
FunctionRows lookupFunctions(); // fn_lookup.cpp
FunctionRows databaseFunctions(); // fn_database.cpp
FunctionRows statisticalFunctions(); // fn_stats.cpp
FunctionRows orderFunctions(); // fn_order.cpp
FunctionRows distributionFunctions(); // fn_dist.cpp
FunctionRows arrayFunctions(); // fn_matrix.cpp
FunctionRows engineeringFunctions(); // fn_eng.cpp
FunctionRows financialFunctions(); // fn_financial.cpp
FunctionRows numericFunctions(); // fn_numeric.cpp
FunctionRows informationFunctions(); // fn_info.cpp
FunctionRows cashFlowFunctions(); // fn_cashflow.cpp
FunctionRows statisticalTestFunctions(); // fn_stattests.cpp
FunctionRows securitiesFunctions(); // fn_bond.cpp
FunctionRows complexFunctions(); // fn_complex.cpp
FunctionRows conversionFunctions(); // fn_convert.cpp
FunctionRows dynamicArrayFunctions(); // fn_dynamic.cpp
FunctionRows laterTextFunctions(); // fn_textextra.cpp

// All of the above, in the table's order (functions.cpp).
std::vector<FunctionRows> functionRows();

} // namespace sd::formula
