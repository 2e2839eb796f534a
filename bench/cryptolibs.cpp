// Compares nettle, libgcrypt and OpenSSL 3 libcrypto on the work that opening
// protected workbooks costs: the Agile key derivation (SHA-512, 100,000
// spins), the Standard one (SHA-1, 50,000), AES-256-CBC decryption of 10 MB in
// 4096-byte segments, and RC4 over 10 MB re-keyed every 1024 bytes (MD5).
// The figures chose the library of engine/crypto; bench/run_crypto.sh runs
// it where CMake found all three (nettle-dev, libgcrypt20-dev, libssl-dev).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <gcrypt.h>
#include <nettle/aes.h>
#include <nettle/arcfour.h>
#include <nettle/cbc.h>
#include <nettle/md5.h>
#include <nettle/sha1.h>
#include <nettle/sha2.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <vector>
using clk = std::chrono::steady_clock;
static double ms(std::function<void()> f, int reps = 3)
{
    double best = 1e18;
    for (int r = 0; r < reps; ++r) {
        auto t0 = clk::now();
        f();
        best = std::min(best, std::chrono::duration<double, std::milli>(clk::now() - t0).count());
    }
    return best;
}
static const size_t kData = 10 << 20;
static std::vector<uint8_t> g_buf(kData, 0x5a), g_out(kData);
static uint8_t g_key[32] = { 1, 2, 3 }, g_iv[16] = { 9 };
static volatile uint8_t g_sink;

