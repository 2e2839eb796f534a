#pragma once

// Bounds on what the readers keep for recalculation. They belong with the
// engine's other bounds (io/limits.h, which points here); the memory the
// kept formulas take is charged against the sheet's text bound
// (kMaxSheetTextBytes) through SheetBudget.

#include <cstddef>
#include <cstdint>

namespace sd {

// Defined names kept, and the characters of one name's formula: the
// application allows 8,192 characters of formula; real workbooks hold at
// most a few thousand names.
constexpr size_t kMaxDefinedNames = 65536;
constexpr size_t kMaxDefinedNameText = 16384;
// Most memory the defined names and (.xls) external sheets and names of one
// workbook may take, counted as strings are (kTextObjectBytes + length):
// 32 MB, thousands of times what real workbooks hold, and well below the
// 65,536 names of 16 KB that the counts alone would allow. A workbook
// beyond it is refused.
constexpr uint64_t kMaxNameBytes = uint64_t(32) << 20;
// Characters of one cell's formula text kept (the application allows 8192);
// a longer formula keeps its cached value.
constexpr size_t kMaxFormulaText = 16384;
// Cells of one array formula given their own formula entries; a larger
// array keeps its cached values.
constexpr uint64_t kMaxArrayFormulaCells = 65536;

} // namespace sd
