// Streaming a sheet into CSV: the reader turns the sheet into cells on a
// thread of its own and hands them over in bounded batches, while this
// thread renders, encodes and writes them. Memory stays at a few batches
// however large the sheet.
//
// A row of CSV is padded to the used range's last column, and the used range
// is certain only once the whole sheet is read (merged areas and formatted
// rows come late, cells may come out of order or twice, formulas may need
// recalculating over the whole workbook). So the sheet is written on a
// guess: the range the file states (xlsx <dimension>) is its used range, its
// cells come in order, each once, and nothing in it is recalculated. Every
// part of the guess is checked, as early as it can be; when one fails, the
// temporary file goes and the sheet is read and written whole, exactly as
// without streaming. Each check below says which difference it guards.

#include "core/csvbounds_p.h"
#include "core/csvoutput_p.h"
#include "core/csvwriter.h"
#include "core/csvwriter_p.h"
#include "core/sheetstream.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sd {

namespace {

// 16,384 cells are 512 KB; with sixteen batches queued, one being read and
// one being written, a streamed sheet holds about 9 MB of cells. Sixteen
// rather than four: the reader, the writer and the inflating thread share
// two cores on a small machine, and with a short queue a reader that ran
// ahead while the writer was off its core then waited, idle, for room
// (big.xlsx: 0.32 s with four, 0.29 s with sixteen; 32 or 64 no better).
constexpr size_t kDefaultBatchCells = 16384;
constexpr size_t kDefaultQueueBatches = 16;

// A sheet of less data than this is read whole: holding it costs little,
// and a reading thread and a spool file cost more than streaming saves
// (CPU per workbook went from about 110 to 180 microseconds on a tree of
// 2,000 small workbooks when every sheet streamed).
constexpr uint64_t kDefaultStreamFloorBytes = uint64_t(1) << 20;
uint64_t g_streamFloorBytes = kDefaultStreamFloorBytes;
size_t g_batchCells = 0;
size_t g_queueBatches = 0;
CsvStreamObserver g_observer = nullptr;

struct Batch
{
    std::vector<Cell> cells;
    std::vector<std::string> texts;
};

bool sameRange(const CellRange &a, const CellRange &b)
{
    return a.firstRow == b.firstRow && a.lastRow == b.lastRow && a.firstCol == b.firstCol
        && a.lastCol == b.lastCol;
}

bool spanInside(const Span &s, uint32_t first, uint32_t last)
{
    return s.empty() || (s.first >= first && s.last <= last);
}

// The bounded queue between the reader's thread and the writer's. Either
// side may give up (abandon); the other sees it at its next call. Both
// threads write its lock, so it is kept on cache lines of its own, away
// from either thread's stack (see Reader::OwnLines).
class alignas(64) Channel final : public SheetStream
{
public:
    Channel(size_t batchCells, size_t depth, size_t textBase)
        : m_batchCells(batchCells)
        , m_depth(depth)
        , m_textBase(textBase)
    {
    }

    size_t batchCells() const override { return m_batchCells; }
    size_t textBase() const override { return m_textBase; }

