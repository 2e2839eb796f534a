#include "crypto/ooxmlcrypt.h"

#include "crypto/ooxmlcrypt_p.h"
#include "io/byteorder.h"
#include "io/limits.h"

#include <algorithm>
#include <cstring>

namespace sd {
namespace crypto {

namespace {

// Standard (and CryptoAPI) key derivation: the fixed iteration count.
constexpr uint32_t kStandardSpinCount = 50000;
// The segment of an Agile EncryptedPackage, each with its own IV.
constexpr size_t kAgileSegmentSize = 4096;

constexpr uint16_t kAgileVersion = 4;
constexpr uint16_t kStandardMinor = 2;
constexpr uint16_t kExtensibleMinor = 3;
constexpr uint32_t kAgileReserved = 0x40;

CryptoError checkStandardHeader(StandardEncryption &s)
{
    const EncryptionHeader &h = s.header;
    if (h.flags & kFlagExternal)
        return CryptoError(CryptoStatus::Unsupported, "extensible encryption");
    if (!(h.flags & kFlagCryptoApi) || !(h.flags & kFlagAes))
        return CryptoError(CryptoStatus::Unsupported,
                           "Standard encryption with " + algorithmName(h.algorithm));
    size_t bits = 0;
    switch (h.algorithm) {
    case 0: // the flags say AES: AES-128
    case kAlgAes128:
        bits = 128;
        break;
    case kAlgAes192:
        bits = 192;
        break;
    case kAlgAes256:
        bits = 256;
        break;
    default:
        return CryptoError(CryptoStatus::Unsupported,
                           "Standard encryption with " + algorithmName(h.algorithm));
    }
    if (h.hashAlgorithm != 0 && h.hashAlgorithm != kAlgSha1)
        return CryptoError(CryptoStatus::Unsupported,
                           "Standard encryption with hash " + algorithmName(h.hashAlgorithm));
    if (h.keyBits != 0 && h.keyBits != bits)
        return CryptoError(CryptoStatus::OutOfBounds,
                           "AES key of " + std::to_string(h.keyBits) + " bits for "
                               + algorithmName(h.algorithm));
    s.keyBits = bits;
    return {};
}

} // namespace

CryptoError parseEncryptionInfo(const uint8_t *data, size_t size, EncryptionInfo &info)
{
    if (size < 8)
        return CryptoError(CryptoStatus::Malformed, "EncryptionInfo cut short");
    if (size > kMaxEncryptionInfoSize)
        return CryptoError(CryptoStatus::OutOfBounds,
                           "EncryptionInfo of " + std::to_string(size) + " bytes");
    const uint16_t major = le16(data), minor = le16(data + 2);
    if (major == kAgileVersion && minor == kAgileVersion) {
        info.scheme = PackageScheme::Agile;
        if (le32(data + 4) != kAgileReserved)
            return CryptoError(CryptoStatus::Malformed, "Agile EncryptionInfo flags");
        return parseAgileDescriptor(data + 8, size - 8, info.agile);
    }
    if (major >= 2 && major <= 4 && minor == kStandardMinor) {
        info.scheme = PackageScheme::Standard;
        StandardEncryption &s = info.standard;
        if (CryptoError e = parseEncryptionHeader(data + 4, size - 4, 32, s.header, s.verifier))
            return e;
        return checkStandardHeader(s);
    }
    if ((major == 3 || major == 4) && minor == kExtensibleMinor)
        return CryptoError(CryptoStatus::Unsupported, "extensible encryption");
    return CryptoError(CryptoStatus::Unsupported,
                       "EncryptionInfo version " + std::to_string(major) + "."
                           + std::to_string(minor));
}

// ---------------------------------------------------------------------------
// Standard encryption
// ---------------------------------------------------------------------------

Bytes standardKey(const Bytes &salt, const Bytes &passwordUtf16, size_t keyBits)
{
    Hash sha1(HashAlgorithm::Sha1);
    uint8_t buffer[4 + 20];
    sha1.update(salt);
    sha1.update(passwordUtf16);
    sha1.final(buffer + 4);
    for (uint32_t i = 0; i < kStandardSpinCount; ++i) {
        putLe32(buffer, i);
        sha1.update(buffer, sizeof buffer);
        sha1.final(buffer + 4);
    }
    // Hfinal = H(Hn, block 0); the key is the front of
    // H(Hfinal ^ 0x36...) || H(Hfinal ^ 0x5C...).
    uint8_t final[20];
    std::memmove(buffer, buffer + 4, 20);
    putLe32(buffer + 20, 0);
    sha1.update(buffer, sizeof buffer);
    sha1.final(final);
    Bytes key(40);
    uint8_t pad[64];
    for (int round = 0; round < 2; ++round) {
        std::memset(pad, round == 0 ? 0x36 : 0x5C, sizeof pad);
        for (size_t i = 0; i < sizeof final; ++i)
            pad[i] ^= final[i];
        sha1.update(pad, sizeof pad);
        sha1.final(key.data() + 20 * round);
    }
    key.resize(keyBits / 8);
    wipe(buffer, sizeof buffer);
    wipe(final, sizeof final);
    wipe(pad, sizeof pad);
    return key;
}

bool standardVerifierMatches(const StandardEncryption &standard, const Bytes &key)
{
    BlockCipher aes;
    if (!aes.setKey(CipherAlgorithm::Aes, key))
        return false;
    Bytes verifier = standard.verifier.encryptedVerifier;
    Bytes hash = standard.verifier.encryptedVerifierHash;
    aes.decrypt(ChainingMode::Ecb, nullptr, verifier.data(), verifier.size());
    aes.decrypt(ChainingMode::Ecb, nullptr, hash.data(), hash.size());
    const Bytes expected = digest(HashAlgorithm::Sha1, verifier);
    const bool match = std::equal(expected.begin(), expected.end(), hash.begin());
    wipe(verifier);
    wipe(hash);
    return match;
}

namespace {

CryptoError packageSize(const uint8_t *package, size_t size, uint64_t *streamSize)
{
    if (size < 8)
        return CryptoError(CryptoStatus::Malformed, "EncryptedPackage cut short");
    *streamSize = le64(package);
    if (*streamSize > size - 8)
        return CryptoError(CryptoStatus::Malformed,
                           "EncryptedPackage declares " + std::to_string(*streamSize)
                               + " bytes but holds " + std::to_string(size - 8));
    return {};
}

CryptoError decryptStandard(const StandardEncryption &s, const uint8_t *package, size_t size,
                            const PasswordList &passwords, Bytes &zip)
{
    uint64_t streamSize = 0;
    if (CryptoError e = packageSize(package, size, &streamSize))
        return e;
    const uint64_t cipherBytes = (streamSize + 15) / 16 * 16;
    if (cipherBytes > size - 8)
        return CryptoError(CryptoStatus::Malformed, "EncryptedPackage ends inside a block");
    for (const std::u16string &password : passwords) {
        Bytes key = standardKey(s.verifier.salt, utf16le(password), s.keyBits);
        if (!standardVerifierMatches(s, key)) {
            wipe(key);
            continue;
        }
        BlockCipher aes;
        aes.setKey(CipherAlgorithm::Aes, key);
        wipe(key);
        zip.assign(package + 8, package + 8 + cipherBytes);
        aes.decrypt(ChainingMode::Ecb, nullptr, zip.data(), zip.size());
        zip.resize(size_t(streamSize));
        return {};
    }
    return CryptoError(CryptoStatus::PasswordNeeded, "Standard encryption");
}

// ---------------------------------------------------------------------------
// Agile encryption
// ---------------------------------------------------------------------------

// Decrypts the segments in place in a copy of the stream; `cipherBytes`
// (checked against the stream) covers them all.
CryptoError decryptAgileSegments(const AgileParameters &k, const Bytes &key, const uint8_t *package,
                                 uint64_t streamSize, size_t cipherBytes, Bytes &zip)
{
    BlockCipher cipher;
    if (!cipher.setKey(k.cipher, key))
        return CryptoError(CryptoStatus::Malformed, "package key of the wrong size");
    zip.assign(package + 8, package + 8 + cipherBytes);
    uint32_t index = 0;
    for (size_t done = 0; done < cipherBytes; done += kAgileSegmentSize, ++index) {
        uint8_t blockKey[4];
        putLe32(blockKey, index);
        const Bytes iv = agileDerive(k.hash, k.salt, blockKey, 4, k.blockSize);
        cipher.decrypt(k.chaining, iv.data(), zip.data() + done,
                       std::min(kAgileSegmentSize, cipherBytes - done));
    }
    zip.resize(size_t(streamSize));
    return {};
}

CryptoError decryptAgile(const AgileEncryption &agile, const uint8_t *package, size_t size,
                         const PasswordList &passwords, Bytes &zip)
{
    uint64_t streamSize = 0;
    if (CryptoError e = packageSize(package, size, &streamSize))
        return e;
    // Every segment but the last is whole; the last is padded to a block.
    const size_t bs = agile.keyData.blockSize;
    const uint64_t last = streamSize % kAgileSegmentSize;
    const uint64_t needed = streamSize - last
        + (agile.keyData.chaining == ChainingMode::Cfb8 ? last : (last + bs - 1) / bs * bs);
    if (needed > size - 8)
        return CryptoError(CryptoStatus::Malformed, "EncryptedPackage ends inside a block");
    const size_t cipherBytes = size_t(needed);
    for (const std::u16string &password : passwords) {
        Bytes key;
        CryptoError e = agileUnlock(agile, utf16le(password), key);
        if (e.status == CryptoStatus::PasswordNeeded)
            continue;
        if (!e)
            e = agileCheckIntegrity(agile, key, package, size);
        if (!e)
            e = decryptAgileSegments(agile.keyData, key, package, streamSize, cipherBytes, zip);
        wipe(key);
        if (e)
            zip.clear();
        return e;
    }
    return CryptoError(CryptoStatus::PasswordNeeded, "Agile encryption");
}

} // namespace

CryptoError decryptPackage(const uint8_t *info, size_t infoSize, const uint8_t *package,
                           size_t packageSize, const PasswordList &passwords, Bytes &zip)
{
    zip.clear();
    EncryptionInfo parsed;
    if (CryptoError e = parseEncryptionInfo(info, infoSize, parsed))
        return e;
    if (parsed.scheme == PackageScheme::Standard)
        return decryptStandard(parsed.standard, package, packageSize, passwords, zip);
    return decryptAgile(parsed.agile, package, packageSize, passwords, zip);
}

std::string describeEncryptionInfo(const uint8_t *info, size_t size)
{
    EncryptionInfo parsed;
    if (CryptoError e = parseEncryptionInfo(info, size, parsed))
        return e.description();
    if (parsed.scheme == PackageScheme::Standard)
        return "Standard, AES-" + std::to_string(parsed.standard.keyBits);
    const AgileParameters &k = parsed.agile.keyData;
    return std::string("Agile, ") + cipherName(k.cipher) + "-" + std::to_string(k.keyBits)
        + (k.chaining == ChainingMode::Cbc ? " CBC, " : " CFB, ") + hashName(k.hash) + ", "
        + std::to_string(parsed.agile.spinCount) + " spins";
}

} // namespace crypto
} // namespace sd
