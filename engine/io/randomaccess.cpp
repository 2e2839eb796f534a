#include "io/randomaccess.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sd {

namespace {

Error pastTheEnd(uint64_t offset, size_t n, uint64_t size)
{
    return Error(ErrorCode::Corrupt, {},
                 std::to_string(n) + " bytes at " + std::to_string(offset) + " lie past the end ("
                     + std::to_string(size) + " bytes)");
}

} // namespace

MemoryBytes::MemoryBytes(std::vector<uint8_t> bytes)
    : m_owned(std::move(bytes))
    , m_data(m_owned.data())
    , m_size(m_owned.size())
{
}

MemoryBytes::MemoryBytes(const uint8_t *data, size_t size)
    : m_data(data)
    , m_size(size)
{
}

Error MemoryBytes::readAt(uint64_t offset, void *dst, size_t n) const
{
    if (offset > m_size || n > m_size - offset)
        return pastTheEnd(offset, n, m_size);
    if (n > 0)
        std::memcpy(dst, m_data + offset, n);
    return {};
}

FileBytes::FileBytes(int fd, uint64_t size, std::string path)
    : m_fd(fd)
    , m_size(size)
    , m_path(std::move(path))
{
}

FileBytes::~FileBytes()
{
    ::close(m_fd);
}

std::unique_ptr<FileBytes> FileBytes::open(const std::string &path, Error *error)
{
    auto fail = [&](const char *why) -> std::unique_ptr<FileBytes> {
        if (error)
            *error = Error(ErrorCode::CannotOpen, path, why);
        return nullptr;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(std::strerror(errno));
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        const int err = errno;
        ::close(fd);
        return fail(std::strerror(err));
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return fail("not a regular file");
    }
    return std::unique_ptr<FileBytes>(new FileBytes(fd, uint64_t(info.st_size), path));
}

Error FileBytes::readAt(uint64_t offset, void *dst, size_t n) const
{
    if (offset > m_size || n > m_size - offset)
        return pastTheEnd(offset, n, m_size);
    auto *out = static_cast<char *>(dst);
    while (n > 0) {
        const ssize_t got = ::pread(m_fd, out, n, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) // a file that shrank since it was opened reads short
            return Error(ErrorCode::CannotOpen, m_path,
                         got < 0 ? std::strerror(errno) : "the file ends early");
        out += got;
        offset += uint64_t(got);
        n -= size_t(got);
    }
    return {};
}

} // namespace sd
