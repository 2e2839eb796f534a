#include "io/cfb.h"

#include "io/byteorder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sd {

namespace {

// Header layout (all little-endian).
constexpr size_t kHeaderSize = 512;
constexpr size_t kOffMajorVersion = 26;
constexpr size_t kOffSectorShift = 30;
constexpr size_t kOffMiniShift = 32;
constexpr size_t kOffFatSectorCount = 44;
constexpr size_t kOffFirstDirSector = 48;
constexpr size_t kOffMiniCutoff = 56;
constexpr size_t kOffFirstMiniFatSector = 60;
constexpr size_t kOffFirstDifatSector = 68;
constexpr size_t kOffHeaderDifat = 76;
constexpr size_t kHeaderDifatEntries = 109;

// Directory entry layout.
constexpr size_t kDirEntrySize = 128;
constexpr size_t kOffEntryNameLength = 64;
constexpr size_t kOffEntryType = 66;
constexpr size_t kOffEntryLeft = 68;
constexpr size_t kOffEntryRight = 72;
constexpr size_t kOffEntryChild = 76;
constexpr size_t kOffEntryStart = 116;
constexpr size_t kOffEntrySize = 120;
constexpr uint32_t kNoStream = 0xFFFFFFFF;

// Special sector numbers.
constexpr uint32_t kMaxRegularSector = 0xFFFFFFFA;

Error corrupt(const std::string &where, const std::string &detail)
{
    return Error(ErrorCode::Corrupt, where, detail);
}

std::string hex(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", v);
    return buf;
}

struct RawEntry
{
    CompoundFile::Entry entry;
    uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
};

// Decodes one 128-byte directory entry.
RawEntry readDirEntry(const uint8_t *d, uint16_t major)
{
    RawEntry raw;
    raw.entry.type = d[kOffEntryType];
    size_t nameBytes = le16(d + kOffEntryNameLength);
    if (nameBytes > 64)
        nameBytes = 64;
    for (size_t k = 0; k + 1 < nameBytes; k += 2) {
        uint16_t ch = le16(d + k);
        if (ch == 0)
            break;
        if (ch < 0x80) {
            raw.entry.name += char(ch);
        } else if (ch < 0x800) {
            raw.entry.name += char(0xC0 | (ch >> 6));
            raw.entry.name += char(0x80 | (ch & 0x3F));
        } else {
            raw.entry.name += char(0xE0 | (ch >> 12));
            raw.entry.name += char(0x80 | ((ch >> 6) & 0x3F));
            raw.entry.name += char(0x80 | (ch & 0x3F));
        }
    }
    raw.left = le32(d + kOffEntryLeft);
    raw.right = le32(d + kOffEntryRight);
    raw.child = le32(d + kOffEntryChild);
    raw.entry.start = le32(d + kOffEntryStart);
    raw.entry.size = le32(d + kOffEntrySize);
    // Version 3 files may leave garbage in the high half of the size.
    if (major == 4)
        raw.entry.size |= uint64_t(le32(d + kOffEntrySize + 4)) << 32;
    return raw;
}

// The root's children form a red-black tree of siblings; lists them in
// order, walking with a visited set so that a cycle in the links cannot loop.
Error listRootEntries(const std::vector<RawEntry> &entries, std::vector<CompoundFile::Entry> &out)
{
    std::vector<bool> seen(entries.size(), false);
    std::vector<uint32_t> stack;
    uint32_t node = entries[0].child;
    seen[0] = true;
    while (node != kNoStream || !stack.empty()) {
        while (node != kNoStream) {
            if (node >= entries.size() || seen[node])
                return corrupt("directory", "bad sibling link to entry " + std::to_string(node));
            seen[node] = true;
            stack.push_back(node);
            node = entries[node].left;
        }
        const uint32_t top = stack.back();
        stack.pop_back();
        out.push_back(entries[top].entry);
        node = entries[top].right;
    }
    return {};
}

} // namespace

const uint8_t *CompoundFile::sector(uint32_t index) const
{
    if (index >= m_sectorCount)
        return nullptr;
    return m_data + ((size_t(index) + 1) << m_sectorShift);
}

size_t CompoundFile::sectorBytes(uint32_t index) const
{
    if (index >= m_sectorCount)
        return 0;
    size_t offset = (size_t(index) + 1) << m_sectorShift;
    size_t full = size_t(1) << m_sectorShift;
    return m_size - offset < full ? m_size - offset : full;
}

// A file may end inside its last sector (writers that do not pad it), or
// before sectors its tables still name. Other readers open such files, and
// so do we: the part of a sector that the file holds is read, the rest
// counts as `fill` (zeros for data; 0xFF, free entries, for tables), and
// only a sector that lies wholly outside the file is missing. Missing
// sectors of the tables leave their entries free, so that only a stream
// that needs them fails.
bool CompoundFile::copySector(uint32_t index, uint8_t fill, std::vector<uint8_t> &out) const
{
    const size_t full = size_t(1) << m_sectorShift;
    const uint8_t *s = sector(index);
    if (!s)
        return false;
    const size_t have = sectorBytes(index);
    out.assign(s, s + have);
    out.resize(full, fill);
    return true;
}

