// The two folder fields as people reach for them: a folder dropped on a
// field or on the window, a path typed by hand (remembered like a picked
// one), Return to start, the picker opening at the field's folder, and the
// pickers out of reach while a batch runs.

#include "mainwindow.h"
#include "programpaths.h"
#include "programresources.h"

#include "fakeapplication.h"
#include "testfiles.h"
#include "windowtest.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <memory>

namespace {

const QString kFakeId = QStringLiteral("SheetDrain.FieldsFake");

using sdtest::readFile;

} // namespace

class tst_FolderFields : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void drops_data();
    void drops();
    void typedFolders_data();
    void typedFolders();
    void pickerStartsAtFieldFolder_data();
    void pickerStartsAtFieldFolder();
    void returnStartsBatch();
    void returnWithMissingFolder();

private:
    template<typename T> T *child(const char *name) const
    {
        return windowtest::child<T>(m_window.get(), name);
    }
    QString path(const QString &name) const { return m_dir->filePath(name); }
    QByteArray settings() const { return readFile(path(QStringLiteral("SheetDrain.ktz"))); }
    void makeWindow();
    bool dropOn(QWidget *target, QMimeData *mime);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MainWindow> m_window;
    std::shared_ptr<FakeScript> m_script;
    QString m_initialDirectory;
};

void tst_FolderFields::initTestCase()
{
    initProgramResources();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    m_script = std::make_shared<FakeScript>();
    registerFakeApplication(kFakeId, m_script);
    m_initialDirectory = QDir::currentPath();
}

void tst_FolderFields::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    for (const char *folder : { "in", "out", "报表 2019" })
        QVERIFY(QDir(m_dir->path()).mkdir(QString::fromUtf8(folder)));
    QFile book(path(QStringLiteral("in/a.xlsx")));
    QVERIFY(book.open(QIODevice::WriteOnly));
    book.close();
    QFile ktz(path(QStringLiteral("SheetDrain.ktz")));
    QVERIFY(ktz.open(QIODevice::WriteOnly));
    ktz.close();
    const QByteArray program = QFile::encodeName(path(QStringLiteral("SheetDrain")));
    QCOMPARE(SetProgramPaths(program.constData()), 0);
}

void tst_FolderFields::cleanup()
{
    m_window.reset();
    QDir::setCurrent(m_initialDirectory);
    m_dir.reset();
}

void tst_FolderFields::makeWindow()
{
    m_window = std::make_unique<MainWindow>();
    m_window->setApplicationId(kFakeId);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

// Delivers a drag and a drop at the centre of `target` the way the window
// system does, through the window, which finds the widget that takes it.
bool tst_FolderFields::dropOn(QWidget *target, QMimeData *mime)
{
    QWindow *window = m_window->windowHandle();
    const QPoint at = target->mapTo(m_window.get(), target->rect().center());
    QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &enter);
    if (!enter.isAccepted()) {
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(window, &leave);
        return false;
    }
    QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &drop);
    return drop.isAccepted();
}

void tst_FolderFields::drops_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("items"); // under the test folder; "text:..." is plain text
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("source"); // the fields afterwards, relative; "-" empty
    QTest::addColumn<QString>("save");

    QTest::newRow("folder on source field")
        << "lEdt_SourcePath" << QStringList { "in" } << true << "in/"
        << "-";
    QTest::newRow("folder on output field")
        << "lEdt_SavePath" << QStringList { "out" } << true << "-"
        << "out/";
    QTest::newRow("non-ASCII folder")
        << "lEdt_SavePath" << QStringList { "报表 2019" } << true << "-"
        << "报表 2019/";
    QTest::newRow("folder on the status line")
        << "lb_ShowDisposing" << QStringList { "in" } << true << "in/"
        << "-";
    QTest::newRow("folder on the start button")
        << "pBtn_Transform" << QStringList { "out" } << true << "out/"
        << "-";
    QTest::newRow("file on source field")
        << "lEdt_SourcePath" << QStringList { "in/a.xlsx" } << false << "-"
        << "-";
    QTest::newRow("file on the window")
        << "lb_ShowDisposing" << QStringList { "in/a.xlsx" } << false << "-"
        << "-";
    QTest::newRow("two folders") << "lEdt_SourcePath" << QStringList { "in", "out" } << false << "-"
                                 << "-";
    QTest::newRow("missing folder") << "lEdt_SourcePath" << QStringList { "gone" } << false << "-"
                                    << "-";
    QTest::newRow("text is the field's own")
        << "lEdt_SourcePath" << QStringList { "text:abc" } << true << "abc"
        << "-";
}

