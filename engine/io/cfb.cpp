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

uint64_t CompoundFile::sectorBytes(uint32_t index) const
{
    if (index >= m_sectorCount)
        return 0;
    const uint64_t offset = (uint64_t(index) + 1) << m_sectorShift;
    const uint64_t full = uint64_t(1) << m_sectorShift;
    return m_size - offset < full ? m_size - offset : full;
}

// A file may end inside its last sector (writers that do not pad it), or
// before sectors its tables still name. Other readers open such files, and
// so do we: the part of a sector that the file holds is read, the rest
// counts as `fill` (zeros for data; 0xFF, free entries, for tables), and
// only a sector that lies wholly outside the file is missing. Missing
// sectors of the tables leave their entries free, so that only a stream
// that needs them fails.
Error CompoundFile::readSector(uint32_t index, uint8_t fill, std::vector<uint8_t> &out) const
{
    out.clear();
    const size_t have = size_t(sectorBytes(index));
    if (have == 0)
        return {};
    out.resize(have);
    if (Error e = m_file->readAt((uint64_t(index) + 1) << m_sectorShift, out.data(), have))
        return e;
    out.resize(size_t(1) << m_sectorShift, fill);
    return {};
}

Error CompoundFile::appendTable(uint32_t index, std::vector<uint32_t> &table) const
{
    std::vector<uint8_t> bytes;
    if (Error e = readSector(index, 0xFF, bytes))
        return e;
    if (bytes.empty())
        bytes.assign(size_t(1) << m_sectorShift, 0xFF);
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4)
        table.push_back(le32(bytes.data() + i));
    return {};
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
    m_memory = std::make_unique<MemoryBytes>(data, size);
    return open(*m_memory);
}

Error CompoundFile::open(const RandomAccessSource &file)
{
    if (&file != m_memory.get())
        m_memory.reset();
    m_file = &file;
    m_size = file.size();
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
    if (Error e
        = readChain(m_fat, le32(m_header.data() + kOffFirstDirSector), "directory", dirSectors))
        return e;
    std::vector<RawEntry> entries;
    std::vector<uint8_t> s;
    for (uint32_t id : dirSectors) {
        // Entries outside the file are missing (see readSector); so is the
        // tail of one that the file cuts short.
        if (Error e = readSector(id, 0, s))
            return e;
        const size_t n = size_t(sectorBytes(id)) / kDirEntrySize;
        for (size_t i = 0; i < n; ++i)
            entries.push_back(readDirEntry(s.data() + i * kDirEntrySize, major));
    }
    if (entries.empty() || entries[0].entry.type != kTypeRoot)
        return corrupt("directory", "no root entry");
    if (Error e = readMiniStream(entries[0].entry))
        return e;
    return listRootEntries(entries, m_rootEntries);
}

Error CompoundFile::readHeader(uint16_t &major)
{
    const std::string where = "compound file header";
    if (m_size < kHeaderSize)
        return corrupt(where, "file too short for a compound-file header");
    if (Error e = m_file->readAt(0, m_header.data(), kHeaderSize))
        return e;
    const uint8_t *data = m_header.data();
    if (!hasMagic(data, kHeaderSize, kCfbMagic))
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
    const uint64_t sectorSize = uint64_t(1) << m_sectorShift;
    // A file may end inside its last sector; that sector still counts.
    const uint64_t sectors
        = m_size > sectorSize ? (m_size - sectorSize + sectorSize - 1) >> m_sectorShift : 0;
    if (sectors > kMaxRegularSector)
        return corrupt(where, "file too large for a compound file");
    m_sectorCount = uint32_t(sectors);
    return {};
}

