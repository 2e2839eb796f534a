#include "io/xmlreader.h"

#include "io/limits.h"
#include "io/utf16source.h"
#include "io/utf8.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace sd {

namespace {

constexpr size_t kInitialWindow = 256 * 1024;
constexpr size_t kSmallestWindow = 4096;

// Character classes for the tag scanner, one table lookup per byte.
enum : uint8_t { kSpace = 1, kNameStop = 2 };
struct CharClasses
{
    uint8_t table[256] = {};
    constexpr CharClasses()
    {
        for (unsigned char c : { ' ', '\t', '\n', '\r' })
            table[c] = kSpace | kNameStop;
        for (unsigned char c : { '/', '>', '=' })
            table[c] = kNameStop;
    }
};
constexpr CharClasses kClasses;

inline bool isSpace(char c)
{
    return kClasses.table[uint8_t(c)] & kSpace;
}
inline bool isNameStop(char c)
{
    return kClasses.table[uint8_t(c)] & kNameStop;
}

inline std::string_view localName(std::string_view qname)
{
    const size_t colon = qname.rfind(':');
    return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

XmlReader::XmlReader(ByteSource &source, std::string where, uint64_t sizeHint)
    : m_source(&source)
    , m_where(std::move(where))
{
    // One byte more than the part lets the first read see its end.
    m_buffer.resize(size_t(std::clamp<uint64_t>(sizeHint + 1, kSmallestWindow, kInitialWindow)));
    m_attributes.reserve(16);
}

void XmlReader::fail(ErrorCode code, const std::string &detail)
{
    if (!m_error)
        m_error = Error(code, m_where, detail + " at byte " + std::to_string(m_consumed + m_begin));
}

std::string_view XmlReader::attribute(std::string_view localName) const
{
    for (const XmlAttribute &a : m_attributes) {
        if (a.name == localName)
            return a.value;
    }
    return {};
}

bool XmlReader::refill()
{
    if (m_eof)
        return false;
    if (m_begin > 0) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
        m_consumed += m_begin;
        m_end -= m_begin;
        m_begin = 0;
    }
    if (m_end == m_buffer.size()) {
        if (m_buffer.size() >= kMaxXmlToken) {
            fail(ErrorCode::TooLarge,
                 "XML token longer than " + std::to_string(kMaxXmlToken) + " bytes");
            return false;
        }
        m_buffer.resize(m_buffer.size() * 2);
    }
    if (!m_encodingKnown) {
        if (!detectEncoding())
            return false;
        if (m_eof)
            return true;
    }
    size_t got = 0;
    if (Error e = m_source->read(m_buffer.data() + m_end, m_buffer.size() - m_end, &got)) {
        m_error = e;
        return false;
    }
    if (got == 0)
        m_eof = true;
    m_end += got;
    return true;
}

// Reads the part's first bytes (before anything is scanned). A part in
// UTF-16, with or without a byte-order mark, is read through a transcoder
// from then on; the bytes already read go to it, and the window starts
// over with UTF-8. (Error offsets of such a part count UTF-8 bytes.)
bool XmlReader::detectEncoding()
{
    m_encodingKnown = true;
    while (m_end < 4 && !m_eof) {
        size_t got = 0;
        if (Error e = m_source->read(m_buffer.data() + m_end, 4 - m_end, &got)) {
            m_error = e;
            return false;
        }
        m_eof = got == 0;
        m_end += got;
    }
    bool bigEndian = false;
    size_t bom = 0;
    if (!looksLikeUtf16(m_buffer.data(), m_end, &bigEndian, &bom))
        return true;
    m_utf16 = std::make_unique<Utf16Source>(*m_source, bigEndian,
                                            std::string(m_buffer.data() + bom, m_end - bom), m_eof);
    m_source = m_utf16.get();
    m_end = 0;
    m_eof = false;
    return true;
}

XmlReader::Event XmlReader::next()
{
    if (m_error)
        return End;
    if (m_pendingEnd) {
        m_pendingEnd = false;
        --m_depth;
        m_open.pop_back();
        return EndElement;
    }
    for (;;) {
        Event event = End;
        const Scan scan = scanToken(event);
        if (scan == Done)
            return event;
        if (scan == Failed || !refill()) {
            if (!m_error)
                fail(ErrorCode::Corrupt, "unexpected end of XML");
            return End;
        }
    }
}

// Scans one token at m_begin. Comments and processing instructions are
// skipped in a loop; NeedMore means the token is cut by the window's end and
// is rescanned from its start after a refill.
XmlReader::Scan XmlReader::scanToken(Event &event)
{
    for (;;) {
        if (m_begin == m_end) {
            if (!m_eof)
                return NeedMore;
            if (m_depth != 0) {
                fail(ErrorCode::Corrupt, "XML ends inside an element");
                return Failed;
            }
            event = End;
            return Done;
        }
        const char *buf = m_buffer.data();
        if (buf[m_begin] != '<')
            return scanText(event);
        const size_t avail = m_end - m_begin;
        if (avail < 2)
            return m_eof ? (fail(ErrorCode::Corrupt, "unexpected end of XML"), Failed) : NeedMore;
        const char second = buf[m_begin + 1];
        if (second == '?' || second == '!') {
            bool skipped = false;
            const Scan s = scanDeclaration(event, skipped);
            if (s != Done || !skipped)
                return s;
            continue;
        }
        if (second == '/')
            return scanEndTag(event);
        return scanTag(m_begin, event);
    }
}

XmlReader::Scan XmlReader::scanText(Event &event)
{
    const char *buf = m_buffer.data();
    // Cell values are short: one pass that also notes '&' and CR
    // beats three memchr calls.
    // A long text cut by the window's end resumes where the last
    // scan stopped rather than starting over.
    size_t stop = m_begin + m_textScanned;
    bool amp = m_textHasAmp && m_textScanned, cr = m_textHasCr && m_textScanned;
    while (stop < m_end) {
        const char c = buf[stop];
        if (c == '<')
            break;
        amp |= c == '&';
        cr |= c == '\r';
        ++stop;
    }
    m_textHasAmp = amp;
    m_textHasCr = cr;
    if (stop == m_end && !m_eof) {
        m_textScanned = stop - m_begin;
        return NeedMore;
    }
    m_textScanned = 0;
    m_text = std::string_view(buf + m_begin, stop - m_begin);
    m_begin = stop;
    event = Text;
    return Done;
}

// Moves past the next `terminator` at or after `from`.
XmlReader::Scan XmlReader::skipMarkup(const char *terminator, size_t from)
{
    const size_t len = std::strlen(terminator);
    std::string_view window(m_buffer.data() + from, m_end - from);
    const size_t at = window.find(terminator);
    if (at == std::string_view::npos) {
        if (m_eof) {
            fail(ErrorCode::Corrupt, "unterminated markup");
            return Failed;
        }
        return NeedMore;
    }
    m_begin = from + at + len;
    return Done;
}

// <?...?>, <!--...-->, <![CDATA[...]]>: the first two are skipped (skipped
// set), CDATA is a text event; any other declaration is refused.
XmlReader::Scan XmlReader::scanDeclaration(Event &event, bool &skipped)
{
    const char *buf = m_buffer.data();
    const size_t avail = m_end - m_begin;
    const char second = buf[m_begin + 1];
    if (second == '?') {
        const Scan s = skipMarkup("?>", m_begin + 2);
        if (s != Done)
            return s;
        skipped = true;
        return Done;
    }
    // <!...
    if (avail < 9 && !m_eof)
        return NeedMore;
    if (avail >= 4 && std::memcmp(buf + m_begin, "<!--", 4) == 0) {
        const Scan s = skipMarkup("-->", m_begin + 4);
        if (s != Done)
            return s;
        skipped = true;
        return Done;
    }
    if (avail >= 9 && std::memcmp(buf + m_begin, "<![CDATA[", 9) == 0) {
        const size_t from = m_begin + 9;
        const Scan s = skipMarkup("]]>", from);
        if (s != Done)
            return s;
        m_text = std::string_view(buf + from, m_begin - 3 - from);
        m_textHasAmp = false;
        m_textHasCr = std::memchr(m_text.data(), '\r', m_text.size()) != nullptr;
        event = Text;
        return Done;
    }
    // <!DOCTYPE and any other declaration: entity definitions are
    // the door to expansion bombs and external reads, and no
    // spreadsheet part needs them.
    fail(ErrorCode::Unsupported, "DOCTYPE or markup declaration refused");
    return Failed;
}

XmlReader::Scan XmlReader::scanEndTag(Event &event)
{
    const char *buf = m_buffer.data();
    const char *gt = buf + m_begin + 2;
    const char *const stop = buf + m_end;
    while (gt < stop && *gt != '>')
        ++gt;
    if (gt == stop)
        return m_eof ? (fail(ErrorCode::Corrupt, "unterminated end tag"), Failed) : NeedMore;
    size_t nameEnd = size_t(gt - buf);
    while (nameEnd > m_begin + 2 && isSpace(buf[nameEnd - 1]))
        --nameEnd;
    const std::string_view qname(buf + m_begin + 2, nameEnd - m_begin - 2);
    if (m_open.empty()) {
        fail(ErrorCode::Corrupt, "end tag without start tag");
        return Failed;
    }
    if (m_open.back() != std::hash<std::string_view>()(qname)) {
        fail(ErrorCode::Corrupt,
             "end tag </" + std::string(qname.substr(0, 64)) + "> does not match its start tag");
        return Failed;
    }
    m_open.pop_back();
    m_name = localName(qname);
    m_begin = size_t(gt - buf) + 1;
    --m_depth;
    event = EndElement;
    return Done;
}

XmlReader::Scan XmlReader::cutTag()
{
    if (m_eof) {
        fail(ErrorCode::Corrupt, "unterminated start tag");
        return Failed;
    }
    return NeedMore;
}

XmlReader::Scan XmlReader::malformedTag()
{
    fail(ErrorCode::Corrupt, "malformed start tag");
    return Failed;
}

XmlReader::Scan XmlReader::scanTag(size_t start, Event &event)
{
    const char *buf = m_buffer.data();
    const size_t end = m_end;
    size_t p = start + 1;
    while (p < end && !isNameStop(buf[p]))
        ++p;
    if (p >= end)
        return cutTag();
    if (p == start + 1)
        return malformedTag();
    const std::string_view qname(buf + start + 1, p - start - 1);
    m_attributes.clear();
    if (const Scan s = scanAttributes(p); s != Done)
        return s;
    m_name = localName(qname);
    m_begin = p;
    if (++m_depth > kMaxXmlDepth) {
        fail(ErrorCode::TooLarge,
             "XML nested deeper than " + std::to_string(kMaxXmlDepth) + " levels");
        return Failed;
    }
    m_open.push_back(std::hash<std::string_view>()(qname));
    event = StartElement;
    return Done;
}

// Reads the attributes of a start tag from p up to and past its '>' or '/>'.
XmlReader::Scan XmlReader::scanAttributes(size_t &p)
{
    const char *buf = m_buffer.data();
    const size_t end = m_end;
    for (;;) {
        while (p < end && isSpace(buf[p]))
            ++p;
        if (p >= end)
            return cutTag();
        if (buf[p] == '>') {
            ++p;
            return Done;
        }
        if (buf[p] == '/') {
            if (p + 1 >= end)
                return cutTag();
            if (buf[p + 1] != '>')
                return malformedTag();
            p += 2;
            m_pendingEnd = true;
            return Done;
        }
        const size_t nameStart = p;
        while (p < end && !isNameStop(buf[p]))
            ++p;
        if (p >= end)
            return cutTag();
        const std::string_view attrName(buf + nameStart, p - nameStart);
        while (p < end && isSpace(buf[p]))
            ++p;
        if (p >= end)
            return cutTag();
        if (buf[p] != '=' || attrName.empty())
            return malformedTag();
        ++p;
        while (p < end && isSpace(buf[p]))
            ++p;
        if (p >= end)
            return cutTag();
        const char quote = buf[p];
        if (quote != '"' && quote != '\'')
            return malformedTag();
        // Attribute values are short ("A1", "3"): a plain loop beats memchr.
        size_t close = p + 1;
        while (close < end && buf[close] != quote)
            ++close;
        if (close >= end)
            return cutTag();
        const std::string_view value(buf + p + 1, close - p - 1);
        p = close + 1;
        // Namespace declarations are not attributes of the element; their
        // local part ("r" in xmlns:r) must not shadow a real attribute.
        if (attrName.substr(0, 5) == "xmlns" && (attrName.size() == 5 || attrName[5] == ':'))
            continue;
        if (m_attributes.size() >= kMaxXmlAttributes) {
            fail(ErrorCode::TooLarge,
                 "element with more than " + std::to_string(kMaxXmlAttributes) + " attributes");
            return Failed;
        }
        m_attributes.push_back({ localName(attrName), value });
    }
}

bool XmlReader::fastCell(FastCell &cell)
{
    if (m_error || m_pendingEnd)
        return false;
    const char *buf = m_buffer.data();
    const char *p = buf + m_begin;
    const char *const end = buf + m_end;
    if (end - p < 4 || p[0] != '<' || p[1] != 'c' || !isNameStop(p[2]) || p[2] == '=')
        return false;
    p += 2;
    cell = FastCell();
    // The usual shape first: one space, then a one-letter attribute in
    // double quotes (r="B2" s="3" t="s").
    while (end - p >= 5 && p[0] == ' ' && p[2] == '=' && p[3] == '"' && p[1] >= 'a'
           && p[1] <= 'z') {
        const char letter = p[1];
        const char *value = p + 4;
        const char *close = value;
        while (close < end && *close != '"')
            ++close;
        if (close >= end)
            return false;
        const std::string_view v(value, size_t(close - value));
        if (letter == 'r')
            cell.r = v;
        else if (letter == 's')
            cell.s = v;
        else if (letter == 't')
            cell.t = v;
        p = close + 1;
    }
    for (;;) {
        while (p < end && isSpace(*p))
            ++p;
        if (p >= end)
            return false;
        if (*p == '>') {
            ++p;
            break;
        }
        if (*p == '/') {
            if (p + 1 >= end || p[1] != '>')
                return false;
            m_begin = size_t(p + 2 - buf);
            return true;
        }
        const char *name = p;
        while (p < end && !isNameStop(*p))
            ++p;
        if (p >= end || *p != '=' || p == name)
            return false; // spaces around '=', or malformed: the full scanner decides
        const size_t nameLen = size_t(p - name);
        ++p;
        if (p >= end || (*p != '"' && *p != '\''))
            return false;
        const char quote = *p++;
        const char *value = p;
        while (p < end && *p != quote)
            ++p;
        if (p >= end)
            return false;
        const std::string_view v(value, size_t(p - value));
        ++p;
        if (nameLen == 1) {
            if (*name == 'r')
                cell.r = v;
            else if (*name == 's')
                cell.s = v;
            else if (*name == 't')
                cell.t = v;
        } else if (std::memchr(name, ':', nameLen)) {
            return false; // prefixed attributes: leave to the full scanner
        }
    }
    static const char kEnd[] = "</v></c>";
    if (end - p >= 4 && std::memcmp(p, "</c>", 4) == 0) {
        m_begin = size_t(p + 4 - buf);
        return true;
    }
    if (end - p < 3 || std::memcmp(p, "<v>", 3) != 0)
        return false;
    p += 3;
    const char *text = p;
    while (p < end && *p != '<' && *p != '&' && *p != '\r')
        ++p;
    if (p >= end || *p != '<' || end - p < 8 || std::memcmp(p, kEnd, 8) != 0)
        return false;
    cell.v = std::string_view(text, size_t(p - text));
    cell.hasV = true;
    m_begin = size_t(p + 8 - buf);
    return true;
}

bool XmlReader::appendText(std::string &out)
{
    std::string_view text = m_text;
    std::string normalized;
    if (m_textHasCr) {
        normalized.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '\r')
                normalized += text[i];
            else if (i + 1 >= text.size() || text[i + 1] != '\n')
                normalized += '\n';
        }
        text = normalized;
    }
    if (!m_textHasAmp) {
        out.append(text.data(), text.size());
        return true;
    }
    if (!decode(text, out)) {
        fail(ErrorCode::Corrupt, "malformed entity reference");
        return false;
    }
    return true;
}

