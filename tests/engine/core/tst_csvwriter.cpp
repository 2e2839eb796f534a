// The CSV writer and the cell renderer behind it: framing (range, padding,
// quoting, line ends), encoding, and the temporary file that is renamed into
// place only when every write succeeded.

#include "core/csvwriter.h"
#include "core/csvwriter_p.h"
#include "core/csvwriterfile_p.h"
#include "core/display.h"
#include "core/model.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A cell written as "<ref>=<kind>:<value>" with kinds n (number), s (text),
// b (bool), e (error code), blank; xf after '@'.
struct CellSpec
{
    uint32_t row, col;
    sd::CellType type;
    double number;
    std::string text;
    uint32_t xf;
};

CellSpec num(uint32_t r, uint32_t c, double v, uint32_t xf = 0)
{
    return { r, c, sd::CellType::Number, v, {}, xf };
}
CellSpec str(uint32_t r, uint32_t c, std::string t, uint32_t xf = 0)
{
    return { r, c, sd::CellType::Text, 0, std::move(t), xf };
}
CellSpec blank(uint32_t r, uint32_t c)
{
    return { r, c, sd::CellType::Blank, 0, {}, 1 };
}

std::unique_ptr<sd::Workbook> makeBook(const std::vector<CellSpec> &cells)
{
    auto book = std::make_unique<sd::Workbook>();
    book->sheets.push_back({ "Sheet1", sd::SheetKind::Worksheet, sd::SheetState::Visible });
    book->xfs = { sd::Xf { 0, false },   sd::Xf { 0, false },   sd::Xf { 2, false },
                  sd::Xf { 164, false }, sd::Xf { 0, true },    sd::Xf { 14, false },
                  sd::Xf { 7, false },   sd::Xf { 200, false }, sd::Xf { 30, false },
                  sd::Xf { 201, false }, sd::Xf { 202, false }, sd::Xf { 3, false },
                  sd::Xf { 41, false },  sd::Xf { 15, false } };
    book->numFmts[164] = "0.0;;;\"<\"@\">\"";
    book->numFmts[201] = std::string(256, '0'); // one digit too wide for the column
    book->numFmts[202] = std::string(255, '0'); // exactly as wide
    // Codes a file restates for built-in ids.
    book->numFmts[15] = "dd.mm.yyyy";
    book->numFmts[7] = "#,##0.00\"\xD1\x80.\"";
    book->numFmts[3] = "#0.#";
    auto sheet = std::make_unique<sd::Sheet>();
    for (const CellSpec &s : cells) {
        sd::Cell c;
        c.row = s.row;
        c.col = s.col;
        c.type = s.type;
        c.number = s.number;
        c.xf = s.xf;
        if (s.type == sd::CellType::Text) {
            c.text = uint32_t(book->strings.size());
            book->strings.push_back(s.text);
        }
        sheet->cells.push_back(c);
    }
    sheet->finish();
    book->loaded.resize(1);
    book->loaded[0] = std::move(sheet);
    return book;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

// Write functions injected into the writer.
ssize_t shortWrites(int fd, const void *data, size_t size)
{
    return ::write(fd, data, std::min<size_t>(size, 7));
}

int g_budget = 0;
ssize_t diskFullAfterBudget(int fd, const void *data, size_t size)
{
    if (g_budget <= 0) {
        errno = ENOSPC;
        return -1;
    }
    const size_t n = std::min<size_t>(size, size_t(g_budget));
    g_budget -= int(n);
    return ::write(fd, data, n);
}

ssize_t writesNothing(int, const void *, size_t)
{
    return 0;
}

} // namespace

Q_DECLARE_METATYPE(std::vector<CellSpec>)

class TestCsvWriter : public QObject
{
    Q_OBJECT

private slots:
    void field_data();
    void field();
    void sheet_data();
    void sheet();
    void encoding_data();
    void encoding();
    void invalidUtf8();
    void cellText_data();
    void cellText();
    void failedWriteKeepsOldFile_data();
    void failedWriteKeepsOldFile();
    void readOnlyFolder();
    void shortWritesComplete();
    void longFileName();
    void permissions_data();
    void permissions();
    void targetIsAFolder();
    void fileSizeLimit();
    void stopInsideSheet_data();
    void stopInsideSheet();
    void linkInTargetsPlace();
    void staleTemporaryFiles();
    void tempLeftByKilledWriter();
    void unlinkableSpoolWrittenAnew();
};

