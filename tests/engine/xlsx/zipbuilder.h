#pragma once

// Writes small zip packages in memory for the reader tests: stored or
// deflated entries, optional zip64 fields and data descriptors, and a
// minimal .xlsx around given sheet XML.

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace sdtest {

struct ZipItem
{
    std::string name;
    std::string data;
    bool deflate = true;
    bool zip64 = false; // sizes and offset in a zip64 extra field
    bool dataDescriptor = false; // sizes after the data, zero in the local header
};

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

inline std::string rawDeflate(const std::string &data, int level = 6)
{
    z_stream z {};
    deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, uLong(data.size())) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct BuiltZip
{
    std::string bytes;
    std::vector<uint64_t> localOffsets; // per item
    std::vector<uint64_t> centralOffsets; // per item: its central directory header
};

// The steps of buildZip, one record each.
namespace zipsteps {

// What the local and the central header of one entry share.
struct Entry
{
    std::string body; // the bytes as stored
    uint32_t crc = 0;
    uint16_t method = 0;
    uint16_t flags = 0;
    uint64_t offset = 0; // of the local header
    std::string extra; // the zip64 extra field of the central header, if any
};

inline Entry prepare(const ZipItem &item, uint64_t offset)
{
    Entry e;
    e.body = item.deflate ? rawDeflate(item.data) : item.data;
    e.crc = uint32_t(
        crc32(0, reinterpret_cast<const Bytef *>(item.data.data()), uInt(item.data.size())));
    e.method = item.deflate ? 8 : 0;
    e.flags = item.dataDescriptor ? 0x0008 : 0;
    e.offset = offset;
    if (item.zip64) {
        put16(e.extra, 0x0001);
        put16(e.extra, 24);
        put64(e.extra, item.data.size());
        put64(e.extra, e.body.size());
        put64(e.extra, offset);
    }
    return e;
}

// Local header, name, data and the data descriptor when asked for.
inline void putLocal(std::string &b, const ZipItem &item, const Entry &e)
{
    put32(b, 0x04034b50);
    put16(b, item.zip64 ? 45 : 20);
    put16(b, e.flags);
    put16(b, e.method);
    put32(b, 0);
    put32(b, item.dataDescriptor ? 0 : e.crc);
    put32(b, item.dataDescriptor ? 0 : item.zip64 ? 0xFFFFFFFF : uint32_t(e.body.size()));
    put32(b, item.dataDescriptor ? 0 : item.zip64 ? 0xFFFFFFFF : uint32_t(item.data.size()));
    put16(b, uint32_t(item.name.size()));
    put16(b, 0);
    b += item.name;
    b += e.body;
    if (item.dataDescriptor) {
        put32(b, 0x08074b50);
        put32(b, e.crc);
        put32(b, uint32_t(e.body.size()));
        put32(b, uint32_t(item.data.size()));
    }
}

inline void putCentral(std::string &central, const ZipItem &item, const Entry &e)
{
    put32(central, 0x02014b50);
    put16(central, 45);
    put16(central, item.zip64 ? 45 : 20);
    put16(central, e.flags);
    put16(central, e.method);
    put32(central, 0);
    put32(central, e.crc);
    put32(central, item.zip64 ? 0xFFFFFFFF : uint32_t(e.body.size()));
    put32(central, item.zip64 ? 0xFFFFFFFF : uint32_t(item.data.size()));
    put16(central, uint32_t(item.name.size()));
    put16(central, uint32_t(e.extra.size()));
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put32(central, 0);
    put32(central, item.zip64 ? 0xFFFFFFFF : uint32_t(e.offset));
    central += item.name;
    central += e.extra;
}

// The zip64 end record and its locator.
inline void putZip64End(std::string &b, uint64_t count, uint64_t dirSize, uint64_t dirOffset)
{
    const uint64_t z64 = b.size();
    put32(b, 0x06064b50);
    put64(b, 44);
    put16(b, 45);
    put16(b, 45);
    put32(b, 0);
    put32(b, 0);
    put64(b, count);
    put64(b, count);
    put64(b, dirSize);
    put64(b, dirOffset);
    put32(b, 0x07064b50);
    put32(b, 0);
    put64(b, z64);
    put32(b, 1);
}

// The end record; with zip64End its fields point to the zip64 end record.
inline void putEnd(std::string &b, bool zip64End, uint64_t count, uint64_t dirSize,
                   uint64_t dirOffset)
{
    put32(b, 0x06054b50);
    put16(b, 0);
    put16(b, 0);
    put16(b, zip64End ? 0xFFFF : uint32_t(count));
    put16(b, zip64End ? 0xFFFF : uint32_t(count));
    put32(b, zip64End ? 0xFFFFFFFF : uint32_t(dirSize));
    put32(b, zip64End ? 0xFFFFFFFF : uint32_t(dirOffset));
    put16(b, 0);
}

} // namespace zipsteps

inline BuiltZip buildZip(const std::vector<ZipItem> &items, bool zip64End = false)
{
    BuiltZip z;
    std::string central;
    for (const ZipItem &item : items) {
        const uint64_t offset = z.bytes.size();
        z.localOffsets.push_back(offset);
        const zipsteps::Entry e = zipsteps::prepare(item, offset);
        zipsteps::putLocal(z.bytes, item, e);
        z.centralOffsets.push_back(central.size());
        zipsteps::putCentral(central, item, e);
    }
    const uint64_t dirOffset = z.bytes.size();
    for (uint64_t &o : z.centralOffsets)
        o += dirOffset;
    z.bytes += central;
    if (zip64End)
        zipsteps::putZip64End(z.bytes, items.size(), central.size(), dirOffset);
    zipsteps::putEnd(z.bytes, zip64End, items.size(), central.size(), dirOffset);
    return z;
}

// A minimal workbook: one worksheet per entry of sheets (XML of the whole
// part), optional styles and shared strings; extra items are added as given.
inline std::string minimalXlsx(const std::vector<std::string> &sheets,
                               const std::string &sharedStrings = {},
                               const std::string &styles = {}, const std::string &workbookPr = {},
                               std::vector<ZipItem> extra = {},
                               const std::string &workbookRels = {})
{
    std::vector<ZipItem> items;
    items.push_back(
        { "[Content_Types].xml",
          "<?xml version=\"1.0\"?><Types "
          "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
          "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/"
          "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/></Types>" });
    items.push_back(
        { "_rels/.rels",
          "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
          "relationships/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>" });
    std::string rels
        = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    std::string wb
        = "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
        + workbookPr + "<sheets>";
    for (size_t i = 0; i < sheets.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        rels += "<Relationship Id=\"rId" + n
            + "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
              "relationships/worksheet\" Target=\"worksheets/sheet"
            + n + ".xml\"/>";
        wb += "<sheet name=\"Sheet" + n + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        items.push_back({ "xl/worksheets/sheet" + n + ".xml", sheets[i] });
    }
    if (!sharedStrings.empty()) {
        rels += "<Relationship Id=\"rSst\" "
                "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                "relationships/sharedStrings\" Target=\"sharedStrings.xml\"/>";
        items.push_back({ "xl/sharedStrings.xml", sharedStrings });
    }
    if (!styles.empty()) {
        rels += "<Relationship Id=\"rSty\" "
                "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                "relationships/styles\" Target=\"/xl/styles.xml\"/>";
        items.push_back({ "xl/styles.xml", styles });
    }
    rels += workbookRels + "</Relationships>";
    wb += "</sheets></workbook>";
    items.push_back({ "xl/_rels/workbook.xml.rels", rels });
    items.push_back({ "xl/workbook.xml", wb });
    for (ZipItem &item : extra)
        items.push_back(std::move(item));
    return buildZip(items).bytes;
}

inline std::string sheetXml(const std::string &sheetData)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
           "<worksheet "
           "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>"
        + sheetData + "</sheetData></worksheet>";
}

} // namespace sdtest
