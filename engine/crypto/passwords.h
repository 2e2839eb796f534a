#pragma once

// Passwords to try on a protected workbook, and the byte forms the formats
// derive their keys from.

#include "crypto/primitives.h"

#include <string>
#include <vector>

namespace sd {
namespace crypto {

// The password the desktop application encrypts with when the user gave
// none (a workbook whose structure is protected, or one saved "read-only
// recommended"); it opens such workbooks without asking.
extern const char16_t kDefaultPassword[];

// Passwords as UTF-16 text, as the user typed them.
using PasswordList = std::vector<std::u16string>;

// The longest password the formats allow (characters); a longer one cannot
// be right and is never tried.
constexpr size_t kMaxPasswordLength = 255;

// The default password first, then `user` in order, each once; too long and
// repeated ones are left out. An empty password is kept (it is a valid one).
PasswordList candidatePasswords(const PasswordList &user);

// UTF-16LE bytes without a terminator: what RC4, CryptoAPI and the OOXML
// schemes hash.
Bytes utf16le(const std::u16string &password);

// The single-byte forms that XOR obfuscation uses, cut to 15 bytes: each
// character's low byte, or its high byte when the low one is 0; and, when it
// differs, the Windows-1252 form (characters it cannot hold become '?').
std::vector<Bytes> xorPasswordForms(const std::u16string &password);

} // namespace crypto
} // namespace sd
