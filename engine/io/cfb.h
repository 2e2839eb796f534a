#pragma once

// Compound File Binary reader (versions 3 and 4): hands out the named byte
// streams of an OLE2 container. Nothing above this layer sees sectors.

#include "io/error.h"
#include "io/randomaccess.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
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
    // The same from a file or any other source (which must outlive this
    // object and the streams opened from it). Reads the header, the
    // allocation tables and the directory, not the streams.
    Error open(const RandomAccessSource &file);

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

    // A stream read in place, sector by sector, as its reader asks for it:
    // only its chain (4 bytes a sector) is held, so a stream of gigabytes
    // costs megabytes. Small streams (in the mini stream) are read whole.
    // Checked as readStream() checks; it reads from the file this object
    // was opened on, which must outlive it.
    std::unique_ptr<RandomAccessSource> openStream(const Entry &entry, Error *error) const;

private:
    Error readHeader(uint16_t &major);
    Error readFat(); // the DIFAT, then the FAT it names
    Error readMiniStream(const Entry &root);
    Error readChain(const std::vector<uint32_t> &fat, uint32_t start, const char *what,
                    std::vector<uint32_t> &sectors) const;
    // A whole sector, its part past the end of the file as `fill`; empty
    // when the sector lies wholly outside the file.
    Error readSector(uint32_t index, uint8_t fill, std::vector<uint8_t> &out) const;
    // Appends a FAT or mini FAT sector's entries (free where the file ends).
    Error appendTable(uint32_t index, std::vector<uint32_t> &table) const;
    uint64_t sectorBytes(uint32_t index) const; // bytes of the sector inside the file
    Error readMiniStreamEntry(const Entry &entry, std::vector<uint8_t> &out) const;

    const RandomAccessSource *m_file = nullptr;
    std::unique_ptr<RandomAccessSource> m_memory; // what open(data, size) reads
    uint64_t m_size = 0;
    std::array<uint8_t, 512> m_header {};
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
