#include "fakeapplication.h"

#include "automationnames.h"

#include <QSaveFile>
#include <QTextCodec>
#include <QThread>

#include <cstring>

void FakeScript::record(const QString &line)
{
    std::lock_guard<std::mutex> lock(mutex);
    log.append(line);
}

QStringList FakeScript::calls() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return log;
}

FakeWorkbook FakeScript::book(const QString &path) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return books.value(path, FakeWorkbook());
}

namespace {

QString argsText(const QVariantList &args)
{
    if (args.isEmpty())
        return {};
    QStringList parts;
    for (const QVariant &arg : args)
        parts.append(arg.toString());
    return QLatin1Char('(') + parts.join(QLatin1Char(',')) + QLatin1Char(')');
}

bool is(const char *member, const char *text)
{
    return std::strcmp(member, text) == 0;
}

// One object of the fake's model; `kind` names it in the log.
class FakeServer final : public AxServer
{
public:
    enum Kind { App, Books, Book, Sheets, Worksheet, Range, Rows, Columns, Cell, Active };

    struct Context
    {
        QString path; // workbook
        int sheet = -1; // index into FakeWorkbook::sheets
    };

    // What one application instance holds: the sheet that its last "Copy()"
    // made its active workbook. Each job of a batch has an instance of its
    // own, used on its thread only.
    struct Instance
    {
        Context copy;
    };

    FakeServer(std::shared_ptr<FakeScript> script, std::shared_ptr<Instance> instance, Kind kind,
               Context context)
        : m_script(std::move(script))
        , m_instance(std::move(instance))
        , m_kind(kind)
        , m_context(std::move(context))
    {
    }

    QVariant call(const char *member, const QVariantList &args) override
    {
        record(QString::fromLatin1(member) + argsText(args));
        if (m_kind == Cell && is(member, AxNames::kValueCall))
            return sheet().value;
        if (m_kind == Active && is(member, AxNames::kSaveAs) && args.size() == 2)
            return save(args[0].toString());
        if (m_kind == Worksheet && is(member, AxNames::kCopy))
            m_instance->copy = m_context;
        if (m_kind == App && is(member, AxNames::kQuit))
            m_instance->copy = Context();
        return {};
    }

    std::unique_ptr<AxServer> subObject(const char *member, const QVariantList &args) override
    {
        record(QString::fromLatin1(member) + argsText(args));
        switch (m_kind) {
        case App:
            if (is(member, AxNames::kWorkbooks)) {
                std::lock_guard<std::mutex> lock(m_script->mutex);
                const int n = ++m_script->workbooksQueries;
                if (m_script->workbooksMissingFrom > 0 && n >= m_script->workbooksMissingFrom)
                    return nullptr;
                return make(Books, Context());
            }
            if (is(member, AxNames::kActiveWorkbook)) {
                {
                    std::lock_guard<std::mutex> lock(m_script->mutex);
                    if (m_script->noActiveWorkbook)
                        return nullptr;
                }
                if (m_instance->copy.sheet < 0)
                    return nullptr;
                return make(Active, m_instance->copy);
            }
            return nullptr;
        case Books:
            if (is(member, AxNames::kOpen) && args.size() == 1) {
                const QString path = args[0].toString();
                const FakeWorkbook book = m_script->book(path);
                if (!book.opens) {
                    if (!book.openError.isEmpty())
                        raiseException(1, QStringLiteral("Fake"), book.openError);
                    return nullptr;
                }
                return make(Book, { path, -1 });
            }
            return nullptr;
        case Book:
            if (is(member, AxNames::kSheets))
                return make(Sheets, m_context);
            if (is(member, AxNames::kWorksheetAt) && args.size() == 1) {
                const QList<FakeSheet> sheets = m_script->book(m_context.path).sheets;
                int n = args[0].toInt();
                for (int i = 0; i < sheets.size(); ++i) {
                    if (!sheets[i].worksheet || --n != 0)
                        continue;
                    if (!sheets[i].loadError.isEmpty()) {
                        raiseException(2, QStringLiteral("Fake"), sheets[i].loadError);
                        return nullptr;
                    }
                    return make(Worksheet, { m_context.path, i });
                }
            }
            return nullptr;
        case Worksheet:
            if (is(member, AxNames::kUsedRange) && !sheet().noUsedRange)
                return make(Range, m_context);
            if (is(member, AxNames::kCells))
                return make(Cell, m_context);
            return nullptr;
        case Range:
            if (is(member, AxNames::kRows))
                return make(Rows, m_context);
            if (is(member, AxNames::kColumns))
                return make(Columns, m_context);
            return nullptr;
        default:
            return nullptr;
        }
    }

