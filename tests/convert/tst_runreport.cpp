// The --report file's records and strings: every text survives as valid
// JSON, and each failure lands on the record of the workbook it belongs to.

#include "runreport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

class TestRunReport : public QObject
{
    Q_OBJECT

private slots:
    void jsonStringRoundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << QStringLiteral("/in/a.xlsx");
        QTest::newRow("empty") << QString();
        QTest::newRow("quote and backslash") << QStringLiteral("a\"b\\c\\\"");
        QTest::newRow("line ends and tab") << QStringLiteral("new\nline\r\tx");
        QTest::newRow("other controls") << QString::fromUtf8("\x01\x1f\x7f\x08\x0c", 5);
        QTest::newRow("NUL") << QString(QChar(0));
        QTest::newRow("Chinese") << QStringLiteral("报表/第二页");
        QTest::newRow("astral") << QString::fromUtf8("\xF0\x9F\x93\x8A.xlsx");
        QTest::newRow("line separator") << QString(QChar(0x2028));
    }

    void jsonStringRoundTrip()
    {
        QFETCH(QString, text);
        const QByteArray json = ("[" + jsonString(text) + "]").toUtf8();
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
        QVERIFY2(error.error == QJsonParseError::NoError, json.constData());
        QCOMPARE(doc.array().at(0).toString(), text);
        QVERIFY(!json.contains('\n'));
    }

    // A walk problem, a converted workbook whose CSV file then failed its
    // re-encoding, a workbook that failed, and one cut short by a stop.
    void failuresFindTheirWorkbook()
    {
        RunReport report;
        report.failure("/in/locked", "cannot be read: Permission denied");
        report.workbookStarted("/in/a.xlsx");
        report.workbookDone("/in/a.xlsx", true, { "/out/a(S1).csv", "/out/a(S2).csv" });
        report.workbookStarted("/in/b.xlsx");
        report.failure("/in/b.xlsx", "worksheet 2: bad record");
        report.failure("/in/b.xlsx", "worksheet 3: bad record");
        report.workbookDone("/in/b.xlsx", false, { "/out/b(S1).csv" });
        report.workbookStarted("/in/c.xlsx");
        report.failure("/out/a(S2).csv", "not re-encoded as UTF-8: full disk");
        report.runCutShort(QString());

        QStringList lines;
        for (const QByteArray &line : report.jsonLines().split('\n')) {
            if (!line.isEmpty())
                lines << QString::fromUtf8(line);
        }
        QCOMPARE(lines,
                 QStringList(
                     { "{\"path\":\"/in/locked\",\"status\":\"failed\",\"reason\":\"cannot be "
                       "read: Permission denied\",\"csv\":[]}",
                       "{\"path\":\"/in/a.xlsx\",\"status\":\"failed\",\"reason\":\"/out/"
                       "a(S2).csv: not re-encoded as UTF-8: full disk\",\"csv\":[\"/out/"
                       "a(S1).csv\",\"/out/a(S2).csv\"]}",
                       "{\"path\":\"/in/b.xlsx\",\"status\":\"failed\",\"reason\":\"worksheet "
                       "2: bad record; worksheet 3: bad record\",\"csv\":[\"/out/b(S1).csv\"]}",
                       "{\"path\":\"/in/c.xlsx\",\"status\":\"stopped\",\"reason\":\"\",\"csv\":[]"
                       "}" }));
    }

    // A run that could not go on fails the workbook it was at, with the reason.
    void cutShortWithReason()
    {
        RunReport report;
        report.workbookStarted("/in/a.xlsx");
        report.runCutShort("no application");
        QCOMPARE(report.jsonLines(),
                 QByteArray("{\"path\":\"/in/a.xlsx\",\"status\":\"failed\",\"reason\":\"no "
                            "application\",\"csv\":[]}\n"));
    }
};

QTEST_GUILESS_MAIN(TestRunReport)
#include "tst_runreport.moc"