    bool begin(const CellRange *hint, const Sheet &sheet) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!hint) {
            // Without a stated range there is nothing to pad rows to.
            abandonLocked("no dimension");
        } else if (!spanInside(sheet.formattedColumns, hint->firstCol, hint->lastCol)
                   || !spanInside(sheet.formattedRows, hint->firstRow, hint->lastRow)
                   || (sheet.hasExtent
                       && (sheet.extent.firstRow < hint->firstRow
                           || sheet.extent.lastRow > hint->lastRow
                           || sheet.extent.firstCol < hint->firstCol
                           || sheet.extent.lastCol > hint->lastCol))) {
            // Formatted columns or commented cells already widen the used
            // range past the stated one (checked again at the end).
            abandonLocked("formatted columns or comments outside the dimension");
        } else {
            m_hint = *hint;
            m_begun = true;
        }
        m_changed.notify_all();
        return !m_abandoned;
    }

    bool handOver(std::vector<Cell> &cells, std::vector<std::string> &texts) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_room.wait(lock, [this] { return m_abandoned || m_queue.size() < m_depth; });
        if (m_abandoned)
            return false;
        m_queue.emplace_back();
        m_queue.back().cells.swap(cells);
        m_queue.back().texts.swap(texts);
        if (!m_spare.empty()) { // buffers the writer is done with, emptied
            cells.swap(m_spare.back().cells);
            texts.swap(m_spare.back().texts);
            m_spare.pop_back();
        }
        m_changed.notify_all();
        return true;
    }

    void abandon(const char *why) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        abandonLocked(why);
    }

    // The reader is done (loadSheet returned).
    void finish()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done = true;
        m_changed.notify_all();
    }

    // Waits until the cells begin; false when the reading ended or was
    // abandoned before.
    bool waitBegin(CellRange &hint)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_begun || m_done || m_abandoned; });
        hint = m_hint;
        return m_begun && !m_abandoned;
    }

    // Takes the next batch, handing the buffers of the last one back;
    // false at the end of the reading or once abandoned.
    bool take(Batch &batch)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (batch.cells.capacity() > 0 && m_spare.size() <= m_depth) {
            batch.cells.clear();
            batch.texts.clear();
            m_spare.push_back(std::move(batch));
        }
        batch = Batch();
        m_changed.wait(lock, [this] { return !m_queue.empty() || m_done || m_abandoned; });
        if (m_abandoned || m_queue.empty())
            return false;
        batch = std::move(m_queue.front());
        m_queue.pop_front();
        m_room.notify_all();
        return true;
    }

    bool abandoned()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_abandoned;
    }

    const char *why()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_why;
    }

private:
    void abandonLocked(const char *why)
    {
        if (!m_abandoned)
            m_why = why;
        m_abandoned = true;
        m_changed.notify_all();
        m_room.notify_all();
    }

    const size_t m_batchCells, m_depth, m_textBase;
    std::mutex m_mutex;
    std::condition_variable m_changed; // for the writer: a batch, the start, the end
    std::condition_variable m_room; // for the reader: room in the queue
    std::deque<Batch> m_queue;
    std::vector<Batch> m_spare;
    CellRange m_hint;
    bool m_begun = false, m_done = false, m_abandoned = false;
    const char *m_why = nullptr;
    char m_after[64] = {}; // nothing else on the last line
};

// Reads the sheet on a thread of its own into the channel. Destroying it
// abandons the channel and waits for the thread.
class Reader
{
public:
    Reader(Workbook &book, int sheetIndex, Channel &channel)
        : m_channel(channel)
        , m_loader(*book.loader)
    {
        m_sheet.stream = &channel;
        // Without a thread the sheet is written whole, as before streaming.
        try {
            m_thread = std::thread([this, &book, sheetIndex] {
                const uint64_t before = book.loader->readingCost();
                try {
                    m_error = book.loader->loadSheet(book, sheetIndex, m_sheet);
                } catch (...) {
                    m_exception = std::current_exception();
                }
                m_cost = book.loader->readingCost() - before;
                m_channel.finish();
            });
        } catch (const std::system_error &) {
            m_channel.abandon("no thread");
        }
    }
    // A reading that is not kept is given back to the loader's bounds: the
    // sheet is read again, whole, and that reading counts as it always has.
    ~Reader()
    {
        if (m_thread.joinable()) {
            m_channel.abandon("stopped");
            m_thread.join();
        }
        if (!m_kept)
            m_loader.refundReading(m_cost);
    }
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    // Waits for the reading to end; what the loader threw is thrown here.
    void join()
    {
        m_thread.join();
        m_sheet.stream = nullptr;
        if (m_exception)
            std::rethrow_exception(m_exception);
    }
    const Error &error() const { return m_error; }
    // The sheet was written from this reading (or stopped in it).
    void keep() { m_kept = true; }
    // What was read besides the cells (after join()).
    const Sheet &sheet() const { return m_sheet; }

private:
    Channel &m_channel;
    SheetLoader &m_loader;
    uint64_t m_cost = 0;
    bool m_kept = false;
    // The reading thread appends to the sheet's cells for every cell it
    // reads; kept off the writer's stack, on cache lines of its own, so
    // that the writer's locals beside it do not bounce those lines between
    // the two cores (that doubled both threads' time on big.xlsx).
    struct alignas(64) OwnLines
    {
        Sheet sheet;
        char after[64] = {};
    };
    std::unique_ptr<OwnLines> m_lines = std::make_unique<OwnLines>();
    Sheet &m_sheet = m_lines->sheet;
    Error m_error;
    std::exception_ptr m_exception;
    std::thread m_thread;
};

