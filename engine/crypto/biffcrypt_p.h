#pragma once

// Key derivations of the .xls schemes, exposed for known-answer tests.

#include "crypto/primitives.h"

#include <array>

namespace sd {
namespace crypto {

// XOR obfuscation, from the single-byte password (1 to 15 bytes).
uint16_t xorPasswordVerifier(const Bytes &password);
uint16_t xorKey(const Bytes &password);
std::array<uint8_t, 16> xorArray(const Bytes &password, uint16_t key);

// RC4 (Excel 97/2000): the 40-bit base from the UTF-16LE password and the
// 16-byte salt, and the RC4 key of one 1024-byte block.
Bytes rc4StandardKeyBase(const Bytes &passwordUtf16, const Bytes &salt);
void rc4StandardBlockKey(const Bytes &keyBase, uint32_t block, uint8_t key[16]);

// RC4 CryptoAPI: the key of one block from SHA-1(salt, password).
Bytes rc4CryptoApiBlockKey(const Bytes &baseHash, uint32_t block, size_t keyBits);

} // namespace crypto
} // namespace sd
