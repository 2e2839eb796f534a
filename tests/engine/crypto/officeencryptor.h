#pragma once

// Encrypts an OOXML package the way the desktop application does (Agile or
// Standard encryption), and writes .xls FILEPASS payloads, for tests,
// benchmarks and fuzz seeds: the decryptor must read what this writes, and
// damage made here must be caught. Salts and keys come
// from a fixed seed, so every run writes the same bytes.

#include "crypto/biffcrypt_p.h"
#include "crypto/ooxmlcrypt_p.h"

#include <QByteArray>
#include <QString>

#include <cstring>

namespace officeencryptor {

using sd::crypto::Bytes;

struct AgileOptions
{
    QString cipher = QStringLiteral("AES"); // as the descriptor names it
    int keyBits = 256;
    QString hash = QStringLiteral("SHA512");
    QString chaining = QStringLiteral("ChainingModeCBC");
    quint32 spinCount = 100000;
    bool integrity = true;
};

struct Encrypted
{
    QByteArray info; // EncryptionInfo stream
    QByteArray package; // EncryptedPackage stream
};

inline Bytes pseudoRandom(size_t n, quint32 &seed)
{
    Bytes out(n);
    for (uint8_t &b : out) {
        seed = seed * 1103515245u + 12345u;
        b = uint8_t(seed >> 16);
    }
    return out;
}

inline QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char(v >> (8 * i));
    return b;
}

inline QByteArray le64(quint64 v)
{
    return le32(quint32(v)) + le32(quint32(v >> 32));
}

inline QByteArray toQByteArray(const Bytes &b)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), int(b.size()));
}

inline sd::crypto::CipherAlgorithm cipherOf(const QString &name)
{
    using sd::crypto::CipherAlgorithm;
    if (name == QLatin1String("DES"))
        return CipherAlgorithm::Des;
    if (name.startsWith(QLatin1String("3DES")))
        return CipherAlgorithm::TripleDes;
    if (name == QLatin1String("RC2"))
        return CipherAlgorithm::Rc2;
    return CipherAlgorithm::Aes;
}

inline sd::crypto::HashAlgorithm hashOf(const QString &name)
{
    using sd::crypto::HashAlgorithm;
    if (name == QLatin1String("SHA1"))
        return HashAlgorithm::Sha1;
    if (name == QLatin1String("SHA256"))
        return HashAlgorithm::Sha256;
    if (name == QLatin1String("SHA384"))
        return HashAlgorithm::Sha384;
    if (name == QLatin1String("MD5"))
        return HashAlgorithm::Md5;
    return HashAlgorithm::Sha512;
}

// Encrypts `plain` with `key`, the IV cut or padded (0x36) to a block; CBC
// input is padded with zeros to whole blocks.
inline Bytes encryptValue(const AgileOptions &options, const Bytes &key, Bytes iv, Bytes plain)
{
    using namespace sd::crypto;
    BlockCipher cipher;
    cipher.setKey(cipherOf(options.cipher), key);
    const size_t bs = cipher.blockSize();
    iv.resize(bs, 0x36);
    const bool cfb = options.chaining == QLatin1String("ChainingModeCFB");
    if (!cfb)
        plain.resize((plain.size() + bs - 1) / bs * bs, 0);
    cipher.encrypt(cfb ? ChainingMode::Cfb8 : ChainingMode::Cbc, iv.data(), plain.data(),
                   plain.size());
    return plain;
}

