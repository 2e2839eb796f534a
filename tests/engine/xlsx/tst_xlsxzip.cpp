// The zip container: every layout the reader must accept, every damage it
// must refuse with a clear error instead of reading garbage.

#include "zipbuilder.h"

#include "io/limits.h"
#include "io/zip.h"

#include <QtTest>

using namespace sd;
using sdtest::ZipItem;

Q_DECLARE_METATYPE(std::string)
Q_DECLARE_METATYPE(sd::ErrorCode)

namespace {

const std::string kText = [] {
    std::string s;
    for (int i = 0; i < 2000; ++i)
        s += "<row r=\"" + std::to_string(i) + "\"><c><v>" + std::to_string(i * 7)
            + "</v></c></row>";
    return s;
}();

// Opens bytes, extracts every entry whole and streamed (in chunks of 1-5
// bytes), and returns the first error; out gets entry "a.xml".
Error readAll(const std::string &bytes, std::string *out = nullptr)
{
    ZipArchive zip;
    if (Error e = zip.openMemory(bytes.data(), bytes.size()))
        return e;
    for (const ZipEntry &entry : zip.entries()) {
        std::string whole;
        if (Error e = zip.extract(entry, whole))
            return e;
        Error e;
        auto stream = zip.open(entry, &e);
        if (!stream)
            return e;
        std::string streamed;
        char buf[5];
        for (size_t step = 1;; step = step % 5 + 1) {
            size_t got = 0;
            if ((e = stream->read(buf, step, &got)))
                return e;
            if (got == 0)
                break;
            streamed.append(buf, got);
        }
        if (streamed != whole)
            return Error(ErrorCode::Corrupt, entry.name, "streamed and whole reads differ");
        if (out && entry.name == "a.xml")
            *out = whole;
    }
    return {};
}

void patch32(std::string &s, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + size_t(i)] = char(v >> (8 * i) & 0xFF);
}

} // namespace

class TestXlsxZip : public QObject
{
    Q_OBJECT
private slots:
    void layouts_data();
    void layouts();
    void damaged_data();
    void damaged();
    void partNamesIgnoreCaseAndSlashes();
    void workbookInflationCap();
};

void TestXlsxZip::layouts_data()
{
    QTest::addColumn<bool>("deflate");
    QTest::addColumn<bool>("zip64");
    QTest::addColumn<bool>("descriptor");
    QTest::addColumn<bool>("zip64End");
    QTest::newRow("stored") << false << false << false << false;
    QTest::newRow("deflated") << true << false << false << false;
    QTest::newRow("zip64 extra, stored") << false << true << false << false;
    QTest::newRow("zip64 extra, deflated") << true << true << false << false;
    QTest::newRow("zip64 end record") << true << false << false << true;
    QTest::newRow("data descriptor") << true << false << true << false;
    QTest::newRow("everything") << true << true << true << true;
}

void TestXlsxZip::layouts()
{
    QFETCH(bool, deflate);
    QFETCH(bool, zip64);
    QFETCH(bool, descriptor);
    QFETCH(bool, zip64End);
    ZipItem a { "a.xml", kText, deflate, zip64, descriptor };
    ZipItem empty { "empty.xml", "", deflate, zip64, descriptor };
    ZipItem b { "dir/b.xml", "<x/>", deflate, false, false };
    std::string out;
    const Error e = readAll(sdtest::buildZip({ a, empty, b }, zip64End).bytes, &out);
    QVERIFY2(!e, e.description().c_str());
    QVERIFY(out == kText);
}