bool CompoundFile::appendSectorBytes(uint32_t index, size_t from, size_t count,
                                     std::vector<uint8_t> &out) const
{
    const uint8_t *s = sector(index);
    if (!s)
        return false;
    const size_t have = sectorBytes(index);
    const size_t real = from < have ? std::min(count, have - from) : 0;
    if (real > 0)
        out.insert(out.end(), s + from, s + from + real);
    out.resize(out.size() + (count - real), 0);
    return true;
}

void CompoundFile::appendTable(uint32_t index, std::vector<uint32_t> &table) const
{
    std::vector<uint8_t> bytes;
    if (!copySector(index, 0xFF, bytes))
        bytes.assign(size_t(1) << m_sectorShift, 0xFF);
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4)
        table.push_back(le32(bytes.data() + i));
}

Error CompoundFile::readChain(const std::vector<uint32_t> &fat, uint32_t start, const char *what,
                              std::vector<uint32_t> &sectors) const
{
    sectors.clear();
    // The visited set makes a looping chain an error; its size (and so the
    // step count) is bounded by the FAT, which is bounded by the file.
    std::vector<bool> visited(fat.size(), false);
    uint32_t current = start;
    while (current <= kMaxRegularSector) {
        if (current >= fat.size())
            return corrupt(
                what, "sector " + std::to_string(current) + " is outside the allocation table");
        if (visited[current])
            return corrupt(what, "sector chain loops at sector " + std::to_string(current));
        visited[current] = true;
        sectors.push_back(current);
        current = fat[current];
    }
    return {};
}

Error CompoundFile::open(const uint8_t *data, size_t size)
{
    m_data = data;
    m_size = size;
    m_fat.clear();
    m_miniFat.clear();
    m_miniStreamSectors.clear();
    m_miniStreamSize = 0;
    m_rootEntries.clear();
    uint16_t major = 0;
    if (Error e = readHeader(major))
        return e;
    if (Error e = readFat())
        return e;

    // Directory.
    std::vector<uint32_t> dirSectors;
    if (Error e = readChain(m_fat, le32(data + kOffFirstDirSector), "directory", dirSectors))
        return e;
    std::vector<RawEntry> entries;
    for (uint32_t id : dirSectors) {
        // Entries outside the file are missing (see copySector); so is the
        // tail of one that the file cuts short.
        const uint8_t *s = sector(id);
        if (!s)
            continue;
        const size_t n = sectorBytes(id) / kDirEntrySize;
        for (size_t i = 0; i < n; ++i)
            entries.push_back(readDirEntry(s + i * kDirEntrySize, major));
    }
    if (entries.empty() || entries[0].entry.type != kTypeRoot)
        return corrupt("directory", "no root entry");
    if (Error e = readMiniStream(entries[0].entry))
        return e;
    return listRootEntries(entries, m_rootEntries);
}

Error CompoundFile::readHeader(uint16_t &major)
{
    const uint8_t *data = m_data;
    const size_t size = m_size;
    const std::string where = "compound file header";
    if (size < kHeaderSize || !hasMagic(data, size, kCfbMagic))
        return corrupt(where, "file too short for a compound-file header");
    major = le16(data + kOffMajorVersion);
    m_sectorShift = le16(data + kOffSectorShift);
    m_miniShift = le16(data + kOffMiniShift);
    if (major != 3 && major != 4)
        return corrupt(where, "unknown compound-file version " + std::to_string(major));
    if (m_sectorShift != 9 && m_sectorShift != 12)
        return corrupt(where, "bad sector size 2^" + std::to_string(m_sectorShift));
    if (m_miniShift < 2 || m_miniShift >= m_sectorShift)
        return corrupt(where, "bad mini sector size 2^" + std::to_string(m_miniShift));
    m_miniCutoff = le32(data + kOffMiniCutoff);
    if (m_miniCutoff == 0 || m_miniCutoff > (1u << 20))
        m_miniCutoff = 4096;
    const size_t sectorSize = size_t(1) << m_sectorShift;
    // A file may end inside its last sector; that sector still counts.
    m_sectorCount
        = size > sectorSize ? uint32_t((size - sectorSize + sectorSize - 1) >> m_sectorShift) : 0;
    return {};
}

