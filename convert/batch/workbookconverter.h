#pragma once

#include "outputnames.h"

#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <functional>

class AxObject;

namespace sd {
class CsvCommitGroup;
}

// Where the CSV file names of a batch are claimed. `workbook` is the
// workbook's place in the batch (from 0); a batch that converts one workbook
// at a time may ignore it.
class NameClaims
{
public:
    virtual ~NameClaims() = default;
    // As OutputClaims::claim, for a worksheet of the workbook `workbook`.
    virtual QString claim(int workbook, const QString &folder, const QString &workbookFileName,
                          bool onlyFirstSheet, const QString &sheetName, NameRefusal *refusal)
        = 0;
    // As OutputClaims::recordWritten.
    virtual void recordWritten(int workbook, const QString &path,
                               const sd::CommittedFile *committed)
        = 0;
};

// The claims of a batch that converts one workbook at a time.
class SequentialClaims final : public NameClaims
{
public:
    QString claim(int, const QString &folder, const QString &workbookFileName, bool onlyFirstSheet,
                  const QString &sheetName, NameRefusal *refusal) override
    {
        return m_claims.claim(folder, workbookFileName, onlyFirstSheet, sheetName, refusal);
    }
    void recordWritten(int, const QString &path, const sd::CommittedFile *committed) override
    {
        m_claims.recordWritten(path, committed);
    }
    void forgetFolder(const QString &folder) { m_claims.forgetFolder(folder); }

private:
    OutputClaims m_claims;
};

// What the batch tells every workbook conversion: its folders (absolute,
// cleaned, '/'), the mode and the application to drive.
struct BatchSetting
{
    QString sourceRoot;
    QString saveRoot;
    QString canonicalSaveRoot;
    bool onlyFirstSheet = false;
    QString applicationId;
};

// The output folder of the workbook at `path` (see OutputFolderFor).
QString OutputFolderOf(const BatchSetting &setting, const QString &path);

// How one workbook ended.
struct WorkbookResult
{
    enum End { Done, NoApplication, Stopped };
    End end = Done;
    bool failed = false; // did not open, or a worksheet of it failed
    QStringList csvFiles; // the CSV files it wrote, native separators
    QStringList written; // the same, as the paths that were saved to
    // Of `written`, the files that wait under their temporary names for a
    // commit group (WorkbookConverter::settle).
    QStringList pending;
};

// Converts one workbook at a time through the automation seam, on the
// calling thread, with the application object `app` (the caller's; every
// sub-object of a workbook is released when it is done). The application is
// selected afresh for each workbook and quit after it, the calls and their
// order those of the automation table.
//
// `started` runs once the application answered, just before the workbook is
// opened (the place of the workbook's progress report); `failure` runs for
// each failure, in the order met: the path concerned (the workbook, or a CSV
// file) and the reason. A stop request to the calling thread is checked
// between worksheets, and the application checks it inside a long one.
class WorkbookConverter
{
public:
    // With `commits`, the CSV files are written in commit groups: the job
    // thread must have the group set (sd::CsvCommitGroup::Scope).
    WorkbookConverter(AxObject *app, const BatchSetting &setting, NameClaims *claims,
                      sd::CsvCommitGroup *commits = nullptr);

    WorkbookResult convert(int index, const QFileInfo &entry, const std::function<void()> &started,
                           const std::function<void(const QString &, const QString &)> &failure);

    // Waits until the pending files of a workbook are committed: each one
    // that took its name is recorded as written, each one that did not is
    // taken out of the result, which then counts as failed, with a failure
    // for the file (after the workbook's other failures).
    static void settle(WorkbookResult *result, const QString &workbookPath, int index,
                       sd::CsvCommitGroup *commits, NameClaims *claims,
                       const std::function<void(const QString &, const QString &)> &failure);

private:
    enum class SheetEnd { Written, Skipped, Failed, Stopped };
    struct Current;

    SheetEnd convertSheet(Current &current, AxObject *book, int sheet);
    SheetEnd saveSheet(Current &current, AxObject *active, int sheet, const QString &sheetName);

    AxObject *m_app;
    const BatchSetting &m_setting;
    NameClaims *m_claims;
    sd::CsvCommitGroup *m_commits;
};
