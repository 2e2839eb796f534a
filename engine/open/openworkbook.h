#pragma once

// Opening any workbook: the one place that knows both readers.

#include "core/model.h"
#include "io/error.h"

#include <memory>
#include <string>

namespace sd {

// Opens a workbook, choosing the reader from the file's first bytes (not its
// name: .xls files that are really .xlsx packages, and the reverse, are
// common). nullptr with *error set when the file cannot be read.
std::unique_ptr<Workbook> openWorkbook(const std::string &path, Error *error);

} // namespace sd
