#pragma once

#include "core/model.h"

#include <cstddef>

namespace sd {

// Opens a legacy .xls workbook: BIFF5/7/8 in a compound file, or a bare
// BIFF2-4 stream. A compound file that holds an encrypted OOXML package gives
// ErrorCode::Encrypted. nullptr with *error set on failure.
std::unique_ptr<Workbook> openXls(const std::string &path, Error *error);

// True when the first bytes are a BIFF2-4 BOF record (a bare worksheet stream).
bool looksLikeBareBiff(const unsigned char *head, size_t size);

} // namespace sd
