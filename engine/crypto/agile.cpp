// Agile encryption: the XML descriptor, the password's key and the
// integrity check.
#include "crypto/ooxmlcrypt_p.h"
#include "io/limits.h"

#include <QByteArray>
#include <QXmlStreamReader>

#include <algorithm>

namespace sd {
namespace crypto {

const uint8_t kBlockKeyVerifierInput[8] = { 0xfe, 0xa7, 0xd2, 0x76, 0x3b, 0x4b, 0x9e, 0x79 };
const uint8_t kBlockKeyVerifierValue[8] = { 0xd7, 0xaa, 0x0f, 0x6d, 0x30, 0x61, 0x34, 0x4e };
const uint8_t kBlockKeyEncryptedKey[8] = { 0x14, 0x6e, 0x0b, 0xe7, 0xab, 0xac, 0xd0, 0xd6 };
const uint8_t kBlockKeyIntegrityKey[8] = { 0x5f, 0xb2, 0xad, 0x01, 0x0c, 0xb9, 0xe1, 0xf6 };
const uint8_t kBlockKeyIntegrityValue[8] = { 0xa0, 0x67, 0x7f, 0x02, 0xb2, 0x2c, 0x84, 0x33 };

namespace {

const char kNsEncryption[] = "http://schemas.microsoft.com/office/2006/encryption";
const char kNsPasswordKey[] = "http://schemas.microsoft.com/office/2006/keyEncryptor/password";

CryptoError malformed(const std::string &detail)
{
    return CryptoError(CryptoStatus::Malformed, "encryption descriptor: " + detail);
}

struct NamedHash
{
    const char *name;
    HashAlgorithm hash;
};
const NamedHash kHashes[] = {
    { "SHA1", HashAlgorithm::Sha1 },
    { "SHA-1", HashAlgorithm::Sha1 },
    { "SHA256", HashAlgorithm::Sha256 },
    { "SHA384", HashAlgorithm::Sha384 },
    { "SHA512", HashAlgorithm::Sha512 },
    { "MD5", HashAlgorithm::Md5 },
    { "MD4", HashAlgorithm::Md4 },
    { "MD2", HashAlgorithm::Md2 },
    { "RIPEMD-160", HashAlgorithm::Ripemd160 },
};

struct NamedCipher
{
    const char *name;
    CipherAlgorithm cipher;
};
const NamedCipher kCiphers[] = {
    { "AES", CipherAlgorithm::Aes },        { "DES", CipherAlgorithm::Des },
    { "3DES", CipherAlgorithm::TripleDes }, { "3DES_112", CipherAlgorithm::TripleDes },
    { "RC2", CipherAlgorithm::Rc2 },
};

bool keyBitsAllowed(CipherAlgorithm cipher, size_t bits)
{
    switch (cipher) {
    case CipherAlgorithm::Aes:
        return bits == 128 || bits == 192 || bits == 256;
    case CipherAlgorithm::Des:
        return bits == 64 || bits == 56;
    case CipherAlgorithm::TripleDes:
        return bits == 128 || bits == 192 || bits == 112 || bits == 168;
    case CipherAlgorithm::Rc2:
        return bits >= 40 && bits <= 1024 && bits % 8 == 0;
    }
    return false;
}

// Key bytes the cipher takes for a declared key size (DES counts its parity
// bits in some writers and not in others).
size_t keyBytes(CipherAlgorithm cipher, size_t bits)
{
    if (cipher == CipherAlgorithm::Des)
        return 8;
    if (cipher == CipherAlgorithm::TripleDes)
        return bits <= 128 ? 16 : 24;
    return bits / 8;
}

bool readNumber(const QXmlStreamAttributes &a, const char *name, uint64_t max, size_t &out)
{
    bool ok = false;
    const qulonglong v = a.value(QLatin1String(name)).toULongLong(&ok);
    if (!ok || v > max)
        return false;
    out = size_t(v);
    return true;
}

bool readBase64(const QXmlStreamAttributes &a, const char *name, Bytes &out)
{
    const QByteArray text = a.value(QLatin1String(name)).toLatin1();
    const QByteArray::FromBase64Result decoded
        = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.isEmpty())
        return false;
    out.assign(decoded.decoded.begin(), decoded.decoded.end());
    return true;
}

// The attributes that <keyData> and <encryptedKey> share.
CryptoError readParameters(const QXmlStreamAttributes &a, const char *element, AgileParameters &p)
{
    const std::string where = std::string(element) + ": ";
    const QString cipherName = a.value(QLatin1String("cipherAlgorithm")).toString();
    const NamedCipher *cipher
        = std::find_if(std::begin(kCiphers), std::end(kCiphers),
                       [&](const NamedCipher &c) { return cipherName == QLatin1String(c.name); });
    if (cipher == std::end(kCiphers))
        return CryptoError(CryptoStatus::Unsupported,
                           "cipher " + cipherName.left(32).toStdString());
    p.cipher = cipher->cipher;
    const QString chaining = a.value(QLatin1String("cipherChaining")).toString();
    if (chaining == QLatin1String("ChainingModeCBC"))
        p.chaining = ChainingMode::Cbc;
    else if (chaining == QLatin1String("ChainingModeCFB"))
        p.chaining = ChainingMode::Cfb8;
    else
        return CryptoError(CryptoStatus::Unsupported,
                           "cipher chaining " + chaining.left(32).toStdString());
    const QString hashName = a.value(QLatin1String("hashAlgorithm")).toString();
    const NamedHash *hash
        = std::find_if(std::begin(kHashes), std::end(kHashes),
                       [&](const NamedHash &h) { return hashName == QLatin1String(h.name); });
    if (hash == std::end(kHashes))
        return CryptoError(CryptoStatus::Unsupported, "hash " + hashName.left(32).toStdString());
    p.hash = hash->hash;

    size_t saltSize = 0;
    if (!readNumber(a, "keyBits", 1u << 16, p.keyBits)
        || !readNumber(a, "blockSize", 1u << 16, p.blockSize)
        || !readNumber(a, "hashSize", 1u << 16, p.hashSize)
        || !readNumber(a, "saltSize", 1u << 20, saltSize) || !readBase64(a, "saltValue", p.salt))
        return malformed(where + "missing or unreadable sizes or salt");
    if (!keyBitsAllowed(p.cipher, p.keyBits))
        return CryptoError(CryptoStatus::OutOfBounds,
                           std::string(cipherName.toStdString()) + " with a key of "
                               + std::to_string(p.keyBits) + " bits");
    if (p.blockSize != cipherBlockSize(p.cipher))
        return CryptoError(CryptoStatus::OutOfBounds,
                           "block size " + std::to_string(p.blockSize) + " for "
                               + cipherName.toStdString());
    if (p.hashSize != digestSize(p.hash))
        return CryptoError(CryptoStatus::OutOfBounds,
                           "hash size " + std::to_string(p.hashSize) + " for "
                               + hashName.toStdString());
    if (saltSize == 0 || saltSize > kMaxSaltSize || p.salt.size() != saltSize)
        return CryptoError(CryptoStatus::OutOfBounds,
                           where + "salt of " + std::to_string(p.salt.size()) + " bytes");
    return {};
}

// An encrypted value of at least `least` bytes, and whole blocks unless the
// chaining is a stream mode.
bool sizedFor(const Bytes &value, const AgileParameters &p, size_t least)
{
    return value.size() >= least
        && (p.chaining == ChainingMode::Cfb8 || value.size() % p.blockSize == 0);
}

CryptoError readPasswordKey(const QXmlStreamAttributes &a, AgileEncryption &agile)
{
    AgileParameters &p = agile.passwordKey;
    if (CryptoError e = readParameters(a, "encryptedKey", p))
        return e;
    size_t spin = 0;
    if (!readNumber(a, "spinCount", UINT32_MAX, spin))
        return malformed("encryptedKey: missing or unreadable spinCount");
    if (spin > kMaxSpinCount)
        return CryptoError(CryptoStatus::OutOfBounds,
                           "spin count " + std::to_string(spin) + " above "
                               + std::to_string(kMaxSpinCount));
    agile.spinCount = uint32_t(spin);
    if (!readBase64(a, "encryptedVerifierHashInput", agile.encryptedVerifierHashInput)
        || !readBase64(a, "encryptedVerifierHashValue", agile.encryptedVerifierHashValue)
        || !readBase64(a, "encryptedKeyValue", agile.encryptedKeyValue))
        return malformed("encryptedKey: missing or unreadable verifier or key");
    if (!sizedFor(agile.encryptedVerifierHashInput, p, 1)
        || !sizedFor(agile.encryptedVerifierHashValue, p, p.hashSize)
        || !sizedFor(agile.encryptedKeyValue, p, keyBytes(p.cipher, p.keyBits)))
        return malformed("encryptedKey: verifier or key of the wrong size");
    agile.hasPasswordKey = true;
    return {};
}

} // namespace

// ---------------------------------------------------------------------------
// The descriptor
// ---------------------------------------------------------------------------

CryptoError parseAgileDescriptor(const uint8_t *xml, size_t size, AgileEncryption &agile)
{
    agile = AgileEncryption();
    QXmlStreamReader reader(
        QByteArray::fromRawData(reinterpret_cast<const char *>(xml), int(size)));
    bool root = false, keyData = false;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::DTD)
            return malformed("a document type declaration"); // no entities, ever
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QStringRef ns = reader.namespaceUri();
        const QStringRef name = reader.name();
        const QXmlStreamAttributes a = reader.attributes();
        if (!root) {
            if (ns != QLatin1String(kNsEncryption) || name != QLatin1String("encryption"))
                return malformed("the root element is not <encryption>");
            root = true;
        } else if (ns == QLatin1String(kNsEncryption) && name == QLatin1String("keyData")) {
            if (CryptoError e = readParameters(a, "keyData", agile.keyData))
                return e;
            keyData = true;
        } else if (ns == QLatin1String(kNsEncryption) && name == QLatin1String("dataIntegrity")) {
            if (!readBase64(a, "encryptedHmacKey", agile.encryptedHmacKey)
                || !readBase64(a, "encryptedHmacValue", agile.encryptedHmacValue))
                return malformed("dataIntegrity: missing or unreadable HMAC");
            agile.hasIntegrity = true;
        } else if (ns == QLatin1String(kNsPasswordKey) && name == QLatin1String("encryptedKey")
                   && !agile.hasPasswordKey) {
            if (CryptoError e = readPasswordKey(a, agile))
                return e;
        }
    }
    if (reader.hasError())
        return malformed(reader.errorString().left(80).toStdString());
    if (!keyData)
        return malformed("no <keyData>");
    if (!agile.hasPasswordKey)
        return CryptoError(CryptoStatus::Unsupported,
                           "no password key encryptor (certificate encryption only)");
    const AgileParameters &k = agile.keyData;
    if (agile.hasIntegrity
        && (!sizedFor(agile.encryptedHmacKey, k, k.hashSize)
            || !sizedFor(agile.encryptedHmacValue, k, k.hashSize)))
        return malformed("dataIntegrity: HMAC of the wrong size");
    if (!sizedFor(agile.encryptedKeyValue, agile.passwordKey, keyBytes(k.cipher, k.keyBits)))
        return malformed("encryptedKey: key shorter than the package key");
    return {};
}

