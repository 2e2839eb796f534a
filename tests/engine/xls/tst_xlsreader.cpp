// The .xls reader on files built in the test: compound-file structure and
// damage, BIFF8/BIFF5/BIFF2 records, string tables split by CONTINUE, code
// pages, encryption and files that are not workbooks.
#include "../crypto/officeencryptor.h"
#include "biffbuilder.h"
#include "sheetcells.h"

#include "crypto/biffcrypt.h"
#include "io/cfb.h"
#include "xls/xlsreader.h"

#include <QTextCodec>
#include <QtTest>

using namespace biffbuilder;

namespace {

constexpr int kBiff8 = 0x0600;
constexpr int kBiff5 = 0x0500;

// "A1=n:1 B1=s:foo ..." for every cell of sheet `index`, or "error: ..." .
QString describeSheet(sd::Workbook &book, int index)
{
    sd::Error error;
    const sd::Sheet *sheet = book.sheet(index, &error);
    if (!sheet)
        return QStringLiteral("error: ") + QString::fromStdString(error.description());
    QStringList parts;
    for (const sd::Cell &c : cellsWithExtent(*sheet)) {
        QString ref = QString(QChar('A' + int(c.col % 26))) + QString::number(c.row + 1);
        if (c.col >= 26)
            ref = QStringLiteral("C%1R%2").arg(c.col + 1).arg(c.row + 1);
        QString value;
        switch (c.type) {
        case sd::CellType::Blank:
            value = QStringLiteral("b");
            break;
        case sd::CellType::Number:
            value = QStringLiteral("n:") + QString::number(c.number, 'g', 17);
            break;
        case sd::CellType::Text:
            value = QStringLiteral("s:") + QString::fromStdString(book.strings[c.text]);
            break;
        case sd::CellType::Bool:
            value = QStringLiteral("l:") + QString::number(c.number);
            break;
        case sd::CellType::Error:
            value
                = QStringLiteral("e:") + QString::fromLatin1(sd::cellErrorText(uint8_t(c.number)));
            break;
        }
        parts << ref + QLatin1Char('=') + value;
    }
    return parts.join(QLatin1Char(' '));
}

std::unique_ptr<sd::Workbook> openBytes(const QByteArray &bytes, sd::Error *error)
{
    return sd::openXlsMemory(reinterpret_cast<const uint8_t *>(bytes.constData()),
                             size_t(bytes.size()), "test.xls", error);
}

QByteArray biff8Book(const QByteArray &globals, const QByteArray &sheetBody)
{
    const QByteArray stream
        = workbookStream(kBiff8, globals, { SheetSpec { "Sheet1", sheetBody } });
    return buildCfb({ { QStringLiteral("Workbook"), stream } }).bytes;
}

QByteArray sst(const QByteArray &strings, int count)
{
    return u32(count) + u32(count) + strings;
}

} // namespace

class TestXlsReader : public QObject
{
    Q_OBJECT

private slots:
    void compoundFile_data();
    void compoundFile();
    void damagedCompoundFile_data();
    void damagedCompoundFile();
    void reopenedCompoundFile();
    void tolerantCompoundFile_data();
    void tolerantCompoundFile();
    void cells_data();
    void cells();
    void sharedStrings_data();
    void sharedStrings();
    void failures_data();
    void failures();
    void encrypted_data();
    void encrypted();
    void sheetList();
    void formattedRowsAndColumns_data();
    void formattedRowsAndColumns();
    void gbkBiff5();
    void bareBiff2();
    void biff5NoteContinued();
};

void TestXlsReader::compoundFile_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QString>("streamName");
    QTest::addColumn<int>(
        "padding"); // bytes of filler records: small streams live in the mini stream

    QTest::newRow("v3 mini stream") << 3 << "Workbook" << 0;
    QTest::newRow("v3 regular stream") << 3 << "Workbook" << 9000;
    QTest::newRow("v4 4096-byte sectors") << 4 << "Workbook" << 20000;
    QTest::newRow("upper-case WORKBOOK") << 3 << "WORKBOOK" << 0;
    QTest::newRow("BIFF5 name Book") << 3 << "Book" << 5000;
    QTest::newRow("upper-case BOOK") << 3 << "BOOK" << 0;
}

void TestXlsReader::compoundFile()
{
    QFETCH(int, version);
    QFETCH(QString, streamName);
    QFETCH(int, padding);
    QByteArray filler;
    while (filler.size() < padding)
        filler += rec(0x0055, u16(8)); // DEFCOLWIDTH, ignored
    const QByteArray stream
        = workbookStream(kBiff8, filler, { SheetSpec { "S", rec(0x0203, rcx(2, 1) + f64(2.5)) } });
    const Cfb cfb = buildCfb(
        { { QStringLiteral("Other"), QByteArray(100, 'x') }, { streamName, stream } }, version);
    sd::Error error;
    auto book = openBytes(cfb.bytes, &error);
    QVERIFY2(book, error.description().c_str());
    QCOMPARE(describeSheet(*book, 0), QStringLiteral("B3=n:2.5"));
}

