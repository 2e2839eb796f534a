#include "mergeobject.h"

#include "automationnames.h"
#include "batchloop.h"
#include "batchoutcome.h"
#include "folderwalk.h"
#include "outputfolder.h"
#include "outputnames.h"
#include "utf8pass.h"
#include "walkchecks.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextCodec>
#include <QThread>

#include <mutex>

QString g_SourcePath;
QString g_SavePath;
bool g_OnlyFirstSheet = false;
bool g_SaveAsUTF8 = false;

namespace {

QString utf8PhaseText()
{
    return QCoreApplication::translate("MergeObject", "完成excel转csv,开始进行UTF-8编码转换...");
}

QString noApplicationText()
{
    return QCoreApplication::translate(
        "MergeObject", "本功能需要电脑中装有微软office或金山wps专业版(注意是专业版,不是个人版)!");
}

// The workers' settings (application and jobs) are made on the thread that
// creates a worker, in its constructor included, and read by Transform on
// the worker's own thread. Qt's queued start orders the two, but
// ThreadSanitizer cannot see inside Qt; this lock shows it that order. A
// lock of its own would not do: it is made by the constructor too.
std::mutex g_settingsMutex;

// MIB enum of UTF-8.
constexpr int kUtf8Mib = 106;

bool stopRequested()
{
    return QThread::currentThread()->isInterruptionRequested();
}

} // namespace

struct MergeObject::BatchState
{
    BatchSetting setting;
    BatchOutcome outcome;
    // The CSV files of this batch, in the order written; kept only for the
    // UTF-8 pass, so that a long batch does not grow without it.
    bool keepWritten = false;
    QStringList written;
};

// The name is the worker's object name; the batch never reads it.
MergeObject::MergeObject(const QString &name, QObject *parent)
    : QObject(parent)
{
    setObjectName(name);
    setApplicationId(QString::fromLatin1(AxNames::kExcelApplication));
    setJobs(QThread::idealThreadCount());
}

MergeObject::~MergeObject() = default;

void MergeObject::setApplicationId(const QString &id)
{
    std::lock_guard<std::mutex> lock(g_settingsMutex);
    m_applicationId = id;
}

void MergeObject::setJobs(int jobs)
{
    std::lock_guard<std::mutex> lock(g_settingsMutex);
    m_jobs = qMax(jobs, 1);
}

QFileInfoList MergeObject::CollectFiles(const QString &path)
{
    // A stop request ends the walk at once; the batch then stops at its next
    // check, before the first workbook.
    return WalkFolderTree(path, stopRequested);
}

void MergeObject::reportWalkProblems(BatchState &batch, const QList<WalkProblem> &problems)
{
    for (const WalkProblem &problem : problems) {
        if (problem.kind == WalkProblem::UndecodableWorkbook)
            ++batch.outcome.failedWorkbooks;
        else
            ++batch.outcome.unreadableFolders;
        emit ShowFailure(QDir::toNativeSeparators(problem.path), problem.reason);
    }
}

// The workbooks of the batch, in the order of the walk, as absolute paths. A
// single workbook as the source is a tree of its own folder holding only that
// workbook.
QStringList MergeObject::workbooksToConvert(BatchState &batch)
{
    const QFileInfo source(QDir::fromNativeSeparators(g_SourcePath));
    QStringList workbooks;
    if (source.isFile()) {
        batch.setting.sourceRoot = AbsoluteFolder(source.absolutePath());
        workbooks.append(source.absoluteFilePath());
        return workbooks;
    }
    batch.setting.sourceRoot = AbsoluteFolder(g_SourcePath);
    QList<WalkProblem> problems;
    bool stopped = false;
    WalkFolderPaths(
        batch.setting.sourceRoot,
        [&workbooks](QString &&path) {
            if (IsWorkbookToConvert(QDir::toNativeSeparators(path)))
                workbooks.append(std::move(path));
        },
        stopRequested, &stopped, &problems);
    if (stopped)
        return {}; // the batch stops at its next check
    reportWalkProblems(batch, problems);
    return workbooks;
}

