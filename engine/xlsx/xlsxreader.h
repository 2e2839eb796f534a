#pragma once

#include "core/model.h"

namespace sd {

// Opens an .xlsx/.xlsm package (zip). nullptr with *error set on failure.
std::unique_ptr<Workbook> openXlsx(const std::string &path, Error *error);

} // namespace sd