void TestCsvWriter::field_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "abc"
                           << "abc";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("spaces do not quote") << " $1.00 "
                                         << " $1.00 ";
    QTest::newRow("comma") << "1,234"
                           << "\"1,234\"";
    QTest::newRow("quote doubled") << "say \"hi\""
                                   << "\"say \"\"hi\"\"\"";
    QTest::newRow("LF") << "a\nb"
                        << "\"a\nb\"";
    QTest::newRow("CR") << "a\rb"
                        << "\"a\rb\"";
    QTest::newRow("semicolon plain") << "a;b"
                                     << "a;b";
    QTest::newRow("leading quote") << "\""
                                   << "\"\"\"\"";
}

void TestCsvWriter::field()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    std::string out = "x,";
    sd::appendCsvField(text.toStdString(), out);
    QCOMPARE(QString::fromStdString(out), "x," + expected);
}

void TestCsvWriter::sheet_data()
{
    QTest::addColumn<std::vector<CellSpec>>("cells");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty sheet") << std::vector<CellSpec> {} << QByteArray("\r\n");
    QTest::newRow("one cell") << std::vector<CellSpec> { num(0, 0, 1) } << QByteArray("1\r\n");
    QTest::newRow("starts at the used range")
        << std::vector<CellSpec> { str(2, 1, "a"), num(3, 2, 2) } << QByteArray("a,\r\n,2\r\n");
    QTest::newRow("rows padded to the last column")
        << std::vector<CellSpec> { num(0, 0, 1), num(1, 3, 4) } << QByteArray("1,,,\r\n,,,4\r\n");
    QTest::newRow("empty row inside the range")
        << std::vector<CellSpec> { num(0, 0, 1), num(2, 1, 2) } << QByteArray("1,\r\n,\r\n,2\r\n");
    QTest::newRow("formatted blanks extend the range")
        << std::vector<CellSpec> { blank(0, 0), num(0, 1, 5), blank(2, 2) }
        << QByteArray(",5,\r\n,,\r\n,,\r\n");
    QTest::newRow("line break kept inside quotes")
        << std::vector<CellSpec> { str(0, 0, "a\nb"), num(0, 1, 1) }
        << QByteArray("\"a\nb\",1\r\n");
    QTest::newRow("displayed text is quoted")
        << std::vector<CellSpec> { num(0, 0, 1234567, 1), num(0, 1, 1234.5, 2) }
        << QByteArray("1234567,1234.50\r\n");
    QTest::newRow("later duplicate wins")
        << std::vector<CellSpec> { num(0, 0, 1), num(0, 0, 2) } << QByteArray("2\r\n");
}

