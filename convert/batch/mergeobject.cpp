#include "mergeobject.h"

#include "automationnames.h"
#include "axobject.h"
#include "batchoutcome.h"
#include "folderwalk.h"
#include "outputfolder.h"
#include "outputnames.h"
#include "parallelbatch.h"
#include "utf8pass.h"
#include "walkchecks.h"
#include "workbookconverter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextCodec>
#include <QThread>

#include <sys/stat.h>

#include <algorithm>
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
    AxObject *app = nullptr;
    BatchSetting setting;
    BatchOutcome outcome;
    SequentialClaims claims;
    // The CSV files of this batch, in the order written; kept only for the
    // UTF-8 pass, so that a long batch does not grow without it.
    bool keepWritten = false;
    QStringList written;
};

MergeObject::MergeObject(const QString &name, QObject *parent)
    : QObject(parent)
    , m_name(name)
{
    setApplicationId(QString::fromLatin1(AxNames::kExcelApplication));
}

MergeObject::~MergeObject() = default;

void MergeObject::setApplicationId(const QString &id)
{
    std::lock_guard<std::mutex> lock(g_settingsMutex);
    m_applicationId = id;
}

QString MergeObject::applicationId() const
{
    std::lock_guard<std::mutex> lock(g_settingsMutex);
    return m_applicationId;
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
    int jobs = 0;
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
    const QStringList workbooks = workbooksToConvert(batch);

    const WorkbookEnd end
        = jobs > 0 ? convertInParallel(batch, workbooks, jobs) : convertOneByOne(batch, workbooks);
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

MergeObject::WorkbookEnd MergeObject::convertOneByOne(BatchState &batch,
                                                      const QStringList &workbooks)
{
    AxInitializeThread();
    batch.app = new AxObject(this);
    for (int i = 0; i < workbooks.size(); ++i) {
        WorkbookEnd end = WorkbookEnd::Stopped;
        if (!stopRequested())
            end = convertWorkbook(batch, QFileInfo(workbooks.at(i)), i + 1, workbooks.size());
        if (end == WorkbookEnd::NoApplication) {
            // The application object stays; it goes away with the worker.
            batch.app->dynamicCall(AxNames::kQuit);
            return end;
        }
        if (end == WorkbookEnd::Stopped)
            break;
        const QString folder = OutputFolderOf(batch.setting, workbooks.at(i));
        if (i + 1 == workbooks.size()
            || OutputFolderOf(batch.setting, workbooks.at(i + 1)) != folder)
            batch.claims.forgetFolder(folder);
    }
    delete batch.app; // and with it every sub-object of the batch
    batch.app = nullptr;
    return stopRequested() ? WorkbookEnd::Stopped : WorkbookEnd::Done;
}

// Each job thread drives an application of its own; the reports come here in
// the order of the workbooks and go out as a batch of one thread sends them.
MergeObject::WorkbookEnd MergeObject::convertInParallel(BatchState &batch,
                                                        const QStringList &workbooks, int jobs)
{
    const int total = workbooks.size();
    ParallelEvents events;
    events.started = [&](int index) {
        emit ShowProgress(index + 1, total);
        emit ShowDisposingFile(QDir::toNativeSeparators(workbooks.at(index)));
    };
    events.finished = [&](int index, const WorkbookReport &report) {
        for (const auto &failure : report.failures)
            emit ShowFailure(failure.first, failure.second);
        if (report.result.end == WorkbookResult::Done)
            workbookDone(batch, QFileInfo(workbooks.at(index)), report.result);
    };
    switch (ConvertInParallel(workbooks, batch.setting, jobs, events)) {
    case WorkbookResult::Done:
        return WorkbookEnd::Done;
    case WorkbookResult::NoApplication:
        return WorkbookEnd::NoApplication;
    case WorkbookResult::Stopped:
        break;
    }
    return WorkbookEnd::Stopped;
}

MergeObject::WorkbookEnd MergeObject::convertWorkbook(BatchState &batch, const QFileInfo &entry,
                                                      int current, int total)
{
    const QString nativePath = QDir::toNativeSeparators(entry.absoluteFilePath());
    WorkbookConverter converter(batch.app, batch.setting, &batch.claims);
    WorkbookResult result = converter.convert(
        current - 1, entry,
        [&] {
            emit ShowProgress(current, total);
            emit ShowDisposingFile(nativePath);
        },
        [this](const QString &path, const QString &reason) { emit ShowFailure(path, reason); });
    if (result.end == WorkbookResult::NoApplication)
        return WorkbookEnd::NoApplication;
    if (result.end == WorkbookResult::Stopped)
        return WorkbookEnd::Stopped;
    workbookDone(batch, entry, result);
    return WorkbookEnd::Done;
}

void MergeObject::workbookDone(BatchState &batch, const QFileInfo &entry,
                               const WorkbookResult &result)
{
    batch.outcome.csvFiles += result.csvFiles.size();
    if (result.failed)
        ++batch.outcome.failedWorkbooks;
    else
        ++batch.outcome.convertedWorkbooks;
    if (batch.keepWritten)
        batch.written += result.written;
    emit WorkbookDone(QDir::toNativeSeparators(entry.absoluteFilePath()), !result.failed,
                      result.csvFiles);
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