bool XmlReader::decode(std::string_view raw, std::string &out)
{
    size_t i = 0;
    while (i < raw.size()) {
        const size_t amp = raw.find('&', i);
        if (amp == std::string_view::npos) {
            out.append(raw.data() + i, raw.size() - i);
            break;
        }
        out.append(raw.data() + i, amp - i);
        const size_t semi = raw.find(';', amp);
        if (semi == std::string_view::npos || semi - amp > 12)
            return false;
        const std::string_view ref = raw.substr(amp + 1, semi - amp - 1);
        if (ref == "lt")
            out += '<';
        else if (ref == "gt")
            out += '>';
        else if (ref == "amp")
            out += '&';
        else if (ref == "quot")
            out += '"';
        else if (ref == "apos")
            out += '\'';
        else if (ref.size() >= 2 && ref[0] == '#') {
            uint32_t cp = 0;
            const bool hex = ref[1] == 'x' || ref[1] == 'X';
            const size_t first = hex ? 2 : 1;
            if (first >= ref.size())
                return false;
            for (size_t k = first; k < ref.size(); ++k) {
                const int digit
                    = hex ? hexValue(ref[k]) : (ref[k] >= '0' && ref[k] <= '9' ? ref[k] - '0' : -1);
                if (digit < 0)
                    return false;
                cp = cp * (hex ? 16 : 10) + uint32_t(digit);
                if (cp > 0x10FFFF)
                    return false;
            }
            if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF))
                return false;
            appendUtf8(out, cp);
        } else {
            return false;
        }
        i = semi + 1;
    }
    return true;
}

