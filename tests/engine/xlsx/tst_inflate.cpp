// The streaming inflater and the zip stream over it: every way deflate data
// can be cut into input pieces and output windows must give the same bytes,
// and damaged or cut streams must end in an error, never in a crash or in
// quietly wrong output.

#include "zipbuilder.h"

#include "io/inflate.h"
#include "io/zip.h"

#include <QtTest>

#include <cstdint>

using namespace sd;

namespace {

// Deterministic sheet-like text: long enough to need many deflate blocks
// and matches reaching back across the whole 32 KB window.
std::string sheetText(size_t size)
{
    std::string s;
    uint32_t x = 12345;
    for (int row = 1; s.size() < size; ++row) {
        s += "<row r=\"" + std::to_string(row) + "\">";
        for (int c = 0; c < 8; ++c) {
            x = x * 1103515245u + 12345u;
            s += "<c t=\"n\"><v>" + std::to_string(x >> 12) + "</v></c>";
        }
        s += "</row>";
    }
    s.resize(size);
    return s;
}

std::string noise(size_t size)
{
    std::string s(size, '\0');
    uint32_t x = 99;
    for (char &c : s) {
        x = x * 1664525u + 1013904223u;
        c = char(x >> 24);
    }
    return s;
}

// Raw deflate with zlib's strategies; flushEvery > 0 closes a block (with an
// empty stored block after it) every so many input bytes.
std::string deflateWith(const std::string &data, int level, int strategy, size_t flushEvery = 0)
{
    z_stream z {};
    deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, strategy);
    std::string out(deflateBound(&z, uLong(data.size())) + data.size() / 8 + 64, '\0');
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    size_t pos = 0;
    do {
        const size_t n = flushEvery ? std::min(flushEvery, data.size() - pos) : data.size();
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data() + pos));
        z.avail_in = uInt(n);
        pos += n;
        deflate(&z, pos == data.size() ? Z_FINISH : Z_FULL_FLUSH);
    } while (pos < data.size());
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

enum class Outcome { End, Bad, Starved };

// Inflates compressed, fed in pieces of inPiece bytes, into windows of
// outWindow bytes. Stops at the end of the stream, at bad data, or when the
// input is used up and the inflater makes no more progress.
Outcome inflateAll(const std::string &compressed, size_t inPiece, size_t outWindow,
                   std::string &out, size_t limit = size_t(64) << 20)
{
    RawInflater inflater;
    if (!inflater.valid())
        return Outcome::Bad;
    std::string window(outWindow, '\0');
    size_t pos = 0;
    for (;;) {
        if (inflater.inputLeft() == 0 && pos < compressed.size()) {
            const size_t n = std::min(inPiece, compressed.size() - pos);
            inflater.setInput(compressed.data() + pos, n);
            pos += n;
        }
        size_t produced = 0;
        const RawInflater::Status st = inflater.inflate(window.data(), window.size(), &produced);
        out.append(window.data(), produced);
        if (st == RawInflater::Status::End)
            return Outcome::End;
        if (st == RawInflater::Status::Bad)
            return Outcome::Bad;
        if (produced < window.size() && pos == compressed.size() && inflater.inputLeft() == 0
            && produced == 0)
            return Outcome::Starved;
        if (out.size() > limit)
            return Outcome::Bad;
    }
}

// Opens a one-entry package and reads the entry through the zip stream in
// reads of readSize bytes; returns the first error.
Error readStreamed(const std::string &zipBytes, size_t readSize, std::string &out)
{
    ZipArchive zip;
    if (Error e = zip.openMemory(zipBytes.data(), zipBytes.size()))
        return e;
    Error e;
    auto stream = zip.open(zip.entries().front(), &e);
    if (!stream)
        return e;
    std::string buf(readSize, '\0');
    for (;;) {
        size_t got = 0;
        if ((e = stream->read(buf.data(), buf.size(), &got)))
            return e;
        if (got == 0)
            return {};
        out.append(buf.data(), got);
    }
}

} // namespace

Q_DECLARE_METATYPE(std::string)

class TestInflate : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void everyCutIsNoticed();
    void flippedBitsNeverPassUnnoticed();
    void zipStreamErrors_data();
    void zipStreamErrors();
    void storedEntriesStream();
};