void TestXlsReader::damagedCompoundFile_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("detail");

    QTest::newRow("looping stream chain") << "loop" << int(sd::ErrorCode::Corrupt) << "loops";
    QTest::newRow("chain to a sector past the end")
        << "outside" << int(sd::ErrorCode::Corrupt) << "outside";
    QTest::newRow("truncated file") << "truncate" << int(sd::ErrorCode::Corrupt) << "";
    QTest::newRow("FAT larger than the file")
        << "fatcount" << int(sd::ErrorCode::Corrupt) << "allocation table";
    QTest::newRow("directory sibling cycle")
        << "dircycle" << int(sd::ErrorCode::Corrupt) << "sibling";
    QTest::newRow("stream larger than the file")
        << "size" << int(sd::ErrorCode::Corrupt) << "exceeds";
    QTest::newRow("short header") << "header" << int(sd::ErrorCode::Corrupt) << "too short";
    QTest::newRow("no workbook stream")
        << "nostream" << int(sd::ErrorCode::NotAWorkbook) << "Workbook";
}

void TestXlsReader::damagedCompoundFile()
{
    QFETCH(QString, damage);
    QFETCH(int, code);
    QFETCH(QString, detail);
    QByteArray big;
    while (big.size() < 6000)
        big += rec(0x0055, u16(8));
    const QByteArray stream
        = workbookStream(kBiff8, big, { SheetSpec { "S", rec(0x0203, rcx(0, 0) + f64(1)) } });
    Cfb cfb = buildCfb({ { damage == QLatin1String("nostream") ? QStringLiteral("Data")
                                                               : QStringLiteral("Workbook"),
                           stream } });
    QByteArray &b = cfb.bytes;
    const quint32 first = cfb.streamFirstSector.value(0);
    const int dirOffset = 512 * 2; // FAT sector 0, directory sector 1
    if (damage == QLatin1String("loop")) {
        b.replace(int(cfb.fatEntryOffset(first + 3)), 4, u32(first + 1));
    } else if (damage == QLatin1String("outside")) {
        b.replace(int(cfb.fatEntryOffset(first + 2)), 4, u32(0x00FFFFFF));
    } else if (damage == QLatin1String("truncate")) {
        b.truncate(b.size() - 3000);
    } else if (damage == QLatin1String("fatcount")) {
        b.replace(44, 4, u32(0x00800001));
    } else if (damage == QLatin1String("dircycle")) {
        b.replace(dirOffset + 128 + 72, 4, u32(1)); // the stream entry is its own right sibling
    } else if (damage == QLatin1String("size")) {
        b.replace(dirOffset + 128 + 120, 4, u32(0x7FFFFFFF));
    } else if (damage == QLatin1String("header")) {
        b.truncate(300);
    }
    sd::Error error;
    auto book = openBytes(b, &error);
    QVERIFY(!book);
    QCOMPARE(int(error.code), code);
    QVERIFY2(QString::fromStdString(error.description()).contains(detail),
             error.description().c_str());
}

// A compound file object opened again forgets the previous file's mini
// stream: a small stream of a file without one is an error, not a read of
// the old file's sectors.
void TestXlsReader::reopenedCompoundFile()
{
    const QByteArray stream
        = workbookStream(kBiff8, {}, { SheetSpec { "S", rec(0x0203, rcx(0, 0) + f64(1)) } });
    const QByteArray withMini = buildCfb({ { QStringLiteral("Workbook"), stream } }).bytes;
    QByteArray noMini = withMini;
    noMini.replace(512 * 2 + 120, 4,
                   u32(0)); // the root entry (directory sector 1) holds no mini stream
    sd::CompoundFile cfb;
    QVERIFY(!cfb.open(reinterpret_cast<const uint8_t *>(withMini.constData()),
                      size_t(withMini.size())));
    QVERIFY(
        !cfb.open(reinterpret_cast<const uint8_t *>(noMini.constData()), size_t(noMini.size())));
    const int index = cfb.findRootEntry("Workbook");
    QVERIFY(index >= 0);
    std::vector<uint8_t> out;
    const sd::Error error = cfb.readStream(cfb.rootEntries()[size_t(index)], out);
    QCOMPARE(int(error.code), int(sd::ErrorCode::Corrupt));
    QVERIFY2(QString::fromStdString(error.description()).contains("mini stream"),
             error.description().c_str());
}

// Damage that other readers overlook: the file ends inside its last sector
// (the missing bytes read as zeros), the root entry's size ends before mini
// sectors in use, a FAT sector lies outside the file. Only bytes a stream
// needs from a sector wholly outside the file are an error.
void TestXlsReader::tolerantCompoundFile_data()
{
    QTest::addColumn<int>("streamSize");
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("zeroTail"); // bytes at the end that must read as 0; -1: an error
    QTest::newRow("regular stream, last sector short") << 5000 << "cut412" << 292;
    QTest::newRow("regular stream, padding cut") << 5000 << "cut120" << 0;
    QTest::newRow("mini stream, host sector short") << 1000 << "cut124" << 100;
    QTest::newRow("root entry shorter than its chain") << 1000 << "rootsize" << 0;
    QTest::newRow("FAT sector outside the file") << 5000 << "fatoutside" << 0;
    QTest::newRow("needed sectors outside the file") << 5000 << "cut1024" << -1;
}

