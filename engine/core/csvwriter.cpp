#include "core/csvwriter.h"
#include "core/csvbounds_p.h"
#include "core/csvwriterfile_p.h"
#include "core/display.h"
#include "core/sheetbudget.h"

#include "io/limits.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTextCodec>

#include <cstring>
#include <memory>
#include <vector>

namespace sd {

namespace {

// MIB enum of UTF-8: text passes through unchanged.
constexpr int kUtf8Mib = 106;

bool needsQuotes(const char *p, const char *end)
{
    for (; p < end; ++p) {
        const char c = *p;
        if (c == ',' || c == '"' || c == '\n' || c == '\r')
            return true;
    }
    return false;
}

// Quotes the field that starts at `from` in `out`, doubling inner quotes.
void quoteTail(std::string &out, size_t from)
{
    std::string field = out.substr(from);
    out.resize(from);
    out += '"';
    for (char c : field) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

// Encodes text; a character the codec cannot hold becomes one '?', also
// when it lies outside the Basic Multilingual Plane (two UTF-16 units).
// `state` carries a codec's state from one block of output to the next.
QByteArray encodeText(QTextCodec *codec, QString text, QTextCodec::ConverterState *state = nullptr)
{
    for (int i = 0; i + 1 < text.size(); ++i) {
        if (!text.at(i).isHighSurrogate() || !text.at(i + 1).isLowSurrogate())
            continue;
        if (codec->canEncode(text.mid(i, 2))) {
            ++i;
            continue;
        }
        text.replace(i, 2, QLatin1Char('?'));
    }
    return state ? codec->fromUnicode(text.constData(), text.size(), state)
                 : codec->fromUnicode(text);
}

// Whether the codec writes ASCII as itself (every 8-bit locale encoding
// does), so that only the runs of other characters need converting.
bool asciiCompatible(QTextCodec *codec)
{
    static const char probe[] = "Az09,\"\r\n ?";
    return codec->fromUnicode(QString::fromLatin1(probe)) == QByteArray(probe);
}

// Converts UTF-8 text to an ASCII-compatible codec's encoding: ASCII passes
// through, other characters of the Basic Multilingual Plane go through a
// table filled from the codec on first use, and the rest (characters beyond
// it, invalid UTF-8) through the codec one by one.
class RunEncoder
{
public:
    explicit RunEncoder(QTextCodec *codec)
        : m_codec(codec)
        , m_pages(kBmpSize / kPageSize)
    {
    }

    void encode(const std::string &text, std::string &out)
    {
        out.clear();
        const auto *p = reinterpret_cast<const uint8_t *>(text.data());
        const auto *const end = p + text.size();
        while (p < end) {
            const auto *run = p;
            while (p < end && *p < 0x80)
                ++p;
            out.append(reinterpret_cast<const char *>(run), size_t(p - run));
            if (p == end)
                break;
            const size_t n = sequenceLength(p, end);
            const uint32_t cp = n ? decode(p, n) : 0;
            if (n >= 2 && n <= 3 && cp < kBmpSize && !(cp >= 0xD800 && cp <= 0xDFFF)) {
                Entry &e = entry(cp);
                if (e.length == 0)
                    fill(cp, e);
                out.append(e.bytes, e.length);
                p += n;
            } else {
                const size_t take = n ? n : 1;
                const QByteArray bytes = encodeText(
                    m_codec, QString::fromUtf8(reinterpret_cast<const char *>(p), int(take)));
                out.append(bytes.constData(), size_t(bytes.size()));
                p += take;
            }
        }
    }

private:
    static constexpr uint32_t kBmpSize = 0x10000;
    // The table is kept in pages, allocated when a character of theirs first
    // appears: a sheet in one script touches a few of them.
    static constexpr uint32_t kPageSize = 256;
    struct Entry
    {
        char bytes[7] = {};
        uint8_t length = 0; // 0: not filled yet
    };

    // Length of the well-formed UTF-8 sequence at p, or 0.
    static size_t sequenceLength(const uint8_t *p, const uint8_t *end)
    {
        const size_t n = p[0] >= 0xF0 ? 4 : p[0] >= 0xE0 ? 3 : p[0] >= 0xC2 ? 2 : 0;
        if (n == 0 || size_t(end - p) < n || p[0] > 0xF4)
            return 0;
        for (size_t k = 1; k < n; ++k)
            if ((p[k] & 0xC0) != 0x80)
                return 0;
        const uint32_t cp = decode(p, n);
        if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return 0;
        return n;
    }

    static uint32_t decode(const uint8_t *p, size_t n)
    {
        uint32_t cp = n == 2 ? p[0] & 0x1F : n == 3 ? p[0] & 0x0F : p[0] & 0x07;
        for (size_t k = 1; k < n; ++k)
            cp = (cp << 6) | (p[k] & 0x3F);
        return cp;
    }

    void fill(uint32_t cp, Entry &e)
    {
        const QByteArray bytes = encodeText(m_codec, QString(QChar(char16_t(cp))));
        if (bytes.isEmpty() || size_t(bytes.size()) > sizeof e.bytes) {
            e.bytes[0] = '?';
            e.length = 1;
            return;
        }
        std::memcpy(e.bytes, bytes.constData(), size_t(bytes.size()));
        e.length = uint8_t(bytes.size());
    }

    QTextCodec *m_codec;
    Entry &entry(uint32_t cp)
    {
        auto &page = m_pages[cp / kPageSize];
        if (!page)
            page = std::make_unique<Entry[]>(kPageSize);
        return page[cp % kPageSize];
    }

    std::vector<std::unique_ptr<Entry[]>> m_pages;
};

} // namespace

void appendCsvField(std::string_view text, std::string &out)
{
    const size_t from = out.size();
    out.append(text.data(), text.size());
    if (needsQuotes(out.data() + from, out.data() + out.size()))
        quoteTail(out, from);
}

Error writeSheetCsv(Workbook &book, int sheetIndex, const QString &path, QTextCodec *codec,
                    const std::function<bool()> &stopRequested)
{
    Error error;
    const Sheet *sheet = book.sheet(sheetIndex, &error);
    if (!sheet)
        return error;
    if (!codec)
        codec = QTextCodec::codecForLocale();
    const bool passThrough = !codec || codec->mibEnum() == kUtf8Mib;
    const bool byRuns = !passThrough && asciiCompatible(codec);
    if ((error = checkCsvSize(book, sheetIndex, *sheet, path)))
        return error;

    CsvTemporaryFile file(path);
    if ((error = file.open()))
        return error;

    // No byte-order mark, neither at the start nor before each block (a
    // codec such as UTF-16 writes one whenever it starts without a state).
    QTextCodec::ConverterState codecState(QTextCodec::IgnoreHeader);
    std::string buffer, encoded;
    std::unique_ptr<RunEncoder> encoder;
    if (byRuns)
        encoder = std::make_unique<RunEncoder>(codec);
    buffer.reserve(kCsvBlockBytes + (kCsvBlockBytes >> 2));
    uint64_t written = 0; // this sheet's bytes, counted against the workbook's bound
    auto write = [&](const char *data, size_t size) -> Error {
        written += size;
        if (book.csvBytesWritten + written > kMaxWorkbookCsvBytes)
            return limitError(QFile::encodeName(path).toStdString(), kMaxWorkbookCsvBytes,
                              "bytes of CSV from one workbook (" + sheetLabel(book, sheetIndex)
                                  + " is left unwritten)");
        return file.write(data, size);
    };
    // A stop request is honoured between blocks, also inside a long sheet;
    // the temporary file goes and an older file of that name stays.
    auto flush = [&]() -> Error {
        if (stopRequested && stopRequested())
            return Error(ErrorCode::WriteFailed, QFile::encodeName(path).toStdString(),
                         "stopped before the end of the sheet");
        Error e;
        if (passThrough) {
            e = write(buffer.data(), buffer.size());
        } else if (byRuns) {
            encoder->encode(buffer, encoded);
            e = write(encoded.data(), encoded.size());
        } else {
            const QByteArray bytes = encodeText(
                codec, QString::fromUtf8(buffer.data(), int(buffer.size())), &codecState);
            e = write(bytes.constData(), size_t(bytes.size()));
        }
        buffer.clear();
        return e;
    };

    DisplayFormatter formatter(book);
    const CellRange range = sheet->usedRange();
    auto cell = sheet->cells.begin();
    const auto end = sheet->cells.end();
    for (uint32_t row = range.firstRow; row <= range.lastRow; ++row) {
        uint32_t col = range.firstCol; // column of the field being written
        for (; cell != end && cell->row == row; ++cell) {
            for (; col < cell->col; ++col)
                buffer += ',';
            const size_t from = buffer.size();
            formatter.append(*cell, buffer);
            if (needsQuotes(buffer.data() + from, buffer.data() + buffer.size()))
                quoteTail(buffer, from);
            // Within a row too: a row of 16,384 cells of 32,767 characters
            // is a gigabyte.
            if (buffer.size() >= kCsvBlockBytes && (error = flush()))
                return error;
        }
        for (; col < range.lastCol; ++col)
            buffer += ',';
        buffer += "\r\n";
        if (buffer.size() >= kCsvBlockBytes && (error = flush()))
            return error;
    }
    if ((error = flush()) || (error = file.commit()))
        return error;
    book.csvBytesWritten += written;
    return {};
}

} // namespace sd
