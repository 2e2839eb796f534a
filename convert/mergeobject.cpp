#include "mergeobject.h"

#include "automationnames.h"
#include "axobject.h"
#include "batchoutcome.h"
#include "folderwalk.h"
#include "outputfolder.h"
#include "outputnames.h"
#include "utf8pass.h"
#include "walkchecks.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextCodec>
#include <QThread>

#include <sys/stat.h>

#include <algorithm>

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

// MIB enum of UTF-8.
constexpr int kUtf8Mib = 106;

bool stopRequested()
{
    return QThread::currentThread()->isInterruptionRequested();
}

// Runs `call` and keeps in *raised the description of the exception that
// `object` raised meanwhile, if any.
template<typename Call> auto recordingException(AxObject *object, QString *raised, Call call)
{
    const QMetaObject::Connection connection = QObject::connect(
        object, &AxObject::exception,
        [raised](int, const QString &, const QString &description, const QString &) {
            *raised = description.isEmpty() ? QStringLiteral("failed") : description;
        });
    auto result = call();
    QObject::disconnect(connection);
    return result;
}

// What a file is on disk, to tell whether a save replaced it.
struct FileStamp
{
    bool exists = false;
    struct stat st = {};

    static FileStamp of(const QString &path)
    {
        FileStamp stamp;
        stamp.exists = ::stat(QFile::encodeName(path).constData(), &stamp.st) == 0
            && S_ISREG(stamp.st.st_mode);
        return stamp;
    }
    // Whether this file is one that a save made after `before`.
    bool isNewerFileThan(const FileStamp &before) const
    {
        if (!exists)
            return false;
        return !before.exists || st.st_ino != before.st.st_ino || st.st_dev != before.st.st_dev
            || st.st_mtim.tv_sec != before.st.st_mtim.tv_sec
            || st.st_mtim.tv_nsec != before.st.st_mtim.tv_nsec || st.st_size != before.st.st_size;
    }
};

QString sheetLabel(const QString &sheetName, int index)
{
    return sheetName.isEmpty() ? QStringLiteral("worksheet %1").arg(index)
                               : QStringLiteral("worksheet \u201c%1\u201d").arg(sheetName);
}

} // namespace

struct MergeObject::BatchState
{
    AxObject *app = nullptr;
    QString sourceRoot; // absolute, cleaned
    QString saveRoot; // absolute, cleaned
    QString canonicalSaveRoot;
    BatchOutcome outcome;
    OutputClaims claims;
    QStringList written; // the CSV files of this batch, in the order written
    bool workbookFailed = false; // the workbook being converted
    QStringList workbookCsvFiles; // the CSV files it wrote
};

MergeObject::MergeObject(const QString &name, QObject *parent)
    : QObject(parent)
    , m_name(name)
    , m_applicationId(QString::fromLatin1(AxNames::kExcelApplication))
{
}

MergeObject::~MergeObject() = default;

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

// The workbooks of the batch, in the order of the walk. A single workbook as
// the source is a tree of its own folder holding only that workbook.
QFileInfoList MergeObject::workbooksToConvert(BatchState &batch)
{
    const QFileInfo source(QDir::fromNativeSeparators(g_SourcePath));
    QFileInfoList files;
    if (source.isFile()) {
        batch.sourceRoot = AbsoluteFolder(source.absolutePath());
        files.append(source);
    } else {
        batch.sourceRoot = AbsoluteFolder(g_SourcePath);
        QList<WalkProblem> problems;
        bool stopped = false;
        files = WalkFolderTree(batch.sourceRoot, stopRequested, &stopped, &problems);
        if (stopped)
            return {}; // the batch stops at its next check
        reportWalkProblems(batch, problems);
    }
    QFileInfoList workbooks;
    for (const QFileInfo &entry : qAsConst(files)) {
        if (IsWorkbookToConvert(QDir::toNativeSeparators(entry.absoluteFilePath())))
            workbooks.append(entry);
    }
    return workbooks;
}