void TestInflate::roundTrip_data()
{
    QTest::addColumn<std::string>("data");
    QTest::addColumn<std::string>("compressed");
    QTest::addColumn<int>("inPiece");
    QTest::addColumn<int>("outWindow");

    const std::string text = sheetText(3 << 20);
    const std::string small = sheetText(70000);
    const std::string random = noise(300000);
    const std::string zeros(1 << 20, '\0');
    struct Kind
    {
        const char *name;
        const std::string &data;
        std::string compressed;
    };
    const Kind kinds[] = {
        { "text, level 6", text, deflateWith(text, 6, Z_DEFAULT_STRATEGY) },
        { "text, level 1", text, deflateWith(text, 1, Z_DEFAULT_STRATEGY) },
        { "text, fixed codes", small, deflateWith(small, 9, Z_FIXED) },
        { "text, literals only", small, deflateWith(small, 6, Z_HUFFMAN_ONLY) },
        { "text, stored blocks", small, deflateWith(small, 0, Z_DEFAULT_STRATEGY) },
        { "text, flushed every 1000", small, deflateWith(small, 6, Z_DEFAULT_STRATEGY, 1000) },
        { "noise (stored by choice)", random, deflateWith(random, 9, Z_DEFAULT_STRATEGY) },
        { "zeros (258-byte matches)", zeros, deflateWith(zeros, 9, Z_DEFAULT_STRATEGY) },
    };
    // Input pieces and output windows from one byte up past the 32 KB
    // history, the 64 KB input chunk and the 256 KB and 1 MB windows used.
    const std::pair<int, int> shapes[] = {
        { 1, 4096 },          { 65536, 1 },         { 13, 7 }, { 65536, 32769 }, { 65536, 262144 },
        { 1 << 20, 1 << 20 }, { 1 << 30, 1 << 30 },
    };
    for (const Kind &k : kinds) {
        for (const auto &shape : shapes) {
            // Byte-at-a-time shapes only on the smaller inputs.
            if ((shape.first < 16 || shape.second < 16) && k.data.size() > 400000)
                continue;
            const std::string row = std::string(k.name) + ", in " + std::to_string(shape.first)
                + ", out " + std::to_string(shape.second);
            QTest::newRow(row.c_str()) << k.data << k.compressed << shape.first << shape.second;
        }
    }
    QTest::newRow("empty stream") << std::string() << deflateWith("", 6, Z_DEFAULT_STRATEGY) << 1
                                  << 1;
}

void TestInflate::roundTrip()
{
    QFETCH(std::string, data);
    QFETCH(std::string, compressed);
    QFETCH(int, inPiece);
    QFETCH(int, outWindow);
    // A window of 1 GB stands for "the whole output at once".
    const size_t window = std::min<size_t>(size_t(outWindow), data.size() + 1);
    std::string out;
    QCOMPARE(int(inflateAll(compressed, size_t(inPiece), window, out)), int(Outcome::End));
    QCOMPARE(out.size(), data.size());
    QVERIFY(out == data);
}

void TestInflate::everyCutIsNoticed()
{
    // Cut anywhere, a stream never claims to be complete (a cut just after
    // the last symbol of the final block is the one exception: nothing is
    // missing but padding bits).
    const std::string data = sheetText(6000);
    for (const std::string &compressed :
         { deflateWith(data, 6, Z_DEFAULT_STRATEGY), deflateWith(data, 0, Z_DEFAULT_STRATEGY) }) {
        for (size_t cut = 0; cut + 1 < compressed.size(); ++cut) {
            std::string out;
            // Fed in 7-byte pieces or whole, so that the last piece ends
            // where the bytes do (an inflater reading ahead would show).
            const size_t piece = cut % 2 ? 7 : cut + 1;
            const Outcome o = inflateAll(compressed.substr(0, cut), piece, 512, out);
            QVERIFY2(o != Outcome::End || out == data, qPrintable(QString::number(cut)));
            QVERIFY(data.compare(0, out.size(), out) == 0);
        }
    }
}

