#pragma once

#include "outputnames.h"

#include <QFileInfo>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class AxCommitGroup;
class AxObject;

// How a workbook, or a whole batch, ended.
enum class WorkbookEnd {
    Done, // converted or failed, and reported
    NoApplication, // no spreadsheet application answered: the batch ends
    Stopped, // a stop request cut it short
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

// Where the CSV file names of a batch are claimed (OutputClaims::claim), for
// a worksheet of the workbook at `workbook` (its place in the batch, from 0).
class NameClaims
{
public:
    virtual ~NameClaims() = default;
    virtual QString claim(int workbook, const QString &folder, const QString &workbookFileName,
                          bool onlyFirstSheet, const QString &sheetName, NameRefusal *refusal)
        = 0;
};

// How one workbook's conversion ended.
struct WorkbookResult
{
    // A CSV file that waits in the commit group for its name, and the
    // worksheet it was claimed for (a taken name is claimed again).
    struct Pending
    {
        QString path;
        QString sheetName;
    };

    WorkbookEnd end = WorkbookEnd::Done;
    bool failed = false; // did not open, or a worksheet of it failed
    QStringList csvFiles; // the CSV files it wrote, native separators, in order
    QVector<Pending> pending; // of those, the ones that wait for the commit group
    // Each failure in the order met: the path concerned (the workbook, or a
    // CSV file) and the reason.
    QVector<QPair<QString, QString>> failures;
};

// Converts one workbook through the automation seam, on the calling thread,
// with the application object `app` (the caller's; every sub-object of a
// workbook is released when it is done). The application is selected afresh
// for each workbook and quit after it, the calls and their order those of
// the automation table. This is all of a workbook's conversion; what the
// batch keeps (the order of the reports, the names claimed, the commit
// group's outcomes) is the batch loop's.
//
// `started` runs once the application answered, just before the workbook is
// opened (the place of the workbook's progress report). A stop request to
// the calling thread is checked between worksheets, and the application
// checks it inside a long one.
class WorkbookConverter
{
public:
    // With `commits`, the application saves into that commit group (set on
    // `app`), and the CSV files it hands in are the result's pending ones.
    WorkbookConverter(AxObject *app, const BatchSetting &setting, NameClaims *claims,
                      AxCommitGroup *commits);

    WorkbookResult convert(int index, const QFileInfo &entry, const std::function<void()> &started);

private:
    enum class SheetEnd { Written, Skipped, Failed, Stopped };
    struct Current;

    SheetEnd convertSheet(Current &current, AxObject *book, int sheet);
    SheetEnd saveSheet(Current &current, AxObject *active, int sheet, const QString &sheetName);

    AxObject *m_app;
    const BatchSetting &m_setting;
    NameClaims *m_claims;
    AxCommitGroup *m_commits;
};
