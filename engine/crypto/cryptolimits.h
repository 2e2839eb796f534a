#pragma once

// Bounds on what an encryption header may ask for. Each is checked before any
// key derivation, so a hostile header cannot make opening a file slow.

#include <cstddef>
#include <cstdint>

namespace sd {
namespace crypto {

// Agile key derivation: hash iterations per password. Office writes 100,000;
// the format allows up to 10,000,000, which this bound keeps (about four
// seconds of SHA-512 per password on a current machine).
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr uint32_t kMaxSpinCount = 1000; // keeps every fuzz input fast
#else
constexpr uint32_t kMaxSpinCount = 10000000;
#endif

// Standard (and CryptoAPI) key derivation: the fixed iteration count.
constexpr uint32_t kStandardSpinCount = 50000;

// The EncryptionInfo stream: an Agile descriptor is a few kilobytes.
constexpr size_t kMaxEncryptionInfoSize = 1 << 20;

// Salts: the format allows 1 to 65,536 bytes.
constexpr size_t kMaxSaltSize = 65536;

// The RC4 re-keying block of .xls encryption (bytes of the workbook stream).
constexpr size_t kBiffRc4BlockSize = 1024;

// The segment of an Agile EncryptedPackage, each with its own IV.
constexpr size_t kAgileSegmentSize = 4096;

} // namespace crypto
} // namespace sd
