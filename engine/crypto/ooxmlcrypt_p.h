#pragma once

// The parts of package decryption, exposed for known-answer tests and the
// test encryptor.

#include "crypto/encryptionheader.h"
#include "crypto/ooxmlcrypt.h"

namespace sd {
namespace crypto {

enum class PackageScheme : uint8_t { Standard, Agile };

struct StandardEncryption
{
    EncryptionHeader header;
    EncryptionVerifier verifier;
    size_t keyBits = 0; // 128, 192 or 256
};

// The cipher and hash parameters of <keyData> and of the password's
// <encryptedKey>.
struct AgileParameters
{
    CipherAlgorithm cipher = CipherAlgorithm::Aes;
    ChainingMode chaining = ChainingMode::Cbc;
    HashAlgorithm hash = HashAlgorithm::Sha1;
    size_t keyBits = 0;
    size_t blockSize = 0;
    size_t hashSize = 0;
    Bytes salt;
};

struct AgileEncryption
{
    AgileParameters keyData;
    bool hasIntegrity = false;
    Bytes encryptedHmacKey;
    Bytes encryptedHmacValue;
    bool hasPasswordKey = false;
    AgileParameters passwordKey;
    uint32_t spinCount = 0;
    Bytes encryptedVerifierHashInput;
    Bytes encryptedVerifierHashValue;
    Bytes encryptedKeyValue;
};

struct EncryptionInfo
{
    PackageScheme scheme = PackageScheme::Standard;
    StandardEncryption standard;
    AgileEncryption agile;
};

// Reads and bounds-checks the EncryptionInfo stream.
CryptoError parseEncryptionInfo(const uint8_t *data, size_t size, EncryptionInfo &info);
// Reads the XML descriptor of Agile encryption.
CryptoError parseAgileDescriptor(const uint8_t *xml, size_t size, AgileEncryption &agile);

// Standard: the AES key from the UTF-16LE password; an empty result when
// the verifier says it is the wrong one.
Bytes standardKey(const Bytes &salt, const Bytes &passwordUtf16, size_t keyBits);
bool standardVerifierMatches(const StandardEncryption &standard, const Bytes &key);

// Agile: H(salt + password) hashed spinCount more times with the iteration
// number in front.
Bytes agileHashPassword(HashAlgorithm hash, const Bytes &salt, const Bytes &passwordUtf16,
                        uint32_t spinCount);
// H(base + blockKey), cut to `size` bytes or padded with 0x36: a key from
// the hashed password, or an IV from the key data's salt.
Bytes agileDerive(HashAlgorithm hash, const Bytes &base, const uint8_t *blockKey,
                  size_t blockKeySize, size_t size);
// The package key, or PasswordNeeded when the verifier does not match.
CryptoError agileUnlock(const AgileEncryption &agile, const Bytes &passwordUtf16, Bytes &key);
// Checks the HMAC of the whole EncryptedPackage stream.
CryptoError agileCheckIntegrity(const AgileEncryption &agile, const Bytes &key,
                                const uint8_t *package, size_t size);

// The fixed block keys of Agile encryption.
extern const uint8_t kBlockKeyVerifierInput[8];
extern const uint8_t kBlockKeyVerifierValue[8];
extern const uint8_t kBlockKeyEncryptedKey[8];
extern const uint8_t kBlockKeyIntegrityKey[8];
extern const uint8_t kBlockKeyIntegrityValue[8];

} // namespace crypto
} // namespace sd
