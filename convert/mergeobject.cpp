#include "mergeobject.h"

#include "automationnames.h"
#include "axobject.h"
#include "folderchain.h"
#include "folderwalk.h"
#include "outputnames.h"
#include "utf8pass.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <algorithm>

QString g_SourcePath;
QString g_SavePath;
bool g_OnlyFirstSheet = false;
bool g_SaveAsUTF8 = false;

namespace {

QString utf8PhaseText()
{
    return QStringLiteral("完成excel转csv,开始进行UTF-8编码转换...");
}

QString noApplicationText()
{
    return QStringLiteral(
        "本功能需要电脑中装有微软office或金山wps专业版(注意是专业版,不是个人版)!");
}

QString summaryText(int workbooks, int csvFiles)
{
    return QStringLiteral("成功将%1个excel文件转换为%2个csv文件。").arg(workbooks).arg(csvFiles);
}

bool stopRequested()
{
    return QThread::currentThread()->isInterruptionRequested();
}

} // namespace

struct MergeObject::BatchState
{
    AxObject *app = nullptr;
    QString sourceRoot; // absolute, cleaned
    QString saveRoot; // absolute, cleaned
    int workbookCount = 0;
    int csvCount = 0;
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

void MergeObject::Transform()
{
    BatchState batch;
    batch.sourceRoot = AbsoluteFolder(g_SourcePath);
    batch.saveRoot = AbsoluteFolder(g_SavePath);
    const QFileInfoList files = CollectFiles(batch.sourceRoot);

    AxInitializeThread();
    batch.app = new AxObject(this);

    for (const QFileInfo &entry : files) {
        if (stopRequested()) {
            delete batch.app;
            return;
        }
        if (!IsWorkbookToConvert(QDir::toNativeSeparators(entry.absoluteFilePath())))
            continue;
        switch (convertWorkbook(batch, entry)) {
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
        if (!runUtf8Pass(batch.saveRoot))
            return;
    }
    emit ShowDisposingFile(summaryText(batch.workbookCount, batch.csvCount));
    emit Signal_SetButtonEnable();
}

MergeObject::WorkbookEnd MergeObject::convertWorkbook(BatchState &batch, const QFileInfo &entry)
{
    AxObject *app = batch.app;
    const QString nativePath = QDir::toNativeSeparators(entry.absoluteFilePath());

    app->setControl(m_applicationId);
    app->dynamicCall(AxNames::kSetVisible, QStringLiteral("false"));
    app->setProperty(AxNames::kDisplayAlerts, false);
    AxObject *books = app->querySubObject(AxNames::kWorkbooks);
    if (!books)
        return WorkbookEnd::NoApplication;

    ++batch.workbookCount;
    emit ShowDisposingFile(nativePath);

    bool stopped = false;
    AxObject *book = books->querySubObject(AxNames::kOpen, nativePath);
    if (book) {
        AxObject *sheets = book->querySubObject(AxNames::kSheets);
        const int count = sheets ? sheets->property(AxNames::kCount).toInt() : 0;
        const int visit = g_OnlyFirstSheet ? 1 : std::max(count, 0);
        for (int s = 1; s <= visit; ++s) {
            if (s > 1 && stopRequested()) {
                stopped = true;
                break;
            }
            convertSheet(batch, book, s, entry);
        }
        book->dynamicCall(AxNames::kClose, false);
    }
    app->dynamicCall(AxNames::kQuit);
    // The workbook's automation objects are of no further use once the
    // application has quit; releasing them here keeps a long batch from
    // growing by a few kilobytes per workbook.
    qDeleteAll(app->findChildren<AxObject *>(QString(), Qt::FindDirectChildrenOnly));
    return stopped ? WorkbookEnd::Stopped : WorkbookEnd::Done;
}

// A worksheet whose automation objects are missing (a chart sheet behind the
// index, no used range, no active workbook after the copy) is skipped, and so
// is one whose name cannot become a file name inside the output folder. Only
// worksheets handed to the application for saving are counted.
void MergeObject::convertSheet(BatchState &batch, AxObject *book, int sheet, const QFileInfo &entry)
{
    AxObject *worksheet = book->querySubObject(AxNames::kWorksheetAt, sheet);
    if (!worksheet)
        return;
    AxObject *usedRange = worksheet->querySubObject(AxNames::kUsedRange);
    if (!usedRange)
        return;
    const int row = usedRange->property(AxNames::kRow).toInt();
    const int column = usedRange->property(AxNames::kColumn).toInt();
    AxObject *rows = usedRange->querySubObject(AxNames::kRows);
    AxObject *columns = usedRange->querySubObject(AxNames::kColumns);
    AxObject *cell = worksheet->querySubObject(AxNames::kCells, row, column);
    if (!rows || !columns || !cell)
        return;

    // Blank: a used range of one cell that shows no value.
    if (rows->property(AxNames::kCount).toInt() == 1
        && columns->property(AxNames::kCount).toInt() == 1
        && cell->dynamicCall(AxNames::kValueCall).toString().isEmpty())
        return;

    worksheet->dynamicCall(AxNames::kCopy);
    AxObject *active = batch.app->querySubObject(AxNames::kActiveWorkbook);
    if (!active)
        return;

    // The name is settled before the folder is made, so a refused sheet name
    // leaves no empty folder behind.
    const QString folder = OutputFolderFor(batch.sourceRoot, batch.saveRoot, entry.absolutePath());
    const QString sheetName
        = g_OnlyFirstSheet ? QString() : worksheet->property(AxNames::kName).toString();
    const QString fileName
        = CsvFileName(WorkbookBaseName(entry.fileName()), g_OnlyFirstSheet, sheetName);
    if (folder.isEmpty() || fileName.isEmpty())
        return;
    CreateFolderChain(QFile::encodeName(folder).constData());

    ++batch.csvCount;
    const QString outputPath = QDir::toNativeSeparators(folder + QLatin1Char('/') + fileName);
    active->dynamicCall(AxNames::kSaveAs, outputPath, AxNames::kCsvFileFormat);
}

// False when the batch was asked to stop part-way.
bool MergeObject::runUtf8Pass(const QString &saveRoot)
{
    const QFileInfoList files = CollectFiles(saveRoot);
    for (const QFileInfo &entry : files) {
        if (stopRequested())
            return false;
        const QString nativePath = QDir::toNativeSeparators(entry.absoluteFilePath());
        if (nativePath.toLower().endsWith(QLatin1String(".csv")))
            ReencodeCsvAsUtf8(entry.absoluteFilePath());
    }
    return true;
}
