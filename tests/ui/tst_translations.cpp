// The program's languages: which one a user's locale gets, the English
// window and tray without a Chinese character left, Qt's own buttons in
// Chinese, and the translation sources complete for every text that the
// sources hold (lupdate run afresh finds nothing unfinished, and each
// translation keeps the placeholders of its source).

#include "mainwindow.h"
#include "programlanguage.h"
#include "programresources.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <QTreeWidget>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

bool hasChinese(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x3000)
            return true;
    }
    return false;
}

void removeTranslators()
{
    for (QTranslator *t : qApp->findChildren<QTranslator *>()) {
        QCoreApplication::removeTranslator(t);
        delete t;
    }
}

// Every text the user sees in the window and its tray icon.
QStringList windowTexts(MainWindow &window)
{
    QStringList texts;
    const auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    texts << tabs->tabText(0);
    for (const QGroupBox *group : window.findChildren<QGroupBox *>())
        texts << group->title();
    for (const QAbstractButton *button : window.findChildren<QAbstractButton *>()) {
        if (!button->text().isEmpty())
            texts << button->text();
    }
    for (const QLabel *label : window.findChildren<QLabel *>()) {
        if (!label->text().isEmpty()) // the progress, shown only while a batch runs
            texts << label->text();
    }
    // The list of failures, a dialog of the window.
    for (const QDialog *dialog : window.findChildren<QDialog *>())
        texts << dialog->windowTitle();
    for (const QTreeWidget *tree : window.findChildren<QTreeWidget *>()) {
        for (int i = 0; i < tree->columnCount(); ++i)
            texts << tree->headerItem()->text(i);
    }
    const auto *tray = window.findChild<QSystemTrayIcon *>();
    texts << tray->toolTip();
    for (const QAction *action : tray->contextMenu()->actions())
        texts << action->text();
    return texts;
}

QSet<QString> placeholders(const QString &text)
{
    static const QRegularExpression marker(QStringLiteral("%(n|L?[0-9]+)"));
    QSet<QString> found;
    auto it = marker.globalMatch(text);
    while (it.hasNext())
        found.insert(it.next().captured(0));
    return found;
}

} // namespace

class tst_Translations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void languageForLocale_data();
    void languageForLocale();
    void englishWindow();
    void qtButtonsInChinese();
    void sourcesComplete();
};

void tst_Translations::initTestCase()
{
    initProgramResources();
}

void tst_Translations::cleanup()
{
    removeTranslators();
}

void tst_Translations::languageForLocale_data()
{
    QTest::addColumn<QStringList>("uiLanguages");
    QTest::addColumn<bool>("chinese");
    QTest::newRow("zh_CN") << QStringList { "zh-CN", "zh-Hans-CN", "zh" } << true;
    QTest::newRow("zh_TW") << QStringList { "zh-TW", "zh-Hant-TW" } << true;
    QTest::newRow("bare zh") << QStringList { "zh" } << true;
    QTest::newRow("underscore form") << QStringList { "zh_SG" } << true;
    QTest::newRow("en_US") << QStringList { "en-US", "en" } << false;
    QTest::newRow("de_DE") << QStringList { "de-DE", "de" } << false;
    QTest::newRow("C locale") << QStringList { "C" } << false;
    QTest::newRow("nothing") << QStringList {} << false;
    // LANGUAGE lists preferences; the first one we have wins.
    QTest::newRow("de then zh") << QStringList { "de-DE", "de", "zh-CN" } << true;
    QTest::newRow("en then zh") << QStringList { "en-GB", "zh-CN" } << false;
    QTest::newRow("zh then en") << QStringList { "zh-CN", "en-GB" } << true;
    QTest::newRow("not a prefix") << QStringList { "zha", "eno" } << false;
}

void tst_Translations::languageForLocale()
{
    QFETCH(QStringList, uiLanguages);
    QFETCH(bool, chinese);
    QCOMPARE(programLanguageFor(uiLanguages),
             chinese ? ProgramLanguage::Chinese : ProgramLanguage::English);
}

void tst_Translations::englishWindow()
{
    QCOMPARE(installProgramTranslations(qApp, QLocale(QStringLiteral("fr_FR"))),
             ProgramLanguage::English);
    MainWindow window;
    const QStringList texts = windowTexts(window);
    QVERIFY(texts.contains(QStringLiteral("Convert")));
    for (const QString &text : texts)
        QVERIFY2(!text.isEmpty() && !hasChinese(text), qPrintable(text));

    // The refusal's box, too.
    QString boxText;
    QTimer closer;
    closer.setInterval(10);
    connect(&closer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            boxText = box->windowTitle() + QLatin1Char('|') + box->text();
            box->accept();
        }
    });
    closer.start();
    window.findChild<QAbstractButton *>(QStringLiteral("pBtn_Transform"))->click();
    QCOMPARE(boxText, QStringLiteral("Message:|The source folder does not exist!"));
}

void tst_Translations::qtButtonsInChinese()
{
    const QString catalogue = QLibraryInfo::location(QLibraryInfo::TranslationsPath)
        + QStringLiteral("/qtbase_zh_CN.qm");
    if (!QFile::exists(catalogue)) {
        if (qEnvironmentVariable("CI") == QLatin1String("true"))
            QFAIL("Qt's translations are missing (qttranslations5-l10n)");
        QSKIP("Qt's translations are not installed (qttranslations5-l10n)");
    }
    QCOMPARE(installProgramTranslations(qApp, QLocale(QStringLiteral("zh_CN"))),
             ProgramLanguage::Chinese);
    QMessageBox box;
    QCOMPARE(box.addButton(QMessageBox::Ok)->text(), QStringLiteral("确定"));
    QCOMPARE(box.addButton(QMessageBox::Cancel)->text(), QStringLiteral("取消"));
    // The program's own texts stay as the sources write them.
    MainWindow window;
    QVERIFY(windowTexts(window).contains(QStringLiteral("转换")));
}

void tst_Translations::sourcesComplete()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const QString &ts : QStringLiteral(SHEETDRAIN_TS_FILES).split(QLatin1Char('|'))) {
        const QString copy = dir.filePath(QFileInfo(ts).fileName());
        QVERIFY(QFile::copy(ts, copy));
        QProcess lupdate;
        QStringList args { QStringLiteral("-silent"), QStringLiteral("-locations"),
                           QStringLiteral("none"), QStringLiteral("-source-language"),
                           QStringLiteral("zh_CN") };
        args << QStringLiteral(SHEETDRAIN_TEXT_FOLDERS).split(QLatin1Char('|'));
        args << QStringLiteral("-ts") << copy;
        lupdate.start(QStringLiteral(SHEETDRAIN_LUPDATE), args);
        QVERIFY(lupdate.waitForFinished(60000));
        QCOMPARE(lupdate.exitCode(), 0);

        QFile file(copy);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QString source;
        QStringList problems;
        int messages = 0;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("source")) {
                source = xml.readElementText();
            } else if (xml.name() == QLatin1String("translation")) {
                ++messages;
                const QString type = xml.attributes().value(QLatin1String("type")).toString();
                const QString text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                if (!type.isEmpty())
                    problems << type + QStringLiteral(": ") + source;
                else if (placeholders(text) != placeholders(source))
                    problems << QStringLiteral("placeholders differ: ") + source;
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QVERIFY(messages > 0);
        QVERIFY2(problems.isEmpty(), qPrintable(ts + QLatin1Char('\n') + problems.join('\n')));
    }
}

QTEST_MAIN(tst_Translations)
#include "tst_translations.moc"
