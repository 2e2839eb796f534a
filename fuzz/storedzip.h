#pragma once

// A zip archive of stored (uncompressed) parts, for fuzz targets that build
// packages from their input so that mutations reach the XML parsers.

#include <zlib.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fuzzzip {

inline void put16(std::string &s, uint32_t v)
{
    s += char(v & 0xFF);
    s += char(v >> 8 & 0xFF);
}

inline void put32(std::string &s, uint32_t v)
{
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}

inline std::string storedZip(const std::vector<std::pair<std::string, std::string>> &parts)
{
    std::string out, dir;
    for (const auto &part : parts) {
        const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef *>(part.second.data()),
                                            uInt(part.second.size())));
        const uint32_t offset = uint32_t(out.size());
        put32(out, 0x04034b50);
        put16(out, 20);
        put16(out, 0);
        put16(out, 0);
        put32(out, 0);
        put32(out, crc);
        put32(out, uint32_t(part.second.size()));
        put32(out, uint32_t(part.second.size()));
        put16(out, uint32_t(part.first.size()));
        put16(out, 0);
        out += part.first + part.second;
        put32(dir, 0x02014b50);
        put16(dir, 20);
        put16(dir, 20);
        put16(dir, 0);
        put16(dir, 0);
        put32(dir, 0);
        put32(dir, crc);
        put32(dir, uint32_t(part.second.size()));
        put32(dir, uint32_t(part.second.size()));
        put16(dir, uint32_t(part.first.size()));
        put32(dir, 0);
        put32(dir, 0);
        put32(dir, 0);
        put32(dir, offset);
        dir += part.first;
    }
    const uint32_t dirOffset = uint32_t(out.size());
    out += dir;
    put32(out, 0x06054b50);
    put32(out, 0);
    put16(out, uint32_t(parts.size()));
    put16(out, uint32_t(parts.size()));
    put32(out, uint32_t(dir.size()));
    put32(out, dirOffset);
    put16(out, 0);
    return out;
}

} // namespace fuzzzip
