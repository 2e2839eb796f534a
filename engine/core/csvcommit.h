#pragma once

// CSV files made durable in groups rather than one by one.
//
// On its own, the CSV writer makes each file durable (fdatasync) before it
// gives it its final name (links the unnamed O_TMPFILE file there, or
// renames its temporary file over it), so that after a crash a CSV file is either
// complete or absent (the older file of that name, if any, survives). Over
// many small workbooks that one flush per file is most of the time a batch
// takes: each waits for a journal commit and a cache flush of the disk.
//
// While a CsvCommitGroup is set for a thread (CsvCommitGroup::Scope), the
// writer on that thread finishes each complete file, unnamed or under its
// temporary name, and hands it to the group instead; the group's own thread takes what
// was handed in every few milliseconds (or when kGroupFiles files wait),
// makes all of it durable with one syncfs() per file system (a group of a
// few files with one fdatasync() each, as syncfs() also writes what other
// programs left in the cache), and only then gives each file its final
// name. The order that makes the guarantee is kept: the data and size of
// every file are on disk before it has its name; the group only shares one
// flush among many files. Until then the file stays unnamed (or under its
// temporary name, locked), as while it is written, so a crash or a kill
// leaves at most temporary files, which the next batch into that folder
// removes.
//
// syncfs() reports a write-back error of the file system that happened since
// the descriptor it is given was opened; the group calls it with the
// descriptor of the file opened first, so an error of any file of the group
// is seen. It cannot tell which file failed: on an error no file of the
// group on that file system is given its name (each old file survives) and each
// reports the error.
//
// A group replaces only the files of earlier runs: runs that had ended
// before it began. Each name a group gives is held, for as long as the group
// lives, by an open-file-description read lock (F_OFD_SETLK) on one byte of
// the folder (at a hash of the name folded past letter case), which every
// process can see (F_OFD_GETLK) and which goes with the group, or with its
// process however that ends. A file takes its name where none is by a call
// that cannot replace anything, its lock taken first; where a file has the
// name, the group decides under an exclusive flock() of the folder (held for
// a lookup and a rename): a file whose name another group holds, or this
// group gave another file (another spelling on a file system that ignores
// letter case), or that was changed since the group began (by a run that has
// ended since), stays, and the group's file waits for another name
// (CommitOutcome::NameTaken, rename()); any other file is an earlier run's
// and is replaced, as a single write replaces it. So runs side by side into
// one folder never replace each other's files. (A change time in the clock
// tick the group began in counts as since; on a file system that keeps whole
// seconds, that second.) A group holds the names of at most kHeldFolders
// folders at a time (one descriptor each); past that, the folder it named
// files in longest ago is let go.

#include "io/error.h"

#include <QByteArray>

#include <condition_variable>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <vector>

namespace sd {

// What became of a file handed to a group.
enum class CommitOutcome {
    Named, // it has its name
    NameTaken, // a file of a run not yet ended when the group began has it: rename()
    Failed, // it is gone (the error says why); an older file of that name is untouched
};

class CsvCommitGroup
{
public:
    // A group is committed once this many files wait (or after the
    // gathering time).
    static constexpr size_t kGroupFiles = 128;
    // Most folders whose names a group holds at once.
    static constexpr size_t kHeldFolders = 256;
    // Most files waiting to be committed; the writer that hands in one more
    // waits until the group has taken them. More than a group, so that the
    // writers go on while a group is being made durable; each waiting file
    // holds two descriptors, which the limit on them bounds.
    static size_t maxPending();
    // The same for a limit of `descriptorLimit` open descriptors.
    static size_t maxPendingFor(quint64 descriptorLimit);

    CsvCommitGroup();
    // Commits everything handed in, then ends the group's thread.
    ~CsvCommitGroup();
    CsvCommitGroup(const CsvCommitGroup &) = delete;
    CsvCommitGroup &operator=(const CsvCommitGroup &) = delete;

    // Hands the CSV files written on the calling thread to `group` while it
    // lives.
    class Scope
    {
    public:
        explicit Scope(CsvCommitGroup *group);
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        CsvCommitGroup *m_previous;
    };

    // Whether a file for the final path `target` (as the writer was given
    // it, in the local 8-bit encoding) was handed in and not yet asked for.
    bool isHandedIn(const QByteArray &target) const;
    // Whether that file's outcome is known (wait() would not wait).
    bool isSettled(const QByteArray &target) const;
    // Waits until that file is committed, and says how (*error for Failed).
    CommitOutcome wait(const QByteArray &target, Error *error);
    // Gives a file whose name was taken the name `newTarget` (in the same
    // folder) at once, as a commit would.
    CommitOutcome rename(const QByteArray &target, const QByteArray &newTarget, Error *error);

    // What was handed in so far is committed without waiting the gathering
    // time for more (someone waits for it).
    void commitSoon();
    // No more than a few files are still to come (the batch has handed its
    // last workbooks out): from now on files are committed as they come
    // instead of after the gathering time, which would only delay the end.
    void hurry();

    // For the CSV writer: the group set for the calling thread, if any.
    static CsvCommitGroup *current();
    // For the CSV writer: a complete file, its descriptor (open, holding the
    // file's lock) and a descriptor of its folder, both now the group's.
    // `serial` orders the files by when they were opened.
    void handIn(const QByteArray &target, int folderFd, const QByteArray &tempName,
                const QByteArray &name, int fd, quint64 serial);

private:
    struct Pending
    {
        QByteArray target;
        int folderFd = -1;
        QByteArray tempName;
        QByteArray name;
        int fd = -1;
        quint64 serial = 0;
    };
    struct Outcome
    {
        bool done = false;
        CommitOutcome outcome = CommitOutcome::Named;
        Error error;
        Pending file; // a NameTaken file, waiting for rename()
        bool asked = false; // its NameTaken was told (wait())
    };

    // The names the group gave in one folder: locks on `lockFd`, a
    // descriptor of the folder, and their hashes.
    struct FolderNames
    {
        int lockFd = -1;
        std::unordered_set<quint64> named;
    };
    using FolderId = std::pair<quint64, quint64>; // device and inode

    void run();
    void commitAll(std::vector<Pending> &files, std::vector<Outcome> *outcomes);
    CommitOutcome name(Pending &file, Error *error);
    FolderNames *namesOf(int folderFd);
    static void release(Pending &file, bool unlinkTemporary);

    mutable std::mutex m_mutex;
    // Each waits for one thing only, so that a file handed in wakes no one
    // but, now and then, the group's thread.
    std::condition_variable m_work; // the group's thread: files to commit
    std::condition_variable m_room; // writers: room to hand in
    std::condition_variable m_committed; // callers of wait(): outcomes
    std::vector<Pending> m_pending;
    std::map<QByteArray, Outcome> m_outcomes; // handed in and not yet asked for
    bool m_ending = false;
    bool m_hurry = false;
    bool m_soon = false;
    // The names given, by folder, oldest folder first (m_namesMutex; taken
    // by the group's thread and by rename()).
    std::mutex m_namesMutex;
    std::map<FolderId, FolderNames> m_folders;
    std::deque<FolderId> m_folderOrder;
    struct timespec m_began = {};
    std::thread m_thread;
};

} // namespace sd