Error CompoundFile::readFat()
{
    const uint8_t *data = m_data;
    const std::string where = "compound file header";
    const size_t sectorSize = size_t(1) << m_sectorShift;
    // DIFAT: the FAT's own sector numbers, 109 in the header, the rest in a
    // chain of DIFAT sectors whose last entry links to the next.
    const uint32_t fatSectors = le32(data + kOffFatSectorCount);
    if (fatSectors > m_sectorCount)
        return corrupt(where,
                       "allocation table of " + std::to_string(fatSectors)
                           + " sectors in a file of " + std::to_string(m_sectorCount));
    std::vector<uint32_t> fatIds;
    for (size_t i = 0; i < kHeaderDifatEntries && fatIds.size() < fatSectors; ++i) {
        uint32_t id = le32(data + kOffHeaderDifat + 4 * i);
        if (id <= kMaxRegularSector)
            fatIds.push_back(id);
    }
    {
        std::vector<bool> visited(m_sectorCount, false);
        uint32_t difat = le32(data + kOffFirstDifatSector);
        const size_t perSector = sectorSize / 4 - 1;
        std::vector<uint8_t> bytes;
        while (difat <= kMaxRegularSector && fatIds.size() < fatSectors) {
            // A DIFAT sector outside the file ends the list (see copySector).
            if (difat >= m_sectorCount || !copySector(difat, 0xFF, bytes))
                break;
            if (visited[difat])
                return corrupt("DIFAT", "sector chain loops at sector " + std::to_string(difat));
            visited[difat] = true;
            const uint8_t *s = bytes.data();
            for (size_t i = 0; i < perSector && fatIds.size() < fatSectors; ++i) {
                uint32_t id = le32(s + 4 * i);
                if (id <= kMaxRegularSector)
                    fatIds.push_back(id);
            }
            difat = le32(s + 4 * perSector);
        }
    }
    if (fatIds.empty())
        return corrupt("FAT", "no allocation table");
    m_fat.reserve(fatIds.size() * (sectorSize / 4));
    for (uint32_t id : fatIds)
        appendTable(id, m_fat);
    return {};
}

// The mini stream (held by the root entry) and its allocation table.
Error CompoundFile::readMiniStream(const Entry &root)
{
    // The mini stream is as long as the root's chain: a root entry whose
    // size ends early (before mini sectors that streams use) is a writer's
    // slip that other readers overlook. A root of size 0 has no mini stream.
    if (root.size > 0) {
        if (Error e = readChain(m_fat, root.start, "mini stream", m_miniStreamSectors))
            return e;
        m_miniStreamSize = uint64_t(m_miniStreamSectors.size()) << m_sectorShift;
    }
    std::vector<uint32_t> miniFatSectors;
    if (Error e
        = readChain(m_fat, le32(m_data + kOffFirstMiniFatSector), "mini FAT", miniFatSectors))
        return e;
    for (uint32_t id : miniFatSectors)
        appendTable(id, m_miniFat);
    return {};
}

int CompoundFile::findRootEntry(const char *name) const
{
    const size_t len = std::strlen(name);
    for (size_t i = 0; i < m_rootEntries.size(); ++i) {
        const std::string &n = m_rootEntries[i].name;
        if (n.size() != len)
            continue;
        bool same = true;
        for (size_t k = 0; k < len && same; ++k) {
            char a = n[k], b = name[k];
            if (a >= 'A' && a <= 'Z')
                a = char(a - 'A' + 'a');
            if (b >= 'A' && b <= 'Z')
                b = char(b - 'A' + 'a');
            same = a == b;
        }
        if (same)
            return int(i);
    }
    return -1;
}

Error CompoundFile::readStream(const Entry &entry, std::vector<uint8_t> &out) const
{
    out.clear();
    const std::string where = "stream \"" + entry.name + "\"";
    if (entry.size == 0)
        return {};
    if (entry.size > m_size)
        return corrupt(where, "declared size " + std::to_string(entry.size) + " exceeds the file");
    const size_t size = size_t(entry.size);
    out.reserve(size);
    std::vector<uint32_t> chain;
    if (entry.size < m_miniCutoff) {
        if (Error e = readChain(m_miniFat, entry.start, "mini stream chain", chain))
            return e;
        const size_t miniSize = size_t(1) << m_miniShift;
        for (uint32_t mini : chain) {
            if (out.size() >= size)
                break;
            const uint64_t offset = uint64_t(mini) << m_miniShift;
            if (offset + miniSize > m_miniStreamSize)
                return corrupt(
                    where, "mini sector " + std::to_string(mini) + " is outside the mini stream");
            const uint32_t host = m_miniStreamSectors[size_t(offset >> m_sectorShift)];
            const size_t within = size_t(offset & ((uint64_t(1) << m_sectorShift) - 1));
            if (!appendSectorBytes(host, within, std::min(miniSize, size - out.size()), out))
                return corrupt(where, "sector " + std::to_string(host) + " is outside the file");
        }
    } else {
        if (Error e = readChain(m_fat, entry.start, "stream chain", chain))
            return e;
        const size_t sectorSize = size_t(1) << m_sectorShift;
        for (uint32_t id : chain) {
            if (out.size() >= size)
                break;
            if (!appendSectorBytes(id, 0, std::min(sectorSize, size - out.size()), out))
                return corrupt(where, "sector " + std::to_string(id) + " is outside the file");
        }
    }
    if (out.size() < size)
        return corrupt(where,
                       "sector chain holds " + std::to_string(out.size()) + " of "
                           + std::to_string(size) + " bytes (" + hex(entry.start) + ")");
    return {};
}

} // namespace sd
