#pragma once

// Opening any workbook: the one place that knows both readers.

#include "core/model.h"
#include "crypto/passwords.h"
#include "io/error.h"

#include <memory>
#include <string>

namespace sd {

// Opens a workbook, choosing the reader from the file's first bytes (not its
// name: .xls files that are really .xlsx packages, and the reverse, are
// common). nullptr with *error set when the file cannot be read.
//
// An encrypted workbook is opened with the application's built-in default
// password or, failing that, the first of `passwords` that fits: an .xls
// through its FILEPASS record, an encrypted .xlsx/.xlsm (a compound file
// with EncryptionInfo and EncryptedPackage) by decrypting the package in
// memory and reading it as any package. ErrorCode::PasswordNeeded when no
// password opens it; Corrupt when the package fails its integrity check.
std::unique_ptr<Workbook> openWorkbook(const std::string &path, Error *error,
                                       const crypto::PasswordList &passwords = {});

} // namespace sd
