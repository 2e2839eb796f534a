#include "crypto/cryptoerror.h"

namespace sd {
namespace crypto {

const char *cryptoStatusText(CryptoStatus status)
{
    switch (status) {
    case CryptoStatus::Ok:
        return "no error";
    case CryptoStatus::PasswordNeeded:
        return "password needed";
    case CryptoStatus::Malformed:
        return "damaged encryption header";
    case CryptoStatus::Unsupported:
        return "unsupported encryption";
    case CryptoStatus::OutOfBounds:
        return "encryption parameters out of bounds";
    case CryptoStatus::IntegrityFailed:
        return "encrypted package fails its integrity check";
    }
    return "unknown encryption error";
}

std::string CryptoError::description() const
{
    std::string text = cryptoStatusText(status);
    if (!detail.empty())
        text += ": " + detail;
    return text;
}

Error asError(const CryptoError &error, const std::string &where)
{
    switch (error.status) {
    case CryptoStatus::Ok:
        return {};
    case CryptoStatus::PasswordNeeded:
        return Error(ErrorCode::PasswordNeeded, where, error.detail);
    case CryptoStatus::Malformed:
    case CryptoStatus::IntegrityFailed:
        return Error(ErrorCode::Corrupt, where, error.description());
    case CryptoStatus::Unsupported:
    case CryptoStatus::OutOfBounds:
        break;
    }
    return Error(ErrorCode::Encrypted, where, error.description());
}

} // namespace crypto
} // namespace sd