void TestCsvWriter::sheet()
{
    QFETCH(std::vector<CellSpec>, cells);
    QFETCH(QByteArray, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    auto book = makeBook(cells);
    const QString path = dir.filePath("out.csv");
    const sd::Error e = sd::writeSheetCsv(*book, 0, path, QTextCodec::codecForName("UTF-8"));
    QVERIFY2(!e, e.description().c_str());
    QCOMPARE(readAll(path), expected);
    QCOMPARE(entries(dir.path()), QStringList { "out.csv" });
}

void TestCsvWriter::encoding_data()
{
    QTest::addColumn<QByteArray>("codec");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("UTF-8 no BOM") << QByteArray("UTF-8") << QString::fromUtf8("é中")
                                  << QByteArray("\xC3\xA9\xE4\xB8\xAD\r\n");
    QTest::newRow("Latin-1") << QByteArray("ISO-8859-1") << QString::fromUtf8("café")
                             << QByteArray("caf\xE9\r\n");
    QTest::newRow("Latin-1 unencodable")
        << QByteArray("ISO-8859-1") << QString::fromUtf8("€5 中") << QByteArray("?5 ?\r\n");
    QTest::newRow("GBK") << QByteArray("GBK") << QString::fromUtf8("中文")
                         << QByteArray("\xD6\xD0\xCE\xC4\r\n");
    QTest::newRow("GBK unencodable") << QByteArray("GBK")
                                     << QString::fromUtf8("a\xD7\x90"
                                                          "b")
                                     << QByteArray("a?b\r\n");
    QTest::newRow("UTF-16LE no BOM")
        << QByteArray("UTF-16LE") << QString::fromUtf8("é") << QByteArray("\xE9\0\r\0\n\0", 6);
    QTest::newRow("astral is one ?")
        << QByteArray("ISO-8859-1") << QString::fromUtf8("\xF0\x9F\x8D\xA3") << QByteArray("?\r\n");
}

void TestCsvWriter::encoding()
{
    QFETCH(QByteArray, codec);
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    QTextCodec *c = QTextCodec::codecForName(codec);
    if (!c)
        QSKIP("codec not available");
    QTemporaryDir dir;
    auto book = makeBook({ str(0, 0, text.toStdString()) });
    const QString path = dir.filePath("out.csv");
    const sd::Error e = sd::writeSheetCsv(*book, 0, path, c);
    QVERIFY2(!e, e.description().c_str());
    QCOMPARE(readAll(path), expected);
}

// Bytes that are not UTF-8 (a reader's fault) come out as one '?' per stray
// byte in an 8-bit encoding, never as raw bytes.
void TestCsvWriter::invalidUtf8()
{
    QTemporaryDir dir;
    auto book = makeBook({ str(0, 0,
                               "a\xFF"
                               "b\xE4\xB8"
                               "c\xC3\xA9") });
    const QString path = dir.filePath("out.csv");
    const sd::Error e = sd::writeSheetCsv(*book, 0, path, QTextCodec::codecForName("ISO-8859-1"));
    QVERIFY2(!e, e.description().c_str());
    QCOMPARE(readAll(path), QByteArray("a?b??c\xE9\r\n"));
}

// What the renderer shows for each kind of cell.
void TestCsvWriter::cellText_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<double>("number");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("xf");
    QTest::addColumn<QString>("expected");
    const int n = int(sd::CellType::Number), s = int(sd::CellType::Text),
              b = int(sd::CellType::Bool), e = int(sd::CellType::Error);
    QTest::newRow("General") << n << 0.1 + 0.2 << "" << 0 << "0.3";
    QTest::newRow("built-in 2") << n << 3.14159 << "" << 2 << "3.14";
    QTest::newRow("built-in 14") << n << 45000.0 << "" << 5 << "3/15/2023";
    QTest::newRow("custom text section") << s << 0.0 << "abc" << 3 << "<abc>";
    QTest::newRow("custom zero section empty") << n << 0.0 << "" << 3 << "";
    QTest::newRow("quote prefix not written") << s << 0.0 << "=1+1" << 4 << "=1+1";
    QTest::newRow("xf out of range") << n << 2.5 << "" << 99 << "2.5";
    QTest::newRow("TRUE") << b << 1.0 << "" << 2 << "TRUE";
    QTest::newRow("FALSE") << b << 0.0 << "" << 0 << "FALSE";
    QTest::newRow("#DIV/0!") << e << double(sd::ErrDiv0) << "" << 0 << "#DIV/0!";
    QTest::newRow("#N/A") << e << double(sd::ErrNA) << "" << 2 << "#N/A";
    QTest::newRow("#GETTING_DATA") << e << double(sd::ErrGettingData) << "" << 0 << "#GETTING_DATA";
    QTest::newRow("blank") << int(sd::CellType::Blank) << 0.0 << "" << 2 << "";
    QTest::newRow("restated built-in date follows the file")
        << n << 45000.0 << "" << 13 << "15.03.2023";
    QTest::newRow("restated built-in number follows the file") << n << 0.0 << "" << 11 << "0.";
    QTest::newRow("empty text through a text section") << s << 0.0 << "" << 12 << "  ";
    QTest::newRow("currency id follows the file") << n << 1234.5 << "" << 6 << "1,234.50\xD1\x80.";
    QTest::newRow("unknown id shows General") << n << 1234.5 << "" << 7 << "1234.5";
    QTest::newRow("East Asian id") << n << 45000.0 << "" << 8 << "3-15-23";
    QTest::newRow("number wider than the column")
        << n << 7.0 << "" << 9 << QString(255, QLatin1Char('#'));
    QTest::newRow("number as wide as the column")
        << n << 7.0 << "" << 10 << QString(254, QLatin1Char('0')) + "7";
    QTest::newRow("long text overflows") << s << 0.0 << QString(300, QLatin1Char('x')) << 3
                                         << "<" + QString(300, QLatin1Char('x')) + ">";
}