void MergeObject::Transform()
{
    BatchState batch;
    batch.saveRoot = AbsoluteFolder(g_SavePath);
    batch.canonicalSaveRoot = QFileInfo(batch.saveRoot).canonicalFilePath();
    const QFileInfoList workbooks = workbooksToConvert(batch);

    AxInitializeThread();
    batch.app = new AxObject(this);

    for (int i = 0; i < workbooks.size(); ++i) {
        if (stopRequested()) {
            delete batch.app;
            return;
        }
        switch (convertWorkbook(batch, workbooks.at(i), i + 1, workbooks.size())) {
        case WorkbookEnd::Done:
            break;
        case WorkbookEnd::NoApplication:
            // The application object stays; it goes away with the worker.
            emit ShowDisposingFile(noApplicationText());
            batch.app->dynamicCall(AxNames::kQuit);
            return;
        case WorkbookEnd::Stopped:
            delete batch.app;
            return;
        }
    }

    delete batch.app; // and with it every sub-object of the batch
    batch.app = nullptr;
    if (stopRequested())
        return;
    if (g_SaveAsUTF8) {
        emit ShowDisposingFile(utf8PhaseText());
        if (!runUtf8Pass(batch))
            return;
    }
    emit ShowDisposingFile(SummaryText(batch.outcome));
    emit Signal_SetButtonEnable();
}

// A workbook counts as converted when it opened and none of its worksheets
// failed; otherwise as failed, with each reason reported on the way.
MergeObject::WorkbookEnd MergeObject::convertWorkbook(BatchState &batch, const QFileInfo &entry,
                                                      int current, int total)
{
    AxObject *app = batch.app;
    const QString nativePath = QDir::toNativeSeparators(entry.absoluteFilePath());

    app->setControl(m_applicationId);
    app->dynamicCall(AxNames::kSetVisible, QStringLiteral("false"));
    app->setProperty(AxNames::kDisplayAlerts, false);
    AxObject *books = app->querySubObject(AxNames::kWorkbooks);
    if (!books)
        return WorkbookEnd::NoApplication;

    emit ShowProgress(current, total);
    emit ShowDisposingFile(nativePath);
    batch.workbookFailed = false;
    batch.workbookCsvFiles.clear();
    bool stopped = false;
    QString raised;
    AxObject *book = recordingException(
        books, &raised, [&] { return books->querySubObject(AxNames::kOpen, nativePath); });
    if (book) {
        AxObject *sheets = book->querySubObject(AxNames::kSheets);
        const int count = sheets ? sheets->property(AxNames::kCount).toInt() : 0;
        const int visit = g_OnlyFirstSheet ? 1 : std::max(count, 0);
        for (int s = 1; s <= visit && !stopped; ++s) {
            stopped = (s > 1 && stopRequested())
                || convertSheet(batch, book, s, entry) == SheetEnd::Stopped;
        }
        book->dynamicCall(AxNames::kClose, false);
    } else {
        batch.workbookFailed = true;
        emit ShowFailure(nativePath,
                         raised.isEmpty() ? QStringLiteral("the workbook could not be opened")
                                          : raised);
    }
    app->dynamicCall(AxNames::kQuit);
    // The workbook's automation objects are of no further use once the
    // application has quit; releasing them here keeps a long batch from
    // growing by a few kilobytes per workbook.
    qDeleteAll(app->findChildren<AxObject *>(QString(), Qt::FindDirectChildrenOnly));
    if (stopped)
        return WorkbookEnd::Stopped;
    if (batch.workbookFailed)
        ++batch.outcome.failedWorkbooks;
    else
        ++batch.outcome.convertedWorkbooks;
    emit WorkbookDone(nativePath, !batch.workbookFailed, batch.workbookCsvFiles);
    return WorkbookEnd::Done;
}

