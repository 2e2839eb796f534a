#pragma once

// BIFF record layer: record ids with their names, a record iterator over a
// workbook stream that never reads past the stream, and a field cursor that
// knows the bytes left in the current record.

#include "io/byteorder.h"
#include "io/error.h"
#include "io/randomaccess.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace sd {
namespace biff {

// Record ids (BIFF2-8). Where a record changed its id between versions the
// suffix names the first version that uses it.
enum RecordId : uint16_t {
    kDimensions2 = 0x0000,
    kBlank2 = 0x0001,
    kInteger2 = 0x0002,
    kNumber2 = 0x0003,
    kLabel2 = 0x0004,
    kBoolErr2 = 0x0005,
    kFormula = 0x0006, // BIFF2 and BIFF5-8
    kString2 = 0x0007,
    kBof2 = 0x0009,
    kEof = 0x000A,
    kFormat2 = 0x001E,
    kNote = 0x001C,
    kDateMode = 0x0022,
    kFilePass = 0x002F,
    kFont = 0x0031,
    kContinue = 0x003C,
    kCodePage = 0x0042,
    kXf2 = 0x0043,
    kIxfe2 = 0x0044,
    kColInfo = 0x007D,
    kWsBool = 0x0081,
    kBoundSheet = 0x0085,
    kBundleSheet4 = 0x008F,
    kRk = 0x027E,
    kMulRk = 0x00BD,
    kMulBlank = 0x00BE,
    kRString = 0x00D6,
    kXf = 0x00E0,
    kMergeCells = 0x00E5,
    kSst = 0x00FC,
    kLabelSst = 0x00FD,
    kExtSst = 0x00FF,
    kDimensions = 0x0200,
    kBlank = 0x0201,
    kNumber = 0x0203,
    kLabel = 0x0204,
    kBoolErr = 0x0205,
    kFormula3 = 0x0206,
    kExternSheet = 0x0017,
    kName = 0x0018,
    kExternName = 0x0023,
    kDefaultRowHeight2 = 0x0025,
    kDefaultRowHeight = 0x0225,
    kSupBook = 0x01AE,
    kString = 0x0207,
    kRow = 0x0208,
    kFilterMode = 0x009B,
    kBof3 = 0x0209,
    kArray = 0x0221,
    kTable = 0x0236,
    kXf3 = 0x0243,
    kFormula4 = 0x0406,
    kBof4 = 0x0409,
    kFormat = 0x041E,
    kXf4 = 0x0443,
    kShrFmla = 0x04BC,
    kBof = 0x0809,
};

// BOF substream types (the dt field of BIFF5-8 BOF records).
enum BofType : uint16_t {
    kBofGlobals = 0x0005,
    kBofVbModule = 0x0006,
    kBofWorksheet = 0x0010,
    kBofChart = 0x0020,
    kBofMacroSheet = 0x0040,
    kBofWorkspace = 0x0100,
};

// BIFF version numbers of BOF records.
constexpr uint16_t kBiff8Version = 0x0600;

// Name of a record id ("NUMBER"), or "?" when unknown.
const char *recordName(uint16_t id);

// Decodes an RK value: a 30-bit integer or the top 30 bits of a double,
// optionally divided by 100.
inline double decodeRk(uint32_t rk)
{
    double value;
    if (rk & 2) {
        value = double(int32_t(rk) >> 2);
    } else {
        uint64_t bits = uint64_t(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return (rk & 1) ? value / 100.0 : value;
}

struct Record
{
    uint16_t id = 0;
    uint16_t size = 0;
    size_t offset = 0; // of the record header in the stream
    const uint8_t *data = nullptr;
};

// "record 0x0203 (NUMBER) at 0x1a2c"
std::string recordWhere(uint16_t id, size_t offset);
inline std::string recordWhere(const Record &r)
{
    return recordWhere(r.id, r.offset);
}

// Walks the records of a stream. next() returns false at the end of the
// stream, and also when a record header announces more bytes than are left
// (truncated() then tells the two apart), and when it cannot go on (error()
// then says why: a read error, or a bound of setLimits() passed).
//
// Over memory, records are handed out in place. Over any other source (a
// compound-file stream read as it goes) they are read through a window of
// kWindowBytes: a record's data stays valid until the record after the next
// one is read, so peekId() never spoils the record in hand.
class RecordReader
{
public:
    RecordReader(const uint8_t *data, size_t size, size_t pos = 0)
        : m_data(data)
        , m_size(size)
        , m_pos(pos)
        , m_start(pos)
        , m_keep(pos)
    {
    }
    explicit RecordReader(const RandomAccessSource &source, size_t pos = 0);

    // Stops after `records` records or `bytes` bytes from the starting
    // position, with an error that names the bound.
    void setLimits(uint64_t records, uint64_t bytes);

    bool next(Record &r);
    // Id of the next record without consuming it; false at the end.
    bool peekId(uint16_t &id);
    bool truncated() const { return m_truncated; }
    size_t position() const { return m_pos; }
    size_t size() const { return m_size; } // of the whole stream
    // Bytes of records read since the starting position.
    uint64_t bytesRead() const { return m_pos - m_start; }
    const Error &error() const { return m_error; }

    static constexpr size_t kWindowBytes = size_t(256) << 10;
    // The first read is small: a sheet's kind is told from its first few
    // records, and a workbook may have thousands of sheets.
    static constexpr size_t kFirstFillBytes = size_t(16) << 10;

private:
    // The n bytes at pos; nullptr (with m_error set) when they cannot be read.
    const uint8_t *view(size_t pos, size_t n);

    const RandomAccessSource *m_source = nullptr;
    const uint8_t *m_data = nullptr; // in memory: the whole stream
    size_t m_size = 0;
    size_t m_pos = 0;
    size_t m_start = 0;
    size_t m_keep = 0; // start of the last record handed out
    std::vector<uint8_t> m_window;
    size_t m_windowStart = 0, m_windowLength = 0;
    size_t m_fill = kFirstFillBytes; // bytes the next refill reads, doubling up to the window
    uint64_t m_records = 0;
    uint64_t m_maxRecords = UINT64_MAX, m_maxBytes = UINT64_MAX;
    bool m_truncated = false;
    Error m_error;
};

// Reads fields across a record and its CONTINUE records. Every read checks
// the bytes left; a failed read leaves ok() false. Character runs re-read
// the compressed/uncompressed flag at each segment boundary, as BIFF8 does
// for strings split by CONTINUE.
class SegmentCursor
{
public:
    struct Segment
    {
        const uint8_t *data;
        size_t size;
    };
    // Over a list of segments.
    SegmentCursor(const Segment *segments, size_t count)
        : m_segments(segments)
        , m_count(count)
        , m_current(count > 0 ? segments[0] : Segment { nullptr, 0 })
        , m_done(count == 0)
    {
    }
    // Over a record and the CONTINUE records that follow it in `reader`,
    // each read only when the fields reach it (an SST of gigabytes is never
    // held whole).
    SegmentCursor(const Record &first, RecordReader &reader)
        : m_reader(&reader)
        , m_current { first.data, first.size }
    {
    }

    bool ok() const { return m_ok; }
    bool atEnd()
    {
        settle();
        return m_done;
    }
    uint8_t u8()
    {
        uint8_t v = 0;
        read(&v, 1);
        return v;
    }
    uint16_t u16()
    {
        uint8_t b[2] = {};
        read(b, 2);
        return le16(b);
    }
    uint32_t u32()
    {
        uint8_t b[4] = {};
        read(b, 4);
        return le32(b);
    }
    void skip(size_t n);
    // Appends `count` characters as UTF-8. `compressed` is the flag for the
    // first part; each later segment starts with its own flag byte.
    void chars(size_t count, bool compressed, std::string &out);
    // Appends `count` raw bytes (8-bit text in the workbook's code page).
    void bytes(size_t count, std::string &out);
    // Passes over the rest, CONTINUE records included.
    void skipRest()
    {
        while (!atEnd())
            m_pos = m_current.size;
    }

private:
    // Moves on to the next segment; false (and m_done) when there is none.
    bool advance();
    void settle()
    {
        while (!m_done && m_pos >= m_current.size && advance()) { }
    }
    void read(uint8_t *out, size_t n);

    const Segment *m_segments = nullptr;
    size_t m_count = 0;
    size_t m_index = 0; // of m_current in m_segments
    RecordReader *m_reader = nullptr;
    Segment m_current;
    size_t m_pos = 0;
    bool m_done = false;
    bool m_ok = true;
};

// Appends one UTF-16 code unit sequence as UTF-8 (lone surrogates become U+FFFD).
void appendUtf16(const uint8_t *p, size_t units, std::string &out, uint16_t &pendingHigh);
void appendLatin1(const uint8_t *p, size_t n, std::string &out);

} // namespace biff
} // namespace sd
