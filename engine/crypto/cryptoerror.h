#pragma once

// Errors of the decryption layer: a status and a short detail that names what
// was refused ("spin count 20000000 above 10000000", "cipher RC2 in CFB mode").
// The readers above turn them into their own errors.

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

} // namespace crypto
} // namespace sd
