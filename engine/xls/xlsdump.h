#pragma once

// Diagnostic dump of a .xls file: the compound-file entries, then one line
// per BIFF record (offset, id, name, length, first bytes in hex).

#include "io/error.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace sd {

// Appends the dump to `out`; at most `hexBytes` bytes of each record are shown.
Error dumpXls(const uint8_t *data, size_t size, std::string &out, size_t hexBytes = 16);

} // namespace sd
