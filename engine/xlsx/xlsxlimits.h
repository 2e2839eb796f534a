#pragma once

// Caps of the .xlsx reader itself; the caps on the zip container and the
// XML tokeniser are in io/limits.h.

#include "io/limits.h"

#include <cstddef>
#include <cstdint>

namespace sd {

// Bytes of sheet XML per cell assumed when reserving room for a sheet's
// cells (real sheets take 25-40; the benchmark sheet 38).
constexpr uint64_t kXmlBytesPerCellEstimate = 24;
// Most shared strings a workbook may hold (each costs a string object even
// when empty; real workbooks stay far below).
constexpr size_t kMaxSharedStrings = size_t(16) << 20;
// Defined names kept, and the characters of one name's formula.
constexpr size_t kMaxDefinedNames = 65536;
constexpr size_t kMaxDefinedNameText = 16384;
// Characters of one cell's formula text kept (the application allows 8192).
constexpr size_t kMaxFormulaText = 16384;
// Cells of one array formula given their own formula entries; a larger
// array keeps its cached values.
constexpr uint64_t kMaxArrayFormulaCells = 65536;

} // namespace sd
