#pragma once

// Forward-only streams of bytes: what the XML tokeniser reads from, whether
// the bytes come from an inflating zip part or from memory.

#include "io/error.h"

#include <cstddef>
#include <memory>

namespace sd {

// A forward-only stream of bytes (an inflating part, or a memory span).
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    // Reads up to cap bytes into dst; *got == 0 means the end of the stream.
    virtual Error read(char *dst, size_t cap, size_t *got) = 0;
};

// A ByteSource over memory the caller keeps alive.
class MemorySource final : public ByteSource
{
public:
    MemorySource(const char *data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    Error read(char *dst, size_t cap, size_t *got) override;

private:
    const char *m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Runs another ByteSource on a worker thread, a few blocks ahead of the
// reader, so that inflating a large part overlaps with parsing it. Memory is
// bounded by the block size times the queue depth.
class ReadAheadSource final : public ByteSource
{
public:
    explicit ReadAheadSource(std::unique_ptr<ByteSource> inner);
    ~ReadAheadSource() override;
    Error read(char *dst, size_t cap, size_t *got) override;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace sd
