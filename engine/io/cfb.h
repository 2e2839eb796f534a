#pragma once

// Compound File Binary reader (versions 3 and 4): hands out the named byte
// streams of an OLE2 container. Nothing above this layer sees sectors.

#include "io/error.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sd {

class CompoundFile
{
public:
    struct Entry
    {
        std::string name; // UTF-8, as stored
        uint8_t type = 0; // kTypeStorage, kTypeStream, kTypeRoot
        uint32_t start = 0;
        uint64_t size = 0;
    };
    static constexpr uint8_t kTypeStorage = 1;
    static constexpr uint8_t kTypeStream = 2;
    static constexpr uint8_t kTypeRoot = 5;

    // Parses header, DIFAT, FAT, MiniFAT and directory of `data` (which must
    // outlive this object). Returns a Corrupt error saying what is wrong.
    Error open(const uint8_t *data, size_t size);

    // The entries directly below the root storage, in directory-tree order.
    const std::vector<Entry> &rootEntries() const { return m_rootEntries; }

    // Index into rootEntries() of the entry named `name` (ASCII letters
    // compared case-insensitively), or -1.
    int findRootEntry(const char *name) const;

    // Copies a stream's bytes into `out`. Every chain is walked with a
    // visited set, so a loop is an error; so is a sector the stream needs
    // that lies wholly outside the file (the file's last sector, cut short,
    // reads as zeros past the end).
    Error readStream(const Entry &entry, std::vector<uint8_t> &out) const;

private:
    Error readHeader(uint16_t &major);
    Error readFat(); // the DIFAT, then the FAT it names
    Error readMiniStream(const Entry &root);
    Error readChain(const std::vector<uint32_t> &fat, uint32_t start, const char *what,
                    std::vector<uint32_t> &sectors) const;
    const uint8_t *sector(uint32_t index) const; // nullptr when outside the file
    size_t sectorBytes(uint32_t index) const; // bytes of the sector inside the file
    // A whole sector, its part past the end of the file as `fill`; false
    // when the sector lies wholly outside the file.
    bool copySector(uint32_t index, uint8_t fill, std::vector<uint8_t> &out) const;
    // Appends `count` bytes of a sector from offset `from`, zeros past the
    // end of the file; false when the sector lies wholly outside the file.
    bool appendSectorBytes(uint32_t index, size_t from, size_t count,
                           std::vector<uint8_t> &out) const;
    // Appends a FAT or mini FAT sector's entries (free where the file ends).
    void appendTable(uint32_t index, std::vector<uint32_t> &table) const;

    const uint8_t *m_data = nullptr;
    size_t m_size = 0;
    uint32_t m_sectorShift = 9;
    uint32_t m_miniShift = 6;
    uint32_t m_miniCutoff = 4096;
    uint32_t m_sectorCount = 0; // sectors (partly) inside the file
    std::vector<uint32_t> m_fat;
    std::vector<uint32_t> m_miniFat;
    std::vector<uint32_t> m_miniStreamSectors; // the root entry's chain
    uint64_t m_miniStreamSize = 0;
    std::vector<Entry> m_rootEntries;
};

} // namespace sd