// Writes streamed cells as the whole-sheet writer would write them from
// the stated range, and checks on the way that they come in order, each
// once, inside that range.
class RowWriter
{
public:
    enum class Step { Ok, Broken, Failed };

    RowWriter(Workbook &book, CsvBlockOutput &out, const CellRange &range, size_t textBase)
        : m_formatter(book)
        , m_out(out)
        , m_range(range)
        , m_textBase(textBase)
        , m_row(range.firstRow)
        , m_col(range.firstCol)
    {
    }

    Step write(const Batch &batch, Error &error)
    {
        std::string &buffer = m_out.buffer();
        for (const Cell &c : batch.cells) {
            if (m_any && (c.row < m_lastRow || (c.row == m_lastRow && c.col <= m_lastCol))) {
                // Sorting would move it, and of two the later wins.
                m_why = c.row == m_lastRow && c.col == m_lastCol ? "a cell twice"
                                                                 : "cells out of order";
                return Step::Broken;
            }
            if (c.row < m_range.firstRow || c.row > m_range.lastRow || c.col < m_range.firstCol
                || c.col > m_range.lastCol) {
                m_why = "a cell outside the dimension"; // the used range is wider
                return Step::Broken;
            }
            m_any = true;
            m_lastRow = c.row;
            m_lastCol = c.col;
            m_rows.add(c.row, c.row);
            m_columns.add(c.col, c.col);
            ++m_cells;
            while (m_row < c.row)
                if ((error = endRow()))
                    return Step::Failed;
            for (; m_col < c.col; ++m_col)
                buffer += ',';
            if (c.type == CellType::Text && c.text >= m_textBase) {
                if (c.text - m_textBase < batch.texts.size())
                    m_out.appendField(m_formatter, c, batch.texts[c.text - m_textBase]);
            } else {
                m_out.appendField(m_formatter, c);
            }
            if ((error = m_out.flushIfFull()))
                return Step::Failed;
        }
        return Step::Ok;
    }

    // The rows after the last cell and the last block.
    Error finish()
    {
        while (m_row <= m_range.lastRow)
            if (Error e = endRow())
                return e;
        return m_out.flush();
    }

    const Span &rows() const { return m_rows; }
    uint64_t cells() const { return m_cells; }
    const Span &columns() const { return m_columns; }
    const char *why() const { return m_why; }

private:
    Error endRow()
    {
        std::string &buffer = m_out.buffer();
        for (; m_col < m_range.lastCol; ++m_col)
            buffer += ',';
        buffer += "\r\n";
        ++m_row;
        m_col = m_range.firstCol;
        return m_out.flushIfFull();
    }

    DisplayFormatter m_formatter;
    CsvBlockOutput &m_out;
    const CellRange m_range;
    const size_t m_textBase;
    uint32_t m_row, m_col; // the row being written, the column of its next field
    bool m_any = false;
    uint32_t m_lastRow = 0, m_lastCol = 0; // the last cell
    Span m_rows, m_columns; // of the cells
    uint64_t m_cells = 0;
    const char *m_why = nullptr;
};

enum class Verdict { Written, Stopped, Whole };

// Writes the batches as they come. Written once the reading has ended;
// Whole or Stopped when a batch settles the sheet that way.
Verdict writeBatches(Channel &channel, RowWriter &rows, CsvBlockOutput &out, Error *error,
                     const char **why)
{
    Batch batch;
    while (channel.take(batch)) {
        Error e;
        const RowWriter::Step step = rows.write(batch, e);
        if (step == RowWriter::Step::Broken) {
            *why = rows.why();
            return Verdict::Whole;
        }
        if (step == RowWriter::Step::Failed) {
            if (!out.stopped()) {
                *why = "output error";
                return Verdict::Whole;
            }
            *error = e; // a stop request ends the sheet now
            return Verdict::Stopped;
        }
    }
    return Verdict::Written;
}

