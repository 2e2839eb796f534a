#include "crypto/biffcrypt.h"

#include "crypto/biffcrypt_p.h"
#include "crypto/encryptionheader.h"
#include "io/byteorder.h"

#include <algorithm>
#include <cstring>

namespace sd {
namespace crypto {

namespace {

// The RC4 re-keying block of .xls encryption (bytes of the workbook stream).
constexpr size_t kBiffRc4BlockSize = 1024;

// Record ids whose payload stays clear.
enum : uint16_t {
    kBof2 = 0x0009,
    kFilePass = 0x002F,
    kBoundSheet = 0x0085,
    kRrdHead = 0x0138,
    kUsrExcl = 0x0194,
    kFileLock = 0x0195,
    kRrdInfo = 0x0196,
    kInterfaceHdr = 0x00E1,
    kBof3 = 0x0209,
    kBof4 = 0x0409,
    kBof = 0x0809,
};

// FILEPASS scheme types (BIFF8) and RC4 header versions.
constexpr uint16_t kTypeXor = 0;
constexpr uint16_t kTypeRc4 = 1;
constexpr uint16_t kRc4StandardVersion = 1;

// ---------------------------------------------------------------------------
// XOR obfuscation
// ---------------------------------------------------------------------------

// Starting values of the 16-bit key, by password length (1 to 15).
const uint16_t kXorInitialCode[15] = {
    0xE1F0, 0x1D0F, 0xCC9C, 0x84C0, 0x110C, 0x0E10, 0xF1CE, 0x313E,
    0x1872, 0xE139, 0xD40F, 0x84F9, 0x280C, 0xA96A, 0x4EC3,
};

// Folded into the key for every set bit of the password's 7-bit characters,
// the last character's low bit first (7 values per character).
const uint16_t kXorMatrix[105] = {
    0xAEFC, 0x4DD9, 0x9BB2, 0x2745, 0x4E8A, 0x9D14, 0x2A09, 0x7B61, 0xF6C2, 0xFDA5, 0xEB6B, 0xC6F7,
    0x9DCF, 0x2BBF, 0x4563, 0x8AC6, 0x05AD, 0x0B5A, 0x16B4, 0x2D68, 0x5AD0, 0x0375, 0x06EA, 0x0DD4,
    0x1BA8, 0x3750, 0x6EA0, 0xDD40, 0xD849, 0xA0B3, 0x5147, 0xA28E, 0x553D, 0xAA7A, 0x44D5, 0x6F45,
    0xDE8A, 0xAD35, 0x4A4B, 0x9496, 0x390D, 0x721A, 0xEB23, 0xC667, 0x9CEF, 0x29FF, 0x53FE, 0xA7FC,
    0x5FD9, 0x47D3, 0x8FA6, 0x0F6D, 0x1EDA, 0x3DB4, 0x7B68, 0xF6D0, 0xB861, 0x60E3, 0xC1C6, 0x93AD,
    0x377B, 0x6EF6, 0xDDEC, 0x45A0, 0x8B40, 0x06A1, 0x0D42, 0x1A84, 0x3508, 0x6A10, 0xAA51, 0x4483,
    0x8906, 0x022D, 0x045A, 0x08B4, 0x1168, 0x76B4, 0xED68, 0xCAF1, 0x85C3, 0x1BA7, 0x374E, 0x6E9C,
    0x3730, 0x6E60, 0xDCC0, 0xA9A1, 0x4363, 0x86C6, 0x1DAD, 0x3331, 0x6662, 0xCCC4, 0x89A9, 0x0373,
    0x06E6, 0x0DCC, 0x1021, 0x2042, 0x4084, 0x8108, 0x1231, 0x2462, 0x48C4,
};

// Fills the 16-byte array after a password shorter than 16 bytes.
const uint8_t kXorPad[15]
    = { 0xBB, 0xFF, 0xFF, 0xBA, 0xFF, 0xFF, 0xB9, 0x80, 0x00, 0xBE, 0x0F, 0x00, 0xBF, 0x0F, 0x00 };

uint8_t rotateRight1(uint8_t b)
{
    return uint8_t((b >> 1) | (b << 7));
}

uint8_t rotateLeft3(uint8_t b)
{
    return uint8_t((b << 3) | (b >> 5));
}

} // namespace

uint16_t xorPasswordVerifier(const Bytes &password)
{
    uint16_t verifier = 0;
    // The password bytes from last to first, then its length.
    for (size_t i = password.size() + 1; i-- > 0;) {
        const uint8_t b = i == 0 ? uint8_t(password.size()) : password[i - 1];
        const uint16_t carry = (verifier & 0x4000) ? 1 : 0;
        verifier = uint16_t((((verifier << 1) & 0x7FFF) | carry) ^ b);
    }
    return uint16_t(verifier ^ 0xCE4B);
}

uint16_t xorKey(const Bytes &password)
{
    if (password.empty() || password.size() > 15)
        return 0;
    uint16_t key = kXorInitialCode[password.size() - 1];
    int element = 104;
    for (size_t i = password.size(); i-- > 0;) {
        uint8_t c = password[i];
        for (int bit = 0; bit < 7; ++bit, --element) {
            if (c & 0x40)
                key ^= kXorMatrix[element];
            c = uint8_t(c << 1);
        }
    }
    return key;
}

std::array<uint8_t, 16> xorArray(const Bytes &password, uint16_t key)
{
    std::array<uint8_t, 16> out {};
    const size_t n = std::min<size_t>(password.size(), 15);
    for (size_t i = 0; i < 16; ++i) {
        const uint8_t b = i < n ? password[i] : kXorPad[i - n];
        const uint8_t k = (i & 1) ? uint8_t(key >> 8) : uint8_t(key & 0xFF);
        out[i] = rotateRight1(uint8_t(b ^ k));
    }
    return out;
}

namespace {

class XorDecryptor final : public BiffDecryptor
{
public:
    explicit XorDecryptor(const std::array<uint8_t, 16> &array)
        : m_array(array)
    {
    }
    ~XorDecryptor() override { wipe(m_array.data(), m_array.size()); }
    BiffScheme scheme() const override { return BiffScheme::Xor; }

