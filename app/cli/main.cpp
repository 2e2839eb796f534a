// sheetdrain-cli: runs one conversion batch without widgets, the same worker
// that the window drives, on a worker thread of its own. SOURCE is a folder
// tree or a single workbook.

#include "batchloop.h"
#include "builtinapplication.h"
#include "localeencoding.h"
#include "mergeobject.h"
#include "outputnames.h"
#include "programlanguage.h"
#include "runreport.h"
#include "signalbridge.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The program's messages, under one translation context.
struct CommandLine
{
    Q_DECLARE_TR_FUNCTIONS(CommandLine)
};

enum ExitCode {
    ExitNormalEnd = 0,
    ExitFailureEnd = 1, // no spreadsheet application could be reached
    ExitBadArguments = 2,
    ExitInterrupted = 3, // stopped by SIGINT, SIGTERM or SIGHUP
    ExitWithFailures = 4, // the batch ended, but something of it failed
};

QString usage()
{
    return CommandLine::tr(
        "用法:sheetdrain-cli [选项] SOURCE OUTPUT\n"
        "\n"
        "把文件夹SOURCE及其子文件夹中的每个.xls、.xlsx和.xlsm工作簿转换为CSV文件,\n"
        "保存到OUTPUT下相同的文件夹结构中(隐藏文件夹和~$锁定文件除外)。SOURCE也\n"
        "可以是单个工作簿,它的CSV文件直接保存到OUTPUT中。空白工作表不生成文件。\n"
        "\n"
        "  --all-sheets   每个工作表保存为 名称(工作表名).csv;不加此选项时只保存\n"
        "                 第一个工作表,保存为 名称.csv\n"
        "  --utf8         之后把本次写入的CSV文件中不是UTF-8的(按GBK读取)转换为\n"
        "                 UTF-8;OUTPUT中的其他文件不受影响\n"
        "  --quiet        只输出错误,不输出每个工作簿的进度和结尾的总结\n"
        "  --jobs N       同时转换N个工作簿(默认为处理器核心数);输出的文件、进度、\n"
        "                 报告和总结与逐个转换(--jobs 1)时相同\n"
        "  --report FILE  向FILE追加每个工作簿的一行JSON:path(工作簿)、status\n"
        "                 (converted、failed或stopped)、reason(原因)和csv\n"
        "                 (写入的CSV文件);多个同时运行的实例可以共用一个FILE\n"
        "  --password PW  对加密的工作簿尝试密码PW;每个密码给一次(也可写作\n"
        "                 --password=PW)\n"
        "  --password-file FILE\n"
        "                 同上,FILE中每行一个密码(UTF-8,空行跳过)\n"
        "  --version      显示版本\n"
        "  -h, --help     显示本帮助\n"
        "\n"
        "加密的工作簿先用电子表格程序内置的默认密码打开(桌面程序也不询问),再依次\n"
        "尝试给出的密码。都打不开的工作簿不生成CSV文件,原因为\"password needed\"。\n"
        "密码从不输出或写入磁盘;命令行上的密码在运行期间对本机其他用户可见,\n"
        "密码文件则不会。\n"
        "\n"
        "以前运行留下的同名CSV文件会被替换。同一次运行中的两个工作簿不会写入同一个\n"
        "文件:第一个保留原名,后面的以完整文件名(到最后一个点为止)命名,再加上\n"
        "\" (2)\"、\" (3)\"。同时写入同一文件夹的几次运行也不会替换彼此的文件:\n"
        "后写的一个取下一个可用的名称。\n"
        "\n"
        "每个工作簿在标准错误中报告为 [k/n] PATH,其后每项失败各占一行 PATH: 原因\n"
        "(无法读取的文件夹和不符合本地编码的文件名也是如此)。这些行中的控制字符\n"
        "写作\\n、\\r、\\t或\\xHH,每项报告保持一行。结尾的总结输出到标准输出:只统计\n"
        "转换成功的工作簿和写入的CSV文件,然后说明失败的项目。\n"
        "\n"
        "退出状态:0 正常结束;1 无法使用电子表格程序;2 参数错误或文件夹不存在;\n"
        "3 被信号中止(正在写入的CSV文件要么完整写入,要么不写);4 运行结束,但有\n"
        "工作簿、文件夹或编码转换失败,或报告文件无法写入。\n");
}

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

