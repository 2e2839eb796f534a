#include "xls/biff.h"

#include "core/sheetbudget.h"
#include "io/utf8.h"

#include <algorithm>
#include <cstdio>

namespace sd {
namespace biff {

const char *recordName(uint16_t id)
{
    switch (id) {
    case kDimensions2:
        return "DIMENSIONS(2)";
    case kBlank2:
        return "BLANK(2)";
    case kInteger2:
        return "INTEGER(2)";
    case kNumber2:
        return "NUMBER(2)";
    case kLabel2:
        return "LABEL(2)";
    case kBoolErr2:
        return "BOOLERR(2)";
    case kFormula:
        return "FORMULA";
    case kString2:
        return "STRING(2)";
    case kBof2:
        return "BOF(2)";
    case kEof:
        return "EOF";
    case 0x000C:
        return "CALCCOUNT";
    case 0x000D:
        return "CALCMODE";
    case 0x0010:
        return "DELTA";
    case 0x0011:
        return "ITERATION";
    case 0x0012:
        return "PROTECT";
    case 0x0013:
        return "PASSWORD";
    case 0x0014:
        return "HEADER";
    case 0x0015:
        return "FOOTER";
    case 0x0017:
        return "EXTERNSHEET";
    case 0x0018:
        return "NAME";
    case 0x0019:
        return "WINDOWPROTECT";
    case 0x001D:
        return "SELECTION";
    case kNote:
        return "NOTE";
    case kFormat2:
        return "FORMAT(2)";
    case kDateMode:
        return "DATEMODE";
    case 0x0023:
        return "EXTERNNAME";
    case kDefaultRowHeight2:
    case kDefaultRowHeight:
        return "DEFAULTROWHEIGHT";
    case 0x0026:
        return "LEFTMARGIN";
    case 0x0027:
        return "RIGHTMARGIN";
    case 0x0028:
        return "TOPMARGIN";
    case 0x0029:
        return "BOTTOMMARGIN";
    case 0x002A:
        return "PRINTHEADERS";
    case 0x002B:
        return "PRINTGRIDLINES";
    case kFilePass:
        return "FILEPASS";
    case kFont:
        return "FONT";
    case kContinue:
        return "CONTINUE";
    case 0x003D:
        return "WINDOW1";
    case 0x0040:
        return "BACKUP";
    case kCodePage:
        return "CODEPAGE";
    case kXf2:
        return "XF(2)";
    case kIxfe2:
        return "IXFE(2)";
    case 0x0055:
        return "DEFCOLWIDTH";
    case 0x005C:
        return "WRITEACCESS";
    case 0x005D:
        return "OBJ";
    case 0x007D:
        return "COLINFO";
    case kWsBool:
        return "WSBOOL";
    case 0x0085:
        return "BOUNDSHEET";
    case kBundleSheet4:
        return "BUNDLESHEET";
    case 0x008C:
        return "COUNTRY";
    case 0x0092:
        return "PALETTE";
    case 0x009C:
        return "FNGROUPCOUNT";
    case kMulRk:
        return "MULRK";
    case kMulBlank:
        return "MULBLANK";
    case 0x00C1:
        return "MMS";
    case kRString:
        return "RSTRING";
    case 0x00D7:
        return "DBCELL";
    case kXf:
        return "XF";
    case kMergeCells:
        return "MERGECELLS";
    case 0x00E1:
        return "INTERFACEHDR";
    case 0x00E2:
        return "INTERFACEEND";
    case 0x00EB:
        return "MSODRAWINGGROUP";
    case 0x00EC:
        return "MSODRAWING";
    case kSst:
        return "SST";
    case kLabelSst:
        return "LABELSST";
    case kExtSst:
        return "EXTSST";
    case 0x0160:
        return "USESELFS";
    case 0x01AE:
        return "SUPBOOK";
    case 0x01B6:
        return "TXO";
    case 0x01B8:
        return "HLINK";
    case kDimensions:
        return "DIMENSIONS";
    case kBlank:
        return "BLANK";
    case kNumber:
        return "NUMBER";
    case kLabel:
        return "LABEL";
    case kBoolErr:
        return "BOOLERR";
    case kFormula3:
        return "FORMULA(3)";
    case kString:
        return "STRING";
    case kRow:
        return "ROW";
    case kFilterMode:
        return "FILTERMODE";
    case kBof3:
        return "BOF(3)";
    case kArray:
        return "ARRAY";
    case 0x023E:
        return "WINDOW2";
    case kTable:
        return "TABLE";
    case kXf3:
        return "XF(3)";
    case 0x0293:
        return "STYLE";
    case kFormula4:
        return "FORMULA(4)";
    case kBof4:
        return "BOF(4)";
    case kFormat:
        return "FORMAT";
    case kXf4:
        return "XF(4)";
    case kShrFmla:
        return "SHRFMLA";
    case kBof:
        return "BOF";
    case kRk:
        return "RK";
    }
    return "?";
}

std::string recordWhere(uint16_t id, size_t offset)
{
    char buf[80];
    std::snprintf(buf, sizeof buf, "record 0x%04X (%s) at 0x%zx", unsigned(id), recordName(id),
                  offset);
    return buf;
}

void appendLatin1(const uint8_t *p, size_t n, std::string &out)
{
    for (size_t i = 0; i < n; ++i) {
        const uint8_t c = p[i];
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
}

void appendUtf16(const uint8_t *p, size_t units, std::string &out, uint16_t &pendingHigh)
{
    constexpr uint32_t kReplacement = 0xFFFD;
    for (size_t i = 0; i < units; ++i) {
        const uint16_t u = le16(p + 2 * i);
        if (u >= 0xD800 && u < 0xDC00) {
            if (pendingHigh)
                appendUtf8(out, kReplacement);
            pendingHigh = u;
            continue;
        }
        if (u >= 0xDC00 && u < 0xE000) {
            if (pendingHigh)
                appendUtf8(out, 0x10000 + ((uint32_t(pendingHigh) - 0xD800) << 10) + (u - 0xDC00));
            else
                appendUtf8(out, kReplacement);
            pendingHigh = 0;
            continue;
        }
        if (pendingHigh) {
            appendUtf8(out, kReplacement);
            pendingHigh = 0;
        }
        appendUtf8(out, u);
    }
}

namespace {

std::string offsetText(size_t offset)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "offset 0x%zx", offset);
    return buf;
}

} // namespace

RecordReader::RecordReader(const RandomAccessSource &source, size_t pos)
    : m_source(&source)
    , m_data(source.data())
    , m_size(size_t(source.size()))
    , m_pos(pos)
    , m_start(pos)
    , m_keep(pos)
{
}

void RecordReader::setLimits(uint64_t records, uint64_t bytes)
{
    m_maxRecords = records;
    m_maxBytes = bytes;
}

const uint8_t *RecordReader::view(size_t pos, size_t n)
{
    if (m_data)
        return m_data + pos;
    if (pos >= m_windowStart && pos + n <= m_windowStart + m_windowLength)
        return m_window.data() + (pos - m_windowStart);
    // Refill from the start of the record in hand, which stays readable: a
    // record and the header after it take less than half the window.
    const size_t from = std::min(m_keep, pos);
    const size_t want = std::max(m_fill, pos + n - from);
    m_fill = std::min(2 * m_fill, kWindowBytes);
    if (m_window.size() < want)
        m_window.resize(std::max(want, std::min(2 * m_window.size(), kWindowBytes)));
    m_windowStart = from;
    m_windowLength = std::min(m_window.size(), m_size - from);
    if (Error e = m_source->readAt(from, m_window.data(), m_windowLength)) {
        m_windowLength = 0;
        m_error = e;
        return nullptr;
    }
    return m_window.data() + (pos - from);
}

bool RecordReader::next(Record &r)
{
    if (m_error)
        return false;
    if (m_pos >= m_size || m_size - m_pos < 4) {
        m_truncated = m_pos < m_size;
        return false;
    }
    if (m_records >= m_maxRecords) {
        m_error = limitError(offsetText(m_pos), m_maxRecords, "records in one sheet");
        return false;
    }
    if (m_pos - m_start >= m_maxBytes) {
        m_error
            = limitError(offsetText(m_pos), m_maxBytes, "bytes of records read from one workbook");
        return false;
    }
    const uint8_t *header = view(m_pos, 4);
    if (!header)
        return false;
    const uint16_t size = le16(header + 2);
    if (m_size - m_pos - 4 < size) {
        m_truncated = true;
        return false;
    }
    const uint8_t *whole = view(m_pos, 4 + size_t(size));
    if (!whole)
        return false;
    r.offset = m_pos;
    r.id = le16(whole);
    r.size = size;
    r.data = whole + 4;
    m_keep = m_pos;
    m_pos += 4 + size_t(size);
    ++m_records;
    return true;
}

bool RecordReader::peekId(uint16_t &id)
{
    if (m_error || m_pos >= m_size || m_size - m_pos < 4)
        return false;
    const uint8_t *header = view(m_pos, 4);
    if (!header)
        return false;
    id = le16(header);
    return true;
}

bool SegmentCursor::advance()
{
    if (m_reader) {
        uint16_t id = 0;
        Record more;
        if (m_reader->peekId(id) && id == kContinue && m_reader->next(more)) {
            m_current = { more.data, more.size };
            m_pos = 0;
            return true;
        }
    } else if (m_index + 1 < m_count) {
        m_current = m_segments[++m_index];
        m_pos = 0;
        return true;
    }
    m_done = true;
    return false;
}

// Copies n bytes across segment boundaries into out, or only passes over them
// when out is null.
void SegmentCursor::read(uint8_t *out, size_t n)
{
    while (n > 0) {
        settle();
        if (m_done) {
            m_ok = false;
            return;
        }
        const size_t take = std::min(n, m_current.size - m_pos);
        if (out) {
            std::memcpy(out, m_current.data + m_pos, take);
            out += take;
        }
        m_pos += take;
        n -= take;
    }
}

void SegmentCursor::skip(size_t n)
{
    read(nullptr, n);
}

void SegmentCursor::bytes(size_t count, std::string &out)
{
    while (count > 0) {
        settle();
        if (m_done) {
            m_ok = false;
            return;
        }
        const size_t take = std::min(count, m_current.size - m_pos);
        out.append(reinterpret_cast<const char *>(m_current.data + m_pos), take);
        m_pos += take;
        count -= take;
    }
}

void SegmentCursor::chars(size_t count, bool compressed, std::string &out)
{
    uint16_t pendingHigh = 0;
    while (count > 0) {
        if (m_done) {
            m_ok = false;
            return;
        }
        const size_t unit = compressed ? 1 : 2;
        const size_t n = std::min(count, (m_current.size - m_pos) / unit);
        if (compressed)
            appendLatin1(m_current.data + m_pos, n, out);
        else
            appendUtf16(m_current.data + m_pos, n, out, pendingHigh);
        m_pos += n * unit;
        count -= n;
        if (count == 0)
            break;
        // The characters go on in the next CONTINUE, which starts with the
        // flag byte that says how they are stored from there on.
        if (!advance() || m_current.size == 0) {
            m_done = true;
            m_ok = false;
            return;
        }
        compressed = !(m_current.data[0] & 1);
        m_pos = 1;
    }
    if (pendingHigh)
        appendUtf8(out, 0xFFFD);
}

} // namespace biff
} // namespace sd
