#pragma once

#include "core/csvcommit.h"

#include <QHash>
#include <QPair>
#include <QSet>
#include <QString>

#include <vector>

// The plain naming rules of a batch: which files are workbooks, where a
// workbook's CSV files go and what they are called. Paths use '/'.

// Whether a file is a workbook to convert: its path, lower-cased, ends with
// ".xls", ".xlsx" or ".xlsm" and holds no "~$" anywhere (lock files, and
// everything below a folder whose name holds "~$").
bool IsWorkbookToConvert(const QString &nativePath);

// The file name up to its first "." ("Q1.report.xlsx" → "Q1"). The leading
// "." of a hidden file belongs to the name (".Budget.2019.xlsx" → ".Budget").
QString WorkbookBaseName(const QString &fileName);

// The absolute, cleaned form of a folder path; empty for an empty path.
QString AbsoluteFolder(const QString &path);

// The output folder of a workbook in `workbookFolder`: `saveRoot` joined with
// the workbook's folder relative to `sourceRoot` (both absolute and cleaned).
// Empty when the workbook's folder does not lie inside the source folder.
QString OutputFolderFor(const QString &sourceRoot, const QString &saveRoot,
                        const QString &workbookFolder);

// A sheet name made fit for a file name: "/" and NUL become "_". False for a
// name that could still leave the output folder ("." or "..").
bool SafeSheetName(const QString &sheetName, QString *safeName);

// Whether a file name fits the file system's limit on one name (in bytes of
// the local 8-bit encoding).
bool FitsFileNameLimit(const QString &fileName);

// The name of a worksheet's CSV file: base name + ".csv" in first-sheet mode,
// otherwise base name + "(" + safe sheet name + ").csv". Empty when the sheet
// name is refused or the name would be too long.
QString CsvFileName(const QString &baseName, bool onlyFirstSheet, const QString &sheetName);

// Why a worksheet gets no CSV file name.
enum class NameRefusal {
    None,
    DotName, // "." or "..": the file would name a folder
    TooLong, // longer than the file system allows for one name
};

// The CSV file names of one batch. The first worksheet to claim a name gets
// the name as the rules above make it; a later one of the same batch never
// replaces that file: it gets the workbook's name up to its last "." (so
// "case.2246b.xlsx" gives "case.2246b.csv"), then that name with " (2)",
// " (3)" ... added, whichever is free first. A name counts as taken when
// this batch claimed it, or when it names a file that this batch wrote (two
// spellings of one file on a file system that ignores case). Files left by
// an earlier run do not count: they are replaced as before.
class OutputClaims
{
public:
    using FileId = QPair<quint64, quint64>; // device and inode

    // The path of the CSV file for a worksheet of `workbookFileName` in
    // `folder`, now claimed; empty when the sheet name is refused (*refusal
    // says why).
    QString claim(const QString &folder, const QString &workbookFileName, bool onlyFirstSheet,
                  const QString &sheetName, NameRefusal *refusal);
    // Records that `path` was written, as the file it now is on disk (as
    // `committed` says, when given: no lookup then).
    void recordWritten(const QString &path, const sd::CommittedFile *committed = nullptr);

    // The same in steps, for callers that share one OutputClaims between
    // threads and look at the disk outside their lock. `firstChoice` is the
    // path claim() gives when nothing is in the way (empty when refused);
    // `identityOf` what is on disk there (false: nothing); `claimIfFree`
    // claims that path unless a claim holds it or `onDisk` is a file this
    // batch wrote (false: nothing changed, claim() finds the next name).
    static QString firstChoice(const QString &folder, const QString &workbookFileName,
                               bool onlyFirstSheet, const QString &sheetName, NameRefusal *refusal);
    static bool identityOf(const QString &path, FileId *identity);
    bool claimIfFree(const QString &folder, const QString &path, const FileId *onDisk);

    // What a written file is known by: its identity, and its folder's with
    // its name folded, which tells (without a lookup of a name that may not
    // exist) whether a name could be another spelling of it.
    struct Written
    {
        FileId file;
        FileId folder;
        QString foldedName;
    };
    // The folder's identity, links followed; false when there is none.
    static bool folderIdentityOf(const QString &folder, FileId *identity);
    // Where `path` would lie, as mayHaveWritten() asks: its folder's
    // identity (false when the folder does not exist) and its folded name.
    static bool placeOf(const QString &path, FileId *folder, QString *foldedName);
    // A file name folded past letter case and Unicode's compatible forms:
    // two names a file system could take for one fold to the same text.
    static QString foldedName(const QString &name);
    // False when `path` is not a file (then nothing is recorded). With
    // `committed`, what the commit group saw, without asking the disk.
    static bool probeWritten(const QString &path, Written *written,
                             const sd::CommittedFile *committed = nullptr);
    void recordProbed(const Written &written);
    // Whether a file this batch wrote could have the name `foldedName` in
    // the folder `folder`, so that the disk must be asked (identityOf).
    bool mayHaveWritten(const FileId &folder, const QString &foldedName) const;

    // Forgets the names claimed in `folder`, once no later workbook of the
    // batch can claim there (the walk gives each folder's workbooks one after
    // another), so that a long batch does not keep them all. The files
    // written stay known.
    void forgetFolder(const QString &folder) { m_claimed.remove(folder); }

private:
    static quint64 nameDigest(const FileId &folder, const QString &foldedName);
    static bool nameParts(const QString &workbookFileName, bool onlyFirstSheet,
                          const QString &sheetName, QString *base, QString *suffix,
                          NameRefusal *refusal);
    bool isClaimed(const QString &folder, const QString &path) const;
    bool taken(const QString &folder, const QString &path) const;

    QHash<QString, QSet<QString>> m_claimed; // by folder
    QSet<FileId> m_written;
    // Each written file's folder and folded name, in a Bloom filter of a
    // fixed size (so that a batch of any length holds no more): a name it
    // takes for written by mistake is only looked up once more.
    std::vector<quint64> m_writtenNames;
    bool m_unknownFolder = false; // a file written where the folder had no identity
};
