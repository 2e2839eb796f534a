// The main window's frame and form as a user sees them: texts, the order of
// the widgets in each row, check states, sizes, colours, placement and title.

#include "mainwindow.h"
#include "programresources.h"
#include "windowtest.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QToolBar>
#include <QtTest>

#include <algorithm>
#include <memory>

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void frame();
    void formTexts_data();
    void formTexts();
    void rowOrder_data();
    void rowOrder();
    void checkStatesAndFields();
    void minimumSizes();
    void statusLabelIsRed();
    void extraHeightGoesAboveStatusLabel();
    void trayIcon();
    void trayBringsWindowBack_data();
    void trayBringsWindowBack();

private:
    template<typename T> T *child(const char *name) const
    {
        return windowtest::child<T>(m_window.get(), name);
    }

    std::unique_ptr<MainWindow> m_window;
};

void tst_MainWindow::initTestCase()
{
    initProgramResources();
    // Keep the settings file of this folder out of the way: the window reads
    // one beside the test's working directory only if the path says so.
}

void tst_MainWindow::init()
{
    m_window = std::make_unique<MainWindow>();
}

void tst_MainWindow::cleanup()
{
    m_window.reset();
}

void tst_MainWindow::frame()
{
    QCOMPARE(m_window->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("SheetDrain4.1"));
    QCOMPARE(m_window->size(), QSize(940, 480));
    QVERIFY(!m_window->windowIcon().isNull());
    const QList<QSize> iconSizes = m_window->windowIcon().availableSizes();
    for (const QSize size : { QSize(16, 16), QSize(32, 32), QSize(48, 48), QSize(128, 128) })
        QVERIFY2(iconSizes.contains(size), qPrintable(QString::number(size.width())));

    // Placed at a half of the free width and a third of the free height of
    // the primary screen, truncating toward zero (the offscreen screen is
    // smaller than the window, so x is negative).
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    QCOMPARE(m_window->pos(), QPoint((screen.width() - 940) / 2, (screen.height() - 480) / 3));

    QVERIFY(m_window->findChildren<QMenuBar *>().isEmpty());
    QVERIFY(m_window->findChildren<QStatusBar *>().isEmpty());
    QVERIFY(m_window->findChildren<QToolBar *>().isEmpty());
    QCOMPARE(m_window->centralWidget()->objectName(), QStringLiteral("centralWidget"));

    auto *tabs = child<QTabWidget>("tabWidget");
    QCOMPARE(tabs->count(), 1);
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->widget(0)->objectName(), QStringLiteral("wgt_AddToTab1"));
    QCOMPARE(tabs->tabText(0), QStringLiteral("软件设置"));
}

void tst_MainWindow::formTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("group") << "groupBox_2" << QStringLiteral("选择文件夹(支持子文件夹)");
    QTest::newRow("source button") << "pBtn_SourcePath" << QStringLiteral("Excel文件所在文件夹：");
    QTest::newRow("first sheet") << "cBox_OnlyFirstSheet"
                                 << QStringLiteral("只转换每个Excel文件中的第一个工作表(Sheet)");
    QTest::newRow("save button") << "pBtn_SavePath" << QStringLiteral("转换后保存到：");
    QTest::newRow("utf-8") << "cBox_SaveAsUTF8" << QStringLiteral("用UTF-8编码保存");
    QTest::newRow("start") << "pBtn_Transform" << QStringLiteral("转换");
    QTest::newRow("status") << "lb_ShowDisposing"
                            << QStringLiteral(
                                   "【无需安装Office或WPS,支持.xls、.xlsx、.xlsm工作簿】");
}

void tst_MainWindow::formTexts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QObject *o = m_window->findChild<QObject *>(name);
    QVERIFY(o);
    QString shown;
    if (auto *group = qobject_cast<QGroupBox *>(o))
        shown = group->title();
    else if (auto *button = qobject_cast<QAbstractButton *>(o))
        shown = button->text();
    else if (auto *label = qobject_cast<QLabel *>(o))
        shown = label->text();
    QCOMPARE(shown, text);
}

void tst_MainWindow::rowOrder_data()
{
    QTest::addColumn<QStringList>("row");
    QTest::newRow("source") << QStringList { "pBtn_SourcePath", "lEdt_SourcePath",
                                             "cBox_OnlyFirstSheet" };
    QTest::newRow("output") << QStringList { "pBtn_SavePath", "lEdt_SavePath", "cBox_SaveAsUTF8",
                                             "pBtn_Transform" };
}

void tst_MainWindow::rowOrder()
{
    QFETCH(QStringList, row);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

    // Left to right on one line, inside the group box, with the field taking
    // the width that the others leave.
    QWidget *previous = nullptr;
    for (const QString &name : row) {
        QWidget *w = m_window->findChild<QWidget *>(name);
        QVERIFY2(w, qPrintable(name));
        QCOMPARE(w->parentWidget()->objectName(), QStringLiteral("groupBox_2"));
        QVERIFY(w->isVisible());
        if (previous) {
            QVERIFY2(w->geometry().left() > previous->geometry().right(), qPrintable(name));
            QVERIFY(w->geometry().center().y() - previous->geometry().center().y() <= 2);
        }
        previous = w;
    }
    // Extra width goes to the field alone.
    QList<int> widths;
    for (const QString &name : row)
        widths << m_window->findChild<QWidget *>(name)->width();
    m_window->resize(m_window->width() + 300, m_window->height());
    QTRY_COMPARE(m_window->findChild<QWidget *>(row.at(1))->width(), widths.at(1) + 300);
    for (int i = 0; i < row.size(); ++i) {
        if (i != 1)
            QCOMPARE(m_window->findChild<QWidget *>(row.at(i))->width(), widths.at(i));
    }
}

