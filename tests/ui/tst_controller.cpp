// The main window as the controller of a batch, driven the way a user drives
// it: the form filled from the settings file, the folder pickers, the start
// button with its refusals, whole batches on the fake and on the built-in
// spreadsheet application, and leaving the program while a batch runs.

#include "mainwindow.h"
#include "programpaths.h"
#include "programresources.h"
#include "signalbridge.h"

#include "axobject.h"
#include "builtinapplication.h"
#include "corpus.h"
#include "fakeapplication.h"
#include "testfiles.h"
#include "tinyxlsx.h"
#include "windowtest.h"

#include <QApplication>
#include <QCheckBox>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <memory>
#include <mutex>
#include <thread>

namespace {

const QString kFakeId = QStringLiteral("SheetDrain.TestFake");
const QString kRecordingId = QStringLiteral("SheetDrain.TestRecording");

// Threads on which an application object was created, newest last.
QList<QPointer<QThread>> s_batchThreads;

// Messages that must never appear while a window and its batch go away;
// any thread may log one.
std::mutex s_messagesMutex;
QStringList s_badMessages;
std::atomic<QtMessageHandler> s_previousHandler { nullptr };

void watchMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("Destroyed while thread"))) {
        const std::lock_guard<std::mutex> lock(s_messagesMutex);
        s_badMessages << message;
    }
    if (const QtMessageHandler previous = s_previousHandler)
        previous(type, context, message);
}

QStringList badMessages()
{
    const std::lock_guard<std::mutex> lock(s_messagesMutex);
    return s_badMessages;
}

using sdtest::filesUnder;
using windowtest::scaledTimeout;

QByteArray readFile(const QString &path)
{
    return sdtest::readFile(path, "<missing>");
}

void writeFile(const QString &path, const QByteArray &content)
{
    QVERIFY2(sdtest::writeFile(path, content), qPrintable(path));
}

} // namespace

class tst_Controller : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void formFromSettings_data();
    void formFromSettings();
    void pickers_data();
    void pickers();
    void pickerWithoutSettingsFile();
    void startRefused_data();
    void startRefused();
    void batchOnFakeApplication();
    void failuresBehindTheStatusLine();
    void secondBatchDisposesFirst();
    void failureEndKeepsButtonDisabled();
    void batchOnRealWorkbooks();
    void leavingMidBatch_data();
    void leavingMidBatch();
    void stopAtAnyMoment_data();
    void stopAtAnyMoment();

private:
    MainWindow *makeWindow();
    template<typename T> T *child(const char *name) const
    {
        return windowtest::child<T>(m_window.get(), name);
    }
    QString settingsPath() const { return m_dir->filePath(QStringLiteral("SheetDrain.ktz")); }
    // Presses the start button; a message box that it opens is read and
    // closed. Returns "title|text" of that box, or an empty text.
    QString pressStart();
    bool waitForBatchEnd(int timeoutMs = 20000);
    QString copyRealWorkbooks(const QString &root, int copies);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MainWindow> m_window;
    std::shared_ptr<FakeScript> m_script;
};

void tst_Controller::initTestCase()
{
    initProgramResources();
    registerBuiltinApplication();
    // Paths pass through the locale's 8-bit encoding; test on the usual UTF-8.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    s_previousHandler = qInstallMessageHandler(watchMessages);

    m_script = std::make_shared<FakeScript>();
    registerFakeApplication(kFakeId, m_script);
    AxRegistry::registerApplication(kRecordingId, [] {
        s_batchThreads << QPointer<QThread>(QThread::currentThread());
        return AxRegistry::createApplication(kFakeId);
    });
}

void tst_Controller::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    const QByteArray program = QFile::encodeName(m_dir->filePath(QStringLiteral("SheetDrain")));
    QCOMPARE(SetProgramPaths(program.constData()), 0);
    {
        const std::lock_guard<std::mutex> lock(s_messagesMutex);
        s_badMessages.clear();
    }
}

void tst_Controller::cleanup()
{
    m_window.reset();
    QVERIFY2(badMessages().isEmpty(), qPrintable(badMessages().join('\n')));
    m_dir.reset();
}

MainWindow *tst_Controller::makeWindow()
{
    m_window = std::make_unique<MainWindow>();
    m_window->show();
    return m_window.get();
}

