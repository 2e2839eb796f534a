#pragma once

// Test seams of the CSV writer: the function that writes bytes to the
// temporary file, so tests can inject short writes and failures, and the one
// that tells the free space of a disk.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace sd {

using CsvWriteFunction = ssize_t (*)(int fd, const void *data, size_t size);

// Replaces the write function (nullptr restores ::write). For tests only.
void setCsvWriteFunction(CsvWriteFunction function);

// Sets *bytes to the space free in `folder`; false when it cannot tell.
using CsvFreeSpaceFunction = bool (*)(const char *folder, uint64_t *bytes);

// Replaces the free-space function (nullptr restores statvfs). For tests only.
void setCsvFreeSpaceFunction(CsvFreeSpaceFunction function);

// Cells per batch and batches in the queue while a sheet streams (0: the
// defaults). For tests only: small batches shake out ordering faults.
void setCsvStreamBatching(size_t batchCells, size_t queueBatches);

// Sheets of less data than `bytes` are read whole instead of streamed
// (UINT64_MAX: the default, 1 MB). Tests set 0 to stream small sheets.
void setCsvStreamFloor(uint64_t bytes);

// Told, after each sheet the writer tried to stream, how that went:
// "streamed", "stopped", or "whole: " and why the sheet was written whole.
// For tests and diagnostics (nullptr: nobody).
using CsvStreamObserver = void (*)(int sheetIndex, const char *outcome);
void setCsvStreamObserver(CsvStreamObserver observer);

} // namespace sd
