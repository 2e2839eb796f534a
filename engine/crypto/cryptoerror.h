#pragma once

// Errors of the decryption layer: a status and a short detail that names what
// was refused ("spin count 20000000 above 10000000", "cipher DESX"). The
// readers turn them into engine errors with asError().

#include "io/error.h"

#include <cstdint>
#include <string>

namespace sd {
namespace crypto {

enum class CryptoStatus : uint8_t {
    Ok,
    PasswordNeeded, // well-formed, but no password of the list opens it
    Malformed, // encryption header or encrypted data damaged or cut short
    Unsupported, // a scheme, cipher or hash this build does not decrypt
    OutOfBounds, // spin count, key or salt size outside what the format allows
    IntegrityFailed, // the package fails its integrity check: changed or damaged
};

// Converts to true when it is an error, like sd::Error.
struct CryptoError
{
    CryptoStatus status = CryptoStatus::Ok;
    std::string detail;

    CryptoError() = default;
    CryptoError(CryptoStatus s, std::string d = {})
        : status(s)
        , detail(std::move(d))
    {
    }
    explicit operator bool() const { return status != CryptoStatus::Ok; }
    std::string description() const; // "password needed", "damaged encryption header: ..."
};

const char *cryptoStatusText(CryptoStatus status);

// The engine error for a decryption error at `where`: PasswordNeeded; Corrupt
// for damage (a failed integrity check included); Encrypted for encryption
// that cannot be undone here (its reason in the detail).
Error asError(const CryptoError &error, const std::string &where);

} // namespace crypto
} // namespace sd