    // Each byte is XORed with the array entry that its stream offset plus the
    // record's size picks, then rotated left by three bits.
    void decrypt(uint8_t *data, size_t size, uint64_t offset, size_t recordSize) override
    {
        for (size_t i = 0; i < size; ++i)
            data[i] = rotateLeft3(uint8_t(data[i] ^ m_array[(offset + recordSize + i) & 15]));
    }

private:
    std::array<uint8_t, 16> m_array;
};

std::unique_ptr<BiffDecryptor> openXor(const uint8_t *p, size_t size, const PasswordList &passwords,
                                       CryptoError *error)
{
    if (size < 4) {
        *error = CryptoError(CryptoStatus::Malformed, "XOR FILEPASS cut short");
        return nullptr;
    }
    const uint16_t key = le16(p);
    const uint16_t verifier = le16(p + 2);
    for (const std::u16string &password : passwords) {
        for (const Bytes &form : xorPasswordForms(password)) {
            if (form.empty() || xorPasswordVerifier(form) != verifier || xorKey(form) != key)
                continue;
            return std::make_unique<XorDecryptor>(xorArray(form, key));
        }
    }
    *error = CryptoError(CryptoStatus::PasswordNeeded, "XOR obfuscation");
    return nullptr;
}

// ---------------------------------------------------------------------------
// RC4: a fresh key for every 1024-byte block of the stream
// ---------------------------------------------------------------------------

class Rc4BlockDecryptor : public BiffDecryptor
{
public:
    void decrypt(uint8_t *data, size_t size, uint64_t offset, size_t) override
    {
        while (size > 0) {
            const uint64_t block = offset / kBiffRc4BlockSize;
            const size_t within = size_t(offset % kBiffRc4BlockSize);
            if (block != m_block || within < m_position) {
                setBlockKey(uint32_t(block));
                m_block = block;
                m_position = 0;
            }
            m_rc4.skip(within - m_position);
            const size_t n = std::min(size, kBiffRc4BlockSize - within);
            m_rc4.apply(data, n);
            m_position = within + n;
            data += n;
            size -= n;
            offset += n;
        }
    }

protected:
    // Keys m_rc4 for block `block`.
    virtual void setBlockKey(uint32_t block) = 0;
    Rc4 m_rc4;

private:
    uint64_t m_block = UINT64_MAX;
    size_t m_position = 0; // keystream bytes used in the current block
};

// Excel 97/2000: MD5 of the password, cut to 40 bits and stretched with the
// salt; each block key is MD5(that, block number).
class Rc4StandardDecryptor final : public Rc4BlockDecryptor
{
public:
    explicit Rc4StandardDecryptor(const Bytes &keyBase)
        : m_keyBase(keyBase)
    {
    }
    ~Rc4StandardDecryptor() override { wipe(m_keyBase); }
    BiffScheme scheme() const override { return BiffScheme::Rc4; }

protected:
    void setBlockKey(uint32_t block) override
    {
        uint8_t key[16];
        rc4StandardBlockKey(m_keyBase, block, key);
        m_rc4.setKey(key, sizeof key);
        wipe(key, sizeof key);
    }

private:
    Bytes m_keyBase;
};

// CryptoAPI: SHA-1 of salt and password; each block key is SHA-1(that, block
// number) cut to the key size.
class Rc4CryptoApiDecryptor final : public Rc4BlockDecryptor
{
public:
    Rc4CryptoApiDecryptor(const Bytes &baseHash, size_t keyBits)
        : m_baseHash(baseHash)
        , m_keyBits(keyBits)
    {
    }
    ~Rc4CryptoApiDecryptor() override { wipe(m_baseHash); }
    BiffScheme scheme() const override { return BiffScheme::Rc4CryptoApi; }

protected:
    void setBlockKey(uint32_t block) override
    {
        Bytes key = rc4CryptoApiBlockKey(m_baseHash, block, m_keyBits);
        m_rc4.setKey(key.data(), key.size());
        wipe(key);
    }

private:
    Bytes m_baseHash;
    size_t m_keyBits;
};

} // namespace

Bytes rc4StandardKeyBase(const Bytes &passwordUtf16, const Bytes &salt)
{
    Bytes h0 = digest(HashAlgorithm::Md5, passwordUtf16);
    Hash md5(HashAlgorithm::Md5);
    for (int i = 0; i < 16; ++i) {
        md5.update(h0.data(), 5);
        md5.update(salt);
    }
    Bytes h1(16);
    md5.final(h1.data());
    h1.resize(5);
    wipe(h0);
    return h1;
}

void rc4StandardBlockKey(const Bytes &keyBase, uint32_t block, uint8_t key[16])
{
    uint8_t b[4];
    putLe32(b, block);
    Hash md5(HashAlgorithm::Md5);
    md5.update(keyBase);
    md5.update(b, 4);
    md5.final(key);
}

Bytes rc4CryptoApiBlockKey(const Bytes &baseHash, uint32_t block, size_t keyBits)
{
    uint8_t b[4];
    putLe32(b, block);
    Hash sha1(HashAlgorithm::Sha1);
    sha1.update(baseHash);
    sha1.update(b, 4);
    Bytes key(20);
    sha1.final(key.data());
    key.resize(keyBits / 8);
    // A 40-bit key is used as 128 bits with the rest zero, as the CryptoAPI
    // providers do.
    if (keyBits == 40)
        key.resize(16, 0);
    return key;
}

namespace {

// True when the decrypted verifier hashes to the decrypted verifier hash.
bool rc4VerifierMatches(Rc4 &rc4, HashAlgorithm algorithm, const Bytes &encryptedVerifier,
                        const Bytes &encryptedHash)
{
    Bytes verifier = encryptedVerifier, hash = encryptedHash;
    rc4.apply(verifier.data(), verifier.size());
    rc4.apply(hash.data(), hash.size());
    const Bytes expected = digest(algorithm, verifier);
    const bool match = hash.size() >= expected.size()
        && std::equal(expected.begin(), expected.end(), hash.begin());
    wipe(verifier);
    wipe(hash);
    return match;
}

std::unique_ptr<BiffDecryptor> openRc4Standard(const uint8_t *p, size_t size,
                                               const PasswordList &passwords, CryptoError *error)
{
    // version (4), salt, encrypted verifier, encrypted verifier hash (16 each)
    if (size < 4 + 48) {
        *error = CryptoError(CryptoStatus::Malformed, "RC4 FILEPASS cut short");
        return nullptr;
    }
    const Bytes salt(p + 4, p + 20), verifier(p + 20, p + 36), hash(p + 36, p + 52);
    for (const std::u16string &password : passwords) {
        Bytes keyBase = rc4StandardKeyBase(utf16le(password), salt);
        uint8_t key[16];
        rc4StandardBlockKey(keyBase, 0, key);
        Rc4 rc4;
        rc4.setKey(key, sizeof key);
        wipe(key, sizeof key);
        if (rc4VerifierMatches(rc4, HashAlgorithm::Md5, verifier, hash)) {
            auto d = std::make_unique<Rc4StandardDecryptor>(keyBase);
            wipe(keyBase);
            return d;
        }
        wipe(keyBase);
    }
    *error = CryptoError(CryptoStatus::PasswordNeeded, "RC4");
    return nullptr;
}

CryptoError checkCryptoApiHeader(const EncryptionHeader &header, size_t *keyBits)
{
    if (header.algorithm != kAlgRc4 && header.algorithm != 0)
        return CryptoError(CryptoStatus::Unsupported,
                           "CryptoAPI " + algorithmName(header.algorithm) + " in FILEPASS");
    if (header.hashAlgorithm != kAlgSha1 && header.hashAlgorithm != 0)
        return CryptoError(CryptoStatus::Unsupported,
                           "CryptoAPI hash " + algorithmName(header.hashAlgorithm));
    *keyBits = header.keyBits == 0 ? 40 : header.keyBits;
    if (*keyBits < 40 || *keyBits > 128 || *keyBits % 8 != 0)
        return CryptoError(CryptoStatus::OutOfBounds,
                           "RC4 key of " + std::to_string(header.keyBits) + " bits");
    return {};
}

std::unique_ptr<BiffDecryptor> openRc4CryptoApi(const uint8_t *p, size_t size,
                                                const PasswordList &passwords, CryptoError *error)
{
    EncryptionHeader header;
    EncryptionVerifier v;
    size_t keyBits = 0;
    CryptoError e = parseEncryptionHeader(p + 4, size - 4, 20, header, v);
    if (!e)
        e = checkCryptoApiHeader(header, &keyBits);
    if (e) {
        *error = e;
        return nullptr;
    }
    for (const std::u16string &password : passwords) {
        Bytes baseHash = digest(HashAlgorithm::Sha1, v.salt, utf16le(password));
        Bytes key = rc4CryptoApiBlockKey(baseHash, 0, keyBits);
        Rc4 rc4;
        rc4.setKey(key.data(), key.size());
        wipe(key);
        if (rc4VerifierMatches(rc4, HashAlgorithm::Sha1, v.encryptedVerifier,
                               v.encryptedVerifierHash)) {
            auto d = std::make_unique<Rc4CryptoApiDecryptor>(baseHash, keyBits);
            wipe(baseHash);
            return d;
        }
        wipe(baseHash);
    }
    *error = CryptoError(CryptoStatus::PasswordNeeded, "RC4 CryptoAPI");
    return nullptr;
}

} // namespace

// ---------------------------------------------------------------------------
// FILEPASS
// ---------------------------------------------------------------------------

const char *biffSchemeName(BiffScheme scheme)
{
    switch (scheme) {
    case BiffScheme::Xor:
        return "XOR obfuscation";
    case BiffScheme::Rc4:
        return "RC4";
    case BiffScheme::Rc4CryptoApi:
        break;
    }
    return "RC4 CryptoAPI";
}

std::unique_ptr<BiffDecryptor> openFilePass(const uint8_t *payload, size_t size,
                                            FilePassLayout layout, const PasswordList &passwords,
                                            CryptoError *error)
{
    CryptoError scratch;
    if (!error)
        error = &scratch;
    *error = CryptoError();
    if (layout == FilePassLayout::Biff2To7)
        return openXor(payload, size, passwords, error);
    if (size < 2) {
        *error = CryptoError(CryptoStatus::Malformed, "FILEPASS cut short");
        return nullptr;
    }
    const uint16_t type = le16(payload);
    if (type == kTypeXor)
        return openXor(payload + 2, size - 2, passwords, error);
    if (type != kTypeRc4) {
        *error = CryptoError(CryptoStatus::Unsupported, "FILEPASS scheme " + std::to_string(type));
        return nullptr;
    }
    if (size < 6) {
        *error = CryptoError(CryptoStatus::Malformed, "RC4 FILEPASS cut short");
        return nullptr;
    }
    const uint16_t major = le16(payload + 2), minor = le16(payload + 4);
    if (major == kRc4StandardVersion && minor == kRc4StandardVersion)
        return openRc4Standard(payload + 2, size - 2, passwords, error);
    if (major >= 2 && major <= 4 && minor == 2)
        return openRc4CryptoApi(payload + 2, size - 2, passwords, error);
    *error = CryptoError(CryptoStatus::Unsupported,
                         "RC4 FILEPASS version " + std::to_string(major) + "."
                             + std::to_string(minor));
    return nullptr;
}

std::string describeFilePass(const uint8_t *payload, size_t size, FilePassLayout layout)
{
    if (layout == FilePassLayout::Biff2To7 || (size >= 2 && le16(payload) == kTypeXor))
        return biffSchemeName(BiffScheme::Xor);
    if (size < 6 || le16(payload) != kTypeRc4)
        return "unknown scheme";
    const uint16_t major = le16(payload + 2), minor = le16(payload + 4);
    if (major == kRc4StandardVersion && minor == kRc4StandardVersion)
        return biffSchemeName(BiffScheme::Rc4);
    EncryptionHeader header;
    EncryptionVerifier v;
    if (parseEncryptionHeader(payload + 6, size - 6, 20, header, v))
        return "RC4 CryptoAPI, damaged header";
    std::string text
        = "RC4 CryptoAPI, " + std::to_string(header.keyBits ? header.keyBits : 40) + "-bit key";
    if (!header.provider.empty()) {
        text += " (";
        for (char16_t c : header.provider)
            text += c < 0x80 ? char(c) : '?';
        text += ')';
    }
    return text;
}

size_t clearPayloadBytes(uint16_t recordId, size_t payloadSize)
{
    switch (recordId) {
    case kBof:
    case kBof2:
    case kBof3:
    case kBof4:
    case kFilePass:
    case kInterfaceHdr:
    case kFileLock:
    case kUsrExcl:
    case kRrdInfo:
    case kRrdHead:
        return payloadSize;
    case kBoundSheet:
        return std::min<size_t>(payloadSize, 4);
    default:
        return 0;
    }
}

void decryptBiffRecord(BiffDecryptor &decryptor, uint16_t recordId, uint8_t *payload,
                       size_t payloadSize, uint64_t payloadOffset)
{
    const size_t clear = clearPayloadBytes(recordId, payloadSize);
    if (clear < payloadSize)
        decryptor.decrypt(payload + clear, payloadSize - clear, payloadOffset + clear, payloadSize);
}

void decryptBiffStream(BiffDecryptor &decryptor, uint8_t *stream, size_t size, size_t from)
{
    size_t pos = from;
    while (pos < size && size - pos >= 4) {
        const uint16_t id = le16(stream + pos);
        const size_t declared = le16(stream + pos + 2);
        const size_t available = std::min(declared, size - pos - 4);
        const size_t clear = clearPayloadBytes(id, available);
        if (clear < available)
            decryptor.decrypt(stream + pos + 4 + clear, available - clear, pos + 4 + clear,
                              declared);
        pos += 4 + available;
    }
}

} // namespace crypto
} // namespace sd