// ---------------------------------------------------------------------------
// Keys
// ---------------------------------------------------------------------------

Bytes agileHashPassword(HashAlgorithm hash, const Bytes &salt, const Bytes &passwordUtf16,
                        uint32_t spinCount)
{
    Hash h(hash);
    const size_t n = h.digestSize();
    uint8_t buffer[4 + 64];
    h.update(salt);
    h.update(passwordUtf16);
    h.final(buffer + 4);
    for (uint32_t i = 0; i < spinCount; ++i) {
        buffer[0] = uint8_t(i);
        buffer[1] = uint8_t(i >> 8);
        buffer[2] = uint8_t(i >> 16);
        buffer[3] = uint8_t(i >> 24);
        h.init();
        h.update(buffer, 4 + n);
        h.final(buffer + 4);
    }
    Bytes out(buffer + 4, buffer + 4 + n);
    wipe(buffer, sizeof buffer);
    return out;
}

Bytes agileDerive(HashAlgorithm hash, const Bytes &base, const uint8_t *blockKey,
                  size_t blockKeySize, size_t size)
{
    Hash h(hash);
    h.update(base);
    h.update(blockKey, blockKeySize);
    Bytes out(h.digestSize());
    h.final(out.data());
    out.resize(size, 0x36);
    return out;
}