inline Encrypted encryptAgile(const QByteArray &zip, const std::u16string &password,
                              const AgileOptions &options = {})
{
    using namespace sd::crypto;
    quint32 seed = 20240611;
    const HashAlgorithm hash = hashOf(options.hash);
    const size_t hashSize = digestSize(hash);
    const size_t blockSize = cipherBlockSize(cipherOf(options.cipher));
    const size_t keySize = options.cipher == QLatin1String("DES") ? 8 : size_t(options.keyBits) / 8;
    const Bytes keySalt = pseudoRandom(16, seed), passwordSalt = pseudoRandom(16, seed);
    const Bytes packageKey = pseudoRandom(keySize, seed);

    // The package, segment by segment.
    QByteArray package = le64(quint64(zip.size()));
    for (int done = 0, index = 0; done < zip.size(); done += 4096, ++index) {
        const QByteArray part = zip.mid(done, 4096);
        uint8_t blockKey[4];
        std::memcpy(blockKey, le32(quint32(index)).constData(), 4);
        const Bytes iv = agileDerive(hash, keySalt, blockKey, 4, blockSize);
        package
            += toQByteArray(encryptValue(options, packageKey, iv, Bytes(part.begin(), part.end())));
    }

    // The integrity HMAC over the encrypted package.
    const Bytes hmacKey = pseudoRandom(hashSize, seed);
    const Bytes hmacValue
        = hmac(hash, hmacKey, reinterpret_cast<const uint8_t *>(package.constData()),
               size_t(package.size()));
    const Bytes hmacKeyIv = agileDerive(hash, keySalt, kBlockKeyIntegrityKey, 8, blockSize);
    const Bytes hmacValueIv = agileDerive(hash, keySalt, kBlockKeyIntegrityValue, 8, blockSize);

    // The password's key encryptor.
    const Bytes hashed
        = agileHashPassword(hash, passwordSalt, utf16le(password), options.spinCount);
    const Bytes verifierInput = pseudoRandom(16, seed);
    auto keyFor
        = [&](const uint8_t *blockKey) { return agileDerive(hash, hashed, blockKey, 8, keySize); };
    const Bytes encInput
        = encryptValue(options, keyFor(kBlockKeyVerifierInput), passwordSalt, verifierInput);
    const Bytes encValue = encryptValue(options, keyFor(kBlockKeyVerifierValue), passwordSalt,
                                        digest(hash, verifierInput));
    const Bytes encKey
        = encryptValue(options, keyFor(kBlockKeyEncryptedKey), passwordSalt, packageKey);

    auto b64 = [](const Bytes &b) { return QString::fromLatin1(toQByteArray(b).toBase64()); };
    const QString params
        = QStringLiteral("saltSize=\"16\" blockSize=\"%1\" keyBits=\"%2\" hashSize=\"%3\" "
                         "cipherAlgorithm=\"%4\" cipherChaining=\"%5\" hashAlgorithm=\"%6\"")
              .arg(blockSize)
              .arg(options.keyBits)
              .arg(hashSize)
              .arg(options.cipher, options.chaining, options.hash);
    QString xml = QStringLiteral(
                      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                      "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\" "
                      "xmlns:p=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">"
                      "<keyData %1 saltValue=\"%2\"/>")
                      .arg(params, b64(keySalt));
    if (options.integrity)
        xml += QStringLiteral("<dataIntegrity encryptedHmacKey=\"%1\" encryptedHmacValue=\"%2\"/>")
                   .arg(b64(encryptValue(options, packageKey, hmacKeyIv, hmacKey)),
                        b64(encryptValue(options, packageKey, hmacValueIv, hmacValue)));
    xml += QStringLiteral("<keyEncryptors><keyEncryptor "
                          "uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">"
                          "<p:encryptedKey spinCount=\"%1\" %2 saltValue=\"%3\" "
                          "encryptedVerifierHashInput=\"%4\" encryptedVerifierHashValue=\"%5\" "
                          "encryptedKeyValue=\"%6\"/></keyEncryptor></keyEncryptors></encryption>")
               .arg(options.spinCount)
               .arg(params, b64(passwordSalt), b64(encInput), b64(encValue), b64(encKey));
    Encrypted out;
    out.info = QByteArray("\x04\x00\x04\x00\x40\x00\x00\x00", 8) + xml.toUtf8();
    out.package = package;
    return out;
}

