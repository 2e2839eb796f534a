// The encrypted workbooks of the shared corpus: each opens with the default
// password or the one its origin records, and what comes out parses; the
// others are refused with a reason. The compound file is read here, in the
// test, with the .xls reader's container code.
#include "../xls/biffbuilder.h"
#include "corpus.h"
#include "crypto/biffcrypt.h"
#include "crypto/ooxmlcrypt.h"
#include "io/cfb.h"
#include "open/openworkbook.h"
#include "xls/xlsreader.h"
#include "xlsx/xlsxreader.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

using namespace sd::crypto;

namespace {

// password: nullptr for the built-in default one. scheme: what the file uses
// (a prefix of the description), or for refusals the expected status text.
struct Protected
{
    const char *path;
    const char16_t *password;
    const char *scheme;
    const char *probe = ""; // the first value the workbook holds
};

const Protected kWorkbooks[] = {
    { "calamine/issue_385.xls", nullptr, "RC4", "" },
    { "exceldatareader/protectedsheet-xxx.xls", nullptr, "RC4", "x" },
    { "exceldatareader/TestExcel_2040.xls", nullptr, "RC4", "Name" },
    { "parseexcel/t/pers-protected.xls", nullptr, "RC4", "1" },
    { "exceldatareader/Test_git_issue_242_std_rc4_pwd_password.xls", u"password",
      "RC4 CryptoAPI, 128-bit", "Password: password" },
    { "exceldatareader/Test_git_issue_242_xor_pwd_password.xls", u"password", "XOR",
      "Password: password" },
    { "parseexcel/t/encrypted.xls", u"password", "RC4", "Hello" },
    { "parseexcel/t/pers-encrypted-def-pass-QwErTyUiOp.xls", u"QwErTyUiOp", "RC4", "1" },
    { "parseexcel/t/pers-encrypted-RC4-pass-11.xls", u"11", "RC4 CryptoAPI, 40-bit", "1" },
    { "sheetjs/biff5/password_2002_40_xor.xls", u"password", "XOR", "1" },
    { "sheetjs/password_2002_128_enhanced.xls", u"password", "RC4 CryptoAPI, 128-bit", "1" },
    { "sheetjs/password_2002_128_enhdss.xls", u"password", "RC4 CryptoAPI, 128-bit", "1" },
    { "sheetjs/password_2002_128_enhrsa.xls", u"password", "RC4 CryptoAPI, 128-bit", "1" },
    { "sheetjs/password_2002_128_enhrsasc.xls", u"password", "RC4 CryptoAPI, 128-bit", "1" },
    { "sheetjs/password_2002_128_strong.xls", u"password", "RC4 CryptoAPI, 128-bit", "1" },
    { "sheetjs/password_2002_40_972000.xls", u"password", "RC4", "1" },
    { "sheetjs/password_2002_40_basecrypto.xls", u"password", "RC4 CryptoAPI, 40-bit", "1" },
    { "sheetjs/password_2002_40_dhsc.xls", u"password", "RC4 CryptoAPI, 40-bit", "1" },
    { "sheetjs/password_2002_40_dss.xls", u"password", "RC4 CryptoAPI, 40-bit", "1" },
    { "sheetjs/password_2002_40_xor.xls", u"password", "XOR", "1" },
    { "exceldatareader/agile_AES128_MD5_CBC_pwd_password.xlsx", u"password", "Agile, AES-128",
      "Password: password" },
    { "exceldatareader/agile_AES128_SHA1_CBC_pwd_password.xlsx", u"password", "Agile, AES-128",
      "Password: password" },
    { "exceldatareader/agile_AES128_SHA384_CBC_pwd_password.xlsx", u"password", "Agile, AES-128",
      "Password: password" },
    { "exceldatareader/agile_AES128_SHA512_CBC_pwd_password.xlsx", u"password", "Agile, AES-128",
      "Password: password" },
    { "exceldatareader/agile_AES192_SHA512_CBC_pwd_password.xlsx", u"password", "Agile, AES-192",
      "Password: password" },
    { "exceldatareader/agile_AES256_SHA512_CBC_pwd_password.xlsx", u"password", "Agile, AES-256",
      "Password: password" },
    { "exceldatareader/agile_DES_MD5_CBC_pwd_password.xlsx", u"password", "Agile, DES",
      "Password: password" },
    { "exceldatareader/agile_DESede_SHA384_CBC_pwd_password.xlsx", u"password", "Agile, 3DES",
      "Password: password" },
    { "exceldatareader/agile_RC2_SHA1_CBC_pwd_password.xlsx", u"password", "Agile, RC2",
      "Password: password" },
    { "exceldatareader/standard_AES128_SHA1_ECB_pwd_password.xlsx", u"password",
      "Standard, AES-128", "Password: password" },
    { "exceldatareader/standard_AES192_SHA1_ECB_pwd_password.xlsx", u"password",
      "Standard, AES-192", "Password: password" },
    { "exceldatareader/standard_AES256_SHA1_ECB_pwd_password.xlsx", u"password",
      "Standard, AES-256", "Password: password" },
    { "exceldatareader/strict/agile_AES128_SHA1_CBC_pwd_password.xlsx", u"password",
      "Agile, AES-128", "Password: password" },
    { "exceldatareader/Test_git_issue289.xlsx", nullptr, "Agile, AES-256", "aaaaaaa" },
    { "exceldatareader/TestExcel_2040.xlsx", nullptr, "Standard, AES-128", "Name" },
};

// Encrypted files whose password nobody recorded: refused as needing one.
const char *const kNoPassword[] = {
    "calamine/pass_protected.xlsx",
};

QString corpusDir()
{
    return sdtest::corpusDir();
}

uint16_t le16(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

struct Streams
{
    QByteArray file;
    sd::CompoundFile cfb;
    std::vector<uint8_t> workbook; // Workbook or Book
    QString workbookName;
    std::vector<uint8_t> info, package; // EncryptionInfo, EncryptedPackage
};

bool readStreams(const QString &path, Streams &s)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    s.file = f.readAll();
    if (s.cfb.open(reinterpret_cast<const uint8_t *>(s.file.constData()), size_t(s.file.size())))
        return false;
    auto read = [&](const char *name, std::vector<uint8_t> &out) {
        const int i = s.cfb.findRootEntry(name);
        return i >= 0 && !s.cfb.readStream(s.cfb.rootEntries()[size_t(i)], out);
    };
    if (read("Workbook", s.workbook))
        s.workbookName = QStringLiteral("Workbook");
    else if (read("Book", s.workbook))
        s.workbookName = QStringLiteral("Book");
    read("EncryptionInfo", s.info);
    read("EncryptedPackage", s.package);
    return true;
}

// Offset of the FILEPASS record header in the globals, or -1.
long findFilePass(const std::vector<uint8_t> &stream)
{
    size_t pos = 0;
    for (int n = 0; n < 64 && pos + 4 <= stream.size(); ++n) {
        const uint16_t id = le16(&stream[pos]);
        if (id == 0x002F)
            return long(pos);
        pos += 4 + le16(&stream[pos + 2]);
    }
    return -1;
}

PasswordList userList(const Protected &p)
{
    return p.password ? PasswordList { p.password } : PasswordList {};
}

QStringList expectedSheetNames(const QString &relative)
{
    const QString base = QFileInfo(relative).fileName();
    QFile f(corpusDir() + QStringLiteral("/sheetjs/expected/excel2011/") + base
            + QStringLiteral(".sheetnames"));
    if (!relative.startsWith(QLatin1String("sheetjs/password")) || !f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The first cell with a value, in the first sheet that has one: text, or a
// number in the shortest form.
QString firstValue(sd::Workbook &book)
{
    for (size_t i = 0; i < book.sheets.size(); ++i) {
        const sd::Sheet *sheet = book.sheet(int(i));
        for (const sd::Cell &c : sheet ? sheet->cells : std::vector<sd::Cell>()) {
            if (c.type == sd::CellType::Text)
                return QString::fromStdString(book.strings[c.text]);
            if (c.type == sd::CellType::Number)
                return QString::number(c.number);
        }
    }
    return {};
}

} // namespace

class TestCryptoCorpus : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void workbooks_data();
    void workbooks();
    void openWorkbook_data() { workbooks_data(); }
    void openWorkbook();
    void openTamperedPackage();
    void noPassword();
    void tamperedPackage_data();
    void tamperedPackage();
    void everyEncryptedFileIsListed();

private:
    void checkXls(const Protected &p, Streams &s);
    void checkPackage(const Protected &p, Streams &s);
};

void TestCryptoCorpus::initTestCase()
{
    SD_REQUIRE_CORPUS(QString());
}

void TestCryptoCorpus::workbooks_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("probe");
    for (size_t i = 0; i < sizeof kWorkbooks / sizeof kWorkbooks[0]; ++i)
        QTest::newRow(kWorkbooks[i].path) << int(i) << QString::fromUtf8(kWorkbooks[i].probe);
}

