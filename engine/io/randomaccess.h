#pragma once

// Bytes read at any offset: a file (read with pread, never mapped or read
// whole), a buffer, or a stream inside a compound file. The .xls reader
// reads its workbook stream through one of these as it goes, so a stream of
// gigabytes costs no more memory than one of kilobytes.

#include "io/error.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sd {

class RandomAccessSource
{
public:
    virtual ~RandomAccessSource() = default;
    virtual uint64_t size() const = 0;
    // Copies the n bytes at offset into dst: all of them, or an error
    // (Corrupt past the end, CannotOpen when the file cannot be read).
    virtual Error readAt(uint64_t offset, void *dst, size_t n) const = 0;
    // The bytes themselves when they lie in memory (readers then use them
    // in place); nullptr otherwise.
    virtual const uint8_t *data() const { return nullptr; }
};

// Bytes in memory: a copy it owns, or a span the caller keeps alive.
class MemoryBytes final : public RandomAccessSource
{
public:
    explicit MemoryBytes(std::vector<uint8_t> bytes);
    MemoryBytes(const uint8_t *data, size_t size); // not copied
    uint64_t size() const override { return m_size; }
    Error readAt(uint64_t offset, void *dst, size_t n) const override;
    const uint8_t *data() const override { return m_data; }

private:
    std::vector<uint8_t> m_owned;
    const uint8_t *m_data;
    size_t m_size;
};

// A file kept open for reading; its size is taken once, when opened.
class FileBytes final : public RandomAccessSource
{
public:
    ~FileBytes() override;
    // nullptr with *error (CannotOpen) when the file cannot be opened.
    static std::unique_ptr<FileBytes> open(const std::string &path, Error *error);
    uint64_t size() const override { return m_size; }
    Error readAt(uint64_t offset, void *dst, size_t n) const override;

private:
    FileBytes(int fd, uint64_t size, std::string path);
    int m_fd;
    uint64_t m_size;
    std::string m_path;
};

} // namespace sd
