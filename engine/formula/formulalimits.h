#pragma once

// Every bound of the formula engine: what the readers keep of formulas for
// recalculation, and what one formula or one workbook's recalculation may
// cost. They belong with the engine's other bounds (io/limits.h, which
// points here); the memory the kept formulas take is charged against the
// sheet's text bound (kMaxSheetTextBytes) through SheetBudget, and text
// values are held to kMaxCellTextUnits like the text of a cell.

#include <cstddef>
#include <cstdint>

namespace sd {

// ---- What the readers keep ------------------------------------------------

// Defined names kept (and, in .xls, EXTERNSHEET entries, SUPBOOK and
// EXTERNNAME records), and the characters of one name's formula: the
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
// Characters of one formula's text kept and parsed (the application allows
// 8,192); a longer formula keeps its cached value.
constexpr size_t kMaxFormulaText = 16384;
// Cells of one array formula given their own formula entries; a larger
// array keeps its cached values.
constexpr uint64_t kMaxArrayFormulaCells = 65536;

// ---- One formula ----------------------------------------------------------
// A formula past one of these keeps its cached value.

// Bytes of one parsed-expression (BIFF) token stream.
constexpr size_t kMaxTokenBytes = 65536;
// Depth of parentheses, calls and operators while parsing formula text.
constexpr int kMaxNesting = 256;
// Arguments of one function call (the application's own limit).
constexpr int kMaxArguments = 255;
// Expression nodes of one parsed formula.
constexpr size_t kMaxNodes = 65536;
// Nested operands the evaluator recurses through.
constexpr int kMaxTreeDepth = 1024;

// ---- Recalculation --------------------------------------------------------

// Elements of one computed array: a whole column of the grid.
constexpr size_t kMaxArrayCells = size_t(1) << 20;
// Cells of all the areas whose values the evaluator keeps for lookups,
// together; beyond it, areas are read cell by cell.
constexpr size_t kAreaCacheCells = size_t(4) << 20;
// Steps of work (cells, function calls, elements) of one workbook's
// recalculation; the cells left when it runs out keep their cached values.
constexpr uint64_t kMaxEvaluationSteps = 200'000'000;
// Notes kept of formulas that could not be recalculated (and why).
constexpr size_t kMaxCalcNotes = 1000;

} // namespace sd