void TestCryptoCorpus::workbooks()
{
    QFETCH(int, index);
    const Protected &p = kWorkbooks[index];
    Streams s;
    QVERIFY2(readStreams(corpusDir() + QLatin1Char('/') + QLatin1String(p.path), s),
             "not a readable compound file");
    if (!s.workbook.empty())
        checkXls(p, s);
    else
        checkPackage(p, s);
}

// The same files through the engine's opening of any workbook, as the
// conversion opens them: with the default password and, where the file has
// its own, the recorded one; without it they need a password.
void TestCryptoCorpus::openWorkbook()
{
    QFETCH(int, index);
    const Protected &p = kWorkbooks[index];
    const std::string path
        = QFile::encodeName(corpusDir() + QLatin1Char('/') + p.path).toStdString();
    sd::Error error;
    if (p.password) {
        QVERIFY(!sd::openWorkbook(path, &error));
        QCOMPARE(int(error.code), int(sd::ErrorCode::PasswordNeeded));
        QVERIFY2(error.description().rfind("password needed: ", 0) == 0,
                 error.description().c_str());
    }
    auto book = sd::openWorkbook(path, &error, userList(p));
    QVERIFY2(book, error.description().c_str());
    QCOMPARE(book->path, path);
    for (size_t i = 0; i < book->sheets.size(); ++i)
        QVERIFY2(book->sheet(int(i), &error), error.description().c_str());
    QTEST(firstValue(*book), "probe");
}

