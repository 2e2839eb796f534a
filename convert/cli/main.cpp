// sheetdrain-cli: runs one conversion batch without widgets, the same worker
// that the window drives, on a worker thread of its own.

#include "builtinapplication.h"
#include "localeencoding.h"
#include "mergeobject.h"
#include "outputnames.h"
#include "signalbridge.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
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
    ExitWithFailures = 4, // the batch ended, but something of it failed
};

const char kUsage[]
    = "Usage: sheetdrain-cli SOURCE OUTPUT [--all-sheets] [--utf8] [--password PW]...\n"
      "                      [--password-file FILE]...\n"
      "\n"
      "Converts every .xls, .xlsx and .xlsm workbook under the folder SOURCE\n"
      "(sub-folders included, hidden folders and ~$ lock files left out) to CSV\n"
      "files in the same folder tree under OUTPUT. Blank worksheets give no file.\n"
      "\n"
      "  --all-sheets  write every worksheet as NAME(SHEET).csv; without it only\n"
      "                the first worksheet is written, as NAME.csv\n"
      "  --utf8        afterwards re-encode the CSV files that this run wrote as\n"
      "                UTF-8 where they are not (they are read as GBK); other files\n"
      "                under OUTPUT are left alone\n"
      "  --password PW           a password to try on encrypted workbooks; give it\n"
      "                          once per password (also --password=PW)\n"
      "  --password-file FILE    the same for every line of FILE (UTF-8, one\n"
      "                          password per line, empty lines skipped)\n"
      "  -h, --help    show this text\n"
      "\n"
      "An encrypted workbook is opened with the spreadsheet application's built-in\n"
      "default password (as the desktop application does without asking), then\n"
      "with the given passwords in order. One that none of them opens gives no\n"
      "CSV file and the reason \"password needed\". Passwords are never printed\n"
      "or written to disk; a password on the command line is visible to other\n"
      "users of the machine while the batch runs, a password file is not.\n"
      "\n"
      "A CSV file of an earlier run is replaced. Two workbooks of one run never\n"
      "write the same file: the first keeps its name, a later one is named after\n"
      "its whole name up to the last dot, then with \" (2)\", \" (3)\" added.\n"
      "\n"
      "Each workbook is reported on stderr as [k/n] PATH, followed by a line\n"
      "PATH: REASON for each thing of it that failed (as are folders that cannot\n"
      "be read and names that are not valid in the locale's encoding). Control\n"
      "characters in these lines are written as \\n, \\r, \\t or \\xHH, so each\n"
      "report stays on one line. The closing summary goes to stdout; it counts\n"
      "only the workbooks converted and the CSV files written, then says what\n"
      "failed.\n"
      "\n"
      "Exit status: 0 the batch ended normally, 1 no spreadsheet application\n"
      "could be reached, 2 bad arguments or a missing folder, 3 stopped by a\n"
      "signal (the CSV file being written is completed or not written at all),\n"
      "4 the batch ended, but some workbooks, folders or re-encodings failed.\n";

// A report on one line: control characters (a newline in a file name) are
// written as escapes.
QString oneLine(const QString &text)
{
    QString line;
    line.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u >= 0x20 && u != 0x7F) {
            line += c;
        } else if (u == '\n') {
            line += QLatin1String("\\n");
        } else if (u == '\r') {
            line += QLatin1String("\\r");
        } else if (u == '\t') {
            line += QLatin1String("\\t");
        } else {
            line += QStringLiteral("\\x")
                + QString::number(u, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        }
    }
    return line;
}

void printLine(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// Diagnostics from the worker thread are printed by the main thread, queued
// behind the report of their workbook.
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

// A password file larger than this is refused (one password per line).
constexpr qint64 kMaxPasswordFileSize = 1 << 20;

// Appends the lines of a password file; false with *reason set when it
// cannot be read. The file's content is never printed.
bool readPasswordFile(const QString &path, QStringList *passwords, QString *reason)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = file.errorString();
        return false;
    }
    if (file.size() > kMaxPasswordFileSize) {
        *reason = QStringLiteral("larger than 1 MB");
        return false;
    }
    const QByteArray bytes = file.readAll();
    for (QByteArray line : bytes.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            passwords->append(QString::fromUtf8(line));
    }
    return true;
}

