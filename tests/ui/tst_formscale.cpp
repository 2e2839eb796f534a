// The window at larger text resolutions, set up the way the program sets up
// Qt's high-DPI scaling: the form's pixel geometry grows with the text, so
// that in both languages no button or box is narrower than its text and the
// fields keep their room. CTest runs it at several resolutions (QT_FONT_DPI)
// and says which device-pixel ratio and remaining scale to expect.

#include "formgeometry.h"
#include "mainwindow.h"
#include "programlanguage.h"
#include "programresources.h"
#include "windowtest.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTranslator>
#include <QtTest>

#include <memory>

namespace {

qreal expected(const char *name)
{
    const QByteArray value = qgetenv(name);
    return value.isEmpty() ? 1.0 : value.toDouble();
}

int scaled(int pixels, qreal factor)
{
    return qRound(pixels * factor);
}

void removeTranslators()
{
    for (QTranslator *t : qApp->findChildren<QTranslator *>()) {
        QCoreApplication::removeTranslator(t);
        delete t;
    }
}

} // namespace

class tst_FormScale : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void geometryFollowsText();
    void textsFit_data();
    void textsFit();

private:
    template<typename T> T *child(const char *name) const
    {
        return windowtest::child<T>(m_window.get(), name);
    }

    std::unique_ptr<MainWindow> m_window;
};

void tst_FormScale::initTestCase()
{
    initProgramResources();
    QCOMPARE(qApp->devicePixelRatio(), expected("SHEETDRAIN_EXPECTED_RATIO"));
}

void tst_FormScale::cleanup()
{
    m_window.reset();
    removeTranslators();
}

void tst_FormScale::geometryFollowsText()
{
    const qreal f = expected("SHEETDRAIN_EXPECTED_SCALE");
    m_window = std::make_unique<MainWindow>();
    QCOMPARE(remainingTextScale(m_window.get()), f);
    QCOMPARE(m_window->size(), QSize(scaled(940, f), scaled(480, f)));
    QCOMPARE(child<QWidget>("pBtn_SourcePath")->minimumWidth(), scaled(150, f));
    QCOMPARE(child<QWidget>("pBtn_SavePath")->minimumWidth(), scaled(150, f));
    QCOMPARE(child<QLabel>("lb_ShowDisposing")->minimumHeight(), scaled(30, f));
    QCOMPARE(child<QLabel>("lb_ShowDisposing")->maximumHeight(), 16777215);
    QCOMPARE(child<QBoxLayout>("verticalLayout_3")->spacing(), scaled(10, f));
    QCOMPARE(child<QBoxLayout>("verticalLayout_2")->contentsMargins(),
             QMargins(scaled(2, f), scaled(10, f), scaled(2, f), scaled(10, f)));
    QCOMPARE(child<QBoxLayout>("horizontalLayout_5")->spacing(), scaled(6, f));
    QCOMPARE(child<QBoxLayout>("horizontalLayout_5")->contentsMargins().top(), scaled(10, f));

    // Brought back from the tray at the grown size, too.
    m_window->resize(400, 300);
    m_window->ShowSoftWindow();
    QCOMPARE(m_window->size(), QSize(scaled(940, f), scaled(480, f)));
}

void tst_FormScale::textsFit_data()
{
    QTest::addColumn<bool>("english");
    QTest::newRow("Chinese") << false;
    QTest::newRow("English") << true;
}

void tst_FormScale::textsFit()
{
    QFETCH(bool, english);
    if (english)
        QCOMPARE(installProgramTranslations(qApp, QLocale(QStringLiteral("en_GB"))),
                 ProgramLanguage::English);
    m_window = std::make_unique<MainWindow>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QCOMPARE(child<QAbstractButton>("pBtn_Transform")->text(),
             english ? QStringLiteral("Convert") : QStringLiteral("转换"));

    for (const char *name : { "pBtn_SourcePath", "cBox_OnlyFirstSheet", "pBtn_SavePath",
                              "cBox_SaveAsUTF8", "pBtn_Transform" }) {
        auto *button = child<QAbstractButton>(name);
        QVERIFY2(button->width() >= button->sizeHint().width(),
                 qPrintable(QStringLiteral("%1: %2 < %3")
                                .arg(QLatin1String(name))
                                .arg(button->width())
                                .arg(button->sizeHint().width())));
        QVERIFY2(button->geometry().right() < child<QWidget>("groupBox_2")->width(), name);
    }
    // At 192 dpi without scaling the source field shrank to a sixth of
    // the window; it keeps at least a third.
    for (const char *name : { "lEdt_SourcePath", "lEdt_SavePath" })
        QVERIFY2(child<QLineEdit>(name)->width() >= m_window->width() / 3, name);
}

int main(int argc, char **argv)
{
    enableHighDpiScaling();
    QApplication app(argc, argv);
    tst_FormScale test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_formscale.moc"