// A package changed after it was encrypted is refused as damaged, not as
// needing a password, and nothing of it is read.
void TestCryptoCorpus::openTamperedPackage()
{
    Streams s;
    QVERIFY(
        readStreams(corpusDir() + QStringLiteral("/exceldatareader/Test_git_issue289.xlsx"), s));
    s.package[s.package.size() / 2] ^= 0x01;
    const biffbuilder::Cfb cfb = biffbuilder::buildCfb(
        { { QStringLiteral("EncryptionInfo"),
            QByteArray(reinterpret_cast<const char *>(s.info.data()), int(s.info.size())) },
          { QStringLiteral("EncryptedPackage"),
            QByteArray(reinterpret_cast<const char *>(s.package.data()),
                       int(s.package.size())) } });
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("tampered.xlsx")));
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(cfb.bytes) == cfb.bytes.size());
    f.close();
    sd::Error error;
    QVERIFY(!sd::openWorkbook(QFile::encodeName(f.fileName()).toStdString(), &error));
    QCOMPARE(int(error.code), int(sd::ErrorCode::Corrupt));
    QVERIFY2(error.detail.find("integrity") != std::string::npos, error.detail.c_str());
}

void TestCryptoCorpus::checkXls(const Protected &p, Streams &s)
{
    const long at = findFilePass(s.workbook);
    QVERIFY2(at >= 0, "no FILEPASS record");
    const bool biff8 = s.workbook.size() >= 8 && le16(&s.workbook[4]) == 0x0600;
    const FilePassLayout layout = biff8 ? FilePassLayout::Biff8 : FilePassLayout::Biff2To7;
    const uint8_t *payload = &s.workbook[size_t(at) + 4];
    const size_t size = le16(&s.workbook[size_t(at) + 2]);
    QVERIFY2(describeFilePass(payload, size, layout).rfind(p.scheme, 0) == 0,
             describeFilePass(payload, size, layout).c_str());

    CryptoError error;
    if (p.password) { // the default password alone does not open it
        QVERIFY(!openFilePass(payload, size, layout, candidatePasswords({}), &error));
        QCOMPARE(int(error.status), int(CryptoStatus::PasswordNeeded));
    }
    auto decryptor = openFilePass(payload, size, layout, candidatePasswords(userList(p)), &error);
    QVERIFY2(decryptor, error.description().c_str());
    decryptBiffStream(*decryptor, s.workbook.data(), s.workbook.size(), size_t(at) + 4 + size);

    // The clear stream, with FILEPASS turned into an unknown record, opens
    // and loads as an unprotected workbook would.
    s.workbook[size_t(at)] = 0xFF;
    s.workbook[size_t(at) + 1] = 0x0F;
    const QByteArray stream(reinterpret_cast<const char *>(s.workbook.data()),
                            int(s.workbook.size()));
    const biffbuilder::Cfb cfb = biffbuilder::buildCfb({ { s.workbookName, stream } });
    sd::Error e;
    auto book = sd::openXlsMemory(reinterpret_cast<const uint8_t *>(cfb.bytes.constData()),
                                  size_t(cfb.bytes.size()), p.path, &e);
    QVERIFY2(book, e.description().c_str());
    QStringList names;
    for (size_t i = 0; i < book->sheets.size(); ++i) {
        QVERIFY2(book->sheet(int(i), &e), e.description().c_str());
        names << QString::fromStdString(book->sheets[i].name);
    }
    QVERIFY(!names.isEmpty());
    QTEST(firstValue(*book), "probe");
    const QStringList expected = expectedSheetNames(QLatin1String(p.path));
    if (!expected.isEmpty())
        QCOMPARE(names, expected);
}