void TestCsvWriter::cellText()
{
    QFETCH(int, type);
    QFETCH(double, number);
    QFETCH(QString, text);
    QFETCH(int, xf);
    QFETCH(QString, expected);
    CellSpec cell { 0, 0, sd::CellType(type), number, text.toStdString(), uint32_t(xf) };
    auto book = makeBook({ cell });
    sd::DisplayFormatter formatter(*book);
    QCOMPARE(QString::fromStdString(formatter.text(book->sheet(0)->cells[0])), expected);
}

void TestCsvWriter::failedWriteKeepsOldFile_data()
{
    QTest::addColumn<int>("budget");
    QTest::addColumn<bool>("zeroWrite");
    QTest::newRow("disk full at once") << 0 << false;
    QTest::newRow("disk full midway") << 100000 << false;
    QTest::newRow("write makes no progress") << 0 << true;
}

void TestCsvWriter::failedWriteKeepsOldFile()
{
    QFETCH(int, budget);
    QFETCH(bool, zeroWrite);
    QTemporaryDir dir;
    const QString path = dir.filePath("out.csv");
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old contents\r\n");
    }
    std::vector<CellSpec> cells;
    for (uint32_t r = 0; r < 50000; ++r)
        cells.push_back(str(r, 0, "some text that fills the file"));
    auto book = makeBook(cells);
    g_budget = budget;
    sd::setCsvWriteFunction(zeroWrite ? writesNothing : diskFullAfterBudget);
    const sd::Error e = sd::writeSheetCsv(*book, 0, path, QTextCodec::codecForName("UTF-8"));
    sd::setCsvWriteFunction(nullptr);
    QVERIFY(e);
    QCOMPARE(e.code, sd::ErrorCode::WriteFailed);
    QVERIFY2(e.where.find("out.csv") != std::string::npos, e.where.c_str());
    QCOMPARE(readAll(path), QByteArray("old contents\r\n"));
    QCOMPARE(entries(dir.path()), QStringList { "out.csv" });
}

void TestCsvWriter::readOnlyFolder()
{
    if (::geteuid() == 0)
        QSKIP("running as root: folder permissions are not enforced");
    QTemporaryDir dir;
    const QString path = dir.filePath("out.csv");
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old\r\n");
    }
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0555) == 0);
    auto book = makeBook({ num(0, 0, 1) });
    const sd::Error e = sd::writeSheetCsv(*book, 0, path, QTextCodec::codecForName("UTF-8"));
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    QCOMPARE(e.code, sd::ErrorCode::WriteFailed);
    QCOMPARE(readAll(path), QByteArray("old\r\n"));
    QCOMPARE(entries(dir.path()), QStringList { "out.csv" });
}

// Partial writes that do make progress still produce the whole file.
void TestCsvWriter::shortWritesComplete()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("out.csv");
    auto book = makeBook({ str(0, 0, "hello, world"), num(1, 1, 42) });
    sd::setCsvWriteFunction(shortWrites);
    const sd::Error e = sd::writeSheetCsv(*book, 0, path, QTextCodec::codecForName("UTF-8"));
    sd::setCsvWriteFunction(nullptr);
    QVERIFY2(!e, e.description().c_str());
    QCOMPARE(readAll(path), QByteArray("\"hello, world\",\r\n,42\r\n"));
}

// A replaced file keeps its permissions; a new one gets 0666 less the umask.
void TestCsvWriter::permissions_data()
{
    QTest::addColumn<int>("oldMode"); // -1: no older file
    QTest::addColumn<int>("umask");
    QTest::addColumn<int>("expected");
    QTest::newRow("new file") << -1 << 022 << 0644;
    QTest::newRow("new file, private umask") << -1 << 077 << 0600;
    QTest::newRow("private file stays private") << 0600 << 022 << 0600;
    QTest::newRow("shared file stays shared") << 0664 << 077 << 0664;
}