void TestXlsReader::tolerantCompoundFile()
{
    QFETCH(int, streamSize);
    QFETCH(QString, damage);
    QFETCH(int, zeroTail);
    QByteArray data(streamSize, '\0');
    for (int i = 0; i < streamSize; ++i)
        data[i] = char(i % 251 + 1);
    QByteArray b = buildCfb({ { QStringLiteral("Data"), data } }).bytes;
    const int dirOffset = 512 * 2; // FAT sector 0, directory sector 1
    if (damage.startsWith(QLatin1String("cut"))) {
        b.chop(damage.mid(3).toInt());
    } else if (damage == QLatin1String("rootsize")) {
        b.replace(dirOffset + 120, 4, u32(512)); // the chain holds 1024 bytes
    } else if (damage == QLatin1String("fatoutside")) {
        b.replace(44, 4, u32(2)); // a second FAT sector, past the end
        b.replace(76 + 4, 4, u32(5000));
    }
    sd::CompoundFile cfb;
    sd::Error error = cfb.open(reinterpret_cast<const uint8_t *>(b.constData()), size_t(b.size()));
    QVERIFY2(!error, error.description().c_str());
    const int index = cfb.findRootEntry("Data");
    QVERIFY(index >= 0);
    std::vector<uint8_t> out;
    error = cfb.readStream(cfb.rootEntries()[size_t(index)], out);
    if (zeroTail < 0) {
        QCOMPARE(int(error.code), int(sd::ErrorCode::Corrupt));
        QVERIFY2(QString::fromStdString(error.description()).contains("outside the file"),
                 error.description().c_str());
        return;
    }
    QVERIFY2(!error, error.description().c_str());
    QCOMPARE(int(out.size()), streamSize);
    const int kept = streamSize - zeroTail;
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(out.data()), kept), data.left(kept));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(out.data()) + kept, zeroTail),
             QByteArray(zeroTail, '\0'));
}

