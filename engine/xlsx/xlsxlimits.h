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

} // namespace sd
