#pragma once

#include <QHash>
#include <QSet>
#include <QString>

#include <ctime>
#include <functional>

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

// Why a worksheet gets no CSV file name.
enum class NameRefusal {
    None,
    DotName, // "." or "..": the file would name a folder
    TooLong, // longer than the file system allows for one name
    Stopped, // the batch stopped before the name could be settled
};

// The CSV file names of one batch: base name + ".csv" in first-sheet mode,
// otherwise base name + "(" + safe sheet name + ").csv". The first worksheet
// to claim a name gets the name so made; a later one of the same batch never
// replaces that file: it gets the workbook's name up to its last "." (so
// "case.2246b.xlsx" gives "case.2246b.csv"), then that name with " (2)",
// " (3)" ... added, whichever is free first. A name is taken when this batch
// claimed it, or when `takenOnDisk` (when given) says so. Files left by an
// earlier run do not count: they are replaced as before. Where the
// application saves into a commit group, the group tells a taken name when
// it commits (a running batch's file has it: this batch's under another
// spelling on a file system that ignores letter case, or that of a batch
// side by side), and the same workbook's same worksheet claims again;
// without one, `takenOnDisk` says whether a file made since the batch began
// has the name (FileMadeSince).
class OutputClaims
{
public:
    using TakenOnDisk = std::function<bool(const QString &path)>;

    // The path of the CSV file for a worksheet of `workbookFileName` in
    // `folder`, now claimed; empty when the sheet name is refused (*refusal
    // says why).
    QString claim(const QString &folder, const QString &workbookFileName, bool onlyFirstSheet,
                  const QString &sheetName, NameRefusal *refusal,
                  const TakenOnDisk &takenOnDisk = {});

    // Forgets the names claimed in `folder`, once no later workbook of the
    // batch can claim there (the walk gives each folder's workbooks one after
    // another), so that a long batch does not keep them all. A file this
    // batch wrote there is then known by its change time (takenOnDisk, or
    // the commit group).
    void forgetFolder(const QString &folder) { m_claimed.remove(folder); }

private:
    bool taken(const QString &folder, const QString &path, const TakenOnDisk &takenOnDisk) const;

    QHash<QString, QSet<QString>> m_claimed; // by folder
};

// Whether a file (not a link) at `path` was changed since `since` (as
// CLOCK_REALTIME_COARSE gave it): one made since then, by this batch or by
// another.
bool FileMadeSince(const QString &path, const struct timespec &since);
