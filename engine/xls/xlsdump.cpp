#include "xls/xlsdump.h"

#include "io/cfb.h"
#include "xls/biff.h"
#include "xls/xlsreader.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace sd {

Error dumpXls(const uint8_t *data, size_t size, std::string &out, size_t hexBytes)
{
    char line[160];
    std::vector<uint8_t> stream;
    const uint8_t *records = data;
    size_t recordBytes = size;
    if (hasMagic(data, size, kCfbMagic)) {
        CompoundFile cfb;
        if (Error e = cfb.open(data, size))
            return e;
        for (const CompoundFile::Entry &entry : cfb.rootEntries()) {
            std::snprintf(line, sizeof line, "entry %-32s type %u start %u size %llu\n",
                          entry.name.c_str(), unsigned(entry.type), unsigned(entry.start),
                          static_cast<unsigned long long>(entry.size));
            out += line;
        }
        int index = cfb.findRootEntry("Workbook");
        if (index < 0)
            index = cfb.findRootEntry("Book");
        if (index < 0)
            return Error(ErrorCode::NotAWorkbook, {}, "compound file without a Workbook stream");
        if (Error e = cfb.readStream(cfb.rootEntries()[size_t(index)], stream))
            return e;
        records = stream.data();
        recordBytes = stream.size();
    } else if (!looksLikeBareBiff(data, size)) {
        return Error(ErrorCode::NotAWorkbook, {}, "not an Excel workbook");
    }
    biff::RecordReader reader(records, recordBytes);
    biff::Record r;
    while (reader.next(r)) {
        std::snprintf(line, sizeof line, "%08zx %04X %-14s %5u ", r.offset, unsigned(r.id),
                      biff::recordName(r.id), unsigned(r.size));
        out += line;
        for (size_t i = 0; i < r.size && i < hexBytes; ++i) {
            std::snprintf(line, sizeof line, "%02x", r.data[i]);
            out += line;
        }
        out += '\n';
    }
    if (reader.truncated()) {
        std::snprintf(line, sizeof line, "%08zx record runs past the end of the stream\n",
                      reader.position());
        out += line;
    }
    return {};
}

} // namespace sd
