#pragma once

// The zip container of an OOXML package: reads the central directory and
// hands out each part as a whole buffer or as a byte stream. Nothing above
// this layer sees zip headers.

#include "io/bytesource.h"
#include "io/error.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sd {

struct ZipEntry
{
    std::string name; // as stored (backslashes turned into slashes)
    uint64_t localOffset = 0; // local file header
    uint64_t dataOffset = 0; // first byte of the (compressed) data
    uint64_t compressedSize = 0;
    uint64_t size = 0; // inflated size from the central directory
    uint32_t crc = 0;
    uint16_t method = 0; // 0 stored, 8 deflated
    uint16_t flags = 0;
};

class ZipArchive
{
public:
    ZipArchive();
    ~ZipArchive();
    ZipArchive(const ZipArchive &) = delete;
    ZipArchive &operator=(const ZipArchive &) = delete;

    // Opens a file (kept open until destruction) or takes a copy of a buffer.
    Error openFile(const std::string &path);
    Error openMemory(const void *data, size_t size);

    const std::vector<ZipEntry> &entries() const { return m_entries; }
    // Finds a part by name: case-insensitive, '\' equals '/', a leading '/'
    // is ignored. nullptr when absent.
    const ZipEntry *find(std::string_view name) const;

    // Inflates a whole part into out (parts up to kWholePartLimit).
    Error extract(const ZipEntry &entry, std::string &out);
    // A stream over the inflated part; checks size, CRC and the caps.
    std::unique_ptr<ByteSource> open(const ZipEntry &entry, Error *error);

    // The name used in error messages ("book.xlsx" or "<memory>").
    const std::string &label() const { return m_label; }

    // Bookkeeping shared with the streams: counts inflated bytes against the
    // per-workbook cap.
    Error account(uint64_t bytes, const ZipEntry &entry);
    // What account() has counted so far, and giving some of it back: a
    // reading whose result was thrown away and is done again (a sheet the
    // CSV writer streamed on a guess that failed) counts once.
    uint64_t accounted() const { return m_inflated; }
    void refund(uint64_t bytes) { m_inflated -= std::min(bytes, m_inflated); }
    bool readAt(uint64_t offset, void *dst, size_t size) const;
    const char *memoryData() const { return m_memory.empty() ? nullptr : m_memory.data(); }

    static std::string normalizedName(std::string_view name);

private:
    Error readDirectory();
    Error findDirectory(uint64_t &entryCount, uint64_t &dirOffset, uint64_t &dirSize);
    Error readCentralDirectory(uint64_t dirOffset, uint64_t dirSize);
    Error checkEntries(uint64_t dirOffset);
    Error corrupt(const std::string &detail) const;

    std::string m_label;
    int m_fd = -1;
    std::string m_memory;
    uint64_t m_size = 0;
    uint64_t m_inflated = 0;
    std::vector<ZipEntry> m_entries;
    std::unordered_map<std::string, size_t> m_byName; // normalized name -> entry
};

} // namespace sd
