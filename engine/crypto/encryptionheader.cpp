#include "crypto/encryptionheader.h"

#include "io/byteorder.h"

#include <cstdio>

namespace sd {
namespace crypto {

namespace {

constexpr size_t kFixedHeaderSize = 32; // eight 32-bit fields before the CSP name
constexpr size_t kSaltSize = 16;
constexpr size_t kVerifierSize = 16;

} // namespace

CryptoError parseEncryptionHeader(const uint8_t *data, size_t size, size_t hashBytes,
                                  EncryptionHeader &header, EncryptionVerifier &verifier)
{
    if (size < 8)
        return CryptoError(CryptoStatus::Malformed, "encryption header cut short");
    const uint32_t headerSize = le32(data + 4);
    if (headerSize < kFixedHeaderSize || headerSize > size - 8)
        return CryptoError(CryptoStatus::Malformed, "encryption header size out of range");
    const uint8_t *h = data + 8;
    header.flags = le32(h);
    if (le32(h + 4) != 0) // sizeExtra
        return CryptoError(CryptoStatus::Malformed, "encryption header with extra data");
    header.algorithm = le32(h + 8);
    header.hashAlgorithm = le32(h + 12);
    header.keyBits = le32(h + 16);
    header.providerType = le32(h + 20);
    header.provider.clear();
    for (size_t i = kFixedHeaderSize; i + 1 < headerSize; i += 2) {
        const char16_t c = char16_t(le16(h + i));
        if (c == 0)
            break;
        header.provider.push_back(c);
    }

    const uint8_t *v = h + headerSize;
    size_t left = size - 8 - headerSize;
    if (left < 4)
        return CryptoError(CryptoStatus::Malformed, "encryption verifier cut short");
    const uint32_t saltSize = le32(v);
    if (saltSize != kSaltSize)
        return CryptoError(CryptoStatus::OutOfBounds,
                           "salt of " + std::to_string(saltSize) + " bytes (16 expected)");
    const size_t need = 4 + kSaltSize + kVerifierSize + 4 + hashBytes;
    if (left < need)
        return CryptoError(CryptoStatus::Malformed, "encryption verifier cut short");
    verifier.salt.assign(v + 4, v + 4 + kSaltSize);
    verifier.encryptedVerifier.assign(v + 20, v + 20 + kVerifierSize);
    verifier.verifierHashSize = le32(v + 36);
    verifier.encryptedVerifierHash.assign(v + 40, v + 40 + hashBytes);
    if (verifier.verifierHashSize != 20)
        return CryptoError(CryptoStatus::OutOfBounds,
                           "verifier hash of " + std::to_string(verifier.verifierHashSize)
                               + " bytes (20 expected)");
    return {};
}

std::string algorithmName(uint32_t id)
{
    switch (id) {
    case kAlgRc4:
        return "RC4";
    case kAlgAes128:
        return "AES-128";
    case kAlgAes192:
        return "AES-192";
    case kAlgAes256:
        return "AES-256";
    case kAlgSha1:
        return "SHA-1";
    default:
        break;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "algorithm 0x%04x", unsigned(id));
    return buf;
}

} // namespace crypto
} // namespace sd
