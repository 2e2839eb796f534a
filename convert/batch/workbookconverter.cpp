#include "workbookconverter.h"

#include "automationnames.h"
#include "axcommitgroup.h"
#include "axobject.h"
#include "outputfolder.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <sys/stat.h>

#include <algorithm>

namespace {

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

QString OutputFolderOf(const BatchSetting &setting, const QString &path)
{
    return OutputFolderFor(setting.sourceRoot, setting.saveRoot, QFileInfo(path).absolutePath());
}

struct WorkbookConverter::Current
{
    int index;
    const QFileInfo &entry;
    QString nativePath;
    WorkbookResult result;

    void failure(const QString &path, const QString &reason)
    {
        result.failures.append(qMakePair(path, reason));
    }
};

WorkbookConverter::WorkbookConverter(AxObject *app, const BatchSetting &setting, NameClaims *claims,
                                     AxCommitGroup *commits)
    : m_app(app)
    , m_setting(setting)
    , m_claims(claims)
    , m_commits(commits)
{
}

// A workbook counts as converted when it opened and none of its worksheets
// failed; otherwise as failed, with each reason reported on the way.
WorkbookResult WorkbookConverter::convert(int index, const QFileInfo &entry,
                                          const std::function<void()> &started)
{
    Current current { index, entry, QDir::toNativeSeparators(entry.absoluteFilePath()), {} };
    m_app->setControl(m_setting.applicationId);
    m_app->dynamicCall(AxNames::kSetVisible, QStringLiteral("false"));
    m_app->setProperty(AxNames::kDisplayAlerts, false);
    AxObject *books = m_app->querySubObject(AxNames::kWorkbooks);
    if (!books) {
        current.result.end = WorkbookEnd::NoApplication;
        return current.result;
    }

    started();
    bool stopped = false;
    QString raised;
    AxObject *book = recordingException(
        books, &raised, [&] { return books->querySubObject(AxNames::kOpen, current.nativePath); });
    if (book) {
        AxObject *sheets = book->querySubObject(AxNames::kSheets);
        const int count = sheets ? sheets->property(AxNames::kCount).toInt() : 0;
        const int visit = m_setting.onlyFirstSheet ? 1 : std::max(count, 0);
        for (int s = 1; s <= visit && !stopped; ++s) {
            stopped
                = (s > 1 && stopRequested()) || convertSheet(current, book, s) == SheetEnd::Stopped;
        }
        book->dynamicCall(AxNames::kClose, false);
    } else {
        current.result.failed = true;
        current.failure(current.nativePath,
                        raised.isEmpty() ? QStringLiteral("the workbook could not be opened")
                                         : raised);
    }
    m_app->dynamicCall(AxNames::kQuit);
    // The workbook's automation objects are of no further use once the
    // application has quit; releasing them here keeps a long batch from
    // growing by a few kilobytes per workbook.
    qDeleteAll(m_app->findChildren<AxObject *>(QString(), Qt::FindDirectChildrenOnly));
    if (stopped)
        current.result.end = WorkbookEnd::Stopped;
    return current.result;
}

// A worksheet whose automation objects are missing (a chart sheet behind the
// index, no used range, no active workbook after the copy) is skipped; one
// that the application could not load fails with its reason.
WorkbookConverter::SheetEnd WorkbookConverter::convertSheet(Current &current, AxObject *book,
                                                            int sheet)
{
    QString raised;
    AxObject *worksheet = recordingException(
        book, &raised, [&] { return book->querySubObject(AxNames::kWorksheetAt, sheet); });
    if (!worksheet) {
        if (raised.isEmpty())
            return SheetEnd::Skipped;
        current.result.failed = true;
        current.failure(current.nativePath,
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
    AxObject *active = m_app->querySubObject(AxNames::kActiveWorkbook);
    if (!active)
        return SheetEnd::Skipped;
    const QString sheetName
        = m_setting.onlyFirstSheet ? QString() : worksheet->property(AxNames::kName).toString();
    const SheetEnd end = saveSheet(current, active, sheet, sheetName);
    if (end == SheetEnd::Failed)
        current.result.failed = true;
    return end;
}

// The name is settled before the folder is made, so a refused sheet name
// leaves no empty folder behind. A CSV file counts once it is on disk, made
// by this save.
WorkbookConverter::SheetEnd WorkbookConverter::saveSheet(Current &current, AxObject *active,
                                                         int sheet, const QString &sheetName)
{
    const QString label = sheetLabel(sheetName, sheet);
    auto fail = [&](const QString &reason) {
        current.failure(current.nativePath,
                        (m_setting.onlyFirstSheet ? QString() : label + QStringLiteral(": "))
                            + reason);
        return SheetEnd::Failed;
    };
    const QString folder
        = OutputFolderFor(m_setting.sourceRoot, m_setting.saveRoot, current.entry.absolutePath());
    if (folder.isEmpty())
        return fail(QStringLiteral("the workbook lies outside the source folder"));
    NameRefusal refusal = NameRefusal::None;
    const QString outputPath = m_claims->claim(current.index, folder, current.entry.fileName(),
                                               m_setting.onlyFirstSheet, sheetName, &refusal);
    if (refusal == NameRefusal::Stopped)
        return SheetEnd::Stopped;
    if (refusal == NameRefusal::DotName)
        return fail(QStringLiteral("the sheet's name cannot be a file name"));
    if (refusal == NameRefusal::TooLong)
        return fail(QStringLiteral("the CSV file's name would be longer than the file system "
                                   "allows (255 bytes)"));
    const QString folderProblem = PrepareOutputFolder(m_setting.canonicalSaveRoot, folder);
    if (!folderProblem.isEmpty())
        return fail(folderProblem);

    // With a commit group the application hands every file it writes in;
    // the stamp (a lookup of a name not yet in the folder) is for the others.
    const QString nativeOutput = QDir::toNativeSeparators(outputPath);
    const FileStamp before = m_commits ? FileStamp() : FileStamp::of(outputPath);
    QString raised;
    recordingException(active, &raised, [&] {
        return active->dynamicCall(AxNames::kSaveAs, nativeOutput, AxNames::kCsvFileFormat);
    });
    // A file handed to a commit group takes its name later (the batch loop
    // settles it).
    const bool handedIn = raised.isEmpty() && m_commits && m_commits->isPending(nativeOutput);
    const bool written = raised.isEmpty()
        && (handedIn || (!m_commits && FileStamp::of(outputPath).isNewerFileThan(before)));
    if (!written && stopRequested())
        return SheetEnd::Stopped;
    if (!written)
        return fail(nativeOutput + QStringLiteral(": ")
                    + (raised.isEmpty() ? QStringLiteral("the file was not written") : raised));
    if (handedIn)
        current.result.pending.append({ nativeOutput, sheetName });
    current.result.csvFiles.append(nativeOutput);
    return SheetEnd::Written;
}