QString tst_Controller::pressStart()
{
    windowtest::MessageBoxCloser closer;
    child<QPushButton>("pBtn_Transform")->click();
    return closer.title.isEmpty() && closer.text.isEmpty()
        ? QString()
        : closer.title + QLatin1Char('|') + closer.text;
}

bool tst_Controller::waitForBatchEnd(int timeoutMs)
{
    return windowtest::waitUntilEnabled(child<QPushButton>("pBtn_Transform"), timeoutMs);
}

// Copies of real workbooks from the shared corpus, spread over sub-folders;
// empty when the corpus is not there.
QString tst_Controller::copyRealWorkbooks(const QString &root, int copies)
{
    const QString corpus = sdtest::corpusDir();
    const QStringList sources
        = { corpus + QStringLiteral("/exceldatareader/Test_BigFormatted.xlsx"),
            corpus + QStringLiteral("/xlsx2csv/sheets.xlsx") };
    for (const QString &s : sources) {
        if (!QFile::exists(s))
            return QString();
    }
    for (int i = 0; i < copies; ++i) {
        const QString folder = root + QStringLiteral("/part%1").arg(i, 2, 10, QLatin1Char('0'));
        QDir().mkpath(folder);
        for (const QString &s : sources)
            QFile::copy(s, folder + QLatin1Char('/') + QFileInfo(s).fileName());
    }
    return root;
}

// --- settings at construction ----------------------------------------------

void tst_Controller::formFromSettings_data()
{
    QTest::addColumn<bool>("fileExists");
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("save");
    QTest::addColumn<bool>("utf8");
    QTest::addColumn<bool>("firstSheet");

    QTest::newRow("no file") << false << QByteArray() << QString() << QString() << false << true;
    QTest::newRow("empty file") << true << QByteArray() << QString() << QString() << false << true;
    QTest::newRow("all four")
        << true
        << QByteArray("SourcePath=/data/in/\r\nSavePath=/data/out/\r\nSaveAsUTF8=y\r\n"
                      "OnlyFirstSheet=n\r\n")
        << "/data/in/"
        << "/data/out/" << true << false;
    QTest::newRow("yes and no words")
        << true << QByteArray("SaveAsUTF8=yes\r\nOnlyFirstSheet=no\r\n") << QString() << QString()
        << true << false;
    QTest::newRow("upper case") << true << QByteArray("SaveAsUTF8=Y\r\nOnlyFirstSheet=N\r\n")
                                << QString() << QString() << false << true;
    QTest::newRow("digits") << true << QByteArray("SaveAsUTF8=1\r\nOnlyFirstSheet=0\r\n")
                            << QString() << QString() << false << true;
    QTest::newRow("empty values")
        << true << QByteArray("SourcePath=\r\nSavePath=\r\nSaveAsUTF8=\r\nOnlyFirstSheet=\r\n")
        << QString() << QString() << false << true;
    QTest::newRow("non-ASCII paths")
        << true
        << QStringLiteral("SavePath=/home/张三/输出/\r\nSourcePath=/home/张三/报表 2019/\r\n")
               .toUtf8()
        << QStringLiteral("/home/张三/报表 2019/") << QStringLiteral("/home/张三/输出/") << false
        << true;
    const QByteArray longPath = "/" + QByteArray(1000, 'p') + "/";
    QTest::newRow("long path") << true << "SourcePath=" + longPath + "\r\n"
                               << QString::fromLatin1(longPath) << QString() << false << true;
    const QByteArray tooLong = "/" + QByteArray(1100, 'p') + "/";
    QTest::newRow("path too long for a value")
        << true << "SourcePath=" + tooLong + "\r\nSavePath=/ok/\r\n"
        << QString() << "/ok/" << false << true;
}

