#include "core/csvwriter.h"
#include "core/csvbounds_p.h"
#include "core/csvoutput_p.h"
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

} // namespace

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

void appendCsvField(std::string_view text, std::string &out)
{
    const size_t from = out.size();
    out.append(text.data(), text.size());
    if (needsQuotes(out.data() + from, out.data() + out.size()))
        quoteTail(out, from);
}

CsvBlockOutput::CsvBlockOutput(Workbook &book, int sheetIndex, const QString &path,
                               QTextCodec *codec, const std::function<bool()> &stopRequested)
    : m_book(book)
    , m_sheetIndex(sheetIndex)
    , m_path(path)
    , m_codec(codec)
    , m_stopRequested(stopRequested)
    , m_passThrough(!codec || codec->mibEnum() == kUtf8Mib)
    , m_file(path)
{
    if (!m_passThrough && asciiCompatible(codec))
        m_encoder = std::make_unique<RunEncoder>(codec);
    m_buffer.reserve(kCsvBlockBytes + (kCsvBlockBytes >> 2));
}

CsvBlockOutput::CsvBlockOutput(Workbook &book, int sheetIndex, int spoolFd)
    : m_book(book)
    , m_sheetIndex(sheetIndex)
    , m_path(m_noPath)
    , m_codec(nullptr)
    , m_stopRequested(m_noStop)
    , m_passThrough(true)
    , m_file(QString())
    , m_spoolFd(spoolFd)
{
    m_buffer.reserve(kCsvBlockBytes + (kCsvBlockBytes >> 2));
}

CsvBlockOutput::~CsvBlockOutput() = default;

void CsvBlockOutput::appendField(DisplayFormatter &formatter, const Cell &cell)
{
    const size_t from = m_buffer.size();
    formatter.append(cell, m_buffer);
    if (needsQuotes(m_buffer.data() + from, m_buffer.data() + m_buffer.size()))
        quoteTail(m_buffer, from);
}

void CsvBlockOutput::appendField(DisplayFormatter &formatter, const Cell &cell,
                                 const std::string &text)
{
    const size_t from = m_buffer.size();
    formatter.appendText(cell, text, m_buffer);
    if (needsQuotes(m_buffer.data() + from, m_buffer.data() + m_buffer.size()))
        quoteTail(m_buffer, from);
}

Error CsvBlockOutput::write(const char *data, size_t size)
{
    m_written += size;
    if (m_book.csvBytesWritten + m_written > kMaxWorkbookCsvBytes)
        return limitError(QFile::encodeName(m_path).toStdString(), kMaxWorkbookCsvBytes,
                          "bytes of CSV from one workbook (" + sheetLabel(m_book, m_sheetIndex)
                              + " is left unwritten)");
    return m_file.write(data, size);
}

// A stop request is honoured between blocks, also inside a long sheet; the
// temporary file goes and an older file of that name stays.
Error CsvBlockOutput::flush()
{
    if (m_spoolFd >= 0) {
        const int err = writeAllBytes(m_spoolFd, m_buffer.data(), m_buffer.size());
        if (!err)
            m_spoolWriteback.wrote(m_spoolFd, m_buffer.size());
        m_buffer.clear();
        return err ? Error(ErrorCode::WriteFailed, "spool", std::strerror(err)) : Error();
    }
    if (m_stopRequested && m_stopRequested()) {
        m_stopped = true;
        return Error(ErrorCode::WriteFailed, QFile::encodeName(m_path).toStdString(),
                     "stopped before the end of the sheet");
    }
    Error e;
    if (m_passThrough) {
        e = write(m_buffer.data(), m_buffer.size());
    } else if (m_encoder) {
        m_encoder->encode(m_buffer, m_encoded);
        e = write(m_encoded.data(), m_encoded.size());
    } else {
        const QByteArray bytes = encodeText(
            m_codec, QString::fromUtf8(m_buffer.data(), int(m_buffer.size())), &m_codecState);
        e = write(bytes.constData(), size_t(bytes.size()));
    }
    m_buffer.clear();
    return e;
}

Error CsvBlockOutput::adoptSpool(int fd, uint64_t size, bool *adopted)
{
    *adopted = false;
    if (!m_passThrough || m_spoolFd >= 0)
        return {};
    if (m_book.csvBytesWritten + size > kMaxWorkbookCsvBytes)
        return {}; // the usual way reports it, with the bytes that fit
    if (Error e = m_file.adopt(fd, adopted))
        return e;
    if (*adopted)
        m_written = size;
    return {};
}

Error CsvBlockOutput::commit()
{
    if (m_spoolFd >= 0)
        return {};
    if (Error e = m_file.commit())
        return e;
    m_book.csvBytesWritten += m_written;
    return {};
}

namespace {

// The sheet read whole (and recalculated where the application would),
// then written.
Error writeWholeSheetCsv(Workbook &book, int sheetIndex, const QString &path, QTextCodec *codec,
                         const std::function<bool()> &stopRequested)
{
    Error error;
    const Sheet *sheet = book.sheet(sheetIndex, &error);
    if (!sheet)
        return error;
    if ((error = checkCsvSize(book, sheetIndex, *sheet, path)))
        return error;

    CsvBlockOutput out(book, sheetIndex, path, codec, stopRequested);
    if ((error = out.open()))
        return error;
    std::string &buffer = out.buffer();
    DisplayFormatter formatter(book);
    const CellRange range = sheet->usedRange();
    auto cell = sheet->cells.begin();
    const auto end = sheet->cells.end();
    for (uint32_t row = range.firstRow; row <= range.lastRow; ++row) {
        uint32_t col = range.firstCol; // column of the field being written
        for (; cell != end && cell->row == row; ++cell) {
            for (; col < cell->col; ++col)
                buffer += ',';
            out.appendField(formatter, *cell);
            // Within a row too: a row of 16,384 cells of 32,767 characters
            // is a gigabyte.
            if ((error = out.flushIfFull()))
                return error;
        }
        for (; col < range.lastCol; ++col)
            buffer += ',';
        buffer += "\r\n";
        if ((error = out.flushIfFull()))
            return error;
    }
    if ((error = out.flush()) || (error = out.commit()))
        return error;
    return {};
}

} // namespace

Error writeSheetCsv(Workbook &book, int sheetIndex, const QString &path, QTextCodec *codec,
                    const std::function<bool()> &stopRequested)
{
    if (!codec)
        codec = QTextCodec::codecForLocale();
    Error error;
    if (streamSheetCsv(book, sheetIndex, path, codec, stopRequested, &error))
        return error;
    return writeWholeSheetCsv(book, sheetIndex, path, codec, stopRequested);
}

} // namespace sd