void TestXlsReader::cells_data()
{
    QTest::addColumn<QByteArray>("globals");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");

    QTest::newRow("NUMBER") << QByteArray() << rec(0x0203, rcx(0, 0) + f64(-1.25)) << "A1=n:-1.25";
    // RK: bit 1 = 30-bit integer, bit 0 = divide by 100, else the top bits of a double.
    QTest::newRow("RK integer") << QByteArray() << rec(0x027E, rcx(0, 0) + u32((123 << 2) | 2))
                                << "A1=n:123";
    QTest::newRow("RK negative integer")
        << QByteArray() << rec(0x027E, rcx(0, 0) + u32((quint32(-5) << 2) | 2)) << "A1=n:-5";
    QTest::newRow("RK integer / 100")
        << QByteArray() << rec(0x027E, rcx(0, 0) + u32((1234 << 2) | 3)) << "A1=n:12.34";
    QTest::newRow("RK double") << QByteArray() << rec(0x027E, rcx(0, 0) + u32(0x3FF80000))
                               << "A1=n:1.5";
    QTest::newRow("RK double / 100")
        << QByteArray() << rec(0x027E, rcx(0, 0) + u32(0x40590001)) << "A1=n:1";
    QTest::newRow("MULRK") << QByteArray()
                           << rec(0x00BD,
                                  u16(1) + u16(1) + u16(0) + u32((7 << 2) | 2) + u16(0)
                                      + u32(0x3FF80000) + u16(0) + u32((250 << 2) | 3) + u16(3))
                           << "B2=n:7 C2=n:1.5 D2=n:2.5";
    QTest::newRow("BLANK and MULBLANK are cells")
        << QByteArray()
        << rec(0x0201, rcx(0, 0, 15)) + rec(0x00BE, u16(2) + u16(1) + u16(15) + u16(16) + u16(2))
        << "A1=b B3=b C3=b";
    QTest::newRow("BOOLERR") << QByteArray()
                             << rec(0x0205, rcx(0, 0) + u8(1) + u8(0))
            + rec(0x0205, rcx(0, 1) + u8(0x07) + u8(1))
                             << "A1=l:1 B1=e:#DIV/0!";
    QTest::newRow("LABEL BIFF8 Unicode")
        << QByteArray()
        << rec(0x0204, rcx(0, 0) + xlString(QStringLiteral("Gr\u00fc\u00df \u4e2d")))
        << QString::fromUtf8("A1=s:Grüß 中");
    QTest::newRow("FORMULA number")
        << QByteArray() << rec(0x0006, rcx(0, 0) + f64(42) + u16(0) + u32(0) + u16(0)) << "A1=n:42";
    QTest::newRow("FORMULA string with STRING")
        << QByteArray()
        << rec(0x0006,
               rcx(0, 0) + u8(0) + QByteArray(5, '\0') + u16(0xFFFF) + u16(0) + u32(0) + u16(0))
            + rec(0x04BC, QByteArray(10, '\0')) + rec(0x0207, xlString(QStringLiteral("result")))
        << "A1=s:result";
    QTest::newRow("STRING continued")
        << QByteArray()
        << rec(0x0006,
               rcx(0, 0) + u8(0) + QByteArray(5, '\0') + u16(0xFFFF) + u16(0) + u32(0) + u16(0))
            + rec(0x0207, u16(6) + u8(0) + "abc")
            + rec(0x003C, u8(1) + u16('d') + u16('e') + u16(0x20AC))
        << QString::fromUtf8("A1=s:abcde€");
    QTest::newRow("FORMULA bool, error, empty")
        << QByteArray()
        << rec(0x0006,
               rcx(0, 0) + u8(1) + u8(0) + u8(1) + QByteArray(3, '\0') + u16(0xFFFF) + u16(0)
                   + u32(0))
            + rec(0x0006,
                  rcx(0, 1) + u8(2) + u8(0) + u8(0x2A) + QByteArray(3, '\0') + u16(0xFFFF) + u16(0)
                      + u32(0))
            + rec(0x0006, rcx(0, 2) + u8(3) + QByteArray(5, '\0') + u16(0xFFFF) + u16(0) + u32(0))
        << "A1=l:1 B1=e:#N/A C1=s:";
    QTest::newRow("embedded chart substream skipped") << QByteArray()
                                                      << rec(0x0203, rcx(0, 0) + f64(1))
            + bof(kBiff8, 0x0020) + rec(0x0203, rcx(9, 9) + f64(9)) + eof()
            + rec(0x0203, rcx(1, 0) + f64(2)) << "A1=n:1 A2=n:2";
    QTest::newRow("later record of a cell wins")
        << QByteArray() << rec(0x0203, rcx(0, 0) + f64(1)) + rec(0x0203, rcx(0, 0) + f64(2))
        << "A1=n:2";
    QTest::newRow("merged area widens the used range")
        << QByteArray()
        << rec(0x0203, rcx(0, 0) + f64(1)) + rec(0x00E5, u16(1) + u16(0) + u16(3) + u16(0) + u16(2))
        << "A1=n:1 C4=b";
    QTest::newRow("DIMENSIONS does not make cells")
        << QByteArray()
        << rec(0x0200, u32(0) + u32(50) + u16(0) + u16(20) + u16(0))
            + rec(0x0203, rcx(1, 1) + f64(1))
        << "B2=n:1";
}

void TestXlsReader::cells()
{
    QFETCH(QByteArray, globals);
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    sd::Error error;
    auto book = openBytes(biff8Book(globals, body), &error);
    QVERIFY2(book, error.description().c_str());
    QCOMPARE(describeSheet(*book, 0), expected);
}

void TestXlsReader::sharedStrings_data()
{
    QTest::addColumn<QByteArray>("records");
    QTest::addColumn<QString>("expected");

    const QByteArray one = u16(3) + u8(0) + "one";
    QTest::newRow("single record")
        << rec(0x00FC, sst(one + u16(3) + u8(0) + "two", 2)) << "one|two";
    // The split falls inside a string: the CONTINUE starts with a new flag
    // byte, here switching from 8-bit to 16-bit characters.
    QTest::newRow("split inside a string, flag changes")
        << rec(0x00FC, sst(one + u16(5) + u8(0) + "ab", 2))
            + rec(0x003C, u8(1) + u16('c') + u16(0x0416) + u16('e'))
        << QString::fromUtf8("one|abcЖe");
    QTest::newRow("split inside a 16-bit string, back to 8-bit")
        << rec(0x00FC, sst(u16(4) + u8(1) + u16(0x0416) + u16('x'), 1)) + rec(0x003C, u8(0) + "yz")
        << QString::fromUtf8("Жxyz");
    QTest::newRow("split between strings: no flag byte")
        << rec(0x00FC, sst(one, 2)) + rec(0x003C, u16(3) + u8(0) + "two") << "one|two";
    // Rich-text runs and phonetic data are skipped, also across a boundary.
    QTest::newRow("rich text and phonetic skipped")
        << rec(0x00FC, sst(u16(2) + u8(0x0C) + u16(2) + u32(6) + "hi" + u32(0x00010000), 2))
            + rec(0x003C, u32(0x00020003) + QByteArray(6, 'P') + one)
        << "hi|one";
    QTest::newRow("unique count too small") << rec(0x00FC, sst(one + one, 1)) << "one|one";
    QTest::newRow("unique count too large") << rec(0x00FC, sst(one, 5000000)) << "one";
}

