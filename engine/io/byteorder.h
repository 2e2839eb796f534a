#pragma once

// Little-endian reads (and the one write the decryption needs) of unaligned
// bytes, and the magic numbers that name a file's container, shared by
// every reader of binary structures.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace sd {

inline uint16_t le16(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t le64(const uint8_t *p)
{
    return uint64_t(le32(p)) | (uint64_t(le32(p + 4)) << 32);
}
inline void putLe32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
inline double leDouble(const uint8_t *p)
{
    const uint64_t bits = le64(p);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// The first bytes of a zip archive (a local file header: an OOXML package).
inline constexpr unsigned char kZipMagic[4] = { 'P', 'K', 3, 4 };
// The first eight bytes of every compound file (OLE2: .xls, encrypted OOXML).
inline constexpr unsigned char kCfbMagic[8] = { 0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1 };

// True when the `size` bytes at `data` begin with `magic`.
template<size_t N> bool hasMagic(const void *data, size_t size, const unsigned char (&magic)[N])
{
    return size >= N && std::memcmp(data, magic, N) == 0;
}

} // namespace sd
