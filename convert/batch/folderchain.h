#pragma once

// Creates every folder along `path` (8-bit text in the local encoding, '/'
// separated), shortest first; folders that exist already, or cannot be made,
// are passed over silently. Returns 0, or -1 when the path does not fit the
// 1024-byte path buffer (nothing is created then).
int CreateFolderChain(const char *path);