void TestXlsReader::sharedStrings()
{
    QFETCH(QByteArray, records);
    QFETCH(QString, expected);
    const QStringList strings = expected.split(QLatin1Char('|'));
    QByteArray body;
    for (int i = 0; i < strings.size(); ++i)
        body += rec(0x00FD, rcx(i, 0) + u32(quint32(i)));
    sd::Error error;
    auto book = openBytes(biff8Book(records, body), &error);
    QVERIFY2(book, error.description().c_str());
    QStringList cells;
    for (int i = 0; i < strings.size(); ++i)
        cells << QStringLiteral("A%1=s:%2").arg(i + 1).arg(strings[i]);
    QCOMPARE(describeSheet(*book, 0), cells.join(QLatin1Char(' ')));
}

void TestXlsReader::encrypted_data()
{
    QTest::addColumn<QByteArray>("filePass");
    QTest::addColumn<QString>("password"); // the one it was encrypted with
    QTest::addColumn<QStringList>("given");
    QTest::addColumn<QString>("expected"); // the sheet, or the error's description
    const QString def = QString::fromStdU16String(sd::crypto::kDefaultPassword);
    const QString sheet = QStringLiteral("A1=n:1.5 B1=s:clear text");
    QTest::newRow("RC4, the default password")
        << officeencryptor::rc4FilePass(sd::crypto::kDefaultPassword) << def << QStringList()
        << sheet;
    QTest::newRow("RC4 CryptoAPI, the second password given")
        << officeencryptor::rc4FilePass(u"pw", 128) << "pw" << QStringList { "x", "pw" } << sheet;
    QTest::newRow("RC4 CryptoAPI, no password fits")
        << officeencryptor::rc4FilePass(u"pw", 40) << "pw" << QStringList { "PW" }
        << "password needed: RC4 CryptoAPI (record 0x002F (FILEPASS) at 0x14)";
}

// A workbook encrypted after FILEPASS (RC4 is its own inverse, so the
// decryptor encrypts): the shared strings in the globals and the cells of
// the sheet come back.
void TestXlsReader::encrypted()
{
    QFETCH(QByteArray, filePass);
    QFETCH(QString, password);
    QFETCH(QStringList, given);
    const QByteArray head = bof(kBiff8, 0x0005) + rec(0x002F, filePass);
    QByteArray stream = workbookStream(
        kBiff8, rec(0x002F, filePass) + rec(0x00FC, sst(xlString("clear text"), 1)),
        { SheetSpec { "Sheet1",
                      rec(0x0203, rcx(0, 0) + f64(1.5)) + rec(0x00FD, rcx(0, 1) + u32(0)) } });
    auto encryptor = sd::crypto::openFilePass(
        reinterpret_cast<const uint8_t *>(filePass.constData()), size_t(filePass.size()),
        sd::crypto::FilePassLayout::Biff8, { password.toStdU16String() }, nullptr);
    QVERIFY(encryptor);
    sd::crypto::decryptBiffStream(*encryptor, reinterpret_cast<uint8_t *>(stream.data()),
                                  size_t(stream.size()), size_t(head.size()));
    QVERIFY(!stream.contains("clear text"));
    sd::crypto::PasswordList passwords;
    for (const QString &p : given)
        passwords.push_back(p.toStdU16String());
    const QByteArray file = buildCfb({ { QStringLiteral("Workbook"), stream } }).bytes;
    sd::Error error;
    auto book = sd::openXlsMemory(reinterpret_cast<const uint8_t *>(file.constData()),
                                  size_t(file.size()), "test.xls", &error, passwords);
    QTEST(book ? describeSheet(*book, 0) : QString::fromStdString(error.description()), "expected");
    QCOMPARE(book ? QString::fromStdString(book->sheets[0].name) : QString(),
             book ? QStringLiteral("Sheet1") : QString());
}

