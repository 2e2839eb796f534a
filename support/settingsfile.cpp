#include "settingsfile.h"
#include "settingsfile_p.h"

#include "pathstrings.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char LineEnd[] = "\r\n";

std::atomic<SettingsWriteFunction> g_writeFunction { nullptr };

void clear(char *dest, std::size_t destSize)
{
    if (dest && destSize > 0)
        dest[0] = '\0';
}

// Reads up to maxBytes from fd; the number read, or -1 on a read error.
long readUpTo(int fd, char *buffer, std::size_t maxBytes)
{
    std::size_t total = 0;
    while (total < maxBytes) {
        const ssize_t n = ::read(fd, buffer + total, maxBytes - total);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        total += static_cast<std::size_t>(n);
    }
    return static_cast<long>(total);
}

enum class NulBytes { EndTheText, Refuse };

// Reads a whole settings file from fd into text (SettingsTextSize bytes) and
// terminates it; false when it cannot be read or is longer than maxLength.
// The text ends at a NUL byte. A file that holds one is refused with
// NulBytes::Refuse: what follows the NUL would be lost if it were rewritten.
bool readSettingsFile(int fd, char *text, std::size_t maxLength, NulBytes nulBytes)
{
    // One byte more than allowed tells an over-long file from one that fits.
    const long length = readUpTo(fd, text, maxLength + 1);
    if (length < 0 || static_cast<std::size_t>(length) > maxLength)
        return false;
    if (nulBytes == NulBytes::Refuse && std::memchr(text, '\0', std::size_t(length)))
        return false;
    text[length] = '\0';
    return true;
}

bool writeAll(int fd, const char *data, std::size_t size)
{
    SettingsWriteFunction write = g_writeFunction.load();
    if (!write)
        write = ::write;
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Builds "key=" in pattern (PathBufferSize bytes); false when the key is too long.
bool buildPattern(char *pattern, const char *key)
{
    const std::size_t keyLength = std::strlen(key);
    if (keyLength + 2 > PathBufferSize)
        return false;
    std::memcpy(pattern, key, keyLength);
    pattern[keyLength] = '=';
    pattern[keyLength + 1] = '\0';
    return true;
}

// Copies text into work (SettingsTextSize bytes) without the blanks at both
// ends of the whole text; false when it does not fit.
bool trimmedCopy(char *work, const char *text)
{
    const std::size_t length = strnlen(text, SettingsTextSize);
    if (length >= SettingsTextSize)
        return false;
    std::memcpy(work, text, length + 1);
    TrimLeadingBlanks(work);
    TrimTrailingBlanks(work);
    return true;
}

// Replaces the file at realPath with text, through a temporary file in the
// same folder that is written, flushed and renamed over it only when complete.
// The replacement keeps the old file's permission bits and, where allowed, its
// owner. Any failure removes the temporary file and leaves the old one as it was.
bool replaceFile(const char *realPath, const struct stat &old, const char *text)
{
    std::string temporary = std::string(realPath) + ".XXXXXX";
    const int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fchmod(fd, old.st_mode & 07777) == 0;
    if (ok && (old.st_uid != geteuid() || old.st_gid != getegid())) {
        // Only the superuser may give the file back to its owner; anyone
        // else who may write the file keeps it as their own.
        if (fchown(fd, old.st_uid, old.st_gid) != 0)
            errno = 0;
    }
    ok = ok && writeAll(fd, text, std::strlen(text));
    ok = ok && fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(temporary.c_str(), realPath) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    // Make the rename itself durable; the file is already replaced, so a
    // failure here does not change the result.
    std::string folder(realPath, std::strrchr(realPath, '/') - realPath);
    const int folderFd
        = ::open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        fsync(folderFd);
        ::close(folderFd);
    }
    return true;
}

} // namespace

void SetSettingsWriteFunction(SettingsWriteFunction function)
{
    g_writeFunction.store(function);
}

int LoadSettingsText(char *text, std::size_t textSize, const char *path)
{
    if (!text || textSize == 0 || !path)
        return -1;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    // Read into a buffer of our own, so that a refused file leaves the
    // caller's buffer untouched.
    char buffer[SettingsTextSize];
    const bool ok = readSettingsFile(fd, buffer, std::min(textSize, SettingsTextSize) - 1,
                                     NulBytes::EndTheText);
    ::close(fd);
    if (!ok)
        return -1;
    std::memcpy(text, buffer, std::strlen(buffer) + 1);
    return 0;
}

