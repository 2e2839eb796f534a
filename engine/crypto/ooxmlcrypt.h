#pragma once

// Decryption of OOXML packages (.xlsx, .xlsm) that the desktop application
// saved with a password: a compound file whose "EncryptionInfo" stream says
// how and whose "EncryptedPackage" stream holds the zip, encrypted.
//
// Two schemes are read. Standard encryption (Office 2007): AES-128/192/256
// in ECB mode, the key from SHA-1 iterated 50,000 times. Agile encryption
// (Office 2010 and later): an XML descriptor names the cipher (AES, DES,
// 3DES, RC2; CBC or CFB), the hash (SHA-1/256/384/512, MD5 and others) and
// the spin count; the package is encrypted in 4096-byte segments, each with
// its own IV, and carries an HMAC over the encrypted stream, which is
// checked before anything is decrypted.
//
// Every bound (spin count, key and salt sizes, stream sizes) is checked
// before the first key derivation, and a wrong password costs one
// derivation and one verifier check.

#include "crypto/cryptoerror.h"
#include "crypto/passwords.h"

namespace sd {
namespace crypto {

// Decrypts the package: `info` and `package` are the bytes of the two
// streams. On success `zip` holds the decrypted package (in memory only).
CryptoError decryptPackage(const uint8_t *info, size_t infoSize, const uint8_t *package,
                           size_t packageSize, const PasswordList &passwords, Bytes &zip);

// Names the scheme for messages and dumps, e.g. "Agile, AES-256 CBC,
// SHA-512, 100000 spins" or "Standard, AES-128".
std::string describeEncryptionInfo(const uint8_t *info, size_t size);

} // namespace crypto
} // namespace sd