void TestXlsReader::failures_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>(
        "detail"); // part of the description; for sheet errors, of the sheet's error

    QTest::newRow("FILEPASS") << biff8Book(rec(0x002F, u16(1) + QByteArray(52, '\0')), {})
                              << int(sd::ErrorCode::Encrypted) << "0x002F";
    QTest::newRow("encrypted OOXML package")
        << buildCfb({ { QStringLiteral("EncryptionInfo"), QByteArray(200, '\1') },
                      { QStringLiteral("EncryptedPackage"), QByteArray(5000, '\2') } })
               .bytes
        << int(sd::ErrorCode::Encrypted) << "password";
    QTest::newRow("BMP named .xls")
        << QByteArray("BM\x36\x00\x0c\x00\x00\x00\x00\x00\x36\x00\x00\x00", 14)
        << int(sd::ErrorCode::NotAWorkbook) << "not an Excel workbook";
    QTest::newRow("text named .xls") << QByteArray("Attachment not found!")
                                     << int(sd::ErrorCode::NotAWorkbook) << "not an Excel workbook";
    QTest::newRow("workbook stream without BOF")
        << buildCfb({ { QStringLiteral("Workbook"), rec(0x0203, rcx(0, 0) + f64(1)) } }).bytes
        << int(sd::ErrorCode::NotAWorkbook) << "BOF";
    // Sheet-level damage: the sheet fails with the record id and offset.
    QTest::newRow("short NUMBER record")
        << biff8Book({}, rec(0x0203, rcx(0, 0) + u16(0))) << int(sd::ErrorCode::Corrupt)
        << "record 0x0203 (NUMBER) at 0x";
    QTest::newRow("LABEL longer than its record")
        << biff8Book({}, rec(0x0204, rcx(0, 0) + u16(50) + u8(0) + "ab"))
        << int(sd::ErrorCode::Corrupt) << "record 0x0204 (LABEL)";
    QTest::newRow("column past 256") << biff8Book({}, rec(0x0203, rcx(0, 256) + f64(1)))
                                     << int(sd::ErrorCode::TooLarge) << "column 257";
    QTest::newRow("MULRK past column 256") << biff8Book(
        {}, rec(0x00BD, u16(0) + u16(255) + u16(0) + u32(2) + u16(0) + u32(2) + u16(256)))
                                           << int(sd::ErrorCode::TooLarge) << "column 257";
    QTest::newRow("string index past the table") << biff8Book({}, rec(0x00FD, rcx(0, 0) + u32(7)))
                                                 << int(sd::ErrorCode::Corrupt) << "string 7";
    QTest::newRow("record header past the stream")
        << biff8Book({}, rec(0x0203, rcx(0, 0) + f64(1)) + u16(0x0203) + u16(400))
        << int(sd::ErrorCode::Corrupt) << "past the end";
}

void TestXlsReader::failures()
{
    QFETCH(QByteArray, file);
    QFETCH(int, code);
    QFETCH(QString, detail);
    sd::Error error;
    auto book = openBytes(file, &error);
    if (book) {
        QVERIFY(!book->sheet(0, &error));
    }
    QCOMPARE(int(error.code), code);
    QVERIFY2(QString::fromStdString(error.description()).contains(detail),
             error.description().c_str());
}

// The rows and columns of ROW and COLINFO records in the used range, one
// row per rule, each named after the corpus file whose Excel export shows
// it (the rule is at Sheet::usedRange()).
void TestXlsReader::formattedRowsAndColumns_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("range"); // first row, first column, last row, last column
    auto row = [](int r, int flags, int xf = 15, int height = 255) {
        return rec(0x0208,
                   u16(r) + u16(0) + u16(1) + u16(height) + u16(0) + u16(0) + u16(flags) + u16(xf));
    };
    const QByteArray defaultHeight225 = rec(0x0225, u16(0) + u16(225));
    auto colinfo = [](int first, int last, int xf, int flags = 0, int width = 2340) {
        return rec(0x007D, u16(first) + u16(last) + u16(width) + u16(xf) + u16(flags) + u16(0));
    };
    const QByteArray a1 = rec(0x0203, rcx(0, 0) + f64(1));
    QTest::newRow("43493: custom height") << row(6, 0x0140) + a1 << "0,0,6,0";
    QTest::newRow("ex45582-22397: own format") << row(9, 0x01C0, 22) + a1 << "0,0,9,0";
    QTest::newRow("12561-2: a height other than the default")
        << defaultHeight225 + row(9, 0x0100, 15, 240) + a1 << "0,0,9,0";
    QTest::newRow("a row record of the default height")
        << defaultHeight225 + row(9, 0x0100, 15, 225) + row(11, 0x0100, 15, 0x80FF) + a1
        << "0,0,0,0";
    QTest::newRow("outline.xls: hidden row, outline level")
        << row(3, 0x0120) + row(7, 0x0102) + a1 << "0,0,7,0";
    QTest::newRow("WORKBOOK_in_capitals: row above the cells")
        << row(0, 0x01C0) + rec(0x0203, rcx(1, 1) + f64(1)) << "0,1,1,1";
    QTest::newRow("47034 sheet 8: rows without columns")
        << row(2, 0x0140) + row(4, 0x0180) << "0,0,0,0";
    QTest::newRow("A4X_gnumeric: A:IV formatted, no cells") << colinfo(0, 255, 21) << "0,0,0,255";
    QTest::newRow("A4X_gnumeric: A:IV formatted")
        << colinfo(1, 255, 21) + rec(0x0203, rcx(3, 0) + f64(1)) << "3,0,3,255";
    QTest::newRow("default XF") << colinfo(2, 7, 15) + a1 << "0,0,0,0";
    QTest::newRow("xlrd profiles: to the end") << colinfo(13, 256, 21) + a1 << "0,0,0,0";
    QTest::newRow("48026: formatted as the whole width")
        << colinfo(0, 3, 73) + colinfo(4, 256, 73) + a1 << "0,0,0,0";
    QTest::newRow("27272_2: formatted otherwise")
        << colinfo(1, 2, 24) + colinfo(3, 256, 23) + a1 << "0,0,0,2";
    QTest::newRow("12561-2: column A as the whole width") << colinfo(0, 0, 24) + colinfo(1, 2, 38)
            + colinfo(3, 256, 24)
            + rec(0x0203, rcx(0, 3) + f64(1)) << "0,1,0,3";
    QTest::newRow("ex45978: hidden columns")
        << colinfo(2, 188, 15, 0x0003, 4000) + colinfo(189, 256, 15, 0x0001, 0) + a1 << "0,0,0,188";
    QTest::newRow("47034 sheet 9: hidden, zero width")
        << colinfo(237, 250, 15, 0x0003, 0) + a1 << "0,0,0,0";
    QTest::newRow("outline: grouped column") << colinfo(29, 29, 15, 0x0700) + a1 << "0,0,0,29";
    QTest::newRow("short records")
        << rec(0x0208, u16(9) + u16(0x0140)) + rec(0x007D, u16(0) + u16(5)) + a1 << "0,0,0,0";
}