void tst_Controller::formFromSettings()
{
    QFETCH(bool, fileExists);
    QFETCH(QByteArray, settings);
    QFETCH(QString, source);
    QFETCH(QString, save);
    QFETCH(bool, utf8);
    QFETCH(bool, firstSheet);

    if (fileExists)
        writeFile(settingsPath(), settings);
    makeWindow();
    QCOMPARE(child<QLineEdit>("lEdt_SourcePath")->text(), source);
    QCOMPARE(child<QLineEdit>("lEdt_SavePath")->text(), save);
    QCOMPARE(child<QCheckBox>("cBox_SaveAsUTF8")->isChecked(), utf8);
    QCOMPARE(child<QCheckBox>("cBox_OnlyFirstSheet")->isChecked(), firstSheet);
    // Reading never creates or changes the file.
    QCOMPARE(QFile::exists(settingsPath()), fileExists);
    if (fileExists)
        QCOMPARE(readFile(settingsPath()), settings);
}

// --- folder pickers ---------------------------------------------------------

void tst_Controller::pickers_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("shown");

    for (const char *button : { "pBtn_SourcePath", "pBtn_SavePath" }) {
        const QString b = QString::fromLatin1(button);
        QTest::addRow("%s folder", button) << b << "/data/books"
                                           << "/data/books/";
        QTest::addRow("%s already ends in /", button) << b << "/data/books/"
                                                      << "/data/books/";
        QTest::addRow("%s root", button) << b << "/"
                                         << "/";
        QTest::addRow("%s non-ASCII", button)
            << b << QStringLiteral("/home/李四/表格") << QStringLiteral("/home/李四/表格/");
        QTest::addRow("%s backslash kept", button) << b << "/data/a\\b"
                                                   << "/data/a\\b/";
        QTest::addRow("%s cancelled", button) << b << QString() << QString();
    }
}

