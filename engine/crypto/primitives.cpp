#include "crypto/primitives.h"

#include <nettle/aes.h>
#include <nettle/arcfour.h>
#include <nettle/arctwo.h>
#include <nettle/cbc.h>
#include <nettle/cfb.h>
#include <nettle/des.h>
#include <nettle/hmac.h>
#include <nettle/md2.h>
#include <nettle/md4.h>
#include <nettle/md5.h>
#include <nettle/nettle-meta.h>
#include <nettle/ripemd160.h>
#include <nettle/sha1.h>
#include <nettle/sha2.h>

#include <cstring>
#include <string.h> // explicit_bzero

namespace sd {
namespace crypto {

namespace {

const nettle_hash *meta(HashAlgorithm algorithm)
{
    switch (algorithm) {
    case HashAlgorithm::Md2:
        return &nettle_md2;
    case HashAlgorithm::Md4:
        return &nettle_md4;
    case HashAlgorithm::Md5:
        return &nettle_md5;
    case HashAlgorithm::Ripemd160:
        return &nettle_ripemd160;
    case HashAlgorithm::Sha1:
        return &nettle_sha1;
    case HashAlgorithm::Sha256:
        return &nettle_sha256;
    case HashAlgorithm::Sha384:
        return &nettle_sha384;
    case HashAlgorithm::Sha512:
        break;
    }
    return &nettle_sha512;
}

const nettle_hash *asMeta(const void *p)
{
    return static_cast<const nettle_hash *>(p);
}

// Every hash context fits the fixed state buffers of Hash and hmac().
constexpr size_t kMaxHashContext = 256;
static_assert(sizeof(sha512_ctx) <= kMaxHashContext, "hash state buffer too small");
static_assert(sizeof(md2_ctx) <= kMaxHashContext && sizeof(ripemd160_ctx) <= kMaxHashContext,
              "hash state buffer too small");
static_assert(sizeof(aes256_ctx) <= 512 && sizeof(des3_ctx) <= 512 && sizeof(arctwo_ctx) <= 512,
              "cipher state buffer too small");
static_assert(sizeof(arcfour_ctx) <= 264, "RC4 state buffer too small");

// nettle's modes take any cipher through one function type, as its own
// macros do.
template<typename Ctx>
nettle_cipher_func *asCipherFunc(void (*f)(Ctx *, size_t, uint8_t *, const uint8_t *))
{
    return reinterpret_cast<nettle_cipher_func *>(f);
}

} // namespace

// ---------------------------------------------------------------------------
// Hashes
// ---------------------------------------------------------------------------

size_t digestSize(HashAlgorithm algorithm)
{
    return meta(algorithm)->digest_size;
}

const char *hashName(HashAlgorithm algorithm)
{
    switch (algorithm) {
    case HashAlgorithm::Md2:
        return "MD2";
    case HashAlgorithm::Md4:
        return "MD4";
    case HashAlgorithm::Md5:
        return "MD5";
    case HashAlgorithm::Ripemd160:
        return "RIPEMD-160";
    case HashAlgorithm::Sha1:
        return "SHA-1";
    case HashAlgorithm::Sha256:
        return "SHA-256";
    case HashAlgorithm::Sha384:
        return "SHA-384";
    case HashAlgorithm::Sha512:
        break;
    }
    return "SHA-512";
}

Hash::Hash(HashAlgorithm algorithm)
    : m_meta(meta(algorithm))
{
    init();
}

Hash::~Hash()
{
    wipe(m_state, sizeof m_state);
}

void Hash::init()
{
    asMeta(m_meta)->init(m_state);
}

void Hash::update(const uint8_t *data, size_t size)
{
    asMeta(m_meta)->update(m_state, size, data);
}

void Hash::final(uint8_t *out)
{
    const nettle_hash *h = asMeta(m_meta);
    h->digest(m_state, h->digest_size, out); // nettle re-initialises the state
}

size_t Hash::digestSize() const
{
    return asMeta(m_meta)->digest_size;
}

Bytes digest(HashAlgorithm algorithm, const Bytes &a, const Bytes &b, const Bytes &c)
{
    Hash hash(algorithm);
    hash.update(a);
    hash.update(b);
    hash.update(c);
    Bytes out(hash.digestSize());
    hash.final(out.data());
    return out;
}

Bytes hmac(HashAlgorithm algorithm, const Bytes &key, const uint8_t *data, size_t size)
{
    const nettle_hash *h = meta(algorithm);
    alignas(16) unsigned char outer[kMaxHashContext], inner[kMaxHashContext],
        state[kMaxHashContext];
    hmac_set_key(outer, inner, state, h, key.size(), key.data());
    hmac_update(state, h, size, data);
    Bytes out(h->digest_size);
    hmac_digest(outer, inner, state, h, out.size(), out.data());
    wipe(outer, sizeof outer);
    wipe(inner, sizeof inner);
    wipe(state, sizeof state);
    return out;
}

// ---------------------------------------------------------------------------
// Block ciphers
// ---------------------------------------------------------------------------

const char *cipherName(CipherAlgorithm algorithm)
{
    switch (algorithm) {
    case CipherAlgorithm::Aes:
        return "AES";
    case CipherAlgorithm::Des:
        return "DES";
    case CipherAlgorithm::TripleDes:
        return "3DES";
    case CipherAlgorithm::Rc2:
        break;
    }
    return "RC2";
}

size_t cipherBlockSize(CipherAlgorithm algorithm)
{
    return algorithm == CipherAlgorithm::Aes ? 16 : 8;
}

BlockCipher::~BlockCipher()
{
    wipe(m_forward, sizeof m_forward);
    wipe(m_inverse, sizeof m_inverse);
}

bool BlockCipher::setKey(CipherAlgorithm algorithm, const uint8_t *key, size_t size)
{
    m_ready = false;
    m_algorithm = algorithm;
    m_keySize = size;
    switch (algorithm) {
    case CipherAlgorithm::Aes: {
        auto *f = reinterpret_cast<aes256_ctx *>(m_forward);
        auto *i = reinterpret_cast<aes256_ctx *>(m_inverse);
        if (size == 16) {
            aes128_set_encrypt_key(reinterpret_cast<aes128_ctx *>(f), key);
            aes128_set_decrypt_key(reinterpret_cast<aes128_ctx *>(i), key);
        } else if (size == 24) {
            aes192_set_encrypt_key(reinterpret_cast<aes192_ctx *>(f), key);
            aes192_set_decrypt_key(reinterpret_cast<aes192_ctx *>(i), key);
        } else if (size == 32) {
            aes256_set_encrypt_key(f, key);
            aes256_set_decrypt_key(i, key);
        } else {
            return false;
        }
        break;
    }
    case CipherAlgorithm::Des:
        if (size != DES_KEY_SIZE)
            return false;
        des_set_key(reinterpret_cast<des_ctx *>(m_forward), key); // weak keys work all the same
        break;
    case CipherAlgorithm::TripleDes: {
        uint8_t k[DES3_KEY_SIZE];
        if (size == 16) { // two-key 3DES: K1 K2 K1
            std::memcpy(k, key, 16);
            std::memcpy(k + 16, key, 8);
        } else if (size == DES3_KEY_SIZE) {
            std::memcpy(k, key, size);
        } else {
            return false;
        }
        des3_set_key(reinterpret_cast<des3_ctx *>(m_forward), k);
        wipe(k, sizeof k);
        break;
    }
    case CipherAlgorithm::Rc2:
        if (size < ARCTWO_MIN_KEY_SIZE || size > ARCTWO_MAX_KEY_SIZE)
            return false;
        arctwo_set_key(reinterpret_cast<arctwo_ctx *>(m_forward), size, key);
        break;
    }
    m_ready = true;
    return true;
}

BlockCipher::Function BlockCipher::function(bool decrypt) const
{
    const void *forward = m_forward, *inverse = m_inverse;
    switch (m_algorithm) {
    case CipherAlgorithm::Aes:
        if (m_keySize == 16)
            return decrypt ? Function { inverse, asCipherFunc(aes128_decrypt) }
                           : Function { forward, asCipherFunc(aes128_encrypt) };
        if (m_keySize == 24)
            return decrypt ? Function { inverse, asCipherFunc(aes192_decrypt) }
                           : Function { forward, asCipherFunc(aes192_encrypt) };
        return decrypt ? Function { inverse, asCipherFunc(aes256_decrypt) }
                       : Function { forward, asCipherFunc(aes256_encrypt) };
    case CipherAlgorithm::Des:
        return { forward, asCipherFunc(decrypt ? des_decrypt : des_encrypt) };
    case CipherAlgorithm::TripleDes:
        return { forward, asCipherFunc(decrypt ? des3_decrypt : des3_encrypt) };
    case CipherAlgorithm::Rc2:
        break;
    }
    return { forward, asCipherFunc(decrypt ? arctwo_decrypt : arctwo_encrypt) };
}

void BlockCipher::decrypt(ChainingMode mode, const uint8_t *iv, uint8_t *data, size_t size) const
{
    if (!m_ready)
        return;
    const size_t bs = blockSize();
    uint8_t chain[16] = {};
    if (iv) // ECB has none
        std::memcpy(chain, iv, bs);
    switch (mode) {
    case ChainingMode::Ecb: {
        const Function f = function(true);
        f.func(f.ctx, size - size % bs, data, data);
        break;
    }
    case ChainingMode::Cbc: {
        const Function f = function(true);
        cbc_decrypt(f.ctx, f.func, bs, chain, size - size % bs, data, data);
        break;
    }
    case ChainingMode::Cfb8: {
        const Function f = function(false); // CFB runs the cipher forwards both ways
        cfb8_decrypt(f.ctx, f.func, bs, chain, size, data, data);
        break;
    }
    }
}

void BlockCipher::encrypt(ChainingMode mode, const uint8_t *iv, uint8_t *data, size_t size) const
{
    if (!m_ready)
        return;
    const size_t bs = blockSize();
    uint8_t chain[16] = {};
    if (iv) // ECB has none
        std::memcpy(chain, iv, bs);
    const Function f = function(false);
    switch (mode) {
    case ChainingMode::Ecb:
        f.func(f.ctx, size - size % bs, data, data);
        break;
    case ChainingMode::Cbc:
        cbc_encrypt(f.ctx, f.func, bs, chain, size - size % bs, data, data);
        break;
    case ChainingMode::Cfb8:
        cfb8_encrypt(f.ctx, f.func, bs, chain, size, data, data);
        break;
    }
}

// ---------------------------------------------------------------------------
// RC4
// ---------------------------------------------------------------------------

Rc4::~Rc4()
{
    wipe(m_state, sizeof m_state);
}

void Rc4::setKey(const uint8_t *key, size_t size)
{
    arcfour_set_key(reinterpret_cast<arcfour_ctx *>(m_state), size, key);
}

void Rc4::apply(uint8_t *data, size_t size)
{
    arcfour_crypt(reinterpret_cast<arcfour_ctx *>(m_state), size, data, data);
}

void Rc4::skip(size_t n)
{
    uint8_t scratch[256];
    while (n > 0) {
        const size_t step = n < sizeof scratch ? n : sizeof scratch;
        arcfour_crypt(reinterpret_cast<arcfour_ctx *>(m_state), step, scratch, scratch);
        n -= step;
    }
}

void wipe(void *data, size_t size)
{
    if (data && size)
        explicit_bzero(data, size);
}

} // namespace crypto
} // namespace sd
