#pragma once

// Test seam of the CSV writer: the function that writes bytes to the
// temporary file, so tests can inject short writes and failures.

#include <sys/types.h>

#include <cstddef>

namespace sd {

using CsvWriteFunction = ssize_t (*)(int fd, const void *data, size_t size);

// Replaces the write function (nullptr restores ::write). For tests only.
void setCsvWriteFunction(CsvWriteFunction function);

} // namespace sd
