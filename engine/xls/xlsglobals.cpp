#include "xls/xlsreader_p.h"

#include "core/sheetbudget.h"
#include "formula/formulalimits.h"
#include "io/limits.h"

#include <QByteArray>

namespace sd {

using namespace biff;

namespace {

// Position-numbered codes of BIFF2-4 that equal one of the application's own
// formats keep that format's id.
int legacyFormatId(int position, const std::string &code)
{
    static const struct
    {
        const char *code;
        int id;
    } known[] = {
        { "General", 0 },
        { "0", 1 },
        { "0.00", 2 },
        { "#,##0", 3 },
        { "#,##0.00", 4 },
        { "0%", 9 },
        { "0.00%", 10 },
        { "0.00E+00", 11 },
        { "# ?/?", 12 },
        { "# ?\?/?\?", 13 },
        { "h:mm", 20 },
        { "h:mm:ss", 21 },
        { "mm:ss", 45 },
        { "[h]:mm:ss", 46 },
        { "mm:ss.0", 47 },
        { "##0.0E+0", 48 },
        { "@", 49 },
        // The dates and times of the BIFF2-4 default list, written as Excel 4 spelled them.
        { "m/d/yy", 14 },
        { "d\\-mmm\\-yy", 15 },
        { "d\\-mmm", 16 },
        { "mmm\\-yy", 17 },
        { "h:mm\\ AM/PM", 18 },
        { "h:mm:ss\\ AM/PM", 19 },
        { "m/d/yy\\ h:mm", 22 },
        { "d-mmm-yy", 15 },
        { "d-mmm", 16 },
        { "mmm-yy", 17 },
        { "h:mm AM/PM", 18 },
        { "h:mm:ss AM/PM", 19 },
        { "m/d/yy h:mm", 22 },
    };
    for (const auto &k : known) {
        if (qstricmp(code.c_str(), k.code) == 0)
            return k.id;
    }
    return kFirstCustomFormatId + position;
}

} // namespace

Error XlsGlobalsParser::parse(const RandomAccessSource &stream, std::vector<size_t> &offsets,
                              const std::string &name)
{
    RecordReader rr(stream);
    rr.setLimits(kMaxSubstreamRecords, kMaxWorkbookRecordBytes);
    Error e = gather(rr, name);
    m_bytesRead = rr.bytesRead();
    if (e || (e = rr.error()))
        return e;
    m_info.codec = codecForCodePage(m_codePage);
    m_info.sstCount = uint32_t(m_book.strings.size());
    m_info.emptyString = uint32_t(m_book.strings.size());
    m_book.strings.emplace_back();
    resolveFormats();
    resolveSheets(stream, offsets, name);
    return {};
}

Error XlsGlobalsParser::gather(RecordReader &rr, const std::string &name)
{
    Record r;
    if (!rr.next(r) || !isBof(r.id) || r.size < 4)
        return Error(ErrorCode::NotAWorkbook, name,
                     "the workbook stream does not start with a BOF record");
    while (rr.next(r)) {
        if (Error e = record(r, rr))
            return e;
        if (r.id == kEof && !m_info.bare)
            break;
    }
    m_info.globalsEnd = rr.position();
    if (rr.error())
        return rr.error();
    if (rr.truncated() && !m_info.bare)
        return Error(ErrorCode::Corrupt, offsetWhere(rr.position()),
                     "workbook globals run past the end of the stream");
    return {};
}

Error XlsGlobalsParser::record(const Record &r, RecordReader &rr)
{
    const uint8_t *d = r.data;
    const size_t n = r.size;
    switch (r.id) {
    case kFilePass: // decrypted before this pass (xlsdecrypt.cpp), or refused there
        if (!m_info.decrypted)
            return Error(ErrorCode::Encrypted, recordWhere(r), "FILEPASS record out of place");
        return {};
    case kCodePage:
        if (n >= 2)
            m_codePage = le16(d);
        return {};
    case kDateMode:
        if (n >= 2)
            m_book.date1904 = le16(d) != 0;
        return {};
    case kFormat2:
    case kFormat:
        return formatRecord(r);
    case kXf:
    case kXf3:
    case kXf4:
    case kXf2:
        return xfRecord(r);
    case kBoundSheet:
        return sheetRecord(r);
    case kBundleSheet4:
        return Error(ErrorCode::Unsupported, recordWhere(r),
                     "Excel 4 workbooks (BIFF4W) are not supported");
    case kSst:
        if (m_info.version != 8 || m_sawSst)
            return {};
        m_sawSst = true;
        return parseSst(r, rr);
    case kName:
        if (Error e = nameRecord(r))
            return e;
        return namesWithinBound(r);
    case kExternSheet:
        externSheetRecord(r);
        return namesWithinBound(r);
    case kSupBook:
        supBookRecord(r);
        return namesWithinBound(r);
    case kExternName:
        externNameRecord(r);
        return namesWithinBound(r);
    default:
        return {};
    }
}

// NAME (BIFF5-8): a defined name and its tokens. Its position in the
// globals is the number that ptgName tokens use (from 1).
Error XlsGlobalsParser::nameRecord(const Record &r)
{
    if (m_info.version < 5 || r.size < 14 || m_book.names.size() >= kMaxDefinedNames)
        return {};
    static const char *const builtin[]
        = { "Consolidate_Area", "Auto_Open",       "Auto_Close",   "Extract",        "Database",
            "Criteria",         "Print_Area",      "Print_Titles", "Recorder",       "Data_Form",
            "Auto_Activate",    "Auto_Deactivate", "Sheet_Title",  "_FilterDatabase" };
    const uint8_t *d = r.data;
    const uint16_t flags = le16(d);
    const size_t chars = d[3];
    const size_t cce = le16(d + 4);
    const int itab = le16(d + 8);
    DefinedName n;
    n.scope = itab > 0 ? itab - 1 : -1;
    n.biff5 = m_info.version < 8;
    n.tokens = true;
    size_t at = 14;
    std::string raw;
    if (m_info.version == 8) {
        const bool wide = r.size > at && (d[at] & 0x01);
        const size_t bytes = chars * (wide ? 2 : 1);
        if (r.size < at + 1 + bytes)
            return {};
        uint16_t pending = 0;
        if (wide)
            appendUtf16(d + at + 1, chars, raw, pending);
        else
            appendLatin1(d + at + 1, chars, raw);
        at += 1 + bytes;
    } else {
        if (r.size - at < chars)
            return {};
        appendLatin1(d + at, chars, raw);
        at += chars;
    }
    if ((flags & 0x20) && !raw.empty()) {
        const uint8_t code = uint8_t(raw[0]);
        n.name = std::string("_xlnm.")
            + (code < sizeof builtin / sizeof builtin[0] ? builtin[code] : "Builtin");
    } else {
        n.name = std::move(raw);
    }
    if (r.size - at >= cce) {
        n.data.assign(reinterpret_cast<const char *>(d + at), cce);
        n.extra.assign(reinterpret_cast<const char *>(d + at + cce), r.size - at - cce);
    }
    m_nameBytes += 3 * kTextObjectBytes + n.name.size() + n.data.size() + n.extra.size();
    m_book.names.push_back(std::move(n));
    return {};
}

Error XlsGlobalsParser::namesWithinBound(const Record &r) const
{
    if (m_nameBytes > kMaxNameBytes)
        return limitError(recordWhere(r), kMaxNameBytes, "bytes of names in one workbook");
    return {};
}

// EXTERNSHEET (BIFF8): the sheets that 3-D references and external names
// point at, through SUPBOOK records.
void XlsGlobalsParser::externSheetRecord(const Record &r)
{
    if (m_info.version != 8 || r.size < 2)
        return;
    const size_t count = std::min<size_t>(le16(r.data), (r.size - 2) / 6);
    for (size_t i = 0; i < count && m_book.externSheets.size() < kMaxDefinedNames; ++i) {
        const uint8_t *p = r.data + 2 + 6 * i;
        ExternSheet x;
        x.supbook = le16(p);
        const int16_t first = int16_t(le16(p + 2)), last = int16_t(le16(p + 4));
        // Only the workbook's own SUPBOOK points at its sheets.
        if (size_t(x.supbook) < m_supbookInternal.size() && m_supbookInternal[size_t(x.supbook)]
            && first >= 0 && last >= 0) {
            x.first = first;
            x.last = last;
        }
        m_nameBytes += sizeof x;
        m_book.externSheets.push_back(x);
    }
}

// SUPBOOK (BIFF8): this workbook (cch 0x0401), add-in functions (0x3A01) or
// another workbook.
void XlsGlobalsParser::supBookRecord(const Record &r)
{
    if (m_info.version != 8 || m_supbookInternal.size() >= kMaxDefinedNames)
        return;
    m_supbookInternal.push_back(r.size >= 4 && le16(r.data + 2) == 0x0401);
    m_nameBytes += kTextObjectBytes;
    m_book.externNames.emplace_back();
}

// EXTERNNAME (BIFF8): a name of the SUPBOOK before it; for add-ins the
// function's name (EDATE, EOMONTH ... in files of older versions).
void XlsGlobalsParser::externNameRecord(const Record &r)
{
    if (m_info.version != 8 || m_book.externNames.empty() || r.size < 7)
        return;
    auto &names = m_book.externNames.back();
    if (names.size() >= kMaxDefinedNames)
        return;
    const size_t chars = r.data[6];
    const bool wide = r.size > 7 && (r.data[7] & 0x01);
    std::string name;
    if (r.size >= 8 + chars * (wide ? 2 : 1)) {
        uint16_t pending = 0;
        if (wide)
            appendUtf16(r.data + 8, chars, name, pending);
        else
            appendLatin1(r.data + 8, chars, name);
    }
    m_nameBytes += kTextObjectBytes + name.size();
    names.push_back(name);
}

Error XlsGlobalsParser::formatRecord(const Record &r)
{
    const uint8_t *d = r.data;
    const size_t n = r.size;
    if (r.id == kFormat2) {
        if (n < 1 || size_t(d[0]) > n - 1)
            return damaged(r, "format code runs past the record");
        m_formats.push_back(
            { int(m_formats.size()), std::string(reinterpret_cast<const char *>(d + 1), d[0]) });
        return {};
    }
    if (n < 3)
        return tooShort(r);
    if (m_info.version == 8) {
        const SegmentCursor::Segment seg { d + 2, n - 2 };
        SegmentCursor c(&seg, 1);
        std::string code;
        if (!readUnicodeString(c, true, false, code))
            return damaged(r, "format code runs past the record");
        m_formats.push_back({ le16(d), std::move(code) });
    } else {
        if (size_t(d[2]) > n - 3)
            return damaged(r, "format code runs past the record");
        const int id = m_info.version <= 4 ? int(m_formats.size()) : le16(d);
        m_formats.push_back({ id, std::string(reinterpret_cast<const char *>(d + 3), d[2]) });
    }
    return {};
}

Error XlsGlobalsParser::xfRecord(const Record &r)
{
    const uint8_t *d = r.data;
    const size_t n = r.size;
    switch (r.id) {
    case kXf:
        if (n < 6)
            return tooShort(r);
        if (m_xfs.size() >= kMaxCellFormats)
            return limitError(recordWhere(r), kMaxCellFormats, "cell formats");
        m_xfs.push_back({ le16(d + 2), (le16(d + 4) & kXfQuotePrefix) != 0 });
        break;
    case kXf3:
    case kXf4:
        if (n < 4)
            return tooShort(r);
        if (m_xfs.size() >= kMaxCellFormats)
            return limitError(recordWhere(r), kMaxCellFormats, "cell formats");
        m_xfs.push_back({ d[1], (d[2] & kXfQuotePrefix) != 0 });
        break;
    default: // XF2
        if (n < 4)
            return tooShort(r);
        if (m_xfs.size() >= kMaxCellFormats)
            return limitError(recordWhere(r), kMaxCellFormats, "cell formats");
        m_xfs.push_back({ uint16_t(d[2] & 0x3F), false });
        break;
    }
    return {};
}

Error XlsGlobalsParser::sheetRecord(const Record &r)
{
    const uint8_t *d = r.data;
    const size_t n = r.size;
    if (n < 7)
        return tooShort(r);
    if (m_sheets.size() >= kMaxSheets)
        return limitError(recordWhere(r), kMaxSheets, "sheets");
    RawSheet s { le32(d), d[4], d[5], {} };
    if (m_info.version == 8) {
        const SegmentCursor::Segment seg { d + 6, n - 6 };
        SegmentCursor c(&seg, 1);
        if (!readUnicodeString(c, false, false, s.name))
            return damaged(r, "sheet name runs past the record");
    } else {
        if (size_t(d[6]) > n - 7)
            return damaged(r, "sheet name runs past the record");
        s.name.assign(reinterpret_cast<const char *>(d + 7), d[6]);
    }
    m_sheets.push_back(std::move(s));
    return {};
}

// The shared strings, read as the SST and its CONTINUE records stream by;
// held to kMaxSharedStrings strings and kMaxSharedStringBytes of memory.
Error XlsGlobalsParser::parseSst(const Record &first, RecordReader &rr)
{
    SegmentCursor c(first, rr);
    c.skip(8); // total and unique counts: not trusted, the strings are read until the data ends
    if (!c.ok())
        return tooShort(first);
    uint64_t bytes = 0;
    while (!c.atEnd()) {
        std::string s;
        const bool whole = readUnicodeString(c, true, true, s);
        // A string cut short by the end of the table: keep what it holds.
        if (m_book.strings.size() >= kMaxSharedStrings)
            return limitError(recordWhere(first), kMaxSharedStrings, "shared strings");
        bytes += kTextObjectBytes + s.size();
        if (bytes > kMaxSharedStringBytes)
            return limitError(recordWhere(first), kMaxSharedStringBytes, "bytes of shared strings");
        m_book.strings.push_back(std::move(s));
        if (!whole)
            break;
    }
    c.skipRest();
    return {};
}

std::string XlsGlobalsParser::decode(const std::string &raw) const
{
    if (m_info.version == 8)
        return raw;
    std::string out;
    appendText8(m_info, reinterpret_cast<const uint8_t *>(raw.data()), raw.size(), out);
    return out;
}

// Number formats and cell formats.
void XlsGlobalsParser::resolveFormats()
{
    if (m_info.version > 4) {
        // Every code goes to the table, built-in ids too: the renderer knows
        // which of them the application takes from the file (the currency
        // formats) and which it shows its own way.
        for (const RawFormat &f : m_formats)
            m_book.numFmts[f.id]
                = f.text.size() <= kMaxFormatCodeBytes ? decode(f.text) : "General";
        for (const RawXf &x : m_xfs)
            m_book.xfs.push_back({ x.format, x.quotePrefix });
        return;
    }
    std::vector<int> ids;
    for (const RawFormat &f : m_formats) {
        const std::string code = f.text.size() <= kMaxFormatCodeBytes ? decode(f.text) : "General";
        const int id = legacyFormatId(f.id, code);
        ids.push_back(id);
        if (id >= kFirstCustomFormatId)
            m_book.numFmts[id] = code;
    }
    auto idAt = [&](size_t position) { return position < ids.size() ? ids[position] : 0; };
    if (m_info.version == 2) {
        // BIFF2 cells name their format directly (see XlsSheetParser::biff2Xf).
        for (uint32_t i = 0; i < kBiff2FormatSlots; ++i)
            m_book.xfs.push_back({ uint16_t(idAt(i)), false });
        for (const RawXf &x : m_xfs)
            m_book.xfs.push_back({ uint16_t(idAt(x.format)), false });
    } else {
        for (const RawXf &x : m_xfs)
            m_book.xfs.push_back({ uint16_t(idAt(x.format)), x.quotePrefix });
    }
}

void XlsGlobalsParser::resolveSheets(const RandomAccessSource &stream, std::vector<size_t> &offsets,
                                     const std::string &name)
{
    if (m_info.bare) {
        SheetInfo info;
        info.name = name;
        m_book.sheets.push_back(info);
        offsets.push_back(0);
        return;
    }
    for (const RawSheet &raw : m_sheets) {
        m_book.sheets.push_back(sheetInfo(raw, stream));
        offsets.push_back(raw.offset);
    }
}

SheetInfo XlsGlobalsParser::sheetInfo(const RawSheet &raw, const RandomAccessSource &stream) const
{
    SheetInfo info;
    info.name = decode(raw.name.substr(0, kMaxSheetNameBytes));
    switch (raw.state & 0x03) {
    case 1:
        info.state = SheetState::Hidden;
        break;
    case 2:
        info.state = SheetState::VeryHidden;
        break;
    default:
        info.state = SheetState::Visible;
        break;
    }
    switch (raw.type) {
    case kTypeMacro:
        info.kind = SheetKind::Macro;
        break;
    case kTypeChart:
        info.kind = SheetKind::Chart;
        break;
    case kTypeVbModule:
        info.kind = SheetKind::Module;
        break;
    default:
        info.kind = SheetKind::Worksheet;
        break;
    }
    // The sheet's own BOF says what it is; a WSBOOL flag marks dialogs.
    RecordReader sr(stream, raw.offset);
    Record s;
    if (raw.offset < stream.size() && sr.next(s) && s.id == kBof && s.size >= 4) {
        const uint16_t dt = le16(s.data + 2);
        if (dt == kBofChart)
            info.kind = SheetKind::Chart;
        else if (dt == kBofVbModule)
            info.kind = SheetKind::Module;
        else if (dt == kBofMacroSheet)
            info.kind = SheetKind::Macro;
        for (int i = 0; info.kind == SheetKind::Worksheet && i < kKindScanRecords && sr.next(s);
             ++i) {
            if (s.id == kWsBool && s.size >= 1) {
                if (s.data[0] & kWsBoolDialog)
                    info.kind = SheetKind::Dialog;
                break;
            }
            if (s.id == kDimensions || s.id == kEof)
                break;
        }
    }
    return info;
}

} // namespace sd