// Lines go out whole, from whichever thread prints them.
std::mutex g_printMutex;

// Standard error is buffered while a batch runs (see flushReports): a line
// per workbook was two write calls each.
void printLine(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    const std::lock_guard<std::mutex> lock(g_printMutex);
    if (stream != stderr)
        std::fflush(stderr); // what came before goes out before
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fputc('\n', stream);
    if (stream != stderr)
        std::fflush(stream);
}

// The buffered lines go out at least this often.
constexpr int kReportFlushMs = 100;
void flushReports()
{
    const std::lock_guard<std::mutex> lock(g_printMutex);
    std::fflush(stderr);
}

// Diagnostics are printed where they arise, so that they come in order with
// the reports of the workbooks, which the worker thread prints too.
void printMessage(QtMsgType, const QMessageLogContext &, const QString &text)
{
    printLine(stderr, text);
}

int badArguments(const QString &message)
{
    printLine(stderr, message);
    printLine(stderr, CommandLine::tr("请运行'sheetdrain-cli --help'查看用法。"));
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
        *reason = CommandLine::tr("大于1 MB");
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

struct Options
{
    QStringList paths;
    bool allSheets = false;
    bool utf8 = false;
    bool quiet = false;
    QString reportPath;
    int reportFd = -1;
    QStringList passwords;
    int jobs = QThread::idealThreadCount();
};

// Most workbooks converted at once.
constexpr int kMaxJobs = 256;

// Reads the options; -1 when the batch may run, otherwise the exit status.
int readOptions(const QStringList &args, Options *options)
{
    bool optionsEnded = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        QString value, reason;
        bool missing = false;
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg.size() == 1) {
            options->paths.append(arg);
        } else if (arg == QLatin1String("--")) {
            optionsEnded = true;
        } else if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            std::fflush(stderr);
            std::fputs(usage().toLocal8Bit().constData(), stdout);
            return ExitNormalEnd;
        } else if (arg == QLatin1String("--version")) {
            std::puts("sheetdrain-cli " SHEETDRAIN_VERSION);
            return ExitNormalEnd;
        } else if (arg == QLatin1String("--all-sheets")) {
            options->allSheets = true;
        } else if (arg == QLatin1String("--utf8")) {
            options->utf8 = true;
        } else if (arg == QLatin1String("--quiet") || arg == QLatin1String("-q")) {
            options->quiet = true;
        } else if (arg.startsWith(QLatin1String("--report="))) {
            options->reportPath = arg.mid(9);
        } else if (arg == QLatin1String("--report") && i + 1 < args.size()) {
            options->reportPath = args.at(++i);
        } else if (arg == QLatin1String("--report")) {
            return badArguments(CommandLine::tr("--report 需要一个文件名"));
        } else if (optionValue(args, &i, QStringLiteral("--jobs"), &value, &missing)) {
            bool ok = false;
            options->jobs = value.toInt(&ok);
            if (missing || !ok || options->jobs < 1 || options->jobs > kMaxJobs)
                return badArguments(CommandLine::tr("--jobs 需要1到%1之间的整数").arg(kMaxJobs));
        } else if (optionValue(args, &i, QStringLiteral("--password"), &value, &missing)) {
            if (missing)
                return badArguments(CommandLine::tr("--password 需要一个值"));
            options->passwords.append(value);
        } else if (optionValue(args, &i, QStringLiteral("--password-file"), &value, &missing)) {
            if (missing)
                return badArguments(CommandLine::tr("--password-file 需要一个文件名"));
            if (!readPasswordFile(value, &options->passwords, &reason))
                return badArguments(CommandLine::tr("无法读取密码文件%1:%2").arg(value, reason));
        } else {
            // Only the option's name: a misspelt --password=... keeps its value unsaid.
            return badArguments(
                CommandLine::tr("未知选项:%1").arg(arg.section(QLatin1Char('='), 0, 0)));
        }
    }
    return -1;
}