// ---- nettle
static void nSpin(int n, bool sha512)
{
    uint8_t h[64] = {};
    size_t len = sha512 ? 64 : 20;
    for (int i = 0; i < n; ++i) {
        uint8_t it[4] = { uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16), uint8_t(i >> 24) };
        if (sha512) {
            sha512_ctx c;
            sha512_init(&c);
            sha512_update(&c, 4, it);
            sha512_update(&c, len, h);
            sha512_digest(&c, 64, h);
        } else {
            sha1_ctx c;
            sha1_init(&c);
            sha1_update(&c, 4, it);
            sha1_update(&c, len, h);
            sha1_digest(&c, 20, h);
        }
    }
    g_sink = h[0];
}
static void nAes()
{
    aes256_ctx c;
    aes256_set_decrypt_key(&c, g_key);
    for (size_t off = 0; off < kData; off += 4096) {
        uint8_t iv[16];
        memcpy(iv, g_iv, 16);
        cbc_decrypt(&c, (nettle_cipher_func *)aes256_decrypt, 16, iv, 4096, &g_out[off],
                    &g_buf[off]);
    }
    g_sink = g_out[5];
}
static void nRc4()
{
    for (size_t off = 0, b = 0; off < kData; off += 1024, ++b) {
        uint8_t k[16];
        md5_ctx m;
        md5_init(&m);
        md5_update(&m, 16, g_key);
        uint32_t bl = b;
        md5_update(&m, 4, (uint8_t *)&bl);
        md5_digest(&m, 16, k);
        arcfour_ctx a;
        arcfour_set_key(&a, 16, k);
        arcfour_crypt(&a, 1024, &g_out[off], &g_buf[off]);
    }
    g_sink = g_out[7];
}
// ---- libgcrypt
static void gSpin(int n, bool sha512)
{
    int algo = sha512 ? GCRY_MD_SHA512 : GCRY_MD_SHA1;
    size_t len = gcry_md_get_algo_dlen(algo);
    gcry_md_hd_t h;
    gcry_md_open(&h, algo, 0);
    uint8_t d[64] = {};
    for (int i = 0; i < n; ++i) {
        uint8_t it[4] = { uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16), uint8_t(i >> 24) };
        gcry_md_reset(h);
        gcry_md_write(h, it, 4);
        gcry_md_write(h, d, len);
        memcpy(d, gcry_md_read(h, algo), len);
    }
    gcry_md_close(h);
    g_sink = d[0];
}
static void gAes()
{
    gcry_cipher_hd_t h;
    gcry_cipher_open(&h, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_CBC, 0);
    gcry_cipher_setkey(h, g_key, 32);
    for (size_t off = 0; off < kData; off += 4096) {
        gcry_cipher_setiv(h, g_iv, 16);
        gcry_cipher_decrypt(h, &g_out[off], 4096, &g_buf[off], 4096);
    }
    gcry_cipher_close(h);
    g_sink = g_out[5];
}
static void gRc4()
{
    gcry_cipher_hd_t h;
    gcry_cipher_open(&h, GCRY_CIPHER_ARCFOUR, GCRY_CIPHER_MODE_STREAM, 0);
    for (size_t off = 0, b = 0; off < kData; off += 1024, ++b) {
        uint8_t in[20];
        memcpy(in, g_key, 16);
        uint32_t bl = b;
        memcpy(in + 16, &bl, 4);
        uint8_t k[16];
        gcry_md_hash_buffer(GCRY_MD_MD5, k, in, 20);
        gcry_cipher_setkey(h, k, 16);
        gcry_cipher_decrypt(h, &g_out[off], 1024, &g_buf[off], 1024);
    }
    gcry_cipher_close(h);
    g_sink = g_out[7];
}
// ---- OpenSSL 3
static void oSpin(int n, bool sha512)
{
    EVP_MD *md = EVP_MD_fetch(nullptr, sha512 ? "SHA512" : "SHA1", nullptr);
    EVP_MD_CTX *c = EVP_MD_CTX_new();
    unsigned len = EVP_MD_get_size(md);
    uint8_t d[64] = {};
    for (int i = 0; i < n; ++i) {
        uint8_t it[4] = { uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16), uint8_t(i >> 24) };
        EVP_DigestInit_ex(c, md, nullptr);
        EVP_DigestUpdate(c, it, 4);
        EVP_DigestUpdate(c, d, len);
        EVP_DigestFinal_ex(c, d, &len);
    }
    EVP_MD_CTX_free(c);
    EVP_MD_free(md);
    g_sink = d[0];
}
static void oAes()
{
    EVP_CIPHER *ci = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
    EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
    for (size_t off = 0; off < kData; off += 4096) {
        int l = 0;
        EVP_DecryptInit_ex2(c, ci, g_key, g_iv, nullptr);
        EVP_CIPHER_CTX_set_padding(c, 0);
        EVP_DecryptUpdate(c, &g_out[off], &l, &g_buf[off], 4096);
    }
    EVP_CIPHER_CTX_free(c);
    EVP_CIPHER_free(ci);
    g_sink = g_out[5];
}
static void oRc4()
{
    EVP_CIPHER *ci = EVP_CIPHER_fetch(nullptr, "RC4", nullptr);
    if (!ci) {
        puts("  openssl: RC4 unavailable");
        return;
    }
    EVP_MD *md5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
    EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
    for (size_t off = 0, b = 0; off < kData; off += 1024, ++b) {
        uint8_t in[20];
        memcpy(in, g_key, 16);
        uint32_t bl = b;
        memcpy(in + 16, &bl, 4);
        uint8_t k[16];
        unsigned kl;
        EVP_Digest(in, 20, k, &kl, md5, nullptr);
        int l;
        EVP_DecryptInit_ex2(c, ci, k, nullptr, nullptr);
        EVP_DecryptUpdate(c, &g_out[off], &l, &g_buf[off], 1024);
    }
    EVP_CIPHER_CTX_free(c);
    EVP_CIPHER_free(ci);
    EVP_MD_free(md5);
    g_sink = g_out[7];
}
int main()
{
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    printf("%-34s %10s %10s %10s\n", "ms (best of 3)", "nettle", "gcrypt", "openssl");
    printf("%-34s %10.1f %10.1f %10.1f\n", "SHA-512 x100000 (Agile KDF)",
           ms([] { nSpin(100000, true); }), ms([] { gSpin(100000, true); }),
           ms([] { oSpin(100000, true); }));
    printf("%-34s %10.1f %10.1f %10.1f\n", "SHA-1 x50000 (Standard KDF)",
           ms([] { nSpin(50000, false); }), ms([] { gSpin(50000, false); }),
           ms([] { oSpin(50000, false); }));
    printf("%-34s %10.1f %10.1f %10.1f\n", "AES-256-CBC 10 MB, 4 KB segments", ms(nAes), ms(gAes),
           ms(oAes));
    double o1 = ms(oRc4, 1);
    OSSL_PROVIDER *leg = OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER *def = OSSL_PROVIDER_load(nullptr, "default");
    printf("%-34s %10.1f %10.1f %10.1f%s\n", "RC4 10 MB, MD5 re-key per 1 KB", ms(nRc4), ms(gRc4),
           ms(oRc4), o1 < 0.01 ? " (legacy provider)" : "");
    (void)leg;
    (void)def;
}