void tst_FolderFields::drops()
{
    QFETCH(QString, target);
    QFETCH(QStringList, items);
    QFETCH(bool, accepted);
    QFETCH(QString, source);
    QFETCH(QString, save);

    makeWindow();
    QMimeData mime;
    if (items.first().startsWith(QLatin1String("text:"))) {
        mime.setText(items.first().mid(5));
    } else {
        QList<QUrl> urls;
        for (const QString &item : items)
            urls << QUrl::fromLocalFile(path(item));
        mime.setUrls(urls);
    }
    QCOMPARE(dropOn(child<QWidget>(target.toLatin1().constData()), &mime), accepted);

    auto expect = [this](const QString &relative) {
        if (relative == QLatin1String("-"))
            return QString();
        return relative.contains(QLatin1Char('/')) ? path(relative) : relative;
    };
    QCOMPARE(child<QLineEdit>("lEdt_SourcePath")->text(), expect(source));
    QCOMPARE(child<QLineEdit>("lEdt_SavePath")->text(), expect(save));
    // A dropped folder is remembered at once, like a picked one.
    QByteArray expected;
    if (source.endsWith(QLatin1Char('/')))
        expected += "SourcePath=" + expect(source).toUtf8() + "\r\n";
    if (save.endsWith(QLatin1Char('/')))
        expected += "SavePath=" + expect(save).toUtf8() + "\r\n";
    QCOMPARE(settings(), expected);
}

void tst_FolderFields::typedFolders_data()
{
    QTest::addColumn<QString>("typed"); // "@" stands for the test folder
    QTest::addColumn<QString>("shown"); // the field after editing, "@" likewise
    QTest::addColumn<bool>("remembered");

    QTest::newRow("absolute") << "@/in"
                              << "@/in/" << true;
    QTest::newRow("trailing separator") << "@/out/"
                                        << "@/out/" << true;
    QTest::newRow("dot segments") << "@/in/../out/."
                                  << "@/out/" << true;
    QTest::newRow("relative to the current folder") << "in"
                                                    << "@/in/" << true;
    QTest::newRow("home folder") << "~/报表 2019"
                                 << "@/报表 2019/" << true;
    QTest::newRow("missing folder") << "@/gone"
                                    << "@/gone" << false;
    QTest::newRow("a file") << "@/in/a.xlsx"
                            << "@/in/a.xlsx" << false;
}

void tst_FolderFields::typedFolders()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(bool, remembered);

    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(m_dir->path()));
    QDir::setCurrent(m_dir->path());
    typed.replace(QLatin1Char('@'), m_dir->path());
    shown.replace(QLatin1Char('@'), m_dir->path());

    makeWindow();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    auto *field = child<QLineEdit>("lEdt_SavePath");
    field->setFocus();
    field->insert(typed); // QTest::keyClicks() takes ASCII only
    // Leaving the field confirms the text, as Return would.
    child<QCheckBox>("cBox_SaveAsUTF8")->setFocus();
    qputenv("HOME", home);

    QCOMPARE(field->text(), shown);
    QCOMPARE(settings(), remembered ? "SavePath=" + shown.toUtf8() + "\r\n" : QByteArray());
    // The next start-up shows a remembered folder.
    m_window.reset();
    makeWindow();
    QCOMPARE(child<QLineEdit>("lEdt_SavePath")->text(), remembered ? shown : QString());
}

