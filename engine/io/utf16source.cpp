#include "io/utf16source.h"

#include "io/utf8.h"

#include <algorithm>
#include <cstring>

namespace sd {

namespace {

// Raw bytes read from the inner source at a time.
constexpr size_t kRawBlock = 64 * 1024;
constexpr uint32_t kReplacement = 0xFFFD;

bool isHighSurrogate(uint32_t u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(uint32_t u)
{
    return u >= 0xDC00 && u <= 0xDFFF;
}

} // namespace

bool looksLikeUtf16(const char *data, size_t size, bool *bigEndian, size_t *bomLength)
{
    const auto *b = reinterpret_cast<const unsigned char *>(data);
    *bomLength = 0;
    if (size >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
        *bigEndian = b[0] == 0xFE;
        *bomLength = 2;
        return true;
    }
    // Without a mark the document's first character, '<', tells: "<\0" is
    // little-endian, "\0<" big-endian.
    if (size >= 2 && b[0] == '<' && b[1] == 0) {
        *bigEndian = false;
        return true;
    }
    if (size >= 2 && b[0] == 0 && b[1] == '<') {
        *bigEndian = true;
        return true;
    }
    return false;
}

Utf16Source::Utf16Source(ByteSource &inner, bool bigEndian, std::string head, bool innerEnded)
    : m_inner(inner)
    , m_bigEndian(bigEndian)
    , m_raw(std::move(head))
    , m_innerEnded(innerEnded)
{
}

void Utf16Source::convert()
{
    const auto *b = reinterpret_cast<const unsigned char *>(m_raw.data());
    for (; m_rawPos + 2 <= m_raw.size(); m_rawPos += 2) {
        const uint32_t unit = m_bigEndian ? uint32_t(b[m_rawPos] << 8 | b[m_rawPos + 1])
                                          : uint32_t(b[m_rawPos + 1] << 8 | b[m_rawPos]);
        if (m_high) {
            if (isLowSurrogate(unit)) {
                appendUtf8(m_out, 0x10000 + ((m_high - 0xD800) << 10) + (unit - 0xDC00));
                m_high = 0;
                continue;
            }
            appendUtf8(m_out, kReplacement);
            m_high = 0;
        }
        if (isHighSurrogate(unit))
            m_high = unit;
        else
            appendUtf8(m_out, isLowSurrogate(unit) ? kReplacement : unit);
    }
}

void Utf16Source::finish()
{
    // A lone high surrogate or an odd last byte: one replacement each.
    if (m_high)
        appendUtf8(m_out, kReplacement);
    if (m_rawPos < m_raw.size())
        appendUtf8(m_out, kReplacement);
    m_high = 0;
    m_rawPos = m_raw.size();
    m_done = true;
}

Error Utf16Source::read(char *dst, size_t cap, size_t *got)
{
    *got = 0;
    while (m_outPos == m_out.size()) {
        m_out.clear();
        m_outPos = 0;
        if (m_done)
            return {};
        if (!m_innerEnded) {
            m_raw.erase(0, m_rawPos);
            m_rawPos = 0;
            const size_t old = m_raw.size();
            m_raw.resize(old + kRawBlock);
            size_t n = 0;
            const Error e = m_inner.read(&m_raw[old], kRawBlock, &n);
            m_raw.resize(old + n);
            if (e)
                return e;
            m_innerEnded = n == 0;
        }
        convert();
        if (m_innerEnded)
            finish();
    }
    const size_t n = std::min(cap, m_out.size() - m_outPos);
    std::memcpy(dst, m_out.data() + m_outPos, n);
    m_outPos += n;
    *got = n;
    return {};
}

} // namespace sd