Error CompoundFile::readFat()
{
    const uint8_t *data = m_header.data();
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
    std::vector<uint8_t> s;
    {
        std::vector<bool> visited(m_sectorCount, false);
        uint32_t difat = le32(data + kOffFirstDifatSector);
        const size_t perSector = sectorSize / 4 - 1;
        while (difat <= kMaxRegularSector && fatIds.size() < fatSectors) {
            // A DIFAT sector outside the file ends the list (see readSector).
            if (difat >= m_sectorCount)
                break;
            if (visited[difat])
                return corrupt("DIFAT", "sector chain loops at sector " + std::to_string(difat));
            visited[difat] = true;
            if (Error e = readSector(difat, 0xFF, s))
                return e;
            for (size_t i = 0; i < perSector && fatIds.size() < fatSectors; ++i) {
                uint32_t id = le32(s.data() + 4 * i);
                if (id <= kMaxRegularSector)
                    fatIds.push_back(id);
            }
            difat = le32(s.data() + 4 * perSector);
        }
    }
    if (fatIds.empty())
        return corrupt("FAT", "no allocation table");
    m_fat.reserve(fatIds.size() * (sectorSize / 4));
    for (uint32_t id : fatIds) {
        if (Error e = appendTable(id, m_fat))
            return e;
    }
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
    if (Error e = readChain(m_fat, le32(m_header.data() + kOffFirstMiniFatSector), "mini FAT",
                            miniFatSectors))
        return e;
    for (uint32_t id : miniFatSectors) {
        if (Error e = appendTable(id, m_miniFat))
            return e;
    }
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

Error CompoundFile::readMiniStreamEntry(const Entry &entry, std::vector<uint8_t> &out) const
{
    const std::string where = "stream \"" + entry.name + "\"";
    const size_t size = size_t(entry.size);
    std::vector<uint32_t> chain;
    if (Error e = readChain(m_miniFat, entry.start, "mini stream chain", chain))
        return e;
    const size_t miniSize = size_t(1) << m_miniShift;
    out.clear();
    out.reserve(size);
    for (uint32_t mini : chain) {
        if (out.size() >= size)
            break;
        const uint64_t offset = uint64_t(mini) << m_miniShift;
        if (offset + miniSize > m_miniStreamSize)
            return corrupt(where,
                           "mini sector " + std::to_string(mini) + " is outside the mini stream");
        const uint32_t host = m_miniStreamSectors[size_t(offset >> m_sectorShift)];
        const size_t within = size_t(offset & ((uint64_t(1) << m_sectorShift) - 1));
        const size_t have = size_t(sectorBytes(host));
        if (have == 0)
            return corrupt(where, "sector " + std::to_string(host) + " is outside the file");
        // Past the end of a cut-short last sector the bytes read as zeros.
        const size_t take = std::min(miniSize, size - out.size());
        const size_t real = within < have ? std::min(take, have - within) : 0;
        const size_t at = out.size();
        out.resize(at + take, 0);
        if (real > 0) {
            if (Error e = m_file->readAt(((uint64_t(host) + 1) << m_sectorShift) + within,
                                         out.data() + at, real))
                return e;
        }
    }
    if (out.size() < size)
        return corrupt(where,
                       "sector chain holds " + std::to_string(out.size()) + " of "
                           + std::to_string(size) + " bytes (" + hex(entry.start) + ")");
    return {};
}

namespace {

// A stream of regular sectors, read where its reader asks; runs of
// consecutive sectors are read with one call.
class ChainSource final : public RandomAccessSource
{
public:
    ChainSource(const RandomAccessSource &file, std::vector<uint32_t> chain, uint32_t shift,
                uint64_t size)
        : m_file(file)
        , m_chain(std::move(chain))
        , m_shift(shift)
        , m_size(size)
    {
    }
    uint64_t size() const override { return m_size; }
    Error readAt(uint64_t offset, void *dst, size_t n) const override
    {
        if (offset > m_size || n > m_size - offset)
            return corrupt("stream", "read past the end of the stream");
        auto *out = static_cast<uint8_t *>(dst);
        const uint64_t sectorSize = uint64_t(1) << m_shift;
        while (n > 0) {
            size_t index = size_t(offset >> m_shift);
            const uint64_t within = offset & (sectorSize - 1);
            uint64_t run = sectorSize - within;
            while (run < n && index + 1 < m_chain.size()
                   && m_chain[index + 1] == m_chain[index] + 1) {
                ++index;
                run += sectorSize;
            }
            const size_t take = size_t(std::min<uint64_t>(run, n));
            const uint64_t at = ((uint64_t(m_chain[offset >> m_shift]) + 1) << m_shift) + within;
            // The file's last sector may be cut short: the rest reads as
            // zeros (every other sector lies wholly inside the file).
            const uint64_t fileSize = m_file.size();
            const size_t real = at < fileSize ? size_t(std::min<uint64_t>(take, fileSize - at)) : 0;
            if (real > 0) {
                if (Error e = m_file.readAt(at, out, real))
                    return e;
            }
            std::memset(out + real, 0, take - real);
            out += take;
            offset += take;
            n -= take;
        }
        return {};
    }

private:
    const RandomAccessSource &m_file;
    std::vector<uint32_t> m_chain;
    uint32_t m_shift;
    uint64_t m_size;
};

} // namespace

std::unique_ptr<RandomAccessSource> CompoundFile::openStream(const Entry &entry, Error *error) const
{
    auto fail = [&](Error e) -> std::unique_ptr<RandomAccessSource> {
        if (error)
            *error = std::move(e);
        return nullptr;
    };
    const std::string where = "stream \"" + entry.name + "\"";
    if (entry.size > m_size)
        return fail(
            corrupt(where, "declared size " + std::to_string(entry.size) + " exceeds the file"));
    if (entry.size == 0)
        return std::make_unique<MemoryBytes>(std::vector<uint8_t>());
    if (entry.size < m_miniCutoff) {
        std::vector<uint8_t> bytes;
        if (Error e = readMiniStreamEntry(entry, bytes))
            return fail(e);
        return std::make_unique<MemoryBytes>(std::move(bytes));
    }
    std::vector<uint32_t> chain;
    if (Error e = readChain(m_fat, entry.start, "stream chain", chain))
        return fail(e);
    // Every sector the stream uses must lie inside the file (the file's
    // last one may be cut short, read as zeros past its end), and the chain
    // must hold the whole size.
    const uint64_t sectorSize = uint64_t(1) << m_sectorShift;
    uint64_t held = 0;
    for (size_t i = 0; i < chain.size() && held < entry.size; ++i) {
        if (sectorBytes(chain[i]) == 0)
            return fail(
                corrupt(where, "sector " + std::to_string(chain[i]) + " is outside the file"));
        held += sectorSize;
    }
    if (held < entry.size)
        return fail(corrupt(where,
                            "sector chain holds " + std::to_string(held) + " of "
                                + std::to_string(entry.size) + " bytes (" + hex(entry.start)
                                + ")"));
    return std::make_unique<ChainSource>(*m_file, std::move(chain), m_sectorShift, entry.size);
}

Error CompoundFile::readStream(const Entry &entry, std::vector<uint8_t> &out) const
{
    out.clear();
    Error e;
    const std::unique_ptr<RandomAccessSource> stream = openStream(entry, &e);
    if (!stream)
        return e;
    out.resize(size_t(stream->size()));
    return stream->readAt(0, out.data(), out.size());
}

} // namespace sd