// A worksheet whose automation objects are missing (a chart sheet behind the
// index, no used range, no active workbook after the copy) is skipped; one
// that the application could not load fails with its reason.
MergeObject::SheetEnd MergeObject::convertSheet(BatchState &batch, AxObject *book, int sheet,
                                                const QFileInfo &entry)
{
    QString raised;
    AxObject *worksheet = recordingException(
        book, &raised, [&] { return book->querySubObject(AxNames::kWorksheetAt, sheet); });
    if (!worksheet) {
        if (raised.isEmpty())
            return SheetEnd::Skipped;
        batch.workbookFailed = true;
        emit ShowFailure(QDir::toNativeSeparators(entry.absoluteFilePath()),
                         sheetLabel(QString(), sheet) + QStringLiteral(": ") + raised);
        return SheetEnd::Failed;
    }
    AxObject *usedRange = worksheet->querySubObject(AxNames::kUsedRange);
    if (!usedRange)
        return SheetEnd::Skipped;
    const int row = usedRange->property(AxNames::kRow).toInt();
    const int column = usedRange->property(AxNames::kColumn).toInt();
    AxObject *rows = usedRange->querySubObject(AxNames::kRows);
    AxObject *columns = usedRange->querySubObject(AxNames::kColumns);
    AxObject *cell = worksheet->querySubObject(AxNames::kCells, row, column);
    if (!rows || !columns || !cell)
        return SheetEnd::Skipped;

    // Blank: a used range of one cell that shows no value.
    if (rows->property(AxNames::kCount).toInt() == 1
        && columns->property(AxNames::kCount).toInt() == 1
        && cell->dynamicCall(AxNames::kValueCall).toString().isEmpty())
        return SheetEnd::Skipped;

    worksheet->dynamicCall(AxNames::kCopy);
    AxObject *active = batch.app->querySubObject(AxNames::kActiveWorkbook);
    if (!active)
        return SheetEnd::Skipped;
    const QString sheetName
        = g_OnlyFirstSheet ? QString() : worksheet->property(AxNames::kName).toString();
    const SheetEnd end = saveSheet(batch, active, sheet, sheetName, entry);
    if (end == SheetEnd::Failed)
        batch.workbookFailed = true;
    return end;
}

// The name is settled before the folder is made, so a refused sheet name
// leaves no empty folder behind. A CSV file counts once it is on disk, made
// by this save.
MergeObject::SheetEnd MergeObject::saveSheet(BatchState &batch, AxObject *active, int sheet,
                                             const QString &sheetName, const QFileInfo &entry)
{
    const QString nativePath = QDir::toNativeSeparators(entry.absoluteFilePath());
    const QString label = sheetLabel(sheetName, sheet);
    auto fail = [&](const QString &reason) {
        emit ShowFailure(nativePath,
                         (g_OnlyFirstSheet ? QString() : label + QStringLiteral(": ")) + reason);
        return SheetEnd::Failed;
    };
    const QString folder = OutputFolderFor(batch.sourceRoot, batch.saveRoot, entry.absolutePath());
    if (folder.isEmpty())
        return fail(QStringLiteral("the workbook lies outside the source folder"));
    NameRefusal refusal = NameRefusal::None;
    const QString outputPath
        = batch.claims.claim(folder, entry.fileName(), g_OnlyFirstSheet, sheetName, &refusal);
    if (refusal == NameRefusal::DotName)
        return fail(QStringLiteral("the sheet's name cannot be a file name"));
    if (refusal == NameRefusal::TooLong)
        return fail(QStringLiteral("the CSV file's name would be longer than the file system "
                                   "allows (255 bytes)"));
    const QString folderProblem = PrepareOutputFolder(batch.canonicalSaveRoot, folder);
    if (!folderProblem.isEmpty())
        return fail(folderProblem);

    const FileStamp before = FileStamp::of(outputPath);
    QString raised;
    recordingException(active, &raised, [&] {
        return active->dynamicCall(AxNames::kSaveAs, QDir::toNativeSeparators(outputPath),
                                   AxNames::kCsvFileFormat);
    });
    const bool written = raised.isEmpty() && FileStamp::of(outputPath).isNewerFileThan(before);
    if (!written && stopRequested())
        return SheetEnd::Stopped;
    if (!written)
        return fail(QDir::toNativeSeparators(outputPath) + QStringLiteral(": ")
                    + (raised.isEmpty() ? QStringLiteral("the file was not written") : raised));
    batch.claims.recordWritten(outputPath);
    batch.written.append(outputPath);
    batch.workbookCsvFiles.append(QDir::toNativeSeparators(outputPath));
    ++batch.outcome.csvFiles;
    return SheetEnd::Written;
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
        if (!IsFileInsideOutputTree(batch.canonicalSaveRoot, path))
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
