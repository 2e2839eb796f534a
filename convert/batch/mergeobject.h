#pragma once

#include <QFileInfoList>
#include <QObject>
#include <QString>
#include <QStringList>

struct WalkProblem;
struct WorkbookResult;

// Batch parameters: written by the main window before it starts a batch, read
// by MergeObject::Transform on the worker thread. Paths use native separators.
extern QString g_SourcePath;
extern QString g_SavePath;
extern bool g_OnlyFirstSheet;
extern bool g_SaveAsUTF8;

// The conversion worker of the window and of sheetdrain-cli. One instance
// runs one batch on a thread of its own: it walks the source tree, has the
// spreadsheet application (reached through the automation seam, AxObject)
// save each worksheet that is not blank as CSV in a mirror of the tree under
// the output folder (the batch loop, BatchLoop, several workbooks at a
// time), optionally re-encodes the CSV files it wrote as UTF-8 and reports
// through its signals: each workbook, each failure with its reason, and a
// closing line that counts only what was done.
//
// The source may also be a single workbook: its CSV files then go straight
// into the output folder.
//
// A batch stops early, without the completion signal, when the worker's thread
// is asked to stop (QThread::requestInterruption): every job checks it
// between worksheets and between workbooks, and the application checks it
// while it writes a long worksheet.
class MergeObject : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(MergeObject)

public:
    MergeObject(const QString &name, QObject *parent);
    ~MergeObject() override;

    // Every file of the folder tree at `path`: a folder's own files (hidden
    // ones included, file links left out) sorted by lower-cased name, then the
    // tree of each sub-folder (hidden ones left out, folder links followed) in
    // the same order. A folder already being walked is never entered again, so
    // a link cycle cannot loop (see WalkFolderTree). A stop request to the
    // calling thread ends the walk at once with the files found so far.
    QFileInfoList CollectFiles(const QString &path);

    // The programmatic identifier of the application that the batch selects;
    // "Excel.Application" unless a test points the worker at its fake.
    void setApplicationId(const QString &id);

    // How many workbooks the batch converts at once (BatchLoop): one per
    // processor core unless set; one converts on the worker's own thread.
    // The files, reports, names and counts do not depend on it.
    void setJobs(int jobs);

signals:
    // The batch has ended normally.
    void Signal_SetButtonEnable();
    // A text for the window's status line: a workbook path, the UTF-8 phase
    // text, the summary or the failure text.
    void ShowDisposingFile(QString filePath);
    // Something of the batch failed: `path` is the workbook, folder or CSV
    // file concerned, `reason` says what went wrong. Sent when it happens,
    // so it follows the report of its workbook.
    void ShowFailure(QString path, QString reason);
    // How far the batch is: the workbook about to be reported is the
    // `current`-th of `total`. Sent just before that workbook's path.
    void ShowProgress(int current, int total);
    // A workbook is done with: `converted` as the closing line counts it, and
    // the CSV files it wrote. Not sent for a workbook that a stop cut short.
    void WorkbookDone(QString path, bool converted, QStringList csvFiles);

public slots:
    // Runs one whole batch synchronously on the calling thread.
    void Transform();

private:
    struct BatchState;

    QStringList workbooksToConvert(BatchState &batch);
    void reportWalkProblems(BatchState &batch, const QList<WalkProblem> &problems);
    void workbookFinished(BatchState &batch, const QString &workbook, const WorkbookResult &result);
    bool runUtf8Pass(BatchState &batch);

    // Set on the thread that creates the worker, read on its own under a lock
    // of mergeobject.cpp (see settingsMutex there).
    QString m_applicationId;
    int m_jobs = 1;
};
