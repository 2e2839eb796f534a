#include "builtinapplication.h"

#include "automationnames.h"
#include "builtincommitgroup.h"

#include "core/csvwriter.h"
#include "core/display.h"
#include "core/model.h"
#include "crypto/passwords.h"
#include "open/openworkbook.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTextCodec>
#include <QThread>

#include <cstring>
#include <mutex>
#include <vector>

namespace {

// The passwords of setBuiltinApplicationPasswords().
std::mutex g_passwordsMutex;
sd::crypto::PasswordList g_passwords;

sd::crypto::PasswordList passwords()
{
    std::lock_guard<std::mutex> lock(g_passwordsMutex);
    return g_passwords;
}

bool is(const char *member, const char *text)
{
    return std::strcmp(member, text) == 0;
}

// The source named in the exceptions that the application raises.
const char kSource[] = "SheetDrain";

// Why a workbook did not open, a sheet did not load or a save failed, as the
// exception's description: the job reports it with the file's path, so the
// path is left out. (It is bytes in the locale's encoding; the rest is UTF-8.)
QString reasonOf(const std::string &path, sd::Error error)
{
    if (error.where == path)
        error.where.clear();
    return QString::fromStdString(error.description());
}

struct OpenBook
{
    std::unique_ptr<sd::Workbook> book;
    std::unique_ptr<sd::DisplayFormatter> formatter; // made on first use
    // The worksheet last asked for, when it could be written ahead while it
    // was read (see WorkSheets(int)): UsedRange and SaveAs answer from it.
    std::unique_ptr<sd::CsvSpool> spool;
    bool closed = false; // a copy made from it may still refer to its sheet

    sd::DisplayFormatter &display()
    {
        if (!formatter)
            formatter = std::make_unique<sd::DisplayFormatter>(*book);
        return *formatter;
    }
};

// The new workbook that "Copy()" makes: a reference to the copied sheet.
struct SheetCopy
{
    std::shared_ptr<OpenBook> source;
    int sheetIndex = -1;
};

// How much older than the application a temporary file must be to count as
// left behind by a killed run.
constexpr qint64 kStaleMarginMs = 10000;

struct AppState
{
    std::vector<std::shared_ptr<OpenBook>> open;
    std::shared_ptr<SheetCopy> active;
    bool visible = false;
    bool displayAlerts = true;
    // The batch's commit group, when it has one.
    BuiltinCommitGroup *commitGroup = nullptr;
    // When the application started, and the folders it has saved into since.
    qint64 started = QDateTime::currentMSecsSinceEpoch();
    QSet<QString> sweptFolders;

    // Before the first save into a folder: the temporary files that a killed
    // run left there go (those older than this application; a writer at work
    // elsewhere keeps its own). File times are coarse, and a writer locks its
    // file only just after making it: a run started side by side into the
    // same folder can make one that seems older than this application and is
    // not yet locked. So only files older by a margin count.
    void sweepFolderOf(const QString &path)
    {
        const QString folder = QFileInfo(path).absolutePath();
        if (sweptFolders.contains(folder))
            return;
        sweptFolders.insert(folder);
        sd::removeStaleCsvTemporaryFiles(folder, started - kStaleMarginMs);
    }

    void close(const std::shared_ptr<OpenBook> &book)
    {
        book->closed = true;
        for (auto it = open.begin(); it != open.end(); ++it) {
            if (*it == book) {
                open.erase(it);
                return;
            }
        }
    }
};

using AppPtr = std::shared_ptr<AppState>;
using BookRef = std::weak_ptr<OpenBook>;

// The workbook behind a reference while it is open.
std::shared_ptr<OpenBook> lockOpen(const BookRef &ref)
{
    std::shared_ptr<OpenBook> book = ref.lock();
    return book && !book->closed ? book : nullptr;
}

class CountServer final : public AxServer
{
public:
    explicit CountServer(int count)
        : m_count(count)
    {
    }
    QVariant property(const char *name) override
    {
        return is(name, AxNames::kCount) ? QVariant(m_count) : QVariant();
    }

private:
    int m_count;
};

class RangeServer final : public AxServer
{
public:
    explicit RangeServer(const sd::CellRange &range)
        : m_range(range)
    {
    }
    QVariant property(const char *name) override
    {
        if (is(name, AxNames::kRow))
            return int(m_range.firstRow + 1);
        if (is(name, AxNames::kColumn))
            return int(m_range.firstCol + 1);
        if (is(name, AxNames::kCount))
            return qlonglong(m_range.rows()) * qlonglong(m_range.columns());
        return {};
    }
    std::unique_ptr<AxServer> subObject(const char *member, const QVariantList &) override
    {
        if (is(member, AxNames::kRows))
            return std::make_unique<CountServer>(int(m_range.rows()));
        if (is(member, AxNames::kColumns))
            return std::make_unique<CountServer>(int(m_range.columns()));
        return nullptr;
    }

private:
    sd::CellRange m_range;
};

class CellServer final : public AxServer
{
public:
    CellServer(BookRef book, int sheetIndex, int row, int col)
        : m_book(std::move(book))
        , m_sheetIndex(sheetIndex)
        , m_row(row)
        , m_col(col)
    {
    }

