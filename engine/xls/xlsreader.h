#pragma once

#include "core/model.h"
#include "crypto/passwords.h"

#include <cstddef>
#include <cstdint>

namespace sd {

// Opens a legacy .xls workbook: BIFF5/7/8 in a compound file, or a bare
// BIFF2-4 stream. A workbook protected through FILEPASS is decrypted with the
// built-in default password or one of `passwords` (ErrorCode::PasswordNeeded
// when none fits). A compound file that holds an encrypted OOXML package
// gives ErrorCode::Encrypted: the opening dispatch (open/) reads those.
// nullptr with *error set on failure.
std::unique_ptr<Workbook> openXls(const std::string &path, Error *error,
                                  const crypto::PasswordList &passwords = {});

// The same from bytes in memory (copied as needed; `data` may go away after
// the call). `name` stands for the file in messages and names the single
// sheet of a bare BIFF2-4 stream.
std::unique_ptr<Workbook> openXlsMemory(const uint8_t *data, size_t size, const std::string &name,
                                        Error *error, const crypto::PasswordList &passwords = {});

// True when the first bytes are a BIFF2-4 BOF record (a bare worksheet stream),
// or a BIFF5 worksheet BOF written without a compound file.
bool looksLikeBareBiff(const unsigned char *head, size_t size);

} // namespace sd