void tst_MainWindow::checkStatesAndFields()
{
    QVERIFY(child<QCheckBox>("cBox_OnlyFirstSheet")->isChecked());
    QVERIFY(!child<QCheckBox>("cBox_SaveAsUTF8")->isChecked());
    for (const char *name : { "lEdt_SourcePath", "lEdt_SavePath" }) {
        QVERIFY(!child<QLineEdit>(name)->isReadOnly());
        QVERIFY(child<QLineEdit>(name)->isEnabled());
    }
    QVERIFY(child<QPushButton>("pBtn_Transform")->isEnabled());
}

void tst_MainWindow::minimumSizes()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->resize(300, 200);
    QCoreApplication::processEvents();
    QTRY_VERIFY(m_window->size().width() <= 940);
    for (const char *name : { "pBtn_SourcePath", "pBtn_SavePath" }) {
        QCOMPARE(child<QPushButton>(name)->minimumWidth(), 150);
        QVERIFY(child<QPushButton>(name)->width() >= 150);
    }
    QCOMPARE(child<QLabel>("lb_ShowDisposing")->minimumHeight(), 30);
    QVERIFY(child<QLabel>("lb_ShowDisposing")->height() >= 30);
}

void tst_MainWindow::statusLabelIsRed()
{
    auto *label = child<QLabel>("lb_ShowDisposing");
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    // Also a text put there later is drawn in red.
    label->setText(QStringLiteral("/data/books/2019.xlsx"));
    const QImage image = label->grab().toImage();
    int red = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 80 && c.blue() < 80)
                ++red;
        }
    }
    QVERIFY2(red > 20, qPrintable(QString::number(red)));
    QCOMPARE(label->palette().color(QPalette::WindowText), QColor(255, 0, 0));
}

void tst_MainWindow::extraHeightGoesAboveStatusLabel()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    auto *group = child<QGroupBox>("groupBox_2");
    auto *label = child<QLabel>("lb_ShowDisposing");
    const int groupHeight = group->height();
    const int gap = label->geometry().top() - group->geometry().bottom();

    m_window->resize(940, 900);
    QTRY_COMPARE(m_window->height(), 900);
    const int grownGap = label->geometry().top() - group->geometry().bottom();
    // The spacer takes most of the extra height; the group box and the label
    // take a share each (they are Expanding) but far less than the spacer.
    QVERIFY2(grownGap - gap > (group->height() - groupHeight) * 3 / 2,
             qPrintable(QStringLiteral("gap %1 -> %2, group %3 -> %4")
                            .arg(gap)
                            .arg(grownGap)
                            .arg(groupHeight)
                            .arg(group->height())));
    QVERIFY(label->height() >= 30);
    QVERIFY(label->geometry().bottom() > group->geometry().bottom());
}

void tst_MainWindow::trayIcon()
{
    const auto trays = m_window->findChildren<QSystemTrayIcon *>();
    QCOMPARE(trays.size(), 1);
    QSystemTrayIcon *tray = trays.first();
    QCOMPARE(tray->metaObject()->className(), "SystemTray");
    QCOMPARE(tray->toolTip(), QStringLiteral("SheetDrain"));
    QVERIFY(tray->isVisible());
    QVERIFY(!tray->icon().isNull());
    QMenu *menu = tray->contextMenu();
    QVERIFY(menu);
    QStringList texts;
    for (QAction *a : menu->actions())
        texts << a->text();
    QCOMPARE(texts, (QStringList { QStringLiteral("软件设置"), QStringLiteral("退出程序") }));
}

void tst_MainWindow::trayBringsWindowBack_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("restores");
    QTest::newRow("click") << int(QSystemTrayIcon::Trigger) << true;
    QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << true;
    QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
    QTest::newRow("context") << int(QSystemTrayIcon::Context) << false;
    QTest::newRow("unknown") << int(QSystemTrayIcon::Unknown) << false;
    QTest::newRow("menu entry") << -1 << true;
}

void tst_MainWindow::trayBringsWindowBack()
{
    QFETCH(int, reason);
    QFETCH(bool, restores);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->resize(600, 300);
    m_window->showMinimized();
    QTRY_VERIFY(m_window->isMinimized());

    QSystemTrayIcon *tray = m_window->findChild<QSystemTrayIcon *>();
    if (reason < 0)
        tray->contextMenu()->actions().first()->trigger();
    else
        emit tray->activated(QSystemTrayIcon::ActivationReason(reason));

    if (restores) {
        QTRY_VERIFY(!m_window->isMinimized());
        QTRY_COMPARE(m_window->size(), QSize(940, 480));
    } else {
        QTest::qWait(50);
        QVERIFY(m_window->isMinimized());
    }
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