int GetSettingsValue(char *value, std::size_t valueSize, const char *text, const char *key)
{
    char work[SettingsTextSize];
    char pattern[PathBufferSize];
    char found[SettingsTextSize];
    if (!text || !key || !trimmedCopy(work, text) || !buildPattern(pattern, key)
        || TextBetween(found, sizeof found, work, pattern, LineEnd, false, false, false, false)
            != 1) {
        clear(value, valueSize);
        return -1;
    }
    TrimLeadingBlanks(found);
    TrimTrailingBlanks(found);
    const std::size_t length = std::strlen(found);
    if (length >= valueSize) {
        clear(value, valueSize);
        return -1;
    }
    std::memcpy(value, found, length + 1);
    return 1;
}

int ComposeSettingsText(char *out, std::size_t outSize, const char *oldText, const char *key,
                        const char *value)
{
    char work[SettingsTextSize];
    char pattern[PathBufferSize];
    // A CR LF inside the key or value would split the line, and the value
    // would come back cut short, or a folder name could plant another key.
    if (!oldText || !key || !value || std::strstr(key, LineEnd) || std::strstr(value, LineEnd)
        || !trimmedCopy(work, oldText) || !buildPattern(pattern, key)) {
        clear(out, outSize);
        return -1;
    }
    const std::size_t keyLength = std::strlen(key);
    const std::size_t valueLength = std::strlen(value);
    const std::size_t lineLength = keyLength + 1 + valueLength + 2;

    // before + new line + rest; without the key, before is empty and rest is
    // the whole text, which puts the new line on top.
    const char *before = work;
    std::size_t beforeLength = 0;
    const char *rest = work;
    if (const char *found = std::strstr(work, pattern)) {
        beforeLength = static_cast<std::size_t>(found - work);
        const char *valueStart = found + keyLength + 1;
        // The key's line ends at the next CR LF. Text with lone LF line ends
        // is outside the format: there the line ends at the next LF, so that
        // the lines after it are kept rather than dropped.
        const char *lineEnd = std::strstr(valueStart, LineEnd);
        if (lineEnd)
            rest = lineEnd + 2;
        else if ((lineEnd = std::strchr(valueStart, '\n')))
            rest = lineEnd + 1;
        else
            rest = valueStart + std::strlen(valueStart);
    }
    const std::size_t restLength = std::strlen(rest);
    const std::size_t total = beforeLength + lineLength + restLength;
    // A text longer than a settings file may be would be refused at the next load.
    if (lineLength >= SettingsTextSize || total >= std::min(outSize, SettingsTextSize)) {
        clear(out, outSize);
        return -1;
    }
    char *p = out;
    std::memcpy(p, before, beforeLength);
    p += beforeLength;
    std::memcpy(p, key, keyLength);
    p += keyLength;
    *p++ = '=';
    std::memcpy(p, value, valueLength);
    p += valueLength;
    *p++ = '\r';
    *p++ = '\n';
    std::memcpy(p, rest, restLength);
    p[restLength] = '\0';
    return 0;
}

namespace {

// Opens the settings file at path for a rewrite: its real path (a link is
// followed, so that the file it points to is the one replaced), its status
// and its text. False, with nothing left open, when it must not be rewritten.
//
// The replacement goes through a rename, which needs only the folder's
// permission, so the file's own is checked here: it must open for writing
// (permissions, read-only mounts, immutable files) and, because the
// superuser passes any permission bits, it must carry at least one write
// bit; a file marked read-only for everyone stays as it is. A file longer
// than a settings file may be, or holding a NUL byte, is never rewritten.
bool loadForRewrite(const char *path, std::string &realPath, struct stat &old, char *text)
{
    if (!path || !*path)
        return false;
    char *resolved = realpath(path, nullptr);
    if (!resolved)
        return false;
    realPath = resolved;
    std::free(resolved);
    const int fd = ::open(realPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = fstat(fd, &old) == 0 && S_ISREG(old.st_mode)
        && (old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0
        && readSettingsFile(fd, text, SettingsTextSize - 1, NulBytes::Refuse);
    ::close(fd);
    return ok;
}

} // namespace

int SetSettingsValue(const char *path, const char *key, const char *value)
{
    if (!key || !value)
        return -1;
    std::string realPath;
    struct stat old;
    char oldText[SettingsTextSize];
    char newText[SettingsTextSize];
    if (!loadForRewrite(path, realPath, old, oldText)
        || ComposeSettingsText(newText, sizeof newText, oldText, key, value) != 0
        || !replaceFile(realPath.c_str(), old, newText))
        return -1;
    return 0;
}

int SettingsFileWritable(const char *path)
{
    std::string realPath;
    struct stat old;
    char text[SettingsTextSize];
    if (!loadForRewrite(path, realPath, old, text))
        return 0;
    // The replacement is made in the file's folder.
    const std::string folder = realPath.substr(0, realPath.rfind('/'));
    return ::access(folder.empty() ? "/" : folder.c_str(), W_OK | X_OK) == 0 ? 1 : 0;
}
