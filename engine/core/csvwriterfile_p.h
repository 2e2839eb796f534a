#pragma once

// The CSV writer's output file: a temporary file beside the target, written,
// flushed and renamed over the target only when complete.

#include "io/error.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>

#include <sys/stat.h>

class QString;

namespace sd {

// A large file's data starts on its way to the disk while the rest is
// still being written, a few megabytes at a time, so that the flush that
// makes it durable before its rename (or its group's) finds little left.
constexpr uint64_t kCsvWritebackBytes = 8 << 20;

class CsvWriteback
{
public:
    // `bytes` more were written to the end of `fd`.
    void wrote(int fd, size_t bytes);

private:
    uint64_t m_written = 0;
    uint64_t m_started = 0; // bytes whose writing was started
};

class CsvTemporaryFile
{
public:
    explicit CsvTemporaryFile(const QString &target);
    ~CsvTemporaryFile();
    CsvTemporaryFile(const CsvTemporaryFile &) = delete;
    CsvTemporaryFile &operator=(const CsvTemporaryFile &) = delete;

    Error open();
    // Takes the complete file open as `fd` (made with O_TMPFILE, in the
    // same file system) as the temporary file, linked into the folder;
    // `fd` stays open. *adopted false without an error: it cannot be linked
    // here, and open() and write() make the file the usual way.
    Error adopt(int fd, bool *adopted);
    Error write(const char *data, size_t size);
    Error commit();
    // Removes the temporary file; the target stays as it was.
    void discard();

private:
    Error failure(const char *what, int err) const;
    Error openFolder();
    Error keepPermissions();
    void takeOwnTemporaryName();

    QByteArray m_target; // the whole path, as given
    QByteArray m_name; // the target's own name in its folder
    QByteArray m_tempName; // empty while the file is unnamed (O_TMPFILE)
    bool m_unnamed = false;
    int m_folder = -1;
    int m_fd = -1;
    CsvWriteback m_writeback;
    quint64 m_serial = 0; // orders the files by when they were opened
};

// A fresh temporary name for a file that is to be renamed to `name`: one
// that nothing takes for the writer's own (a random tag).
QByteArray csvTemporaryName(const QByteArray &name);
// The temporary name the writer gives the file with the inode `inode` that is
// to be renamed to `name` (`attempt` from 0, should that name be taken): its
// tag is made from the inode, so that the writer's own temporary files are
// told from anybody else's (isOwnCsvTemporary).
QByteArray csvTemporaryNameFor(const QByteArray &name, quint64 inode, int attempt);
// Whether `fileName` is a temporary name that the writer gave the file that
// lstat() describes as `st`.
bool isOwnCsvTemporary(const QByteArray &fileName, const struct stat &st);

// Names the complete unnamed (O_TMPFILE) file `fd` `name` in `folder`,
// replacing an older file of that name at once: 0 or errno. With
// `keepPermissions`, a regular file it replaces passes its permissions on
// first (see CsvTemporaryFile::keepPermissions).
int nameUnnamedCsv(int folder, int fd, const QByteArray &name, bool keepPermissions);

// Gives the complete file `fd` (unnamed when `tempName` is empty, else so
// named in `folder`) the name `name` in `folder`, as a commit group does
// (csvcommit.h): by a call that cannot replace anything; where something has
// the name, under an exclusive flock() of the folder, replacing it unless it
// is a regular file that `isTaken` (given what lstat() says of it, asked
// under that lock) says must stay: then *taken is set, and nothing changed.
// A regular file that is replaced passes its permissions on. 0, or errno.
int nameUnlessTaken(int folder, int fd, const QByteArray &tempName, const QByteArray &name,
                    const std::function<bool(const struct stat &)> &isTaken, bool *taken);

// Whether a file was changed at or after `since` (CLOCK_REALTIME_COARSE, the
// clock of change times): by a batch that was running then.
bool changedSince(const struct stat &st, const struct timespec &since);

// A CSV file name's place among the names a commit group holds in its
// folder: a hash of the name (local 8-bit encoding) folded past letter case
// and Unicode's compatible forms, so that two spellings a file system could
// take for one name meet.
quint64 csvNameHash(const QByteArray &name);
// Holds the name `hash` with a read lock on the folder descriptor `fd`
// (F_OFD_SETLK); false when the lock cannot be taken.
bool holdCsvName(int fd, quint64 hash);
void releaseCsvName(int fd, quint64 hash);
// Whether another open file description (another batch, in this process or
// another) holds the name `hash` in the folder of `fd`.
bool csvNameHeldElsewhere(int fd, quint64 hash);

// Whether a file name has the form of the writer's temporary files:
// "." + (part of) the target's name + ".sheetdrain-" + base-36 number + ".tmp".
bool isCsvTemporaryName(const QByteArray &name);

} // namespace sd