// The value of an option given as "--name VALUE" or "--name=VALUE": true
// when `args[*i]` is that option (then *i steps past a separate value).
bool optionValue(const QStringList &args, int *i, const QString &name, QString *value,
                 bool *missing)
{
    const QString &arg = args[*i];
    if (arg.startsWith(name + QLatin1Char('='))) {
        *value = arg.mid(name.size() + 1);
        return true;
    }
    if (arg != name)
        return false;
    *missing = *i + 1 >= args.size();
    if (!*missing)
        *value = args[++*i];
    return true;
}

// Reads the arguments into the batch parameters and the built-in
// application's passwords; -1 when the batch may run, otherwise the exit
// status to end with.
int setBatchFromArguments(const QStringList &args)
{
    QStringList folders, passwords;
    bool allSheets = false;
    bool utf8 = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        QString value, reason;
        bool missing = false;
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            std::fputs(kUsage, stdout);
            return ExitNormalEnd;
        }
        if (arg == QLatin1String("--all-sheets")) {
            allSheets = true;
        } else if (arg == QLatin1String("--utf8")) {
            utf8 = true;
        } else if (optionValue(args, &i, QStringLiteral("--password"), &value, &missing)) {
            if (missing)
                return badArguments(QStringLiteral("--password needs a value"));
            passwords.append(value);
        } else if (optionValue(args, &i, QStringLiteral("--password-file"), &value, &missing)) {
            if (missing)
                return badArguments(QStringLiteral("--password-file needs a file"));
            if (!readPasswordFile(value, &passwords, &reason))
                return badArguments(
                    QStringLiteral("cannot read the password file %1: %2").arg(value, reason));
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return badArguments(QStringLiteral("unknown option: ")
                                + arg.section(QLatin1Char('='), 0, 0));
        } else {
            folders.append(arg);
        }
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
    setBuiltinApplicationPasswords(passwords);
    return -1;
}

struct Reports
{
    int done = 0;
    int total = 0;
    int failures = 0;
    bool completed = false;
    QString pending; // the last text that is not a workbook's path
};

// Prints the worker's reports: workbook reports (absolute paths) numbered on
// stderr, each failure after them, and the phase and failure texts on
// stderr; the last text of a batch that ends normally is its summary, which
// goes to stdout.
void printReports(MergeObject *worker, QCoreApplication *app, Reports *reports)
{
    for (const QFileInfo &entry : worker->CollectFiles(AbsoluteFolder(g_SourcePath))) {
        if (IsWorkbookToConvert(QDir::toNativeSeparators(entry.absoluteFilePath())))
            ++reports->total;
    }
    auto flushPending = [reports] {
        if (!reports->pending.isEmpty())
            printLine(stderr, oneLine(reports->pending));
        reports->pending.clear();
    };
    QObject::connect(worker, &MergeObject::ShowDisposingFile, app,
                     [reports, flushPending](const QString &text) {
                         flushPending();
                         if (!text.startsWith(QLatin1Char('/'))) {
                             reports->pending = text;
                             return;
                         }
                         ++reports->done;
                         printLine(stderr,
                                   QStringLiteral("[%1/%2] ").arg(reports->done).arg(reports->total)
                                       + oneLine(text));
                     });
    QObject::connect(worker, &MergeObject::ShowFailure, app,
                     [reports, flushPending](const QString &path, const QString &reason) {
                         flushPending();
                         ++reports->failures;
                         printLine(stderr, oneLine(path + QStringLiteral(": ") + reason));
                     });
    QObject::connect(worker, &MergeObject::Signal_SetButtonEnable, app, [reports] {
        reports->completed = true;
        printLine(stdout, oneLine(reports->pending));
        reports->pending.clear();
    });
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    UseLocaleEncoding(); // file names and CSV files in the locale's encoding
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
    Reports reports;
    printReports(worker, &app, &reports);

    worker->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    thread.start();
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
    if (reports.completed)
        return reports.failures > 0 ? ExitWithFailures : ExitNormalEnd;
    if (!reports.pending.isEmpty())
        printLine(stderr, oneLine(reports.pending)); // the failure text
    return interrupted ? ExitInterrupted : ExitFailureEnd;
}