void TestCsvWriter::permissions()
{
    QFETCH(int, oldMode);
    QFETCH(int, umask);
    QFETCH(int, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath("out.csv");
    const QByteArray native = QFile::encodeName(path);
    if (oldMode >= 0) {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old\r\n");
        old.close();
        QVERIFY(::chmod(native.constData(), mode_t(oldMode)) == 0);
    }
    auto book = makeBook({ num(0, 0, 1) });
    const mode_t savedMask = ::umask(mode_t(umask));
    const sd::Error e = sd::writeSheetCsv(*book, 0, path, QTextCodec::codecForName("UTF-8"));
    ::umask(savedMask);
    QVERIFY2(!e, e.description().c_str());
    struct stat st;
    QVERIFY(::stat(native.constData(), &st) == 0);
    QCOMPARE(int(st.st_mode & 07777), expected);
    QCOMPARE(readAll(path), QByteArray("1\r\n"));
}

// A target whose name is near the file-name limit: the temporary file next
// to it must still fit that limit.
void TestCsvWriter::longFileName()
{
    QTemporaryDir dir;
    const QString name = QString(120, QChar(0x00E9)) + QString(8, 'x') + ".csv"; // 252 bytes
    const QString path = dir.filePath(name);
    auto book = makeBook({ num(0, 0, 1) });
    const sd::Error e = sd::writeSheetCsv(*book, 0, path, QTextCodec::codecForName("UTF-8"));
    QVERIFY2(!e, e.description().c_str());
    QCOMPARE(readAll(path), QByteArray("1\r\n"));
    QCOMPARE(entries(dir.path()), QStringList { name });
}

// The rename into place fails: the error names the target and no temporary
// file is left behind.
void TestCsvWriter::targetIsAFolder()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("out.csv"));
    auto book = makeBook({ num(0, 0, 1) });
    const sd::Error e
        = sd::writeSheetCsv(*book, 0, dir.filePath("out.csv"), QTextCodec::codecForName("UTF-8"));
    QCOMPARE(e.code, sd::ErrorCode::WriteFailed);
    QVERIFY(entries(dir.path()).isEmpty());
    QVERIFY(QFileInfo(dir.filePath("out.csv")).isDir());
}

// A real short write from the kernel: with the file-size limit lowered, the
// write that crosses it is cut short and the next fails with EFBIG, as on a
// full small file system. Works for any user, root included.
void TestCsvWriter::fileSizeLimit()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("out.csv");
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old contents\r\n");
    }
    std::vector<CellSpec> cells;
    for (uint32_t r = 0; r < 20000; ++r)
        cells.push_back(str(r, 0, "a line of text that makes the file large"));
    auto book = makeBook(cells);
    rlimit saved {};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
    const sd::Error e = sd::writeSheetCsv(*book, 0, path, QTextCodec::codecForName("UTF-8"));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    QCOMPARE(e.code, sd::ErrorCode::WriteFailed);
    QCOMPARE(readAll(path), QByteArray("old contents\r\n"));
    QCOMPARE(entries(dir.path()), QStringList { "out.csv" });
}

// A stop request is honoured inside a long sheet, between blocks of output:
// the write ends early, its temporary file goes and an older file stays.
void TestCsvWriter::stopInsideSheet_data()
{
    QTest::addColumn<bool>("olderFile");
    QTest::addColumn<int>("stopAtPoll"); // 0: never
    QTest::newRow("stop, no older file") << false << 2;
    QTest::newRow("stop, older file stays") << true << 2;
    QTest::newRow("stop before the first block") << true << 1;
    QTest::newRow("never asked to stop") << false << 0;
}

