#pragma once

// The binary EncryptionHeader and EncryptionVerifier that CryptoAPI RC4 in
// .xls and Standard encryption of OOXML packages share.

#include "crypto/cryptoerror.h"
#include "crypto/primitives.h"

namespace sd {
namespace crypto {

// Algorithm ids of the header (CryptoAPI ALG_ID values).
enum AlgorithmId : uint32_t {
    kAlgRc4 = 0x6801,
    kAlgAes128 = 0x660E,
    kAlgAes192 = 0x660F,
    kAlgAes256 = 0x6610,
    kAlgSha1 = 0x8004,
};

// Header flags.
constexpr uint32_t kFlagCryptoApi = 0x04;
constexpr uint32_t kFlagDocProps = 0x08;
constexpr uint32_t kFlagExternal = 0x10;
constexpr uint32_t kFlagAes = 0x20;

struct EncryptionHeader
{
    uint32_t flags = 0;
    uint32_t algorithm = 0; // AlgorithmId; 0 lets the flags decide
    uint32_t hashAlgorithm = 0; // 0 means SHA-1
    uint32_t keyBits = 0; // 0 means the algorithm's default
    uint32_t providerType = 0;
    std::u16string provider; // CSP name, for messages only
};

struct EncryptionVerifier
{
    Bytes salt;
    Bytes encryptedVerifier; // 16 bytes
    Bytes encryptedVerifierHash; // 20 bytes (RC4) or 32 (AES)
    uint32_t verifierHashSize = 0;
};

// Reads flags, header size, header and verifier from `data` (what follows
// the version fields). `hashBytes` is the stored size of the encrypted
// verifier hash: 20 for RC4, 32 for AES.
CryptoError parseEncryptionHeader(const uint8_t *data, size_t size, size_t hashBytes,
                                  EncryptionHeader &header, EncryptionVerifier &verifier);

// A human name for a CryptoAPI algorithm id ("AES-128", "algorithm 0x6603").
std::string algorithmName(uint32_t id);

} // namespace crypto
} // namespace sd
