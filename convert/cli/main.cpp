// sheetdrain-cli: runs one conversion batch without widgets, the same worker
// that the window drives, on a worker thread of its own.

#include "builtinapplication.h"
#include "mergeobject.h"
#include "outputnames.h"
#include "signalbridge.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QThread>

#include <cstdio>
#include <memory>

namespace {

enum ExitCode {
    ExitNormalEnd = 0,
    ExitFailureEnd = 1, // no spreadsheet application could be reached
    ExitBadArguments = 2,
    ExitInterrupted = 3, // stopped by SIGINT, SIGTERM or SIGHUP
};

const char kUsage[]
    = "Usage: sheetdrain-cli SOURCE OUTPUT [--all-sheets] [--utf8]\n"
      "\n"
      "Converts every .xls, .xlsx and .xlsm workbook under the folder SOURCE\n"
      "(sub-folders included, hidden folders and ~$ lock files left out) to CSV\n"
      "files in the same folder tree under OUTPUT. Blank worksheets give no file.\n"
      "\n"
      "  --all-sheets  write every worksheet as NAME(SHEET).csv; without it only\n"
      "                the first worksheet is written, as NAME.csv\n"
      "  --utf8        afterwards re-encode every CSV file under OUTPUT that is not\n"
      "                valid UTF-8 (read as GBK) as UTF-8\n"
      "  -h, --help    show this text\n"
      "\n"
      "Each workbook is reported on stderr as [k/n] PATH; the closing summary goes\n"
      "to stdout. Exit status: 0 the batch ended normally, 1 no spreadsheet\n"
      "application could be reached, 2 bad arguments or a missing folder,\n"
      "3 stopped by a signal (the CSV file being written is completed or not\n"
      "written at all).\n";

void printLine(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// Warnings from the worker thread (why a workbook or a save failed) are
// printed by the main thread, queued behind the report of their workbook.
void printMessage(QtMsgType, const QMessageLogContext &, const QString &text)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread())
        QMetaObject::invokeMethod(
            app, [text] { printLine(stderr, text); }, Qt::QueuedConnection);
    else
        printLine(stderr, text);
}

int badArguments(const QString &message)
{
    printLine(stderr, message);
    std::fputs("Try 'sheetdrain-cli --help'.\n", stderr);
    return ExitBadArguments;
}

// Reads the arguments into the batch parameters; -1 when the batch may run,
// otherwise the exit status to end with.
int setBatchFromArguments(const QStringList &args)
{
    QStringList folders;
    bool allSheets = false;
    bool utf8 = false;
    for (const QString &arg : args) {
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            std::fputs(kUsage, stdout);
            return ExitNormalEnd;
        }
        if (arg == QLatin1String("--all-sheets"))
            allSheets = true;
        else if (arg == QLatin1String("--utf8"))
            utf8 = true;
        else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1)
            return badArguments(QStringLiteral("unknown option: ") + arg);
        else
            folders.append(arg);
    }
    if (folders.size() != 2)
        return badArguments(QStringLiteral("expected the folders SOURCE and OUTPUT"));
    if (!QFileInfo(folders[0]).isDir()) {
        printLine(stderr, QStringLiteral("提取文件夹不存在!"));
        return ExitBadArguments;
    }
    if (!QFileInfo(folders[1]).isDir()) {
        printLine(stderr, QStringLiteral("保存文件夹不存在!"));
        return ExitBadArguments;
    }
    g_SourcePath = QDir::toNativeSeparators(folders[0]);
    g_SavePath = QDir::toNativeSeparators(folders[1]);
    g_OnlyFirstSheet = !allSheets;
    g_SaveAsUTF8 = utf8;
    return -1;
}

// The workbooks of the batch, for the reports' "[k/n]". Runs on the worker's
// thread ahead of the batch, where a stop request ends the walk at once.
int countWorkbooks(MergeObject *worker)
{
    int total = 0;
    for (const QFileInfo &entry : worker->CollectFiles(AbsoluteFolder(g_SourcePath))) {
        if (IsWorkbookToConvert(QDir::toNativeSeparators(entry.absoluteFilePath())))
            ++total;
    }
    return total;
}

// Prints the worker's reports: workbook reports (absolute paths) numbered
// on stderr, the summary on stdout, the phase and failure texts on stderr.
// `total` is set on the worker's thread before its first report is sent.
void printReports(MergeObject *worker, QCoreApplication *app, bool *completed,
                  std::shared_ptr<const int> total)
{
    auto done = std::make_shared<int>(0);
    QObject::connect(
        worker, &MergeObject::ShowDisposingFile, app, [done, total](const QString &text) {
            if (text.startsWith(QLatin1Char('/'))) {
                ++*done;
                printLine(stderr, QStringLiteral("[%1/%2] ").arg(*done).arg(*total) + text);
            } else if (text.startsWith(QStringLiteral("成功将"))) {
                printLine(stdout, text);
            } else {
                printLine(stderr, text);
            }
        });
    QObject::connect(worker, &MergeObject::Signal_SetButtonEnable, app,
                     [completed] { *completed = true; });
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(printMessage);
    registerBuiltinApplication();
    const int argumentsEnd = setBatchFromArguments(QCoreApplication::arguments().mid(1));
    if (argumentsEnd >= 0)
        return argumentsEnd;

    // Signals end the batch after the worksheet being saved.
    QThread thread;
    bool interrupted = false;
    QuitSignalBridge quitSignals;
    QObject::connect(&quitSignals, &QuitSignalBridge::quitRequested, &app, [&] {
        interrupted = true;
        thread.requestInterruption();
    });

    auto *worker = new MergeObject(QStringLiteral("tem"), nullptr);
    bool completed = false;
    auto total = std::make_shared<int>(0);
    printReports(worker, &app, &completed, total);

    worker->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    thread.start();
    // Counted on the worker's thread, not here: this thread must stay free to
    // take a stop request while a large tree is walked.
    QMetaObject::invokeMethod(
        worker, [worker, total] { *total = countWorkbooks(worker); }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(worker, "Transform", Qt::QueuedConnection);
    // Runs on the worker thread after Transform, so its notice reaches the main
    // thread behind every report of the batch.
    QMetaObject::invokeMethod(
        worker,
        [&app] {
            QMetaObject::invokeMethod(
                &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    app.exec();

    thread.quit();
    thread.wait();
    if (completed)
        return ExitNormalEnd;
    return interrupted ? ExitInterrupted : ExitFailureEnd;
}