void TestCsvWriter::stopInsideSheet()
{
    QFETCH(bool, olderFile);
    QFETCH(int, stopAtPoll);
    QTemporaryDir dir;
    const QString path = dir.filePath("out.csv");
    if (olderFile) {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old contents\r\n");
    }
    // About 3 MB: several blocks.
    std::vector<CellSpec> cells;
    for (uint32_t r = 0; r < 40000; ++r)
        cells.push_back(str(r, 0, std::string(70, 'x')));
    auto book = makeBook(cells);
    int polls = 0;
    const sd::Error e = sd::writeSheetCsv(*book, 0, path, QTextCodec::codecForName("UTF-8"),
                                          [&] { return ++polls == stopAtPoll; });
    if (stopAtPoll == 0) {
        QVERIFY2(!e, e.description().c_str());
        QVERIFY(polls >= 3);
        QCOMPARE(QFileInfo(path).size(), qint64(40000 * 72));
        return;
    }
    QCOMPARE(polls, stopAtPoll);
    QCOMPARE(e.code, sd::ErrorCode::WriteFailed);
    QCOMPARE(readAll(path), olderFile ? QByteArray("old contents\r\n") : QByteArray("<missing>"));
    QCOMPARE(entries(dir.path()), olderFile ? QStringList { "out.csv" } : QStringList());
}

// A link in the target's place is replaced by the new file; what it points
// to keeps its content and passes on nothing, its permissions included.
void TestCsvWriter::linkInTargetsPlace()
{
    QTemporaryDir dir, elsewhere;
    const QString outside = elsewhere.filePath("private.csv");
    {
        QFile f(outside);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("outside\r\n");
    }
    QVERIFY(QFile::setPermissions(outside, QFile::ReadOwner | QFile::WriteOwner));
    const QString path = dir.filePath("out.csv");
    QVERIFY(QFile::link(outside, path));
    auto book = makeBook({ num(0, 0, 1) });
    const sd::Error e = sd::writeSheetCsv(*book, 0, path, QTextCodec::codecForName("UTF-8"));
    QVERIFY2(!e, e.description().c_str());
    QVERIFY(!QFileInfo(path).isSymLink());
    QCOMPARE(readAll(path), QByteArray("1\r\n"));
    QCOMPARE(readAll(outside), QByteArray("outside\r\n"));
    QVERIFY(QFileInfo(path).permissions() & QFile::ReadGroup); // not the link target's 0600
}

namespace {

bool makeFile(const QString &path, qint64 ageSeconds)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write("partial") != 7)
        return false;
    f.close();
    const QDateTime when = QDateTime::currentDateTime().addSecs(-ageSeconds);
    return f.open(QIODevice::ReadWrite) && f.setFileTime(when, QFileDevice::FileModificationTime);
}

} // namespace

namespace {

// A temporary file as the writer names it (its tag made from its inode),
// `ageSeconds` old; its name.
QString makeOwnTemporary(const QString &folder, const QByteArray &target, qint64 ageSeconds)
{
    const QString provisional = folder + "/provisional";
    struct stat st;
    if (!makeFile(provisional, ageSeconds)
        || ::stat(QFile::encodeName(provisional).constData(), &st) != 0)
        return {};
    const QString name = QFile::decodeName(sd::csvTemporaryNameFor(target, st.st_ino, 0));
    return QFile::rename(provisional, folder + "/" + name) ? name : QString();
}

} // namespace