// Where a streamed sheet goes: the CSV file at `path`, or (spoolFd >= 0)
// a spool, whose used range and cell count are then set.
struct Target
{
    const QString &path;
    QTextCodec *codec;
    const std::function<bool()> &stopRequested;
    int spoolFd = -1;
    CellRange *usedRange = nullptr;
    uint64_t *cells = nullptr;
};

Verdict stream(Workbook &book, int sheetIndex, const Target &target, Error *error, const char **why)
{
    const QString &path = target.path;
    const auto channelLines = std::make_unique<Channel>(
        g_batchCells ? g_batchCells : kDefaultBatchCells,
        g_queueBatches ? g_queueBatches : kDefaultQueueBatches, book.strings.size());
    Channel &channel = *channelLines;
    Reader reader(book, sheetIndex, channel);
    CellRange range;
    if (!channel.waitBegin(range)) {
        *why = channel.why() ? channel.why() : "no cell data";
        return Verdict::Whole;
    }
    // The padding bound and the free space are checked as the whole-sheet
    // writer checks them, on the stated range (which must turn out to be
    // the used range); a sheet that passes either is written whole, which
    // refuses it with the same reason.
    if (target.spoolFd < 0 && checkCsvSize(book, sheetIndex, range, 0, path)) {
        *why = "padding or free space";
        return Verdict::Whole;
    }
    std::unique_ptr<CsvBlockOutput> file = target.spoolFd >= 0
        ? std::make_unique<CsvBlockOutput>(book, sheetIndex, target.spoolFd)
        : std::make_unique<CsvBlockOutput>(book, sheetIndex, path, target.codec,
                                           target.stopRequested);
    CsvBlockOutput &out = *file;
    // Errors of the output come after those of the reading: written whole,
    // the sheet reports whichever comes first.
    if (out.open()) {
        *why = "output error";
        return Verdict::Whole;
    }
    RowWriter rows(book, out, range, channel.textBase());
    const Verdict written = writeBatches(channel, rows, out, error, why);
    if (written != Verdict::Written) {
        if (written == Verdict::Stopped)
            reader.keep();
        return written;
    }
    reader.join();
    if (channel.abandoned()) {
        *why = channel.why();
        return Verdict::Whole;
    }
    // A damaged or too large sheet: its error, as the whole reading gives it.
    if (reader.error()) {
        *why = "read error";
        return Verdict::Whole;
    }
    // Merged areas, comments and formatted rows and columns widen the used
    // range without cells; some come after the cells.
    const Sheet &sheet = reader.sheet();
    if (!sameRange(sheet.usedRange(rows.rows(), rows.columns()), range)) {
        *why = "used range other than the dimension";
        return Verdict::Whole;
    }
    // Formulas the calculator would recalculate (no cached value, volatile,
    // a full calculation on load, a volatile formula elsewhere that this
    // sheet may depend on) change cells that are already written.
    if (book.calculator && !sheet.formulas.empty()
        && book.calculator->needsCalculation(book, sheetIndex, sheet)) {
        *why = "formulas to recalculate";
        return Verdict::Whole;
    }
    if (Error e = rows.finish()) {
        if (!out.stopped()) {
            *why = "output error";
            return Verdict::Whole;
        }
        *error = e;
        reader.keep();
        return Verdict::Stopped;
    }
    if (out.commit()) {
        *why = "output error";
        return Verdict::Whole;
    }
    reader.keep();
    if (target.usedRange)
        *target.usedRange = range;
    if (target.cells)
        *target.cells = rows.cells();
    return Verdict::Written;
}

} // namespace

void setCsvStreamBatching(size_t batchCells, size_t queueBatches)
{
    g_batchCells = batchCells;
    g_queueBatches = queueBatches;
}

void setCsvStreamFloor(uint64_t bytes)
{
    g_streamFloorBytes = bytes == UINT64_MAX ? kDefaultStreamFloorBytes : bytes;
}

void setCsvStreamObserver(CsvStreamObserver observer)
{
    g_observer = observer;
}

