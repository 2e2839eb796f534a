#pragma once

#include <cstddef>
#include <sys/types.h>

// Test seam: the call that writes the new settings text to its temporary file.
using SettingsWriteFunction = ssize_t (*)(int fd, const void *data, std::size_t size);

// Replaces that call (nullptr restores write(2)); for tests that inject short writes.
void SetSettingsWriteFunction(SettingsWriteFunction function);
