#pragma once

// Structured references to tables as formulas write them: Table1[Amount],
// Table1[[#Totals],[Amount]], Table1[[Qty]:[Price]], [@Amount] ... Both the
// A1 parser and INDIRECT read them; they resolve to ordinary references.

#include "formula/ast.h"

#include <string>
#include <string_view>

namespace sd::formula {

struct StructuredRef
{
    enum : uint8_t { All = 1, Data = 2, Headers = 4, Totals = 8, ThisRow = 16 };
    uint8_t parts = 0; // none: the data rows
    std::string first, last; // column names, escapes taken out; empty: every column
};

// Reads the bracketed part at text[pos] ('['), after a table name or
// alone, and moves pos past it. False when it is malformed.
bool parseStructuredRef(std::string_view text, size_t &pos, StructuredRef &out);

// The area a structured reference names on the table's sheet; #This Row is
// the formula's own row (a relative row). False for a part the table lacks
// (#Headers of a table without header row, an unknown column): #REF!.
bool tableReference(const TableInfo &t, const StructuredRef &s, RefSpec &out);

} // namespace sd::formula