namespace {

// Only a loader that streams, and only a sheet not already in memory
// (another sheet's formulas may have read it).
bool streamable(const Workbook &book, int sheetIndex)
{
    return book.loader && book.loader->streams() && sheetIndex >= 0
        && size_t(sheetIndex) < book.sheets.size()
        && book.loader->sheetBytes(sheetIndex) >= g_streamFloorBytes
        && !(size_t(sheetIndex) < book.loaded.size() && book.loaded[size_t(sheetIndex)]);
}

bool streamTo(Workbook &book, int sheetIndex, const Target &target, Error *error)
{
    if (!streamable(book, sheetIndex))
        return false;
    const char *why = nullptr;
    const Verdict verdict = stream(book, sheetIndex, target, error, &why);
    if (g_observer) {
        const std::string outcome = verdict == Verdict::Written ? std::string("streamed")
            : verdict == Verdict::Stopped                       ? std::string("stopped")
                                          : "whole: " + std::string(why ? why : "?");
        g_observer(sheetIndex, outcome.c_str());
    }
    return verdict != Verdict::Whole;
}

} // namespace

bool streamSheetCsv(Workbook &book, int sheetIndex, const QString &path, QTextCodec *codec,
                    const std::function<bool()> &stopRequested, Error *error)
{
    return streamTo(book, sheetIndex, Target { path, codec, stopRequested }, error);
}

CsvSpool::~CsvSpool()
{
    if (fd >= 0)
        ::close(fd);
}

std::unique_ptr<CsvSpool> spoolSheetCsv(Workbook &book, int sheetIndex)
{
    if (!streamable(book, sheetIndex))
        return nullptr;
    // Unnamed, so that nothing is left behind: O_TMPFILE where the file
    // system has it, else made and unlinked at once.
    const QByteArray folder = QFile::encodeName(QDir::tempPath());
    auto spool = std::make_unique<CsvSpool>();
    spool->fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    spool->linkable = spool->fd >= 0;
    if (spool->fd < 0) {
        QByteArray name = folder + "/.sheetdrain-spool-XXXXXX";
        spool->fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (spool->fd < 0)
            return nullptr;
        ::unlink(name.constData());
    }
    spool->sheetIndex = sheetIndex;
    const QString none;
    const std::function<bool()> noStop;
    Target target { none, nullptr, noStop, spool->fd, &spool->usedRange, &spool->cells };
    Error error;
    if (!streamTo(book, sheetIndex, target, &error) || error)
        return nullptr;
    return spool;
}

Error writeSpooledCsv(Workbook &book, CsvSpool &spool, const QString &path, QTextCodec *codec,
                      const std::function<bool()> &stopRequested)
{
    if (!codec)
        codec = QTextCodec::codecForLocale();
    const int sheetIndex = spool.sheetIndex;
    if (Error e = checkCsvSize(book, sheetIndex, spool.usedRange, spool.cells, path))
        return e;
    CsvBlockOutput out(book, sheetIndex, path, codec, stopRequested);
    if (spool.linkable) {
        spool.linkable = false;
        struct stat st;
        bool adopted = false;
        if (::fstat(spool.fd, &st) == 0) {
            if (Error e = out.adoptSpool(spool.fd, uint64_t(st.st_size), &adopted))
                return e;
        }
        if (adopted)
            return out.commit();
    }
    if (Error e = out.open())
        return e;
    std::string &buffer = out.buffer();
    std::string rest;
    std::vector<char> chunk(kCsvBlockBytes);
    for (off_t offset = 0;;) {
        const ssize_t n = ::pread(spool.fd, chunk.data(), chunk.size(), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Error(ErrorCode::WriteFailed, QFile::encodeName(path).toStdString(),
                         std::string("cannot read the spool: ") + std::strerror(errno));
        if (n == 0)
            break;
        offset += n;
        buffer.append(chunk.data(), size_t(n));
        if (buffer.size() < kCsvBlockBytes)
            continue;
        // Blocks are encoded one by one: never cut inside a character.
        size_t cut = buffer.size();
        while (cut > 0 && (uint8_t(buffer[cut - 1]) & 0xC0) == 0x80)
            --cut;
        if (cut > 0 && uint8_t(buffer[cut - 1]) >= 0xC0)
            --cut;
        rest.assign(buffer, cut, std::string::npos);
        buffer.resize(cut);
        if (Error e = out.flush())
            return e;
        buffer.swap(rest);
    }
    if (Error e = out.flush())
        return e;
    return out.commit();
}

} // namespace sd