    QVariant call(const char *member, const QVariantList &) override
    {
        return is(member, AxNames::kValueCall) ? value() : QVariant();
    }
    QVariant property(const char *name) override
    {
        if (is(name, AxNames::kValue))
            return value();
        if (is(name, AxNames::kText)) {
            std::shared_ptr<OpenBook> book;
            const sd::Cell *cell = find(book);
            return cell ? QString::fromStdString(book->display().text(*cell)) : QString();
        }
        return {};
    }

private:
    const sd::Cell *find(std::shared_ptr<OpenBook> &book) const
    {
        book = lockOpen(m_book);
        if (!book || m_row < 0 || m_col < 0)
            return nullptr;
        const sd::Sheet *sheet = book->book->sheet(m_sheetIndex);
        return sheet ? sheet->find(uint32_t(m_row), uint32_t(m_col)) : nullptr;
    }

    // The stored value as the application hands it out; a cell recorded with
    // a format only holds none.
    QVariant value() const
    {
        std::shared_ptr<OpenBook> book;
        const sd::Cell *cell = find(book);
        if (!cell)
            return {};
        switch (cell->type) {
        case sd::CellType::Blank:
            return {};
        case sd::CellType::Number:
            return cell->number;
        case sd::CellType::Text:
            return cell->text < book->book->strings.size()
                ? QString::fromStdString(book->book->strings[cell->text])
                : QString();
        case sd::CellType::Bool:
            return cell->number != 0;
        case sd::CellType::Error:
            return QString::fromLatin1(sd::cellErrorText(uint8_t(cell->number)));
        }
        return {};
    }

    BookRef m_book;
    int m_sheetIndex;
    int m_row;
    int m_col;
};

class WorksheetServer final : public AxServer
{
public:
    WorksheetServer(AppPtr app, BookRef book, int sheetIndex)
        : m_app(std::move(app))
        , m_book(std::move(book))
        , m_sheetIndex(sheetIndex)
    {
    }

    QVariant call(const char *member, const QVariantList &) override
    {
        if (!is(member, AxNames::kCopy))
            return {};
        std::shared_ptr<OpenBook> book = lockOpen(m_book);
        if (!book)
            return {};
        auto copy = std::make_shared<SheetCopy>();
        copy->source = std::move(book);
        copy->sheetIndex = m_sheetIndex;
        m_app->active = std::move(copy);
        return true;
    }

    std::unique_ptr<AxServer> subObject(const char *member, const QVariantList &args) override
    {
        std::shared_ptr<OpenBook> book = lockOpen(m_book);
        if (!book)
            return nullptr;
        const sd::CsvSpool *spool
            = book->spool && book->spool->sheetIndex == m_sheetIndex ? book->spool.get() : nullptr;
        const sd::Sheet *sheet = spool ? nullptr : book->book->sheet(m_sheetIndex);
        if (!spool && !sheet)
            return nullptr;
        if (is(member, AxNames::kUsedRange))
            return std::make_unique<RangeServer>(spool ? spool->usedRange : sheet->usedRange());
        if (is(member, AxNames::kCells) && args.size() == 2)
            return std::make_unique<CellServer>(m_book, m_sheetIndex, args[0].toInt() - 1,
                                                args[1].toInt() - 1);
        return nullptr;
    }