void tst_Controller::pickers()
{
    QFETCH(QString, button);
    QFETCH(QString, answer);
    QFETCH(QString, shown);

    const QByteArray before("SourcePath=/old/in/\r\nSavePath=/old/out/\r\n");
    writeFile(settingsPath(), before);
    makeWindow();
    const bool source = button == QLatin1String("pBtn_SourcePath");
    auto *field = child<QLineEdit>(source ? "lEdt_SourcePath" : "lEdt_SavePath");
    auto *other = child<QLineEdit>(source ? "lEdt_SavePath" : "lEdt_SourcePath");
    const QString otherText = other->text();

    QStringList asked;
    m_window->setDirectoryQuestion([&](QWidget *parent, const QString &caption,
                                       const QString &startDirectory,
                                       QFileDialog::Options options) {
        asked << QStringLiteral("%1|%2|%3|%4")
                     .arg(parent == m_window.get())
                     .arg(caption, startDirectory)
                     .arg(int(options));
        return answer;
    });
    // The field shows a folder that does not exist: the question starts at ".".
    child<QPushButton>(button.toLatin1().constData())->click();
    const int options = int(QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    QCOMPARE(asked, QStringList(QStringLiteral("1|选择文件夹|.|%1").arg(options)));

    QCOMPARE(other->text(), otherText);
    if (answer.isEmpty()) {
        QCOMPARE(field->text(), source ? QStringLiteral("/old/in/") : QStringLiteral("/old/out/"));
        QCOMPARE(readFile(settingsPath()), before);
        return;
    }
    QCOMPARE(field->text(), shown);
    // Saved at once, before any start, in the locale's encoding.
    const QByteArray saved = readFile(settingsPath());
    const QByteArray key = source ? "SourcePath=" : "SavePath=";
    QVERIFY2(saved.contains(key + shown.toUtf8() + "\r\n"), saved.constData());
    QVERIFY(saved.contains(source ? "SavePath=/old/out/\r\n" : "SourcePath=/old/in/\r\n"));

    // The next start-up shows the picked folder.
    m_window.reset();
    makeWindow();
    QCOMPARE(child<QLineEdit>(source ? "lEdt_SourcePath" : "lEdt_SavePath")->text(), shown);
}

void tst_Controller::pickerWithoutSettingsFile()
{
    makeWindow();
    m_window->setDirectoryQuestion(
        [](QWidget *, const QString &, const QString &, QFileDialog::Options) {
            return QStringLiteral("/data/books");
        });
    child<QPushButton>("pBtn_SourcePath")->click();
    QCOMPARE(child<QLineEdit>("lEdt_SourcePath")->text(), QStringLiteral("/data/books/"));
    QVERIFY(!QFile::exists(settingsPath()));
}

// --- the start button -------------------------------------------------------

void tst_Controller::startRefused_data()
{
    QTest::addColumn<QString>("source"); // "dir", "file", "missing" or "" for the field
    QTest::addColumn<QString>("save");
    QTest::addColumn<bool>("utf8");
    QTest::addColumn<bool>("firstSheet");
    QTest::addColumn<QString>("box");

    const QString noSource = QStringLiteral("Message:|提取文件夹不存在!");
    const QString noSave = QStringLiteral("Message:|保存文件夹不存在!");
    QTest::newRow("both empty") << ""
                                << "" << false << true << noSource;
    QTest::newRow("source empty") << ""
                                  << "dir" << true << false << noSource;
    QTest::newRow("source missing") << "missing"
                                    << "dir" << true << true << noSource;
    QTest::newRow("source is a file") << "file"
                                      << "dir" << false << false << noSource;
    QTest::newRow("save empty") << "dir"
                                << "" << false << true << noSave;
    QTest::newRow("save missing") << "dir"
                                  << "missing" << true << false << noSave;
    QTest::newRow("save is a file") << "dir"
                                    << "file" << false << true << noSave;
}

void tst_Controller::startRefused()
{
    QFETCH(QString, source);
    QFETCH(QString, save);
    QFETCH(bool, utf8);
    QFETCH(bool, firstSheet);
    QFETCH(QString, box);

    writeFile(settingsPath(), "SaveAsUTF8=x\r\nOnlyFirstSheet=x\r\n");
    writeFile(m_dir->filePath(QStringLiteral("a-file")), "x");
    QDir(m_dir->path()).mkdir(QStringLiteral("a-dir"));
    auto pathFor = [this](const QString &kind) {
        if (kind == QLatin1String("dir"))
            return m_dir->filePath(QStringLiteral("a-dir"));
        if (kind == QLatin1String("file"))
            return m_dir->filePath(QStringLiteral("a-file"));
        if (kind == QLatin1String("missing"))
            return m_dir->filePath(QStringLiteral("gone"));
        return QString();
    };
    makeWindow();
    child<QLineEdit>("lEdt_SourcePath")->setText(pathFor(source));
    child<QLineEdit>("lEdt_SavePath")->setText(pathFor(save));
    child<QCheckBox>("cBox_SaveAsUTF8")->setChecked(utf8);
    child<QCheckBox>("cBox_OnlyFirstSheet")->setChecked(firstSheet);
    const QString statusBefore = child<QLabel>("lb_ShowDisposing")->text();

    QCOMPARE(pressStart(), box);
    // Nothing started; the options are written all the same.
    QVERIFY(child<QPushButton>("pBtn_Transform")->isEnabled());
    QCOMPARE(child<QLabel>("lb_ShowDisposing")->text(), statusBefore);
    const QByteArray saved = readFile(settingsPath());
    QVERIFY2(saved.contains(QByteArray("SaveAsUTF8=") + (utf8 ? "y" : "n") + "\r\n"),
             saved.constData());
    QVERIFY2(saved.contains(QByteArray("OnlyFirstSheet=") + (firstSheet ? "y" : "n") + "\r\n"),
             saved.constData());
    // A typed folder that exists is remembered like a picked one; a text
    // that names no folder is not.
    const QByteArray sourceLine = "SourcePath=" + QFile::encodeName(pathFor(source)) + "/\r\n";
    const QByteArray saveLine = "SavePath=" + QFile::encodeName(pathFor(save)) + "/\r\n";
    QCOMPARE(saved.contains("SourcePath"), source == QLatin1String("dir"));
    QCOMPARE(saved.contains("SavePath"), save == QLatin1String("dir"));
    if (source == QLatin1String("dir"))
        QVERIFY2(saved.contains(sourceLine), saved.constData());
    if (save == QLatin1String("dir"))
        QVERIFY2(saved.contains(saveLine), saved.constData());
}

void tst_Controller::batchOnFakeApplication()
{
    const QString in = m_dir->filePath(QStringLiteral("in"));
    const QString out = m_dir->filePath(QStringLiteral("out"));
    writeFile(in + QStringLiteral("/a.xlsx"), "fake");
    writeFile(in + QStringLiteral("/sub/b.xls"), "fake");
    writeFile(in + QStringLiteral("/notes.txt"), "not a workbook");
    QDir().mkpath(out);
    FakeWorkbook twoSheets;
    twoSheets.sheets = { FakeSheet(), FakeSheet() };
    twoSheets.sheets[1].name = QStringLiteral("第二页");
    m_script->books.insert(in + QStringLiteral("/sub/b.xls"), twoSheets);

    makeWindow();
    m_window->setApplicationId(kFakeId);
    child<QLineEdit>("lEdt_SourcePath")->setText(in);
    child<QLineEdit>("lEdt_SavePath")->setText(out + QLatin1Char('/'));
    child<QCheckBox>("cBox_OnlyFirstSheet")->setChecked(false);
    child<QCheckBox>("cBox_SaveAsUTF8")->setChecked(true);
    windowtest::StatusRecorder status(m_window.get(), child<QLabel>("lb_ShowDisposing"));

    QCOMPARE(pressStart(), QString());
    // At once: the label cleared and the button disabled until the end.
    QCOMPARE(child<QLabel>("lb_ShowDisposing")->text(), QString());
    QVERIFY(!child<QPushButton>("pBtn_Transform")->isEnabled());
    QVERIFY(waitForBatchEnd());
    // Each report in turn, the summary last.
    QCOMPARE(status.shown,
             (QStringList { in + QStringLiteral("/a.xlsx"), in + QStringLiteral("/sub/b.xls"),
                            QStringLiteral("完成excel转csv,开始进行UTF-8编码转换..."),
                            QStringLiteral("成功将2个excel文件转换为3个csv文件。") }));
    QCOMPARE(child<QLabel>("lb_ShowDisposing")->text(),
             QStringLiteral("成功将2个excel文件转换为3个csv文件。"));
    // How far the batch is stands beside each workbook's path, and in the
    // tray icon's tool-tip; the phase and summary texts stand alone.
    QCOMPARE(status.progress,
             (QStringList { QStringLiteral("第1个(共2个)"), QStringLiteral("第2个(共2个)"),
                            QString(), QString() }));
    QCOMPARE(status.toolTips,
             (QStringList {
                 QStringLiteral("SheetDrain\n第1个(共2个)：") + in + QStringLiteral("/a.xlsx"),
                 QStringLiteral("SheetDrain\n第2个(共2个)：") + in + QStringLiteral("/sub/b.xls"),
                 QStringLiteral("SheetDrain"), QStringLiteral("SheetDrain") }));
    QCOMPARE(filesUnder(out),
             (QStringList { QStringLiteral("a(Sheet1).csv"), QStringLiteral("sub/b(Sheet1).csv"),
                            QStringLiteral("sub/b(第二页).csv") }));
    // The fake writes the workbook and sheet that a file came from.
    QVERIFY(readFile(out + QStringLiteral("/sub/b(第二页).csv"))
                .startsWith((in + QStringLiteral("/sub/b.xls|第二页")).toUtf8()));
    m_script->books.clear();
}

// What failed, and why, is there for the window user: the closing line
// says how many workbooks failed, and a button under it opens the list of
// files and reasons. The next batch starts without them.
void tst_Controller::failuresBehindTheStatusLine()
{
    const QString in = m_dir->filePath(QStringLiteral("in"));
    const QString out = m_dir->filePath(QStringLiteral("out"));
    writeFile(in + QStringLiteral("/bad.xlsx"), "fake");
    writeFile(in + QStringLiteral("/good.xlsx"), "fake");
    QDir().mkpath(out);
    FakeWorkbook bad;
    bad.opens = false;
    bad.openError = QStringLiteral("encrypted workbook");
    m_script->books.insert(in + QStringLiteral("/bad.xlsx"), bad);

    makeWindow();
    m_window->setApplicationId(kFakeId);
    child<QLineEdit>("lEdt_SourcePath")->setText(in);
    child<QLineEdit>("lEdt_SavePath")->setText(out);
    auto *button = child<QPushButton>("pBtn_ShowFailures");
    QVERIFY(!button->isVisible());
    QCOMPARE(pressStart(), QString());
    QVERIFY(waitForBatchEnd());
    QCOMPARE(child<QLabel>("lb_ShowDisposing")->text(),
             QStringLiteral("成功将1个excel文件转换为1个csv文件。1个excel文件转换失败。"));
    QVERIFY(button->isVisible());
    QVERIFY(button->geometry().top() >= child<QLabel>("lb_ShowDisposing")->geometry().bottom());

    button->click();
    auto *list = m_window->findChild<QDialog *>(QStringLiteral("dlg_Failures"));
    QVERIFY(list);
    QTRY_VERIFY(list->isVisible());
    auto *tree = list->findChild<QTreeWidget *>(QStringLiteral("tree_Failures"));
    QVERIFY(tree);
    QCOMPARE(tree->topLevelItemCount(), 1);
    QCOMPARE(tree->topLevelItem(0)->text(0), in + QStringLiteral("/bad.xlsx"));
    QCOMPARE(tree->topLevelItem(0)->text(1), QStringLiteral("encrypted workbook"));

    // A batch without failures: no button, an empty list.
    m_script->books.clear();
    QCOMPARE(pressStart(), QString());
    QVERIFY(!button->isVisible());
    QVERIFY(!list->isVisible());
    QVERIFY(waitForBatchEnd());
    QCOMPARE(child<QLabel>("lb_ShowDisposing")->text(),
             QStringLiteral("成功将2个excel文件转换为2个csv文件。"));
    QVERIFY(!button->isVisible());
    QCOMPARE(tree->topLevelItemCount(), 0);
}

void tst_Controller::secondBatchDisposesFirst()
{
    const QString in = m_dir->filePath(QStringLiteral("in"));
    const QString out = m_dir->filePath(QStringLiteral("out"));
    writeFile(in + QStringLiteral("/a.xlsx"), "fake");
    QDir().mkpath(out);
    makeWindow();
    m_window->setApplicationId(kRecordingId);
    child<QLineEdit>("lEdt_SourcePath")->setText(in);
    child<QLineEdit>("lEdt_SavePath")->setText(out);
    s_batchThreads.clear();

    QCOMPARE(pressStart(), QString());
    QVERIFY(waitForBatchEnd());
    QCOMPARE(s_batchThreads.size(), 1);
    QPointer<QThread> first = s_batchThreads.first();
    QVERIFY(first);
    QVERIFY(first != QThread::currentThread());
    QVERIFY(first->isRunning()); // idle in its event loop until the next start

    QCOMPARE(pressStart(), QString());
    QVERIFY(!first); // stopped and destroyed by the press itself
    QVERIFY(waitForBatchEnd());
    QCOMPARE(s_batchThreads.size(), 2);
    QVERIFY(s_batchThreads.last());
    QCOMPARE(child<QLabel>("lb_ShowDisposing")->text(),
             QStringLiteral("成功将1个excel文件转换为1个csv文件。"));
}

void tst_Controller::failureEndKeepsButtonDisabled()
{
    const QString in = m_dir->filePath(QStringLiteral("in"));
    writeFile(in + QStringLiteral("/a.xlsx"), "fake");
    makeWindow();
    m_window->setApplicationId(QStringLiteral("No.Such.Application"));
    child<QLineEdit>("lEdt_SourcePath")->setText(in);
    child<QLineEdit>("lEdt_SavePath")->setText(m_dir->path());

    QCOMPARE(pressStart(), QString());
    QTRY_COMPARE(
        child<QLabel>("lb_ShowDisposing")->text(),
        QStringLiteral("本功能需要电脑中装有微软office或金山wps专业版(注意是专业版,不是个人版)!"));
    QTest::qWait(200);
    QVERIFY(!child<QPushButton>("pBtn_Transform")->isEnabled());
}

void tst_Controller::batchOnRealWorkbooks()
{
    SD_REQUIRE_CORPUS(QStringLiteral("exceldatareader/Test_BigFormatted.xlsx"));
    SD_REQUIRE_CORPUS(QStringLiteral("xlsx2csv/sheets.xlsx"));
    const QString in = copyRealWorkbooks(m_dir->filePath(QStringLiteral("in")), 2);
    QVERIFY(!in.isEmpty());
    const QString out = m_dir->filePath(QStringLiteral("out"));
    QDir().mkpath(out);
    writeFile(settingsPath(), QByteArray());
    makeWindow();
    m_window->setDirectoryQuestion(
        [&](QWidget *, const QString &, const QString &, QFileDialog::Options) { return in; });
    child<QPushButton>("pBtn_SourcePath")->click();
    m_window->setDirectoryQuestion(
        [&](QWidget *, const QString &, const QString &, QFileDialog::Options) { return out; });
    child<QPushButton>("pBtn_SavePath")->click();

    QCOMPARE(pressStart(), QString());
    QVERIFY(waitForBatchEnd());
    QCOMPARE(child<QLabel>("lb_ShowDisposing")->text(),
             QStringLiteral("成功将4个excel文件转换为4个csv文件。"));
    const QStringList files = filesUnder(out);
    QStringList expected { "part00/sheets.csv", "part00/Test_BigFormatted.csv", "part01/sheets.csv",
                           "part01/Test_BigFormatted.csv" };
    expected.sort();
    QCOMPARE(files, expected);
    for (const QString &f : files)
        QVERIFY(QFileInfo(out + QLatin1Char('/') + f).size() > 0);
    QCOMPARE(readFile(out + QStringLiteral("/part00/sheets.csv")),
             readFile(out + QStringLiteral("/part01/sheets.csv")));
    const QByteArray saved = readFile(settingsPath());
    QVERIFY(saved.contains("OnlyFirstSheet=y\r\n"));
    QVERIFY(saved.contains("SaveAsUTF8=n\r\n"));
    QVERIFY(saved.contains(("SourcePath=" + in + "/\r\n").toUtf8()));
}

// Quitting while a batch runs (closing the window, the tray's exit entry,
// SIGTERM) stops the batch after the worksheet being written and waits for
// its thread: every CSV file there is complete, and no stray file is left.
void tst_Controller::leavingMidBatch_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("window closed") << "close";
    QTest::newRow("tray exit") << "tray";
    QTest::newRow("SIGTERM") << "sigterm";
}