void TestXlsReader::formattedRowsAndColumns()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, range);
    sd::Error error;
    auto book = openBytes(biff8Book({}, body), &error);
    QVERIFY2(book, error.description().c_str());
    const sd::Sheet *sheet = book->sheet(0, &error);
    QVERIFY2(sheet, error.description().c_str());
    const sd::CellRange r = sheet->usedRange();
    QCOMPARE(
        QStringLiteral("%1,%2,%3,%4").arg(r.firstRow).arg(r.firstCol).arg(r.lastRow).arg(r.lastCol),
        range);
}

void TestXlsReader::sheetList()
{
    QList<SheetSpec> sheets;
    sheets << SheetSpec { "Data", rec(0x0203, rcx(0, 0) + f64(1)), 0, 0, 0x0010 };
    sheets << SheetSpec { "Hidden", {}, 0, 1, 0x0010 };
    sheets << SheetSpec { "Chart", rec(0x0203, rcx(0, 0) + f64(1)), 2, 2, 0x0020 };
    sheets << SheetSpec { "Dialog", rec(0x0081, u16(0x0010)), 0, 0, 0x0010 };
    sheets << SheetSpec { "Macro", rec(0x0203, rcx(4, 0) + f64(3)), 1, 0, 0x0040 };
    sheets << SheetSpec { QString::fromUtf8("数据").toUtf8(), {}, 0, 0, 0x0010 };
    const QByteArray stream = workbookStream(kBiff8, rec(0x0022, u16(1)), sheets);
    sd::Error error;
    auto book = openBytes(buildCfb({ { QStringLiteral("Workbook"), stream } }).bytes, &error);
    QVERIFY2(book, error.description().c_str());
    QVERIFY(book->date1904);
    QCOMPARE(int(book->sheets.size()), 6);
    const sd::SheetKind kinds[]
        = { sd::SheetKind::Worksheet, sd::SheetKind::Worksheet, sd::SheetKind::Chart,
            sd::SheetKind::Dialog,    sd::SheetKind::Macro,     sd::SheetKind::Worksheet };
    const sd::SheetState states[]
        = { sd::SheetState::Visible, sd::SheetState::Hidden,  sd::SheetState::VeryHidden,
            sd::SheetState::Visible, sd::SheetState::Visible, sd::SheetState::Visible };
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(int(book->sheets[size_t(i)].kind), int(kinds[i]));
        QCOMPARE(int(book->sheets[size_t(i)].state), int(states[i]));
    }
    QCOMPARE(QString::fromStdString(book->sheets[5].name), QString::fromUtf8("数据"));
    QCOMPARE(describeSheet(*book, 0), QStringLiteral("A1=n:1"));
    QCOMPARE(describeSheet(*book, 2), QString()); // chart sheets hold no cells
    QCOMPARE(describeSheet(*book, 4), QStringLiteral("A5=n:3"));
    QCOMPARE(book->worksheetCount(), 3);
}

// A BIFF5 workbook from a Chinese system: sheet name, text and a custom
// number format in GBK, announced by CODEPAGE 936.
void TestXlsReader::gbkBiff5()
{
    QTextCodec *gbk = QTextCodec::codecForName("GBK");
    QVERIFY(gbk);
    const QByteArray name = gbk->fromUnicode(QString::fromUtf8("销售数据"));
    const QByteArray text = gbk->fromUnicode(QString::fromUtf8("北京市"));
    const QByteArray code = gbk->fromUnicode(QString::fromUtf8("0.00\"元\""));
    QByteArray globals = rec(0x0042, u16(936));
    globals += rec(0x041E, u16(164) + u8(code.size()) + code);
    // A restated built-in (the currency format 5) reaches the table too.
    const QByteArray yuan = gbk->fromUnicode(QString::fromUtf8("\"￥\"#,##0"));
    globals += rec(0x041E, u16(5) + u8(yuan.size()) + yuan);
    for (int i = 0; i < 16; ++i)
        globals += rec(0x00E0, u16(0) + u16(i == 15 ? 164 : 0) + QByteArray(12, '\0'));
    const QByteArray body
        = rec(0x0204, rcx(0, 0) + u16(text.size()) + text) + rec(0x0203, rcx(1, 0, 15) + f64(3.5));
    const QByteArray stream = workbookStream(kBiff5, globals, { SheetSpec { name, body } });
    sd::Error error;
    auto book = openBytes(buildCfb({ { QStringLiteral("Book"), stream } }).bytes, &error);
    QVERIFY2(book, error.description().c_str());
    QCOMPARE(QString::fromStdString(book->sheets[0].name), QString::fromUtf8("销售数据"));
    QCOMPARE(describeSheet(*book, 0), QString::fromUtf8("A1=s:北京市 A2=n:3.5"));
    QCOMPARE(QString::fromStdString(book->numFmts.at(164)), QString::fromUtf8("0.00\"元\""));
    QCOMPARE(int(book->xf(15).numFmtId), 164);
    QCOMPARE(QString::fromStdString(book->numFmts.at(5)), QString::fromUtf8("\"￥\"#,##0"));
}