inline Encrypted encryptStandard(const QByteArray &zip, const std::u16string &password,
                                 int keyBits = 128)
{
    using namespace sd::crypto;
    quint32 seed = 19970101;
    const Bytes salt = pseudoRandom(16, seed);
    const Bytes key = standardKey(salt, utf16le(password), size_t(keyBits));
    BlockCipher aes;
    aes.setKey(CipherAlgorithm::Aes, key);
    Bytes verifier = pseudoRandom(16, seed);
    Bytes verifierHash = digest(HashAlgorithm::Sha1, verifier);
    verifierHash.resize(32, 0);
    aes.encrypt(ChainingMode::Ecb, nullptr, verifier.data(), verifier.size());
    aes.encrypt(ChainingMode::Ecb, nullptr, verifierHash.data(), verifierHash.size());

    const quint32 alg = keyBits == 128 ? kAlgAes128 : keyBits == 192 ? kAlgAes192 : kAlgAes256;
    const QString provider
        = QStringLiteral("Microsoft Enhanced RSA and AES Cryptographic Provider");
    QByteArray csp(reinterpret_cast<const char *>(provider.utf16()), provider.size() * 2);
    csp += QByteArray(2, '\0');
    const QByteArray header = le32(0x24) + le32(0) + le32(alg) + le32(kAlgSha1)
        + le32(quint32(keyBits)) + le32(0x18) + le32(0) + le32(0) + csp;
    Encrypted out;
    out.info = QByteArray("\x04\x00\x02\x00", 4) + le32(0x24) + le32(quint32(header.size()))
        + header + le32(16) + toQByteArray(salt) + toQByteArray(verifier) + le32(20)
        + toQByteArray(verifierHash);
    Bytes data(zip.begin(), zip.end());
    data.resize((data.size() + 15) / 16 * 16, 0);
    aes.encrypt(ChainingMode::Ecb, nullptr, data.data(), data.size());
    out.package = le64(quint64(zip.size())) + toQByteArray(data);
    return out;
}

// ---------------------------------------------------------------------------
// .xls FILEPASS payloads
// ---------------------------------------------------------------------------

// A BIFF8 FILEPASS for RC4 (version 1.1) or RC4 CryptoAPI (keyBits 40-128)
// that `password` opens, made with the key derivations under test.
inline QByteArray rc4FilePass(const std::u16string &password, int cryptoApiKeyBits = 0)
{
    using namespace sd::crypto;
    quint32 seed = 1997;
    const Bytes salt = pseudoRandom(16, seed), verifier = pseudoRandom(16, seed);
    Rc4 rc4;
    Bytes encVerifier = verifier, encHash;
    if (cryptoApiKeyBits == 0) {
        uint8_t key[16];
        rc4StandardBlockKey(rc4StandardKeyBase(utf16le(password), salt), 0, key);
        rc4.setKey(key, 16);
        encHash = digest(HashAlgorithm::Md5, verifier);
    } else {
        const Bytes key = rc4CryptoApiBlockKey(digest(HashAlgorithm::Sha1, salt, utf16le(password)),
                                               0, size_t(cryptoApiKeyBits));
        rc4.setKey(key.data(), key.size());
        encHash = digest(HashAlgorithm::Sha1, verifier);
    }
    rc4.apply(encVerifier.data(), encVerifier.size());
    rc4.apply(encHash.data(), encHash.size());
    if (cryptoApiKeyBits == 0)
        return QByteArray("\1\0\1\0\1\0", 6) + toQByteArray(salt) + toQByteArray(encVerifier)
            + toQByteArray(encHash);
    const QByteArray header = le32(0x04) + le32(0) + le32(kAlgRc4) + le32(kAlgSha1)
        + le32(quint32(cryptoApiKeyBits)) + le32(1) + le32(0) + le32(0)
        + QByteArray("B\0a\0s\0e\0\0\0", 10);
    return QByteArray("\1\0\4\0\2\0", 6) + le32(0x04) + le32(quint32(header.size())) + header
        + le32(16) + toQByteArray(salt) + toQByteArray(encVerifier) + le32(20)
        + toQByteArray(encHash);
}

// A FILEPASS for XOR obfuscation (BIFF8 with its scheme type, or BIFF2-7).
inline QByteArray xorFilePass(const QByteArray &password, bool biff8)
{
    using namespace sd::crypto;
    const Bytes pw(password.begin(), password.end());
    const uint16_t key = xorKey(pw), verifier = xorPasswordVerifier(pw);
    QByteArray out = biff8 ? QByteArray(2, '\0') : QByteArray();
    out += char(key & 0xFF);
    out += char(key >> 8);
    out += char(verifier & 0xFF);
    out += char(verifier >> 8);
    return out;
}

} // namespace officeencryptor