void tst_Controller::leavingMidBatch()
{
    QFETCH(QString, how);
    constexpr int kCopies = 10;
    SD_REQUIRE_CORPUS(QStringLiteral("exceldatareader/Test_BigFormatted.xlsx"));
    SD_REQUIRE_CORPUS(QStringLiteral("xlsx2csv/sheets.xlsx"));
    const QString in = copyRealWorkbooks(m_dir->filePath(QStringLiteral("in")), kCopies);
    QVERIFY(!in.isEmpty());
    const QString reference = m_dir->filePath(QStringLiteral("reference"));
    const QString out = m_dir->filePath(QStringLiteral("out"));
    QDir().mkpath(reference);
    QDir().mkpath(out);

    // A whole batch first, for the expected content of each file.
    makeWindow();
    child<QCheckBox>("cBox_OnlyFirstSheet")->setChecked(false);
    child<QLineEdit>("lEdt_SourcePath")->setText(in);
    child<QLineEdit>("lEdt_SavePath")->setText(reference);
    QCOMPARE(pressStart(), QString());
    QVERIFY(waitForBatchEnd(60000));
    const QStringList all = filesUnder(reference);
    QVERIFY(all.size() >= 2 * kCopies);

    child<QLineEdit>("lEdt_SavePath")->setText(out);
    QCOMPARE(pressStart(), QString());
    QTRY_VERIFY(child<QLabel>("lb_ShowDisposing")->text().endsWith(QLatin1String(".xlsx")));

    QElapsedTimer timer;
    timer.start();
    // Should the quit request be lost, end the loop with a code that fails.
    QTimer safety;
    safety.setSingleShot(true);
    connect(&safety, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    safety.start(scaledTimeout(20000));
    if (how == QLatin1String("close")) {
        m_window->close();
    } else if (how == QLatin1String("tray")) {
        QMenu *menu = m_window->findChild<QSystemTrayIcon *>()->contextMenu();
        QTimer::singleShot(0, menu->actions().at(1), &QAction::trigger);
        QCOMPARE(QApplication::exec(), 0);
    } else {
        QuitSignalBridge bridge;
        QVERIFY(bridge.isActive());
        connect(&bridge, &QuitSignalBridge::quitRequested, qApp, &QCoreApplication::quit,
                Qt::QueuedConnection);
        QTimer::singleShot(0, [] { std::raise(SIGTERM); });
        QCOMPARE(QApplication::exec(), 0);
    }
    m_window.reset(); // waits for the batch to wind down
    qInfo("left after %lld ms", timer.elapsed());

    const QStringList written = filesUnder(out);
    qInfo("%d of %d files written before the stop", int(written.size()), int(all.size()));
    QVERIFY2(written.size() < all.size(), "the batch was not cut short");
    for (const QString &f : written) {
        QVERIFY2(all.contains(f), qPrintable(QStringLiteral("stray file ") + f));
        QVERIFY2(readFile(out + QLatin1Char('/') + f) == readFile(reference + QLatin1Char('/') + f),
                 qPrintable(QStringLiteral("incomplete ") + f));
    }
}

// Leaving at any moment while the jobs of a batch wait for each other's
// names (a tree whose names collide in every folder), with one job, two or
// eight: the window goes at once, and every CSV file left is whole.
void tst_Controller::stopAtAnyMoment_data()
{
    QTest::addColumn<int>("jobs");
    QTest::addColumn<QString>("how");
    for (const int jobs : { 1, 2, 8 }) {
        QTest::addRow("%d jobs, window closed", jobs) << jobs << "close";
        QTest::addRow("%d jobs, SIGTERM", jobs) << jobs << "sigterm";
    }
}

void tst_Controller::stopAtAnyMoment()
{
    QFETCH(int, jobs);
    QFETCH(QString, how);
    static QTemporaryDir trees; // the tree and its whole conversion, made once
    const QString in = trees.filePath(QStringLiteral("in"));
    const QString whole = trees.filePath(QStringLiteral("whole"));
    if (!QFileInfo::exists(whole)) {
        QVERIFY(tinyxlsx::collidingTree(in, 9));
        QDir().mkpath(whole);
        makeWindow();
        child<QCheckBox>("cBox_OnlyFirstSheet")->setChecked(false);
        child<QLineEdit>("lEdt_SourcePath")->setText(in);
        child<QLineEdit>("lEdt_SavePath")->setText(whole);
        QCOMPARE(pressStart(), QString());
        QVERIFY(waitForBatchEnd(60000));
        m_window.reset();
    }
    const QStringList all = filesUnder(whole);
    QRandomGenerator random(QRandomGenerator::global()->generate());
    for (int attempt = 0; attempt < 2; ++attempt) {
        const QString out = m_dir->filePath(QStringLiteral("out%1").arg(attempt));
        QDir().mkpath(out);
        makeWindow();
        m_window->setJobs(jobs);
        child<QCheckBox>("cBox_OnlyFirstSheet")->setChecked(false);
        child<QLineEdit>("lEdt_SourcePath")->setText(in);
        child<QLineEdit>("lEdt_SavePath")->setText(out);
        QCOMPARE(pressStart(), QString());
        QTRY_VERIFY(child<QLabel>("lb_ShowDisposing")->text().endsWith(QLatin1String(".xlsx"))
                    || child<QLabel>("lb_ShowDisposing")->text().endsWith(QLatin1String(".xlsm")));
        QTest::qWait(int(random.bounded(120)));

        // Should the window not go, the test ends here.
        std::atomic<bool> gone { false };
        std::thread watchdog([&gone] {
            for (int waited = 0; !gone && waited < scaledTimeout(30000); waited += 20)
                QThread::msleep(20);
            if (!gone)
                qFatal("the batch did not stop");
        });
        if (how == QLatin1String("close")) {
            m_window->close();
        } else {
            QuitSignalBridge bridge;
            QVERIFY(bridge.isActive());
            connect(&bridge, &QuitSignalBridge::quitRequested, qApp, &QCoreApplication::quit,
                    Qt::QueuedConnection);
            QTimer::singleShot(0, [] { std::raise(SIGTERM); });
            QCOMPARE(QApplication::exec(), 0);
        }
        m_window.reset(); // stops the batch and waits for its threads
        gone = true;
        watchdog.join();
        for (const QString &f : filesUnder(out)) {
            QVERIFY2(all.contains(f), qPrintable(QStringLiteral("stray file ") + f));
            QVERIFY2(readFile(out + QLatin1Char('/') + f) == readFile(whole + QLatin1Char('/') + f),
                     qPrintable(QStringLiteral("incomplete ") + f));
        }
    }
}

QTEST_MAIN(tst_Controller)
#include "tst_controller.moc"