void trimXmlSpace(std::string &text, size_t from)
{
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    size_t end = text.size();
    while (end > from && space(text[end - 1]))
        --end;
    size_t begin = from;
    while (begin < end && space(text[begin]))
        ++begin;
    text.erase(end);
    text.erase(from, begin - from);
}

void decodeOoxmlEscapes(std::string &text, size_t from)
{
    size_t at = text.find("_x", from);
    if (at == std::string::npos)
        return;
    auto escapeAt = [&](size_t i, uint32_t &unit) {
        if (i + 7 > text.size() || text[i] != '_' || text[i + 1] != 'x' || text[i + 6] != '_')
            return false;
        unit = 0;
        for (size_t k = i + 2; k < i + 6; ++k) {
            const int h = hexValue(text[k]);
            if (h < 0)
                return false;
            unit = unit << 4 | uint32_t(h);
        }
        return true;
    };
    std::string out(text, 0, at);
    size_t i = at;
    while (i < text.size()) {
        uint32_t unit = 0;
        if (text[i] == '_' && escapeAt(i, unit)) {
            i += 7;
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                uint32_t low = 0;
                if (escapeAt(i, low) && low >= 0xDC00 && low <= 0xDFFF) {
                    i += 7;
                    appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                } else {
                    appendUtf8(out, 0xFFFD);
                }
            } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                appendUtf8(out, 0xFFFD);
            } else {
                appendUtf8(out, unit);
            }
            continue;
        }
        const size_t nextEsc = text.find("_x", i + 1);
        const size_t stop = nextEsc == std::string::npos ? text.size() : nextEsc;
        out.append(text, i, stop - i);
        i = stop;
    }
    text.swap(out);
}

} // namespace sd