void TestInflate::flippedBitsNeverPassUnnoticed()
{
    // One bit flipped anywhere: the zip stream either reports an error or,
    // where the bit was padding, yields the original bytes.
    const std::string data = sheetText(20000);
    const sdtest::BuiltZip good = sdtest::buildZip({ { "a.xml", data } });
    const size_t start = good.localOffsets[0] + 30 + 5;
    const size_t size = deflateWith(data, 6, Z_DEFAULT_STRATEGY).size();
    int errors = 0, flips = 0;
    for (size_t i = 0; i < size; i += 3, ++flips) {
        std::string bytes = good.bytes;
        bytes[start + i] = char(bytes[start + i] ^ (1 << (i % 8)));
        std::string out;
        const Error e = readStreamed(bytes, 65536, out);
        if (e) {
            ++errors;
            QCOMPARE(int(e.code), int(ErrorCode::Corrupt));
        } else {
            QVERIFY2(out == data, qPrintable(QString::number(i)));
        }
    }
    QVERIFY(errors >= flips - 1); // at most the final byte's padding
}

void TestInflate::zipStreamErrors_data()
{
    QTest::addColumn<std::string>("bytes");
    QTest::addColumn<QString>("detail");

    const std::string data = sheetText(200000);
    const sdtest::BuiltZip good = sdtest::buildZip({ { "a.xml", data } });
    const size_t start = good.localOffsets[0] + 30 + 5;
    const size_t size = sdtest::rawDeflate(data).size();
    {
        // The compressed size in both headers shrinks: the stream stops early.
        std::string cut = good.bytes;
        for (size_t at : { size_t(good.localOffsets[0] + 18), size_t(good.centralOffsets[0] + 20) })
            for (int i = 0; i < 4; ++i)
                cut[at + size_t(i)] = char(uint32_t(size / 2) >> (8 * i) & 0xFF);
        QTest::newRow("compressed size halved") << cut << "truncated part data";
    }
    {
        std::string bad = good.bytes;
        bad[start] = char(0x07); // final block of the reserved type 3
        QTest::newRow("reserved block type") << bad << "bad deflate data";
    }
    {
        // A stored block whose length and its complement disagree.
        std::string bad = good.bytes;
        const char stored[] = { 0x01, 0x10, 0x00, 0x10, 0x00 };
        std::copy(stored, stored + 5, bad.begin() + long(start));
        QTest::newRow("stored block lengths") << bad << "bad deflate data";
    }
    {
        // Fixed codes, then a match 1 byte back before any output.
        std::string bad = good.bytes;
        const char early[] = { 0x03, 0x02, 0x00, 0x00 };
        std::copy(early, early + 4, bad.begin() + long(start));
        QTest::newRow("distance before the start") << bad << "bad deflate data";
    }
}

void TestInflate::zipStreamErrors()
{
    QFETCH(std::string, bytes);
    QFETCH(QString, detail);
    for (size_t readSize : { size_t(1), size_t(4096), size_t(1) << 20 }) {
        std::string out;
        const Error e = readStreamed(bytes, readSize, out);
        QVERIFY2(e, "damage went unnoticed");
        QCOMPARE(int(e.code), int(ErrorCode::Corrupt));
        QVERIFY2(QString::fromStdString(e.detail).startsWith(detail), e.description().c_str());
    }
}

void TestInflate::storedEntriesStream()
{
    // Stored entries larger than the input chunk, read in odd sizes, and one
    // whose data is cut short by a lying size.
    const std::string data = noise(200001);
    const sdtest::BuiltZip stored = sdtest::buildZip({ { "a.xml", data, false } });
    for (size_t readSize : { size_t(1), size_t(65537), size_t(1) << 20 }) {
        std::string out;
        const Error e = readStreamed(stored.bytes, readSize, out);
        QVERIFY2(!e, e.description().c_str());
        QVERIFY(out == data);
    }
    std::string lying = stored.bytes;
    lying[stored.centralOffsets[0] + 24] = char(lying[stored.centralOffsets[0] + 24] ^ 1);
    std::string out;
    const Error e = readStreamed(lying, 4096, out);
    QVERIFY(e);
    QVERIFY2(QString::fromStdString(e.detail).contains("stored entry sizes differ"),
             e.description().c_str());
}

QTEST_GUILESS_MAIN(TestInflate)
#include "tst_inflate.moc"
