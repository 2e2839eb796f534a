#include "io/inflate.h"

#include <algorithm>
#include <cstdint>
#include <new>

#ifdef SHEETDRAIN_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#else
#include <zlib.h>
#endif

namespace sd {

#ifdef SHEETDRAIN_HAVE_ISAL

// ISA-L keeps its whole state (Huffman tables, 32 KB of history and an
// output spill buffer, 87 KB in all) in one struct and needs no teardown.
struct RawInflater::State
{
    inflate_state s;
};

RawInflater::RawInflater()
    : m_state(new (std::nothrow) State)
{
    if (m_state)
        isal_inflate_init(&m_state->s); // raw deflate, no checksum
}

RawInflater::~RawInflater() = default;

bool RawInflater::valid() const
{
    return m_state != nullptr;
}

void RawInflater::setInput(const char *data, size_t size)
{
    m_state->s.next_in = reinterpret_cast<uint8_t *>(const_cast<char *>(data));
    m_state->s.avail_in = uint32_t(size);
}

size_t RawInflater::inputLeft() const
{
    return m_state->s.avail_in;
}

RawInflater::Status RawInflater::inflate(char *dst, size_t cap, size_t *produced)
{
    inflate_state &s = m_state->s;
    s.next_out = reinterpret_cast<uint8_t *>(dst);
    s.avail_out = uint32_t(std::min<size_t>(cap, 1u << 30));
    const uint32_t before = s.avail_out;
    const int rc = isal_inflate(&s);
    *produced = before - s.avail_out;
    switch (rc) {
    case ISAL_INVALID_BLOCK:
        m_message = "invalid block";
        return Status::Bad;
    case ISAL_INVALID_SYMBOL:
        m_message = "invalid code";
        return Status::Bad;
    case ISAL_INVALID_LOOKBACK:
        m_message = "invalid distance too far back";
        return Status::Bad;
    default:
        if (rc < 0) {
            m_message = "inflate error " + std::to_string(rc);
            return Status::Bad;
        }
    }
    return s.block_state == ISAL_BLOCK_FINISH ? Status::End : Status::Ok;
}

#else

struct RawInflater::State
{
    z_stream z {};
    bool ready = false;
    ~State()
    {
        if (ready)
            inflateEnd(&z);
    }
};

RawInflater::RawInflater()
    : m_state(new (std::nothrow) State)
{
    if (m_state && inflateInit2(&m_state->z, -MAX_WBITS) == Z_OK)
        m_state->ready = true;
}

RawInflater::~RawInflater() = default;

bool RawInflater::valid() const
{
    return m_state && m_state->ready;
}

void RawInflater::setInput(const char *data, size_t size)
{
    m_state->z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    m_state->z.avail_in = uInt(size);
}

size_t RawInflater::inputLeft() const
{
    return m_state->z.avail_in;
}

RawInflater::Status RawInflater::inflate(char *dst, size_t cap, size_t *produced)
{
    z_stream &z = m_state->z;
    z.next_out = reinterpret_cast<Bytef *>(dst);
    z.avail_out = uInt(std::min<size_t>(cap, 1u << 30));
    const uInt before = z.avail_out;
    const int rc = ::inflate(&z, Z_NO_FLUSH);
    *produced = before - z.avail_out;
    if (rc == Z_STREAM_END)
        return Status::End;
    if (rc == Z_OK || rc == Z_BUF_ERROR) // Z_BUF_ERROR: no input left to go on
        return Status::Ok;
    m_message = z.msg ? z.msg : "";
    return Status::Bad;
}

#endif

} // namespace sd