namespace {

// Decrypts `value` with a key and the IV from `salt`, cut or padded to a block.
Bytes decryptWith(const AgileParameters &p, const Bytes &key, const Bytes &salt, const Bytes &value)
{
    Bytes iv = salt;
    iv.resize(p.blockSize, 0x36);
    BlockCipher cipher;
    Bytes out = value;
    if (!cipher.setKey(p.cipher, key))
        return {};
    cipher.decrypt(p.chaining, iv.data(), out.data(), out.size());
    return out;
}

} // namespace

CryptoError agileUnlock(const AgileEncryption &agile, const Bytes &passwordUtf16, Bytes &key)
{
    const AgileParameters &p = agile.passwordKey;
    const size_t keySize = keyBytes(p.cipher, p.keyBits);
    Bytes hashed = agileHashPassword(p.hash, p.salt, passwordUtf16, agile.spinCount);
    Bytes inputKey = agileDerive(p.hash, hashed, kBlockKeyVerifierInput, 8, keySize);
    Bytes valueKey = agileDerive(p.hash, hashed, kBlockKeyVerifierValue, 8, keySize);
    Bytes input = decryptWith(p, inputKey, p.salt, agile.encryptedVerifierHashInput);
    Bytes value = decryptWith(p, valueKey, p.salt, agile.encryptedVerifierHashValue);
    input.resize(std::min(input.size(), p.salt.size()));
    const Bytes expected = digest(p.hash, input);
    const bool match = value.size() >= expected.size()
        && std::equal(expected.begin(), expected.end(), value.begin());
    CryptoError result(CryptoStatus::PasswordNeeded, "Agile encryption");
    if (match) {
        Bytes keyKey = agileDerive(p.hash, hashed, kBlockKeyEncryptedKey, 8, keySize);
        key = decryptWith(p, keyKey, p.salt, agile.encryptedKeyValue);
        key.resize(keyBytes(agile.keyData.cipher, agile.keyData.keyBits));
        wipe(keyKey);
        result = CryptoError();
    }
    for (Bytes *b : { &hashed, &inputKey, &valueKey, &input, &value })
        wipe(*b);
    return result;
}

CryptoError agileCheckIntegrity(const AgileEncryption &agile, const Bytes &key,
                                const uint8_t *package, size_t size)
{
    if (!agile.hasIntegrity)
        return {};
    const AgileParameters &k = agile.keyData;
    const Bytes keyIv = agileDerive(k.hash, k.salt, kBlockKeyIntegrityKey, 8, k.blockSize);
    const Bytes valueIv = agileDerive(k.hash, k.salt, kBlockKeyIntegrityValue, 8, k.blockSize);
    Bytes hmacKey = decryptWith(k, key, keyIv, agile.encryptedHmacKey);
    Bytes expected = decryptWith(k, key, valueIv, agile.encryptedHmacValue);
    hmacKey.resize(k.hashSize);
    expected.resize(k.hashSize);
    const Bytes actual = hmac(k.hash, hmacKey, package, size);
    wipe(hmacKey);
    if (actual != expected)
        return CryptoError(CryptoStatus::IntegrityFailed,
                           "the HMAC of the encrypted package does not match");
    return {};
}

} // namespace crypto
} // namespace sd