    QVariant property(const char *name) override
    {
        std::shared_ptr<OpenBook> book = lockOpen(m_book);
        if (!book || !is(name, AxNames::kName))
            return {};
        return QString::fromStdString(book->book->sheets[size_t(m_sheetIndex)].name);
    }

private:
    AppPtr m_app;
    BookRef m_book;
    int m_sheetIndex;
};

class SheetsServer final : public AxServer
{
public:
    explicit SheetsServer(BookRef book)
        : m_book(std::move(book))
    {
    }
    QVariant property(const char *name) override
    {
        std::shared_ptr<OpenBook> book = lockOpen(m_book);
        if (!book || !is(name, AxNames::kCount))
            return {};
        return int(book->book->sheets.size());
    }

private:
    BookRef m_book;
};

class WorkbookServer final : public AxServer
{
public:
    WorkbookServer(AppPtr app, std::weak_ptr<OpenBook> book)
        : m_app(std::move(app))
        , m_book(std::move(book))
    {
    }

    QVariant call(const char *member, const QVariantList &) override
    {
        if (!is(member, AxNames::kClose))
            return {};
        std::shared_ptr<OpenBook> book = lockOpen(m_book);
        if (!book)
            return {};
        m_app->close(book);
        return true;
    }

    std::unique_ptr<AxServer> subObject(const char *member, const QVariantList &args) override
    {
        std::shared_ptr<OpenBook> book = lockOpen(m_book);
        if (!book)
            return nullptr;
        if (is(member, AxNames::kSheets))
            return std::make_unique<SheetsServer>(m_book);
        if (is(member, AxNames::kWorksheetAt) && args.size() == 1) {
            // Worksheets are counted from 1 and skip chart and other sheets.
            const int index = book->book->worksheetIndex(args[0].toInt() - 1);
            if (index < 0)
                return nullptr;
            // A sheet that can be streamed is written ahead into a spool
            // while it is read, so that it is never held whole; one that
            // cannot is read whole, and its error (if any) raised, here.
            sd::Error error;
            book->spool = sd::spoolSheetCsv(*book->book, index);
            if (!book->spool && !book->book->sheet(index, &error)) {
                raiseException(int(error.code), QString::fromLatin1(kSource),
                               reasonOf(book->book->path, error));
                return nullptr;
            }
            return std::make_unique<WorksheetServer>(m_app, m_book, index);
        }
        return nullptr;
    }

    QVariant property(const char *name) override
    {
        std::shared_ptr<OpenBook> book = lockOpen(m_book);
        if (!book || !is(name, AxNames::kName))
            return {};
        return QFileInfo(QFile::decodeName(book->book->path.c_str())).fileName();
    }

private:
    AppPtr m_app;
    BookRef m_book;
};

class ActiveWorkbookServer final : public AxServer
{
public:
    ActiveWorkbookServer(AppPtr app, std::weak_ptr<SheetCopy> copy)
        : m_app(std::move(app))
        , m_copy(std::move(copy))
    {
    }

    QVariant call(const char *member, const QVariantList &args) override
    {
        std::shared_ptr<SheetCopy> copy = m_copy.lock();
        if (!copy)
            return {};
        if (is(member, AxNames::kSaveAs)) {
            if (args.size() != 2 || args[1].toInt() != AxNames::kCsvFileFormat)
                return {};
            const QString path = args[0].toString();
            if (path.isEmpty())
                return {};
            m_app->sweepFolderOf(path);
            // A stop request of the calling thread (the batch's) ends a long
            // sheet part-way.
            std::unique_ptr<sd::CsvSpool> &spool = copy->source->spool;
            const bool spooled = spool && spool->sheetIndex == copy->sheetIndex;
            const auto stop = [] { return QThread::currentThread()->isInterruptionRequested(); };
            const sd::CsvCommitGroup::Scope commitScope(
                m_app->commitGroup ? &m_app->commitGroup->engineGroup() : nullptr);
            const sd::Error error = spooled
                ? sd::writeSpooledCsv(*copy->source->book, *spool, path,
                                      QTextCodec::codecForLocale(), stop)
                : sd::writeSheetCsv(*copy->source->book, copy->sheetIndex, path,
                                    QTextCodec::codecForLocale(), stop);
            if (spooled)
                spool.reset();
            // The job saves each worksheet once: drop its cells now, so that a
            // workbook of many large sheets holds one of them at a time (it
            // is read again should anything ask for it later).
            copy->source->book->unloadSheet(copy->sheetIndex);
            if (error) {
                raiseException(int(error.code), QString::fromLatin1(kSource),
                               reasonOf(QFile::encodeName(path).toStdString(), error));
                return {};
            }
            return QVariant(true);
        }
        return {};
    }

