#pragma once

// A ByteSource that turns UTF-16 text into UTF-8 as it is read. The XML
// tokeniser works on UTF-8 only; a part written in UTF-16 (legal XML: Excel
// Mobile writes such parts) goes through this on its way in, so that UTF-8
// parts keep their direct path.

#include "io/bytesource.h"

#include <string>

namespace sd {

class Utf16Source final : public ByteSource
{
public:
    // `head` holds bytes already read from `inner` (after any byte-order
    // mark); `innerEnded` says that `inner` has nothing more.
    Utf16Source(ByteSource &inner, bool bigEndian, std::string head, bool innerEnded);
    Error read(char *dst, size_t cap, size_t *got) override;

private:
    void convert(); // complete code units of m_raw -> m_out
    void finish(); // what is left at the end -> U+FFFD

    ByteSource &m_inner;
    const bool m_bigEndian;
    std::string m_raw;
    size_t m_rawPos = 0;
    std::string m_out;
    size_t m_outPos = 0;
    uint32_t m_high = 0; // a high surrogate waiting for its low half
    bool m_innerEnded;
    bool m_done = false;
};

// Whether XML that starts with these bytes is UTF-16: a byte-order mark, or
// "<" followed or preceded by a zero byte. Sets *bigEndian and *bomLength.
bool looksLikeUtf16(const char *data, size_t size, bool *bigEndian, size_t *bomLength);

} // namespace sd
