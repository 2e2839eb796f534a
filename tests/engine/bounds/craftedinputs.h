#pragma once

// Writes the crafted workbooks of the bounds test into files: a few
// kilobytes or megabytes on disk that ask for gigabytes of memory, time or
// output while staying inside every format rule. Large contents are
// produced and deflated piece by piece, and large .xls streams are left as
// holes in a sparse file, so neither the test nor the disk holds them.

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace crafted {

// Appends the next piece of a part to `chunk` (which arrives empty); false
// once there is nothing more.
using Producer = std::function<bool(std::string &chunk)>;

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
inline void put64(std::string &s, uint64_t v)
{
    put32(s, uint32_t(v));
    put32(s, uint32_t(v >> 32));
}

// A producer of `count` copies of `unit` between `head` and `tail`.
inline Producer repeated(std::string head, std::string unit, uint64_t count, std::string tail)
{
    struct State
    {
        int stage = 0;
        uint64_t left;
    };
    auto state = std::make_shared<State>();
    state->left = count;
    return [=](std::string &chunk) {
        switch (state->stage) {
        case 0:
            chunk = head;
            state->stage = 1;
            return true;
        case 1:
            if (state->left > 0) {
                const uint64_t n = std::min<uint64_t>(state->left, (1u << 20) / unit.size() + 1);
                chunk.reserve(size_t(n * unit.size()));
                for (uint64_t i = 0; i < n; ++i)
                    chunk += unit;
                state->left -= n;
                return true;
            }
            state->stage = 2;
            chunk = tail;
            return true;
        default:
            return false;
        }
    };
}

inline Producer whole(std::string text)
{
    auto done = std::make_shared<bool>(false);
    return [=](std::string &chunk) {
        if (*done)
            return false;
        chunk = text;
        *done = true;
        return true;
    };
}

// A zip file written entry by entry; each entry is deflated as its producer
// hands it out (level 1: quick, and repetitive parts stay near 100:1, below
// the reader's ratio bound).
class ZipWriter
{
public:
    explicit ZipWriter(const std::string &path)
        : m_file(std::fopen(path.c_str(), "wb"))
    {
    }
    ~ZipWriter() { finish(); }
    bool ok() const { return m_file != nullptr; }

    void add(const std::string &name, const Producer &produce)
    {
        const uint64_t offset = uint64_t(std::ftell(m_file));
        std::string header;
        put32(header, 0x04034b50);
        put16(header, 20);
        put16(header, 0);
        put16(header, 8);
        put32(header, 0);
        put32(header, 0); // crc, sizes: filled in below
        put32(header, 0);
        put32(header, 0);
        put16(header, uint32_t(name.size()));
        put16(header, 0);
        header += name;
        std::fwrite(header.data(), 1, header.size(), m_file);

        z_stream z {};
        deflateInit2(&z, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        uLong crc = crc32(0, nullptr, 0);
        uint64_t size = 0, packed = 0;
        std::string chunk, out(1 << 16, '\0');
        bool more = true;
        while (more) {
            chunk.clear();
            more = produce(chunk);
            crc = crc32(crc, reinterpret_cast<const Bytef *>(chunk.data()), uInt(chunk.size()));
            size += chunk.size();
            z.next_in = reinterpret_cast<Bytef *>(chunk.data());
            z.avail_in = uInt(chunk.size());
            do {
                z.next_out = reinterpret_cast<Bytef *>(out.data());
                z.avail_out = uInt(out.size());
                deflate(&z, more ? Z_NO_FLUSH : Z_FINISH);
                const size_t n = out.size() - z.avail_out;
                std::fwrite(out.data(), 1, n, m_file);
                packed += n;
            } while (z.avail_out == 0);
        }
        deflateEnd(&z);

        std::string sizes;
        put32(sizes, uint32_t(crc));
        put32(sizes, uint32_t(packed));
        put32(sizes, uint32_t(size));
        std::fseek(m_file, long(offset + 14), SEEK_SET);
        std::fwrite(sizes.data(), 1, sizes.size(), m_file);
        std::fseek(m_file, 0, SEEK_END);

        put32(m_central, 0x02014b50);
        put16(m_central, 20);
        put16(m_central, 20);
        put16(m_central, 0);
        put16(m_central, 8);
        put32(m_central, 0);
        m_central += sizes;
        put16(m_central, uint32_t(name.size()));
        put16(m_central, 0);
        put16(m_central, 0);
        put16(m_central, 0);
        put16(m_central, 0);
        put32(m_central, 0);
        put32(m_central, uint32_t(offset));
        m_central += name;
        ++m_count;
    }

    void finish()
    {
        if (!m_file)
            return;
        const uint64_t at = uint64_t(std::ftell(m_file));
        std::string end = m_central;
        put32(end, 0x06054b50);
        put32(end, 0);
        put16(end, m_count);
        put16(end, m_count);
        put32(end, uint32_t(m_central.size()));
        put32(end, uint32_t(at));
        put16(end, 0);
        std::fwrite(end.data(), 1, end.size(), m_file);
        std::fclose(m_file);
        m_file = nullptr;
    }

private:
    std::FILE *m_file;
    std::string m_central;
    uint32_t m_count = 0;
};

const char kMainNs[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char kRelNs[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// An .xlsx with one sheet named "Crafted" whose part `sheet` produces; a
// shared-string table and a custom number format (id 164, used by xf 1)
// when given.
inline bool writeXlsx(const std::string &path, const Producer &sheet,
                      const std::string &sharedStrings = {}, const std::string &formatCode = {})
{
    ZipWriter zip(path);
    if (!zip.ok())
        return false;
    const std::string rel = std::string(kRelNs) + "/";
    zip.add("[Content_Types].xml",
            whole("<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                  "content-types\"/>"));
    zip.add("_rels/.rels",
            whole("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                  "relationships\"><Relationship Id=\"rId1\" Type=\""
                  + rel + "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"));
    zip.add("xl/workbook.xml",
            whole(std::string("<workbook xmlns=\"") + kMainNs + "\" xmlns:r=\"" + kRelNs
                  + "\"><sheets><sheet name=\"Crafted\" sheetId=\"1\" r:id=\"rId1\"/></sheets>"
                    "</workbook>"));
    std::string rels = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                       "relationships\"><Relationship Id=\"rId1\" Type=\""
        + rel + "worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\""
        + rel + "styles\" Target=\"styles.xml\"/>";
    const std::string numFmts = formatCode.empty()
        ? std::string()
        : "<numFmts count=\"1\"><numFmt numFmtId=\"164\" formatCode=\"" + formatCode
            + "\"/></numFmts>";
    zip.add("xl/styles.xml",
            whole(std::string("<styleSheet xmlns=\"") + kMainNs + "\">" + numFmts
                  + "<cellXfs count=\"2\"><xf numFmtId=\"0\"/><xf numFmtId=\""
                  + (formatCode.empty() ? "0" : "164") + "\"/></cellXfs></styleSheet>"));
    if (!sharedStrings.empty()) {
        rels += "<Relationship Id=\"rId3\" Type=\"" + rel
            + "sharedStrings\" Target=\"sharedStrings.xml\"/>";
        zip.add("xl/sharedStrings.xml", whole(sharedStrings));
    }
    zip.add("xl/_rels/workbook.xml.rels", whole(rels + "</Relationships>"));
    zip.add("xl/worksheets/sheet1.xml", sheet);
    return true;
}

inline std::string sheetHead()
{
    return std::string("<worksheet xmlns=\"") + kMainNs + "\"><sheetData>";
}

// ---- .xls --------------------------------------------------------------------

inline std::string record(uint16_t id, const std::string &body)
{
    std::string r;
    put16(r, id);
    put16(r, uint32_t(body.size()));
    return r + body;
}

inline std::string bof(uint16_t type)
{
    std::string b;
    put16(b, 0x0600);
    put16(b, type);
    put16(b, 0x0DBB);
    put16(b, 0x07CC);
    put32(b, 0);
    put32(b, 0x0206);
    return record(0x0809, b);
}

inline std::string numberRecord(uint16_t row, uint16_t col, double value)
{
    std::string b;
    put16(b, row);
    put16(b, col);
    put16(b, 15);
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    put64(b, bits);
    return record(0x0203, b);
}

// A BIFF8 workbook stream: globals (with `sst` records, if any) and one
// sheet named "Crafted" holding `sheetRecords`, closed by EOF unless
// `openEnded`.
inline std::string workbookStream(const std::string &sheetRecords, const std::string &sst = {},
                                  bool openEnded = false)
{
    std::string globals = bof(0x0005);
    std::string codePage;
    put16(codePage, 1200);
    globals += record(0x0042, codePage);
    const size_t offsetAt = globals.size() + 4;
    std::string sheet;
    put32(sheet, 0);
    sheet += std::string("\0\0", 2);
    sheet += char(7);
    sheet += char(0);
    sheet += "Crafted";
    globals += record(0x0085, sheet);
    globals += sst + record(0x000A, {});
    std::string offset;
    put32(offset, uint32_t(globals.size()));
    globals.replace(offsetAt, 4, offset);
    return globals + bof(0x0010) + sheetRecords + (openEnded ? std::string() : record(0x000A, {}));
}

// An SST of `count` empty strings, in CONTINUE records of at most 8,224 bytes.
inline std::string emptyStringTable(uint32_t count)
{
    std::string first;
    put32(first, count);
    put32(first, count);
    const std::string empty("\0\0\0", 3);
    std::string out;
    uint64_t left = count;
    auto fill = [&](std::string &body) {
        while (left > 0 && body.size() + 3 <= 8224) {
            body += empty;
            --left;
        }
    };
    fill(first);
    out += record(0x00FC, first);
    while (left > 0) {
        std::string more;
        fill(more);
        out += record(0x003C, more);
    }
    return out;
}

// The layout of a version 4 compound file (4,096-byte sectors) holding one
// stream: sector 0 the directory, then the stream, its FAT, its DIFAT.
struct CompoundLayout
{
    static constexpr uint64_t kSector = 4096;
    static constexpr uint32_t kPerFat = kSector / 4;
    static constexpr uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF;
    uint64_t size = 0; // of the stream
    uint32_t streamSectors = 0, fatSectors = 0, difatSectors = 0;
    uint32_t firstFat() const { return 1 + streamSectors; }
    uint32_t firstDifat() const { return firstFat() + fatSectors; }

    explicit CompoundLayout(uint64_t streamSize)
        : size(std::max<uint64_t>(streamSize, 4096)) // smaller streams live in the mini stream
        , streamSectors(uint32_t((size + kSector - 1) / kSector))
    {
        for (;;) {
            const uint64_t total = 1 + uint64_t(streamSectors) + fatSectors + difatSectors;
            const uint32_t needFat = uint32_t((total + kPerFat - 1) / kPerFat);
            const uint32_t needDifat
                = needFat > 109 ? (needFat - 109 + kPerFat - 2) / (kPerFat - 1) : 0;
            if (needFat == fatSectors && needDifat == difatSectors)
                break;
            fatSectors = needFat;
            difatSectors = needDifat;
        }
    }
};

// The header sector.
inline std::string compoundHeader(const CompoundLayout &l)
{
    std::string header(512, '\0');
    const unsigned char magic[8] = { 0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1 };
    std::memcpy(&header[0], magic, 8);
    std::string fields;
    put16(fields, 0x3E);
    put16(fields, 4); // version 4
    put16(fields, 0xFFFE);
    put16(fields, 12); // 4,096-byte sectors
    put16(fields, 6);
    header.replace(24, fields.size(), fields);
    fields.clear();
    put32(fields, 0); // directory sectors (may be 0)
    put32(fields, l.fatSectors);
    put32(fields, 0); // first directory sector
    put32(fields, 0);
    put32(fields, 4096); // mini stream cutoff
    put32(fields, CompoundLayout::kEnd); // no mini FAT
    put32(fields, 0);
    put32(fields, l.difatSectors ? l.firstDifat() : CompoundLayout::kEnd);
    put32(fields, l.difatSectors);
    for (uint32_t i = 0; i < 109; ++i)
        put32(fields, i < l.fatSectors ? l.firstFat() + i : CompoundLayout::kFree);
    header.replace(40, fields.size(), fields);
    header.resize(size_t(CompoundLayout::kSector), '\0');
    return header;
}

// The directory sector: the root and the stream "Workbook".
inline std::string compoundDirectory(const CompoundLayout &l)
{
    auto entry = [](const std::string &name, uint8_t type, uint32_t start, uint64_t bytes,
                    uint32_t child) {
        std::string e(128, '\0');
        for (size_t i = 0; i < name.size(); ++i)
            e[2 * i] = name[i];
        std::string f;
        put16(f, uint32_t(2 * name.size() + 2));
        f += char(type);
        f += char(1);
        put32(f, CompoundLayout::kFree);
        put32(f, CompoundLayout::kFree);
        put32(f, child);
        e.replace(64, f.size(), f);
        f.clear();
        put32(f, start);
        put64(f, bytes);
        e.replace(116, f.size(), f);
        return e;
    };
    std::string directory = entry("Root Entry", 5, CompoundLayout::kEnd, 0, 1)
        + entry("Workbook", 2, 1, l.size, CompoundLayout::kFree);
    directory.resize(size_t(CompoundLayout::kSector), '\0');
    return directory;
}

// The FAT sectors, then the DIFAT sectors.
inline std::string compoundTables(const CompoundLayout &l)
{
    std::string fat;
    const uint64_t entries = uint64_t(l.fatSectors) * CompoundLayout::kPerFat;
    for (uint64_t s = 0; s < entries; ++s) {
        uint32_t v = CompoundLayout::kFree;
        if (s == 0)
            v = CompoundLayout::kEnd;
        else if (s <= l.streamSectors)
            v = s < l.streamSectors ? uint32_t(s + 1) : CompoundLayout::kEnd;
        else if (s < l.firstDifat())
            v = 0xFFFFFFFD; // a FAT sector
        else if (s < l.firstDifat() + l.difatSectors)
            v = 0xFFFFFFFC; // a DIFAT sector
        put32(fat, v);
    }
    for (uint32_t k = 0; k < l.difatSectors; ++k) {
        for (uint32_t i = 0; i < CompoundLayout::kPerFat - 1; ++i) {
            const uint32_t n = 109 + k * (CompoundLayout::kPerFat - 1) + i;
            put32(fat, n < l.fatSectors ? l.firstFat() + n : CompoundLayout::kFree);
        }
        put32(fat, k + 1 < l.difatSectors ? l.firstDifat() + k + 1 : CompoundLayout::kEnd);
    }
    return fat;
}

// Writes a version 4 compound file holding one stream "Workbook": `stream`,
// followed by `zeros` zero bytes that are left as a hole in the file.
inline bool writeCompoundFile(const std::string &path, const std::string &stream,
                              uint64_t zeros = 0)
{
    const CompoundLayout layout(stream.size() + zeros);
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const std::string header = compoundHeader(layout), directory = compoundDirectory(layout);
    std::fwrite(header.data(), 1, header.size(), f);
    std::fwrite(directory.data(), 1, directory.size(), f);
    std::fwrite(stream.data(), 1, stream.size(), f);
    // The rest of the stream: a hole, up to the FAT.
    std::fseek(f, long((1 + uint64_t(layout.firstFat())) * CompoundLayout::kSector), SEEK_SET);
    const std::string tables = compoundTables(layout);
    std::fwrite(tables.data(), 1, tables.size(), f);
    return std::fclose(f) == 0;
}

} // namespace crafted