void TestCryptoCorpus::checkPackage(const Protected &p, Streams &s)
{
    QVERIFY2(!s.info.empty() && !s.package.empty(), "no EncryptionInfo or EncryptedPackage");
    const std::string scheme = describeEncryptionInfo(s.info.data(), s.info.size());
    QVERIFY2(scheme.rfind(p.scheme, 0) == 0, scheme.c_str());
    Bytes zip;
    if (p.password) {
        const CryptoError e = decryptPackage(s.info.data(), s.info.size(), s.package.data(),
                                             s.package.size(), candidatePasswords({}), zip);
        QCOMPARE(int(e.status), int(CryptoStatus::PasswordNeeded));
    }
    const CryptoError e = decryptPackage(s.info.data(), s.info.size(), s.package.data(),
                                         s.package.size(), candidatePasswords(userList(p)), zip);
    QVERIFY2(!e, e.description().c_str());
    QVERIFY(zip.size() > 4 && std::memcmp(zip.data(), "PK\3\4", 4) == 0);
    sd::Error error;
    auto book = sd::openXlsxBuffer(zip.data(), zip.size(), &error);
    QVERIFY2(book, error.description().c_str());
    for (size_t i = 0; i < book->sheets.size(); ++i)
        QVERIFY2(book->sheet(int(i), &error), error.description().c_str());
    QTEST(firstValue(*book), "probe");
}

void TestCryptoCorpus::noPassword()
{
    for (const char *path : kNoPassword) {
        sd::Error error;
        QVERIFY(!sd::openWorkbook(
            QFile::encodeName(corpusDir() + QLatin1Char('/') + QLatin1String(path)).toStdString(),
            &error, { u"password" }));
        QCOMPARE(int(error.code), int(sd::ErrorCode::PasswordNeeded));
        QCOMPARE(QString::fromStdString(error.description()).left(15),
                 QStringLiteral("password needed"));
        Streams s;
        QVERIFY(readStreams(corpusDir() + QLatin1Char('/') + QLatin1String(path), s));
        Bytes zip;
        const CryptoError e
            = decryptPackage(s.info.data(), s.info.size(), s.package.data(), s.package.size(),
                             candidatePasswords({ u"password" }), zip);
        QCOMPARE(int(e.status), int(CryptoStatus::PasswordNeeded));
        QVERIFY(zip.empty());
    }
}

void TestCryptoCorpus::tamperedPackage_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("offset"); // into EncryptedPackage; negative counts from the end
    QTest::addColumn<int>("status");
    const QString agile
        = QStringLiteral("exceldatareader/agile_AES256_SHA512_CBC_pwd_password.xlsx");
    QTest::newRow("Agile: a byte of the first segment")
        << agile << 100 << int(CryptoStatus::IntegrityFailed);
    QTest::newRow("Agile: the last byte") << agile << -1 << int(CryptoStatus::IntegrityFailed);
    QTest::newRow("Agile: the declared size") << agile << 0 << int(CryptoStatus::IntegrityFailed);
    QTest::newRow("Agile: size beyond the stream") << agile << 5 << int(CryptoStatus::Malformed);
}

void TestCryptoCorpus::tamperedPackage()
{
    QFETCH(QString, file);
    QFETCH(int, offset);
    QFETCH(int, status);
    Streams s;
    QVERIFY(readStreams(corpusDir() + QLatin1Char('/') + file, s));
    const size_t at = offset < 0 ? s.package.size() - size_t(-offset) : size_t(offset);
    s.package[at] ^= 0x20;
    Bytes zip;
    const CryptoError e
        = decryptPackage(s.info.data(), s.info.size(), s.package.data(), s.package.size(),
                         candidatePasswords({ u"password" }), zip);
    QCOMPARE(int(e.status), status);
    QVERIFY(zip.empty());
}

// A new encrypted file in the corpus must join one of the lists above.
void TestCryptoCorpus::everyEncryptedFileIsListed()
{
    QSet<QString> listed;
    for (const Protected &p : kWorkbooks)
        listed << QLatin1String(p.path);
    for (const char *path : kNoPassword)
        listed << QLatin1String(path);
    QStringList missing;
    int found = 0;
    QDirIterator it(corpusDir(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(corpusDir()).relativeFilePath(path);
        if (!relative.endsWith(QLatin1String(".xls"), Qt::CaseInsensitive)
            && !relative.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive)
            && !relative.endsWith(QLatin1String(".xlsm"), Qt::CaseInsensitive))
            continue;
        Streams s;
        if (!readStreams(path, s))
            continue;
        if (s.info.empty() && (s.workbook.empty() || findFilePass(s.workbook) < 0))
            continue;
        ++found;
        if (!listed.contains(relative))
            missing << relative;
    }
    qInfo("encrypted files in the corpus: %d", found);
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(QLatin1Char('\n'))));
    QCOMPARE(found, listed.size());
}

QTEST_GUILESS_MAIN(TestCryptoCorpus)
#include "tst_cryptocorpus.moc"
