#pragma once

#include "core/model.h"

#include <cstddef>

namespace sd {

// Opens an .xlsx/.xlsm package (zip). nullptr with *error set on failure.
std::unique_ptr<Workbook> openXlsx(const std::string &path, Error *error);

// The same from a buffer (copied; used by the fuzz target and tests).
std::unique_ptr<Workbook> openXlsxBuffer(const void *data, size_t size, Error *error);

} // namespace sd
