#include "axobject.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>

QVariant AxServer::call(const char *, const QVariantList &)
{
    return {};
}

std::unique_ptr<AxServer> AxServer::subObject(const char *, const QVariantList &)
{
    return nullptr;
}

QVariant AxServer::property(const char *)
{
    return {};
}

bool AxServer::setProperty(const char *, const QVariant &)
{
    return false;
}

bool AxServer::takeException(AxException *exception)
{
    if (!m_raised)
        return false;
    m_raised = false;
    if (exception)
        *exception = std::move(m_exception);
    m_exception = AxException();
    return true;
}

void AxServer::joinCommitGroup(AxCommitGroup *) { }

void AxServer::raiseException(int code, const QString &source, const QString &description)
{
    m_raised = true;
    m_exception = AxException { code, source, description, QString() };
}

namespace {

struct Registry
{
    QMutex mutex;
    QHash<QString, AxApplicationFactory> factories;
    QHash<QString, AxCommitGroupFactory> commitGroups;
};

Registry &registry()
{
    static Registry instance;
    return instance;
}

QVariantList leadingValid(const QVariant &a, const QVariant &b, const QVariant &c,
                          const QVariant &d)
{
    QVariantList args;
    for (const QVariant *v : { &a, &b, &c, &d }) {
        if (!v->isValid())
            break;
        args.append(*v);
    }
    return args;
}

thread_local bool t_threadInitialised = false;

} // namespace

namespace AxRegistry {

void registerApplication(const QString &progId, AxApplicationFactory factory,
                         AxCommitGroupFactory commitGroups)
{
    Registry &r = registry();
    QMutexLocker lock(&r.mutex);
    r.factories.insert(progId, std::move(factory));
    if (commitGroups)
        r.commitGroups.insert(progId, std::move(commitGroups));
    else
        r.commitGroups.remove(progId);
}

void unregisterApplication(const QString &progId)
{
    Registry &r = registry();
    QMutexLocker lock(&r.mutex);
    r.factories.remove(progId);
    r.commitGroups.remove(progId);
}

std::unique_ptr<AxServer> createApplication(const QString &progId)
{
    AxApplicationFactory factory;
    {
        Registry &r = registry();
        QMutexLocker lock(&r.mutex);
        factory = r.factories.value(progId);
    }
    return factory ? factory() : nullptr;
}

std::unique_ptr<AxCommitGroup> createCommitGroup(const QString &progId)
{
    AxCommitGroupFactory factory;
    {
        Registry &r = registry();
        QMutexLocker lock(&r.mutex);
        factory = r.commitGroups.value(progId);
    }
    return factory ? factory() : nullptr;
}

} // namespace AxRegistry

bool AxInitializeThread()
{
    if (t_threadInitialised)
        return false;
    t_threadInitialised = true;
    return true;
}

AxObject::AxObject(QObject *parent)
    : QObject(parent)
{
}

AxObject::AxObject(std::unique_ptr<AxServer> server, QObject *parent)
    : QObject(parent)
    , m_server(std::move(server))
{
}

AxObject::~AxObject() = default;

bool AxObject::setControl(const QString &progId)
{
    if (m_server && progId == m_control)
        return true;
    m_server = AxRegistry::createApplication(progId);
    m_control = m_server ? progId : QString();
    if (m_server && m_commitGroup)
        m_server->joinCommitGroup(m_commitGroup);
    return m_server != nullptr;
}

QVariant AxObject::dynamicCall(const char *function, const QVariant &var1, const QVariant &var2,
                               const QVariant &var3, const QVariant &var4)
{
    if (!m_server || !function)
        return {};
    const QVariant result = m_server->call(function, leadingValid(var1, var2, var3, var4));
    reportException();
    return result;
}

AxObject *AxObject::querySubObject(const char *name, const QVariant &var1, const QVariant &var2,
                                   const QVariant &var3, const QVariant &var4)
{
    if (!m_server || !name)
        return nullptr;
    std::unique_ptr<AxServer> sub = m_server->subObject(name, leadingValid(var1, var2, var3, var4));
    reportException();
    if (!sub)
        return nullptr;
    return new AxObject(std::move(sub), this);
}

QVariant AxObject::property(const char *name) const
{
    if (!m_server || !name)
        return {};
    const QVariant value = m_server->property(name);
    reportException();
    return value;
}

bool AxObject::setProperty(const char *name, const QVariant &value)
{
    if (!m_server || !name)
        return false;
    const bool done = m_server->setProperty(name, value);
    reportException();
    return done;
}

void AxObject::reportException() const
{
    AxException e;
    if (m_server && m_server->takeException(&e))
        emit const_cast<AxObject *>(this)->exception(e.code, e.source, e.description, e.help);
}
