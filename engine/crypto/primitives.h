#pragma once

// The hashes and ciphers that protected workbooks use, over the crypto
// library. Nothing else in the engine names the library, so replacing it
// touches this pair of files only.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sd {
namespace crypto {

using Bytes = std::vector<uint8_t>;

enum class HashAlgorithm : uint8_t { Md2, Md4, Md5, Ripemd160, Sha1, Sha256, Sha384, Sha512 };

// Digest size in bytes (16 to 64).
size_t digestSize(HashAlgorithm algorithm);
// Short name for messages ("SHA-512").
const char *hashName(HashAlgorithm algorithm);

// An incremental hash that can be reused: init() before each message.
class Hash
{
public:
    explicit Hash(HashAlgorithm algorithm);
    ~Hash();
    Hash(const Hash &) = delete;
    Hash &operator=(const Hash &) = delete;

    void init();
    void update(const uint8_t *data, size_t size);
    void update(const Bytes &data) { update(data.data(), data.size()); }
    // Writes digestSize() bytes to out and leaves the hash ready for init().
    void final(uint8_t *out);
    size_t digestSize() const;

private:
    const void *m_meta;
    alignas(16) unsigned char m_state[256];
};

// The digest of the concatenation of up to three pieces.
Bytes digest(HashAlgorithm algorithm, const Bytes &a, const Bytes &b = {}, const Bytes &c = {});

// HMAC of data under key.
Bytes hmac(HashAlgorithm algorithm, const Bytes &key, const uint8_t *data, size_t size);

enum class CipherAlgorithm : uint8_t { Aes, Des, TripleDes, Rc2 };
enum class ChainingMode : uint8_t { Ecb, Cbc, Cfb8 };

const char *cipherName(CipherAlgorithm algorithm);
// Block size in bytes: 16 for AES, 8 for the others.
size_t cipherBlockSize(CipherAlgorithm algorithm);

// A block cipher with its key set. ECB and CBC work on whole blocks; CFB8
// (the cipher feedback of one byte) on any length. The IV is one block.
class BlockCipher
{
public:
    BlockCipher() = default;
    ~BlockCipher();
    BlockCipher(const BlockCipher &) = delete;
    BlockCipher &operator=(const BlockCipher &) = delete;

    // False when the key length does not suit the cipher (AES: 16, 24 or
    // 32 bytes; DES: 8; 3DES: 16 or 24; RC2: 5 to 128).
    bool setKey(CipherAlgorithm algorithm, const uint8_t *key, size_t size);
    bool setKey(CipherAlgorithm algorithm, const Bytes &key)
    {
        return setKey(algorithm, key.data(), key.size());
    }
    size_t blockSize() const { return cipherBlockSize(m_algorithm); }

    // In place. For ECB and CBC, size must be a multiple of blockSize().
    void decrypt(ChainingMode mode, const uint8_t *iv, uint8_t *data, size_t size) const;
    void encrypt(ChainingMode mode, const uint8_t *iv, uint8_t *data, size_t size) const;

private:
    struct Function
    {
        const void *ctx;
        void (*func)(const void *ctx, size_t size, uint8_t *dst, const uint8_t *src);
    };
    Function function(bool decrypt) const;

    CipherAlgorithm m_algorithm = CipherAlgorithm::Aes;
    bool m_ready = false;
    size_t m_keySize = 0;
    // Both AES schedules are kept, since CFB decrypts with the forward one.
    alignas(16) unsigned char m_forward[512];
    alignas(16) unsigned char m_inverse[512];
};

// RC4 (arcfour): a keystream applied with XOR, so one call both encrypts and
// decrypts.
class Rc4
{
public:
    Rc4() = default;
    ~Rc4();
    Rc4(const Rc4 &) = delete;
    Rc4 &operator=(const Rc4 &) = delete;

    // Key of 1 to 256 bytes; the keystream starts over.
    void setKey(const uint8_t *key, size_t size);
    void apply(uint8_t *data, size_t size);
    // Advances the keystream by n bytes.
    void skip(size_t n);

private:
    alignas(8) unsigned char m_state[264];
};

// Overwrites key material in a way the compiler does not drop.
void wipe(void *data, size_t size);
inline void wipe(Bytes &data)
{
    wipe(data.data(), data.size());
}

} // namespace crypto
} // namespace sd