    QVariant property(const char *name) override
    {
        std::shared_ptr<SheetCopy> copy = m_copy.lock();
        if (!copy || !is(name, AxNames::kName))
            return {};
        return QString::fromStdString(copy->source->book->sheets[size_t(copy->sheetIndex)].name);
    }

private:
    AppPtr m_app;
    std::weak_ptr<SheetCopy> m_copy;
};

class WorkbooksServer final : public AxServer
{
public:
    explicit WorkbooksServer(AppPtr app)
        : m_app(std::move(app))
    {
    }

    std::unique_ptr<AxServer> subObject(const char *member, const QVariantList &args) override
    {
        if (!is(member, AxNames::kOpen) || args.size() != 1)
            return nullptr;
        const QString path = args[0].toString();
        if (path.isEmpty())
            return nullptr;
        sd::Error error;
        std::unique_ptr<sd::Workbook> workbook
            = sd::openWorkbook(QFile::encodeName(path).toStdString(), &error, passwords());
        if (!workbook) {
            raiseException(int(error.code), QString::fromLatin1(kSource),
                           reasonOf(QFile::encodeName(path).toStdString(), error));
            return nullptr;
        }
        auto book = std::make_shared<OpenBook>();
        book->book = std::move(workbook);
        m_app->open.push_back(book);
        return std::make_unique<WorkbookServer>(m_app, book);
    }

    QVariant property(const char *name) override
    {
        return is(name, AxNames::kCount) ? QVariant(int(m_app->open.size())) : QVariant();
    }

private:
    AppPtr m_app;
};

class ApplicationServer final : public AxServer
{
public:
    ApplicationServer()
        : m_app(std::make_shared<AppState>())
    {
    }

    QVariant call(const char *member, const QVariantList &args) override
    {
        if (is(member, AxNames::kSetVisible) && args.size() == 1) {
            m_app->visible = args[0].toBool();
            return true;
        }
        if (is(member, AxNames::kQuit)) {
            m_app->active.reset();
            for (const auto &book : m_app->open)
                book->closed = true;
            m_app->open.clear();
            return true;
        }
        return {};
    }

    std::unique_ptr<AxServer> subObject(const char *member, const QVariantList &) override
    {
        if (is(member, AxNames::kWorkbooks))
            return std::make_unique<WorkbooksServer>(m_app);
        if (is(member, AxNames::kActiveWorkbook) && m_app->active)
            return std::make_unique<ActiveWorkbookServer>(m_app, m_app->active);
        return nullptr;
    }

    QVariant property(const char *name) override
    {
        if (is(name, AxNames::kDisplayAlerts))
            return m_app->displayAlerts;
        if (is(name, AxNames::kVisible))
            return m_app->visible;
        return {};
    }

    void joinCommitGroup(AxCommitGroup *group) override
    {
        m_app->commitGroup = dynamic_cast<BuiltinCommitGroup *>(group);
    }

    bool setProperty(const char *name, const QVariant &value) override
    {
        if (is(name, AxNames::kDisplayAlerts)) {
            m_app->displayAlerts = value.toBool();
            return true;
        }
        if (is(name, AxNames::kVisible)) {
            m_app->visible = value.toBool();
            return true;
        }
        return false;
    }

private:
    AppPtr m_app;
};

} // namespace

std::unique_ptr<AxServer> createBuiltinApplication()
{
    return std::make_unique<ApplicationServer>();
}

void setBuiltinApplicationPasswords(const QStringList &list)
{
    sd::crypto::PasswordList converted;
    for (const QString &password : list)
        converted.push_back(password.toStdU16String());
    std::lock_guard<std::mutex> lock(g_passwordsMutex);
    for (std::u16string &old : g_passwords)
        sd::crypto::wipe(old.data(), old.size() * sizeof(char16_t));
    g_passwords = std::move(converted);
}

void registerBuiltinApplication()
{
    AxRegistry::registerApplication(
        QString::fromLatin1(AxNames::kExcelApplication), [] { return createBuiltinApplication(); },
        [] { return std::make_unique<BuiltinCommitGroup>(); });
}