void TestXlsxZip::damaged_data()
{
    QTest::addColumn<std::string>("bytes");
    QTest::addColumn<sd::ErrorCode>("code");
    QTest::addColumn<QString>("detail");

    const std::vector<ZipItem> two { { "a.xml", kText }, { "b.xml", kText } };
    const sdtest::BuiltZip good = sdtest::buildZip(two);

    QTest::newRow("not a zip") << std::string(200, 'x') << ErrorCode::NotAWorkbook
                               << "no zip directory";
    QTest::newRow("too short") << std::string("PK\3\4") << ErrorCode::NotAWorkbook << "too short";
    QTest::newRow("empty package")
        << sdtest::buildZip({}).bytes << ErrorCode::NotAWorkbook << "empty zip";
    QTest::newRow("cut at the end") << good.bytes.substr(0, good.bytes.size() - 10)
                                    << ErrorCode::NotAWorkbook << "no zip directory";
    {
        // The directory survives but the data before it is cut short.
        std::string cut = good.bytes;
        cut.erase(good.localOffsets[1] + 40, 200);
        QTest::newRow("cut in the middle") << cut << ErrorCode::Corrupt << "";
    }
    {
        std::string overlap = good.bytes;
        patch32(overlap, good.centralOffsets[1] + 42, uint32_t(good.localOffsets[0]));
        QTest::newRow("overlapping entries") << overlap << ErrorCode::Corrupt << "overlapping";
    }
    QTest::newRow("duplicate names")
        << sdtest::buildZip({ { "a.xml", "1" }, { "A.XML", "2" } }).bytes << ErrorCode::Corrupt
        << "duplicate";
    {
        // 8 MB of zeros deflate about 1000:1, past the ratio cap.
        const std::string zeros(8 << 20, '\0');
        QTest::newRow("bomb ratio") << sdtest::buildZip({ { "a.xml", zeros } }).bytes
                                    << ErrorCode::TooLarge << "compression ratio";
    }
    {
        std::string lying = good.bytes;
        patch32(lying, good.centralOffsets[0] + 24, uint32_t(kText.size() - 100));
        QTest::newRow("longer than recorded") << lying << ErrorCode::Corrupt << "longer than";
    }
    {
        std::string lying = good.bytes;
        patch32(lying, good.centralOffsets[0] + 24, uint32_t(kText.size() + 100));
        QTest::newRow("shorter than recorded") << lying << ErrorCode::Corrupt << "shorter than";
    }
    {
        sdtest::BuiltZip stored = sdtest::buildZip({ { "a.xml", kText, false } });
        stored.bytes[stored.localOffsets[0] + 30 + 5 + 100] ^= 1;
        QTest::newRow("crc mismatch") << stored.bytes << ErrorCode::Corrupt << "CRC";
    }
    {
        std::string bad = good.bytes;
        const size_t data = good.localOffsets[0] + 30 + 5;
        for (size_t i = 0; i < 64; ++i)
            bad[data + i] = char(0xFF);
        QTest::newRow("bad deflate data") << bad << ErrorCode::Corrupt << "";
    }
    {
        std::string method = good.bytes;
        method[good.centralOffsets[0] + 10] = 14; // LZMA
        QTest::newRow("unknown method") << method << ErrorCode::Unsupported << "method 14";
    }
}

void TestXlsxZip::damaged()
{
    QFETCH(std::string, bytes);
    QFETCH(sd::ErrorCode, code);
    QFETCH(QString, detail);
    const Error e = readAll(bytes);
    QVERIFY2(e, "damage went unnoticed");
    QCOMPARE(int(e.code), int(code));
    QVERIFY2(QString::fromStdString(e.detail).contains(detail), e.description().c_str());
}

void TestXlsxZip::partNamesIgnoreCaseAndSlashes()
{
    const std::string bytes
        = sdtest::buildZip({ { "xl\\Workbook.XML", "w" }, { "[Content_Types].xml", "c" } }).bytes;
    ZipArchive zip;
    QVERIFY(!zip.openMemory(bytes.data(), bytes.size()));
    QVERIFY(zip.find("xl/workbook.xml"));
    QVERIFY(zip.find("/XL/WORKBOOK.xml"));
    QVERIFY(zip.find("[content_types].xml"));
    QVERIFY(!zip.find("xl/workbook.xm"));
}

void TestXlsxZip::workbookInflationCap()
{
    // Streams are counted against the per-workbook cap as they inflate.
    const std::string bytes = sdtest::buildZip({ { "a.xml", "12345", false } }).bytes;
    ZipArchive zip;
    QVERIFY(!zip.openMemory(bytes.data(), bytes.size()));
    QVERIFY(!zip.account(kMaxWorkbookInflated - 5, zip.entries()[0]));
    std::string out;
    QVERIFY(!zip.extract(zip.entries()[0], out));
    const Error e = zip.extract(zip.entries()[0], out);
    QCOMPARE(int(e.code), int(ErrorCode::TooLarge));
}

QTEST_GUILESS_MAIN(TestXlsxZip)
#include "tst_xlsxzip.moc"