void MergeObject::Transform()
{
    BatchState batch;
    int jobs = 1;
    {
        std::lock_guard<std::mutex> lock(g_settingsMutex);
        batch.setting.applicationId = m_applicationId;
        jobs = m_jobs;
    }
    batch.setting.onlyFirstSheet = g_OnlyFirstSheet;
    batch.setting.saveRoot = AbsoluteFolder(g_SavePath);
    batch.setting.canonicalSaveRoot = QFileInfo(batch.setting.saveRoot).canonicalFilePath();
    const QTextCodec *locale = QTextCodec::codecForLocale();
    batch.keepWritten = g_SaveAsUTF8 && !(locale && locale->mibEnum() == kUtf8Mib);
    // The batch begins before the walk: what appears in the output folders
    // from now on is this batch's or that of a batch beside it.
    BatchLoop loop(batch.setting.applicationId);
    const QStringList workbooks = workbooksToConvert(batch);

    BatchEvents events;
    events.started = [&](int index) {
        emit ShowProgress(index + 1, workbooks.size());
        emit ShowDisposingFile(QDir::toNativeSeparators(workbooks.at(index)));
    };
    events.finished = [&](int index, const WorkbookResult &result) {
        workbookFinished(batch, workbooks.at(index), result);
    };
    const WorkbookEnd end = loop.run(workbooks, batch.setting, jobs, events);
    if (end == WorkbookEnd::NoApplication)
        emit ShowDisposingFile(noApplicationText());
    if (end != WorkbookEnd::Done || stopRequested())
        return;
    if (g_SaveAsUTF8) {
        emit ShowDisposingFile(utf8PhaseText());
        if (!runUtf8Pass(batch))
            return;
    }
    emit ShowDisposingFile(SummaryText(batch.outcome));
    emit Signal_SetButtonEnable();
}

// A workbook's failures, in the order met, then (unless a stop cut it short)
// its place in the closing line.
void MergeObject::workbookFinished(BatchState &batch, const QString &workbook,
                                   const WorkbookResult &result)
{
    for (const auto &failure : result.failures)
        emit ShowFailure(failure.first, failure.second);
    if (result.end != WorkbookEnd::Done)
        return;
    batch.outcome.csvFiles += result.csvFiles.size();
    if (result.failed)
        ++batch.outcome.failedWorkbooks;
    else
        ++batch.outcome.convertedWorkbooks;
    if (batch.keepWritten) {
        for (const QString &file : result.csvFiles)
            batch.written.append(QDir::fromNativeSeparators(file));
    }
    emit WorkbookDone(QDir::toNativeSeparators(workbook), !result.failed, result.csvFiles);
}

// Re-encodes the CSV files that this batch wrote, and no other file. Where
// the locale's encoding is UTF-8, they are UTF-8 already. False when the
// batch was asked to stop part-way.
bool MergeObject::runUtf8Pass(BatchState &batch)
{
    QTextCodec *locale = QTextCodec::codecForLocale();
    if (locale && locale->mibEnum() == kUtf8Mib)
        return true;
    for (const QString &path : qAsConst(batch.written)) {
        if (stopRequested())
            return false;
        QString problem;
        if (!IsFileInsideOutputTree(batch.setting.canonicalSaveRoot, path))
            problem = QStringLiteral("no longer a file inside the output folder; left as it was");
        else if (const Utf8PassResult result = ReencodeCsvAsUtf8(path, &problem);
                 result == Utf8PassResult::Unchanged || result == Utf8PassResult::Rewritten)
            continue;
        ++batch.outcome.failedReencodes;
        emit ShowFailure(QDir::toNativeSeparators(path),
                         QStringLiteral("not re-encoded as UTF-8: ") + problem);
    }
    return true;
}