// An Excel 2.1 worksheet: no compound file, 3-byte cell attributes that
// carry the format index, formats numbered by position.
void TestXlsReader::bareBiff2()
{
    QByteArray s = rec(0x0009, u16(2) + u16(0x0010));
    s += rec(0x0042, u16(0x8001));
    s += rec(0x001E, u8(7) + "General");
    s += rec(0x001E, u8(4) + "0.00");
    s += rec(0x001E, u8(6) + "m/d/yy");
    s += rec(0x001E, u8(5) + "0.0%!");
    s += rec(0x0043, u8(0) + u8(0) + u8(1) + u8(0)); // XF 0: format 1
    auto attr = [](int format) { return u8(0) + u8(format) + u8(0); };
    s += rec(0x0004, u16(0) + u16(0) + attr(0) + u8(4) + "caf\xe9");
    s += rec(0x0003, u16(1) + u16(0) + attr(1) + f64(2.5));
    s += rec(0x0002, u16(2) + u16(0) + attr(2) + u16(40000));
    s += rec(0x0005, u16(3) + u16(1) + attr(3) + u8(0x17) + u8(1));
    s += rec(0x0001, u16(4) + u16(2) + attr(0));
    // XF index 63: the IXFE record before the cell names the XF.
    s += rec(0x0044, u16(0)) + rec(0x0003, u16(5) + u16(0) + u8(63) + u8(0) + u8(0) + f64(1.5));
    // A BIFF3-5 LABEL in the BIFF2 sheet: its 16-bit index names an XF record;
    // one past 62 is ignored.
    s += rec(0x0204, u16(6) + u16(0) + u16(0) + u16(2) + "hi");
    s += rec(0x0204, u16(7) + u16(0) + u16(70) + u16(2) + "ho");
    s += eof();
    sd::Error error;
    auto book = openBytes(s, &error);
    QVERIFY2(book, error.description().c_str());
    QCOMPARE(int(book->sheets.size()), 1);
    QCOMPARE(QString::fromStdString(book->sheets[0].name), QStringLiteral("test"));
    QCOMPARE(describeSheet(*book, 0),
             QString::fromUtf8(
                 "A1=s:café A2=n:2.5 A3=n:40000 B4=e:#REF! C5=b A6=n:1.5 A7=s:hi A8=s:ho"));
    const sd::Sheet *sheet = book->sheet(0);
    QCOMPARE(int(book->xf(sheet->cells[1].xf).numFmtId), 2); // "0.00" is the built-in format
    QCOMPARE(int(book->xf(sheet->cells[2].xf).numFmtId),
             14); // Excel 4's spelling of the short date
    QCOMPARE(int(book->xf(sheet->cells[5].xf).numFmtId), 2); // through IXFE and XF 0
    QCOMPARE(int(book->xf(sheet->cells[6].xf).numFmtId), 2); // XF 0
    QCOMPARE(int(book->xf(sheet->cells[7].xf).numFmtId), 0); // XF 70: General
    const int custom = book->xf(sheet->cells[3].xf).numFmtId;
    QCOMPARE(QString::fromStdString(book->numFmts.at(custom)), QStringLiteral("0.0%!"));
}

// A BIFF5 note longer than one record goes on in NOTE records with row
// 0xFFFF: they widen the used range no further than the note's own cell.
void TestXlsReader::biff5NoteContinued()
{
    const QByteArray body = rec(0x0203, rcx(0, 0) + f64(1))
        + rec(0x001C, u16(1) + u16(1) + u16(6) + "abc")
        + rec(0x001C, u16(0xFFFF) + u16(0) + u16(3) + "def");
    const QByteArray stream = workbookStream(kBiff5, {}, { SheetSpec { "S", body } });
    sd::Error error;
    auto book = openBytes(buildCfb({ { QStringLiteral("Book"), stream } }).bytes, &error);
    QVERIFY2(book, error.description().c_str());
    QCOMPARE(describeSheet(*book, 0), QStringLiteral("A1=n:1 B2=b"));
}

QTEST_GUILESS_MAIN(TestXlsReader)
#include "tst_xlsreader.moc"