// Only the writer's own temporary files (named from their own inodes) that
// nobody is writing, changed before the batch began, are removed; a file
// that merely has the form of such a name stays, however old: it may be the
// user's.
void TestCsvWriter::staleTemporaryFiles()
{
    QTemporaryDir dir;
    QStringList kept = { ".stale.csv.sheetdrain-1x2y.tmp",
                         ".stale2(Sheet 1).csv.sheetdrain-0.tmp",
                         ".notes.v2.tmp",
                         "a.csv.sheetdrain-1.tmp",
                         ".b.csv.sheetdrain-ABC.tmp",
                         ".c.csv.sheetdrain-12345678901234.tmp",
                         "out.csv" };
    for (const QString &name : qAsConst(kept))
        QVERIFY(makeFile(dir.filePath(name), 3600));
    const QString stale = makeOwnTemporary(dir.path(), "stale.csv", 3600);
    const QString stale2 = makeOwnTemporary(dir.path(), "stale2(Sheet 1).csv", 7200);
    QVERIFY(!stale.isEmpty() && !stale2.isEmpty());
    // The writer's, but made after the batch began, or at work (locked).
    kept << makeOwnTemporary(dir.path(), "fresh.csv", 0);
    const QString busy = makeOwnTemporary(dir.path(), "busy.csv", 3600);
    kept << busy;
    // A writer's name on another file (a copy put in its place) is not its.
    const QString copied = makeOwnTemporary(dir.path(), "copied.csv", 3600);
    QVERIFY(makeFile(dir.filePath("copy"), 3600));
    QVERIFY(::rename(QFile::encodeName(dir.filePath("copy")).constData(),
                     QFile::encodeName(dir.filePath(copied)).constData())
            == 0);
    kept << copied;
    QVERIFY(makeFile(dir.filePath("target"), 3600));
    QVERIFY(QFile::link(dir.filePath("target"), dir.filePath(".link.csv.sheetdrain-9.tmp")));
    kept << "target"
         << ".link.csv.sheetdrain-9.tmp";
    const int locked = ::open(QFile::encodeName(dir.filePath(busy)).constData(), O_RDONLY);
    QVERIFY(locked >= 0);
    QCOMPARE(::flock(locked, LOCK_EX), 0);

    const qint64 batchStart = QDateTime::currentMSecsSinceEpoch() - 60000;
    QCOMPARE(sd::removeStaleCsvTemporaryFiles(dir.path(), batchStart), 2);
    ::close(locked);
    kept.sort();
    QStringList left = entries(dir.path());
    left.sort();
    QCOMPARE(left, kept);
    QCOMPARE(sd::removeStaleCsvTemporaryFiles(dir.filePath("missing"), batchStart), 0);
}

ssize_t killWriter(int, const void *, size_t)
{
    ::raise(SIGKILL);
    return -1;
}

// A writer killed in the middle leaves nothing where the file system has
// unnamed files (O_TMPFILE); elsewhere its temporary file (hidden, named by
// the writer), which the cleanup of a later batch recognises and removes.
void TestCsvWriter::tempLeftByKilledWriter()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("report(Sheet1).csv");
    auto book = makeBook({ num(0, 0, 1) });
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        sd::setCsvWriteFunction(killWriter);
        sd::writeSheetCsv(*book, 0, path, QTextCodec::codecForName("UTF-8"));
        ::_exit(0);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status));
    const QStringList left = entries(dir.path());
    const int tmpfile
        = ::open(QFile::encodeName(dir.path()).constData(), O_TMPFILE | O_WRONLY, 0600);
    if (tmpfile >= 0) {
        ::close(tmpfile);
        QCOMPARE(left, QStringList());
        return;
    }
    QCOMPARE(left.size(), 1);
    QVERIFY2(left[0].startsWith(".report(Sheet1).csv.") && left[0].endsWith(".tmp"),
             qPrintable(left[0]));
    QCOMPARE(
        sd::removeStaleCsvTemporaryFiles(dir.path(), QDateTime::currentMSecsSinceEpoch() + 1000),
        1);
    QVERIFY(entries(dir.path()).isEmpty());
}

// A spool that cannot be linked into the folder (here: made with O_EXCL,
// which forbids it) leaves the file to be written the usual way, with the
// folder opened once: no descriptor is left behind.
void TestCsvWriter::unlinkableSpoolWrittenAnew()
{
    QTemporaryDir dir;
    const int spool = ::open(QFile::encodeName(dir.path()).constData(),
                             O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    if (spool < 0)
        QSKIP("no unnamed files here");
    auto openDescriptors = [] { return QDir("/proc/self/fd").count(); };
    const uint before = openDescriptors();
    {
        sd::CsvTemporaryFile file(dir.filePath("a.csv"));
        bool adopted = true;
        QVERIFY(!file.adopt(spool, &adopted));
        QVERIFY(!adopted);
        QVERIFY(!file.open());
        QVERIFY(!file.write("x\r\n", 3));
        QVERIFY(!file.commit());
    }
    QCOMPARE(openDescriptors(), before);
    ::close(spool);
    QFile written(dir.filePath("a.csv"));
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), QByteArray("x\r\n"));
}

QTEST_GUILESS_MAIN(TestCsvWriter)
#include "tst_csvwriter.moc"