    QVariant property(const char *name) override
    {
        record(QString::fromLatin1(name));
        if (m_kind == Sheets && is(name, AxNames::kCount))
            return int(m_script->book(m_context.path).sheets.size());
        if (m_kind == Worksheet && is(name, AxNames::kName))
            return sheet().name;
        if (m_kind == Range && is(name, AxNames::kRow))
            return sheet().row;
        if (m_kind == Range && is(name, AxNames::kColumn))
            return sheet().column;
        if (m_kind == Rows && is(name, AxNames::kCount))
            return sheet().rows;
        if (m_kind == Columns && is(name, AxNames::kCount))
            return sheet().columns;
        return {};
    }

    bool setProperty(const char *name, const QVariant &value) override
    {
        record(QString::fromLatin1(name) + QLatin1Char('=') + value.toString());
        return m_kind == App && is(name, AxNames::kDisplayAlerts);
    }

private:
    static const char *kindName(Kind kind)
    {
        static const char *const names[]
            = { "app", "books", "book", "sheets", "ws", "range", "rows", "cols", "cell", "active" };
        return names[kind];
    }

    void record(const QString &what)
    {
        m_script->record(QString::fromLatin1(kindName(m_kind)) + QLatin1Char('.') + what);
    }

    std::unique_ptr<AxServer> make(Kind kind, Context context)
    {
        return std::make_unique<FakeServer>(m_script, m_instance, kind, std::move(context));
    }

    FakeSheet sheet() const
    {
        const QList<FakeSheet> sheets = m_script->book(m_context.path).sheets;
        return m_context.sheet >= 0 && m_context.sheet < sheets.size() ? sheets[m_context.sheet]
                                                                       : FakeSheet();
    }

    QVariant save(const QString &path)
    {
        int n, interruptAt, stopInsideAt, failAt;
        QByteArray codecName;
        {
            std::lock_guard<std::mutex> lock(m_script->mutex);
            n = ++m_script->saves;
            interruptAt = m_script->interruptAtSave;
            stopInsideAt = m_script->stopInsideSaveAt;
            failAt = m_script->failSaveAt;
            codecName = m_script->saveCodec;
        }
        if (n == stopInsideAt) {
            QThread::currentThread()->requestInterruption();
            raiseException(3, QStringLiteral("Fake"), QStringLiteral("stopped"));
            return {};
        }
        if (n == failAt) {
            raiseException(3, QStringLiteral("Fake"), QStringLiteral("disk full"));
            return {};
        }
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            raiseException(3, QStringLiteral("Fake"), file.errorString());
            return {};
        }
        const QString line = m_context.path + QLatin1Char('|') + sheet().name;
        QTextCodec *codec = codecName.isEmpty() ? QTextCodec::codecForName("UTF-8")
                                                : QTextCodec::codecForName(codecName);
        const QByteArray text = codec->fromUnicode(line) + "\r\n";
        if (file.write(text) != text.size()) {
            file.cancelWriting();
            file.commit();
            return {};
        }
        const bool ok = file.commit();
        if (n == interruptAt)
            QThread::currentThread()->requestInterruption();
        return ok ? QVariant(true) : QVariant();
    }

    std::shared_ptr<FakeScript> m_script;
    std::shared_ptr<Instance> m_instance;
    Kind m_kind;
    Context m_context;
};

} // namespace

void registerFakeApplication(const QString &progId, std::shared_ptr<FakeScript> script)
{
    AxRegistry::registerApplication(progId, [script]() -> std::unique_ptr<AxServer> {
        {
            std::lock_guard<std::mutex> lock(script->mutex);
            ++script->starts;
            script->log.append(QStringLiteral("start"));
        }
        return std::make_unique<FakeServer>(script, std::make_shared<FakeServer::Instance>(),
                                            FakeServer::App, FakeServer::Context());
    });
}