void tst_FolderFields::pickerStartsAtFieldFolder_data()
{
    QTest::addColumn<QString>("field"); // "@" stands for the test folder
    QTest::addColumn<QString>("start");

    QTest::newRow("picked folder") << "@/in/"
                                   << "@/in";
    QTest::newRow("typed without separator") << "@/out"
                                             << "@/out";
    QTest::newRow("root") << "/"
                          << "/";
    QTest::newRow("missing folder") << "@/gone/"
                                    << ".";
    QTest::newRow("empty") << ""
                           << ".";
}

void tst_FolderFields::pickerStartsAtFieldFolder()
{
    QFETCH(QString, field);
    QFETCH(QString, start);
    field.replace(QLatin1Char('@'), m_dir->path());
    start.replace(QLatin1Char('@'), m_dir->path());

    makeWindow();
    QStringList asked;
    m_window->setDirectoryQuestion(
        [&](QWidget *, const QString &, const QString &startDirectory, QFileDialog::Options) {
            asked << startDirectory;
            return QString();
        });
    for (const char *name : { "lEdt_SourcePath", "lEdt_SavePath" })
        child<QLineEdit>(name)->setText(field);
    child<QPushButton>("pBtn_SourcePath")->click();
    child<QPushButton>("pBtn_SavePath")->click();
    QCOMPARE(asked, QStringList({ start, start }));
}

void tst_FolderFields::returnStartsBatch()
{
    makeWindow();
    child<QLineEdit>("lEdt_SourcePath")->setText(path(QStringLiteral("in")));
    auto *save = child<QLineEdit>("lEdt_SavePath");
    save->setText(path(QStringLiteral("out")));
    const int queriesBefore = m_script->workbooksQueries;

    QTest::keyClick(save, Qt::Key_Return);
    // Running: the start button and both pickers are out of reach, and a
    // second Return starts nothing.
    for (const char *name : { "pBtn_Transform", "pBtn_SourcePath", "pBtn_SavePath" })
        QVERIFY2(!child<QPushButton>(name)->isEnabled(), name);
    QTest::keyClick(child<QLineEdit>("lEdt_SourcePath"), Qt::Key_Return);

    QTRY_VERIFY(child<QPushButton>("pBtn_Transform")->isEnabled());
    for (const char *name : { "pBtn_SourcePath", "pBtn_SavePath" })
        QVERIFY2(child<QPushButton>(name)->isEnabled(), name);
    QCOMPARE(m_script->workbooksQueries - queriesBefore, 1);
    QCOMPARE(child<QLabel>("lb_ShowDisposing")->text(),
             QStringLiteral("成功将1个excel文件转换为1个csv文件。"));
    QVERIFY(QFile::exists(path(QStringLiteral("out/a.csv"))));
    // The typed folders are remembered as the batch used them.
    const QByteArray saved = settings();
    QVERIFY2(saved.contains("SourcePath=" + path("in/").toUtf8() + "\r\n"), saved.constData());
    QVERIFY2(saved.contains("SavePath=" + path("out/").toUtf8() + "\r\n"), saved.constData());
}

void tst_FolderFields::returnWithMissingFolder()
{
    makeWindow();
    child<QLineEdit>("lEdt_SourcePath")->setText(path(QStringLiteral("gone")));
    windowtest::MessageBoxCloser closer;
    QTest::keyClick(child<QLineEdit>("lEdt_SourcePath"), Qt::Key_Return);
    QCOMPARE(closer.text, QStringLiteral("提取文件夹不存在!"));
    QVERIFY(child<QPushButton>("pBtn_Transform")->isEnabled());
}

QTEST_MAIN(tst_FolderFields)
#include "tst_folderfields.moc"