// Checks SOURCE and OUTPUT and opens the report, then sets the batch
// parameters; -1 when the batch may run, otherwise the exit status.
int prepareBatch(Options *options)
{
    if (options->paths.size() != 2)
        return badArguments(
            CommandLine::tr("需要SOURCE和OUTPUT两个参数(文件夹或工作簿,以及文件夹)"));
    const QFileInfo source(options->paths[0]);
    if (!source.exists()) {
        printLine(stderr, CommandLine::tr("提取文件夹不存在!"));
        return ExitBadArguments;
    }
    if (!source.isDir()
        && !IsWorkbookToConvert(QDir::toNativeSeparators(source.absoluteFilePath()))) {
        printLine(stderr, CommandLine::tr("提取的文件不是Excel工作簿(.xls、.xlsx、.xlsm)!"));
        return ExitBadArguments;
    }
    if (!QFileInfo(options->paths[1]).isDir()) {
        printLine(stderr, CommandLine::tr("保存文件夹不存在!"));
        return ExitBadArguments;
    }
    if (!options->reportPath.isEmpty()) {
        // Appended to, in one write at the end, so that runs side by side
        // (xargs -P, parallel) can share one report file.
        options->reportFd = ::open(QFile::encodeName(options->reportPath).constData(),
                                   O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (options->reportFd < 0) {
            printLine(stderr,
                      CommandLine::tr("无法写入报告文件%1:%2")
                          .arg(options->reportPath, QString::fromLocal8Bit(std::strerror(errno))));
            return ExitBadArguments;
        }
    }
    g_SourcePath = QDir::toNativeSeparators(options->paths[0]);
    g_SavePath = QDir::toNativeSeparators(options->paths[1]);
    g_OnlyFirstSheet = !options->allSheets;
    g_SaveAsUTF8 = options->utf8;
    setBuiltinApplicationPasswords(options->passwords);
    return -1;
}

bool writeReport(int fd, const QByteArray &lines)
{
    qint64 done = 0;
    while (done < lines.size()) {
        const ssize_t n = ::write(fd, lines.constData() + done, size_t(lines.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return ::close(fd) == 0;
}

struct Reports
{
    bool quiet = false;
    bool recording = false; // the run's records are kept only for --report
    QString progress; // "[k/n] " for the workbook path that comes next
    int failures = 0;
    bool completed = false;
    QString pending; // the last text that is not a workbook's path
    RunReport run;
    // Held while the worker's thread reports and while the main thread
    // reads the outcome: the end of a QThread is an order ThreadSanitizer
    // cannot see (Qt's own lock), this one it can.
    std::mutex mutex;
};

// Prints the worker's reports: workbook reports numbered on stderr, each
// failure after them, and the phase and failure texts on stderr; the last
// text of a batch that ends normally is its summary, which goes to stdout.
// They are printed on the worker's thread as they come (`reports` is its
// until the thread has ended): a report queued to the main thread woke it
// for every workbook.
void printReports(MergeObject *worker, QCoreApplication *app, Reports *reports)
{
    auto flushPending = [reports] {
        if (!reports->pending.isEmpty() && !reports->quiet)
            printLine(stderr, oneLine(reports->pending));
        reports->pending.clear();
    };
    QObject::connect(
        worker, &MergeObject::ShowProgress, app,
        [reports](int current, int total) {
            const std::lock_guard<std::mutex> hold(reports->mutex);
            reports->progress = QStringLiteral("[%1/%2] ").arg(current).arg(total);
        },
        Qt::DirectConnection);
    QObject::connect(
        worker, &MergeObject::ShowDisposingFile, app,
        [reports, flushPending](const QString &text) {
            const std::lock_guard<std::mutex> hold(reports->mutex);
            flushPending();
            if (reports->progress.isEmpty()) {
                reports->pending = text;
                return;
            }
            if (reports->recording)
                reports->run.workbookStarted(text);
            if (!reports->quiet)
                printLine(stderr, reports->progress + oneLine(text));
            reports->progress.clear();
        },
        Qt::DirectConnection);
    QObject::connect(
        worker, &MergeObject::ShowFailure, app,
        [reports, flushPending](const QString &path, const QString &reason) {
            const std::lock_guard<std::mutex> hold(reports->mutex);
            flushPending();
            ++reports->failures;
            if (reports->recording)
                reports->run.failure(path, reason);
            printLine(stderr, oneLine(path + QStringLiteral(": ") + reason));
        },
        Qt::DirectConnection);
    QObject::connect(
        worker, &MergeObject::WorkbookDone, app,
        [reports](const QString &path, bool converted, const QStringList &csv) {
            const std::lock_guard<std::mutex> hold(reports->mutex);
            if (reports->recording)
                reports->run.workbookDone(path, converted, csv);
        },
        Qt::DirectConnection);
    QObject::connect(
        worker, &MergeObject::Signal_SetButtonEnable, app,
        [reports] {
            const std::lock_guard<std::mutex> hold(reports->mutex);
            reports->completed = true;
            if (!reports->quiet)
                printLine(stdout, oneLine(reports->pending));
            reports->pending.clear();
        },
        Qt::DirectConnection);
}

} // namespace

int main(int argc, char **argv)
{
    // Progress lines reach the terminal within a tenth of a second (see
    // flushReports), not with two write calls each.
    static char errorBuffer[1 << 16];
    std::setvbuf(stderr, errorBuffer, _IOFBF, sizeof errorBuffer);
    ReserveDescriptorTable(); // before any thread starts
    QCoreApplication app(argc, argv);
    UseLocaleEncoding(); // file names and CSV files in the locale's encoding
    installProgramTranslations(&app);
    qInstallMessageHandler(printMessage);
    registerBuiltinApplication();
    Options options;
    int end = readOptions(QCoreApplication::arguments().mid(1), &options);
    if (end < 0)
        end = prepareBatch(&options);
    if (end >= 0)
        return end;

    // Signals end the batch after the worksheet being saved.
    QThread thread;
    bool interrupted = false;
    QuitSignalBridge quitSignals;
    QObject::connect(&quitSignals, &QuitSignalBridge::quitRequested, &app, [&] {
        interrupted = true;
        thread.requestInterruption();
    });

    auto *worker = new MergeObject(QStringLiteral("tem"), nullptr);
    worker->setJobs(options.jobs);
    Reports reports;
    reports.quiet = options.quiet;
    reports.recording = options.reportFd >= 0;
    reports.run.setCsvFailuresPossible(options.utf8);
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
    QTimer flushTimer;
    QObject::connect(&flushTimer, &QTimer::timeout, &flushTimer, flushReports);
    flushTimer.start(kReportFlushMs);
    app.exec();
    flushTimer.stop();
    flushReports();

    thread.quit();
    thread.wait();
    const std::lock_guard<std::mutex> hold(reports.mutex);
    int status = ExitNormalEnd;
    if (reports.completed) {
        status = reports.failures > 0 ? ExitWithFailures : ExitNormalEnd;
    } else {
        // Interrupted, or the failure text of a batch that could not go on.
        reports.run.runCutShort(interrupted ? QString() : reports.pending);
        if (!reports.pending.isEmpty())
            printLine(stderr, oneLine(reports.pending));
        status = interrupted ? ExitInterrupted : ExitFailureEnd;
    }
    if (options.reportFd >= 0 && !writeReport(options.reportFd, reports.run.jsonLines())) {
        printLine(stderr,
                  CommandLine::tr("无法写入报告文件%1:%2")
                      .arg(options.reportPath, QString::fromLocal8Bit(std::strerror(errno))));
        if (status == ExitNormalEnd)
            status = ExitWithFailures;
    }
    return status;
}
